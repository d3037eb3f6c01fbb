#include "appearance.h"

#include <QFontDatabase>
#include <QStringList>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void InitTessalyResource() { Q_INIT_RESOURCE(tessaly); }

namespace tessaly {

QFont WindowFont(int pixelSize) {
  // SimSun is 宋体's English name; the two free faces carry bitmaps drawn for 12 to 16 pixels.
  static const QStringList kFaces = {QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                     QStringLiteral("AR PL UMing CN"),
                                     QStringLiteral("WenQuanYi Zen Hei Sharp")};
  QFont font;
  for (const QString& face : kFaces) {
    if (QFontDatabase::hasFamily(face)) {
      font.setFamily(face);
      break;
    }
  }
  font.setPixelSize(pixelSize);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

QIcon ApplicationIcon() {
  InitResources();
  return QIcon(QStringLiteral(":/tessaly.png"));
}

void InitResources() {
  static const bool done = (InitTessalyResource(), true);
  (void)done;
}

}  // namespace tessaly
