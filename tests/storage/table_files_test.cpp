#include "storage/table_files.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/platform_seams.h"
#include "support/test_files.h"
#include "view/results_table.h"
#include "view/trend_chart.h"

namespace {

using test_files::ReadAll;
using test_files::WriteAll;

// A data line of 16 cells, each followed by a TAB.
QByteArray Line(const QList<QByteArray>& cells) {
  QByteArray line;
  for (int i = 0; i < 16; ++i) line += (i < cells.size() ? cells[i] : QByteArray()) + '\t';
  return line + "\r\n";
}

QByteArray NumericLine(int number, const QByteArray& value) {
  QList<QByteArray> cells{QByteArray::number(number), "06.12.2026", "17:05:12"};
  for (int i = 0; i < 12; ++i) cells << value;
  cells << "Ok'";
  return Line(cells);
}

class TableFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    seams::SetLocale(QLocale(QLocale::Russian, QLocale::Russia));
    table_.SetRowCount(2);
  }
  void TearDown() override { seams::ResetAll(); }

  QString Path(const QString& name) const { return dir_.filePath(name); }
  TableLoadResult Load(const QByteArray& bytes) {
    EXPECT_TRUE(WriteAll(Path(QStringLiteral("in.kvx")), bytes));
    return LoadTableFile(Path(QStringLiteral("in.kvx")), table_, chart_);
  }

  QTemporaryDir dir_;
  ResultsTable table_;
  TrendChart chart_;
};

TEST_F(TableFilesTest, StrToValueConvertsLocaleNumbersAndTakesEverythingElseAsZero) {
  bool ok = false;
  EXPECT_DOUBLE_EQ(StrToValue(QStringLiteral("6,1"), &ok), 6.1);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(StrToValue(QStringLiteral("  42 "), &ok), 42);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(StrToValue(QStringLiteral("0"), &ok), 0);
  EXPECT_TRUE(ok);
  // Signs, markers, exponents and letters are not numbers of a cell: 0.
  for (const QString& text : {QStringLiteral("-20"), QStringLiteral(u"перег."), QStringLiteral(u"ошиб."),
                              QStringLiteral("-----"), QStringLiteral("1,235E004"), QStringLiteral("5E-5"),
                              QStringLiteral("Ok'"), QStringLiteral("+3")}) {
    ok = false;
    EXPECT_EQ(StrToValue(text, &ok), 0) << text.toStdString();
    EXPECT_TRUE(ok) << text.toStdString();
  }
  // Number characters that make no number stop a load.
  for (const QString& text : {QString(), QStringLiteral("   "), QStringLiteral("6.1"), QStringLiteral("1,2,3"),
                              QStringLiteral("1 2"), QStringLiteral(","), QStringLiteral("6,1.5")}) {
    ok = true;
    StrToValue(text, &ok);
    EXPECT_FALSE(ok) << '"' << text.toStdString() << '"';
  }
}

TEST_F(TableFilesTest, StrToValueFollowsTheLocalesSeparator) {
  seams::SetLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  bool ok = false;
  EXPECT_DOUBLE_EQ(StrToValue(QStringLiteral("6.1"), &ok), 6.1);
  EXPECT_TRUE(ok);
  StrToValue(QStringLiteral("6,1"), &ok);
  EXPECT_FALSE(ok);
}

TEST_F(TableFilesTest, EveryCellIsFollowedByATabAndRowsEndInCrLf) {
  table_.SetRowCount(3);
  table_.SetRowText(0, "a\tb");
  table_.SetRowText(1, "");
  table_.SetRow(2, QStringList{QStringLiteral(u"Тест"), QString(), QStringLiteral("x")});
  const auto bytes = TableFileBytes(table_);
  ASSERT_TRUE(bytes.has_value());
  const QByteArray tabs14(14, '\t');
  EXPECT_EQ(*bytes, "a\tb\t" + tabs14 + "\r\n" + QByteArray(16, '\t') + "\r\n" +
                        "\xD2\xE5\xF1\xF2\t\tx\t" + QByteArray(13, '\t') + "\r\n");
}

TEST_F(TableFilesTest, TextWithoutAWindows1251FormIsRefusedAndTheOldFileStays) {
  const QString path = Path(QStringLiteral("t.kvx"));
  ASSERT_TRUE(WriteAll(path, "old"));
  table_.SetCell(15, 1, QStringLiteral(u"中"));
  QString error;
  EXPECT_FALSE(TableFileBytes(table_, &error).has_value());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(WriteTableFile(table_, path));
  EXPECT_EQ(ReadAll(path), QByteArray("old"));
}

TEST_F(TableFilesTest, EveryByteOfTheCodePageReadsBackAndIsWrittenUnchanged) {
  // All bytes but TAB, CR and LF, in the header line and in a text column.
  QByteArray all;
  for (int b = 1; b < 256; ++b)
    if (b != '\t' && b != '\r' && b != '\n') all += char(b);
  const QByteArray file = Line({all}) + NumericLine(0, "1") + Line({"0", "d", "t", "1", "2", "3", "4", "5",
                                                                     "6", "7", "8", "9", "10", "11", "12", all});
  const TableLoadResult r = Load(file);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.linesLoaded, 3);
  EXPECT_EQ(table_.Cells(0, 0).at(0), QChar(0x01));
  EXPECT_TRUE(table_.Cells(0, 0).contains(QStringLiteral(u"АБВ")));
  const auto bytes = TableFileBytes(table_);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, file);
}

TEST_F(TableFilesTest, FieldsAreRunsEndedByTabsAndOnlySixteenAreKept) {
  // 17 fields, then text after the last TAB; LF alone also ends a line, and
  // the last line needs no line end.
  QByteArray first = "h0";
  for (int i = 1; i < 17; ++i) first += "\th" + QByteArray::number(i);
  first += "\ttail\n";
  const QByteArray last = "1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12\t13\t14\t15\t16\t17\tend";
  const TableLoadResult r = Load(first + last);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(table_.RowCount(), 2);
  EXPECT_EQ(table_.Cells(15, 0), QStringLiteral("h15"));
  EXPECT_EQ(table_.Row(0).size(), 16);
  EXPECT_EQ(table_.Cells(15, 1), QStringLiteral("16"));
  ASSERT_EQ(chart_.PointCount(), 1);
  for (int ch = 0; ch < 12; ++ch) EXPECT_EQ(chart_.StoredValue(ch, 0), ch + 4) << ch;
  // Written back: 16 cells, the 17th field and the tails gone.
  EXPECT_EQ(TableFileBytes(table_)->split('\n').at(0), "h0\th1\th2\th3\th4\th5\th6\th7\th8\th9\th10\th11\th12\th13\th14\th15\t\r");
}

TEST_F(TableFilesTest, ColumnsThreeToFourteenGoToTheCurvesInChannelOrder) {
  QList<QByteArray> cells{"0", "d", "t"};
  for (int i = 0; i < 12; ++i) cells << QByteArray::number(100 + i) + ",5";
  cells << "E0012";
  const TableLoadResult r = Load(Line({"h"}) + Line(cells));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.pointsLoaded, 1);
  // Tg O2 CO NO NO2 SO2 H2S CO2 NOx Qa Alf Ta
  for (int ch = 0; ch < 12; ++ch) EXPECT_DOUBLE_EQ(chart_.StoredValue(ch, 0), 100.5 + ch);
}

TEST_F(TableFilesTest, ALineThatCannotBeReadLeavesNoRowAndNoPoint) {
  QList<QByteArray> bad{"2", "d", "t", "1", "2", "3", "4", "5", "6,7.1", "7", "8", "9", "10", "11", "12", "Ok'"};
  const TableLoadResult r =
      Load(Line({"h"}) + NumericLine(0, "1") + NumericLine(1, "2") + Line(bad) + NumericLine(3, "4"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.linesLoaded, 3);
  EXPECT_EQ(table_.RowCount(), 3);
  EXPECT_EQ(table_.Cells(0, 2), QStringLiteral("1"));
  for (int ch = 0; ch < 12; ++ch) EXPECT_EQ(chart_.StoredValue(ch, 1), 2);
  EXPECT_EQ(chart_.PointCount(), 2);
  // Every curve holds the same number of points, however far the bad line got.
  for (int ch = 0; ch < 12; ++ch) EXPECT_EQ(chart_.Series[ch]->Count(), 2) << ch;
}

TEST_F(TableFilesTest, LinesCutByTheReadChunksAreJoined) {
  // Well over one read chunk, with lines of uneven length.
  QByteArray file = Line({"h"});
  const int rows = 12000;
  for (int i = 0; i < rows; ++i) file += NumericLine(i, QByteArray::number(i % 977) + "," + QByteArray::number(i % 7));
  ASSERT_GT(file.size(), 1 << 20);
  const TableLoadResult r = Load(file);
  EXPECT_TRUE(r.ok);
  ASSERT_EQ(chart_.PointCount(), rows);
  for (int i = 0; i < rows; ++i) {
    ASSERT_DOUBLE_EQ(chart_.StoredValue(11, i), (i % 977) + (i % 7) / 10.0) << i;
    ASSERT_EQ(table_.Cells(0, i + 1), QString::number(i)) << i;
  }
  EXPECT_EQ(*TableFileBytes(table_), file);
}

TEST_F(TableFilesTest, ALoadAnnouncesItselfToViewsOnceNotRowByRow) {
  int resets = 0, inserts = 0, changes = 0;
  QObject::connect(&table_, &QAbstractItemModel::modelReset, [&] { ++resets; });
  QObject::connect(&table_, &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
  QObject::connect(&table_, &QAbstractItemModel::dataChanged, [&] { ++changes; });
  QByteArray file = Line({"h"});
  for (int i = 0; i < 100; ++i) file += NumericLine(i, "1");
  EXPECT_TRUE(Load(file).ok);
  EXPECT_EQ(table_.RowCount(), 101);
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(inserts, 0);
  EXPECT_EQ(changes, 0);
}

TEST_F(TableFilesTest, AMissingFileFailsAndLeavesTheClearedTable) {
  table_.SetCell(0, 0, QStringLiteral(u"Номер"));
  const TableLoadResult r = LoadTableFile(Path(QStringLiteral("missing.kvx")), table_, chart_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.linesLoaded, 0);
  EXPECT_EQ(table_.RowCount(), 2);
  EXPECT_EQ(table_.Cells(0, 0), QStringLiteral(u"Номер"));
  EXPECT_EQ(chart_.PointCount(), 0);
}

}  // namespace
