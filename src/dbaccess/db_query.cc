#include "dbaccess/db_query.h"

#include <cmath>
#include <optional>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_messages.h"
#include "dbaccess/engine_call.h"
#include "dbaccess/value_convert.h"
#include "dbe/dbe.h"

namespace kx8::dbaccess {

using internal::Check;
using internal::RaiseLayerError;

namespace {
// Statement settings: updates not constrained, columns not all read.
constexpr std::uint16_t kNotConstrained = 2;
constexpr std::uint16_t kReadAllColumnsOff = 2;
constexpr std::uint16_t kStatic = 1;
constexpr std::uint16_t kLive = 2;
}  // namespace

// --- SQL lines ---------------------------------------------------------------------

void TSqlLines::Clear() {
  lines_.clear();
  changed_();
}

void TSqlLines::Add(const std::string& line) {
  lines_.push_back(line);
  changed_();
}

void TSqlLines::SetText(const std::string& text) {
  lines_.clear();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines_.push_back(text.substr(start));
      break;
    }
    lines_.push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  changed_();
}

std::string TSqlLines::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines_[i];
  }
  return text;
}

// --- parameters --------------------------------------------------------------------

void TParam::SetValue(const TVariant& v) {
  if (std::holds_alternative<bool>(v)) type_ = ftBoolean;
  if (std::holds_alternative<std::int64_t>(v)) type_ = ftInteger;
  if (std::holds_alternative<double>(v)) type_ = ftFloat;
  if (std::holds_alternative<std::string>(v)) type_ = ftString;
  value_ = v;
}

std::string TParam::AsString() const { return internal::ToText(value_, type_); }
std::int64_t TParam::AsInteger() const { return internal::ToInteger(value_); }
double TParam::AsFloat() const { return internal::ToFloat(value_); }
bool TParam::AsBoolean() const { return internal::ToBoolean(value_); }
double TParam::AsDateTime() const { return internal::ToDateTime(value_); }

TParam* TParams::FindParam(const std::string& name) {
  for (TParam& p : items_) {
    if (internal::SameText(p.Name(), name)) return &p;
  }
  return nullptr;
}

TParam& TParams::ParamByName(const std::string& name) {
  TParam* p = FindParam(name);
  if (p == nullptr) RaiseLayerError(msg::kParamNotFoundBefore + name + msg::kParamNotFoundAfter);
  return *p;
}

// --- query -------------------------------------------------------------------------

TDbQuery::TDbQuery(TComponent* owner) : TDbDataSet(owner), sql_([this] { SqlChanged(); }) {}

TDbQuery::~TDbQuery() {
  try {
    Close();
  } catch (...) {
    // A destructor cannot raise; the cursor is released either way.
  }
  FreeStatementQuietly();
}

void TDbQuery::SetRequestLive(bool v) {
  CheckInactive();
  request_live_ = v;
}

void TDbQuery::SetSourceTableType(TDbTableTypes v) {
  CheckInactive();
  source_table_type_ = v;
}

void TDbQuery::SqlChanged() {
  Close();
  prepared_ = false;
  RebuildParams();
}

// The ":name" markers of the text in order; a parameter whose name is
// still there keeps its type and value.
void TDbQuery::RebuildParams() {
  std::string text = sql_.Text();
  std::vector<char> buf(1024);
  auto len = static_cast<std::uint32_t>(buf.size());
  DBRESULT rc = DbGetSQLStmtParams(text.c_str(), buf.data(), &len);
  if (rc == DBE_BUFFER_TOO_SMALL) {
    buf.resize(static_cast<std::size_t>(len) + 1);
    len = static_cast<std::uint32_t>(buf.size());
    rc = DbGetSQLStmtParams(text.c_str(), buf.data(), &len);
  }
  Check(rc, this);
  std::string names(buf.data(), std::min<std::size_t>(len, buf.size()));
  std::vector<TParam> rebuilt;
  std::size_t start = 0;
  while (start < names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    if (!name.empty()) {
      TParam param(name);
      if (const TParam* old = params_.FindParam(name)) {
        param.SetDataType(old->DataType());
        param.value_ = old->Value();
      }
      rebuilt.push_back(std::move(param));
    }
    start = end + 1;
  }
  params_.items_ = std::move(rebuilt);
}

void TDbQuery::FreeStatementQuietly() {
  if (statement_ != 0) DbCloseSQLStatement(statement_);
  statement_ = 0;
}

void TDbQuery::ReleaseStatement() {
  DBHANDLE s = statement_;
  statement_ = 0;
  if (s != 0) Check(DbCloseSQLStatement(s), this, {DBE_STATEMENT_GONE});
}

// A statement belongs to the connection it was made on.
void TDbQuery::ConnectionChanging() { FreeStatementQuietly(); }

void TDbQuery::CloseStatement() {
  CheckInactive();
  prepared_ = false;
  ReleaseStatement();
}

// The statement is reused while it is one; else it is made on the
// connection, which is connected first.
void TDbQuery::EnsureStatement() {
  if (statement_ != 0) {
    std::uint16_t type = 0;
    if (DbGetHandleType(statement_, &type) == DBE_SUCCESS && type == DBE_HANDLE_STATEMENT) return;
    statement_ = 0;
  }
  if (DbConnection() == nullptr) RaiseLayerError(msg::kNoDatabaseName, this);
  TDbConnection& c = *DbConnection();
  if (!c.IsConnected()) c.SetIsConnected(true);
  if (c.ConnectionHandle() == 0) RaiseLayerError(msg::kInvalidConnectionHandle, this);
  DBHANDLE s = 0;
  Check(DbCreateSQLStatement(c.ConnectionHandle(), &s), this);
  statement_ = s;
}

void TDbQuery::SetStatementPassword(const std::string& password) {
  EnsureStatement();
  Check(DbStmtEnableEncryption(statement_, password.c_str()), this);
}

void TDbQuery::SetTablePassword(const std::string& table, const std::string& password) {
  EnsureStatement();
  Check(DbStmtSetTablePassword(statement_, table.c_str(), password.c_str()), this);
}

// Parameters numbered from 1 in list order: null as empty, logical,
// numbers, dates (Julian day), times (milliseconds), date-times and binary
// values typed, everything else as text.
void TDbQuery::BindParams() {
  for (int i = 0; i < params_.Count(); ++i) {
    const TParam& p = params_[i];
    const char* ord = DBE_FIELD_ORDINAL(i + 1);
    if (p.DataType() == ftUnknown) RaiseLayerError(msg::kParamFieldNamed + p.Name() + msg::kParamTypeUnknown, this);
    if (p.IsNull()) {
      Check(DbSetEmpty(statement_, ord), this);
      continue;
    }
    internal::EngineMoment m = internal::ToEngineMoment(internal::KindOf(p.DataType()) == internal::ValueKind::Text
                                                            ? 0.0
                                                            : internal::ToDateTime(p.Value()));
    switch (p.DataType()) {
      case ftBoolean: Check(DbSetLogical(statement_, ord, p.AsBoolean() ? 1 : 0), this); break;
      case ftFloat:
      case ftCurrency: Check(DbSetDouble(statement_, ord, p.AsFloat()), this); break;
      case ftDate: Check(DbSetJulian(statement_, ord, static_cast<std::int32_t>(m.julian_day)), this); break;
      case ftTime: Check(DbSetMilliseconds(statement_, ord, static_cast<std::int32_t>(m.ms)), this); break;
      case ftDateTime:
        Check(DbSetTimeStampRaw(statement_, ord, static_cast<std::int32_t>(m.julian_day), static_cast<std::int32_t>(m.ms)),
              this);
        break;
      case ftBytes:
      case ftVarBytes:
      case ftBlob:
      case ftGraphic:
      case ftTypedBinary: {
        std::string bytes = p.AsString();
        Check(DbSetBinary(statement_, ord, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                          static_cast<std::uint32_t>(bytes.size())),
              this);
        break;
      }
      case ftParadoxOle:
      case ftDBaseOle: RaiseLayerError(msg::kParamFieldNamed + p.Name() + msg::kParamTypeNotSupported, this);
      default: {
        std::string text = p.AsString();
        Check(DbSetString(statement_, ord, text.data(), static_cast<std::uint32_t>(text.size())), this);
        break;
      }
    }
  }
}

std::uint32_t TDbQuery::Run() {
  CheckInactive();
  EnsureStatement();
  const TDbTableOptions& o = DbTableOptions();
  Check(DbStmtSetTableLockType(statement_, o.EngineLockType()), this);
  Check(DbStmtSetTableCharType(statement_, o.EngineCharType()), this);
  Check(DbStmtSetTableRights(statement_, o.EngineRights()), this);
  Check(DbStmtSetTableReadOnly(statement_, request_live_ ? kLive : kStatic), this);
  Check(DbStmtSetTableType(statement_, EngineTableType(source_table_type_)), this);
  Check(DbStmtConstrainUpdates(statement_, kNotConstrained), this);
  Check(DbStmtReadAllColumns(statement_, kReadAllColumnsOff), this);
  prepared_ = true;
  std::string text = sql_.Text();
  Check(DbPrepareSQL(statement_, text.c_str()), this);
  BindParams();
  DBHANDLE cursor = 0;
  DBRESULT rc = DbExecuteSQL(statement_, &cursor);
  if (rc != DBE_SUCCESS) {
    std::optional<EDbEngineError> e = internal::EngineError(rc, this);
    // A statement the engine no longer accepts is dropped, so that the next
    // run makes a fresh one.
    if (e && e->Message().find(msg::kStaleStatementMarker) != std::string::npos) {
      DBHANDLE s = statement_;
      statement_ = 0;
      DbCloseSQLStatement(s);
    }
    if (e) throw *e;
    return 0;
  }
  if (cursor != 0) {
    try {
      std::uint16_t live = 0;
      Check(DbSqlPeekStatement(cursor, &live), this);
      SetCanModify(live != 0);
      std::uint32_t count = 0;
      Check(DbGetRecordCount(cursor, DBE_COUNT_RESPECT_FILTERS, &count), this, {DBE_NO_ROW_COUNT});
    } catch (...) {
      DbCloseTable(cursor);
      throw;
    }
  }
  return cursor;
}

void TDbQuery::ExecSQL() {
  DBHANDLE cursor = Run();
  if (cursor != 0) Check(DbCloseTable(cursor), this);
}

std::uint32_t TDbQuery::OpenCursor() {
  DBHANDLE cursor = Run();
  if (cursor == 0) RaiseLayerError(msg::kNoCursor, this);
  return cursor;
}

}  // namespace kx8::dbaccess
