// Connections: the data folder and dictionary flag of a connect path,
// connecting and disconnecting, attaching datasets by component name, and
// objects made in code released in order.
#include <filesystem>
#include <memory>

#include "dbaccess/db_scoped_table.h"
#include "dbaccess_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

TEST(ConnectPathTest, DataFolderAndDictionaryFlag) {
  struct Case {
    const char* path;
    bool dictionary;
    const char* folder;
  };
  const Case cases[] = {
      {"D:\\DATA\\ABC\\ABC.kdd", true, "D:\\DATA\\ABC"},
      {"D:\\DATA\\ABC\\", false, "D:\\DATA\\ABC\\"},
      {"D:\\DATA\\X.KDDR\\", true, "D:\\DATA\\X.KDDR\\"},  // ".KDD" anywhere makes a dictionary connection
      {"D:\\DATA\\ABC\\ABC.KdD", true, "D:\\DATA\\ABC"},
      {"/srv/data/abc/abc.kdd", true, "/srv/data/abc"},
      // Mixed separators (a root folder of this system with the program's
      // "\\" appended): the file name is cut at the later separator.
      {"D:/DATA\\ABC\\ABC.kdd", true, "D:/DATA\\ABC"},
      {"/srv/data/COMPANY\\ABC\\ABC.kdd", true, "/srv/data/COMPANY\\ABC"},
      {"ABC.kdd", true, ".\\"},
      {".kdd", true, ".kdd"},  // not longer than four characters
      {"", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TDbConnection conn;
    conn.SetConnectPath(c.path);
    EXPECT_EQ(conn.IsDictionaryConnection(), c.dictionary);
    EXPECT_EQ(conn.DataFolder(), c.folder);
  }
}

TEST_F(DbAccessTest, ConnectsAndRefusesPathChangesWhileConnected) {
  EXPECT_EQ(conn_.ConnectionTypeText(), "");
  conn_.SetUsername("DBSYS");  // a free connection logs on without them
  conn_.SetPassword("secret");
  conn_.SetIsConnected(true);
  EXPECT_TRUE(conn_.IsConnected());
  EXPECT_NE(conn_.ConnectionHandle(), 0u);
  EXPECT_EQ(conn_.ConnectionTypeText(), "Local");
  conn_.SetIsConnected(true);  // nothing happens when connected

  try {
    conn_.SetConnectPath(dir_.File("OTHER"));
    FAIL() << "path changed while connected";
  } catch (const DbConnectionError& e) {
    EXPECT_STREQ(e.what(), "The TDbConnection.ConnectPath may not be changed when IsConnected is TRUE");
    EXPECT_EQ(e.ErrorCode(), 5121u);
  }
  EXPECT_EQ(conn_.ConnectPath(), dir_.path());

  conn_.SetIsConnected(false);
  EXPECT_FALSE(conn_.IsConnected());
  EXPECT_EQ(conn_.ConnectionHandle(), 0u);
  EXPECT_EQ(conn_.ConnectionTypeText(), "");
}

TEST_F(DbAccessTest, FailedConnectsLeaveTheConnectionDisconnected) {
  TDbConnection empty;
  try {
    empty.SetIsConnected(true);
    FAIL() << "connected without a path";
  } catch (const DbConnectionError& e) {
    EXPECT_STREQ(e.what(), "Must specify connection string before getting a server connection.");
    EXPECT_EQ(e.ErrorCode(), 5121u);
  }
  EXPECT_FALSE(empty.IsConnected());

  TDbConnection missing;
  missing.SetConnectPath(dir_.File("NOSUCH"));
  EDbEngineError e = EngineErrorOf([&] { missing.SetIsConnected(true); });
  EXPECT_EQ(e.ErrorCode(), 5041u);
  EXPECT_EQ(std::string(e.what()).rfind("Error 5041:", 0), 0u) << e.what();  // the engine's text, no prefix
  EXPECT_EQ(e.DataSetName(), "");
  EXPECT_FALSE(missing.IsConnected());
  EXPECT_EQ(missing.ConnectionHandle(), 0u);
}

TEST_F(DbAccessTest, EmptyServerTypesAreRefused) {
  TDbConnection fresh;
  EXPECT_THROW(fresh.SetDbServerTypes({}), DbSettingsError);
  EXPECT_TRUE(fresh.DbServerTypes() == TDbServerTypes{stDB_LOCAL});  // local alone when there was none
  try {
    conn_.SetDbServerTypes({});
    FAIL();
  } catch (const DbSettingsError& e) {
    EXPECT_STREQ(e.what(), "At least one server type must be selected.");
  }
  EXPECT_TRUE((conn_.DbServerTypes() == TDbServerTypes{stDB_REMOTE, stDB_LOCAL}));
  EXPECT_EQ(EngineServerTypes({stDB_REMOTE, stDB_LOCAL}), 3);
  EXPECT_EQ(EngineServerTypes({stDB_INTERNET}), 4);
}

TEST_F(DbAccessTest, DisconnectClosesDatasetsAndFreesStatements) {
  MakeTable(dir_.path(), "EMP", "EMP_NO,Char,6;", {{{"EMP_NO", "E1"}}});
  TDbTable table;
  Attach(table);
  table.SetTableName("EMP");
  table.Open();  // connects the connection
  EXPECT_TRUE(conn_.IsConnected());
  TDbQuery query;
  Attach(query);
  query.SQL().Add("SELECT * FROM EMP");
  query.Open();
  ASSERT_EQ(conn_.DataSets().size(), 2u);

  conn_.SetIsConnected(false);
  EXPECT_FALSE(table.Active());
  EXPECT_FALSE(query.Active());
  // The table is free again, and the query runs on a fresh statement.
  {
    RawTable exclusive(dir_.path(), "EMP", DBE_OPEN_EXCLUSIVE);
    EXPECT_NE(exclusive.handle(), 0u);
  }
  query.ExecSQL();
  EXPECT_TRUE(conn_.IsConnected());
}

TEST_F(DbAccessTest, DatabaseNameAttachesByComponentName) {
  TComponent window_a, window_b;
  TDbConnection other_owner(&window_b);
  other_owner.SetName("DbConnection2");
  TDbConnection same_owner(&window_a);
  same_owner.SetName("dbconnection2");
  TDbQuery query(&window_a);

  query.SetDatabaseName("DBCONNECTION2");  // without regard to case, the same owner first
  EXPECT_EQ(query.DbConnection(), &same_owner);
  EXPECT_EQ(query.DatabaseName(), "DBCONNECTION2");
  query.SetDatabaseName("DbConnection1");
  EXPECT_EQ(query.DbConnection(), &conn_);
  EXPECT_EQ(same_owner.DataSets().size(), 0u);

  // A name nobody has yet attaches when a connection takes it.
  query.SetDatabaseName("DbConnection3");
  EXPECT_EQ(query.DbConnection(), nullptr);
  {
    TDbConnection later(&window_a);
    later.SetName("DbConnection3");
    EXPECT_EQ(query.DbConnection(), &later);
  }
  // Freeing the connection detaches the query, which keeps the name.
  EXPECT_EQ(query.DbConnection(), nullptr);
  EXPECT_EQ(query.DatabaseName(), "DbConnection3");

  query.SetDbConnection(&other_owner);
  EXPECT_EQ(query.DatabaseName(), "DbConnection2");
}

TEST_F(DbAccessTest, QueryFollowsTheConnectionItIsSwitchedTo) {
  TempDir second;
  MakeTable(dir_.path(), "CODE", "CODE,Char,4;", {{{"CODE", "A"}}});
  MakeTable(second.path(), "CODE", "CODE,Char,4;", {{{"CODE", "B"}}});
  TComponent window;
  TDbConnection one(&window), two(&window);
  one.SetName("DbConnection1");
  one.SetConnectPath(dir_.path());
  two.SetName("DbConnection2");
  two.SetConnectPath(second.path());
  TDbQuery query(&window);
  query.SetDatabaseName("DbConnection1");
  query.SQL().Add("SELECT CODE FROM CODE");
  query.Open();
  EXPECT_EQ(query.FieldByName("CODE").AsString(), "A");
  query.Close();
  query.SetDatabaseName("DbConnection2");  // both stay connected
  query.Open();
  EXPECT_EQ(query.FieldByName("CODE").AsString(), "B");
}

TEST_F(DbAccessTest, ScopedTableIsReleasedAlsoWhenTheWorkFails) {
  MakeTable(dir_.path(), "REG", "CODE,Char,4;");
  try {
    TDbScopedTable work;
    work.Connection().SetConnectPath(dir_.path());
    work.Table().SetTableName("REG");
    work.Table().SetExclusive(true);
    work.Table().Open();
    ASSERT_TRUE(work.Connection().IsConnected());
    throw std::runtime_error("step failed");
  } catch (const std::runtime_error&) {
  }
  RawTable exclusive(dir_.path(), "REG", DBE_OPEN_EXCLUSIVE);
  EXPECT_NE(exclusive.handle(), 0u);
}

}  // namespace
}  // namespace kx8test
