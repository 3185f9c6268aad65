// What engine_bench and sql_bench both need: failing loudly, timing, the
// temporary folder with its engine connection, plain file copies, copying a
// table's files, and reading the row count and other counts from the
// command line and the environment.
//
// Each program defines kProgram, which names it in its messages and lays out
// its temporary folder.

#ifndef KX8_BENCH_BENCH_SUPPORT_H_
#define KX8_BENCH_BENCH_SUPPORT_H_

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbe/dbe.h"

namespace kx8::bench {

// --- the program -------------------------------------------------------------

struct Program {
  const char* name;             // starts every message ("engine_bench")
  const char* folder_template;  // mkdtemp template of the temporary folder
  const char* tables_folder;    // folder inside it for the engine's tables; nullptr: the folder itself
  const char* files_folder;     // folder inside it for other files; nullptr: none
};

extern const Program kProgram;  // defined by each program

// --- failures ----------------------------------------------------------------

// Prints "<program>: what", removes the temporary folder and aborts.
[[noreturn]] void Die(const std::string& what);

// The engine's text for its last error.
std::string EngineErrorText();

[[noreturn]] void EngineFailed(const char* call, DBRESULT rc);

inline void Check(DBRESULT rc, const char* call) {
  if (rc != DBE_SUCCESS) [[unlikely]] EngineFailed(call, rc);
}

// Every engine call goes through DB(...): a failure names the call.
#define DB(call) ::kx8::bench::Check((call), #call)

// --- small helpers -----------------------------------------------------------

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// v with `decimals` digits after the point.
std::string Fixed(double v, int decimals);

// Scrambles a row number into the bits the generated values are taken from.
inline uint64_t Mix(uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ull;
  x ^= x >> 33;
  return x;
}

// --- the data folder ----------------------------------------------------------

struct Workspace {
  std::string root;       // the temporary folder, removed at exit with all it holds
  std::string dir;        // the engine's tables
  std::string files_dir;  // the program's other files, if it asked for a folder
  DBHANDLE conn = 0;      // connection to dir

  std::string File(const std::string& name) const { return dir + "/" + name; }
};

// The workspace, made with its folders and connection on first use; it is
// removed at exit.
Workspace& Ws();

// Disconnects and removes the temporary folder; nothing when there is none.
void RemoveWorkspace();

// 0 when the file is missing.
uint64_t FileSize(const std::string& path);

// --- plain file operations -----------------------------------------------------

// open(2) with O_CLOEXEC and mode 0644; dies on failure.
int OpenFile(const std::string& path, int flags);

void WriteAll(int fd, const char* p, size_t n, const std::string& path);

// Copies a file with 1 MiB reads and writes and flushes the copy.
void CopyReadWrite(const std::string& from, const std::string& to);

// Copies a file with std::filesystem, replacing the target.
void CopyFile(const std::string& from, const std::string& to);

// --- a table's files -------------------------------------------------------------

inline constexpr std::array<const char*, 3> kTableExts = {".KDT", ".KDI", ".KDM"};

using FileCopier = void (*)(const std::string& from, const std::string& to);

// Copies the files a closed table has, under another name, with `copy`.
void CopyTableFiles(const std::string& from, const std::string& to, FileCopier copy);

// --- settings ------------------------------------------------------------------

// A count from 1 to 100,000,000; "1_000_000" and "1,000,000" read as they look.
bool ParseCount(std::string_view text, uint32_t* out);

// Reads *out from the environment variable `name` when it is set; exits with
// status 2 when it is not a count.
void CountFromEnv(const char* name, uint32_t* out);

// When `arg` is `flag` ("--rows=") followed by a value, reads the value into
// *out and answers true; exits with status 2 when it is not a count.
bool CountFlag(std::string_view arg, std::string_view flag, uint32_t* out);

// Removes from argv the arguments `take` answers true for, leaving the rest
// to the benchmark library. Answers whether a machine-readable output format
// was asked for, which then owns stdout.
bool TakeOwnArguments(int* argc, char** argv, bool (*take)(std::string_view arg));

}  // namespace kx8::bench

#endif  // KX8_BENCH_BENCH_SUPPORT_H_
