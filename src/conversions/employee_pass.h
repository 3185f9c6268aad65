// The employee record pass: one walk of EMPLOYEE, in EMP_NO order, per
// company and run. For every employee it keeps the code table and the
// companion tables in step with the employee's data and applies the
// employee-level conversions that the options select.
#ifndef KX8_CONVERSIONS_EMPLOYEE_PASS_H_
#define KX8_CONVERSIONS_EMPLOYEE_PASS_H_

#include "schema/context.h"

namespace kx8::conversions {

// The options of the "Optional" page the pass reads, as they stand when it
// is called.
struct EmployeePassOptions {
  bool family = false;            // CheckBoxFamily   spouse family record
  bool telephone = false;         // CheckBoxaddr     "6" before 7-character numbers
  bool photograph = false;        // CheckBoxjpg      bitmap photographs to JPEG
  bool claim = false;             // CheckBoxClaim    benefit and leave schemes
  bool additional_wages = false;  // CheckBoxAdd      FUND_CLASS "A"
  bool cost_centre = false;       // CheckBoxCost     twelve 2002 cost centre rows
  bool stop_payment = false;      // CheckBoxSTOP     STOP_IND "E" for "@HOLD"
  bool national_service = false;  // CheckBoxNS       NS_SERVICE and CHANGE_DATE
};

// Runs the pass on the current company with its own tables and query, all
// opened on the company connection (with the administrator password on a
// free-table company) and closed when it ends, also when it fails. Rows are
// saved one by one; an error ends the pass and goes on to the caller, rows
// saved before it stay saved. Failures while adding a missing companion
// row are ignored; a photograph that cannot be converted is a message.
void RunEmployeePass(schema::UpgradeContext& ctx, const EmployeePassOptions& options);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_EMPLOYEE_PASS_H_
