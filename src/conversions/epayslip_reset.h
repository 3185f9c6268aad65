// The e-Payslip password reset: employees open their electronic payslips
// with the password kept in EMPLOYEE.E_PASS; the reset sets it to the
// employee's identity number, or to the employee number when no identity
// number is recorded.
#ifndef KX8_CONVERSIONS_EPAYSLIP_RESET_H_
#define KX8_CONVERSIONS_EPAYSLIP_RESET_H_

#include "schema/context.h"

namespace kx8::conversions {

// The options of the "Misc" page, read when the step is reached.
struct EPayslipResetOptions {
  bool reset = false;         // CheckBox5 "Reset e-Payslip Password"
  bool update_all = false;    // RadioButton1 "Update All"
  bool update_blank = false;  // RadioButton2 "Update Blank Field"
};

// Nothing happens unless `reset` is set. "Update All" replaces every
// password; otherwise "Update Blank Field" gives one to the employees whose
// password is empty. EMPLOYEE is opened exclusively; on a free-table
// company it is left decrypted for the column changes that follow, which
// encrypt it again.
void ResetEPayslipPasswords(schema::UpgradeContext& ctx, const EPayslipResetOptions& options);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_EPAYSLIP_RESET_H_
