// Family occupations and emergency contact relations into the code table:
// descriptions from the occupation codes, existing codes kept, an empty
// occupation added and an empty relation not, and a second run that adds
// nothing, on a free-table and a dictionary-bound company.
#include "conversions/occupation_codes.h"

#include "employee_fixture.h"

namespace kx8::conversions {
namespace {

class OccupationCodesTest : public EmployeeTablesTest {};

TEST_F(OccupationCodesTest, CodesInUseAreAddedOnceAndExistingOnesKept) {
  for (bool dictionary : {false, true}) {
    SCOPED_TRACE(dictionary ? "dictionary" : "free tables");
    TearDown();
    SetUp();
    const std::string folder = dictionary ? folder_ : "";  // a folder given: stored unencrypted
    MakeReleaseTable("FAMILY",
                     {{{"EMP_CODE", "E1"}, {"IC_PASSPORT_NUM", "1"}, {"OCCUPATION_CODE", "ENG"}},
                      {{"EMP_CODE", "E1"}, {"IC_PASSPORT_NUM", "2"}, {"OCCUPATION_CODE", "STUDENT"}},  // no "OCU" row
                      {{"EMP_CODE", "E2"}, {"IC_PASSPORT_NUM", "3"}, {"OCCUPATION_CODE", "NUR"}},
                      {{"EMP_CODE", "E2"}, {"IC_PASSPORT_NUM", "4"}}},  // no occupation
                     folder);
    MakeReleaseTable("EMPLOYEE",
                     {{{"EMP_NO", "E1"}, {"EMG_CONTACT_RELATION", "WIFE"}},
                      {{"EMP_NO", "E2"}, {"EMG_CONTACT_RELATION", "MOTHER"}},
                      {{"EMP_NO", "E3"}},
                      {{"EMP_NO", "E4"}, {"EMG_CONTACT_RELATION", "MOTHER"}}},
                     folder);
    MakeReleaseTable("CODE",
                     {{{"CATEGORY", "OCU"}, {"CODE", "ENG"}, {"DESC", "ENGINEER"}},
                      {{"CATEGORY", "OCU"}, {"CODE", "NUR"}, {"DESC", "NURSE"}},
                      {{"CATEGORY", "SOU"}, {"CODE", "NUR"}, {"DESC", "NURSING (SPOUSE)"}},
                      {{"CATEGORY", "RE"}, {"CODE", "WIFE"}, {"DESC", "SPOUSE"}}},
                     folder);
    if (dictionary) {
      MakeDictionary({{"FAMILY", false}, {"EMPLOYEE", true}, {"CODE", false}});
    }
    ConvertOccupationCodes(Context());
    const std::vector<std::string> want = {"OCU|ENG|ENGINEER", "OCU|NUR|NURSE", "RE|MOTHER|MOTHER", "RE|WIFE|SPOUSE",
                                           "SOU||",  // the empty occupation
                                           "SOU|ENG|ENGINEER", "SOU|NUR|NURSING (SPOUSE)", "SOU|STUDENT|"};
    EXPECT_EQ(Rows("CODE", {"CATEGORY", "CODE", "DESC"}, "CATEGORY;CODE"), want);
    ConvertOccupationCodes(Context());
    EXPECT_EQ(Rows("CODE", {"CATEGORY", "CODE", "DESC"}, "CATEGORY;CODE"), want);
  }
}

}  // namespace
}  // namespace kx8::conversions
