// Record filters, open modes, record locks and a second process.
#include <sys/wait.h>
#include <unistd.h>

#include "engine_fixture.h"

namespace kx8test {
namespace {

class FilterTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Create("RPT", "database1,Char,6;AMT,Money;FLAG,Logical;DT,Date;");
    DBHANDLE t = Open("RPT", DBE_OPEN_EXCLUSIVE);
    AppendRow(t, {{"database1", "ALLW"}, {"AMT", "10.5"}, {"FLAG", "T"}, {"DT", "20120101"}});
    AppendRow(t, {{"database1", "DEDN"}, {"AMT", "3"}, {"FLAG", "F"}});
    AppendRow(t, {{"database1", "ALLW"}, {"AMT", "7"}});
    AppendRow(t, {{"AMT", "1"}});
    DBE_OK(DbCloseTable(t));
  }
};

TEST_F(FilterTest, FiltersAndOptimisedFiltersSkipRowsThatDoNotMatch) {
  struct Case { const char* expr; std::vector<std::string> amounts; };
  const Case cases[] = {
      {"database1='ALLW'", {"10.5", "7"}},
      {"DATABASE1 = 'ALLW' AND AMT > 8", {"10.5"}},
      {"database1 IS NULL", {"1"}},
      {"NOT (database1 = 'ALLW') OR FLAG", {"10.5", "3"}},
      {"DT >= '2012-01-01'", {"10.5"}},
      {"AMT * 2 = 21", {"10.5"}},
  };
  DBHANDLE t = Open("RPT");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr);
    DBE_OK(DbSetAOF(t, c.expr, 0));
    EXPECT_EQ(Column(t, t, "AMT"), c.amounts);
    EXPECT_EQ(Count(t, DBE_COUNT_RESPECT_FILTERS), c.amounts.size());
    DBE_OK(DbClearAOF(t));
    DBE_OK(DbSetFilter(t, c.expr));
    EXPECT_EQ(Column(t, t, "AMT"), c.amounts);
    DBE_OK(DbClearFilter(t));
  }
  EXPECT_EQ(Count(t, DBE_COUNT_RESPECT_FILTERS), 4u);
  DBE_FAILS_WITH(DBE_EXPRESSION_ERROR, DbSetFilter(t, "database1 = "));
  DBE_FAILS_WITH(DBE_EXPRESSION_ERROR, DbSetFilter(t, "NOSUCH = 1"));
  EXPECT_NE(LastErrorText().find("NOSUCH"), std::string::npos);
  EXPECT_EQ(Count(t, DBE_COUNT_RESPECT_FILTERS), 4u);  // a bad filter leaves none set
  DBE_OK(DbCloseTable(t));
}

class LockTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Create("EMP", "EMP_NO,Char,6;NAME,Char,20;");
    DBHANDLE t = Open("EMP", DBE_OPEN_EXCLUSIVE);
    AppendRow(t, {{"EMP_NO", "E1"}, {"NAME", "Tan"}});
    AppendRow(t, {{"EMP_NO", "E2"}, {"NAME", "Lim"}});
    DBE_OK(DbCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 2 | DBE_INDEX_DESCENDING, 0, nullptr));
    DBE_OK(DbCloseTable(t));
  }
};

TEST_F(LockTest, OpenModesWithinOneProcess) {
  struct Case { uint32_t first, second; bool second_opens; };
  const Case cases[] = {
      {DBE_OPEN_SHARED, DBE_OPEN_SHARED, true},
      {DBE_OPEN_SHARED, DBE_OPEN_READONLY, true},
      {DBE_OPEN_SHARED, DBE_OPEN_EXCLUSIVE, false},
      {DBE_OPEN_READONLY, DBE_OPEN_EXCLUSIVE, false},
      {DBE_OPEN_EXCLUSIVE, DBE_OPEN_SHARED, false},
      {DBE_OPEN_EXCLUSIVE, DBE_OPEN_EXCLUSIVE | DBE_OPEN_READONLY, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
    DBHANDLE a = Open("EMP", c.first);
    DBHANDLE b = 0;
    DBRESULT rc = TryOpen("emp.kdt", c.second, &b);
    EXPECT_EQ(rc, c.second_opens ? 0u : static_cast<DBRESULT>(DBE_TABLE_IN_USE)) << LastErrorText();
    if (rc == 0) DBE_OK(DbCloseTable(b));
    DBE_OK(DbCloseTable(a));
  }
}

TEST_F(LockTest, SharedHandlesSeeEachOthersWritesAndHonourRecordLocks) {
  DBHANDLE a = Open("EMP");
  DBHANDLE b = Open("EMP");
  DBE_OK(DbGotoTop(a));
  DBE_OK(DbGotoTop(b));
  DBE_OK(DbLockRecord(a, 0));
  DBE_FAILS_WITH(DBE_RECORD_LOCKED, DbLockRecord(b, 0));
  DBE_FAILS_WITH(DBE_RECORD_LOCKED, DbSetField(b, "NAME", "X", 1));
  DBE_OK(DbSetField(a, "NAME", "Tan Ah Kow", 10));
  DBE_OK(DbWriteRecord(a));
  DBE_OK(DbUnlockRecord(a, 0));
  EXPECT_EQ(Get(b, "NAME"), "Tan Ah Kow");
  DBE_OK(DbLockRecord(b, 0));
  DBE_OK(DbUnlockRecord(b, 0));
  // A read-only handle may not write.
  DBHANDLE r = Open("EMP", DBE_OPEN_READONLY);
  DBE_FAILS_WITH(DBE_READ_ONLY, DbAppendRecord(r));
  DBE_OK(DbCloseTable(r));
  DBE_OK(DbCloseTable(a));
  DBE_OK(DbCloseTable(b));
}

// Runs body in a child process with its own connection; returns its exit
// code. The child reports through the code only.
template <class F>
int InChild(const std::string& folder, F body) {
  pid_t pid = fork();
  if (pid == 0) {
    DBHANDLE c = 0;
    if (DbConnect(folder.c_str(), 1, "", "", 0, &c) != 0) _exit(100);
    _exit(body(c));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

int ChildOpen(DBHANDLE c, uint32_t mode) {
  DBHANDLE t = 0;
  DBRESULT rc = DbOpenTable(c, "EMP", nullptr, 3, 1, 1, 2, mode, &t);
  if (rc == DBE_TABLE_IN_USE) return 1;
  if (rc != 0) return 2;
  DbCloseTable(t);
  return 0;
}

TEST_F(LockTest, AnotherProcessIsKeptOutOfAnExclusiveOpenAndBack) {
  DBHANDLE shared = Open("EMP");
  EXPECT_EQ(InChild(dir_.path(), [](DBHANDLE c) { return ChildOpen(c, DBE_OPEN_EXCLUSIVE); }), 1);
  EXPECT_EQ(InChild(dir_.path(), [](DBHANDLE c) { return ChildOpen(c, DBE_OPEN_SHARED); }), 0);
  DBE_OK(DbCloseTable(shared));
  EXPECT_EQ(InChild(dir_.path(), [](DBHANDLE c) { return ChildOpen(c, DBE_OPEN_EXCLUSIVE); }), 0);
  DBHANDLE excl = Open("EMP", DBE_OPEN_EXCLUSIVE);
  EXPECT_EQ(InChild(dir_.path(), [](DBHANDLE c) { return ChildOpen(c, DBE_OPEN_SHARED); }), 1);
  DBE_OK(DbCloseTable(excl));
}

TEST_F(LockTest, AnotherProcessSeesWritesAndRecordLocks) {
  DBHANDLE t = Open("EMP");
  DBE_OK(DbGotoTop(t));
  DBE_OK(DbLockRecord(t, 0));
  int rc = InChild(dir_.path(), [](DBHANDLE c) {
    DBHANDLE h = 0;
    if (DbOpenTable(c, "EMP", nullptr, 3, 1, 1, 2, 0, &h) != 0) return 2;
    if (DbLockRecord(h, 1) != DBE_RECORD_LOCKED) return 3;
    if (DbGotoRecord(h, 2) != 0 || DbSetField(h, "NAME", "Lim Bee", 7) != 0 || DbWriteRecord(h) != 0) return 4;
    if (DbAppendRecord(h) != 0 || DbSetField(h, "EMP_NO", "E3", 2) != 0 || DbWriteRecord(h) != 0) return 5;
    DbCloseTable(h);
    return 0;
  });
  EXPECT_EQ(rc, 0);
  DBE_OK(DbUnlockRecord(t, 0));
  EXPECT_EQ(Column(t, t, "NAME"), (std::vector<std::string>{"Tan", "Lim Bee", ""}));
  EXPECT_EQ(Count(t), 3u);
  // The index of this process notices the other's changes.
  DBHANDLE ix = 0;
  DBE_OK(DbGetIndexHandle(t, "BYNAME", &ix));
  EXPECT_EQ(Column(ix, t, "EMP_NO"), (std::vector<std::string>{"E1", "E2", "E3"}));
  DBE_OK(DbCloseTable(t));
}

}  // namespace
}  // namespace kx8test
