// The run report, --keep-going, --retry-failed, --quiet, the progress line
// and the table that closes a batch run.
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/batch_run.h"
#include "cli/progress_line.h"
#include "cli/run_report.h"
#include "json_shape.h"
#include "platform/path.h"
#include "test_root.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

struct Result {
  int exit_code = -1;
  std::string out, err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Codes(const Json& report) {
  std::vector<std::string> codes;
  for (const Json& c : report["companies"]) codes.push_back(c["code"]);
  return codes;
}

const Json& Company(const Json& report, const std::string& code) {
  for (const Json& c : report["companies"]) {
    if (c["code"] == code) return c;
  }
  throw std::runtime_error("no company " + code + " in the report");
}

class RunReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("kx8-report-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_);
    root_ = (base_ / "root").string() + "/";
  }
  void TearDown() override { fs::remove_all(base_); }

  Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--batch", "--root", root_, "--yes"});
    std::ostringstream out, err;
    std::istringstream in;
    Result r;
    r.exit_code = BatchMain(args, out, err, in, false);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  std::string Path(const std::string& name) const { return (base_ / name).string(); }

  fs::path base_;
  std::string root_;
};

// GHOST is registered and selected but has no folder: connecting it fails.
TEST_F(RunReportTest, KeepGoingEndsOnlyTheFailedPassAndRetryFailedTakesUpExactlyIt) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"}, {"BETA", "Beta Pte Ltd", "1"},
                             {"GHOST", "Ghost Pte Ltd", "1", false}, {"ZETA", "Zeta Pte Ltd", "1"}});
  const std::string report_path = Path("run.json");
  // --force: the checks before the run would refuse GHOST's missing folder.
  Result r = Run({"--force", "--keep-going", "--set", "removeNRIC=1", "--report", report_path});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.err, HasSubstr("Error: "));
  EXPECT_THAT(r.err, HasSubstr("DbConnection1 " + root_ + "COMPANY\\GHOST"));
  // The companies after the failed one had their pass.
  EXPECT_THAT(r.out, HasSubstr("edtdatabase: " + root_ + "COMPANY\\ZETA"));
  EXPECT_THAT(r.out, HasSubstr("  GHOST: failed: an error ended its pass, 1 message"));
  EXPECT_THAT(r.out, HasSubstr("Companies: 0 done, 3 skipped, 1 failed; run time "));
  // The failed company stays selected; the others are cleared.
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME=", "BETA=", "GHOST=1", "ZETA="));

  Json report = ReadReport(report_path);
  EXPECT_EQ(report["run"], "completed");
  EXPECT_THAT(Codes(report), ElementsAre("ACME", "BETA", "GHOST", "ZETA"));
  const Json& ghost = Company(report, "GHOST");
  EXPECT_EQ(ghost["outcome"], "failed");
  EXPECT_THAT(ghost["error"].get<std::string>(), EndsWith("DbConnection1 " + root_ + "COMPANY\\GHOST"));
  EXPECT_EQ(ghost["dialogs"].back()["kind"], "error");
  EXPECT_EQ(Company(report, "ZETA")["outcome"], "exclusive-option");
  EXPECT_THAT(CompaniesToRetry(report), ElementsAre("GHOST"));

  // The retry selects the failed company only.
  fs::create_directories(root_ + "COMPANY/GHOST");
  const std::string retry_path = Path("retry.json");
  Result retry = Run({"--force", "--retry-failed", report_path, "--set", "removeNRIC=1", "--report", retry_path});
  EXPECT_THAT(Codes(ReadReport(retry_path)), ElementsAre("GHOST"));
  EXPECT_THAT(retry.out, Not(HasSubstr("COMPANY\\ACME")));
}

TEST_F(RunReportTest, WithoutKeepGoingTheReportNamesTheStoppedAndTheUnreachedCompanies) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"}, {"GHOST", "Ghost Pte Ltd", "1", false},
                             {"ZETA", "Zeta Pte Ltd", "1"}});
  const std::string report_path = Path("run.json");
  Result r = Run({"--force", "--set", "removeNRIC=1", "--report", report_path});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.out, Not(HasSubstr("COMPANY\\ZETA")));
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME=1", "GHOST=1", "ZETA=1"));
  Json report = ReadReport(report_path);
  EXPECT_EQ(report["run"], "failed");
  EXPECT_EQ(Company(report, "ACME")["outcome"], "exclusive-option");
  EXPECT_EQ(Company(report, "GHOST")["outcome"], "stopped");
  EXPECT_EQ(Company(report, "ZETA")["outcome"], "not-reached");
  EXPECT_THAT(CompaniesToRetry(report), ElementsAre("GHOST", "ZETA"));
  EXPECT_THAT(r.out, HasSubstr("ZETA     not reached: the run ended before it"));
}

TEST_F(RunReportTest, AReportOfACompletePassFitsTheDocumentedShapeAndSaysWhatThePassDid) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"}});
  const std::string report_path = Path("run.json");
  Result r = Run({"--report", report_path, "--set", "CheckBoxTerm=1"});
  ASSERT_NE(r.exit_code, 2) << r.err;
  Json report = ReadReport(report_path);
  std::ifstream schema_file(KX8_REPORT_SCHEMA);
  testing::JsonShape shape(nlohmann::json::parse(schema_file));
  EXPECT_THAT(shape.Check(nlohmann::json::parse(ReadFile(report_path))), IsEmpty());

  EXPECT_EQ(report["root"], root_);
  EXPECT_THAT(report["options"], Contains("CheckBoxbackup"));
  const Json& acme = Company(report, "ACME");
  EXPECT_EQ(acme["kind"], "free tables");
  EXPECT_EQ(acme["version_before"], "8.50");
  EXPECT_EQ(acme["version_after"], "9.07");
  EXPECT_EQ(acme["outcome"], "done");
  // The backup archive, with its size as written.
  const std::string archive = acme["backup"]["archive"];
  EXPECT_EQ(acme["backup"]["bytes"], fs::file_size(platform::NativePath(archive)));
  // Every step reached, in order, from the connect to the stamp.
  std::vector<std::string> steps;
  for (const Json& s : acme["steps"]) steps.push_back(s["name"]);
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.front(), "ConnectCompany");
  EXPECT_EQ(steps.back(), "StampReleaseVersion");
  EXPECT_THAT(steps, Contains("ColumnRun1"));
  // The fixture's TRNNO has only CODE: run 1 adds its columns.
  bool trnno_added = false;
  for (const Json& t : acme["columns"]) {
    for (const Json& c : t["changes"]) {
      trnno_added = trnno_added || (t["table"] == "TRNNO" && c["change"] == "added" && c["before"].is_null());
    }
  }
  EXPECT_TRUE(trnno_added) << acme["columns"].dump();
  // The fixture's one employee has no termination status: the step sets it.
  EXPECT_THAT(acme["rows"], Contains(Json{{"step", "TerminationStatus"}, {"table", "EMPLOYEE"}, {"rows", 1}}));
  // The messages of the pass are there, as many as the summary counts.
  EXPECT_EQ(acme["dialogs"].size(), acme["messages"].get<std::size_t>());
}

TEST_F(RunReportTest, BadReportFilesStopTheRunBeforeAnythingIsTouched) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", ""}});
  std::ofstream(Path("not-json.json")) << "{ not json";
  std::ofstream(Path("other.json")) << R"({"format": "something else", "version": 1, "companies": []})";
  std::ofstream(Path("later.json")) << R"({"format": "kx8-upgrade run report", "version": 2, "companies": []})";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--select", "ACME", "--report", Path("no/such/folder/run.json")}, "cannot be written"},
      {{"--retry-failed", Path("missing.json")}, "there is no such file"},
      {{"--retry-failed", Path("not-json.json")}, "it is not JSON"},
      {{"--retry-failed", Path("other.json")}, "it is not a run report of kx8-upgrade"},
      {{"--retry-failed", Path("later.json")}, "its version is not 1"},
      {{"--retry-failed", Path("other.json"), "--select", "ACME"}, "excludes --select"},
      {{"--report", ""}, "the file name is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Result r = Run(c.args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_THAT(r.out, Not(HasSubstr("Do you wish")));
    EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME="));
    EXPECT_EQ(testroot::StoredVersion(root_, "ACME"), "8.5");
  }
  // A report in which every company was done leaves nothing to retry.
  const std::string clean = Path("clean.json");
  WriteReport(clean, ReportJson(ReportHeader{root_, {}, {}, "completed", {}}, {}));
  Result none = Run({"--retry-failed", clean});
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_THAT(none.out, HasSubstr("names no company to take up again; nothing was run."));
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME="));
}

TEST_F(RunReportTest, QuietLeavesOutTheStatusLinesOnly) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"}});
  Result r = Run({"--quiet", "--set", "removeNRIC=1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_THAT(r.out, Not(HasSubstr("Edit1: ")));
  EXPECT_THAT(r.out, Not(HasSubstr("edtdatabase: ")));
  EXPECT_THAT(r.out, HasSubstr("Do you wish to proceed this function ? [Yes/No] Yes"));
  EXPECT_THAT(r.out, HasSubstr("Summary: 1 company, 1 without a message"));
  EXPECT_THAT(r.out, HasSubstr("Companies: 0 done, 1 skipped, 0 failed"));
}

TEST(MergeReportsTest, PartsOfOneRunBecomeOneReportInTheirOrder) {
  const auto t0 = console::WallClock::time_point{} + std::chrono::hours(24 * 365 * 50);
  auto part = [&](int start_s, int end_s, const std::string& run, const std::string& code) {
    ReportHeader h{"/data/", t0 + std::chrono::seconds(start_s), t0 + std::chrono::seconds(end_s), run, {}};
    return ReportJson(h, {UnreachedCompanyJson(code)});
  };
  Json merged = MergeReports({part(5, 9, "completed", "ACME"), part(2, 12, "failed", "BETA"),
                              part(3, 4, "completed", "ZETA")});
  EXPECT_THAT(Codes(merged), ElementsAre("ACME", "BETA", "ZETA"));
  EXPECT_EQ(merged["started"], IsoTime(t0 + std::chrono::seconds(2)));
  EXPECT_EQ(merged["ended"], IsoTime(t0 + std::chrono::seconds(12)));
  EXPECT_EQ(merged["seconds"], 10.0);
  EXPECT_EQ(merged["run"], "failed");
}

TEST(ProgressLineTest, TheLineIsRewrittenInPlaceAndTakenAwayBeforeOtherOutput) {
  using What = console::RunProgress::What;
  std::ostringstream terminal;
  ProgressLine line(terminal, true, 60);
  line.Update({What::CompanyStarted, 2, 3, "ORCHID", ""});
  EXPECT_EQ(terminal.str(), "\r[2/3] ORCHID    0:00");
  line.Clear();
  EXPECT_EQ(terminal.str(), "\r[2/3] ORCHID    0:00\r" + std::string(20, ' ') + "\r");
  // A long place is cut short; the time stays in view.
  const std::string text = ProgressLine::Text({What::CatalogueEntry, 2, 3, "ORCHID", std::string(100, 'x')},
                                              std::chrono::seconds(75), 40);
  EXPECT_EQ(text.size(), 40u);
  EXPECT_THAT(text, EndsWith("x  1:15"));
  // Not on a terminal: nothing at all.
  std::ostringstream file;
  ProgressLine off(file, false);
  off.Update({What::CompanyStarted, 1, 1, "ACME", ""});
  off.Clear();
  EXPECT_THAT(file.str(), IsEmpty());
}

}  // namespace
}  // namespace kx8::cli
