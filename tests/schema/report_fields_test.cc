// The report field catalogue: its data against the column runs' marked
// points, the upsert, the report field routine with its groups, the width
// and wage statements, and what a complete pass leaves.
#include "schema/report_fields.h"

#include <sstream>

#include "rtable_fixture.h"
#include "schema/catalogue.h"

namespace kx8::schema {
namespace {

using namespace dbaccess;

// The numbers the column runs name at their marked points, run by run,
// are the pass's lines of that run, in order.
TEST(ReportFieldCatalogue, PassLinesAreTheRowsTheColumnRunsName) {
  const std::map<int, ReportSection> sections = {{1, ReportSection::Run1}, {3, ReportSection::Run3},
                                                 {5, ReportSection::Run5}, {7, ReportSection::Run7},
                                                 {9, ReportSection::Run9}};
  for (const CatalogueRun& run : Catalogue()) {
    std::string named;
    for (const CatalogueLine& line : run.lines) {
      if (line.row.kind == LineKind::Hook && line.row.hook == CatalogueHook::WriteReportFields) {
        named += std::string(named.empty() ? "" : ", ") + line.row.argument;
      }
    }
    std::string listed;
    auto section = sections.find(run.run);
    for (const ReportFieldLine& line : ReportFieldCatalogue()) {
      if (section != sections.end() && line.section == section->second) {
        listed += std::string(listed.empty() ? "" : ", ") + line.No();
      }
    }
    EXPECT_EQ(named, listed) << "run " << run.run;
  }
  int list = 0, after_run10 = 0;
  for (const ReportFieldLine& line : ReportFieldCatalogue()) {
    list += line.section == ReportSection::List;
    after_run10 += line.section == ReportSection::AfterRun10;
    const bool nine_values = line.section != ReportSection::GroupA && line.section != ReportSection::GroupB;
    if (!nine_values) continue;
    EXPECT_EQ(line.rule, ReportRule::Upsert) << line.No();
    for (const char* v : line.values) EXPECT_NE(v, kKeep) << line.No();
  }
  EXPECT_EQ(list, 100);
  EXPECT_EQ(after_run10, 5);

  std::ostringstream listing;
  WriteReportFieldListing(listing);
  const std::string text = listing.str();
  EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), ReportFieldCatalogue().size());
  EXPECT_NE(text.find("group A\tchange when present\t1060\t-\tWARD CLASS DESC\t-\t-\t-\t-\t-\t-\n"), std::string::npos);
}

class ReportFieldsTest : public RtableTest {};

// The upsert: add when missing, change when present (every column written,
// empty ones emptied), a save that fails, and a company without RTABLE.
TEST_F(ReportFieldsTest, UpsertAddsOrChangesTheRowWithAllNineValues) {
  struct Case {
    const char* what;
    std::vector<std::string> before;
    std::array<std::string, kReportColumnCount> values;
    std::vector<std::string> after;  // the whole table, NO order
    std::vector<std::string> messages;
    bool unique_no2 = false;
  };
  const Case cases[] = {
      {"missing row added",
       {"1|1|EMPLOYEE NO|EMPLOYEE|EMP_NO||12|A|F"},
       {"993", "504", "MEDICAL EMPLOYER%", "MEDICAL", "EMPLOYER_PERCENT", "", "12", "N", "F"},
       {"1|1|EMPLOYEE NO|EMPLOYEE|EMP_NO||12|A|F", "993|504|MEDICAL EMPLOYER%|MEDICAL|EMPLOYER_PERCENT||12|N|F"},
       {}},
      {"present row overwritten, its second number cleared",
       {"9080|88|EMPL PASS APPLY DATE|EMPLOYEE|NTL_DATE|X|8|D|T"},
       {"9080", "", "EMPL PASS APPLICATION DATE", "EMPLOYEE", "NTL_DATE", "", "10", "D", "F"},
       {"9080||EMPL PASS APPLICATION DATE|EMPLOYEE|NTL_DATE||10|D|F"},
       {}},
      {"a save that fails shows the number and is swallowed",
       {"1|1|EMPLOYEE NO|EMPLOYEE|EMP_NO||12|A|F"},
       {"993", "1", "MEDICAL EMPLOYER%", "MEDICAL", "EMPLOYER_PERCENT", "", "12", "N", "F"},
       {"1|1|EMPLOYEE NO|EMPLOYEE|EMP_NO||12|A|F"},
       {" Field No 993"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MakeRtable(c.before, c.unique_no2);
    Context();
    ReportFieldUpsert(Rtable(), c.values);
    EXPECT_FALSE(Rtable().Active());
    EXPECT_FALSE(Rtable().Filtered());
    std::vector<std::string> rows = Rows("RTABLE");
    std::sort(rows.begin(), rows.end(), [](const std::string& a, const std::string& b) {
      return std::stoi(a.substr(0, a.find('|'))) < std::stoi(b.substr(0, b.find('|')));
    });
    EXPECT_EQ(rows, c.after);
    std::vector<std::string> messages = ui_.Messages();
    ASSERT_EQ(messages.size(), c.messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
      EXPECT_TRUE(messages[i].ends_with(c.messages[i])) << messages[i];
    }
    ui_.Clear();
    rtable_.reset();
    ctx_.reset();
    company_.reset();
    fs::remove(base_ / "COMPANY" / "ACME" / "RTABLE.KDT");
    fs::remove(base_ / "COMPANY" / "ACME" / "RTABLE.KDI");
  }
  // No RTABLE: nothing happens and nothing is shown.
  Context();
  ReportFieldUpsert(Rtable(), {"993", "504", "H", "MEDICAL", "F", "", "12", "N", "F"});
  WriteReportFields(Rtable(), "993, 9080");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_THROW(WriteReportFields(Rtable(), "4711"), std::logic_error);
}

// The company's old rows, with rows that each rule of the routine touches.
const std::vector<std::string> kOldRows = {
    "2|2|NAME|EMPLOYEE|EMP_NAME||30|A|F",
    "20|18|NEW SALARY|EMP_PROS|NEW_SALARY||12|N|F",
    "140|120|REMARKS|EMP_PROS|REMARKS||20|A|F",
    "710|700|OLD FIELD|EMPLOYEE|OLD_FIELD||10|A|F",
    "1060|901|WARD DESC|MEDICAL|WARD-DESC||30|A|F",
    "1200|950|DATE OF ACTION|DISC|ACTION_DATE||10|D|F",
    "1212|951|CURRENCY|EMPLOYEE|FCURR_CODE||8|A|F",
    "1500||TRANSPORT ALLOWANCE|ALLW|TPT|AMOUNT|12|N|T",
};

class ReportFieldRoutineTest : public RtableTest {
 protected:
  void SetUp() override {
    RtableTest::SetUp();
    MakeRtable(kOldRows);
    MakeTable("FAMILY", {{"EMP_NO", ftString, 10, 0}, {"IC_PASSPORT_NUM", ftString, 12, 0}});
    Context();
  }
  // What a complete pass does to RTABLE, in its order.
  void CompletePass() {
    for (const CatalogueRun& run : Catalogue()) {
      if (run.run == 9) continue;  // a company above 8.90
      for (const CatalogueLine& line : run.lines) {
        if (line.row.hook == CatalogueHook::WriteReportFields) WriteReportFields(Rtable(), line.row.argument);
      }
    }
    WriteReportFieldsAfterRun10(Rtable());
    UpdateReportCatalogue(*ctx_);
    RunReportFieldRoutine(*ctx_, Rtable());
  }
};

TEST_F(ReportFieldRoutineTest, AppliesItsGroupsAndListAndASecondPassChangesNothing) {
  CompletePass();
  EXPECT_TRUE(ui_.Messages().empty()) << ::testing::PrintToString(ui_.Messages());
  EXPECT_FALSE(Rtable().Active());
  EXPECT_TRUE(Rtable().Filtered());
  std::map<std::string, std::string> rows = ByNumber();
  const std::map<std::string, std::string> expected = {
      // Both lines on 1060 apply, in order; the width statement made it 60.
      {"1060", "901|WARD CLASS DESC|MEDICAL|WARD-DESC|WARD_CLASS|60|A|F"},
      // Add when missing leaves an existing row alone; change when present
      // changed 1212 without a new row.
      {"1200", "950|DATE OF ACTION|DISC|ACTION_DATE||10|D|F"},
      {"1212", "900|CURRENCY|EMPLOYEE|FCURR_CODE||8|A|F"},
      // A new row of add when missing: the listed values, the rest empty.
      {"1208", "|COMPANY DESC|DISC|COM-DESC|COMPANY_CODE|30|A|"},
      // Numbers the pass and the routine both write end with the routine's.
      {"1250", "|STARTDATE|EMP_ALW|STARTDATE||8|A|F"},
      {"1256", "|CHAR11|EMPMISC|CHAR11||30|A|F"},
      {"1257", "|CHAR12|EMPMISC|CHAR12||30|A|F"},
      // The statements: EMP_PROS numbers become wages, 20 and 30 become 60;
      // EMP_NAME is 40, and the list writes row 2 in full.
      {"20", "18|NEW SALARY|EMP_PROS|NEW_SALARY||12|N|T"},
      {"140", "120|REMARKS|EMP_PROS|REMARKS||60|A|F"},
      {"2", "2|EMPLOYEE NAME|EMPLOYEE|EMP_NAME||40|A|F"},
      {"256", "256|APPRAISAL GRADE|EMPSERV|GRADE||8|A|F"},
      {"9080", "|EMPL PASS APPLICATION DATE|EMPLOYEE|NTL_DATE||10|D|F"},
  };
  for (const auto& [no, values] : expected) EXPECT_EQ(rows[no], values) << no;
  EXPECT_EQ(rows.count("710"), 0u) << "deleted";
  EXPECT_EQ(rows.count("1059"), 0u) << "change when present never creates";
  EXPECT_EQ(Column("FAMILY", "IC_PASSPORT_NUM"), std::make_pair(ftString, 17));  // 16 characters

  // A second pass: the width statement widens the rows the routine added
  // with width 30, and the routine gives them their width back.
  const std::vector<std::string> first = Rows("RTABLE");
  CompletePass();
  EXPECT_EQ(Rows("RTABLE"), first);
  EXPECT_EQ(ByNumber()["1208"], expected.at("1208"));
}

TEST_F(ReportFieldRoutineTest, ACompanyPassLeavesWhatTheCatalogueExpects) {
  CompletePass();
  std::map<std::string, std::string> rows = ByNumber();
  for (const auto& [no, x] : ExpectedReportRows()) {
    SCOPED_TRACE(no);
    const bool present = rows.count(std::to_string(no)) != 0;
    if (x.presence != ExpectedReportRow::Presence::Either) {
      EXPECT_EQ(present, x.presence == ExpectedReportRow::Presence::Always);
    }
    if (!present) continue;
    std::vector<std::vector<std::string>> cells = Split({std::to_string(no) + "|" + rows[std::to_string(no)]});
    for (int i = 0; i < kReportColumnCount; ++i) {
      if (x.values[i]) {
        EXPECT_EQ(cells[0][i], *x.values[i]) << kReportColumns[i];
      }
    }
  }
  const std::map<int, ExpectedReportRow> expected = ExpectedReportRows();
  EXPECT_EQ(expected.at(710).presence, ExpectedReportRow::Presence::Never);
  EXPECT_EQ(expected.at(1059).presence, ExpectedReportRow::Presence::Either);
  EXPECT_EQ(expected.at(564).presence, ExpectedReportRow::Presence::Either) << "column run 9 only";
  EXPECT_EQ(expected.at(9080).presence, ExpectedReportRow::Presence::Always);
  EXPECT_EQ(expected.at(9080).values[1], std::optional<std::string>(""));
  EXPECT_EQ(expected.at(1208).values[6], std::nullopt) << "an older row keeps its width";
}

TEST_F(ReportFieldRoutineTest, StatementsGoOnAfterOneFailsAndTheRoutineNeedsTheTable) {
  // Without HIDE_WAGE the first statement fails; the other two still run.
  rtable_.reset();
  ctx_.reset();
  company_.reset();
  fs::remove(base_ / "COMPANY" / "ACME" / "RTABLE.KDT");
  fs::remove(base_ / "COMPANY" / "ACME" / "RTABLE.KDI");
  MakeTable("RTABLE", {{"NO", ftInteger, 0, 0}, {"FIELD", ftString, 30, 0}, {"WIDTH", ftInteger, 0, 0}},
            {{"1", "EMP_NO", "20"}, {"2", "EMP_NAME", "30"}});
  Context();
  UpdateReportCatalogue(*ctx_);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(Rows("RTABLE"), (std::vector<std::string>{"1|EMP_NO|60", "2|EMP_NAME|40"}));

  fs::remove(base_ / "COMPANY" / "ACME" / "RTABLE.KDT");
  EXPECT_ANY_THROW(RunReportFieldRoutine(*ctx_, Rtable()));
  EXPECT_FALSE(Rtable().Active());
  EXPECT_TRUE(Rtable().Filtered());
}

}  // namespace
}  // namespace kx8::schema
