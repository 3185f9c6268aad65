// The release check of the report field rows: a missing row, a row with
// other values and a row the release deletes are each a line; rows whose
// values depend on what the company held are not compared.
#include "tools/verify_report_fields.h"

#include <gtest/gtest.h>

#include "tools/demo_builder.h"
#include "tools/verify.h"
#include "tools_fixture.h"

namespace kx8test {
namespace {

using namespace kx8::tools;

std::vector<std::string> ReportLines(const std::string& folder) {
  std::vector<std::string> lines = VerifyCompany(folder, {});
  std::erase_if(lines, [](const std::string& l) { return !l.starts_with("RTABLE "); });
  return lines;
}

TEST(VerifyReportFields, EveryMissingOrDifferentRowIsALine) {
  TempDir dir;
  DemoOptions o;
  o.employees = 1;
  BuildDemoCompany(dir.path(), DemoCompanies()[2], o);  // at the release
  const std::string folder = CompanyFolder(dir.path() + "\\", DemoCompanies()[2].code);
  EXPECT_EQ(ReportLines(folder), std::vector<std::string>{});

  Sql(folder, "DELETE FROM RTABLE WHERE NO = 1250");
  Sql(folder, "UPDATE RTABLE SET NO2 = 88, WIDTH = 9 WHERE NO = 9080");
  Sql(folder, "INSERT INTO RTABLE (NO, HEADING) VALUES (710, 'OLD FIELD')");
  // Values the release does not decide: the width of a row added only when
  // missing, and a row that is only corrected when present.
  Sql(folder, "UPDATE RTABLE SET WIDTH = 44 WHERE NO = 1208");
  Sql(folder, "DELETE FROM RTABLE WHERE NO = 1059");
  EXPECT_EQ(ReportLines(folder), (std::vector<std::string>{"RTABLE NO 710 present, expected none",
                                                           "RTABLE NO 1250 missing",
                                                           "RTABLE NO 9080 NO2 88, expected empty",
                                                           "RTABLE NO 9080 WIDTH 9, expected 10"}));
}

}  // namespace
}  // namespace kx8test
