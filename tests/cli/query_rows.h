// The rows a statement gives on a company, read the way `kx8db sql` prints
// them: CSV lines without the header line and without their carriage
// returns. The demo tests compare tables through it.
#ifndef KX8_TESTS_CLI_QUERY_ROWS_H_
#define KX8_TESTS_CLI_QUERY_ROWS_H_

#include <sstream>
#include <string>
#include <vector>

#include "tools/inspect.h"

namespace kx8::cli {

inline std::vector<std::string> QueryRows(const std::string& path, const std::string& statement,
                                          const std::string& password) {
  std::ostringstream out;
  tools::RunStatement(path, statement, "", password, out);
  std::vector<std::string> rows;
  std::istringstream lines(out.str());
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    rows.push_back(line);
  }
  return rows;
}

}  // namespace kx8::cli

#endif  // KX8_TESTS_CLI_QUERY_ROWS_H_
