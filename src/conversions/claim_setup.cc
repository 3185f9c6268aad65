#include "conversions/claim_setup.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "conversions/column_values.h"
#include "conversions/company_table.h"
#include "conversions/record_counter.h"
#include "dbaccess/db_query.h"
#include "support/credentials.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbDataSet;
using dbaccess::TDbTable;

// The fields the rebuild reads or writes, by table.
struct NeededFields {
  const char* table;
  std::vector<const char*> fields;
};
const NeededFields kLimitFields = {"MEDTABLE", {"CATEGORY", "MEDICAL_CODE", "ID", "MAX_CLAIM", "FROM", "TO"}};
const NeededFields kTierFields = {"MEDTBL", {"TRNNO", "ID", "MAX_CLAIM", "FROM", "TO"}};
const NeededFields kSetupFields = {"MEDSCH", {"SCHEME_CODE", "CLAIM_CODE", "CLAIMTYPE", "TRNNO", "ITEMTYPE"}};

constexpr char kLimitOrder[] = "CATEGORY;MEDICAL_CODE;ID";
constexpr char kTierOrder[] = "TRNNO;ID";
constexpr char kClaimRowOrder[] = "SCHEME_CODE;CLAIM_CODE;SUBCLAIM;CLAIMTYPE";
constexpr char kSetupCounter[] = "auto2";
constexpr char kLimitClaimType[] = "0";
constexpr char kLimitItemType[] = "F";
constexpr char kSchemeClaimType[] = "1";

void RequireFields(TDbDataSet& ds, const NeededFields& needed) {
  for (const char* field : needed.fields) {
    if (ds.FindField(field) == nullptr) throw std::runtime_error(std::string(needed.table) + " has no field " + field + ".");
  }
}

std::optional<double> Amount(TDbDataSet& ds, const char* field) {
  const dbaccess::TField& f = ds.FieldByName(field);
  if (f.IsNull()) return std::nullopt;
  return f.AsFloat();
}

void SetAmount(TDbDataSet& ds, const char* field, const std::optional<double>& v) {
  if (v) ds.FieldByName(field).SetAsFloat(*v);
}

// One limit tier: its limit and the range it applies to.
struct Tier {
  std::optional<double> max_claim, from, to;
  bool operator==(const Tier&) const = default;
};

// A numbered claim setup row with its tiers.
struct Setup {
  std::string scheme, claim;
  std::int64_t number = 0;
  std::array<Tier, kClaimTiers> tiers;
};

// What the rebuild makes of MEDTABLE: the rows of a category and medical
// code go, in key order, into the first tier without a limit (empty or 0),
// so a row without a limit leaves that tier open for the next one.
std::vector<Setup> PlanSetup(TDbTable& limits) {
  std::vector<Setup> plan;
  for (limits.First(); !limits.Eof(); limits.Next()) {
    const std::string scheme = limits.FieldByName("CATEGORY").AsString();
    const std::string claim = limits.FieldByName("MEDICAL_CODE").AsString();
    if (plan.empty() || plan.back().scheme != scheme || plan.back().claim != claim) {
      plan.push_back({scheme, claim, kClaimSetupNumberBase + static_cast<std::int64_t>(plan.size()) + 1, {}});
    }
    std::array<Tier, kClaimTiers>& tiers = plan.back().tiers;
    auto open = std::find_if(tiers.begin(), tiers.end(), [](const Tier& t) { return t.max_claim.value_or(0) == 0; });
    if (open == tiers.end()) continue;  // every tier has its limit: the row is not carried
    *open = {Amount(limits, "MAX_CLAIM"), Amount(limits, "FROM"), Amount(limits, "TO")};
  }
  return plan;
}

using SetupRow = std::tuple<std::string, std::string, std::int64_t, std::string, std::string>;
using TierRow = std::pair<std::int64_t, Tier>;

// Whether MEDSCH's numbered rows, all of MEDTBL and the counter are what
// the plan makes. Rows without a number (the scheme claim rows) do not
// count.
bool AlreadyBuilt(const std::vector<Setup>& plan, TDbDataSet& setup, TDbTable& tiers, RecordCounter& counter) {
  if (counter.Value() != kClaimSetupNumberBase + static_cast<std::int64_t>(plan.size())) return false;
  std::vector<SetupRow> want_setup, have_setup;
  std::vector<TierRow> want_tiers, have_tiers;
  for (const Setup& s : plan) {
    want_setup.emplace_back(s.scheme, s.claim, s.number, kLimitClaimType, kLimitItemType);
    for (const Tier& t : s.tiers) want_tiers.emplace_back(s.number, t);
  }
  for (setup.First(); !setup.Eof(); setup.Next()) {
    const std::int64_t number = setup.FieldByName("TRNNO").AsInteger();
    if (number == 0) continue;
    have_setup.emplace_back(setup.FieldByName("SCHEME_CODE").AsString(), setup.FieldByName("CLAIM_CODE").AsString(),
                            number, setup.FieldByName("CLAIMTYPE").AsString(),
                            setup.FieldByName("ITEMTYPE").AsString());
  }
  for (tiers.First(); !tiers.Eof(); tiers.Next()) {
    have_tiers.emplace_back(tiers.FieldByName("TRNNO").AsInteger(),
                            Tier{Amount(tiers, "MAX_CLAIM"), Amount(tiers, "FROM"), Amount(tiers, "TO")});
  }
  std::sort(have_setup.begin(), have_setup.end());
  std::sort(want_setup.begin(), want_setup.end());
  return have_setup == want_setup && have_tiers == want_tiers;
}

void DeleteEveryRow(TDbDataSet& ds) {
  ds.First();
  while (!ds.Eof()) ds.Delete();
}

// Saves the appended row; a failed save leaves no pending row behind.
template <typename Fill>
void AppendRow(TDbDataSet& ds, Fill fill) {
  ds.Append();
  try {
    fill();
    ds.Post();
  } catch (...) {
    ds.Cancel();
    throw;
  }
}

void WriteSetup(const Setup& s, TDbDataSet& setup, TDbTable& tiers) {
  for (const Tier& t : s.tiers) {
    AppendRow(tiers, [&] {
      tiers.FieldByName("TRNNO").SetAsInteger(s.number);
      SetAmount(tiers, "MAX_CLAIM", t.max_claim);
      SetAmount(tiers, "FROM", t.from);
      SetAmount(tiers, "TO", t.to);
    });
  }
  AppendRow(setup, [&] {
    setup.FieldByName("TRNNO").SetAsInteger(s.number);
    setup.FieldByName("ITEMTYPE").SetAsString(kLimitItemType);
    setup.FieldByName("SCHEME_CODE").SetAsString(s.scheme);
    setup.FieldByName("CLAIM_CODE").SetAsString(s.claim);
    setup.FieldByName("CLAIMTYPE").SetAsString(kLimitClaimType);
  });
}

void OpenStatement(schema::UpgradeContext& ctx, dbaccess::TDbQuery& q, const char* sql, const char* table,
                   bool live) {
  q.SetDbConnection(&ctx.company);
  q.DbTableOptions().SetDbRightsCheck(false);
  q.SetRequestLive(live);
  q.SQL().Clear();
  q.SQL().Add(sql);
  if (!ctx.company.IsDictionaryConnection()) {
    q.SetStatementPassword(support::AdministratorPassword());
    q.SetTablePassword(table, support::AdministratorPassword());
  }
  q.Open();
}

}  // namespace

void RebuildClaimSetup(schema::UpgradeContext& ctx) {
  std::optional<CompanyTable> limits, tiers;
  std::optional<RecordCounter> counter;
  dbaccess::TDbQuery setup;
  std::vector<Setup> plan;
  // Nothing is changed before everything the rebuild needs is known to be
  // there: a setup deleted and then not rebuilt would lose the company's
  // claim limits.
  try {
    limits.emplace(ctx, kLimitFields.table, kLimitOrder);
    RequireFields(**limits, kLimitFields);
    tiers.emplace(ctx, kTierFields.table, kTierOrder);
    RequireFields(**tiers, kTierFields);
    counter.emplace(ctx, kSetupCounter);
    OpenStatement(ctx, setup, kClaimSetupSql, kSetupFields.table, true);
    RequireFields(setup, kSetupFields);
    if (!setup.CanModify()) throw std::runtime_error(std::string(kSetupFields.table) + " cannot be changed.");
    plan = PlanSetup(**limits);
    const std::int64_t last = kClaimSetupNumberBase + static_cast<std::int64_t>(plan.size());
    RequireColumnHolds(setup.FieldByName("TRNNO"), kSetupFields.table, "The claim setup number", last);
    RequireColumnHolds((*tiers)->FieldByName("TRNNO"), kTierFields.table, "The claim setup number", last);
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(kClaimSetupKept + std::string(e.what()), "");
    return;
  }
  if (AlreadyBuilt(plan, setup, **tiers, *counter)) return;
  DeleteEveryRow(setup);
  DeleteEveryRow(**tiers);
  counter->Set(kClaimSetupNumberBase);
  for (const Setup& s : plan) {
    counter->Take();  // the number planned for it: numbers are taken in plan order from the base
    WriteSetup(s, setup, **tiers);
  }
  setup.Close();
  setup.CloseStatement();
}

void AddSchemeClaimRows(schema::UpgradeContext& ctx) {
  const std::vector<std::string> schemes = ColumnValues(ctx, kBenefitSchemesSql, "EMPLOYEE");
  struct Allowance {
    std::string medical, code;
    std::optional<double> limit;
  };
  std::vector<Allowance> allowances;
  {
    CompanyTable table(ctx, "ALOCLAIM");
    for (; !table->Eof(); table->Next()) {
      allowances.push_back({table.Text("MEDICAL"), table.Text("CODE"), Amount(*table, "MAX_CLAIM")});
    }
  }
  CompanyTable setup(ctx, "MEDSCH", kClaimRowOrder);
  for (const std::string& scheme : schemes) {
    for (const Allowance& a : allowances) {
      if (setup->FindKey({scheme, a.medical, a.code, std::string(kSchemeClaimType)})) continue;
      AppendRow(*setup, [&] {
        setup->FieldByName("SCHEME_CODE").SetAsString(scheme);
        setup->FieldByName("CLAIM_CODE").SetAsString(a.medical);
        setup->FieldByName("SUBCLAIM").SetAsString(a.code);
        setup->FieldByName("CLAIMTYPE").SetAsString(kSchemeClaimType);
        SetAmount(*setup, "SUBLIMIT", a.limit);
      });
    }
  }
}

}  // namespace kx8::conversions
