// What closes a batch run: the summary line with the companies to look at,
// then a table of every selected company with its outcome, messages and
// time, and the counts of companies done, skipped and failed.
#ifndef KX8_CLI_BATCH_SUMMARY_H_
#define KX8_CLI_BATCH_SUMMARY_H_

#include <iosfwd>
#include <string>
#include <vector>

#include "console/main_form.h"

namespace kx8::cli {

const char* OutcomeText(console::CompanyOutcome outcome);

// "Summary: N companies, M without a message" and, when some company needs
// looking at, one line for each. False when there is one.
bool WriteSummary(const std::vector<console::CompanyResult>& results, std::ostream& out);

// The table; not_reached: selected companies the run never came to.
void WriteSummaryTable(const std::vector<console::CompanyResult>& results, const std::vector<std::string>& not_reached,
                       double run_seconds, std::ostream& out);

}  // namespace kx8::cli

#endif  // KX8_CLI_BATCH_SUMMARY_H_
