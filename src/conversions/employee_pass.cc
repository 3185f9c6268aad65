#include "conversions/employee_pass.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "conversions/benefit_leave_schemes.h"
#include "conversions/code_rows.h"
#include "conversions/company_table.h"
#include "conversions/photographs.h"
#include "conversions/spouse_family.h"
#include "dbaccess/db_query.h"
#include "dbaccess/db_table.h"
#include "platform/path.h"
#include "support/credentials.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;

constexpr char kNsmanSql[] = "SELECT * FROM NSMAN WHERE NS_PSA_SERVICE='Y'";
constexpr const char* kTelephoneFields[] = {"TEL_NO", "EMG_TEL", "EMG_TEL2", "SPOUSE_PHONE"};
constexpr char kNone[] = "NONE";
constexpr std::array<std::string_view, 12> k2002Periods = {"200201", "200202", "200203", "200204", "200205", "200206",
                                                        "200207", "200208", "200209", "200210", "200211", "200212"};

// Edits the row (once) before its first change.
class RowEdit {
 public:
  explicit RowEdit(TDbTable& t) : t_(t) {}
  dbaccess::TField& Field(const char* name) {
    if (!editing_) {
      t_.Edit();
      editing_ = true;
    }
    return t_.FieldByName(name);
  }
  // Saves the row when it was changed; a failed save leaves it not pending.
  void Save() {
    if (!editing_) return;
    try {
      t_.Post();
    } catch (...) {
      t_.Cancel();
      throw;
    }
  }

 private:
  TDbTable& t_;
  bool editing_ = false;
};

class EmployeePass {
 public:
  // The preparation: the tables are opened in the order of the members.
  EmployeePass(schema::UpgradeContext& ctx, const EmployeePassOptions& options) : ctx_(ctx), o_(options) {
    if (o_.national_service) OpenNationalService();
    if (o_.claim) schemes_ = PrepareSchemeSources(ctx_, codes_);
  }

  void Run() {
    for (employee_.First(); !employee_.Eof(); employee_.Next()) Employee();
  }

 private:
  dbaccess::TField& E(const char* name) { return employee_.FieldByName(name); }

  // Only the rows of those who served ("Y"), found by key in EMP_CODE, ID
  // order: the first row of an employee is the one with the lowest ID.
  void OpenNationalService() {
    national_service_.SetDbConnection(&ctx_.company);
    national_service_.DbTableOptions().SetDbRightsCheck(false);
    national_service_.SetRequestLive(true);
    national_service_.SQL().Clear();
    national_service_.SQL().Add(kNsmanSql);
    if (!ctx_.company.IsDictionaryConnection()) {
      national_service_.SetStatementPassword(support::AdministratorPassword());
      national_service_.SetTablePassword("NSMAN.KDT", support::AdministratorPassword());
    }
    national_service_.Open();
    national_service_.SetIndexFieldNames("EMP_CODE;ID");
  }

  void Employee() {
    const std::string emp_no = E("EMP_NO").AsString();
    // The telephone numbers get their "6" before the spouse's is copied to
    // FAMILY, so that the family record holds the number as the employee
    // row has it after this pass, and the next pass has nothing to copy.
    if (o_.telephone) PrefixTelephoneNumbers();
    if (o_.family) CopySpouseToFamily(employee_, family_);
    const std::string title = E("SEX_TITLE").AsString();
    if (!title.empty()) AddCodeRow(codes_, "SEX", title, title);
    career_.SetRange({emp_no}, {emp_no});
    if (employment_.FindKey({emp_no})) AddUnitCode();
    AddOccupationCode("SOU", E("SPOUSE_JOB_CODE").AsString());
    if (o_.photograph) ReencodePhotograph(employee_, ctx_.ui);
    CareerDefaults(emp_no);
    if (o_.claim) SetBenefitAndLeaveSchemes(schemes_, employee_, codes_);
    if (o_.additional_wages) AdditionalWages(emp_no);
    if (o_.cost_centre) CostCentre2002(emp_no);
    if (o_.stop_payment) StopPayment(emp_no);
    if (o_.national_service) NationalService(emp_no);
    // The unit of an employment row made here is a code like any other: it
    // is added now rather than by the next pass.
    if (AddCompanionRow(employment_, emp_no, true) && employment_.FindKey({emp_no})) AddUnitCode();
    AddCompanionRow(misc_, emp_no, false);
  }

  // The unit of the current EMPLOYMT row.
  void AddUnitCode() { AddOccupationCode("UNT", employment_.FieldByName("UNIT").AsString()); }

  // A code of another category whose description is that of the occupation
  // of the same code.
  void AddOccupationCode(const char* category, const std::string& code) {
    if (code.empty()) return;
    AddCodeRow(codes_, category, code, CodeDescription(codes_, "OCU", code));
  }

  // Seven-digit numbers from before the eighth digit was added.
  void PrefixTelephoneNumbers() {
    RowEdit row(employee_);
    for (const char* field : kTelephoneFields) {
      const std::string number = E(field).AsString();
      if (number.size() == 7) row.Field(field).SetAsString("6" + number);
    }
    row.Save();
  }

  void CareerDefaults(const std::string& emp_no) {
    for (career_.First(); !career_.Eof(); career_.Next()) {
      if (career_.FieldByName("EMP_CODE").AsString() != emp_no) break;
      RowEdit row(career_);
      if (career_.FieldByName("PERCENT").IsNull()) row.Field("PERCENT").SetAsString("100.00");
      if (career_.FieldByName("SALTYPE").AsString().empty()) row.Field("SALTYPE").SetAsString("M");
      row.Save();
    }
  }

  void AdditionalWages(const std::string& emp_no) {
    if (!misc_.FindKey({emp_no}) || misc_.FieldByName("BOOLEAN10").AsString() != "T") return;
    RowEdit row(employee_);
    row.Field("FUND_CLASS").SetAsString("A");
    row.Save();
  }

  // The twelve months of 2002 on the employee's current cost centre, at 100
  // percent, in place of whatever 2002 rows there were. Rows that already
  // are one of the twelve stay (set to 100 when they are not), the missing
  // months are added, and only then do the other 2002 rows go: a save that
  // fails leaves no month without its rows, and a second pass writes
  // nothing.
  void CostCentre2002(const std::string& emp_no) {
    // As COSTCTR keeps it: its field may be narrower than the employee's.
    std::string centre = E("COST_CENTRE_CODE").AsString().substr(0, static_cast<std::size_t>(
                                                                        cost_centres_.FieldByName("COST_CENTRE").Size()));
    centre.erase(centre.find_last_not_of(' ') + 1);
    std::set<std::string> kept;
    For2002Rows(emp_no, [&] {
      if (!KeepCostCentreRow(centre, kept)) return false;
      if (dbaccess::TField& percent = cost_centres_.FieldByName("PERCENT"); percent.IsNull() || percent.AsFloat() != 100) {
        RowEdit row(cost_centres_);
        row.Field("PERCENT").SetAsFloat(100);
        row.Save();
      }
      return false;
    });
    for (const std::string_view period : k2002Periods) {
      if (kept.contains(std::string(period))) continue;
      cost_centres_.Append();
      RowEdit row(cost_centres_);
      row.Field("EMPCODE").SetAsString(emp_no);
      row.Field("PERIOD").SetAsString(std::string(period));
      row.Field("COST_CENTRE").SetAsString(centre);
      row.Field("PERCENT").SetAsFloat(100);
      row.Save();
    }
    kept.clear();
    For2002Rows(emp_no, [&] {
      if (KeepCostCentreRow(centre, kept)) return false;
      cost_centres_.Delete();
      return true;
    });
  }

  // Calls `visit` on each of the employee's 2002 rows in key order; it
  // returns true when it deleted the row, which moved the cursor on.
  template <typename Visit>
  void For2002Rows(const std::string& emp_no, Visit visit) {
    cost_centres_.SetRange({emp_no, std::string(k2002Periods.front())}, {emp_no, std::string(k2002Periods.back())});
    for (cost_centres_.First(); !cost_centres_.Eof() && cost_centres_.FieldByName("EMPCODE").AsString() == emp_no;) {
      if (cost_centres_.FieldByName("PERIOD").AsString().rfind("2002", 0) != 0) break;
      if (!visit()) cost_centres_.Next();
    }
  }

  // Whether the current row is the first row of its month on the centre.
  bool KeepCostCentreRow(const std::string& centre, std::set<std::string>& kept) {
    const std::string period = cost_centres_.FieldByName("PERIOD").AsString();
    return cost_centres_.FieldByName("COST_CENTRE").AsString() == centre &&
           std::find(k2002Periods.begin(), k2002Periods.end(), period) != k2002Periods.end() &&
           kept.insert(period).second;
  }

  void StopPayment(const std::string& emp_no) {
    if (!employment_.FindKey({emp_no}) || employment_.FieldByName("TENURE_SERV").AsString() != "@HOLD") return;
    RowEdit row(employee_);
    row.Field("STOP_IND").SetAsString("E");
    row.Save();
  }

  // The date from which national service counts towards the employment:
  // the hiring date less the days served. Without all three dates there is
  // nothing to count from; the date stays as it was.
  void NationalService(const std::string& emp_no) {
    RowEdit row(employee_);
    if (!national_service_.FindKey({emp_no})) {
      row.Field("NS_SERVICE").SetAsString("F");
      row.Save();
      return;
    }
    row.Field("NS_SERVICE").SetAsString("T");
    dbaccess::TField& ord = national_service_.FieldByName("NS_ORD");
    dbaccess::TField& enlisted = national_service_.FieldByName("ENLISTMENT_DATE");
    if (!ord.IsNull() && !enlisted.IsNull() && !E("HIRED_DATE").IsNull()) {
      const double served = ord.AsDateTime() - enlisted.AsDateTime() + 1;
      row.Field("CHANGE_DATE").SetAsDateTime(E("HIRED_DATE").AsDateTime() - served);
    }
    row.Save();
  }

  // A companion row for an employee who has none: every text field of width
  // 8 holds "NONE" (the key keeps the employee number), EMPLOYMT's STATE is
  // empty. True when a row was added.
  bool AddCompanionRow(TDbTable& t, const std::string& emp_no, bool clear_state) {
    try {
      if (t.FindKey({emp_no})) return false;
      t.Append();
      t.FieldByName("EMP_NO").SetAsString(emp_no);
      for (int i = 0; i < t.FieldCount(); ++i) {
        dbaccess::TField& f = t.Fields(i);
        if (f.DataType() == dbaccess::ftString && f.Size() == 8 && !platform::SameNameIgnoreCase(f.FieldName(), "EMP_NO")) {
          f.SetAsString(kNone);
        }
      }
      if (dbaccess::TField* state = clear_state ? t.FindField("STATE") : nullptr) state->SetAsString("");
      t.Post();
      return true;
    } catch (const std::exception&) {
      // The companion rows are added where possible and their failures are
      // not reported; the row is not left pending, or the next move of the
      // cursor would try to save it again where a failure is not expected.
      t.Cancel();
      return false;
    }
  }

  schema::UpgradeContext& ctx_;
  const EmployeePassOptions& o_;
  // Opened in this order, closed in reverse, also when the pass fails.
  CompanyTable family_table_{ctx_, "FAMILY", "EMP_CODE;IC_PASSPORT_NUM"};
  CompanyTable cost_centre_table_{ctx_, "COSTCTR", "EMPCODE;PERIOD;COST_CENTRE"};
  CompanyTable employee_table_{ctx_, "EMPLOYEE", "EMP_NO"};
  CompanyTable career_table_{ctx_, "EMP_PROS", "EMP_CODE"};
  CompanyTable employment_table_{ctx_, "EMPLOYMT", "EMP_NO"};
  CompanyTable misc_table_{ctx_, "EMPMISC", "EMP_NO"};
  dbaccess::TDbQuery national_service_;
  CompanyTable code_table_{ctx_, "CODE", "CATEGORY;CODE"};
  TDbTable& family_ = *family_table_;
  TDbTable& cost_centres_ = *cost_centre_table_;
  TDbTable& employee_ = *employee_table_;
  TDbTable& career_ = *career_table_;
  TDbTable& employment_ = *employment_table_;
  TDbTable& misc_ = *misc_table_;
  TDbTable& codes_ = *code_table_;
  SchemeSources schemes_;
};

}  // namespace

void RunEmployeePass(schema::UpgradeContext& ctx, const EmployeePassOptions& options) {
  EmployeePass pass(ctx, options);
  pass.Run();
}

}  // namespace kx8::conversions
