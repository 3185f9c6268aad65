#include "register/company_register.h"

#include "dbaccess/db_scoped_table.h"
#include "platform/file_system.h"
#include "support/credentials.h"

namespace kx8::reg {
namespace {

const char kTableName[] = "mcompany.KDT";
const char kCreationFailed[] = "Table mcompany.KDT Could Not Be Created";
const char kCreationFailedCaption[] = "Table Creation Failure";

}  // namespace

void CreateCompanyRegister(const std::string& folder, bool overwrite, platform::UiServices& ui) {
  using namespace dbaccess;
  // Closed, disconnected and freed in that order when this scope ends,
  // also when a step below raises.
  TDbScopedTable scoped;
  TDbConnection& connection = scoped.Connection();
  TDbTable& table = scoped.Table();
  connection.SetConnectPath(folder);
  connection.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  table.SetTableName(kTableName);
  if (connection.IsDictionaryConnection()) {
    connection.SetPassword(support::AdministratorPassword());
    connection.SetUsername(support::AdministratorUser());
    connection.SetLoginPrompt(false);
  }
  table.SetExclusive(true);
  connection.SetIsConnected(true);
  table.SetTableType(ttDbKDT);
  if (!overwrite && table.TableExists()) return;

  std::string base = folder;
  if (base.empty() || base.back() != '\\') base += "\\";
  platform::DeleteFile(base + "mcompany.KDT");
  platform::DeleteFile(base + "mcompany.KDM");
  platform::DeleteFile(base + "mcompany.KDI");

  table.DbTableOptions().SetDbCharType(TDbCharTypes::ANSI);
  TFieldDefs& defs = table.FieldDefs();
  defs.Clear();
  defs.Add("COMPANY_CODE", ftString, 8);
  defs.Add("COMPANY_NAME", ftString, 40);
  defs.Add("TOTAL_STAFF", ftInteger);
  defs.Add("PAYROLL_ACCESS_NO", ftInteger);
  defs.Add("MERGE", ftString, 1);
  defs.Add("BACKUPDATE2", ftDate);
  defs.Add("BACKUPDATE", ftDate);
  try {
    table.CreateTable();
  } catch (...) {
    ui.MessageBox(kCreationFailed, kCreationFailedCaption);
    throw;
  }
  table.Open();
  table.AddIndex("PRIMARY", "COMPANY_CODE", {ixUnique, ixExpression});
}

void CreateRegister(const std::string& folder, bool overwrite, platform::UiServices& ui) {
  CreateCompanyRegister(folder, overwrite, ui);
}

}  // namespace kx8::reg
