// Storage benchmark of the engine on a table shaped like payroll history
// (20 fields, 200 bytes a row): appending with and without an index, scans in
// record and index order, exact seeks, pack, encryption and decryption, and,
// as the physical limit, a plain copy and a plain read of the table's data
// file.
//
// The table is built once per process in a temporary folder under /tmp that
// is removed at exit. Settings (own flags first, then the environment):
//   --rows=N   or KX8_BENCH_ROWS    rows in the table (default 1,000,000)
//   --seeks=N  or KX8_BENCH_SEEKS   exact seeks to time (default 100,000)
// Every other argument goes to the benchmark library (--benchmark_filter=...).
// After the runs a summary table compares each operation with the plain copy
// and the plain read of the data file.
//
// Every engine call is checked; a failure prints the engine's error text and
// aborts.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"
#include "crypto/cipher.h"
#include "dbe/dbe.h"

// The tables go straight into the temporary folder.
const kx8::bench::Program kx8::bench::kProgram = {"engine_bench", "/tmp/kx8-bench-XXXXXX", nullptr, nullptr};

namespace {

using namespace kx8::bench;  // the helpers shared with sql_bench
namespace fs = std::filesystem;

// --- settings ----------------------------------------------------------------

struct Settings {
  uint32_t rows = 1000000;
  uint32_t seeks = 100000;
  bool summary_to_stderr = false;  // a machine-readable format owns stdout
};
Settings g_settings;

constexpr const char* kPassword = "Payroll#History-2024";
constexpr const char* kTagName = "EMP_KEY";
constexpr const char* kTagExpr = "EMP_NO;YEAR;MONTH";
constexpr uint32_t kEmployees = 5000;  // rows come month by month for this many employees

// --- before every timed operation -----------------------------------------------

// Writes of earlier steps go to disk first, and memory is made ready for the
// files the operation writes. On a virtual machine that hands memory its
// guest has freed back to the host (free page reporting), the first write
// to such a page costs a fault in the host: writing 240 MB into the page
// cache then takes 0.5-0.7 s instead of 0.06 s, and whether an operation
// pays it depends on what ran before it (a copy right after the table was
// built found its pages warm, an encryption after it did not). Writing and
// deleting a scratch file larger than what the operation writes leaves the
// page cache's own pages free and warm (on the machine this was measured
// on, memory a process freed went back to the host within a second or two,
// freed page-cache pages mostly did not), so every operation starts on the
// same footing; on a machine without this it costs only the writing.
void SettleBeforeTiming();

// --- the data folder ----------------------------------------------------------

// How far this process has got with the shared tables (in Ws()'s folder).
struct Progress {
  bool base_built = false;        // HIST holds all rows and its index
  bool encrypted_ready = false;   // HIST_ENC is an encrypted copy of HIST
  bool first_format_built = false;  // HIST_V1 holds HIST's rows in format 1
  bool twin_built = false;          // HIST_V2 holds HIST's bytes, written in one piece
  double gen_seconds = -1;        // cost of making the field texts alone
};
Progress g_progress;

// --- the table ----------------------------------------------------------------

constexpr const char* kFieldList =
    "EMP_NO,Char,10;YEAR,ShortInt;MONTH,ShortInt;TYPE,Char,3;PAYGROUP,Char,8;PAY_DATE,Date;"
    "DEPT,Char,10;COST_CENTRE,Char,12;TAX_CODE,Char,8;BASIC,Money;OVERTIME,Money;ALLOWANCES,Money;"
    "GROSS,Money;TAX,Money;SOCIAL_SEC,Money;NET,Money;HOURS,Double,2;RATE,Double,4;PAID,Logical;"
    "REMARK,Char,64;";

constexpr int kFieldCount = 20;
constexpr const char* kFieldNames[kFieldCount] = {
    "EMP_NO", "YEAR",  "MONTH",      "TYPE",  "PAYGROUP", "PAY_DATE", "DEPT",
    "COST_CENTRE", "TAX_CODE", "BASIC", "OVERTIME", "ALLOWANCES", "GROSS", "TAX",
    "SOCIAL_SEC", "NET", "HOURS", "RATE", "PAID", "REMARK"};

// Where row i (0-based) stands: rows are appended month by month, each month
// holding one row per employee, so the key EMP_NO;YEAR;MONTH is unique and
// arrives out of key order, as a real history file grows.
struct RowKey {
  uint32_t employee;
  int year;
  int month;
};

uint32_t Employees() { return std::max<uint32_t>(1, std::min(kEmployees, g_settings.rows)); }

RowKey KeyOfRow(uint64_t i) {
  uint32_t e = Employees();
  uint64_t m = i / e;
  return RowKey{static_cast<uint32_t>(i % e), 2000 + static_cast<int>(m / 12), static_cast<int>(m % 12) + 1};
}

// Employee numbers "E0001234".
size_t EmpNoText(uint32_t employee, char* out) {
  out[0] = 'E';
  for (int k = 7; k >= 1; --k) {
    out[k] = char('0' + employee % 10);
    employee /= 10;
  }
  return 8;
}

// The field texts of one row, as the application hands them to the engine.
class RowText {
 public:
  void Fill(uint64_t i) {
    RowKey k = KeyOfRow(i);
    uint64_t h = Mix(i + 1), he = Mix(k.employee + 7777);
    Set(0, buf_[0], EmpNoText(k.employee, buf_[0]));
    Int(1, k.year);
    Int(2, k.month);
    Str(3, (h & 15) == 0 ? "BON" : "REG");
    Str(4, k.employee % 4 == 0 ? "WEEKLY" : "MONTHLY");
    {
      char* p = buf_[5];
      p = std::to_chars(p, p + 8, k.year).ptr;
      *p++ = char('0' + k.month / 10);
      *p++ = char('0' + k.month % 10);
      *p++ = '2';
      *p++ = '5';
      Set(5, buf_[5], static_cast<size_t>(p - buf_[5]));
    }
    Code(6, "D", he % 40);
    Code(7, "CC-", he % 120);
    Code(8, "T", he % 7);
    int64_t basic = 200000 + int64_t(he % 600000);       // cents
    int64_t overtime = (h >> 8) % 4 == 0 ? int64_t((h >> 16) % 50000) : 0;
    int64_t allowances = int64_t((he >> 20) % 20000);
    int64_t gross = basic + overtime + allowances;
    int64_t tax = gross / 5;
    int64_t social = gross / 20;
    int64_t net = gross - tax - social;
    Cents(9, basic);
    Cents(10, overtime);
    Cents(11, allowances);
    Cents(12, gross);
    Cents(13, tax);
    Cents(14, social);
    Cents(15, net);
    double hours = 150.0 + double((h >> 24) % 400) / 10.0;
    Double(16, hours, 2);
    Double(17, double(basic) / 100.0 / hours, 4);
    Str(18, (h >> 40) % 50 == 0 ? "F" : "T");
    if ((h >> 44) % 10 == 0) {
      Str(19, "Back pay and corrected overtime for the previous period");
    } else {
      Set(19, buf_[19], 0);
    }
  }
  const char* text(int f) const { return ptr_[f]; }
  uint32_t len(int f) const { return len_[f]; }

 private:
  void Set(int f, const char* p, size_t n) {
    ptr_[f] = p;
    len_[f] = static_cast<uint32_t>(n);
  }
  void Str(int f, const char* s) { Set(f, s, std::strlen(s)); }
  void Int(int f, int64_t v) {
    auto r = std::to_chars(buf_[f], buf_[f] + sizeof buf_[f], v);
    Set(f, buf_[f], static_cast<size_t>(r.ptr - buf_[f]));
  }
  void Code(int f, const char* prefix, uint64_t n) {
    size_t pl = std::strlen(prefix);
    std::memcpy(buf_[f], prefix, pl);
    auto r = std::to_chars(buf_[f] + pl, buf_[f] + sizeof buf_[f], n);
    Set(f, buf_[f], static_cast<size_t>(r.ptr - buf_[f]));
  }
  void Cents(int f, int64_t cents) {
    char* p = std::to_chars(buf_[f], buf_[f] + 24, cents / 100).ptr;
    *p++ = '.';
    *p++ = char('0' + (cents % 100) / 10);
    *p++ = char('0' + cents % 10);
    Set(f, buf_[f], static_cast<size_t>(p - buf_[f]));
  }
  void Double(int f, double v, int decimals) {
    auto r = std::to_chars(buf_[f], buf_[f] + sizeof buf_[f], v, std::chars_format::fixed, decimals);
    Set(f, buf_[f], static_cast<size_t>(r.ptr - buf_[f]));
  }

  char buf_[kFieldCount][32] = {};
  const char* ptr_[kFieldCount] = {};
  uint32_t len_[kFieldCount] = {};
};

DBHANDLE OpenTable(const std::string& name, uint32_t mode = DBE_OPEN_EXCLUSIVE) {
  DBHANDLE t = 0;
  DB(DbOpenTable(Ws().conn, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                 DBE_RIGHTS_IGNORE, mode, &t));
  return t;
}

DBHANDLE IndexOf(DBHANDLE table) {
  DBHANDLE ix = 0;
  DB(DbGetIndexHandle(table, kTagName, &ix));
  return ix;
}

void DeleteTable(const std::string& name) {
  if (!fs::exists(Ws().File(name + ".KDT"))) return;
  DBHANDLE t = OpenTable(name);
  DB(DbDeleteTable(t));
}

// Copies a closed table's files under another name.
void CopyTable(const std::string& from, const std::string& to) {
  DeleteTable(to);
  CopyTableFiles(from, to, CopyFile);
}

uint32_t RecordLength(DBHANDLE t) {
  uint32_t n = 0;
  DB(DbGetRecordLength(t, &n));
  return n;
}

uint32_t LiveRows(DBHANDLE t) {
  uint32_t n = 0;
  DB(DbGetRecordCount(t, DBE_COUNT_ALL, &n));
  return n;
}

// Time to make every row's texts without the engine, so that the append
// figures can be read net of the generator.
double GeneratorSeconds() {
  if (g_progress.gen_seconds < 0) {
    RowText row;
    auto t0 = Clock::now();
    for (uint64_t i = 0; i < g_settings.rows; ++i) {
      row.Fill(i);
      benchmark::DoNotOptimize(row);
    }
    g_progress.gen_seconds = Seconds(t0, Clock::now());
  }
  return g_progress.gen_seconds;
}

struct AppendTimes {
  double append = 0;  // appending every row
  double close = 0;   // closing (the index snapshot is saved)
};

// Creates the table, optionally with its index tag, and appends every row.
// Only the appends and the close are timed.
AppendTimes BuildTable(const std::string& name, bool with_index, benchmark::State* state) {
  if (state) state->PauseTiming();
  DeleteTable(name);
  DBHANDLE t = 0;
  DB(DbCreateTable(Ws().conn, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                   DBE_RIGHTS_IGNORE, 0, kFieldList, 0, &t));
  if (with_index) DB(DbCreateIndex(t, nullptr, kTagName, kTagExpr, nullptr, nullptr, DBE_INDEX_COMPOUND, 0, nullptr));
  RowText row;
  SettleBeforeTiming();
  if (state) state->ResumeTiming();

  AppendTimes times;
  auto t0 = Clock::now();
  const uint32_t n = g_settings.rows;
  for (uint32_t i = 0; i < n; ++i) {
    row.Fill(i);
    DB(DbAppendRecord(t));
    for (int f = 0; f < kFieldCount; ++f) {
      if (row.len(f) != 0) DB(DbSetField(t, kFieldNames[f], row.text(f), row.len(f)));
    }
    DB(DbWriteRecord(t));
  }
  auto t1 = Clock::now();
  DB(DbCloseTable(t));
  auto t2 = Clock::now();
  times.append = Seconds(t0, t1);
  times.close = Seconds(t1, t2);
  return times;
}

// The shared table HIST with every row and its index, built on first need.
void EnsureBaseTable() {
  if (g_progress.base_built) return;
  std::fprintf(stderr, "engine_bench: building the table HIST (%u rows)...\n", g_settings.rows);
  BuildTable("HIST", true, nullptr);
  g_progress.base_built = true;
}

uint64_t BaseBytes() { return FileSize(Ws().File("HIST.KDT")); }

std::string ReadWholeFile(const std::string& path) {
  std::string bytes(FileSize(path), '\0');
  int in = OpenFile(path, O_RDONLY);
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t n = ::read(in, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Die("cannot read " + path);
    got += static_cast<size_t>(n);
  }
  ::close(in);
  return bytes;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  int out = OpenFile(path, O_WRONLY | O_CREAT | O_TRUNC);
  WriteAll(out, bytes.data(), bytes.size(), path);
  if (::fdatasync(out) != 0) Die("cannot flush " + path);
  ::close(out);
}

// HIST_V1: HIST's rows in the data file format of before the row checks
// (format 1: no checksum after each row, the counts once and unchecked),
// so that what the checks cost shows side by side. Made from HIST's files;
// the index file carries over (same table id and change counter).
void EnsureFirstFormatTable() {
  EnsureBaseTable();
  if (g_progress.first_format_built) return;
  std::fprintf(stderr, "engine_bench: making HIST_V1 (format 1) from HIST...\n");
  const std::string kdt = ReadWholeFile(Ws().File("HIST.KDT"));
  auto get = [&](size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | uint8_t(kdt[at + i]);
    return v;
  };
  auto put = [](std::string* s, size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) (*s)[at + i] = char(uint8_t(v >> (8 * i)));
  };
  const uint32_t header = uint32_t(get(12, 4)), length = uint32_t(get(20, 4)), slot = uint32_t(get(24, 4));
  if (get(8, 4) != 2 || slot != length + 4) Die("HIST.KDT is not a plain table of format 2");
  const uint64_t a = get(256, 8), b = get(320, 8);
  const size_t copy = a == ~0ull || (b != ~0ull && b > a) ? 320 : 256;
  const uint32_t rows = uint32_t(get(copy + 8, 4));
  std::string out = kdt.substr(0, header);
  out.reserve(header + size_t(rows) * length);
  for (uint32_t r = 0; r < rows; ++r) out.append(kdt, header + size_t(r) * slot, length);
  put(&out, 8, 1, 4);
  put(&out, 24, length, 4);
  std::fill(out.begin() + 256, out.begin() + 512, '\0');
  put(&out, 256, get(copy, 8), 8);
  put(&out, 264, rows, 4);
  put(&out, 268, get(copy + 12, 4), 4);
  put(&out, 272, get(copy + 16, 4), 4);
  put(&out, 280, get(copy + 24, 8), 8);
  const std::string digested = out.substr(0, 48) + out.substr(56, 200) + out.substr(512, header - 512);
  put(&out, 48, dbe::crypto::Digest64(reinterpret_cast<const uint8_t*>(digested.data()), digested.size()), 8);
  DeleteTable("HIST_V1");
  WriteWholeFile(Ws().File("HIST_V1.KDT"), out);
  CopyFile(Ws().File("HIST.KDI"), Ws().File("HIST_V1.KDI"));
  g_progress.first_format_built = true;
}

// HIST_V2: HIST's files byte for byte, written in one piece as HIST_V1 is.
// A data file written row by row through the mapping (as appends write
// HIST) scans about 10 ns a row slower than the same bytes written in one
// piece, whatever the format: its page cache is held in small pages, each
// a mapping fault when read. Set beside HIST_V1, this table shows what the
// row checks cost and nothing else.
void EnsureTwinTable() {
  EnsureBaseTable();
  if (g_progress.twin_built) return;
  std::fprintf(stderr, "engine_bench: making HIST_V2 (HIST written in one piece)...\n");
  DeleteTable("HIST_V2");
  WriteWholeFile(Ws().File("HIST_V2.KDT"), ReadWholeFile(Ws().File("HIST.KDT")));
  CopyFile(Ws().File("HIST.KDI"), Ws().File("HIST_V2.KDI"));
  g_progress.twin_built = true;
}

// --- the summary --------------------------------------------------------------

struct Result {
  std::string label;
  double seconds = 0;
  uint64_t bytes = 0;   // bytes of the .KDT file the operation stands for; 0: no rate
  std::string note;
};

std::vector<Result>& Results() {
  static std::vector<Result> r;
  return r;
}

// Keeps the best time of an operation (several iterations or repetitions).
void Record(const std::string& label, double seconds, uint64_t bytes, const std::string& note = "") {
  for (Result& r : Results()) {
    if (r.label == label) {
      if (seconds < r.seconds) {
        r.seconds = seconds;
        r.note = note;
      }
      return;
    }
  }
  Results().push_back(Result{label, seconds, bytes, note});
}

const Result* Find(const std::string& label) {
  for (const Result& r : Results()) {
    if (r.label == label) return &r;
  }
  return nullptr;
}

void SetRate(benchmark::State& state, uint64_t bytes) {
  state.counters["MB/s"] = benchmark::Counter(double(bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

constexpr const char* kScanTwinLabel = "scan, record order (copy written in one piece)";
constexpr const char* kScanFirstFormatLabel = "scan, record order (format 1, no row checks)";
constexpr const char* kPackLabel = "pack (1% deleted)";
constexpr const char* kPackFirstFormatLabel = "pack (1% deleted; format 1, no row checks)";

void PrintSummary() {
  if (Results().empty()) return;
  FILE* out = g_settings.summary_to_stderr ? stderr : stdout;
  const Result* copy = Find("plain copy (read+write 1 MiB, fdatasync)");
  const Result* read = Find("plain read (1 MiB)");
  std::fprintf(out, "\nSummary: %u rows, .KDT %.1f MB, plain copy = read+write with 1 MiB buffers\n",
               g_settings.rows, double(BaseBytes()) / 1e6);
  std::fprintf(out, "%-46s %10s %10s %8s %8s  %s\n", "operation", "seconds", "MB/s", "x copy", "x read", "note");
  std::fprintf(out, "%s\n", std::string(100, '-').c_str());
  for (const Result& r : Results()) {
    std::string mbs = r.bytes && r.seconds > 0 ? Fixed(double(r.bytes) / 1e6 / r.seconds, 1) : "-";
    std::string xc = copy && copy->seconds > 0 ? Fixed(r.seconds / copy->seconds, 2) : "-";
    std::string xr = read && read->seconds > 0 ? Fixed(r.seconds / read->seconds, 2) : "-";
    std::fprintf(out, "%-46s %10.4f %10s %8s %8s  %s\n", r.label.c_str(), r.seconds, mbs.c_str(), xc.c_str(),
                 xr.c_str(), r.note.c_str());
  }
  // What the row checks cost: the same rows in format 2 and in format 1,
  // their files written alike.
  auto overhead = [&](const char* what, const char* checked, const char* unchecked) {
    const Result* a = Find(checked);
    const Result* b = Find(unchecked);
    if (a && b && b->seconds > 0) {
      std::fprintf(out, "row checks cost on a %s: %+.1f %%\n", what, (a->seconds / b->seconds - 1) * 100);
    }
  };
  overhead("record-order scan", kScanTwinLabel, kScanFirstFormatLabel);
  overhead("pack", kPackLabel, kPackFirstFormatLabel);
  std::fflush(out);
}

void SettleBeforeTiming() {
  const std::string scratch = Ws().File("SCRATCH.BIN");
  const int fd = OpenFile(scratch, O_WRONLY | O_CREAT | O_TRUNC);
  const std::vector<char> piece(4u << 20, 1);
  const uint64_t bytes = uint64_t(g_settings.rows) * 512 + (64u << 20);
  for (uint64_t at = 0; at < bytes; at += piece.size()) {
    if (::pwrite(fd, piece.data(), piece.size(), off_t(at)) != ssize_t(piece.size())) Die("cannot write " + scratch);
  }
  ::close(fd);
  fs::remove(scratch);
  ::sync();
}

// --- plain file operations -----------------------------------------------------

void CopyFileRange(const std::string& from, const std::string& to) {
  int in = OpenFile(from, O_RDONLY);
  int out = OpenFile(to, O_WRONLY | O_CREAT | O_TRUNC);
  uint64_t left = FileSize(from);
  while (left > 0) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::min<uint64_t>(left, 1u << 30), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      Die("copy_file_range failed on " + from + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    left -= static_cast<uint64_t>(n);
  }
  if (::fdatasync(out) != 0) Die("cannot flush " + to);
  ::close(in);
  ::close(out);
}

uint64_t ReadAll(const std::string& path) {
  int in = OpenFile(path, O_RDONLY);
  std::vector<char> buf(1u << 20);
  uint64_t total = 0, sum = 0;
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Die("cannot read " + path + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    sum += static_cast<unsigned char>(buf[static_cast<size_t>(n) - 1]);
  }
  ::close(in);
  benchmark::DoNotOptimize(sum);
  return total;
}

// --- benchmarks ----------------------------------------------------------------

void BM_AppendIndexed(benchmark::State& state) {
  Workspace& ws = Ws();
  double gen = GeneratorSeconds();
  for (auto _ : state) {
    // The first run builds the shared table; later ones a scratch copy.
    std::string name = g_progress.base_built ? "HIST_AGAIN" : "HIST";
    AppendTimes t = BuildTable(name, true, &state);
    state.PauseTiming();
    uint64_t bytes = FileSize(ws.File(name + ".KDT"));
    state.counters["close_s"] = t.close;
    state.counters["gen_s"] = gen;
    SetRate(state, bytes);
    Record("append, index EMP_NO;YEAR;MONTH (+close)", t.append + t.close, bytes,
           "close " + Fixed(t.close, 3) + " s; making the texts " + Fixed(gen, 3) + " s");
    if (name == "HIST") g_progress.base_built = true;
    else DeleteTable(name);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * g_settings.rows);
}

void BM_AppendNoIndex(benchmark::State& state) {
  Workspace& ws = Ws();
  double gen = GeneratorSeconds();
  for (auto _ : state) {
    AppendTimes t = BuildTable("HIST_NOIX", false, &state);
    state.PauseTiming();
    uint64_t bytes = FileSize(ws.File("HIST_NOIX.KDT"));
    state.counters["close_s"] = t.close;
    state.counters["gen_s"] = gen;
    SetRate(state, bytes);
    Record("append, no index (+close)", t.append + t.close, bytes,
           "close " + Fixed(t.close, 3) + " s; making the texts " + Fixed(gen, 3) + " s");
    DeleteTable("HIST_NOIX");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * g_settings.rows);
}

// Times one way of copying the table's data file, the physical limit the
// engine's rewrites are measured against.
void TimePlainCopy(benchmark::State& state, void (*copy)(const std::string&, const std::string&),
                   const char* label) {
  EnsureBaseTable();
  Workspace& ws = Ws();
  std::string from = ws.File("HIST.KDT"), to = ws.File("COPY.BIN");
  uint64_t bytes = BaseBytes();
  for (auto _ : state) {
    state.PauseTiming();
    SettleBeforeTiming();
    state.ResumeTiming();
    auto t0 = Clock::now();
    copy(from, to);
    double s = Seconds(t0, Clock::now());
    state.PauseTiming();
    Record(label, s, bytes);
    fs::remove(to);
    state.ResumeTiming();
  }
  SetRate(state, bytes);
}

void BM_PlainCopy(benchmark::State& state) {
  TimePlainCopy(state, CopyReadWrite, "plain copy (read+write 1 MiB, fdatasync)");
}

void BM_PlainCopyFileRange(benchmark::State& state) {
  TimePlainCopy(state, CopyFileRange, "plain copy (copy_file_range, fdatasync)");
}

void BM_PlainRead(benchmark::State& state) {
  EnsureBaseTable();
  std::string from = Ws().File("HIST.KDT");
  uint64_t bytes = BaseBytes();
  for (auto _ : state) {
    auto t0 = Clock::now();
    uint64_t got = ReadAll(from);
    double s = Seconds(t0, Clock::now());
    if (got != bytes) Die("the plain read gave " + std::to_string(got) + " bytes, not " + std::to_string(bytes));
    Record("plain read (1 MiB)", s, bytes);
  }
  SetRate(state, bytes);
}

// Opening the table and the first use of its index, which loads the saved
// index entries.
void BM_OpenAndFirstIndexUse(benchmark::State& state) {
  EnsureBaseTable();
  for (auto _ : state) {
    auto t0 = Clock::now();
    DBHANDLE t = OpenTable("HIST");
    DBHANDLE ix = IndexOf(t);
    DB(DbGotoTop(ix));
    double s = Seconds(t0, Clock::now());
    state.PauseTiming();
    DB(DbCloseTable(t));
    Record("open + first index use (saved entries)", s, 0,
           ".KDI " + Fixed(double(FileSize(Ws().File("HIST.KDI"))) / 1e6, 1) + " MB");
    state.ResumeTiming();
  }
}

void TimeScan(benchmark::State& state, const std::string& table, const std::string& label) {
  uint64_t bytes = FileSize(Ws().File(table + ".KDT"));
  DBHANDLE t = OpenTable(table);
  std::vector<uint8_t> rec(RecordLength(t));
  for (auto _ : state) {
    auto t0 = Clock::now();
    uint64_t rows = 0, sum = 0;
    uint16_t eof = 0;
    DB(DbGotoTop(t));
    DB(DbAtEOF(t, &eof));
    while (!eof) {
      uint32_t len = static_cast<uint32_t>(rec.size());
      DB(DbGetRecord(t, rec.data(), &len));
      sum += rec[len - 1];
      ++rows;
      DB(DbSkip(t, 1));
      DB(DbAtEOF(t, &eof));
    }
    double s = Seconds(t0, Clock::now());
    benchmark::DoNotOptimize(sum);
    if (rows != g_settings.rows) Die("the record-order scan saw " + std::to_string(rows) + " rows");
    Record(label, s, bytes, Fixed(s / double(rows) * 1e9, 0) + " ns/row");
  }
  DB(DbCloseTable(t));
  SetRate(state, bytes);
  state.SetItemsProcessed(int64_t(state.iterations()) * g_settings.rows);
}

void BM_ScanRecordOrder(benchmark::State& state) {
  EnsureBaseTable();
  TimeScan(state, "HIST", "scan, record order");
}

void BM_ScanRecordOrderTwin(benchmark::State& state) {
  EnsureTwinTable();
  TimeScan(state, "HIST_V2", kScanTwinLabel);
}

void BM_ScanRecordOrderFirstFormat(benchmark::State& state) {
  EnsureFirstFormatTable();
  TimeScan(state, "HIST_V1", kScanFirstFormatLabel);
}

void BM_ScanIndexOrder(benchmark::State& state) {
  EnsureBaseTable();
  uint64_t bytes = BaseBytes();
  DBHANDLE t = OpenTable("HIST");
  DBHANDLE ix = IndexOf(t);
  uint32_t emp_off = 0;
  DB(DbGetFieldOffset(t, "EMP_NO", &emp_off));
  std::vector<uint8_t> rec(RecordLength(t)), prev(rec.size());
  DB(DbGotoTop(ix));  // loads the index before the clock starts
  for (auto _ : state) {
    auto t0 = Clock::now();
    uint64_t rows = 0;
    bool ordered = true;
    uint16_t eof = 0;
    DB(DbGotoTop(ix));
    DB(DbAtEOF(t, &eof));
    while (!eof) {
      uint32_t len = static_cast<uint32_t>(rec.size());
      DB(DbGetRecord(t, rec.data(), &len));
      if (rows > 0 && std::memcmp(prev.data() + emp_off, rec.data() + emp_off, 10) > 0) ordered = false;
      std::swap(prev, rec);
      ++rows;
      DB(DbSkip(ix, 1));
      DB(DbAtEOF(t, &eof));
    }
    double s = Seconds(t0, Clock::now());
    if (rows != g_settings.rows) Die("the index-order scan saw " + std::to_string(rows) + " rows");
    if (!ordered) Die("the index-order scan did not come in EMP_NO order");
    Record("scan, index order", s, bytes, Fixed(s / double(rows) * 1e9, 0) + " ns/row");
  }
  DB(DbCloseTable(t));
  SetRate(state, bytes);
  state.SetItemsProcessed(int64_t(state.iterations()) * g_settings.rows);
}

void BM_SeekExact(benchmark::State& state) {
  EnsureBaseTable();
  const uint32_t seeks = g_settings.seeks;
  struct Target {
    char emp[8];
    int year, month;
    uint32_t recno;
  };
  std::vector<Target> targets(seeks);
  std::mt19937_64 rng(20240601);
  std::uniform_int_distribution<uint32_t> pick(0, g_settings.rows - 1);
  for (Target& tg : targets) {
    uint32_t i = pick(rng);
    RowKey k = KeyOfRow(i);
    EmpNoText(k.employee, tg.emp);
    tg.year = k.year;
    tg.month = k.month;
    tg.recno = i + 1;
  }
  DBHANDLE t = OpenTable("HIST");
  DBHANDLE ix = IndexOf(t);
  DBE_KEY_VALUE keys[3] = {};
  keys[0].kind = DBE_KEY_STRING;
  keys[0].text_len = sizeof targets[0].emp;
  keys[1].kind = DBE_KEY_INTEGER;
  keys[2].kind = DBE_KEY_INTEGER;
  // Untimed check that seeks land on the right rows (and the index is loaded).
  for (uint32_t s = 0; s < std::min<uint32_t>(seeks, 1000); ++s) {
    keys[0].text = targets[s].emp;
    keys[1].integer = targets[s].year;
    keys[2].integer = targets[s].month;
    uint16_t found = 0;
    DB(DbSeek(ix, keys, 3, DBE_SEEK_EXACT, &found));
    uint32_t recno = 0;
    DB(DbGetRecordNum(t, &recno));
    if (!found || recno != targets[s].recno) {
      Die("seek " + std::to_string(s) + " found " + std::to_string(found) + " at row " + std::to_string(recno) +
          ", expected row " + std::to_string(targets[s].recno));
    }
  }
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (const Target& tg : targets) {
      keys[0].text = tg.emp;
      keys[1].integer = tg.year;
      keys[2].integer = tg.month;
      uint16_t found = 0;
      DB(DbSeek(ix, keys, 3, DBE_SEEK_EXACT, &found));
      if (!found) [[unlikely]] Die("an exact seek found nothing");
    }
    double s = Seconds(t0, Clock::now());
    Record("exact seeks x" + std::to_string(seeks), s, 0, Fixed(s / seeks * 1e6, 2) + " us/seek");
  }
  DB(DbCloseTable(t));
  state.SetItemsProcessed(int64_t(state.iterations()) * seeks);
  state.counters["s/seek"] = benchmark::Counter(double(seeks), benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}

void TimePack(benchmark::State& state, const std::string& source, const std::string& label) {
  uint64_t bytes = FileSize(Ws().File(source + ".KDT"));
  const uint32_t rows = g_settings.rows;
  for (auto _ : state) {
    state.PauseTiming();
    CopyTable(source, "HIST_PACK");
    DBHANDLE t = OpenTable("HIST_PACK");
    DBHANDLE ix = IndexOf(t);
    DB(DbGotoTop(ix));  // index loaded, so that the deletes time only themselves
    auto d0 = Clock::now();
    uint32_t deleted = 0;
    for (uint32_t r = 1; r <= rows; r += 100) {
      DB(DbGotoRecord(t, r));
      DB(DbDeleteRecord(t));
      ++deleted;
    }
    double delete_s = Seconds(d0, Clock::now());
    SettleBeforeTiming();
    state.ResumeTiming();

    auto t0 = Clock::now();
    DB(DbPackTable(t));
    double s = Seconds(t0, Clock::now());

    state.PauseTiming();
    // Pack leaves the index to be rebuilt on its next use.
    auto r0 = Clock::now();
    DB(DbGotoTop(ix));
    double reindex_s = Seconds(r0, Clock::now());
    if (LiveRows(t) != rows - deleted) Die("pack left " + std::to_string(LiveRows(t)) + " rows");
    DB(DbCloseTable(t));
    DeleteTable("HIST_PACK");
    state.counters["delete_s"] = delete_s;
    state.counters["reindex_s"] = reindex_s;
    Record(label, s, bytes,
           "deleting " + std::to_string(deleted) + " rows " + Fixed(delete_s, 3) + " s; next index use " +
               Fixed(reindex_s, 3) + " s");
    state.ResumeTiming();
  }
  SetRate(state, bytes);
}

void BM_Pack(benchmark::State& state) {
  EnsureBaseTable();
  TimePack(state, "HIST", kPackLabel);
}

void BM_PackFirstFormat(benchmark::State& state) {
  EnsureFirstFormatTable();
  TimePack(state, "HIST_V1", kPackFirstFormatLabel);
}

// Makes HIST_ENC, an encrypted copy of HIST, and returns the encryption time.
double MakeEncryptedCopy(double* kdf_s, double* reindex_s) {
  // A small table encrypted first puts the key for the password in the
  // process's cache, so that the big one times the rows only.
  auto k0 = Clock::now();
  DeleteTable("WARM");
  DBHANDLE w = 0;
  DB(DbCreateTable(Ws().conn, "WARM", nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                   DBE_RIGHTS_IGNORE, 0, "N,Integer;", 0, &w));
  DB(DbAppendRecord(w));
  DB(DbSetField(w, "N", "1", 1));
  DB(DbWriteRecord(w));
  DB(DbEnableEncryption(w, kPassword));
  DB(DbEncryptTable(w));
  DB(DbDeleteTable(w));
  *kdf_s = Seconds(k0, Clock::now());

  CopyTable("HIST", "HIST_ENC");
  DBHANDLE t = OpenTable("HIST_ENC");
  DB(DbEnableEncryption(t, kPassword));
  SettleBeforeTiming();
  auto t0 = Clock::now();
  DB(DbEncryptTable(t));
  double s = Seconds(t0, Clock::now());
  uint16_t enc = 0;
  DB(DbIsTableEncrypted(t, &enc));
  if (!enc) Die("the table is not encrypted after DbEncryptTable");
  DB(DbCloseTable(t));

  // The first index use after opening an encrypted table.
  t = OpenTable("HIST_ENC");
  DB(DbEnableEncryption(t, kPassword));
  auto r0 = Clock::now();
  DB(DbGotoTop(IndexOf(t)));
  *reindex_s = Seconds(r0, Clock::now());
  DB(DbCloseTable(t));
  g_progress.encrypted_ready = true;
  return s;
}

void BM_Encrypt(benchmark::State& state) {
  EnsureBaseTable();
  uint64_t bytes = BaseBytes();
  for (auto _ : state) {
    double kdf_s = 0, reindex_s = 0;
    double s = MakeEncryptedCopy(&kdf_s, &reindex_s);
    state.SetIterationTime(s);
    state.counters["key_s"] = kdf_s;
    state.counters["reopen_index_s"] = reindex_s;
    Record("encrypt", s, bytes,
           "key derivation (once a process) " + Fixed(kdf_s, 3) + " s; index use after reopen " +
               Fixed(reindex_s, 3) + " s; encrypted .KDT " +
               Fixed(double(FileSize(Ws().File("HIST_ENC.KDT"))) / 1e6, 1) + " MB");
  }
  SetRate(state, bytes);
}

void BM_Decrypt(benchmark::State& state) {
  EnsureBaseTable();
  uint64_t bytes = BaseBytes();
  for (auto _ : state) {
    if (!g_progress.encrypted_ready) {
      double kdf_s = 0, reindex_s = 0;
      MakeEncryptedCopy(&kdf_s, &reindex_s);
    }
    DBHANDLE t = OpenTable("HIST_ENC");
    DB(DbEnableEncryption(t, kPassword));
    SettleBeforeTiming();
    auto t0 = Clock::now();
    DB(DbDecryptTable(t));
    double s = Seconds(t0, Clock::now());
    uint16_t enc = 1;
    DB(DbIsTableEncrypted(t, &enc));
    if (enc) Die("the table is still encrypted after DbDecryptTable");
    if (LiveRows(t) != g_settings.rows) Die("decryption lost rows");
    DB(DbCloseTable(t));
    DeleteTable("HIST_ENC");
    g_progress.encrypted_ready = false;
    state.SetIterationTime(s);
    Record("decrypt", s, bytes);
  }
  SetRate(state, bytes);
}

// --- registration and main --------------------------------------------------------

void Register() {
  auto big = [](benchmark::internal::Benchmark* b) {
    b->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
  };
  big(benchmark::RegisterBenchmark("Append/Indexed", BM_AppendIndexed));
  big(benchmark::RegisterBenchmark("Append/NoIndex", BM_AppendNoIndex));
  big(benchmark::RegisterBenchmark("Plain/CopyReadWrite", BM_PlainCopy));
  big(benchmark::RegisterBenchmark("Plain/CopyFileRange", BM_PlainCopyFileRange));
  big(benchmark::RegisterBenchmark("Plain/Read", BM_PlainRead));
  big(benchmark::RegisterBenchmark("Open/FirstIndexUse", BM_OpenAndFirstIndexUse));
  big(benchmark::RegisterBenchmark("Scan/RecordOrder", BM_ScanRecordOrder));
  big(benchmark::RegisterBenchmark("Scan/RecordOrderFormat2Twin", BM_ScanRecordOrderTwin));
  big(benchmark::RegisterBenchmark("Scan/RecordOrderFormat1", BM_ScanRecordOrderFirstFormat));
  big(benchmark::RegisterBenchmark("Scan/IndexOrder", BM_ScanIndexOrder));
  big(benchmark::RegisterBenchmark("Seek/Exact", BM_SeekExact));
  // A pack writes 200 MB of new page cache. On a virtual machine the first
  // such write in a process has taken up to three times as long as the next
  // ones (memory not handed out before), whichever format it packed: each
  // pack runs three times and keeps its best.
  auto pack = [](benchmark::internal::Benchmark* b) {
    b->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
  };
  pack(benchmark::RegisterBenchmark("Rewrite/Pack", BM_Pack));
  pack(benchmark::RegisterBenchmark("Rewrite/PackFormat1", BM_PackFirstFormat));
  // Encryption and decryption time themselves: their setup is large.
  benchmark::RegisterBenchmark("Rewrite/Encrypt", BM_Encrypt)
      ->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();
  benchmark::RegisterBenchmark("Rewrite/Decrypt", BM_Decrypt)
      ->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();
}

void ReadSettings(int* argc, char** argv) {
  CountFromEnv("KX8_BENCH_ROWS", &g_settings.rows);
  CountFromEnv("KX8_BENCH_SEEKS", &g_settings.seeks);
  g_settings.summary_to_stderr = TakeOwnArguments(argc, argv, [](std::string_view a) {
    return CountFlag(a, "--rows=", &g_settings.rows) || CountFlag(a, "--seeks=", &g_settings.seeks);
  });
}

}  // namespace

int main(int argc, char** argv) {
  ReadSettings(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Register();
  std::fprintf(g_settings.summary_to_stderr ? stderr : stdout,
               "engine_bench: %u rows of a 20-field payroll-history table, %u seeks\n", g_settings.rows,
               g_settings.seeks);
  std::fflush(stdout);
  benchmark::RunSpecifiedBenchmarks();
  PrintSummary();
  benchmark::Shutdown();
  RemoveWorkspace();
  return 0;
}
