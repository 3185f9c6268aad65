#include "conversions/bank_codes.h"

#include <map>
#include <optional>
#include <vector>

#include "conversions/company_table.h"
#include "platform/path.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;

bool OldSavingsBank(const std::string& bank_id) { return bank_id == "9812" || bank_id == "POSB"; }

// An account that would be held twice under bank 7171.
struct Clash {
  std::string employee;
  std::string account;
};

std::string ClashMessage(const Clash& c) {
  return "EMP_BNK: employee " + c.employee + " would hold the account " + c.account + " twice under bank " +
         kSavingsBankId + ". The POSB accounts of this company have not been changed.";
}

// The fields of the table's unique key; empty when it has none.
std::vector<std::string> UniqueKeyFields(TDbTable& t) {
  for (const dbaccess::TIndexDef& d : t.IndexDefs().Items()) {
    if (!d.Options.Contains(dbaccess::ixUnique)) continue;
    std::vector<std::string> fields;
    std::string field;
    for (char c : d.Fields + ";") {
      if (c != ';' && c != '+') {
        if (c != ' ') field.push_back(c);
      } else if (!field.empty()) {
        fields.push_back(field);
        field.clear();
      }
    }
    return fields;
  }
  return {};
}

// An EMP_BNK row's unique key as it stands after the move.
std::string KeyAfterMove(CompanyTable& bnk, const std::vector<std::string>& key_fields, bool moves) {
  std::string key;
  for (const std::string& f : key_fields) {
    std::string v = bnk.Text(f);
    if (moves && platform::SameNameIgnoreCase(f, "BANK_ID")) v = kSavingsBankId;
    if (moves && platform::SameNameIgnoreCase(f, "BANK_BRANCH")) v = kSavingsBankBranch;
    if (moves && platform::SameNameIgnoreCase(f, "BANK_AC_NO")) v = MovedAccountNumber(bnk.Text("BANK_BRANCH"), v);
    key += v + '\x1f';
  }
  return key;
}

// Looks through EMP_BNK one employee at a time for a moved account whose
// key another of the employee's accounts holds already.
std::optional<Clash> FindClash(schema::UpgradeContext& ctx) {
  CompanyTable bnk(ctx, "EMP_BNK.kdt", "EMP_CODE;BANK_ID;BANK_AC_NO");
  const std::vector<std::string> key_fields = UniqueKeyFields(*bnk);
  if (key_fields.empty()) return std::nullopt;
  TDbTable& t = *bnk;
  std::string employee;
  std::map<std::string, int> keys;  // the employee's keys after the move, and how many rows hold each
  std::map<std::string, std::string> moved;  // moved keys and their new account numbers
  auto clash_in_group = [&]() -> std::optional<Clash> {
    for (const auto& [key, account] : moved) {
      if (keys[key] > 1) return Clash{employee, account};
    }
    return std::nullopt;
  };
  for (t.First(); !t.Eof(); t.Next()) {
    if (bnk.Text("EMP_CODE") != employee) {
      if (auto c = clash_in_group()) return c;
      employee = bnk.Text("EMP_CODE");
      keys.clear();
      moved.clear();
    }
    const bool moves = OldSavingsBank(bnk.Text("BANK_ID"));
    const std::string key = KeyAfterMove(bnk, key_fields, moves);
    ++keys[key];
    if (moves) moved[key] = MovedAccountNumber(bnk.Text("BANK_BRANCH"), bnk.Text("BANK_AC_NO"));
  }
  return clash_in_group();
}

void AddBankListRow(schema::UpgradeContext& ctx) {
  CompanyTable banks(ctx, "pay_bank.kdt", "bank_id;BANK_BRANCH");
  if (banks->FindKey({std::string(kSavingsBankId), std::string(kSavingsBankBranch)})) return;
  banks->Append();
  banks->FieldByName("bank_id").SetAsString(kSavingsBankId);
  banks->FieldByName("BANK_BRANCH").SetAsString(kSavingsBankBranch);
  banks->FieldByName("BANK_NAME").SetAsString(kSavingsBankName);
  banks->Post();
}

// Walks the table in record order, in which a moved row keeps its place.
void MoveAccounts(schema::UpgradeContext& ctx, const char* table, const char* branch_field) {
  CompanyTable accounts(ctx, table);
  TDbTable& t = *accounts;
  std::int64_t moved = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    if (!OldSavingsBank(accounts.Text("BANK_ID"))) continue;
    const std::string account = MovedAccountNumber(accounts.Text(branch_field), accounts.Text("BANK_AC_NO"));
    t.Edit();
    t.FieldByName("BANK_AC_NO").SetAsString(account);
    t.FieldByName("BANK_ID").SetAsString(kSavingsBankId);
    t.FieldByName(branch_field).SetAsString(kSavingsBankBranch);
    t.Post();
    ++moved;
  }
  ctx.RowsChanged(table, moved);
}

}  // namespace

std::string MovedAccountNumber(const std::string& branch, const std::string& account) {
  return account.size() == 6 ? branch + account : account;
}

void MigrateBankCodes(schema::UpgradeContext& ctx) {
  if (std::optional<Clash> clash = FindClash(ctx)) {
    ctx.ui.MessageBox(ClashMessage(*clash), "");
    return;
  }
  AddBankListRow(ctx);
  MoveAccounts(ctx, "EMPLOYEE.KDT", "BANK_BRANCH_CODE");
  MoveAccounts(ctx, "EMP_BNK.kdt", "BANK_BRANCH");
}

}  // namespace kx8::conversions
