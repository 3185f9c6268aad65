#include "gui/qt_ui.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include "console/main_form.h"

namespace kx8::gui {

QString QtUi::Title() { return QString::fromUtf8(console::TMainForm::kApplicationTitle); }

Qt::CursorShape QtUi::Shape(platform::Cursor cursor) {
  switch (cursor) {
    case platform::Cursor::Default: return Qt::ArrowCursor;
    case platform::Cursor::HourGlass: return Qt::WaitCursor;
    case platform::Cursor::DatabaseWait: return Qt::BusyCursor;
  }
  return Qt::ArrowCursor;
}

QWidget* QtUi::DialogParent() const {
  // Before the window is shown (start-up) the dialogs stand on their own.
  return window_ != nullptr && window_->isVisible() ? window_.data() : nullptr;
}

bool QtUi::Confirm(const std::string& text) {
  QMessageBox::StandardButton answer =
      QMessageBox::question(DialogParent(), Title(), QString::fromStdString(text),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
  return answer == QMessageBox::Yes;
}

void QtUi::MessageBox(const std::string& text, const std::string& caption) {
  QMessageBox::information(DialogParent(), caption.empty() ? Title() : QString::fromStdString(caption),
                           QString::fromStdString(text));
}

void QtUi::ShowErrorReport(const std::string& text) {
  QMessageBox::critical(DialogParent(), Title(), QString::fromStdString(text));
}

void QtUi::ProcessMessages() { QCoreApplication::processEvents(); }

void QtUi::SetWindowCursor(platform::Cursor cursor) {
  if (window_ == nullptr) return;
  if (cursor == platform::Cursor::Default) {
    window_->unsetCursor();
  } else {
    window_->setCursor(Shape(cursor));
  }
}

void QtUi::SetScreenCursor(platform::Cursor cursor) {
  if (cursor == platform::Cursor::Default) {
    if (screen_cursor_set_) QGuiApplication::restoreOverrideCursor();
    screen_cursor_set_ = false;
  } else if (screen_cursor_set_) {
    QGuiApplication::changeOverrideCursor(QCursor(Shape(cursor)));
  } else {
    QGuiApplication::setOverrideCursor(QCursor(Shape(cursor)));
    screen_cursor_set_ = true;
  }
}

}  // namespace kx8::gui
