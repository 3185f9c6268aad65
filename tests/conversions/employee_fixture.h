// A company whose employee tables have the current release's columns and
// indexes (the demo data's definitions with every issued column applied),
// filled with rows given as field/value lists, for the employee conversions.
#ifndef KX8_TESTS_CONVERSIONS_EMPLOYEE_FIXTURE_H_
#define KX8_TESTS_CONVERSIONS_EMPLOYEE_FIXTURE_H_

#include <stdlib.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "../schema/schema_fixture.h"
#include "tools/demo_builder.h"
#include "tools/demo_tables.h"

namespace kx8::conversions {

namespace fs = std::filesystem;
using Row = std::vector<std::pair<std::string, std::string>>;

class EmployeeTablesTest : public schema::SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    // "c:\..." is this folder for the test.
    drive_c_ = base_ / "drive_c";
    fs::create_directories(drive_c_);
    ::setenv("KX8_DRIVE_C", drive_c_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("KX8_DRIVE_C");
    SchemaTest::TearDown();
  }

  // Creates the table as the current release has it (encrypted on a free-
  // table company when the application keeps it so), with the rows.
  void MakeReleaseTable(const std::string& name, const std::vector<Row>& rows = {},
                        const std::string& folder = "") {
    const tools::TableDefinition* def = tools::FindDemoTable(name);
    ASSERT_NE(def, nullptr) << name;
    dbaccess::TDbScopedTable t;
    t.Connection().SetConnectPath(folder.empty() ? folder_ : folder);
    t.Table().SetTableName(name);
    for (const tools::FieldSpec& f : tools::FieldsAtRelease(*def, 9.07)) t.Table().FieldDefs().Add(f.name, f.type, f.size);
    for (const tools::IndexSpec& ix : tools::ParseIndexList(def->indexes)) {
      t.Table().IndexDefs().Add(ix.name, ix.fields, ix.options);
    }
    t.Table().CreateTable();
    t.Table().SetExclusive(true);
    t.Table().Open();
    if (def->encrypted && folder.empty()) {
      t.Table().EnableEncryption(support::AdministratorPassword());
      t.Table().EncryptTable();
    }
    for (const Row& row : rows) {
      t.Table().Append();
      for (const auto& [field, value] : row) t.Table().FieldByName(field).SetAsString(value);
      t.Table().Post();
    }
  }

  // The values of the fields, "|"-joined, one string per row in the order.
  std::vector<std::string> Rows(const std::string& table, const std::vector<std::string>& fields,
                                const std::string& order = "") {
    std::vector<std::string> out;
    WithTable(table, [&](dbaccess::TDbTable& t) {
      if (!order.empty()) t.SetIndexFieldNames(order);
      for (t.First(); !t.Eof(); t.Next()) {
        std::string line;
        for (std::size_t i = 0; i < fields.size(); ++i) line += (i == 0 ? "" : "|") + t.FieldByName(fields[i]).AsString();
        out.push_back(line);
      }
    });
    return out;
  }

  // Every field of every row of the tables, for comparing whole states.
  std::map<std::string, std::vector<std::string>> Snapshot(const std::vector<std::string>& tables) {
    std::map<std::string, std::vector<std::string>> out;
    for (const std::string& table : tables) {
      WithTable(table, [&](dbaccess::TDbTable& t) {
        for (t.First(); !t.Eof(); t.Next()) {
          std::string line;
          for (int i = 0; i < t.FieldCount(); ++i) line += t.Fields(i).AsString() + "|";
          out[table].push_back(line);
        }
      });
    }
    return out;
  }

  // The native path of a file under "c:\".
  std::string OnDriveC(const std::string& relative) const { return (drive_c_ / relative).string(); }

  fs::path drive_c_;
};

}  // namespace kx8::conversions

#endif  // KX8_TESTS_CONVERSIONS_EMPLOYEE_FIXTURE_H_
