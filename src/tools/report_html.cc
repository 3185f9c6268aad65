#include "tools/report_html.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace kx8::tools {
namespace {

using cli::Json;

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\r': break;
      case '\n': out += "<br>"; break;
      default: out += c;
    }
  }
  return out;
}

// A value of the report as text: strings as they are, numbers as JSON writes
// them, null as a dash.
std::string Text(const Json& v) {
  if (v.is_null()) return "-";
  if (v.is_string()) return v.get<std::string>();
  return v.dump();
}

std::string Seconds(const Json& v) {
  if (!v.is_number()) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", v.get<double>());
  return text;
}

const char kStyle[] = R"(
body { font-family: "Liberation Sans", Arial, sans-serif; margin: 2em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 2em; border-bottom: 1px solid #aaa; }
h3 { font-size: 1em; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 2px 8px; text-align: left; vertical-align: top; }
th { background: #f0caa6; }
td.number { text-align: right; }
.outcome-done { color: #1a7f37; } .outcome-failed, .outcome-stopped, .outcome-not-stamped { color: #c62828; }
.bar { display: flex; width: 100%; height: 22px; border: 1px solid #888; margin: 0.5em 0; }
.bar div { height: 100%; border-right: 1px solid #fff; box-sizing: border-box; }
.bar div:nth-child(6n+1) { background: #4e79a7; } .bar div:nth-child(6n+2) { background: #f28e2b; }
.bar div:nth-child(6n+3) { background: #59a14f; } .bar div:nth-child(6n+4) { background: #e15759; }
.bar div:nth-child(6n+5) { background: #76b7b2; } .bar div:nth-child(6n) { background: #edc948; }
)";

void Row(std::ostringstream& out, const std::string& name, const std::string& value) {
  out << "<tr><th>" << Escape(name) << "</th><td>" << Escape(value) << "</td></tr>\n";
}

// The steps of the pass (not those inside a column run) as one bar, each as
// wide as its share of the pass's time; the title names it.
void StepBar(std::ostringstream& out, Json& steps) {
  double total = 0;
  for (Json& s : steps) {
    if (s["depth"] == 0) total += s["seconds"].get<double>();
  }
  out << "<div class=\"bar\" title=\"step durations\">";
  for (Json& s : steps) {
    if (s["depth"] != 0) continue;
    const double share = total > 0 ? s["seconds"].get<double>() / total * 100.0 : 100.0 / steps.size();
    char width[32];
    std::snprintf(width, sizeof width, "%.3f%%", share);
    out << "<div style=\"width:" << width << "\" title=\"" << Escape(s["name"].get<std::string>()) << " "
        << Seconds(s["seconds"]) << "\"></div>";
  }
  out << "</div>\n";
}

void CompanySection(std::ostringstream& out, Json& c) {
  const std::string code = c["code"];
  const std::string outcome = c["outcome"];
  out << "<section class=\"company\" id=\"company-" << Escape(code) << "\">\n<h2>" << Escape(code) << "</h2>\n<table>\n";
  Row(out, "kind", Text(c["kind"]));
  Row(out, "version", Text(c["version_before"]) + " \u2192 " + Text(c["version_after"]));
  if (c["backup"].is_object()) {
    Row(out, "backup", Text(c["backup"]["archive"]) + " (" + Text(c["backup"]["bytes"]) + " bytes)");
  } else {
    Row(out, "backup", "-");
  }
  Row(out, "started", Text(c["started"]));
  Row(out, "ended", Text(c["ended"]));
  Row(out, "duration", Seconds(c["seconds"]));
  out << "<tr><th>outcome</th><td class=\"outcome-" << Escape(outcome) << "\">" << Escape(outcome) << "</td></tr>\n";
  if (!c["error"].is_null()) Row(out, "error", Text(c["error"]));
  out << "</table>\n";

  if (!c["steps"].empty()) {
    out << "<h3>Steps</h3>\n";
    StepBar(out, c["steps"]);
    out << "<table class=\"steps\">\n<tr><th>step</th><th>start</th><th>duration</th></tr>\n";
    for (Json& s : c["steps"]) {
      const std::string indent = s["depth"] == 0 ? "" : "\u00a0\u00a0\u00a0\u00a0";
      out << "<tr><td class=\"step\">" << indent << Escape(s["name"]) << "</td><td class=\"number\">"
          << Seconds(s["started"]) << "</td><td class=\"number\">" << Seconds(s["seconds"]) << "</td></tr>\n";
    }
    out << "</table>\n";
  }
  if (!c["dialogs"].empty()) {
    out << "<h3>Messages and questions</h3>\n<table class=\"dialogs\">\n<tr><th>kind</th><th>text</th><th>answer</th></tr>\n";
    for (Json& d : c["dialogs"]) {
      std::string text = d["text"];
      if (!d["caption"].get<std::string>().empty()) text = d["caption"].get<std::string>() + ": " + text;
      out << "<tr><td>" << Escape(d["kind"]) << "</td><td>" << Escape(text) << "</td><td>" << Escape(Text(d["answer"]))
          << "</td></tr>\n";
    }
    out << "</table>\n";
  }
  if (!c["differences"].empty()) {
    out << "<h3>Differences from the release</h3>\n<ul>\n";
    for (const Json& d : c["differences"]) out << "<li>" << Escape(d) << "</li>\n";
    out << "</ul>\n";
  }
  if (!c["columns"].empty()) {
    out << "<h3>Columns changed</h3>\n<table class=\"columns\">\n"
           "<tr><th>table</th><th>column</th><th>change</th><th>before</th><th>after</th></tr>\n";
    for (Json& t : c["columns"]) {
      for (Json& ch : t["changes"]) {
        out << "<tr><td>" << Escape(t["table"]) << "</td><td>" << Escape(ch["column"]) << "</td><td>"
            << Escape(ch["change"]) << "</td><td>" << Escape(Text(ch["before"])) << "</td><td>"
            << Escape(Text(ch["after"])) << "</td></tr>\n";
      }
    }
    out << "</table>\n";
  }
  if (!c["rows"].empty()) {
    out << "<h3>Rows changed</h3>\n<table class=\"rows\">\n<tr><th>step</th><th>table</th><th>rows</th></tr>\n";
    for (Json& r : c["rows"]) {
      out << "<tr><td>" << Escape(r["step"]) << "</td><td>" << Escape(r["table"]) << "</td><td class=\"number\">"
          << Text(r["rows"]) << "</td></tr>\n";
    }
    out << "</table>\n";
  }
  out << "</section>\n";
}

}  // namespace

// A copy: fields a hand-made report lacks read as null.
std::string ReportHtml(Json report) {
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>kx8-upgrade run report "
      << Escape(Text(report["started"])) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n";
  out << "<h1>kx8-upgrade run report</h1>\n<table>\n";
  Row(out, "root", Text(report["root"]));
  Row(out, "started", Text(report["started"]));
  Row(out, "ended", Text(report["ended"]));
  Row(out, "duration", Seconds(report["seconds"]));
  Row(out, "run", Text(report["run"]));
  std::string options;
  for (const Json& o : report["options"]) options += (options.empty() ? "" : ", ") + o.get<std::string>();
  Row(out, "options", options.empty() ? "-" : options);
  out << "</table>\n";

  out << "<h2>Companies</h2>\n<table class=\"overview\">\n<tr><th>company</th><th>kind</th><th>version</th>"
         "<th>outcome</th><th>messages</th><th>duration</th></tr>\n";
  for (Json& c : report["companies"]) {
    const std::string code = c["code"];
    out << "<tr><td><a href=\"#company-" << Escape(code) << "\">" << Escape(code) << "</a></td><td>"
        << Escape(Text(c["kind"])) << "</td><td>" << Escape(Text(c["version_before"])) << " \u2192 "
        << Escape(Text(c["version_after"])) << "</td><td class=\"outcome-" << Escape(c["outcome"]) << "\">"
        << Escape(c["outcome"]) << "</td><td class=\"number\">" << Text(c["messages"]) << "</td><td class=\"number\">"
        << Seconds(c["seconds"]) << "</td></tr>\n";
  }
  out << "</table>\n";
  for (Json& c : report["companies"]) CompanySection(out, c);
  out << "</body>\n</html>\n";
  return out.str();
}

}  // namespace kx8::tools
