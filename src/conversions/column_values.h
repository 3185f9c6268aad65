// The values a one-column statement gives (such as the distinct values of a
// column), read through the work query into memory: conversions that add a
// row per value in use read them first and then write, with the statement
// closed.
#ifndef KX8_CONVERSIONS_COLUMN_VALUES_H_
#define KX8_CONVERSIONS_COLUMN_VALUES_H_

#include <string>
#include <vector>

#include "schema/context.h"

namespace kx8::conversions {

// An empty value stands for a null one. On a free-table company the
// statement gets the administrator password, for `encrypted_table` as well
// when it is given (a table the application keeps encrypted).
std::vector<std::string> ColumnValues(schema::UpgradeContext& ctx, const char* sql,
                                      const char* encrypted_table = nullptr);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_COLUMN_VALUES_H_
