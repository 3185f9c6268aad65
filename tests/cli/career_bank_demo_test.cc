// Batch runs of the demo with the options of the career record conversions,
// the employee identity and status fixes and the bank code migration: the
// tables afterwards show each rule, the exclusive options do only their
// work, and a second run changes nothing.
#include <gtest/gtest.h>

#include <sstream>

#include "batch_output.h"
#include "query_rows.h"
#include "cli/batch_run.h"
#include "support/credentials.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/inspect.h"

namespace kx8::cli {
namespace {

class CareerBankDemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.File("root") + "/";
    tools::BuildDemoRoot(root_, tools::DemoOptions{});
  }

  // Runs the batch front end on every company with the options given;
  // returns what it showed (messages and summary) apart from the summary of
  // a run in which every company went without a message.
  std::vector<std::string> Run(const std::vector<std::string>& options, int exit_code = 0) {
    std::vector<std::string> args = {"--batch", "--root", root_, "--select-all", "--yes"};
    for (const std::string& o : options) {
      args.push_back("--set");
      args.push_back(o + "=1");
    }
    std::ostringstream out, err;
    std::istringstream in;
    EXPECT_EQ(BatchMain(args, out, err, in, false), exit_code) << err.str();
    std::vector<std::string> shown = ShownLines(out.str());
    std::erase(shown, "Summary: 3 companies, 3 without a message");
    return shown;
  }

  // The rows of a query on a company as CSV lines without the header.
  std::vector<std::string> Sql(const std::string& code, const std::string& statement) {
    std::string path = root_ + "COMPANY\\" + code;
    std::string password = support::AdministratorPassword();
    if (code == "ORCHID") {
      path += "\\ORCHID.kdd";
      password.clear();
    }
    return QueryRows(path, statement, password);
  }

  kx8::testing::TempDir dir_{"kx8-career-bank"};
  std::string root_;
};

TEST_F(CareerBankDemoTest, ExclusiveOptionsDoOnlyTheirWork) {
  const std::vector<std::string> versions = Sql("ACME", "SELECT VERSION FROM PAYPARA");
  const std::string ids = "SELECT EMP_NO, NEW_IC, INCOME_TAX_AC_NO FROM EMPLOYEE ORDER BY EMP_NO";

  EXPECT_TRUE(Run({"removeNRIC"}).empty());
  EXPECT_EQ(Sql("ACME", ids), (std::vector<std::string>{"E10001,S7711299E,12345", "E10002,S6016871G,",
                                                        "E10003,S8726878J,", "E10004,S7286170A,"}));
  EXPECT_EQ(Sql("ACME", "SELECT VERSION FROM PAYPARA"), versions);

  const std::string career = "SELECT EMP_CODE, COST_CENTRE FROM EMP_PROS WHERE EMP_CODE = 'E10001' ORDER BY ID";
  EXPECT_TRUE(Run({"CheckBoxCTR"}).empty());
  for (const char* code : {"ACME", "ORCHID", "MERLION"}) {
    SCOPED_TRACE(code);
    const std::string own = Sql(code, "SELECT COST_CENTRE_CODE FROM EMPLOYEE WHERE EMP_NO = 'E10001'").at(0);
    EXPECT_EQ(Sql(code, career), std::vector<std::string>(4, "E10001," + own));
  }
  EXPECT_EQ(Sql("ACME", "SELECT VERSION FROM PAYPARA"), versions);

  const std::string tax = "SELECT EMP_NO, INCOME_TAX_AC_NO FROM EMPLOYEE ORDER BY EMP_NO";
  EXPECT_TRUE(Run({"CheckBoxFin"}).empty());
  EXPECT_EQ(Sql("ACME", tax),
            (std::vector<std::string>{"E10001,12345", "E10002,G1234567X", "E10003,", "E10004,"}));
  EXPECT_EQ(Sql("ACME", "SELECT VERSION FROM PAYPARA"), versions);
  EXPECT_EQ(Sql("MERLION", ids).at(3), "E10004,S2589799D,");
}

TEST_F(CareerBankDemoTest, PeriodTerminationAndBankOptionsShowEachRuleAndASecondRunChangesNothing) {
  const std::vector<std::string> merlion_banks = Sql("MERLION", "SELECT * FROM EMP_BNK");
  const std::vector<std::string> options = {"CheckBoxHTRX", "CheckBoxTerm", "CheckBoxPOSB"};
  const std::string clash =
      "EMP_BNK: employee E10001 would hold the account 999888777 twice under bank 7171. "
      "The POSB accounts of this company have not been changed.";
  // The clash is the one message; the run ends with exit code 1 for it.
  const std::vector<std::string> shown_first = Run(options, 1);
  EXPECT_EQ(shown_first, (std::vector<std::string>{clash, "Summary: 3 companies, 2 without a message, 1 to look at:",
                                                   "  MERLION: upgraded, 1 message"}));

  // Payroll history from 2007: the career row valid at the end of the pay period.
  const std::string history =
      "SELECT EMPCODE, PERIOD, CATEGORY, DEPARTMENT, COSTCENTE FROM P_HTRX WHERE PERIOD < '2012' ORDER BY EMPCODE, PERIOD";
  EXPECT_EQ(Sql("ACME", history), (std::vector<std::string>{
                                      "E10001,200612,NEX,ADM,CC900",  // before 2007
                                      "E10001,200705,EXE,OPS,CC200",  // the March change
                                      "E10001,200801,MGT,FIN,CC300",  // its period ends on 20 January
                                      "E10001,200802,EXE,IT,CC100",   // 1 to 29 February: the change on the 29th
                                      "E10004,200712,NEX,ADM,CC900",  // no career row before
                                      "E10004,200801,NEX,ADM,CC300",
                                  }));
  EXPECT_EQ(Sql("ORCHID", history).at(3), "E10001,200802,EXE,IT,CC100");

  // The career history back-fill ran on the companies at 8.90 or lower.
  const std::string previous =
      "SELECT OLD_CATEGORY, OLD_DEPARTMENT, OLD_COST_CENTRE FROM EMP_PROS WHERE EMP_CODE = 'E10001' "
      "ORDER BY PROGRESSION_DATE";
  EXPECT_EQ(Sql("ACME", previous), (std::vector<std::string>{
                                       "MGT,ADM,CC300",  // the table's first row: its own values
                                       "MGT,ADM,CC300", "EXE,OPS,CC200", "MGT,FIN,CC300"}));
  EXPECT_EQ(Sql("MERLION", previous), std::vector<std::string>(4, ",,"));

  EXPECT_EQ(Sql("ACME", "SELECT EMP_NO, TERMINATION_STATUS FROM EMPLOYEE ORDER BY EMP_NO"),
            (std::vector<std::string>{"E10001,F", "E10002,F", "E10003,T", "E10004,F"}));

  const std::string banks = "SELECT EMP_NO, BANK_ID, BANK_BRANCH_CODE, BANK_AC_NO FROM EMPLOYEE ORDER BY EMP_NO";
  const std::string accounts = "SELECT EMP_CODE, BANK_ID, BANK_BRANCH, BANK_AC_NO FROM EMP_BNK ORDER BY EMP_CODE, BANK_AC_NO";
  const std::string bank_list = "SELECT BANK_NAME FROM pay_bank WHERE BANK_ID = '7171' AND BANK_BRANCH = '081'";
  EXPECT_EQ(Sql("ACME", banks), (std::vector<std::string>{"E10001,7171,001,8239419946", "E10002,7171,081,557822578",
                                                          "E10003,7171,081,283382519", "E10004,7339,501,5678766233"}));
  EXPECT_EQ(Sql("ACME", accounts), (std::vector<std::string>{"E10001,7171,081,123123456", "E10001,7339,501,5566778899",
                                                             "E10002,7171,081,216703204"}));
  EXPECT_EQ(Sql("ACME", bank_list), std::vector<std::string>{"DBS BANK"});
  EXPECT_EQ(Sql("ORCHID", bank_list), std::vector<std::string>{"DBS POSB SAVINGS"});
  // The clash keeps MERLION's bank data as it was.
  EXPECT_EQ(Sql("MERLION", "SELECT * FROM EMP_BNK"), merlion_banks);
  EXPECT_TRUE(Sql("MERLION", bank_list).empty());

  std::vector<std::vector<std::string>> before;
  for (const char* code : {"ACME", "ORCHID", "MERLION"}) {
    for (const std::string& s : {history, banks, accounts, bank_list}) before.push_back(Sql(code, s));
  }
  EXPECT_EQ(Run(options, 1), shown_first);
  std::size_t i = 0;
  for (const char* code : {"ACME", "ORCHID", "MERLION"}) {
    for (const std::string& s : {history, banks, accounts, bank_list}) EXPECT_EQ(Sql(code, s), before[i++]) << code;
  }
}

}  // namespace
}  // namespace kx8::cli
