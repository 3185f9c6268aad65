// A batch run killed, or stopped by a power cut, at many points of its
// company passes: while a pass has changed tables, at its grouped flushes
// and between two companies. After a kill every table opens and reads
// whole, a second run completes, and the companies end as an uninterrupted
// run leaves them. After a power cut the company keeps its marker, whose
// archive puts it back as it was, and a run from there ends the same way.
//
// KX8_FAULT_SWEEP=1 kills at many more points.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "../engine/io_faults.h"
#include "../engine/unsynced_loss.h"
#include "cli/batch_run.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "console/pass_marker.h"
#include "console/restore.h"
#include "platform/scripted_ui.h"
#include "support/credentials.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/inspect.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;

// ACME changes on its pass; MERLION, at the release already, follows it.
const char* const kCompanies[] = {"ACME", "MERLION"};
bool LongSweep() {
  const char* v = std::getenv("KX8_FAULT_SWEEP");
  return v != nullptr && *v != '\0' && std::string(v) != "0";
}

class PassCrashTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pristine_ = new kx8::testing::TempDir("kx8-pass-crash-start");
    tools::DemoOptions options;
    options.companies = {kCompanies[0], kCompanies[1]};
    tools::BuildDemoRoot(pristine_->path() + "/", options);
  }
  static void TearDownTestSuite() {
    delete pristine_;
    pristine_ = nullptr;
  }

  std::string Root() const { return dir_.path() + "/"; }
  std::string Folder(const char* code) const { return Root() + "COMPANY\\" + code; }

  // The root as the demo builder left it.
  void Restart() const {
    for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove_all(e.path());
    fs::copy(pristine_->path(), dir_.path(), fs::copy_options::recursive);
  }

  // A batch run over both companies; returns its exit status and output.
  // After an interruption the checks before the run name the company and
  // refuse to start without --force, which is how an administrator runs it
  // again.
  int Run(std::string* out_text = nullptr, bool force = false) const {
    std::ostringstream out, err;
    std::istringstream in;
    std::vector<std::string> args = {"--batch", "--root", Root(), "--select-all", "--yes"};
    if (force) args.push_back("--force");
    const int rc = BatchMain(args, out, err, in, false);
    if (out_text != nullptr) *out_text = out.str() + err.str();
    return rc;
  }

  // A run in a child process with the engine's calls counted, stopped (as
  // a kill stops it) at call stop_at when that is not 0. Returns whether
  // the run was stopped; counts, when given, receives the counts of a run
  // that was not.
  bool RunKilledAt(long stop_at, kx8test::CountingCalls::Counts* counts = nullptr) const {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) throw std::runtime_error("no pipe");
    pid_t pid = fork();
    if (pid == 0) {
      ::close(pipe_fds[0]);
      int rc = 0;
      kx8test::CountingCalls::Counts seen;
      {
        kx8test::CountingCalls count(stop_at);
        rc = Run();
        seen = count.counts();
      }
      (void)!::write(pipe_fds[1], &seen, sizeof seen);
      _exit(10 + rc);
    }
    ::close(pipe_fds[1]);
    kx8test::CountingCalls::Counts seen;
    const bool got = ::read(pipe_fds[0], &seen, sizeof seen) == static_cast<ssize_t>(sizeof seen);
    ::close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "call " << stop_at;
    if (WEXITSTATUS(status) == 0) return true;
    EXPECT_TRUE(got);
    EXPECT_EQ(WEXITSTATUS(status), 10) << "the run ended with " << WEXITSTATUS(status) - 10;
    if (counts != nullptr) *counts = seen;
    return false;
  }

  // Every table of both companies: its structure and its rows. A table
  // that cannot be opened or read says so.
  std::string State() const {
    std::string out;
    for (const char* code : kCompanies) {
      std::vector<std::string> tables;
      for (const auto& e : fs::directory_iterator(Root() + "COMPANY/" + code)) {
        if (e.path().extension() == ".KDT") tables.push_back(e.path().filename().string());
      }
      std::sort(tables.begin(), tables.end());
      for (const std::string& t : tables) {
        const std::string path = Folder(code) + "\\" + t;
        std::ostringstream text;
        try {
          dbaccess::TDbConnection c;
          c.SetConnectPath(Folder(code));
          dbaccess::TDbTable table;
          table.SetDbConnection(&c);
          table.SetTableName(t);
          table.SetReadOnly(true);
          table.Open();
          text << (table.IsTableEncrypted() ? "encrypted\n" : "plain\n");
          table.Close();
          tools::DescribeTable(path, text);
          tools::DumpTable(path, support::AdministratorPassword(), text);
        } catch (const std::exception& e) {
          text << "cannot be read: " << e.what();
        }
        out += std::string(code) + "\\" + t + "\n" + text.str() + "\n";
      }
    }
    return out;
  }

  static std::vector<std::string> Differences(const std::string& got, const std::string& want) {
    std::vector<std::string> a, b, only;
    std::istringstream ga(got), gb(want);
    for (std::string l; std::getline(ga, l);) a.push_back(l);
    for (std::string l; std::getline(gb, l);) b.push_back(l);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::set_symmetric_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(only));
    if (only.size() > 6) only.resize(6);
    return only;
  }

  static kx8::testing::TempDir* pristine_;
  kx8::testing::TempDir dir_{"kx8-pass-crash"};
};

kx8::testing::TempDir* PassCrashTest::pristine_ = nullptr;

// Killed anywhere, a pass run again on the company, whose version was not
// stamped yet, ends as an uninterrupted pass: the steps it repeats change
// nothing the first one did, and no step skips work because the killed pass
// already changed what it looks at.
TEST_F(PassCrashTest, AKilledRunLeavesTablesWholeAndASecondRunEndsAsAnUninterruptedOne) {
  Restart();
  kx8test::CountingCalls::Counts whole;
  ASSERT_FALSE(RunKilledAt(0, &whole));
  const std::string want = State();
  ASSERT_EQ(want.find("cannot be read"), std::string::npos) << want;
  // ACME's pass flushes before its stamp and at its end; MERLION has
  // nothing to flush before its stamp.
  ASSERT_GE(whole.syncfs_seen, 3);

  // ACME's changes wait for their rewrites from its first column run until
  // just before its first grouped flush, where the tables still waiting are
  // rewritten one after another.
  ASSERT_GT(whole.first_waiting_at, 0);
  ASSERT_LT(whole.first_waiting_at, whole.syncfs_at[0]);
  ASSERT_GE(whole.switches_seen, 3);
  const int last_switch = std::min(whole.switches_seen, kx8test::CountingCalls::kSwitchesKept) - 1;

  // Spread over the run (while tables have changes not yet flushed), just
  // after the first change began to wait, in the rewrites of the tables
  // still waiting at the end of ACME's changes (as a table's new data file
  // is put in place, and once one is while others still wait), just
  // before ACME's first grouped flush (its pass done but not flushed or
  // stamped), at each grouped flush, and at the call after ACME's last one:
  // between the two companies.
  std::vector<long> points;
  const long spread = LongSweep() ? 60 : 3;
  for (long i = 1; i <= spread; ++i) points.push_back(whole.calls * i / (spread + 1));
  points.push_back(whole.first_waiting_at + 1);
  points.push_back(whole.switch_at[last_switch]);
  points.push_back(whole.switch_at[last_switch / 2] + 1);
  points.push_back(whole.syncfs_at[0] - 500);
  for (int i = 0; i < whole.syncfs_seen && i < kx8test::CountingCalls::kSyncfsKept; ++i) {
    points.push_back(whole.syncfs_at[i]);
  }
  points.push_back(whole.syncfs_at[1] + 1);
  for (long n : points) {
    SCOPED_TRACE("killed at call " + std::to_string(n) + " of " + std::to_string(whole.calls));
    Restart();
    ASSERT_TRUE(RunKilledAt(n));
    const std::string after_kill = State();
    EXPECT_EQ(after_kill.find("cannot be read"), std::string::npos) << after_kill.substr(0, 2000);
    bool marked = false;
    for (const char* code : kCompanies) marked = marked || console::ReadPassMarker(Folder(code)).has_value();
    std::string text;
    const int rc = Run(&text, true);
    EXPECT_EQ(rc, 0) << text;
    EXPECT_EQ(text.find("was interrupted; run it again") != std::string::npos, marked) << text;
    for (const char* code : kCompanies) EXPECT_FALSE(console::ReadPassMarker(Folder(code))) << code;
    EXPECT_EQ(Differences(State(), want), std::vector<std::string>{});
  }
}

TEST_F(PassCrashTest, APowerCutDuringAGroupedPassLeavesTheMarkerAndAnArchiveThatPutsTheCompanyBack) {
  Restart();
  kx8test::CountingCalls::Counts whole;
  ASSERT_FALSE(RunKilledAt(0, &whole));
  const std::string want = State();
  // ACME's pass: while its changes wait for the first flush, at each of
  // its two flushes.
  ASSERT_GE(whole.syncfs_seen, 2);
  const std::vector<long> points = {whole.syncfs_at[0] - 500, whole.syncfs_at[0], whole.syncfs_at[1]};
  for (long n : points) {
    SCOPED_TRACE("power cut at call " + std::to_string(n));
    Restart();
    pid_t pid = fork();
    if (pid == 0) {
      kx8test::UnsyncedLoss::Install(dir_.path() + "/COMPANY/ACME", n);
      Run();
      _exit(5);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "3: the folder could not be laid out, 5: the run ended before the cut";
    std::optional<console::PassMarker> marker = console::ReadPassMarker(Folder("ACME"));
    ASSERT_TRUE(marker) << "the cut came after the marker was written";
    ASSERT_FALSE(marker->archive.empty());
    platform::ScriptedUi ui({true});
    ASSERT_EQ(console::RestoreCompany(marker->archive, Folder("ACME"), ui), console::RestoreOutcome::Restored);
    std::string text;
    EXPECT_EQ(Run(&text, true), 0) << text;
    EXPECT_NE(text.find("the upgrade of company ACME was interrupted; run it again, or restore from archive " +
                        marker->archive),
              std::string::npos)
        << text;
    EXPECT_FALSE(console::ReadPassMarker(Folder("ACME")));
    EXPECT_EQ(Differences(State(), want), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace kx8::cli
