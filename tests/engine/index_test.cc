// Index tags: creation, listing, maintenance on every write, seeks, scopes,
// order, uniqueness, and the index file that keeps them between opens.
#include <filesystem>

#include "engine_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

DBE_KEY_VALUE Str(const char* s) { return DBE_KEY_VALUE{DBE_KEY_STRING, s, strlen(s), 0, 0}; }
DBE_KEY_VALUE Int(int64_t v) { return DBE_KEY_VALUE{DBE_KEY_INTEGER, nullptr, 0, 0, v}; }

class IndexTest : public EngineTest {
 protected:
  // P_HTRX-like history: employee, year, month, pay date, amount.
  void MakeHistory() {
    Create("HIST", "EMP_NO,Char,6;YEAR,ShortInt;MONTH,ShortInt;PAYDATE,Date;AMOUNT,Money;");
    DBHANDLE t = Open("HIST", DBE_OPEN_EXCLUSIVE);
    DBE_OK(DbCreateIndex(t, nullptr, "EMPYM", "EMP_NO;YEAR;MONTH", nullptr, nullptr, DBE_INDEX_COMPOUND, 0, nullptr));
    DBE_OK(DbCreateIndex(t, nullptr, "PAYDATE", "PAYDATE", nullptr, nullptr, 2 | DBE_INDEX_DESCENDING, 0, nullptr));
    struct Row { const char* emp; int year, month; const char* date; const char* amount; };
    const Row rows[] = {
        {"B002", 2012, 1, "20120131", "100"}, {"A001", 2012, 2, "20120229", "200"},
        {"A001", 2011, 12, "20111231", "50"}, {"C003", 2012, 1, "20120131", "75.5"},
        {"A001", 2012, 1, "20120131", "150"}, {"B002", 2011, 12, "20111231", "90"},
    };
    for (const Row& r : rows) {
      AppendRow(t, {{"EMP_NO", r.emp}, {"YEAR", std::to_string(r.year)}, {"MONTH", std::to_string(r.month)},
                    {"PAYDATE", r.date}, {"AMOUNT", r.amount}});
    }
    DBE_OK(DbCloseTable(t));
  }

  DBHANDLE Tag(DBHANDLE t, const char* name) {
    DBHANDLE ix = 0;
    EXPECT_EQ(DbGetIndexHandle(t, name, &ix), 0u) << LastErrorText();
    return ix;
  }

  std::vector<std::string> Keys(DBHANDLE ix, DBHANDLE t) {
    std::vector<std::string> out;
    EXPECT_EQ(DbGotoTop(ix), 0u) << LastErrorText();
    while (!Eof(t)) {
      out.push_back(Get(t, "EMP_NO") + "/" + Get(t, "YEAR") + "/" + Get(t, "MONTH"));
      EXPECT_EQ(DbSkip(ix, 1), 0u);
    }
    return out;
  }
};

TEST_F(IndexTest, TagsAreListedWithNameKeyAndOptions) {
  MakeHistory();
  DBHANDLE t = Open("HIST");
  DBHANDLE ixs[8];
  uint16_t n = 8;
  DBE_OK(DbGetAllIndexes(t, ixs, &n));
  ASSERT_EQ(n, 2);
  char buf[256];
  uint16_t len = sizeof buf;
  DBE_OK(DbGetIndexName(ixs[0], buf, &len));
  EXPECT_STREQ(buf, "EMPYM");
  len = sizeof buf;
  DBE_OK(DbGetIndexExpr(ixs[0], buf, &len));
  EXPECT_STREQ(buf, "EMP_NO;YEAR;MONTH");  // kept as given, semicolons and all
  uint32_t opts = 0;
  DBE_OK(DbGetIndexOptions(ixs[1], &opts));
  EXPECT_EQ(opts, uint32_t(2 | DBE_INDEX_DESCENDING));
  DBE_OK(DbCloseTable(t));
}

TEST_F(IndexTest, NavigationFollowsTheKeyInBothDirections) {
  MakeHistory();
  DBHANDLE t = Open("HIST");
  DBHANDLE ix = Tag(t, "EMPYM");
  const std::vector<std::string> want = {"A001/2011/12", "A001/2012/1", "A001/2012/2",
                                         "B002/2011/12", "B002/2012/1", "C003/2012/1"};
  EXPECT_EQ(Keys(ix, t), want);
  std::vector<std::string> back;
  DBE_OK(DbGotoBottom(ix));
  while (true) {
    back.push_back(Get(t, "EMP_NO") + "/" + Get(t, "YEAR") + "/" + Get(t, "MONTH"));
    DBE_OK(DbSkip(ix, -1));
    uint16_t bof = 0;
    DBE_OK(DbAtBOF(t, &bof));
    if (bof) break;
  }
  EXPECT_EQ(back, std::vector<std::string>(want.rbegin(), want.rend()));
  // Descending date tag, equal dates in record order.
  DBHANDLE byDate = Tag(t, "PAYDATE");
  EXPECT_EQ(Column(byDate, t, "PAYDATE"),
            (std::vector<std::string>{"20120229", "20120131", "20120131", "20120131", "20111231", "20111231"}));
  DBE_OK(DbCloseTable(t));
}

TEST_F(IndexTest, ExactAndSoftSeekOnMixedCompoundKeys) {
  MakeHistory();
  DBHANDLE t = Open("HIST");
  DBHANDLE ix = Tag(t, "EMPYM");
  struct Case {
    std::vector<DBE_KEY_VALUE> key;
    uint16_t mode;
    bool found;
    const char* at;  // EMP_NO/YEAR/MONTH of the row landed on, "" for end of table
  };
  const Case cases[] = {
      {{Str("B002"), Int(2012), Int(1)}, DBE_SEEK_EXACT, true, "B002/2012/1"},
      {{Str("B002")}, DBE_SEEK_EXACT, true, "B002/2011/12"},            // leading field only
      {{Str("A001"), Str("2012")}, DBE_SEEK_EXACT, true, "A001/2012/1"},  // number given as text
      {{Str("A001"), Int(2013)}, DBE_SEEK_EXACT, false, ""},
      {{Str("A001"), Int(2013)}, DBE_SEEK_SOFT, false, "B002/2011/12"},
      {{Str("B")}, DBE_SEEK_SOFT, true, "B002/2011/12"},                  // a prefix of the text
      {{Str("B")}, DBE_SEEK_EXACT, false, ""},
      {{Str("Z")}, DBE_SEEK_SOFT, false, ""},
      {{Str("A001"), Int(2012)}, DBE_SEEK_AFTER, false, "B002/2011/12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.at) + " mode " + std::to_string(c.mode));
    uint16_t found = 9;
    DBE_OK(DbSeek(ix, c.key.data(), static_cast<uint16_t>(c.key.size()), c.mode, &found));
    EXPECT_EQ(found, c.found ? 1 : 0);
    if (*c.at == '\0') {
      EXPECT_TRUE(Eof(t));
    } else {
      EXPECT_EQ(Get(t, "EMP_NO") + "/" + Get(t, "YEAR") + "/" + Get(t, "MONTH"), c.at);
    }
  }
  DBHANDLE byDate = Tag(t, "PAYDATE");
  DBE_KEY_VALUE d = Str("2012-01-31");
  uint16_t found = 0;
  DBE_OK(DbSeek(byDate, &d, 1, DBE_SEEK_EXACT, &found));
  EXPECT_EQ(found, 1);
  EXPECT_EQ(Get(t, "PAYDATE"), "20120131");
  DBE_OK(DbCloseTable(t));
}

TEST_F(IndexTest, ScopesLimitIndexNavigation) {
  MakeHistory();
  DBHANDLE t = Open("HIST");
  DBHANDLE ix = Tag(t, "EMPYM");
  DBE_KEY_VALUE a = Str("A001");
  DBE_OK(DbSetScope(ix, DBE_SCOPE_TOP, &a, 1));
  DBE_OK(DbSetScope(ix, DBE_SCOPE_BOTTOM, &a, 1));
  EXPECT_EQ(Keys(ix, t), (std::vector<std::string>{"A001/2011/12", "A001/2012/1", "A001/2012/2"}));
  DBE_OK(DbGotoBottom(ix));
  EXPECT_EQ(Get(t, "MONTH"), "2");
  DBE_KEY_VALUE b[] = {Str("B002"), Int(2012)};
  DBE_OK(DbSetScope(ix, DBE_SCOPE_TOP, b, 2));
  DBE_OK(DbSetScope(ix, DBE_SCOPE_BOTTOM, b, 2));
  EXPECT_EQ(Keys(ix, t), (std::vector<std::string>{"B002/2012/1"}));
  DBE_OK(DbClearScope(ix, DBE_SCOPE_TOP));
  DBE_OK(DbClearScope(ix, DBE_SCOPE_BOTTOM));
  EXPECT_EQ(Keys(ix, t).size(), 6u);
  DBE_OK(DbCloseTable(t));
}

TEST_F(IndexTest, EveryWriteKeepsTheOrderAcrossHandles) {
  MakeHistory();
  DBHANDLE writer = Open("HIST");
  DBHANDLE reader = Open("hist");
  DBHANDLE wix = Tag(writer, "EMPYM");
  DBHANDLE rix = Tag(reader, "EMPYM");
  EXPECT_EQ(Keys(rix, reader).size(), 6u);
  // Change a key, delete a row, append one.
  DBE_KEY_VALUE k[] = {Str("C003")};
  uint16_t found = 0;
  DBE_OK(DbSeek(wix, k, 1, DBE_SEEK_EXACT, &found));
  DBE_OK(DbLockRecord(writer, 0));
  DBE_OK(DbSetField(writer, "EMP_NO", "A000", 4));
  DBE_OK(DbWriteRecord(writer));
  DBE_OK(DbUnlockRecord(writer, 0));
  DBE_OK(DbGotoBottom(wix));  // B002/2012/1
  DBE_OK(DbDeleteRecord(writer));
  AppendRow(writer, {{"EMP_NO", "B001"}, {"YEAR", "2010"}, {"MONTH", "5"}});
  EXPECT_EQ(Keys(rix, reader), (std::vector<std::string>{"A000/2012/1", "A001/2011/12", "A001/2012/1",
                                                        "A001/2012/2", "B001/2010/5", "B002/2011/12"}));
  DBE_OK(DbCloseTable(writer));
  DBE_OK(DbCloseTable(reader));
  // The saved index file gives the same order after reopening.
  DBHANDLE t = Open("HIST");
  EXPECT_EQ(Keys(Tag(t, "EMPYM"), t).front(), "A000/2012/1");
  DBE_OK(DbCloseTable(t));
}

TEST_F(IndexTest, SkippingOnAfterDeletingMovesToTheNextRow) {
  MakeHistory();
  DBHANDLE t = Open("HIST");
  DBHANDLE ix = Tag(t, "EMPYM");
  DBE_OK(DbGotoTop(ix));
  std::vector<std::string> seen;
  while (!Eof(t)) {
    seen.push_back(Get(t, "EMP_NO"));
    DBE_OK(DbDeleteRecord(t));
    DBE_OK(DbSkip(ix, 1));
  }
  EXPECT_EQ(seen.size(), 6u);
  EXPECT_EQ(Count(t), 0u);
  DBE_OK(DbCloseTable(t));
}

TEST_F(IndexTest, UniqueTagRefusesDuplicatesAndChangesNothing) {
  Create("REG", "COMPANY_CODE,Char,8;NAME,Char,20;");
  DBHANDLE t = Open("REG", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbCreateIndex(t, nullptr, "PRIMARY", "COMPANY_CODE", nullptr, nullptr, 3, 0, nullptr));
  AppendRow(t, {{"COMPANY_CODE", "ACME"}, {"NAME", "Acme"}});
  AppendRow(t, {{"COMPANY_CODE", "BETA"}, {"NAME", "Beta"}});
  // A new row with a taken key.
  DBE_OK(DbAppendRecord(t));
  DBE_OK(DbSetField(t, "COMPANY_CODE", "ACME", 4));
  DBE_FAILS_WITH(DBE_DUPLICATE_KEY, DbWriteRecord(t));
  DBE_OK(DbCancelUpdate(t));
  // An edit to a taken key.
  DBE_OK(DbGotoRecord(t, 2));
  DBE_OK(DbSetField(t, "COMPANY_CODE", "ACME", 4));
  DBE_FAILS_WITH(DBE_DUPLICATE_KEY, DbWriteRecord(t));
  DBE_OK(DbCancelUpdate(t));
  // Rewriting a row with its own key is fine.
  DBE_OK(DbSetField(t, "NAME", "Beta Pte", 8));
  DBE_OK(DbWriteRecord(t));
  EXPECT_EQ(Count(t), 2u);
  EXPECT_EQ(Column(t, t, "COMPANY_CODE"), (std::vector<std::string>{"ACME", "BETA"}));
  // A unique tag over duplicate data is refused and not kept.
  AppendRow(t, {{"COMPANY_CODE", "GAMMA"}, {"NAME", "Acme"}});
  DBE_FAILS_WITH(DBE_DUPLICATE_KEY, DbCreateIndex(t, nullptr, "BYNAME", "NAME", nullptr, nullptr, 3, 0, nullptr));
  uint16_t n = 0;
  DBE_OK(DbGetNumIndexes(t, &n));
  EXPECT_EQ(n, 1);
  DBE_FAILS_WITH(DBE_INDEX_EXISTS, DbCreateIndex(t, nullptr, "primary", "NAME", nullptr, nullptr, 2, 0, nullptr));
  DBE_FAILS_WITH(DBE_COLUMN_NOT_FOUND, DbCreateIndex(t, nullptr, "X", "NAME;NOPE", nullptr, nullptr, 2, 0, nullptr));
  DBE_OK(DbCloseTable(t));
}

TEST_F(IndexTest, MissingIndexFileIsAClearError) {
  Create("mcompany.KDT", "COMPANY_CODE,Char,8;");
  DBHANDLE t = Open("mcompany.KDT", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbCreateIndex(t, nullptr, "PRIMARY", "COMPANY_CODE", nullptr, nullptr, 3, 0, nullptr));
  DBE_OK(DbCloseTable(t));
  fs::remove(dir_.File("mcompany.KDI"));
  DBE_FAILS_WITH(DBE_INDEX_FILE_MISSING, TryOpen("mcompany.KDT", 0, &t));
  EXPECT_NE(LastErrorText().find("mcompany.KDI"), std::string::npos);
  // The statement that builds the index again needs no index file.
  DBHANDLE stmt = 0;
  DBE_OK(DbCreateSQLStatement(conn_, &stmt));
  DBE_OK(DbPrepareSQL(stmt, "Create Unique Index \"PRIMARY\" on mcompany( COMPANY_CODE )"));
  DBE_OK(DbExecuteSQL(stmt, nullptr));
  DBE_OK(DbCloseSQLStatement(stmt));
  t = Open("mcompany.KDT");
  uint16_t n = 0;
  DBE_OK(DbGetNumIndexes(t, &n));
  EXPECT_EQ(n, 1);
  DBE_OK(DbCloseTable(t));
}

TEST_F(IndexTest, IndexesNeedSoleUseToChange) {
  MakeHistory();
  DBHANDLE a = Open("HIST");
  DBHANDLE b = Open("HIST");
  DBE_FAILS_WITH(DBE_NEEDS_EXCLUSIVE, DbCreateIndex(a, nullptr, "AMT", "AMOUNT", nullptr, nullptr, 2, 0, nullptr));
  DBE_OK(DbCloseTable(b));
  DBE_OK(DbCreateIndex(a, nullptr, "AMT", "AMOUNT", nullptr, nullptr, 2, 0, nullptr));
  EXPECT_EQ(Column(Tag(a, "AMT"), a, "AMOUNT"),
            (std::vector<std::string>{"50", "75.5", "90", "100", "150", "200"}));
  DBE_OK(DbDeleteIndex(Tag(a, "AMT")));
  uint16_t n = 0;
  DBE_OK(DbGetNumIndexes(a, &n));
  EXPECT_EQ(n, 2);
  DBE_OK(DbCloseTable(a));
}

}  // namespace
}  // namespace kx8test
