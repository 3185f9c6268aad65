#include "schema/dictionary_rights.h"

#include <algorithm>
#include <vector>

#include "support/credentials.h"
#include "support/helpers.h"

namespace kx8::schema {
namespace {

const char kSupportUser[] = "QRN";
const char kSupportPassword[] = "kvm482";
const char kSupportDescription[] = "QRNA USER";
const std::uint16_t kAutoCreate = 203;

struct StandardRight {
  const char* user;
  const char* rights;
};
// In the order they are granted.
const StandardRight kStandardRights[] = {
    {"readuser", "RI"}, {"KELPAVON8", "RWI"}, {"USER88", "RWI"}, {"QRN", "RWI"}};

std::string UpperCase(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

void SetFlag(dbaccess::TDbDictionary& d, const std::string& table, std::uint16_t property, std::uint16_t value) {
  d.SetTableProperty(table, property, &value, 2, 0, "");
}

}  // namespace

bool TableInDictionary(UpgradeContext& ctx, const std::string& table) {
  std::vector<std::string> names;
  ctx.dictionary.GetTableNames(names);
  const std::string want = UpperCase(table);
  for (const std::string& n : names) {
    if (UpperCase(n) == want) return true;
  }
  return false;
}

bool DictionaryUserExists(UpgradeContext& ctx, const std::string& user) {
  std::vector<std::string> names;
  ctx.dictionary.GetUserNames(names);
  for (const std::string& n : names) {
    if (n == user) return true;
  }
  return false;
}

void GrantStandardRights(UpgradeContext& ctx, const std::string& table) {
  if (!DictionaryUserExists(ctx, kSupportUser)) {
    ctx.dictionary.CreateUser("", kSupportUser, kSupportPassword, kSupportDescription);
  }
  for (const StandardRight& r : kStandardRights) ctx.dictionary.SetObjectAccessRights(table, r.user, r.rights);
  SetFlag(ctx.dictionary, table, kAutoCreate, 1);
}

bool HasOnlyStandardRights(UpgradeContext& ctx, const std::string& table) {
  std::vector<std::string> users;
  ctx.dictionary.GetUserNames(users);
  for (const StandardRight& r : kStandardRights) {
    if (std::find(users.begin(), users.end(), r.user) == users.end()) return false;
  }
  for (const std::string& user : users) {
    std::string expected;
    for (const StandardRight& r : kStandardRights) {
      if (user == r.user) expected = r.rights;
    }
    if (ctx.dictionary.GetObjectAccessRights(table, user) != expected) return false;
  }
  return true;
}

void GrantTableRights(UpgradeContext& ctx, const std::string& table, bool reconnect) {
  std::string code;
  if (reconnect) {
    code = ctx.CompanyCode();
    ctx.company.SetIsConnected(false);
    ctx.dictionary.SetIsConnected(false);
    ctx.dictionary.SetConnectPath(ctx.company.ConnectPath());
    ctx.dictionary.SetIsConnected(true);
  }
  try {
    GrantStandardRights(ctx, table);
  } catch (const std::exception&) {
    // A missing user or table leaves the rest undone, without a message.
  }
  if (reconnect) {
    ctx.dictionary.SetIsConnected(false);
    ctx.company.SetIsConnected(true);
    ctx.SeekCompany(code);
  }
}

void RebuildAllRights(UpgradeContext& ctx) {
  const std::string code = ctx.CompanyCode();
  ctx.dictionary.SetIsConnected(false);
  ctx.dictionary.SetConnectPath(ctx.CompanyFolder(code) + "\\" + code + ".kdd");
  ctx.dictionary.SetIsConnected(true);
  std::vector<std::string> names;
  ctx.dictionary.GetTableNames(names);
  for (const std::string& name : names) {
    try {
      GrantTableRights(ctx, name, false);
    } catch (const std::exception& e) {
      ctx.ui.MessageBox(std::string(e.what()) + " Table Name " + name + " Press any key to continue.", "");
    }
    ctx.Status("rebuild Database " + name);
  }
  ctx.dictionary.SetIsConnected(false);
}

void NormaliseTableNames(UpgradeContext& ctx) {
  if (ctx.work_table.DbConnection() == nullptr || !ctx.work_table.DbConnection()->IsDictionaryConnection()) return;
  std::string current;
  try {
    ctx.dictionary.SetIsConnected(false);
    ctx.dictionary.SetConnectPath(ctx.company.ConnectPath());
    ctx.company.SetIsConnected(false);
    ctx.dictionary.SetIsConnected(true);
    const std::string code = ctx.CompanyCode();
    std::vector<std::string> names;
    ctx.dictionary.GetTableNames(names);
    for (const std::string& name : names) {
      current = UpperCase(name);
      const std::string bare = support::ReplaceAll(current, ".KDT", "");
      ctx.Status("Updating KDT Table " + bare);
      if (current.find(".KDT") != std::string::npos) {
        ctx.dictionary.RemoveTable(current, false);
        ctx.dictionary.AddTable(bare, current, "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
        GrantTableRights(ctx, bare, false);
      }
    }
    ctx.dictionary.SetIsConnected(false);
    ctx.company.SetIsConnected(true);
    ctx.company_register.Open();
    ctx.SeekCompany(code);
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(std::string(e.what()) + "Remove KDT Ext Table Name " + current, "");
  }
}

}  // namespace kx8::schema
