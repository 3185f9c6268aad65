// Builds a root folder of company databases at older releases, for the
// demo, the tests and the benchmarks:
//
//   mcompany.KDT            the company register, one row per company
//   COMPANY\<code>\         the company folders (free tables, or tables
//                           bound to the data dictionary <code>.kdd)
//   SHARE_FOLDER\SUPVRTBL   the supervisor table shared by all companies
//   KELPATMP\               temporary tables of an earlier run
//   IMAGE\                  where the wallpaper goes
//   UPDATEKX8.ZIP           the release's template tables and "rUzevUroda.kep"
//   RPTDATA.ZIP             the report-writer tables
//   wallpaper.zip           "wallpaper.jpg"
//   KELPA.ini               an example configuration
//
// Everything is deterministic for a seed: the same options give the same
// rows.
#ifndef KX8_TOOLS_DEMO_BUILDER_H_
#define KX8_TOOLS_DEMO_BUILDER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/demo_tables.h"

namespace kx8::tools {

struct DemoCompany {
  const char* code;      // register code and folder name
  const char* name;      // register COMPANY_NAME and PAYPARA1 COMPANY
  double release;        // PAYPARA VERSION
  bool dictionary;       // tables bound to the data dictionary <code>.kdd
  bool customer_tables;  // holds the customer-specific tables
};

// The companies of a demo root, in register order.
std::span<const DemoCompany> DemoCompanies();

struct DemoOptions {
  int employees = 4;  // per company
  int years = 1;      // of monthly payroll history, ending with last_year
  std::uint64_t seed = 1;
  int last_year = 2012;
  // Codes of the companies to build; empty: all of DemoCompanies().
  std::vector<std::string> companies;
};

// The rows the demo writes for one company, by table, as the options ask
// for them (what the tests count).
struct DemoCounts {
  int employees = 0;     // EMPLOYEE
  int payroll_rows = 0;  // P_HTRX: every employee, every month of the years, and the career demo's rows
};
DemoCounts ExpectedCounts(const DemoOptions& options);

// The password of each dictionary user the demo creates, and the rights
// every dictionary table grants them.
struct DictionaryUser {
  const char* name;
  const char* password;
  const char* rights;
};
std::span<const DictionaryUser> DemoDictionaryUsers();

// The columns of a demo table at a company's release: as the releases
// before 8.60 left them; at 8.60 or later with the entries of run 14 of the
// column catalogue applied (what those releases added); at the current
// release (9.07) with every entry applied in issue order, as a full upgrade
// leaves them. Applying an entry adds a missing column, resizes a present
// one (AS, IC) or turns an auto-increment column into an integer one (AI).
std::vector<FieldSpec> FieldsAtRelease(const TableDefinition& def, double release);

// Builds the whole root folder. The folder is created when missing; it must
// not hold a register yet. Raises with a clear text on any failure.
void BuildDemoRoot(const std::string& root, const DemoOptions& options);

// Builds one company folder (root + "COMPANY\" + code) and nothing else.
void BuildDemoCompany(const std::string& root, const DemoCompany& company, const DemoOptions& options);

// Root + separator when the root does not end in one.
std::string WithSeparator(const std::string& root);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_DEMO_BUILDER_H_
