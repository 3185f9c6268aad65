#include "platform/locale_info.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "support/helpers.h"

namespace kx8::platform {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr std::int64_t kMillisecondsPerDay = 86400000;

// The program's date type covers 1 January 0001 to 31 December 9999.
constexpr double kFirstDate = -693593.0;
constexpr double kDayAfterLastDate = 2958466.0;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiUpper(text[i]) != AsciiUpper(prefix[i])) return false;
  }
  return true;
}

// A whole day number and a time of day (fraction of a day, 0 <= t < 1) as
// one date: before day 0 the time of day is kept as a positive fraction of
// a negative number (-1.25 is 29 December 1899, 06:00).
double CombineDayAndTime(double day, double time_of_day) {
  return day < 0 ? day - time_of_day : day + time_of_day;
}

// --- Regional settings ---------------------------------------------------

const FormatSettings& English() {
  static const FormatSettings settings = [] {
    FormatSettings s;
    s.short_month_names = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    s.long_month_names = {"January", "February", "March",     "April",   "May",      "June",
                          "July",    "August",   "September", "October", "November", "December"};
    s.short_day_names = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    s.long_day_names = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                        "Thursday", "Friday", "Saturday"};
    s.short_date_format = "dd/mm/yyyy";
    s.long_date_format = std::string(kDefaultLongDateFormat);
    s.short_time_format = "hh:nn";
    s.long_time_format = "hh:nn:ss";
    s.time_am_string = "AM";
    s.time_pm_string = "PM";
    return s;
  }();
  return settings;
}

// One piece of a translated strftime format.
struct FormatPiece {
  enum Kind { kField, kSeconds, kSeparator, kLiteral } kind;
  std::string text;
};

// The first punctuation character outside the conversions of a strftime
// format, or `fallback`.
char FirstSeparator(std::string_view format, char fallback) {
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%') {
      ++i;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(format[i]);
    if (c < 0x80 && std::ispunct(c)) return format[i];
  }
  return fallback;
}

// Translates a strftime format into pieces of a format string of the
// program's own kind. `separator` is the character that stands for the
// date or time separator; it becomes `separator_token`. Conversions
// without a counterpart are dropped.
void TranslateStrftime(std::string_view format, char separator, char separator_token,
                       locale_t locale, int depth, std::vector<FormatPiece>& pieces) {
  if (depth > 3) return;
  auto literal = [&pieces](char c) {
    if (!pieces.empty() && pieces.back().kind == FormatPiece::kLiteral) {
      pieces.back().text += c;
    } else {
      pieces.push_back({FormatPiece::kLiteral, std::string(1, c)});
    }
  };
  auto nested = [&](std::string_view inner) {
    TranslateStrftime(inner, separator, separator_token, locale, depth + 1, pieces);
  };
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%') {
      if (c == separator) {
        pieces.push_back({FormatPiece::kSeparator, std::string(1, separator_token)});
      } else {
        literal(c);
      }
      continue;
    }
    // Flags, width and the E and O modifiers of glibc.
    bool unpadded = false;
    std::size_t j = i + 1;
    while (j < format.size() && (format[j] == '-' || format[j] == '_' || format[j] == '0' ||
                                 format[j] == '^' || format[j] == '#')) {
      if (format[j] == '-' || format[j] == '_') unpadded = true;
      ++j;
    }
    while (j < format.size() && IsAsciiDigit(format[j])) ++j;
    while (j < format.size() && (format[j] == 'E' || format[j] == 'O')) ++j;
    if (j >= format.size()) break;
    i = j;
    auto field = [&pieces](std::string text) { pieces.push_back({FormatPiece::kField, std::move(text)}); };
    switch (format[j]) {
      case 'd': field(unpadded ? "d" : "dd"); break;
      case 'e': field("d"); break;
      case 'm': field(unpadded ? "m" : "mm"); break;
      case 'Y': field("yyyy"); break;
      case 'y': field("yy"); break;
      case 'b':
      case 'h': field("mmm"); break;
      case 'B': field("mmmm"); break;
      case 'a': field("ddd"); break;
      case 'A': field("dddd"); break;
      case 'H':
      case 'I': field(unpadded ? "h" : "hh"); break;
      case 'k':
      case 'l': field("h"); break;
      case 'M': field(unpadded ? "n" : "nn"); break;
      case 'S': pieces.push_back({FormatPiece::kSeconds, unpadded ? "s" : "ss"}); break;
      case 'p':
      case 'P': field("ampm"); break;
      case 'D': nested("%m/%d/%y"); break;
      case 'F': nested("%Y-%m-%d"); break;
      case 'T': nested("%H:%M:%S"); break;
      case 'R': nested("%H:%M"); break;
      case 'r': nested(::nl_langinfo_l(T_FMT_AMPM, locale)); break;
      case 'n':
      case 't': literal(' '); break;
      case '%': literal('%'); break;
      default: break;
    }
  }
}

// Joins pieces into a format string; literal text is quoted. With
// drop_seconds the seconds field goes, with the separator just before it.
std::string JoinPieces(const std::vector<FormatPiece>& pieces, bool drop_seconds) {
  std::string format;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const FormatPiece& piece = pieces[i];
    if (drop_seconds) {
      if (piece.kind == FormatPiece::kSeconds) continue;
      if (piece.kind == FormatPiece::kSeparator && i + 1 < pieces.size() &&
          pieces[i + 1].kind == FormatPiece::kSeconds) {
        continue;
      }
    }
    if (piece.kind == FormatPiece::kLiteral) {
      const char quote = piece.text.find('"') == std::string::npos ? '"' : '\'';
      format += quote;
      format += piece.text;
      format += quote;
    } else {
      format += piece.text;
    }
  }
  return format;
}

std::string Translate(std::string_view strftime_format, char separator, char separator_token,
                      locale_t locale, bool drop_seconds) {
  std::vector<FormatPiece> pieces;
  TranslateStrftime(strftime_format, separator, separator_token, locale, 0, pieces);
  return JoinPieces(pieces, drop_seconds);
}

void ApplyLocale(locale_t locale, FormatSettings& s) {
  for (int i = 0; i < 12; ++i) {
    if (const char* name = ::nl_langinfo_l(ABMON_1 + i, locale); name && *name) s.short_month_names[i] = name;
    if (const char* name = ::nl_langinfo_l(MON_1 + i, locale); name && *name) s.long_month_names[i] = name;
  }
  for (int i = 0; i < 7; ++i) {
    if (const char* name = ::nl_langinfo_l(ABDAY_1 + i, locale); name && *name) s.short_day_names[i] = name;
    if (const char* name = ::nl_langinfo_l(DAY_1 + i, locale); name && *name) s.long_day_names[i] = name;
  }

  const std::string date_format = ::nl_langinfo_l(D_FMT, locale);
  if (!date_format.empty()) {
    s.date_separator = FirstSeparator(date_format, '/');
    s.short_date_format = Translate(date_format, s.date_separator, '/', locale, false);
  }
  const std::string time_format = ::nl_langinfo_l(T_FMT, locale);
  if (!time_format.empty()) {
    s.time_separator = FirstSeparator(time_format, ':');
    s.long_time_format = Translate(time_format, s.time_separator, ':', locale, false);
    s.short_time_format = Translate(time_format, s.time_separator, ':', locale, true);
  }

  const char* am = ::nl_langinfo_l(AM_STR, locale);
  const char* pm = ::nl_langinfo_l(PM_STR, locale);
  s.time_am_string = (am && *am) ? am : "AM";
  s.time_pm_string = (pm && *pm) ? pm : "PM";
}

void ApplyEnvironment(FormatSettings& s) {
  if (const char* value = std::getenv("KX8_LONG_DATE_FORMAT"); value && *value) s.long_date_format = value;
  if (const char* value = std::getenv("KX8_SHORT_DATE_FORMAT"); value && *value) s.short_date_format = value;
  if (const char* value = std::getenv("KX8_TIME_AMSTRING")) s.time_am_string = value;
  if (const char* value = std::getenv("KX8_TIME_PMSTRING")) s.time_pm_string = value;
}

// --- Formatting ----------------------------------------------------------

struct DateParts {
  int year;
  int month;
  int day;
  int day_of_week;  // 0 Sunday .. 6 Saturday
  int hour;
  int minute;
  int second;
  int millisecond;
  bool has_time;
};

DateParts Decode(double date) {
  if (!(date >= kFirstDate && date < kDayAfterLastDate)) {
    throw std::invalid_argument("Cannot format the date value " + std::to_string(date) +
                                ": it lies outside 1 January 0001 to 31 December 9999");
  }
  const support::CalendarDate calendar = support::DecodeDate(date);
  const double whole = std::trunc(date);
  std::int64_t milliseconds = std::llround(std::fabs(date - whole) * kMillisecondsPerDay);
  if (milliseconds >= kMillisecondsPerDay) milliseconds = kMillisecondsPerDay - 1;

  DateParts parts{};
  parts.year = calendar.year;
  parts.month = calendar.month;
  parts.day = calendar.day;
  // Day 0 (30 December 1899) was a Saturday.
  const auto day_number = static_cast<std::int64_t>(whole);
  parts.day_of_week = static_cast<int>(((day_number % 7) + 7 + 6) % 7);
  parts.hour = static_cast<int>(milliseconds / 3600000);
  parts.minute = static_cast<int>(milliseconds / 60000 % 60);
  parts.second = static_cast<int>(milliseconds / 1000 % 60);
  parts.millisecond = static_cast<int>(milliseconds % 1000);
  parts.has_time = milliseconds != 0;
  return parts;
}

// Does an AM/PM specifier follow in `rest` before the next h? The first
// "a" outside quotes decides.
bool AmPmFollows(std::string_view rest) {
  char quote = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == 'h' || c == 'H') {
      return false;
    } else if (c == 'a' || c == 'A') {
      const std::string_view here = rest.substr(i);
      return StartsWithIgnoreCase(here, "AM/PM") || StartsWithIgnoreCase(here, "A/P") ||
             StartsWithIgnoreCase(here, "AMPM");
    }
  }
  return false;
}

class Formatter {
 public:
  Formatter(const FormatSettings& settings, double date) : settings_(settings), parts_(Decode(date)) {}

  void Append(std::string_view format);
  std::string Take() { return std::move(out_); }

 private:
  void AppendNumber(int value, int digits) {
    std::string text = std::to_string(value < 0 ? -value : value);
    if (static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), '0');
    if (value < 0) out_ += '-';
    out_ += text;
  }

  const FormatSettings& settings_;
  DateParts parts_;
  std::string out_;
  int level_ = 0;
};

void Formatter::Append(std::string_view format) {
  // Formats taken from the settings are rendered one level deep only.
  if (level_ >= 2) return;
  ++level_;
  const DateParts& p = parts_;
  const bool afternoon = p.hour >= 12;
  char last_specifier = ' ';

  std::size_t i = 0;
  while (i < format.size()) {
    const char starter = format[i];
    const char token = AsciiUpper(starter);
    std::size_t count = 1;
    if (IsAsciiLetter(starter)) {
      while (i + count < format.size() && AsciiUpper(format[i + count]) == token) ++count;
    }
    bool specifier = true;
    switch (token) {
      case 'Y':
        if (count <= 2) {
          AppendNumber(p.year % 100, 2);
        } else {
          AppendNumber(p.year, 4);
        }
        i += count;
        break;
      case 'M':
        if (last_specifier == 'H') {
          AppendNumber(p.minute, count == 1 ? 0 : 2);
        } else if (count <= 2) {
          AppendNumber(p.month, count == 1 ? 0 : 2);
        } else {
          out_ += count == 3 ? settings_.short_month_names[p.month - 1]
                             : settings_.long_month_names[p.month - 1];
        }
        i += count;
        break;
      case 'D':
        switch (count) {
          case 1: AppendNumber(p.day, 0); break;
          case 2: AppendNumber(p.day, 2); break;
          case 3: out_ += settings_.short_day_names[p.day_of_week]; break;
          case 4: out_ += settings_.long_day_names[p.day_of_week]; break;
          case 5: Append(settings_.short_date_format); break;
          default: Append(settings_.long_date_format); break;
        }
        i += count;
        break;
      case 'H': {
        int hour = p.hour;
        if (AmPmFollows(format.substr(i + count))) {
          hour %= 12;
          if (hour == 0) hour = 12;
        }
        AppendNumber(hour, count == 1 ? 0 : 2);
        i += count;
        break;
      }
      case 'N':
        AppendNumber(p.minute, count == 1 ? 0 : 2);
        i += count;
        break;
      case 'S':
        AppendNumber(p.second, count == 1 ? 0 : 2);
        i += count;
        break;
      case 'Z':
        AppendNumber(p.millisecond, count < 3 ? 0 : 3);
        i += count;
        break;
      case 'T':
        Append(count == 1 ? settings_.short_time_format : settings_.long_time_format);
        i += count;
        break;
      case 'C':
        Append(settings_.short_date_format);
        if (p.has_time) {
          out_ += ' ';
          Append(settings_.long_time_format);
        }
        i += count;
        break;
      case 'A': {
        const std::string_view here = format.substr(i);
        if (StartsWithIgnoreCase(here, "AM/PM")) {
          out_ += here.substr(afternoon ? 3 : 0, 2);  // in the case written
          i += 5;
        } else if (StartsWithIgnoreCase(here, "A/P")) {
          out_ += here[afternoon ? 2 : 0];
          i += 3;
        } else if (StartsWithIgnoreCase(here, "AMPM")) {
          out_ += afternoon ? settings_.time_pm_string : settings_.time_am_string;
          i += 4;
        } else {
          out_ += starter;
          i += 1;
          specifier = false;
        }
        break;
      }
      case '/':
        out_ += settings_.date_separator;
        i += 1;
        specifier = false;
        break;
      case ':':
        out_ += settings_.time_separator;
        i += 1;
        specifier = false;
        break;
      case '\'':
      case '"': {
        const std::size_t close = format.find(starter, i + 1);
        const std::size_t end = close == std::string_view::npos ? format.size() : close;
        out_ += format.substr(i + 1, end - i - 1);
        i = close == std::string_view::npos ? format.size() : close + 1;
        specifier = false;
        break;
      }
      default:
        out_ += format.substr(i, count);
        i += count;
        specifier = false;
        break;
    }
    if (specifier) last_specifier = token;
  }
  --level_;
}

}  // namespace

double LocalDateTime(std::int64_t unix_seconds, std::int64_t nanoseconds) {
  const auto seconds = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) {
    throw std::out_of_range("Cannot convert the time " + std::to_string(unix_seconds) +
                            " to a local date");
  }
  const double day = support::EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  const double second_of_day = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  const double milliseconds = static_cast<double>(nanoseconds / 1000000);
  return CombineDayAndTime(day, (second_of_day * 1000.0 + milliseconds) / (kSecondsPerDay * 1000.0));
}

void TakeTimeZoneOnce() {
  if (std::getenv("TZ") == nullptr) ::setenv("TZ", ":/etc/localtime", 0);
  ::tzset();
}

double Now() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return LocalDateTime(now.tv_sec, now.tv_nsec);
}

FormatSettings EnglishFormatSettings() { return English(); }

FormatSettings WorkstationFormatSettings() {
  FormatSettings settings = English();
  locale_t locale = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) {
    locale = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  }
  if (locale != static_cast<locale_t>(nullptr)) {
    ApplyLocale(locale, settings);
    ::freelocale(locale);
  }
  ApplyEnvironment(settings);
  return settings;
}

std::string FormatDateTime(std::string_view format, double date, const FormatSettings& settings) {
  Formatter formatter(settings, date);
  formatter.Append(format);
  return formatter.Take();
}

std::string FormatDateTime(std::string_view format, double date) {
  return FormatDateTime(format, date, WorkstationFormatSettings());
}

}  // namespace kx8::platform
