// Conversions between the engine's value types and their text forms, and
// the calendar behind day numbers. None of the parsing functions allocates.
//
// Text forms read:
//  - dates: "YYYY-MM-DD", "YYYY/MM/DD", "YYYYMMDD", "MM/DD/YYYY";
//  - times: "HH:MM", "HH:MM:SS", "HH:MM:SS.fff";
//  - timestamps: a date, optionally followed by " " or "T" and a time;
//  - numbers: [+-]digits[.digits][e[+-]digits];
//  - logical values: T, F, Y, N, TRUE, FALSE, 1, 0 in any letter case.
// Leading and trailing blanks are ignored throughout.
#ifndef KX8_ENGINE_EXPR_CONVERT_H_
#define KX8_ENGINE_EXPR_CONVERT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "core/value.h"
#include "expr/ast.h"

namespace dbe::expr {

// Day number (Julian day) of a date of the proleptic Gregorian calendar.
int64_t DayNumber(int year, int month, int day);
void CivilDate(int64_t day_number, int* year, int* month, int* day);

bool ParseDate(std::string_view text, int64_t* day_number);
bool ParseTime(std::string_view text, int64_t* ms);
bool ParseTimestamp(std::string_view text, int64_t* value);
bool ParseLogical(std::string_view text, bool* value);

// Reads a number. `decimal` receives it exactly when it has at most 18
// significant digits and 18 decimals (*exact tells whether it did); `number`
// always receives the nearest double.
bool ParseNumber(std::string_view text, double* number, Decimal* decimal, bool* exact);

// The shortest decimal that reads back as `d` (1.1 for the double nearest to
// 1.1); false when it needs more than 18 decimals or digits.
bool DoubleToDecimal(double d, Decimal* out);

// Text forms: integers and money without trailing zeros ("12", "0.3"),
// doubles in their shortest form, dates "YYYY-MM-DD", times "HH:MM:SS" (with
// ".fff" when there are milliseconds), timestamps "YYYY-MM-DD HH:MM:SS",
// logical values "T"/"F", null as "".
std::string ToText(const Value& value);

// Fills `info` from a literal's value.
void DescribeLiteral(const Value& value, LiteralInfo* info);

// Text without trailing blanks.
inline std::string_view TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

}  // namespace dbe::expr

#endif  // KX8_ENGINE_EXPR_CONVERT_H_
