// The supervisor entry: active supervisors registered once in the shared
// SUPVRTBL and refreshed in the company's SETUP, with or without its ALIAS
// field, on a free-table company.
#include "conversions/supervisor_table.h"

#include "employee_fixture.h"

namespace kx8::conversions {
namespace {

class SupervisorTableTest : public EmployeeTablesTest {
 protected:
  void SetUp() override {
    EmployeeTablesTest::SetUp();
    fs::create_directories(base_ / "SHARE_FOLDER");
    MakeReleaseTable("SUPVRTBL", {{{"EMP_NO", "E2"}, {"EMP_NAME", "AS REGISTERED BEFORE"}}}, root_ + "SHARE_FOLDER");
    MakeReleaseTable("EMPLOYEE",
                     {{{"EMP_NO", "E1"}, {"EMP_NAME", "TAN"}, {"IS_EPF_OLD", "T"}, {"EMAIL_AC_NO", "tan@x.sg"},
                       {"EMP_ALIAS", "AH TAN"}},
                      {{"EMP_NO", "E2"}, {"EMP_NAME", "LIM"}, {"IS_EPF_OLD", "T"}, {"EMAIL_AC_NO", "lim@x.sg"}},
                      {{"EMP_NO", "E3"}, {"EMP_NAME", "LEE"}, {"IS_EPF_OLD", "T"}, {"TERMINATION_DATE", "2010-01-31"}},
                      {{"EMP_NO", "E4"}, {"EMP_NAME", "NG"}, {"IS_EPF_OLD", "F"}}});
  }

  void Convert() {
    dbaccess::TDbConnection shared;
    shared.SetUsername(support::AdministratorUser());
    shared.SetPassword(support::AdministratorPassword());
    shared.SetLoginPrompt(false);
    ConvertSupervisorTable(Context(), shared);
  }

  std::vector<std::string> Supervisors() {
    dbaccess::TDbScopedTable t;
    t.Connection().SetConnectPath(root_ + "SHARE_FOLDER");
    t.Table().SetTableName("SUPVRTBL");
    t.Table().Open();
    std::vector<std::string> out;
    for (t.Table().First(); !t.Table().Eof(); t.Table().Next()) {
      out.push_back(t.Table().FieldByName("EMP_NO").AsString() + "|" + t.Table().FieldByName("EMP_NAME").AsString());
    }
    return out;
  }
};

TEST_F(SupervisorTableTest, ActiveSupervisorsAreRegisteredOnceAndTheirSetupRowsRefreshed) {
  MakeReleaseTable("SETUP", {{{"EMPID", "E2"}, {"EMPCOM", "ACME"}, {"MODE", "manual"}, {"EMPNAME", "OLD NAME"}},
                             {{"EMPID", "E2"}, {"EMPCOM", "OTHER"}, {"EMPNAME", "ELSEWHERE"}}});
  Convert();
  Convert();
  EXPECT_TRUE(ui_.Messages().empty()) << ::testing::PrintToString(ui_.Messages());
  EXPECT_EQ(Supervisors(), (std::vector<std::string>{"E2|AS REGISTERED BEFORE", "E1|TAN"}));
  EXPECT_EQ(Rows("SETUP", {"EMPID", "EMPCOM", "MODE", "CAT", "SUBCOM", "SUBCODE", "EMPNAME", "REPEMAIL", "ALIAS"},
                 "EMPID;EMPCOM"),
            (std::vector<std::string>{"E1|ACME|direct|none|ACME|E1|TAN|tan@x.sg|AH TAN",
                                      "E2|ACME|manual||||LIM|lim@x.sg|",  // found: only refreshed
                                      "E2|OTHER|||||ELSEWHERE||"}));
}

// An entry that cannot be saved (here a unique index on EMPNAME refuses a
// second "LIM") is its own error's message; nothing of it stays pending and
// the walk goes on with the next employee.
TEST_F(SupervisorTableTest, AnEntryThatFailsIsShownAndTheWalkGoesOn) {
  MakeReleaseTable("SETUP", {{{"EMPID", "E0"}, {"EMPCOM", "OTHER"}, {"EMPNAME", "TAN"}}});
  WithTable("SETUP", [](dbaccess::TDbTable& t) {
    t.Close();
    t.SetExclusive(true);
    t.Open();
    t.EnableEncryption(support::AdministratorPassword());
    t.AddIndex("ONE_NAME", "EMPNAME", {dbaccess::ixUnique});
  });
  Convert();
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].find("message: "), std::string::npos);
  EXPECT_EQ(Supervisors(), (std::vector<std::string>{"E2|AS REGISTERED BEFORE", "E1|TAN"}));
  EXPECT_EQ(Rows("SETUP", {"EMPID", "EMPCOM", "EMPNAME"}, "EMPID;EMPCOM"),
            (std::vector<std::string>{"E0|OTHER|TAN", "E2|ACME|LIM"}));
}

TEST_F(SupervisorTableTest, ASetupTableWithoutAliasIsFilled) {
  MakeTable("SETUP", {{"EMPID", dbaccess::ftString, 12, 0}, {"EMPCOM", dbaccess::ftString, 8, 0},
                      {"MODE", dbaccess::ftString, 8, 0}, {"CAT", dbaccess::ftString, 8, 0},
                      {"SUBCOM", dbaccess::ftString, 8, 0}, {"SUBCODE", dbaccess::ftString, 12, 0},
                      {"EMPNAME", dbaccess::ftString, 40, 0}, {"REPEMAIL", dbaccess::ftString, 40, 0}});
  WithTable("SETUP", [](dbaccess::TDbTable& t) { t.AddIndex("PRIMARY", "EMPID;EMPCOM", {}); });
  Convert();
  EXPECT_TRUE(ui_.Messages().empty()) << ::testing::PrintToString(ui_.Messages());
  EXPECT_EQ(Rows("SETUP", {"EMPID", "EMPNAME", "REPEMAIL"}, "EMPID;EMPCOM"),
            (std::vector<std::string>{"E1|TAN|tan@x.sg", "E2|LIM|lim@x.sg"}));
}

}  // namespace
}  // namespace kx8::conversions
