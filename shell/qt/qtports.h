// The ports of the window's logic over Qt: the dialogs, the loop, file names.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>

#include "ports.h"

class QTimer;

namespace tessaly {

// A name as Qt spells it and as the logic takes it (UTF-16 on Windows, bytes on Linux).
std::filesystem::path ToPath(const QString& name);
QString FromPath(const std::filesystem::path& path);

class QtDialogs : public Dialogs {
 public:
  std::optional<std::filesystem::path> OpenFile(const std::filesystem::path& initial,
                                                const std::filesystem::path& fileName) override;
  // No parent: the box is centred on the screen rather than over the window.
  std::size_t ShowBox(const Box& box) override;
  std::optional<std::filesystem::path> SaveFile(const SaveRequest& request) override;
};

class QtLoop : public QObject, public UiLoop {
  Q_OBJECT

 public:
  explicit QtLoop(QObject* parent = nullptr);
  void Post(std::function<void()> fn) override;
  void StartTick(std::chrono::milliseconds period, std::function<void()> tick) override;
  void StopTick() override;

 private:
  QTimer* timer_;
  std::function<void()> tick_;
};

}  // namespace tessaly
