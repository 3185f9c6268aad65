// The 2007 rows of the five voluntary contribution schemes "VOL1" to
// "VOL5" in the contribution rate table CPFNEW: one row per scheme and age
// band, added when the company lacks it. Existing rows are left as they are.
#ifndef KX8_CONVERSIONS_VOLUNTARY_SCHEMES_H_
#define KX8_CONVERSIONS_VOLUNTARY_SCHEMES_H_

#include <span>
#include <string>

#include "schema/context.h"

namespace kx8::conversions {

inline constexpr int kAgeBands = 6;

// One column of the scheme rows: its value in age bands 1 to 6, as text.
struct SchemeColumn {
  const char* field;
  const char* band[kAgeBands];
};
// The columns that depend on the age band only (the same for all schemes).
std::span<const SchemeColumn> VoluntarySchemeColumns();

// "Voluntary Scheme 1  : (1) Age from :0 To:35" for scheme 1, band 1.
std::string VoluntarySchemeDescription(int scheme, int band);

// Adds every missing row (YEAR "2007", CPF_CAT "VOLn", CPF_AGE_TYPE band);
// a row counts as there when those three fields match. Failures go on to
// the caller; rows saved before stay.
void AddVoluntaryContributionRows(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_VOLUNTARY_SCHEMES_H_
