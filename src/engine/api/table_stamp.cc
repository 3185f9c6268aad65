// DbGetTableStamp: a value standing for a table's data file as it is on
// disk, so that a caller can keep what it read of a table (its fields) and
// learn from one look at the file, without opening the table, whether that
// still holds.
//
// Every change of a table's structure replaces its data file (a rebuilt file
// is renamed over the old one), so the file's identity and times change with
// it; so does any write of rows. What the files do not show is answered with
// no stamp: a change this process keeps waiting (deferred rewrites), a
// rewrite that failed here or was cut short by a stop (its commit marker is
// still there, and the next open switches to the new files), and a table
// this process holds exclusively.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "api/objects.h"
#include "api/run.h"
#include "api/tables.h"
#include "core/error.h"
#include "dbe/dbe.h"
#include "os/system_calls.h"
#include "storage/table_file.h"

namespace dbe {
namespace {

uint64_t Mix(uint64_t h, uint64_t v) {
  // splitmix64's finaliser over the running value: every input bit moves
  // about half of the output bits.
  h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
  h ^= h >> 30;
  h *= 0xbf58476d1ce4e5b9ull;
  h ^= h >> 27;
  h *= 0x94d049bb133111ebull;
  return h ^ (h >> 31);
}

// 0 when no stamp stands for the table in `kdt` (see the top of the file).
uint64_t StampOfFiles(const std::string& kdt, const TableFile* held) {
  struct stat st {};
  if (os::Calls().stat(kdt.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  struct stat marker {};
  if (os::Calls().stat((kdt + ".commit").c_str(), &marker) == 0 || errno != ENOENT) return 0;
  const auto dev = static_cast<uint64_t>(st.st_dev), ino = static_cast<uint64_t>(st.st_ino);
  if (!TableFile::FilesShowTable(dev, ino, held)) return 0;
  uint64_t h = 0;
  for (uint64_t v : {dev, ino, static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_mtim.tv_sec),
                     static_cast<uint64_t>(st.st_mtim.tv_nsec), static_cast<uint64_t>(st.st_ctim.tv_sec),
                     static_cast<uint64_t>(st.st_ctim.tv_nsec)}) {
    h = Mix(h, v);
  }
  return h == 0 ? 1 : h;
}

}  // namespace
}  // namespace dbe

using namespace dbe;

extern "C" DBRESULT DbGetTableStamp(DBHANDLE handle, const char* name, uint64_t* stamp) {
  return Run([&] {
    if (stamp == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No stamp pointer was given.");
    *stamp = 0;
    if (auto* t = LookupAs<TableCursor>(handle, DBE_HANDLE_TABLE)) {
      if (t->connection() != nullptr && t->connection()->is_dictionary()) return;
      *stamp = StampOfFiles(t->file().file_name(), &t->file());
      return;
    }
    Connection* c = LookupConnection(handle);
    if (c == nullptr) Fail(DBE_INVALID_HANDLE, "Error 5010: The handle is not a valid table or connection handle.");
    if (c->is_dictionary()) return;
    if (name == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No table name was given.");
    *stamp = StampOfFiles(TablePath(c, name), nullptr);
  });
}
