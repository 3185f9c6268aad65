#include "index/key.h"

#include <cmath>
#include <cstring>

#include "core/date.h"
#include "core/error.h"
#include "core/text.h"
#include "storage/bytes.h"
#include "storage/record_codec.h"

namespace dbe {
namespace {

// Width of a field's key encoding: character and raw fields as they stand,
// everything else behind a one-byte marker (0 empty, 1 value).
uint32_t KeyWidth(const Field& f) {
  switch (f.type) {
    case DBE_FT_STRING: case DBE_FT_CISTRING: case DBE_FT_RAW: return f.length;
    case DBE_FT_LOGICAL: return 2;
    case DBE_FT_DATE: case DBE_FT_COMPACTDATE: case DBE_FT_INTEGER: case DBE_FT_SHORTINT:
    case DBE_FT_AUTOINC: case DBE_FT_TIME:
      return 5;
    case DBE_FT_NUMERIC: case DBE_FT_DOUBLE: case DBE_FT_CURDOUBLE: case DBE_FT_TIMESTAMP:
    case DBE_FT_MODTIME: case DBE_FT_MONEY: case DBE_FT_ROWVERSION:
      return 9;
    default: return 0;
  }
}

void EncodeNumber(const Field& f, double d, int64_t i, bool use_int, uint8_t* out) {
  out[0] = 1;
  switch (f.type) {
    case DBE_FT_DATE: case DBE_FT_COMPACTDATE: case DBE_FT_INTEGER: case DBE_FT_SHORTINT:
    case DBE_FT_TIME: {
      int64_t v = use_int ? i : static_cast<int64_t>(std::floor(d));
      if (v > INT32_MAX) v = INT32_MAX;
      if (v < INT32_MIN) v = INT32_MIN;
      PutKeyI32(out + 1, static_cast<int32_t>(v));
      break;
    }
    case DBE_FT_AUTOINC: {
      int64_t v = use_int ? i : static_cast<int64_t>(std::floor(d));
      if (v < 0) v = 0;
      if (v > UINT32_MAX) v = UINT32_MAX;
      PutKeyU32(out + 1, static_cast<uint32_t>(v));
      break;
    }
    case DBE_FT_NUMERIC: case DBE_FT_DOUBLE: case DBE_FT_CURDOUBLE:
      PutKeyF64(out + 1, use_int ? double(i) : d);
      break;
    case DBE_FT_MONEY:
      PutKeyI64(out + 1, use_int ? i * 10000 : static_cast<int64_t>(std::llround(d * 10000.0)));
      break;
    default:
      PutKeyI64(out + 1, use_int ? i : static_cast<int64_t>(d));
      break;
  }
}

}  // namespace

KeyDef::KeyDef(const Layout& layout, const std::string& expr, bool descending,
               const std::string& table_file)
    : descending_(descending) {
  std::string e = expr;
  for (char& c : e) {
    if (c == '+') c = ';';
  }
  for (std::string_view name : Split(e, ';')) {
    name = Trim(name);
    if (name.empty()) continue;
    int idx = layout.Find(name);
    if (idx < 0) {
      Fail(DBE_COLUMN_NOT_FOUND, "Error 5147: The index key names an unknown column \"" + std::string(name) +
                                     "\". File: " + table_file);
    }
    const Field& f = layout.fields[idx];
    uint32_t w = KeyWidth(f);
    if (w == 0) {
      Fail(DBE_KEY_NOT_INDEXABLE, "Error 5070: The column \"" + f.name +
                                      "\" cannot be part of an index key. File: " + table_file);
    }
    parts_.push_back(KeyPart{idx, key_width_, w});
    key_width_ += w;
  }
  if (parts_.empty()) {
    Fail(DBE_INVALID_ARGUMENT, "Error 5012: The index key expression is empty. File: " + table_file);
  }
}

void KeyDef::EncodeEntry(const Layout& layout, const uint8_t* rec, uint32_t recno, uint8_t* out) const {
  for (const KeyPart& kp : parts_) {
    const Field& f = layout.fields[kp.field];
    uint8_t* o = out + kp.offset;
    const uint8_t* p = rec + f.offset;
    bool is_null = IsNullBit(rec, kp.field);
    switch (f.type) {
      case DBE_FT_STRING: case DBE_FT_RAW:
        if (is_null) std::memset(o, f.type == DBE_FT_RAW ? 0 : ' ', kp.width);
        else std::memcpy(o, p, kp.width);
        break;
      case DBE_FT_CISTRING:
        if (is_null) {
          std::memset(o, ' ', kp.width);
        } else {
          for (uint32_t i = 0; i < kp.width; ++i) o[i] = uint8_t(AsciiUpper(char(p[i])));
        }
        break;
      case DBE_FT_LOGICAL:
        o[0] = is_null ? 0 : 1;
        o[1] = is_null ? 0 : (LogicalFromChar(char(p[0])) ? 'T' : 'F');
        break;
      default:
        if (is_null) {
          std::memset(o, 0, kp.width);
        } else {
          Value v = ReadFieldValue(f, uint32_t(kp.field), rec);
          if (v.is_null()) {
            std::memset(o, 0, kp.width);
          } else if (v.kind == ValueKind::Double) {
            EncodeNumber(f, v.d, 0, false, o);
          } else {
            o[0] = 1;
            if (f.type == DBE_FT_MONEY) PutKeyI64(o + 1, v.i);
            else EncodeNumber(f, 0, v.i, true, o);
          }
        }
        break;
    }
  }
  if (descending_) {
    for (uint32_t i = 0; i < key_width_; ++i) out[i] = uint8_t(~out[i]);
  }
  PutKeyU32(out + key_width_, recno);
}

std::string KeyDef::EncodeSeekKey(const Layout& layout, const DBE_KEY_VALUE* values, uint16_t count,
                                  bool partial_last, const std::string& table_file) const {
  if (count > parts_.size()) {
    Fail(DBE_INVALID_ARGUMENT, "Error 5012: More key values were given than the index has fields. File: " +
                                   table_file);
  }
  std::string key;
  for (uint16_t k = 0; k < count; ++k) {
    const KeyPart& kp = parts_[k];
    const Field& f = layout.fields[kp.field];
    const DBE_KEY_VALUE& v = values[k];
    std::string part(kp.width, '\0');
    auto* o = reinterpret_cast<uint8_t*>(part.data());
    bool last = k + 1 == count;
    if (f.type == DBE_FT_STRING || f.type == DBE_FT_CISTRING || f.type == DBE_FT_RAW) {
      std::string text;
      if (v.kind == DBE_KEY_STRING) text.assign(v.text ? v.text : "", v.text ? v.text_len : 0);
      else if (v.kind == DBE_KEY_INTEGER) text = std::to_string(v.integer);
      else if (v.kind == DBE_KEY_DOUBLE) text = DoubleText(v.number);
      if (text.size() > kp.width) text.resize(kp.width);
      if (f.type == DBE_FT_CISTRING) text = Upper(text);
      if (last && partial_last) {
        part = text;  // prefix
      } else {
        std::memset(o, f.type == DBE_FT_RAW ? 0 : ' ', kp.width);
        std::memcpy(o, text.data(), text.size());
      }
    } else if (v.kind == DBE_KEY_NULL) {
      // marker 0 and zeros
    } else if (f.type == DBE_FT_LOGICAL) {
      bool b = v.kind == DBE_KEY_STRING ? (v.text && v.text_len > 0 && LogicalFromChar(v.text[0]))
                                        : (v.kind == DBE_KEY_INTEGER ? v.integer != 0 : v.number != 0);
      o[0] = 1;
      o[1] = b ? 'T' : 'F';
    } else if (v.kind == DBE_KEY_STRING) {
      std::string_view t(v.text ? v.text : "", v.text ? v.text_len : 0);
      if (f.type == DBE_FT_DATE || f.type == DBE_FT_COMPACTDATE) {
        auto d = ParseDateText(Trim(t));
        if (!d) Fail(DBE_COLUMN_VALUE, "Error 5148: The key value is not a date for column \"" + f.name + "\". File: " + table_file);
        EncodeNumber(f, 0, *d, true, o);
      } else if (f.type == DBE_FT_MONEY) {
        auto m = ParseMoney(t);
        if (!m) Fail(DBE_COLUMN_VALUE, "Error 5148: The key value is not a number for column \"" + f.name + "\". File: " + table_file);
        o[0] = 1;
        PutKeyI64(o + 1, *m);
      } else {
        auto d = ParseDouble(t);
        if (!d) Fail(DBE_COLUMN_VALUE, "Error 5148: The key value is not a number for column \"" + f.name + "\". File: " + table_file);
        EncodeNumber(f, *d, 0, false, o);
      }
    } else if (v.kind == DBE_KEY_INTEGER) {
      EncodeNumber(f, 0, v.integer, true, o);
    } else {
      EncodeNumber(f, v.number, 0, false, o);
    }
    key += part;
  }
  if (descending_) {
    for (char& c : key) c = char(~uint8_t(c));
  }
  return key;
}

}  // namespace dbe
