// The model behind the book list's view: the rows the window's logic holds, turned into characters
// only when the view asks for one.
#pragma once

#include <QAbstractTableModel>
#include <cstddef>

namespace tessaly {

class Presenter;

class BookListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit BookListModel(Presenter& logic, QObject* parent = nullptr);

  // What the logic tells the view.
  void Reset();
  void Appended(std::size_t first, std::size_t count);
  void Changed(std::size_t row);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  Presenter& logic_;
  // The view counts rows in int; a file of more than 2^31 records is far beyond the memory.
  int rows_ = 0;
};

}  // namespace tessaly
