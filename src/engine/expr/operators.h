// The operators of the expression language over values: comparison,
// arithmetic, concatenation, LIKE and type conversion. eval.h describes the
// rules; errors carry the error code and position of the node `at`.
#ifndef KX8_ENGINE_EXPR_OPERATORS_H_
#define KX8_ENGINE_EXPR_OPERATORS_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/value.h"
#include "expr/ast.h"

namespace dbe::expr {

// Result of Compare() when a NULL makes the comparison unknown.
constexpr int kUnknown = 2;

// A compared value and, when it is a literal, what the literal reads as.
struct Operand {
  const Value& value;
  const LiteralInfo* literal;  // null unless a literal
};

// -1, 0 or 1, or kUnknown.
int Compare(const Operand& a, const Operand& b, const Node& at);

// Whether `op` (Eq .. Ge) holds for a Compare() result other than kUnknown.
bool Holds(Op op, int comparison);

Value Arithmetic(Op op, const Value& a, const Value& b, const Node& at);
Value Negate(const Value& a, const Node& at);
// Text forms joined; NULL counts as empty, two NULLs give NULL.
Value Concatenate(const Value& a, const Value& b);

// SQL LIKE, case-sensitive, trailing blanks of both sides ignored.
// `escape` makes the following pattern character literal.
bool LikeMatch(std::string_view text, std::string_view pattern, std::optional<char> escape);

Value CastTo(const Value& value, CastType type, int width, const Node& at);

// mant / 10^scale rounded half away from zero to `decimals` (may be
// negative: -2 rounds to hundreds), as a count of 10^-decimals units;
// nullopt when it does not fit in 64 bits.
std::optional<int64_t> RoundDecimal(const Decimal& value, int decimals);

// A number kind (Int, Double, Money) read from a value; strings are read as
// numbers. nullopt for NULL; an error for anything that is not a number.
std::optional<Value> ToNumber(const Value& value, const Node& at);

[[noreturn]] void FailAt(const Node& at, const std::string& message);

}  // namespace dbe::expr

#endif  // KX8_ENGINE_EXPR_OPERATORS_H_
