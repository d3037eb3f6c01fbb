// The main window's presenter: its commands, the state they leave, which commands are available,
// the labels, and which box tells the user what, without a toolkit. The book list, the read in
// progress and the export watch are rooms of their own (booklist.h, readsession.h,
// exportwatch.h). A skin (ports.h) shows what it is told and passes the user's events on.
#pragma once

#include <chrono>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "badread.h"
#include "booklist.h"
#include "checksession.h"
#include "exportwatch.h"
#include "findsession.h"
#include "layout.h"
#include "longtime.h"
#include "ports.h"
#include "reader.h"

namespace tessaly {

class ReadSession;
class SpreadsheetExport;

class Presenter {
 public:
  enum class State { Idle, Reading, Exporting, ClosingAfterExport };

  Presenter(View& view, Dialogs& dialogs, UiLoop& loop, const Clock& clock);
  // A read or export still running is stopped and let go of (the program is ending).
  ~Presenter();
  Presenter(const Presenter&) = delete;
  Presenter& operator=(const Presenter&) = delete;

  // Wiring done at start-up (and by tests).
  // A running export is given up first when the module changes (it is about to go).
  void SetExportModule(SpreadsheetExport* module);
  void SetExportTimings(ExportTimings timings) { timings_ = timings; }
  // Where the read and the export run (threads of their own unless told otherwise).
  void SetWorkers(Workers& workers) { workers_ = &workers; }
  // The user's long time pattern; given again when the user changes the regional settings.
  void SetTimeFormat(LongTimeFormat format);
  // The running program's own file: where the open dialog starts.
  void SetProgramPath(std::filesystem::path path) { programPath_ = std::move(path); }

  // Commands. Each is ignored unless the window is idle (a click queued before the commands
  // went off). None throws: a failure goes to the top-level failure display.
  // Empties the list and reads the file the user picks in the open dialog.
  void OpenWithDialog();
  // Empties the list and reads file, as if the user had picked it in the dialog (a file given
  // on the command line or dropped on the window).
  void Open(const std::filesystem::path& file);
  // Copies the list into a new workbook of the spreadsheet.
  void Export();
  void Clear();
  // Ends the program's loop without closing the window.
  void Quit();
  // The command a button of the layout runs.
  void Run(layout::Command command);

  // Events a skin passes on.
  void Shown();
  // The window's size changed; outerHeight includes the frame and the title bar.
  void Resized(int outerHeight);
  // The user asks to close the window: true when it may close now (Closed follows); false while
  // an export is stopped first, after which View::Close comes.
  bool CloseRequested();
  // The window closes: the rows the reader keeps of the last read are let go.
  void Closed();
  // The user corrected a row's title in place (UTF-8): true when taken; refused while an export
  // reads the list.
  bool TitleEdited(std::size_t row, const std::string& text);
  // The not-answering box's buttons and the progress dialog's 取消.
  void KeepWaiting();
  void GiveUp();
  void CancelExport();

  // The top-level failure display of the failure being handled (call inside a catch block);
  // skins use it for failures of their own.
  void ShowCurrentFailure();

  // What a skin shows.
  State CurrentState() const { return state_; }
  bool CommandsEnabled() const { return state_ == State::Idle; }
  bool TitlesEditable() const {
    return state_ != State::Exporting && state_ != State::ClosingAfterExport;
  }
  const BookList& Books() const { return books_; }
  // Find in the list: the find box's events (findsession.h).
  FindSession& Finding() { return find_; }
  std::size_t RowCount() const { return books_.RowCount(); }
  // A cell's text, UTF-8 (row < RowCount(), column < 13).
  std::string Cell(std::size_t row, std::size_t column) const { return books_.Cell(row, column); }
  // What the last read ended with (its rows, or its failure), as the reader keeps it for a name
  // that does not exist, until the window closes. Taken on the GUI thread when the read ends.
  const std::shared_ptr<const marc::RecordReader::LastRead>& LastRead() const { return lastRead_; }
  // The read past bad records: the bad list of the last such read, until 清除数据 or the next.
  const BadReadFlow& BadRead() const { return badRead_; }

 private:
  template <class F>
  void Guarded(F&& f);
  void StartRead(const std::filesystem::path& file, marc::ReadMode mode = marc::ReadMode::Stop);
  void ClearRows();
  void Tick();
  void HandOverRows();
  void FinishRead();
  void ShowOpenFailed(const std::string& details);
  void FinishExport();
  void EnterState(State state);

  View& view_;
  Dialogs& dialogs_;
  UiLoop& loop_;
  const Clock& clock_;
  Workers* workers_;
  SpreadsheetExport* exportModule_ = nullptr;
  ExportTimings timings_;
  std::filesystem::path programPath_;
  // The file read last: the open dialog offers it.
  std::filesystem::path lastOpened_;
  LongTimeFormat timeFormat_;

  State state_ = State::Idle;
  BookList books_;
  std::shared_ptr<marc::RecordReader> reader_ = std::make_shared<marc::RecordReader>();
  std::unique_ptr<ReadSession> read_;
  BadReadFlow badRead_{dialogs_};
  std::shared_ptr<const marc::RecordReader::LastRead> lastRead_;
  std::chrono::milliseconds rowsShownAt_{};
  std::unique_ptr<ExportWatch> export_;
  // Last: they go first, before what their workers report to.
  FindSession find_;
  CheckSession checks_;
};

}  // namespace tessaly
