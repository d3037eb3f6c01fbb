#include "marcfn.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

#include "appearance.h"
#include "booklistmodel.h"
#include "codec.h"
#include "dialogs.h"
#include "failure.h"
#include "listview.h"
#include "longtime.h"
#include "ui_marcfn.h"

namespace tessaly {

namespace {

// Repaint the progress label at most this often: a repaint per row would cost minutes on a
// large file, while 16 ms still reads as a running count.
constexpr std::int64_t kProgressPaintMs = 16;

std::int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The caption differs from the application title on purpose.
const QString kCaption = QStringLiteral("禾朔Tessaly  1.0");

}  // namespace

bool TOpenDialog::Execute(QWidget* owner, WindowDialogs& dialogs) {
  const std::optional<QString> chosen = dialogs.OpenFile(owner, InitialDir, FileName);
  if (!chosen) return false;
  FileName = *chosen;
  return true;
}

void SetLabelText(QLabel* label, const QString& text) {
  label->setText(text);
  label->resize(label->sizeHint().width(), label->height());
}

TMarcFun::TMarcFun(QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::MarcFun>()),
      reader_(UserLongTimeFormat()),
      dialogs_(&DefaultDialogs()),
      progressClock_(SteadyMs),
      timeFormatSource_(UserLongTimeFormat) {
  InitResources();
  ui_->setupUi(this);
  Memo1 = ui_->Memo1;
  Panel1 = ui_->Panel1;
  Button1 = ui_->Button1;
  Button2 = ui_->Button2;
  Button4 = ui_->Button4;
  ListView1 = ui_->ListView1;
  Label1 = ui_->Label1;
  Label2 = ui_->Label2;
  Button3 = ui_->Button3;
  Button5 = ui_->Button5;
  Panel2 = ui_->Panel2;
  Edit1 = ui_->Edit1;
  listHeight_ = ListView1->height();

  // The layout gives the client size; the restored place is the outer top-left 275, 136.
  move(QPoint(275, 136) + QPoint(kDesignFrame.left(), kDesignFrame.top()));
  setWindowTitle(kCaption);
  setWindowIcon(ApplicationIcon());
  setFont(WindowFont(kWindowFontPixels));
  Edit1->setFont(WindowFont(kEditFontPixels));
  Memo1->hide();
  Button2->hide();
  Button2->setEnabled(false);
  Panel1->setFocusPolicy(Qt::NoFocus);
  Panel2->setFocusPolicy(Qt::NoFocus);

  model_ = new BookListModel(this);
  ListView1->setModel(model_);

  connect(Button1, &QPushButton::clicked, this, Guarded([this] { Button1Click(); }));
  connect(Button2, &QPushButton::clicked, this, Guarded([this] { Button2Click(); }));
  connect(Button3, &QPushButton::clicked, this, Guarded([this] { Button3Click(); }));
  connect(Button4, &QPushButton::clicked, this, Guarded([this] { Button4Click(); }));
  connect(Button5, &QPushButton::clicked, this, Guarded([this] { Button5Click(); }));
  AlignTop();
}

TMarcFun::~TMarcFun() = default;

int TMarcFun::OuterHeight() const {
  QMargins frame = kDesignFrame;
  if (const QWindow* w = windowHandle(); w && w->isVisible()) frame = w->frameMargins();
  return height() + frame.top() + frame.bottom();
}

void TMarcFun::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TMarcFun::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TMarcFun::closeEvent(QCloseEvent* event) {
  if (export_) {
    // The spreadsheet is let go first; the window closes when the export has stopped.
    closeAfterExport_ = true;
    export_->Cancel();
    event->ignore();
    return;
  }
  FormClose();
  event->accept();  // the main window: closing it ends the program
}

void TMarcFun::AlignTop() {
  // Top-aligned controls stack from the top in this order and take the full client width; a
  // hidden one takes no room. Edit1 is not aligned: it keeps its place over Panel2's band.
  int y = 0;
  for (QWidget* w : {static_cast<QWidget*>(Panel1), static_cast<QWidget*>(Panel2),
                     static_cast<QWidget*>(ListView1), static_cast<QWidget*>(Memo1)}) {
    if (!w->isVisibleTo(this)) continue;
    const int h = w == ListView1 ? listHeight_ : w->height();
    w->setGeometry(0, y, width(), h);
    y += h;
  }
}

void TMarcFun::FormResize() {
  listHeight_ = OuterHeight() - Panel1->height() - Panel2->height() - 50;
  // A list of no height is simply not shown.
  ListView1->setVisible(listHeight_ > 0);
  AlignTop();
}

void TMarcFun::FormShow() {
  setWindowState(windowState() | Qt::WindowMaximized);
  SetLabelText(Label1, QString());
  SetLabelText(Label2, QString());
}

void TMarcFun::Button1Click() {
  model_->Clear();
  OpenDialog1.InitialDir = QCoreApplication::applicationFilePath();
  if (!OpenDialog1.Execute(this, *dialogs_)) return;
  try {
    const QByteArray path = QFile::encodeName(OpenDialog1.FileName);
    MarcFileName.assign(path.constData(), static_cast<std::size_t>(path.size()));
    Button2->setEnabled(true);
    Button2Click();
  } catch (const std::exception& e) {
    dialogs_->ShowOpenFailed(this, FailureDetails(e.what()));
  } catch (...) {
    dialogs_->ShowOpenFailed(this, FailureDetails(""));
  }
}

void TMarcFun::Button2Click() {
  progressRows_ = -1;
  lastPaintMs_ = progressClock_();
  try {
    reader_.Read(MarcFileName, *this);
  } catch (...) {
    FinishRead();
    throw;
  }
  FinishRead();
  Button2->setEnabled(false);
}

void TMarcFun::AppendRows(const std::shared_ptr<const marc::FileBytes>& bytes,
                          std::span<const marc::RowRef> rows, std::int64_t rowsBefore) {
  // The places are stored as they are, on this (the GUI) thread; the count reaches Label1 at
  // the pace Progress keeps.
  model_->AppendRows(bytes, rows);
  Progress(rowsBefore + static_cast<std::int64_t>(rows.size()));
}

void TMarcFun::Progress(std::int64_t rowCount) {
  progressRows_ = rowCount;
  if (progressClock_() - lastPaintMs_ >= kProgressPaintMs) ShowProgress();
}

void TMarcFun::Elapsed(const marc::Text& text) {
  // Written with the user's time settings, so in the locale's 8-bit encoding; the file's
  // encoding follows, so a cataloguer can tell how its bytes were read.
  const QString encoding = reader_.Encoding() == marc::TextEncoding::Utf8 ? QStringLiteral("UTF-8")
                           : reader_.FourByteSequences() ? QStringLiteral("GB18030")
                                                         : QStringLiteral("GBK");
  SetLabelText(Label2, QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())) +
                           QStringLiteral("  ") + encoding);
}

void TMarcFun::ShowProgress() {
  model_->SetEncoding(reader_.Encoding());
  model_->Commit();
  SetLabelText(Label1, DecodeText(marc::ProgressText(progressRows_)));
  Label1->repaint();
  lastPaintMs_ = progressClock_();
}

void TMarcFun::FinishRead() {
  RecordLength = reader_.RecordLength;
  BaseAddress = reader_.BaseAddress;
  model_->SetEncoding(reader_.Encoding());
  model_->Commit();
  // The exact count of the rows now listed, none included: an earlier read's count above an
  // empty list would tell of rows that are not there.
  SetLabelText(Label1, DecodeText(marc::ProgressText(std::max<std::int64_t>(progressRows_, 0))));
}

QString TMarcFun::FailureDetails(const char* message) const {
  const QString reason = DecodeMessage(message);
  const marc::ReadPosition& at = reader_.Position();
  if (at.record <= 0) return reason;
  return QStringLiteral("第 %1 条记录（第 %2 行）：%3").arg(at.record).arg(at.line).arg(reason);
}

void TMarcFun::Button3Click() { model_->Clear(); }

void TMarcFun::Button4Click() {
  // Queued: the loop ends once this handler has returned. The window is not closed, so
  // FormClose does not run.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void TMarcFun::FormClose() { reader_.ReleaseLineList(); }

void TMarcFun::SetExportModule(TMarc2ExcelFm* module) {
  if (export_ && module != exportModule_) export_.reset();
  exportModule_ = module;
}

void TMarcFun::SetTimeFormatSource(std::function<marc::LongTimeFormat()> source) {
  timeFormatSource_ = std::move(source);
  reader_.SetTimeFormat(timeFormatSource_());
}

// The user changed the regional settings while the program runs (Windows announces it, Qt
// passes it on): the next elapsed time follows the new pattern.
void TMarcFun::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) reader_.SetTimeFormat(timeFormatSource_());
  QWidget::changeEvent(event);
}

// The export runs on a thread of its own; the window answers meanwhile, with the other commands
// and the titles out of reach until it has ended.
void TMarcFun::Button5Click() {
  if (!exportModule_) throw std::logic_error("导出模块尚未创建");
  if (export_) return;
  model_->SetFrozen(true);
  SetCommandsEnabled(false);
  export_ = std::make_unique<ExportRun>(*exportModule_, *model_, exportTimings_, this);
  connect(export_.get(), &ExportRun::finished, this, &TMarcFun::ExportFinished);
  export_->Start();
}

void TMarcFun::ExportFinished() {
  // Deleted once its signal has returned.
  ExportRun* run = export_.release();
  run->deleteLater();
  model_->SetFrozen(false);
  SetCommandsEnabled(true);
  switch (run->Result()) {
    case ExportRun::Outcome::NoSpreadsheet:
      dialogs_->ShowNoSpreadsheet(this);
      break;
    case ExportRun::Outcome::Failed:
      try {
        std::rethrow_exception(run->Failure());
      } catch (...) {
        ShowCurrentFailure();
      }
      break;
    case ExportRun::Outcome::GaveUp:
      ShowFailureMessage(QStringLiteral("电子表格没有响应，导出已放弃；已写入的行留在文档中"));
      break;
    default:
      break;
  }
  if (run->CellsCut() > 0 && run->Result() != ExportRun::Outcome::Cancelled) {
    dialogs_->ShowCellsCut(this, run->CellsCut());
  }
  if (std::exchange(closeAfterExport_, false)) close();
}

void TMarcFun::SetCommandsEnabled(bool enabled) {
  for (QPushButton* b : {Button1, Button5, Button3, Button4}) b->setEnabled(enabled);
}

}  // namespace tessaly
