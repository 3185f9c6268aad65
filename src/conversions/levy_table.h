// The foreign worker levy table FW_LEVY of this release: rate rows split
// into period parts (the column PERIOD_PART, "1" for every older row, and
// the key "PRIMARY" on YEAR, CLASS, CATEGORY and PERIOD_PART), and the daily
// rates of 2012 worked out again from the monthly amounts.
#ifndef KX8_CONVERSIONS_LEVY_TABLE_H_
#define KX8_CONVERSIONS_LEVY_TABLE_H_

#include <cstdint>
#include <functional>
#include <string>

#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kLevyTableStatus[] = "UPDATE TABLE : FW_LEVY.KDT";
inline constexpr char kLevyTableDone[] = "UPDATE TABLE : FW_LEVY.KDT COMPLETED.";
inline constexpr char kFillPeriodPartSql[] = "UPDATE FW_LEVY SET PERIOD_PART='1' WHERE PERIOD_PART IS NULL";
inline constexpr char kDropLevyKeySql[] = "DROP INDEX FW_LEVY.[PRIMARY]";
inline constexpr char kCreateLevyKeySql[] = "CREATE INDEX [PRIMARY] ON FW_LEVY (YEAR,CLASS,CATEGORY,PERIOD_PART)";
// The index those two statements leave, as the table lists it.
inline constexpr char kLevyKeyName[] = "PRIMARY";
inline constexpr char kLevyKeyFields[] = "YEAR;CLASS;CATEGORY;PERIOD_PART";
inline constexpr char kDailyRates2012Sql[] = "select * from FW_LEVY where [YEAR]='2012'";

// What the update tells when the new key cannot be made. The reason and
// the state the table is left in follow.
inline constexpr char kLevyKeyNotMade[] =
    "FW_LEVY: the index PRIMARY on YEAR, CLASS, CATEGORY and PERIOD_PART could not be created: ";
inline constexpr char kLevyKeyRestored[] = " The table keeps its previous PRIMARY index.";
inline constexpr char kLevyKeyNotRestored[] = " The previous PRIMARY index could not be created again: ";
inline constexpr char kLevyKeyNone[] = " The table has no PRIMARY index.";

// The levy table update: adds PERIOD_PART (through the column upgrade),
// gives every row without one the part "1", and replaces the index
// "PRIMARY" by one on the four key fields. A failure of the PERIOD_PART
// statement goes on to the caller. When the new index cannot be created,
// the previous "PRIMARY" is created again and a message names the table
// and the reason; the pass goes on. `show_status` writes the second status
// line (and lets the window catch up).
void UpdateLevyTable(schema::UpgradeContext& ctx, const std::function<void(const std::string&)>& show_status);

// The daily rate in cents for a monthly levy in ten-thousandths: the
// monthly amount times 12 over 365, rounded up to the next cent when its
// fourth or fifth decimal (of the value rounded to five decimals) is not
// zero, else to the nearest cent, halves away from zero. Exact.
std::int64_t DailyRateCents(std::int64_t monthly);

// Rewrites DAILY_RATE of every 2012 row with a monthly amount from that
// amount, through a live query on the work query (left open). Rows with a
// monthly amount of 0 keep their rate. Failures go on to the caller.
void DailyLevyRates2012(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_LEVY_TABLE_H_
