// MarcFun's Qt skin: the widgets built from the layout table, showing what the window's logic
// (TMarcFun) tells them and passing the user's events on.
#pragma once

#include <QDialog>
#include <QMargins>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "marcfn.h"
#include "ports.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tessaly {

class BookListModel;
class QtLoop;
class TListView;

class MarcFunWindow : public QWidget, private View {
  Q_OBJECT

 public:
  explicit MarcFunWindow(Dialogs& dialogs, QWidget* parent = nullptr);
  ~MarcFunWindow() override;

  TMarcFun& Logic() { return *logic_; }
  BookListModel& ListModel() { return *model_; }

  // The controls, owned by the window.
  QPlainTextEdit* Memo1;
  QFrame* Panel1;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button4;
  TListView* ListView1;
  QLabel* Label1;
  QLabel* Label2;
  QPushButton* Button3;
  QPushButton* Button5;
  QFrame* Panel2;
  QLineEdit* Edit1;

  // The export's dialogs while shown.
  QDialog* ProgressDialog() const { return progress_; }
  QMessageBox* NotAnsweringBox() const { return box_; }

  // The window's outer height, frame and title bar included.
  int OuterHeight() const;

  // The frame assumed around the client area until the platform tells the real one: it makes the
  // restored bounds 275, 136, 735 x 497 for the 719-pixel-wide client area of the layout.
  static constexpr QMargins kDesignFrame{8, 31, 8, 8};

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // View.
  void SetLabel(LabelId label, const std::string& text) override;
  void SetCommandsEnabled(bool enabled) override;
  void Maximize() override;
  void SetListHeight(int height) override;
  void RowsReset() override;
  void RowsAppended(std::size_t first, std::size_t count) override;
  void RowChanged(std::size_t row) override;
  void ShowExportProgress(const ExportProgress& progress) override;
  void CloseExportProgress() override;
  void ShowNotAnswering(const tessaly::NotAnsweringBox& box) override;
  void CloseNotAnswering() override;
  void Close() override;
  void Quit() override;

  void Build();
  void AlignTop();

  QtLoop* loop_;
  SteadyClock clock_;
  std::unique_ptr<TMarcFun> logic_;
  BookListModel* model_;
  int listHeight_ = 0;
  QPointer<QDialog> progress_;
  QLabel* progressText_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPointer<QMessageBox> box_;
};

}  // namespace tessaly
