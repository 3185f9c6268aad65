#include "schema/detach_record.h"

#include <sstream>
#include <stdexcept>

#include "dbaccess/db_sync_group.h"
#include "platform/durable_file.h"
#include "platform/path.h"
#include "support/credentials.h"

namespace kx8::schema {
namespace {

const char kHeader[] = "KX8 DETACHED TABLES 1";
const std::uint16_t kAutoCreate = 203;
const std::uint16_t kEncryption = 214;

std::string RecordPath(const std::string& company_folder) {
  std::string folder = company_folder;
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder + kDetachRecordFile;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    auto tab = line.find('\t', start);
    parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return parts;
    start = tab + 1;
  }
}

// Names and rights come from the dictionary; tabs and line ends would
// break the record's lines.
void CheckPlain(const std::string& value, const std::string& path) {
  if (value.find_first_of("\t\r\n") != std::string::npos) {
    throw std::runtime_error("Cannot record \"" + value + "\" in " + path + ": it holds a tab or a line end");
  }
}

std::string Write(const std::vector<DetachedTable>& tables, const std::string& path) {
  std::ostringstream out;
  out << kHeader << '\n';
  for (const DetachedTable& t : tables) {
    CheckPlain(t.name, path);
    CheckPlain(t.file, path);
    out << "TABLE\t" << t.name << '\t' << t.file << '\t' << t.encryption << '\t' << t.auto_create << '\n';
    for (const auto& [user, letters] : t.rights) {
      CheckPlain(user, path);
      CheckPlain(letters, path);
      out << "RIGHT\t" << t.name << '\t' << user << '\t' << letters << '\n';
    }
  }
  return out.str();
}

// Durable on its own, except within a grouped flush (an upgrade pass with a
// checked archive and its marker, which cover a power cut): there it is
// flushed with the rest of the pass, and against a killed process the page
// cache keeps it ahead of the dictionary changes that follow it.
void Save(const std::string& company_folder, const std::vector<DetachedTable>& tables) {
  const std::string path = RecordPath(company_folder);
  const bool grouped = dbaccess::TDbSyncGroup::Active();
  if (tables.empty()) {
    (grouped ? platform::DeleteFileUnflushed : platform::DeleteFileDurably)(path);
  } else {
    (grouped ? platform::WriteFileUnflushed : platform::WriteFileDurably)(path, Write(tables, path));
  }
}

std::uint16_t Flag(dbaccess::TDbDictionary& d, const std::string& table, std::uint16_t property) {
  std::uint16_t v = 0, len = 2;
  d.GetTableProperty(table, property, &v, &len);
  return v;
}

void SetFlag(dbaccess::TDbDictionary& d, const std::string& table, std::uint16_t property, std::uint16_t value) {
  d.SetTableProperty(table, property, &value, 2, 0, "");
}

bool Listed(dbaccess::TDbDictionary& d, const std::string& name) {
  std::vector<std::string> names;
  d.GetTableNames(names);
  for (const std::string& n : names) {
    if (platform::SameNameIgnoreCase(n, name)) return true;
  }
  return false;
}

}  // namespace

std::vector<DetachedTable> ReadDetachRecord(const std::string& company_folder) {
  const std::string path = RecordPath(company_folder);
  std::optional<std::string> text = platform::ReadWholeFile(path);
  std::vector<DetachedTable> tables;
  if (!text) return tables;
  std::istringstream in(*text);
  std::string line;
  auto bad = [&] { return std::runtime_error("The record of detached tables " + path + " is damaged at: " + line); };
  if (!std::getline(in, line) || line != kHeader) throw bad();
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> parts = SplitTabs(line);
    if (parts[0] == "TABLE" && parts.size() == 5 && (parts[3] == "0" || parts[3] == "1") &&
        (parts[4] == "0" || parts[4] == "1")) {
      tables.push_back({parts[1], parts[2], static_cast<std::uint16_t>(parts[3] == "1"),
                        static_cast<std::uint16_t>(parts[4] == "1"), {}});
    } else if (parts[0] == "RIGHT" && parts.size() == 4 && !tables.empty() && tables.back().name == parts[1]) {
      tables.back().rights.emplace_back(parts[2], parts[3]);
    } else {
      throw bad();
    }
  }
  return tables;
}

void RecordTableBeforeDetach(dbaccess::TDbDictionary& dictionary, const std::string& company_folder,
                             const std::string& registered, const std::string& name, bool encrypted) {
  DetachedTable t;
  t.name = name;
  t.file = dictionary.GetTableFileName(registered);
  // The table comes back encrypted when it was, or when the caller asks for
  // it, and with automatic creation on, as putting it back after a change does.
  t.encryption = (Flag(dictionary, registered, kEncryption) == 1 || encrypted) ? 1 : 0;
  t.auto_create = 1;
  std::vector<std::string> users;
  dictionary.GetUserNames(users);
  for (const std::string& user : users) {
    std::string letters = dictionary.GetObjectAccessRights(registered, user);
    if (!letters.empty()) t.rights.emplace_back(user, letters);
  }
  std::vector<DetachedTable> tables = ReadDetachRecord(company_folder);
  std::erase_if(tables, [&](const DetachedTable& x) { return platform::SameNameIgnoreCase(x.name, name); });
  tables.push_back(std::move(t));
  Save(company_folder, tables);
}

void ForgetDetachedTable(const std::string& company_folder, const std::string& name) {
  std::vector<DetachedTable> tables = ReadDetachRecord(company_folder);
  const std::size_t before = tables.size();
  std::erase_if(tables, [&](const DetachedTable& x) { return platform::SameNameIgnoreCase(x.name, name); });
  if (tables.size() != before) Save(company_folder, tables);
}

std::vector<std::string> RestoreDetachedTables(const std::string& dictionary_path) {
  const std::string folder = platform::ParentFolder(platform::NativePath(dictionary_path));
  std::vector<DetachedTable> tables = ReadDetachRecord(folder);
  std::vector<std::string> restored;
  if (tables.empty()) return restored;
  dbaccess::TDbDictionary d;
  d.SetConnectPath(dictionary_path);
  d.SetUserName(support::AdministratorUser());
  d.SetPassword(support::AdministratorPassword());
  d.SetLoginPrompt(false);
  d.SetIsConnected(true);
  for (const DetachedTable& t : tables) {
    if (!Listed(d, t.name)) {
      d.AddTable(t.name, t.file, "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
      restored.push_back(t.name);
    }
    if (t.encryption != 0 && Flag(d, t.name, kEncryption) == 0) SetFlag(d, t.name, kEncryption, 1);
    SetFlag(d, t.name, kAutoCreate, t.auto_create);
    for (const auto& [user, letters] : t.rights) d.SetObjectAccessRights(t.name, user, letters);
    d.SaveTableListing(t.name);  // forgotten only once the dictionary's file lists it
    ForgetDetachedTable(folder, t.name);
  }
  d.SetIsConnected(false);
  return restored;
}

}  // namespace kx8::schema
