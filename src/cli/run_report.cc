#include "cli/run_report.h"

#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "platform/durable_file.h"

namespace kx8::cli {
namespace {

const char* DialogKindName(console::Dialog::Kind kind) {
  switch (kind) {
    case console::Dialog::Kind::Message: return "message";
    case console::Dialog::Kind::Question: return "question";
    case console::Dialog::Kind::Error: return "error";
  }
  return "message";
}

Json OptionalText(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

// Seconds rounded to the millisecond, so that reports stay readable.
double Rounded(double seconds) { return static_cast<double>(static_cast<long long>(seconds * 1000.0 + 0.5)) / 1000.0; }

// The column changes grouped by table, tables in the order first changed.
Json ColumnsJson(const std::vector<schema::ColumnChange>& changes) {
  Json tables = Json::array();
  for (const schema::ColumnChange& c : changes) {
    Json* table = nullptr;
    for (Json& t : tables) {
      if (t["table"] == c.table) table = &t;
    }
    if (table == nullptr) {
      tables.push_back(Json{{"table", c.table}, {"changes", Json::array()}});
      table = &tables.back();
    }
    (*table)["changes"].push_back(Json{{"column", c.column},
                                       {"change", c.change},
                                       {"before", c.before.empty() ? Json(nullptr) : Json(c.before)},
                                       {"after", c.after.empty() ? Json(nullptr) : Json(c.after)}});
  }
  return tables;
}

Json RowsJson(const std::vector<console::RowCount>& counts) {
  Json rows = Json::array();
  for (const console::RowCount& c : counts) rows.push_back(Json{{"step", c.step}, {"table", c.table}, {"rows", c.rows}});
  return rows;
}

[[noreturn]] void BadReport(const std::string& path, const std::string& what) {
  throw std::runtime_error("The run report " + path + " cannot be used: " + what + ".");
}

// The time of an IsoTime text, in seconds since the epoch.
double ParseIsoTime(const std::string& text) {
  std::tm utc{};
  int millis = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                  &utc.tm_min, &utc.tm_sec, &millis) != 7) {
    throw std::runtime_error("The run report holds a time that is not of the form 2026-12-10T16:49:29.123Z: " + text);
  }
  utc.tm_year -= 1900;
  utc.tm_mon -= 1;
  return static_cast<double>(::timegm(&utc)) + millis / 1000.0;
}

double SecondsBetween(const Json& from, const Json& to) {
  return ParseIsoTime(to.get<std::string>()) - ParseIsoTime(from.get<std::string>());
}

}  // namespace

std::string IsoTime(console::WallClock::time_point t) {
  const auto since = t.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
  const long long millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - seconds).count();
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm utc{};
  ::gmtime_r(&whole, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
  return text;
}

const char* OutcomeName(console::CompanyOutcome outcome) {
  switch (outcome) {
    case console::CompanyOutcome::Done: return "done";
    case console::CompanyOutcome::ExclusiveOption: return "exclusive-option";
    case console::CompanyOutcome::BackupFailed: return "backup-failed";
    case console::CompanyOutcome::NotStamped: return "not-stamped";
    case console::CompanyOutcome::Refused: return "refused";
    case console::CompanyOutcome::Stopped: return "stopped";
    case console::CompanyOutcome::Failed: return "failed";
  }
  return "stopped";
}

OutcomeClass ClassOf(console::CompanyOutcome outcome) {
  switch (outcome) {
    case console::CompanyOutcome::Done: return OutcomeClass::Done;
    case console::CompanyOutcome::ExclusiveOption:
    case console::CompanyOutcome::BackupFailed:
    case console::CompanyOutcome::Refused: return OutcomeClass::Skipped;
    case console::CompanyOutcome::NotStamped:
    case console::CompanyOutcome::Stopped:
    case console::CompanyOutcome::Failed: return OutcomeClass::Failed;
  }
  return OutcomeClass::Failed;
}

Json CompanyJson(const console::CompanyResult& result) {
  const console::CompanyRecord& r = result.record;
  Json steps = Json::array();
  for (const console::StepTime& s : r.steps) {
    steps.push_back(Json{
        {"name", s.name}, {"depth", s.depth}, {"started", Rounded(s.start_seconds)}, {"seconds", Rounded(s.seconds)}});
  }
  Json dialogs = Json::array();
  for (const console::Dialog& d : r.dialogs) {
    const bool question = d.kind == console::Dialog::Kind::Question;
    dialogs.push_back(Json{{"kind", DialogKindName(d.kind)},
                           {"text", d.text},
                           {"caption", d.caption},
                           {"answer", question ? Json(d.answer ? "Yes" : "No") : Json(nullptr)}});
  }
  Json backup = nullptr;
  if (!r.backup_archive.empty()) {
    backup = Json{{"archive", r.backup_archive}, {"bytes", r.backup_bytes ? Json(*r.backup_bytes) : Json(nullptr)}};
  }
  return Json{{"code", result.code},
              {"kind", r.kind.empty() ? Json(nullptr) : Json(r.kind)},
              {"version_before", OptionalText(r.version_before)},
              {"version_after", OptionalText(r.version_after)},
              {"backup", backup},
              {"started", IsoTime(r.started)},
              {"ended", IsoTime(r.ended)},
              {"seconds", Rounded(std::chrono::duration<double>(r.ended - r.started).count())},
              {"outcome", OutcomeName(result.outcome)},
              {"error", r.error.empty() ? Json(nullptr) : Json(r.error)},
              {"messages", result.messages},
              {"differences", result.differences},
              {"steps", steps},
              {"dialogs", dialogs},
              {"columns", ColumnsJson(r.columns)},
              {"rows", RowsJson(r.rows)}};
}

console::CompanyResult CompanyResultFromJson(const Json& company) {
  using console::CompanyOutcome;
  try {
    console::CompanyResult result;
    result.code = company.at("code").get<std::string>();
    const std::string outcome = company.at("outcome").get<std::string>();
    bool known = false;
    for (CompanyOutcome o : {CompanyOutcome::Done, CompanyOutcome::ExclusiveOption, CompanyOutcome::BackupFailed,
                             CompanyOutcome::NotStamped, CompanyOutcome::Refused, CompanyOutcome::Stopped,
                             CompanyOutcome::Failed}) {
      if (outcome == OutcomeName(o)) {
        result.outcome = o;
        known = true;
      }
    }
    if (!known) throw std::runtime_error("the outcome " + outcome + " is not one of a company's pass");
    result.messages = company.at("messages").get<int>();
    result.differences = company.at("differences").get<std::vector<std::string>>();
    console::CompanyRecord& r = result.record;
    if (!company.at("kind").is_null()) r.kind = company["kind"].get<std::string>();
    for (auto [field, version] : {std::pair{"version_before", &r.version_before}, {"version_after", &r.version_after}}) {
      if (!company.at(field).is_null()) *version = company[field].get<std::string>();
    }
    if (const Json& backup = company.at("backup"); !backup.is_null()) {
      r.backup_archive = backup.at("archive").get<std::string>();
      if (!backup.at("bytes").is_null()) r.backup_bytes = backup["bytes"].get<std::uintmax_t>();
    }
    for (auto [field, time] : {std::pair{"started", &r.started}, {"ended", &r.ended}}) {
      const double seconds = ParseIsoTime(company.at(field).get<std::string>());
      // Times are kept to the millisecond; rounding keeps them so.
      *time = console::WallClock::time_point(std::chrono::duration_cast<console::WallClock::duration>(
          std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(seconds))));
    }
    if (!company.at("error").is_null()) r.error = company["error"].get<std::string>();
    return result;
  } catch (const Json::exception& e) {
    throw std::runtime_error(std::string("A company's record in a run report is not complete: ") + e.what());
  }
}

Json UnreachedCompanyJson(const std::string& code) {
  return Json{{"code", code},          {"kind", nullptr},          {"version_before", nullptr},
              {"version_after", nullptr}, {"backup", nullptr},       {"started", nullptr},
              {"ended", nullptr},        {"seconds", nullptr},       {"outcome", "not-reached"},
              {"error", nullptr},        {"messages", 0},            {"differences", Json::array()},
              {"steps", Json::array()},  {"dialogs", Json::array()}, {"columns", Json::array()},
              {"rows", Json::array()}};
}

Json ReportJson(const ReportHeader& header, const std::vector<Json>& companies) {
  Json seconds = nullptr;
  if (header.ended) seconds = Rounded(std::chrono::duration<double>(*header.ended - header.started).count());
  return Json{{"format", kReportFormat},
              {"version", kReportVersion},
              {"root", header.root},
              {"started", IsoTime(header.started)},
              {"ended", header.ended ? Json(IsoTime(*header.ended)) : Json(nullptr)},
              {"seconds", seconds},
              {"run", header.run},
              {"options", header.options},
              {"companies", companies}};
}

void WriteReport(const std::string& path, const Json& report) {
  try {
    platform::WriteFileDurably(path, report.dump(2) + "\n");
  } catch (const std::exception& e) {
    throw std::runtime_error("The run report " + path + " cannot be written: " + e.what());
  }
}

Json ReadReport(const std::string& path) {
  std::optional<std::string> text;
  try {
    text = platform::ReadWholeFile(path);
  } catch (const std::exception& e) {
    BadReport(path, e.what());
  }
  if (!text) BadReport(path, "there is no such file");
  Json report = Json::parse(*text, nullptr, false);
  if (report.is_discarded()) BadReport(path, "it is not JSON");
  if (!report.is_object() || report.value("format", "") != kReportFormat) {
    BadReport(path, "it is not a run report of kx8-upgrade");
  }
  if (!report.contains("version") || report["version"] != kReportVersion) {
    BadReport(path, "its version is not " + std::to_string(kReportVersion));
  }
  if (!report.contains("companies") || !report["companies"].is_array()) BadReport(path, "it has no list of companies");
  for (const Json& c : report["companies"]) {
    if (!c.is_object() || !c.contains("code") || !c["code"].is_string() || !c.contains("outcome") ||
        !c["outcome"].is_string()) {
      BadReport(path, "a company has no code or no outcome");
    }
  }
  return report;
}

Json MergeReports(const std::vector<Json>& parts) {
  if (parts.empty()) throw std::invalid_argument("MergeReports: no parts");
  Json merged = parts.front();
  merged["companies"] = Json::array();
  for (const Json& part : parts) {
    // ISO times of one form compare as text.
    if (part["started"].get<std::string>() < merged["started"].get<std::string>()) merged["started"] = part["started"];
    if (part["ended"].is_null() || merged["ended"].is_null()) {
      merged["ended"] = nullptr;
    } else if (part["ended"].get<std::string>() > merged["ended"].get<std::string>()) {
      merged["ended"] = part["ended"];
    }
    if (part["run"] == "failed") merged["run"] = "failed";
    for (const Json& company : part["companies"]) merged["companies"].push_back(company);
  }
  merged["seconds"] = nullptr;
  if (!merged["ended"].is_null()) {
    merged["seconds"] = Rounded(SecondsBetween(merged["started"], merged["ended"]));
  }
  return merged;
}

std::vector<std::string> CompaniesToRetry(const Json& report) {
  std::vector<std::string> codes;
  for (const Json& c : report["companies"]) {
    const std::string outcome = c["outcome"];
    if (outcome == "failed" || outcome == "stopped" || outcome == "not-stamped" || outcome == "backup-failed" ||
        outcome == "not-reached") {
      codes.push_back(c["code"]);
    }
  }
  return codes;
}

}  // namespace kx8::cli
