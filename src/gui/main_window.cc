#include "gui/main_window.h"

#include <cstdlib>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/register_grid.h"

namespace kx8::gui {
namespace {

using console::ControlKind;
using console::OptionControl;
using console::Page;

const char kEndDuringRunQuestion[] =
    "The upgrade run is still working. Ending the program now leaves the company being processed part "
    "upgraded; its backup archive is in the BACKUP folder. End the program anyway?";

// Geometry of the window (client area) and of its parts, in pixels.
constexpr int kClientWidth = 505;
constexpr int kClientHeight = 596;
constexpr int kPageControlHeight = 465;
constexpr int kStatusLineHeight = 24;
constexpr int kBottomPanelHeight = 41;
constexpr int kGridHeight = 261;
// Check boxes of the "Main" page above the grid: two columns.
constexpr int kMainPageColumns = 2;

const QColor kSilver(192, 192, 192);
const QColor kBottomPanelColour(240, 202, 166);

struct PageInfo {
  Page page;
  const char* name;  // object name and tab text
};
const PageInfo kPages[] = {{Page::Main, "Main"}, {Page::Optional, "Optional"}, {Page::Misc, "Misc"}};

const char kGroupBoxName[] = "GroupBox3";
const char kFlowTableLabelName[] = "LabelFlowTable";

void InstallFontSubstitutes() {
  // Liberation Sans has the metrics of Arial; MS Sans Serif, a bitmap font
  // of the same proportions, is best replaced by the same.
  QFont::insertSubstitutions("MS Sans Serif", {"Microsoft Sans Serif", "Liberation Sans", "Arimo", "DejaVu Sans"});
  QFont::insertSubstitutions("Arial", {"Liberation Sans", "Arimo", "DejaVu Sans"});
}

}  // namespace

QFont WindowFont() {
  InstallFontSubstitutes();
  QFont font("MS Sans Serif");
  font.setPointSize(8);
  return font;
}

QFont ArialFont(int point_size, bool bold) {
  InstallFontSubstitutes();
  QFont font("Arial");
  font.setPointSize(point_size);
  font.setBold(bold);
  return font;
}

template <typename F>
void MainWindow::Guarded(F&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    form_.ui().ShowErrorReport(e.what());
  }
}

MainWindow::MainWindow(console::StartupSettings settings, platform::UiServices* ui)
    : form_(ui != nullptr ? *ui : dialogs_, std::move(settings)) {
  dialogs_.SetWindow(this);
  setObjectName("Form1");
  BuildWindow();
  ConnectForm();
  qApp->installEventFilter(this);
  Guarded([&] { form_.FormCreate(); });
  Guarded([&] { model_->Reload(); });
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  form_.OnStatusChanged = nullptr;
  form_.OnLockChanged = nullptr;
  form_.OnClose = nullptr;
  // The controls and the grid call the form; they go while it is still there.
  delete takeCentralWidget();
}

void MainWindow::BuildWindow() {
  setFont(WindowFont());
  auto* client = new QWidget(this);
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);
  setFixedSize(kClientWidth, kClientHeight);

  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  pages_ = new QTabWidget(client);
  pages_->setObjectName("PageControl1");
  pages_->setFixedHeight(kPageControlHeight);
  for (const PageInfo& p : kPages) pages_->addTab(BuildPage(p.page), QString::fromUtf8(p.name));
  // The support pages stay hidden until F5.
  pages_->setTabVisible(1, false);
  pages_->setTabVisible(2, false);
  pages_->setCurrentIndex(0);
  layout->addWidget(pages_);

  edit1_ = BuildStatusLine("Edit1", kSilver);
  edit2_ = BuildStatusLine("Edit2", palette().color(QPalette::Window));
  edtdatabase_ = BuildStatusLine("edtdatabase", palette().color(QPalette::Window));
  for (QLineEdit* line : {edit1_, edit2_, edtdatabase_}) layout->addWidget(line);
  layout->addStretch(1);
  layout->addWidget(BuildBottomPanel());
  SyncOptionControls();
}

QWidget* MainWindow::BuildPage(Page page) {
  auto* widget = new QWidget;
  widget->setObjectName(QString::fromUtf8(kPages[static_cast<int>(page)].name));
  auto* layout = new QVBoxLayout(widget);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  std::vector<const OptionControl*> controls;
  for (const OptionControl& c : console::OptionControls()) {
    if (c.page == page) controls.push_back(&c);
  }
  auto* options = new QGridLayout;
  options->setContentsMargins(6, 6, 4, 6);
  options->setHorizontalSpacing(4);
  options->setVerticalSpacing(page == Page::Main ? 1 : 4);
  int columns = page == Page::Main ? kMainPageColumns : 1;
  int rows = (static_cast<int>(controls.size()) + columns - 1) / columns;
  QGroupBox* group = nullptr;
  QVBoxLayout* group_layout = nullptr;
  int slot = 0;
  auto place = [&](QWidget* w) {
    options->addWidget(w, slot % rows, slot / rows);
    ++slot;
  };
  for (const OptionControl* c : controls) {
    QString caption = QString::fromUtf8(c->caption);
    switch (c->kind) {
      case ControlKind::CheckBox: {
        auto* box = new QCheckBox(caption);
        box->setObjectName(c->name);
        std::string name = c->name;
        connect(box, &QCheckBox::toggled, this, [this, name](bool on) { form_.options.SetChecked(name, on); });
        if (name == "CheckBox2" || name == "CheckBoxDir") {
          connect(box, &QCheckBox::clicked, this, [this] { SelectAllClicked(); });
        } else if (name == "CheckBox5") {
          connect(box, &QCheckBox::clicked, this, [this] { PaymentPasswordClicked(); });
        }
        controls_[name] = box;
        place(box);
        break;
      }
      case ControlKind::RadioButton: {
        // The radio buttons of a page share one group box.
        if (group == nullptr) {
          group = new QGroupBox(QString::fromUtf8(kGroupBoxName));
          group->setObjectName(kGroupBoxName);
          group_layout = new QVBoxLayout(group);
          place(group);
        }
        auto* radio = new QRadioButton(caption, group);
        radio->setObjectName(c->name);
        std::string name = c->name;
        connect(radio, &QRadioButton::toggled, this, [this, name](bool on) { form_.options.SetChecked(name, on); });
        group_layout->addWidget(radio);
        controls_[name] = radio;
        break;
      }
      case ControlKind::Edit: {
        auto* row = new QWidget;
        auto* row_layout = new QHBoxLayout(row);
        row_layout->setContentsMargins(0, 0, 0, 0);
        auto* label = new QLabel(caption, row);
        label->setObjectName(kFlowTableLabelName);
        auto* edit = new QLineEdit(row);
        edit->setObjectName(c->name);
        label->setBuddy(edit);
        std::string name = c->name;
        connect(edit, &QLineEdit::textChanged, this,
                [this, name](const QString& text) { form_.options.SetText(name, text.toStdString()); });
        row_layout->addWidget(label);
        row_layout->addWidget(edit, 1);
        row_layout->addStretch(1);
        controls_[name] = edit;
        place(row);
        break;
      }
    }
  }
  layout->addLayout(options);
  layout->addStretch(1);

  if (page == Page::Main) {
    grid_ = new RegisterGrid(widget);
    grid_->setObjectName("DBGrid1");
    grid_->setFixedHeight(kGridHeight);
    grid_->setFont(ArialFont(8, true));
    grid_->horizontalHeader()->setFont(ArialFont(8, true));
    grid_->horizontalHeader()->setStyleSheet(
        "QHeaderView::section { background-color: silver; color: black; font-weight: bold; "
        "padding: 1px 3px; border: 0px; border-right: 1px solid gray; border-bottom: 1px solid gray; }");
    model_ = new RegisterModel(form_, grid_);
    grid_->SetRegisterModel(model_);
    // The row being edited is saved when another row becomes current.
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex&, const QModelIndex&) { Guarded([&] { model_->Save(); }); });
    layout->addWidget(grid_);
  }
  return widget;
}

QLineEdit* MainWindow::BuildStatusLine(const char* name, const QColor& background) {
  auto* line = new QLineEdit;
  line->setObjectName(name);
  line->setReadOnly(true);
  line->setFixedHeight(kStatusLineHeight);
  line->setFont(ArialFont(10, true));
  QPalette p = line->palette();
  p.setColor(QPalette::Base, background);
  p.setColor(QPalette::Text, Qt::black);
  line->setPalette(p);
  return line;
}

QWidget* MainWindow::BuildBottomPanel() {
  auto* panel = new QFrame;
  panel->setObjectName("PanelBottom");
  panel->setFixedHeight(kBottomPanelHeight);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setAutoFillBackground(true);
  QPalette p = panel->palette();
  p.setColor(QPalette::Window, kBottomPanelColour);
  panel->setPalette(p);

  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(8, 4, 8, 4);
  server_label_ = new QLabel(panel);
  server_label_->setObjectName("LabelServerInfo");
  layout->addWidget(server_label_);
  layout->addStretch(1);
  process_ = new QPushButton(QStringLiteral("&Process"), panel);
  process_->setObjectName("BitBtn1");
  close_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("&Close"), panel);
  close_->setObjectName("BitBtn2");
  for (QPushButton* b : {process_, close_}) {
    b->setMinimumWidth(82);
    layout->addWidget(b);
  }
  connect(process_, &QPushButton::clicked, this, [this] { ProcessClicked(); });
  connect(close_, &QPushButton::clicked, this, [this] {
    if (ConfirmEndDuringRun()) form_.Close();
  });
  return panel;
}

void MainWindow::ConnectForm() {
  form_.OnStatusChanged = [this](console::StatusLine line, const std::string& text) {
    QLineEdit* edit = line == console::StatusLine::Edit1   ? edit1_
                      : line == console::StatusLine::Edit2 ? edit2_
                                                           : edtdatabase_;
    edit->setText(QString::fromStdString(text));
    edit->setCursorPosition(0);
  };
  form_.OnLockChanged = [this] {
    process_->setEnabled(form_.ProcessEnabled());
    grid_->setEnabled(form_.GridEnabled());
    pages_->setEnabled(form_.OptionsEnabled());
  };
  form_.OnClose = [this] {
    if (!in_close_event_) close();
  };
}

void MainWindow::SyncOptionControls() {
  for (const OptionControl& c : console::OptionControls()) {
    QWidget* w = controls_.at(c.name);
    QSignalBlocker block(w);
    if (auto* box = qobject_cast<QCheckBox*>(w)) box->setChecked(form_.options.Checked(c.name));
    if (auto* radio = qobject_cast<QRadioButton*>(w)) radio->setChecked(form_.options.Checked(c.name));
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(QString::fromStdString(form_.options.Text(c.name)));
    w->setEnabled(form_.options.Enabled(c.name));
  }
}

void MainWindow::ShowHiddenPages() {
  pages_->setTabVisible(1, true);
  pages_->setTabVisible(2, true);
}

void MainWindow::ProcessClicked() {
  Guarded([&] {
    // A tick not saved yet is saved before the run reads the register.
    model_->Save();
    form_.BitBtn1Click();
  });
  if (form_.Closed()) return;
  // The run may have added companies (retrieve) or ended early.
  Guarded([&] { model_->Reload(); });
}

void MainWindow::SelectAllClicked() {
  Guarded([&] {
    model_->Save();
    form_.CheckBox2Click();
  });
  Guarded([&] { model_->Reload(); });
}

void MainWindow::PaymentPasswordClicked() {
  form_.CheckBox5Click();
  SyncOptionControls();
}

void MainWindow::showEvent(QShowEvent* event) {
  Guarded([&] { form_.FormShow(); });
  setWindowTitle(QString::fromStdString(form_.Caption));
  server_label_->setText(QString::fromStdString(form_.LabelServerInfo));
  if (!centred_ && screen() != nullptr) {
    centred_ = true;
    QRect area = screen()->availableGeometry();
    move(area.center() - rect().center());
  }
  QMainWindow::showEvent(event);
}

bool MainWindow::ConfirmEndDuringRun() {
  if (!form_.Running()) return true;
  if (!form_.ui().Confirm(kEndDuringRunQuestion)) return false;
  // There is no way to stop a run half-way but to end the process: every
  // table rewrite survives that whole (old or new files), a table taken out
  // of its dictionary goes back at the next connect, and the company's
  // backup is the way back for the rest.
  std::_Exit(1);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The form closing itself at the end of its run is not a close during it.
  if (!in_close_event_ && !form_.Closed() && form_.Running() && !ConfirmEndDuringRun()) {
    event->ignore();
    return;
  }
  in_close_event_ = true;
  form_.Close();
  in_close_event_ = false;
  event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F5) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) {
      ShowHiddenPages();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace kx8::gui
