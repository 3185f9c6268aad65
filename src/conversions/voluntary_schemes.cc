#include "conversions/voluntary_schemes.h"

#include <stdexcept>

#include "dbaccess/db_table.h"

namespace kx8::conversions {
namespace {

constexpr int kSchemes = 5;
constexpr char kSchemeYear[] = "2007";

// Age band:                  1        2         3         4         5        6
constexpr SchemeColumn kColumns[] = {
    {"AGE_CODE",      {"F",     "F",      "F",      "A",      "F",     "A"}},
    {"AGE_FROM",      {"0",     "35",     "50",     "55",     "60",    "65"}},
    {"AGE_TO",        {"35",    "50",     "55",     "60",     "65",    "999"}},
    {"SALARY_TO1",    {"50",    "50",     "50",     "50",     "50",    "50"}},
    {"SALARY_TO2",    {"500",   "500",    "500",    "500",    "500",   "500"}},
    {"SALARY_TO3",    {"750",   "750",    "750",    "750",    "750",   "750"}},
    {"SALARY_TO4",    {"1200",  "1200",   "1200",   "1200",   "1200",  "1200"}},
    {"SALARY_TO5",    {"1500",  "1500",   "1500",   "1500",   "1500",  "1500"}},
    {"S5_AW_EE",      {"20",    "20",     "18",     "12.5",   "7.5",   "5"}},
    {"S5_AW_ER",      {"14.5",  "14.5",   "10.5",   "7.5",    "5",     "5"}},
    {"S1_ER%",        {"0.145", "0.0964", "0.0697", "0.0498", "0.0332", "0.0332"}},
    {"S1_MINUS_EE",   {"0",     "0",      "0",      "0",      "0",     "0"}},
    {"S1_MINUS_ER",   {"0",     "50",     "50",     "50",     "50",    "50"}},
    {"S1_ADD_EE",     {"0",     "0",      "0",      "0",      "0",     "0"}},
    {"S1_ADD_ER",     {"0",     "0",      "0",      "0",      "0",     "0"}},
    {"S2_ER%",        {"0.145", "0.0964", "0.0697", "0.0498", "0.0332", "0.0332"}},
    {"S2_MINUS_EE",   {"500",   "500",    "500",    "500",    "500",   "500"}},
    {"S2_MINUS_ER",   {"0",     "50",     "50",     "50",     "50",    "50"}},
    {"S2_ADD_EE",     {"0",     "0",      "0",      "0",      "0",     "0"}},
    {"S2_ADD_ER",     {"0",     "0",      "0",      "0",      "0",     "0"}},
    {"S1_EE%",        {"0",     "0",      "0",      "0",      "0",     "0"}},
    {"S2_EE%",        {"0.48",  "0.48",   "0.432",  "0.3",    "0.18",  "0.12"}},
    {"S3_EE%",        {"0.24",  "0.24",   "0.216",  "0.15",   "0.09",  "0.06"}},
    {"S4_EE%",        {"0.24",  "0.24",   "0.216",  "0.15",   "0.09",  "0.06"}},
    {"S3_ER%",        {"0.145", "0.1966", "0.1315", "0.0825", "0.0416", "0.0416"}},
    {"S5_EE_OW",      {"20",    "20",     "18",     "12.5",   "7.5",   "5"}},
    {"S5_ER_OW",      {"14.5",  "14.5",   "10.5",   "7.5",    "5",     "5"}},
    {"S4_ER%",        {"0.145", "0.205",  "0.165",  "0.135",  "0.11",  "0.11"}},
    {"S3_MINUS_EE",   {"750",   "750",    "750",    "750",    "750",   "750"}},
    {"S4_MINUS_EE",   {"750",   "750",    "750",    "750",    "750",   "750"}},
    {"S3_MINUS_ER",   {"0",     "750",    "750",    "750",    "750",   "750"}},
    {"S4_MINUS_ER",   {"0",     "1200",   "1200",   "1200",   "1200",  "1200"}},
    {"S3_ADD_EE",     {"120",   "120",    "108",    "75",     "45",    "30"}},
    {"S4_ADD_EE",     {"120",   "120",    "108",    "75",     "45",    "30"}},
    {"S3_ADD_ER",     {"0",     "67.5",   "48.825", "34.875", "23.25", "23.25"}},
    {"S4_ADD_ER",     {"0",     "156",    "108",    "72",     "42",    "42"}},
    {"S5_MAXWAGE_EE", {"900",   "900",    "810",    "562.5",  "337.5", "225"}},
    {"S5_MAXWAGE_ER", {"652.5", "652.5",  "472.5",  "337.5",  "225",   "225"}},
    {"EMP_R%1",       {"0",     "0",      "0",      "5",      "0",     "0"}},
    {"EMP_E%1",       {"0",     "0",      "0",      "5",      "0",     "0"}},
};

const char* BandValue(const char* field, int band) {
  for (const SchemeColumn& c : kColumns) {
    if (std::string(c.field) == field) return c.band[band - 1];
  }
  throw std::logic_error(std::string("no scheme column ") + field);
}

}  // namespace

std::span<const SchemeColumn> VoluntarySchemeColumns() { return kColumns; }

std::string VoluntarySchemeDescription(int scheme, int band) {
  return "Voluntary Scheme " + std::to_string(scheme) + "  : (" + std::to_string(band) + ") Age from :" +
         BandValue("AGE_FROM", band) + " To:" + BandValue("AGE_TO", band);
}

void AddVoluntaryContributionRows(schema::UpgradeContext& ctx) {
  dbaccess::TDbTable t;
  t.SetDbConnection(&ctx.company);
  t.DbTableOptions().SetDbRightsCheck(false);
  t.SetTableName("CPFNEW");
  t.Open();
  for (int scheme = 1; scheme <= kSchemes; ++scheme) {
    const std::string category = "VOL" + std::to_string(scheme);
    for (int band = 1; band <= kAgeBands; ++band) {
      const std::string age_type = std::to_string(band);
      if (t.Locate("YEAR;CPF_CAT;CPF_AGE_TYPE", {std::string(kSchemeYear), category, age_type})) continue;
      t.Append();
      t.FieldByName("YEAR").SetAsString(kSchemeYear);
      t.FieldByName("CPF_CAT").SetAsString(category);
      t.FieldByName("CPF_AGE_TYPE").SetAsString(age_type);
      t.FieldByName("DESC").SetAsString(VoluntarySchemeDescription(scheme, band));
      for (const SchemeColumn& c : kColumns) t.FieldByName(c.field).SetAsString(c.band[band - 1]);
      t.Post();
    }
  }
  t.Close();
}

}  // namespace kx8::conversions
