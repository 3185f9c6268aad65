// --jobs N: the company passes of a batch run, up to N at once, each run by
// a process of its own (this program again, for that one company, with its
// own connections). The run itself stays in the starting process: the
// question, the preparation, the lock on the root folder (passed down to
// every pass), the end of the run and every write to the register.
//
// What a pass printed is held back and printed whole, in company order: a
// company's output, then its errors, never lines of two companies mixed.
// Each pass writes a run report of its own; the reports of the passes are
// what the run report of the run is merged from (MergeReports).
#ifndef KX8_CLI_PARALLEL_PASSES_H_
#define KX8_CLI_PARALLEL_PASSES_H_

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/progress_line.h"
#include "cli/run_report.h"
#include "console/main_form.h"
#include "platform/ui_services.h"

namespace kx8::cli {

// The arguments of the process for one company's pass, besides the
// company, the lock and its report: the root, the options in the order
// given, the approval-flow table, --yes, --keep-going and --quiet of the
// run's own command line.
std::vector<std::string> PassArguments(const CommandLine& command_line);

class ParallelPasses : public console::CompanyPassRunner {
 public:
  // program: the file of this program; jobs: passes at once. Errors of
  // passes that ended without a record are shown through ui.
  ParallelPasses(std::string program, std::vector<std::string> arguments, int jobs, bool keep_going,
                 std::ostream& out, std::ostream& err, ProgressLine& progress, platform::UiServices& ui);

  // Fewer passes at once from now on (at least one).
  void SetJobs(int jobs) { jobs_ = jobs < 1 ? 1 : jobs; }
  int Jobs() const { return jobs_; }

  std::vector<console::CompanyResult> RunPasses(const std::vector<std::string>& codes, int root_lock_fd) override;

  // The run reports of the passes printed so far, in company order.
  const std::vector<Json>& Parts() const { return parts_; }
  // Told after each pass's output was printed.
  std::function<void()> OnPassPrinted;

 private:
  struct Pass;
  void Start(Pass& pass, const std::string& folder, int root_lock_fd);
  void Collect(Pass& pass);
  void Print(Pass& pass);
  void ShowRunning(const std::vector<Pass>& passes);

  std::string program_;
  std::vector<std::string> arguments_;
  int jobs_;
  bool keep_going_;
  std::ostream& out_;
  std::ostream& err_;
  ProgressLine& progress_;
  platform::UiServices& ui_;
  std::vector<Json> parts_;
};

}  // namespace kx8::cli

#endif  // KX8_CLI_PARALLEL_PASSES_H_
