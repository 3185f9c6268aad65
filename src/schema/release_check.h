// Checks a company database against the release's columns: the columns of
// the release's column list have their final type and width, and (on a
// dictionary company) every table file is listed in the dictionary. The run
// makes this check before it stamps the release version, and kx8db verify
// reports it.
//
// The column list is the release's column upgrade catalogue, flattened:
// one entry per column change, in catalogue order, with the run it belongs
// to. Which runs take place depends on options and on the version the
// company had before its upgrade, so each column is either
//   required      some entry that creates it belongs to a run that always
//                 takes place (1 to 5, 7, 8, 10, 11, 12 and 15): the column
//                 must be there whenever its table is;
//   when present  all other columns (those only created by runs 6, 9, 13
//                 and 14 or by the guarded groups of run 14, and those that
//                 the release only resizes): checked only when the table has
//                 them.
// A present column must be in a state that some combination of options
// and older versions leaves after one or two passes (see
// ColumnExpectations). Tables that the company does not have are not
// checked at all; entries on the table the window names ("Flow Table") are
// skipped, since their table is chosen at run time.
#ifndef KX8_SCHEMA_RELEASE_CHECK_H_
#define KX8_SCHEMA_RELEASE_CHECK_H_

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "dbaccess/db_types.h"

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "schema/table_shapes.h"

namespace kx8::schema {

// Groups inside a run that take place only under a further condition.
enum class ColumnGuard {
  None,
  CasualdFile,  // only when the company folder holds "CASUALD.KDT"
  FlowTable,    // only when the approval-flow option is ticked with a table named
};

struct ReleaseColumn {
  int run = 0;        // 1 to 15
  std::string table;  // as the catalogue writes it; "" for the window's Flow Table
  std::string column;
  std::string type_code;  // "C", "$", "D", "I", "L", "T", "Z", "+", "AS", "IC", ...
  int size = 0;
  ColumnGuard guard = ColumnGuard::None;
};

// The release's column list: the column upgrade catalogue as issued.
const std::vector<ReleaseColumn>& ReleaseColumns();

// The kinds of columns the type codes ask for.
enum class ColumnKind { Any, Character, Currency, Date, Integer, Logical, Time, Double, AutoInc, Blob, Other };
const char* KindName(ColumnKind kind);
// "char 12" for character columns, the kind's name for the others.
std::string FormName(ColumnKind kind, int width);
ColumnKind KindOfCode(const std::string& type_code);
ColumnKind KindOfField(dbaccess::TFieldType type);

struct ColumnExpectation {
  std::string table;
  std::string column;
  bool required = false;
  // The (kind, width) pairs a column may end with; width -1 is any width,
  // kind Any any kind.
  std::set<std::pair<ColumnKind, int>> accepted;
};

// One expectation per (table, column) of the list, in order of first
// appearance; names compared without regard to case.
std::vector<ColumnExpectation> ColumnExpectations(const std::vector<ReleaseColumn>& columns);

// The differences between the company in folder (root + "COMPANY\" + code;
// a company with a "<code>.kdd" file there is read through its dictionary)
// and the release's columns: one line per difference, none when the
// company's tables have the release's shape. Tables are opened read-only on
// a connection of the check's own. Raises when the folder cannot be read.
// Connects c as the administrator to the company in folder: through its
// dictionary when the folder holds "<code>.kdd", else to its free tables.
// Returns the folder without a trailing separator; raises when it does not
// exist.
std::string ConnectToCompany(dbaccess::TDbConnection& c, const std::string& folder);

// Logs d on to the dictionary kdd as the administrator, locally or through
// a server. Raises the engine's error when the dictionary refuses.
void LogOnToDictionary(dbaccess::TDbDictionary& d, const std::string& kdd);

// With `known`, a table whose fields the column upgrade primitive kept
// under the stamp its data file still has is checked from those fields
// without being opened (the run's check after its column runs).
std::vector<std::string> CheckReleaseColumns(const std::string& folder,
                                             const std::vector<ReleaseColumn>& columns = ReleaseColumns(),
                                             const TableShapes* known = nullptr);

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_RELEASE_CHECK_H_
