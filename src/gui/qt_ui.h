// The UI services with real dialogs: a Yes/No question for confirmations,
// an information box, a critical box for the standard error report, the
// Qt event loop for pumping messages, and the window's and application's
// cursors.
#ifndef KX8_GUI_QT_UI_H_
#define KX8_GUI_QT_UI_H_

#include <QPointer>
#include <QWidget>

#include "platform/ui_services.h"

namespace kx8::gui {

class QtUi : public platform::UiServices {
 public:
  // The main window: the parent of the dialogs while it is shown, and the
  // owner of the window cursor.
  void SetWindow(QWidget* window) { window_ = window; }

  bool Confirm(const std::string& text) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  void ShowErrorReport(const std::string& text) override;
  void ProcessMessages() override;
  void SetWindowCursor(platform::Cursor cursor) override;
  void SetScreenCursor(platform::Cursor cursor) override;

  // The application's title: the caption of the dialogs that have none.
  static QString Title();
  static Qt::CursorShape Shape(platform::Cursor cursor);

 private:
  QWidget* DialogParent() const;

  QPointer<QWidget> window_;
  bool screen_cursor_set_ = false;
};

}  // namespace kx8::gui

#endif  // KX8_GUI_QT_UI_H_
