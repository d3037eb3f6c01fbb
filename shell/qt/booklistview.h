// The book list's view: a report-style list over BookListModel whose columns share the client
// width (layout::ColumnWidths).
#pragma once

#include <QTreeView>

namespace tessaly {

class BookListView : public QTreeView {
  Q_OBJECT

 public:
  explicit BookListView(QWidget* parent = nullptr);

  // Shares the viewport's current width among the columns.
  void ShareColumnWidths();
  void setModel(QAbstractItemModel* model) override;

 protected:
  bool viewportEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 public:
  bool HighlightShown() const;

 private:
  void ShowHighlight(bool shown);

  QBrush highlight_;
  QBrush highlightedText_;
};

}  // namespace tessaly
