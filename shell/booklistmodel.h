// The model behind ListView1: one row per decoded record, thirteen columns, the cells kept as the
// decoder's bytes and turned into characters only when the view asks for one.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include "exportsource.h"
#include "extract.h"
#include "rowstore.h"

namespace tessaly {

class BookListModel : public QAbstractTableModel, public ExportSource {
  Q_OBJECT

 public:
  explicit BookListModel(QObject* parent = nullptr);

  // The file's encoding; every cell stored and read back is in it.
  void SetEncoding(marc::TextEncoding encoding) { encoding_ = encoding; }
  // Stores a row at the end. The view learns of stored rows only at Commit, so a read can store
  // rows at full speed and show them in batches.
  void AppendRow(const marc::BookRow& row) { store_.Append(row); }
  void AppendRows(std::shared_ptr<const marc::RowBlock> rows) { store_.Append(std::move(rows)); }
  void Commit();
  // Removes every row; the columns stay.
  void Clear();
  // While an export reads the list from its own thread, no cell may change: titles are not
  // editable then.
  void SetFrozen(bool frozen) { frozen_ = frozen; }
  std::size_t StoredRows() const { return store_.Size(); }
  const RowStore& Store() const { return store_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  marc::TextEncoding Encoding() const { return encoding_; }
  // ExportSource: the cells in UTF-8, converted as the list shows them.
  int ColumnCount() const override { return marc::CellCount; }
  std::string ColumnCaption(int column) const override;
  std::int64_t ItemCount() const override { return committed_; }
  std::string ItemCaption(std::int64_t item) const override;
  std::string SubItem(std::int64_t item, int index) const override;

 private:
  void CheckItem(std::int64_t item) const;

  RowStore store_;
  std::size_t committed_ = 0;
  marc::TextEncoding encoding_ = marc::TextEncoding::Gbk;
  QStringList captions_;
  bool frozen_ = false;
};

}  // namespace tessaly
