// The report catalogue of a demo company as its release left it: the
// report field rows RTABLE, the custom report details RTPDETL and the
// allowance codes ALLOWNCE.
//
//   8.50  rows of the old catalogue, among them rows the release corrects
//         (9, 30, 51, 57, 69, 140 in every pass; 710, 722, 734, 938, 1054,
//         1059, 1060, 1212 and 80 by the report field routine), EMP_PROS
//         number rows not marked as wages, widths of 20 and 30, 9080 with a
//         second number the release clears, and three allowance entries
//         whose numbers are not in code order;
//   8.6x  the same and what those releases added: 993, 268, 1201, 1208
//         (already widened to 60), a partial 1215, and 1250 and 1256 in the
//         meaning the column runs give them before the routine;
//   9.07  as a complete upgrade of the 8.50 rows leaves them: every row of
//         the report field catalogue, the corrections and the width and
//         wage statements applied.
//
// The custom report details and the allowance codes are the same at every
// release: an allowance report whose columns point at the allowance
// entries, and allowance codes over two years.
#ifndef KX8_TOOLS_DEMO_REPORT_CATALOGUE_H_
#define KX8_TOOLS_DEMO_REPORT_CATALOGUE_H_

#include <string_view>
#include <vector>

#include "tools/demo_seeds.h"

namespace kx8::tools {

// The rows of one table for a company at a release; none for a table that
// is not one of the three.
std::vector<SeedBlock> ReportCatalogueSeeds(std::string_view table, double release);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_REPORT_CATALOGUE_H_
