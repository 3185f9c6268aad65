// Clock, regional date settings and the date/time formatter.
//
// Dates are the program's date type: a day count from 30 December 1899
// with the time of day as the fraction (support/helpers.h), in local time.
//
// Regional settings. FormatSettings holds what the formatter takes from the
// workstation: day and month names, the short and long date formats, the
// time formats, the date and time separators and the morning/afternoon
// markers. WorkstationFormatSettings() builds them from the process
// environment's locale (LC_ALL, LC_TIME, LANG, read with newlocale, so the
// process's global locale is neither needed nor changed):
//  - names: the locale's abbreviated and full day and month names;
//  - short date ("ddddd"): the locale's date format (D_FMT) translated into
//    format letters ("%d/%m/%Y" becomes "dd/mm/yyyy");
//  - long date ("dddddd"): the locale has no long date format, so it is the
//    fixed "dddd, d mmmm yyyy" (weekday, day, month name, year), rendered
//    with the locale's names: "Thursday, 17 September 2009";
//  - long time ("tt"): the locale's time format (T_FMT) translated; short
//    time ("t"): the same without its seconds;
//  - separators: the first punctuation character of D_FMT and of T_FMT
//    ("/" and ":" when there is none);
//  - markers: the locale's AM_STR and PM_STR, "AM" and "PM" when the locale
//    gives none.
// Environment variables override the locale: KX8_LONG_DATE_FORMAT and
// KX8_SHORT_DATE_FORMAT (format strings, used when set and not empty),
// KX8_TIME_AMSTRING and KX8_TIME_PMSTRING (used when set, even when empty,
// as a workstation may have empty markers). A locale that cannot be loaded
// counts as the "C" locale.
//
// FormatDateTime renders a Windows-style format string; see its comment.
#ifndef KX8_PLATFORM_LOCALE_INFO_H_
#define KX8_PLATFORM_LOCALE_INFO_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kx8::platform {

// --- Clock ---------------------------------------------------------------

// The date of a moment given as seconds and nanoseconds since 1 January
// 1970 UTC, in the local time zone, to the millisecond.
double LocalDateTime(std::int64_t unix_seconds, std::int64_t nanoseconds);

// The current local date and time, to the millisecond.
double Now();

// Has the process take the system's time zone once, at the start of a run
// or of the window, before other threads start. While TZ is not set, the C
// library looks at /etc/localtime again at every mktime (the archive
// library makes one for every entry it reads, thousands in a pass); with TZ
// naming that file it is read once. A TZ already set is left as it is.
void TakeTimeZoneOnce();

// --- Regional settings ---------------------------------------------------

struct FormatSettings {
  std::array<std::string, 12> short_month_names;  // January first
  std::array<std::string, 12> long_month_names;
  std::array<std::string, 7> short_day_names;  // Sunday first
  std::array<std::string, 7> long_day_names;
  std::string short_date_format;
  std::string long_date_format;
  std::string short_time_format;
  std::string long_time_format;
  std::string time_am_string;
  std::string time_pm_string;
  char date_separator = '/';
  char time_separator = ':';
};

// The long date format used when the workstation gives none.
inline constexpr std::string_view kDefaultLongDateFormat = "dddd, d mmmm yyyy";

// English names, "dd/mm/yyyy", kDefaultLongDateFormat, "hh:nn" and
// "hh:nn:ss", "AM" and "PM", "/" and ":". Fixed, for tests and as the base
// of the workstation's settings.
FormatSettings EnglishFormatSettings();

// The workstation's settings, as described at the top of this file. Read
// afresh on every call.
FormatSettings WorkstationFormatSettings();

// --- Formatting ----------------------------------------------------------

// Renders date by a Windows-style format string. Specifiers are letters in
// either case; a run of the same letter is one specifier:
//   d dd        day of month, without / with leading zero
//   ddd dddd    short / long day name
//   ddddd       short date format; dddddd (or longer): long date format
//   m mm        month number, without / with leading zero; minutes instead
//               when the last specifier before it was h or hh
//   mmm mmmm    short / long month name (four or more: long)
//   y yy        two-digit year; yyy and longer: four-digit year
//   h hh        hour, without / with leading zero; on the 12-hour clock
//               (1 to 12) when an AM/PM specifier follows before the next
//               h (quoted text skipped)
//   n nn        minutes; s ss seconds; z zz ms, zzz ms with three digits
//   t / tt      short / long time format
//   c           short date, then a blank and the long time when the time of
//               day is not midnight
//   am/pm       "am" before noon, "pm" from noon, in the letter case written
//               ("AM/PM" gives "AM" or "PM")
//   a/p         "a" or "p", in the letter case written
//   ampm        the workstation's morning or afternoon marker, in any
//               letter case ("AMPM" is the same specifier)
//   /           the date separator; ":" the time separator
//   '...' "..." quoted text, copied without its quotes (an unterminated
//               quote runs to the end)
// Every other character, including letters that are no specifier, is
// copied as it stands. Formats taken from the settings (ddddd, dddddd, t,
// tt, c) are rendered by the same rules, one level deep: inside them these
// specifiers give nothing.
std::string FormatDateTime(std::string_view format, double date, const FormatSettings& settings);

// FormatDateTime with WorkstationFormatSettings().
std::string FormatDateTime(std::string_view format, double date);

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_LOCALE_INFO_H_
