#include "conversions/epayslip_reset.h"

#include <exception>
#include <string>

#include "dbaccess/db_table.h"
#include "schema/table_encryption.h"
#include "support/credentials.h"

namespace kx8::conversions {

void ResetEPayslipPasswords(schema::UpgradeContext& ctx, const EPayslipResetOptions& options) {
  if (!options.reset) return;
  dbaccess::TDbTable& t = ctx.work_table;
  t.Close();
  t.SetTableName("EMPLOYEE.kdt");
  t.SetExclusive(true);
  t.Open();
  try {
    if (!ctx.company.IsDictionaryConnection()) {
      t.EnableEncryption(support::AdministratorPassword());
      t.DecryptTable();
      // Encrypted again by the EMPLOYEE entries' bracket later in the run.
      schema::NoteDecryptedForChange(ctx, "EMPLOYEE");
    }
    for (t.First(); !t.Eof(); t.Next()) {
      if (!options.update_all) {
        if (!t.FieldByName("e_pass").AsString().empty()) continue;
        if (!options.update_blank) continue;
      }
      t.Edit();
      const std::string ic = t.FieldByName("NEW_IC").AsString();
      t.FieldByName("e_pass").SetAsString(ic.empty() ? t.FieldByName("emp_no").AsString() : ic);
      t.Post();
    }
  } catch (const std::exception&) {
    t.Close();
    throw;
  }
  t.Close();
}

}  // namespace kx8::conversions
