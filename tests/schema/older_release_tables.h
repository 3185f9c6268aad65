// Tables that a company below release 8.60 holds for the data steps of
// column run 14 (PAYPARA2, EMP_PROS, RP_HTRX and CODE), for the fixtures
// that run whole company passes. Each has one row to show what the steps
// did, and already has every column the catalogue names for it, so that
// the column runs pass it by and the fixtures stay quick.
#ifndef KX8_TESTS_SCHEMA_OLDER_RELEASE_TABLES_H_
#define KX8_TESTS_SCHEMA_OLDER_RELEASE_TABLES_H_

#include <string>
#include <utility>
#include <vector>

#include "dbaccess/db_scoped_table.h"
#include "schema/catalogue.h"

namespace kx8::schema {

// Creates the four tables in a company folder (not encrypted).
inline void MakeOlderReleaseTables(const std::string& folder) {
  struct Table {
    const char* name;
    std::vector<std::pair<const char*, const char*>> row;  // text fields but NEW_SALARY
  };
  const Table tables[] = {
      {"PAYPARA2", {{"YEAR", "2009"}}},
      {"EMP_PROS", {{"EMP_CODE", "E1"}, {"NEW_SALARY", "2500"}}},
      {"RP_HTRX", {{"EMPCODE", "E1"}}},
      {"CODE", {{"CODE", "A"}, {"DESC", "Alpha"}, {"N1CLAIM", "CLM1"}}},
  };
  for (const Table& t : tables) {
    std::vector<dbaccess::TFieldDef> own;
    for (const auto& [name, value] : t.row) {
      own.push_back({name, name == std::string("NEW_SALARY") ? dbaccess::ftCurrency : dbaccess::ftString, 12, 0});
    }
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(folder);
    scoped.Table().SetTableName(t.name);
    // Every column the catalogue issues for the table is there already,
    // in the form the column runs leave it.
    ApplyIssuedColumns(t.name, own);
    for (const dbaccess::TFieldDef& d : own) scoped.Table().FieldDefs().Add(d);
    scoped.Table().CreateTable();
    scoped.Table().Open();
    scoped.Table().Append();
    for (const auto& [name, value] : t.row) scoped.Table().FieldByName(name).SetAsString(value);
    scoped.Table().Post();
  }
}

}  // namespace kx8::schema

#endif  // KX8_TESTS_SCHEMA_OLDER_RELEASE_TABLES_H_
