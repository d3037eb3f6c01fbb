// One record file holding the conformance cells goes through the read path once; the same
// characters come out of the list, marcrows and the recording spreadsheet (and, in the export
// suites, Calc and Excel).
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>

#include "booklistmodel.h"
#include "charset.h"
#include "conformance.h"
#include "fake_backend.h"
#include "fakeports.h"
#include "mainwindow.h"
#include "marc2excel.h"
#include "qtestmain.h"

using namespace tessaly;
using test::ConformanceCase;

class ConsistencyTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir;
  QString path;
  std::vector<ConformanceCase> cases = test::Gb18030Cases();
  std::unique_ptr<MainWindow> w;
  FakeDialogs dialogs;
  QStringList marcrowsLines;

  static QString Expected(const ConformanceCase& c) {
    return QString::fromUtf16(c.want.data(), static_cast<qsizetype>(c.want.size()));
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir.isValid());
    path = dir.filePath("conformance.mrc");
    std::ofstream(path.toStdString(), std::ios::binary) << test::ConformanceRecords();

    w = std::make_unique<MainWindow>(dialogs);
    dialogs.openAnswers.push_back(path.toStdString());
    w->Logic().OpenWithDialog();
    QTRY_COMPARE(w->Logic().CurrentState(), Presenter::State::Idle);
    QVERIFY(dialogs.boxes.empty());
    QCOMPARE(w->ListModel().rowCount(), static_cast<int>(cases.size()));

    QProcess marcrows;
    marcrows.start(TESSALY_MARCROWS, {path});
    QVERIFY(marcrows.waitForFinished());
    QCOMPARE(marcrows.exitCode(), 0);
    marcrowsLines = QString::fromUtf8(marcrows.readAllStandardOutput()).split('\n');
    QCOMPARE(marcrowsLines.size(), static_cast<qsizetype>(cases.size()) + 1);  // last line ends
  }
  void cleanupTestCase() { w.reset(); }

  // Four-byte sequences name the file GB18030 after the elapsed time.
  void label() {
    QVERIFY2(w->Label(LabelId::Elapsed)->text().endsWith("  GB18030"),
             qPrintable(w->Label(LabelId::Elapsed)->text()));
  }

  void cells_data() {
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < cases.size(); ++i)
      QTest::newRow(cases[i].name) << static_cast<int>(i);
  }
  void cells() {
    QFETCH(int, row);
    const QString want = Expected(cases[static_cast<std::size_t>(row)]);
    const BookListModel& model = w->ListModel();
    QCOMPARE(model.data(model.index(row, marc::Title), Qt::DisplayRole).toString(), want);
    QCOMPARE(model.data(model.index(row, marc::Author), Qt::DisplayRole).toString(), want);
    const QStringList printed = marcrowsLines[row].split('\t');
    QCOMPARE(printed.value(marc::Title), want);
    QCOMPARE(printed.value(marc::Author), want);
  }
  // 生成Excel hands the recording spreadsheet the same characters.
  void recordingExport() {
    auto owned = std::make_unique<RecordingSpreadsheet>();
    RecordingSpreadsheet& sheet = *owned;
    TMarc2ExcelFm module(std::move(owned));
    w->Logic().SetExportModule(&module);
    const std::shared_ptr<void> detach(nullptr,
                                       [&](void*) { w->Logic().SetExportModule(nullptr); });
    QTest::mouseClick(w->Button(layout::Command::Export), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Logic().CurrentState(), Presenter::State::Idle, 30'000);
    QCOMPARE(sheet.Workbooks().size(), std::size_t{1});
    const RecordingSpreadsheet::Sheet& cells = sheet.Workbooks()[0];
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const std::string want = marc::EncodeUtf16(cases[i].want, marc::TextEncoding::Utf8);
      const int row = static_cast<int>(i) + 2;
      QVERIFY2(cells.at({row, 1}) == want && cells.at({row, 2}) == want, cases[i].name);
    }
  }
};

TESSALY_QTEST_MAIN(ConsistencyTest)
#include "consistency_test.moc"
