// A machine stop simulated in a child process: system calls go through a
// replacement table that keeps a shadow of what was flushed (each file's
// contents at its last flush, the folder's names at its last flush). At the
// Nth call the child throws away everything written since, as a power cut
// would, lays the folder out as the shadow has it, and ends. Files the
// engine never opened (written by other parts of the program, with their
// own flushes) are left as they are.
#ifndef KX8_TESTS_ENGINE_UNSYNCED_LOSS_H_
#define KX8_TESTS_ENGINE_UNSYNCED_LOSS_H_

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "os/system_calls.h"

namespace kx8test {

class UnsyncedLoss {
 public:
  // Call in the child: from now on the Nth call of the engine stops the
  // process with everything not flushed lost. Only `folder` is shadowed.
  static void Install(const std::string& folder, long n) {
    State& s = Get();
    s.folder = folder;
    s.stop_at = n;
    s.calls = 0;
    // Everything present at the start counts as flushed.
    s.known.clear();
    for (const auto& [name, ino] : List()) {
      s.known.insert(ino);
      long id = NewVersion(ino);
      s.durable_names[name] = id;
      s.flushed[id] = ReadPath(folder + "/" + name);
    }
    dbe::os::Calls() = Replacement();
  }

 private:
  struct State {
    std::string folder;
    long stop_at = 0;
    long calls = 0;
    long next_id = 1;
    std::map<ino_t, long> version;                 // inode -> current version id
    std::map<std::string, long> durable_names;     // the folder as last flushed
    std::map<long, std::string> flushed;           // version id -> contents at its last flush
    std::set<ino_t> known;                         // files present at the start or opened by the engine
  };
  static State& Get() {
    static State s;
    return s;
  }
  static const dbe::os::SystemCalls& Real() { return dbe::os::RealCalls(); }

  static long NewVersion(ino_t ino) {
    State& s = Get();
    return s.version[ino] = s.next_id++;
  }
  static long VersionOf(ino_t ino) {
    auto it = Get().version.find(ino);
    return it == Get().version.end() ? NewVersion(ino) : it->second;
  }

  static std::map<std::string, ino_t> List() {
    std::map<std::string, ino_t> out;
    DIR* d = ::opendir(Get().folder.c_str());
    if (d == nullptr) return out;
    while (dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      if (::stat((Get().folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) out[name] = st.st_ino;
    }
    ::closedir(d);
    return out;
  }

  static std::string ReadFd(int fd) {
    std::string out;
    char buf[65536];
    off_t at = 0;
    for (;;) {
      ssize_t n = Real().pread(fd, buf, sizeof buf, at);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
      at += n;
    }
    return out;
  }
  static std::string ReadPath(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return {};
    std::string out = ReadFd(fd);
    ::close(fd);
    return out;
  }

  static bool InFolder(int fd) {
    struct stat st, dir;
    return ::fstat(fd, &st) == 0 && ::stat(Get().folder.c_str(), &dir) == 0 && st.st_dev == dir.st_dev &&
           S_ISREG(st.st_mode);
  }

  static void Forget(const char* path) {
    struct stat st;
    if (::stat(path, &st) == 0 && st.st_nlink <= 1) Get().known.erase(st.st_ino);
  }

  // Counts a call; at the chosen one the power goes.
  static void Tick() {
    State& s = Get();
    if (++s.calls < s.stop_at) return;
    const std::map<std::string, ino_t> now = List();
    for (const auto& [name, ino] : now) {
      if (s.known.count(ino) != 0) ::unlink((s.folder + "/" + name).c_str());
    }
    for (const auto& [name, id] : s.durable_names) {
      auto current = now.find(name);
      if (current != now.end() && s.known.count(current->second) == 0) continue;  // not the engine's
      auto it = s.flushed.find(id);
      std::string bytes = it == s.flushed.end() ? std::string() : it->second;  // never flushed: empty
      int fd = ::open((s.folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) _exit(3);
      ::close(fd);
    }
    _exit(0);
  }

  static dbe::os::SystemCalls Replacement() {
    dbe::os::SystemCalls c = Real();
    c.open = [](const char* p, int f, mode_t m) {
      Tick();
      struct stat before;
      bool existed = ::stat(p, &before) == 0;
      int fd = Real().open(p, f, m);
      struct stat st;
      // A newly made file is a new version even when its inode number is
      // that of a file removed earlier.
      if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (!existed) NewVersion(st.st_ino);
        Get().known.insert(st.st_ino);
      }
      return fd;
    };
    c.pread = [](int fd, void* b, size_t n, off_t o) -> ssize_t { Tick(); return Real().pread(fd, b, n, o); };
    c.pwrite = [](int fd, const void* b, size_t n, off_t o) -> ssize_t {
      Tick();
      return Real().pwrite(fd, b, n, o);
    };
    c.fdatasync = [](int fd) {
      Tick();
      int rc = Real().fdatasync(fd);
      struct stat st;
      if (rc == 0 && InFolder(fd) && ::fstat(fd, &st) == 0) Get().flushed[VersionOf(st.st_ino)] = ReadFd(fd);
      return rc;
    };
    c.fsync = [](int fd) {
      Tick();
      int rc = Real().fsync(fd);
      struct stat st;
      if (rc == 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        Get().durable_names.clear();
        for (const auto& [name, ino] : List()) Get().durable_names[name] = VersionOf(ino);
      }
      return rc;
    };
    c.syncfs = [](int fd) {
      Tick();
      int rc = Real().syncfs(fd);
      if (rc == 0) {  // the whole file system: every file's contents and every name
        Get().durable_names.clear();
        for (const auto& [name, ino] : List()) {
          const long id = VersionOf(ino);
          Get().durable_names[name] = id;
          Get().flushed[id] = ReadPath(Get().folder + "/" + name);
        }
      }
      return rc;
    };
    c.ftruncate = [](int fd, off_t n) { Tick(); return Real().ftruncate(fd, n); };
    // A file the engine removes (or renames another over) is no longer
    // its own: its inode number may come back for a file of someone else.
    c.rename = [](const char* a, const char* b) {
      Tick();
      Forget(b);
      return Real().rename(a, b);
    };
    c.unlink = [](const char* p) {
      Tick();
      Forget(p);
      return Real().unlink(p);
    };
    c.link = [](const char* a, const char* b) { Tick(); return Real().link(a, b); };
    c.fstat = [](int fd, struct stat* st) { Tick(); return Real().fstat(fd, st); };
    c.stat = [](const char* p, struct stat* st) { Tick(); return Real().stat(p, st); };
    return c;
  }
};

}  // namespace kx8test

#endif  // KX8_TESTS_ENGINE_UNSYNCED_LOSS_H_
