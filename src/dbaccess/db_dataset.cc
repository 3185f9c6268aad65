#include "dbaccess/db_dataset.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_messages.h"
#include "dbaccess/engine_call.h"
#include "dbaccess/registry.h"
#include "dbaccess/value_convert.h"
#include "dbe/dbe.h"

namespace kx8::dbaccess {

using internal::Check;
using internal::RaiseLayerError;

namespace {

// Optimised filters are resolved dynamically, row by row.
constexpr std::uint16_t kDynamicFilter = 0;

const char* Ordinal(int index) { return DBE_FIELD_ORDINAL(index + 1); }

// Reads a name or expression into a growing buffer.
template <typename Call>
std::string ReadText(Call call, const TDbDataSet* ds) {
  std::vector<char> buf(256);
  auto len = static_cast<std::uint16_t>(buf.size());
  DBRESULT rc = call(buf.data(), &len);
  if (rc == DBE_BUFFER_TOO_SMALL) {
    buf.resize(static_cast<std::size_t>(len) + 1);
    len = static_cast<std::uint16_t>(buf.size());
    rc = call(buf.data(), &len);
  }
  Check(rc, ds);
  return std::string(buf.data(), std::min<std::size_t>(len, buf.size()));
}

std::uint32_t FieldWidth(std::uint16_t type, std::uint32_t length) {
  switch (type) {
    case DBE_FT_LOGICAL: return 1;
    case DBE_FT_NUMERIC:
    case DBE_FT_STRING:
    case DBE_FT_CISTRING:
    case DBE_FT_RAW: return length;
    case DBE_FT_DATE:
    case DBE_FT_COMPACTDATE:
    case DBE_FT_INTEGER:
    case DBE_FT_AUTOINC:
    case DBE_FT_TIME: return 4;
    case DBE_FT_SHORTINT: return 2;
    case DBE_FT_MEMO:
    case DBE_FT_BINARY:
    case DBE_FT_IMAGE:
    case DBE_FT_VARCHAR: return 12;
    default: return 8;
  }
}

template <typename T>
std::vector<std::uint8_t> LittleEndian(T value) {
  std::uint64_t v = 0;
  std::memcpy(&v, &value, sizeof value);
  std::vector<std::uint8_t> out(sizeof value);
  for (std::size_t i = 0; i < sizeof value; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return out;
}

std::string JoinFields(const std::vector<std::string>& fields) {
  std::string out;
  for (const std::string& f : fields) out += (out.empty() ? "" : ";") + f;
  return out;
}

bool SameFieldList(const std::vector<std::string>& a, const std::vector<std::string>& b, std::size_t n) {
  if (a.size() < n || b.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (!internal::SameText(a[i], b[i])) return false;
  }
  return true;
}

}  // namespace

struct TDbDataSet::KeyBuffer {
  std::vector<std::string> texts;
  std::vector<DBE_KEY_VALUE> keys;
};

TDbDataSet::TDbDataSet(TComponent* owner) : TComponent(owner) { internal::RegisterDataSet(this); }

TDbDataSet::~TDbDataSet() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot raise; the handle is released either way.
  }
  AttachTo(nullptr);
  internal::UnregisterDataSet(this);
}

// --- attachment ----------------------------------------------------------------

void TDbDataSet::AttachTo(TDbConnection* connection) {
  if (connection == connection_) return;
  ConnectionChanging();
  if (connection_ != nullptr) connection_->Detach(this);
  connection_ = connection;
  if (connection_ != nullptr) connection_->Attach(this);
}

void TDbDataSet::SetDbConnection(TDbConnection* connection) {
  CheckInactive();
  AttachTo(connection);
  database_name_ = connection != nullptr ? connection->Name() : std::string();
}

void TDbDataSet::SetDatabaseName(const std::string& name) {
  CheckInactive();
  database_name_ = name;
  AttachTo(internal::FindConnection(name, Owner()));
}

TDbConnection& TDbDataSet::RequireConnection() const {
  if (connection_ == nullptr) RaiseLayerError(msg::kNoConnection, this);
  return *connection_;
}

void TDbDataSet::CheckInactive() const {
  if (Active()) RaiseLayerError(msg::kDataSetOpen, this);
}

void TDbDataSet::CheckActive() const {
  if (!Active()) RaiseLayerError(msg::kDataSetClosed, this);
}

// --- opening and closing -------------------------------------------------------

void TDbDataSet::SetActive(bool active) {
  if (active) {
    Open();
  } else {
    Close();
  }
}

void TDbDataSet::Open() {
  if (Active()) return;
  if (before_open_) before_open_(*this);
  handle_ = OpenCursor();
  try {
    InitCursor();
  } catch (...) {
    DbCloseTable(handle_);  // the error being raised is the one that counts
    handle_ = 0;
    index_handle_ = 0;
    fields_.clear();
    applied_filter_ = FilterKind::None;
    throw;
  }
  state_ = dsBrowse;
  if (after_open_) after_open_(*this);
}

void TDbDataSet::InitCursor() {
  ReadFieldDefs();
  RefreshIndexDefs();
  SelectIndex();
  CursorOpened();
  if (filtered_) ApplyFilter();
  Check(DbGotoTop(Nav()), this);
  record_stale_ = true;
}

void TDbDataSet::Close() {
  if (!Active()) return;
  DBHANDLE h = handle_;
  state_ = dsInactive;
  handle_ = 0;
  index_handle_ = 0;
  index_key_fields_.clear();
  fields_.clear();
  applied_filter_ = FilterKind::None;
  row_locked_ = false;
  can_modify_ = true;
  record_.clear();
  record_stale_ = true;
  index_defs_stale_ = true;
  Check(DbCloseTable(h), this);
}

// Field types of the engine as the dataset sees them.
void TDbDataSet::ReadFieldDefs() {
  field_defs_.Clear();
  fields_.clear();
  std::uint16_t count = 0;
  Check(DbGetNumFields(handle_, &count), this);
  for (int i = 0; i < count; ++i) {
    auto field = std::unique_ptr<TField>(new TField());
    TField& f = *field;
    f.ds_ = this;
    f.index_ = i;
    f.name_ = ReadText(
        [&](char* buf, std::uint16_t* len) { return DbGetFieldName(handle_, static_cast<std::uint16_t>(i + 1), buf, len); },
        this);
    Check(DbGetFieldType(handle_, Ordinal(i), &f.engine_type_), this);
    Check(DbGetFieldLength(handle_, Ordinal(i), &f.length_), this);
    Check(DbGetFieldDecimals(handle_, Ordinal(i), &f.decimals_), this);
    Check(DbGetFieldOffset(handle_, Ordinal(i), &f.offset_), this);
    int precision = 0;
    switch (f.engine_type_) {
      case DBE_FT_LOGICAL: f.type_ = ftBoolean; break;
      case DBE_FT_NUMERIC: f.type_ = f.decimals_ > 0 || f.length_ > 4 ? ftFloat : ftSmallint; break;
      case DBE_FT_DATE:
      case DBE_FT_COMPACTDATE: f.type_ = ftDate; break;
      case DBE_FT_STRING:
      case DBE_FT_CISTRING:
        f.type_ = ftString;
        f.size_ = static_cast<int>(f.length_);
        break;
      case DBE_FT_MEMO:
      case DBE_FT_VARCHAR:
        f.type_ = ftMemo;
        f.size_ = 1;
        break;
      case DBE_FT_BINARY:
      case DBE_FT_IMAGE:
        f.type_ = ftBlob;
        f.size_ = 1;
        break;
      case DBE_FT_DOUBLE: f.type_ = ftFloat; break;
      case DBE_FT_INTEGER: f.type_ = ftInteger; break;
      case DBE_FT_SHORTINT: f.type_ = ftSmallint; break;
      case DBE_FT_TIME: f.type_ = ftTime; break;
      case DBE_FT_TIMESTAMP:
      case DBE_FT_MODTIME: f.type_ = ftDateTime; break;
      case DBE_FT_AUTOINC: f.type_ = ftAutoInc; break;
      case DBE_FT_RAW:
        f.type_ = ftBytes;
        f.size_ = static_cast<int>(f.length_);
        break;
      case DBE_FT_CURDOUBLE: f.type_ = ftCurrency; break;
      case DBE_FT_MONEY:
        f.type_ = ftBCD;
        f.size_ = 4;
        precision = 20;
        break;
      case DBE_FT_ROWVERSION:
        f.type_ = ftBCD;
        precision = 20;
        break;
      default:
        RaiseLayerError(msg::kUnknownFieldTypeBefore + std::to_string(f.engine_type_) + msg::kUnknownFieldTypeAfter,
                        this);
    }
    f.width_ = FieldWidth(f.engine_type_, f.length_);
    field_defs_.Add(TFieldDef{f.name_, f.type_, f.size_, precision});
    fields_.push_back(std::move(field));
  }
  Check(DbGetRecordLength(handle_, &record_length_), this);
}

// --- fields ------------------------------------------------------------------------

TField& TDbDataSet::Fields(int i) { return *fields_.at(static_cast<std::size_t>(i)); }

TField* TDbDataSet::FindField(const std::string& name) {
  for (auto& f : fields_) {
    if (internal::SameText(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TDbDataSet::FieldByName(const std::string& name) {
  TField* f = FindField(name);
  if (f == nullptr) RaiseLayerError(msg::kFieldNotFoundBefore + name + msg::kFieldNotFoundAfter, this);
  return *f;
}

const std::vector<std::uint8_t>& TDbDataSet::CurrentRecord() const {
  if (record_stale_) {
    record_.assign(record_length_, 0);
    std::uint32_t len = record_length_;
    Check(DbGetRecord(handle_, record_.data(), &len), this);
    record_stale_ = false;
  }
  return record_;
}

bool TDbDataSet::BlobIsEmpty(const TField& f) const {
  std::uint16_t empty = 0;
  Check(DbIsEmpty(handle_, Ordinal(f.index_), &empty), this);
  return empty != 0;
}

std::string TDbDataSet::BlobValue(const TField& f) const {
  std::uint32_t length = 0;
  Check(DbGetMemoLength(handle_, Ordinal(f.index_), &length), this);
  std::string value(length, '\0');
  std::uint32_t got = length;
  Check(DbGetBinary(handle_, Ordinal(f.index_), 0, reinterpret_cast<std::uint8_t*>(value.data()), &got), this);
  value.resize(got);
  return value;
}

void TDbDataSet::Refresh() {
  CheckActive();
  CheckBrowseMode();
  record_stale_ = true;
}

// --- indexes -------------------------------------------------------------------------

TIndexDefs& TDbDataSet::IndexDefs() {
  if (index_defs_stale_ && handle_ != 0) RefreshIndexDefs();
  return index_defs_;
}

void TDbDataSet::RefreshIndexDefs() {
  if (handle_ == 0) return;
  index_defs_.Clear();
  std::vector<DBHANDLE> handles(64);
  auto count = static_cast<std::uint16_t>(handles.size());
  DBRESULT rc = DbGetAllIndexes(handle_, handles.data(), &count);
  if (rc == DBE_BUFFER_TOO_SMALL) {
    handles.resize(count);
    rc = DbGetAllIndexes(handle_, handles.data(), &count);
  }
  Check(rc, this);
  for (std::uint16_t i = 0; i < count; ++i) {
    DBHANDLE ix = handles[i];
    TIndexDef def;
    def.Name = ReadText([&](char* buf, std::uint16_t* len) { return DbGetIndexName(ix, buf, len); }, this);
    def.Expression = ReadText([&](char* buf, std::uint16_t* len) { return DbGetIndexExpr(ix, buf, len); }, this);
    def.Fields = JoinFields(internal::SplitFields(def.Expression));
    std::uint32_t options = 0;
    Check(DbGetIndexOptions(ix, &options), this);
    if (options & DBE_INDEX_UNIQUE) def.Options.Include(ixUnique);
    if (options & DBE_INDEX_DESCENDING) def.Options.Include(ixDescending);
    index_defs_.Add(def);
  }
  index_defs_stale_ = false;
}

// The index of IndexFieldNames (the one with exactly those key fields, else
// the first whose key starts with them) or of IndexName; record order when
// neither is set.
void TDbDataSet::SelectIndex() {
  std::string tag;
  if (!index_field_names_.empty()) {
    std::vector<std::string> wanted = internal::SplitFields(index_field_names_);
    const TIndexDef* match = nullptr;
    for (const TIndexDef& d : IndexDefs().Items()) {
      std::vector<std::string> keys = internal::SplitFields(d.Fields);
      if (keys.size() == wanted.size() && SameFieldList(keys, wanted, wanted.size())) {
        match = &d;
        break;
      }
    }
    if (match == nullptr) {
      for (const TIndexDef& d : IndexDefs().Items()) {
        if (!wanted.empty() && SameFieldList(internal::SplitFields(d.Fields), wanted, wanted.size())) {
          match = &d;
          break;
        }
      }
    }
    if (match == nullptr) RaiseLayerError(msg::kNotValidIndexFieldName + index_field_names_, this);
    tag = match->Name;
  } else if (!index_name_.empty()) {
    tag = index_name_ == msg::kDefaultIndex && !default_index_tag_.empty() ? default_index_tag_ : index_name_;
  }
  if (tag.empty()) {
    index_handle_ = 0;
    index_key_fields_.clear();
    return;
  }
  DBHANDLE ix = 0;
  Check(DbGetIndexHandle(handle_, tag.c_str(), &ix), this);
  index_handle_ = ix;
  const TIndexDef* def = IndexDefs().Find(tag);
  index_key_fields_ = def != nullptr ? internal::SplitFields(def->Fields) : std::vector<std::string>{};
}

void TDbDataSet::SetIndexFieldNames(const std::string& names) { ChangeIndex(internal::Trim(names), ""); }

void TDbDataSet::SetIndexName(const std::string& name) { ChangeIndex("", name); }

// One of the two is set, the other cleared; on an open dataset the order
// changes at once, and a failure leaves the earlier order in place.
void TDbDataSet::ChangeIndex(const std::string& field_names, const std::string& name) {
  std::string old_names = index_field_names_, old_name = index_name_;
  index_field_names_ = field_names;
  index_name_ = name;
  if (!Active()) return;
  try {
    CheckBrowseMode();
    SelectIndex();
  } catch (...) {
    index_field_names_ = old_names;
    index_name_ = old_name;
    throw;
  }
}

// --- filter ------------------------------------------------------------------------------

void TDbDataSet::ApplyFilter() {
  RemoveFilter();
  if (internal::Trim(filter_).empty()) return;
  if (options_.DbOptimizedFilters()) {
    Check(DbSetAOF(handle_, filter_.c_str(), kDynamicFilter), this);
    applied_filter_ = FilterKind::Optimized;
  } else {
    Check(DbSetFilter(handle_, filter_.c_str()), this);
    applied_filter_ = FilterKind::Plain;
  }
}

void TDbDataSet::RemoveFilter() {
  FilterKind applied = applied_filter_;
  applied_filter_ = FilterKind::None;
  if (applied == FilterKind::Optimized) Check(DbClearAOF(handle_), this);
  if (applied == FilterKind::Plain) Check(DbClearFilter(handle_), this);
}

void TDbDataSet::SetFilter(const std::string& filter) {
  filter_ = filter;
  if (Active() && filtered_) {
    CheckBrowseMode();
    ApplyFilter();
    First();
  }
}

void TDbDataSet::SetFiltered(bool filtered) {
  if (filtered == filtered_) return;
  filtered_ = filtered;
  if (!Active()) return;
  CheckBrowseMode();
  if (filtered) {
    ApplyFilter();
  } else {
    RemoveFilter();
  }
  First();
}

// --- navigation ------------------------------------------------------------------

// A pending edit is posted when it changed something, else cancelled.
void TDbDataSet::CheckBrowseMode() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  for (auto& f : fields_) {
    if (f->changed_) return Post();
  }
  Cancel();
}

void TDbDataSet::First() {
  CheckActive();
  CheckBrowseMode();
  record_stale_ = true;
  Check(DbGotoTop(Nav()), this);
}

void TDbDataSet::Next() {
  CheckActive();
  CheckBrowseMode();
  record_stale_ = true;
  Check(DbSkip(Nav(), 1), this);
}

void TDbDataSet::Prior() {
  CheckActive();
  CheckBrowseMode();
  record_stale_ = true;
  Check(DbSkip(Nav(), -1), this);
}

void TDbDataSet::Last() {
  CheckActive();
  CheckBrowseMode();
  record_stale_ = true;
  Check(DbGotoBottom(Nav()), this);
}

bool TDbDataSet::Eof() const {
  if (!Active()) return true;
  std::uint16_t eof = 0;
  Check(DbAtEOF(handle_, &eof), this);
  return eof != 0;
}

bool TDbDataSet::Bof() const {
  if (!Active()) return true;
  std::uint16_t bof = 0;
  Check(DbAtBOF(handle_, &bof), this);
  return bof != 0;
}

std::int64_t TDbDataSet::RecordCount() const {
  CheckActive();
  std::uint32_t n = 0;
  DBRESULT rc = DbGetRecordCount(handle_, DBE_COUNT_RESPECT_FILTERS, &n);
  if (rc == DBE_NO_ROW_COUNT) return -1;
  Check(rc, this);
  return n;
}

std::uint32_t TDbDataSet::RequireActiveIndex() const {
  CheckActive();
  if (index_handle_ == 0) RaiseLayerError(msg::kNoActiveIndex, this);
  return index_handle_;
}

// Key values for the active index: dates as Julian day numbers, times as
// milliseconds, date-times as the engine's millisecond count, logical
// values as "T" or "F".
void TDbDataSet::BuildKeys(const std::vector<TVariant>& values, KeyBuffer* out) const {
  out->texts.clear();
  out->texts.reserve(values.size());
  out->keys.clear();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const TVariant& v = values[i];
    std::uint16_t engine_type = 0;
    if (i < index_key_fields_.size()) {
      for (const auto& f : fields_) {
        if (internal::SameText(f->FieldName(), index_key_fields_[i])) engine_type = f->engine_type_;
      }
    }
    bool is_date = engine_type == DBE_FT_DATE || engine_type == DBE_FT_COMPACTDATE;
    bool is_time = engine_type == DBE_FT_TIME;
    bool is_stamp = engine_type == DBE_FT_TIMESTAMP || engine_type == DBE_FT_MODTIME;
    DBE_KEY_VALUE k{};
    k.kind = DBE_KEY_NULL;
    if (const auto* b = std::get_if<bool>(&v)) {
      out->texts.push_back(*b ? "T" : "F");
      k.kind = DBE_KEY_STRING;
    } else if (const auto* s = std::get_if<std::string>(&v)) {
      out->texts.push_back(*s);
      k.kind = DBE_KEY_STRING;
    } else if (std::holds_alternative<std::int64_t>(v) || std::holds_alternative<double>(v)) {
      double d = internal::ToFloat(v);
      internal::EngineMoment m = internal::ToEngineMoment(d);
      if (is_date) {
        k.kind = DBE_KEY_INTEGER;
        k.integer = m.julian_day;
      } else if (is_time) {
        k.kind = DBE_KEY_INTEGER;
        k.integer = m.ms;
      } else if (is_stamp) {
        k.kind = DBE_KEY_INTEGER;
        k.integer = m.julian_day * internal::kMsPerDay + m.ms;
      } else if (const auto* n = std::get_if<std::int64_t>(&v)) {
        k.kind = DBE_KEY_INTEGER;
        k.integer = *n;
      } else {
        k.kind = DBE_KEY_DOUBLE;
        k.number = d;
      }
    }
    if (k.kind == DBE_KEY_STRING) {
      k.text = out->texts.back().c_str();
      k.text_len = out->texts.back().size();
    }
    out->keys.push_back(k);
  }
}

void TDbDataSet::RestorePosition(std::uint32_t record, bool was_eof, bool was_bof) {
  if (was_eof) {
    Check(DbGotoBottom(Nav()), this);
  } else if (was_bof) {
    Check(DbGotoTop(Nav()), this);
  } else {
    Check(DbGotoRecord(handle_, record), this);
  }
}

bool TDbDataSet::FindKey(const std::vector<TVariant>& values) {
  DBHANDLE ix = RequireActiveIndex();
  CheckBrowseMode();
  std::uint32_t record = 0;
  std::uint16_t eof = 0, bof = 0;
  Check(DbGetRecordNum(handle_, &record), this);
  Check(DbAtEOF(handle_, &eof), this);
  Check(DbAtBOF(handle_, &bof), this);
  KeyBuffer keys;
  BuildKeys(values, &keys);
  std::uint16_t found = 0;
  record_stale_ = true;
  Check(DbSeek(ix, keys.keys.data(), static_cast<std::uint16_t>(keys.keys.size()), DBE_SEEK_EXACT, &found), this);
  if (found == 0) RestorePosition(record, eof != 0, bof != 0);
  return found != 0;
}

void TDbDataSet::FindNearest(const std::vector<TVariant>& values) {
  DBHANDLE ix = RequireActiveIndex();
  CheckBrowseMode();
  KeyBuffer keys;
  BuildKeys(values, &keys);
  std::uint16_t found = 0;
  record_stale_ = true;
  Check(DbSeek(ix, keys.keys.data(), static_cast<std::uint16_t>(keys.keys.size()), DBE_SEEK_SOFT, &found), this);
}

void TDbDataSet::SetRange(const std::vector<TVariant>& low, const std::vector<TVariant>& high) {
  DBHANDLE ix = RequireActiveIndex();
  CheckBrowseMode();
  KeyBuffer low_keys, high_keys;
  BuildKeys(low, &low_keys);
  BuildKeys(high, &high_keys);
  Check(DbSetScope(ix, DBE_SCOPE_TOP, low_keys.keys.data(), static_cast<std::uint16_t>(low_keys.keys.size())), this);
  Check(DbSetScope(ix, DBE_SCOPE_BOTTOM, high_keys.keys.data(), static_cast<std::uint16_t>(high_keys.keys.size())),
        this);
  First();
}

bool TDbDataSet::Locate(const std::string& fields, const std::vector<TVariant>& values, TLocateOptions options) {
  CheckActive();
  CheckBrowseMode();
  std::vector<std::string> names = internal::SplitFields(fields);
  if (names.size() != values.size()) RaiseLayerError(msg::kLocateValueCount, this);
  // Text fields compare as text (an empty value as ""), other fields by
  // value, null only with null.
  std::vector<TField*> located;
  std::vector<TVariant> wanted;
  for (std::size_t i = 0; i < names.size(); ++i) {
    TField& f = FieldByName(names[i]);
    located.push_back(&f);
    bool text = internal::KindOf(f.DataType()) == internal::ValueKind::Text;
    wanted.push_back(text ? TVariant(internal::ToText(values[i], f.DataType())) : internal::Normalise(values[i], f.DataType()));
  }
  bool case_insensitive = options.Contains(loCaseInsensitive);
  bool partial = options.Contains(loPartialKey);
  auto matches = [&]() {
    for (std::size_t i = 0; i < located.size(); ++i) {
      TVariant have = located[i]->Value();
      if (const auto* w = std::get_if<std::string>(&wanted[i])) {
        std::string a = internal::ToText(have, located[i]->DataType());
        std::string b = *w;
        if (case_insensitive) {
          a = internal::Upper(a);
          b = internal::Upper(b);
        }
        if (partial ? a.compare(0, b.size(), b) != 0 : a != b) return false;
      } else if (VarIsNull(have) || VarIsNull(wanted[i])) {
        if (VarIsNull(have) != VarIsNull(wanted[i])) return false;
      } else if (internal::ToFloat(have) != internal::ToFloat(wanted[i])) {
        return false;
      }
    }
    return true;
  };
  std::uint32_t record = 0;
  std::uint16_t eof = 0, bof = 0;
  Check(DbGetRecordNum(handle_, &record), this);
  Check(DbAtEOF(handle_, &eof), this);
  Check(DbAtBOF(handle_, &bof), this);
  First();
  while (!Eof()) {
    if (matches()) return true;
    Next();
  }
  record_stale_ = true;
  RestorePosition(record, eof != 0, bof != 0);
  return false;
}

// --- rows ----------------------------------------------------------------------------

void TDbDataSet::ClearChanges() {
  for (auto& f : fields_) {
    f->changed_ = false;
    f->new_value_ = std::monostate{};
  }
}

void TDbDataSet::CheckEditing() const {
  if (state_ != dsEdit && state_ != dsInsert) RaiseLayerError(msg::kNotEditing, this);
}

void TDbDataSet::Append() {
  CheckActive();
  CheckBrowseMode();
  ClearChanges();
  state_ = dsInsert;
}

void TDbDataSet::Edit() {
  CheckActive();
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (!can_modify_) RaiseLayerError(msg::kStaticView, this);
  if (!OpenedExclusive()) {
    DBRESULT rc = DbLockRecord(handle_, 0);
    if (rc == DBE_STATIC_CURSOR) RaiseLayerError(msg::kStaticView, this);
    Check(rc, this);
    row_locked_ = true;
  }
  Check(DbGetRecordNum(handle_, &edit_record_), this);
  ClearChanges();
  state_ = dsEdit;
}

// Only changed fields are written: text of blanks as empty (unless spaces
// are preserved), memo and binary values as blobs, every other type in its
// record form.
void TDbDataSet::WriteChangedFields() {
  for (auto& field : fields_) {
    TField& f = *field;
    if (!f.changed_) continue;
    const char* ord = Ordinal(f.index_);
    const TVariant& v = f.new_value_;
    if (VarIsNull(v)) {
      Check(DbSetEmpty(handle_, ord), this);
      continue;
    }
    switch (f.engine_type_) {
      case DBE_FT_STRING:
      case DBE_FT_CISTRING: {
        std::string text = internal::ToText(v, f.type_);
        if (text.find_first_not_of(' ') == std::string::npos && !options_.DbPreserveSpaces()) {
          Check(DbSetEmpty(handle_, ord), this);
        } else {
          Check(DbSetField(handle_, ord, text.data(), static_cast<std::uint32_t>(text.size())), this);
        }
        continue;
      }
      case DBE_FT_MEMO:
      case DBE_FT_VARCHAR:
      case DBE_FT_BINARY:
      case DBE_FT_IMAGE: {
        std::string bytes = internal::ToText(v, f.type_);
        Check(DbSetBinary(handle_, ord, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                          static_cast<std::uint32_t>(bytes.size())),
              this);
        continue;
      }
      case DBE_FT_NUMERIC: {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%*.*f", static_cast<int>(f.length_), static_cast<int>(f.decimals_),
                      internal::ToFloat(v));
        std::size_t n = std::strlen(buf);
        if (n == f.length_) {
          Check(DbSetFieldRaw(handle_, ord, reinterpret_cast<const std::uint8_t*>(buf), f.length_), this);
        } else {
          // Too wide for the field: the engine refuses it with its own text.
          Check(DbSetField(handle_, ord, buf, static_cast<std::uint32_t>(n)), this);
        }
        continue;
      }
      default: break;
    }
    std::vector<std::uint8_t> raw;
    auto moment = [&v] { return internal::ToEngineMoment(internal::ToDateTime(v)); };
    switch (f.engine_type_) {
      case DBE_FT_LOGICAL: raw = {static_cast<std::uint8_t>(internal::ToBoolean(v) ? 'T' : 'F')}; break;
      case DBE_FT_DATE:
      case DBE_FT_COMPACTDATE: raw = LittleEndian(static_cast<std::int32_t>(moment().julian_day)); break;
      case DBE_FT_TIME: raw = LittleEndian(static_cast<std::int32_t>(moment().ms)); break;
      case DBE_FT_TIMESTAMP:
      case DBE_FT_MODTIME: {
        internal::EngineMoment m = moment();
        raw = LittleEndian(m.julian_day * internal::kMsPerDay + m.ms);
        break;
      }
      case DBE_FT_DOUBLE:
      case DBE_FT_CURDOUBLE: raw = LittleEndian(internal::ToFloat(v)); break;
      case DBE_FT_MONEY: raw = LittleEndian(static_cast<std::int64_t>(std::llround(internal::ToFloat(v) * 10000.0))); break;
      case DBE_FT_INTEGER:
      case DBE_FT_SHORTINT:
      case DBE_FT_AUTOINC: {
        std::int64_t n = internal::ToInteger(v);
        bool fits = f.engine_type_ == DBE_FT_INTEGER   ? n >= INT32_MIN && n <= INT32_MAX
                    : f.engine_type_ == DBE_FT_SHORTINT ? n >= INT16_MIN && n <= INT16_MAX
                                                        : n >= 0 && n <= UINT32_MAX;
        if (!fits) RaiseLayerError(msg::kNotValidValueBefore + std::to_string(n) + msg::kNotValidInteger, this);
        if (f.engine_type_ == DBE_FT_SHORTINT) {
          raw = LittleEndian(static_cast<std::int16_t>(n));
        } else if (f.engine_type_ == DBE_FT_INTEGER) {
          raw = LittleEndian(static_cast<std::int32_t>(n));
        } else {
          raw = LittleEndian(static_cast<std::uint32_t>(n));
        }
        break;
      }
      case DBE_FT_ROWVERSION: raw = LittleEndian(static_cast<std::uint64_t>(internal::ToInteger(v))); break;
      case DBE_FT_RAW: {
        std::string bytes = internal::ToText(v, f.type_);
        raw.assign(f.length_, 0);
        std::memcpy(raw.data(), bytes.data(), std::min<std::size_t>(bytes.size(), f.length_));
        break;
      }
      default: break;
    }
    Check(DbSetFieldRaw(handle_, ord, raw.data(), static_cast<std::uint32_t>(raw.size())), this);
  }
}

void TDbDataSet::Post() {
  CheckActive();
  CheckEditing();
  try {
    if (state_ == dsInsert) {
      Check(DbAppendRecord(handle_), this);
    } else {
      Check(DbGotoRecord(handle_, edit_record_), this);
    }
    WriteChangedFields();
    Check(DbWriteRecord(handle_), this);
  } catch (const DbError& e) {
    DbCancelUpdate(handle_);  // the row stays in the editing state here, not in the engine
    record_stale_ = true;
    if (on_post_error_) on_post_error_(*this, e);
    throw;
  }
  record_stale_ = true;
  bool unlock = state_ == dsEdit && row_locked_;
  state_ = dsBrowse;
  row_locked_ = false;
  ClearChanges();
  if (unlock) Check(DbUnlockRecord(handle_, 0), this);
}

void TDbDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  bool unlock = state_ == dsEdit && row_locked_;
  state_ = dsBrowse;
  row_locked_ = false;
  ClearChanges();
  record_stale_ = true;
  if (unlock) Check(DbUnlockRecord(handle_, 0), this);
}

void TDbDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert) return Cancel();
  Cancel();
  record_stale_ = true;
  auto check_or_cancel = [this](DBRESULT rc) {
    if (rc == DBE_SUCCESS) return;
    std::optional<EDbEngineError> e = internal::EngineError(rc, this);
    DbCancelUpdate(handle_);
    if (e) throw *e;
  };
  check_or_cancel(DbDeleteRecord(handle_));
  check_or_cancel(DbWriteRecord(handle_));
  std::uint16_t shown = 0;
  Check(DbGetDeleted(&shown), this);
  if (shown == 0) Check(DbSkip(Nav(), 1), this);
}

}  // namespace kx8::dbaccess
