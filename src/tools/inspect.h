// Looking inside company databases without the payroll application: table
// rows as CSV, table and dictionary structures, and SQL statements.
//
// Every operation raises the access layer's error (its text is the
// engine's) or std::runtime_error; the command line prints the text.
#ifndef KX8_TOOLS_INSPECT_H_
#define KX8_TOOLS_INSPECT_H_

#include <ostream>
#include <string>
#include <string_view>

#include "dbaccess/db_field.h"
#include "dbaccess/db_table.h"

namespace kx8::tools {

// The rows of a table (a path by the platform's path rules, with or
// without ".KDT") as RFC 4180 CSV: a header line of the field names, then
// one line per row, lines ended by CR LF. Empty values are empty; dates
// are YYYY-MM-DD, times HH:MM:SS, timestamps "YYYY-MM-DD HH:MM:SS",
// logical values T or F, money with up to four decimals, other numbers in
// their shortest exact form, binary values as hexadecimal digits. An
// encrypted table is read with the password; without it reading fails with
// the engine's error.
// Puts back into the dictionary any table that an interrupted upgrade left
// outside it (see schema/detach_record.h), naming each on standard error.
// Every command that connects to a dictionary calls it first.
void PutBackDetachedTables(const std::string& kdd_path);

void DumpTable(const std::string& table_path, const std::string& password, std::ostream& out);

// Tab-separated lines "FIELD name type length decimals" (type the engine's
// type number) and then "INDEX name key options" (options: UNIQUE and
// DESCENDING joined by ",", empty for neither).
void DescribeTable(const std::string& table_path, std::ostream& out);

// What DumpTable and DescribeTable print, of a table or query the caller
// opened (on a connection it may keep for many tables).
void WriteCsv(dbaccess::TDbDataSet& ds, std::ostream& out);
void WriteStructure(dbaccess::TDbTable& t, std::ostream& out);

// The same lines for a table of a data dictionary, named as the dictionary
// names it (or by its file); user and password log on as for
// RunStatement.
void DescribeDictionaryTable(const std::string& kdd_path, const std::string& table, const std::string& user,
                             const std::string& password, std::ostream& out);

// Tab-separated lines "TABLE name file auto-create encryption" for each
// table of a data dictionary (file as registered, the two properties 0 or
// 1), then "USER name" for each user, both in the dictionary's order, then
// "RIGHT table user letters" for each table and, within it, each user that
// holds rights on it (letters as stored; none for a user without). Nothing
// is written when reading fails. The log-on defaults to the administrator's
// when user is empty.
void DescribeDictionary(const std::string& kdd_path, const std::string& user, const std::string& password,
                        std::ostream& out);

// Runs one statement on a folder of free tables or, for a ".kdd" path, on a
// data dictionary. A statement that gives rows prints them as DumpTable
// does; any other prints "N rows affected". On a folder the password, when
// given, is the statement's encryption password; on a dictionary user and
// password log on (the administrator's when user is empty).
void RunStatement(const std::string& path, const std::string& statement, const std::string& user,
                  const std::string& password, std::ostream& out);

// One value of the current row in the CSV form above (not yet quoted).
std::string FieldText(const dbaccess::TField& field);
// A CSV field: quoted when it holds a comma, a double quote, CR or LF.
std::string CsvQuote(std::string_view text);
// The engine's type number of a field, as far as the access layer's field
// type and data size tell it.
int EngineTypeNumber(const dbaccess::TField& field);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_INSPECT_H_
