// Dialog answers for the window tests, and the test main that installs the application object.
#pragma once

#include <QStringList>
#include <QTest>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "appearance.h"
#include "dialogs.h"
#include "failure.h"

namespace tessaly {

class FakeDialogs : public WindowDialogs {
 public:
  struct OpenCall {
    QString initialPath;
    QString fileName;
  };

  // Answers for the open dialog, taken in order; nothing left means cancel.
  std::deque<std::optional<QString>> openAnswers;
  std::vector<OpenCall> openCalls;
  QStringList openFailedDetails;
  int noSpreadsheet = 0;
  QStringList failures;
  std::vector<std::int64_t> cellsCut;
  // Runs while the "open failed" box would be up, to look at the window at that moment.
  std::function<void()> whileOpenFailedShown;

  std::optional<QString> OpenFile(QWidget*, const QString& initialPath,
                                  const QString& fileName) override {
    openCalls.push_back({initialPath, fileName});
    if (openAnswers.empty()) return std::nullopt;
    const QString answer = openAnswers.front().value_or(QString());
    const bool confirmed = openAnswers.front().has_value();
    openAnswers.pop_front();
    if (!confirmed) return std::nullopt;
    return answer;
  }
  void ShowOpenFailed(QWidget*, const QString& details) override {
    openFailedDetails << details;
    if (whileOpenFailedShown) whileOpenFailedShown();
  }
  void ShowNoSpreadsheet(QWidget*) override { ++noSpreadsheet; }
  void ShowFailure(const QString& text) override { failures << text; }
  void ShowCellsCut(QWidget*, std::int64_t cells) override { cellsCut.push_back(cells); }
};

}  // namespace tessaly

// Like QTEST_MAIN, but with the program's own application object and title.
#define TESSALY_QTEST_MAIN(TestObject)                                           \
  int main(int argc, char** argv) {                                              \
    tessaly::TessalyApplication app(argc, argv);                                 \
    tessaly::TessalyApplication::setApplicationName(tessaly::kApplicationTitle); \
    tessaly::InstallChineseTranslations();                                       \
    TestObject test;                                                             \
    return QTest::qExec(&test, argc, argv);                                      \
  }
