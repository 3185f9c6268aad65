#include <cmath>

#include "api/tables.h"
#include "core/error.h"
#include "core/text.h"
#include "dict/dictionary.h"
#include "platform/path.h"
#include "sql/exec.h"
#include "storage/record_codec.h"

namespace dbe::sql {

void SqlFail(uint32_t native, const std::string& message) {
  Fail(DBE_SQL_ERROR, "Error 7200: " + message + " NativeError = " + std::to_string(native) + ";");
}

Error AsSqlError(const Error& e) {
  std::string text = e.what();
  if (e.code() == DBE_SQL_ERROR || e.code() == DBE_SQL_STALE) {
    if (text.rfind("Error 72", 0) == 0) return e;
    // Raised by the expression language while binding or evaluating.
    uint32_t native = text.rfind("Column not found", 0) == 0 ? uint32_t{DBE_COLUMN_NOT_FOUND} : kNativeTypeMismatch;
    return Error(DBE_SQL_ERROR, "Error 7200: " + text + ". NativeError = " + std::to_string(native) + ";");
  }
  // Drop the engine's own "Error N: " prefix; the number becomes the native one.
  if (text.rfind("Error ", 0) == 0) {
    auto colon = text.find(": ");
    if (colon != std::string::npos && colon < 12) text = text.substr(colon + 2);
  }
  return Error(DBE_SQL_ERROR, "Error 7200: " + text + " NativeError = " + std::to_string(e.code()) + ";");
}

namespace {

std::string BaseName(const std::string& path) {
  std::string f = kx8::platform::FileNamePart(path);
  std::string ext = kx8::platform::ExtensionPart(f);
  if (!ext.empty() && EqualsIgnoreCase(ext, ".KDT")) f.resize(f.size() - ext.size());
  return Upper(f);
}

std::string StripDictName(const std::string& name) {
  std::string u = Upper(name);
  if (u.size() > 4 && u.compare(u.size() - 4, 4, ".KDT") == 0) u.resize(u.size() - 4);
  return u;
}

const std::string* PasswordFor(const ExecSettings& s, const std::string& name) {
  auto it = s.table_passwords.find(name);
  if (it != s.table_passwords.end()) return &it->second;
  if (s.encryption) return &s.password;
  return nullptr;
}

}  // namespace

StatementTable::StatementTable(Connection* conn, const TableRef& ref, uint32_t mode, const ExecSettings& s) {
  std::string path;
  if (!conn->is_dictionary() || !dict::FindTable(conn, ref.name)) {
    path = TablePath(conn, ref.name);
    if (!kx8::platform::FileExists(path)) {
      SqlFail(DBE_FILE_NOT_FOUND, "The table " + ref.name + " does not exist. File: " + path);
    }
  }
  handle_ = OpenTableOn(conn, ref.name, DBE_TABLE_KDT, s.rights, mode);
  cursor_ = LookupAs<TableCursor>(handle_, DBE_HANDLE_TABLE);
  path = cursor_->file().file_name();
  name_ = BaseName(path);
  if (conn->is_dictionary()) {
    if (auto entry = dict::FindTable(conn, ref.name)) dict_name_ = StripDictName(entry->name);
  }
  alias_ = Upper(ref.alias);
  if (cursor_->file().encrypted() && cursor_->key() == nullptr) {
    const std::string* pw = PasswordFor(s, name_);
    if (pw == nullptr) pw = PasswordFor(s, Upper(ref.name));
    if (pw == nullptr) {
      CloseCursor(cursor_);
      SqlFail(DBE_PASSWORD_REQUIRED, "The table " + ref.name + " is encrypted and the statement has no password for it. File: " + path);
    }
    try {
      cursor_->EnablePassword(*pw);
    } catch (...) {
      CloseCursor(cursor_);
      throw;
    }
  }
}

StatementTable::~StatementTable() {
  if (cursor_ != nullptr) CloseCursor(cursor_);
}

DBHANDLE StatementTable::Release() {
  cursor_ = nullptr;
  return handle_;
}

bool StatementTable::Answers(std::string_view qualifier) const {
  std::string q = Upper(qualifier);
  if (!alias_.empty() && q == alias_) return true;
  if (q == name_ || (!dict_name_.empty() && q == dict_name_)) return true;
  return EqualsIgnoreCase(q, name_ + ".KDT");
}

int TablesResolver::Resolve(std::string_view qualifier, std::string_view name) const {
  if (!qualifier.empty()) {
    for (size_t t = 0; t < tables_.size(); ++t) {
      if (!tables_[t]->Answers(qualifier)) continue;
      int f = tables_[t]->layout().Find(name);
      return f < 0 ? -1 : static_cast<int>(t) * 10000 + f;
    }
    return -1;
  }
  for (size_t t = 0; t < tables_.size(); ++t) {
    int f = tables_[t]->layout().Find(name);
    if (f >= 0) return static_cast<int>(t) * 10000 + f;
  }
  return -1;
}

Value TablesRow::Column(int id) const {
  size_t t = static_cast<size_t>(id / 10000);
  uint32_t f = static_cast<uint32_t>(id % 10000);
  const uint8_t* rec = recs_[t];
  if (rec == nullptr) return Value::Null();
  const Field& field = tables_[t]->layout().fields[f];
  if (IsBlobType(field.type)) {
    if (IsNullBit(rec, f)) return Value::Null();
    std::string s = tables_[t]->file().ReadBlob(rec, f, tables_[t]->key());
    if (field.type == DBE_FT_MEMO || field.type == DBE_FT_VARCHAR) {
      return Value::String(std::string(TrimRightBlanks(s)));
    }
    return Value::Binary(std::move(s));
  }
  return ReadFieldValue(field, f, rec);
}

Value TablesRow::Param(int index) const {
  if (params_ == nullptr || index < 0 || static_cast<size_t>(index) >= params_->size()) return Value::Null();
  return (*params_)[static_cast<size_t>(index)];
}

std::string GroupKey(const Value& v) {
  switch (v.kind) {
    case ValueKind::Null: return "N";
    case ValueKind::Bool: return v.b ? "BT" : "BF";
    // Numbers of any kind that are equal get one key: whole values as
    // integers, others in their exact (money) or shortest (double) decimal form.
    case ValueKind::Int: return "#" + std::to_string(v.i);
    case ValueKind::Money: return "#" + MoneyText(v.i);
    case ValueKind::Double:
      if (v.d == std::floor(v.d) && std::fabs(v.d) < 9.2e18) return "#" + std::to_string(static_cast<int64_t>(v.d));
      return "#" + DoubleText(v.d);
    case ValueKind::String: {
      std::string_view s = TrimRightBlanks(v.s);
      if (s.empty()) return "N";
      return "S" + std::string(s);
    }
    case ValueKind::Binary: return "X" + v.s;
    case ValueKind::Date: return "D" + std::to_string(v.i);
    case ValueKind::Time: return "T" + std::to_string(v.i);
    case ValueKind::Timestamp: return "P" + std::to_string(v.i);
  }
  return "?";
}

namespace {
bool IsNumber(const Value& v) {
  return v.kind == ValueKind::Int || v.kind == ValueKind::Money || v.kind == ValueKind::Double;
}
double AsDouble(const Value& v) {
  return v.kind == ValueKind::Double ? v.d : v.kind == ValueKind::Money ? double(v.i) / 10000.0 : double(v.i);
}
bool IsEmptyValue(const Value& v) {
  return v.is_null() || (v.kind == ValueKind::String && TrimRightBlanks(v.s).empty());
}
}  // namespace

int CompareValues(const Value& a, const Value& b) {
  bool ea = IsEmptyValue(a), eb = IsEmptyValue(b);
  if (ea || eb) return ea == eb ? 0 : (ea ? -1 : 1);
  if (IsNumber(a) && IsNumber(b)) {
    if (a.kind == b.kind && a.kind != ValueKind::Double) return a.i < b.i ? -1 : a.i > b.i ? 1 : 0;
    double x = AsDouble(a), y = AsDouble(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  if (a.kind != b.kind) return a.kind < b.kind ? -1 : 1;
  switch (a.kind) {
    case ValueKind::Bool: return int(a.b) - int(b.b);
    case ValueKind::String: case ValueKind::Binary: {
      std::string_view x = TrimRightBlanks(a.s), y = TrimRightBlanks(b.s);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    default: return a.i < b.i ? -1 : a.i > b.i ? 1 : 0;
  }
}

}  // namespace dbe::sql
