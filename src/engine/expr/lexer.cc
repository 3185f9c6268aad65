#include "expr/lexer.h"

#include "core/error.h"

namespace dbe::expr {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNameStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '@' || c == '#' ||
         u >= 0x80;
}

bool IsNamePart(char c) { return IsNameStart(c) || IsDigit(c) || c == '$'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

class Lexer {
 public:
  Lexer(std::string_view text, uint32_t error_code) : text_(text), code_(error_code) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    for (;;) {
      SkipBlanksAndComments();
      if (pos_ >= text_.size()) break;
      out.push_back(Next());
    }
    Token end;
    end.offset = text_.size();
    out.push_back(std::move(end));
    return out;
  }

 private:
  [[noreturn]] void Fail(const std::string& what, size_t at) const {
    dbe::Fail(code_, what + " at position " + std::to_string(at + 1));
  }

  char At(size_t i) const { return i < text_.size() ? text_[i] : '\0'; }

  void SkipBlanksAndComments() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        ++pos_;
      } else if (c == '-' && At(pos_ + 1) == '-') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (c == '/' && At(pos_ + 1) == '*') {
        const size_t close = text_.find("*/", pos_ + 2);
        if (close == std::string_view::npos) Fail("Unterminated comment", pos_);
        pos_ = close + 2;
      } else {
        break;
      }
    }
  }

  Token Make(TokenKind kind, size_t start, size_t length) {
    Token t;
    t.kind = kind;
    t.offset = start;
    t.text.assign(text_.substr(start, length));
    pos_ = start + length;
    return t;
  }

  // Text between `open` at pos_ and the matching `close`; a doubled `close`
  // stands for one.
  Token Quoted(TokenKind kind, char close, const char* what) {
    Token t;
    t.kind = kind;
    t.offset = pos_;
    size_t i = pos_ + 1;
    for (;;) {
      if (i >= text_.size()) Fail(std::string("Unterminated ") + what, t.offset);
      if (text_[i] == close) {
        if (At(i + 1) == close) {
          t.text += close;
          i += 2;
          continue;
        }
        break;
      }
      t.text += text_[i++];
    }
    pos_ = i + 1;
    return t;
  }

  Token Number() {
    const size_t start = pos_;
    size_t i = pos_;
    bool decimal = false;
    while (IsDigit(At(i))) ++i;
    if (At(i) == '.') {
      decimal = true;
      ++i;
      while (IsDigit(At(i))) ++i;
    }
    if (At(i) == 'e' || At(i) == 'E') {
      size_t j = i + 1;
      if (At(j) == '+' || At(j) == '-') ++j;
      if (IsDigit(At(j))) {
        decimal = true;
        while (IsDigit(At(j))) ++j;
        i = j;
      }
    }
    return Make(decimal ? TokenKind::Decimal : TokenKind::Integer, start, i - start);
  }

  Token Next() {
    const size_t start = pos_;
    const char c = text_[pos_];
    const char n = At(pos_ + 1);
    if (IsNameStart(c)) {
      size_t i = pos_ + 1;
      while (i < text_.size() && IsNamePart(text_[i])) ++i;
      return Remember(Make(TokenKind::Name, start, i - start));
    }
    // ".5" is a number unless it follows a name: T.5 would be a qualifier.
    const bool after_name = last_kind_ == TokenKind::Name || last_kind_ == TokenKind::QuotedName;
    if (IsDigit(c) || (c == '.' && IsDigit(n) && !after_name)) return Remember(Number());
    switch (c) {
      case '\'':
        return Remember(Quoted(TokenKind::String, '\'', "string literal"));
      case '"': {
        Token t = Quoted(TokenKind::QuotedName, '"', "quoted name");
        t.quote = '"';
        return Remember(std::move(t));
      }
      case '[': {
        Token t = Quoted(TokenKind::QuotedName, ']', "bracketed name");
        t.quote = '[';
        return Remember(std::move(t));
      }
      case ':': {
        size_t i = pos_ + 1;
        while (i < text_.size() && IsNamePart(text_[i])) ++i;
        if (i == pos_ + 1) Fail("Expected a parameter name after \":\"", start);
        Token t = Make(TokenKind::Param, start, i - start);
        t.text.erase(0, 1);
        return Remember(std::move(t));
      }
      case '?': {
        Token t = Make(TokenKind::Param, start, 1);
        t.text.clear();
        return Remember(std::move(t));
      }
      case '=':
        return Remember(Make(TokenKind::Eq, start, 1));
      case '<':
        if (n == '>') return Remember(Make(TokenKind::Ne, start, 2));
        if (n == '=') return Remember(Make(TokenKind::Le, start, 2));
        return Remember(Make(TokenKind::Lt, start, 1));
      case '>':
        if (n == '=') return Remember(Make(TokenKind::Ge, start, 2));
        return Remember(Make(TokenKind::Gt, start, 1));
      case '!':
        if (n == '=') return Remember(Make(TokenKind::Ne, start, 2));
        break;
      case '|':
        if (n == '|') return Remember(Make(TokenKind::Concat, start, 2));
        break;
      case '+':
        return Remember(Make(TokenKind::Plus, start, 1));
      case '-':
        return Remember(Make(TokenKind::Minus, start, 1));
      case '*':
        return Remember(Make(TokenKind::Star, start, 1));
      case '/':
        return Remember(Make(TokenKind::Slash, start, 1));
      case '%':
        return Remember(Make(TokenKind::Percent, start, 1));
      case '(':
        return Remember(Make(TokenKind::LParen, start, 1));
      case ')':
        return Remember(Make(TokenKind::RParen, start, 1));
      case ',':
        return Remember(Make(TokenKind::Comma, start, 1));
      case '.':
        return Remember(Make(TokenKind::Dot, start, 1));
      case ';':
        return Remember(Make(TokenKind::Semicolon, start, 1));
      default:
        break;
    }
    Fail("Unexpected character \"" + std::string(1, c) + "\"", start);
  }

  Token Remember(Token t) {
    last_kind_ = t.kind;
    return t;
  }

  std::string_view text_;
  uint32_t code_;
  size_t pos_ = 0;
  TokenKind last_kind_ = TokenKind::End;
};

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool Token::Is(std::string_view keyword) const {
  return kind == TokenKind::Name && EqualsNoCase(text, keyword);
}

std::vector<Token> Tokenize(std::string_view text, uint32_t error_code) {
  return Lexer(text, error_code).Run();
}

std::string Describe(const Token& token) {
  switch (token.kind) {
    case TokenKind::End:
      return "end of text";
    case TokenKind::String:
      return "'" + token.text + "'";
    case TokenKind::QuotedName:
      return token.quote == '[' ? "[" + token.text + "]" : "\"" + token.text + "\"";
    case TokenKind::Param:
      return token.text.empty() ? "?" : ":" + token.text;
    default:
      return "\"" + token.text + "\"";
  }
}

}  // namespace dbe::expr
