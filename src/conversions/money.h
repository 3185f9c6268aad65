// Money values as whole ten-thousandths, the way the tables keep them, so
// that conversions compare and compute them exactly.
#ifndef KX8_CONVERSIONS_MONEY_H_
#define KX8_CONVERSIONS_MONEY_H_

#include <cstdint>
#include <string>

#include "dbaccess/db_field.h"

namespace kx8::conversions {

// Ten-thousandths in one unit of money.
inline constexpr std::int64_t kMoneyScale = 10000;

// The field's value in ten-thousandths, rounded to the nearest (0 when
// empty). Money columns hold exactly this; number columns are read as the
// money value they stand for.
std::int64_t MoneyUnits(const dbaccess::TField& field);

// A whole number of cents as decimal text: 822 is "8.22", -5 is "-0.05".
std::string CentsText(std::int64_t cents);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_MONEY_H_
