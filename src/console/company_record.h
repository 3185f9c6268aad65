// What a run did with one company, as the run report shows it: when its
// pass started and ended, every step it reached with its time, every
// message and question, the columns it changed and the error that ended
// its pass. The run driver fills it in as the pass goes; the front ends
// read it afterwards (see TMainForm::RunResults).
#ifndef KX8_CONSOLE_COMPANY_RECORD_H_
#define KX8_CONSOLE_COMPANY_RECORD_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "schema/context.h"

namespace kx8::console {

using WallClock = std::chrono::system_clock;

struct StepTime {
  std::string name;
  int depth = 0;               // 0 for the steps of the pass, 1 for a step inside a column run
  double start_seconds = 0;    // from the start of the company's pass
  double seconds = 0;
};

struct Dialog {
  enum class Kind { Message, Question, Error };
  Kind kind = Kind::Message;
  std::string text;
  std::string caption;  // a message box's own caption, empty for the others
  bool answer = false;  // a question's answer (true: Yes)
};

// Rows of a table that a step changed, from the steps that count them.
struct RowCount {
  std::string step, table;
  std::int64_t rows = 0;
};

struct CompanyRecord {
  std::string kind;  // "free tables" or "dictionary"; empty when it was never connected
  std::optional<std::string> version_before, version_after;  // "8.5"; none when unreadable
  std::string backup_archive;                                 // empty when no backup was made
  std::optional<std::uintmax_t> backup_bytes;
  WallClock::time_point started, ended;
  std::vector<StepTime> steps;
  std::vector<Dialog> dialogs;
  std::vector<schema::ColumnChange> columns;
  std::vector<RowCount> rows;
  std::string error;  // the error that ended the company's pass
};

// Where a run is, for a progress display.
struct RunProgress {
  enum class What { CompanyStarted, Step, CatalogueEntry, CompanyEnded };
  What what = What::CompanyStarted;
  std::size_t company = 0;  // 1-based position among the selected companies
  std::size_t companies = 0;
  std::string code;
  std::string detail;  // the step's name, or "run R entry E TABLE COLUMN"
};

}  // namespace kx8::console

#endif  // KX8_CONSOLE_COMPANY_RECORD_H_
