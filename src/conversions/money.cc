#include "conversions/money.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kx8::conversions {

std::int64_t MoneyUnits(const dbaccess::TField& field) {
  if (field.IsNull()) return 0;
  // The one step from the stored number to whole ten-thousandths: every
  // value the table can hold with four decimals comes back exactly.
  return std::llround(field.AsFloat() * static_cast<double>(kMoneyScale));
}

std::string CentsText(std::int64_t cents) {
  const std::int64_t whole = std::llabs(cents) / 100, part = std::llabs(cents) % 100;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%lld.%02lld", cents < 0 ? "-" : "", static_cast<long long>(whole),
                static_cast<long long>(part));
  return buf;
}

}  // namespace kx8::conversions
