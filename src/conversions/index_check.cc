#include "conversions/index_check.h"

namespace kx8::conversions {

bool IndexExists(dbaccess::TDbTable& table, const std::string& fields) {
  table.RefreshIndexDefs();
  for (const dbaccess::TIndexDef& def : table.IndexDefs().Items()) {
    if (def.Fields == fields) return true;
  }
  return false;
}

}  // namespace kx8::conversions
