#include "expr/eval.h"

#include <optional>

#include "core/error.h"
#include "expr/convert.h"
#include "expr/functions.h"
#include "expr/operators.h"

namespace dbe::expr {
namespace {

// A child's value without copying literals: the literal itself, or the
// evaluated value held in `scratch`.
const Value& Ref(const Node& node, const RowAccess& row, Value& scratch) {
  if (node.kind == NodeKind::Literal) return node.value;
  scratch = Evaluate(node, row);
  return scratch;
}

Operand OperandOf(const Node& node, const Value& value) {
  return Operand{value, node.kind == NodeKind::Literal ? &node.literal : nullptr};
}

// A logical value: 0, 1 or kUnknown.
int Logic(const Node& node, const RowAccess& row) {
  Value scratch;
  const Value& v = Ref(node, row, scratch);
  switch (v.kind) {
    case ValueKind::Null:
      return kUnknown;
    case ValueKind::Bool:
      return v.b ? 1 : 0;
    case ValueKind::Int:
    case ValueKind::Money:
      return v.i != 0 ? 1 : 0;
    case ValueKind::Double:
      return v.d != 0 ? 1 : 0;
    case ValueKind::String: {
      if (TrimRight(v.s).empty()) return kUnknown;
      bool b;
      if (ParseLogical(v.s, &b)) return b ? 1 : 0;
      break;
    }
    default:
      break;
  }
  FailAt(node, "Not a logical value");
}

Value FromLogic(int v) { return v == kUnknown ? Value::Null() : Value::Bool(v == 1); }

int Not(int v) { return v == kUnknown ? v : 1 - v; }

int And(int a, int b) {
  if (a == 0 || b == 0) return 0;
  return (a == kUnknown || b == kUnknown) ? kUnknown : 1;
}

int CompareNodes(const Node& a, const Node& b, const RowAccess& row, const Node& at) {
  Value sa, sb;
  const Value& va = Ref(a, row, sa);
  const Value& vb = Ref(b, row, sb);
  return Compare(OperandOf(a, va), OperandOf(b, vb), at);
}

Value EvalLike(const Node& n, const RowAccess& row) {
  Value sv, sp, se;
  const Value& v = Ref(*n.args[0], row, sv);
  const Value& p = Ref(*n.args[1], row, sp);
  std::optional<char> escape;
  if (n.args.size() > 2) {
    const Value& e = Ref(*n.args[2], row, se);
    if (e.kind != ValueKind::String || e.s.size() != 1) FailAt(n, "ESCAPE needs one character");
    escape = e.s[0];
  }
  if (p.is_null()) return Value::Null();
  const bool p_text = p.kind == ValueKind::String;
  const bool v_empty = v.is_null() || (v.kind == ValueKind::String && TrimRight(v.s).empty());
  if (v_empty) {
    // The empty value matches an empty pattern, like X = ''.
    if (p_text && TrimRight(p.s).empty()) return Value::Bool(!n.negated);
    if (v.is_null()) return Value::Null();
  }
  bool match;
  if (v.kind == ValueKind::String && p_text) {
    match = LikeMatch(v.s, p.s, escape);
  } else {
    match = LikeMatch(ToText(v), p_text ? std::string_view(p.s) : ToText(p), escape);
  }
  return Value::Bool(match != n.negated);
}

Value EvalIn(const Node& n, const RowAccess& row) {
  Value sv;
  const Value& v = Ref(*n.args[0], row, sv);
  const Operand target = OperandOf(*n.args[0], v);
  bool unknown = false;
  for (size_t i = 1; i < n.args.size(); ++i) {
    Value si;
    const Value& item = Ref(*n.args[i], row, si);
    const int c = Compare(target, OperandOf(*n.args[i], item), n);
    if (c == 0) return Value::Bool(!n.negated);
    if (c == kUnknown) unknown = true;
  }
  return unknown ? Value::Null() : Value::Bool(n.negated);
}

Value EvalBetween(const Node& n, const RowAccess& row) {
  Value sv, sl, sh;
  const Value& v = Ref(*n.args[0], row, sv);
  const Value& lo = Ref(*n.args[1], row, sl);
  const Value& hi = Ref(*n.args[2], row, sh);
  const Operand target = OperandOf(*n.args[0], v);
  const int c1 = Compare(target, OperandOf(*n.args[1], lo), n);
  const int c2 = Compare(target, OperandOf(*n.args[2], hi), n);
  const int above = c1 == kUnknown ? kUnknown : (c1 >= 0 ? 1 : 0);
  const int below = c2 == kUnknown ? kUnknown : (c2 <= 0 ? 1 : 0);
  const int inside = And(above, below);
  return FromLogic(n.negated ? Not(inside) : inside);
}

Value EvalCase(const Node& n, const RowAccess& row) {
  const size_t end = n.args.size() - (n.has_else ? 1 : 0);
  size_t i = 0;
  if (n.has_operand) {
    Value sv;
    const Node& operand = *n.args[0];
    const Value& v = Ref(operand, row, sv);
    for (i = 1; i < end; i += 2) {
      Value sw;
      const Value& w = Ref(*n.args[i], row, sw);
      if (Compare(OperandOf(operand, v), OperandOf(*n.args[i], w), n) == 0) {
        return Evaluate(*n.args[i + 1], row);
      }
    }
  } else {
    for (; i < end; i += 2) {
      if (Logic(*n.args[i], row) == 1) return Evaluate(*n.args[i + 1], row);
    }
  }
  return n.has_else ? Evaluate(*n.args.back(), row) : Value::Null();
}

}  // namespace

ColumnResolver::~ColumnResolver() = default;
RowAccess::~RowAccess() = default;

Value RowAccess::Param(int /*index*/) const { return Value::Null(); }

void Bind(Node& node, const ColumnResolver& resolver, uint32_t error_code) {
  node.error_code = error_code;
  if (node.kind == NodeKind::Column) {
    const int id = resolver.Resolve(node.qualifier, node.name);
    if (id < 0) {
      const std::string name =
          node.qualifier.empty() ? node.name : node.qualifier + "." + node.name;
      Fail(error_code, "Column not found: column \"" + name + "\"");
    }
    node.column_id = id;
  }
  for (NodePtr& arg : node.args) Bind(*arg, resolver, error_code);
}

Value Evaluate(const Node& n, const RowAccess& row) {
  switch (n.kind) {
    case NodeKind::Literal:
      return n.value;
    case NodeKind::Column:
      if (n.column_id < 0) FailAt(n, "Column \"" + n.name + "\" is not bound");
      return row.Column(n.column_id);
    case NodeKind::Param:
      return row.Param(n.param_index);
    case NodeKind::Negate: {
      Value s;
      return Negate(Ref(*n.args[0], row, s), n);
    }
    case NodeKind::Not:
      return FromLogic(Not(Logic(*n.args[0], row)));
    case NodeKind::Arith: {
      Value sa, sb;
      const Value& a = Ref(*n.args[0], row, sa);
      const Value& b = Ref(*n.args[1], row, sb);
      return Arithmetic(n.op, a, b, n);
    }
    case NodeKind::Concat: {
      Value sa, sb;
      const Value& a = Ref(*n.args[0], row, sa);
      const Value& b = Ref(*n.args[1], row, sb);
      return Concatenate(a, b);
    }
    case NodeKind::And: {
      const int a = Logic(*n.args[0], row);
      if (a == 0) return Value::Bool(false);
      return FromLogic(And(a, Logic(*n.args[1], row)));
    }
    case NodeKind::Or: {
      const int a = Logic(*n.args[0], row);
      if (a == 1) return Value::Bool(true);
      return FromLogic(Not(And(Not(a), Not(Logic(*n.args[1], row)))));
    }
    case NodeKind::Compare: {
      const int c = CompareNodes(*n.args[0], *n.args[1], row, n);
      return c == kUnknown ? Value::Null() : Value::Bool(Holds(n.op, c));
    }
    case NodeKind::IsNull: {
      Value s;
      const Value& v = Ref(*n.args[0], row, s);
      const bool empty = v.is_null() || (v.kind == ValueKind::String && TrimRight(v.s).empty());
      return Value::Bool(empty != n.negated);
    }
    case NodeKind::Like:
      return EvalLike(n, row);
    case NodeKind::In:
      return EvalIn(n, row);
    case NodeKind::Between:
      return EvalBetween(n, row);
    case NodeKind::Function:
      return CallFunction(n, row);
    case NodeKind::Case:
      return EvalCase(n, row);
    case NodeKind::Cast: {
      Value s;
      return CastTo(Ref(*n.args[0], row, s), n.cast_type, n.cast_width, n);
    }
  }
  FailAt(n, "Unknown expression");
}

bool IsTrue(const Value& value) {
  switch (value.kind) {
    case ValueKind::Bool:
      return value.b;
    case ValueKind::Int:
    case ValueKind::Money:
      return value.i != 0;
    case ValueKind::Double:
      return value.d != 0;
    case ValueKind::String: {
      bool b = false;
      return ParseLogical(value.s, &b) && b;
    }
    default:
      return false;
  }
}

}  // namespace dbe::expr
