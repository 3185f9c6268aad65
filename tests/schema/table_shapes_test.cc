// Entries of the column upgrade primitive that follow one another on a
// table decide from the fields an earlier entry found, but only while the
// table's files are unchanged: a table changed in between (by a statement of
// this process, a change still waiting to be written, or another program
// restoring an older copy) is upgraded as if no entry had seen it before.
#include <filesystem>
#include <functional>

#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_query.h"
#include "dbaccess/db_rewrite_deferral.h"
#include "schema/column_upgrade.h"
#include "schema/release_check.h"
#include "schema/table_shapes.h"
#include "schema_fixture.h"
#include "support/credentials.h"

namespace kx8::schema {
namespace {

using namespace dbaccess;

class TableShapesTest : public SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    MakeTable("EDUCATE", {{"DETAIL_1", ftString, 100, 0}, {"NAME", ftString, 10, 0}}, {{"degree", "Tan"}});
  }

  std::string CompanyPath(const std::string& file) const { return (base_ / "COMPANY" / "ACME" / file).string(); }

  // A statement on a connection of its own, as another step would send it.
  void Statement(const std::string& sql) {
    TDbConnection c;
    c.SetConnectPath(folder_);
    TDbQuery q;
    q.SetDbConnection(&c);
    q.SQL().Add(sql);
    q.ExecSQL();
    q.CloseStatement();
  }

  // Copies the table's files aside, and puts the copies back as another
  // program restoring them would: new files under the old names.
  void SaveCopy(const std::string& table) {
    fs::create_directories(base_ / "saved");
    for (const char* ext : {".KDT", ".KDI", ".KDM"}) {
      if (fs::exists(CompanyPath(table + ext))) fs::copy_file(CompanyPath(table + ext), base_ / "saved" / (table + ext));
    }
  }
  void RestoreCopy(const std::string& table) {
    for (const char* ext : {".KDT", ".KDI", ".KDM"}) {
      const fs::path saved = base_ / "saved" / (table + ext);
      if (!fs::exists(saved)) continue;
      fs::copy_file(saved, CompanyPath(table + ext + ".restored"), fs::copy_options::overwrite_existing);
      fs::rename(CompanyPath(table + ext + ".restored"), CompanyPath(table + ext));
    }
  }

  std::vector<std::string> SentSql() {
    std::vector<std::string> lines;
    for (int i = 0; i < query_->SQL().Count(); ++i) lines.push_back(query_->SQL()[i]);
    return lines;
  }

  // Something done to EDUCATE between two runs of the same two entries, and
  // what the entries send after it.
  struct Case {
    const char* what;
    std::function<void()> between;
    std::vector<std::string> widen_sql, add_sql;
  };
  static constexpr const char* kWiden = "alter column \"DETAIL_1\" \"DETAIL_1\" char(200)";
  static constexpr const char* kAdd = "add column GRADE char(4)";

  // The entries change the table, then find it as they left it (their
  // fields kept); `kept` checks that, then the case's change is made and the
  // entries run again: they send what the case says and leave the table
  // upgraded, without a message. The table's first files are saved aside
  // for RestoreCopy.
  void RunEntriesAround(const Case& c, const std::function<void()>& kept) {
    fs::remove_all(base_ / "saved");
    SaveCopy("EDUCATE");
    UpgradeContext& ctx = Context();
    for (int pass = 0; pass < 2; ++pass) {
      UpgradeColumn(ctx, "EDUCATE", "DETAIL_1", "AS", "200", false);
      UpgradeColumn(ctx, "EDUCATE", "GRADE", "C", "4", false);
    }
    kept();
    c.between();
    ui_.Clear();
    query_->SQL().Clear();
    UpgradeColumn(ctx, "EDUCATE", "DETAIL_1", "AS", "200", false);
    EXPECT_EQ(SentSql(), c.widen_sql);
    query_->SQL().Clear();
    UpgradeColumn(ctx, "EDUCATE", "GRADE", "C", "4", false);
    EXPECT_EQ(SentSql(), c.add_sql);
    EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
    EXPECT_EQ(Column("EDUCATE", "DETAIL_1"), std::make_pair(ftString, 201));
    EXPECT_EQ(Column("EDUCATE", "GRADE"), std::make_pair(ftString, 5));
    WithTable("EDUCATE", [](TDbTable& t) { EXPECT_EQ(t.FieldByName("DETAIL_1").AsString(), "degree"); });
  }
};

TEST_F(TableShapesTest, AnEntryAfterAChangeSeesTheTableAsItIsNow) {
  const std::string widen = kWiden, add = kAdd;
  const Case cases[] = {
      {"nothing", [] {}, {}, {}},
      {"another program restores the table as it was before the entries",
       [&] { RestoreCopy("EDUCATE"); },
       {"ALTER TABLE \"EDUCATE.KDT\"", widen},
       {"ALTER TABLE \"EDUCATE.KDT\"", add}},
      {"a statement of another step narrows a column and drops one",
       [&] {
         Statement("ALTER TABLE \"EDUCATE.KDT\" alter column \"DETAIL_1\" \"DETAIL_1\" char(50)");
         Statement("ALTER TABLE \"EDUCATE.KDT\" DROP COLUMN GRADE");
       },
       {"ALTER TABLE \"EDUCATE.KDT\"", widen},
       {"ALTER TABLE \"EDUCATE.KDT\"", add}},
      {"the same changes waiting to be written",
       [&] {
         TDbRewriteDeferral deferral;
         Statement("ALTER TABLE \"EDUCATE.KDT\" alter column \"DETAIL_1\" \"DETAIL_1\" char(50)");
         Statement("ALTER TABLE \"EDUCATE.KDT\" DROP COLUMN GRADE");
         query_->SQL().Clear();
         UpgradeColumn(*ctx_, "EDUCATE", "DETAIL_1", "AS", "200", false);
         EXPECT_EQ(SentSql(), (std::vector<std::string>{"ALTER TABLE \"EDUCATE.KDT\"", widen}));
         query_->SQL().Clear();
         UpgradeColumn(*ctx_, "EDUCATE", "GRADE", "C", "4", false);
         EXPECT_EQ(SentSql(), (std::vector<std::string>{"ALTER TABLE \"EDUCATE.KDT\"", add}));
         deferral.End();
       },
       {},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunEntriesAround(c, [] {});
    EXPECT_EQ(Column("EDUCATE", "NAME"), std::make_pair(ftString, 11));
    EXPECT_FALSE(work_->Active());
    EXPECT_TRUE(work_->Exclusive());
    // Back to the table as it was for the next case.
    RestoreCopy("EDUCATE");
  }
}

// On a dictionary company the entries decide from kept fields while
// neither the table's file nor the dictionary's entry of it has changed: a
// table changed through the dictionary, taken out and put back after an
// older copy was restored, or put back on another file, is opened again.
TEST_F(TableShapesTest, OnADictionaryCompanyAnEntrySeesTheTableTheDictionaryShowsNow) {
  MakeDictionary({{"EDUCATE", false}});
  const std::string widen = kWiden, add = kAdd;
  auto through_dictionary = [&](const std::string& sql) {
    TDbConnection c;
    c.SetUsername(support::AdministratorUser());
    c.SetPassword(support::AdministratorPassword());
    c.SetLoginPrompt(false);
    c.SetConnectPath(kdd_);
    TDbQuery q;
    q.SetDbConnection(&c);
    q.SQL().Add(sql);
    q.ExecSQL();
    q.CloseStatement();
  };
  auto put_back_on = [&](const std::string& file, const std::function<void()>& while_out) {
    TDbDictionary d;
    LogOnAsAdministrator(d);
    d.RemoveTable("EDUCATE", false);
    while_out();
    d.AddTable("EDUCATE", file, "", "", ttDbKDT, TDbCharTypes::ANSI);
  };
  const Case cases[] = {
      {"nothing", [] {}, {}, {}},
      {"another program narrows a column and drops one through the dictionary",
       [&] {
         through_dictionary("ALTER TABLE EDUCATE alter column \"DETAIL_1\" \"DETAIL_1\" char(50)");
         through_dictionary("ALTER TABLE EDUCATE DROP COLUMN GRADE");
       },
       {"ALTER TABLE \"EDUCATE.KDT\"", widen},
       {"ALTER TABLE \"EDUCATE.KDT\"", add}},
      {"taken out of the dictionary, an older copy restored, and put back",
       [&] { put_back_on("EDUCATE.KDT", [&] { RestoreCopy("EDUCATE"); }); },
       {"ALTER TABLE \"EDUCATE.KDT\"", widen},
       {"ALTER TABLE \"EDUCATE.KDT\"", add}},
      // The change goes to the table's own file, and putting the table back
      // registers that file again: the second entry finds it upgraded.
      {"put back on an older copy under another file name",
       [&] {
         for (const char* ext : {".KDT", ".KDI", ".KDM"}) {
           const fs::path saved = base_ / "saved" / (std::string("EDUCATE") + ext);
           if (fs::exists(saved)) fs::copy_file(saved, CompanyPath(std::string("EDUOLD") + ext));
         }
         put_back_on("EDUOLD.KDT", [] {});
       },
       {"ALTER TABLE \"EDUCATE.KDT\"", widen},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // What the entries found is kept, and holds until something changes.
    RunEntriesAround(c, [&] { EXPECT_NE(table_shapes_.Find("EDUCATE", work_->FilesStamp()), nullptr); });
    EXPECT_EQ(Tables(), std::vector<std::string>{"EDUCATE"});
    EXPECT_EQ(company_->ConnectPath(), kdd_);
    RestoreCopy("EDUCATE");
  }
}

TEST_F(TableShapesTest, ATableGoneSinceAnEarlierEntryIsSkippedQuietly) {
  UpgradeContext& ctx = Context();
  UpgradeColumn(ctx, "EDUCATE", "NAME", "C", "10", false);
  for (const char* ext : {".KDT", ".KDI", ".KDM"}) fs::remove(CompanyPath(std::string("EDUCATE") + ext));
  query_->SQL().Clear();
  UpgradeColumn(ctx, "EDUCATE", "NAME", "C", "10", false);
  EXPECT_TRUE(SentSql().empty());
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(edit1_, "Updating file : EDUCATE Field : NAME");
}

// An encrypted entry opens the table with the administrator password; one
// that passes without opening must not hide a table that password cannot
// open, even when an entry without the flag found its fields.
TEST_F(TableShapesTest, AnEncryptedEntryStillMeetsATableItsPasswordCannotOpen) {
  {
    TDbScopedTable t;
    t.Connection().SetConnectPath(folder_);
    t.Table().SetTableName("EDUCATE");
    t.Table().SetExclusive(true);
    t.Table().Open();
    t.Table().EnableEncryption("not the administrator's");
    t.Table().EncryptTable();
  }
  UpgradeContext& ctx = Context();
  struct Entry {
    bool encrypted;
    bool message;
  };
  for (const Entry& e : {Entry{false, false}, Entry{true, true}, Entry{false, false}, Entry{true, true}}) {
    SCOPED_TRACE(e.encrypted ? "encrypted entry" : "plain entry");
    ui_.Clear();
    UpgradeColumn(ctx, "EDUCATE", "NAME", "C", "10", e.encrypted);
    EXPECT_EQ(ui_.Messages().size(), e.message ? 1u : 0u);
  }
}

// The run's release check reads kept fields where the stamp allows and
// opens the tables everywhere else: it finds what a fresh check finds.
TEST_F(TableShapesTest, TheReleaseCheckFindsWhatAFreshCheckFinds) {
  MakeTable("GLLINE", {{"LINE", ftString, 8, 0}, {"ITEMTEXT", ftString, 10, 0}});
  const std::vector<ReleaseColumn> columns = {{1, "EDUCATE", "DETAIL_1", "AS", 200, ColumnGuard::None},
                                              {1, "EDUCATE", "GRADE", "C", 4, ColumnGuard::None},
                                              {1, "GLLINE", "LINE", "AS", 4, ColumnGuard::None}};
  UpgradeContext& ctx = Context();
  for (const ReleaseColumn& c : columns) {
    UpgradeColumn(ctx, c.table, c.column, c.type_code, std::to_string(c.size), false);
  }
  EXPECT_EQ(CheckReleaseColumns(folder_, columns, &table_shapes_), std::vector<std::string>{});
  Statement("ALTER TABLE \"EDUCATE.KDT\" alter column \"DETAIL_1\" \"DETAIL_1\" char(50)");
  Statement("ALTER TABLE \"GLLINE.KDT\" DROP COLUMN LINE");
  const std::vector<std::string> fresh = CheckReleaseColumns(folder_, columns);
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_EQ(fresh[0].rfind("EDUCATE DETAIL_1 char 50", 0), 0u) << fresh[0];
  EXPECT_EQ(CheckReleaseColumns(folder_, columns, &table_shapes_), fresh);
}

}  // namespace
}  // namespace kx8::schema
