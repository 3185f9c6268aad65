#include "dbaccess/db_field.h"

#include <cmath>
#include <cstring>

#include "dbaccess/db_dataset.h"
#include "dbaccess/db_messages.h"
#include "dbaccess/engine_call.h"
#include "dbaccess/value_convert.h"
#include "dbe/dbe.h"

namespace kx8::dbaccess {

namespace {

template <typename T>
T ReadLE(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v |= std::uint64_t{p[i]} << (8 * i);
  T out;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&out, &v, sizeof out);
  } else {
    auto narrow = static_cast<std::make_unsigned_t<T>>(v);
    std::memcpy(&out, &narrow, sizeof out);
  }
  return out;
}

bool IsBlob(std::uint16_t engine_type) {
  return engine_type == DBE_FT_MEMO || engine_type == DBE_FT_BINARY || engine_type == DBE_FT_IMAGE ||
         engine_type == DBE_FT_VARCHAR;
}

// A numeric field's text: an integer for ftSmallint, a number for ftFloat;
// a text that does not convert leaves the value at 0.
TVariant NumericValue(std::string_view raw, TFieldType type) {
  std::optional<double> d = internal::ParseFloat(raw);
  if (type == ftSmallint) {
    if (std::optional<std::int64_t> i = internal::ParseInteger(raw)) return *i;
    return d ? static_cast<std::int64_t>(*d) : std::int64_t{0};
  }
  return d ? *d : 0.0;
}

}  // namespace

int TField::DataSize() const {
  switch (type_) {
    case ftString: return size_ + 1;
    case ftBytes: return size_;
    case ftMemo:
    case ftBlob: return 0;
    default: return static_cast<int>(width_);
  }
}

TVariant TField::Value() const {
  TDataSetState state = ds_->State();
  if ((state == dsEdit || state == dsInsert) && changed_) return new_value_;
  if (state == dsInsert) return std::monostate{};
  if (IsBlob(engine_type_)) {
    if (ds_->BlobIsEmpty(*this)) return std::monostate{};
    return ds_->BlobValue(*this);
  }
  const std::vector<std::uint8_t>& rec = ds_->CurrentRecord();
  if (rec.size() < offset_ + width_ || rec.size() < 1 + static_cast<std::size_t>(index_) / 8 + 1) {
    return std::monostate{};
  }
  if ((rec[1 + static_cast<std::size_t>(index_) / 8] >> (index_ % 8)) & 1) return std::monostate{};
  const std::uint8_t* p = rec.data() + offset_;
  std::string_view raw(reinterpret_cast<const char*>(p), width_);
  switch (engine_type_) {
    case DBE_FT_LOGICAL: return internal::LogicalFromChar(raw[0]);
    case DBE_FT_NUMERIC: return NumericValue(raw, type_);
    case DBE_FT_DATE:
    case DBE_FT_COMPACTDATE: return internal::FromEngineMoment(ReadLE<std::int32_t>(p), 0);
    case DBE_FT_STRING:
    case DBE_FT_CISTRING: return internal::TrimRight(raw);
    case DBE_FT_DOUBLE:
    case DBE_FT_CURDOUBLE: return ReadLE<double>(p);
    case DBE_FT_INTEGER: return std::int64_t{ReadLE<std::int32_t>(p)};
    case DBE_FT_SHORTINT: return std::int64_t{ReadLE<std::int16_t>(p)};
    case DBE_FT_AUTOINC: return std::int64_t{ReadLE<std::uint32_t>(p)};
    case DBE_FT_ROWVERSION: return static_cast<std::int64_t>(ReadLE<std::uint64_t>(p));
    case DBE_FT_TIME: return internal::FromEngineMoment(internal::kJulianOffset, ReadLE<std::int32_t>(p));
    case DBE_FT_TIMESTAMP:
    case DBE_FT_MODTIME: {
      std::int64_t v = ReadLE<std::int64_t>(p);
      std::int64_t day = v / internal::kMsPerDay;
      std::int64_t ms = v % internal::kMsPerDay;
      if (ms < 0) {
        ms += internal::kMsPerDay;
        day -= 1;
      }
      return internal::FromEngineMoment(day, ms);
    }
    case DBE_FT_RAW: return std::string(raw);
    case DBE_FT_MONEY: return static_cast<double>(ReadLE<std::int64_t>(p)) / 10000.0;
    default: return std::monostate{};
  }
}

bool TField::IsNull() const { return VarIsNull(Value()); }
std::string TField::AsString() const { return internal::ToText(Value(), type_); }
std::int64_t TField::AsInteger() const { return internal::ToInteger(Value()); }
double TField::AsFloat() const { return internal::ToFloat(Value()); }
double TField::AsCurrency() const { return std::round(AsFloat() * 10000.0) / 10000.0; }
double TField::AsDateTime() const { return internal::ToDateTime(Value()); }
bool TField::AsBoolean() const { return internal::ToBoolean(Value()); }
TVariant TField::AsVariant() const { return Value(); }

void TField::Set(const TVariant& v) {
  ds_->CheckEditing();
  new_value_ = internal::Normalise(v, type_);
  changed_ = true;
}

void TField::SetAsString(const std::string& v) { Set(v); }
void TField::SetAsInteger(std::int64_t v) { Set(v); }
void TField::SetAsFloat(double v) { Set(v); }
void TField::SetAsCurrency(double v) { Set(std::round(v * 10000.0) / 10000.0); }
void TField::SetAsDateTime(double v) { Set(v); }
void TField::SetAsBoolean(bool v) { Set(v); }
void TField::SetAsVariant(const TVariant& v) { Set(v); }
void TField::Clear() { Set(std::monostate{}); }

}  // namespace kx8::dbaccess
