// What a batch run printed besides its status lines and its question: the
// messages it showed and its closing summary, one line each, without the
// table of companies that ends the run.
#ifndef KX8_TESTS_CLI_BATCH_OUTPUT_H_
#define KX8_TESTS_CLI_BATCH_OUTPUT_H_

#include <sstream>
#include <string>
#include <vector>

namespace kx8::cli {

inline std::vector<std::string> ShownLines(const std::string& out) {
  std::vector<std::string> shown;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("COMPANY ", 0) == 0 && line.find(" OUTCOME ") != std::string::npos) break;
    bool status = line.empty();
    for (const char* prefix : {"Edit1: ", "Edit2: ", "edtdatabase: ", "Do you wish to proceed"}) {
      status = status || line.rfind(prefix, 0) == 0;
    }
    if (!status) shown.push_back(line);
  }
  return shown;
}

}  // namespace kx8::cli

#endif  // KX8_TESTS_CLI_BATCH_OUTPUT_H_
