#include "platform/scripted_ui.h"

namespace kx8::platform {

void ScriptedUi::Answer(std::initializer_list<bool> answers) {
  answers_.insert(answers_.end(), answers.begin(), answers.end());
}

std::vector<std::string> ScriptedUi::Messages() const {
  std::vector<std::string> messages;
  for (const std::string& line : lines_) {
    if (line == "pump" || line.starts_with("window cursor: ") || line.starts_with("screen cursor: ")) {
      continue;
    }
    messages.push_back(line);
  }
  return messages;
}

bool ScriptedUi::Confirm(const std::string& text) {
  if (answers_.empty()) {
    lines_.push_back("confirm: " + text + " (no scripted answer)");
    throw UnscriptedConfirmation("No scripted answer for the confirmation \"" + text + "\"");
  }
  lines_.push_back("confirm: " + text);
  const bool answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void ScriptedUi::MessageBox(const std::string& text, const std::string& caption) {
  lines_.push_back(caption.empty() ? "message: " + text : "message: " + caption + ": " + text);
}

void ScriptedUi::ShowErrorReport(const std::string& text) { lines_.push_back("error: " + text); }

void ScriptedUi::ProcessMessages() { lines_.push_back("pump"); }

void ScriptedUi::SetWindowCursor(Cursor cursor) {
  lines_.push_back("window cursor: " + std::string(CursorName(cursor)));
}

void ScriptedUi::SetScreenCursor(Cursor cursor) {
  lines_.push_back("screen cursor: " + std::string(CursorName(cursor)));
}

}  // namespace kx8::platform
