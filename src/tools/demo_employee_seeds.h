// Demo rows for the employee record pass, beside the generated employees:
// national service records the pass reads differently, and a SETUP table's
// supervisor row of another company that the supervisor entry leaves alone.
#ifndef KX8_TOOLS_DEMO_EMPLOYEE_SEEDS_H_
#define KX8_TOOLS_DEMO_EMPLOYEE_SEEDS_H_

#include <span>

#include "tools/demo_seeds.h"

namespace kx8::tools {

std::span<const SeedBlock> EmployeeDemoSeeds();

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_EMPLOYEE_SEEDS_H_
