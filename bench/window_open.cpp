// window_open: opens a record file through the real main window, offscreen, and reports how long
// the open command took, how long until the list was laid out and painted, and the peak memory.
//   window_open FILE
// Compare with `marcrows --quiet FILE` (the read path without a window) on the same file.
#include <sys/resource.h>

#include <QElapsedTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>

#include "booklistmodel.h"
#include "dialogs.h"
#include "failure.h"
#include "listview.h"
#include "marcfn.h"

namespace {

long long PeakRssBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<long long>(usage.ru_maxrss) * 1024;
}

// Confirms the one file; reports a failure on stderr instead of a box.
class Answer : public tessaly::WindowDialogs {
 public:
  explicit Answer(QString path) : path_(std::move(path)) {}
  std::optional<QString> OpenFile(QWidget*, const QString&, const QString&) override {
    return path_;
  }
  void ShowOpenFailed(QWidget*, const QString& details) override {
    std::fprintf(stderr, "open failed: %s\n", qPrintable(details));
    failed = true;
  }
  void ShowNoSpreadsheet(QWidget*) override {}
  void ShowFailure(const QString& text) override {
    std::fprintf(stderr, "failure: %s\n", qPrintable(text));
    failed = true;
  }
  bool failed = false;

 private:
  QString path_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: window_open FILE\n", stderr);
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  tessaly::TessalyApplication app(argc, argv);
  Answer answer(QString::fromLocal8Bit(argv[1]));
  app.SetDialogs(answer);
  tessaly::TMarcFun window;
  window.SetDialogs(answer);
  window.show();
  QCoreApplication::processEvents();

  QElapsedTimer timer;
  timer.start();
  window.Button1Click();
  const double read = timer.nsecsElapsed() / 1e9;
  // What the user waits for after the read: the list laid out and painted once.
  QCoreApplication::processEvents();
  window.ListView1->viewport()->repaint();
  const double shown = timer.nsecsElapsed() / 1e9;
  if (answer.failed) return 1;

  std::printf("rows %lld\nopen command %.3f s\nuntil painted %.3f s\npeak RSS %.1f MB\n",
              static_cast<long long>(window.ListModel().ItemCount()), read, shown,
              PeakRssBytes() / 1048576.0);
  return 0;
}
