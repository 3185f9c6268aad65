#include "console/run_driver.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "console/housekeeping.h"
#include "console/pass_marker.h"
#include "console/restore.h"
#include "conversions/bank_codes.h"
#include "conversions/career_records.h"
#include "conversions/claim_setup.h"
#include "conversions/column_removal.h"
#include "conversions/employee_identity.h"
#include "conversions/employee_pass.h"
#include "conversions/epayslip_reset.h"
#include "conversions/fill_ins.h"
#include "conversions/index_repair.h"
#include "conversions/levy_rollforward.h"
#include "conversions/levy_table.h"
#include "conversions/occupation_codes.h"
#include "conversions/photographs.h"
#include "conversions/pre860_steps.h"
#include "conversions/record_numbers.h"
#include "conversions/release_version.h"
#include "conversions/report_adjustments.h"
#include "conversions/supervisor_table.h"
#include "conversions/template_refresh.h"
#include "conversions/time_clock_procedure.h"
#include "conversions/voluntary_schemes.h"
#include "platform/durable_file.h"
#include "platform/file_system.h"
#include "schema/detach_record.h"
#include "schema/dictionary_rights.h"
#include "schema/release_check.h"
#include "schema/report_fields.h"
#include "platform/path.h"
#include "support/credentials.h"

namespace kx8::console {
namespace {

const char kProceedQuestion[] = "Do you wish to proceed this function ?";
const char kConnectFailed[] = "DbConnection1 ";
const char kLeaveForfeitSql[] = "UPDATE EMPENT SET CURRENT=0";
const char kCodeCannotNameAFolder[] = " cannot name a company folder; the company was not updated.";
const char kRootLockFile[] = "kx8-upgrade.lock";
const char kRootInUse[] = "Another upgrade run is working on ";
const char kRootInUseEnd[] = "; this run was not started.";
const char kNotStartedByRun[] = " was not started by the run working on ";
const char kNothingDone[] = "; nothing was done.";
// The column differences a "not fully upgraded" message lists.
const std::size_t kDifferencesShown = 5;

// Marks the run as working from the confirmation to its return.
struct RunningFlag {
  bool& flag;
  explicit RunningFlag(bool& f) : flag(f) { flag = true; }
  ~RunningFlag() { flag = false; }
};

// An error that ends the run with a text of the driver's own.
class RunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

RunOutcome TMainForm::BitBtn1Click() { return RunDriver(*this).Process(); }

namespace {
bool g_column_runs_defer_rewrites = true;
}  // namespace

void SetColumnRunsDeferRewrites(bool deferred) { g_column_runs_defer_rewrites = deferred; }

void RunDriver::ApplyDeferredRewrites() {
  if (rewrite_deferral_) rewrite_deferral_->Apply();
}

void RunDriver::WithoutDeferredRewrites(const std::function<void()>& body) {
  if (!rewrite_deferral_) {
    body();
    return;
  }
  rewrite_deferral_->End();
  rewrite_deferral_.reset();
  try {
    body();
  } catch (...) {
    rewrite_deferral_.emplace();  // the enclosing stretch ends it, or goes on deferring
    throw;
  }
  rewrite_deferral_.emplace();
}

void RunDriver::WithDeferredRewrites(const std::function<void()>& body) {
  if (!g_column_runs_defer_rewrites || rewrite_deferral_) {
    body();
    return;
  }
  // A catalogue entry changes one column: a table that several entries
  // and steps change (and a free table decrypted and encrypted around each
  // of them) is written once, when its rows are next used, before a step
  // that works on table files other than through the engine, or at the end.
  struct Scope {
    std::optional<dbaccess::TDbRewriteDeferral>& d;
    ~Scope() { d.reset(); }  // on the way out of an error; End() has run otherwise
  } scope{rewrite_deferral_};
  rewrite_deferral_.emplace();
  body();
  rewrite_deferral_->End();
}

void RunDriver::Step(const char* name, const std::function<void()>& body) {
  trace_.push_back(current_code_.empty() ? std::string(name) : current_code_ + ":" + name);
  if (record_ == nullptr) {
    body();
    return;
  }
  Progress(RunProgress::What::Step, name);
  // The step's time is kept also when it fails: the report shows how far
  // the pass got and how long the failing step ran.
  const std::size_t at = record_->steps.size();
  const auto start = std::chrono::steady_clock::now();
  record_->steps.push_back(StepTime{name, step_depth_, Seconds(pass_start_, start), 0});
  struct Timer {
    RunDriver& d;
    std::size_t at;
    std::chrono::steady_clock::time_point start;
    std::string outer_step;
    ~Timer() {
      --d.step_depth_;
      d.current_step_ = std::move(outer_step);
      if (d.record_ != nullptr) d.record_->steps[at].seconds = Seconds(start, std::chrono::steady_clock::now());
    }
  } timer{*this, at, start, current_step_};
  ++step_depth_;
  current_step_ = name;
  body();
}

double RunDriver::Seconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

void RunDriver::Progress(RunProgress::What what, const std::string& detail) {
  if (!f_.OnProgress) return;
  f_.OnProgress(RunProgress{what, company_number_, company_count_, current_code_, detail});
}

void RunDriver::GuardedStep(const char* name, const std::function<void()>& body) {
  try {
    Step(name, body);
  } catch (const std::exception& e) {
    f_.ui().MessageBox(e.what(), "");
  }
}

std::string RunDriver::CompanyCode() { return f_.DbTableCompany.FieldByName("COMPANY_CODE").AsString(); }

RunOutcome RunDriver::Process() {
  if (f_.settings_.pass_of_run) return ProcessPassOfRun();
  if (!f_.ui().Confirm(kProceedQuestion)) return RunOutcome::Declined;
  // One run per root folder: a second one would change the same companies
  // at the same time. The lock ends with the run or with the process.
  platform::FolderLock root_lock;
  if (!root_lock.TryAcquire(f_.RootFolder() + kRootLockFile)) {
    f_.ui().MessageBox(std::string(kRootInUse) + f_.RootFolder() + kRootInUseEnd, "");
    return RunOutcome::Refused;
  }
  f_.run_results_.clear();
  RunningFlag running(f_.running_);
  try {
    Prepare();
    company_count_ = CountSelected();
    if (f_.settings_.pass_runner != nullptr) {
      if (!PassesElsewhere(root_lock.Descriptor())) return RunOutcome::Failed;
    } else {
      for (; !f_.DbTableCompany.Eof(); f_.DbTableCompany.Next()) {
        if (f_.DbTableCompany.FieldByName("MERGE").AsString() == "1") RunCompany();
      }
    }
    FinishRun();
  } catch (const std::exception& e) {
    return EndedByError(e);
  }
  return RunOutcome::Completed;
}

// The leading process asked the question, prepared the run and ends it;
// this one runs its company's pass under the leader's lock on the root
// folder and writes nothing to the register.
RunOutcome RunDriver::ProcessPassOfRun() {
  const PassOfRun& pass = *f_.settings_.pass_of_run;
  platform::FolderLock root_lock;
  if (!root_lock.Adopt(pass.lock_fd, f_.RootFolder() + kRootLockFile)) {
    f_.ui().MessageBox("The pass of company " + pass.code + kNotStartedByRun + f_.RootFolder() + kNothingDone, "");
    return RunOutcome::Refused;
  }
  f_.run_results_.clear();
  RunningFlag running(f_.running_);
  try {
    OpenRunConnections();
    company_count_ = 1;
    f_.Context().SeekCompany(pass.code);
    RunCompany();
    f_.DbConnection2.SetIsConnected(false);
    f_.DbConnection1.SetIsConnected(false);
    f_.SetLocked(false);
  } catch (const std::exception& e) {
    return EndedByError(e);
  }
  return RunOutcome::Completed;
}

// The passes of the selected companies run in other processes. False when
// an error stopped one of them: that ends the run as it would here, with
// the selection and the temporary folder left as they are.
bool RunDriver::PassesElsewhere(int root_lock_fd) {
  std::vector<std::string> codes;
  for (f_.DbTableCompany.First(); !f_.DbTableCompany.Eof(); f_.DbTableCompany.Next()) {
    if (f_.DbTableCompany.FieldByName("MERGE").AsString() == "1") codes.push_back(CompanyCode());
  }
  f_.run_results_ = f_.settings_.pass_runner->RunPasses(codes, root_lock_fd);
  bool stopped = false;
  for (const CompanyResult& result : f_.run_results_) {
    if (result.outcome == CompanyOutcome::Failed) failed_codes_.push_back(result.code);
    if (result.outcome == CompanyOutcome::Stopped) stopped = true;
  }
  return !stopped;
}

// One selected company; the register is on its row.
void RunDriver::RunCompany() {
  current_code_ = CompanyCode();
  ++company_number_;
  CompanyResult started;
  started.code = current_code_;
  f_.run_results_.push_back(std::move(started));
  const int shown_before = f_.ui_.Shown();
  StartRecord(f_.run_results_.back().record);
  CompanyOutcome outcome = CompanyOutcome::Refused;
  if (!CodeNamesACompanyFolder(current_code_)) {
    f_.ui().MessageBox("Company code " + current_code_ + kCodeCannotNameAFolder, "");
  } else if (!f_.settings_.keep_going) {
    outcome = CompanyPass();
    EndPassMarker();
  } else {
    try {
      outcome = CompanyPass();
      EndPassMarker();
    } catch (const std::exception& e) {
      // Only this company's pass ends: the error is reported, the
      // company stays selected, the run goes on with the next one.
      outcome = CompanyOutcome::Failed;
      record_->error = e.what();
      f_.ui().ShowErrorReport(e.what());
      failed_codes_.push_back(current_code_);
      RecoverAfterFailedPass();
    }
  }
  CompanyResult& result = f_.run_results_.back();
  result.outcome = outcome;
  result.messages = f_.ui_.Shown() - shown_before;
  if (outcome == CompanyOutcome::NotStamped) result.differences = std::move(not_stamped_because_);
  EndRecord(outcome != CompanyOutcome::Refused);
  current_code_.clear();
}

// An error ended the run. The window stays locked: the user can only close it.
RunOutcome RunDriver::EndedByError(const std::exception& e) {
  if (record_ != nullptr) record_->error = e.what();
  sync_group_.reset();  // the company keeps its marker: see EndPassMarker
  f_.ui().ShowErrorReport(e.what());
  if (!f_.run_results_.empty() && f_.run_results_.back().outcome == CompanyOutcome::Stopped) {
    ++f_.run_results_.back().messages;
  }
  if (record_ != nullptr) EndRecord(true);
  return RunOutcome::Failed;
}

void RunDriver::StartRecord(CompanyRecord& record) {
  record_ = &record;
  record.started = WallClock::now();
  pass_start_ = std::chrono::steady_clock::now();
  step_depth_ = 0;
  f_.ui_.RecordInto(&record.dialogs);
  f_.column_changes_ = &record.columns;
  f_.rows_changed_ = [this](const std::string& table, std::int64_t rows) {
    if (record_ != nullptr) record_->rows.push_back(RowCount{current_step_, table, rows});
  };
  Progress(RunProgress::What::CompanyStarted, "");
}

void RunDriver::EndRecord(bool reached) {
  f_.ui_.RecordInto(nullptr);
  f_.column_changes_ = nullptr;
  f_.rows_changed_ = nullptr;
  if (reached && f_.DbConnection1.IsConnected()) record_->version_after = RecordedVersion();
  record_->ended = WallClock::now();
  Progress(RunProgress::What::CompanyEnded, "");
  record_ = nullptr;
}

// The version for the run report only: where it cannot be read the report
// leaves it out; the pass itself reports what went wrong with the table.
std::optional<std::string> RunDriver::RecordedVersion() {
  try {
    schema::UpgradeContext ctx = f_.Context();
    return conversions::VersionText(conversions::ReadReleaseVersion(ctx));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// After a pass ended by an error under keep-going: the shared datasets are
// closed and the register is on the failed company's row again, so that
// the next company starts as after a pass that went to its end. An error
// here ends the run.
void RunDriver::RecoverAfterFailedPass() {
  // The company's pass stopped halfway: its marker stays, as after an
  // error that ends the run, and no later company's pass removes it.
  pass_marker_folder_.clear();
  // What the failed pass wrote is flushed before the next company starts;
  // a flush that fails ends the run.
  if (sync_group_) {
    sync_group_->End();
    sync_group_.reset();
  }
  emp_pros_salary_total_.reset();
  not_stamped_because_.clear();
  step_depth_ = 0;
  for (dbaccess::TDbTable* t : {&f_.DbTable1, &f_.TablePAybank, &f_.TableRtable}) t->Close();
  for (dbaccess::TDbQuery* q : {&f_.DbQuery1, &f_.DbQuery3, &f_.DbQuerySQL, &f_.DbQueryDEL, &f_.DbQueryIndex}) {
    q->Close();
  }
  if (f_.DbTableCompany.State() == dbaccess::dsEdit || f_.DbTableCompany.State() == dbaccess::dsInsert) {
    f_.DbTableCompany.Cancel();
  }
  f_.Context().SeekCompany(current_code_);
}

std::size_t RunDriver::CountSelected() {
  std::size_t n = 0;
  for (f_.DbTableCompany.First(); !f_.DbTableCompany.Eof(); f_.DbTableCompany.Next()) {
    if (f_.DbTableCompany.FieldByName("MERGE").AsString() == "1") ++n;
  }
  f_.DbTableCompany.First();
  return n;
}

bool CodeNamesACompanyFolder(const std::string& code) {
  if (code.find_first_not_of(' ') == std::string::npos) return false;  // empty or blank
  if (code == "." || code == "..") return false;
  for (unsigned char c : code) {
    if (c == '\\' || c == '/' || c == ':' || c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

// --- preparation -----------------------------------------------------------

void RunDriver::Prepare() {
  Step("ExtractWallpaper", [&] { ExtractWallpaper(); });
  if (Checked("CheckBoxDir")) {
    Step("RetrieveCompanyCodes", [&] { f_.RetrieveCompanyCodes(f_.RootFolder()); });
  }
  Step("CreateRunFolders", [&] { CreateRunFolders(); });
  OpenRunConnections();
  ReportInterruptedPasses();
  f_.DbTableCompany.First();
}

// The register reopened, the work query on the company connection and
// the window locked, as every company pass expects them.
void RunDriver::OpenRunConnections() {
  if (f_.DbTableCompany.State() == dbaccess::dsEdit || f_.DbTableCompany.State() == dbaccess::dsInsert) {
    f_.DbTableCompany.Post();
  }
  f_.DbQuery1.Close();
  f_.DbQuery1.SetDatabaseName("DbConnection1");
  // Lock the window.
  f_.SetLocked(true);
  f_.DbConnection2.SetIsConnected(false);
  f_.DbTableCompany.Open();
  f_.ui().SetWindowCursor(platform::Cursor::DatabaseWait);
}

// Runs on the root folder are one at a time (the root lock), so a marker
// found here was left by a run that did not end its company's pass.
void RunDriver::ReportInterruptedPasses() {
  for (const RegisterRow& row : f_.RegisterRows()) {
    if (!CodeNamesACompanyFolder(row.code)) continue;
    const std::string folder = f_.RootFolder() + "COMPANY\\" + row.code;
    if (std::optional<PassMarker> marker = ReadPassMarker(folder)) {
      f_.ui().MessageBox(InterruptedPassMessage(row.code, *marker), "");
    }
  }
}

void RunDriver::ExtractWallpaper() { console::ExtractWallpaper(f_, f_.ZipArchive1); }

void RunDriver::CreateRunFolders() {
  for (const char* folder : {"BACKUP", "SHARE_FOLDER"}) {
    std::string path = f_.RootFolder() + folder;
    if (!platform::DirectoryExists(path)) platform::ForceDirectories(path);
  }
}

// --- the company pass --------------------------------------------------------

CompanyOutcome RunDriver::CompanyPass() {
  Step("ConnectCompany", [&] { ConnectCompany(); });
  record_->kind = DictionaryConnection() ? "dictionary" : "free tables";
  record_->version_before = RecordedVersion();
  f_.SetEdtDatabase(f_.DbConnection1.ConnectPath());
  if (Checked("CheckBoxbackup")) {
    bool backed_up = false;
    Step("BackupCompany", [&] { backed_up = BackupCompany(); });
    if (!backed_up) return CompanyOutcome::BackupFailed;  // no usable archive: the company is not changed
  }
  StartPassMarker();
  if (FirstExclusiveGroup()) return CompanyOutcome::ExclusiveOption;
  // The steps that change tables write each of them once: the changes wait
  // up to here (or to a step that needs them on disk), before the backup
  // copies go and the stamp's flush.
  std::optional<CompanyOutcome> ended;
  WithDeferredRewrites([&] { ended = ChangingSteps(); });
  if (ended) return *ended;
  Step("RemoveBackupFiles", [&] { RemoveBackupFiles(); });
  bool stamped = false;
  Step("StampReleaseVersion", [&] { stamped = StampReleaseVersion(); });
  return stamped ? CompanyOutcome::Done : CompanyOutcome::NotStamped;
}

// The pass from the first column run to the last change; an outcome when an
// exclusive option ended the pass.
std::optional<CompanyOutcome> RunDriver::ChangingSteps() {
  if (!ColumnRun(1)) return CompanyOutcome::ExclusiveOption;
  if (Checked("chkCPFFWL")) Step("UpdateLevyTable", [&] { UpdateLevyTable(); });
  for (int run : {2, 3, 4}) {
    if (!ColumnRun(run)) return CompanyOutcome::ExclusiveOption;
  }
  Step("FillYtdEmpl", [&] { FillYtdEmpl(); });
  for (int run : {5, 6, 7}) {
    if (!ColumnRun(run)) return CompanyOutcome::ExclusiveOption;
  }
  if (SecondExclusiveGroup()) return CompanyOutcome::ExclusiveOption;
  if (!ColumnRun(8)) return CompanyOutcome::ExclusiveOption;
  if (VersionAtMost890() && !ColumnRun(9)) return CompanyOutcome::ExclusiveOption;
  Step("TerminationStatus", [&] { TerminationStatus(); });
  if (!ColumnRun(10)) return CompanyOutcome::ExclusiveOption;
  if (Checked("CheckBoxForfeit")) Step("ResetLeaveForfeit", [&] { ResetLeaveForfeit(); });
  Step("ReportFieldRows", [&] { ReportFieldRows(); });
  if (Checked("CheckBoxRearrange")) {
    Step("RearrangeAllowanceColumns", [&] { RearrangeAllowanceColumns(); });
    return CompanyOutcome::ExclusiveOption;
  }
  if (DictionaryConnection()) Step("NormaliseTableNames", [&] { NormaliseTableNames(); });
  Step("ReconnectCompany", [&] { ReconnectCompany(); });
  if (!ColumnRun(11)) return CompanyOutcome::ExclusiveOption;
  Step("EncryptIncomeTaxTables", [&] { EncryptIncomeTaxTables(); });
  if (Checked("CheckBoxFamilyCode")) Step("ConvertOccupationCodes", [&] { ConvertOccupationCodes(); });
  Step("EncryptTransferTables", [&] { EncryptTransferTables(); });
  Step("ReminderSettingsAndLaterRuns", [&] { ReminderSettingsAndLaterRuns(); });
  if (Checked("CheckBoxEducate")) Step("EducationRecordNumbers", [&] { EducationRecordNumbers(); });
  if (Checked("CheckBoxPOSB")) Step("BankCodeMigration", [&] { BankCodeMigration(); });
  if (Checked("CheckBoxClaim")) Step("ClaimSetupRebuild", [&] { ClaimSetupRebuild(); });
  if (!ColumnRun(15)) return CompanyOutcome::ExclusiveOption;
  GuardedStep("FillRbItem", [&] { FillRbItem(); });
  if (Checked("CheckBox7")) Step("RegisterTimeClockProcedure", [&] { RegisterTimeClockProcedure(); });
  Step("EncryptSysContTables", [&] {
    try {
      EncryptSysContTables();
    } catch (const std::exception&) {
      // These two tables are encrypted when possible; nothing is reported.
    }
  });
  if (DictionaryConnection()) Step("GrantIntpassRights", [&] { GrantIntpassRights(); });
  Step("NormaliseTableNames", [&] { NormaliseTableNames(); });
  GuardedStep("RecordNumberBackfill", [&] { RecordNumberBackfill(); });
  GuardedStep("EmployeeRecordPass", [&] { EmployeeRecordPass(); });
  // The refreshes put table files in place from archives, and take tables
  // out of the dictionary and back around that: the changes waiting are
  // written first, and those the refreshes make as they go, so that no
  // change waits for files an archive replaces. A rewrite that fails here
  // ends the pass, as it would have when the change was asked for; the
  // guards are for the refreshes.
  WithoutDeferredRewrites([&] {
    GuardedStep("ReleaseTemplateRefresh", [&] { ReleaseTemplateRefresh(); });
    if (Checked("CheckBoxAdv")) GuardedStep("ReportWriterRefresh", [&] { ReportWriterRefresh(); });
  });
  Step("ReportCatalogueUpdates", [&] { ReportCatalogueUpdates(); });
  Step("TrainingAndMedschFillIns", [&] { TrainingAndMedschFillIns(); });
  Step("IndexRepair", [&] { IndexRepair(); });
  if (Checked("CheckBoxClaim")) Step("SchemeClaimRows", [&] { SchemeClaimRows(); });
  Step("CleanCompanyFolder", [&] { CleanCompanyFolder(); });
  Step("ReportTemplateList", [&] { ReportTemplateList(); });
  Step("NormaliseTableNames", [&] { NormaliseTableNames(); });
  Step("QueryCleanup", [&] { QueryCleanup(); });
  Step("DailyLevyRates2012", [&] { DailyLevyRates2012(); });
  if (DictionaryConnection()) Step("RebuildRightsAndAutoCreate", [&] { RebuildRightsAndAutoCreate(); });
  if (Checked("CheckBoxHTRX")) Step("PeriodOrganisationUpdate", [&] { PeriodOrganisationUpdate(); });
  return std::nullopt;
}

// The marker names the archive that holds the company as it was before the
// pass. A company whose earlier pass was interrupted keeps the archive of
// that pass: the one just taken holds the half-upgraded state.
void RunDriver::StartPassMarker() {
  const std::string folder = f_.RootFolder() + "COMPANY\\" + current_code_;
  std::string archive = Checked("CheckBoxbackup") ? f_.ZipArchive1.ZipFilename() : std::string();
  if (std::optional<PassMarker> earlier = ReadPassMarker(folder); earlier && !earlier->archive.empty()) {
    archive = earlier->archive;
  }
  WritePassMarker(folder, archive);
  pass_marker_folder_ = folder;
  // With a checked archive and the marker on disk a power cut during the
  // pass has a way back, so the pass's writes are flushed together (before
  // the stamp and at its end) instead of one rewrite at a time.
  if (Checked("CheckBoxbackup")) sync_group_.emplace();
}

// Only a pass that wrote the marker removes it: a company skipped this
// time (its backup failed) keeps the marker of an earlier interrupted pass.
// An error that ends the run skips this too and leaves the marker, since
// the company's pass stopped halfway.
void RunDriver::EndPassMarker() {
  if (pass_marker_folder_.empty()) return;
  if (sync_group_) {
    sync_group_->End();  // the marker goes only once the pass is durable
    sync_group_.reset();
  }
  RemovePassMarker(pass_marker_folder_);
  pass_marker_folder_.clear();
}

void RunDriver::ConnectCompany() {
  const std::string code = CompanyCode();
  f_.DbConnection1.SetTag(0);
  f_.DbConnection1.SetIsConnected(false);
  std::string folder = f_.RootFolder() + "COMPANY\\" + code;
  // A company whose restore was cut short is completed before it is opened.
  FinishInterruptedRestore(folder, f_.ui());
  std::string kdd = folder + "\\" + code + ".kdd";
  std::string path = folder;
  if (platform::FileExists(kdd) || f_.DictionarySetting() == "YES") {
    path = kdd;
    f_.DbConnection1.SetTag(99);
  }
  f_.DbConnection1.SetConnectPath(path);
  try {
    // Tables an interrupted run left outside the dictionary go back first.
    if (f_.DbConnection1.Tag() == 99 && platform::FileExists(kdd)) {
      for (const std::string& table : schema::RestoreDetachedTables(kdd)) {
        f_.SetEdit1("Put back into the dictionary after an interrupted change: " + table);
      }
    }
    f_.DbConnection1.SetIsConnected(true);
  } catch (const std::exception& e) {
    throw RunError(e.what() + std::string(kConnectFailed) + path);
  }
}

bool RunDriver::FirstExclusiveGroup() {
  if (DictionaryConnection() && Checked("CheckBoxRight")) {
    Step("RebuildAllRights", [&] { RebuildAllRights(); });
    return true;
  }
  if (Checked("removeNRIC")) {
    Step("RemoveNricSlash", [&] { RemoveNricSlash(); });
    return true;
  }
  if (Checked("CheckBoxSAVEJPG")) {
    Step("SavePhotographs", [&] { SavePhotographs(); });
    return true;
  }
  if (Checked("CheckBoxSupvr1")) {
    Step("ConvertSupervisorTable", [&] { ConvertSupervisorTable(); });
    return true;
  }
  return false;
}

bool RunDriver::SecondExclusiveGroup() {
  if (Checked("CheckBoxFin")) {
    Step("IncomeTaxNumberFromPass", [&] { IncomeTaxNumberFromPass(); });
    return true;
  }
  if (Checked("CheckBoxPICTURE")) {
    Step("ImportPhotographs", [&] { ImportPhotographs(); });
    return true;
  }
  if (Checked("CheckBoxUpdate")) {
    Step("ReportTemplateList", [&] { ReportTemplateList(); });
    return true;
  }
  return false;
}

bool RunDriver::ColumnRun(int run) {
  std::string name = "ColumnRun" + std::to_string(run);
  bool pass_goes_on = true;
  Step(name.c_str(), [&] {
    schema::UpgradeContext ctx = f_.Context();
    WithDeferredRewrites([&] { pass_goes_on = schema::RunColumnRun(run, ctx, CompanyCatalogueActions(ctx)); });
  });
  return pass_goes_on;
}

schema::CatalogueActions RunDriver::CompanyCatalogueActions(schema::UpgradeContext& ctx) {
  schema::CatalogueActions a = schema::CompanyActions(ctx);
  if (f_.OnProgress) {
    a.upgrade_column = [this, &ctx, entry = 0, upgrade = a.upgrade_column](const schema::ColumnEntry& e) mutable {
      Progress(RunProgress::What::CatalogueEntry, "run " + std::to_string(e.run) + " entry " + std::to_string(++entry) +
                                                      " " + e.table + " " + e.column);
      upgrade(e);
    };
  }
  a.checked = [this](const std::string& option) { return Checked(option.c_str()); };
  a.text = [this](const std::string& edit) { return f_.options.Text(edit); };
  a.release_version = [&ctx] { return conversions::ReadReleaseVersion(ctx); };
  a.hook = [this, &ctx](const schema::HookCall& call) { CatalogueStep(ctx, call); };
  return a;
}

// The steps of other units that stand between the catalogue's entries.
// Those of units not built yet are empty.
void RunDriver::CatalogueStep(schema::UpgradeContext& ctx, const schema::HookCall& call) {
  using schema::CatalogueHook;
  switch (call.hook) {
    case CatalogueHook::SeedFreeFieldCaptions: conversions::SeedFreeFieldCaptions(ctx); break;
    case CatalogueHook::FixListCodes: conversions::FixListCodes(ctx); break;
    case CatalogueHook::SeedFormulaFields: conversions::SeedFormulaFields(ctx); break;
    case CatalogueHook::RemoveColumn: conversions::RemoveColumn(ctx, call.table, call.argument); break;
    case CatalogueHook::CloseCodeTables: f_.DbTable1.Close(); break;
    case CatalogueHook::ConvertCostCentreCodes:
      Step("ConvertCostCentreCodes", [&ctx] { conversions::ConvertCostCentreCodes(ctx); });
      break;
    case CatalogueHook::BackfillCareerHistory: conversions::BackfillCareerHistory(ctx); break;
    case CatalogueHook::RemoveEmpservBackup:
      conversions::RemoveEmpservBackup(ctx);
      break;
    case CatalogueHook::DefaultPaypara2Type: conversions::DefaultPaypara2Type(ctx); break;
    case CatalogueHook::TakeEmpProsSalaryTotal:
      emp_pros_salary_total_ = conversions::TakeEmpProsSalaryTotal(ctx, f_.DbQuery3);
      break;
    case CatalogueHook::CheckEmpProsSalaryTotal: {
      if (!emp_pros_salary_total_) throw std::logic_error("EMP_PROS salary total checked before it was taken");
      const conversions::SalaryTotal held = *emp_pros_salary_total_;
      emp_pros_salary_total_.reset();
      conversions::CheckEmpProsSalaryTotal(ctx, f_.DbQuery3, held);
      break;
    }
    case CatalogueHook::EmptyRpHtrx: conversions::EmptyRpHtrx(ctx); break;
    case CatalogueHook::ResetEPayslipPasswords:
      conversions::ResetEPayslipPasswords(
          ctx, {Checked("CheckBox5"), Checked("RadioButton1"), Checked("RadioButton2")});
      break;
    case CatalogueHook::FillCodeAndGradeColumns: conversions::FillCodeAndGradeColumns(ctx); break;
    case CatalogueHook::AddVoluntaryContributionRows: conversions::AddVoluntaryContributionRows(ctx); break;
    case CatalogueHook::RollForwardLevy2004To2005: conversions::RollForwardLevy2004To2005(ctx); break;
    case CatalogueHook::FillPHtrxBankAmount: conversions::FillPHtrxBankAmount(ctx); break;
    case CatalogueHook::WriteReportFields: schema::WriteReportFields(f_.TableRtable, call.argument); break;
    case CatalogueHook::None:
      break;
  }
}

void RunDriver::ResetLeaveForfeit() {
  f_.DbQuerySQL.Close();
  f_.DbQuerySQL.SQL().Clear();
  f_.DbQuerySQL.SQL().Add(kLeaveForfeitSql);
  f_.DbQuerySQL.ExecSQL();
  f_.DbQuerySQL.CloseStatement();
}

void RunDriver::ReconnectCompany() {
  f_.DbConnection1.SetIsConnected(true);
  f_.SetEdit2(f_.DbConnection1.ConnectPath());
  f_.ui().ProcessMessages();
}

void RunDriver::EncryptTransferTables() {
  f_.DbTable1.Close();
  f_.DbTable1.SetIndexFieldNames("");
  f_.DbTable1.SetTableName("transfer");
  f_.DbTable1.Open();
  if (FreeTableCompany()) {
    f_.DbTable1.EnableEncryption(support::AdministratorPassword());
    if (!f_.DbTable1.IsTableEncrypted()) f_.DbTable1.EncryptTable();
  }
  f_.DbTable1.Close();
  if (DictionaryConnection()) return;
  for (const char* table : {"PASS", "EMP_ALW"}) {
    f_.DbTable1.SetTableName(table);
    f_.DbTable1.Open();
    if (!f_.DbTable1.IsTableEncrypted()) {
      f_.DbTable1.EnableEncryption(support::AdministratorPassword());
      f_.DbTable1.EncryptTable();
    }
    f_.DbTable1.Close();
  }
}

void RunDriver::EncryptSysContTables() {
  if (DictionaryConnection()) return;
  for (const char* table : {"SYSCONT.KDT", "LOANS_RED.KDT"}) {
    try {
      f_.DbTable1.Close();
      f_.DbTable1.SetTableName(table);
      f_.DbTable1.Open();
      f_.DbTable1.EnableEncryption(support::AdministratorPassword());
      if (!f_.DbTable1.IsTableEncrypted()) f_.DbTable1.EncryptTable();
      f_.DbTable1.Close();
    } catch (const std::exception&) {
      f_.DbTable1.Close();
      throw;
    }
  }
}

bool RunDriver::VersionAtMost890() {
  schema::UpgradeContext ctx = f_.Context();
  return conversions::ReadReleaseVersion(ctx) <= conversions::kVersion890;
}

void RunDriver::NormaliseTableNames() {
  schema::UpgradeContext ctx = f_.Context();
  schema::NormaliseTableNames(ctx);
}

void RunDriver::RebuildAllRights() {
  schema::UpgradeContext ctx = f_.Context();
  schema::RebuildAllRights(ctx);
}

void RunDriver::GrantIntpassRights() {
  schema::UpgradeContext ctx = f_.Context();
  schema::GrantTableRights(ctx, "INTPASS", true);
}

// The stamp says "this company has the release": it is written only when
// the company's tables pass the release's column check. Otherwise the
// version stays, so that the version-gated runs try again next time, and
// the first differences are shown.
bool RunDriver::StampReleaseVersion() {
  schema::UpgradeContext ctx = f_.Context();
  f_.DbTable1.Close();
  not_stamped_because_.clear();
  std::vector<std::string> differences =
      schema::CheckReleaseColumns(ctx.CompanyFolder(current_code_), schema::ReleaseColumns(), ctx.table_shapes);
  if (!differences.empty()) {
    const std::int64_t version = conversions::ReadReleaseVersion(ctx);
    std::string text = "Company " + current_code_ + " was not fully upgraded; its version stays " +
                       conversions::VersionText(version) + ".";
    const std::size_t shown = std::min<std::size_t>(differences.size(), kDifferencesShown);
    for (std::size_t i = 0; i < shown; ++i) text += "\r\n" + differences[i];
    if (differences.size() > shown) text += "\r\n(" + std::to_string(differences.size() - shown) + " more)";
    f_.ui().MessageBox(text, "");
    not_stamped_because_ = std::move(differences);
    return false;
  }
  if (sync_group_) sync_group_->Barrier();  // the stamp comes after everything it vouches for
  conversions::StampReleaseVersion(ctx);
  return true;
}

void RunDriver::ReminderSettingsAndLaterRuns() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::SeedReminderSettings(ctx);
  CatalogueCorrections();
  schema::CatalogueActions catalogue = CompanyCatalogueActions(ctx);
  WithDeferredRewrites([&] {
    for (int run : {12, 13, 14}) schema::RunColumnRun(run, ctx, catalogue);
  });
  // The levy roll-forward closes the catalogue for every company; a
  // database below 8.60 gets it once more, which changes nothing further.
  RollForwardLevy2007To2008();
  if (conversions::ReadReleaseVersion(ctx) < conversions::kVersion860) RollForwardLevy2007To2008();
}

void RunDriver::CatalogueCorrections() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::CatalogueCorrections(ctx);
}

void RunDriver::RollForwardLevy2007To2008() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::RollForwardLevy2007To2008(ctx);
}

void RunDriver::UpdateLevyTable() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::UpdateLevyTable(ctx, [this](const std::string& text) {
    f_.SetEdit2(text);
    f_.ui().ProcessMessages();
  });
}

void RunDriver::FillYtdEmpl() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::FillYtdEmpl(ctx);
}

void RunDriver::FillRbItem() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::FillRbItem(ctx);
}

void RunDriver::TrainingAndMedschFillIns() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::FillTrainingDepartment(ctx);
  conversions::FillMedschClaimType(ctx);
  conversions::AddMedschIndex(ctx, f_.DbQueryIndex);
}

void RunDriver::EncryptIncomeTaxTables() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::EncryptIncomeTaxTables(ctx);
}

void RunDriver::IndexRepair() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::RepairIndexes(ctx, f_.DbQueryIndex);
}

void RunDriver::QueryCleanup() { conversions::QueryCleanup(f_.DbQueryDEL); }

void RunDriver::DailyLevyRates2012() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::DailyLevyRates2012(ctx);
}

void RunDriver::ReportFieldRows() { schema::WriteReportFieldsAfterRun10(f_.TableRtable); }

void RunDriver::RearrangeAllowanceColumns() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::RearrangeAllowanceColumns(ctx, f_.TableRtable);
}

// The three statements guard themselves, each showing its error's text.
void RunDriver::ReportCatalogueUpdates() {
  schema::UpgradeContext ctx = f_.Context();
  schema::UpdateReportCatalogue(ctx);
}

void RunDriver::ReportTemplateList() {
  schema::UpgradeContext ctx = f_.Context();
  schema::RunReportFieldRoutine(ctx, f_.TableRtable);
}

void RunDriver::RebuildRightsAndAutoCreate() {
  schema::UpgradeContext ctx = f_.Context();
  schema::RebuildAllRights(ctx);
  conversions::ResetAutoCreate(ctx);
}

void RunDriver::EmployeeRecordPass() {
  conversions::EmployeePassOptions options;
  options.family = Checked("CheckBoxFamily");
  options.telephone = Checked("CheckBoxaddr");
  options.photograph = Checked("CheckBoxjpg");
  options.claim = Checked("CheckBoxClaim");
  options.additional_wages = Checked("CheckBoxAdd");
  options.cost_centre = Checked("CheckBoxCost");
  options.stop_payment = Checked("CheckBoxSTOP");
  options.national_service = Checked("CheckBoxNS");
  schema::UpgradeContext ctx = f_.Context();
  conversions::RunEmployeePass(ctx, options);
}

void RunDriver::SavePhotographs() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::ExportPhotographs(ctx);
}

void RunDriver::ImportPhotographs() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::ImportPhotographs(ctx);
}

void RunDriver::ReleaseTemplateRefresh() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::ReleaseTemplateRefresh(ctx, f_.ZipArchive1, f_.UpdateArchiveName());
}

void RunDriver::ReportWriterRefresh() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::ReportWriterRefresh(ctx, f_.ZipArchive1);
}

void RunDriver::RegisterTimeClockProcedure() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::RegisterTimeClockProcedure(ctx, f_.ZipArchive1, f_.UpdateArchiveName());
}

void RunDriver::ConvertSupervisorTable() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::ConvertSupervisorTable(ctx, f_.DbConnectionSup);
}

// Steps whose work is built by later units of the release: called in order,
// empty for now.
bool RunDriver::BackupCompany() {
  if (!console::BackupCompany(f_, f_.ZipArchive1, current_code_)) return false;
  record_->backup_archive = f_.ZipArchive1.ZipFilename();
  std::error_code size_error;
  const std::uintmax_t bytes =
      std::filesystem::file_size(platform::NativePath(record_->backup_archive), size_error);
  // The report leaves out a size it cannot read; the archive was written.
  if (!size_error) record_->backup_bytes = bytes;
  return true;
}
// It deletes the .BAK sets, also those that changes still waiting will make.
void RunDriver::CleanCompanyFolder() {
  ApplyDeferredRewrites();
  console::CleanCompanyFolder(f_, current_code_);
}
void RunDriver::RemoveBackupFiles() { console::RemoveBackupFiles(f_); }
void RunDriver::EmptyTemporaryFolder() { console::EmptyTemporaryFolder(f_); }

// A step of every pass that acts only when its option is ticked.
void RunDriver::TerminationStatus() {
  if (!Checked("CheckBoxTerm")) return;
  schema::UpgradeContext ctx = f_.Context();
  conversions::UpdateTerminationStatus(ctx);
}

void RunDriver::BankCodeMigration() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::MigrateBankCodes(ctx);
}

void RunDriver::ConvertOccupationCodes() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::ConvertOccupationCodes(ctx);
}

void RunDriver::EducationRecordNumbers() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::NumberEducationRecords(ctx);
}

void RunDriver::RecordNumberBackfill() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::NumberAppraisals(ctx);
}

void RunDriver::ClaimSetupRebuild() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::RebuildClaimSetup(ctx);
}

void RunDriver::SchemeClaimRows() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::AddSchemeClaimRows(ctx);
}

void RunDriver::PeriodOrganisationUpdate() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::UpdatePeriodOrganisation(ctx);
}

void RunDriver::RemoveNricSlash() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::RemoveIdentitySlashes(ctx);
}

void RunDriver::IncomeTaxNumberFromPass() {
  schema::UpgradeContext ctx = f_.Context();
  conversions::IncomeTaxNumberFromPass(ctx);
}

// --- end of the run ----------------------------------------------------------

void RunDriver::FinishRun() {
  Step("EmptyTemporaryFolder", [&] { EmptyTemporaryFolder(); });
  Step("ClearSelection", [&] { ClearSelection(); });
  f_.DbConnection2.SetIsConnected(false);
  f_.DbConnection1.SetIsConnected(false);
  f_.SetLocked(false);
  f_.Close();
}

// Companies whose pass failed under keep-going stay selected for the next run.
void RunDriver::ClearSelection() {
  f_.DbTableCompany.First();
  while (!f_.DbTableCompany.Eof()) {
    const std::string code = CompanyCode();
    if (std::find(failed_codes_.begin(), failed_codes_.end(), code) != failed_codes_.end()) {
      f_.DbTableCompany.Next();
      continue;
    }
    f_.DbTableCompany.Edit();
    f_.DbTableCompany.FieldByName("MERGE").SetAsString("");
    f_.DbTableCompany.Post();
    f_.DbTableCompany.Next();
  }
}

}  // namespace kx8::console
