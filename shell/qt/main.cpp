// Start-up: the application, the main window, the export module, the loop.
// A file named on the command line is opened as if confirmed in the open dialog.
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "appearance.h"
#include "display.h"
#include "failure.h"
#include "mainwindow.h"
#include "marc2excel.h"
#include "qtports.h"
#include "usertexts.h"

int main(int argc, char** argv) {
  std::string why;
  if (!tessaly::DisplayAvailable(why)) {
    std::fprintf(stderr, "tessaly: %s\n", why.c_str());
    return 1;
  }
  // On Windows the platform plugin enters the single-threaded COM apartment the export needs.
  tessaly::TessalyApplication app(argc, argv);
  // The application title; not a display name, which Qt would append to every window caption.
  tessaly::TessalyApplication::setApplicationName(
      QString::fromUtf8(tessaly::texts::kApplicationTitle.data()));
  tessaly::TessalyApplication::setWindowIcon(tessaly::ApplicationIcon());
  tessaly::InstallChineseTranslations();

  tessaly::QtDialogs dialogs;
  tessaly::MainWindow window(dialogs);
  app.SetFailureDisplay([&] { window.Logic().ShowCurrentFailure(); });
  tessaly::TMarc2ExcelFm Marc2ExcelFm;
  window.Logic().SetExportModule(&Marc2ExcelFm);
  window.show();
  // Qt has taken its own options out of argv; the first argument left names the file (on
  // Windows as Qt read it from the UTF-16 command line).
  if (argc > 1) {
#ifdef _WIN32
    const std::filesystem::path file = tessaly::ToPath(app.arguments().value(1));
#else
    const std::filesystem::path file(argv[1]);
#endif
    QTimer::singleShot(0, &window, [&window, file] { window.Logic().Open(file); });
  }
  app.exec();
  // An export still running lets go of the spreadsheet before its module goes.
  window.Logic().SetExportModule(nullptr);
  // The module and the window are destroyed here, in that order, without Closed.
  return 0;
}
