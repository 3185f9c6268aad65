// Record numbers from TRNNO: appraisals and their detail rows, education
// records, numbers past 65,535 written whole, a column too narrow for a
// number stopping before anything is written, and later runs numbering
// only new rows.
#include "conversions/record_numbers.h"

#include "employee_fixture.h"

namespace kx8::conversions {
namespace {

using dbaccess::ftSmallint;
using dbaccess::ftString;
using dbaccess::TFieldDef;

Row Appraisal(const char* employee, const char* date, const char* id) {
  return {{"EMP_CODE", employee}, {"APPRAISAL_DATE", date}, {"ID", id}};
}
Row Detail(const char* employee, const char* date, const char* serial, const char* id) {
  return {{"EMPCODE", employee}, {"APPRAISAL_DATE", date}, {"DATE_SERIALNUM", serial}, {"ID", id}};
}

class RecordNumbersTest : public EmployeeTablesTest {
 protected:
  std::vector<std::string> Appraisals() { return Rows("APPR", {"EMP_CODE", "APPRAISAL_DATE", "ID"}); }
  std::vector<std::string> Details() {
    return Rows("APPRDTL", {"EMPCODE", "APPRAISAL_DATE", "DATE_SERIALNUM", "ID"}, "EMPCODE;APPRAISAL_DATE;DATE_SERIALNUM");
  }
  std::string Counter(const char* name) { return Rows("TRNNO", {name}).at(0); }
};

TEST_F(RecordNumbersTest, AppraisalsAreNumberedAndTheirDetailsTakeTheirNumber) {
  MakeReleaseTable("APPR", {Appraisal("E1", "2011-06-30", "0"), Appraisal("E1", "2012-06-30", "0"),
                            Appraisal("E2", "2012-06-30", "42"),  // numbered already
                            Appraisal("E3", "2012-06-30", "0")});  // without details
  MakeReleaseTable("APPRDTL", {Detail("E1", "2011-06-30", "1", "0"), Detail("E1", "2011-06-30", "2", "0"),
                               Detail("E1", "2012-06-30", "1", "0"), Detail("E2", "2012-06-30", "1", "5"),
                               Detail("E4", "2012-06-30", "1", "0")});  // of no appraisal
  MakeReleaseTable("TRNNO", {{{"AUTO6", "10"}}});
  NumberAppraisals(Context());
  EXPECT_EQ(Appraisals(), (std::vector<std::string>{"E1|2011-06-30|11", "E1|2012-06-30|12", "E2|2012-06-30|42",
                                                    "E3|2012-06-30|13"}));
  EXPECT_EQ(Details(), (std::vector<std::string>{"E1|2011-06-30|1|11", "E1|2011-06-30|2|11", "E1|2012-06-30|1|12",
                                                 "E2|2012-06-30|1|42", "E4|2012-06-30|1|0"}));
  EXPECT_EQ(Counter("AUTO6"), "13");

  // A later run numbers only the appraisal added since.
  WithTable("APPR", [](dbaccess::TDbTable& t) {
    t.Append();
    t.FieldByName("EMP_CODE").SetAsString("E5");
    t.FieldByName("APPRAISAL_DATE").SetAsString("2013-06-30");
    t.FieldByName("ID").SetAsInteger(0);
    t.Post();
  });
  NumberAppraisals(Context());
  EXPECT_EQ(Appraisals().back(), "E5|2013-06-30|14");
  EXPECT_EQ(Details().at(0), "E1|2011-06-30|1|11");
  EXPECT_EQ(Counter("AUTO6"), "14");
}

TEST_F(RecordNumbersTest, NumbersPast65535AreWrittenWholeOrStopWhereAColumnCannotHoldThem) {
  const std::vector<TFieldDef> short_appraisal = {{"EMP_CODE", ftString, 12, 0}, {"APPRAISAL_DATE", dbaccess::ftDate, 0, 0},
                                                  {"ID", ftSmallint, 0, 0}};
  const std::vector<TFieldDef> short_detail = {{"EMPCODE", ftString, 12, 0}, {"APPRAISAL_DATE", dbaccess::ftDate, 0, 0},
                                               {"DATE_SERIALNUM", dbaccess::ftInteger, 0, 0}, {"ID", ftSmallint, 0, 0}};
  struct Case {
    const char* what;
    bool short_appr, short_detail;
    const char* existing_id;  // of the one appraisal
    const char* counter;
    const char* want_id;      // the appraisal's and its details' number afterwards
    const char* want_counter;
    const char* error;        // empty: none
  };
  const Case cases[] = {
      {"integer columns", false, false, "0", "65535", "65536", "65536", ""},
      {"integer columns, an existing number", false, false, "70000", "3", "70000", "3", ""},
      {"a short appraisal number", true, false, "0", "32767", "0", "32767",
       "The appraisal number 32768 does not fit the column APPR.ID"},
      {"a short detail number", false, true, "0", "32767", "0", "32767",
       "The appraisal number 32768 does not fit the column APPRDTL.ID"},
      {"an existing number too long for the details", false, true, "40000", "3", "40000", "3",
       "The appraisal number 40000 does not fit the column APPRDTL.ID"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    if (c.short_appr) {
      MakeTable("APPR", short_appraisal, {{"E1", "2012-06-30", c.existing_id}});
    } else {
      MakeReleaseTable("APPR", {Appraisal("E1", "2012-06-30", c.existing_id)});
    }
    if (c.short_detail) {
      MakeTable("APPRDTL", short_detail, {{"E1", "2012-06-30", "1", "0"}});
      WithTable("APPRDTL", [](dbaccess::TDbTable& t) {
        t.AddIndex("PRIMARY", "EMPCODE;APPRAISAL_DATE;DATE_SERIALNUM", {dbaccess::ixExpression});
      });
    } else {
      MakeReleaseTable("APPRDTL", {Detail("E1", "2012-06-30", "1", "0")});
    }
    MakeReleaseTable("TRNNO", {{{"AUTO6", c.counter}}});
    if (*c.error == '\0') {
      NumberAppraisals(Context());
    } else {
      try {
        NumberAppraisals(Context());
        ADD_FAILURE() << "no error";
      } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(Rows("APPR", {"ID"}), std::vector<std::string>{c.want_id});
    EXPECT_EQ(Rows("APPRDTL", {"ID"}), std::vector<std::string>{*c.error == '\0' ? c.want_id : "0"});
    EXPECT_EQ(Counter("AUTO6"), c.want_counter);
  }
}

TEST_F(RecordNumbersTest, EducationRecordsWithoutANumberTakeTheNextOnes) {
  MakeReleaseTable("EDUCATE", {{{"EMP_CODE", "E1"}, {"ID", "0"}},
                               {{"EMP_CODE", "E1"}, {"ID", "5"}},
                               {{"EMP_CODE", "E2"}, {"ID", "0"}},
                               {{"EMP_CODE", "E0"}, {"ID", "0"}}});
  MakeReleaseTable("TRNNO", {{{"AUTO1", "7"}}});
  NumberEducationRecords(Context());
  const std::vector<std::string> want = {"E1|8", "E1|5", "E2|9", "E0|10"};
  EXPECT_EQ(Rows("EDUCATE", {"EMP_CODE", "ID"}), want);
  EXPECT_EQ(Counter("AUTO1"), "10");
  NumberEducationRecords(Context());
  EXPECT_EQ(Rows("EDUCATE", {"EMP_CODE", "ID"}), want);
  EXPECT_EQ(Counter("AUTO1"), "10");
}

}  // namespace
}  // namespace kx8::conversions
