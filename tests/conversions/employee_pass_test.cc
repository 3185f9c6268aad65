// The employee record pass: each of its steps on a small company, the
// options one by one, the companion rows and their failures, a failing
// step, and a second pass that changes nothing.
#include "conversions/employee_pass.h"

#include "employee_fixture.h"
#include "tools/demo_files.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;

const std::vector<std::string> kPassTables = {"EMPLOYEE", "EMPLOYMT", "EMPMISC", "EMP_PROS", "CODE",
                                              "COSTCTR",  "FAMILY",   "NSMAN",   "LEAVESET"};

class EmployeePassTest : public EmployeeTablesTest {
 protected:
  // The tables of the pass; those not given are empty.
  // The tables of the pass; those not given are empty, those skipped are
  // made by the test.
  void MakeCompany(std::map<std::string, std::vector<Row>> rows, const std::string& skip = "") {
    for (const std::string& table : kPassTables) {
      if (table != skip) MakeReleaseTable(table, rows[table]);
    }
  }

  void Pass(const EmployeePassOptions& options) { RunEmployeePass(Context(), options); }
};

EmployeePassOptions AllOptions() { return {true, true, true, true, true, true, true, true}; }

TEST_F(EmployeePassTest, SevenCharacterTelephoneNumbersGetASixInFront) {
  struct Case {
    const char* number;
    const char* want;
  };
  const Case cases[] = {{"234567", "234567"}, {"2345678", "62345678"}, {"62345678", "62345678"}, {"", ""}};
  std::vector<Row> employees;
  for (const Case& c : cases) {
    const std::string no = "E" + std::to_string(employees.size());
    employees.push_back({{"EMP_NO", no}, {"TEL_NO", c.number}, {"EMG_TEL", c.number}, {"EMG_TEL2", c.number},
                         {"SPOUSE_PHONE", c.number}, {"HP_NO", c.number}});
  }
  MakeCompany({{"EMPLOYEE", employees}});
  Pass({});
  std::vector<std::string> unticked = Rows("EMPLOYEE", {"TEL_NO"});
  EXPECT_EQ(unticked, (std::vector<std::string>{"234567", "2345678", "62345678", ""}));

  EmployeePassOptions options;
  options.telephone = true;
  Pass(options);
  Pass(options);  // a number of eight characters is not prefixed again
  std::vector<std::string> rows = Rows("EMPLOYEE", {"TEL_NO", "EMG_TEL", "EMG_TEL2", "SPOUSE_PHONE", "HP_NO"});
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].number);
    const std::string w = cases[i].want;
    EXPECT_EQ(rows[i], w + "|" + w + "|" + w + "|" + w + "|" + cases[i].number);  // HP_NO is not a step's field
  }
}

TEST_F(EmployeePassTest, CodeRowsAreAddedOnceWithTheOccupationsDescription) {
  MakeCompany({{"EMPLOYEE",
                {{{"EMP_NO", "E1"}, {"SEX_TITLE", "MR"}, {"SPOUSE_JOB_CODE", "NUR"}},
                 {{"EMP_NO", "E2"}, {"SEX_TITLE", "MR"}, {"SPOUSE_JOB_CODE", "XYZ"}},
                 {{"EMP_NO", "E3"}, {"SEX_TITLE", "MDM"}},
                 {{"EMP_NO", "E4"}}}},
               {"EMPLOYMT", {{{"EMP_NO", "E1"}, {"UNIT", "ENG"}}, {{"EMP_NO", "E2"}, {"UNIT", "PKR"}}, {{"EMP_NO", "E3"}}}},
               {"CODE",
                {{{"CATEGORY", "OCU"}, {"CODE", "ENG"}, {"DESC", "ENGINEER"}},
                 {{"CATEGORY", "OCU"}, {"CODE", "NUR"}, {"DESC", "NURSE"}},
                 {{"CATEGORY", "SEX"}, {"CODE", "MDM"}, {"DESC", "MADAM"}}}}});
  Pass({});
  EXPECT_EQ(Rows("CODE", {"CATEGORY", "CODE", "DESC"}, "CATEGORY;CODE"),
            (std::vector<std::string>{"OCU|ENG|ENGINEER", "OCU|NUR|NURSE",
                                      "SEX|MDM|MADAM",  // an existing row keeps its description
                                      "SEX|MR|MR", "SOU|NUR|NURSE",
                                      "SOU|XYZ|",  // no occupation of that code: no description
                                      "UNT|ENG|ENGINEER",
                                      "UNT|NONE|",  // the employment row made for E4
                                      "UNT|PKR|"}));
}

TEST_F(EmployeePassTest, CareerRowsGetTheirDefaultsAndKeepTheirValues) {
  MakeCompany({{"EMPLOYEE", {{{"EMP_NO", "E1"}}, {{"EMP_NO", "E2"}}}},
               {"EMP_PROS",
                {{{"EMP_CODE", "E1"}, {"PAY_EFFECTIVE_DATE", "2010-01-01"}},
                 {{"EMP_CODE", "E1"}, {"PAY_EFFECTIVE_DATE", "2011-01-01"}, {"PERCENT", "50"}, {"SALTYPE", "H"}},
                 {{"EMP_CODE", "E2"}, {"PAY_EFFECTIVE_DATE", "2010-01-01"}, {"PERCENT", "0"}},
                 {{"EMP_CODE", "E9"}, {"PAY_EFFECTIVE_DATE", "2010-01-01"}}}}});  // no such employee
  Pass({});
  EXPECT_EQ(Rows("EMP_PROS", {"EMP_CODE", "PERCENT", "SALTYPE"}, "EMP_CODE;PAY_EFFECTIVE_DATE;ID"),
            (std::vector<std::string>{"E1|100|M", "E1|50|H", "E2|0|M", "E9||"}));
}

TEST_F(EmployeePassTest, CostCentre2002IsTwelveMonthsAtAHundredPercentHoweverOftenItRuns) {
  MakeCompany({{"EMPLOYEE", {{{"EMP_NO", "E1"}, {"COST_CENTRE_CODE", "CC200"}}, {{"EMP_NO", "E2"}}}},
               {"COSTCTR",
                {{{"EMPCODE", "E1"}, {"PERIOD", "200112"}, {"COST_CENTRE", "CC100"}, {"PERCENT", "100"}},
                 {{"EMPCODE", "E1"}, {"PERIOD", "200203"}, {"COST_CENTRE", "CC100"}, {"PERCENT", "60"}},
                 {{"EMPCODE", "E1"}, {"PERIOD", "200203"}, {"COST_CENTRE", "CC300"}, {"PERCENT", "40"}},
                 {{"EMPCODE", "E1"}, {"PERIOD", "200301"}, {"COST_CENTRE", "CC100"}, {"PERCENT", "100"}},
                 {{"EMPCODE", "E10"}, {"PERIOD", "200205"}, {"COST_CENTRE", "CC100"}, {"PERCENT", "100"}}}}});
  EmployeePassOptions options;
  options.cost_centre = true;
  Pass(options);
  Pass(options);
  std::vector<std::string> want = {"E1|200112|CC100|100"};
  for (int m = 1; m <= 12; ++m) want.push_back("E1|2002" + std::string(m < 10 ? "0" : "") + std::to_string(m) + "|CC200|100");
  want.push_back("E1|200301|CC100|100");
  want.push_back("E10|200205|CC100|100");  // another employee's rows, though the number begins alike
  for (int m = 1; m <= 12; ++m) want.push_back("E2|2002" + std::string(m < 10 ? "0" : "") + std::to_string(m) + "||100");
  EXPECT_EQ(Rows("COSTCTR", {"EMPCODE", "PERIOD", "COST_CENTRE", "PERCENT"}, "EMPCODE;PERIOD;COST_CENTRE"), want);
}

// The new months are saved before any old 2002 row goes: when they cannot
// be (here a unique index on PERCENT refuses a second row at 100), the
// employee keeps the rows he had.
TEST_F(EmployeePassTest, CostCentreRowsThatCannotBeSavedLeaveThe2002RowsAsTheyWere) {
  MakeCompany({{"EMPLOYEE", {{{"EMP_NO", "E1"}, {"COST_CENTRE_CODE", "CC200"}}}},
               {"COSTCTR",
                {{{"EMPCODE", "E1"}, {"PERIOD", "200203"}, {"COST_CENTRE", "CC100"}, {"PERCENT", "60"}},
                 {{"EMPCODE", "E1"}, {"PERIOD", "200301"}, {"COST_CENTRE", "CC100"}, {"PERCENT", "100"}}}}});
  WithTable("COSTCTR", [](TDbTable& t) {
    t.Close();
    t.SetExclusive(true);
    t.Open();
    t.AddIndex("ONE_PERCENT", "PERCENT", {dbaccess::ixUnique});
  });
  const auto before = Snapshot({"COSTCTR"});
  EmployeePassOptions options;
  options.cost_centre = true;
  EXPECT_THROW(Pass(options), std::exception);
  EXPECT_EQ(Snapshot({"COSTCTR"}), before);
}

TEST_F(EmployeePassTest, AdditionalWagesAndStopPaymentFollowTheCompanionRows) {
  MakeCompany({{"EMPLOYEE",
                {{{"EMP_NO", "E1"}, {"FUND_CLASS", "C"}},
                 {{"EMP_NO", "E2"}, {"FUND_CLASS", "C"}},
                 {{"EMP_NO", "E3"}, {"FUND_CLASS", "C"}}}},
               {"EMPMISC", {{{"EMP_NO", "E1"}, {"BOOLEAN10", "T"}}, {{"EMP_NO", "E2"}, {"BOOLEAN10", "F"}}}},
               {"EMPLOYMT", {{{"EMP_NO", "E1"}, {"TENURE_SERV", "@HOLD"}}, {{"EMP_NO", "E2"}, {"TENURE_SERV", "PERM"}}}}});
  Pass({});
  EXPECT_EQ(Rows("EMPLOYEE", {"FUND_CLASS", "STOP_IND"}), (std::vector<std::string>{"C|", "C|", "C|"}));
  EmployeePassOptions options;
  options.additional_wages = true;
  options.stop_payment = true;
  Pass(options);
  // E3 had no companion rows: the first pass made them, with "NONE".
  EXPECT_EQ(Rows("EMPLOYEE", {"EMP_NO", "FUND_CLASS", "STOP_IND"}),
            (std::vector<std::string>{"E1|A|E", "E2|C|", "E3|C|"}));
}

TEST_F(EmployeePassTest, NationalServiceCountsFromTheHiringDateLessTheDaysServed) {
  MakeCompany({{"EMPLOYEE",
                {{{"EMP_NO", "E1"}, {"HIRED_DATE", "2000-03-01"}, {"CHANGE_DATE", "1999-01-01"}},
                 {{"EMP_NO", "E2"}, {"HIRED_DATE", "2000-03-01"}, {"CHANGE_DATE", "1999-01-01"}},
                 {{"EMP_NO", "E3"}, {"HIRED_DATE", "2000-03-01"}, {"CHANGE_DATE", "1999-01-01"}},
                 {{"EMP_NO", "E4"}, {"CHANGE_DATE", "1999-01-01"}},
                 {{"EMP_NO", "E5"}, {"HIRED_DATE", "2000-03-01"}, {"CHANGE_DATE", "1999-01-01"}}}},
               {"NSMAN",
                {{{"EMP_CODE", "E1"}, {"NS_PSA_SERVICE", "Y"}, {"ENLISTMENT_DATE", "1998-01-01"}, {"NS_ORD", "1998-01-10"}},
                 {{"EMP_CODE", "E1"}, {"NS_PSA_SERVICE", "Y"}, {"ENLISTMENT_DATE", "1990-01-01"}, {"NS_ORD", "1999-01-01"}},
                 {{"EMP_CODE", "E2"}, {"NS_PSA_SERVICE", "N"}, {"ENLISTMENT_DATE", "1998-01-01"}, {"NS_ORD", "1998-01-10"}},
                 {{"EMP_CODE", "E3"}, {"NS_PSA_SERVICE", "Y"}, {"ENLISTMENT_DATE", "1998-01-01"}},
                 {{"EMP_CODE", "E4"}, {"NS_PSA_SERVICE", "Y"}, {"ENLISTMENT_DATE", "1998-01-01"}, {"NS_ORD", "1998-01-10"}}}}});
  EmployeePassOptions options;
  options.national_service = true;
  Pass(options);
  EXPECT_EQ(Rows("EMPLOYEE", {"EMP_NO", "NS_SERVICE", "CHANGE_DATE"}),
            (std::vector<std::string>{
                "E1|T|2000-02-20",  // ten days served, by its first row
                "E2|F|1999-01-01",  // a row without the service flag does not count
                "E3|T|1999-01-01",  // no date of the end of service: the date stays
                "E4|T|1999-01-01",  // no hiring date: the date stays
                "E5|F|1999-01-01"}));
}

TEST_F(EmployeePassTest, MissingCompanionRowsAreAddedWithNoneAndTheKeyKept) {
  MakeCompany({{"EMPLOYEE", {{{"EMP_NO", "E1"}}, {{"EMP_NO", "E2"}}}},
               {"EMPLOYMT", {{{"EMP_NO", "E1"}, {"UNIT", "ENG"}, {"TENURE_SERV", "PERM"}}}}});
  Pass({});
  EXPECT_EQ(Rows("EMPLOYMT", {"EMP_NO", "UNIT", "TENURE_SERV", "CONTRACT", "REMARKS"}),
            (std::vector<std::string>{"E1|ENG|PERM||", "E2|NONE|NONE|NONE|"}));
  EXPECT_EQ(Rows("EMPMISC", {"EMP_NO", "METHOD", "HOME_CTRY", "CHAR1"}),
            (std::vector<std::string>{"E1|NONE|NONE|", "E2|NONE|NONE|"}));
  // The new row's unit is a code at once, not only after the next pass.
  EXPECT_EQ(Rows("CODE", {"CATEGORY", "CODE", "DESC"}, "CATEGORY;CODE"),
            (std::vector<std::string>{"UNT|ENG|", "UNT|NONE|"}));
}

TEST_F(EmployeePassTest, AnEightCharacterEmployeeNumberIsNotOverwritten) {
  MakeCompany({{"EMPLOYEE", {{{"EMP_NO", "E1"}}}}}, "EMPLOYMT");
  dbaccess::TDbScopedTable t;
  t.Connection().SetConnectPath(folder_);
  t.Table().SetTableName("EMPLOYMT");
  t.Table().FieldDefs().Add("EMP_NO", dbaccess::ftString, 8);
  t.Table().FieldDefs().Add("UNIT", dbaccess::ftString, 8);
  t.Table().FieldDefs().Add("STATE", dbaccess::ftString, 8);
  t.Table().IndexDefs().Add("PRIMARY", "EMP_NO", {dbaccess::ixUnique});
  t.Table().CreateTable();
  Pass({});
  EXPECT_EQ(Rows("EMPLOYMT", {"EMP_NO", "UNIT", "STATE"}), (std::vector<std::string>{"E1|NONE|"}));
}

// A companion row that cannot be saved (here a unique index on a field that
// gets "NONE" refuses the second one) is let go: the pass carries on with
// every later step and employee, and nothing tries to save it again.
TEST_F(EmployeePassTest, ACompanionRowThatCannotBeSavedIsDropped) {
  MakeCompany({{"EMPLOYEE", {{{"EMP_NO", "E1"}}, {{"EMP_NO", "E2"}, {"SEX_TITLE", "DR"}}, {{"EMP_NO", "E3"}, {"SEX_TITLE", "MS"}}}}});
  WithTable("EMPMISC", [](TDbTable& t) {
    t.Close();
    t.SetExclusive(true);
    t.Open();
    t.EnableEncryption(support::AdministratorPassword());
    t.AddIndex("ONE_METHOD", "METHOD", {dbaccess::ixUnique});
  });
  EmployeePassOptions options;
  options.additional_wages = true;  // reads EMPMISC again before the next companion step
  Pass(options);
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(Rows("EMPMISC", {"EMP_NO"}), (std::vector<std::string>{"E1"}));
  EXPECT_EQ(Rows("EMPLOYMT", {"EMP_NO"}), (std::vector<std::string>{"E1", "E2", "E3"}));
  EXPECT_EQ(Rows("EMPLOYEE", {"FUND_CLASS"}), (std::vector<std::string>{"", "", ""}));
  EXPECT_EQ(Rows("CODE", {"CATEGORY", "CODE"}, "CATEGORY;CODE"),
            (std::vector<std::string>{"SEX|DR", "SEX|MS", "UNT|NONE"}));
}

TEST_F(EmployeePassTest, AFailingStepEndsThePassAndClosesItsTables) {
  MakeCompany({{"EMPLOYEE", {{{"EMP_NO", "E1"}, {"SPOUSE_NAME", "TAN AH MOI"}}}}}, "FAMILY");
  // FAMILY of a release that did not have the family fields yet.
  MakeTable("FAMILY", {{"EMP_CODE", dbaccess::ftString, 12, 0}, {"IC_PASSPORT_NUM", dbaccess::ftString, 12, 0}});
  WithTable("FAMILY", [](TDbTable& t) { t.AddIndex("PRIMARY", "EMP_CODE;IC_PASSPORT_NUM", {}); });
  EmployeePassOptions options;
  options.family = true;
  EXPECT_THROW(Pass(options), std::exception);
  EXPECT_TRUE(Rows("FAMILY", {"EMP_CODE"}).empty());
  // Nothing of the pass holds a table: each opens exclusively.
  for (const std::string& table : kPassTables) {
    SCOPED_TRACE(table);
    WithTable(table, [](TDbTable& t) {
      t.Close();
      t.SetExclusive(true);
      EXPECT_NO_THROW(t.Open());
    });
  }
}

// Whatever a step writes, a step before it in the same pass has already
// read what it needs: the spouse's number is copied to FAMILY with its "6",
// and the unit of a companion row made here is in CODE at once.
TEST_F(EmployeePassTest, ASecondPassChangesNothing) {
  fs::create_directories(drive_c_ / "temp");
  MakeCompany({{"EMPLOYEE",
                {{{"EMP_NO", "E1"}, {"SEX", "M"}, {"SEX_TITLE", "MR"}, {"TEL_NO", "2345678"}, {"SPOUSE_NAME", "LIM MEI"},
                  {"SPOUSE_JOB_CODE", "NUR"}, {"SPOUSE_PHONE", "3456789"}, {"HIRED_DATE", "2001-01-01"},
                  {"COST_CENTRE_CODE", "CC1"}, {"PHOTO_ID", tools::MakeBitmap(5, 3, 1)}},
                 {{"EMP_NO", "E2"}, {"SEX_TITLE", "MS"}, {"PHOTO_ID", tools::MakeJpeg(4, 4, 2)}}}},
               {"EMPLOYMT", {{{"EMP_NO", "E1"}, {"UNIT", "ENG"}, {"TENURE_SERV", "@HOLD"}}}},
               {"EMPMISC", {{{"EMP_NO", "E2"}, {"BOOLEAN10", "T"}}}},
               {"COSTCTR", {{{"EMPCODE", "E1"}, {"PERIOD", "200203"}, {"COST_CENTRE", "CC9"}, {"PERCENT", "100"}}}},
               {"EMP_PROS", {{{"EMP_CODE", "E1"}, {"PAY_EFFECTIVE_DATE", "2001-01-01"}}}},
               {"NSMAN", {{{"EMP_CODE", "E1"}, {"NS_PSA_SERVICE", "Y"}, {"ENLISTMENT_DATE", "1990-01-01"},
                           {"NS_ORD", "1992-01-01"}}}}});
  Pass(AllOptions());
  const auto first = Snapshot(kPassTables);
  EXPECT_EQ(Rows("FAMILY", {"PHONE_NUM"}), std::vector<std::string>{"63456789"});
  EXPECT_EQ(Rows("CODE", {"CATEGORY", "CODE"}, "CATEGORY;CODE"),
            (std::vector<std::string>{"SEX|MR", "SEX|MS", "SOU|NUR", "UNT|ENG", "UNT|NONE"}));
  Pass(AllOptions());
  EXPECT_EQ(Snapshot(kPassTables), first);
  EXPECT_TRUE(ui_.Messages().empty()) << ::testing::PrintToString(ui_.Messages());
}

TEST_F(EmployeePassTest, TheAlwaysOnStepsWorkThroughADictionary) {
  // Stored unencrypted and bound to a dictionary that encrypts them.
  std::vector<std::pair<std::string, bool>> tables;
  for (const std::string& t : kPassTables) {
    MakeReleaseTable(t, t == "EMPLOYEE" ? std::vector<Row>{{{"EMP_NO", "E1"}, {"SEX_TITLE", "MR"}}}
                        : t == "EMP_PROS" ? std::vector<Row>{{{"EMP_CODE", "E1"}, {"PAY_EFFECTIVE_DATE", "2001-01-01"}}}
                                          : std::vector<Row>{},
                     folder_);
    tables.push_back({t, tools::FindDemoTable(t)->encrypted});
  }
  MakeDictionary(tables);
  Pass({});
  EXPECT_EQ(Rows("CODE", {"CATEGORY", "CODE"}, "CATEGORY;CODE"), (std::vector<std::string>{"SEX|MR", "UNT|NONE"}));
  EXPECT_EQ(Rows("EMP_PROS", {"PERCENT", "SALTYPE"}), (std::vector<std::string>{"100|M"}));
  EXPECT_EQ(Rows("EMPLOYMT", {"UNIT"}), (std::vector<std::string>{"NONE"}));
}

}  // namespace
}  // namespace kx8::conversions
