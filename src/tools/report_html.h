// The run report as one self-contained HTML page (kx8db report --html): an
// overview table of the companies, then per company its facts, a bar of
// its steps' durations, its steps, messages and column changes. No
// scripts, no outside files: the page reads in a browser without a server.
#ifndef KX8_TOOLS_REPORT_HTML_H_
#define KX8_TOOLS_REPORT_HTML_H_

#include <string>

#include "cli/run_report.h"

namespace kx8::tools {

std::string ReportHtml(cli::Json report);

}  // namespace kx8::tools

#endif  // KX8_TOOLS_REPORT_HTML_H_
