// The dialogs and message boxes the window shows, behind one small interface so that tests can
// answer them without a user.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

class QWidget;

namespace tessaly {

// The fixed application title: the caption of the program's own message boxes.
inline const QString kApplicationTitle = QStringLiteral("Tessaly");

class WindowDialogs {
 public:
  virtual ~WindowDialogs() = default;
  // The file-open dialog: starts in initialPath's folder (initialPath may name a file), offers
  // fileName, accepts a name that does not exist. The confirmed full path, or nothing on cancel.
  virtual std::optional<QString> OpenFile(QWidget* parent, const QString& initialPath,
                                          const QString& fileName) = 0;
  // "打开文件失败！", caption the application title, OK, no icon; details under "Show Details".
  virtual void ShowOpenFailed(QWidget* parent, const QString& details) = 0;
  // "NO excel ！", caption "错误", OK, no icon.
  virtual void ShowNoSpreadsheet(QWidget* parent) = 0;
  // The top-level failure display: caption the application title, error icon, OK.
  virtual void ShowFailure(const QString& text) = 0;
  // After an export: how many cells were cut to fit the spreadsheet's cell limit.
  virtual void ShowCellsCut(QWidget* parent, std::int64_t cells) = 0;
};

// The real dialogs.
class QtDialogs : public WindowDialogs {
 public:
  std::optional<QString> OpenFile(QWidget* parent, const QString& initialPath,
                                  const QString& fileName) override;
  void ShowOpenFailed(QWidget* parent, const QString& details) override;
  void ShowNoSpreadsheet(QWidget* parent) override;
  void ShowFailure(const QString& text) override;
  void ShowCellsCut(QWidget* parent, std::int64_t cells) override;
};

// The dialogs the program uses unless told otherwise (a QtDialogs).
WindowDialogs& DefaultDialogs();

}  // namespace tessaly
