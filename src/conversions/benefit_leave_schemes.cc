#include "conversions/benefit_leave_schemes.h"

namespace kx8::conversions {

// The claim setup conversion fills these in; until then the employee pass
// calls them at their places and they leave every table as it is.
SchemeSources PrepareSchemeSources(schema::UpgradeContext&, dbaccess::TDbTable&) { return {}; }

void SetBenefitAndLeaveSchemes(const SchemeSources&, dbaccess::TDbTable&, dbaccess::TDbTable&) {}

}  // namespace kx8::conversions
