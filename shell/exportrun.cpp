#include "exportrun.h"

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "dialogs.h"

namespace tessaly {

namespace {

// How long the window waits for an export it gave up on to leave the spreadsheet; past that the
// program is ending anyway.
constexpr std::chrono::seconds kWorkerGrace{15};

QString RowsText(std::int64_t written, std::int64_t rows) {
  return QStringLiteral("正在生成电子表格：已写入 %1 / %2 行").arg(written).arg(rows);
}

}  // namespace

ExportRun::ExportRun(TMarc2ExcelFm& module, const ExportSource& list, ExportTimings timings,
                     QWidget* window)
    : module_(module), list_(list), timings_(timings), window_(window), timer_(new QTimer(this)) {
  // Often enough to show the box close to its time and the rows as they grow.
  const auto tick = std::clamp<std::chrono::milliseconds::rep>(
      std::min(timings_.notAnswering, timings_.progressAfter).count() / 4, 10, 100);
  timer_->setInterval(static_cast<int>(tick));
  connect(timer_, &QTimer::timeout, this, &ExportRun::Watch);
}

ExportRun::~ExportRun() {
  if (!worker_.joinable()) return;
  Stop();
  Abandon();
  const auto deadline = std::chrono::steady_clock::now() + kWorkerGrace;
  while (!workerEnded_ && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!workerEnded_) {
    // The spreadsheet holds the export's thread even after being given up on; it still uses
    // the module and the list, which are about to go. Only ending the process is safe now.
    std::_Exit(0);
  }
  worker_.join();
}

void ExportRun::Start() {
  sinceStart_.start();
  sinceAnswer_.start();
  timer_->start();
  worker_ = std::thread([this] { Work(); });
}

void ExportRun::Progress(std::int64_t written, std::int64_t rows) {
  written_.store(written, std::memory_order_relaxed);
  rows_.store(rows, std::memory_order_relaxed);
  beats_.fetch_add(1, std::memory_order_release);
}

void ExportRun::Work() {
  try {
    ExportListToExcel(module_, list_, *this);
  } catch (const ExportCancelled&) {
  } catch (...) {
    failure_ = std::current_exception();
  }
  cellsCut_ = module_.Application().CellsCut();
  workerEnded_ = true;
  QMetaObject::invokeMethod(
      this, [this] { WorkerDone(); }, Qt::QueuedConnection);
}

void ExportRun::Watch() {
  if (outcome_ != Outcome::Running) return;
  const std::uint64_t beat = beats_.load(std::memory_order_acquire);
  if (beat != lastBeat_) {
    lastBeat_ = beat;
    sinceAnswer_.restart();
    CloseNotAnswering();
  } else if (!stopping_ && !box_ &&
             std::chrono::milliseconds(sinceAnswer_.elapsed()) >= timings_.notAnswering) {
    ShowNotAnswering();
  }
  // Once only: a dialog closed by its frame or Escape has cancelled the export.
  if (!progress_ && !stopping_ &&
      std::chrono::milliseconds(sinceStart_.elapsed()) >= timings_.progressAfter) {
    ShowProgress();
  }
  if (progress_ && !stopping_) {
    const std::int64_t rows = rows_.load(std::memory_order_relaxed);
    const std::int64_t written = written_.load(std::memory_order_relaxed);
    progressText_->setText(RowsText(written, rows));
    // The bar counts in thousandths: an int would not hold every list's rows.
    progressBar_->setValue(rows > 0 ? static_cast<int>(written * 1000 / rows) : 0);
  }
}

void ExportRun::ShowProgress() {
  auto* dialog = new QDialog(window_);
  dialog->setObjectName(QStringLiteral("exportProgress"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(kApplicationTitle);
  // Window-modal: the window's commands wait for the export, and clicks made meanwhile are
  // not delivered to them later.
  dialog->setWindowModality(Qt::WindowModal);
  auto* layout = new QVBoxLayout(dialog);
  progressText_ = new QLabel(RowsText(written_, rows_), dialog);
  progressBar_ = new QProgressBar(dialog);
  progressBar_->setRange(0, 1000);
  progressBar_->setTextVisible(false);
  cancelButton_ = new QPushButton(QStringLiteral("取消"), dialog);
  cancelButton_->setObjectName(QStringLiteral("cancel"));
  layout->addWidget(progressText_);
  layout->addWidget(progressBar_);
  layout->addWidget(cancelButton_, 0, Qt::AlignRight);
  connect(cancelButton_, &QPushButton::clicked, this, &ExportRun::Cancel);
  // Closing the dialog by its frame or Escape cancels too.
  connect(dialog, &QDialog::rejected, this, [this] {
    if (outcome_ == Outcome::Running) Cancel();
  });
  progress_ = dialog;
  dialog->show();
}

void ExportRun::ShowNotAnswering() {
  QWidget* parent = progress_ ? static_cast<QWidget*>(progress_) : window_;
  auto* box = new QMessageBox(QMessageBox::Warning, kApplicationTitle,
                              QStringLiteral("电子表格没有响应"), QMessageBox::NoButton, parent);
  box->setObjectName(QStringLiteral("notAnswering"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setInformativeText(
      QStringLiteral("电子表格已有 %1 秒没有应答。可以继续等待，也可以放弃这次导出："
                     "已写入的行留在文档中。")
          .arg(std::chrono::duration_cast<std::chrono::seconds>(timings_.notAnswering).count()));
  QPushButton* wait = box->addButton(QStringLiteral("继续等待"), QMessageBox::RejectRole);
  wait->setObjectName(QStringLiteral("keepWaiting"));
  QPushButton* giveUp = box->addButton(QStringLiteral("放弃"), QMessageBox::DestructiveRole);
  giveUp->setObjectName(QStringLiteral("giveUp"));
  box->setDefaultButton(wait);
  box->setWindowModality(Qt::WindowModal);
  connect(box, &QMessageBox::buttonClicked, this, [this, giveUp](QAbstractButton* button) {
    if (button == giveUp) {
      GiveUp();
    } else {
      // Another full wait before the box comes back.
      sinceAnswer_.restart();
      box_ = nullptr;
    }
  });
  box_ = box;
  box->open();
}

void ExportRun::CloseNotAnswering() {
  if (box_) box_->close();
  box_ = nullptr;
}

void ExportRun::Cancel() {
  if (outcome_ != Outcome::Running || stopping_) return;
  Stop();
  // The export stops at the next row and lets go of the document in good order (the rows
  // gathered are written, the document gets its row heights back); a spreadsheet that keeps it
  // waiting longer than this is given up on.
  QTimer::singleShot(std::max(timings_.notAnswering / 5, std::chrono::milliseconds(1)), this,
                     [this] {
                       if (outcome_ == Outcome::Running) Abandon();
                     });
}

void ExportRun::GiveUp() {
  if (outcome_ != Outcome::Running) return;
  gaveUp_ = true;
  Stop();
  Abandon();
}

void ExportRun::Abandon() {
  // Wakes a call waiting for the spreadsheet; the export then ends as after a failure.
  module_.Application().Abandon();
}

void ExportRun::Stop() {
  stopping_ = true;
  CloseNotAnswering();
  if (progress_) {
    progressText_->setText(QStringLiteral("正在停止导出……"));
    cancelButton_->setEnabled(false);
  }
}

void ExportRun::WorkerDone() {
  worker_.join();
  timer_->stop();
  if (gaveUp_) {
    outcome_ = Outcome::GaveUp;
  } else if (stopping_) {
    outcome_ = Outcome::Cancelled;
  } else if (failure_) {
    outcome_ = Outcome::Failed;
  } else if (noSpreadsheet_) {
    outcome_ = Outcome::NoSpreadsheet;
  } else {
    outcome_ = Outcome::Done;
  }
  CloseNotAnswering();
  if (progress_) progress_->close();
  emit finished();
}

}  // namespace tessaly
