#include "conversions/column_removal.h"

#include "dbaccess/db_query.h"

namespace kx8::conversions {

void RemoveColumn(schema::UpgradeContext& ctx, const std::string& table, const std::string& field) {
  ctx.Status("Updating file : " + table + " Field : " + field);
  try {
    ctx.work_table.Close();
    ctx.work_table.SetTableName(table + ".KDT");
    if (!ctx.work_table.TableExists()) return;
    ctx.work_table.Open();
    bool has = ctx.work_table.FindField(field) != nullptr;
    ctx.work_table.Close();
    if (!has) return;
    dbaccess::TDbQuery query;
    query.SetDbConnection(&ctx.company);
    query.SQL().Add("ALTER TABLE \"" + table + ".KDT\" ");
    query.SQL().Add("DROP column \"" + field + "\"");
    query.ExecSQL();
    query.CloseStatement();
    ctx.work_table.Close();
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(std::string(e.what()) + " Table Name " + ctx.edit1(), "");
  }
}

}  // namespace kx8::conversions
