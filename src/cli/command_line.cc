#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

#include "console/options.h"
#include "platform/path.h"

namespace kx8::cli {
namespace {

const char kProgram[] = "kx8-upgrade";

const char kDescription[] =
    "Brings the selected company databases up to the release: backup, new and wider columns, "
    "data conversions, dictionary rights and the version stamp. Without --batch it opens its "
    "window; with --batch it runs the same start-up and run without a window.";

const char kBatchFooter[] =
    "--root DIR: the folder of the register \"mcompany.KDT\" and of COMPANY\\, in place of the "
    "program's folder and of [PATH] DIR of KELPA.ini; a separator is added when DIR has none.\n\n"
    "--select CODE (any letter case, may be repeated) and --select-all tick companies as the grid "
    "does; companies selected before stay selected. --set NAME=0|1 may be repeated; the names are "
    "listed below. Questions are answered Yes with --yes; without it they are asked on the "
    "terminal, and answered No when the input is not a terminal.\n\n"
    "Batch run: the start-up, then the --set options in the order given (a change of CheckBox2 or "
    "CheckBoxDir re-selects every company from CheckBox2, a change of CheckBox5 enables the two "
    "e-Payslip choices, as clicking them in the window does), then --flow-table, then --select or "
    "--select-all, then Process. Each status line change is printed as \"Edit1: text\", "
    "\"Edit2: text\" or \"edtdatabase: text\", each message and each question with its answer on a "
    "line of its own; the error report goes to standard error as \"Error: text\".\n\n"
    "Before the question the selected companies are checked: a company table another program holds open, "
    "a missing company folder or a code that cannot name one, a dictionary that refuses the administrator "
    "log-on, a pass left interrupted, too little free disk space for the backups and the rewrites. Each "
    "problem is printed on standard error as \"Preflight: text\" and the run is not started (exit status 2) "
    "unless --force is given.\n\n"
    "A run closes with a summary line, one line for each company that needs looking at, and a table "
    "of every company with its outcome and time. On a terminal a progress line shows where the run is; "
    "--quiet leaves out the status lines.\n\n"
    "--keep-going: an error in a company's pass ends only that pass; the company stays selected and the "
    "run goes on with the next one. --report FILE.json writes what the run did with each company "
    "(docs/run-report.md); --retry-failed FILE.json selects the companies such a report names as failed, "
    "stopped, not stamped, not backed up or not reached.\n\n"
    "--jobs N (1 to 64, default 1) upgrades up to N companies at once, each pass in a process of its "
    "own; the run keeps the checks, the question, the root folder's lock and the register to itself, "
    "prints each company's output whole in company order and merges the passes' reports. Questions "
    "inside a pass are answered from --yes (No without it).\n\n"
    "Exit status: 0 the run ended normally and every selected company was upgraded without a "
    "message, or the confirmation was answered No and nothing was done; 1 an error ended the "
    "start-up or the run, or a company was skipped, left without its version stamp, or showed a "
    "message; 2 bad arguments, the checks before the run found problems (without --force), or another run "
    "is working on the same root folder.";

// Breaks text into lines of at most width characters at blanks.
std::string Wrap(const std::string& text, std::size_t width, const std::string& indent) {
  std::string out, line;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line = indent;
    }
    if (!line.empty() && line != indent) line += ' ';
    line += word;
    start = end + 1;
  }
  return out + line;
}

// The names --set accepts, page by page, with their state at start.
std::string OptionNames() {
  std::string out = "Names for --set (state at start):";
  const char* pages[] = {"Main", "Optional", "Misc"};
  for (console::Page page : {console::Page::Main, console::Page::Optional, console::Page::Misc}) {
    std::string list = std::string("  ") + pages[static_cast<int>(page)] + ":";
    for (const console::OptionControl& c : console::OptionControls()) {
      if (c.page != page || c.kind == console::ControlKind::Edit) continue;
      list += std::string(" ") + c.name + "=" + (c.checked ? "1" : "0");
    }
    out += "\n" + Wrap(list, 78, "    ");
  }
  return out;
}

std::string Footer() {
  std::string out;
  std::string text = kBatchFooter;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out += Wrap(text.substr(start, end - start), 78, "") + "\n";
    start = end + 1;
  }
  return out + "\n" + OptionNames();
}

bool ReportBadArgument(std::ostream& err, const std::string& text) {
  err << kProgram << ": " << text << "\nRun with --help for more information.\n";
  return false;
}

// "NAME=0|1" for a check box or radio button.
bool ParseSet(const std::string& arg, std::pair<std::string, bool>* out, std::ostream& err) {
  std::size_t eq = arg.find('=');
  if (eq == std::string::npos) return ReportBadArgument(err, "--set " + arg + ": expected NAME=0 or NAME=1");
  std::string name = arg.substr(0, eq);
  std::string value = arg.substr(eq + 1);
  const console::OptionControl* control = console::FindOptionControl(name);
  if (control == nullptr) {
    return ReportBadArgument(err, "--set " + arg + ": there is no check box or radio button named " + name);
  }
  if (control->kind == console::ControlKind::Edit) {
    return ReportBadArgument(err, "--set " + arg + ": " + name + " is an edit box (use --flow-table)");
  }
  if (value != "0" && value != "1") return ReportBadArgument(err, "--set " + arg + ": the state must be 0 or 1");
  *out = {name, value == "1"};
  return true;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine cl;
  std::string root, flow_table, log;
  std::vector<std::string> sets;

  CLI::App app{kDescription, kProgram};
  app.allow_extras();
  app.footer(Footer());
  app.get_formatter()->column_width(26);
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.add_flag("--batch", cl.batch, "Run without a window");
  app.add_option("--root", root, "Root folder (window and batch); see below")->type_name("DIR");
  // Options of the batch run only.
  auto repeated = [](CLI::Option* o) {
    return o->expected(1)->allow_extra_args(false)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  };
  repeated(app.add_option("--select", cl.select, "Select these companies, as ticking them in the grid")
               ->type_name("CODE[,CODE...]")
               ->delimiter(','));
  app.add_flag("--select-all", cl.select_all, "Select every company of the register");
  repeated(app.add_option("--set", sets, "Tick (1) or untick (0) a check box or radio button")
               ->type_name("NAME=0|1"));
  app.add_option("--flow-table", flow_table, "Text of Edit4, the approval-flow table")->type_name("TEXT");
  app.add_flag("--yes", cl.yes, "Answer every question Yes");
  app.add_option("--log", log, "Also append everything printed to FILE")->type_name("FILE");
  app.add_flag("--force", cl.force, "Run even when the checks before the run found problems");
  std::string report, retry_failed;
  app.add_flag("--keep-going", cl.keep_going, "An error ends only the company's pass; the run goes on");
  app.add_option("--report", report, "Write the run report to FILE (JSON)")->type_name("FILE.json");
  app.add_option("--retry-failed", retry_failed, "Select the companies a run report names as failed")
      ->type_name("FILE.json");
  app.add_flag("--quiet", cl.quiet, "Print only messages, questions and the summary");
  std::string jobs;
  app.add_option("--jobs", jobs, "Upgrade up to N companies at once (1 to 64, default 1)")->type_name("N");
  // Given by --jobs to the processes it starts; hidden from the help.
  std::string pass_of_run;
  int run_lock_fd = -1;
  app.add_option("--pass-of-run", pass_of_run)->group("");
  app.add_option("--run-lock-fd", run_lock_fd)->group("");
  const char* const batch_only[] = {"--select",     "--select-all",   "--set",   "--flow-table", "--yes",
                                    "--log",        "--force",        "--keep-going", "--report",  "--retry-failed",
                                    "--quiet",      "--jobs",         "--pass-of-run", "--run-lock-fd"};

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e, out, err);
    return ParseResult{std::nullopt, code == 0 ? kExitOk : kExitBadArguments};
  }
  const ParseResult bad{std::nullopt, kExitBadArguments};

  for (const char* option : batch_only) {
    if (!cl.batch && app.count(option) > 0) {
      ReportBadArgument(err, std::string(option) + " requires --batch");
      return bad;
    }
  }
  if (!cl.select.empty() && cl.select_all) {
    ReportBadArgument(err, "--select and --select-all exclude each other");
    return bad;
  }
  if (app.count("--retry-failed") > 0 && (!cl.select.empty() || cl.select_all)) {
    ReportBadArgument(err, "--retry-failed selects the companies itself; it excludes --select and --select-all");
    return bad;
  }
  for (const auto& [option, file] : {std::pair<const char*, const std::string*>{"--report", &report},
                                      {"--retry-failed", &retry_failed}}) {
    if (app.count(option) > 0 && file->empty()) {
      ReportBadArgument(err, std::string(option) + ": the file name is empty");
      return bad;
    }
  }
  std::vector<std::string> rest = app.remaining();
  if (cl.batch && !rest.empty()) {
    ReportBadArgument(err, "unknown argument " + rest.front());
    return bad;
  }
  cl.toolkit_args = rest;
  if (app.count("--root") > 0) {
    if (root.empty()) {
      ReportBadArgument(err, "--root: the folder is empty");
      return bad;
    }
    if (root.back() != '/' && root.back() != '\\') root += '/';
    cl.root = platform::MakeAbsolute(root);
  }
  for (const std::string& code : cl.select) {
    if (code.empty()) {
      ReportBadArgument(err, "--select: an empty company code");
      return bad;
    }
  }
  for (const std::string& s : sets) {
    std::pair<std::string, bool> parsed;
    if (!ParseSet(s, &parsed, err)) return bad;
    cl.set.push_back(parsed);
  }
  if (app.count("--jobs") > 0) {
    // Digits only: "2x" or "+2" is not a number of companies.
    const bool digits = !jobs.empty() && jobs.size() <= 3 && jobs.find_first_not_of("0123456789") == std::string::npos;
    cl.jobs = digits ? std::stoi(jobs) : 0;
    if (cl.jobs < 1 || cl.jobs > kMaxJobs) {
      ReportBadArgument(err, "--jobs " + jobs + ": the number of companies upgraded at once must be from 1 to " +
                                 std::to_string(kMaxJobs));
      return bad;
    }
  }
  if ((app.count("--pass-of-run") > 0) != (app.count("--run-lock-fd") > 0) ||
      (app.count("--pass-of-run") > 0 && (!cl.select.empty() || cl.select_all || app.count("--retry-failed") > 0 ||
                                          app.count("--jobs") > 0))) {
    ReportBadArgument(err, "--pass-of-run and --run-lock-fd are given together, by --jobs only");
    return bad;
  }
  if (app.count("--pass-of-run") > 0) {
    cl.pass_of_run = pass_of_run;
    cl.run_lock_fd = run_lock_fd;
  }
  if (app.count("--flow-table") > 0) cl.flow_table = flow_table;
  if (app.count("--log") > 0) cl.log = log;
  if (app.count("--report") > 0) cl.report = report;
  if (app.count("--retry-failed") > 0) cl.retry_failed = retry_failed;
  return ParseResult{cl, kExitOk};
}

}  // namespace kx8::cli
