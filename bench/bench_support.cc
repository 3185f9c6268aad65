#include "bench_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kx8::bench {

namespace fs = std::filesystem;

// --- failures ----------------------------------------------------------------

void Die(const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", kProgram.name, what.c_str());
  std::fflush(stderr);
  RemoveWorkspace();
  std::abort();
}

std::string EngineErrorText() {
  uint32_t code = 0;
  char text[DBE_MAX_ERROR_LEN + 1] = {};
  uint16_t len = sizeof text;
  DbGetLastError(&code, text, &len);
  return text;
}

void EngineFailed(const char* call, DBRESULT rc) {
  Die(std::string(call) + " failed with " + std::to_string(rc) + ": " + EngineErrorText());
}

std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// --- the data folder ----------------------------------------------------------

namespace {

Workspace* g_ws = nullptr;

}  // namespace

void RemoveWorkspace() {
  Workspace* ws = g_ws;
  if (ws == nullptr) return;
  g_ws = nullptr;
  if (ws->conn != 0) DbDisconnect(ws->conn);
  std::error_code ec;
  fs::remove_all(ws->root, ec);
  delete ws;
}

Workspace& Ws() {
  if (g_ws == nullptr) {
    std::string tmpl = kProgram.folder_template;
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) Die("cannot create a temporary folder under /tmp");
    g_ws = new Workspace();
    g_ws->root = buf.data();
    g_ws->dir = g_ws->root;
    if (kProgram.tables_folder != nullptr) {
      g_ws->dir += std::string("/") + kProgram.tables_folder;
      fs::create_directory(g_ws->dir);
    }
    if (kProgram.files_folder != nullptr) {
      g_ws->files_dir = g_ws->root + "/" + kProgram.files_folder;
      fs::create_directory(g_ws->files_dir);
    }
    std::atexit(RemoveWorkspace);
    DB(DbConnect(g_ws->dir.c_str(), DBE_SERVER_LOCAL, "", "", 0, &g_ws->conn));
  }
  return *g_ws;
}

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  uint64_t n = fs::file_size(path, ec);
  return ec ? 0 : n;
}

// --- plain file operations -----------------------------------------------------

int OpenFile(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) Die("cannot open " + path + ": " + std::strerror(errno));
  return fd;
}

void WriteAll(int fd, const char* p, size_t n, const std::string& path) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      Die("cannot write " + path + ": " + std::strerror(errno));
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void CopyReadWrite(const std::string& from, const std::string& to) {
  int in = OpenFile(from, O_RDONLY);
  int out = OpenFile(to, O_WRONLY | O_CREAT | O_TRUNC);
  std::vector<char> buf(1u << 20);
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Die("cannot read " + from + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    WriteAll(out, buf.data(), static_cast<size_t>(n), to);
  }
  if (::fdatasync(out) != 0) Die("cannot flush " + to);
  ::close(in);
  ::close(out);
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// --- a table's files -------------------------------------------------------------

void CopyTableFiles(const std::string& from, const std::string& to, FileCopier copy) {
  Workspace& ws = Ws();
  for (const char* ext : kTableExts) {
    std::string src = ws.File(from + ext);
    if (fs::exists(src)) copy(src, ws.File(to + ext));
  }
}

// --- settings ------------------------------------------------------------------

bool ParseCount(std::string_view text, uint32_t* out) {
  std::string digits;
  for (char c : text) {
    if (c != '_' && c != ',') digits += c;
  }
  uint64_t v = 0;
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || v == 0 || v > 100000000) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

void CountFromEnv(const char* name, uint32_t* out) {
  const char* v = std::getenv(name);
  if (v != nullptr && *v != '\0' && !ParseCount(v, out)) {
    std::fprintf(stderr, "%s: %s=%s is not a count from 1 to 100000000\n", kProgram.name, name, v);
    std::exit(2);
  }
}

bool CountFlag(std::string_view arg, std::string_view flag, uint32_t* out) {
  if (arg.rfind(flag, 0) != 0) return false;
  if (!ParseCount(arg.substr(flag.size()), out)) {
    std::fprintf(stderr, "%s: %.*s: expected a count from 1 to 100000000\n", kProgram.name,
                 static_cast<int>(arg.size()), arg.data());
    std::exit(2);
  }
  return true;
}

bool TakeOwnArguments(int* argc, char** argv, bool (*take)(std::string_view arg)) {
  bool machine_format = false;
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    std::string_view a = argv[i];
    if (take(a)) continue;
    if (a.rfind("--benchmark_format=", 0) == 0 && a != "--benchmark_format=console") machine_format = true;
    argv[kept++] = argv[i];
  }
  *argc = kept;
  argv[kept] = nullptr;
  return machine_format;
}

}  // namespace kx8::bench
