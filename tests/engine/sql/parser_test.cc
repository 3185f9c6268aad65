#include "sql/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "core/error.h"
#include "dbe/dbe.h"
#include "expr/ast.h"

namespace dbe::sql {
namespace {

// A statement tree as one line of text, so that a table of cases can give
// the whole expected tree. Quoted table names show in double quotes, index
// names in brackets (blanks included), types as DBE_FT_* number with
// (length[,decimals]), expressions as expr::Dump.
std::string Show(const TableRef& t) {
  std::string s = t.quoted ? "\"" + t.name + "\"" : t.name;
  if (!t.alias.empty()) s += " AS " + t.alias;
  return s;
}

std::string Show(const TypeSpec& t) {
  std::string s = std::to_string(t.type);
  if (t.length != 0 || t.decimals != 0) {
    s += "(" + std::to_string(t.length);
    if (t.decimals != 0) s += "," + std::to_string(t.decimals);
    s += ")";
  }
  return s;
}

std::string Show(const expr::NodePtr& e) { return e ? expr::Dump(*e) : "<null>"; }

template <typename T, typename F>
std::string Join(const std::vector<T>& items, F show) {
  std::string s;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) s += ", ";
    s += show(items[i]);
  }
  return s;
}

std::string ShowSelect(const Select& st) {
  std::string s = st.distinct ? "SELECT DISTINCT " : "SELECT ";
  s += Join(st.items, [](const SelectItem& item) {
    std::string i = item.star ? (item.star_qualifier.empty() ? "*" : item.star_qualifier + ".*")
                              : Show(item.expr);
    if (!item.alias.empty()) i += " AS " + item.alias;
    return i;
  });
  s += " FROM " + Join(st.from, [](const TableRef& t) { return Show(t); });
  if (st.where) s += " WHERE " + Show(st.where);
  if (!st.group_by.empty()) {
    s += " GROUP BY " + Join(st.group_by, [](const expr::NodePtr& e) { return Show(e); });
  }
  if (st.having) s += " HAVING " + Show(st.having);
  if (!st.order_by.empty()) {
    s += " ORDER BY " + Join(st.order_by, [](const OrderItem& o) {
           return Show(o.expr) + (o.descending ? " DESC" : "");
         });
  }
  return s;
}

std::string ShowClause(const AlterClause& c) {
  switch (c.kind) {
    case AlterClause::Kind::Add:
      return "ADD " + c.column + " " + Show(c.type);
    case AlterClause::Kind::Alter:
      return "ALTER " + c.column + "->" + c.new_name + " " + Show(c.type);
    case AlterClause::Kind::Drop:
      return "DROP " + c.column;
  }
  return "?";
}

std::string Show(const Statement& st) {
  return std::visit(
      [](const auto& b) -> std::string {
        using T = std::decay_t<decltype(b)>;
        if constexpr (std::is_same_v<T, AlterTable>) {
          std::string s = "ALTER TABLE " + Show(b.table) + ": ";
          for (size_t i = 0; i < b.clauses.size(); ++i) {
            if (i > 0) s += "; ";
            s += ShowClause(b.clauses[i]);
          }
          return s;
        } else if constexpr (std::is_same_v<T, CreateIndex>) {
          return std::string("CREATE ") + (b.unique ? "UNIQUE " : "") + "INDEX [" + b.name +
                 "] ON " + Show(b.table) + " (" +
                 Join(b.columns, [](const std::string& c) { return c; }) + ")";
        } else if constexpr (std::is_same_v<T, DropIndex>) {
          return "DROP INDEX " + Show(b.table) + ".[" + b.name + "]";
        } else if constexpr (std::is_same_v<T, Select>) {
          return ShowSelect(b);
        } else if constexpr (std::is_same_v<T, Update>) {
          std::string s =
              "UPDATE " + Show(b.table) + " SET " +
              Join(b.sets, [](const Assignment& a) { return a.column + "=" + Show(a.value); });
          if (!b.from.empty())
            s += " FROM " + Join(b.from, [](const TableRef& t) { return Show(t); });
          if (b.where) s += " WHERE " + Show(b.where);
          return s;
        } else if constexpr (std::is_same_v<T, Delete>) {
          std::string s = "DELETE FROM " + Show(b.table);
          if (b.where) s += " WHERE " + Show(b.where);
          return s;
        } else if constexpr (std::is_same_v<T, Insert>) {
          std::string s = "INSERT INTO " + Show(b.table);
          if (!b.columns.empty())
            s += " (" + Join(b.columns, [](const std::string& c) { return c; }) + ")";
          if (b.select) return s + " " + ShowSelect(*b.select);
          return s + " VALUES " + Join(b.rows, [](const std::vector<expr::NodePtr>& row) {
                   return "(" + Join(row, [](const expr::NodePtr& e) { return Show(e); }) + ")";
                 });
        } else if constexpr (std::is_same_v<T, CreateTable>) {
          return "CREATE TABLE " + Show(b.table) + " (" +
                 Join(b.columns, [](const ColumnDef& c) { return c.name + " " + Show(c.type); }) +
                 ")";
        } else if constexpr (std::is_same_v<T, DropTable>) {
          return "DROP TABLE " + Show(b.table);
        } else {
          static_assert(std::is_same_v<T, CreateProcedure>);
          return "CREATE PROCEDURE " + b.name + " [" + b.params + "] FUNCTION " + b.function +
                 " LIBRARY [" + b.library + "]";
        }
      },
      st.body);
}

std::string Parsed(const std::string& text) {
  try {
    return Show(ParseStatement(text));
  } catch (const Error& e) {
    return std::string("error: ") + e.what();
  }
}

struct Case {
  std::string text;
  std::string tree;
};

void ExpectTrees(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(Parsed(c.text), c.tree) << c.text;
  }
}

// The statements the program sends, as its texts are built: a statement set
// line by line is the lines joined by line breaks, so each text must parse
// the same with a final line break.
TEST(SqlParser, ProgramStatements) {
  const std::vector<Case> cases = {
      // Register creation.
      {"Create Unique Index \"PRIMARY\" on mcompany( COMPANY_CODE )",
       "CREATE UNIQUE INDEX [PRIMARY] ON mcompany (COMPANY_CODE)"},
      // Run driver, leave conversion.
      {"UPDATE EMPENT SET CURRENT=0", "UPDATE EMPENT SET CURRENT=0"},
      // Main window query, salary check.
      {"SELECT SUM(NEW_SALARY) AS NEW FROM EMP_PROS",
       "SELECT SUM(NEW_SALARY) AS NEW FROM EMP_PROS"},
      {"SELECT SUM(NEW_SALARY) AS NEW FROM \"EMP_PROS.KDT\"",
       "SELECT SUM(NEW_SALARY) AS NEW FROM \"EMP_PROS.KDT\""},
      // Report catalogue statements (trailing blanks as the program has them).
      {"UPDATE RTABLE SET HIDE_WAGE ='T' WHERE DATABASE1='EMP_PROS' AND TYPE1='N' ",
       "UPDATE RTABLE SET HIDE_WAGE='T' WHERE (AND (= DATABASE1 'EMP_PROS') (= TYPE1 'N'))"},
      {"UPDATE RTABLE SET WIDTH =60 WHERE WIDTH=20 OR WIDTH=30 ",
       "UPDATE RTABLE SET WIDTH=60 WHERE (OR (= WIDTH 20) (= WIDTH 30))"},
      {"UPDATE RTABLE SET WIDTH =40 WHERE FIELD='EMP_NAME'",
       "UPDATE RTABLE SET WIDTH=40 WHERE (= FIELD 'EMP_NAME')"},
      // Levy table.
      {"UPDATE FW_LEVY SET PERIOD_PART='1' WHERE PERIOD_PART IS NULL",
       "UPDATE FW_LEVY SET PERIOD_PART='1' WHERE (IS NULL PERIOD_PART)"},
      {"DROP INDEX FW_LEVY.[PRIMARY]", "DROP INDEX FW_LEVY.[PRIMARY]"},
      {"CREATE INDEX [PRIMARY] ON FW_LEVY (YEAR,CLASS,CATEGORY,PERIOD_PART)",
       "CREATE INDEX [PRIMARY] ON FW_LEVY (YEAR, CLASS, CATEGORY, PERIOD_PART)"},
      {"select * from FW_LEVY where [YEAR]='2012'", "SELECT * FROM FW_LEVY WHERE (= YEAR '2012')"},
      // Fill-ins of the pre-8.60 data steps and of the company pass.
      {"UPDATE \"CODE.KDT\" SET MAPFIELD = N1CLAIM WHERE MAPFIELD IS NULL",
       "UPDATE \"CODE.KDT\" SET MAPFIELD=N1CLAIM WHERE (IS NULL MAPFIELD)"},
      {"UPDATE \"CODE.KDT\" SET LONG_DESC = \"DESC\" WHERE LONG_DESC IS NULL",
       "UPDATE \"CODE.KDT\" SET LONG_DESC=DESC WHERE (IS NULL LONG_DESC)"},
      {"UPDATE \"EMP_PROS.KDT\" SET GRADE =:GRADE  WHERE GRADE IS NULL",
       "UPDATE \"EMP_PROS.KDT\" SET GRADE=:GRADE WHERE (IS NULL GRADE)"},
      {"UPDATE YTDEMPL SET ORI_OWWAGE=CPFOWWAGE,ORI_AWWAGE=CPFAWWAGE  WHERE ORI_OWWAGE IS NULL",
       "UPDATE YTDEMPL SET ORI_OWWAGE=CPFOWWAGE, ORI_AWWAGE=CPFAWWAGE WHERE (IS NULL ORI_OWWAGE)"},
      {"UPDATE P_htrx SET BANKAMT = nett_wage WHERE BANKAMT IS NULL",
       "UPDATE P_htrx SET BANKAMT=nett_wage WHERE (IS NULL BANKAMT)"},
      {"UPDATE \"RBITEM.KDT\" SET ID = ItemId WHERE ID IS NULL",
       "UPDATE \"RBITEM.KDT\" SET ID=ItemId WHERE (IS NULL ID)"},
      {"UPDATE TRAINING SET DEPARTMENT = :DEPART WHERE DEPARTMENT IS NULL",
       "UPDATE TRAINING SET DEPARTMENT=:DEPART WHERE (IS NULL DEPARTMENT)"},
      {"Create Index \"  SCHEME_CODE2\" on MEDSCH(SCHEME_CODE,CLAIM_CODE,SUBCLAIM,CLAIMTYPE )",
       "CREATE INDEX [  SCHEME_CODE2] ON MEDSCH (SCHEME_CODE, CLAIM_CODE, SUBCLAIM, CLAIMTYPE)"},
      {"DELETE FROM QUERY WHERE CODE IS NULL", "DELETE FROM QUERY WHERE (IS NULL CODE)"},
      // Employee pass, claim setup, occupation codes.
      {"SELECT * FROM NSMAN WHERE NS_PSA_SERVICE='Y'",
       "SELECT * FROM NSMAN WHERE (= NS_PSA_SERVICE 'Y')"},
      {"SELECT * FROM  MEDSCH", "SELECT * FROM MEDSCH"},
      {"SELECT BENEFIT_SCHEME  FROM EMPLOYEE GROUP BY BENEFIT_SCHEME",
       "SELECT BENEFIT_SCHEME FROM EMPLOYEE GROUP BY BENEFIT_SCHEME"},
      {"SELECT DISTINCT OCCUPATION_CODE FROM FAMILY ",
       "SELECT DISTINCT OCCUPATION_CODE FROM FAMILY"},
      {"SELECT DISTINCT EMG_CONTACT_RELATION FROM EMPLOYEE ",
       "SELECT DISTINCT EMG_CONTACT_RELATION FROM EMPLOYEE"},
      // Cost centre conversion: two lines, trailing blanks kept.
      {"UPDATE EMP_PROS SET COST_CENTRE=COST_CENTRE_CODE FROM EMPLOYEE \r\n"
       "WHERE EMPLOYEE.EMP_NO=EMP_PROS.EMP_CODE  ",
       "UPDATE EMP_PROS SET COST_CENTRE=COST_CENTRE_CODE FROM EMPLOYEE "
       "WHERE (= EMPLOYEE.EMP_NO EMP_PROS.EMP_CODE)"},
      // Time-clock procedure, built piece by piece (two blanks after "(",
      // one at the end).
      {"CREATE PROCEDURE rUzevUroda(  company CHAR(255) , dd CHAR(2) , mm CHAR(2) , yy CHAR(4) , "
       "p_no CHAR(15) , emp_no CHAR(12) , err_no CHAR(12) OUTPUT )  FUNCTION ProcessTiming IN "
       "LIBRARY \"...\\rUzevUroda.kep\" ",
       "CREATE PROCEDURE rUzevUroda [company CHAR(255) , dd CHAR(2) , mm CHAR(2) , yy CHAR(4) , "
       "p_no CHAR(15) , emp_no CHAR(12) , err_no CHAR(12) OUTPUT] FUNCTION ProcessTiming "
       "LIBRARY [...\\rUzevUroda.kep]"},
      {"CREATE PROCEDURE rUzevUroda( EmpId CHAR(10), ItemId INTEGER OUTPUT ) FUNCTION rUzevUroda "
       "IN "
       "LIBRARY \"C:\\KELPA\\rUzevUroda.kep\"",
       "CREATE PROCEDURE rUzevUroda [EmpId CHAR(10), ItemId INTEGER OUTPUT] FUNCTION rUzevUroda "
       "LIBRARY [C:\\KELPA\\rUzevUroda.kep]"},
      // Column removal: a blank after the table, the column quoted.
      {"ALTER TABLE \"CLAIMGRP.KDT\" \r\nDROP column \"DESC\"",
       "ALTER TABLE \"CLAIMGRP.KDT\": DROP DESC"},
  };
  ExpectTrees(cases);
  for (const Case& c : cases) {
    EXPECT_EQ(Parsed(c.text + "\r\n"), c.tree) << c.text;
  }
}

// The index repair statements, each creating one index by a quoted name.
TEST(SqlParser, IndexRepairStatements) {
  ExpectTrees({
      {"Create Index \"CATEGORY\" on TEMPINCREMENT(USERID,TYPE,CATEGORY,GRADE)",
       "CREATE INDEX [CATEGORY] ON TEMPINCREMENT (USERID, TYPE, CATEGORY, GRADE)"},
      {"Create Index \"CTLFIELD\" on FREEFIELD(MODULE,LINE,CTLFIELD)",
       "CREATE INDEX [CTLFIELD] ON FREEFIELD (MODULE, LINE, CTLFIELD)"},
      {"Create Index \"INC_NO\" on APPD8B(INC_NO)", "CREATE INDEX [INC_NO] ON APPD8B (INC_NO)"},
      {"Create Index \"PAYCODE\" on RPTRX(EMPCODE,PAYCODE,PERIOD,CYCLE)",
       "CREATE INDEX [PAYCODE] ON RPTRX (EMPCODE, PAYCODE, PERIOD, CYCLE)"},
      {"Create Index \"TABLENAME\" on RBFIELD(TABLENAME,FIELDNAME)",
       "CREATE INDEX [TABLENAME] ON RBFIELD (TABLENAME, FIELDNAME)"},
      {"Create Index \"LEAVE_TRX1\" on LEAV_TRX( LEAVE_CODE,EMPCODE,\"DATE\",ID)",
       "CREATE INDEX [LEAVE_TRX1] ON LEAV_TRX (LEAVE_CODE, EMPCODE, DATE, ID)"},
      {"Create Index \"TABLENAME\" on RBTABLE(TABLENAME)",
       "CREATE INDEX [TABLENAME] ON RBTABLE (TABLENAME)"},
      {"Create Index \"CODE2\" on PQUERY(CODE,QTYPE,ID)",
       "CREATE INDEX [CODE2] ON PQUERY (CODE, QTYPE, ID)"},
      {"Create Index \"EMP_NO2\" on LIEUTRX1(EMP_NO,LEAVE_CODE,TRX_DATE,TRXID)",
       "CREATE INDEX [EMP_NO2] ON LIEUTRX1 (EMP_NO, LEAVE_CODE, TRX_DATE, TRXID)"},
      {"Create Index \"EMP_NO\" on LEAV_TRX(LEAVE_CODE,EMPCODE,\"DATE\",ID)",
       "CREATE INDEX [EMP_NO] ON LEAV_TRX (LEAVE_CODE, EMPCODE, DATE, ID)"},
      {"Create Index \"CATDESC\" on CODE(CATEGORY,\"DESC\")",
       "CREATE INDEX [CATDESC] ON CODE (CATEGORY, DESC)"},
      {"Create Index \"PRIMARY1\" on IR8AR(USERID,EMPCODE,TYPE )",
       "CREATE INDEX [PRIMARY1] ON IR8AR (USERID, EMPCODE, TYPE)"},
      {"Create Index \"BNO\" on MEDICAL(EMPCODE,BNO )",
       "CREATE INDEX [BNO] ON MEDICAL (EMPCODE, BNO)"},
      {"Create Index \"RPTCODE\" on ALLOWNCE( YEAR,RPTCODE )",
       "CREATE INDEX [RPTCODE] ON ALLOWNCE (YEAR, RPTCODE)"},
      {"Create Index \"  LINE\" on GLCOST(LINE)", "CREATE INDEX [  LINE] ON GLCOST (LINE)"},
      {"Create Index \"MENU1\" on PASSWORK(\"USER\",MENU)",
       "CREATE INDEX [MENU1] ON PASSWORK (USER, MENU)"},
      {"Create Index \"EMPLOYEE\" on APPR(EMP_CODE)", "CREATE INDEX [EMPLOYEE] ON APPR (EMP_CODE)"},
      {"Create Index \"P_HIST\" on P_HIST1(USERID,EMPCODE,ID,ALW_CODE,DESC01)",
       "CREATE INDEX [P_HIST] ON P_HIST1 (USERID, EMPCODE, ID, ALW_CODE, DESC01)"},
      {"Create Index \"EMPLOYEE1\" on APPRDTL(EMPCODE,ID,SECTION)",
       "CREATE INDEX [EMPLOYEE1] ON APPRDTL (EMPCODE, ID, SECTION)"},
      {"Create Index \"FROMMARK\" on APP_GRADE_SETUP(JOB_GRADE,FROMMARK)",
       "CREATE INDEX [FROMMARK] ON APP_GRADE_SETUP (JOB_GRADE, FROMMARK)"},
      {"Create Index \"PERIOD1\" on LEAVESET(PERIOD,SCHEME)",
       "CREATE INDEX [PERIOD1] ON LEAVESET (PERIOD, SCHEME)"},
      {"Create Index \"PAYCODE1\" on P_HIST4(USERID,DEPT_CODE,CST_CODE,CAT_CODE,PAYCODE1)",
       "CREATE INDEX [PAYCODE1] ON P_HIST4 (USERID, DEPT_CODE, CST_CODE, CAT_CODE, PAYCODE1)"},
      {"Create Index \"PAYCODE2\" on P_HIST4(USERID,DEPT_CODE,CST_CODE,CAT_CODE,PAYCODE2)",
       "CREATE INDEX [PAYCODE2] ON P_HIST4 (USERID, DEPT_CODE, CST_CODE, CAT_CODE, PAYCODE2)"},
      {"Create Index \"ID\" on P_HIST4(USERID,DEPT_CODE,CST_CODE,CAT_CODE,PAYCODE2,ID)",
       "CREATE INDEX [ID] ON P_HIST4 (USERID, DEPT_CODE, CST_CODE, CAT_CODE, PAYCODE2, ID)"},
  });
}

// The column upgrade's ALTER TABLE statements: two lines, the table as a
// quoted file name, the clause built from the type code's template with
// its letter case and trailing blanks. Every template is tried with column
// names the catalogue uses, many of them words with a meaning elsewhere.
TEST(SqlParser, ColumnUpgradeStatements) {
  // The clause templates, F standing for the column and S for the size (no
  // other capital F or S appears in them).
  struct Template {
    const char* code;
    const char* clause;
    const char* tree;
  };
  const Template templates[] = {
      {"C", "add column F char(S)", "ADD F 4(S)"},
      {"$", "add column F curdouble ", "ADD F 17"},
      {"D", "add column F date ", "ADD F 3"},
      {"I", "add column F INTEGER ", "ADD F 11"},
      {"L", "add column F LOGICAL ", "ADD F 1"},
      {"B", "add column F BLOB ", "ADD F 6"},
      {"T", "ADD column F TIME ", "ADD F 13"},
      {"Z", "add column F double ", "ADD F 10"},
      {"+", "add column F AutoInc ", "ADD F 15"},
      {"AS", "alter column \"F\" \"F\" char(S)", "ALTER F->F 4(S)"},
      {"IC", "alter column F \"F\" char(S)", "ALTER F->F 4(S)"},
      {"AI", "alter column F F INTEGER ", "ALTER F->F 11"},
  };
  const auto fill = [](std::string_view pattern, const std::string& f, const std::string& size) {
    std::string out;
    for (const char c : pattern) {
      if (c == 'F') {
        out += f;
      } else if (c == 'S') {
        out += size;
      } else {
        out += c;
      }
    }
    return out;
  };
  const char* const columns[] = {
      "ITEMTEXT",    "SUPERVISOR_CODE2",
      "Platform",    "Geography",
      "Field_No201", "COLUMN61",
      "ID",          "NO",
      "DESC",        "OPTION",
      "LOCK",        "EXCLUSIVE",
      "TYPE",        "STATUS",
      "CONTROL",     "ALIAS",
      "PERCENT",     "BACKUP",
      "CODE",        "NAME",
      "SECTION",     "STATE",
      "TEMPLATE",    "TIMEOUT",
      "STEP",        "CURRENCY",
      "TOTAL",       "PERIOD",
      "CURRENT",     "NEW",
      "DATE",        "TIME",
      "USER",        "YEAR",
      "FROM",        "TO",
      "ORDER",       "GROUP",
      "WHERE",       "SET",
      "ADD",         "DROP",
      "ALTER",       "TABLE",
      "COLUMN",      "CHAR",
      "INTEGER",     "AUTOINC",
  };
  for (const Template& t : templates) {
    for (const char* column : columns) {
      for (const char* table : {"GLLINE", "employee", "CODE"}) {
        for (const char* size : {"1", "30", "200"}) {
          const std::string head = "ALTER TABLE \"" + std::string(table) + ".KDT\"";
          const std::string text = head + "\r\n" + fill(t.clause, column, size) + "\r\n";
          EXPECT_EQ(Parsed(text), head + ": " + fill(t.tree, column, size))
              << "code " << t.code << ": " << text;
        }
      }
    }
  }
}

TEST(SqlParser, TypeNames) {
  const std::vector<std::pair<std::string, std::string>> types = {
      {"char(10)", "4(10)"},
      {"CHARACTER(5)", "4(5)"},
      {"cichar(3)", "20(3)"},
      {"VarChar(40)", "8(40)"},
      {"numeric(10,2)", "2(10,2)"},
      {"NUMERIC( 8 )", "2(8)"},
      {"date", "3"},
      {"ShortDate", "9"},
      {"logical", "1"},
      {"Memo", "5"},
      {"blob", "6"},
      {"BINARY", "6"},
      {"image", "7"},
      {"double", "10"},
      {"Double(2)", "10(0,2)"},
      {"integer", "11"},
      {"INT", "11"},
      {"shortint", "12"},
      {"SMALLINT", "12"},
      {"time", "13"},
      {"TimeStamp", "14"},
      {"autoinc", "15"},
      {"raw(16)", "16(16)"},
      {"CurDouble", "17"},
      {"money", "18"},
      {"RowVersion", "21"},
      {"modtime", "22"},
  };
  for (const auto& [type, tree] : types) {
    EXPECT_EQ(Parsed("ALTER TABLE T ADD C " + type), "ALTER TABLE T: ADD C " + tree) << type;
    EXPECT_EQ(Parsed("ALTER TABLE T ALTER C C " + type), "ALTER TABLE T: ALTER C->C " + tree)
        << type;
    EXPECT_EQ(Parsed("CREATE TABLE T (C " + type + ", D INTEGER)"),
              "CREATE TABLE T (C " + tree + ", D 11)")
        << type;
  }
}

// Where a word is a keyword and where it is a name.
TEST(SqlParser, KeywordsAsNames) {
  ExpectTrees({
      {"update empent set current = 0 where current is not null",
       "UPDATE empent SET current=0 WHERE (IS NOT NULL current)"},
      {"UPDATE X SET \"DESC\" = 'A', [DATE] = DATE '2012-01-31'",
       "UPDATE X SET DESC='A', DATE=DATE '2012-01-31'"},
      {"UPDATE X SET DESC = DESC || 'x', TYPE = USER",
       "UPDATE X SET DESC=(|| DESC 'x'), TYPE=USER"},
      {"SELECT DESC, DATE, USER, YEAR, OPTION, LOCK, TO, TYPE FROM T ORDER BY DESC DESC, YEAR",
       "SELECT DESC, DATE, USER, YEAR, OPTION, LOCK, TO, TYPE FROM T ORDER BY DESC DESC, YEAR"},
      {"SELECT FROM, NEW FROM T WHERE FROM < TO", "SELECT FROM, NEW FROM T WHERE (< FROM TO)"},
      {"SELECT SUM(NEW_SALARY) NEW FROM EMP_PROS", "SELECT SUM(NEW_SALARY) AS NEW FROM EMP_PROS"},
      {"SELECT DISTINCT FROM T", "SELECT DISTINCT FROM T"},
      {"SELECT DISTINCT, A FROM T", "SELECT DISTINCT, A FROM T"},
      {"DELETE FROM CODE WHERE CODE = 'X' AND \"DESC\" IS NULL",
       "DELETE FROM CODE WHERE (AND (= CODE 'X') (IS NULL DESC))"},
      // COLUMN after ADD, ALTER, DROP is the column itself where nothing
      // else could be.
      {"ALTER TABLE T ADD COLUMN char(10)", "ALTER TABLE T: ADD COLUMN 4(10)"},
      {"ALTER TABLE T ADD column DATE date", "ALTER TABLE T: ADD DATE 3"},
      {"ALTER TABLE T DROP COLUMN", "ALTER TABLE T: DROP COLUMN"},
      {"ALTER TABLE T DROP COLUMN, DROP COLUMN COLUMN", "ALTER TABLE T: DROP COLUMN; DROP COLUMN"},
      {"ALTER TABLE T ALTER COLUMN INTEGER", "ALTER TABLE T: ALTER COLUMN->COLUMN 11"},
      {"ALTER TABLE T ALTER COLUMN char(20)", "ALTER TABLE T: ALTER COLUMN->COLUMN 4(20)"},
      {"ALTER TABLE T ALTER COLUMN X char(20)", "ALTER TABLE T: ALTER X->X 4(20)"},
      {"ALTER TABLE T ALTER COLUMN \"X\" \"Y\" char(20)", "ALTER TABLE T: ALTER X->Y 4(20)"},
      {"ALTER TABLE T ALTER COLUMN CHAR \"CHAR\" char(20)",
       "ALTER TABLE T: ALTER CHAR->CHAR 4(20)"},
      // The new name of ALTER may be left out.
      {"ALTER TABLE T ALTER COLUMN F char(20)", "ALTER TABLE T: ALTER F->F 4(20)"},
      {"ALTER TABLE T ALTER F G money", "ALTER TABLE T: ALTER F->G 18"},
      {"ALTER TABLE T ALTER DATE DATE DATE", "ALTER TABLE T: ALTER DATE->DATE 3"},
      {"ALTER TABLE T ALTER X INTEGER\nDROP Y", "ALTER TABLE T: ALTER X->X 11; DROP Y"},
  });
}

TEST(SqlParser, TableNames) {
  ExpectTrees({
      {"SELECT * FROM \"EMP_PROS.KDT\"", "SELECT * FROM \"EMP_PROS.KDT\""},
      {"SELECT * FROM \"emp_pros.kdt\"", "SELECT * FROM \"emp_pros.kdt\""},
      {"SELECT * FROM \"emp_pros\"", "SELECT * FROM \"emp_pros\""},
      {"SELECT * FROM [EMP PROS.KDT]", "SELECT * FROM \"EMP PROS.KDT\""},
      {"SELECT * FROM \"C:\\KX8\\COMPANY\\A01\\EMP_PROS.KDT\"",
       "SELECT * FROM \"C:\\KX8\\COMPANY\\A01\\EMP_PROS.KDT\""},
      {"DROP TABLE \"TEMP_1.KDT\"", "DROP TABLE \"TEMP_1.KDT\""},
      {"drop table temp_1;", "DROP TABLE temp_1"},
      {"DROP INDEX \"FW_LEVY.KDT\".\"  LINE\"", "DROP INDEX \"FW_LEVY.KDT\".[  LINE]"},
      {"drop index fw_levy.primary", "DROP INDEX fw_levy.[primary]"},
      {"CREATE INDEX PAYCODE ON \"RPTRX.KDT\" ([EMPCODE], \"PAY CODE\")",
       "CREATE INDEX [PAYCODE] ON \"RPTRX.KDT\" (EMPCODE, PAY CODE)"},
      // Aliases, with and without AS, and words that end the table list.
      {"SELECT E.*, P.EMP_CODE FROM EMPLOYEE E, \"EMP_PROS.KDT\" AS P WHERE E.EMP_NO = P.EMP_CODE",
       "SELECT E.*, P.EMP_CODE FROM EMPLOYEE AS E, \"EMP_PROS.KDT\" AS P WHERE (= E.EMP_NO "
       "P.EMP_CODE)"},
      {"SELECT * FROM A \"x y\" ORDER BY 1", "SELECT * FROM A AS x y ORDER BY 1"},
      {"SELECT * FROM T GROUP BY A", "SELECT * FROM T GROUP BY A"},
      {"UPDATE A SET X = B.Y FROM B b1, C WHERE A.K = b1.K",
       "UPDATE A SET X=B.Y FROM B AS b1, C WHERE (= A.K b1.K)"},
  });
}

TEST(SqlParser, SelectClauses) {
  ExpectTrees({
      {"SELECT DEPT, COUNT(*) AS N, SUM(PAY * 2) \"Total Pay\", MAX(DISTINCT PAY) [Top] FROM EMP "
       "WHERE PAY > 0 AND NOT DEPT IN ('A', 'B') GROUP BY DEPT, YEAR(HIRED) HAVING COUNT(*) > 1 "
       "ORDER BY 2 DESC, DEPT ASC, 3",
       "SELECT DEPT, COUNT(*) AS N, SUM((* PAY 2)) AS Total Pay, MAX(DISTINCT PAY) AS Top FROM EMP "
       "WHERE (AND (> PAY 0) (NOT (IN DEPT 'A' 'B'))) GROUP BY DEPT, YEAR(HIRED) "
       "HAVING (> COUNT(*) 1) ORDER BY 2 DESC, DEPT, 3"},
      {"SELECT *, A.* FROM A", "SELECT *, A.* FROM A"},
      {"SELECT [X Y].* FROM [X Y]", "SELECT X Y.* FROM \"X Y\""},
      {"SELECT A FROM T;", "SELECT A FROM T"},
      {"SELECT A FROM T WHERE B = 1 ;  -- done\n", "SELECT A FROM T WHERE (= B 1)"},
      {"  /* lead */ SELECT A\r\nFROM T\r\nWHERE B LIKE 'X%'\r\n",
       "SELECT A FROM T WHERE (LIKE B 'X%')"},
  });
}

TEST(SqlParser, InsertAndCreate) {
  ExpectTrees({
      {"INSERT INTO T VALUES (1, 'a', NULL)", "INSERT INTO T VALUES (1, 'a', NULL)"},
      {"insert into \"CODE.KDT\" (CATEGORY, \"DESC\") values ('RE', :V), ('OC', -2.5)",
       "INSERT INTO \"CODE.KDT\" (CATEGORY, DESC) VALUES ('RE', :V), ('OC', -2.5)"},
      {"INSERT INTO T (A, B) SELECT X, Y FROM U WHERE Z = 1",
       "INSERT INTO T (A, B) SELECT X, Y FROM U WHERE (= Z 1)"},
      {"INSERT INTO T (A, B) SELECT * FROM U", "INSERT INTO T (A, B) SELECT * FROM U"},
      {"INSERT INTO T SELECT DISTINCT A FROM U", "INSERT INTO T SELECT DISTINCT A FROM U"},
      {"CREATE TABLE \"mcompany.KDT\" (COMPANY_CODE char(10), MERGE char(1), \"DATE\" date, NO "
       "AutoInc)",
       "CREATE TABLE \"mcompany.KDT\" (COMPANY_CODE 4(10), MERGE 4(1), DATE 3, NO 15)"},
  });
  const Statement st = ParseStatement("INSERT INTO T SELECT A FROM U");
  ASSERT_TRUE(std::get<Insert>(st.body).select != nullptr);
  EXPECT_TRUE(std::get<Insert>(st.body).rows.empty());
}

TEST(SqlParser, AlterClauseSeparators) {
  ExpectTrees({
      {"ALTER TABLE T ADD A char(1), DROP B,ALTER C D INTEGER",
       "ALTER TABLE T: ADD A 4(1); DROP B; ALTER C->D 11"},
      {"ALTER TABLE T\nADD A char(1)\nDROP B\n", "ALTER TABLE T: ADD A 4(1); DROP B"},
      {"ALTER TABLE T ADD A char(1),\r\n   DROP B", "ALTER TABLE T: ADD A 4(1); DROP B"},
      {"ALTER TABLE T ADD A char(1) -- widen later\nDROP B", "ALTER TABLE T: ADD A 4(1); DROP B"},
      {"ALTER TABLE T ADD A char(1) /* x */\n /* y */ DROP B", "ALTER TABLE T: ADD A 4(1); DROP B"},
      {"ALTER TABLE T ADD A INTEGER\r\nALTER B B INTEGER;",
       "ALTER TABLE T: ADD A 11; ALTER B->B 11"},
  });
}

TEST(SqlParser, ParametersAndText) {
  const std::string text = "UPDATE T SET A = :Grade, B = ? WHERE C = :GRADE OR D = :other OR E = ?";
  const Statement st = ParseStatement(text);
  EXPECT_EQ(st.params, (std::vector<std::string>{"Grade", "", "other", ""}));
  EXPECT_EQ(st.text, text);
  EXPECT_TRUE(ParseStatement("SELECT * FROM T").params.empty());
  // Parameters in every place an expression stands.
  EXPECT_EQ(ParseStatement("INSERT INTO T VALUES (:A, :B)").params,
            (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(ParseStatement("SELECT :X FROM T GROUP BY A HAVING SUM(B) > :Y ORDER BY :Z").params,
            (std::vector<std::string>{"X", "Y", "Z"}));
}

// Positions kept in the tree for the executors' messages.
TEST(SqlParser, Offsets) {
  {
    const Statement st =
        ParseStatement("ALTER TABLE \"GLLINE.KDT\"\r\nadd column ITEMTEXT char(30), DROP X");
    const auto& alter = std::get<AlterTable>(st.body);
    EXPECT_EQ(alter.table.offset, 12u);
    ASSERT_EQ(alter.clauses.size(), 2u);
    EXPECT_EQ(alter.clauses[0].offset, 26u);
    EXPECT_EQ(alter.clauses[0].type.offset, 46u);
    EXPECT_EQ(alter.clauses[1].offset, 56u);
  }
  {
    const Statement st = ParseStatement("UPDATE T SET A = 1, \"B\" = 2 FROM U WHERE X = 1");
    const auto& update = std::get<Update>(st.body);
    EXPECT_EQ(update.table.offset, 7u);
    ASSERT_EQ(update.sets.size(), 2u);
    EXPECT_EQ(update.sets[0].offset, 13u);
    EXPECT_EQ(update.sets[1].offset, 20u);
    EXPECT_EQ(update.from.at(0).offset, 33u);
    EXPECT_EQ(update.where->offset, 43u);  // the "=" of X = 1
  }
}

TEST(SqlParser, SyntaxErrors) {
  struct ErrorCase {
    std::string text;
    std::string message;  // without " at position N"
    size_t position;
    uint32_t native;
  };
  const std::vector<ErrorCase> cases = {
      {"", "Expected ALTER, CREATE, DELETE, DROP, INSERT, SELECT or UPDATE but found end of text",
       1, 2115},
      {"GRANT ALL ON T",
       "Expected ALTER, CREATE, DELETE, DROP, INSERT, SELECT or UPDATE but found \"GRANT\"", 1,
       2115},
      // The column upgrade's "AS" statement for a missing column: the first
      // line alone.
      {"ALTER TABLE \"CODE.KDT\"\r\n", "ALTER TABLE needs at least one ADD, ALTER or DROP clause",
       25, 2115},
      {"ALTER TABLE \"X.KDT\"", "ALTER TABLE needs at least one ADD, ALTER or DROP clause", 20,
       2115},
      {"ALTER TABLE \"X.KDT\";", "ALTER TABLE needs at least one ADD, ALTER or DROP clause", 20,
       2115},
      {"ALTER TABLE T RENAME A", "Expected ADD, ALTER or DROP but found \"RENAME\"", 15, 2115},
      {"ALTER TABLE T ADD A char(10),", "Expected ADD, ALTER or DROP but found end of text", 30,
       2115},
      {"ALTER TABLE T ADD A char(1) DROP B",
       "ALTER TABLE clauses must be separated by \",\" or a line break", 29, 2115},
      {"ALTER TABLE T ADD A varchar2(10)", "Unknown type name VARCHAR2", 21, 2115},
      {"ALTER TABLE T ADD A char", "Expected \"(\" but found end of text", 25, 2115},
      {"ALTER TABLE T ADD A char(0)", "Invalid length 0", 26, 2115},
      {"ALTER TABLE T ADD A char(99999999999)", "Invalid length 99999999999", 26, 2115},
      {"ALTER TABLE T ADD A char(2.5)", "Expected a length but found \"2.5\"", 26, 2115},
      {"ALTER TABLE T ADD A INTEGER(4)", "Type INTEGER takes no length", 28, 2115},
      {"ALTER TABLE T ADD \"A\" \"char\"(1)", "Expected a type name but found \"char\"", 23, 2115},
      {"ALTER TABLE T ALTER COLUMN A B", "Expected a type name but found end of text", 31, 2115},
      {"ALTER TABLE T DROP COLUMN A B", "Unexpected \"B\" after the end of the statement", 29,
       2115},
      {"ALTER T ADD A INTEGER", "Expected TABLE but found \"T\"", 7, 2115},
      {"UPDATE T SET A = 1 WHERE", "Expected an expression but found end of text", 25, 2115},
      {"UPDATE T SET A 1", "Expected \"=\" but found \"1\"", 16, 2115},
      {"UPDATE T A = 1", "Expected SET but found \"A\"", 10, 2115},
      {"UPDATE T SET A = B FROM", "Expected a table name but found end of text", 24, 2115},
      {"UPDATE T SET T.A = 1", "Expected \"=\" but found \".\"", 15, 2115},
      {"SELECT * FROM", "Expected a table name but found end of text", 14, 2115},
      {"SELECT A B C FROM T", "Expected FROM but found \"C\"", 12, 2115},
      {"SELECT A", "Expected FROM but found end of text", 9, 2115},
      {"SELECT * FROM T ORDER X", "Expected BY but found \"X\"", 23, 2115},
      {"SELECT * FROM T WHERE A IN (SELECT B FROM U)", "Subqueries are not supported", 29, 2115},
      {"SELECT * FROM T WHERE A = 'abc", "Unterminated string literal", 27, 2115},
      {"SELECT FOO(A) FROM T", "Unknown function FOO", 8, 2115},
      {"SELECT * FROM T;;", "Unexpected \";\" after the end of the statement", 17, 2115},
      {"SELECT * FROM T INNER JOIN U ON A = B",
       "Unexpected \"INNER\" after the end of the statement", 17, 2115},
      {"DELETE T WHERE A = 1", "Expected FROM but found \"T\"", 8, 2115},
      {"INSERT INTO T (A, B) VALUES (1)", "Wrong number of values in INSERT row: 1 instead of 2",
       29, 2115},
      {"INSERT INTO T VALUES (1, 2), (3)", "Wrong number of values in INSERT row: 1 instead of 2",
       30, 2115},
      {"INSERT INTO T (A, B) SELECT X FROM U",
       "Wrong number of columns in INSERT ... SELECT: 1 instead of 2", 22, 2115},
      {"INSERT INTO T (A) DEFAULT VALUES", "Expected VALUES or SELECT but found \"DEFAULT\"", 19,
       2115},
      {"INSERT INTO T VALUES ()", "Expected an expression but found \")\"", 23, 2115},
      {"CREATE UNIQUE TABLE T (A INTEGER)", "Expected INDEX but found \"TABLE\"", 15, 2115},
      {"CREATE VIEW V", "Expected INDEX, TABLE or PROCEDURE but found \"VIEW\"", 8, 2115},
      {"CREATE INDEX X ON T ()", "Expected a column name but found \")\"", 22, 2115},
      {"CREATE INDEX X ON T (A DESC)", "Expected \")\" but found \"DESC\"", 24, 2115},
      {"CREATE TABLE T (A INTEGER, B)", "Expected a type name but found \")\"", 29, 2115},
      {"DROP INDEX FW_LEVY", "Expected \".\" but found end of text", 19, 2115},
      {"DROP VIEW V", "Expected INDEX or TABLE but found \"VIEW\"", 6, 2115},
      {"CREATE PROCEDURE P( A CHAR(10) FUNCTION F IN LIBRARY \"x\"",
       "Expected \")\" but found end of text", 57, 2115},
      {"CREATE PROCEDURE P( A CHAR(10) ) FUNCTION F IN LIBRARY X",
       "Expected a library path but found \"X\"", 56, 2115},
      {"CREATE PROCEDURE P( A CHAR(10) ) F IN LIBRARY \"x\"", "Expected FUNCTION but found \"F\"",
       34, 2115},
      // Nesting beyond the expression parser's bound: the 201st "(".
      {"SELECT " + std::string(300, '(') + "1" + std::string(300, ')') + " FROM T",
       "Expression too deeply nested", 208, 2116},
  };
  for (const ErrorCase& c : cases) {
    try {
      ParseStatement(c.text);
      ADD_FAILURE() << "no error for: " << c.text;
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), uint32_t{DBE_SQL_ERROR}) << c.text;
      EXPECT_EQ(std::string(e.what()), "Error 7200: " + c.message + " at position " +
                                           std::to_string(c.position) +
                                           ". NativeError = " + std::to_string(c.native) + ";")
          << c.text;
    }
  }
}

TEST(SqlParser, FormatSqlError) {
  EXPECT_EQ(FormatSqlError("Unknown table X", 5041),
            "Error 7200: Unknown table X. NativeError = 5041;");
  EXPECT_EQ(FormatSqlError("Duplicate column A.", 2130),
            "Error 7200: Duplicate column A. NativeError = 2130;");
}

}  // namespace
}  // namespace dbe::sql
