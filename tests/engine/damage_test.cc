// Damaged, truncated and foreign files give clear errors, never a crash or a
// wrong answer; a rewrite cut off at any stage leaves the old table or the
// new one, whole.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/fault.h"
#include "engine_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

void PutU32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = char(v >> (8 * i));
}

class DamageTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Create("GOOD", "EMP_NO,Char,8;AMOUNT,Money;NOTE,Memo;");
    DBHANDLE t = Open("GOOD", DBE_OPEN_EXCLUSIVE);
    DBE_OK(DbCreateIndex(t, nullptr, "EMP_NO", "EMP_NO", nullptr, nullptr, 2, 0, nullptr));
    for (int i = 0; i < 20; ++i) {
      AppendRow(t, {{"EMP_NO", "E" + std::to_string(i)}, {"AMOUNT", std::to_string(i)}, {"NOTE", "note " + std::to_string(i)}});
    }
    DBE_OK(DbCloseTable(t));
    kdt_ = ReadFile(dir_.File("GOOD.KDT"));
    kdi_ = ReadFile(dir_.File("GOOD.KDI"));
    kdm_ = ReadFile(dir_.File("GOOD.KDM"));
  }

  // Writes the three files as given and opens the table, reading every row.
  DBRESULT OpenAndRead(const std::string& kdt, const std::string& kdi, const std::string& kdm) {
    WriteFile(dir_.File("GOOD.KDT"), kdt);
    WriteFile(dir_.File("GOOD.KDI"), kdi);
    WriteFile(dir_.File("GOOD.KDM"), kdm);
    DBHANDLE t = 0;
    DBRESULT rc = TryOpen("GOOD", 0, &t);
    if (rc != 0) return rc;
    DBHANDLE ix = 0;
    rc = DbGetIndexHandle(t, "EMP_NO", &ix);
    for (DBHANDLE nav : {t, ix}) {
      if (rc == 0) rc = DbGotoTop(nav);
      uint16_t eof = 0;
      while (rc == 0 && DbAtEOF(t, &eof) == 0 && !eof) {
        char buf[100];
        uint32_t len = sizeof buf;
        rc = DbGetString(t, "NOTE", buf, &len);
        if (rc == 0) rc = DbSkip(nav, 1);
      }
    }
    DbCloseTable(t);
    return rc;
  }

  std::string kdt_, kdi_, kdm_;
};

TEST_F(DamageTest, DamagedFilesGiveClearErrors) {
  struct Case {
    const char* what;
    std::function<void(std::string& kdt, std::string& kdi, std::string& kdm)> damage;
    DBRESULT code;
  };
  const Case cases[] = {
      {"intact", [](std::string&, std::string&, std::string&) {}, 0},
      {"zero-length data file", [](std::string& t, std::string&, std::string&) { t.clear(); }, DBE_DAMAGED_FILE},
      {"header cut short", [](std::string& t, std::string&, std::string&) { t.resize(100); }, DBE_DAMAGED_FILE},
      {"foreign file", [](std::string& t, std::string&, std::string&) { t.replace(0, 8, "PK\3\4zip!"); }, DBE_DAMAGED_FILE},
      {"newer format", [](std::string& t, std::string&, std::string&) { PutU32(&t, 8, 99); }, DBE_UNSUPPORTED_TABLE_TYPE},
      {"field name changed", [](std::string& t, std::string&, std::string&) { t[513] = 'X'; }, DBE_DAMAGED_FILE},
      {"huge field count", [](std::string& t, std::string&, std::string&) { PutU32(&t, 16, 0x7fffffff); }, DBE_DAMAGED_FILE},
      {"header size beyond the file", [](std::string& t, std::string&, std::string&) { PutU32(&t, 12, 1u << 30); }, DBE_DAMAGED_FILE},
      {"rows cut short", [](std::string& t, std::string&, std::string&) { t.resize(t.size() - 10); }, DBE_DAMAGED_FILE},
      {"row count beyond the file", [](std::string& t, std::string&, std::string&) { PutU32(&t, 264, 1000000); }, DBE_DAMAGED_FILE},
      {"memo file cut short", [](std::string&, std::string&, std::string& m) { m.resize(m.size() / 2); }, DBE_DAMAGED_FILE},
      {"memo file of another table", [](std::string&, std::string&, std::string& m) { m[30] ^= 1; }, DBE_DAMAGED_FILE},
      {"index file garbage", [](std::string&, std::string& i, std::string&) { i = "garbage"; }, DBE_DAMAGED_FILE},
      {"index definitions changed", [](std::string&, std::string& i, std::string&) { i[60] ^= 0x20; }, DBE_DAMAGED_FILE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string kdt = kdt_, kdi = kdi_, kdm = kdm_;
    c.damage(kdt, kdi, kdm);
    DBRESULT rc = OpenAndRead(kdt, kdi, kdm);
    EXPECT_EQ(rc, c.code) << LastErrorText();
    if (c.code != 0) {
      EXPECT_NE(LastErrorText().find("GOOD.K"), std::string::npos) << "names the file";
    }
  }
}

TEST_F(DamageTest, DamagedIndexEntriesAreRebuiltNotTrusted) {
  std::string kdi = kdi_;
  kdi[kdi.size() - 3] ^= 0x55;  // inside the saved entries
  EXPECT_EQ(OpenAndRead(kdt_, kdi, kdm_), 0u) << LastErrorText();
  DBHANDLE t = Open("GOOD");
  DBHANDLE ix = 0;
  DBE_OK(DbGetIndexHandle(t, "EMP_NO", &ix));
  EXPECT_EQ(Column(ix, t, "EMP_NO").size(), 20u);
  DBE_OK(DbCloseTable(t));
}

TEST_F(DamageTest, RandomHeaderDamageNeverCrashes) {
  std::mt19937 rng(1234);
  for (int i = 0; i < 300; ++i) {
    std::string kdt = kdt_;
    int flips = 1 + int(rng() % 4);
    for (int f = 0; f < flips; ++f) {
      size_t at = rng() % std::min<size_t>(kdt.size(), 1200);
      kdt[at] = char(rng());
    }
    DBRESULT rc = OpenAndRead(kdt, kdi_, kdm_);
    EXPECT_TRUE(rc == 0 || rc == DBE_DAMAGED_FILE || rc == DBE_UNSUPPORTED_TABLE_TYPE ||
                rc == DBE_UNSUPPORTED_FIELD_TYPE)
        << rc << " " << LastErrorText();
  }
}

// A child process starts a rewrite and dies at one stage of it; the parent
// then opens the table and must find either all old or all new rows.
class CrashTest : public EngineTest, public ::testing::WithParamInterface<const char*> {};

const char* g_stop_at = nullptr;
void StopHere(const char* stage) {
  if (g_stop_at != nullptr && std::string(stage) == g_stop_at) _exit(0);
}

TEST_P(CrashTest, InterruptedRewriteLeavesOldOrNewTable) {
  for (const char* op : {"pack", "encrypt", "restructure"}) {
    SCOPED_TRACE(std::string(op) + " stopped at " + GetParam());
    Create(op, "EMP_NO,Char,8;NOTE,Memo;");
    DBHANDLE t = Open(op, DBE_OPEN_EXCLUSIVE);
    DBE_OK(DbCreateIndex(t, nullptr, "EMP_NO", "EMP_NO", nullptr, nullptr, 2 | DBE_INDEX_DESCENDING, 0, nullptr));
    for (int i = 0; i < 6; ++i) {
      AppendRow(t, {{"EMP_NO", "E" + std::to_string(i)}, {"NOTE", std::string(100 + i, char('a' + i))}});
    }
    for (uint32_t r : {2u, 5u}) {
      DBE_OK(DbGotoRecord(t, r));
      DBE_OK(DbDeleteRecord(t));
    }
    DBE_OK(DbCloseTable(t));

    std::string table = op;
    pid_t pid = fork();
    if (pid == 0) {
      DBHANDLE c = 0, h = 0;
      if (DbConnect(dir_.path().c_str(), 1, "", "", 0, &c) != 0) _exit(2);
      if (DbOpenTable(c, table.c_str(), nullptr, 3, 1, 1, 2, DBE_OPEN_EXCLUSIVE, &h) != 0) _exit(3);
      g_stop_at = GetParam();
      dbe::SetFaultHook(StopHere);
      DBRESULT rc = 0;
      if (table == "pack") {
        rc = DbPackTable(h);
      } else if (table == "encrypt") {
        rc = DbEnableEncryption(h, "pw");
        if (rc == 0) rc = DbEncryptTable(h);
      } else {
        // ALTER TABLE: the one rewrite that keeps the old files as .BAK.
        DbCloseTable(h);
        DBHANDLE s = 0;
        rc = DbCreateSQLStatement(c, &s);
        if (rc == 0) rc = DbPrepareSQL(s, "ALTER TABLE restructure ADD COLUMN GRADE Char(3)");
        if (rc == 0) rc = DbExecuteSQL(s, nullptr);
      }
      _exit(rc == 0 ? 1 : 4);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_LE(WEXITSTATUS(status), 1);

    t = Open(op);
    ASSERT_NE(t, 0u);
    DBE_OK(DbEnableEncryption(t, "pw"));
    DBHANDLE ix = 0;
    DBE_OK(DbGetIndexHandle(t, "EMP_NO", &ix));
    EXPECT_EQ(Column(ix, t, "EMP_NO"), (std::vector<std::string>{"E5", "E3", "E2", "E0"}));
    EXPECT_EQ(Column(t, t, "NOTE"), (std::vector<std::string>{std::string(100, 'a'), std::string(102, 'c'),
                                                              std::string(103, 'd'), std::string(105, 'f')}));
    uint16_t enc = 0;
    DBE_OK(DbIsTableEncrypted(t, &enc));
    uint32_t last = 0;
    DBE_OK(DbShowDeleted(1));
    DBE_OK(DbGotoBottom(t));
    DBE_OK(DbGetRecordNum(t, &last));
    DBE_OK(DbShowDeleted(0));
    bool finished = std::string(GetParam()) != "rewrite-written";
    uint16_t grade = 0;
    if (table == "pack") EXPECT_EQ(last, finished ? 4u : 6u);
    else if (table == "encrypt") EXPECT_EQ(enc, finished ? 1 : 0);
    else EXPECT_EQ(DbGetFieldNum(t, "GRADE", &grade) == 0, finished);
    DBE_OK(DbCloseTable(t));
    if (table == "restructure" && finished) {
      // The backup set is the old table, whole.
      DBHANDLE bak = Open("restructure.KDT.BAK");
      ASSERT_NE(bak, 0u);
      EXPECT_NE(DbGetFieldNum(bak, "GRADE", &grade), 0u);
      DBE_OK(DbGetIndexHandle(bak, "EMP_NO", &ix));
      EXPECT_EQ(Column(ix, bak, "EMP_NO"), (std::vector<std::string>{"E5", "E3", "E2", "E0"}));
      DBE_OK(DbCloseTable(bak));
    }
    for (const auto& e : fs::directory_iterator(dir_.path())) {
      std::string name = e.path().filename().string();
      EXPECT_EQ(name.find(".new"), std::string::npos) << name;
      EXPECT_EQ(name.find(".commit"), std::string::npos) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stages, CrashTest,
                         ::testing::Values("rewrite-written", "rewrite-marked", "rewrite-memo", "rewrite-index",
                                           "rewrite-data", "rewrite-done"),
                         [](const ::testing::TestParamInfo<const char*>& stage) {
                           std::string s = stage.param;
                           for (char& ch : s) if (ch == '-') ch = '_';
                           return s;
                         });

}  // namespace
}  // namespace kx8test
