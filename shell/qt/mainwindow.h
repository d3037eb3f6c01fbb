// The main window's Qt skin: the widgets built from the layout table and placed where it says,
// showing what the presenter tells them and passing the user's events on.
#pragma once

#include <QDialog>
#include <QMargins>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "layout.h"
#include "ports.h"
#include "presenter.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tessaly {

class BookListModel;
class BookListView;
class QtLoop;

class MainWindow : public QWidget, private View {
  Q_OBJECT

 public:
  explicit MainWindow(Dialogs& dialogs, QWidget* parent = nullptr);
  ~MainWindow() override;

  Presenter& Logic() { return *logic_; }
  BookListModel& ListModel() { return *model_; }

  // The controls, owned by the window: by their layout name, the button of a command, a label.
  QWidget* Control(std::string_view name) const;
  QPushButton* Button(layout::Command command) const;
  QLabel* Label(LabelId label) const;
  BookListView* List() const { return list_; }

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
  // Moves the controls to their places for the window's width and the list's height.
  void Place();

  QtLoop* loop_;
  SteadyClock clock_;
  std::unique_ptr<Presenter> logic_;
  std::unordered_map<std::string_view, QWidget*> controls_;
  BookListView* list_ = nullptr;
  BookListModel* model_;
  int listHeight_ = 0;
  QPointer<QDialog> progress_;
  QLabel* progressText_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QPointer<QMessageBox> box_;
};

}  // namespace tessaly
