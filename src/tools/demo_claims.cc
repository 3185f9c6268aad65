#include "tools/demo_claims.h"

#include <string>
#include <utility>
#include <vector>

#include "dbaccess/db_table.h"
#include "support/credentials.h"

namespace kx8::tools {
namespace {

using Values = std::vector<std::pair<const char*, std::string>>;

constexpr const char* kElevenTierCategory = "MGT";
constexpr const char* kElevenTierCode = "SPL";
constexpr int kElevenTiers = 11;

constexpr const char* kNumberedAppraisalId = "70000";
constexpr const char* kDetailIds[] = {"0", "12"};
constexpr const char* kAppraisalCounter = "65534";

// Opens a table of the company folder, encrypted or not.
void OpenDemoTable(dbaccess::TDbTable& t, dbaccess::TDbConnection& c, const char* name) {
  t.SetDbConnection(&c);
  t.SetTableName(std::string(name) + ".KDT");
  t.Open();
  if (t.IsTableEncrypted()) t.EnableEncryption(support::AdministratorPassword());
}

void AddRows(dbaccess::TDbConnection& c, const char* table, const std::vector<Values>& rows) {
  dbaccess::TDbTable t;
  OpenDemoTable(t, c, table);
  for (const Values& row : rows) {
    t.Append();
    for (const auto& [field, value] : row) t.FieldByName(field).SetAsString(value);
    t.Post();
  }
}

bool HasField(dbaccess::TDbConnection& c, const char* table, const char* field) {
  dbaccess::TDbTable t;
  OpenDemoTable(t, c, table);
  return t.FindField(field) != nullptr;
}

std::string FirstEmployee(dbaccess::TDbConnection& c) {
  dbaccess::TDbTable t;
  OpenDemoTable(t, c, "EMPLOYEE");
  t.SetIndexFieldNames("EMP_NO");
  t.First();
  return t.FieldByName("EMP_NO").AsString();
}

}  // namespace

void AddClaimAndRecordRows(dbaccess::TDbConnection& c, const DemoOptions& options) {
  std::vector<Values> tiers;
  for (int k = 1; k <= kElevenTiers; ++k) {
    tiers.push_back({{"CATEGORY", kElevenTierCategory},
                     {"MEDICAL_CODE", kElevenTierCode},
                     {"MAX_CLAIM", std::to_string(100 * k)},
                     {"FROM", std::to_string(k - 1)},
                     {"TO", std::to_string(k)}});
  }
  AddRows(c, "MEDTABLE", tiers);

  // A scheme code of the old claim setup, whose description the scheme of
  // the same code replaces.
  AddRows(c, "CODE", {{{"CATEGORY", "BEN"}, {"CODE", "MGT"}, {"DESC", "OLD MANAGEMENT SCHEME"}}});

  const std::string first = FirstEmployee(c);
  AddRows(c, "FAMILY",
          {{{"EMP_CODE", first}, {"RELATIONSHIP", "SON"}, {"NAME", "LITTLE ONE"}, {"IC_PASSPORT_NUM", "T0912345C"}}});

  if (!HasField(c, "APPR", "ID")) return;
  const std::string date = std::to_string(options.last_year - 3) + "-06-30";
  AddRows(c, "APPR", {{{"EMP_CODE", first}, {"APPRAISAL_DATE", date}, {"SCORE", "75"}, {"ID", kNumberedAppraisalId}}});
  std::vector<Values> details;
  for (const char* id : kDetailIds) {
    details.push_back({{"EMPCODE", first},
                       {"APPRAISAL_DATE", date},
                       {"DATE_SERIALNUM", std::to_string(details.size() + 1)},
                       {"ITEM", "QUALITY"},
                       {"ID", id}});
  }
  AddRows(c, "APPRDTL", details);
  dbaccess::TDbTable counters;
  OpenDemoTable(counters, c, "TRNNO");
  counters.First();
  counters.Edit();
  counters.FieldByName("AUTO6").SetAsString(kAppraisalCounter);
  counters.Post();
}

}  // namespace kx8::tools
