// The contents of a data dictionary: its tables with their properties and
// stored structure, users with their wrapped keys, access rights and
// procedures. Held in CODE.kdd, replaced whole and atomically under the lock
// of CODE.ki, on every change or, while writes are batched, once for a batch
// of changes; CODE.km holds the check of the dictionary's key
// (docs/format.md).
#ifndef KX8_ENGINE_DICT_CATALOG_H_
#define KX8_ENGINE_DICT_CATALOG_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/cipher.h"

namespace dbe {

struct DictTag {
  std::string name, expr;
  uint32_t options = 0;
  bool operator==(const DictTag&) const = default;
};

struct DictTable {
  std::string name;         // dictionary name as added
  std::string file;         // data file, relative to the dictionary's folder (or absolute)
  uint16_t table_type = 3;
  uint16_t char_type = 1;
  std::string comments;
  uint16_t auto_create = 0;  // property 203
  uint16_t encryption = 0;   // property 214 as last set
  std::string default_index; // property 213
  std::string field_list;    // structure for automatic creation
  std::vector<DictTag> tags;
  bool operator==(const DictTable&) const = default;
};

struct DictUser {
  std::string name, group, description;
  crypto::KdfParams kdf;
  std::string wrapped_key;  // the dictionary key sealed with the password's key
  bool operator==(const DictUser&) const = default;
};

struct DictRight {
  std::string object, user, letters;
  bool operator==(const DictRight&) const = default;
};

struct DictProcedure {
  std::string name, params, function, library;
  bool operator==(const DictProcedure&) const = default;
};

// Whether two names are the same table name: any letter case, with or
// without ".KDT". Asked for every entry on every look-up, so it allocates
// nothing.
bool SameTableName(std::string_view a, std::string_view b);

struct Catalog {
  std::array<uint8_t, 16> id{};
  uint64_t generation = 0;
  std::string description;
  std::vector<DictTable> tables;
  std::vector<DictUser> users;
  std::vector<DictRight> rights;
  std::vector<DictProcedure> procedures;
  bool operator==(const Catalog&) const = default;

  DictTable* FindTable(const std::string& name);  // by name, any case, with or without ".KDT"
  DictUser* FindUser(const std::string& name);    // any case
  DictRight* FindRight(const std::string& object, const std::string& user);
};

struct DictionaryPaths {
  std::string kdd, km, ki, folder;
  static DictionaryPaths For(const std::string& kdd_path);
};

// Reads the catalogue (cached while the file is unchanged; with changes
// waiting, the catalogue as changed). Damage gives DBE_DAMAGED_FILE naming
// the file.
std::shared_ptr<const Catalog> LoadCatalog(const std::string& kdd_path);
// Applies change to the current catalogue under the dictionary's lock and
// writes the result atomically; while writes are batched it is kept in
// memory instead (see below). A change that leaves the catalogue as it was
// writes nothing. A change checks everything it may fail on before it
// changes anything: while writes are batched it is applied in place to the
// waiting catalogue when no reader holds that, rather than to a copy of a
// few hundred tables for every property or right the upgrade sets.
void UpdateCatalog(const DictionaryPaths& paths, const std::function<void(Catalog&)>& change);

// Batched writes (process-wide, off by default). While they are on, a
// dictionary's changes are applied to its catalogue in memory, which every
// reader in this process sees at once, and the dictionary keeps its lock
// against other programs until the changes are written, whole and
// atomically, by WriteWaitingCatalogs(). The engine calls that before it
// switches or deletes table files (so that the dictionary on disk is never
// behind the table files it describes) and when batching ends; its callers
// call it before anything reads the dictionary's files other than through
// the engine. A process killed with changes waiting leaves the dictionary
// as it was last written. Turning batching off writes what waits.
void SetCatalogWritesBatched(bool batched);
bool CatalogWritesBatched();
// Writes every dictionary with changes waiting and gives back its lock.
// All are tried; the first failure is raised. A dictionary whose write
// failed loses its waiting changes: its readers see the file again, as a
// process killed at that point would have left it.
void WriteWaitingCatalogs();
// Writes the dictionary's waiting changes unless its file lists the table
// already (for a record outside the engine that may forget the table only
// once the dictionary on disk holds it).
void WriteCatalogUnlessListed(const std::string& kdd_path, const std::string& table);
void WriteNewDictionary(const DictionaryPaths& paths, const Catalog& catalog, const crypto::Key& key);
// Checks the dictionary key against CODE.km.
bool CheckDictionaryKey(const DictionaryPaths& paths, const std::array<uint8_t, 16>& id, const crypto::Key& key);

}  // namespace dbe

#endif  // KX8_ENGINE_DICT_CATALOG_H_
