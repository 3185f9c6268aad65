// The batch front end: kx8-upgrade --batch run as a program on temporary
// root folders, and the same front end driven in-process for the tables of
// flags.
#include <algorithm>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/batch_run.h"
#include "dbaccess/db_scoped_table.h"
#include "platform/durable_file.h"
#include "run_program.h"
#include "test_root.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const char kProceed[] = "Do you wish to proceed this function ? [Yes/No] ";
const char kOpenFailedTail[] =
    " This Function requires exclusive right to perform this function. Please ensure User logout the application.!";

struct Result {
  int exit_code = -1;
  std::vector<std::string> out, err;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("kx8-cli-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_);
    root_ = (base_ / "root").string() + "/";
  }
  void TearDown() override { fs::remove_all(base_); }

  // Runs the program with standard input from stdin_path.
  Result RunProgram(const std::vector<std::string>& args, const std::string& stdin_path = "/dev/null") {
    fs::path out_file = base_ / "stdout.txt", err_file = base_ / "stderr.txt";
    std::vector<std::string> argv = {KX8_UPGRADE_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    Result r;
    r.exit_code = RunProgramInto(argv, stdin_path, out_file.string(), err_file.string());
    r.out = Lines(ReadFile(out_file));
    r.err = Lines(ReadFile(err_file));
    return r;
  }

  Result RunInProcess(const std::vector<std::string>& args, const std::string& input = "", bool interactive = false) {
    std::ostringstream out, err;
    std::istringstream in(input);
    Result r;
    r.exit_code = BatchMain(args, out, err, in, interactive);
    r.out = Lines(out.str());
    r.err = Lines(err.str());
    return r;
  }

  // The lines that mark where a run is: the questions, the company's
  // connect path when it is connected ("edtdatabase: ") and again at the
  // reconnection half-way through a pass ("Edit2: "), which a pass ended by
  // an exclusive option before it does not reach. The units of work in
  // between ("Edit1: ", messages of guarded steps) grow with the steps.
  static std::vector<std::string> Milestones(const std::vector<std::string>& lines, const std::string& root) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
      if (line.find(" [Yes/No] ") != std::string::npos || line.rfind("edtdatabase: ", 0) == 0 ||
          line.rfind("Edit2: " + root, 0) == 0) {
        out.push_back(line);
      }
    }
    return out;
  }
  std::vector<std::string> FullPass(const std::string& root, const std::string& code) {
    return {"edtdatabase: " + root + "COMPANY\\" + code, "Edit2: " + root + "COMPANY\\" + code};
  }
  std::vector<std::string> ShortPass(const std::string& root, const std::string& code) {
    return {"edtdatabase: " + root + "COMPANY\\" + code};
  }

  fs::path base_;
  std::string root_;
};

TEST_F(BatchTest, ACompleteRunPrintsItsLinesEncryptsAndClearsTheSelection) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", ""}, {"BETA", "Beta Pte Ltd", "0"}});
  fs::path log = base_ / "upgrade.log";
  std::ofstream(log) << "an earlier run\n";
  // The root without its trailing separator: one is added.
  std::string root_arg = root_.substr(0, root_.size() - 1);
  Result r = RunProgram({"--batch", "--root", root_arg, "--yes", "--select", "ACME", "--log", log.string()});
  // The fixture's company lacks most of the release's tables and columns,
  // so the pass shows messages: the run says so in its summary and ends
  // with exit code 1, though the company was upgraded.
  ASSERT_EQ(r.exit_code, 1) << ::testing::PrintToString(r.err);
  auto summary = std::find(r.out.begin(), r.out.end(), "Summary: 1 company, 0 without a message, 1 to look at:");
  ASSERT_NE(summary, r.out.end());
  ASSERT_NE(summary + 1, r.out.end());
  EXPECT_THAT(summary[1], StartsWith("  ACME: upgraded, "));
  // The table of companies closes the run.
  EXPECT_THAT(r.out.back(), StartsWith("Companies: 1 done, 0 skipped, 0 failed; run time "));
  std::vector<std::string> expected = {std::string(kProceed) + "Yes"};
  for (const std::string& line : FullPass(root_, "ACME")) expected.push_back(line);
  EXPECT_THAT(Milestones(r.out, root_), ElementsAreArray(expected));
  EXPECT_EQ(r.out.front(), expected.front());
  EXPECT_THAT(r.err, IsEmpty());
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME=", "BETA="));
  // The pass went to its end: the release version is stamped.
  EXPECT_EQ(testroot::StoredVersion(root_, "ACME"), "9.07");
  EXPECT_EQ(testroot::StoredVersion(root_, "BETA"), "8.5");
  // The log: what was there, then every line printed.
  std::vector<std::string> logged = {"an earlier run"};
  logged.insert(logged.end(), r.out.begin(), r.out.end());
  EXPECT_THAT(Lines(ReadFile(log)), ElementsAreArray(logged));
}

TEST_F(BatchTest, WithoutYesAndWithoutATerminalTheRunIsDeclined) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", ""}});
  Result r = RunProgram({"--batch", "--root", root_, "--select", "ACME"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_THAT(r.out, ElementsAre(std::string(kProceed) + "No"));
  EXPECT_THAT(r.err, IsEmpty());
  // The tick was saved; nothing ran.
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME=1"));
  EXPECT_EQ(testroot::StoredVersion(root_, "ACME"), "8.5");
}

TEST_F(BatchTest, AnErrorEndsTheRunAfterTheErrorReportWithExitOne) {
  // GHOST is registered and selected but has no folder: connecting it fails
  // after ACME was done (a short pass: only the identity-number step).
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"}, {"GHOST", "Ghost Pte Ltd", "1", false}});
  fs::path log = base_ / "upgrade.log";
  // The checks before the run find the missing folder; forced past them,
  // the run meets it.
  Result r = RunProgram(
      {"--batch", "--root", root_, "--yes", "--set", "removeNRIC=1", "--log", log.string(), "--force"});
  EXPECT_EQ(r.exit_code, 1);
  std::vector<std::string> expected = {std::string(kProceed) + "Yes"};
  for (const std::string& line : ShortPass(root_, "ACME")) expected.push_back(line);
  EXPECT_THAT(Milestones(r.out, root_), ElementsAreArray(expected));
  ASSERT_EQ(r.err.size(), 2u) << ::testing::PrintToString(r.err);
  EXPECT_EQ(r.err[0], "Preflight: GHOST: the company folder " + root_ + "COMPANY\\GHOST does not exist");
  EXPECT_THAT(r.err[1], StartsWith("Error: "));
  EXPECT_THAT(r.err[1], EndsWith("DbConnection1 " + root_ + "COMPANY\\GHOST"));
  // The selection stays for the next start.
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME=1", "GHOST=1"));
  // The summary names the company the error stopped.
  EXPECT_THAT(r.out, Contains("  GHOST: stopped by the error that ended the run, 1 message"));
  // The log has both streams, in order: the checks' finding, the run, the
  // error report, then the summary.
  auto summary = std::find_if(r.out.begin(), r.out.end(), [](const std::string& l) { return l.rfind("Summary: ", 0) == 0; });
  std::vector<std::string> logged = {r.err[0]};
  logged.insert(logged.end(), r.out.begin(), summary);
  logged.push_back(r.err[1]);
  logged.insert(logged.end(), summary, r.out.end());
  EXPECT_THAT(Lines(ReadFile(log)), ElementsAreArray(logged));
}

TEST_F(BatchTest, TheProgramExitsWithTwoOnBadArgumentsAndZeroAfterHelp) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", ""}});
  Result bad = RunProgram({"--batch", "--root", root_, "--set", "CheckBoxNope=1"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_THAT(bad.out, IsEmpty());
  Result help = RunProgram({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_THAT(help.err, IsEmpty());
}

TEST_F(BatchTest, StartUpWithoutARegister) {
  struct Case {
    std::vector<std::string> flags;
    int exit_code;
    std::vector<std::string> out_after_message;
    bool error_report;
  };
  const Case cases[] = {
      // The register is created, the run finds no company and ends normally.
      {{"--yes"}, 0, {"", "Create mcompany.kdt on the kx8 folder? [Yes/No] Yes", std::string(kProceed) + "Yes"}, false},
      // Declined: the second open fails, the start-up error ends the program.
      {{}, 1, {"", "Create mcompany.kdt on the kx8 folder? [Yes/No] No"}, true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n);
    std::string root = (base_ / ("empty" + std::to_string(n++))).string() + "/";
    fs::create_directories(root);
    std::vector<std::string> args = {"--batch", "--root", root};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    Result r = RunInProcess(args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    ASSERT_FALSE(r.out.empty());
    EXPECT_THAT(r.out[0], EndsWith(kOpenFailedTail));
    // Before the question, the plain reason: the register file is missing.
    std::vector<std::string> expected = c.out_after_message;
    expected[0] = "The company register " + root + "mcompany.KDT was not found.";
    EXPECT_THAT(std::vector<std::string>(r.out.begin() + 1, r.out.end()), ElementsAreArray(expected));
    if (c.error_report) {
      ASSERT_EQ(r.err.size(), 1u);
      EXPECT_THAT(r.err[0], StartsWith("Error: "));
    } else {
      EXPECT_THAT(r.err, IsEmpty());
    }
  }
}

TEST_F(BatchTest, FlagsChooseTheCompaniesAndTheOptions) {
  struct Case {
    std::vector<std::string> flags;
    // Per company in register order: 'S' a pass ended by an exclusive
    // option before the reconnection half-way through, '-' not processed.
    std::string passes;
  };
  // The selection cases tick removeNRIC, so that each pass is short.
  const std::string short_pass = "removeNRIC=1";
  const Case cases[] = {
      {{"--select", "ACME", "--set", short_pass}, "S-"},
      {{"--select", "beta", "--set", short_pass}, "-S"},
      {{"--select", "ACME,BETA", "--set", short_pass}, "SS"},
      {{"--select", "BETA", "--select", "ACME", "--set", short_pass}, "SS"},
      {{"--select-all", "--set", short_pass}, "SS"},
      // Ticking select all selects every company.
      {{"--set", "CheckBox2=1", "--set", short_pass}, "SS"},
      {{"--set", "CheckBox2=1", "--set", "CheckBox2=0", "--set", short_pass}, "--"},
      // Ticking the retrieve box re-selects from CheckBox2 (unticked) before
      // --select is applied.
      {{"--select", "ACME", "--set", "CheckBoxDir=1", "--set", short_pass}, "S-"},
      {{"--set", "CheckBox2=1", "--set", "CheckBoxDir=1", "--set", short_pass}, "SS"},
      // Other flags are taken along.
      {{"--select", "ACME", "--set", short_pass, "--set", "CheckBoxbackup=0", "--flow-table", "EMP"}, "S-"},
      // Exclusive options of the first group, and the one inside column run 7.
      {{"--select", "ACME", "--set", "CheckBoxSAVEJPG=1"}, "S-"},
      {{"--select", "BETA", "--set", "CheckBoxCTR=1"}, "-S"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.flags));
    std::string root = (base_ / ("root" + std::to_string(n++))).string() + "/";
    testroot::MakeRoot(root, {{"ACME", "Acme Pte Ltd", ""}, {"BETA", "Beta Pte Ltd", ""}});
    std::vector<std::string> args = {"--batch", "--root", root, "--yes"};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    Result r = RunInProcess(args);
    // Exit code 1 exactly when the summary lists a company to look at (the
    // fixture's companies lack most tables, so full passes show messages).
    const bool to_look_at = !r.out.empty() && std::any_of(r.out.begin(), r.out.end(), [](const std::string& l) {
      return l.rfind("Summary: ", 0) == 0 && l.find(" to look at:") != std::string::npos;
    });
    EXPECT_EQ(r.exit_code, to_look_at ? 1 : 0) << ::testing::PrintToString(r.err);
    EXPECT_THAT(r.err, IsEmpty());
    std::vector<std::string> expected = {std::string(kProceed) + "Yes"};
    const char* codes[] = {"ACME", "BETA"};
    for (int i = 0; i < 2; ++i) {
      if (c.passes[i] == 'S') expected.push_back(ShortPass(root, codes[i]).front());
    }
    EXPECT_THAT(Milestones(r.out, root), ElementsAreArray(expected));
    EXPECT_THAT(testroot::RegisterSelection(root), ElementsAre("ACME=", "BETA="));
  }
}

TEST_F(BatchTest, BadArgumentsExitWithTwoBeforeAnythingRuns) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", ""}});
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--batch", "--root", root_, "--set", "CheckBoxNope=1"}, "there is no check box or radio button named CheckBoxNope"},
      {{"--batch", "--root", root_, "--set", "Edit4=1"}, "Edit4 is an edit box"},
      {{"--batch", "--root", root_, "--set", "CheckBox1=yes"}, "the state must be 0 or 1"},
      {{"--batch", "--root", root_, "--set", "CheckBox1"}, "expected NAME=0 or NAME=1"},
      {{"--batch", "--root", root_, "--yes", "--select", "NOPE"}, "there is no company NOPE in the register"},
      {{"--batch", "--root", root_, "--select", ""}, "an empty company code"},
      {{"--batch", "--root", root_, "--select", "ACME", "--select-all"}, "exclude each other"},
      {{"--batch", "--root", root_, "--frobnicate"}, "unknown argument --frobnicate"},
      {{"--batch", "--root", root_, "stray"}, "unknown argument stray"},
      {{"--root", root_, "--select", "ACME"}, "requires --batch"},
      {{"--root", root_, "--yes"}, "requires --batch"},
      {{"--batch", "--root", ""}, "--root: the folder is empty"},
      {{"--batch", "--root"}, "--root"},
      {{"--batch", "--root", root_, "--log", (base_ / "no" / "such" / "log.txt").string()}, "cannot open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Result r = RunInProcess(c.args, "y\n", true);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_THAT(::testing::PrintToString(r.err), HasSubstr(c.message));
    // Nothing was asked, nothing changed.
    for (const std::string& line : r.out) EXPECT_THAT(line, ::testing::Not(HasSubstr(kProceed)));
    EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME="));
  }
}

TEST_F(BatchTest, AnswersTypedOnTheTerminalAreLogged) {
  testroot::MakeRoot(root_, {});
  struct Case {
    std::string typed;
    std::string answer;
  };
  for (const Case& c : {Case{"y\n", "Yes"}, Case{" YES \n", "Yes"}, Case{"n\n", "No"}, Case{"", "No"}}) {
    SCOPED_TRACE(c.typed);
    fs::path log = base_ / "answers.log";
    fs::remove(log);
    Result r = RunInProcess({"--batch", "--root", root_, "--log", log.string()}, c.typed, true);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_THAT(Lines(ReadFile(log)), ElementsAre(std::string(kProceed) + c.answer));
  }
}

TEST_F(BatchTest, HelpDocumentsEveryFlagAndOptionName) {
  Result r = RunInProcess({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  std::string help;
  for (const std::string& line : r.out) help += line + "\n";
  for (const char* text : {"--batch", "--root", "--select ", "--select-all", "--set", "--flow-table", "--yes", "--log",
                           "Exit status", "CheckBoxbackup=1", "chkCPFFWL=1", "CheckBoxCTR=0", "RadioButton2=1"}) {
    EXPECT_THAT(help, HasSubstr(text));
  }
}

}  // namespace

// Every file under a folder with its content, for "nothing else changed".
std::map<std::string, std::string> Snapshot(const fs::path& folder, const std::vector<fs::path>& except) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    if (std::find(except.begin(), except.end(), it->path()) != except.end()) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) files[it->path().string()] = ReadFile(it->path());
  }
  return files;
}

TEST_F(BatchTest, CodesThatCannotNameACompanyFolderAreRefused) {
  // A company folder's neighbours, which a code such as ".." would reach.
  fs::create_directories(base_ / "outside");
  std::ofstream(base_ / "outside" / "PAYROLL.KDT") << "someone else's table";
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"},
                             {"..", "Up", "1", false},
                             {" ", "Blank", "1", false},
                             {"A/B", "Slash", "1", false},
                             {"C:", "Drive", "1", false},
                             {"X\\Y", "Backslash", "1", false}});
  std::ofstream(root_ + "README.TXT") << "root file";
  const std::vector<fs::path> ours = {base_ / "root" / "COMPANY" / "ACME", base_ / "root" / "BACKUP",
                                      base_ / "root" / "SHARE_FOLDER", base_ / "root" / "mcompany.KDT",
                                      base_ / "root" / "mcompany.KDI", base_ / "root" / "mcompany.KDM",
                                      base_ / "root" / "kx8-upgrade.lock", base_ / "stdout.txt", base_ / "stderr.txt"};
  const auto before = Snapshot(base_, ours);
  // The checks before the run name these codes and stop it; forced past
  // them, the run refuses each code itself.
  EXPECT_EQ(RunProgram({"--batch", "--root", root_, "--yes", "--set", "removeNRIC=1"}).exit_code, 2);
  Result r = RunProgram({"--batch", "--root", root_, "--yes", "--set", "removeNRIC=1", "--force"});
  EXPECT_EQ(r.exit_code, 1);
  for (const char* code : {"..", "A/B", "C:", "X\\Y"}) {
    EXPECT_THAT(r.out, Contains(std::string("Company code ") + code +
                                " cannot name a company folder; the company was not updated."));
  }
  EXPECT_THAT(r.out, Contains(HasSubstr("  ..: skipped: its code cannot name a company folder")));
  EXPECT_EQ(Snapshot(base_, ours), before);
  // ACME, the one company with a usable code, had its pass.
  EXPECT_THAT(r.out, Contains("edtdatabase: " + root_ + "COMPANY\\ACME"));
  // --select refuses such a code before anything runs.
  Result bad = RunInProcess({"--batch", "--root", root_, "--yes", "--select", ".."});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_THAT(bad.err, Contains(HasSubstr("company code .. cannot name a company folder")));
}

TEST_F(BatchTest, APassThatLeavesColumnsWrongIsNotStamped) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"}});
  {
    // A column of the wrong type that no entry of the release changes.
    dbaccess::TDbScopedTable t;
    t.Connection().SetConnectPath(root_ + "COMPANY\\ACME");
    t.Table().SetTableName("GLLINE");
    t.Table().FieldDefs().Add("LINE", dbaccess::ftString, 8);
    t.Table().FieldDefs().Add("ITEMTEXT", dbaccess::ftInteger);
    t.Table().CreateTable();
  }
  Result r = RunProgram({"--batch", "--root", root_, "--yes"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.out, Contains(HasSubstr("Company ACME was not fully upgraded; its version stays 8.50.\r")));
  EXPECT_THAT(r.out, Contains(HasSubstr("GLLINE ITEMTEXT integer, expected char 30")));
  EXPECT_THAT(r.out, Contains(StartsWith("  ACME: not fully upgraded, version not stamped")));
  EXPECT_EQ(testroot::StoredVersion(root_, "ACME"), "8.5");
  // The run itself went to its end: the selection is cleared.
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME="));
}

TEST_F(BatchTest, ASecondRunOnTheSameRootIsRefusedAtOnce) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"}});
  platform::FolderLock other_run;
  ASSERT_TRUE(other_run.TryAcquire(root_ + "kx8-upgrade.lock"));
  Result r = RunProgram({"--batch", "--root", root_, "--yes"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_THAT(r.out, Contains("Another upgrade run is working on " + root_ + "; this run was not started."));
  EXPECT_THAT(r.out, Not(Contains(HasSubstr("edtdatabase: "))));
  EXPECT_EQ(testroot::StoredVersion(root_, "ACME"), "8.5");
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME=1"));
  other_run.Release();
  EXPECT_NE(RunProgram({"--batch", "--root", root_, "--yes"}).exit_code, 2);
}

}  // namespace kx8::cli
