#include "gui/register_grid.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>

namespace kx8::gui {
namespace {

const char* const kTitles[] = {"COMPANY_CODE", "COMPANY_NAME", "Selected"};
const int kWidths[] = {15, 40, 10};

}  // namespace

RegisterModel::RegisterModel(console::TMainForm& form, QObject* parent) : QAbstractTableModel(parent), form_(form) {}

int RegisterModel::DisplayWidth(int column) { return kWidths[column]; }

void RegisterModel::Reload() {
  beginResetModel();
  edited_row_.reset();
  rows_ = form_.RegisterRows();
  endResetModel();
}

void RegisterModel::Save() {
  if (!edited_row_) return;
  const console::RegisterRow& row = rows_[static_cast<std::size_t>(*edited_row_)];
  edited_row_.reset();
  form_.SetSelected(row.code, row.merge == "1");
}

int RegisterModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RegisterModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant RegisterModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const console::RegisterRow& row = rows_[static_cast<std::size_t>(index.row())];
  switch (index.column()) {
    case kCode:
      if (role == Qt::DisplayRole) return QString::fromStdString(row.code);
      break;
    case kName:
      if (role == Qt::DisplayRole) return QString::fromStdString(row.name);
      break;
    case kSelected:
      if (role == Qt::CheckStateRole) return row.merge == "1" ? Qt::Checked : Qt::Unchecked;
      break;
    default:
      break;
  }
  return {};
}

bool RegisterModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != kSelected || role != Qt::CheckStateRole) return false;
  // Editing another row first saves the one being edited.
  if (edited_row_ && *edited_row_ != index.row()) Save();
  bool ticked = value.value<Qt::CheckState>() == Qt::Checked;
  rows_[static_cast<std::size_t>(index.row())].merge = ticked ? "1" : "";
  edited_row_ = index.row();
  emit dataChanged(index, index, {Qt::CheckStateRole});
  return true;
}

Qt::ItemFlags RegisterModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kSelected) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant RegisterModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf8(kTitles[section]);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

RegisterGrid::RegisterGrid(QWidget* parent) : QTableView(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  verticalHeader()->hide();
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
}

void RegisterGrid::SetRegisterModel(RegisterModel* model) {
  setModel(model);
  QFontMetrics metrics(font());
  for (int column = 0; column < RegisterModel::kColumnCount; ++column) {
    setColumnWidth(column, RegisterModel::DisplayWidth(column) * metrics.averageCharWidth() + 8);
  }
  verticalHeader()->setDefaultSectionSize(metrics.height() + 6);
}

void RegisterGrid::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && model() != nullptr &&
      currentIndex().isValid()) {
    QModelIndex here = currentIndex();
    int row = here.row();
    int column = here.column() + 1;
    if (column >= model()->columnCount()) {
      column = 0;
      if (row + 1 < model()->rowCount()) ++row;
      else column = here.column();
    }
    setCurrentIndex(model()->index(row, column));
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace kx8::gui
