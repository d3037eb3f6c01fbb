// The main window offscreen: layout, the commands and their failure paths, the top-level
// failure display, and one real file read end to end.
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <memory>

#include "booklistmodel.h"
#include "codec.h"
#include "fake_backend.h"
#include "fakedialogs.h"
#include "listview.h"
#include "marcfn.h"

using namespace tessaly;

namespace {

QString Data(const char* name) { return QStringLiteral(TESSALY_TEST_DATA "/") + name; }

// Throws from its event handler, as a failing command would.
class Thrower : public QObject {
 public:
  std::string message;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error(message);
    return QObject::event(e);
  }
};

// The texts a label had each time it was painted.
class PaintRecorder : public QObject {
 public:
  explicit PaintRecorder(QLabel* label) { label->installEventFilter(this); }
  QStringList texts;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) texts << static_cast<QLabel*>(watched)->text();
    return false;
  }
};

// marcrows' escaping undone.
QString Unescape(const QString& s) {
  QString out;
  for (qsizetype i = 0; i < s.size(); ++i) {
    if (s[i] != u'\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const QChar c = s[++i];
    out += c == u't' ? QChar(u'\t') : c == u'r' ? QChar(u'\r') : c == u'n' ? QChar(u'\n') : c;
  }
  return out;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TMarcFun> w;
  FakeDialogs dialogs;

  // Answers the open dialog with path and runs the open command.
  void Open(const QString& path) {
    dialogs.openAnswers.push_back(path);
    w->Button1Click();
  }
  QString Cell(int row, int column) {
    const auto& m = w->ListModel();
    return m.data(m.index(row, column), Qt::DisplayRole).toString();
  }
  int Rows() { return w->ListModel().rowCount(); }

 private slots:
  void init() {
    dialogs = FakeDialogs();
    w = std::make_unique<TMarcFun>();
    w->SetDialogs(dialogs);
  }
  void cleanup() { w.reset(); }

  void controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("enabled");
    const QString win = "MarcFun";
    QTest::newRow("Panel1") << "Panel1" << win << QRect(0, 0, 719, 73) << "" << true << true;
    QTest::newRow("Button1") << "Button1"
                             << "Panel1" << QRect(16, 16, 105, 25) << "打开marc文件" << true
                             << true;
    QTest::newRow("Button5") << "Button5"
                             << "Panel1" << QRect(128, 16, 89, 25) << "生成Excel" << true << true;
    QTest::newRow("Button3") << "Button3"
                             << "Panel1" << QRect(224, 16, 89, 25) << "清除数据" << true << true;
    QTest::newRow("Button4") << "Button4"
                             << "Panel1" << QRect(320, 16, 75, 25) << "退出" << true << true;
    QTest::newRow("Button2") << "Button2"
                             << "Panel1" << QRect(400, 16, 105, 25) << "读取marc数据" << false
                             << false;
    QTest::newRow("Label1") << "Label1"
                            << "Panel1" << QRect(520, 24, 42, 13) << "Label1" << true << true;
    QTest::newRow("Label2") << "Label2"
                            << "Panel1" << QRect(520, 40, 42, 13) << "Label2" << true << true;
    QTest::newRow("Panel2") << "Panel2" << win << QRect(0, 73, 719, 48) << "" << true << true;
    QTest::newRow("Edit1") << "Edit1" << win << QRect(16, 80, 681, 27) << "" << true << true;
    QTest::newRow("ListView1") << "ListView1" << win << QRect(0, 121, 719, 265) << "" << true
                               << true;
    QTest::newRow("Memo1") << "Memo1" << win << QRect(0, 386, 719, 48) << "Memo1" << false << true;
  }
  // As laid out, before the window is first shown and resized.
  void controls() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(bool, visible);
    QFETCH(bool, enabled);
    auto* c = w->findChild<QWidget*>(name);
    QVERIFY(c);
    QCOMPARE(c->parentWidget()->objectName(), parent);
    QCOMPARE(c->geometry(), geometry);
    QCOMPARE(c->isVisibleTo(w.get()), visible);
    QCOMPARE(c->isEnabled(), enabled);
    if (auto* b = qobject_cast<QPushButton*>(c)) QCOMPARE(b->text(), caption);
    if (auto* l = qobject_cast<QLabel*>(c)) QCOMPARE(l->text(), caption);
    if (auto* m = qobject_cast<QPlainTextEdit*>(c)) QCOMPARE(m->toPlainText(), caption);
    // Every control but Edit1 has the window's 13-pixel font, drawn without antialiasing.
    QCOMPARE(c->font().pixelSize(), name == "Edit1" ? 19 : 13);
    QVERIFY(c->font().styleStrategy() & QFont::NoAntialias);
  }

  void window() {
    QCOMPARE(w->windowTitle(), QStringLiteral("禾朔Tessaly  1.0"));
    QCOMPARE(w->geometry().marginsAdded(TMarcFun::kDesignFrame), QRect(275, 136, 735, 497));
    QVERIFY(!w->windowIcon().isNull());
    QVERIFY(!w->Edit1->text().isEmpty());
    // Edit1 lies over Panel2's band, drawn above the panel.
    QVERIFY(w->children().indexOf(w->Edit1) > w->children().indexOf(w->Panel2));
    // The list: report style, whole rows, one at a time, no sorting.
    QCOMPARE(w->ListView1->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(w->ListView1->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!w->ListView1->isSortingEnabled());
    QVERIFY(!w->ListView1->rootIsDecorated());
    const QStringList captions = {"名称", "作者", "isbn", "价格",   "出版地", "出版社", "出版时间",
                                  "页数", "尺寸", "附件", "分类号", "分类名", "提要"};
    QCOMPARE(w->ListView1->header()->count(), 13);
    for (int c = 0; c < 13; ++c)
      QCOMPARE(w->ListModel().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
               captions[c]);
  }

  // Showing maximizes the window and empties both labels.
  void formShow() {
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTRY_VERIFY(w->isMaximized());
    QCOMPARE(w->Label1->text(), QString());
    QCOMPARE(w->Label2->text(), QString());
    QCOMPARE(w->ListView1->height(), w->OuterHeight() - 171);
    QCOMPARE(w->ListView1->width(), w->width());
  }

  void tabOrder() {
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->Button1->setFocus();
    QStringList order;
    for (int i = 0; i < 6; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      order << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(order,
             QStringList({"Button4", "Button3", "Button5", "ListView1", "Edit1", "Button1"}));
  }

  void formResize_data() {
    QTest::addColumn<int>("outerHeight");
    QTest::addColumn<int>("listHeight");
    QTest::newRow("restored size") << 497 << 326;
    QTest::newRow("taller") << 700 << 529;
    QTest::newRow("one pixel of list") << 172 << 1;
    QTest::newRow("no list") << 171 << 0;
    QTest::newRow("below no list") << 150 << 0;
  }
  // The list is 171 pixels shorter than the window's outer height, under the two panels.
  void formResize() {
    QFETCH(int, outerHeight);
    QFETCH(int, listHeight);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->setWindowState(Qt::WindowNoState);
    QTRY_VERIFY(!w->isMaximized());
    const int frame = w->OuterHeight() - w->height();
    w->resize(719, outerHeight - frame);
    QTRY_COMPARE(w->OuterHeight(), outerHeight);
    QCOMPARE(w->ListView1->isVisible(), listHeight > 0);
    if (listHeight > 0) QCOMPARE(w->ListView1->geometry(), QRect(0, 121, 719, listHeight));
    QCOMPARE(w->Panel1->geometry(), QRect(0, 0, 719, 73));
    QCOMPARE(w->Panel2->geometry(), QRect(0, 73, 719, 48));
    QCOMPARE(w->Edit1->geometry(), QRect(16, 80, 681, 27));
  }

  void columnWidths_data() {
    QTest::addColumn<int>("clientWidth");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("others");
    QTest::newRow("700") << 700 << 64 << 53;
    QTest::newRow("715") << 715 << 55 << 55;
    QTest::newRow("12") << 12 << 12 << 0;
  }
  // The list's client width is shared out: W div 13 each, W mod 13 more for column 1.
  void columnWidths() {
    QFETCH(int, clientWidth);
    QFETCH(int, first);
    QFETCH(int, others);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->setWindowState(Qt::WindowNoState);
    QTRY_VERIFY(!w->isMaximized());
    const int border = w->ListView1->width() - w->ListView1->viewport()->width();
    w->resize(clientWidth + border, 497);
    QTRY_COMPARE(w->ListView1->viewport()->width(), clientWidth);
    const QHeaderView* h = w->ListView1->header();
    QCOMPARE(h->sectionSize(0), first);
    for (int c = 1; c < 13; ++c) QCOMPARE(h->sectionSize(c), others);
  }

  // When rows bring a vertical scroll bar, the columns share the narrower client area, so no
  // horizontal scroll bar appears.
  void columnWidths_followScrollBar() {
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->setWindowState(Qt::WindowNoState);
    QTRY_VERIFY(!w->isMaximized());
    w->resize(719, 400);  // room for fewer rows than the file has
    const int before = w->ListView1->viewport()->width();
    Open(Data("realcn_lines.mrc"));
    QTRY_VERIFY(w->ListView1->verticalScrollBar()->isVisible());
    const int after = w->ListView1->viewport()->width();
    QVERIFY(after < before);
    QCOMPARE(w->ListView1->header()->length(), after);
  }

  // The elapsed time follows the user's pattern, its own texts in their places, and a locale
  // change while the program runs is taken up by the next read.
  void elapsed_followsPatternAndLocaleChange() {
    marc::LongTimeFormat pattern;
    pattern.leadingZeroHours = true;
    pattern.separator = "时";
    pattern.secondsSeparator = "分";
    pattern.suffix = "秒";
    w->SetTimeFormatSource([&pattern] { return pattern; });
    Open(Data("cases_lines.mrc"));
    QVERIFY2(
        QRegularExpression("^\\d\\d时\\d\\d分\\d\\d秒  GBK$").match(w->Label2->text()).hasMatch(),
        qPrintable(w->Label2->text()));
    pattern = {};
    pattern.separator = ".";
    QEvent change(QEvent::LocaleChange);
    QCoreApplication::sendEvent(w.get(), &change);
    Open(Data("cases_lines.mrc"));
    QVERIFY2(
        QRegularExpression("^\\d+\\.\\d\\d\\.\\d\\d  GBK$").match(w->Label2->text()).hasMatch(),
        qPrintable(w->Label2->text()));
  }

  void open_readsFileIntoList() {
    const QString path = Data("cases_lines.mrc");
    Open(path);
    QCOMPARE(Rows(), 3);
    QCOMPARE(Cell(0, 0), QStringLiteral("甲书"));
    QCOMPARE(Cell(1, 1), QStringLiteral("李四"));
    QCOMPARE(w->Label1->text(), QStringLiteral("读入:3 条"));
    QVERIFY2(
        QRegularExpression("^\\d+\\D\\d\\d\\D\\d\\d  GBK$").match(w->Label2->text()).hasMatch(),
        qPrintable(w->Label2->text()));
    // The label's width follows its text.
    QCOMPARE(w->Label1->width(), w->Label1->sizeHint().width());
    QVERIFY(!w->Button2->isEnabled());
    QVERIFY(!w->Button2->isVisible());
    QCOMPARE(QString::fromStdString(w->MarcFileName), path);
    QVERIFY(dialogs.openFailedDetails.isEmpty());
    QCOMPARE(dialogs.openCalls.size(), std::size_t{1});
    QCOMPARE(dialogs.openCalls[0].initialPath, QCoreApplication::applicationFilePath());
    QCOMPARE(dialogs.openCalls[0].fileName, QString());

    // The second file replaces the first one's rows, and the dialog offers the first path.
    Open(Data("cases_unterminated.mrc"));
    QCOMPARE(dialogs.openCalls[1].fileName, path);
    QCOMPARE(Rows(), 2);
    QCOMPARE(Cell(1, 12), QStringLiteral("末尾"));
    QCOMPARE(w->Label1->text(), QStringLiteral("读入:2 条"));
  }

  // While a long read runs, Label1 is painted with running counts (not after every row, and not
  // only at the end); when it ends the label holds the exact count.
  void progress_paintsRunningCount() {
    QFile source(Data("realcn_lines.mrc"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray records = source.readAll();
    QTemporaryDir dir;
    QFile big(dir.filePath("big.mrc"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    constexpr int kCopies = 600;
    for (int i = 0; i < kCopies; ++i) big.write(records);
    big.close();
    const int total = kCopies * 27;

    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // A clock that steps a repaint's interval per reading: the rows arrive a stretch of the file
    // at a time, and each stretch repaints, however fast the machine.
    std::int64_t now = 0;
    w->SetProgressClock([&now] { return now += 16; });
    PaintRecorder painted(w->Label1);
    Open(big.fileName());
    QCOMPARE(Rows(), total);
    QCOMPARE(w->Label1->text(), QStringLiteral("读入:%1 条").arg(total));
    QVERIFY2(painted.texts.size() >= 2, qPrintable(painted.texts.join(' ')));
    QVERIFY2(painted.texts.size() < total / 10, qPrintable(QString::number(painted.texts.size())));
    int previous = 0;
    for (const QString& text : painted.texts) {
      const int n = QStringView(text).mid(3, text.size() - 5).toInt();
      QVERIFY2(n > previous && n <= total, qPrintable(text));
      previous = n;
    }
  }

  // Cancelling empties the list (that happens before the dialog) and changes nothing else.
  void cancel_leavesEmptyListAndLabels() {
    Open(Data("cases_lines.mrc"));
    const QString label2 = w->Label2->text();
    w->Button1Click();  // no answer queued: cancel
    QCOMPARE(Rows(), 0);
    QCOMPARE(w->Label1->text(), QStringLiteral("读入:3 条"));
    QCOMPARE(w->Label2->text(), label2);
    QCOMPARE(QString::fromStdString(w->MarcFileName), Data("cases_lines.mrc"));
    QVERIFY(dialogs.openFailedDetails.isEmpty());
    QVERIFY(w->Reader().LineList());
  }

  void clear_keepsLabelsAndLines() {
    Open(Data("cases_lines.mrc"));
    const QString label2 = w->Label2->text();
    QTest::mouseClick(w->Button3, Qt::LeftButton);
    QCOMPARE(Rows(), 0);
    QCOMPARE(w->ListView1->header()->count(), 13);
    QCOMPARE(w->Label1->text(), QStringLiteral("读入:3 条"));
    QCOMPARE(w->Label2->text(), label2);
    QVERIFY(w->Reader().LineList());
  }

  void failingRead_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("label1");
    QTest::addColumn<QStringList>("details");
    QTest::newRow("bad leader") << Data("cases_bad_leader.mrc") << 1 << "读入:1 条"
                                << QStringList{"第 2 条记录（第 2 行）",
                                               "'0x12Z' is not a valid integer value"};
    QTest::newRow("missing field")
        << Data("cases_missing_field.mrc") << 2 << "读入:2 条"
        << QStringList{"第 3 条记录（第 1 行）", "List index out of bounds (3)"};
    // Fails before its first row: the label shows the empty list's count, not the last read's.
    QTest::newRow("folder") << QStringLiteral(TESSALY_TEST_DATA) << 0 << "读入:0 条"
                            << QStringList{"Cannot open file", "tests"};
  }
  // The rows before the failure stay, the box comes once with the reason in its details, and the
  // labels and Button2 stay as the failed read left them.
  void failingRead() {
    QFETCH(QString, file);
    QFETCH(int, rows);
    QFETCH(QString, label1);
    QFETCH(QStringList, details);
    Open(Data("cases_lines.mrc"));
    const QString label2 = w->Label2->text();
    int rowsWhileShown = -1;
    QString label1WhileShown;
    dialogs.whileOpenFailedShown = [&] {
      rowsWhileShown = Rows();
      label1WhileShown = w->Label1->text();
    };
    Open(file);
    QCOMPARE(dialogs.openFailedDetails.size(), 1);
    for (const QString& part : details)
      QVERIFY2(dialogs.openFailedDetails[0].contains(part),
               qPrintable(dialogs.openFailedDetails[0]));
    QCOMPARE(rowsWhileShown, rows);
    QCOMPARE(label1WhileShown, label1);
    QCOMPARE(Rows(), rows);
    QCOMPARE(w->Label1->text(), label1);
    QCOMPARE(w->Label2->text(), label2);
    QCOMPARE(QString::fromStdString(w->MarcFileName), file);
    QVERIFY(w->Button2->isEnabled());
    QVERIFY(!w->Button2->isVisible());
    QVERIFY(dialogs.failures.isEmpty());

    // The next open starts again from an empty list.
    Open(Data("cases_lines.mrc"));
    QCOMPARE(Rows(), 3);
    QCOMPARE(dialogs.openFailedDetails.size(), 1);
  }

  // Once read, the rows are the program's own: the file rewritten in place (as a nightly export
  // does) or cut short changes nothing listed or exported.
  void rowsStayAsRead_data() {
    QTest::addColumn<QString>("replacement");  // the file's new content, from this file
    QTest::addColumn<qint64>("size");          // cut to this size (-1: the whole replacement)
    QTest::newRow("rewritten") << Data("realcn_lines.mrc") << qint64(-1);
    QTest::newRow("truncated") << Data("cases_lines.mrc") << qint64(100);
    QTest::newRow("emptied") << Data("cases_lines.mrc") << qint64(0);
  }
  void rowsStayAsRead() {
    QFETCH(QString, replacement);
    QFETCH(qint64, size);
    QTemporaryDir dir;
    const QString path = dir.filePath("records.mrc");
    QVERIFY(QFile::copy(Data("cases_lines.mrc"), path));
    Open(path);
    QCOMPARE(Rows(), 3);
    auto snapshot = [&] {
      QStringList all;
      const BookListModel& m = w->ListModel();
      for (int r = 0; r < Rows(); ++r) {
        all << QString::fromStdString(m.ItemCaption(r));
        for (int c = 0; c < 12; ++c)
          all << QString::fromStdString(m.SubItem(r, c)) << Cell(r, c + 1);
      }
      return all;
    };
    const QStringList before = snapshot();
    QFile source(replacement), file(path);
    QVERIFY(source.open(QIODevice::ReadOnly));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const QByteArray bytes = source.readAll();
    QCOMPARE(file.write(size < 0 ? bytes : bytes.left(size)), size < 0 ? bytes.size() : size);
    file.close();
    QCOMPARE(snapshot(), before);
    // A name that does not exist gives the rows read last again, not the file's new bytes.
    Open(dir.filePath("no such file.mrc"));
    QCOMPARE(snapshot(), before);
    QVERIFY(dialogs.openFailedDetails.isEmpty());
  }

  // F2 edits the selected row's caption; the export then reads the edited text.
  void editCaption() {
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    Open(Data("cases_lines.mrc"));
    w->ListView1->setFocus();
    w->ListView1->setCurrentIndex(w->ListModel().index(1, 0));
    QTest::keyClick(w->ListView1, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("乙书"));
    // Key clicks carry Latin-1 only; the typed text goes in as an input method would put it.
    editor->setText(QStringLiteral("新书名"));
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits the edit from the event loop.
    QTRY_COMPARE(w->ListModel().ItemCaption(1), std::string("新书名"));
    QCOMPARE(w->ListModel().SubItem(1, 0), std::string("李四"));  // unchanged
    QCOMPARE(Cell(1, 0), QStringLiteral("新书名"));
    QCOMPARE(Cell(0, 0), QStringLiteral("甲书"));
  }

  // The highlight shows only while the list has the focus.
  void highlight_onlyWithFocus() {
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    Open(Data("cases_lines.mrc"));
    w->ListView1->setFocus();
    QTRY_VERIFY(w->ListView1->hasFocus());
    QVERIFY(w->ListView1->HighlightShown());
    w->Edit1->setFocus();
    QTRY_VERIFY(w->Edit1->hasFocus());
    QVERIFY(!w->ListView1->HighlightShown());
  }

  // 生成Excel hands the list to the export: the captions and every row as the list holds them,
  // an edited title included; an unreachable spreadsheet gets its message and nothing else; cut
  // cells are counted to the user afterwards.
  void export_button() {
    auto owned = std::make_unique<RecordingSpreadsheet>();
    RecordingSpreadsheet& sheet = *owned;
    TMarc2ExcelFm module(std::move(owned));
    w->SetExportModule(&module);
    Open(Data("cases_lines.mrc"));
    QVERIFY(
        w->ListModel().setData(w->ListModel().index(1, 0), QStringLiteral("改题"), Qt::EditRole));
    QTest::mouseClick(w->Button5, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w->RunningExport(), 30'000);
    QCOMPARE(dialogs.noSpreadsheet, 0);
    QVERIFY(dialogs.failures.isEmpty());
    QVERIFY(dialogs.cellsCut.empty());
    QCOMPARE(sheet.Workbooks().size(), std::size_t{1});
    const RecordingSpreadsheet::Sheet& cells = sheet.Workbooks()[0];
    QCOMPARE(cells.size(), std::size_t{4 * 13});
    QCOMPARE(cells.at({1, 1}), std::string("名称"));
    QCOMPARE(cells.at({1, 13}), std::string("提要"));
    QCOMPARE(cells.at({2, 1}), std::string("甲书"));
    QCOMPARE(cells.at({3, 1}), std::string("改题"));
    QCOMPARE(cells.at({3, 2}), std::string("李四"));
    QCOMPARE(cells.at({4, 3}), std::string("0012"));
    QVERIFY(!sheet.HoldsAnything());

    sheet.SetCellLimit(4);
    QTest::mouseClick(w->Button5, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w->RunningExport(), 30'000);
    QCOMPARE(dialogs.cellsCut, std::vector<std::int64_t>{sheet.CellsCut()});
    QVERIFY(sheet.CellsCut() > 0);

    sheet.RefuseConnect(true);
    QTest::mouseClick(w->Button5, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w->RunningExport(), 30'000);
    QCOMPARE(dialogs.noSpreadsheet, 1);
    QCOMPARE(sheet.Workbooks().size(), std::size_t{2});
    QCOMPARE(Rows(), 3);
  }

  void export_stalls_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("cellsKept");
    QTest::newRow("keep waiting") << "keepWaiting" << 0 << 4 * 13;
    QTest::newRow("give up") << "giveUp" << 1 << 2 * 13;
    QTest::newRow("cancel") << "cancel" << 0 << 2 * 13;
  }
  // A spreadsheet that stops answering: the window goes on answering, its other commands are
  // out of reach (and clicks on them are not kept for later), the box comes after the time
  // limit, and each way out leaves the document and the window as it says.
  void export_stalls() {
    QFETCH(QString, answer);
    QFETCH(int, failures);
    QFETCH(int, cellsKept);
    auto* app = qobject_cast<TessalyApplication*>(QCoreApplication::instance());
    app->SetDialogs(dialogs);
    auto owned = std::make_unique<RecordingSpreadsheet>();
    RecordingSpreadsheet& sheet = *owned;
    TMarc2ExcelFm module(std::move(owned));
    w->SetExportModule(&module);
    // However the test ends, the window lets go of the module before it goes.
    const std::shared_ptr<void> detach(nullptr, [&](void*) { w->SetExportModule(nullptr); });
    w->SetExportTimings({std::chrono::milliseconds(50), std::chrono::milliseconds(0)});
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    Open(Data("cases_lines.mrc"));
    sheet.HangAtCell(3, 1);

    QTest::mouseClick(w->Button5, Qt::LeftButton);
    ExportRun* run = w->RunningExport();
    QVERIFY(run);
    QTRY_VERIFY(run->NotAnsweringBox() && run->NotAnsweringBox()->isVisible());
    QCOMPARE(run->NotAnsweringBox()->text(), QStringLiteral("电子表格没有响应"));
    QVERIFY(run->ProgressDialog() && run->ProgressDialog()->isVisible());
    for (QPushButton* b : {w->Button1, w->Button3, w->Button4, w->Button5})
      QVERIFY(!b->isEnabled());
    QTest::mouseClick(w->Button3, Qt::LeftButton);
    QVERIFY(!w->ListModel().flags(w->ListModel().index(0, 0)).testFlag(Qt::ItemIsEditable));

    if (answer == "cancel") {
      QTest::mouseClick(run->ProgressDialog()->findChild<QPushButton*>("cancel"), Qt::LeftButton);
    } else {
      QTest::mouseClick(run->NotAnsweringBox()->findChild<QPushButton*>(answer), Qt::LeftButton);
    }
    if (answer == "keepWaiting") {
      QVERIFY(!run->NotAnsweringBox());
      sheet.Release();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!w->RunningExport(), 30'000);
    QCOMPARE(dialogs.failures.size(), failures);
    if (failures) QVERIFY(dialogs.failures[0].startsWith(QStringLiteral("电子表格没有响应")));
    QCOMPARE(dialogs.noSpreadsheet, 0);
    QCOMPARE(sheet.Workbooks().size(), std::size_t{1});
    QCOMPARE(sheet.Workbooks()[0].size(), std::size_t(cellsKept));
    QVERIFY(!sheet.HoldsAnything());
    QCOMPARE(Rows(), 3);
    for (QPushButton* b : {w->Button1, w->Button3, w->Button4, w->Button5}) QVERIFY(b->isEnabled());
    QVERIFY(w->ListModel().flags(w->ListModel().index(0, 0)).testFlag(Qt::ItemIsEditable));

    // The next click starts over and writes everything.
    sheet.Release();
    QTest::mouseClick(w->Button5, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w->RunningExport(), 30'000);
    QCOMPARE(sheet.Workbooks().size(), std::size_t{2});
    QCOMPARE(sheet.Workbooks()[1].size(), std::size_t{4 * 13});
    QCOMPARE(dialogs.failures.size(), failures);
    app->SetDialogs(DefaultDialogs());
  }

  // Qt's own texts in the boxes and the file dialog read in Chinese.
  void qtTextsInChinese() {
    QCOMPARE(QCoreApplication::translate("QMessageBox", "Show Details..."),
             QStringLiteral("显示详情..."));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "File &name:"),
             QStringLiteral("文件名称(&N)："));
  }

  void failureText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("letter") << "Access denied"
                            << "Access denied.";
    QTest::newRow("digit") << "List index out of bounds (3"
                           << "List index out of bounds (3.";
    QTest::newRow("chinese") << "打开失败"
                             << "打开失败.";
    QTest::newRow("full stop") << "Done."
                               << "Done.";
    QTest::newRow("exclamation") << "Stop!"
                                 << "Stop!";
    QTest::newRow("closing parenthesis") << "bounds (3)"
                                         << "bounds (3)";
    QTest::newRow("comma sorts before") << "a,"
                                        << "a,";
    QTest::newRow("slash sorts after") << "a/"
                                       << "a/.";
    QTest::newRow("full-width exclamation") << "失败！"
                                            << "失败！.";
  }
  void failureText() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(FailureDisplayText(message), shown);
  }

  // A failure that leaves a handler is shown once, with the "." rule, and the loop goes on.
  void failureDisplay_catchesAtTheLoop() {
    auto* app = qobject_cast<TessalyApplication*>(QCoreApplication::instance());
    QVERIFY(app);
    app->SetDialogs(dialogs);
    Thrower ascii, gbk;
    ascii.message = "'0x12Z' is not a valid integer value";
    gbk.message = "\xB4\xF2\xBF\xAA";  // 打开 in GBK, as record bytes quoted in a message
    QCoreApplication::postEvent(&ascii, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&gbk, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    QCOMPARE(dialogs.failures, QStringList({"'0x12Z' is not a valid integer value.", "打开."}));

    // A button whose handler throws still works the next time.
    int clicks = 0;
    connect(w->Button3, &QPushButton::clicked, w.get(), Guarded([&] {
              if (++clicks == 1) throw marc::EConvertError("first click fails");
            }));
    QTest::mouseClick(w->Button3, Qt::LeftButton);
    QTest::mouseClick(w->Button3, Qt::LeftButton);
    QCOMPARE(clicks, 2);
    QCOMPARE(dialogs.failures.size(), 3);
    QCOMPARE(dialogs.failures.last(), QStringLiteral("first click fails."));

    // The window's own commands are wired the same way.
    QTest::mouseClick(w->Button5, Qt::LeftButton);  // no export module was given
    QCOMPARE(dialogs.failures.size(), 4);
    QCOMPARE(dialogs.failures.last(), QStringLiteral("导出模块尚未创建."));
    app->SetDialogs(DefaultDialogs());
  }

  // The real records through the real window: every cell as marcrows prints it, header clicks
  // change nothing, and a picture of the window for the documentation.
  // The same records in GBK and in UTF-8 give the same characters; the encoding shows after the
  // elapsed time.
  void realFile_endToEnd_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("encoding");
    QTest::newRow("gbk") << Data("realcn_lines.mrc") << "GBK";
    QTest::newRow("utf-8") << Data("realcn_utf8.mrc") << "UTF-8";
  }
  void realFile_endToEnd() {
    QFETCH(QString, file);
    QFETCH(QString, encoding);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTRY_VERIFY(w->isMaximized());
    dialogs.openAnswers.push_back(file);
    QTest::mouseClick(w->Button1, Qt::LeftButton);
    QVERIFY(dialogs.openFailedDetails.isEmpty());
    QVERIFY2(w->Label2->text().endsWith("  " + encoding), qPrintable(w->Label2->text()));

    QFile expected(Data("realcn.rows.tsv"));
    QVERIFY(expected.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(expected.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(Rows(), lines.size());
    QCOMPARE(w->Label1->text(), QStringLiteral("读入:%1 条").arg(lines.size()));
    for (int r = 0; r < lines.size(); ++r) {
      const QStringList cells = lines[r].split('\t');
      QCOMPARE(cells.size(), 13);
      for (int c = 0; c < 13; ++c) QCOMPARE(Cell(r, c), Unescape(cells[c]));
    }

    const QHeaderView* header = w->ListView1->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionPosition(1) + 5, header->height() / 2));
    QCOMPARE(Cell(0, 0), Unescape(lines[0].split('\t')[0]));
    QCOMPARE(Cell(lines.size() - 1, 0), Unescape(lines.last().split('\t')[0]));

    w->ListView1->setCurrentIndex(w->ListModel().index(2, 0));
    const QByteArray shot = qgetenv("TESSALY_SCREENSHOT");
    if (!shot.isEmpty() && encoding == "GBK") {
      w->ListView1->setFocus();
      QVERIFY(w->grab().save(QString::fromLocal8Bit(shot)));
    }
  }
};

TESSALY_QTEST_MAIN(WindowTest)
#include "window_test.moc"
