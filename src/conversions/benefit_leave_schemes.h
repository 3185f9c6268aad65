// The benefit and leave schemes of each employee, tied to the claim setup
// when "Update Claim Setup Table" is ticked. The employee record pass works
// out where the schemes come from before its first employee and sets them
// on every employee at their place among its steps.
//
// An employee's benefit scheme is its category (CATEGORY_CODE, codes "CAT")
// when the company's medical claim method is "C", else its job grade
// (JOB_GRADE_CODE, codes "JOB"); its leave scheme is its category unless the
// leave category of 2004 is "J", then its job grade. Each scheme also gets
// its code row ("BEN" or "LSC") with the description of the code it came
// from; without such a code no row is written.
#ifndef KX8_CONVERSIONS_BENEFIT_LEAVE_SCHEMES_H_
#define KX8_CONVERSIONS_BENEFIT_LEAVE_SCHEMES_H_

#include "dbaccess/db_table.h"
#include "schema/context.h"

namespace kx8::conversions {

// Where one scheme's value comes from: an employee field and the code
// category that describes its values.
struct SchemeSource {
  const char* employee_field;
  const char* code_category;
};
inline constexpr SchemeSource kCategorySource = {"CATEGORY_CODE", "CAT"};
inline constexpr SchemeSource kJobGradeSource = {"JOB_GRADE_CODE", "JOB"};

// Where the schemes of an employee come from, worked out once per company.
struct SchemeSources {
  SchemeSource benefit = kCategorySource;
  SchemeSource leave = kCategorySource;
};

// Before the first employee, with CODE open: the medical claim method is
// the first METHOD that is not empty among the "MED" codes in code order
// ("C" when there is none), the leave category that of the LEAVESET row of
// period "2004" ("C" when there is none).
SchemeSources PrepareSchemeSources(schema::UpgradeContext& ctx, dbaccess::TDbTable& code_table);

// For the current employee row: sets BENEFIT_SCHEME and LEAVE_SCHEME and
// writes their code rows. Rows already as they should be are not saved.
void SetBenefitAndLeaveSchemes(const SchemeSources& sources, dbaccess::TDbTable& employee,
                               dbaccess::TDbTable& code_table);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_BENEFIT_LEAVE_SCHEMES_H_
