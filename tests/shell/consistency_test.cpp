// One record file holding the conformance cells goes through the read path once; the same
// characters come out of the list, marcrows and the recording spreadsheet (and, in the export
// suites, Calc and Excel).
#include <gtest/gtest.h>

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
#include "qt_gtest.h"

using namespace tessaly;
using test::ConformanceCase;

namespace {

class ConsistencyTest : public testing::Test {
 protected:
  QTemporaryDir dir;
  QString path;
  std::vector<ConformanceCase> cases = test::Gb18030Cases();
  std::unique_ptr<MainWindow> w;
  FakeDialogs dialogs;
  QStringList marcrowsLines;

  static QString Expected(const ConformanceCase& c) {
    return QString::fromUtf16(c.want.data(), static_cast<qsizetype>(c.want.size()));
  }

  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("conformance.mrc");
    std::ofstream(path.toStdString(), std::ios::binary) << test::ConformanceRecords();

    w = std::make_unique<MainWindow>(dialogs);
    dialogs.openAnswers.push_back(path.toStdString());
    w->Logic().OpenWithDialog();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return w->Logic().CurrentState() == Presenter::State::Idle; }));
    ASSERT_TRUE(dialogs.boxes.empty());
    ASSERT_EQ(w->ListModel().rowCount(), static_cast<int>(cases.size()));

    QProcess marcrows;
    marcrows.start(TESSALY_MARCROWS, {path});
    ASSERT_TRUE(marcrows.waitForFinished());
    ASSERT_EQ(marcrows.exitCode(), 0);
    marcrowsLines = QString::fromUtf8(marcrows.readAllStandardOutput()).split('\n');
    // The last line ends too.
    ASSERT_EQ(marcrowsLines.size(), static_cast<qsizetype>(cases.size()) + 1);
  }
  void TearDown() override { w.reset(); }
};

// Four-byte sequences name the file GB18030 after the elapsed time.
TEST_F(ConsistencyTest, Label) {
  EXPECT_TRUE(w->Label(LabelId::Elapsed)->text().endsWith("  GB18030"))
      << w->Label(LabelId::Elapsed)->text().toStdString();
}

TEST_F(ConsistencyTest, Cells) {
  const BookListModel& model = w->ListModel();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const int row = static_cast<int>(i);
    const QString want = Expected(cases[i]);
    EXPECT_EQ(model.data(model.index(row, marc::Title), Qt::DisplayRole).toString(), want);
    EXPECT_EQ(model.data(model.index(row, marc::Author), Qt::DisplayRole).toString(), want);
    const QStringList printed = marcrowsLines[row].split('\t');
    EXPECT_EQ(printed.value(marc::Title), want);
    EXPECT_EQ(printed.value(marc::Author), want);
  }
}

// 生成Excel hands the recording spreadsheet the same characters.
TEST_F(ConsistencyTest, RecordingExport) {
  auto owned = std::make_unique<RecordingSpreadsheet>();
  RecordingSpreadsheet& sheet = *owned;
  TMarc2ExcelFm module(std::move(owned));
  w->Logic().SetExportModule(&module);
  const std::shared_ptr<void> detach(nullptr, [&](void*) { w->Logic().SetExportModule(nullptr); });
  QTest::mouseClick(w->Button(layout::Command::Export), Qt::LeftButton);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return w->Logic().CurrentState() == Presenter::State::Idle; }, 30'000));
  ASSERT_EQ(sheet.Workbooks().size(), std::size_t{1});
  const RecordingSpreadsheet::Sheet& cells = sheet.Workbooks()[0];
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string want = marc::EncodeUtf16(cases[i].want, marc::TextEncoding::Utf8);
    const int row = static_cast<int>(i) + 2;
    EXPECT_TRUE(cells.at({row, 1}) == want && cells.at({row, 2}) == want) << cases[i].name;
  }
}

}  // namespace
