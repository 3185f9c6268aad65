// The tables of the demo and test company databases, as the application's
// older releases (8.50 and 8.6x) created them: one line per table with its
// creation field list, its index tags and whether the application keeps it
// encrypted.
//
// Field lists use the engine's creation pieces ("NAME,Char,8;NAME,Date;..."),
// with one shorthand for numbered series: "CHAR{1-5},Char,30" stands for
// CHAR1 to CHAR5. Index lists are "NAME:FIELD;FIELD[:options]" joined by
// "|"; options are letters, U unique and D descending.
#ifndef KX8_TOOLS_DEMO_TABLES_H_
#define KX8_TOOLS_DEMO_TABLES_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbaccess/db_types.h"

namespace kx8::tools {

enum class TableScope {
  Company,   // every company folder
  Customer,  // customer-specific: only the company that ordered it
  Shared,    // the root folder's "SHARE_FOLDER\"
};

struct TableDefinition {
  const char* name;     // table name; the data file is name + ".KDT"
  const char* fields;   // creation field list
  const char* indexes;  // index tags
  bool encrypted;       // the application keeps the table encrypted
  TableScope scope;
};

// Every table of the demo data, in creation order.
std::span<const TableDefinition> DemoTables();
// By name, without regard to case; nullptr when unknown.
const TableDefinition* FindDemoTable(std::string_view name);

// One field of a parsed field list.
struct FieldSpec {
  std::string name;
  dbaccess::TFieldType type = dbaccess::ftUnknown;
  int size = 0;  // characters or bytes for Char and Raw
};

struct IndexSpec {
  std::string name;
  std::string fields;  // ";"-separated
  dbaccess::TIndexOptions options;
};

// Parse the lists above; an unknown type piece or a malformed series raises
// std::invalid_argument naming the piece.
std::vector<FieldSpec> ParseFieldList(std::string_view fields);
std::vector<IndexSpec> ParseIndexList(std::string_view indexes);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_TABLES_H_
