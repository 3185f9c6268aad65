// Opening and closing table handles, shared by the table functions and the
// SQL statements.
#include "api/tables.h"

#include "core/error.h"
#include "core/text.h"
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
  auto tf = TableFile::Acquire(path, mode & DBE_OPEN_EXCLUSIVE);
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

}  // namespace dbe
