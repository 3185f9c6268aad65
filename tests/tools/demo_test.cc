// The demo root: register, company folders, dictionaries with their users
// and rights, encryption, archives, and rows that follow the options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_errors.h"
#include "dbaccess/db_table.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/path.h"
#include "support/credentials.h"
#include "tools/demo_builder.h"
#include "tools/demo_files.h"
#include "tools/demo_tables.h"
#include "tools_fixture.h"

namespace kx8test {
namespace {

using namespace kx8::dbaccess;
using namespace kx8::tools;

void Connect(TDbConnection& c, const std::string& path, const std::string& user = "",
             const std::string& password = "") {
  c.SetConnectPath(path);
  c.SetDbServerTypes({stDB_LOCAL});
  c.SetLoginPrompt(false);
  c.SetUsername(user.empty() ? kx8::support::AdministratorUser() : user);
  c.SetPassword(user.empty() ? kx8::support::AdministratorPassword() : password);
  c.SetIsConnected(true);
}

std::string OrchidDictionary() { return CompanyFolder(SmallDemoRoot(), "ORCHID") + "\\ORCHID.kdd"; }

TEST(DemoRoot, RegisterListsTheCompaniesUnderAUniquePrimaryIndex) {
  TDbConnection c;
  Connect(c, SmallDemoRoot());
  TDbTable t;
  t.SetDbConnection(&c);
  t.SetTableName("mcompany.KDT");
  t.Open();
  std::vector<std::string> fields;
  for (int i = 0; i < t.FieldCount(); ++i) fields.push_back(t.Fields(i).FieldName());
  EXPECT_EQ(fields, (std::vector<std::string>{"COMPANY_CODE", "COMPANY_NAME", "TOTAL_STAFF", "PAYROLL_ACCESS_NO",
                                              "MERGE", "BACKUPDATE2", "BACKUPDATE"}));
  const TIndexDef* primary = t.IndexDefs().Find("PRIMARY");
  ASSERT_NE(primary, nullptr);
  EXPECT_EQ(primary->Fields, "COMPANY_CODE");
  EXPECT_TRUE(primary->Options.Contains(ixUnique));

  t.SetIndexFieldNames("COMPANY_CODE");
  std::vector<std::string> codes;
  for (t.First(); !t.Eof(); t.Next()) {
    codes.push_back(t.FieldByName("COMPANY_CODE").AsString());
    EXPECT_EQ(t.FieldByName("MERGE").AsString(), "0");
    EXPECT_EQ(t.FieldByName("TOTAL_STAFF").AsInteger(), DemoOptions{}.employees);
  }
  EXPECT_EQ(codes, (std::vector<std::string>{"ACME", "MERLION", "ORCHID"}));
}

TEST(DemoRoot, LaysOutTheSharedFoldersArchivesAndConfiguration) {
  const std::string& root = SmallDemoRoot();
  EXPECT_TRUE(kx8::platform::FileExists(root + "SHARE_FOLDER\\SUPVRTBL.KDT"));
  EXPECT_TRUE(kx8::platform::DirectoryExists(root + "IMAGE"));
  EXPECT_FALSE(kx8::platform::FindEntries(root + "KELPATMP\\*.KDT", kx8::platform::FindAttr::Files).empty());
  EXPECT_FALSE(kx8::platform::DirectoryExists(root + "BACKUP")) << "the run creates it";

  auto names = [](const std::string& zip) {
    std::set<std::string> set;
    for (const ZipEntry& e : ReadZip(zip)) set.insert(e.name);
    return set;
  };
  std::set<std::string> update = names(root + "UPDATEKX8.ZIP");
  for (const char* table : {"UPDATETBL", "OUTDSK_D", "BONUS", "OUTDSK_H", "GTABLE", "GLOCHG", "SETCODE", "GLPARA",
                            "OUTGL_D", "CHECKCODE", "PASSDEF", "PUBLIC"}) {
    EXPECT_EQ(update.count(std::string(table) + ".KDT"), 1u) << table;
  }
  EXPECT_EQ(update.count("rUzevUroda.kep"), 1u);
  std::set<std::string> report = names(root + "RPTDATA.ZIP");
  for (const char* table : {"RBFIELD", "RBTABLE", "RBJOIN"}) EXPECT_EQ(report.count(std::string(table) + ".KDT"), 1u);

  std::vector<ZipEntry> wallpaper = ReadZip(root + "wallpaper.zip");
  ASSERT_EQ(wallpaper.size(), 1u);
  EXPECT_EQ(wallpaper[0].name, "wallpaper.jpg");
  EXPECT_EQ(wallpaper[0].content.substr(0, 2), "\xFF\xD8");

  kx8::platform::IniFile ini(root + "KELPA.ini");
  EXPECT_EQ(ini.ReadString("SETTING", "SERVERTYPE", ""), "LOCAL");
  EXPECT_EQ(ini.ReadString("PATH", "DIR", "unset"), "");
  EXPECT_EQ(ini.ReadString("PATH", "DICTIONARY", "unset"), "");
}

// Every table of the data opens in every company that should have it, with
// the fields and index tags its definition gives; customer-specific tables
// exist in one company only.
TEST(DemoRoot, CompaniesHoldEveryTableWithItsFieldsAndIndexes) {
  for (const DemoCompany& company : DemoCompanies()) {
    SCOPED_TRACE(company.code);
    const std::string folder = CompanyFolder(SmallDemoRoot(), company.code);
    TDbConnection c;
    Connect(c, company.dictionary ? folder + "\\" + company.code + ".kdd" : folder);
    for (const TableDefinition& def : DemoTables()) {
      if (def.scope == TableScope::Shared) continue;
      bool expected = def.scope == TableScope::Company || company.customer_tables;
      ASSERT_EQ(kx8::platform::FileExists(folder + "\\" + def.name + ".KDT"), expected) << def.name;
      if (!expected) continue;
      TDbTable t;
      t.SetDbConnection(&c);
      t.SetTableName(def.name);
      t.Open();
      std::vector<FieldSpec> fields = FieldsAtRelease(def, company.release);
      ASSERT_EQ(t.FieldCount(), static_cast<int>(fields.size())) << def.name;
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const TField& f = t.Fields(static_cast<int>(i));
        EXPECT_EQ(f.FieldName(), fields[i].name) << def.name;
        if (fields[i].type == ftString) {
          EXPECT_EQ(f.Size(), fields[i].size) << def.name << "." << f.FieldName();
        }
      }
      for (const IndexSpec& ix : ParseIndexList(def.indexes)) {
        const TIndexDef* found = t.IndexDefs().Find(ix.name);
        ASSERT_NE(found, nullptr) << def.name << " " << ix.name;
        EXPECT_EQ(found->Fields, ix.fields) << def.name << " " << ix.name;
        EXPECT_EQ(found->Options.Contains(ixUnique), ix.options.Contains(ixUnique)) << def.name << " " << ix.name;
      }
      t.Close();
    }
  }
}

TEST(DemoRoot, StoresEachCompanysRelease) {
  EXPECT_EQ(Scalar(Sql(CompanyFolder(SmallDemoRoot(), "ACME"), "SELECT VERSION FROM PAYPARA")), "8.5");
  EXPECT_EQ(Scalar(Sql(CompanyFolder(SmallDemoRoot(), "MERLION"), "SELECT VERSION FROM PAYPARA")), "9.07");
  EXPECT_EQ(Scalar(Sql(OrchidDictionary(), "SELECT VERSION FROM PAYPARA")), "8.65");
}

// Free-table companies keep the application's encrypted tables encrypted
// with the administrator password: their rows cannot be read without it.
TEST(DemoRoot, EncryptedFreeTablesReadOnlyWithThePassword) {
  const std::string acme = CompanyFolder(SmallDemoRoot(), "ACME");
  TDbConnection c;
  Connect(c, acme);
  for (const TableDefinition& def : DemoTables()) {
    if (def.scope == TableScope::Shared) continue;
    TDbTable t;
    t.SetDbConnection(&c);
    t.SetTableName(def.name);
    t.Open();
    EXPECT_EQ(t.IsTableEncrypted(), def.encrypted) << def.name;
    t.Close();
  }
  const std::string pw = kx8::support::AdministratorPassword();
  for (const char* table : {"EMPLOYEE", "P_HTRX", "PAYPARA1", "TRNNO", "EMP_BNK"}) {
    SCOPED_TRACE(table);
    try {
      Dump(acme + "\\" + table);
      ADD_FAILURE() << "rows read without the password";
    } catch (const DbError& e) {
      EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_GT(Rows(Dump(acme + "\\" + table, pw)).size(), 0u);
  }
  EXPECT_THROW(Dump(acme + "\\EMPLOYEE", "WRONG"), DbError);
  EXPECT_GT(Rows(Dump(acme + "\\CODE")).size(), 0u);
}

TEST(DemoRoot, DictionaryCompanyRegistersTablesUsersEncryptionAndRights) {
  const std::string folder = CompanyFolder(SmallDemoRoot(), "ORCHID");
  TDbDictionary d;
  d.SetConnectPath(OrchidDictionary());
  d.SetUserName(kx8::support::AdministratorUser());
  d.SetPassword(kx8::support::AdministratorPassword());
  d.SetLoginPrompt(false);
  d.SetDbServerTypes({stDB_LOCAL});
  d.SetIsConnected(true);
  std::vector<std::string> tables, users;
  d.GetTableNames(tables);
  d.GetUserNames(users);
  for (const char* user : {"readuser", "KELPAVON8", "USER88"}) {
    EXPECT_NE(std::find(users.begin(), users.end(), user), users.end()) << user;
  }
  EXPECT_EQ(std::find(users.begin(), users.end(), "QRN"), users.end()) << "the upgrade creates the support user";
  std::set<std::string> names(tables.begin(), tables.end());
  EXPECT_EQ(names.count("PAYPARA.KDT"), 1u);
  EXPECT_EQ(names.count("EMPMISC.KDT"), 1u);
  EXPECT_EQ(names.count("EMPLOYEE"), 1u);
  for (const TableDefinition& def : DemoTables()) {
    if (def.scope != TableScope::Company) continue;
    std::string name = names.count(def.name) != 0 ? def.name : std::string(def.name) + ".KDT";
    ASSERT_EQ(names.count(name), 1u) << def.name;
    std::uint16_t encryption = 9, auto_create = 9, len = 2;
    d.GetTableProperty(name, 214, &encryption, &len);
    len = 2;
    d.GetTableProperty(name, 203, &auto_create, &len);
    EXPECT_EQ(encryption, def.encrypted ? 1 : 0) << def.name;
    EXPECT_EQ(auto_create, 1) << def.name;
  }
  d.SetIsConnected(false);

  // Bound tables cannot be read as free tables, but are read through the
  // dictionary without a table password.
  EXPECT_THROW(Dump(folder + "\\CODE"), DbError);
  EXPECT_EQ(Scalar(Sql(OrchidDictionary(), "SELECT COUNT(*) AS N FROM EMPLOYEE", "readuser", "READ1234")),
            std::to_string(DemoOptions{}.employees));
}

TEST(DemoRoot, DictionaryRightsFollowTheStandardGrants) {
  // Rights are checked when a table is opened with the check on: readuser
  // may read and insert but not change; KELPAVON8 may change.
  auto change_first_row = [](const std::string& user, const std::string& password) {
    TDbConnection c;
    Connect(c, OrchidDictionary(), user, password);
    TDbTable t;
    t.SetDbConnection(&c);
    t.SetTableName("PUBLIC");
    t.DbTableOptions().SetDbRightsCheck(true);
    t.Open();
    t.First();
    std::string descr = t.FieldByName("DESCR").AsString();
    t.Edit();
    t.FieldByName("DESCR").SetAsString(descr);  // same value: the shared root stays as it was
    t.Post();
  };
  EXPECT_THROW(change_first_row("readuser", "READ1234"), DbError);
  EXPECT_NO_THROW(change_first_row("KELPAVON8", "KELPA8"));
  EXPECT_THROW(change_first_row("USER88", "WRONG"), DbError);
}

TEST(DemoRoot, RowsLookLikeAPayrollCompany) {
  const std::string acme = CompanyFolder(SmallDemoRoot(), "ACME");
  const std::string pw = kx8::support::AdministratorPassword();
  const int employees = DemoOptions{}.employees;
  EXPECT_EQ(Scalar(Sql(acme, "SELECT COUNT(*) AS N FROM EMPLOYEE", "", pw)), std::to_string(employees));
  EXPECT_EQ(Scalar(Sql(acme, "SELECT COUNT(*) AS N FROM P_HTRX", "", pw)),
            std::to_string(ExpectedCounts(DemoOptions{}).payroll_rows));
  // The year of history, and the career demo's rows around 2007.
  EXPECT_EQ(Scalar(Sql(acme, "SELECT COUNT(*) AS N FROM P_HTRX WHERE PERIOD >= '201201'", "", pw)),
            std::to_string(employees * 12));
  EXPECT_EQ(Scalar(Sql(acme, "SELECT MIN(PERIOD) AS P FROM P_HTRX", "", pw)), "200612");
  EXPECT_EQ(Scalar(Sql(acme, "SELECT COUNT(*) AS N FROM TRNNO", "", pw)), "1");
  EXPECT_EQ(Rows(Sql(acme, "SELECT DISTINCT YEAR FROM FW_LEVY ORDER BY YEAR")),
            (std::vector<std::string>{"2004", "2007", "2008", "2012"}));
  EXPECT_EQ(Scalar(Sql(acme, "SELECT COUNT(*) AS N FROM EMPLOYEE WHERE BANK_ID = 'POSB' OR BANK_ID = '9812'", "", pw)),
            "2");
  EXPECT_EQ(Scalar(Sql(acme, "SELECT COUNT(*) AS N FROM EMPLOYEE WHERE SPOUSE_NAME IS NOT NULL", "", pw)), "3");
  EXPECT_EQ(Scalar(Sql(acme, "SELECT COUNT(*) AS N FROM CODE WHERE CATEGORY = 'OCU'")), "9");

  // Identity numbers carry their check letter; photographs are bitmaps for
  // some employees and JPEG pictures for others.
  TDbConnection c;
  Connect(c, acme);
  TDbTable t;
  t.SetDbConnection(&c);
  t.SetTableName("EMPLOYEE");
  t.Open();
  t.EnableEncryption(pw);
  int bitmaps = 0, jpegs = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    std::string ic = t.FieldByName("NEW_IC").AsString();
    ASSERT_GE(ic.size(), 9u);
    EXPECT_TRUE(ic[0] == 'S' || ic[0] == 'G') << ic;
    std::string photo = t.FieldByName("PHOTO_ID").AsString();
    if (photo.rfind("BM", 0) == 0) ++bitmaps;
    if (photo.rfind("\xFF\xD8", 0) == 0) ++jpegs;
  }
  EXPECT_EQ(bitmaps, 2);
  EXPECT_EQ(jpegs, 1);
}

// The same seed gives the same rows; another seed other rows; the counts
// follow the options, small and large.
TEST(DemoBuilder, RowsAreDeterministicForASeedAndFollowTheOptions) {
  struct Case {
    int employees;
    int years;
    std::uint64_t seed;
  };
  const Case cases[] = {{2, 1, 5}, {2, 1, 5}, {2, 1, 6}, {25, 3, 5}};
  std::vector<std::string> dumps;
  const std::string pw = kx8::support::AdministratorPassword();
  for (const Case& k : cases) {
    TempDir dir;
    DemoOptions o;
    o.employees = k.employees;
    o.years = k.years;
    o.seed = k.seed;
    BuildDemoCompany(dir.path(), DemoCompanies()[0], o);
    const std::string folder = CompanyFolder(dir.path() + "\\", "ACME");
    DemoCounts counts = ExpectedCounts(o);
    EXPECT_EQ(Scalar(Sql(folder, "SELECT COUNT(*) AS N FROM EMPLOYEE", "", pw)), std::to_string(counts.employees));
    EXPECT_EQ(Scalar(Sql(folder, "SELECT COUNT(*) AS N FROM P_HTRX", "", pw)), std::to_string(counts.payroll_rows));
    EXPECT_EQ(Scalar(Sql(folder, "SELECT COUNT(*) AS N FROM YTDEMPL", "", pw)),
              std::to_string(counts.employees * k.years));
    dumps.push_back(Dump(folder + "\\EMPLOYEE", pw));
  }
  EXPECT_EQ(dumps[0], dumps[1]);
  EXPECT_NE(dumps[0], dumps[2]);
}

TEST(DemoBuilder, RefusesBadOptionsAndAnExistingRegister) {
  TempDir dir;
  DemoOptions zero;
  zero.employees = 0;
  EXPECT_THROW(BuildDemoRoot(dir.path(), zero), std::invalid_argument);
  DemoOptions unknown;
  unknown.companies = {"NOSUCH"};
  EXPECT_THROW(BuildDemoRoot(dir.path(), unknown), std::invalid_argument);

  DemoOptions one;
  one.employees = 1;
  one.companies = {"MERLION"};
  BuildDemoRoot(dir.path(), one);
  EXPECT_TRUE(kx8::platform::FileExists(dir.Win("COMPANY\\MERLION\\EMPLOYEE.KDT")));
  EXPECT_FALSE(kx8::platform::DirectoryExists(dir.Win("COMPANY\\ACME")));
  try {
    BuildDemoRoot(dir.path(), one);
    ADD_FAILURE() << "built over an existing register";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("holds a company register already"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kx8test
