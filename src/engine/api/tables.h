// Opening and closing table handles, shared by the table functions and the
// SQL statements.
#ifndef KX8_ENGINE_API_TABLES_H_
#define KX8_ENGINE_API_TABLES_H_

#include <string>

#include "api/objects.h"

namespace dbe {

// The data file a table name stands for on a connection: relative names are
// taken in the connection's folder, ".KDT" is added to a name without an
// extension, and every component is matched without regard to case.
std::string TablePath(Connection* c, const std::string& name);
void CheckTableType(uint16_t type);
// Opens a registered table handle on the data file and puts it on the first row.
DBHANDLE OpenCursor(Connection* c, const std::string& path, uint32_t mode);
void CloseCursor(TableCursor* t);

}  // namespace dbe

#endif  // KX8_ENGINE_API_TABLES_H_
