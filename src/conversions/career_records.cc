#include "conversions/career_records.h"

#include <array>
#include <charconv>
#include <optional>
#include <stdexcept>

#include "conversions/company_table.h"
#include "conversions/release_version.h"
#include "dbaccess/db_query.h"
#include "support/credentials.h"
#include "support/helpers.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;

// The fields of a career row whose previous values the row keeps. A late
// field comes to a company below 8.60 only in a later run of the same pass.
struct TrackedField {
  const char* field;
  const char* previous;
  bool late = false;
};
constexpr TrackedField kTracked[] = {
    {"DIVISION", "OLD_DIVISION"},           {"CATEGORY", "OLD_CATEGORY"},
    {"DEPARTMENT", "OLD_DEPARTMENT"},       {"COMPANY", "OLD_COMPANY", true},
    {"SECTION", "OLD_SECTION"},             {"COST_CENTRE", "OLD_COST_CENTRE"},
    {"CODE", "OLD_PROGRESSION"},            {"SALARY_SCALE", "OLD_SCALE", true},
    {"OCCUPATION", "OLD_OCCUPATION"},       {"GRADE", "OLD_GRADE", true},
    {"JOBGRADE", "OLD_JOBGRADE", true},
};
constexpr std::size_t kTrackedCount = std::size(kTracked);
constexpr std::size_t kDivision = 0;

// The organisation fields a payroll history row takes from a career row.
struct CopiedField {
  const char* career;
  const char* history;
};
constexpr CopiedField kCopied[] = {
    {"category", "category"},
    {"department", "department"},
    {"cost_centre", "costcente"},
    {"company", "company"},
};

using TrackedValues = std::array<std::string, kTrackedCount>;

// Tracked fields the walk takes; the others are read as empty and their
// previous values left alone. Below 8.60 the late fields are left out even
// when the table has them: the pass adds them (and fills GRADE) after the
// walk, so a pass run again after an interruption finds them with the values
// the first one gave them, and taking them then would end otherwise than an
// uninterrupted pass. The stored version is the guard because such a pass
// leaves it as it was.
std::array<bool, kTrackedCount> PresentFields(TDbTable& t, bool below_860) {
  std::array<bool, kTrackedCount> present{};
  for (std::size_t i = 0; i < kTrackedCount; ++i) {
    present[i] = !(below_860 && kTracked[i].late) && t.FindField(kTracked[i].field) != nullptr;
  }
  return present;
}

TrackedValues ReadTracked(TDbTable& t, const std::array<bool, kTrackedCount>& present) {
  TrackedValues v;
  for (std::size_t i = 0; i < kTrackedCount; ++i) {
    if (present[i]) v[i] = t.FieldByName(kTracked[i].field).AsString();
  }
  return v;
}

// The employee's DIVISION_CODE, when EMPLOYEE has the employee.
std::optional<std::string> DivisionOf(TDbTable& employees, const std::string& code) {
  if (!employees.FindKey({code})) return std::nullopt;
  return employees.FieldByName("DIVISION_CODE").AsString();
}

int PeriodNumber(const std::string& period, const std::string& digits) {
  int value = 0;
  const char* end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || ec != std::errc() || ptr != end) {
    throw std::runtime_error("The period " + period + " does not name a month.");
  }
  return value;
}

// The last day of the pay period of a payroll history row.
double PeriodEnd(TDbTable& groups, const std::string& pay_group, const std::string& period) {
  if (groups.FindKey({pay_group, period})) return groups.FieldByName("END_DATE").AsDateTime();
  return CalendarMonthOf(period).last;
}

// Positions the career table on the employee's row with the latest
// pay-effective date on or before `last`. The seek lands on the first row
// at or after (employee, last); every row before it sorts before that key,
// so the row wanted is either the one landed on or the one just before it,
// and a row of another employee there means there is none.
bool FindCareerRow(TDbTable& pros, const std::string& employee, double last) {
  pros.FindNearest({employee, last});
  if (pros.Eof()) pros.Last();  // nothing at or after the key: look back from the end
  for (bool landed = true; !pros.Eof(); landed = false) {
    if (pros.FieldByName("EMP_CODE").AsString() == employee) {
      if (pros.FieldByName("PAY_EFFECTIVE_DATE").AsDateTime() <= last) return true;
    } else if (!landed) {
      return false;  // the rows further back belong to employees ordered before
    }
    pros.Prior();
    if (pros.Bof()) return false;
  }
  return false;
}

void CopyOrganisation(TDbTable& pros, TDbTable& history) {
  bool same = true;
  for (const CopiedField& f : kCopied) {
    same = same && pros.FieldByName(f.career).AsString() == history.FieldByName(f.history).AsString();
  }
  if (same) return;
  history.Edit();
  for (const CopiedField& f : kCopied) {
    history.FieldByName(f.history).SetAsString(pros.FieldByName(f.career).AsString());
  }
  history.Post();
}

}  // namespace

void BackfillCareerHistory(schema::UpgradeContext& ctx) {
  const bool below_860 = ReadReleaseVersion(ctx) < kVersion860;
  CompanyTable employees(ctx, "EMPLOYEE", "EMP_NO");
  CompanyTable pros(ctx, "EMP_PROS", "EMP_CODE;PROGRESSION_DATE");
  TDbTable& p = *pros;
  p.First();
  if (p.Eof()) return;
  const std::array<bool, kTrackedCount> present = PresentFields(p, below_860);
  // An employee's first row takes its own values as its previous ones, with
  // the division it is about to be given: a second walk, which finds that
  // division in place, then gives the row the same previous values, as it
  // does every other row.
  auto first_row_values = [&](const std::string& code) {
    TrackedValues values = ReadTracked(p, present);
    if (present[kDivision] && values[kDivision].empty()) {
      if (auto division = DivisionOf(*employees, code)) values[kDivision] = *division;
    }
    return values;
  };
  std::string code = pros.Text("EMP_CODE");
  TrackedValues previous = first_row_values(code);
  while (!p.Eof()) {
    TrackedValues own = ReadTracked(p, present);
    std::optional<std::string> division;
    if (present[kDivision] && own[kDivision].empty()) division = DivisionOf(*employees, pros.Text("EMP_CODE"));
    bool changed = division.has_value() && !division->empty();
    for (std::size_t i = 0; i < kTrackedCount && !changed; ++i) {
      changed = present[i] && pros.Text(kTracked[i].previous) != previous[i];
    }
    if (division) own[kDivision] = *division;
    if (changed) {
      p.Edit();
      if (division) p.FieldByName(kTracked[kDivision].field).SetAsString(*division);
      for (std::size_t i = 0; i < kTrackedCount; ++i) {
        if (present[i]) p.FieldByName(kTracked[i].previous).SetAsString(previous[i]);
      }
      p.Post();
    }
    previous = own;
    p.Next();
    if (!p.Eof() && pros.Text("EMP_CODE") != code) {
      code = pros.Text("EMP_CODE");
      previous = first_row_values(code);
    }
  }
}

PayPeriod CalendarMonthOf(const std::string& period) {
  const int year = PeriodNumber(period, support::Substring(period, 1, 4));
  const int month = PeriodNumber(period, support::Substring(period, 5, 2));
  if (month < 1 || month > 12) throw std::runtime_error("The period " + period + " does not name a month.");
  const double first = support::EncodeDate(year, month, 1);
  return {first, support::EndOfMonth(first)};
}

void UpdatePeriodOrganisation(schema::UpgradeContext& ctx) {
  CompanyTable groups(ctx, "PGRP_TRX", "PAY_GROUP;PERIOD");
  CompanyTable pros(ctx, "EMP_PROS", "EMP_CODE;PAY_EFFECTIVE_DATE;ID");
  CompanyTable employees(ctx, "EMPLOYEE", "EMP_NO");
  CompanyTable history(ctx, "P_HTRX", "EMPCODE;PERIOD;CYCLE");
  TDbTable& e = *employees;
  TDbTable& h = *history;
  for (e.First(); !e.Eof(); e.Next()) {
    ctx.ui.ProcessMessages();
    const std::string employee = employees.Text("EMP_NO");
    const std::string pay_group = employees.Text("pay_group");
    h.FindNearest({employee, std::string(kFirstUpdatedPeriod)});
    for (; !h.Eof() && history.Text("EMPCODE") == employee; h.Next()) {
      const std::string period = history.Text("PERIOD");
      ctx.Status(kPeriodStatus + employee + kPeriodStatusPeriod + period);
      if (FindCareerRow(*pros, employee, PeriodEnd(*groups, pay_group, period))) CopyOrganisation(*pros, h);
    }
  }
}

void ConvertCostCentreCodes(schema::UpgradeContext& ctx) {
  dbaccess::TDbQuery& q = ctx.work_query;
  q.Close();
  q.SQL().Clear();
  q.SQL().Add(kCostCentreSqlLine1);
  q.SQL().Add(kCostCentreSqlLine2);
  if (!ctx.company.IsDictionaryConnection()) {
    q.SetStatementPassword(support::AdministratorPassword());
    q.SetTablePassword("EMPLOYEE", support::AdministratorPassword());
    q.SetTablePassword("EMP_PROS", support::AdministratorPassword());
  }
  q.ExecSQL();
  q.CloseStatement();
}

}  // namespace kx8::conversions
