// The benefit and leave schemes of the employee record pass: the medical
// claim method and the leave category decide whether the category or the
// job grade is the scheme, and the scheme codes take the descriptions of
// the codes they come from.
#include "conversions/benefit_leave_schemes.h"

#include "conversions/employee_pass.h"
#include "employee_fixture.h"

namespace kx8::conversions {
namespace {

const std::vector<std::string> kPassTables = {"EMPLOYEE", "EMPLOYMT", "EMPMISC", "EMP_PROS", "CODE",
                                              "COSTCTR",  "FAMILY",   "NSMAN",   "LEAVESET"};

class BenefitLeaveSchemesTest : public EmployeeTablesTest {};

TEST_F(BenefitLeaveSchemesTest, ClaimMethodAndLeaveCategoryChooseTheSchemesSource) {
  const std::vector<Row> source_codes = {
      {{"CATEGORY", "CAT"}, {"CODE", "EXE"}, {"DESC", "EXECUTIVE"}},
      {{"CATEGORY", "JOB"}, {"CODE", "G1"}, {"DESC", "GRADE 1"}},
      {{"CATEGORY", "BEN"}, {"CODE", "EXE"}, {"DESC", "OLD EXECUTIVE SCHEME"}},
      {{"CATEGORY", "LSC"}, {"CODE", "G1"}, {"DESC", "OLD GRADE SCHEME"}},
  };
  struct Case {
    const char* what;
    std::vector<Row> medical_codes;
    std::vector<Row> leave_settings;
    std::vector<std::string> employees;  // EMP_NO|BENEFIT_SCHEME|LEAVE_SCHEME
    std::vector<std::string> scheme_codes;
  };
  const Case cases[] = {
      {"method C (the first one given), leave by job grade",
       {{{"CATEGORY", "MED"}, {"CODE", "DENT"}}, {{"CATEGORY", "MED"}, {"CODE", "GP"}, {"METHOD", "C"}},
        {{"CATEGORY", "MED"}, {"CODE", "SPL"}, {"METHOD", "J"}}},
       {{{"PERIOD", "2004"}, {"CATEGORY", "J"}}},
       {"E1|EXE|G1", "E2|NOCAT|G9"},
       {"BEN|EXE|EXECUTIVE", "LSC|G1|GRADE 1"}},
      {"another method, leave by category for want of a 2004 setting",
       {{{"CATEGORY", "MED"}, {"CODE", "GP"}, {"METHOD", "J"}}},
       {{{"PERIOD", "2012"}, {"CATEGORY", "J"}}},
       {"E1|G1|EXE", "E2|G9|NOCAT"},
       {"BEN|EXE|OLD EXECUTIVE SCHEME", "BEN|G1|GRADE 1", "LSC|EXE|EXECUTIVE", "LSC|G1|OLD GRADE SCHEME"}},
      {"no method: C; leave category other than J",
       {},
       {{{"PERIOD", "2004"}, {"CATEGORY", "C"}}},
       {"E1|EXE|EXE", "E2|NOCAT|NOCAT"},
       {"BEN|EXE|EXECUTIVE", "LSC|EXE|EXECUTIVE", "LSC|G1|OLD GRADE SCHEME"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    std::vector<Row> codes = source_codes;
    codes.insert(codes.end(), c.medical_codes.begin(), c.medical_codes.end());
    const std::map<std::string, std::vector<Row>> rows = {
        {"EMPLOYEE",
         {{{"EMP_NO", "E1"}, {"CATEGORY_CODE", "EXE"}, {"JOB_GRADE_CODE", "G1"}},
          // neither code is listed: the schemes are set all the same, no code row is written
          {{"EMP_NO", "E2"}, {"CATEGORY_CODE", "NOCAT"}, {"JOB_GRADE_CODE", "G9"}}}},
        {"CODE", codes},
        {"LEAVESET", c.leave_settings}};
    for (const std::string& table : kPassTables) {
      auto it = rows.find(table);
      MakeReleaseTable(table, it == rows.end() ? std::vector<Row>{} : it->second);
    }
    EmployeePassOptions options;
    options.claim = true;
    RunEmployeePass(Context(), options);
    auto scheme_codes = [this] {
      std::vector<std::string> schemes;
      for (const std::string& r : Rows("CODE", {"CATEGORY", "CODE", "DESC"}, "CATEGORY;CODE")) {
        if (r.rfind("BEN|", 0) == 0 || r.rfind("LSC|", 0) == 0) schemes.push_back(r);
      }
      return schemes;
    };
    EXPECT_EQ(Rows("EMPLOYEE", {"EMP_NO", "BENEFIT_SCHEME", "LEAVE_SCHEME"}), c.employees);
    EXPECT_EQ(scheme_codes(), c.scheme_codes);
    const auto employees = Snapshot({"EMPLOYEE"});
    RunEmployeePass(Context(), options);
    EXPECT_EQ(Snapshot({"EMPLOYEE"}), employees);
    EXPECT_EQ(scheme_codes(), c.scheme_codes);
  }
}

}  // namespace
}  // namespace kx8::conversions
