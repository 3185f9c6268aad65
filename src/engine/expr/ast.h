// Expression trees, as the parser builds them and the evaluator walks them.
//
// One node type with a kind tag keeps evaluation a single switch. Children
// live in `args`; which child is which is listed per kind below.
#ifndef KX8_ENGINE_EXPR_AST_H_
#define KX8_ENGINE_EXPR_AST_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/value.h"

namespace dbe::expr {

enum class NodeKind : uint8_t {
  Literal,   // value
  Column,    // [qualifier.]name; column_id once bound
  Param,     // :name or ?; param_index
  Negate,    // -args[0]
  Not,       // NOT args[0]
  Arith,     // args[0] op args[1], op Add Sub Mul Div Mod
  Concat,    // args[0] || args[1]
  And,       // args[0] AND args[1]
  Or,        // args[0] OR args[1]
  Compare,   // args[0] op args[1], op Eq Ne Lt Le Gt Ge
  IsNull,    // args[0] IS [NOT] NULL (negated)
  Like,      // args[0] [NOT] LIKE args[1] [ESCAPE args[2]]
  In,        // args[0] [NOT] IN (args[1], ...)
  Between,   // args[0] [NOT] BETWEEN args[1] AND args[2]
  Function,  // name(args...), func; distinct, star for aggregates
  Case,      // CASE [args[0] if has_operand] (WHEN x THEN y)... [ELSE z if has_else] END
  Cast,      // CAST(args[0] AS cast_type[(cast_width)]) and CONVERT(args[0], type)
};

enum class Op : uint8_t { None, Add, Sub, Mul, Div, Mod, Eq, Ne, Lt, Le, Gt, Ge };

// Functions the parser knows. The aggregates (Count .. Max) parse but are
// computed by the SQL executor, never by Evaluate().
enum class Func : uint8_t {
  None,
  Count,
  Sum,
  Avg,
  Min,
  Max,
  Upper,
  Lower,
  Trim,
  LTrim,
  RTrim,
  Left,
  Right,
  Substring,
  Length,
  Concat,
  Abs,
  Round,
  Floor,
  Ceiling,
  Mod,
  Iif,
  IfNull,
  Coalesce,
  Year,
  Month,
  Day,
  CurDate,
  CurTime,
  Now,
};

enum class CastType : uint8_t { Char, Integer, Double, Money, Date, Time, Timestamp, Logical };

// An exact decimal number: mant / 10^scale, scale 0..18.
struct Decimal {
  int64_t mant = 0;
  int scale = 0;
};

// What a literal means in the other types it may be compared with, worked
// out once when the literal is made so that comparing a column with it per
// row converts nothing.
struct LiteralInfo {
  bool blank = false;        // a string literal that is empty or all blanks
  bool has_number = false;   // numeric literal, or a string that reads as one
  bool has_decimal = false;  // `decimal` holds the number exactly
  double number = 0;
  Decimal decimal;
  bool has_date = false;  // a string that reads as a date: day number
  int64_t date = 0;
  bool has_time = false;  // a string that reads as a time: ms since midnight
  int64_t time = 0;
  bool has_timestamp = false;  // a string that reads as a date or date and time
  int64_t timestamp = 0;
  int8_t logical = -1;  // a string that reads as a logical value: 0 or 1
};

struct Node;
using NodePtr = std::unique_ptr<Node>;

struct Node {
  NodeKind kind = NodeKind::Literal;
  Op op = Op::None;
  Func func = Func::None;
  CastType cast_type = CastType::Char;
  bool negated = false;      // IS NOT NULL, NOT LIKE, NOT IN, NOT BETWEEN
  bool distinct = false;     // COUNT(DISTINCT x)
  bool star = false;         // COUNT(*)
  bool has_operand = false;  // CASE x WHEN ...
  bool has_else = false;     // CASE ... ELSE ...
  int cast_width = 0;        // CAST(x AS CHAR(n)); 0: no width
  int column_id = -1;        // Column, after Bind()
  int param_index = -1;      // Param: 0-based, one per distinct name
  int depth = 1;             // height of the subtree, kept by the parser
  uint32_t error_code = 0;   // for errors raised while evaluating this node
  size_t offset = 0;         // position in the text, from 0
  Value value;               // Literal
  LiteralInfo literal;       // Literal
  std::string qualifier;     // Column: table name or alias, may be empty
  std::string name;          // Column as written; Function upper-cased; Param name
  std::vector<NodePtr> args;
};

NodePtr MakeNode(NodeKind kind, size_t offset, uint32_t error_code);
NodePtr MakeLiteral(Value value, size_t offset, uint32_t error_code);
// Sets a literal's value and recomputes what it reads as.
void SetLiteral(Node& node, Value value);

// Whether the tree contains an aggregate function call.
bool ContainsAggregate(const Node& node);

// A canonical text of the tree in prefix form, e.g.
// (AND (= EMP_NO 'A001') (NOT (IS NULL X))). For diagnostics and tests.
std::string Dump(const Node& node);

}  // namespace dbe::expr

#endif  // KX8_ENGINE_EXPR_AST_H_
