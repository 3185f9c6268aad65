// TDbQuery: one SQL statement on a connection; a statement that gives rows
// is read like an open table.
#ifndef KX8_DBACCESS_DB_QUERY_H_
#define KX8_DBACCESS_DB_QUERY_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbaccess/db_dataset.h"

namespace kx8::dbaccess {

// The statement text as lines; the text is the lines joined by "\r\n".
class TSqlLines {
 public:
  explicit TSqlLines(std::function<void()> changed) : changed_(std::move(changed)) {}
  void Clear();
  void Add(const std::string& line);
  // Replaces the lines by those of a text (split at "\r\n", "\n" or "\r").
  void SetText(const std::string& text);
  std::string Text() const;
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int i) const { return lines_.at(static_cast<std::size_t>(i)); }

 private:
  std::vector<std::string> lines_;
  std::function<void()> changed_;
};

// A statement parameter: a name and a typed value. Setting a value sets
// the type that goes with it.
class TParam {
 public:
  explicit TParam(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return type_; }
  void SetDataType(TFieldType type) { type_ = type; }
  bool IsNull() const { return VarIsNull(value_); }
  const TVariant& Value() const { return value_; }
  // The type follows the value: logical, integer, float or string.
  void SetValue(const TVariant& v);
  void Clear() { value_ = std::monostate{}; }  // null; the type stays

  void SetAsString(const std::string& v) { Set(ftString, v); }
  void SetAsMemo(const std::string& v) { Set(ftMemo, v); }
  void SetAsBlob(const std::string& bytes) { Set(ftBlob, bytes); }
  void SetAsInteger(std::int64_t v) { Set(ftInteger, v); }
  void SetAsFloat(double v) { Set(ftFloat, v); }
  void SetAsCurrency(double v) { Set(ftCurrency, v); }
  void SetAsBoolean(bool v) { Set(ftBoolean, v); }
  void SetAsDate(double v) { Set(ftDate, v); }
  void SetAsTime(double v) { Set(ftTime, v); }
  void SetAsDateTime(double v) { Set(ftDateTime, v); }

  std::string AsString() const;
  std::int64_t AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  double AsDateTime() const;

 private:
  friend class TDbQuery;
  void Set(TFieldType type, TVariant v) {
    type_ = type;
    value_ = std::move(v);
  }
  std::string name_;
  TFieldType type_ = ftUnknown;
  TVariant value_;
};

class TParams {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TParam& operator[](int i) { return items_.at(static_cast<std::size_t>(i)); }
  const TParam& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }
  // Without regard to case; nullptr when absent.
  TParam* FindParam(const std::string& name);
  // Without regard to case; raises when absent.
  TParam& ParamByName(const std::string& name);

 private:
  friend class TDbQuery;
  std::vector<TParam> items_;
};

class TDbQuery : public TDbDataSet {
 public:
  explicit TDbQuery(TComponent* owner = nullptr);
  ~TDbQuery() override;

  // Any change of the text closes the query, clears the prepared flag and
  // rebuilds Params from the ":name" markers, keeping the values of the
  // parameters whose names are still there.
  TSqlLines& SQL() { return sql_; }
  const TSqlLines& SQL() const { return sql_; }
  TParams& Params() { return params_; }
  TParam& ParamByName(const std::string& name) { return params_.ParamByName(name); }

  // Settings (only while closed).
  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool v);
  TDbTableTypes SourceTableType() const { return source_table_type_; }
  void SetSourceTableType(TDbTableTypes v);

  // Marks the query prepared; the statement is prepared when it runs.
  void Prepare() { prepared_ = true; }
  void UnPrepare() { prepared_ = false; }
  bool Prepared() const { return prepared_; }

  // Runs the statement; a result cursor is closed at once.
  void ExecSQL();
  // Frees the engine statement (the query must be closed), so that the next
  // run creates a fresh one.
  void CloseStatement();
  // Passwords for encrypted free tables read or changed by the statement.
  void SetStatementPassword(const std::string& password);
  void SetTablePassword(const std::string& table, const std::string& password);

 protected:
  std::uint32_t OpenCursor() override;
  bool AllOptionsFixedWhileOpen() const override { return true; }
  void ReleaseStatement() override;
  void ConnectionChanging() override;

 private:
  void SqlChanged();
  void RebuildParams();
  void EnsureStatement();
  void BindParams();
  // Runs the statement; the result cursor or 0.
  std::uint32_t Run();
  void FreeStatementQuietly();

  TSqlLines sql_;
  TParams params_;
  bool request_live_ = false;
  TDbTableTypes source_table_type_ = ttDbKDT;
  bool prepared_ = false;
  std::uint32_t statement_ = 0;
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_QUERY_H_
