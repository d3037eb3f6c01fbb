// Ending the program: the exit button ends the loop without Closed; closing the window runs
// Closed (which lets go of the last read's rows) and then ends the loop. Each test runs the real
// loop.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "fakeports.h"
#include "mainwindow.h"

using namespace tessaly;

namespace {

// A window that has read a file, so that its rows are kept.
void ReadFile(MainWindow& w, FakeDialogs& dialogs) {
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  dialogs.openAnswers.push_back(TESSALY_TEST_DATA "/cases_lines.mrc");
  w.Logic().OpenWithDialog();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Logic().LastRead() != nullptr; }));
}

// Runs the program's loop until it ends, or for 10 s at most (then exit code 3).
int RunLoop() {
  QTimer watchdog;
  watchdog.callOnTimeout([] { QCoreApplication::exit(3); });
  watchdog.start(10000);
  return QCoreApplication::exec();
}

TEST(WindowExitTest, ExitButtonQuitsWithoutClosed) {
  FakeDialogs dialogs;
  MainWindow w(dialogs);
  ASSERT_NO_FATAL_FAILURE(ReadFile(w, dialogs));
  bool returnedFirst = false;
  QTimer::singleShot(0, &w, [&] {
    QTest::mouseClick(w.Button(layout::Command::Quit), Qt::LeftButton);
    returnedFirst = true;  // the click returned before the loop ended
  });
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_TRUE(returnedFirst);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.Logic().LastRead());
}

TEST(WindowExitTest, CloseWindowRunsClosedAndQuits) {
  FakeDialogs dialogs;
  MainWindow w(dialogs);
  ASSERT_NO_FATAL_FAILURE(ReadFile(w, dialogs));
  QTimer::singleShot(0, &w, [&] { w.close(); });
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.Logic().LastRead());
}

}  // namespace
