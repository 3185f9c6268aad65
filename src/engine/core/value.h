// A typed value as the engine computes with it: field values read from a
// row, literals and results of expressions. Dates are day numbers (Julian
// days), times milliseconds since midnight, timestamps both; money is held
// exactly as a count of ten-thousandths.
#ifndef KX8_ENGINE_CORE_VALUE_H_
#define KX8_ENGINE_CORE_VALUE_H_

#include <cstdint>
#include <string>

namespace dbe {

enum class ValueKind : uint8_t { Null, Bool, Int, Double, Money, String, Date, Time, Timestamp, Binary };

struct Value {
  ValueKind kind = ValueKind::Null;
  bool b = false;        // Bool
  int64_t i = 0;         // Int; Money (ten-thousandths); Date (day number);
                         // Time (ms); Timestamp (day number * 86400000 + ms)
  double d = 0;          // Double
  std::string s;         // String (no trailing blanks), Binary

  static Value Null() { return Value{}; }
  static Value Bool(bool v) { Value x; x.kind = ValueKind::Bool; x.b = v; return x; }
  static Value Int(int64_t v) { Value x; x.kind = ValueKind::Int; x.i = v; return x; }
  static Value Double(double v) { Value x; x.kind = ValueKind::Double; x.d = v; return x; }
  static Value Money(int64_t ten_thousandths) { Value x; x.kind = ValueKind::Money; x.i = ten_thousandths; return x; }
  static Value String(std::string v) { Value x; x.kind = ValueKind::String; x.s = std::move(v); return x; }
  static Value Date(int64_t day) { Value x; x.kind = ValueKind::Date; x.i = day; return x; }
  static Value Time(int64_t ms) { Value x; x.kind = ValueKind::Time; x.i = ms; return x; }
  static Value Timestamp(int64_t v) { Value x; x.kind = ValueKind::Timestamp; x.i = v; return x; }
  static Value Binary(std::string v) { Value x; x.kind = ValueKind::Binary; x.s = std::move(v); return x; }

  bool is_null() const { return kind == ValueKind::Null; }
};

constexpr int64_t kMsPerDay = 86400000;

}  // namespace dbe

#endif  // KX8_ENGINE_CORE_VALUE_H_
