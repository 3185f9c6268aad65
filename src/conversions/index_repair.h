// Maintenance that every pass does for every company, with no option:
//
// - the income-tax tables of a free-table company are kept encrypted;
// - the indexes the current release expects are made where a table lacks
//   them (a dictionary-bound company instead gets the indexes of
//   TEMPPAYGROUP and RPTRX rebuilt inside its dictionary);
// - the dictionary's automatic creation of every table is switched off and
//   on again, so that the dictionary takes each table's structure afresh.
#ifndef KX8_CONVERSIONS_INDEX_REPAIR_H_
#define KX8_CONVERSIONS_INDEX_REPAIR_H_

#include <span>

#include "dbaccess/db_query.h"
#include "dbaccess/db_types.h"
#include "schema/context.h"

namespace kx8::conversions {

inline constexpr char kAutoCreateFailed[] = "Error in ";
inline constexpr char kAutoCreateFailedEnd[] = "Press any key to continue.";

// How a free-table company gives the administrator password to an entry.
enum class IndexPassword {
  None,               // nothing: the table is kept unencrypted
  Statement,          // the statement gets it as the table's password
  TableAndStatement,  // that, and the table is opened with it
};

// One index the release expects. With `statement` the index is made by
// that statement, otherwise added through the table as `index_name` with
// `options`. Rows with the same number belong to one entry: a failure stops
// the entry's later rows.
struct IndexEntry {
  int number;
  const char* table;
  const char* fields;  // the expected fields, joined by ";"
  const char* statement;
  const char* index_name;
  dbaccess::TIndexOptions options;
  IndexPassword password;
};

// Entries 1 to 24, in the order they are taken.
std::span<const IndexEntry> IndexEntries();

// IRDX8A, IR8AR, IR8AREC, IR8S and IRREFUND of a free-table company are
// encrypted with the administrator password when they are not yet; a
// dictionary-bound company is left to its dictionary. A missing table or a
// failed encryption goes on to the caller (the table is closed first).
void EncryptIncomeTaxTables(schema::UpgradeContext& ctx);

// Entries 1 to 3, then entries 4 to 24 on a free-table company or the
// dictionary rebuild of TEMPPAYGROUP and RPTRX on a dictionary-bound one.
// `query` is the repair's own query on the company connection. An entry
// that fails is passed over; entries 6 to 8 are skipped together when the
// password of entry 8 cannot be given. Only a failure to add the index of
// the dictionary rebuild goes on to the caller.
void RepairIndexes(schema::UpgradeContext& ctx, dbaccess::TDbQuery& query);

// Dictionary-bound companies: property 203 of every dictionary table is set
// to 0 and back to 1. The first failure is shown ("Error in " + table +
// "  " + text + "Press any key to continue.") and ends the walk; the table
// it hit gets its automatic creation back whatever failed. The company
// connection and the register row are restored after.
void ResetAutoCreate(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_INDEX_REPAIR_H_
