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
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <map>

#include "appearance.h"
#include "booklistmodel.h"
#include "layout.h"
#include "listview.h"
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

MarcFunWindow::MarcFunWindow(Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), loop_(new QtLoop(this)) {
  View& view = *this;
  logic_ = std::make_unique<TMarcFun>(view, dialogs, *loop_, clock_);
  logic_->SetTimeFormat(UserLongTimeFormat());
  logic_->SetProgramPath(ToPath(QCoreApplication::applicationFilePath()));
  InitResources();
  Build();
  model_ = new BookListModel(*logic_, this);
  ListView1->setModel(model_);

  connect(Button1, &QPushButton::clicked, this, [this] { logic_->Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { logic_->Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { logic_->Button3Click(); });
  connect(Button4, &QPushButton::clicked, this, [this] { logic_->Button4Click(); });
  connect(Button5, &QPushButton::clicked, this, [this] { logic_->Button5Click(); });
  setAcceptDrops(true);
  AlignTop();
}

MarcFunWindow::~MarcFunWindow() {
  // Hidden first: hiding lays the list out again, which asks the logic for cells.
  hide();
  // The logic lets go of a running export while the widgets and the loop are still here.
  logic_.reset();
}

void MarcFunWindow::Build() {
  std::map<std::string_view, QWidget*> made;
  std::map<std::string_view, std::multimap<int, QWidget*>> tabOrder;
  for (const layout::Control& c : layout::MainWindow()) {
    QWidget* parent = c.parent.empty() ? this : made.at(c.parent);
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
      case layout::Kind::Button:
        w = new QPushButton(Q(c.caption), parent);
        break;
      case layout::Kind::Label:
        w = new QLabel(Q(c.caption), parent);
        break;
      case layout::Kind::Edit:
        w = new QLineEdit(Q(c.caption), parent);
        break;
      case layout::Kind::Memo:
        w = new QPlainTextEdit(Q(c.caption), parent);
        break;
      case layout::Kind::ListView:
        w = new TListView(parent);
        listHeight_ = c.rect.height;
        break;
    }
    w->setObjectName(Q(c.name));
    w->setGeometry(c.rect.left, c.rect.top, c.rect.width, c.rect.height);
    if (c.fontPixels != layout::Find("MarcFun").fontPixels) w->setFont(WindowFont(c.fontPixels));
    w->setEnabled(c.enabled);
    w->setVisible(c.visible);
    if (c.tabOrder >= 0) tabOrder[c.parent].emplace(c.tabOrder, w);
    made[c.name] = w;
  }
  // Keyboard order: the window's controls by their order, a panel's children in its place.
  std::vector<QWidget*> chain;
  for (const auto& [order, w] : tabOrder[""]) {
    const std::string name = w->objectName().toStdString();
    if (tabOrder.count(name) != 0) {
      for (const auto& [inner, child] : tabOrder[name]) chain.push_back(child);
    } else {
      chain.push_back(w);
    }
  }
  for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);

  const auto get = [&](const char* name) { return made.at(name); };
  Memo1 = static_cast<QPlainTextEdit*>(get("Memo1"));
  Panel1 = static_cast<QFrame*>(get("Panel1"));
  Button1 = static_cast<QPushButton*>(get("Button1"));
  Button2 = static_cast<QPushButton*>(get("Button2"));
  Button4 = static_cast<QPushButton*>(get("Button4"));
  ListView1 = static_cast<TListView*>(get("ListView1"));
  Label1 = static_cast<QLabel*>(get("Label1"));
  Label2 = static_cast<QLabel*>(get("Label2"));
  Button3 = static_cast<QPushButton*>(get("Button3"));
  Button5 = static_cast<QPushButton*>(get("Button5"));
  Panel2 = static_cast<QFrame*>(get("Panel2"));
  Edit1 = static_cast<QLineEdit*>(get("Edit1"));
  // Drawn over Panel2's band.
  Edit1->raise();
}

int MarcFunWindow::OuterHeight() const {
  QMargins frame = kDesignFrame;
  if (const QWindow* w = windowHandle(); w && w->isVisible()) frame = w->frameMargins();
  return height() + frame.top() + frame.bottom();
}

void MarcFunWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) logic_->FormShow();
}

void MarcFunWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  logic_->FormResize(OuterHeight());
}

void MarcFunWindow::closeEvent(QCloseEvent* event) {
  if (!logic_->FormCloseQuery()) {
    event->ignore();
    return;
  }
  logic_->FormClose();
  event->accept();  // the main window: closing it ends the program
}

// The user changed the regional settings while the program runs (Windows announces it, Qt
// passes it on): the next elapsed time follows the new pattern.
void MarcFunWindow::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) logic_->SetTimeFormat(UserLongTimeFormat());
  QWidget::changeEvent(event);
}

void MarcFunWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.constFirst().isLocalFile()) event->acceptProposedAction();
}

void MarcFunWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.constFirst().isLocalFile()) return;
  event->acceptProposedAction();
  const std::filesystem::path file = ToPath(urls.constFirst().toLocalFile());
  // After the drop has returned to the source: the open may show a box.
  QMetaObject::invokeMethod(
      this, [this, file] { logic_->OpenFile(file); }, Qt::QueuedConnection);
}

void MarcFunWindow::AlignTop() {
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

void MarcFunWindow::SetLabel(LabelId label, const std::string& text) {
  SetLabelText(label == LabelId::Label1 ? Label1 : Label2, QString::fromStdString(text));
}

void MarcFunWindow::SetCommandsEnabled(bool enabled) {
  for (QPushButton* b : {Button1, Button5, Button3, Button4}) b->setEnabled(enabled);
}

void MarcFunWindow::Maximize() { setWindowState(windowState() | Qt::WindowMaximized); }

void MarcFunWindow::SetListHeight(int height) {
  listHeight_ = height;
  // A list of no height is simply not shown.
  ListView1->setVisible(height > 0);
  AlignTop();
}

void MarcFunWindow::RowsReset() { model_->Reset(); }

void MarcFunWindow::RowsAppended(std::size_t first, std::size_t count) {
  model_->Appended(first, count);
}

void MarcFunWindow::RowChanged(std::size_t row) { model_->Changed(row); }

void MarcFunWindow::ShowExportProgress(const ExportProgress& p) {
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
    connect(cancelButton_, &QPushButton::clicked, this, [this] { logic_->Cancel(); });
    // Closing the dialog by its frame or Escape cancels too.
    connect(dialog, &QDialog::rejected, this, [this] { logic_->Cancel(); });
    progress_ = dialog;
    dialog->show();
  }
  progress_->setWindowTitle(QString::fromStdString(p.title));
  progressText_->setText(QString::fromStdString(p.text));
  progressBar_->setValue(p.permille);
  cancelButton_->setText(QString::fromStdString(p.cancelCaption));
  cancelButton_->setEnabled(p.cancelEnabled);
}

void MarcFunWindow::CloseExportProgress() {
  if (!progress_) return;
  progress_->disconnect(this);
  progress_->close();
  progress_ = nullptr;
}

void MarcFunWindow::ShowNotAnswering(const tessaly::NotAnsweringBox& b) {
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

void MarcFunWindow::CloseNotAnswering() {
  if (!box_) return;
  box_->disconnect(this);
  box_->close();
  box_ = nullptr;
}

void MarcFunWindow::Close() { close(); }

void MarcFunWindow::Quit() {
  // Queued: the loop ends once the running handler has returned. The window is not closed, so
  // FormClose does not run.
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

}  // namespace tessaly
