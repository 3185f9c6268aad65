#include "expr/ast.h"

#include "expr/convert.h"
#include "expr/functions.h"

namespace dbe::expr {
namespace {

const char* OpText(Op op) {
  switch (op) {
    case Op::None:
      return "?";
    case Op::Add:
      return "+";
    case Op::Sub:
      return "-";
    case Op::Mul:
      return "*";
    case Op::Div:
      return "/";
    case Op::Mod:
      return "%";
    case Op::Eq:
      return "=";
    case Op::Ne:
      return "<>";
    case Op::Lt:
      return "<";
    case Op::Le:
      return "<=";
    case Op::Gt:
      return ">";
    case Op::Ge:
      return ">=";
  }
  return "?";
}

const char* CastText(CastType type) {
  switch (type) {
    case CastType::Char:
      return "CHAR";
    case CastType::Integer:
      return "INTEGER";
    case CastType::Double:
      return "DOUBLE";
    case CastType::Money:
      return "MONEY";
    case CastType::Date:
      return "DATE";
    case CastType::Time:
      return "TIME";
    case CastType::Timestamp:
      return "TIMESTAMP";
    case CastType::Logical:
      return "LOGICAL";
  }
  return "?";
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string DumpLiteral(const Value& v) {
  switch (v.kind) {
    case ValueKind::Null:
      return "NULL";
    case ValueKind::Bool:
      return v.b ? "TRUE" : "FALSE";
    case ValueKind::String:
      return Quote(v.s);
    case ValueKind::Date:
      return "DATE " + Quote(ToText(v));
    case ValueKind::Time:
      return "TIME " + Quote(ToText(v));
    case ValueKind::Timestamp:
      return "TIMESTAMP " + Quote(ToText(v));
    default:
      return ToText(v);
  }
}

void DumpTo(const Node& n, std::string* out);

void DumpList(const Node& n, size_t from, std::string* out) {
  for (size_t i = from; i < n.args.size(); ++i) {
    *out += ' ';
    DumpTo(*n.args[i], out);
  }
}

void DumpTo(const Node& n, std::string* out) {
  switch (n.kind) {
    case NodeKind::Literal:
      *out += DumpLiteral(n.value);
      return;
    case NodeKind::Column:
      if (!n.qualifier.empty()) *out += n.qualifier + ".";
      *out += n.name;
      return;
    case NodeKind::Param:
      *out += n.name.empty() ? "?" + std::to_string(n.param_index) : ":" + n.name;
      return;
    case NodeKind::Negate:
      *out += "(-";
      break;
    case NodeKind::Not:
      *out += "(NOT";
      break;
    case NodeKind::Arith:
    case NodeKind::Compare:
      *out += std::string("(") + OpText(n.op);
      break;
    case NodeKind::Concat:
      *out += "(||";
      break;
    case NodeKind::And:
      *out += "(AND";
      break;
    case NodeKind::Or:
      *out += "(OR";
      break;
    case NodeKind::IsNull:
      *out += n.negated ? "(IS NOT NULL" : "(IS NULL";
      break;
    case NodeKind::Like:
      *out += n.negated ? "(NOT LIKE" : "(LIKE";
      break;
    case NodeKind::In:
      *out += n.negated ? "(NOT IN" : "(IN";
      break;
    case NodeKind::Between:
      *out += n.negated ? "(NOT BETWEEN" : "(BETWEEN";
      break;
    case NodeKind::Function:
      *out += n.name + "(";
      if (n.star) *out += "*";
      if (n.distinct) *out += "DISTINCT ";
      for (size_t i = 0; i < n.args.size(); ++i) {
        if (i > 0) *out += ", ";
        DumpTo(*n.args[i], out);
      }
      *out += ")";
      return;
    case NodeKind::Case: {
      *out += "(CASE";
      size_t i = 0;
      if (n.has_operand) {
        *out += ' ';
        DumpTo(*n.args[i++], out);
      }
      const size_t pairs_end = n.args.size() - (n.has_else ? 1 : 0);
      for (; i + 1 < pairs_end; i += 2) {
        *out += " (WHEN ";
        DumpTo(*n.args[i], out);
        *out += ' ';
        DumpTo(*n.args[i + 1], out);
        *out += ')';
      }
      if (n.has_else) {
        *out += " (ELSE ";
        DumpTo(*n.args.back(), out);
        *out += ')';
      }
      *out += ')';
      return;
    }
    case NodeKind::Cast:
      *out += "(CAST ";
      DumpTo(*n.args[0], out);
      *out += std::string(" ") + CastText(n.cast_type);
      if (n.cast_width > 0) *out += "(" + std::to_string(n.cast_width) + ")";
      *out += ')';
      return;
  }
  DumpList(n, 0, out);
  *out += ')';
}

}  // namespace

NodePtr MakeNode(NodeKind kind, size_t offset, uint32_t error_code) {
  auto node = std::make_unique<Node>();
  node->kind = kind;
  node->offset = offset;
  node->error_code = error_code;
  return node;
}

void SetLiteral(Node& node, Value value) {
  node.kind = NodeKind::Literal;
  node.value = std::move(value);
  DescribeLiteral(node.value, &node.literal);
}

NodePtr MakeLiteral(Value value, size_t offset, uint32_t error_code) {
  NodePtr node = MakeNode(NodeKind::Literal, offset, error_code);
  SetLiteral(*node, std::move(value));
  return node;
}

bool ContainsAggregate(const Node& node) {
  if (node.kind == NodeKind::Function && IsAggregate(node.func)) return true;
  for (const NodePtr& arg : node.args) {
    if (ContainsAggregate(*arg)) return true;
  }
  return false;
}

std::string Dump(const Node& node) {
  std::string out;
  DumpTo(node, &out);
  return out;
}

}  // namespace dbe::expr
