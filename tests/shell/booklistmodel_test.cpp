// The list model: rows kept as the decoder's bytes, shown as characters, read back unchanged.
#include "booklistmodel.h"

#include <QSignalSpy>
#include <QTest>

#include "fakedialogs.h"
#include "rowstore.h"

using tessaly::BookListModel;
using tessaly::RowStore;

namespace {

marc::BookRow Row(std::initializer_list<std::pair<marc::Cell, std::string>> cells) {
  marc::BookRow row;
  for (const auto& [cell, text] : cells) row[cell] = text;
  return row;
}

const std::string kJiaShu = "\xBC\xD7\xCA\xE9";            // 甲书 in GBK
const std::string kZhangSan = "\xD5\xC5\xC8\xFD";          // 张三 in GBK
const std::string kHalfCharacter = "AB\xB6";               // a lead byte cut off at the cell's end
const std::string kNewTitle = "\xD0\xC2\xCA\xE9\xC3\xFB";  // 新书名 in GBK

}  // namespace

class BookListModelTest : public QObject {
  Q_OBJECT

 private slots:
  // Cells of every length, empty ones and ones with NUL bytes come back byte for byte, and no
  // cell's bytes run into its neighbour's.
  void store_keepsCellsApart() {
    RowStore store;
    std::vector<marc::BookRow> rows;
    for (int r = 0; r < 2000; ++r) {
      marc::BookRow row;
      for (std::size_t c = 0; c < marc::CellCount; ++c) {
        if ((r + c) % 5 == 0) continue;  // empty
        row[c] = std::string(static_cast<std::size_t>((r * 7 + c * 13) % 300), char('a' + c));
        if (c == marc::Summary) row[c] += std::string("\0x", 2);
      }
      store.Append(row);
      rows.push_back(row);
    }
    // A cell bigger than a chunk gets a chunk of its own.
    marc::BookRow big;
    big[marc::Summary] = std::string(5u << 20, 'z');
    store.Append(big);
    rows.push_back(big);
    QCOMPARE(store.Size(), rows.size());
    std::string scratch;
    for (std::size_t r = 0; r < rows.size(); ++r)
      for (std::size_t c = 0; c < marc::CellCount; ++c)
        QVERIFY2(store.Cell(r, c, scratch) == rows[r][c],
                 qPrintable(QStringLiteral("row %1 cell %2").arg(r).arg(c)));
  }

  void store_setCellChangesOnlyThatCell() {
    RowStore store;
    store.Append(Row({{marc::Title, kJiaShu}, {marc::Author, kZhangSan}, {marc::Summary, "S"}}));
    store.Append(Row({{marc::Title, "second"}}));
    store.SetCell(0, marc::Title, "a much longer title than before");
    store.SetCell(0, marc::Title, "");
    std::string s;
    QCOMPARE(store.Cell(0, marc::Title, s), std::string_view());
    QCOMPARE(store.Cell(0, marc::Author, s), std::string_view(kZhangSan));
    QCOMPARE(store.Cell(0, marc::Summary, s), std::string_view("S"));
    QCOMPARE(store.Cell(1, marc::Title, s), std::string_view("second"));
    store.Clear();
    QCOMPARE(store.Size(), std::size_t{0});
    QCOMPARE(store.OwnBytes(), std::size_t{0});
  }

  // Blocks a read handed over are kept as they came, between rows of texts; an edited caption
  // replaces only that cell.
  void store_blocksBetweenRowsOfTexts() {
    auto block = std::make_shared<marc::RowBlock>();
    for (int r = 0; r < 3; ++r)
      block->Append(Row({{marc::Title, "TITLE"}, {marc::Summary, "rest$b"}}));
    RowStore store;
    store.Append(Row({{marc::Title, "before"}}));
    store.Append(block);
    store.Append(Row({{marc::Title, "after"}}));
    QCOMPARE(store.Size(), std::size_t{5});
    QCOMPARE(store.Cell(0, marc::Title), std::string_view("before"));
    QCOMPARE(store.Cell(3, marc::Summary), std::string_view("rest$b"));
    QCOMPARE(store.Cell(4, marc::Title), std::string_view("after"));
    store.SetCell(1, marc::Title, kNewTitle);
    QCOMPARE(store.Cell(1, marc::Title), std::string_view(kNewTitle));
    QCOMPARE(store.Cell(1, marc::Summary), std::string_view("rest$b"));
    QCOMPARE(store.Cell(2, marc::Title), std::string_view("TITLE"));
  }

  // Rows reach the view only when committed, in one insertion per batch.
  void commit_announcesStoredRowsOnce() {
    BookListModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.AppendRow(Row({{marc::Title, "a"}}));
    model.AppendRow(Row({{marc::Title, "b"}}));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.ItemCount(), 0);
    model.Commit();
    model.Commit();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 1);
    QCOMPARE(model.rowCount(), 2);
    model.Clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 13);
  }

  void display_data() {
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("gbk") << int(marc::TextEncoding::Gbk) << QByteArray::fromStdString(kJiaShu)
                         << QStringLiteral("甲书");
    QTest::newRow("ascii") << int(marc::TextEncoding::Gbk) << QByteArray("7-111-22222-3")
                           << QStringLiteral("7-111-22222-3");
    // Each cell is decoded on its own: a half character shows as U+FFFD, never swallowing the
    // next cell's first byte.
    QTest::newRow("half character")
        << int(marc::TextEncoding::Gbk) << QByteArray::fromStdString(kHalfCharacter)
        << QStringLiteral("AB\uFFFD");
    QTest::newRow("utf-8 file") << int(marc::TextEncoding::Utf8)
                                << QByteArray("\xE7\x94\xB2\xE4\xB9\xA6") << QStringLiteral("甲书");
  }
  void display() {
    QFETCH(int, encoding);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    BookListModel model;
    model.SetEncoding(static_cast<marc::TextEncoding>(encoding));
    model.AppendRow(Row({{marc::Author, bytes.toStdString()}, {marc::Isbn, "\xD5"}}));
    model.Commit();
    QCOMPARE(model.data(model.index(0, marc::Author), Qt::DisplayRole).toString(), shown);
    // The cell's bytes are kept as they are; the export gets what the list shows, in UTF-8.
    std::string scratch;
    QCOMPARE(model.Store().Cell(0, marc::Author, scratch), bytes.toStdString());
    QCOMPARE(QString::fromStdString(model.SubItem(0, marc::Author - 1)), shown);
  }

  // The export reads a row as its caption and twelve sub-items; one more is an error.
  void exportSource_readsRowsBack() {
    BookListModel model;
    marc::BookRow row;
    for (std::size_t c = 0; c < marc::CellCount; ++c) row[c] = "cell" + std::to_string(c);
    model.AppendRow(row);
    model.Commit();
    QCOMPARE(model.ItemCount(), 1);
    QCOMPARE(model.ItemCaption(0), std::string("cell0"));
    for (int i = 0; i < 12; ++i) QCOMPARE(model.SubItem(0, i), "cell" + std::to_string(i + 1));
    QVERIFY_THROWS_EXCEPTION(marc::EStringListError, model.SubItem(0, 12));
    QVERIFY_THROWS_EXCEPTION(marc::EStringListError, model.SubItem(0, -1));
    QVERIFY_THROWS_EXCEPTION(marc::EStringListError, model.ItemCaption(1));
    // Captions too are handed over in UTF-8, whatever the file's encoding.
    QCOMPARE(model.ColumnCaption(0), std::string("名称"));
    model.SetEncoding(marc::TextEncoding::Utf8);
    QCOMPARE(model.ColumnCaption(12), std::string("提要"));
  }

  void editCaption_data() {
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("gbk") << int(marc::TextEncoding::Gbk) << QStringLiteral("新书名")
                         << QByteArray::fromStdString(kNewTitle);
    QTest::newRow("utf-8") << int(marc::TextEncoding::Utf8) << QStringLiteral("新书名")
                           << QByteArray("\xE6\x96\xB0\xE4\xB9\xA6\xE5\x90\x8D");
    // A character outside GBK is kept, in its GB18030 four bytes.
    QTest::newRow("gb18030") << int(marc::TextEncoding::Gbk) << QStringLiteral("\U00020000\u4DAE")
                             << QByteArray("\x95\x32\x82\x36\xFE\x9F");
  }
  // Only the first cell is editable; the edit is stored in the file's encoding.
  void editCaption() {
    QFETCH(int, encoding);
    QFETCH(QString, typed);
    QFETCH(QByteArray, stored);
    BookListModel model;
    model.SetEncoding(static_cast<marc::TextEncoding>(encoding));
    model.AppendRow(Row({{marc::Title, "old"}, {marc::Author, "A"}}));
    model.Commit();
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
    for (int c = 1; c < 13; ++c) QVERIFY(!(model.flags(model.index(0, c)) & Qt::ItemIsEditable));
    QVERIFY(!model.setData(model.index(0, 1), QStringLiteral("x"), Qt::EditRole));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(model.setData(model.index(0, 0), typed, Qt::EditRole));
    QCOMPARE(changed.count(), 1);
    std::string scratch;
    QCOMPARE(model.Store().Cell(0, marc::Title, scratch), stored.toStdString());
    QCOMPARE(model.ItemCaption(0), typed.toStdString());
    QCOMPARE(model.SubItem(0, 0), std::string("A"));
    QCOMPARE(model.data(model.index(0, 0), Qt::DisplayRole).toString(), typed);
    // While an export reads the list, no title can change.
    model.SetFrozen(true);
    QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
    QVERIFY(!model.setData(model.index(0, 0), QStringLiteral("又改"), Qt::EditRole));
    QCOMPARE(model.ItemCaption(0), typed.toStdString());
  }
};

TESSALY_QTEST_MAIN(BookListModelTest)
#include "booklistmodel_test.moc"
