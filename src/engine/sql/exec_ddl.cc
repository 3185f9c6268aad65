// ALTER TABLE, CREATE/DROP INDEX, CREATE/DROP TABLE and CREATE PROCEDURE.
#include "api/tables.h"
#include "core/error.h"
#include "core/text.h"
#include "dict/dictionary.h"
#include "platform/path.h"
#include "sql/exec_internal.h"
#include "storage/record_codec.h"

namespace dbe::sql {
namespace {

Field FieldFrom(const std::string& name, const TypeSpec& t) {
  if (name.empty() || name.size() > kMaxFieldName) {
    SqlFail(kNativeTypeMismatch, "The column name \"" + name + "\" is empty or longer than 63 characters.");
  }
  Field f;
  f.name = name;
  f.type = t.type;
  f.decimals = t.decimals;
  bool sized = IsCharType(t.type) || t.type == DBE_FT_RAW || t.type == DBE_FT_NUMERIC;
  f.length = sized ? t.length : 0;
  if (!IsKnownFieldType(t.type)) SqlFail(kNativeTypeMismatch, "The column \"" + name + "\" has an unknown type.");
  if (sized && (t.length == 0 || t.length > (t.type == DBE_FT_NUMERIC ? 32u : kMaxCharLength))) {
    SqlFail(kNativeTypeMismatch, "The length of column \"" + name + "\" is out of range.");
  }
  return f;
}

}  // namespace

ExecResult ExecAlter(const AlterTable& st, Connection* conn, const ExecSettings& s) {
  StatementTable t(conn, st.table, DBE_OPEN_EXCLUSIVE, s);
  Layout nl = t.layout();
  std::vector<int> source;
  for (size_t i = 0; i < nl.fields.size(); ++i) source.push_back(static_cast<int>(i));
  const std::string& file = t.file().file_name();
  for (const AlterClause& c : st.clauses) {
    int at = nl.Find(c.column);
    switch (c.kind) {
      case AlterClause::Kind::Add:
        if (at >= 0) SqlFail(kNativeDuplicateColumn, "The column \"" + c.column + "\" exists already. File: " + file);
        nl.fields.push_back(FieldFrom(c.column, c.type));
        source.push_back(-1);
        break;
      case AlterClause::Kind::Alter: {
        if (at < 0) SqlFail(DBE_COLUMN_NOT_FOUND, "There is no column \"" + c.column + "\". File: " + file);
        std::string new_name = c.new_name.empty() ? c.column : c.new_name;
        int other = nl.Find(new_name);
        if (other >= 0 && other != at) {
          SqlFail(kNativeDuplicateColumn, "The column \"" + new_name + "\" exists already. File: " + file);
        }
        nl.fields[static_cast<size_t>(at)] = FieldFrom(new_name, c.type);
        break;
      }
      case AlterClause::Kind::Drop:
        if (at < 0) SqlFail(DBE_COLUMN_NOT_FOUND, "There is no column \"" + c.column + "\". File: " + file);
        nl.fields.erase(nl.fields.begin() + at);
        source.erase(source.begin() + at);
        break;
    }
  }
  if (nl.fields.empty()) SqlFail(kNativeEmptyTable, "A table needs at least one column. File: " + file);
  if (nl.fields.size() > kMaxFields) SqlFail(kNativeTypeMismatch, "A table has at most 2000 columns. File: " + file);
  nl.Finish();
  t.file().Restructure(nl, source, t.key());
  return {};
}

ExecResult ExecCreateIndex(const CreateIndex& st, Connection* conn, const ExecSettings& s) {
  StatementTable t(conn, st.table, DBE_OPEN_EXCLUSIVE | kOpenIndexFileOptional, s);
  std::string expr;
  for (const std::string& c : st.columns) {
    if (t.layout().Find(c) < 0) {
      SqlFail(DBE_COLUMN_NOT_FOUND, "There is no column \"" + c + "\". File: " + t.file().file_name());
    }
    expr += (expr.empty() ? "" : ";") + c;
  }
  t.file().CreateIndex(st.name, expr, DBE_INDEX_COMPOUND | (st.unique ? DBE_INDEX_UNIQUE : 0), t.key());
  return {};
}

ExecResult ExecDropIndex(const DropIndex& st, Connection* conn, const ExecSettings& s) {
  StatementTable t(conn, st.table, DBE_OPEN_EXCLUSIVE, s);
  t.file().DropIndex(st.name);
  return {};
}

ExecResult ExecCreateTable(const CreateTable& st, Connection* conn) {
  Layout layout;
  for (const ColumnDef& c : st.columns) {
    if (layout.Find(c.name) >= 0) SqlFail(kNativeDuplicateColumn, "The column \"" + c.name + "\" is named twice.");
    layout.fields.push_back(FieldFrom(c.name, c.type));
  }
  if (layout.fields.empty()) SqlFail(kNativeEmptyTable, "A table needs at least one column.");
  layout.Finish();
  DBHANDLE h = CreateTableOn(conn, st.table.name, FieldListText(layout));
  CloseCursor(LookupAs<TableCursor>(h, DBE_HANDLE_TABLE));
  return {};
}

ExecResult ExecDropTable(const DropTable& st, Connection* conn, const ExecSettings& s) {
  StatementTable t(conn, st.table, DBE_OPEN_EXCLUSIVE, s);
  // A dictionary's table leaves the catalogue (entry, index entries and
  // rights) first, while this statement holds it exclusively; its files go
  // after. Deleting only the files would leave an entry that automatic
  // creation brings back empty.
  if (conn->is_dictionary()) {
    if (auto entry = dict::FindTable(conn, st.table.name)) dict::ForgetTable(conn, *entry);
  }
  t.file().DeleteFiles();
  return {};
}

ExecResult ExecCreateProcedure(const CreateProcedure& st, Connection* conn) {
  if (!conn->is_dictionary()) {
    SqlFail(kNativeNotSupported, "CREATE PROCEDURE " + st.name +
                                     " needs a data dictionary connection; free tables cannot hold procedures.");
  }
  dict::AddProcedure(conn, st.name, st.params, st.function, st.library);
  return {};
}

}  // namespace dbe::sql
