// Ending the program: the exit button ends the loop without Closed; closing the window runs
// Closed (which lets go of the last read's rows) and then ends the loop. Each test runs the real
// loop.
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "fakeports.h"
#include "mainwindow.h"
#include "qtestmain.h"

using namespace tessaly;

class WindowExitTest : public QObject {
  Q_OBJECT

  // A window that has read a file, so that its rows are kept.
  void ReadFile(MainWindow& w, FakeDialogs& dialogs) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    dialogs.openAnswers.push_back(TESSALY_TEST_DATA "/cases_lines.mrc");
    w.Logic().OpenWithDialog();
    QTRY_VERIFY(w.Logic().LastRead());
  }

 private slots:
  void exitButton_quitsWithoutClosed() {
    FakeDialogs dialogs;
    MainWindow w(dialogs);
    ReadFile(w, dialogs);
    bool returnedFirst = false;
    QTimer::singleShot(0, &w, [&] {
      QTest::mouseClick(w.Button(layout::Command::Quit), Qt::LeftButton);
      returnedFirst = true;  // the click returned before the loop ended
    });
    QTimer watchdog;
    watchdog.callOnTimeout([] { QCoreApplication::exit(3); });
    watchdog.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(returnedFirst);
    QVERIFY(w.isVisible());
    QVERIFY(w.Logic().LastRead());
  }

  void closeWindow_runsClosedAndQuits() {
    FakeDialogs dialogs;
    MainWindow w(dialogs);
    ReadFile(w, dialogs);
    QTimer::singleShot(0, &w, [&] { w.close(); });
    QTimer watchdog;
    watchdog.callOnTimeout([] { QCoreApplication::exit(3); });
    watchdog.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!w.isVisible());
    QVERIFY(!w.Logic().LastRead());
  }
};

TESSALY_QTEST_MAIN(WindowExitTest)
#include "window_exit_test.moc"
