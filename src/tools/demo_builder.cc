#include "tools/demo_builder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_table.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "schema/catalogue.h"
#include "support/credentials.h"
#include "support/helpers.h"
#include "tools/demo_career_bank.h"
#include "tools/demo_claims.h"
#include "tools/demo_files.h"
#include "tools/demo_report_catalogue.h"
#include "tools/demo_seeds.h"
#include "tools/demo_tables.h"

namespace kx8::tools {
namespace {

using dbaccess::TDbConnection;
using dbaccess::TDbTable;

constexpr DemoCompany kCompanies[] = {
    {"ACME", "ACME ENGINEERING PTE LTD", 8.50, false, true},
    {"ORCHID", "ORCHID LOGISTICS PTE LTD", 8.65, true, false},
    {"MERLION", "MERLION FOODS PTE LTD", 9.07, false, false},
};

constexpr DictionaryUser kDictionaryUsers[] = {
    {"readuser", "READ1234", "RI"},
    {"KELPAVON8", "KELPA8", "RWI"},
    {"USER88", "USER1988", "RWI"},
};

// Tables that the dictionary-bound company still lists under their file
// names, as releases before 8.60 registered them.
constexpr std::string_view kNamesWithExtension[] = {"PAYPARA", "EMPMISC", "FAMILY", "LIST"};

// The release refresh and the report-writer refresh bring these tables.
constexpr std::string_view kReleaseTemplates[] = {"UPDATETBL", "OUTDSK_D", "BONUS",   "OUTDSK_H",  "GTABLE",  "GLOCHG",
                                                  "SETCODE",   "GLPARA",   "OUTGL_D", "CHECKCODE", "PASSDEF", "PUBLIC"};
constexpr std::string_view kReportTables[] = {"RBFIELD", "RBTABLE", "RBJOIN", "RBFOLDER"};

// Temporary tables an earlier run of the application left behind.
constexpr TableDefinition kTemporaryTables[] = {
    {"TMP_PAY", "EMPCODE,Char,12;PERIOD,Char,6;AMOUNT,CurDouble", "PRIMARY:EMPCODE;PERIOD", false, TableScope::Company},
    {"TMP_BANK", "EMPCODE,Char,12;BANK_AC_NO,Char,20;AMOUNT,CurDouble", "", false, TableScope::Company},
};

constexpr char kLibraryName[] = "rUzevUroda.kep";
constexpr char kLibraryContent[] =
    "KX8 extension library\r\nfunction ProcessTiming(company, dd, mm, yy, p_no, emp_no; out err_no)\r\n";

constexpr char kIniExample[] =
    "; KX8 upgrade settings, read from the program's folder.\r\n"
    "[PATH]\r\n"
    "; DIR: the root folder (ending in \\) when it is not the program's folder.\r\n"
    "DIR=\r\n"
    "; DICTIONARY=YES connects every company through its data dictionary.\r\n"
    "DICTIONARY=\r\n"
    "[SETTING]\r\n"
    "SERVERTYPE=LOCAL\r\n";

// --- deterministic random numbers -------------------------------------------

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {  // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(static_cast<int>(N))];
  }

 private:
  std::uint64_t state_;
};

std::uint64_t HashText(std::string_view text) {
  std::uint64_t h = 1469598103934665603ULL;
  for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return h;
}

// --- text forms of values ----------------------------------------------------

std::string DateText(int year, int month, int day) {
  char buf[48];  // room for any int, so the format is never cut
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  return buf;
}

std::string DateText(double day_number) {
  support::CalendarDate d = support::DecodeDate(day_number);
  return DateText(d.year, d.month, d.day);
}

std::string Amount(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", support::RoundToDecimals(2, value));
  return buf;
}

std::string Period(int year, int month) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04d%02d", year, month);
  return buf;
}

std::string Digits(Random& r, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s.push_back(static_cast<char>('0' + r.Below(10)));
  return s;
}

// Identity number with its check letter: "S" or "T" for citizens and
// permanent residents, "F" or "G" for foreigners.
std::string IdentityNumber(char prefix, const std::string& digits) {
  static constexpr int kWeights[] = {2, 7, 6, 5, 4, 3, 2};
  int sum = (prefix == 'T' || prefix == 'G') ? 4 : 0;
  for (int i = 0; i < 7; ++i) sum += (digits[static_cast<std::size_t>(i)] - '0') * kWeights[i];
  const char* letters = (prefix == 'S' || prefix == 'T') ? "JZIHGFEDCBA" : "XWUTRQPNMLK";
  return std::string(1, prefix) + digits + letters[sum % 11];
}

// --- writing rows --------------------------------------------------------------

using Row = std::vector<std::pair<std::string_view, std::string>>;

void ConnectFolder(TDbConnection& c, const std::string& folder) {
  c.SetConnectPath(folder);
  c.SetDbServerTypes({dbaccess::stDB_REMOTE, dbaccess::stDB_LOCAL});
  c.SetIsConnected(true);
}

// The release the upgrade brings companies to; a demo company at this
// release has its tables in the release's shape already.
constexpr double kCurrentRelease = 9.07;

bool AtCurrentRelease(double release) { return release > kCurrentRelease - 0.00005; }

// Tables that the current release leaves decrypted on a free-table
// company, although older releases kept them encrypted.
constexpr std::string_view kDecryptedByRelease[] = {"TRNNO", "EMAILPROFILE"};

bool StoredEncrypted(const TableDefinition& def, const DemoCompany& company) {
  if (!def.encrypted || company.dictionary) return false;
  if (!AtCurrentRelease(company.release)) return true;
  return std::find(std::begin(kDecryptedByRelease), std::end(kDecryptedByRelease), def.name) ==
         std::end(kDecryptedByRelease);
}

void CreateTableFrom(TDbConnection& c, const TableDefinition& def, double release) {
  TDbTable t;
  t.SetDbConnection(&c);
  t.SetTableName(std::string(def.name) + ".KDT");
  t.SetTableType(dbaccess::ttDbKDT);
  t.DbTableOptions().SetDbCharType(dbaccess::TDbCharTypes::ANSI);
  for (const FieldSpec& f : FieldsAtRelease(def, release)) t.FieldDefs().Add(f.name, f.type, f.size);
  for (const IndexSpec& ix : ParseIndexList(def.indexes)) t.IndexDefs().Add(ix.name, ix.fields, ix.options);
  t.CreateTable();
}

// Appends rows to one table, opened exclusively; an encrypted table is
// encrypted before the first row, so that every row is written encrypted.
class TableWriter {
 public:
  TableWriter(TDbConnection& c, const std::string& name, bool encrypt) {
    table_.SetDbConnection(&c);
    table_.SetTableName(name + ".KDT");
    table_.SetExclusive(true);
    table_.Open();
    if (encrypt) {
      table_.EnableEncryption(support::AdministratorPassword());
      table_.EncryptTable();
    }
  }
  ~TableWriter() {
    try {
      table_.Close();
    } catch (...) {
      // Closing after a failure; the failure is what the caller reports.
    }
  }
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  void Add(const Row& row) {
    table_.Append();
    for (const auto& [field, value] : row) {
      if (!value.empty()) table_.FieldByName(std::string(field)).SetAsString(value);
    }
    table_.Post();
    ++rows_;
  }

  void AddSeed(const SeedBlock& seed) {
    std::vector<std::string> columns = SplitValues(seed.columns);
    std::string_view rows = seed.rows;
    while (!rows.empty()) {
      std::size_t end = rows.find('\n');
      std::vector<std::string> values = SplitValues(rows.substr(0, end));
      if (values.size() != columns.size()) {
        throw std::logic_error("seed row of " + std::string(seed.table) + " has " + std::to_string(values.size()) +
                               " values for " + std::to_string(columns.size()) + " columns");
      }
      Row row;
      for (std::size_t i = 0; i < columns.size(); ++i) row.emplace_back(columns[i], values[i]);
      Add(row);
      rows.remove_prefix(end == std::string_view::npos ? rows.size() : end + 1);
    }
  }

  void Close() { table_.Close(); }
  int Rows() const { return rows_; }

 private:
  TDbTable table_;
  int rows_ = 0;
};

void BuildTable(TDbConnection& c, const TableDefinition& def, bool encrypt, SeedTarget target,
                const std::function<void(TableWriter&)>& generate = {}, double release = 0) {
  CreateTableFrom(c, def, release);
  TableWriter w(c, def.name, encrypt);
  for (const SeedBlock* seed : SeedsFor(target, def.name)) w.AddSeed(*seed);
  if (generate) generate(w);
  w.Close();
}

// --- the people of a company ------------------------------------------------------

struct Employee {
  std::string no, name, alias, sex, title, nationality, race, new_ic, tax_no, pass_no;
  double birth = 0, hired = 0, terminated = 0;
  std::string department, category, cost_centre, division, section, occupation, grade, unit;
  double salary = 0;
  std::string bank_id, branch, account;
  bool married = false, supervisor = false, foreign = false, male = false;
  std::string spouse_name, spouse_job, spouse_ic, spouse_phone;
  double spouse_dob = 0;
  int index = 0;
};

constexpr const char* kSurnames[] = {"TAN", "LIM",  "LEE",  "NG",  "ONG", "WONG",
                                     "GOH", "CHUA", "CHAN", "KOH", "TEO", "ANG"};
constexpr const char* kMaleNames[] = {"WEI MING", "JUN JIE", "KAH WAI", "BOON HOCK", "ZHI HAO", "CHEE KEONG"};
constexpr const char* kFemaleNames[] = {"SIEW LING", "HUI MIN", "MEI LING", "XIN YI", "PEI SHAN", "LAY HOON"};
constexpr const char* kMalayMale[] = {"AHMAD BIN ISMAIL", "MUHAMMAD FAIZAL", "HAFIZ BIN OSMAN"};
constexpr const char* kMalayFemale[] = {"NUR AISYAH", "SITI NURHALIZA", "FARAH BINTE YUSOF"};
constexpr const char* kIndianMale[] = {"RAJESH KUMAR", "SURESH S/O RAMAN", "ARUN PILLAI"};
constexpr const char* kIndianFemale[] = {"PRIYA D/O KRISHNAN", "KAVITHA NAIR", "DEEPA MENON"};
constexpr const char* kDepartments[] = {"ADM", "FIN", "OPS", "SAL", "IT"};
constexpr const char* kCategories[] = {"EXE", "NEX", "MGT"};
constexpr const char* kCostCentres[] = {"CC100", "CC200", "CC300"};
constexpr const char* kDivisions[] = {"NORTH", "SOUTH"};
constexpr const char* kOccupations[] = {"ENG", "ACC", "CLK", "DRV", "MGR", "TEC", "SLS"};
constexpr const char* kGrades[] = {"G1", "G2", "G3", "G4"};
constexpr const char* kSpouseJobs[] = {"ENG", "TCH", "NUR", "ACC", "STUDENT", "HSEWIFE"};
constexpr const char* kUnits[] = {"ENG", "TEC", "PKR"};
constexpr const char* kRelations[] = {"WIFE", "HUSBAND", "MOTHER", "FATHER", ""};

struct CompanyContext {
  const DemoCompany* company = nullptr;
  const DemoOptions* options = nullptr;
  std::vector<Employee> employees;
  int first_year = 0;
  int last_year = 0;
};

std::string Phone(Random& r, bool seven_digits) {
  return seven_digits ? std::string(1, static_cast<char>('2' + r.Below(6))) + Digits(r, 6) : "6" + Digits(r, 7);
}

std::vector<Employee> MakeEmployees(const DemoCompany& company, const DemoOptions& o, int first_year) {
  Random r(o.seed * 0x2545F4914F6CDD1DULL ^ HashText(company.code));
  std::vector<Employee> list;
  for (int i = 0; i < o.employees; ++i) {
    Employee e;
    e.index = i;
    char no[16];
    std::snprintf(no, sizeof no, "E%05d", 10001 + i);
    e.no = no;
    e.male = i % 2 == 0;
    int group = r.Below(10);  // 0-5 Chinese, 6-7 Malay, 8-9 Indian
    e.foreign = i % 5 == 4;
    if (group < 6) {
      e.race = "C";
      e.name = std::string(r.Pick(kSurnames)) + " " + (e.male ? r.Pick(kMaleNames) : r.Pick(kFemaleNames));
    } else if (group < 8) {
      e.race = "M";
      e.name = e.male ? r.Pick(kMalayMale) : r.Pick(kMalayFemale);
    } else {
      e.race = "I";
      e.name = e.male ? r.Pick(kIndianMale) : r.Pick(kIndianFemale);
    }
    e.alias = e.name.substr(0, e.name.find(' '));
    e.sex = e.male ? "M" : "F";
    e.married = i % 2 == 0 || i % 3 == 0;
    e.title = e.male ? (i % 9 == 0 ? "DR" : "MR") : (e.married ? (group >= 6 ? "MDM" : "MRS") : "MS");
    e.birth = support::EncodeDate(r.Between(1955, 1990), r.Between(1, 12), r.Between(1, 28));
    std::string digits = Digits(r, 7);
    if (e.foreign) {
      e.nationality = group < 6 ? "CN" : group < 8 ? "MY" : "IN";
      e.new_ic = IdentityNumber('G', digits);
      // Work pass numbers: most begin with a capital letter, one in four
      // was keyed in lower case.
      e.pass_no = i % 4 == 0 ? "wp" + Digits(r, 7) : IdentityNumber('G', digits);
    } else {
      e.nationality = "SG";
      e.new_ic = IdentityNumber('S', digits);
      if (i % 7 == 3) e.new_ic.insert(8, "/");  // keyed with a slash before the check letter
      e.tax_no = e.new_ic;
    }
    e.hired = support::EncodeDate(r.Between(first_year - 15, first_year - 1), r.Between(1, 12), 1);
    if (i % 10 == 9) e.terminated = support::EncodeDate(o.last_year, r.Between(1, 11), 28);
    e.department = r.Pick(kDepartments);
    e.category = i == 0 ? "MGT" : r.Pick(kCategories);
    e.cost_centre = r.Pick(kCostCentres);
    e.division = r.Pick(kDivisions);
    e.section = i % 2 == 0 ? "S1" : "S2";
    e.occupation = r.Pick(kOccupations);
    e.grade = r.Pick(kGrades);
    e.unit = r.Pick(kUnits);
    e.salary = 1800 + r.Below(60) * 100;
    e.supervisor = i % 4 == 0;
    switch (i % 6) {
      case 1:  // the savings bank under its old name, six-digit account
        e.bank_id = "POSB";
        e.branch = Digits(r, 3);
        e.account = Digits(r, 6);
        break;
      case 2:
        e.bank_id = "9812";
        e.branch = "081";
        e.account = Digits(r, 9);
        break;
      case 3:
        e.bank_id = "7339";
        e.branch = "501";
        e.account = Digits(r, 10);
        break;
      default:
        e.bank_id = "7171";
        e.branch = "001";
        e.account = Digits(r, 10);
    }
    if (e.married) {
      bool chinese = e.race == "C";
      e.spouse_name = chinese
                          ? std::string(r.Pick(kSurnames)) + " " + (e.male ? r.Pick(kFemaleNames) : r.Pick(kMaleNames))
                          : (e.male ? r.Pick(kMalayFemale) : r.Pick(kMalayMale));
      e.spouse_job = r.Pick(kSpouseJobs);
      e.spouse_ic = IdentityNumber('S', Digits(r, 7));
      e.spouse_dob = e.birth + r.Between(-2000, 2000);
      e.spouse_phone = Phone(r, i % 4 == 0);
    }
    list.push_back(std::move(e));
  }
  return list;
}

// --- generated rows, by table ------------------------------------------------------

using Generator = void (*)(const CompanyContext&, TableWriter&);

void EmployeeRows(const CompanyContext& cx, TableWriter& w) {
  Random r(HashText(cx.company->code) ^ 0xE1);
  for (const Employee& e : cx.employees) {
    Row row = {
        {"EMP_NO", e.no},
        {"EMP_NAME", e.name},
        {"EMP_ALIAS", e.alias},
        {"SEX", e.sex},
        {"SEX_TITLE", e.title},
        {"RACE", e.race},
        {"NATIONALITY", e.nationality},
        {"BIRTH_DATE", DateText(e.birth)},
        {"NEW_IC", e.new_ic},
        {"INCOME_TAX_AC_NO", e.tax_no},
        {"EMP_PASS_AC_NO", e.pass_no},
        {"ADDRESS1", "BLK " + std::to_string(100 + r.Below(800)) + " ANG MO KIO AVE " + std::to_string(1 + r.Below(9))},
        {"ADDRESS2", "#" + Digits(r, 2) + "-" + Digits(r, 3)},
        {"POSTAL_CODE", "56" + Digits(r, 4)},
        {"TEL_NO", Phone(r, e.index % 3 == 0)},
        {"HP_NO", "9" + Digits(r, 7)},
        {"EMAIL_AC_NO", e.alias + "." + e.no + "@example.com.sg"},
        {"EMG_NAME", e.married ? e.spouse_name : "NEXT OF KIN OF " + e.alias},
        {"EMG_CONTACT_RELATION", e.married ? (e.male ? "WIFE" : "HUSBAND") : r.Pick(kRelations)},
        {"EMG_TEL", Phone(r, e.index % 4 == 1)},
        {"HIRED_DATE", DateText(e.hired)},
        {"CONFIRM_DATE", DateText(e.hired + 180)},
        {"TERMINATION_DATE", e.terminated != 0 ? DateText(e.terminated) : ""},
        {"TERMINATION_STATUS", e.index % 10 == 8 ? "F" : ""},
        {"DEPARTMENT_CODE", e.department},
        {"CATEGORY_CODE", e.category},
        {"COST_CENTRE_CODE", e.cost_centre},
        {"DIVISION_CODE", e.division},
        {"SECTION_CODE", e.section},
        {"OCCUPATION_CODE", e.occupation},
        {"JOB_GRADE_CODE", e.grade},
        {"LOCATION_CODE", "HQ"},
        {"PAY_GROUP", "MONTHLY"},
        {"PAY_TYPE", "M"},
        {"BASIC_SALARY", Amount(e.salary)},
        {"FUND_CLASS", e.foreign ? "" : "C"},
        {"FUND_INITIAL", "001"},
        {"BANK_ID", e.bank_id},
        {"BANK_BRANCH_CODE", e.branch},
        {"BANK_AC_NO", e.account},
        {"SPOUSE_NAME", e.spouse_name},
        {"SPOUSE_JOB_CODE", e.spouse_job},
        {"SPOUSE_NEW_IC", e.spouse_ic},
        {"SPOUSE_DOB", e.married ? DateText(e.spouse_dob) : ""},
        {"SPOUSE_PHONE", e.spouse_phone},
        {"DEPENDENT_CHILD", std::to_string(e.married ? e.index % 3 : 0)},
        {"IS_EPF_OLD", e.supervisor ? "T" : "F"},
        {"HRS_WORK_PERYEAR", "2288"},
        {"E_PASS", e.index % 2 == 1 ? "pw" + Digits(r, 6) : ""},
        {"SUPVRNAME", e.index == 0 ? "" : cx.employees.front().name}};
    if (e.married) row.emplace_back("SPOUSE_MARRIED_DATE", DateText(e.hired - 400));
    if (e.index % 3 == 0) row.emplace_back("PHOTO_ID", MakeBitmap(24, 32, static_cast<std::uint32_t>(e.index)));
    if (e.index % 3 == 1) row.emplace_back("PHOTO_ID", MakeJpeg(24, 32, static_cast<std::uint32_t>(e.index)));
    w.Add(row);
  }
}

void FormerEmployeeRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.terminated == 0) continue;
    w.Add({{"EMP_NO", e.no},
           {"EMP_NAME", e.name},
           {"NEW_IC", e.new_ic},
           {"HIRED_DATE", DateText(e.hired)},
           {"TERMINATION_DATE", DateText(e.terminated)},
           {"BANK_ID", e.bank_id},
           {"BANK_AC_NO", e.account}});
  }
}

void EmploymentRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 6 == 3) continue;  // companion row still missing
    w.Add({{"EMP_NO", e.no},
           {"UNIT", e.unit},
           {"TENURE_SERV", e.index % 8 == 2 ? "@HOLD" : "PERM"},
           {"CONTRACT", e.foreign ? "2YR" : "NONE"},
           {"WORK_PERMIT", e.foreign ? "WP" : ""},
           {"EXPIRY_DATE", e.foreign ? DateText(cx.last_year + 1, 6, 30) : ""},
           {"PROBATION", "6"}});
  }
}

void MiscRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 7 == 1) continue;  // companion row still missing
    w.Add({{"EMP_NO", e.no},
           {"CHAR1", "LOCKER " + std::to_string(e.index + 1)},
           {"BOOLEAN1", "F"},
           {"BOOLEAN10", e.index % 3 == 0 ? "T" : "F"},
           {"NUMERIC1", std::to_string(e.index % 5)},
           {"METHOD", "BANK"}});
  }
}

void CareerRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    int changes = 1 + e.index % 3;
    double salary = e.salary - 300.0 * (changes - 1);
    for (int k = 0; k < changes; ++k) {
      double date = k == 0 ? e.hired : support::EncodeDate(cx.first_year - changes + k + 1, 4, 1);
      w.Add({{"EMP_CODE", e.no},
             {"PROGRESSION_DATE", DateText(date)},
             {"PAY_EFFECTIVE_DATE", DateText(date)},
             {"CODE", k == 0 ? "NEW" : "INC"},
             {"CATEGORY", k + 1 == changes ? e.category : "NEX"},
             {"DEPARTMENT", e.department},
             {"SECTION", e.section},
             {"COST_CENTRE", k + 1 == changes ? e.cost_centre : "CC100"},
             {"OCCUPATION", e.occupation},
             {"OLD_SALARY", k == 0 ? "" : Amount(salary - 300)},
             {"NEW_SALARY", Amount(salary)},
             {"INCREMENT", k == 0 ? "" : "300.00"},
             {"REMARKS", k == 0 ? "APPOINTMENT" : "ANNUAL INCREMENT"}});
      salary += 300;
    }
  }
}

void ServiceRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    w.Add({{"EMP_CODE", e.no},
           {"SERVICE_DATE", DateText(e.hired)},
           {"NEW_SALARY", Amount(e.salary)},
           {"JOBLEVEL", e.grade},
           {"UNIT", e.unit},
           {"SHIFT_WORKER", e.index % 4 == 3 ? "Y" : "N"}});
  }
}

void FamilyRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.married && e.index % 4 == 0) {
      w.Add({{"EMP_CODE", e.no},
             {"RELATIONSHIP", "SPOUSE"},
             {"NAME", e.spouse_name},
             {"IC_PASSPORT_NUM", e.spouse_ic},
             {"BIRTH_DATE", DateText(e.spouse_dob)},
             {"SEX", e.male ? "F" : "M"},
             {"OCCUPATION_CODE", e.spouse_job}});
    }
    if (e.married && e.index % 5 == 0) {
      w.Add({{"EMP_CODE", e.no},
             {"RELATIONSHIP", "CHILD"},
             {"NAME", e.alias + " JUNIOR"},
             {"BIRTH_DATE", DateText(cx.last_year - 10, 5, 17)},
             {"SEX", "M"},
             {"OCCUPATION_CODE", "STUDENT"},
             {"INSTITUTE", "PRIMARY"}});
    }
  }
}

void BankAccountRows(const CompanyContext& cx, TableWriter& w) {
  Random r(HashText(cx.company->code) ^ 0xB4);
  for (const Employee& e : cx.employees) {
    if (e.index % 4 != 1) continue;
    bool old_code = e.index % 8 == 1;
    w.Add({{"EMP_CODE", e.no},
           {"BANK_ID", old_code ? "9812" : "POSB"},
           {"BANK_BRANCH", old_code ? "081" : Digits(r, 3)},
           {"BANK_AC_NO", old_code ? Digits(r, 9) : Digits(r, 6)},
           {"PERCENT", "20"}});
  }
}

void PayrollRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    for (int year = cx.first_year; year <= cx.last_year; ++year) {
      for (int month = 1; month <= 12; ++month) {
        double basic = e.salary;
        double ot = (month + e.index) % 4 == 0 ? 150 : 0;
        double allowance = 100;
        double gross = basic + ot + allowance;
        double cpfee = e.foreign ? 0 : support::RoundToDecimals(0, gross * 0.20);
        double cpfer = e.foreign ? 0 : support::RoundToDecimals(0, gross * 0.16);
        double fwl = e.foreign ? 250 : 0;
        double nett = gross - cpfee;
        w.Add({{"EMPCODE", e.no},
               {"PERIOD", Period(year, month)},
               {"CYCLE", "1"},
               {"CATEGORY", e.category},
               {"DEPARTMENT", e.department},
               {"COSTCENTE", e.cost_centre},
               {"PAY_DATE", DateText(year, month, 25)},
               {"BASIC_WAGE", Amount(basic)},
               {"OT_AMOUNT", Amount(ot)},
               {"ALLOWANCE", Amount(allowance)},
               {"DEDUCTION", "0.00"},
               {"GROSS_WAGE", Amount(gross)},
               {"CPFEE", Amount(cpfee)},
               {"CPFER", Amount(cpfer)},
               {"SDF", Amount(std::min(gross, 4500.0) * 0.0025)},
               {"FWL", Amount(fwl)},
               {"NETT_WAGE", Amount(nett)}});
      }
    }
  }
}

void YearToDateRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    for (int year = cx.first_year; year <= cx.last_year; ++year) {
      double ow = std::min(e.salary, 4500.0) * 12;
      w.Add({{"EMPCODE", e.no},
             {"YEAR", std::to_string(year)},
             {"CPFOWWAGE", Amount(ow)},
             {"CPFAWWAGE", Amount(e.salary)},
             {"ACTUAL_AW_PAID", Amount(e.salary)},
             {"CPFEE", Amount(e.foreign ? 0 : ow * 0.2)},
             {"CPFER", Amount(e.foreign ? 0 : ow * 0.16)}});
    }
  }
}

void AllowanceRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    w.Add({{"EMPCODE", e.no},
           {"ALW_CODE", "TPT"},
           {"AMOUNT", "100.00"},
           {"END_YEAR", std::to_string(cx.last_year + 1)},
           {"END_MTH", "12"}});
  }
}

void AppraisalRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 3 != 0) continue;
    w.Add({{"EMP_CODE", e.no},
           {"APPRAISAL_DATE", DateText(cx.last_year, 6, 30)},
           {"APPRAISER", cx.employees[0].no},
           {"SCORE", std::to_string(60 + e.index % 40)},
           {"NEXT_APPR_DATE", DateText(cx.last_year + 1, 6, 30)}});
    if (e.index % 6 == 0) {
      w.Add({{"EMP_CODE", e.no},
             {"APPRAISAL_DATE", DateText(cx.last_year - 1, 6, 30)},
             {"APPRAISER", cx.employees[0].no},
             {"SCORE", "70"}});
    }
  }
}

void AppraisalDetailRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 3 != 0) continue;
    for (int k = 1; k <= 2; ++k) {
      w.Add({{"EMPCODE", e.no},
             {"APPRAISAL_DATE", DateText(cx.last_year, 6, 30)},
             {"DATE_SERIALNUM", std::to_string(k)},
             {"ITEM", k == 1 ? "QUALITY" : "TEAMWORK"},
             {"SCORE", "3"}});
    }
  }
}

void EducationRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    support::CalendarDate born = support::DecodeDate(e.birth);
    w.Add({{"EMP_CODE", e.no},
           {"ID", "0"},
           {"SCHOOL", "NANYANG POLYTECHNIC"},
           {"QUALIFICATION", "DIP"},
           {"FROM_DATE", DateText(born.year + 17, 4, 1)},
           {"TO_DATE", DateText(born.year + 20, 3, 31)},
           {"DETAIL_1", "DIPLOMA IN ENGINEERING"}});
    if (e.index % 2 == 0) {
      w.Add({{"EMP_CODE", e.no},
             {"ID", "0"},
             {"SCHOOL", "NATIONAL UNIVERSITY OF SINGAPORE"},
             {"QUALIFICATION", "DEG"},
             {"DETAIL_1", "BACHELOR OF ENGINEERING"},
             {"DETAIL_2", "SECOND UPPER HONOURS"}});
    }
  }
}

void NationalServiceRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (!e.male || e.foreign || e.index % 4 != 2) continue;
    support::CalendarDate born = support::DecodeDate(e.birth);
    w.Add({{"EMP_CODE", e.no},
           {"NS_PSA_SERVICE", "Y"},
           {"ENLISTMENT_DATE", DateText(born.year + 18, 3, 1)},
           {"NS_ORD", DateText(born.year + 20, 2, 28)},
           {"NS_RANK", "CPL"}});
  }
}

void LeaveRows(const CompanyContext& cx, TableWriter& w) {
  int id = 1;
  for (const Employee& e : cx.employees) {
    for (int k = 0; k < 2; ++k) {
      double start = support::EncodeDate(cx.last_year, 3 + 4 * k, 5 + e.index % 20);
      w.Add({{"EMPCODE", e.no},
             {"START_DATE", DateText(start)},
             {"END_DATE", DateText(start + 1)},
             {"LEAVE_CODE", k == 0 ? "AL" : "MC"},
             {"ID", std::to_string(id++)},
             {"DAYS", "2"},
             {"REMARKS", k == 0 ? "FAMILY TRIP" : "FEVER"}});
    }
  }
}

void MedicalRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 2 != 1) continue;
    w.Add({{"EMPCODE", e.no},
           {"MEDICAL_CODE", "GP"},
           {"CLAIM_DATE", DateText(cx.last_year, 8, 12)},
           {"AMOUNT", "35.00"},
           {"EMPLOYER_PERCENT", "100"}});
  }
}

void TrainingRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 3 != 1) continue;
    w.Add({{"EMP_CODE", e.no},
           {"COURSE_CODE", "WSH01"},
           {"START_DATE", DateText(cx.last_year, 2, 6)},
           {"END_DATE", DateText(cx.last_year, 2, 7)},
           {"EXPIRY_DATE", DateText(cx.last_year + 2, 2, 7)},
           {"VALIDPERIOD", "24"},
           {"COST", "350.00"}});
  }
}

void EntitlementRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    w.Add({{"EMPCODE", e.no},
           {"LEAVE_CODE", "AL"},
           {"YEAR", std::to_string(cx.last_year)},
           {"ENTITLE", std::to_string(14 + e.index % 7)},
           {"CURRENT", std::to_string(3 + e.index % 5)}});
  }
}

void TransferRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 4 != 3) continue;
    w.Add({{"EMPCODE", e.no},
           {"TRANSFER_DATE", DateText(cx.last_year, 7, 1)},
           {"FROM_DEPT", "OPS"},
           {"TO_DEPT", e.department},
           {"REMARKS", "RE-ORGANISATION"}});
  }
}

void CostCentreRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 5 != 0) continue;
    for (int month = 1; month <= 3; ++month) {
      w.Add({{"EMPCODE", e.no}, {"PERIOD", Period(2002, month)}, {"COST_CENTRE", "CC100"}, {"PERCENT", "100"}});
    }
  }
}

void SetupRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (!e.supervisor || e.index % 8 != 0) continue;
    w.Add({{"EMPID", e.no},
           {"EMPCOM", cx.company->code},
           {"MODE", "direct"},
           {"CAT", "none"},
           {"SUBCOM", cx.company->code},
           {"SUBCODE", e.no},
           {"EMPNAME", e.name}});
  }
}

void PayGroupPeriodRows(const CompanyContext& cx, TableWriter& w) {
  for (int year = cx.first_year; year <= cx.last_year; ++year) {
    for (int month = 1; month <= 12; ++month) {
      w.Add({{"PAY_GROUP", "MONTHLY"},
             {"PERIOD", Period(year, month)},
             {"START_DATE", DateText(support::EncodeDate(year, month, 0) - 9)},
             {"END_DATE", DateText(year, month, 20)}});
    }
  }
}

void ParameterRows(const CompanyContext& cx, TableWriter& w) {
  char version[16];
  std::snprintf(version, sizeof version, "%.2f", cx.company->release);
  w.Add({{"VERSION", version},
         {"CPF_NO", "198700123K"},
         {"ADDRESS1", "10 ANSON ROAD"},
         {"ADDRESS2", "#20-01 INTERNATIONAL PLAZA"},
         {"POSTAL_CODE", "079903"},
         {"TEL_NO", "62201234"},
         {"PAYDAY", "25"},
         {"OT_RATE", "1.5"},
         {"ROUNDING", "2"}});
}

void YearParameterRows(const CompanyContext& cx, TableWriter& w) {
  for (int year = std::min(2004, cx.first_year); year <= cx.last_year; ++year) {
    w.Add({{"YEAR", std::to_string(year)},
           {"COMPANY", cx.company->name},
           {"MASTER", "MASTER"},
           {"SDF_MAX", "4500"},
           {"SDF_MIN", "2"},
           {"SDF", "0.25"},
           {"CPF_CEILING", "4500"},
           {"FWL_CODE", "FWL"}});
  }
}

void SubmissionRows(const CompanyContext& cx, TableWriter& w) {
  for (int year = cx.last_year - 1; year <= cx.last_year; ++year) {
    w.Add({{"YEAR", std::to_string(year)}, {"CPF_SUBMISSION", "198700123K-PTE-01"}, {"OTH_ACCT_NO", "MBF1234"}});
  }
}

void CounterRows(const CompanyContext& cx, TableWriter& w) {
  w.Add({{"TRNNO", "1502"},
         {"LAST_EMP_NO", cx.employees.empty() ? "" : cx.employees.back().no},
         {"VOUCHER_NO", "120"},
         {"BANK_FILE_NO", "12"},
         {"CLAIM_NO", "30"}});
}

void VisaRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (!e.foreign) continue;
    w.Add({{"EMPCODE", e.no}, {"VISA_NO", e.pass_no}, {"EXPIRY_DATE", DateText(cx.last_year + 1, 6, 30)}});
  }
}

void PlacementRows(const CompanyContext& cx, TableWriter& w) {
  for (const Employee& e : cx.employees) {
    if (e.index % 3 != 2) continue;
    w.Add({{"EMPCODE", e.no}, {"PERIOD", Period(cx.last_year, 12)}, {"SALARY", Amount(e.salary + 200)}});
  }
}

const std::map<std::string, Generator, std::less<>>& Generators() {
  static const std::map<std::string, Generator, std::less<>> generators = {
      {"EMPLOYEE", EmployeeRows},
      {"E_EMPLOYEE", FormerEmployeeRows},
      {"EMPLOYMT", EmploymentRows},
      {"EMPMISC", MiscRows},
      {"EMP_PROS", CareerRows},
      {"EMPSERV", ServiceRows},
      {"FAMILY", FamilyRows},
      {"EMP_BNK", BankAccountRows},
      {"P_HTRX", PayrollRows},
      {"YTDEMPL", YearToDateRows},
      {"EMP_ALW", AllowanceRows},
      {"APPR", AppraisalRows},
      {"APPRDTL", AppraisalDetailRows},
      {"EDUCATE", EducationRows},
      {"NSMAN", NationalServiceRows},
      {"EMPLEAVE", LeaveRows},
      {"MEDICAL", MedicalRows},
      {"TRAINING", TrainingRows},
      {"COSTCTR", CostCentreRows},
      {"SETUP", SetupRows},
      {"PGRP_TRX", PayGroupPeriodRows},
      {"PAYPARA", ParameterRows},
      {"PAYPARA1", YearParameterRows},
      {"PAYPARA2", SubmissionRows},
      {"TRNNO", CounterRows},
      {"EMPENT", EntitlementRows},
      {"transfer", TransferRows},
      {"VIZAVARA", VisaRows},
      {"PLACEMENT_SALARY", PlacementRows},
  };
  return generators;
}

bool InList(std::string_view name, std::span<const std::string_view> list) {
  return std::any_of(list.begin(), list.end(),
                     [&](std::string_view n) { return platform::SameNameIgnoreCase(n, name); });
}

// --- dictionary ------------------------------------------------------------------

void SetSwitch(dbaccess::TDbDictionary& d, const std::string& table, std::uint16_t property, std::uint16_t value) {
  d.SetTableProperty(table, property, &value, sizeof value, 0, "");
}

// Binds every table of the folder to a new dictionary <code>.kdd, with the
// users and rights of the application; encrypted tables get the
// dictionary's encryption.
void BindToDictionary(const std::string& folder, const DemoCompany& company,
                      const std::vector<const TableDefinition*>& tables) {
  constexpr std::uint16_t kAutoCreate = 203;
  constexpr std::uint16_t kEncryption = 214;
  const std::string kdd = folder + "\\" + company.code + ".kdd";
  dbaccess::CreateDataDictionary(kdd, support::AdministratorPassword(), company.name);
  dbaccess::TDbDictionary d;
  d.SetConnectPath(kdd);
  d.SetUserName(support::AdministratorUser());
  d.SetPassword(support::AdministratorPassword());
  d.SetLoginPrompt(false);
  d.SetDbServerTypes({dbaccess::stDB_REMOTE, dbaccess::stDB_LOCAL});
  d.SetIsConnected(true);
  for (const DictionaryUser& u : kDictionaryUsers) d.CreateUser("", u.name, u.password, "KX8 USER");
  for (const TableDefinition* def : tables) {
    std::string name = def->name;
    if (InList(name, kNamesWithExtension)) name += ".KDT";
    d.AddTable(name, std::string(def->name) + ".KDT", "", "", dbaccess::ttDbKDT, dbaccess::TDbCharTypes::ANSI);
    if (def->encrypted) SetSwitch(d, name, kEncryption, 1);
    for (const DictionaryUser& u : kDictionaryUsers) d.SetObjectAccessRights(name, u.name, u.rights);
    SetSwitch(d, name, kAutoCreate, 1);
  }
  d.SetIsConnected(false);
}

// --- folders, register, archives ---------------------------------------------------

void MakeFolder(const std::string& path) {
  if (!platform::ForceDirectories(path)) throw std::runtime_error("The folder " + path + " could not be created.");
}

void BuildRegister(const std::string& root, const DemoOptions& options, const std::vector<const DemoCompany*>& list) {
  TDbConnection c;
  ConnectFolder(c, root);
  TDbTable t;
  t.SetDbConnection(&c);
  t.SetTableName("mcompany.KDT");
  t.SetExclusive(true);
  t.SetTableType(dbaccess::ttDbKDT);
  if (t.TableExists()) throw std::runtime_error("The folder " + root + " holds a company register already.");
  t.DbTableOptions().SetDbCharType(dbaccess::TDbCharTypes::ANSI);
  // The register's fields and index, as the upgrade tool creates them.
  t.FieldDefs().Clear();
  t.FieldDefs().Add("COMPANY_CODE", dbaccess::ftString, 8);
  t.FieldDefs().Add("COMPANY_NAME", dbaccess::ftString, 40);
  t.FieldDefs().Add("TOTAL_STAFF", dbaccess::ftInteger);
  t.FieldDefs().Add("PAYROLL_ACCESS_NO", dbaccess::ftInteger);
  t.FieldDefs().Add("MERGE", dbaccess::ftString, 1);
  t.FieldDefs().Add("BACKUPDATE2", dbaccess::ftDate);
  t.FieldDefs().Add("BACKUPDATE", dbaccess::ftDate);
  t.CreateTable();
  t.Open();
  t.AddIndex("PRIMARY", "COMPANY_CODE", {dbaccess::ixUnique, dbaccess::ixExpression});
  int access_no = 1;
  for (const DemoCompany* company : list) {
    t.Append();
    t.FieldByName("COMPANY_CODE").SetAsString(company->code);
    t.FieldByName("COMPANY_NAME").SetAsString(company->name);
    t.FieldByName("TOTAL_STAFF").SetAsInteger(options.employees);
    t.FieldByName("PAYROLL_ACCESS_NO").SetAsInteger(access_no++);
    t.FieldByName("MERGE").SetAsString("0");
    t.FieldByName("BACKUPDATE").SetAsString(DateText(options.last_year, 12, 31));
    t.Post();
  }
  t.Close();
}

// Builds the tables of a list in a scratch folder and returns their files
// as archive entries.
std::vector<ZipEntry> TablesAsEntries(const std::string& scratch, std::span<const std::string_view> names,
                                      SeedTarget target) {
  MakeFolder(scratch);
  {
    TDbConnection c;
    ConnectFolder(c, scratch);
    for (std::string_view name : names) {
      const TableDefinition* def = FindDemoTable(name);
      if (def == nullptr) throw std::logic_error("no definition of " + std::string(name));
      // The release ships its templates with the release's columns.
      BuildTable(c, *def, false, target, {}, kCurrentRelease);
    }
  }
  std::vector<ZipEntry> entries;
  for (const platform::FoundEntry& f : platform::FindEntries(scratch + "*.*", platform::FindAttr::Files)) {
    entries.push_back({f.name, ReadFileBytes(scratch + f.name)});
  }
  return entries;
}

void RemoveFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(platform::ResolvePath(path), ec);
}

std::vector<const DemoCompany*> SelectedCompanies(const DemoOptions& options) {
  std::vector<const DemoCompany*> list;
  for (const DemoCompany& c : kCompanies) {
    if (options.companies.empty() ||
        std::any_of(options.companies.begin(), options.companies.end(),
                    [&](const std::string& code) { return platform::SameNameIgnoreCase(code, c.code); })) {
      list.push_back(&c);
    }
  }
  if (list.size() != (options.companies.empty() ? std::size(kCompanies) : options.companies.size())) {
    throw std::invalid_argument("Unknown demo company code.");
  }
  return list;
}

void CheckOptions(const DemoOptions& o) {
  if (o.employees < 1 || o.employees > 99999) throw std::invalid_argument("--employees must be 1 to 99999.");
  if (o.years < 1 || o.years > 30) throw std::invalid_argument("--years must be 1 to 30.");
  if (o.last_year < 2005 || o.last_year > 2099)
    throw std::invalid_argument("The last payroll year must be 2005 to 2099.");
}

}  // namespace

std::vector<FieldSpec> FieldsAtRelease(const TableDefinition& def, double release) {
  std::vector<FieldSpec> fields = ParseFieldList(def.fields);
  // Run 14 holds what the releases before 8.60 added, so a company at 8.60
  // or later has had it applied already.
  const bool current = AtCurrentRelease(release), since_860 = release > 8.60 - 0.00005;
  if (!current && !since_860) return fields;
  std::vector<dbaccess::TFieldDef> defs;
  for (const FieldSpec& f : fields) defs.push_back({f.name, f.type, f.size, 0});
  schema::ApplyIssuedColumns(def.name, defs, [&](const schema::IssuedColumn& c) { return current || c.run == 14; });
  fields.clear();
  for (const dbaccess::TFieldDef& d : defs) fields.push_back({d.Name, d.DataType, d.Size});
  return fields;
}

std::span<const DemoCompany> DemoCompanies() { return kCompanies; }

std::span<const DictionaryUser> DemoDictionaryUsers() { return kDictionaryUsers; }

DemoCounts ExpectedCounts(const DemoOptions& options) {
  return {options.employees, options.employees * 12 * options.years + CareerAndBankPayrollRows(options)};
}

std::string WithSeparator(const std::string& root) {
  if (!root.empty() && (root.back() == '\\' || root.back() == '/')) return root;
  return root + "\\";
}

void BuildDemoCompany(const std::string& root, const DemoCompany& company, const DemoOptions& options) {
  CheckOptions(options);
  CompanyContext cx;
  cx.company = &company;
  cx.options = &options;
  cx.last_year = options.last_year;
  cx.first_year = options.last_year - options.years + 1;
  cx.employees = MakeEmployees(company, options, cx.first_year);

  const std::string folder = WithSeparator(root) + "COMPANY\\" + company.code;
  MakeFolder(folder);
  std::vector<const TableDefinition*> tables;
  {
    TDbConnection c;
    ConnectFolder(c, folder);
    for (const TableDefinition& def : DemoTables()) {
      if (def.scope == TableScope::Shared) continue;
      if (def.scope == TableScope::Customer && !company.customer_tables) continue;
      tables.push_back(&def);
      auto generator = Generators().find(def.name);
      BuildTable(
          c, def, StoredEncrypted(def, company), SeedTarget::Company,
          [&](TableWriter& w) {
            for (const SeedBlock& seed : ReportCatalogueSeeds(def.name, company.release)) w.AddSeed(seed);
            if (generator != Generators().end()) generator->second(cx, w);
          },
          company.release);
    }
    AddCareerAndBankRows(c, company, options);
    AddClaimAndRecordRows(c, options);
  }
  if (company.dictionary) BindToDictionary(folder, company, tables);
}

void BuildDemoRoot(const std::string& root_arg, const DemoOptions& options) {
  CheckOptions(options);
  const std::string root = WithSeparator(root_arg);
  std::vector<const DemoCompany*> companies = SelectedCompanies(options);
  MakeFolder(root);
  BuildRegister(root, options, companies);
  for (const DemoCompany* company : companies) BuildDemoCompany(root, *company, options);

  // The supervisor table shared by all companies, with one supervisor of
  // the first company registered already.
  MakeFolder(root + "SHARE_FOLDER");
  {
    TDbConnection c;
    ConnectFolder(c, root + "SHARE_FOLDER");
    const TableDefinition* def = FindDemoTable("SUPVRTBL");
    BuildTable(c, *def, false, SeedTarget::Company, [&](TableWriter& w) {
      std::vector<Employee> first = MakeEmployees(*companies.front(), options, options.last_year - options.years + 1);
      w.Add({{"EMP_NO", first.front().no}, {"EMP_NAME", first.front().name}});
    });
  }

  MakeFolder(root + "KELPATMP");
  {
    TDbConnection c;
    ConnectFolder(c, root + "KELPATMP");
    for (const TableDefinition& def : kTemporaryTables) {
      BuildTable(c, def, false, SeedTarget::Company, [](TableWriter& w) {
        w.Add({{"EMPCODE", "E10001"}, {"AMOUNT", "100.00"}});
      });
    }
  }
  MakeFolder(root + "IMAGE");

  const std::string scratch = root + "~kx8db.tmp\\";
  RemoveFolder(scratch);
  try {
    std::vector<ZipEntry> release =
        TablesAsEntries(scratch + "release\\", kReleaseTemplates, SeedTarget::ReleaseArchive);
    release.push_back({kLibraryName, kLibraryContent});
    WriteZip(root + "UPDATEKX8.ZIP", release);
    WriteZip(root + "RPTDATA.ZIP", TablesAsEntries(scratch + "report\\", kReportTables, SeedTarget::ReportArchive));
  } catch (...) {
    RemoveFolder(scratch);
    throw;
  }
  RemoveFolder(scratch);

  WriteZip(root + "wallpaper.zip", {{"wallpaper.jpg", MakeJpeg(320, 200, 7)}});
  WriteFileBytes(root + "KELPA.ini", kIniExample);
}

}  // namespace kx8::tools
