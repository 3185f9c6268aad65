// Data dictionaries: creation and log-on, tables taken in and out, the
// automatic-creation, default-index and encryption properties, users,
// rights, procedures, and tables found through the dictionary.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "engine_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

const char kAdminPassword[] = "admin-pw";

class DictionaryTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    kdd_ = dir_.File("ACME.kdd");
    ASSERT_EQ(DbDDCreate(kdd_.c_str(), kAdminPassword, "Acme payroll", &dict_), 0u) << LastErrorText();
  }
  void TearDown() override {
    if (dict_ != 0) DbDisconnect(dict_);
    EngineTest::TearDown();
  }

  std::vector<std::string> List(DBHANDLE d, uint16_t type, const char* parent = "") {
    std::vector<std::string> out;
    char name[DBE_DD_MAX_NAME + 1];
    uint16_t len = sizeof name;
    DBHANDLE find = 0;
    DBRESULT rc = DbDDFindFirstObject(d, type, parent, name, &len, &find);
    if (rc == DBE_NO_MORE_OBJECTS) return out;
    EXPECT_EQ(rc, 0u) << LastErrorText();
    while (rc == 0) {
      out.push_back(name);
      len = sizeof name;
      rc = DbDDFindNextObject(d, find, name, &len);
    }
    EXPECT_EQ(rc, static_cast<DBRESULT>(DBE_NO_MORE_OBJECTS));
    EXPECT_EQ(DbDDFindClose(d, find), 0u);
    return out;
  }

  // A free table with rows, then added to the dictionary.
  void AddEmployee(const char* name = "EMPLOYEE") {
    Create("EMPLOYEE", "EMP_NO,Char,6;NRIC,Char,12;NOTE,Memo;");
    DBHANDLE t = Open("EMPLOYEE", DBE_OPEN_EXCLUSIVE);
    DBE_OK(DbCreateIndex(t, nullptr, "EMP_NO", "EMP_NO", nullptr, nullptr, 3, 0, nullptr));
    AppendRow(t, {{"EMP_NO", "E1"}, {"NRIC", "S1234567D"}, {"NOTE", "secret memo"}});
    AppendRow(t, {{"EMP_NO", "E2"}, {"NRIC", "S7654321A"}});
    DBE_OK(DbCloseTable(t));
    DBE_OK(DbDDAddTable(dict_, name, "EMPLOYEE.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
  }

  DBRESULT Logon(const char* user, const char* password, DBHANDLE* c) {
    return DbConnect(kdd_.c_str(), 3, user, password, 0, c);
  }

  DBRESULT OpenOn(DBHANDLE c, const char* name, uint16_t type, uint16_t rights, uint32_t mode, DBHANDLE* t) {
    return DbOpenTable(c, name, nullptr, type, 1, 1, rights, mode, t);
  }

  void SetFlag(const char* table, uint16_t property, uint16_t value) {
    DBE_OK(DbDDSetTableProperty(dict_, table, property, &value, 2, 0, ""));
  }
  uint16_t GetFlag(const char* table, uint16_t property) {
    uint16_t v = 99, len = 2;
    EXPECT_EQ(DbDDGetTableProperty(dict_, table, property, &v, &len), 0u) << LastErrorText();
    return v;
  }

  static std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  std::string kdd_;
  DBHANDLE dict_ = 0;
};

TEST_F(DictionaryTest, CreationMakesThreeFilesAndAdministratorLogon) {
  for (const char* f : {"ACME.kdd", "ACME.km", "ACME.ki"}) EXPECT_TRUE(fs::exists(dir_.File(f))) << f;
  uint16_t type = 0;
  DBE_OK(DbGetHandleType(dict_, &type));
  EXPECT_EQ(type, DBE_HANDLE_DICTIONARY);
  EXPECT_TRUE(List(dict_, DBE_DD_OBJECT_TABLE).empty());
  EXPECT_EQ(List(dict_, DBE_DD_OBJECT_USER), (std::vector<std::string>{"DBSYS"}));
  struct Case { const char* path; const char* user; const char* password; DBRESULT code; uint16_t type; };
  std::string upper = dir_.File("acme.KDD");
  const Case cases[] = {
      {kdd_.c_str(), "DBSYS", kAdminPassword, 0, DBE_HANDLE_DICTIONARY},
      {upper.c_str(), "dbsys", kAdminPassword, 0, DBE_HANDLE_DICTIONARY},  // names in any case
      {kdd_.c_str(), "DBSYS", "wrong", DBE_LOGIN_FAILED, 0},
      {kdd_.c_str(), "NOBODY", kAdminPassword, DBE_LOGIN_FAILED, 0},
      {dir_.path().c_str(), "DBSYS", kAdminPassword, 0, DBE_HANDLE_CONNECTION},  // a folder: free tables
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.user);
    DBHANDLE h = 0;
    EXPECT_EQ(DbConnect(c.path, 3, c.user, c.password, 0, &h), c.code) << LastErrorText();
    if (h != 0) {
      DBE_OK(DbGetHandleType(h, &type));
      EXPECT_EQ(type, c.type);
      DBE_OK(DbDisconnect(h));
    }
  }
}

TEST_F(DictionaryTest, TablesAreAddedRemovedAndAddedAgainWithTheirFiles) {
  AddEmployee();
  Create("PAYPARA", "VERSION,Money;");
  DBE_OK(DbDDAddTable(dict_, "PAYPARA.KDT", "PAYPARA.KDT", 3, 1, "", ""));
  EXPECT_EQ(List(dict_, DBE_DD_OBJECT_TABLE), (std::vector<std::string>{"EMPLOYEE", "PAYPARA.KDT"}));
  EXPECT_EQ(List(dict_, DBE_DD_OBJECT_INDEX, "employee"), (std::vector<std::string>{"EMP_NO"}));
  EXPECT_EQ(DbDDAddTable(dict_, "employee", "EMPLOYEE.KDT", 3, 1, "", ""), static_cast<DBRESULT>(DBE_OBJECT_EXISTS));
  // Out of the dictionary, files kept, as a free table again; then back.
  DBE_OK(DbDDRemoveTable(dict_, "EMPLOYEE", 0));
  EXPECT_TRUE(fs::exists(dir_.File("EMPLOYEE.KDT")));
  DBHANDLE t = Open("EMPLOYEE");
  EXPECT_EQ(Count(t), 2u);
  DBE_OK(DbCloseTable(t));
  DBE_OK(DbDDAddTable(dict_, "EMPLOYEE", "EMPLOYEE.KDT", 3, 1, "", ""));
  EXPECT_EQ(List(dict_, DBE_DD_OBJECT_TABLE), (std::vector<std::string>{"PAYPARA.KDT", "EMPLOYEE"}));
  DBE_OK(DbDDRemoveTable(dict_, "PAYPARA", 1));  // with its files
  EXPECT_FALSE(fs::exists(dir_.File("PAYPARA.KDT")));
  EXPECT_EQ(DbDDRemoveTable(dict_, "PAYPARA", 0), static_cast<DBRESULT>(DBE_OBJECT_NOT_FOUND));
}

TEST_F(DictionaryTest, BoundTablesOpenThroughTheDictionaryOnly) {
  AddEmployee();
  DBHANDLE t = 0;
  // A free connection to the same folder may not open it.
  EXPECT_EQ(TryOpen("EMPLOYEE", 0, &t), static_cast<DBRESULT>(DBE_TABLE_BOUND));
  EXPECT_NE(LastErrorText().find("ACME.kdd"), std::string::npos);
  // Through the dictionary: by name in any case, with or without .KDT, or by file.
  for (const char* name : {"EMPLOYEE", "employee.kdt", "Employee"}) {
    SCOPED_TRACE(name);
    DBE_OK(OpenOn(dict_, name, 0, DBE_RIGHTS_CHECK, 0, &t));
    EXPECT_EQ(Count(t), 2u);
    DBE_OK(DbCloseTable(t));
  }
  // A name the dictionary lacks: 5132 for table type 0, the free file for type 3.
  Create("LOOSE", "A,Integer;");
  EXPECT_EQ(OpenOn(dict_, "LOOSE", 0, 1, 0, &t), static_cast<DBRESULT>(DBE_NOT_IN_DICTIONARY));
  DBE_OK(OpenOn(dict_, (dir_.path() + "\\LOOSE").c_str(), DBE_TABLE_KDT, 1, 0, &t));
  DBE_OK(DbCloseTable(t));
}

TEST_F(DictionaryTest, EncryptionPropertyEncryptsAndDecryptsTheFile) {
  AddEmployee();
  EXPECT_EQ(GetFlag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION), 0);
  SetFlag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION, 1);
  EXPECT_EQ(GetFlag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION), 1);
  EXPECT_EQ(FileText(dir_.File("EMPLOYEE.KDT")).find("S1234567D"), std::string::npos);
  EXPECT_EQ(FileText(dir_.File("EMPLOYEE.KDM")).find("secret memo"), std::string::npos);
  // Readable through the dictionary without a password, by any user with rights.
  DBE_OK(DbDDCreateUser(dict_, "", "readuser", "r-pw", "Read only"));
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "readuser", "RI"));
  DBHANDLE c = 0, t = 0;
  DBE_OK(Logon("readuser", "r-pw", &c));
  DBE_OK(OpenOn(c, "EMPLOYEE", 0, DBE_RIGHTS_CHECK, 0, &t));
  DBE_OK(DbGotoTop(t));
  EXPECT_EQ(Get(t, "NRIC"), "S1234567D");
  EXPECT_EQ(Get(t, "NOTE"), "secret memo");
  DBE_OK(DbCloseTable(t));
  DBE_OK(DbDisconnect(c));
  // Out of the dictionary while encrypted: no password opens it.
  SetFlag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION, 0);
  EXPECT_NE(FileText(dir_.File("EMPLOYEE.KDT")).find("S1234567D"), std::string::npos);
  SetFlag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION, 1);
  DBE_OK(DbDDRemoveTable(dict_, "EMPLOYEE", 0));
  t = Open("EMPLOYEE");
  EXPECT_EQ(DbEnableEncryption(t, kAdminPassword), static_cast<DBRESULT>(DBE_WRONG_PASSWORD));
  DBE_OK(DbCloseTable(t));
  // Back in, it reads again with the dictionary's key.
  DBE_OK(DbDDAddTable(dict_, "EMPLOYEE", "EMPLOYEE.KDT", 3, 1, "", ""));
  DBE_OK(OpenOn(dict_, "EMPLOYEE", 0, 1, 0, &t));
  DBE_OK(DbGotoTop(t));
  EXPECT_EQ(Get(t, "NRIC"), "S1234567D");
  DBE_OK(DbCloseTable(t));
}

TEST_F(DictionaryTest, AutomaticCreationRecreatesADeletedTable) {
  AddEmployee();
  SetFlag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, 1);
  SetFlag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION, 1);
  EXPECT_EQ(GetFlag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE), 1);
  for (const char* f : {"EMPLOYEE.KDT", "EMPLOYEE.KDI", "EMPLOYEE.KDM"}) fs::remove(dir_.File(f));
  DBHANDLE t = 0;
  DBE_OK(OpenOn(dict_, "EMPLOYEE", 0, 1, 0, &t));
  EXPECT_EQ(Count(t), 0u);
  uint16_t n = 0, enc = 0;
  DBE_OK(DbGetNumFields(t, &n));
  EXPECT_EQ(n, 3);
  DBE_OK(DbGetNumIndexes(t, &n));
  EXPECT_EQ(n, 1);
  DBE_OK(DbIsTableEncrypted(t, &enc));
  EXPECT_EQ(enc, 1);
  DBE_OK(DbCloseTable(t));
  SetFlag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, 0);
  for (const char* f : {"EMPLOYEE.KDT", "EMPLOYEE.KDI", "EMPLOYEE.KDM"}) fs::remove(dir_.File(f));
  EXPECT_EQ(OpenOn(dict_, "EMPLOYEE", 0, 1, 0, &t), static_cast<DBRESULT>(DBE_FILE_NOT_FOUND));
}

// Switching automatic creation on takes the table's structure as its files
// hold it now, also when an earlier open or switch saw the table before a
// change: the table re-created from it has the columns and tags it had
// when the switch was made.
TEST_F(DictionaryTest, AutomaticCreationTakesTheStructureTheFilesHoldNow) {
  AddEmployee();
  auto exec = [&](const char* sql) {
    DBHANDLE stmt = 0;
    DBE_OK(DbCreateSQLStatement(dict_, &stmt));
    DBE_OK(DbPrepareSQL(stmt, sql));
    DBE_OK(DbExecuteSQL(stmt, nullptr));
    DBE_OK(DbCloseSQLStatement(stmt));
  };
  auto files = [&](const char* from, const char* to) {
    for (const char* ext : {".KDT", ".KDI", ".KDM"}) {
      const std::string source = dir_.File(std::string(from) + ext), target = dir_.File(std::string(to) + ext);
      if (fs::exists(source)) fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    }
  };
  // Field names and tag count of the table as re-created from the dictionary.
  auto recreated = [&]() -> std::pair<std::vector<std::string>, uint16_t> {
    for (const char* f : {"EMPLOYEE.KDT", "EMPLOYEE.KDI", "EMPLOYEE.KDM"}) fs::remove(dir_.File(f));
    DBHANDLE t = 0;
    EXPECT_EQ(OpenOn(dict_, "EMPLOYEE", 0, 1, 0, &t), 0u) << LastErrorText();
    uint16_t n = 0, tags = 0;
    EXPECT_EQ(DbGetNumFields(t, &n), 0u);
    std::vector<std::string> names;
    for (uint16_t i = 1; i <= n; ++i) {
      char name[64];
      uint16_t len = sizeof name;
      EXPECT_EQ(DbGetFieldName(t, i, name, &len), 0u) << LastErrorText();
      names.push_back(name);
    }
    EXPECT_EQ(DbGetNumIndexes(t, &tags), 0u);
    EXPECT_EQ(DbCloseTable(t), 0u);
    return {names, tags};
  };
  struct Case {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> fields;
    uint16_t tags;
  };
  const Case cases[] = {
      {"nothing", [] {}, {"EMP_NO", "NRIC", "NOTE"}, 1},
      {"a column added by a statement",
       [&] { exec("ALTER TABLE EMPLOYEE ADD COLUMN GRADE Integer"); },
       {"EMP_NO", "NRIC", "NOTE", "GRADE"},
       1},
      {"an index added on a handle",
       [&] {
         DBHANDLE t = 0;
         DBE_OK(OpenOn(dict_, "EMPLOYEE", 0, 1, DBE_OPEN_EXCLUSIVE, &t));
         DBE_OK(DbCreateIndex(t, nullptr, "BYNRIC", "NRIC", nullptr, nullptr, 2, 0, nullptr));
         DBE_OK(DbCloseTable(t));
       },
       {"EMP_NO", "NRIC", "NOTE"},
       2},
      // Another program copies other files over the table's, in place.
      {"files of another structure copied over it by another program",
       [&] { files("WIDER", "EMPLOYEE"); },
       {"EMP_NO", "NRIC", "NOTE", "LATER"},
       1},
  };
  files("EMPLOYEE", "SAVED");
  exec("ALTER TABLE EMPLOYEE ADD COLUMN LATER Integer");
  files("EMPLOYEE", "WIDER");
  files("SAVED", "EMPLOYEE");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The structure seen by an open and by a switch before the change.
    DBHANDLE t = 0;
    DBE_OK(OpenOn(dict_, "EMPLOYEE", 0, 1, 0, &t));
    DBE_OK(DbCloseTable(t));
    SetFlag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, 1);
    c.change();
    SetFlag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, 1);
    EXPECT_EQ(recreated(), std::make_pair(c.fields, c.tags));
    files("SAVED", "EMPLOYEE");
  }
}

TEST_F(DictionaryTest, DefaultIndexAndIndexEntries) {
  AddEmployee();
  char name[64];
  uint16_t len = sizeof name;
  DBE_OK(DbDDGetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_DEFAULT_INDEX, name, &len));
  EXPECT_STREQ(name, "");
  DBE_OK(DbDDSetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_DEFAULT_INDEX, "EMP_NO", 6, 0, ""));
  len = sizeof name;
  DBE_OK(DbDDGetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_DEFAULT_INDEX, name, &len));
  EXPECT_STREQ(name, "EMP_NO");
  DBE_OK(DbDDDeleteIndex(dict_, "EMPLOYEE", "EMP_NO"));
  EXPECT_TRUE(List(dict_, DBE_DD_OBJECT_INDEX, "EMPLOYEE").empty());
}

TEST_F(DictionaryTest, UsersAndRights) {
  AddEmployee();
  DBE_OK(DbDDCreateUser(dict_, "", "qrn", "x", "lower case"));
  // A user of the same name in another letter case is a duplicate.
  EXPECT_EQ(DbDDCreateUser(dict_, "", "QRN", "kvm482", "QRNA USER"), static_cast<DBRESULT>(DBE_OBJECT_EXISTS));
  DBE_OK(DbDDCreateUser(dict_, "", "KELPAVON8", "k-pw", ""));
  EXPECT_EQ(List(dict_, DBE_DD_OBJECT_USER), (std::vector<std::string>{"DBSYS", "qrn", "KELPAVON8"}));
  EXPECT_EQ(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "USER88", "RWI"), static_cast<DBRESULT>(DBE_OBJECT_NOT_FOUND));
  EXPECT_EQ(DbDDSetObjectAccessRights(dict_, "NOTABLE", "KELPAVON8", "RWI"), static_cast<DBRESULT>(DBE_OBJECT_NOT_FOUND));
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "KELPAVON8", "RI"));
  char letters[8];
  uint16_t len = sizeof letters;
  DBE_OK(DbDDGetObjectAccessRights(dict_, "employee", "kelpavon8", letters, &len));
  EXPECT_STREQ(letters, "RI");
  DBHANDLE c = 0, t = 0;
  DBE_OK(Logon("KELPAVON8", "k-pw", &c));
  // Changes to the dictionary are for the administrator.
  EXPECT_EQ(DbDDCreateUser(c, "", "X", "y", ""), static_cast<DBRESULT>(DBE_NO_RIGHTS));
  DBE_OK(OpenOn(c, "EMPLOYEE", 0, DBE_RIGHTS_CHECK, 0, &t));
  AppendRow(t, {{"EMP_NO", "E3"}});                                 // I
  DBE_OK(DbGotoTop(t));
  EXPECT_EQ(DbSetField(t, "EMP_NO", "X", 1), static_cast<DBRESULT>(DBE_NO_RIGHTS));  // no W
  EXPECT_EQ(DbDeleteRecord(t), static_cast<DBRESULT>(DBE_NO_RIGHTS));
  DBE_OK(DbCloseTable(t));
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "KELPAVON8", ""));
  EXPECT_EQ(OpenOn(c, "EMPLOYEE", 0, DBE_RIGHTS_CHECK, 0, &t), static_cast<DBRESULT>(DBE_NO_RIGHTS));
  DBE_OK(OpenOn(c, "EMPLOYEE", 0, DBE_RIGHTS_IGNORE, 0, &t));  // checking off
  DBE_OK(DbGotoTop(t));
  DBE_OK(DbSetField(t, "EMP_NO", "X", 1));
  DBE_OK(DbWriteRecord(t));
  DBE_OK(DbCloseTable(t));
  DBE_OK(DbDisconnect(c));
}

// Every change replaces the whole catalogue file; one that leaves the
// catalogue as it was (a right or a property set to what it is) does not,
// and its result is still read back.
TEST_F(DictionaryTest, ChangesThatChangeNothingLeaveTheFileAlone) {
  AddEmployee();
  DBE_OK(DbDDCreateUser(dict_, "", "KELPAVON8", "k-pw", ""));
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "KELPAVON8", "RWI"));
  SetFlag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, 1);
  struct stat before{};
  ASSERT_EQ(::stat(kdd_.c_str(), &before), 0);
  const std::string text = FileText(kdd_);
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "KELPAVON8", "RWI"));
  SetFlag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, 1);
  struct stat after{};
  ASSERT_EQ(::stat(kdd_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(FileText(kdd_), text);
  // A real change is written and read back, also by a new connection.
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "KELPAVON8", "RI"));
  ASSERT_EQ(::stat(kdd_.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
  DBHANDLE other = 0;
  DBE_OK(Logon("DBSYS", kAdminPassword, &other));
  char letters[8];
  uint16_t len = sizeof letters;
  DBE_OK(DbDDGetObjectAccessRights(other, "EMPLOYEE", "KELPAVON8", letters, &len));
  EXPECT_STREQ(letters, "RI");
  DBE_OK(DbDisconnect(other));
}

TEST_F(DictionaryTest, StatementsResolveNamesAndRegisterProcedures) {
  AddEmployee("EMPLOYEE.KDT");
  SetFlag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION, 1);
  DBHANDLE stmt = 0, cur = 0;
  DBE_OK(DbCreateSQLStatement(dict_, &stmt));
  const char* texts[] = {
      "UPDATE EMPLOYEE SET NRIC = 'T0000000A' WHERE EMP_NO = 'E2'",
      "ALTER TABLE \"EMPLOYEE.KDT\" add column SUPERVISOR_CODE2 char(12)",
  };
  for (const char* sql : texts) {
    DBE_OK(DbPrepareSQL(stmt, sql));
    DBE_OK(DbExecuteSQL(stmt, nullptr));
  }
  DBE_OK(DbPrepareSQL(stmt, "SELECT COUNT(*) AS N FROM employee WHERE NRIC LIKE 'T%'"));
  DBE_OK(DbExecuteSQL(stmt, &cur));
  DBE_OK(DbGotoTop(cur));
  EXPECT_EQ(Get(cur, "N"), "1");
  DBE_OK(DbCloseTable(cur));
  const char* proc =
      "CREATE PROCEDURE rUzevUroda( EmpId CHAR(10), ItemId INTEGER OUTPUT ) FUNCTION rUzevUroda IN LIBRARY \"rUzevUroda.kep\"";
  DBE_OK(DbPrepareSQL(stmt, proc));
  DBE_OK(DbExecuteSQL(stmt, nullptr));
  EXPECT_EQ(List(dict_, DBE_DD_OBJECT_PROCEDURE), (std::vector<std::string>{"rUzevUroda"}));
  DBE_OK(DbPrepareSQL(stmt, proc));
  EXPECT_EQ(DbExecuteSQL(stmt, nullptr), static_cast<DBRESULT>(DBE_SQL_ERROR));
  DBE_OK(DbCloseSQLStatement(stmt));
  uint16_t enc = 0;
  DBHANDLE t = 0;
  DBE_OK(OpenOn(dict_, "EMPLOYEE", 0, 1, 0, &t));
  DBE_OK(DbIsTableEncrypted(t, &enc));
  EXPECT_EQ(enc, 1);
  uint16_t n = 0;
  DBE_OK(DbGetNumFields(t, &n));
  EXPECT_EQ(n, 4);
  DBE_OK(DbCloseTable(t));
}

// DROP TABLE through the dictionary: the entry, its index entries and its
// rights leave the catalogue with the files, so automatic creation cannot
// bring the table back empty. Refused, changing nothing, for a user who is
// not the administrator and for a table in use.
TEST_F(DictionaryTest, DropTableTakesTheEntryAndItsRightsWithTheFiles) {
  AddEmployee();
  SetFlag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, 1);
  DBE_OK(DbDDCreateUser(dict_, "", "KELPAVON8", "k-pw", ""));
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "KELPAVON8", "RWI"));
  auto drop = [&](DBHANDLE connection) {
    DBHANDLE stmt = 0;
    EXPECT_EQ(DbCreateSQLStatement(connection, &stmt), 0u) << LastErrorText();
    EXPECT_EQ(DbPrepareSQL(stmt, "DROP TABLE employee"), 0u) << LastErrorText();
    const DBRESULT rc = DbExecuteSQL(stmt, nullptr);
    const std::string text = rc == 0 ? "" : LastErrorText();
    EXPECT_EQ(DbCloseSQLStatement(stmt), 0u);
    return text;
  };
  auto still_there = [&] {
    EXPECT_EQ(List(dict_, DBE_DD_OBJECT_TABLE), (std::vector<std::string>{"EMPLOYEE"}));
    EXPECT_TRUE(fs::exists(dir_.File("EMPLOYEE.KDT")));
    char letters[8];
    uint16_t len = sizeof letters;
    DBE_OK(DbDDGetObjectAccessRights(dict_, "EMPLOYEE", "KELPAVON8", letters, &len));
    EXPECT_STREQ(letters, "RWI");
  };

  DBHANDLE user = 0, t = 0;
  DBE_OK(Logon("KELPAVON8", "k-pw", &user));
  EXPECT_NE(drop(user).find("Only the administrator"), std::string::npos);
  DBE_OK(DbDisconnect(user));
  still_there();
  DBE_OK(OpenOn(dict_, "EMPLOYEE", 0, 1, 0, &t));
  EXPECT_NE(drop(dict_).find("The table is in use"), std::string::npos);
  DBE_OK(DbCloseTable(t));
  still_there();

  EXPECT_EQ(drop(dict_), "");
  EXPECT_TRUE(List(dict_, DBE_DD_OBJECT_TABLE).empty());
  for (const char* f : {"EMPLOYEE.KDT", "EMPLOYEE.KDI", "EMPLOYEE.KDM"}) EXPECT_FALSE(fs::exists(dir_.File(f))) << f;
  EXPECT_NE(OpenOn(dict_, "EMPLOYEE", 0, 1, 0, &t), 0u);
  EXPECT_FALSE(fs::exists(dir_.File("EMPLOYEE.KDT")));
  // A table of that name added again starts without the old rights.
  AddEmployee();
  char letters[8];
  uint16_t len = sizeof letters;
  DBE_OK(DbDDGetObjectAccessRights(dict_, "EMPLOYEE", "KELPAVON8", letters, &len));
  EXPECT_STREQ(letters, "");
}

// A dictionary table's stamp stands for what an open through the
// dictionary goes by besides the file: the entry (its file, encryption,
// default index) and the rights of the user logged on. Each change below,
// made between two looks, gives another stamp (or none while the table is
// out of the dictionary); an open handle, asked by the name it was opened
// by, has the stamp its closed table has.
TEST_F(DictionaryTest, ATablesStampFollowsItsEntryAndTheUsersRights) {
  AddEmployee();
  DBE_OK(DbDDCreateUser(dict_, "", "CLERK", "c-pw", ""));
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "CLERK", "R"));
  DBHANDLE clerk = 0;
  DBE_OK(Logon("CLERK", "c-pw", &clerk));
  auto stamp = [](DBHANDLE c, const char* name) {
    uint64_t s = 99;
    EXPECT_EQ(DbGetTableStamp(c, name, &s), 0u) << LastErrorText();
    return s;
  };
  auto open_stamp = [&](DBHANDLE c, const char* name) -> uint64_t {
    DBHANDLE t = 0;
    EXPECT_EQ(OpenOn(c, name, 0, DBE_RIGHTS_CHECK, 0, &t), 0u) << LastErrorText();
    const uint64_t s = stamp(t, name);
    EXPECT_EQ(stamp(t, nullptr), 0u);  // not without the name it was opened by
    EXPECT_EQ(DbCloseTable(t), 0u);
    return s;
  };
  auto put_back = [&](const char* file) {
    DBE_OK(DbDDAddTable(dict_, "EMPLOYEE", file, DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
    DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "CLERK", "R"));
  };

  const uint64_t first = stamp(clerk, "EMPLOYEE");
  ASSERT_NE(first, 0u);
  EXPECT_EQ(stamp(clerk, "employee.kdt"), first);
  EXPECT_EQ(open_stamp(clerk, "EMPLOYEE"), first);
  EXPECT_EQ(stamp(clerk, "EMPLOYEE"), first);  // opening and closing change nothing
  EXPECT_NE(stamp(dict_, "EMPLOYEE"), first);   // another user, other rights
  EXPECT_EQ(stamp(clerk, "PAYROLL"), 0u);       // not in the dictionary

  struct Case {
    const char* what;
    std::function<void()> change;
    bool out = false;  // the table is out of the dictionary afterwards
  };
  const Case cases[] = {
      {"taken out of the dictionary", [&] { DBE_OK(DbDDRemoveTable(dict_, "EMPLOYEE", 0)); }, true},
      {"put back on another file",
       [&] {
         for (const char* ext : {".KDT", ".KDI", ".KDM"}) {
           fs::copy_file(dir_.File(std::string("EMPLOYEE") + ext), dir_.File(std::string("EMPCOPY") + ext));
         }
         put_back("EMPCOPY.KDT");
       }},
      {"taken out and put back on its first file",
       [&] {
         DBE_OK(DbDDRemoveTable(dict_, "EMPLOYEE", 0));
         put_back("EMPLOYEE.KDT");
       }},
      {"the user's rights changed", [&] { DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "CLERK", "RW")); }},
      {"a default index set",
       [&] { DBE_OK(DbDDSetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_DEFAULT_INDEX, "EMP_NO", 7, 0, "")); }},
      {"encrypted with the dictionary's key", [&] { SetFlag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION, 1); }},
      {"its file rewritten by a statement of another connection",
       [&] {
         DBHANDLE stmt = 0;
         DBE_OK(DbCreateSQLStatement(dict_, &stmt));
         DBE_OK(DbPrepareSQL(stmt, "ALTER TABLE EMPLOYEE ADD COLUMN GRADE Integer"));
         DBE_OK(DbExecuteSQL(stmt, nullptr));
         DBE_OK(DbCloseSQLStatement(stmt));
       }},
  };
  uint64_t before = first;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.change();
    const uint64_t after = stamp(clerk, "EMPLOYEE");
    if (c.out) {
      EXPECT_EQ(after, 0u);
      continue;
    }
    EXPECT_NE(after, 0u);
    EXPECT_NE(after, before);
    EXPECT_EQ(open_stamp(clerk, "EMPLOYEE"), after);
    before = after;
  }
  DBE_OK(DbDisconnect(clerk));
}

// The file a table was added with, whatever its dictionary name: read back
// as given, found by name or by file, and refused for what is not there.
TEST_F(DictionaryTest, TableFileNamesAreReadBackAsAdded) {
  AddEmployee("PAYROLL");  // the data file EMPLOYEE.KDT under another name
  Create("PAYPARA", "VERSION,Money;");
  DBE_OK(DbDDAddTable(dict_, "PAYPARA.KDT", "PAYPARA.KDT", 3, 1, "", ""));
  Create("CODE", "CODE,Char,8;");
  DBE_OK(DbDDAddTable(dict_, "CODE", "", 3, 1, "", ""));  // no path: the name's file
  struct Case {
    const char* name;
    const char* file;
  };
  const Case cases[] = {
      {"PAYROLL", "EMPLOYEE.KDT"},  {"payroll.kdt", "EMPLOYEE.KDT"}, {"employee.KDT", "EMPLOYEE.KDT"},
      {"PAYPARA", "PAYPARA.KDT"},   {"PAYPARA.KDT", "PAYPARA.KDT"},  {"CODE", "CODE.KDT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char buf[DBE_DD_MAX_NAME + 1] = {};
    uint16_t len = sizeof buf;
    DBE_OK(DbDDGetTableFilename(dict_, c.name, buf, &len));
    EXPECT_STREQ(buf, c.file);
    EXPECT_EQ(len, std::strlen(c.file));
  }

  char small[4] = {};
  uint16_t len = sizeof small;
  DBE_FAILS_WITH(DBE_BUFFER_TOO_SMALL, DbDDGetTableFilename(dict_, "PAYROLL", small, &len));
  EXPECT_EQ(len, std::strlen("EMPLOYEE.KDT") + 1);  // the room it needs
  char buf[DBE_DD_MAX_NAME + 1] = {};
  len = sizeof buf;
  DBE_FAILS_WITH(DBE_OBJECT_NOT_FOUND, DbDDGetTableFilename(dict_, "NOSUCH", buf, &len));
  EXPECT_NE(LastErrorText().find("NOSUCH"), std::string::npos) << LastErrorText();
  len = sizeof buf;
  DBE_FAILS_WITH(DBE_NEEDS_DICTIONARY, DbDDGetTableFilename(conn_, "PAYROLL", buf, &len));  // free tables
  DBE_FAILS_WITH(DBE_INVALID_ARGUMENT, DbDDGetTableFilename(dict_, "PAYROLL", buf, nullptr));
}

}  // namespace
}  // namespace kx8test
