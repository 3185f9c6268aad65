// The column upgrade primitive on free-table and dictionary-bound companies,
// and the dictionary rights operations.
#include "schema/column_upgrade.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "dbaccess/db_errors.h"
#include "schema/detach_record.h"
#include "schema/dictionary_rights.h"
#include "schema_fixture.h"

namespace kx8::schema {
namespace {

using namespace dbaccess;

const char kQ = '"';

class ColumnUpgradeTest : public SchemaTest {
 protected:
  void MakeFreeTables() {
    MakeTable("GLLINE", {{"ITEMTEXT", ftString, 10, 0}}, {{"first"}});
    MakeTable("EDUCATE", {{"DETAIL_1", ftString, 100, 0}}, {{"degree"}});
    MakeTable("VACCINATION", {{"FOOD_HANDLER", ftBoolean, 0, 0}}, {{"T"}, {"F"}});
    MakeTable("INTPASS", {{"ID", ftAutoInc, 0, 0}, {"CODE", ftString, 4, 0}}, {{"", "A"}, {"", "B"}});
    MakeTable("RBITEM", {{"ID", ftAutoInc, 0, 0}});
    MakeTable("EMPLOYEE", {{"EMP_NO", ftString, 10, 0}, {"NRIC", ftString, 12, 0}}, {{"E1", "S1234567D"}}, true);
  }

  // The lines of the statement the last call sent (the work query keeps them).
  std::vector<std::string> SentSql() {
    std::vector<std::string> lines;
    for (int i = 0; i < query_->SQL().Count(); ++i) lines.push_back(query_->SQL()[i]);
    return lines;
  }
};

TEST_F(ColumnUpgradeTest, DecidesBetweenAddChangeAndNothing) {
  MakeFreeTables();
  UpgradeContext& ctx = Context();
  struct Case {
    const char *table, *column, *code, *size;
    std::vector<std::string> sql;       // empty: no statement
    TFieldType type;                    // afterwards
    int data_size;
    bool message;                       // a message was shown
  };
  const std::string q(1, kQ);
  const Case cases[] = {
      {"GLLINE", "ITEMTEXT", "C", "30", {}, ftString, 11, false},  // "C" never widens
      {"GLLINE", "ITEMCODE", "C", "30", {"ALTER TABLE " + q + "GLLINE.KDT" + q, "add column ITEMCODE char(30)"}, ftString, 31, false},
      {"GLLINE", "AMOUNT", "$", "1", {"ALTER TABLE " + q + "GLLINE.KDT" + q, "add column AMOUNT curdouble "}, ftCurrency, 8, false},
      {"GLLINE", "WHEN", "D", "1", {"ALTER TABLE " + q + "GLLINE.KDT" + q, "add column WHEN date "}, ftDate, 4, false},
      {"GLLINE", "QTY", "I", "1", {"ALTER TABLE " + q + "GLLINE.KDT" + q, "add column QTY INTEGER "}, ftInteger, 4, false},
      {"GLLINE", "OK", "L", "1", {"ALTER TABLE " + q + "GLLINE.KDT" + q, "add column OK LOGICAL "}, ftBoolean, 1, false},
      {"GLLINE", "AT", "T", "1", {"ALTER TABLE " + q + "GLLINE.KDT" + q, "ADD column AT TIME "}, ftTime, 4, false},
      {"GLLINE", "RATE", "Z", "1", {"ALTER TABLE " + q + "GLLINE.KDT" + q, "add column RATE double "}, ftFloat, 8, false},
      {"GLLINE", "SEQ", "+", "1", {"ALTER TABLE " + q + "GLLINE.KDT" + q, "add column SEQ AutoInc "}, ftAutoInc, 4, false},
      {"EDUCATE", "DETAIL_1", "AS", "200",
       {"ALTER TABLE " + q + "EDUCATE.KDT" + q, "alter column " + q + "DETAIL_1" + q + " " + q + "DETAIL_1" + q + " char(200)"},
       ftString, 201, false},
      {"EDUCATE", "DETAIL_1", "AS", "200", {}, ftString, 201, false},  // already right
      {"EDUCATE", "DETAIL_1", "AS", "150",
       {"ALTER TABLE " + q + "EDUCATE.KDT" + q, "alter column " + q + "DETAIL_1" + q + " " + q + "DETAIL_1" + q + " char(150)"},
       ftString, 151, false},  // narrowed
      {"EDUCATE", "DETAIL_2", "AS", "200", {"ALTER TABLE " + q + "EDUCATE.KDT" + q}, ftUnknown, 0, true},
      {"VACCINATION", "FOOD_HANDLER", "IC", "1",
       {"ALTER TABLE " + q + "VACCINATION.KDT" + q, "alter column " + q + "FOOD_HANDLER" + q + " " + q + "FOOD_HANDLER" + q + " char(1)"},
       ftString, 2, false},
      {"INTPASS", "ID", "AS", "12",
       {"ALTER TABLE " + q + "INTPASS.KDT" + q, "alter column " + q + "ID" + q + " " + q + "ID" + q + " char(12)"},
       ftString, 13, false},
      {"RBITEM", "ID", "I", "1", {"ALTER TABLE " + q + "RBITEM.KDT" + q, "add column ID INTEGER "}, ftAutoInc, 4, true},
      {"NOTABLE", "X", "C", "5", {}, ftUnknown, 0, false},  // a missing table is skipped quietly
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " " + c.column + " " + c.code + " " + c.size);
    query_->SQL().Clear();
    ui_.Clear();
    UpgradeColumn(ctx, c.table, c.column, c.code, c.size, false);
    EXPECT_EQ(SentSql(), c.sql);
    EXPECT_EQ(edit1_, std::string("Updating file : ") + c.table + " Field : " + c.column);
    if (std::string(c.table) != "NOTABLE") {
      auto [type, size] = Column(c.table, c.column);
      EXPECT_EQ(type, c.type);
      EXPECT_EQ(size, c.data_size);
    }
    EXPECT_EQ(!ui_.Messages().empty(), c.message) << (ui_.Messages().empty() ? "" : ui_.Messages().front());
    // The state it leaves.
    EXPECT_FALSE(work_->Active());
    EXPECT_FALSE(query_->Active());
    EXPECT_EQ(work_->TableName(), c.table);
    EXPECT_TRUE(work_->Exclusive());  // a missing table keeps the earlier value, true here
    EXPECT_TRUE(company_->IsConnected());
  }
  // The rejected statement's message names the table and the statement.
  query_->SQL().Clear();
  ui_.Clear();
  UpgradeColumn(ctx, "EDUCATE", "DETAIL_2", "AS", "200", false);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  const std::string m = ui_.Messages()[0];
  EXPECT_NE(m.find(" Table Name EDUCATE\r\n SQL ALTER TABLE \"EDUCATE.KDT\""), std::string::npos) << m;
}

TEST_F(ColumnUpgradeTest, ConvertedValuesSurvive) {
  MakeFreeTables();
  UpgradeContext& ctx = Context();
  UpgradeColumn(ctx, "VACCINATION", "FOOD_HANDLER", "IC", "1", false);
  UpgradeColumn(ctx, "INTPASS", "ID", "AS", "12", false);
  TDbScopedTable t;
  t.Connection().SetConnectPath(folder_);
  t.Table().SetTableName("VACCINATION");
  t.Table().Open();
  EXPECT_EQ(t.Table().FieldByName("FOOD_HANDLER").AsString(), "T");
  t.Table().Close();
  t.Table().SetTableName("INTPASS");
  t.Table().Open();
  t.Table().Last();
  EXPECT_EQ(t.Table().FieldByName("ID").AsString(), "2");
}

TEST_F(ColumnUpgradeTest, EncryptedFreeTablesStayEncrypted) {
  MakeFreeTables();
  UpgradeContext& ctx = Context();
  // Present column: the password is given, nothing decrypted or changed.
  query_->SQL().Clear();
  UpgradeColumn(ctx, "EMPLOYEE", "NRIC", "C", "20", true);
  EXPECT_TRUE(SentSql().empty());
  // Missing column: decrypted, changed, packed and encrypted again.
  UpgradeColumn(ctx, "EMPLOYEE", "SUPERVISOR_CODE2", "C", "12", true);
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  TDbScopedTable t;
  t.Connection().SetConnectPath(folder_);
  t.Table().SetTableName("EMPLOYEE");
  t.Table().Open();
  EXPECT_TRUE(t.Table().IsTableEncrypted());
  t.Table().EnableEncryption(support::AdministratorPassword());
  t.Table().First();
  EXPECT_EQ(t.Table().FieldByName("NRIC").AsString(), "S1234567D");
  EXPECT_NE(t.Table().FindField("SUPERVISOR_CODE2"), nullptr);
  t.Table().Close();
  // An entry flagged unencrypted on a table stored encrypted: the column is
  // still added and the table keeps its encryption.
  UpgradeColumn(ctx, "EMPLOYEE", "WORK_EMAIL", "C", "60", false);
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  t.Table().Open();
  EXPECT_TRUE(t.Table().IsTableEncrypted());
  t.Table().EnableEncryption(support::AdministratorPassword());
  t.Table().First();
  EXPECT_EQ(t.Table().FieldByName("NRIC").AsString(), "S1234567D");
  EXPECT_NE(t.Table().FindField("WORK_EMAIL"), nullptr);
}

// A change that fails after the primitive decrypted the table: the table is
// stored encrypted again, whatever the entry's flag said, before the
// failure is shown.
TEST_F(ColumnUpgradeTest, AFailedChangeLeavesTheTableEncrypted) {
  MakeFreeTables();
  UpgradeContext& ctx = Context();
  struct Case {
    const char* column;
    const char* code;
    bool flag;
  } cases[] = {
      {"MISSING", "AS", true},   // the lone first line is rejected
      {"MISSING", "IC", false},  // alters a column the table lacks; flag off, table encrypted
      {"NRIC", "AI", true},      // not an auto-increment column: nothing to do, nothing decrypted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " " + c.code);
    ui_.Clear();
    UpgradeColumn(ctx, "EMPLOYEE", c.column, c.code, "8", c.flag);
    EXPECT_TRUE(StoredEncrypted("EMPLOYEE"));
    EXPECT_EQ(Column("EMPLOYEE", "NRIC").second, 13);
  }
  ASSERT_EQ(ui_.Messages().size(), 0u);  // the last case changes nothing
  UpgradeColumn(ctx, "EMPLOYEE", "MISSING", "AS", "8", true);
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].find(" Table Name EMPLOYEE\r\n SQL ALTER TABLE"), std::string::npos) << ui_.Messages()[0];
  WithTable("EMPLOYEE", [](TDbTable& t) {
    t.First();
    EXPECT_EQ(t.FieldByName("NRIC").AsString(), "S1234567D");
  });
}

TEST_F(ColumnUpgradeTest, TablesHeldByOthersAreReported) {
  MakeFreeTables();
  UpgradeContext& ctx = Context();
  {
    // Held exclusively: the shared open fails; message, and the error goes on.
    TDbScopedTable other;
    other.Connection().SetConnectPath(folder_);
    other.Table().SetTableName("GLLINE");
    other.Table().SetExclusive(true);
    other.Table().Open();
    EXPECT_THROW(UpgradeColumn(ctx, "GLLINE", "NEWCOL", "C", "5", false), std::exception);
    ASSERT_EQ(ui_.Messages().size(), 1u);
    EXPECT_NE(ui_.Messages()[0].find(" Table Name Updating file : GLLINE Field : NEWCOL"), std::string::npos)
        << ui_.Messages()[0];
  }
  ui_.Clear();
  {
    // Held shared: the exclusive open fails; message, and the primitive returns.
    TDbScopedTable other;
    other.Connection().SetConnectPath(folder_);
    other.Table().SetTableName("GLLINE");
    other.Table().Open();
    EXPECT_NO_THROW(UpgradeColumn(ctx, "GLLINE", "NEWCOL", "C", "5", false));
    ASSERT_EQ(ui_.Messages().size(), 1u);
    EXPECT_NE(ui_.Messages()[0].find(" Table Name GLLINE\r\n SQL "), std::string::npos) << ui_.Messages()[0];
  }
  EXPECT_EQ(Column("GLLINE", "NEWCOL").first, ftUnknown);
}

class DictionaryUpgradeTest : public SchemaTest {
 protected:
  void SetUp() override {
    SchemaTest::SetUp();
    MakeTable("EMPLOYEE", {{"EMP_NO", ftString, 10, 0}}, {{"E1"}});
    MakeTable("GLLINE", {{"ITEMTEXT", ftString, 10, 0}});
    MakeTable("EMPMISC", {{"EMP_NO", ftString, 10, 0}});
  }
};

TEST_F(DictionaryUpgradeTest, TablesComeBackWithEncryptionAutoCreateAndRights) {
  MakeDictionary({{"EMPLOYEE", true}, {"GLLINE", false}});
  UpgradeContext& ctx = Context();
  UpgradeColumn(ctx, "EMPLOYEE", "SUPERVISOR_CODE2", "C", "12", false);  // always encrypted
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  EXPECT_EQ(Column("EMPLOYEE", "SUPERVISOR_CODE2").second, 13);
  EXPECT_EQ(Property("EMPLOYEE", 214), 1);
  EXPECT_EQ(Property("EMPLOYEE", 203), 1);
  for (const char* user : {"readuser", "KELPAVON8", "USER88", "QRN"}) EXPECT_TRUE(UserCanRead(user, "EMPLOYEE")) << user;
  EXPECT_EQ(company_->ConnectPath(), kdd_);
  EXPECT_EQ(register_->FieldByName("COMPANY_CODE").AsString(), "ACME");
  // "employee" is not an always-encrypted name: it comes back unencrypted.
  UpgradeColumn(ctx, "employee", "EXTRA", "C", "3", false);
  EXPECT_EQ(Property("EMPLOYEE", 214), 0);
}

TEST_F(DictionaryUpgradeTest, AFailedStatementStillPutsTheTableBack) {
  MakeDictionary({{"GLLINE", true}});
  UpgradeContext& ctx = Context();
  UpgradeColumn(ctx, "GLLINE", "MISSING", "AS", "20", true);  // the lone first line is rejected
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].find(" Table Name GLLINE\r\n SQL ALTER TABLE \"GLLINE.KDT\""), std::string::npos);
  EXPECT_EQ(Tables(), (std::vector<std::string>{"GLLINE"}));
  EXPECT_EQ(Property("GLLINE", 214), 1);
  EXPECT_EQ(Property("GLLINE", 203), 1);
  EXPECT_TRUE(UserCanRead("USER88", "GLLINE"));
  EXPECT_EQ(company_->ConnectPath(), kdd_);
  EXPECT_TRUE(company_->IsConnected());
}

// A process killed between taking a table out of its dictionary and putting
// it back: the record written before the table left puts it back, with its
// encryption, automatic creation and every user's rights, at the next
// connect of the company; a second connect changes nothing.
TEST_F(DictionaryUpgradeTest, ATableLeftOutByAKillIsPutBackAtTheNextConnect) {
  MakeDictionary({{"GLLINE", true}, {"EMPMISC", false}});
  {
    UpgradeContext& ctx = Context();
    GrantTableRights(ctx, "GLLINE", true);
    ctx.company.SetIsConnected(false);
    ctx.dictionary.SetConnectPath(kdd_);
    ctx.dictionary.SetIsConnected(true);
    ctx.dictionary.SetObjectAccessRights("GLLINE", "readuser", "R");  // not a standard right
    ctx.dictionary.SetIsConnected(false);
  }
  std::fflush(nullptr);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child takes the table out for a change, then dies before
    // putting it back.
    UpgradeContext& ctx = Context();
    DetachTable(ctx, "GLLINE", true);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(Tables(), (std::vector<std::string>{"EMPMISC"}));
  EXPECT_FALSE(StoredEncrypted("GLLINE"));  // taken out in the clear for the change
  ASSERT_EQ(ReadDetachRecord(folder_).size(), 1u);

  EXPECT_EQ(RestoreDetachedTables(kdd_), std::vector<std::string>{"GLLINE"});
  EXPECT_EQ(Tables(), (std::vector<std::string>{"EMPMISC", "GLLINE"}));
  EXPECT_EQ(Property("GLLINE", 214), 1);
  EXPECT_EQ(Property("GLLINE", 203), 1);
  EXPECT_TRUE(UserCanRead("USER88", "GLLINE"));
  EXPECT_TRUE(UserCanRead("readuser", "GLLINE"));
  {
    dbaccess::TDbDictionary d;
    LogOnAsAdministrator(d);
    EXPECT_EQ(d.GetObjectAccessRights("GLLINE", "readuser"), "R");
  }
  EXPECT_TRUE(ReadDetachRecord(folder_).empty());
  EXPECT_FALSE(fs::exists(base_ / "COMPANY" / "ACME" / kDetachRecordFile));
  EXPECT_TRUE(RestoreDetachedTables(kdd_).empty());

  // A change that completes leaves no record behind.
  UpgradeContext& ctx = Context();
  UpgradeColumn(ctx, "GLLINE", "ITEMNO", "C", "4", true);
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  EXPECT_TRUE(ReadDetachRecord(folder_).empty());
}

TEST_F(DictionaryUpgradeTest, ATableListedUnderItsFileNameIsChangedAndRegisteredUnderItsName) {
  MakeDictionary({{"EMPMISC.KDT", false}, {"GLLINE", false}});
  UpgradeContext& ctx = Context();
  UpgradeColumn(ctx, "EMPMISC", "CHAR11", "C", "30", false);
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  EXPECT_EQ(Column("EMPMISC", "CHAR11").second, 31);
  EXPECT_EQ(Tables(), (std::vector<std::string>{"GLLINE", "EMPMISC"}));
  EXPECT_EQ(Property("EMPMISC", 203), 1);
  EXPECT_TRUE(UserCanRead("USER88", "EMPMISC"));
  EXPECT_EQ(company_->ConnectPath(), kdd_);
}

TEST_F(DictionaryUpgradeTest, GrantsStopAtAMissingUser) {
  MakeDictionary({{"GLLINE", false}}, {"readuser", "KELPAVON8"});
  UpgradeContext& ctx = Context();
  ctx.company.SetIsConnected(false);
  ctx.dictionary.SetConnectPath(kdd_);
  ctx.dictionary.SetIsConnected(true);
  EXPECT_FALSE(DictionaryUserExists(ctx, "QRN"));
  EXPECT_TRUE(TableInDictionary(ctx, "glline"));
  GrantTableRights(ctx, "GLLINE", false);
  ctx.dictionary.SetIsConnected(false);
  EXPECT_TRUE(UserCanRead("readuser", "GLLINE"));
  EXPECT_TRUE(UserCanRead("KELPAVON8", "GLLINE"));
  EXPECT_FALSE(UserCanRead("QRN", "GLLINE"));  // created, but its grant comes after USER88's
  EXPECT_EQ(Property("GLLINE", 203), 0);
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(DictionaryUpgradeTest, NormalisingNamesReRegistersOnlyKdtNames) {
  MakeDictionary({{"EMPLOYEE", false}, {"EMPMISC.KDT", false}});
  UpgradeContext& ctx = Context();
  NormaliseTableNames(ctx);
  EXPECT_EQ(edit1_history_, (std::vector<std::string>{"Updating KDT Table EMPLOYEE", "Updating KDT Table EMPMISC"}));
  EXPECT_EQ(Tables(), (std::vector<std::string>{"EMPLOYEE", "EMPMISC"}));
  EXPECT_TRUE(UserCanRead("USER88", "EMPMISC"));
  EXPECT_FALSE(UserCanRead("USER88", "EMPLOYEE"));  // left as it was
  EXPECT_TRUE(company_->IsConnected());
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(DictionaryUpgradeTest, RebuildingRightsGrantsEveryTable) {
  MakeDictionary({{"EMPLOYEE", false}, {"GLLINE", false}});
  UpgradeContext& ctx = Context();
  RebuildAllRights(ctx);
  EXPECT_EQ(edit1_history_, (std::vector<std::string>{"rebuild Database EMPLOYEE", "rebuild Database GLLINE"}));
  for (const char* table : {"EMPLOYEE", "GLLINE"}) EXPECT_TRUE(UserCanRead("QRN", table)) << table;
  EXPECT_FALSE(dictionary_->IsConnected());
}

}  // namespace
}  // namespace kx8::schema
