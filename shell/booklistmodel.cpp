#include "booklistmodel.h"

#include "codec.h"

namespace tessaly {

BookListModel::BookListModel(QObject* parent) : QAbstractTableModel(parent) {
  for (std::string_view caption : marc::ColumnCaptionsGbk()) captions_ << DecodeText(caption);
}

void BookListModel::Commit() {
  const std::size_t stored = store_.Size();
  if (stored == committed_) return;
  beginInsertRows({}, static_cast<int>(committed_), static_cast<int>(stored - 1));
  committed_ = stored;
  endInsertRows();
}

void BookListModel::Clear() {
  beginResetModel();
  store_.Clear();
  committed_ = 0;
  endResetModel();
}

int BookListModel::rowCount(const QModelIndex& parent) const {
  // The view counts rows in int; a file of more than 2^31 records is far beyond the memory anyway.
  return parent.isValid() ? 0 : static_cast<int>(committed_);
}

int BookListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(marc::CellCount);
}

QVariant BookListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  std::string scratch;
  return DecodeText(store_.Cell(static_cast<std::size_t>(index.row()),
                                static_cast<std::size_t>(index.column()), scratch),
                    encoding_);
}

bool BookListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (frozen_ || !index.isValid() || index.column() != marc::Title || role != Qt::EditRole)
    return false;
  store_.SetCell(static_cast<std::size_t>(index.row()), marc::Title,
                 EncodeText(value.toString(), encoding_));
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

QVariant BookListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= captions_.size())
    return {};
  return captions_[section];
}

Qt::ItemFlags BookListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  // Only a row's caption (its first cell) can be edited in place.
  if (!frozen_ && index.isValid() && index.column() == marc::Title) f |= Qt::ItemIsEditable;
  return f;
}

namespace {
std::string Utf8(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
}  // namespace

std::string BookListModel::ColumnCaption(int column) const { return Utf8(captions_.at(column)); }

void BookListModel::CheckItem(std::int64_t item) const {
  if (item < 0 || static_cast<std::size_t>(item) >= committed_) throw marc::EStringListError(item);
}

std::string BookListModel::ItemCaption(std::int64_t item) const {
  CheckItem(item);
  std::string scratch;
  return Utf8(
      DecodeText(store_.Cell(static_cast<std::size_t>(item), marc::Title, scratch), encoding_));
}

std::string BookListModel::SubItem(std::int64_t item, int index) const {
  CheckItem(item);
  if (index < 0 || index >= static_cast<int>(marc::CellCount) - 1)
    throw marc::EStringListError(index);
  std::string scratch;
  return Utf8(DecodeText(
      store_.Cell(static_cast<std::size_t>(item), static_cast<std::size_t>(index) + 1, scratch),
      encoding_));
}

}  // namespace tessaly
