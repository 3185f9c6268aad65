// UiServices for tests: records every call, in order, as a line of text,
// and answers confirmations from a script.
//
// Lines:
//   "confirm: <text>"                a confirmation (answered from the script)
//   "message: <text>"                an information box with the program's title
//   "message: <caption>: <text>"     an information box with its own caption
//   "error: <text>"                  the standard error report
//   "pump"                           pending messages processed
//   "window cursor: <name>"          the window's cursor set (CursorName)
//   "screen cursor: <name>"          the screen-wide cursor set
//
// A confirmation with no scripted answer left is a fault of the test: it is
// recorded as "confirm: <text> (no scripted answer)" and UnscriptedConfirmation
// is thrown, so that the test fails loudly even when the code under test
// catches the exception and reports it (the line is in the transcript).
#ifndef KX8_PLATFORM_SCRIPTED_UI_H_
#define KX8_PLATFORM_SCRIPTED_UI_H_

#include <deque>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui_services.h"

namespace kx8::platform {

class UnscriptedConfirmation : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class ScriptedUi : public UiServices {
 public:
  ScriptedUi() = default;
  explicit ScriptedUi(std::initializer_list<bool> answers) : answers_(answers) {}

  // Adds answers to the end of the script (true is Yes).
  void Answer(std::initializer_list<bool> answers);

  // Answers not used yet.
  std::size_t PendingAnswers() const { return answers_.size(); }

  // Every call so far, in order.
  const std::vector<std::string>& Lines() const { return lines_; }

  // The lines without "pump" and cursor lines: what the person saw and
  // answered.
  std::vector<std::string> Messages() const;

  void Clear() { lines_.clear(); }

  bool Confirm(const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  void ShowErrorReport(const std::string& text) override;
  void ProcessMessages() override;
  void SetWindowCursor(Cursor cursor) override;
  void SetScreenCursor(Cursor cursor) override;

 private:
  std::deque<bool> answers_;
  std::vector<std::string> lines_;
};

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_SCRIPTED_UI_H_
