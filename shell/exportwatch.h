// The export in progress: the list copied into the spreadsheet on a worker, and the watch the GUI
// thread keeps on it. The progress dialog shows once the export has run a while; the not-answering
// box once the spreadsheet, after it was reached, has been silent too long. Silence counts from
// the export's first beat (the worksheet is ready), not from the click: starting an office may
// take half a minute, and its own start-up has a limit of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "exportsource.h"
#include "ports.h"

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

class ExportWatch {
 public:
  enum class Outcome { Done, NoSpreadsheet, Failed, GaveUp, Cancelled };

  // Starts the export of list through module on a worker, at now. The dialogs it shows are the
  // view's.
  ExportWatch(TMarc2ExcelFm& module, const ExportSource& list, View& view,
              const ExportTimings& timings, std::chrono::milliseconds now, Workers& workers);
  ~ExportWatch();
  ExportWatch(const ExportWatch&) = delete;
  ExportWatch& operator=(const ExportWatch&) = delete;

  // On the GUI thread's tick: shows or updates the progress and the not-answering box. True
  // once the export has ended; its dialogs are closed then.
  bool Watch(std::chrono::milliseconds now);

  // The user's answers: 取消 (the export stops at the next row; a spreadsheet that does not let
  // it stop soon is given up on), 放弃 (the spreadsheet is given up on at once), 继续等待 (another
  // full wait before the box comes back). Each is ignored when it no longer applies.
  void Cancel(std::chrono::milliseconds now);
  void GiveUp();
  void KeepWaiting(std::chrono::milliseconds now);
  bool Stopping() const;

  // The module is about to go: the export lets go of the spreadsheet, and the worker is waited
  // for up to limit. False when it still holds the module.
  bool Abandon(Workers& workers, std::chrono::milliseconds limit);

  // Once ended: how it ended, the failure (Outcome::Failed), why no spreadsheet could be reached
  // (Outcome::NoSpreadsheet), and the cells the spreadsheet had to cut.
  Outcome Result() const;
  std::exception_ptr Failure() const;
  const std::string& NoSpreadsheetReason() const;
  std::int64_t CellsCut() const;

 private:
  struct Job;
  void CloseBox();
  void StopShowing();

  std::shared_ptr<Job> job_;
  View& view_;
  const ExportTimings timings_;
  const std::chrono::milliseconds started_;
  // The last beat seen and when; none before the spreadsheet was reached.
  std::uint64_t lastBeat_ = 0;
  std::optional<std::chrono::milliseconds> lastAnswer_;
  bool progressShown_ = false;
  bool boxShown_ = false;
  bool gaveUp_ = false;
  // When a cancel the spreadsheet has not let happen is given up on.
  std::optional<std::chrono::milliseconds> abandonAt_;
};

}  // namespace tessaly
