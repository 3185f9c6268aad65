// The voluntary contribution scheme rows of CPFNEW: missing rows are added
// with their exact texts and amounts, rows already there and rows of other
// years stay as they are, and a second run adds nothing.
#include "conversions/voluntary_schemes.h"

#include "conversion_fixture.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;

class VoluntarySchemesTest : public ConversionTest {
 protected:
  void MakeRateTable(std::vector<std::vector<std::string>> rows) {
    std::vector<TFieldDef> fields = {{"YEAR", ftString, 4, 0},
                                     {"CPF_CAT", ftString, 8, 0},
                                     {"CPF_AGE_TYPE", ftString, 2, 0},
                                     {"DESC", ftString, 50, 0}};
    for (const SchemeColumn& c : VoluntarySchemeColumns()) {
      const std::string name = c.field;
      TFieldType type = ftBCD;  // money
      if (name == "AGE_CODE") type = ftString;
      if (name == "AGE_FROM" || name == "AGE_TO") type = ftFloat;
      fields.push_back({name, type, type == ftString ? 1 : 0, 0});
    }
    MakeTable("CPFNEW", fields, std::move(rows));
  }
};

TEST_F(VoluntarySchemesTest, MissingSchemeRowsAreAddedAndExistingOnesKept) {
  MakeRateTable({{"2007", "VOL1", "4", "MY OWN VOL1 BAND 4", "A", "55", "60"},
                 {"2012", "CIT", "1", "Citizen (1) Age from :0 To:50", "F", "0", "50"}});
  schema::UpgradeContext& ctx = Context();
  AddVoluntaryContributionRows(ctx);
  const std::vector<std::string> fields = {"YEAR", "CPF_CAT", "CPF_AGE_TYPE", "DESC", "AGE_CODE", "AGE_FROM",
                                           "AGE_TO", "S3_ADD_ER", "S1_ER%", "S5_MAXWAGE_EE", "EMP_R%1"};
  const std::vector<std::string> once = Rows("CPFNEW", fields);
  ASSERT_EQ(once.size(), 2u + 29u);
  EXPECT_EQ(once[0], "2007|VOL1|4|MY OWN VOL1 BAND 4|A|55|60||||");
  EXPECT_EQ(once[1], "2012|CIT|1|Citizen (1) Age from :0 To:50|F|0|50||||");
  EXPECT_EQ(once[2], "2007|VOL1|1|Voluntary Scheme 1  : (1) Age from :0 To:35|F|0|35|0|0.145|900|0");
  EXPECT_EQ(once[4], "2007|VOL1|3|Voluntary Scheme 1  : (3) Age from :50 To:55|F|50|55|48.825|0.0697|810|0");
  EXPECT_EQ(once[5], "2007|VOL1|5|Voluntary Scheme 1  : (5) Age from :60 To:65|F|60|65|23.25|0.0332|337.5|0");
  EXPECT_EQ(once[7], "2007|VOL2|1|Voluntary Scheme 2  : (1) Age from :0 To:35|F|0|35|0|0.145|900|0");
  EXPECT_EQ(once[10], "2007|VOL2|4|Voluntary Scheme 2  : (4) Age from :55 To:60|A|55|60|34.875|0.0498|562.5|5");
  EXPECT_EQ(once.back(), "2007|VOL5|6|Voluntary Scheme 5  : (6) Age from :65 To:999|A|65|999|23.25|0.0332|225|0");

  AddVoluntaryContributionRows(ctx);
  EXPECT_EQ(Rows("CPFNEW", fields), once);
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(VoluntarySchemesTest, ACompanyWithoutTheRateTableEndsTheRun) {
  EXPECT_THROW(AddVoluntaryContributionRows(Context()), std::exception);
}

}  // namespace
}  // namespace kx8::conversions
