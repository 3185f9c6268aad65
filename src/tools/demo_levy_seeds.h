// Demo rows for the levy steps and the fill-ins, beside the common seeds:
// rate rows that show how the roll-forwards treat a year they find already
// there, and a monthly amount whose daily rate rounds up by one cent only.
#ifndef KX8_TOOLS_DEMO_LEVY_SEEDS_H_
#define KX8_TOOLS_DEMO_LEVY_SEEDS_H_

#include <span>

#include "tools/demo_seeds.h"

namespace kx8::tools {

std::span<const SeedBlock> LevyDemoSeeds();

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_LEVY_SEEDS_H_
