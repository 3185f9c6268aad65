// Queries: the SQL text and its parameters, running statements as the
// program sends them, result cursors (live and static), statement passwords
// and the errors of failed statements.
#include <functional>

#include "dbaccess_fixture.h"
#include "support/helpers.h"

namespace kx8test {
namespace {

using kx8::support::EncodeDate;

class QueryTest : public DbAccessTest {
 protected:
  void SetUp() override {
    DbAccessTest::SetUp();
    MakeTable(dir_.path(), "EMP", "EMP_NO,Char,6;NAME,Char,20;GRADE,Char,6;SALARY,Money;",
              {{{"EMP_NO", "E1"}, {"NAME", "Tan"}, {"SALARY", "3000.50"}},
               {{"EMP_NO", "E2"}, {"NAME", "Lim"}, {"GRADE", "A"}, {"SALARY", "2500"}},
               {{"EMP_NO", "E3"}, {"NAME", "Lee"}, {"SALARY", "4100.25"}}});
    Attach(query_);
  }
  void Sql(const std::string& text) {
    query_.SQL().Clear();
    query_.SQL().Add(text);
  }
  std::vector<std::string> Grades() {
    TDbTable table;
    Attach(table);
    table.SetTableName("EMP");
    table.Open();
    return Column(table, "GRADE");
  }

  TDbQuery query_;
};

TEST_F(QueryTest, ParamsFollowTheTextAndKeepSurvivingValues) {
  query_.SQL().Add("UPDATE \"EMP.KDT\" SET GRADE =:GRADE");
  query_.SQL().Add("WHERE EMP_NO = :Code OR NAME = :grade");
  EXPECT_EQ(query_.SQL().Text(), "UPDATE \"EMP.KDT\" SET GRADE =:GRADE\r\nWHERE EMP_NO = :Code OR NAME = :grade");
  ASSERT_EQ(query_.Params().Count(), 2);
  EXPECT_EQ(query_.Params()[0].Name(), "GRADE");
  EXPECT_EQ(query_.Params()[1].Name(), "Code");
  query_.ParamByName("grade").SetAsString("NONE");
  query_.ParamByName("CODE").SetAsInteger(5);

  query_.SQL().SetText("SELECT * FROM EMP\nWHERE GRADE = :grade AND NAME = :NEW");
  EXPECT_EQ(query_.SQL().Count(), 2);
  ASSERT_EQ(query_.Params().Count(), 2);
  EXPECT_EQ(query_.Params()[0].Name(), "grade");
  EXPECT_EQ(query_.Params()[0].AsString(), "NONE");
  EXPECT_EQ(query_.Params()[0].DataType(), ftString);
  EXPECT_EQ(query_.Params()[1].DataType(), ftUnknown);
  EXPECT_TRUE(query_.Params()[1].IsNull());
  EXPECT_EQ(query_.Params().FindParam("Code"), nullptr);
  EDbEngineError e = EngineErrorOf([&] { query_.ParamByName("Code"); });
  EXPECT_STREQ(e.what(), "Parameter 'Code' not found");

  query_.SQL().Clear();
  EXPECT_EQ(query_.Params().Count(), 0);
}

TEST_F(QueryTest, StatementsRunOneAfterAnotherOnOneQuery) {
  Sql("UPDATE \"EMP.KDT\" SET GRADE =:GRADE  WHERE GRADE IS NULL");
  query_.ParamByName("grade").SetAsString("NONE");
  query_.Prepare();
  EXPECT_TRUE(query_.Prepared());
  query_.ExecSQL();
  query_.CloseStatement();
  EXPECT_FALSE(query_.Prepared());
  EXPECT_EQ(Grades(), (std::vector<std::string>{"NONE", "A", "NONE"}));

  Sql("UPDATE EMP SET GRADE = 'B' WHERE EMP_NO = 'E2'");
  query_.Prepare();
  query_.ExecSQL();
  query_.CloseStatement();
  query_.CloseStatement();  // a statement already gone is not an error
  EXPECT_EQ(Grades(), (std::vector<std::string>{"NONE", "B", "NONE"}));

  query_.ExecSQL();  // and the same text again, on a fresh statement
  EXPECT_FALSE(query_.Active());
}

TEST_F(QueryTest, ExecSqlDiscardsACursorAndOpenNeedsOne) {
  Sql("SELECT * FROM EMP");
  query_.ExecSQL();
  EXPECT_FALSE(query_.Active());
  {
    RawTable exclusive(dir_.path(), "EMP", DBE_OPEN_EXCLUSIVE);  // no cursor holds the table
    EXPECT_NE(exclusive.handle(), 0u);
  }
  Sql("UPDATE EMP SET GRADE = 'C'");
  EDbEngineError e = EngineErrorOf([&] { query_.Open(); });
  EXPECT_STREQ(e.what(),
               "The SQL statement did not generate a cursor handle.  Use TDbQuery.ExecSQL to execute SQL statements "
               "that are not SELECT statements");
  EXPECT_EQ(e.ErrorCode(), 5121u);
  EXPECT_FALSE(query_.Active());

  TDbQuery unattached;
  unattached.SQL().Add("SELECT * FROM EMP");
  e = EngineErrorOf([&] { unattached.ExecSQL(); });
  EXPECT_STREQ(e.what(), "The DatabaseName property has not been assigned a value.");
}

TEST_F(QueryTest, ResultsAreReadLikeTablesAndWrittenWhenLive) {
  Sql("SELECT SUM(SALARY) AS NEW FROM EMP");
  query_.Open();
  EXPECT_DOUBLE_EQ(query_.FieldByName("NEW").AsCurrency(), 9600.75);
  EXPECT_FALSE(query_.CanModify());
  EDbEngineError e = EngineErrorOf([&] { query_.Edit(); });
  EXPECT_STREQ(e.what(), "This table is based on a static VIEW. Static VIEWs can not be updated.");

  const std::vector<std::pair<const char*, std::function<void()>>> refused = {
      {"RequestLive", [&] { query_.SetRequestLive(true); }},
      {"SourceTableType", [&] { query_.SetSourceTableType(ttDbCDX); }},
      {"DbLockType", [&] { query_.DbTableOptions().SetDbLockType(TDbLockType::Compatible); }},
      {"CloseStatement", [&] { query_.CloseStatement(); }},
      {"ExecSQL", [&] { query_.ExecSQL(); }},
  };
  for (const auto& [what, change] : refused) {
    SCOPED_TRACE(what);
    e = EngineErrorOf(change);
    EXPECT_STREQ(e.what(), "Cannot perform this operation on an open dataset");
  }
  query_.SQL().Add("");  // a change of the text closes the query
  EXPECT_FALSE(query_.Active());
  EXPECT_FALSE(query_.Prepared());

  query_.SetRequestLive(true);
  Sql("SELECT * FROM EMP WHERE SALARY > 2600");
  query_.Open();
  EXPECT_TRUE(query_.CanModify());
  EXPECT_EQ(query_.RecordCount(), 2);
  query_.Last();
  query_.Edit();
  query_.FieldByName("GRADE").SetAsString("TOP");
  query_.Post();
  query_.Close();
  EXPECT_EQ(Grades(), (std::vector<std::string>{"", "A", "TOP"}));
}

TEST_F(QueryTest, ParametersAreBoundByType) {
  MakeTable(dir_.path(), "P", "K,Char,2;D,Date;T,Time;TS,TimeStamp;L,Logical;F,Double;S,Char,6;I,Integer;",
            {{{"K", "A"}, {"S", "old"}}});
  Sql("UPDATE P SET D = :D, T = :T, TS = :TS, L = :L, F = :F, S = :S, I = :I WHERE K = :K");
  query_.ParamByName("D").SetAsDate(EncodeDate(2012, 1, 31));
  query_.ParamByName("T").SetAsTime(0.25);
  query_.ParamByName("TS").SetAsDateTime(EncodeDate(2012, 1, 31) + 0.5);
  query_.ParamByName("L").SetAsBoolean(true);
  query_.ParamByName("F").SetAsFloat(2.5);
  query_.ParamByName("S").SetAsString("new");
  query_.ParamByName("I").SetAsInteger(7);
  query_.ParamByName("K").SetAsString("A");
  query_.ExecSQL();
  {
    RawTable raw(dir_.path(), "P");
    const std::pair<const char*, const char*> expected[] = {
        {"D", "20120131"}, {"T", "06:00:00"}, {"TS", "2012-01-31 12:00:00"}, {"L", "T"},
        {"F", "2.5"},      {"S", "new"},      {"I", "7"}};
    for (const auto& [field, text] : expected) {
      SCOPED_TRACE(field);
      EXPECT_EQ(raw.Get(field), text);
    }
  }
  query_.ParamByName("S").Clear();  // a null value binds as empty
  query_.ExecSQL();
  {
    RawTable raw(dir_.path(), "P");
    EXPECT_TRUE(raw.IsEmpty("S"));
  }

  Sql("UPDATE P SET S = :FORGOTTEN");
  EDbEngineError e = EngineErrorOf([&] { query_.ExecSQL(); });
  EXPECT_STREQ(e.what(), "The field named: 'FORGOTTEN' has the DataType of ftUnknown, which is invalid.");
}

TEST_F(QueryTest, FailedStatementsCarryTheEnginesTextAndNumbers) {
  struct Case {
    const char* name;
    const char* sql;
    const char* prefix;
    int native;
  };
  const Case cases[] = {
      {"DbQuery1", "SELECT NOPE FROM EMP", "DbQuery1: Error 7200:", 5147},
      {"", "SELECT NOPE FROM EMP", "Error 7200:", 5147},
      {"DbQuery1", "ALTER TABLE \"EMP.KDT\"", "DbQuery1: Error 7200:", 2115},
      {"DbQuery1", "ALTER TABLE \"NOSUCH.KDT\" add column A char(3)", "DbQuery1: Error 7200:", 5041},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    query_.SetName(c.name);
    Sql(c.sql);
    EDbEngineError e = EngineErrorOf([&] { query_.Open(); });
    EXPECT_EQ(std::string(e.what()).rfind(c.prefix, 0), 0u) << e.what();
    EXPECT_EQ(e.ErrorCode(), 7200u);
    EXPECT_EQ(e.NativeError(), c.native);
    EXPECT_EQ(e.DataSetName(), c.name);
    EXPECT_EQ(e.TableName(), "");
    EXPECT_FALSE(query_.Active());
  }
}

TEST_F(QueryTest, EncryptedTablesNeedTheStatementPasswords) {
  {
    TDbTable table;
    Attach(table);
    table.SetTableName("EMP");
    table.SetExclusive(true);
    table.Open();
    table.EnableEncryption("admin");
    table.EncryptTable();
  }
  Sql("SELECT COUNT(*) AS N FROM EMP");
  EDbEngineError e = EngineErrorOf([&] { query_.Open(); });
  EXPECT_EQ(e.NativeError(), 5050) << e.what();

  // As the main window's hook does before its query opens.
  query_.SetBeforeOpen([](TDbDataSet& ds) {
    auto& q = static_cast<TDbQuery&>(ds);
    q.SetStatementPassword("admin");
    q.SetTablePassword("EMP.KDT", "admin");
  });
  query_.Open();
  EXPECT_EQ(query_.FieldByName("N").AsInteger(), 3);
  query_.Close();

  // A freed statement forgets its passwords.
  query_.SetBeforeOpen(nullptr);
  query_.CloseStatement();
  Sql("UPDATE EMP SET GRADE = 'X'");
  e = EngineErrorOf([&] { query_.ExecSQL(); });
  EXPECT_EQ(e.NativeError(), 5050) << e.what();
  query_.SetStatementPassword("admin");
  query_.SetTablePassword("EMP.KDT", "admin");
  query_.ExecSQL();
}

}  // namespace
}  // namespace kx8test
