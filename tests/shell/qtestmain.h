// Like QTEST_MAIN, but with the program's own application object and title.
#pragma once

#include <QTest>

#include "appearance.h"
#include "failure.h"
#include "usertexts.h"

#define TESSALY_QTEST_MAIN(TestObject)                                                    \
  int main(int argc, char** argv) {                                                       \
    tessaly::TessalyApplication app(argc, argv);                                          \
    tessaly::TessalyApplication::setApplicationName(                                      \
        QString::fromUtf8(tessaly::texts::kApplicationTitle.data()));                     \
    tessaly::InstallChineseTranslations();                                                \
    TestObject test;                                                                      \
    return QTest::qExec(&test, argc, argv);                                               \
  }
