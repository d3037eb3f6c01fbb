#include "booklistview.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <vector>

#include "layout.h"

namespace tessaly {

BookListView::BookListView(QWidget* parent) : QTableView(parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  setSortingEnabled(false);
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setTabKeyNavigation(false);  // Tab leaves the list, as in a report list
  RenewRowHeader();
  horizontalHeader()->setSectionsClickable(true);  // a click presses the header, nothing follows
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsMovable(false);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setMinimumSectionSize(0);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  highlight_ = palette().brush(QPalette::Active, QPalette::Highlight);
  highlightedText_ = palette().brush(QPalette::Active, QPalette::HighlightedText);
  ShowHighlight(false);
}

void BookListView::RenewRowHeader() {
  auto* rows = new QHeaderView(Qt::Vertical, this);
  // One line a row, a little taller than the text, so 13-pixel Chinese glyphs are not cramped;
  // fixed, so that no row is measured.
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(fontMetrics().height() + 5);
  rows->hide();
  setVerticalHeader(rows);  // the old one is deleted
}

void BookListView::ShareColumnWidths() {
  const std::vector<int> widths =
      layout::ColumnWidths(viewport()->width(), horizontalHeader()->count());
  for (std::size_t i = 0; i < widths.size(); ++i)
    horizontalHeader()->resizeSection(static_cast<int>(i), widths[i]);
}

void BookListView::setModel(QAbstractItemModel* model) {
  QTableView::setModel(model);
  ShareColumnWidths();
}

QModelIndex BookListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  const QModelIndex current = currentIndex();
  const int column = current.isValid() ? current.column() : 0;
  const int rows = model() ? model()->rowCount() : 0;
  switch (action) {
    case MoveHome:
      return rows > 0 ? model()->index(0, column) : current;
    case MoveEnd:
      return rows > 0 ? model()->index(rows - 1, column) : current;
    case MoveLeft:
    case MoveRight:
      horizontalScrollBar()->triggerAction(action == MoveLeft
                                               ? QAbstractSlider::SliderSingleStepSub
                                               : QAbstractSlider::SliderSingleStepAdd);
      return current;
    default:
      return QTableView::moveCursor(action, modifiers);
  }
}

bool BookListView::viewportEvent(QEvent* event) {
  const bool handled = QTableView::viewportEvent(event);
  // The viewport resizes with the list and when a scroll bar comes or goes.
  if (event->type() == QEvent::Resize) ShareColumnWidths();
  return handled;
}

void BookListView::focusInEvent(QFocusEvent* event) {
  ShowHighlight(true);
  QTableView::focusInEvent(event);
}

void BookListView::focusOutEvent(QFocusEvent* event) {
  ShowHighlight(false);
  QTableView::focusOutEvent(event);
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
