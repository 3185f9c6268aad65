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

// The release fills LONG_DESC from DESC in the rows it finds, and a pass
// run again after an interruption fills the rows added since: a row added
// where the table has LONG_DESC carries it at once, so both passes end
// alike. A table without the column gets its row all the same.
TEST_F(CodeRowsTest, AnAddedRowCarriesItsLongDescriptionWhereTheTableHasOne) {
  struct Case {
    const char* what;
    bool long_desc;
    std::vector<std::string> fields;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"release table", true, {"CATEGORY", "CODE", "DESC", "LONG_DESC"}, {"SEX|MR|MR|MR", "UNT|ENG|ENGINEER|ENGINEER"}},
      {"older table", false, {"CATEGORY", "CODE", "DESC"}, {"SEX|MR|MR", "UNT|ENG|ENGINEER"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    if (c.long_desc) {
      MakeReleaseTable("CODE");
    } else {
      MakeTable("CODE", {{"CATEGORY", dbaccess::ftString, 3, 0}, {"CODE", dbaccess::ftString, 8, 0},
                         {"DESC", dbaccess::ftString, 30, 0}});
      dbaccess::TDbScopedTable t;
      t.Connection().SetConnectPath(folder_);
      t.Table().SetTableName("CODE");
      t.Table().AddIndex("PRIMARY", "CATEGORY;CODE", {});
    }
    WithTable("CODE", [](dbaccess::TDbTable& t) {
      EXPECT_TRUE(AddCodeRow(t, "SEX", "MR", "MR"));
      EXPECT_TRUE(AddCodeRow(t, "UNT", "ENG", "ENGINEER"));
    });
    EXPECT_EQ(Rows("CODE", c.fields, "CATEGORY;CODE"), c.want);
  }
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
