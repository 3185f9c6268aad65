// The tables the report field steps of a company pass need: RTABLE, unique
// on NO, and FAMILY (the report field routine widens its IC_PASSPORT_NUM),
// for the fixtures that run whole company passes.
#ifndef KX8_TESTS_SCHEMA_REPORT_TABLES_H_
#define KX8_TESTS_SCHEMA_REPORT_TABLES_H_

#include <string>
#include <vector>

#include "dbaccess/db_scoped_table.h"

namespace kx8::schema {

// RTABLE's fields as the application creates them.
inline std::vector<dbaccess::TFieldDef> RtableFields() {
  using dbaccess::ftInteger;
  using dbaccess::ftString;
  return {{"NO", ftInteger, 0, 0},   {"NO2", ftInteger, 0, 0},      {"HEADING", ftString, 40, 0},
          {"DATABASE1", ftString, 12, 0}, {"FIELD", ftString, 30, 0}, {"CODE", ftString, 20, 0},
          {"WIDTH", ftInteger, 0, 0}, {"TYPE1", ftString, 1, 0},     {"HIDE_WAGE", ftString, 1, 0}};
}

// Creates what the folder lacks of the two tables (empty, not encrypted).
inline void MakeReportTables(const std::string& folder) {
  struct Table {
    const char* name;
    std::vector<dbaccess::TFieldDef> fields;
    const char* unique_key;
  };
  const Table tables[] = {
      {"RTABLE", RtableFields(), "NO"},
      {"FAMILY", {{"EMP_NO", dbaccess::ftString, 12, 0}, {"IC_PASSPORT_NUM", dbaccess::ftString, 12, 0}}, nullptr},
  };
  for (const Table& t : tables) {
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(folder);
    scoped.Table().SetTableName(t.name);
    if (scoped.Table().TableExists()) continue;
    for (const dbaccess::TFieldDef& d : t.fields) scoped.Table().FieldDefs().Add(d);
    scoped.Table().CreateTable();
    if (t.unique_key != nullptr) {
      scoped.Table().AddIndex("PRIMARY", t.unique_key, {dbaccess::ixUnique, dbaccess::ixExpression});
    }
  }
}

}  // namespace kx8::schema

#endif  // KX8_TESTS_SCHEMA_REPORT_TABLES_H_
