#include "conversions/benefit_leave_schemes.h"

#include <string>

#include "conversions/code_rows.h"
#include "conversions/company_table.h"

namespace kx8::conversions {
namespace {

constexpr char kCodeOrder[] = "CATEGORY;CODE";
constexpr char kMedicalCodes[] = "MED";
constexpr char kCategoryMethod[] = "C";  // benefit schemes by category
constexpr char kLeavePeriod[] = "2004";
constexpr char kJobGradeLeave[] = "J";  // leave schemes by job grade

// The schemes an employee carries, each with the code category that lists
// them.
struct Scheme {
  const char* employee_field;
  const char* code_category;
  SchemeSource SchemeSources::*source;
};
constexpr Scheme kSchemes[] = {
    {"BENEFIT_SCHEME", "BEN", &SchemeSources::benefit},
    {"LEAVE_SCHEME", "LSC", &SchemeSources::leave},
};

std::string MedicalClaimMethod(dbaccess::TDbTable& codes) {
  if (codes.IndexFieldNames() != kCodeOrder) codes.SetIndexFieldNames(kCodeOrder);
  for (codes.FindNearest({std::string(kMedicalCodes)});
       !codes.Eof() && codes.FieldByName("CATEGORY").AsString() == kMedicalCodes; codes.Next()) {
    const std::string method = codes.FieldByName("METHOD").AsString();
    if (!method.empty()) return method;
  }
  return kCategoryMethod;
}

std::string LeaveCategory(schema::UpgradeContext& ctx) {
  CompanyTable settings(ctx, "LEAVESET", "PERIOD");
  if (!settings->FindKey({std::string(kLeavePeriod)})) return "C";
  return settings.Text("CATEGORY");
}

}  // namespace

SchemeSources PrepareSchemeSources(schema::UpgradeContext& ctx, dbaccess::TDbTable& code_table) {
  SchemeSources s;
  s.benefit = MedicalClaimMethod(code_table) == kCategoryMethod ? kCategorySource : kJobGradeSource;
  s.leave = LeaveCategory(ctx) == kJobGradeLeave ? kJobGradeSource : kCategorySource;
  return s;
}

void SetBenefitAndLeaveSchemes(const SchemeSources& sources, dbaccess::TDbTable& employee,
                               dbaccess::TDbTable& code_table) {
  bool editing = false;
  try {
    for (const Scheme& scheme : kSchemes) {
      const SchemeSource& source = sources.*scheme.source;
      const std::string value = employee.FieldByName(source.employee_field).AsString();
      if (employee.FieldByName(scheme.employee_field).AsString() != value) {
        if (!editing) employee.Edit();
        editing = true;
        employee.FieldByName(scheme.employee_field).SetAsString(value);
      }
      // Found by key; a value without a source code gets no scheme code.
      if (code_table.IndexFieldNames() != kCodeOrder) code_table.SetIndexFieldNames(kCodeOrder);
      if (code_table.FindKey({std::string(source.code_category), value})) {
        SetCodeDescription(code_table, scheme.code_category, value, code_table.FieldByName("DESC").AsString());
      }
    }
    if (editing) employee.Post();
  } catch (...) {
    // The employee row is not left pending for the pass's next move.
    if (editing) employee.Cancel();
    throw;
  }
}

}  // namespace kx8::conversions
