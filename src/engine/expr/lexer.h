// Tokenizer shared by record filters and the SQL front end.
//
// Recognised:
//  - names: a letter, "_", "@" or "#" followed by letters, digits, "_", "$",
//    "@", "#" (bytes from 0x80 up count as letters); kept as written, keyword
//    tests ignore letter case;
//  - quoted names: "double quoted" (a doubled "" inside stands for one ") and
//    [bracketed] (a doubled ]] stands for one ]); the text between the quotes
//    is kept exactly, blanks included, and is never a keyword;
//  - string literals in single quotes, '' standing for one quote;
//  - numbers: 12 (Integer), 1.5 .5 1. 1e3 1.5E-3 (Decimal);
//  - parameters ":name" and "?";
//  - operators = <> != < <= > >= + - * / % || and ( ) , . ;
//  - comments "-- to the end of the line" and "/* ... */".
//
// Every token keeps its offset (0-based, in bytes) in the text. Error
// messages give positions counted from 1: "... at position N".
#ifndef KX8_ENGINE_EXPR_LEXER_H_
#define KX8_ENGINE_EXPR_LEXER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dbe::expr {

enum class TokenKind : uint8_t {
  End,         // end of the text; offset is the text's length
  Name,        // plain identifier or keyword
  QuotedName,  // "name" or [name]; text without the quotes
  String,      // 'literal'; text unescaped
  Integer,     // digits only
  Decimal,     // digits with a point and/or an exponent
  Param,       // :name (text is the name) or ? (text is empty)
  Eq,          // =
  Ne,          // <> or !=
  Lt,          // <
  Le,          // <=
  Gt,          // >
  Ge,          // >=
  Plus,        // +
  Minus,       // -
  Star,        // *
  Slash,       // /
  Percent,     // %
  Concat,      // ||
  LParen,      // (
  RParen,      // )
  Comma,       // ,
  Dot,         // .
  Semicolon,   // ;
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;   // see TokenKind
  size_t offset = 0;  // byte offset in the text, from 0
  char quote = 0;     // QuotedName: '"' or '['

  // True for a plain name equal to `keyword` without regard to letter case.
  // Quoted names are never keywords.
  bool Is(std::string_view keyword) const;
};

// Splits `text` into tokens, ending with one End token. Malformed text
// (unterminated literal, quoted name or comment, a stray character) throws
// dbe::Error(error_code, "... at position N").
std::vector<Token> Tokenize(std::string_view text, uint32_t error_code);

// How a token is named in error messages: "FROM", "'abc'", "\"X\"", "end of
// text".
std::string Describe(const Token& token);

// Comparison of ASCII letters without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace dbe::expr

#endif  // KX8_ENGINE_EXPR_LEXER_H_
