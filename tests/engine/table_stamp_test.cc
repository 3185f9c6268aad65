// The stamp of a table's data and index files: it holds while nothing
// changes the table, whoever opens and closes it, and changes with every
// rewrite, every growth, every tag added or dropped and every replacement of
// the files, by this process or by another program; where the files do not
// show the table as this process holds it, no stamp is given.
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

class TableStampTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(DbCreateSQLStatement(conn_, &stmt_), 0u) << LastErrorText();
    Create("PAY", "CODE,Char,6;AMOUNT,Double;NOTE,Memo");
    DBHANDLE t = Open("PAY", DBE_OPEN_EXCLUSIVE);
    DBHANDLE ix = 0;
    DBE_OK(DbCreateIndex(t, nullptr, "BYCODE", "CODE", nullptr, nullptr, 0, 0, &ix));
    AppendRow(t, {{"CODE", "E1"}, {"AMOUNT", "10"}, {"NOTE", "first"}});
    AppendRow(t, {{"CODE", "E2"}, {"AMOUNT", "20"}, {"NOTE", "second"}});
    DBE_OK(DbCloseTable(t));
  }
  void TearDown() override {
    DbSetRewriteDeferral(0);
    DbCloseSQLStatement(stmt_);
    EngineTest::TearDown();
  }

  uint64_t Stamp(const char* name = "PAY") {
    uint64_t stamp = 99;
    EXPECT_EQ(DbGetTableStamp(conn_, name, &stamp), 0u) << LastErrorText();
    return stamp;
  }
  uint64_t StampOf(DBHANDLE table) {
    uint64_t stamp = 99;
    EXPECT_EQ(DbGetTableStamp(table, nullptr, &stamp), 0u) << LastErrorText();
    return stamp;
  }
  void Exec(const std::string& sql) {
    DBE_OK(DbPrepareSQL(stmt_, sql.c_str()));
    DBE_OK(DbExecuteSQL(stmt_, nullptr));
  }
  std::string File(const std::string& name) const { return dir_.path() + "/" + name; }

  DBHANDLE stmt_ = 0;
};

TEST_F(TableStampTest, HoldsWhileNothingTouchesTheTable) {
  const uint64_t stamp = Stamp();
  ASSERT_NE(stamp, 0u);
  EXPECT_EQ(Stamp("pay.kdt"), stamp);  // any spelling of the same file
  EXPECT_EQ(Stamp(File("PAY.KDT").c_str()), stamp);
  DBHANDLE reader = Open("PAY");
  EXPECT_EQ(StampOf(reader), stamp);
  DBHANDLE second = Open("PAY");
  EXPECT_EQ(Column(reader, reader, "CODE"), (std::vector<std::string>{"E1", "E2"}));
  EXPECT_EQ(StampOf(second), stamp);
  DBE_OK(DbCloseTable(second));
  DBE_OK(DbCloseTable(reader));
  EXPECT_EQ(Stamp(), stamp);
  Create("OTHER", "X,Char,2");  // another table's changes are not this one's
  EXPECT_EQ(Stamp(), stamp);
}

TEST_F(TableStampTest, ChangesWithEveryRewriteAndReplacement) {
  struct Case {
    const char* what;
    std::function<void()> change;
  };
  const Case cases[] = {
      {"ALTER TABLE", [&] { Exec("ALTER TABLE PAY ADD COLUMN BONUS Double"); }},
      {"ALTER TABLE through the table's file name", [&] { Exec("ALTER TABLE \"PAY.KDT\" alter column \"CODE\" \"CODE\" char(8)"); }},
      {"a row added",
       [&] {
         DBHANDLE t = Open("PAY");
         AppendRow(t, {{"CODE", "E3"}});
         DBE_OK(DbCloseTable(t));
       }},
      {"an index tag added",
       [&] {
         DBHANDLE t = Open("PAY", DBE_OPEN_EXCLUSIVE);
         DBE_OK(DbCreateIndex(t, nullptr, "BYAMOUNT", "AMOUNT", nullptr, nullptr, 2, 0, nullptr));
         DBE_OK(DbCloseTable(t));
       }},
      {"an index tag dropped",
       [&] {
         DBHANDLE t = Open("PAY", DBE_OPEN_EXCLUSIVE);
         DBHANDLE ix = 0;
         DBE_OK(DbGetIndexHandle(t, "BYAMOUNT", &ix));
         DBE_OK(DbDeleteIndex(ix));
         DBE_OK(DbCloseTable(t));
       }},
      {"pack",
       [&] {
         DBHANDLE t = Open("PAY", DBE_OPEN_EXCLUSIVE);
         DBE_OK(DbGotoTop(t));
         DBE_OK(DbDeleteRecord(t));
         DBE_OK(DbPackTable(t));
         DBE_OK(DbCloseTable(t));
       }},
      // Another program puts an older copy of the table in its place, as a
      // restore does: a new file under the same name.
      {"the file replaced by another program",
       [&] {
         for (const char* f : {"PAY.KDT", "PAY.KDI", "PAY.KDM"}) fs::copy_file(File(f), File(std::string(f) + ".old"));
         Exec("ALTER TABLE PAY ADD COLUMN LATER Integer");
         for (const char* f : {"PAY.KDM", "PAY.KDI", "PAY.KDT"}) fs::rename(File(std::string(f) + ".old"), File(f));
       }},
      // Another program writes the file where it is.
      {"the file written in place by another program",
       [&] {
         std::fstream f(File("PAY.KDT"), std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(0, std::ios::end);
         f.put('\0');
       }},
      {"the file's time set by another program",
       [&] { fs::last_write_time(File("PAY.KDT"), fs::last_write_time(File("PAY.KDT")) - std::chrono::hours(1)); }},
      {"encryption (last: the statements above have no password)",
       [&] {
         DBHANDLE t = Open("PAY", DBE_OPEN_EXCLUSIVE);
         DBE_OK(DbEnableEncryption(t, "pw"));
         DBE_OK(DbEncryptTable(t));
         DBE_OK(DbCloseTable(t));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint64_t before = Stamp();
    ASSERT_NE(before, 0u);
    c.change();
    const uint64_t after = Stamp();
    EXPECT_NE(after, before);
    EXPECT_NE(after, 0u);
  }
}

TEST_F(TableStampTest, NoStampWhereTheFilesDoNotShowTheTable) {
  EXPECT_EQ(Stamp("MISSING"), 0u);

  // Held exclusively here: whoever holds it may change it at any moment.
  DBHANDLE t = Open("PAY", DBE_OPEN_EXCLUSIVE);
  EXPECT_EQ(Stamp(), 0u);
  EXPECT_EQ(StampOf(t), 0u);
  DBE_OK(DbCloseTable(t));
  const uint64_t before = Stamp();
  EXPECT_NE(before, 0u);

  // A change waiting in this process: the files still show the table as it
  // was, until the change is written.
  DBE_OK(DbSetRewriteDeferral(1));
  Exec("ALTER TABLE PAY ADD COLUMN BONUS Double");
  EXPECT_EQ(Stamp(), 0u);
  t = Open("PAY");
  EXPECT_EQ(StampOf(t), 0u);
  DBE_OK(DbCloseTable(t));
  DBE_OK(DbSetRewriteDeferral(0));
  const uint64_t rewritten = Stamp();
  EXPECT_NE(rewritten, 0u);
  EXPECT_NE(rewritten, before);

  // A rewrite committed but not switched to yet (a stop in the middle): the
  // next open takes the new files.
  { std::ofstream(File("PAY.KDT.commit")) << ""; }
  EXPECT_EQ(Stamp(), 0u);
  t = Open("PAY");  // replays the (empty) marker and removes it
  EXPECT_NE(StampOf(t), 0u);
  DBE_OK(DbCloseTable(t));

  // A table the dictionary does not hold has no stamp on its connection.
  DBHANDLE dictionary = 0;
  DBE_OK(DbDDCreate(File("CO.kdd").c_str(), "admin-pw", "", &dictionary));
  uint64_t stamp = 99;
  DBE_OK(DbGetTableStamp(dictionary, "PAY", &stamp));
  EXPECT_EQ(stamp, 0u);
  DbDisconnect(dictionary);
}

TEST_F(TableStampTest, RefusesWhatIsNotATableOrConnection) {
  uint64_t stamp = 0;
  DBE_FAILS_WITH(DBE_INVALID_ARGUMENT, DbGetTableStamp(conn_, "PAY", nullptr));
  DBE_FAILS_WITH(DBE_INVALID_ARGUMENT, DbGetTableStamp(conn_, nullptr, &stamp));
  DBE_FAILS_WITH(DBE_INVALID_HANDLE, DbGetTableStamp(stmt_, "PAY", &stamp));
}

}  // namespace
}  // namespace kx8test
