#include "os/sync_group.h"

#include <errno.h>
#include <fcntl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>

#include "core/error.h"
#include "dbe/dbe.h"
#include "os/system_calls.h"

namespace dbe::os {
namespace {

struct Group {
  std::mutex mutex;
  bool grouped = false;
  std::set<std::string> folders;  // flushes owed
};

Group& TheGroup() {
  static Group group;
  return group;
}

// NotePeriod(): 0 while grouping is off.
std::atomic<uint64_t> g_period{0};
uint64_t g_periods_begun = 0;  // under the group's mutex

void BeginPeriod(bool grouped) { g_period.store(grouped ? ++g_periods_begun : 0, std::memory_order_release); }

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void FlushFileSystemOf(const std::string& folder) {
  int fd = Calls().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  int rc = fd < 0 ? -1 : Calls().syncfs(fd);
  int e = errno;
  if (fd >= 0) Calls().close(fd);
  if (rc != 0) {
    Fail(DBE_IO_ERROR, "Error 5065: Flushing the files written in the folder failed (" + std::string(std::strerror(e)) +
                           "). File: " + folder);
  }
}

}  // namespace

void SetSyncGrouped(bool grouped) {
  std::lock_guard<std::mutex> hold(TheGroup().mutex);
  TheGroup().grouped = grouped;
  BeginPeriod(grouped);
}

bool SyncGrouped() {
  std::lock_guard<std::mutex> hold(TheGroup().mutex);
  return TheGroup().grouped;
}

bool DeferSyncOf(const std::string& path) { return DeferSyncOfFolder(FolderOf(path)); }

bool DeferSyncOfFolder(const std::string& folder) {
  Group& g = TheGroup();
  std::lock_guard<std::mutex> hold(g.mutex);
  if (!g.grouped) return false;
  g.folders.insert(folder);
  return true;
}

void SyncBarrier() {
  Group& g = TheGroup();
  std::lock_guard<std::mutex> hold(g.mutex);
  // A period ends before its flushes: what is written in place after this
  // notes its folder again, for the next barrier.
  BeginPeriod(g.grouped);
  while (!g.folders.empty()) {
    FlushFileSystemOf(*g.folders.begin());  // raises with the folder still owed
    g.folders.erase(g.folders.begin());
  }
}

uint64_t NotePeriod() { return g_period.load(std::memory_order_acquire); }

}  // namespace dbe::os
