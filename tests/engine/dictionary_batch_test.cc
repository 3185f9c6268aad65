// Batched dictionary writes: while rewrites are deferred, a dictionary's
// changes are seen at once by every caller of the process but written once,
// before table files change or when the batch ends; a write that fails is
// reported, and a process killed meanwhile leaves the old dictionary whole.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "engine_fixture.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

const char kAdminPassword[] = "admin-pw";

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DictionaryBatchTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    kdd_ = dir_.File("ACME.kdd");
    ASSERT_EQ(DbDDCreate(kdd_.c_str(), kAdminPassword, "Acme payroll", &dict_), 0u) << LastErrorText();
    for (const char* name : {"EMPLOYEE", "PAYSLIP", "BANKLIST"}) {
      Create(name, "EMP_NO,Char,6;PAY,Numeric,10,2;");
      DBHANDLE t = Open(name, DBE_OPEN_EXCLUSIVE);
      AppendRow(t, {{"EMP_NO", "E1"}, {"PAY", "1200.50"}});
      DBE_OK(DbCloseTable(t));
    }
    DBE_OK(DbDDAddTable(dict_, "EMPLOYEE", "EMPLOYEE.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
    DBE_OK(DbDDAddTable(dict_, "PAYSLIP", "PAYSLIP.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
    DBE_OK(DbDDCreateUser(dict_, "", "CLERK", "clerk-pw", "Payroll clerk"));
  }
  void TearDown() override {
    DbSetRewriteDeferral(0);
    DbSetLockWait(5000);
    if (dict_ != 0) DbDisconnect(dict_);
    EngineTest::TearDown();
  }

  // The tables a fresh reader of the dictionary's files finds: a copy of
  // them under another name, which nothing in this process has read yet.
  std::vector<std::string> TablesOnDisk() {
    // In a folder of its own, so that it binds none of the tables here.
    const std::string folder = dir_.File("copy" + std::to_string(++copies_));
    fs::create_directory(folder);
    for (const char* ext : {".kdd", ".km", ".ki"}) fs::copy_file(dir_.File(std::string("ACME") + ext), folder + "/ACME" + ext);
    return Tables(folder + "/ACME.kdd");
  }

  std::vector<std::string> Tables(const std::string& kdd) {
    std::vector<std::string> out;
    DBHANDLE d = 0;
    EXPECT_EQ(DbConnect(kdd.c_str(), 3, "DBSYS", kAdminPassword, 0, &d), 0u) << LastErrorText();
    if (d == 0) return out;
    char name[DBE_DD_MAX_NAME + 1];
    uint16_t len = sizeof name;
    DBHANDLE find = 0;
    DBRESULT rc = DbDDFindFirstObject(d, DBE_DD_OBJECT_TABLE, "", name, &len, &find);
    while (rc == 0) {
      out.push_back(name);
      len = sizeof name;
      rc = DbDDFindNextObject(d, find, name, &len);
    }
    if (find != 0) DbDDFindClose(d, find);
    DbDisconnect(d);
    return out;
  }

  std::string Rights(const char* table, const char* user) {
    char buf[16];
    uint16_t len = sizeof buf;
    DBRESULT rc = DbDDGetObjectAccessRights(dict_, table, user, buf, &len);
    return rc == 0 ? std::string(buf, len) : "<" + LastErrorText() + ">";
  }

  DBRESULT OpenFree(const char* name, DBHANDLE* t) {
    return DbOpenTable(conn_, name, nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY, DBE_RIGHTS_IGNORE,
                       DBE_OPEN_SHARED, t);
  }

  std::string kdd_;
  DBHANDLE dict_ = 0;
  int copies_ = 0;
};

TEST_F(DictionaryBatchTest, ChangesAreSeenAtOnceAndWrittenOnceWhenTheBatchEnds) {
  const std::string before = FileBytes(kdd_);
  DBE_OK(DbSetRewriteDeferral(1));
  DBE_OK(DbDDAddTable(dict_, "BANKLIST", "BANKLIST.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
  DBE_OK(DbDDSetObjectAccessRights(dict_, "BANKLIST", "CLERK", "RI"));
  DBE_OK(DbDDRemoveTable(dict_, "PAYSLIP", 0));
  uint16_t on = 1;
  DBE_OK(DbDDSetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, &on, 2, 0, ""));

  // Every reader of this process sees the changes: a new log-on, the
  // rights, and the binding of table files to the dictionary.
  DBHANDLE clerk = 0;
  DBE_OK(DbConnect(kdd_.c_str(), 3, "CLERK", "clerk-pw", 0, &clerk));
  DBHANDLE t = 0;
  DBE_OK(DbOpenTable(clerk, "BANKLIST", nullptr, 0, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY, DBE_RIGHTS_CHECK,
                     DBE_OPEN_READONLY, &t));
  DBE_OK(DbCloseTable(t));
  DBE_OK(DbDisconnect(clerk));
  EXPECT_EQ(Rights("BANKLIST", "CLERK"), "RI");
  DBE_FAILS_WITH(DBE_TABLE_BOUND, OpenFree("BANKLIST", &t));
  DBE_OK(OpenFree("PAYSLIP", &t));  // out of the dictionary: a free table again
  DBE_OK(DbCloseTable(t));
  uint16_t v = 0, len = 2;
  DBE_OK(DbDDGetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, &v, &len));
  EXPECT_EQ(v, 1);

  // The file is untouched until the batch ends, then holds all of it.
  EXPECT_EQ(FileBytes(kdd_), before);
  DBE_OK(DbSetRewriteDeferral(0));
  EXPECT_NE(FileBytes(kdd_), before);
  EXPECT_EQ(TablesOnDisk(), (std::vector<std::string>{"EMPLOYEE", "BANKLIST"}));
}

// A batch whose changes cancel out (automatic creation switched off and on
// again, a table taken out and put back in its place) or are refused leaves
// the file as it is; one change that stays among them has it written.
TEST_F(DictionaryBatchTest, ChangesThatCancelOutLeaveTheFileAsItIs) {
  uint16_t off = 0, on = 1;
  DBE_OK(DbDDSetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, &on, 2, 0, ""));
  for (bool one_stays : {false, true}) {
    SCOPED_TRACE(one_stays);
    struct stat before {};
    ASSERT_EQ(::stat(kdd_.c_str(), &before), 0);
    const std::string bytes = FileBytes(kdd_);
    DBE_OK(DbSetRewriteDeferral(1));
    DBE_OK(DbDDSetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, &off, 2, 0, ""));
    DBE_OK(DbDDSetTableProperty(dict_, "EMPLOYEE", DBE_DD_PROP_AUTO_CREATE, &on, 2, 0, ""));
    DBE_OK(DbDDRemoveTable(dict_, "PAYSLIP", 0));
    DBE_OK(DbDDAddTable(dict_, "PAYSLIP", "PAYSLIP.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
    // Refused changes leave nothing behind either.
    DBE_FAILS_WITH(DBE_OBJECT_EXISTS, DbDDAddTable(dict_, "payslip.kdt", "PAYSLIP.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
    DBE_FAILS_WITH(DBE_OBJECT_NOT_FOUND, DbDDSetObjectAccessRights(dict_, "PAYSLIP", "NOBODY", "RWI"));
    if (one_stays) DBE_OK(DbDDSetObjectAccessRights(dict_, "PAYSLIP", "CLERK", "RI"));
    DBE_OK(DbSetRewriteDeferral(0));
    struct stat after {};
    ASSERT_EQ(::stat(kdd_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino != before.st_ino, one_stays);
    EXPECT_EQ(FileBytes(kdd_) != bytes, one_stays);
  }
  EXPECT_EQ(Rights("PAYSLIP", "CLERK"), "RI");
}

// Each of these writes what waits: the dictionary on disk is never behind
// a table file that changes, nor behind what another program reads.
TEST_F(DictionaryBatchTest, WaitingChangesAreWrittenBeforeTableFilesChangeAndAtBarriers) {
  struct Case {
    const char* name;
    std::function<void(DBHANDLE dictionary)> trigger;
  };
  // In this order: the last one deletes EMPLOYEE's files.
  const Case cases[] = {
      {"applying deferred rewrites", [](DBHANDLE) { DBE_OK(DbApplyDeferredRewrites()); }},
      {"a sync barrier", [](DBHANDLE) { DBE_OK(DbSyncBarrier()); }},
      {"a deferred encryption reaching the files",
       [](DBHANDLE dictionary) {
         uint16_t on = 1;
         DBE_OK(DbDDSetTableProperty(dictionary, "EMPLOYEE", DBE_DD_PROP_ENCRYPTION, &on, 2, 0, ""));
         DBHANDLE t = 0;
         DBE_OK(DbOpenTable(dictionary, "EMPLOYEE", nullptr, 0, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY, DBE_RIGHTS_CHECK,
                            DBE_OPEN_SHARED, &t));
         DBE_OK(DbGotoTop(t));
         char buf[16];
         uint32_t len = sizeof buf;
         DBE_OK(DbGetString(t, "EMP_NO", buf, &len));  // reading a row rewrites the table first
         DBE_OK(DbCloseTable(t));
       }},
      {"deleting a table's files", [](DBHANDLE dictionary) { DBE_OK(DbDDRemoveTable(dictionary, "EMPLOYEE", 1)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DBE_OK(DbSetRewriteDeferral(1));
    DBE_OK(DbDDRemoveTable(dict_, "PAYSLIP", 0));
    EXPECT_EQ(TablesOnDisk(), (std::vector<std::string>{"EMPLOYEE", "PAYSLIP"}));
    c.trigger(dict_);
    std::vector<std::string> on_disk = TablesOnDisk();
    EXPECT_EQ(std::count(on_disk.begin(), on_disk.end(), "PAYSLIP"), 0);
    DBE_OK(DbSetRewriteDeferral(0));
    DBE_OK(DbDDAddTable(dict_, "PAYSLIP", "PAYSLIP.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
  }
}

TEST_F(DictionaryBatchTest, AFailedWriteIsReportedAndLeavesTheDictionaryAsItsFileHoldsIt) {
  const std::string before = FileBytes(kdd_);
  DBE_OK(DbSetRewriteDeferral(1));
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "CLERK", "RWI"));
  DBE_OK(DbDDRemoveTable(dict_, "PAYSLIP", 0));
  // The write's temporary file cannot be made.
  fs::create_directory(kdd_ + ".tmp");
  DBRESULT rc = DbSetRewriteDeferral(0);
  EXPECT_NE(rc, 0u);
  const std::string text = LastErrorText();
  EXPECT_NE(text.find("The waiting changes of the data dictionary are not written. File: " + kdd_), std::string::npos)
      << text;
  fs::remove(kdd_ + ".tmp");

  // What every caller sees is the file again, which is whole and unlocked.
  EXPECT_EQ(FileBytes(kdd_), before);
  EXPECT_EQ(Rights("EMPLOYEE", "CLERK"), "");
  EXPECT_EQ(Tables(kdd_), (std::vector<std::string>{"EMPLOYEE", "PAYSLIP"}));
  DbSetLockWait(0);
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "CLERK", "R"));
  EXPECT_EQ(Tables(kdd_).size(), 2u);
  EXPECT_EQ(Rights("EMPLOYEE", "CLERK"), "R");
}

TEST_F(DictionaryBatchTest, AFileReplacedWhileChangesWaitIsNotOverwritten) {
  DBE_OK(DbSetRewriteDeferral(1));
  DBE_OK(DbDDRemoveTable(dict_, "PAYSLIP", 0));
  // A restore of the folder, say, puts another copy of the file in place.
  const std::string restored = FileBytes(kdd_);
  fs::remove(kdd_);
  std::ofstream(kdd_, std::ios::binary) << restored;
  EXPECT_NE(DbApplyDeferredRewrites(), 0u);
  EXPECT_NE(LastErrorText().find("replaced by another program"), std::string::npos) << LastErrorText();
  EXPECT_EQ(FileBytes(kdd_), restored);
  EXPECT_EQ(Tables(kdd_), (std::vector<std::string>{"EMPLOYEE", "PAYSLIP"}));
}

// What a record kept outside the engine may rely on before it forgets a
// table: the dictionary's file lists it.
TEST_F(DictionaryBatchTest, SavingATableListingWritesOnlyWhenTheFileLacksTheTable) {
  struct Case {
    const char* name;
    bool written_before;  // the removal reached the file before the table came back
    bool writes;
  };
  const Case cases[] = {{"out and back within one batch", false, false},
                        {"out on disk, back in memory", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DBE_OK(DbSetRewriteDeferral(1));
    DBE_OK(DbDDRemoveTable(dict_, "PAYSLIP", 0));
    if (c.written_before) DBE_OK(DbApplyDeferredRewrites());
    DBE_OK(DbDDAddTable(dict_, "PAYSLIP", "PAYSLIP.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
    DBE_OK(DbDDSetObjectAccessRights(dict_, "PAYSLIP", "CLERK", "RI"));
    const std::string before = FileBytes(kdd_);
    DBE_OK(DbDDSaveTableListing(dict_, "PAYSLIP"));
    EXPECT_EQ(FileBytes(kdd_) != before, c.writes);
    std::vector<std::string> on_disk = TablesOnDisk();
    EXPECT_EQ(std::count(on_disk.begin(), on_disk.end(), "PAYSLIP"), 1);
    DBE_OK(DbSetRewriteDeferral(0));
  }
  DBE_OK(DbDDSaveTableListing(dict_, "PAYSLIP"));  // nothing waits: nothing to do
}

// A process killed with changes waiting: the dictionary is as it was last
// written, whole, and its lock went with the process.
TEST_F(DictionaryBatchTest, AKilledProcessLeavesTheOldDictionaryWholeAndUnlocked) {
  const std::string before = FileBytes(kdd_);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (DbSetRewriteDeferral(1) != 0) ::_exit(2);
    if (DbDDRemoveTable(dict_, "PAYSLIP", 0) != 0) ::_exit(3);
    if (DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "CLERK", "RWI") != 0) ::_exit(4);
    ::_exit(0);  // as a kill ends it: nothing more runs
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(FileBytes(kdd_), before);
  EXPECT_EQ(TablesOnDisk(), (std::vector<std::string>{"EMPLOYEE", "PAYSLIP"}));
  DbSetLockWait(0);
  DBE_OK(DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "CLERK", "R"));
}

// While a process has changes waiting, another one that changes the
// dictionary waits, and is refused after its lock wait.
TEST_F(DictionaryBatchTest, AnotherProgramWaitsForTheBatch) {
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c = 0;
    bool ok = DbSetRewriteDeferral(1) == 0 && DbDDSetObjectAccessRights(dict_, "EMPLOYEE", "CLERK", "RI") == 0;
    c = ok ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    ::_exit(0);  // its changes go with it
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  DbSetLockWait(50);
  DBE_FAILS_WITH(DBE_TABLE_IN_USE, DbDDSetObjectAccessRights(dict_, "PAYSLIP", "CLERK", "R"));
  EXPECT_NE(LastErrorText().find("The data dictionary is locked by another program"), std::string::npos);
  ASSERT_EQ(::write(done[1], &c, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
  DBE_OK(DbDDSetObjectAccessRights(dict_, "PAYSLIP", "CLERK", "R"));
  EXPECT_EQ(Rights("EMPLOYEE", "CLERK"), "");
  EXPECT_EQ(Rights("PAYSLIP", "CLERK"), "R");
}

}  // namespace
}  // namespace kx8test
