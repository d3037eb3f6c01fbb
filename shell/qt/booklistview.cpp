#include "booklistview.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <vector>

#include "layout.h"

namespace tessaly {

namespace {

// Rows a little taller than the text, so 13-pixel Chinese glyphs are not cramped.
class RowHeightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(option.fontMetrics.height() + 5);
    return size;
  }
};

}  // namespace

BookListView::BookListView(QWidget* parent) : QTreeView(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);  // also keeps a million rows cheap to lay out
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setAllColumnsShowFocus(true);
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  setSortingEnabled(false);
  setItemDelegate(new RowHeightDelegate(this));
  header()->setSectionsClickable(true);  // a click presses the header, and nothing follows
  header()->setSectionsMovable(false);
  header()->setStretchLastSection(false);
  header()->setMinimumSectionSize(0);
  header()->setSectionResizeMode(QHeaderView::Interactive);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  highlight_ = palette().brush(QPalette::Active, QPalette::Highlight);
  highlightedText_ = palette().brush(QPalette::Active, QPalette::HighlightedText);
  ShowHighlight(false);
}

void BookListView::ShareColumnWidths() {
  const std::vector<int> widths = layout::ColumnWidths(viewport()->width(), header()->count());
  for (std::size_t i = 0; i < widths.size(); ++i)
    header()->resizeSection(static_cast<int>(i), widths[i]);
}

void BookListView::setModel(QAbstractItemModel* model) {
  QTreeView::setModel(model);
  ShareColumnWidths();
}

bool BookListView::viewportEvent(QEvent* event) {
  const bool handled = QTreeView::viewportEvent(event);
  // The viewport resizes with the list and when a scroll bar comes or goes.
  if (event->type() == QEvent::Resize) ShareColumnWidths();
  return handled;
}

void BookListView::focusInEvent(QFocusEvent* event) {
  ShowHighlight(true);
  QTreeView::focusInEvent(event);
}

void BookListView::focusOutEvent(QFocusEvent* event) {
  ShowHighlight(false);
  QTreeView::focusOutEvent(event);
}

bool BookListView::HighlightShown() const {
  return palette().brush(QPalette::Active, QPalette::Highlight) !=
         palette().brush(QPalette::Active, QPalette::Base);
}

void BookListView::ShowHighlight(bool shown) {
  // The selected row is highlighted only while the list has the keyboard focus: without it the
  // highlight takes the colours of an unselected row.
  QPalette p = palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive}) {
    p.setBrush(group, QPalette::Highlight, shown ? highlight_ : p.brush(group, QPalette::Base));
    p.setBrush(group, QPalette::HighlightedText,
               shown ? highlightedText_ : p.brush(group, QPalette::Text));
  }
  setPalette(p);
}

}  // namespace tessaly
