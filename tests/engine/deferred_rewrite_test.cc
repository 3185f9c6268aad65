// Deferred rewrites: a run of restructures, packs, decryptions and
// encryptions gives the same table with deferral on as with it off, in one
// rewrite, without ever writing an encrypted table's rows in the clear.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine_fixture.h"
#include "storage/checksum.h"
#include "storage/rewrite_totals.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

constexpr char kPassword[] = "s3cret-pw";
constexpr char kSecret[] = "TOPSECRETSALARY";  // a value that must never reach a disk in the clear

#define DBE_EXPECT(call) EXPECT_EQ((call), 0u) << #call << " -> " << LastErrorText()

uint64_t Rewrites() {
  const dbe::RewriteTotals t = dbe::CurrentRewriteTotals();
  return t.restructures + t.other_rewrites;
}

class Deferral {
 public:
  explicit Deferral(bool on) : on_(on) {
    if (on_) {
      EXPECT_EQ(DbSetRewriteDeferral(1), 0u) << LastErrorText();
    }
  }
  ~Deferral() {
    if (on_) DbSetRewriteDeferral(0);
  }

 private:
  bool on_;
};

class DeferredRewriteTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(DbCreateSQLStatement(conn_, &stmt_), 0u) << LastErrorText();
  }
  void TearDown() override {
    DbSetRewriteDeferral(0);
    DbCloseSQLStatement(stmt_);
    EngineTest::TearDown();
  }

  DBRESULT Exec(const std::string& sql) {
    DBRESULT rc = DbPrepareSQL(stmt_, sql.c_str());
    return rc != 0 ? rc : DbExecuteSQL(stmt_, nullptr);
  }

  // EMP in folder sub: six rows (row 2 and 5 deleted), an index on CODE,
  // a memo, and encrypted when asked.
  void MakeTable(bool encrypted) {
    Create("EMP", "CODE,Char,6;NAME,Char,20;PAY,Double;NOTE,Memo;NUM,Numeric,6,2");
    DBHANDLE t = Open("EMP", DBE_OPEN_EXCLUSIVE);
    DBHANDLE ix = 0;
    DBE_OK(DbCreateIndex(t, nullptr, "BYCODE", "CODE", nullptr, nullptr, 0, 0, &ix));
    for (int i = 1; i <= 6; ++i) {
      const std::string n = std::to_string(i);
      AppendRow(t, {{"CODE", "E" + n}, {"NAME", i == 3 ? std::string(kSecret) : "Name number " + n},
                    {"PAY", n + "00.5"}, {"NOTE", "note " + n}, {"NUM", n + ".25"}});
    }
    for (uint32_t r : {2u, 5u}) {
      DBE_OK(DbGotoRecord(t, r));
      DBE_OK(DbDeleteRecord(t));
    }
    if (encrypted) {
      DBE_OK(DbEnableEncryption(t, kPassword));
      DBE_OK(DbEncryptTable(t));
    }
    DBE_OK(DbCloseTable(t));
  }

  // Stores row recno's CODE (the first field) as blanks without marking it
  // empty, with the row's check made anew: a form no write of the engine
  // gives (it stores such a value empty) but a file may hold.
  void StoreBlankCodeUnmarked(uint32_t recno) {
    std::fstream f(dir_.File("EMP.KDT"), std::ios::in | std::ios::out | std::ios::binary);
    auto u32 = [&](std::streamoff at) {
      uint8_t b[4] = {};
      f.seekg(at);
      f.read(reinterpret_cast<char*>(b), 4);
      return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    };
    const uint32_t header = u32(12), length = u32(20), slot = u32(24), offset = u32(512 + 72);
    const std::streamoff at = std::streamoff(header) + std::streamoff(recno - 1) * slot;
    std::vector<uint8_t> rec(length);
    f.seekg(at);
    f.read(reinterpret_cast<char*>(rec.data()), length);
    ASSERT_EQ(rec[1] & 1, 0) << "CODE holds a value";
    std::fill(rec.begin() + offset, rec.begin() + offset + 6, uint8_t(' '));
    const uint32_t check = dbe::RowChecksum(recno, rec.data(), length);
    const uint8_t le[4] = {uint8_t(check), uint8_t(check >> 8), uint8_t(check >> 16), uint8_t(check >> 24)};
    f.seekp(at);
    f.write(reinterpret_cast<const char*>(rec.data()), length);
    f.write(reinterpret_cast<const char*>(le), 4);
    ASSERT_TRUE(f.good());
  }

  // One step as the upgrade makes it: the table opened exclusively with its
  // password, the step, the table closed.
  void Step(const std::string& step) {
    SCOPED_TRACE(step);
    if (step.rfind("ALTER", 0) == 0) {
      DBE_OK(Exec(step));
      return;
    }
    DBHANDLE t = Open("EMP", DBE_OPEN_EXCLUSIVE);
    DBE_OK(DbEnableEncryption(t, kPassword));
    if (step == "decrypt") DBE_OK(DbDecryptTable(t));
    if (step == "encrypt") DBE_OK(DbEncryptTable(t));
    if (step == "pack") DBE_OK(DbPackTable(t));
    if (step == "read") Get(t, "CODE");
    DBE_OK(DbCloseTable(t));
  }

  // Fields, tags, encryption and every row (deleted ones too), as text.
  std::vector<std::string> Contents() {
    std::vector<std::string> out;
    DBHANDLE t = Open("EMP");
    DBE_EXPECT(DbEnableEncryption(t, kPassword));
    uint16_t enc = 0, n = 0, tags = 0;
    DBE_EXPECT(DbIsTableEncrypted(t, &enc));
    out.push_back(enc ? "encrypted" : "plain");
    DBE_EXPECT(DbGetNumFields(t, &n));
    std::vector<std::string> names;
    for (uint16_t i = 1; i <= n; ++i) {
      char name[80];
      uint16_t len = sizeof name;
      uint16_t type = 0, dec = 0;
      uint32_t length = 0;
      DBE_EXPECT(DbGetFieldName(t, i, name, &len));
      DBE_EXPECT(DbGetFieldType(t, DBE_FIELD_ORDINAL(i), &type));
      DBE_EXPECT(DbGetFieldLength(t, DBE_FIELD_ORDINAL(i), &length));
      DBE_EXPECT(DbGetFieldDecimals(t, DBE_FIELD_ORDINAL(i), &dec));
      names.push_back(name);
      out.push_back("FIELD " + names.back() + " " + std::to_string(type) + " " + std::to_string(length) + " " +
                    std::to_string(dec));
    }
    DBE_EXPECT(DbGetNumIndexes(t, &tags));
    out.push_back("TAGS " + std::to_string(tags));
    DBE_EXPECT(DbShowDeleted(1));
    DBE_EXPECT(DbGotoTop(t));
    while (!Eof(t)) {
      uint16_t deleted = 0;
      DBE_EXPECT(DbIsRecordDeleted(t, &deleted));
      std::string row = deleted ? "*" : " ";
      for (const std::string& f : names) row += "|" + (IsEmpty(t, f) ? std::string("<null>") : Get(t, f));
      out.push_back(row);
      DBE_EXPECT(DbSkip(t, 1));
    }
    DBE_EXPECT(DbShowDeleted(0));
    DBE_EXPECT(DbCloseTable(t));
    out.push_back(fs::exists(dir_.File("EMP.KDT.BAK")) ? "with .BAK" : "without .BAK");
    return out;
  }

  // Whether any file of the folder holds the secret value in the clear.
  bool SecretOnDisk() {
    for (const auto& e : fs::recursive_directory_iterator(dir_.path())) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (bytes.find(kSecret) != std::string::npos) return true;
    }
    return false;
  }

  DBHANDLE stmt_ = 0;
};

struct Case {
  const char* name;
  bool encrypted;
  std::vector<std::string> steps;
};

const Case kCases[] = {
    {"columns added one by one", false,
     {"ALTER TABLE \"EMP.KDT\" add column A char(4)", "ALTER TABLE \"EMP.KDT\" add column B INTEGER ",
      "ALTER TABLE \"EMP.KDT\" add column C LOGICAL "}},
    {"narrowed, then widened again", false,
     {"ALTER TABLE \"EMP.KDT\" alter column \"NAME\" \"NAME\" char(4)",
      "ALTER TABLE \"EMP.KDT\" alter column \"NAME\" \"NAME\" char(30)"}},
    {"retyped twice", false,
     {"ALTER TABLE \"EMP.KDT\" alter column NUM NUM char(3)", "ALTER TABLE \"EMP.KDT\" alter column NUM NUM INTEGER "}},
    {"index field dropped, memo made text", false,
     {"ALTER TABLE \"EMP.KDT\" DROP column CODE", "ALTER TABLE \"EMP.KDT\" alter column NOTE NOTE char(3)"}},
    {"auto-increment added twice", false,
     {"ALTER TABLE \"EMP.KDT\" add column NO AutoInc ", "pack", "ALTER TABLE \"EMP.KDT\" add column ID AutoInc ",
      "ALTER TABLE \"EMP.KDT\" alter column NO NO INTEGER "}},
    {"encrypted: decrypt, change, pack, encrypt, twice", true,
     {"decrypt", "ALTER TABLE \"EMP.KDT\" add column A char(4)", "pack", "encrypt", "decrypt",
      "ALTER TABLE \"EMP.KDT\" alter column \"NAME\" \"NAME\" char(8)", "pack", "encrypt"}},
    {"encrypted: left decrypted", true, {"decrypt", "ALTER TABLE \"EMP.KDT\" add column A char(4)", "pack"}},
    {"plain: changed, then encrypted", false, {"ALTER TABLE \"EMP.KDT\" add column A char(4)", "encrypt"}},
    {"rows read between changes", true,
     {"decrypt", "ALTER TABLE \"EMP.KDT\" add column A char(4)", "read", "encrypt", "pack"}},
    {"widened, then narrowed back", false,
     {"ALTER TABLE \"EMP.KDT\" alter column \"CODE\" \"CODE\" char(8)",
      "ALTER TABLE \"EMP.KDT\" alter column \"CODE\" \"CODE\" char(6)"}},
    {"encrypted: decrypt, widen, narrow back, encrypt", true,
     {"decrypt", "ALTER TABLE \"EMP.KDT\" alter column \"NAME\" \"NAME\" char(40)",
      "ALTER TABLE \"EMP.KDT\" alter column \"NAME\" \"NAME\" char(20)", "encrypt"}},
};

TEST_F(DeferredRewriteTest, GivesTheSameTableAsRewritingAtEachStep) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> expected, got;
    for (bool deferred : {false, true}) {
      fs::remove_all(dir_.path());
      fs::create_directories(dir_.path());
      MakeTable(c.encrypted);
      const uint64_t before = Rewrites();
      {
        Deferral deferral(deferred);
        for (const std::string& s : c.steps) Step(s);
      }
      (deferred ? got : expected) = Contents();
      if (deferred) {
        uint64_t reads = 0;
        for (const std::string& s : c.steps) reads += s == "read";
        EXPECT_LE(Rewrites() - before, 1u + reads);
      }
    }
    EXPECT_EQ(got, expected);
  }
}

TEST_F(DeferredRewriteTest, EncryptedTableNeverReachesTheDiskInTheClear) {
  MakeTable(true);
  ASSERT_FALSE(SecretOnDisk());
  const uint64_t before = Rewrites();
  {
    Deferral deferral(true);
    Step("decrypt");
    Step("ALTER TABLE \"EMP.KDT\" add column A char(4)");
    Step("pack");
    // Seen as changed while nothing was written.
    DBHANDLE t = Open("EMP");
    uint16_t enc = 1;
    DBE_OK(DbIsTableEncrypted(t, &enc));
    EXPECT_EQ(enc, 0);
    uint16_t n = 0;
    DBE_OK(DbGetNumFields(t, &n));
    EXPECT_EQ(n, 6);
    DBE_OK(DbCloseTable(t));
    EXPECT_EQ(Rewrites(), before);
    EXPECT_FALSE(fs::exists(dir_.File("EMP.KDT.BAK")));
    Step("encrypt");
  }
  EXPECT_EQ(Rewrites(), before + 1);
  EXPECT_FALSE(SecretOnDisk());  // nor in the .BAK set: the table as it was, encrypted
  EXPECT_TRUE(fs::exists(dir_.File("EMP.KDT.BAK")));
  std::vector<std::string> rows = Contents();
  EXPECT_EQ(rows.front(), "encrypted");
  EXPECT_EQ(rows.size(), 1u + 6u + 1u + 4u + 1u);  // flag, fields, tags, the four live rows, .BAK
}

TEST_F(DeferredRewriteTest, ChangesFailAtOnceWithTheirOwnErrors) {
  MakeTable(true);
  {
    Deferral deferral(true);
    Step("decrypt");
    EXPECT_NE(Exec("ALTER TABLE \"EMP.KDT\" add column CODE char(3)"), 0u);
    EXPECT_NE(LastErrorText().find("NativeError = 2130;"), std::string::npos) << LastErrorText();
    DBHANDLE t = Open("EMP", DBE_OPEN_EXCLUSIVE);
    DBE_FAILS_WITH(DBE_NOTHING_TO_DO, DbDecryptTable(t));
    DBE_OK(DbPackTable(t));
    DBE_OK(DbCloseTable(t));
    DBE_OK(Exec("ALTER TABLE \"EMP.KDT\" DROP column NOTE"));
    t = Open("EMP", DBE_OPEN_EXCLUSIVE);
    // Packed already, as far as anyone can see, and without a memo field.
    DBE_FAILS_WITH(DBE_NOTHING_TO_DO, DbPackTable(t));
    DBE_OK(DbEnableEncryption(t, kPassword));
    DBE_OK(DbEncryptTable(t));
    DBE_FAILS_WITH(DBE_NOTHING_TO_DO, DbEncryptTable(t));
    DBE_OK(DbCloseTable(t));
  }
  const std::vector<std::string> rows = Contents();
  EXPECT_EQ(rows.front(), "encrypted");
  EXPECT_EQ(rows.size(), 1u + 4u + 1u + 4u + 1u);
}

TEST_F(DeferredRewriteTest, HandlesOpenWhileAChangeWaitsReadTheNewTable) {
  MakeTable(false);
  Deferral deferral(true);
  Step("ALTER TABLE \"EMP.KDT\" add column A char(4)");
  Step("pack");
  DBHANDLE first = Open("EMP");
  DBHANDLE second = Open("EMP");
  DBHANDLE ix = 0;
  DBE_OK(DbGetIndexHandle(second, "BYCODE", &ix));
  // The first read rewrites the table; both handles then read it whole.
  EXPECT_EQ(Column(first, first, "CODE"), (std::vector<std::string>{"E1", "E3", "E4", "E6"}));
  DBE_OK(DbGotoBottom(ix));
  EXPECT_EQ(Get(second, "CODE"), "E6");
  DBE_OK(DbSetField(second, "A", "x", 1));
  DBE_OK(DbWriteRecord(second));
  EXPECT_EQ(Count(first), 4u);
  DBE_OK(DbCloseTable(first));
  DBE_OK(DbCloseTable(second));
}


TEST_F(DeferredRewriteTest, OneTableIsRewrittenAloneWhenAsked) {
  MakeTable(false);
  Create("OTHER", "ID,Char,4");
  DBHANDLE o = Open("OTHER", DBE_OPEN_EXCLUSIVE);
  AppendRow(o, {{"ID", "o1"}});
  DBE_OK(DbCloseTable(o));
  const uint64_t before = Rewrites();
  Deferral deferral(true);
  DBE_OK(Exec("ALTER TABLE \"EMP.KDT\" add column A char(4)"));
  DBE_OK(Exec("ALTER TABLE \"OTHER.KDT\" add column B char(4)"));
  // Names with nothing waiting, or no table at all, are no error.
  DBE_OK(DbApplyDeferredRewrite(conn_, "NOSUCH"));
  EXPECT_EQ(Rewrites(), before);
  DBE_OK(DbApplyDeferredRewrite(conn_, "emp"));
  EXPECT_EQ(Rewrites(), before + 1);
  EXPECT_TRUE(fs::exists(dir_.File("EMP.KDT.BAK")));
  EXPECT_FALSE(fs::exists(dir_.File("OTHER.KDT.BAK")));
  DBE_OK(DbApplyDeferredRewrite(conn_, "EMP"));
  EXPECT_EQ(Rewrites(), before + 1);
  DBE_OK(DbApplyDeferredRewrites());
  EXPECT_EQ(Rewrites(), before + 2);
  EXPECT_TRUE(fs::exists(dir_.File("OTHER.KDT.BAK")));
}

// A file put in a waiting table's place (as an archive's extraction puts
// one: written beside it and renamed over it) is not what the changes were
// asked for. Rebuilding from the files held would write the old rows over
// it; the rewrite refuses instead and leaves the new file as it came.
TEST_F(DeferredRewriteTest, AChangeDoesNotOverwriteFilesThatReplacedTheTableMeanwhile) {
  MakeTable(false);
  Create("FRESH", "CODE,Char,6;NAME,Char,20;PAY,Double;NOTE,Memo;NUM,Numeric,6,2");
  DBHANDLE f = Open("FRESH", DBE_OPEN_EXCLUSIVE);
  AppendRow(f, {{"CODE", "NEW1"}, {"NAME", "from the archive"}});
  DBE_OK(DbCloseTable(f));
  Deferral deferral(true);
  DBE_OK(Exec("ALTER TABLE \"EMP.KDT\" add column A char(4)"));
  for (const char* ext : {".KDT", ".KDM"}) {
    fs::copy_file(dir_.File(std::string("FRESH") + ext), dir_.File(std::string("EMP.tmp") + ext));
    fs::rename(dir_.File(std::string("EMP.tmp") + ext), dir_.File(std::string("EMP") + ext));
  }
  fs::remove(dir_.File("EMP.KDI"));
  DBE_FAILS_WITH(DBE_TABLE_FAILED, DbApplyDeferredRewrites());
  EXPECT_NE(LastErrorText().find("replaced while changes to it waited"), std::string::npos) << LastErrorText();
  EXPECT_FALSE(fs::exists(dir_.File("EMP.KDT.BAK")));
  // The table is the replacing one, unchanged.
  DBHANDLE t = Open("EMP");
  uint16_t n = 0;
  DBE_OK(DbGetNumFields(t, &n));
  EXPECT_EQ(n, 5);
  EXPECT_EQ(Column(t, t, "CODE"), (std::vector<std::string>{"NEW1"}));
  DBE_OK(DbCloseTable(t));
}

// Changes that give the table back as its files hold it are not written:
// the files stay byte for byte, beside a .BAK set of them. Changes that
// only look alike (values cut on the way, another width, another form, a
// stored value that would not come back as stored) are. Either way the
// table ends as when every change is written as it is made.
TEST_F(DeferredRewriteTest, ChangesThatPutTheTableBackRewriteNothing) {
  const std::string alter = "ALTER TABLE \"EMP.KDT\" alter column ";
  struct Back {
    const char* name;
    bool encrypted;
    bool blank_code;  // row 4's CODE stored as blanks, not marked empty
    std::vector<std::string> steps;
    uint64_t rewrites;
  };
  const Back cases[] = {
      {"widened, then narrowed back", false, false,
       {alter + "\"CODE\" \"CODE\" char(8)", alter + "\"CODE\" \"CODE\" char(12)", alter + "\"CODE\" \"CODE\" char(6)"},
       0},
      {"a column added and dropped again", false, false,
       {"ALTER TABLE \"EMP.KDT\" add column A char(4)", "ALTER TABLE \"EMP.KDT\" DROP column A"}, 0},
      {"encrypted: decrypted, widened, narrowed back, encrypted", true, false,
       {"decrypt", alter + "\"NAME\" \"NAME\" char(40)", alter + "\"NAME\" \"NAME\" char(20)", "encrypt"}, 0},
      {"narrowed, then widened back (values may be cut)", false, false,
       {alter + "\"CODE\" \"CODE\" char(2)", alter + "\"CODE\" \"CODE\" char(6)"}, 1},
      {"widened, then narrowed to another width", false, false,
       {alter + "\"CODE\" \"CODE\" char(8)", alter + "\"CODE\" \"CODE\" char(7)"}, 1},
      {"retyped and back", false, false,
       {alter + "\"CODE\" \"CODE\" INTEGER ", alter + "\"CODE\" \"CODE\" char(6)"}, 1},
      {"widened, narrowed back and packed", false, false,
       {alter + "\"CODE\" \"CODE\" char(8)", alter + "\"CODE\" \"CODE\" char(6)", "pack"}, 1},
      {"widened and narrowed back over a blank value not marked empty", false, true,
       {alter + "\"CODE\" \"CODE\" char(8)", alter + "\"CODE\" \"CODE\" char(6)"}, 1},
      {"another column widened and narrowed back beside that value", false, true,
       {alter + "\"NAME\" \"NAME\" char(40)", alter + "\"NAME\" \"NAME\" char(20)"}, 0},
  };
  auto bytes = [&](const char* name) {
    std::ifstream in(dir_.File(name), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  for (const Back& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> expected;
    for (bool deferred : {false, true}) {
      fs::remove_all(dir_.path());
      fs::create_directories(dir_.path());
      MakeTable(c.encrypted);
      if (c.blank_code) StoreBlankCodeUnmarked(4);
      const std::string kdt = bytes("EMP.KDT"), kdi = bytes("EMP.KDI"), kdm = bytes("EMP.KDM");
      const uint64_t before = Rewrites();
      {
        Deferral deferral(deferred);
        for (const std::string& s : c.steps) Step(s);
      }
      EXPECT_TRUE(fs::exists(dir_.File("EMP.KDT.BAK")));
      if (!deferred) {
        expected = Contents();
        continue;
      }
      EXPECT_EQ(Rewrites() - before, c.rewrites);
      EXPECT_EQ(Contents(), expected);
      if (c.rewrites == 0) {
        EXPECT_EQ(bytes("EMP.KDT"), kdt);
        EXPECT_EQ(bytes("EMP.KDI"), kdi);
        EXPECT_EQ(bytes("EMP.KDM"), kdm);
        EXPECT_EQ(bytes("EMP.KDT.BAK"), kdt);
      }
    }
  }
}

}  // namespace
}  // namespace kx8test
