// The main window as a plain object: the components the run shares, the
// run options, the status lines and the start-up of the program. The Qt
// window and the batch front end both drive this object; everything a
// person sees or answers goes through the UI services it is given.
#ifndef KX8_CONSOLE_MAIN_FORM_H_
#define KX8_CONSOLE_MAIN_FORM_H_

#include <functional>
#include <optional>
#include <vector>
#include <string>

#include "console/company_record.h"
#include "console/options.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_query.h"
#include "dbaccess/db_table.h"
#include "platform/ui_services.h"
#include "platform/zip_archive.h"
#include "schema/context.h"

namespace kx8::console {

enum class StatusLine { Edit1, Edit2, edtdatabase };

// One row of the company register as the grid shows it.
struct RegisterRow {
  std::string code, name, merge;
};

// Declined: the user answered No. Refused: another run holds the root
// folder, nothing was done. Completed and Failed as for Process below.
enum class RunOutcome { Declined, Refused, Completed, Failed };

// What a run did with one selected company.
enum class CompanyOutcome {
  Done,            // the whole pass ran and the release version was stamped
  ExclusiveOption, // an exclusive option's work was the company's whole pass
  BackupFailed,    // no usable backup: the company was not touched
  NotStamped,      // the pass ran, but its tables do not have the release's columns
  Refused,         // its code cannot name a company folder
  Stopped,         // an error ended the run during its pass
  Failed,          // an error ended its pass and the run went on (keep going)
};

struct CompanyResult {
  std::string code;
  CompanyOutcome outcome = CompanyOutcome::Stopped;
  int messages = 0;                      // message boxes shown during its pass
  std::vector<std::string> differences;  // from the release's column check, when not stamped
  CompanyRecord record;
  // Nothing for an administrator to look at: the pass did its work
  // without a message.
  bool Clean() const {
    return (outcome == CompanyOutcome::Done || outcome == CompanyOutcome::ExclusiveOption) && messages == 0;
  }
};

// Passes UI calls through and counts the message boxes and error reports,
// so that the run can tell which companies showed one; while a company's
// pass runs, also writes every dialog into its record.
class CountingUi : public platform::UiServices {
 public:
  explicit CountingUi(platform::UiServices& inner) : inner_(inner) {}
  int Shown() const { return shown_; }
  // Where dialogs are written from now on (null: nowhere).
  void RecordInto(std::vector<Dialog>* dialogs) { dialogs_ = dialogs; }
  bool Confirm(const std::string& text) override {
    bool yes = inner_.Confirm(text);
    Record(Dialog::Kind::Question, text, "", yes);
    return yes;
  }
  void MessageBox(const std::string& text, const std::string& caption) override {
    ++shown_;
    Record(Dialog::Kind::Message, text, caption, false);
    inner_.MessageBox(text, caption);
  }
  void ShowErrorReport(const std::string& text) override {
    ++shown_;
    Record(Dialog::Kind::Error, text, "", false);
    inner_.ShowErrorReport(text);
  }
  void ProcessMessages() override { inner_.ProcessMessages(); }
  void SetWindowCursor(platform::Cursor cursor) override { inner_.SetWindowCursor(cursor); }
  void SetScreenCursor(platform::Cursor cursor) override { inner_.SetScreenCursor(cursor); }

 private:
  void Record(Dialog::Kind kind, const std::string& text, const std::string& caption, bool answer) {
    if (dialogs_ != nullptr) dialogs_->push_back(Dialog{kind, text, caption, answer});
  }

  platform::UiServices& inner_;
  int shown_ = 0;
  std::vector<Dialog>* dialogs_ = nullptr;
};

// Runs the company passes of a run in other processes, several at a time
// (the batch front end's --jobs), while the run itself keeps the
// confirmation, the preparation, the root folder's lock and the end of the
// run, and with them every write to the register.
class CompanyPassRunner {
 public:
  virtual ~CompanyPassRunner() = default;
  // Runs the passes of codes (the selected companies in register order);
  // root_lock_fd is the run's lock on the root folder, for the processes to
  // share. Returns what each pass that was started did, in the order of
  // codes. A pass stopped by an error (CompanyOutcome::Stopped) lets no
  // further pass start; the ones running finish.
  virtual std::vector<CompanyResult> RunPasses(const std::vector<std::string>& codes, int root_lock_fd) = 0;
};

// The one company whose pass this process runs for a run that another
// process leads (see CompanyPassRunner): that process asked the question,
// prepared the run and holds the root folder's lock, passed down as
// lock_fd; this one runs the company's pass alone and leaves the register
// unchanged.
struct PassOfRun {
  std::string code;
  int lock_fd = -1;
};

struct StartupSettings {
  // A root folder given on the command line; it takes the place of the
  // program's folder and of [PATH] DIR of "KELPA.ini".
  std::optional<std::string> root_override;
  // Say plainly that the register file is missing before offering to
  // create it (the batch front end: its reader has no window to look at).
  bool explain_missing_register = false;
  // An error in a company's pass ends only that pass: it is reported, the
  // company stays selected and the run goes on with the next company
  // (batch --keep-going). Otherwise the error ends the run.
  bool keep_going = false;
  // Where the company passes of a run go (null: here, one after the other).
  CompanyPassRunner* pass_runner = nullptr;
  // Set in a process started by a CompanyPassRunner.
  std::optional<PassOfRun> pass_of_run;
};

class TMainForm : public dbaccess::TComponent {
 public:
  static constexpr const char* kApplicationTitle = "KX8 MTN VER 8.90 17/09/2009";

  TMainForm(platform::UiServices& ui, StartupSettings settings = {});
  ~TMainForm() override;

  // The start-up sequence (window creation) and the window being shown.
  void FormCreate();
  void FormShow();
  // Select all: every register row's MERGE from the state of CheckBox2.
  void CheckBox2Click();
  // Adds register rows for company folders that are not registered yet.
  void RetrieveCompanyCodes(const std::string& root);
  // Clicking CheckBox5 enables or disables the e-Payslip radio buttons.
  void CheckBox5Click();

  // Process (BitBtn1): the upgrade run. Declined when the user answers No;
  // Failed when an error ended it (shown by the standard error report; the
  // window stays locked); Completed when every selected company was done
  // and the window was closed.
  RunOutcome BitBtn1Click();

  // Status lines, written whole; the front end is told of every change.
  void SetStatus(StatusLine line, const std::string& text);
  void SetEdit1(const std::string& text) { SetStatus(StatusLine::Edit1, text); }
  void SetEdit2(const std::string& text) { SetStatus(StatusLine::Edit2, text); }
  void SetEdtDatabase(const std::string& text) { SetStatus(StatusLine::edtdatabase, text); }
  std::function<void(StatusLine, const std::string&)> OnStatusChanged;
  // Told where a run is: each company's start and end, each step, each
  // column entry of the catalogue.
  std::function<void(const RunProgress&)> OnProgress;

  // The lock of the window during a run.
  bool ProcessEnabled() const { return process_enabled_; }
  bool GridEnabled() const { return grid_enabled_; }
  // The option pages and their page control: locked with the rest, since
  // the run reads options when it reaches them and select-all walks the
  // register the run walks.
  bool OptionsEnabled() const { return options_enabled_; }
  // Process is working (from the confirmation to its return).
  bool Running() const { return running_; }
  std::function<void()> OnLockChanged;
  // Closing the main window ends the program.
  void Close();
  bool Closed() const { return closed_; }
  std::function<void()> OnClose;

  // The components and services the schema steps and conversions work on.
  schema::UpgradeContext Context();

  // The register as the grid shows it, in COMPANY_CODE order, and the grid's
  // "Selected" check box: ticked stores "1", unticked an empty string.
  std::vector<RegisterRow> RegisterRows();
  void SetSelected(const std::string& code, bool selected);

  platform::UiServices& ui() { return ui_; }
  const StartupSettings& Settings() const { return settings_; }
  // What the last run did with each selected company, in register order.
  const std::vector<CompanyResult>& RunResults() const { return run_results_; }
  const std::string& RootFolder() const { return root_folder_; }
  const std::string& ProgramFolder() const { return program_folder_; }
  const std::string& DictionarySetting() const { return dictionary_setting_; }
  const std::string& UpdateArchiveName() const { return update_archive_name_; }

  // Components, under their designer names.
  dbaccess::TDbDictionary DbDictionary1;
  dbaccess::TDbConnection DbConnection2;
  dbaccess::TDbConnection DbConnection1;
  dbaccess::TDbConnection DbConnectionSetup;
  dbaccess::TDbConnection DbConnTmpl;
  dbaccess::TDbConnection DbConnectionSup;
  dbaccess::TDbTable DbTableCompany;
  dbaccess::TDbTable TableCompany;
  dbaccess::TDbTable DbTable1;
  dbaccess::TDbTable TablePAybank;
  dbaccess::TDbTable TableRtable;  // the report field catalogue RTABLE
  dbaccess::TDbQuery DbQuery1;
  dbaccess::TDbQuery DbQuery3;
  dbaccess::TDbQuery DbQuerySQL;
  dbaccess::TDbQuery DbQueryDEL;
  dbaccess::TDbQuery DbQueryIndex;
  platform::TZipArchive ZipArchive1;

  RunOptions options;
  // Status lines, caption and server label.
  std::string Edit1, Edit2, edtdatabase;
  std::string Caption, LabelServerInfo;

 private:
  std::string ReadConfiguration();
  void OfferRegisterCreation();

  CountingUi ui_;
  StartupSettings settings_;
  std::vector<CompanyResult> run_results_;
  // Where the column changes of the current company's pass go (null: nowhere).
  std::vector<schema::ColumnChange>* column_changes_ = nullptr;
  // Where the row counts of the current company's steps go (empty: nowhere).
  std::function<void(const std::string& table, std::int64_t rows)> rows_changed_;
  // What the column upgrade primitive learnt of the tables' fields, for the
  // entries that follow (schema/table_shapes.h).
  schema::TableShapes table_shapes_;
  std::string root_folder_;
  std::string program_folder_;
  std::string dictionary_setting_;
  std::string update_archive_name_;
  bool process_enabled_ = true;
  bool grid_enabled_ = true;
  bool options_enabled_ = true;
  bool running_ = false;
  bool closed_ = false;

  friend class RunDriver;
  void SetLocked(bool locked);
};

}  // namespace kx8::console

#endif  // KX8_CONSOLE_MAIN_FORM_H_
