// The tables that the levy steps and the fill-in statements of a company
// pass need (FW_LEVY, PAYPARA1, CPFNEW, QUERY, P_HTRX, YTDEMPL, RBITEM,
// TRAINING, MEDSCH), empty and with every column the catalogue names for
// them, for the fixtures that run whole company passes.
#ifndef KX8_TESTS_SCHEMA_LEVY_FILL_IN_TABLES_H_
#define KX8_TESTS_SCHEMA_LEVY_FILL_IN_TABLES_H_

#include <string>
#include <vector>

#include "dbaccess/db_scoped_table.h"
#include "schema/catalogue.h"

namespace kx8::schema {

// Creates the tables in a company folder (not encrypted); FW_LEVY has its
// key "PRIMARY" on YEAR, CLASS and CATEGORY.
inline void MakeLevyAndFillInTables(const std::string& folder) {
  using dbaccess::ftCurrency;
  using dbaccess::ftFloat;
  using dbaccess::ftInteger;
  using dbaccess::ftString;
  struct Table {
    const char* name;
    std::vector<dbaccess::TFieldDef> fields;
  };
  const Table tables[] = {
      {"FW_LEVY",
       {{"YEAR", ftString, 4, 0},
        {"CLASS", ftString, 8, 0},
        {"CATEGORY", ftString, 8, 0},
        {"DESC", ftString, 30, 0},
        {"DAILY_RATE", ftCurrency, 0, 0},
        {"MAX_PER_MTH", ftCurrency, 0, 0}}},
      {"PAYPARA1", {{"YEAR", ftString, 4, 0}, {"SDF_MAX", ftFloat, 0, 0}, {"SDF_MIN", ftFloat, 0, 0}, {"SDF", ftFloat, 0, 0}}},
      {"CPFNEW", {{"YEAR", ftString, 4, 0}, {"CPF_CAT", ftString, 8, 0}, {"CPF_AGE_TYPE", ftString, 2, 0}}},
      {"QUERY", {{"CODE", ftString, 8, 0}, {"LINE", ftInteger, 0, 0}}},
      {"P_HTRX", {{"EMPCODE", ftString, 12, 0}, {"NETT_WAGE", ftCurrency, 0, 0}}},
      {"YTDEMPL", {{"EMPCODE", ftString, 12, 0}, {"CPFOWWAGE", ftCurrency, 0, 0}, {"CPFAWWAGE", ftCurrency, 0, 0}}},
      {"RBITEM", {{"ITEMID", ftInteger, 0, 0}}},
      {"TRAINING", {{"EMP_CODE", ftString, 12, 0}}},
      {"MEDSCH", {{"SCHEME_CODE", ftString, 8, 0}, {"CLAIM_CODE", ftString, 8, 0}}},
  };
  for (const Table& t : tables) {
    std::vector<dbaccess::TFieldDef> fields = t.fields;
    ApplyIssuedColumns(t.name, fields);
    dbaccess::TDbScopedTable scoped;
    scoped.Connection().SetConnectPath(folder);
    scoped.Table().SetTableName(t.name);
    for (const dbaccess::TFieldDef& d : fields) scoped.Table().FieldDefs().Add(d);
    scoped.Table().CreateTable();
  }
  dbaccess::TDbScopedTable levy;
  levy.Connection().SetConnectPath(folder);
  levy.Table().SetTableName("FW_LEVY");
  levy.Table().AddIndex("PRIMARY", "YEAR;CLASS;CATEGORY", {dbaccess::ixUnique});
}

}  // namespace kx8::schema

#endif  // KX8_TESTS_SCHEMA_LEVY_FILL_IN_TABLES_H_
