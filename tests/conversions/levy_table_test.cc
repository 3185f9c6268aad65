// The levy table update (period parts and the four-field key, and what
// happens when that key cannot be made) and the daily rates of 2012.
#include "conversions/levy_table.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "conversion_fixture.h"
#include "conversions/money.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;

class LevyTableTest : public ConversionTest {
 protected:
  // FW_LEVY with rows (YEAR, CLASS, CATEGORY, DAILY_RATE, MAX_PER_MTH), a
  // unique key "PRIMARY" on the first three, and PERIOD_PART of the given
  // type when it is not ftUnknown.
  void MakeLevy(std::vector<std::vector<std::string>> rows, bool with_key = true, TFieldType part = ftUnknown) {
    std::vector<TFieldDef> fields = {{"YEAR", ftString, 4, 0},
                                     {"CLASS", ftString, 8, 0},
                                     {"CATEGORY", ftString, 8, 0},
                                     {"DAILY_RATE", ftCurrency, 0, 0},
                                     {"MAX_PER_MTH", ftCurrency, 0, 0}};
    if (part != ftUnknown) fields.push_back({"PERIOD_PART", part, part == ftString ? 2 : 0, 0});
    MakeTable("FW_LEVY", fields, std::move(rows));
    if (with_key) AddIndex("FW_LEVY", "PRIMARY", "YEAR;CLASS;CATEGORY", {ixUnique});
  }

  void Update(schema::UpgradeContext& ctx) {
    UpdateLevyTable(ctx, [this](const std::string& text) { status_.push_back(text); });
  }

  std::vector<std::string> status_;
};

TEST_F(LevyTableTest, DailyRateIsRoundedUpWhenItsFourthOrFifthDecimalIsNotZero) {
  struct Case {
    std::int64_t monthly;  // ten-thousandths
    const char* daily;
  };
  const Case cases[] = {
      {2500000, "8.22"},    // 8.21918
      {1500000, "4.94"},    // 4.93151: up, where the nearest cent is 4.93
      {4700000, "15.46"},   // 15.45205
      {304000, "1.00"},     // 0.99945
      {3650000, "12.00"},   // exactly 12
      {7300, "0.02"},       // 0.024: three decimals only, to the nearest cent
      {7299, "0.02"},       // 0.0239967 reads 0.02400: nearest cent
      {7604, "0.03"},       // 0.0249995 reads 0.02500: nearest cent, halves away from zero
      {3650365, "12.01"},   // 12.00120: the fourth decimal rounds up
      {3650015, "12.01"},   // 12.000049 reads 12.00005: the fifth decimal rounds up
      {3650001, "12.00"},   // 12.0000033 reads 12.00000: a sixth decimal alone does not
      {2497200, "8.21"},    // 8.20997: up to the next cent, never one more
      {15200, "0.05"},      // 0.04997
      {0, "0.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.monthly);
    EXPECT_EQ(CentsText(DailyRateCents(c.monthly)), c.daily);
  }
}

TEST_F(LevyTableTest, OnlyThe2012RowsWithAMonthlyAmountGetNewDailyRates) {
  MakeLevy({{"2012", "CLASS1", "FWL", "", "250"},
            {"2012", "CLASS2", "FWL", "4.93", "150"},
            {"2012", "TRAINEE", "FWL", "9.99", "0"},
            {"2012", "HOUSE", "FWL", "7", ""},
            {"2011", "CLASS1", "FWL", "1.23", "250"},
            {"2012", "SPASS", "FWL", "", "30.40"}});
  schema::UpgradeContext& ctx = Context();
  const std::vector<std::string> want = {"2012|CLASS1|8.22", "2012|CLASS2|4.94", "2012|TRAINEE|9.99",
                                         "2012|HOUSE|7",     "2011|CLASS1|1.23", "2012|SPASS|1"};
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    DailyLevyRates2012(ctx);
    EXPECT_EQ(Rows("FW_LEVY", {"YEAR", "CLASS", "DAILY_RATE"}), want);
  }
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(LevyTableTest, EveryRowGetsAPeriodPartAndTheKeyCoversIt) {
  struct Case {
    const char* what;
    bool with_key, dictionary;
  };
  const Case cases[] = {
      {"with a key", true, false},
      {"without a key", false, false},
      {"dictionary-bound", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    status_.clear();
    MakeLevy({{"2012", "CLASS1", "FWL", "", "250"}, {"2007", "CLASS1", "FWL", "3.29", "100"}}, c.with_key);
    if (c.dictionary) MakeDictionary({{"FW_LEVY", false}});
    schema::UpgradeContext& ctx = Context();
    Update(ctx);
    EXPECT_EQ(Rows("FW_LEVY", {"YEAR", "PERIOD_PART"}), (std::vector<std::string>{"2012|1", "2007|1"}));
    EXPECT_EQ(Indexes("FW_LEVY"), std::vector<std::string>{"PRIMARY:YEAR;CLASS;CATEGORY;PERIOD_PART"});
    EXPECT_EQ(status_, (std::vector<std::string>{kLevyTableStatus, kLevyTableDone}));
    EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();

    // A second part of a rate, then the update again: parts stay as they are.
    WithTable("FW_LEVY", [](TDbTable& t) {
      t.Append();
      t.FieldByName("YEAR").SetAsString("2012");
      t.FieldByName("CLASS").SetAsString("CLASS1");
      t.FieldByName("CATEGORY").SetAsString("FWL");
      t.FieldByName("PERIOD_PART").SetAsString("2");
      t.Post();
    });
    Update(ctx);
    EXPECT_EQ(Rows("FW_LEVY", {"YEAR", "PERIOD_PART"}), (std::vector<std::string>{"2012|1", "2007|1", "2012|2"}));
    EXPECT_EQ(Indexes("FW_LEVY"), std::vector<std::string>{"PRIMARY:YEAR;CLASS;CATEGORY;PERIOD_PART"});
    EXPECT_TRUE(ui_.Messages().empty());
  }
}

// A second pass finds the key the first made and leaves the index file
// alone; a PRIMARY that only looks like it (unique, or another name case)
// is still replaced.
TEST_F(LevyTableTest, AKeyAlreadyMadeIsNotMadeAgain) {
  struct Case {
    const char* what;
    const char* name;
    TIndexOptions options;
    bool replaced;
  };
  const Case cases[] = {
      {"the key the update makes", "PRIMARY", {}, false},
      {"the same fields, unique", "PRIMARY", {ixUnique}, true},
      {"the same fields, another name case", "Primary", {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    MakeLevy({{"2012", "CLASS1", "FWL", "", "250", "1"}}, false, ftString);
    AddIndex("FW_LEVY", c.name, "YEAR;CLASS;CATEGORY;PERIOD_PART", c.options);
    const std::filesystem::path kdi = base_ / "COMPANY" / "ACME" / "FW_LEVY.KDI";
    // The index file as found: its identity, time and bytes.
    auto file = [&] {
      struct stat st {};
      EXPECT_EQ(::stat(kdi.c_str(), &st), 0);
      std::ifstream in(kdi, std::ios::binary);
      return std::to_string(st.st_ino) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
             std::to_string(st.st_mtim.tv_nsec) + " " +
             std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string before = file();
    schema::UpgradeContext& ctx = Context();
    Update(ctx);
    EXPECT_EQ(Indexes("FW_LEVY"), std::vector<std::string>{"PRIMARY:YEAR;CLASS;CATEGORY;PERIOD_PART"});
    EXPECT_EQ(file() != before, c.replaced);
    EXPECT_TRUE(ui_.Messages().empty());
  }
}

// A PERIOD_PART that is a memo cannot be part of a key: the table keeps
// the unique key it had, and the user learns why the new one is missing.
TEST_F(LevyTableTest, WhenTheNewKeyCannotBeMadeThePreviousOneComesBack) {
  MakeLevy({{"2012", "CLASS1", "FWL", "", "250"}}, true, ftMemo);
  schema::UpgradeContext& ctx = Context();
  Update(ctx);
  EXPECT_EQ(Indexes("FW_LEVY"), std::vector<std::string>{"PRIMARY:YEAR;CLASS;CATEGORY:U"});
  ASSERT_EQ(ui_.Messages().size(), 1u);
  const std::string message = ui_.Messages()[0];
  EXPECT_EQ(message.rfind(std::string("message: ") + kLevyKeyNotMade, 0), 0u) << message;
  EXPECT_NE(message.find("PERIOD_PART\" cannot be part of an index key"), std::string::npos) << message;
  EXPECT_EQ(message.substr(message.size() - std::string(kLevyKeyRestored).size()), kLevyKeyRestored) << message;
  EXPECT_EQ(Rows("FW_LEVY", {"PERIOD_PART"}), std::vector<std::string>{"1"});
  EXPECT_EQ(status_.back(), kLevyTableDone);
}

TEST_F(LevyTableTest, ACompanyWithoutTheLevyTableEndsTheRun) {
  schema::UpgradeContext& ctx = Context();
  EXPECT_THROW(Update(ctx), std::exception);
  EXPECT_THROW(DailyLevyRates2012(ctx), std::exception);
}

}  // namespace
}  // namespace kx8::conversions
