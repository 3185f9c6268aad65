// The levy roll-forwards: the rules as a table of cases, a second run that
// changes nothing, the skills development parameters, and the period parts
// of the rows they add.
#include "conversions/levy_rollforward.h"

#include <algorithm>

#include "conversion_fixture.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;

class LevyRollForwardTest : public ConversionTest {
 protected:
  // FW_LEVY rows as (YEAR, CLASS, CATEGORY, DESC, DAILY_RATE, MAX_PER_MTH
  // [, PERIOD_PART]).
  void MakeLevy(std::vector<std::vector<std::string>> rows, bool with_part = false) {
    std::vector<TFieldDef> fields = {{"YEAR", ftString, 4, 0},        {"CLASS", ftString, 8, 0},
                                     {"CATEGORY", ftString, 8, 0},    {"DESC", ftString, 40, 0},
                                     {"DAILY_RATE", ftCurrency, 0, 0}, {"MAX_PER_MTH", ftCurrency, 0, 0}};
    if (with_part) fields.push_back({"PERIOD_PART", ftString, 2, 0});
    MakeTable("FW_LEVY", fields, std::move(rows));
    AddIndex("FW_LEVY", "PRIMARY", with_part ? "YEAR;CLASS;CATEGORY;PERIOD_PART" : "YEAR;CLASS;CATEGORY", {ixUnique});
  }

  // PAYPARA1 rows as (YEAR, SDF_MAX, SDF_MIN, SDF), encrypted as the
  // application keeps it.
  void MakeParameters(std::vector<std::vector<std::string>> rows) {
    MakeTable("PAYPARA1",
              {{"YEAR", ftString, 4, 0}, {"SDF_MAX", ftFloat, 0, 0}, {"SDF_MIN", ftFloat, 0, 0}, {"SDF", ftFloat, 0, 0}},
              std::move(rows), true);
  }

  // The rows of one year, sorted, as "CLASS|CATEGORY|DESC|DAILY_RATE|MAX_PER_MTH".
  std::vector<std::string> Year(const std::string& year, bool with_part = false) {
    std::vector<std::string> fields = {"YEAR", "CLASS", "CATEGORY", "DESC", "DAILY_RATE", "MAX_PER_MTH"};
    if (with_part) fields.push_back("PERIOD_PART");
    std::vector<std::string> out;
    for (const std::string& row : Rows("FW_LEVY", fields)) {
      if (row.rfind(year + "|", 0) == 0) out.push_back(row.substr(year.size() + 1));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(LevyRollForwardTest, The2007RowsAreCarriedInto2008WithTheNewRates) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> want_2008;
  };
  const std::string cw3 = "CW3|FWL|Construction Worker-unskilled|10|300";
  const Case cases[] = {
      {"CLASS1 at 100", {{"2007", "CLASS1", "FWL", "CLASS 1 WORKER", "3.29", "100"}},
       {"CLASS1|FWL|CLASS 1 (Singaporean)|5|150", cw3}},
      {"CW1 at 80", {{"2007", "CW1", "FWL", "SKILLED", "2.63", "80"}}, {"CW1|FWL|SKILLED|5|150", cw3}},
      {"SPASS at 100", {{"2007", "SPASS", "FWL", "S PASS", "3.29", "100"}}, {"CW3|FWL|Construction Worker-unskilled|10|300", "SPASS|FWL|S PASS|3.29|100"}},
      {"CLASS2 at 240", {{"2007", "CLASS2", "FWL", "CLASS 2", "7.89", "240"}}, {"CLASS2|FWL|CLASS 2|7.89|240", cw3}},
      {"existing 2008 rows",
       {{"2007", "CLASS1", "FWL", "CLASS 1", "3.29", "240"},
        {"2008", "CLASS1", "FWL", "OLD TEXT", "7", "210"},
        {"2007", "CLASS2", "FWL", "CLASS 2", "3.29", "100"},
        {"2008", "CLASS2", "FWL", "OWN RATE", "8", "250"}},
       {"CLASS1|FWL|CLASS 1 (Singaporean)|7|210", "CLASS2|FWL|OWN RATE|5|150", cw3}},
      {"CW3 there already", {{"2008", "CW3", "FWL", "MINE", "11", "330"}}, {"CW3|FWL|MINE|11|330"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    MakeLevy(c.rows);
    schema::UpgradeContext& ctx = Context();
    RollForwardLevy2007To2008(ctx);
    EXPECT_EQ(Year("2008"), c.want_2008);
    const std::vector<std::string> once = Rows("FW_LEVY", {"YEAR", "CLASS", "CATEGORY", "DESC", "DAILY_RATE", "MAX_PER_MTH"});
    RollForwardLevy2007To2008(ctx);
    EXPECT_EQ(Rows("FW_LEVY", {"YEAR", "CLASS", "CATEGORY", "DESC", "DAILY_RATE", "MAX_PER_MTH"}), once);
  }
}

TEST_F(LevyRollForwardTest, The2004RowsAndSkillsParametersAreCarriedInto2005) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::string>> parameters;
    std::vector<std::string> want_parameters;
  };
  const Case cases[] = {
      {"2004 and 2005 rows", {{"2004", "4500", "2", "0.25"}, {"2005", "4500", "3", "0.5"}},
       {"2004|4500|2|0.25", "2005|1800|2|0.25"}},
      {"no 2005 row", {{"2004", "4500", "2", "0.25"}}, {"2004|4500|2|0.25", "2005|1800|2|0.25"}},
      {"2004 without a ceiling", {{"2004", "0", "2", "0.25"}, {"2005", "4500", "3", "0.5"}},
       {"2004|0|2|0.25", "2005|4500|3|0.5"}},
      {"no 2004 row", {{"2006", "4500", "2", "0.25"}}, {"2006|4500|2|0.25"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    MakeParameters(c.parameters);
    MakeLevy({{"2004", "CLASS1", "FWL", "CLASS 1", "1", "30"},
              {"2004", "CLASS2", "FWL", "CLASS 2", "6.58", "200"},
              {"2005", "CW1", "FWL", "SKILLED", "1", "30"},
              {"2004", "CW1", "FWL", "SKILLED 2004", "8.55", "260"}});
    schema::UpgradeContext& ctx = Context();
    for (int pass = 1; pass <= 2; ++pass) {
      SCOPED_TRACE(pass);
      RollForwardLevy2004To2005(ctx);
      EXPECT_EQ(Rows("PAYPARA1", {"YEAR", "SDF_MAX", "SDF_MIN", "SDF"}), c.want_parameters);
      EXPECT_EQ(Year("2004"), (std::vector<std::string>{"CLASS1|FWL|CLASS 1|1|30", "CLASS2|FWL|CLASS 2|6.58|200",
                                                        "CW1|FWL|SKILLED 2004|8.55|260", "SPASS|FWL|S PASS|2|50"}));
      EXPECT_EQ(Year("2005"), (std::vector<std::string>{"CLASS1|FWL|CLASS 1|2|50", "CLASS2|FWL|CLASS 2|6.58|200",
                                                        "CW1|FWL|SKILLED|2|50", "SPASS|FWL|S PASS|2|50"}));
    }
    EXPECT_TRUE(StoredEncrypted("PAYPARA1"));
  }
}

// Once the table has period parts, each part is carried on its own and the
// rows added on their own are part "1".
TEST_F(LevyRollForwardTest, AddedRowsKeepTheFourFieldKeyMeaningful) {
  MakeParameters({});
  MakeLevy({{"2004", "CLASS1", "FWL", "CLASS 1", "1", "30", "1"},
            {"2007", "CLASS1", "FWL", "CLASS 1 JAN-JUN", "3.29", "100", "1"},
            {"2007", "CLASS1", "FWL", "CLASS 1 JUL-DEC", "3.95", "120", "2"},
            {"2008", "CLASS1", "FWL", "CLASS 1 JAN-JUN", "4", "120", "1"}},
           true);
  schema::UpgradeContext& ctx = Context();
  RollForwardLevy2004To2005(ctx);
  RollForwardLevy2007To2008(ctx);
  EXPECT_EQ(Year("2004", true), (std::vector<std::string>{"CLASS1|FWL|CLASS 1|1|30|1", "SPASS|FWL|S PASS|2|50|1"}));
  EXPECT_EQ(Year("2005", true), (std::vector<std::string>{"CLASS1|FWL|CLASS 1|2|50|1", "SPASS|FWL|S PASS|2|50|1"}));
  EXPECT_EQ(Year("2008", true),
            (std::vector<std::string>{"CLASS1|FWL|CLASS 1 (Singaporean)|3.95|120|2", "CLASS1|FWL|CLASS 1 (Singaporean)|5|150|1",
                                      "CW3|FWL|Construction Worker-unskilled|10|300|1"}));
  EXPECT_TRUE(Rows("PAYPARA1", {"YEAR"}).empty());
}

TEST_F(LevyRollForwardTest, ACompanyWithoutTheTablesEndsTheRun) {
  schema::UpgradeContext& ctx = Context();
  EXPECT_THROW(RollForwardLevy2004To2005(ctx), std::exception);
  EXPECT_THROW(RollForwardLevy2007To2008(ctx), std::exception);
}

}  // namespace
}  // namespace kx8::conversions
