// The contents of a data dictionary: its tables with their properties and
// stored structure, users with their wrapped keys, access rights and
// procedures. Held in CODE.kdd, replaced whole and atomically on every
// change, under the lock of CODE.ki; CODE.km holds the check of the
// dictionary's key (docs/format.md).
#ifndef KX8_ENGINE_DICT_CATALOG_H_
#define KX8_ENGINE_DICT_CATALOG_H_

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cipher.h"

namespace dbe {

struct DictTag {
  std::string name, expr;
  uint32_t options = 0;
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
};

struct DictUser {
  std::string name, group, description;
  crypto::KdfParams kdf;
  std::string wrapped_key;  // the dictionary key sealed with the password's key
};

struct DictRight {
  std::string object, user, letters;
};

struct DictProcedure {
  std::string name, params, function, library;
};

struct Catalog {
  std::array<uint8_t, 16> id{};
  uint64_t generation = 0;
  std::string description;
  std::vector<DictTable> tables;
  std::vector<DictUser> users;
  std::vector<DictRight> rights;
  std::vector<DictProcedure> procedures;

  DictTable* FindTable(const std::string& name);  // by name, any case, with or without ".KDT"
  DictUser* FindUser(const std::string& name);    // any case
  DictRight* FindRight(const std::string& object, const std::string& user);
};

struct DictionaryPaths {
  std::string kdd, km, ki, folder;
  static DictionaryPaths For(const std::string& kdd_path);
};

// Reads the catalogue (cached while the file is unchanged). Damage gives
// DBE_DAMAGED_FILE naming the file.
std::shared_ptr<const Catalog> LoadCatalog(const std::string& kdd_path);
// Applies change to the current catalogue under the dictionary's lock and
// writes the result atomically.
void UpdateCatalog(const DictionaryPaths& paths, const std::function<void(Catalog&)>& change);
void WriteNewDictionary(const DictionaryPaths& paths, const Catalog& catalog, const crypto::Key& key);
// Checks the dictionary key against CODE.km.
bool CheckDictionaryKey(const DictionaryPaths& paths, const std::array<uint8_t, 16>& id, const crypto::Key& key);

}  // namespace dbe

#endif  // KX8_ENGINE_DICT_CATALOG_H_
