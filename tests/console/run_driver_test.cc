// The upgrade run over fixture companies with a scripted UI: which companies
// are connected, the order of the steps of a pass, the exclusive options, the
// failures that end a run, and the end of the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../schema/levy_fill_in_tables.h"
#include "../schema/older_release_tables.h"
#include "../schema/report_tables.h"
#include "console/main_form.h"
#include "console/pass_marker.h"
#include "console/run_driver.h"
#include "root_fixture.h"
#include "dbaccess/db_dictionary.h"
#include "dbe/dbe.h"
#include "dbaccess/db_scoped_table.h"
#include "platform/program_info.h"
#include "platform/scripted_ui.h"
#include "register/company_register.h"
#include "support/credentials.h"

namespace kx8::console {
namespace {

namespace fs = std::filesystem;

// The steps of a complete pass of a free-table company with the default
// options, in order.
const std::vector<std::string> kFullPass = {
    "ConnectCompany", "BackupCompany", "ColumnRun1", "UpdateLevyTable", "ColumnRun2", "ColumnRun3",
    "ColumnRun4", "FillYtdEmpl", "ColumnRun5", "ColumnRun6", "ColumnRun7", "ColumnRun8", "ColumnRun9",
    "TerminationStatus", "ColumnRun10", "ReportFieldRows", "ReconnectCompany", "ColumnRun11",
    "EncryptIncomeTaxTables", "EncryptTransferTables", "ReminderSettingsAndLaterRuns", "ColumnRun15", "FillRbItem",
    "EncryptSysContTables", "NormaliseTableNames", "RecordNumberBackfill", "EmployeeRecordPass",
    "ReleaseTemplateRefresh", "ReportCatalogueUpdates", "TrainingAndMedschFillIns", "IndexRepair",
    "CleanCompanyFolder", "ReportTemplateList", "NormaliseTableNames", "QueryCleanup", "DailyLevyRates2012",
    "RemoveBackupFiles", "StampReleaseVersion"};

class RunDriverTest : public RootWithRegisterTest {
 protected:
  RunDriverTest() : RootWithRegisterTest("kx8-run") {}

  void AddCompany(const std::string& code, const std::string& merge, bool with_tables = true,
                  const std::string& version = "8.5") {
    {
      dbaccess::TDbScopedTable scoped;
      scoped.Connection().SetConnectPath(root_);
      scoped.Table().SetTableName("mcompany.KDT");
      scoped.Table().Open();
      scoped.Table().Append();
      scoped.Table().FieldByName("COMPANY_CODE").SetAsString(code);
      scoped.Table().FieldByName("MERGE").SetAsString(merge);
      scoped.Table().Post();
    }
    fs::create_directories(root_ + "COMPANY/" + code);
    MakeParameters(root_ + "COMPANY\\" + code, version);
    if (!with_tables) return;
    for (const char* table : {"transfer", "PASS", "EMP_ALW", "TRNNO", "EMPMISC", "IRDX8A", "IR8AR", "IR8AREC", "IR8S",
                              "IRREFUND"}) {
      MakeTable(root_ + "COMPANY\\" + code, table);
    }
    MakeSeedTables(root_ + "COMPANY\\" + code);
    schema::MakeOlderReleaseTables(root_ + "COMPANY\\" + code);
    schema::MakeLevyAndFillInTables(root_ + "COMPANY\\" + code);
    schema::MakeReportTables(root_ + "COMPANY\\" + code);
  }

  // The parameter tables the seed steps inside the column runs fill.
  static void MakeSeedTables(const std::string& folder) {
    struct Table {
      const char* name;
      std::vector<const char*> fields;
      const char* index;
    };
    const Table tables[] = {
        {"FREEFIELD", {"MODULE", "LINE", "CTLFIELD", "DESCRIPTION", "CAPTION"}, nullptr},
        {"LIST", {"VALUE"}, nullptr},
        {"FORMULA", {"FIELD", "DESC", "FIELDTABLE", "TABLE"}, "FIELD"},
        {"TEMPPAYGROUP", {"PAYGROUP", "YEAR", "MONTH", "TYPE"}, nullptr},
        {"RPTRX", {"EMPCODE", "PAYCODE", "PERIOD", "CYCLE"}, nullptr},
    };
    for (const Table& t : tables) {
      dbaccess::TDbScopedTable scoped;
      scoped.Connection().SetConnectPath(folder);
      scoped.Table().SetTableName(t.name);
      for (const char* f : t.fields) scoped.Table().FieldDefs().Add(f, dbaccess::ftString, 40);
      scoped.Table().CreateTable();
      if (t.index != nullptr) scoped.Table().AddIndex(t.index, t.index, {dbaccess::ixExpression});
    }
  }

  // PAYPARA with its one row holding the stored release version.
  static void MakeParameters(const std::string& folder, const std::string& version) {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(folder);
    scoped.Table().SetTableName("PAYPARA");
    scoped.Table().FieldDefs().Add("VERSION", dbaccess::ftBCD);
    scoped.Table().CreateTable();
    scoped.Table().Open();
    scoped.Table().Append();
    scoped.Table().FieldByName("VERSION").SetAsString(version);
    scoped.Table().Post();
  }

  std::string StoredVersion(const std::string& code) {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(root_ + "COMPANY\\" + code);
    scoped.Table().SetTableName("PAYPARA");
    scoped.Table().Open();
    return scoped.Table().FieldByName("VERSION").AsString();
  }

  static void AppendRow(const std::string& folder, const char* table,
                        std::initializer_list<std::pair<const char*, const char*>> values) {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(folder);
    scoped.Table().SetTableName(table);
    scoped.Table().Open();
    scoped.Table().Append();
    for (const auto& [field, value] : values) scoped.Table().FieldByName(field).SetAsString(value);
    scoped.Table().Post();
  }

  // One column of every row of a company table, in record order.
  std::vector<std::string> Values(const std::string& code, const char* table, const char* field) {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(root_ + "COMPANY\\" + code);
    scoped.Table().SetTableName(table);
    scoped.Table().Open();
    if (scoped.Table().IsTableEncrypted()) scoped.Table().EnableEncryption(support::AdministratorPassword());
    std::vector<std::string> out;
    for (scoped.Table().First(); !scoped.Table().Eof(); scoped.Table().Next()) {
      out.push_back(scoped.Table().FieldByName(field).AsString());
    }
    return out;
  }

  static void MakeTable(const std::string& folder, const char* table) {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(folder);
    scoped.Table().SetTableName(table);
    scoped.Table().FieldDefs().Add("ID", dbaccess::ftInteger);
    scoped.Table().CreateTable();
  }

  // A dictionary-bound company holding "transfer".
  void AddDictionaryCompany(const std::string& code) {
    AddCompany(code, "1", false);
    std::string folder = root_ + "COMPANY\\" + code;
    for (const char* t : {"transfer", "EMP_ALW"}) MakeTable(folder, t);
    MakeSeedTables(folder);
    schema::MakeOlderReleaseTables(folder);
    schema::MakeLevyAndFillInTables(folder);
    schema::MakeReportTables(folder);
    // The program never creates dictionaries; the fixture asks the engine.
    std::string kdd = root_ + "COMPANY/" + code + "/" + code + ".kdd";
    DBHANDLE h = 0;
    ASSERT_EQ(DbDDCreate(kdd.c_str(), support::AdministratorPassword().c_str(), code.c_str(), &h), 0u);
    DbDisconnect(h);
    dbaccess::TDbDictionary dict;
    dict.SetConnectPath(folder + "\\" + code + ".kdd");
    dict.SetUserName(support::AdministratorUser());
    dict.SetPassword(support::AdministratorPassword());
    dict.SetLoginPrompt(false);
    dict.SetIsConnected(true);
    dict.AddTable("transfer", "transfer.KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
    dict.AddTable("PAYPARA", "PAYPARA.KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
    for (const char* t : {"EMPLOYEE", "EMP_ALW", "FREEFIELD", "LIST", "FORMULA"}) {
      dict.AddTable(t, std::string(t) + ".KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
    }
  }

  // Runs Process over the register; returns the outcome and the trace.
  RunOutcome Run(std::initializer_list<std::pair<const char*, bool>> options = {},
                 std::initializer_list<bool> answers = {true}) {
    ui_ = std::make_unique<platform::ScriptedUi>(answers);
    form_ = std::make_unique<TMainForm>(*ui_);
    form_->FormCreate();
    for (const auto& [name, on] : options) form_->options.SetChecked(name, on);
    driver_ = std::make_unique<RunDriver>(*form_);
    return driver_->Process();
  }

  std::vector<std::string> CompanySteps(const std::string& code) const {
    std::vector<std::string> out;
    for (const std::string& s : driver_->Trace()) {
      if (s.rfind(code + ":", 0) == 0) out.push_back(s.substr(code.size() + 1));
    }
    return out;
  }

  std::vector<std::string> Merges() {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(root_);
    scoped.Table().SetTableName("mcompany.KDT");
    scoped.Table().SetIndexFieldNames("COMPANY_CODE");
    scoped.Table().Open();
    std::vector<std::string> out;
    while (!scoped.Table().Eof()) {
      out.push_back(scoped.Table().FieldByName("COMPANY_CODE").AsString() + "=" +
                    scoped.Table().FieldByName("MERGE").AsString());
      scoped.Table().Next();
    }
    return out;
  }

  std::unique_ptr<platform::ScriptedUi> ui_;
  std::unique_ptr<TMainForm> form_;
  std::unique_ptr<RunDriver> driver_;
};

TEST_F(RunDriverTest, OnlyRowsMarkedOneAreProcessedAndEveryMarkIsClearedAtTheEnd) {
  AddCompany("ACME", "1");
  AddCompany("BETA", "0");
  AddCompany("GAMMA", "");
  AddCompany("DELTA", "x");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(CompanySteps("ACME"), kFullPass);
  for (const char* code : {"BETA", "GAMMA", "DELTA"}) EXPECT_TRUE(CompanySteps(code).empty()) << code;
  EXPECT_EQ(Merges(), (std::vector<std::string>{"ACME=", "BETA=", "DELTA=", "GAMMA="}));
  EXPECT_TRUE(form_->Closed());
  EXPECT_TRUE(form_->ProcessEnabled());
  EXPECT_EQ(form_->edtdatabase, root_ + "COMPANY\\ACME");
  EXPECT_EQ(form_->Edit2, root_ + "COMPANY\\ACME");
  EXPECT_TRUE(fs::is_directory(root_ + "BACKUP"));
  EXPECT_TRUE(fs::is_directory(root_ + "SHARE_FOLDER"));
  EXPECT_EQ(ui_->Lines().front(), "confirm: Do you wish to proceed this function ?");
}

// Run 9 brings the bank amounts of the payroll history and the 2005 levy
// rows; the 2008 levy rows come for every database.
TEST_F(RunDriverTest, TheStoredVersionGatesRunNineAndIsStampedAtTheEnd) {
  AddCompany("OLD", "1", true, "8.9");
  AddCompany("NEWER", "1", true, "8.9001");
  for (const char* code : {"OLD", "NEWER"}) {
    const std::string folder = root_ + "COMPANY\\" + code;
    AppendRow(folder, "P_HTRX", {{"EMPCODE", "E1"}, {"NETT_WAGE", "2150.5"}});
    AppendRow(folder, "FW_LEVY", {{"YEAR", "2004"}, {"CLASS", "CLASS1"}, {"CATEGORY", "FWL"}, {"MAX_PER_MTH", "30"}});
    AppendRow(folder, "FW_LEVY", {{"YEAR", "2007"}, {"CLASS", "CLASS1"}, {"CATEGORY", "FWL"}, {"MAX_PER_MTH", "100"}});
  }
  ASSERT_EQ(Run(), RunOutcome::Completed) << ui_->Lines().back();
  EXPECT_EQ(CompanySteps("OLD"), kFullPass);
  std::vector<std::string> without_run9 = kFullPass;
  without_run9.erase(std::find(without_run9.begin(), without_run9.end(), "ColumnRun9"));
  EXPECT_EQ(CompanySteps("NEWER"), without_run9);
  EXPECT_EQ(StoredVersion("OLD"), "9.07");
  EXPECT_EQ(StoredVersion("NEWER"), "9.07");
  EXPECT_EQ(Values("OLD", "P_HTRX", "BANKAMT"), std::vector<std::string>{"2150.5"});
  EXPECT_EQ(Values("NEWER", "P_HTRX", "BANKAMT"), std::vector<std::string>{""});
  EXPECT_EQ(Values("OLD", "FW_LEVY", "YEAR"), (std::vector<std::string>{"2004", "2007", "2004", "2005", "2005", "2008", "2008"}));
  EXPECT_EQ(Values("NEWER", "FW_LEVY", "YEAR"), (std::vector<std::string>{"2004", "2007", "2008", "2008"}));
  EXPECT_EQ(Values("NEWER", "FW_LEVY", "PERIOD_PART"), (std::vector<std::string>{"1", "1", "1", "1"}));
}

// The data steps of the older releases run inside column run 14: only for a
// database below release 8.60 and with "Update New fields" ticked. Other
// databases keep their report work rows, grades and e-Payslip passwords.
TEST_F(RunDriverTest, OnlyDatabasesBelow860GetTheDataStepsOfOlderReleases) {
  struct Case {
    const char* version;
    bool update_new_fields;  // CheckBox1
    bool steps_run;
  };
  const Case cases[] = {
      {"8.5999", true, true},
      {"8.6", true, false},
      {"9.07", true, false},
      {"8.5", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + (c.update_new_fields ? "" : ", Update New fields unticked"));
    TearDown();
    SetUp();
    AddCompany("ACME", "1", true, c.version);
    const std::string folder = root_ + "COMPANY\\ACME";
    fs::remove(root_ + "COMPANY/ACME/EMPLOYEE.KDT");
    fs::remove(root_ + "COMPANY/ACME/EMPLOYEE.KDI");
    {
      dbaccess::TDbScopedTable scoped;
      scoped.Connection().SetConnectPath(folder);
      scoped.Table().SetTableName("EMPLOYEE");
      for (const char* f : {"EMP_NO", "NEW_IC", "E_PASS", "DIVISION_CODE"}) {
        scoped.Table().FieldDefs().Add(f, dbaccess::ftString, 16);
      }
      scoped.Table().CreateTable();
      scoped.Table().AddIndex("EMP_NO", "EMP_NO", {dbaccess::ixExpression});
      scoped.Table().Open();
      scoped.Table().Append();
      scoped.Table().FieldByName("EMP_NO").SetAsString("E1");
      scoped.Table().FieldByName("NEW_IC").SetAsString("S1234567A");
      scoped.Table().FieldByName("E_PASS").SetAsString("mine");
      scoped.Table().Post();
    }
    ASSERT_EQ(Run({{"CheckBox1", c.update_new_fields}, {"CheckBox5", true}, {"RadioButton1", true}}),
              RunOutcome::Completed)
        << ui_->Lines().back();
    // One value of the company's only row; "-" when the column is not there.
    auto value = [&](const char* table, const char* field) {
      dbaccess::TDbScopedTable scoped;
      scoped.Connection().SetConnectPath(folder);
      scoped.Table().SetTableName(table);
      scoped.Table().Open();
      if (scoped.Table().IsTableEncrypted()) scoped.Table().EnableEncryption(support::AdministratorPassword());
      if (scoped.Table().Eof()) return std::string("(no row)");
      dbaccess::TField* f = scoped.Table().FindField(field);
      return f == nullptr ? std::string("-") : f->AsString();
    };
    EXPECT_EQ(value("RP_HTRX", "EMPCODE"), c.steps_run ? "(no row)" : "E1");
    EXPECT_EQ(value("PAYPARA2", "TYPE"), c.steps_run ? "COM" : "");
    EXPECT_EQ(value("EMP_PROS", "GRADE"), c.steps_run ? "NONE" : "");
    EXPECT_EQ(value("EMP_PROS", "NEW_SALARY"), "2500");
    EXPECT_EQ(value("CODE", "MAPFIELD"), c.steps_run ? "CLM1" : "");
    EXPECT_EQ(value("CODE", "LONG_DESC"), c.steps_run ? "Alpha" : "");
    EXPECT_EQ(value("EMPLOYEE", "E_PASS"), c.steps_run ? "S1234567A" : "mine");
    EXPECT_EQ(StoredVersion("ACME"), "9.07");
    for (const std::string& line : ui_->Messages()) {
      EXPECT_EQ(line.find("Intergity"), std::string::npos) << line;
    }
  }
}

TEST_F(RunDriverTest, NoSelectedRowConnectsNothingButStillEndsTheRun) {
  AddCompany("ACME", "0");
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(driver_->Trace(),
            (std::vector<std::string>{"ExtractWallpaper", "CreateRunFolders", "EmptyTemporaryFolder", "ClearSelection"}));
  EXPECT_EQ(Merges(), (std::vector<std::string>{"ACME="}));
}

TEST_F(RunDriverTest, AnsweringNoDoesNothing) {
  AddCompany("ACME", "1");
  EXPECT_EQ(Run({}, {false}), RunOutcome::Declined);
  EXPECT_TRUE(driver_->Trace().empty());
  EXPECT_EQ(Merges(), (std::vector<std::string>{"ACME=1"}));
  EXPECT_FALSE(form_->Closed());
}

TEST_F(RunDriverTest, ExclusiveOptionsEndEachCompanysWork) {
  struct Case {
    std::vector<std::pair<const char*, bool>> options;
    std::vector<std::string> steps;  // of each of the two companies
  };
  std::vector<std::string> up_to_run7 = {"ConnectCompany", "ColumnRun1", "UpdateLevyTable", "ColumnRun2", "ColumnRun3",
                                         "ColumnRun4", "FillYtdEmpl", "ColumnRun5", "ColumnRun6", "ColumnRun7"};
  auto with = [&](std::vector<std::string> head, std::vector<std::string> tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const Case cases[] = {
      {{{"removeNRIC", true}}, {"ConnectCompany", "BackupCompany", "RemoveNricSlash"}},
      {{{"CheckBoxSAVEJPG", true}, {"CheckBoxbackup", false}}, {"ConnectCompany", "SavePhotographs"}},
      {{{"CheckBoxSupvr1", true}, {"removeNRIC", true}}, {"ConnectCompany", "BackupCompany", "RemoveNricSlash"}},
      {{{"CheckBoxCTR", true}, {"CheckBoxbackup", false}}, with(up_to_run7, {"ConvertCostCentreCodes"})},
      {{{"CheckBoxFin", true}, {"CheckBoxPICTURE", true}, {"CheckBoxbackup", false}},
       with(up_to_run7, {"IncomeTaxNumberFromPass"})},
      {{{"CheckBoxUpdate", true}, {"CheckBoxbackup", false}}, with(up_to_run7, {"ReportTemplateList"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.front().first);
    TearDown();
    SetUp();
    AddCompany("ACME", "1");
    AddCompany("BETA", "1");
    ui_ = std::make_unique<platform::ScriptedUi>(std::initializer_list<bool>{true});
    form_ = std::make_unique<TMainForm>(*ui_);
    form_->FormCreate();
    for (const auto& [name, on] : c.options) form_->options.SetChecked(name, on);
    driver_ = std::make_unique<RunDriver>(*form_);
    ASSERT_EQ(driver_->Process(), RunOutcome::Completed) << ui_->Lines().back();
    EXPECT_EQ(CompanySteps("ACME"), c.steps);
    EXPECT_EQ(CompanySteps("BETA"), c.steps);
  }
}

TEST_F(RunDriverTest, RebuildingRightsIsForDictionaryCompaniesOnly) {
  AddCompany("ACME", "1");
  AddDictionaryCompany("DICT");
  ASSERT_EQ(Run({{"CheckBoxRight", true}}), RunOutcome::Completed) << ui_->Lines().back();
  EXPECT_EQ(CompanySteps("ACME"), kFullPass);  // a free-table company ignores the option
  EXPECT_EQ(CompanySteps("DICT"), (std::vector<std::string>{"ConnectCompany", "BackupCompany", "RebuildAllRights"}));
}

TEST_F(RunDriverTest, DictionaryCompaniesGetTheirOwnSteps) {
  AddDictionaryCompany("DICT");
  ASSERT_EQ(Run(), RunOutcome::Completed) << ui_->Lines().back();
  std::vector<std::string> steps = CompanySteps("DICT");
  auto count = [&](const char* name) { return std::count(steps.begin(), steps.end(), name); };
  EXPECT_EQ(count("NormaliseTableNames"), 3);
  EXPECT_EQ(count("GrantIntpassRights"), 1);
  EXPECT_EQ(count("RebuildRightsAndAutoCreate"), 1);
  EXPECT_EQ(form_->edtdatabase, root_ + "COMPANY\\DICT\\DICT.kdd");
}

TEST_F(RunDriverTest, ACompanyWithoutAUsableBackupIsNotChangedAndTheRunGoesOn) {
  AddCompany("ACME", "1");
  AddCompany("BETA", "1");
  // Nothing to archive: ACME's backup cannot be made.
  for (const auto& entry : fs::directory_iterator(root_ + "COMPANY/ACME")) fs::remove(entry.path());
  ASSERT_EQ(Run(), RunOutcome::Completed) << ui_->Lines().back();
  EXPECT_EQ(CompanySteps("ACME"), (std::vector<std::string>{"ConnectCompany", "BackupCompany"}));
  EXPECT_EQ(CompanySteps("BETA"), kFullPass);
  // The backup's message (the column runs of the other company show their own).
  const std::string want = "message: Backup of company ACME failed: the folder " + root_ +
                           "COMPANY\\ACME holds no database file; the archive " + root_ + "BACKUP\\ACME ";
  const std::vector<std::string> messages = ui_->Messages();
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [&](const std::string& m) { return m.rfind(want, 0) == 0; }),
            1);
  EXPECT_TRUE(fs::is_empty(root_ + "COMPANY/ACME"));
  EXPECT_EQ(StoredVersion("BETA"), "9.07");
  std::vector<std::string> archives;
  for (const auto& entry : fs::directory_iterator(root_ + "BACKUP")) archives.push_back(entry.path().filename().string());
  ASSERT_EQ(archives.size(), 1u);
  EXPECT_EQ(archives[0].rfind("BETA ", 0), 0u) << archives[0];
}

// The marker of an interrupted pass: the next run names the company and the
// archive of the company as it was; a pass that ends removes it, one that
// does not run (not selected) or stops on an error keeps it, with the first
// archive, not the one taken of the half-upgraded company.
TEST_F(RunDriverTest, AnInterruptedPassIsNamedByTheNextRunUntilAPassEnds) {
  AddCompany("ACME", "1");
  AddCompany("BETA", "0");
  AddCompany("GAMMA", "1");
  const std::string acme = root_ + "COMPANY\\ACME";
  WritePassMarker(acme, "C:\\PAY\\BACKUP\\ACME first.zip");
  WritePassMarker(root_ + "COMPANY\\BETA", "");
  ASSERT_EQ(Run(), RunOutcome::Completed) << ui_->Lines().back();
  const std::vector<std::string> messages = ui_->Messages();
  auto shown = [&](const std::string& text) {
    return std::count(messages.begin(), messages.end(), "message: " + text);
  };
  EXPECT_EQ(shown("the upgrade of company ACME was interrupted; run it again, or restore from archive "
                  "C:\\PAY\\BACKUP\\ACME first.zip"),
            1);
  EXPECT_EQ(shown("the upgrade of company BETA was interrupted; run it again"), 1);
  EXPECT_EQ(CompanySteps("ACME"), kFullPass);
  EXPECT_FALSE(ReadPassMarker(acme));
  EXPECT_TRUE(ReadPassMarker(root_ + "COMPANY\\BETA"));  // not selected: still to be looked at
  EXPECT_FALSE(ReadPassMarker(root_ + "COMPANY\\GAMMA"));

  // A pass that stops on an error keeps the marker and its first archive.
  auto select_acme = [&] {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(root_);
    scoped.Table().SetTableName("mcompany.KDT");
    scoped.Table().Open();
    for (scoped.Table().First(); !scoped.Table().Eof(); scoped.Table().Next()) {
      if (scoped.Table().FieldByName("COMPANY_CODE").AsString() != "ACME") continue;
      scoped.Table().Edit();
      scoped.Table().FieldByName("MERGE").SetAsString("1");
      scoped.Table().Post();
    }
  };
  WritePassMarker(acme, "C:\\PAY\\BACKUP\\ACME first.zip");
  fs::remove(root_ + "COMPANY/ACME/transfer.KDT");
  form_.reset();
  select_acme();
  EXPECT_EQ(Run(), RunOutcome::Failed);
  ASSERT_TRUE(ReadPassMarker(acme));
  EXPECT_EQ(ReadPassMarker(acme)->archive, "C:\\PAY\\BACKUP\\ACME first.zip");

  // Without an earlier marker the pass records the archive it took.
  RemovePassMarker(acme);
  form_.reset();
  EXPECT_EQ(Run(), RunOutcome::Failed);  // the failed run kept the selection
  ASSERT_TRUE(ReadPassMarker(acme));
  EXPECT_EQ(ReadPassMarker(acme)->archive.rfind(root_ + "BACKUP\\ACME ", 0), 0u) << ReadPassMarker(acme)->archive;
  EXPECT_FALSE(ReadPassMarker(acme)->started.empty());
}

TEST_F(RunDriverTest, FailuresThatEndTheRunLeaveTheWindowLockedAndTheMarks) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string error_tail;  // the error report ends with this
  };
  const Case cases[] = {
      {"DICTIONARY YES without a dictionary file",
       [&] { std::ofstream(root_ + "KELPA.ini") << "[PATH]\nDICTIONARY=YES\n"; },
       "DbConnection1 " + root_ + "COMPANY\\ACME\\ACME.kdd"},
      {"a company without the transfer table",
       [&] { fs::remove(root_ + "COMPANY/ACME/transfer.KDT"); },
       "transfer.KDT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    AddCompany("ACME", "1");
    c.arrange();
    EXPECT_EQ(Run(), RunOutcome::Failed);
    const std::string& last = ui_->Lines().back();
    EXPECT_EQ(last.rfind("error: ", 0), 0u) << last;
    EXPECT_EQ(last.substr(last.size() - c.error_tail.size()), c.error_tail) << last;
    EXPECT_FALSE(form_->ProcessEnabled());
    EXPECT_FALSE(form_->GridEnabled());
    EXPECT_FALSE(form_->Closed());
    EXPECT_EQ(Merges(), (std::vector<std::string>{"ACME=1"}));
  }
}

}  // namespace
}  // namespace kx8::console
