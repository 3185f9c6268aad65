#include "conversions/template_refresh.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <map>
#include <set>
#include <vector>

#include "conversions/update_archive.h"
#include "platform/path.h"
#include "schema/column_upgrade.h"
#include "schema/detach_record.h"
#include "schema/dictionary_rights.h"
#include "schema/table_encryption.h"

namespace kx8::conversions {
namespace {

using schema::UpgradeContext;

constexpr std::uint16_t kAutoCreate = 203;
constexpr std::uint16_t kDefaultIndex = 213;
constexpr std::uint16_t kEncryption = 214;

// Taken out of the dictionary in this order; each found gets its mask.
const char* const kReleaseTables[] = {"UPDATETBL", "OUTDSK_D", "BONUS",   "OUTDSK_H",  "GTABLE", "GLOCHG",
                                      "SETCODE",   "GLPARA",   "OUTGL_D", "CHECKCODE", "PASSDEF"};
// BONUS holds the company's own bonus rows: it leaves the dictionary under
// either of its names but its files are never replaced.
constexpr char kBonus[] = "BONUS";
const char* const kBonusNames[] = {"BONUS.KDT", "BONUS"};
// The public holidays come with every refresh.
constexpr char kHolidayMask[] = "PUBLIC.*";
const char* const kFreeTableMasks[] = {"OUTDSK_D.*", "OUTDSK_H.*", "GTABLE.*", "PASSDEF.*", "SETCODE.*", "CHECKCODE.*"};
// Put back, then granted the standard rights, in these orders.
const char* const kReleasePutBack[] = {"GLPARA",   "GTABLE",   "GLOCHG", "PASSDEF",  "CHECKCODE",
                                       "OUTDSK_D", "OUTDSK_H", "BONUS",  "UPDATETBL"};
const char* const kReleaseGrants[] = {"UPDATETBL", "GTABLE",   "GLOCHG",   "PASSDEF", "CHECKCODE",
                                      "GLPARA",    "OUTDSK_D", "OUTDSK_H", "BONUS"};
constexpr char kLedgerLayout[] = "OUTGL_D";
constexpr char kSetCodes[] = "SETCODE";

const char* const kReportTables[] = {"RBFIELD", "RBTABLE", "RBJOIN"};
// Kept encrypted; RBJOIN is not.
const char* const kEncryptedReportTables[] = {"RBFIELD", "RBTABLE"};
constexpr char kReportJoins[] = "RBJOIN";
constexpr char kEveryFile[] = "*.*";

std::string Mask(const std::string& table) { return table + ".*"; }

// Tables of a dictionary-bound company out of its dictionary while their
// files are replaced. Every table is recorded durably before it leaves,
// taken out in the clear (its files kept) and put back encrypted again when
// it was. Failures of putting back are collected: every table and grant is
// attempted, and the first failure goes on at the end.
class DictionaryTakeOut {
 public:
  explicit DictionaryTakeOut(UpgradeContext& ctx)
      : ctx_(ctx), code_(ctx.CompanyCode()), folder_(ctx.CompanyFolder(code_)) {}

  // Connects the dictionary at the company connection's path; the company
  // connection is disconnected until Close.
  void Open() {
    ctx_.dictionary.SetIsConnected(false);
    ctx_.dictionary.SetConnectPath(ctx_.company.ConnectPath());
    ctx_.company.SetIsConnected(false);
    ctx_.dictionary.SetIsConnected(true);
  }

  // Takes the table registered as `registered` out, to come back as `name`.
  void TakeOut(const std::string& registered, const std::string& name) {
    // Known before anything is changed, so that Close sees to it whatever
    // fails from here on.
    bool& was_encrypted = was_encrypted_[name];
    schema::RecordTableBeforeDetach(ctx_.dictionary, folder_, registered, name, false);
    const bool encrypted = Flag(registered, kEncryption) == 1;
    was_encrypted = was_encrypted || encrypted;
    // Out of the dictionary its files must be readable as free tables, and
    // an archive's copy must not be taken for one encrypted by it.
    if (encrypted) SetFlag(registered, kEncryption, 0);
    ctx_.dictionary.RemoveTable(registered, false);
    removed_.insert(name);
  }

  bool TookOut(const std::string& name) const { return was_encrypted_.contains(name); }

  // Registers `name` over its file unless the dictionary lists it; a table
  // taken out encrypted is encrypted again, unless `plain`.
  void PutBack(const std::string& name, bool plain = false) {
    if (!schema::TableInDictionary(ctx_, name)) {
      ctx_.dictionary.AddTable(name, name + ".KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
    }
    auto it = was_encrypted_.find(name);
    if (!plain && it != was_encrypted_.end() && it->second && Flag(name, kEncryption) == 0) {
      SetFlag(name, kEncryption, 1);
    }
  }
  // The standard rights and automatic creation; a table taken out is done
  // with once they are granted.
  void Grant(const std::string& name) {
    schema::GrantStandardRights(ctx_, name);
    granted_.insert(name);
  }

  // Runs one put-back or grant; a failure is kept for the end.
  template <typename Body>
  void Attempt(Body body) {
    try {
      body();
    } catch (...) {
      if (!first_failure_) first_failure_ = std::current_exception();
    }
  }

  // Puts back, with the standard rights, every table taken out and not yet
  // granted them, then forgets the record of every table that is back,
  // disconnects the dictionary, connects the company and finds its register
  // row again.
  void Close() {
    for (const auto& [name, encrypted] : was_encrypted_) {
      if (granted_.contains(name)) continue;
      Attempt([&] {
        const bool listed = schema::TableInDictionary(ctx_, name);
        PutBack(name);
        if (removed_.contains(name) || !listed) {
          Grant(name);
        } else {
          // Its removal failed part-way: it gets the standard rights now,
          // and keeps its record, so that the next connect gives it back
          // exactly the rights recorded before it was touched.
          schema::GrantStandardRights(ctx_, name);
        }
      });
    }
    // Tables not back stay in the record: the next connect puts them back
    // and grants them their rights.
    Attempt([&] {
      for (const std::string& name : granted_) {
        if (!was_encrypted_.contains(name)) continue;
        ctx_.dictionary.SaveTableListing(name);  // the record goes once the dictionary's file lists it
        schema::ForgetDetachedTable(folder_, name);
      }
    });
    ctx_.dictionary.SetIsConnected(false);
    ctx_.company.SetIsConnected(true);
    ctx_.SeekCompany(code_);
  }

  // After Close: the first failure of the put-backs, if any, goes on.
  void RethrowFirstFailure() {
    if (first_failure_) std::rethrow_exception(first_failure_);
  }

 private:
  std::uint16_t Flag(const std::string& table, std::uint16_t property) {
    std::uint16_t v = 0, len = 2;
    ctx_.dictionary.GetTableProperty(table, property, &v, &len);
    return v;
  }
  void SetFlag(const std::string& table, std::uint16_t property, std::uint16_t value) {
    ctx_.dictionary.SetTableProperty(table, property, &value, 2, 0, "");
  }

  UpgradeContext& ctx_;
  const std::string code_;
  const std::string folder_;
  std::map<std::string, bool> was_encrypted_;  // every table taken out
  std::set<std::string> removed_;              // those the dictionary let go
  std::set<std::string> granted_;              // back, with the standard rights
  std::exception_ptr first_failure_;
};

// True when the dictionary holds the table exactly as taking it out and
// putting it back with the standard rights would leave it: registered under
// its own name over "NAME.KDT", with automatic creation on, no default index
// and only the standard rights, and in the clear unless `kept_encrypted` (a
// table whose files the refresh keeps is encrypted again when it comes
// back). Such a table whose files match the archive's already is left in the
// dictionary: the refresh would change nothing in it, and a pass on an
// up-to-date company takes nothing out.
bool AsPutBack(UpgradeContext& ctx, const std::string& table, bool kept_encrypted = false) {
  try {
    std::vector<std::string> names;
    ctx.dictionary.GetTableNames(names);
    if (std::find(names.begin(), names.end(), table) == names.end()) return false;
    if (ctx.dictionary.GetTableFileName(table) != table + ".KDT") return false;
    std::uint16_t flag = 0, len = 2;
    ctx.dictionary.GetTableProperty(table, kEncryption, &flag, &len);
    if (flag != 0 && !kept_encrypted) return false;
    len = 2;
    ctx.dictionary.GetTableProperty(table, kAutoCreate, &flag, &len);
    if (flag != 1) return false;
    char index[256] = {};
    len = sizeof index;
    ctx.dictionary.GetTableProperty(table, kDefaultIndex, index, &len);
    if (index[0] != '\0') return false;
    return schema::HasOnlyStandardRights(ctx, table);
  } catch (const std::exception&) {
    // Whatever cannot be read is left to the refresh itself, which takes
    // the table out and reports what fails.
    return false;
  }
}

// Takes the tables out in order; `take` does one. A failure puts every table
// taken out so far back before it is shown with the table's name and goes on.
template <typename Take>
void TakeOutAll(UpgradeContext& ctx, DictionaryTakeOut& out, std::span<const char* const> tables, Take take) {
  std::string current;
  try {
    out.Open();
    for (const char* table : tables) {
      current = table;
      take(table);
    }
  } catch (const std::exception& e) {
    out.Close();
    ctx.ui.MessageBox(std::string(e.what()) + " " + current, "");
    throw;
  }
}

}  // namespace

std::span<const char* const> ReleaseTemplateTables() { return kReleaseTables; }

void ReleaseTemplateRefresh(UpgradeContext& ctx, platform::TZipArchive& zip, const std::string& archive_name) {
  const std::string archive = ArchiveFolder(ctx.root_folder) + archive_name;
  if (!platform::FileExists(archive)) return;
  ctx.work_table.Close();
  const std::string folder = ArchiveFolder(ctx.root_folder) + "COMPANY\\" + ctx.CompanyCode();
  if (!ctx.DictionaryBound()) {
    ExtractIntoCompanyFolder(zip, ctx.ui, archive, folder, {std::begin(kFreeTableMasks), std::end(kFreeTableMasks)});
    return;
  }
  DictionaryTakeOut out(ctx);
  std::vector<std::string> masks = {kHolidayMask};
  TakeOutAll(ctx, out, kReleaseTables, [&](const std::string& table) {
    if (table == kBonus) {
      if (AsPutBack(ctx, kBonus, true) && !schema::TableInDictionary(ctx, kBonusNames[0])) return;
      for (const char* name : kBonusNames) {
        if (schema::TableInDictionary(ctx, name)) out.TakeOut(name, kBonus);
      }
    } else if (schema::TableInDictionary(ctx, table)) {
      if (AsPutBack(ctx, table) && ArchiveCopiesInFolder(zip, archive, folder, Mask(table))) return;
      out.TakeOut(table, table);
      masks.push_back(Mask(table));
    }
  });
  out.Attempt([&] { ExtractIntoCompanyFolder(zip, ctx.ui, archive, folder, masks); });
  for (const char* table : kReleasePutBack) out.Attempt([&] { out.PutBack(table); });
  for (const char* table : kReleaseGrants) out.Attempt([&] { out.Grant(table); });
  out.Attempt([&] {
    out.PutBack(kLedgerLayout);
    out.Grant(kLedgerLayout);
  });
  try {
    out.PutBack(kSetCodes);
    out.Grant(kSetCodes);
  } catch (const std::exception&) {
    // The refresh has never stopped for SETCODE. Its record stays, and the
    // next connect of the company puts it back.
  }
  out.Close();
  out.RethrowFirstFailure();
}

void ReportWriterRefresh(UpgradeContext& ctx, platform::TZipArchive& zip) {
  const std::string archive = ArchiveFolder(ctx.root_folder) + kReportArchive;
  if (!platform::FileExists(archive)) {
    ctx.ui.MessageBox(archive + kArchiveNotFound, "");
    return;
  }
  ctx.work_table.Close();
  const std::string code = ctx.CompanyCode();
  const std::string folder = ArchiveFolder(ctx.root_folder) + "COMPANY\\" + code;
  if (!ctx.DictionaryBound()) {
    ExtractIntoCompanyFolder(zip, ctx.ui, archive, folder, {kEveryFile});
    for (const char* table : kEncryptedReportTables) schema::EncryptFreeTable(ctx, table);
    ctx.company.SetIsConnected(true);
    ctx.SeekCompany(code);
    return;
  }
  DictionaryTakeOut out(ctx);
  std::vector<std::string> masks;
  TakeOutAll(ctx, out, kReportTables, [&](const std::string& table) {
    if (!schema::TableInDictionary(ctx, table)) return;
    out.TakeOut(table, table);
    masks.push_back(Mask(table));
  });
  // Without a mask the extraction would take every file of the archive.
  if (!masks.empty()) out.Attempt([&] { ExtractIntoCompanyFolder(zip, ctx.ui, archive, folder, masks); });
  // The application opens RBJOIN through the dictionary like the others;
  // it comes back as the archive ships it, in the clear.
  if (out.TookOut(kReportJoins)) {
    out.Attempt([&] {
      out.PutBack(kReportJoins, true);
      out.Grant(kReportJoins);
    });
  }
  out.Close();
  // RBFIELD and RBTABLE are kept encrypted by the dictionary: the membership
  // routine adds them (or registers them again) encrypted, with automatic
  // creation and the rights, and shows its own failures.
  for (const char* table : kEncryptedReportTables) schema::EnsureDictionaryTable(ctx, table, true);
  out.RethrowFirstFailure();
}

}  // namespace kx8::conversions
