// The public functions of dbe.h. Each one runs under the engine's lock,
// turns a dbe::Error into its result number and remembers the error text for
// DbGetLastError().
#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <string>

#include "api/objects.h"
#include "api/run.h"
#include "api/tables.h"
#include "core/error.h"
#include "core/text.h"
#include "dbe/dbe.h"
#include "dict/catalog.h"
#include "dict/dictionary.h"
#include "expr/convert.h"
#include "os/file.h"
#include "os/sync_group.h"
#include "platform/path.h"
#include "storage/record_codec.h"

namespace dbe {
void SetShowDeleted(bool show);
bool ShowDeleted();
bool SetStatementParam(DBHANDLE h, const char* param, const Value& v);

std::recursive_mutex& ApiMutex() {
  static auto* m = new std::recursive_mutex();
  return *m;
}

thread_local LastError t_last_error;

void RecordError(uint32_t code, std::string text) {
  if (text.size() > DBE_MAX_ERROR_LEN) text.resize(DBE_MAX_ERROR_LEN);
  t_last_error.code = code;
  t_last_error.text = std::move(text);
}
}  // namespace dbe

using namespace dbe;

namespace {

uint16_t g_server_types = DBE_SERVER_LOCAL | DBE_SERVER_REMOTE;

[[noreturn]] void BadHandle(const char* what) {
  Fail(DBE_INVALID_HANDLE, std::string("Error 5010: The handle is not a valid ") + what + " handle.");
}

void Require(const void* p, const char* what) {
  if (p == nullptr) Fail(DBE_INVALID_ARGUMENT, std::string("Error 5012: No ") + what + " was given.");
}

Connection* Conn(DBHANDLE h) {
  auto* c = LookupConnection(h);
  if (c == nullptr) BadHandle("connection");
  return c;
}

// A table handle in any state: closing works even on a failed table.
TableCursor* TableToClose(DBHANDLE h) {
  auto* t = LookupAs<TableCursor>(h, DBE_HANDLE_TABLE);
  if (t == nullptr) BadHandle("table");
  return t;
}

// A table handle for what concerns the table as a whole (its fields, tags,
// encryption and rewrites), which a deferred rewrite does not hold up.
TableCursor* TableInfo(DBHANDLE h) {
  TableCursor* t = TableToClose(h);
  t->file().RequireUsable();
  return t;
}

// A table handle for its rows and position: settled first.
TableCursor* Table(DBHANDLE h) {
  TableCursor* t = TableInfo(h);
  t->Settle();
  t->file().RequireUsable();
  return t;
}

IndexHandle* IndexInfo(DBHANDLE h) {
  auto* ix = LookupAs<IndexHandle>(h, DBE_HANDLE_INDEX);
  if (ix == nullptr) BadHandle("index");
  ix->table->file().RequireUsable();
  if (ix->tag->dropped) Fail(DBE_INDEX_NOT_FOUND, "Error 5060: The index tag has been removed.");
  return ix;
}

IndexHandle* Index(DBHANDLE h) {
  IndexHandle* ix = IndexInfo(h);
  ix->table->Settle();
  return IndexInfo(h);
}

// A navigation handle: a table (record order) or an index (its order);
// settled unless only its first row is asked for.
TableCursor* Nav(DBHANDLE h, IndexHandle** ix, bool settle = true) {
  Object* o = Lookup(h);
  *ix = nullptr;
  if (o != nullptr && o->kind == DBE_HANDLE_INDEX) {
    *ix = settle ? Index(h) : IndexInfo(h);
    return (*ix)->table;
  }
  return settle ? Table(h) : TableInfo(h);
}

void CopyOut(const std::string& s, char* buf, uint16_t* len) {
  Require(len, "buffer length");
  if (buf == nullptr || *len <= s.size()) {
    *len = static_cast<uint16_t>(std::min<size_t>(s.size() + 1, 65535));
    Fail(DBE_BUFFER_TOO_SMALL, "Error 5015: The buffer is too small for the value.");
  }
  std::memcpy(buf, s.data(), s.size());
  buf[s.size()] = '\0';
  *len = static_cast<uint16_t>(s.size());
}

std::string Str(const char* s) { return s == nullptr ? std::string() : std::string(s); }

}  // namespace

extern "C" {

DBRESULT DbGetLastError(uint32_t* error, char* buf, uint16_t* len) {
  if (error != nullptr) *error = t_last_error.code;
  if (buf != nullptr && len != nullptr && *len > 0) {
    size_t n = std::min<size_t>(t_last_error.text.size(), *len - 1u);
    std::memcpy(buf, t_last_error.text.data(), n);
    buf[n] = '\0';
    *len = static_cast<uint16_t>(n);
  }
  return DBE_SUCCESS;
}

DBRESULT DbGetVersion(uint32_t* major, uint32_t* minor, char* letter, char* desc, uint16_t* len) {
  return Run([&] {
    if (major) *major = 1;
    if (minor) *minor = 0;
    if (letter) *letter = ' ';
    if (desc && len) CopyOut("kx8 embedded database engine", desc, len);
  });
}

DBRESULT DbConnect(const char* path, uint16_t server_types, const char* user, const char* password,
                   uint32_t options, DBHANDLE* connection) {
  (void)server_types;
  (void)options;
  return Run([&] {
    Require(connection, "connection handle pointer");
    *connection = 0;
    std::string p(Trim(Str(path)));
    if (p.empty()) Fail(DBE_NO_CONNECTION_PATH, "Error 5020: No connection path was given.");
    if (p.size() > 254) p.resize(254);
    std::string native = kx8::platform::ResolvePath(p);
    auto c = std::make_unique<Connection>();
    if (kx8::platform::DirectoryExists(native)) {
      c->folder = native.back() == '/' ? native : native + "/";
    } else if (Upper(kx8::platform::ExtensionPart(native)) == ".KDD") {
      if (!kx8::platform::FileExists(native)) {
        Fail(DBE_FILE_NOT_FOUND, "Error 5041: The data dictionary was not found. Path: " + p);
      }
      dict::Logon(c.get(), native, Str(user), Str(password));
    } else {
      Fail(DBE_FILE_NOT_FOUND, "Error 5041: The data folder was not found. Path: " + p);
    }
    *connection = Register(std::move(c));
  });
}

DBRESULT DbDisconnect(DBHANDLE connection) {
  return Run([&] {
    auto* c = LookupConnection(connection);
    if (c == nullptr) Fail(DBE_CONNECTION_GONE, "Error 5024: The connection is not open.");
    std::set<DBHANDLE> tables = c->tables;
    for (DBHANDLE h : tables) {
      if (auto* t = LookupAs<TableCursor>(h, DBE_HANDLE_TABLE)) CloseCursor(t);
    }
    for (DBHANDLE h : c->statements) Unregister(h);
    Unregister(connection);
  });
}

DBRESULT DbGetConnectionType(DBHANDLE connection, uint16_t* type) {
  return Run([&] {
    Conn(connection);
    Require(type, "result pointer");
    *type = DBE_SERVER_LOCAL;
  });
}

DBRESULT DbGetHandleType(DBHANDLE handle, uint16_t* type) {
  return Run([&] {
    Require(type, "result pointer");
    Object* o = Lookup(handle);
    if (o == nullptr) BadHandle("engine");
    *type = o->kind;
  });
}

DBRESULT DbSetServerType(uint16_t server_types) {
  return Run([&] {
    if ((server_types & 7) == 0) {
      Fail(DBE_INVALID_ARGUMENT, "Error 5012: At least one server type must be given.");
    }
    g_server_types = server_types & 7;
  });
}

DBRESULT DbShowDeleted(uint16_t show) {
  return Run([&] { SetShowDeleted(show != 0); });
}

DBRESULT DbSetLockWait(uint32_t milliseconds) {
  return Run([&] { os::SetLockWaitLimit(std::chrono::milliseconds(milliseconds)); });
}

DBRESULT DbSetSyncGrouping(uint16_t grouped) {
  return Run([&] {
    if (grouped != 0) {
      os::SetSyncGrouped(true);
      return;
    }
    os::SetSyncGrouped(false);
    os::SyncBarrier();
  });
}

DBRESULT DbGetSyncGrouping(uint16_t* grouped) {
  return Run([&] {
    Require(grouped, "result pointer");
    *grouped = os::SyncGrouped() ? 1 : 0;
  });
}

namespace dbe {
namespace {

// Runs first, then second even when first failed; the first failure is
// raised after both.
void BothThenFirstFailure(const std::function<void()>& first_step, const std::function<void()>& second_step) {
  std::exception_ptr first;
  try {
    first_step();
  } catch (...) {
    first = std::current_exception();
  }
  try {
    second_step();
  } catch (...) {
    if (!first) first = std::current_exception();
  }
  if (first) std::rethrow_exception(first);
}

// Writes the dictionaries' waiting changes, then the tables' waiting
// rewrites: a dictionary on disk is never behind the table files it
// describes. Both are tried; the first failure is raised.
void WriteWaitingChanges() { BothThenFirstFailure(WriteWaitingCatalogs, TableFile::ApplyDeferredRewrites); }

}  // namespace
}  // namespace dbe

DBRESULT DbSyncBarrier(void) {
  return Run([] {
    WriteWaitingChanges();
    os::SyncBarrier();
  });
}

DBRESULT DbSetRewriteDeferral(uint16_t deferred) {
  return Run([&] {
    TableFile::SetRewritesDeferred(deferred != 0);
    TableFile::SetBeforeFilesChange(&WriteWaitingCatalogs);
    if (deferred != 0) {
      SetCatalogWritesBatched(true);
      return;
    }
    BothThenFirstFailure([] { SetCatalogWritesBatched(false); }, TableFile::ApplyDeferredRewrites);
  });
}

DBRESULT DbApplyDeferredRewrites(void) {
  return Run([] { WriteWaitingChanges(); });
}

DBRESULT DbApplyDeferredRewrite(DBHANDLE connection, const char* name) {
  return Run([&] {
    Connection* c = Conn(connection);
    std::optional<DictTable> entry;
    if (c->is_dictionary()) entry = dict::FindTable(c, Str(name));
    TableFile::ApplyDeferredRewriteOf(entry ? dict::EntryPath(c, *entry) : TablePath(c, Str(name)));
  });
}

DBRESULT DbGetDeleted(uint16_t* shown) {
  return Run([&] {
    Require(shown, "result pointer");
    *shown = ShowDeleted() ? 1 : 0;
  });
}

DBRESULT DbOpenTable(DBHANDLE connection, const char* name, const char* alias, uint16_t table_type,
                     uint16_t char_type, uint16_t lock_type, uint16_t rights, uint32_t mode,
                     DBHANDLE* table) {
  (void)alias;
  (void)char_type;
  (void)lock_type;
  return Run([&] {
    Require(table, "table handle pointer");
    *table = 0;
    Connection* c = Conn(connection);
    *table = OpenTableOn(c, Str(name), table_type, rights, mode);
  });
}

DBRESULT DbCloseTable(DBHANDLE table) {
  return Run([&] { CloseCursor(TableToClose(table)); });
}

DBRESULT DbCreateTable(DBHANDLE connection, const char* name, const char* object_name,
                       uint16_t table_type, uint16_t char_type, uint16_t lock_type, uint16_t rights,
                       uint16_t memo_block_size, const char* fields, uint32_t options,
                       DBHANDLE* table) {
  (void)object_name;
  (void)char_type;
  (void)lock_type;
  (void)rights;
  (void)memo_block_size;
  (void)options;
  return Run([&] {
    Require(table, "table handle pointer");
    *table = 0;
    Connection* c = Conn(connection);
    CheckTableType(table_type);
    *table = CreateTableOn(c, Str(name), Str(fields));
  });
}

DBRESULT DbCreateIndex(DBHANDLE table, const char* file_name, const char* tag, const char* expr,
                       const char* condition, const char* while_condition, uint32_t options,
                       uint32_t page_size, DBHANDLE* index) {
  (void)page_size;
  return Run([&] {
    TableCursor* t = Table(table);
    if (!Trim(Str(file_name)).empty() && Trim(Str(tag)).empty()) {
      Fail(DBE_INVALID_ARGUMENT, "Error 5012: Separate index files are not supported; give a tag name. File: " +
                                     t->file().file_name());
    }
    if (!Trim(Str(condition)).empty() || !Trim(Str(while_condition)).empty()) {
      Fail(DBE_INVALID_ARGUMENT, "Error 5012: Conditional indexes are not supported. File: " + t->file().file_name());
    }
    if (t->read_only()) Fail(DBE_READ_ONLY, "Error 5063: The table was opened read-only. File: " + t->file().file_name());
    auto created = t->file().CreateIndex(Str(tag), Str(expr), options, t->key());
    auto ix = std::make_unique<IndexHandle>();
    ix->table = t;
    ix->tag = created;
    t->indexes.push_back(ix.get());
    DBHANDLE h = Register(std::move(ix));
    if (index != nullptr) *index = h;
  });
}

DBRESULT DbDeleteIndex(DBHANDLE index) {
  return Run([&] {
    IndexHandle* ix = Index(index);
    TableCursor* t = ix->table;
    t->file().DropIndex(ix->tag->name);
    t->indexes.erase(std::find(t->indexes.begin(), t->indexes.end(), ix));
    Unregister(index);
  });
}

DBRESULT DbDeleteTable(DBHANDLE table) {
  return Run([&] {
    TableCursor* t = Table(table);
    t->file().DeleteFiles();
    CloseCursor(t);
  });
}

DBRESULT DbZapTable(DBHANDLE table) {
  return Run([&] { TableInfo(table)->Rewrite(TableFile::Rewrite::Zap); });
}

DBRESULT DbPackTable(DBHANDLE table) {
  return Run([&] { TableInfo(table)->Rewrite(TableFile::Rewrite::Pack); });
}

DBRESULT DbGetTableType(DBHANDLE table, uint16_t* type) {
  return Run([&] {
    TableInfo(table);
    Require(type, "result pointer");
    *type = DBE_TABLE_KDT;
  });
}

DBRESULT DbGetTableFilename(DBHANDLE table, char* buf, uint16_t* len) {
  return Run([&] { CopyOut(TableInfo(table)->file().file_name(), buf, len); });
}

DBRESULT DbGetAllIndexes(DBHANDLE table, DBHANDLE* indexes, uint16_t* count) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(count, "count pointer");
    size_t n = t->indexes.size();
    if (indexes == nullptr || *count < n) {
      *count = static_cast<uint16_t>(n);
      Fail(DBE_BUFFER_TOO_SMALL, "Error 5015: The array is too small for the table's indexes.");
    }
    for (size_t i = 0; i < n; ++i) indexes[i] = t->indexes[i]->handle;
    *count = static_cast<uint16_t>(n);
  });
}

DBRESULT DbGetNumIndexes(DBHANDLE table, uint16_t* count) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(count, "count pointer");
    *count = static_cast<uint16_t>(t->indexes.size());
  });
}

DBRESULT DbGetIndexHandle(DBHANDLE table, const char* tag, DBHANDLE* index) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(index, "index handle pointer");
    for (IndexHandle* ix : t->indexes) {
      if (EqualsIgnoreCase(ix->tag->name, Str(tag))) {
        *index = ix->handle;
        return;
      }
    }
    Fail(DBE_INDEX_NOT_FOUND, "Error 5060: The index tag " + Str(tag) + " was not found. File: " + t->file().file_name());
  });
}

DBRESULT DbGetIndexName(DBHANDLE index, char* buf, uint16_t* len) {
  return Run([&] { CopyOut(IndexInfo(index)->tag->name, buf, len); });
}

DBRESULT DbGetIndexExpr(DBHANDLE index, char* buf, uint16_t* len) {
  return Run([&] { CopyOut(IndexInfo(index)->tag->expr, buf, len); });
}

DBRESULT DbGetIndexOptions(DBHANDLE index, uint32_t* options) {
  return Run([&] {
    IndexHandle* ix = IndexInfo(index);
    Require(options, "result pointer");
    *options = ix->tag->options;
  });
}

DBRESULT DbGetNumFields(DBHANDLE table, uint16_t* count) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(count, "count pointer");
    *count = static_cast<uint16_t>(t->layout().fields.size());
  });
}

DBRESULT DbGetFieldName(DBHANDLE table, uint16_t field, char* buf, uint16_t* len) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    uint32_t i = t->FieldIndex(DBE_FIELD_ORDINAL(field == 0 ? 65535 : field));
    CopyOut(t->layout().fields[i].name, buf, len);
  });
}

DBRESULT DbGetFieldNum(DBHANDLE table, const char* field, uint16_t* number) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(number, "result pointer");
    *number = static_cast<uint16_t>(t->FieldIndex(field) + 1);
  });
}

DBRESULT DbGetFieldType(DBHANDLE table, const char* field, uint16_t* type) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(type, "result pointer");
    *type = t->layout().fields[t->FieldIndex(field)].type;
  });
}

DBRESULT DbGetFieldLength(DBHANDLE table, const char* field, uint32_t* length) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(length, "result pointer");
    const Field& f = t->layout().fields[t->FieldIndex(field)];
    *length = f.length != 0 ? f.length : f.width;
  });
}

DBRESULT DbGetFieldDecimals(DBHANDLE table, const char* field, uint16_t* decimals) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(decimals, "result pointer");
    *decimals = t->layout().fields[t->FieldIndex(field)].decimals;
  });
}

DBRESULT DbGetFieldOffset(DBHANDLE table, const char* field, uint32_t* offset) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(offset, "result pointer");
    *offset = t->layout().fields[t->FieldIndex(field)].offset;
  });
}

DBRESULT DbGetRecordLength(DBHANDLE table, uint32_t* length) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(length, "result pointer");
    *length = t->layout().record_length;
  });
}

DBRESULT DbGotoTop(DBHANDLE handle) {
  return Run([&] {
    IndexHandle* ix;
    Nav(handle, &ix, false)->GotoTop(ix);
  });
}

DBRESULT DbGotoBottom(DBHANDLE handle) {
  return Run([&] {
    IndexHandle* ix;
    Nav(handle, &ix)->GotoBottom(ix);
  });
}

DBRESULT DbSkip(DBHANDLE handle, int32_t rows) {
  return Run([&] {
    IndexHandle* ix;
    Nav(handle, &ix)->Skip(ix, rows);
  });
}

DBRESULT DbAtEOF(DBHANDLE table, uint16_t* eof) {
  return Run([&] {
    IndexHandle* ix;
    TableCursor* t = Nav(table, &ix);
    Require(eof, "result pointer");
    *eof = t->eof() ? 1 : 0;
  });
}

DBRESULT DbAtBOF(DBHANDLE table, uint16_t* bof) {
  return Run([&] {
    IndexHandle* ix;
    TableCursor* t = Nav(table, &ix);
    Require(bof, "result pointer");
    *bof = t->bof() ? 1 : 0;
  });
}

DBRESULT DbGotoRecord(DBHANDLE table, uint32_t record) {
  return Run([&] { Table(table)->GotoRecord(record); });
}

DBRESULT DbGetRecordNum(DBHANDLE table, uint32_t* record) {
  return Run([&] {
    IndexHandle* ix;
    TableCursor* t = Nav(table, &ix);
    Require(record, "result pointer");
    *record = t->eof() ? 0 : t->recno();
  });
}

DBRESULT DbSeek(DBHANDLE index, const DBE_KEY_VALUE* keys, uint16_t count, uint16_t mode, uint16_t* found) {
  return Run([&] {
    IndexHandle* ix = Index(index);
    if (count > 0) Require(keys, "key values");
    if (mode > DBE_SEEK_AFTER) Fail(DBE_INVALID_ARGUMENT, "Error 5012: Unknown seek mode.");
    bool f = ix->table->Seek(ix, keys, count, mode);
    if (found) *found = f ? 1 : 0;
  });
}

DBRESULT DbSetScope(DBHANDLE index, uint16_t which, const DBE_KEY_VALUE* keys, uint16_t count) {
  return Run([&] {
    IndexHandle* ix = Index(index);
    TableCursor* t = ix->table;
    if (count > 0) Require(keys, "key values");
    std::string key = ix->tag->key.EncodeSeekKey(t->layout(), keys, count, true, t->file().file_name());
    if (which == DBE_SCOPE_TOP) ix->scope_top = key;
    else if (which == DBE_SCOPE_BOTTOM) ix->scope_bottom = key;
    else Fail(DBE_INVALID_ARGUMENT, "Error 5012: Unknown scope end.");
  });
}

DBRESULT DbClearScope(DBHANDLE index, uint16_t which) {
  return Run([&] {
    IndexHandle* ix = Index(index);
    if (which == DBE_SCOPE_TOP) ix->scope_top.reset();
    else if (which == DBE_SCOPE_BOTTOM) ix->scope_bottom.reset();
    else Fail(DBE_INVALID_ARGUMENT, "Error 5012: Unknown scope end.");
  });
}

DBRESULT DbSetAOF(DBHANDLE table, const char* expr, uint16_t options) {
  (void)options;
  return Run([&] { Table(table)->SetFilter(expr); });
}

DBRESULT DbClearAOF(DBHANDLE table) {
  return Run([&] { Table(table)->ClearFilter(); });
}

DBRESULT DbSetFilter(DBHANDLE table, const char* expr) {
  return Run([&] { Table(table)->SetFilter(expr); });
}

DBRESULT DbClearFilter(DBHANDLE table) {
  return Run([&] { Table(table)->ClearFilter(); });
}

DBRESULT DbGetRecord(DBHANDLE table, uint8_t* buf, uint32_t* len) {
  return Run([&] {
    TableCursor* t = Table(table);
    Require(len, "buffer length");
    uint32_t n = t->layout().record_length;
    if (buf == nullptr || *len < n) {
      *len = n;
      Fail(DBE_BUFFER_TOO_SMALL, "Error 5015: The buffer is too small for the record.");
    }
    std::memcpy(buf, t->Row(), n);
    *len = n;
  });
}

DBRESULT DbIsEmpty(DBHANDLE table, const char* field, uint16_t* empty) {
  return Run([&] {
    TableCursor* t = Table(table);
    Require(empty, "result pointer");
    uint32_t i = t->FieldIndex(field);
    *empty = IsNullBit(t->Row(), i) ? 1 : 0;
    if (IsBlobType(t->layout().fields[i].type)) *empty = t->BlobLength(i) == 0 ? 1 : 0;
  });
}

DBRESULT DbGetString(DBHANDLE table, const char* field, char* buf, uint32_t* len) {
  return Run([&] {
    TableCursor* t = Table(table);
    Require(len, "buffer length");
    uint32_t i = t->FieldIndex(field);
    const Field& f = t->layout().fields[i];
    std::string s = IsBlobType(f.type) ? t->BlobValue(i) : ReadFieldText(f, i, t->Row());
    if (buf == nullptr || *len <= s.size()) {
      *len = static_cast<uint32_t>(s.size() + 1);
      Fail(DBE_BUFFER_TOO_SMALL, "Error 5015: The buffer is too small for the value.");
    }
    std::memcpy(buf, s.data(), s.size());
    buf[s.size()] = '\0';
    *len = static_cast<uint32_t>(s.size());
  });
}

DBRESULT DbGetMemoLength(DBHANDLE table, const char* field, uint32_t* length) {
  return Run([&] {
    TableCursor* t = Table(table);
    Require(length, "result pointer");
    uint32_t i = t->FieldIndex(field);
    if (!IsBlobType(t->layout().fields[i].type)) {
      Fail(DBE_COLUMN_TYPE, "Error 5149: The column \"" + t->layout().fields[i].name + "\" is not a memo or binary column.");
    }
    *length = t->BlobLength(i);
  });
}

DBRESULT DbGetBinary(DBHANDLE table, const char* field, uint32_t offset, uint8_t* buf, uint32_t* len) {
  return Run([&] {
    TableCursor* t = Table(table);
    Require(len, "buffer length");
    uint32_t i = t->FieldIndex(field);
    const Field& f = t->layout().fields[i];
    std::string s = IsBlobType(f.type) ? t->BlobValue(i) : ReadFieldText(f, i, t->Row());
    size_t n = offset >= s.size() ? 0 : std::min<size_t>(s.size() - offset, *len);
    if (n > 0) {
      Require(buf, "buffer");
      std::memcpy(buf, s.data() + offset, n);
    }
    *len = static_cast<uint32_t>(n);
  });
}

DBRESULT DbIsRecordDeleted(DBHANDLE table, uint16_t* deleted) {
  return Run([&] {
    TableCursor* t = Table(table);
    Require(deleted, "result pointer");
    *deleted = t->Row()[0] == kRowDeleted ? 1 : 0;
  });
}

DBRESULT DbAppendRecord(DBHANDLE table) {
  return Run([&] { Table(table)->Append(); });
}

DBRESULT DbLockRecord(DBHANDLE table, uint32_t record) {
  return Run([&] { Table(table)->Lock(record); });
}

DBRESULT DbUnlockRecord(DBHANDLE table, uint32_t record) {
  return Run([&] { Table(table)->Unlock(record); });
}

DBRESULT DbSetField(DBHANDLE table, const char* field, const char* value, uint32_t len) {
  return Run([&] {
    TableCursor* t = Table(table);
    uint32_t i = t->FieldIndex(field);
    const Field& f = t->layout().fields[i];
    if (len > 0) Require(value, "value");
    std::string_view text(value ? value : "", len);
    if (IsBlobType(f.type)) {
      t->SetBlob(i, std::string(text));
    } else {
      uint8_t* rec = t->EditBuffer();
      WriteFieldText(f, i, rec, text, t->file().file_name());
    }
  });
}

DBRESULT DbSetFieldRaw(DBHANDLE table, const char* field, const uint8_t* value, uint32_t len) {
  return Run([&] {
    TableCursor* t = Table(table);
    uint32_t i = t->FieldIndex(field);
    if (len > 0) Require(value, "value");
    uint8_t* rec = t->EditBuffer();
    WriteFieldRaw(t->layout().fields[i], i, rec, value, len, t->file().file_name());
  });
}

DBRESULT DbSetEmpty(DBHANDLE table, const char* field) {
  return Run([&] {
    if (SetStatementParam(table, field, Value::Null())) return;
    TableCursor* t = Table(table);
    uint32_t i = t->FieldIndex(field);
    const Field& f = t->layout().fields[i];
    if (IsBlobType(f.type)) {
      t->SetBlob(i, std::nullopt);
    } else {
      WriteFieldEmpty(f, i, t->EditBuffer());
    }
  });
}

DBRESULT DbSetBinary(DBHANDLE table, const char* field, const uint8_t* value, uint32_t len) {
  return Run([&] {
    if (len > 0) Require(value, "value");
    std::string data(reinterpret_cast<const char*>(value ? value : reinterpret_cast<const uint8_t*>("")), len);
    if (SetStatementParam(table, field, Value::Binary(data))) return;
    TableCursor* t = Table(table);
    uint32_t i = t->FieldIndex(field);
    const Field& f = t->layout().fields[i];
    if (IsBlobType(f.type)) {
      t->SetBlob(i, std::move(data));
    } else {
      WriteFieldText(f, i, t->EditBuffer(), data, t->file().file_name());
    }
  });
}

namespace {
// Typed values for a table field or a statement parameter.
void SetTyped(DBHANDLE h, const char* field, const Value& v) {
  if (SetStatementParam(h, field, v)) return;
  TableCursor* t = Table(h);
  uint32_t i = t->FieldIndex(field);
  const Field& f = t->layout().fields[i];
  if (IsBlobType(f.type)) {
    t->SetBlob(i, v.is_null() ? std::nullopt : std::optional<std::string>(expr::ToText(v)));
    return;
  }
  WriteFieldValue(f, i, t->EditBuffer(), v, t->file().file_name());
}
}  // namespace

DBRESULT DbSetString(DBHANDLE handle, const char* field, const char* value, uint32_t len) {
  return Run([&] {
    if (len > 0) Require(value, "value");
    std::string text(value ? value : "", len);
    if (SetStatementParam(handle, field, Value::String(text))) return;
    SetTyped(handle, field, Value::String(text));
  });
}

DBRESULT DbSetLogical(DBHANDLE handle, const char* field, uint16_t value) {
  return Run([&] { SetTyped(handle, field, Value::Bool(value != 0)); });
}

DBRESULT DbSetDouble(DBHANDLE handle, const char* field, double value) {
  return Run([&] { SetTyped(handle, field, Value::Double(value)); });
}

DBRESULT DbSetJulian(DBHANDLE handle, const char* field, int32_t day) {
  return Run([&] { SetTyped(handle, field, Value::Date(day)); });
}

DBRESULT DbSetMilliseconds(DBHANDLE handle, const char* field, int32_t ms) {
  return Run([&] {
    if (ms < 0 || ms >= 86400000) Fail(DBE_INVALID_ARGUMENT, "Error 5012: A time of day is 0 to 86399999 milliseconds.");
    SetTyped(handle, field, Value::Time(ms));
  });
}

DBRESULT DbSetTimeStampRaw(DBHANDLE handle, const char* field, int32_t day, int32_t ms) {
  return Run([&] {
    if (ms < 0 || ms >= 86400000) Fail(DBE_INVALID_ARGUMENT, "Error 5012: A time of day is 0 to 86399999 milliseconds.");
    SetTyped(handle, field, Value::Timestamp(int64_t(day) * kMsPerDay + ms));
  });
}

DBRESULT DbWriteRecord(DBHANDLE table) {
  return Run([&] { Table(table)->Write(); });
}

DBRESULT DbDeleteRecord(DBHANDLE table) {
  return Run([&] { Table(table)->DeleteRow(); });
}

DBRESULT DbRecallRecord(DBHANDLE table) {
  return Run([&] { Table(table)->RecallRow(); });
}

DBRESULT DbCancelUpdate(DBHANDLE table) {
  return Run([&] { Table(table)->Cancel(); });
}

DBRESULT DbGetRecordCount(DBHANDLE table, uint16_t option, uint32_t* count) {
  return Run([&] {
    TableCursor* t = Table(table);
    Require(count, "result pointer");
    *count = t->CountRows(option);
  });
}

DBRESULT DbEnableEncryption(DBHANDLE table, const char* password) {
  return Run([&] { TableInfo(table)->EnablePassword(Str(password)); });
}

DBRESULT DbEncryptTable(DBHANDLE table) {
  return Run([&] { TableInfo(table)->Rewrite(TableFile::Rewrite::Encrypt); });
}

DBRESULT DbDecryptTable(DBHANDLE table) {
  return Run([&] { TableInfo(table)->Rewrite(TableFile::Rewrite::Decrypt); });
}

DBRESULT DbIsTableEncrypted(DBHANDLE table, uint16_t* encrypted) {
  return Run([&] {
    TableCursor* t = TableInfo(table);
    Require(encrypted, "result pointer");
    *encrypted = t->file().encrypted() ? 1 : 0;
  });
}

}  // extern "C"
