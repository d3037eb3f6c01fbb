// The main of the Qt skin's tests: GoogleTest under the program's own application object, title
// and translations, so that the widgets under test meet what they meet in the program.
#include <gtest/gtest.h>

#include "appearance.h"
#include "failure.h"
#include "usertexts.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  tessaly::TessalyApplication app(argc, argv);
  tessaly::TessalyApplication::setApplicationName(
      QString::fromUtf8(tessaly::texts::kApplicationTitle.data()));
  tessaly::InstallChineseTranslations();
  return RUN_ALL_TESTS();
}
