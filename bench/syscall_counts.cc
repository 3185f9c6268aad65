#include "syscall_counts.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<std::uint64_t> g_syncs{0}, g_opens{0}, g_dir_scans{0}, g_renames{0}, g_getpids{0};

// The C library's own function of that name.
template <typename F>
F Next(const char* name) {
  void* f = dlsym(RTLD_NEXT, name);
  if (f == nullptr) {
    std::fprintf(stderr, "pass_bench: no %s to count\n", name);
    std::abort();
  }
  return reinterpret_cast<F>(f);
}

// open's mode argument is only there when a file may be created.
bool TakesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

}  // namespace

extern "C" {

int fsync(int fd) {
  static auto real = Next<int (*)(int)>("fsync");
  ++g_syncs;
  return real(fd);
}
int fdatasync(int fd) {
  static auto real = Next<int (*)(int)>("fdatasync");
  ++g_syncs;
  return real(fd);
}
int syncfs(int fd) {
  static auto real = Next<int (*)(int)>("syncfs");
  ++g_syncs;
  return real(fd);
}

#define KX8_COUNTED_OPEN(name)                                      \
  int name(const char* path, int flags, ...) {                      \
    static auto real = Next<int (*)(const char*, int, ...)>(#name); \
    ++g_opens;                                                      \
    mode_t mode = 0;                                                \
    if (TakesMode(flags)) {                                         \
      va_list args;                                                 \
      va_start(args, flags);                                        \
      mode = static_cast<mode_t>(va_arg(args, int));                \
      va_end(args);                                                 \
    }                                                               \
    return real(path, flags, mode);                                 \
  }
KX8_COUNTED_OPEN(open)
KX8_COUNTED_OPEN(open64)
#undef KX8_COUNTED_OPEN

#define KX8_COUNTED_OPENAT(name)                                         \
  int name(int dir, const char* path, int flags, ...) {                  \
    static auto real = Next<int (*)(int, const char*, int, ...)>(#name); \
    ++g_opens;                                                           \
    mode_t mode = 0;                                                     \
    if (TakesMode(flags)) {                                              \
      va_list args;                                                      \
      va_start(args, flags);                                             \
      mode = static_cast<mode_t>(va_arg(args, int));                     \
      va_end(args);                                                      \
    }                                                                    \
    return real(dir, path, flags, mode);                                 \
  }
KX8_COUNTED_OPENAT(openat)
KX8_COUNTED_OPENAT(openat64)
#undef KX8_COUNTED_OPENAT

DIR* opendir(const char* path) {
  static auto real = Next<DIR* (*)(const char*)>("opendir");
  ++g_dir_scans;
  return real(path);
}
DIR* fdopendir(int fd) {
  static auto real = Next<DIR* (*)(int)>("fdopendir");
  ++g_dir_scans;
  return real(fd);
}

int rename(const char* from, const char* to) {
  static auto real = Next<int (*)(const char*, const char*)>("rename");
  ++g_renames;
  return real(from, to);
}

pid_t getpid(void) {
  static auto real = Next<pid_t (*)(void)>("getpid");
  ++g_getpids;
  return real();
}

}  // extern "C"

namespace kx8::bench {

SyscallCounts CurrentSyscallCounts() {
  return {g_syncs.load(), g_opens.load(), g_dir_scans.load(), g_renames.load(), g_getpids.load()};
}

SyscallCounts operator-(const SyscallCounts& a, const SyscallCounts& b) {
  return {a.syncs - b.syncs, a.opens - b.opens, a.dir_scans - b.dir_scans, a.renames - b.renames,
          a.getpids - b.getpids};
}

}  // namespace kx8::bench
