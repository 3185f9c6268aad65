#include "tools/demo_career_bank.h"

#include <cstdio>
#include <string>
#include <vector>

#include "dbaccess/db_table.h"
#include "support/credentials.h"
#include "support/helpers.h"

namespace kx8::tools {
namespace {

using dbaccess::TDbTable;

// Which employee a row belongs to: the first or the last in EMP_NO order.
enum class Who { First, Last };

struct CareerChange {
  const char* date;  // progression and pay-effective date
  const char* category;
  const char* department;
  const char* cost_centre;
};
// The first employee's changes: a period of May takes the March change,
// February 2008 (no pay group period) the change on its last day.
constexpr CareerChange kCareerChanges[] = {
    {"2007-03-01", "EXE", "OPS", "CC200"},
    {"2007-07-01", "MGT", "FIN", "CC300"},
    {"2008-02-29", "EXE", "IT", "CC100"},
};

// The last employee's pay takes effect from this day only.
constexpr int kPayFromYear = 2008;

struct PayrollRow {
  Who who;
  int year, month;
};
constexpr PayrollRow kPayrollRows[] = {
    {Who::First, 2006, 12},  // before 2007: left as it is
    {Who::First, 2007, 5},  {Who::First, 2008, 1}, {Who::First, 2008, 2},
    {Who::Last, 2007, 12},  // no career row on or before its period
    {Who::Last, 2008, 1},
};

// Pay group periods of these years, except the one named.
constexpr int kPayGroupYears[] = {2007, 2008};
constexpr int kMissingPeriodYear = 2008, kMissingPeriodMonth = 2;

struct EmployeeValue {
  int position;  // in EMP_NO order
  const char* field;
  const char* value;
};
constexpr EmployeeValue kEmployeeValues[] = {
    {0, "INCOME_TAX_AC_NO", "12/34/5"},  {0, "EMP_PASS_AC_NO", "E1234567A"},  // filled: the pass is not copied
    {1, "INCOME_TAX_AC_NO", ""},         {1, "EMP_PASS_AC_NO", "G1234567X"},  // copied
    {2, "INCOME_TAX_AC_NO", ""},         {2, "EMP_PASS_AC_NO", "wp1234567"},  // small letter: not copied
    {2, "TERMINATION_DATE", "2011-06-30"},                                    // status becomes "T"
    {3, "INCOME_TAX_AC_NO", ""},         {3, "EMP_PASS_AC_NO", "1234567"},    // digit: not copied
    {3, "TERMINATION_DATE", "2011-06-30"}, {3, "TERMINATION_STATUS", "F"},      // keeps "F"
};

// Additional accounts of the first employee; company nullptr: every company.
struct Account {
  const char* company;
  const char* bank_id;
  const char* branch;
  const char* account;
};
constexpr Account kAccounts[] = {
    {nullptr, "POSB", "123", "123456"},
    {nullptr, "7339", "501", "5566778899"},
    // One account under both old codes: neither can be moved.
    {"MERLION", "9812", "081", "999888777"},
    {"MERLION", "POSB", "081", "999888777"},
};

struct Bank {
  const char* company;
  const char* bank_id;
  const char* branch;
  const char* name;
};
constexpr Bank kBanks[] = {{"ORCHID", "7171", "081", "DBS POSB SAVINGS"}};

bool ForCompany(const char* wanted, const DemoCompany& company) {
  return wanted == nullptr || std::string(wanted) == company.code;
}

std::string DateText(double day) {
  const support::CalendarDate d = support::DecodeDate(day);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

std::string Period(int year, int month) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d", year, month);
  return buf;
}

// A table of the company folder, readable whether or not it is encrypted.
class DemoTable {
 public:
  DemoTable(dbaccess::TDbConnection& c, const std::string& name, const std::string& order = "") {
    t_.SetDbConnection(&c);
    t_.SetTableName(name + ".KDT");
    t_.Open();
    if (t_.IsTableEncrypted()) t_.EnableEncryption(support::AdministratorPassword());
    t_.SetIndexFieldNames(order);
  }
  TDbTable* operator->() { return &t_; }
  std::string Text(const char* field) { return t_.FieldByName(field).AsString(); }
  void Add(const std::vector<std::pair<const char*, std::string>>& values) {
    t_.Append();
    for (const auto& [field, value] : values) t_.FieldByName(field).SetAsString(value);
    t_.Post();
  }

 private:
  TDbTable t_;
};

bool InDemoYears(int year, const DemoOptions& o) { return year > o.last_year - o.years && year <= o.last_year; }

}  // namespace

int CareerAndBankPayrollRows(const DemoOptions& options) {
  int rows = 0;
  for (const PayrollRow& r : kPayrollRows) {
    if ((r.who == Who::First || options.employees > 1) && !InDemoYears(r.year, options)) ++rows;
  }
  return rows;
}

void AddCareerAndBankRows(dbaccess::TDbConnection& c, const DemoCompany& company, const DemoOptions& options) {
  std::vector<std::string> employees;
  {
    DemoTable t(c, "EMPLOYEE", "EMP_NO");
    for (t->First(); !t->Eof(); t->Next()) employees.push_back(t.Text("EMP_NO"));
    for (const EmployeeValue& v : kEmployeeValues) {
      if (v.position >= static_cast<int>(employees.size())) continue;
      t->FindKey({employees[static_cast<std::size_t>(v.position)]});
      t->Edit();
      t->FieldByName(v.field).SetAsString(v.value);
      t->Post();
    }
  }
  const std::string& first = employees.front();
  const std::string* last = employees.size() > 1 ? &employees.back() : nullptr;

  {
    DemoTable t(c, "EMP_PROS");
    const double pay_from = support::EncodeDate(kPayFromYear, 1, 1);
    for (t->First(); last != nullptr && !t->Eof(); t->Next()) {
      if (t.Text("EMP_CODE") != *last || t->FieldByName("PAY_EFFECTIVE_DATE").AsDateTime() >= pay_from) continue;
      t->Edit();
      t->FieldByName("PAY_EFFECTIVE_DATE").SetAsString(DateText(pay_from));
      t->Post();
    }
    for (const CareerChange& k : kCareerChanges) {
      t.Add({{"EMP_CODE", first},
             {"PROGRESSION_DATE", k.date},
             {"PAY_EFFECTIVE_DATE", k.date},
             {"CODE", "TRF"},
             {"CATEGORY", k.category},
             {"DEPARTMENT", k.department},
             {"COST_CENTRE", k.cost_centre},
             {"REMARKS", "TRANSFER"}});
    }
  }

  {
    DemoTable t(c, "PGRP_TRX", "PAY_GROUP;PERIOD");
    for (int year : kPayGroupYears) {
      for (int month = 1; month <= 12; ++month) {
        if (year == kMissingPeriodYear && month == kMissingPeriodMonth) continue;
        if (t->FindKey({std::string("MONTHLY"), Period(year, month)})) continue;
        t.Add({{"PAY_GROUP", "MONTHLY"},
               {"PERIOD", Period(year, month)},
               {"START_DATE", DateText(support::EncodeDate(year, month, 0) - 9)},
               {"END_DATE", DateText(support::EncodeDate(year, month, 20))}});
      }
    }
  }

  {
    DemoTable t(c, "P_HTRX", "EMPCODE;PERIOD;CYCLE");
    for (const PayrollRow& r : kPayrollRows) {
      const std::string* employee = r.who == Who::First ? &first : last;
      if (employee == nullptr || InDemoYears(r.year, options)) continue;
      t.Add({{"EMPCODE", *employee},
             {"PERIOD", Period(r.year, r.month)},
             {"CYCLE", "1"},
             {"CATEGORY", "NEX"},
             {"DEPARTMENT", "ADM"},
             {"COSTCENTE", "CC900"},
             {"PAY_DATE", DateText(support::EncodeDate(r.year, r.month, 25))},
             {"BASIC_WAGE", "3000.00"},
             {"GROSS_WAGE", "3000.00"},
             {"CPFEE", "600.00"},
             {"NETT_WAGE", "2400.00"}});
    }
  }

  {
    DemoTable t(c, "EMP_BNK");
    for (const Account& a : kAccounts) {
      if (!ForCompany(a.company, company)) continue;
      t.Add({{"EMP_CODE", first}, {"BANK_ID", a.bank_id}, {"BANK_BRANCH", a.branch}, {"BANK_AC_NO", a.account}});
    }
  }
  {
    DemoTable t(c, "pay_bank");
    for (const Bank& b : kBanks) {
      if (!ForCompany(b.company, company)) continue;
      t.Add({{"BANK_ID", b.bank_id}, {"BANK_BRANCH", b.branch}, {"BANK_NAME", b.name}});
    }
  }
}

}  // namespace kx8::tools
