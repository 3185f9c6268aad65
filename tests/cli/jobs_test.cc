// --jobs: companies upgraded at once, each by a process of its own. On the
// demo root two at a time leave what one after the other leaves (every
// table's structure and rows, the dictionaries, the register, the report's
// records and the output in company order); a company that fails stops no
// other under --keep-going, and without it lets no further company start;
// passes that write the table all companies share take turns; the number
// of jobs is checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "cli/run_report.h"
#include "run_program.h"
#include "support/credentials.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/inspect.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct Upgraded {
  int exit_code = -1;
  std::string out, err;
  Json report;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class JobsTest : public ::testing::Test {
 protected:
  // A demo root of the given companies (all when empty).
  std::string DemoRoot(const std::string& name, std::vector<std::string> companies = {}) {
    const std::string root = dir_.File(name) + "/";
    tools::DemoOptions options;
    options.companies = std::move(companies);
    tools::BuildDemoRoot(root, options);
    return root;
  }

  // kx8-upgrade --batch on root with every question answered Yes and a run
  // report, the program run as an administrator runs it.
  Upgraded Upgrade(const std::string& root, const std::vector<std::string>& args) {
    const fs::path out_file = dir_.File("stdout.txt"), err_file = dir_.File("stderr.txt");
    const fs::path report = dir_.File("report.json");
    fs::remove(report);
    std::vector<std::string> argv = {KX8_UPGRADE_PROGRAM, "--batch", "--root", root, "--yes", "--report", report.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    Upgraded r;
    r.exit_code = RunProgramInto(argv, "/dev/null", out_file.string(), err_file.string());
    r.out = ReadFile(out_file);
    r.err = ReadFile(err_file);
    // A command line refused at once leaves no report.
    if (fs::exists(report)) r.report = ReadReport(report.string());
    return r;
  }

  // What a run leaves in the company folders and the register: each
  // company's files, each table's structure and rows (read through the
  // company's dictionary when it has one), and the dictionary itself.
  static std::map<std::string, std::string> EndState(const std::string& root) {
    std::map<std::string, std::string> state;
    for (const tools::DemoCompany& company : tools::DemoCompanies()) {
      const fs::path folder = fs::path(root) / "COMPANY" / company.code;
      if (!fs::exists(folder)) continue;
      const std::string path = root + "COMPANY\\" + company.code;
      const std::string kdd = path + "\\" + company.code + ".kdd";
      std::string files;
      for (const fs::directory_entry& e : fs::directory_iterator(folder)) files += e.path().filename().string() + " ";
      state[std::string(company.code) + " files"] = files;
      if (company.dictionary) {
        std::ostringstream dictionary;
        tools::DescribeDictionary(kdd, "", "", dictionary);
        state[std::string(company.code) + " dictionary"] = dictionary.str();
      }
      for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
        if (e.path().extension() != ".KDT") continue;
        const std::string table = e.path().stem().string();
        std::ostringstream structure, rows;
        if (company.dictionary) {
          tools::DescribeDictionaryTable(kdd, table, "", "", structure);
          tools::RunStatement(kdd, "SELECT * FROM " + table, "", "", rows);
        } else {
          tools::DescribeTable(path + "\\" + table + ".KDT", structure);
          tools::DumpTable(path + "\\" + table + ".KDT", support::AdministratorPassword(), rows);
        }
        state[std::string(company.code) + " " + table] = structure.str() + rows.str();
      }
    }
    std::ostringstream register_rows;
    tools::DumpTable(root + "mcompany.KDT", "", register_rows);
    state["register"] = register_rows.str();
    return state;
  }

  // A company's record in a report without what differs from run to run:
  // times, and the backup's name, which holds the time it was taken.
  static Json Record(Json company) {
    for (const char* field : {"started", "ended", "seconds", "backup"}) company.erase(field);
    for (Json& step : company["steps"]) {
      step.erase("started");
      step.erase("seconds");
    }
    return company;
  }

  // The output with the root named ROOT and the times of the closing table
  // left out.
  static std::string Comparable(const std::string& out, const std::string& root) {
    std::string text = std::regex_replace(out, std::regex(root), "ROOT/");
    return std::regex_replace(text, std::regex("[0-9]+:[0-9]{2}\\.[0-9]"), "TIME");
  }

  static std::vector<std::string> Outcomes(const Json& report) {
    std::vector<std::string> outcomes;
    for (const Json& c : report["companies"]) outcomes.push_back(c["code"].get<std::string>() + " " + c["outcome"].get<std::string>());
    return outcomes;
  }

  static std::vector<std::string> Selection(const std::string& root) {
    std::ostringstream rows;
    tools::RunStatement(root, "SELECT COMPANY_CODE, MERGE FROM mcompany ORDER BY COMPANY_CODE", "", "", rows);
    std::vector<std::string> lines;
    std::istringstream in(rows.str());
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    lines.erase(lines.begin());  // the header
    return lines;
  }

  testing::TempDir dir_{"kx8-jobs"};
};

TEST_F(JobsTest, TwoAtOnceLeaveWhatOneAfterTheOtherLeaves) {
  const std::vector<std::string> options = {"--select-all", "--set", "CheckBoxVol=1", "--set", "CheckBoxClaim=1",
                                            "--set", "CheckBoxEducate=1"};
  const std::string one_root = DemoRoot("one"), two_root = DemoRoot("two");
  std::vector<std::string> one_args = options, two_args = options;
  two_args.insert(two_args.end(), {"--jobs", "2"});
  Upgraded one = Upgrade(one_root, one_args);
  Upgraded two = Upgrade(two_root, two_args);

  ASSERT_EQ(one.exit_code, 0) << one.err;
  EXPECT_EQ(two.exit_code, one.exit_code) << two.err;
  EXPECT_EQ(two.err, one.err);
  // The passes' output, held back while they ran, comes in company order.
  EXPECT_EQ(Comparable(two.out, two_root), Comparable(one.out, one_root));

  const std::map<std::string, std::string> one_state = EndState(one_root), two_state = EndState(two_root);
  ASSERT_EQ(one_state.size(), two_state.size());
  for (const auto& [what, state] : one_state) {
    ASSERT_TRUE(two_state.contains(what)) << what;
    EXPECT_EQ(two_state.at(what), state) << what;
  }
  // The register: every selection cleared.
  EXPECT_THAT(Selection(two_root), ElementsAre("ACME,", "MERLION,", "ORCHID,"));

  EXPECT_EQ(two.report["run"], "completed");
  EXPECT_EQ(two.report["options"], one.report["options"]);
  ASSERT_EQ(two.report["companies"].size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Record(two.report["companies"][i]), Record(one.report["companies"][i]));
    EXPECT_FALSE(two.report["companies"][i]["backup"].is_null());
  }
}

// ACME's folder is gone: its pass fails at once, while MERLION's runs.
TEST_F(JobsTest, AFailedCompanyStopsNoOtherUnderKeepGoing) {
  const std::string root = DemoRoot("root");
  fs::remove_all(fs::path(root) / "COMPANY" / "ACME");
  Upgraded r = Upgrade(root, {"--select-all", "--force", "--keep-going", "--jobs", "2"});
  EXPECT_EQ(r.exit_code, 1);
  // ORCHID started after ACME failed.
  EXPECT_THAT(Outcomes(r.report), ElementsAre("ACME failed", "MERLION done", "ORCHID done"));
  EXPECT_EQ(r.report["run"], "completed");
  EXPECT_THAT(r.report["companies"][0]["error"].get<std::string>(), HasSubstr("COMPANY\\ACME"));
  EXPECT_THAT(r.err, HasSubstr("Error: "));
  EXPECT_THAT(r.out, HasSubstr("Companies: 2 done, 0 skipped, 1 failed; run time "));
  // The failed company stays selected for --retry-failed or the next run.
  EXPECT_THAT(Selection(root), ElementsAre("ACME,1", "MERLION,", "ORCHID,"));
  EXPECT_EQ(CompaniesToRetry(r.report), std::vector<std::string>{"ACME"});
}

// Without --keep-going the failure ends the run as it does one company
// after the other: MERLION, started beside ACME, finishes; ORCHID never
// starts; the selection stays.
TEST_F(JobsTest, WithoutKeepGoingAFailureLetsNoFurtherCompanyStart) {
  const std::string root = DemoRoot("root");
  fs::remove_all(fs::path(root) / "COMPANY" / "ACME");
  Upgraded r = Upgrade(root, {"--select-all", "--force", "--jobs", "2"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(Outcomes(r.report), ElementsAre("ACME stopped", "MERLION done", "ORCHID not-reached"));
  EXPECT_EQ(r.report["run"], "failed");
  EXPECT_THAT(r.out, HasSubstr("  ACME: stopped by the error that ended the run, 1 message"));
  EXPECT_THAT(Selection(root), ElementsAre("ACME,1", "MERLION,1", "ORCHID,1"));
}

// The supervisor option's pass writes the one table of the shared folder
// for every company: under --jobs those passes take turns.
TEST_F(JobsTest, PassesWritingTheSharedSupervisorTableTakeTurns) {
  const std::string root = DemoRoot("root");
  Upgraded r = Upgrade(root, {"--select-all", "--set", "CheckBoxSupvr1=1", "--jobs", "3"});
  EXPECT_NE(r.exit_code, 2) << r.err;
  EXPECT_THAT(r.err, HasSubstr("the companies are upgraded one at a time"));
  EXPECT_THAT(Outcomes(r.report),
              ElementsAre("ACME exclusive-option", "MERLION exclusive-option", "ORCHID exclusive-option"));
  const Json& companies = r.report["companies"];
  for (std::size_t i = 1; i < companies.size(); ++i) {
    // Times of one form compare as text.
    EXPECT_GE(companies[i]["started"].get<std::string>(), companies[i - 1]["ended"].get<std::string>()) << i;
  }
}

TEST_F(JobsTest, TheNumberOfJobsIsFromOneToSixtyFour) {
  const std::string root = DemoRoot("root", {"ACME"});
  const std::map<std::string, std::string> before = EndState(root);
  for (const char* jobs : {"0", "65", "-1", "2x", ""}) {
    SCOPED_TRACE(jobs);
    Upgraded r = Upgrade(root, {"--select-all", "--jobs", jobs});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_THAT(r.err, HasSubstr("--jobs"));
    EXPECT_TRUE(r.report.is_null());
  }
  EXPECT_EQ(EndState(root), before);
}

}  // namespace
}  // namespace kx8::cli
