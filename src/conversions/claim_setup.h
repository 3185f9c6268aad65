// The claim setup of the current release: one MEDSCH row per scheme, claim
// code, sub-claim and claim type, the numbered rows with ten limit tiers
// each in MEDTBL. Older releases kept the limits in MEDTABLE, one row per
// category, medical code and tier; option CheckBoxClaim converts them.
//
//   - The rebuild replaces MEDSCH and MEDTBL by the setup MEDTABLE
//     describes: one MEDSCH row per category and medical code, numbered
//     from 111 in MEDTABLE's key order through TRNNO.auto2 (claim type "0",
//     item type "F"), whose tiers take MEDTABLE's rows in order into the
//     first tier without a limit; rows past the tenth are not carried.
//   - The scheme claim rows give every benefit scheme in use one claim row
//     (claim type "1") for each ALOCLAIM row, with its limit.
//
// The employees' schemes in between are the employee record pass's
// (benefit_leave_schemes.h).
#ifndef KX8_CONVERSIONS_CLAIM_SETUP_H_
#define KX8_CONVERSIONS_CLAIM_SETUP_H_

#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kClaimSetupSql[] = "SELECT * FROM  MEDSCH";
inline constexpr char kBenefitSchemesSql[] = "SELECT BENEFIT_SCHEME  FROM EMPLOYEE GROUP BY BENEFIT_SCHEME";
inline constexpr char kClaimSetupKept[] = "The claim setup was left as it was: ";
// The number before the first claim setup row's.
inline constexpr int kClaimSetupNumberBase = 110;
inline constexpr int kClaimTiers = 10;

// Everything the rebuild reads and writes (tables, fields, the counter
// row) is checked before a row is deleted: when something is missing, a
// message names it ("The claim setup was left as it was: ...") and the
// setup stays as it was. A setup that already is what the rebuild would
// make is left alone, with the claim rows added to it since, so a second
// run changes nothing.
void RebuildClaimSetup(schema::UpgradeContext& ctx);

// Adds the missing scheme claim rows; a second run adds nothing. On a
// free-table company the statement over EMPLOYEE gets the administrator
// password.
void AddSchemeClaimRows(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_CLAIM_SETUP_H_
