#include "tools/inspect.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dataset.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_query.h"
#include "dbaccess/db_table.h"
#include "platform/path.h"
#include "schema/detach_record.h"
#include "support/credentials.h"
#include "support/helpers.h"

namespace kx8::tools {

using namespace kx8::dbaccess;

namespace {

constexpr char kEol[] = "\r\n";

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && platform::SameNameIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// A table path split into the folder the connection opens and the table's
// file name.
struct TableLocation {
  std::string folder;
  std::string file;
};

TableLocation Locate(const std::string& path) {
  std::string folder = platform::ParentFolder(path);
  std::string file = platform::FileNamePart(path);
  if (file.empty()) throw std::runtime_error("No table named in " + path + ".");
  return {folder.empty() ? "." : folder, file};
}

void ConnectTo(TDbConnection& c, const std::string& path, const std::string& user, const std::string& password) {
  if (EndsWithNoCase(path, ".kdd")) PutBackDetachedTables(path);
  c.SetConnectPath(path);
  c.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  c.SetLoginPrompt(false);
  c.SetUsername(user.empty() ? support::AdministratorUser() : user);
  c.SetPassword(user.empty() && password.empty() ? support::AdministratorPassword() : password);
  c.SetIsConnected(true);
}

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string DateOf(double day_number) {
  support::CalendarDate d = support::DecodeDate(day_number);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", static_cast<int>(d.year), d.month, d.day);
  return buf;
}

std::string TimeOf(double day_number) {
  double fraction = day_number - std::floor(day_number);
  auto seconds = static_cast<long>(std::llround(fraction * 86400.0));
  if (seconds >= 86400) seconds = 86399;
  return TwoDigits(static_cast<int>(seconds / 3600)) + ":" + TwoDigits(static_cast<int>(seconds / 60 % 60)) + ":" +
         TwoDigits(static_cast<int>(seconds % 60));
}

std::string ShortestNumber(double v) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec != std::errc{}) return std::to_string(v);
  return std::string(buf, end);
}

std::string MoneyText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4f", v);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

}  // namespace

// The first row is read before anything is written, so that a table that
// cannot be read gives its error and no output.
void WriteCsv(TDbDataSet& ds, std::ostream& out) {
  ds.First();
  if (!ds.Eof() && ds.FieldCount() > 0) FieldText(ds.Fields(0));
  for (int i = 0; i < ds.FieldCount(); ++i) out << (i > 0 ? "," : "") << CsvQuote(ds.Fields(i).FieldName());
  out << kEol;
  for (; !ds.Eof(); ds.Next()) {
    for (int i = 0; i < ds.FieldCount(); ++i) out << (i > 0 ? "," : "") << CsvQuote(FieldText(ds.Fields(i)));
    out << kEol;
  }
}

namespace {

std::string OptionsText(TIndexOptions options) {
  std::string text;
  if (options.Contains(ixUnique)) text = "UNIQUE";
  if (options.Contains(ixDescending)) text += text.empty() ? "DESCENDING" : ",DESCENDING";
  return text;
}

// --- statements -----------------------------------------------------------------

// The words and the positions of the top-level keywords of a statement,
// outside quotes, brackets and parentheses.
struct StatementShape {
  std::string verb;                             // first word, upper case
  std::string table;                            // the table it changes
  std::optional<std::size_t> set, from, where;  // positions of SET, FROM, WHERE
};

std::string UpperAscii(std::string_view s) {
  std::string u(s);
  for (char& c : u) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return u;
}

bool IsWordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '#' ||
         c == '$' || c == '%';
}

struct Word {
  std::string text;  // as written, quotes included
  std::size_t at;
  int depth;
};

std::vector<Word> Words(std::string_view sql) {
  std::vector<Word> words;
  int depth = 0;
  std::size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '[') {
      char close = c == '[' ? ']' : c;
      std::size_t end = i + 1;
      while (end < sql.size() && sql[end] != close) ++end;
      words.push_back({std::string(sql.substr(i, end + 1 - i)), i, depth});
      i = end + 1;
    } else if (c == '(') {
      ++depth;
      ++i;
    } else if (c == ')') {
      --depth;
      ++i;
    } else if (IsWordChar(c) || c == '.') {
      std::size_t end = i;
      while (end < sql.size() && (IsWordChar(sql[end]) || sql[end] == '.')) ++end;
      words.push_back({std::string(sql.substr(i, end - i)), i, depth});
      i = end;
    } else {
      ++i;
    }
  }
  return words;
}

StatementShape ShapeOf(std::string_view sql) {
  StatementShape shape;
  std::vector<Word> words = Words(sql);
  if (words.empty()) return shape;
  shape.verb = UpperAscii(words[0].text);
  std::size_t table_word = 1;
  if ((shape.verb == "DELETE" || shape.verb == "INSERT") && words.size() > 1) {
    std::string second = UpperAscii(words[1].text);
    if (second == "FROM" || second == "INTO") table_word = 2;
  }
  if (table_word < words.size()) shape.table = words[table_word].text;
  for (std::size_t k = table_word + 1; k < words.size(); ++k) {
    if (words[k].depth != 0) continue;
    std::string w = UpperAscii(words[k].text);
    if (w == "SET" && !shape.set) shape.set = words[k].at;
    if (w == "FROM" && !shape.from) shape.from = words[k].at;
    if (w == "WHERE" && !shape.where) shape.where = words[k].at;
  }
  return shape;
}

class Statement {
 public:
  Statement(TDbConnection& c, const std::string& password) {
    query_.SetDbConnection(&c);
    if (!password.empty() && !c.IsDictionaryConnection()) query_.SetStatementPassword(password);
  }
  ~Statement() {
    try {
      query_.Close();
    } catch (...) {
      // Released on the way out of a failure the caller reports.
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  TDbQuery& Query(const std::string& sql) {
    query_.Close();
    query_.SQL().SetText(sql);
    return query_;
  }

  std::int64_t Count(const std::string& sql) {
    TDbQuery& q = Query(sql);
    q.Open();
    q.First();
    std::int64_t n = q.Eof() ? 0 : q.Fields(0).AsInteger();
    q.Close();
    return n;
  }

 private:
  TDbQuery query_;
};

std::int64_t RowsChangedBy(Statement& st, const std::string& sql, const StatementShape& shape,
                           const std::function<void()>& run) {
  const std::string count = "SELECT COUNT(*) AS N FROM " + shape.table;
  if (shape.verb == "INSERT") {
    std::int64_t before = st.Count(count);
    run();
    return st.Count(count) - before;
  }
  std::string rest;
  if (shape.verb == "UPDATE" && shape.from) {
    // UPDATE t SET ... FROM u WHERE ...: the rows of t joined with u.
    std::size_t from_end = shape.where ? *shape.where : sql.size();
    rest = ", " + sql.substr(*shape.from + 4, from_end - *shape.from - 4);
  }
  if (shape.where) rest += " " + sql.substr(*shape.where);
  std::int64_t n = st.Count(count + rest);
  run();
  return n;
}

// Opens the free table at a path read-only, on a connection to its folder.
void OpenReadOnly(const std::string& table_path, TDbConnection& c, TDbTable& t) {
  TableLocation where = Locate(table_path);
  ConnectTo(c, where.folder, "", "");
  t.SetDbConnection(&c);
  t.SetTableName(where.file);
  t.SetReadOnly(true);
  t.Open();
}

}  // namespace

void WriteStructure(TDbTable& t, std::ostream& out) {
  for (int i = 0; i < t.FieldCount(); ++i) {
    const TField& f = t.Fields(i);
    int type = EngineTypeNumber(f);
    int length = type == 4 || type == 16 ? f.Size() : type == 2 ? f.DataSize() : 0;
    int decimals = type == 18 ? 4 : 0;
    out << "FIELD\t" << f.FieldName() << '\t' << type << '\t' << length << '\t' << decimals << '\n';
  }
  for (const TIndexDef& ix : t.IndexDefs().Items()) {
    out << "INDEX\t" << ix.Name << '\t' << ix.Expression << '\t' << OptionsText(ix.Options) << '\n';
  }
}


std::string CsvQuote(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string q = "\"";
  for (char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string FieldText(const TField& f) {
  if (f.IsNull()) return "";
  switch (f.DataType()) {
    case ftBoolean:
      return f.AsBoolean() ? "T" : "F";
    case ftDate:
      return DateOf(f.AsDateTime());
    case ftTime:
      return TimeOf(f.AsDateTime());
    case ftDateTime:
      return DateOf(f.AsDateTime()) + " " + TimeOf(f.AsDateTime());
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return std::to_string(f.AsInteger());
    case ftFloat:
    case ftCurrency:
      return ShortestNumber(f.AsFloat());
    case ftBCD:
      return MoneyText(f.AsCurrency());
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
      return Hex(f.AsString());
    default:
      return f.AsString();
  }
}

int EngineTypeNumber(const TField& f) {
  switch (f.DataType()) {
    case ftBoolean:
      return 1;
    case ftDate:
      return 3;
    case ftString:
      return 4;
    case ftMemo:
    case ftFmtMemo:
      return 5;
    case ftBlob:
    case ftTypedBinary:
    case ftVarBytes:
      return 6;
    case ftGraphic:
      return 7;
    case ftFloat:
      return f.DataSize() == 8 ? 10 : 2;
    case ftInteger:
      return 11;
    case ftSmallint:
      return f.DataSize() == 2 ? 12 : 2;
    case ftTime:
      return 13;
    case ftDateTime:
      return 14;
    case ftAutoInc:
      return 15;
    case ftBytes:
      return 16;
    case ftCurrency:
      return 17;
    case ftBCD:
      return f.Size() == 4 ? 18 : 21;
    default:
      return 0;
  }
}

void DumpTable(const std::string& table_path, const std::string& password, std::ostream& out) {
  TDbConnection c;
  TDbTable t;
  OpenReadOnly(table_path, c, t);
  if (!password.empty()) t.EnableEncryption(password);
  WriteCsv(t, out);
  t.Close();
}

void DescribeTable(const std::string& table_path, std::ostream& out) {
  TDbConnection c;
  TDbTable t;
  OpenReadOnly(table_path, c, t);
  WriteStructure(t, out);
}

void DescribeDictionaryTable(const std::string& kdd_path, const std::string& table, const std::string& user,
                             const std::string& password, std::ostream& out) {
  TDbConnection c;
  ConnectTo(c, kdd_path, user, password);
  TDbTable t;
  t.SetDbConnection(&c);
  t.SetTableName(table);
  t.SetReadOnly(true);
  t.Open();
  WriteStructure(t, out);
}


void PutBackDetachedTables(const std::string& kdd_path) {
  for (const std::string& table : schema::RestoreDetachedTables(kdd_path)) {
    std::cerr << "kx8db: " << table << " put back into its dictionary after an interrupted change\n";
  }
}

void DescribeDictionary(const std::string& kdd_path, const std::string& user, const std::string& password,
                        std::ostream& out) {
  PutBackDetachedTables(kdd_path);
  TDbDictionary d;
  d.SetConnectPath(kdd_path);
  d.SetUserName(user.empty() ? support::AdministratorUser() : user);
  d.SetPassword(user.empty() && password.empty() ? support::AdministratorPassword() : password);
  d.SetLoginPrompt(false);
  d.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  d.SetIsConnected(true);
  // Everything is read before anything is written, so that a dictionary
  // that cannot be read gives its error and no output.
  std::ostringstream text;
  std::vector<std::string> tables;
  d.GetTableNames(tables);
  for (const std::string& name : tables) {
    std::uint16_t values[2] = {0, 0};
    const std::uint16_t properties[2] = {203, 214};  // automatic creation, encryption
    for (int k = 0; k < 2; ++k) {
      std::uint16_t len = sizeof values[k];
      d.GetTableProperty(name, properties[k], &values[k], &len);
    }
    text << "TABLE\t" << name << '\t' << d.GetTableFileName(name) << '\t' << values[0] << '\t' << values[1] << '\n';
  }
  std::vector<std::string> users;
  d.GetUserNames(users);
  for (const std::string& u : users) text << "USER\t" << u << '\n';
  for (const std::string& table : tables) {
    for (const std::string& u : users) {
      std::string letters = d.GetObjectAccessRights(table, u);
      if (!letters.empty()) text << "RIGHT\t" << table << '\t' << u << '\t' << letters << '\n';
    }
  }
  d.SetIsConnected(false);
  out << text.str();
}

void RunStatement(const std::string& path, const std::string& statement, const std::string& user,
                  const std::string& password, std::ostream& out) {
  TDbConnection c;
  bool dictionary = EndsWithNoCase(path, ".kdd");
  if (dictionary) {
    ConnectTo(c, path, user, password);
  } else {
    ConnectTo(c, path, "", "");
  }
  Statement st(c, dictionary ? "" : password);
  StatementShape shape = ShapeOf(statement);
  if (shape.verb == "SELECT") {
    TDbQuery& q = st.Query(statement);
    q.Open();
    WriteCsv(q, out);
    q.Close();
    return;
  }
  auto run = [&] {
    TDbQuery& q = st.Query(statement);
    q.ExecSQL();
  };
  std::int64_t rows = 0;
  if ((shape.verb == "INSERT" || shape.verb == "UPDATE" || shape.verb == "DELETE") && !shape.table.empty()) {
    rows = RowsChangedBy(st, statement, shape, run);
  } else {
    run();
  }
  out << rows << " rows affected" << kEol;
}

}  // namespace kx8::tools
