#include "tools/demo_employee_seeds.h"

namespace kx8::tools {
namespace {

using enum SeedTarget;

constexpr SeedBlock kSeeds[] = {
    // The first employee's service: a record without the end of full-time
    // service (NS_SERVICE "T", CHANGE_DATE left as it is), and one without
    // the service flag, which does not count.
    {Company, "NSMAN", "EMP_CODE|NS_PSA_SERVICE|ENLISTMENT_DATE|NS_ORD|NS_RANK",
     "E10001|Y|1975-03-01||LCP\n"
     "E10001|N|1975-03-01|1977-02-28|LCP\n"},
    // The first employee as a supervisor of a sister company: a row of
    // another company code, kept as it is.
    {Company, "SETUP", "EMPID|EMPCOM|MODE|CAT|SUBCOM|SUBCODE|EMPNAME",
     "E10001|SISTER|direct|none|SISTER|E10001|SUPERVISOR OF SISTER\n"},
};

}  // namespace

std::span<const SeedBlock> EmployeeDemoSeeds() { return kSeeds; }

}  // namespace kx8::tools
