// Inside the access layer only: conversions between the value forms of
// fields and parameters, and between the program's date type (days from
// 30 December 1899, time of day as fraction) and the engine's Julian day
// numbers and milliseconds.
#ifndef KX8_DBACCESS_VALUE_CONVERT_H_
#define KX8_DBACCESS_VALUE_CONVERT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dbaccess/db_types.h"

namespace kx8::dbaccess::internal {

// The form a value of a field type is kept in.
enum class ValueKind { Text, Logical, Whole, Number, Date, Time, DateTime };
ValueKind KindOf(TFieldType type);

// The value in the form of the field type: text as text, logical values as
// bool, whole numbers as int64, numbers, dates and times as double. An
// empty text gives null for every type but text. Raises for a text that
// does not convert.
TVariant Normalise(const TVariant& v, TFieldType type);

// Conversions of a value of any form. Null gives "", 0, false.
std::string ToText(const TVariant& v, TFieldType type);
std::int64_t ToInteger(const TVariant& v);
double ToFloat(const TVariant& v);
bool ToBoolean(const TVariant& v);
double ToDateTime(const TVariant& v);

// "T", "t", "Y", "y" and "1" are true.
bool LogicalFromChar(char c);

// Julian day number of day 0 of the program's date type.
inline constexpr std::int64_t kJulianOffset = 2415019;
inline constexpr std::int64_t kMsPerDay = 86400000;

// A date-time as the engine's Julian day number and milliseconds since
// midnight, and back.
struct EngineMoment {
  std::int64_t julian_day;
  std::int64_t ms;
};
EngineMoment ToEngineMoment(double date_time);
double FromEngineMoment(std::int64_t julian_day, std::int64_t ms);

std::optional<std::int64_t> ParseInteger(std::string_view text);
std::optional<double> ParseFloat(std::string_view text);
std::optional<double> ParseDateTime(std::string_view text);

}  // namespace kx8::dbaccess::internal

#endif  // KX8_DBACCESS_VALUE_CONVERT_H_
