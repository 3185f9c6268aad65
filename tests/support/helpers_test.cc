#include "support/helpers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace kx8::support {
namespace {

using namespace std::string_literals;

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

TEST(SubstringTest, TakesCountCharactersFromOneBasedStart) {
  const std::string long_text(300, 'x');
  struct Case {
    std::string text;
    std::uint8_t start;
    std::uint8_t count;
    std::string expected;
  };
  const Case cases[] = {
      {"ABCDEF", 3, 2, "CD"},
      {"ABCDEF", 6, 5, "F"},
      {"ABCDEF", 7, 1, ""},
      {"ABCDEF", 0, 2, "AB"},
      {"ABCDEF", 1, 2, "AB"},
      {"ABCDEF", 1, 6, "ABCDEF"},
      {"ABCDEF", 1, 255, "ABCDEF"},
      {"ABCDEF", 0, 0, ""},
      {"ABCDEF", 3, 0, ""},
      {"ABCDEF", 6, 0, ""},
      {"ABCDEF", 255, 255, ""},
      {"", 0, 1, ""},
      {"", 1, 1, ""},
      // The text ends at its first NUL.
      {"AB\0CD"s, 1, 10, "AB"},
      {"AB\0CD"s, 3, 2, ""},
      {"AB\0CD"s, 2, 2, "B"},
      // Starts and counts are 8-bit: a long text is reached only to 255+.
      {long_text, 255, 255, std::string(46, 'x')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Substring(c.text, c.start, c.count), c.expected)
        << c.text.substr(0, 10) << " from " << int{c.start} << " for " << int{c.count};
  }
}

TEST(ReplaceAllTest, ReplacesLeftToRightAndCutsToInputLength) {
  struct Case {
    std::string text;
    std::string pattern;
    std::string replacement;
    std::string expected;
  };
  const Case cases[] = {
      {"12/34/5", "/", "", "12345"},
      {"/", "/", "", "/"},  // fewer than two characters: unchanged
      {"A", "A", "XY", "A"},
      {"", "A", "B", ""},
      {"ABC", "A", "XY", "XYB"},  // longer replacement: cut to the input length
      {"ABAB", "B", "xyz", "Axyz"},
      {"AB", "AB", "", ""},
      {"AAAA", "AA", "B", "BB"},
      {"AAA", "AA", "B", "BA"},
      {"AXA", "A", "AA", "AAX"},  // the replacement is not scanned again
      {"ABC", "Z", "Q", "ABC"},
      {"abc", "A", "Q", "abc"},  // case matters
      {"ABC", "", "X", "ABC"},   // an empty pattern never matches
      {"ABCDEF", "ABCDEFG", "", "ABCDEF"},
      {"01/02/2008", "/", "-", "01-02-2008"},
      // Texts, patterns and replacements end at their first NUL.
      {"A/B\0/C"s, "/", "", "AB"},
      {"A/B/C", "/\0B"s, "", "ABC"},
      {"A/B", "/", "x\0yz"s, "AxB"},
      {"A\0BC"s, "A", "", "A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement), c.expected)
        << "'" << c.text << "' '" << c.pattern << "' -> '" << c.replacement << "'";
  }
}

TEST(ReplaceAllTest, NeverBuildsBeyondTheBuffer) {
  const std::size_t long_size = kReplaceBufferSize + 7000;
  const std::string boundary =
      std::string(kReplaceBufferSize - 1, 'x') + "ab" + std::string(100, 'x');
  struct Case {
    const char* name;
    std::string text;
    std::string pattern;
    std::string replacement;
    std::string expected;
  };
  const Case cases[] = {
      {"no match", std::string(long_size, 'a'), "b", "c", std::string(kReplaceBufferSize, 'a')},
      {"all removed", std::string(long_size, 'a'), "a", "", ""},
      {"doubled", std::string(long_size, 'a'), "a", "bb", std::string(kReplaceBufferSize, 'b')},
      {"replacement across the end", boundary, "ab", "ZZ",
       std::string(kReplaceBufferSize - 1, 'x') + "Z"},
      {"exactly the buffer", std::string(kReplaceBufferSize, 'a'), "a", "b",
       std::string(kReplaceBufferSize, 'b')},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.pattern, c.replacement), c.expected) << c.name;
  }
}

TEST(CalendarTest, LeapYearsFollowTheGregorianRule) {
  struct Case {
    std::int32_t year;
    bool leap;
  };
  const Case cases[] = {
      {1900, false}, {2000, true}, {2008, true},      {2007, false},      {2100, false},
      {2400, true},  {1600, true}, {0, true},         {-4, true},         {-1, false},
      {-100, false}, {-400, true}, {kInt32Min, true}, {kInt32Max, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
}

TEST(CalendarTest, DaysInMonth) {
  struct Case {
    std::int32_t year;
    int month;
    int days;
  };
  const Case cases[] = {
      {2008, 1, 31},  {2008, 2, 29},  {2007, 2, 28},  {1900, 2, 28}, {2000, 2, 29}, {2008, 3, 31},
      {2008, 4, 30},  {2008, 5, 31},  {2008, 6, 30},  {2008, 7, 31}, {2008, 8, 31}, {2008, 9, 30},
      {2008, 10, 31}, {2008, 11, 30}, {2008, 12, 31}, {2008, 0, 0},  {2008, 13, 0}, {2008, -1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DaysInMonth(c.year, c.month), c.days) << c.year << "-" << c.month;
  }
}

TEST(CalendarTest, DayNumbersOfKnownDates) {
  struct Case {
    std::int32_t year;
    int month;
    int day;
    double day_number;
  };
  const Case cases[] = {
      {1899, 12, 30, 0},       {1899, 12, 31, 1},      {1900, 1, 1, 2},         {1900, 2, 28, 60},
      {1900, 3, 1, 61},        {1970, 1, 1, 25569},    {2000, 1, 1, 36526},     {2008, 2, 1, 39479},
      {2008, 2, 29, 39507},    {1600, 2, 29, -109512}, {1582, 10, 15, -115858}, {1, 1, 1, -693593},
      {9999, 12, 31, 2958465},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDate(c.year, c.month, c.day), c.day_number)
        << c.year << "-" << c.month << "-" << c.day;
    const CalendarDate decoded = DecodeDate(c.day_number);
    EXPECT_EQ(decoded.year, c.year) << c.day_number;
    EXPECT_EQ(decoded.month, c.month) << c.day_number;
    EXPECT_EQ(decoded.day, c.day) << c.day_number;
  }
  // Julian day numbers share the count.
  EXPECT_EQ(EncodeDate(2000, 1, 1) + static_cast<double>(kJulianDayOfDayZero), 2451545.0);
}

TEST(CalendarTest, EveryDayFromYearOneToNineThousandNineHundredNinetyNine) {
  // Walk the calendar one day at a time with DaysInMonth and check both
  // directions of the day-number conversion on every day.
  CalendarDate expected{1, 1, 1};
  for (double day_number = -693593; day_number <= 2958465; ++day_number) {
    const CalendarDate decoded = DecodeDate(day_number);
    if (decoded.year != expected.year || decoded.month != expected.month ||
        decoded.day != expected.day ||
        EncodeDate(expected.year, expected.month, expected.day) != day_number) {
      ADD_FAILURE() << "day " << day_number << ": expected " << expected.year << "-"
                    << expected.month << "-" << expected.day << ", decoded " << decoded.year << "-"
                    << decoded.month << "-" << decoded.day;
      return;
    }
    if (++expected.day > DaysInMonth(expected.year, expected.month)) {
      expected.day = 1;
      if (++expected.month > 12) {
        expected.month = 1;
        ++expected.year;
      }
    }
  }
}

TEST(CalendarTest, DecodingIgnoresTheTimeOfDay) {
  struct Case {
    double date;
    CalendarDate expected;
  };
  const Case cases[] = {
      {39507.75, {2008, 2, 29}}, {39507.999, {2008, 2, 29}}, {0.5, {1899, 12, 30}},
      {-0.5, {1899, 12, 30}},   // before day 0 the time is a positive fraction
      {-1.25, {1899, 12, 29}},  // 29 Dec 1899, 06:00
      {-693593.5, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    const CalendarDate decoded = DecodeDate(c.date);
    EXPECT_EQ(decoded.year, c.expected.year) << c.date;
    EXPECT_EQ(decoded.month, c.expected.month) << c.date;
    EXPECT_EQ(decoded.day, c.expected.day) << c.date;
  }
}

TEST(CalendarTest, EncodingCarriesMonthsAndDays) {
  struct Case {
    const char* name;
    double given;
    double expected;
  };
  const Case cases[] = {
      {"month 13", EncodeDate(2008, 13, 1), EncodeDate(2009, 1, 1)},
      {"month 0", EncodeDate(2008, 0, 1), EncodeDate(2007, 12, 1)},
      {"month -11", EncodeDate(2008, -11, 1), EncodeDate(2007, 1, 1)},
      {"month 25", EncodeDate(2008, 25, 1), EncodeDate(2010, 1, 1)},
      {"day 0", EncodeDate(2008, 3, 0), EncodeDate(2008, 2, 29)},
      {"day 32", EncodeDate(2008, 1, 32), EncodeDate(2008, 2, 1)},
      {"day 366 of a leap year", EncodeDate(2008, 1, 366), EncodeDate(2008, 12, 31)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.given, c.expected) << c.name;
}

TEST(CalendarTest, EndOfMonthIsTheLastDayWithoutTime) {
  struct Case {
    double date;
    double end;
  };
  const Case cases[] = {
      {EncodeDate(2008, 2, 1), EncodeDate(2008, 2, 29)},
      {EncodeDate(2008, 2, 15) + 0.5, EncodeDate(2008, 2, 29)},
      {EncodeDate(2008, 2, 29) + 0.999, EncodeDate(2008, 2, 29)},
      {EncodeDate(2007, 2, 10), EncodeDate(2007, 2, 28)},
      {EncodeDate(1900, 2, 15), EncodeDate(1900, 2, 28)},
      {EncodeDate(2000, 2, 15), EncodeDate(2000, 2, 29)},
      {EncodeDate(2008, 1, 31), EncodeDate(2008, 1, 31)},
      {EncodeDate(2008, 4, 1) + 0.25, EncodeDate(2008, 4, 30)},
      {EncodeDate(2008, 12, 31), EncodeDate(2008, 12, 31)},
      {-1.25, 1},  // 29 Dec 1899, 06:00 -> 31 Dec 1899
      {0.5, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(EndOfMonth(c.date), c.end) << c.date;
}

TEST(CalendarTest, OutOfRangeDayNumbersStayDefined) {
  for (const double date :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), 1e300, -1e300}) {
    const CalendarDate decoded = DecodeDate(date);
    EXPECT_GE(decoded.month, 1) << date;
    EXPECT_LE(decoded.month, 12) << date;
    EXPECT_GE(decoded.day, 1) << date;
    EXPECT_LE(decoded.day, DaysInMonth(decoded.year, decoded.month)) << date;
  }
}

TEST(NumberTest, IntegerPowerWrapsIn32Bits) {
  struct Case {
    std::int32_t base;
    std::uint16_t exponent;
    std::int32_t expected;
  };
  const Case cases[] = {
      {10, 3, 1000},
      {10, 0, 1},
      {0, 0, 1},
      {0, 5, 0},
      {7, 1, 7},
      {-2, 3, -8},
      {2, 30, 1 << 30},
      {2, 31, kInt32Min},
      {2, 32, 0},
      {-2, 31, kInt32Min},
      {10, 10, 1410065408},
      {46341, 2, -2147479015},
      {kInt32Min, 1, kInt32Min},
      {kInt32Min, 2, 0},
      {-1, 65535, -1},
      {-1, 65534, 1},
      {3, 65535, 1302768299},
      {7, 12345, 167733959},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IntPower(c.base, c.exponent), c.expected) << c.base << "^" << c.exponent;
  }
}

TEST(NumberTest, PowerOfTen) {
  struct Case {
    std::uint16_t exponent;
    std::int32_t expected;
  };
  const Case cases[] = {{0, 1}, {1, 10}, {2, 100}, {4, 10000}, {9, 1000000000}, {10, 1410065408}};
  for (const Case& c : cases) EXPECT_EQ(PowerOfTen(c.exponent), c.expected) << c.exponent;
}

TEST(NumberTest, NearZeroIsStrictlyInsideOneHundredMillionth) {
  struct Case {
    long double value;
    bool near;
  };
  const Case cases[] = {
      {0.0L, true},    {-0.0L, true},     {0.99e-8L, true},   {-0.99e-8L, true}, {1e-8L, false},
      {-1e-8L, false}, {1.01e-8L, false}, {-1.01e-8L, false}, {1.0L, false},     {-1e-300L, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsNearZero(c.value), c.near) << static_cast<double>(c.value);
}

TEST(NumberTest, RoundToDecimals) {
  struct Case {
    int decimals;
    long double value;
    double expected;
  };
  const Case cases[] = {
      {2, 2.675, 2.68},
      {2, -2.675, -2.68},
      {0, 2.5, 3},
      {0, -2.5, -3},
      {0, 2.49, 2},
      {2, 1.005, 1.01},
      {2, -1.005, -1.01},
      {2, 1.2349, 1.23},
      {4, 1.23456, 1.2346},
      {2, 1234567.891, 1234567.89},
      {2, 0, 0},
      // The two-decimal text step: a scaled value of .995 or more rounds up.
      {2, 0.124994, 0.13},
      {2, 0.124949, 0.12},
      {0, 0.4996, 1},
      {0, 2.4999, 3},
      // Decimal counts outside 0 to 9 are taken as the nearest bound.
      {-1, 2.5, 3},
      {12, 0.1234567891234, 0.123456789},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundToDecimals(c.decimals, c.value), c.expected)
        << static_cast<double>(c.value) << " at " << c.decimals;
  }
}

TEST(NumberTest, RoundingNearZeroGivesPositiveZero) {
  for (const long double value : {-0.004L, 0.004L, -0.0L, -1e-12L, -0.0049L}) {
    const double rounded = RoundToDecimals(2, value);
    EXPECT_EQ(rounded, 0.0) << static_cast<double>(value);
    EXPECT_FALSE(std::signbit(rounded)) << static_cast<double>(value);
  }
}

TEST(NumberTest, RoundingDoesNotDependOnTheLocale) {
  // A locale with a decimal comma, when the machine has one.
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous != nullptr ? previous : "C";
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      switched = true;
      break;
    }
  }
  EXPECT_EQ(RoundToDecimals(2, 2.675), 2.68);
  EXPECT_EQ(RoundToDecimals(2, -1234.5678), -1234.57);
  std::setlocale(LC_ALL, saved.c_str());
  if (!switched) GTEST_SKIP() << "no decimal-comma locale installed";
}

}  // namespace
}  // namespace kx8::support
