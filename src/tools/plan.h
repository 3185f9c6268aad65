// What a pass would do to one company, worked out without changing it: the
// company is opened read-only, the column catalogue is walked as a pass
// walks it (its gates read from the options and the stored version), and
// every column entry is decided as the column upgrade primitive decides it
// against the table's columns as the entries before it leave them.
//
// Each entry ends in one action:
//   add      the column is missing (or an auto-increment NO or ID column
//            that an entry other than "AI" names): the pass adds it
//   widen    an "AS"/"IC" column that is a narrower character column
//   narrow   an "AS"/"IC" column that is a wider character column
//   retype   an "AS"/"IC" column that is not a character column, or an
//            auto-increment NO or ID column that "AI" turns into an integer
//   remove   the column removal step drops a column the table has
//   leave    the column is already in the entry's form
//   fail     the entry names a column the table lacks, and its code has no
//            way to add it ("AS", "IC" and "AI" only change a column): the
//            pass shows the primitive's message
//   no table the company lacks the table: the pass skips the entry quietly
//
// Two steps outside the catalogue change columns and are planned with it:
// the levy table update adds FW_LEVY PERIOD_PART (run 0 in the plan), and
// the column removal step of run 14 drops a column. The steps of a pass
// that are not column entries are listed by name, in pass order, as the options and the kind of company select them. Bytes
// rewritten are estimated at one rewrite of the table's files for each
// change (every ALTER TABLE rewrites them), and two more for each change to
// a free table stored encrypted (it is decrypted for the change and
// encrypted again).
#ifndef KX8_TOOLS_PLAN_H_
#define KX8_TOOLS_PLAN_H_

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "console/options.h"
#include "dbaccess/db_types.h"

namespace kx8::tools {

struct PlannedColumn {
  int run = 0;  // 0: the levy table update, outside the catalogue
  std::string table, column, code, size;
  std::string action;
  // The column before and after the entry; no value when it is missing.
  std::optional<dbaccess::TFieldDef> before, after;
};

struct PlannedTable {
  std::string table;
  std::uint64_t bytes = 0;  // its .KDT, .KDI and .KDM files now
  int changes = 0;
  bool encrypted = false;   // a free table stored encrypted
};

struct CompanyPlan {
  std::string folder;
  bool dictionary = false;
  std::int64_t version = 0;           // stored release version, ten-thousandths
  std::string exclusive_option;       // the option whose work ends the pass, if any
  std::vector<PlannedColumn> columns;  // every entry the pass reaches, in order
  std::vector<std::string> steps;      // the other steps, in pass order
  std::vector<PlannedTable> tables;    // the tables the pass rewrites, in order of first change
  std::uint64_t bytes_rewritten = 0;
  std::vector<std::string> messages;   // what the walk itself would show
};

// The plan of the company in folder under the options. Raises when the
// folder cannot be read.
CompanyPlan PlanCompany(const std::string& folder, const console::RunOptions& options);

// The plan as kx8db plan prints it.
void WritePlan(const CompanyPlan& plan, std::ostream& out);

// "char 12", "integer", ... for a column; "-" when it is missing.
std::string ShapeText(const std::optional<dbaccess::TFieldDef>& field);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_PLAN_H_
