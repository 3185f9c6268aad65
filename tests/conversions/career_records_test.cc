// The career record conversions: the history back-fill of the previous
// values, the period organisation update of the payroll history, and the
// cost centre code statement, on free-table and dictionary-bound companies.
#include "conversions/career_records.h"

#include "conversion_fixture.h"
#include "support/helpers.h"

namespace kx8::conversions {
namespace {

using dbaccess::ftBCD;
using dbaccess::ftDate;
using dbaccess::ftInteger;
using dbaccess::TFieldDef;

const std::vector<std::string> kTracked = {"DIVISION", "CATEGORY", "DEPARTMENT", "COMPANY",    "SECTION", "COST_CENTRE",
                                           "CODE",     "SALARY_SCALE", "OCCUPATION", "GRADE", "JOBGRADE"};
const std::vector<std::string> kPrevious = {"OLD_DIVISION", "OLD_CATEGORY",    "OLD_DEPARTMENT", "OLD_COMPANY",
                                            "OLD_SECTION",  "OLD_COST_CENTRE", "OLD_PROGRESSION", "OLD_SCALE",
                                            "OLD_OCCUPATION", "OLD_GRADE",     "OLD_JOBGRADE"};

class CareerRecordsTest : public ConversionTest {
 protected:
  static Table Employees(std::vector<std::vector<std::string>> rows) {
    return {"EMPLOYEE", Texts({"EMP_NO", "DIVISION_CODE", "PAY_GROUP", "COST_CENTRE_CODE"}), {"EMP_NO"}, std::move(rows)};
  }

  // Career rows: LABEL, EMP_CODE, dates, then the tracked fields the table
  // has, then their previous-value fields.
  static Table Career(const std::vector<std::string>& tracked, std::vector<std::vector<std::string>> rows) {
    std::vector<TFieldDef> fields = Texts({"LABEL", "EMP_CODE"});
    fields.push_back({"ID", ftInteger, 0, 0});
    fields.push_back({"PROGRESSION_DATE", ftDate, 0, 0});
    fields.push_back({"PAY_EFFECTIVE_DATE", ftDate, 0, 0});
    for (const std::string& f : tracked) fields.push_back({f, dbaccess::ftString, 8, 0});
    for (const std::string& f : kPrevious) fields.push_back({f, dbaccess::ftString, 8, 0});
    return {"EMP_PROS", fields, {"EMP_CODE;PAY_EFFECTIVE_DATE;ID", "EMP_CODE;PROGRESSION_DATE"}, std::move(rows)};
  }
};

// Rows of the back-fill: label, employee, progression date, DIVISION,
// CATEGORY, DEPARTMENT; the other tracked fields hold the label's letter.
std::vector<std::string> CareerRow(const std::string& label, const std::string& employee, const std::string& date,
                                   const std::string& division, const std::string& category,
                                   const std::string& department, std::size_t tracked) {
  std::vector<std::string> row = {label, employee, label.substr(1), date, date, division, category, department};
  while (row.size() < 5 + tracked) row.push_back(label);
  return row;
}

TEST_F(CareerRecordsTest, BackfillGivesEachRowTheValuesOfTheRowBeforeIt) {
  const std::vector<std::string> early = {"DIVISION", "CATEGORY", "DEPARTMENT", "SECTION",
                                          "COST_CENTRE", "CODE", "OCCUPATION"};
  struct Case {
    const char* what;
    std::vector<std::string> tracked;  // the career table's tracked fields
    bool dictionary;
    const char* version;               // the stored release version
    bool late_taken;                   // COMPANY (and the other late fields) walked
  };
  const Case cases[] = {
      {"free tables", kTracked, false, "8.9", true},
      {"dictionary-bound", kTracked, true, "8.9", true},
      // Below 8.60 the career table gets these four only later in the pass.
      {"without COMPANY, SALARY_SCALE, GRADE, JOBGRADE", early, false, "8.5", false},
      // As a pass run again after an interruption finds them: still left
      // alone, as the interrupted pass left them.
      {"below 8.60 with the four already there", kTracked, false, "8.5", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    const std::size_t n = c.tracked.size();
    MakeCompany({Employees({{"E1", "NORTH"}, {"E2", "SOUTH"}, {"E3", "EAST"}}),
                 {"PAYPARA", {{"VERSION", ftBCD, 0, 0}}, {}, {{c.version}}, false},
                 // Written out of date order: the walk follows the progression dates.
                 Career(c.tracked, {CareerRow("a2", "E1", "2005-01-01", "", "A2", "D2", n),
                                    CareerRow("a1", "E1", "2001-01-01", "", "A1", "D1", n),
                                    CareerRow("b1", "E2", "2002-01-01", "", "B1", "D1", n),
                                    CareerRow("b2", "E2", "2003-01-01", "WEST", "B2", "D2", n),
                                    CareerRow("c1", "E3", "2004-01-01", "CENTRAL", "C1", "D1", n),
                                    CareerRow("x1", "E9", "2004-01-01", "", "X1", "D1", n)})},
                c.dictionary);
    // Label, DIVISION, OLD_DIVISION, OLD_CATEGORY, OLD_DEPARTMENT, OLD_SECTION, OLD_COMPANY.
    auto want = [&](const char* label, const char* division, const char* old_division, const char* old_category,
                    const char* old_department, const char* old_label) {
      return std::string(label) + "|" + division + "|" + old_division + "|" + old_category + "|" + old_department +
             "|" + old_label + "|" + (c.late_taken ? old_label : "");
    };
    const std::vector<std::string> want_rows = {
        // An employee's first row: its own values, with the division it is given.
        want("a1", "NORTH", "NORTH", "A1", "D1", "a1"),
        want("a2", "NORTH", "NORTH", "A1", "D1", "a1"),
        want("b1", "SOUTH", "SOUTH", "B1", "D1", "b1"),
        want("b2", "WEST", "SOUTH", "B1", "D1", "b1"),
        want("c1", "CENTRAL", "CENTRAL", "C1", "D1", "c1"),
        // No such employee: the division stays empty.
        want("x1", "", "", "X1", "D1", "x1"),
    };
    // The second walk is that of a pass run again before the version was
    // stamped: it finds the divisions in place and changes nothing.
    for (int walk = 1; walk <= 2; ++walk) {
      SCOPED_TRACE(walk);
      BackfillCareerHistory(Context());
      EXPECT_EQ(SortedRows("EMP_PROS", {"LABEL", "DIVISION", "OLD_DIVISION", "OLD_CATEGORY", "OLD_DEPARTMENT",
                                        "OLD_SECTION", "OLD_COMPANY"}),
                want_rows);
    }
  }
}

TEST_F(CareerRecordsTest, BackfillOfAnEmptyCareerTableChangesNothing) {
  MakeCompany({Employees({{"E1", "NORTH"}}), {"PAYPARA", {{"VERSION", ftBCD, 0, 0}}, {}, {{"8.9"}}, false},
               Career(kTracked, {})},
              false);
  BackfillCareerHistory(Context());
  EXPECT_TRUE(SortedRows("EMP_PROS", {"LABEL"}).empty());
}

TEST(CalendarMonthOf, GivesTheMonthsFirstAndLastDayAndRefusesOtherTexts) {
  struct Case {
    const char* period;
    support::CalendarDate first, last;
  };
  const Case cases[] = {
      {"200802", {2008, 2, 1}, {2008, 2, 29}},
      {"200702", {2007, 2, 1}, {2007, 2, 28}},
      {"200712", {2007, 12, 1}, {2007, 12, 31}},
      {"190002", {1900, 2, 1}, {1900, 2, 28}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.period);
    PayPeriod p = CalendarMonthOf(c.period);
    EXPECT_EQ(p.first, support::EncodeDate(c.first.year, c.first.month, c.first.day));
    EXPECT_EQ(p.last, support::EncodeDate(c.last.year, c.last.month, c.last.day));
  }
  for (const char* bad : {"2007AB", "20X701", "200713", "200700", "2007", "", " 200701"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(CalendarMonthOf(bad), std::runtime_error);
  }
}

class PeriodUpdateTest : public CareerRecordsTest {
 protected:
  static Table History(std::vector<std::vector<std::string>> rows) {
    return {"P_HTRX", Texts({"EMPCODE", "PERIOD", "CYCLE", "CATEGORY", "DEPARTMENT", "COSTCENTE", "COMPANY"}),
            {"EMPCODE;PERIOD;CYCLE"}, std::move(rows)};
  }
  static std::vector<std::string> Row(const std::string& employee, const std::string& period,
                                      const std::string& value = "OLD") {
    return {employee, period, "1", value, value + "D", value + "C", value + "K"};
  }
  // A career row whose organisation codes are the label with a suffix.
  static std::vector<std::string> Career(const std::string& label, const std::string& employee,
                                         const std::string& date, int id) {
    return {label, employee, std::to_string(id), date, date, "", label, label + "D", label + "K", "", label + "C"};
  }

  void MakePeriodCompany(bool dictionary, std::vector<std::vector<std::string>> history) {
    MakeCompany(
        {Employees({{"E1", "", "MONTHLY"}, {"E2", "", "MONTHLY"}, {"E3", "", "WEEKLY"}}),
         CareerRecordsTest::Career({"DIVISION", "CATEGORY", "DEPARTMENT", "COMPANY", "SECTION", "COST_CENTRE"},
                                   {Career("E0", "E0", "2000-01-01", 1), Career("JUL", "E1", "2007-07-01", 2),
                                    Career("MAR", "E1", "2007-03-01", 3), Career("J21", "E1", "2008-01-21", 4),
                                    Career("F29", "E1", "2008-02-29", 5), Career("JUN", "E2", "2008-06-01", 6),
                                    Career("E9", "E9", "2000-01-01", 7)}),
         {"PGRP_TRX",
          {{"PAY_GROUP", dbaccess::ftString, 8, 0},
           {"PERIOD", dbaccess::ftString, 6, 0},
           {"START_DATE", ftDate, 0, 0},
           {"END_DATE", ftDate, 0, 0}},
          {"PAY_GROUP;PERIOD"},
          {{"MONTHLY", "200705", "2007-05-01", "2007-05-31"}, {"MONTHLY", "200801", "2007-12-21", "2008-01-20"}},
          false},
         History(std::move(history))},
        dictionary);
  }
};

TEST_F(PeriodUpdateTest, EachPayrollRowTakesTheCareerRowValidInItsPayPeriod) {
  for (bool dictionary : {false, true}) {
    SCOPED_TRACE(dictionary ? "dictionary-bound" : "free tables");
    Fresh();
    MakePeriodCompany(dictionary, {Row("E1", "200612"), Row("E1", "200705"), Row("E1", "200801"),
                                   Row("E1", "200802"), Row("E2", "200801"), Row("E2", "200807"),
                                   Row("E3", "200801")});
    schema::UpgradeContext& ctx = Context();
    UpdatePeriodOrganisation(ctx);
    const std::vector<std::string> want = {
        "E1|200612|OLD|OLDD|OLDC|OLDK",  // before 2007: untouched
        "E1|200705|MAR|MARD|MARC|MARK",  // May: 1 March, not 1 July
        "E1|200801|JUL|JULD|JULC|JULK",  // its pay group period ends on 20 January
        "E1|200802|F29|F29D|F29C|F29K",  // no pay group period: 1 to 29 February, the last day's row
        "E2|200801|OLD|OLDD|OLDC|OLDK",  // no career row before: unchanged
        "E2|200807|JUN|JUND|JUNC|JUNK",
        "E3|200801|OLD|OLDD|OLDC|OLDK",  // no career row at all
    };
    const std::vector<std::string> fields = {"EMPCODE", "PERIOD", "CATEGORY", "DEPARTMENT", "COSTCENTE", "COMPANY"};
    EXPECT_EQ(SortedRows("P_HTRX", fields), want);
    EXPECT_EQ(std::count(edit1_history_.begin(), edit1_history_.end(), "Updating P_HTRX :E1 Period 200802"), 1);
    EXPECT_EQ(std::count(edit1_history_.begin(), edit1_history_.end(), "Updating P_HTRX :E1 Period 200612"), 0);
    EXPECT_EQ(edit1_history_.size(), 6u);

    UpdatePeriodOrganisation(ctx);  // a second pass changes nothing
    EXPECT_EQ(SortedRows("P_HTRX", fields), want);
  }
}

TEST_F(PeriodUpdateTest, APeriodThatNamesNoMonthEndsTheUpdate) {
  MakePeriodCompany(false, {Row("E1", "200705"), Row("E1", "2007AB"), Row("E1", "200802")});
  EXPECT_THROW(UpdatePeriodOrganisation(Context()), std::runtime_error);
  // The rows before it stay saved.
  EXPECT_EQ(SortedRows("P_HTRX", {"PERIOD", "CATEGORY"}), (std::vector<std::string>{"200705|MAR", "2007AB|OLD", "200802|OLD"}));
}

TEST_F(CareerRecordsTest, CostCentreCodesReachTheCareerRowsOfBothKindsOfCompany) {
  for (bool dictionary : {false, true}) {
    SCOPED_TRACE(dictionary ? "dictionary-bound" : "free tables (statement with the administrator password)");
    Fresh();
    MakeCompany({Employees({{"E1", "", "", "CC100"}, {"E2", "", "", "CC200"}}),
                 Career({"COST_CENTRE"}, {{"a", "E1", "1", "", "", "CC900"},
                                          {"b", "E1", "2", "", "", ""},
                                          {"c", "E2", "3", "", "", "CC900"},
                                          {"x", "E9", "4", "", "", "CC900"}})},
                dictionary);
    ConvertCostCentreCodes(Context());
    EXPECT_EQ(SortedRows("EMP_PROS", {"LABEL", "COST_CENTRE"}),
              (std::vector<std::string>{"a|CC100", "b|CC100", "c|CC200", "x|CC900"}));
    EXPECT_TRUE(ui_.Messages().empty());
  }
}

}  // namespace
}  // namespace kx8::conversions
