// The durable record of dictionary tables taken out for a change.
//
// A dictionary-bound company's table leaves its dictionary while a column
// change runs on its files and comes back afterwards. A process killed in
// between would leave it out for good: the next pass finds the column
// present and never puts the table back, and the application can no longer
// reach it. So before a table is taken out, what puts it back (its name,
// its file, its encryption and automatic-creation switches and every user's
// rights) is written, durably, to a record in the company folder; the
// record loses the table's line once it is back. Every connect of a
// dictionary-bound company first puts back whatever the record still
// holds (RestoreDetachedTables).
#ifndef KX8_SCHEMA_DETACH_RECORD_H_
#define KX8_SCHEMA_DETACH_RECORD_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dbaccess/db_dictionary.h"

namespace kx8::schema {

// The record's file in a company folder.
inline constexpr const char kDetachRecordFile[] = "KX8-DETACHED.TXT";

struct DetachedTable {
  std::string name;  // the dictionary name it comes back under
  std::string file;  // its table file, as the dictionary listed it
  std::uint16_t encryption = 0;
  std::uint16_t auto_create = 0;
  std::vector<std::pair<std::string, std::string>> rights;  // user, letters
};

// The tables recorded in the company folder; none when there is no record.
// Raises on a record that cannot be read or understood.
std::vector<DetachedTable> ReadDetachRecord(const std::string& company_folder);

// Reads what puts `registered` back from the connected dictionary (under
// the name `name`) and adds it to the record, durably, before anything is
// taken out.
void RecordTableBeforeDetach(dbaccess::TDbDictionary& dictionary, const std::string& company_folder,
                             const std::string& registered, const std::string& name, bool encrypted);

// Removes a table's line from the record (the record goes with its last line).
void ForgetDetachedTable(const std::string& company_folder, const std::string& name);

// Puts back every table the record of the dictionary's company folder
// holds, as recorded (name, file, encryption, automatic creation, rights),
// then forgets it. A table the dictionary lists already (put back by a
// process that died before its rights were granted) gets the recorded
// encryption, automatic creation and rights again. Connects its
// own dictionary component with the administrator credentials. Returns the
// names put back; raises when a table cannot be put back (the record keeps
// it, for the next attempt).
std::vector<std::string> RestoreDetachedTables(const std::string& dictionary_path);

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_DETACH_RECORD_H_
