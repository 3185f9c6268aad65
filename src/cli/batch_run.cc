#include "cli/batch_run.h"

#include <fstream>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <streambuf>

#include "console/main_form.h"
#include "console/preflight.h"
#include "console/run_driver.h"
#include "platform/console_ui.h"
#include "platform/path.h"

namespace kx8::cli {
namespace {

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
  BatchUi(platform::ConsoleUi& console, std::ostream* log, std::istream& in, bool asks)
      : console_(console), log_(log), in_(in), asks_(asks) {}

  bool Confirm(const std::string& text) override {
    bool yes = console_.Confirm(text);
    // The console prints the answer itself unless a line was read.
    if (log_ != nullptr && asks_ && !in_.fail()) {
      *log_ << (yes ? "Yes" : "No") << '\n';
      log_->flush();
    }
    return yes;
  }
  void MessageBox(const std::string& text, const std::string& caption) override { console_.MessageBox(text, caption); }
  void ShowErrorReport(const std::string& text) override { console_.ShowErrorReport(text); }
  void ProcessMessages() override { console_.ProcessMessages(); }
  void SetWindowCursor(platform::Cursor cursor) override { console_.SetWindowCursor(cursor); }
  void SetScreenCursor(platform::Cursor cursor) override { console_.SetScreenCursor(cursor); }

 private:
  platform::ConsoleUi& console_;
  std::ostream* log_;
  std::istream& in_;
  bool asks_;
};

const char* StatusLineName(console::StatusLine line) {
  switch (line) {
    case console::StatusLine::Edit1: return "Edit1";
    case console::StatusLine::Edit2: return "Edit2";
    case console::StatusLine::edtdatabase: return "edtdatabase";
  }
  return "?";
}

// A change of a check box's state, as a click on it does it.
void ClickOption(console::TMainForm& form, const std::string& name, bool checked) {
  if (form.options.Checked(name) == checked) return;
  form.options.SetChecked(name, checked);
  if (name == "CheckBox2" || name == "CheckBoxDir") form.CheckBox2Click();
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

const char* OutcomeText(console::CompanyOutcome outcome) {
  switch (outcome) {
    case console::CompanyOutcome::Done: return "upgraded";
    case console::CompanyOutcome::ExclusiveOption: return "exclusive option done";
    case console::CompanyOutcome::BackupFailed: return "skipped: its backup failed";
    case console::CompanyOutcome::NotStamped: return "not fully upgraded, version not stamped";
    case console::CompanyOutcome::Refused: return "skipped: its code cannot name a company folder";
    case console::CompanyOutcome::Stopped: return "stopped by the error that ended the run";
  }
  return "?";
}

// The closing summary of a batch run: one line per selected company that
// needs looking at. False when there is one.
bool WriteSummary(const std::vector<console::CompanyResult>& results, std::ostream& out) {
  std::size_t clean = 0;
  for (const console::CompanyResult& r : results) clean += r.Clean() ? 1 : 0;
  out << "Summary: " << results.size() << (results.size() == 1 ? " company, " : " companies, ") << clean
      << " without a message";
  if (clean == results.size()) {
    out << '\n';
    return true;
  }
  out << ", " << results.size() - clean << " to look at:\n";
  for (const console::CompanyResult& r : results) {
    if (r.Clean()) continue;
    out << "  " << r.code << ": " << OutcomeText(r.outcome);
    if (r.messages > 0) out << ", " << r.messages << (r.messages == 1 ? " message" : " messages");
    out << '\n';
  }
  return false;
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

  platform::ConfirmPolicy policy =
      command_line.yes ? platform::ConfirmPolicy::AlwaysYes : platform::ConfirmPolicy::AskOnTerminal;
  platform::ConsoleUi console(tout, terr, policy, in, interactive);
  BatchUi ui(console, log.is_open() ? &log : nullptr, in, !command_line.yes && interactive);

  console::StartupSettings settings;
  settings.root_override = command_line.root;
  settings.explain_missing_register = true;
  console::TMainForm form(ui, settings);
  form.OnStatusChanged = [&tout](console::StatusLine line, const std::string& text) {
    tout << StatusLineName(line) << ": " << text << '\n';
  };

  int result = kExitOk;
  try {
    form.FormCreate();
    if (console.ErrorReported()) return kExitRunFailed;
    form.FormShow();
    for (const auto& [name, checked] : command_line.set) ClickOption(form, name, checked);
    if (command_line.flow_table) form.options.SetText("Edit4", *command_line.flow_table);
    if (command_line.select_all) {
      for (const console::RegisterRow& row : form.RegisterRows()) form.SetSelected(row.code, true);
    } else if (!command_line.select.empty()) {
      std::vector<std::string> codes;
      if (!ResolveCodes(form, command_line.select, &codes, terr)) return kExitBadArguments;
      for (const std::string& code : codes) form.SetSelected(code, true);
    }
    if (!PreflightAllows(form, command_line.force, terr)) return kExitBadArguments;
    console::RunOutcome outcome = form.BitBtn1Click();
    if (outcome == console::RunOutcome::Failed) result = kExitRunFailed;
    if (outcome == console::RunOutcome::Refused) return kExitBadArguments;
    if (!form.RunResults().empty()) {
      if (!WriteSummary(form.RunResults(), tout)) result = kExitRunFailed;
    }
  } catch (const std::exception& e) {
    ui.ShowErrorReport(e.what());
  }
  if (console.ErrorReported()) result = kExitRunFailed;
  tout.flush();
  terr.flush();
  return result;
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
