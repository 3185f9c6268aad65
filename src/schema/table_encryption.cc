#include "schema/table_encryption.h"

#include <exception>

#include "support/credentials.h"

namespace kx8::schema {
namespace {

// Steps name one table as "EMPLOYEE", "EMPLOYEE.kdt" or "employee".
std::string TableKey(const std::string& table) {
  std::string key = table;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (key.size() > 4 && key.compare(key.size() - 4, 4, ".KDT") == 0) key.resize(key.size() - 4);
  return key;
}

}  // namespace

void EncryptFreeTable(UpgradeContext& ctx, const std::string& table) {
  dbaccess::TDbTable& t = ctx.work_table;
  t.Close();
  t.SetIndexFieldNames("");
  t.SetTableName(table);
  t.SetExclusive(true);
  try {
    t.Open();
    if (!t.IsTableEncrypted()) {
      t.EnableEncryption(support::AdministratorPassword());
      t.EncryptTable();
    }
  } catch (...) {
    t.Close();
    throw;
  }
  t.Close();
}

void NoteDecryptedForChange(UpgradeContext& ctx, const std::string& table) {
  ctx.decrypted_for_change.insert(TableKey(table));
}

void NoteEncryptedAgain(UpgradeContext& ctx, const std::string& table) {
  ctx.decrypted_for_change.erase(TableKey(table));
}

void EncryptAgainAfterFailure(UpgradeContext& ctx) {
  const std::set<std::string> tables = std::move(ctx.decrypted_for_change);
  ctx.decrypted_for_change.clear();
  if (tables.empty() || ctx.company.IsDictionaryConnection()) return;
  for (const std::string& table : tables) {
    try {
      if (!ctx.company.IsConnected()) ctx.company.SetIsConnected(true);
      EncryptFreeTable(ctx, table);
    } catch (const std::exception& e) {
      // The error that ended the run is the one reported by the caller;
      // this one is shown so that the administrator knows the table is
      // stored in the clear.
      ctx.ui.MessageBox(std::string(e.what()) + " Table Name " + table + " could not be encrypted again.", "");
    }
  }
}

}  // namespace kx8::schema
