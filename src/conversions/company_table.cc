#include "conversions/company_table.h"

#include "support/credentials.h"

namespace kx8::conversions {

CompanyTable::CompanyTable(schema::UpgradeContext& ctx, const std::string& name, const std::string& order) {
  table_.SetDbConnection(&ctx.company);
  table_.DbTableOptions().SetDbRightsCheck(false);
  table_.SetTableName(name);
  table_.Open();
  // The order is chosen once the rows can be read.
  if (!ctx.company.IsDictionaryConnection()) table_.EnableEncryption(support::AdministratorPassword());
  table_.SetIndexFieldNames(order);
  table_.First();
}

}  // namespace kx8::conversions
