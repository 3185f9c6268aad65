// Corrections of the employee master table EMPLOYEE: the termination status
// of employees who have none, identity and income tax numbers keyed with
// "/", and income tax references taken from employment pass numbers.
#ifndef KX8_CONVERSIONS_EMPLOYEE_IDENTITY_H_
#define KX8_CONVERSIONS_EMPLOYEE_IDENTITY_H_

#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kIdentityStatus[] = "UPDATING : ";

// An empty TERMINATION_STATUS becomes "T" when the employee has a
// TERMINATION_DATE and "F" when not; a status already set stays.
void UpdateTerminationStatus(schema::UpgradeContext& ctx);

// Removes every "/" from NEW_IC and INCOME_TAX_AC_NO, showing
// "UPDATING : " + NEW_IC for each employee. A value of one character is
// left as it is.
void RemoveIdentitySlashes(schema::UpgradeContext& ctx);

// An empty INCOME_TAX_AC_NO takes EMP_PASS_AC_NO when that begins with a
// capital letter "A" to "Z".
void IncomeTaxNumberFromPass(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_EMPLOYEE_IDENTITY_H_
