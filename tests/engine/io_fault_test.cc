// Every whole-table rewrite and every dictionary change, run with its Nth
// system call failing for N = 1, 2, ... until it succeeds. After each
// failure the call reports the engine's I/O error naming a file of the
// table's folder, and a reopen finds the old state or the new one, whole:
// every row, its memo values, the encryption, the index order, the
// dictionary's entries and rights, and after a restructure a backup set that
// is the old table. A handle whose rewrite failed after its commit marker
// answers only that it must be reopened.
//
// The same operations are also stopped at their Nth call with everything
// not flushed thrown away, as a power cut would; the same rule holds, which
// checks the order of the commit protocol's flushes.
//
// KX8_FAULT_SWEEP=1 also fails with "no space left" and uses larger tables.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>

#include "engine_fixture.h"
#include "io_faults.h"
#include "os/system_calls.h"
#include "unsynced_loss.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

const char kAdminPassword[] = "admin-pw";

bool LongSweep() {
  const char* v = std::getenv("KX8_FAULT_SWEEP");
  return v != nullptr && *v != '\0' && std::string(v) != "0";
}

class IoFaultTest : public EngineTest {
 protected:
  struct Op {
    const char* name;
    std::function<void()> setup;  // builds the folder's starting state
    std::function<DBRESULT()> run;
    std::function<std::string()> state;
  };

  int Rows() const { return LongSweep() ? 300 : 6; }

  // T: rows with memo values, two deleted, an index; optionally encrypted.
  void MakeTable(const std::string& name, bool encrypted) {
    Create(name, "EMP_NO,Char,8;AMOUNT,Money;NOTE,Memo;");
    DBHANDLE t = Open(name, DBE_OPEN_EXCLUSIVE);
    DBE_OK(DbCreateIndex(t, nullptr, "EMP_NO", "EMP_NO", nullptr, nullptr, 2 | DBE_INDEX_DESCENDING, 0, nullptr));
    for (int i = 0; i < Rows(); ++i) {
      AppendRow(t, {{"EMP_NO", "E" + std::to_string(i)},
                    {"AMOUNT", std::to_string(i * 10)},
                    {"NOTE", std::string(50 + i, char('a' + i % 26))}});
    }
    for (uint32_t r : {2u, 5u}) {
      DBE_OK(DbGotoRecord(t, r));
      DBE_OK(DbDeleteRecord(t));
    }
    if (encrypted) {
      DBE_OK(DbEnableEncryption(t, "pw"));
      DBE_OK(DbEncryptTable(t));
    }
    DBE_OK(DbCloseTable(t));
  }

  // Everything a reader can see of a table: encryption, fields, every row
  // (deleted ones marked) with every value, and each index's order.
  std::string TableState(DBHANDLE conn, const std::string& name) {
    DBHANDLE t = 0;
    if (DbOpenTable(conn, name.c_str(), nullptr, DBE_TABLE_KDT, DBE_CHAR_ANSI, DBE_LOCK_PROPRIETARY,
                    DBE_RIGHTS_IGNORE, DBE_OPEN_SHARED, &t) != 0) {
      return "cannot open: " + LastErrorText();
    }
    uint16_t enc = 0;
    DbIsTableEncrypted(t, &enc);
    if (enc != 0) DbEnableEncryption(t, "pw");
    std::string out = enc != 0 ? "encrypted\n" : "plain\n";
    uint16_t nf = 0;
    DbGetNumFields(t, &nf);
    std::vector<std::string> fields;
    for (uint16_t f = 1; f <= nf; ++f) {
      char buf[200];
      uint16_t len = sizeof buf;
      DbGetFieldName(t, f, buf, &len);
      fields.push_back(buf);
      out += fields.back() + ";";
    }
    out += "\n";
    DbShowDeleted(1);
    DbGotoTop(t);
    while (!Eof(t)) {
      uint16_t deleted = 0;
      DbIsRecordDeleted(t, &deleted);
      out += deleted != 0 ? "*" : " ";
      for (const std::string& f : fields) out += Get(t, f) + "|";
      out += "\n";
      DbSkip(t, 1);
    }
    DbShowDeleted(0);
    DBHANDLE ix[8];
    uint16_t n = 8;
    if (DbGetAllIndexes(t, ix, &n) == 0) {
      for (uint16_t i = 0; i < n; ++i) {
        char tag[200];
        uint16_t len = sizeof tag;
        DbGetIndexName(ix[i], tag, &len);
        out += std::string("index ") + tag + ":";
        for (const std::string& v : Column(ix[i], t, fields[0])) out += v + ",";
        out += "\n";
      }
    }
    DbCloseTable(t);
    return out;
  }

  // The dictionary's tables (file, properties, the clerk's rights), users,
  // and the rows of each table as the dictionary opens it.
  std::string DictionaryState() {
    DBHANDLE d = 0;
    if (DbConnect(dir_.File("ACME.kdd").c_str(), DBE_SERVER_LOCAL, "DBSYS", kAdminPassword, 0, &d) != 0) {
      return "cannot log on: " + LastErrorText();
    }
    std::string out;
    for (uint16_t type : {uint16_t(DBE_DD_OBJECT_TABLE), uint16_t(DBE_DD_OBJECT_USER)}) {
      char name[DBE_DD_MAX_NAME + 1];
      uint16_t len = sizeof name;
      DBHANDLE find = 0;
      std::vector<std::string> names;
      for (DBRESULT rc = DbDDFindFirstObject(d, type, "", name, &len, &find); rc == 0;
           len = sizeof name, rc = DbDDFindNextObject(d, find, name, &len)) {
        names.push_back(name);
      }
      if (find != 0) DbDDFindClose(d, find);
      for (const std::string& n : names) {
        out += (type == DBE_DD_OBJECT_TABLE ? "table " : "user ") + n;
        if (type == DBE_DD_OBJECT_TABLE) {
          char buf[300];
          uint16_t blen = sizeof buf;
          DbDDGetTableFilename(d, n.c_str(), buf, &blen);
          out += std::string(" file=") + buf;
          for (uint16_t prop : {uint16_t(DBE_DD_PROP_AUTO_CREATE), uint16_t(DBE_DD_PROP_ENCRYPTION)}) {
            uint16_t v = 0, vlen = 2;
            DbDDGetTableProperty(d, n.c_str(), prop, &v, &vlen);
            out += " " + std::to_string(prop) + "=" + std::to_string(v);
          }
          blen = sizeof buf;
          buf[0] = '\0';
          DbDDGetTableProperty(d, n.c_str(), DBE_DD_PROP_DEFAULT_INDEX, buf, &blen);
          out += std::string(" index=") + buf;
          blen = sizeof buf;
          buf[0] = '\0';
          DbDDGetObjectAccessRights(d, n.c_str(), "CLERK", buf, &blen);
          out += std::string(" clerk=") + buf + "\n" + TableState(d, n);
        }
        out += "\n";
      }
    }
    DbDisconnect(d);
    return out;
  }

  // A dictionary with EMPLOYEE (an index, rows, memo values) and the user
  // CLERK who may read it; PAYPARA is a free table beside it.
  void MakeDictionary() {
    MakeTable("EMPLOYEE", false);
    MakeTable("PAYPARA", false);
    DBHANDLE d = 0;
    DBE_OK(DbDDCreate(dir_.File("ACME.kdd").c_str(), kAdminPassword, "Acme payroll", &d));
    DBE_OK(DbDDAddTable(d, "EMPLOYEE", "EMPLOYEE.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", ""));
    DBE_OK(DbDDCreateUser(d, "", "CLERK", "c-pw", ""));
    DBE_OK(DbDDSetObjectAccessRights(d, "EMPLOYEE", "CLERK", "R"));
    DBE_OK(DbDisconnect(d));
  }

  // Opens T on this folder's connection, runs the rewrite and closes. A
  // handle left failed must say so before it is closed.
  DBRESULT OnTable(const std::string& name, uint32_t mode, const std::function<DBRESULT(DBHANDLE)>& rewrite) {
    DBHANDLE t = 0;
    DBRESULT rc = TryOpen(name, mode, &t);
    last_error_ = LastErrorText();
    if (rc != 0) return rc;
    rc = rewrite(t);
    last_error_ = LastErrorText();
    if (rc != 0 && fs::exists(dir_.File(name + ".KDT.commit"))) {
      uint32_t n = 0;
      EXPECT_EQ(DbGetRecordCount(t, DBE_COUNT_ALL, &n), static_cast<DBRESULT>(DBE_TABLE_FAILED)) << LastErrorText();
      ++failed_handles_;
    }
    DbCloseTable(t);
    return rc;
  }

  DBRESULT Sql(const std::string& text) {
    DBHANDLE s = 0;
    DBRESULT rc = DbCreateSQLStatement(conn_, &s);
    if (rc == 0) rc = DbPrepareSQL(s, text.c_str());
    if (rc == 0) rc = DbExecuteSQL(s, nullptr);
    last_error_ = LastErrorText();
    DbCloseSQLStatement(s);
    return rc;
  }

  DBRESULT AsDictionaryAdmin(const std::function<DBRESULT(DBHANDLE)>& change) {
    DBHANDLE d = 0;
    DBRESULT rc = DbConnect(dir_.File("ACME.kdd").c_str(), DBE_SERVER_LOCAL, "DBSYS", kAdminPassword, 0, &d);
    last_error_ = LastErrorText();
    if (rc != 0) return rc;
    rc = change(d);
    last_error_ = LastErrorText();
    DbDisconnect(d);
    return rc;
  }

  std::vector<Op> Operations() {
    auto table = [this] { return TableState(conn_, "T"); };
    auto plain = [this] { MakeTable("T", false); };
    auto encrypted = [this] { MakeTable("T", true); };
    auto dictionary = [this] { MakeDictionary(); };
    auto dict_state = [this] { return DictionaryState(); };
    auto set_flag = [this](const char* table_name, uint16_t prop) {
      return AsDictionaryAdmin([=](DBHANDLE d) {
        uint16_t one = 1;
        return DbDDSetTableProperty(d, table_name, prop, &one, 2, 0, "");
      });
    };
    return {
        {"pack", plain, [this] { return OnTable("T", DBE_OPEN_EXCLUSIVE, DbPackTable); }, table},
        {"zap", plain, [this] { return OnTable("T", DBE_OPEN_EXCLUSIVE, DbZapTable); }, table},
        {"encrypt", plain,
         [this] {
           return OnTable("T", DBE_OPEN_SHARED, [](DBHANDLE t) {
             DBRESULT rc = DbEnableEncryption(t, "pw");
             return rc != 0 ? rc : DbEncryptTable(t);
           });
         },
         table},
        {"decrypt", encrypted,
         [this] {
           return OnTable("T", DBE_OPEN_EXCLUSIVE, [](DBHANDLE t) {
             DBRESULT rc = DbEnableEncryption(t, "pw");
             return rc != 0 ? rc : DbDecryptTable(t);
           });
         },
         table},
        {"restructure", plain,
         [this] { return Sql("ALTER TABLE T ADD COLUMN GRADE Char(3), ALTER COLUMN AMOUNT AMOUNT Char(10)"); },
         [this] {
           // The backup set, when there is one, is the old table.
           std::string bak = fs::exists(dir_.File("T.KDT.BAK")) ? TableState(conn_, "T.KDT.BAK") : "";
           return TableState(conn_, "T") + (bak.empty() || bak == old_state_first_ ? "" : "backup differs:\n" + bak);
         }},
        {"index: add a tag", plain, [this] { return Sql("CREATE INDEX BYAMOUNT ON T (AMOUNT)"); }, table},
        {"index: rebuild a lost index file",
         [this] {
           MakeTable("T", false);
           fs::remove(dir_.File("T.KDI"));
         },
         [this] { return Sql("CREATE INDEX EMP_NO ON T (EMP_NO)"); }, table},
        {"dictionary: add table", dictionary,
         [this] {
           return AsDictionaryAdmin([](DBHANDLE d) {
             return DbDDAddTable(d, "PAYPARA", "PAYPARA.KDT", DBE_TABLE_KDT, DBE_CHAR_ANSI, "", "");
           });
         },
         dict_state},
        {"dictionary: remove table", dictionary,
         [this] { return AsDictionaryAdmin([](DBHANDLE d) { return DbDDRemoveTable(d, "EMPLOYEE", 0); }); },
         dict_state},
        {"dictionary: encrypt table", dictionary, [=] { return set_flag("EMPLOYEE", DBE_DD_PROP_ENCRYPTION); },
         dict_state},
        {"dictionary: auto-create", dictionary, [=] { return set_flag("EMPLOYEE", DBE_DD_PROP_AUTO_CREATE); },
         dict_state},
        {"dictionary: default index", dictionary,
         [this] {
           return AsDictionaryAdmin([](DBHANDLE d) {
             return DbDDSetTableProperty(d, "EMPLOYEE", DBE_DD_PROP_DEFAULT_INDEX, "EMP_NO", 6, 0, "");
           });
         },
         dict_state},
        {"dictionary: delete index", dictionary,
         [this] { return AsDictionaryAdmin([](DBHANDLE d) { return DbDDDeleteIndex(d, "EMPLOYEE", "EMP_NO"); }); },
         dict_state},
        {"dictionary: create user", dictionary,
         [this] { return AsDictionaryAdmin([](DBHANDLE d) { return DbDDCreateUser(d, "", "PAYROLL", "p-pw", ""); }); },
         dict_state},
        {"dictionary: rights", dictionary,
         [this] {
           return AsDictionaryAdmin([](DBHANDLE d) { return DbDDSetObjectAccessRights(d, "EMPLOYEE", "CLERK", "RWI"); });
         },
         dict_state},
    };
  }

  // The I/O error of the call: 5065 itself, or inside an SQL error.
  static bool IsIoError(DBRESULT rc, const std::string& text) {
    return rc == DBE_IO_ERROR || (rc == DBE_SQL_ERROR && text.find("NativeError = 5065;") != std::string::npos);
  }

  // Lays out the operation's starting files, keeps a copy of them to start
  // each try from, and returns the starting state.
  std::string Start(Op& op) {
    for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove_all(e.path());
    op.setup();
    fs::remove_all(pristine_);
    fs::create_directory(pristine_);
    CopyFolder(dir_.path(), pristine_);
    old_state_first_ = op.state();
    return old_state_first_;
  }
  void Restart() { CopyFolder(pristine_, dir_.path()); }

  // After a reopen, no file of an unfinished rewrite or replacement is left.
  // A killed process may leave the temporary copy of a dictionary or index
  // file it was replacing whole (X.kdd.tmp, X.KDI.tmp: only a flushed
  // folder would show one after a power cut); the next replacement writes
  // over it, and no reader looks at it.
  void ExpectNoLeftovers(long n, bool killed = false) {
    for (const auto& e : fs::directory_iterator(dir_.path())) {
      std::string name = e.path().filename().string();
      std::string upper = name;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (killed && (upper.ends_with(".KDD.TMP") || upper.ends_with(".KDI.TMP"))) continue;
      EXPECT_TRUE(name.find(".new") == std::string::npos && name.find(".commit") == std::string::npos &&
                  name.find(".tmp") == std::string::npos)
          << "call " << n << " left " << name;
    }
  }

  void TearDown() override {
    fs::remove_all(pristine_);
    EngineTest::TearDown();
  }

  // The state a reopen finds after the try that failed or stopped at call n;
  // after_marker: a commit marker was on disk, so only the new state will do.
  struct After {
    long n;
    std::string state;
    bool after_marker;
  };
  bool HasMarker() const {
    for (const auto& e : fs::directory_iterator(dir_.path())) {
      if (e.path().extension() == ".commit") return true;
    }
    return false;
  }
  // Reports each state that is neither the old nor the new; returns how many.
  static long Mismatches(const std::vector<After>& after, const std::string& old_state, const std::string& new_state) {
    EXPECT_NE(old_state, new_state);
    long bad = 0;
    for (const After& a : after) {
      if (a.state == new_state || (a.state == old_state && !a.after_marker)) continue;
      ++bad;
      ADD_FAILURE() << "call " << a.n << (a.after_marker ? " (after the commit marker)" : "")
                    << " left neither the old state nor the new:\n"
                    << a.state << "\nold:\n" << old_state << "\nnew:\n" << new_state;
    }
    return bad;
  }

  const fs::path pristine_ = fs::path(dir_.path()).parent_path() / (fs::path(dir_.path()).filename().string() + "-start");
  std::string old_state_first_;
  std::string last_error_;  // the text of the run's last call
  int failed_handles_ = 0;
};

TEST_F(IoFaultTest, EveryRewriteAndDictionaryChangeLeavesTheOldStateOrTheNew) {
  long tries = 0, injected = 0, mismatches = 0;
  std::vector<int> errors = {EIO};
  if (LongSweep()) errors.push_back(ENOSPC);
  for (Op& op : Operations()) {
    for (int error : errors) {
      SCOPED_TRACE(std::string(op.name) + ", errno " + std::to_string(error));
      const std::string old_state = Start(op);
      std::vector<After> after_failure;
      std::string new_state;
      for (long n = 1;; ++n) {
        ASSERT_LT(n, 5000) << "the operation never succeeded";
        Restart();
        DBRESULT rc;
        bool fired;
        {
          FailNthCall fail(n, error);
          rc = op.run();
          fired = fail.fired();
        }
        const std::string text = last_error_;
        ++tries;
        if (!fired) {
          ASSERT_EQ(rc, 0u) << text;
          new_state = op.state();
          break;
        }
        ++injected;
        if (rc != 0) {
          // Failures a close swallows (an index snapshot not saved) still
          // leave a table that must be old or new.
          EXPECT_TRUE(IsIoError(rc, text)) << "call " << n << ": " << rc << " " << text;
          EXPECT_NE(text.find(dir_.path()), std::string::npos) << "call " << n << " names no file: " << text;
        }
        const bool marked = HasMarker();
        after_failure.push_back({n, op.state(), marked});
        ExpectNoLeftovers(n);
      }
      mismatches += Mismatches(after_failure, old_state, new_state);
    }
  }
  std::printf("I/O faults: %zu operations, %ld tries, %ld failures injected, %d handles failed after the commit "
              "marker, %ld mismatches\n",
              Operations().size() * errors.size(), tries, injected, failed_handles_, mismatches);
}

TEST_F(IoFaultTest, AStopThatLosesUnflushedWritesLeavesTheOldStateOrTheNew) {
  long tries = 0, mismatches = 0;
  for (Op& op : Operations()) {
    SCOPED_TRACE(op.name);
    const std::string old_state = Start(op);
    std::vector<After> after_stop;
    std::string new_state;
    for (long n = 1;; ++n) {
      ASSERT_LT(n, 5000) << "the operation never finished";
      Restart();
      pid_t pid = fork();
      if (pid == 0) {
        UnsyncedLoss::Install(dir_.path(), n);
        _exit(op.run() == 0 ? 1 : 2);
      }
      int status = 0;
      waitpid(pid, &status, 0);
      ++tries;
      ASSERT_TRUE(WIFEXITED(status)) << "call " << n;
      ASSERT_NE(WEXITSTATUS(status), 2) << "call " << n << ": the operation failed without a fault";
      ASSERT_NE(WEXITSTATUS(status), 3) << "call " << n << ": the stop could not lay out the folder";
      if (WEXITSTATUS(status) == 1) {
        new_state = op.state();
        break;
      }
      const bool marked = HasMarker();
      after_stop.push_back({n, op.state(), marked});
      ExpectNoLeftovers(n);
    }
    mismatches += Mismatches(after_stop, old_state, new_state);
  }
  std::printf("Stops losing unflushed writes: %zu operations, %ld stops, %ld mismatches\n", Operations().size(),
              tries, mismatches);
}

// Grouped flushing: each operation, killed at every one of its calls, still
// leaves the old state or the new (the rewrites switch their files the same
// way, only their flushes are put off); it makes no flush of its own, and
// the barrier flushes everything with one call, after which a power cut
// loses nothing.
TEST_F(IoFaultTest, GroupedFlushingKeepsChangesWholeAgainstAKillAndDurableAfterTheBarrier) {
  long kills = 0, mismatches = 0;
  for (Op& op : Operations()) {
    SCOPED_TRACE(op.name);
    const std::string old_state = Start(op);
    std::vector<After> after_kill;
    std::string new_state;
    long n_done = 0;
    for (long n = 1;; ++n) {
      ASSERT_LT(n, 5000) << "the operation never finished";
      Restart();
      pid_t pid = fork();
      if (pid == 0) {
        if (DbSetSyncGrouping(1) != 0) _exit(3);
        CountingCalls count(n);
        DBRESULT rc = op.run();
        _exit(rc != 0 ? 2 : count.counts().fdatasync + count.counts().fsync != 0 ? 4 : 1);
      }
      int status = 0;
      waitpid(pid, &status, 0);
      ASSERT_TRUE(WIFEXITED(status)) << "call " << n;
      ASSERT_NE(WEXITSTATUS(status), 2) << "call " << n << ": the operation failed without a fault";
      ASSERT_NE(WEXITSTATUS(status), 3) << "grouping could not be turned on";
      ASSERT_NE(WEXITSTATUS(status), 4) << "the operation flushed while grouping was on";
      if (WEXITSTATUS(status) == 1) {
        new_state = op.state();
        n_done = n;
        break;
      }
      ++kills;
      after_kill.push_back({n, op.state(), HasMarker()});
      ExpectNoLeftovers(n, true);
    }
    mismatches += Mismatches(after_kill, old_state, new_state);

    // The barrier: one flush for the folder. A power cut at the first call
    // after it (the operation took n - 1 calls, the barrier two: opening
    // the folder and flushing) finds the new state.
    const long stop_after_barrier = (n_done - 1) + 2 + 1;
    Restart();
    pid_t pid = fork();
    if (pid == 0) {
      if (DbSetSyncGrouping(1) != 0) _exit(2);
      UnsyncedLoss::Install(dir_.path(), stop_after_barrier);
      if (op.run() != 0 || DbSyncBarrier() != 0) _exit(2);
      struct stat st;
      dbe::os::Calls().stat(dir_.path().c_str(), &st);  // the power goes here
      _exit(5);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "2: failed, 5: the power cut came later than expected";
    EXPECT_EQ(op.state(), new_state);

    // The barrier itself is a single flush.
    Restart();
    ASSERT_EQ(DbSetSyncGrouping(1), 0u);
    ASSERT_EQ(op.run(), 0u) << last_error_;
    {
      CountingCalls count;
      ASSERT_EQ(DbSyncBarrier(), 0u) << LastErrorText();
      EXPECT_EQ(count.counts().syncfs, 1);
      EXPECT_EQ(count.counts().fsync + count.counts().fdatasync, 0);
    }
    ASSERT_EQ(DbSetSyncGrouping(0), 0u);
  }
  std::printf("Grouped flushing: %zu operations, %ld kills, %ld mismatches\n", Operations().size(), kills,
              mismatches);
}

// While alive, the Nth write of a whole piece of a rewrite's new files
// (a megabyte or more: only the thread writing a large table's pieces
// writes so much at once) fails with EIO, once.
class FailNthLargeWrite {
 public:
  explicit FailNthLargeWrite(int n) {
    Nth() = n;
    Seen() = 0;
    Fired() = false;
    dbe::os::SystemCalls c = dbe::os::RealCalls();
    c.pwrite = [](int fd, const void* b, size_t len, off_t o) -> ssize_t {
      if (len >= (1u << 20) && ++Seen() == Nth()) {
        Fired() = true;
        errno = EIO;
        return -1;
      }
      return dbe::os::RealCalls().pwrite(fd, b, len, o);
    };
    dbe::os::Calls() = c;
  }
  ~FailNthLargeWrite() { dbe::os::Calls() = dbe::os::RealCalls(); }
  bool fired() const { return Fired(); }

 private:
  static std::atomic<int>& Nth() {
    static std::atomic<int> n{0};
    return n;
  }
  static std::atomic<int>& Seen() {
    static std::atomic<int> n{0};
    return n;
  }
  static std::atomic<bool>& Fired() {
    static std::atomic<bool> b{false};
    return b;
  }
};

TEST_F(IoFaultTest, AFailedWriteOfALargeTablesPieceFailsTheRewriteAndKeepsTheTable) {
  // Three pieces and more of new rows: the first is written by its own
  // thread while the second fills, the last by the flush at the end.
  auto make = [this](bool encrypted) {
    Create("BIG", "EMP_NO,Char,8;LINE1,Char,240;LINE2,Char,240;AMOUNT,Money;");
    DBHANDLE t = Open("BIG", DBE_OPEN_EXCLUSIVE);
    for (int i = 0; i < 18000; ++i) {
      AppendRow(t, {{"EMP_NO", "E" + std::to_string(i)},
                    {"LINE1", std::string(200, char('a' + i % 26))},
                    {"LINE2", "line " + std::to_string(i)},
                    {"AMOUNT", std::to_string(i)}});
    }
    DBE_OK(DbGotoRecord(t, 3));
    DBE_OK(DbDeleteRecord(t));
    if (encrypted) {
      DBE_OK(DbEnableEncryption(t, "pw"));
      DBE_OK(DbEncryptTable(t));
    }
    DBE_OK(DbCloseTable(t));
  };
  auto with_password = [](DBRESULT (*rewrite)(DBHANDLE)) {
    return [rewrite](DBHANDLE t) {
      DBRESULT rc = DbEnableEncryption(t, "pw");
      return rc != 0 ? rc : rewrite(t);
    };
  };
  struct Case {
    const char* name;
    bool encrypted;
    std::function<DBRESULT(DBHANDLE)> run;
  };
  const Case cases[] = {{"encrypt", false, with_password(DbEncryptTable)},
                        {"decrypt", true, with_password(DbDecryptTable)},
                        {"pack", false, DbPackTable}};
  for (const Case& c : cases) {
    for (int nth : {1, 2}) {
      SCOPED_TRACE(std::string(c.name) + ", piece " + std::to_string(nth));
      for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove_all(e.path());
      make(c.encrypted);
      const std::string before = TableState(conn_, "BIG");
      DBRESULT rc;
      bool fired;
      {
        FailNthLargeWrite fail(nth);
        rc = OnTable("BIG", DBE_OPEN_EXCLUSIVE, c.run);
        fired = fail.fired();
      }
      ASSERT_TRUE(fired) << "no piece was written";
      EXPECT_TRUE(IsIoError(rc, last_error_)) << rc << " " << last_error_;
      EXPECT_NE(last_error_.find(dir_.File("BIG.KDT")), std::string::npos) << last_error_;
      EXPECT_EQ(TableState(conn_, "BIG"), before);
      ExpectNoLeftovers(nth);
      ASSERT_EQ(OnTable("BIG", DBE_OPEN_EXCLUSIVE, c.run), 0u) << last_error_;
    }
  }
}

}  // namespace
}  // namespace kx8test
