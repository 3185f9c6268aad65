// Recursive-descent parser of expressions, also the token cursor that the
// SQL parser drives: it reads statement keywords itself and calls
// ParseExpression() wherever an expression stands.
//
// Precedence, loosest first:
//   OR
//   AND
//   NOT
//   = <> != < <= > >=, IS [NOT] NULL, [NOT] LIKE [ESCAPE], [NOT] IN (...),
//   [NOT] BETWEEN .. AND ..
//   + - ||
//   * / %
//   unary + -
//   literal, column, parameter, (expression), function call, CASE, CAST,
//   CONVERT
//
// Only AND OR NOT IS NULL LIKE IN BETWEEN CASE WHEN THEN ELSE END are
// reserved inside an expression (and TRUE, FALSE, NULL are literals); every
// other word is a column name where a column can stand, so CURRENT, DESC,
// DATE, YEAR, FROM, CODE ... name columns. A name followed by "(" is a
// function call; DATE/TIME/TIMESTAMP directly followed by a string literal
// is a typed literal. An expression ends before the first token that cannot
// continue it ("," ")" FROM WHERE AS THEN ...), which is left unread.
//
// Parameters: "?" markers are numbered in order; ":name" markers with the
// same name (any letter case) share one number. ParamNames() lists them.
#ifndef KX8_ENGINE_EXPR_PARSER_H_
#define KX8_ENGINE_EXPR_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbe/dbe.h"
#include "expr/ast.h"
#include "expr/lexer.h"

namespace dbe::expr {

class Parser {
 public:
  // Tokenizes `text`; errors in it and in everything parsed later throw
  // dbe::Error(error_code, "... at position N").
  Parser(std::string_view text, uint32_t error_code);

  // Parses one expression starting at the current token.
  NodePtr ParseExpression();

  // Token cursor.
  const Token& Peek(size_t ahead = 0) const;
  const Token& Next();
  bool AtEnd() const { return Peek().kind == TokenKind::End; }
  bool Accept(TokenKind kind);
  bool AcceptKeyword(std::string_view keyword);
  const Token& Expect(TokenKind kind, std::string_view what);
  void ExpectKeyword(std::string_view keyword);
  // Throws "Expected <what> but found <token> at position N".
  [[noreturn]] void FailExpected(std::string_view what) const;
  [[noreturn]] void FailAt(size_t offset, const std::string& message) const;

  // Parameter names by number; "" for "?" markers.
  const std::vector<std::string>& ParamNames() const { return param_names_; }
  uint32_t error_code() const { return code_; }

 private:
  NodePtr ParseOr();
  NodePtr ParseAnd();
  NodePtr ParseNot();
  NodePtr ParsePredicate();
  NodePtr ParseAdditive();
  NodePtr ParseMultiplicative();
  NodePtr ParseUnary();
  NodePtr ParsePrimary();
  NodePtr ParseName();
  NodePtr ParseFunction(const Token& name);
  NodePtr ParseCase(size_t offset);
  NodePtr ParseCast(size_t offset, bool convert);
  NodePtr ParseParam(const Token& token);
  void ParseCastType(Node* node);
  NodePtr Binary(NodeKind kind, Op op, NodePtr left, NodePtr right, size_t offset) const;

  // Counts the recursion of the parser, bounded.
  class Nest {
   public:
    explicit Nest(Parser* parser);
    ~Nest();
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

   private:
    Parser* parser_;
  };

  std::vector<Token> tokens_;
  size_t pos_ = 0;
  int nesting_ = 0;
  uint32_t code_;
  std::vector<std::string> param_names_;
};

// Parses `text` as exactly one expression; anything after it is an error.
NodePtr ParseExpression(std::string_view text, uint32_t error_code = DBE_EXPRESSION_ERROR);

}  // namespace dbe::expr

#endif  // KX8_ENGINE_EXPR_PARSER_H_
