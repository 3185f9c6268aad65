// Demo rows that show what the career record conversions, the employee
// identity and status fixes and the bank code migration do, added to a
// company folder once its tables are built (before a dictionary binds
// them):
//
//   - the first employee changes position on 1 March 2007, 1 July 2007 and
//     29 February 2008, and has payroll history rows for December 2006, May
//     2007, January 2008 and February 2008; the pay group has periods for
//     2007 and 2008 except February 2008;
//   - the last employee's pay takes effect only from 2008 and has payroll
//     history rows for December 2007 (no career row before it) and January
//     2008;
//   - income tax numbers keyed with "/", employment pass numbers beginning
//     with capital and small letters and digits, termination dates with and
//     without a status;
//   - savings bank accounts under "9812" and "POSB" of 6 and 9 characters in
//     EMPLOYEE and EMP_BNK; ORCHID lists bank 7171 branch 081 already, and
//     MERLION has an employee with one account under both old codes, which
//     keeps its bank data from being moved.
#ifndef KX8_TOOLS_DEMO_CAREER_BANK_H_
#define KX8_TOOLS_DEMO_CAREER_BANK_H_

#include "dbaccess/db_connection.h"
#include "tools/demo_builder.h"

namespace kx8::tools {

// `c` is connected to the company folder.
void AddCareerAndBankRows(dbaccess::TDbConnection& c, const DemoCompany& company, const DemoOptions& options);

// The payroll history rows that adds (those of periods outside the years
// the demo's own payroll history covers).
int CareerAndBankPayrollRows(const DemoOptions& options);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_CAREER_BANK_H_
