// Data dictionaries: administration through TDbDictionary, and tables on a
// dictionary connection (default index, the free-table retry, the table type
// the dictionary decides).
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>

#include "dbaccess/db_dictionary.h"
#include "dbaccess_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

const char kAdminPassword[] = "admin-pw";

// Failures found before the engine is asked whether the path is a dictionary.
TEST(DictionaryConnectTest, RefusedPathsAndSettings) {
  TempDir dir;
  TDbDictionary dict;
  try {
    dict.SetIsConnected(true);
    FAIL() << "connected without a path";
  } catch (const DbConnectionError& e) {
    EXPECT_STREQ(e.what(), "A connection string must be specified prior to connecting.");
    EXPECT_EQ(e.ErrorCode(), 5121u);
  }
  dict.SetConnectPath(dir.path());  // a folder of free tables
  try {
    dict.SetIsConnected(true);
    FAIL() << "a folder taken for a dictionary";
  } catch (const DbConnectionError& e) {
    EXPECT_STREQ(e.what(), "The Data Dictionary path was invalid.");
    EXPECT_EQ(e.ErrorCode(), 5121u);
  }
  EXPECT_FALSE(dict.IsConnected());

  EXPECT_THROW(dict.SetDbServerTypes({}), DbSettingsError);
  EXPECT_TRUE(dict.DbServerTypes() == TDbServerTypes{stDB_LOCAL});
  dict.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  EXPECT_THROW(dict.SetDbServerTypes({}), DbSettingsError);
  EXPECT_TRUE((dict.DbServerTypes() == TDbServerTypes{stDB_REMOTE, stDB_LOCAL}));
}

class DictionaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kdd_ = dir_.File("ACME.kdd");
    if (DbDDCreate(kdd_.c_str(), kAdminPassword, "Acme payroll", nullptr) != 0) {
      GTEST_SKIP() << "the engine cannot create data dictionaries yet: " << EngineText();
    }
    dict_.SetConnectPath(kdd_);
    dict_.SetUserName("DBSYS");
    dict_.SetPassword(kAdminPassword);
    dict_.SetLoginPrompt(false);
    dict_.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
    conn_.SetName("DbConnection1");
    conn_.SetConnectPath(kdd_);
    conn_.SetUsername("DBSYS");
    conn_.SetPassword(kAdminPassword);
    conn_.SetLoginPrompt(false);
    conn_.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  }

  // A table of the folder, added to the dictionary.
  void AddTable(const std::string& name, const std::vector<Row>& rows = {}, const std::vector<Tag>& tags = {}) {
    MakeTable(dir_.path(), name, "EMP_NO,Char,6;NAME,Char,20;", rows, tags);
    bool was_connected = dict_.IsConnected();
    dict_.SetIsConnected(true);
    dict_.AddTable(name, name + ".KDT", "", "", ttDbKDT, TDbCharTypes::ANSI);
    dict_.SetIsConnected(was_connected);
  }

  void SetFlag(const std::string& table, uint16_t property, uint16_t value) {
    dict_.SetTableProperty(table, property, &value, 2, 0, "");
  }
  uint16_t GetFlag(const std::string& table, uint16_t property) {
    uint16_t value = 99, len = 2;
    dict_.GetTableProperty(table, property, &value, &len);
    return value;
  }

  TempDir dir_;
  std::string kdd_;
  TDbDictionary dict_;
  TDbConnection conn_;
};

TEST_F(DictionaryTest, ListsTablesIndexEntriesAndUsers) {
  dict_.SetIsConnected(true);
  std::vector<std::string> list = {"kept"};
  dict_.GetTableNames(list);  // none: the list stays as it was
  EXPECT_EQ(list, (std::vector<std::string>{"kept"}));

  AddTable("EMPLOYEE", {}, {{"EMP_NO", "EMP_NO", 3}, {"BYNAME", "NAME", 2}});
  AddTable("CODES");
  list.clear();
  dict_.GetTableNames(list);
  EXPECT_EQ(list, (std::vector<std::string>{"EMPLOYEE", "CODES"}));
  list.clear();
  dict_.GetIndexNames("EMPLOYEE", list);
  EXPECT_EQ(list, (std::vector<std::string>{"EMP_NO", "BYNAME"}));
  list.clear();
  dict_.GetIndexNames("CODES", list);
  EXPECT_TRUE(list.empty());

  dict_.DeleteIndex("EMPLOYEE", "BYNAME");
  list.clear();
  dict_.GetIndexNames("EMPLOYEE", list);
  EXPECT_EQ(list, (std::vector<std::string>{"EMP_NO"}));

  dict_.CreateUser("", "QRN", "kvm482", "QRNA USER");
  list.clear();
  dict_.GetUserNames(list);
  EXPECT_NE(std::find(list.begin(), list.end(), "DBSYS"), list.end());
  EXPECT_NE(std::find(list.begin(), list.end(), "QRN"), list.end());
}

TEST_F(DictionaryTest, TablesAddedRemovedAndSwitched) {
  dict_.SetIsConnected(true);
  AddTable("CODES", {{{"EMP_NO", "E1"}}});
  // Adding a name the dictionary holds raises the engine's error, with no
  // dataset name before it.
  EDbEngineError e = EngineErrorOf([&] { dict_.AddTable("CODES", "CODES.KDT", "", "", ttDbKDT, TDbCharTypes::ANSI); });
  EXPECT_EQ(std::string(e.what()).rfind("Error ", 0), 0u) << e.what();
  EXPECT_NE(e.ErrorCode(), 0u);

  SetFlag("CODES", DBE_DD_PROP_AUTO_CREATE, 1);
  EXPECT_EQ(GetFlag("CODES", DBE_DD_PROP_AUTO_CREATE), 1);
  SetFlag("CODES", DBE_DD_PROP_ENCRYPTION, 1);
  EXPECT_EQ(GetFlag("CODES", DBE_DD_PROP_ENCRYPTION), 1);
  SetFlag("CODES", DBE_DD_PROP_ENCRYPTION, 0);
  SetFlag("CODES", DBE_DD_PROP_AUTO_CREATE, 0);
  dict_.RemoveTable("CODES", false);
  std::vector<std::string> list;
  dict_.GetTableNames(list);
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(fs::exists(dir_.File("CODES.KDT")));  // the files stay

  try {
    dict_.SetConnectPath(dir_.File("OTHER.kdd"));
    FAIL() << "path changed while connected";
  } catch (const DbConnectionError& e2) {
    EXPECT_STREQ(e2.what(), "The TDbDictionary.ConnectPath may not be changed when IsConnected is TRUE");
  }
  dict_.SetIsConnected(false);
  EXPECT_FALSE(dict_.IsConnected());
  list.clear();
  EXPECT_THROW(dict_.GetTableNames(list), EDbEngineError);  // the engine refuses a disconnected dictionary
}

TEST_F(DictionaryTest, RightsAndCredentialsOfADictionaryConnection) {
  AddTable("EMPLOYEE", {{{"EMP_NO", "E1"}}});
  dict_.SetIsConnected(true);
  dict_.CreateUser("", "QRN", "kvm482", "QRNA USER");
  dict_.SetIsConnected(false);

  TDbConnection user;
  user.SetConnectPath(kdd_);
  user.SetUsername("QRN");
  user.SetPassword("wrong");
  EDbEngineError e = EngineErrorOf([&] { user.SetIsConnected(true); });
  EXPECT_EQ(e.ErrorCode(), 5071u) << e.what();
  EXPECT_FALSE(user.IsConnected());

  user.SetPassword("kvm482");
  TDbTable table;
  table.SetDbConnection(&user);
  table.SetTableName("EMPLOYEE");  // rights are checked by default
  e = EngineErrorOf([&] { table.Open(); });
  EXPECT_EQ(e.ErrorCode(), 5074u) << e.what();
  user.SetIsConnected(false);

  dict_.SetIsConnected(true);
  dict_.SetObjectAccessRights("EMPLOYEE", "QRN", "RI");
  dict_.SetIsConnected(false);
  table.Open();
  EXPECT_EQ(table.FieldByName("EMP_NO").AsString(), "E1");
}

TEST_F(DictionaryTest, DictionaryTablesTakeTheDefaultIndex) {
  AddTable("EMPLOYEE", {{{"EMP_NO", "E2"}, {"NAME", "Zed"}}, {{"EMP_NO", "E1"}, {"NAME", "Ann"}},
                        {{"EMP_NO", "E3"}, {"NAME", "Max"}}},
           {{"EMP_NO", "EMP_NO", 3}, {"BYNAME", "NAME", 2}});
  AddTable("CODES");
  MakeTable(dir_.path(), "LOOSE", "CODE,Char,4;", {{{"CODE", "L1"}}});  // a free table of the folder
  dict_.SetIsConnected(true);
  dict_.SetTableProperty("EMPLOYEE", DBE_DD_PROP_DEFAULT_INDEX, "EMP_NO", 6, 0, "");
  dict_.SetIsConnected(false);

  TDbTable table;
  table.SetDbConnection(&conn_);
  table.SetIndexFieldNames("NAME");
  table.SetTableName("EMPLOYEE");  // not connected: nothing is asked yet
  EXPECT_EQ(table.IndexName(), "");
  conn_.SetIsConnected(true);
  EXPECT_EQ(table.IndexName(), "DB_DEFAULT");
  EXPECT_EQ(table.IndexFieldNames(), "");

  table.SetTableType(ttDbCDX);  // the dictionary decides the type
  table.Open();
  EXPECT_EQ(table.TableType(), ttDbKDT);
  EXPECT_EQ(Column(table, "EMP_NO"), (std::vector<std::string>{"E1", "E2", "E3"}));
  table.SetIndexFieldNames("NAME");
  EXPECT_EQ(table.IndexName(), "");
  EXPECT_EQ(Column(table, "EMP_NO"), (std::vector<std::string>{"E1", "E3", "E2"}));
  table.Close();

  struct Case {
    const char* table;
    const char* index_before;
    const char* index_after;
  };
  const Case cases[] = {
      {"EMPLOYEE", "", "DB_DEFAULT"},      {"employee.kdt", "DB_DEFAULT", "DB_DEFAULT"},
      {"EMPLOYEE", "BYNAME", "BYNAME"},    {"CODES", "DB_DEFAULT", ""},
      {"CODES", "BYNAME", "BYNAME"},       {"LOOSE", "DB_DEFAULT", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " " + c.index_before);
    table.SetIndexName(c.index_before);
    table.SetTableName(c.table);
    EXPECT_EQ(table.IndexName(), c.index_after);
  }

  // A table the dictionary does not hold opens as a free table of its folder.
  table.SetTableName("LOOSE");
  EXPECT_TRUE(table.TableExists());
  table.Open();
  EXPECT_EQ(table.FieldByName("CODE").AsString(), "L1");
  table.Close();
  table.SetTableName("NOSUCH");
  EXPECT_FALSE(table.TableExists());
  EDbEngineError e = EngineErrorOf([&] { table.Open(); });
  EXPECT_EQ(e.ErrorCode(), 5041u) << e.what();
}

TEST_F(DictionaryTest, TablesCreatedOnADictionaryConnectionJoinIt) {
  TDbTable table;
  table.SetDbConnection(&conn_);
  table.SetTableName("NEWT");
  table.FieldDefs().Add("CODE", ftString, 4);
  table.CreateTable();
  EXPECT_TRUE(fs::exists(dir_.File("NEWT.KDT")));
  dict_.SetIsConnected(true);
  std::vector<std::string> list;
  dict_.GetTableNames(list);
  EXPECT_EQ(list, (std::vector<std::string>{"NEWT"}));
}

// Reading back what a table was registered with and the rights granted on
// it; failures are the engine's errors.
TEST_F(DictionaryTest, TableFilesAndRightsAreReadBack) {
  MakeTable(dir_.path(), "X", "CODE,Char,4;");
  AddTable("CODES");
  // A file whose path is longer than a dictionary name may be.
  const std::string deep = dir_.File(std::string(DBE_DD_MAX_NAME - 20, 'd'));
  fs::create_directory(deep);
  MakeTable(deep, "DEEP", "CODE,Char,4;");
  const std::string deep_file = deep + "/DEEP.KDT";
  ASSERT_GT(deep_file.size(), static_cast<std::size_t>(DBE_DD_MAX_NAME));
  dict_.SetIsConnected(true);
  dict_.AddTable("PAYROLL", "X.KDT", "", "", ttDbKDT, TDbCharTypes::ANSI);
  dict_.AddTable("DEEP", deep_file, "", "", ttDbKDT, TDbCharTypes::ANSI);
  struct FileCase {
    const char* table;
    std::string file;
  };
  const FileCase files[] = {
      {"PAYROLL", "X.KDT"}, {"payroll.KDT", "X.KDT"}, {"x.kdt", "X.KDT"}, {"CODES", "CODES.KDT"}, {"DEEP", deep_file},
  };
  for (const FileCase& c : files) EXPECT_EQ(dict_.GetTableFileName(c.table), c.file) << c.table;

  dict_.CreateUser("", "CLERK", "c-pw", "");
  dict_.CreateUser("", "NOBODY", "n-pw", "");
  dict_.SetObjectAccessRights("PAYROLL", "CLERK", "RI");
  dict_.SetObjectAccessRights("CODES", "CLERK", "RWI");
  struct RightsCase {
    const char* table;
    const char* user;
    const char* letters;
  };
  const RightsCase rights[] = {
      {"PAYROLL", "CLERK", "RI"}, {"payroll.kdt", "clerk", "RI"}, {"CODES", "CLERK", "RWI"},
      {"PAYROLL", "NOBODY", ""},  {"CODES", "NOBODY", ""},         {"PAYROLL", "DBSYS", ""},  // implicit, not stored
  };
  for (const RightsCase& c : rights) {
    EXPECT_EQ(dict_.GetObjectAccessRights(c.table, c.user), c.letters) << c.table << " " << c.user;
  }
  dict_.SetObjectAccessRights("PAYROLL", "CLERK", "");  // taken back
  EXPECT_EQ(dict_.GetObjectAccessRights("PAYROLL", "CLERK"), "");

  struct Failure {
    const char* what;
    std::function<void()> call;
    const char* names;  // in the engine's text
  };
  const Failure failures[] = {
      {"unknown table's file", [&] { dict_.GetTableFileName("NOSUCH"); }, "NOSUCH"},
      {"unknown table's rights", [&] { dict_.GetObjectAccessRights("NOSUCH", "CLERK"); }, "NOSUCH"},
      {"unknown user's rights", [&] { dict_.GetObjectAccessRights("PAYROLL", "GHOST"); }, "GHOST"},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.what);
    EDbEngineError e = EngineErrorOf(f.call);
    EXPECT_EQ(e.ErrorCode(), static_cast<std::uint32_t>(DBE_OBJECT_NOT_FOUND)) << e.what();
    EXPECT_EQ(std::string(e.what()).rfind("Error 5073: ", 0), 0u) << e.what();
    EXPECT_NE(std::string(e.what()).find(f.names), std::string::npos) << e.what();
  }
  dict_.SetIsConnected(false);
  EXPECT_THROW(dict_.GetTableFileName("PAYROLL"), EDbEngineError);  // the engine refuses a disconnected dictionary
  EXPECT_THROW(dict_.GetObjectAccessRights("CODES", "CLERK"), EDbEngineError);
}

}  // namespace
}  // namespace kx8test
