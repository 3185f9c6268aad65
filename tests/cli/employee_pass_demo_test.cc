// Batch runs of the demo and the employee record pass: with none of its
// options only the code rows, career defaults and companion rows appear;
// with its options every rule shows in the tables and a second run changes
// none of them; the supervisor table and the photograph export and import
// are exclusive options that do only their work.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "batch_output.h"
#include "query_rows.h"
#include "cli/batch_run.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "platform/file_bytes.h"
#include "support/credentials.h"
#include "testing/temp_dir.h"
#include "tools/demo_builder.h"
#include "tools/inspect.h"

namespace kx8::cli {
namespace {

namespace fs = std::filesystem;

// The free-table company and the dictionary-bound one.
constexpr const char* kCompanies[] = {"ACME", "ORCHID"};

// The options of the pass, apart from the benefit and leave schemes.
const std::vector<std::string> kPassOptions = {"CheckBoxFamily", "CheckBoxaddr", "CheckBoxjpg", "CheckBoxAdd",
                                               "CheckBoxCost",   "CheckBoxSTOP", "CheckBoxNS"};

// Every table the pass reads or writes, in key order.
constexpr const char* kPassTables[] = {"SELECT * FROM EMPLOYEE ORDER BY EMP_NO",
                                       "SELECT * FROM EMPLOYMT ORDER BY EMP_NO",
                                       "SELECT * FROM EMPMISC ORDER BY EMP_NO",
                                       "SELECT * FROM EMP_PROS ORDER BY EMP_CODE,ID",
                                       "SELECT * FROM CODE ORDER BY CATEGORY,CODE",
                                       "SELECT * FROM COSTCTR ORDER BY EMPCODE,PERIOD,COST_CENTRE",
                                       "SELECT * FROM FAMILY ORDER BY EMP_CODE,IC_PASSPORT_NUM",
                                       "SELECT * FROM NSMAN ORDER BY EMP_CODE,ID"};

// The telephone fields the demo releases already have (EMG_TEL2 comes with
// the release's columns, empty).
const std::string kTelephones = "SELECT EMP_NO, TEL_NO, EMG_TEL, SPOUSE_PHONE FROM EMPLOYEE ORDER BY EMP_NO";
const std::string kFundAndDate = "SELECT EMP_NO, FUND_CLASS, CHANGE_DATE FROM EMPLOYEE ORDER BY EMP_NO";
const std::string kFlags = "SELECT EMP_NO, FUND_CLASS, STOP_IND, NS_SERVICE, CHANGE_DATE FROM EMPLOYEE ORDER BY EMP_NO";
const std::string kSpouses =
    "SELECT EMP_CODE, NAME, PHONE_NUM, SEX FROM FAMILY WHERE RELATIONSHIP = 'SPOUSE' ORDER BY EMP_CODE";
const std::string k2002 =
    "SELECT EMPCODE, PERIOD, COST_CENTRE, PERCENT FROM COSTCTR WHERE PERIOD LIKE '2002%' ORDER BY EMPCODE, PERIOD";

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  std::istringstream in(line);
  for (std::string v; std::getline(in, v, ',');) out.push_back(v);
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

class EmployeePassDemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.File("root") + "/";
    tools::BuildDemoRoot(root_, tools::DemoOptions{});
    // "c:\temp\" and "c:\temp\photo\", which the program does not create.
    drive_c_ = dir_.File("drive_c");
    fs::create_directories(fs::path(drive_c_) / "temp" / "photo");
    ::setenv("KX8_DRIVE_C", drive_c_.c_str(), 1);
  }
  void TearDown() override { ::unsetenv("KX8_DRIVE_C"); }

  // A batch run on the companies with the options ticked; what it showed
  // apart from a summary without messages.
  std::vector<std::string> Run(const std::vector<std::string>& options,
                               const std::vector<std::string>& companies = {"ACME", "ORCHID"}) {
    std::vector<std::string> args = {"--batch", "--root", root_, "--yes"};
    for (const std::string& c : companies) args.insert(args.end(), {"--select", c});
    for (const std::string& o : options) args.insert(args.end(), {"--set", o + "=1"});
    std::ostringstream out, err;
    std::istringstream in;
    EXPECT_EQ(BatchMain(args, out, err, in, false), 0) << err.str();
    std::vector<std::string> shown = ShownLines(out.str());
    const std::string n = std::to_string(companies.size());
    std::erase(shown, "Summary: " + n + " companies, " + n + " without a message");
    std::erase(shown, "Summary: 1 company, 1 without a message");
    return shown;
  }

  std::string Path(const std::string& code) const {
    const std::string folder = root_ + "COMPANY\\" + code;
    return code == "ORCHID" ? folder + "\\ORCHID.kdd" : folder;
  }

  // The rows of a query on a company as CSV lines without the header.
  std::vector<std::string> Sql(const std::string& code, const std::string& statement) const {
    return Lines(Path(code), statement, code == "ORCHID" ? "" : support::AdministratorPassword());
  }
  static std::vector<std::string> Lines(const std::string& path, const std::string& statement,
                                        const std::string& password) {
    return QueryRows(path, statement, password);
  }

  std::vector<std::vector<std::string>> PassTables(const std::string& code) const {
    std::vector<std::vector<std::string>> all;
    for (const char* statement : kPassTables) all.push_back(Sql(code, statement));
    return all;
  }

  // Each employee's photograph, by employee number.
  std::map<std::string, std::string> Photos(const std::string& code) const {
    dbaccess::TDbConnection c;
    c.SetLoginPrompt(false);
    c.SetUsername(support::AdministratorUser());
    c.SetPassword(support::AdministratorPassword());
    c.SetConnectPath(Path(code));
    c.SetIsConnected(true);
    dbaccess::TDbTable t;
    t.SetDbConnection(&c);
    t.SetTableName("EMPLOYEE");
    t.SetReadOnly(true);
    t.Open();
    if (code != "ORCHID") t.EnableEncryption(support::AdministratorPassword());
    std::map<std::string, std::string> photos;
    for (t.First(); !t.Eof(); t.Next())
      photos[t.FieldByName("EMP_NO").AsString()] = t.FieldByName("PHOTO_ID").AsString();
    t.Close();
    return photos;
  }

  kx8::testing::TempDir dir_{"kx8-employee-pass-demo"};
  std::string root_;
  std::string drive_c_;
};

// Dates as the queries give them, "YYYY-MM-DD".
std::chrono::sys_days Day(const std::string& text) {
  using namespace std::chrono;
  return sys_days{year_month_day{year{std::stoi(text.substr(0, 4))},
                                 month{static_cast<unsigned>(std::stoi(text.substr(5, 2)))},
                                 day{static_cast<unsigned>(std::stoi(text.substr(8, 2)))}}};
}
std::string Text(std::chrono::sys_days date) {
  const std::chrono::year_month_day d{date};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(d.year()), static_cast<unsigned>(d.month()),
                static_cast<unsigned>(d.day()));
  return text;
}

bool IsJpeg(const std::string& b) { return b.size() > 2 && b[0] == '\xFF' && b[1] == '\xD8'; }
bool IsBitmap(const std::string& b) { return b.rfind("BM", 0) == 0; }

TEST_F(EmployeePassDemoTest, WithNoneOfItsOptionsOnlyTheAlwaysOnStepsAct) {
  std::map<std::string, std::vector<std::vector<std::string>>> before;
  std::map<std::string, std::map<std::string, std::string>> photos;
  for (const char* code : kCompanies) {
    before[code] = {Sql(code, kTelephones), Sql(code, kFundAndDate), Sql(code, kSpouses), Sql(code, k2002)};
    photos[code] = Photos(code);
  }
  EXPECT_TRUE(Run({}).empty());
  for (const char* code : kCompanies) {
    SCOPED_TRACE(code);
    EXPECT_EQ((std::vector<std::vector<std::string>>{Sql(code, kTelephones), Sql(code, kFundAndDate),
                                                     Sql(code, kSpouses), Sql(code, k2002)}),
              before[code]);
    EXPECT_EQ(Sql(code, "SELECT COUNT(*) AS N FROM EMPLOYEE WHERE STOP_IND IS NULL AND NS_SERVICE IS NULL"),
              std::vector<std::string>{"4"});
    EXPECT_EQ(Photos(code), photos[code]);
    // The titles, units and spouse occupations are codes, once each, the
    // units with the occupation's description (empty where there is none);
    // E10004 had no employment row and has one now, its unit "NONE" a code
    // too.
    const std::vector<std::string> rows = Sql(code, "SELECT CATEGORY, CODE, DESC FROM CODE");
    const std::set<std::string> codes(rows.begin(), rows.end());
    EXPECT_EQ(codes.size(), rows.size());
    std::map<std::string, std::string> occupations;
    for (const std::string& line : Sql(code, "SELECT CODE, DESC FROM CODE WHERE CATEGORY = 'OCU'")) {
      occupations[Split(line)[0]] = Split(line)[1];
    }
    for (const std::string& unit : Sql(code, "SELECT UNIT FROM EMPLOYMT")) {
      EXPECT_TRUE(codes.contains("UNT," + unit + "," + occupations[unit])) << unit;
    }
    EXPECT_TRUE(codes.contains("UNT,NONE,"));
    for (const std::string& line : Sql(code, "SELECT SEX_TITLE, SPOUSE_JOB_CODE FROM EMPLOYEE")) {
      const std::vector<std::string> v = Split(line);
      EXPECT_TRUE(codes.contains("SEX," + v[0] + "," + v[0])) << v[0];
      if (v[1].empty()) continue;
      EXPECT_EQ(std::count_if(codes.begin(), codes.end(),
                              [&](const std::string& c) { return c.rfind("SOU," + v[1] + ",", 0) == 0; }),
                1)
          << v[1];
    }
    EXPECT_EQ(Sql(code, "SELECT EMP_NO, UNIT, TENURE_SERV, STATE FROM EMPLOYMT WHERE EMP_NO = 'E10004'"),
              std::vector<std::string>{"E10004,NONE,NONE,"});
    EXPECT_EQ(Sql(code, "SELECT EMP_NO, METHOD FROM EMPMISC WHERE EMP_NO = 'E10002'"),
              std::vector<std::string>{"E10002,NONE"});
    EXPECT_EQ(Sql(code, "SELECT COUNT(*) AS N FROM EMP_PROS WHERE PERCENT IS NULL OR SALTYPE IS NULL"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(Sql(code, "SELECT COUNT(*) AS N FROM EMP_PROS WHERE PERCENT = 100 AND SALTYPE = 'M'"),
              Sql(code, "SELECT COUNT(*) AS N FROM EMP_PROS"));
  }
}

TEST_F(EmployeePassDemoTest, WithItsOptionsEveryRuleShowsAndASecondRunChangesNothing) {
  std::map<std::string, std::vector<std::string>> telephones;
  std::map<std::string, std::map<std::string, std::string>> photos;
  for (const char* code : kCompanies) {
    telephones[code] = Sql(code, kTelephones);
    photos[code] = Photos(code);
  }
  EXPECT_TRUE(Run(kPassOptions).empty());

  std::map<std::string, std::vector<std::vector<std::string>>> after_first;
  for (const char* code : kCompanies) {
    SCOPED_TRACE(code);
    // Seven-character numbers have a "6" in front, the others are as they were.
    std::vector<std::string> want;
    for (const std::string& line : telephones[code]) {
      std::vector<std::string> values = Split(line);
      std::string row = values[0];
      for (std::size_t i = 1; i < values.size(); ++i)
        row += "," + (values[i].size() == 7 ? "6" + values[i] : values[i]);
      want.push_back(row);
    }
    EXPECT_EQ(Sql(code, kTelephones), want);

    // One spouse row per employee with a spouse name, holding the spouse's
    // number as the employee row now has it, the sex the other one.
    std::vector<std::string> spouses;
    for (const std::string& line :
         Sql(code, "SELECT EMP_NO, SPOUSE_NAME, SPOUSE_PHONE, SEX FROM EMPLOYEE ORDER BY EMP_NO")) {
      std::vector<std::string> v = Split(line);
      if (!v[1].empty()) spouses.push_back(v[0] + "," + v[1] + "," + v[2] + "," + (v[3] == "M" ? "F" : "M"));
    }
    ASSERT_FALSE(spouses.empty());
    EXPECT_EQ(Sql(code, kSpouses), spouses);

    // Bitmaps became JPEG images; the JPEG photograph and the employee
    // without one are as they were.
    const std::map<std::string, std::string> now = Photos(code);
    ASSERT_EQ(now.size(), photos[code].size());
    int converted = 0;
    for (const auto& [emp_no, old] : photos[code]) {
      SCOPED_TRACE(emp_no);
      if (IsBitmap(old)) {
        EXPECT_TRUE(IsJpeg(now.at(emp_no)));
        ++converted;
      } else {
        EXPECT_EQ(now.at(emp_no), old);
      }
    }
    EXPECT_EQ(converted, 2);

    // E10001 and E10004 have BOOLEAN10 "T"; E10003 is on hold; E10001 served
    // (without the end of full-time service, so CHANGE_DATE stays empty);
    // E10003's service counts back from his hiring date.
    const std::string hired = Sql(code, "SELECT HIRED_DATE FROM EMPLOYEE WHERE EMP_NO = 'E10003'").at(0);
    const std::vector<std::string> served =
        Split(Sql(code, "SELECT ENLISTMENT_DATE, NS_ORD FROM NSMAN WHERE EMP_CODE = 'E10003'").at(0));
    const std::string counted = Text(Day(hired) - (Day(served[1]) - Day(served[0]) + std::chrono::days{1}));
    EXPECT_EQ(Sql(code, kFlags),
              (std::vector<std::string>{"E10001,A,,T,", "E10002,C,,F,", "E10003,C,E,T," + counted, "E10004,A,,F,"}));

    // Twelve months of 2002 at 100 on each employee's current cost centre.
    std::vector<std::string> months;
    for (const std::string& line : Sql(code, "SELECT EMP_NO, COST_CENTRE_CODE FROM EMPLOYEE ORDER BY EMP_NO")) {
      std::vector<std::string> v = Split(line);
      for (int m = 1; m <= 12; ++m) {
        months.push_back(v[0] + ",2002" + (m < 10 ? "0" : "") + std::to_string(m) + "," + v[1] + ",100");
      }
    }
    EXPECT_EQ(Sql(code, k2002), months);
    after_first[code] = PassTables(code);
  }

  EXPECT_TRUE(Run(kPassOptions).empty());
  for (const char* code : kCompanies) EXPECT_EQ(PassTables(code), after_first[code]) << code;
}

TEST_F(EmployeePassDemoTest, SupervisorTableAndPhotographFilesAreExclusiveOptions) {
  const std::vector<std::string> version = Sql("ACME", "SELECT VERSION FROM PAYPARA");
  const std::vector<std::string> telephones = Sql("ACME", kTelephones);
  const std::map<std::string, std::string> photos = Photos("ACME");

  // E10001 is the only active supervisor; his row of a sister company stays.
  EXPECT_TRUE(Run({"CheckBoxSupvr1"}, {"ACME"}).empty());
  EXPECT_EQ(
      Sql("ACME", "SELECT EMPID, EMPCOM, MODE, CAT, SUBCOM, SUBCODE FROM SETUP ORDER BY EMPID, EMPCOM"),
      (std::vector<std::string>{"E10001,ACME,direct,none,ACME,E10001", "E10001,SISTER,direct,none,SISTER,E10001"}));
  EXPECT_EQ(Lines(root_ + "SHARE_FOLDER", "SELECT EMP_NO FROM SUPVRTBL WHERE EMP_NO = 'E10001'", ""),
            std::vector<std::string>{"E10001"});

  // Every photograph to "c:\temp\" as it is stored, bitmaps too.
  EXPECT_TRUE(Run({"CheckBoxSAVEJPG"}, {"ACME"}).empty());
  const fs::path temp = fs::path(drive_c_) / "temp";
  for (const auto& [emp_no, bytes] : photos) {
    SCOPED_TRACE(emp_no);
    const fs::path file = temp / (emp_no + ".jpg");
    ASSERT_EQ(fs::exists(file), !bytes.empty());
    if (bytes.empty()) continue;
    EXPECT_EQ(platform::ReadFileBytes("c:\\temp\\" + emp_no + ".jpg"), bytes);
    fs::rename(file, temp / "photo" / file.filename());
  }

  // Back from "c:\temp\photo\": the exported files give the same bytes, a
  // new file gives its employee a photograph, a file of nobody is ignored.
  const std::string portrait = photos.at("E10002");
  ASSERT_TRUE(photos.at("E10003").empty());
  platform::WriteFileBytes("c:\\temp\\photo\\E10003.jpg", portrait);
  platform::WriteFileBytes("c:\\temp\\photo\\E99999.jpg", portrait);
  EXPECT_TRUE(Run({"CheckBoxPICTURE"}, {"ACME"}).empty());
  std::map<std::string, std::string> want = photos;
  want["E10003"] = portrait;
  EXPECT_EQ(Photos("ACME"), want);

  // Nothing else of a company pass happened.
  EXPECT_EQ(Sql("ACME", kTelephones), telephones);
  EXPECT_EQ(Sql("ACME", "SELECT VERSION FROM PAYPARA"), version);
}

}  // namespace
}  // namespace kx8::cli
