// Ending the program: the exit button ends the loop without FormClose; closing the window runs
// FormClose (which releases LineList) and then ends the loop. Each test runs the real loop.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "fakeports.h"
#include "mainwindow.h"

using namespace tessaly;

namespace {

// A window that has read a file, so that LineList exists.
void ReadFile(MarcFunWindow& w, FakeDialogs& dialogs) {
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  dialogs.openAnswers.push_back(TESSALY_TEST_DATA "/cases_lines.mrc");
  w.Logic().Button1Click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Logic().LineList() != nullptr; }));
}

// Runs the program's loop until it ends, or for 10 s at most (then exit code 3).
int RunLoop() {
  QTimer watchdog;
  watchdog.callOnTimeout([] { QCoreApplication::exit(3); });
  watchdog.start(10000);
  return QCoreApplication::exec();
}

TEST(WindowExitTest, ExitButtonQuitsWithoutFormClose) {
  FakeDialogs dialogs;
  MarcFunWindow w(dialogs);
  ASSERT_NO_FATAL_FAILURE(ReadFile(w, dialogs));
  bool returnedFirst = false;
  QTimer::singleShot(0, &w, [&] {
    QTest::mouseClick(w.Button4, Qt::LeftButton);
    returnedFirst = true;  // the click returned before the loop ended
  });
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_TRUE(returnedFirst);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.Logic().LineList());
}

TEST(WindowExitTest, CloseWindowRunsFormCloseAndQuits) {
  FakeDialogs dialogs;
  MarcFunWindow w(dialogs);
  ASSERT_NO_FATAL_FAILURE(ReadFile(w, dialogs));
  QTimer::singleShot(0, &w, [&] { w.close(); });
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.Logic().LineList());
}

}  // namespace
