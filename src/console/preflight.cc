#include "console/preflight.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "console/pass_marker.h"
#include "console/run_driver.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_errors.h"
#include "dbaccess/db_table.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "schema/release_check.h"
#include "support/credentials.h"

namespace kx8::console {
namespace {

using namespace kx8::dbaccess;

// The engine's number for a table another handle holds.
constexpr std::uint32_t kTableInUse = 5042;

bool EndsWithNoCase(const std::string& name, const std::string& tail) {
  return name.size() >= tail.size() && platform::SameNameIgnoreCase(name.substr(name.size() - tail.size()), tail);
}

bool IsTableFile(const std::string& name) {
  return EndsWithNoCase(name, ".KDT") || EndsWithNoCase(name, ".KDI") || EndsWithNoCase(name, ".KDM");
}

void PrepareConnection(TDbConnection& c, const std::string& path) {
  c.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  c.SetLoginPrompt(false);
  c.SetUsername(support::AdministratorUser());
  c.SetPassword(support::AdministratorPassword());
  c.SetConnectPath(path);
}

// Opens the table alone and read-only for a moment: an open by another
// program makes the exclusive open fail at once (the engine takes its open
// lock without waiting).
void ProbeTable(TDbConnection& c, const std::string& code, const std::string& table,
                std::vector<std::string>& problems) {
  TDbTable t;
  t.SetDbConnection(&c);
  t.SetTableName(table);
  t.SetReadOnly(true);
  t.SetExclusive(true);
  try {
    t.Open();
    t.Close();
  } catch (const EDbEngineError& e) {
    if (e.ErrorCode() == kTableInUse) {
      problems.push_back(code + ": " + table + " is held open by another program; close the application on " +
                         "every workstation (" + e.what() + ")");
    } else {
      problems.push_back(code + ": " + table + " cannot be opened: " + e.what());
    }
  }
}

// The tables of a dictionary company, through its dictionary; a refused
// log-on is the company's problem and ends its table checks.
void CheckDictionaryCompany(const std::string& code, const std::string& kdd, std::vector<std::string>& problems) {
  std::vector<std::string> tables;
  try {
    TDbDictionary d;
    schema::LogOnToDictionary(d, kdd);
    d.GetTableNames(tables);
    d.SetIsConnected(false);
  } catch (const DbError& e) {
    problems.push_back(code + ": the dictionary " + kdd + " refuses the administrator log-on: " + e.what());
    return;
  }
  TDbConnection c;
  PrepareConnection(c, kdd);
  try {
    c.SetIsConnected(true);
  } catch (const DbError& e) {
    problems.push_back(code + ": the dictionary " + kdd + " refuses the administrator log-on: " + e.what());
    return;
  }
  for (const std::string& table : tables) ProbeTable(c, code, table, problems);
}

void CheckFreeTableCompany(const std::string& code, const std::string& folder, std::vector<std::string>& problems) {
  TDbConnection c;
  PrepareConnection(c, folder);
  c.SetIsConnected(true);
  for (const platform::FoundEntry& e : platform::FindEntries(folder + "\\*.kdt", platform::FindAttr::Files)) {
    ProbeTable(c, code, e.name, problems);
  }
}

// What the backup archive and the pass's rewrites of one company need at
// most: the archive holds the folder's files (compressed, so their size
// bounds it), the rewrites the table files.
struct CompanyBytes {
  std::uint64_t files = 0, tables = 0;
};

CompanyBytes MeasureCompany(const std::string& folder) {
  CompanyBytes b;
  for (const platform::FoundEntry& e : platform::FindEntries(folder + "\\*.*", platform::FindAttr::Files)) {
    b.files += e.size;
    if (IsTableFile(e.name)) b.tables += e.size;
  }
  return b;
}

std::string Megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

}  // namespace

std::vector<std::string> RegisteredCodes(const std::string& root) {
  TDbConnection c;
  PrepareConnection(c, root);
  c.SetIsConnected(true);
  TDbTable t;
  t.SetDbConnection(&c);
  t.SetTableName("mcompany.KDT");
  t.SetReadOnly(true);
  t.Open();
  std::vector<std::string> codes;
  for (t.First(); !t.Eof(); t.Next()) codes.push_back(t.FieldByName("COMPANY_CODE").AsString());
  t.Close();
  std::sort(codes.begin(), codes.end());
  return codes;
}

PreflightResult Preflight(const std::string& root, const std::vector<std::string>& codes,
                          const PreflightOptions& options) {
  PreflightResult result;
  std::uint64_t backups = 0, largest_rewrite = 0;
  for (const std::string& code : codes) {
    if (!CodeNamesACompanyFolder(code)) {
      result.problems.push_back("\"" + code + "\": the code cannot name a company folder");
      continue;
    }
    const std::string folder = root + "COMPANY\\" + code;
    if (!platform::DirectoryExists(folder)) {
      result.problems.push_back(code + ": the company folder " + folder + " does not exist");
      continue;
    }
    const std::string kdd = folder + "\\" + code + ".kdd";
    try {
      if (std::optional<PassMarker> marker = ReadPassMarker(folder)) {
        result.problems.push_back(code + ": " + InterruptedPassMessage(code, *marker));
      }
      if (platform::FileExists(kdd) || options.dictionary_setting_yes) {
        if (!platform::FileExists(kdd)) {
          result.problems.push_back(code + ": DICTIONARY is YES but the dictionary " + kdd + " does not exist");
        } else {
          CheckDictionaryCompany(code, kdd, result.problems);
        }
      } else {
        CheckFreeTableCompany(code, folder, result.problems);
      }
    } catch (const std::exception& e) {
      result.problems.push_back(code + ": " + e.what());
    }
    CompanyBytes bytes = MeasureCompany(folder);
    if (options.backup) backups += bytes.files;
    largest_rewrite = std::max(largest_rewrite, bytes.tables);
  }
  result.bytes_needed = backups + largest_rewrite;
  std::error_code ec;
  std::filesystem::space_info space = std::filesystem::space(platform::NativePath(root), ec);
  if (ec) {
    result.problems.push_back("the free space on the disk of " + root + " cannot be read: " + ec.message());
  } else {
    result.bytes_free = space.available;
    if (result.bytes_free < result.bytes_needed) {
      result.problems.push_back("the disk of " + root + " has " + Megabytes(result.bytes_free) + " free; about " +
                                Megabytes(result.bytes_needed) + " are needed (backups " + Megabytes(backups) +
                                ", the largest company's rewrites " + Megabytes(largest_rewrite) + ")");
    }
  }
  return result;
}

}  // namespace kx8::console
