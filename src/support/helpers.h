// String, date and number helpers shared by the conversions.
//
// Pure routines: no state, no tables, no dependence on the process locale.
//
// Texts are taken as the program keeps them, as NUL-terminated strings: a
// text ends at its first NUL character, whatever the string_view's size.
//
// Dates are day numbers with a fractional time of day, as the database
// layer uses them: day 0 is 30 December 1899 (so day number + 2415019 is the
// Julian day number) and 1.25 is 31 December 1899, 06:00. As in the common
// desktop date type, a date before day 0 has a negative whole part and its
// time of day as a positive fraction (-1.25 is 29 December 1899, 06:00): the
// day is always the whole part, truncated toward zero. The calendar is the
// Gregorian one for every year (proleptic before 1582).
#ifndef KX8_SUPPORT_HELPERS_H_
#define KX8_SUPPORT_HELPERS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kx8::support {

// --- Texts ---------------------------------------------------------------

// Characters start .. start+count-1 (1-based) of the text. Empty when the
// text is shorter than start; a start of 0 behaves like 1; at most count
// characters are returned.
std::string Substring(std::string_view text, std::uint8_t start, std::uint8_t count);

// Size of the working buffer of ReplaceAll.
inline constexpr std::size_t kReplaceBufferSize = 32767;

// Replaces every occurrence of pattern, scanning from the left and going on
// after each replacement. A text of fewer than two characters is returned
// unchanged; an empty pattern never matches. The result is cut to the
// length of the input text (a longer replacement loses characters at the
// end). The text is built in a buffer of kReplaceBufferSize characters and
// never beyond it: a text longer than the buffer comes back cut to
// kReplaceBufferSize characters.
std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement);

// --- Dates ---------------------------------------------------------------

// Julian day number of day 0 (30 December 1899).
inline constexpr std::int64_t kJulianDayOfDayZero = 2415019;

struct CalendarDate {
  std::int32_t year;
  int month;  // 1 to 12
  int day;    // 1 to 31
};

// Gregorian rule; remainders take the sign of the year, so negative years
// follow the same pattern (-4 and -400 are leap years, -100 is not).
bool IsLeapYear(std::int32_t year);

// Days of the month, plus one for February in a leap year; 0 for a month
// outside 1 to 12.
int DaysInMonth(std::int32_t year, int month);

// Day number of a calendar date, without time of day. The day is not
// checked against the month: day 0 is the last day of the previous month,
// day 32 of January is 1 February. Months outside 1 to 12 carry into the
// year (month 13 is January of the next year, month 0 December of the
// previous one).
double EncodeDate(std::int32_t year, int month, int day);

// Calendar date of a day number; the time of day is ignored.
CalendarDate DecodeDate(double date);

// The last day of the date's month, without time of day.
double EndOfMonth(double date);

// --- Numbers -------------------------------------------------------------

// base raised to exponent in 32-bit arithmetic that wraps on overflow; an
// exponent of 0 gives 1.
std::int32_t IntPower(std::int32_t base, std::uint16_t exponent);

// 10 raised to exponent (IntPower(10, exponent)); exact up to 9, wrapped
// beyond.
std::int32_t PowerOfTen(std::uint16_t exponent);

// True when value lies strictly between -1e-8 and 1e-8.
bool IsNearZero(long double value);

// Rounds value to `decimals` decimals, halves away from zero. The scaled
// value is taken through a two-decimal text ("0.00") and truncated, which
// absorbs representation errors: 1.005 at 2 decimals is 1.01. A result near
// zero is 0, never -0. Decimal counts outside 0 to 9 (beyond a 32-bit power
// of ten) are taken as the nearest of 0 and 9.
double RoundToDecimals(int decimals, long double value);

}  // namespace kx8::support

#endif  // KX8_SUPPORT_HELPERS_H_
