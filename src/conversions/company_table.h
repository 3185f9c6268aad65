// A company table that a conversion opens for itself on the company
// connection: rights are not checked (the run works as the administrator),
// and on a free-table company the table gets the administrator password
// once it is open, so that encrypted rows can be read and written. The
// table is closed when the object goes, also when the conversion fails.
#ifndef KX8_CONVERSIONS_COMPANY_TABLE_H_
#define KX8_CONVERSIONS_COMPANY_TABLE_H_

#include <string>

#include "dbaccess/db_table.h"
#include "schema/context.h"

namespace kx8::conversions {

class CompanyTable {
 public:
  // Opens `name` ordered by the ";"-separated `order` (none: record order).
  CompanyTable(schema::UpgradeContext& ctx, const std::string& name, const std::string& order = "");
  CompanyTable(const CompanyTable&) = delete;
  CompanyTable& operator=(const CompanyTable&) = delete;

  dbaccess::TDbTable& operator*() { return table_; }
  dbaccess::TDbTable* operator->() { return &table_; }
  std::string Text(const std::string& field) { return table_.FieldByName(field).AsString(); }

 private:
  dbaccess::TDbTable table_;
};

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_COMPANY_TABLE_H_
