// The index repair on free tables and through a dictionary, the encryption
// of the income-tax tables, and the dictionary's auto-create reset, also
// when any system call under it fails.
#include "conversions/index_repair.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "conversion_fixture.h"
#include "engine/io_faults.h"
#include "platform/path.h"

namespace kx8::conversions {
namespace {

using namespace dbaccess;
namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& fields) {
  std::vector<std::string> out;
  std::stringstream s(fields);
  for (std::string f; std::getline(s, f, ';');) out.push_back(f);
  return out;
}

// In a child process about to be killed: the Nth write, flush or rename of
// the engine ends the process before it is made, as a kill would.
long writes_left = 0;
void KillBeforeTheNthWrite() {
  if (--writes_left == 0) ::_exit(0);
}
void KillAtNthWrite(long n) {
  writes_left = n;
  dbe::os::SystemCalls c = dbe::os::RealCalls();
  c.pwrite = [](int fd, const void* b, size_t len, off_t o) -> ssize_t {
    KillBeforeTheNthWrite();
    return dbe::os::RealCalls().pwrite(fd, b, len, o);
  };
  c.fsync = [](int fd) {
    KillBeforeTheNthWrite();
    return dbe::os::RealCalls().fsync(fd);
  };
  c.fdatasync = [](int fd) {
    KillBeforeTheNthWrite();
    return dbe::os::RealCalls().fdatasync(fd);
  };
  c.rename = [](const char* a, const char* b) {
    KillBeforeTheNthWrite();
    return dbe::os::RealCalls().rename(a, b);
  };
  dbe::os::Calls() = c;
}

class IndexRepairTest : public ConversionTest {
 protected:
  // Every table of the entries with the fields its entries expect and one
  // row; those whose entry supplies a password, and those in `encrypted_too`,
  // stored encrypted. Tables in `leave_out` are not made.
  void MakeEntryTables(const std::set<std::string>& leave_out = {}, bool encrypt = true,
                       const std::set<std::string>& encrypted_too = {}) {
    std::map<std::string, std::vector<std::string>> fields;
    std::map<std::string, bool> encrypted;
    for (const IndexEntry& e : IndexEntries()) {
      std::vector<std::string>& list = fields[e.table];
      for (const std::string& f : Split(e.fields)) {
        if (std::find(list.begin(), list.end(), f) == list.end()) list.push_back(f);
      }
      encrypted[e.table] = encrypted[e.table] || (encrypt && e.password != IndexPassword::None) ||
                           encrypted_too.count(e.table) != 0;
    }
    fields["TEMPPAYGROUP"] = {"PAYGROUP", "YEAR", "MONTH", "TYPE"};
    for (const auto& [table, names] : fields) {
      if (leave_out.count(table) != 0) continue;
      MakeTable(table, Texts(names), {std::vector<std::string>(names.size(), "1")}, encrypted[table]);
    }
  }

  TDbQuery& RepairQuery(bool connected = true) {
    repair_query_ = std::make_unique<TDbQuery>();
    if (connected) repair_query_->SetDbConnection(company_.get());
    repair_query_->DbTableOptions().SetDbRightsCheck(false);
    return *repair_query_;
  }
  void TearDown() override {
    repair_query_.reset();
    ConversionTest::TearDown();
  }

  std::unique_ptr<TDbQuery> repair_query_;
};

// What a free-table company holds after the repair, the first pass and the
// second alike. LEAV_TRX gets one index only: entry 11 finds the index of
// entry 7. APPR is missing, and the other entries go on without it.
TEST_F(IndexRepairTest, EveryMissingIndexIsMadeOnceOnFreeTables) {
  MakeEntryTables({"APPR"});
  schema::UpgradeContext& ctx = Context();
  TDbQuery& q = RepairQuery();
  const std::map<std::string, std::vector<std::string>> want = {
      {"TEMPINCREMENT", {"CATEGORY:USERID;TYPE;CATEGORY;GRADE"}},
      {"FREEFIELD", {"CTLFIELD:MODULE;LINE;CTLFIELD"}},
      {"APPD8B", {"INC_NO:INC_NO"}},
      {"RPTRX", {"PAYCODE:EMPCODE;PAYCODE;PERIOD;CYCLE"}},
      {"RBFIELD", {"TABLENAME:TABLENAME;FIELDNAME"}},
      {"EMPLEAVE", {"EMPCODE1:EMPCODE;START_DATE;LEAVE_CODE;ID:U"}},
      {"LEAV_TRX", {"LEAVE_TRX1:LEAVE_CODE;EMPCODE;DATE;ID"}},
      {"RBTABLE", {"TABLENAME:TABLENAME"}},
      {"PQUERY", {"CODE2:CODE;QTYPE;ID"}},
      {"LIEUTRX1", {"EMP_NO2:EMP_NO;LEAVE_CODE;TRX_DATE;TRXID"}},
      {"CODE", {"CATDESC:CATEGORY;DESC"}},
      {"IR8AR", {"PRIMARY1:USERID;EMPCODE;TYPE"}},
      {"MEDICAL", {"BNO:EMPCODE;BNO"}},
      {"ALLOWNCE", {"RPTCODE:YEAR;RPTCODE"}},
      {"GLCOST", {"  LINE:LINE"}},
      {"PASSWORK", {"MENU1:USER;MENU"}},
      {"P_HIST1", {"P_HIST:USERID;EMPCODE;ID;ALW_CODE;DESC01"}},
      {"APPRDTL", {"EMPLOYEE1:EMPCODE;ID;SECTION"}},
      {"APP_GRADE_SETUP", {"FROMMARK:JOB_GRADE;FROMMARK"}},
      {"LEAVESET", {"PERIOD1:PERIOD;SCHEME"}},
      {"P_HIST4",
       {"PAYCODE1:USERID;DEPT_CODE;CST_CODE;CAT_CODE;PAYCODE1", "PAYCODE2:USERID;DEPT_CODE;CST_CODE;CAT_CODE;PAYCODE2",
        "ID:USERID;DEPT_CODE;CST_CODE;CAT_CODE;PAYCODE2;ID"}},
      {"INCOMETB", {"FORWHAT:YEAR;FORWHAT"}},
      {"TEMPPAYGROUP", {}},
  };
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    RepairIndexes(ctx, q);
    for (const auto& [table, indexes] : want) EXPECT_EQ(Indexes(table), indexes) << table;
    EXPECT_FALSE(ctx.work_table.Active());
  }
  for (const char* table : {"TEMPINCREMENT", "RPTRX", "RBFIELD", "RBTABLE", "P_HIST1"}) {
    EXPECT_TRUE(StoredEncrypted(table)) << table;
    for (const IndexEntry& e : IndexEntries()) {
      if (std::string(e.table) != table) continue;
      EXPECT_EQ(Rows(table, Split(e.fields)).size(), 1u) << table;
    }
  }
  EXPECT_TRUE(ui_.Messages().empty());
}

// An index on the expected fields counts whatever its name; an index of
// another list does not. Entry 11 makes its index only when entry 7 did
// not, here because the name of entry 7 is taken.
TEST_F(IndexRepairTest, AnIndexCountsByItsFieldsAndEntryElevenStandsInForSeven) {
  struct Case {
    const char* what;
    const char* existing_name;
    const char* existing_fields;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"same fields, other name", "BYLEAVE", "LEAVE_CODE;EMPCODE;DATE;ID", {"BYLEAVE:LEAVE_CODE;EMPCODE;DATE;ID"}},
      {"fewer fields", "BYLEAVE", "LEAVE_CODE;EMPCODE",
       {"BYLEAVE:LEAVE_CODE;EMPCODE", "LEAVE_TRX1:LEAVE_CODE;EMPCODE;DATE;ID"}},
      {"name of entry 7 taken", "LEAVE_TRX1", "EMPCODE",
       {"LEAVE_TRX1:EMPCODE", "EMP_NO:LEAVE_CODE;EMPCODE;DATE;ID"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    MakeEntryTables();
    AddIndex("LEAV_TRX", c.existing_name, c.existing_fields);
    schema::UpgradeContext& ctx = Context();
    RepairIndexes(ctx, RepairQuery());
    RepairIndexes(ctx, *repair_query_);
    EXPECT_EQ(Indexes("LEAV_TRX"), c.want);
  }
}

// An entry without a password gets none, whatever ran before it: an
// encrypted table of such an entry keeps lacking its index, however many of
// the earlier indexes were missing, and a second repair makes nothing. Here
// the password of the group, or of an entry whose statement fails, would
// otherwise still be on the query when the encrypted table's entry runs.
TEST_F(IndexRepairTest, AnEntryWithoutAPasswordNeverRunsWithAnEarlierOne) {
  struct Existing {
    const char* table;
    const char* name;
    const char* fields;
  };
  struct Case {
    const char* what;
    const char* encrypted;  // a table whose entry supplies no password
    std::vector<Existing> existing;
  };
  const Case cases[] = {
      {"the group's and the next entries' indexes there",
       "MEDICAL",
       {{"EMPLEAVE", "EMPCODE1", "EMPCODE;START_DATE;LEAVE_CODE;ID"},
        {"LEAV_TRX", "LEAVE_TRX1", "LEAVE_CODE;EMPCODE;DATE;ID"},
        {"RBTABLE", "TABLENAME", "TABLENAME"},
        {"PQUERY", "CODE2", "CODE;QTYPE;ID"},
        {"LIEUTRX1", "EMP_NO2", "EMP_NO;LEAVE_CODE;TRX_DATE;TRXID"},
        {"CODE", "CATDESC", "CATEGORY;DESC"},
        {"IR8AR", "PRIMARY1", "USERID;EMPCODE;TYPE"}}},
      {"entry 1's statement fails once given its password", "FREEFIELD", {{"TEMPINCREMENT", "CATEGORY", "USERID"}}},
      {"entry 19's statement fails once given its password", "APPRDTL", {{"P_HIST1", "P_HIST", "USERID"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    // Only the table in question is encrypted, so that the indexes can be
    // laid out beforehand; the passwords are supplied all the same.
    MakeEntryTables({}, false, {c.encrypted});
    for (const Existing& e : c.existing) AddIndex(e.table, e.name, e.fields);
    schema::UpgradeContext& ctx = Context();
    RepairIndexes(ctx, RepairQuery());
    EXPECT_EQ(Indexes(c.encrypted), std::vector<std::string>{});
    std::map<std::string, std::vector<std::string>> first;
    for (const IndexEntry& e : IndexEntries()) first[e.table] = Indexes(e.table);
    RepairIndexes(ctx, *repair_query_);
    for (const auto& [table, indexes] : first) EXPECT_EQ(Indexes(table), indexes) << table;
  }
}

// When the password of entry 8 cannot be given (here the repair's query has
// no connection, so no statement can run), entries 6 to 8 are skipped,
// even entry 6 that adds its index through the table; entry 24 still does.
TEST_F(IndexRepairTest, WithoutThePasswordOfRbtableEntriesSixToEightAreSkipped) {
  MakeEntryTables();
  schema::UpgradeContext& ctx = Context();
  RepairIndexes(ctx, RepairQuery(false));
  EXPECT_EQ(Indexes("EMPLEAVE"), std::vector<std::string>{});
  EXPECT_EQ(Indexes("INCOMETB"), std::vector<std::string>{"FORWHAT:YEAR;FORWHAT"});
  EXPECT_EQ(Indexes("PQUERY"), std::vector<std::string>{});
}

// A dictionary-bound company: entries 1 to 3, then TEMPPAYGROUP and RPTRX
// end with exactly their one index; entries 4 to 24 are not attempted. A
// second pass leaves the two index files as they are; an index added by
// another program between passes is removed by the next one.
TEST_F(IndexRepairTest, ADictionaryCompanyGetsTwoTablesRebuiltInsteadOfTheFreeTableEntries) {
  MakeEntryTables({}, false);
  AddIndex("RPTRX", "EMPCODE", "EMPCODE;PERIOD");
  AddIndex("TEMPPAYGROUP", "PAYGROUP", "PAYGROUP");
  std::vector<std::pair<std::string, bool>> bound;
  for (const char* t : {"TEMPINCREMENT", "FREEFIELD", "APPD8B", "RPTRX", "TEMPPAYGROUP", "EMPLEAVE", "INCOMETB"}) {
    bound.emplace_back(t, false);
  }
  MakeDictionary(bound);
  schema::UpgradeContext& ctx = Context();
  auto index_files = [&] {
    std::vector<std::pair<std::uintmax_t, fs::file_time_type>> out;
    for (const char* f : {"RPTRX.KDI", "TEMPPAYGROUP.KDI"}) {
      struct stat st {};
      const std::string path = platform::ResolvePath(folder_ + "\\" + f);
      EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
      out.emplace_back(st.st_ino, fs::last_write_time(path));
    }
    return out;
  };
  std::vector<std::pair<std::uintmax_t, fs::file_time_type>> after_first;
  for (int pass = 1; pass <= 3; ++pass) {
    SCOPED_TRACE(pass);
    if (pass == 3) {
      // Another program, through the dictionary.
      dbaccess::TDbScopedTable t;
      t.Connection().SetUsername(support::AdministratorUser());
      t.Connection().SetPassword(support::AdministratorPassword());
      t.Connection().SetLoginPrompt(false);
      t.Connection().SetConnectPath(kdd_);
      t.Table().SetTableName("RPTRX");
      t.Table().SetExclusive(true);
      t.Table().DbTableOptions().SetDbRightsCheck(false);
      t.Table().AddIndex("EXTRA", "EMPCODE", {});
      EXPECT_EQ(Indexes("RPTRX").size(), 2u);
    }
    RepairIndexes(ctx, RepairQuery());
    if (pass == 1) after_first = index_files();
    if (pass == 2) {
      EXPECT_EQ(index_files(), after_first);
    }
    EXPECT_EQ(Indexes("TEMPINCREMENT"), std::vector<std::string>{"CATEGORY:USERID;TYPE;CATEGORY;GRADE"});
    EXPECT_EQ(Indexes("APPD8B"), std::vector<std::string>{"INC_NO:INC_NO"});
    EXPECT_EQ(Indexes("RPTRX"), std::vector<std::string>{"PAYCODE:EMPCODE;PAYCODE;PERIOD;CYCLE"});
    EXPECT_EQ(Indexes("TEMPPAYGROUP"), std::vector<std::string>{"PAYGROUP:PAYGROUP;YEAR;MONTH;TYPE"});
    EXPECT_EQ(Indexes("EMPLEAVE"), std::vector<std::string>{});
    EXPECT_EQ(Indexes("INCOMETB"), std::vector<std::string>{});
    EXPECT_EQ(Property("RPTRX", 203), 1);
    EXPECT_EQ(Property("TEMPPAYGROUP", 203), 1);
  }
}

TEST_F(IndexRepairTest, TheIncomeTaxTablesOfFreeTableCompaniesAreEncrypted) {
  const char* tables[] = {"IRDX8A", "IR8AR", "IR8AREC", "IR8S", "IRREFUND"};
  for (const char* t : tables) MakeTable(t, Texts({"EMPCODE"}), {{"E1"}}, std::string(t) == "IR8AR");
  schema::UpgradeContext& ctx = Context();
  EncryptIncomeTaxTables(ctx);
  EncryptIncomeTaxTables(ctx);
  for (const char* t : tables) {
    EXPECT_TRUE(StoredEncrypted(t)) << t;
    EXPECT_EQ(Rows(t, {"EMPCODE"}), std::vector<std::string>{"E1"}) << t;
  }
  EXPECT_FALSE(ctx.work_table.Active());

  // A missing table ends the step, with the work table closed.
  Fresh();
  MakeTable("IRDX8A", Texts({"EMPCODE"}), {{"E1"}});
  schema::UpgradeContext& missing = Context();
  EXPECT_THROW(EncryptIncomeTaxTables(missing), std::exception);
  EXPECT_FALSE(missing.work_table.Active());
  EXPECT_TRUE(StoredEncrypted("IRDX8A"));

  // A dictionary-bound company is left to its dictionary, tables or none.
  Fresh();
  MakeTable("IRDX8A", Texts({"EMPCODE"}), {{"E1"}});
  MakeDictionary({{"IRDX8A", false}});
  schema::UpgradeContext& bound = Context();
  EncryptIncomeTaxTables(bound);
  EXPECT_EQ(Property("IRDX8A", 214), 0);
}

// Every dictionary table ends with automatic creation on, the company
// connected and the register on its row.
TEST_F(IndexRepairTest, TheAutoCreateResetLeavesEveryTableWithAutoCreateOn) {
  for (const char* t : {"CODE", "PAYPARA", "EMPLOYEE"}) MakeTable(t, Texts({"A"}));
  MakeDictionary({{"CODE", false}, {"PAYPARA", false}, {"EMPLOYEE", true}});
  std::uint16_t off = 0;
  {
    TDbDictionary d;
    LogOnAsAdministrator(d);
    d.SetTableProperty("PAYPARA", 203, &off, 2, 0, "");
  }
  schema::UpgradeContext& ctx = Context();
  ResetAutoCreate(ctx);
  for (const char* t : {"CODE", "PAYPARA", "EMPLOYEE"}) EXPECT_EQ(Property(t, 203), 1) << t;
  EXPECT_TRUE(ctx.company.IsConnected());
  EXPECT_FALSE(ctx.dictionary.IsConnected());
  EXPECT_EQ(ctx.CompanyCode(), "ACME");
  EXPECT_TRUE(ui_.Messages().empty());
}

// Whichever system call fails, no table is left without automatic creation;
// a failure inside the walk is shown in its own words and the company is
// connected again.
TEST_F(IndexRepairTest, AFailingCallNeverLeavesATableWithoutAutoCreate) {
  const char* tables[] = {"CODE", "PAYPARA", "EMPLOYEE"};
  for (const char* t : tables) MakeTable(t, Texts({"A"}));
  MakeDictionary({{"CODE", false}, {"PAYPARA", false}, {"EMPLOYEE", true}});
  ResetAutoCreate(Context());
  bool fired = true;
  for (long n = 1; fired; ++n) {
    SCOPED_TRACE(n);
    ui_.Clear();
    schema::UpgradeContext& ctx = Context();
    {
      kx8test::FailNthCall fail(n);
      bool ended = false;
      try {
        ResetAutoCreate(ctx);
      } catch (const std::exception&) {
        // A failure outside the walk goes on to the caller.
        ended = true;
      }
      fired = fail.fired();
      EXPECT_TRUE(ended || ctx.company.IsConnected());
    }
    for (const char* t : tables) EXPECT_EQ(Property(t, 203), 1) << t << ::testing::PrintToString(ui_.Messages());
    for (const std::string& m : ui_.Messages()) {
      EXPECT_EQ(m.rfind("message: Error in ", 0), 0u) << m;
      EXPECT_EQ(m.substr(m.size() - 26), "Press any key to continue.") << m;
    }
  }
}

// A process killed at any write of the repair, on either kind of company,
// leaves every table openable with its rows and the dictionary readable;
// the next pass makes every index.
TEST_F(IndexRepairTest, AKillAtAnyWriteLeavesEveryTableOpenable) {
  const char* bound_tables[] = {"TEMPINCREMENT", "FREEFIELD", "APPD8B", "RPTRX", "TEMPPAYGROUP"};
  for (bool dictionary : {false, true}) {
    SCOPED_TRACE(dictionary);
    Fresh();
    MakeEntryTables({}, !dictionary);
    if (dictionary) {
      std::vector<std::pair<std::string, bool>> bound;
      for (const char* t : bound_tables) bound.emplace_back(t, false);
      MakeDictionary(bound);
    }
    const fs::path company = base_ / "COMPANY" / "ACME";
    const fs::path snapshot = base_ / "snapshot";
    fs::create_directories(snapshot);
    kx8test::CopyFolder(company, snapshot);
    bool killed = true;
    for (long n = 1; killed; n += 5) {
      SCOPED_TRACE(n);
      kx8test::CopyFolder(snapshot, company);
      std::fflush(nullptr);
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        schema::UpgradeContext& ctx = Context();
        KillAtNthWrite(n);
        RepairIndexes(ctx, RepairQuery());
        ::_exit(1);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      killed = WEXITSTATUS(status) == 0;
      for (const IndexEntry& e : IndexEntries()) EXPECT_EQ(Rows(e.table, Split(e.fields)).size(), 1u) << e.table;
      if (dictionary) {
        std::vector<std::string> listed = Tables();
        std::sort(listed.begin(), listed.end());
        std::vector<std::string> want(std::begin(bound_tables), std::end(bound_tables));
        std::sort(want.begin(), want.end());
        EXPECT_EQ(listed, want);
      }
    }
    schema::UpgradeContext& ctx = Context();
    RepairIndexes(ctx, RepairQuery());
    EXPECT_EQ(Indexes("RPTRX"), std::vector<std::string>{"PAYCODE:EMPCODE;PAYCODE;PERIOD;CYCLE"});
    EXPECT_EQ(Indexes("APPD8B"), std::vector<std::string>{"INC_NO:INC_NO"});
  }
}

}  // namespace
}  // namespace kx8::conversions
