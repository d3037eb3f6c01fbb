// The main window exporting into a real headless LibreOffice that the test starts: an office that
// stops answering (SIGSTOP on its process group) brings the box within the time limit while the
// window goes on answering; giving up ends the export, and once the office goes on the next
// export writes every row. Cancelling midway keeps the rows written. Time limits are injected.
// The test reads the office back over connections of its own that it drops again before the
// window exports: two bridges to one office in one process share their proxies, so a call of the
// export could otherwise travel over the test's connection, which giving up does not drop.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "calc.h"
#include "calc_readback.h"
#include "fakeports.h"
#include "mainwindow.h"
#include "marc2excel.h"
#include "test_office.h"

using namespace std::chrono_literals;

namespace tessaly {
namespace {

using testing::Doc;
using testing::TestOffice;

class CalcWindowTest : public ::testing::Test {
 protected:
  // One office and one export module for the whole suite: the office starts once.
  static inline std::unique_ptr<TestOffice> office;
  static inline std::unique_ptr<TMarc2ExcelFm> module;
  std::unique_ptr<MainWindow> w;
  QTemporaryDir dir;
  FakeDialogs dialogs;

  // Reads a file of at least rows records (the real ones, again and again) into the list.
  void Fill(int rows) {
    std::ifstream in(TESSALY_TEST_DATA "/realcn_lines.mrc", std::ios::binary);
    const std::string records{std::istreambuf_iterator<char>(in), {}};
    const std::string path = dir.filePath("many.mrc").toStdString();
    {
      std::ofstream out(path, std::ios::binary);
      const auto perCopy = std::count(records.begin(), records.end(), '\n');
      for (long n = 0; n < rows; n += perCopy) out << records;
    }
    w->Logic().Open(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Idle(); }, 60'000));
    ASSERT_GE(w->Logic().RowCount(), static_cast<std::size_t>(rows));
  }

  // The document's rows below the header: how many there are, each checked to be the list's.
  int CheckedRows(const Doc& doc) {
    const testing::Grid grid = testing::ReadFirstSheet(doc);
    if (grid.empty() || grid[0].empty() || grid[0][0].text != "名称") return -1;
    for (std::size_t r = 1; r < grid.size(); ++r) {
      if (grid[r].size() != marc::CellCount) return -1;
      for (std::size_t c = 0; c < grid[r].size(); ++c) {
        if (grid[r][c].text != w->Logic().Cell(r - 1, c)) return -1;
      }
    }
    return static_cast<int>(grid.size()) - 1;
  }

  // The rows of every document the office holds, each checked (-1: not the list's rows, or
  // Calc left not fitting its row heights).
  std::vector<int> RowsPerDocument() {
    std::vector<int> rows;
    for (const Doc& doc : testing::CalcDocuments(testing::Connect(office->Pipe()))) {
      bool fitted = false;
      com::sun::star::uno::Reference<com::sun::star::beans::XPropertySet>(
          doc, com::sun::star::uno::UNO_QUERY_THROW)
          ->getPropertyValue("IsAdjustHeightEnabled") >>= fitted;
      rows.push_back(fitted ? CheckedRows(doc) : -1);
    }
    return rows;
  }

  bool Idle() const { return w->Logic().CurrentState() == Presenter::State::Idle; }
  // Rows the export has written, as its progress dialog tells them.
  long RowsWritten() const {
    auto* dialog = w->ProgressDialog();
    auto* label = dialog ? dialog->findChild<QLabel*>() : nullptr;
    if (!label) return 0;
    const QString text = label->text();
    const auto from = text.indexOf(QStringLiteral("已写入 ")),
               to = text.indexOf(QStringLiteral(" /"));
    return from < 0 || to < 0 ? 0 : text.mid(from + 4, to - from - 4).toLong();
  }

  void CloseAllDocuments() {
    for (const Doc& doc : testing::CalcDocuments(testing::Connect(office->Pipe()))) {
      com::sun::star::uno::Reference<com::sun::star::util::XCloseable>(
          doc, com::sun::star::uno::UNO_QUERY_THROW)
          ->close(true);
    }
  }

  static void SetUpTestSuite() {
    office = std::make_unique<TestOffice>(testing::UniquePipeName("window"));
    testing::Connect(office->Pipe());
    CalcOptions options;
    options.pipe_name = office->Pipe();
    options.start_office = false;
    options.block_rows = 200;
    module = std::make_unique<TMarc2ExcelFm>(MakeLibreOfficeCalc(options));
  }
  static void TearDownTestSuite() {
    module.reset();
    office.reset();
  }
  void SetUp() override {
    CloseAllDocuments();
    w = std::make_unique<MainWindow>(dialogs);
    w->Logic().SetExportModule(module.get());
    w->show();
  }
  void TearDown() override {
    office->Signal(SIGCONT);
    w.reset();
  }
};

TEST_F(CalcWindowTest, StoppedOfficeGiveUpThenEveryRowArrives) {
  w->Logic().SetExportTimings({300ms, 0ms});
  const int rows = 20000;
  ASSERT_NO_FATAL_FAILURE(Fill(rows));
  QTest::mouseClick(w->Button(layout::Command::Export), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return RowsWritten() >= 1000; }, 60'000));
  office->Signal(SIGSTOP);

  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return w->NotAnsweringBox() && w->NotAnsweringBox()->isVisible(); }, 30'000));
  // The window's loop runs while the office is stopped: timers fire, clicks are refused.
  bool ticked = false;
  QTimer::singleShot(0, w.get(), [&] { ticked = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticked; }));
  EXPECT_FALSE(w->Button(layout::Command::Clear)->isEnabled());

  QTest::mouseClick(w->NotAnsweringBox()->findChild<QPushButton*>("giveUp"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Idle(); }, 30'000));
  ASSERT_EQ(dialogs.boxes.size(), std::size_t{1});
  EXPECT_TRUE(dialogs.boxes[0].text.starts_with("电子表格没有响应")) << dialogs.boxes[0].text;
  EXPECT_TRUE(w->Button(layout::Command::Export)->isEnabled());

  office->Signal(SIGCONT);
  QTest::mouseClick(w->Button(layout::Command::Export), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Idle(); }, 120'000));
  EXPECT_EQ(dialogs.boxes.size(), std::size_t{1});
  // The document given up on stays with what reached it, its row heights given back; the new
  // one holds every row.
  const std::vector<int> documents = RowsPerDocument();
  ASSERT_EQ(documents.size(), std::size_t{2});
  EXPECT_EQ(std::count(documents.begin(), documents.end(), static_cast<int>(w->Logic().RowCount())),
            1);
  EXPECT_EQ(std::count(documents.begin(), documents.end(), -1), 0);
}

TEST_F(CalcWindowTest, CancelKeepsWhatWasWritten) {
  w->Logic().SetExportTimings({10s, 0ms});
  const int rows = 30000;
  ASSERT_NO_FATAL_FAILURE(Fill(rows));
  QTest::mouseClick(w->Button(layout::Command::Export), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return RowsWritten() >= 2000; }, 60'000));
  if (Idle()) GTEST_SKIP() << "the export ended before it could be cancelled";
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return w->ProgressDialog() && w->ProgressDialog()->isVisible(); }));
  QTest::mouseClick(w->ProgressDialog()->findChild<QPushButton*>("cancel"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Idle(); }, 30'000));
  EXPECT_TRUE(dialogs.boxes.empty());
  const std::vector<int> documents = RowsPerDocument();
  ASSERT_EQ(documents.size(), std::size_t{1});
  EXPECT_GE(documents[0], 2000);
  EXPECT_LT(documents[0], rows);
}

}  // namespace
}  // namespace tessaly
