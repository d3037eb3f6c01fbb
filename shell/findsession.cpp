#include "findsession.h"

#include <algorithm>
#include <utility>

#include "windowchecktexts.h"

namespace tessaly {

FindSession::FindSession(View& view, UiLoop& loop, Workers* const& workers, const BookList& books,
                         std::function<void()> showFailure)
    : view_(view), workers_(workers), books_(books), back_(loop, *this, std::move(showFailure)) {}

FindSession::~FindSession() { stop_.request_stop(); }

void FindSession::Focus() { view_.FocusFind(); }

void FindSession::Leave() { view_.FocusList(); }

void FindSession::TextChanged(const std::string& text, Selection selected) {
  text_ = text;
  hits_.reset();
  Search(selected, marc::FindDirection::Next, true);
}

void FindSession::ListCleared() {
  stop_.request_stop();
  ++search_;
  searching_ = false;
  hits_.reset();
  current_.reset();
  view_.SetLabel(LabelId::FindPlace, {});
}

void FindSession::Next(Selection selected) {
  if (text_.empty()) return view_.FocusFind();
  Search(selected, marc::FindDirection::Next, false);
}

void FindSession::Previous(Selection selected) {
  if (text_.empty()) return view_.FocusFind();
  Search(selected, marc::FindDirection::Previous, false);
}

std::optional<std::size_t> FindSession::Pick(Selection selected, marc::FindDirection direction,
                                             bool fromSelected) const {
  const std::vector<std::size_t>& hits = *hits_;
  if (hits.empty()) return std::nullopt;
  if (direction == marc::FindDirection::Next) {
    const std::size_t start = !selected ? 0 : *selected + (fromSelected ? 0 : 1);
    const auto it = std::lower_bound(hits.begin(), hits.end(), start);
    return it == hits.end() ? hits.front() : *it;
  }
  if (!selected) return hits.back();
  const auto it = std::lower_bound(hits.begin(), hits.end(), *selected);
  return it == hits.begin() ? hits.back() : *(it - 1);
}

void FindSession::Search(Selection selected, marc::FindDirection direction, bool fromSelected) {
  stop_.request_stop();
  stop_ = std::stop_source();
  ++search_;
  searching_ = false;
  if (text_.empty()) {
    hits_.reset();
    current_.reset();
    view_.SetLabel(LabelId::FindPlace, {});
    return;
  }
  if (selected && *selected >= books_.RowCount()) selected.reset();
  if (hits_ && hitsVersion_ == books_.Version()) {
    if (const auto row = Pick(selected, direction, fromSelected)) {
      Show(*row);
    } else {
      view_.SetLabel(LabelId::FindPlace, std::string(texts::window::kNotFound));
    }
    return;
  }
  hits_.reset();
  current_.reset();
  view_.SetLabel(LabelId::FindPlace, {});
  from_ = selected;
  direction_ = direction;
  fromSelected_ = fromSelected;
  shownFirst_ = false;
  searchVersion_ = books_.Version();

  auto rows = std::make_shared<const marc::ListRows>(books_.Snapshot());
  auto needle = std::make_shared<const marc::CellMatcher>(text_, books_.Encoding());
  const std::size_t shown = books_.RowCount();
  // RowFinder starts after (before) its row: from the selected row itself, one before it.
  std::size_t from = marc::RowFinder::kNoRow;
  if (selected)
    from = fromSelected ? (*selected == 0 ? marc::RowFinder::kNoRow : *selected - 1) : *selected;
  const auto post = back_.Send();
  searching_ = true;
  workers_->Start(
      [post, rows, needle, shown, from, direction, stop = stop_.get_token(), search = search_] {
        try {
          const marc::RowFinder finder(*rows, *needle);
          const marc::FindResult first = finder.Find(from, direction, stop);
          if (first.outcome == marc::FindResult::Stopped) return;
          // Rows the view does not show yet (a read is handing them over) are not offered.
          if (first.outcome == marc::FindResult::Found && first.row < shown)
            post([search, row = first.row](FindSession& s) { s.FirstHit(search, row); });
          marc::RowFinder::All all;
          if (first.outcome == marc::FindResult::Found) {
            all = finder.FindAll(stop);
            if (all.stopped) return;
          }
          std::erase_if(all.rows, [shown](std::size_t row) { return row >= shown; });
          post([search, hits = std::move(all.rows)](FindSession& s) mutable {
            s.AllHits(search, std::move(hits));
          });
        } catch (...) {
          post([search](FindSession& s) { s.AllHits(search, std::nullopt); });
        }
      });
}

void FindSession::FirstHit(std::uint64_t search, std::size_t row) {
  if (search != search_ || books_.Version() != searchVersion_) return;
  shownFirst_ = true;
  Show(row);
}

void FindSession::AllHits(std::uint64_t search, std::optional<std::vector<std::size_t>> hits) {
  if (search != search_) return;
  searching_ = false;
  // The list changed meanwhile: these rows may no longer be the ones that hold the text.
  if (!hits || books_.Version() != searchVersion_) return;
  hits_ = std::move(hits);
  hitsVersion_ = searchVersion_;
  if (shownFirst_ && current_) return ShowPlace(*current_);
  if (const auto row = Pick(from_, direction_, fromSelected_)) return Show(*row);
  view_.SetLabel(LabelId::FindPlace, std::string(texts::window::kNotFound));
}

void FindSession::Show(std::size_t row) {
  current_ = row;
  view_.SelectRow(row);
  ShowPlace(row);
}

void FindSession::ShowPlace(std::size_t row) {
  if (hits_) {
    view_.SetLabel(LabelId::FindPlace,
                   texts::window::FindPlace(marc::HitPlace(*hits_, row), hits_->size()));
  }
}

}  // namespace tessaly
