// Adding code rows: once per category and code, descriptions looked up by
// key, and a failed save that leaves nothing pending.
#include "conversions/code_rows.h"

#include "employee_fixture.h"

namespace kx8::conversions {
namespace {

class CodeRowsTest : public EmployeeTablesTest {};

TEST_F(CodeRowsTest, ARowIsAddedOnlyWhenItsCategoryAndCodeAreMissing) {
  MakeReleaseTable("CODE", {{{"CATEGORY", "OCU"}, {"CODE", "ENG"}, {"DESC", "ENGINEER"}}});
  WithTable("CODE", [](dbaccess::TDbTable& t) {
    t.SetIndexFieldNames("");  // record order: the helper takes its own
    EXPECT_EQ(CodeDescription(t, "OCU", "ENG"), "ENGINEER");
    EXPECT_EQ(CodeDescription(t, "OCU", "ACC"), "");
    EXPECT_EQ(CodeDescription(t, "UNT", "ENG"), "");
    EXPECT_TRUE(AddCodeRow(t, "UNT", "ENG", "ENGINEER"));
    EXPECT_FALSE(AddCodeRow(t, "UNT", "ENG", "OTHER"));
    EXPECT_FALSE(AddCodeRow(t, "OCU", "ENG", "OTHER"));
    EXPECT_TRUE(AddCodeRow(t, "SEX", "ENG", ""));
  });
  EXPECT_EQ(Rows("CODE", {"CATEGORY", "CODE", "DESC"}, "CATEGORY;CODE"),
            (std::vector<std::string>{"OCU|ENG|ENGINEER", "SEX|ENG|", "UNT|ENG|ENGINEER"}));
}

TEST_F(CodeRowsTest, AFailedSaveLeavesNoPendingRow) {
  MakeReleaseTable("CODE");
  WithTable("CODE", [](dbaccess::TDbTable& t) {
    t.Close();
    t.SetReadOnly(true);
    t.Open();
    EXPECT_THROW(AddCodeRow(t, "SEX", "MR", "MR"), std::exception);
    EXPECT_EQ(t.State(), dbaccess::dsBrowse);
    EXPECT_NO_THROW(t.First());
  });
  EXPECT_TRUE(Rows("CODE", {"CODE"}).empty());
}

}  // namespace
}  // namespace kx8::conversions
