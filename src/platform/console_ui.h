// UiServices for running without a window: every message and question is
// printed on a line of its own, and questions are answered by a policy.
//
//   confirmation   "<text> [Yes/No] Yes" (or "No"), on the output stream
//   message        "<text>", or "<caption>: <text>" when it has a caption
//   error report   "Error: <text>", on the error stream
//   pump           flushes the output stream
//   cursors        nothing
//
// Policies: AlwaysYes and AlwaysNo answer without asking. AskOnTerminal
// prints the question without its answer, reads one line and takes "y" or
// "yes" (any case, blanks around ignored) as Yes and anything else, the end
// of the input included, as No; when the input is not a terminal there is
// nobody to ask and the answer is No.
#ifndef KX8_PLATFORM_CONSOLE_UI_H_
#define KX8_PLATFORM_CONSOLE_UI_H_

#include <iosfwd>
#include <string>

#include "platform/ui_services.h"

namespace kx8::platform {

enum class ConfirmPolicy { AlwaysYes, AskOnTerminal, AlwaysNo };

class ConsoleUi : public UiServices {
 public:
  // `interactive` tells whether `in` is a terminal a person answers on.
  ConsoleUi(std::ostream& out, std::ostream& err, ConfirmPolicy policy, std::istream& in,
            bool interactive);

  // Standard output, standard error and standard input; interactive when
  // standard input is a terminal.
  static ConsoleUi ForTerminal(ConfirmPolicy policy);

  // True once an error report has been shown: the batch run ends with a
  // non-zero exit status then.
  bool ErrorReported() const { return error_reported_; }

  bool Confirm(const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  void ShowErrorReport(const std::string& text) override;
  void ProcessMessages() override;
  void SetWindowCursor(Cursor cursor) override;
  void SetScreenCursor(Cursor cursor) override;

 private:
  std::ostream* out_;
  std::ostream* err_;
  std::istream* in_;
  ConfirmPolicy policy_;
  bool interactive_;
  bool error_reported_ = false;
};

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_CONSOLE_UI_H_
