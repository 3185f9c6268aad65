// The levy roll-forwards: when a release brings a new rate year, the rows
// of the previous year in FW_LEVY are carried into it with the rates that
// changed, together with the skills development parameters of PAYPARA1.
// Both are safe to run again: rows are added only when missing, and the
// rates they set are the same each time.
#ifndef KX8_CONVERSIONS_LEVY_ROLLFORWARD_H_
#define KX8_CONVERSIONS_LEVY_ROLLFORWARD_H_

#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kClass1Description[] = "CLASS 1 (Singaporean)";

// 2004 to 2005: the PAYPARA1 row "2005" gets SDF_MAX 1800 with SDF_MIN and
// SDF of "2004" (only when a row "2004" with an SDF_MAX other than 0
// exists); the 2004 "SPASS" levy row is added when missing; every 2004 levy
// row is copied to 2005 when 2005 lacks it, and a 2005 row of 30 a month
// becomes 50 a month, 2 a day. Failures go on to the caller.
void RollForwardLevy2004To2005(schema::UpgradeContext& ctx);

// 2007 to 2008: every 2007 levy row is copied to 2008 when 2008 lacks it;
// a 2008 "CLASS1" row is described "CLASS 1 (Singaporean)"; a 2007 row of
// 100 or 80 a month (not "SPASS") makes its 2008 row 150 a month, 5 a day;
// the 2008 "CW3" row is added when missing. Failures go on to the caller.
void RollForwardLevy2007To2008(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_LEVY_ROLLFORWARD_H_
