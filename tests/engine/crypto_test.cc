// Table encryption: passwords, rows and memos unreadable on disk, and the
// rewrite that switches a table between plain and encrypted.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class CryptoTest : public EngineTest {
 protected:
  void MakeEncrypted(const char* password) {
    Create("EMPLOYEE", "EMP_NO,Char,10;NRIC,Char,12;SALARY,Money;REMARK,Memo;");
    DBHANDLE t = Open("EMPLOYEE", DBE_OPEN_EXCLUSIVE);
    DBE_OK(DbCreateIndex(t, nullptr, "EMP_NO", "EMP_NO", nullptr, nullptr, 3, 0, nullptr));
    AppendRow(t, {{"EMP_NO", "E0001"}, {"NRIC", "S1234567D"}, {"SALARY", "4200.50"}, {"REMARK", "confidential note"}});
    AppendRow(t, {{"EMP_NO", "E0002"}, {"NRIC", "S7654321A"}, {"SALARY", "3100"}});
    DBE_OK(DbEnableEncryption(t, password));
    DBE_OK(DbEncryptTable(t));
    DBE_OK(DbCloseTable(t));
  }
};

TEST_F(CryptoTest, EncryptedRowsAndMemosAreNotOnDiskInTheClear) {
  MakeEncrypted("secret");
  for (const char* file : {"EMPLOYEE.KDT", "EMPLOYEE.KDM", "EMPLOYEE.KDI"}) {
    std::string bytes = FileBytes(dir_.File(file));
    EXPECT_EQ(bytes.find("S1234567D"), std::string::npos) << file;
    EXPECT_EQ(bytes.find("confidential"), std::string::npos) << file;
  }
  // The structure stays readable without the password.
  DBHANDLE t = Open("EMPLOYEE");
  uint16_t n = 0, enc = 0;
  DBE_OK(DbGetNumFields(t, &n));
  EXPECT_EQ(n, 4);
  DBE_OK(DbIsTableEncrypted(t, &enc));
  EXPECT_EQ(enc, 1);
  EXPECT_EQ(Count(t), 2u);
  char buf[64];
  uint32_t len = sizeof buf;
  DBE_FAILS_WITH(DBE_PASSWORD_REQUIRED, DbGetString(t, "NRIC", buf, &len));
  DBE_FAILS_WITH(DBE_PASSWORD_REQUIRED, DbAppendRecord(t));
  DBHANDLE ix = 0;
  DBE_OK(DbGetIndexHandle(t, "EMP_NO", &ix));
  DBE_FAILS_WITH(DBE_PASSWORD_REQUIRED, DbGotoTop(ix));
  DBE_FAILS_WITH(DBE_WRONG_PASSWORD, DbEnableEncryption(t, "Secret"));
  DBE_OK(DbEnableEncryption(t, "secret"));
  EXPECT_EQ(Column(ix, t, "NRIC"), (std::vector<std::string>{"S1234567D", "S7654321A"}));
  DBE_OK(DbGotoTop(t));
  EXPECT_EQ(Get(t, "REMARK"), "confidential note");
  EXPECT_EQ(Get(t, "SALARY"), "4200.5");
  // Writes through the password stay encrypted.
  AppendRow(t, {{"EMP_NO", "E0003"}, {"NRIC", "T0000001Z"}, {"REMARK", "another secret"}});
  DBE_FAILS_WITH(DBE_NOTHING_TO_DO, DbEncryptTable(t));
  DBE_OK(DbCloseTable(t));
  EXPECT_EQ(FileBytes(dir_.File("EMPLOYEE.KDT")).find("T0000001Z"), std::string::npos);
  EXPECT_EQ(FileBytes(dir_.File("EMPLOYEE.KDM")).find("another secret"), std::string::npos);
  // The index entries were saved for the next open, sealed.
  std::string kdi = FileBytes(dir_.File("EMPLOYEE.KDI"));
  EXPECT_EQ(kdi.find("E0001"), std::string::npos);
  t = Open("EMPLOYEE");
  DBE_OK(DbEnableEncryption(t, "secret"));
  DBE_OK(DbGetIndexHandle(t, "EMP_NO", &ix));
  EXPECT_EQ(Column(ix, t, "EMP_NO"), (std::vector<std::string>{"E0001", "E0002", "E0003"}));
  DBE_OK(DbCloseTable(t));
}

TEST_F(CryptoTest, DecryptRewritesEveryRowAndMemo) {
  MakeEncrypted("pw");
  DBHANDLE t = Open("EMPLOYEE", DBE_OPEN_EXCLUSIVE);
  DBE_FAILS_WITH(DBE_PASSWORD_REQUIRED, DbDecryptTable(t));
  DBE_OK(DbEnableEncryption(t, "pw"));
  DBE_OK(DbDecryptTable(t));
  DBE_FAILS_WITH(DBE_NOTHING_TO_DO, DbDecryptTable(t));
  DBE_OK(DbCloseTable(t));
  EXPECT_NE(FileBytes(dir_.File("EMPLOYEE.KDT")).find("S1234567D"), std::string::npos);
  EXPECT_NE(FileBytes(dir_.File("EMPLOYEE.KDM")).find("confidential"), std::string::npos);
  t = Open("EMPLOYEE");
  EXPECT_EQ(Column(t, t, "EMP_NO"), (std::vector<std::string>{"E0001", "E0002"}));
  DBE_OK(DbCloseTable(t));
}

TEST_F(CryptoTest, RewritesNeedTheTableToThemselves) {
  MakeEncrypted("pw");
  DBHANDLE a = Open("EMPLOYEE");
  DBHANDLE b = Open("EMPLOYEE");
  DBE_OK(DbEnableEncryption(a, "pw"));
  DBE_FAILS_WITH(DBE_NEEDS_EXCLUSIVE, DbDecryptTable(a));
  DBE_FAILS_WITH(DBE_NEEDS_EXCLUSIVE, DbZapTable(a));
  DBE_OK(DbCloseTable(b));
  // Alone, a shared handle may pack an encrypted table without reading it.
  DBE_OK(DbGotoTop(a));
  DBE_OK(DbDeleteRecord(a));
  DBE_OK(DbPackTable(a));
  EXPECT_EQ(Column(a, a, "NRIC"), (std::vector<std::string>{"S7654321A"}));
  DBE_OK(DbCloseTable(a));
}

TEST_F(CryptoTest, EncryptingWithoutAPasswordIsRefused) {
  Create("PLAIN", "A,Char,4;");
  DBHANDLE t = Open("PLAIN", DBE_OPEN_EXCLUSIVE);
  DBE_FAILS_WITH(DBE_PASSWORD_REQUIRED, DbEncryptTable(t));
  DBE_OK(DbCloseTable(t));
}

TEST_F(CryptoTest, ManyOpensOfEncryptedTablesReuseTheDerivedKey) {
  MakeEncrypted("pw");
  // Thousands of opens with the password: only the first derives the key.
  for (int i = 0; i < 2000; ++i) {
    DBHANDLE t = Open("EMPLOYEE");
    ASSERT_EQ(DbEnableEncryption(t, "pw"), 0u) << LastErrorText();
    ASSERT_EQ(DbCloseTable(t), 0u);
  }
}

}  // namespace
}  // namespace kx8test
