#include "conversions/employee_identity.h"

#include <initializer_list>
#include <string>
#include <utility>

#include "conversions/company_table.h"
#include "support/helpers.h"

namespace kx8::conversions {
namespace {

// The employees are walked by employee number, which none of these changes,
// so that no row moves under the walk (NEW_IC has an index of its own).
constexpr char kOrder[] = "EMP_NO";

// Sets the text fields that differ, in one edit of the current row; true
// when the row changed.
bool SetTexts(dbaccess::TDbTable& t, std::initializer_list<std::pair<const char*, std::string>> values) {
  bool editing = false;
  for (const auto& [field, value] : values) {
    if (t.FieldByName(field).AsString() == value) continue;
    if (!editing) t.Edit();
    editing = true;
    t.FieldByName(field).SetAsString(value);
  }
  if (editing) t.Post();
  return editing;
}

}  // namespace

void UpdateTerminationStatus(schema::UpgradeContext& ctx) {
  CompanyTable employees(ctx, "EMPLOYEE", kOrder);
  dbaccess::TDbTable& t = *employees;
  std::int64_t changed = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    if (!employees.Text("TERMINATION_STATUS").empty()) continue;
    changed += SetTexts(t, {{"TERMINATION_STATUS", t.FieldByName("TERMINATION_DATE").IsNull() ? "F" : "T"}});
  }
  ctx.RowsChanged("EMPLOYEE", changed);
}

void RemoveIdentitySlashes(schema::UpgradeContext& ctx) {
  CompanyTable employees(ctx, "EMPLOYEE", kOrder);
  dbaccess::TDbTable& t = *employees;
  std::int64_t changed = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    const std::string ic = employees.Text("NEW_IC");
    ctx.Status(kIdentityStatus + ic);  // and lets the window process its messages
    changed += SetTexts(t, {{"NEW_IC", support::ReplaceAll(ic, "/", "")},
                            {"INCOME_TAX_AC_NO", support::ReplaceAll(employees.Text("INCOME_TAX_AC_NO"), "/", "")}});
  }
  ctx.RowsChanged("EMPLOYEE", changed);
}

void IncomeTaxNumberFromPass(schema::UpgradeContext& ctx) {
  CompanyTable employees(ctx, "EMPLOYEE", kOrder);
  dbaccess::TDbTable& t = *employees;
  std::int64_t changed = 0;
  for (t.First(); !t.Eof(); t.Next()) {
    if (!employees.Text("INCOME_TAX_AC_NO").empty()) continue;
    const std::string pass = employees.Text("EMP_PASS_AC_NO");
    if (pass.empty() || pass[0] < 'A' || pass[0] > 'Z') continue;
    changed += SetTexts(t, {{"INCOME_TAX_AC_NO", pass}});
  }
  ctx.RowsChanged("EMPLOYEE", changed);
}

}  // namespace kx8::conversions
