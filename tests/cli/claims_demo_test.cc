// A batch run of the demo with the claim setup, the education record
// numbers and the family codes ticked: the claim, appraisal, education and
// code tables hold what the release prescribes on every company, without a
// message, and a second run changes none of those tables.
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

using Lines = std::vector<std::string>;

// What the options write, compared between the runs: the tables whole,
// and the employees' schemes.
constexpr const char* kWritten[] = {"SELECT * FROM MEDSCH",  "SELECT * FROM MEDTBL", "SELECT * FROM TRNNO",
                                    "SELECT * FROM CODE",    "SELECT * FROM APPR",   "SELECT * FROM APPRDTL",
                                    "SELECT * FROM EDUCATE", "SELECT EMP_NO, BENEFIT_SCHEME, LEAVE_SCHEME FROM EMPLOYEE"};

class ClaimsDemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.File("root") + "/";
    tools::BuildDemoRoot(root_, tools::DemoOptions{});
  }

  // What the run showed apart from the summary of a run without messages.
  Lines Run() {
    std::vector<std::string> args = {"--batch", "--root", root_, "--select-all", "--yes"};
    for (const char* option : {"CheckBoxClaim", "CheckBoxEducate", "CheckBoxFamilyCode"}) {
      args.push_back("--set");
      args.push_back(std::string(option) + "=1");
    }
    std::ostringstream out, err;
    std::istringstream in;
    EXPECT_EQ(BatchMain(args, out, err, in, false), 0) << err.str();
    Lines shown = ShownLines(out.str());
    std::erase(shown, "Summary: 3 companies, 3 without a message");
    return shown;
  }

  // The rows of a statement as CSV lines without the header.
  Lines Sql(const tools::DemoCompany& company, const std::string& statement) {
    std::string path = root_ + "COMPANY\\" + company.code;
    std::string password = support::AdministratorPassword();
    if (company.dictionary) {
      path += std::string("\\") + company.code + ".kdd";
      password.clear();
    }
    return QueryRows(path, statement, password);
  }

  void ExpectClaimSetup(const tools::DemoCompany& company) {
    // One numbered row per category and medical code of MEDTABLE, from 111.
    EXPECT_EQ(Sql(company, "SELECT SCHEME_CODE, CLAIM_CODE, TRNNO, ITEMTYPE, CLAIMTYPE FROM MEDSCH WHERE TRNNO > 0 "
                           "ORDER BY TRNNO"),
              (Lines{"EXE,DENT,111,F,0", "EXE,GP,112,F,0", "MGT,SPL,113,F,0", "NEX,GP,114,F,0"}));
    EXPECT_EQ(Sql(company, "SELECT AUTO2 FROM TRNNO"), Lines{"114"});
    // Ten tiers each, filled in order; the eleventh specialist tier is dropped.
    EXPECT_EQ(Sql(company, "SELECT TRNNO, COUNT(*) AS N, COUNT(MAX_CLAIM) AS FILLED FROM MEDTBL GROUP BY TRNNO"),
              (Lines{"111,10,1", "112,10,3", "113,10,10", "114,10,1"}));
    EXPECT_EQ(Sql(company, "SELECT MAX_CLAIM, FROM, TO FROM MEDTBL WHERE TRNNO = 112 AND MAX_CLAIM > 0 ORDER BY ID"),
              (Lines{"300,0,1", "500,1,5", "800,5,99"}));
    EXPECT_EQ(Sql(company, "SELECT MAX(MAX_CLAIM) AS M FROM MEDTBL WHERE TRNNO = 113"), Lines{"1000"});

    // The claim method is "C": every employee's schemes are its category,
    // whose description the scheme codes take; each scheme in use has a
    // claim row per allowance.
    EXPECT_EQ(Sql(company, "SELECT COUNT(*) AS N FROM EMPLOYEE WHERE BENEFIT_SCHEME <> CATEGORY_CODE OR "
                           "LEAVE_SCHEME <> CATEGORY_CODE"),
              Lines{"0"});
    Lines claim_rows;
    for (const std::string& scheme : Sql(company, "SELECT BENEFIT_SCHEME FROM EMPLOYEE GROUP BY BENEFIT_SCHEME")) {
      SCOPED_TRACE(scheme);
      const Lines description = Sql(company, "SELECT DESC FROM CODE WHERE CATEGORY = 'CAT' AND CODE = '" + scheme + "'");
      EXPECT_EQ(Sql(company, "SELECT DESC FROM CODE WHERE CATEGORY = 'BEN' AND CODE = '" + scheme + "'"), description);
      EXPECT_EQ(Sql(company, "SELECT DESC FROM CODE WHERE CATEGORY = 'LSC' AND CODE = '" + scheme + "'"), description);
      for (const char* allowance : {",DENT,SCALING,60", ",GP,CONSULT,50", ",GP,MEDICINE,80"}) {
        claim_rows.push_back(scheme + allowance);
      }
    }
    EXPECT_EQ(Sql(company, "SELECT SCHEME_CODE, CLAIM_CODE, SUBCLAIM, SUBLIMIT FROM MEDSCH WHERE CLAIMTYPE = '1' "
                           "ORDER BY SCHEME_CODE, CLAIM_CODE, SUBCLAIM"),
              claim_rows);
  }

  void ExpectRecordNumbers(const tools::DemoCompany& company) {
    for (const char* table : {"APPR", "APPRDTL", "EDUCATE"}) {
      EXPECT_EQ(Sql(company, std::string("SELECT COUNT(*) AS N FROM ") + table + " WHERE ID IS NULL OR ID = 0"),
                Lines{"0"})
          << table;
    }
    EXPECT_EQ(Sql(company, "SELECT ID FROM EDUCATE ORDER BY ID"), (Lines{"1", "2", "3", "4", "5", "6"}));
    if (std::string(company.code) != "MERLION") return;
    // The appraisal counter stood at 65534: numbers are written whole, and
    // the appraisal numbered 70000 passes its number to its details.
    EXPECT_EQ(Sql(company, "SELECT EMP_CODE, APPRAISAL_DATE, ID FROM APPR ORDER BY EMP_CODE, APPRAISAL_DATE"),
              (Lines{"E10001,2009-06-30,70000", "E10001,2011-06-30,65536", "E10001,2012-06-30,65535",
                     "E10004,2012-06-30,65537"}));
    EXPECT_EQ(Sql(company, "SELECT EMPCODE, APPRAISAL_DATE, ID FROM APPRDTL ORDER BY EMPCODE, APPRAISAL_DATE, "
                           "DATE_SERIALNUM"),
              (Lines{"E10001,2009-06-30,70000", "E10001,2009-06-30,70000", "E10001,2012-06-30,65535",
                     "E10001,2012-06-30,65535", "E10004,2012-06-30,65537", "E10004,2012-06-30,65537"}));
    EXPECT_EQ(Sql(company, "SELECT AUTO6 FROM TRNNO"), Lines{"65537"});
  }

  void ExpectFamilyCodes(const tools::DemoCompany& company) {
    // Every occupation in use, the empty one and one without an occupation
    // code among them; every relation in use.
    for (const std::string& occupation : Sql(company, "SELECT DISTINCT OCCUPATION_CODE FROM FAMILY")) {
      const std::string where = occupation.empty() ? "CODE IS NULL" : "CODE = '" + occupation + "'";
      EXPECT_EQ(Sql(company, "SELECT COUNT(*) AS N FROM CODE WHERE CATEGORY = 'SOU' AND " + where), Lines{"1"})
          << occupation;
    }
    EXPECT_EQ(Sql(company, "SELECT DESC FROM CODE WHERE CATEGORY = 'SOU' AND CODE = 'STUDENT'"), Lines{""});
    for (const std::string& relation : Sql(company, "SELECT DISTINCT EMG_CONTACT_RELATION FROM EMPLOYEE")) {
      if (relation.empty()) continue;
      EXPECT_EQ(Sql(company, "SELECT DESC FROM CODE WHERE CATEGORY = 'RE' AND CODE = '" + relation + "'"),
                Lines{relation})
          << relation;
    }
  }

  kx8::testing::TempDir dir_{"kx8-claims-demo"};
  std::string root_;
};

TEST_F(ClaimsDemoTest, ClaimRecordNumberAndFamilyCodeOptionsShowEachRuleAndASecondRunChangesNothing) {
  EXPECT_TRUE(Run().empty());
  std::map<std::string, Lines> after_first;
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    SCOPED_TRACE(company.code);
    ExpectClaimSetup(company);
    ExpectRecordNumbers(company);
    ExpectFamilyCodes(company);
    for (const char* statement : kWritten) after_first[std::string(company.code) + statement] = Sql(company, statement);
  }
  EXPECT_TRUE(Run().empty());
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    for (const char* statement : kWritten) {
      EXPECT_EQ(Sql(company, statement), after_first[std::string(company.code) + statement])
          << company.code << ": " << statement;
    }
  }
}

}  // namespace
}  // namespace kx8::cli
