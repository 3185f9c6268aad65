#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "dbe/dbe.h"
#include "expr/convert.h"
#include "expr/eval.h"
#include "expr/lexer.h"
#include "expr/parser.h"

namespace dbe::expr {
namespace {

// A row of named columns that resolves its own names. A name "T.C" is the
// column C of table T and answers only qualified references.
class TestRow : public ColumnResolver, public RowAccess {
 public:
  TestRow(std::vector<std::pair<std::string, Value>> columns, std::vector<Value> params = {})
      : columns_(std::move(columns)), params_(std::move(params)) {}

  int Resolve(std::string_view qualifier, std::string_view name) const override {
    const std::string wanted =
        qualifier.empty() ? std::string(name) : std::string(qualifier) + "." + std::string(name);
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (EqualsNoCase(columns_[i].first, wanted)) return static_cast<int>(i);
    }
    return -1;
  }
  Value Column(int id) const override { return columns_.at(static_cast<size_t>(id)).second; }
  Value Param(int index) const override {
    return static_cast<size_t>(index) < params_.size() ? params_[static_cast<size_t>(index)]
                                                       : Value::Null();
  }

 private:
  std::vector<std::pair<std::string, Value>> columns_;
  std::vector<Value> params_;
};

// How a value shows in the tables below: NULL, TRUE, Int 5, Double 1.5,
// Money 0.3000 (always four decimals), 'text', Date 2012-01-31, ...
std::string Show(const Value& v) {
  switch (v.kind) {
    case ValueKind::Null:
      return "NULL";
    case ValueKind::Bool:
      return v.b ? "TRUE" : "FALSE";
    case ValueKind::Int:
      return "Int " + std::to_string(v.i);
    case ValueKind::Double:
      return "Double " + ToText(v);
    case ValueKind::Money: {
      const uint64_t abs = v.i < 0 ? 0 - static_cast<uint64_t>(v.i) : static_cast<uint64_t>(v.i);
      char buf[64];
      std::snprintf(buf, sizeof buf, "Money %s%llu.%04llu", v.i < 0 ? "-" : "",
                    static_cast<unsigned long long>(abs / 10000),
                    static_cast<unsigned long long>(abs % 10000));
      return buf;
    }
    case ValueKind::String:
      return "'" + v.s + "'";
    case ValueKind::Date:
      return "Date " + ToText(v);
    case ValueKind::Time:
      return "Time " + ToText(v);
    case ValueKind::Timestamp:
      return "Timestamp " + ToText(v);
    case ValueKind::Binary:
      return "Binary " + v.s;
  }
  return "?";
}

Value Eval(const std::string& text, const TestRow& row, uint32_t code = DBE_EXPRESSION_ERROR) {
  NodePtr node = ParseExpression(text, code);
  Bind(*node, row, code);
  return Evaluate(*node, row);
}

// The error a call throws, as "code: text"; "no error" when it throws none.
template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return std::to_string(e.code()) + ": " + e.what();
  }
  return "no error";
}

std::string ShowTokens(const std::string& text) {
  static const char* const kNames[] = {
      "End", "Name", "Quoted", "String", "Int", "Dec", "Param", "=", "<>", "<", "<=", ">",
      ">=",  "+",    "-",      "*",      "/",   "%",   "||",    "(", ")",  ",", ".",  ";"};
  std::string out;
  for (const Token& t : Tokenize(text, DBE_EXPRESSION_ERROR)) {
    if (t.kind == TokenKind::End) break;
    if (!out.empty()) out += ' ';
    out += kNames[static_cast<int>(t.kind)];
    if (t.kind == TokenKind::Name || t.kind == TokenKind::QuotedName ||
        t.kind == TokenKind::String || t.kind == TokenKind::Integer ||
        t.kind == TokenKind::Decimal || t.kind == TokenKind::Param) {
      out += "[" + t.text + "]";
    }
    out += "@" + std::to_string(t.offset);
  }
  return out;
}

TEST(LexerTest, Tokens) {
  const struct {
    const char* text;
    const char* tokens;
  } kCases[] = {
      {"database1='ALLW'", "Name[database1]@0 =@9 String[ALLW]@10"},
      {"a<>b != c<=d>=e<f>g",
       "Name[a]@0 <>@1 Name[b]@3 <>@5 Name[c]@8 <=@9 Name[d]@11 >=@12 Name[e]@14 <@15 Name[f]@16 "
       ">@17 Name[g]@18"},
      {"1+2-3*4/5%6||'x'",
       "Int[1]@0 +@1 Int[2]@2 -@3 Int[3]@4 *@5 Int[4]@6 /@7 Int[5]@8 %@9 Int[6]@10 ||@11 "
       "String[x]@13"},
      {"f(a, b).c;", "Name[f]@0 (@1 Name[a]@2 ,@3 Name[b]@5 )@6 .@7 Name[c]@8 ;@9"},
      {"'it''s' ''", "String[it's]@0 String[]@8"},
      {"12 1.5 .5 1. 1e3 2.5E-3 7e",
       "Int[12]@0 Dec[1.5]@3 Dec[.5]@7 Dec[1.]@10 Dec[1e3]@13 Dec[2.5E-3]@17 Int[7]@24 Name[e]@25"},
      // Quoted and bracketed names keep blanks and are never keywords.
      {"\"  SCHEME_CODE2\" [PRIMARY] \"a\"\"b\" [x]]y]",
       "Quoted[  SCHEME_CODE2]@0 Quoted[PRIMARY]@17 Quoted[a\"b]@27 Quoted[x]y]@34"},
      {"FW_LEVY.[PRIMARY]", "Name[FW_LEVY]@0 .@7 Quoted[PRIMARY]@8"},
      {"\"EMP_PROS.KDT\"", "Quoted[EMP_PROS.KDT]@0"},
      {"GRADE =:GRADE and ? = ?",
       "Name[GRADE]@0 =@6 Param[GRADE]@7 Name[and]@14 Param[]@18 =@20 Param[]@22"},
      {"T.5", "Name[T]@0 .@1 Int[5]@2"},
      {"a -- comment\n+ /* block\n */ b", "Name[a]@0 +@13 Name[b]@28"},
      {"  ", ""},
      {"_a1$#@ #b @c", "Name[_a1$#@]@0 Name[#b]@7 Name[@c]@10"},
      {"SELECT\t*\r\nFROM", "Name[SELECT]@0 *@7 Name[FROM]@10"},
      {"ALTER TABLE \"CLAIMGRP.KDT\" \nDROP column \"DESC\"",
       "Name[ALTER]@0 Name[TABLE]@6 Quoted[CLAIMGRP.KDT]@12 Name[DROP]@28 Name[column]@33 "
       "Quoted[DESC]@40"},
      {"p(  err_no CHAR(12) OUTPUT )  IN LIBRARY \"C:\\k\\r.kep\" ",
       "Name[p]@0 (@1 Name[err_no]@4 Name[CHAR]@11 (@15 Int[12]@16 )@18 Name[OUTPUT]@20 )@27 "
       "Name[IN]@30 "
       "Name[LIBRARY]@33 Quoted[C:\\k\\r.kep]@41"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ShowTokens(c.text), c.tokens) << c.text;
  }
  // Keyword tests ignore letter case, and only for plain names.
  const std::vector<Token> tokens = Tokenize("wHeRe \"WHERE\"", DBE_SQL_ERROR);
  EXPECT_TRUE(tokens[0].Is("WHERE"));
  EXPECT_FALSE(tokens[1].Is("WHERE"));
  EXPECT_EQ(tokens[1].quote, '"');
  EXPECT_EQ(tokens[2].kind, TokenKind::End);
  EXPECT_EQ(tokens[2].offset, 13u);
}

TEST(LexerTest, ErrorsNamePosition) {
  const struct {
    const char* text;
    const char* error;
  } kCases[] = {
      {"NAME = 'abc", "Unterminated string literal at position 8"},
      {"x = \"abc", "Unterminated quoted name at position 5"},
      {"[abc", "Unterminated bracketed name at position 1"},
      {"a /* b", "Unterminated comment at position 3"},
      {"a = $x", "Unexpected character \"$\" at position 5"},
      {"a ! b", "Unexpected character \"!\" at position 3"},
      {"a | b", "Unexpected character \"|\" at position 3"},
      {"a = : b", "Expected a parameter name after \":\" at position 5"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ErrorOf([&] { Tokenize(c.text, DBE_SQL_ERROR); }), "7200: " + std::string(c.error))
        << c.text;
  }
}

TEST(ParserTest, Structure) {
  const struct {
    const char* text;
    const char* tree;
  } kCases[] = {
      {"database1='ALLW'", "(= database1 'ALLW')"},
      {"EMP_NO = 'A001' AND NOT (SALARY > 100 OR X IS NULL)",
       "(AND (= EMP_NO 'A001') (NOT (OR (> SALARY 100) (IS NULL X))))"},
      // Precedence: OR < AND < NOT < comparison < + - || < * / % < sign.
      {"a OR b AND c", "(OR a (AND b c))"},
      {"NOT a = b AND c", "(AND (NOT (= a b)) c)"},
      {"1 + 2 * 3 - 4 / 5 % 6", "(- (+ 1 (* 2 3)) (% (/ 4 5) 6))"},
      {"a || b + c * d", "(+ (|| a b) (* c d))"},
      {"-a * -2 - -1.5 + +3", "(+ (- (* (- a) -2) -1.5) 3)"},
      {"- - 5", "5"},
      {"a != b", "(<> a b)"},
      {"x IS NOT NULL", "(IS NOT NULL x)"},
      {"x NOT LIKE 'A%' ESCAPE '!'", "(NOT LIKE x 'A%' '!')"},
      {"x IN (1, 2, 'a')", "(IN x 1 2 'a')"},
      {"x NOT IN (1)", "(NOT IN x 1)"},
      {"x BETWEEN 1 AND 2 AND y NOT BETWEEN a + 1 AND b",
       "(AND (BETWEEN x 1 2) (NOT BETWEEN y (+ a 1) b))"},
      {"CASE WHEN a = 1 THEN 'x' WHEN b THEN 'y' ELSE 'z' END",
       "(CASE (WHEN (= a 1) 'x') (WHEN b 'y') (ELSE 'z'))"},
      {"CASE a WHEN 1 THEN 2 END", "(CASE a (WHEN 1 2))"},
      {"CAST(a AS CHAR(10))", "(CAST a CHAR(10))"},
      {"CONVERT(a, SQL_INTEGER)", "(CAST a INTEGER)"},
      {"cast(a as numeric(10, 2))", "(CAST a DOUBLE)"},
      {"COUNT(*) + count(DISTINCT x) + Sum(x)", "(+ (+ COUNT(*) COUNT(DISTINCT x)) SUM(x))"},
      {"SUBSTRING(a, 1, 2)", "SUBSTRING(a, 1, 2)"},
      {"NOW()", "NOW()"},
      {"t.a = \"T 2\".[b c]", "(= t.a T 2.b c)"},
      {"NULL IS NULL OR TRUE OR false", "(OR (OR (IS NULL NULL) TRUE) FALSE)"},
      {"DATE '2012-01-31' < TIMESTAMP '2012-01-31 10:00' OR TIME '10:30' > x",
       "(OR (< DATE '2012-01-31' TIMESTAMP '2012-01-31 10:00:00') (> TIME '10:30:00' x))"},
      {":a = :A OR ? = ? OR :b = 1", "(OR (OR (= :a :A) (= ?1 ?2)) (= :b 1))"},
      {"99999999999999999999", "1e+20"},
      // Words that are keywords elsewhere name columns here.
      {"CURRENT = 0 AND NEW > DESC AND DATE < USER AND YEAR = OPTION AND LOCK <> FROM AND TO = "
       "TYPE "
       "AND MONTH = CODE AND SELECT = WHERE AND ORDER = GROUP AND KEY = INDEX AND DISTINCT = ALL",
       "(AND (AND (AND (AND (AND (AND (AND (AND (AND (AND (= CURRENT 0) (> NEW DESC)) (< DATE "
       "USER)) "
       "(= YEAR OPTION)) (<> LOCK FROM)) (= TO TYPE)) (= MONTH CODE)) (= SELECT WHERE)) (= ORDER "
       "GROUP)) "
       "(= KEY INDEX)) (= DISTINCT ALL))"},
      {"YEAR(d) = YEAR", "(= YEAR(d) YEAR)"},
  };
  for (const auto& c : kCases) {
    NodePtr node = ParseExpression(c.text);
    EXPECT_EQ(Dump(*node), c.tree) << c.text;
  }
}

TEST(ParserTest, ErrorsNameProblemAndPosition) {
  const struct {
    const char* text;
    const char* error;
  } kCases[] = {
      {"", "Expected an expression but found end of text at position 1"},
      {"EMP_NO = ", "Expected an expression but found end of text at position 10"},
      {"a = 'x' AND", "Expected an expression but found end of text at position 12"},
      {"a = AND b", "Expected an expression but found \"AND\" at position 5"},
      {"(a = 1", "Expected \")\" but found end of text at position 7"},
      {"a = 1)", "Unexpected \")\" after the expression at position 6"},
      {"a b", "Unexpected \"b\" after the expression at position 3"},
      {"a = 1; b", "Unexpected \";\" after the expression at position 6"},
      {"a IS 1", "Expected NULL but found \"1\" at position 6"},
      {"a IN 1", "Expected \"(\" but found \"1\" at position 6"},
      {"a IN ()", "Expected an expression but found \")\" at position 7"},
      {"a IN (SELECT x FROM t)", "Subqueries are not supported at position 7"},
      {"a BETWEEN 1 OR 2", "Expected AND but found \"OR\" at position 13"},
      {"FOO(1)", "Unknown function FOO at position 1"},
      {"SUBSTRING('a')", "Wrong number of arguments for SUBSTRING at position 1"},
      {"NOW(1)", "Wrong number of arguments for NOW at position 1"},
      {"SUM(*)", "Expected an expression but found \"*\" at position 5"},
      {"UPPER(DISTINCT a)", "DISTINCT is only allowed in aggregate functions at position 7"},
      {"CASE END", "Expected an expression but found \"END\" at position 6"},
      {"CASE x END", "Expected WHEN but found \"END\" at position 8"},
      {"CASE WHEN a THEN b", "Expected END but found end of text at position 19"},
      {"CAST(a AS BLOB)", "Unknown type BLOB at position 11"},
      {"CAST(a, CHAR)", "Expected AS but found \",\" at position 7"},
      {"DATE '2012-02-30'", "Invalid DATE literal '2012-02-30' at position 6"},
      {"t.", "Expected a column name but found end of text at position 3"},
      {"t.5", "Expected a column name but found \"5\" at position 3"},
      {"*", "Expected an expression but found \"*\" at position 1"},
      {"WHEN", "Expected an expression but found \"WHEN\" at position 1"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ErrorOf([&] { ParseExpression(c.text); }), "5061: " + std::string(c.error)) << c.text;
  }
  // The caller's code: SQL uses its own number.
  EXPECT_EQ(ErrorOf([] { ParseExpression("a =", DBE_SQL_ERROR); }),
            "7200: Expected an expression but found end of text at position 4");
}

TEST(ParserTest, DeepNestingIsRefusedNotCrashed) {
  const std::string parens = std::string(300, '(') + "1" + std::string(300, ')');
  EXPECT_NE(ErrorOf([&] { ParseExpression(parens); }).find("Expression too deeply nested"),
            std::string::npos);
  std::string nots;
  for (int i = 0; i < 5000; ++i) nots += "NOT ";
  EXPECT_NE(ErrorOf([&] { ParseExpression(nots + "a"); }).find("too deeply nested"),
            std::string::npos);
  std::string chain = "a";
  for (int i = 0; i < 5000; ++i) chain += " OR a";
  EXPECT_NE(ErrorOf([&] { ParseExpression(chain); }).find("too deeply nested"), std::string::npos);
  // Reasonable sizes pass.
  const std::string fine = std::string(50, '(') + "1" + std::string(50, ')');
  EXPECT_EQ(Dump(*ParseExpression(fine)), "1");
  std::string list = "a";
  for (int i = 0; i < 500; ++i) list += " OR a";
  TestRow row({{"A", Value::Bool(false)}});
  EXPECT_EQ(Show(Eval(list, row)), "FALSE");
}

// The SQL parser reads statement words itself and hands every expression
// position to ParseExpression(), which stops before what is not its own.
TEST(ParserTest, StopsWhereTheStatementGoesOn) {
  const struct {
    const char* text;
    const char* tree;
    const char* next;
  } kCases[] = {
      {"SUM(NEW_SALARY) AS NEW FROM EMP_PROS", "SUM(NEW_SALARY)", "AS"},
      {"ORI_OWWAGE=CPFOWWAGE,ORI_AWWAGE=CPFAWWAGE  WHERE ORI_OWWAGE IS NULL",
       "(= ORI_OWWAGE CPFOWWAGE)", ","},
      {"CPFAWWAGE  WHERE ORI_OWWAGE IS NULL", "CPFAWWAGE", "WHERE"},
      {"COST_CENTRE_CODE FROM EMPLOYEE \nWHERE EMPLOYEE.EMP_NO=EMP_PROS.EMP_CODE  ",
       "COST_CENTRE_CODE", "FROM"},
      {"BENEFIT_SCHEME  FROM EMPLOYEE GROUP BY BENEFIT_SCHEME", "BENEFIT_SCHEME", "FROM"},
      {"a + 1 DESC, b", "(+ a 1)", "DESC"},
      {"x = 1 ORDER BY x", "(= x 1)", "ORDER"},
      {"x THEN y", "x", "THEN"},
      {"x NOT NULL", "x", "NOT"},
      {"YEAR,CLASS)", "YEAR", ","},
  };
  for (const auto& c : kCases) {
    Parser parser(c.text, DBE_SQL_ERROR);
    NodePtr node = parser.ParseExpression();
    EXPECT_EQ(Dump(*node), c.tree) << c.text;
    EXPECT_EQ(parser.Peek().text, c.next) << c.text;
  }
  // Parameters keep one number per name across the expressions of a
  // statement.
  Parser parser("GRADE =:GRADE  WHERE GRADE IS NULL OR :grade = ? OR ? = :Other", DBE_SQL_ERROR);
  parser.ParseExpression();
  parser.ExpectKeyword("where");
  NodePtr where = parser.ParseExpression();
  EXPECT_TRUE(parser.AtEnd());
  EXPECT_EQ(parser.ParamNames(), (std::vector<std::string>{"GRADE", "", "", "Other"}));
  EXPECT_EQ(Dump(*where), "(OR (OR (IS NULL GRADE) (= :grade ?1)) (= ?2 :Other))");
}

TEST(BindTest, ResolvesColumnsOnceAndReportsUnknownOnes) {
  TestRow row({{"EMP_NO", Value::String("A001")}, {"EMPLOYEE.EMP_NO", Value::String("B002")}});
  NodePtr node = ParseExpression("emp_no || Employee.Emp_No");
  Bind(*node, row, DBE_EXPRESSION_ERROR);
  EXPECT_EQ(node->args[0]->column_id, 0);
  EXPECT_EQ(node->args[1]->column_id, 1);
  EXPECT_EQ(Show(Evaluate(*node, row)), "'A001B002'");

  EXPECT_EQ(ErrorOf([&] { Eval("EMP_NO = 'A' AND SALARY > 1", row); }),
            "5061: Column not found: column \"SALARY\"");
  EXPECT_EQ(ErrorOf([&] { Eval("EMP_PROS.EMP_CODE = 'A'", row, DBE_SQL_ERROR); }),
            "7200: Column not found: column \"EMP_PROS.EMP_CODE\"");
  // Columns inside function arguments, CASE and IN lists are bound too.
  EXPECT_EQ(ErrorOf([&] { Eval("CASE WHEN 1 = 1 THEN UPPER(NOPE) END", row); }),
            "5061: Column not found: column \"NOPE\"");
  EXPECT_EQ(ErrorOf([&] { Eval("'A' IN (EMP_NO, NOPE2)", row); }),
            "5061: Column not found: column \"NOPE2\"");
}

// A fixed row for the evaluation table.
const TestRow& SampleRow() {
  static const TestRow row({
      {"NAME", Value::String("SMITH")},
      {"LOWER_NAME", Value::String("smith")},
      {"BLANKS", Value::String("  lead")},
      {"EMPTY", Value::Null()},
      {"SALARY", Value::Money(12345678)},  // 1234.5678
      {"TENTH", Value::Money(1000)},
      {"FIFTH", Value::Money(2000)},
      {"CENTS", Value::Money(5)},          // 0.0005
      {"NEGMONEY", Value::Money(-12345)},  // -1.2345
      {"WIDTH", Value::String("20")},
      {"NUM", Value::Int(20)},
      {"BIG", Value::Int(INT64_MAX)},
      {"RATE", Value::Double(1.1)},
      {"HALF", Value::Double(0.5)},
      {"ZERO", Value::Int(0)},
      {"HIRED", Value::Date(DayNumber(2012, 1, 31))},
      {"STAMP", Value::Timestamp(DayNumber(2012, 1, 31) * kMsPerDay + 36000000)},
      {"CLOCK", Value::Time(37800000)},  // 10:30
      {"FLAG", Value::Bool(true)},
      {"NOFLAG", Value::Bool(false)},
      {"CURRENT", Value::Int(1)},
      {"DESC", Value::String("Description")},
      {"DATE", Value::Date(DayNumber(2000, 1, 1))},
      {"YEAR", Value::String("2012")},
      {"USER", Value::String("DBSYS")},
  });
  return row;
}

TEST(EvalTest, Table) {
  const struct {
    const char* text;
    const char* value;
  } kCases[] = {
      // Literals and columns.
      {"NAME", "'SMITH'"},
      {"'it''s'", "'it's'"},
      {"12", "Int 12"},
      {"1.5", "Double 1.5"},
      {"-2.5e1", "Double -25"},
      {".5 + 1.", "Double 1.5"},
      {"NULL", "NULL"},
      {"TRUE", "TRUE"},
      {"DATE '2012-01-31'", "Date 2012-01-31"},

      // Three-valued logic.
      {"EMPTY = 'X'", "NULL"},
      {"EMPTY <> 'X'", "NULL"},
      {"NOT (EMPTY = 'X')", "NULL"},
      {"EMPTY = 'X' AND 1 = 0", "FALSE"},
      {"EMPTY = 'X' AND 1 = 1", "NULL"},
      {"EMPTY = 'X' OR 1 = 1", "TRUE"},
      {"EMPTY = 'X' OR 1 = 0", "NULL"},
      {"NULL = NULL", "NULL"},
      {"EMPTY IS NULL", "TRUE"},
      {"NAME IS NULL", "FALSE"},
      {"NAME IS NOT NULL", "TRUE"},
      {"'   ' IS NULL", "TRUE"},
      {"NUM + EMPTY", "NULL"},
      {"NOT FLAG", "FALSE"},
      {"FLAG AND NOT NOFLAG", "TRUE"},

      // The empty value: '' equals an empty field.
      {"EMPTY = ''", "TRUE"},
      {"EMPTY = '   '", "TRUE"},
      {"'' = EMPTY", "TRUE"},
      {"EMPTY <> ''", "FALSE"},
      {"NAME = ''", "FALSE"},
      {"NAME <> ''", "TRUE"},
      {"NAME > ''", "TRUE"},
      {"EMPTY IN ('', 'A')", "TRUE"},
      {"EMPTY LIKE ''", "TRUE"},
      {"EMPTY LIKE '%'", "NULL"},

      // Character comparisons: trailing blanks ignored, case matters.
      {"NAME = 'SMITH   '", "TRUE"},
      {"NAME = 'Smith'", "FALSE"},
      {"NAME = ' SMITH'", "FALSE"},
      {"BLANKS = '  lead'", "TRUE"},
      {"NAME < 'SMITHS'", "TRUE"},
      {"NAME > 'SMIT'", "TRUE"},
      {"'a' > 'B'", "TRUE"},
      {"NAME <> LOWER_NAME", "TRUE"},
      {"NAME BETWEEN 'A' AND 'T'", "TRUE"},
      {"NAME NOT BETWEEN 'A' AND 'T'", "FALSE"},
      {"NAME IN ('JONES', 'SMITH ')", "TRUE"},
      {"NAME NOT IN ('JONES', 'BROWN')", "TRUE"},
      {"NAME IN ('JONES', EMPTY)", "NULL"},
      {"NAME NOT IN ('JONES', EMPTY)", "NULL"},
      {"NAME IN ('SMITH', EMPTY)", "TRUE"},

      // LIKE: case-sensitive, % any run, _ one character.
      {"NAME LIKE 'SM%'", "TRUE"},
      {"NAME LIKE 'sm%'", "FALSE"},
      {"NAME LIKE '%IT%'", "TRUE"},
      {"NAME LIKE 'S_ITH'", "TRUE"},
      {"NAME LIKE 'S_TH'", "FALSE"},
      {"NAME LIKE '%H'", "TRUE"},
      {"NAME LIKE '%%%'", "TRUE"},
      {"NAME LIKE 'SMITH  '", "TRUE"},
      {"NAME LIKE '%T%H%'", "TRUE"},
      {"NAME LIKE '%X%'", "FALSE"},
      {"NAME NOT LIKE 'J%'", "TRUE"},
      {"'50%' LIKE '50!%' ESCAPE '!'", "TRUE"},
      {"'500' LIKE '50!%' ESCAPE '!'", "FALSE"},
      {"'aXbXc' LIKE 'a%b%c'", "TRUE"},
      {"'abcabd' LIKE '%abd'", "TRUE"},
      {"NUM LIKE '2%'", "TRUE"},

      // Numbers of every kind meet.
      {"NUM = 20", "TRUE"},
      {"NUM = 20.0", "TRUE"},
      {"NUM = '20'", "TRUE"},
      {"WIDTH = 20", "TRUE"},
      {"WIDTH = 20.00", "TRUE"},
      {"WIDTH > 3", "TRUE"},
      {"WIDTH < 3", "FALSE"},
      {"NAME = 20", "FALSE"},
      {"SALARY = 1234.5678", "TRUE"},
      {"SALARY > 1234.56779", "TRUE"},
      {"SALARY < 1234.56781", "TRUE"},
      {"SALARY = '1234.5678'", "TRUE"},
      {"TENTH = 0.1", "TRUE"},
      {"RATE = 1.1", "TRUE"},
      {"TENTH * 11 = RATE", "TRUE"},
      {"HALF = 0.5", "TRUE"},
      {"NUM > RATE", "TRUE"},
      {"BIG > 9223372036854775806", "TRUE"},
      {"BIG = 9223372036854775807.0", "FALSE"},  // the double is 2^63

      // Integer arithmetic.
      {"7 + 3", "Int 10"},
      {"7 - 10", "Int -3"},
      {"7 * 3", "Int 21"},
      {"7 / 2", "Int 3"},
      {"-7 / 2", "Int -3"},
      {"7 % 3", "Int 1"},
      {"BIG + 1", "Double 9223372036854775808"},
      {"7 / 0", "NULL"},
      {"7 % 0", "NULL"},
      {"7.0 / 0", "NULL"},
      {"SALARY / 0", "NULL"},
      {"SALARY / ZERO", "NULL"},
      {"7 / 2.0", "Double 3.5"},
      {"0.1 + 0.2", "Double 0.30000000000000004"},
      {"NUM * RATE", "Double 22"},
      {"-NUM", "Int -20"},
      {"'5' + 2", "Int 7"},
      {"WIDTH * 3", "Int 60"},

      // Money stays exact.
      {"TENTH + FIFTH", "Money 0.3000"},
      {"TENTH + FIFTH = 0.3", "TRUE"},
      {"SALARY * 3", "Money 3703.7034"},
      {"3 * SALARY", "Money 3703.7034"},
      {"SALARY + 1", "Money 1235.5678"},
      {"SALARY - SALARY", "Money 0.0000"},
      {"SALARY / 2", "Money 617.2839"},
      {"SALARY / 3", "Money 411.5226"},
      {"CENTS / 2", "Money 0.0003"},        // 0.00025 rounds away from zero
      {"NEGMONEY / 2", "Money -0.6173"},    // -0.61725 likewise
      {"SALARY * 1.1", "Money 1358.0246"},  // 1358.02458
      {"SALARY * RATE", "Money 1358.0246"},
      {"CENTS * 0.5", "Money 0.0003"},  // 0.00025: the tie goes away from zero
      {"NEGMONEY * 0.5", "Money -0.6173"},
      {"SALARY + 0.00005", "Money 1234.5679"},
      {"SALARY - 0.1", "Money 1234.4678"},
      {"0.1 - SALARY", "Money -1234.4678"},
      {"SALARY / 0.5", "Money 2469.1356"},
      {"SALARY * SALARY", "Money 1524157.6528"},  // 1524157.65279684
      {"SALARY / SALARY", "Double 1"},
      {"1.5 / TENTH", "Double 15"},
      {"SALARY % 1000", "Money 234.5678"},
      {"-SALARY", "Money -1234.5678"},
      {"CAST('1234.56785' AS MONEY)", "Money 1234.5679"},
      {"CAST(2.5 AS MONEY)", "Money 2.5000"},

      // Text.
      {"NAME + ', ' + LOWER_NAME", "'SMITH, smith'"},
      {"NAME || 1", "'SMITH1'"},
      {"NAME + EMPTY", "'SMITH'"},
      {"EMPTY || EMPTY", "NULL"},
      {"'A ' + 'B'", "'A B'"},

      // Dates.
      {"HIRED = '2012-01-31'", "TRUE"},
      {"HIRED = '20120131'", "TRUE"},
      {"HIRED = '01/31/2012'", "TRUE"},
      {"HIRED = '2012/1/31'", "TRUE"},
      {"HIRED < '2012-02-01'", "TRUE"},
      {"'2012-02-01' > HIRED", "TRUE"},
      {"HIRED = 'not a date'", "NULL"},
      {"HIRED = DATE '2012-01-31'", "TRUE"},
      {"HIRED + 1", "Date 2012-02-01"},
      {"1 + HIRED", "Date 2012-02-01"},
      {"HIRED - 31", "Date 2011-12-31"},
      {"HIRED + 29 = '2012-02-29'", "TRUE"},
      {"HIRED - DATE '2011-01-31'", "Int 365"},
      {"HIRED BETWEEN '2012-01-01' AND '2012-12-31'", "TRUE"},
      {"STAMP > HIRED", "TRUE"},
      {"STAMP = '2012-01-31 10:00:00'", "TRUE"},
      {"STAMP > '2012-01-31'", "TRUE"},
      {"HIRED < '2012-01-31 00:00:01'", "TRUE"},
      {"CLOCK = '10:30'", "TRUE"},
      {"CLOCK > TIME '10:29:59.999'", "TRUE"},
      {"YEAR(HIRED) * 10000 + MONTH(HIRED) * 100 + DAY(HIRED)", "Int 20120131"},
      {"YEAR(STAMP)", "Int 2012"},
      {"MONTH('2012-07-04')", "Int 7"},
      {"YEAR(EMPTY)", "NULL"},
      {"CAST(STAMP AS DATE)", "Date 2012-01-31"},
      {"CAST(HIRED AS CHAR)", "'2012-01-31'"},
      {"CAST(STAMP AS CHAR)", "'2012-01-31 10:00:00'"},
      {"CAST('2012-01-31 10:00' AS TIMESTAMP)", "Timestamp 2012-01-31 10:00:00"},
      {"CAST(STAMP AS TIME)", "Time 10:00:00"},

      // Logical values.
      {"FLAG = TRUE", "TRUE"},
      {"FLAG = 'T'", "TRUE"},
      {"FLAG = 't'", "TRUE"},
      {"NOFLAG = 'F'", "TRUE"},
      {"FLAG = 'F'", "FALSE"},
      {"FLAG = 'Y'", "TRUE"},
      {"FLAG = 'X'", "NULL"},
      {"FLAG = 1", "TRUE"},
      {"FLAG <> NOFLAG", "TRUE"},

      // Columns named by keywords.
      {"CURRENT = 1", "TRUE"},
      {"DESC", "'Description'"},
      {"\"DESC\"", "'Description'"},
      {"[DESC] = 'Description'", "TRUE"},
      {"DATE < HIRED", "TRUE"},
      {"[YEAR]='2012'", "TRUE"},
      {"YEAR = 2012", "TRUE"},
      {"YEAR(DATE)", "Int 2000"},
      {"USER", "'DBSYS'"},

      // Scalar functions.
      {"UPPER(LOWER_NAME) = NAME", "TRUE"},
      {"LOWER('AbC')", "'abc'"},
      {"UCASE('x')", "'X'"},
      {"TRIM('  a b  ')", "'a b'"},
      {"LTRIM(BLANKS)", "'lead'"},
      {"RTRIM('a  ') || 'b'", "'ab'"},
      {"LEFT(NAME, 2)", "'SM'"},
      {"LEFT(NAME, 10)", "'SMITH'"},
      {"LEFT(NAME, 0)", "''"},
      {"RIGHT(NAME, 3)", "'ITH'"},
      {"RIGHT(NAME, 9)", "'SMITH'"},
      {"SUBSTRING(NAME, 2, 3)", "'MIT'"},
      {"SUBSTRING(NAME, 4)", "'TH'"},
      {"SUBSTRING(NAME, 0, 2)", "'S'"},
      {"SUBSTRING(NAME, 9, 2)", "''"},
      {"SUBSTR(NAME, 2, 1)", "'M'"},
      {"SUBSTRING(EMPTY, 1, 1)", "NULL"},
      {"LENGTH(NAME)", "Int 5"},
      {"LEN('ab  ')", "Int 2"},
      {"LENGTH(BLANKS)", "Int 6"},
      {"LENGTH(NUM)", "Int 2"},
      {"LENGTH(EMPTY)", "NULL"},
      {"CONCAT(NAME, '-', NUM, EMPTY)", "'SMITH-20'"},
      {"ABS(-5)", "Int 5"},
      {"ABS(NEGMONEY)", "Money 1.2345"},
      {"ABS(-2.5)", "Double 2.5"},
      {"ROUND(SALARY, 2)", "Money 1234.5700"},
      {"ROUND(SALARY)", "Money 1235.0000"},
      {"ROUND(SALARY, -2)", "Money 1200.0000"},
      {"ROUND(NEGMONEY, 3)", "Money -1.2350"},
      {"ROUND(2.675, 2)", "Double 2.68"},
      {"ROUND(-2.5)", "Double -3"},
      {"ROUND(1234, -2)", "Int 1200"},
      {"ROUND(1250, -2)", "Int 1300"},
      {"ROUND(RATE * 3, 1)", "Double 3.3"},
      {"FLOOR(SALARY)", "Money 1234.0000"},
      {"CEILING(SALARY)", "Money 1235.0000"},
      {"FLOOR(-2.5)", "Double -3"},
      {"MOD(7, 3)", "Int 1"},
      {"IIF(NUM > 10, 'big', 'small')", "'big'"},
      {"IIF(EMPTY = 'x', 'yes', 'no')", "'no'"},
      {"IFNULL(EMPTY, 'none')", "'none'"},
      {"ISNULL(NAME, 'none')", "'SMITH'"},
      {"IFNULL('  ', 'none')", "'none'"},
      {"COALESCE(EMPTY, NULL, NUM, 1)", "Int 20"},
      {"COALESCE(EMPTY, NULL)", "NULL"},

      // CASE and CAST.
      {"CASE WHEN NUM > 100 THEN 'a' WHEN NUM > 10 THEN 'b' ELSE 'c' END", "'b'"},
      {"CASE WHEN EMPTY = 'x' THEN 'a' END", "NULL"},
      {"CASE NAME WHEN 'JONES' THEN 1 WHEN 'SMITH' THEN 2 END", "Int 2"},
      {"CASE EMPTY WHEN '' THEN 'empty' ELSE 'full' END", "'empty'"},
      {"CAST(NUM AS CHAR(1))", "'2'"},
      {"CAST('42' AS INTEGER) + 1", "Int 43"},
      {"CAST(SALARY AS INTEGER)", "Int 1234"},
      {"CAST(-2.7 AS INTEGER)", "Int -2"},
      {"CAST(SALARY AS DOUBLE)", "Double 1234.5678"},
      {"CAST(SALARY AS CHAR)", "'1234.5678'"},
      {"CAST(TENTH AS CHAR)", "'0.1'"},
      {"CAST('T' AS LOGICAL)", "TRUE"},
      {"CONVERT('2012-01-31', SQL_DATE)", "Date 2012-01-31"},
      {"CAST(EMPTY AS INTEGER)", "NULL"},
      {"CAST('' AS DATE)", "NULL"},

      // Parameters the row does not supply are NULL.
      {":MISSING IS NULL", "TRUE"},
  };
  const TestRow& row = SampleRow();
  for (const auto& c : kCases) {
    std::string shown;
    const std::string error = ErrorOf([&] { shown = Show(Eval(c.text, row)); });
    EXPECT_EQ(error, "no error") << c.text;
    EXPECT_EQ(shown, c.value) << c.text;
  }
}

TEST(EvalTest, ErrorsCarryTheCallersCode) {
  const struct {
    const char* text;
    const char* error;
  } kCases[] = {
      {"SUM(SALARY) > 1", "Aggregate function SUM cannot be evaluated here at position 1"},
      {"COUNT(*)", "Aggregate function COUNT cannot be evaluated here at position 1"},
      {"HIRED = 5", "Cannot compare date with integer at position 7"},
      {"HIRED = FLAG", "Cannot compare date with logical at position 7"},
      {"NAME + 1", "'SMITH' is not a number at position 6"},
      {"HIRED * 2", "Cannot compute with date and integer at position 7"},
      {"NAME AND FLAG", "Not a logical value at position 1"},
      {"BIG * SALARY", "Numeric overflow at position 5"},
      {"SALARY * 1e300", "Numeric overflow at position 8"},
      {"CAST(NAME AS INTEGER)", "'SMITH' is not a number at position 1"},
      {"CAST(NAME AS DATE)", "Cannot convert 'SMITH' to DATE at position 1"},
      {"CAST(HIRED AS MONEY)", "Cannot convert a date value to MONEY at position 1"},
      {"NAME LIKE 'x' ESCAPE 'ab'", "ESCAPE needs one character at position 6"},
      {"SUBSTRING(NAME, 1, -1)", "Negative length in SUBSTRING at position 1"},
      {"YEAR(NAME)", "'SMITH' is not a date at position 1"},
  };
  const TestRow& row = SampleRow();
  for (const auto& c : kCases) {
    EXPECT_EQ(ErrorOf([&] { Eval(c.text, row, DBE_SQL_ERROR); }), "7200: " + std::string(c.error))
        << c.text;
  }
}

TEST(EvalTest, IsTrueAgreesWithLogicalOperators) {
  EXPECT_TRUE(IsTrue(Value::Bool(true)));
  EXPECT_FALSE(IsTrue(Value::Bool(false)));
  EXPECT_FALSE(IsTrue(Value::Null()));
  EXPECT_TRUE(IsTrue(Value::Int(2)));
  EXPECT_FALSE(IsTrue(Value::Money(0)));
  EXPECT_TRUE(IsTrue(Value::String("T")));
  EXPECT_FALSE(IsTrue(Value::String("F")));
  EXPECT_FALSE(IsTrue(Value::String("SMITH")));
  EXPECT_FALSE(IsTrue(Value::Date(2451545)));
}

TEST(EvalTest, ClockFunctionsReadTheSystemClock) {
  const TestRow row({});
  const std::time_t before = std::time(nullptr);
  const Value today = Eval("CURDATE()", row);
  const Value now = Eval("NOW()", row);
  const Value time = Eval("CURTIME()", row);
  const std::time_t after = std::time(nullptr);
  std::tm a{}, b{};
  localtime_r(&before, &a);
  localtime_r(&after, &b);
  const int64_t first = DayNumber(a.tm_year + 1900, a.tm_mon + 1, a.tm_mday);
  const int64_t last = DayNumber(b.tm_year + 1900, b.tm_mon + 1, b.tm_mday);
  ASSERT_EQ(today.kind, ValueKind::Date);
  EXPECT_GE(today.i, first);
  EXPECT_LE(today.i, last);
  ASSERT_EQ(now.kind, ValueKind::Timestamp);
  EXPECT_GE(now.i,
            first * kMsPerDay + ((a.tm_hour * 60 + a.tm_min) * 60 + a.tm_sec) * int64_t{1000});
  EXPECT_LE(now.i,
            last * kMsPerDay + ((b.tm_hour * 60 + b.tm_min) * 60 + b.tm_sec + 1) * int64_t{1000});
  ASSERT_EQ(time.kind, ValueKind::Time);
  EXPECT_LT(time.i, kMsPerDay);
}

TEST(CalendarTest, DayNumbersAreJulianDays) {
  EXPECT_EQ(DayNumber(2000, 1, 1), 2451545);
  EXPECT_EQ(DayNumber(1970, 1, 1), 2440588);
  EXPECT_EQ(DayNumber(1858, 11, 17), 2400001);
  EXPECT_EQ(DayNumber(1600, 3, 1) - DayNumber(1600, 2, 28), 2);  // leap century
  EXPECT_EQ(DayNumber(1900, 3, 1) - DayNumber(1900, 2, 28), 1);  // not leap
  for (int64_t day = DayNumber(1, 1, 1); day < DayNumber(9999, 12, 31); day += 97) {
    int y, m, d;
    CivilDate(day, &y, &m, &d);
    ASSERT_EQ(DayNumber(y, m, d), day);
  }
  int64_t day;
  EXPECT_FALSE(ParseDate("2011-02-29", &day));
  EXPECT_TRUE(ParseDate("2012-02-29", &day));
  EXPECT_FALSE(ParseDate("2012-13-01", &day));
  EXPECT_FALSE(ParseDate("12/31/12", &day));
  EXPECT_FALSE(ParseDate("2012-01-311", &day));
}

// Every expression of the SQL statements and filters the program sends,
// evaluated over rows shaped like the tables they run against.
TEST(ProgramExpressionsTest, WhereSetAndSelectParts) {
  // RTABLE rows of the report field catalogue.
  const TestRow allw({{"DATABASE1", Value::String("ALLW")},
                      {"TYPE1", Value::String("N")},
                      {"WIDTH", Value::String("20")},
                      {"FIELD", Value::String("EMP_NAME")}});
  const TestRow pros({{"DATABASE1", Value::String("EMP_PROS")},
                      {"TYPE1", Value::String("N")},
                      {"WIDTH", Value::String("30")},
                      {"FIELD", Value::String("GRADE")}});
  const TestRow other({{"DATABASE1", Value::String("EMP_PROS")},
                       {"TYPE1", Value::String("A")},
                       {"WIDTH", Value::Int(8)},
                       {"FIELD", Value::Null()}});
  const struct {
    const char* text;
    const char* allw;
    const char* pros;
    const char* other;
  } kRtable[] = {
      {"database1='ALLW'", "TRUE", "FALSE", "FALSE"},
      {"DATABASE1='EMP_PROS' AND TYPE1='N' ", "FALSE", "TRUE", "FALSE"},
      {"WIDTH=20 OR WIDTH=30 ", "TRUE", "TRUE", "FALSE"},
      {"FIELD='EMP_NAME'", "TRUE", "FALSE", "NULL"},
      {"'T'", "'T'", "'T'", "'T'"},
      {"60", "Int 60", "Int 60", "Int 60"},
  };
  for (const auto& c : kRtable) {
    EXPECT_EQ(Show(Eval(c.text, allw)), c.allw) << c.text;
    EXPECT_EQ(Show(Eval(c.text, pros)), c.pros) << c.text;
    EXPECT_EQ(Show(Eval(c.text, other)), c.other) << c.text;
  }

  // Fill-in statements: WHERE x IS NULL, SET x = other column or parameter.
  const TestRow fill({{"PERIOD_PART", Value::Null()},
                      {"YEAR", Value::String("2012")},
                      {"ORI_OWWAGE", Value::Null()},
                      {"CPFOWWAGE", Value::Money(25000000)},
                      {"CPFAWWAGE", Value::Money(0)},
                      {"BANKAMT", Value::Null()},
                      {"NETT_WAGE", Value::Money(31234500)},
                      {"MAPFIELD", Value::Null()},
                      {"N1CLAIM", Value::String("MED")},
                      {"LONG_DESC", Value::Null()},
                      {"DESC", Value::String("Medical")},
                      {"ID", Value::Null()},
                      {"ITEMID", Value::Int(17)},
                      {"DEPARTMENT", Value::Null()},
                      {"GRADE", Value::Null()},
                      {"CODE", Value::Null()},
                      {"NS_PSA_SERVICE", Value::String("Y")},
                      {"CURRENT", Value::Int(5)},
                      {"NEW_SALARY", Value::Money(10000)},
                      {"EMPLOYEE.EMP_NO", Value::String("A001")},
                      {"EMP_PROS.EMP_CODE", Value::String("A001")},
                      {"COST_CENTRE_CODE", Value::String("CC1")}},
                     {Value::String("NONE")});
  const struct {
    const char* text;
    const char* value;
  } kFill[] = {
      {"PERIOD_PART IS NULL", "TRUE"},
      {"'1'", "'1'"},
      {"[YEAR]='2012'", "TRUE"},
      {"ORI_OWWAGE IS NULL", "TRUE"},
      {"CPFOWWAGE", "Money 2500.0000"},
      {"CPFAWWAGE", "Money 0.0000"},
      {"BANKAMT IS NULL", "TRUE"},
      {"nett_wage", "Money 3123.4500"},
      {"MAPFIELD IS NULL", "TRUE"},
      {"N1CLAIM", "'MED'"},
      {"LONG_DESC IS NULL", "TRUE"},
      {"\"DESC\"", "'Medical'"},
      {"ID IS NULL", "TRUE"},
      {"ItemId", "Int 17"},
      {"DEPARTMENT IS NULL", "TRUE"},
      {":DEPART", "'NONE'"},
      {"GRADE IS NULL", "TRUE"},
      {":GRADE", "'NONE'"},
      {"CODE IS NULL", "TRUE"},
      {"NS_PSA_SERVICE='Y'", "TRUE"},
      {"0", "Int 0"},
      {"EMPLOYEE.EMP_NO=EMP_PROS.EMP_CODE  ", "TRUE"},
      {"COST_CENTRE_CODE", "'CC1'"},
  };
  for (const auto& c : kFill) {
    EXPECT_EQ(Show(Eval(c.text, fill)), c.value) << c.text;
  }

  // Select lists and GROUP BY / DISTINCT columns parse as expressions; the
  // aggregate is left to the SQL executor.
  for (const char* text :
       {"SUM(NEW_SALARY)", "BENEFIT_SCHEME", "OCCUPATION_CODE", "EMG_CONTACT_RELATION"}) {
    EXPECT_EQ(ErrorOf([&] { ParseExpression(text, DBE_SQL_ERROR); }), "no error") << text;
  }
  EXPECT_TRUE(ContainsAggregate(*ParseExpression("SUM(NEW_SALARY)")));
  EXPECT_TRUE(ContainsAggregate(*ParseExpression("1 + COUNT(DISTINCT X)")));
  EXPECT_FALSE(ContainsAggregate(*ParseExpression("UPPER(X) = 'A'")));
}

}  // namespace
}  // namespace dbe::expr
