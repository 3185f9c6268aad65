// Calendar conversions for day numbers (Julian day numbers of the Gregorian
// calendar: 1 January 2000 is day 2451545) and the date texts the engine
// accepts: YYYYMMDD, YYYY-MM-DD and MM/DD/YYYY.
#ifndef KX8_ENGINE_CORE_DATE_H_
#define KX8_ENGINE_CORE_DATE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dbe {

int64_t DayNumber(int year, int month, int day);
void CivilFromDay(int64_t day_number, int* year, int* month, int* day);
bool ValidDate(int year, int month, int day);
std::optional<int64_t> ParseDateText(std::string_view text);
std::string DateText(int64_t day_number);                  // YYYYMMDD
std::optional<int64_t> ParseTimeText(std::string_view text);  // HH:MM[:SS[.mmm]] -> ms
std::string TimeText(int64_t ms);                          // HH:MM:SS
// "YYYY-MM-DD HH:MM:SS" (or a date text alone) -> day * 86400000 + ms
std::optional<int64_t> ParseTimestampText(std::string_view text);
std::string TimestampText(int64_t value);
int64_t NowTimestamp();

}  // namespace dbe

#endif  // KX8_ENGINE_CORE_DATE_H_
