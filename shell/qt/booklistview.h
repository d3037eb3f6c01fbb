// The book list's view: a report-style list over BookListModel whose columns share the client
// width (layout::ColumnWidths). A table view: its rows cost nothing per row to lay out, where a
// tree view lays out every row again each time rows are added (minutes over a read of millions).
#pragma once

#include <QTableView>

namespace tessaly {

class BookListView : public QTableView {
  Q_OBJECT

 public:
  explicit BookListView(QWidget* parent = nullptr);

  // Shares the viewport's current width among the columns.
  void ShareColumnWidths();
  // After the rows were emptied: a row header of its own again, as its array for the last rows
  // (8 bytes a row) would stay resident into the next read.
  void RenewRowHeader();
  void setModel(QAbstractItemModel* model) override;

 protected:
  // The keys of a report list: Home and End go to the first and last row, Left and Right scroll
  // the columns (the current cell stays in its column, so F2 edits the title as before).
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  bool viewportEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 public:
  bool HighlightShown() const;
  // Shown from outside: a row found while the focus stays in the find box.
  void ShowHighlight(bool shown);

 private:
  QBrush highlight_;
  QBrush highlightedText_;
};

}  // namespace tessaly
