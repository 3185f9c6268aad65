// Tables that the data steps of a company pass read and change: those of
// column run 14 for a company below release 8.60 (PAYPARA2, EMP_PROS,
// RP_HTRX and CODE) and the employee master with the career table for the
// conversions. For the fixtures that run whole company passes. Each has
// one row to show what the steps did, its key tags, and already has every
// column the catalogue names for it, so that the column runs pass it by
// and the fixtures stay quick.
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
    std::vector<std::pair<const char*, const char*>> row;  // text fields but NEW_SALARY, ID and dates
    std::vector<const char*> indexes;
  };
  const Table tables[] = {
      {"PAYPARA2", {{"YEAR", "2009"}}, {}},
      {"EMP_PROS",
       {{"EMP_CODE", "E1"},
        {"NEW_SALARY", "2500"},
        {"ID", "1"},
        {"PROGRESSION_DATE", "2005-01-01"},
        {"PAY_EFFECTIVE_DATE", "2005-01-01"},
        {"CATEGORY", "EXE"},
        {"COST_CENTRE", "CC1"}},
       {"EMP_CODE;PAY_EFFECTIVE_DATE;ID", "EMP_CODE;PROGRESSION_DATE"}},
      {"EMPLOYEE",
       {{"EMP_NO", "E1"},
        {"NEW_IC", "S1234567A"},
        {"INCOME_TAX_AC_NO", ""},
        {"EMP_PASS_AC_NO", ""},
        {"TERMINATION_STATUS", ""},
        {"TERMINATION_DATE", ""},
        {"DIVISION_CODE", "NORTH"},
        {"COST_CENTRE_CODE", "CC1"},
        {"PHOTO_ID", ""}},
       {"EMP_NO"}},
      {"RP_HTRX", {{"EMPCODE", "E1"}}, {}},
      {"CODE", {{"CODE", "A"}, {"DESC", "Alpha"}, {"N1CLAIM", "CLM1"}}, {}},
  };
  auto type_of = [](const std::string& name) {
    if (name == "NEW_SALARY") return dbaccess::ftCurrency;
    if (name == "ID") return dbaccess::ftInteger;
    if (name == "PHOTO_ID") return dbaccess::ftBlob;
    if (name.ends_with("_DATE")) return dbaccess::ftDate;
    return dbaccess::ftString;
  };
  for (const Table& t : tables) {
    std::vector<dbaccess::TFieldDef> own;
    for (const auto& [name, value] : t.row) {
      own.push_back({name, type_of(name), type_of(name) == dbaccess::ftString ? 16 : 0, 0});
    }
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(folder);
    scoped.Table().SetTableName(t.name);
    // Every column the catalogue issues for the table is there already,
    // in the form the column runs leave it.
    ApplyIssuedColumns(t.name, own);
    for (const dbaccess::TFieldDef& d : own) scoped.Table().FieldDefs().Add(d);
    scoped.Table().CreateTable();
    for (const char* index : t.indexes) scoped.Table().AddIndex(index, index, {dbaccess::ixExpression});
    scoped.Table().Open();
    scoped.Table().Append();
    for (const auto& [name, value] : t.row) scoped.Table().FieldByName(name).SetAsString(value);
    scoped.Table().Post();
  }
}

}  // namespace kx8::schema

#endif  // KX8_TESTS_SCHEMA_OLDER_RELEASE_TABLES_H_
