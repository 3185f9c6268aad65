// The report field catalogue of the release: the rows of RTABLE, the field
// list of the application's report writer, that the release adds or
// corrects. Each row is one report field under its number NO, with the
// table and column its value comes from, its heading and width, and whether
// it is a wage figure to hide.
//
// The catalogue is data (report_fields_data.cc): one table of lines, each
// with the place it is written from, its rule and the values it writes. One
// routine walks the lines, whether it writes them to a company's RTABLE or
// works out what a complete company pass leaves there (what the release
// check compares with).
//
// Where the lines are written:
//   - between the column entries of runs 1, 3, 5, 7 and 9 (the catalogue
//     hook WriteReportFields, by number) and after run 10, each through the
//     report field upsert: open, find by number, write all nine values,
//     save, close; any error is swallowed;
//   - by the report field routine near the end of a complete pass, and as
//     the only work after run 7 when "Update Report Template ?" is ticked:
//     group A, the list of upserts, group B, on RTABLE open, errors
//     passed on.
#ifndef KX8_SCHEMA_REPORT_FIELDS_H_
#define KX8_SCHEMA_REPORT_FIELDS_H_

#include <array>
#include <iosfwd>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_table.h"
#include "platform/ui_services.h"
#include "schema/context.h"

namespace kx8::schema {

// Where a line of the catalogue is written from.
enum class ReportSection {
  Run1, Run3, Run5, Run7, Run9,  // between the entries of a column run
  AfterRun10,                    // the five rows of the pass after run 10
  GroupA,                        // the routine: corrections before its list
  List,                          // the routine: its list of upserts
  GroupB,                        // the routine: corrections after its list
};

enum class ReportRule {
  Upsert,             // edit the row, or append it with its number
  ChangeWhenPresent,  // edit the row; nothing when the number is missing
  AddWhenMissing,     // append the row; nothing when the number exists
  DeleteWhenPresent,  // delete the row
};

// The columns of RTABLE the catalogue writes, in the upsert's order.
inline constexpr int kReportColumnCount = 9;
inline constexpr const char* kReportColumns[kReportColumnCount] = {
    "NO", "NO2", "HEADING", "DATABASE1", "FIELD", "CODE", "WIDTH", "TYPE1", "HIDE_WAGE"};

// A cell that a line does not write (as opposed to "", which writes an
// empty value over what the row held).
inline constexpr const char* kKeep = nullptr;

struct ReportFieldLine {
  ReportSection section;
  ReportRule rule;
  const char* values[kReportColumnCount];  // NO first; kKeep where not written
  const char* No() const { return values[0]; }
};

// Every line, in the order a complete company pass writes them.
std::span<const ReportFieldLine> ReportFieldCatalogue();
const char* SectionName(ReportSection section);
const char* RuleName(ReportRule rule);

// One line per catalogue line: SECTION RULE NO NO2 HEADING DATABASE1 FIELD
// CODE WIDTH TYPE1 HIDE_WAGE, tab-separated; a cell the line does not
// write is "-".
void WriteReportFieldListing(std::ostream& out);

// --- on a company --------------------------------------------------------------

inline constexpr char kReportTable[] = "RTABLE.KDT";
inline constexpr char kAllowanceFilter[] = "database1='ALLW'";
inline constexpr char kFieldNoMessage[] = " Field No ";

// Gives the main window's TableRtable its design settings: RTABLE.KDT on
// the company connection, in NO order, filtered to the allowance rows, no
// rights check; a failed save shows the error's text, " Field No " and the
// row's number; on a free-table company the table gets the administrator
// password when it opens.
void SetUpTableRtable(dbaccess::TDbTable& rtable, dbaccess::TDbConnection& company, platform::UiServices& ui);

// The report field upsert: nine values, NO first; an empty value empties
// the column. Any error is swallowed (a failed save has shown its message);
// the table is left closed and unfiltered. A company without RTABLE passes
// quietly.
void ReportFieldUpsert(dbaccess::TDbTable& rtable, const std::array<std::string, kReportColumnCount>& values);

// The hook WriteReportFields: the pass's rows of these numbers ("993, 9080,
// 268, 8"), in order, each through the upsert. An unknown number is a
// fault of the catalogue (std::logic_error).
void WriteReportFields(dbaccess::TDbTable& rtable, const std::string& numbers);

// The five rows after column run 10.
void WriteReportFieldsAfterRun10(dbaccess::TDbTable& rtable);

// The report field routine: groups A and B around the list of upserts, the
// FAMILY IC_PASSPORT_NUM entry first. Errors of the routine (a company
// without RTABLE, a failed save) are passed on; the table is left closed
// and filtered again.
void RunReportFieldRoutine(UpgradeContext& ctx, dbaccess::TDbTable& rtable);

// The three width and wage statements on the work query, each in its own
// guard that shows the error's text.
inline constexpr const char* kReportCatalogueStatements[] = {
    "UPDATE RTABLE SET HIDE_WAGE ='T' WHERE DATABASE1='EMP_PROS' AND TYPE1='N' ",
    "UPDATE RTABLE SET WIDTH =60 WHERE WIDTH=20 OR WIDTH=30 ",
    "UPDATE RTABLE SET WIDTH =40 WHERE FIELD='EMP_NAME'",
};
void UpdateReportCatalogue(UpgradeContext& ctx);

// --- what a complete pass leaves ---------------------------------------------

// A row as a complete company pass leaves it, whatever the row held before
// and whether column run 9 took place: cells that end the same in every
// case hold their value, the others nullopt.
struct ExpectedReportRow {
  enum class Presence { Always, Never, Either } presence = Presence::Either;
  std::array<std::optional<std::string>, kReportColumnCount> values;
};
// By number, in number order.
std::map<int, ExpectedReportRow> ExpectedReportRows();

// The rows (NO first) after every line of the catalogue, as a complete pass
// with or without column run 9 writes them over these rows; the width and
// wage statements are not applied. For demo data of a release.
using ReportRowValues = std::array<std::string, kReportColumnCount>;
std::map<int, ReportRowValues> ApplyReportFieldCatalogue(const std::vector<ReportRowValues>& rows, bool run9);

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_REPORT_FIELDS_H_
