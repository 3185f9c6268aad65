// The statement functions of dbe.h: statement handles, their settings,
// passwords and parameters, and running them.
#include <cstring>
#include <mutex>

#include "api/objects.h"
#include "api/run.h"
#include "api/tables.h"
#include "core/date.h"
#include "core/error.h"
#include "core/text.h"
#include "expr/lexer.h"
#include "sql/exec.h"
#include "sql/parser.h"
#include "storage/record_codec.h"

namespace dbe {

struct SqlStatement : Object {
  SqlStatement() : Object(DBE_HANDLE_STATEMENT) {}
  Connection* conn = nullptr;
  sql::ExecSettings settings;
  std::shared_ptr<sql::Statement> prepared;
  std::vector<Value> params;
  bool ran_since_prepare = false;
};

namespace {

SqlStatement* Stmt(DBHANDLE h) {
  auto* s = LookupAs<SqlStatement>(h, DBE_HANDLE_STATEMENT);
  if (s == nullptr) Fail(DBE_STATEMENT_GONE, "Error 5106: The SQL statement handle is not valid (already freed).");
  return s;
}

// The number (0-based) of a parameter given by name (with or without the
// colon, any case) or by DBE_FIELD_ORDINAL.
size_t ParamIndex(SqlStatement* s, const char* param) {
  if (!s->prepared) Fail(DBE_INVALID_ARGUMENT, "Error 5012: The statement has not been prepared.");
  const auto& names = s->prepared->params;
  auto raw = reinterpret_cast<uintptr_t>(param);
  if (raw != 0 && raw < 65536) {
    if (raw > names.size()) Fail(DBE_INVALID_ARGUMENT, "Error 5012: The statement has no parameter " + std::to_string(raw) + ".");
    return raw - 1;
  }
  std::string name = param == nullptr ? "" : param;
  if (!name.empty() && name[0] == ':') name.erase(0, 1);
  for (size_t i = 0; i < names.size(); ++i) {
    if (EqualsIgnoreCase(names[i], name)) return i;
  }
  Fail(DBE_INVALID_ARGUMENT, "Error 5012: The statement has no parameter named " + name + ".");
}

void SetParam(DBHANDLE h, const char* param, Value v) {
  SqlStatement* s = Stmt(h);
  size_t i = ParamIndex(s, param);
  if (s->params.size() < s->prepared->params.size()) s->params.resize(s->prepared->params.size());
  s->params[i] = std::move(v);
}

bool IsStatement(DBHANDLE h) {
  Object* o = Lookup(h);
  return o != nullptr && o->kind == DBE_HANDLE_STATEMENT;
}

}  // namespace

// A statement handle's settings and parameters; shared with dbe_api.cc's
// value setters, which serve both tables and statements.
bool SetStatementParam(DBHANDLE h, const char* param, const Value& v) {
  if (!IsStatement(h)) return false;
  SetParam(h, param, v);
  return true;
}

}  // namespace dbe

using namespace dbe;

extern "C" {

DBRESULT DbCreateSQLStatement(DBHANDLE connection, DBHANDLE* statement) {
  return Run([&] {
    if (statement == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No statement handle pointer was given.");
    *statement = 0;
    auto* c = LookupConnection(connection);
    if (c == nullptr) Fail(DBE_INVALID_HANDLE, "Error 5010: The handle is not a valid connection handle.");
    auto s = std::make_unique<SqlStatement>();
    s->conn = c;
    *statement = Register(std::move(s));
    c->statements.insert(*statement);
  });
}

DBRESULT DbCloseSQLStatement(DBHANDLE statement) {
  return Run([&] {
    SqlStatement* s = Stmt(statement);
    s->conn->statements.erase(statement);
    Unregister(statement);
  });
}

DBRESULT DbPrepareSQL(DBHANDLE statement, const char* text) {
  return Run([&] {
    SqlStatement* s = Stmt(statement);
    s->prepared.reset();
    s->ran_since_prepare = false;
    auto parsed = std::make_shared<sql::Statement>(sql::ParseStatement(text == nullptr ? "" : text));
    s->params.assign(parsed->params.size(), Value::Null());
    s->prepared = std::move(parsed);
  });
}

DBRESULT DbExecuteSQL(DBHANDLE statement, DBHANDLE* cursor) {
  return Run([&] {
    SqlStatement* s = Stmt(statement);
    if (cursor != nullptr) *cursor = 0;
    if (!s->prepared) Fail(DBE_SQL_STALE, "Error 7209: The statement must be prepared before it runs.");
    if (LookupConnection(s->conn->handle) != s->conn) {
      Fail(DBE_SQL_STALE, "Error 7209: The connection of the statement is gone.");
    }
    // A statement parsed once runs once per prepare: its expression trees
    // are bound to the tables of that run.
    if (s->ran_since_prepare) {
      s->prepared = std::make_shared<sql::Statement>(sql::ParseStatement(s->prepared->text));
    }
    s->ran_since_prepare = true;
    sql::ExecResult r = sql::Execute(s->prepared, s->conn, s->settings, s->params);
    if (r.cursor != 0) {
      if (cursor != nullptr) {
        *cursor = r.cursor;
      } else if (auto* t = LookupAs<TableCursor>(r.cursor, DBE_HANDLE_TABLE)) {
        CloseCursor(t);
      }
    }
  });
}

DBRESULT DbSqlPeekStatement(DBHANDLE cursor, uint16_t* live) {
  return Run([&] {
    auto* t = LookupAs<TableCursor>(cursor, DBE_HANDLE_TABLE);
    if (t == nullptr) Fail(DBE_INVALID_HANDLE, "Error 5010: The handle is not a valid cursor handle.");
    if (live == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No result pointer was given.");
    *live = t->statement_cursor() && t->live() ? 1 : 0;
  });
}

DBRESULT DbGetSQLStmtParams(const char* sql, char* names, uint32_t* len) {
  return Run([&] {
    if (len == nullptr) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No buffer length was given.");
    std::vector<std::string> found;
    std::string text = sql == nullptr ? "" : sql;
    // The text may still be incomplete: only its tokens are looked at.
    for (const expr::Token& t : expr::Tokenize(text, DBE_SQL_ERROR)) {
      if (t.kind != expr::TokenKind::Param || t.text.empty() || t.text == "?") continue;
      std::string name = t.text[0] == ':' ? t.text.substr(1) : t.text;
      bool seen = false;
      for (const std::string& f : found) seen = seen || EqualsIgnoreCase(f, name);
      if (!seen) found.push_back(name);
    }
    std::string joined;
    for (const std::string& f : found) joined += (joined.empty() ? "" : ";") + f;
    if (names == nullptr || *len <= joined.size()) {
      *len = static_cast<uint32_t>(joined.size() + 1);
      Fail(DBE_BUFFER_TOO_SMALL, "Error 5015: The buffer is too small for the parameter names.");
    }
    std::memcpy(names, joined.data(), joined.size());
    names[joined.size()] = '\0';
    *len = static_cast<uint32_t>(joined.size());
  });
}

DBRESULT DbStmtSetTableLockType(DBHANDLE statement, uint16_t lock_type) {
  return Run([&] { Stmt(statement); (void)lock_type; });
}

DBRESULT DbStmtSetTableCharType(DBHANDLE statement, uint16_t char_type) {
  return Run([&] { Stmt(statement); (void)char_type; });
}

DBRESULT DbStmtSetTableRights(DBHANDLE statement, uint16_t rights) {
  return Run([&] {
    SqlStatement* s = Stmt(statement);
    if (rights != DBE_RIGHTS_CHECK && rights != DBE_RIGHTS_IGNORE) {
      Fail(DBE_INVALID_ARGUMENT, "Error 5012: The rights setting is 1 (check) or 2 (ignore).");
    }
    s->settings.rights = rights;
  });
}

DBRESULT DbStmtSetTableReadOnly(DBHANDLE statement, uint16_t read_only) {
  return Run([&] {
    SqlStatement* s = Stmt(statement);
    if (read_only != 1 && read_only != 2) Fail(DBE_INVALID_ARGUMENT, "Error 5012: The read-only setting is 1 or 2.");
    s->settings.read_only = read_only;
  });
}

DBRESULT DbStmtSetTableType(DBHANDLE statement, uint16_t table_type) {
  return Run([&] {
    Stmt(statement);
    CheckTableType(table_type);
  });
}

DBRESULT DbStmtConstrainUpdates(DBHANDLE statement, uint16_t constrain) {
  return Run([&] { Stmt(statement); (void)constrain; });
}

DBRESULT DbStmtReadAllColumns(DBHANDLE statement, uint16_t read_all) {
  return Run([&] { Stmt(statement); (void)read_all; });
}

DBRESULT DbStmtEnableEncryption(DBHANDLE statement, const char* password) {
  return Run([&] {
    SqlStatement* s = Stmt(statement);
    s->settings.encryption = true;
    s->settings.password = password == nullptr ? "" : password;
  });
}

DBRESULT DbStmtSetTablePassword(DBHANDLE statement, const char* table, const char* password) {
  return Run([&] {
    SqlStatement* s = Stmt(statement);
    std::string name = Upper(Trim(table == nullptr ? "" : table));
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".KDT") == 0) name.resize(name.size() - 4);
    if (name.empty()) Fail(DBE_INVALID_ARGUMENT, "Error 5012: No table name was given.");
    s->settings.table_passwords[name] = password == nullptr ? "" : password;
  });
}

}  // extern "C"
