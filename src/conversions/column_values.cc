#include "conversions/column_values.h"

#include "support/credentials.h"

namespace kx8::conversions {

std::vector<std::string> ColumnValues(schema::UpgradeContext& ctx, const char* sql, const char* encrypted_table) {
  dbaccess::TDbQuery& q = ctx.work_query;
  q.Close();
  q.SQL().Clear();
  q.SQL().Add(sql);
  if (encrypted_table != nullptr && !ctx.company.IsDictionaryConnection()) {
    q.SetStatementPassword(support::AdministratorPassword());
    q.SetTablePassword(encrypted_table, support::AdministratorPassword());
  }
  std::vector<std::string> values;
  q.Open();
  try {
    for (q.First(); !q.Eof(); q.Next()) values.push_back(q.Fields(0).AsString());
  } catch (...) {
    q.Close();
    throw;
  }
  q.Close();
  return values;
}

}  // namespace kx8::conversions
