// The whole upgrade on the demo companies: a batch run brings the company
// at release 8.50 (free tables), the dictionary-bound one at 8.65 and the
// one already at 9.07 to the release's columns without a single message,
// the release check (columns and report field rows) passes on all three
// afterwards, the levy, parameter and scheme tables hold the rows the
// release prescribes, and a second run shows nothing and changes no table's
// structure and none of those rows. Every company also ends with the
// indexes the release expects, its income-tax tables encrypted (free
// tables), the template tables of the update archives, and every dictionary
// table back in its dictionary with automatic creation and the rights.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "batch_output.h"
#include "cli/batch_run.h"
#include "conversions/index_repair.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "support/credentials.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/demo_files.h"
#include "tools/inspect.h"
#include "tools/verify.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;

constexpr char kReportRows[] = "SELECT * FROM RTABLE ORDER BY NO";

class DemoUpgradeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.File("root") + "/";
    tools::BuildDemoRoot(root_, tools::DemoOptions{});
  }

  std::string Folder(const std::string& code) const { return root_ + "COMPANY\\" + code; }

  // What a run printed apart from its status lines and its question.
  std::vector<std::string> Run() {
    std::ostringstream out, err;
    std::istringstream in;
    const int rc = BatchMain({"--batch", "--root", root_, "--select-all", "--yes", "--set", "CheckBoxVol=1",
                              "--set", "CheckBoxAdv=1"}, out, err,
                             in, false);
    EXPECT_EQ(rc, 0) << err.str();
    std::vector<std::string> shown = ShownLines(out.str());
    // The closing summary: every company without a message.
    std::erase(shown, "Summary: 3 companies, 3 without a message");
    return shown;
  }

  // Every table of a company with its columns as "NAME type size", read
  // through the company's dictionary when it has one.
  std::map<std::string, std::string> Structures(const tools::DemoCompany& company) const {
    const std::string folder = Folder(company.code);
    dbaccess::TDbConnection c;
    c.SetDbServerTypes({dbaccess::stDB_REMOTE, dbaccess::stDB_LOCAL});
    c.SetLoginPrompt(false);
    c.SetUsername(support::AdministratorUser());
    c.SetPassword(support::AdministratorPassword());
    c.SetConnectPath(company.dictionary ? folder + "\\" + company.code + ".kdd" : folder);
    c.SetIsConnected(true);
    std::map<std::string, std::string> result;
    const fs::path company_folder = fs::path(dir_.path()) / "root" / "COMPANY" / company.code;
    for (const fs::directory_entry& e : fs::directory_iterator(company_folder)) {
      if (e.path().extension() != ".KDT") continue;
      const std::string table = e.path().stem().string();
      dbaccess::TDbTable t;
      t.SetDbConnection(&c);
      t.SetTableName(table);
      t.SetReadOnly(true);
      t.Open();
      std::string text;
      for (const dbaccess::TFieldDef& f : t.FieldDefs().Items()) {
        text += f.Name + " " + std::to_string(static_cast<int>(f.DataType)) + " " + std::to_string(f.Size) + "; ";
      }
      t.Close();
      result[table] = text;
    }
    return result;
  }

  // The lines (CSV, header first) a statement gives on the company,
  // through its dictionary when it has one.
  std::vector<std::string> Select(const tools::DemoCompany& company, const std::string& statement) const {
    const std::string folder = Folder(company.code);
    std::ostringstream out;
    if (company.dictionary) {
      tools::RunStatement(folder + "\\" + company.code + ".kdd", statement, "", "", out);
    } else {
      tools::RunStatement(folder, statement, "", support::AdministratorPassword(), out);
    }
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  // The rows the levy steps, the scheme rows, the fill-ins and the report
  // field catalogue write.
  std::vector<std::string> ConvertedRows(const tools::DemoCompany& company) const {
    std::vector<std::string> all;
    for (const char* statement :
         {"SELECT * FROM FW_LEVY ORDER BY YEAR,CLASS", "SELECT * FROM PAYPARA1 ORDER BY YEAR",
          "SELECT * FROM CPFNEW ORDER BY YEAR,CPF_CAT,CPF_AGE_TYPE", "SELECT * FROM QUERY ORDER BY LINE",
          "SELECT * FROM MEDSCH", "SELECT * FROM RBITEM", "SELECT * FROM TRAINING", "SELECT * FROM YTDEMPL",
          "SELECT * FROM P_HTRX ORDER BY EMPCODE,PERIOD", kReportRows}) {
      for (const std::string& line : Select(company, statement)) all.push_back(line);
    }
    return all;
  }

  // What the levy steps, the scheme rows and the fill-ins left, as the
  // release prescribes it for each company.
  void ExpectConvertedRows(const tools::DemoCompany& company) const {
    SCOPED_TRACE(company.code);
    // The 2004 to 2005 roll-forward is for databases of 8.90 or older.
    const bool up_to_890 = company.release < 8.9 + 0.00005;
    std::vector<std::string> levy = {
        "YEAR,CLASS,CATEGORY,DESC,DAILY_RATE,MAX_PER_MTH,PERIOD_PART",
        "2004,CLASS1,FWL,CLASS 1 WORKER,1,30,1",
        "2004,CLASS2,FWL,CLASS 2 WORKER,6.58,200,1",
        "2004,CW1,FWL,CONSTRUCTION SKILLED,8.55,260,1",
        "2004,SPASS,FWL,S PASS,2,50,1",
        "2005,CLASS1,FWL,CLASS 1 WORKER,2,50,1",
        "2005,CLASS2,FWL,CLASS 2 WORKER,6.58,200,1",
        "2005,CW1,FWL,CONSTRUCTION SKILLED,8.55,260,1",
        "2005,SPASS,FWL,S PASS,2,50,1",
        "2007,CLASS1,FWL,CLASS 1 WORKER,3.29,100,1",
        "2007,CLASS2,FWL,CLASS 2 WORKER,7.89,240,1",
        "2007,CW1,FWL,CONSTRUCTION SKILLED,2.63,80,1",
        "2007,SPASS,FWL,S PASS,3.29,100,1",
        "2008,CLASS1,FWL,CLASS 1 (Singaporean),5,150,1",
        "2008,CLASS2,FWL,CLASS 2 WORKER (2008),8.22,250,1",
        "2008,CW1,FWL,CONSTRUCTION SKILLED,5,150,1",
        "2008,CW3,FWL,Construction Worker-unskilled,10,300,1",
        "2008,SPASS,FWL,S PASS,3.29,100,1",
        "2012,CLASS1,FWL,CLASS 1 WORKER,8.22,250,1",
        "2012,CLASS2,FWL,CLASS 2 WORKER,4.94,150,1",
        "2012,CW1,FWL,CONSTRUCTION SKILLED,15.46,470,1",
        "2012,CW2,FWL,CONSTRUCTION UNSKILLED,12,365,1",
        "2012,CW3,FWL,CONSTRUCTION WORKER-UNSKILLED,8.21,249.72,1",
        "2012,HOUSE,FWL,DOMESTIC HELPER,0.02,0.73,1",
        "2012,SPASS,FWL,S PASS,1,30.4,1",
        "2012,TRAINEE,FWL,TRAINEE,9.99,0,1",
    };
    if (!up_to_890) {
      std::erase_if(levy, [](const std::string& l) { return l.rfind("2005,", 0) == 0 || l.rfind("2004,SPASS", 0) == 0; });
    }
    EXPECT_EQ(Select(company, "SELECT * FROM FW_LEVY ORDER BY YEAR,CLASS"), levy);
    EXPECT_EQ(Select(company, "SELECT YEAR,SDF_MAX,SDF_MIN,SDF FROM PAYPARA1 WHERE YEAR<'2007' ORDER BY YEAR"),
              (std::vector<std::string>{"YEAR,SDF_MAX,SDF_MIN,SDF", "2004,4500,2,0.25",
                                        up_to_890 ? "2005,1800,2,0.25" : "2005,4500,2,0.25", "2006,4500,2,0.25"}));
    EXPECT_EQ(Select(company, "SELECT COUNT(*) AS N FROM CPFNEW WHERE YEAR='2007' AND CPF_CAT LIKE 'VOL%'"),
              (std::vector<std::string>{"N", "30"}));
    EXPECT_EQ(Select(company, "SELECT COUNT(*) AS N FROM QUERY WHERE CODE IS NULL"), (std::vector<std::string>{"N", "0"}));
    for (const char* statement : {"SELECT COUNT(*) AS N FROM MEDSCH WHERE CLAIMTYPE IS NULL",
                                  "SELECT COUNT(*) AS N FROM RBITEM WHERE ID IS NULL",
                                  "SELECT COUNT(*) AS N FROM TRAINING WHERE DEPARTMENT IS NULL",
                                  "SELECT COUNT(*) AS N FROM YTDEMPL WHERE ORI_OWWAGE IS NULL"}) {
      EXPECT_EQ(Select(company, statement), (std::vector<std::string>{"N", "0"})) << statement;
    }
    // Bank amounts are filled only for databases of 8.90 or older.
    const int payroll_rows = tools::ExpectedCounts(tools::DemoOptions{}).payroll_rows;
    EXPECT_EQ(Select(company, "SELECT COUNT(*) AS N FROM P_HTRX WHERE BANKAMT IS NULL"),
              (std::vector<std::string>{"N", up_to_890 ? "0" : std::to_string(payroll_rows)}));
  }

  // The tab-separated lines a description gives, split.
  static std::vector<std::vector<std::string>> Lines(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> parts;
      std::istringstream fields(line);
      for (std::string f; std::getline(fields, f, '\t');) parts.push_back(f);
      lines.push_back(parts);
    }
    return lines;
  }

  std::string Dictionary(const tools::DemoCompany& company) const {
    return Folder(company.code) + "\\" + company.code + ".kdd";
  }

  // The keys of a table's indexes ("A;B"), read through the company's
  // dictionary when it has one.
  std::vector<std::string> IndexKeys(const tools::DemoCompany& company, const std::string& table) const {
    std::ostringstream out;
    if (company.dictionary) {
      tools::DescribeDictionaryTable(Dictionary(company), table, "", "", out);
    } else {
      tools::DescribeTable(Folder(company.code) + "\\" + table + ".KDT", out);
    }
    std::vector<std::string> keys;
    for (const auto& line : Lines(out.str())) {
      if (line.size() >= 3 && line[0] == "INDEX") keys.push_back(line[2]);
    }
    return keys;
  }

  // Every index the repair makes: entries 1 to 3 and, on free tables, the
  // others; a dictionary company has TEMPPAYGROUP and RPTRX rebuilt.
  void ExpectIndexes(const tools::DemoCompany& company) const {
    std::vector<std::pair<std::string, std::string>> expected;
    for (const conversions::IndexEntry& e : conversions::IndexEntries()) {
      if (e.number <= 3 || !company.dictionary) expected.emplace_back(e.table, e.fields);
    }
    if (company.dictionary) {
      expected.emplace_back("TEMPPAYGROUP", "PAYGROUP;YEAR;MONTH;TYPE");
      expected.emplace_back("RPTRX", "EMPCODE;PAYCODE;PERIOD;CYCLE");
    }
    for (const auto& [table, key] : expected) {
      const std::vector<std::string> keys = IndexKeys(company, table);
      EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end())
          << company.code << " " << table << " lacks " << key << ": " << ::testing::PrintToString(keys);
    }
  }

  // The tables of the update archives as the companies must hold them after
  // a run: the archive's rows, read from a copy of the archive's files.
  void ExpectTemplatesOfTheArchives(const tools::DemoCompany& company) const {
    SCOPED_TRACE(company.code);
    const std::string copy = dir_.File("archives") + "/";
    fs::create_directories(copy);
    for (const char* archive : {"UPDATEKX8.ZIP", "RPTDATA.ZIP"}) {
      for (const tools::ZipEntry& e : tools::ReadZip(root_ + archive)) tools::WriteFileBytes(copy + e.name, e.content);
    }
    std::vector<std::string> tables = {"OUTDSK_D", "OUTDSK_H", "GTABLE", "PASSDEF", "SETCODE", "CHECKCODE",
                                       "RBFIELD",  "RBTABLE",  "RBJOIN"};
    // A dictionary company gets every template its dictionary lists (GLPARA
    // included, listed since the first pass), a free-table company the whole
    // report-writer archive.
    for (const char* t : company.dictionary ? std::vector<const char*>{"UPDATETBL", "GLOCHG", "GLPARA", "OUTGL_D", "PUBLIC"}
                                             : std::vector<const char*>{"RBFOLDER"}) {
      tables.push_back(t);
    }
    for (const std::string& t : tables) {
      std::ostringstream shipped;
      tools::RunStatement(copy, "SELECT * FROM " + t, "", "", shipped);
      std::vector<std::string> lines = Select(company, "SELECT * FROM " + t);
      std::string held;
      for (const std::string& l : lines) held += l + "\n";
      std::string want = shipped.str();
      std::erase(want, '\r');
      EXPECT_EQ(held, want) << t;
    }
  }

  // The dictionary's tables, by upper-case name without ".KDT", with their
  // automatic creation switch and the users holding rights on them.
  struct DictionaryTable {
    std::string auto_create;
    std::set<std::string> users;
  };
  std::map<std::string, DictionaryTable> DictionaryTables(const tools::DemoCompany& company) const {
    std::ostringstream out;
    tools::DescribeDictionary(Dictionary(company), "", "", out);
    std::map<std::string, std::string> names;  // as listed -> normalised
    std::map<std::string, DictionaryTable> tables;
    for (const auto& line : Lines(out.str())) {
      if (line.size() >= 4 && line[0] == "TABLE") {
        std::string name = line[1];
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name.size() > 4 && name.ends_with(".KDT")) name.resize(name.size() - 4);
        names[line[1]] = name;
        tables[name].auto_create = line[3];
      } else if (line.size() >= 4 && line[0] == "RIGHT" && !line[3].empty()) {
        tables[names[line[1]]].users.insert(line[2]);
      }
    }
    return tables;
  }

  kx8::testing::TempDir dir_{"kx8-demo-upgrade"};
  std::string root_;
};

TEST_F(DemoUpgradeTest, ABatchRunBringsEveryDemoCompanyToTheReleaseAndASecondRunChangesNothing) {
  const std::vector<tools::ReleaseColumn>& release = tools::ReleaseColumns();
  std::map<std::string, std::vector<std::string>> report_rows;
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    const bool current = std::string(company.code) == "MERLION";
    EXPECT_EQ(tools::VerifyCompany(Folder(company.code), release).empty(), current) << company.code;
    report_rows[company.code] = Select(company, kReportRows);
  }

  std::map<std::string, std::map<std::string, DictionaryTable>> dictionary_before;
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    if (company.dictionary) dictionary_before[company.code] = DictionaryTables(company);
  }

  std::vector<std::string> shown = Run();
  EXPECT_TRUE(shown.empty()) << ::testing::PrintToString(shown);
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    ExpectIndexes(company);
    ExpectTemplatesOfTheArchives(company);
    if (!company.dictionary) {
      for (const char* t : {"IRDX8A", "IR8AR", "IR8AREC", "IR8S", "IRREFUND"}) {
        dbaccess::TDbConnection c;
        c.SetConnectPath(Folder(company.code));
        dbaccess::TDbTable table;
        table.SetDbConnection(&c);
        table.SetTableName(t);
        table.Open();
        EXPECT_TRUE(table.IsTableEncrypted()) << company.code << " " << t;
      }
      continue;
    }
    const std::map<std::string, DictionaryTable> after = DictionaryTables(company);
    for (const auto& [name, before] : dictionary_before[company.code]) EXPECT_TRUE(after.contains(name)) << name;
    const std::set<std::string> standard = {"readuser", "KELPAVON8", "USER88", "QRN"};
    for (const auto& [name, table] : after) {
      EXPECT_EQ(table.auto_create, "1") << name;
      EXPECT_EQ(table.users, standard) << name;
    }
  }
  std::map<std::string, std::map<std::string, std::string>> after_first;
  std::map<std::string, std::vector<std::string>> rows_after_first;
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    EXPECT_EQ(tools::VerifyCompany(Folder(company.code), release), std::vector<std::string>{}) << company.code;
    after_first[company.code] = Structures(company);
    // The report field rows appear; the company at the release had them.
    const bool current = std::string(company.code) == "MERLION";
    EXPECT_EQ(Select(company, kReportRows) == report_rows[company.code], current) << company.code;
    ExpectConvertedRows(company);
    rows_after_first[company.code] = ConvertedRows(company);
  }

  shown = Run();
  EXPECT_TRUE(shown.empty()) << ::testing::PrintToString(shown);
  for (const tools::DemoCompany& company : tools::DemoCompanies()) {
    EXPECT_EQ(Structures(company), after_first[company.code]) << company.code;
    EXPECT_EQ(ConvertedRows(company), rows_after_first[company.code]) << company.code;
  }
}

}  // namespace
}  // namespace kx8::cli
