// A company with the report field catalogue RTABLE (and what the report
// steps read besides), the main window's TableRtable on it, and the rows
// read back as text.
#ifndef KX8_TESTS_SCHEMA_RTABLE_FIXTURE_H_
#define KX8_TESTS_SCHEMA_RTABLE_FIXTURE_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "report_tables.h"
#include "schema/report_fields.h"
#include "schema_fixture.h"

namespace kx8::schema {

class RtableTest : public SchemaTest {
 protected:
  void TearDown() override {
    rtable_.reset();
    SchemaTest::TearDown();
  }

  // RTABLE as the application creates it, unique on NO; rows as
  // "NO|NO2|HEADING|DATABASE1|FIELD|CODE|WIDTH|TYPE1|HIDE_WAGE".
  // With `unique_no2` NO2 is unique too, so that a save can be made to fail.
  void MakeRtable(const std::vector<std::string>& rows, bool unique_no2 = false) {
    using namespace dbaccess;
    MakeTable("RTABLE", RtableFields(), Split(rows));
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName("RTABLE");
    t.Table().AddIndex("PRIMARY", "NO", {ixUnique, ixExpression});
    if (unique_no2) t.Table().AddIndex("NO2", "NO2", {ixUnique, ixExpression});
  }

  static std::vector<std::vector<std::string>> Split(const std::vector<std::string>& rows) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& row : rows) {
      std::vector<std::string> values;
      std::size_t pos = 0;
      while (true) {
        std::size_t bar = row.find('|', pos);
        values.push_back(row.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos));
        if (bar == std::string::npos) break;
        pos = bar + 1;
      }
      out.push_back(values);
    }
    return out;
  }

  // The main window's TableRtable on the company (after Context()).
  dbaccess::TDbTable& Rtable() {
    if (!rtable_) {
      rtable_ = std::make_unique<dbaccess::TDbTable>();
      SetUpTableRtable(*rtable_, *company_, ui_);
    }
    return *rtable_;
  }

  // Every row of a table as its fields joined by "|", in record order.
  std::vector<std::string> Rows(const std::string& table) {
    std::vector<std::string> out;
    WithTable(table, [&](dbaccess::TDbTable& t) {
      for (t.First(); !t.Eof(); t.Next()) {
        std::string line;
        for (int i = 0; i < t.FieldCount(); ++i) line += (i == 0 ? "" : "|") + t.Fields(i).AsString();
        out.push_back(line);
      }
    });
    return out;
  }

  // RTABLE by number: "NO2|HEADING|...|HIDE_WAGE".
  std::map<std::string, std::string> ByNumber() {
    std::map<std::string, std::string> out;
    for (const std::string& row : Rows("RTABLE")) {
      const std::size_t bar = row.find('|');
      out[row.substr(0, bar)] = row.substr(bar + 1);
    }
    return out;
  }

  std::unique_ptr<dbaccess::TDbTable> rtable_;
};

}  // namespace kx8::schema

#endif  // KX8_TESTS_SCHEMA_RTABLE_FIXTURE_H_
