// Damaged, truncated and foreign files give clear errors, never a crash or a
// wrong answer: every byte of the row counts and of a plain table's rows is
// checked, and tables of the first format version are still read. A rewrite
// cut off at any stage leaves the old table or the new one, whole.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/fault.h"
#include "crypto/cipher.h"
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

void PutU64(std::string* s, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) (*s)[at + i] = char(v >> (8 * i));
}

uint64_t GetU(const std::string& s, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | uint8_t(s[at + i]);
  return v;
}

// Where things are in a data file of format version 2 (docs/format.md).
struct DataFile {
  explicit DataFile(const std::string& kdt) : t(kdt) {}
  uint32_t header_size() const { return uint32_t(GetU(t, 12, 4)); }
  uint32_t record_length() const { return uint32_t(GetU(t, 20, 4)); }
  uint32_t slot_size() const { return uint32_t(GetU(t, 24, 4)); }
  // The copy of the counts in force and the other one.
  size_t current_copy() const {
    const uint64_t a = GetU(t, 256, 8), b = GetU(t, 320, 8);
    return a == ~0ull || (b != ~0ull && b > a) ? 320 : 256;
  }
  size_t older_copy() const { return current_copy() == 256 ? 320 : 256; }
  uint32_t rows() const { return uint32_t(GetU(t, current_copy() + 8, 4)); }
  size_t row(uint32_t recno) const { return header_size() + size_t(recno - 1) * slot_size(); }
  // Offset of field i's value within a record.
  uint32_t field_offset(uint32_t i) const { return uint32_t(GetU(t, 512 + i * 96 + 72, 4)); }
  const std::string& t;
};

// The same table in format version 1: no row checksums, one unchecked set
// of counts, the header digest made again.
std::string ToFirstVersion(const std::string& kdt) {
  DataFile f(kdt);
  const uint32_t h = f.header_size(), r = f.record_length(), rows = f.rows();
  const size_t copy = f.current_copy();
  std::string out = kdt.substr(0, h);
  for (uint32_t k = 1; k <= rows; ++k) out += kdt.substr(f.row(k), r);
  PutU32(&out, 8, 1);
  PutU32(&out, 24, r);
  const std::string counts = kdt.substr(copy, 32);
  std::fill(out.begin() + 256, out.begin() + 512, '\0');
  PutU64(&out, 256, GetU(counts, 0, 8));
  PutU32(&out, 264, rows);
  PutU32(&out, 268, uint32_t(GetU(counts, 12, 4)));
  PutU32(&out, 272, uint32_t(GetU(counts, 16, 4)));
  PutU64(&out, 280, GetU(counts, 24, 8));
  std::string digested = out.substr(0, 48) + out.substr(56, 200) + out.substr(512, h - 512);
  PutU64(&out, 48, dbe::crypto::Digest64(reinterpret_cast<const uint8_t*>(digested.data()), digested.size()));
  return out;
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
      // The counts and the rows.
      {"row-slot count lowered",
       [](std::string& t, std::string&, std::string&) {
         const size_t copy = DataFile(t).current_copy();
         PutU32(&t, copy + 8, uint32_t(GetU(t, copy + 8, 4)) - 1);
       },
       DBE_DAMAGED_FILE},
      {"deleted count raised",
       [](std::string& t, std::string&, std::string&) { t[DataFile(t).current_copy() + 12] ^= 1; }, DBE_DAMAGED_FILE},
      {"the older copy of the counts",
       [](std::string& t, std::string&, std::string&) { t[DataFile(t).older_copy() + 9] ^= 1; }, DBE_DAMAGED_FILE},
      {"a byte of a row",
       [](std::string& t, std::string&, std::string&) {
         DataFile f(t);
         t[f.row(7) + f.field_offset(0) + 1] ^= 0x04;  // E6 becomes EB...
       },
       DBE_DAMAGED_FILE},
      {"a live row marked deleted",
       [](std::string& t, std::string&, std::string&) { t[DataFile(t).row(20)] = '*'; }, DBE_DAMAGED_FILE},
      {"a memo offset in a row",
       [](std::string& t, std::string&, std::string&) {
         DataFile f(t);
         t[f.row(3) + f.field_offset(2)] ^= 0x10;
       },
       DBE_DAMAGED_FILE},
      {"a row moved to another slot",
       [](std::string& t, std::string&, std::string&) {
         DataFile f(t);
         t.replace(f.row(2), f.slot_size(), t.substr(f.row(1), f.slot_size()));
       },
       DBE_DAMAGED_FILE},
      // Derived data: the saved entries fail their digest and are built
      // again from the (checked) rows.
      {"index entries", [](std::string&, std::string& i, std::string&) { i[i.size() - 3] ^= 0x55; }, 0},
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

// Every byte of both copies of the counts and of every row, flipped one at a
// time: each is noticed.
TEST_F(DamageTest, EveryByteOfTheCountsAndTheRowsIsChecked) {
  DataFile f(kdt_);
  std::vector<size_t> positions;
  for (size_t copy : {size_t{256}, size_t{320}}) {
    for (size_t k = 0; k < 36; ++k) positions.push_back(copy + k);
  }
  for (size_t at = f.row(1); at < f.row(f.rows() + 1); ++at) positions.push_back(at);
  int detected = 0;
  for (size_t at : positions) {
    SCOPED_TRACE(at);
    std::string kdt = kdt_;
    kdt[at] ^= 0x01;
    const DBRESULT rc = OpenAndRead(kdt, kdi_, kdm_);
    EXPECT_EQ(rc, static_cast<DBRESULT>(DBE_DAMAGED_FILE)) << LastErrorText();
    if (rc == DBE_DAMAGED_FILE && LastErrorText().find("GOOD.KDT") != std::string::npos) ++detected;
  }
  EXPECT_EQ(detected, int(positions.size()));
}

// A process killed while it wrote the counts leaves the older copy marked
// "being written": the table reads as before that change. The same mark
// with the current copy damaged is damage.
TEST_F(DamageTest, ACountsWriteCutShortLeavesThePreviousCounts) {
  std::string kdt = kdt_;
  DataFile f(kdt);
  PutU64(&kdt, f.older_copy(), ~0ull);
  EXPECT_EQ(OpenAndRead(kdt, kdi_, kdm_), 0u) << LastErrorText();
  DBHANDLE t = Open("GOOD");
  EXPECT_EQ(Count(t), 20u);
  AppendRow(t, {{"EMP_NO", "E20"}});  // the marked copy is written next
  DBE_OK(DbCloseTable(t));
  t = Open("GOOD");
  EXPECT_EQ(Count(t), 21u);
  DBE_OK(DbCloseTable(t));

  kdt = kdt_;
  const size_t current = f.current_copy();
  PutU64(&kdt, f.older_copy(), ~0ull);
  kdt[current + 8] ^= 1;
  EXPECT_EQ(OpenAndRead(kdt, kdi_, kdm_), static_cast<DBRESULT>(DBE_DAMAGED_FILE));
}

// A table written by the first format version is read, changed and packed
// (which gives it the current format).
TEST_F(DamageTest, TablesOfTheFirstFormatVersionAreReadAndWritten) {
  const std::string old = ToFirstVersion(kdt_);
  ASSERT_EQ(OpenAndRead(old, kdi_, kdm_), 0u) << LastErrorText();
  DBHANDLE t = Open("GOOD", DBE_OPEN_EXCLUSIVE);
  DBHANDLE ix = 0;
  DBE_OK(DbGetIndexHandle(t, "EMP_NO", &ix));
  EXPECT_EQ(Column(ix, t, "EMP_NO").size(), 20u);
  AppendRow(t, {{"EMP_NO", "E20"}, {"NOTE", "added to an old table"}});
  DBE_OK(DbGotoRecord(t, 1));
  DBE_OK(DbDeleteRecord(t));
  DBE_OK(DbCloseTable(t));
  EXPECT_EQ(GetU(ReadFile(dir_.File("GOOD.KDT")), 8, 4), 1u);
  t = Open("GOOD", DBE_OPEN_EXCLUSIVE);
  EXPECT_EQ(Count(t, DBE_COUNT_ALL), 20u);
  DBE_OK(DbPackTable(t));
  DBE_OK(DbCloseTable(t));
  const std::string packed = ReadFile(dir_.File("GOOD.KDT"));
  EXPECT_EQ(GetU(packed, 8, 4), 2u);
  t = Open("GOOD");
  EXPECT_EQ(Column(t, t, "NOTE").back(), "added to an old table");
  EXPECT_EQ(Column(t, t, "EMP_NO").front(), "E1");
  DBE_OK(DbCloseTable(t));
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
