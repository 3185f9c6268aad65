#include "conversions/column_removal.h"

#include "dbaccess/db_query.h"
#include "schema/release_check.h"

namespace kx8::conversions {

void RemoveColumn(schema::UpgradeContext& ctx, const std::string& table, const std::string& field) {
  ctx.Status("Updating file : " + table + " Field : " + field);
  try {
    ctx.work_table.Close();
    ctx.work_table.SetTableName(table + ".KDT");
    if (!ctx.work_table.TableExists()) return;
    ctx.work_table.Open();
    const dbaccess::TField* found = ctx.work_table.FindField(field);
    if (found == nullptr) {
      ctx.work_table.Close();
      return;
    }
    const schema::ColumnKind kind = schema::KindOfField(found->DataType());
    const std::string before =
        schema::FormName(kind, kind == schema::ColumnKind::Character ? found->DataSize() - 1 : 0);
    ctx.work_table.Close();
    dbaccess::TDbQuery query;
    query.SetDbConnection(&ctx.company);
    query.SQL().Add("ALTER TABLE \"" + table + ".KDT\" ");
    query.SQL().Add("DROP column \"" + field + "\"");
    query.ExecSQL();
    query.CloseStatement();
    ctx.work_table.Close();
    ctx.ColumnChanged({table, field, "removed", before, ""});
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(std::string(e.what()) + " Table Name " + ctx.edit1(), "");
  }
}

}  // namespace kx8::conversions
