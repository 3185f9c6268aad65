#include "conversions/occupation_codes.h"

#include <string>

#include "conversions/code_rows.h"
#include "conversions/column_values.h"
#include "conversions/company_table.h"

namespace kx8::conversions {

void ConvertOccupationCodes(schema::UpgradeContext& ctx) {
  CompanyTable codes(ctx, "CODE", "CATEGORY;CODE");
  for (const std::string& occupation : ColumnValues(ctx, kFamilyOccupationsSql, nullptr)) {
    AddCodeRow(*codes, "SOU", occupation, CodeDescription(*codes, "OCU", occupation));
  }
  for (const std::string& relation : ColumnValues(ctx, kContactRelationsSql, "EMPLOYEE")) {
    if (!relation.empty()) AddCodeRow(*codes, "RE", relation, relation);
  }
}

}  // namespace kx8::conversions
