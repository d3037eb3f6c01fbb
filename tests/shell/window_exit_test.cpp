// Ending the program: the exit button ends the loop without FormClose; closing the window runs
// FormClose (which releases LineList) and then ends the loop. Each test runs the real loop.
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "fakedialogs.h"
#include "marcfn.h"

using namespace tessaly;

class WindowExitTest : public QObject {
  Q_OBJECT

  // A window that has read a file, so that LineList exists.
  void ReadFile(TMarcFun& w, FakeDialogs& dialogs) {
    w.SetDialogs(dialogs);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    dialogs.openAnswers.push_back(QStringLiteral(TESSALY_TEST_DATA "/cases_lines.mrc"));
    w.Button1Click();
    QVERIFY(w.Reader().LineList());
  }

 private slots:
  void exitButton_quitsWithoutFormClose() {
    FakeDialogs dialogs;
    TMarcFun w;
    ReadFile(w, dialogs);
    bool returnedFirst = false;
    QTimer::singleShot(0, &w, [&] {
      QTest::mouseClick(w.Button4, Qt::LeftButton);
      returnedFirst = true;  // the click returned before the loop ended
    });
    QTimer watchdog;
    watchdog.callOnTimeout([] { QCoreApplication::exit(3); });
    watchdog.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(returnedFirst);
    QVERIFY(w.isVisible());
    QVERIFY(w.Reader().LineList());
  }

  void closeWindow_runsFormCloseAndQuits() {
    FakeDialogs dialogs;
    TMarcFun w;
    ReadFile(w, dialogs);
    QTimer::singleShot(0, &w, [&] { w.close(); });
    QTimer watchdog;
    watchdog.callOnTimeout([] { QCoreApplication::exit(3); });
    watchdog.start(10000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!w.isVisible());
    QVERIFY(!w.Reader().LineList());
  }
};

TESSALY_QTEST_MAIN(WindowExitTest)
#include "window_exit_test.moc"
