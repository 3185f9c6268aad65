// The whole upgrade on the demo companies: a batch run brings the company
// at release 8.50 (free tables), the dictionary-bound one at 8.65 and the
// one already at 9.07 to the release's columns without a single message,
// the release check passes on all three afterwards, and a second run shows
// nothing and changes no table's structure.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "cli/batch_run.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "support/credentials.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/verify.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;

class DemoUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.File("root") + "/";
    tools::BuildDemoRoot(root_, tools::DemoOptions{});
  }

  std::string Folder(const std::string& code) const { return root_ + "COMPANY\\" + code; }

  // What a run printed apart from its status lines and its question.
  std::vector<std::string> Run() {
    std::ostringstream out, err;
    std::istringstream in;
    const int rc = BatchMain({"--batch", "--root", root_, "--select-all", "--yes"}, out, err, in, false);
    EXPECT_EQ(rc, 0) << err.str();
    std::vector<std::string> shown;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
      bool status = line.empty();
      for (const char* prefix : {"Edit1: ", "Edit2: ", "edtdatabase: ", "Do you wish to proceed"}) {
        status = status || line.rfind(prefix, 0) == 0;
      }
      if (!status) shown.push_back(line);
    }
    return shown;
  }

  // Every table of a company with its columns as "NAME type size", read
  // through the company's dictionary when it has one.
  std::map<std::string, std::string> Structures(const tools::DemoCompany& company) const {
    const std::string folder = Folder(company.code);
    dbaccess::TDbConnection c;
    c.SetDbServerTypes({dbaccess::stDB_REMOTE, dbaccess::stDB_LOCAL});
    c.SetLoginPrompt(false);
    c.SetUsername(support::AdministratorUser());
    c.SetPassword(support::AdministratorPassword());
    c.SetConnectPath(company.dictionary ? folder + "\\" + company.code + ".kdd" : folder);
    c.SetIsConnected(true);
    std::map<std::string, std::string> result;
    const fs::path company_folder = fs::path(dir_.path()) / "root" / "COMPANY" / company.code;
    for (const fs::directory_entry& e : fs::directory_iterator(company_folder)) {
      if (e.path().extension() != ".KDT") continue;
      const std::string table = e.path().stem().string();
      dbaccess::TDbTable t;
      t.SetDbConnection(&c);
      t.SetTableName(table);
      t.SetReadOnly(true);
      t.Open();
      std::string text;
      for (const dbaccess::TFieldDef& f : t.FieldDefs().Items()) {
        text += f.Name + " " + std::to_string(static_cast<int>(f.DataType)) + " " + std::to_string(f.Size) + "; ";
      }
      t.Close();
      result[table] = text;
    }
    return result;
  }

  kx8::testing::TempDir dir_{"kx8-demo-upgrade"};
  std::string root_;
};

TEST_F(DemoUpgradeTest, ABatchRunBringsEveryDemoCompanyToTheReleaseAndASecondRunChangesNothing) {
  const std::vector<tools::ReleaseColumn>& release = tools::ReleaseColumns();
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    const bool current = std::string(company.code) == "MERLION";
    EXPECT_EQ(tools::VerifyCompany(Folder(company.code), release).empty(), current) << company.code;
  }

  std::vector<std::string> shown = Run();
  EXPECT_TRUE(shown.empty()) << ::testing::PrintToString(shown);
  std::map<std::string, std::map<std::string, std::string>> after_first;
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    EXPECT_EQ(tools::VerifyCompany(Folder(company.code), release), std::vector<std::string>{}) << company.code;
    after_first[company.code] = Structures(company);
  }

  shown = Run();
  EXPECT_TRUE(shown.empty()) << ::testing::PrintToString(shown);
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    EXPECT_EQ(Structures(company), after_first[company.code]) << company.code;
  }
}

}  // namespace
}  // namespace kx8::cli
