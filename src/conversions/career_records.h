// The conversions around the career table EMP_PROS, which holds one row per
// change of an employee's position and pay with the organisation codes
// valid from that change:
//
//   - the career history back-fill gives every career row the values of the
//     row before it in its previous-value fields (companies at 8.90 or lower);
//   - the period organisation update stamps each payroll history row of
//     2007 and later with the organisation codes of the career row valid in
//     its pay period (option CheckBoxHTRX);
//   - the cost centre code conversion copies each employee's current cost
//     centre into all of the employee's career rows (option CheckBoxCTR).
#ifndef KX8_CONVERSIONS_CAREER_RECORDS_H_
#define KX8_CONVERSIONS_CAREER_RECORDS_H_

#include <string>

#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kPeriodStatus[] = "Updating P_HTRX :";
inline constexpr char kPeriodStatusPeriod[] = " Period ";
// Payroll history before this period is left as it is.
inline constexpr char kFirstUpdatedPeriod[] = "200701";
inline constexpr char kCostCentreSqlLine1[] = "UPDATE EMP_PROS SET COST_CENTRE=COST_CENTRE_CODE FROM EMPLOYEE ";
inline constexpr char kCostCentreSqlLine2[] = "WHERE EMPLOYEE.EMP_NO=EMP_PROS.EMP_CODE  ";

// Walks EMP_PROS by employee and progression date. The first career row of
// each employee gets its own values as previous values, every later row the
// values of the row before it. An empty DIVISION is filled from the
// employee's DIVISION_CODE, and a first row takes that division as its
// previous division too. A tracked field that the table does not have
// leaves its previous-value field alone, and so do COMPANY, SALARY_SCALE,
// JOBGRADE and GRADE whenever the stored version is below 8.60 (such a
// company gets them only later in the pass). A second walk, also one in a
// pass run again after an interruption, changes nothing.
void BackfillCareerHistory(schema::UpgradeContext& ctx);

// The first and last day of a pay period, as day numbers.
struct PayPeriod {
  double first = 0;
  double last = 0;
};

// The calendar month that a period "YYYYMM" names. A year or month that is
// not a number, or a month outside 1 to 12, raises.
PayPeriod CalendarMonthOf(const std::string& period);

// For each employee, every P_HTRX row from period 200701 on takes category,
// department, cost centre and company from the employee's career row with
// the latest pay-effective date on or before the last day of the row's pay
// period: the employee's pay group period in PGRP_TRX when there is one,
// else the calendar month. Rows without such a career row are left alone.
// Each row costs two index look-ups, whatever the size of EMP_PROS.
void UpdatePeriodOrganisation(schema::UpgradeContext& ctx);

// Copies EMPLOYEE.COST_CENTRE_CODE into every career row of the employee,
// in one statement on the work query. On a free-table company the
// statement gets the administrator password for EMPLOYEE and EMP_PROS,
// which the application keeps encrypted.
void ConvertCostCentreCodes(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_CAREER_RECORDS_H_
