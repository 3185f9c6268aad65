// Start-up of the main window over temporary root folders, with a scripted UI.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "console/main_form.h"
#include "dbaccess/db_scoped_table.h"
#include "platform/program_info.h"
#include "platform/scripted_ui.h"
#include "register/company_register.h"

namespace kx8::console {
namespace {

namespace fs = std::filesystem;

const double kProgramDate = 40073.5;  // 17 September 2009, noon

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("kx8-startup-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_ / "prog");
    program_ = (base_ / "prog").string() + "/";
    override_ = std::make_unique<platform::ScopedProgramInfoOverride>(program_, kProgramDate);
  }
  void TearDown() override {
    override_.reset();
    fs::remove_all(base_);
  }

  void WriteIni(const std::string& text) { std::ofstream(program_ + "KELPA.ini") << text; }

  void MakeRegister(const std::string& folder, std::vector<std::string> codes = {}) {
    platform::ScriptedUi quiet;
    reg::CreateRegister(folder, false, quiet);
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(folder);
    scoped.Table().SetTableName("mcompany.KDT");
    scoped.Table().Open();
    for (const std::string& code : codes) {
      scoped.Table().Append();
      scoped.Table().FieldByName("COMPANY_CODE").SetAsString(code);
      scoped.Table().FieldByName("COMPANY_NAME").SetAsString(code + " Pte Ltd");
      scoped.Table().Post();
    }
  }

  std::vector<std::string> RegisterCodes(TMainForm& form) {
    std::vector<std::string> out;
    form.DbTableCompany.First();
    while (!form.DbTableCompany.Eof()) {
      out.push_back(form.DbTableCompany.FieldByName("COMPANY_CODE").AsString() + "=" +
                    form.DbTableCompany.FieldByName("MERGE").AsString());
      form.DbTableCompany.Next();
    }
    return out;
  }

  fs::path base_;
  std::string program_;
  std::unique_ptr<platform::ScopedProgramInfoOverride> override_;
};

const char kOpenFailedTail[] =
    " This Function requires exclusive right to perform this function. Please ensure User logout the application.!";

TEST_F(StartupTest, WithoutIniTheProgramFolderIsTheRootAndTheRegisterIsOffered) {
  platform::ScriptedUi ui{true};
  TMainForm form(ui);
  form.FormCreate();
  EXPECT_EQ(form.RootFolder(), program_);
  EXPECT_EQ(form.DictionarySetting(), "");
  EXPECT_EQ(form.UpdateArchiveName(), "UPDATEKX8.ZIP");
  ASSERT_EQ(ui.Lines().size(), 2u);
  EXPECT_EQ(ui.Lines()[0].rfind("message: ", 0), 0u);
  EXPECT_NE(ui.Lines()[0].find(kOpenFailedTail), std::string::npos) << ui.Lines()[0];
  EXPECT_EQ(ui.Lines()[1], "confirm: Create mcompany.kdt on the kx8 folder?");
  EXPECT_TRUE(form.DbTableCompany.Active());
  EXPECT_TRUE(fs::exists(program_ + "mcompany.KDT"));
  EXPECT_EQ(form.DbConnection1.Username(), "DBSYS");
  EXPECT_EQ(form.DbDictionary1.UserName(), "DBSYS");
}

TEST_F(StartupTest, AnsweringNoStillTriesTheSecondOpen) {
  platform::ScriptedUi ui{false};
  TMainForm form(ui);
  form.FormCreate();
  ASSERT_EQ(ui.Lines().size(), 3u);
  EXPECT_EQ(ui.Lines()[1], "confirm: Create mcompany.kdt on the kx8 folder?");
  EXPECT_EQ(ui.Lines()[2].rfind("error: ", 0), 0u);
  EXPECT_FALSE(form.DbTableCompany.Active());
  EXPECT_FALSE(fs::exists(program_ + "mcompany.KDT"));
}

TEST_F(StartupTest, DirIsUsedVerbatimAsTheRoot) {
  struct Case { std::string dir; std::string dictionary; };
  fs::create_directories(base_ / "DATA");
  std::string data = (base_ / "DATA").string();
  const Case cases[] = {{data + "\\", "YES"}, {data, "yes"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    WriteIni("[PATH]\nDIR=" + c.dir + "\nDICTIONARY=" + c.dictionary + "\n[SETTING]\nSERVERTYPE=2\n");
    MakeRegister(c.dir);
    platform::ScriptedUi ui;
    TMainForm form(ui);
    form.FormCreate();
    EXPECT_EQ(form.RootFolder(), c.dir);  // nothing appended
    EXPECT_EQ(form.DictionarySetting(), c.dictionary);
    EXPECT_TRUE(form.DbTableCompany.Active());
    EXPECT_TRUE(ui.Lines().empty());
  }
}

TEST_F(StartupTest, AnUnreachableRootIsReportedAndStartUpGoesOn) {
  std::string missing = (base_ / "NOWHERE").string() + "\\";
  WriteIni("[PATH]\nDIR=" + missing + "\n");
  platform::ScriptedUi ui{false};
  TMainForm form(ui);
  form.FormCreate();
  ASSERT_EQ(ui.Lines().size(), 4u);
  EXPECT_EQ(ui.Lines()[0].substr(ui.Lines()[0].size() - missing.size() - 15), " DbConnection2 " + missing);
  EXPECT_NE(ui.Lines()[1].find(kOpenFailedTail), std::string::npos);
  EXPECT_EQ(ui.Lines()[2], "confirm: Create mcompany.kdt on the kx8 folder?");
  EXPECT_EQ(ui.Lines()[3].rfind("error: ", 0), 0u);
}

TEST_F(StartupTest, DatasetHooksGiveEncryptedFreeTablesThePassword) {
  MakeRegister(program_);
  std::string company = program_ + "COMPANY\\ACME";
  fs::create_directories(program_ + "COMPANY/ACME");
  struct Table { const char* name; const char* field; const char* value; };
  for (const Table& t : {Table{"EMP_BNK.KDT", "BANK_CODE", "7171"}, Table{"EMP_PROS.KDT", "NEW_SALARY", "1200.5"}}) {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(company);
    scoped.Table().SetTableName(t.name);
    scoped.Table().FieldDefs().Add(t.field, std::string(t.field) == "NEW_SALARY" ? dbaccess::ftBCD : dbaccess::ftString,
                                   std::string(t.field) == "NEW_SALARY" ? 0 : 10);
    scoped.Table().CreateTable();
    scoped.Table().SetExclusive(true);
    scoped.Table().Open();
    scoped.Table().Append();
    scoped.Table().FieldByName(t.field).SetAsString(t.value);
    scoped.Table().Post();
    scoped.Table().EnableEncryption("MAPLE1987");
    scoped.Table().EncryptTable();
  }
  platform::ScriptedUi ui;
  TMainForm form(ui);
  form.FormCreate();
  form.DbConnection1.SetConnectPath(company);
  form.TablePAybank.Open();
  EXPECT_EQ(form.TablePAybank.FieldByName("BANK_CODE").AsString(), "7171");
  form.TablePAybank.Close();
  form.DbQuery3.Open();
  EXPECT_EQ(form.DbQuery3.FieldByName("NEW").AsString(), "1200.5");
  form.DbQuery3.Close();
}

TEST_F(StartupTest, ARegisterWithoutItsIndexFileGetsItBackBySql) {
  MakeRegister(program_, {"BETA", "ACME"});
  fs::remove(program_ + "mcompany.KDI");
  platform::ScriptedUi ui{true};
  TMainForm form(ui);
  form.FormCreate();
  ASSERT_EQ(ui.Lines().size(), 2u) << ui.Lines().back();
  EXPECT_NE(ui.Lines()[0].find("mcompany.KDI"), std::string::npos);
  EXPECT_TRUE(fs::exists(program_ + "mcompany.KDI"));
  ASSERT_TRUE(form.DbTableCompany.Active());
  EXPECT_EQ(RegisterCodes(form), (std::vector<std::string>{"ACME=", "BETA="}));
  EXPECT_EQ(form.DbQuery1.DatabaseName(), "DbConnection2");
}

TEST_F(StartupTest, CaptionServerLabelAndSelectAll) {
  MakeRegister(program_, {"ACME", "BETA"});
  platform::ScriptedUi ui;
  TMainForm form(ui);
  form.FormCreate();
  form.FormShow();
  EXPECT_EQ(form.Caption, "KX8 MTN VER 8.90 17/09/2009 (17 Sep 2009)");
  EXPECT_EQ(form.LabelServerInfo.rfind("Local Server  DB Version 8.10 (DBE ", 0), 0u) << form.LabelServerInfo;
  form.options.SetChecked("CheckBox2", true);
  form.CheckBox2Click();
  EXPECT_EQ(RegisterCodes(form), (std::vector<std::string>{"ACME=1", "BETA=1"}));
  // Ticking the retrieve box with select-all unticked clears every selection.
  form.options.SetChecked("CheckBox2", false);
  form.options.SetChecked("CheckBoxDir", true);
  form.CheckBox2Click();
  EXPECT_EQ(RegisterCodes(form), (std::vector<std::string>{"ACME=0", "BETA=0"}));
  EXPECT_FALSE(form.options.Enabled("RadioButton2"));
  EXPECT_TRUE(form.options.Checked("RadioButton2"));
  form.options.SetChecked("CheckBox5", true);
  form.CheckBox5Click();
  EXPECT_TRUE(form.options.Enabled("RadioButton2"));
}

TEST_F(StartupTest, RetrieveRegistersUnknownCompanyFolders) {
  MakeRegister(program_, {"BETA"});
  fs::create_directories(program_ + "COMPANY/ACME.OLD");
  fs::create_directories(program_ + "COMPANY/BETA");
  fs::create_directories(program_ + "COMPANY/acme");
  std::ofstream(program_ + "COMPANY/README") << "not a company";
  {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(program_ + "COMPANY\\acme");
    scoped.Table().SetTableName("PAYPARA1.KDT");
    scoped.Table().FieldDefs().Add("COMPANY", dbaccess::ftString, 40);
    scoped.Table().CreateTable();
    scoped.Table().Open();
    for (const char* name : {"Old name", "Acme Engineering Pte Ltd"}) {
      scoped.Table().Append();
      scoped.Table().FieldByName("COMPANY").SetAsString(name);
      scoped.Table().Post();
    }
  }
  platform::ScriptedUi ui{true, false};  // acme: Yes; README: No (entries come in name order)
  TMainForm form(ui);
  form.FormCreate();
  form.RetrieveCompanyCodes(form.RootFolder());
  EXPECT_EQ(ui.Lines(), (std::vector<std::string>{"confirm: Do you want to create company code acme ?",
                                                  "confirm: Do you want to create company code README ?"}));
  EXPECT_EQ(RegisterCodes(form), (std::vector<std::string>{"ACME=", "BETA="}));
  ASSERT_TRUE(form.DbTableCompany.FindKey({dbaccess::TVariant(std::string("ACME"))}));
  EXPECT_EQ(form.DbTableCompany.FieldByName("COMPANY_NAME").AsString(), "Acme Engineering Pte Ltd");
  EXPECT_EQ(form.DbTableCompany.FieldByName("PAYROLL_ACCESS_NO").AsInteger(), 0);
  EXPECT_FALSE(form.DbConnectionSetup.IsConnected());
}

}  // namespace
}  // namespace kx8::console
