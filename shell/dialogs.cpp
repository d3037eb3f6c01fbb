#include "dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace tessaly {

namespace {

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
             const QString& details = {}) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setWindowModality(Qt::ApplicationModal);
  if (!details.isEmpty()) box.setDetailedText(details);
  box.exec();
}

}  // namespace

std::optional<QString> QtDialogs::OpenFile(QWidget* parent, const QString& initialPath,
                                           const QString& fileName) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // one file, which need not exist
  dialog.setSizeGripEnabled(true);
  // The initial path names the program's own file: open in its folder.
  const QFileInfo initial(initialPath);
  dialog.setDirectory(initial.isDir() ? initialPath : initial.absolutePath());
  if (!fileName.isEmpty()) dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

void QtDialogs::ShowOpenFailed(QWidget*, const QString& details) {
  // No parent: the box is centred on the screen rather than over the window.
  ShowBox(nullptr, QMessageBox::NoIcon, kApplicationTitle, QStringLiteral("打开文件失败！"),
          details);
}

void QtDialogs::ShowNoSpreadsheet(QWidget* parent) {
  ShowBox(parent, QMessageBox::NoIcon, QStringLiteral("错误"), QStringLiteral("NO excel ！"));
}

void QtDialogs::ShowFailure(const QString& text) {
  ShowBox(nullptr, QMessageBox::Critical, kApplicationTitle, text);
}

void QtDialogs::ShowCellsCut(QWidget* parent, std::int64_t cells) {
  ShowBox(
      parent, QMessageBox::Information, kApplicationTitle,
      QStringLiteral("有 %1 个单元格的文字超过了电子表格单元格的长度上限，已截断。").arg(cells));
}

WindowDialogs& DefaultDialogs() {
  static QtDialogs dialogs;
  return dialogs;
}

}  // namespace tessaly
