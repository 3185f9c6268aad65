// Dumps, structures and statements, and the data tables they are built
// from.
#include "tools/inspect.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_errors.h"
#include "dbaccess/db_table.h"
#include "tools/demo_seeds.h"
#include "tools/demo_tables.h"
#include "tools_fixture.h"

namespace kx8test {
namespace {

using namespace kx8::dbaccess;
using namespace kx8::tools;

// A table with one field of each kind the demo data uses, and two rows:
// one full, one empty.
class SampleTable : public ::testing::Test {
 protected:
  void SetUp() override {
    c_.SetConnectPath(dir_.path());
    c_.SetDbServerTypes({stDB_LOCAL});
    c_.SetIsConnected(true);
    TDbTable t;
    t.SetDbConnection(&c_);
    t.SetTableName("SAMPLE.KDT");
    for (const FieldSpec& f : ParseFieldList("NAME,Char,16;N,Integer;OK,Logical;BORN,Date;AT,Time;STAMP,TimeStamp;"
                                             "PAY,CurDouble;VERSION,Money;RATE,Double;PIC,Binary;NOTE,Memo;"
                                             "ID,AutoInc;SMALL,ShortInt;CODE,Raw,2")) {
      t.FieldDefs().Add(f.name, f.type, f.size);
    }
    t.IndexDefs().Add("PRIMARY", "NAME;N", {ixUnique});
    t.IndexDefs().Add("BYDATE", "BORN", {ixDescending});
    t.CreateTable();
    t.SetExclusive(true);
    t.Open();
    t.Append();
    t.FieldByName("NAME").SetAsString("TAN, \"AH\" KOW");
    t.FieldByName("N").SetAsInteger(-42);
    t.FieldByName("OK").SetAsBoolean(true);
    t.FieldByName("BORN").SetAsString("1987-03-09");
    t.FieldByName("AT").SetAsString("13:05:09");
    t.FieldByName("STAMP").SetAsString("2012-12-31 23:59:58");
    t.FieldByName("PAY").SetAsFloat(1234.5);
    t.FieldByName("VERSION").SetAsString("8.9");
    t.FieldByName("RATE").SetAsFloat(0.1);
    t.FieldByName("PIC").SetAsString(std::string("\x00\xFFz", 3));
    t.FieldByName("NOTE").SetAsString("line 1\r\nline 2");
    t.FieldByName("SMALL").SetAsInteger(7);
    t.Post();
    t.Append();
    t.FieldByName("NAME").SetAsString("EMPTY");
    t.Post();
    t.Close();
  }

  TempDir dir_;
  TDbConnection c_;
};

TEST_F(SampleTable, DumpWritesRfc4180WithTheValueForms) {
  EXPECT_EQ(Dump(dir_.Win("SAMPLE")),
            "NAME,N,OK,BORN,AT,STAMP,PAY,VERSION,RATE,PIC,NOTE,ID,SMALL,CODE\r\n"
            "\"TAN, \"\"AH\"\" KOW\",-42,T,1987-03-09,13:05:09,2012-12-31 23:59:58,1234.5,8.9,0.1,00ff7a,"
            "\"line 1\r\nline 2\",1,7,\r\n"
            "EMPTY,,,,,,,,,,,2,,\r\n");
  // The extension and the letter case of the name do not matter.
  EXPECT_EQ(Dump(dir_.Win("sample.kdt")), Dump(dir_.Win("SAMPLE")));
}

TEST_F(SampleTable, SchemaGivesEngineTypesLengthsAndIndexes) {
  std::ostringstream out;
  DescribeTable(dir_.Win("SAMPLE.KDT"), out);
  EXPECT_EQ(out.str(),
            "FIELD\tNAME\t4\t16\t0\n"
            "FIELD\tN\t11\t0\t0\n"
            "FIELD\tOK\t1\t0\t0\n"
            "FIELD\tBORN\t3\t0\t0\n"
            "FIELD\tAT\t13\t0\t0\n"
            "FIELD\tSTAMP\t14\t0\t0\n"
            "FIELD\tPAY\t17\t0\t0\n"
            "FIELD\tVERSION\t18\t0\t4\n"
            "FIELD\tRATE\t10\t0\t0\n"
            "FIELD\tPIC\t6\t0\t0\n"
            "FIELD\tNOTE\t5\t0\t0\n"
            "FIELD\tID\t15\t0\t0\n"
            "FIELD\tSMALL\t12\t0\t0\n"
            "FIELD\tCODE\t16\t2\t0\n"
            "INDEX\tPRIMARY\tNAME;N\tUNIQUE\n"
            "INDEX\tBYDATE\tBORN\tDESCENDING\n");
}

TEST_F(SampleTable, StatementsGiveRowsOrTheRowsTheyChanged) {
  const std::string folder = dir_.path();
  EXPECT_EQ(Sql(folder, "SELECT NAME, N FROM SAMPLE WHERE N < 0"), "NAME,N\r\n\"TAN, \"\"AH\"\" KOW\",-42\r\n");
  EXPECT_EQ(Sql(folder, "INSERT INTO SAMPLE (NAME, N) VALUES ('NEW', 1)"), "1 rows affected\r\n");
  EXPECT_EQ(Sql(folder, "UPDATE SAMPLE SET N = 5 WHERE NAME <> 'WHERE' AND N IS NOT NULL"), "2 rows affected\r\n");
  EXPECT_EQ(Sql(folder, "UPDATE SAMPLE SET RATE = 2"), "3 rows affected\r\n");
  EXPECT_EQ(Sql(folder, "DELETE FROM SAMPLE WHERE NAME = 'NEW'"), "1 rows affected\r\n");
  EXPECT_EQ(Sql(folder, "CREATE INDEX BYN ON SAMPLE (N)"), "0 rows affected\r\n");
  EXPECT_EQ(Scalar(Sql(folder, "SELECT COUNT(*) AS C FROM SAMPLE WHERE N = 5")), "1");

  try {
    Sql(folder, "SELECT * FROM NOSUCHTABLE");
    ADD_FAILURE() << "no error for a missing table";
  } catch (const EDbEngineError& e) {
    EXPECT_NE(std::string(e.what()).find("NOSUCHTABLE"), std::string::npos) << e.what();
  }
}

TEST(Statements, EncryptedFreeTablesNeedThePasswordAndDictionariesALogOn) {
  const std::string acme = CompanyFolder(SmallDemoRoot(), "ACME");
  const std::string pw = kx8::support::AdministratorPassword();
  EXPECT_THROW(Sql(acme, "SELECT COUNT(*) AS N FROM EMPLOYEE"), DbError);
  EXPECT_EQ(Scalar(Sql(acme, "SELECT COUNT(*) AS N FROM EMPLOYEE", "", pw)), "4");
  const std::string kdd = CompanyFolder(SmallDemoRoot(), "ORCHID") + "\\ORCHID.kdd";
  EXPECT_EQ(Scalar(Sql(kdd, "SELECT COUNT(*) AS N FROM EMPLOYEE")), "4");
  EXPECT_THROW(Sql(kdd, "SELECT COUNT(*) AS N FROM EMPLOYEE", "KELPAVON8", "WRONG"), DbError);
}

TEST(Schema, DescribesTheRegisterAndADictionary) {
  std::ostringstream reg;
  DescribeTable(SmallDemoRoot() + "mcompany.KDT", reg);
  EXPECT_EQ(reg.str(),
            "FIELD\tCOMPANY_CODE\t4\t8\t0\n"
            "FIELD\tCOMPANY_NAME\t4\t40\t0\n"
            "FIELD\tTOTAL_STAFF\t11\t0\t0\n"
            "FIELD\tPAYROLL_ACCESS_NO\t11\t0\t0\n"
            "FIELD\tMERGE\t4\t1\t0\n"
            "FIELD\tBACKUPDATE2\t3\t0\t0\n"
            "FIELD\tBACKUPDATE\t3\t0\t0\n"
            "INDEX\tPRIMARY\tCOMPANY_CODE\tUNIQUE\n");

  std::ostringstream dict;
  DescribeDictionary(CompanyFolder(SmallDemoRoot(), "ORCHID") + "\\ORCHID.kdd", "", "", dict);
  std::set<std::string> lines;
  std::istringstream in(dict.str());
  for (std::string line; std::getline(in, line);) lines.insert(line);
  for (const char* expected : {"TABLE\tEMPLOYEE\tEMPLOYEE.KDT\t1\t1", "TABLE\tCODE\tCODE.KDT\t1\t0",
                               "TABLE\tPAYPARA.KDT\tPAYPARA.KDT\t1\t0", "TABLE\tEMPMISC.KDT\tEMPMISC.KDT\t1\t1",
                               "USER\treaduser", "USER\tKELPAVON8", "USER\tUSER88"}) {
    EXPECT_EQ(lines.count(expected), 1u) << expected;
  }
}

TEST(Csv, QuotesOnlyWhatItMust) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"a\nb", "\"a\nb\""},
      {"a\rb", "\"a\rb\""},
      {"  blanks ", "  blanks "},
  };
  for (const auto& [text, quoted] : cases) EXPECT_EQ(CsvQuote(text), quoted) << text;
}

TEST(TableLists, ParseSeriesTypesAndIndexOptions) {
  std::vector<FieldSpec> f = ParseFieldList("A,Char,3;COL{2-4},Integer;M,Money;");
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0].name, "A");
  EXPECT_EQ(f[0].size, 3);
  EXPECT_EQ(f[1].name, "COL2");
  EXPECT_EQ(f[3].name, "COL4");
  EXPECT_EQ(f[3].type, ftInteger);
  EXPECT_EQ(f[4].type, ftBCD);
  for (const char* bad : {"A,Chr,3", "A,Char", "A,Integer,4", "A{1-},Integer", "A{x-2},Integer", "A"}) {
    EXPECT_THROW(ParseFieldList(bad), std::invalid_argument) << bad;
  }
  std::vector<IndexSpec> ix = ParseIndexList("PRIMARY:A;B:U|DESC:C:UD|PLAIN:D");
  ASSERT_EQ(ix.size(), 3u);
  EXPECT_EQ(ix[0].fields, "A;B");
  EXPECT_TRUE(ix[0].options.Contains(ixUnique));
  EXPECT_TRUE(ix[1].options.Contains(ixDescending));
  EXPECT_TRUE(ix[2].options.Empty());
  for (const char* bad : {"NOFIELDS", "X:A:Q", ":A"}) EXPECT_THROW(ParseIndexList(bad), std::invalid_argument) << bad;
}

// The data tables hang together: every list parses, names are unique,
// index keys and seed columns name fields of their table.
TEST(TableLists, DemoDataIsConsistent) {
  std::set<std::string> tables;
  for (const TableDefinition& def : DemoTables()) {
    SCOPED_TRACE(def.name);
    EXPECT_TRUE(tables.insert(def.name).second) << "table listed twice";
    std::vector<FieldSpec> fields = ParseFieldList(def.fields);
    std::set<std::string> names;
    for (const FieldSpec& f : fields) EXPECT_TRUE(names.insert(f.name).second) << f.name << " listed twice";
    for (const IndexSpec& ix : ParseIndexList(def.indexes)) {
      std::istringstream keys(ix.fields);
      for (std::string key; std::getline(keys, key, ';');) EXPECT_EQ(names.count(key), 1u) << ix.name << " " << key;
    }
  }
  for (const SeedBlock& seed : DemoSeeds()) {
    SCOPED_TRACE(seed.table);
    const TableDefinition* def = FindDemoTable(seed.table);
    ASSERT_NE(def, nullptr);
    std::set<std::string> names;
    for (const FieldSpec& f : ParseFieldList(def->fields)) names.insert(f.name);
    std::vector<std::string> columns = SplitValues(seed.columns);
    for (const std::string& c : columns) EXPECT_EQ(names.count(c), 1u) << c;
    std::istringstream rows(seed.rows);
    for (std::string row; std::getline(rows, row);) EXPECT_EQ(SplitValues(row).size(), columns.size()) << row;
  }
}

// A dictionary of two tables, one registered under another name than its
// file, with properties that tell the two columns apart, and users whose
// rights were granted out of the users' order.
class SmallDictionary : public ::testing::Test {
 protected:
  void SetUp() override {
    TDbConnection c;
    c.SetConnectPath(dir_.path());
    c.SetDbServerTypes({stDB_LOCAL});
    c.SetIsConnected(true);
    for (const char* name : {"X.KDT", "CODE.KDT"}) {
      TDbTable t;
      t.SetDbConnection(&c);
      t.SetTableName(name);
      t.FieldDefs().Add("CODE", ftString, 8);
      t.CreateTable();
    }
    c.SetIsConnected(false);
    CreateDataDictionary(kdd_, kx8::support::AdministratorPassword(), "small");
    TDbDictionary d;
    d.SetConnectPath(kdd_);
    d.SetUserName(kx8::support::AdministratorUser());
    d.SetPassword(kx8::support::AdministratorPassword());
    d.SetLoginPrompt(false);
    d.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
    d.SetIsConnected(true);
    d.AddTable("PAYROLL", "X.KDT", "", "", ttDbKDT, TDbCharTypes::ANSI);
    d.AddTable("CODE", "CODE.KDT", "", "", ttDbKDT, TDbCharTypes::ANSI);
    const std::uint16_t on = 1;
    d.SetTableProperty("PAYROLL", 214, &on, 2, 0, "");
    d.SetTableProperty("CODE", 203, &on, 2, 0, "");
    d.CreateUser("", "clerk", "c-pw", "");
    d.CreateUser("", "auditor", "a-pw", "");
    d.CreateUser("", "nobody", "n-pw", "");
    d.SetObjectAccessRights("CODE", "auditor", "R");
    d.SetObjectAccessRights("CODE", "clerk", "RWI");
    d.SetObjectAccessRights("PAYROLL", "clerk", "RI");
    d.SetIsConnected(false);
  }

  std::string Describe(const std::string& user = "", const std::string& password = "") {
    std::ostringstream out;
    DescribeDictionary(kdd_, user, password, out);
    return out.str();
  }

  TempDir dir_;
  std::string kdd_ = dir_.Win("SMALL.kdd");
};

TEST_F(SmallDictionary, SchemaGivesFilesPropertiesUsersAndRightsInDictionaryOrder) {
  const std::string expected =
      "TABLE\tPAYROLL\tX.KDT\t0\t1\n"
      "TABLE\tCODE\tCODE.KDT\t1\t0\n"
      "USER\tDBSYS\n"
      "USER\tclerk\n"
      "USER\tauditor\n"
      "USER\tnobody\n"
      "RIGHT\tPAYROLL\tclerk\tRI\n"
      "RIGHT\tCODE\tclerk\tRWI\n"
      "RIGHT\tCODE\tauditor\tR\n";
  EXPECT_EQ(Describe(), expected);
  // Any user of the dictionary reads the same.
  EXPECT_EQ(Describe("nobody", "n-pw"), expected);
}

// A dictionary table's structure: found by its dictionary name or its file,
// read by a user with rights on it, also when the dictionary encrypts it.
TEST_F(SmallDictionary, TableSchemaThroughTheDictionary) {
  const std::string fields = "FIELD\tCODE\t4\t8\t0\n";
  for (const char* table : {"PAYROLL", "payroll", "X.KDT", "CODE"}) {
    SCOPED_TRACE(table);
    std::ostringstream out;
    DescribeDictionaryTable(kdd_, table, "clerk", "c-pw", out);
    EXPECT_EQ(out.str(), fields);
  }
  std::ostringstream out;
  DescribeDictionaryTable(kdd_, "PAYROLL", "", "", out);  // the administrator
  EXPECT_EQ(out.str(), fields);
  out.str("");
  EXPECT_THROW(DescribeDictionaryTable(kdd_, "NOSUCH", "", "", out), EDbEngineError);
  EXPECT_THROW(DescribeDictionaryTable(kdd_, "CODE", "clerk", "wrong", out), EDbEngineError);
  EXPECT_THROW(DescribeDictionaryTable(kdd_, "PAYROLL", "nobody", "n-pw", out), EDbEngineError);  // no rights
  EXPECT_EQ(out.str(), "");
}

TEST_F(SmallDictionary, SchemaFailuresGiveTheEnginesTextAndNoOutput) {
  struct Case {
    std::string kdd, user, password;
    const char* starts;
    std::string names;
  };
  const Case cases[] = {
      {dir_.Win("NOSUCH.kdd"), "", "", "Error 5041: The data dictionary was not found.", "NOSUCH.kdd"},
      {dir_.Win("NOFOLDER\\SMALL.kdd"), "", "", "Error 5041: ", "NOFOLDER"},
      {kdd_, "clerk", "wrong", "Error 5071: ", "SMALL.kdd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kdd + " " + c.user);
    std::ostringstream out;
    try {
      DescribeDictionary(c.kdd, c.user, c.password, out);
      ADD_FAILURE() << "no error";
    } catch (const EDbEngineError& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.rfind(c.starts, 0), 0u) << text;
      EXPECT_NE(text.find(c.names), std::string::npos) << text;
    }
    EXPECT_EQ(out.str(), "");
  }

  // A failure after the first table has been read: still nothing written.
  {
    std::ofstream damaged(dir_.path() + "/CODE.KDT", std::ios::binary | std::ios::trunc);
    damaged << "not a table";
  }
  std::ostringstream out;
  EDbEngineError e("", 0);
  try {
    DescribeDictionary(kdd_, "", "", out);
    ADD_FAILURE() << "no error for a damaged table";
  } catch (const EDbEngineError& raised) {
    e = raised;
  }
  EXPECT_EQ(e.ErrorCode(), 5052u) << e.what();
  EXPECT_NE(std::string(e.what()).find("CODE.KDT"), std::string::npos) << e.what();
  EXPECT_EQ(out.str(), "");
}

// The demo dictionary company: every table registered under its file, and
// the three users' rights on each, in the users' order, after all users;
// the administrator has none stored.
TEST(Schema, TheDemoDictionaryGivesEveryTablesFileAndRights) {
  std::ostringstream out;
  DescribeDictionary(CompanyFolder(SmallDemoRoot(), "ORCHID") + "\\ORCHID.kdd", "", "", out);
  std::vector<std::string> tables, rights, kinds;
  std::set<std::string> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) {
    lines.insert(line);
    std::string kind = line.substr(0, line.find('\t'));
    if (kinds.empty() || kinds.back() != kind) kinds.push_back(kind);
    if (kind == "TABLE") tables.push_back(line.substr(6, line.find('\t', 6) - 6));
    if (kind == "RIGHT") rights.push_back(line);
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"TABLE", "USER", "RIGHT"}));
  for (const char* expected :
       {"TABLE\tPAYPARA.KDT\tPAYPARA.KDT\t1\t0", "TABLE\tLIST.KDT\tLIST.KDT\t1\t0", "TABLE\tP_HTRX\tP_HTRX.KDT\t1\t1",
        "RIGHT\tEMPLOYEE\treaduser\tRI", "RIGHT\tEMPLOYEE\tKELPAVON8\tRWI", "RIGHT\tEMPLOYEE\tUSER88\tRWI",
        "RIGHT\tPAYPARA.KDT\treaduser\tRI", "RIGHT\tPAYPARA.KDT\tUSER88\tRWI"}) {
    EXPECT_EQ(lines.count(expected), 1u) << expected;
  }
  std::vector<std::string> expected_rights;
  for (const std::string& table : tables) {
    for (const DictionaryUser& u : DemoDictionaryUsers()) {
      expected_rights.push_back("RIGHT\t" + table + "\t" + u.name + "\t" + u.rights);
    }
  }
  EXPECT_EQ(rights, expected_rights);
}

}  // namespace
}  // namespace kx8test
