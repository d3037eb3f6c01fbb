#include "booklistmodel.h"

#include "presenter.h"
#include "usertexts.h"

namespace tessaly {

BookListModel::BookListModel(Presenter& logic, QObject* parent)
    : QAbstractTableModel(parent), logic_(logic) {}

void BookListModel::Reset() {
  beginResetModel();
  rows_ = static_cast<int>(logic_.RowCount());
  endResetModel();
}

void BookListModel::Appended(std::size_t first, std::size_t count) {
  if (count == 0) return;
  beginInsertRows({}, static_cast<int>(first), static_cast<int>(first + count - 1));
  rows_ = static_cast<int>(first + count);
  endInsertRows();
}

void BookListModel::Changed(std::size_t row) {
  const QModelIndex at = index(static_cast<int>(row), 0);
  emit dataChanged(at, at, {Qt::DisplayRole, Qt::EditRole});
}

int BookListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int BookListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(texts::kColumnCaptions.size());
}

QVariant BookListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  return QString::fromStdString(
      logic_.Cell(static_cast<std::size_t>(index.row()), static_cast<std::size_t>(index.column())));
}

bool BookListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || role != Qt::EditRole) return false;
  return logic_.TitleEdited(static_cast<std::size_t>(index.row()), value.toString().toStdString());
}

QVariant BookListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= columnCount())
    return {};
  return QString::fromUtf8(texts::kColumnCaptions[static_cast<std::size_t>(section)]);
}

Qt::ItemFlags BookListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  // Only a row's caption (its first cell) can be edited in place, and not while an export reads
  // the list.
  if (index.isValid() && index.column() == 0 && logic_.TitlesEditable()) f |= Qt::ItemIsEditable;
  return f;
}

}  // namespace tessaly
