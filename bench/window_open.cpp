// window_open: opens a record file through the real main window, offscreen, and reports how long
// the open command took, how long until the list was laid out and painted, the same after clearing
// and opening again, how long a jump to the middle and to the end of the list takes to paint, and
// the peak memory.
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
  // The open command, then what the user waits for after the read: the list laid out and
  // painted once.
  auto open = [&](const char* what) {
    timer.start();
    window.Button1Click();
    const double read = timer.nsecsElapsed() / 1e9;
    QCoreApplication::processEvents();
    window.ListView1->viewport()->repaint();
    const double shown = timer.nsecsElapsed() / 1e9;
    std::printf("%s: rows %lld, open command %.3f s, until painted %.3f s\n", what,
                static_cast<long long>(window.ListModel().ItemCount()), read, shown);
  };
  open("open");
  if (answer.failed) return 1;
  timer.start();
  window.Button3Click();
  QCoreApplication::processEvents();
  std::printf("clear: %.3f s\n", timer.nsecsElapsed() / 1e9);
  open("open again");
  if (answer.failed) return 1;

  // Scrolling far: only the rows in view are converted, so a jump paints as fast at the end of
  // a million rows as at the top.
  for (const char* where : {"middle", "end"}) {
    const int rows = window.ListModel().rowCount();
    const int row = where[0] == 'm' ? rows / 2 : rows - 1;
    timer.start();
    window.ListView1->scrollTo(window.ListModel().index(row, 0));
    QCoreApplication::processEvents();
    window.ListView1->viewport()->repaint();
    std::printf("jump to the %s and paint: %.1f ms\n", where, timer.nsecsElapsed() / 1e6);
  }
  std::printf("peak RSS %.1f MB\n", PeakRssBytes() / 1048576.0);
  return 0;
}
