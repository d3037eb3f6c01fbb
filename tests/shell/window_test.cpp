// The Qt skin's wiring: the buttons reach the logic, the logic's rows, labels and boxes reach
// the widgets, an edit in the list reaches the rows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "booklistmodel.h"
#include "booklistview.h"
#include "fake_backend.h"
#include "fakeports.h"
#include "mainwindow.h"
#include "qt_gtest.h"
#include "qtports.h"
#include "spreadsheet_export.h"

using namespace tessaly;
using State = Presenter::State;

namespace {

// The window shown and active, the real records read into its list.
class ShownWithRows : public ::testing::Test {
 protected:
  void SetUp() override {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.Logic().Open(TESSALY_TEST_DATA "/realcn_lines.mrc");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Logic().CurrentState() == State::Idle; }));
  }
  FakeDialogs dialogs;
  MainWindow w{dialogs};
};

TEST(WindowTest, ReadThroughTheButtonAndEditACaption) {
  FakeDialogs dialogs;
  MainWindow w(dialogs);
  w.show();
  dialogs.openAnswers.push_back(TESSALY_TEST_DATA "/realcn_lines.mrc");
  QTest::mouseClick(w.Button(layout::Command::Open), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Logic().CurrentState() == State::Idle; }));
  const int rows = w.ListModel().rowCount();
  EXPECT_GT(rows, 0);
  EXPECT_EQ(w.Label(LabelId::RowCount)->text(), QStringLiteral("读入:%1 条").arg(rows));
  EXPECT_TRUE(w.Button(layout::Command::Open)->isEnabled());

  ASSERT_TRUE(
      w.ListModel().setData(w.ListModel().index(0, 0), QStringLiteral("新书名"), Qt::EditRole));
  EXPECT_EQ(w.Logic().Cell(0, 0), "新书名");

  QTest::mouseClick(w.Button(layout::Command::Clear), Qt::LeftButton);
  EXPECT_EQ(w.ListModel().rowCount(), 0);
}

// Ctrl+F, typing, F3 and Shift+F3 and Escape reach the find logic, whose row and label come back.
TEST_F(ShownWithRows, FindKeysReachTheLogic) {
  QTest::keyClick(w.List(), Qt::Key_F, Qt::ControlModifier);
  QWidget* box = w.Control("FindBox");
  ASSERT_TRUE(QTest::qWaitFor([&] { return box->hasFocus(); }));
  QTest::keyClicks(box, QStringLiteral("7-"));
  QLabel* place = w.Label(LabelId::FindPlace);
  const auto placeIs = [&](int k) {
    return QTest::qWaitFor(
        [&] { return place->text().startsWith(QStringLiteral("第 %1 / ").arg(k)); });
  };
  ASSERT_TRUE(placeIs(1)) << place->text().toStdString();
  const int first = w.List()->currentIndex().row();
  QTest::keyClick(box, Qt::Key_F3);
  ASSERT_TRUE(placeIs(2)) << place->text().toStdString();
  EXPECT_GT(w.List()->currentIndex().row(), first);
  QTest::keyClick(box, Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.List()->currentIndex().row() == first; }));
  QTest::keyClick(box, Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.List()->hasFocus(); }));
}

// The list's keys are a report list's: End and Home go to the last and first row, Left and Right
// leave the current cell in the title's column, so F2 still edits the title.
TEST_F(ShownWithRows, ListKeysMoveByRows) {
  BookListView* list = w.List();
  list->setFocus();
  list->setCurrentIndex(w.ListModel().index(1, 0));
  QTest::keyClick(list, Qt::Key_End);
  EXPECT_EQ(list->currentIndex().row(), w.ListModel().rowCount() - 1);
  QTest::keyClick(list, Qt::Key_Home);
  EXPECT_EQ(list->currentIndex().row(), 0);
  QTest::keyClick(list, Qt::Key_Right);
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(list->currentIndex(), w.ListModel().index(1, 0));
  QTest::keyClick(list, Qt::Key_F2);
  EXPECT_TRUE(QTest::qWaitFor([&] {
    QWidget* editor = QApplication::focusWidget();
    return qobject_cast<QLineEdit*>(editor) && list->isAncestorOf(editor);
  }));
}

// A box with buttons of its own says which one the user chose; Escape means the first.
TEST(WindowTest, ABoxTellsTheChosenButton) {
  QtDialogs dialogs;
  const Box box{"Tessaly", "text", "details", BoxIcon::None, {"确定", "第二"}};
  const auto answer = [&](auto act) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        timer.stop();
        act(*shown);
      }
    });
    timer.start(10);
    return dialogs.ShowBox(box);
  };
  EXPECT_EQ(answer([](QMessageBox& shown) {
              for (QAbstractButton* b : shown.buttons())
                if (b->text() == QStringLiteral("第二")) b->click();
            }),
            std::size_t{1});
  EXPECT_EQ(answer([](QMessageBox& shown) { QTest::keyClick(&shown, Qt::Key_Escape); }),
            std::size_t{0});
}

// A read waiting on a pipe's writer leaves the loop running, the commands unavailable.
TEST(WindowTest, AnswersWhileAPipeHoldsTheRead) {
  const QString fifo = QDir::temp().filePath(
      QStringLiteral("tessaly_window_test_%1.mrc").arg(QCoreApplication::applicationPid()));
  ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const std::shared_ptr<void> remove(nullptr, [&](void*) { QFile::remove(fifo); });
  FakeDialogs dialogs;
  MainWindow w(dialogs);
  w.show();
  w.Logic().Open(ToPath(fifo));
  QFile writer(fifo);
  ASSERT_TRUE(writer.open(QIODevice::WriteOnly));
  bool ran = false;
  QTimer::singleShot(0, &w, [&] { ran = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return ran; }));
  EXPECT_EQ(w.Logic().CurrentState(), State::Reading);
  EXPECT_FALSE(w.Button(layout::Command::Open)->isEnabled());
  QFile records(TESSALY_TEST_DATA "/realcn_lines.mrc");
  ASSERT_TRUE(records.open(QIODevice::ReadOnly));
  writer.write(records.readAll());
  writer.close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Logic().CurrentState() == State::Idle; }));
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_GT(w.ListModel().rowCount(), 0);
}

// The export's dialogs are the window's, and their buttons reach the logic.
TEST(WindowTest, ExportNotAnsweringGiveUp) {
  FakeDialogs dialogs;
  MainWindow w(dialogs);
  auto backend = std::make_unique<RecordingSpreadsheet>();
  RecordingSpreadsheet& sheet = *backend;
  SpreadsheetExport module(std::move(backend));
  w.Logic().SetExportModule(&module);
  const std::shared_ptr<void> detach(nullptr, [&](void*) { w.Logic().SetExportModule(nullptr); });
  w.Logic().SetExportTimings(
      {std::chrono::milliseconds(50), std::chrono::milliseconds(0), std::chrono::milliseconds(10)});
  w.show();
  dialogs.openAnswers.push_back(TESSALY_TEST_DATA "/realcn_lines.mrc");
  w.Logic().OpenWithDialog();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Logic().CurrentState() == State::Idle; }));
  sheet.HangAtCell(2, 1);
  QTest::mouseClick(w.Button(layout::Command::Export), Qt::LeftButton);
  EXPECT_FALSE(w.Button(layout::Command::Open)->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.ProgressDialog() != nullptr; }));
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.NotAnsweringBox() != nullptr; }));
  QTest::mouseClick(w.NotAnsweringBox()->findChild<QPushButton*>("giveUp"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Logic().CurrentState() == State::Idle; }));
  EXPECT_FALSE(w.ProgressDialog());
  EXPECT_TRUE(w.Button(layout::Command::Open)->isEnabled());
  EXPECT_EQ(dialogs.boxes.size(), std::size_t{1});
}

}  // namespace
