#include "platform/folder_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/path.h"

namespace kx8::platform {
namespace {

// How long after a folder's last change a reading of it is trusted when it
// is kept by its times. File systems with nanosecond times stamp changes
// from the kernel's coarse clock, which advances in ticks (4 ms at the
// usual 250 Hz); two ticks after a change, any later change gets a later
// time. File systems that keep whole seconds only (FAT keeps two) need
// the longer wait.
constexpr long long kCoarseMarginNs = 2'000'000'000;
constexpr long long kUnknownTickNs = 10'000'000;

long long FineMarginNs() {
  static const long long margin = [] {
    timespec tick{};
    if (::clock_getres(CLOCK_REALTIME_COARSE, &tick) != 0 || (tick.tv_sec == 0 && tick.tv_nsec == 0)) {
      return 2 * kUnknownTickNs;
    }
    return 2 * (static_cast<long long>(tick.tv_sec) * 1'000'000'000 + tick.tv_nsec);
  }();
  return margin;
}
// Folders kept at most; a process that walks more starts afresh.
constexpr std::size_t kMaxFolders = 256;

// The changes of a kept folder the kernel reports: its entries, and the
// folder itself going away (its listing is then dropped).
constexpr std::uint32_t kWatchedChanges =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kFolderGone = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

long long Nanoseconds(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

// What changes when an entry of the folder is created, renamed or removed.
struct Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  long long mtime = 0, ctime = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const struct stat& st) { return {st.st_dev, st.st_ino, Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)}; }

// Whether a change made after `now` is sure to give the folder other times
// than `stamp` shows.
bool Settled(const Stamp& stamp, long long now) {
  const long long latest = std::max(stamp.mtime, stamp.ctime);
  const bool whole_seconds = stamp.mtime % 1'000'000'000 == 0 && stamp.ctime % 1'000'000'000 == 0;
  return now - latest > (whole_seconds ? kCoarseMarginNs : FineMarginNs());
}

// File systems where every change of a folder passes through this kernel,
// so that its reports are complete. On network file systems other clients
// change folders without a report.
bool ReportsEveryChange(int folder_fd) {
  struct statfs fs {};
  if (::fstatfs(folder_fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case MSDOS_SUPER_MAGIC:
    case 0x2011BAB0UL:  // exfat
    case 0x7366746EUL:  // ntfs3
      return true;
    default:
      return false;
  }
}

struct Kept {
  Stamp stamp;           // identity, and the times the listing is kept by
  bool settled = false;  // the times can be trusted (unwatched listings)
  int watch = -1;        // the kernel's watch; -1: kept by the times
  std::uint64_t operation = 0;  // the operation that last checked it, 0 for none
  std::shared_ptr<FolderNames> names;
};

// The current operation of this thread (0: none) and its nesting depth.
std::atomic<std::uint64_t> g_last_operation{0};
thread_local std::uint64_t t_operation = 0;
thread_local int t_operation_depth = 0;

std::atomic<std::uint64_t> g_readings{0};
// FolderChanged since the reports were last read: an operation's own
// change must be applied before the operation asks again.
std::atomic<bool> g_own_change{false};
// A child made by fork shares the parent's queue of reports: reading it
// would take them from the parent, so the child starts a queue of its own.
std::atomic<bool> g_forked{false};

class Cache {
 public:
  std::mutex mutex;  // held around every call below

  std::shared_ptr<const FolderNames> List(const std::string& key);
  void Changed(const std::string& key);
  void UseReports(bool use) {
    use_reports_ = use;
    Reset();
  }

 private:
  using Folders = std::map<std::string, Kept, std::less<>>;
  std::shared_ptr<const FolderNames> Read(const std::string& key);
  int Watch(int folder_fd);
  void ApplyReports();
  void Forget(Folders::iterator it);
  void Reset();

  Folders folders_;
  bool use_reports_ = true;
  int reports_ = -1;      // the kernel's queue of reports; -1 when not open
  bool no_reports_ = false;  // the queue could not be opened
  std::map<int, std::vector<std::string>> watched_;  // watch -> the keys it serves
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

// One spelling per folder: no trailing separator, "." for the current one.
std::string FolderKey(std::string_view folder) {
  std::string key(folder);
  while (key.size() > 1 && key.back() == '/' && key != "//") key.pop_back();
  if (key.empty()) key = ".";
  return key;
}

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

int Cache::Watch(int folder_fd) {
  if (!use_reports_ || no_reports_ || !ReportsEveryChange(folder_fd)) return -1;
  if (reports_ < 0) {
    reports_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (reports_ < 0) {
      // No queue to spare (the per-user limit): listings are kept by the
      // folders' times instead, which is slower, never wrong.
      no_reports_ = true;
      return -1;
    }
    static const int registered = ::pthread_atfork(nullptr, nullptr, [] { g_forked = true; });
    (void)registered;
  }
  // The watch goes on the folder just opened, not on its path, which
  // another program may have pointed elsewhere since.
  const std::string self = "/proc/self/fd/" + std::to_string(folder_fd);
  // Out of watches: this folder is kept by its times.
  return ::inotify_add_watch(reports_, self.c_str(), kWatchedChanges);
}

void Cache::ApplyReports() {
  if (g_forked.exchange(false)) {
    // The queue belongs to the parent too: this process drops its copy
    // and what it kept by it.
    if (reports_ >= 0) ::close(reports_);
    reports_ = -1;
    watched_.clear();
    std::erase_if(folders_, [](const auto& entry) { return entry.second.watch >= 0; });
  }
  g_own_change = false;
  if (reports_ < 0) return;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(reports_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      // EAGAIN: nothing more to read. Anything else leaves the reports in
      // doubt, so nothing kept by them is used again.
      if (got == 0 || errno != EAGAIN) Reset();
      return;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        // Reports were lost: every listing kept by them is read again.
        Reset();
        return;
      }
      const auto served = watched_.find(event->wd);
      if (served == watched_.end()) continue;  // a watch given up already
      const std::vector<std::string> keys = served->second;
      for (const std::string& key : keys) {
        const auto it = folders_.find(key);
        if (it == folders_.end() || it->second.watch != event->wd) continue;
        if ((event->mask & kFolderGone) != 0) {
          Forget(it);
          continue;
        }
        if (event->len == 0) continue;
        // The queue holds the only other reference while an answer is in
        // use: a listing handed out is never changed under its reader.
        std::shared_ptr<FolderNames>& names = it->second.names;
        if (names.use_count() > 1) names = std::make_shared<FolderNames>(*names);
        const std::string name(event->name, ::strnlen(event->name, event->len));
        if ((event->mask & (IN_CREATE | IN_MOVED_TO)) != 0) names->Add(name);
        if ((event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0) names->Remove(name);
      }
    }
  }
}

void Cache::Forget(Folders::iterator it) {
  const int watch = it->second.watch;
  const std::string key = it->first;
  folders_.erase(it);
  if (watch < 0) return;
  auto served = watched_.find(watch);
  if (served == watched_.end()) return;
  std::erase(served->second, key);
  if (!served->second.empty()) return;
  watched_.erase(served);
  // Fails only when the kernel has already removed the watch (the folder
  // went away), which is what is wanted.
  ::inotify_rm_watch(reports_, watch);
}

void Cache::Reset() {
  if (reports_ >= 0) ::close(reports_);
  reports_ = -1;
  watched_.clear();
  folders_.clear();
}

std::shared_ptr<const FolderNames> Cache::List(const std::string& key) {
  auto it = folders_.find(key);
  if (t_operation != 0 && it != folders_.end() && it->second.operation == t_operation) {
    if (it->second.watch < 0 || !g_own_change) return it->second.names;
    ApplyReports();
    it = folders_.find(key);
    if (it != folders_.end()) return it->second.names;
  }
  ApplyReports();
  struct stat st {};
  it = folders_.find(key);
  if (::stat(key.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (it != folders_.end()) Forget(it);
    return nullptr;
  }
  if (it != folders_.end()) {
    Kept& kept = it->second;
    const Stamp stamp = StampOf(st);
    const bool same_folder = kept.stamp.dev == stamp.dev && kept.stamp.ino == stamp.ino;
    if (same_folder && (kept.watch >= 0 || (kept.settled && kept.stamp == stamp))) {
      kept.operation = t_operation;
      return kept.names;
    }
    Forget(it);
  }
  return Read(key);
}

std::shared_ptr<const FolderNames> Cache::Read(const std::string& key) {
  timespec clock{};
  ::clock_gettime(CLOCK_REALTIME, &clock);
  const long long now = Nanoseconds(clock);
  const int fd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return nullptr;
  }
  if (folders_.size() >= kMaxFolders) Reset();
  // Watched before it is read: a change made while it is read is reported
  // and applied after, in order, so the last word on each name is right.
  const int watch = Watch(fd);
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    if (watch >= 0 && !watched_.contains(watch)) ::inotify_rm_watch(reports_, watch);
    return nullptr;
  }
  std::vector<std::string> entries;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    entries.emplace_back(name);
  }
  ::closedir(dir);
  ++g_readings;
  Kept kept;
  kept.stamp = StampOf(st);
  kept.settled = Settled(kept.stamp, now);
  kept.watch = watch;
  kept.operation = t_operation;
  kept.names = std::make_shared<FolderNames>(entries);
  if (watch >= 0) watched_[watch].push_back(key);
  std::shared_ptr<const FolderNames> names = kept.names;
  folders_[key] = std::move(kept);
  return names;
}

void Cache::Changed(const std::string& key) {
  g_own_change = true;
  // A listing kept by its times is read again; a watched one is brought
  // up to date by the report of this change.
  auto it = folders_.find(key);
  if (it != folders_.end() && it->second.watch < 0) Forget(it);
}

}  // namespace

FolderNames::FolderNames(const std::vector<std::string>& names) {
  exact_.reserve(names.size());
  for (const std::string& name : names) Add(name);
}

void FolderNames::Add(const std::string& name) {
  if (exact_.insert(name).second) folded_[Folded(name)].push_back(name);
}

void FolderNames::Remove(const std::string& name) {
  if (exact_.erase(name) == 0) return;
  auto it = folded_.find(Folded(name));
  if (it == folded_.end()) return;
  std::erase(it->second, name);
  if (it->second.empty()) folded_.erase(it);
}

std::string FolderNames::Find(std::string_view name) const {
  if (Contains(name)) return std::string(name);
  auto it = folded_.find(Folded(name));
  if (it == folded_.end()) return {};
  return *std::min_element(it->second.begin(), it->second.end());
}

bool FolderNames::Contains(std::string_view exact) const { return exact_.find(exact) != exact_.end(); }

FolderOperation::FolderOperation() {
  if (t_operation_depth++ == 0) t_operation = ++g_last_operation;
}

FolderOperation::~FolderOperation() {
  if (--t_operation_depth == 0) t_operation = 0;
}

std::shared_ptr<const FolderNames> ListFolder(std::string_view native_folder) {
  const std::string key = FolderKey(native_folder);
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  return cache.List(key);
}

void FolderChanged(std::string_view native_path) {
  const std::string key = FolderKey(ParentFolder(native_path));
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  cache.Changed(key);
}

std::uint64_t FolderReadings() { return g_readings; }

void UseChangeReports(bool use) {
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  cache.UseReports(use);
}

}  // namespace kx8::platform
