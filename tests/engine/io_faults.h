// Replacements for the engine's system calls (os/system_calls.h) that make
// the Nth call fail, and a folder snapshot to start every try from the same
// files.
#ifndef KX8_TESTS_ENGINE_IO_FAULTS_H_
#define KX8_TESTS_ENGINE_IO_FAULTS_H_

#include <errno.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <string_view>

#include "os/system_calls.h"
#include "storage/table_file.h"

namespace kx8test {

// While alive, the Nth system call of the engine (counting every call but
// close and unlocking) fails with `error`, once.
class FailNthCall {
 public:
  explicit FailNthCall(long n, int error = EIO) {
    State() = {n, 0, error, false};
    dbe::os::Calls() = Failing();
  }
  ~FailNthCall() {
    dbe::os::Calls() = dbe::os::RealCalls();
    State() = {};
  }
  FailNthCall(const FailNthCall&) = delete;
  FailNthCall& operator=(const FailNthCall&) = delete;

  bool fired() const { return State().fired; }
  long calls() const { return State().calls; }

 private:
  struct Plan {
    long fail_at = 0;
    long calls = 0;
    int error = 0;
    bool fired = false;
  };
  static Plan& State() {
    static Plan plan;
    return plan;
  }
  static bool Fire() {
    Plan& p = State();
    if (++p.calls != p.fail_at) return false;
    p.fired = true;
    errno = p.error;
    return true;
  }
  static const dbe::os::SystemCalls& Real() { return dbe::os::RealCalls(); }
  static dbe::os::SystemCalls Failing() {
    dbe::os::SystemCalls c = Real();
    c.open = [](const char* p, int f, mode_t m) { return Fire() ? -1 : Real().open(p, f, m); };
    c.pread = [](int fd, void* b, size_t n, off_t o) -> ssize_t { return Fire() ? -1 : Real().pread(fd, b, n, o); };
    c.pwrite = [](int fd, const void* b, size_t n, off_t o) -> ssize_t {
      return Fire() ? -1 : Real().pwrite(fd, b, n, o);
    };
    c.fdatasync = [](int fd) { return Fire() ? -1 : Real().fdatasync(fd); };
    c.fsync = [](int fd) { return Fire() ? -1 : Real().fsync(fd); };
    c.syncfs = [](int fd) { return Fire() ? -1 : Real().syncfs(fd); };
    c.ftruncate = [](int fd, off_t n) { return Fire() ? -1 : Real().ftruncate(fd, n); };
    c.rename = [](const char* a, const char* b) { return Fire() ? -1 : Real().rename(a, b); };
    c.unlink = [](const char* p) { return Fire() ? -1 : Real().unlink(p); };
    c.link = [](const char* a, const char* b) { return Fire() ? -1 : Real().link(a, b); };
    c.lock = [](int fd, int cmd, struct flock* r) {
      return r->l_type != F_UNLCK && Fire() ? -1 : Real().lock(fd, cmd, r);
    };
    c.fstat = [](int fd, struct stat* st) { return Fire() ? -1 : Real().fstat(fd, st); };
    c.stat = [](const char* p, struct stat* st) { return Fire() ? -1 : Real().stat(p, st); };
    c.mmap = [](void* a, size_t n, int prot, int fl, int fd, off_t o) {
      return Fire() ? MAP_FAILED : Real().mmap(a, n, prot, fl, fd, o);
    };
    return c;
  }
};

// Counts the engine's system calls and its flushes by kind; with a stop
// set, the process ends at that call as a kill would end it (everything
// written stays in the operating system's cache). It also notes where
// table changes waited for their deferred rewrite: the first call made
// while one waited, and the calls that switched a table to its rewritten
// data file while others still waited, up to the first syncfs, and the
// calls that put a data dictionary's new file in place meanwhile.
class CountingCalls {
 public:
  static constexpr int kSyncfsKept = 8;
  static constexpr int kSwitchesKept = 8;
  static constexpr int kDictionaryWritesKept = 8;
  struct Counts {
    long calls = 0, fdatasync = 0, fsync = 0, syncfs = 0;
    long stop_at = 0;
    long syncfs_at[kSyncfsKept] = {};  // the call numbers of the first syncfs calls
    int syncfs_seen = 0;
    long first_waiting_at = 0;  // 0: no change ever waited
    // The last kSwitchesKept such switches before the first syncfs, oldest
    // first (switches_seen of them in all).
    long switch_at[kSwitchesKept] = {};
    int switches_seen = 0;
    // The first kDictionaryWritesKept renames of a new file over a .kdd
    // from the first waiting change up to the first syncfs: the writes of
    // batched dictionary changes (dictionary_writes_seen of them in all).
    long dictionary_write_at[kDictionaryWritesKept] = {};
    int dictionary_writes_seen = 0;
  };
  explicit CountingCalls(long stop_at = 0) {
    Get() = {};
    Get().stop_at = stop_at;
    dbe::os::Calls() = Counting();
  }
  ~CountingCalls() { dbe::os::Calls() = dbe::os::RealCalls(); }
  CountingCalls(const CountingCalls&) = delete;
  CountingCalls& operator=(const CountingCalls&) = delete;
  const Counts& counts() const { return Get(); }

 private:
  static Counts& Get() {
    static Counts counts;
    return counts;
  }
  static void Tick() {
    Counts& n = Get();
    if (n.first_waiting_at == 0 && dbe::TableFile::DeferredRewritesWaiting() > 0) n.first_waiting_at = n.calls + 1;
    if (++n.calls == n.stop_at) _exit(0);
  }
  static bool EndsNoCase(std::string_view s, std::string_view end) {
    if (s.size() < end.size()) return false;
    for (size_t i = 0; i < end.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(s[s.size() - end.size() + i])) != end[i]) return false;
    }
    return true;
  }
  // A rename of X.KDT.new over X.KDT while other tables wait, or of a new
  // dictionary file over X.kdd.
  static void NoteSwitch(const char* from, const char* to) {
    Counts& n = Get();
    if (EndsNoCase(to, ".KDD")) {
      if (n.first_waiting_at == 0 || n.syncfs_seen > 0) return;
      if (n.dictionary_writes_seen < kDictionaryWritesKept) n.dictionary_write_at[n.dictionary_writes_seen] = n.calls;
      ++n.dictionary_writes_seen;
      return;
    }
    if (n.syncfs_seen > 0 || !EndsNoCase(to, ".KDT") || !EndsNoCase(from, ".NEW")) return;
    if (dbe::TableFile::DeferredRewritesWaiting() == 0) return;
    if (n.switches_seen >= kSwitchesKept) {
      std::copy(n.switch_at + 1, n.switch_at + kSwitchesKept, n.switch_at);
    }
    n.switch_at[std::min(n.switches_seen, kSwitchesKept - 1)] = n.calls;
    ++n.switches_seen;
  }
  static const dbe::os::SystemCalls& Real() { return dbe::os::RealCalls(); }
  static dbe::os::SystemCalls Counting() {
    dbe::os::SystemCalls c = Real();
    c.open = [](const char* p, int f, mode_t m) { Tick(); return Real().open(p, f, m); };
    c.pread = [](int fd, void* b, size_t n, off_t o) -> ssize_t { Tick(); return Real().pread(fd, b, n, o); };
    c.pwrite = [](int fd, const void* b, size_t n, off_t o) -> ssize_t { Tick(); return Real().pwrite(fd, b, n, o); };
    c.fdatasync = [](int fd) { Tick(); ++Get().fdatasync; return Real().fdatasync(fd); };
    c.fsync = [](int fd) { Tick(); ++Get().fsync; return Real().fsync(fd); };
    c.syncfs = [](int fd) {
      Tick();
      Counts& n = Get();
      if (n.syncfs_seen < kSyncfsKept) n.syncfs_at[n.syncfs_seen] = n.calls;
      ++n.syncfs_seen;
      ++n.syncfs;
      return Real().syncfs(fd);
    };
    c.ftruncate = [](int fd, off_t n) { Tick(); return Real().ftruncate(fd, n); };
    c.rename = [](const char* a, const char* b) {
      Tick();
      NoteSwitch(a, b);
      return Real().rename(a, b);
    };
    c.unlink = [](const char* p) { Tick(); return Real().unlink(p); };
    c.link = [](const char* a, const char* b) { Tick(); return Real().link(a, b); };
    c.fstat = [](int fd, struct stat* st) { Tick(); return Real().fstat(fd, st); };
    c.stat = [](const char* p, struct stat* st) { Tick(); return Real().stat(p, st); };
    return c;
  }
};

// Makes `dir` hold exactly the files of `from` (flat folders).
inline void CopyFolder(const std::filesystem::path& from, const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
  for (const auto& e : fs::directory_iterator(from)) fs::copy_file(e.path(), dir / e.path().filename());
}

}  // namespace kx8test

#endif  // KX8_TESTS_ENGINE_IO_FAULTS_H_
