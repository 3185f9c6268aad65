// The fill-in statements of a company pass on free tables (encrypted where
// the application keeps them so) and through a dictionary, the claim scheme
// index, the query clean-up, and what each does when its table is missing.
#include "conversions/fill_ins.h"

#include "conversion_fixture.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;

class FillInsTest : public ConversionTest {
 protected:
  // The five tables, each with a row whose column is empty and one whose
  // column holds a value already.
  void MakeFillInTables(bool encrypted) {
    MakeTable("YTDEMPL",
              {{"EMPCODE", ftString, 12, 0},
               {"CPFOWWAGE", ftCurrency, 0, 0},
               {"CPFAWWAGE", ftCurrency, 0, 0},
               {"ORI_OWWAGE", ftCurrency, 0, 0},
               {"ORI_AWWAGE", ftCurrency, 0, 0}},
              {{"E1", "54000", "4500.5", "", ""}, {"E2", "30000", "2500", "29000", "2400"}}, encrypted);
    MakeTable("P_HTRX", {{"EMPCODE", ftString, 12, 0}, {"NETT_WAGE", ftCurrency, 0, 0}, {"BANKAMT", ftCurrency, 0, 0}},
              {{"E1", "3580.25", ""}, {"E2", "2000", "1500"}}, encrypted);
    MakeTable("RBITEM", {{"ITEMID", ftInteger, 0, 0}, {"ID", ftInteger, 0, 0}}, {{"7", ""}, {"8", "80"}});
    MakeTable("TRAINING", {{"EMP_CODE", ftString, 12, 0}, {"DEPARTMENT", ftString, 8, 0}}, {{"E1", ""}, {"E2", "OPS"}});
    MakeTable("MEDSCH",
              {{"SCHEME_CODE", ftString, 8, 0},
               {"CLAIM_CODE", ftString, 8, 0},
               {"SUBCLAIM", ftString, 8, 0},
               {"CLAIMTYPE", ftString, 1, 0}},
              {{"EXE", "GP", "", ""}, {"EXE", "DENT", "", "1"}});
  }

  void RunFillIns(schema::UpgradeContext& ctx) {
    FillYtdEmpl(ctx);
    FillPHtrxBankAmount(ctx);
    FillRbItem(ctx);
    FillTrainingDepartment(ctx);
    FillMedschClaimType(ctx);
  }

  TDbQuery& IndexQuery() {
    index_query_ = std::make_unique<TDbQuery>();
    index_query_->SetDbConnection(company_.get());
    index_query_->DbTableOptions().SetDbRightsCheck(false);
    return *index_query_;
  }
  void TearDown() override {
    index_query_.reset();
    ConversionTest::TearDown();
  }

  std::unique_ptr<TDbQuery> index_query_;
};

TEST_F(FillInsTest, OnlyEmptyValuesAreFilledAndASecondPassFillsNothing) {
  for (bool dictionary : {false, true}) {
    SCOPED_TRACE(dictionary ? "dictionary-bound" : "free tables");
    TearDown();
    SetUp();
    MakeFillInTables(!dictionary);
    if (dictionary) {
      MakeDictionary({{"YTDEMPL", true}, {"P_HTRX", true}, {"RBITEM", false}, {"TRAINING", false}, {"MEDSCH", false}});
    }
    schema::UpgradeContext& ctx = Context();
    for (int pass = 1; pass <= 2; ++pass) {
      SCOPED_TRACE(pass);
      RunFillIns(ctx);
      EXPECT_EQ(Rows("YTDEMPL", {"ORI_OWWAGE", "ORI_AWWAGE"}), (std::vector<std::string>{"54000|4500.5", "29000|2400"}));
      EXPECT_EQ(Rows("P_HTRX", {"BANKAMT"}), (std::vector<std::string>{"3580.25", "1500"}));
      EXPECT_EQ(Rows("RBITEM", {"ID"}), (std::vector<std::string>{"7", "80"}));
      EXPECT_EQ(Rows("TRAINING", {"DEPARTMENT"}), (std::vector<std::string>{"NONE", "OPS"}));
      EXPECT_EQ(Rows("MEDSCH", {"CLAIMTYPE"}), (std::vector<std::string>{"0", "1"}));
      EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
    }
    if (!dictionary) {
      EXPECT_TRUE(StoredEncrypted("YTDEMPL"));
      EXPECT_TRUE(StoredEncrypted("P_HTRX"));
    }
  }
}

// The index is made once, and not at all when the same fields are indexed
// already under another name; a different field list does not count.
TEST_F(FillInsTest, TheClaimSchemeIndexIsMadeOnlyWhenNoIndexHasItsFields) {
  struct Case {
    const char* what;
    const char* existing_name;  // nullptr: no index before
    const char* existing_fields;
    bool dictionary;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"no index", nullptr, "", false, {"  SCHEME_CODE2:SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE"}},
      {"same fields, other name", "BYSCHEME", "SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE", false,
       {"BYSCHEME:SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE"}},
      {"fewer fields", "BYSCHEME", "SCHEME_CODE;CLAIM_CODE", false,
       {"BYSCHEME:SCHEME_CODE;CLAIM_CODE", "  SCHEME_CODE2:SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE"}},
      {"dictionary-bound", nullptr, "", true, {"  SCHEME_CODE2:SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    MakeFillInTables(false);
    if (c.existing_name != nullptr) AddIndex("MEDSCH", c.existing_name, c.existing_fields);
    if (c.dictionary) MakeDictionary({{"MEDSCH", false}});
    schema::UpgradeContext& ctx = Context();
    TDbQuery& index_query = IndexQuery();
    AddMedschIndex(ctx, index_query);
    AddMedschIndex(ctx, index_query);
    EXPECT_EQ(Indexes("MEDSCH"), c.want);
    EXPECT_FALSE(ctx.work_table.Active());
  }
}

TEST_F(FillInsTest, QueryRowsWithoutACodeAreRemoved) {
  MakeTable("QUERY", {{"CODE", ftString, 8, 0}, {"LINE", ftInteger, 0, 0}}, {{"Q1", "1"}, {"", "2"}, {"Q1", "3"}, {"", "4"}});
  Context();
  TDbQuery& cleanup = IndexQuery();
  QueryCleanup(cleanup);
  EXPECT_EQ(Rows("QUERY", {"CODE", "LINE"}), (std::vector<std::string>{"Q1|1", "Q1|3"}));
}

// Without their tables, the guarded fill-ins show why and the pass goes
// on; the bank amounts and the query clean-up end the run.
TEST_F(FillInsTest, MissingTablesAreShownOrEndTheRunAsEachStepSays) {
  schema::UpgradeContext& ctx = Context();
  FillYtdEmpl(ctx);
  FillRbItem(ctx);
  FillTrainingDepartment(ctx);
  FillMedschClaimType(ctx);
  AddMedschIndex(ctx, IndexQuery());
  const std::vector<std::string> messages = ui_.Messages();
  ASSERT_EQ(messages.size(), 4u) << ::testing::PrintToString(messages);
  EXPECT_EQ(messages[0].rfind("message: Update YTDEMPL Function ", 0), 0u) << messages[0];
  EXPECT_NE(messages[1].find("RBITEM"), std::string::npos) << messages[1];
  EXPECT_NE(messages[2].find("TRAINING"), std::string::npos) << messages[2];
  EXPECT_EQ(messages[3].rfind("message: MEDSCH ", 0), 0u) << messages[3];
  EXPECT_FALSE(ctx.work_table.Active());
  EXPECT_THROW(FillPHtrxBankAmount(ctx), std::exception);
  EXPECT_THROW(QueryCleanup(IndexQuery()), std::exception);
}

}  // namespace
}  // namespace kx8::conversions
