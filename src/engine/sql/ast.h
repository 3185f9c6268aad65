// Statement trees of the SQL dialect: one struct per statement kind, built by
// the parser (sql/parser.h) and run by the executors (sql/exec_*.cc).
// Expressions inside them are expression trees (expr/ast.h).
#ifndef KX8_ENGINE_SQL_AST_H_
#define KX8_ENGINE_SQL_AST_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "expr/ast.h"

namespace dbe::sql {

// A table as a statement names it: plain (FW_LEVY), quoted file name
// ("EMP_PROS.KDT", with or without extension) or bracketed.
struct TableRef {
  std::string name;       // as written, quotes removed
  bool quoted = false;    // written in double quotes or brackets
  std::string alias;      // empty when none
  size_t offset = 0;      // position in the text, for errors
};

// A column type as written: char(10), INTEGER, curdouble, AutoInc, ...
struct TypeSpec {
  uint16_t type = 0;      // DBE_FT_*
  uint32_t length = 0;    // char(n), raw(n), numeric(n, d)
  uint16_t decimals = 0;
  size_t offset = 0;
};

struct AlterClause {
  enum class Kind { Add, Alter, Drop } kind = Kind::Add;
  std::string column;     // ADD: the new column; ALTER/DROP: the existing one
  std::string new_name;   // ALTER: the name afterwards (may equal column)
  TypeSpec type;          // ADD and ALTER
  size_t offset = 0;
};

struct AlterTable {
  TableRef table;
  std::vector<AlterClause> clauses;  // at least one (the parser refuses none)
};

struct CreateIndex {
  bool unique = false;
  std::string name;                  // exactly as written, blanks kept ("  SCHEME_CODE2")
  TableRef table;
  std::vector<std::string> columns;  // in order
};

struct DropIndex {
  TableRef table;
  std::string name;  // DROP INDEX t.name
};

struct SelectItem {
  bool star = false;             // * (or t.*)
  std::string star_qualifier;    // t of t.*
  expr::NodePtr expr;            // when not star
  std::string alias;             // AS alias, empty when none
};

struct OrderItem {
  expr::NodePtr expr;            // a column, an expression, or a 1-based position literal
  bool descending = false;
};

struct Select {
  bool distinct = false;
  std::vector<SelectItem> items;
  std::vector<TableRef> from;        // one or more (joins by WHERE)
  expr::NodePtr where;               // may be null
  std::vector<expr::NodePtr> group_by;
  expr::NodePtr having;              // may be null
  std::vector<OrderItem> order_by;
};

struct Assignment {
  std::string column;   // target column of the updated table
  expr::NodePtr value;
  size_t offset = 0;
};

struct Update {
  TableRef table;
  std::vector<Assignment> sets;
  std::vector<TableRef> from;   // UPDATE t SET ... FROM t2 [, t3] WHERE ...
  expr::NodePtr where;          // may be null
};

struct Delete {
  TableRef table;
  expr::NodePtr where;          // may be null
};

struct Insert {
  TableRef table;
  std::vector<std::string> columns;               // empty: all, in table order
  std::vector<std::vector<expr::NodePtr>> rows;   // VALUES (...), (...)
  std::unique_ptr<Select> select;                 // INSERT INTO t SELECT ...
};

struct ColumnDef {
  std::string name;
  TypeSpec type;
};

struct CreateTable {
  TableRef table;
  std::vector<ColumnDef> columns;
};

struct DropTable {
  TableRef table;
};

// CREATE PROCEDURE name( params ) FUNCTION fn IN LIBRARY "path"
struct CreateProcedure {
  std::string name;
  std::string params;     // the parameter list as written between the parentheses
  std::string function;
  std::string library;
};

using StatementBody = std::variant<AlterTable, CreateIndex, DropIndex, Select, Update, Delete, Insert,
                                   CreateTable, DropTable, CreateProcedure>;

struct Statement {
  StatementBody body;
  // Parameter names in order of first appearance, numbered from 1 ("" for ?).
  std::vector<std::string> params;
  std::string text;
};

}  // namespace dbe::sql

#endif  // KX8_ENGINE_SQL_AST_H_
