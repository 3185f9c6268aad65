#include "schema/column_upgrade.h"

#include "dbaccess/db_errors.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "schema/detach_record.h"
#include "schema/release_check.h"
#include "schema/dictionary_rights.h"
#include "schema/table_encryption.h"
#include "support/credentials.h"

namespace kx8::schema {
namespace {

const std::uint16_t kAutoCreate = 203;
const std::uint16_t kEncryption = 214;
const char kQuote = '"';

struct AddTemplate {
  const char* code;
  const char* before;  // text before the column name
  const char* after;   // text after it; "(S)" marks the size
};

// Tried in this order; the first code that matches gives the clause.
const AddTemplate kAddClauses[] = {
    {"T", "ADD column ", " TIME "},     {"C", "add column ", " char(S)"},  {"Z", "add column ", " double "},
    {"$", "add column ", " curdouble "}, {"I", "add column ", " INTEGER "}, {"L", "add column ", " LOGICAL "},
    {"D", "add column ", " date "},     {"+", "add column ", " AutoInc "}, {"B", "add column ", " BLOB "},
    {"AI", "alter column ", nullptr},    {"IC", "alter column ", nullptr},
};

std::uint16_t GetFlag(dbaccess::TDbDictionary& d, const std::string& table, std::uint16_t property) {
  std::uint16_t v = 0, len = 2;
  d.GetTableProperty(table, property, &v, &len);
  return v;
}

void SetFlag(dbaccess::TDbDictionary& d, const std::string& table, std::uint16_t property, std::uint16_t value) {
  d.SetTableProperty(table, property, &value, 2, 0, "");
}

std::string DictionaryPath(UpgradeContext& ctx, const std::string& code) {
  return ctx.CompanyFolder(code) + "\\" + code + ".kdd";
}

std::string DictionaryError(const char* prefix, const std::string& table, const std::exception& e) {
  return prefix + table + "  " + e.what() + "Press any key to continue.";
}

// What the statement for code will do to the column (null: missing).
ColumnChange DescribeChange(const std::string& table, const std::string& column, const std::string& code,
                            const std::string& size, const FieldShape* field) {
  const ColumnKind kind = KindOfCode(code);
  const int width = kind == ColumnKind::Character ? std::stoi(size) : 0;
  ColumnChange c{table, column, "added", "", FormName(kind, width)};
  if (field == nullptr) return c;
  const ColumnKind old_kind = KindOfField(field->type);
  const int old_width = old_kind == ColumnKind::Character ? field->data_size - 1 : 0;
  c.before = FormName(old_kind, old_width);
  if (old_kind != kind) {
    c.change = "retyped";
  } else if (width != old_width) {
    c.change = width < old_width ? "narrowed" : "widened";
  } else {
    c.change = "replaced";  // an auto-increment NO or ID added again
  }
  return c;
}

struct Decision {
  bool change = false;
  std::optional<std::string> clause;  // none: the statement goes without one
};

// What the entry does to a table whose field is `field` (null: missing).
Decision Decide(const std::string& column, const std::string& code, const std::string& size,
                const FieldShape* field) {
  Decision d;
  if ((code == "AS" || code == "IC") && field != nullptr) {
    const bool right_form = field->type == dbaccess::ftString && field->data_size == std::stoi(size) + 1;
    if (!right_form) {
      d.clause = ChangeClause(code, column, size);
      d.change = true;
    }
  } else if (field == nullptr || ((column == "NO" || column == "ID") && field->type == dbaccess::ftAutoInc)) {
    d.clause = AddClause(code, column, size);
    d.change = true;
  }
  return d;
}

// True when the table's fields, known from an earlier entry and unchanged
// since by the engine's stamp of the table, show that the entry has nothing
// to do; the table is then not opened at all. The stamp stands for what the
// open it saves would go by: the data file and, on a dictionary company, the
// dictionary's entry of the table and the user's rights on it, so that an
// open that succeeded under the stamp would succeed again. On a free-table
// company an encrypted entry also needs the administrator password to have
// opened the table under that stamp, as the open it saves would check it.
bool KnownToNeedNothing(UpgradeContext& ctx, const std::string& table, const std::string& column,
                        const std::string& code, const std::string& size, bool encrypted) {
  if (ctx.table_shapes == nullptr) return false;
  std::uint64_t stamp = 0;
  try {
    stamp = ctx.work_table.FilesStamp();
  } catch (const dbaccess::EDbEngineError&) {
    // A dictionary that cannot be read gives no stamp: the open that follows
    // meets the same failure and reports it as an open failure is reported.
    return false;
  }
  const TableShapes::Shape* known = ctx.table_shapes->Find(table, stamp);
  const bool free_table = !ctx.company.IsDictionaryConnection();
  if (known == nullptr || (encrypted && free_table && !known->password_accepted)) return false;
  return !Decide(column, code, size, known->Find(column)).change;
}

}  // namespace

bool AlwaysEncryptedTable(const std::string& table) {
  return table == "EMPLOYEE" || table == "EMP_PROS" || table == "P_HTRX";
}

std::optional<std::string> AddClause(const std::string& code, const std::string& column, const std::string& size) {
  for (const AddTemplate& t : kAddClauses) {
    if (code != t.code) continue;
    if (code == "AI") return "alter column " + column + " " + column + " INTEGER ";
    if (code == "IC") return "alter column " + column + " " + kQuote + column + kQuote + " char(" + size + ")";
    std::string after = t.after;
    auto at = after.find("(S)");
    if (at != std::string::npos) after.replace(at, 3, "(" + size + ")");
    return t.before + column + after;
  }
  return std::nullopt;
}

std::string ChangeClause(const std::string& code, const std::string& column, const std::string& size) {
  (void)code;
  return std::string("alter column ") + kQuote + column + kQuote + " " + kQuote + column + kQuote + " char(" + size +
         ")";
}

void UpgradeColumn(UpgradeContext& ctx, const std::string& table, const std::string& column, const std::string& code,
                   const std::string& size, bool encrypted) {
  using namespace dbaccess;
  TDbTable& wt = ctx.work_table;
  TDbQuery& wq = ctx.work_query;
  bool e = encrypted;
  // 1.-2. Status, and the work datasets closed and pointed at the table.
  ctx.Status("Updating file : " + table + " Field : " + column);
  wq.SetIndexFieldNames("");
  wt.Close();
  wq.Close();
  wq.CloseStatement();
  wt.Close();
  ctx.ui.ProcessMessages();
  wt.SetIndexFieldNames("");
  wt.SetTableName(table);
  if (KnownToNeedNothing(ctx, table, column, code, size, e)) {
    wt.SetExclusive(true);
    return;
  }
  // 3. A table the company does not have is skipped quietly.
  if (!wt.TableExists() &&
      !platform::FileExists(ctx.CompanyFolder(ctx.CompanyCode()) + "\\" + table + ".KDT")) {
    return;
  }
  // 4. Open shared; a table that cannot be opened is reported and passed on.
  wt.SetExclusive(false);
  try {
    wt.Open();
  } catch (const std::exception& err) {
    ctx.ui.MessageBox(std::string(err.what()) + " Table Name " + ctx.edit1(), "");
    throw;
  }
  // 5.-11. Inside the guard.
  const bool free_table = !ctx.company.IsDictionaryConnection();
  // Set once this call has decrypted the free table, cleared once it is
  // encrypted again: a failure in between must not leave it in the clear.
  bool decrypted_here = false;
  try {
    if (e && free_table) wt.EnableEncryption(support::AdministratorPassword());
    // 7. Decide.
    std::optional<FieldShape> field;
    if (TField* f = wt.FindField(column)) field = FieldShape{f->DataType(), f->DataSize()};
    const ColumnChange made = DescribeChange(table, column, code, size, field ? &*field : nullptr);
    const Decision decision = Decide(column, code, size, field ? &*field : nullptr);
    const std::optional<std::string>& clause = decision.clause;
    if (ctx.table_shapes != nullptr) {
      if (decision.change) {
        ctx.table_shapes->Forget(table);
      } else {
        ctx.table_shapes->Keep(table, wt, e && free_table);
      }
    }
    if (decision.change) {
      // 8. Prepare: the table exclusively, decrypted on a free-table company.
      wt.Close();
      wt.SetExclusive(true);
      wt.Open();
      // A free table stored encrypted is taken out of encryption for the
      // change and encrypted again after it, whatever the entry's flag says:
      // otherwise the statement could never read it and the column would
      // stay missing on every pass.
      if (!e && free_table && wt.IsTableEncrypted()) e = true;
      if (e && free_table) {
        wt.EnableEncryption(support::AdministratorPassword());
        wt.DecryptTable();
        decrypted_here = true;
      }
      wt.Close();
      wq.SQL().Clear();
      wq.SQL().Add(std::string("ALTER TABLE ") + kQuote + table + ".KDT" + kQuote);
      if (clause) wq.SQL().Add(*clause);
      // 9. Run. On a dictionary-bound company the table is always put back
      // and the connection restored, also when the statement fails; the
      // failure is then reported like any other.
      const bool bound = ctx.DictionaryBound();
      if (bound) {
        if (AlwaysEncryptedTable(table)) e = true;
        DetachTable(ctx, table, e);
      }
      std::exception_ptr failure;
      try {
        wq.ExecSQL();
        wq.CloseStatement();
      } catch (...) {
        failure = std::current_exception();
        wq.Close();
        try {
          wq.CloseStatement();
        } catch (...) {
        }
      }
      if (bound) {
        AttachTable(ctx, table, e);
        if (AlwaysEncryptedTable(table)) e = false;
      }
      if (failure) std::rethrow_exception(failure);
      if (clause) ctx.ColumnChanged(made);
      if (e) {
        wt.Close();
        wt.SetExclusive(true);
        wt.Open();
        wt.PackTable();
        if (!ctx.company.IsDictionaryConnection()) {
          wt.EnableEncryption(support::AdministratorPassword());
          wt.EncryptTable();
          decrypted_here = false;
        }
        wt.Close();
      }
      wt.Close();
    }
  } catch (const std::exception& err) {
    // The table goes back to encryption before the failure is shown, so
    // that the message never stands for a table left in the clear.
    std::string not_encrypted;
    if (decrypted_here) {
      try {
        wt.Close();
        if (!ctx.company.IsConnected()) ctx.company.SetIsConnected(true);
        EncryptFreeTable(ctx, table);
      } catch (const std::exception& again) {
        not_encrypted = std::string("\r\n") + again.what() + " Table Name " + table + " could not be encrypted again.";
      }
    }
    ctx.ui.MessageBox(std::string(err.what()) + " Table Name " + wt.TableName() + "\r\n" + " SQL " + wq.SQL().Text() +
                          not_encrypted,
                      "");
  }
  // 11.
  wt.Close();
  wt.SetExclusive(true);
}

bool DetachTable(UpgradeContext& ctx, const std::string& table, bool encrypted) {
  (void)encrypted;
  bool was_encrypted = false;
  std::string code = ctx.CompanyCode();
  try {
    ctx.company.SetIsConnected(false);
    ctx.dictionary.SetIsConnected(false);
    code = ctx.CompanyCode();
    ctx.dictionary.SetConnectPath(ctx.company.ConnectPath());
    ctx.dictionary.SetIsConnected(true);
    // A table still listed under its file name ("PAYPARA.KDT", as older
    // releases registered tables) is taken out under that name; AttachTable
    // then registers it under the table name, as the name normalisation
    // would later. Otherwise the change could not reach the file, and
    // putting the table back would clash with its old registration.
    std::string registered = table;
    if (!TableInDictionary(ctx, table) && TableInDictionary(ctx, table + ".KDT")) registered = table + ".KDT";
    if (TableInDictionary(ctx, registered)) {
      // What puts the table back is on disk before it leaves: a process
      // that dies before AttachTable would otherwise leave it out for good.
      RecordTableBeforeDetach(ctx.dictionary, ctx.CompanyFolder(code), registered, table, encrypted);
      was_encrypted = GetFlag(ctx.dictionary, registered, kEncryption) == 1;
      if (was_encrypted) SetFlag(ctx.dictionary, registered, kEncryption, 0);
      ctx.dictionary.RemoveTable(registered, false);
    }
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(DictionaryError("<#100> Error in ", table, e), "");
  }
  ctx.dictionary.SetIsConnected(false);
  ctx.company.SetIsConnected(false);
  ctx.company.SetConnectPath(ctx.CompanyFolder(code));
  ctx.dictionary.SetIsConnected(false);
  ctx.company.SetIsConnected(true);
  ctx.SeekCompany(code);
  return was_encrypted;
}

void AttachTable(UpgradeContext& ctx, const std::string& table, bool encrypted) {
  std::string code = ctx.CompanyCode();
  const bool bound = ctx.DictionaryBound();
  try {
    ctx.company.SetIsConnected(false);
    ctx.dictionary.SetIsConnected(false);
    if (bound) ctx.company.SetConnectPath(DictionaryPath(ctx, code));
    code = ctx.CompanyCode();
    ctx.dictionary.SetConnectPath(ctx.company.ConnectPath());
    ctx.dictionary.SetIsConnected(true);
    if (!TableInDictionary(ctx, table)) {
      ctx.work_table.SetTableName(table);
      ctx.dictionary.AddTable(table, table + ".KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
      ctx.company.SetIsConnected(false);
      ctx.dictionary.SetIsConnected(true);
      if (encrypted && GetFlag(ctx.dictionary, table, kEncryption) == 0) SetFlag(ctx.dictionary, table, kEncryption, 1);
      SetFlag(ctx.dictionary, table, kAutoCreate, 1);
      // On the dictionary connected here: the connections are set right
      // below, once, whatever happened.
      GrantTableRights(ctx, table, false);
    }
    // Back in the dictionary: the record of it is done with once the
    // dictionary's file lists it (its changes may wait in memory). (Should
    // putting it back have failed, the record stays and the next connect of
    // the company puts it back.)
    ctx.dictionary.SaveTableListing(table);
    ForgetDetachedTable(ctx.CompanyFolder(code), table);
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(DictionaryError("<#100> Error in ", table, e), "");
  }
  ctx.dictionary.SetIsConnected(false);
  ctx.company.SetIsConnected(false);
  if (bound) ctx.company.SetConnectPath(DictionaryPath(ctx, code));
  ctx.dictionary.SetIsConnected(false);
  ctx.company.SetIsConnected(true);
  ctx.SeekCompany(code);
}

void DecryptDictionaryTable(UpgradeContext& ctx, const std::string& table) {
  if (ctx.work_table.DbConnection() == nullptr || !ctx.work_table.DbConnection()->IsDictionaryConnection()) return;
  const std::string code = ctx.CompanyCode();
  try {
    ctx.company.SetIsConnected(false);
    ctx.dictionary.SetIsConnected(false);
    ctx.dictionary.SetConnectPath(ctx.company.ConnectPath());
    ctx.dictionary.SetIsConnected(true);
    if (TableInDictionary(ctx, table) && GetFlag(ctx.dictionary, table, kEncryption) == 1) {
      SetFlag(ctx.dictionary, table, kEncryption, 0);
    }
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(DictionaryError("Error in ", table, e), "");
  }
  ctx.dictionary.SetIsConnected(false);
  ctx.company.SetIsConnected(true);
  ctx.SeekCompany(code);
}

void EnsureDictionaryTable(UpgradeContext& ctx, const std::string& table, bool encrypted) {
  const std::string code = ctx.CompanyCode();
  auto add_and_grant = [&] {
    ctx.work_table.SetTableName(table);
    ctx.dictionary.AddTable(table, table + ".KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
    ctx.company.SetIsConnected(false);
    ctx.dictionary.SetIsConnected(true);
    if (encrypted) SetFlag(ctx.dictionary, table, kEncryption, 1);
    SetFlag(ctx.dictionary, table, kAutoCreate, 1);
    GrantTableRights(ctx, table, true);
  };
  try {
    ctx.company.SetIsConnected(false);
    ctx.dictionary.SetIsConnected(false);
    ctx.dictionary.SetConnectPath(ctx.company.ConnectPath());
    ctx.dictionary.SetIsConnected(true);
    if (TableInDictionary(ctx, table)) {
      std::uint16_t enc = GetFlag(ctx.dictionary, table, kEncryption);
      std::uint16_t auto_create = GetFlag(ctx.dictionary, table, kAutoCreate);
      if (enc == 0 || auto_create == 0) {
        SetFlag(ctx.dictionary, table, kAutoCreate, 0);
        ctx.dictionary.RemoveTable(table, false);
        ctx.dictionary.AddTable(table, table + ".KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
        ctx.dictionary.SetIsConnected(false);
        ctx.work_table.SetTableName(table);
        ctx.company.SetIsConnected(false);
        ctx.dictionary.SetIsConnected(true);
        if (encrypted) SetFlag(ctx.dictionary, table, kEncryption, 1);
        SetFlag(ctx.dictionary, table, kAutoCreate, 1);
        GrantTableRights(ctx, table, true);
      }
    } else {
      add_and_grant();
    }
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(DictionaryError("Error in ", table, e), "");
  }
  ctx.dictionary.SetIsConnected(false);
  ctx.company.SetIsConnected(true);
  ctx.SeekCompany(code);
}

}  // namespace kx8::schema
