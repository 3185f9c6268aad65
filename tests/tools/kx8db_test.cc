// The program's command line: what each command prints and its exit code.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools_fixture.h"

namespace kx8test {
namespace {

struct Outcome {
  int exit_code;
  std::string out;  // standard output and standard error, in that order
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Outcome RunKx8db(const std::vector<std::string>& args, const std::string& scratch) {
  std::string command = KX8DB_PROGRAM;
  for (const std::string& a : args) command += " " + Quote(a);
  const std::string err = scratch + "/stderr.txt";
  command += " 2>" + Quote(err);
  Outcome o{-1, ""};
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return o;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) o.out.append(buf, n);
  int status = pclose(p);
  o.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (FILE* e = fopen(err.c_str(), "r")) {
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, e)) > 0;) o.out.append(buf, n);
    fclose(e);
  }
  return o;
}

constexpr int kUsage = -2;  // any non-zero exit code

TEST(Kx8db, CommandsPrintTheirResultOrTheErrorAndSetTheExitCode) {
  const std::string& root = SmallDemoRoot();
  const std::string acme = CompanyFolder(root, "ACME");
  const std::string kdd = CompanyFolder(root, "ORCHID") + "\\ORCHID.kdd";
  TempDir scratch;
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string output_starts;
  };
  const Case cases[] = {
      {{"dump", root + "mcompany.KDT"}, 0, "COMPANY_CODE,COMPANY_NAME,TOTAL_STAFF,"},
      {{"dump", acme + "\\EMPLOYEE"}, 1, "Error 5050: The table is encrypted"},
      {{"dump", acme + "\\EMPLOYEE", "--password", "MAPLE1987"}, 0, "EMP_NO,EMP_NAME,"},
      {{"schema", root + "mcompany.KDT"}, 0, "FIELD\tCOMPANY_CODE\t4\t8\t0\n"},
      {{"schema", kdd}, 0, "TABLE\tEMPLOYEE\tEMPLOYEE.KDT\t1\t1\n"},
      {{"schema", kdd, "paypara", "--user", "readuser", "--password", "READ1234"}, 0, "FIELD\t"},
      {{"schema", kdd, "NOSUCH"}, 1, "Error "},
      {{"schema", root + "mcompany.KDT", "PAYPARA"}, 1, "A table is named after a data dictionary"},
      {{"sql", acme, "SELECT COUNT(*) AS N FROM CODE WHERE CATEGORY = 'DEP'"}, 0, "N\r\n5\r\n"},
      {{"sql", kdd, "SELECT COUNT(*) AS N FROM EMPLOYEE", "--user", "USER88", "--password", "USER1988"},
       0,
       "N\r\n4\r\n"},
      {{"sql", acme, "SELECT * FROM NOSUCH"}, 1, "Error 7200: The table NOSUCH does not exist."},
      {{"verify", acme}, 1, "PAYPARA VERSION 8.5, expected 9.07\n"},
      {{"verify", CompanyFolder(root, "MERLION")}, 0, ""},
      {{"demo", root}, 1, "The folder "},
      {{"catalogue", "--reports"}, 0, "run 1\tupsert\t993\t504\tMEDICAL EMPLOYER%\tMEDICAL\tEMPLOYER_PERCENT\t\t12\tN\tF\n"},
      // Usage errors: the parser's own message and exit code.
      {{"demo", scratch.path() + "/x", "--employees", "0"}, kUsage, "--employees: Value 0 not in range"},
      {{"nosuchcommand"}, kUsage, "A subcommand is required"},
  };
  for (const Case& k : cases) {
    std::string shown;
    for (const std::string& a : k.args) shown += a + " ";
    SCOPED_TRACE(shown);
    Outcome o = RunKx8db(k.args, scratch.path());
    if (k.exit_code == kUsage) {
      EXPECT_NE(o.exit_code, 0) << o.out;
    } else {
      EXPECT_EQ(o.exit_code, k.exit_code) << o.out;
    }
    EXPECT_EQ(o.out.substr(0, k.output_starts.size()), k.output_starts) << o.out;
    if (k.output_starts.empty()) {
      EXPECT_EQ(o.out, "");
    }
  }
}

// The dictionary form of "schema": its rights lines as any user, and a
// missing dictionary named in the error with nothing printed before it.
TEST(Kx8db, DictionarySchemaPrintsRightsOrTheError) {
  const std::string kdd = CompanyFolder(SmallDemoRoot(), "ORCHID") + "\\ORCHID.kdd";
  TempDir scratch;
  Outcome o = RunKx8db({"schema", kdd, "--user", "readuser", "--password", "READ1234"}, scratch.path());
  EXPECT_EQ(o.exit_code, 0) << o.out;
  for (const char* line : {"\nTABLE\tPAYPARA.KDT\tPAYPARA.KDT\t1\t0\n", "\nUSER\tUSER88\nRIGHT\t",
                           "\nRIGHT\tEMPLOYEE\treaduser\tRI\n"
                           "RIGHT\tEMPLOYEE\tKELPAVON8\tRWI\n"
                           "RIGHT\tEMPLOYEE\tUSER88\tRWI\n"}) {
    EXPECT_NE(o.out.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(o.out.find("\tDBSYS\t"), std::string::npos) << "a right line for the administrator";

  const std::string missing = scratch.path() + "/NOSUCH.kdd";
  o = RunKx8db({"schema", missing}, scratch.path());
  EXPECT_EQ(o.exit_code, 1) << o.out;
  EXPECT_EQ(o.out.rfind("Error 5041: The data dictionary was not found.", 0), 0u) << o.out;
  EXPECT_NE(o.out.find("NOSUCH.kdd"), std::string::npos) << o.out;
}

}  // namespace
}  // namespace kx8test
