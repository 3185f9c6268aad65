// The checks before a run: what they find on a root folder, that they
// change nothing there, and that a batch run with a problem does not start
// unless it is forced.
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/batch_run.h"
#include "console/pass_marker.h"
#include "console/preflight.h"
#include "testing/folder_snapshot.h"
#include "testing/held_lock.h"
#include "test_root.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// The engine's byte-range lock of a table's open handles.
constexpr std::uint64_t kOpenLock = 1ull << 40;

using testing::Snapshot;

class PreflightTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("kx8-preflight-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_);
    root_ = (base_ / "root").string() + "/";
  }
  void TearDown() override { fs::remove_all(base_); }

  std::string Company(const std::string& code, const std::string& file) const {
    return root_ + "COMPANY/" + code + "/" + file;
  }

  int Batch(const std::vector<std::string>& args, std::string* out, std::string* err) {
    std::ostringstream o, e;
    std::istringstream in;
    int code = BatchMain(args, o, e, in, false);
    *out = o.str();
    *err = e.str();
    return code;
  }

  fs::path base_;
  std::string root_;
};

TEST_F(PreflightTest, FindsEveryProblemAndChangesNothing) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"},
                             {"BETA", "Beta Pte Ltd", ""},
                             {"GHOST", "Ghost Pte Ltd", "1", false},
                             {"..", "Up", "", false},
                             {"ZETA", "Zeta Pte Ltd", ""}});
  // BETA's dictionary cannot be logged on to.
  std::ofstream(Company("BETA", "BETA.kdd")) << "not a dictionary";
  // ZETA's last pass was killed.
  console::WritePassMarker(root_ + "COMPANY\\ZETA", "C:\\PAY\\BACKUP\\ZETA.zip");
  const auto before = Snapshot(base_);

  std::vector<std::string> codes = console::RegisteredCodes(root_);
  ASSERT_THAT(codes, ElementsAre("..", "ACME", "BETA", "GHOST", "ZETA"));
  {
    // Another program has ACME's EMPLOYEE open.
    testing::HeldLock other(Company("ACME", "EMPLOYEE.KDT"), kOpenLock);
    ASSERT_TRUE(other.held());
    console::PreflightResult r = console::Preflight(root_, codes);
    ASSERT_EQ(r.problems.size(), 5u) << ::testing::PrintToString(r.problems);
    EXPECT_EQ(r.problems[0], "\"..\": the code cannot name a company folder");
    EXPECT_THAT(r.problems[1], HasSubstr("ACME: EMPLOYEE.KDT is held open by another program"));
    EXPECT_THAT(r.problems[2], HasSubstr("BETA: the dictionary " + root_ + "COMPANY\\BETA\\BETA.kdd refuses the "
                                         "administrator log-on: "));
    EXPECT_EQ(r.problems[3], "GHOST: the company folder " + root_ + "COMPANY\\GHOST does not exist");
    EXPECT_EQ(r.problems[4], "ZETA: the upgrade of company ZETA was interrupted; run it again, or restore from "
                             "archive C:\\PAY\\BACKUP\\ZETA.zip");
    EXPECT_GT(r.bytes_needed, 0u);
    EXPECT_GE(r.bytes_free, r.bytes_needed);
  }
  EXPECT_EQ(Snapshot(base_), before);
  // Once the other program lets go, ACME is in order.
  EXPECT_THAT(console::Preflight(root_, {"ACME"}).problems, IsEmpty());
}

TEST_F(PreflightTest, ABatchRunWithAProblemDoesNotStartUnlessForced) {
  testroot::MakeRoot(root_, {{"ACME", "Acme Pte Ltd", "1"}, {"BETA", "Beta Pte Ltd", "1"}});
  std::string out, err;
  {
    testing::HeldLock other(Company("BETA", "PASS.KDT"), kOpenLock);
    ASSERT_TRUE(other.held());
    const auto before = Snapshot(base_);
    EXPECT_EQ(Batch({"--batch", "--root", root_, "--yes"}, &out, &err), 2);
    EXPECT_THAT(err, HasSubstr("Preflight: BETA: PASS.KDT is held open by another program"));
    EXPECT_THAT(err, HasSubstr("the run was not started: 1 problem found before it (--force starts it anyway)"));
    EXPECT_THAT(out, Not(HasSubstr("Do you wish to proceed")));
    EXPECT_EQ(Snapshot(base_), before);
  }
  // Forced, the run starts and still names the problem.
  {
    testing::HeldLock other(Company("BETA", "PASS.KDT"), kOpenLock);
    EXPECT_NE(Batch({"--batch", "--root", root_, "--yes", "--set", "removeNRIC=1", "--force"}, &out, &err), 2);
    EXPECT_THAT(err, HasSubstr("Preflight: BETA: PASS.KDT is held open"));
    EXPECT_THAT(out, HasSubstr("edtdatabase: " + root_ + "COMPANY\\ACME"));
  }
  EXPECT_THAT(testroot::RegisterSelection(root_), ElementsAre("ACME=", "BETA="));
}

}  // namespace
}  // namespace kx8::cli
