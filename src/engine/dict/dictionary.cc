#include "dict/dictionary.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "core/error.h"
#include "core/text.h"
#include "api/tables.h"
#include "dbe/dbe.h"
#include "os/file.h"
#include "platform/folder_names.h"
#include "platform/path.h"
#include "storage/bytes.h"
#include "storage/table_file.h"

namespace dbe::dict {
namespace {

const char kAdmin[] = "DBSYS";

DictionaryPaths Paths(Connection* c) { return DictionaryPaths::For(c->kdd); }

void RequireDictionary(Connection* c) {
  if (c == nullptr || !c->is_dictionary()) {
    Fail(DBE_NEEDS_DICTIONARY, "Error 5075: The operation needs a data dictionary connection.");
  }
}

void RequireAdmin(Connection* c) {
  RequireDictionary(c);
  if (!c->admin) {
    Fail(DBE_NO_RIGHTS, "Error 5074: Only the administrator DBSYS may change the data dictionary. File: " + c->kdd);
  }
}

void CheckName(const std::string& name, const char* what) {
  if (Trim(name).empty() || name.size() > DBE_DD_MAX_NAME) {
    Fail(DBE_INVALID_ARGUMENT, std::string("Error 5012: A ") + what + " name has 1 to 200 characters.");
  }
}

// The data file for a path given relative to the dictionary's folder.
std::string ResolveFile(Connection* c, const std::string& file) {
  std::string native = kx8::platform::NativePath(file);
  if (native.empty() || native[0] != '/') native = c->folder + native;
  if (kx8::platform::ExtensionPart(native).empty()) native += ".KDT";
  return kx8::platform::ResolvePath(native);
}

// Structures read from table files, each under the stamp of the files it
// was read from (DbGetTableStamp): automatic creation is switched on for
// every table of a company on every pass, and a table whose files are as
// they were when it was last opened need not be loaded again for it. Kept
// for the tables of one folder at a time, so that a batch of companies does
// not gather them all.
struct SeenStructure {
  uint64_t stamp = 0;
  std::string field_list;
  std::vector<DictTag> tags;
};

struct SeenStructures {
  std::string folder;
  std::map<std::string, SeenStructure> by_path;
};

SeenStructures& Seen() {
  static auto* seen = new SeenStructures();
  return *seen;
}

void TakeStructure(const TableFile& tf, std::string* field_list, std::vector<DictTag>* tags) {
  *field_list = FieldListText(tf.layout());
  tags->clear();
  for (const auto& tag : tf.tags()) tags->push_back(DictTag{tag->name, tag->expr, tag->options});
}

void CaptureStructure(const std::string& path, DictTable* t) {
  SeenStructures& seen = Seen();
  const uint64_t now = StampOfFiles(path, nullptr);
  if (now != 0) {
    auto it = seen.by_path.find(path);
    if (it != seen.by_path.end() && it->second.stamp == now) {
      t->field_list = it->second.field_list;
      t->tags = it->second.tags;
      return;
    }
  }
  auto tf = TableFile::Acquire(path, false);
  try {
    TakeStructure(*tf, &t->field_list, &t->tags);
    NoteStructure(*tf);
  } catch (...) {
    tf->Release(false);
    throw;
  }
  tf->Release(false);
}

// Runs body on the table file held exclusively, releasing it afterwards.
template <class F>
void WithExclusive(const std::string& path, F&& body) {
  auto tf = TableFile::Acquire(path, true);
  try {
    body(*tf);
  } catch (...) {
    tf->Release(true);
    throw;
  }
  tf->Release(true);
}

}  // namespace

void NoteStructure(const TableFile& tf) {
  // Read while the file is held, so that no other program can have
  // rewritten it in between (a rewrite needs the table to itself).
  const uint64_t stamp = StampOfFiles(tf.file_name(), &tf);
  if (stamp == 0) return;
  SeenStructures& seen = Seen();
  const std::string folder = kx8::platform::ParentFolder(tf.file_name());
  if (folder != seen.folder) {
    seen.by_path.clear();
    seen.folder = folder;
  }
  SeenStructure& s = seen.by_path[tf.file_name()];
  if (s.stamp == stamp) return;
  s.stamp = stamp;
  TakeStructure(tf, &s.field_list, &s.tags);
}

void Create(const std::string& kdd_path, const std::string& admin_password, const std::string& description) {
  std::string path = kx8::platform::ResolvePath(kdd_path);
  if (Upper(kx8::platform::ExtensionPart(path)) != ".KDD") {
    Fail(DBE_INVALID_ARGUMENT, "Error 5012: A data dictionary file name ends in \".kdd\". Path: " + kdd_path);
  }
  DictionaryPaths paths = DictionaryPaths::For(path);
  if (!kx8::platform::DirectoryExists(paths.folder)) {
    Fail(DBE_FILE_NOT_FOUND, "Error 5041: The folder of the data dictionary was not found. Path: " + kdd_path);
  }
  Catalog c;
  crypto::RandomBytes(c.id.data(), c.id.size());
  c.description = description;
  crypto::Key key;
  crypto::RandomBytes(key.data(), key.size());
  DictUser admin;
  admin.name = kAdmin;
  admin.description = "Administrator";
  admin.kdf = crypto::NewParams(admin_password);
  auto pw_key = crypto::DeriveKey(admin_password, admin.kdf);
  admin.wrapped_key.resize(key.size() + crypto::kOverhead);
  crypto::Seal(*pw_key, c.id.data(), 16, key.data(), key.size(), reinterpret_cast<uint8_t*>(admin.wrapped_key.data()));
  c.users.push_back(admin);
  WriteNewDictionary(paths, c, key);
}

void Logon(Connection* c, const std::string& kdd_path, const std::string& user, const std::string& password) {
  auto cat = LoadCatalog(kdd_path);
  DictionaryPaths paths = DictionaryPaths::For(kdd_path);
  auto fail = [&]() {
    Fail(DBE_LOGIN_FAILED, "Error 5071: The user name or password is not valid for the data dictionary. File: " +
                               kdd_path);
  };
  const DictUser* u = nullptr;
  for (const DictUser& x : cat->users) {
    if (EqualsIgnoreCase(x.name, user)) u = &x;
  }
  if (u == nullptr || u->wrapped_key.size() != crypto::kKeySize + crypto::kOverhead) fail();
  auto pw_key = crypto::DeriveKey(password, u->kdf);
  auto key = std::make_shared<crypto::Key>();
  if (!crypto::Open(*pw_key, cat->id.data(), 16, reinterpret_cast<const uint8_t*>(u->wrapped_key.data()),
                    u->wrapped_key.size(), key->data())) {
    fail();
  }
  if (!CheckDictionaryKey(paths, cat->id, *key)) {
    Fail(DBE_DAMAGED_FILE, "Error 5052: The key of the data dictionary does not match its key file. File: " + paths.km);
  }
  c->kind = DBE_HANDLE_DICTIONARY;
  c->kdd = kdd_path;
  c->folder = paths.folder;
  c->user = u->name;
  c->admin = EqualsIgnoreCase(u->name, kAdmin);
  c->dictionary_id = cat->id;
  c->dictionary_key = key;
}

std::optional<DictTable> FindTable(Connection* c, const std::string& name) {
  auto cat = LoadCatalog(c->kdd);
  Catalog& m = const_cast<Catalog&>(*cat);
  if (DictTable* t = m.FindTable(name)) return *t;
  // By its file: the name as a path in the dictionary's folder.
  std::string want = ResolveFile(c, name);
  for (const DictTable& t : cat->tables) {
    if (ResolveFile(c, t.file) == want) return t;
  }
  return std::nullopt;
}

std::string EntryPath(Connection* c, const DictTable& t) { return ResolveFile(c, t.file); }

void CheckNotBound(const std::string& kdt_path) {
  std::string folder = kx8::platform::ParentFolder(kdt_path);
  std::string file = Upper(kx8::platform::FileNamePart(kdt_path));
  // Every open of a free table asks this: the folder's kept listing
  // answers without reading the folder again while it is unchanged.
  std::shared_ptr<const kx8::platform::FolderNames> names = kx8::platform::ListFolder(folder);
  if (names == nullptr) return;
  std::vector<std::string> dictionaries;
  for (const std::string& n : names->names()) {
    if (n.size() > 4 && Upper(n.substr(n.size() - 4)) == ".KDD") dictionaries.push_back(n);
  }
  std::sort(dictionaries.begin(), dictionaries.end());  // the same one named every time
  for (const std::string& n : dictionaries) {
    std::string kdd = (folder.empty() || folder.back() == '/' ? folder : folder + "/") + n;
    std::shared_ptr<const Catalog> cat;
    try {
      cat = LoadCatalog(kdd);
    } catch (const Error&) {
      continue;  // not a dictionary of ours: it binds nothing
    }
    for (const DictTable& t : cat->tables) {
      std::string f = kx8::platform::NativePath(t.file);
      if (kx8::platform::ExtensionPart(f).empty()) f += ".KDT";
      if (f.find('/') != std::string::npos) continue;
      if (Upper(f) == file) {
        Fail(DBE_TABLE_BOUND, "Error 5067: The table belongs to the data dictionary " + n + " as " + t.name +
                                  "; open it through the dictionary. File: " + kdt_path);
      }
    }
  }
}

void AutoCreate(Connection* c, const DictTable& t, const std::string& path) {
  if (t.field_list.empty()) {
    Fail(DBE_FILE_NOT_FOUND, "Error 5041: The table file was not found and the dictionary holds no structure for it. File: " + path);
  }
  Layout layout = ParseFieldList(t.field_list, path);
  TableFile::Create(path, layout);
  WithExclusive(path, [&](TableFile& tf) {
    for (const DictTag& g : t.tags) tf.CreateIndex(g.name, g.expr, g.options, nullptr);
    if (t.encryption != 0) {
      TableFile::DictionaryKey dk{c->dictionary_id, c->dictionary_key};
      tf.RewriteTable(TableFile::Rewrite::Encrypt, nullptr, "", &dk);
    }
  });
}

std::string RightsOf(Connection* c, const DictTable& t) {
  if (c->admin) return "RWI";
  auto cat = LoadCatalog(c->kdd);
  for (const DictRight& r : cat->rights) {
    if (SameTableName(r.object, t.name) && EqualsIgnoreCase(r.user, c->user)) return r.letters;
  }
  return "";
}

std::vector<std::string> ObjectNames(Connection* c, uint16_t type, const std::string& parent) {
  RequireDictionary(c);
  auto cat = LoadCatalog(c->kdd);
  std::vector<std::string> out;
  switch (type) {
    case DBE_DD_OBJECT_TABLE:
      for (const DictTable& t : cat->tables) out.push_back(t.name);
      break;
    case DBE_DD_OBJECT_USER:
      for (const DictUser& u : cat->users) out.push_back(u.name);
      break;
    case DBE_DD_OBJECT_PROCEDURE:
      for (const DictProcedure& p : cat->procedures) out.push_back(p.name);
      break;
    case DBE_DD_OBJECT_INDEX: {
      auto t = FindTable(c, parent);
      if (!t) Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The table " + parent + " is not in the data dictionary. File: " + c->kdd);
      std::string path = EntryPath(c, *t);
      if (!os::PathExists(path)) break;
      auto tf = TableFile::Acquire(path, false);
      for (const auto& tag : tf->tags()) out.push_back(tag->name);
      tf->Release(false);
      break;
    }
    default:
      Fail(DBE_INVALID_ARGUMENT, "Error 5012: Unknown dictionary object type " + std::to_string(type) + ".");
  }
  return out;
}

void AddTable(Connection* c, const std::string& name, const std::string& path, uint16_t table_type,
              uint16_t char_type, const std::string& comments) {
  RequireAdmin(c);
  CheckName(name, "table");
  if (table_type != DBE_TABLE_KDT && table_type != DBE_TABLE_DEFAULT) {
    Fail(DBE_UNSUPPORTED_TABLE_TYPE, "Error 5053: Only KDT tables can be added to the data dictionary.");
  }
  std::string file = Trim(path).empty() ? name + ".KDT" : std::string(Trim(path));
  std::string full = ResolveFile(c, file);
  if (!kx8::platform::FileExists(full)) {
    Fail(DBE_FILE_NOT_FOUND, "Error 5041: The table file to add to the data dictionary was not found. File: " + full);
  }
  // A file another dictionary of the folder holds stays with that one.
  std::string own = kx8::platform::FileNamePart(c->kdd);
  try {
    CheckNotBound(full);
  } catch (const Error& e) {
    if (std::string(e.what()).find("dictionary " + own + " ") == std::string::npos) throw;
  }
  DictTable entry;
  entry.name = name;
  entry.file = file;
  entry.table_type = DBE_TABLE_KDT;
  entry.char_type = char_type;
  entry.comments = comments;
  CaptureStructure(full, &entry);
  UpdateCatalog(Paths(c), [&](Catalog& cat) {
    if (cat.FindTable(name) != nullptr) {
      Fail(DBE_OBJECT_EXISTS, "Error 5072: The table " + name + " is in the data dictionary already. File: " + c->kdd);
    }
    cat.tables.push_back(entry);
  });
}

void RemoveTable(Connection* c, const std::string& name, bool delete_files) {
  RequireAdmin(c);
  auto t = FindTable(c, name);
  if (!t) Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The table " + name + " is not in the data dictionary. File: " + c->kdd);
  std::string path = EntryPath(c, *t);
  if (delete_files && os::PathExists(path)) {
    WithExclusive(path, [&](TableFile& tf) {
      ForgetTable(c, *t);
      tf.DeleteFiles();
    });
  } else {
    ForgetTable(c, *t);
  }
}

void ForgetTable(Connection* c, const DictTable& t) {
  RequireAdmin(c);
  UpdateCatalog(Paths(c), [&](Catalog& cat) {
    std::erase_if(cat.tables, [&](const DictTable& x) { return SameTableName(x.name, t.name); });
    std::erase_if(cat.rights, [&](const DictRight& r) { return SameTableName(r.object, t.name); });
  });
}

void SetProperty(Connection* c, const std::string& table, uint16_t property, const void* value, uint16_t len) {
  RequireAdmin(c);
  auto t = FindTable(c, table);
  if (!t) Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The table " + table + " is not in the data dictionary. File: " + c->kdd);
  std::string path = EntryPath(c, *t);
  auto flag = [&]() -> uint16_t {
    if (value == nullptr || len != 2) {
      Fail(DBE_INVALID_ARGUMENT, "Error 5012: The property " + std::to_string(property) + " takes a 16-bit value.");
    }
    uint16_t v;
    std::memcpy(&v, value, 2);
    if (v > 1) Fail(DBE_INVALID_ARGUMENT, "Error 5012: The property " + std::to_string(property) + " is 0 or 1.");
    return v;
  };
  switch (property) {
    case DBE_DD_PROP_AUTO_CREATE: {
      uint16_t v = flag();
      DictTable refreshed = *t;
      if (v == 1 && os::PathExists(path)) CaptureStructure(path, &refreshed);
      UpdateCatalog(Paths(c), [&](Catalog& cat) {
        if (DictTable* e = cat.FindTable(t->name)) {
          e->auto_create = v;
          e->field_list = refreshed.field_list;
          e->tags = refreshed.tags;
        }
      });
      break;
    }
    case DBE_DD_PROP_DEFAULT_INDEX: {
      std::string name = value == nullptr ? "" : std::string(static_cast<const char*>(value), len);
      name = std::string(name.c_str());  // up to a terminator, if any
      UpdateCatalog(Paths(c), [&](Catalog& cat) {
        if (DictTable* e = cat.FindTable(t->name)) e->default_index = name;
      });
      break;
    }
    case DBE_DD_PROP_ENCRYPTION: {
      uint16_t v = flag();
      if (os::PathExists(path)) {
        WithExclusive(path, [&](TableFile& tf) {
          if (v == 1 && !tf.encrypted()) {
            TableFile::DictionaryKey dk{c->dictionary_id, c->dictionary_key};
            tf.RewriteTable(TableFile::Rewrite::Encrypt, nullptr, "", &dk);
          } else if (v == 0 && tf.encrypted()) {
            auto key = tf.KeyFromDictionary(c->dictionary_id, c->dictionary_key);
            tf.RewriteTable(TableFile::Rewrite::Decrypt, key.get(), "");
          }
        });
      }
      UpdateCatalog(Paths(c), [&](Catalog& cat) {
        if (DictTable* e = cat.FindTable(t->name)) e->encryption = v;
      });
      break;
    }
    default:
      Fail(DBE_INVALID_ARGUMENT, "Error 5012: Unknown table property " + std::to_string(property) + ".");
  }
}

void GetProperty(Connection* c, const std::string& table, uint16_t property, void* value, uint16_t* len) {
  RequireDictionary(c);
  if (len == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No value length was given.");
  auto t = FindTable(c, table);
  if (!t) Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The table " + table + " is not in the data dictionary. File: " + c->kdd);
  auto put16 = [&](uint16_t v) {
    if (value == nullptr || *len < 2) {
      *len = 2;
      Fail(DBE_BUFFER_TOO_SMALL, "Error 5015: The buffer is too small for the property.");
    }
    std::memcpy(value, &v, 2);
    *len = 2;
  };
  switch (property) {
    case DBE_DD_PROP_AUTO_CREATE:
      put16(t->auto_create);
      break;
    case DBE_DD_PROP_ENCRYPTION: {
      std::string path = EntryPath(c, *t);
      uint16_t v = t->encryption;
      if (os::PathExists(path)) {
        auto tf = TableFile::Acquire(path, false);
        v = tf->encrypted() ? 1 : 0;
        tf->Release(false);
      }
      put16(v);
      break;
    }
    case DBE_DD_PROP_DEFAULT_INDEX: {
      const std::string& s = t->default_index;
      if (value == nullptr || *len <= s.size()) {
        *len = static_cast<uint16_t>(s.size() + 1);
        Fail(DBE_BUFFER_TOO_SMALL, "Error 5015: The buffer is too small for the property.");
      }
      std::memcpy(value, s.c_str(), s.size() + 1);
      *len = static_cast<uint16_t>(s.size());
      break;
    }
    default:
      Fail(DBE_INVALID_ARGUMENT, "Error 5012: Unknown table property " + std::to_string(property) + ".");
  }
}

void DeleteIndex(Connection* c, const std::string& table, const std::string& index) {
  RequireAdmin(c);
  auto t = FindTable(c, table);
  if (!t) Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The table " + table + " is not in the data dictionary. File: " + c->kdd);
  std::string path = EntryPath(c, *t);
  WithExclusive(path, [&](TableFile& tf) { tf.DropIndex(index); });
  UpdateCatalog(Paths(c), [&](Catalog& cat) {
    if (DictTable* e = cat.FindTable(t->name)) {
      std::erase_if(e->tags, [&](const DictTag& g) { return EqualsIgnoreCase(g.name, index); });
    }
  });
}

void CreateUser(Connection* c, const std::string& group, const std::string& user, const std::string& password,
                const std::string& description) {
  RequireAdmin(c);
  CheckName(user, "user");
  DictUser u;
  u.name = user;
  u.group = group;
  u.description = description;
  u.kdf = crypto::NewParams(password);
  auto pw_key = crypto::DeriveKey(password, u.kdf);
  u.wrapped_key.resize(crypto::kKeySize + crypto::kOverhead);
  crypto::Seal(*pw_key, c->dictionary_id.data(), 16, c->dictionary_key->data(), crypto::kKeySize,
               reinterpret_cast<uint8_t*>(u.wrapped_key.data()));
  UpdateCatalog(Paths(c), [&](Catalog& cat) {
    if (cat.FindUser(user) != nullptr) {
      Fail(DBE_OBJECT_EXISTS, "Error 5072: The user " + user + " exists already. File: " + c->kdd);
    }
    cat.users.push_back(u);
  });
}

void SetRights(Connection* c, const std::string& object, const std::string& user, const std::string& letters) {
  RequireAdmin(c);
  UpdateCatalog(Paths(c), [&](Catalog& cat) {
    DictTable* t = cat.FindTable(object);
    if (t == nullptr) {
      Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The table " + object + " is not in the data dictionary. File: " + c->kdd);
    }
    DictUser* u = cat.FindUser(user);
    if (u == nullptr) Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The user " + user + " does not exist. File: " + c->kdd);
    if (DictRight* r = cat.FindRight(t->name, u->name)) {
      r->letters = letters;
    } else {
      cat.rights.push_back(DictRight{t->name, u->name, letters});
    }
  });
}

std::string GetRights(Connection* c, const std::string& object, const std::string& user) {
  RequireDictionary(c);
  auto cat = LoadCatalog(c->kdd);
  Catalog& m = const_cast<Catalog&>(*cat);
  if (m.FindTable(object) == nullptr) {
    Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The table " + object + " is not in the data dictionary. File: " + c->kdd);
  }
  if (m.FindUser(user) == nullptr) Fail(DBE_OBJECT_NOT_FOUND, "Error 5073: The user " + user + " does not exist. File: " + c->kdd);
  DictRight* r = m.FindRight(object, user);
  return r == nullptr ? std::string() : r->letters;
}

void AddProcedure(Connection* c, const std::string& name, const std::string& params, const std::string& function,
                  const std::string& library) {
  RequireAdmin(c);
  CheckName(name, "procedure");
  UpdateCatalog(Paths(c), [&](Catalog& cat) {
    for (const DictProcedure& p : cat.procedures) {
      if (EqualsIgnoreCase(p.name, name)) {
        Fail(DBE_OBJECT_EXISTS, "Error 5072: The procedure " + name + " exists already. File: " + c->kdd);
      }
    }
    cat.procedures.push_back(DictProcedure{name, params, function, library});
  });
}

}  // namespace dbe::dict
