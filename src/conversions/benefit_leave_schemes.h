// The benefit and leave schemes of each employee, tied to the claim setup
// when "Update Claim Setup Table" is ticked. The employee record pass works
// out where the schemes come from before its first employee and sets them
// on every employee at their place among its steps.
#ifndef KX8_CONVERSIONS_BENEFIT_LEAVE_SCHEMES_H_
#define KX8_CONVERSIONS_BENEFIT_LEAVE_SCHEMES_H_

#include "dbaccess/db_table.h"
#include "schema/context.h"

namespace kx8::conversions {

// Where the schemes of an employee come from, worked out once per company.
struct SchemeSources {};

// Before the first employee, with CODE open.
SchemeSources PrepareSchemeSources(schema::UpgradeContext& ctx, dbaccess::TDbTable& code_table);

// For the current employee row. Not built yet: it changes nothing.
void SetBenefitAndLeaveSchemes(const SchemeSources& sources, dbaccess::TDbTable& employee,
                               dbaccess::TDbTable& code_table);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_BENEFIT_LEAVE_SCHEMES_H_
