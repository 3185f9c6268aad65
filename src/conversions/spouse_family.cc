#include "conversions/spouse_family.h"

#include <string>

namespace kx8::conversions {
namespace {

// What a new spouse row starts with, before the employee's values.
constexpr struct {
  const char* field;
  const char* value;
} kNewSpouseRow[] = {
    {"PR_IND", "F"},      {"DEP_INDICATOR", "F"}, {"RACE", "NONE"},     {"INSTITUTE", "NONE"},
    {"CITIZENSHIP", "NONE"}, {"BIRTH_COUNTRY", "NONE"}, {"RELIGION", "NONE"},
};

// FAMILY field <- EMPLOYEE field.
constexpr struct {
  const char* family;
  const char* employee;
} kCopied[] = {
    {"NAME", "SPOUSE_NAME"},          {"OCCUPATION_CODE", "SPOUSE_JOB_CODE"}, {"IC_PASSPORT_NUM", "SPOUSE_NEW_IC"},
    {"BIRTH_DATE", "SPOUSE_DOB"},     {"PHONE_NUM", "SPOUSE_PHONE"},          {"MOBILE_PHONE", "SPOUSE_MPHONE"},
    {"E-MAIL_ADDRESS", "SPOUSE_EMAIL"}, {"PAGER_NO", "SPOUSE_PGR"},
};

constexpr char kSpouse[] = "SPOUSE";

// Moves FAMILY to the employee's spouse row; false when there is none.
bool FindSpouseRow(dbaccess::TDbTable& family, const std::string& emp_no) {
  family.FindNearest({emp_no});
  for (; !family.Eof(); family.Next()) {
    if (family.FieldByName("EMP_CODE").AsString() != emp_no) return false;
    if (family.FieldByName("RELATIONSHIP").AsString() == kSpouse) return true;
  }
  return false;
}

}  // namespace

void CopySpouseToFamily(dbaccess::TDbTable& employee, dbaccess::TDbTable& family) {
  if (employee.FieldByName("SPOUSE_NAME").AsString().empty()) return;
  const std::string emp_no = employee.FieldByName("EMP_NO").AsString();
  const bool found = FindSpouseRow(family, emp_no);
  try {
    if (found) {
      family.Edit();
    } else {
      family.Append();
      for (const auto& v : kNewSpouseRow) family.FieldByName(v.field).SetAsString(v.value);
      family.FieldByName("EMP_CODE").SetAsString(emp_no);
      family.FieldByName("RELATIONSHIP").SetAsString(kSpouse);
    }
    for (const auto& c : kCopied) family.FieldByName(c.family).SetAsVariant(employee.FieldByName(c.employee).AsVariant());
    family.FieldByName("SEX").SetAsString(employee.FieldByName("SEX").AsString() == "M" ? "F" : "M");
    family.Post();
  } catch (...) {
    // Not left pending: the next move of the cursor would save it again.
    family.Cancel();
    throw;
  }
}

}  // namespace kx8::conversions
