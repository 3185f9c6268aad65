// The report field rows of a company against the release: every row that a
// complete pass writes must be there with the values it leaves, and a row
// the release deletes must be gone (schema::ExpectedReportRows). Values
// that depend on what the row held before (a row only corrected, or added
// only when missing) are not compared.
#ifndef KX8_TOOLS_VERIFY_REPORT_FIELDS_H_
#define KX8_TOOLS_VERIFY_REPORT_FIELDS_H_

#include <string>
#include <vector>

#include "dbaccess/db_connection.h"

namespace kx8::tools {

// One line per difference, for instance
//   RTABLE NO 1208 missing
//   RTABLE NO 9080 NO2 88, expected empty
//   RTABLE NO 710 present, expected none
// None when the company has no RTABLE (the table is not checked then).
std::vector<std::string> VerifyReportFields(dbaccess::TDbConnection& company, const std::string& folder);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_VERIFY_REPORT_FIELDS_H_
