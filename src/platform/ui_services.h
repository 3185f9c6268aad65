// Everything a person sees or answers goes through UiServices.
//
// The console core never shows a dialog or touches a cursor itself; it
// calls these services. The window implements them with real dialogs and
// cursors, the batch front end with ConsoleUi (platform/console_ui.h), and
// tests with ScriptedUi (platform/scripted_ui.h), which records every call
// and answers confirmations from a script.
#ifndef KX8_PLATFORM_UI_SERVICES_H_
#define KX8_PLATFORM_UI_SERVICES_H_

#include <string>
#include <string_view>

namespace kx8::platform {

enum class Cursor {
  Default,       // the ordinary arrow; for the screen: no override
  HourGlass,     // busy: extracting an archive
  DatabaseWait,  // busy with the database: the window during a run
};

// "default", "hourglass", "database-wait".
std::string_view CursorName(Cursor cursor);

class UiServices {
 public:
  virtual ~UiServices() = default;

  // A question with the buttons Yes and No; true when the answer is Yes.
  virtual bool Confirm(const std::string& text) = 0;

  // An information box with an OK button. An empty caption means the
  // program's title.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;

  // The application's standard report of an error that nothing else
  // handled: its text in an error box.
  virtual void ShowErrorReport(const std::string& text) = 0;

  // Handles the window messages waiting at this moment (repaints, moves),
  // then returns; called after each status text during long work.
  virtual void ProcessMessages() = 0;

  // The main window's cursor.
  virtual void SetWindowCursor(Cursor cursor) = 0;

  // The screen-wide cursor; while it is not Cursor::Default it overrides
  // the window's cursor.
  virtual void SetScreenCursor(Cursor cursor) = 0;
};

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_UI_SERVICES_H_
