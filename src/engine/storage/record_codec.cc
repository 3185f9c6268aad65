#include "storage/record_codec.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/date.h"
#include "core/error.h"
#include "core/text.h"
#include "dbe/dbe.h"
#include "storage/bytes.h"

namespace dbe {

bool LogicalFromChar(char c) { return c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == '1'; }

void FailColumnValue(const Field& f, std::string_view why, const std::string& table_file) {
  Fail(DBE_COLUMN_VALUE, "Error 5148: " + std::string(why) + " for column \"" + f.name + "\". File: " +
                             table_file);
}

std::optional<int64_t> ParseMoney(std::string_view t) {
  t = Trim(t);
  if (t.empty()) return std::nullopt;
  bool neg = false;
  if (t[0] == '-' || t[0] == '+') {
    neg = t[0] == '-';
    t.remove_prefix(1);
  }
  if (t.find_first_of("eE") != std::string_view::npos) {
    auto d = ParseDouble(t);
    if (!d) return std::nullopt;
    double scaled = std::round(*d * 10000.0);
    if (std::fabs(scaled) > 9.2e18) return std::nullopt;
    return neg ? -static_cast<int64_t>(scaled) : static_cast<int64_t>(scaled);
  }
  size_t point = t.find('.');
  std::string_view whole = t.substr(0, point);
  std::string_view frac = point == std::string_view::npos ? std::string_view() : t.substr(point + 1);
  if (whole.empty() && frac.empty()) return std::nullopt;
  int64_t v = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return std::nullopt;
    if (v > (INT64_MAX - 9) / 10 / 10000) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  v *= 10000;
  int64_t f = 0;
  for (size_t i = 0; i < frac.size(); ++i) {
    char c = frac[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (i < 4) {
      f = f * 10 + (c - '0');
    } else if (i == 4 && c >= '5') {
      f += 1;  // round half away from zero on the fifth decimal
    }
  }
  for (size_t i = frac.size(); i < 4; ++i) f *= 10;
  v += f;
  return neg ? -v : v;
}

std::string MoneyText(int64_t m) {
  bool neg = m < 0;
  uint64_t u = neg ? 0 - static_cast<uint64_t>(m) : static_cast<uint64_t>(m);
  std::string s = std::to_string(u / 10000);
  uint64_t frac = u % 10000;
  if (frac != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(frac));
    std::string fs = buf;
    while (!fs.empty() && fs.back() == '0') fs.pop_back();
    s += "." + fs;
  }
  return neg ? "-" + s : s;
}

std::optional<double> ParseDouble(std::string_view t) {
  t = Trim(t);
  if (t.empty()) return std::nullopt;
  if (t[0] == '+') t.remove_prefix(1);
  double v = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  return v;
}

std::string DoubleText(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

namespace {

std::optional<int64_t> ParseInteger(std::string_view t) {
  auto d = ParseMoney(t);  // accepts "12", "12.0", "-3"
  if (!d || *d % 10000 != 0) return std::nullopt;
  return *d / 10000;
}

// Numeric fields hold their value as right-aligned text with fixed decimals.
void WriteNumeric(const Field& f, uint8_t* p, double v, const std::string& table_file) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%*.*f", int(f.length), int(f.decimals), v);
  if (std::strlen(buf) > f.length) FailColumnValue(f, "The value does not fit", table_file);
  std::memcpy(p, buf, f.length);
}

int64_t RoundToMoney(double v) { return static_cast<int64_t>(std::llround(v * 10000.0)); }

}  // namespace

Value ReadFieldValue(const Field& f, uint32_t index, const uint8_t* rec) {
  if (IsNullBit(rec, index)) return Value::Null();
  const uint8_t* p = rec + f.offset;
  switch (f.type) {
    case DBE_FT_LOGICAL: return Value::Bool(LogicalFromChar(char(p[0])));
    case DBE_FT_NUMERIC: {
      auto d = ParseDouble(std::string_view(reinterpret_cast<const char*>(p), f.length));
      if (!d) return Value::Null();
      return f.decimals == 0 ? Value::Int(static_cast<int64_t>(*d)) : Value::Double(*d);
    }
    case DBE_FT_DATE: case DBE_FT_COMPACTDATE: return Value::Date(GetI32(p));
    case DBE_FT_STRING: case DBE_FT_CISTRING:
      return Value::String(std::string(TrimRightBlanks(std::string_view(reinterpret_cast<const char*>(p), f.length))));
    case DBE_FT_RAW: return Value::Binary(std::string(reinterpret_cast<const char*>(p), f.length));
    case DBE_FT_DOUBLE: case DBE_FT_CURDOUBLE: return Value::Double(GetF64(p));
    case DBE_FT_INTEGER: return Value::Int(GetI32(p));
    case DBE_FT_AUTOINC: return Value::Int(GetU32(p));
    case DBE_FT_SHORTINT: return Value::Int(static_cast<int16_t>(GetU16(p)));
    case DBE_FT_TIME: return Value::Time(GetI32(p));
    case DBE_FT_TIMESTAMP: case DBE_FT_MODTIME: return Value::Timestamp(GetI64(p));
    case DBE_FT_MONEY: return Value::Money(GetI64(p));
    case DBE_FT_ROWVERSION: return Value::Int(GetI64(p));
    default: return Value::Null();
  }
}

std::string ReadFieldText(const Field& f, uint32_t index, const uint8_t* rec) {
  Value v = ReadFieldValue(f, index, rec);
  switch (v.kind) {
    case ValueKind::Null: return {};
    case ValueKind::Bool: return v.b ? "T" : "F";
    case ValueKind::Int: return std::to_string(v.i);
    case ValueKind::Double:
      if (f.type == DBE_FT_NUMERIC) {
        return std::string(Trim(std::string_view(reinterpret_cast<const char*>(rec + f.offset), f.length)));
      }
      return DoubleText(v.d);
    case ValueKind::Money: return MoneyText(v.i);
    case ValueKind::String: case ValueKind::Binary: return v.s;
    case ValueKind::Date: return DateText(v.i);
    case ValueKind::Time: return TimeText(v.i);
    case ValueKind::Timestamp: return TimestampText(v.i);
  }
  return {};
}

void WriteFieldEmpty(const Field& f, uint32_t index, uint8_t* rec) {
  SetNullBit(rec, index, true);
  std::memset(rec + f.offset, IsCharType(f.type) || f.type == DBE_FT_NUMERIC ? ' ' : 0, f.width);
}

void WriteFieldText(const Field& f, uint32_t index, uint8_t* rec, std::string_view text,
                    const std::string& table_file) {
  uint8_t* p = rec + f.offset;
  if (IsCharType(f.type)) {
    size_t n = std::min<size_t>(text.size(), f.length);
    std::string_view kept = TrimRightBlanks(text.substr(0, n));
    if (kept.empty()) return WriteFieldEmpty(f, index, rec);
    std::memset(p, ' ', f.length);
    std::memcpy(p, kept.data(), kept.size());
    SetNullBit(rec, index, false);
    return;
  }
  if (f.type == DBE_FT_RAW) {
    std::memset(p, 0, f.length);
    std::memcpy(p, text.data(), std::min<size_t>(text.size(), f.length));
    SetNullBit(rec, index, text.empty());
    return;
  }
  std::string_view t = Trim(text);
  if (t.empty()) return WriteFieldEmpty(f, index, rec);
  switch (f.type) {
    case DBE_FT_LOGICAL:
      p[0] = LogicalFromChar(t[0]) ? 'T' : 'F';
      break;
    case DBE_FT_NUMERIC: {
      auto d = ParseDouble(t);
      if (!d) FailColumnValue(f, "The text is not a number", table_file);
      WriteNumeric(f, p, *d, table_file);
      break;
    }
    case DBE_FT_DATE: case DBE_FT_COMPACTDATE: {
      auto d = ParseDateText(t);
      if (!d) FailColumnValue(f, "The text is not a date", table_file);
      PutI32(p, static_cast<int32_t>(*d));
      break;
    }
    case DBE_FT_DOUBLE: case DBE_FT_CURDOUBLE: {
      auto d = ParseDouble(t);
      if (!d) FailColumnValue(f, "The text is not a number", table_file);
      PutF64(p, *d);
      break;
    }
    case DBE_FT_INTEGER: case DBE_FT_AUTOINC: case DBE_FT_SHORTINT: {
      auto i = ParseInteger(t);
      int64_t lo = f.type == DBE_FT_SHORTINT ? INT16_MIN : (f.type == DBE_FT_AUTOINC ? 0 : INT32_MIN);
      int64_t hi = f.type == DBE_FT_SHORTINT ? INT16_MAX : (f.type == DBE_FT_AUTOINC ? UINT32_MAX : INT32_MAX);
      if (!i) FailColumnValue(f, "The text is not a whole number", table_file);
      if (*i < lo || *i > hi) FailColumnValue(f, "The value does not fit", table_file);
      if (f.type == DBE_FT_SHORTINT) PutU16(p, static_cast<uint16_t>(*i));
      else PutU32(p, static_cast<uint32_t>(*i));
      break;
    }
    case DBE_FT_TIME: {
      auto ms = ParseTimeText(t);
      if (!ms) FailColumnValue(f, "The text is not a time", table_file);
      PutI32(p, static_cast<int32_t>(*ms));
      break;
    }
    case DBE_FT_TIMESTAMP: {
      auto ts = ParseTimestampText(t);
      if (!ts) FailColumnValue(f, "The text is not a time stamp", table_file);
      PutI64(p, *ts);
      break;
    }
    case DBE_FT_MONEY: {
      auto m = ParseMoney(t);
      if (!m) FailColumnValue(f, "The text is not a number", table_file);
      PutI64(p, *m);
      break;
    }
    default:
      FailColumnValue(f, "The field cannot be set", table_file);
  }
  SetNullBit(rec, index, false);
}

void WriteFieldValue(const Field& f, uint32_t index, uint8_t* rec, const Value& v,
                     const std::string& table_file) {
  uint8_t* p = rec + f.offset;
  auto as_double = [&]() -> double {
    switch (v.kind) {
      case ValueKind::Int: case ValueKind::Date: case ValueKind::Time: case ValueKind::Timestamp:
        return double(v.i);
      case ValueKind::Money: return double(v.i) / 10000.0;
      case ValueKind::Double: return v.d;
      case ValueKind::Bool: return v.b ? 1 : 0;
      default: {
        auto d = ParseDouble(v.s);
        if (!d) FailColumnValue(f, "The value is not a number", table_file);
        return *d;
      }
    }
  };
  switch (v.kind) {
    case ValueKind::Null: return WriteFieldEmpty(f, index, rec);
    case ValueKind::String: case ValueKind::Binary:
      return WriteFieldText(f, index, rec, v.s, table_file);
    default: break;
  }
  switch (f.type) {
    case DBE_FT_STRING: case DBE_FT_CISTRING: case DBE_FT_RAW: {
      std::string text;
      switch (v.kind) {
        case ValueKind::Bool: text = v.b ? "T" : "F"; break;
        case ValueKind::Int: text = std::to_string(v.i); break;
        case ValueKind::Double: text = DoubleText(v.d); break;
        case ValueKind::Money: text = MoneyText(v.i); break;
        case ValueKind::Date: text = DateText(v.i); break;
        case ValueKind::Time: text = TimeText(v.i); break;
        case ValueKind::Timestamp: text = TimestampText(v.i); break;
        default: break;
      }
      return WriteFieldText(f, index, rec, text, table_file);
    }
    case DBE_FT_LOGICAL:
      if (v.kind == ValueKind::Bool) p[0] = v.b ? 'T' : 'F';
      else p[0] = as_double() != 0 ? 'T' : 'F';
      break;
    case DBE_FT_NUMERIC: WriteNumeric(f, p, as_double(), table_file); break;
    case DBE_FT_DATE: case DBE_FT_COMPACTDATE:
      if (v.kind == ValueKind::Timestamp) PutI32(p, static_cast<int32_t>(v.i / kMsPerDay));
      else if (v.kind == ValueKind::Date || v.kind == ValueKind::Int) PutI32(p, static_cast<int32_t>(v.i));
      else FailColumnValue(f, "The value is not a date", table_file);
      break;
    case DBE_FT_DOUBLE: case DBE_FT_CURDOUBLE: PutF64(p, as_double()); break;
    case DBE_FT_INTEGER: case DBE_FT_AUTOINC: case DBE_FT_SHORTINT: {
      double d = as_double();
      int64_t i = v.kind == ValueKind::Int ? v.i : static_cast<int64_t>(std::llround(d));
      if (v.kind == ValueKind::Money) i = v.i >= 0 ? (v.i + 5000) / 10000 : (v.i - 5000) / 10000;
      int64_t lo = f.type == DBE_FT_SHORTINT ? INT16_MIN : (f.type == DBE_FT_AUTOINC ? 0 : INT32_MIN);
      int64_t hi = f.type == DBE_FT_SHORTINT ? INT16_MAX : (f.type == DBE_FT_AUTOINC ? UINT32_MAX : INT32_MAX);
      if (i < lo || i > hi) FailColumnValue(f, "The value does not fit", table_file);
      if (f.type == DBE_FT_SHORTINT) PutU16(p, static_cast<uint16_t>(i));
      else PutU32(p, static_cast<uint32_t>(i));
      break;
    }
    case DBE_FT_TIME:
      if (v.kind == ValueKind::Timestamp) PutI32(p, static_cast<int32_t>(v.i % kMsPerDay));
      else PutI32(p, static_cast<int32_t>(v.kind == ValueKind::Time || v.kind == ValueKind::Int ? v.i : 0));
      break;
    case DBE_FT_TIMESTAMP: case DBE_FT_MODTIME:
      if (v.kind == ValueKind::Date) PutI64(p, v.i * kMsPerDay);
      else if (v.kind == ValueKind::Timestamp) PutI64(p, v.i);
      else FailColumnValue(f, "The value is not a time stamp", table_file);
      break;
    case DBE_FT_MONEY:
      PutI64(p, v.kind == ValueKind::Money ? v.i
                : v.kind == ValueKind::Int ? v.i * 10000 : RoundToMoney(as_double()));
      break;
    case DBE_FT_ROWVERSION: PutI64(p, static_cast<int64_t>(as_double())); break;
    default: FailColumnValue(f, "The field cannot be set", table_file);
  }
  SetNullBit(rec, index, false);
}

void WriteFieldRaw(const Field& f, uint32_t index, uint8_t* rec, const uint8_t* raw, uint32_t len,
                   const std::string& table_file) {
  if (IsBlobType(f.type)) FailColumnValue(f, "A memo or binary field has no raw form", table_file);
  if (IsCharType(f.type)) {
    return WriteFieldText(f, index, rec, std::string_view(reinterpret_cast<const char*>(raw), len),
                          table_file);
  }
  if (len != f.width) FailColumnValue(f, "The raw value has the wrong length", table_file);
  std::memcpy(rec + f.offset, raw, len);
  SetNullBit(rec, index, false);
}

}  // namespace dbe
