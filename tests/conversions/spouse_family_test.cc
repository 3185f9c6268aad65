// The spouse family record: made from the employee row when there is a
// spouse name, refreshed rather than added again, the employee's other
// family rows left alone.
#include "conversions/spouse_family.h"

#include "conversions/employee_pass.h"
#include "employee_fixture.h"

namespace kx8::conversions {
namespace {

class SpouseFamilyTest : public EmployeeTablesTest {
 protected:
  void Pass() {
    EmployeePassOptions options;
    options.family = true;
    RunEmployeePass(Context(), options);
  }
};

TEST_F(SpouseFamilyTest, TheSpouseRowFollowsTheEmployeeRow) {
  for (const char* table : {"EMPLOYMT", "EMPMISC", "EMP_PROS", "CODE", "COSTCTR"}) MakeReleaseTable(table);
  MakeReleaseTable("EMPLOYEE",
                   {{{"EMP_NO", "E1"}, {"SEX", "M"}, {"SPOUSE_NAME", "LIM MEI"}, {"SPOUSE_JOB_CODE", "NUR"},
                     {"SPOUSE_NEW_IC", "S1234567D"}, {"SPOUSE_DOB", "1970-05-06"}, {"SPOUSE_PHONE", "61234567"},
                     {"SPOUSE_MPHONE", "91234567"}, {"SPOUSE_EMAIL", "mei@example.sg"}, {"SPOUSE_PGR", "123"}},
                    {{"EMP_NO", "E2"}, {"SPOUSE_NAME", "TAN AH KOW"}},                      // no SEX: a husband
                    {{"EMP_NO", "E3"}, {"SEX", "F"}, {"SPOUSE_JOB_CODE", "ENG"}, {"SPOUSE_PHONE", "1"}},  // no name
                    {{"EMP_NO", "E4"}, {"SEX", "F"}, {"SPOUSE_NAME", "NEW NAME"}}});
  MakeReleaseTable("FAMILY", {{{"EMP_CODE", "E4"}, {"RELATIONSHIP", "CHILD"}, {"NAME", "JUNIOR"}, {"IC_PASSPORT_NUM", "A"}},
                              {{"EMP_CODE", "E4"}, {"RELATIONSHIP", "SPOUSE"}, {"NAME", "OLD NAME"},
                               {"IC_PASSPORT_NUM", "B"}, {"RACE", "C"}}});
  Pass();
  Pass();
  const std::vector<std::string> fields = {"EMP_CODE", "RELATIONSHIP", "NAME", "OCCUPATION_CODE", "IC_PASSPORT_NUM",
                                           "BIRTH_DATE", "PHONE_NUM", "MOBILE_PHONE", "E-MAIL_ADDRESS", "PAGER_NO",
                                           "SEX", "PR_IND", "DEP_INDICATOR", "RACE", "INSTITUTE", "CITIZENSHIP",
                                           "BIRTH_COUNTRY", "RELIGION"};
  EXPECT_EQ(Rows("FAMILY", fields, "EMP_CODE;IC_PASSPORT_NUM"),
            (std::vector<std::string>{
                "E1|SPOUSE|LIM MEI|NUR|S1234567D|1970-05-06|61234567|91234567|mei@example.sg|123|F|F|F|NONE|NONE|NONE|"
                "NONE|NONE",
                "E2|SPOUSE|TAN AH KOW||||||||M|F|F|NONE|NONE|NONE|NONE|NONE",
                // refreshed with the employee row's values, empty ones included
                "E4|SPOUSE|NEW NAME||||||||M|||C||||", "E4|CHILD|JUNIOR||A|||||||||||||"}));
}

}  // namespace
}  // namespace kx8::conversions
