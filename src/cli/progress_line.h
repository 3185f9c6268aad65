// The progress line of a batch run on a terminal: company i of n, its
// code, the step or the catalogue entry being worked on and the time since
// the run started, rewritten in place. Other output takes the line away
// first (Clear) and the next change of place draws it again.
#ifndef KX8_CLI_PROGRESS_LINE_H_
#define KX8_CLI_PROGRESS_LINE_H_

#include <chrono>
#include <iosfwd>
#include <string>

#include "console/company_record.h"

namespace kx8::cli {

class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;

  // Draws on terminal, at most width characters; a disabled line draws
  // nothing at all.
  ProgressLine(std::ostream& terminal, bool enabled, std::size_t width = 79);

  // A new place of the run; drawn at once for a company's start and end,
  // at most ten times a second otherwise.
  void Update(const console::RunProgress& progress);
  // Takes the line away (before other output) when it is shown.
  void Clear();

  // The line for a place, at `elapsed` into the run: "[2/3] ORCHID  ColumnRun4 run 4 entry 17 EMPLOYEE CITIZEN_CODE  0:12".
  static std::string Text(const console::RunProgress& progress, Clock::duration elapsed, std::size_t width);

 private:
  void Draw();

  std::ostream& terminal_;
  bool enabled_;
  std::size_t width_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point drawn_at_{};
  console::RunProgress place_;
  std::string step_;       // the last step, shown before a catalogue entry
  std::size_t shown_ = 0;  // characters on the line now
};

}  // namespace kx8::cli

#endif  // KX8_CLI_PROGRESS_LINE_H_
