// Creation of the company register.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "dbaccess/db_scoped_table.h"
#include "platform/scripted_ui.h"
#include "register/company_register.h"

namespace kx8::reg {
namespace {

namespace fs = std::filesystem;

class RegisterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kx8-register-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Folder() const { return root_.string(); }
  std::string File(const char* name) const { return (root_ / name).string(); }

  fs::path root_;
  platform::ScriptedUi ui_;
};

TEST_F(RegisterTest, CreatesTheRegisterWithItsFieldsAndUniqueIndex) {
  CreateRegister(Folder(), false, ui_);  // no trailing separator: one is added
  EXPECT_TRUE(fs::exists(File("mcompany.KDT")));
  EXPECT_TRUE(fs::exists(File("mcompany.KDI")));
  dbaccess::TDbScopedTable scoped;
  scoped.Connection().SetConnectPath(Folder());
  scoped.Table().SetTableName("mcompany.KDT");
  scoped.Table().Open();
  const char* names[] = {"COMPANY_CODE", "COMPANY_NAME", "TOTAL_STAFF", "PAYROLL_ACCESS_NO", "MERGE", "BACKUPDATE2",
                         "BACKUPDATE"};
  ASSERT_EQ(scoped.Table().FieldCount(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(scoped.Table().Fields(i).FieldName(), names[i]);
  EXPECT_EQ(scoped.Table().FieldByName("COMPANY_CODE").DataSize(), 9);
  EXPECT_EQ(scoped.Table().FieldByName("MERGE").DataSize(), 2);
  EXPECT_EQ(scoped.Table().RecordCount(), 0);
  auto& defs = scoped.Table().IndexDefs();
  ASSERT_EQ(defs.Count(), 1);
  EXPECT_EQ(defs[0].Name, "PRIMARY");
  EXPECT_EQ(defs[0].Fields, "COMPANY_CODE");
  EXPECT_TRUE(defs[0].Options.Contains(dbaccess::ixUnique));
  EXPECT_TRUE(ui_.Lines().empty());
}

TEST_F(RegisterTest, AnExistingRegisterIsLeftAlone) {
  CreateRegister(Folder() + "\\", false, ui_);
  {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(Folder());
    scoped.Table().SetTableName("mcompany.KDT");
    scoped.Table().Open();
    scoped.Table().Append();
    scoped.Table().FieldByName("COMPANY_CODE").SetAsString("ACME");
    scoped.Table().Post();
  }
  CreateRegister(Folder(), false, ui_);
  dbaccess::TDbScopedTable scoped;
  scoped.Connection().SetConnectPath(Folder());
  scoped.Table().SetTableName("mcompany");
  scoped.Table().Open();
  EXPECT_EQ(scoped.Table().RecordCount(), 1);
}

TEST_F(RegisterTest, StrayCompanionFilesAreReplaced) {
  std::ofstream(File("mcompany.KDI")) << "stray";
  std::ofstream(File("mcompany.KDM")) << "stray";
  CreateRegister(Folder(), false, ui_);
  EXPECT_FALSE(fs::exists(File("mcompany.KDM")));  // no memo fields, no memo file
  dbaccess::TDbScopedTable scoped;
  scoped.Connection().SetConnectPath(Folder());
  scoped.Table().SetTableName("mcompany.KDT");
  EXPECT_NO_THROW(scoped.Table().Open());
}

TEST_F(RegisterTest, AFailedCreationIsShownAndPassedOn) {
  // A folder where the data file should be: it cannot be deleted, and the
  // table cannot be created over it.
  fs::create_directory(File("mcompany.KDT"));
  EXPECT_THROW(CreateRegister(Folder(), true, ui_), std::exception);
  EXPECT_EQ(ui_.Lines(), (std::vector<std::string>{"message: Table Creation Failure: Table mcompany.KDT Could Not Be Created"}));
}

TEST_F(RegisterTest, AMissingFolderFailsWithoutAMessage) {
  EXPECT_THROW(CreateRegister(Folder() + "\\NOFOLDER", false, ui_), std::exception);
  EXPECT_TRUE(ui_.Lines().empty());
}

}  // namespace
}  // namespace kx8::reg
