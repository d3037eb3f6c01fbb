// The Qt skin's wiring: the buttons reach the logic, the logic's rows, labels and boxes reach
// the widgets, an edit in the list reaches the rows.
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QLabel>
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
#include "marc2excel.h"
#include "qtestmain.h"
#include "qtports.h"

using namespace tessaly;
using State = Presenter::State;

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void readThroughTheButtonAndEditACaption() {
    FakeDialogs dialogs;
    MainWindow w(dialogs);
    w.show();
    dialogs.openAnswers.push_back(TESSALY_TEST_DATA "/realcn_lines.mrc");
    QTest::mouseClick(w.Button(layout::Command::Open), Qt::LeftButton);
    QTRY_COMPARE(w.Logic().CurrentState(), State::Idle);
    const int rows = w.ListModel().rowCount();
    QVERIFY(rows > 0);
    QCOMPARE(w.Label(LabelId::RowCount)->text(), QStringLiteral("读入:%1 条").arg(rows));
    QVERIFY(w.Button(layout::Command::Open)->isEnabled());

    QVERIFY(
        w.ListModel().setData(w.ListModel().index(0, 0), QStringLiteral("新书名"), Qt::EditRole));
    QCOMPARE(QString::fromStdString(w.Logic().Cell(0, 0)), QStringLiteral("新书名"));

    QTest::mouseClick(w.Button(layout::Command::Clear), Qt::LeftButton);
    QCOMPARE(w.ListModel().rowCount(), 0);
  }

  // A read waiting on a pipe's writer leaves the loop running, the commands unavailable.
  void answersWhileAPipeHoldsTheRead() {
    const QString fifo = QDir::temp().filePath(
        QStringLiteral("tessaly_window_test_%1.mrc").arg(QCoreApplication::applicationPid()));
    QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const std::shared_ptr<void> remove(nullptr, [&](void*) { QFile::remove(fifo); });
    FakeDialogs dialogs;
    MainWindow w(dialogs);
    w.show();
    w.Logic().Open(ToPath(fifo));
    QFile writer(fifo);
    QVERIFY(writer.open(QIODevice::WriteOnly));
    bool ran = false;
    QTimer::singleShot(0, &w, [&] { ran = true; });
    QTRY_VERIFY(ran);
    QCOMPARE(w.Logic().CurrentState(), State::Reading);
    QVERIFY(!w.Button(layout::Command::Open)->isEnabled());
    QFile records(TESSALY_TEST_DATA "/realcn_lines.mrc");
    QVERIFY(records.open(QIODevice::ReadOnly));
    writer.write(records.readAll());
    writer.close();
    QTRY_COMPARE(w.Logic().CurrentState(), State::Idle);
    QVERIFY(dialogs.boxes.empty());
    QVERIFY(w.ListModel().rowCount() > 0);
  }

  // The export's dialogs are the window's, and their buttons reach the logic.
  void exportNotAnsweringGiveUp() {
    FakeDialogs dialogs;
    MainWindow w(dialogs);
    auto backend = std::make_unique<RecordingSpreadsheet>();
    RecordingSpreadsheet& sheet = *backend;
    TMarc2ExcelFm module(std::move(backend));
    w.Logic().SetExportModule(&module);
    w.Logic().SetExportTimings({std::chrono::milliseconds(50), std::chrono::milliseconds(0),
                                std::chrono::milliseconds(10)});
    w.show();
    dialogs.openAnswers.push_back(TESSALY_TEST_DATA "/realcn_lines.mrc");
    w.Logic().OpenWithDialog();
    QTRY_COMPARE(w.Logic().CurrentState(), State::Idle);
    sheet.HangAtCell(2, 1);
    QTest::mouseClick(w.Button(layout::Command::Export), Qt::LeftButton);
    QVERIFY(!w.Button(layout::Command::Open)->isEnabled());
    QTRY_VERIFY(w.ProgressDialog());
    QTRY_VERIFY(w.NotAnsweringBox());
    QTest::mouseClick(w.NotAnsweringBox()->findChild<QPushButton*>("giveUp"), Qt::LeftButton);
    QTRY_COMPARE(w.Logic().CurrentState(), State::Idle);
    QVERIFY(!w.ProgressDialog());
    QVERIFY(w.Button(layout::Command::Open)->isEnabled());
    QCOMPARE(dialogs.boxes.size(), std::size_t{1});
    w.Logic().SetExportModule(nullptr);
  }
};

TESSALY_QTEST_MAIN(WindowTest)
#include "window_test.moc"
