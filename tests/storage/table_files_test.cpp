#include "storage/table_files.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "platform/seams.h"
#include "support/test_files.h"
#include "data/results_log.h"

namespace {

using test_files::readAll;
using test_files::writeAll;

// A data line of 16 cells, each followed by a TAB.
QByteArray line(const QList<QByteArray>& cells) {
  QByteArray line;
  for (int i = 0; i < 16; ++i) line += (i < cells.size() ? cells[i] : QByteArray()) + '\t';
  return line + "\r\n";
}

QByteArray numericLine(int number, const QByteArray& value) {
  QList<QByteArray> cells{QByteArray::number(number), "06.12.2026", "17:05:12"};
  for (int i = 0; i < 12; ++i) cells << value;
  cells << "Ok'";
  return line(cells);
}

class TableFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  }
  void TearDown() override { seams::resetAll(); }

  QString path(const QString& name) const { return dir_.filePath(name); }
  TableLoadResult load(const QByteArray& bytes) {
    EXPECT_TRUE(writeAll(path(QStringLiteral("in.kvx")), bytes));
    return loadTableFile(path(QStringLiteral("in.kvx")), log_);
  }
  // The log as the table shows it: row 0 the headings.
  QString cell(int column, int gridRow) const {
    return gridRow == 0 ? log_.header(column) : log_.cell(gridRow - 1, column);
  }

  QTemporaryDir dir_;
  ResultsLog log_;
};

TEST_F(TableFilesTest, StrToValueConvertsLocaleNumbersAndTakesEverythingElseAsZero) {
  bool ok = false;
  EXPECT_DOUBLE_EQ(strToValue(QStringLiteral("6,1"), &ok), 6.1);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(strToValue(QStringLiteral("  42 "), &ok), 42);
  EXPECT_TRUE(ok);
  EXPECT_DOUBLE_EQ(strToValue(QStringLiteral("0"), &ok), 0);
  EXPECT_TRUE(ok);
  // Signs, markers, exponents and letters are not numbers of a cell: 0.
  for (const QString& text : {QStringLiteral("-20"), QStringLiteral(u"перег."), QStringLiteral(u"ошиб."),
                              QStringLiteral("-----"), QStringLiteral("1,235E004"), QStringLiteral("5E-5"),
                              QStringLiteral("Ok'"), QStringLiteral("+3")}) {
    ok = false;
    EXPECT_EQ(strToValue(text, &ok), 0) << text.toStdString();
    EXPECT_TRUE(ok) << text.toStdString();
  }
  // Number characters that make no number stop a load.
  for (const QString& text : {QString(), QStringLiteral("   "), QStringLiteral("6.1"), QStringLiteral("1,2,3"),
                              QStringLiteral("1 2"), QStringLiteral(","), QStringLiteral("6,1.5")}) {
    ok = true;
    strToValue(text, &ok);
    EXPECT_FALSE(ok) << '"' << text.toStdString() << '"';
  }
}

TEST_F(TableFilesTest, StrToValueFollowsTheLocalesSeparator) {
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  bool ok = false;
  EXPECT_DOUBLE_EQ(strToValue(QStringLiteral("6.1"), &ok), 6.1);
  EXPECT_TRUE(ok);
  strToValue(QStringLiteral("6,1"), &ok);
  EXPECT_FALSE(ok);
}

TEST_F(TableFilesTest, EveryCellIsFollowedByATabAndRowsEndInCrLf) {
  log_.setHeaderCells("a\tb" + std::string(14, '\t'), 16);
  const auto empty = tableFileBytes(log_);
  ASSERT_TRUE(empty.has_value());
  const QByteArray tabs14(14, '\t');
  // No results: the headings and the line of the empty row.
  EXPECT_EQ(*empty, "a\tb\t" + tabs14 + "\r\n" + QByteArray(16, '\t') + "\r\n");

  Result r;
  r.utcMs = QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)).toMSecsSinceEpoch();
  r.utcOffset = QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)).offsetFromUtc();
  r.values = {185, 6.1, 42, 118, 3, 0, 32768, 10.95, 121, 8.72, 1.41, 24};
  log_.append(r);
  EXPECT_EQ(tableFileBytes(log_)->split('\n').at(1),
            "0\t06.12.2026\t17:05:12\t185\t6,1\t42\t118\t3\t0\t\xEF\xE5\xF0\xE5\xE3.\t10,95\t121\t8,72\t"
            "1,41\t24\tOk'\t\r");
}

TEST_F(TableFilesTest, TextWithoutAWindows1251FormIsRefusedAndTheOldFileStays) {
  const QString file = path(QStringLiteral("t.kvx"));
  ASSERT_TRUE(writeAll(file, "old"));
  // A locale that writes its dates in digits the code page does not have.
  seams::setLocale(QLocale(QLocale::Arabic, QLocale::Egypt));
  log_.append(Result{});
  QString error;
  EXPECT_FALSE(tableFileBytes(log_, &error).has_value());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(writeTableFile(log_, file));
  EXPECT_EQ(readAll(file), QByteArray("old"));
}

TEST_F(TableFilesTest, EveryByteOfTheCodePageReadsBackAndIsWrittenUnchanged) {
  // All bytes but TAB, CR and LF, in the header line and in a text column.
  QByteArray all;
  for (int b = 1; b < 256; ++b)
    if (b != '\t' && b != '\r' && b != '\n') all += char(b);
  const QByteArray file = line({all}) + numericLine(0, "1") + line({"0", "d", "t", "1", "2", "3", "4", "5",
                                                                     "6", "7", "8", "9", "10", "11", "12", all});
  const TableLoadResult r = load(file);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.linesLoaded, 3);
  EXPECT_EQ(cell(0, 0).at(0), QChar(0x01));
  EXPECT_TRUE(cell(0, 0).contains(QStringLiteral(u"АБВ")));
  const auto bytes = tableFileBytes(log_);
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
  const TableLoadResult r = load(first + last);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(log_.count(), 1);
  EXPECT_EQ(cell(15, 0), QStringLiteral("h15"));
  EXPECT_EQ(cell(15, 1), QStringLiteral("16"));
  for (int ch = 0; ch < 12; ++ch) EXPECT_EQ(log_.plottedValue(0, ch), ch + 4) << ch;
  // Written back: 16 cells, the 17th field and the tails gone.
  EXPECT_EQ(tableFileBytes(log_)->split('\n').at(0), "h0\th1\th2\th3\th4\th5\th6\th7\th8\th9\th10\th11\th12\th13\th14\th15\t\r");
}

TEST_F(TableFilesTest, AShortFirstLineChangesOnlyTheHeadingsOfItsCells) {
  // Two cells, then text after the last TAB, which is no cell.
  TableLoadResult r = load("A\tB\tnot a cell\r\n" + numericLine(0, "1"));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.pointsLoaded, 1);
  EXPECT_EQ(cell(0, 0), QStringLiteral("A"));
  EXPECT_EQ(cell(1, 0), QStringLiteral("B"));
  for (int c = 2; c < 16; ++c) EXPECT_EQ(cell(c, 0), kResultHeaders[c]) << c;

  // A first line without any TAB holds no cell: every heading stays.
  log_.setHeaderCells(std::string(15, '\t'), 16);  // all empty, as a file may have them
  r = load("just a title\r\n" + numericLine(0, "1"));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.linesLoaded, 2);
  for (int c = 0; c < 16; ++c) EXPECT_TRUE(cell(c, 0).isEmpty()) << c;
  // Nor does an empty first line.
  log_.setHeaderCells("x", 1);
  r = load(QByteArray("\r\n") + numericLine(0, "1"));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(cell(0, 0), QStringLiteral("x"));
  EXPECT_TRUE(cell(1, 0).isEmpty());
}

TEST_F(TableFilesTest, AWrittenFileReadsBackAndIsWrittenAgainByteForByte) {
  Result r;
  const QDateTime at(QDate(2026, 12, 6), QTime(17, 5, 12));
  r.utcMs = at.toMSecsSinceEpoch();
  r.utcOffset = at.offsetFromUtc();
  r.values = {185, 6.1, 42, 118, 3, 0, 32768, 10.95, 121, 8.72, 1.41, 24};
  r.faultBits = 0x0FFF;
  log_.append(r);
  log_.append(r);
  const auto written = tableFileBytes(log_);
  ASSERT_TRUE(written.has_value());
  ASSERT_TRUE(load(*written).ok);
  EXPECT_EQ(log_.count(), 2);
  for (int c = 0; c < 16; ++c) EXPECT_EQ(cell(c, 0), kResultHeaders[c]) << c;
  EXPECT_EQ(tableFileBytes(log_), written);

  // Headings of a file's own, empty ones among them, come back as they were.
  const QByteArray own = line({"N", "", "T"}) + numericLine(0, "1");
  ASSERT_TRUE(load(own).ok);
  EXPECT_TRUE(cell(1, 0).isEmpty());
  EXPECT_TRUE(cell(15, 0).isEmpty());
  EXPECT_EQ(tableFileBytes(log_), own);
}

// A day of the program's own rows takes no more than its numbers, a row's
// texts made again from them; rows made by hand (leading zeros, a trailing
// zero, a sign, a marker, a comma without decimals, a time of another form,
// a fault text the program never writes, a short row, bytes of the code
// page beyond ASCII) keep what cannot be made again. Saved again, the file
// is the same byte for byte, and every cell shows as it was.
TEST_F(TableFilesTest, LoadedRowsTakeTheirNumbersRoomAndAreWrittenAgainByteForByte) {
  constexpr int kRows = 20000;
  ResultsLog day;
  for (int i = 0; i < kRows; ++i) {
    Result r;
    const QDateTime at = QDateTime(QDate(2026, 12, 6), QTime(0, 0)).addSecs(i * 4);
    r.utcMs = at.toMSecsSinceEpoch();
    r.utcOffset = at.offsetFromUtc();
    r.values = {150.0 + i % 90, (400 + i % 300) / 100.0, double(i % 5000 == 17 ? 32768 : i % 400),
                double(80 + i % 60), double(i % 10), double(i % 5), 0, 9 + (i % 300) / 100.0,
                double(80 + i % 60 + i % 10), 6 + (i % 500) / 100.0, 1.2 + (i % 40) / 100.0, double(i % 30) - 10};
    r.faultBits = i % 7000 == 3 ? 0x12 : 0;
    day.append(r);
  }
  const auto own = tableFileBytes(day);
  ASSERT_TRUE(own.has_value());
  const QByteArray overload("\xef\xe5\xf0\xe5\xe3.");  // "перег." in the code page
  const QByteArray handMade =
      numericLine(7, "012") +
      line({"x", "31.12.1999", "7.05.12", "6,10", "-5", "5,", overload, " 12", "1E5", "0,5", "00", "0", "1", "2", "3",
            "E0000"}) +
      line({"\xc0\xe1", "06.12.2026", "17:05:12", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "Ok'"});
  const QByteArray bytes = *own + handMade;
  ASSERT_TRUE(load(bytes).ok);
  ASSERT_EQ(log_.count(), kRows + 3);
  EXPECT_EQ(tableFileBytes(log_), bytes);
  EXPECT_LT(double(log_.memoryUsage()) / log_.count(), 116.0) << "the day's rows in their numbers' room";
  // Cells as they were, made again or kept.
  for (const int row : {0, 1, 17, 3, kRows - 1})
    for (int c = 0; c < 16; ++c) ASSERT_EQ(cell(c, row + 1), day.cell(row, c)) << "row " << row << " column " << c;
  EXPECT_EQ(cell(0, kRows + 1), QStringLiteral("7"));
  EXPECT_EQ(cell(3, kRows + 1), QStringLiteral("012"));
  EXPECT_EQ(cell(2, kRows + 2), QStringLiteral("7.05.12"));
  EXPECT_EQ(cell(3, kRows + 2), QStringLiteral("6,10"));
  EXPECT_EQ(cell(6, kRows + 2), QString::fromUtf16(u"перег."));
  EXPECT_EQ(cell(7, kRows + 2), QStringLiteral(" 12"));
  EXPECT_EQ(cell(15, kRows + 2), QStringLiteral("E0000"));
  EXPECT_EQ(cell(0, kRows + 3), QString::fromUtf16(u"Аб"));
}

TEST_F(TableFilesTest, ColumnsThreeToFourteenGoToTheCurvesInChannelOrder) {
  QList<QByteArray> cells{"0", "d", "t"};
  for (int i = 0; i < 12; ++i) cells << QByteArray::number(100 + i) + ",5";
  cells << "E0012";
  const TableLoadResult r = load(line({"h"}) + line(cells));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.pointsLoaded, 1);
  // Tg O2 CO NO NO2 SO2 H2S CO2 NOx Qa Alf Ta
  for (int ch = 0; ch < 12; ++ch) EXPECT_DOUBLE_EQ(log_.plottedValue(0, ch), 100.5 + ch);
}

TEST_F(TableFilesTest, ALineThatCannotBeReadLeavesNoRowAndNoPoint) {
  QList<QByteArray> bad{"2", "d", "t", "1", "2", "3", "4", "5", "6,7.1", "7", "8", "9", "10", "11", "12", "Ok'"};
  const TableLoadResult r =
      load(line({"h"}) + numericLine(0, "1") + numericLine(1, "2") + line(bad) + numericLine(3, "4"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.linesLoaded, 3);
  ASSERT_EQ(log_.count(), 2);
  EXPECT_EQ(cell(0, 2), QStringLiteral("1"));
  for (int ch = 0; ch < 12; ++ch) EXPECT_EQ(log_.plottedValue(1, ch), 2);
}

TEST_F(TableFilesTest, LinesCutByTheReadChunksAreJoined) {
  // Well over one read chunk, with lines of uneven length.
  QByteArray file = line({"h"});
  const int rows = 12000;
  for (int i = 0; i < rows; ++i) file += numericLine(i, QByteArray::number(i % 977) + "," + QByteArray::number(i % 7));
  ASSERT_GT(file.size(), 1 << 20);
  const TableLoadResult r = load(file);
  EXPECT_TRUE(r.ok);
  ASSERT_EQ(log_.count(), rows);
  for (int i = 0; i < rows; ++i) {
    ASSERT_DOUBLE_EQ(log_.plottedValue(i, channel::Ta), (i % 977) + (i % 7) / 10.0) << i;
    ASSERT_EQ(cell(0, i + 1), QString::number(i)) << i;
  }
  EXPECT_EQ(*tableFileBytes(log_), file);
}

TEST_F(TableFilesTest, ALoadAnnouncesItselfOnceNotRowByRow) {
  int resets = 0, appends = 0;
  QObject::connect(&log_, &ResultsLog::reset, [&] { ++resets; });
  QObject::connect(&log_, &ResultsLog::rowsAppended, [&] { ++appends; });
  QByteArray file = line({"h"});
  for (int i = 0; i < 100; ++i) file += numericLine(i, "1");
  EXPECT_TRUE(load(file).ok);
  EXPECT_EQ(log_.count(), 100);
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(appends, 0);
}

TEST_F(TableFilesTest, AMissingFileFailsAndLeavesTheClearedTable) {
  log_.append(Result{});
  const TableLoadResult r = loadTableFile(path(QStringLiteral("missing.kvx")), log_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.linesLoaded, 0);
  EXPECT_TRUE(log_.isEmpty());
  EXPECT_EQ(cell(0, 0), QStringLiteral(u"Номер"));
}

}  // namespace
