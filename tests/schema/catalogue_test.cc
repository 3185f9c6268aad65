// Walking the column runs: gates, the steps of other units between the
// entries, guarded and conditional groups, bracket steps on free-table and
// dictionary-bound companies, and whole passes over a small company.
#include "schema/catalogue.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "conversions/release_version.h"
#include "schema/column_upgrade.h"
#include "schema_fixture.h"

namespace kx8::schema {
namespace {

using namespace dbaccess;

class CatalogueTest : public SchemaTest {
 protected:
  // Actions that record the walk in log_: entries as "TABLE.COLUMN", steps
  // as "hook NAME", "hook NAME(argument)", "bracket TABLE", "version",
  // "file NAME". With real_brackets the bracket steps act on the company.
  CatalogueActions Recorder(UpgradeContext& ctx, bool real_brackets = false) {
    CatalogueActions a = CompanyActions(ctx);
    a.upgrade_column = [this](const ColumnEntry& e) {
      log_.push_back(e.table + "." + e.column);
      entries_.push_back(e);
      if (on_entry_) on_entry_(e);
    };
    a.bracket = [this, &ctx, real_brackets](const BracketStep& step) {
      log_.push_back("bracket " + step.table);
      if (fail_bracket_ == step.table) throw std::runtime_error("no " + step.table);
      if (real_brackets) RunBracketStep(ctx, step);
    };
    a.company_file_exists = [this](const std::string& file) {
      log_.push_back("file " + file);
      return files_.count(file) > 0;
    };
    a.hook = [this](const HookCall& call) {
      std::string arg = call.table.empty() ? call.argument : call.table + " " + call.argument;
      log_.push_back(std::string("hook ") + HookName(call.hook) + (arg.empty() ? "" : "(" + arg + ")"));
    };
    a.checked = [this](const std::string& option) { return ticked_.count(option) > 0; };
    a.text = [this](const std::string& edit) { return texts_.at(edit); };
    a.release_version = [this] {
      log_.push_back("version");
      return version_;
    };
    return a;
  }

  // The texts of the message boxes shown so far.
  std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (const std::string& line : ui_.Messages()) {
      if (line.rfind("message: ", 0) == 0) texts.push_back(line.substr(9));
    }
    return texts;
  }

  // The items just before and after the first occurrence of an item.
  std::pair<std::string, std::string> Around(const std::string& item) {
    auto at = std::find(log_.begin(), log_.end(), item);
    if (at == log_.end()) return {"(missing)", "(missing)"};
    return {at == log_.begin() ? "(start)" : *(at - 1), at + 1 == log_.end() ? "(end)" : *(at + 1)};
  }
  bool Logged(const std::string& item) { return std::find(log_.begin(), log_.end(), item) != log_.end(); }

  // The first row's value of a column of an encrypted free table.
  std::string FirstValue(const std::string& table, const std::string& column) {
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName(table);
    t.Table().Open();
    if (t.Table().IsTableEncrypted()) t.Table().EnableEncryption(support::AdministratorPassword());
    t.Table().First();
    return t.Table().FieldByName(column).AsString();
  }
  // The tables the bracket steps of runs 7 and 14 need.
  void MakeBracketTables(bool encrypted) {
    MakeTable("EMPLOYEE", {{"EMP_NO", ftString, 10, 0}}, {{"E1"}}, encrypted);
    MakeTable("EMP_ALW", {{"EMP_NO", ftString, 10, 0}}, {{"E1"}}, encrypted);
    MakeTable("EMPMISC", {{"EMP_NO", ftString, 10, 0}}, {{"E1"}}, encrypted);
  }

  std::vector<std::string> log_;
  std::vector<ColumnEntry> entries_;
  std::function<void(const ColumnEntry&)> on_entry_;
  std::string fail_bracket_;
  std::set<std::string> ticked_ = {"CheckBox1"};
  std::map<std::string, std::string> texts_ = {{"Edit4", "employee"}};
  std::set<std::string> files_;
  std::int64_t version_ = 85000;
};

TEST_F(CatalogueTest, GatesAreReadWhenTheRunIsReached) {
  UpgradeContext& ctx = Context();
  struct Case {
    int run;
    std::set<std::string> ticked;
    std::int64_t version;
    bool runs;
    bool reads_version;
  };
  const Case cases[] = {
      {6, {"chkAC"}, 0, true, false},
      {6, {}, 0, false, false},
      {9, {}, 89000, true, true},  // exactly 8.90
      {9, {}, 89001, false, true},
      {13, {"CheckBox1"}, 0, true, false},
      {13, {}, 0, false, false},
      {14, {"CheckBox1"}, 85999, true, true},
      {14, {"CheckBox1"}, 86000, false, true},  // exactly 8.60
      {14, {}, 0, false, false},                // the version is not read
      {1, {}, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("run " + std::to_string(c.run) + " version " + std::to_string(c.version));
    log_.clear();
    ticked_ = c.ticked;
    version_ = c.version;
    fail_bracket_ = "";
    CatalogueActions a = Recorder(ctx);
    EXPECT_TRUE(RunColumnRun(c.run, ctx, a));
    const bool any_entry = std::any_of(log_.begin(), log_.end(), [](const std::string& s) {
      return s != "version" && s.find(' ') == std::string::npos;
    });
    EXPECT_EQ(any_entry, c.runs);
    EXPECT_EQ(!log_.empty() && log_.front() == "version", c.reads_version);
    EXPECT_EQ(std::count(log_.begin(), log_.end(), "version"), c.reads_version ? 1 : 0);
  }
  EXPECT_EQ(kHighestVersionForRun9, conversions::kVersion890);
  EXPECT_EQ(kVersionEndingRun14, conversions::kVersion860);
}

TEST_F(CatalogueTest, TheStoredVersionDecidesRun9) {
  MakeTable("PAYPARA", {{"VERSION", ftBCD, 0, 0}}, {{"8.9"}});
  UpgradeContext& ctx = Context();
  CatalogueActions a = Recorder(ctx);
  a.release_version = [&ctx] { return conversions::ReadReleaseVersion(ctx); };
  for (const char* stored : {"8.9", "8.9001", "8.9"}) {
    SCOPED_TRACE(stored);
    {
      TDbScopedTable t;
      t.Connection().SetConnectPath(folder_);
      t.Table().SetTableName("PAYPARA");
      t.Table().Open();
      t.Table().First();
      t.Table().Edit();
      t.Table().FieldByName("VERSION").SetAsString(stored);
      t.Table().Post();
    }
    log_.clear();
    RunColumnRun(9, ctx, a);
    EXPECT_EQ(Logged("IR8AR.PROFIT_BEFORE_2003"), std::string(stored) == "8.9");
  }
}

TEST_F(CatalogueTest, StepsOfOtherUnitsRunBetweenTheirEntries) {
  UpgradeContext& ctx = Context();
  ticked_ = {"CheckBox1", "CheckBoxVol"};
  CatalogueActions a = Recorder(ctx);
  for (int run : {1, 5, 7, 9, 14}) ASSERT_TRUE(RunColumnRun(run, ctx, a)) << run;
  struct Case {
    const char *item, *before, *after;
  };
  const Case cases[] = {
      {"hook WriteReportFields(993, 9080, 268, 8)", "GLBODY.LINE", "EMPLOYEE.SUPERVISOR_CODE2"},
      {"hook WriteReportFields(1250)", "CTRSETUP.Geography", "EMP_PROS.END_DATE"},  // run 1 ends, run 5 begins
      {"hook SeedFreeFieldCaptions", "EMPMISC.CHAR15", "TRNNO.TEMP_FOLDER"},
      {"hook AddVoluntaryContributionRows", "EMP_ALW.RATE", "EMPLOYEE.BANK_AC_NO"},
      {"hook WriteReportFields(150)", "TABLE_REF.FAMOUNT", "hook FixListCodes"},
      {"hook FixListCodes", "hook WriteReportFields(150)", "PAYPARA.TEMPLATE_FILE3"},
      {"bracket TRNNO", "CODE.ISENTITLED", "TRNNO.LOAN_REF"},
      {"hook SeedFormulaFields", "IRDX8A.INCOME_TAX", "hook RollForwardLevy2004To2005"},
      {"hook RollForwardLevy2004To2005", "hook SeedFormulaFields", "IR8AR.USERID"},
      {"hook BackfillCareerHistory", "EMPSERV.OLD_JOBGRADE", "P_HTRX.CHEQAMT"},
      {"hook FillPHtrxBankAmount", "P_HTRX.CASHAMT", "NSTRANS.MTH1"},
      {"hook RemoveEmpservBackup", "EMPSERV.GRADE", "LEAV_SET.APPLY_NOTICE_PRD"},
      {"hook DefaultPaypara2Type", "PAYPARA2.TYPE", "YTDEMPL.MSOADDWAGE"},
      {"hook TakeEmpProsSalaryTotal", "BONUS.REPTYPE", "EMP_PROS.MVP2000_INDICATOR"},
      {"hook CheckEmpProsSalaryTotal", "EMP_PROS.SVC", "hook EmptyRpHtrx"},
      {"hook ResetEPayslipPasswords", "hook EmptyRpHtrx", "bracket EMPLOYEE"},
      {"hook RemoveColumn(CLAIMGRP DESC)", "CLAIMGRP.DESCFLD", "CASUAL.BATCHNO"},
      {"hook CloseCodeTables", "QUERY.STATUS2", "CODE.MAPFIELD"},
      {"hook FillCodeAndGradeColumns", "CODE.MAPFIELD", "bracket EMPMISC"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Around(c.item), std::make_pair(std::string(c.before), std::string(c.after))) << c.item;
  }
  // Run 14: EMPLOYEE decrypted, its entries, encrypted, then SETUP; EMP_ALW
  // decrypted and encrypted with nothing in between.
  EXPECT_EQ(Around("EMPLOYEE.RELIEFGRP").first, "bracket EMPLOYEE");
  EXPECT_EQ(Around("SETUP.QUERYRP").first, "bracket EMPLOYEE");
  EXPECT_EQ(Around("FAMILY.IC_PASSPORT_NUM"), std::make_pair(std::string("bracket EMP_ALW"), std::string("FAMILY.DEP_INDICATOR")));
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "bracket EMP_ALW"), 2);
  EXPECT_EQ(log_.back(), "bracket EMPMISC");
  // Without CheckBoxVol its step does not run.
  log_.clear();
  ticked_ = {};
  RunColumnRun(7, ctx, a);
  EXPECT_FALSE(Logged("hook AddVoluntaryContributionRows"));
}

TEST_F(CatalogueTest, CostCentreConversionEndsThePassInsideRun7) {
  UpgradeContext& ctx = Context();
  ticked_ = {"CheckBoxCTR"};
  CatalogueActions a = Recorder(ctx);
  EXPECT_FALSE(RunColumnRun(7, ctx, a));
  ASSERT_GE(log_.size(), 2u);
  EXPECT_EQ(log_.back(), "hook ConvertCostCentreCodes");
  EXPECT_EQ(log_[log_.size() - 2], "CODE.ENABLENOTIFYOTHER");
}

TEST_F(CatalogueTest, ApprovalFlowAndCasualdGroupsRunOnlyOnTheirConditions) {
  UpgradeContext& ctx = Context();
  CatalogueActions a = Recorder(ctx);
  auto flow_entries = [&] {
    std::vector<std::string> flow;
    for (const ColumnEntry& e : entries_) {
      if (e.column.rfind("SUPERVISOR_CODE", 0) == 0 || e.column.rfind("STIN", 0) == 0) {
        flow.push_back(e.table + "." + e.column + (e.encrypted ? " 1" : " 0"));
      }
    }
    return flow;
  };
  // Ticked, with the default text: six entries on "employee" as typed, then six on EMPLEAVE.
  ticked_ = {"CheckBox1", "CheckBox6"};
  RunColumnRun(14, ctx, a);
  EXPECT_EQ(flow_entries(), (std::vector<std::string>{
                                "employee.SUPERVISOR_CODE 1", "employee.SUPERVISOR_CODE2 1", "employee.SUPERVISOR_CODE3 1",
                                "employee.STIN 1", "employee.STIN2 1", "employee.STIN3 1", "EMPLEAVE.SUPERVISOR_CODE 0",
                                "EMPLEAVE.SUPERVISOR_CODE2 0", "EMPLEAVE.SUPERVISOR_CODE3 0", "EMPLEAVE.STIN 0",
                                "EMPLEAVE.STIN2 0", "EMPLEAVE.STIN3 0"}));
  // The text is read afresh for each entry.
  entries_.clear();
  on_entry_ = [this](const ColumnEntry& e) {
    if (e.column == "SUPERVISOR_CODE3" && e.table == "employee") texts_["Edit4"] = "EMPFLOW";
  };
  RunColumnRun(14, ctx, a);
  EXPECT_EQ(flow_entries()[3], "EMPFLOW.STIN 1");
  on_entry_ = nullptr;
  // An empty text, or CheckBox6 unticked: none of the twelve; ISURGENT still runs.
  for (const auto& [ticked, text] : {std::make_pair(std::set<std::string>{"CheckBox1", "CheckBox6"}, std::string("")),
                                     std::make_pair(std::set<std::string>{"CheckBox1"}, std::string("employee"))}) {
    entries_.clear();
    log_.clear();
    ticked_ = ticked;
    texts_["Edit4"] = text;
    RunColumnRun(14, ctx, a);
    EXPECT_TRUE(flow_entries().empty());
    EXPECT_EQ(Around("EMPLEAVE.ISURGENT").first, "EMPLEAVE.AMPM");
  }
  // A typed name that is not a plain table name would reach files outside
  // the company folder: refused with a message, none of the twelve.
  for (const char* text : {"..\\PAYROLL", "C:EMP", "EMP/X", "EMP FLOW"}) {
    SCOPED_TRACE(text);
    entries_.clear();
    ui_.Clear();
    ticked_ = {"CheckBox1", "CheckBox6"};
    texts_["Edit4"] = text;
    RunColumnRun(14, ctx, a);
    EXPECT_TRUE(flow_entries().empty());
    EXPECT_EQ(ui_.Messages(), std::vector<std::string>{std::string("message: Table name ") + text +
                                                       " cannot name a company table; the approval flow columns were not added."});
  }
  texts_["Edit4"] = "employee";
  ticked_ = {"CheckBox1"};
  // CASUALD: the five entries only when the company folder holds CASUALD.KDT.
  EXPECT_EQ(Around("file CASUALD.KDT"), std::make_pair(std::string("EMPLEAVE.ISURGENT"), std::string("EMP_ALW.STARTDATE")));
  EXPECT_FALSE(Logged("CASUALD.CDAC"));
  log_.clear();
  files_ = {"CASUALD.KDT"};
  RunColumnRun(14, ctx, a);
  EXPECT_EQ(Around("CASUALD.CDAC").first, "file CASUALD.KDT");
  EXPECT_EQ(Around("CASUALD.COMC").second, "EMP_ALW.STARTDATE");
  // The real test looks for the file in the company folder.
  CatalogueActions real = CompanyActions(ctx);
  EXPECT_FALSE(real.company_file_exists("CASUALD.KDT"));
  MakeTable("CASUALD", {{"EMPCODE", ftString, 12, 0}});
  EXPECT_TRUE(real.company_file_exists("CASUALD.KDT"));
}

TEST_F(CatalogueTest, GuardedGroupsShowTheirMessagesAndGoOn) {
  UpgradeContext& ctx = Context();
  CatalogueActions a = Recorder(ctx);
  std::string failing;
  on_entry_ = [&](const ColumnEntry& e) {
    if (e.table + "." + e.column == failing) throw std::runtime_error("boom");
  };
  // Run 2, message A: the error, " SQL ", the work query's text; the rest of the run is skipped.
  failing = "PLACEMENT_SALARY.BILLRATE";
  query_->SQL().Clear();
  query_->SQL().Add("ALTER TABLE \"PLACEMENT_SALARY.KDT\"");
  EXPECT_TRUE(RunColumnRun(2, ctx, a));
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"boom SQL " + query_->SQL().Text()}));
  EXPECT_FALSE(Logged("DODIZA_CYCLE.BILLRATE"));
  // Run 4, message B.
  ui_.Clear();
  failing = "YTDEMPL.ORI_OWWAGE";
  EXPECT_TRUE(RunColumnRun(4, ctx, a));
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Add Field Function boom"}));
  // Run 11: silent, also for its decrypt step.
  ui_.Clear();
  log_.clear();
  fail_bracket_ = "EMAILPROFILE";
  EXPECT_TRUE(RunColumnRun(11, ctx, a));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(log_, (std::vector<std::string>{"bracket EMAILPROFILE"}));
  failing = "EMAILPROFILE.LOTUS_PASSWORD";
  fail_bracket_ = "";
  log_.clear();
  EXPECT_TRUE(RunColumnRun(11, ctx, a));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(log_.back(), "EMAILPROFILE.LOTUS_PASSWORD");
  // Run 14's three inner blocks: each shows its message and the run goes on after it.
  log_.clear();
  fail_bracket_ = "WKCSTREC";
  failing = "TRNNO.AUTO3";
  RunColumnRun(14, ctx, a);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"TRNNO.kdt no WKCSTREC", "TRNNO.kdt boom"}));
  EXPECT_FALSE(Logged("WKCSTREC.NETT_WAGE"));
  EXPECT_EQ(Around("TRNNO.AUTO1").first, "bracket WKCSTREC");
  EXPECT_EQ(Around("TRNNO.AUTO3").second, "PUBLIC.STATE");
  ui_.Clear();
  fail_bracket_ = "";
  failing = "BONUS.REPTYPE";
  RunColumnRun(14, ctx, a);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"BONUS FIELD REPTYPE boom"}));
  EXPECT_EQ(Around("BONUS.REPTYPE").second, "hook TakeEmpProsSalaryTotal");
  // Outside the blocks the error is passed on.
  ui_.Clear();
  failing = "GLLINE.ITEMTEXT";
  EXPECT_THROW(RunColumnRun(1, ctx, a), std::runtime_error);
  failing = "";
  fail_bracket_ = "EMPLOYEE";
  EXPECT_THROW(RunColumnRun(14, ctx, a), std::runtime_error);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(CatalogueTest, BracketStepsOnAFreeTableCompany) {
  MakeBracketTables(true);
  MakeTable("WKCSTREC", {{"EMP_NO", ftString, 10, 0}}, {{"E1"}});
  MakeTable("TRNNO", {{"ID", ftInteger, 0, 0}}, {{"1"}}, true);
  MakeTable("EMAILPROFILE", {{"ID", ftInteger, 0, 0}}, {{"1"}}, true);
  UpgradeContext& ctx = Context();
  CatalogueActions a = Recorder(ctx, true);
  // The state of the table at each of its entries.
  std::map<std::string, std::set<bool>> encrypted_at;
  on_entry_ = [&](const ColumnEntry& e) {
    if (e.table == "EMPLOYEE" || e.table == "EMPMISC" || e.table == "TRNNO") {
      encrypted_at[e.table + (e.encrypted ? " 1" : " 0")].insert(StoredEncrypted(e.table));
    }
  };
  ASSERT_TRUE(RunColumnRun(7, ctx, a));
  EXPECT_FALSE(StoredEncrypted("TRNNO"));  // stays decrypted
  ASSERT_TRUE(RunColumnRun(11, ctx, a));
  work_->Close();
  EXPECT_FALSE(StoredEncrypted("EMAILPROFILE"));
  ASSERT_TRUE(RunColumnRun(14, ctx, a));
  EXPECT_TRUE(Boxes().empty()) << Boxes().front();
  EXPECT_EQ(encrypted_at["EMPLOYEE 0"], std::set<bool>{false});  // decrypted around its flag-0 entries
  EXPECT_EQ(encrypted_at["EMPMISC 0"], std::set<bool>{false});
  EXPECT_EQ(encrypted_at["EMPLOYEE 1"], std::set<bool>{true});   // runs 7 and 14 otherwise
  EXPECT_EQ(encrypted_at["TRNNO 0"], std::set<bool>{false});
  for (const char* table : {"EMPLOYEE", "EMP_ALW", "EMPMISC", "WKCSTREC"}) {
    EXPECT_TRUE(StoredEncrypted(table)) << table;
    EXPECT_EQ(FirstValue(table, "EMP_NO"), "E1") << table;
  }
  // A bracket on a missing table passes the error on, unless its block guards it.
  fs::remove(base_ / "COMPANY" / "ACME" / "TRNNO.KDT");
  EXPECT_ANY_THROW(RunColumnRun(7, ctx, a));
  fs::remove(base_ / "COMPANY" / "ACME" / "WKCSTREC.KDT");
  ui_.Clear();
  ASSERT_TRUE(RunColumnRun(14, ctx, a));
  ASSERT_FALSE(Boxes().empty());
  EXPECT_EQ(Boxes()[0].rfind("TRNNO.kdt ", 0), 0u) << Boxes()[0];
  EXPECT_GT(Boxes()[0].size(), std::string("TRNNO.kdt ").size());
  fs::remove(base_ / "COMPANY" / "ACME" / "EMP_ALW.KDT");
  EXPECT_ANY_THROW(RunColumnRun(14, ctx, a));
}

TEST_F(CatalogueTest, BracketStepsOnADictionaryCompany) {
  MakeBracketTables(false);
  MakeTable("WKCSTREC", {{"EMP_NO", ftString, 10, 0}});
  MakeDictionary({{"EMPLOYEE", true}, {"EMP_ALW", true}, {"EMPMISC", true}, {"WKCSTREC", false}});
  UpgradeContext& ctx = Context();
  CatalogueActions a = Recorder(ctx, true);
  std::set<std::uint16_t> empmisc_214;
  on_entry_ = [&](const ColumnEntry& e) {
    if (e.table == "EMPMISC" && !e.encrypted) empmisc_214.insert(Property("EMPMISC", 214));
  };
  // The TRNNO step is skipped entirely: a company without TRNNO goes on.
  ASSERT_TRUE(RunColumnRun(7, ctx, a));
  ASSERT_TRUE(RunColumnRun(14, ctx, a));
  EXPECT_TRUE(Boxes().empty()) << Boxes().front();
  EXPECT_EQ(empmisc_214, std::set<std::uint16_t>{0});  // DecryptDictionaryTable before its entries
  EXPECT_EQ(Property("EMPMISC", 214), 1);              // EnsureDictionaryTable after them
  EXPECT_EQ(Property("EMPMISC", 203), 1);
  for (const char* user : {"readuser", "KELPAVON8", "USER88", "QRN"}) EXPECT_TRUE(UserCanRead(user, "EMPMISC")) << user;
  // The other brackets leave the dictionary's encryption alone.
  EXPECT_EQ(Property("EMPLOYEE", 214), 1);
  EXPECT_EQ(Property("EMP_ALW", 214), 1);
  EXPECT_EQ(Property("WKCSTREC", 214), 0);
  EXPECT_EQ(company_->ConnectPath(), kdd_);
  // They still open their tables: a missing one ends the run.
  fs::remove(base_ / "COMPANY" / "ACME" / "EMP_ALW.KDT");
  EXPECT_ANY_THROW(RunColumnRun(14, ctx, a));
}

// A whole pass, every run with the real primitive, over a small company at
// release 8.50 with chkAC and CheckBox1 ticked.
class CataloguePassTest : public CatalogueTest {
 protected:
  void MakeCompany(bool dictionary) {
    const bool enc = !dictionary;  // a dictionary encrypts through property 214
    MakeTable("PAYPARA", {{"VERSION", ftBCD, 0, 0}, {"COMPANY", ftString, 30, 0}}, {{"8.5", "Acme"}});
    MakeTable("GLLINE", {{"LINE", ftString, 10, 0}, {"ITEMTEXT", ftString, 30, 0}}, {{"1234", "x"}});
    MakeTable("GLHEADER", {{"LINE", ftString, 10, 0}, {"CATEGORY", ftString, 12, 0}});
    MakeTable("GLBODY", {{"LINE", ftString, 10, 0}});
    MakeTable("CODE", {{"CODE", ftString, 8, 0}, {"DESC", ftString, 60, 0}}, {{"C1", "first"}});
    MakeTable("TRNNO", {{"ID", ftInteger, 0, 0}}, {{"1"}});
    MakeTable("EMPLOYEE",
              {{"EMP_NO", ftString, 10, 0}, {"EMAIL_AC_NO", ftString, 40, 0}, {"EMG_ADDR21", ftString, 30, 0},
               {"EMG_ADDR22", ftString, 30, 0}, {"EMG_ADDR23", ftString, 30, 0}, {"BANK_AC_NO", ftString, 20, 0},
               {"SEX_TITLE", ftString, 4, 0}},
              {{"E1", "e1@acme.sg"}}, enc);
    MakeTable("EMP_BNK", {{"EMP_NO", ftString, 10, 0}, {"BANK_AC_NO", ftString, 20, 0}}, {{"E1", "001"}}, enc);
    MakeTable("EXCELTEMPLATE", {{"ID", ftInteger, 0, 0}});
    MakeTable("IRDX8A", {{"EMP_NO", ftString, 10, 0}}, {{"E1"}}, enc);
    MakeTable("EMP_ALW", {{"EMP_NO", ftString, 10, 0}}, {{"E1"}}, enc);
    MakeTable("EMPMISC", {{"EMP_NO", ftString, 10, 0}}, {{"E1"}}, enc);
    if (dictionary) {
      MakeDictionary({{"PAYPARA", false}, {"GLLINE", false}, {"GLHEADER", false}, {"GLBODY", false}, {"CODE", false},
                      {"TRNNO", false}, {"EMPLOYEE", true}, {"EMP_BNK", true}, {"EXCELTEMPLATE", false},
                      {"IRDX8A", true}, {"EMP_ALW", true}, {"EMPMISC", true}});
    }
  }

  // One pass; returns the entries that sent a statement, as "TABLE.COLUMN CODE SIZE".
  std::vector<std::string> Pass(UpgradeContext& ctx) {
    CatalogueActions a = CompanyActions(ctx);
    std::vector<std::string> sent;
    a.upgrade_column = [&](const ColumnEntry& e) {
      ctx.work_query.SQL().Clear();
      UpgradeColumn(ctx, e.table, e.column, e.code, e.size, e.encrypted);
      if (ctx.work_query.SQL().Count() > 0) sent.push_back(e.table + "." + e.column + " " + e.code + " " + e.size);
    };
    a.hook = [](const HookCall&) {};
    a.checked = [this](const std::string& option) { return ticked_.count(option) > 0; };
    a.text = [this](const std::string& edit) { return texts_.at(edit); };
    a.release_version = [&ctx] { return conversions::ReadReleaseVersion(ctx); };
    for (int run = 1; run <= 15; ++run) EXPECT_TRUE(RunColumnRun(run, ctx, a)) << run;
    return sent;
  }

  void ExpectFinalColumns() {
    struct Want {
      const char *table, *column;
      TFieldType type;
      int size;  // data size: characters + 1 for text
    };
    const Want wanted[] = {
        {"GLLINE", "LINE", ftString, 5},           {"GLHEADER", "LINE", ftString, 5},
        {"GLBODY", "LINE", ftString, 5},           {"EMP_BNK", "DESCR4", ftString, 201},
        {"EMP_BNK", "B_COUNTRY", ftString, 31},    {"EXCELTEMPLATE", "PAYCODE", ftString, 11},
        {"TRNNO", "DATABASE_NAME", ftString, 256}, {"TRNNO", "DATABASE_NAME2", ftString, 256},
        {"CODE", "MAPCODE", ftString, 17},         {"EMPLOYEE", "EMG_ADDR21", ftString, 61},
        {"IRDX8A", "TAX_REMARK", ftString, 51},    {"PAYPARA", "COMPANY", ftString, 61},
        {"EMPLOYEE", "EMAIL_AC_NO", ftString, 51}, {"EMP_BNK", "TRXID", ftAutoInc, 4},
        {"GLLINE", "WAGETYPE", ftString, 51},      {"TRNNO", "LOAN_REF", ftInteger, 4},
        {"EMPMISC", "CHECKFLAG10", ftBoolean, 1},  {"EMP_ALW", "STARTDATE", ftDate, 4},
        {"PAYPARA", "SCORE", ftCurrency, 8},
    };
    for (const Want& w : wanted) {
      EXPECT_EQ(Column(w.table, w.column), std::make_pair(w.type, w.size)) << w.table << "." << w.column;
    }
    // Every column the catalogue names on these tables exists (the flow table is "employee").
    for (const IssuedColumn& c : IssuedColumns()) {
      if (c.table == kFlowTable || c.table == "CASUALD") continue;
      if (std::set<std::string>{"PAYPARA", "GLLINE", "GLHEADER", "GLBODY", "CODE", "TRNNO", "EMPLOYEE", "EMP_BNK",
                                "EXCELTEMPLATE", "IRDX8A", "EMP_ALW", "EMPMISC"}
              .count(c.table) == 0) {
        continue;
      }
      EXPECT_NE(Column(c.table, c.column).first, ftUnknown) << c.table << "." << c.column;
    }
  }

  // What a second pass sends: the widths set twice, the one "AS" entry
  // that now finds the column its "C" entry created, and the e-mail width
  // that runs 6 and 14 set differently.
  const std::vector<std::string> kSecondPass = {
      "GLLINE.LINE AS 8",    "GLHEADER.LINE AS 8",           "GLBODY.LINE AS 8",
      "CODE.MAPCODE AS 16",  "EMPLOYEE.EMAIL_AC_NO AS 80",   "GLLINE.LINE AS 4",
      "GLHEADER.LINE AS 4",  "GLBODY.LINE AS 4",             "EMPLOYEE.EMAIL_AC_NO AS 50",
  };

  void SetUp() override {
    CatalogueTest::SetUp();
    ticked_ = {"chkAC", "CheckBox1"};
  }
};

TEST_F(CataloguePassTest, FreeTableCompany) {
  MakeCompany(false);
  UpgradeContext& ctx = Context();
  std::vector<std::string> first = Pass(ctx);
  // The only messages: the "AS" entry before its column exists, and the
  // run 14 block of a company without WKCSTREC.
  std::vector<std::string> messages = Boxes();
  ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
  EXPECT_NE(messages[0].find(" Table Name CODE\r\n SQL "), std::string::npos) << messages[0];
  EXPECT_EQ(messages[1].rfind("TRNNO.kdt ", 0), 0u) << messages[1];
  EXPECT_NE(std::find(first.begin(), first.end(), "CODE.MAPCODE C 8"), first.end());
  EXPECT_EQ(Column("CODE", "MAPCODE"), std::make_pair(ftString, 9));  // created at 8, widened next pass
  for (const char* table : {"EMPLOYEE", "EMP_BNK", "IRDX8A", "EMP_ALW", "EMPMISC"}) {
    EXPECT_TRUE(StoredEncrypted(table)) << table;
    EXPECT_EQ(FirstValue(table, "EMP_NO"), "E1") << table;
  }
  EXPECT_FALSE(StoredEncrypted("TRNNO"));
  EXPECT_EQ(FirstValue("GLLINE", "LINE"), "1234");
  EXPECT_EQ(FirstValue("EMPLOYEE", "EMAIL_AC_NO"), "e1@acme.sg");

  ui_.Clear();
  EXPECT_EQ(Pass(ctx), kSecondPass);
  EXPECT_EQ(Boxes().size(), 1u) << ::testing::PrintToString(Boxes());  // WKCSTREC again
  ExpectFinalColumns();
}

TEST_F(CataloguePassTest, DictionaryCompany) {
  MakeCompany(true);
  UpgradeContext& ctx = Context();
  Pass(ctx);
  std::vector<std::string> messages = Boxes();
  ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
  ui_.Clear();
  EXPECT_EQ(Pass(ctx), kSecondPass);
  ExpectFinalColumns();
  for (const char* table : {"EMPLOYEE", "EMP_BNK", "IRDX8A", "EMP_ALW", "EMPMISC"}) {
    EXPECT_EQ(Property(table, 214), 1) << table;
    EXPECT_EQ(Property(table, 203), 1) << table;
  }
  for (const char* table : {"EMPLOYEE", "EMP_BNK", "GLLINE", "EMPMISC"}) {
    for (const char* user : {"readuser", "KELPAVON8", "USER88", "QRN"}) {
      EXPECT_TRUE(UserCanRead(user, table)) << user << " " << table;
    }
  }
  EXPECT_EQ(company_->ConnectPath(), kdd_);
}

}  // namespace
}  // namespace kx8::schema
