// make-demo-root ROOT CODE=NAME[=MERGE]...: a root folder with a register
// and free-table company folders, for trying the window by hand and for
// scripts/screenshot.
#include <iostream>
#include <string>

#include "test_root.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: make-demo-root ROOT CODE=NAME[=MERGE]...\n";
    return 2;
  }
  std::string root = argv[1];
  if (root.back() != '/') root += '/';
  std::vector<kx8::testroot::Company> companies;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    std::size_t eq = arg.find('=');
    if (eq == std::string::npos) {
      std::cerr << "make-demo-root: " << arg << " is not CODE=NAME[=MERGE]\n";
      return 2;
    }
    kx8::testroot::Company c;
    c.code = arg.substr(0, eq);
    c.name = arg.substr(eq + 1);
    std::size_t eq2 = c.name.find('=');
    if (eq2 != std::string::npos) {
      c.merge = c.name.substr(eq2 + 1);
      c.name.resize(eq2);
    }
    companies.push_back(c);
  }
  try {
    kx8::testroot::MakeRoot(root, companies);
  } catch (const std::exception& e) {
    std::cerr << "make-demo-root: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
