// The objects behind handles: connections, table cursors and index handles,
// and the process-wide handle table.
#ifndef KX8_ENGINE_API_OBJECTS_H_
#define KX8_ENGINE_API_OBJECTS_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/value.h"
#include "crypto/cipher.h"
#include "dbe/dbe.h"
#include "expr/ast.h"
#include "storage/table_file.h"

namespace dbe {

struct Object {
  explicit Object(uint16_t k) : kind(k) {}
  virtual ~Object() = default;
  uint16_t kind;
  DBHANDLE handle = 0;
};

struct Connection : Object {
  Connection() : Object(DBE_HANDLE_CONNECTION) {}
  std::string folder;          // native path of the data folder, ending in "/"
  std::set<DBHANDLE> tables;   // open table handles
  std::set<DBHANDLE> statements;
  // A dictionary connection (kind DBE_HANDLE_DICTIONARY): the ".kdd" file,
  // the user logged on, and the dictionary's key.
  std::string kdd;
  std::string user;
  bool admin = false;
  std::array<uint8_t, 16> dictionary_id{};
  std::shared_ptr<const crypto::Key> dictionary_key;
  bool is_dictionary() const { return kind == DBE_HANDLE_DICTIONARY; }
};

// A live connection of either kind, or null.
Connection* LookupConnection(DBHANDLE h);

class TableCursor;

struct IndexHandle : Object {
  IndexHandle() : Object(DBE_HANDLE_INDEX) {}
  TableCursor* table = nullptr;
  std::shared_ptr<IndexTag> tag;
  std::optional<std::string> scope_top, scope_bottom;  // encoded key prefixes
};

// A table handle: a position in the table, the order and filter it reads
// in, and the row being edited or appended.
class TableCursor : public Object {
 public:
  TableCursor() : Object(DBE_HANDLE_TABLE) {}
  ~TableCursor() override;

  void Open(Connection* conn, std::shared_ptr<TableFile> tf, uint32_t mode);
  void Close();
  TableFile& file() { return *tf_; }
  const Layout& layout() const { return tf_->layout(); }
  const crypto::Key* key() const { return key_.get(); }
  Connection* connection() const { return conn_; }

  // Field addressed by name or DBE_FIELD_ORDINAL; fails with 5147.
  uint32_t FieldIndex(const char* field) const;

  // Navigation; ix is null for record order. On a table whose rewrite is
  // deferred, GotoTop only notes where to go: Settle() goes there (and so
  // has the table rewritten) before the handle's rows or position are used.
  void GotoTop(IndexHandle* ix);
  void Settle();
  void GotoBottom(IndexHandle* ix);
  void Skip(IndexHandle* ix, int32_t rows);
  void GotoRecord(uint32_t recno);
  bool Seek(IndexHandle* ix, const DBE_KEY_VALUE* keys, uint16_t count, uint16_t mode);
  bool eof() const { return eof_; }
  bool bof() const { return bof_; }
  uint32_t recno() const { return recno_; }

  void SetFilter(const char* expr);
  // A filter from a statement's WHERE, bound to this table, with the
  // statement's parameter values.
  void SetFilterNode(std::shared_ptr<expr::Node> node, std::vector<Value> params);
  void ClearFilter();
  // A handle that a statement gave out: live (its rows are the table's) or
  // a static result, which refuses writes and removes its files on close.
  void MarkStatementCursor(bool live) { statement_cursor_ = true; live_ = live; }
  void MarkStaticResult() { static_result_ = true; }
  bool statement_cursor() const { return statement_cursor_; }
  bool live() const { return live_; }
  uint32_t CountRows(uint16_t option);

  // The current row image (the edit buffer while editing; a blank row at
  // the end of the table).
  const uint8_t* Row();
  std::string BlobValue(uint32_t field);
  uint32_t BlobLength(uint32_t field);

  // Editing.
  void Append();
  uint8_t* EditBuffer();          // starts an edit of the current row when none is pending
  void SetBlob(uint32_t field, std::optional<std::string> value);
  void Write();
  void Cancel();
  void DeleteRow();
  void RecallRow();
  void Lock(uint32_t recno);
  void Unlock(uint32_t recno);

  // Encryption and rewrites.
  void EnablePassword(const std::string& password);
  // The key a data dictionary gives for a table encrypted with its key.
  void SetKey(std::shared_ptr<const crypto::Key> key) { key_ = std::move(key); }
  // Rights letters a dictionary user holds on the table (R, W, I); not set
  // when rights are not checked.
  void SetRights(std::optional<std::string> letters) { rights_ = std::move(letters); }
  void Rewrite(TableFile::Rewrite how);
  bool read_only() const { return read_only_; }
  bool exclusive() const { return exclusive_; }

  std::vector<IndexHandle*> indexes;  // owned by the handle table

 private:
  bool Visible(uint32_t r);
  bool PassesFilter(uint32_t r);
  void LoadRow(uint32_t r, std::vector<uint8_t>* out);
  void Position(uint32_t r);
  void SetEof();
  void FlushPending();
  void RequireWritable();
  bool InScope(IndexHandle* ix, const uint8_t* entry) const;
  // Index navigation helpers.
  OrderedIndex::Pos FindCurrent(IndexHandle* ix, bool* exact);
  bool FirstVisibleFrom(IndexHandle* ix, OrderedIndex::Pos p, bool forward);

  Connection* conn_ = nullptr;
  std::shared_ptr<TableFile> tf_;
  bool exclusive_ = false;
  bool read_only_ = false;
  std::shared_ptr<const crypto::Key> key_;
  std::string password_;

  uint32_t recno_ = 0;
  bool eof_ = true, bof_ = true;

  std::shared_ptr<expr::Node> filter_;
  std::vector<Value> filter_params_;
  std::vector<uint8_t> filter_row_;  // the row a filter is tested on
  std::string filter_text_;
  bool statement_cursor_ = false, live_ = false, static_result_ = false;
  std::optional<std::string> rights_;
  void RequireRight(char letter, const char* what);

  std::vector<uint8_t> row_;           // cached image of recno_
  uint32_t row_recno_ = 0;
  uint64_t row_counter_ = ~0ull;
  std::vector<uint8_t> blank_;

  enum class EditState { None, Edit, Append } edit_ = EditState::None;
  std::vector<uint8_t> edit_buf_;
  PendingBlobs blobs_;
  bool implicit_lock_ = false;

  bool top_deferred_ = false;
  IndexHandle* top_ix_ = nullptr;

  // Cached index position for fast sequential index navigation.
  IndexHandle* pos_ix_ = nullptr;
  uint64_t pos_version_ = 0;
  OrderedIndex::Pos pos_;
  uint32_t pos_recno_ = 0;
};

// Handle table.
DBHANDLE Register(std::unique_ptr<Object> obj);
Object* Lookup(DBHANDLE h);
void Unregister(DBHANDLE h);

template <class T>
T* LookupAs(DBHANDLE h, uint16_t kind) {
  Object* o = Lookup(h);
  if (o == nullptr || o->kind != kind) return nullptr;
  return static_cast<T*>(o);
}

}  // namespace dbe

#endif  // KX8_ENGINE_API_OBJECTS_H_
