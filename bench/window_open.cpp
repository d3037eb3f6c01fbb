// window_open: opens a record file through the real main window, offscreen, and reports how long
// the open command took, how long until the list was laid out and painted, the same after clearing
// and opening again (each open with its own peak memory, the second no higher than the first when
// nothing of the first read is held), how long a jump to the middle and to the end of the list
// takes to paint, and the whole run's peak memory. With --export-rows N it then exports the list's
// first N rows into a headless LibreOffice Calc of its own, as 生成Excel would, and reports how
// long that took.
//   window_open FILE [--export-rows N]
//   window_open FILE
// Compare with `marcrows --quiet FILE` (the read path without a window) on the same file.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "booklistmodel.h"
#include "booklistview.h"
#include "calc.h"
#include "failure.h"
#include "mainwindow.h"
#include "peak_rss.h"
#include "qtports.h"
#include "spreadsheet_export.h"
#include "test_office.h"

namespace {

// Confirms the one file; reports a box on stderr instead of showing it.
class Answer : public tessaly::Dialogs {
 public:
  explicit Answer(std::filesystem::path path) : path_(std::move(path)) {}
  std::optional<std::filesystem::path> OpenFile(const std::filesystem::path&,
                                                const std::filesystem::path&) override {
    return path_;
  }
  std::size_t ShowBox(const tessaly::Box& box) override {
    std::fprintf(stderr, "%s: %s %s\n", box.caption.c_str(), box.text.c_str(), box.details.c_str());
    failed = true;
    return 0;
  }
  std::optional<std::filesystem::path> SaveFile(const tessaly::SaveRequest&) override {
    return std::nullopt;
  }
  bool failed = false;

 private:
  std::filesystem::path path_;
};

// The list as the export sees it, cut to its first rows.
class FirstRows : public tessaly::ExportSource {
 public:
  FirstRows(const tessaly::ExportSource& list, std::int64_t rows) : list_(list), rows_(rows) {}
  int ColumnCount() const override { return list_.ColumnCount(); }
  std::string ColumnCaption(int column) const override { return list_.ColumnCaption(column); }
  std::int64_t RowCount() const override { return std::min(rows_, list_.RowCount()); }
  std::string Cell(std::int64_t row, int column) const override { return list_.Cell(row, column); }

 private:
  const tessaly::ExportSource& list_;
  std::int64_t rows_;
};

class NoUi : public tessaly::ExportUi {
 public:
  void ShowNoSpreadsheet(const std::string&) override { unreachable = true; }
  bool unreachable = false;
};

// Exports the first rows of the window's list into an office started for the purpose.
int ExportFirstRows(tessaly::MainWindow& window, std::int64_t rows) {
  tessaly::testing::TestOffice office(tessaly::testing::UniquePipeName("window-open"));
  tessaly::CalcOptions options;
  options.pipe_name = office.Pipe();
  options.start_office = false;
  tessaly::SpreadsheetExport module(tessaly::MakeLibreOfficeCalc(options));
  // Until the office answers, so that its start is not counted.
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    try {
      module.Application().ConnectApplication();
      module.Application().DisconnectApplication();
      break;
    } catch (const tessaly::ConnectError&) {
      if (waited.hasExpired(120'000)) {
        std::fprintf(stderr, "no office answers on %s\n", office.Pipe().c_str());
        return 1;
      }
      QThread::msleep(250);
    }
  }
  const FirstRows list(window.Logic().Books().ExportView(), rows);
  NoUi ui;
  QElapsedTimer timer;
  timer.start();
  tessaly::ExportList(module, list, ui);
  const double seconds = timer.nsecsElapsed() / 1e9;
  if (ui.unreachable) return 1;
  const double cells = static_cast<double>(list.RowCount() + 1) * list.ColumnCount();
  std::printf("export of the first %lld rows: %.2f s, %.0f cells/s\n",
              static_cast<long long>(list.RowCount()), seconds, cells / seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long long exportRows = 0;
  if (argc == 4 && std::strcmp(argv[2], "--export-rows") == 0) exportRows = std::atoll(argv[3]);
  if (argc != 2 && exportRows <= 0) {
    std::fputs("usage: window_open FILE [--export-rows N]\n", stderr);
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  tessaly::TessalyApplication app(argc, argv);
  Answer answer(argv[1]);
  tessaly::MainWindow window(answer);
  app.SetFailureDisplay([&] { window.Logic().ShowCurrentFailure(); });
  window.show();
  QCoreApplication::processEvents();

  QElapsedTimer timer;
  // The open command until the read has ended (on its worker, the window answering), then what
  // the user waits for after the read: the list laid out and painted once.
  auto open = [&](const char* what) {
    ResetPeakRss();
    timer.start();
    window.Logic().OpenWithDialog();
    // A loop that sleeps between events, as the program's own does: one that spins would take a
    // core from the decode threads.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (window.Logic().CurrentState() == tessaly::Presenter::State::Idle) loop.quit();
    });
    poll.start(5);
    loop.exec();
    const double read = timer.nsecsElapsed() / 1e9;
    QCoreApplication::processEvents();
    window.List()->viewport()->repaint();
    const double shown = timer.nsecsElapsed() / 1e9;
    std::printf(
        "%s: rows %lld, open command %.3f s, until painted %.3f s, peak RSS so far %.1f MB, peak "
        "of this open %.1f MB\n",
        what, static_cast<long long>(window.Logic().RowCount()), read, shown,
        PeakRssBytes() / 1048576.0, PeakRssSinceResetBytes() / 1048576.0);
  };
  open("open");
  if (answer.failed) return 1;
  timer.start();
  window.Logic().Clear();
  QCoreApplication::processEvents();
  std::printf("clear: %.3f s, resident after %.1f MB\n", timer.nsecsElapsed() / 1e9,
              RssBytes() / 1048576.0);
  open("open again");
  if (answer.failed) return 1;

  // Scrolling far: only the rows in view are converted, so a jump paints as fast at the end of
  // a million rows as at the top.
  for (const char* where : {"middle", "end"}) {
    const int rows = window.ListModel().rowCount();
    const int row = where[0] == 'm' ? rows / 2 : rows - 1;
    timer.start();
    window.List()->scrollTo(window.ListModel().index(row, 0));
    QCoreApplication::processEvents();
    window.List()->viewport()->repaint();
    std::printf("jump to the %s and paint: %.1f ms\n", where, timer.nsecsElapsed() / 1e6);
  }
  std::printf("peak RSS %.1f MB\n", PeakRssBytes() / 1048576.0);
  return exportRows > 0 ? ExportFirstRows(window, exportRows) : 0;
}
