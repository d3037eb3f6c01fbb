#include "mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "appearance.h"
#include "booklistmodel.h"
#include "booklistview.h"
#include "layout.h"
#include "longtime.h"
#include "qtports.h"

namespace tessaly {

namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Sets a label's text; the label's width follows the text.
void SetLabelText(QLabel* label, const QString& text) {
  label->setText(text);
  label->resize(label->sizeHint().width(), label->height());
}

}  // namespace

MainWindow::MainWindow(Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), loop_(new QtLoop(this)) {
  View& view = *this;
  logic_ = std::make_unique<Presenter>(view, dialogs, *loop_, clock_);
  logic_->SetTimeFormat(UserLongTimeFormat());
  logic_->SetProgramPath(ToPath(QCoreApplication::applicationFilePath()));
  InitResources();
  Build();
  model_ = new BookListModel(*logic_, this);
  list_->setModel(model_);
  setAcceptDrops(true);
  Place();
}

MainWindow::~MainWindow() {
  // The widgets go after the presenter, and a list view being hidden on the way lays out its
  // rows again: it must no longer ask the presenter for them.
  list_->setModel(nullptr);
  // The logic lets go of a running export while the widgets and the loop are still here.
  logic_.reset();
}

void MainWindow::Build() {
  const int windowFont = layout::MainWindow().front().fontPixels;
  for (const layout::Control& c : layout::MainWindow()) {
    QWidget* parent = c.parent.empty() ? this : controls_.at(c.parent);
    QWidget* w = nullptr;
    switch (c.kind) {
      case layout::Kind::Window:
        // The layout gives the client size; the restored place is the outer top-left.
        resize(c.rect.width, c.rect.height);
        move(layout::kRestoredBounds.left + kDesignFrame.left(),
             layout::kRestoredBounds.top + kDesignFrame.top());
        setWindowTitle(Q(c.caption));
        setWindowIcon(ApplicationIcon());
        setFont(WindowFont(c.fontPixels));
        continue;
      case layout::Kind::Panel: {
        auto* frame = new QFrame(parent);
        frame->setFrameShape(QFrame::Panel);
        frame->setFrameShadow(QFrame::Raised);
        frame->setFocusPolicy(Qt::NoFocus);
        w = frame;
        break;
      }
      case layout::Kind::Button: {
        auto* button = new QPushButton(Q(c.caption), parent);
        const layout::Command command = c.command;
        connect(button, &QPushButton::clicked, this, [this, command] { logic_->Run(command); });
        w = button;
        break;
      }
      case layout::Kind::Label:
        w = new QLabel(Q(c.caption), parent);
        break;
      case layout::Kind::Edit:
        w = new QLineEdit(Q(c.caption), parent);
        break;
      case layout::Kind::FindBox:
        w = BuildFindBox(parent);
        static_cast<QLineEdit*>(w)->setPlaceholderText(Q(c.caption));
        break;
      case layout::Kind::ListView:
        w = list_ = new BookListView(parent);
        listHeight_ = c.rect.height;
        break;
    }
    w->setObjectName(Q(c.name));
    w->setGeometry(c.rect.left, c.rect.top, c.rect.width, c.rect.height);
    if (c.fontPixels != windowFont) w->setFont(WindowFont(c.fontPixels));
    w->setEnabled(c.enabled);
    w->setVisible(c.visible);
    controls_[c.name] = w;
  }
  const std::vector<const layout::Control*> chain = layout::TabChain();
  for (std::size_t i = 1; i < chain.size(); ++i)
    setTabOrder(controls_.at(chain[i - 1]->name), controls_.at(chain[i]->name));
}

QWidget* MainWindow::BuildFindBox(QWidget* parent) {
  auto* box = new QLineEdit(parent);
  connect(box, &QLineEdit::textEdited, this, [this](const QString& text) {
    logic_->Finding().TextChanged(text.toStdString(), SelectedRow());
  });
  connect(box, &QLineEdit::returnPressed, this, [this] { logic_->Finding().Next(SelectedRow()); });
  auto* back =
      new QShortcut(QKeySequence(Qt::Key_Escape), box, nullptr, nullptr, Qt::WidgetShortcut);
  connect(back, &QShortcut::activated, this, [this] { logic_->Finding().Leave(); });
  const auto key = [this](QKeySequence keys, auto run) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, run);
  };
  key(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { logic_->Finding().Focus(); });
  key(QKeySequence(Qt::Key_F3), [this] { logic_->Finding().Next(SelectedRow()); });
  key(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { logic_->Finding().Previous(SelectedRow()); });
  return box;
}

FindSession::Selection MainWindow::SelectedRow() const {
  const QModelIndexList rows = list_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return std::nullopt;
  return static_cast<std::size_t>(rows.constFirst().row());
}

QWidget* MainWindow::Control(std::string_view name) const {
  const auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

QPushButton* MainWindow::Button(layout::Command command) const {
  return static_cast<QPushButton*>(controls_.at(layout::Find(command).name));
}

QLabel* MainWindow::Label(LabelId label) const {
  return static_cast<QLabel*>(controls_.at(layout::Find(label).name));
}

void MainWindow::Place() {
  for (const layout::Place& p : layout::Places(width(), listHeight_)) {
    QWidget* w = controls_.at(p.control->name);
    if (p.control->kind == layout::Kind::Label) {
      w->move(p.inParent.left, p.inParent.top);  // its size follows its text
    } else {
      w->setGeometry(p.inParent.left, p.inParent.top, p.inParent.width, p.inParent.height);
    }
    w->setVisible(p.shown);
  }
}

int MainWindow::OuterHeight() const {
  QMargins frame = kDesignFrame;
  if (const QWindow* w = windowHandle(); w && w->isVisible()) frame = w->frameMargins();
  return height() + frame.top() + frame.bottom();
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) logic_->Shown();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  logic_->Resized(OuterHeight());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!logic_->CloseRequested()) {
    event->ignore();
    return;
  }
  logic_->Closed();
  event->accept();  // the main window: closing it ends the program
}

// The user changed the regional settings while the program runs (Windows announces it, Qt
// passes it on): the next elapsed time follows the new pattern.
void MainWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) logic_->SetTimeFormat(UserLongTimeFormat());
  QWidget::changeEvent(event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.constFirst().isLocalFile()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.constFirst().isLocalFile()) return;
  event->acceptProposedAction();
  const std::filesystem::path file = ToPath(urls.constFirst().toLocalFile());
  // After the drop has returned to the source: the open may show a box.
  QMetaObject::invokeMethod(
      this, [this, file] { logic_->Open(file); }, Qt::QueuedConnection);
}

void MainWindow::SetLabel(LabelId label, const std::string& text) {
  SetLabelText(Label(label), QString::fromStdString(text));
}

void MainWindow::SetCommandsEnabled(bool enabled) {
  for (const layout::Control& c : layout::MainWindow())
    if (c.command != layout::Command::None) Button(c.command)->setEnabled(enabled);
}

void MainWindow::Maximize() { setWindowState(windowState() | Qt::WindowMaximized); }

void MainWindow::SetListHeight(int height) {
  listHeight_ = height;
  Place();
}

void MainWindow::RowsReset() {
  model_->Reset();
  list_->RenewRowHeader();
}

void MainWindow::RowsAppended(std::size_t first, std::size_t count) {
  model_->Appended(first, count);
}

void MainWindow::RowChanged(std::size_t row) { model_->Changed(row); }

void MainWindow::SelectRow(std::size_t row) {
  const QModelIndex index = model_->index(static_cast<int>(row), 0);
  list_->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list_->scrollTo(index);
  list_->ShowHighlight(true);
}

void MainWindow::FocusFind() {
  auto* box = static_cast<QLineEdit*>(controls_.at(layout::Find(layout::Kind::FindBox).name));
  box->setFocus(Qt::ShortcutFocusReason);
  box->selectAll();
}

void MainWindow::FocusList() { list_->setFocus(Qt::OtherFocusReason); }

void MainWindow::ShowExportProgress(const ExportProgress& p) {
  if (!progress_) {
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("exportProgress"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Window-modal: the window's commands wait for the export, and clicks made meanwhile are
    // not delivered to them later.
    dialog->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(dialog);
    progressText_ = new QLabel(dialog);
    progressBar_ = new QProgressBar(dialog);
    progressBar_->setRange(0, 1000);
    progressBar_->setTextVisible(false);
    cancelButton_ = new QPushButton(dialog);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    layout->addWidget(progressText_);
    layout->addWidget(progressBar_);
    layout->addWidget(cancelButton_, 0, Qt::AlignRight);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { logic_->CancelExport(); });
    // Closing the dialog by its frame or Escape cancels too.
    connect(dialog, &QDialog::rejected, this, [this] { logic_->CancelExport(); });
    progress_ = dialog;
    dialog->show();
  }
  progress_->setWindowTitle(QString::fromStdString(p.title));
  progressText_->setText(QString::fromStdString(p.text));
  progressBar_->setValue(p.permille);
  cancelButton_->setText(QString::fromStdString(p.cancelCaption));
  cancelButton_->setEnabled(p.cancelEnabled);
}

void MainWindow::CloseExportProgress() {
  if (!progress_) return;
  progress_->disconnect(this);
  progress_->close();
  progress_ = nullptr;
}

void MainWindow::ShowNotAnswering(const tessaly::NotAnsweringBox& b) {
  CloseNotAnswering();
  QWidget* parent = progress_ ? static_cast<QWidget*>(progress_) : this;
  auto* box = new QMessageBox(QMessageBox::Warning, QString::fromStdString(b.caption),
                              QString::fromStdString(b.text), QMessageBox::NoButton, parent);
  box->setObjectName(QStringLiteral("notAnswering"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setInformativeText(QString::fromStdString(b.details));
  QPushButton* wait =
      box->addButton(QString::fromStdString(b.keepWaitingCaption), QMessageBox::RejectRole);
  wait->setObjectName(QStringLiteral("keepWaiting"));
  QPushButton* giveUp =
      box->addButton(QString::fromStdString(b.giveUpCaption), QMessageBox::DestructiveRole);
  giveUp->setObjectName(QStringLiteral("giveUp"));
  box->setDefaultButton(wait);
  box->setWindowModality(Qt::WindowModal);
  connect(box, &QMessageBox::buttonClicked, this, [this, giveUp](QAbstractButton* button) {
    if (button == giveUp) {
      logic_->GiveUp();
    } else {
      logic_->KeepWaiting();
    }
  });
  box_ = box;
  box->open();
}

void MainWindow::CloseNotAnswering() {
  if (!box_) return;
  box_->disconnect(this);
  box_->close();
  box_ = nullptr;
}

void MainWindow::Close() { close(); }

void MainWindow::Quit() {
  // Queued: the loop ends once the running handler has returned. The window is not closed, so
  // Closed does not run.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

}  // namespace tessaly
