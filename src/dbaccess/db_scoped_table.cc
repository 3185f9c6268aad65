#include "dbaccess/db_scoped_table.h"

namespace kx8::dbaccess {

TDbScopedTable::TDbScopedTable() : connection_(new TDbConnection()), table_(new TDbTable()) {
  table_->SetDbConnection(connection_.get());
}

TDbScopedTable::~TDbScopedTable() {
  // Failures here cannot be raised; each step runs whatever the one before
  // it did.
  try {
    table_->Close();
  } catch (...) {
  }
  try {
    connection_->SetIsConnected(false);
  } catch (...) {
  }
  table_.reset();
  connection_.reset();
}

}  // namespace kx8::dbaccess
