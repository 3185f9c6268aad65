// DbGetTableStamp: a value standing for a table's data and index files as
// they are on disk, so that a caller can keep what it read of a table (its
// fields, its index tags) and learn from a look at the files, without
// opening the table, whether that still holds.
//
// Every change of a table's columns replaces its data file (a rebuilt file
// is renamed over the old one), so the file's identity and times change with
// it; so does any write of rows. A tag added or dropped rewrites the index
// file only, which is looked at too. What the files do not show is answered with
// no stamp: a change this process keeps waiting (deferred rewrites), a
// rewrite that failed here or was cut short by a stop (its commit marker is
// still there, and the next open switches to the new files), and a table
// this process holds exclusively.
//
// A table of a dictionary is found through the dictionary's entry, and what
// an open through it would go by is part of its stamp: the entry (which file
// it names, under which name, its encryption and default index), the
// dictionary it is in, and the rights of the user logged on. A table taken
// out of the dictionary, put back on another file, or given other rights or
// encryption has another stamp, or none, even where its file is unchanged.
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>

#include "api/objects.h"
#include "api/run.h"
#include "api/tables.h"
#include "core/error.h"
#include "dbe/dbe.h"
#include "dict/dictionary.h"
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

}  // namespace

// 0 when no stamp stands for the table in `kdt` (see the top of the file).
uint64_t StampOfFiles(const std::string& kdt, const TableFile* held) {
  struct stat st {};
  if (os::Calls().stat(kdt.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  struct stat marker {};
  if (os::Calls().stat((kdt + ".commit").c_str(), &marker) == 0 || errno != ENOENT) return 0;
  const auto dev = static_cast<uint64_t>(st.st_dev), ino = static_cast<uint64_t>(st.st_ino);
  if (!TableFile::FilesShowTable(dev, ino, held)) return 0;
  struct stat index {};
  bool has_index = true;
  if (os::Calls().stat(TablePaths::For(kdt).kdi.c_str(), &index) != 0) {
    if (errno != ENOENT) return 0;
    has_index = false;
  }
  uint64_t h = 0;
  for (const struct stat* f : {&st, &index}) {
    for (uint64_t v : {static_cast<uint64_t>(f->st_dev), static_cast<uint64_t>(f->st_ino),
                       static_cast<uint64_t>(f->st_size), static_cast<uint64_t>(f->st_mtim.tv_sec),
                       static_cast<uint64_t>(f->st_mtim.tv_nsec), static_cast<uint64_t>(f->st_ctim.tv_sec),
                       static_cast<uint64_t>(f->st_ctim.tv_nsec)}) {
      h = Mix(h, v);
    }
  }
  h = Mix(h, has_index ? 1 : 2);
  return h == 0 ? 1 : h;
}

namespace {

uint64_t MixText(uint64_t h, std::string_view text) {
  h = Mix(h, text.size());
  uint64_t word = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    word = (word << 8) | static_cast<unsigned char>(text[i]);
    if (i % 8 == 7) {
      h = Mix(h, word);
      word = 0;
    }
  }
  return Mix(h, word);
}

// The stamp of the dictionary's table `name` on c (a dictionary connection);
// held: the table file of an open handle, which must be the file the entry
// names now. 0 for a name the dictionary does not hold: such a table opens
// as a free table of the folder, which the dictionary may still refuse.
uint64_t StampOfEntry(Connection* c, const std::string& name, const TableFile* held) {
  std::optional<DictTable> entry = dict::FindTable(c, name);
  if (!entry) return 0;
  const std::string path = dict::EntryPath(c, *entry);
  if (held != nullptr && held->file_name() != path) return 0;
  uint64_t h = StampOfFiles(path, held);
  if (h == 0) return 0;
  h = MixText(h, "dictionary");  // never the stamp of the same file opened free
  for (uint8_t b : c->dictionary_id) h = Mix(h, b);
  h = MixText(h, entry->name);
  h = MixText(h, path);
  h = Mix(h, entry->table_type);
  h = Mix(h, entry->char_type);
  h = Mix(h, entry->encryption);
  h = MixText(h, entry->default_index);
  h = MixText(h, c->user);
  h = MixText(h, dict::RightsOf(c, *entry));
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
      Connection* c = t->connection();
      if (c != nullptr && c->is_dictionary()) {
        // Which entry the handle was opened through is the caller's to say.
        if (name != nullptr) *stamp = StampOfEntry(c, name, &t->file());
        return;
      }
      *stamp = StampOfFiles(t->file().file_name(), &t->file());
      return;
    }
    Connection* c = LookupConnection(handle);
    if (c == nullptr) Fail(DBE_INVALID_HANDLE, "Error 5010: The handle is not a valid table or connection handle.");
    if (name == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No table name was given.");
    *stamp = c->is_dictionary() ? StampOfEntry(c, name, nullptr) : StampOfFiles(TablePath(c, name), nullptr);
  });
}
