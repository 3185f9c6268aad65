// The release version, the parameter seed rows and the column removal.
#include "conversions/release_version.h"

#include "../schema/schema_fixture.h"
#include "conversions/column_removal.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;
using schema::SchemaTest;

class ReleaseVersionTest : public SchemaTest {
 protected:
  std::vector<std::string> Rows(const std::string& table, const std::vector<std::string>& fields) {
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName(table);
    t.Table().Open();
    std::vector<std::string> out;
    for (t.Table().First(); !t.Table().Eof(); t.Table().Next()) {
      std::string line;
      for (const std::string& f : fields) line += (line.empty() ? "" : "|") + t.Table().FieldByName(f).AsString();
      out.push_back(line);
    }
    return out;
  }
};

TEST_F(ReleaseVersionTest, VersionIsReadExactlyAndStamped) {
  MakeTable("PAYPARA", {{"VERSION", ftBCD, 0, 0}}, {{"8.9"}});
  schema::UpgradeContext& ctx = Context();
  EXPECT_EQ(ReadReleaseVersion(ctx), kVersion890);
  StampReleaseVersion(ctx);
  EXPECT_EQ(ReadReleaseVersion(ctx), kVersion907);
  EXPECT_EQ(Rows("PAYPARA", {"VERSION"}), (std::vector<std::string>{"9.07"}));
}

TEST_F(ReleaseVersionTest, AFailedStampIsShownAndTheRunGoesOn) {
  schema::UpgradeContext& ctx = Context();
  EXPECT_NO_THROW(StampReleaseVersion(ctx));
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_EQ(ui_.Messages()[0].rfind("message: ERROR1 ", 0), 0u);
  EXPECT_THROW(ReadReleaseVersion(ctx), std::exception);  // not guarded
}

TEST_F(ReleaseVersionTest, SeedRowsAreAddedOnlyWhenMissing) {
  MakeTable("FREEFIELD", {{"MODULE", ftString, 5, 0}, {"LINE", ftString, 2, 0}, {"CTLFIELD", ftString, 10, 0},
                          {"DESCRIPTION", ftString, 40, 0}, {"CAPTION", ftString, 40, 0}},
            {{"PAY", "2", "FIELD12", "mine", "mine"}});
  MakeTable("AUTOSET", {{"RPTTYPE", ftString, 3, 0}, {"REPCODE", ftString, 2, 0}, {"REPDESC", ftString, 40, 0},
                        {"ENABLED", ftBoolean, 0, 0}, {"FIELDNAME", ftString, 30, 0},
                        {"DATABASENAME", ftString, 20, 0}, {"VALUE", ftString, 10, 0}},
            {{"OTH", "10", "OWN SETTING", "T", "X", "Y", "99"}});
  MakeTable("FORMULA", {{"FIELD", ftString, 10, 0}, {"DESC", ftString, 30, 0}, {"FIELDTABLE", ftString, 20, 0},
                        {"TABLE", ftString, 20, 0}},
            {{"VA61", "kept", "", ""}});
  MakeTable("LIST", {{"VALUE", ftString, 10, 0}}, {{"DR1"}, {"DR"}, {"XDR"}, {"D"}});
  {
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName("FORMULA");
    t.Table().AddIndex("FIELD", "FIELD", {ixExpression});
    t.Table().SetTableName("AUTOSET");
    t.Table().AddIndex("KEY", "RPTTYPE;REPCODE", {ixExpression});
  }
  schema::UpgradeContext& ctx = Context();
  for (int pass = 0; pass < 2; ++pass) {  // a second pass changes nothing further
    SeedFreeFieldCaptions(ctx);
    SeedFormulaFields(ctx);
    SeedReminderSettings(ctx);
    FixListCodes(ctx);
  }
  std::vector<std::string> free = Rows("FREEFIELD", {"MODULE", "LINE", "CTLFIELD"});
  EXPECT_EQ(free, (std::vector<std::string>{"PAY|2|FIELD12", "UPD|1|FIELD11", "UPD|1|FIELD13", "UPD|1|FIELD14",
                                            "UPD|1|FIELD15", "UPD|3|BOOL11"}));
  std::vector<std::string> formula = Rows("FORMULA", {"FIELD", "DESC", "FIELDTABLE", "TABLE"});
  ASSERT_EQ(formula.size(), 11u);
  EXPECT_EQ(formula[0], "VA61|kept||");
  EXPECT_EQ(formula[1], "VA60|FREE NUMERIC1|NUMERIC1|EMPMISC");
  EXPECT_EQ(formula.back(), "VA70|Working Day Per month||");
  std::vector<std::string> reminders = Rows("AUTOSET", {"REPCODE", "REPDESC", "ENABLED", "VALUE"});
  ASSERT_EQ(reminders.size(), 12u);
  EXPECT_EQ(reminders[0], "10|OWN SETTING|True|99");
  EXPECT_EQ(reminders[1], "06|TENURE OF SERVICE EXPIRY DATE|True|1");
  EXPECT_EQ(Rows("LIST", {"VALUE"}), (std::vector<std::string>{"D1", "D", "XDR", "D"}));
}

TEST_F(ReleaseVersionTest, AColumnIsRemovedOnceAndAMissingTableIsSkipped) {
  MakeTable("CLAIMGRP", {{"CODE", ftString, 5, 0}, {"DESC", ftString, 30, 0}, {"DESCFLD", ftString, 30, 0}},
            {{"A", "old", ""}});
  schema::UpgradeContext& ctx = Context();
  RemoveColumn(ctx, "CLAIMGRP", "DESC");
  EXPECT_EQ(Column("CLAIMGRP", "DESC").first, ftUnknown);
  EXPECT_EQ(edit1_, "Updating file : CLAIMGRP Field : DESC");
  RemoveColumn(ctx, "CLAIMGRP", "DESC");  // the second time there is nothing to remove
  RemoveColumn(ctx, "NOSUCH", "DESC");
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(Rows("CLAIMGRP", {"CODE"}), (std::vector<std::string>{"A"}));
}

}  // namespace
}  // namespace kx8::conversions
