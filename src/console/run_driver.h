// The upgrade run (the Process button): the confirmation, the preparation,
// the company loop with the fifty steps of a company pass in their fixed
// order, the exclusive options, and the end of the run.
//
// Every step is a named function. Steps whose work belongs to units not
// built yet are empty; they are still called, in order, and recorded in the
// step trace, so that the order of a pass can be checked.
#ifndef KX8_CONSOLE_RUN_DRIVER_H_
#define KX8_CONSOLE_RUN_DRIVER_H_

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/main_form.h"
#include "dbaccess/db_rewrite_deferral.h"
#include "dbaccess/db_sync_group.h"
#include "conversions/pre860_steps.h"
#include "schema/catalogue.h"

namespace kx8::console {

// A register code can name its company's folder: not empty or blank, not
// "." or "..", no separator, drive colon or control character. Any other
// code would make the run change files outside the company folders.
bool CodeNamesACompanyFolder(const std::string& code);

// Whether a company pass writes each table once for all of its changes
// (the default) or at every change. For tests and benchmarks that compare
// the two; process-wide.
void SetColumnRunsDeferRewrites(bool deferred);

class RunDriver {
 public:
  explicit RunDriver(TMainForm& form) : f_(form) {}

  RunOutcome Process();

  // The steps run, in order, as "CODE:StepName" (preparation and end of the
  // run without a code). For tests and the batch log.
  const std::vector<std::string>& Trace() const { return trace_; }

 private:
  // Runs a step and records it (and its time, during a company's pass).
  void Step(const char* name, const std::function<void()>& body);
  static double Seconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to);
  void Progress(RunProgress::What what, const std::string& detail);
  // The company record of a pass: started before it, ended after it.
  void StartRecord(CompanyRecord& record);
  void EndRecord(bool reached);
  std::optional<std::string> RecordedVersion();
  void RecoverAfterFailedPass();
  // The selected companies of the register; the register is left on its first row.
  std::size_t CountSelected();
  // Runs a step inside a guard that shows the error's text and goes on.
  void GuardedStep(const char* name, const std::function<void()>& body);

  // The run of one company's pass for a run another process leads.
  RunOutcome ProcessPassOfRun();
  // The passes run by the settings' pass runner; false when one was stopped.
  bool PassesElsewhere(int root_lock_fd);
  void RunCompany();
  RunOutcome EndedByError(const std::exception& e);

  void Prepare();
  void OpenRunConnections();
  // Names every registered company whose last pass was interrupted.
  void ReportInterruptedPasses();
  // One company pass; the register row is the company's.
  CompanyOutcome CompanyPass();
  // The pass's steps that change tables, with their rewrites deferred;
  // an outcome when an exclusive option ended the pass there.
  std::optional<CompanyOutcome> ChangingSteps();
  void FinishRun();
  // The interrupted-pass marker of the current company (pass_marker.h).
  void StartPassMarker();
  void EndPassMarker();

  // --- preparation --------------------------------------------------------
  void ExtractWallpaper();
  void CreateRunFolders();

  // --- the company pass ------------------------------------------------------
  void ConnectCompany();
  bool BackupCompany();  // false: no usable archive, the company is left alone
  bool FirstExclusiveGroup();    // true when an exclusive option did the work
  bool SecondExclusiveGroup();
  // Column runs; false when an exclusive option inside the run ended the pass.
  bool ColumnRun(int run);
  // What the catalogue's runs do on the current company, and the steps of
  // other units at the catalogue's marked points.
  schema::CatalogueActions CompanyCatalogueActions(schema::UpgradeContext& ctx);
  void CatalogueStep(schema::UpgradeContext& ctx, const schema::HookCall& call);
  void CatalogueCorrections();
  void RollForwardLevy2007To2008();
  void UpdateLevyTable();
  void FillYtdEmpl();
  void TerminationStatus();
  void ResetLeaveForfeit();
  void ReportFieldRows();
  void RearrangeAllowanceColumns();
  void NormaliseTableNames();
  void ReconnectCompany();
  void EncryptIncomeTaxTables();
  void ConvertOccupationCodes();
  void EncryptTransferTables();
  void ReminderSettingsAndLaterRuns();
  void EducationRecordNumbers();
  void BankCodeMigration();
  void ClaimSetupRebuild();
  void FillRbItem();
  void RegisterTimeClockProcedure();
  void EncryptSysContTables();
  void GrantIntpassRights();
  void RecordNumberBackfill();
  void EmployeeRecordPass();
  void ReleaseTemplateRefresh();
  void ReportWriterRefresh();
  void ReportCatalogueUpdates();
  void TrainingAndMedschFillIns();
  void IndexRepair();
  void SchemeClaimRows();
  void CleanCompanyFolder();
  void ReportTemplateList();
  void QueryCleanup();
  void DailyLevyRates2012();
  void RebuildRightsAndAutoCreate();
  void PeriodOrganisationUpdate();
  void RemoveBackupFiles();
  // False when the company is not stamped (see the definition).
  bool StampReleaseVersion();

  // Exclusive options and their work.
  void RebuildAllRights();
  void RemoveNricSlash();
  void SavePhotographs();
  void ConvertSupervisorTable();
  void IncomeTaxNumberFromPass();
  void ImportPhotographs();

  // --- end of the run -------------------------------------------------------
  void EmptyTemporaryFolder();
  void ClearSelection();

  // The stored release version is 8.90 or lower.
  bool VersionAtMost890();

  // Runs body with the tables' rewrites deferred (db_rewrite_deferral.h)
  // and applied at its end.
  void WithDeferredRewrites(const std::function<void()>& body);
  // Rewrites the tables whose changes wait, before a step that works on
  // table files other than through the engine.
  void ApplyDeferredRewrites();
  // Runs body with the changes waiting written first and its own changes
  // written as they are made, inside a stretch of deferred rewrites.
  void WithoutDeferredRewrites(const std::function<void()>& body);

  bool Checked(const char* option) const { return f_.options.Checked(option); }
  bool DictionaryConnection() const { return f_.DbConnection1.IsDictionaryConnection(); }
  bool FreeTableCompany() const { return !DictionaryConnection(); }
  std::string CompanyCode();

  TMainForm& f_;
  std::vector<std::string> trace_;
  std::string current_code_;
  // The folder whose marker the current pass wrote; empty when none.
  std::string pass_marker_folder_;
  // The current pass's grouped flushing, with the backup option only.
  std::optional<dbaccess::TDbSyncGroup> sync_group_;
  // Deferred rewrites, from the first column run to the last change.
  std::optional<dbaccess::TDbRewriteDeferral> rewrite_deferral_;
  // The salary total of EMP_PROS, held from before its column changes to
  // the check after them (one company at a time).
  std::optional<conversions::SalaryTotal> emp_pros_salary_total_;
  // The differences that kept the current company from its stamp.
  std::vector<std::string> not_stamped_because_;
  // The record of the current company's pass, while it runs.
  CompanyRecord* record_ = nullptr;
  std::chrono::steady_clock::time_point pass_start_;
  int step_depth_ = 0;
  std::string current_step_;  // the innermost step running, for row counts
  std::size_t company_number_ = 0, company_count_ = 0;
  // Companies whose pass failed under keep-going: they stay selected.
  std::vector<std::string> failed_codes_;
};

}  // namespace kx8::console

#endif  // KX8_CONSOLE_RUN_DRIVER_H_
