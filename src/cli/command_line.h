// The command line of kx8-upgrade. Without --batch the program opens its
// window; with --batch it runs the same start-up and run without one
// (batch_run.h). Arguments the parser does not know are left for the window
// toolkit in window mode and are bad arguments in batch mode.
#ifndef KX8_CLI_COMMAND_LINE_H_
#define KX8_CLI_COMMAND_LINE_H_

#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kx8::cli {

// Exit status of the program.
enum ExitCode : int {
  kExitOk = 0,            // the run ended normally, or nothing was run
  kExitRunFailed = 1,     // an error ended the start-up or the run
  kExitBadArguments = 2,  // the command line could not be used
};

// The most companies --jobs upgrades at once.
inline constexpr int kMaxJobs = 64;

struct CommandLine {
  bool batch = false;
  // The root folder, with its trailing separator (one is added when the
  // argument has none).
  std::optional<std::string> root;
  std::vector<std::string> select;  // company codes, in the order given
  bool select_all = false;
  std::vector<std::pair<std::string, bool>> set;  // check box or radio button, state
  std::optional<std::string> flow_table;
  bool yes = false;
  std::optional<std::string> log;
  // Start the run even when the checks before it found problems.
  bool force = false;
  // An error in a company's pass ends only that pass (see StartupSettings).
  bool keep_going = false;
  std::optional<std::string> report;        // the run report to write
  std::optional<std::string> retry_failed;  // select the companies a report says to take up again
  bool quiet = false;                       // no status lines: only messages, questions and the summary
  // Companies upgraded at once, each by a process of its own (1: one after
  // the other in this process).
  int jobs = 1;
  // Set in the process --jobs starts for one company's pass: the company
  // and the open descriptor of the run's lock on the root folder. Not for
  // people: the run that starts the process passes both.
  std::optional<std::string> pass_of_run;
  int run_lock_fd = -1;
  // The program's own file, which --jobs starts once per company; set by
  // the program's main, empty where the front end runs inside another
  // program (tests).
  std::string program;
  // Window mode: arguments left for the window toolkit ("-platform", ...).
  std::vector<std::string> toolkit_args;
};

struct ParseResult {
  // Absent when the program ends at once with exit_code: after --help
  // (0) or after a bad argument was reported on the error stream (2).
  std::optional<CommandLine> command_line;
  int exit_code = kExitOk;
};

// args: the arguments without the program's name.
ParseResult ParseCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kx8::cli

#endif  // KX8_CLI_COMMAND_LINE_H_
