// Opening and closing table handles, shared by the table functions and the
// SQL statements.
#include "api/tables.h"

#include "core/error.h"
#include "core/text.h"
#include "dict/dictionary.h"
#include "platform/path.h"

namespace dbe {

std::string TablePath(Connection* c, const std::string& name) {
  std::string n(Trim(name));
  if (n.empty()) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No table name was given.");
  std::string native = kx8::platform::NativePath(n);
  if (native.empty() || native[0] != '/') native = c->folder + native;
  if (kx8::platform::ExtensionPart(native).empty()) native += ".KDT";
  return kx8::platform::ResolvePath(native);
}

void CheckTableType(uint16_t type) {
  if (type != DBE_TABLE_DEFAULT && type != DBE_TABLE_KDT) {
    Fail(DBE_UNSUPPORTED_TABLE_TYPE, "Error 5053: Only KDT tables are supported (table type " +
                                         std::to_string(type) + " was asked for).");
  }
}

DBHANDLE OpenCursor(Connection* c, const std::string& path, uint32_t mode) {
  auto tf = TableFile::Acquire(path, mode & DBE_OPEN_EXCLUSIVE, mode & kOpenIndexFileOptional);
  mode &= ~kOpenIndexFileOptional;
  auto cur = std::make_unique<TableCursor>();
  TableCursor* raw = cur.get();
  DBHANDLE h = Register(std::move(cur));
  try {
    raw->Open(c, tf, mode);
  } catch (...) {
    raw->Close();  // releases the table file the handle holds
    Unregister(h);
    throw;
  }
  c->tables.insert(h);
  raw->GotoTop(nullptr);
  return h;
}

void CloseCursor(TableCursor* t) {
  DBHANDLE h = t->handle;
  if (t->connection() != nullptr) t->connection()->tables.erase(h);
  t->Close();
  Unregister(h);
}

DBHANDLE OpenTableOn(Connection* c, const std::string& name, uint16_t table_type, uint16_t rights, uint32_t mode) {
  if (!c->is_dictionary()) {
    CheckTableType(table_type);
    std::string path = TablePath(c, name);
    dict::CheckNotBound(path);
    return OpenCursor(c, path, mode);
  }
  std::optional<DictTable> entry = dict::FindTable(c, name);
  if (!entry) {
    if (table_type == DBE_TABLE_DEFAULT) {
      Fail(DBE_NOT_IN_DICTIONARY, "Error 5132: The table " + name + " is not in the data dictionary. File: " + c->kdd);
    }
    CheckTableType(table_type);
    std::string path = TablePath(c, name);
    dict::CheckNotBound(path);
    return OpenCursor(c, path, mode);
  }
  std::string path = dict::EntryPath(c, *entry);
  if (!kx8::platform::FileExists(path) && entry->auto_create != 0) dict::AutoCreate(c, *entry, path);
  std::string letters = dict::RightsOf(c, *entry);
  if (rights == DBE_RIGHTS_CHECK) {
    bool may_read = false;
    for (char ch : letters) may_read = may_read || AsciiUpper(ch) == 'R';
    if (!may_read) {
      Fail(DBE_NO_RIGHTS, "Error 5074: The user " + c->user + " has no right to open the table " + entry->name +
                              ". File: " + path);
    }
  }
  DBHANDLE h = OpenCursor(c, path, mode);
  auto* t = LookupAs<TableCursor>(h, DBE_HANDLE_TABLE);
  try {
    if (t->file().encrypted() && t->file().dictionary_keyed()) {
      t->SetKey(t->file().KeyFromDictionary(c->dictionary_id, c->dictionary_key));
    }
  } catch (...) {
    CloseCursor(t);
    throw;
  }
  if (rights == DBE_RIGHTS_CHECK) t->SetRights(letters);
  dict::NoteStructure(t->file());
  return h;
}

DBHANDLE CreateTableOn(Connection* c, const std::string& name, const std::string& fields) {
  std::string path = TablePath(c, name);
  Layout layout = ParseFieldList(fields, path);
  if (c->is_dictionary() && dict::FindTable(c, name)) {
    Fail(DBE_TABLE_EXISTS, "Error 5059: The table " + name + " is in the data dictionary already. File: " + c->kdd);
  }
  TableFile::Create(path, layout);
  if (c->is_dictionary()) {
    std::string base = kx8::platform::FileNamePart(path);
    std::string dict_name = std::string(Trim(name));
    dict::AddTable(c, dict_name, base, DBE_TABLE_KDT, DBE_CHAR_ANSI, "");
  }
  return OpenCursor(c, path, DBE_OPEN_EXCLUSIVE);
}

}  // namespace dbe
