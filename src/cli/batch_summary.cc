#include "cli/batch_summary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>

#include "cli/run_report.h"

namespace kx8::cli {
namespace {

const char kNotReached[] = "not reached: the run ended before it";

// "m:ss.t"
std::string Duration(double seconds) {
  const long long tenths = static_cast<long long>(seconds * 10.0 + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, tenths / 10 % 60, tenths % 10);
  return text;
}

std::string Padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

const char* OutcomeText(console::CompanyOutcome outcome) {
  switch (outcome) {
    case console::CompanyOutcome::Done: return "upgraded";
    case console::CompanyOutcome::ExclusiveOption: return "exclusive option done";
    case console::CompanyOutcome::BackupFailed: return "skipped: its backup failed";
    case console::CompanyOutcome::NotStamped: return "not fully upgraded, version not stamped";
    case console::CompanyOutcome::Refused: return "skipped: its code cannot name a company folder";
    case console::CompanyOutcome::Stopped: return "stopped by the error that ended the run";
    case console::CompanyOutcome::Failed: return "failed: an error ended its pass";
  }
  return "?";
}

bool WriteSummary(const std::vector<console::CompanyResult>& results, std::ostream& out) {
  std::size_t clean = 0;
  for (const console::CompanyResult& r : results) clean += r.Clean() ? 1 : 0;
  out << "Summary: " << results.size() << (results.size() == 1 ? " company, " : " companies, ") << clean
      << " without a message";
  if (clean == results.size()) {
    out << '\n';
    return true;
  }
  out << ", " << results.size() - clean << " to look at:\n";
  for (const console::CompanyResult& r : results) {
    if (r.Clean()) continue;
    out << "  " << r.code << ": " << OutcomeText(r.outcome);
    if (r.messages > 0) out << ", " << r.messages << (r.messages == 1 ? " message" : " messages");
    out << '\n';
  }
  return false;
}

void WriteSummaryTable(const std::vector<console::CompanyResult>& results, const std::vector<std::string>& not_reached,
                       double run_seconds, std::ostream& out) {
  std::size_t code_width = 7, outcome_width = 7;
  for (const console::CompanyResult& r : results) {
    code_width = std::max(code_width, r.code.size());
    outcome_width = std::max(outcome_width, std::string(OutcomeText(r.outcome)).size());
  }
  for (const std::string& code : not_reached) code_width = std::max(code_width, code.size());
  if (!not_reached.empty()) outcome_width = std::max(outcome_width, std::string(kNotReached).size());

  std::size_t done = 0, skipped = not_reached.size(), failed = 0;
  out << '\n' << Padded("COMPANY", code_width) << "  " << Padded("OUTCOME", outcome_width) << "  MESSAGES  TIME\n";
  for (const console::CompanyResult& r : results) {
    switch (ClassOf(r.outcome)) {
      case OutcomeClass::Done: ++done; break;
      case OutcomeClass::Skipped: ++skipped; break;
      case OutcomeClass::Failed: ++failed; break;
    }
    const double seconds = std::chrono::duration<double>(r.record.ended - r.record.started).count();
    char messages[16];
    std::snprintf(messages, sizeof messages, "%8d", r.messages);
    out << Padded(r.code, code_width) << "  " << Padded(OutcomeText(r.outcome), outcome_width) << "  " << messages
        << "  " << Duration(seconds) << '\n';
  }
  for (const std::string& code : not_reached) {
    out << Padded(code, code_width) << "  " << Padded(kNotReached, outcome_width) << "         -  -\n";
  }
  out << "Companies: " << done << " done, " << skipped << " skipped, " << failed << " failed; run time "
      << Duration(run_seconds) << '\n';
}

}  // namespace kx8::cli
