// kx8db: builds demo and test data folders, dumps tables and structures,
// runs SQL and checks a company against the release.
#include "console/preflight.h"
#include "console/restore.h"
#include "platform/console_ui.h"
#include "platform/path.h"
#include "schema/catalogue.h"
#include "schema/report_fields.h"
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

#include "platform/path.h"
#include "tools/demo_builder.h"
#include "platform/durable_file.h"
#include "tools/inspect.h"
#include "tools/report_html.h"
#include "tools/plan.h"
#include "tools/verify.h"

namespace {

using namespace kx8::tools;

bool IsDictionaryPath(const std::string& path) {
  return path.size() >= 4 && kx8::platform::SameNameIgnoreCase(path.substr(path.size() - 4), ".kdd");
}

void PrintDemo(const std::string& root, const DemoOptions& o) {
  const std::string r = WithSeparator(root);
  DemoCounts counts = ExpectedCounts(o);
  std::cout << "Created the demo root " << r << "\n";
  std::cout << "  " << r << "mcompany.KDT: " << DemoCompanies().size() << " companies\n";
  for (const DemoCompany& c : DemoCompanies()) {
    char release[16];
    std::snprintf(release, sizeof release, "%.2f", c.release);
    std::cout << "  " << r << "COMPANY\\" << c.code << ": " << c.name << ", release " << release << ", "
              << (c.dictionary ? std::string("data dictionary ") + c.code + ".kdd" : std::string("free tables"))
              << (c.customer_tables ? ", customer-specific tables" : "") << ", " << counts.employees << " employees, "
              << counts.payroll_rows << " payroll rows\n";
  }
  std::cout << "  " << r << "SHARE_FOLDER\\SUPVRTBL, " << r << "KELPATMP\\, " << r << "IMAGE\\\n";
  std::cout << "  " << r << "UPDATEKX8.ZIP, " << r << "RPTDATA.ZIP, " << r << "wallpaper.zip, " << r << "KELPA.ini\n";
}

// "NAME=0|1" for a check box or radio button of the run's options; false
// after saying what is wrong.
bool SetOption(kx8::console::RunOptions& options, const std::string& arg) {
  const std::size_t eq = arg.find('=');
  const std::string name = arg.substr(0, eq);
  const kx8::console::OptionControl* control = kx8::console::FindOptionControl(name);
  const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
  if (control == nullptr || control->kind == kx8::console::ControlKind::Edit || (value != "0" && value != "1")) {
    std::cerr << "--set " << arg << ": expected NAME=0 or NAME=1 for a check box or radio button\n";
    return false;
  }
  options.SetChecked(name, value == "1");
  return true;
}

// Every company of the register: one line per problem, then a closing
// line; 1 when there is a problem.
int RunPreflight(const std::string& root, std::ostream& out) {
  const std::vector<std::string> codes = kx8::console::RegisteredCodes(root);
  kx8::console::PreflightResult r = kx8::console::Preflight(root, codes);
  for (const std::string& p : r.problems) out << p << "\n";
  out << "Preflight: " << codes.size() << (codes.size() == 1 ? " company, " : " companies, ")
      << (r.bytes_free >> 20) << " MB free, about " << ((r.bytes_needed + (1u << 20) - 1) >> 20)
      << " MB needed; ";
  if (r.problems.empty()) {
    out << "no problems\n";
  } else {
    out << r.problems.size() << (r.problems.size() == 1 ? " problem\n" : " problems\n");
  }
  return r.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kx8db: demo data, table dumps, structures, SQL and release checks for KX8 company databases"};
  app.require_subcommand(1);

  DemoOptions demo;
  std::string root;
  CLI::App* demo_cmd = app.add_subcommand("demo", "Create a root folder of company databases at older releases");
  demo_cmd->add_option("ROOT", root, "Root folder to create")->required();
  demo_cmd->add_option("--employees", demo.employees, "Employees per company")->check(CLI::Range(1, 99999));
  demo_cmd->add_option("--years", demo.years, "Years of monthly payroll history")->check(CLI::Range(1, 30));
  demo_cmd->add_option("--seed", demo.seed, "Seed of the generated rows");

  std::string table, password, user, path, statement;
  CLI::App* dump_cmd = app.add_subcommand("dump", "Print the rows of a table as CSV");
  dump_cmd->add_option("TABLE", table, "Table file")->required();
  dump_cmd->add_option("--password", password, "Encryption password of the table");

  CLI::App* schema_cmd = app.add_subcommand("schema", "Print the structure of a table or of a data dictionary");
  std::string dictionary_table;
  schema_cmd->add_option("TABLE", table, "Table file, or a .kdd data dictionary")->required();
  schema_cmd->add_option("DICTIONARY_TABLE", dictionary_table, "With a .kdd: one of its tables");
  schema_cmd->add_option("--user", user, "Dictionary user (default: the administrator)");
  schema_cmd->add_option("--password", password, "Dictionary password");

  CLI::App* sql_cmd = app.add_subcommand("sql", "Run one SQL statement on a folder or a data dictionary");
  sql_cmd->add_option("PATH", path, "Folder of free tables, or a .kdd data dictionary")->required();
  sql_cmd->add_option("STATEMENT", statement, "The statement")->required();
  sql_cmd->add_option("--user", user, "Dictionary user (default: the administrator)");
  sql_cmd->add_option("--password", password, "Dictionary password, or the tables' encryption password");

  std::string company;
  CLI::App* verify_cmd = app.add_subcommand("verify", "Check a company folder against the release");
  verify_cmd->add_option("COMPANY_FOLDER", company, "Company folder")->required();

  std::string archive, folder;
  bool yes = false;
  CLI::App* restore_cmd = app.add_subcommand("restore", "Put a company's files back from its backup archive");
  restore_cmd->add_option("ARCHIVE", archive, "The backup archive")->required();
  restore_cmd->add_option("FOLDER", folder, "The company folder")->required();
  restore_cmd->add_flag("--yes", yes, "Replace the files without asking");

  CLI::App* catalogue_cmd =
      app.add_subcommand("catalogue", "Print the release's column catalogue (run, table, flag, column, code, size)");
  bool reports = false;
  catalogue_cmd->add_flag("--reports", reports,
                          "Print the report field catalogue instead (where, rule and the nine RTABLE values)");

  std::string preflight_root;
  CLI::App* preflight_cmd =
      app.add_subcommand("preflight", "Check the companies of a root folder before a run, changing nothing");
  preflight_cmd->add_option("ROOT", preflight_root, "Root folder (of mcompany.KDT and COMPANY\\)")->required();

  std::string report_file, html_file;
  CLI::App* report_cmd = app.add_subcommand("report", "Show a run report of kx8-upgrade --report as a web page");
  report_cmd->add_option("FILE", report_file, "The run report (JSON)")->required();
  report_cmd->add_option("--html", html_file, "The page to write")->required()->type_name("OUT.html");
  std::string plan_folder;
  std::vector<std::string> plan_sets;
  CLI::App* plan_cmd = app.add_subcommand(
      "plan", "Print what a pass would do to a company (columns, steps, tables rewritten), changing nothing");
  plan_cmd->add_option("COMPANY_FOLDER", plan_folder, "Company folder")->required();
  plan_cmd->add_option("--set", plan_sets, "Tick (1) or untick (0) an option by its component name, as the "
                                           "batch run's --set")
      ->type_name("NAME=0|1")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

  CLI11_PARSE(app, argc, argv);

  // Relative paths are taken from the current folder.
  for (std::string* p : {&root, &table, &path, &company, &archive, &folder, &preflight_root, &report_file, &html_file, &plan_folder}) {
    if (!p->empty()) *p = kx8::platform::MakeAbsolute(*p);
  }
  try {
    if (*demo_cmd) {
      BuildDemoRoot(root, demo);
      PrintDemo(root, demo);
    } else if (*dump_cmd) {
      DumpTable(table, password, std::cout);
    } else if (*schema_cmd) {
      if (IsDictionaryPath(table) && !dictionary_table.empty()) {
        DescribeDictionaryTable(table, dictionary_table, user, password, std::cout);
      } else if (IsDictionaryPath(table)) {
        DescribeDictionary(table, user, password, std::cout);
      } else if (!dictionary_table.empty()) {
        throw std::runtime_error("A table is named after a data dictionary (CODE.kdd TABLE), not after " + table + ".");
      } else {
        DescribeTable(table, std::cout);
      }
    } else if (*sql_cmd) {
      RunStatement(path, statement, user, password, std::cout);
    } else if (*restore_cmd) {
      auto ui = kx8::platform::ConsoleUi::ForTerminal(yes ? kx8::platform::ConfirmPolicy::AlwaysYes
                                                          : kx8::platform::ConfirmPolicy::AskOnTerminal);
      return kx8::console::RestoreCompany(archive, folder, ui) == kx8::console::RestoreOutcome::Restored ? 0 : 1;
    } else if (*catalogue_cmd) {
      if (reports) {
        kx8::schema::WriteReportFieldListing(std::cout);
      } else {
        kx8::schema::WriteCatalogueListing(std::cout);
      }
    } else if (*plan_cmd) {
      kx8::console::RunOptions options;
      for (const std::string& set : plan_sets) {
        if (!SetOption(options, set)) return 2;
      }
      WritePlan(PlanCompany(plan_folder, options), std::cout);
    } else if (*preflight_cmd) {
      return RunPreflight(WithSeparator(preflight_root), std::cout);
    } else if (*report_cmd) {
      kx8::platform::WriteFileDurably(html_file, ReportHtml(kx8::cli::ReadReport(report_file)));
    } else if (*verify_cmd) {
      std::vector<std::string> differences = VerifyCompany(company, ReleaseColumns());
      for (const std::string& d : differences) std::cout << d << "\n";
      return differences.empty() ? 0 : 1;
    }
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
