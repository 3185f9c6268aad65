#include "tools/demo_levy_seeds.h"

namespace kx8::tools {
namespace {

using enum SeedTarget;

constexpr SeedBlock kSeeds[] = {
    // A 2008 rate entered by hand before the release: it keeps its own
    // rates. 249.72 a month is 8.20997 a day, rounded up to 8.21.
    {Company, "FW_LEVY", "YEAR|CLASS|CATEGORY|DESC|DAILY_RATE|MAX_PER_MTH",
     "2008|CLASS2|FWL|CLASS 2 WORKER (2008)|8.22|250\n"
     "2012|CW3|FWL|CONSTRUCTION WORKER-UNSKILLED||249.72\n"},
    // Query lines without a code, left behind by an interrupted edit.
    {Company, "QUERY", "CODE|LINE|FIELDNAME|STATUS|STATUS2", "|5|DEPARTMENT_CODE|A|A\n"},
    // A report item whose ID the release fills from ITEMID.
    {Company, "RBITEM", "ITEMID|FOLDER|ITEMNAME", "3|PAYROLL|FOREIGN WORKER LEVY BY CLASS\n"},
};

}  // namespace

std::span<const SeedBlock> LevyDemoSeeds() { return kSeeds; }

}  // namespace kx8::tools
