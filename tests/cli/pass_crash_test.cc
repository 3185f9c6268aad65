// A batch run killed, or stopped by a power cut, at many points of its
// company passes: while a pass has changed tables, at its grouped flushes
// and between two companies. After a kill every table opens and reads
// whole, a second run completes, and the companies end as an uninterrupted
// run leaves them; on a company bound to a data dictionary the dictionary
// too, killed while its changes wait in memory and as they are written.
// After a power cut the company keeps its marker, whose
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
#include <optional>
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

// The companies a run selects: ACME (free tables) changes on its pass and
// MERLION, at the release already, follows it; ORCHID's tables are bound to
// its data dictionary, whose changes wait in memory with the rewrites.
struct Selection {
  const char* name;
  std::vector<std::string> codes;
};
void PrintTo(const Selection& s, std::ostream* os) { *os << s.name; }
const Selection kFreeTables{"FreeTables", {"ACME", "MERLION"}};
const Selection kDictionary{"Dictionary", {"ORCHID"}};

bool LongSweep() {
  const char* v = std::getenv("KX8_FAULT_SWEEP");
  return v != nullptr && *v != '\0' && std::string(v) != "0";
}

class PassCrashTest : public ::testing::TestWithParam<Selection> {
 protected:
  static void SetUpTestSuite() {
    pristine_ = new kx8::testing::TempDir("kx8-pass-crash-start");
    tools::DemoOptions options;
    options.companies = {"ACME", "MERLION", "ORCHID"};
    tools::BuildDemoRoot(pristine_->path() + "/", options);
  }
  static void TearDownTestSuite() {
    delete pristine_;
    pristine_ = nullptr;
  }

  const std::vector<std::string>& Codes() const { return GetParam().codes; }
  std::string Root() const { return dir_.path() + "/"; }
  std::string Folder(const std::string& code) const { return Root() + "COMPANY\\" + code; }
  static bool HasDictionary(const std::string& code) { return code == "ORCHID"; }

  // The root as the demo builder left it.
  void Restart() const {
    for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove_all(e.path());
    fs::copy(pristine_->path(), dir_.path(), fs::copy_options::recursive);
  }

  // A batch run over the selection; returns its exit status and output.
  // After an interruption the checks before the run name the company and
  // refuse to start without --force, which is how an administrator runs it
  // again.
  int Run(std::string* out_text = nullptr, bool force = false) const {
    std::ostringstream out, err;
    std::istringstream in;
    std::vector<std::string> args = {"--batch", "--root", Root(), "--yes"};
    for (const std::string& code : Codes()) {
      args.push_back("--select");
      args.push_back(code);
    }
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

  // A run in a child process whose machine stops at the engine's call n,
  // losing everything not flushed in the company's folder. Returns the
  // child's exit status (see kPowerCutStatuses), -1 when it did not exit.
  int RunWithPowerCutAt(const std::string& code, long n) const {
    pid_t pid = fork();
    if (pid == 0) {
      kx8test::UnsyncedLoss::Install(dir_.path() + "/COMPANY/" + code, n);
      Run();
      _exit(5);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static constexpr const char* kPowerCutStatuses =
      "0: cut, 3: the folder could not be laid out, 5: the run ended before the cut, -1: the child did not exit";

  // Every table of the selected companies: its structure and its rows,
  // and for a dictionary company what its dictionary holds (tables, their
  // properties, users, rights). A table that cannot be opened or read says
  // so.
  std::string State() const {
    std::string out;
    for (const std::string& code : Codes()) {
      std::vector<std::string> tables;
      for (const auto& e : fs::directory_iterator(Root() + "COMPANY/" + code)) {
        if (e.path().extension() == ".KDT") tables.push_back(e.path().filename().string());
      }
      std::sort(tables.begin(), tables.end());
      const std::string kdd = Folder(code) + "\\" + code + ".kdd";
      // A dictionary company's tables are read on one connection to it,
      // made once the dictionary has put back any table a killed run left
      // outside it (as every connect does).
      std::optional<dbaccess::TDbConnection> dictionary;
      if (HasDictionary(code)) {
        std::ostringstream text;
        try {
          tools::DescribeDictionary(kdd, "", "", text);
          dictionary.emplace();
          dictionary->SetDbServerTypes({dbaccess::stDB_REMOTE, dbaccess::stDB_LOCAL});
          dictionary->SetLoginPrompt(false);
          dictionary->SetUsername(support::AdministratorUser());
          dictionary->SetPassword(support::AdministratorPassword());
          dictionary->SetConnectPath(kdd);
          dictionary->SetIsConnected(true);
        } catch (const std::exception& e) {
          text << "cannot be read: " << e.what();
        }
        out += code + " dictionary\n" + text.str() + "\n";
      }
      for (const std::string& t : tables) {
        const std::string path = Folder(code) + "\\" + t;
        std::ostringstream text;
        try {
          if (dictionary) {
            dbaccess::TDbTable table;
            table.SetDbConnection(&*dictionary);
            table.SetTableName(t);
            table.SetReadOnly(true);
            table.Open();
            tools::WriteStructure(table, text);
            tools::WriteCsv(table, text);
            out += code + "\\" + t + "\n" + text.str() + "\n";
            continue;
          }
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
        out += code + "\\" + t + "\n" + text.str() + "\n";
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
TEST_P(PassCrashTest, AKilledRunLeavesTablesWholeAndASecondRunEndsAsAnUninterruptedOne) {
  Restart();
  kx8test::CountingCalls::Counts whole;
  ASSERT_FALSE(RunKilledAt(0, &whole));
  const std::string want = State();
  ASSERT_EQ(want.find("cannot be read"), std::string::npos) << want;
  // The first company's pass flushes before its stamp and at its end;
  // MERLION, at the release already, has nothing to flush before its stamp.
  ASSERT_GE(whole.syncfs_seen, Codes().size() > 1 ? 3 : 2);

  // The first company's changes wait for their rewrites from its first
  // column run until just before its first grouped flush, where the tables
  // still waiting are rewritten one after another.
  ASSERT_GT(whole.first_waiting_at, 0);
  ASSERT_LT(whole.first_waiting_at, whole.syncfs_at[0]);
  ASSERT_GE(whole.switches_seen, 3);
  const int last_switch = std::min(whole.switches_seen, kx8test::CountingCalls::kSwitchesKept) - 1;

  // Spread over the run (while tables have changes not yet flushed), just
  // after the first change began to wait, in the rewrites of the tables
  // still waiting at the end of the changes (as a table's new data file is
  // put in place, and once one is while others still wait), just before
  // the first grouped flush (the pass done but not flushed or stamped), at
  // each grouped flush, and at the call after the first company's last
  // one: between two companies.
  std::vector<long> points;
  const bool dictionary = HasDictionary(Codes()[0]);
  const long spread = LongSweep() ? 60 : dictionary ? 1 : 3;
  for (long i = 1; i <= spread; ++i) points.push_back(whole.calls * i / (spread + 1));
  points.push_back(whole.first_waiting_at + 1);
  points.push_back(whole.switch_at[last_switch]);
  points.push_back(whole.syncfs_at[0] - 500);
  points.push_back(whole.syncfs_at[0]);
  if (!dictionary || LongSweep()) {
    points.push_back(whole.switch_at[last_switch / 2] + 1);
    for (int i = 1; i < whole.syncfs_seen && i < kx8test::CountingCalls::kSyncfsKept; ++i) {
      points.push_back(whole.syncfs_at[i]);
    }
    points.push_back(whole.syncfs_at[1] + 1);
  }
  // A dictionary's changes wait in memory with the rewrites and are
  // written before table files are switched: killed as its new file is put
  // in place (the old one stays, with the tables as they were) and just
  // after (the new one, with tables not all switched yet). The points the
  // free-table companies cover already (the later flushes, between two
  // companies) are left to them, as an upgrade of a dictionary company is
  // several times longer.
  if (dictionary) {
    ASSERT_GE(whole.dictionary_writes_seen, 1);
    const int kept = std::min(whole.dictionary_writes_seen, kx8test::CountingCalls::kDictionaryWritesKept);
    points.push_back(whole.dictionary_write_at[0]);
    points.push_back(whole.dictionary_write_at[kept - 1] + 1);
  }
  for (long n : points) {
    SCOPED_TRACE("killed at call " + std::to_string(n) + " of " + std::to_string(whole.calls));
    Restart();
    ASSERT_TRUE(RunKilledAt(n));
    const std::string after_kill = State();
    EXPECT_EQ(after_kill.find("cannot be read"), std::string::npos) << after_kill.substr(0, 2000);
    bool marked = false;
    for (const std::string& code : Codes()) marked = marked || console::ReadPassMarker(Folder(code)).has_value();
    std::string text;
    const int rc = Run(&text, true);
    EXPECT_EQ(rc, 0) << text;
    EXPECT_EQ(text.find("was interrupted; run it again") != std::string::npos, marked) << text;
    for (const std::string& code : Codes()) EXPECT_FALSE(console::ReadPassMarker(Folder(code))) << code;
    EXPECT_EQ(Differences(State(), want), std::vector<std::string>{});
  }
}

TEST_P(PassCrashTest, APowerCutDuringAGroupedPassLeavesTheMarkerAndAnArchiveThatPutsTheCompanyBack) {
  const std::string code = Codes()[0];
  Restart();
  kx8test::CountingCalls::Counts whole;
  ASSERT_FALSE(RunKilledAt(0, &whole));
  const std::string want = State();
  // The first company's pass: while its changes wait for the first flush,
  // at each of its two flushes.
  ASSERT_GE(whole.syncfs_seen, 2);
  const std::vector<long> points = {whole.syncfs_at[0] - 500, whole.syncfs_at[0], whole.syncfs_at[1]};
  for (long n : points) {
    SCOPED_TRACE("power cut at call " + std::to_string(n));
    Restart();
    ASSERT_EQ(RunWithPowerCutAt(code, n), 0) << kPowerCutStatuses;
    std::optional<console::PassMarker> marker = console::ReadPassMarker(Folder(code));
    ASSERT_TRUE(marker) << "the cut came after the marker was written";
    ASSERT_FALSE(marker->archive.empty());
    platform::ScriptedUi ui({true});
    ASSERT_EQ(console::RestoreCompany(marker->archive, Folder(code), ui), console::RestoreOutcome::Restored);
    std::string text;
    EXPECT_EQ(Run(&text, true), 0) << text;
    EXPECT_NE(text.find("the upgrade of company " + code + " was interrupted; run it again, or restore from archive " +
                        marker->archive),
              std::string::npos)
        << text;
    EXPECT_FALSE(console::ReadPassMarker(Folder(code)));
    EXPECT_EQ(Differences(State(), want), std::vector<std::string>{});
  }
}

// Once a pass has removed its marker, the company is upgraded for good:
// everything the pass wrote after its last rewrite (the version stamp, rows
// changed in place) was flushed by its last barrier, so a power cut from
// then on loses nothing.
TEST_P(PassCrashTest, APowerCutAfterThePassEndedLosesNothing) {
  const std::string code = Codes()[0];
  Restart();
  kx8test::CountingCalls::Counts whole;
  ASSERT_FALSE(RunKilledAt(0, &whole));
  const std::string want = State();
  Restart();
  // The run's last call of the engine comes after the marker is gone (the
  // register's index is saved as the run ends).
  ASSERT_EQ(RunWithPowerCutAt(code, whole.calls), 0) << kPowerCutStatuses;
  ASSERT_FALSE(console::ReadPassMarker(Folder(code))) << "the cut came before the pass ended";
  EXPECT_EQ(Differences(State(), want), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Companies, PassCrashTest, ::testing::Values(kFreeTables, kDictionary),
                         [](const ::testing::TestParamInfo<Selection>& p) { return p.param.name; });

}  // namespace
}  // namespace kx8::cli
