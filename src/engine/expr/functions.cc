#include "expr/functions.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <string>

#include "expr/convert.h"
#include "expr/eval.h"
#include "expr/lexer.h"
#include "expr/operators.h"

namespace dbe::expr {
namespace {

const FunctionInfo kFunctions[] = {
    {"COUNT", Func::Count, 1, 1},
    {"SUM", Func::Sum, 1, 1},
    {"AVG", Func::Avg, 1, 1},
    {"MIN", Func::Min, 1, 1},
    {"MAX", Func::Max, 1, 1},
    {"UPPER", Func::Upper, 1, 1},
    {"UCASE", Func::Upper, 1, 1},
    {"LOWER", Func::Lower, 1, 1},
    {"LCASE", Func::Lower, 1, 1},
    {"TRIM", Func::Trim, 1, 1},
    {"LTRIM", Func::LTrim, 1, 1},
    {"RTRIM", Func::RTrim, 1, 1},
    {"LEFT", Func::Left, 2, 2},
    {"RIGHT", Func::Right, 2, 2},
    {"SUBSTRING", Func::Substring, 2, 3},
    {"SUBSTR", Func::Substring, 2, 3},
    {"LENGTH", Func::Length, 1, 1},
    {"LEN", Func::Length, 1, 1},
    {"CHAR_LENGTH", Func::Length, 1, 1},
    {"CONCAT", Func::Concat, 1, -1},
    {"ABS", Func::Abs, 1, 1},
    {"ROUND", Func::Round, 1, 2},
    {"FLOOR", Func::Floor, 1, 1},
    {"CEILING", Func::Ceiling, 1, 1},
    {"CEIL", Func::Ceiling, 1, 1},
    {"MOD", Func::Mod, 2, 2},
    {"IIF", Func::Iif, 3, 3},
    {"IFNULL", Func::IfNull, 2, 2},
    {"ISNULL", Func::IfNull, 2, 2},
    {"NVL", Func::IfNull, 2, 2},
    {"COALESCE", Func::Coalesce, 1, -1},
    {"YEAR", Func::Year, 1, 1},
    {"MONTH", Func::Month, 1, 1},
    {"DAY", Func::Day, 1, 1},
    {"CURDATE", Func::CurDate, 0, 0},
    {"CURRENT_DATE", Func::CurDate, 0, 0},
    {"CURTIME", Func::CurTime, 0, 0},
    {"NOW", Func::Now, 0, 0},
};

constexpr int64_t kMoneyScale = 10000;

bool IsEmpty(const Value& v) {
  return v.is_null() || (v.kind == ValueKind::String && TrimRight(v.s).empty());
}

std::string Text(Value v) { return v.kind == ValueKind::String ? std::move(v.s) : ToText(v); }

// A whole-number argument; nullopt for NULL.
std::optional<int64_t> WholeArg(const Node& arg, const RowAccess& row, const Node& at) {
  const std::optional<Value> n = ToNumber(Evaluate(arg, row), at);
  if (!n) return std::nullopt;
  switch (n->kind) {
    case ValueKind::Int:
      return n->i;
    case ValueKind::Money:
      return n->i / kMoneyScale;
    default:
      if (!std::isfinite(n->d) || std::fabs(n->d) > 1e15) FailAt(at, "Numeric overflow");
      return static_cast<int64_t>(n->d);
  }
}

// Bytes [from, to) of s, positions clamped to the text.
Value Slice(const std::string& s, int64_t from, int64_t to) {
  const auto size = static_cast<int64_t>(s.size());
  from = std::clamp<int64_t>(from, 0, size);
  to = std::clamp<int64_t>(to, from, size);
  return Value::String(s.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)));
}

Value Round(const Value& x, int64_t decimals, const Node& at) {
  if (decimals > 18) decimals = 18;
  if (decimals < -18) decimals = -18;
  const int d = static_cast<int>(decimals);
  switch (x.kind) {
    case ValueKind::Int: {
      if (d >= 0) return x;
      const std::optional<int64_t> r = RoundDecimal(Decimal{x.i, 0}, d);
      if (!r) FailAt(at, "Numeric overflow");
      const int64_t unit = static_cast<int64_t>(std::pow(10.0, -d));
      int64_t out;
      if (__builtin_mul_overflow(*r, unit, &out))
        return Value::Double(static_cast<double>(*r) * unit);
      return Value::Int(out);
    }
    case ValueKind::Money: {
      if (d >= 4) return x;
      const std::optional<int64_t> r = RoundDecimal(Decimal{x.i, 4}, d);
      if (!r) FailAt(at, "Numeric overflow");
      // Back to ten-thousandths.
      Decimal back{*r, d};
      const std::optional<int64_t> m = RoundDecimal(back, 4);
      if (!m) FailAt(at, "Numeric overflow");
      return Value::Money(*m);
    }
    case ValueKind::Double: {
      Decimal dec;
      if (!DoubleToDecimal(x.d, &dec) || dec.scale <= d) return x;
      const std::optional<int64_t> r = RoundDecimal(dec, d);
      if (!r) return x;
      // An exact integer divided by an exact power of ten: the double
      // nearest to the rounded decimal.
      if (d >= 0) return Value::Double(static_cast<double>(*r) / std::pow(10.0, d));
      return Value::Double(static_cast<double>(*r) * std::pow(10.0, -d));
    }
    default:
      return x;
  }
}

Value FloorOrCeiling(const Value& x, bool ceiling) {
  switch (x.kind) {
    case ValueKind::Double:
      return Value::Double(ceiling ? std::ceil(x.d) : std::floor(x.d));
    case ValueKind::Money: {
      int64_t q = x.i / kMoneyScale;
      const int64_t r = x.i % kMoneyScale;
      if (ceiling && r > 0) ++q;
      if (!ceiling && r < 0) --q;
      return Value::Money(q * kMoneyScale);
    }
    default:
      return x;
  }
}

Value DatePart(const Value& v, Func func, const Node& at) {
  int64_t day;
  switch (v.kind) {
    case ValueKind::Null:
      return v;
    case ValueKind::Date:
      day = v.i;
      break;
    case ValueKind::Timestamp:
      day = v.i >= 0 ? v.i / kMsPerDay : (v.i - kMsPerDay + 1) / kMsPerDay;
      break;
    case ValueKind::String: {
      if (TrimRight(v.s).empty()) return Value::Null();
      int64_t ts;
      if (!ParseTimestamp(v.s, &ts)) FailAt(at, "'" + v.s + "' is not a date");
      day = ts / kMsPerDay;
      break;
    }
    default:
      FailAt(at, "Not a date");
  }
  int y, m, d;
  CivilDate(day, &y, &m, &d);
  return Value::Int(func == Func::Year ? y : (func == Func::Month ? m : d));
}

// Local date and time now, as a timestamp.
int64_t LocalNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&secs, &local);
  const int64_t day = DayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return day * kMsPerDay +
         ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * int64_t{1000} + ms;
}

}  // namespace

const FunctionInfo* FindFunction(std::string_view name) {
  for (const FunctionInfo& f : kFunctions) {
    if (EqualsNoCase(f.name, name)) return &f;
  }
  return nullptr;
}

bool IsAggregate(Func func) {
  return func == Func::Count || func == Func::Sum || func == Func::Avg || func == Func::Min ||
         func == Func::Max;
}

Value CallFunction(const Node& call, const RowAccess& row) {
  const auto& args = call.args;
  switch (call.func) {
    case Func::None:
    case Func::Count:
    case Func::Sum:
    case Func::Avg:
    case Func::Min:
    case Func::Max:
      FailAt(call, "Aggregate function " + call.name + " cannot be evaluated here");
    case Func::Upper:
    case Func::Lower: {
      Value v = Evaluate(*args[0], row);
      if (v.is_null()) return v;
      std::string s = Text(std::move(v));
      for (char& c : s) {
        if (call.func == Func::Upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (call.func == Func::Lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      return Value::String(std::move(s));
    }
    case Func::Trim:
    case Func::LTrim:
    case Func::RTrim: {
      Value v = Evaluate(*args[0], row);
      if (v.is_null()) return v;
      const std::string s = Text(std::move(v));
      size_t from = 0;
      size_t to = s.size();
      if (call.func != Func::RTrim) {
        while (from < to && s[from] == ' ') ++from;
      }
      if (call.func != Func::LTrim) {
        while (to > from && s[to - 1] == ' ') --to;
      }
      return Value::String(s.substr(from, to - from));
    }
    case Func::Left:
    case Func::Right: {
      Value v = Evaluate(*args[0], row);
      const std::optional<int64_t> n = WholeArg(*args[1], row, call);
      if (v.is_null() || !n) return Value::Null();
      const std::string s = Text(std::move(v));
      const auto size = static_cast<int64_t>(s.size());
      return call.func == Func::Left ? Slice(s, 0, *n)
                                     : Slice(s, size - std::clamp<int64_t>(*n, 0, size), size);
    }
    case Func::Substring: {
      Value v = Evaluate(*args[0], row);
      const std::optional<int64_t> start = WholeArg(*args[1], row, call);
      std::optional<int64_t> length;
      if (args.size() > 2) {
        length = WholeArg(*args[2], row, call);
        if (!length) return Value::Null();
        if (*length < 0) FailAt(call, "Negative length in SUBSTRING");
      }
      if (v.is_null() || !start) return Value::Null();
      const std::string s = Text(std::move(v));
      const int64_t from = *start - 1;  // 1-based positions
      const int64_t to = length ? from + *length : static_cast<int64_t>(s.size());
      return Slice(s, from, to);
    }
    case Func::Length: {
      Value v = Evaluate(*args[0], row);
      if (v.is_null()) return v;
      const std::string s = Text(std::move(v));
      return Value::Int(static_cast<int64_t>(TrimRight(s).size()));
    }
    case Func::Concat: {
      Value out;
      for (const NodePtr& arg : args) out = Concatenate(out, Evaluate(*arg, row));
      return out;
    }
    case Func::Abs: {
      const std::optional<Value> n = ToNumber(Evaluate(*args[0], row), call);
      if (!n) return Value::Null();
      const bool negative = n->kind == ValueKind::Double ? n->d < 0 : n->i < 0;
      return negative ? Negate(*n, call) : *n;
    }
    case Func::Round: {
      const std::optional<Value> n = ToNumber(Evaluate(*args[0], row), call);
      std::optional<int64_t> decimals = 0;
      if (args.size() > 1) decimals = WholeArg(*args[1], row, call);
      if (!n || !decimals) return Value::Null();
      return Round(*n, *decimals, call);
    }
    case Func::Floor:
    case Func::Ceiling: {
      const std::optional<Value> n = ToNumber(Evaluate(*args[0], row), call);
      if (!n) return Value::Null();
      return FloorOrCeiling(*n, call.func == Func::Ceiling);
    }
    case Func::Mod:
      return Arithmetic(Op::Mod, Evaluate(*args[0], row), Evaluate(*args[1], row), call);
    case Func::Iif:
      return Evaluate(IsTrue(Evaluate(*args[0], row)) ? *args[1] : *args[2], row);
    case Func::IfNull:
    case Func::Coalesce: {
      for (size_t i = 0; i + 1 < args.size(); ++i) {
        Value v = Evaluate(*args[i], row);
        if (!IsEmpty(v)) return v;
      }
      return Evaluate(*args.back(), row);
    }
    case Func::Year:
    case Func::Month:
    case Func::Day:
      return DatePart(Evaluate(*args[0], row), call.func, call);
    case Func::CurDate:
      return Value::Date(LocalNow() / kMsPerDay);
    case Func::CurTime:
      return Value::Time(LocalNow() % kMsPerDay);
    case Func::Now:
      return Value::Timestamp(LocalNow());
  }
  FailAt(call, "Unknown function " + call.name);
}

}  // namespace dbe::expr
