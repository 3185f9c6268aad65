#include "conversions/fill_ins.h"

#include <exception>
#include <string>

#include "conversions/index_check.h"
#include "conversions/statements.h"
#include "support/credentials.h"

namespace kx8::conversions {
namespace {

bool FreeTableCompany(const schema::UpgradeContext& ctx) { return !ctx.company.IsDictionaryConnection(); }

}  // namespace

void FillYtdEmpl(schema::UpgradeContext& ctx) {
  ShowingFailure(ctx, kFillYtdEmplFailed, [&] {
    dbaccess::TDbQuery& q = ctx.work_query;
    q.Close();
    if (FreeTableCompany(ctx)) q.SetTablePassword("YTDEMPL", support::AdministratorPassword());
    q.SQL().Clear();
    q.SQL().Add(kFillYtdEmplSql);
    q.ExecSQL();
  });
}

void FillPHtrxBankAmount(schema::UpgradeContext& ctx) {
  dbaccess::TDbQuery& q = ctx.work_query;
  if (FreeTableCompany(ctx)) q.SetTablePassword("p_htrx", support::AdministratorPassword());
  RunStatement(q, kFillBankAmountSql);
}

void FillRbItem(schema::UpgradeContext& ctx) {
  ShowingFailure(ctx, "", [&] { RunStatement(ctx.work_query, kFillRbItemSql); });
}

void FillTrainingDepartment(schema::UpgradeContext& ctx) {
  ShowingFailure(ctx, "", [&] {
    RunStatement(ctx.work_query, kFillTrainingSql,
                 [](dbaccess::TDbQuery& q) { q.ParamByName("depart").SetAsString("NONE"); });
  });
}

void FillMedschClaimType(schema::UpgradeContext& ctx) {
  dbaccess::TDbTable& t = ctx.work_table;
  try {
    t.Close();
    t.SetTableName("MEDSCH");
    t.SetIndexFieldNames("");
    t.Open();
    for (t.First(); !t.Eof(); t.Next()) {
      if (!t.FieldByName("CLAIMTYPE").AsString().empty()) continue;
      t.Edit();
      t.FieldByName("CLAIMTYPE").SetAsString("0");
      t.Post();
    }
    t.Close();
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(t.TableName() + " " + e.what(), "");
    t.Close();
  }
}

void AddMedschIndex(schema::UpgradeContext& ctx, dbaccess::TDbQuery& index_query) {
  dbaccess::TDbTable& t = ctx.work_table;
  try {
    t.Close();
    t.SetTableName("MEDSCH");
    t.Open();
    const bool exists = IndexExists(t, kMedschIndexFields);
    t.Close();
    if (exists) return;
    index_query.Close();
    index_query.SQL().SetText(kMedschIndexSql);
    index_query.ExecSQL();
    index_query.CloseStatement();
  } catch (const std::exception&) {
    // The index only speeds up the claims module; a company whose MEDSCH
    // cannot take it (no such table, a name in use) goes on without it.
    t.Close();
  }
}

void QueryCleanup(dbaccess::TDbQuery& cleanup_query) {
  cleanup_query.SQL().SetText(kQueryCleanupSql);
  cleanup_query.ExecSQL();
  cleanup_query.CloseStatement();
}

}  // namespace kx8::conversions
