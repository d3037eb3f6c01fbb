// TMarcFun, the main window's logic without a toolkit: its commands under the handlers' names,
// the state they leave, which commands are available, the labels, the read on a worker thread,
// the export session and its watchdog, and which box tells the user what. A skin (ports.h)
// shows what it is told and passes the events on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "exportsource.h"
#include "longtime.h"
#include "ports.h"
#include "reader.h"
#include "rowstore.h"

namespace tessaly {

class TMarc2ExcelFm;

struct ExportTimings {
  // How long the spreadsheet may stay silent before the box says it does not answer.
  std::chrono::milliseconds notAnswering{10'000};
  // An export that ends sooner shows no progress at all.
  std::chrono::milliseconds progressAfter{1'000};
  // The tick that watches the export and shows the read's rows.
  std::chrono::milliseconds tick{16};
};

class TMarcFun {
 public:
  enum class State { Idle, Reading, Exporting, ClosingAfterExport };
  enum class ExportOutcome { Done, NoSpreadsheet, Failed, GaveUp, Cancelled };

  TMarcFun(View& view, Dialogs& dialogs, UiLoop& loop, const Clock& clock);
  // A read or export still running is stopped and let go of (the program is ending).
  ~TMarcFun();
  TMarcFun(const TMarcFun&) = delete;
  TMarcFun& operator=(const TMarcFun&) = delete;

  // Wiring done at start-up (and by tests).
  // A running export is given up first when the module changes (it is about to go).
  void SetExportModule(TMarc2ExcelFm* module);
  void SetExportTimings(ExportTimings timings) { timings_ = timings; }
  // Where the read and the export run (threads of their own unless told otherwise).
  void SetWorkers(Workers& workers) { workers_ = &workers; }
  // The user's long time pattern; given again when the user changes the regional settings.
  void SetTimeFormat(LongTimeFormat format);
  // The running program's own file: where the open dialog starts.
  void SetProgramPath(std::filesystem::path path) { programPath_ = std::move(path); }

  // Events a skin passes on. None throws: a failure goes to the top-level failure display.
  void FormShow();
  // The window's size changed; outerHeight includes the frame and the title bar.
  void FormResize(int outerHeight);
  // The user asks to close the window: true when it may close now (FormClose follows); false
  // while a read or an export is stopped first, after which View::Close comes.
  bool FormCloseQuery();
  void FormClose();
  void Button1Click();  // open
  void Button2Click();  // the read of MarcFileName (run by the open command only)
  void Button3Click();  // clear
  void Button4Click();  // exit
  void Button5Click();  // export
  // A file given on the command line or dropped on the window: the open command as if the user
  // had confirmed it in the dialog.
  void OpenFile(const std::filesystem::path& file);
  // The user edited a row's caption in place (UTF-8): true when taken; refused while an export
  // reads the list.
  bool CaptionEdited(std::size_t row, const std::string& text);
  // The not-answering box's buttons and the progress dialog's 取消.
  void KeepWaiting();
  void GiveUp();
  void Cancel();

  // The top-level failure display of the failure being handled (call inside a catch block);
  // skins use it for failures of their own.
  void ShowCurrentFailure();

  // What a skin shows.
  State CurrentState() const { return state_; }
  bool CommandsEnabled() const { return state_ == State::Idle; }
  bool CaptionsEditable() const {
    return state_ != State::Exporting && state_ != State::ClosingAfterExport;
  }
  std::size_t RowCount() const { return shown_; }
  // A cell's text, UTF-8 (row < RowCount(), column < 13).
  std::string Cell(std::size_t row, std::size_t column) const;
  // The list as the export reads it.
  const ExportSource& List() const;
  // What the read made last gave (its rows, or its failure), until the window closes.
  const std::shared_ptr<const marc::RecordReader::LastRead>& LineList() const { return lineList_; }

  // Fields of the read command.
  std::filesystem::path MarcFileName;
  std::int32_t RecordLength = 0;
  std::int32_t BaseAddress = 0;

 private:
  struct ReadJob;
  struct ExportJob;
  class ListSource;

  template <class F>
  void Guarded(F&& f);
  void Open(const std::filesystem::path& file);
  void ClearRows();
  void Tick();
  void TakeRows();
  void FinishRead();
  void ShowOpenFailed(const std::string& details);
  void ExportTick();
  void StopExport();
  void FinishExport();
  void EnterState(State state);
  void ShowBox(Box box);

  View& view_;
  Dialogs& dialogs_;
  UiLoop& loop_;
  const Clock& clock_;
  Workers* workers_;
  TMarc2ExcelFm* exportModule_ = nullptr;
  ExportTimings timings_;
  std::filesystem::path programPath_;
  std::filesystem::path lastConfirmed_;
  LongTimeFormat timeFormat_;

  State state_ = State::Idle;
  RowStore store_;
  marc::TextEncoding encoding_ = marc::TextEncoding::Gb18030;
  // Rows the view has been told of (the store may hold more until the next tick).
  std::size_t shown_ = 0;
  std::unique_ptr<ListSource> list_;
  std::shared_ptr<marc::RecordReader> reader_ = std::make_shared<marc::RecordReader>();
  std::shared_ptr<const marc::RecordReader::LastRead> lineList_;
  std::shared_ptr<ReadJob> read_;
  std::int64_t rowsRead_ = 0;
  std::chrono::milliseconds rowsShownAt_{};
  std::shared_ptr<ExportJob> export_;
};

}  // namespace tessaly
