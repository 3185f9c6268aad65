// The data steps that a company below release 8.60 receives between the
// column entries: backup table removal, the PAYPARA2 TYPE default, the
// EMP_PROS salary check around its restructuring, the emptying of RP_HTRX
// and the CODE and EMP_PROS fill-ins, on free-table and dictionary-bound
// companies.
#include "conversions/pre860_steps.h"

#include "conversion_fixture.h"
#include "dbaccess/db_rewrite_deferral.h"
#include "schema/column_upgrade.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;
namespace fs = std::filesystem;

class Pre860StepsTest : public ConversionTest {
 protected:
  // The main window's salary query: before it opens on a free-table
  // company, the statement gets the administrator password.
  TDbQuery& SalaryQuery() {
    salary_query_ = std::make_unique<TDbQuery>();
    salary_query_->SetDbConnection(company_.get());
    salary_query_->DbTableOptions().SetDbRightsCheck(false);
    salary_query_->SetBeforeOpen([this](TDbDataSet&) {
      if (!salary_query_->DbConnection()->IsDictionaryConnection()) {
        salary_query_->SetStatementPassword(support::AdministratorPassword());
        salary_query_->SetTablePassword("EMP_PROS.KDT", support::AdministratorPassword());
      }
    });
    return *salary_query_;
  }
  void TearDown() override {
    salary_query_.reset();
    ConversionTest::TearDown();
  }

  // The files of the company folder that a restructure kept as backups.
  std::vector<std::string> BackupFiles() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(base_ / "COMPANY" / "ACME")) {
      std::string name = e.path().filename().string();
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".BAK") == 0) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // A table with an index tag, so that its backup has an index companion.
  void MakeIndexedTable(const std::string& name, std::vector<TFieldDef> fields,
                        std::vector<std::vector<std::string>> rows, bool encrypted) {
    const std::string key = fields.front().Name;
    MakeTable(name, std::move(fields), std::move(rows));
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName(name);
    t.Table().AddIndex("PRIMARY", key, {ixExpression});
    if (encrypted) {
      t.Table().SetExclusive(true);
      t.Table().Open();
      t.Table().EnableEncryption(support::AdministratorPassword());
      t.Table().EncryptTable();
    }
  }

  void MakeEmpPros(bool encrypted) {
    MakeIndexedTable("EMP_PROS",
                     {{"EMP_CODE", ftString, 12, 0}, {"NEW_SALARY", ftBCD, 0, 0}, {"GRADE", ftString, 8, 0}},
                     {{"E1", "1234.5678", "G1"}, {"E2", "2000", ""}, {"E3", "", ""}}, encrypted);
  }

  std::unique_ptr<TDbQuery> salary_query_;
};

TEST_F(Pre860StepsTest, EmptyPaypara2TypesGetComAndFilledOnesKeepTheirs) {
  struct Case {
    const char* what;
    bool has_type;        // the column is there before the entry
    bool dictionary;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"free table with the column", true, false, {"2008|COM", "2009|IND", "2010|COM"}},
      {"free table, column added by the entry", false, false, {"2008|COM", "2009|COM", "2010|COM"}},
      {"dictionary-bound", true, true, {"2008|COM", "2009|IND", "2010|COM"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    ui_.Clear();
    std::vector<TFieldDef> fields = {{"YEAR", ftString, 4, 0}};
    std::vector<std::vector<std::string>> rows = {{"2008"}, {"2009"}, {"2010"}};
    if (c.has_type) {
      fields.push_back({"TYPE", ftString, 3, 0});
      rows = {{"2008", ""}, {"2009", "IND"}, {"2010", ""}};
    }
    MakeTable("PAYPARA2", fields, rows, !c.dictionary);
    if (c.dictionary) MakeDictionary({{"PAYPARA2", true}});
    schema::UpgradeContext& ctx = Context();
    // The entry just before leaves the work table closed, exclusive and
    // named PAYPARA2.
    schema::UpgradeColumn(ctx, "PAYPARA2", "TYPE", "C", "3", true);
    DefaultPaypara2Type(ctx);
    EXPECT_EQ(Rows("PAYPARA2", {"YEAR", "TYPE"}), c.want);
    EXPECT_FALSE(ctx.work_table.Active());
    EXPECT_TRUE(ui_.Messages().empty());
    if (!c.dictionary) {
      EXPECT_TRUE(StoredEncrypted("PAYPARA2"));
    }
  }
}

TEST_F(Pre860StepsTest, AMissingPaypara2EndsTheRun) {
  schema::UpgradeContext& ctx = Context();
  schema::UpgradeColumn(ctx, "PAYPARA2", "TYPE", "C", "3", true);  // skipped quietly
  EXPECT_THROW(DefaultPaypara2Type(ctx), std::exception);
}

// The salary total is taken before EMP_PROS is restructured and checked
// after: on a free-table company the table is decrypted in between and
// encrypted again after, and the backup the restructure left is removed.
TEST_F(Pre860StepsTest, SalaryTotalSurvivesTheRestructureOfEmpPros) {
  for (bool dictionary : {false, true}) {
    SCOPED_TRACE(dictionary ? "dictionary-bound" : "free tables");
    TearDown();
    SetUp();
    ui_.Clear();
    MakeEmpPros(!dictionary);
    if (dictionary) MakeDictionary({{"EMP_PROS", true}});
    schema::UpgradeContext& ctx = Context();
    TDbQuery& salary = SalaryQuery();
    const SalaryTotal total = TakeEmpProsSalaryTotal(ctx, salary);
    EXPECT_EQ(total, 32345678);  // 3234.5678 as money
    if (!dictionary) {
      EXPECT_FALSE(StoredEncrypted("EMP_PROS"));
    }
    // The EMP_PROS entries of the run, which name it unencrypted.
    for (const char* column : {"MVP2000_INDICATOR", "GROSS_PAY", "JOBGRADE"}) {
      schema::UpgradeColumn(ctx, "EMP_PROS", column, column == std::string("GROSS_PAY") ? "$" : "C", "8", false);
    }
    EXPECT_EQ(BackupFiles(), (std::vector<std::string>{"EMP_PROS.KDI.BAK", "EMP_PROS.KDT.BAK"}));
    CheckEmpProsSalaryTotal(ctx, salary, total);
    EXPECT_TRUE(ui_.Messages().empty());
    EXPECT_TRUE(BackupFiles().empty());
    EXPECT_TRUE(ctx.company.IsConnected());
    if (!dictionary) {
      EXPECT_TRUE(StoredEncrypted("EMP_PROS"));
    }
    EXPECT_EQ(Rows("EMP_PROS", {"EMP_CODE", "NEW_SALARY", "JOBGRADE"}),
              (std::vector<std::string>{"E1|1234.5678|", "E2|2000|", "E3||"}));
  }
}

TEST_F(Pre860StepsTest, AChangedSalaryTotalIsShownAndThePassGoesOn) {
  struct Case {
    const char* what;
    const char* new_salary;  // of E1 between the halves
    bool shown;
  };
  const Case cases[] = {
      {"unchanged", "1234.5678", false},
      {"changed in the fourth decimal", "1234.5679", true},
      {"a salary emptied", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    ui_.Clear();
    MakeEmpPros(true);
    schema::UpgradeContext& ctx = Context();
    TDbQuery& salary = SalaryQuery();
    const SalaryTotal total = TakeEmpProsSalaryTotal(ctx, salary);
    {
      // Between the halves the table is plain: no password is needed.
      TDbScopedTable t;
      t.Connection().SetConnectPath(folder_);
      t.Table().SetTableName("EMP_PROS");
      t.Table().Open();
      t.Table().Edit();
      if (*c.new_salary == '\0') {
        t.Table().FieldByName("NEW_SALARY").Clear();
      } else {
        t.Table().FieldByName("NEW_SALARY").SetAsString(c.new_salary);
      }
      t.Table().Post();
    }
    EXPECT_NO_THROW(CheckEmpProsSalaryTotal(ctx, salary, total));
    const std::vector<std::string> shown = {"message: Data Intergity error in EMP_PROS.KDT found !"};
    EXPECT_EQ(ui_.Messages(), c.shown ? shown : std::vector<std::string>{});
    EXPECT_TRUE(StoredEncrypted("EMP_PROS"));
    EXPECT_EQ(Rows("EMP_PROS", {"EMP_CODE"}), (std::vector<std::string>{"E1", "E2", "E3"}));
  }
}

TEST_F(Pre860StepsTest, TheEmpservBackupIsRemovedWhenThereIsOne) {
  MakeIndexedTable("EMPSERV", {{"EMP_CODE", ftString, 12, 0}}, {{"E1"}, {"E2"}}, true);
  schema::UpgradeContext& ctx = Context();
  RemoveEmpservBackup(ctx);  // none yet: nothing happens
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_TRUE(ctx.company.IsConnected());
  schema::UpgradeColumn(ctx, "EMPSERV", "COMPANY", "C", "8", true);
  schema::UpgradeColumn(ctx, "EMPSERV", "GRADE", "C", "8", true);
  ASSERT_EQ(BackupFiles(), (std::vector<std::string>{"EMPSERV.KDI.BAK", "EMPSERV.KDT.BAK"}));
  RemoveEmpservBackup(ctx);
  EXPECT_TRUE(BackupFiles().empty());
  EXPECT_TRUE(ctx.company.IsConnected());
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(Rows("EMPSERV", {"EMP_CODE", "GRADE"}), (std::vector<std::string>{"E1|", "E2|"}));
}

// With rewrites deferred the changes have not made the backup yet when the
// step runs: it is made first and removed, not left for the end of the pass.
TEST_F(Pre860StepsTest, TheEmpservBackupOfChangesStillWaitingIsRemovedToo) {
  MakeIndexedTable("EMPSERV", {{"EMP_CODE", ftString, 12, 0}}, {{"E1"}, {"E2"}}, true);
  schema::UpgradeContext& ctx = Context();
  TDbRewriteDeferral deferral;
  schema::UpgradeColumn(ctx, "EMPSERV", "COMPANY", "C", "8", true);
  schema::UpgradeColumn(ctx, "EMPSERV", "GRADE", "C", "8", true);
  ASSERT_TRUE(BackupFiles().empty());
  RemoveEmpservBackup(ctx);
  deferral.End();
  EXPECT_TRUE(BackupFiles().empty());
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(Rows("EMPSERV", {"EMP_CODE", "GRADE"}), (std::vector<std::string>{"E1|", "E2|"}));
}

TEST_F(Pre860StepsTest, RpHtrxLosesEveryRowAndStaysEncrypted) {
  MakeTable("RP_HTRX", {{"EMPCODE", ftString, 12, 0}, {"PERIOD", ftString, 6, 0}},
            {{"E1", "200901"}, {"E2", "200901"}}, true);
  schema::UpgradeContext& ctx = Context();
  EmptyRpHtrx(ctx);
  EXPECT_TRUE(Rows("RP_HTRX", {"EMPCODE"}).empty());
  EXPECT_TRUE(StoredEncrypted("RP_HTRX"));
  EXPECT_FALSE(ctx.work_table.Active());
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(Pre860StepsTest, RpHtrxThatCannotBeEmptiedEndsTheRun) {
  MakeTable("RP_HTRX", {{"EMPCODE", ftString, 12, 0}}, {{"E1"}}, true);
  schema::UpgradeContext& ctx = Context();
  {
    // Held by another user: it cannot be opened exclusively.
    TDbScopedTable other;
    other.Connection().SetConnectPath(folder_);
    other.Table().SetTableName("RP_HTRX");
    other.Table().Open();
    EXPECT_THROW(EmptyRpHtrx(ctx), std::exception);
  }
  EXPECT_EQ(Rows("RP_HTRX", {"EMPCODE"}), (std::vector<std::string>{"E1"}));
  fs::remove(base_ / "COMPANY" / "ACME" / "RP_HTRX.KDT");
  EXPECT_THROW(EmptyRpHtrx(ctx), std::exception);
  EXPECT_FALSE(ctx.work_table.Active());
}

TEST_F(Pre860StepsTest, FillInsTouchNullValuesOnly) {
  MakeTable("CODE",
            {{"CODE", ftString, 8, 0}, {"DESC", ftString, 30, 0}, {"N1CLAIM", ftString, 12, 0},
             {"MAPFIELD", ftString, 8, 0}, {"LONG_DESC", ftString, 80, 0}},
            {{"A", "Alpha", "CLM1", "", ""}, {"B", "Beta", "CLM2", "KEEP", "Own text"}, {"C", "", "", "", ""}});
  MakeEmpPros(true);
  schema::UpgradeContext& ctx = Context();
  FillCodeAndGradeColumns(ctx);
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  EXPECT_EQ(Rows("CODE", {"CODE", "MAPFIELD", "LONG_DESC"}),
            (std::vector<std::string>{"A|CLM1|Alpha", "B|KEEP|Own text", "C||"}));
  EXPECT_EQ(Rows("EMP_PROS", {"EMP_CODE", "GRADE"}), (std::vector<std::string>{"E1|G1", "E2|NONE", "E3|NONE"}));
  EXPECT_TRUE(StoredEncrypted("EMP_PROS"));
  EXPECT_TRUE(ctx.company.IsConnected());
  // A second pass finds nothing to fill.
  FillCodeAndGradeColumns(ctx);
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(Rows("EMP_PROS", {"EMP_CODE", "GRADE"}), (std::vector<std::string>{"E1|G1", "E2|NONE", "E3|NONE"}));
}

TEST_F(Pre860StepsTest, AFailingFillInIsShownAndTheNextOneRuns) {
  // No N1CLAIM: the first statement fails; the second and third still run.
  MakeTable("CODE", {{"CODE", ftString, 8, 0}, {"DESC", ftString, 30, 0}, {"MAPFIELD", ftString, 8, 0},
                     {"LONG_DESC", ftString, 80, 0}},
            {{"A", "Alpha", "", ""}});
  MakeEmpPros(true);
  schema::UpgradeContext& ctx = Context();
  EXPECT_NO_THROW(FillCodeAndGradeColumns(ctx));
  const std::vector<std::string> messages = ui_.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("message: ", 0), 0u);
  EXPECT_NE(messages[0].find("N1CLAIM"), std::string::npos) << messages[0];
  EXPECT_EQ(Rows("CODE", {"CODE", "MAPFIELD", "LONG_DESC"}), (std::vector<std::string>{"A||Alpha"}));
  EXPECT_EQ(Rows("EMP_PROS", {"GRADE"}), (std::vector<std::string>{"G1", "NONE", "NONE"}));
  EXPECT_TRUE(ctx.company.IsConnected());
}

}  // namespace
}  // namespace kx8::conversions
