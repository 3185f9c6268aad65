// The run report of a batch run (--report FILE.json): one record per
// selected company, as described in docs/run-report.md, whose shape
// docs/run-report.schema.json gives.
//
// The report is written whole and atomically: first before the run starts
// (so that a file that cannot be written stops the run before any company
// is touched), again after each company, and at the end. Parts of one run
// written by several processes (one per company) are combined with
// MergeReports.
#ifndef KX8_CLI_RUN_REPORT_H_
#define KX8_CLI_RUN_REPORT_H_

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "console/main_form.h"

namespace kx8::cli {

using Json = nlohmann::ordered_json;

inline constexpr char kReportFormat[] = "kx8-upgrade run report";
inline constexpr int kReportVersion = 1;

// "2026-12-10T16:49:29.123Z"
std::string IsoTime(console::WallClock::time_point t);

// The report's name of an outcome: "done", "exclusive-option",
// "backup-failed", "not-stamped", "refused", "failed", "stopped".
const char* OutcomeName(console::CompanyOutcome outcome);

// One company's record.
Json CompanyJson(const console::CompanyResult& result);
// What the closing summary reads of a company's record (code, outcome,
// messages, differences, kind, versions, backup, start, end and error),
// back from the record of a pass run by another process. Raises
// std::runtime_error when the record is not one CompanyJson writes.
console::CompanyResult CompanyResultFromJson(const Json& company);
// A selected company that the run never reached (an error ended it before).
Json UnreachedCompanyJson(const std::string& code);

// The report's own fields; companies are added to it.
struct ReportHeader {
  std::string root;
  console::WallClock::time_point started;
  std::optional<console::WallClock::time_point> ended;
  // "running", "completed", "failed", "declined", "refused", "not-started"
  std::string run = "running";
  std::vector<std::string> options;  // the check boxes and radio buttons ticked
};
Json ReportJson(const ReportHeader& header, const std::vector<Json>& companies);

// Replaces the file atomically. Raises std::runtime_error
// "The run report FILE cannot be written: reason".
void WriteReport(const std::string& path, const Json& report);

// Reads a report and checks its format and version. Raises
// std::runtime_error naming the file and what is wrong with it.
Json ReadReport(const std::string& path);

// One report of the parts of a run (each a report of some of its
// companies): the companies in the order of the parts, the earliest start,
// the latest end, "failed" when any part failed, else the first part's run.
Json MergeReports(const std::vector<Json>& parts);

// The companies another run should take up: those whose pass failed, was
// stopped, did not get the version stamp, lost its backup, or was never
// reached, in the report's order.
std::vector<std::string> CompaniesToRetry(const Json& report);

// How the closing summary counts an outcome.
enum class OutcomeClass { Done, Skipped, Failed };
OutcomeClass ClassOf(console::CompanyOutcome outcome);

}  // namespace kx8::cli

#endif  // KX8_CLI_RUN_REPORT_H_
