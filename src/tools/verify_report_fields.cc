#include "tools/verify_report_fields.h"

#include <array>
#include <map>
#include <optional>

#include "dbaccess/db_table.h"
#include "platform/path.h"
#include "schema/report_fields.h"
#include "support/credentials.h"

namespace kx8::tools {
namespace {

using schema::ExpectedReportRow;
using schema::kReportColumnCount;
using schema::kReportColumns;

// A cell as the company holds it; nullopt for a column the table lacks.
using Cells = std::array<std::optional<std::string>, kReportColumnCount>;

std::string Shown(const std::string& value) { return value.empty() ? "empty" : value; }

}  // namespace

std::vector<std::string> VerifyReportFields(dbaccess::TDbConnection& company, const std::string& folder) {
  std::vector<std::string> differences;
  if (!platform::FileExists(folder + "\\RTABLE.KDT")) return differences;
  std::map<int, Cells> rows;
  {
    dbaccess::TDbTable t;
    t.SetDbConnection(&company);
    t.SetTableName("RTABLE");
    t.SetReadOnly(true);
    t.Open();
    if (!company.IsDictionaryConnection() && t.IsTableEncrypted()) {
      t.EnableEncryption(support::AdministratorPassword());
    }
    for (const char* column : kReportColumns) {
      if (t.FindField(column) == nullptr) differences.push_back(std::string("RTABLE ") + column + " missing");
    }
    if (t.FindField("NO") != nullptr) {
      for (t.First(); !t.Eof(); t.Next()) {
        Cells cells;
        for (int i = 0; i < kReportColumnCount; ++i) {
          if (dbaccess::TField* f = t.FindField(kReportColumns[i])) cells[i] = f->AsString();
        }
        const std::string& no = *cells[0];
        if (no.empty()) continue;
        // The first row of a number counts, as the number's index finds it.
        rows.try_emplace(std::stoi(no), cells);
      }
    }
    t.Close();
  }
  for (const auto& [no, expected] : schema::ExpectedReportRows()) {
    const std::string name = "RTABLE NO " + std::to_string(no);
    auto found = rows.find(no);
    if (found == rows.end()) {
      if (expected.presence == ExpectedReportRow::Presence::Always) differences.push_back(name + " missing");
      continue;
    }
    if (expected.presence == ExpectedReportRow::Presence::Never) {
      differences.push_back(name + " present, expected none");
      continue;
    }
    for (int i = 1; i < kReportColumnCount; ++i) {
      const std::optional<std::string>& want = expected.values[i];
      const std::optional<std::string>& have = found->second[i];
      if (!want || !have || *want == *have) continue;
      differences.push_back(name + " " + kReportColumns[i] + " " + Shown(*have) + ", expected " + Shown(*want));
    }
  }
  return differences;
}

}  // namespace kx8::tools
