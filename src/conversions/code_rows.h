// The code table CODE: one row per (CATEGORY, CODE) with its description
// DESC, shared by the whole application. Several conversions keep it in
// step with the codes the employees use; they all add rows through here,
// so that a code is never added twice and an existing description is never
// overwritten.
#ifndef KX8_CONVERSIONS_CODE_ROWS_H_
#define KX8_CONVERSIONS_CODE_ROWS_H_

#include <string>

#include "dbaccess/db_table.h"

namespace kx8::conversions {

// Both take an open CODE table and put it in CATEGORY, CODE order when it is
// in another one; they find rows by key, never by a scan.

// The DESC of the row (category, code); empty when there is no such row.
std::string CodeDescription(dbaccess::TDbTable& code_table, const std::string& category, const std::string& code);

// Adds the row (category, code, description) and saves it, only when no row
// with that category and code exists; where the table has LONG_DESC the row
// gets the description there too. True when a row was added. A failed save
// leaves no pending row behind.
bool AddCodeRow(dbaccess::TDbTable& code_table, const std::string& category, const std::string& code,
                const std::string& description);

// Gives the row (category, code) the description, adding the row when it is
// missing and leaving it alone when it has that description already. True
// when a row was added or changed. A failed save leaves no pending row.
bool SetCodeDescription(dbaccess::TDbTable& code_table, const std::string& category, const std::string& code,
                        const std::string& description);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_CODE_ROWS_H_
