// Data dictionary operations: creating a dictionary, logging on, and the
// administration of its tables, properties, index entries, users, rights and
// procedures. Tables bound to a dictionary are found through it; a table
// file that a dictionary of its folder holds cannot be opened as a free table.
#ifndef KX8_ENGINE_DICT_DICTIONARY_H_
#define KX8_ENGINE_DICT_DICTIONARY_H_

#include <optional>
#include <string>
#include <vector>

#include "api/objects.h"
#include "dict/catalog.h"

namespace dbe::dict {

// Creates CODE.kdd, CODE.km and CODE.ki with the administrator DBSYS.
void Create(const std::string& kdd_path, const std::string& admin_password, const std::string& description);
// Fills a connection for a dictionary after checking user and password.
void Logon(Connection* c, const std::string& kdd_path, const std::string& user, const std::string& password);

// The entry of a table the connection's dictionary holds, found by
// dictionary name (any case, with or without ".KDT") or by its file.
std::optional<DictTable> FindTable(Connection* c, const std::string& name);
// The data file of an entry.
std::string EntryPath(Connection* c, const DictTable& t);
// Fails with DBE_TABLE_BOUND when a dictionary in the file's folder holds it.
void CheckNotBound(const std::string& kdt_path);
// Keeps the structure of a table file held open, with the stamp of its
// files, for switching automatic creation on later without loading the
// table again while its files are unchanged.
void NoteStructure(const TableFile& tf);
// Re-creates a missing table file from the stored structure.
void AutoCreate(Connection* c, const DictTable& t, const std::string& path);
// The rights letters of the connection's user on a table (admin: all).
std::string RightsOf(Connection* c, const DictTable& t);

std::vector<std::string> ObjectNames(Connection* c, uint16_t type, const std::string& parent);
void AddTable(Connection* c, const std::string& name, const std::string& path, uint16_t table_type,
              uint16_t char_type, const std::string& comments);
// Takes a table out of the catalogue with its index entries and rights.
// With delete_files its files go too, but only after the catalogue no
// longer lists them and while the table is held exclusively: a crash in
// between leaves unlisted files, never an entry without its data (which
// automatic creation would turn into an empty table).
void RemoveTable(Connection* c, const std::string& name, bool delete_files);
// The catalogue half of RemoveTable, for a caller that holds the table
// exclusively already and deletes its files itself afterwards (DROP TABLE).
void ForgetTable(Connection* c, const DictTable& t);
void SetProperty(Connection* c, const std::string& table, uint16_t property, const void* value, uint16_t len);
// Writes the value into out (capacity *len), returns its length in *len.
void GetProperty(Connection* c, const std::string& table, uint16_t property, void* value, uint16_t* len);
void DeleteIndex(Connection* c, const std::string& table, const std::string& index);
void CreateUser(Connection* c, const std::string& group, const std::string& user, const std::string& password,
                const std::string& description);
void SetRights(Connection* c, const std::string& object, const std::string& user, const std::string& letters);
std::string GetRights(Connection* c, const std::string& object, const std::string& user);
void AddProcedure(Connection* c, const std::string& name, const std::string& params, const std::string& function,
                  const std::string& library);

}  // namespace dbe::dict

#endif  // KX8_ENGINE_DICT_DICTIONARY_H_
