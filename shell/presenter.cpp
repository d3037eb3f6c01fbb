#include "presenter.h"

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <thread>
#include <utility>

#include "charset.h"
#include "errors.h"
#include "readfailure.h"
#include "readsession.h"
#include "spreadsheet_export.h"
#include "usertexts.h"

namespace tessaly {

namespace {

// How long an ending program waits for an export it gave up on to leave the spreadsheet.
constexpr std::chrono::seconds kExportGrace{15};
// A list view may lay out every row it has each time it is told of more (Qt's tree view does),
// so while a read runs new rows reach it at most this often, and at the end: often enough to
// read as rows arriving, rarely enough that a million rows are not laid out sixty times over.
constexpr std::chrono::milliseconds kRowsShownEvery{250};

// A failure's message as the user reads it: the bytes are UTF-8 when they spell it, GBK
// otherwise (messages quote record bytes, and paths in the system's 8-bit encoding).
std::string MessageText(std::string_view bytes) {
  if (marc::DetectEncoding(bytes) == marc::TextEncoding::Utf8) return std::string(bytes);
  return marc::DecodeToUtf8(bytes, marc::TextEncoding::Gb18030);
}

}  // namespace

std::chrono::milliseconds SteadyClock::Now() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

void ThreadWorkers::Start(std::function<void()> work) { std::thread(std::move(work)).detach(); }

bool ThreadWorkers::WaitFor(const std::atomic<bool>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done.load(std::memory_order_acquire);
}

namespace {
ThreadWorkers& DefaultWorkers() {
  static ThreadWorkers workers;
  return workers;
}
}  // namespace

Presenter::Presenter(View& view, Dialogs& dialogs, UiLoop& loop, const Clock& clock)
    : view_(view),
      dialogs_(dialogs),
      loop_(loop),
      clock_(clock),
      workers_(&DefaultWorkers()),
      find_(view, loop, workers_, books_, [this] { ShowCurrentFailure(); }),
      checks_(dialogs, loop, workers_, books_, [this] { ShowCurrentFailure(); }) {}

Presenter::~Presenter() {
  // A read's worker keeps what it uses; it stops at its next rows or ends on its own.
  read_.reset();
  SetExportModule(nullptr);
}

template <class F>
void Presenter::Guarded(F&& f) {
  try {
    f();
  } catch (...) {
    ShowCurrentFailure();
  }
}

void Presenter::SetExportModule(SpreadsheetExport* module) {
  if (export_ && module != exportModule_) {
    // The module is about to go: the export lets go of the spreadsheet first.
    if (!export_->Abandon(*workers_, kExportGrace)) {
      // The spreadsheet holds the worker even after being given up on, and the worker still
      // uses the module and the list. Only ending the process is safe now.
      std::_Exit(0);
    }
    export_.reset();
    EnterState(State::Idle);
  }
  exportModule_ = module;
}

void Presenter::SetTimeFormat(LongTimeFormat format) { timeFormat_ = std::move(format); }

void Presenter::EnterState(State state) {
  const bool wasIdle = state_ == State::Idle;
  state_ = state;
  view_.SetCommandsEnabled(state == State::Idle);
  if (state == State::Idle) {
    loop_.StopTick();
  } else if (wasIdle) {
    loop_.StartTick(timings_.tick, [this] { Guarded([this] { Tick(); }); });
  }
}

void Presenter::ShowCurrentFailure() {
  std::string message;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    message = texts::kOutOfMemory;
  } catch (const std::exception& e) {
    message = MessageText(e.what());
  } catch (...) {
    message = texts::kUnknownFailure;
  }
  try {
    dialogs_.ShowBox({std::string(texts::kApplicationTitle),
                      texts::FailureDisplayText(message),
                      {},
                      BoxIcon::Error});
  } catch (...) {
    // Nothing is left to show it with.
  }
}

void Presenter::Shown() {
  Guarded([this] {
    view_.Maximize();
    view_.SetLabel(LabelId::RowCount, {});
    view_.SetLabel(LabelId::Elapsed, {});
  });
}

void Presenter::Resized(int outerHeight) {
  Guarded([&] { view_.SetListHeight(layout::ListHeight(outerHeight)); });
}

bool Presenter::CloseRequested() {
  switch (state_) {
    case State::Idle:
      return true;
    case State::Reading:
      // The worker stops at its next rows, or ends with the program when a pipe holds it. It
      // keeps its reader; the window's next read starts with a new one.
      read_.reset();
      badRead_.Clear();
      reader_ = std::make_shared<marc::RecordReader>();
      EnterState(State::Idle);
      return true;
    case State::Exporting:
      // The spreadsheet is let go first; the window closes when the export has stopped.
      EnterState(State::ClosingAfterExport);
      CancelExport();
      return false;
    case State::ClosingAfterExport:
      return false;
  }
  return true;
}

void Presenter::Closed() {
  lastRead_.reset();
  badRead_.Clear();
  // The window's reader alone: CloseRequested let a running read go with the reader it used.
  reader_->ReleaseLineList();
}

void Presenter::Run(layout::Command command) {
  switch (command) {
    case layout::Command::Open:
      OpenWithDialog();
      break;
    case layout::Command::Export:
      Export();
      break;
    case layout::Command::Clear:
      Clear();
      break;
    case layout::Command::Quit:
      Quit();
      break;
    case layout::Command::Check:
      // Not while a read or an export changes or reads the list.
      Guarded([this] {
        if (state_ == State::Idle) checks_.Run(lastOpened_);
      });
      break;
    case layout::Command::None:
      break;
  }
}

void Presenter::ClearRows() {
  books_.Clear();
  find_.ListCleared();
  view_.RowsReset();
}

void Presenter::OpenWithDialog() {
  Guarded([this] {
    if (state_ != State::Idle) return;
    ClearRows();
    const std::optional<std::filesystem::path> chosen =
        dialogs_.OpenFile(programPath_, lastOpened_);
    if (!chosen) return;
    StartRead(*chosen);
  });
}

void Presenter::Open(const std::filesystem::path& file) {
  Guarded([&] {
    if (state_ != State::Idle) return;
    ClearRows();
    StartRead(file);
  });
}

void Presenter::StartRead(const std::filesystem::path& file, marc::ReadMode mode) {
  lastOpened_ = file;
  badRead_.Clear();
  // The last read's rows: the reader holds them for a name that does not exist, until the next
  // file opens; the window's share of them goes now.
  lastRead_.reset();
  try {
    read_ = std::make_unique<ReadSession>(reader_, file, *workers_, mode);
    rowsShownAt_ = clock_.Now() - kRowsShownEvery;  // the first rows show at once
    EnterState(State::Reading);
  } catch (...) {
    read_.reset();
    ShowOpenFailed(ReadFailureDetails(std::current_exception()));
  }
}

void Presenter::Tick() {
  if (read_) {
    try {
      HandOverRows();
    } catch (...) {
      // Rows that could not be kept (out of memory): the read ends there as a failed one, once,
      // rather than going on with rows missing from the list and a box at every tick.
      if (!read_ || !read_->FailHandOver(std::current_exception())) throw;
    }
  }
  if (export_ && export_->Watch(clock_.Now())) FinishExport();
}

void Presenter::HandOverRows() {
  const bool ended = read_->HandOver(books_);
  if (books_.HasWaiting() && (ended || clock_.Now() - rowsShownAt_ >= kRowsShownEvery)) {
    rowsShownAt_ = clock_.Now();
    const auto [first, count] = books_.ShowWaiting();
    view_.RowsAppended(first, count);
    view_.SetLabel(LabelId::RowCount, texts::Progress(read_->RowsRead()));
    // Reading past bad records, the count of those passed over shows as it grows.
    if (read_->BadRecords() > 0)
      view_.SetLabel(LabelId::Elapsed, texts::BadRecordsCount(read_->BadRecords()));
  }
  if (ended) FinishRead();
}

void Presenter::FinishRead() {
  const std::unique_ptr<ReadSession> read = std::move(read_);
  EnterState(State::Idle);
  lastRead_ = reader_->LineList();
  // The exact count of the rows now listed, none included: an earlier read's count above an
  // empty list would tell of rows that are not there.
  view_.SetLabel(LabelId::RowCount, texts::Progress(read->RowsRead()));
  if (const std::exception_ptr failure = read->Failure()) {
    ShowOpenFailed(ReadFailureDetails(failure));
    return;
  }
  const marc::ReadOutcome& outcome = read->Outcome();
  const bool passingOver = read->Mode() == marc::ReadMode::PassOver;
  if (outcome.error) {
    const bool canPassOver = !passingOver && outcome.CanPassOver();
    if (badRead_.ShowOpenFailed(ReadFailureDetails(*outcome.error), canPassOver)) {
      ClearRows();
      StartRead(read->File(), marc::ReadMode::PassOver);
    }
    return;
  }
  std::string elapsed = MessageText(FormatElapsed(read->Elapsed(), timeFormat_)) + "  " +
                        std::string(read->EncodingName());
  const auto bad = static_cast<std::int64_t>(outcome.bad->records.size());
  if (passingOver) elapsed += "  " + texts::BadRecordsCount(bad);
  view_.SetLabel(LabelId::Elapsed, elapsed);
  if (passingOver) badRead_.Finished(read->File(), read->RowsRead(), outcome.bad);
}

void Presenter::ShowOpenFailed(const std::string& details) {
  dialogs_.ShowBox({std::string(texts::kApplicationTitle), std::string(texts::kOpenFailed), details,
                    BoxIcon::None});
}

void Presenter::Clear() {
  Guarded([this] {
    if (state_ != State::Idle) return;
    ClearRows();
    badRead_.Clear();
  });
}

void Presenter::Quit() {
  Guarded([this] {
    if (state_ == State::Idle) view_.Quit();
  });
}

bool Presenter::TitleEdited(std::size_t row, const std::string& text) {
  // The export reads the list from its own thread: no cell may change meanwhile.
  if (!TitlesEditable() || row >= books_.RowCount()) return false;
  bool taken = false;
  Guarded([&] {
    taken = books_.SetTitle(row, text);
    if (taken) view_.RowChanged(row);
  });
  return taken;
}

// The export runs on a worker; the window answers meanwhile, with the commands and the titles
// out of reach until it has ended.
void Presenter::Export() {
  Guarded([this] {
    if (!exportModule_) throw std::logic_error(std::string(texts::kNoExportModule));
    if (state_ != State::Idle) return;
    export_ = std::make_unique<ExportWatch>(*exportModule_, books_.ExportView(), view_, timings_,
                                            clock_.Now(), *workers_);
    EnterState(State::Exporting);
  });
}

void Presenter::CancelExport() {
  Guarded([this] {
    if (export_) export_->Cancel(clock_.Now());
  });
}

void Presenter::GiveUp() {
  Guarded([this] {
    if (export_) export_->GiveUp();
  });
}

void Presenter::KeepWaiting() {
  Guarded([this] {
    // Another full wait before the box comes back.
    if (export_) export_->KeepWaiting(clock_.Now());
  });
}

void Presenter::FinishExport() {
  const std::unique_ptr<ExportWatch> job = std::move(export_);
  const bool closing = state_ == State::ClosingAfterExport;
  EnterState(State::Idle);
  using Outcome = ExportWatch::Outcome;
  const Outcome outcome = job->Result();
  switch (outcome) {
    case Outcome::NoSpreadsheet:
      dialogs_.ShowBox(
          {std::string(texts::kNoSpreadsheetCaption), std::string(texts::kNoSpreadsheet),
           texts::NoSpreadsheetDetails(MessageText(job->NoSpreadsheetReason())), BoxIcon::None});
      break;
    case Outcome::Failed:
      try {
        std::rethrow_exception(job->Failure());
      } catch (...) {
        ShowCurrentFailure();
      }
      break;
    case Outcome::GaveUp:
      dialogs_.ShowBox({std::string(texts::kApplicationTitle),
                        texts::FailureDisplayText(texts::kGaveUp),
                        {},
                        BoxIcon::Error});
      break;
    case Outcome::Done:
    case Outcome::Cancelled:
      break;
  }
  if (job->CellsCut() > 0 && outcome != Outcome::Cancelled) {
    dialogs_.ShowBox({std::string(texts::kApplicationTitle),
                      texts::CellsCut(job->CellsCut()),
                      {},
                      BoxIcon::Information});
  }
  if (closing) view_.Close();
}

}  // namespace tessaly
