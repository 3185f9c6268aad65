// Running parsed statements against a connection's tables.
//
// Every failure of a statement is reported as error 7200 whose text holds
// "NativeError = N;": N is the engine error number when the engine refused
// something (5041 unknown table, 5147 unknown column, 5057 duplicate key,
// 5050 password needed, ...), or one of the SQL numbers below.
#ifndef KX8_ENGINE_SQL_EXEC_H_
#define KX8_ENGINE_SQL_EXEC_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/objects.h"
#include "expr/eval.h"
#include "core/value.h"
#include "sql/ast.h"

namespace dbe::sql {

// SQL error numbers of the executor (the parser's are listed in parser.h).
constexpr uint32_t kNativeDuplicateColumn = 2130;
constexpr uint32_t kNativeTypeMismatch = 2140;
constexpr uint32_t kNativeNotSupported = 2150;
constexpr uint32_t kNativeAmbiguousColumn = 2160;
constexpr uint32_t kNativeEmptyTable = 2170;

[[noreturn]] void SqlFail(uint32_t native, const std::string& message);
// Turns any engine error into a 7200 error carrying its number as native.
Error AsSqlError(const Error& e);

struct ExecSettings {
  uint16_t read_only = 1;     // 1: static result; 2: a live cursor where one can be given
  uint16_t rights = DBE_RIGHTS_CHECK;  // dictionary rights checked (1) or ignored (2)
  bool encryption = false;    // the statement password opens every encrypted table
  std::string password;
  std::map<std::string, std::string> table_passwords;  // upper-case table name -> password
};

struct ExecResult {
  DBHANDLE cursor = 0;
  bool live = false;
  uint64_t rows_affected = 0;
};

ExecResult Execute(const std::shared_ptr<Statement>& st, Connection* conn, const ExecSettings& settings,
                   const std::vector<Value>& params);

// Helpers shared by the executors.

// A table a statement works on, opened as a handle of its own for the time
// of the statement.
class StatementTable {
 public:
  StatementTable(Connection* conn, const TableRef& ref, uint32_t mode, const ExecSettings& settings);
  ~StatementTable();
  StatementTable(const StatementTable&) = delete;
  StatementTable& operator=(const StatementTable&) = delete;

  TableCursor& cursor() { return *cursor_; }
  TableFile& file() { return cursor_->file(); }
  const Layout& layout() { return cursor_->layout(); }
  const crypto::Key* key() { return cursor_->key(); }
  // Whether a qualifier (table name without extension, or alias) names it.
  bool Answers(std::string_view qualifier) const;
  const std::string& name() const { return name_; }
  DBHANDLE handle() const { return handle_; }
  // Hands the handle over to the caller (a live cursor); no close at the end.
  DBHANDLE Release();

 private:
  TableCursor* cursor_ = nullptr;
  DBHANDLE handle_ = 0;
  std::string name_, alias_, dict_name_;
};

// Resolves columns over a list of tables: id = table * 10000 + field.
// Unqualified names are looked up in the first table first.
class TablesResolver : public expr::ColumnResolver {
 public:
  explicit TablesResolver(std::vector<StatementTable*> tables) : tables_(std::move(tables)) {}
  int Resolve(std::string_view qualifier, std::string_view name) const override;

 private:
  std::vector<StatementTable*> tables_;
};

// The current rows of the tables, one record image each, and the parameters.
class TablesRow : public expr::RowAccess {
 public:
  TablesRow(std::vector<StatementTable*> tables, const std::vector<Value>* params)
      : tables_(std::move(tables)), recs_(tables_.size(), nullptr), params_(params) {}
  void Set(size_t table, const uint8_t* rec) { recs_[table] = rec; }
  Value Column(int id) const override;
  Value Param(int index) const override;

 private:
  std::vector<StatementTable*> tables_;
  std::vector<const uint8_t*> recs_;
  const std::vector<Value>* params_;
};

// Reads every live row of a table in record order.
template <class F>
void ForEachRow(StatementTable& t, F&& body) {
  std::vector<uint8_t> rec(t.layout().record_length);
  TableFile& f = t.file();
  uint32_t n = f.record_count();
  for (uint32_t r = 1; r <= n; ++r) {
    if (f.IsDeleted(r)) continue;
    f.ReadRecord(r, t.key(), rec.data());
    body(r, rec.data());
  }
}

// Canonical text of a value for grouping and DISTINCT.
std::string GroupKey(const Value& v);
// Total order for sorting: empty first, numbers by value, text by bytes.
int CompareValues(const Value& a, const Value& b);

}  // namespace dbe::sql

#endif  // KX8_ENGINE_SQL_EXEC_H_
