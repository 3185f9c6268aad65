// The report catalogue adjustments: the six corrections of every pass and
// the rearrangement of the allowance columns of the custom reports, with
// what it checks before it deletes anything.
#include "conversions/report_adjustments.h"

#include "../schema/rtable_fixture.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;
namespace fs = std::filesystem;

class ReportAdjustmentsTest : public schema::RtableTest {
 protected:
  void MakeAllowances(const std::vector<std::vector<std::string>>& rows, bool with_trnno = true) {
    std::vector<TFieldDef> fields = {{"ALLOW_CODE", ftString, 8, 0}, {"YEAR", ftString, 4, 0}, {"DESC", ftString, 30, 0}};
    if (with_trnno) fields.push_back({"TRNNO", ftInteger, 0, 0});
    MakeTable("ALLOWNCE", fields, rows);
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName("ALLOWNCE");
    t.Table().AddIndex("PRIMARY", "ALLOW_CODE;YEAR", {ixUnique, ixExpression});
  }
  void MakeDetails(const std::vector<std::vector<std::string>>& rows) {
    MakeTable("RTPDETL",
              {{"RPTCODE", ftString, 8, 0},
               {"ID", ftInteger, 0, 0},
               {"COL", ftString, 8, 0},
               {"DATABASE1", ftString, 12, 0},
               {"FIELD", ftString, 30, 0},
               {"CODE", ftString, 20, 0}},
              rows);
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName("RTPDETL");
    t.Table().AddIndex("PRIMARY", "RPTCODE;ID", {ixUnique, ixExpression});
  }
  // A company with two allowance codes whose entries are numbered out of
  // code order, an encrypted counter table, and an allowance report.
  void MakeCompany() {
    MakeRtable({"2|2|NAME|EMPLOYEE|EMP_NAME||40|A|F", "30|28|DEPARTMENT DESC|EMPLOYEE|DEP-DESC|DEPARTMENT|60|A|F",
                "1500||TRANSPORT|ALLW|TPT|AMOUNT|12|N|T", "1501||MEAL|ALLW|MEAL|AMOUNT|12|N|T"});
    MakeAllowances({{"MEAL", "2011", "MEAL ALLOWANCE", "1501"},
                    {"MEAL", "2012", "MEAL ALLOWANCE (REVISED)", "1501"},
                    {"TPT", "2012", "TRANSPORT ALLOWANCE", "1500"}});
    MakeTable("TRNNO", {{"TRNNO", ftInteger, 0, 0}}, {{"1501"}}, true);
    MakeDetails({{"R01", "1", "9", "EMPLOYEE", "EMP_NAME", ""},
                 {"R01", "2", "1500", "ALLW", "TPT", "AMOUNT"},
                 {"R01", "3", "1501", "ALLW", "MEAL", "AMOUNT"},
                 {"R02", "1", "30", "EMPLOYEE", "DEP-DESC", "DEPT"}});
  }
};

TEST_F(ReportAdjustmentsTest, CorrectionsChangeTheSixEntriesWhereTheyExistAndAddNone) {
  MakeRtable({"9|9|BASIC SALARY|EMPLOYEE|BASIC_SALARY||12|A|F", "30|28|DEPT DESC|EMPLOYEE|DEP-DESC|DEPT|30|A|F",
              "69|60|OCCUPATION DESC|EMPLOYEE|OCU-DESC|OCU|30|A|F", "80|70|GRADE|EMP_PROS|GRADE||8|A|F"});
  Context();
  CatalogueCorrections(*ctx_);
  CatalogueCorrections(*ctx_);
  EXPECT_EQ(Rows("RTABLE"), (std::vector<std::string>{"9|9|BASIC SALARY|EMPLOYEE|BASIC_SALARY||12|N|T",
                                                      "30|28|DEPT DESC|EMPLOYEE|DEP-DESC|DEPARTMENT|30|A|F",
                                                      "69|60|OCCUPATION DESC|EMPLOYEE|OCU-DESC|OCCUPATION|30|A|F",
                                                      "80|70|GRADE|EMP_PROS|GRADE||8|A|F"}));
  EXPECT_FALSE(work_->Active());
  EXPECT_EQ(work_->IndexFieldNames(), "");
}

TEST_F(ReportAdjustmentsTest, RearrangementNumbersEachAllowanceCodeFrom1500AndRelinksTheReports) {
  MakeCompany();
  Context();
  RearrangeAllowanceColumns(*ctx_, Rtable());
  EXPECT_TRUE(ui_.Messages().empty()) << ::testing::PrintToString(ui_.Messages());
  // MEAL before TPT: 1500 and 1501; the heading is the description of the
  // code's last row.
  const std::map<std::string, std::string> rows = ByNumber();
  EXPECT_EQ(rows.at("1500"), "|MEAL ALLOWANCE (REVISED)|ALLW|MEAL|AMOUNT|12|N|T");
  EXPECT_EQ(rows.at("1501"), "|TRANSPORT ALLOWANCE|ALLW|TPT|AMOUNT|12|N|T");
  EXPECT_EQ(rows.size(), 4u);
  EXPECT_EQ(Rows("ALLOWNCE"), (std::vector<std::string>{"MEAL|2011|MEAL ALLOWANCE|1500",
                                                        "MEAL|2012|MEAL ALLOWANCE (REVISED)|1500",
                                                        "TPT|2012|TRANSPORT ALLOWANCE|1501"}));
  EXPECT_EQ(Rows("TRNNO"), std::vector<std::string>{"1501"});
  // The allowance columns follow their codes; a column whose entry is
  // found by table, field and code takes its number; one without keeps
  // what it had.
  EXPECT_EQ(Rows("RTPDETL"),
            (std::vector<std::string>{"R01|1|2|EMPLOYEE|EMP_NAME|", "R01|2|1501|ALLW|TPT|AMOUNT",
                                      "R01|3|1500|ALLW|MEAL|AMOUNT", "R02|1|30|EMPLOYEE|DEP-DESC|DEPT"}));
  EXPECT_FALSE(Rtable().Active());
  EXPECT_TRUE(Rtable().Filtered());

  const std::map<std::string, std::string> once = ByNumber();
  const std::vector<std::string> details = Rows("RTPDETL"), allowances = Rows("ALLOWNCE");
  RearrangeAllowanceColumns(*ctx_, Rtable());
  EXPECT_EQ(ByNumber(), once);
  EXPECT_EQ(Rows("RTPDETL"), details);
  EXPECT_EQ(Rows("ALLOWNCE"), allowances);
  EXPECT_EQ(Rows("TRNNO"), std::vector<std::string>{"1501"});
}

// What the rearrangement needs is checked before an entry is deleted: when
// something is missing it says what, and RTABLE stays as it was.
TEST_F(ReportAdjustmentsTest, RearrangementLeavesTheCatalogueAloneWhenItCouldNotRebuildIt) {
  struct Case {
    const char* what;
    std::function<void()> break_company;
    std::string message;
  };
  const Case cases[] = {
      {"ALLOWNCE without TRNNO",
       [this] {
         fs::remove(base_ / "COMPANY" / "ACME" / "ALLOWNCE.KDT");
         fs::remove(base_ / "COMPANY" / "ACME" / "ALLOWNCE.KDI");
         MakeAllowances({{"MEAL", "2012", "MEAL ALLOWANCE"}}, false);
       },
       "ALLOWNCE.TRNNO"},
      {"no TRNNO table", [this] { fs::remove(base_ / "COMPANY" / "ACME" / "TRNNO.KDT"); },
       "TRNNO"},
      {"TRNNO without its row",
       [this] {
         fs::remove(base_ / "COMPANY" / "ACME" / "TRNNO.KDT");
         MakeTable("TRNNO", {{"TRNNO", ftInteger, 0, 0}});
       },
       "TRNNO row"},
      {"an entry of another kind on a number the allowances take",
       [this] {
         TDbScopedTable r;
         r.Connection().SetConnectPath(folder_);
         r.Table().SetTableName("RTABLE");
         r.Table().SetIndexFieldNames("NO");
         r.Table().Open();
         ASSERT_TRUE(r.Table().FindKey({TVariant(std::string("1501"))}));
         r.Table().Delete();
         r.Table().Append();
         r.Table().FieldByName("NO").SetAsString("1501");
         r.Table().FieldByName("DATABASE1").SetAsString("EMPLOYEE");
         r.Table().Post();
       },
       "RTABLE No 1501"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeCompany();
    c.break_company();
    const std::vector<std::string> before = Rows("RTABLE");
    Context();
    RearrangeAllowanceColumns(*ctx_, Rtable());
    ASSERT_EQ(ui_.Messages().size(), 1u);
    EXPECT_EQ(ui_.Messages()[0].rfind("message: " + c.message + " ", 0), 0u) << ui_.Messages()[0];
    EXPECT_EQ(Rows("RTABLE"), before);
    EXPECT_FALSE(Rtable().Active());
    ui_.Clear();
    rtable_.reset();
    ctx_.reset();
    company_.reset();
    for (const auto& e : fs::directory_iterator(base_ / "COMPANY" / "ACME")) fs::remove(e.path());
  }
}

}  // namespace
}  // namespace kx8::conversions
