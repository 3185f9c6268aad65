// The release a company's tables were last brought up to (PAYPARA.VERSION),
// its stamp at the end of a complete pass, and the parameter rows the
// release expects: free-field captions, formula fields, automatic reminder
// settings and the list code fix.
#ifndef KX8_CONVERSIONS_RELEASE_VERSION_H_
#define KX8_CONVERSIONS_RELEASE_VERSION_H_

#include <cstdint>
#include <string>

#include "schema/context.h"

namespace kx8::conversions {

// The stored version in ten-thousandths (8.90 is 89000), compared exactly.
std::int64_t ReadReleaseVersion(schema::UpgradeContext& ctx);
constexpr std::int64_t kVersion860 = 86000;
constexpr std::int64_t kVersion890 = 89000;
constexpr std::int64_t kVersion907 = 90700;

// A version in ten-thousandths as people write it: 85000 is "8.50", 86550
// "8.655".
std::string VersionText(std::int64_t version);

void StampReleaseVersion(schema::UpgradeContext& ctx);
void SeedFreeFieldCaptions(schema::UpgradeContext& ctx);
void SeedFormulaFields(schema::UpgradeContext& ctx);
void SeedReminderSettings(schema::UpgradeContext& ctx);
void FixListCodes(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_RELEASE_VERSION_H_
