// dbe.h — the public interface of the embedded database engine.
//
// A handle-based C interface. Every function returns 0 (DBE_SUCCESS) or an
// error number; after a failure DbGetLastError() gives the number and a text
// of at most DBE_MAX_ERROR_LEN characters that names the table file involved.
// Handles are 32-bit values from one process-wide table; DbGetHandleType()
// tells their kind. Strings are NUL-terminated; buffers the caller fills are
// given with their capacity in *len and come back with the length written.
//
// The file formats behind these calls are described in docs/format.md and the
// error numbers in docs/errors.md.
#ifndef KX8_DBE_DBE_H_
#define KX8_DBE_DBE_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DBHANDLE;
typedef uint32_t DBRESULT;

// ---------------------------------------------------------------------------
// Error numbers. Texts and meanings: docs/errors.md.
// ---------------------------------------------------------------------------
enum {
  DBE_SUCCESS = 0,
  DBE_INTERNAL_ERROR = 5004,
  DBE_INVALID_HANDLE = 5010,
  DBE_INVALID_ARGUMENT = 5012,
  DBE_BUFFER_TOO_SMALL = 5015,
  DBE_NO_CONNECTION_PATH = 5020,
  DBE_CONNECTION_GONE = 5024,    // connection handle already freed
  DBE_NO_CURRENT_RECORD = 5026,
  DBE_RECORD_LOCKED = 5035,
  DBE_FILE_NOT_FOUND = 5041,
  DBE_TABLE_IN_USE = 5042,       // exclusive open denied, or table busy
  DBE_PASSWORD_REQUIRED = 5050,
  DBE_WRONG_PASSWORD = 5051,
  DBE_DAMAGED_FILE = 5052,
  DBE_UNSUPPORTED_TABLE_TYPE = 5053,
  DBE_UNSUPPORTED_FIELD_TYPE = 5054,
  DBE_INDEX_FILE_MISSING = 5055,
  DBE_DUPLICATE_KEY = 5057,
  DBE_INVALID_FIELD_LIST = 5058,
  DBE_TABLE_EXISTS = 5059,
  DBE_INDEX_NOT_FOUND = 5060,
  DBE_EXPRESSION_ERROR = 5061,
  DBE_NEEDS_EXCLUSIVE = 5062,
  DBE_READ_ONLY = 5063,
  DBE_STATIC_CURSOR = 5064,      // write attempted on a static (read-only) cursor
  DBE_IO_ERROR = 5065,
  DBE_NOT_EDITING = 5066,
  DBE_TABLE_BOUND = 5067,        // table belongs to a data dictionary
  DBE_NOTHING_TO_DO = 5068,      // encrypt/decrypt/pack had nothing to do
  DBE_INDEX_EXISTS = 5069,
  DBE_KEY_NOT_INDEXABLE = 5070,
  DBE_LOGIN_FAILED = 5071,       // unknown dictionary user or wrong password
  DBE_OBJECT_EXISTS = 5072,      // dictionary table, user or procedure exists already
  DBE_OBJECT_NOT_FOUND = 5073,   // dictionary table or user not found
  DBE_NO_RIGHTS = 5074,          // the dictionary user lacks the right
  DBE_NEEDS_DICTIONARY = 5075,   // the operation needs a dictionary connection
  DBE_TABLE_FAILED = 5076,       // a rewrite failed after its commit: close and open the table again
  DBE_STATEMENT_GONE = 5106,
  DBE_NO_ROW_COUNT = 5117,
  DBE_LAYER_ERROR = 5121,        // used by the access layer for its own errors
  DBE_NOT_IN_DICTIONARY = 5132,
  DBE_NO_MORE_OBJECTS = 5137,
  DBE_COLUMN_NOT_FOUND = 5147,   // text: ... column "NAME" ...
  DBE_COLUMN_VALUE = 5148,       // text: ... column "NAME" ...
  DBE_COLUMN_TYPE = 5149,        // text: ... column "NAME" ...
  DBE_SQL_ERROR = 7200,
  DBE_SQL_STALE = 7209
};

enum { DBE_MAX_ERROR_LEN = 600 };

// ---------------------------------------------------------------------------
// Constants.
// ---------------------------------------------------------------------------

// Handle kinds (DbGetHandleType).
enum {
  DBE_HANDLE_CONNECTION = 1,     // free-table connection
  DBE_HANDLE_TABLE = 2,
  DBE_HANDLE_INDEX = 3,
  DBE_HANDLE_STATEMENT = 4,
  DBE_HANDLE_CURSOR = 5,         // table handle over a statement's result
  DBE_HANDLE_DICTIONARY = 6,     // dictionary connection
  DBE_HANDLE_DICTIONARY_ADMIN = 7
};

// Server types (bits) and connection types.
enum { DBE_SERVER_LOCAL = 1, DBE_SERVER_REMOTE = 2, DBE_SERVER_INTERNET = 4 };

// Table types. Only KDT tables exist; the other numbers are accepted by
// DbOpenTable/DbCreateTable and refused with DBE_UNSUPPORTED_TABLE_TYPE.
enum { DBE_TABLE_DEFAULT = 0, DBE_TABLE_NTX = 1, DBE_TABLE_CDX = 2, DBE_TABLE_KDT = 3 };

// Character types and lock types are accepted and recorded.
enum { DBE_CHAR_ANSI = 1, DBE_CHAR_OEM = 2 };
enum { DBE_LOCK_COMPATIBLE = 0, DBE_LOCK_PROPRIETARY = 1 };
enum { DBE_RIGHTS_CHECK = 1, DBE_RIGHTS_IGNORE = 2 };

// Open modes (bits).
enum { DBE_OPEN_SHARED = 0, DBE_OPEN_EXCLUSIVE = 1, DBE_OPEN_READONLY = 2 };

// Index options (bits).
enum { DBE_INDEX_UNIQUE = 1, DBE_INDEX_COMPOUND = 2, DBE_INDEX_DESCENDING = 8 };

// Field types.
enum {
  DBE_FT_LOGICAL = 1,
  DBE_FT_NUMERIC = 2,
  DBE_FT_DATE = 3,
  DBE_FT_STRING = 4,
  DBE_FT_MEMO = 5,
  DBE_FT_BINARY = 6,
  DBE_FT_IMAGE = 7,
  DBE_FT_VARCHAR = 8,
  DBE_FT_COMPACTDATE = 9,
  DBE_FT_DOUBLE = 10,
  DBE_FT_INTEGER = 11,
  DBE_FT_SHORTINT = 12,
  DBE_FT_TIME = 13,
  DBE_FT_TIMESTAMP = 14,
  DBE_FT_AUTOINC = 15,
  DBE_FT_RAW = 16,
  DBE_FT_CURDOUBLE = 17,
  DBE_FT_MONEY = 18,
  DBE_FT_CISTRING = 20,
  DBE_FT_ROWVERSION = 21,
  DBE_FT_MODTIME = 22
};

// Seek modes (DbSeek).
enum { DBE_SEEK_EXACT = 0, DBE_SEEK_SOFT = 1, DBE_SEEK_AFTER = 2 };
// Scope ends (DbSetScope).
enum { DBE_SCOPE_TOP = 1, DBE_SCOPE_BOTTOM = 2 };
// Row counting (DbGetRecordCount).
enum { DBE_COUNT_ALL = 0, DBE_COUNT_RESPECT_FILTERS = 1 };

// A field is named by its name, or by its 1-based number through
// DBE_FIELD_ORDINAL(n): pointer values below 65536 are field numbers.
#define DBE_FIELD_ORDINAL(n) ((const char*)(uintptr_t)(n))

// A typed key value for DbSeek and DbSetScope: one per key field, in key
// order. A shorter list seeks on the leading fields; the last character value
// of a soft seek may be a prefix.
typedef enum {
  DBE_KEY_NULL = 0,     // empty value (sorts first)
  DBE_KEY_STRING = 1,   // text: character, logical and numeric fields
  DBE_KEY_DOUBLE = 2,   // any number field, dates as day numbers
  DBE_KEY_INTEGER = 3   // any number field, dates as day numbers
} DBE_KEY_KIND;

typedef struct {
  DBE_KEY_KIND kind;
  const char* text;     // DBE_KEY_STRING
  size_t text_len;
  double number;        // DBE_KEY_DOUBLE
  int64_t integer;      // DBE_KEY_INTEGER
} DBE_KEY_VALUE;

// ---------------------------------------------------------------------------
// Errors and version.
// ---------------------------------------------------------------------------
DBRESULT DbGetLastError(uint32_t* error, char* buf, uint16_t* len);
DBRESULT DbGetVersion(uint32_t* major, uint32_t* minor, char* letter, char* desc, uint16_t* len);

// ---------------------------------------------------------------------------
// Connections.
// ---------------------------------------------------------------------------
// path: a folder of free tables (or, with a dictionary, a ".kdd" file).
DBRESULT DbConnect(const char* path, uint16_t server_types, const char* user, const char* password,
                   uint32_t options, DBHANDLE* connection);
DBRESULT DbDisconnect(DBHANDLE connection);
DBRESULT DbGetConnectionType(DBHANDLE connection, uint16_t* type);
DBRESULT DbGetHandleType(DBHANDLE handle, uint16_t* type);
DBRESULT DbSetServerType(uint16_t server_types);
// Whether navigation shows rows marked deleted (process-wide, off by default).
DBRESULT DbShowDeleted(uint16_t show);
DBRESULT DbGetDeleted(uint16_t* shown);
// How long a write waits for a table or a data dictionary that another
// program holds locked (process-wide; default 5000 ms, or the environment's
// KX8_LOCK_WAIT_MS). After that the call fails with DBE_TABLE_IN_USE naming
// the file.
DBRESULT DbSetLockWait(uint32_t milliseconds);
// Grouped flushing (process-wide, off by default). While on, the flushes
// that make each rewrite and dictionary change durable on its own are put
// off, and DbSyncBarrier() flushes every file system written since in one
// call per folder. Every change stays atomic against a killed process; a
// power cut may lose what was written after the last barrier. Turning it
// off makes a barrier first: on failure grouping is off anyway, the
// folders not flushed stay owed to the next barrier, and the error names one.
DBRESULT DbSetSyncGrouping(uint16_t grouped);
DBRESULT DbGetSyncGrouping(uint16_t* grouped);
DBRESULT DbSyncBarrier(void);
// Deferred rewrites (process-wide, off by default). While on, a table's
// restructures (ALTER TABLE), packs, encryptions and decryptions are checked
// and answered as usual, and every handle sees the table as changed, but its
// files are rewritten once for all of them: when its rows are next read or
// written, or at DbApplyDeferredRewrites(), DbSyncBarrier() or the end of
// deferral, whichever comes first. The new files are sealed with the key the
// table ends with; the .BAK set of a restructured table is the table as it
// was before the first change. A rewrite that fails then is reported by the
// call that caused it, and its table answers 5076 until it is opened again.
// Turning deferral off applies what is waiting (raising the first failure;
// deferral is off anyway).
// Data dictionary changes made while deferral is on are seen at once by
// every caller in this process but written once per batch: before a table's
// files are rewritten or deleted, at DbApplyDeferredRewrites(),
// DbSyncBarrier() or the end of deferral (dictionaries first, then tables).
// Meanwhile a changed dictionary stays locked against other programs. A
// failure to write a dictionary is raised by the call that wrote it, and
// its waiting changes are dropped: it reads again as its file holds it.
DBRESULT DbSetRewriteDeferral(uint16_t deferred);
DBRESULT DbApplyDeferredRewrites(void);
// Rewrites now the one table that name stands for on the connection (as
// DbOpenTable finds it), when changes wait for it; nothing otherwise. For
// work on that table's files other than through the engine, such as its
// .BAK set.
DBRESULT DbApplyDeferredRewrite(DBHANDLE connection, const char* name);

// ---------------------------------------------------------------------------
// Tables.
// ---------------------------------------------------------------------------
// name: a path relative to the connection's folder or absolute; ".KDT" is
// added when the name has no extension.
DBRESULT DbOpenTable(DBHANDLE connection, const char* name, const char* alias, uint16_t table_type,
                     uint16_t char_type, uint16_t lock_type, uint16_t rights, uint32_t mode,
                     DBHANDLE* table);
DBRESULT DbCloseTable(DBHANDLE table);
// fields: "NAME,Type[,length[,decimals]];..." — see docs/format.md for the
// type pieces. The table is created empty and left open exclusively.
DBRESULT DbCreateTable(DBHANDLE connection, const char* name, const char* object_name,
                       uint16_t table_type, uint16_t char_type, uint16_t lock_type, uint16_t rights,
                       uint16_t memo_block_size, const char* fields, uint32_t options,
                       DBHANDLE* table);
// expr: field names joined by ";" or "+". Only tags in the table's own index
// file exist, so file_name must be empty or NULL.
DBRESULT DbCreateIndex(DBHANDLE table, const char* file_name, const char* tag, const char* expr,
                       const char* condition, const char* while_condition, uint32_t options,
                       uint32_t page_size, DBHANDLE* index);
DBRESULT DbDeleteIndex(DBHANDLE index);
// Closes the table handle and removes the table's files.
DBRESULT DbDeleteTable(DBHANDLE table);
// Zap empties the table; pack removes its deleted rows and the memo space
// they held. Both, like encrypting and decrypting, rewrite the whole table
// and need it to this handle alone (else 5062). A failure leaves the old
// table; a failure after the rewrite was committed leaves the handle
// answering 5076 to every call but closing, and opening the table again
// gives the rewritten table.
DBRESULT DbZapTable(DBHANDLE table);
DBRESULT DbPackTable(DBHANDLE table);
DBRESULT DbGetTableType(DBHANDLE table, uint16_t* type);
DBRESULT DbGetTableFilename(DBHANDLE table, char* buf, uint16_t* len);
// A stamp of a table's data and index files, for a caller that keeps what
// it read of the table's structure (its fields and tags) and wants to know,
// without opening the table, whether that still holds: the value stays
// while the files do, and changes once either is rewritten (ALTER TABLE,
// pack, zap, encryption, a tag added or dropped), replaced or grown, by this
// process or another program. handle: an open
// table, or a connection with the table's name as DbOpenTable takes it; for
// an open table of a dictionary connection, name is the name it was opened
// by (else unused). On a dictionary connection the stamp also stands for the
// dictionary's entry of the table (its file, name, encryption, default
// index) and the rights of the user logged on: it is 0 while the table is
// out of the dictionary, and changes when any of these changes. *stamp
// is 0 when no stamp stands for the table: its data file is missing, a
// change of it waits in this process (deferred rewrites), a rewrite of it
// failed or was cut short, this process holds it exclusively, the
// dictionary does not hold it, or an open table of a dictionary connection
// is asked without its name or by a name whose entry names another file.
// Only the files are looked at: a lock, a damaged file or a wrong password
// shows when the table is opened.
DBRESULT DbGetTableStamp(DBHANDLE handle, const char* name, uint64_t* stamp);
// indexes: capacity in *count on entry, number returned on exit.
DBRESULT DbGetAllIndexes(DBHANDLE table, DBHANDLE* indexes, uint16_t* count);
DBRESULT DbGetNumIndexes(DBHANDLE table, uint16_t* count);
DBRESULT DbGetIndexHandle(DBHANDLE table, const char* tag, DBHANDLE* index);
DBRESULT DbGetIndexName(DBHANDLE index, char* buf, uint16_t* len);
DBRESULT DbGetIndexExpr(DBHANDLE index, char* buf, uint16_t* len);
DBRESULT DbGetIndexOptions(DBHANDLE index, uint32_t* options);
DBRESULT DbGetNumFields(DBHANDLE table, uint16_t* count);
DBRESULT DbGetFieldName(DBHANDLE table, uint16_t field, char* buf, uint16_t* len);
DBRESULT DbGetFieldNum(DBHANDLE table, const char* field, uint16_t* number);
DBRESULT DbGetFieldType(DBHANDLE table, const char* field, uint16_t* type);
DBRESULT DbGetFieldLength(DBHANDLE table, const char* field, uint32_t* length);
DBRESULT DbGetFieldDecimals(DBHANDLE table, const char* field, uint16_t* decimals);
DBRESULT DbGetFieldOffset(DBHANDLE table, const char* field, uint32_t* offset);
DBRESULT DbGetRecordLength(DBHANDLE table, uint32_t* length);

// ---------------------------------------------------------------------------
// Navigation and rows. Navigation functions take a table handle (record
// order) or an index handle (that index's order; the table's row moves).
// ---------------------------------------------------------------------------
DBRESULT DbGotoTop(DBHANDLE handle);
DBRESULT DbGotoBottom(DBHANDLE handle);
DBRESULT DbSkip(DBHANDLE handle, int32_t rows);
DBRESULT DbAtEOF(DBHANDLE table, uint16_t* eof);
DBRESULT DbAtBOF(DBHANDLE table, uint16_t* bof);
DBRESULT DbGotoRecord(DBHANDLE table, uint32_t record);
DBRESULT DbGetRecordNum(DBHANDLE table, uint32_t* record);
DBRESULT DbSeek(DBHANDLE index, const DBE_KEY_VALUE* keys, uint16_t count, uint16_t mode,
                uint16_t* found);
DBRESULT DbSetScope(DBHANDLE index, uint16_t which, const DBE_KEY_VALUE* keys, uint16_t count);
DBRESULT DbClearScope(DBHANDLE index, uint16_t which);
DBRESULT DbSetAOF(DBHANDLE table, const char* expr, uint16_t options);
DBRESULT DbClearAOF(DBHANDLE table);
DBRESULT DbSetFilter(DBHANDLE table, const char* expr);
DBRESULT DbClearFilter(DBHANDLE table);
// The current row's plain record image (layout in docs/format.md).
DBRESULT DbGetRecord(DBHANDLE table, uint8_t* buf, uint32_t* len);
DBRESULT DbIsEmpty(DBHANDLE table, const char* field, uint16_t* empty);
// Field value as text (numbers with their decimals, dates YYYYMMDD, logical T/F).
DBRESULT DbGetString(DBHANDLE table, const char* field, char* buf, uint32_t* len);
DBRESULT DbGetMemoLength(DBHANDLE table, const char* field, uint32_t* length);
DBRESULT DbGetBinary(DBHANDLE table, const char* field, uint32_t offset, uint8_t* buf,
                     uint32_t* len);
DBRESULT DbIsRecordDeleted(DBHANDLE table, uint16_t* deleted);
DBRESULT DbAppendRecord(DBHANDLE table);
DBRESULT DbLockRecord(DBHANDLE table, uint32_t record);     // 0: current row
DBRESULT DbUnlockRecord(DBHANDLE table, uint32_t record);   // 0: current row
// Text converted to the field's type (logical: T/t/Y/y/1 true; dates YYYYMMDD).
DBRESULT DbSetField(DBHANDLE table, const char* field, const char* value, uint32_t len);
// The field's raw encoding, as it stands in the record image.
DBRESULT DbSetFieldRaw(DBHANDLE table, const char* field, const uint8_t* value, uint32_t len);
DBRESULT DbSetEmpty(DBHANDLE table, const char* field);
// Memo, binary and image values.
DBRESULT DbSetBinary(DBHANDLE table, const char* field, const uint8_t* value, uint32_t len);
DBRESULT DbWriteRecord(DBHANDLE table);
DBRESULT DbDeleteRecord(DBHANDLE table);
DBRESULT DbRecallRecord(DBHANDLE table);
DBRESULT DbCancelUpdate(DBHANDLE table);
DBRESULT DbGetRecordCount(DBHANDLE table, uint16_t option, uint32_t* count);

// Typed values; these also set the parameters of a statement handle (named
// ":NAME" or "NAME" in any case, or DBE_FIELD_ORDINAL(n) from 1).
DBRESULT DbSetString(DBHANDLE handle, const char* field, const char* value, uint32_t len);
DBRESULT DbSetLogical(DBHANDLE handle, const char* field, uint16_t value);
DBRESULT DbSetDouble(DBHANDLE handle, const char* field, double value);
DBRESULT DbSetJulian(DBHANDLE handle, const char* field, int32_t day);            // Julian day number
DBRESULT DbSetMilliseconds(DBHANDLE handle, const char* field, int32_t ms);       // since midnight
DBRESULT DbSetTimeStampRaw(DBHANDLE handle, const char* field, int32_t day, int32_t ms);

// ---------------------------------------------------------------------------
// Encryption.
// ---------------------------------------------------------------------------
// Gives the handle the password: the key of an encrypted table, or the
// password DbEncryptTable encrypts with.
DBRESULT DbEnableEncryption(DBHANDLE table, const char* password);
// Whole-table rewrites with the same contract as DbPackTable.
DBRESULT DbEncryptTable(DBHANDLE table);
DBRESULT DbDecryptTable(DBHANDLE table);
DBRESULT DbIsTableEncrypted(DBHANDLE table, uint16_t* encrypted);

// ---------------------------------------------------------------------------
// SQL statements. A statement is prepared with its text, given parameter
// values (DbSetString, DbSetEmpty, ...) and executed; a SELECT gives a
// cursor, read with the table functions and closed with DbCloseTable. With
// DbStmtSetTableReadOnly(stmt, 2) a single-table "SELECT *" gives a live
// cursor whose rows are the table's rows; otherwise the result is static.
// Failures are error 7200 (text "Error 7200: ... NativeError = N;").
// ---------------------------------------------------------------------------
DBRESULT DbCreateSQLStatement(DBHANDLE connection, DBHANDLE* statement);
DBRESULT DbCloseSQLStatement(DBHANDLE statement);
DBRESULT DbPrepareSQL(DBHANDLE statement, const char* sql);
// cursor may be NULL (any result is then discarded); 0 when no rows result.
DBRESULT DbExecuteSQL(DBHANDLE statement, DBHANDLE* cursor);
// Whether a statement's cursor is live.
DBRESULT DbSqlPeekStatement(DBHANDLE cursor, uint16_t* live);
// The ":name" parameters of an SQL text, in order, joined by ";".
DBRESULT DbGetSQLStmtParams(const char* sql, char* names, uint32_t* len);
DBRESULT DbStmtSetTableLockType(DBHANDLE statement, uint16_t lock_type);
DBRESULT DbStmtSetTableCharType(DBHANDLE statement, uint16_t char_type);
DBRESULT DbStmtSetTableRights(DBHANDLE statement, uint16_t rights);
DBRESULT DbStmtSetTableReadOnly(DBHANDLE statement, uint16_t read_only);   // 1 static, 2 live
DBRESULT DbStmtSetTableType(DBHANDLE statement, uint16_t table_type);
DBRESULT DbStmtConstrainUpdates(DBHANDLE statement, uint16_t constrain);
DBRESULT DbStmtReadAllColumns(DBHANDLE statement, uint16_t read_all);
// The password for every encrypted table the statement reads or changes.
DBRESULT DbStmtEnableEncryption(DBHANDLE statement, const char* password);
// The password of one encrypted table (name with or without ".KDT").
DBRESULT DbStmtSetTablePassword(DBHANDLE statement, const char* table, const char* password);

// ---------------------------------------------------------------------------
// Data dictionaries. A dictionary is CODE.kdd with CODE.km and CODE.ki in
// the company folder; DbConnect to the ".kdd" path with a user and password
// gives a dictionary connection (handle type 6), whose data folder is the
// dictionary's folder. Tables opened on it are found by dictionary name
// (any case, with or without ".KDT") or by file name; a name it does not
// hold answers DBE_NOT_IN_DICTIONARY. The administrator user is "DBSYS".
// ---------------------------------------------------------------------------
enum { DBE_DD_OBJECT_TABLE = 1, DBE_DD_OBJECT_INDEX = 5, DBE_DD_OBJECT_USER = 8, DBE_DD_OBJECT_PROCEDURE = 10 };
enum { DBE_DD_PROP_AUTO_CREATE = 203, DBE_DD_PROP_DEFAULT_INDEX = 213, DBE_DD_PROP_ENCRYPTION = 214 };
enum { DBE_DD_MAX_NAME = 200 };

// Creates a new dictionary at path (".kdd") with the administrator password;
// returns a connection to it as DBSYS when connection is not NULL.
DBRESULT DbDDCreate(const char* path, const char* admin_password, const char* description, DBHANDLE* connection);
// Lists objects of a type (tables; the index entries of the table `parent`;
// users; procedures). 5137 when there is none (more).
DBRESULT DbDDFindFirstObject(DBHANDLE dictionary, uint16_t object_type, const char* parent, char* name,
                             uint16_t* len, DBHANDLE* find);
DBRESULT DbDDFindNextObject(DBHANDLE dictionary, DBHANDLE find, char* name, uint16_t* len);
DBRESULT DbDDFindClose(DBHANDLE dictionary, DBHANDLE find);
// path: the table's data file, relative to the dictionary's folder or absolute.
DBRESULT DbDDAddTable(DBHANDLE dictionary, const char* name, const char* path, uint16_t table_type,
                      uint16_t char_type, const char* index_files, const char* comments);
// Takes the table out with its index entries and rights (administrator
// only). With delete_files its files go after the catalogue is written,
// while the table is held exclusively (5062 when anyone uses it, and then
// nothing changes). DROP TABLE on a dictionary connection does the same.
DBRESULT DbDDRemoveTable(DBHANDLE dictionary, const char* name, uint16_t delete_files);
// Writes the dictionary's waiting changes (see DbSetRewriteDeferral) unless
// its file lists the table already: for a record kept outside the engine
// that may forget a table only once the dictionary on disk holds it.
DBRESULT DbDDSaveTableListing(DBHANDLE dictionary, const char* name);
// The data file of a table as it was added (the path given to DbDDAddTable,
// or the name with ".KDT" when none was given). The table is named by its
// dictionary name (any case, with or without ".KDT") or by its file; 5073
// when the dictionary holds no such table.
DBRESULT DbDDGetTableFilename(DBHANDLE dictionary, const char* name, char* buf, uint16_t* len);
// 203 and 214: a 16-bit value 0 or 1 with length 2; 213: the index name.
DBRESULT DbDDSetTableProperty(DBHANDLE dictionary, const char* name, uint16_t property, const void* value,
                              uint16_t len, uint16_t validate, const char* fail_table);
DBRESULT DbDDGetTableProperty(DBHANDLE dictionary, const char* name, uint16_t property, void* value,
                              uint16_t* len);
// Removes an index tag of a dictionary table.
DBRESULT DbDDDeleteIndex(DBHANDLE dictionary, const char* table, const char* index);
DBRESULT DbDDCreateUser(DBHANDLE dictionary, const char* group, const char* user, const char* password,
                        const char* description);
// Rights letters as given: R read, W write (change and delete), I insert.
DBRESULT DbDDSetObjectAccessRights(DBHANDLE dictionary, const char* object, const char* accessor,
                                   const char* rights);
// The letters as they were set; empty when the user has none on the table.
// 5073 when the dictionary holds no such table or user.
DBRESULT DbDDGetObjectAccessRights(DBHANDLE dictionary, const char* object, const char* accessor, char* rights,
                                   uint16_t* len);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // KX8_DBE_DBE_H_
