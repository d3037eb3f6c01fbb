#include "qtports.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "usertexts.h"

namespace tessaly {

std::filesystem::path ToPath(const QString& name) {
#ifdef _WIN32
  return std::filesystem::path(name.toStdWString());
#else
  return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

QString FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
  return QString::fromStdWString(path.native());
#else
  return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

std::optional<std::filesystem::path> QtDialogs::OpenFile(const std::filesystem::path& initial,
                                                         const std::filesystem::path& fileName) {
  QFileDialog dialog;
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // one file, which need not exist
  dialog.setSizeGripEnabled(true);
  // The initial path names the program's own file: open in its folder.
  const QFileInfo start(FromPath(initial));
  dialog.setDirectory(start.isDir() ? start.filePath() : start.absolutePath());
  if (!fileName.empty()) dialog.selectFile(FromPath(fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return ToPath(dialog.selectedFiles().constFirst());
}

std::optional<std::filesystem::path> QtDialogs::SaveFile(const SaveRequest& request) {
  QFileDialog dialog;
  dialog.setAcceptMode(QFileDialog::AcceptSave);  // asks before replacing a file
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setSizeGripEnabled(true);
  dialog.setWindowTitle(QString::fromStdString(request.title));
  QStringList filters;
  if (!request.extension.empty()) {
    const QString extension = QString::fromStdString(request.extension);
    filters << QStringLiteral("%1 (*.%2)").arg(QString::fromStdString(request.typeName), extension);
    dialog.setDefaultSuffix(extension);
  }
  filters << QStringLiteral("%1 (*)").arg(
      QString::fromUtf8(texts::kAllFiles.data(), texts::kAllFiles.size()));
  dialog.setNameFilters(filters);
  const QFileInfo suggested(FromPath(request.suggested));
  dialog.setDirectory(suggested.absolutePath());
  dialog.selectFile(suggested.fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return ToPath(dialog.selectedFiles().constFirst());
}

std::size_t QtDialogs::ShowBox(const Box& box) {
  static constexpr QMessageBox::Icon kIcons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                                 QMessageBox::Warning, QMessageBox::Critical};
  QMessageBox message(kIcons[static_cast<int>(box.icon)], QString::fromStdString(box.caption),
                      QString::fromStdString(box.text));
  std::vector<QAbstractButton*> buttons;
  for (const std::string& caption : box.buttons) {
    buttons.push_back(
        message.addButton(QString::fromStdString(caption),
                          buttons.empty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
  }
  if (buttons.empty()) {
    message.setStandardButtons(QMessageBox::Ok);
  } else {
    // Enter, Escape and the frame's close all mean the first.
    message.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
    message.setEscapeButton(buttons.front());
  }
  message.setWindowModality(Qt::ApplicationModal);
  if (!box.details.empty()) message.setDetailedText(QString::fromStdString(box.details));
  message.exec();
  const auto chosen = std::ranges::find(buttons, message.clickedButton());
  return chosen == buttons.end() ? 0 : static_cast<std::size_t>(chosen - buttons.begin());
}

QtLoop::QtLoop(QObject* parent) : QObject(parent), timer_(new QTimer(this)) {
  connect(timer_, &QTimer::timeout, this, [this] {
    // The tick may stop or replace itself.
    const std::function<void()> tick = tick_;
    if (tick) tick();
  });
}

void QtLoop::Post(std::function<void()> fn) {
  // Dropped unrun once this object is gone.
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void QtLoop::StartTick(std::chrono::milliseconds period, std::function<void()> tick) {
  tick_ = std::move(tick);
  timer_->start(period);
}

void QtLoop::StopTick() {
  timer_->stop();
  tick_ = nullptr;
}

}  // namespace tessaly
