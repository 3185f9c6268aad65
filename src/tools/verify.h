// Checks a company database against the release: the stored version is
// 9.07, and the company's tables pass the release's column check
// (schema/release_check.h).
#ifndef KX8_TOOLS_VERIFY_H_
#define KX8_TOOLS_VERIFY_H_

#include <string>
#include <vector>

#include "schema/release_check.h"

namespace kx8::tools {

using schema::ColumnExpectation;
using schema::ColumnExpectations;
using schema::ColumnGuard;
using schema::ColumnKind;
using schema::KindName;
using schema::ReleaseColumn;
using schema::ReleaseColumns;

// The differences between the company in folder and the release: the
// version first, then those of the column check. None when the company is
// up to date. Raises when the folder cannot be read at all.
std::vector<std::string> VerifyCompany(const std::string& folder, const std::vector<ReleaseColumn>& columns);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_VERIFY_H_
