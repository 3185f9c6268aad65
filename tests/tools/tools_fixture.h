// Shared set-up of the kx8db tests: temporary folders, one small demo root
// built once per test program (4 employees, one year), and small helpers to
// read tables through the access layer.
#ifndef KX8_TESTS_TOOLS_TOOLS_FIXTURE_H_
#define KX8_TESTS_TOOLS_TOOLS_FIXTURE_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "support/credentials.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/inspect.h"

namespace kx8test {

// A fresh folder, removed with everything in it at the end of the test. It
// lies in memory (/dev/shm) where the machine has such a folder: the engine
// flushes every table it creates or rewrites to the disk, and a demo root
// takes several times longer on a disk.
class TempDir : public kx8::testing::TempDir {
 public:
  TempDir() : kx8::testing::TempDir("kx8-tools", Place::Memory) {}
};

// The default small demo root, built on first use and removed when the test
// program ends. Tests must not change it; those that change data build
// their own.
inline const std::string& SmallDemoRoot() {
  static std::unique_ptr<TempDir> dir;
  static std::string root;
  if (!dir) {
    dir = std::make_unique<TempDir>();
    root = dir->path() + "\\";
    kx8::tools::BuildDemoRoot(root, kx8::tools::DemoOptions{});
  }
  return root;
}

inline std::string CompanyFolder(const std::string& root, const std::string& code) { return root + "COMPANY\\" + code; }

inline std::string Dump(const std::string& table, const std::string& password = "") {
  std::ostringstream out;
  kx8::tools::DumpTable(table, password, out);
  return out.str();
}

inline std::string Sql(const std::string& path, const std::string& statement, const std::string& user = "",
                       const std::string& password = "") {
  std::ostringstream out;
  kx8::tools::RunStatement(path, statement, user, password, out);
  return out.str();
}

// The CSV lines of a dump, without the header.
inline std::vector<std::string> Rows(const std::string& csv) {
  std::vector<std::string> lines;
  std::istringstream in(csv);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (header) {
      header = false;
      continue;
    }
    lines.push_back(line);
  }
  return lines;
}

// The single value of a one-row, one-column result ("SELECT COUNT(*) ...").
inline std::string Scalar(const std::string& csv) {
  std::vector<std::string> rows = Rows(csv);
  return rows.size() == 1 ? rows[0] : "<" + std::to_string(rows.size()) + " rows>";
}

}  // namespace kx8test

#endif  // KX8_TESTS_TOOLS_TOOLS_FIXTURE_H_
