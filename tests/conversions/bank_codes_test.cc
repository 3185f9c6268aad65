// The move of the old savings bank accounts ("9812", "POSB") to bank 7171,
// branch 081, in the bank list, EMPLOYEE and EMP_BNK.
#include "conversions/bank_codes.h"

#include "conversion_fixture.h"

namespace kx8::conversions {
namespace {

class BankCodesTest : public ConversionTest {
 protected:
  void MakeBanks(std::vector<std::vector<std::string>> employees, std::vector<std::vector<std::string>> accounts,
                 std::vector<std::vector<std::string>> banks, bool dictionary = false) {
    MakeCompany(
        {{"pay_bank", Texts({"BANK_ID", "BANK_BRANCH", "BANK_NAME"}, 20), {"BANK_ID;BANK_BRANCH"}, std::move(banks),
          false},
         {"EMPLOYEE", Texts({"EMP_NO", "BANK_ID", "BANK_BRANCH_CODE", "BANK_AC_NO"}, 20), {"EMP_NO"},
          std::move(employees)},
         {"EMP_BNK", Texts({"EMP_CODE", "BANK_ID", "BANK_BRANCH", "BANK_AC_NO", "CYCLE"}, 20),
          {"EMP_CODE;BANK_ID;BANK_AC_NO"}, std::move(accounts)}},
        dictionary);
  }
  std::vector<std::string> All() {
    std::vector<std::string> all;
    for (const std::string& r : SortedRows("pay_bank", {"BANK_ID", "BANK_BRANCH", "BANK_NAME"})) all.push_back("bank " + r);
    for (const std::string& r : SortedRows("EMPLOYEE", {"EMP_NO", "BANK_ID", "BANK_BRANCH_CODE", "BANK_AC_NO"})) {
      all.push_back("employee " + r);
    }
    for (const std::string& r : SortedRows("EMP_BNK", {"EMP_CODE", "BANK_ID", "BANK_BRANCH", "BANK_AC_NO"})) {
      all.push_back("account " + r);
    }
    return all;
  }
};

TEST_F(BankCodesTest, OldSavingsBankAccountsMoveToTheNewCodeOnce) {
  const std::vector<std::vector<std::string>> employees = {
      {"E1", "POSB", "123", "654321"},     // six characters: the branch goes in front
      {"E2", "9812", "081", "123456789"},  // nine characters: kept
      {"E3", "7339", "501", "654321"},     // another bank: untouched
      {"E4", "9812", "", "246810"},
  };
  const std::vector<std::vector<std::string>> accounts = {
      {"E1", "POSB", "555", "111111"},
      {"E1", "9812", "081", "222222222"},
      {"E1", "7171", "081", "333333333"},
      {"E2", "7375", "001", "111111"},
  };
  struct Case {
    const char* what;
    std::vector<std::vector<std::string>> banks;
    const char* bank_row;  // the bank list's 7171/081 row afterwards
    bool dictionary;
  };
  const Case cases[] = {
      {"no 7171/081 row yet", {{"7171", "001", "DBS"}}, "bank 7171|081|DBS BANK", false},
      {"an existing 7171/081 row keeps its name", {{"7171", "001", "DBS"}, {"7171", "081", "POSB SAVINGS"}},
       "bank 7171|081|POSB SAVINGS", false},
      {"dictionary-bound", {{"7171", "001", "DBS"}}, "bank 7171|081|DBS BANK", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    MakeBanks(employees, accounts, c.banks, c.dictionary);
    const std::vector<std::string> want = {"bank 7171|001|DBS",
                                           c.bank_row,
                                           "employee E1|7171|081|123654321",
                                           "employee E2|7171|081|123456789",
                                           "employee E3|7339|501|654321",
                                           "employee E4|7171|081|246810",
                                           "account E1|7171|081|222222222",
                                           "account E1|7171|081|333333333",
                                           "account E1|7171|081|555111111",
                                           "account E2|7375|001|111111"};
    schema::UpgradeContext& ctx = Context();
    MigrateBankCodes(ctx);
    EXPECT_EQ(All(), want);
    MigrateBankCodes(ctx);
    EXPECT_EQ(All(), want);
    EXPECT_TRUE(ui_.Messages().empty());
  }
}

TEST_F(BankCodesTest, AnAccountThatWouldBeHeldTwiceLeavesTheCompanysBankDataAsItWas) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::string>> accounts;
    const char* message;
  };
  const Case cases[] = {
      {"the same account under both old codes",
       {{"E1", "POSB", "081", "111111"}, {"E2", "9812", "081", "987654321"}, {"E2", "POSB", "081", "987654321"}},
       "EMP_BNK: employee E2 would hold the account 987654321 twice under bank 7171. "
       "The POSB accounts of this company have not been changed."},
      {"a six-character account that becomes one held under 7171",
       {{"E3", "7171", "081", "555123456"}, {"E3", "POSB", "555", "123456"}},
       "EMP_BNK: employee E3 would hold the account 555123456 twice under bank 7171. "
       "The POSB accounts of this company have not been changed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    MakeBanks({{"E1", "POSB", "123", "654321"}}, c.accounts, {{"7171", "001", "DBS"}});
    const std::vector<std::string> before = All();
    MigrateBankCodes(Context());
    EXPECT_EQ(All(), before);
    ASSERT_EQ(ui_.Messages().size(), 1u);
    EXPECT_NE(ui_.Messages()[0].find(c.message), std::string::npos) << ui_.Messages()[0];
  }
}

}  // namespace
}  // namespace kx8::conversions
