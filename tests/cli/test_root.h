// Root folders for the front-end tests and the screenshot: a company
// register and free-table company folders holding the tables a company
// pass opens at this stage: "PAYPARA" with the stored release version,
// "transfer", "PASS" and "EMP_ALW", which the pass encrypts, and the tables
// of the column runs built so far.
#ifndef KX8_TESTS_CLI_TEST_ROOT_H_
#define KX8_TESTS_CLI_TEST_ROOT_H_

#include <string>
#include <vector>

namespace kx8::testroot {

struct Company {
  std::string code;
  std::string name;
  std::string merge;         // the register's MERGE value
  bool with_folder = true;   // false: registered, but no company folder
  std::string version = "8.5";  // PAYPARA.VERSION
};

// Creates the register in root (a native folder path ending in "/") with
// one row per company, and the company folders with their tables, none
// encrypted.
void MakeRoot(const std::string& root, const std::vector<Company>& companies);

// "CODE=MERGE" for every register row, in COMPANY_CODE order.
std::vector<std::string> RegisterSelection(const std::string& root);

// PAYPARA.VERSION of the company, as text.
std::string StoredVersion(const std::string& root, const std::string& code);

}  // namespace kx8::testroot

#endif  // KX8_TESTS_CLI_TEST_ROOT_H_
