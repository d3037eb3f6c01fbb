// One run of the export, on a thread of its own so that the window keeps answering whatever the
// spreadsheet does. The window's thread watches it: after a moment a dialog shows the rows
// written with 取消, and when the spreadsheet stays silent a box says so and offers to give up.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <thread>

#include "marc2excel.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tessaly {

struct ExportTimings {
  // How long the spreadsheet may stay silent before the box says it does not answer.
  std::chrono::milliseconds notAnswering{10'000};
  // An export that ends sooner shows no progress at all.
  std::chrono::milliseconds progressAfter{1'000};
};

class ExportRun : public QObject, private ExportUi {
  Q_OBJECT

 public:
  enum class Outcome { Running, Done, NoSpreadsheet, Failed, GaveUp, Cancelled };

  // The list must hold still until finished() (the window freezes it). The window owns the
  // run; the dialogs are the window's children.
  ExportRun(TMarc2ExcelFm& module, const ExportSource& list, ExportTimings timings,
            QWidget* window);
  // Gives up on a run still going and waits a bounded time for its thread.
  ~ExportRun() override;

  void Start();
  // 取消 in the progress dialog: the export stops after the row it is at, the document keeps
  // what was written; a spreadsheet that does not let it stop soon is given up on.
  void Cancel();
  // 放弃 in the box: as Cancel, but it is reported as the failure it is.
  void GiveUp();

  Outcome Result() const { return outcome_; }
  // The failure that ended the export (Outcome::Failed).
  std::exception_ptr Failure() const { return failure_; }
  std::int64_t CellsCut() const { return cellsCut_; }
  // Rows of the list handed to the spreadsheet so far.
  std::int64_t RowsWritten() const { return written_.load(std::memory_order_relaxed); }

  // The widgets, while shown (for tests): the progress dialog and the not-answering box.
  QDialog* ProgressDialog() const { return progress_; }
  QMessageBox* NotAnsweringBox() const { return box_; }

 signals:
  // On the window's thread, once the export's thread has ended.
  void finished();

 private:
  // ExportUi, called on the export's thread.
  void ShowNoSpreadsheet() override { noSpreadsheet_ = true; }
  void Progress(std::int64_t written, std::int64_t rows) override;
  bool Cancelled() const override { return stopping_; }

  void Work();
  void Watch();
  void ShowProgress();
  void ShowNotAnswering();
  void CloseNotAnswering();
  void Stop();
  void Abandon();
  void WorkerDone();

  TMarc2ExcelFm& module_;
  const ExportSource& list_;
  ExportTimings timings_;
  QWidget* window_;

  std::thread worker_;
  std::atomic<std::uint64_t> beats_{0};
  std::atomic<std::int64_t> written_{0};
  std::atomic<std::int64_t> rows_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> noSpreadsheet_{false};
  std::atomic<bool> workerEnded_{false};
  std::exception_ptr failure_;
  std::int64_t cellsCut_ = 0;

  // The window's side.
  Outcome outcome_ = Outcome::Running;
  bool gaveUp_ = false;
  QTimer* timer_;
  QElapsedTimer sinceStart_;
  QElapsedTimer sinceAnswer_;
  std::uint64_t lastBeat_ = 0;
  QPointer<QDialog> progress_;
  QLabel* progressText_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPointer<QMessageBox> box_;
};

}  // namespace tessaly
