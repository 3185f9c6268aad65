// The main window under the offscreen platform: pages, defaults, captions,
// the company grid, the lock during a run, closing, and the dialogs.
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "platform/scripted_ui.h"
#include "test_root.h"

namespace kx8::gui {
namespace {

namespace fs = std::filesystem;

// Captions as the system stores them, doubled and trailing blanks and the
// "&&" that shows one ampersand included, with the page of each control.
struct Caption {
  const char* name;
  const char* text;
  const char* page;
};
const Caption kCaptions[] = {
      {"CheckBoxbackup", "Auto Backup before update database ? ", "Main"},
      {"CheckBox1", "Update New fields", "Main"},
      {"CheckBox2", "Tick to select All company", "Main"},
      {"CheckBoxDir", "Retrieve Company Code from Company Folder?", "Main"},
      {"CheckBoxVol", "Update Voluntory Code [Vol1] ?", "Main"},
      {"chkAC", "Update Email Ac to 80 Chars?", "Main"},
      {"CheckBoxHTRX", "Update Transaction  Record?", "Main"},
      {"CheckBoxSupvr1", "Update Supervisor Table ?", "Main"},
      {"CheckBoxPOSB", "Update POSB Account  to 7171 ?", "Main"},
      {"CheckBoxRearrange", "Rearrange Custom Report", "Main"},
      {"CheckBoxTerm", "Update Employee Termination Status ? ", "Main"},
      {"CheckBoxRight", "Rebuild Table Right?", "Main"},
      {"CheckBoxPICTURE", "Update Picture", "Main"},
      {"CheckBoxFin", "Update Fin Number?", "Main"},
      {"removeNRIC", "Remove NRIC with '/'?", "Main"},
      {"chkCPFFWL", "Update 2012 FWL table?", "Main"},
      {"CheckBoxSAVEJPG", "Save JPG on c:\\temp?", "Main"},
      {"CheckBoxNS", "Update NS Date", "Optional"},
      {"CheckBoxCost", "Update Employee's Cost Centre", "Optional"},
      {"CheckBoxAdd", "Update MSO Subject to AddWages ? ", "Optional"},
      {"CheckBoxClaim", "Update Claim Setup Table", "Optional"},
      {"CheckBoxjpg", "Covert Employee's Photo Bmp To Jpg", "Optional"},
      {"CheckBoxaddr", "add '6'  digit to Telephone  No", "Optional"},
      {"CheckBoxSTOP", "Update Stop payment Indicator ?", "Optional"},
      {"CheckBoxFamily", "Update Family Details to family Record ? ", "Optional"},
      {"CheckBoxEducate", "Update Education Record ID ?", "Optional"},
      {"CheckBoxFamilyCode", "Convert Family's Occupation code ?", "Optional"},
      {"CheckBoxUpdate", "Update Report Template ?", "Optional"},
      {"CheckBoxCode", "Update Report Template ?", "Optional"},
      {"CheckBoxAdv", "Update Advance Report Writer Template ?", "Optional"},
      {"CheckBoxForfeit", "Initialize Leave Convert from KX5 version ?", "Optional"},
      {"CheckBoxCTR", "Convert Cost Centre code ?", "Optional"},
      {"CheckBox5", "Reset e-Payslip Password", "Misc"},
      {"RadioButton1", "Update All", "Misc"},
      {"RadioButton2", "Update Blank Field", "Misc"},
      {"CheckBox7", "Linking zEzore to rIvudAveru (Dic)", "Misc"},
      {"CheckBox3", "Overwrite rAdize Template && Extra Parameters?", "Misc"},
      {"CheckBox4", "Update rAdize Template              ?", "Misc"},
      {"CheckBox6", "Update to new zEzore approval flow ?", "Misc"},
      {"GroupBox3", "GroupBox3", "Misc"},
      {"LabelFlowTable", "Flow Table", "Misc"},
      {"Edit4", "employee", "Misc"},
      {"BitBtn1", "&Process", ""},
};

const char kTitle[] = "KX8 MTN VER 8.90 17/09/2009";

// Scripted answers, and what the window looked like each time the run
// pumped messages.
class RecordingUi : public platform::ScriptedUi {
 public:
  using ScriptedUi::ScriptedUi;
  std::function<void()> on_pump;
  void ProcessMessages() override {
    ScriptedUi::ProcessMessages();
    if (on_pump) on_pump();
  }
};

// Clicks a button of the next message box once it is shown, after noting
// its title, text and icon.
struct SeenBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};
void AnswerNextBox(QMessageBox::StandardButton button, SeenBox* seen) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, button, seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen->title = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    timer->stop();
    timer->deleteLater();
    box->button(button)->click();
  });
  timer->start(10);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  fs::path base_;
  std::string root_;
  std::unique_ptr<RecordingUi> ui_;

  // A window over a root with the companies, shown.
  std::unique_ptr<MainWindow> Open(const std::vector<testroot::Company>& companies) {
    testroot::MakeRoot(root_, companies);
    console::StartupSettings settings;
    settings.root_override = root_;
    auto window = std::make_unique<MainWindow>(settings, ui_.get());
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get())) return nullptr;
    return window;
  }
  static std::vector<testroot::Company> TwoCompanies() {
    return {{"ACME", "Acme Pte Ltd", ""}, {"BETA", "Beta Pte Ltd", ""}};
  }
  template <typename T>
  static T* Find(QWidget* window, const char* name) {
    return window->findChild<T*>(QString::fromUtf8(name));
  }
  static QTabWidget* Pages(QWidget* w) { return Find<QTabWidget>(w, "PageControl1"); }
  // Clicks a check box or radio button on its indicator.
  static void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }

 private slots:
  void init() {
    base_ = fs::temp_directory_path() /
            ("kx8-gui-" + std::to_string(::getpid()) + "-" + QTest::currentTestFunction());
    fs::remove_all(base_);
    root_ = (base_ / "root").string() + "/";
    ui_ = std::make_unique<RecordingUi>();
  }
  void cleanup() {
    ui_.reset();
    fs::remove_all(base_);
  }

  void aFreshStartShowsOnlyMainWithItsDefaults() {
    // Registered out of order, shown in COMPANY_CODE order.
    auto w = Open({{"BETA", "Beta Pte Ltd", ""}, {"ACME", "Acme Pte Ltd", "0"}});
    QVERIFY(w);
    QCOMPARE(QString::fromStdString(Joined(ui_->Lines())), QString());
    QTabWidget* pages = Pages(w.get());
    QVERIFY(pages->isTabVisible(0));
    QVERIFY(!pages->isTabVisible(1));
    QVERIFY(!pages->isTabVisible(2));
    QCOMPARE(pages->currentWidget()->objectName(), QString("Main"));
    QStringList ticked;
    for (QCheckBox* box : w->findChildren<QCheckBox*>()) {
      if (box->isChecked()) ticked << box->objectName();
    }
    ticked.sort();
    QCOMPARE(ticked, QStringList({"CheckBox1", "CheckBoxbackup", "chkCPFFWL"}));
    QVERIFY(Find<QRadioButton>(w.get(), "RadioButton2")->isChecked());
    QVERIFY(!Find<QRadioButton>(w.get(), "RadioButton1")->isChecked());
    // Caption and server label from the window being shown.
    QVERIFY2(w->windowTitle().startsWith(QString(kTitle) + " ("), qPrintable(w->windowTitle()));
    QVERIFY(Find<QLabel>(w.get(), "LabelServerInfo")->text().contains(" Server  DB Version "));
    // The register in COMPANY_CODE order, nothing selected.
    auto* grid = Find<QTableView>(w.get(), "DBGrid1");
    QCOMPARE(grid->model()->rowCount(), 2);
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QString("ACME"));
    QCOMPARE(grid->model()->index(0, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(grid->model()->index(1, 0).data().toString(), QString("BETA"));
    QCOMPARE(grid->model()->index(1, 1).data().toString(), QString("Beta Pte Ltd"));
    QCOMPARE(grid->model()->index(1, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    for (const char* line : {"Edit1", "Edit2", "edtdatabase"}) QVERIFY(Find<QLineEdit>(w.get(), line)->text().isEmpty());
  }

  void f5AnywhereShowsTheHiddenPages_data() {
    QTest::addColumn<QString>("focus");
    for (const char* name : {"DBGrid1", "CheckBoxbackup", "Edit1", "BitBtn1", "PageControl1"}) {
      QTest::newRow(name) << QString(name);
    }
  }
  void f5AnywhereShowsTheHiddenPages() {
    QFETCH(QString, focus);
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    auto* target = w->findChild<QWidget*>(focus);
    QVERIFY(target);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_F6);
    QVERIFY(!Pages(w.get())->isTabVisible(1));
    QTest::keyClick(target, Qt::Key_F5);
    QVERIFY(Pages(w.get())->isTabVisible(1));
    QVERIFY(Pages(w.get())->isTabVisible(2));
    // There is no key to hide them again.
    QTest::keyClick(target, Qt::Key_F5);
    QVERIFY(Pages(w.get())->isTabVisible(1));
  }

  void theEPayslipChoicesFollowCheckBox5() {
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    QTest::keyClick(w.get(), Qt::Key_F5);
    Pages(w.get())->setCurrentIndex(2);
    auto* box = Find<QCheckBox>(w.get(), "CheckBox5");
    auto* all = Find<QRadioButton>(w.get(), "RadioButton1");
    auto* blank = Find<QRadioButton>(w.get(), "RadioButton2");
    QVERIFY(blank->isChecked());
    QVERIFY(!blank->isEnabled());
    QVERIFY(!all->isEnabled());
    Click(box);
    QVERIFY(box->isChecked());
    QVERIFY(blank->isEnabled());
    QVERIFY(all->isEnabled());
    // The choice reaches the options the run reads.
    Click(all);
    QVERIFY(w->Form().options.Checked("RadioButton1"));
    QVERIFY(!w->Form().options.Checked("RadioButton2"));
    Click(box);
    QVERIFY(!all->isEnabled());
    QVERIFY(!blank->isEnabled());
    QVERIFY(!w->Form().options.Checked("CheckBox5"));
  }

  void everyCaptionIsTheSystemsText_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("page");
    for (const Caption& c : kCaptions) {
      QTest::newRow(c.name) << QString(c.name) << QString::fromUtf8(c.text) << QString(c.page);
    }
  }
  void everyCaptionIsTheSystemsText() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, page);
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    auto* widget = w->findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QString shown;
    if (auto* b = qobject_cast<QAbstractButton*>(widget)) shown = b->text();
    if (auto* g = qobject_cast<QGroupBox*>(widget)) shown = g->title();
    if (auto* l = qobject_cast<QLabel*>(widget)) shown = l->text();
    if (auto* e = qobject_cast<QLineEdit*>(widget)) shown = e->text();
    QCOMPARE(shown, text);
    QString on_page;
    for (QWidget* p = widget->parentWidget(); p != nullptr; p = p->parentWidget()) {
      if (p->parentWidget() != nullptr && p->parentWidget()->parentWidget() == Pages(w.get())) on_page = p->objectName();
    }
    QCOMPARE(on_page, page);
  }

  void theFixedTextsOfTheWindow() {
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    QTabWidget* pages = Pages(w.get());
    QCOMPARE(pages->count(), 3);
    QStringList tabs;
    for (int i = 0; i < pages->count(); ++i) tabs << pages->tabText(i) + "/" + pages->widget(i)->objectName();
    QCOMPARE(tabs, QStringList({"Main/Main", "Optional/Optional", "Misc/Misc"}));
    auto* grid = Find<QTableView>(w.get(), "DBGrid1");
    QStringList titles;
    for (int i = 0; i < grid->model()->columnCount(); ++i) {
      titles << grid->model()->headerData(i, Qt::Horizontal).toString();
    }
    QCOMPARE(titles, QStringList({"COMPANY_CODE", "COMPANY_NAME", "Selected"}));
    // The code column is narrower than the name column, as 15 to 40 characters.
    QVERIFY(grid->columnWidth(0) * 2 < grid->columnWidth(1));
    // "&&" is no accelerator; "&Process" is Alt+P.
    QVERIFY(QKeySequence::mnemonic(Find<QCheckBox>(w.get(), "CheckBox3")->text()).isEmpty());
    QCOMPARE(QKeySequence::mnemonic(Find<QPushButton>(w.get(), "BitBtn1")->text()),
             QKeySequence(Qt::ALT | Qt::Key_P));
  }

  void theStatusLinesAndThePanelLook() {
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    auto* edit1 = Find<QLineEdit>(w.get(), "Edit1");
    auto* edit2 = Find<QLineEdit>(w.get(), "Edit2");
    auto* edtdatabase = Find<QLineEdit>(w.get(), "edtdatabase");
    for (QLineEdit* line : {edit1, edit2, edtdatabase}) {
      QVERIFY(line->isReadOnly());
      QVERIFY(line->font().bold());
      QCOMPARE(line->font().pointSize(), 10);
      // Arial, or its metric-compatible free replacement.
      QString family = QFontInfo(line->font()).family();
      QVERIFY2(family == "Arial" || family == "Liberation Sans" || family == "Arimo", qPrintable(family));
      QCOMPARE(line->palette().color(QPalette::Text), QColor(Qt::black));
    }
    QCOMPARE(edit1->palette().color(QPalette::Base), QColor(192, 192, 192));
    QCOMPARE(edit2->palette().color(QPalette::Base), w->palette().color(QPalette::Window));
    QCOMPARE(Find<QWidget>(w.get(), "PanelBottom")->palette().color(QPalette::Window), QColor(240, 202, 166));
    w->Form().SetEdit1("Updating file : EMPLOYEE Field : SUPERVISOR_CODE2");
    w->Form().SetEdtDatabase("C:\\KX8\\COMPANY\\ACME");
    QCOMPARE(edit1->text(), QString("Updating file : EMPLOYEE Field : SUPERVISOR_CODE2"));
    QCOMPARE(edtdatabase->text(), QString("C:\\KX8\\COMPANY\\ACME"));
    QVERIFY(edit2->text().isEmpty());
  }

  void theSelectedBoxIsSavedWhenTheRowChanges() {
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    auto* grid = Find<QTableView>(w.get(), "DBGrid1");
    auto* model = grid->model();
    grid->setFocus();
    struct Step {
      int row;              // row whose box is toggled with the space bar
      Qt::Key move;         // then the key that makes another row current
      const char* before;   // the register before the move
      const char* after;    // and after it
    };
    const Step steps[] = {
        {0, Qt::Key_Down, "ACME=,BETA=", "ACME=1,BETA="},
        {1, Qt::Key_Up, "ACME=1,BETA=", "ACME=1,BETA=1"},
        {0, Qt::Key_Down, "ACME=1,BETA=1", "ACME=,BETA=1"},  // unticked: an empty string
    };
    for (const Step& s : steps) {
      grid->setCurrentIndex(model->index(s.row, 2));
      bool ticked = model->index(s.row, 2).data(Qt::CheckStateRole).toInt() == Qt::Checked;
      QTest::keyClick(grid, Qt::Key_Space);
      QCOMPARE(model->index(s.row, 2).data(Qt::CheckStateRole).toInt() == Qt::Checked, !ticked);
      QCOMPARE(QString::fromStdString(Joined(testroot::RegisterSelection(root_))), QString(s.before));
      QTest::keyClick(grid, s.move);
      QCOMPARE(QString::fromStdString(Joined(testroot::RegisterSelection(root_))), QString(s.after));
    }
    // Only the "Selected" column can be ticked.
    QVERIFY(!(model->flags(model->index(0, 0)) & Qt::ItemIsUserCheckable));
    QVERIFY(!(model->flags(model->index(0, 1)) & Qt::ItemIsUserCheckable));
  }

  void enterMovesToTheNextCell() {
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    auto* grid = Find<QTableView>(w.get(), "DBGrid1");
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(0, 0));
    QStringList visited;
    for (int i = 0; i < 4; ++i) {
      QTest::keyClick(grid, Qt::Key_Return);
      visited << QString("%1,%2").arg(grid->currentIndex().row()).arg(grid->currentIndex().column());
    }
    QCOMPARE(visited, QStringList({"0,1", "0,2", "1,0", "1,1"}));
  }

  void selectAllTicksOrClearsEveryCompany() {
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    auto* grid = Find<QTableView>(w.get(), "DBGrid1");
    auto* all = Find<QCheckBox>(w.get(), "CheckBox2");
    Click(all);
    QCOMPARE(QString::fromStdString(Joined(testroot::RegisterSelection(root_))), QString("ACME=1,BETA=1"));
    QCOMPARE(grid->model()->index(1, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    Click(all);
    QCOMPARE(QString::fromStdString(Joined(testroot::RegisterSelection(root_))), QString("ACME=0,BETA=0"));
    QCOMPARE(grid->model()->index(1, 2).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
  }

  void processLocksTheWindowAndClosesItAfterTheRun() {
    ui_->Answer({true});
    auto w = Open(TwoCompanies());
    QVERIFY(w);
    QSet<QString> seen;
    int pumps = 0;
    auto* select_all = Find<QCheckBox>(w.get(), "CheckBox2");
    ui_->on_pump = [&] {
      ++pumps;
      seen << QString("process=%1 grid=%2 close=%3 pages=%4")
                  .arg(Find<QPushButton>(w.get(), "BitBtn1")->isEnabled())
                  .arg(Find<QTableView>(w.get(), "DBGrid1")->isEnabled())
                  .arg(Find<QPushButton>(w.get(), "BitBtn2")->isEnabled())
                  .arg(Pages(w.get())->isEnabled());
      // "Tick to select All company" clicked while the run works: it must
      // not walk the register the run is walking.
      if (pumps == 1) Click(select_all);
    };
    // BETA ticked in the grid, not saved yet: the run saves it first.
    auto* grid = Find<QTableView>(w.get(), "DBGrid1");
    grid->setFocus();
    grid->setCurrentIndex(grid->model()->index(1, 2));
    QTest::keyClick(grid, Qt::Key_Space);
    // Alt+P presses Process (a press the button shows before it clicks).
    QTest::keyClick(w.get(), Qt::Key_P, Qt::AltModifier);
    QTRY_VERIFY(w->Form().Closed());
    // Each time the run let the window repaint, Process and the grid were
    // disabled and Close was not.
    QVERIFY(pumps > 0);
    QCOMPARE(seen, QSet<QString>({"process=0 grid=0 close=1 pages=0"}));
    QVERIFY(!select_all->isChecked());
    QString beta = QString::fromStdString(root_ + "COMPANY\\BETA");
    QCOMPARE(Find<QLineEdit>(w.get(), "edtdatabase")->text(), beta);
    QCOMPARE(Find<QLineEdit>(w.get(), "Edit2")->text(), beta);
    QVERIFY(!w->isVisible());
    QCOMPARE(QString::fromStdString(Joined(testroot::RegisterSelection(root_))), QString("ACME=,BETA="));
    QCOMPARE(QString::fromStdString(ui_->Messages().front()), QString("confirm: Do you wish to proceed this function ?"));
    for (const std::string& m : ui_->Messages()) QVERIFY2(m.rfind("error: ", 0) != 0, m.c_str());
  }

  void anErrorLeavesTheWindowLockedWithCloseEnabled() {
    ui_->Answer({true});
    auto w = Open({{"ACME", "Acme Pte Ltd", "1"}, {"GHOST", "Ghost Pte Ltd", "1", false}});
    QVERIFY(w);
    // A short pass for ACME: only the identity-number step.
    Find<QCheckBox>(w.get(), "removeNRIC")->setChecked(true);
    QTest::mouseClick(Find<QPushButton>(w.get(), "BitBtn1"), Qt::LeftButton);
    std::vector<std::string> messages = ui_->Messages();
    QCOMPARE(QString::fromStdString(messages.front()), QString("confirm: Do you wish to proceed this function ?"));
    QString last = QString::fromStdString(messages.back());
    QVERIFY2(last.startsWith("error: "), qPrintable(last));
    QVERIFY(last.endsWith(QString::fromStdString("DbConnection1 " + root_ + "COMPANY\\GHOST")));
    QCOMPARE(Find<QLineEdit>(w.get(), "edtdatabase")->text(), QString::fromStdString(root_ + "COMPANY\\ACME"));
    QVERIFY(w->isVisible());
    QVERIFY(!Find<QPushButton>(w.get(), "BitBtn1")->isEnabled());
    QVERIFY(!Find<QTableView>(w.get(), "DBGrid1")->isEnabled());
    QVERIFY(Find<QPushButton>(w.get(), "BitBtn2")->isEnabled());
    QCOMPARE(QString::fromStdString(Joined(testroot::RegisterSelection(root_))), QString("ACME=1,GHOST=1"));
    // Close still ends the program.
    QTest::mouseClick(Find<QPushButton>(w.get(), "BitBtn2"), Qt::LeftButton);
    QVERIFY(!w->isVisible());
    QVERIFY(w->Form().Closed());
  }

  void decliningTheRunChangesNothing() {
    ui_->Answer({false});
    auto w = Open({{"ACME", "Acme Pte Ltd", "1"}});
    QVERIFY(w);
    QTest::mouseClick(Find<QPushButton>(w.get(), "BitBtn1"), Qt::LeftButton);
    QVERIFY(w->isVisible());
    QVERIFY(Find<QPushButton>(w.get(), "BitBtn1")->isEnabled());
    QVERIFY(Find<QLineEdit>(w.get(), "edtdatabase")->text().isEmpty());
    QCOMPARE(QString::fromStdString(Joined(testroot::RegisterSelection(root_))), QString("ACME=1"));
  }

  void theProgramOpensTheWindowOnItsRoot() {
    // The program itself: --root, the window shown, and the picture that
    // scripts/screenshot takes; closing the window ends the program.
    testroot::MakeRoot(root_, TwoCompanies());
    QString picture = QString::fromStdString((base_ / "window.png").string());
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KX8_SCREENSHOT", picture);
    program.setProcessEnvironment(env);
    program.start(KX8_UPGRADE_PROGRAM, {"--root", QString::fromStdString(root_)});
    QVERIFY(program.waitForFinished(120000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QImage image(picture);
    QCOMPARE(image.size(), QSize(505, 596));
  }

  void theDialogsAndCursors() {
    QtUi dialogs;
    QWidget window;
    dialogs.SetWindow(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    struct Question {
      QMessageBox::StandardButton button;
      bool answer;
    };
    for (Question q : {Question{QMessageBox::Yes, true}, Question{QMessageBox::No, false}}) {
      SeenBox seen;
      AnswerNextBox(q.button, &seen);
      QCOMPARE(dialogs.Confirm("Do you wish to proceed this function ?"), q.answer);
      QCOMPARE(seen.text, QString("Do you wish to proceed this function ?"));
      QCOMPARE(seen.title, QString(kTitle));
      QCOMPARE(seen.icon, QMessageBox::Question);
    }
    struct Box {
      std::function<void()> show;
      QString title;
      QMessageBox::Icon icon;
    };
    const Box boxes[] = {
        {[&] { dialogs.MessageBox("table missing", ""); }, kTitle, QMessageBox::Information},
        {[&] { dialogs.MessageBox("table missing", "Levy"); }, "Levy", QMessageBox::Information},
        {[&] { dialogs.ShowErrorReport("table missing"); }, kTitle, QMessageBox::Critical},
    };
    for (const Box& b : boxes) {
      SeenBox seen;
      AnswerNextBox(QMessageBox::Ok, &seen);
      b.show();
      QCOMPARE(seen.text, QString("table missing"));
      QCOMPARE(seen.title, b.title);
      QCOMPARE(seen.icon, b.icon);
    }
    dialogs.SetWindowCursor(platform::Cursor::DatabaseWait);
    QCOMPARE(window.cursor().shape(), Qt::BusyCursor);
    dialogs.SetScreenCursor(platform::Cursor::HourGlass);
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    dialogs.SetScreenCursor(platform::Cursor::Default);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    dialogs.SetScreenCursor(platform::Cursor::Default);  // no override to undo
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
  }

 private:
  static std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ",") + p;
    return out;
  }
};

}  // namespace kx8::gui

QTEST_MAIN(kx8::gui::MainWindowTest)
#include "main_window_test.moc"
