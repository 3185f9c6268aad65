// Fixed rows of the demo data: code lists, parameter rows, report
// catalogue rows, levy rates, templates. Rows that depend on the company or
// on the employees are made by the row generator (demo_rows.h).
#ifndef KX8_TOOLS_DEMO_SEEDS_H_
#define KX8_TOOLS_DEMO_SEEDS_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kx8::tools {

// Where a block of rows goes.
enum class SeedTarget {
  Company,         // every company folder that has the table
  ReleaseArchive,  // the template tables inside "UPDATEKX8.ZIP"
  ReportArchive,   // the report-writer tables inside "RPTDATA.ZIP"
};

// Rows of one table: the columns they fill, joined by "|", and one line
// per row ("\n"-terminated) with the values in that order, joined by "|".
// An empty value leaves the column empty. Dates are written YYYY-MM-DD,
// logical values T or F.
struct SeedBlock {
  SeedTarget target;
  const char* table;
  const char* columns;
  const char* rows;
};

std::span<const SeedBlock> DemoSeeds();

// The blocks of one target for one table (without regard to case).
std::vector<const SeedBlock*> SeedsFor(SeedTarget target, std::string_view table);

// Splits "a|b|c" at "|" (an empty text gives one empty value).
std::vector<std::string> SplitValues(std::string_view line);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_SEEDS_H_
