#include "os/sync_group.h"

#include <errno.h>
#include <fcntl.h>

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
  while (!g.folders.empty()) {
    FlushFileSystemOf(*g.folders.begin());  // raises with the folder still owed
    g.folders.erase(g.folders.begin());
  }
}

}  // namespace dbe::os
