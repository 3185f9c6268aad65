// The run options of the main window: every check box, radio button and
// edit box with its caption, default and page, held as data. The window
// builds its controls from this table, the batch front end sets options by
// their component names, and the run reads them by name.
#ifndef KX8_CONSOLE_OPTIONS_H_
#define KX8_CONSOLE_OPTIONS_H_

#include <map>
#include <string>
#include <vector>

namespace kx8::console {

enum class Page { Main, Optional, Misc };
enum class ControlKind { CheckBox, RadioButton, Edit };

struct OptionControl {
  const char* name;     // component name
  ControlKind kind;
  const char* caption;  // as stored; "&&" shows one ampersand
  bool checked;         // default of check boxes and radio buttons
  bool enabled;         // default enabled state
  Page page;
  const char* text;     // default text of edit boxes
};

// In the order of the window, page by page.
const std::vector<OptionControl>& OptionControls();
const OptionControl* FindOptionControl(const std::string& name);

// The state of the options while the program runs.
class RunOptions {
 public:
  RunOptions();
  // Checked state of a check box or radio button; unknown names raise.
  bool Checked(const std::string& name) const;
  void SetChecked(const std::string& name, bool checked);
  bool Enabled(const std::string& name) const;
  void SetEnabled(const std::string& name, bool enabled);
  const std::string& Text(const std::string& name) const;
  void SetText(const std::string& name, const std::string& text);

 private:
  const OptionControl& Control(const std::string& name) const;
  std::map<std::string, bool> checked_;
  std::map<std::string, bool> enabled_;
  std::map<std::string, std::string> text_;
};

}  // namespace kx8::console

#endif  // KX8_CONSOLE_OPTIONS_H_
