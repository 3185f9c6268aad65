#include "tools/demo_seeds.h"

#include "platform/path.h"
#include "tools/demo_employee_seeds.h"
#include "tools/demo_levy_seeds.h"

namespace kx8::tools {
namespace {

using enum SeedTarget;

constexpr SeedBlock kSeeds[] = {
    // Code table. "STUDENT" has no occupation row on purpose, and the
    // "MED" rows give the claim method C.
    {Company, "CODE", "CATEGORY|CODE|DESC|METHOD|N1CLAIM",
     "OCU|ENG|ENGINEER||\n"
     "OCU|ACC|ACCOUNTANT||\n"
     "OCU|CLK|CLERK||\n"
     "OCU|DRV|DRIVER||\n"
     "OCU|MGR|MANAGER||\n"
     "OCU|TCH|TEACHER||\n"
     "OCU|NUR|NURSE||\n"
     "OCU|TEC|TECHNICIAN||\n"
     "OCU|SLS|SALES EXECUTIVE||\n"
     "DEP|ADM|ADMINISTRATION||\n"
     "DEP|FIN|FINANCE||\n"
     "DEP|OPS|OPERATIONS||\n"
     "DEP|SAL|SALES||\n"
     "DEP|IT|INFORMATION TECHNOLOGY||\n"
     "CAT|EXE|EXECUTIVE||\n"
     "CAT|NEX|NON-EXECUTIVE||\n"
     "CAT|MGT|MANAGEMENT||\n"
     "CST|CC100|HEAD OFFICE||\n"
     "CST|CC200|WAREHOUSE||\n"
     "CST|CC300|OUTLETS||\n"
     "DIV|NORTH|NORTH DIVISION||\n"
     "DIV|SOUTH|SOUTH DIVISION||\n"
     "SEC|S1|SECTION ONE||\n"
     "SEC|S2|SECTION TWO||\n"
     "JOB|G1|GRADE 1||\n"
     "JOB|G2|GRADE 2||\n"
     "JOB|G3|GRADE 3||\n"
     "JOB|G4|GRADE 4||\n"
     "MED|GP|GENERAL PRACTITIONER|C|GP01\n"
     "MED|SPL|SPECIALIST||SP01\n"
     "MED|DENT|DENTAL||\n"
     "RE|WIFE|WIFE||\n"
     "SOU|ENG|ENGINEER (SPOUSE)||\n"
     "BEN|EXE|OLD EXECUTIVE SCHEME||\n"
     "NAT|SG|SINGAPOREAN||\n"
     "NAT|MY|MALAYSIAN||\n"
     "NAT|IN|INDIAN||\n"
     "NAT|CN|CHINESE||\n"
     "NAT|PH|FILIPINO||\n"
     "RAC|C|CHINESE||\n"
     "RAC|M|MALAY||\n"
     "RAC|I|INDIAN||\n"
     "RAC|O|OTHERS||\n"},

    // Report catalogue: RTABLE, RTPDETL and ALLOWNCE come with each
    // company's release (demo_report_catalogue.h).
    {Company, "RTPHD", "RPTCODE|DESCR",
     "R01|EMPLOYEE ALLOWANCES\n"
     "R02|HEADCOUNT\n"},

    // Foreign worker levy rates. 2004 has no "SPASS" row; the 2012 rows
    // carry the monthly amounts whose daily rates the release recomputes.
    {Company, "FW_LEVY", "YEAR|CLASS|CATEGORY|DESC|DAILY_RATE|MAX_PER_MTH",
     "2004|CLASS1|FWL|CLASS 1 WORKER|1|30\n"
     "2004|CLASS2|FWL|CLASS 2 WORKER|6.58|200\n"
     "2004|CW1|FWL|CONSTRUCTION SKILLED|8.55|260\n"
     "2007|CLASS1|FWL|CLASS 1 WORKER|3.29|100\n"
     "2007|CLASS2|FWL|CLASS 2 WORKER|7.89|240\n"
     "2007|SPASS|FWL|S PASS|3.29|100\n"
     "2007|CW1|FWL|CONSTRUCTION SKILLED|2.63|80\n"
     "2012|CLASS1|FWL|CLASS 1 WORKER||250\n"
     "2012|CLASS2|FWL|CLASS 2 WORKER||150\n"
     "2012|CW1|FWL|CONSTRUCTION SKILLED||470\n"
     "2012|SPASS|FWL|S PASS||30.40\n"
     "2012|CW2|FWL|CONSTRUCTION UNSKILLED||365\n"
     "2012|HOUSE|FWL|DOMESTIC HELPER||0.73\n"
     "2012|TRAINEE|FWL|TRAINEE|9.99|0\n"},

    {Company, "LIST", "LISTNAME|VALUE|DESCR",
     "PAYMODE|CQ|CHEQUE\n"
     "PAYMODE|CS|CASH\n"
     "PAYMODE|DR|DIRECT CREDIT\n"
     "PAYMODE|DR1|DIRECT CREDIT BANK 1\n"
     "PAYMODE|DR2|DIRECT CREDIT BANK 2\n"},
    {Company, "FREEFIELD", "MODULE|LINE|CTLFIELD|DESCRIPTION|CAPTION",
     "EMP|1|FIELD1|<Description1>|SHOE SIZE\n"
     "EMP|1|FIELD12|<Description12>|LOCKER NO\n"},
    {Company, "FORMULA", "FIELD|DESC|FIELDTABLE|TABLE",
     "VA01|BASIC SALARY|BASIC_SALARY|EMPLOYEE\n"
     "VA62|SHIFT ALLOWANCE RATE|NUMERIC3|EMPMISC\n"},
    {Company, "AUTOSET", "RPTTYPE|REPCODE|REPDESC|ENABLED|FIELDNAME|DATABASENAME|VALUE",
     "OTH|01|CONFIRMATION DUE DATE|T|CONFIRM_DATE|EMPLOYEE|1\n"
     "OTH|10|DEMERIT POINTS|T|DEMERIT_POINT|DISC|30\n"},

    // Claims: three tiers for executives' GP visits, a scheme of the old
    // claim setup that the release replaces.
    {Company, "MEDTABLE", "CATEGORY|MEDICAL_CODE|MAX_CLAIM|FROM|TO",
     "EXE|GP|300|0|1\n"
     "EXE|GP|500|1|5\n"
     "EXE|GP|800|5|99\n"
     "NEX|GP|200|0|99\n"
     "EXE|DENT|150|0|99\n"},
    {Company, "MEDSCH", "SCHEME_CODE|CLAIM_CODE|TRNNO|LIMIT",
     "EXE|GP|101|500\n"},
    {Company, "MEDTBL", "TRNNO|MAX_CLAIM|FROM|TO",
     "101|500|0|99\n"},
    {Company, "ALOCLAIM", "MEDICAL|CODE|MAX_CLAIM",
     "GP|CONSULT|50\n"
     "GP|MEDICINE|80\n"
     "DENT|SCALING|60\n"},
    {Company, "CLAIMGRP", "CODE|DESC",
     "MED|MEDICAL CLAIMS\n"
     "TRV|TRAVEL CLAIMS\n"},
    {Company, "LEAVESET", "PERIOD|CATEGORY|DESCR",
     "2004|C|LEAVE BY CATEGORY\n"
     "2012|C|LEAVE BY CATEGORY\n"},
    {Company, "LEAV_SET", "LEAVE_CODE|DESCR|DAYS",
     "AL|ANNUAL LEAVE|14\n"
     "MC|MEDICAL LEAVE|14\n"
     "CC|CHILDCARE LEAVE|6\n"},

    // Contribution rates: one voluntary scheme row of 2007 exists already.
    {Company, "CPFNEW",
     "YEAR|CPF_CAT|CPF_AGE_TYPE|AGE_CODE|DESC|AGE_FROM|AGE_TO|SALARY_TO1|SALARY_TO2|SALARY_TO3|SALARY_TO4|"
     "SALARY_TO5|S5_AW_EE|S5_AW_ER",
     "2007|VOL1|4|A|Voluntary Scheme 1  : (4) Age from :55 To:60|55|60|50|500|750|1200|1500|12.5|7.5\n"
     "2012|CIT|1|F|Citizen (1) Age from :0 To:50|0|50|50|500|750|1200|1500|20|16\n"
     "2012|CIT|2|F|Citizen (2) Age from :50 To:55|50|55|50|500|750|1200|1500|18|12\n"},

    // Banks. The branch "081" of code "7171" is not listed yet.
    {Company, "pay_bank", "BANK_ID|BANK_BRANCH|BANK_NAME|SWIFT",
     "7171|001|DBS BANK|DBSSSGSG\n"
     "7339|501|OCBC BANK|OCBCSGSG\n"
     "7375|001|UNITED OVERSEAS BANK|UOVBSGSG\n"
     "POSB|081|POST OFFICE SAVINGS BANK|\n"
     "9812|081|POSB (OLD CODE)|\n"},

    {Company, "QUERYHD", "CODE|DESCR", "Q1|EMPLOYEE LIST\n"},
    {Company, "QUERY", "CODE|LINE|FIELDNAME|STATUS|STATUS2",
     "Q1|1|EMP_NO|A|A\n"
     "Q1|2|EMP_NAME|A|A\n"
     "|3|NEW_IC|A|\n"
     "|4|HIRED_DATE||\n"},
    {Company, "PQUERY", "CODE|ID|DESCR", "Q1|1|EMPLOYEE LIST\n"},
    {Company, "GLCOST", "GLCODE|COST_CENTRE|AMOUNT|PERIOD",
     "5000-100|CC100|12000|201212\n"
     "5000-200|CC200|8000|201212\n"},
    {Company, "GLLINE", "LINE|GLCODE|DESCR",
     "1|5000-100|SALARIES\n"
     "2|5000-200|EMPLOYER CPF\n"},
    {Company, "GLHEADER", "LINE|CATEGORY|HEADER", "1|SAL|SALARY JOURNAL\n"},
    {Company, "GLBODY", "LINE|GLCODE|ITEM", "1|5000-100|BASIC\n"},
    {Company, "GLCODE", "GLCODE|DESCR",
     "5000-100|SALARIES\n"
     "5000-200|EMPLOYER CPF\n"},
    {Company, "GLPARA", "GLCODE|DESCR", "5000-100|SALARIES\n"},
    {Company, "PGRP_HDR", "PAY_GROUP|DESCR", "MONTHLY|MONTHLY RATED STAFF\n"},
    {Company, "APP_GRADE_SETUP", "GRADE|FROMMARK|TOMARK|DESCR",
     "A|80|100|EXCELLENT\n"
     "B|60|79.99|GOOD\n"
     "C|0|59.99|FAIR\n"},
    {Company, "JOBGRADE", "JOBGRADE|DESCR",
     "G1|GRADE 1\n"
     "G2|GRADE 2\n"},
    {Company, "EXRATE", "CURR_CODE|RATE_DATE|RATE",
     "USD|2012-12-31|1.2221\n"
     "MYR|2012-12-31|0.3996\n"},
    {Company, "PUBLIC", "PH_DATE|DESCR",
     "2012-01-01|NEW YEAR'S DAY\n"
     "2012-01-23|CHINESE NEW YEAR\n"
     "2012-08-09|NATIONAL DAY\n"
     "2012-12-25|CHRISTMAS DAY\n"},
    {Company, "EMAILPROFILE", "PROFILE|SERVER|PORT|DATAPATH",
     "DEFAULT|mail.example.com.sg|25|C:\\KX8\\EPAYSLIP\n"},
    {Company, "PASS", "USERNAME|PASSWORD|PRINTER|LEVEL|LAST_LOGIN",
     "ADMIN|KELPA|LP|A|2012-12-28\n"
     "PAYROLL|PAY123|LP|B|2012-12-27\n"},
    {Company, "INTPASS", "USERNAME|PASSWORD", "WEBADMIN|web1234\n"},
    {Company, "PASSWORK", "USER|MENU|READ_FLAG",
     "PAYROLL|PAYROLL|T\n"
     "PAYROLL|REPORTS|T\n"},
    {Company, "IR8APARA", "YEAR|AUTH_NAME|AUTH_DESIGNATION", "2012|TAN AH KOW|FINANCE MANAGER\n"},
    {Company, "CASUALD", "CASUAL_CODE|WORK_DATE", "C001|2012-12-15\n"},
    {Company, "SYSCONT", "CODE|VALUE",
     "LASTRUN|2012-12-28\n"
     "PAYROLL|OPEN\n"},
    {Company, "DODIZA_CYCLE", "CYCLE|START_DATE|END_DATE",
     "01|2012-01-01|2012-06-30\n"
     "02|2012-07-01|2012-12-31\n"},
    {Company, "RBITEM", "ITEMID|FOLDER|ITEMNAME",
     "1|PAYROLL|MONTHLY PAYROLL SUMMARY\n"
     "2|HR|HEADCOUNT BY DEPARTMENT\n"},
    {Company, "RBFOLDER", "FOLDERID|NAME",
     "1|PAYROLL\n"
     "2|HR\n"},
    {Company, "RBFIELD", "TABLENAME|FIELDNAME|ALIAS",
     "EMPLOYEE|EMP_NO|EMPLOYEE NO\n"
     "EMPLOYEE|EMP_NAME|NAME\n"},
    {Company, "RBTABLE", "TABLENAME|ALIAS", "EMPLOYEE|EMPLOYEES\n"},
    {Company, "RBJOIN", "TABLE1|TABLE2|JOINEXPR", "EMPLOYEE|P_HTRX|EMPLOYEE.EMP_NO=P_HTRX.EMPCODE\n"},

    // Templates as the older release installed them ...
    {Company, "UPDATETBL", "TABLENAME|VERSION|UPDATED",
     "OUTDSK_D|8.50|2008-06-30\n"
     "GTABLE|8.50|2008-06-30\n"},
    {Company, "OUTDSK_H", "BANK_ID|DESCR|FILENAME", "7171|DBS GIRO|DBSGIRO.TXT\n"},
    {Company, "OUTDSK_D", "BANK_ID|LINE|FIELDNAME|START|LENGTH",
     "7171|1|EMP_NO|1|12\n"
     "7171|2|BANK_AC_NO|13|20\n"},
    {Company, "GTABLE", "CODE|DESCR|VALUE", "CPFMAX|CPF ORDINARY WAGE CEILING|4500\n"},
    {Company, "GLOCHG", "GLCODE|DESCR", "5000-100|SALARIES\n"},
    {Company, "SETCODE", "CODE|DESCR", "S01|STANDARD SET\n"},
    {Company, "OUTGL_D", "GLCODE|LINE|FIELDNAME", "5000-100|1|BASIC_WAGE\n"},
    {Company, "CHECKCODE", "CODE|DESCR", "NRIC|NRIC CHECK DIGIT\n"},
    {Company, "PASSDEF", "MENU|DESCR|DEFAULT_RIGHT", "PAYROLL|PAYROLL MENU|R\n"},

    // ... and as the 9.07 release ships them.
    {ReleaseArchive, "UPDATETBL", "TABLENAME|VERSION|UPDATED",
     "OUTDSK_D|9.07|2012-11-30\n"
     "GTABLE|9.07|2012-11-30\n"
     "PASSDEF|9.07|2012-11-30\n"},
    {ReleaseArchive, "OUTDSK_H", "BANK_ID|DESCR|FILENAME",
     "7171|DBS GIRO|DBSGIRO.TXT\n"
     "7339|OCBC GIRO|OCBCGIRO.TXT\n"
     "7375|UOB GIRO|UOBGIRO.TXT\n"},
    {ReleaseArchive, "OUTDSK_D", "BANK_ID|LINE|FIELDNAME|START|LENGTH",
     "7171|1|EMP_NO|1|12\n"
     "7171|2|BANK_AC_NO|13|40\n"
     "7339|1|EMP_NO|1|12\n"
     "7375|1|EMP_NO|1|12\n"},
    {ReleaseArchive, "GTABLE", "CODE|DESCR|VALUE",
     "CPFMAX|CPF ORDINARY WAGE CEILING|5000\n"
     "CPFAW|CPF ADDITIONAL WAGE CEILING|85000\n"},
    {ReleaseArchive, "GLOCHG", "GLCODE|DESCR", "5000-100|SALARIES AND WAGES\n"},
    {ReleaseArchive, "SETCODE", "CODE|DESCR",
     "S01|STANDARD SET\n"
     "S02|EXTENDED SET\n"},
    {ReleaseArchive, "GLPARA", "GLCODE|DESCR", "5000-100|SALARIES AND WAGES\n"},
    {ReleaseArchive, "OUTGL_D", "GLCODE|LINE|FIELDNAME",
     "5000-100|1|BASIC_WAGE\n"
     "5000-100|2|OT_AMOUNT\n"},
    {ReleaseArchive, "CHECKCODE", "CODE|DESCR",
     "NRIC|NRIC CHECK DIGIT\n"
     "FIN|FIN CHECK DIGIT\n"},
    {ReleaseArchive, "PASSDEF", "MENU|DESCR|DEFAULT_RIGHT",
     "PAYROLL|PAYROLL MENU|R\n"
     "CLAIMS|CLAIMS MENU|R\n"},
    {ReleaseArchive, "BONUS", "EMPCODE|YEAR|BONUS|MONTHS|PAY_DATE", ""},
    {ReleaseArchive, "PUBLIC", "PH_DATE|DESCR",
     "2013-01-01|NEW YEAR'S DAY\n"
     "2013-02-10|CHINESE NEW YEAR\n"
     "2013-08-09|NATIONAL DAY\n"
     "2013-12-25|CHRISTMAS DAY\n"},

    {ReportArchive, "RBFIELD", "TABLENAME|FIELDNAME|ALIAS",
     "EMPLOYEE|EMP_NO|EMPLOYEE NO\n"
     "EMPLOYEE|EMP_NAME|EMPLOYEE NAME\n"
     "P_HTRX|NETT_WAGE|NETT WAGE\n"},
    {ReportArchive, "RBTABLE", "TABLENAME|ALIAS",
     "EMPLOYEE|EMPLOYEES\n"
     "P_HTRX|PAYROLL HISTORY\n"},
    {ReportArchive, "RBJOIN", "TABLE1|TABLE2|JOINEXPR", "EMPLOYEE|P_HTRX|EMPLOYEE.EMP_NO=P_HTRX.EMPCODE\n"},
    {ReportArchive, "RBFOLDER", "FOLDERID|NAME",
     "1|PAYROLL\n"
     "2|HR\n"
     "3|STATUTORY\n"},
};

}  // namespace

std::span<const SeedBlock> DemoSeeds() { return kSeeds; }

std::vector<const SeedBlock*> SeedsFor(SeedTarget target, std::string_view table) {
  // The common seeds first, then those of the units that keep their demo
  // rows in a file of their own.
  const std::span<const SeedBlock> lists[] = {
      kSeeds,
      LevyDemoSeeds(),
      EmployeeDemoSeeds(),
  };
  std::vector<const SeedBlock*> found;
  for (std::span<const SeedBlock> list : lists) {
    for (const SeedBlock& s : list) {
      if (s.target == target && platform::SameNameIgnoreCase(s.table, table)) found.push_back(&s);
    }
  }
  return found;
}

std::vector<std::string> SplitValues(std::string_view line) {
  std::vector<std::string> values;
  while (true) {
    std::size_t at = line.find('|');
    values.emplace_back(line.substr(0, at));
    if (at == std::string_view::npos) break;
    line.remove_prefix(at + 1);
  }
  return values;
}

}  // namespace kx8::tools
