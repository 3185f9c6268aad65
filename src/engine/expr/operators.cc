#include "expr/operators.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/error.h"
#include "expr/convert.h"

namespace dbe::expr {
namespace {

__extension__ typedef __int128 Int128;

constexpr int64_t kMoneyScale = 10000;

Int128 Pow10(int n) {
  Int128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

bool IsNumber(ValueKind k) {
  return k == ValueKind::Int || k == ValueKind::Double || k == ValueKind::Money;
}

bool IsBlank(const Operand& o) {
  if (o.literal != nullptr) return o.literal->blank;
  return o.value.kind == ValueKind::String && TrimRight(o.value.s).empty();
}

int Sign(Int128 a, Int128 b) { return a < b ? -1 : (a > b ? 1 : 0); }

template <typename T>
int SignOf(T a, T b) {
  if (a < b) return -1;
  if (a > b) return 1;
  if (a == b) return 0;
  return kUnknown;  // NaN
}

int CompareText(std::string_view a, std::string_view b) {
  const int c = TrimRight(a).compare(TrimRight(b));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareDecimals(const Decimal& a, const Decimal& b) {
  const int scale = std::max(a.scale, b.scale);
  return Sign(Int128{a.mant} * Pow10(scale - a.scale), Int128{b.mant} * Pow10(scale - b.scale));
}

// Int and Money exactly; Double as its shortest decimal.
bool ExactOf(const Value& v, Decimal* out) {
  switch (v.kind) {
    case ValueKind::Int:
      *out = Decimal{v.i, 0};
      return true;
    case ValueKind::Money:
      *out = Decimal{v.i, 4};
      return true;
    case ValueKind::Double:
      return DoubleToDecimal(v.d, out);
    default:
      return false;
  }
}

long double RealOf(const Value& v) {
  switch (v.kind) {
    case ValueKind::Int:
      return static_cast<long double>(v.i);
    case ValueKind::Money:
      return static_cast<long double>(v.i) / kMoneyScale;
    case ValueKind::Double:
      return v.d;
    default:
      return 0;
  }
}

int CompareNumbers(const Value& a, const Value& b) {
  if (a.kind == ValueKind::Int && b.kind == ValueKind::Int) return SignOf(a.i, b.i);
  // Money meets Int, Money and Double as decimals; otherwise long double
  // holds every Int and Double exactly.
  if (a.kind == ValueKind::Money || b.kind == ValueKind::Money) {
    Decimal da, db;
    if (ExactOf(a, &da) && ExactOf(b, &db)) return CompareDecimals(da, db);
  }
  return SignOf(RealOf(a), RealOf(b));
}

// A number against the number a text reads as.
int CompareNumberWithParsed(const Value& x, double number, const Decimal& decimal, bool exact) {
  if (x.kind == ValueKind::Double) return SignOf(x.d, number);
  Decimal dx;
  if (exact && ExactOf(x, &dx)) return CompareDecimals(dx, decimal);
  return SignOf(RealOf(x), static_cast<long double>(number));
}

// What a text operand reads as, from the literal's cache when it has one.
bool TextDate(const Operand& t, int64_t* day) {
  if (t.literal == nullptr) return ParseDate(t.value.s, day);
  *day = t.literal->date;
  return t.literal->has_date;
}

bool TextTimestamp(const Operand& t, int64_t* ts) {
  if (t.literal == nullptr) return ParseTimestamp(t.value.s, ts);
  *ts = t.literal->timestamp;
  return t.literal->has_timestamp;
}

bool TextTime(const Operand& t, int64_t* ms) {
  if (t.literal == nullptr) return ParseTime(t.value.s, ms);
  *ms = t.literal->time;
  return t.literal->has_time;
}

// `x` (not a string, not NULL) against the text operand `t`.
int CompareWithText(const Value& x, const Operand& t, const Node& at) {
  const LiteralInfo* lit = t.literal;
  const std::string& text = t.value.s;
  switch (x.kind) {
    case ValueKind::Int:
    case ValueKind::Double:
    case ValueKind::Money: {
      if (lit != nullptr) {
        if (lit->has_number)
          return CompareNumberWithParsed(x, lit->number, lit->decimal, lit->has_decimal);
      } else {
        double number;
        Decimal decimal;
        bool exact;
        if (ParseNumber(text, &number, &decimal, &exact)) {
          return CompareNumberWithParsed(x, number, decimal, exact);
        }
      }
      return CompareText(ToText(x), text);
    }
    case ValueKind::Date: {
      int64_t day;
      if (TextDate(t, &day)) return SignOf(x.i, day);
      int64_t ts;  // a date against a date and time
      if (TextTimestamp(t, &ts)) return SignOf(x.i * kMsPerDay, ts);
      return kUnknown;
    }
    case ValueKind::Timestamp: {
      int64_t ts;
      return TextTimestamp(t, &ts) ? SignOf(x.i, ts) : kUnknown;
    }
    case ValueKind::Time: {
      int64_t ms;
      return TextTime(t, &ms) ? SignOf(x.i, ms) : kUnknown;
    }
    case ValueKind::Bool: {
      bool b;
      if (lit != nullptr) {
        if (lit->logical < 0) return kUnknown;
        b = lit->logical == 1;
      } else if (!ParseLogical(text, &b)) {
        return kUnknown;
      }
      return SignOf(int{x.b}, int{b});
    }
    case ValueKind::Binary:
      return CompareText(x.s, text);
    default:
      break;
  }
  FailAt(at, "Cannot compare a value of this type with text");
}

const char* KindName(ValueKind k) {
  switch (k) {
    case ValueKind::Null:
      return "null";
    case ValueKind::Bool:
      return "logical";
    case ValueKind::Int:
      return "integer";
    case ValueKind::Double:
      return "double";
    case ValueKind::Money:
      return "money";
    case ValueKind::String:
      return "character";
    case ValueKind::Date:
      return "date";
    case ValueKind::Time:
      return "time";
    case ValueKind::Timestamp:
      return "timestamp";
    case ValueKind::Binary:
      return "binary";
  }
  return "?";
}

// num / den rounded half away from zero; den != 0.
Int128 DivRound(Int128 num, Int128 den) {
  Int128 q = num / den;
  Int128 r = num % den;
  if (r < 0) r = -r;
  const Int128 d = den < 0 ? -den : den;
  if (2 * r >= d) q += ((num < 0) != (den < 0)) ? -1 : 1;
  return q;
}

Value MoneyResult(Int128 v, const Node& at) {
  if (v > std::numeric_limits<int64_t>::max() || v < std::numeric_limits<int64_t>::min()) {
    FailAt(at, "Numeric overflow");
  }
  return Value::Money(static_cast<int64_t>(v));
}

Value MoneyFromReal(long double v, const Node& at) {
  const long double scaled = v * kMoneyScale;
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18L) FailAt(at, "Numeric overflow");
  return Value::Money(static_cast<int64_t>(std::round(scaled)));
}

Value IntArithmetic(Op op, int64_t a, int64_t b) {
  int64_t r;
  switch (op) {
    case Op::Add:
      if (!__builtin_add_overflow(a, b, &r)) return Value::Int(r);
      return Value::Double(static_cast<double>(a) + static_cast<double>(b));
    case Op::Sub:
      if (!__builtin_sub_overflow(a, b, &r)) return Value::Int(r);
      return Value::Double(static_cast<double>(a) - static_cast<double>(b));
    case Op::Mul:
      if (!__builtin_mul_overflow(a, b, &r)) return Value::Int(r);
      return Value::Double(static_cast<double>(a) * static_cast<double>(b));
    case Op::Div:
      if (b == 0) return Value::Null();
      if (b == -1 && a == std::numeric_limits<int64_t>::min())
        return Value::Double(-static_cast<double>(a));
      return Value::Int(a / b);
    case Op::Mod:
      if (b == 0) return Value::Null();
      if (b == -1) return Value::Int(0);
      return Value::Int(a % b);
    default:
      return Value::Null();
  }
}

Value DoubleArithmetic(Op op, double a, double b) {
  switch (op) {
    case Op::Add:
      return Value::Double(a + b);
    case Op::Sub:
      return Value::Double(a - b);
    case Op::Mul:
      return Value::Double(a * b);
    case Op::Div:
      return b == 0 ? Value::Null() : Value::Double(a / b);
    case Op::Mod:
      return b == 0 ? Value::Null() : Value::Double(std::fmod(a, b));
    default:
      return Value::Null();
  }
}

// Int and Money, at least one Money.
Value MoneyArithmetic(Op op, const Value& a, const Value& b, const Node& at) {
  const Int128 x = a.kind == ValueKind::Money ? Int128{a.i} : Int128{a.i} * kMoneyScale;
  const Int128 y = b.kind == ValueKind::Money ? Int128{b.i} : Int128{b.i} * kMoneyScale;
  switch (op) {
    case Op::Add:
      return MoneyResult(x + y, at);
    case Op::Sub:
      return MoneyResult(x - y, at);
    case Op::Mul:
      if (a.kind == ValueKind::Int) return MoneyResult(Int128{a.i} * b.i, at);
      if (b.kind == ValueKind::Int) return MoneyResult(Int128{a.i} * b.i, at);
      return MoneyResult(DivRound(x * y, kMoneyScale), at);
    case Op::Div:
      if (y == 0) return Value::Null();
      if (b.kind == ValueKind::Int) return MoneyResult(DivRound(a.i, b.i), at);
      return Value::Double(
          static_cast<double>(static_cast<long double>(x) / static_cast<long double>(y)));
    case Op::Mod:
      if (y == 0) return Value::Null();
      return MoneyResult(x % y, at);
    default:
      return Value::Null();
  }
}

// Money `m` with Double `d`; `money_left` tells the order of the operands.
Value MoneyDoubleArithmetic(Op op, int64_t m, double d, bool money_left, const Node& at) {
  if (op == Op::Mod || (op == Op::Div && !money_left)) {
    const double md = static_cast<double>(static_cast<long double>(m) / kMoneyScale);
    return money_left ? DoubleArithmetic(op, md, d) : DoubleArithmetic(op, d, md);
  }
  Decimal dec;
  if (DoubleToDecimal(d, &dec)) {
    const Int128 unit = Pow10(dec.scale);
    switch (op) {
      case Op::Add:
      case Op::Sub: {
        // Both at the finer scale, then back to ten-thousandths.
        const int scale = std::max(4, dec.scale);
        const Int128 x = Int128{m} * Pow10(scale - 4);
        const Int128 y = Int128{dec.mant} * Pow10(scale - dec.scale);
        const Int128 sum = op == Op::Add ? x + y : (money_left ? x - y : y - x);
        return MoneyResult(DivRound(sum, Pow10(scale - 4)), at);
      }
      case Op::Mul:
        return MoneyResult(DivRound(Int128{m} * dec.mant, unit), at);
      case Op::Div:
        if (dec.mant == 0) return Value::Null();
        return MoneyResult(DivRound(Int128{m} * unit, dec.mant), at);
      default:
        return Value::Null();
    }
  }
  // Too large or not finite for a decimal view.
  const long double x = static_cast<long double>(m) / kMoneyScale;
  switch (op) {
    case Op::Add:
      return MoneyFromReal(x + d, at);
    case Op::Sub:
      return MoneyFromReal(money_left ? x - d : d - x, at);
    case Op::Mul:
      return MoneyFromReal(x * d, at);
    case Op::Div:
      return d == 0 ? Value::Null() : MoneyFromReal(x / d, at);
    default:
      return Value::Null();
  }
}

Value NumberArithmetic(Op op, const Value& a, const Value& b, const Node& at) {
  if (a.kind == ValueKind::Int && b.kind == ValueKind::Int) return IntArithmetic(op, a.i, b.i);
  if (a.kind == ValueKind::Double || b.kind == ValueKind::Double) {
    if (a.kind == ValueKind::Money) return MoneyDoubleArithmetic(op, a.i, b.d, true, at);
    if (b.kind == ValueKind::Money) return MoneyDoubleArithmetic(op, b.i, a.d, false, at);
    return DoubleArithmetic(op, static_cast<double>(RealOf(a)), static_cast<double>(RealOf(b)));
  }
  return MoneyArithmetic(op, a, b, at);
}

// Whole days of a number, for date arithmetic.
int64_t Days(const Value& v, const Node& at) {
  switch (v.kind) {
    case ValueKind::Int:
      return v.i;
    case ValueKind::Money:
      return v.i / kMoneyScale;
    case ValueKind::Double:
      if (!std::isfinite(v.d) || std::fabs(v.d) > 1e9) FailAt(at, "Numeric overflow");
      return static_cast<int64_t>(v.d);
    default:
      FailAt(at, "Cannot use a value of this type as a number of days");
  }
}

[[noreturn]] void FailConvert(const Value& v, CastType type, const Node& at) {
  static const char* const kTypeNames[] = {"CHAR", "INTEGER", "DOUBLE",    "MONEY",
                                           "DATE", "TIME",    "TIMESTAMP", "LOGICAL"};
  const std::string what = v.kind == ValueKind::String
                               ? "'" + v.s + "'"
                               : std::string("a ") + KindName(v.kind) + " value";
  FailAt(at, "Cannot convert " + what + " to " + kTypeNames[static_cast<int>(type)]);
}

}  // namespace

void FailAt(const Node& at, const std::string& message) {
  Fail(at.error_code, message + " at position " + std::to_string(at.offset + 1));
}

int Compare(const Operand& a, const Operand& b, const Node& at) {
  const bool a_blank = IsBlank(a);
  const bool b_blank = IsBlank(b);
  if (a_blank || b_blank) {
    // The empty value: equal to NULL, before everything else.
    const bool a_empty = a_blank || a.value.is_null();
    const bool b_empty = b_blank || b.value.is_null();
    if (a_empty && b_empty) return 0;
    return a_empty ? -1 : 1;
  }
  const Value& x = a.value;
  const Value& y = b.value;
  if (x.is_null() || y.is_null()) return kUnknown;
  const ValueKind kx = x.kind;
  const ValueKind ky = y.kind;
  if (kx == ValueKind::String && ky == ValueKind::String) return CompareText(x.s, y.s);
  if (IsNumber(kx) && IsNumber(ky)) return CompareNumbers(x, y);
  if (ky == ValueKind::String) return CompareWithText(x, b, at);
  if (kx == ValueKind::String) {
    const int c = CompareWithText(y, a, at);
    return c == kUnknown ? c : -c;
  }
  const bool x_day = kx == ValueKind::Date || kx == ValueKind::Timestamp;
  const bool y_day = ky == ValueKind::Date || ky == ValueKind::Timestamp;
  if (x_day && y_day) {
    return SignOf(kx == ValueKind::Date ? x.i * kMsPerDay : x.i,
                  ky == ValueKind::Date ? y.i * kMsPerDay : y.i);
  }
  if (kx == ValueKind::Time && ky == ValueKind::Time) return SignOf(x.i, y.i);
  if (kx == ValueKind::Bool && ky == ValueKind::Bool) return SignOf(int{x.b}, int{y.b});
  if (kx == ValueKind::Bool && IsNumber(ky)) return CompareNumbers(Value::Int(x.b ? 1 : 0), y);
  if (ky == ValueKind::Bool && IsNumber(kx)) return CompareNumbers(x, Value::Int(y.b ? 1 : 0));
  if (kx == ValueKind::Binary && ky == ValueKind::Binary) return CompareText(x.s, y.s);
  FailAt(at, std::string("Cannot compare ") + KindName(kx) + " with " + KindName(ky));
}

bool Holds(Op op, int c) {
  switch (op) {
    case Op::Eq:
      return c == 0;
    case Op::Ne:
      return c != 0;
    case Op::Lt:
      return c < 0;
    case Op::Le:
      return c <= 0;
    case Op::Gt:
      return c > 0;
    case Op::Ge:
      return c >= 0;
    default:
      return false;
  }
}

std::optional<Value> ToNumber(const Value& v, const Node& at) {
  switch (v.kind) {
    case ValueKind::Null:
      return std::nullopt;
    case ValueKind::Int:
    case ValueKind::Double:
    case ValueKind::Money:
      return v;
    case ValueKind::String: {
      if (TrimRight(v.s).empty()) return std::nullopt;
      double number;
      Decimal decimal;
      bool exact;
      if (!ParseNumber(v.s, &number, &decimal, &exact)) FailAt(at, "'" + v.s + "' is not a number");
      if (exact && decimal.scale == 0) return Value::Int(decimal.mant);
      return Value::Double(number);
    }
    default:
      FailAt(at, std::string("A ") + KindName(v.kind) + " value is not a number");
  }
}

Value Arithmetic(Op op, const Value& a, const Value& b, const Node& at) {
  const ValueKind ka = a.kind;
  const ValueKind kb = b.kind;
  if (op == Op::Add && (ka == ValueKind::String || kb == ValueKind::String) &&
      (ka == ValueKind::String || ka == ValueKind::Null) &&
      (kb == ValueKind::String || kb == ValueKind::Null)) {
    return Concatenate(a, b);
  }
  if (a.is_null() || b.is_null()) return Value::Null();
  if (IsNumber(ka) && IsNumber(kb)) return NumberArithmetic(op, a, b, at);
  // Dates move by whole days.
  if (ka == ValueKind::Date || ka == ValueKind::Timestamp || kb == ValueKind::Date ||
      kb == ValueKind::Timestamp) {
    if (op == Op::Sub && ka == kb) {
      return ka == ValueKind::Date ? Value::Int(a.i - b.i)
                                   : Value::Double(static_cast<double>(a.i - b.i) / kMsPerDay);
    }
    const bool date_left = ka == ValueKind::Date || ka == ValueKind::Timestamp;
    const Value& date = date_left ? a : b;
    const Value& other = date_left ? b : a;
    if ((op == Op::Add || (op == Op::Sub && date_left)) && other.kind != ValueKind::Date &&
        other.kind != ValueKind::Timestamp) {
      const std::optional<Value> n = ToNumber(other, at);
      if (!n) return Value::Null();
      int64_t days = Days(*n, at);
      if (op == Op::Sub) days = -days;
      if (date.kind == ValueKind::Date) return Value::Date(date.i + days);
      return Value::Timestamp(date.i + days * kMsPerDay);
    }
    FailAt(at, std::string("Cannot compute with ") + KindName(ka) + " and " + KindName(kb));
  }
  const std::optional<Value> x = ToNumber(a, at);
  const std::optional<Value> y = ToNumber(b, at);
  if (!x || !y) return Value::Null();
  return NumberArithmetic(op, *x, *y, at);
}

Value Negate(const Value& a, const Node& at) {
  switch (a.kind) {
    case ValueKind::Null:
      return a;
    case ValueKind::Int:
      if (a.i == std::numeric_limits<int64_t>::min())
        return Value::Double(-static_cast<double>(a.i));
      return Value::Int(-a.i);
    case ValueKind::Double:
      return Value::Double(-a.d);
    case ValueKind::Money:
      if (a.i == std::numeric_limits<int64_t>::min()) FailAt(at, "Numeric overflow");
      return Value::Money(-a.i);
    default: {
      const std::optional<Value> n = ToNumber(a, at);
      return n ? Negate(*n, at) : Value::Null();
    }
  }
}

Value Concatenate(const Value& a, const Value& b) {
  if (a.is_null() && b.is_null()) return Value::Null();
  std::string out = a.kind == ValueKind::String ? a.s : ToText(a);
  if (b.kind == ValueKind::String) {
    out += b.s;
  } else {
    out += ToText(b);
  }
  return Value::String(std::move(out));
}

bool LikeMatch(std::string_view text, std::string_view pattern, std::optional<char> escape) {
  text = TrimRight(text);
  pattern = TrimRight(pattern);
  const size_t n = pattern.size();
  size_t t = 0;
  size_t p = 0;
  size_t star_p = std::string_view::npos;  // pattern position after the last %
  size_t star_t = 0;                       // text position that % covers up to
  while (t < text.size()) {
    if (p < n) {
      char c = pattern[p];
      if (c == '%') {
        star_p = ++p;
        star_t = t;
        continue;
      }
      size_t width = 1;
      bool any = c == '_';
      if (escape && c == *escape && p + 1 < n) {
        c = pattern[p + 1];
        width = 2;
        any = false;
      }
      if (any || c == text[t]) {
        p += width;
        ++t;
        continue;
      }
    }
    if (star_p == std::string_view::npos) return false;
    // Let the last % take one more character.
    p = star_p;
    t = ++star_t;
  }
  while (p < n && pattern[p] == '%') ++p;
  return p == n;
}

std::optional<int64_t> RoundDecimal(const Decimal& value, int decimals) {
  Int128 r;
  if (decimals >= value.scale) {
    if (decimals - value.scale > 30) return std::nullopt;
    r = Int128{value.mant} * Pow10(decimals - value.scale);
  } else if (value.scale - decimals > 36) {
    r = 0;
  } else {
    r = DivRound(value.mant, Pow10(value.scale - decimals));
  }
  if (r > std::numeric_limits<int64_t>::max() || r < std::numeric_limits<int64_t>::min())
    return std::nullopt;
  return static_cast<int64_t>(r);
}

Value CastTo(const Value& v, CastType type, int width, const Node& at) {
  if (v.is_null()) return v;
  switch (type) {
    case CastType::Char: {
      std::string s = v.kind == ValueKind::String ? v.s : ToText(v);
      if (width > 0 && s.size() > static_cast<size_t>(width)) s.resize(static_cast<size_t>(width));
      return Value::String(std::move(s));
    }
    case CastType::Integer: {
      if (v.kind == ValueKind::Bool) return Value::Int(v.b ? 1 : 0);
      std::optional<Value> n;
      if (v.kind == ValueKind::String || IsNumber(v.kind)) n = ToNumber(v, at);
      if (!n) {
        if (v.kind == ValueKind::String) return Value::Null();
        FailConvert(v, type, at);
      }
      if (n->kind == ValueKind::Int) return *n;
      if (n->kind == ValueKind::Money) return Value::Int(n->i / kMoneyScale);
      if (!std::isfinite(n->d) || std::fabs(n->d) >= 9.2e18) FailAt(at, "Numeric overflow");
      return Value::Int(static_cast<int64_t>(n->d));
    }
    case CastType::Double: {
      if (v.kind == ValueKind::Bool) return Value::Double(v.b ? 1 : 0);
      if (v.kind != ValueKind::String && !IsNumber(v.kind)) FailConvert(v, type, at);
      const std::optional<Value> n = ToNumber(v, at);
      if (!n) return Value::Null();
      return Value::Double(static_cast<double>(RealOf(*n)));
    }
    case CastType::Money: {
      Decimal dec;
      if (v.kind == ValueKind::String) {
        if (TrimRight(v.s).empty()) return Value::Null();
        double number;
        bool exact;
        if (!ParseNumber(v.s, &number, &dec, &exact)) FailConvert(v, type, at);
        if (!exact) return MoneyFromReal(number, at);
      } else if (!IsNumber(v.kind)) {
        FailConvert(v, type, at);
      } else if (!ExactOf(v, &dec)) {
        return MoneyFromReal(v.d, at);
      }
      const std::optional<int64_t> m = RoundDecimal(dec, 4);
      if (!m) FailAt(at, "Numeric overflow");
      return Value::Money(*m);
    }
    case CastType::Date: {
      int64_t x;
      if (v.kind == ValueKind::Date) return v;
      if (v.kind == ValueKind::Timestamp)
        return Value::Date(v.i >= 0 ? v.i / kMsPerDay : (v.i - kMsPerDay + 1) / kMsPerDay);
      if (v.kind == ValueKind::String) {
        if (TrimRight(v.s).empty()) return Value::Null();
        if (ParseDate(v.s, &x)) return Value::Date(x);
        if (ParseTimestamp(v.s, &x)) return Value::Date(x / kMsPerDay);
      }
      FailConvert(v, type, at);
    }
    case CastType::Time: {
      int64_t x;
      if (v.kind == ValueKind::Time) return v;
      if (v.kind == ValueKind::Timestamp)
        return Value::Time(((v.i % kMsPerDay) + kMsPerDay) % kMsPerDay);
      if (v.kind == ValueKind::String) {
        if (TrimRight(v.s).empty()) return Value::Null();
        if (ParseTime(v.s, &x)) return Value::Time(x);
      }
      FailConvert(v, type, at);
    }
    case CastType::Timestamp: {
      int64_t x;
      if (v.kind == ValueKind::Timestamp) return v;
      if (v.kind == ValueKind::Date) return Value::Timestamp(v.i * kMsPerDay);
      if (v.kind == ValueKind::String) {
        if (TrimRight(v.s).empty()) return Value::Null();
        if (ParseTimestamp(v.s, &x)) return Value::Timestamp(x);
      }
      FailConvert(v, type, at);
    }
    case CastType::Logical: {
      bool b;
      if (v.kind == ValueKind::Bool) return v;
      if (v.kind == ValueKind::Int || v.kind == ValueKind::Money) return Value::Bool(v.i != 0);
      if (v.kind == ValueKind::Double) return Value::Bool(v.d != 0);
      if (v.kind == ValueKind::String) {
        if (TrimRight(v.s).empty()) return Value::Null();
        if (ParseLogical(v.s, &b)) return Value::Bool(b);
      }
      FailConvert(v, type, at);
    }
  }
  FailConvert(v, type, at);
}

}  // namespace dbe::expr
