#include "expr/parser.h"

#include <algorithm>
#include <charconv>

#include "core/error.h"
#include "expr/convert.h"
#include "expr/functions.h"

namespace dbe::expr {
namespace {

// Deeper trees and nesting are refused so that parsing and evaluating
// cannot exhaust the stack.
constexpr int kMaxDepth = 1000;
constexpr int kMaxNesting = 200;

const char* const kReserved[] = {"AND",     "OR",   "NOT",  "IS",   "NULL", "LIKE", "IN",
                                 "BETWEEN", "CASE", "WHEN", "THEN", "ELSE", "END"};

bool IsReserved(const Token& t) {
  for (const char* word : kReserved) {
    if (t.Is(word)) return true;
  }
  return false;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Height of a node from its children's heights.
void SetDepth(Node* node) {
  int depth = 0;
  for (const NodePtr& arg : node->args) depth = std::max(depth, arg->depth);
  node->depth = depth + 1;
}

}  // namespace

Parser::Parser(std::string_view text, uint32_t error_code)
    : tokens_(Tokenize(text, error_code)), code_(error_code) {}

const Token& Parser::Peek(size_t ahead) const {
  const size_t i = pos_ + ahead;
  return i < tokens_.size() ? tokens_[i] : tokens_.back();
}

const Token& Parser::Next() {
  const Token& t = tokens_[pos_];
  if (pos_ + 1 < tokens_.size()) ++pos_;
  return t;
}

bool Parser::Accept(TokenKind kind) {
  if (Peek().kind != kind) return false;
  Next();
  return true;
}

bool Parser::AcceptKeyword(std::string_view keyword) {
  if (!Peek().Is(keyword)) return false;
  Next();
  return true;
}

const Token& Parser::Expect(TokenKind kind, std::string_view what) {
  if (Peek().kind != kind) FailExpected(what);
  return Next();
}

void Parser::ExpectKeyword(std::string_view keyword) {
  if (!AcceptKeyword(keyword)) FailExpected(keyword);
}

void Parser::FailExpected(std::string_view what) const {
  FailAt(Peek().offset, "Expected " + std::string(what) + " but found " + Describe(Peek()));
}

void Parser::FailAt(size_t offset, const std::string& message) const {
  Fail(code_, message + " at position " + std::to_string(offset + 1));
}

Parser::Nest::Nest(Parser* parser) : parser_(parser) {
  if (++parser_->nesting_ > kMaxNesting) {
    --parser_->nesting_;
    parser_->FailAt(parser_->Peek().offset, "Expression too deeply nested");
  }
}

Parser::Nest::~Nest() { --parser_->nesting_; }

NodePtr Parser::Binary(NodeKind kind, Op op, NodePtr left, NodePtr right, size_t offset) const {
  NodePtr node = MakeNode(kind, offset, code_);
  node->op = op;
  node->args.push_back(std::move(left));
  node->args.push_back(std::move(right));
  SetDepth(node.get());
  if (node->depth > kMaxDepth) FailAt(offset, "Expression too deeply nested");
  return node;
}

NodePtr Parser::ParseExpression() {
  Nest nest(this);
  return ParseOr();
}

NodePtr Parser::ParseOr() {
  NodePtr left = ParseAnd();
  while (Peek().Is("OR")) {
    const size_t at = Next().offset;
    left = Binary(NodeKind::Or, Op::None, std::move(left), ParseAnd(), at);
  }
  return left;
}

NodePtr Parser::ParseAnd() {
  NodePtr left = ParseNot();
  while (Peek().Is("AND")) {
    const size_t at = Next().offset;
    left = Binary(NodeKind::And, Op::None, std::move(left), ParseNot(), at);
  }
  return left;
}

NodePtr Parser::ParseNot() {
  if (!Peek().Is("NOT")) return ParsePredicate();
  Nest nest(this);
  const size_t at = Next().offset;
  NodePtr node = MakeNode(NodeKind::Not, at, code_);
  node->args.push_back(ParseNot());
  SetDepth(node.get());
  if (node->depth > kMaxDepth) FailAt(at, "Expression too deeply nested");
  return node;
}

NodePtr Parser::ParsePredicate() {
  NodePtr left = ParseAdditive();
  for (;;) {
    const Token& t = Peek();
    Op op = Op::None;
    switch (t.kind) {
      case TokenKind::Eq:
        op = Op::Eq;
        break;
      case TokenKind::Ne:
        op = Op::Ne;
        break;
      case TokenKind::Lt:
        op = Op::Lt;
        break;
      case TokenKind::Le:
        op = Op::Le;
        break;
      case TokenKind::Gt:
        op = Op::Gt;
        break;
      case TokenKind::Ge:
        op = Op::Ge;
        break;
      default:
        break;
    }
    if (op != Op::None) {
      const size_t at = Next().offset;
      left = Binary(NodeKind::Compare, op, std::move(left), ParseAdditive(), at);
      continue;
    }
    if (t.Is("IS")) {
      const size_t at = Next().offset;
      NodePtr node = MakeNode(NodeKind::IsNull, at, code_);
      node->negated = AcceptKeyword("NOT");
      ExpectKeyword("NULL");
      node->args.push_back(std::move(left));
      SetDepth(node.get());
      left = std::move(node);
      continue;
    }
    bool negated = false;
    if (t.Is("NOT") && (Peek(1).Is("LIKE") || Peek(1).Is("IN") || Peek(1).Is("BETWEEN"))) {
      Next();
      negated = true;
    }
    const Token& word = Peek();
    if (word.Is("LIKE")) {
      const size_t at = Next().offset;
      NodePtr node = MakeNode(NodeKind::Like, at, code_);
      node->negated = negated;
      node->args.push_back(std::move(left));
      node->args.push_back(ParseAdditive());
      if (AcceptKeyword("ESCAPE")) node->args.push_back(ParseAdditive());
      SetDepth(node.get());
      left = std::move(node);
    } else if (word.Is("IN")) {
      const size_t at = Next().offset;
      NodePtr node = MakeNode(NodeKind::In, at, code_);
      node->negated = negated;
      node->args.push_back(std::move(left));
      Expect(TokenKind::LParen, "\"(\"");
      if (Peek().Is("SELECT")) FailAt(Peek().offset, "Subqueries are not supported");
      do {
        node->args.push_back(ParseExpression());
      } while (Accept(TokenKind::Comma));
      Expect(TokenKind::RParen, "\")\"");
      SetDepth(node.get());
      left = std::move(node);
    } else if (word.Is("BETWEEN")) {
      const size_t at = Next().offset;
      NodePtr node = MakeNode(NodeKind::Between, at, code_);
      node->negated = negated;
      node->args.push_back(std::move(left));
      node->args.push_back(ParseAdditive());
      ExpectKeyword("AND");
      node->args.push_back(ParseAdditive());
      SetDepth(node.get());
      left = std::move(node);
    } else {
      break;
    }
    if (left->depth > kMaxDepth) FailAt(left->offset, "Expression too deeply nested");
  }
  return left;
}

NodePtr Parser::ParseAdditive() {
  NodePtr left = ParseMultiplicative();
  for (;;) {
    const TokenKind kind = Peek().kind;
    if (kind == TokenKind::Plus || kind == TokenKind::Minus) {
      const size_t at = Next().offset;
      left = Binary(NodeKind::Arith, kind == TokenKind::Plus ? Op::Add : Op::Sub, std::move(left),
                    ParseMultiplicative(), at);
    } else if (kind == TokenKind::Concat) {
      const size_t at = Next().offset;
      left = Binary(NodeKind::Concat, Op::None, std::move(left), ParseMultiplicative(), at);
    } else {
      return left;
    }
  }
}

NodePtr Parser::ParseMultiplicative() {
  NodePtr left = ParseUnary();
  for (;;) {
    Op op = Op::None;
    switch (Peek().kind) {
      case TokenKind::Star:
        op = Op::Mul;
        break;
      case TokenKind::Slash:
        op = Op::Div;
        break;
      case TokenKind::Percent:
        op = Op::Mod;
        break;
      default:
        return left;
    }
    const size_t at = Next().offset;
    left = Binary(NodeKind::Arith, op, std::move(left), ParseUnary(), at);
  }
}

NodePtr Parser::ParseUnary() {
  const TokenKind kind = Peek().kind;
  if (kind != TokenKind::Minus && kind != TokenKind::Plus) return ParsePrimary();
  Nest nest(this);
  const size_t at = Next().offset;
  NodePtr operand = (Peek().kind == TokenKind::Minus || Peek().kind == TokenKind::Plus)
                        ? ParseUnary()
                        : ParsePrimary();
  if (kind == TokenKind::Plus) return operand;
  // A negative number is one literal.
  if (operand->kind == NodeKind::Literal) {
    const Value& v = operand->value;
    if (v.kind == ValueKind::Int && v.i != INT64_MIN) {
      SetLiteral(*operand, Value::Int(-v.i));
      operand->offset = at;
      return operand;
    }
    if (v.kind == ValueKind::Double) {
      SetLiteral(*operand, Value::Double(-v.d));
      operand->offset = at;
      return operand;
    }
  }
  NodePtr node = MakeNode(NodeKind::Negate, at, code_);
  node->args.push_back(std::move(operand));
  SetDepth(node.get());
  if (node->depth > kMaxDepth) FailAt(at, "Expression too deeply nested");
  return node;
}

NodePtr Parser::ParsePrimary() {
  const Token& t = Peek();
  switch (t.kind) {
    case TokenKind::Integer:
    case TokenKind::Decimal: {
      const Token& tok = Next();
      if (tok.kind == TokenKind::Integer) {
        int64_t v = 0;
        const char* end = tok.text.data() + tok.text.size();
        auto [p, ec] = std::from_chars(tok.text.data(), end, v);
        if (ec == std::errc() && p == end) return MakeLiteral(Value::Int(v), tok.offset, code_);
        // Too large for an integer: a double.
      }
      double d = 0;
      Decimal ignored;
      bool exact = false;
      if (!ParseNumber(tok.text, &d, &ignored, &exact))
        FailAt(tok.offset, "Invalid number " + tok.text);
      return MakeLiteral(Value::Double(d), tok.offset, code_);
    }
    case TokenKind::String: {
      const Token& tok = Next();
      return MakeLiteral(Value::String(tok.text), tok.offset, code_);
    }
    case TokenKind::Param:
      return ParseParam(Next());
    case TokenKind::LParen: {
      Next();
      if (Peek().Is("SELECT")) FailAt(Peek().offset, "Subqueries are not supported");
      NodePtr inner = ParseExpression();
      Expect(TokenKind::RParen, "\")\"");
      return inner;
    }
    case TokenKind::Name:
    case TokenKind::QuotedName:
      return ParseName();
    default:
      FailExpected("an expression");
  }
}

NodePtr Parser::ParseParam(const Token& token) {
  NodePtr node = MakeNode(NodeKind::Param, token.offset, code_);
  node->name = token.text;
  if (!token.text.empty()) {
    for (size_t i = 0; i < param_names_.size(); ++i) {
      if (EqualsNoCase(param_names_[i], token.text)) {
        node->param_index = static_cast<int>(i);
        return node;
      }
    }
  }
  node->param_index = static_cast<int>(param_names_.size());
  param_names_.push_back(token.text);
  return node;
}

NodePtr Parser::ParseName() {
  if (Peek().kind == TokenKind::Name) {
    const Token& t = Peek();
    if (t.Is("NULL")) return MakeLiteral(Value::Null(), Next().offset, code_);
    if (t.Is("TRUE")) return MakeLiteral(Value::Bool(true), Next().offset, code_);
    if (t.Is("FALSE")) return MakeLiteral(Value::Bool(false), Next().offset, code_);
    if (t.Is("CASE")) return ParseCase(Next().offset);
    if (IsReserved(t)) FailExpected("an expression");
    if ((t.Is("DATE") || t.Is("TIME") || t.Is("TIMESTAMP")) && Peek(1).kind == TokenKind::String) {
      const Token& type = Next();
      const Token& text = Next();
      int64_t v = 0;
      Value value;
      if (type.Is("DATE") && ParseDate(text.text, &v)) {
        value = Value::Date(v);
      } else if (type.Is("TIME") && ParseTime(text.text, &v)) {
        value = Value::Time(v);
      } else if (type.Is("TIMESTAMP") && ParseTimestamp(text.text, &v)) {
        value = Value::Timestamp(v);
      } else {
        FailAt(text.offset, "Invalid " + Upper(type.text) + " literal " + Describe(text));
      }
      return MakeLiteral(std::move(value), type.offset, code_);
    }
    if (Peek(1).kind == TokenKind::LParen) {
      const Token& name = Next();
      if (name.Is("CAST")) return ParseCast(name.offset, false);
      if (name.Is("CONVERT")) return ParseCast(name.offset, true);
      return ParseFunction(name);
    }
  }
  const Token& first = Next();
  NodePtr node = MakeNode(NodeKind::Column, first.offset, code_);
  if (Accept(TokenKind::Dot)) {
    if (Peek().kind != TokenKind::Name && Peek().kind != TokenKind::QuotedName) {
      FailExpected("a column name");
    }
    node->qualifier = first.text;
    node->name = Next().text;
  } else {
    node->name = first.text;
  }
  return node;
}

NodePtr Parser::ParseFunction(const Token& name) {
  const FunctionInfo* info = FindFunction(name.text);
  if (info == nullptr) FailAt(name.offset, "Unknown function " + Upper(name.text));
  NodePtr node = MakeNode(NodeKind::Function, name.offset, code_);
  node->func = info->func;
  node->name = Upper(name.text);
  Expect(TokenKind::LParen, "\"(\"");
  int count = 0;
  if (Peek().kind == TokenKind::Star && info->func == Func::Count) {
    Next();
    node->star = true;
    count = 1;
  } else if (Peek().kind != TokenKind::RParen) {
    if (Peek().Is("DISTINCT") && Peek(1).kind != TokenKind::RParen &&
        Peek(1).kind != TokenKind::Comma) {
      if (!IsAggregate(info->func)) {
        FailAt(Peek().offset, "DISTINCT is only allowed in aggregate functions");
      }
      Next();
      node->distinct = true;
    }
    do {
      node->args.push_back(ParseExpression());
      ++count;
    } while (Accept(TokenKind::Comma));
  }
  Expect(TokenKind::RParen, "\")\"");
  if (count < info->min_args || (info->max_args >= 0 && count > info->max_args)) {
    FailAt(name.offset, "Wrong number of arguments for " + node->name);
  }
  SetDepth(node.get());
  return node;
}

NodePtr Parser::ParseCase(size_t offset) {
  NodePtr node = MakeNode(NodeKind::Case, offset, code_);
  if (!Peek().Is("WHEN")) {
    node->has_operand = true;
    node->args.push_back(ParseExpression());
  }
  if (!Peek().Is("WHEN")) FailExpected("WHEN");
  while (AcceptKeyword("WHEN")) {
    node->args.push_back(ParseExpression());
    ExpectKeyword("THEN");
    node->args.push_back(ParseExpression());
  }
  if (AcceptKeyword("ELSE")) {
    node->has_else = true;
    node->args.push_back(ParseExpression());
  }
  ExpectKeyword("END");
  SetDepth(node.get());
  return node;
}

NodePtr Parser::ParseCast(size_t offset, bool convert) {
  NodePtr node = MakeNode(NodeKind::Cast, offset, code_);
  Expect(TokenKind::LParen, "\"(\"");
  node->args.push_back(ParseExpression());
  if (convert) {
    Expect(TokenKind::Comma, "\",\"");
  } else {
    ExpectKeyword("AS");
  }
  ParseCastType(node.get());
  Expect(TokenKind::RParen, "\")\"");
  SetDepth(node.get());
  return node;
}

void Parser::ParseCastType(Node* node) {
  const Token& t = Expect(TokenKind::Name, "a type name");
  std::string type = Upper(t.text);
  if (type.rfind("SQL_", 0) == 0) type.erase(0, 4);
  static const struct {
    const char* name;
    CastType type;
  } kTypes[] = {
      {"CHAR", CastType::Char},        {"CHARACTER", CastType::Char},
      {"VARCHAR", CastType::Char},     {"CICHAR", CastType::Char},
      {"STRING", CastType::Char},      {"INTEGER", CastType::Integer},
      {"INT", CastType::Integer},      {"SHORTINT", CastType::Integer},
      {"SMALLINT", CastType::Integer}, {"BIGINT", CastType::Integer},
      {"DOUBLE", CastType::Double},    {"FLOAT", CastType::Double},
      {"REAL", CastType::Double},      {"CURDOUBLE", CastType::Double},
      {"NUMERIC", CastType::Double},   {"DECIMAL", CastType::Double},
      {"MONEY", CastType::Money},      {"DATE", CastType::Date},
      {"TIME", CastType::Time},        {"TIMESTAMP", CastType::Timestamp},
      {"LOGICAL", CastType::Logical},  {"BOOLEAN", CastType::Logical},
      {"BIT", CastType::Logical},
  };
  bool found = false;
  for (const auto& entry : kTypes) {
    if (type == entry.name) {
      node->cast_type = entry.type;
      found = true;
      break;
    }
  }
  if (!found) FailAt(t.offset, "Unknown type " + Upper(t.text));
  if (Accept(TokenKind::LParen)) {
    const Token& width = Expect(TokenKind::Integer, "a width");
    if (Accept(TokenKind::Comma)) Expect(TokenKind::Integer, "a scale");
    Expect(TokenKind::RParen, "\")\"");
    if (node->cast_type == CastType::Char) {
      int w = 0;
      auto [p, ec] = std::from_chars(width.text.data(), width.text.data() + width.text.size(), w);
      if (ec != std::errc() || w <= 0 || w > 65535)
        FailAt(width.offset, "Invalid width " + width.text);
      node->cast_width = w;
    }
  }
}

NodePtr ParseExpression(std::string_view text, uint32_t error_code) {
  Parser parser(text, error_code);
  NodePtr node = parser.ParseExpression();
  if (!parser.AtEnd()) {
    parser.FailAt(parser.Peek().offset,
                  "Unexpected " + Describe(parser.Peek()) + " after the expression");
  }
  return node;
}

}  // namespace dbe::expr
