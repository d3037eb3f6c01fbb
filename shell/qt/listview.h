// ListView1's view: a report-style list over BookListModel whose columns share the client width.
#pragma once

#include <QTreeView>
#include <vector>

namespace tessaly {

class TListView : public QTreeView {
  Q_OBJECT

 public:
  explicit TListView(QWidget* parent = nullptr);

  // Widths of count columns sharing a client width: width div count each, the remainder added
  // to the first column.
  static std::vector<int> ColumnWidths(int clientWidth, int count);
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
