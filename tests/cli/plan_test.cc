// kx8db plan against real passes: what it predicts for every column entry
// and table is what a batch run then does, on a company of an older release
// with most of the release's columns missing and some at older widths, and
// on one already at the release; and planning changes nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cli/batch_run.h"
#include "console/options.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "schema/release_check.h"
#include "testing/folder_snapshot.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/plan.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::IsSubsetOf;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

using testing::Snapshot;

class PlanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir("kx8-plan", testing::TempDir::Place::Memory);
    root_ = dir_->File("root") + "/";
    tools::DemoOptions o;
    o.companies = {"ACME", "MERLION"};
    tools::BuildDemoRoot(root_, o);
  }
  static void TearDownTestSuite() { delete dir_; }

  static std::string Folder(const std::string& code) { return root_ + "COMPANY\\" + code; }

  // The shape of every column of every table the company has, by
  // "TABLE COLUMN".
  static std::map<std::string, std::string> Columns(const std::string& code) {
    dbaccess::TDbConnection c;
    const std::string folder = schema::ConnectToCompany(c, Folder(code));
    std::map<std::string, std::string> shapes;
    for (const fs::directory_entry& e : fs::directory_iterator(fs::path(dir_->path()) / "root" / "COMPANY" / code)) {
      if (Upper(e.path().extension().string()) != ".KDT") continue;
      dbaccess::TDbTable t;
      t.SetDbConnection(&c);
      t.SetTableName(e.path().stem().string());
      t.SetReadOnly(true);
      t.Open();
      for (const dbaccess::TFieldDef& f : t.FieldDefs().Items()) {
        shapes[Upper(e.path().stem().string() + " " + f.Name)] = tools::ShapeText(f);
      }
      t.Close();
    }
    return shapes;
  }

  static testing::TempDir* dir_;
  static std::string root_;
};

testing::TempDir* PlanTest::dir_ = nullptr;
std::string PlanTest::root_;

TEST_F(PlanTest, APassDoesWhatThePlanSaid) {
  const console::RunOptions options;
  const auto files_before = Snapshot(fs::path(dir_->path()) / "root");
  std::map<std::string, tools::CompanyPlan> plans;
  std::map<std::string, std::map<std::string, std::string>> before;
  for (const char* code : {"ACME", "MERLION"}) {
    plans[code] = tools::PlanCompany(Folder(code), options);
    before[code] = Columns(code);
  }
  // Planning wrote nothing, nor touched a file's time.
  EXPECT_EQ(Snapshot(fs::path(dir_->path()) / "root"), files_before);

  std::ostringstream out, err;
  std::istringstream in;
  ASSERT_NE(BatchMain({"--batch", "--root", root_, "--select-all", "--yes"}, out, err, in, false), 2) << err.str();

  for (const char* code : {"ACME", "MERLION"}) {
    SCOPED_TRACE(code);
    const tools::CompanyPlan& plan = plans[code];
    const std::map<std::string, std::string> after = Columns(code);
    // Each column the plan names ends as its last entry leaves it.
    std::map<std::string, std::string> predicted;
    for (const tools::PlannedColumn& p : plan.columns) {
      if (p.action != "no table") predicted[Upper(p.table + " " + p.column)] = tools::ShapeText(p.after);
    }
    for (const auto& [column, shape] : predicted) {
      auto it = after.find(column);
      EXPECT_EQ(it == after.end() ? "-" : it->second, shape) << column;
    }
    // The tables whose columns end otherwise than they began are those the
    // plan says; some it rewrites end as they began (a width set twice).
    std::set<std::string> rewritten, changed_as_planned;
    for (const tools::PlannedTable& t : plan.tables) rewritten.insert(Upper(t.table));
    for (const auto& [column, shape] : predicted) {
      auto was = before[code].find(column);
      if ((was == before[code].end() ? "-" : was->second) != shape) {
        changed_as_planned.insert(column.substr(0, column.find(' ')));
      }
    }
    std::set<std::string> changed;
    for (const auto& [column, shape] : after) {
      auto was = before[code].find(column);
      if (was == before[code].end() || was->second != shape) changed.insert(column.substr(0, column.find(' ')));
    }
    for (const auto& [column, shape] : before[code]) {
      if (after.count(column) == 0) changed.insert(column.substr(0, column.find(' ')));
    }
    EXPECT_THAT(changed, IsSubsetOf(rewritten));
    EXPECT_EQ(changed, changed_as_planned);
  }
  // The upgraded company's next pass changes only the widths the release
  // sets twice.
  const tools::CompanyPlan again = tools::PlanCompany(Folder("ACME"), options);
  std::set<std::string> rewritten;
  for (const tools::PlannedTable& t : again.tables) rewritten.insert(t.table);
  EXPECT_THAT(rewritten, IsSubsetOf(std::set<std::string>{"GLLINE", "GLHEADER", "GLBODY", "EMPLOYEE", "CODE"}));
  EXPECT_GT(plans["ACME"].bytes_rewritten, plans["MERLION"].bytes_rewritten);
}

TEST_F(PlanTest, OptionsChooseTheRunsAndTheExclusiveWork) {
  struct Case {
    const char* option;
    const char* exclusive;  // the step that ends the pass, "" for none
    int last_run;           // the last run with an entry
    bool run6;              // entries of run 6 are planned
  };
  const Case cases[] = {
      {"", "", 15, false},
      {"chkAC", "", 15, true},
      {"removeNRIC", "RemoveNricSlash", 0, false},
      {"CheckBoxCTR", "ConvertCostCentreCodes", 7, false},
      {"CheckBoxFin", "IncomeTaxNumberFromPass", 7, false},
      {"CheckBoxRearrange", "RearrangeAllowanceColumns", 10, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    console::RunOptions options;
    if (*c.option != '\0') options.SetChecked(c.option, true);
    const tools::CompanyPlan plan = tools::PlanCompany(Folder("MERLION"), options);
    EXPECT_EQ(plan.exclusive_option, c.exclusive);
    int last_run = 0;
    bool run6 = false;
    for (const tools::PlannedColumn& p : plan.columns) {
      last_run = std::max(last_run, p.run);
      run6 = run6 || p.run == 6;
    }
    EXPECT_EQ(last_run, c.last_run);
    EXPECT_EQ(run6, c.run6);
    if (*c.exclusive != '\0') {
      EXPECT_EQ(plan.steps.back(), c.exclusive);
    }
  }
}

}  // namespace
}  // namespace kx8::cli
