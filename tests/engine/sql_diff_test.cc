// The engine's SQL against SQLite as the reference: the same generated rows
// go into both, the same statements run on both, and the results are
// compared as normalised text.
//
// Where the engine's rules are not SQLite's, the fixture maps them instead of
// loosening the comparison:
//  - a character value loses its trailing blanks, and one of blanks only (or
//    none) is stored empty, which reads as NULL: SQLite gets the stored form;
//  - character comparisons ignore trailing blanks: the SQLite columns are
//    COLLATE RTRIM; letter case matters in both, LIKE included
//    (case_sensitive_like);
//  - money is exact to four decimals: SQLite holds it as REAL, and a money
//    result from SQLite is read as the shortest decimal that reads back as
//    the double, rounded half away from zero to four decimals (the rule the
//    engine itself applies when a double meets money);
//  - dates are 'YYYY-MM-DD' text in SQLite, which orders and compares with
//    date literals as the engine's day numbers do; the engine gives YYYYMMDD;
//  - logical values are 1/0 in SQLite and T/F in the engine;
//  - an update in SQLite applies the engine's storage rules to the values it
//    writes (a trigger: text cut and trimmed, money to four decimals, whole
//    numbers rounded).
// Statements whose text means something else in SQLite by design carry
// SQLite's text for the same meaning, with the reason beside them.
// The type of each result column as the engine reports it decides how the
// values of that column are normalised on both sides. Doubles are compared to
// six significant digits, NULL is a marker of its own.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine_fixture.h"

namespace kx8test {
namespace {

constexpr const char* kNull = "<NULL>";

// ---------------------------------------------------------------------------
// Normalised text of values.
// ---------------------------------------------------------------------------

// Ten-thousandths as the shortest decimal text: 12.5, -0.0001, 3.
std::string MoneyText(int64_t m) {
  const bool neg = m < 0;
  const uint64_t u = neg ? 0 - static_cast<uint64_t>(m) : static_cast<uint64_t>(m);
  std::string s = std::to_string(u / 10000);
  if (u % 10000 != 0) {
    char frac[8];
    std::snprintf(frac, sizeof frac, "%04u", static_cast<unsigned>(u % 10000));
    std::string f = frac;
    while (f.back() == '0') f.pop_back();
    s += "." + f;
  }
  return neg ? "-" + s : s;
}

std::string ShortestDouble(double d) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

// A double read as money: its shortest decimal, rounded half away from zero
// to four decimals, in ten-thousandths; nothing beyond money's range.
std::optional<int64_t> TenThousandths(double d) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
  std::string s(buf, r.ptr);
  const bool neg = !s.empty() && s[0] == '-';
  if (neg) s.erase(0, 1);
  const size_t dot = s.find('.');
  const std::string whole = s.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : s.substr(dot + 1);
  if (whole.size() > 14) return std::nullopt;
  frac.resize(5, '0');
  int64_t m = std::stoll(whole) * 10000 + std::stoll(frac.substr(0, 4));
  if (frac[4] >= '5') ++m;
  return neg ? -m : m;
}

std::string MoneyFromDouble(double d) {
  const std::optional<int64_t> m = TenThousandths(d);
  return m ? MoneyText(*m) : ShortestDouble(d);
}

std::string Sig6(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", d);
  std::string s = buf;
  return s == "-0" ? "0" : s;
}

// ---------------------------------------------------------------------------
// The generated rows.
// ---------------------------------------------------------------------------

constexpr const char* kEmpFields =
    "EMP_NO,Char,8;NAME,Char,20;DEPT,Char,4;SALARY,Money;BONUS,Double;YEAR,Integer;JOINED,Date;ACTIVE,Logical;";
constexpr const char* kEmpSqlite =
    "CREATE TABLE EMP (EMP_NO TEXT COLLATE RTRIM, NAME TEXT COLLATE RTRIM, DEPT TEXT COLLATE RTRIM, "
    "SALARY REAL, BONUS REAL, YEAR INTEGER, JOINED TEXT, ACTIVE INTEGER)";
constexpr const char* kDeptFields = "DEPT,Char,4;DNAME,Char,20;BUDGET,Money;HEAD,Char,8;";
constexpr const char* kDeptSqlite =
    "CREATE TABLE DEPTS (DEPT TEXT COLLATE RTRIM, DNAME TEXT COLLATE RTRIM, BUDGET REAL, HEAD TEXT COLLATE RTRIM)";
// SQLite applies the engine's storage rules on every update: character
// values are cut to the field's length, lose trailing blanks and are NULL
// when nothing is left; money keeps four decimals; a fraction stored in an
// integer field is rounded half away from zero.
constexpr const char* kEmpStorageRules =
    "CREATE TRIGGER EMP_STORED AFTER UPDATE ON EMP BEGIN "
    "UPDATE EMP SET EMP_NO = STORED_CHAR(NEW.EMP_NO, 8), NAME = STORED_CHAR(NEW.NAME, 20), "
    "DEPT = STORED_CHAR(NEW.DEPT, 4), SALARY = STORED_MONEY(NEW.SALARY), YEAR = STORED_INTEGER(NEW.YEAR) "
    "WHERE rowid = NEW.rowid; END";

void StoredChar(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  std::string s(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
  s.resize(std::min(s.size(), static_cast<size_t>(sqlite3_value_int(argv[1]))));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.empty()) return sqlite3_result_null(ctx);
  sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void StoredMoney(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) != SQLITE_FLOAT) return sqlite3_result_value(ctx, argv[0]);
  const double d = sqlite3_value_double(argv[0]);
  const std::optional<int64_t> m = TenThousandths(d);
  sqlite3_result_double(ctx, m ? static_cast<double>(*m) / 10000.0 : d);
}

void StoredInteger(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) != SQLITE_FLOAT) return sqlite3_result_value(ctx, argv[0]);
  sqlite3_result_int64(ctx, static_cast<int64_t>(std::round(sqlite3_value_double(argv[0]))));
}

#define EMP_COLS "EMP_NO, NAME, DEPT, SALARY, BONUS, YEAR, JOINED, ACTIVE"
constexpr const char* kAllEmp = "SELECT * FROM EMP ORDER BY " EMP_COLS;

// One value of a row: the text given to the engine, and what SQLite stores.
struct Cell {
  std::string engine;           // empty: not set (NULL)
  enum Kind { Null, Text, Int, Real } kind = Null;
  std::string text;
  int64_t i = 0;
  double d = 0;
};

Cell NullCell() { return Cell{}; }

// Character values: the engine gets the text as written; SQLite the stored
// form (cut to the field's length, trailing blanks gone, NULL when nothing
// is left).
Cell CharCell(const std::string& raw, size_t length) {
  Cell c;
  c.engine = raw;
  std::string stored = raw.substr(0, std::min(raw.size(), length));
  while (!stored.empty() && stored.back() == ' ') stored.pop_back();
  if (!stored.empty()) {
    c.kind = Cell::Text;
    c.text = stored;
  }
  return c;
}

Cell MoneyCell(int64_t ten_thousandths) {
  Cell c;
  c.kind = Cell::Real;
  c.d = static_cast<double>(ten_thousandths) / 10000.0;
  // Always written with four decimals, as a program fills a money field.
  const bool neg = ten_thousandths < 0;
  const uint64_t u = neg ? 0 - static_cast<uint64_t>(ten_thousandths) : static_cast<uint64_t>(ten_thousandths);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%llu.%04u", neg ? "-" : "", static_cast<unsigned long long>(u / 10000),
                static_cast<unsigned>(u % 10000));
  c.engine = buf;
  return c;
}

Cell DoubleCell(double d) {
  Cell c;
  c.kind = Cell::Real;
  c.d = d;
  c.engine = ShortestDouble(d);
  return c;
}

Cell IntCell(int64_t i) {
  Cell c;
  c.kind = Cell::Int;
  c.i = i;
  c.engine = std::to_string(i);
  return c;
}

// Days since 1970-01-01 to a civil date.
void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2 ? 1 : 0));
}

Cell DateCell(int64_t days_since_1970) {
  int y, m, d;
  CivilFromDays(days_since_1970, &y, &m, &d);
  char eng[16], lite[16];
  std::snprintf(eng, sizeof eng, "%04d%02d%02d", y, m, d);
  std::snprintf(lite, sizeof lite, "%04d-%02d-%02d", y, m, d);
  Cell c;
  c.engine = eng;
  c.kind = Cell::Text;
  c.text = lite;
  return c;
}

Cell LogicalCell(bool b) {
  Cell c;
  c.engine = b ? "T" : "F";
  c.kind = Cell::Int;
  c.i = b ? 1 : 0;
  return c;
}

using Row = std::vector<Cell>;

// Employees: duplicates (numbers, names, whole rows), NULLs, blank and
// all-blank text, trailing and leading blanks, mixed case, LIKE wildcards in
// the data, negative and fractional amounts, a name cut by the field length.
std::vector<Row> MakeEmployees(size_t count) {
  std::mt19937 rng(20240611);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  static const char* const kNames[] = {
      "Tan", "tan", "TAN", "Tan  ", "Lim Ah Kow", "lim ah kow", "Lee", "LEE", "lee", "Ng", "Ng   ", "",
      "    ", " Wong", "Ong_Li", "OngXLi", "50% Pay", "O'Brien", "Zainal Abidin", "a", "Z",
      "Nur Aisyah binti    Omar", "Kumar", "kumar ", "Chua Bee Lian"};
  static const char* const kDepts[] = {"HR", "hr", "FIN", "IT", "IT  ", "OPS", "Ops", "ADM", "", "  ", "FINANCE"};
  static const int64_t kCommonSalaries[] = {10000000, 25005000, 30007500, -502500, 1, 0};
  std::vector<Row> rows;
  for (size_t n = 0; n < count; ++n) {
    if (n > 0 && n % 101 == 0) {  // a whole row again
      rows.push_back(rows[pick(static_cast<uint32_t>(rows.size()))]);
      continue;
    }
    Row r;
    char no[32];
    const size_t id = (n % 37 == 5 && n > 0) ? n - 1 : n;  // some numbers twice
    std::snprintf(no, sizeof no, "%c%04zu", pick(13) == 0 ? 'e' : 'E', id);
    r.push_back(CharCell(no, 8));
    r.push_back(CharCell(kNames[pick(std::size(kNames))], 20));
    r.push_back(pick(17) == 0 ? NullCell() : CharCell(kDepts[pick(std::size(kDepts))], 4));
    // SALARY
    const uint32_t s = pick(100);
    if (s < 6) r.push_back(NullCell());
    else if (s < 20) r.push_back(MoneyCell(kCommonSalaries[pick(std::size(kCommonSalaries))]));
    else if (s < 40) r.push_back(MoneyCell(static_cast<int64_t>(pick(150000000)) - 20000000));
    else r.push_back(MoneyCell((static_cast<int64_t>(pick(1500000)) - 200000) * 100));
    // BONUS: multiples of 1/8, exact in binary, so sums agree in any order.
    const uint32_t b = pick(100);
    if (b < 10) r.push_back(NullCell());
    else if (b < 15) r.push_back(DoubleCell(0));
    else r.push_back(DoubleCell((static_cast<double>(pick(32000)) - 8000) / 8));
    // YEAR
    const uint32_t y = pick(100);
    if (y < 5) r.push_back(NullCell());
    else if (y < 7) r.push_back(IntCell(0));
    else if (y < 10) r.push_back(IntCell(-static_cast<int64_t>(pick(20)) - 1));
    else r.push_back(IntCell(1985 + pick(40)));
    // JOINED: 1985-01-01 on, over forty years.
    r.push_back(pick(100) < 8 ? NullCell() : DateCell(5479 + pick(40 * 365)));
    // ACTIVE
    const uint32_t a = pick(10);
    r.push_back(a == 0 ? NullCell() : LogicalCell(a % 3 != 0));
    rows.push_back(std::move(r));
  }
  return rows;
}

std::vector<Row> MakeDepartments() {
  struct D { const char* dept; const char* name; std::optional<int64_t> budget; const char* head; };
  const D ds[] = {
      {"HR", "Human Resources", 5000005000, "E0001"},
      {"hr", "human resources", 12002500, ""},
      {"FIN", "Finance", 9000000000, "E0002"},
      {"IT", "Information Tech  ", -1001234, "E0003"},
      {"OPS", "", 0, "E0004"},                 // no name
      {"LAB", "Laboratory", std::nullopt, ""},  // no employees
      {"  ", "No code", 10000, "E0010"},        // empty key: joins nothing
  };
  std::vector<Row> rows;
  for (const D& d : ds) {
    rows.push_back({CharCell(d.dept, 4), CharCell(d.name, 20), d.budget ? MoneyCell(*d.budget) : NullCell(),
                    CharCell(d.head, 8)});
  }
  return rows;
}

// ---------------------------------------------------------------------------
// The fixture: both databases with the same rows.
// ---------------------------------------------------------------------------

// A statement in the common dialect; `lite` is SQLite's text where the
// dialects differ by design (the comment beside it says why).
struct Case {
  const char* sql;
  const char* lite = nullptr;
};

struct Outcome {
  std::vector<std::string> rows;  // "a|b|c"
  std::string error;              // empty when the statement ran
  bool live = false;              // the engine gave a live cursor
};

class SqlDiffTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(DbCreateSQLStatement(conn_, &stmt_), 0u) << LastErrorText();
    ASSERT_EQ(sqlite3_open(":memory:", &lite_), SQLITE_OK);
    LiteExec("PRAGMA case_sensitive_like = ON");
    const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    ASSERT_EQ(sqlite3_create_function(lite_, "STORED_CHAR", 2, det, nullptr, StoredChar, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_create_function(lite_, "STORED_MONEY", 1, det, nullptr, StoredMoney, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_create_function(lite_, "STORED_INTEGER", 1, det, nullptr, StoredInteger, nullptr, nullptr),
              SQLITE_OK);
    LiteExec(kEmpSqlite);
    LiteExec(kEmpStorageRules);
    LiteExec(kDeptSqlite);
    emp_ = MakeEmployees(1500);
    Load("EMP", kEmpFields, emp_, /*create=*/true);
    Load("DEPTS", kDeptFields, MakeDepartments(), /*create=*/true);
  }
  void TearDown() override {
    DbCloseSQLStatement(stmt_);
    sqlite3_close(lite_);
    EngineTest::TearDown();
  }

  void LiteExec(const std::string& sql) {
    char* err = nullptr;
    ASSERT_EQ(sqlite3_exec(lite_, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << sql << ": " << err;
  }

  // Fills a table in both: created, or emptied and filled again.
  void Load(const std::string& table, const char* fields, const std::vector<Row>& rows, bool create) {
    DBHANDLE t = 0;
    if (create) {
      DBE_OK(DbCreateTable(conn_, table.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                           DBE_RIGHTS_IGNORE, 0, fields, 0, &t));
    } else {
      t = Open(table, DBE_OPEN_EXCLUSIVE);
      DBE_OK(DbZapTable(t));
      LiteExec("DELETE FROM " + table);
    }
    uint16_t nfields = 0;
    DBE_OK(DbGetNumFields(t, &nfields));
    std::string insert = "INSERT INTO " + table + " VALUES (?";
    for (uint16_t f = 1; f < nfields; ++f) insert += ", ?";
    insert += ")";
    sqlite3_stmt* ins = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(lite_, insert.c_str(), -1, &ins, nullptr), SQLITE_OK) << sqlite3_errmsg(lite_);
    LiteExec("BEGIN");
    for (const Row& r : rows) {
      ASSERT_EQ(r.size(), nfields);
      DBE_OK(DbAppendRecord(t));
      for (uint16_t f = 0; f < nfields; ++f) {
        const Cell& c = r[f];
        if (c.kind != Cell::Null || !c.engine.empty()) {
          DBE_OK(DbSetField(t, DBE_FIELD_ORDINAL(f + 1), c.engine.c_str(), static_cast<uint32_t>(c.engine.size())));
        }
        switch (c.kind) {
          case Cell::Null: sqlite3_bind_null(ins, f + 1); break;
          case Cell::Text: sqlite3_bind_text(ins, f + 1, c.text.c_str(), -1, SQLITE_TRANSIENT); break;
          case Cell::Int: sqlite3_bind_int64(ins, f + 1, c.i); break;
          case Cell::Real: sqlite3_bind_double(ins, f + 1, c.d); break;
        }
      }
      DBE_OK(DbWriteRecord(t));
      ASSERT_EQ(sqlite3_step(ins), SQLITE_DONE) << sqlite3_errmsg(lite_);
      sqlite3_reset(ins);
    }
    LiteExec("COMMIT");
    sqlite3_finalize(ins);
    DBE_OK(DbCloseTable(t));
  }

  void ReloadEmployees() { Load("EMP", kEmpFields, emp_, /*create=*/false); }

  // Runs a statement in the engine; the column types of a result land in
  // *types for the SQLite side to follow.
  Outcome RunEngine(const std::string& sql, std::vector<uint16_t>* types) {
    Outcome out;
    types->clear();
    DBHANDLE cur = 0;
    DBRESULT rc = DbPrepareSQL(stmt_, sql.c_str());
    if (rc == 0) rc = DbExecuteSQL(stmt_, &cur);
    if (rc != 0) {
      out.error = LastErrorText();
      return out;
    }
    if (cur == 0) return out;
    uint16_t live = 0;
    DbSqlPeekStatement(cur, &live);
    out.live = live != 0;
    uint16_t n = 0;
    DbGetNumFields(cur, &n);
    for (uint16_t f = 1; f <= n; ++f) {
      uint16_t type = 0;
      DbGetFieldType(cur, DBE_FIELD_ORDINAL(f), &type);
      types->push_back(type);
    }
    DbGotoTop(cur);
    while (!Eof(cur)) {
      std::string line;
      for (uint16_t f = 1; f <= n; ++f) {
        if (f > 1) line += "|";
        uint16_t empty = 0;
        DbIsEmpty(cur, DBE_FIELD_ORDINAL(f), &empty);
        if (empty) {
          line += kNull;
          continue;
        }
        char buf[4096];
        uint32_t len = sizeof buf;
        if (DbGetString(cur, DBE_FIELD_ORDINAL(f), buf, &len) != 0) {
          line += "<error " + LastErrorText() + ">";
          continue;
        }
        const std::string text(buf, len);
        switch ((*types)[f - 1]) {
          case DBE_FT_DOUBLE: case DBE_FT_CURDOUBLE: line += Sig6(std::strtod(text.c_str(), nullptr)); break;
          default: line += text; break;
        }
      }
      out.rows.push_back(std::move(line));
      DbSkip(cur, 1);
    }
    DbCloseTable(cur);
    return out;
  }

  // Runs a statement in SQLite, normalising each column by the engine's type
  // for it (none known: as SQLite gives it).
  Outcome RunSqlite(const std::string& sql, const std::vector<uint16_t>& types) {
    Outcome out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(lite_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      out.error = sqlite3_errmsg(lite_);
      return out;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::string line;
      const int n = sqlite3_column_count(st);
      for (int c = 0; c < n; ++c) {
        if (c > 0) line += "|";
        const uint16_t type = static_cast<size_t>(c) < types.size() ? types[static_cast<size_t>(c)] : 0;
        line += LiteValue(st, c, type);
      }
      out.rows.push_back(std::move(line));
    }
    if (rc != SQLITE_DONE) out.error = sqlite3_errmsg(lite_);
    sqlite3_finalize(st);
    return out;
  }

  static std::string LiteValue(sqlite3_stmt* st, int c, uint16_t type) {
    const int kind = sqlite3_column_type(st, c);
    if (kind == SQLITE_NULL) return kNull;
    const double d = sqlite3_column_double(st, c);
    const int64_t i = sqlite3_column_int64(st, c);
    const std::string text = kind == SQLITE_TEXT || kind == SQLITE_BLOB
                                 ? std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c)))
                                 : "";
    if (kind == SQLITE_TEXT) {
      if (text.empty()) return "''";  // never stored; shows up if a statement makes one
      if (type == DBE_FT_DATE && text.size() == 10 && text[4] == '-' && text[7] == '-') {
        return text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
      }
      return text;
    }
    switch (type) {
      case DBE_FT_MONEY: return kind == SQLITE_INTEGER ? MoneyText(i * 10000) : MoneyFromDouble(d);
      case DBE_FT_DOUBLE: case DBE_FT_CURDOUBLE: return Sig6(d);
      case DBE_FT_LOGICAL:
        if (kind == SQLITE_INTEGER && (i == 0 || i == 1)) return i ? "T" : "F";
        break;
      default: break;
    }
    return kind == SQLITE_INTEGER ? std::to_string(i) : ShortestDouble(d);
  }

  // Runs `sql` in the engine and `lite` (or the same text) in SQLite and
  // tells how the results differ; empty when they agree. A statement
  // without ORDER BY is compared as a set of rows.
  std::string Differences(const std::string& sql, const std::string& lite, bool* live = nullptr) {
    std::vector<uint16_t> types;
    Outcome e = RunEngine(sql, &types);
    if (live != nullptr) *live = e.live;
    Outcome s = RunSqlite(lite, types);
    if (!e.error.empty() || !s.error.empty()) {
      return "engine error: " + (e.error.empty() ? "none" : e.error) +
             "; SQLite error: " + (s.error.empty() ? "none" : s.error);
    }
    if (lite.find("ORDER BY") == std::string::npos) {
      std::sort(e.rows.begin(), e.rows.end());
      std::sort(s.rows.begin(), s.rows.end());
    }
    if (e.rows == s.rows) return "";
    std::ostringstream os;
    os << "engine " << e.rows.size() << " rows, SQLite " << s.rows.size() << " rows";
    int shown = 0;
    for (size_t i = 0; i < std::max(e.rows.size(), s.rows.size()) && shown < 8; ++i) {
      const std::string a = i < e.rows.size() ? e.rows[i] : "(none)";
      const std::string b = i < s.rows.size() ? s.rows[i] : "(none)";
      if (a == b) continue;
      os << "\n  row " << i + 1 << ": engine [" << a << "]  SQLite [" << b << "]";
      ++shown;
    }
    return os.str();
  }

  // Runs a change in both and compares the whole table afterwards.
  std::string Change(const Case& c) {
    std::vector<uint16_t> types;
    const Outcome e = RunEngine(c.sql, &types);
    const Outcome s = RunSqlite(c.lite ? c.lite : c.sql, types);
    if (!e.error.empty() || !s.error.empty()) {
      return "engine error: " + (e.error.empty() ? "none" : e.error) +
             "; SQLite error: " + (s.error.empty() ? "none" : s.error);
    }
    return Differences(kAllEmp, kAllEmp);
  }

  DBHANDLE stmt_ = 0;
  sqlite3* lite_ = nullptr;
  std::vector<Row> emp_;
};

TEST_F(SqlDiffTest, BothHoldTheSameRows) {
  EXPECT_EQ(Differences(kAllEmp, kAllEmp), "");
  EXPECT_EQ(Differences("SELECT * FROM DEPTS ORDER BY DEPT, DNAME, BUDGET, HEAD",
                        "SELECT * FROM DEPTS ORDER BY DEPT, DNAME, BUDGET, HEAD"), "");
  // The generated data has what the comparisons are meant to meet.
  const std::vector<std::string> spread = RunSqlite(
      "SELECT COUNT(*) > 20, COUNT(DISTINCT EMP_NO) < COUNT(*), SUM(SALARY < 0) > 20, SUM(NAME IS NULL) > 20, "
      "SUM(DEPT IS NULL) > 50, SUM(BONUS IS NULL) > 20, SUM(JOINED IS NULL) > 20, SUM(ACTIVE IS NULL) > 20, "
      "SUM(NAME = 'Ng') > 10, SUM(YEAR < 0) > 5 FROM EMP", {}).rows;
  EXPECT_EQ(spread, std::vector<std::string>{"1|1|1|1|1|1|1|1|1|1"});
}

// Row conditions; `lite` is SQLite's condition where the dialects differ.
const Case kConditions[] = {
    // Comparisons, with NULLs and trailing blanks in the literal.
    {"DEPT = 'HR'"},
    {"DEPT <> 'HR'"},
    {"DEPT <> ''"},
    {"DEPT > ''"},
    {"NAME = 'Ng   '"},
    {"NAME = ' Wong'"},
    {"NAME < 'Lee'"},
    {"NAME >= 'lee' AND NAME <= 'tan  '"},
    {"SALARY > 2600"},
    {"SALARY = 2500.5 OR SALARY = -50.25"},
    {"SALARY <= -0.5 OR BONUS > 2000"},
    {"SALARY < BONUS"},
    {"YEAR < 0 OR YEAR = 0"},
    {"JOINED >= '2010-01-01' AND JOINED < '2010-07-01'"},
    {"JOINED = '2010-03-15' OR JOINED > '2024-06-30'"},
    // Logic: three-valued AND/OR/NOT, precedence, IS [NOT] NULL.
    {"NOT (ACTIVE AND YEAR >= 2000)"},
    {"ACTIVE = 0 AND DEPT IS NOT NULL"},
    {"NOT ACTIVE OR ACTIVE IS NULL"},
    {"JOINED IS NULL OR SALARY IS NULL"},
    {"DEPT = 'HR' OR DEPT = 'IT' AND ACTIVE"},
    {"(DEPT = 'HR' OR DEPT = 'IT') AND NOT ACTIVE"},
    {"NOT (SALARY > 100 OR SALARY IS NULL)"},
    // LIKE: case matters, wildcards in the data, ESCAPE.
    {"NAME LIKE 'T%'"},
    {"NAME LIKE '%a_'"},
    {"NAME NOT LIKE '%n%'"},
    {"NAME LIKE 'Ong_Li'"},
    {"NAME LIKE 'Ong!_%' ESCAPE '!'"},
    {"NAME LIKE '%!%%' ESCAPE '!'"},
    {"NAME LIKE ' %' OR NAME LIKE '_'"},
    {"EMP_NO LIKE 'e00%'"},
    // IN and BETWEEN, with NULLs.
    {"DEPT IN ('HR', 'it', 'OPS', 'IT  ')"},
    {"YEAR NOT IN (2000, 2001, 2002)"},
    {"YEAR NOT IN (2000, NULL)"},
    {"YEAR IN (2000, NULL)"},
    {"SALARY IN (1000, 2500.5, 0.0001)"},
    {"SALARY BETWEEN 1000 AND 3000.5"},
    {"JOINED BETWEEN '1995-01-01' AND '1999-12-31'"},
    {"NAME NOT BETWEEN 'L' AND 'T'"},
    {"YEAR BETWEEN 2010 AND 2000"},
    {"BONUS NOT BETWEEN -10 AND 10"},
    // Arithmetic in conditions.
    {"SALARY * 2 - BONUS > 10000"},
    {"YEAR % 4 = 0"},
    {"YEAR / 10 = 199 OR YEAR / 10 = -1"},
    {"-SALARY > 100"},
    {"(SALARY + BONUS) / 2 < 0"},
    {"SALARY * 3 = SALARY + SALARY + SALARY"},
    {"Dept = 'HR' and salary > 1.5e3 or bonus < .5 and bonus > -.5"},
    {"NAME = 'O''Brien' OR NAME != 'Tan' AND NAME < 'B'"},
    // A text compared with a number column is read as a number.
    {"YEAR = '2000' OR SALARY > '12000'"},
    {"SALARY = BONUS"},
    {"YEAR * 1.5 > 3000 OR BONUS * 8 = YEAR"},
    {"YEAR > 1999.5 AND SALARY > 1000.00005"},
    {"YEAR BETWEEN NULL AND 2000 OR NOT (YEAR BETWEEN 1990 AND NULL)"},
    {"SALARY + BONUS IS NULL AND YEAR / 0 IS NULL"},
    {"NOT (NAME LIKE NULL) OR NAME IN ('Lee', 'Lee', 'lee')"},
    {"NOT DEPT = 'HR' AND NOT YEAR > 2000"},
    {"NOT NOT ACTIVE AND NAME > EMP_NO"},
    {"YEAR - 1 * 2 = 1998 OR -YEAR % 5 = -1 OR SALARY > -BONUS * -1"},
    // Numbers as truth values: anything but zero is true.
    {"YEAR AND BONUS OR SALARY AND NOT ACTIVE"},
    // Accepted differences: an empty or all-blank text is the empty value,
    // equal to NULL (SQLite: IS NULL); LIKE ignores the pattern's trailing
    // blanks; dates move by whole days with + and -.
    {"NAME = ''", "NAME IS NULL"},
    {"DEPT = '   ' OR DEPT = 'IT'", "DEPT IS NULL OR DEPT = 'IT'"},
    {"DEPT IN ('', 'HR')", "DEPT IS NULL OR DEPT IN ('HR')"},
    {"NAME LIKE ''", "NAME IS NULL"},
    {"NAME LIKE 'Ng%   '", "NAME LIKE 'Ng%'"},
    {"JOINED - 59 < '1985-01-01' OR JOINED + 1 = '2000-03-01'",
     "date(JOINED, '-59 days') < '1985-01-01' OR date(JOINED, '+1 days') = '2000-03-01'"},
};

// Each condition picks the same rows in a static result and in a live
// cursor, whose rows are the table's own rows under a filter.
TEST_F(SqlDiffTest, ConditionsPickTheSameRows) {
  for (const Case& c : kConditions) {
    SCOPED_TRACE(c.sql);
    const std::string lite = std::string("SELECT * FROM EMP WHERE ") + (c.lite ? c.lite : c.sql);
    EXPECT_EQ(Differences(std::string("SELECT * FROM EMP WHERE ") + c.sql + " ORDER BY " EMP_COLS,
                          lite + " ORDER BY " EMP_COLS), "");
    DBE_OK(DbStmtSetTableReadOnly(stmt_, 2));
    bool live = false;
    EXPECT_EQ(Differences(std::string("SELECT * FROM EMP WHERE ") + c.sql, lite, &live), "");
    EXPECT_TRUE(live);
    DBE_OK(DbStmtSetTableReadOnly(stmt_, 1));
  }
}

TEST_F(SqlDiffTest, QueriesAgree) {
  const Case cases[] = {
      // Arithmetic and functions in the select list.
      {"SELECT EMP_NO, SALARY * 2, SALARY + BONUS, SALARY - 0.125, BONUS / 4, YEAR * 12 + 3, YEAR / 7, YEAR % 7, "
       "-SALARY FROM EMP ORDER BY 1, 2, 3, 4, 5, 6, 7, 8, 9"},
      {"SELECT EMP_NO, SALARY / 3, SALARY / 2, SALARY * YEAR, BONUS * BONUS FROM EMP ORDER BY 1, 2, 3, 4, 5"},
      {"SELECT EMP_NO, YEAR / 0, SALARY / 0, BONUS / 0 FROM EMP ORDER BY 1, 2, 3, 4"},
      {"SELECT EMP_NO, UPPER(NAME), LOWER(DEPT), LENGTH(NAME), ABS(SALARY), ABS(YEAR) FROM EMP "
       "ORDER BY 1, 2, 3, 4, 5, 6"},
      {"SELECT EMP_NO, ROUND(BONUS, 1), ROUND(BONUS), COALESCE(DEPT, 'none'), COALESCE(SALARY, 0) FROM EMP "
       "ORDER BY 1, 2, 3, 4, 5"},
      {"SELECT EMP_NO, CASE WHEN SALARY > 5000 THEN 'high' WHEN SALARY > 0 THEN 'low' ELSE 'none' END FROM EMP "
       "ORDER BY 1, 2"},
      {"SELECT EMP_NO, CASE DEPT WHEN 'HR' THEN 1 WHEN 'IT' THEN 2 END FROM EMP ORDER BY 1, 2"},
      {"SELECT EMP_NO, IFNULL(NAME, 'x'), IIF(ACTIVE, 'yes', 'no'), TRIM(NAME), LTRIM(NAME) FROM EMP "
       "ORDER BY 1, 2, 3, 4, 5"},
      {"SELECT EMP_NO, CAST(SALARY AS INTEGER), CAST(BONUS AS INTEGER), CAST(YEAR AS DOUBLE) / 7 FROM EMP "
       "ORDER BY 1, 2, 3, 4"},
      {"SELECT EMP_NO, SALARY - BONUS - YEAR, YEAR - -YEAR, 2 * 3 + YEAR * 5, YEAR / 2 * 2, YEAR % 3 * 2, "
       "YEAR * 1.5 FROM EMP ORDER BY 1, 2, 3, 4, 5, 6, 7"},
      {"SELECT EMP_NO, YEAR * 2147483647 * 4 FROM EMP WHERE YEAR > 2020 ORDER BY 1, 2"},
      {"SELECT DEPT, 1, 'a', NULL, 2.5, 7 / 2, 7.0 / 2, -3 % 2 FROM DEPTS ORDER BY 1"},
      // ORDER BY: descending, expressions, positions, aliases; NULLs first
      // ascending and last descending in both.
      {"SELECT NAME, EMP_NO FROM EMP ORDER BY NAME DESC, EMP_NO"},
      {"SELECT EMP_NO, SALARY, BONUS FROM EMP ORDER BY SALARY + BONUS DESC, EMP_NO, SALARY, BONUS"},
      {"SELECT EMP_NO, JOINED, ACTIVE FROM EMP ORDER BY JOINED, ACTIVE DESC, EMP_NO"},
      {"SELECT EMP_NO, SALARY * 2 AS DOUBLED FROM EMP ORDER BY DOUBLED DESC, EMP_NO"},
      // A name in ORDER BY that is a result column's alias means that column,
      // even when the table has a column of that name.
      {"SELECT EMP_NO, -SALARY AS SALARY FROM EMP ORDER BY SALARY, EMP_NO"},
      {"SELECT NAME AS DEPT, EMP_NO FROM EMP ORDER BY DEPT DESC, EMP_NO"},
      {"SELECT DEPT, YEAR, EMP_NO FROM EMP ORDER BY 1 DESC, 2, 3 DESC"},
      {"SELECT " EMP_COLS " FROM EMP ORDER BY ACTIVE, BONUS DESC, NAME, EMP_NO, DEPT, SALARY, YEAR, JOINED"},
      // DISTINCT.
      {"SELECT DISTINCT DEPT FROM EMP"},
      {"SELECT DISTINCT NAME, ACTIVE FROM EMP ORDER BY NAME, ACTIVE"},
      {"SELECT DISTINCT SALARY FROM EMP WHERE SALARY < 1000 ORDER BY SALARY DESC"},
      {"SELECT DISTINCT YEAR / 10, ACTIVE FROM EMP ORDER BY 1, 2"},
      {"SELECT DISTINCT " EMP_COLS " FROM EMP ORDER BY " EMP_COLS},
      // Aggregates.
      {"SELECT COUNT(*), COUNT(DEPT), COUNT(SALARY), SUM(SALARY), MIN(SALARY), MAX(SALARY), SUM(BONUS), "
       "AVG(BONUS), SUM(YEAR), AVG(YEAR), MIN(NAME), MAX(NAME), MIN(JOINED), MAX(JOINED) FROM EMP"},
      {"SELECT COUNT(DISTINCT DEPT), COUNT(DISTINCT NAME), COUNT(DISTINCT SALARY), SUM(DISTINCT YEAR), "
       "SUM(DISTINCT SALARY), AVG(DISTINCT BONUS) FROM EMP"},
      {"SELECT MIN(ACTIVE), MAX(ACTIVE), COUNT(ACTIVE), MIN(EMP_NO), MAX(DEPT) FROM EMP"},
      {"SELECT COUNT(*) FROM EMP HAVING COUNT(*) > 10000"},
      {"SELECT COUNT(*), SUM(SALARY), AVG(BONUS), MAX(NAME), MIN(JOINED) FROM EMP WHERE YEAR > 3000"},
      // Money averages: SQLite averages exact ten-thousandths.
      {"SELECT AVG(SALARY) FROM EMP", "SELECT AVG(ROUND(SALARY * 10000)) / 10000 FROM EMP"},
      {"SELECT DEPT, AVG(SALARY) FROM EMP GROUP BY DEPT ORDER BY DEPT",
       "SELECT DEPT, AVG(ROUND(SALARY * 10000)) / 10000 FROM EMP GROUP BY DEPT ORDER BY DEPT"},
      {"SELECT SUM(SALARY * 2), SUM(SALARY + BONUS), MAX(SALARY - BONUS), SUM(YEAR * 2) FROM EMP"},
      {"SELECT MAX(SALARY) - MIN(SALARY), COUNT(*) * 2, SUM(BONUS) / COUNT(BONUS) FROM EMP"},
      // GROUP BY and HAVING.
      {"SELECT DEPT, COUNT(*), SUM(SALARY), MIN(JOINED), MAX(BONUS) FROM EMP GROUP BY DEPT"},
      {"SELECT DEPT, ACTIVE, COUNT(*), SUM(BONUS), COUNT(YEAR) FROM EMP GROUP BY DEPT, ACTIVE ORDER BY DEPT, ACTIVE"},
      {"SELECT DEPT, COUNT(*) FROM EMP GROUP BY DEPT HAVING COUNT(*) > 100 ORDER BY 2 DESC, 1"},
      {"SELECT NAME, COUNT(*), SUM(SALARY) FROM EMP GROUP BY NAME HAVING SUM(SALARY) > 100000 OR COUNT(*) < 50 "
       "ORDER BY NAME"},
      {"SELECT NAME, MAX(JOINED) FROM EMP WHERE ACTIVE GROUP BY NAME HAVING MAX(JOINED) > '2020-01-01' "
       "ORDER BY NAME"},
      {"SELECT DEPT, COUNT(*) FROM EMP GROUP BY DEPT HAVING SUM(SALARY) > 100000.55 AND MIN(YEAR) < 1990 "
       "ORDER BY DEPT"},
      {"SELECT BONUS / 3, COUNT(*) FROM EMP WHERE BONUS < 0 GROUP BY BONUS / 3 ORDER BY 1"},
      {"SELECT YEAR / 10, COUNT(*), AVG(BONUS) FROM EMP GROUP BY YEAR / 10 ORDER BY 1"},
      {"SELECT DEPT, MAX(SALARY) - MIN(SALARY), MIN(NAME), MAX(EMP_NO) FROM EMP GROUP BY DEPT ORDER BY DEPT"},
      {"SELECT SALARY, COUNT(*) FROM EMP WHERE SALARY < 0 GROUP BY SALARY ORDER BY SALARY"},
      {"SELECT ACTIVE, COUNT(*) FROM EMP GROUP BY ACTIVE ORDER BY COUNT(*) DESC, ACTIVE"},
      {"SELECT JOINED, COUNT(*) FROM EMP GROUP BY JOINED HAVING COUNT(*) > 1 ORDER BY 1"},
      {"SELECT DEPT FROM EMP GROUP BY DEPT ORDER BY SUM(SALARY) DESC, DEPT"},
      {"SELECT DEPT, NAME FROM EMP WHERE ACTIVE GROUP BY DEPT, NAME"},
      {"SELECT DEPT, COUNT(*) FROM EMP WHERE YEAR > 3000 GROUP BY DEPT"},
      // Two tables joined by WHERE.
      {"SELECT E.EMP_NO, E.NAME, D.DNAME FROM EMP E, DEPTS D WHERE E.DEPT = D.DEPT ORDER BY 1, 2, 3"},
      {"SELECT D.DEPT, D.DNAME, COUNT(*), SUM(E.SALARY), MAX(E.JOINED) FROM EMP E, DEPTS D WHERE E.DEPT = D.DEPT "
       "GROUP BY D.DEPT, D.DNAME ORDER BY 1, 2"},
      {"SELECT E.EMP_NO, D.DEPT, E.SALARY, D.BUDGET FROM EMP E, DEPTS D "
       "WHERE E.DEPT = D.DEPT AND E.SALARY * 100 > D.BUDGET ORDER BY 1, 2, 3, 4"},
      {"SELECT EMP.EMP_NO, DEPTS.HEAD, DEPTS.DEPT FROM EMP, DEPTS WHERE EMP.EMP_NO = DEPTS.HEAD ORDER BY 1, 2, 3"},
      {"SELECT E.EMP_NO, D.DEPT FROM EMP E, DEPTS D "
       "WHERE E.DEPT = D.DEPT OR (E.DEPT IS NULL AND D.DEPT = 'LAB') ORDER BY 1, 2"},
      {"SELECT DISTINCT D.DNAME FROM EMP E, DEPTS D WHERE E.DEPT = D.DEPT AND E.ACTIVE"},
      {"SELECT COUNT(*) FROM EMP E, DEPTS D WHERE E.DEPT <> D.DEPT"},
      {"SELECT D.*, E.EMP_NO FROM EMP E, DEPTS D WHERE E.EMP_NO = D.HEAD ORDER BY 1, 2, 3, 4, 5"},
      {"SELECT * FROM DEPTS D, EMP E WHERE E.DEPT = D.DEPT AND E.YEAR > 2020 "
       "ORDER BY 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12"},
      {"SELECT COUNT(*), COUNT(DISTINCT E.NAME) FROM EMP E, DEPTS D WHERE E.DEPT = D.DEPT AND D.BUDGET > 100000"},
      // Accepted difference: NULL beside a text counts as empty in || .
      {"SELECT EMP_NO || '-' || DEPT FROM EMP ORDER BY 1",
       "SELECT EMP_NO || '-' || COALESCE(DEPT, '') FROM EMP ORDER BY 1"},
      // Accepted difference: a result is held in a table, so its texts lose
      // trailing blanks and an empty one is NULL.
      // Accepted difference: SQLite rounds the binary double nearest to a
      // money value, the engine the exact decimal (1.15 becomes 1.2); SQLite
      // is given the exact ten-thousandths to round.
      {"SELECT EMP_NO, ROUND(SALARY, 1), ROUND(SALARY) FROM EMP ORDER BY 1, 2, 3",
       "SELECT EMP_NO, "
       "(CAST(ROUND(SALARY * 10000) AS INTEGER) + CASE WHEN SALARY < 0 THEN -500 ELSE 500 END) / 1000 / 10.0, "
       "(CAST(ROUND(SALARY * 10000) AS INTEGER) + CASE WHEN SALARY < 0 THEN -5000 ELSE 5000 END) / 10000 "
       "FROM EMP ORDER BY 1, 2, 3"},
      {"SELECT EMP_NO, SUBSTR(NAME, 2, 3) FROM EMP ORDER BY 1, 2",
       "SELECT EMP_NO, NULLIF(RTRIM(SUBSTR(NAME, 2, 3)), '') FROM EMP ORDER BY 1, 2"},
      // Accepted difference, syntax: dates move by whole days with + and -;
      // YEAR() and MONTH() take a date's parts.
      {"SELECT EMP_NO, JOINED + 30, JOINED - 365, YEAR(JOINED), MONTH(JOINED) FROM EMP ORDER BY 1, 2, 3, 4, 5",
       "SELECT EMP_NO, date(JOINED, '+30 days'), date(JOINED, '-365 days'), "
       "CAST(strftime('%Y', JOINED) AS INTEGER), CAST(strftime('%m', JOINED) AS INTEGER) "
       "FROM EMP ORDER BY 1, 2, 3, 4, 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Differences(c.sql, c.lite ? c.lite : c.sql), "");
  }
}

// Changes; each is followed by a comparison of the whole table.
const Case kChanges[] = {
    {"UPDATE EMP SET SALARY = SALARY * 2 WHERE DEPT = 'HR'"},
    {"UPDATE EMP SET BONUS = BONUS + 100.5, YEAR = YEAR + 1 WHERE ACTIVE AND SALARY > 0"},
    {"UPDATE EMP SET NAME = 'Renamed', DEPT = NULL WHERE NAME LIKE 't%'"},
    {"UPDATE EMP SET ACTIVE = 0 WHERE ACTIVE IS NULL"},
    {"UPDATE EMP SET ACTIVE = NOT ACTIVE, YEAR = YEAR * 2 + 1 WHERE DEPT = 'IT'"},
    {"UPDATE EMP SET JOINED = '2020-02-29' WHERE JOINED IS NULL AND YEAR > 2000"},
    {"UPDATE EMP SET SALARY = NULL, BONUS = NULL WHERE BONUS < 0"},
    {"UPDATE EMP SET SALARY = SALARY + BONUS WHERE DEPT IN ('IT', 'FIN')"},
    {"UPDATE EMP SET SALARY = SALARY / 3"},
    {"UPDATE EMP SET YEAR = YEAR / 3 WHERE YEAR % 2 <> 0"},
    {"UPDATE EMP SET YEAR = YEAR + 100 WHERE YEAR < 2000"},
    {"UPDATE EMP SET BONUS = -BONUS"},
    {"UPDATE EMP SET DEPT = UPPER(DEPT) WHERE DEPT IN ('hr', 'Ops')"},
    {"UPDATE EMP SET EMP_NO = EMP_NO || 'x' WHERE YEAR < 1990"},
    // Every assignment reads the row as it was.
    {"UPDATE EMP SET SALARY = BONUS, BONUS = SALARY WHERE ACTIVE"},
    {"UPDATE EMP SET YEAR = YEAR + 1, BONUS = YEAR WHERE YEAR IS NOT NULL"},
    // Conversions on assignment.
    {"UPDATE EMP SET SALARY = BONUS / 3, BONUS = SALARY WHERE DEPT = 'IT'"},
    {"UPDATE EMP SET ACTIVE = SALARY > 1000 WHERE YEAR > 2000"},
    {"UPDATE EMP SET YEAR = '1999', SALARY = '12.5' WHERE NAME = 'Lee'"},
    // UPDATE ... FROM another table.
    {"UPDATE EMP SET NAME = DNAME FROM DEPTS WHERE DEPTS.DEPT = EMP.DEPT"},
    {"UPDATE EMP SET SALARY = BUDGET / 10, BONUS = BONUS * 2 FROM DEPTS WHERE DEPTS.DEPT = EMP.DEPT AND EMP.ACTIVE"},
    {"UPDATE EMP SET NAME = D.DNAME, YEAR = EMP.YEAR - 1 FROM DEPTS D WHERE D.DEPT = EMP.DEPT AND D.BUDGET > 0"},
    {"update emp set Dept = DEPTS.DEPT from DEPTS where UPPER(DEPTS.DEPT) = UPPER(emp.DEPT) and DEPTS.DEPT <> 'hr'"},
    // The storage rules: trailing blanks go, an empty text is NULL, a text
    // is cut to the field's length, money into an integer field is rounded.
    {"UPDATE EMP SET NAME = 'Lee   ' WHERE DEPT = 'OPS'"},
    {"UPDATE EMP SET NAME = '' WHERE DEPT = 'OPS'"},
    {"UPDATE EMP SET DEPT = 'FINANCE' WHERE DEPT = 'FIN'"},
    {"UPDATE EMP SET DEPT = DEPTS.HEAD FROM DEPTS WHERE DEPTS.HEAD = EMP.EMP_NO"},
    {"UPDATE EMP SET YEAR = SALARY WHERE DEPT = 'HR'"},
    // Accepted differences: NULL beside a text counts as empty in ||; dates
    // move by days with +.
    {"UPDATE EMP SET NAME = NAME || ' Jr' WHERE YEAR > 2015",
     "UPDATE EMP SET NAME = COALESCE(NAME, '') || ' Jr' WHERE YEAR > 2015"},
    {"UPDATE EMP SET JOINED = JOINED + 1 WHERE ACTIVE", "UPDATE EMP SET JOINED = date(JOINED, '+1 days') WHERE ACTIVE"},
    // DELETE.
    {"DELETE FROM EMP WHERE SALARY < 0 OR SALARY IS NULL"},
    {"DELETE FROM EMP WHERE NOT ACTIVE"},
    {"DELETE FROM EMP WHERE DEPT NOT IN ('HR', 'FIN')"},
    {"DELETE FROM EMP WHERE JOINED BETWEEN '1990-01-01' AND '1999-12-31' AND NAME <> 'Tan'"},
    {"DELETE FROM EMP WHERE NAME LIKE '%a%' AND BONUS * 2 > SALARY"},
    {"delete from emp where Emp.YEAR > 2015 and emp.Active"},
    {"DELETE FROM EMP WHERE NAME = ''", "DELETE FROM EMP WHERE NAME IS NULL"},
    {"DELETE FROM EMP"},
};

TEST_F(SqlDiffTest, ChangesLeaveTheSameTables) {
  for (const Case& c : kChanges) {
    SCOPED_TRACE(c.sql);
    ReloadEmployees();
    EXPECT_EQ(Change(c), "");
  }
}

// Doubles one bit apart are values of their own in groups and DISTINCT, as
// they are in comparisons.
TEST_F(SqlDiffTest, DoublesOneBitApartGroupApart) {
  LiteExec("CREATE TABLE NUMS (D REAL)");
  std::vector<Row> rows;
  for (double d : {0.8219, std::nextafter(0.8219, 1.0), 0.1 + 0.2, 0.3, 0.0, -0.0, 2.5, 2.5}) {
    rows.push_back({DoubleCell(d)});
  }
  Load("NUMS", "D,Double;", rows, /*create=*/true);
  for (const char* sql : {"SELECT D, COUNT(*) FROM NUMS GROUP BY D", "SELECT DISTINCT D FROM NUMS",
                          "SELECT COUNT(DISTINCT D) FROM NUMS", "SELECT COUNT(*) FROM NUMS WHERE D = 0.8219"}) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(Differences(sql, sql), "");
  }
}

// Whole numbers too large for ten-thousandths in an int64 group and count
// as themselves.
TEST_F(SqlDiffTest, WideWholeNumbersGroup) {
  for (const char* sql : {"SELECT DISTINCT YEAR * 1000000000000 FROM EMP",
                          "SELECT YEAR * 1000000000000, COUNT(*) FROM EMP GROUP BY YEAR * 1000000000000",
                          "SELECT COUNT(DISTINCT YEAR * 1000000000000) FROM EMP"}) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(Differences(sql, sql), "");
  }
}

// The same changes one after the other on one indexed table: rows deleted
// earlier stay deleted, rows changed earlier are changed again, a row moved
// within an index by a change is not changed twice.
TEST_F(SqlDiffTest, ChangesInSequenceLeaveTheSameTables) {
  for (const char* sql : {"CREATE INDEX BYYEAR ON EMP (YEAR)", "CREATE INDEX BYNAME ON EMP (NAME, EMP_NO)"}) {
    std::vector<uint16_t> types;
    ASSERT_EQ(RunEngine(sql, &types).error, "");
    LiteExec(sql);
  }
  for (const Case& c : kChanges) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(Change(c), "");
  }
}

}  // namespace
}  // namespace kx8test
