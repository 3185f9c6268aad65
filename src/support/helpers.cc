#include "support/helpers.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kx8::support {
namespace {

// Days in each month, indexed by month 1 to 12 (index 0 yields 0).
constexpr int kDaysInMonth[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Day number of 1 January 1970, the origin of the civil-day arithmetic below.
constexpr std::int64_t kDayNumberOf1970 = 25569;

// Day numbers are kept within this bound before they are turned into
// integers, so that any double gives a defined answer; the years it spans
// still fit a 32-bit year.
constexpr double kLargestDayNumber = 700'000'000'000.0;

constexpr long double kNearZeroBound = 1e-8L;

// Largest decimal count whose power of ten a 32-bit integer holds.
constexpr int kMostDecimals = 9;

// A text ends at its first NUL.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
  const std::int64_t quotient = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? quotient - 1 : quotient;
}

// Days since 1 January 1970 of a Gregorian date, month 1 to 12; the day
// counts on linearly from the first of the month.
std::int64_t DaysFromCivil(std::int64_t year, int month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = FloorDivide(year, 400);
  const std::int64_t year_of_era = year - era * 400;                                     // [0, 399]
  const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;  // of 1st
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;  // [0, 146096]
  return era * 146097 + day_of_era - 719468 + (day - 1);
}

CalendarDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = FloorDivide(days, 146097);
  const std::int64_t day_of_era = days - era * 146097;  // [0, 146096]
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);  // [0, 365]
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;              // March = 0
  const int day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  const int month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  return {static_cast<std::int32_t>(year), month, day};
}

// The whole day of a day number (truncated toward zero), within the bound.
std::int64_t WholeDay(double date) {
  if (std::isnan(date)) return 0;
  return static_cast<std::int64_t>(
      std::clamp(std::trunc(date), -kLargestDayNumber, kLargestDayNumber));
}

}  // namespace

std::string Substring(std::string_view text, std::uint8_t start, std::uint8_t count) {
  text = UpToNul(text);
  if (text.size() < start) return {};
  const std::size_t first = start == 0 ? 0 : start - 1u;
  return std::string(text.substr(first, count));
}

std::string ReplaceAll(std::string_view text, std::string_view pattern,
                       std::string_view replacement) {
  text = UpToNul(text);
  pattern = UpToNul(pattern);
  replacement = UpToNul(replacement);
  if (text.size() < 2) return std::string(text);

  // The result is cut to the input's length and the buffer's size; building
  // stops there, as later characters could only be cut off again.
  const std::size_t limit = std::min(text.size(), kReplaceBufferSize);
  std::string built;
  built.reserve(limit);
  std::size_t position = 0;
  while (position < text.size() && built.size() < limit) {
    if (!pattern.empty() && text.substr(position).starts_with(pattern)) {
      built.append(replacement, 0, limit - built.size());
      position += pattern.size();
    } else {
      built += text[position];
      ++position;
    }
  }
  return built;
}

bool IsLeapYear(std::int32_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(std::int32_t year, int month) {
  if (month < 1 || month > 12) return 0;
  return kDaysInMonth[month] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

double EncodeDate(std::int32_t year, int month, int day) {
  const std::int64_t months_from_january = static_cast<std::int64_t>(month) - 1;
  const std::int64_t carried_year = year + FloorDivide(months_from_january, 12);
  const int month_of_year =
      static_cast<int>(months_from_january - FloorDivide(months_from_january, 12) * 12) + 1;
  return static_cast<double>(DaysFromCivil(carried_year, month_of_year, day) + kDayNumberOf1970);
}

CalendarDate DecodeDate(double date) { return CivilFromDays(WholeDay(date) - kDayNumberOf1970); }

double EndOfMonth(double date) {
  const CalendarDate calendar = DecodeDate(date);
  return EncodeDate(calendar.year, calendar.month, DaysInMonth(calendar.year, calendar.month));
}

std::int32_t IntPower(std::int32_t base, std::uint16_t exponent) {
  // Unsigned arithmetic wraps modulo 2^32 like the 32-bit registers the
  // result is defined by; squaring gives the same residue as repeated
  // multiplication.
  std::uint32_t result = 1;
  std::uint32_t factor = static_cast<std::uint32_t>(base);
  for (unsigned remaining = exponent; remaining != 0; remaining >>= 1) {
    if ((remaining & 1u) != 0) result *= factor;
    factor *= factor;
  }
  return static_cast<std::int32_t>(result);
}

std::int32_t PowerOfTen(std::uint16_t exponent) { return IntPower(10, exponent); }

bool IsNearZero(long double value) { return value > -kNearZeroBound && value < kNearZeroBound; }

double RoundToDecimals(int decimals, long double value) {
  const std::int32_t scale =
      PowerOfTen(static_cast<std::uint16_t>(std::clamp(decimals, 0, kMostDecimals)));
  const long double half = value < 0 ? -0.5L : 0.5L;
  const double scaled = static_cast<double>(value * scale + half);

  // The "0.00" text step: two decimals, "." as separator, whatever the
  // locale. 320 characters hold every finite double in fixed notation.
  char text[400];
  const std::to_chars_result written =
      std::to_chars(text, text + sizeof text, scaled, std::chars_format::fixed, 2);
  double read_back = scaled;
  if (written.ec == std::errc()) std::from_chars(text, written.ptr, read_back);

  const double rounded = std::trunc(read_back) / scale;
  return IsNearZero(rounded) ? 0.0 : rounded;
}

}  // namespace kx8::support
