// SQL benchmark of the engine against SQLite: the statements the upgrade
// sends to a payroll company's tables, run side by side in one process on the
// same generated rows.
//
//   UPDATE T SET A=B WHERE A IS NULL               about half the rows have no A
//   SELECT SUM(X) FROM T
//   SELECT DISTINCT F FROM T                       a few thousand values
//   UPDATE EMP_PROS SET COST_CENTRE=COST_CENTRE_CODE FROM EMPLOYEE
//     WHERE EMPLOYEE.EMP_NO=EMP_PROS.EMP_CODE      the small table updated from
//                                                  the big one and the other way
//                                                  round, each also at half the
//                                                  sizes to show how it grows
//   ALTER TABLE "T.KDT" add column Z char(10)
//   ALTER TABLE "T.KDT" alter column F F char(40)  SQLite cannot change a column:
//                                                  it is timed doing the rebuild
//                                                  it needs (create, copy, drop,
//                                                  rename, index again)
// and, as the physical limit of a restructure, a plain copy of the table's
// files (read+write with 1 MiB buffers and fdatasync, as in engine_bench).
//
// The engine works on a free-table folder and SQLite on a file database, both
// under one temporary folder in /tmp that is removed at exit. SQLite runs
// twice: with journal_mode=OFF and synchronous=OFF (its fastest writes, no
// rollback journal and nothing flushed), and with its default settings. Every
// other SQLite setting is its default; the settings in force are printed.
// Every statement starts from a fresh copy of the loaded tables, made before
// the clock starts, so that repetitions time the same work.
//
// Settings (own flags first, then the environment):
//   --rows=N     or KX8_BENCH_ROWS     rows of T (default 1,000,000); the joined
//                                      tables have N/2 and N/100 rows
//   --sqlite=S   or KX8_BENCH_SQLITE   fast, default or both (default both):
//                                      which SQLite settings to run
// Every other argument goes to the benchmark library (--benchmark_filter=...).
// After the runs a summary table gives each time and the ratio engine/SQLite.
//
// Every engine and SQLite call is checked, and every statement's outcome is
// checked against what the generated rows must give; a failure prints the
// error text and aborts.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"
#include "dbe/dbe.h"

// The engine's tables in tables/, SQLite's databases in sqlite/.
const kx8::bench::Program kx8::bench::kProgram = {"sql_bench", "/tmp/kx8-sqlbench-XXXXXX", "tables", "sqlite"};

namespace {

using namespace kx8::bench;  // the helpers shared with engine_bench
namespace fs = std::filesystem;

// --- settings ----------------------------------------------------------------

struct Settings {
  uint32_t rows = 1000000;
  bool sqlite_fast = true;
  bool sqlite_default = true;
  bool summary_to_stderr = false;  // a machine-readable format owns stdout
};
Settings g_settings;

// The systems compared, in the summary's column order.
enum System { kEngine = 0, kSqliteFast = 1, kSqliteDefault = 2, kSystemCount = 3 };
constexpr const char* kSystemTags[kSystemCount] = {"engine", "sqlite", "sqlite_default"};

constexpr uint32_t kDistinctF = 3000;  // values of T.F

// 1000000 -> "1,000,000"
std::string Count(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// --- files in the workspace ------------------------------------------------------

// A SQLite database's path: they live in their own folder beside the tables.
std::string SqliteFile(const std::string& name) { return Ws().files_dir + "/" + name; }

// Removes a table's files and the backups a restructure leaves beside them.
void RemoveTableFiles(const std::string& name) {
  for (const char* ext : kTableExts) {
    fs::remove(Ws().File(name + ext));
    fs::remove(Ws().File(name + ext + ".BAK"));
  }
}

// Copies a closed table's files under another name.
void CopyTable(const std::string& from, const std::string& to) {
  RemoveTableFiles(to);
  CopyTableFiles(from, to, CopyReadWrite);
}

uint64_t TableBytes(const std::string& name) {
  uint64_t n = 0;
  for (const char* ext : kTableExts) n += FileSize(Ws().File(name + ext));
  return n;
}

// --- the summary --------------------------------------------------------------

struct Result {
  std::string label;
  bool restructure = false;  // also compared with the plain copy of the files
  double seconds[kSystemCount] = {-1, -1, -1};
  std::string note[kSystemCount];
};

std::vector<Result>& Results() {
  static std::vector<Result> r;
  return r;
}

// Keeps the best time of an operation on a system (several repetitions).
void Record(const std::string& label, System sys, double seconds, const std::string& note = "",
            bool restructure = false) {
  for (Result& r : Results()) {
    if (r.label == label) {
      if (r.seconds[sys] < 0 || seconds < r.seconds[sys]) {
        r.seconds[sys] = seconds;
        r.note[sys] = note;
      }
      return;
    }
  }
  Result r;
  r.label = label;
  r.restructure = restructure;
  r.seconds[sys] = seconds;
  r.note[sys] = note;
  Results().push_back(r);
}

const Result* Find(const std::string& label) {
  for (const Result& r : Results()) {
    if (r.label == label) return &r;
  }
  return nullptr;
}

// The settings each SQLite run had, as read back from SQLite.
std::string g_sqlite_settings[kSystemCount];

// --- SQLite -------------------------------------------------------------------

void SqliteCheck(sqlite3* db, int rc, const std::string& what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) [[unlikely]] {
    Die("SQLite: " + what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  }
}

void SqliteExec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::string text = err ? err : sqlite3_errstr(rc);
    sqlite3_free(err);
    Die("SQLite: " + sql + ": " + text);
  }
}

// The first column of every row of a query, as text ("" for NULL).
std::vector<std::string> SqliteQuery(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  SqliteCheck(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), sql);
  std::vector<std::string> out;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const unsigned char* t = sqlite3_column_text(st, 0);
    out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
  }
  SqliteCheck(db, rc, sql);
  sqlite3_finalize(st);
  return out;
}

std::string SqliteScalar(sqlite3* db, const std::string& sql) {
  std::vector<std::string> rows = SqliteQuery(db, sql);
  if (rows.size() != 1) Die("SQLite: " + sql + " gave " + std::to_string(rows.size()) + " rows, not 1");
  return rows[0];
}

void RemoveSqliteFiles(const std::string& path) {
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) fs::remove(path + suffix);
}

// Opens a database with the settings of a system and describes them.
sqlite3* SqliteOpen(const std::string& path, System sys) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) Die("SQLite: cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  if (sys == kSqliteFast) {
    SqliteExec(db, "PRAGMA journal_mode=OFF");
    SqliteExec(db, "PRAGMA synchronous=OFF");
  }
  if (sys != kEngine && g_sqlite_settings[sys].empty()) {
    static constexpr const char* kSync[] = {"OFF", "NORMAL", "FULL", "EXTRA"};
    int sync = std::atoi(SqliteScalar(db, "PRAGMA synchronous").c_str());
    g_sqlite_settings[sys] = "journal_mode=" + SqliteScalar(db, "PRAGMA journal_mode") +
                             " synchronous=" + (sync >= 0 && sync <= 3 ? kSync[sync] : "?") +
                             " cache_size=" + SqliteScalar(db, "PRAGMA cache_size") +
                             " page_size=" + SqliteScalar(db, "PRAGMA page_size") +
                             " temp_store=" + SqliteScalar(db, "PRAGMA temp_store");
  }
  return db;
}

// --- the tables ---------------------------------------------------------------

// A table as both systems create it, and its rows as field texts (an empty
// text is an empty field, NULL in SQLite).
struct TableShape {
  const char* engine_fields;  // DbCreateTable field list
  const char* sqlite_create;  // CREATE TABLE of the same columns, without the name
  int field_count;
  const char* index_field;    // one-field index tag of the same name, or nullptr
};

constexpr int kMaxFields = 8;

struct RowTexts {
  char buf[kMaxFields][48] = {};
  const char* text[kMaxFields] = {};
  uint32_t len[kMaxFields] = {};

  void Set(int f, const char* p, size_t n) {
    text[f] = p;
    len[f] = static_cast<uint32_t>(n);
  }
  void Str(int f, const char* s) { Set(f, s, std::strlen(s)); }
  void Empty(int f) { Set(f, buf[f], 0); }
  void Int(int f, int64_t v) {
    auto r = std::to_chars(buf[f], buf[f] + sizeof buf[f], v);
    Set(f, buf[f], static_cast<size_t>(r.ptr - buf[f]));
  }
  // prefix followed by n in `digits` digits
  void Code(int f, const char* prefix, uint64_t n, int digits) {
    size_t pl = std::strlen(prefix);
    std::memcpy(buf[f], prefix, pl);
    for (int k = digits - 1; k >= 0; --k) {
      buf[f][pl + static_cast<size_t>(k)] = char('0' + n % 10);
      n /= 10;
    }
    Set(f, buf[f], pl + static_cast<size_t>(digits));
  }
  void Cents(int f, int64_t cents) {
    char* p = std::to_chars(buf[f], buf[f] + 24, cents / 100).ptr;
    *p++ = '.';
    *p++ = char('0' + (cents % 100) / 10);
    *p++ = char('0' + cents % 10);
    Set(f, buf[f], static_cast<size_t>(p - buf[f]));
  }
};

// T: the single-table statements' table, about 120 bytes a row.
constexpr TableShape kShapeT = {
    "K,Char,10;A,Integer;B,Integer;X,Double,2;F,Char,20;NAME,Char,30;REMARK,Char,40;",
    "(K CHAR(10), A INTEGER, B INTEGER, X REAL, F CHAR(20), NAME CHAR(30), REMARK CHAR(40))", 7, "K"};

// What the rows of T add up to, for the checks.
struct TFacts {
  uint64_t null_a = 0;     // rows whose A is empty
  int64_t sum_x_cents = 0;
  uint32_t distinct_f = 0;
};

void FillT(uint64_t i, RowTexts& row, TFacts* facts, std::vector<bool>* seen_f) {
  uint64_t h = Mix(i + 1);
  row.Code(0, "K", i, 9);
  bool null_a = (h & 1) != 0;
  if (null_a) {
    row.Empty(1);
  } else {
    row.Int(1, int64_t((h >> 8) % 100000));
  }
  row.Int(2, int64_t((h >> 24) % 100000) + 1);
  int64_t cents = int64_t((h >> 32) % 1000000);
  row.Cents(3, cents);
  uint32_t f = uint32_t((h >> 44) % kDistinctF);
  row.Code(4, "F-", f, 5);
  row.Code(5, "Employee ", i % 50000, 5);
  if ((h >> 2) % 4 == 0) {
    row.Empty(6);
  } else {
    row.Code(6, "Payroll run remark ", (h >> 12) % 1000, 3);
  }
  if (facts != nullptr) {
    facts->null_a += null_a ? 1 : 0;
    facts->sum_x_cents += cents;
    if (!(*seen_f)[f]) {
      (*seen_f)[f] = true;
      ++facts->distinct_f;
    }
  }
}

// EMPLOYEE and EMP_PROS of the joined update.
constexpr TableShape kShapeEmployee = {
    "EMP_NO,Char,10;NAME,Char,30;COST_CENTRE_CODE,Char,12;SALARY,Double,2;",
    "(EMP_NO CHAR(10), NAME CHAR(30), COST_CENTRE_CODE CHAR(12), SALARY REAL)", 4, nullptr};
constexpr TableShape kShapeEmpPros = {
    "EMP_CODE,Char,10;COST_CENTRE,Char,12;NEW_SALARY,Double,2;REMARK,Char,20;",
    "(EMP_CODE CHAR(10), COST_CENTRE CHAR(12), NEW_SALARY REAL, REMARK CHAR(20))", 4, nullptr};

constexpr const char* kJoinSql =
    "UPDATE EMP_PROS SET COST_CENTRE=COST_CENTRE_CODE FROM EMPLOYEE WHERE EMPLOYEE.EMP_NO=EMP_PROS.EMP_CODE";

// Employee j of `employees`: rows in a scattered order, numbers E0000000...
uint64_t EmployeeAt(uint64_t j, uint64_t employees) {
  // A multiplier prime to the count walks every number once.
  uint64_t step = 2654435761ull % employees;
  while (step == 0 || std::gcd(step, employees) != 1) step = (step + 1) % employees;
  return (j * step) % employees;
}

void FillEmployee(uint64_t j, uint64_t employees, RowTexts& row) {
  uint64_t e = EmployeeAt(j, employees);
  uint64_t h = Mix(e + 99);
  row.Code(0, "E", e, 8);
  row.Code(1, "Employee name ", e % 100000, 5);
  row.Code(2, "CC-", h % 500, 4);
  row.Cents(3, int64_t(200000 + h % 800000));
}

// Row r of EMP_PROS: about one row in sixteen names no employee and keeps
// COST_CENTRE "OLD".
bool FillEmpPros(uint64_t r, uint64_t employees, RowTexts& row) {
  uint64_t h = Mix(r + 12345);
  bool unmatched = h % 16 == 0;
  if (unmatched) {
    row.Code(0, "N", r, 8);
  } else {
    row.Code(0, "E", (h >> 8) % employees, 8);
  }
  row.Str(1, "OLD");
  row.Cents(2, int64_t(200000 + (h >> 20) % 800000));
  if ((h >> 4) % 3 == 0) {
    row.Empty(3);
  } else {
    row.Str(3, "promotion 2024");
  }
  return unmatched;
}

template <typename Fill>
double LoadEngine(const std::string& name, const TableShape& shape, const char* const* names, uint64_t rows,
                  Fill fill) {
  RemoveTableFiles(name);
  auto t0 = Clock::now();
  DBHANDLE t = 0;
  DB(DbCreateTable(Ws().conn, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                   DBE_RIGHTS_IGNORE, 0, shape.engine_fields, 0, &t));
  if (shape.index_field != nullptr) {
    DB(DbCreateIndex(t, nullptr, shape.index_field, shape.index_field, nullptr, nullptr, 0, 0, nullptr));
  }
  RowTexts row;
  for (uint64_t i = 0; i < rows; ++i) {
    fill(i, row);
    DB(DbAppendRecord(t));
    for (int f = 0; f < shape.field_count; ++f) {
      if (row.len[f] != 0) DB(DbSetField(t, names[f], row.text[f], row.len[f]));
    }
    DB(DbWriteRecord(t));
  }
  DB(DbCloseTable(t));
  return Seconds(t0, Clock::now());
}

template <typename Fill>
double LoadSqlite(sqlite3* db, const std::string& table, const TableShape& shape, uint64_t rows, Fill fill) {
  auto t0 = Clock::now();
  SqliteExec(db, "BEGIN");
  SqliteExec(db, "CREATE TABLE " + table + " " + shape.sqlite_create);
  std::string insert = "INSERT INTO " + table + " VALUES (";
  for (int f = 0; f < shape.field_count; ++f) insert += f ? ",?" : "?";
  insert += ")";
  sqlite3_stmt* st = nullptr;
  SqliteCheck(db, sqlite3_prepare_v2(db, insert.c_str(), -1, &st, nullptr), insert);
  RowTexts row;
  for (uint64_t i = 0; i < rows; ++i) {
    fill(i, row);
    for (int f = 0; f < shape.field_count; ++f) {
      // Text into the columns' affinity gives integers and reals as in the engine.
      if (row.len[f] == 0) {
        sqlite3_bind_null(st, f + 1);
      } else {
        sqlite3_bind_text(st, f + 1, row.text[f], int(row.len[f]), SQLITE_STATIC);
      }
    }
    SqliteCheck(db, sqlite3_step(st), insert);
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  if (shape.index_field != nullptr) {
    SqliteExec(db, std::string("CREATE INDEX ") + table + "_" + shape.index_field + " ON " + table + " (" +
                       shape.index_field + ")");
  }
  SqliteExec(db, "COMMIT");
  return Seconds(t0, Clock::now());
}

constexpr const char* kNamesT[] = {"K", "A", "B", "X", "F", "NAME", "REMARK"};
constexpr const char* kNamesEmployee[] = {"EMP_NO", "NAME", "COST_CENTRE_CODE", "SALARY"};
constexpr const char* kNamesEmpPros[] = {"EMP_CODE", "COST_CENTRE", "NEW_SALARY", "REMARK"};

// The loaded T: T_BASE in the engine's folder, t in T.db.
struct BaseT {
  bool built = false;
  TFacts facts;
};
BaseT g_base_t;

void EnsureT() {
  if (g_base_t.built) return;
  const uint32_t rows = g_settings.rows;
  std::fprintf(stderr, "sql_bench: loading T (%s rows) into the engine and SQLite...\n", Count(rows).c_str());
  std::vector<bool> seen(kDistinctF, false);
  TFacts facts;
  double engine_s = LoadEngine("T_BASE", kShapeT, kNamesT, rows,
                               [&](uint64_t i, RowTexts& row) { FillT(i, row, &facts, &seen); });
  std::string path = SqliteFile("T.db");
  RemoveSqliteFiles(path);
  sqlite3* db = SqliteOpen(path, kSqliteFast);
  double sqlite_s = LoadSqlite(db, "T", kShapeT, rows,
                               [](uint64_t i, RowTexts& row) { FillT(i, row, nullptr, nullptr); });
  SqliteCheck(db, sqlite3_close(db), "close");
  g_base_t.facts = facts;
  g_base_t.built = true;
  // The loads are a by-product: both times include making the texts.
  Record("load T (append / INSERT, index on K)", kEngine, engine_s,
         Fixed(double(TableBytes("T_BASE")) / 1e6, 1) + " MB of table files");
  Record("load T (append / INSERT, index on K)", kSqliteFast, sqlite_s,
         Fixed(double(FileSize(path)) / 1e6, 1) + " MB database");
}

// The joined update's four cases.
struct JoinCase {
  const char* key;      // table name suffix
  bool small_updated;   // EMP_PROS is the small table
  uint32_t divisor;     // 1 full sizes, 2 half sizes
  bool built = false;
  uint64_t pros_rows = 0, employees = 0, unmatched = 0;
};

JoinCase g_join[4] = {
    {"SB", true, 1}, {"SB2", true, 2}, {"BS", false, 1}, {"BS2", false, 2}};

uint64_t BigRows() { return std::max<uint64_t>(2, g_settings.rows / 2); }
uint64_t SmallRows() { return std::max<uint64_t>(2, g_settings.rows / 100); }

std::string JoinLabel(const JoinCase& c) {
  uint64_t big = BigRows() / c.divisor, small = SmallRows() / c.divisor;
  return c.small_updated ? "UPDATE..FROM: " + Count(small) + " from " + Count(big)
                         : "UPDATE..FROM: " + Count(big) + " from " + Count(small);
}

void EnsureJoin(JoinCase& c) {
  if (c.built) return;
  uint64_t big = BigRows() / c.divisor, small = SmallRows() / c.divisor;
  c.pros_rows = c.small_updated ? small : big;
  c.employees = c.small_updated ? big : small;
  std::fprintf(stderr, "sql_bench: loading EMP_PROS (%s rows) and EMPLOYEE (%s rows)...\n",
               Count(c.pros_rows).c_str(), Count(c.employees).c_str());
  uint64_t unmatched = 0;
  const uint64_t employees = c.employees;
  std::string suffix = c.key;
  LoadEngine("JE_" + suffix, kShapeEmployee, kNamesEmployee, employees,
             [&](uint64_t j, RowTexts& row) { FillEmployee(j, employees, row); });
  LoadEngine("JP_" + suffix, kShapeEmpPros, kNamesEmpPros, c.pros_rows,
             [&](uint64_t r, RowTexts& row) { unmatched += FillEmpPros(r, employees, row) ? 1 : 0; });
  std::string path = SqliteFile("JOIN_" + suffix + ".db");
  RemoveSqliteFiles(path);
  sqlite3* db = SqliteOpen(path, kSqliteFast);
  LoadSqlite(db, "EMPLOYEE", kShapeEmployee, employees,
             [&](uint64_t j, RowTexts& row) { FillEmployee(j, employees, row); });
  LoadSqlite(db, "EMP_PROS", kShapeEmpPros, c.pros_rows,
             [&](uint64_t r, RowTexts& row) { FillEmpPros(r, employees, row); });
  SqliteCheck(db, sqlite3_close(db), "close");
  c.unmatched = unmatched;
  c.built = true;
}

// --- running statements ----------------------------------------------------------

// An engine statement handle for one benchmark run.
class EngineStatement {
 public:
  EngineStatement() { DB(DbCreateSQLStatement(Ws().conn, &stmt_)); }
  ~EngineStatement() { DbCloseSQLStatement(stmt_); }
  EngineStatement(const EngineStatement&) = delete;
  EngineStatement& operator=(const EngineStatement&) = delete;

  // Runs a statement; a cursor, if any, is returned (0 when none).
  DBHANDLE Run(const std::string& sql) {
    DBRESULT rc = DbPrepareSQL(stmt_, sql.c_str());
    if (rc == DBE_SUCCESS) {
      DBHANDLE cur = 0;
      rc = DbExecuteSQL(stmt_, &cur);
      if (rc == DBE_SUCCESS) return cur;
    }
    Die("engine: " + sql + " failed with " + std::to_string(rc) + ": " + EngineErrorText());
  }

  void Exec(const std::string& sql) {
    DBHANDLE cur = Run(sql);
    if (cur != 0) DB(DbCloseTable(cur));
  }

  // The first column of every row of a query ("" for an empty value).
  std::vector<std::string> Query(const std::string& sql) {
    DBHANDLE cur = Run(sql);
    std::vector<std::string> out;
    if (cur == 0) return out;
    ReadFirstColumn(cur, [&](const char* p, uint32_t n) { out.emplace_back(p, n); });
    DB(DbCloseTable(cur));
    return out;
  }

  std::string Scalar(const std::string& sql) {
    std::vector<std::string> rows = Query(sql);
    if (rows.size() != 1) Die("engine: " + sql + " gave " + std::to_string(rows.size()) + " rows, not 1");
    return rows[0];
  }

  template <typename Use>
  static void ReadFirstColumn(DBHANDLE cur, Use use) {
    char buf[256];
    uint16_t eof = 0;
    DB(DbGotoTop(cur));
    DB(DbAtEOF(cur, &eof));
    while (!eof) {
      uint32_t len = sizeof buf;
      DB(DbGetString(cur, DBE_FIELD_ORDINAL(1), buf, &len));
      use(buf, len);
      DB(DbSkip(cur, 1));
      DB(DbAtEOF(cur, &eof));
    }
  }

 private:
  DBHANDLE stmt_ = 0;
};

// A fresh T for the engine: T_BASE's files copied to T.
void FreshEngineT() {
  EnsureT();
  CopyTable("T_BASE", "T");
  ::sync();
}

// A fresh copy of a loaded SQLite database, opened with a system's settings.
sqlite3* FreshSqlite(const std::string& base, System sys) {
  std::string work = SqliteFile("work.db");
  RemoveSqliteFiles(work);
  CopyReadWrite(SqliteFile(base), work);
  ::sync();
  return SqliteOpen(work, sys);
}

void SqliteClose(sqlite3* db) { SqliteCheck(db, sqlite3_close(db), "close"); }

int64_t ToInt(const std::string& s) { return std::strtoll(s.c_str(), nullptr, 10); }

// Times one statement (or the given work) on the engine or on SQLite.
using EngineWork = double (*)(EngineStatement&, std::string* note);
using SqliteWork = double (*)(sqlite3*, std::string* note);

// --- the statements ---------------------------------------------------------------

const std::string kUpdateLabel = "UPDATE T SET A=B WHERE A IS NULL";
const std::string kSumLabel = "SELECT SUM(X) FROM T";
const std::string kDistinctLabel = "SELECT DISTINCT F FROM T";
const std::string kAddLabel = "ALTER TABLE T ADD COLUMN Z char(10)";
const std::string kWidenLabel = "widen F char(20) -> char(40)";
const std::string kCopyLabel = "plain copy of the table's files";

void CheckNoNullA(int64_t left, const char* who) {
  if (left != 0) Die(std::string(who) + ": " + std::to_string(left) + " rows still have no A after the update");
}

double EngineUpdate(EngineStatement& es, std::string* note) {
  auto t0 = Clock::now();
  es.Exec("UPDATE T SET A=B WHERE A IS NULL");
  double s = Seconds(t0, Clock::now());
  CheckNoNullA(ToInt(es.Scalar("SELECT COUNT(*) FROM T WHERE A IS NULL")), "engine");
  *note = Count(g_base_t.facts.null_a) + " of " + Count(g_settings.rows) + " rows changed";
  return s;
}

double SqliteUpdate(sqlite3* db, std::string* note) {
  auto t0 = Clock::now();
  SqliteExec(db, "UPDATE T SET A=B WHERE A IS NULL");
  double s = Seconds(t0, Clock::now());
  if (uint64_t(sqlite3_changes(db)) != g_base_t.facts.null_a) Die("SQLite: the update changed the wrong rows");
  CheckNoNullA(ToInt(SqliteScalar(db, "SELECT COUNT(*) FROM T WHERE A IS NULL")), "SQLite");
  *note = "";
  return s;
}

void CheckSum(const std::string& text, const char* who) {
  double got = std::strtod(text.c_str(), nullptr);
  double want = double(g_base_t.facts.sum_x_cents) / 100.0;
  if (std::fabs(got - want) > 1e-9 * std::max(1.0, std::fabs(want)) + 0.005) {
    Die(std::string(who) + ": SUM(X) gave " + text + ", expected " + Fixed(want, 2));
  }
}

double EngineSum(EngineStatement& es, std::string* note) {
  auto t0 = Clock::now();
  std::string sum = es.Scalar("SELECT SUM(X) FROM T");
  double s = Seconds(t0, Clock::now());
  CheckSum(sum, "engine");
  *note = Fixed(s / g_settings.rows * 1e9, 1) + " ns/row";
  return s;
}

double SqliteSum(sqlite3* db, std::string* note) {
  auto t0 = Clock::now();
  std::string sum = SqliteScalar(db, "SELECT SUM(X) FROM T");
  double s = Seconds(t0, Clock::now());
  CheckSum(sum, "SQLite");
  *note = Fixed(s / g_settings.rows * 1e9, 1) + " ns/row";
  return s;
}

void CheckDistinct(uint64_t got, const char* who) {
  if (got != g_base_t.facts.distinct_f) {
    Die(std::string(who) + ": DISTINCT F gave " + std::to_string(got) + " values, expected " +
        std::to_string(g_base_t.facts.distinct_f));
  }
}

// Both read every value of the result, as the upgrade does.
double EngineDistinct(EngineStatement& es, std::string* note) {
  auto t0 = Clock::now();
  DBHANDLE cur = es.Run("SELECT DISTINCT F FROM T");
  uint64_t n = 0, bytes = 0;
  EngineStatement::ReadFirstColumn(cur, [&](const char*, uint32_t len) {
    ++n;
    bytes += len;
  });
  DB(DbCloseTable(cur));
  double s = Seconds(t0, Clock::now());
  benchmark::DoNotOptimize(bytes);
  CheckDistinct(n, "engine");
  *note = Count(n) + " values";
  return s;
}

double SqliteDistinct(sqlite3* db, std::string* note) {
  auto t0 = Clock::now();
  sqlite3_stmt* st = nullptr;
  SqliteCheck(db, sqlite3_prepare_v2(db, "SELECT DISTINCT F FROM T", -1, &st, nullptr), "DISTINCT");
  uint64_t n = 0, bytes = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    ++n;
    bytes += uint64_t(sqlite3_column_bytes(st, 0)) + (sqlite3_column_text(st, 0) != nullptr);
  }
  SqliteCheck(db, rc, "DISTINCT");
  sqlite3_finalize(st);
  double s = Seconds(t0, Clock::now());
  benchmark::DoNotOptimize(bytes);
  CheckDistinct(n, "SQLite");
  *note = "";
  return s;
}

void CheckRows(uint64_t got, const char* who) {
  if (got != g_settings.rows) Die(std::string(who) + ": the table has " + std::to_string(got) + " rows after the change");
}

double EngineAddColumn(EngineStatement& es, std::string* note) {
  uint64_t bytes = TableBytes("T");
  auto t0 = Clock::now();
  es.Exec("ALTER TABLE \"T.KDT\" add column Z char(10)");
  double s = Seconds(t0, Clock::now());
  CheckRows(uint64_t(ToInt(es.Scalar("SELECT COUNT(*) FROM T WHERE Z IS NULL"))), "engine");
  *note = "rewrites " + Fixed(double(bytes) / 1e6, 1) + " MB";
  return s;
}

double SqliteAddColumn(sqlite3* db, std::string* note) {
  auto t0 = Clock::now();
  SqliteExec(db, "ALTER TABLE T ADD COLUMN Z char(10)");
  double s = Seconds(t0, Clock::now());
  CheckRows(uint64_t(ToInt(SqliteScalar(db, "SELECT COUNT(*) FROM T WHERE Z IS NULL"))), "SQLite");
  *note = "changes the schema only";
  return s;
}

double EngineWiden(EngineStatement& es, std::string* note) {
  uint64_t bytes = TableBytes("T");
  auto t0 = Clock::now();
  es.Exec("ALTER TABLE \"T.KDT\" alter column F F char(40)");
  double s = Seconds(t0, Clock::now());
  CheckDistinct(es.Query("SELECT DISTINCT F FROM T").size(), "engine after widening");
  DBHANDLE t = 0;
  DB(DbOpenTable(Ws().conn, "T", nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY, DBE_RIGHTS_IGNORE,
                 DBE_OPEN_SHARED, &t));
  uint32_t len = 0, count = 0;
  DB(DbGetFieldLength(t, "F", &len));
  DB(DbGetRecordCount(t, DBE_COUNT_ALL, &count));
  DB(DbCloseTable(t));
  if (len != 40) Die("engine: F has length " + std::to_string(len) + " after widening");
  CheckRows(count, "engine");
  *note = "rewrites " + Fixed(double(bytes) / 1e6, 1) + " MB";
  return s;
}

double SqliteWiden(sqlite3* db, std::string* note) {
  auto t0 = Clock::now();
  SqliteExec(db, "BEGIN");
  SqliteExec(db,
             "CREATE TABLE T_NEW (K CHAR(10), A INTEGER, B INTEGER, X REAL, F CHAR(40), NAME CHAR(30), "
             "REMARK CHAR(40))");
  SqliteExec(db, "INSERT INTO T_NEW SELECT * FROM T");
  SqliteExec(db, "DROP TABLE T");
  SqliteExec(db, "ALTER TABLE T_NEW RENAME TO T");
  SqliteExec(db, "CREATE INDEX T_K ON T (K)");
  SqliteExec(db, "COMMIT");
  double s = Seconds(t0, Clock::now());
  CheckRows(uint64_t(ToInt(SqliteScalar(db, "SELECT COUNT(*) FROM T"))), "SQLite");
  *note = "CREATE, INSERT SELECT, DROP, RENAME, CREATE INDEX";
  return s;
}

// --- benchmarks ----------------------------------------------------------------

// One statement on T on the engine.
void RunEngineT(benchmark::State& state, const std::string& label, EngineWork work, bool restructure) {
  for (auto _ : state) {
    FreshEngineT();
    EngineStatement es;
    std::string note;
    double s = work(es, &note);
    state.SetIterationTime(s);
    Record(label, kEngine, s, note, restructure);
  }
}

// One statement on T on SQLite.
void RunSqliteT(benchmark::State& state, const std::string& label, System sys, SqliteWork work, bool restructure) {
  for (auto _ : state) {
    EnsureT();
    sqlite3* db = FreshSqlite("T.db", sys);
    std::string note;
    double s = work(db, &note);
    SqliteClose(db);
    state.SetIterationTime(s);
    Record(label, sys, s, note, restructure);
  }
}

void BM_EngineJoin(benchmark::State& state, JoinCase* c) {
  for (auto _ : state) {
    EnsureJoin(*c);
    std::string suffix = c->key;
    CopyTable("JE_" + suffix, "EMPLOYEE");
    CopyTable("JP_" + suffix, "EMP_PROS");
    ::sync();
    EngineStatement es;
    auto t0 = Clock::now();
    es.Exec(kJoinSql);
    double s = Seconds(t0, Clock::now());
    uint64_t old = uint64_t(ToInt(es.Scalar("SELECT COUNT(*) FROM EMP_PROS WHERE COST_CENTRE = 'OLD'")));
    if (old != c->unmatched) {
      Die("engine: the joined update left " + std::to_string(old) + " rows unmatched, expected " +
          std::to_string(c->unmatched));
    }
    state.SetIterationTime(s);
    Record(JoinLabel(*c), kEngine, s,
           Count(c->pros_rows - c->unmatched) + " rows changed; " +
               Fixed(s / double(c->pros_rows + c->employees) * 1e9, 0) + " ns per row of both");
  }
}

void BM_SqliteJoin(benchmark::State& state, JoinCase* c, System sys) {
  for (auto _ : state) {
    EnsureJoin(*c);
    sqlite3* db = FreshSqlite(std::string("JOIN_") + c->key + ".db", sys);
    auto t0 = Clock::now();
    SqliteExec(db, kJoinSql);
    double s = Seconds(t0, Clock::now());
    uint64_t old = uint64_t(ToInt(SqliteScalar(db, "SELECT COUNT(*) FROM EMP_PROS WHERE COST_CENTRE = 'OLD'")));
    if (old != c->unmatched) Die("SQLite: the joined update left " + std::to_string(old) + " rows unmatched");
    SqliteClose(db);
    state.SetIterationTime(s);
    Record(JoinLabel(*c), sys, s);
  }
}

// The physical limit of a restructure: copying the files of T (and, for
// scale, SQLite's database file of the same rows).
void BM_EngineCopy(benchmark::State& state) {
  for (auto _ : state) {
    FreshEngineT();
    uint64_t bytes = TableBytes("T");
    RemoveTableFiles("T_COPY");
    ::sync();
    auto t0 = Clock::now();
    CopyTableFiles("T", "T_COPY", CopyReadWrite);
    double s = Seconds(t0, Clock::now());
    RemoveTableFiles("T_COPY");
    state.SetIterationTime(s);
    Record(kCopyLabel, kEngine, s, Fixed(double(bytes) / 1e6, 1) + " MB (.KDT + .KDI)");
  }
}

void BM_SqliteCopy(benchmark::State& state) {
  for (auto _ : state) {
    EnsureT();
    std::string from = SqliteFile("T.db"), to = SqliteFile("copy.db");
    ::sync();
    auto t0 = Clock::now();
    CopyReadWrite(from, to);
    double s = Seconds(t0, Clock::now());
    fs::remove(to);
    state.SetIterationTime(s);
    Record(kCopyLabel, kSqliteFast, s, Fixed(double(FileSize(from)) / 1e6, 1) + " MB database file");
  }
}

// --- the summary table ------------------------------------------------------------

std::string Secs(double s) { return s < 0 ? "-" : Fixed(s, 4); }

std::string Ratio(double a, double b) { return a < 0 || b <= 0 ? "-" : Fixed(a / b, 2); }

void PrintSummary() {
  if (Results().empty()) return;
  FILE* out = g_settings.summary_to_stderr ? stderr : stdout;
  std::fprintf(out, "\nSummary: T %s rows; EMP_PROS/EMPLOYEE %s and %s rows (and half)\n",
               Count(g_settings.rows).c_str(), Count(BigRows()).c_str(), Count(SmallRows()).c_str());
  std::fprintf(out, "SQLite %s on a file database\n", sqlite3_libversion());
  if (!g_sqlite_settings[kSqliteFast].empty()) {
    std::fprintf(out, "  sqlite:  %s\n", g_sqlite_settings[kSqliteFast].c_str());
  }
  if (!g_sqlite_settings[kSqliteDefault].empty()) {
    std::fprintf(out, "  default: %s (SQLite's defaults)\n", g_sqlite_settings[kSqliteDefault].c_str());
  }
  std::fprintf(out, "eng/sql: engine time / SQLite time; x copy: engine time / plain copy of T's files\n");
  const Result* copy = Find(kCopyLabel);
  double copy_s = copy ? copy->seconds[kEngine] : -1;
  std::fprintf(out, "%-40s %9s %9s %8s %9s %8s %7s  %s\n", "operation", "engine s", "sqlite s", "eng/sql",
               "default s", "eng/def", "x copy", "note (engine | sqlite)");
  std::fprintf(out, "%s\n", std::string(120, '-').c_str());
  for (const Result& r : Results()) {
    std::string xc = r.restructure ? Ratio(r.seconds[kEngine], copy_s) : "";
    std::string note = r.note[kEngine];
    if (!r.note[kSqliteFast].empty()) note += (note.empty() ? "| " : " | ") + r.note[kSqliteFast];
    std::fprintf(out, "%-40s %9s %9s %8s %9s %8s %7s  %s\n", r.label.c_str(), Secs(r.seconds[kEngine]).c_str(),
                 Secs(r.seconds[kSqliteFast]).c_str(), Ratio(r.seconds[kEngine], r.seconds[kSqliteFast]).c_str(),
                 Secs(r.seconds[kSqliteDefault]).c_str(),
                 Ratio(r.seconds[kEngine], r.seconds[kSqliteDefault]).c_str(), xc.c_str(), note.c_str());
  }
  // How the joined update grows: both tables doubled should double the time
  // (linear), and would quadruple it if every pair of rows were compared.
  bool header = false;
  for (int k = 0; k < 4; k += 2) {
    const Result* full = Find(JoinLabel(g_join[k]));
    const Result* half = Find(JoinLabel(g_join[k + 1]));
    if (full == nullptr || half == nullptr) continue;
    if (!header) {
      std::fprintf(out, "\nUPDATE..FROM growth from half to full sizes (linear: 2.0, every pair of rows: 4.0)\n");
      header = true;
    }
    std::fprintf(out, "  %-44s engine %5s   sqlite %5s   default %5s\n",
                 (g_join[k].small_updated ? "small table updated from the big one:" : "big table updated from the small one:"),
                 Ratio(full->seconds[kEngine], half->seconds[kEngine]).c_str(),
                 Ratio(full->seconds[kSqliteFast], half->seconds[kSqliteFast]).c_str(),
                 Ratio(full->seconds[kSqliteDefault], half->seconds[kSqliteDefault]).c_str());
  }
  std::fflush(out);
}

// --- registration and main --------------------------------------------------------

template <typename Fn>
void Add(const std::string& name, Fn fn) {
  benchmark::RegisterBenchmark(name.c_str(), fn)->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();
}

void Register() {
  struct TStatement {
    const char* name;
    const std::string* label;
    EngineWork engine;
    SqliteWork sqlite;
    bool restructure;
  };
  static const TStatement kT[] = {
      {"Dml/UpdateWhereNull", &kUpdateLabel, EngineUpdate, SqliteUpdate, false},
      {"Query/Sum", &kSumLabel, EngineSum, SqliteSum, false},
      {"Query/Distinct", &kDistinctLabel, EngineDistinct, SqliteDistinct, false},
  };
  static const TStatement kRestructure[] = {
      {"Restructure/AddColumn", &kAddLabel, EngineAddColumn, SqliteAddColumn, true},
      {"Restructure/WidenChar", &kWidenLabel, EngineWiden, SqliteWiden, true},
  };
  auto add_t = [](const TStatement& st) {
    Add(std::string(st.name) + "/engine",
        [&st](benchmark::State& s) { RunEngineT(s, *st.label, st.engine, st.restructure); });
    for (System sys : {kSqliteFast, kSqliteDefault}) {
      if (sys == kSqliteFast ? !g_settings.sqlite_fast : !g_settings.sqlite_default) continue;
      Add(std::string(st.name) + "/" + kSystemTags[sys],
          [&st, sys](benchmark::State& s) { RunSqliteT(s, *st.label, sys, st.sqlite, st.restructure); });
    }
  };
  for (const TStatement& st : kT) add_t(st);
  static const char* kJoinNames[4] = {"Join/SmallFromBig", "Join/SmallFromBigHalf", "Join/BigFromSmall",
                                      "Join/BigFromSmallHalf"};
  for (int k = 0; k < 4; ++k) {
    JoinCase* c = &g_join[k];
    Add(std::string(kJoinNames[k]) + "/engine", [c](benchmark::State& s) { BM_EngineJoin(s, c); });
    for (System sys : {kSqliteFast, kSqliteDefault}) {
      if (sys == kSqliteFast ? !g_settings.sqlite_fast : !g_settings.sqlite_default) continue;
      Add(std::string(kJoinNames[k]) + "/" + kSystemTags[sys],
          [c, sys](benchmark::State& s) { BM_SqliteJoin(s, c, sys); });
    }
  }
  Add("Plain/CopyTableFiles/engine", BM_EngineCopy);
  Add("Plain/CopyDatabaseFile/sqlite", BM_SqliteCopy);
  for (const TStatement& st : kRestructure) add_t(st);
}

bool ParseSqlite(std::string_view text) {
  if (text == "fast") {
    g_settings.sqlite_fast = true;
    g_settings.sqlite_default = false;
  } else if (text == "default") {
    g_settings.sqlite_fast = false;
    g_settings.sqlite_default = true;
  } else if (text == "both") {
    g_settings.sqlite_fast = g_settings.sqlite_default = true;
  } else {
    return false;
  }
  return true;
}

void ReadSettings(int* argc, char** argv) {
  CountFromEnv("KX8_BENCH_ROWS", &g_settings.rows);
  const char* sqlite = std::getenv("KX8_BENCH_SQLITE");
  if (sqlite != nullptr && *sqlite != '\0' && !ParseSqlite(sqlite)) {
    std::fprintf(stderr, "sql_bench: KX8_BENCH_SQLITE=%s: expected fast, default or both\n", sqlite);
    std::exit(2);
  }
  g_settings.summary_to_stderr = TakeOwnArguments(argc, argv, [](std::string_view a) {
    if (CountFlag(a, "--rows=", &g_settings.rows)) return true;
    if (a.rfind("--sqlite=", 0) != 0) return false;
    if (!ParseSqlite(a.substr(9))) {
      std::fprintf(stderr, "sql_bench: %.*s: expected fast, default or both\n", static_cast<int>(a.size()), a.data());
      std::exit(2);
    }
    return true;
  });
}

}  // namespace

int main(int argc, char** argv) {
  ReadSettings(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Register();
  std::fprintf(g_settings.summary_to_stderr ? stderr : stdout,
               "sql_bench: SQL statements on %s rows, engine against SQLite %s\n", Count(g_settings.rows).c_str(),
               sqlite3_libversion());
  std::fflush(stdout);
  benchmark::RunSpecifiedBenchmarks();
  PrintSummary();
  benchmark::Shutdown();
  RemoveWorkspace();
  return 0;
}
