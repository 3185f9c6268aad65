// An open reads the table's index file once: the tag definitions and the
// saved entries come from the same read, and the entries still answer for
// the rows as they are.
#include <cstring>
#include <string>

#include "engine_fixture.h"
#include "os/system_calls.h"

namespace kx8test {
namespace {

int g_index_file_opens = 0;

int CountingOpen(const char* path, int flags, mode_t mode) {
  const std::size_t n = std::strlen(path);
  if (n >= 4 && std::strcmp(path + n - 4, ".KDI") == 0) ++g_index_file_opens;
  return dbe::os::RealCalls().open(path, flags, mode);
}

class IndexFileReadTest : public EngineTest {
 protected:
  void TearDown() override {
    dbe::os::Calls() = dbe::os::RealCalls();
    EngineTest::TearDown();
  }
};

TEST_F(IndexFileReadTest, AnOpenReadsTheIndexFileOnce) {
  Create("PAY", "CODE,Char,6;AMOUNT,Double");
  DBHANDLE t = Open("PAY", DBE_OPEN_EXCLUSIVE);
  DBHANDLE ix = 0;
  DBE_OK(DbCreateIndex(t, nullptr, "BYCODE", "CODE", nullptr, nullptr, 0, 0, &ix));
  for (const char* code : {"E3", "E1", "E2"}) AppendRow(t, {{"CODE", code}});
  DBE_OK(DbCloseTable(t));  // saves the entries with the definitions

  g_index_file_opens = 0;
  dbe::os::Calls().open = CountingOpen;
  t = Open("PAY");
  DBE_OK(DbGetIndexHandle(t, "BYCODE", &ix));
  EXPECT_EQ(Column(ix, t, "CODE"), (std::vector<std::string>{"E1", "E2", "E3"}));
  EXPECT_EQ(g_index_file_opens, 1);

  // A row written by another handle since the open: the entries read with
  // the open no longer answer, and the rows do.
  DBHANDLE other = Open("PAY");
  AppendRow(other, {{"CODE", "E0"}});
  DBE_OK(DbCloseTable(other));
  EXPECT_EQ(Column(ix, t, "CODE"), (std::vector<std::string>{"E0", "E1", "E2", "E3"}));
  DBE_OK(DbCloseTable(t));
}

}  // namespace
}  // namespace kx8test
