#include "appearance.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

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

bool InstallChineseTranslations() {
  // Owned by the application object, which keeps it for the rest of the run.
  auto* translator = new QTranslator(QCoreApplication::instance());
  // qt_zh_CN names the catalogues it is made of (qtbase_zh_CN, ...); they load with it.
  const QStringList folders = {
      QLibraryInfo::path(QLibraryInfo::TranslationsPath),
      QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
  for (const QString& folder : folders) {
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qt"),
                         QStringLiteral("_"), folder)) {
      return QCoreApplication::installTranslator(translator);
    }
  }
  delete translator;
  return false;
}

void InitResources() {
  static const bool done = (InitTessalyResource(), true);
  (void)done;
}

}  // namespace tessaly
