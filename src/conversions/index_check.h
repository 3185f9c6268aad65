// Whether a table already has an index on a list of fields, whatever the
// index is called: the test the conversions make before they create an
// index, so that a second pass (or an index made by hand under another
// name) gets no duplicate.
#ifndef KX8_CONVERSIONS_INDEX_CHECK_H_
#define KX8_CONVERSIONS_INDEX_CHECK_H_

#include <string>

#include "dbaccess/db_table.h"

namespace kx8::conversions {

// True when the open table has an index whose field names, joined by ";",
// are exactly `fields` (letter case and order count, as the table keeps
// them). The table's index list is read afresh.
bool IndexExists(dbaccess::TDbTable& table, const std::string& fields);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_INDEX_CHECK_H_
