#include "conversions/levy_table.h"

#include <cstdlib>
#include <limits>
#include <optional>
#include <stdexcept>

#include "conversions/money.h"
#include "dbaccess/db_table.h"
#include "platform/path.h"
#include "schema/column_upgrade.h"

namespace kx8::conversions {
namespace {

// n / d rounded to the nearest whole number, halves away from zero (d > 0).
std::int64_t RoundHalfAway(std::int64_t n, std::int64_t d) {
  const std::int64_t q = (2 * std::llabs(n) + d) / (2 * d);
  return n < 0 ? -q : q;
}

// n / d rounded toward positive infinity (d > 0).
std::int64_t CeilDiv(std::int64_t n, std::int64_t d) { return n / d + (n % d != 0 && n > 0 ? 1 : 0); }

// The table's index "PRIMARY" as it is before the update (tag names are
// compared without regard to case, as the engine does).
std::optional<dbaccess::TIndexDef> LevyKey(schema::UpgradeContext& ctx) {
  dbaccess::TDbTable t;
  t.SetDbConnection(&ctx.company);
  t.DbTableOptions().SetDbRightsCheck(false);
  t.SetTableName("FW_LEVY");
  t.Open();
  std::optional<dbaccess::TIndexDef> key;
  for (const dbaccess::TIndexDef& def : t.IndexDefs().Items()) {
    if (platform::SameNameIgnoreCase(def.Name, "PRIMARY")) key = def;
  }
  t.Close();
  return key;
}

void RestoreLevyKey(schema::UpgradeContext& ctx, const dbaccess::TIndexDef& key) {
  dbaccess::TDbTable t;
  t.SetDbConnection(&ctx.company);
  t.DbTableOptions().SetDbRightsCheck(false);
  t.SetTableName("FW_LEVY");
  t.AddIndex(key.Name, key.Expression, key.Options);
}

void Exec(dbaccess::TDbQuery& q, const char* sql) {
  q.SQL().Clear();
  q.SQL().Add(sql);
  q.ExecSQL();
}

// Drops "PRIMARY" and creates it on the four key fields. The drop may fail
// (a table without the index still gets the new one); when the create
// fails, the table must not be left without its unique key, so the index
// it had is created again and the user is told.
void ReplaceLevyKey(schema::UpgradeContext& ctx) {
  dbaccess::TDbQuery& q = ctx.work_query;
  const std::optional<dbaccess::TIndexDef> previous = LevyKey(ctx);
  // The key an earlier pass made: dropping and creating it again would
  // write the index file twice to leave it as it is.
  if (previous && previous->Name == kLevyKeyName && previous->Fields == kLevyKeyFields &&
      previous->Expression == kLevyKeyFields && previous->Options.Empty()) {
    return;
  }
  bool dropped = false;
  try {
    Exec(q, kDropLevyKeySql);
    dropped = true;
  } catch (const std::exception&) {
    // No index "PRIMARY" to drop, or the table is in use: the create below
    // tells which.
  }
  try {
    Exec(q, kCreateLevyKeySql);
  } catch (const std::exception& e) {
    std::string message = kLevyKeyNotMade + std::string(e.what());
    if (!previous) {
      message += kLevyKeyNone;
    } else if (!dropped) {
      message += kLevyKeyRestored;
    } else {
      try {
        RestoreLevyKey(ctx, *previous);
        message += kLevyKeyRestored;
      } catch (const std::exception& again) {
        message += kLevyKeyNotRestored + std::string(again.what());
      }
    }
    ctx.ui.MessageBox(message, "");
  }
}

}  // namespace

void UpdateLevyTable(schema::UpgradeContext& ctx, const std::function<void(const std::string&)>& show_status) {
  show_status(kLevyTableStatus);
  schema::UpgradeColumn(ctx, "FW_LEVY", "PERIOD_PART", "C", "2", false);
  dbaccess::TDbQuery& q = ctx.work_query;
  q.Close();
  Exec(q, kFillPeriodPartSql);
  ReplaceLevyKey(ctx);
  show_status(kLevyTableDone);
}

std::int64_t DailyRateCents(std::int64_t monthly) {
  // The daily rate x is monthly × 12 / 365 / 10000. In whole numbers:
  // x to five decimals is 24·monthly / 73, and x in cents 3·monthly / 9125.
  if (std::llabs(monthly) > std::numeric_limits<std::int64_t>::max() / 24) {
    throw std::range_error("The monthly levy " + std::to_string(monthly) + " is out of range.");
  }
  const std::int64_t five_decimals = RoundHalfAway(24 * monthly, 73);
  if (five_decimals % 100 != 0) return CeilDiv(3 * monthly, 9125);
  return RoundHalfAway(five_decimals, 1000);
}

void DailyLevyRates2012(schema::UpgradeContext& ctx) {
  dbaccess::TDbQuery& q = ctx.work_query;
  q.Close();
  q.SetRequestLive(true);
  q.SQL().SetText(kDailyRates2012Sql);
  q.Open();
  for (q.First(); !q.Eof(); q.Next()) {
    const std::int64_t monthly = MoneyUnits(q.FieldByName("MAX_PER_MTH"));
    if (monthly == 0) continue;
    const std::int64_t cents = DailyRateCents(monthly);
    dbaccess::TField& rate = q.FieldByName("DAILY_RATE");
    if (!rate.IsNull() && MoneyUnits(rate) == cents * (kMoneyScale / 100)) continue;  // right already
    q.Edit();
    rate.SetAsString(CentsText(cents));
    q.Post();
  }
}

}  // namespace kx8::conversions
