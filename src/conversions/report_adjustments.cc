#include "conversions/report_adjustments.h"

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "schema/report_fields.h"
#include "support/credentials.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;
using dbaccess::TVariant;

struct Correction {
  const char* no;
  const char* column;
  const char* value;
  const char* column2 = nullptr;
  const char* value2 = nullptr;
};

constexpr Correction kCorrections[] = {
    {"30", "code", "DEPARTMENT"},
    {"51", "code", "CATEGORY"},
    {"57", "code", "COST_CENTRE"},
    {"69", "code", "OCCUPATION"},
    {"140", "WIDTH", "30"},
    {"9", "TYPE1", "N", "HIDE_WAGE", "T"},
};

constexpr char kAllowanceGroup[] = "ALLW";

// What the rearrangement reads and writes, checked before anything changes.
struct NeededColumns {
  const char* table;
  std::vector<const char*> columns;
};
const NeededColumns kNeeded[] = {
    {"RTABLE", {"NO", "HEADING", "CODE", "DATABASE1", "FIELD", "WIDTH", "TYPE1", "HIDE_WAGE"}},
    {"ALLOWNCE", {"ALLOW_CODE", "DESC", "TRNNO"}},
    {"TRNNO", {"TRNNO"}},
    {"RTPDETL", {"COL", "DATABASE1", "FIELD", "CODE"}},
};

bool FreeTableCompany(const schema::UpgradeContext& ctx) { return !ctx.company.IsDictionaryConnection(); }

// On a free-table company an encrypted table is read with the
// administrator password.
void GivePassword(const schema::UpgradeContext& ctx, TDbTable& t) {
  if (FreeTableCompany(ctx) && t.IsTableEncrypted()) t.EnableEncryption(support::AdministratorPassword());
}

void CloseQuietly(TDbTable& t) {
  try {
    t.Close();
  } catch (const std::exception&) {
    // Closing after a failure; the failure is what the caller reports.
  }
}

std::string Text(TDbTable& t, const char* column) { return t.FieldByName(column).AsString(); }

// Writes a value only when it differs, so that a second pass saves nothing.
void SetIfDifferent(TDbTable& t, const char* column, const std::string& value) {
  if (Text(t, column) == value) return;
  t.Edit();
  t.FieldByName(column).SetAsString(value);
  t.Post();
}

// The tables of the rearrangement besides RTABLE, opened in the order and
// with the filter they are walked in.
struct RearrangeTables {
  TDbTable allownce, trnno, details;
  ~RearrangeTables() {
    CloseQuietly(details);
    CloseQuietly(trnno);
    CloseQuietly(allownce);
  }
};

// Opens the step's tables and checks what the rearrangement needs; the
// name of the first thing missing, or nullopt when all is there.
std::optional<std::string> OpenAndCheck(schema::UpgradeContext& ctx, TDbTable& rtable, RearrangeTables& t) {
  rtable.Close();
  rtable.SetIndexFieldNames("NO");
  rtable.SetFiltered(true);
  rtable.Open();
  struct Opening {
    TDbTable* table;
    const char* name;
    const char* order;
    bool filtered;
  };
  for (Opening o : {Opening{&t.allownce, "ALLOWNCE", "ALLOW_CODE;YEAR", false}, Opening{&t.trnno, "TRNNO", "", false},
                    Opening{&t.details, "RTPDETL", "RPTCODE;ID", true}}) {
    TDbTable& table = *o.table;
    table.SetDbConnection(&ctx.company);
    table.DbTableOptions().SetDbRightsCheck(false);
    table.SetTableName(o.name);
    if (!table.TableExists()) return std::string(o.name);
    table.SetIndexFieldNames(o.order);
    table.SetFilter(schema::kAllowanceFilter);
    table.SetFiltered(o.filtered);
    table.Open();
    GivePassword(ctx, table);
  }
  const std::map<std::string, TDbTable*> by_name = {
      {"RTABLE", &rtable}, {"ALLOWNCE", &t.allownce}, {"TRNNO", &t.trnno}, {"RTPDETL", &t.details}};
  for (const NeededColumns& n : kNeeded) {
    for (const char* column : n.columns) {
      if (by_name.at(n.table)->FindField(column) == nullptr) return std::string(n.table) + "." + column;
    }
  }
  t.trnno.First();
  if (t.trnno.Eof()) return std::string("TRNNO row");
  return std::nullopt;
}

// How many numbers the allowances take: one per code, as the walk below
// raises its counter.
int AllowanceCodeCount(TDbTable& allownce) {
  int count = 0;
  std::string remembered;
  for (allownce.First(); !allownce.Eof(); allownce.Next()) {
    const std::string code = Text(allownce, "ALLOW_CODE");
    if (count == 0 || code != remembered) ++count;
    remembered = code;
  }
  return count;
}

// The first number from 1500 on that an entry other than an allowance holds.
std::optional<int> TakenNumber(TDbTable& rtable, int count) {
  rtable.SetFiltered(false);
  std::optional<int> taken;
  for (int no = kFirstAllowanceNumber; no < kFirstAllowanceNumber + count && !taken; ++no) {
    if (rtable.FindKey({TVariant(std::to_string(no))}) && Text(rtable, "DATABASE1") != kAllowanceGroup) taken = no;
  }
  rtable.SetFiltered(true);
  return taken;
}

void Rearrange(TDbTable& rtable, RearrangeTables& t) {
  // The allowance entries go; every code gets its entry back below.
  rtable.First();
  while (!rtable.Eof()) rtable.Delete();

  // Numbers from 1500, one per allowance code; the entry's heading ends as
  // the description of the code's last row.
  int counter = kFirstAllowanceNumber;
  std::map<std::string, int> numbers;
  TDbTable& allownce = t.allownce;
  allownce.First();
  std::string remembered = allownce.Eof() ? std::string() : Text(allownce, "ALLOW_CODE");
  while (!allownce.Eof()) {
    const std::string code = Text(allownce, "ALLOW_CODE"), desc = Text(allownce, "DESC");
    SetIfDifferent(allownce, "TRNNO", std::to_string(counter));
    auto [entry, added] = numbers.try_emplace(code, counter);
    if (added) {
      rtable.Append();
      rtable.FieldByName("NO").SetAsString(std::to_string(counter));
      rtable.FieldByName("CODE").SetAsString("AMOUNT");
      rtable.FieldByName("DATABASE1").SetAsString(kAllowanceGroup);
      rtable.FieldByName("FIELD").SetAsString(code);
      rtable.FieldByName("WIDTH").SetAsString("12");
      rtable.FieldByName("TYPE1").SetAsString("N");
      rtable.FieldByName("HIDE_WAGE").SetAsString("T");
    } else {
      rtable.FindKey({TVariant(std::to_string(entry->second))});
      rtable.Edit();
    }
    rtable.FieldByName("HEADING").SetAsString(desc);
    rtable.Post();
    allownce.Next();
    if (!allownce.Eof() && Text(allownce, "ALLOW_CODE") != remembered) {
      remembered = Text(allownce, "ALLOW_CODE");
      ++counter;
    }
  }
  t.trnno.First();
  SetIfDifferent(t.trnno, "TRNNO", std::to_string(counter));

  // Allowance columns of the custom reports take their code's number.
  for (t.details.First(); !t.details.Eof(); t.details.Next()) {
    auto found = numbers.find(Text(t.details, "FIELD"));
    if (found != numbers.end()) SetIfDifferent(t.details, "COL", std::to_string(found->second));
  }
  t.trnno.Close();
  rtable.SetFiltered(false);
  t.details.SetFiltered(false);

  // Every column of every custom report is linked to the first entry (in
  // number order) with its table, field and code.
  std::map<std::tuple<std::string, std::string, std::string>, std::string> entries;
  for (rtable.First(); !rtable.Eof(); rtable.Next()) {
    entries.try_emplace({Text(rtable, "DATABASE1"), Text(rtable, "FIELD"), Text(rtable, "CODE")}, Text(rtable, "NO"));
  }
  for (t.details.First(); !t.details.Eof(); t.details.Next()) {
    auto found = entries.find({Text(t.details, "DATABASE1"), Text(t.details, "FIELD"), Text(t.details, "CODE")});
    if (found != entries.end()) SetIfDifferent(t.details, "COL", found->second);
  }
  rtable.SetFiltered(true);
  t.details.SetFiltered(true);
}

}  // namespace

void CatalogueCorrections(schema::UpgradeContext& ctx) {
  TDbTable& t = ctx.work_table;
  t.Close();
  t.SetTableName("RTABLE");
  t.SetIndexFieldNames("NO");
  try {
    t.Open();
    GivePassword(ctx, t);
    for (const Correction& c : kCorrections) {
      if (!t.FindKey({TVariant(std::string(c.no))})) continue;
      t.Edit();
      t.FieldByName(c.column).SetAsString(c.value);
      if (c.column2 != nullptr) t.FieldByName(c.column2).SetAsString(c.value2);
      t.Post();
    }
  } catch (...) {
    CloseQuietly(t);
    t.SetIndexFieldNames("");
    throw;
  }
  t.Close();
  t.SetIndexFieldNames("");
}

void RearrangeAllowanceColumns(schema::UpgradeContext& ctx, TDbTable& rtable) {
  RearrangeTables tables;
  try {
    if (std::optional<std::string> missing = OpenAndCheck(ctx, rtable, tables)) {
      rtable.Close();
      ctx.ui.MessageBox(*missing + kRearrangeNotDone, "");
      return;
    }
    if (std::optional<int> taken = TakenNumber(rtable, AllowanceCodeCount(tables.allownce))) {
      rtable.Close();
      ctx.ui.MessageBox("RTABLE No " + std::to_string(*taken) + kRearrangeNumberTaken, "");
      return;
    }
    Rearrange(rtable, tables);
  } catch (...) {
    CloseQuietly(rtable);
    rtable.SetFiltered(true);
    throw;
  }
  rtable.Close();
}

}  // namespace kx8::conversions
