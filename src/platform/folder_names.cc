#include "platform/folder_names.h"

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "platform/path.h"

namespace kx8::platform {
namespace {

// How long after a folder's last change a reading of it is trusted. File
// systems with nanosecond times stamp changes from the kernel's coarse
// clock, which advances in ticks (4 ms at the usual 250 Hz); two ticks
// after a change, any later change gets a later time. File systems that
// keep whole seconds only (FAT keeps two) need the longer wait.
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

struct Kept {
  Stamp stamp;
  bool settled = false;
  std::uint64_t operation = 0;  // the operation that read it, 0 for none
  std::shared_ptr<const FolderNames> names;
};

// The current operation of this thread (0: none) and its nesting depth.
std::atomic<std::uint64_t> g_last_operation{0};
thread_local std::uint64_t t_operation = 0;
thread_local int t_operation_depth = 0;

struct Cache {
  std::mutex mutex;
  std::map<std::string, Kept, std::less<>> folders;
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

// Null when the folder cannot be read.
std::shared_ptr<const FolderNames> Scan(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return nullptr;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  ::closedir(dir);
  return std::make_shared<const FolderNames>(std::move(names));
}

}  // namespace

// A reading is hashed rather than sorted: a company folder holds hundreds
// of names and is read again after every change the pass makes to it.
FolderNames::FolderNames(std::vector<std::string> names) : names_(std::move(names)) {
  exact_.reserve(names_.size());
  for (const std::string& name : names_) exact_.insert(name);
}

std::string FolderNames::Find(std::string_view name) const {
  if (Contains(name)) return std::string(name);
  const std::string* first = nullptr;
  for (const std::string& entry : names_) {
    if (SameNameIgnoreCase(entry, name) && (first == nullptr || entry < *first)) first = &entry;
  }
  return first == nullptr ? std::string() : *first;
}

bool FolderNames::Contains(std::string_view exact) const { return exact_.count(exact) != 0; }

FolderOperation::FolderOperation() {
  if (t_operation_depth++ == 0) t_operation = ++g_last_operation;
}

FolderOperation::~FolderOperation() {
  if (--t_operation_depth == 0) t_operation = 0;
}

std::shared_ptr<const FolderNames> ListFolder(std::string_view native_folder) {
  const std::string key = FolderKey(native_folder);
  Cache& cache = TheCache();
  if (t_operation != 0) {
    std::lock_guard<std::mutex> hold(cache.mutex);
    auto it = cache.folders.find(key);
    if (it != cache.folders.end() && it->second.operation == t_operation) return it->second.names;
  }
  timespec clock{};
  ::clock_gettime(CLOCK_REALTIME, &clock);
  const long long now = Nanoseconds(clock);
  struct stat st {};
  if (::stat(key.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::lock_guard<std::mutex> hold(cache.mutex);
    cache.folders.erase(key);
    return nullptr;
  }
  const Stamp stamp = StampOf(st);
  {
    std::lock_guard<std::mutex> hold(cache.mutex);
    auto it = cache.folders.find(key);
    if (it != cache.folders.end() && it->second.settled && it->second.stamp == stamp) {
      it->second.operation = t_operation;
      return it->second.names;
    }
  }
  // Read after the stat: a change in between makes the next stat differ,
  // so the reading is never trusted past what it saw.
  std::shared_ptr<const FolderNames> names = Scan(key);
  std::lock_guard<std::mutex> hold(cache.mutex);
  if (names == nullptr) {
    cache.folders.erase(key);
    return nullptr;
  }
  if (cache.folders.size() >= kMaxFolders) cache.folders.clear();
  cache.folders[key] = Kept{stamp, Settled(stamp, now), t_operation, names};
  return names;
}

void FolderChanged(std::string_view native_path) {
  const std::string key = FolderKey(ParentFolder(native_path));
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  cache.folders.erase(key);
}

}  // namespace kx8::platform
