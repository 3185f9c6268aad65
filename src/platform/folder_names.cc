#include "platform/folder_names.h"

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/path.h"

namespace kx8::platform {
namespace {

// How long after a folder's last change a reading of it is trusted. File
// systems with nanosecond times stamp changes from a clock that advances
// in ticks of at most 10 ms on Linux; those that keep whole seconds only
// (FAT keeps two) need the longer wait.
constexpr long long kFineMarginNs = 50'000'000;
constexpr long long kCoarseMarginNs = 2'000'000'000;
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
  return now - latest > (whole_seconds ? kCoarseMarginNs : kFineMarginNs);
}

struct Kept {
  Stamp stamp;
  bool settled = false;
  std::shared_ptr<const FolderNames> names;
};

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

FolderNames::FolderNames(std::vector<std::string> names) : names_(std::move(names)) {
  std::sort(names_.begin(), names_.end());
}

std::string FolderNames::Find(std::string_view name) const {
  if (Contains(name)) return std::string(name);
  for (const std::string& entry : names_) {
    if (SameNameIgnoreCase(entry, name)) return entry;
  }
  return {};
}

bool FolderNames::Contains(std::string_view exact) const {
  return std::binary_search(names_.begin(), names_.end(), exact, std::less<>());
}

std::shared_ptr<const FolderNames> ListFolder(std::string_view native_folder) {
  const std::string key = FolderKey(native_folder);
  timespec clock{};
  ::clock_gettime(CLOCK_REALTIME, &clock);
  const long long now = Nanoseconds(clock);
  struct stat st {};
  Cache& cache = TheCache();
  if (::stat(key.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::lock_guard<std::mutex> hold(cache.mutex);
    cache.folders.erase(key);
    return nullptr;
  }
  const Stamp stamp = StampOf(st);
  {
    std::lock_guard<std::mutex> hold(cache.mutex);
    auto it = cache.folders.find(key);
    if (it != cache.folders.end() && it->second.settled && it->second.stamp == stamp) return it->second.names;
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
  cache.folders[key] = Kept{stamp, Settled(stamp, now), names};
  return names;
}

void FolderChanged(std::string_view native_path) {
  const std::string key = FolderKey(ParentFolder(native_path));
  Cache& cache = TheCache();
  std::lock_guard<std::mutex> hold(cache.mutex);
  cache.folders.erase(key);
}

}  // namespace kx8::platform
