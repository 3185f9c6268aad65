#include "conversions/levy_rollforward.h"

#include <functional>
#include <string>
#include <vector>

#include "conversions/money.h"
#include "dbaccess/db_table.h"
#include "support/credentials.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;
using dbaccess::TVariant;

constexpr char kLevyTable[] = "FW_LEVY";
constexpr char kPeriodPart[] = "PERIOD_PART";
// The period part of the rows the roll-forwards add on their own.
constexpr char kFirstPeriodPart[] = "1";

// The columns a copied row takes from its source row, besides the year.
constexpr const char* kCopiedColumns[] = {"CLASS", "CATEGORY", "DESC", "DAILY_RATE", "MAX_PER_MTH"};

void OpenCompanyTable(schema::UpgradeContext& ctx, TDbTable& t, const char* name) {
  t.SetDbConnection(&ctx.company);
  t.DbTableOptions().SetDbRightsCheck(false);
  t.SetTableName(name);
  t.Open();
}

bool HasPeriodPart(TDbTable& t) { return t.FindField(kPeriodPart) != nullptr; }

// The levy rows of one year read through one cursor, the rows of the next
// year looked up and written through another. Once the levy table has its
// period parts, a row is matched and copied with its part, so that the
// four-field key stays unique and meaningful.
class LevyRollForward {
 public:
  LevyRollForward(schema::UpgradeContext& ctx, std::string from, std::string to)
      : from_(std::move(from)), to_(std::move(to)) {
    OpenCompanyTable(ctx, source_, kLevyTable);
    OpenCompanyTable(ctx, target_, kLevyTable);
    with_part_ = HasPeriodPart(target_);
  }

  // Adds the row (target year, class, category) when the target year has
  // no such row, whatever its period part.
  void EnsureRow(const char* year, const char* cls, const char* desc, const char* daily, const char* monthly) {
    if (target_.Locate("YEAR;CLASS;CATEGORY", {std::string(year), std::string(cls), std::string("FWL")})) return;
    target_.Append();
    target_.FieldByName("YEAR").SetAsString(year);
    target_.FieldByName("CLASS").SetAsString(cls);
    target_.FieldByName("CATEGORY").SetAsString("FWL");
    target_.FieldByName("DESC").SetAsString(desc);
    target_.FieldByName("DAILY_RATE").SetAsString(daily);
    target_.FieldByName("MAX_PER_MTH").SetAsString(monthly);
    if (with_part_) target_.FieldByName(kPeriodPart).SetAsString(kFirstPeriodPart);
    target_.Post();
  }

  // For every source row: the target row is edited, or appended as a copy
  // when missing; `adjust` then sets the year's rates; the row is saved.
  void CarryRows(const std::function<void(TDbTable& source, TDbTable& target)>& adjust) {
    source_.SetFilter("YEAR='" + from_ + "'");
    source_.SetFiltered(true);
    for (source_.First(); !source_.Eof(); source_.Next()) {
      if (Locate()) {
        target_.Edit();
      } else {
        target_.Append();
        target_.FieldByName("YEAR").SetAsString(to_);
        for (const char* column : kCopiedColumns) {
          target_.FieldByName(column).SetAsVariant(source_.FieldByName(column).AsVariant());
        }
        if (with_part_) target_.FieldByName(kPeriodPart).SetAsVariant(source_.FieldByName(kPeriodPart).AsVariant());
      }
      adjust(source_, target_);
      target_.Post();
    }
    source_.SetFiltered(false);
    source_.SetFilter("");
  }

 private:
  bool Locate() {
    std::vector<TVariant> key = {to_, source_.FieldByName("CLASS").AsString(),
                                 source_.FieldByName("CATEGORY").AsString()};
    if (!with_part_) return target_.Locate("YEAR;CLASS;CATEGORY", key);
    key.push_back(source_.FieldByName(kPeriodPart).AsString());
    return target_.Locate("YEAR;CLASS;CATEGORY;PERIOD_PART", key);
  }

  std::string from_, to_;
  TDbTable source_, target_;
  bool with_part_ = false;
};

bool MonthlyIs(TDbTable& t, std::int64_t whole) {
  return MoneyUnits(t.FieldByName("MAX_PER_MTH")) == whole * kMoneyScale;
}

void SetRates(TDbTable& t, const char* monthly, const char* daily) {
  t.FieldByName("MAX_PER_MTH").SetAsString(monthly);
  t.FieldByName("DAILY_RATE").SetAsString(daily);
}

// The skills development parameters of 2005 from those of 2004. Without a
// row "2004" there is nothing to carry, and no row "2005" is written.
void SkillsDevelopment2005(schema::UpgradeContext& ctx) {
  TDbTable t;
  OpenCompanyTable(ctx, t, "PAYPARA1");
  if (!ctx.company.IsDictionaryConnection()) t.EnableEncryption(support::AdministratorPassword());
  if (!t.Locate("YEAR", {std::string("2004")})) return;
  if (t.FieldByName("SDF_MAX").AsFloat() == 0) return;
  const TVariant sdf_min = t.FieldByName("SDF_MIN").AsVariant(), sdf = t.FieldByName("SDF").AsVariant();
  if (t.Locate("YEAR", {std::string("2005")})) {
    t.Edit();
  } else {
    t.Append();
    t.FieldByName("YEAR").SetAsString("2005");
  }
  t.FieldByName("SDF_MAX").SetAsInteger(1800);
  t.FieldByName("SDF_MIN").SetAsVariant(sdf_min);
  t.FieldByName("SDF").SetAsVariant(sdf);
  t.Post();
}

}  // namespace

void RollForwardLevy2004To2005(schema::UpgradeContext& ctx) {
  SkillsDevelopment2005(ctx);
  LevyRollForward levy(ctx, "2004", "2005");
  levy.EnsureRow("2004", "SPASS", "S PASS", "2", "50");
  levy.CarryRows([](TDbTable&, TDbTable& target) {
    if (MonthlyIs(target, 30)) SetRates(target, "50", "2");
  });
}

void RollForwardLevy2007To2008(schema::UpgradeContext& ctx) {
  LevyRollForward levy(ctx, "2007", "2008");
  levy.CarryRows([](TDbTable& source, TDbTable& target) {
    if (target.FieldByName("CLASS").AsString() == "CLASS1") target.FieldByName("DESC").SetAsString(kClass1Description);
    if ((MonthlyIs(source, 100) || MonthlyIs(source, 80)) && source.FieldByName("CLASS").AsString() != "SPASS") {
      SetRates(target, "150", "5");
    }
  });
  levy.EnsureRow("2008", "CW3", "Construction Worker-unskilled", "10", "300");
}

}  // namespace kx8::conversions
