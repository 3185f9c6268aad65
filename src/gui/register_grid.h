// The company grid (DBGrid1): the register in COMPANY_CODE order with the
// columns COMPANY_CODE, COMPANY_NAME and the "Selected" check box.
//
// Ticking a company's box edits its register row: the box shows the new
// state at once, and the row is written (MERGE "1" when ticked, an empty
// string when not) when another row becomes current, or by Save, which the
// window calls before anything that reads the register (Process, select
// all).
#ifndef KX8_GUI_REGISTER_GRID_H_
#define KX8_GUI_REGISTER_GRID_H_

#include <QAbstractTableModel>
#include <QTableView>
#include <optional>
#include <vector>

#include "console/main_form.h"

namespace kx8::gui {

class RegisterModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kCode, kName, kSelected, kColumnCount };

  RegisterModel(console::TMainForm& form, QObject* parent);

  // Reads the register again; an edit not saved yet is dropped.
  void Reload();
  // Writes the row being edited, if any. The register's errors pass on.
  void Save();
  bool Editing() const { return edited_row_.has_value(); }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Display width of each column, in characters.
  static int DisplayWidth(int column);

 private:
  console::TMainForm& form_;
  std::vector<console::RegisterRow> rows_;
  std::optional<int> edited_row_;
};

class RegisterGrid : public QTableView {
  Q_OBJECT

 public:
  explicit RegisterGrid(QWidget* parent);
  // Sets the model and sizes the columns from their display widths.
  void SetRegisterModel(RegisterModel* model);

 protected:
  // Enter moves to the next cell (the first of the next row after the last).
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace kx8::gui

#endif  // KX8_GUI_REGISTER_GRID_H_
