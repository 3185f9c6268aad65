// The main window: the three option pages (only "Main" shown until F5 is
// pressed anywhere in the window), the company grid, the three status
// lines and the bottom panel with the server label, Process and Close.
//
// The window is a view of console::TMainForm: its controls are built from
// the option table (console/options.h) and carry the component names as
// object names; every change of a control goes to the form's options, and
// the form's status lines, lock and close come back through its callbacks.
#ifndef KX8_GUI_MAIN_WINDOW_H_
#define KX8_GUI_MAIN_WINDOW_H_

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>

#include "console/main_form.h"
#include "gui/qt_ui.h"

class QLineEdit;
class QPushButton;
class QTabWidget;
class QLabel;

namespace kx8::gui {

class RegisterGrid;
class RegisterModel;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Runs the start-up (window creation). ui: the services the run uses;
  // null for the window's own dialogs.
  explicit MainWindow(console::StartupSettings settings, platform::UiServices* ui = nullptr);
  ~MainWindow() override;

  console::TMainForm& Form() { return form_; }

  // Shows the tabs of the pages "Optional" and "Misc" (F5).
  void ShowHiddenPages();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // F5 pressed anywhere in the window, whichever control has the focus.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildWindow();
  QWidget* BuildPage(console::Page page);
  QWidget* BuildBottomPanel();
  QLineEdit* BuildStatusLine(const char* name, const QColor& background);
  // The option controls from the form's options, signals held back.
  void SyncOptionControls();
  void ConnectForm();

  void ProcessClicked();
  void SelectAllClicked();
  // Close while a run is working: asks, and ends the process on Yes.
  bool ConfirmEndDuringRun();
  void PaymentPasswordClicked();
  // Runs work of the form; an error it lets out goes to the error report.
  template <typename F>
  void Guarded(F&& work);

  QtUi dialogs_;
  console::TMainForm form_;
  std::map<std::string, QWidget*> controls_;
  QTabWidget* pages_ = nullptr;
  RegisterGrid* grid_ = nullptr;
  RegisterModel* model_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QLineEdit* edit2_ = nullptr;
  QLineEdit* edtdatabase_ = nullptr;
  QLabel* server_label_ = nullptr;
  QPushButton* process_ = nullptr;
  QPushButton* close_ = nullptr;
  bool centred_ = false;
  bool in_close_event_ = false;
};

// Fonts of the window: the named ones, or metric-compatible free ones
// where they are missing.
QFont WindowFont();                // MS Sans Serif 8 point
QFont ArialFont(int point_size, bool bold);

}  // namespace kx8::gui

#endif  // KX8_GUI_MAIN_WINDOW_H_
