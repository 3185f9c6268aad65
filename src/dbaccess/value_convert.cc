#include "dbaccess/value_convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "dbaccess/db_messages.h"
#include "dbaccess/engine_call.h"
#include "support/helpers.h"

namespace kx8::dbaccess::internal {

namespace {

std::string NumberText(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

[[noreturn]] void NotValid(const std::string& text, const char* what) {
  RaiseLayerError(msg::kNotValidValueBefore + text + what);
}

std::string DateText(double v) {
  support::CalendarDate d = support::DecodeDate(v);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", static_cast<int>(d.year), d.month, d.day);
  return buf;
}

std::string TimeText(double v) {
  std::int64_t ms = ToEngineMoment(v).ms;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60));
  return buf;
}

bool AllDigits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return !s.empty();
}

int Digits(std::string_view s) {
  int v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

}  // namespace

ValueKind KindOf(TFieldType type) {
  switch (type) {
    case ftBoolean: return ValueKind::Logical;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc: return ValueKind::Whole;
    case ftFloat:
    case ftCurrency:
    case ftBCD: return ValueKind::Number;
    case ftDate: return ValueKind::Date;
    case ftTime: return ValueKind::Time;
    case ftDateTime: return ValueKind::DateTime;
    default: return ValueKind::Text;
  }
}

bool LogicalFromChar(char c) { return c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == '1'; }

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  std::string t = Trim(text);
  std::string_view s = t;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  std::int64_t v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<double> ParseFloat(std::string_view text) {
  std::string t = Trim(text);
  std::string_view s = t;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

// "YYYY-MM-DD" or "YYYYMMDD", optionally followed by " HH:MM[:SS]" (or
// "T" and the time), or a time "HH:MM[:SS]" alone, or a day number.
std::optional<double> ParseDateTime(std::string_view text) {
  std::string t = Trim(text);
  if (t.empty()) return std::nullopt;
  if (std::optional<double> n = ParseFloat(t)) {
    if (!(t.size() == 8 && AllDigits(t))) return n;
  }
  std::string_view s = t;
  std::string_view date_part = s, time_part;
  std::size_t sep = s.find_first_of(" T");
  if (s.find(':') != std::string_view::npos && s.find('-') == std::string_view::npos && sep == std::string_view::npos) {
    date_part = {};
    time_part = s;
  } else if (sep != std::string_view::npos) {
    date_part = s.substr(0, sep);
    time_part = s.substr(sep + 1);
  }
  double value = 0;
  if (!date_part.empty()) {
    int y = 0, m = 0, d = 0;
    if (date_part.size() == 10 && date_part[4] == '-' && date_part[7] == '-' && AllDigits(date_part.substr(0, 4)) &&
        AllDigits(date_part.substr(5, 2)) && AllDigits(date_part.substr(8, 2))) {
      y = Digits(date_part.substr(0, 4));
      m = Digits(date_part.substr(5, 2));
      d = Digits(date_part.substr(8, 2));
    } else if (date_part.size() == 8 && AllDigits(date_part)) {
      y = Digits(date_part.substr(0, 4));
      m = Digits(date_part.substr(4, 2));
      d = Digits(date_part.substr(6, 2));
    } else {
      return std::nullopt;
    }
    if (m < 1 || m > 12 || d < 1 || d > support::DaysInMonth(y, m)) return std::nullopt;
    value = support::EncodeDate(y, m, d);
  }
  if (!time_part.empty()) {
    int h = 0, mi = 0, sec = 0;
    if (time_part.size() >= 5 && time_part[2] == ':' && AllDigits(time_part.substr(0, 2)) &&
        AllDigits(time_part.substr(3, 2))) {
      h = Digits(time_part.substr(0, 2));
      mi = Digits(time_part.substr(3, 2));
      if (time_part.size() == 8 && time_part[5] == ':' && AllDigits(time_part.substr(6, 2))) {
        sec = Digits(time_part.substr(6, 2));
      } else if (time_part.size() != 5) {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
    if (h > 23 || mi > 59 || sec > 59) return std::nullopt;
    double frac = (h * 3600.0 + mi * 60.0 + sec) / 86400.0;
    value = value < 0 ? value - frac : value + frac;
  }
  return value;
}

EngineMoment ToEngineMoment(double date_time) {
  double whole = std::trunc(date_time);
  std::int64_t day = static_cast<std::int64_t>(whole);
  std::int64_t ms = std::llround(std::fabs(date_time - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    day += 1;
  }
  return {day + kJulianOffset, ms};
}

double FromEngineMoment(std::int64_t julian_day, std::int64_t ms) {
  double day = static_cast<double>(julian_day - kJulianOffset);
  double frac = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return day < 0 ? day - frac : day + frac;
}

std::string ToText(const TVariant& v, TFieldType type) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) {
    switch (KindOf(type)) {
      case ValueKind::Date: return DateText(*d);
      case ValueKind::Time: return TimeText(*d);
      case ValueKind::DateTime: return DateText(*d) + " " + TimeText(*d);
      default: return NumberText(*d);
    }
  }
  return {};
}

std::int64_t ToInteger(const TVariant& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (const auto* d = std::get_if<double>(&v)) return static_cast<std::int64_t>(std::llround(*d));
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (Trim(*s).empty()) return 0;
    if (std::optional<std::int64_t> n = ParseInteger(*s)) return *n;
    NotValid(*s, msg::kNotValidInteger);
  }
  return 0;
}

double ToFloat(const TVariant& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1 : 0;
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (Trim(*s).empty()) return 0;
    if (std::optional<double> n = ParseFloat(*s)) return *n;
    NotValid(*s, msg::kNotValidFloat);
  }
  return 0;
}

bool ToBoolean(const TVariant& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i != 0;
  if (const auto* d = std::get_if<double>(&v)) return *d != 0;
  if (const auto* s = std::get_if<std::string>(&v)) {
    std::string t = Trim(*s);
    return !t.empty() && LogicalFromChar(t[0]);
  }
  return false;
}

double ToDateTime(const TVariant& v) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (Trim(*s).empty()) return 0;
    if (std::optional<double> d = ParseDateTime(*s)) return *d;
    NotValid(*s, msg::kNotValidDateTime);
  }
  return ToFloat(v);
}

TVariant Normalise(const TVariant& v, TFieldType type) {
  if (VarIsNull(v)) return v;
  ValueKind kind = KindOf(type);
  if (kind == ValueKind::Text) return ToText(v, type);
  if (const auto* s = std::get_if<std::string>(&v); s != nullptr && Trim(*s).empty()) return std::monostate{};
  switch (kind) {
    case ValueKind::Logical: return ToBoolean(v);
    case ValueKind::Whole: return ToInteger(v);
    case ValueKind::Number: return ToFloat(v);
    default: return ToDateTime(v);
  }
}

}  // namespace kx8::dbaccess::internal
