#include "platform/locale_info.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform_test_support.h"
#include "support/helpers.h"

namespace kx8::platform {
namespace {

using test_support::ScopedEnv;

double At(int year, int month, int day, int hour, int minute, int second, int millisecond = 0) {
  return support::EncodeDate(year, month, day) +
         (((hour * 60 + minute) * 60 + second) * 1000 + millisecond) / 86400000.0;
}

// Thursday 17 September 2009, 22:05:07.250 in the evening.
const double kEvening = At(2009, 9, 17, 22, 5, 7, 250);
// Monday 5 January 2009, 09:03:04.007 in the morning.
const double kMorning = At(2009, 1, 5, 9, 3, 4, 7);
const double kMidnight = At(2008, 3, 1, 0, 0, 0);
const double kHalfPastMidnight = At(2008, 3, 1, 0, 30, 0);
const double kNoon = At(2008, 3, 1, 12, 0, 0);

TEST(FormatDateTimeTest, RendersTheProgramsFormats) {
  FormatSettings english = EnglishFormatSettings();
  FormatSettings dotted = english;  // a workstation with its own markers
  dotted.time_am_string = "a.m.";
  dotted.time_pm_string = "p.m.";
  FormatSettings looping = english;  // a long date that names itself
  looping.long_date_format = "dddddd d";

  struct Case {
    const char* format;
    double date;
    const FormatSettings* settings;
    const char* expected;
  };
  const Case cases[] = {
      // The backup archive's stamp: long date, 12-hour hour, seconds, a
      // blank and the workstation's marker; the minutes are not in it.
      {"ddddddhhss AMPM", kEvening, &english, "Thursday, 17 September 20091007 PM"},
      {"ddddddhhss AMPM", kMorning, &english, "Monday, 5 January 20090904 AM"},
      {"ddddddhhss AMPM", kEvening, &dotted, "Thursday, 17 September 20091007 p.m."},
      {"ddddddhhss AMPM", kHalfPastMidnight, &english, "Saturday, 1 March 20081200 AM"},
      // The window caption.
      {"DD MMM YYYY", kEvening, &english, "17 Sep 2009"},
      {"DD MMM YYYY", kMorning, &english, "05 Jan 2009"},
      // Days, months, years.
      {"d/m/yy", kMorning, &english, "5/1/09"},
      {"dd/mm/yyyy", kMorning, &english, "05/01/2009"},
      {"ddd dddd", kMorning, &english, "Mon Monday"},
      {"ddddd", kMorning, &english, "05/01/2009"},
      {"ddddddd", kMorning, &english, "Monday, 5 January 2009"},
      {"mmm mmmm MMMMM", kEvening, &english, "Sep September September"},
      {"y yy yyy yyyy", kMorning, &english, "09 09 2009 2009"},
      // Times; m right after h is the minute.
      {"hh:nn:ss", kEvening, &english, "22:05:07"},
      {"h:n:s", kMorning, &english, "9:3:4"},
      {"hh:mm", kEvening, &english, "22:05"},
      {"h m", kMorning, &english, "9 3"},
      {"mm hh", kEvening, &english, "09 22"},
      {"z zzz", kMorning, &english, "7 007"},
      {"zzz", kEvening, &english, "250"},
      {"t tt", kEvening, &english, "22:05 22:05:07"},
      {"c", kEvening, &english, "17/09/2009 22:05:07"},
      {"c", kMidnight, &english, "01/03/2008"},
      // Morning and afternoon.
      {"hh", kEvening, &english, "22"},
      {"hh:nn am/pm", kEvening, &english, "10:05 pm"},
      {"hh:nn AM/PM", kMorning, &english, "09:03 AM"},
      {"hh:nn Am/pM", kEvening, &english, "10:05 pM"},
      {"h A/P", kEvening, &english, "10 P"},
      {"h a/p", kMorning, &english, "9 a"},
      {"h ampm", kEvening, &dotted, "10 p.m."},
      {"h AM/PM", kEvening, &dotted, "10 PM"},
      {"h ampm", kNoon, &english, "12 PM"},
      {"h ampm", kHalfPastMidnight, &english, "12 AM"},
      {"h 'AMPM'", kEvening, &english, "22 AMPM"},  // quoted: no marker, no 12-hour clock
      {"h aX ampm", kEvening, &english, "22 aX PM"},  // the first "a" after h decides
      {"h h ampm", kEvening, &english, "22 10 PM"},
      {"ampm", kMorning, &english, "AM"},
      // Literal text.
      {"'dd' \"mm\" yyyy", kMorning, &english, "dd mm 2009"},
      {"[d] #", kMorning, &english, "[5] #"},
      {"yyyy'mm", kMorning, &english, "2009mm"},
      {"", kMorning, &english, ""},
      // Formats from the settings are rendered one level deep only.
      {"dddddd", kMorning, &looping, " 5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDateTime(c.format, c.date, *c.settings), c.expected) << "format " << c.format;
  }
}

TEST(FormatDateTimeTest, DatesOutsideTheCalendarAreRefused) {
  const FormatSettings english = EnglishFormatSettings();
  EXPECT_THROW(FormatDateTime("dd", std::numeric_limits<double>::quiet_NaN(), english),
               std::invalid_argument);
  EXPECT_THROW(FormatDateTime("dd", 1e9, english), std::invalid_argument);
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy", support::EncodeDate(1, 1, 1), english), "01/01/0001");
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy", support::EncodeDate(9999, 12, 31), english), "31/12/9999");
  // Before day 0 the time of day is the positive fraction of a negative
  // number: -1.25 is 29 December 1899, 06:00.
  EXPECT_EQ(FormatDateTime("dddd dd/mm/yyyy hh:nn", -1.25, english), "Friday 29/12/1899 06:00");
}

TEST(WorkstationFormatSettingsTest, ComesFromTheLocaleUnlessTheEnvironmentSaysOtherwise) {
  ScopedEnv all("LC_ALL", "C");
  std::optional<ScopedEnv> long_date(std::in_place, "KX8_LONG_DATE_FORMAT", std::nullopt);
  std::optional<ScopedEnv> short_date(std::in_place, "KX8_SHORT_DATE_FORMAT", std::nullopt);
  std::optional<ScopedEnv> am(std::in_place, "KX8_TIME_AMSTRING", std::nullopt);
  std::optional<ScopedEnv> pm(std::in_place, "KX8_TIME_PMSTRING", std::nullopt);

  FormatSettings settings = WorkstationFormatSettings();
  EXPECT_EQ(settings.long_date_format, kDefaultLongDateFormat);
  EXPECT_EQ(settings.short_date_format, "mm/dd/yy");  // the C locale's "%m/%d/%y"
  EXPECT_EQ(settings.long_time_format, "hh:nn:ss");
  EXPECT_EQ(settings.short_time_format, "hh:nn");
  EXPECT_EQ(settings.time_am_string, "AM");
  EXPECT_EQ(settings.time_pm_string, "PM");
  EXPECT_EQ(settings.long_month_names[8], "September");
  EXPECT_EQ(settings.short_day_names[4], "Thu");
  EXPECT_EQ(FormatDateTime("ddddddhhss AMPM", kEvening), "Thursday, 17 September 20091007 PM");
  EXPECT_EQ(FormatDateTime("DD MMM YYYY", kEvening), "17 Sep 2009");

  long_date.emplace("KX8_LONG_DATE_FORMAT", "dd mmmm yyyy");
  short_date.emplace("KX8_SHORT_DATE_FORMAT", "yyyy-mm-dd");
  am.emplace("KX8_TIME_AMSTRING", "am");
  pm.emplace("KX8_TIME_PMSTRING", "");  // an empty marker is a marker
  settings = WorkstationFormatSettings();
  EXPECT_EQ(settings.short_date_format, "yyyy-mm-dd");
  EXPECT_EQ(FormatDateTime("ddddddhhss AMPM", kEvening), "17 September 20091007 ");
  EXPECT_EQ(FormatDateTime("ddddddhhss AMPM", kMorning), "05 January 20090904 am");

  long_date.emplace("KX8_LONG_DATE_FORMAT", "");  // empty: not an override
  EXPECT_EQ(WorkstationFormatSettings().long_date_format, kDefaultLongDateFormat);
}

TEST(ClockTest, LocalDateTimeFollowsTheTimeZone) {
  // 17 September 2009, 22:05:07.250 UTC.
  constexpr std::int64_t kSeconds = 1253225107;
  {
    ScopedEnv zone("TZ", "UTC0");
    EXPECT_DOUBLE_EQ(LocalDateTime(kSeconds, 250'999'999), At(2009, 9, 17, 22, 5, 7, 250));
  }
  {
    ScopedEnv zone("TZ", "SGT-8");
    EXPECT_DOUBLE_EQ(LocalDateTime(kSeconds, 250'000'000), At(2009, 9, 18, 6, 5, 7, 250));
    const double now = Now();
    const double expected = LocalDateTime(std::time(nullptr), 0);
    EXPECT_NEAR(now, expected, 2.0 / 86400.0);
  }
}

}  // namespace
}  // namespace kx8::platform
