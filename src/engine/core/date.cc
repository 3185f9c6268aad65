#include "core/date.h"

#include <charconv>
#include <chrono>
#include <cstdio>

#include "core/value.h"

namespace dbe {
namespace {

bool Digits(std::string_view s, int* out) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
  return r.ec == std::errc();
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

int64_t DayNumber(int year, int month, int day) {
  // Days from civil (proleptic Gregorian), shifted to the Julian day number.
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = FloorDiv(y, 400);
  int64_t yoe = y - era * 400;
  int64_t mp = (month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t days_since_1970 = era * 146097 + doe - 719468;
  return days_since_1970 + 2440588;
}

void CivilFromDay(int64_t day_number, int* year, int* month, int* day) {
  int64_t z = day_number - 2440588 + 719468;
  int64_t era = FloorDiv(z, 146097);
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1;
  int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

bool ValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int dim = kDays[month - 1];
  if (month == 2 && (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0))) dim = 29;
  return day <= dim;
}

std::optional<int64_t> ParseDateText(std::string_view t) {
  int y = 0, m = 0, d = 0;
  bool ok = false;
  if (t.size() == 8) {
    ok = Digits(t.substr(0, 4), &y) && Digits(t.substr(4, 2), &m) && Digits(t.substr(6, 2), &d);
  } else if (t.size() == 10 && t[4] == '-' && t[7] == '-') {
    ok = Digits(t.substr(0, 4), &y) && Digits(t.substr(5, 2), &m) && Digits(t.substr(8, 2), &d);
  } else if (t.size() == 10 && t[2] == '/' && t[5] == '/') {
    ok = Digits(t.substr(0, 2), &m) && Digits(t.substr(3, 2), &d) && Digits(t.substr(6, 4), &y);
  }
  if (!ok || !ValidDate(y, m, d)) return std::nullopt;
  return DayNumber(y, m, d);
}

std::string DateText(int64_t day_number) {
  int y, m, d;
  CivilFromDay(day_number, &y, &m, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

std::optional<int64_t> ParseTimeText(std::string_view t) {
  int h = 0, mi = 0, s = 0, ms = 0;
  if (t.size() < 5 || t[2] != ':' || !Digits(t.substr(0, 2), &h) || !Digits(t.substr(3, 2), &mi)) {
    return std::nullopt;
  }
  if (t.size() >= 8) {
    if (t[5] != ':' || !Digits(t.substr(6, 2), &s)) return std::nullopt;
    if (t.size() > 8) {
      if (t[8] != '.' || t.size() > 12 || !Digits(t.substr(9), &ms)) return std::nullopt;
      for (size_t i = t.size(); i < 12; ++i) ms *= 10;
    }
  } else if (t.size() != 5) {
    return std::nullopt;
  }
  if (h > 23 || mi > 59 || s > 59) return std::nullopt;
  return ((h * 60 + mi) * 60 + s) * 1000LL + ms;
}

std::string TimeText(int64_t ms) {
  char buf[32];
  int64_t s = ms / 1000;
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(s / 3600), int(s / 60 % 60), int(s % 60));
  return buf;
}

std::optional<int64_t> ParseTimestampText(std::string_view t) {
  size_t sp = t.find_first_of(" T");
  auto day = ParseDateText(t.substr(0, sp));
  if (!day) return std::nullopt;
  int64_t ms = 0;
  if (sp != std::string_view::npos) {
    auto tm = ParseTimeText(t.substr(sp + 1));
    if (!tm) return std::nullopt;
    ms = *tm;
  }
  return *day * kMsPerDay + ms;
}

std::string TimestampText(int64_t value) {
  int64_t day = FloorDiv(value, kMsPerDay);
  int64_t ms = value - day * kMsPerDay;
  int y, m, d;
  CivilFromDay(day, &y, &m, &d);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %s", y, m, d, TimeText(ms).c_str());
  return buf;
}

int64_t NowTimestamp() {
  using namespace std::chrono;
  int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return ms + 2440588LL * kMsPerDay;
}

}  // namespace dbe
