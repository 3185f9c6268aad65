#include "cli/batch_run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <iostream>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <streambuf>

#include "cli/batch_summary.h"
#include "cli/parallel_passes.h"
#include "cli/progress_line.h"
#include "cli/run_report.h"
#include "console/main_form.h"
#include "console/preflight.h"
#include "console/run_driver.h"
#include "platform/console_ui.h"
#include "platform/locale_info.h"
#include "platform/path.h"

namespace kx8::cli {
namespace {

// The exclusive option whose pass writes a table every company shares.
const char kSharedTableOption[] = "CheckBoxSupvr1";

// Writes everything to a stream and, when there is one, to the log.
class TeeBuf : public std::streambuf {
 public:
  TeeBuf(std::streambuf* first, std::streambuf* log) : first_(first), log_(log) {}

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    char c = traits_type::to_char_type(ch);
    first_->sputc(c);
    if (log_ != nullptr) log_->sputc(c);
    return ch;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    first_->sputn(s, n);
    if (log_ != nullptr) log_->sputn(s, n);
    return n;
  }
  int sync() override {
    int result = first_->pubsync();
    if (log_ != nullptr && log_->pubsync() != 0) result = -1;
    return result;
  }

 private:
  std::streambuf* first_;
  std::streambuf* log_;
};

// The console services, and the answers a person types on the terminal
// written to the log (the terminal shows them by its echo, the log would
// not have them otherwise).
class BatchUi : public platform::UiServices {
 public:
  BatchUi(platform::ConsoleUi& console, std::ostream* log, std::istream& in, bool asks, ProgressLine& progress)
      : console_(console), log_(log), in_(in), asks_(asks), progress_(progress) {}

  bool Confirm(const std::string& text) override {
    progress_.Clear();
    bool yes = console_.Confirm(text);
    // The console prints the answer itself unless a line was read.
    if (log_ != nullptr && asks_ && !in_.fail()) {
      *log_ << (yes ? "Yes" : "No") << '\n';
      log_->flush();
    }
    return yes;
  }
  void MessageBox(const std::string& text, const std::string& caption) override {
    progress_.Clear();
    console_.MessageBox(text, caption);
  }
  void ShowErrorReport(const std::string& text) override {
    progress_.Clear();
    console_.ShowErrorReport(text);
  }
  void ProcessMessages() override { console_.ProcessMessages(); }
  void SetWindowCursor(platform::Cursor cursor) override { console_.SetWindowCursor(cursor); }
  void SetScreenCursor(platform::Cursor cursor) override { console_.SetScreenCursor(cursor); }

 private:
  platform::ConsoleUi& console_;
  std::ostream* log_;
  std::istream& in_;
  bool asks_;
  ProgressLine& progress_;
};

const char* StatusLineName(console::StatusLine line) {
  switch (line) {
    case console::StatusLine::Edit1: return "Edit1";
    case console::StatusLine::Edit2: return "Edit2";
    case console::StatusLine::edtdatabase: return "edtdatabase";
  }
  return "?";
}

// A change of a check box's state, as a click on it does it. The process
// of one company's pass for a run leaves the register's selection to the
// run.
void ClickOption(console::TMainForm& form, const std::string& name, bool checked) {
  if (form.options.Checked(name) == checked) return;
  form.options.SetChecked(name, checked);
  const bool selects = name == "CheckBox2" || name == "CheckBoxDir";
  if (selects && !form.Settings().pass_of_run) form.CheckBox2Click();
  if (name == "CheckBox5") form.CheckBox5Click();
}

// The register codes for --select, in the order given; false after
// reporting a code that is not registered.
bool ResolveCodes(console::TMainForm& form, const std::vector<std::string>& wanted, std::vector<std::string>* codes,
                  std::ostream& err) {
  std::vector<console::RegisterRow> rows = form.RegisterRows();
  for (const std::string& code : wanted) {
    if (!console::CodeNamesACompanyFolder(code)) {
      err << "kx8-upgrade: --select: company code " << code << " cannot name a company folder\n";
      return false;
    }
    const console::RegisterRow* found = nullptr;
    for (const console::RegisterRow& row : rows) {
      if (row.code == code) {
        found = &row;
        break;
      }
      if (found == nullptr && platform::SameNameIgnoreCase(row.code, code)) found = &row;
    }
    if (found == nullptr) {
      err << "kx8-upgrade: --select: there is no company " << code << " in the register\n";
      return false;
    }
    codes->push_back(found->code);
  }
  return true;
}

// The run report of --report: written before the run (so that a file
// that cannot be written stops it before any company is touched), after
// each company and at the end. A write that fails during the run is
// reported when the run is over; the run itself is not cut short by it.
class ReportFile {
 public:
  explicit ReportFile(std::optional<std::string> path) : path_(std::move(path)) {
    header_.started = console::WallClock::now();
  }
  bool Wanted() const { return path_.has_value(); }
  // Raises when the file cannot be written.
  void Start(const std::string& root) {
    header_.root = root;
    WriteReport(*path_, ReportJson(header_, {}));
  }
  void CompanyEnded(const std::vector<Json>& companies) { Write(companies); }
  void Finish(const std::string& run, std::vector<Json> companies, const std::vector<std::string>& not_reached,
              const std::vector<std::string>& options) {
    header_.ended = console::WallClock::now();
    header_.run = run;
    header_.options = options;
    for (const std::string& code : not_reached) companies.push_back(UnreachedCompanyJson(code));
    Write(companies);
  }
  // The first write that failed, if any.
  const std::string& Failure() const { return failure_; }

 private:
  void Write(const std::vector<Json>& companies) {
    try {
      WriteReport(*path_, ReportJson(header_, companies));
    } catch (const std::exception& e) {
      if (failure_.empty()) failure_ = e.what();
    }
  }

  std::optional<std::string> path_;
  ReportHeader header_;
  std::string failure_;
};

// The records of the companies a run reached: from the passes' own run
// reports when they ran in processes of their own, else from this process.
std::vector<Json> CompanyRecords(const console::TMainForm& form, const ParallelPasses* passes) {
  std::vector<Json> companies;
  if (passes != nullptr && !passes->Parts().empty()) {
    const Json merged = MergeReports(passes->Parts());
    for (const Json& company : merged["companies"]) companies.push_back(company);
    return companies;
  }
  for (const console::CompanyResult& r : form.RunResults()) companies.push_back(CompanyJson(r));
  return companies;
}

const char* RunName(console::RunOutcome outcome) {
  switch (outcome) {
    case console::RunOutcome::Declined: return "declined";
    case console::RunOutcome::Refused: return "refused";
    case console::RunOutcome::Completed: return "completed";
    case console::RunOutcome::Failed: return "failed";
  }
  return "failed";
}

std::vector<std::string> SelectedCodes(console::TMainForm& form) {
  std::vector<std::string> codes;
  for (const console::RegisterRow& row : form.RegisterRows()) {
    if (row.merge == "1") codes.push_back(row.code);
  }
  return codes;
}

// The check boxes and radio buttons ticked for the run.
std::vector<std::string> TickedOptions(console::TMainForm& form) {
  std::vector<std::string> names;
  for (const console::OptionControl& c : console::OptionControls()) {
    if (c.kind != console::ControlKind::Edit && form.options.Checked(c.name)) names.push_back(c.name);
  }
  return names;
}

// The checks before the run, on the selected companies. Problems are
// printed; false when the run must not start.
bool PreflightAllows(console::TMainForm& form, bool force, std::ostream& err) {
  std::vector<std::string> selected;
  for (const console::RegisterRow& row : form.RegisterRows()) {
    if (row.merge == "1") selected.push_back(row.code);
  }
  if (selected.empty()) return true;
  console::PreflightOptions options;
  options.backup = form.options.Checked("CheckBoxbackup");
  options.dictionary_setting_yes = form.DictionarySetting() == "YES";
  console::PreflightResult checked = console::Preflight(form.RootFolder(), selected, options);
  for (const std::string& problem : checked.problems) err << "Preflight: " << problem << '\n';
  if (checked.problems.empty() || force) return true;
  err << "kx8-upgrade: the run was not started: " << checked.problems.size()
      << (checked.problems.size() == 1 ? " problem" : " problems") << " found before it (--force starts it anyway)\n";
  return false;
}

}  // namespace

int RunBatch(const CommandLine& command_line, std::ostream& out, std::ostream& err, std::istream& in,
             bool interactive) {
  platform::TakeTimeZoneOnce();
  std::ofstream log;
  if (command_line.log) {
    log.open(*command_line.log, std::ios::out | std::ios::app);
    if (!log) {
      err << "kx8-upgrade: --log: cannot open " << *command_line.log << " for appending\n";
      return kExitBadArguments;
    }
  }
  std::streambuf* log_buf = log.is_open() ? log.rdbuf() : nullptr;
  TeeBuf out_buf(out.rdbuf(), log_buf);
  TeeBuf err_buf(err.rdbuf(), log_buf);
  std::ostream tout(&out_buf);
  std::ostream terr(&err_buf);

  // --retry-failed: the companies to take up again, known before anything runs.
  std::vector<std::string> retry;
  if (command_line.retry_failed) {
    try {
      retry = CompaniesToRetry(ReadReport(*command_line.retry_failed));
    } catch (const std::exception& e) {
      terr << "kx8-upgrade: --retry-failed: " << e.what() << '\n';
      return kExitBadArguments;
    }
    if (retry.empty()) {
      tout << "The run report " << *command_line.retry_failed
           << " names no company to take up again; nothing was run.\n";
      return kExitOk;
    }
  }
  ReportFile report(command_line.report);
  if (report.Wanted()) {
    try {
      report.Start(command_line.root.value_or(""));
    } catch (const std::exception& e) {
      terr << "kx8-upgrade: --report: " << e.what() << '\n';
      return kExitBadArguments;
    }
  }

  // The progress line goes to the terminal only, never to the log.
  ProgressLine progress(out, &out == &std::cout && ::isatty(STDOUT_FILENO) == 1);
  platform::ConfirmPolicy policy =
      command_line.yes ? platform::ConfirmPolicy::AlwaysYes : platform::ConfirmPolicy::AskOnTerminal;
  platform::ConsoleUi console(tout, terr, policy, in, interactive);
  BatchUi ui(console, log.is_open() ? &log : nullptr, in, !command_line.yes && interactive, progress);

  console::StartupSettings settings;
  settings.root_override = command_line.root;
  settings.explain_missing_register = true;
  settings.keep_going = command_line.keep_going;
  if (command_line.pass_of_run) settings.pass_of_run = console::PassOfRun{*command_line.pass_of_run, command_line.run_lock_fd};
  std::optional<ParallelPasses> passes;
  if (command_line.jobs > 1) {
    if (command_line.program.empty()) {
      terr << "kx8-upgrade: --jobs: the program's own file is not known here, so no pass can be started\n";
      return kExitBadArguments;
    }
    passes.emplace(command_line.program, PassArguments(command_line), command_line.jobs, command_line.keep_going, tout,
                   terr, progress, ui);
    settings.pass_runner = &*passes;
  }
  console::TMainForm form(ui, settings);
  if (passes) {
    passes->OnPassPrinted = [&] {
      if (report.Wanted()) report.CompanyEnded(CompanyRecords(form, &*passes));
    };
  }
  form.OnStatusChanged = [&tout, &progress, quiet = command_line.quiet](console::StatusLine line,
                                                                        const std::string& text) {
    if (quiet) return;
    progress.Clear();
    tout << StatusLineName(line) << ": " << text << '\n';
  };
  form.OnProgress = [&](const console::RunProgress& place) {
    progress.Update(place);
    if (place.what == console::RunProgress::What::CompanyEnded && report.Wanted()) {
      report.CompanyEnded(CompanyRecords(form, nullptr));
    }
  };

  int result = kExitOk;
  try {
    form.FormCreate();
    if (console.ErrorReported()) return kExitRunFailed;
    form.FormShow();
    for (const auto& [name, checked] : command_line.set) ClickOption(form, name, checked);
    if (command_line.flow_table) form.options.SetText("Edit4", *command_line.flow_table);
    if (passes && passes->Jobs() > 1 && form.options.Checked(kSharedTableOption)) {
      // Every company's pass writes the one supervisor table of the shared
      // folder; they take turns.
      passes->SetJobs(1);
      terr << "kx8-upgrade: --jobs: with " << kSharedTableOption
           << " every company writes the supervisor table they share; the companies are upgraded one at a time\n";
    }
    if (command_line.select_all) {
      for (const console::RegisterRow& row : form.RegisterRows()) form.SetSelected(row.code, true);
    } else if (!command_line.select.empty() || !retry.empty()) {
      std::vector<std::string> codes;
      const std::vector<std::string>& wanted = retry.empty() ? command_line.select : retry;
      if (!ResolveCodes(form, wanted, &codes, terr)) return kExitBadArguments;
      for (const std::string& code : codes) form.SetSelected(code, true);
    }
    // The run that starts a pass has made its checks.
    if (!command_line.pass_of_run && !PreflightAllows(form, command_line.force, terr)) {
      if (report.Wanted()) report.Finish("not-started", {}, {}, TickedOptions(form));
      return kExitBadArguments;
    }
    const std::vector<std::string> selected =
        command_line.pass_of_run ? std::vector<std::string>{*command_line.pass_of_run} : SelectedCodes(form);
    const auto run_start = std::chrono::steady_clock::now();
    console::RunOutcome outcome = form.BitBtn1Click();
    const double run_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - run_start).count();
    progress.Clear();
    std::vector<std::string> not_reached;
    if (outcome == console::RunOutcome::Failed) {
      for (const std::string& code : selected) {
        const auto& results = form.RunResults();
        if (std::none_of(results.begin(), results.end(), [&](const auto& r) { return r.code == code; })) {
          not_reached.push_back(code);
        }
      }
    }
    if (report.Wanted()) {
      report.Finish(RunName(outcome), CompanyRecords(form, passes ? &*passes : nullptr), not_reached,
                    TickedOptions(form));
    }
    if (outcome == console::RunOutcome::Failed) result = kExitRunFailed;
    if (outcome == console::RunOutcome::Refused) return kExitBadArguments;
    // The run that started a pass closes with the summary of all of them.
    if (!form.RunResults().empty() && !command_line.pass_of_run) {
      if (!WriteSummary(form.RunResults(), tout)) result = kExitRunFailed;
      WriteSummaryTable(form.RunResults(), not_reached, run_seconds, tout);
    }
  } catch (const std::exception& e) {
    ui.ShowErrorReport(e.what());
  }
  if (!report.Failure().empty()) ui.ShowErrorReport(report.Failure());
  if (console.ErrorReported()) result = kExitRunFailed;
  tout.flush();
  terr.flush();
  return result;
}

std::string OwnProgramFile() {
  std::error_code ec;
  std::filesystem::path file = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : file.string();
}

int BatchMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, std::istream& in,
              bool interactive) {
  ParseResult parsed = ParseCommandLine(args, out, err);
  if (!parsed.command_line) return parsed.exit_code;
  if (!parsed.command_line->batch) {
    err << "kx8-upgrade: there is no window here; use --batch\n";
    return kExitBadArguments;
  }
  return RunBatch(*parsed.command_line, out, err, in, interactive);
}

}  // namespace kx8::cli
