// Opening and closing table handles, shared by the table functions and the
// SQL statements.
#ifndef KX8_ENGINE_API_TABLES_H_
#define KX8_ENGINE_API_TABLES_H_

#include <string>

#include "api/objects.h"

namespace dbe {

// An open-mode bit of the engine's own: a missing index file reads as one
// without tags (CREATE INDEX builds the file again).
constexpr uint32_t kOpenIndexFileOptional = 0x100;

// The data file a table name stands for on a connection: relative names are
// taken in the connection's folder, ".KDT" is added to a name without an
// extension, and every component is matched without regard to case.
std::string TablePath(Connection* c, const std::string& name);
void CheckTableType(uint16_t type);
// Opens a registered table handle on the data file and puts it on the first row.
DBHANDLE OpenCursor(Connection* c, const std::string& path, uint32_t mode);
void CloseCursor(TableCursor* t);
// Opens a table by name on a connection of either kind: on a dictionary
// connection the dictionary's tables first (with its key and the user's
// rights when rights is DBE_RIGHTS_CHECK); a name it does not hold gives
// DBE_NOT_IN_DICTIONARY for table type 0, else the free table of that name.
DBHANDLE OpenTableOn(Connection* c, const std::string& name, uint16_t table_type, uint16_t rights, uint32_t mode);
// A stamp of the table in the data file kdt as its files are on disk (see
// DbGetTableStamp), 0 when none stands for it; held: the file of an open
// handle, which must be the one on disk.
uint64_t StampOfFiles(const std::string& kdt, const TableFile* held);
// Creates a table (added to the dictionary on a dictionary connection) and
// returns it open exclusively.
DBHANDLE CreateTableOn(Connection* c, const std::string& name, const std::string& fields);

}  // namespace dbe

#endif  // KX8_ENGINE_API_TABLES_H_
