// Find in the list: the find box's text, searched for in every cell of the rows as they stand
// (edited titles as edited), on a worker over a snapshot of the rows. The first hit comes back
// as soon as it is found and is selected; the count of all hits ("第 k / n 处") follows. A new
// keystroke or search stops the one before. Results come back as posted closures; once all hits
// are known, F3 and Shift+F3 move among them without searching again until the list changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "booklist.h"
#include "find.h"
#include "ports.h"
#include "postback.h"

namespace tessaly {

class FindSession {
 public:
  using Selection = std::optional<std::size_t>;

  // workers is read at each search: the presenter may be given other workers.
  // showFailure is the presenter's failure display (called inside a catch block).
  FindSession(View& view, UiLoop& loop, Workers* const& workers, const BookList& books,
              std::function<void()> showFailure);
  // A running search is stopped; its results are dropped.
  ~FindSession();
  FindSession(const FindSession&) = delete;
  FindSession& operator=(const FindSession&) = delete;

  // Ctrl+F: the cursor to the find box.
  void Focus();
  // Escape in the find box: back to the list.
  void Leave();
  // The find box's text changed (UTF-8): the search starts again, from the selected row itself.
  void TextChanged(const std::string& text, Selection selected);
  // Enter or F3, Shift+F3: the next (previous) row after (before) the selected one, round the
  // end (the start).
  void Next(Selection selected);
  void Previous(Selection selected);

  // The list was emptied: a search stops, the label goes.
  void ListCleared();

  // A search is on a worker.
  bool Searching() const { return searching_; }

 private:
  void Search(Selection selected, marc::FindDirection direction, bool fromSelected);
  void FirstHit(std::uint64_t search, std::size_t row);
  // No hits: the search failed (out of memory); it says nothing.
  void AllHits(std::uint64_t search, std::optional<std::vector<std::size_t>> hits);
  // Selects the row; the label tells its place among the hits once they are known.
  void Show(std::size_t row);
  void ShowPlace(std::size_t row);
  std::optional<std::size_t> Pick(Selection selected, marc::FindDirection direction,
                                  bool fromSelected) const;

  View& view_;
  Workers* const& workers_;
  const BookList& books_;
  PostBack<FindSession> back_;

  std::string text_;
  std::stop_source stop_;
  std::uint64_t search_ = 0;  // the running search's number; older results are dropped
  bool searching_ = false;
  // The search's request, for when its first hit is not one the view shows.
  Selection from_;
  marc::FindDirection direction_ = marc::FindDirection::Next;
  bool fromSelected_ = false;
  bool shownFirst_ = false;
  std::uint64_t searchVersion_ = 0;
  std::optional<std::size_t> current_;  // the row found last
  // Every row holding text_, while the list is at hitsVersion_.
  std::optional<std::vector<std::size_t>> hits_;
  std::uint64_t hitsVersion_ = 0;
};

}  // namespace tessaly
