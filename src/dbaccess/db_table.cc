#include "dbaccess/db_table.h"

#include <cstring>
#include <exception>
#include <optional>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_messages.h"
#include "dbaccess/engine_call.h"
#include "dbe/dbe.h"
#include "platform/path.h"

namespace kx8::dbaccess {

using internal::Check;
using internal::RaiseLayerError;

namespace {

bool IsKdt(TDbTableTypes type) { return EngineTableType(type) == DBE_TABLE_KDT; }

// The type piece of a field in the engine's creation field list.
std::string TypePiece(const TFieldDef& def, bool kdt) {
  const std::string size = std::to_string(def.Size);
  const char* piece = nullptr;
  switch (def.DataType) {
    case ftString: return "Char," + size;
    case ftSmallint:
    case ftWord: piece = kdt ? "ShortInt" : "Num,6,0"; break;
    case ftInteger: piece = kdt ? "Integer" : "Num,11,0"; break;
    case ftBoolean: piece = "Logical"; break;
    case ftFloat: piece = kdt ? "Double,6" : "Num,20,4"; break;
    case ftCurrency: piece = kdt ? "CurDouble,6" : nullptr; break;
    case ftBCD: piece = kdt ? "Money" : nullptr; break;
    case ftDate: piece = "Date"; break;
    case ftTime: piece = kdt ? "Time" : nullptr; break;
    case ftDateTime: piece = kdt ? "TimeStamp" : nullptr; break;
    case ftBytes: return (kdt ? "Raw," : "Char,") + size;
    case ftAutoInc: piece = kdt ? "AutoInc" : nullptr; break;
    case ftMemo:
    case ftFmtMemo: piece = "Memo"; break;
    case ftGraphic: piece = "Image"; break;
    case ftVarBytes:
    case ftBlob:
    case ftTypedBinary: piece = "Binary"; break;
    case ftUnknown:
    case ftParadoxOle:
    case ftDBaseOle: break;
  }
  if (piece == nullptr) RaiseLayerError(std::string(FieldTypeName(def.DataType)) + msg::kNotSupportedFieldType);
  return piece;
}

// Runs work on a handle and closes the handle afterwards; a failure of the
// work goes before a failure of the close.
template <typename Work>
void WithTemporaryHandle(DBHANDLE h, const TDbDataSet* ds, Work work) {
  std::exception_ptr failure;
  try {
    work(h);
  } catch (...) {
    failure = std::current_exception();
  }
  DBRESULT rc = DbCloseTable(h);
  if (failure) std::rethrow_exception(failure);
  Check(rc, ds);
}

}  // namespace

TDbTable::TDbTable(TComponent* owner) : TDbDataSet(owner) {}

TDbTable::~TDbTable() = default;

void TDbTable::SetTableName(const std::string& name) {
  CheckInactive();
  table_name_ = name;
  ApplyDefaultIndex();
}

void TDbTable::SetTableType(TDbTableTypes type) {
  CheckInactive();
  table_type_ = type;
}

void TDbTable::SetExclusive(bool v) {
  CheckInactive();
  exclusive_ = v;
}

void TDbTable::SetReadOnly(bool v) {
  CheckInactive();
  read_only_ = v;
}

void TDbTable::ConnectionConnected() { ApplyDefaultIndex(); }

// The dictionary's default index (property 213) becomes the active index
// "DB_DEFAULT" unless another index was chosen by name; a table the
// dictionary does not hold (a free table of its folder) has none.
void TDbTable::ApplyDefaultIndex() {
  TDbConnection* c = DbConnection();
  if (c == nullptr || !c->IsDictionaryConnection() || !c->IsConnected() || table_name_.empty()) return;
  char buf[DBE_DD_MAX_NAME + 1] = {};
  std::uint16_t len = sizeof buf;
  DBRESULT rc = DbDDGetTableProperty(c->ConnectionHandle(), table_name_.c_str(), DBE_DD_PROP_DEFAULT_INDEX, buf, &len);
  std::string tag;
  if (rc != DBE_NOT_IN_DICTIONARY && rc != DBE_OBJECT_NOT_FOUND) {
    Check(rc, this);
    tag = internal::Trim(std::string(buf, strnlen(buf, DBE_DD_MAX_NAME)));
  }
  SetDefaultIndexTag(tag);
  if (!tag.empty()) {
    if (IndexName().empty() || IndexName() == msg::kDefaultIndex) {
      SetIndexNameOnly(msg::kDefaultIndex);
      SetIndexFieldNamesOnly("");
    }
  } else if (IndexName() == msg::kDefaultIndex) {
    SetIndexNameOnly("");
  }
}

std::string TDbTable::FreeTablePath() const { return RequireConnection().DataFolder() + "\\" + table_name_; }

std::uint32_t TDbTable::OpenTableHandle() {
  if (table_name_.empty()) RaiseLayerError(msg::kMissingTableName, this);
  TDbConnection& c = RequireConnection();
  if (!c.IsConnected()) c.SetIsConnected(true);
  std::uint32_t mode = DBE_OPEN_SHARED;
  if (exclusive_) mode |= DBE_OPEN_EXCLUSIVE;
  if (read_only_) mode |= DBE_OPEN_READONLY;
  const TDbTableOptions& o = DbTableOptions();
  auto open = [&](const std::string& path, std::uint16_t type, DBHANDLE* h) {
    return DbOpenTable(c.ConnectionHandle(), path.c_str(), nullptr, type, o.EngineCharType(), o.EngineLockType(),
                       o.EngineRights(), mode, h);
  };
  DBHANDLE h = 0;
  opened_through_dictionary_ = false;
  if (c.IsDictionaryConnection()) {
    // The dictionary decides the type; a table it does not hold is opened
    // as a free table of the folder.
    DBRESULT rc = open(table_name_, DBE_TABLE_DEFAULT, &h);
    if (rc == DBE_NOT_IN_DICTIONARY) {
      rc = open(FreeTablePath(), EngineTableType(table_type_), &h);
    } else if (rc == DBE_SUCCESS) {
      opened_through_dictionary_ = true;
    }
    Check(rc, this);
  } else {
    Check(open(FreeTablePath(), EngineTableType(table_type_), &h), this);
  }
  return h;
}

std::uint32_t TDbTable::OpenCursor() { return OpenTableHandle(); }

void TDbTable::CursorOpened() {
  if (!opened_through_dictionary_) return;
  std::uint16_t type = 0;
  Check(DbGetTableType(Handle(), &type), this);
  table_type_ = type == DBE_TABLE_CDX ? ttDbCDX : type == DBE_TABLE_NTX ? ttDbNTX : ttDbKDT;
}

bool TDbTable::TableExists() const {
  if (Active()) return true;
  if (table_name_.empty()) return false;
  std::string name = table_name_;
  if (kx8::platform::ExtensionPart(name).empty()) name += table_type_ == ttDbKDT ? ".kdt" : ".dbf";
  return kx8::platform::FileExists(RequireConnection().DataFolder() + "\\" + name);
}

// On a dictionary connection the engine stamps the dictionary's entry with
// the file, by the table's name; a table the dictionary does not hold (one
// opened as a free table of the folder) has no stamp there.
std::uint64_t TDbTable::FilesStamp() const {
  std::uint64_t stamp = 0;
  if (Active()) {
    const TDbConnection* c = DbConnection();
    if (c != nullptr && c->IsDictionaryConnection()) {
      if (!opened_through_dictionary_) return 0;
      Check(DbGetTableStamp(Handle(), table_name_.c_str(), &stamp), this);
      return stamp;
    }
    Check(DbGetTableStamp(Handle(), nullptr, &stamp), this);
    return stamp;
  }
  if (table_name_.empty() || DbConnection() == nullptr) return 0;
  const TDbConnection& c = *DbConnection();
  if (!c.IsConnected()) return 0;
  if (c.IsDictionaryConnection()) {
    Check(DbGetTableStamp(c.ConnectionHandle(), table_name_.c_str(), &stamp), this);
    return stamp;
  }
  if (!IsKdt(table_type_)) return 0;
  Check(DbGetTableStamp(c.ConnectionHandle(), FreeTablePath().c_str(), &stamp), this);
  return stamp;
}

namespace {

// Options 1 unique, 8 descending, plus 2 (a tag of the table's own index
// file) for KDT tables, whose key keeps its ";"; other types join fields
// with "+" and, but for CDX, name an index file instead of a tag.
void CreateIndexOn(DBHANDLE h, const std::string& name, const std::string& fields, TIndexOptions options,
                   TDbTableTypes table_type, std::uint32_t page_size, const TDbDataSet* ds) {
  bool kdt = IsKdt(table_type);
  std::uint32_t engine_options = 0;
  if (options.Contains(ixUnique)) engine_options += DBE_INDEX_UNIQUE;
  if (options.Contains(ixDescending)) engine_options += DBE_INDEX_DESCENDING;
  if (kdt) engine_options += DBE_INDEX_COMPOUND;
  std::string expr = fields;
  if (!kdt) {
    for (char& ch : expr) {
      if (ch == ';') ch = '+';
    }
  }
  bool file_not_tag = !kdt && table_type != ttDbCDX;
  DBHANDLE ix = 0;
  Check(DbCreateIndex(h, file_not_tag ? name.c_str() : nullptr, file_not_tag ? nullptr : name.c_str(), expr.c_str(),
                      nullptr, nullptr, engine_options, page_size, &ix),
        ds);
}

}  // namespace

void TDbTable::CreateTable() {
  CheckInactive();
  TDbConnection& c = RequireConnection();
  std::string path = c.IsDictionaryConnection() ? table_name_ : FreeTablePath();
  bool kdt = IsKdt(table_type_);
  std::string fields;
  for (const TFieldDef& def : FieldDefs().Items()) fields += def.Name + "," + TypePiece(def, kdt) + ";";
  if (!c.IsConnected()) c.SetIsConnected(true);
  const TDbTableOptions& o = DbTableOptions();
  DBHANDLE h = 0;
  Check(DbCreateTable(c.ConnectionHandle(), path.c_str(), nullptr, EngineTableType(table_type_), o.EngineCharType(),
                      o.EngineLockType(), o.EngineRights(), 0, fields.c_str(), 0, &h),
        this);
  std::vector<TIndexDef> indexes = IndexDefs().Items();
  WithTemporaryHandle(h, this, [&](DBHANDLE table) {
    for (const TIndexDef& def : indexes) {
      CreateIndexOn(table, def.Name, def.Fields.empty() ? def.Expression : def.Fields, def.Options, table_type_,
                    o.DbIndexPageSize(), this);
    }
  });
}

void TDbTable::AddIndex(const std::string& name, const std::string& fields, TIndexOptions options) {
  std::uint32_t page_size = DbTableOptions().DbIndexPageSize();
  if (Active()) {
    CheckBrowseMode();
    CreateIndexOn(Handle(), name, fields, options, table_type_, page_size, this);
  } else {
    WithTemporaryHandle(OpenTableHandle(), this, [&](DBHANDLE h) {
      CreateIndexOn(h, name, fields, options, table_type_, page_size, this);
    });
  }
  MarkIndexDefsStale();
}

void TDbTable::DeleteTable() {
  CheckInactive();
  DBHANDLE h = OpenTableHandle();
  DBRESULT rc = DbDeleteTable(h);  // closes the handle when it succeeds
  if (rc != DBE_SUCCESS) {
    std::optional<EDbEngineError> e = internal::EngineError(rc, this);
    DbCloseTable(h);
    if (e) throw *e;
  }
}

void TDbTable::EmptyTable() {
  if (Active()) {
    CheckBrowseMode();
    MarkRowStale();
    Check(DbZapTable(Handle()), this);
    return;
  }
  WithTemporaryHandle(OpenTableHandle(), this, [&](DBHANDLE h) { Check(DbZapTable(h), this); });
}

void TDbTable::PackTable() {
  CheckActive();
  CheckBrowseMode();
  MarkRowStale();
  Check(DbPackTable(Handle()), this, {DBE_NOTHING_TO_DO});
  First();
}

void TDbTable::EnableEncryption(const std::string& password) {
  CheckActive();
  MarkRowStale();
  Check(DbEnableEncryption(Handle(), password.c_str()), this, {DBE_NOTHING_TO_DO});
}

void TDbTable::EncryptTable() {
  CheckActive();
  CheckBrowseMode();
  MarkRowStale();
  Check(DbEncryptTable(Handle()), this, {DBE_NOTHING_TO_DO});
}

void TDbTable::DecryptTable() {
  CheckActive();
  CheckBrowseMode();
  MarkRowStale();
  Check(DbDecryptTable(Handle()), this, {DBE_NOTHING_TO_DO});
}

bool TDbTable::IsTableEncrypted() {
  CheckActive();
  std::uint16_t encrypted = 0;
  Check(DbIsTableEncrypted(Handle(), &encrypted), this, {DBE_NOTHING_TO_DO});
  return encrypted != 0;
}

// The minor number with two digits (".0" before a single digit) and the
// engine's version letter unless it is blank.
std::string TDbTable::Version() const {
  std::uint32_t major = 0, minor = 0;
  char letter = ' ';
  char description[256] = {};
  std::uint16_t len = sizeof description;
  Check(DbGetVersion(&major, &minor, &letter, description, &len), this);
  std::string engine = std::to_string(major) + (minor < 10 ? ".0" : ".") + std::to_string(minor);
  if (letter != ' ' && letter != '\0') engine += letter;
  return std::string(msg::kComponentVersion) + msg::kEngineVersionBefore + engine + msg::kEngineVersionAfter;
}

}  // namespace kx8::dbaccess
