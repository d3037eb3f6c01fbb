#include "exportwatch.h"

#include <algorithm>

#include "marc2excel.h"
#include "usertexts.h"

namespace tessaly {

// The worker's side. Everything here outlives the watch when the worker is still running.
struct ExportWatch::Job final : ExportUi {
  Job(TMarc2ExcelFm& m, const ExportSource& l) : module(m), list(l) {}

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

ExportWatch::ExportWatch(TMarc2ExcelFm& module, const ExportSource& list, View& view,
                         const ExportTimings& timings, std::chrono::milliseconds now,
                         Workers& workers)
    : job_(std::make_shared<Job>(module, list)), view_(view), timings_(timings), started_(now) {
  workers.Start([job = job_] { job->Run(); });
}

ExportWatch::~ExportWatch() = default;

bool ExportWatch::Watch(std::chrono::milliseconds now) {
  Job& job = *job_;
  if (job.ended.load(std::memory_order_acquire)) {
    if (boxShown_) view_.CloseNotAnswering();
    if (progressShown_) view_.CloseExportProgress();
    boxShown_ = progressShown_ = false;
    return true;
  }
  if (abandonAt_ && now >= *abandonAt_) {
    // A cancel the spreadsheet did not let happen soon: given up on.
    abandonAt_.reset();
    job.module.Application().Abandon();
  }
  const std::uint64_t beat = job.beats.load(std::memory_order_acquire);
  if (beat != lastBeat_) {
    lastBeat_ = beat;
    lastAnswer_ = now;
    if (boxShown_) CloseBox();
  } else if (lastAnswer_ && !Stopping() && !boxShown_ &&
             now - *lastAnswer_ >= timings_.notAnswering) {
    boxShown_ = true;
    view_.ShowNotAnswering(
        {std::string(texts::kApplicationTitle), std::string(texts::kNotAnswering),
         texts::NotAnsweringDetails(
             std::chrono::duration_cast<std::chrono::seconds>(timings_.notAnswering).count()),
         std::string(texts::kKeepWaiting), std::string(texts::kGiveUp)});
  }
  if (Stopping()) return false;
  // Shown once: a dialog closed by its frame or Escape has cancelled the export.
  if (!progressShown_ && now - started_ >= timings_.progressAfter) progressShown_ = true;
  if (progressShown_) {
    const std::int64_t rows = job.rows.load(std::memory_order_relaxed);
    const std::int64_t written = job.written.load(std::memory_order_relaxed);
    view_.ShowExportProgress({std::string(texts::kApplicationTitle),
                              texts::ExportProgressText(written, rows),
                              rows > 0 ? static_cast<int>(written * 1000 / rows) : 0,
                              std::string(texts::kCancel), true});
  }
  return false;
}

void ExportWatch::CloseBox() {
  boxShown_ = false;
  view_.CloseNotAnswering();
}

void ExportWatch::StopShowing() {
  job_->stopping = true;
  if (boxShown_) CloseBox();
  if (progressShown_) {
    view_.ShowExportProgress({std::string(texts::kApplicationTitle),
                              std::string(texts::kExportStopping), 0, std::string(texts::kCancel),
                              false});
  }
}

void ExportWatch::Cancel(std::chrono::milliseconds now) {
  if (Stopping()) return;
  StopShowing();
  // The export stops at the next row and lets go of the document in good order; a spreadsheet
  // that keeps it waiting longer than this is given up on.
  abandonAt_ = now + std::max(timings_.notAnswering / 5, std::chrono::milliseconds(1));
}

void ExportWatch::GiveUp() {
  if (gaveUp_) return;
  gaveUp_ = true;
  StopShowing();
  // Wakes a call waiting for the spreadsheet; the export then ends as after a failure.
  job_->module.Application().Abandon();
}

void ExportWatch::KeepWaiting(std::chrono::milliseconds now) {
  if (!boxShown_) return;
  CloseBox();
  lastAnswer_ = now;
}

bool ExportWatch::Abandon(Workers& workers, std::chrono::milliseconds limit) {
  job_->stopping = true;
  job_->module.Application().Abandon();
  return workers.WaitFor(job_->ended, limit);
}

bool ExportWatch::Stopping() const { return job_->stopping.load(std::memory_order_relaxed); }

std::exception_ptr ExportWatch::Failure() const { return job_->failure; }

std::int64_t ExportWatch::CellsCut() const { return job_->cellsCut; }

ExportWatch::Outcome ExportWatch::Result() const {
  if (gaveUp_) return Outcome::GaveUp;
  if (Stopping()) return Outcome::Cancelled;
  if (job_->failure) return Outcome::Failed;
  if (job_->noSpreadsheet) return Outcome::NoSpreadsheet;
  return Outcome::Done;
}

const std::string& ExportWatch::NoSpreadsheetReason() const {
  static const std::string none;
  return job_->noSpreadsheet ? *job_->noSpreadsheet : none;
}

}  // namespace tessaly
