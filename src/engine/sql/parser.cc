#include "sql/parser.h"

#include <charconv>
#include <utility>

#include "core/error.h"
#include "dbe/dbe.h"
#include "expr/parser.h"

namespace dbe::sql {
namespace {

using expr::Token;
using expr::TokenKind;

// How a type name is followed.
enum class Size : uint8_t {
  None,      // nothing: INTEGER
  Length,    // (n), required: char(10)
  Numeric,   // (n) or (n, d), required: numeric(10, 2)
  Decimals,  // optional (d): double, double(2)
};

struct TypeWord {
  const char* name;
  uint16_t type;
  Size size;
};

constexpr TypeWord kTypes[] = {
    {"CHAR", DBE_FT_STRING, Size::Length},
    {"CHARACTER", DBE_FT_STRING, Size::Length},
    {"CICHAR", DBE_FT_CISTRING, Size::Length},
    {"VARCHAR", DBE_FT_VARCHAR, Size::Length},
    {"NUMERIC", DBE_FT_NUMERIC, Size::Numeric},
    {"DATE", DBE_FT_DATE, Size::None},
    {"SHORTDATE", DBE_FT_COMPACTDATE, Size::None},
    {"LOGICAL", DBE_FT_LOGICAL, Size::None},
    {"MEMO", DBE_FT_MEMO, Size::None},
    {"BLOB", DBE_FT_BINARY, Size::None},
    {"BINARY", DBE_FT_BINARY, Size::None},
    {"IMAGE", DBE_FT_IMAGE, Size::None},
    {"DOUBLE", DBE_FT_DOUBLE, Size::Decimals},
    {"INTEGER", DBE_FT_INTEGER, Size::None},
    {"INT", DBE_FT_INTEGER, Size::None},
    {"SHORTINT", DBE_FT_SHORTINT, Size::None},
    {"SMALLINT", DBE_FT_SHORTINT, Size::None},
    {"TIME", DBE_FT_TIME, Size::None},
    {"TIMESTAMP", DBE_FT_TIMESTAMP, Size::None},
    {"AUTOINC", DBE_FT_AUTOINC, Size::None},
    {"RAW", DBE_FT_RAW, Size::Length},
    {"CURDOUBLE", DBE_FT_CURDOUBLE, Size::None},
    {"MONEY", DBE_FT_MONEY, Size::None},
    {"ROWVERSION", DBE_FT_ROWVERSION, Size::None},
    {"MODTIME", DBE_FT_MODTIME, Size::None},
};

const TypeWord* FindType(const Token& t) {
  if (t.kind != TokenKind::Name) return nullptr;
  for (const TypeWord& w : kTypes) {
    if (t.Is(w.name)) return &w;
  }
  return nullptr;
}

bool IsTypeWord(const Token& t) { return FindType(t) != nullptr; }

bool IsName(const Token& t) { return t.kind == TokenKind::Name || t.kind == TokenKind::QuotedName; }

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Words that end a list of tables instead of naming an alias.
constexpr const char* kAfterTable[] = {"WHERE", "GROUP", "HAVING", "ORDER", "UNION", "JOIN",
                                       "INNER", "LEFT",  "RIGHT",  "FULL",  "CROSS", "ON"};

class StatementParser {
 public:
  explicit StatementParser(std::string_view text) : text_(text), p_(text, DBE_SQL_ERROR) {}

  Statement Parse() {
    Statement st;
    const Token& t = p_.Peek();
    if (t.Is("ALTER")) {
      st.body = ParseAlterTable();
    } else if (t.Is("CREATE")) {
      st.body = ParseCreate();
    } else if (t.Is("DROP")) {
      st.body = ParseDrop();
    } else if (t.Is("SELECT")) {
      st.body = ParseSelect();
    } else if (t.Is("UPDATE")) {
      st.body = ParseUpdate();
    } else if (t.Is("DELETE")) {
      st.body = ParseDelete();
    } else if (t.Is("INSERT")) {
      st.body = ParseInsert();
    } else {
      p_.FailExpected("ALTER, CREATE, DELETE, DROP, INSERT, SELECT or UPDATE");
    }
    p_.Accept(TokenKind::Semicolon);
    if (!p_.AtEnd()) {
      p_.FailAt(p_.Peek().offset,
                "Unexpected " + expr::Describe(p_.Peek()) + " after the end of the statement");
    }
    st.params = p_.ParamNames();
    st.text = std::string(text_);
    return st;
  }

 private:
  bool AtStatementEnd() const { return p_.AtEnd() || p_.Peek().kind == TokenKind::Semicolon; }

  std::string ExpectName(std::string_view what) {
    if (!IsName(p_.Peek())) p_.FailExpected(what);
    return p_.Next().text;
  }

  // Whether a line break stands between the token at `offset` and the one
  // before it (blanks and comments in between).
  bool LineBreakBefore(size_t offset) const {
    size_t i = offset;
    while (i > 0) {
      const char c = text_[i - 1];
      if (c == '\n' || c == '\r') return true;
      if (IsBlank(c)) {
        --i;
      } else if (c == '/' && i >= 2 && text_[i - 2] == '*') {
        const size_t open = text_.rfind("/*", i - 2);
        if (open == std::string_view::npos) return false;
        i = open;
      } else {
        return false;
      }
    }
    return false;
  }

  TableRef ParseTable() {
    const Token& t = p_.Peek();
    if (!IsName(t)) p_.FailExpected("a table name");
    TableRef ref;
    ref.name = t.text;
    ref.quoted = t.kind == TokenKind::QuotedName;
    ref.offset = t.offset;
    p_.Next();
    return ref;
  }

  // A table of a FROM list, with its alias.
  TableRef ParseFromTable() {
    TableRef ref = ParseTable();
    if (p_.AcceptKeyword("AS")) {
      ref.alias = ExpectName("an alias");
      return ref;
    }
    const Token& t = p_.Peek();
    if (t.kind == TokenKind::QuotedName) {
      ref.alias = p_.Next().text;
    } else if (t.kind == TokenKind::Name) {
      for (const char* word : kAfterTable) {
        if (t.Is(word)) return ref;
      }
      ref.alias = p_.Next().text;
    }
    return ref;
  }

  std::vector<TableRef> ParseFromList() {
    std::vector<TableRef> tables;
    do {
      tables.push_back(ParseFromTable());
    } while (p_.Accept(TokenKind::Comma));
    return tables;
  }

  uint64_t ParseNumber(std::string_view what, uint64_t min, uint64_t max) {
    const Token& t = p_.Expect(TokenKind::Integer, "a " + std::string(what));
    uint64_t v = 0;
    const char* end = t.text.data() + t.text.size();
    auto [ptr, ec] = std::from_chars(t.text.data(), end, v);
    if (ec != std::errc() || ptr != end || v < min || v > max) {
      p_.FailAt(t.offset, "Invalid " + std::string(what) + " " + t.text);
    }
    return v;
  }

  TypeSpec ParseType() {
    const Token& t = p_.Peek();
    if (t.kind != TokenKind::Name) p_.FailExpected("a type name");
    const TypeWord* word = FindType(t);
    if (word == nullptr) p_.FailAt(t.offset, "Unknown type name " + Upper(t.text));
    TypeSpec spec;
    spec.type = word->type;
    spec.offset = t.offset;
    p_.Next();
    switch (word->size) {
      case Size::None:
        if (p_.Peek().kind == TokenKind::LParen) {
          p_.FailAt(p_.Peek().offset, "Type " + std::string(word->name) + " takes no length");
        }
        break;
      case Size::Length:
        p_.Expect(TokenKind::LParen, "\"(\"");
        spec.length = static_cast<uint32_t>(ParseNumber("length", 1, UINT32_MAX));
        p_.Expect(TokenKind::RParen, "\")\"");
        break;
      case Size::Numeric:
        p_.Expect(TokenKind::LParen, "\"(\"");
        spec.length = static_cast<uint32_t>(ParseNumber("length", 1, UINT32_MAX));
        if (p_.Accept(TokenKind::Comma)) {
          spec.decimals = static_cast<uint16_t>(ParseNumber("number of decimals", 0, UINT16_MAX));
        }
        p_.Expect(TokenKind::RParen, "\")\"");
        break;
      case Size::Decimals:
        if (p_.Accept(TokenKind::LParen)) {
          spec.decimals = static_cast<uint16_t>(ParseNumber("number of decimals", 0, UINT16_MAX));
          p_.Expect(TokenKind::RParen, "\")\"");
        }
        break;
    }
    return spec;
  }

  // ---- ALTER TABLE -------------------------------------------------------

  bool AtClauseStart() const {
    const Token& t = p_.Peek();
    return t.Is("ADD") || t.Is("ALTER") || t.Is("DROP");
  }

  // The optional COLUMN after ADD, ALTER or DROP. It is a keyword wherever
  // the rest of the clause reads with it as one, and the column itself
  // otherwise: ADD COLUMN char(10), ALTER COLUMN INTEGER, DROP COLUMN.
  void AcceptColumnKeyword(AlterClause::Kind kind) {
    if (!p_.Peek().Is("COLUMN")) return;
    const Token& name = p_.Peek(1);
    bool is_keyword = false;
    switch (kind) {
      case AlterClause::Kind::Add:  // COLUMN c type
        is_keyword = !(IsTypeWord(name) && !IsTypeWord(p_.Peek(2)));
        break;
      case AlterClause::Kind::Alter: {  // COLUMN c [new_name] type
        const bool with_keyword = IsName(name) && (IsTypeWord(p_.Peek(2)) ||
                                                   (IsName(p_.Peek(2)) && IsTypeWord(p_.Peek(3))));
        const bool as_column = (IsTypeWord(name) && !IsTypeWord(p_.Peek(2))) ||
                               (IsName(name) && IsTypeWord(p_.Peek(2)));
        is_keyword = with_keyword || !as_column;
        break;
      }
      case AlterClause::Kind::Drop:  // COLUMN c
        is_keyword = IsName(name);
        break;
    }
    if (is_keyword) p_.Next();
  }

  AlterClause ParseAlterClause() {
    AlterClause clause;
    const Token& kw = p_.Next();
    clause.offset = kw.offset;
    if (kw.Is("ADD")) {
      clause.kind = AlterClause::Kind::Add;
      AcceptColumnKeyword(clause.kind);
      clause.column = ExpectName("a column name");
      clause.type = ParseType();
    } else if (kw.Is("ALTER")) {
      clause.kind = AlterClause::Kind::Alter;
      AcceptColumnKeyword(clause.kind);
      clause.column = ExpectName("a column name");
      // The new name may be left out: ALTER COLUMN F char(20).
      const bool renamed = IsName(p_.Peek()) && !(IsTypeWord(p_.Peek()) && !IsTypeWord(p_.Peek(1)));
      clause.new_name = renamed ? p_.Next().text : clause.column;
      clause.type = ParseType();
    } else {
      clause.kind = AlterClause::Kind::Drop;
      AcceptColumnKeyword(clause.kind);
      clause.column = ExpectName("a column name");
    }
    return clause;
  }

  AlterTable ParseAlterTable() {
    p_.Next();  // ALTER
    p_.ExpectKeyword("TABLE");
    AlterTable st;
    st.table = ParseTable();
    if (!AtClauseStart()) {
      if (AtStatementEnd()) {
        p_.FailAt(p_.Peek().offset, "ALTER TABLE needs at least one ADD, ALTER or DROP clause");
      }
      p_.FailExpected("ADD, ALTER or DROP");
    }
    for (;;) {
      st.clauses.push_back(ParseAlterClause());
      if (p_.Accept(TokenKind::Comma)) {
        if (!AtClauseStart()) p_.FailExpected("ADD, ALTER or DROP");
        continue;
      }
      if (!AtClauseStart()) break;
      if (!LineBreakBefore(p_.Peek().offset)) {
        p_.FailAt(p_.Peek().offset,
                  "ALTER TABLE clauses must be separated by \",\" or a line break");
      }
    }
    return st;
  }

  // ---- CREATE / DROP -----------------------------------------------------

  StatementBody ParseCreate() {
    p_.Next();  // CREATE
    const bool unique = p_.AcceptKeyword("UNIQUE");
    if (p_.AcceptKeyword("INDEX")) return ParseCreateIndex(unique);
    if (unique) p_.FailExpected("INDEX");
    if (p_.AcceptKeyword("TABLE")) return ParseCreateTable();
    if (p_.AcceptKeyword("PROCEDURE")) return ParseCreateProcedure();
    p_.FailExpected("INDEX, TABLE or PROCEDURE");
  }

  CreateIndex ParseCreateIndex(bool unique) {
    CreateIndex st;
    st.unique = unique;
    st.name = ExpectName("an index name");
    p_.ExpectKeyword("ON");
    st.table = ParseTable();
    p_.Expect(TokenKind::LParen, "\"(\"");
    do {
      st.columns.push_back(ExpectName("a column name"));
    } while (p_.Accept(TokenKind::Comma));
    p_.Expect(TokenKind::RParen, "\")\"");
    return st;
  }

  CreateTable ParseCreateTable() {
    CreateTable st;
    st.table = ParseTable();
    p_.Expect(TokenKind::LParen, "\"(\"");
    do {
      ColumnDef col;
      col.name = ExpectName("a column name");
      col.type = ParseType();
      st.columns.push_back(std::move(col));
    } while (p_.Accept(TokenKind::Comma));
    p_.Expect(TokenKind::RParen, "\")\"");
    return st;
  }

  CreateProcedure ParseCreateProcedure() {
    CreateProcedure st;
    st.name = ExpectName("a procedure name");
    const size_t open = p_.Expect(TokenKind::LParen, "\"(\"").offset;
    // The parameter list is kept as text: everything up to the matching ")".
    int depth = 1;
    size_t close = 0;
    for (;;) {
      const Token& t = p_.Peek();
      if (t.kind == TokenKind::End) p_.FailExpected("\")\"");
      p_.Next();
      if (t.kind == TokenKind::LParen) {
        ++depth;
      } else if (t.kind == TokenKind::RParen && --depth == 0) {
        close = t.offset;
        break;
      }
    }
    st.params = std::string(Trim(text_.substr(open + 1, close - open - 1)));
    p_.ExpectKeyword("FUNCTION");
    st.function = ExpectName("a function name");
    p_.ExpectKeyword("IN");
    p_.ExpectKeyword("LIBRARY");
    const Token& lib = p_.Peek();
    if (lib.kind != TokenKind::QuotedName && lib.kind != TokenKind::String) {
      p_.FailExpected("a library path");
    }
    st.library = p_.Next().text;
    return st;
  }

  StatementBody ParseDrop() {
    p_.Next();  // DROP
    if (p_.AcceptKeyword("INDEX")) {
      DropIndex st;
      st.table = ParseTable();
      p_.Expect(TokenKind::Dot, "\".\"");
      st.name = ExpectName("an index name");
      return st;
    }
    if (p_.AcceptKeyword("TABLE")) {
      DropTable st;
      st.table = ParseTable();
      return st;
    }
    p_.FailExpected("INDEX or TABLE");
  }

  // ---- SELECT ------------------------------------------------------------

  SelectItem ParseSelectItem() {
    SelectItem item;
    if (p_.Accept(TokenKind::Star)) {
      item.star = true;
      return item;
    }
    if (IsName(p_.Peek()) && p_.Peek(1).kind == TokenKind::Dot &&
        p_.Peek(2).kind == TokenKind::Star) {
      item.star = true;
      item.star_qualifier = p_.Next().text;
      p_.Next();  // .
      p_.Next();  // *
      return item;
    }
    item.expr = p_.ParseExpression();
    if (p_.AcceptKeyword("AS")) {
      item.alias = ExpectName("an alias");
    } else if (p_.Peek().kind == TokenKind::QuotedName ||
               (p_.Peek().kind == TokenKind::Name && !p_.Peek().Is("FROM"))) {
      item.alias = p_.Next().text;
    }
    return item;
  }

  std::vector<expr::NodePtr> ParseExpressionList() {
    std::vector<expr::NodePtr> list;
    do {
      list.push_back(p_.ParseExpression());
    } while (p_.Accept(TokenKind::Comma));
    return list;
  }

  Select ParseSelect() {
    p_.Next();  // SELECT
    Select st;
    // DISTINCT is a column only where it stands alone: SELECT DISTINCT, X ...
    if (p_.Peek().Is("DISTINCT") && p_.Peek(1).kind != TokenKind::Comma && !p_.Peek(1).Is("FROM")) {
      p_.Next();
      st.distinct = true;
    }
    do {
      st.items.push_back(ParseSelectItem());
    } while (p_.Accept(TokenKind::Comma));
    p_.ExpectKeyword("FROM");
    st.from = ParseFromList();
    if (p_.AcceptKeyword("WHERE")) st.where = p_.ParseExpression();
    if (p_.AcceptKeyword("GROUP")) {
      p_.ExpectKeyword("BY");
      st.group_by = ParseExpressionList();
    }
    if (p_.AcceptKeyword("HAVING")) st.having = p_.ParseExpression();
    if (p_.AcceptKeyword("ORDER")) {
      p_.ExpectKeyword("BY");
      do {
        OrderItem item;
        item.expr = p_.ParseExpression();
        if (p_.AcceptKeyword("DESC")) {
          item.descending = true;
        } else {
          p_.AcceptKeyword("ASC");
        }
        st.order_by.push_back(std::move(item));
      } while (p_.Accept(TokenKind::Comma));
    }
    return st;
  }

  // ---- UPDATE / DELETE / INSERT -----------------------------------------

  Update ParseUpdate() {
    p_.Next();  // UPDATE
    Update st;
    st.table = ParseTable();
    p_.ExpectKeyword("SET");
    do {
      Assignment set;
      set.offset = p_.Peek().offset;
      set.column = ExpectName("a column name");
      p_.Expect(TokenKind::Eq, "\"=\"");
      set.value = p_.ParseExpression();
      st.sets.push_back(std::move(set));
    } while (p_.Accept(TokenKind::Comma));
    if (p_.AcceptKeyword("FROM")) st.from = ParseFromList();
    if (p_.AcceptKeyword("WHERE")) st.where = p_.ParseExpression();
    return st;
  }

  Delete ParseDelete() {
    p_.Next();  // DELETE
    p_.ExpectKeyword("FROM");
    Delete st;
    st.table = ParseTable();
    if (p_.AcceptKeyword("WHERE")) st.where = p_.ParseExpression();
    return st;
  }

  Insert ParseInsert() {
    p_.Next();  // INSERT
    p_.ExpectKeyword("INTO");
    Insert st;
    st.table = ParseTable();
    if (p_.Accept(TokenKind::LParen)) {
      do {
        st.columns.push_back(ExpectName("a column name"));
      } while (p_.Accept(TokenKind::Comma));
      p_.Expect(TokenKind::RParen, "\")\"");
    }
    if (p_.Peek().Is("SELECT")) {
      const size_t at = p_.Peek().offset;
      st.select = std::make_unique<Select>(ParseSelect());
      if (!st.columns.empty() && !SelectWidthFits(*st.select, st.columns.size())) {
        p_.FailAt(at, "Wrong number of columns in INSERT ... SELECT: " +
                          std::to_string(st.select->items.size()) + " instead of " +
                          std::to_string(st.columns.size()));
      }
      return st;
    }
    if (!p_.AcceptKeyword("VALUES")) p_.FailExpected("VALUES or SELECT");
    do {
      const size_t at = p_.Expect(TokenKind::LParen, "\"(\"").offset;
      std::vector<expr::NodePtr> row = ParseExpressionList();
      p_.Expect(TokenKind::RParen, "\")\"");
      const size_t want = st.columns.empty()
                              ? (st.rows.empty() ? row.size() : st.rows.front().size())
                              : st.columns.size();
      if (row.size() != want) {
        p_.FailAt(at, "Wrong number of values in INSERT row: " + std::to_string(row.size()) +
                          " instead of " + std::to_string(want));
      }
      st.rows.push_back(std::move(row));
    } while (p_.Accept(TokenKind::Comma));
    return st;
  }

  // A SELECT with "*" gives as many columns as its tables have; only a list
  // without stars can be counted here.
  static bool SelectWidthFits(const Select& select, size_t width) {
    for (const SelectItem& item : select.items) {
      if (item.star) return true;
    }
    return select.items.size() == width;
  }

  std::string_view text_;
  expr::Parser p_;
};

// The parser's own failures and those of the expression parser and
// tokenizer all arrive as "... at position N"; deep nesting has a number of
// its own, everything else is a syntax error.
uint32_t NativeFor(std::string_view message) {
  if (message.starts_with("Expression too deeply nested")) return kNativeTooComplex;
  return kNativeSyntaxError;
}

}  // namespace

std::string FormatSqlError(std::string_view message, uint32_t native) {
  std::string out = "Error " + std::to_string(DBE_SQL_ERROR) + ": ";
  out += message;
  if (message.empty() || message.back() != '.') out += '.';
  out += " NativeError = " + std::to_string(native) + ";";
  return out;
}

Statement ParseStatement(std::string_view text) {
  try {
    StatementParser parser(text);
    return parser.Parse();
  } catch (const Error& e) {
    if (e.code() != DBE_SQL_ERROR) throw;
    throw Error(DBE_SQL_ERROR, FormatSqlError(e.what(), NativeFor(e.what())));
  }
}

}  // namespace dbe::sql
