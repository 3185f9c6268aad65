// Removal of one column from one company table when the table has it.
#ifndef KX8_CONVERSIONS_COLUMN_REMOVAL_H_
#define KX8_CONVERSIONS_COLUMN_REMOVAL_H_

#include <string>

#include "schema/context.h"

namespace kx8::conversions {

// Failures are shown and do not reach the caller.
void RemoveColumn(schema::UpgradeContext& ctx, const std::string& table, const std::string& field);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_COLUMN_REMOVAL_H_
