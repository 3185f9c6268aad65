// A company as the conversions see it (the schema fixture), with the reads
// their tests share: a table's rows as texts, and its indexes; and company
// tables made with their key tags, stored encrypted as the application keeps
// them on a free-table company, or bound to a dictionary.
#ifndef KX8_TESTS_CONVERSIONS_CONVERSION_FIXTURE_H_
#define KX8_TESTS_CONVERSIONS_CONVERSION_FIXTURE_H_

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "../schema/schema_fixture.h"

namespace kx8::conversions {

class ConversionTest : public schema::SchemaTest {
 protected:
  struct Table {
    std::string name;
    std::vector<dbaccess::TFieldDef> fields;
    std::vector<std::string> indexes;  // ";"-separated key fields; the first is unique
    std::vector<std::vector<std::string>> rows;
    bool encrypted = true;  // kept encrypted by the application
  };

  // A new company folder for the next case of a table.
  void Fresh() {
    TearDown();
    SetUp();
    kdd_.clear();
    ui_.Clear();
    edit1_.clear();
    edit1_history_.clear();
  }

  // Makes the company's tables: free tables (the encrypted ones encrypted
  // with the administrator password), or, with `dictionary`, tables bound
  // to the company's dictionary with its encryption.
  void MakeCompany(const std::vector<Table>& tables, bool dictionary) {
    std::vector<std::pair<std::string, bool>> bound;
    for (const Table& t : tables) {
      MakeTable(t.name, t.fields, t.rows);
      dbaccess::TDbScopedTable s;
      s.Connection().SetConnectPath(folder_);
      s.Table().SetTableName(t.name);
      for (std::size_t i = 0; i < t.indexes.size(); ++i) {
        dbaccess::TIndexOptions options = {dbaccess::ixExpression};
        if (i == 0) options.Include(dbaccess::ixUnique);
        s.Table().AddIndex(i == 0 ? "PRIMARY" : "IX" + std::to_string(i), t.indexes[i], options);
      }
      if (t.encrypted && !dictionary) {
        s.Table().SetExclusive(true);
        s.Table().Open();
        s.Table().EnableEncryption(support::AdministratorPassword());
        s.Table().EncryptTable();
      }
      bound.emplace_back(t.name, t.encrypted);
    }
    if (dictionary) MakeDictionary(bound);
  }

  // Every row of the table in record order, its fields joined by "|".
  std::vector<std::string> Rows(const std::string& table, const std::vector<std::string>& fields) {
    std::vector<std::string> out;
    WithTable(table, [&](dbaccess::TDbTable& t) {
      for (t.First(); !t.Eof(); t.Next()) {
        std::string line;
        for (const std::string& f : fields) line += (line.empty() ? "" : "|") + t.FieldByName(f).AsString();
        out.push_back(line);
      }
    });
    return out;
  }

  // The same, sorted.
  std::vector<std::string> SortedRows(const std::string& table, const std::vector<std::string>& fields) {
    std::vector<std::string> out = Rows(table, fields);
    std::sort(out.begin(), out.end());
    return out;
  }

  // The table's indexes as "NAME:FIELDS", with ":U" when unique.
  std::vector<std::string> Indexes(const std::string& table) {
    std::vector<std::string> out;
    WithTable(table, [&](dbaccess::TDbTable& t) {
      t.RefreshIndexDefs();
      for (const dbaccess::TIndexDef& d : t.IndexDefs().Items()) {
        out.push_back(d.Name + ":" + d.Fields + (d.Options.Contains(dbaccess::ixUnique) ? ":U" : ""));
      }
    });
    return out;
  }

  // Adds an index to a table of the company folder.
  void AddIndex(const std::string& table, const std::string& name, const std::string& fields,
                dbaccess::TIndexOptions options = {}) {
    dbaccess::TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName(table);
    t.Table().AddIndex(name, fields, options);
  }

  static std::vector<dbaccess::TFieldDef> Texts(const std::vector<std::string>& names, int size = 12) {
    std::vector<dbaccess::TFieldDef> defs;
    for (const std::string& n : names) defs.push_back({n, dbaccess::ftString, size, 0});
    return defs;
  }
};

}  // namespace kx8::conversions

#endif  // KX8_TESTS_CONVERSIONS_CONVERSION_FIXTURE_H_
