// MarcFun, the main window: the list of decoded records, the labels, the buttons for opening,
// clearing, exporting and leaving, and the read command that fills the list.
#pragma once

#include <QMargins>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "exportrun.h"
#include "marc2excel.h"
#include "reader.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
namespace Ui {
class MarcFun;
}

namespace tessaly {

class BookListModel;
class TListView;
class WindowDialogs;

// The file-open dialog's state between uses; the dialog itself is shown through WindowDialogs.
class TOpenDialog {
 public:
  // Where the dialog starts (a folder, or a file whose folder is meant).
  QString InitialDir;
  // The full path confirmed last; offered as the name the next time.
  QString FileName;

  // Runs the dialog modally; true when the user confirmed a name (then in FileName).
  bool Execute(QWidget* owner, WindowDialogs& dialogs);
};

class TMarcFun : public QWidget, private marc::ReadSink {
  Q_OBJECT

 public:
  explicit TMarcFun(QWidget* parent = nullptr);
  ~TMarcFun() override;

  // Components, owned by the window.
  QPlainTextEdit* Memo1;
  QFrame* Panel1;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button4;
  TOpenDialog OpenDialog1;
  TListView* ListView1;
  QLabel* Label1;
  QLabel* Label2;
  QPushButton* Button3;
  QPushButton* Button5;
  QFrame* Panel2;
  QLineEdit* Edit1;

  // Event handlers.
  void FormResize();
  void Button4Click();
  void FormClose();
  void Button1Click();
  void Button2Click();
  void FormShow();
  void Button5Click();
  void Button3Click();

  // Fields. MarcFileName is in the form the file operations take (the platform's 8-bit path).
  std::string MarcFileName;
  // The last record's leader numbers, as the read command left them.
  std::int32_t RecordLength = 0;
  std::int32_t BaseAddress = 0;

  // Wiring done at start-up (and by tests).
  void SetDialogs(WindowDialogs& dialogs) { dialogs_ = &dialogs; }
  // A running export is given up first (the module is about to go).
  void SetExportModule(TMarc2ExcelFm* module);
  void SetExportTimings(ExportTimings timings) { exportTimings_ = timings; }
  // The export in progress, if any.
  ExportRun* RunningExport() const { return export_.get(); }

  BookListModel& ListModel() { return *model_; }
  // The read command's reader; it owns LineList.
  const marc::RecordReader& Reader() const { return reader_; }
  // The window's outer height, frame and title bar included.
  int OuterHeight() const;
  // The clock the read's progress repaints are paced by, in milliseconds (tests step it).
  void SetProgressClock(std::function<std::int64_t()> clockMs) {
    progressClock_ = std::move(clockMs);
  }
  // Where the elapsed time's settings come from; read now and again on every locale change.
  void SetTimeFormatSource(std::function<marc::LongTimeFormat()> source);

  // The frame assumed around the client area until the platform tells the real one: it makes the
  // restored bounds 275, 136, 735 x 497 for the 719-pixel-wide client area of the layout.
  static constexpr QMargins kDesignFrame{8, 31, 8, 8};

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // ReadSink: the read command's rows, progress and elapsed time.
  void AppendRows(const std::shared_ptr<const marc::FileBytes>& bytes,
                  std::span<const marc::RowRef> rows, std::int64_t rowsBefore) override;
  void Progress(std::int64_t rowCount) override;
  void Elapsed(const marc::Text& text) override;
  void ExportFinished();
  // The commands other than the running export's own dialogs.
  void SetCommandsEnabled(bool enabled);

  void AlignTop();
  void ShowProgress();
  void FinishRead();
  QString FailureDetails(const char* message) const;

  std::unique_ptr<Ui::MarcFun> ui_;
  BookListModel* model_;
  marc::RecordReader reader_;
  WindowDialogs* dialogs_;
  TMarc2ExcelFm* exportModule_ = nullptr;
  ExportTimings exportTimings_;
  std::unique_ptr<ExportRun> export_;
  // The window was closed during an export: it closes once the export has stopped.
  bool closeAfterExport_ = false;
  int listHeight_;
  // Progress of the running read: rows so far (-1 before the first) and the last repaint.
  std::int64_t progressRows_ = -1;
  std::function<std::int64_t()> progressClock_;
  std::function<marc::LongTimeFormat()> timeFormatSource_;
  std::int64_t lastPaintMs_ = 0;
};

// Sets a label's text; the label's width follows the text.
void SetLabelText(QLabel* label, const QString& text);

}  // namespace tessaly
