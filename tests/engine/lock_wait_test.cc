// A table's header or a dictionary held locked by another program: the
// write waits at most the lock wait, then fails naming the file, and goes
// through once the other program lets go.
#include <chrono>
#include <functional>

#include "engine_fixture.h"
#include "testing/held_lock.h"

namespace kx8test {
namespace {

using kx8::testing::HeldLock;

constexpr uint64_t kHeaderLock = (1ull << 40) + 1;  // docs/format.md, Locks

class LockWaitTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    DBE_OK(DbSetLockWait(300));
  }
  void TearDown() override {
    DbSetLockWait(5000);
    EngineTest::TearDown();
  }
};

TEST_F(LockWaitTest, AWriteFailsWithinTheBoundNamingTheLockedFile) {
  Create("EMPLOYEE", "EMP_NO,Char,6;");
  DBHANDLE dict = 0;
  const std::string kdd = dir_.File("ACME.kdd");
  DBE_OK(DbDDCreate(kdd.c_str(), "admin-pw", "", &dict));
  DBHANDLE t = Open("EMPLOYEE");
  struct Case {
    const char* what;
    std::string locked_file;
    uint64_t offset;
    std::string named_file;
    std::function<DBRESULT()> write;
  };
  int users = 0;
  const Case cases[] = {
      {"a row written to a table", dir_.File("EMPLOYEE.KDT"), kHeaderLock, dir_.File("EMPLOYEE.KDT"),
       [&] {
         DBRESULT rc = DbAppendRecord(t);
         if (rc == 0) rc = DbSetField(t, "EMP_NO", "E1", 2);
         return rc == 0 ? DbWriteRecord(t) : rc;
       }},
      {"a user added to a dictionary", dir_.File("ACME.ki"), 0, kdd,
       [&] { return DbDDCreateUser(dict, "", ("CLERK" + std::to_string(++users)).c_str(), "pw", ""); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      HeldLock other(c.locked_file, c.offset);
      ASSERT_TRUE(other.held());
      auto start = std::chrono::steady_clock::now();
      DBRESULT rc = c.write();
      auto waited = std::chrono::steady_clock::now() - start;
      std::string text = LastErrorText();
      EXPECT_EQ(rc, static_cast<DBRESULT>(DBE_TABLE_IN_USE)) << text;
      EXPECT_NE(text.find("locked by another program"), std::string::npos) << text;
      EXPECT_NE(text.find("File: " + c.named_file), std::string::npos) << text;
      EXPECT_GE(waited, std::chrono::milliseconds(300));
      EXPECT_LT(waited, std::chrono::seconds(5));  // bounded, not forever
      DbCancelUpdate(t);  // the refused row, if any
    }
    DBE_OK(c.write());
  }
  EXPECT_EQ(Count(t), 1u);
  DBE_OK(DbCloseTable(t));
  DBE_OK(DbDisconnect(dict));
}

}  // namespace
}  // namespace kx8test
