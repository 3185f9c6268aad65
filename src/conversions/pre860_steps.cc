#include "conversions/pre860_steps.h"

#include <cmath>
#include <exception>
#include <string>
#include <string_view>

#include "conversions/statements.h"
#include "dbaccess/db_rewrite_deferral.h"
#include "dbaccess/db_table.h"
#include "schema/table_encryption.h"
#include "support/credentials.h"

namespace kx8::conversions {
namespace {

bool FreeTableCompany(const schema::UpgradeContext& ctx) { return !ctx.company.IsDictionaryConnection(); }

// Work on the opened work table; a failure closes it before it goes on to
// the caller, so that no exclusive hold outlives the step.
template <typename Body>
void OnWorkTable(dbaccess::TDbTable& t, Body body) {
  try {
    body();
  } catch (...) {
    t.Close();
    throw;
  }
  t.Close();
}

// Deletes a backup table file (with its index and memo companions) from the
// company's data folder. Changes still waiting for the table it backs up
// are written first: their rewrite makes the backup set that goes here.
// The connection is let go then so that no handle of this program holds
// the file; it is connected again at the end, also when there was nothing
// to delete, as every step leaves it.
void RemoveBackupTable(schema::UpgradeContext& ctx, const char* backup) {
  const std::string_view name(backup);
  dbaccess::TDbRewriteDeferral::ApplyTo(ctx.company, std::string(name.substr(0, name.find('.'))));
  dbaccess::TDbTable& t = ctx.work_table;
  ctx.company.SetIsConnected(false);
  t.Close();
  t.SetTableName(backup);
  if (t.TableExists()) t.DeleteTable();
  t.Close();
  if (!ctx.company.IsConnected()) ctx.company.SetIsConnected(true);
}

// The table of "EMP_PROS.kdt" opened in the work table, then the
// encryption change on a free-table company, then closed.
template <typename Change>
void ChangeEmpProsEncryption(schema::UpgradeContext& ctx, Change change) {
  dbaccess::TDbTable& t = ctx.work_table;
  t.Close();
  t.SetTableName("EMP_PROS.kdt");
  t.Open();
  OnWorkTable(t, [&] {
    if (FreeTableCompany(ctx)) {
      t.EnableEncryption(support::AdministratorPassword());
      change(t);
    }
  });
}

SalaryTotal ReadSalaryTotal(dbaccess::TDbQuery& q) {
  q.Close();
  q.SQL().SetText(kSalaryTotalSql);
  q.Open();
  const double total = q.FieldByName("NEW").AsCurrency();
  q.Close();
  q.UnPrepare();
  return static_cast<SalaryTotal>(std::llround(total * 10000.0));
}

// One fill-in statement on the work query. A failure is shown with the
// error's own text and does not reach the caller.
template <typename Ready>
void FillIn(schema::UpgradeContext& ctx, const char* sql, Ready ready) {
  ShowingFailure(ctx, "", [&] { RunStatement(ctx.work_query, sql, ready); });
}

}  // namespace

void RemoveEmpservBackup(schema::UpgradeContext& ctx) { RemoveBackupTable(ctx, kEmpservBackupTable); }

void DefaultPaypara2Type(schema::UpgradeContext& ctx) {
  dbaccess::TDbTable& t = ctx.work_table;
  t.Open();
  OnWorkTable(t, [&] {
    if (FreeTableCompany(ctx)) t.EnableEncryption(support::AdministratorPassword());
    for (t.First(); !t.Eof(); t.Next()) {
      if (!t.FieldByName("TYPE").AsString().empty()) continue;
      t.Edit();
      t.FieldByName("TYPE").SetAsString("COM");
      t.Post();
    }
  });
}

SalaryTotal TakeEmpProsSalaryTotal(schema::UpgradeContext& ctx, dbaccess::TDbQuery& salary_query) {
  const SalaryTotal total = ReadSalaryTotal(salary_query);
  ctx.work_table.Close();
  ctx.company.SetIsConnected(false);
  ChangeEmpProsEncryption(ctx, [&ctx](dbaccess::TDbTable& t) {
    t.DecryptTable();
    schema::NoteDecryptedForChange(ctx, "EMP_PROS");
  });
  return total;
}

void CheckEmpProsSalaryTotal(schema::UpgradeContext& ctx, dbaccess::TDbQuery& salary_query, SalaryTotal held) {
  ChangeEmpProsEncryption(ctx, [&ctx](dbaccess::TDbTable& t) {
    t.EncryptTable();
    schema::NoteEncryptedAgain(ctx, "EMP_PROS");
  });
  if (ReadSalaryTotal(salary_query) != held) ctx.ui.MessageBox(kSalaryTotalChanged, "");
  RemoveBackupTable(ctx, kEmpProsBackupTable);
}

void EmptyRpHtrx(schema::UpgradeContext& ctx) {
  dbaccess::TDbTable& t = ctx.work_table;
  t.Close();
  t.SetTableName("RP_HTRX.kdt");
  t.SetExclusive(true);
  t.Open();
  OnWorkTable(t, [&] {
    if (FreeTableCompany(ctx)) t.EnableEncryption(support::AdministratorPassword());
    t.EmptyTable();
  });
}

void FillCodeAndGradeColumns(schema::UpgradeContext& ctx) {
  auto nothing = [](dbaccess::TDbQuery&) {};
  FillIn(ctx, kFillMapFieldSql, nothing);
  FillIn(ctx, kFillLongDescSql, nothing);
  FillIn(ctx, kFillGradeSql, [&ctx](dbaccess::TDbQuery& q) {
    if (FreeTableCompany(ctx)) {
      q.SetStatementPassword(support::AdministratorPassword());
      q.SetTablePassword("EMP_PROS.KDT", support::AdministratorPassword());
    }
    q.ParamByName("grade").SetAsString("NONE");
  });
  ctx.company.SetIsConnected(false);
  ctx.company.SetIsConnected(true);
}

}  // namespace kx8::conversions
