// The batch front end: the start-up and the run of the main window without
// a window, driven by the command line (command_line.h).
//
// Order: start-up (window creation and display), the --set options in the
// order given, each change acting like a click on the control (CheckBox2
// and CheckBoxDir re-select every company from CheckBox2, CheckBox5 enables
// the e-Payslip choices), --flow-table, --select or --select-all (each
// company ticked as in the grid), then Process.
//
// Printed on the output stream, each on its own line, in the order they
// happen: every status line change as "Edit1: text", "Edit2: text" or
// "edtdatabase: text"; every message box text (with "caption: " before it
// when it has a caption of its own); every question with its answer
// ("... [Yes/No] Yes"). The standard error report goes to the error stream
// as "Error: text". With --log everything printed on both streams is also
// appended to the log file, answers typed on the terminal included.
//
// Questions are answered Yes with --yes; otherwise they are asked on the
// terminal when the input is one, and answered No when it is not.
#ifndef KX8_CLI_BATCH_RUN_H_
#define KX8_CLI_BATCH_RUN_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace kx8::cli {

// Runs the batch front end; returns the exit status (ExitCode). An error
// shown by the standard error report during the start-up ends it with 1
// before any option is applied.
int RunBatch(const CommandLine& command_line, std::ostream& out, std::ostream& err, std::istream& in,
             bool interactive);

// The file of the running program (for --jobs); empty when it cannot be
// found.
std::string OwnProgramFile();

// Parses args (without the program's name) and runs the batch front end.
// For command lines with --batch; without it the result is 2 with a
// message, since there is no window to open here.
int BatchMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream& in,
              bool interactive);

}  // namespace kx8::cli

#endif  // KX8_CLI_BATCH_RUN_H_
