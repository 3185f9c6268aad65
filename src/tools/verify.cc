#include "tools/verify.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "platform/path.h"
#include "support/credentials.h"
#include "tools/verify_report_fields.h"

namespace kx8::tools {
namespace {

using namespace kx8::dbaccess;

// The release version the upgrade stamps, in ten-thousandths.
constexpr long long kReleaseVersion = 90700;

std::string VersionText(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

}  // namespace

std::vector<std::string> VerifyCompany(const std::string& folder_arg, const std::vector<ReleaseColumn>& columns) {
  std::vector<std::string> differences;
  TDbConnection c;
  const std::string folder = schema::ConnectToCompany(c, folder_arg);

  auto has_table = [&](const std::string& table) { return platform::FileExists(folder + "\\" + table + ".KDT"); };

  if (!has_table("PAYPARA")) {
    differences.push_back("PAYPARA missing");
  } else {
    TDbTable t;
    t.SetDbConnection(&c);
    t.SetTableName("PAYPARA");
    t.SetReadOnly(true);
    t.Open();
    if (!c.IsDictionaryConnection() && t.IsTableEncrypted()) t.EnableEncryption(support::AdministratorPassword());
    t.First();
    if (t.Eof()) {
      differences.push_back("PAYPARA has no row");
    } else {
      TField* version = t.FindField("VERSION");
      if (version == nullptr) {
        differences.push_back("PAYPARA VERSION missing");
      } else if (std::llround(version->AsCurrency() * 10000) != kReleaseVersion) {
        differences.push_back("PAYPARA VERSION " +
                              (version->IsNull() ? std::string("empty") : VersionText(version->AsCurrency())) +
                              ", expected 9.07");
      }
    }
    t.Close();
  }

  for (std::string& line : VerifyReportFields(c, folder)) differences.push_back(std::move(line));
  c.SetIsConnected(false);
  for (std::string& line : schema::CheckReleaseColumns(folder_arg, columns)) differences.push_back(std::move(line));
  return differences;
}

}  // namespace kx8::tools
