// The catalogue's own shape against the figures the release's listing
// states: entries and columns per run, tables, flags, series, the columns
// only ever resized, and the listing that `kx8db catalogue` prints. A line
// dropped, doubled or mistyped in the data changes one of these figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

#include "schema/catalogue.h"

namespace kx8::schema {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST(CatalogueShapeTest, RunsHoldTheListedEntriesAndColumns) {
  struct Figures {
    int run, entries, columns;
  };
  // The run order table of the listing.
  const Figures listed[] = {
      {1, 20, 20},   {2, 2, 2},     {3, 35, 35},   {4, 2, 2},    {5, 53, 53},
      {6, 1, 1},     {7, 265, 364}, {8, 9, 48},    {9, 158, 177}, {10, 11, 11},
      {11, 6, 6},    {12, 27, 27},  {13, 1, 1},    {14, 639, 708}, {15, 1, 1},
  };
  const std::vector<CatalogueRun>& runs = Catalogue();
  ASSERT_EQ(runs.size(), std::size(listed));
  int entries = 0, columns = 0, flag0 = 0, flag1 = 0;
  std::set<std::string> tables;
  bool flow_table = false;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE("run " + std::to_string(listed[i].run));
    EXPECT_EQ(runs[i].run, listed[i].run);
    int run_entries = 0, run_columns = 0;
    for (const CatalogueLine& line : runs[i].lines) {
      for (const CatalogueEntry& entry : line.entries) {
        ++run_entries;
        run_columns += static_cast<int>(entry.Columns().size());
        (line.row.flag == 0 ? flag0 : flag1)++;
        if (std::string(line.row.table) == kFlowTable) {
          flow_table = true;
        } else {
          tables.insert(line.row.table);
        }
      }
    }
    EXPECT_EQ(run_entries, listed[i].entries);
    EXPECT_EQ(run_columns, listed[i].columns);
    entries += run_entries;
    columns += run_columns;
  }
  EXPECT_EQ(entries, 1230);
  EXPECT_EQ(columns, 1456);
  EXPECT_EQ(tables.size(), 145u);
  EXPECT_TRUE(flow_table);
  EXPECT_EQ(flag0, 738);
  EXPECT_EQ(flag1, 492);
}

TEST(CatalogueShapeTest, SeriesCodesAndResizedOnlyColumnsAreAsListed) {
  // The four generated series, in issue order.
  std::vector<std::string> series;
  std::set<std::string> codes;
  std::map<std::pair<std::string, std::string>, std::set<std::string>> codes_of_column;
  for (const CatalogueRun& run : Catalogue()) {
    for (const CatalogueLine& line : run.lines) {
      for (const CatalogueEntry& entry : line.entries) {
        codes.insert(entry.code);
        if (entry.Series()) {
          std::vector<std::string> names = entry.Columns();
          series.push_back(std::to_string(run.run) + " " + line.row.table + " " + names.front() + ".." + names.back() +
                           " " + std::to_string(names.size()) + " " + entry.code + " " + entry.size + " " +
                           std::to_string(line.row.flag));
        }
        if (std::string(line.row.table) == kFlowTable) continue;
        for (const std::string& column : entry.Columns()) {
          codes_of_column[{line.row.table, Upper(column)}].insert(entry.code);
        }
      }
    }
  }
  EXPECT_EQ(series, (std::vector<std::string>{
                        "7 RP_HTRX Field_No201..Field_No300 100 $ 1 1",
                        "8 COLUMN1 COLUMN61..COLUMN100 40 I 8 0",
                        "9 COLUMN1 COLUMN41..COLUMN60 20 I 8 0",
                        "14 RP_HTRX GRPNUM1..GRPNUM70 70 $ 1 1",
                    }));
  // Never "B" or "AI".
  EXPECT_EQ(codes, (std::set<std::string>{"C", "$", "I", "D", "L", "T", "Z", "+", "AS", "IC"}));
  // Columns that only "AS" or "IC" entries name: resized, never created.
  std::set<std::string> resized_only;
  for (const auto& [column, used] : codes_of_column) {
    if (std::all_of(used.begin(), used.end(), [](const std::string& c) { return c == "AS" || c == "IC"; })) {
      resized_only.insert(column.first + " " + column.second);
    }
  }
  EXPECT_EQ(resized_only.size(), 43u);
  for (const char* listed : {"GLLINE LINE", "GLHEADER LINE", "GLBODY LINE", "NSTRANS MTH1", "NSTRANS MTH6",
                             "VACCINATION FOOD_HANDLER"}) {
    EXPECT_TRUE(resized_only.count(listed)) << listed;
  }
}

TEST(CatalogueShapeTest, StepsAndGroupsStandAtTheirMarkedPoints) {
  // Each step, group and the line before it, as "run: what <- after TABLE".
  std::vector<std::string> steps;
  for (const CatalogueRun& run : Catalogue()) {
    std::string before = "start";
    for (const CatalogueLine& line : run.lines) {
      const CatalogueRow& r = line.row;
      std::string what;
      switch (r.kind) {
        case LineKind::Columns:
          before = r.table;
          continue;
        case LineKind::Hook:
          what = std::string(HookName(r.hook)) + (std::string(r.argument).empty() ? "" : "(" + std::string(r.argument) + ")");
          break;
        case LineKind::OptionHook:
          what = std::string(r.argument) + "?" + HookName(r.hook);
          break;
        case LineKind::ExclusiveHook:
          what = std::string(r.argument) + "!" + HookName(r.hook);
          break;
        case LineKind::Bracket:
          what = "bracket " + std::to_string(static_cast<int>(r.action)) + " " + r.table;
          break;
        case LineKind::Begin:
          what = "begin " + std::to_string(static_cast<int>(r.block));
          break;
        case LineKind::End:
          what = "end";
          break;
      }
      steps.push_back(std::to_string(run.run) + ": " + what + " <- " + before);
    }
  }
  const std::vector<std::string> expected = {
      "1: WriteReportFields(993, 9080, 268, 8) <- GLBODY",
      "1: WriteReportFields(783, 784) <- EDUCATE",
      "1: WriteReportFields(1250) <- CTRSETUP",
      "3: WriteReportFields(70) <- BANKLIST",
      "5: SeedFreeFieldCaptions <- EMPMISC",
      "5: WriteReportFields(1256, 1257, 55) <- EMPLOYEE",
      "5: WriteReportFields(54, 27) <- QUERY",
      "7: CheckBoxVol?AddVoluntaryContributionRows <- EMP_ALW",
      "7: CheckBoxCTR!ConvertCostCentreCodes <- CODE",
      "7: WriteReportFields(9048, 9049, 9050, 9051, 9052, 9053, 9054, 9055, 9056) <- GLBODY",
      "7: WriteReportFields(150) <- TABLE_REF",
      "7: FixListCodes <- TABLE_REF",
      "7: bracket 0 TRNNO <- CODE",
      "9: SeedFormulaFields <- IRDX8A",
      "9: RollForwardLevy2004To2005 <- IRDX8A",
      "9: BackfillCareerHistory <- EMPSERV",
      "9: FillPHtrxBankAmount <- P_HTRX",
      "9: WriteReportFields(564, 565, 566, 567, 568) <- EMPLEAVE",
      "11: bracket 4 EMAILPROFILE <- start",
      "14: begin 4 <- MEDISAVE",
      "14: bracket 3 WKCSTREC <- MEDISAVE",
      "14: end <- WKCSTREC",
      "14: begin 4 <- WKCSTREC",
      "14: end <- TRNNO",
      "14: RemoveEmpservBackup <- EMPSERV",
      "14: DefaultPaypara2Type <- PAYPARA2",
      "14: begin 5 <- BONUS",
      "14: end <- BONUS",
      "14: TakeEmpProsSalaryTotal <- BONUS",
      "14: CheckEmpProsSalaryTotal <- EMP_PROS",
      "14: EmptyRpHtrx <- EMP_PROS",
      "14: ResetEPayslipPasswords <- EMP_PROS",
      "14: bracket 0 EMPLOYEE <- EMP_PROS",
      "14: bracket 2 EMPLOYEE <- EMPLOYEE",
      "14: bracket 0 EMP_ALW <- SETUP",
      "14: bracket 2 EMP_ALW <- SETUP",
      "14: RemoveColumn(DESC) <- CLAIMGRP",
      "14: begin 6 <- EMPLEAVE",
      "14: end <- EMPLEAVE",
      "14: begin 7 <- EMPLEAVE",
      "14: end <- CASUALD",
      "14: CloseCodeTables <- QUERY",
      "14: FillCodeAndGradeColumns <- CODE",
      "14: bracket 1 EMPMISC <- CODE",
      "14: bracket 3 EMPMISC <- EMPMISC",
  };
  EXPECT_EQ(steps, expected);
}

TEST(CatalogueShapeTest, GuardedAndConditionalGroupsHoldTheirEntries) {
  const CatalogueRun& run14 = Catalogue()[13];
  std::map<int, std::vector<std::string>> inside;  // block -> "TABLE:entries"
  for (std::size_t i = 0; i < run14.lines.size(); ++i) {
    const CatalogueLine& line = run14.lines[i];
    if (line.row.kind != LineKind::Begin) continue;
    for (std::size_t j = i + 1; j < line.end; ++j) {
      const CatalogueLine& in = run14.lines[j];
      if (in.row.kind == LineKind::Columns) {
        inside[static_cast<int>(line.row.block)].push_back(std::string(in.row.table) + ":" +
                                                           std::to_string(in.entries.size()));
      }
    }
  }
  EXPECT_EQ(inside[static_cast<int>(Block::TrnnoKdt)], (std::vector<std::string>{"WKCSTREC:1", "TRNNO:10"}));
  EXPECT_EQ(inside[static_cast<int>(Block::BonusReptype)], (std::vector<std::string>{"BONUS:1"}));
  // The twelve approval-flow entries; ISURGENT follows outside the group.
  EXPECT_EQ(inside[static_cast<int>(Block::ApprovalFlow)], (std::vector<std::string>{"*Flow Table*:6", "EMPLEAVE:6"}));
  EXPECT_EQ(inside[static_cast<int>(Block::CompanyFile)], (std::vector<std::string>{"CASUALD:5"}));
  // The 27 EMP_PROS entries between the two halves of the salary check.
  int emp_pros = 0;
  bool between = false;
  for (const CatalogueLine& line : run14.lines) {
    if (line.row.hook == CatalogueHook::TakeEmpProsSalaryTotal) between = true;
    if (line.row.hook == CatalogueHook::CheckEmpProsSalaryTotal) between = false;
    if (between && line.row.kind == LineKind::Columns) {
      EXPECT_STREQ(line.row.table, "EMP_PROS");
      EXPECT_EQ(line.row.flag, 0);
      emp_pros += static_cast<int>(line.entries.size());
    }
  }
  EXPECT_EQ(emp_pros, 27);
  // The runs' own gates and error blocks.
  std::vector<std::string> gates;
  for (const CatalogueRun& run : Catalogue()) {
    if (run.option == nullptr && run.version == VersionTest::None && run.block == Block::None) continue;
    gates.push_back(std::to_string(run.run) + " " + (run.option ? run.option : "-") + " " +
                    std::to_string(static_cast<int>(run.version)) + " " + std::to_string(static_cast<int>(run.block)));
  }
  EXPECT_EQ(gates, (std::vector<std::string>{"2 - 0 1", "4 - 0 2", "6 chkAC 0 0", "9 - 1 0", "11 - 0 3",
                                             "13 CheckBox1 0 0", "14 CheckBox1 2 0"}));
}

TEST(CatalogueShapeTest, ListingPrintsOneLinePerColumnInIssueOrder) {
  std::ostringstream out;
  WriteCatalogueListing(out);
  std::vector<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 1456u);
  EXPECT_EQ(lines.front(), "1\tGLCOST\t0\tGLLINE\tAS\t8");
  EXPECT_EQ(lines.back(), "15\tEMPGL_LINE\t0\tDESCR\tC\t30");
  auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
  // Series expanded in order; the approval-flow table written as such.
  EXPECT_EQ(at("7\tRP_HTRX\t1\tField_No201\t$\t1") + 99, at("7\tRP_HTRX\t1\tField_No300\t$\t1"));
  EXPECT_EQ(at("14\t*Flow Table*\t1\tSUPERVISOR_CODE\tC\t12") + 6, at("14\tEMPLEAVE\t0\tSUPERVISOR_CODE\tC\t12"));
  // Widths set twice in one pass are issued in that order.
  EXPECT_LT(at("7\tEMP_BNK\t1\tB_COUNTRY\tC\t3"), at("7\tEMP_BNK\t1\tB_COUNTRY\tAS\t30"));
  EXPECT_LT(at("5\tTRNNO\t0\tDATABASE_NAME\tC\t255"), at("5\tTRNNO\t0\tDATABASE_NAME\tAS\t255"));
  EXPECT_LT(at("7\tIRDX8A\t1\tTAX_REMARK\tC\t50"), at("7\tIRDX8A\t1\tTAX_REMARK\tC\t80"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "7\tEMP_BNK\t1\tB_COUNTRY\tAS\t30"), 2);
  for (const std::string& line : lines) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 5) << line;
  }
}

}  // namespace
}  // namespace kx8::schema
