#include "storage/schema.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "core/error.h"
#include "core/text.h"
#include "dbe/dbe.h"

namespace dbe {

uint32_t FieldWidth(uint16_t type, uint32_t length) {
  switch (type) {
    case DBE_FT_LOGICAL: return 1;
    case DBE_FT_NUMERIC: return length;
    case DBE_FT_DATE: case DBE_FT_COMPACTDATE: return 4;
    case DBE_FT_STRING: case DBE_FT_CISTRING: case DBE_FT_RAW: return length;
    case DBE_FT_MEMO: case DBE_FT_BINARY: case DBE_FT_IMAGE: case DBE_FT_VARCHAR: return kMemoRefSize;
    case DBE_FT_DOUBLE: case DBE_FT_CURDOUBLE: return 8;
    case DBE_FT_INTEGER: case DBE_FT_AUTOINC: case DBE_FT_TIME: return 4;
    case DBE_FT_SHORTINT: return 2;
    case DBE_FT_TIMESTAMP: case DBE_FT_MODTIME: return 8;
    case DBE_FT_MONEY: case DBE_FT_ROWVERSION: return 8;
    default: return 0;
  }
}

bool IsKnownFieldType(uint16_t type) { return FieldWidth(type, 1) != 0; }

bool IsBlobType(uint16_t type) {
  return type == DBE_FT_MEMO || type == DBE_FT_BINARY || type == DBE_FT_IMAGE || type == DBE_FT_VARCHAR;
}

bool IsCharType(uint16_t type) { return type == DBE_FT_STRING || type == DBE_FT_CISTRING; }

const char* FieldTypeName(uint16_t type) {
  switch (type) {
    case DBE_FT_LOGICAL: return "Logical";
    case DBE_FT_NUMERIC: return "Numeric";
    case DBE_FT_DATE: return "Date";
    case DBE_FT_STRING: return "Char";
    case DBE_FT_MEMO: return "Memo";
    case DBE_FT_BINARY: return "Binary";
    case DBE_FT_IMAGE: return "Image";
    case DBE_FT_VARCHAR: return "VarChar";
    case DBE_FT_COMPACTDATE: return "ShortDate";
    case DBE_FT_DOUBLE: return "Double";
    case DBE_FT_INTEGER: return "Integer";
    case DBE_FT_SHORTINT: return "ShortInt";
    case DBE_FT_TIME: return "Time";
    case DBE_FT_TIMESTAMP: return "TimeStamp";
    case DBE_FT_AUTOINC: return "AutoInc";
    case DBE_FT_RAW: return "Raw";
    case DBE_FT_CURDOUBLE: return "CurDouble";
    case DBE_FT_MONEY: return "Money";
    case DBE_FT_CISTRING: return "CIChar";
    case DBE_FT_ROWVERSION: return "RowVersion";
    case DBE_FT_MODTIME: return "ModTime";
    default: return "?";
  }
}

void Layout::Finish() {
  null_bytes = (static_cast<uint32_t>(fields.size()) + 7) / 8;
  uint32_t off = 1 + null_bytes;
  for (Field& f : fields) {
    f.width = FieldWidth(f.type, f.length);
    f.offset = off;
    off += f.width;
  }
  record_length = off;
  by_name.clear();
  for (size_t i = 0; i < fields.size(); ++i) by_name.emplace(Upper(fields[i].name), static_cast<int>(i));
}

int Layout::Find(std::string_view name) const {
  if (by_name.size() == fields.size()) {
    auto it = by_name.find(Upper(name));
    return it == by_name.end() ? -1 : it->second;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    if (EqualsIgnoreCase(fields[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

bool Layout::HasBlobs() const {
  return std::any_of(fields.begin(), fields.end(), [](const Field& f) { return IsBlobType(f.type); });
}

namespace {

struct TypePiece {
  const char* name;
  uint16_t type;
  int length_rule;  // 0 none, 1 required, 2 optional (ignored), 3 numeric (length, decimals)
};

constexpr TypePiece kTypePieces[] = {
    {"char", DBE_FT_STRING, 1},        {"character", DBE_FT_STRING, 1},
    {"cichar", DBE_FT_CISTRING, 1},    {"cicharacter", DBE_FT_CISTRING, 1},
    {"logical", DBE_FT_LOGICAL, 0},    {"numeric", DBE_FT_NUMERIC, 3},
    {"num", DBE_FT_NUMERIC, 3},        {"date", DBE_FT_DATE, 0},
    {"shortdate", DBE_FT_COMPACTDATE, 0},
    {"memo", DBE_FT_MEMO, 2},          {"binary", DBE_FT_BINARY, 2},
    {"blob", DBE_FT_BINARY, 2},        {"image", DBE_FT_IMAGE, 2},
    {"varchar", DBE_FT_VARCHAR, 2},    {"double", DBE_FT_DOUBLE, 2},
    {"integer", DBE_FT_INTEGER, 0},    {"shortint", DBE_FT_SHORTINT, 0},
    {"short", DBE_FT_SHORTINT, 0},     {"time", DBE_FT_TIME, 0},
    {"timestamp", DBE_FT_TIMESTAMP, 0}, {"autoinc", DBE_FT_AUTOINC, 0},
    {"raw", DBE_FT_RAW, 1},            {"curdouble", DBE_FT_CURDOUBLE, 2},
    {"money", DBE_FT_MONEY, 0},        {"rowversion", DBE_FT_ROWVERSION, 0},
    {"modtime", DBE_FT_MODTIME, 0},
};

bool ParseNumber(std::string_view s, uint32_t* out) {
  s = Trim(s);
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace

std::string FieldListText(const Layout& layout) {
  std::string out;
  for (const Field& f : layout.fields) {
    out += f.name + "," + FieldTypeName(f.type);
    if (IsCharType(f.type) || f.type == DBE_FT_RAW) out += "," + std::to_string(f.length);
    if (f.type == DBE_FT_NUMERIC) out += "," + std::to_string(f.length) + "," + std::to_string(f.decimals);
    if ((f.type == DBE_FT_DOUBLE || f.type == DBE_FT_CURDOUBLE) && f.decimals > 0) {
      out += "," + std::to_string(f.decimals);
    }
    out += ";";
  }
  return out;
}

Layout ParseFieldList(std::string_view list, const std::string& table_file) {
  auto bad = [&](const std::string& why) -> Layout {
    Fail(DBE_INVALID_FIELD_LIST, "Error 5058: Invalid field list: " + why + ". File: " + table_file);
  };
  Layout layout;
  for (std::string_view piece : Split(list, ';')) {
    if (Trim(piece).empty()) continue;
    std::vector<std::string_view> parts = Split(piece, ',');
    Field f;
    f.name = std::string(Trim(parts[0]));
    if (f.name.empty()) bad("a field has no name");
    if (f.name.size() > kMaxFieldName) bad("the field name " + f.name + " is too long");
    if (parts.size() < 2) bad("the field " + f.name + " has no type");
    std::string type_name = Lower(Trim(parts[1]));
    const TypePiece* tp = nullptr;
    for (const TypePiece& t : kTypePieces) {
      if (type_name == t.name) tp = &t;
    }
    if (tp == nullptr) {
      Fail(DBE_UNSUPPORTED_FIELD_TYPE, "Error 5054: The field type \"" + std::string(Trim(parts[1])) +
                                           "\" of the field " + f.name + " is not supported. File: " +
                                           table_file);
    }
    f.type = tp->type;
    uint32_t n = 0;
    switch (tp->length_rule) {
      case 1:
        if (parts.size() < 3 || !ParseNumber(parts[2], &n) || n == 0 || n > kMaxCharLength) {
          bad("the field " + f.name + " needs a length from 1 to 65000");
        }
        f.length = n;
        break;
      case 3: {
        if (parts.size() < 3 || !ParseNumber(parts[2], &n) || n == 0 || n > 32) {
          bad("the field " + f.name + " needs a length from 1 to 32");
        }
        f.length = n;
        uint32_t d = 0;
        if (parts.size() >= 4 && (!ParseNumber(parts[3], &d) || d + 1 >= n)) {
          bad("the field " + f.name + " has too many decimals");
        }
        f.decimals = static_cast<uint16_t>(d);
        break;
      }
      case 2:
        if ((f.type == DBE_FT_DOUBLE || f.type == DBE_FT_CURDOUBLE) && parts.size() >= 3 &&
            ParseNumber(parts[2], &n)) {
          f.decimals = static_cast<uint16_t>(std::min<uint32_t>(n, 20));
        }
        break;
      default:
        break;
    }
    if (layout.Find(f.name) >= 0) bad("the field " + f.name + " is named twice");
    layout.fields.push_back(std::move(f));
  }
  if (layout.fields.empty()) bad("it names no field");
  if (layout.fields.size() > kMaxFields) bad("it names more than 2000 fields");
  layout.Finish();
  return layout;
}

}  // namespace dbe
