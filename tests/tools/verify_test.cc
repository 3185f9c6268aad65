// The release check: which columns are required, which widths a complete
// pass can leave, and the differences reported for a company.
#include "tools/verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/credentials.h"
#include "tools/demo_builder.h"
#include "tools_fixture.h"

namespace kx8test {
namespace {

using namespace kx8::tools;
using K = ColumnKind;

struct ExpectationCase {
  const char* what;
  std::vector<ReleaseColumn> entries;
  bool required;
  std::set<std::pair<ColumnKind, int>> accepted;
};

TEST(ColumnExpectations, FollowTheRunsAndTheOrderOfTheEntries) {
  const ExpectationCase cases[] = {
      {"added by a run that always takes place", {{1, "T", "A", "C", 12}}, true, {{K::Character, 12}}},
      {"added only below 8.60", {{14, "T", "A", "C", 8}}, false, {{K::Character, 8}}},
      {"added only at most 8.90", {{9, "T", "A", "$", 8}}, false, {{K::Currency, -1}}},
      {"currency added always", {{5, "T", "A", "$", 8}}, true, {{K::Currency, -1}}},
      {"widened twice in one pass", {{1, "T", "A", "AS", 8}, {7, "T", "A", "AS", 4}}, false, {{K::Character, 4}}},
      {"added, then widened in the same run",
       {{7, "T", "A", "C", 40}, {7, "T", "A", "AS", 200}},
       true,
       {{K::Character, 200}}},
      {"widening before a later creation",
       {{1, "T", "A", "AS", 16}, {9, "T", "A", "C", 8}, {14, "T", "A", "C", 8}},
       false,
       {{K::Character, 8}, {K::Character, 16}}},
      {"resized only by option-dependent runs",
       {{6, "T", "A", "AS", 80}, {14, "T", "A", "AS", 50}},
       false,
       {{K::Any, -1}, {K::Character, 50}, {K::Character, 80}}},
      {"converted only at most 8.90", {{9, "T", "A", "IC", 1}}, false, {{K::Any, -1}, {K::Character, 1}}},
      {"guarded group inside run 14", {{14, "T", "A", "$", 20, ColumnGuard::CasualdFile}}, false, {{K::Currency, -1}}},
      {"names compared without regard to case",
       {{1, "t", "a", "C", 5}, {7, "T", "A", "AS", 9}},
       true,
       {{K::Character, 9}}},
  };
  for (const ExpectationCase& k : cases) {
    SCOPED_TRACE(k.what);
    std::vector<ColumnExpectation> x = ColumnExpectations(k.entries);
    ASSERT_EQ(x.size(), 1u);
    EXPECT_EQ(x[0].required, k.required);
    EXPECT_EQ(x[0].accepted, k.accepted);
  }
  std::vector<ReleaseColumn> flow = {{14, "", "STIN", "C", 12, ColumnGuard::FlowTable}};
  EXPECT_TRUE(ColumnExpectations(flow).empty()) << "the window's table is not checked";
}

// A small column list in place of the release's: what a fresh demo
// company lacks, and what an upgraded one has.
std::vector<ReleaseColumn> SmallList() {
  return {
      {1, "EMPLOYEE", "SUPERVISOR_CODE2", "C", 12},  // required, missing in the demo
      {14, "EMPLOYEE", "BENEFIT_SCHEME", "C", 8},    // only below 8.60: checked when present
      {1, "GLLINE", "LINE", "AS", 8},
      {7, "GLLINE", "LINE", "AS", 4},           // old width 2 in the demo
      {2, "DODIZA_CYCLE", "BILLRATE", "$", 1},  // customer table: only ACME has it
  };
}

// The lines about the version and the columns (the report field rows have
// their own test).
std::vector<std::string> WithoutReportRows(std::vector<std::string> lines) {
  std::erase_if(lines, [](const std::string& l) { return l.starts_with("RTABLE "); });
  return lines;
}

TEST(VerifyCompany, ReportsTheVersionAndEveryColumnDifference) {
  const std::string& root = SmallDemoRoot();
  std::vector<std::string> acme = WithoutReportRows(VerifyCompany(CompanyFolder(root, "ACME"), SmallList()));
  EXPECT_EQ(acme, (std::vector<std::string>{
                      "PAYPARA VERSION 8.5, expected 9.07", "EMPLOYEE SUPERVISOR_CODE2 missing, expected char 12",
                      "GLLINE LINE char 2, expected char 4", "DODIZA_CYCLE BILLRATE missing, expected curdouble"}));
  std::vector<std::string> orchid =
      WithoutReportRows(VerifyCompany(CompanyFolder(root, "ORCHID") + "\\", SmallList()));
  EXPECT_EQ(orchid, (std::vector<std::string>{"PAYPARA VERSION 8.65, expected 9.07",
                                              "EMPLOYEE SUPERVISOR_CODE2 missing, expected char 12",
                                              "GLLINE LINE char 2, expected char 4"}));
  EXPECT_TRUE(VerifyCompany(CompanyFolder(root, "MERLION"), {}).empty());
  EXPECT_THROW(VerifyCompany(CompanyFolder(root, "NOSUCH"), {}), std::runtime_error);
}

TEST(VerifyCompany, PassesOnceTheColumnsAndTheVersionAreThere) {
  TempDir dir;
  DemoOptions o;
  o.employees = 1;
  BuildDemoCompany(dir.path(), DemoCompanies()[0], o);
  const std::string folder = CompanyFolder(dir.path() + "\\", "ACME");
  const std::string pw = kx8::support::AdministratorPassword();
  // What an upgrade does for this list, by hand.
  Sql(folder, "ALTER TABLE \"EMPLOYEE.KDT\" ADD COLUMN SUPERVISOR_CODE2 char(12)", "", pw);
  Sql(folder, "ALTER TABLE \"GLLINE.KDT\" ALTER COLUMN \"LINE\" \"LINE\" char(4)");
  Sql(folder, "ALTER TABLE \"DODIZA_CYCLE.KDT\" ADD COLUMN BILLRATE curdouble");
  EXPECT_EQ(WithoutReportRows(VerifyCompany(folder, SmallList())),
            (std::vector<std::string>{"PAYPARA VERSION 8.5, expected 9.07"}));
  Sql(folder, "UPDATE PAYPARA SET VERSION = 9.07");
  EXPECT_TRUE(WithoutReportRows(VerifyCompany(folder, SmallList())).empty());

  // A column the release only creates below 8.60 is checked once present.
  Sql(folder, "ALTER TABLE \"EMPLOYEE.KDT\" ADD COLUMN BENEFIT_SCHEME char(10)", "", pw);
  EXPECT_EQ(WithoutReportRows(VerifyCompany(folder, SmallList())),
            (std::vector<std::string>{"EMPLOYEE BENEFIT_SCHEME char 10, expected char 8"}));
}

}  // namespace
}  // namespace kx8test
