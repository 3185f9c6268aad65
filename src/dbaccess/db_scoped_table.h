// A connection and a table created in code for one piece of work, owned by
// the application. They are released in the order: close the table,
// disconnect, free the table, free the connection, also when the work fails.
#ifndef KX8_DBACCESS_DB_SCOPED_TABLE_H_
#define KX8_DBACCESS_DB_SCOPED_TABLE_H_

#include <memory>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"

namespace kx8::dbaccess {

class TDbScopedTable {
 public:
  // The table is attached to the connection.
  TDbScopedTable();
  ~TDbScopedTable();
  TDbScopedTable(const TDbScopedTable&) = delete;
  TDbScopedTable& operator=(const TDbScopedTable&) = delete;

  TDbConnection& Connection() { return *connection_; }
  TDbTable& Table() { return *table_; }

 private:
  std::unique_ptr<TDbConnection> connection_;
  std::unique_ptr<TDbTable> table_;
};

}  // namespace kx8::dbaccess

#endif  // KX8_DBACCESS_DB_SCOPED_TABLE_H_
