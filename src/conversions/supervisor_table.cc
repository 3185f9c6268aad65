#include "conversions/supervisor_table.h"

#include <exception>
#include <string>

#include "conversions/company_table.h"
#include "dbaccess/db_table.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;

class SupervisorEntry {
 public:
  SupervisorEntry(TDbTable& employee, TDbTable& supervisors, TDbTable& setup, std::string company)
      : employee_(employee), supervisors_(supervisors), setup_(setup), company_(std::move(company)) {}

  void Take() {
    if (!employee_.FieldByName("termination_date").IsNull()) return;
    if (employee_.FieldByName("is_EPF_OLD").AsString() != "T") return;
    const std::string emp_no = employee_.FieldByName("EMP_NO").AsString();
    if (!supervisors_.FindKey({emp_no})) {
      supervisors_.Append();
      supervisors_.FieldByName("emp_no").SetAsString(emp_no);
      supervisors_.FieldByName("emp_name").SetAsString(employee_.FieldByName("EMP_NAME").AsString());
      supervisors_.Post();
    }
    if (setup_.FindKey({emp_no, company_})) {
      setup_.Edit();
    } else {
      setup_.Append();
      setup_.FieldByName("empid").SetAsString(emp_no);
      setup_.FieldByName("MODE").SetAsString("direct");
      setup_.FieldByName("CAT").SetAsString("none");
      setup_.FieldByName("subcom").SetAsString(company_);
      setup_.FieldByName("subcode").SetAsString(emp_no);
    }
    setup_.FieldByName("Empname").SetAsString(employee_.FieldByName("EMP_NAME").AsString());
    setup_.FieldByName("Repemail").SetAsString(employee_.FieldByName("EMAIL_AC_NO").AsString());
    setup_.FieldByName("Empcom").SetAsString(company_);
    if (dbaccess::TField* alias = setup_.FindField("ALIAS")) alias->SetAsString(employee_.FieldByName("EMP_ALIAS").AsString());
    setup_.Post();
  }

  // After a failed entry: no row of it stays pending, or the next look-up
  // would try to save it again.
  void Abandon() {
    supervisors_.Cancel();
    setup_.Cancel();
  }

 private:
  TDbTable& employee_;
  TDbTable& supervisors_;
  TDbTable& setup_;
  const std::string company_;
};

}  // namespace

void ConvertSupervisorTable(schema::UpgradeContext& ctx, dbaccess::TDbConnection& shared_folder) {
  CompanyTable employee(ctx, "EMPLOYEE", "EMP_NO");
  TDbTable supervisors;
  shared_folder.SetIsConnected(false);
  shared_folder.SetConnectPath(ctx.root_folder + "\\SHARE_FOLDER\\");
  supervisors.SetDbConnection(&shared_folder);
  supervisors.DbTableOptions().SetDbRightsCheck(false);
  supervisors.SetTableName("SUPVRTBL");
  supervisors.SetIndexFieldNames("EMP_NO");
  // Opened, closed and opened again, so that it shows the latest rows.
  supervisors.Open();
  supervisors.Close();
  supervisors.Open();
  CompanyTable setup(ctx, "SETUP", "Empid;Empcom");
  SupervisorEntry entry(*employee, supervisors, *setup, ctx.CompanyCode());
  for (employee->First(); !employee->Eof(); employee->Next()) {
    try {
      entry.Take();
    } catch (const std::exception& e) {
      entry.Abandon();
      ctx.ui.MessageBox(e.what(), "");
    }
  }
}

}  // namespace kx8::conversions
