#include <cstring>
#include <map>

#include "api/objects.h"
#include "core/error.h"
#include "core/text.h"
#include "expr/eval.h"
#include "expr/parser.h"
#include "storage/record_codec.h"

namespace dbe {

// --- handle table -----------------------------------------------------------

namespace {

struct HandleTable {
  std::map<DBHANDLE, std::unique_ptr<Object>> objects;
  DBHANDLE next = 1;
};

HandleTable& Handles() {
  static auto* t = new HandleTable();
  return *t;
}

bool g_show_deleted = false;

}  // namespace

void SetShowDeleted(bool show) { g_show_deleted = show; }
bool ShowDeleted() { return g_show_deleted; }

DBHANDLE Register(std::unique_ptr<Object> obj) {
  HandleTable& t = Handles();
  DBHANDLE h = t.next++;
  if (t.next == 0) t.next = 1;
  obj->handle = h;
  t.objects[h] = std::move(obj);
  return h;
}

Connection* LookupConnection(DBHANDLE h) {
  Object* o = Lookup(h);
  if (o == nullptr || (o->kind != DBE_HANDLE_CONNECTION && o->kind != DBE_HANDLE_DICTIONARY)) return nullptr;
  return static_cast<Connection*>(o);
}

Object* Lookup(DBHANDLE h) {
  auto& objs = Handles().objects;
  auto it = objs.find(h);
  return it == objs.end() ? nullptr : it->second.get();
}

void Unregister(DBHANDLE h) { Handles().objects.erase(h); }

// --- filter plumbing --------------------------------------------------------

namespace {

class LayoutResolver : public expr::ColumnResolver {
 public:
  explicit LayoutResolver(const Layout& l) : layout_(l) {}
  int Resolve(std::string_view qualifier, std::string_view name) const override {
    (void)qualifier;
    return layout_.Find(name);
  }

 private:
  const Layout& layout_;
};

class RowValues : public expr::RowAccess {
 public:
  RowValues(TableCursor* c, const uint8_t* rec, const std::vector<Value>* params)
      : c_(c), rec_(rec), params_(params) {}
  Value Param(int index) const override {
    if (index < 0 || static_cast<size_t>(index) >= params_->size()) return Value::Null();
    return (*params_)[static_cast<size_t>(index)];
  }
  Value Column(int id) const override {
    const Field& f = c_->layout().fields[id];
    if (IsBlobType(f.type)) {
      if (IsNullBit(rec_, id)) return Value::Null();
      std::string s = c_->file().ReadBlob(rec_, id, c_->key());
      return f.type == DBE_FT_MEMO || f.type == DBE_FT_VARCHAR ? Value::String(std::string(TrimRightBlanks(s)))
                                                               : Value::Binary(std::move(s));
    }
    return ReadFieldValue(f, id, rec_);
  }

 private:
  TableCursor* c_;
  const uint8_t* rec_;
  const std::vector<Value>* params_;
};

}  // namespace

// --- cursor -----------------------------------------------------------------

TableCursor::~TableCursor() = default;

void TableCursor::Open(Connection* conn, std::shared_ptr<TableFile> tf, uint32_t mode) {
  conn_ = conn;
  tf_ = std::move(tf);
  exclusive_ = mode & DBE_OPEN_EXCLUSIVE;
  read_only_ = mode & DBE_OPEN_READONLY;
  blank_.assign(layout().record_length, 0);
  blank_[0] = kRowActive;
  for (uint32_t i = 0; i < layout().fields.size(); ++i) WriteFieldEmpty(layout().fields[i], i, blank_.data());
  for (auto& tag : tf_->tags()) {
    auto ix = std::make_unique<IndexHandle>();
    ix->table = this;
    ix->tag = tag;
    indexes.push_back(ix.get());
    Register(std::move(ix));
  }
}

void TableCursor::Settle() {
  if (!top_deferred_) return;
  tf_->ApplyDeferredChange();
  top_deferred_ = false;
  GotoTop(top_ix_);
}

void TableCursor::Close() {
  if (!tf_) return;
  Cancel();
  tf_->UnlockAll(handle);
  for (IndexHandle* ix : indexes) Unregister(ix->handle);
  indexes.clear();
  if (static_result_) {
    try {
      tf_->DeleteFiles();
    } catch (const Error&) {
      // A result file left behind goes with the result folder at exit.
    }
  }
  tf_->Release(exclusive_);
  tf_.reset();
}

uint32_t TableCursor::FieldIndex(const char* field) const {
  auto raw = reinterpret_cast<uintptr_t>(field);
  if (raw != 0 && raw < 65536) {
    if (raw > layout().fields.size()) {
      Fail(DBE_COLUMN_NOT_FOUND, "Error 5147: There is no column \"" + std::to_string(raw) +
                                     "\" in the table. File: " + tf_->file_name());
    }
    return static_cast<uint32_t>(raw - 1);
  }
  if (field == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No field was named.");
  int i = layout().Find(field);
  if (i < 0) {
    Fail(DBE_COLUMN_NOT_FOUND, "Error 5147: There is no column \"" + std::string(field) +
                                   "\" in the table. File: " + tf_->file_name());
  }
  return static_cast<uint32_t>(i);
}

void TableCursor::LoadRow(uint32_t r, std::vector<uint8_t>* out) {
  out->resize(layout().record_length);
  tf_->ReadRecord(r, key_.get(), out->data());
}

bool TableCursor::PassesFilter(uint32_t r) {
  if (!filter_) return true;
  LoadRow(r, &filter_row_);
  RowValues values(this, filter_row_.data(), &filter_params_);
  return expr::IsTrue(expr::Evaluate(*filter_, values));
}

bool TableCursor::Visible(uint32_t r) {
  if (!g_show_deleted && tf_->IsDeleted(r)) return false;
  return PassesFilter(r);
}

void TableCursor::Position(uint32_t r) {
  recno_ = r;
  eof_ = bof_ = false;
}

void TableCursor::SetEof() {
  recno_ = tf_->record_count() + 1;
  eof_ = true;
}

void TableCursor::FlushPending() {
  if (edit_ != EditState::None) Write();
}

bool TableCursor::InScope(IndexHandle* ix, const uint8_t* entry) const {
  if (ix->scope_top && std::memcmp(entry, ix->scope_top->data(), ix->scope_top->size()) < 0) return false;
  if (ix->scope_bottom && std::memcmp(entry, ix->scope_bottom->data(), ix->scope_bottom->size()) > 0) return false;
  return true;
}

// Walks from p (inclusive) in the given direction to the first entry that
// is in scope and visible, and positions there. Returns false at the end.
bool TableCursor::FirstVisibleFrom(IndexHandle* ix, OrderedIndex::Pos p, bool forward) {
  OrderedIndex& entries = ix->tag->entries;
  uint32_t kw = ix->tag->key.key_width();
  while (!entries.IsEnd(p)) {
    const uint8_t* e = entries.At(p);
    if (!InScope(ix, e)) {
      // Past the scope in the walking direction: nothing further qualifies.
      bool before_top = ix->scope_top && std::memcmp(e, ix->scope_top->data(), ix->scope_top->size()) < 0;
      if (forward ? !before_top : before_top) return false;
    } else {
      uint32_t r = EntryRecno(e, kw);
      if (PassesFilter(r)) {
        Position(r);
        pos_ix_ = ix;
        pos_ = p;
        pos_version_ = entries.version();
        pos_recno_ = r;
        return true;
      }
    }
    if (forward) {
      entries.Next(&p);
    } else if (!entries.Prev(&p)) {
      return false;
    }
  }
  return false;
}

OrderedIndex::Pos TableCursor::FindCurrent(IndexHandle* ix, bool* exact) {
  OrderedIndex& entries = ix->tag->entries;
  if (pos_ix_ == ix && pos_version_ == entries.version() && pos_recno_ == recno_ && !eof_) {
    *exact = true;
    return pos_;
  }
  std::vector<uint8_t> entry(ix->tag->key.entry_width());
  ix->tag->key.EncodeEntry(layout(), Row(), recno_, entry.data());
  OrderedIndex::Pos p = entries.LowerBound(
      std::string_view(reinterpret_cast<const char*>(entry.data()), entry.size()));
  *exact = !entries.IsEnd(p) && std::memcmp(entries.At(p), entry.data(), entry.size()) == 0;
  return p;
}

void TableCursor::GotoTop(IndexHandle* ix) {
  FlushPending();
  if (tf_->has_deferred_change()) {
    // Finding the first row would read the rows, and so rewrite the table
    // now: the handle goes there when it is next used for its rows.
    top_deferred_ = true;
    top_ix_ = ix;
    recno_ = 0;
    return;
  }
  top_deferred_ = false;
  bof_ = false;
  if (ix == nullptr) {
    uint32_t n = tf_->record_count();
    for (uint32_t r = 1; r <= n; ++r) {
      if (Visible(r)) return Position(r);
    }
  } else {
    tf_->EnsureIndexes(key_.get());
    OrderedIndex& entries = ix->tag->entries;
    OrderedIndex::Pos p = ix->scope_top ? entries.LowerBound(*ix->scope_top) : entries.Begin();
    if (FirstVisibleFrom(ix, p, true)) return;
  }
  SetEof();
  bof_ = true;
}

void TableCursor::GotoBottom(IndexHandle* ix) {
  FlushPending();
  if (ix == nullptr) {
    for (uint32_t r = tf_->record_count(); r >= 1; --r) {
      if (Visible(r)) return Position(r);
    }
  } else {
    tf_->EnsureIndexes(key_.get());
    OrderedIndex& entries = ix->tag->entries;
    OrderedIndex::Pos p = ix->scope_bottom ? entries.LowerBound(*ix->scope_bottom, true) : entries.End();
    if (entries.Prev(&p) && FirstVisibleFrom(ix, p, false)) return;
  }
  SetEof();
  bof_ = true;
}

void TableCursor::Skip(IndexHandle* ix, int32_t rows) {
  FlushPending();
  if (rows == 0) {
    row_counter_ = ~0ull;  // reread the row
    return;
  }
  if (ix != nullptr) tf_->EnsureIndexes(key_.get());
  bool forward = rows > 0;
  int64_t steps = forward ? rows : -int64_t(rows);
  for (int64_t s = 0; s < steps; ++s) {
    if (forward) {
      if (eof_) return;
      if (ix == nullptr) {
        uint32_t n = tf_->record_count();
        uint32_t r = recno_ + 1;
        while (r <= n && !Visible(r)) ++r;
        if (r > n) return SetEof();
        Position(r);
      } else {
        bool exact = false;
        OrderedIndex::Pos p = FindCurrent(ix, &exact);
        if (exact) ix->tag->entries.Next(&p);
        if (!FirstVisibleFrom(ix, p, true)) return SetEof();
      }
    } else {
      if (eof_) {
        bool was_empty = bof_;
        GotoBottom(ix);
        if (was_empty || bof_) return;
        continue;
      }
      bool moved = false;
      if (ix == nullptr) {
        uint32_t r = recno_;
        while (r > 1) {
          --r;
          if (Visible(r)) {
            Position(r);
            moved = true;
            break;
          }
        }
      } else {
        bool exact = false;
        OrderedIndex::Pos p = FindCurrent(ix, &exact);
        uint32_t here = recno_;
        if (ix->tag->entries.Prev(&p)) moved = FirstVisibleFrom(ix, p, false);
        if (!moved) recno_ = here;
      }
      if (!moved) {
        // Before the first row: stay on it and say so.
        GotoTop(ix);
        bof_ = true;
        return;
      }
    }
  }
}

void TableCursor::GotoRecord(uint32_t r) {
  FlushPending();
  if (r == 0 || r > tf_->record_count()) {
    SetEof();
    return;
  }
  Position(r);
}

bool TableCursor::Seek(IndexHandle* ix, const DBE_KEY_VALUE* keys, uint16_t count, uint16_t mode) {
  FlushPending();
  tf_->EnsureIndexes(key_.get());
  std::string key = ix->tag->key.EncodeSeekKey(layout(), keys, count, mode == DBE_SEEK_SOFT, tf_->file_name());
  OrderedIndex& entries = ix->tag->entries;
  OrderedIndex::Pos p = entries.LowerBound(key, mode == DBE_SEEK_AFTER);
  bof_ = false;
  if (!FirstVisibleFrom(ix, p, true)) {
    SetEof();
    return false;
  }
  bool found = std::memcmp(entries.At(pos_), key.data(), key.size()) == 0;
  if (mode == DBE_SEEK_EXACT && !found) {
    SetEof();
    return false;
  }
  return found;
}

void TableCursor::SetFilter(const char* text) {
  if (text == nullptr || Trim(text).empty()) return ClearFilter();
  expr::NodePtr node = expr::ParseExpression(text, DBE_EXPRESSION_ERROR);
  LayoutResolver resolver(layout());
  expr::Bind(*node, resolver, DBE_EXPRESSION_ERROR);
  filter_ = std::shared_ptr<expr::Node>(std::move(node));
  filter_params_.clear();
  filter_text_ = text;
  pos_ix_ = nullptr;
}

void TableCursor::SetFilterNode(std::shared_ptr<expr::Node> node, std::vector<Value> params) {
  filter_ = std::move(node);
  filter_params_ = std::move(params);
  filter_text_.clear();
  pos_ix_ = nullptr;
}

void TableCursor::ClearFilter() {
  filter_.reset();
  filter_params_.clear();
  filter_text_.clear();
}

uint32_t TableCursor::CountRows(uint16_t option) {
  // A statement's cursor always counts the rows its WHERE lets through.
  if (statement_cursor_) option = DBE_COUNT_RESPECT_FILTERS;
  if (option != DBE_COUNT_RESPECT_FILTERS || !filter_) {
    return g_show_deleted ? tf_->record_count() : tf_->live_count();
  }
  uint32_t n = 0, total = tf_->record_count();
  for (uint32_t r = 1; r <= total; ++r) {
    if (Visible(r)) ++n;
  }
  return n;
}

const uint8_t* TableCursor::Row() {
  if (edit_ != EditState::None) return edit_buf_.data();
  if (eof_ || recno_ == 0 || recno_ > tf_->record_count()) return blank_.data();
  if (row_recno_ != recno_ || row_counter_ != tf_->change_counter()) {
    LoadRow(recno_, &row_);
    row_recno_ = recno_;
    row_counter_ = tf_->change_counter();
  }
  return row_.data();
}

std::string TableCursor::BlobValue(uint32_t field) {
  if (edit_ != EditState::None) {
    auto it = blobs_.find(field);
    if (it != blobs_.end()) return it->second ? *it->second : std::string();
  }
  return tf_->ReadBlob(Row(), field, key_.get());
}

uint32_t TableCursor::BlobLength(uint32_t field) {
  if (edit_ != EditState::None) {
    auto it = blobs_.find(field);
    if (it != blobs_.end()) return it->second ? static_cast<uint32_t>(it->second->size()) : 0;
  }
  return tf_->BlobLength(Row(), field);
}

void TableCursor::RequireWritable() {
  if (static_result_) {
    Fail(DBE_STATIC_CURSOR, "Error 5064: The result of the statement is static and cannot be changed.");
  }
  if (read_only_) {
    Fail(DBE_READ_ONLY, "Error 5063: The table was opened read-only. File: " + tf_->file_name());
  }
}

void TableCursor::RequireRight(char letter, const char* what) {
  if (!rights_) return;
  for (char c : *rights_) {
    if (AsciiUpper(c) == letter) return;
  }
  Fail(DBE_NO_RIGHTS, std::string("Error 5074: The user has no right to ") + what + " rows of the table. File: " +
                          tf_->file_name());
}

void TableCursor::Append() {
  RequireWritable();
  RequireRight('I', "insert");
  FlushPending();
  if (tf_->encrypted() && !key_) {
    Fail(DBE_PASSWORD_REQUIRED, "Error 5050: The table is encrypted; its password must be given first. File: " +
                                    tf_->file_name());
  }
  edit_buf_ = blank_;
  blobs_.clear();
  edit_ = EditState::Append;
}

void TableCursor::Lock(uint32_t r) {
  if (r == 0) r = recno_;
  if (eof_ || r == 0 || r > tf_->record_count()) {
    Fail(DBE_NO_CURRENT_RECORD, "Error 5026: There is no current row to lock. File: " + tf_->file_name());
  }
  if (exclusive_) return;
  if (!tf_->LockRecord(r, handle)) {
    Fail(DBE_RECORD_LOCKED, "Error 5035: Row " + std::to_string(r) + " is locked by another user. File: " +
                                tf_->file_name());
  }
}

void TableCursor::Unlock(uint32_t r) {
  if (r == 0) r = recno_;
  tf_->UnlockRecord(r, handle);
  if (r == recno_) implicit_lock_ = false;
}

uint8_t* TableCursor::EditBuffer() {
  RequireWritable();
  if (edit_ == EditState::None) {
    RequireRight('W', "change");
    if (eof_ || recno_ == 0 || recno_ > tf_->record_count()) {
      Fail(DBE_NO_CURRENT_RECORD, "Error 5026: There is no current row to change. File: " + tf_->file_name());
    }
    if (!exclusive_ && !tf_->IsLockedByOther(recno_, handle)) {
      if (tf_->LockRecord(recno_, handle)) implicit_lock_ = true;
    }
    if (!exclusive_ && tf_->IsLockedByOther(recno_, handle)) {
      Fail(DBE_RECORD_LOCKED, "Error 5035: Row " + std::to_string(recno_) + " is locked by another user. File: " +
                                  tf_->file_name());
    }
    row_counter_ = ~0ull;
    const uint8_t* cur = Row();
    edit_buf_.assign(cur, cur + layout().record_length);
    blobs_.clear();
    edit_ = EditState::Edit;
  }
  return edit_buf_.data();
}

void TableCursor::SetBlob(uint32_t field, std::optional<std::string> value) {
  EditBuffer();
  blobs_[field] = std::move(value);
}

void TableCursor::Write() {
  if (edit_ == EditState::None) return;
  if (edit_ == EditState::Append) {
    uint32_t r = tf_->Append(edit_buf_.data(), blobs_, key_.get());
    edit_ = EditState::None;
    blobs_.clear();
    Position(r);
  } else {
    tf_->Update(recno_, edit_buf_.data(), blobs_, key_.get());
    edit_ = EditState::None;
    blobs_.clear();
    if (implicit_lock_) tf_->UnlockRecord(recno_, handle);
    implicit_lock_ = false;
  }
  row_counter_ = ~0ull;
}

void TableCursor::Cancel() {
  edit_ = EditState::None;
  blobs_.clear();
  if (implicit_lock_) tf_->UnlockRecord(recno_, handle);
  implicit_lock_ = false;
}

void TableCursor::DeleteRow() {
  RequireWritable();
  if (edit_ == EditState::Append) return Cancel();
  RequireRight('W', "delete");
  if (eof_ || recno_ == 0 || recno_ > tf_->record_count()) {
    Fail(DBE_NO_CURRENT_RECORD, "Error 5026: There is no current row to delete. File: " + tf_->file_name());
  }
  if (!exclusive_ && tf_->IsLockedByOther(recno_, handle)) {
    Fail(DBE_RECORD_LOCKED, "Error 5035: Row " + std::to_string(recno_) + " is locked by another user. File: " +
                                tf_->file_name());
  }
  Cancel();
  tf_->Delete(recno_, key_.get());
  row_counter_ = ~0ull;
}

void TableCursor::RecallRow() {
  RequireWritable();
  if (eof_ || recno_ == 0) {
    Fail(DBE_NO_CURRENT_RECORD, "Error 5026: There is no current row to recall. File: " + tf_->file_name());
  }
  tf_->Recall(recno_, key_.get());
  row_counter_ = ~0ull;
}

void TableCursor::EnablePassword(const std::string& password) {
  if (tf_->encrypted()) key_ = tf_->KeyForPassword(password);
  password_ = password;
  row_counter_ = ~0ull;
}

void TableCursor::Rewrite(TableFile::Rewrite how) {
  RequireWritable();
  Cancel();
  if (how == TableFile::Rewrite::Encrypt && !tf_->encrypted() && password_.empty()) {
    Fail(DBE_PASSWORD_REQUIRED, "Error 5050: A password must be given before the table is encrypted. File: " +
                                    tf_->file_name());
  }
  tf_->RewriteTable(how, key_.get(), password_);
  if (how == TableFile::Rewrite::Encrypt) key_ = tf_->KeyForPassword(password_);
  if (how == TableFile::Rewrite::Decrypt) key_.reset();
  pos_ix_ = nullptr;
  row_counter_ = ~0ull;
  GotoTop(nullptr);
}

}  // namespace dbe
