// Tables: creation from field definitions, indexes, existence, opening and
// its errors, the type mapping and reading rules, writing rows, seeks,
// ranges, filters, and the whole-table operations.
#include <filesystem>
#include <fstream>
#include <functional>

#include "dbaccess_fixture.h"
#include "support/helpers.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;
using kx8::support::EncodeDate;

void Touch(const std::string& path) { std::ofstream(path).put('x'); }

// --- creating tables and indexes ----------------------------------------------------

TEST_F(DbAccessTest, CreateTableGivesEveryDefinitionItsType) {
  struct Def {
    const char* name;
    TFieldType type;
    int size;
    TFieldType read_back;
    int read_size;
  };
  const Def defs[] = {
      {"S", ftString, 8, ftString, 8},        {"SI", ftSmallint, 0, ftSmallint, 0},
      {"W", ftWord, 0, ftSmallint, 0},        {"I", ftInteger, 0, ftInteger, 0},
      {"B", ftBoolean, 0, ftBoolean, 0},      {"F", ftFloat, 0, ftFloat, 0},
      {"C", ftCurrency, 0, ftCurrency, 0},    {"M", ftBCD, 0, ftBCD, 4},
      {"D", ftDate, 0, ftDate, 0},            {"T", ftTime, 0, ftTime, 0},
      {"DT", ftDateTime, 0, ftDateTime, 0},   {"R", ftBytes, 5, ftBytes, 5},
      {"A", ftAutoInc, 0, ftAutoInc, 0},      {"MO", ftMemo, 0, ftMemo, 1},
      {"FM", ftFmtMemo, 0, ftMemo, 1},        {"G", ftGraphic, 0, ftBlob, 1},
      {"VB", ftVarBytes, 0, ftBlob, 1},       {"BL", ftBlob, 0, ftBlob, 1},
      {"TB", ftTypedBinary, 0, ftBlob, 1},
  };
  TDbTable table;
  Attach(table);
  table.SetTableName("ALLTYPES");
  for (const Def& d : defs) table.FieldDefs().Add(d.name, d.type, d.size);
  table.CreateTable();
  EXPECT_FALSE(table.Active());
  table.Open();
  ASSERT_EQ(table.FieldDefs().Count(), static_cast<int>(std::size(defs)));
  for (int i = 0; i < table.FieldDefs().Count(); ++i) {
    const TFieldDef& got = table.FieldDefs()[i];
    SCOPED_TRACE(got.Name);
    EXPECT_EQ(got.Name, defs[i].name);
    EXPECT_EQ(got.DataType, defs[i].read_back);
    EXPECT_EQ(got.Size, defs[i].read_size);
  }
  EXPECT_EQ(table.FieldByName("s").DataSize(), 9);  // room for the terminator
}

TEST_F(DbAccessTest, CreateTableRefusesTypesWithoutAPiece) {
  struct Case {
    TDbTableTypes table_type;
    TFieldType type;
    const char* message;
  };
  const Case cases[] = {
      {ttDbKDT, ftUnknown, "ftUnknown is not a supported field type."},
      {ttDbKDT, ftParadoxOle, "ftParadoxOle is not a supported field type."},
      {ttDbKDT, ftDBaseOle, "ftDBaseOle is not a supported field type."},
      {ttDbCDX, ftCurrency, "ftCurrency is not a supported field type."},
      {ttDbCDX, ftBCD, "ftBCD is not a supported field type."},
      {ttDbNTX, ftTime, "ftTime is not a supported field type."},
      {ttDbNTX, ftDateTime, "ftDateTime is not a supported field type."},
      {ttDbCDX, ftAutoInc, "ftAutoInc is not a supported field type."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TDbTable table;
    Attach(table);
    table.SetTableName("BAD");
    table.SetTableType(c.table_type);
    table.FieldDefs().Add("CODE", ftString, 4);
    table.FieldDefs().Add("X", c.type);
    EDbEngineError e = EngineErrorOf([&] { table.CreateTable(); });
    EXPECT_STREQ(e.what(), c.message);
    EXPECT_EQ(e.ErrorCode(), 5121u);
    EXPECT_FALSE(fs::exists(dir_.File("BAD.KDT")));
  }
}

TEST_F(DbAccessTest, CreateTableWithoutFieldsRaisesTheEnginesError) {
  TDbTable table;
  Attach(table);
  table.SetTableName("EMPTY");
  EDbEngineError e = EngineErrorOf([&] { table.CreateTable(); });
  EXPECT_EQ(e.ErrorCode(), 5058u) << e.what();
  EXPECT_FALSE(table.Active());
  EXPECT_FALSE(fs::exists(dir_.File("EMPTY.KDT")));
}

TEST_F(DbAccessTest, CompanyRegisterIsCreatedWithItsPrimaryIndex) {
  TDbTable table;
  Attach(table);
  table.SetTableName("mcompany.KDT");
  table.SetExclusive(true);
  table.FieldDefs().Add("COMPANY_CODE", ftString, 8);
  table.FieldDefs().Add("COMPANY_NAME", ftString, 40);
  table.FieldDefs().Add("TOTAL_STAFF", ftInteger);
  table.FieldDefs().Add("PAYROLL_ACCESS_NO", ftInteger);
  table.FieldDefs().Add("MERGE", ftString, 1);
  table.FieldDefs().Add("BACKUPDATE2", ftDate);
  table.FieldDefs().Add("BACKUPDATE", ftDate);
  table.CreateTable();
  table.Open();
  table.AddIndex("PRIMARY", "COMPANY_CODE", {ixUnique, ixExpression});
  ASSERT_NE(table.IndexDefs().Find("PRIMARY"), nullptr);  // read again after the change
  EXPECT_TRUE(table.IndexDefs().Find("PRIMARY")->Options.Contains(ixUnique));
  table.Close();
  EXPECT_TRUE(fs::exists(dir_.File("mcompany.KDT")));
  RawTable raw(dir_.path(), "mcompany.KDT");
  EXPECT_EQ(raw.IndexOptions("PRIMARY"), 3u);
  EXPECT_EQ(raw.IndexExpr("PRIMARY"), "COMPANY_CODE");
  EXPECT_EQ(raw.Count(), 0u);
}

TEST_F(DbAccessTest, AddIndexPassesTheOptionsAndKeepsTheSemicolons) {
  MakeTable(dir_.path(), "PAYGROUP", "PAYGROUP,Char,6;YEAR,ShortInt;MONTH,ShortInt;TYPE,Char,1;");
  struct Case {
    const char* name;
    const char* fields;
    TIndexOptions options;
    bool open;
    uint32_t engine_options;
  };
  const Case cases[] = {
      {"PAYGROUP", "PAYGROUP;YEAR;MONTH;TYPE", {ixExpression}, false, 2},
      {"UNIQ", "PAYGROUP;YEAR", {ixUnique, ixExpression}, true, 3},
      {"LATEST", "YEAR", {ixUnique, ixDescending, ixExpression}, false, 11},
      {"PLAIN", "MONTH", {}, true, 2},
  };
  TDbTable table;
  Attach(table);
  table.SetTableName("PAYGROUP");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.open) table.Open();
    table.AddIndex(c.name, c.fields, c.options);
    EXPECT_EQ(table.Active(), c.open);  // a closed table is opened for it and closed again
    table.Close();
  }
  RawTable raw(dir_.path(), "PAYGROUP");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(raw.IndexOptions(c.name), c.engine_options);
    EXPECT_EQ(raw.IndexExpr(c.name), c.fields);
  }
}

// --- existence and opening -------------------------------------------------------------

TEST_F(DbAccessTest, TableExistsAsksTheFileSystem) {
  Touch(dir_.File("EMPLOYEE.KDT"));
  Touch(dir_.File("mcompany.KDT"));
  Touch(dir_.File("EMP_PROS.KDT.BAK"));
  struct Case {
    const char* name;
    TDbTableTypes type;
    bool exists;
  };
  const Case cases[] = {
      {"EMPLOYEE", ttDbKDT, true},          {"employee", ttDbKDT, true},
      {"EMPLOYEE", ttDbCDX, false},         {"mcompany.KDT", ttDbKDT, true},
      {"mcompany.KDT", ttDbCDX, true},      {"EMP_PROS.KDT.BAK", ttDbKDT, true},
      {"EMP_PROS", ttDbKDT, false},         {"EMPLOYEE.dbf", ttDbKDT, false},
      {"", ttDbKDT, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDbTable table;
    Attach(table);
    table.SetTableName(c.name);
    table.SetTableType(c.type);
    EXPECT_EQ(table.TableExists(), c.exists);
  }
  EXPECT_FALSE(conn_.IsConnected());  // no engine call was needed
}

TEST_F(DbAccessTest, AnOpenTableExistsEvenWhenItsFileIsGone) {
  MakeTable(dir_.path(), "EMP", "EMP_NO,Char,6;");
  TDbTable table;
  Attach(table);
  table.SetTableName("EMP");
  table.Open();
  fs::remove(dir_.File("EMP.KDT"));
  EXPECT_TRUE(table.TableExists());
  table.Close();
  EXPECT_FALSE(table.TableExists());
}

TEST_F(DbAccessTest, OpenErrorsNameTheDatasetAndLeaveItClosed) {
  TDbTable unattached;
  unattached.SetTableName("EMP");
  EDbEngineError e = EngineErrorOf([&] { unattached.Open(); });
  EXPECT_STREQ(e.what(), "One of the DatabaseName property or the DbConnection property must have a value.");
  EXPECT_EQ(e.ErrorCode(), 5121u);

  TDbTable nameless;
  Attach(nameless);
  e = EngineErrorOf([&] { nameless.Open(); });
  EXPECT_STREQ(e.what(), "Missing TableName property");

  nameless.SetTableName("NOSUCH");
  e = EngineErrorOf([&] { nameless.Open(); });
  EXPECT_EQ(e.ErrorCode(), 5041u);
  EXPECT_EQ(std::string(e.what()).rfind("Error 5041:", 0), 0u) << e.what();  // a table made in code: no prefix
  EXPECT_FALSE(nameless.Active());

  TComponent window;
  window.SetName("Form1");
  TDbTable named(&window);
  named.SetName("DbTable1");
  Attach(named);
  named.SetTableName("NOSUCH");
  e = EngineErrorOf([&] { named.Open(); });
  EXPECT_EQ(std::string(e.what()).rfind("DbTable1: Error 5041:", 0), 0u) << e.what();
  EXPECT_EQ(e.DataSetName(), "DbTable1");
  EXPECT_EQ(e.OwnerName(), "Form1");
  EXPECT_EQ(e.DatabaseName(), "DbConnection1");
  EXPECT_EQ(e.DataFolder(), dir_.path());
  EXPECT_EQ(e.TableName(), "NOSUCH");
  EXPECT_EQ(e.NativeError(), 0);
  EXPECT_FALSE(named.Active());
}

TEST_F(DbAccessTest, SettingsThatAnOpenTableRefuses) {
  MakeTable(dir_.path(), "EMP", "EMP_NO,Char,6;");
  TDbTable table;
  Attach(table);
  table.SetTableName("EMP");
  table.Open();
  const std::vector<std::pair<const char*, std::function<void()>>> refused = {
      {"TableName", [&] { table.SetTableName("OTHER"); }},
      {"TableType", [&] { table.SetTableType(ttDbCDX); }},
      {"Exclusive", [&] { table.SetExclusive(true); }},
      {"ReadOnly", [&] { table.SetReadOnly(true); }},
      {"DbCharType", [&] { table.DbTableOptions().SetDbCharType(TDbCharTypes::OEM); }},
      {"DbRightsCheck", [&] { table.DbTableOptions().SetDbRightsCheck(false); }},
      {"DatabaseName", [&] { table.SetDatabaseName("DbConnection2"); }},
      {"CreateTable", [&] { table.CreateTable(); }},
      {"DeleteTable", [&] { table.DeleteTable(); }},
  };
  for (const auto& [what, change] : refused) {
    SCOPED_TRACE(what);
    EDbEngineError e = EngineErrorOf(change);
    EXPECT_STREQ(e.what(), "Cannot perform this operation on an open dataset");
    EXPECT_EQ(e.ErrorCode(), 5121u);
  }
  EXPECT_EQ(table.TableName(), "EMP");
  EXPECT_TRUE(table.Active());
  table.DbTableOptions().SetDbLockType(TDbLockType::Compatible);  // not fixed while open
  table.DbTableOptions().SetDbPreserveSpaces(true);
}

// --- the active index ------------------------------------------------------------------

class IndexedTableTest : public DbAccessTest {
 protected:
  void SetUp() override {
    DbAccessTest::SetUp();
    MakeTable(dir_.path(), "EMP", "EMP_NO,Char,6;NAME,Char,20;JOINED,Date;YEAR,ShortInt;",
              {{{"EMP_NO", "E3"}, {"NAME", "Lee"}, {"JOINED", "20120615"}, {"YEAR", "2012"}},
               {{"EMP_NO", "E1"}, {"NAME", "Tan"}, {"JOINED", "20040105"}, {"YEAR", "2004"}},
               {{"EMP_NO", "E4"}, {"NAME", "Ng"}, {"JOINED", "20120131"}, {"YEAR", "2012"}},
               {{"EMP_NO", "E2"}, {"NAME", "Lim"}, {"JOINED", "20070301"}, {"YEAR", "2007"}}},
              {{"EMPNO", "EMP_NO", 3}, {"BYNAME", "NAME;EMP_NO", 2}, {"JOINED", "JOINED", 2},
               {"EMPYEAR", "EMP_NO;YEAR", 2}});
    Attach(table_);
    table_.SetTableName("EMP");
  }
  std::string Current() { return table_.FieldByName("EMP_NO").AsString(); }

  TDbTable table_;
};

TEST_F(IndexedTableTest, IndexFieldNamesSelectsAndRestores) {
  table_.SetIndexName("EMPNO");
  table_.SetIndexFieldNames(" EMP_NO ");
  EXPECT_EQ(table_.IndexFieldNames(), "EMP_NO");  // trimmed
  EXPECT_EQ(table_.IndexName(), "");              // cleared
  table_.Open();
  EXPECT_EQ(Column(table_, "EMP_NO"), (std::vector<std::string>{"E1", "E2", "E3", "E4"}));

  table_.SetIndexFieldNames("name");  // the first index whose key starts with the fields
  EXPECT_EQ(Column(table_, "NAME"), (std::vector<std::string>{"Lee", "Lim", "Ng", "Tan"}));

  EDbEngineError e = EngineErrorOf([&] { table_.SetIndexFieldNames("NOPE;NAME"); });
  EXPECT_STREQ(e.what(), "Not a valid index field name:NOPE;NAME");
  EXPECT_EQ(e.ErrorCode(), 5121u);
  EXPECT_EQ(table_.IndexFieldNames(), "name");
  EXPECT_EQ(Column(table_, "NAME"), (std::vector<std::string>{"Lee", "Lim", "Ng", "Tan"}));

  table_.SetIndexName("JOINED");
  EXPECT_EQ(table_.IndexFieldNames(), "");
  EXPECT_EQ(Column(table_, "EMP_NO"), (std::vector<std::string>{"E1", "E2", "E4", "E3"}));
  table_.SetIndexName("");
  EXPECT_EQ(Column(table_, "EMP_NO"), (std::vector<std::string>{"E3", "E1", "E4", "E2"}));  // record order
}

TEST_F(IndexedTableTest, AClosedTableChecksIndexFieldNamesWhenItOpens) {
  table_.SetIndexFieldNames("YEAR");
  EDbEngineError e = EngineErrorOf([&] { table_.Open(); });
  EXPECT_STREQ(e.what(), "Not a valid index field name:YEAR");
  EXPECT_FALSE(table_.Active());
  RawTable exclusive(dir_.path(), "EMP", DBE_OPEN_EXCLUSIVE);  // no handle was left open
  EXPECT_NE(exclusive.handle(), 0u);
}

TEST_F(IndexedTableTest, FindKeyLeavesTheCursorWhereItWasWhenNotFound) {
  table_.SetIndexFieldNames("EMP_NO");
  table_.Open();
  struct Case {
    const char* what;
    std::function<void()> place;
    TVariant key;
    bool found;
    const char* row;
  };
  const Case cases[] = {
      {"found", [&] { table_.First(); }, std::string("E3"), true, "E3"},
      {"missing from a row", [&] { table_.First(), table_.Next(); }, std::string("E9"), false, "E2"},
      {"missing past the end", [&] { table_.Last(), table_.Next(); }, std::string("E0"), false, "E4"},
      {"missing before the start", [&] { table_.First(), table_.Prior(); }, std::string("E5"), false, "E1"},
      {"a prefix is not a key", [&] { table_.Last(); }, std::string("E"), false, "E4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.place();
    EXPECT_EQ(table_.FindKey({c.key}), c.found);
    EXPECT_FALSE(table_.Eof());
    EXPECT_EQ(Current(), c.row);
  }
  table_.FindNearest({std::string("E25")});
  EXPECT_EQ(Current(), "E3");
  table_.FindNearest({std::string("E9")});
  EXPECT_TRUE(table_.Eof());
}

TEST_F(IndexedTableTest, KeysOfDatesNumbersAndSeveralFields) {
  table_.SetIndexName("JOINED");
  table_.Open();
  EXPECT_TRUE(table_.FindKey({EncodeDate(2012, 1, 31)}));
  EXPECT_EQ(Current(), "E4");
  EXPECT_TRUE(table_.FindKey({std::string("2007-03-01")}));
  EXPECT_EQ(Current(), "E2");
  table_.SetIndexFieldNames("EMP_NO;YEAR");
  EXPECT_TRUE(table_.FindKey({std::string("E1"), std::int64_t{2004}}));
  EXPECT_EQ(Current(), "E1");
  EXPECT_FALSE(table_.FindKey({std::string("E1"), std::int64_t{2005}}));
  table_.SetIndexFieldNames("");
  EDbEngineError e = EngineErrorOf([&] { table_.FindKey({std::string("E1")}); });
  EXPECT_STREQ(e.what(), "No index currently active");
}

TEST_F(IndexedTableTest, RangesLocateAndFilters) {
  table_.SetIndexFieldNames("EMP_NO");
  table_.Open();
  table_.SetRange({std::string("E2")}, {std::string("E3")});
  EXPECT_EQ(Column(table_, "EMP_NO"), (std::vector<std::string>{"E2", "E3"}));
  table_.Close();

  table_.Open();
  table_.Last();
  EXPECT_TRUE(table_.Locate("NAME", {std::string("lim")}, {loCaseInsensitive}));
  EXPECT_EQ(Current(), "E2");
  EXPECT_TRUE(table_.Locate("YEAR;name", {std::int64_t{2012}, std::string("Ng")}));
  EXPECT_EQ(Current(), "E4");
  EXPECT_TRUE(table_.Locate("NAME", {std::string("L")}, {loPartialKey}));
  EXPECT_EQ(Current(), "E2");  // the first in index order
  EXPECT_FALSE(table_.Locate("NAME", {std::string("Lim ")}));
  EXPECT_EQ(Current(), "E2");
  EXPECT_FALSE(table_.Locate("JOINED", {EncodeDate(2012, 1, 30)}));
  EXPECT_TRUE(table_.Locate("JOINED", {EncodeDate(2012, 6, 15)}));
  EXPECT_EQ(Current(), "E3");

  for (bool optimized : {true, false}) {
    SCOPED_TRACE(optimized);
    table_.Close();
    table_.DbTableOptions().SetDbOptimizedFilters(optimized);
    table_.SetFilter("year = 2012 or name = 'Tan'");
    table_.SetFiltered(true);
    table_.Open();
    EXPECT_EQ(Column(table_, "EMP_NO"), (std::vector<std::string>{"E1", "E3", "E4"}));
    EXPECT_EQ(table_.RecordCount(), 3);
    table_.SetFilter("NAME = 'Lim'");
    EXPECT_EQ(Column(table_, "EMP_NO"), (std::vector<std::string>{"E2"}));
    table_.SetFiltered(false);
    EXPECT_EQ(table_.RecordCount(), 4);
  }
  table_.Close();
  table_.SetFilter("NOPE = 1");
  table_.SetFiltered(true);
  EDbEngineError e = EngineErrorOf([&] { table_.Open(); });
  EXPECT_EQ(e.ErrorCode(), 5061u) << e.what();
  EXPECT_FALSE(table_.Active());
}

// --- reading ---------------------------------------------------------------------------

class ValuesTest : public DbAccessTest {
 protected:
  static constexpr const char* kFields =
      "S,Char,6;CI,CIChar,4;L,Logical;N2,Numeric,6,2;N4,Numeric,4,0;D,Date;SD,ShortDate;M,Memo;VC,VarChar;"
      "BI,Binary;IM,Image;DB,Double;I,Integer;SI,ShortInt;T,Time;TS,TimeStamp;A,AutoInc;R,Raw,3;CD,CurDouble;"
      "MO,Money;RV,RowVersion;MT,ModTime;";
  void SetUp() override {
    DbAccessTest::SetUp();
    MakeTable(dir_.path(), "VALS", kFields,
              {{{"S", " ab   "}, {"CI", "Xy"}, {"L", "T"}, {"N2", "12.5"}, {"N4", "42"}, {"D", "20120131"},
                {"SD", "20000101"}, {"M", "memo  "}, {"VC", "vc"}, {"BI", std::string("b\0n", 3)}, {"IM", "img"},
                {"DB", "2.25"}, {"I", "-7"}, {"SI", "-300"}, {"T", "06:30:00"}, {"TS", "2012-01-31 06:00:00"},
                {"R", "ab"}, {"CD", "1.5"}, {"MO", "3000.5"}},
               {},
               {{"D", "18991229"}, {"TS", "1899-12-29 06:00:00"}}});
    Attach(table_);
    table_.SetTableName("VALS");
  }
  TField& F(const char* name) { return table_.FieldByName(name); }

  TDbTable table_;
};

TEST_F(ValuesTest, EngineTypesMapToFieldTypes) {
  struct Case {
    const char* field;
    TFieldType type;
    int size;
  };
  const Case cases[] = {
      {"S", ftString, 6},     {"CI", ftString, 4},   {"L", ftBoolean, 0},   {"N2", ftFloat, 0},
      {"N4", ftSmallint, 0},  {"D", ftDate, 0},      {"SD", ftDate, 0},     {"M", ftMemo, 1},
      {"VC", ftMemo, 1},      {"BI", ftBlob, 1},     {"IM", ftBlob, 1},     {"DB", ftFloat, 0},
      {"I", ftInteger, 0},    {"SI", ftSmallint, 0}, {"T", ftTime, 0},      {"TS", ftDateTime, 0},
      {"A", ftAutoInc, 0},    {"R", ftBytes, 3},     {"CD", ftCurrency, 0}, {"MO", ftBCD, 4},
      {"RV", ftBCD, 0},       {"MT", ftDateTime, 0},
  };
  table_.Open();
  ASSERT_EQ(table_.FieldCount(), static_cast<int>(std::size(cases)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(F(c.field).DataType(), c.type);
    EXPECT_EQ(F(c.field).Size(), c.size);
  }
  EXPECT_EQ(F("CI").DataSize(), 5);
  EXPECT_EQ(table_.FieldDefs().Find("MO")->Precision, 20);
  EXPECT_EQ(table_.FindField("NOPE"), nullptr);
  EDbEngineError e = EngineErrorOf([&] { F("NOPE"); });
  EXPECT_STREQ(e.what(), "Field 'NOPE' not found");
}

TEST_F(ValuesTest, ReadingRules) {
  table_.Open();
  EXPECT_EQ(F("S").AsString(), " ab");  // trailing blanks go, leading ones stay
  EXPECT_EQ(F("CI").AsString(), "Xy");
  EXPECT_TRUE(F("L").AsBoolean());
  EXPECT_EQ(F("L").AsString(), "True");
  EXPECT_DOUBLE_EQ(F("N2").AsFloat(), 12.5);
  EXPECT_EQ(F("N4").AsInteger(), 42);
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(F("N4").AsVariant()));
  EXPECT_DOUBLE_EQ(F("D").AsDateTime(), EncodeDate(2012, 1, 31));
  EXPECT_EQ(F("D").AsString(), "2012-01-31");
  EXPECT_DOUBLE_EQ(F("SD").AsDateTime(), EncodeDate(2000, 1, 1));
  EXPECT_EQ(F("M").AsString(), "memo  ");
  EXPECT_EQ(F("VC").AsString(), "vc");
  EXPECT_EQ(F("BI").AsString(), std::string("b\0n", 3));
  EXPECT_EQ(F("IM").AsString(), "img");
  EXPECT_DOUBLE_EQ(F("DB").AsFloat(), 2.25);
  EXPECT_EQ(F("I").AsInteger(), -7);
  EXPECT_EQ(F("SI").AsInteger(), -300);
  EXPECT_DOUBLE_EQ(F("T").AsDateTime(), 6.5 / 24);
  EXPECT_EQ(F("T").AsString(), "06:30:00");
  EXPECT_DOUBLE_EQ(F("TS").AsDateTime(), EncodeDate(2012, 1, 31) + 0.25);
  EXPECT_EQ(F("A").AsInteger(), 1);
  EXPECT_EQ(F("R").AsString(), std::string("ab\0", 3));
  EXPECT_DOUBLE_EQ(F("CD").AsCurrency(), 1.5);
  EXPECT_DOUBLE_EQ(F("MO").AsCurrency(), 3000.5);
  EXPECT_EQ(F("MO").AsString(), "3000.5");

  table_.Next();  // a row of empty values: every field reads as null
  for (const char* name : {"S", "CI", "L", "N2", "N4", "D", "M", "BI", "DB", "I", "T", "TS", "R", "MO"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(F(name).IsNull());
    EXPECT_EQ(F(name).AsString(), "");
    EXPECT_EQ(F(name).AsInteger(), 0);
  }
  EXPECT_FALSE(F("A").IsNull());

  table_.Next();  // before day 0 the time of day stays a positive fraction
  EXPECT_DOUBLE_EQ(F("D").AsDateTime(), -1);
  EXPECT_DOUBLE_EQ(F("TS").AsDateTime(), -1.25);
  EXPECT_EQ(F("TS").AsString(), "1899-12-29 06:00:00");
}

TEST_F(ValuesTest, LogicalLettersAndNumericTextAsStored) {
  struct Case {
    char stored;
    bool value;
  };
  const Case cases[] = {{'T', true}, {'t', true}, {'Y', true}, {'y', true}, {'1', true},
                        {'F', false}, {'N', false}, {'0', false}, {'x', false}};
  {
    RawTable raw(dir_.path(), "VALS");
    for (const Case& c : cases) {
      ENGINE_OK(DbAppendRecord(raw.handle()));
      uint8_t b = static_cast<uint8_t>(c.stored);
      ENGINE_OK(DbSetFieldRaw(raw.handle(), "L", &b, 1));
      ENGINE_OK(DbSetFieldRaw(raw.handle(), "N2", reinterpret_cast<const uint8_t*>(" ab.c "), 6));
      ENGINE_OK(DbWriteRecord(raw.handle()));
    }
  }
  table_.Open();
  table_.Last();
  for (auto c = std::rbegin(cases); c != std::rend(cases); ++c) {
    SCOPED_TRACE(c->stored);
    EXPECT_EQ(F("L").AsBoolean(), c->value);
    EXPECT_FALSE(F("N2").IsNull());
    EXPECT_DOUBLE_EQ(F("N2").AsFloat(), 0);  // a text that does not convert
    table_.Prior();
  }
}

// --- writing -----------------------------------------------------------------------------

TEST_F(ValuesTest, AppendWritesEachTypeInItsEngineForm) {
  table_.Open();
  table_.Append();
  EXPECT_EQ(table_.State(), dsInsert);
  EXPECT_TRUE(F("S").IsNull());
  struct Case {
    const char* field;
    std::function<void(TField&)> set;
    const char* engine_text;
  };
  const Case cases[] = {
      {"S", [](TField& f) { f.SetAsString(" x  "); }, " x"},
      {"CI", [](TField& f) { f.SetAsInteger(12); }, "12"},
      {"L", [](TField& f) { f.SetAsBoolean(true); }, "T"},
      {"N2", [](TField& f) { f.SetAsFloat(3.14159); }, "3.14"},
      {"N4", [](TField& f) { f.SetAsString("7"); }, "7"},
      {"D", [](TField& f) { f.SetAsDateTime(EncodeDate(2012, 2, 29)); }, "20120229"},
      {"SD", [](TField& f) { f.SetAsString("2001-12-31"); }, "20011231"},
      {"M", [](TField& f) { f.SetAsString("line1\r\nline2"); }, "line1\r\nline2"},
      {"DB", [](TField& f) { f.SetAsFloat(0.1); }, "0.1"},
      {"I", [](TField& f) { f.SetAsString("15"); }, "15"},
      {"SI", [](TField& f) { f.SetAsInteger(-2); }, "-2"},
      {"T", [](TField& f) { f.SetAsDateTime(0.5); }, "12:00:00"},
      {"TS", [](TField& f) { f.SetAsDateTime(EncodeDate(2012, 1, 31) + 0.25); }, "2012-01-31 06:00:00"},
      {"R", [](TField& f) { f.SetAsString("xyz"); }, "xyz"},
      {"CD", [](TField& f) { f.SetAsCurrency(2.5); }, "2.5"},
      {"MO", [](TField& f) { f.SetAsCurrency(1234.56789); }, "1234.5679"},
  };
  for (const Case& c : cases) c.set(F(c.field));
  EXPECT_EQ(F("N4").AsInteger(), 7);  // read back before the row is posted
  table_.Post();
  EXPECT_EQ(table_.State(), dsBrowse);
  EXPECT_EQ(F("A").AsInteger(), 4);  // the cursor is on the new row
  RawTable raw(dir_.path(), "VALS");
  raw.Goto(4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(raw.Get(c.field), c.engine_text);
  }
  EXPECT_TRUE(raw.IsEmpty("BI"));
}

TEST_F(ValuesTest, EditWritesOnlyTheChangedFields) {
  {
    RawTable raw(dir_.path(), "VALS");
    raw.Goto(1);
    ENGINE_OK(DbSetFieldRaw(raw.handle(), "N2", reinterpret_cast<const uint8_t*>(" ab.c "), 6));
    ENGINE_OK(DbWriteRecord(raw.handle()));
  }
  table_.Open();
  table_.Edit();
  F("S").SetAsString("   ");  // blanks are written empty
  F("I").Clear();
  F("BI").SetAsString(std::string("\0\1\2", 3));
  F("DB").SetAsVariant(TVariant{std::string("-4.5")});
  table_.Post();
  RawTable raw(dir_.path(), "VALS");
  raw.Goto(1);
  EXPECT_TRUE(raw.IsEmpty("S"));
  EXPECT_TRUE(raw.IsEmpty("I"));
  EXPECT_EQ(raw.Get("BI"), std::string("\0\1\2", 3));
  EXPECT_EQ(raw.Get("DB"), "-4.5");
  EXPECT_EQ(raw.Bytes("N2", 6), " ab.c ");  // untouched, though the layer reads it as 0
  EXPECT_EQ(raw.Get("M"), "memo  ");
  EXPECT_EQ(raw.Get("TS"), "2012-01-31 06:00:00");
}

TEST_F(ValuesTest, ValuesThatDoNotConvert) {
  table_.Open();
  table_.Edit();
  const std::vector<std::pair<std::function<void()>, const char*>> cases = {
      {[&] { F("I").SetAsString("12a"); }, "'12a' is not a valid integer value"},
      {[&] { F("DB").SetAsString("x"); }, "'x' is not a valid floating point value"},
      {[&] { F("D").SetAsString("2012-02-30"); }, "'2012-02-30' is not a valid date and time"},
  };
  for (const auto& [set, message] : cases) {
    SCOPED_TRACE(message);
    EDbEngineError e = EngineErrorOf(set);
    EXPECT_STREQ(e.what(), message);
  }
  F("N2").SetAsFloat(12345.6);  // too wide for Numeric,6,2: the engine names the column
  EDbEngineError e = EngineErrorOf([&] { table_.Post(); });
  EXPECT_EQ(e.ErrorCode(), 5148u) << e.what();
  EXPECT_EQ(e.ColumnName(), "N2");
  EXPECT_EQ(table_.State(), dsEdit);
  table_.Cancel();
  EXPECT_DOUBLE_EQ(F("N2").AsFloat(), 12.5);
  e = EngineErrorOf([&] { F("I").SetAsInteger(1); });
  EXPECT_STREQ(e.what(), "Dataset not in edit or insert mode");
}

TEST_F(DbAccessTest, AFailedPostKeepsTheRowBeingEdited) {
  MakeTable(dir_.path(), "CODES", "CODE,Char,4;DESC,Char,10;", {{{"CODE", "A"}}}, {{"CODE", "CODE", 3}});
  TDbTable table;
  table.SetName("TableRtable");
  Attach(table);
  table.SetTableName("CODES");
  std::vector<std::string> reported;
  table.SetOnPostError([&](TDbDataSet& ds, const DbError& e) { reported.push_back(ds.Name() + "|" + e.what()); });
  table.Open();
  table.Append();
  table.FieldByName("CODE").SetAsString("A");
  table.FieldByName("DESC").SetAsString("second");
  EDbEngineError e = EngineErrorOf([&] { table.Post(); });
  EXPECT_EQ(e.ErrorCode(), 5057u);
  EXPECT_EQ(std::string(e.what()).rfind("TableRtable: Error 5057:", 0), 0u) << e.what();
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], std::string("TableRtable|") + e.what());
  EXPECT_EQ(table.State(), dsInsert);
  EXPECT_EQ(table.FieldByName("DESC").AsString(), "second");
  table.FieldByName("CODE").SetAsString("B");
  table.Post();
  EXPECT_EQ(Column(table, "CODE"), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(Column(table, "DESC"), (std::vector<std::string>{"", "second"}));
}

TEST_F(DbAccessTest, EditLocksTheRowOfASharedTable) {
  MakeTable(dir_.path(), "CODES", "CODE,Char,4;", {{{"CODE", "A"}}, {{"CODE", "B"}}});
  TDbConnection other;
  other.SetConnectPath(dir_.path());
  TDbTable first, second;
  Attach(first);
  second.SetDbConnection(&other);
  for (TDbTable* t : {&first, &second}) {
    t->SetTableName("CODES");
    t->Open();
  }
  first.Edit();
  EDbEngineError e = EngineErrorOf([&] { second.Edit(); });
  EXPECT_EQ(e.ErrorCode(), 5035u) << e.what();
  EXPECT_EQ(second.State(), dsBrowse);
  second.Next();
  second.Edit();  // another row is free
  second.Cancel();
  first.FieldByName("CODE").SetAsString("A1");
  first.Post();  // unlocks
  second.First();
  second.Edit();
  second.FieldByName("CODE").SetAsString("A2");
  second.Next();  // navigation posts the pending change
  EXPECT_EQ(second.State(), dsBrowse);
  second.First();
  EXPECT_EQ(second.FieldByName("CODE").AsString(), "A2");
}

TEST_F(IndexedTableTest, DeleteMovesToTheNextRow) {
  table_.SetIndexFieldNames("EMP_NO");
  table_.Open();
  table_.FindKey({std::string("E2")});
  table_.Delete();
  EXPECT_EQ(Current(), "E3");
  table_.Last();
  table_.Delete();
  EXPECT_TRUE(table_.Eof());
  table_.Append();
  table_.Delete();  // a new row is only dropped
  EXPECT_EQ(Column(table_, "EMP_NO"), (std::vector<std::string>{"E1", "E3"}));
  RawTable raw(dir_.path(), "EMP");
  EXPECT_EQ(raw.Count(), 2u);
}

// --- whole tables -------------------------------------------------------------------------

TEST_F(IndexedTableTest, EmptyAndPack) {
  table_.SetExclusive(true);
  table_.Open();
  table_.Delete();
  table_.PackTable();
  EXPECT_EQ(Current(), "E1");  // the first row again
  table_.PackTable();          // nothing left to remove is not an error
  EXPECT_EQ(table_.RecordCount(), 3);
  table_.EmptyTable();
  EXPECT_TRUE(table_.Eof());
  EXPECT_EQ(table_.RecordCount(), 0);
  table_.Close();

  MakeTable(dir_.path(), "CODES", "CODE,Char,4;", {{{"CODE", "A"}}});
  TDbTable closed;
  Attach(closed);
  closed.SetTableName("CODES");
  closed.EmptyTable();  // through a handle of its own
  EXPECT_FALSE(closed.Active());
  RawTable raw(dir_.path(), "CODES");
  EXPECT_EQ(raw.Count(), 0u);
}

TEST_F(IndexedTableTest, EncryptionNeedsThePassword) {
  table_.SetExclusive(true);
  table_.Open();
  EDbEngineError e = EngineErrorOf([&] { table_.EncryptTable(); });
  EXPECT_EQ(e.ErrorCode(), 5050u) << e.what();
  table_.EnableEncryption("pw");
  table_.EncryptTable();
  EXPECT_TRUE(table_.IsTableEncrypted());
  table_.EncryptTable();  // already encrypted is not an error
  table_.Close();

  table_.Open();
  e = EngineErrorOf([&] { Current(); });
  EXPECT_EQ(e.ErrorCode(), 5050u) << e.what();
  table_.EnableEncryption("pw");
  EXPECT_EQ(Current(), "E3");
  table_.DecryptTable();
  EXPECT_FALSE(table_.IsTableEncrypted());
  table_.DecryptTable();
  table_.Close();
  e = EngineErrorOf([&] { table_.PackTable(); });
  EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
}

TEST_F(IndexedTableTest, DeleteTableRemovesTheFiles) {
  ASSERT_TRUE(fs::exists(dir_.File("EMP.KDI")));
  table_.DeleteTable();
  EXPECT_FALSE(table_.TableExists());
  EXPECT_FALSE(fs::exists(dir_.File("EMP.KDI")));
  EDbEngineError e = EngineErrorOf([&] { table_.DeleteTable(); });
  EXPECT_EQ(e.ErrorCode(), 5041u) << e.what();
}

TEST_F(DbAccessTest, VersionNamesTheComponentAndTheEngine) {
  TDbTable table;
  EXPECT_EQ(table.Version(), "8.10 (DBE 1.00)");
}

}  // namespace
}  // namespace kx8test
