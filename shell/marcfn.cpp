#include "marcfn.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "charset.h"
#include "errors.h"
#include "layout.h"
#include "marc2excel.h"
#include "readfailure.h"
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

std::string_view EncodingName(marc::TextEncoding encoding, bool fourByteSequences) {
  if (encoding == marc::TextEncoding::Utf8) return "UTF-8";
  return fourByteSequences ? "GB18030" : "GBK";
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

// The read on its worker. The rows wait here until the GUI thread's tick takes them, so the
// worker never posts anything (Windows caps a thread's queue at 10,000 messages).
struct TMarcFun::ReadJob final : marc::ReadSink {
  struct Batch {
    std::shared_ptr<const marc::RowBlock> rows;
    marc::TextEncoding encoding;
  };

  explicit ReadJob(std::shared_ptr<marc::RecordReader> r) : reader(std::move(r)) {}

  // The window's reader: it keeps the last read's rows for a name that does not exist. Only
  // this job touches it until ended.
  std::shared_ptr<marc::RecordReader> reader;
  std::filesystem::path path;
  std::atomic<bool> stop{false};
  std::atomic<bool> ended{false};
  std::mutex mutex;
  std::vector<Batch> pending;  // under mutex
  // Written by the worker before ended.
  marc::ReadOutcome outcome;
  std::exception_ptr failure;  // the sink's own, rows it could not take
  std::chrono::steady_clock::duration elapsed{};
  bool fourByteSequences = false;
  // The GUI thread's: why it could not keep the rows handed over.
  std::exception_ptr takeFailure;

  bool AppendRows(std::shared_ptr<const marc::RowBlock> rows, std::int64_t) override {
    // A read stopped because the window closed; nobody is told.
    if (stop.load(std::memory_order_relaxed)) return false;
    Batch batch{std::move(rows), reader->Encoding()};
    const std::lock_guard lock(mutex);
    pending.push_back(std::move(batch));
    return true;
  }
  void Progress(std::int64_t) override {}
  void Elapsed(std::chrono::steady_clock::duration time) override { elapsed = time; }

  void Run() {
    try {
      outcome = reader->Read(path, *this);
      fourByteSequences = reader->FourByteSequences();
    } catch (...) {
      failure = std::current_exception();
    }
    ended.store(true, std::memory_order_release);
  }
};

// The export on its worker, and the watchdog's state on the GUI thread.
struct TMarcFun::ExportJob final : ExportUi {
  ExportJob(TMarc2ExcelFm& m, const ExportSource& l) : module(m), list(l) {}

  TMarc2ExcelFm& module;
  const ExportSource& list;
  std::atomic<std::uint64_t> beats{0};
  std::atomic<std::int64_t> written{0};
  std::atomic<std::int64_t> rows{0};
  std::atomic<bool> stopping{false};
  std::atomic<bool> ended{false};
  // Written by the worker before ended.
  std::exception_ptr failure;
  std::optional<std::string> noSpreadsheet;
  std::int64_t cellsCut = 0;

  // The GUI thread's side.
  std::chrono::milliseconds started{}, lastAnswer{};
  std::uint64_t lastBeat = 0;
  bool progressShown = false;
  bool boxShown = false;
  bool gaveUp = false;
  std::optional<std::chrono::milliseconds> abandonAt;

  void ShowNoSpreadsheet(const std::string& details) override { noSpreadsheet = details; }
  void Progress(std::int64_t w, std::int64_t r) override {
    written.store(w, std::memory_order_relaxed);
    rows.store(r, std::memory_order_relaxed);
    beats.fetch_add(1, std::memory_order_release);
  }
  bool Cancelled() const override { return stopping.load(std::memory_order_relaxed); }

  void Run() {
    try {
      ExportListToExcel(module, list, *this);
    } catch (const ExportCancelled&) {
    } catch (...) {
      failure = std::current_exception();
    }
    cellsCut = module.Application().CellsCut();
    ended.store(true, std::memory_order_release);
  }
};

// The list as the export reads it back: the rows shown, the cells in UTF-8.
class TMarcFun::ListSource final : public ExportSource {
 public:
  explicit ListSource(const TMarcFun& owner) : owner_(owner) {}
  int ColumnCount() const override { return static_cast<int>(marc::CellCount); }
  std::string ColumnCaption(int column) const override {
    return std::string(texts::kColumnCaptions.at(static_cast<std::size_t>(column)));
  }
  std::int64_t ItemCount() const override { return static_cast<std::int64_t>(owner_.shown_); }
  std::string ItemCaption(std::int64_t item) const override {
    Check(item);
    return owner_.Cell(static_cast<std::size_t>(item), marc::Title);
  }
  std::string SubItem(std::int64_t item, int index) const override {
    Check(item);
    if (index < 0 || index >= static_cast<int>(marc::CellCount) - 1) {
      throw marc::EStringListError(index);
    }
    return owner_.Cell(static_cast<std::size_t>(item), static_cast<std::size_t>(index) + 1);
  }

 private:
  void Check(std::int64_t item) const {
    if (item < 0 || item >= ItemCount()) throw marc::EStringListError(item);
  }
  const TMarcFun& owner_;
};

TMarcFun::TMarcFun(View& view, Dialogs& dialogs, UiLoop& loop, const Clock& clock)
    : view_(view),
      dialogs_(dialogs),
      loop_(loop),
      clock_(clock),
      workers_(&DefaultWorkers()),
      list_(std::make_unique<ListSource>(*this)) {}

TMarcFun::~TMarcFun() {
  // The read's worker keeps its job; it stops at its next rows or ends on its own.
  if (read_) read_->stop = true;
  SetExportModule(nullptr);
}

template <class F>
void TMarcFun::Guarded(F&& f) {
  try {
    f();
  } catch (...) {
    ShowCurrentFailure();
  }
}

void TMarcFun::SetExportModule(TMarc2ExcelFm* module) {
  if (export_ && module != exportModule_) {
    // The module is about to go: the export lets go of the spreadsheet first.
    export_->stopping = true;
    exportModule_->Application().Abandon();
    if (!workers_->WaitFor(export_->ended, kExportGrace)) {
      // The spreadsheet holds the worker even after being given up on, and the worker still
      // uses the module and the list. Only ending the process is safe now.
      std::_Exit(0);
    }
    export_.reset();
    EnterState(State::Idle);
  }
  exportModule_ = module;
}

void TMarcFun::SetTimeFormat(LongTimeFormat format) { timeFormat_ = std::move(format); }

void TMarcFun::EnterState(State state) {
  const bool wasIdle = state_ == State::Idle;
  state_ = state;
  view_.SetCommandsEnabled(state == State::Idle);
  if (state == State::Idle) {
    loop_.StopTick();
  } else if (wasIdle) {
    loop_.StartTick(timings_.tick, [this] { Guarded([this] { Tick(); }); });
  }
}

void TMarcFun::ShowBox(Box box) { dialogs_.ShowBox(box); }

void TMarcFun::ShowCurrentFailure() {
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
    ShowBox({std::string(texts::kApplicationTitle),
             texts::FailureDisplayText(message),
             {},
             BoxIcon::Error});
  } catch (...) {
    // Nothing is left to show it with.
  }
}

void TMarcFun::FormShow() {
  Guarded([this] {
    view_.Maximize();
    view_.SetLabel(LabelId::Label1, {});
    view_.SetLabel(LabelId::Label2, {});
  });
}

void TMarcFun::FormResize(int outerHeight) {
  Guarded([&] {
    view_.SetListHeight(outerHeight - layout::Find("Panel1").rect.height -
                        layout::Find("Panel2").rect.height - layout::kListSlack);
  });
}

bool TMarcFun::FormCloseQuery() {
  switch (state_) {
    case State::Idle:
      return true;
    case State::Reading:
      // The worker stops at its next rows, or ends with the program when a pipe holds it. It
      // keeps its reader; the window's next read starts with a new one.
      read_->stop = true;
      read_.reset();
      reader_ = std::make_shared<marc::RecordReader>();
      EnterState(State::Idle);
      return true;
    case State::Exporting:
      // The spreadsheet is let go first; the window closes when the export has stopped.
      EnterState(State::ClosingAfterExport);
      Cancel();
      return false;
    case State::ClosingAfterExport:
      return false;
  }
  return true;
}

void TMarcFun::FormClose() {
  lineList_.reset();
  // The window's reader alone: FormCloseQuery let a running read go with the reader it used.
  reader_->ReleaseLineList();
}

void TMarcFun::ClearRows() {
  store_.Clear();
  shown_ = 0;
  view_.RowsReset();
}

void TMarcFun::Button1Click() {
  Guarded([this] {
    // A click that was queued before the commands went off.
    if (state_ != State::Idle) return;
    ClearRows();
    const std::optional<std::filesystem::path> chosen =
        dialogs_.OpenFile(programPath_, lastConfirmed_);
    if (!chosen) return;
    Open(*chosen);
  });
}

void TMarcFun::OpenFile(const std::filesystem::path& file) {
  Guarded([&] {
    if (state_ != State::Idle) return;
    ClearRows();
    Open(file);
  });
}

void TMarcFun::Open(const std::filesystem::path& file) {
  lastConfirmed_ = file;
  try {
    MarcFileName = file;
    Button2Click();
  } catch (...) {
    ShowOpenFailed(ReadFailureDetails(std::current_exception()));
  }
}

void TMarcFun::Button2Click() {
  if (state_ != State::Idle) return;
  auto job = std::make_shared<ReadJob>(reader_);
  job->path = MarcFileName;
  // The last read's rows: the reader holds them for a name that does not exist, until the next
  // file opens; the window's share of them goes now.
  lineList_.reset();
  rowsRead_ = 0;
  rowsShownAt_ = clock_.Now() - kRowsShownEvery;  // the first rows show at once
  workers_->Start([job] { job->Run(); });
  read_ = std::move(job);
  EnterState(State::Reading);
}

void TMarcFun::Tick() {
  if (read_) {
    try {
      TakeRows();
    } catch (...) {
      if (!read_ || read_->takeFailure) throw;
      // Rows that could not be kept (out of memory): the read ends there as a failed one, once,
      // rather than going on with rows missing from the list and a box at every tick.
      read_->takeFailure = std::current_exception();
      read_->stop.store(true, std::memory_order_relaxed);
    }
  }
  if (export_) ExportTick();
}

void TMarcFun::TakeRows() {
  // Looked at before the rows are taken: rows come before the end.
  const bool ended = read_->ended.load(std::memory_order_acquire);
  std::vector<ReadJob::Batch> batches;
  {
    const std::lock_guard lock(read_->mutex);
    batches.swap(read_->pending);
  }
  if (read_->takeFailure) batches.clear();
  for (ReadJob::Batch& b : batches) {
    const auto n = static_cast<std::int64_t>(b.rows->Size());
    store_.Append(std::move(b.rows));
    rowsRead_ += n;
    encoding_ = b.encoding;
  }
  if (store_.Size() > shown_ && (ended || clock_.Now() - rowsShownAt_ >= kRowsShownEvery)) {
    rowsShownAt_ = clock_.Now();
    const std::size_t first = shown_;
    shown_ = store_.Size();
    view_.RowsAppended(first, shown_ - first);
    view_.SetLabel(LabelId::Label1, texts::Progress(rowsRead_));
  }
  if (ended) FinishRead();
}

void TMarcFun::FinishRead() {
  const std::shared_ptr<ReadJob> job = std::move(read_);
  EnterState(State::Idle);
  RecordLength = job->reader->RecordLength;
  BaseAddress = job->reader->BaseAddress;
  lineList_ = job->reader->LineList();
  // The exact count of the rows now listed, none included: an earlier read's count above an
  // empty list would tell of rows that are not there.
  view_.SetLabel(LabelId::Label1, texts::Progress(rowsRead_));
  if (job->takeFailure || job->failure) {
    ShowOpenFailed(ReadFailureDetails(job->takeFailure ? job->takeFailure : job->failure));
    return;
  }
  if (job->outcome.error) {
    ShowOpenFailed(ReadFailureDetails(*job->outcome.error));
    return;
  }
  view_.SetLabel(LabelId::Label2,
                 MessageText(FormatElapsed(job->elapsed, timeFormat_)) + "  " +
                     std::string(EncodingName(job->reader->Encoding(), job->fourByteSequences)));
}

void TMarcFun::ShowOpenFailed(const std::string& details) {
  ShowBox({std::string(texts::kApplicationTitle), std::string(texts::kOpenFailed), details,
           BoxIcon::None});
}

void TMarcFun::Button3Click() {
  Guarded([this] {
    if (state_ == State::Idle) ClearRows();
  });
}

void TMarcFun::Button4Click() {
  Guarded([this] {
    if (state_ == State::Idle) view_.Quit();
  });
}

bool TMarcFun::CaptionEdited(std::size_t row, const std::string& text) {
  // The export reads the list from its own thread: no cell may change meanwhile.
  if (!CaptionsEditable() || row >= shown_) return false;
  bool taken = false;
  Guarded([&] {
    store_.SetCell(
        row, marc::Title,
        marc::EncodeUtf16(marc::DecodeToUtf16(text, marc::TextEncoding::Utf8), encoding_));
    view_.RowChanged(row);
    taken = true;
  });
  return taken;
}

std::string TMarcFun::Cell(std::size_t row, std::size_t column) const {
  return marc::DecodeToUtf8(store_.Cell(row, column), encoding_);
}

const ExportSource& TMarcFun::List() const { return *list_; }

// The export runs on a worker; the window answers meanwhile, with the commands and the
// captions out of reach until it has ended.
void TMarcFun::Button5Click() {
  Guarded([this] {
    if (!exportModule_) throw std::logic_error(std::string(texts::kNoExportModule));
    if (state_ != State::Idle) return;
    auto job = std::make_shared<ExportJob>(*exportModule_, *list_);
    job->started = job->lastAnswer = clock_.Now();
    workers_->Start([job] { job->Run(); });
    export_ = std::move(job);
    EnterState(State::Exporting);
  });
}

void TMarcFun::ExportTick() {
  ExportJob& job = *export_;
  if (job.ended.load(std::memory_order_acquire)) {
    FinishExport();
    return;
  }
  const std::chrono::milliseconds now = clock_.Now();
  if (job.abandonAt && now >= *job.abandonAt) {
    // A cancel the spreadsheet did not let happen soon: given up on.
    job.abandonAt.reset();
    job.module.Application().Abandon();
  }
  const std::uint64_t beat = job.beats.load(std::memory_order_acquire);
  if (beat != job.lastBeat) {
    job.lastBeat = beat;
    job.lastAnswer = now;
    if (job.boxShown) {
      job.boxShown = false;
      view_.CloseNotAnswering();
    }
  } else if (!job.stopping && !job.boxShown && now - job.lastAnswer >= timings_.notAnswering) {
    job.boxShown = true;
    view_.ShowNotAnswering(
        {std::string(texts::kApplicationTitle), std::string(texts::kNotAnswering),
         texts::NotAnsweringDetails(
             std::chrono::duration_cast<std::chrono::seconds>(timings_.notAnswering).count()),
         std::string(texts::kKeepWaiting), std::string(texts::kGiveUp)});
  }
  if (job.stopping) return;
  // Shown once: a dialog closed by its frame or Escape has cancelled the export.
  if (!job.progressShown && now - job.started >= timings_.progressAfter) job.progressShown = true;
  if (job.progressShown) {
    const std::int64_t rows = job.rows.load(std::memory_order_relaxed);
    const std::int64_t written = job.written.load(std::memory_order_relaxed);
    view_.ShowExportProgress({std::string(texts::kApplicationTitle),
                              texts::ExportProgressText(written, rows),
                              rows > 0 ? static_cast<int>(written * 1000 / rows) : 0,
                              std::string(texts::kCancel), true});
  }
}

void TMarcFun::StopExport() {
  ExportJob& job = *export_;
  job.stopping = true;
  if (job.boxShown) {
    job.boxShown = false;
    view_.CloseNotAnswering();
  }
  if (job.progressShown) {
    view_.ShowExportProgress({std::string(texts::kApplicationTitle),
                              std::string(texts::kExportStopping), 0, std::string(texts::kCancel),
                              false});
  }
}

void TMarcFun::Cancel() {
  Guarded([this] {
    if (!export_ || export_->stopping) return;
    StopExport();
    // The export stops at the next row and lets go of the document in good order; a spreadsheet
    // that keeps it waiting longer than this is given up on.
    export_->abandonAt =
        clock_.Now() + std::max(timings_.notAnswering / 5, std::chrono::milliseconds(1));
  });
}

void TMarcFun::GiveUp() {
  Guarded([this] {
    if (!export_ || export_->gaveUp) return;
    export_->gaveUp = true;
    StopExport();
    // Wakes a call waiting for the spreadsheet; the export then ends as after a failure.
    export_->module.Application().Abandon();
  });
}

void TMarcFun::KeepWaiting() {
  Guarded([this] {
    if (!export_ || !export_->boxShown) return;
    export_->boxShown = false;
    view_.CloseNotAnswering();
    // Another full wait before the box comes back.
    export_->lastAnswer = clock_.Now();
  });
}

void TMarcFun::FinishExport() {
  const std::shared_ptr<ExportJob> job = std::move(export_);
  if (job->boxShown) view_.CloseNotAnswering();
  if (job->progressShown) view_.CloseExportProgress();
  const bool closing = state_ == State::ClosingAfterExport;
  EnterState(State::Idle);
  ExportOutcome outcome = ExportOutcome::Done;
  if (job->gaveUp) {
    outcome = ExportOutcome::GaveUp;
  } else if (job->stopping) {
    outcome = ExportOutcome::Cancelled;
  } else if (job->failure) {
    outcome = ExportOutcome::Failed;
  } else if (job->noSpreadsheet) {
    outcome = ExportOutcome::NoSpreadsheet;
  }
  switch (outcome) {
    case ExportOutcome::NoSpreadsheet:
      ShowBox({std::string(texts::kNoSpreadsheetCaption), std::string(texts::kNoSpreadsheet),
               texts::NoSpreadsheetDetails(MessageText(*job->noSpreadsheet)), BoxIcon::None});
      break;
    case ExportOutcome::Failed:
      try {
        std::rethrow_exception(job->failure);
      } catch (...) {
        ShowCurrentFailure();
      }
      break;
    case ExportOutcome::GaveUp:
      ShowBox({std::string(texts::kApplicationTitle),
               texts::FailureDisplayText(texts::kGaveUp),
               {},
               BoxIcon::Error});
      break;
    default:
      break;
  }
  if (job->cellsCut > 0 && outcome != ExportOutcome::Cancelled) {
    ShowBox({std::string(texts::kApplicationTitle),
             texts::CellsCut(job->cellsCut),
             {},
             BoxIcon::Information});
  }
  if (closing) view_.Close();
}

}  // namespace tessaly
