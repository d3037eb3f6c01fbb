// Start-up: the application, the main window MarcFun, the export module Marc2ExcelFm, the loop.
#include <cstdio>
#include <string>

#include "appearance.h"
#include "display.h"
#include "failure.h"
#include "marc2excel.h"
#include "marcfn.h"

int main(int argc, char** argv) {
  std::string why;
  if (!tessaly::DisplayAvailable(why)) {
    std::fprintf(stderr, "tessaly: %s\n", why.c_str());
    return 1;
  }
  // On Windows the platform plugin enters the single-threaded COM apartment the export needs.
  tessaly::TessalyApplication app(argc, argv);
  // The application title; not a display name, which Qt would append to every window caption.
  tessaly::TessalyApplication::setApplicationName(QStringLiteral("Tessaly"));
  tessaly::TessalyApplication::setWindowIcon(tessaly::ApplicationIcon());
  tessaly::InstallChineseTranslations();

  tessaly::TMarcFun MarcFun;
  tessaly::TMarc2ExcelFm Marc2ExcelFm;
  MarcFun.SetExportModule(&Marc2ExcelFm);
  MarcFun.show();
  app.exec();
  // An export still running lets go of the spreadsheet before its module goes.
  MarcFun.SetExportModule(nullptr);
  // The module and the window are destroyed here, in that order, without FormClose.
  return 0;
}
