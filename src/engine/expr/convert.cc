#include "expr/convert.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace dbe::expr {
namespace {

constexpr int64_t kUnixEpochDay = 2440588;  // day number of 1970-01-01
constexpr int kMaxDigits = 18;

std::string_view Trim(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
  size_t e = s.size();
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1..max_len digits at s[*pos]; false when there are none or more.
bool Digits(std::string_view s, size_t* pos, size_t min_len, size_t max_len, int* out) {
  size_t i = *pos;
  int v = 0;
  while (i < s.size() && IsDigit(s[i]) && i - *pos < max_len) v = v * 10 + (s[i++] - '0');
  if (i - *pos < min_len) return false;
  if (i < s.size() && IsDigit(s[i])) return false;
  *pos = i;
  *out = v;
  return true;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool MakeDate(int y, int m, int d, int64_t* out) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
  *out = DayNumber(y, m, d);
  return true;
}

int64_t Pow10(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

std::string FormatDate(int64_t day) {
  int y, m, d;
  CivilDate(day, &y, &m, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string FormatTime(int64_t ms) {
  const int64_t s = ms / 1000;
  char buf[32];
  if (ms % 1000 != 0) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60),
                  static_cast<int>(ms % 1000));
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  }
  return buf;
}

// mant / 10^scale without trailing zeros after the point.
std::string FormatDecimal(int64_t mant, int scale) {
  while (scale > 0 && mant % 10 == 0) {
    mant /= 10;
    --scale;
  }
  const bool negative = mant < 0;
  // Digits of |mant|, through unsigned arithmetic so that INT64_MIN works.
  uint64_t u = negative ? 0 - static_cast<uint64_t>(mant) : static_cast<uint64_t>(mant);
  std::string digits = std::to_string(u);
  if (scale > 0) {
    if (digits.size() <= static_cast<size_t>(scale)) {
      digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
  }
  return negative ? "-" + digits : digits;
}

}  // namespace

int64_t DayNumber(int year, int month, int day) {
  // Days since 1970-01-01 in the proleptic Gregorian calendar (eras of 400
  // years), shifted to day numbers.
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + kUnixEpochDay;
}

void CivilDate(int64_t day_number, int* year, int* month, int* day) {
  const int64_t z = day_number - kUnixEpochDay + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

bool ParseDate(std::string_view text, int64_t* day_number) {
  const std::string_view s = Trim(text);
  size_t pos = 0;
  int a, b, c;
  if (s.size() == 8) {  // YYYYMMDD
    for (char ch : s) {
      if (!IsDigit(ch)) return false;
    }
    return MakeDate((s[0] - '0') * 1000 + (s[1] - '0') * 100 + (s[2] - '0') * 10 + (s[3] - '0'),
                    (s[4] - '0') * 10 + (s[5] - '0'), (s[6] - '0') * 10 + (s[7] - '0'), day_number);
  }
  if (!Digits(s, &pos, 1, 4, &a) || pos >= s.size()) return false;
  const char sep = s[pos];
  if (sep != '-' && sep != '/') return false;
  if (pos == 4) {  // YYYY-MM-DD, YYYY/MM/DD
    ++pos;
    if (!Digits(s, &pos, 1, 2, &b) || pos >= s.size() || s[pos] != sep) return false;
    ++pos;
    if (!Digits(s, &pos, 1, 2, &c) || pos != s.size()) return false;
    return MakeDate(a, b, c, day_number);
  }
  if (sep != '/' || pos > 2) return false;  // MM/DD/YYYY
  ++pos;
  if (!Digits(s, &pos, 1, 2, &b) || pos >= s.size() || s[pos] != '/') return false;
  ++pos;
  if (!Digits(s, &pos, 4, 4, &c) || pos != s.size()) return false;
  return MakeDate(c, a, b, day_number);
}

bool ParseTime(std::string_view text, int64_t* ms) {
  const std::string_view s = Trim(text);
  size_t pos = 0;
  int h, m, sec = 0, frac = 0;
  if (!Digits(s, &pos, 1, 2, &h) || pos >= s.size() || s[pos] != ':') return false;
  ++pos;
  if (!Digits(s, &pos, 2, 2, &m)) return false;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!Digits(s, &pos, 2, 2, &sec)) return false;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      const size_t start = pos;
      if (!Digits(s, &pos, 1, 3, &frac)) return false;
      for (size_t n = pos - start; n < 3; ++n) frac *= 10;
    }
  }
  if (pos != s.size() || h > 23 || m > 59 || sec > 59) return false;
  *ms = ((h * 60 + m) * 60 + sec) * int64_t{1000} + frac;
  return true;
}

bool ParseTimestamp(std::string_view text, int64_t* value) {
  const std::string_view s = Trim(text);
  int64_t day;
  if (ParseDate(s, &day)) {
    *value = day * kMsPerDay;
    return true;
  }
  const size_t split = s.find_first_of(" T");
  if (split == std::string_view::npos) return false;
  int64_t ms;
  if (!ParseDate(s.substr(0, split), &day) || !ParseTime(s.substr(split + 1), &ms)) return false;
  *value = day * kMsPerDay + ms;
  return true;
}

bool ParseLogical(std::string_view text, bool* value) {
  const std::string_view s = Trim(text);
  auto is = [&](std::string_view word) {
    if (s.size() != word.size()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
      const char c = (s[i] >= 'a' && s[i] <= 'z') ? static_cast<char>(s[i] - 32) : s[i];
      if (c != word[i]) return false;
    }
    return true;
  };
  if (is("T") || is("Y") || is("TRUE") || is("1")) {
    *value = true;
    return true;
  }
  if (is("F") || is("N") || is("FALSE") || is("0")) {
    *value = false;
    return true;
  }
  return false;
}

bool ParseNumber(std::string_view text, double* number, Decimal* decimal, bool* exact) {
  const std::string_view s = Trim(text);
  size_t pos = 0;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  const size_t int_start = pos;
  while (pos < s.size() && IsDigit(s[pos])) ++pos;
  std::string_view int_digits = s.substr(int_start, pos - int_start);
  std::string_view frac_digits;
  if (pos < s.size() && s[pos] == '.') {
    const size_t frac_start = ++pos;
    while (pos < s.size() && IsDigit(s[pos])) ++pos;
    frac_digits = s.substr(frac_start, pos - frac_start);
  }
  if (int_digits.empty() && frac_digits.empty()) return false;
  int exponent = 0;
  if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
    ++pos;
    bool exp_negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) exp_negative = s[pos++] == '-';
    const size_t exp_start = pos;
    while (pos < s.size() && IsDigit(s[pos])) {
      if (exponent < 100000) exponent = exponent * 10 + (s[pos] - '0');
      ++pos;
    }
    if (pos == exp_start) return false;
    if (exp_negative) exponent = -exponent;
  }
  if (pos != s.size()) return false;

  // The nearest double, read from the unsigned part.
  std::string_view unsigned_text = s.substr(s[0] == '+' || s[0] == '-' ? 1 : 0);
  double d = 0;
  auto [end, ec] =
      std::from_chars(unsigned_text.data(), unsigned_text.data() + unsigned_text.size(), d);
  if (ec == std::errc::result_out_of_range) {
    d = exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || end != unsigned_text.data() + unsigned_text.size()) {
    return false;
  }
  *number = negative ? -d : d;

  // The exact decimal: significant digits as mantissa.
  while (!frac_digits.empty() && frac_digits.back() == '0') frac_digits.remove_suffix(1);
  int scale = static_cast<int>(frac_digits.size()) - exponent;
  if (frac_digits.empty()) {
    while (!int_digits.empty() && int_digits.back() == '0') {
      int_digits.remove_suffix(1);
      --scale;
    }
  }
  while (!int_digits.empty() && int_digits.front() == '0') int_digits.remove_prefix(1);
  if (int_digits.empty()) {
    while (!frac_digits.empty() && frac_digits.front() == '0') frac_digits.remove_prefix(1);
  }
  *exact = false;
  const size_t significant = int_digits.size() + frac_digits.size();
  if (significant == 0) {
    *decimal = Decimal{};
    *exact = true;
    return true;
  }
  if (significant > kMaxDigits) return true;
  int64_t mant = 0;
  for (char c : int_digits) mant = mant * 10 + (c - '0');
  for (char c : frac_digits) mant = mant * 10 + (c - '0');
  if (scale < 0) {
    if (static_cast<int>(significant) - scale > kMaxDigits) return true;
    mant *= Pow10(-scale);
    scale = 0;
  }
  if (scale > kMaxDigits) return true;
  *decimal = Decimal{negative ? -mant : mant, scale};
  *exact = true;
  return true;
}

bool DoubleToDecimal(double d, Decimal* out) {
  if (!std::isfinite(d)) return false;
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  if (ec != std::errc()) return false;
  double ignored;
  bool exact = false;
  return ParseNumber(std::string_view(buf, static_cast<size_t>(end - buf)), &ignored, out,
                     &exact) &&
         exact;
}

std::string ToText(const Value& value) {
  switch (value.kind) {
    case ValueKind::Null:
      return "";
    case ValueKind::Bool:
      return value.b ? "T" : "F";
    case ValueKind::Int:
      return std::to_string(value.i);
    case ValueKind::Double: {
      char buf[64];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value.d);
      return ec == std::errc() ? std::string(buf, end) : std::string();
    }
    case ValueKind::Money:
      return FormatDecimal(value.i, 4);
    case ValueKind::String:
    case ValueKind::Binary:
      return value.s;
    case ValueKind::Date:
      return FormatDate(value.i);
    case ValueKind::Time:
      return FormatTime(value.i);
    case ValueKind::Timestamp: {
      const int64_t day =
          value.i >= 0 ? value.i / kMsPerDay : (value.i - kMsPerDay + 1) / kMsPerDay;
      return FormatDate(day) + " " + FormatTime(value.i - day * kMsPerDay);
    }
  }
  return "";
}

void DescribeLiteral(const Value& value, LiteralInfo* info) {
  *info = LiteralInfo{};
  switch (value.kind) {
    case ValueKind::Int:
      info->has_number = true;
      info->number = static_cast<double>(value.i);
      info->has_decimal = true;
      info->decimal = Decimal{value.i, 0};
      break;
    case ValueKind::Money:
      info->has_number = true;
      info->number = static_cast<double>(value.i) / 10000.0;
      info->has_decimal = true;
      info->decimal = Decimal{value.i, 4};
      break;
    case ValueKind::Double:
      info->has_number = true;
      info->number = value.d;
      info->has_decimal = DoubleToDecimal(value.d, &info->decimal);
      break;
    case ValueKind::String: {
      info->blank = TrimRight(value.s).empty();
      info->has_number = ParseNumber(value.s, &info->number, &info->decimal, &info->has_decimal);
      info->has_date = ParseDate(value.s, &info->date);
      info->has_time = ParseTime(value.s, &info->time);
      info->has_timestamp = ParseTimestamp(value.s, &info->timestamp);
      bool b;
      if (ParseLogical(value.s, &b)) info->logical = b ? 1 : 0;
      break;
    }
    default:
      break;
  }
}

}  // namespace dbe::expr
