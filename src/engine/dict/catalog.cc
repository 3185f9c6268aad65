#include "dict/catalog.h"

#include <sys/stat.h>

#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <mutex>

#include "core/error.h"
#include "core/text.h"
#include "dbe/dbe.h"
#include "os/file.h"
#include "storage/bytes.h"

namespace dbe {
namespace {

constexpr char kMagic[8] = {'K', 'X', '8', 'D', 'I', 'C', 'T', 0x1A};
constexpr char kKeyMagic[8] = {'K', 'X', '8', 'D', 'K', 'E', 'Y', 0x1A};
constexpr char kLockMagic[8] = {'K', 'X', '8', 'D', 'L', 'C', 'K', 0x1A};
constexpr uint32_t kVersion = 1;
constexpr size_t kMaxText = 1 << 20;

std::string_view BareName(std::string_view name) {
  if (name.size() > 4 && EqualsIgnoreCase(name.substr(name.size() - 4), ".KDT")) name.remove_suffix(4);
  return name;
}

std::string Serialize(const Catalog& c) {
  ByteWriter w;
  w.Str(c.description);
  w.U32(static_cast<uint32_t>(c.tables.size()));
  for (const DictTable& t : c.tables) {
    w.Str(t.name);
    w.Str(t.file);
    w.U16(t.table_type);
    w.U16(t.char_type);
    w.Str(t.comments);
    w.U16(t.auto_create);
    w.U16(t.encryption);
    w.Str(t.default_index);
    w.Str(t.field_list);
    w.U32(static_cast<uint32_t>(t.tags.size()));
    for (const DictTag& g : t.tags) {
      w.Str(g.name);
      w.Str(g.expr);
      w.U32(g.options);
    }
  }
  w.U32(static_cast<uint32_t>(c.users.size()));
  for (const DictUser& u : c.users) {
    w.Str(u.name);
    w.Str(u.group);
    w.Str(u.description);
    w.Raw(u.kdf.salt.data(), u.kdf.salt.size());
    w.U64(u.kdf.ops);
    w.U64(u.kdf.mem);
    w.Str(u.wrapped_key);
  }
  w.U32(static_cast<uint32_t>(c.rights.size()));
  for (const DictRight& r : c.rights) {
    w.Str(r.object);
    w.Str(r.user);
    w.Str(r.letters);
  }
  w.U32(static_cast<uint32_t>(c.procedures.size()));
  for (const DictProcedure& p : c.procedures) {
    w.Str(p.name);
    w.Str(p.params);
    w.Str(p.function);
    w.Str(p.library);
  }
  std::string body = w.bytes();
  ByteWriter out;
  out.Raw(kMagic, 8);
  out.U32(kVersion);
  out.Raw(c.id.data(), 16);
  out.U64(c.generation);
  out.U64(body.size());
  out.U64(crypto::Digest64(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
  out.Raw(body.data(), body.size());
  return out.bytes();
}

Catalog Parse(const std::string& bytes, const std::string& file) {
  auto bad = [&](const std::string& why) -> Catalog {
    Fail(DBE_DAMAGED_FILE, "Error 5052: The data dictionary is damaged or not a dictionary (" + why + "). File: " + file);
  };
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() < 52 || std::memcmp(p, kMagic, 8) != 0) return bad("unknown file signature");
  ByteReader h(p + 8, bytes.size() - 8);
  if (h.U32() != kVersion) return bad("unsupported version");
  Catalog c;
  std::memcpy(c.id.data(), h.Take(16), 16);
  c.generation = h.U64();
  uint64_t len = h.U64();
  uint64_t digest = h.U64();
  if (h.failed() || len != h.remaining()) return bad("the contents are cut short");
  const uint8_t* body = h.Take(len);
  if (crypto::Digest64(body, len) != digest) return bad("checksum mismatch");
  ByteReader r(body, len);
  c.description = r.Str(kMaxText);
  uint32_t n = r.U32();
  for (uint32_t i = 0; i < n && !r.failed(); ++i) {
    DictTable t;
    t.name = r.Str(kMaxText);
    t.file = r.Str(kMaxText);
    t.table_type = r.U16();
    t.char_type = r.U16();
    t.comments = r.Str(kMaxText);
    t.auto_create = r.U16();
    t.encryption = r.U16();
    t.default_index = r.Str(kMaxText);
    t.field_list = r.Str(kMaxText);
    uint32_t tags = r.U32();
    for (uint32_t k = 0; k < tags && !r.failed(); ++k) {
      DictTag g;
      g.name = r.Str(kMaxText);
      g.expr = r.Str(kMaxText);
      g.options = r.U32();
      t.tags.push_back(std::move(g));
    }
    c.tables.push_back(std::move(t));
  }
  n = r.U32();
  for (uint32_t i = 0; i < n && !r.failed(); ++i) {
    DictUser u;
    u.name = r.Str(kMaxText);
    u.group = r.Str(kMaxText);
    u.description = r.Str(kMaxText);
    const uint8_t* salt = r.Take(crypto::kSaltSize);
    if (salt != nullptr) std::memcpy(u.kdf.salt.data(), salt, crypto::kSaltSize);
    u.kdf.ops = r.U64();
    u.kdf.mem = r.U64();
    u.wrapped_key = r.Str(kMaxText);
    c.users.push_back(std::move(u));
  }
  n = r.U32();
  for (uint32_t i = 0; i < n && !r.failed(); ++i) {
    DictRight x;
    x.object = r.Str(kMaxText);
    x.user = r.Str(kMaxText);
    x.letters = r.Str(kMaxText);
    c.rights.push_back(std::move(x));
  }
  n = r.U32();
  for (uint32_t i = 0; i < n && !r.failed(); ++i) {
    DictProcedure x;
    x.name = r.Str(kMaxText);
    x.params = r.Str(kMaxText);
    x.function = r.Str(kMaxText);
    x.library = r.Str(kMaxText);
    c.procedures.push_back(std::move(x));
  }
  if (r.failed() || r.remaining() != 0) return bad("inconsistent contents");
  return c;
}

// What tells one state of a file from another.
struct FileId {
  int64_t mtime_ns = 0;
  uint64_t size = 0, ino = 0, dev = 0;
  bool operator==(const FileId&) const = default;
};

struct CacheEntry {
  FileId file;
  std::shared_ptr<const Catalog> catalog;
};

// A dictionary whose changes wait to be written (batched writes). Found by
// its file's identity, so that every spelling of its path finds it.
struct Waiting {
  DictionaryPaths paths;
  os::File lock;  // CODE.ki, held exclusively until the changes are written
  FileId file;    // the file the changes apply to
  std::shared_ptr<const Catalog> on_disk;  // as that file holds it
  // The batch's own copy from its first change on, made modifiable (the
  // file's copy is made const) so that it is changed in place while no
  // reader holds it.
  std::shared_ptr<Catalog> own;
  bool changed = false;

  // The catalogue as changed.
  std::shared_ptr<const Catalog> current() const { return own ? own : on_disk; }
};
using WaitingKey = std::pair<uint64_t, uint64_t>;  // device, inode

std::mutex g_cache_mu;
// The batching switch and the waiting dictionaries are used under the
// engine's lock (every public call holds it).
bool g_batched = false;

std::map<std::string, CacheEntry>& Cache() {
  static auto* c = new std::map<std::string, CacheEntry>();
  return *c;
}

std::map<WaitingKey, Waiting>& WaitingCatalogs() {
  static auto* w = new std::map<WaitingKey, Waiting>();
  return *w;
}

}  // namespace

bool SameTableName(std::string_view a, std::string_view b) { return EqualsIgnoreCase(BareName(a), BareName(b)); }

DictTable* Catalog::FindTable(const std::string& name) {
  for (DictTable& t : tables) {
    if (SameTableName(t.name, name)) return &t;
  }
  return nullptr;
}

DictUser* Catalog::FindUser(const std::string& name) {
  for (DictUser& u : users) {
    if (EqualsIgnoreCase(u.name, name)) return &u;
  }
  return nullptr;
}

DictRight* Catalog::FindRight(const std::string& object, const std::string& user) {
  for (DictRight& r : rights) {
    if (SameTableName(r.object, object) && EqualsIgnoreCase(r.user, user)) return &r;
  }
  return nullptr;
}

DictionaryPaths DictionaryPaths::For(const std::string& kdd_path) {
  DictionaryPaths p;
  p.kdd = kdd_path;
  std::string base = kdd_path.substr(0, kdd_path.size() - 4);
  bool lower = kdd_path[kdd_path.size() - 1] == 'd';
  p.km = base + (lower ? ".km" : ".KM");
  p.ki = base + (lower ? ".ki" : ".KI");
  auto slash = kdd_path.find_last_of('/');
  p.folder = slash == std::string::npos ? "./" : kdd_path.substr(0, slash + 1);
  return p;
}

namespace {

FileId StatOf(const std::string& kdd_path) {
  struct stat st;
  if (::stat(kdd_path.c_str(), &st) != 0) {
    Fail(DBE_FILE_NOT_FOUND, "Error 5041: The data dictionary was not found. File: " + kdd_path);
  }
  return FileId{int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, uint64_t(st.st_size),
                uint64_t(st.st_ino), uint64_t(st.st_dev)};
}

// The catalogue as the file holds it, with the file's identity (`id`, as
// the caller found it just now).
CacheEntry LoadFromFile(const std::string& kdd_path, const FileId& id) {
  CacheEntry now{id, nullptr};
  {
    std::lock_guard<std::mutex> lock(g_cache_mu);
    auto it = Cache().find(kdd_path);
    if (it != Cache().end() && it->second.file == now.file) return it->second;
  }
  now.catalog = std::make_shared<const Catalog>(Parse(os::ReadWholeFile(kdd_path), kdd_path));
  std::lock_guard<std::mutex> lock(g_cache_mu);
  Cache()[kdd_path] = now;
  return now;
}

CacheEntry LoadFromFile(const std::string& kdd_path) { return LoadFromFile(kdd_path, StatOf(kdd_path)); }

os::File TakeLock(const DictionaryPaths& paths) {
  os::File lock_file = os::File::OpenExisting(paths.ki);
  try {
    lock_file.LockWait(0, true, "The data dictionary");
  } catch (const Error& e) {
    if (e.code() != DBE_TABLE_IN_USE) throw;
    // Named by the dictionary itself rather than its lock file.
    Fail(e.code(), "Error 5042: The data dictionary is locked by another program; waited " +
                       std::to_string(os::LockWaitLimit().count()) + " ms. File: " + paths.kdd);
  }
  return lock_file;
}

// Replaces the file with the catalogue, one generation on, and keeps it as
// the cached one.
void WriteCatalog(const std::string& kdd_path, Catalog c) {
  ++c.generation;
  os::WriteFileAtomically(kdd_path, Serialize(c));
  CacheEntry written{StatOf(kdd_path), std::make_shared<const Catalog>(std::move(c))};
  std::lock_guard<std::mutex> lock(g_cache_mu);
  Cache()[kdd_path] = written;
}

// The waiting entry of the dictionary, made (its lock taken) when there is
// none.
Waiting& WaitingFor(const DictionaryPaths& paths) {
  FileId id = StatOf(paths.kdd);
  auto it = WaitingCatalogs().find({id.dev, id.ino});
  if (it != WaitingCatalogs().end()) return it->second;
  Waiting w;
  w.paths = paths;
  w.lock = TakeLock(paths);
  // Read under the lock: another program may have replaced it meanwhile.
  CacheEntry base = LoadFromFile(paths.kdd);
  w.file = base.file;
  w.on_disk = base.catalog;
  return WaitingCatalogs().emplace(WaitingKey{w.file.dev, w.file.ino}, std::move(w)).first->second;
}

// Writes one waiting dictionary (when it changed) and gives back its lock.
void WriteWaiting(Waiting& w) {
  // Changes that cancel out (a property switched off and on again, a table
  // taken out and put back in its place) leave the file as it is.
  if (w.changed && *w.own == *w.on_disk) w.changed = false;
  if (w.changed) {
    const std::string& kdd = w.paths.kdd;
    FileId now = StatOf(kdd);
    if (!(now == w.file)) {
      // Its lock was held all along: only a program that ignores it (a
      // copy or a restore of the folder) can have replaced the file.
      Fail(DBE_IO_ERROR, "Error 5065: The data dictionary was replaced by another program while changes to it waited to "
                         "be written; they are not written. File: " + kdd);
    }
    try {
      WriteCatalog(kdd, *w.own);
    } catch (const Error& e) {
      Fail(e.code(), std::string(e.what()) + " The waiting changes of the data dictionary are not written. File: " + kdd);
    }
    w.changed = false;
  }
  w.lock.Unlock(0);
}

}  // namespace

std::shared_ptr<const Catalog> LoadCatalog(const std::string& kdd_path) {
  // One look at the file answers both: whether changes wait for it, and
  // whether the cached catalogue is still the file's.
  const FileId id = StatOf(kdd_path);
  if (!WaitingCatalogs().empty()) {
    auto it = WaitingCatalogs().find({id.dev, id.ino});
    if (it != WaitingCatalogs().end() && it->second.file == id) return it->second.current();
  }
  return LoadFromFile(kdd_path, id).catalog;
}

void UpdateCatalog(const DictionaryPaths& paths, const std::function<void(Catalog&)>& change) {
  if (g_batched) {
    Waiting& w = WaitingFor(paths);
    if (w.own && w.own.use_count() == 1) {
      // No reader holds it: changed in place. Whether the batch changed
      // anything is decided when it is written, against the file's copy.
      change(*w.own);
      w.changed = true;
      return;
    }
    auto c = std::make_shared<Catalog>(*w.current());
    change(*c);
    // Kept even when it changed nothing, so that the batch's next changes
    // are made in place.
    if (!(*c == *w.current())) w.changed = true;
    w.own = std::move(c);
    return;
  }
  os::File lock_file = TakeLock(paths);
  std::shared_ptr<const Catalog> base = LoadFromFile(paths.kdd).catalog;
  Catalog c = *base;
  change(c);
  // A change that leaves the catalogue as it was (a right or a property set
  // to the value it has) writes nothing: every write is a synced replacement
  // of the whole file, and the upgrade repeats such settings often.
  if (!(c == *base)) WriteCatalog(paths.kdd, std::move(c));
  lock_file.Unlock(0);
}

void SetCatalogWritesBatched(bool batched) {
  g_batched = batched;  // off even when writing what waits fails
  if (!batched) WriteWaitingCatalogs();
}

bool CatalogWritesBatched() { return g_batched; }

void WriteWaitingCatalogs() {
  std::map<WaitingKey, Waiting> waiting;
  waiting.swap(WaitingCatalogs());
  std::exception_ptr first;
  for (auto& [key, w] : waiting) {
    try {
      WriteWaiting(w);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

void WriteCatalogUnlessListed(const std::string& kdd_path, const std::string& table) {
  if (WaitingCatalogs().empty()) return;
  FileId id = StatOf(kdd_path);
  auto it = WaitingCatalogs().find({id.dev, id.ino});
  if (it == WaitingCatalogs().end()) return;
  Waiting& w = it->second;
  if (w.changed && const_cast<Catalog&>(*w.on_disk).FindTable(table) == nullptr) {
    Waiting taken = std::move(w);
    WaitingCatalogs().erase(it);
    WriteWaiting(taken);
  }
}

void WriteNewDictionary(const DictionaryPaths& paths, const Catalog& catalog, const crypto::Key& key) {
  if (os::PathExists(paths.kdd)) {
    Fail(DBE_TABLE_EXISTS, "Error 5059: A data dictionary exists already. File: " + paths.kdd);
  }
  ByteWriter km;
  km.Raw(kKeyMagic, 8);
  km.U32(kVersion);
  km.Raw(catalog.id.data(), 16);
  uint8_t check[crypto::kCheckSealedSize];
  crypto::MakeCheck(key, catalog.id.data(), 16, check);
  km.Raw(check, sizeof check);
  os::WriteFileAtomically(paths.km, km.bytes());
  ByteWriter ki;
  ki.Raw(kLockMagic, 8);
  ki.U32(kVersion);
  ki.Raw(catalog.id.data(), 16);
  os::WriteFileAtomically(paths.ki, ki.bytes());
  os::WriteFileAtomically(paths.kdd, Serialize(catalog));
}

bool CheckDictionaryKey(const DictionaryPaths& paths, const std::array<uint8_t, 16>& id, const crypto::Key& key) {
  std::string km = os::ReadWholeFile(paths.km);
  if (km.size() != 8 + 4 + 16 + crypto::kCheckSealedSize || std::memcmp(km.data(), kKeyMagic, 8) != 0 ||
      std::memcmp(km.data() + 12, id.data(), 16) != 0) {
    Fail(DBE_DAMAGED_FILE, "Error 5052: The key file of the data dictionary is damaged or belongs to another one. File: " +
                               paths.km);
  }
  return crypto::VerifyCheck(key, id.data(), 16, reinterpret_cast<const uint8_t*>(km.data()) + 28);
}

}  // namespace dbe
