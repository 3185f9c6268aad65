#include "tools/demo_report_catalogue.h"

#include <string>

#include "platform/path.h"
#include "schema/report_fields.h"

namespace kx8::tools {
namespace {

constexpr char kReportColumns[] = "NO|NO2|HEADING|DATABASE1|FIELD|CODE|WIDTH|TYPE1|HIDE_WAGE";

constexpr char kRows850[] =
    "1|1|EMPLOYEE NO|EMPLOYEE|EMP_NO||12|A|F\n"
    "2|2|NAME|EMPLOYEE|EMP_NAME||30|A|F\n"
    "3|3|NRIC|EMPLOYEE|NEW_IC||16|A|F\n"
    "9|9|BASIC SALARY|EMPLOYEE|BASIC_SALARY||12|A|F\n"
    "20|18|NEW SALARY|EMP_PROS|NEW_SALARY||12|N|F\n"
    "21|19|OLD SALARY|EMP_PROS|OLD_SALARY||12|N|\n"
    "30|28|DEPARTMENT DESC|EMPLOYEE|DEP-DESC|DEPT|30|A|F\n"
    "51|46|CATEGORY DESC|EMPLOYEE|CAT-DESC|CAT|30|A|F\n"
    "57|52|COST CENTRE DESC|EMPLOYEE|CST-DESC|CC|30|A|F\n"
    "69|60|OCCUPATION DESC|EMPLOYEE|OCU-DESC|OCU|30|A|F\n"
    "80|70|GRADE|EMP_PROS|GRADE||8|A|F\n"
    "140|120|REMARKS|EMP_PROS|REMARKS||20|A|F\n"
    "405|390|CPF ACCOUNT|EMPLOYEE|CPF_AC||8|A|F\n"
    "710|700|OLD FIELD|EMPLOYEE|OLD_FIELD||10|A|F\n"
    "722|701|DESC|CODE|DESC||30|A|F\n"
    "734|702|COMPANY DESC|EMPLOYEE|COMPANY||30|A|F\n"
    "938|430|SECTION DESC|EMP_PROS|SEC-DESC|SECTION|30|A|F\n"
    "1054|520|HOSPITAL|MEDICAL|HOSPITAL|HIC|8|A|F\n"
    "1059|900|WARD|MEDICAL|WARD|WARD|8|A|F\n"
    "1060|901|WARD DESC|MEDICAL|WARD-DESC||30|A|F\n"
    "1200|950|DATE OF ACTION|DISC|ACTION_DATE||10|D|F\n"
    "1212|951|CURRENCY|EMPLOYEE|FCURR_CODE||8|A|F\n"
    "9080|88|EMPL PASS APPLY DATE|EMPLOYEE|NTL_DATE||8|D|F\n"
    "1500||TRANSPORT ALLOWANCE|ALLW|TPT|AMOUNT|12|N|T\n"
    "1501||MEAL ALLOWANCE|ALLW|MEAL|AMOUNT|12|N|T\n"
    "1502||LOAN DEDUCTION|ALLW|LOAN|AMOUNT|12|N|T\n";

constexpr char kRowsAdded86x[] =
    "993|504|MEDICAL EMPLOYER%|MEDICAL|EMPLOYER_PERCENT||12|N|F\n"
    "268||EMPL PASS ISSUED DATE|EMPLOYEE|EMP_PASS_ISSUE_DATE||10|D|F\n"
    "1201|952|DEMERIT POINT|DISC|DEMERIT_POINT||6|N|\n"
    "1208||COMPANY DESC|DISC|COM-DESC|COMPANY_CODE|60|A|\n"
    "1215||DEPARTMENT DESC|TRAINING|||||\n"
    "1250||STARTDATE|EMP_ALW|STARTDATE||10|D|F\n"
    "1256||MODIFIED_DATE|EMPLEAVE|MODIFIED_DATE||10|D|F\n";

// The 8.50 rows that the report field catalogue does not rewrite as a
// complete upgrade leaves them: corrected, EMP_PROS numbers marked as
// wages, widths of 20 and 30 made 60. The catalogue's own rows are added
// to these below.
constexpr char kRowsUpgraded[] =
    "1|1|EMPLOYEE NO|EMPLOYEE|EMP_NO||12|A|F\n"
    "3|3|NRIC|EMPLOYEE|NEW_IC||16|A|F\n"
    "9|9|BASIC SALARY|EMPLOYEE|BASIC_SALARY||12|N|T\n"
    "20|18|NEW SALARY|EMP_PROS|NEW_SALARY||12|N|T\n"
    "21|19|OLD SALARY|EMP_PROS|OLD_SALARY||12|N|T\n"
    "30|28|DEPARTMENT DESC|EMPLOYEE|DEP-DESC|DEPARTMENT|60|A|F\n"
    "51|46|CATEGORY DESC|EMPLOYEE|CAT-DESC|CATEGORY|60|A|F\n"
    "57|52|COST CENTRE DESC|EMPLOYEE|CST-DESC|COST_CENTRE|60|A|F\n"
    "69|60|OCCUPATION DESC|EMPLOYEE|OCU-DESC|OCCUPATION|60|A|F\n"
    "80|70|GRADE|EMP_PROS|GRADE||8|A|F\n"
    "140|120|REMARKS|EMP_PROS|REMARKS||60|A|F\n"
    "405|390|CPF ACCOUNT|EMPLOYEE|CPF_AC||8|A|F\n"
    "722|701|DESC|CODE|DESC||60|A|F\n"
    "734|702|COMPANY DESC|EMPLOYEE|COMPANY||60|A|F\n"
    "938|430|SECTION DESC|EMP_PROS|SEC-DESC|SECTION|60|A|F\n"
    "1054|520|HOSPITAL|MEDICAL|HOSPITAL|HIC|8|A|F\n"
    "1059|900|WARD|MEDICAL|WARD|WARD|8|A|F\n"
    "1060|901|WARD DESC|MEDICAL|WARD-DESC||60|A|F\n"
    "1200|950|DATE OF ACTION|DISC|ACTION_DATE||10|D|F\n"
    "1212|951|CURRENCY|EMPLOYEE|FCURR_CODE||8|A|F\n"
    "1500||TRANSPORT ALLOWANCE|ALLW|TPT|AMOUNT|12|N|T\n"
    "1501||MEAL ALLOWANCE|ALLW|MEAL|AMOUNT|12|N|T\n"
    "1502||LOAN DEDUCTION|ALLW|LOAN|AMOUNT|12|N|T\n";

constexpr SeedBlock kDetails = {
    SeedTarget::Company, "RTPDETL", "RPTCODE|ID|HEADING|WIDTH|SORT|COL|DATABASE1|FIELD|CODE",
    "R01|1|EMPLOYEE NO|12|Y|1|EMPLOYEE|EMP_NO|\n"
    "R01|2|NAME|30|N|2|EMPLOYEE|EMP_NAME|\n"
    "R01|3|TRANSPORT|12|N|1500|ALLW|TPT|AMOUNT\n"
    "R01|4|MEAL|12|N|1501|ALLW|MEAL|AMOUNT\n"
    "R02|1|DEPARTMENT|30|Y|30|EMPLOYEE|DEP-DESC|DEPT\n"};

constexpr SeedBlock kAllowances = {
    SeedTarget::Company, "ALLOWNCE", "ALLOW_CODE|YEAR|DESC|TRNNO|TYPE",
    "LOAN|2012|STAFF LOAN DEDUCTION|1502|D\n"
    "MEAL|2011|MEAL ALLOWANCE|1501|A\n"
    "MEAL|2012|MEAL ALLOWANCE (REVISED)|1501|A\n"
    "TPT|2012|TRANSPORT ALLOWANCE|1500|A\n"};

std::vector<schema::ReportRowValues> ParseRows(std::string_view text) {
  std::vector<schema::ReportRowValues> rows;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::vector<std::string> values = SplitValues(text.substr(0, end));
    schema::ReportRowValues row;
    for (std::size_t i = 0; i < row.size() && i < values.size(); ++i) row[i] = values[i];
    rows.push_back(row);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return rows;
}

// The upgraded rows with the catalogue applied, as seed text; made once.
const std::string& CurrentRows() {
  static const std::string text = [] {
    std::string out;
    for (const auto& [no, row] : schema::ApplyReportFieldCatalogue(ParseRows(kRowsUpgraded), true)) {
      std::string line;
      for (const std::string& value : row) line += (line.empty() ? "" : "|") + value;
      out += line + "\n";
    }
    return out;
  }();
  return text;
}

const std::string& Rows86x() {
  static const std::string text = std::string(kRows850) + kRowsAdded86x;
  return text;
}

}  // namespace

std::vector<SeedBlock> ReportCatalogueSeeds(std::string_view table, double release) {
  if (platform::SameNameIgnoreCase(table, "RTPDETL")) return {kDetails};
  if (platform::SameNameIgnoreCase(table, "ALLOWNCE")) return {kAllowances};
  if (!platform::SameNameIgnoreCase(table, "RTABLE")) return {};
  const char* rows = kRows850;
  if (release > 9.07 - 0.00005) {
    rows = CurrentRows().c_str();
  } else if (release > 8.60 - 0.00005) {
    rows = Rows86x().c_str();
  }
  return {SeedBlock{SeedTarget::Company, "RTABLE", kReportColumns, rows}};
}

}  // namespace kx8::tools
