#include "test_root.h"

#include <filesystem>

#include "../schema/levy_fill_in_tables.h"
#include "../schema/older_release_tables.h"
#include "../schema/report_tables.h"
#include "dbaccess/db_scoped_table.h"
#include "platform/scripted_ui.h"
#include "register/company_register.h"

namespace kx8::testroot {

namespace {

// The tables a pass opens at this stage besides PAYPARA (the encryption
// fix-ups, the column runs and their seed steps): character fields, one row
// or none, and an index tag named after its field. The list grows with the
// steps of the pass.
struct TableSpec {
  const char* name;
  std::vector<const char*> fields;
  bool with_row;
  const char* index = nullptr;
};
const std::vector<TableSpec>& CompanyTables() {
  static const std::vector<TableSpec> tables = {
      {"transfer", {"CODE"}, true},
      {"PASS", {"CODE"}, true},
      {"EMP_ALW", {"CODE"}, true},
      {"TRNNO", {"CODE"}, true},
      {"EMPMISC", {"CODE"}, true},
      {"FREEFIELD", {"MODULE", "LINE", "CTLFIELD", "DESCRIPTION", "CAPTION"}, false},
      {"LIST", {"VALUE"}, false},
      {"FORMULA", {"FIELD", "DESC", "FIELDTABLE", "TABLE"}, false, "FIELD"},
      {"IRDX8A", {"EMPCODE"}, false},
      {"IR8AR", {"EMPCODE"}, false},
      {"IR8AREC", {"EMPCODE"}, false},
      {"IR8S", {"EMPCODE"}, false},
      {"IRREFUND", {"EMPCODE"}, false},
      {"TEMPPAYGROUP", {"PAYGROUP", "YEAR", "MONTH", "TYPE"}, false},
      {"RPTRX", {"EMPCODE", "PAYCODE", "PERIOD", "CYCLE"}, false},
  };
  return tables;
}

}  // namespace

void MakeRoot(const std::string& root, const std::vector<Company>& companies) {
  std::filesystem::create_directories(root);
  platform::ScriptedUi quiet;
  reg::CreateRegister(root, false, quiet);
  {
    dbaccess::TDbScopedTable reg;
    reg.Connection().SetConnectPath(root);
    reg.Table().SetTableName("mcompany.KDT");
    reg.Table().Open();
    for (const Company& c : companies) {
      reg.Table().Append();
      reg.Table().FieldByName("COMPANY_CODE").SetAsString(c.code);
      reg.Table().FieldByName("COMPANY_NAME").SetAsString(c.name);
      reg.Table().FieldByName("MERGE").SetAsString(c.merge);
      reg.Table().Post();
    }
  }
  for (const Company& c : companies) {
    if (!c.with_folder) continue;
    std::filesystem::create_directories(root + "COMPANY/" + c.code);
    {
      dbaccess::TDbScopedTable t;
      t.Connection().SetConnectPath(root + "COMPANY\\" + c.code);
      t.Table().SetTableName("PAYPARA");
      t.Table().FieldDefs().Add("VERSION", dbaccess::ftBCD);
      t.Table().CreateTable();
      t.Table().Open();
      t.Table().Append();
      t.Table().FieldByName("VERSION").SetAsString(c.version);
      t.Table().Post();
    }
    for (const TableSpec& spec : CompanyTables()) {
      dbaccess::TDbScopedTable t;
      t.Connection().SetConnectPath(root + "COMPANY\\" + c.code);
      t.Table().SetTableName(spec.name);
      for (const char* field : spec.fields) t.Table().FieldDefs().Add(field, dbaccess::ftString, 40);
      t.Table().CreateTable();
      if (spec.index != nullptr) t.Table().AddIndex(spec.index, spec.index, {dbaccess::ixExpression});
      if (!spec.with_row) continue;
      t.Table().Open();
      t.Table().Append();
      t.Table().FieldByName(spec.fields.front()).SetAsString("A1");
      t.Table().Post();
    }
    // The data steps of a release below 8.60 need these.
    schema::MakeOlderReleaseTables(root + "COMPANY\\" + c.code);
    schema::MakeLevyAndFillInTables(root + "COMPANY\\" + c.code);
    schema::MakeReportTables(root + "COMPANY\\" + c.code);
  }
}

std::vector<std::string> RegisterSelection(const std::string& root) {
  dbaccess::TDbScopedTable reg;
  reg.Connection().SetConnectPath(root);
  reg.Table().SetTableName("mcompany.KDT");
  reg.Table().SetIndexFieldNames("COMPANY_CODE");
  reg.Table().Open();
  std::vector<std::string> out;
  for (reg.Table().First(); !reg.Table().Eof(); reg.Table().Next()) {
    out.push_back(reg.Table().FieldByName("COMPANY_CODE").AsString() + "=" +
                  reg.Table().FieldByName("MERGE").AsString());
  }
  return out;
}

std::string StoredVersion(const std::string& root, const std::string& code) {
  dbaccess::TDbScopedTable t;
  t.Connection().SetConnectPath(root + "COMPANY\\" + code);
  t.Table().SetTableName("PAYPARA");
  t.Table().Open();
  return t.Table().FieldByName("VERSION").AsString();
}

}  // namespace kx8::testroot
