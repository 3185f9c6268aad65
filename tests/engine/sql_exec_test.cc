// SQL statements as the upgrade sends them, run against fixture tables.
#include <filesystem>

#include "engine_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

class SqlTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(DbCreateSQLStatement(conn_, &stmt_), 0u) << LastErrorText();
  }
  void TearDown() override {
    DbCloseSQLStatement(stmt_);
    EngineTest::TearDown();
  }

  // Runs a statement; returns 0 or the failure number (the text is in
  // LastErrorText()). A cursor, if any, lands in *cursor or is closed.
  DBRESULT Exec(const std::string& sql, DBHANDLE* cursor = nullptr) {
    DBRESULT rc = DbPrepareSQL(stmt_, sql.c_str());
    if (rc != 0) return rc;
    return DbExecuteSQL(stmt_, cursor);
  }

  void ExecOk(const std::string& sql) { ASSERT_EQ(Exec(sql), 0u) << sql << " -> " << LastErrorText(); }

  // The rows of a query as "a|b|c" lines.
  std::vector<std::string> Query(const std::string& sql) {
    DBHANDLE cur = 0;
    DBRESULT rc = Exec(sql, &cur);
    EXPECT_EQ(rc, 0u) << sql << " -> " << LastErrorText();
    std::vector<std::string> out;
    if (rc != 0 || cur == 0) return out;
    uint16_t n = 0;
    DbGetNumFields(cur, &n);
    DbGotoTop(cur);
    while (!Eof(cur)) {
      std::string line;
      for (uint16_t f = 1; f <= n; ++f) line += (f > 1 ? "|" : "") + Get(cur, std::string(FieldName(cur, f)));
      out.push_back(line);
      DbSkip(cur, 1);
    }
    DbCloseTable(cur);
    return out;
  }

  static std::string FieldName(DBHANDLE t, uint16_t f) {
    char buf[100];
    uint16_t len = sizeof buf;
    DbGetFieldName(t, f, buf, &len);
    return buf;
  }

  void MakeEmployees() {
    Create("EMPLOYEE", "EMP_NO,Char,6;NAME,Char,20;COST_CENTRE_CODE,Char,6;SALARY,Money;JOINED,Date;ACTIVE,Logical;"
                       "BENEFIT_SCHEME,Char,8;EMG_CONTACT_RELATION,Char,10;");
    DBHANDLE t = Open("EMPLOYEE", DBE_OPEN_EXCLUSIVE);
    struct R { const char *no, *name, *cc, *sal, *joined, *active, *scheme, *rel; };
    const R rows[] = {
        {"E1", "Tan", "CC1", "3000.50", "20040105", "T", "MED1", "SPOUSE"},
        {"E2", "Lim", "CC2", "2500", "20070301", "F", "", "MOTHER"},
        {"E3", "Lee", "", "4100.25", "20120615", "T", "MED1", ""},
        {"E4", "Ng", "CC1", "", "", "T", "MED2", "SPOUSE"},
    };
    for (const R& r : rows) {
      AppendRow(t, {{"EMP_NO", r.no}, {"NAME", r.name}, {"COST_CENTRE_CODE", r.cc}, {"SALARY", r.sal},
                    {"JOINED", r.joined}, {"ACTIVE", r.active}, {"BENEFIT_SCHEME", r.scheme},
                    {"EMG_CONTACT_RELATION", r.rel}});
    }
    DBE_OK(DbCloseTable(t));
  }

  DBHANDLE stmt_ = 0;
};

TEST_F(SqlTest, SelectsAsTheUpgradeSendsThem) {
  MakeEmployees();
  struct Case { const char* sql; std::vector<std::string> rows; };
  const Case cases[] = {
      {"SELECT SUM(SALARY) AS NEW FROM EMPLOYEE", {"9600.75"}},
      {"SELECT BENEFIT_SCHEME  FROM EMPLOYEE GROUP BY BENEFIT_SCHEME", {"", "MED1", "MED2"}},
      {"SELECT DISTINCT EMG_CONTACT_RELATION FROM EMPLOYEE ", {"", "MOTHER", "SPOUSE"}},
      {"SELECT * FROM  EMPLOYEE WHERE EMP_NO='E2'", {"E2|Lim|CC2|2500|20070301|F||MOTHER"}},
      {"select count(*), count(salary), min(joined), max(name) from employee", {"4|3|20040105|Tan"}},
      {"SELECT EMP_NO FROM EMPLOYEE WHERE SALARY > 2600 AND ACTIVE ORDER BY SALARY DESC", {"E3", "E1"}},
      {"SELECT COST_CENTRE_CODE, COUNT(*) AS N FROM EMPLOYEE GROUP BY COST_CENTRE_CODE HAVING COUNT(*) > 1", {"CC1|2"}},
      {"SELECT EMP_NO, SALARY * 2 AS DOUBLED FROM EMPLOYEE WHERE SALARY IS NOT NULL ORDER BY 2", {"E2|5000", "E1|6001", "E3|8200.5"}},
      {"SELECT NAME FROM \"EMPLOYEE.KDT\" WHERE JOINED >= '2007-01-01' ORDER BY NAME", {"Lee", "Lim"}},
      {"SELECT AVG(SALARY) FROM EMPLOYEE WHERE EMP_NO <> 'E3'", {"2750.25"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Query(c.sql), c.rows);
  }
}

TEST_F(SqlTest, UpdatesAndDeletesAsTheUpgradeSendsThem) {
  Create("RTABLE", "DATABASE1,Char,10;TYPE1,Char,1;FIELD,Char,20;WIDTH,Integer;HIDE_WAGE,Logical;");
  DBHANDLE t = Open("RTABLE", DBE_OPEN_EXCLUSIVE);
  AppendRow(t, {{"DATABASE1", "EMP_PROS"}, {"TYPE1", "N"}, {"FIELD", "NEW_SALARY"}, {"WIDTH", "20"}});
  AppendRow(t, {{"DATABASE1", "EMP_PROS"}, {"TYPE1", "C"}, {"FIELD", "EMP_NAME"}, {"WIDTH", "30"}});
  AppendRow(t, {{"DATABASE1", "EMPLOYEE"}, {"TYPE1", "N"}, {"FIELD", "SALARY"}, {"WIDTH", "10"}});
  DBE_OK(DbCloseTable(t));
  ExecOk("UPDATE RTABLE SET HIDE_WAGE ='T' WHERE DATABASE1='EMP_PROS' AND TYPE1='N' ");
  ExecOk("UPDATE RTABLE SET WIDTH =60 WHERE WIDTH=20 OR WIDTH=30 ");
  ExecOk("UPDATE RTABLE SET WIDTH =40 WHERE FIELD='EMP_NAME'");
  EXPECT_EQ(Query("SELECT FIELD, WIDTH, HIDE_WAGE FROM RTABLE"),
            (std::vector<std::string>{"NEW_SALARY|60|T", "EMP_NAME|40|", "SALARY|10|"}));
  ExecOk("DELETE FROM RTABLE WHERE HIDE_WAGE IS NULL AND WIDTH < 20");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM RTABLE"), (std::vector<std::string>{"2"}));
}

TEST_F(SqlTest, FillInsWithParametersAndKeywordNamedColumns) {
  Create("TRAINING", "EMP_NO,Char,6;DEPARTMENT,Char,10;CURRENT,Integer;DESC,Char,10;");
  DBHANDLE t = Open("TRAINING", DBE_OPEN_EXCLUSIVE);
  AppendRow(t, {{"EMP_NO", "E1"}, {"CURRENT", "1"}});
  AppendRow(t, {{"EMP_NO", "E2"}, {"DEPARTMENT", "HR"}, {"CURRENT", "1"}});
  DBE_OK(DbCloseTable(t));
  DBE_OK(DbPrepareSQL(stmt_, "UPDATE TRAINING SET DEPARTMENT = :DEPART WHERE DEPARTMENT IS NULL"));
  DBE_OK(DbSetString(stmt_, ":depart", "ADMIN", 5));
  DBE_OK(DbExecuteSQL(stmt_, nullptr));
  ExecOk("UPDATE TRAINING SET CURRENT=0");
  ExecOk("UPDATE TRAINING SET \"DESC\" = 'x' + EMP_NO");
  EXPECT_EQ(Query("SELECT EMP_NO, DEPARTMENT, CURRENT, [DESC] FROM TRAINING"),
            (std::vector<std::string>{"E1|ADMIN|0|xE1", "E2|HR|0|xE2"}));
  char names[100];
  uint32_t len = sizeof names;
  DBE_OK(DbGetSQLStmtParams("SELECT * FROM X WHERE A = :GRADE AND B = :Code OR C = :grade", names, &len));
  EXPECT_STREQ(names, "GRADE;Code");
}

TEST_F(SqlTest, JoinedUpdateTakesTheMatchingRow) {
  MakeEmployees();
  Create("EMP_PROS", "EMP_CODE,Char,6;COST_CENTRE,Char,6;NEW_SALARY,Money;");
  DBHANDLE t = Open("EMP_PROS", DBE_OPEN_EXCLUSIVE);
  for (const char* code : {"E1", "E2", "E3", "E9"}) AppendRow(t, {{"EMP_CODE", code}, {"COST_CENTRE", "OLD"}});
  DBE_OK(DbCloseTable(t));
  ExecOk("UPDATE EMP_PROS SET COST_CENTRE=COST_CENTRE_CODE FROM EMPLOYEE WHERE EMPLOYEE.EMP_NO=EMP_PROS.EMP_CODE");
  EXPECT_EQ(Query("SELECT EMP_CODE, COST_CENTRE FROM EMP_PROS"),
            (std::vector<std::string>{"E1|CC1", "E2|CC2", "E3|", "E9|OLD"}));
}

TEST_F(SqlTest, AlterTableRestructuresAndKeepsTheOldFiles) {
  Create("EMP", "EMP_NO,Char,6;NAME,Char,10;FLAG,Logical;SEQ,AutoInc;AMT,Integer;NOTE,Memo;");
  DBHANDLE t = Open("EMP", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbCreateIndex(t, nullptr, "EMP_NO", "EMP_NO", nullptr, nullptr, 3, 0, nullptr));
  DBE_OK(DbCreateIndex(t, nullptr, "BYNAME", "NAME;EMP_NO", nullptr, nullptr, 2, 0, nullptr));
  AppendRow(t, {{"EMP_NO", "E1"}, {"NAME", "Tan Ah Kow"}, {"FLAG", "T"}, {"AMT", "12"}, {"NOTE", "first"}});
  AppendRow(t, {{"EMP_NO", "E2"}, {"NAME", "Lim"}, {"FLAG", "F"}, {"AMT", "-5"}});
  DBE_OK(DbCloseTable(t));
  ExecOk("ALTER TABLE \"EMP.KDT\"\r\nadd column SUPERVISOR_CODE2 char(12)");
  ExecOk("ALTER TABLE \"emp.kdt\"\r\nalter column NAME NAME char(3), alter column FLAG FLAG char(1), "
         "alter column SEQ SEQ INTEGER, alter column AMT AMT char(4)");
  EXPECT_EQ(Query("SELECT EMP_NO, NAME, FLAG, SEQ, AMT, NOTE, SUPERVISOR_CODE2 FROM EMP"),
            (std::vector<std::string>{"E1|Tan|T|1|12|first|", "E2|Lim|F|2|-5||"}));
  for (const char* ext : {"KDT", "KDI", "KDM"}) EXPECT_TRUE(fs::exists(dir_.File(std::string("EMP.") + ext + ".BAK")));
  // The tag on NAME survives its change; dropping NAME drops it.
  ExecOk("ALTER TABLE \"EMP.KDT\" DROP column NAME");
  t = Open("EMP");
  uint16_t n = 0;
  DBE_OK(DbGetNumIndexes(t, &n));
  EXPECT_EQ(n, 1);
  DBE_OK(DbCloseTable(t));
  struct Bad { const char* sql; const char* native; };
  const Bad bad[] = {
      {"ALTER TABLE \"EMP.KDT\"", "NativeError = 2115;"},
      {"ALTER TABLE \"EMP.KDT\" add column EMP_NO char(3)", "NativeError = 2130;"},
      {"ALTER TABLE \"EMP.KDT\" alter column NOPE NOPE char(3)", "NativeError = 5147;"},
      {"ALTER TABLE \"EMP.KDT\" DROP column NOPE", "NativeError = 5147;"},
      {"ALTER TABLE \"NOSUCH.KDT\" add column A char(3)", "NativeError = 5041;"},
      {"SELECT NOPE FROM EMP", "NativeError = 5147;"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.sql);
    EXPECT_EQ(Exec(b.sql), static_cast<DBRESULT>(DBE_SQL_ERROR));
    EXPECT_NE(LastErrorText().find("Error 7200:"), std::string::npos) << LastErrorText();
    EXPECT_NE(LastErrorText().find(b.native), std::string::npos) << LastErrorText();
  }
}

TEST_F(SqlTest, IndexStatementsKeepNamesAsWritten) {
  Create("FW_LEVY", "YEAR,ShortInt;CLASS,Char,2;CATEGORY,Char,2;PERIOD_PART,Char,1;");
  ExecOk("CREATE INDEX [PRIMARY] ON FW_LEVY (YEAR,CLASS,CATEGORY)");
  ExecOk("CREATE UNIQUE INDEX \"  SCHEME_CODE2\" ON FW_LEVY (CLASS)");
  ExecOk("UPDATE FW_LEVY SET PERIOD_PART='1' WHERE PERIOD_PART IS NULL");
  ExecOk("DROP INDEX FW_LEVY.[PRIMARY]");
  ExecOk("CREATE INDEX [PRIMARY] ON FW_LEVY (YEAR,CLASS,CATEGORY,PERIOD_PART)");
  DBHANDLE t = Open("FW_LEVY");
  DBHANDLE ix = 0;
  DBE_OK(DbGetIndexHandle(t, "  SCHEME_CODE2", &ix));
  DBE_OK(DbGetIndexHandle(t, "PRIMARY", &ix));
  char expr[100];
  uint16_t len = sizeof expr;
  DBE_OK(DbGetIndexExpr(ix, expr, &len));
  EXPECT_STREQ(expr, "YEAR;CLASS;CATEGORY;PERIOD_PART");
  DBE_OK(DbCloseTable(t));
  EXPECT_EQ(Exec("CREATE PROCEDURE rUzevUroda( EmpId CHAR(10) ) FUNCTION rUzevUroda IN LIBRARY \"x.kep\""),
            static_cast<DBRESULT>(DBE_SQL_ERROR));
}

TEST_F(SqlTest, EncryptedTablesNeedTheStatementPassword) {
  MakeEmployees();
  DBHANDLE t = Open("EMPLOYEE", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbEnableEncryption(t, "pw"));
  DBE_OK(DbEncryptTable(t));
  DBE_OK(DbCloseTable(t));
  EXPECT_EQ(Exec("SELECT * FROM EMPLOYEE"), static_cast<DBRESULT>(DBE_SQL_ERROR));
  EXPECT_NE(LastErrorText().find("NativeError = 5050;"), std::string::npos) << LastErrorText();
  EXPECT_EQ(Exec("ALTER TABLE \"EMPLOYEE.KDT\" add column X char(2)"), static_cast<DBRESULT>(DBE_SQL_ERROR));
  DBE_OK(DbStmtSetTablePassword(stmt_, "EMPLOYEE", "wrong"));
  EXPECT_EQ(Exec("SELECT * FROM EMPLOYEE"), static_cast<DBRESULT>(DBE_SQL_ERROR));
  EXPECT_NE(LastErrorText().find("NativeError = 5051;"), std::string::npos) << LastErrorText();
  DBE_OK(DbStmtEnableEncryption(stmt_, "pw"));
  DBE_OK(DbStmtSetTablePassword(stmt_, "EMPLOYEE.KDT", "pw"));
  EXPECT_EQ(Query("SELECT COUNT(*) FROM EMPLOYEE"), (std::vector<std::string>{"4"}));
  ExecOk("ALTER TABLE \"EMPLOYEE.KDT\" add column X char(2)");
  t = Open("EMPLOYEE");
  uint16_t enc = 0;
  DBE_OK(DbIsTableEncrypted(t, &enc));
  EXPECT_EQ(enc, 1);  // a restructure never leaves data in the clear
  DBE_OK(DbCloseTable(t));
}

TEST_F(SqlTest, LiveCursorRowsAreTheTablesRows) {
  MakeEmployees();
  DBE_OK(DbStmtSetTableReadOnly(stmt_, 2));
  DBHANDLE cur = 0;
  ASSERT_EQ(Exec("SELECT * FROM EMPLOYEE WHERE ACTIVE", &cur), 0u) << LastErrorText();
  uint16_t live = 0;
  DBE_OK(DbSqlPeekStatement(cur, &live));
  EXPECT_EQ(live, 1);
  EXPECT_EQ(Count(cur), 3u);
  DBE_OK(DbGotoTop(cur));
  DBE_OK(DbSetField(cur, "NAME", "Tan Senior", 10));
  DBE_OK(DbWriteRecord(cur));
  DBE_OK(DbCloseTable(cur));
  EXPECT_EQ(Query("SELECT NAME FROM EMPLOYEE WHERE EMP_NO = 'E1'"), (std::vector<std::string>{"Tan Senior"}));
  // Anything else is a static result that refuses writes.
  ASSERT_EQ(Exec("SELECT DISTINCT NAME FROM EMPLOYEE", &cur), 0u);
  DBE_OK(DbSqlPeekStatement(cur, &live));
  EXPECT_EQ(live, 0);
  DBE_OK(DbGotoTop(cur));
  DBE_FAILS_WITH(DBE_STATIC_CURSOR, DbSetField(cur, "NAME", "x", 1));
  DBE_OK(DbCloseTable(cur));
}

TEST_F(SqlTest, InsertAndCreateTable) {
  ExecOk("CREATE TABLE QUERY (CODE char(10), DESC char(20), AMT money, D date)");
  ExecOk("INSERT INTO QUERY (CODE, DESC, AMT, D) VALUES ('A', 'first', 1.25, '2012-01-31')");
  ExecOk("INSERT INTO QUERY VALUES (NULL, 'no code', 2, NULL), ('B', 'second', 0.1 + 0.2, NULL)");
  ExecOk("DELETE FROM QUERY WHERE CODE IS NULL");
  EXPECT_EQ(Query("SELECT * FROM QUERY"), (std::vector<std::string>{"A|first|1.25|20120131", "B|second|0.3|"}));
  ExecOk("DROP TABLE QUERY");
  EXPECT_FALSE(fs::exists(dir_.File("QUERY.KDT")));
}

}  // namespace
}  // namespace kx8test
