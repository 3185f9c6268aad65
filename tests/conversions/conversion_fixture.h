// A company as the conversions see it (the schema fixture), with the reads
// their tests share: a table's rows as texts, and its indexes.
#ifndef KX8_TESTS_CONVERSIONS_CONVERSION_FIXTURE_H_
#define KX8_TESTS_CONVERSIONS_CONVERSION_FIXTURE_H_

#include <string>
#include <vector>

#include "../schema/schema_fixture.h"

namespace kx8::conversions {

class ConversionTest : public schema::SchemaTest {
 protected:
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
};

}  // namespace kx8::conversions

#endif  // KX8_TESTS_CONVERSIONS_CONVERSION_FIXTURE_H_
