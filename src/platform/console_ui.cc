#include "platform/console_ui.h"

#include <unistd.h>

#include <iostream>

#include "platform/path.h"

namespace kx8::platform {
namespace {

constexpr std::string_view kQuestionSuffix = " [Yes/No] ";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

bool MeansYes(std::string_view answer) {
  while (!answer.empty() && IsBlank(answer.front())) answer.remove_prefix(1);
  while (!answer.empty() && IsBlank(answer.back())) answer.remove_suffix(1);
  return SameNameIgnoreCase(answer, "y") || SameNameIgnoreCase(answer, "yes");
}

}  // namespace

ConsoleUi::ConsoleUi(std::ostream& out, std::ostream& err, ConfirmPolicy policy, std::istream& in,
                     bool interactive)
    : out_(&out), err_(&err), in_(&in), policy_(policy), interactive_(interactive) {}

ConsoleUi ConsoleUi::ForTerminal(ConfirmPolicy policy) {
  return ConsoleUi(std::cout, std::cerr, policy, std::cin, ::isatty(STDIN_FILENO) == 1);
}

bool ConsoleUi::Confirm(const std::string& text) {
  *out_ << text << kQuestionSuffix;
  bool answer = false;
  switch (policy_) {
    case ConfirmPolicy::AlwaysYes:
      answer = true;
      break;
    case ConfirmPolicy::AlwaysNo:
      answer = false;
      break;
    case ConfirmPolicy::AskOnTerminal:
      if (interactive_) {
        out_->flush();
        std::string line;
        if (std::getline(*in_, line)) return MeansYes(line);  // the terminal echoed the line
        answer = false;
      }
      break;
  }
  *out_ << (answer ? "Yes" : "No") << '\n';
  return answer;
}

void ConsoleUi::MessageBox(const std::string& text, const std::string& caption) {
  if (!caption.empty()) *out_ << caption << ": ";
  *out_ << text << '\n';
}

void ConsoleUi::ShowErrorReport(const std::string& text) {
  error_reported_ = true;
  out_->flush();
  *err_ << "Error: " << text << '\n';
  err_->flush();
}

void ConsoleUi::ProcessMessages() { out_->flush(); }

void ConsoleUi::SetWindowCursor(Cursor /*cursor*/) {}

void ConsoleUi::SetScreenCursor(Cursor /*cursor*/) {}

}  // namespace kx8::platform
