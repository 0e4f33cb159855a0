#include "data/results_log.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QSignalSpy>
#include <string>

#include "platform/seams.h"

namespace {

using namespace channel;

class ResultsLogTest : public ::testing::Test {
 protected:
  void SetUp() override { seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia)); }
  void TearDown() override { seams::resetAll(); }

  // A result of a gas boiler taken `seconds` after 17:05:12 on 6 December 2026.
  static Result taken(int seconds, double co = 42) {
    const QDateTime at = QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)).addSecs(seconds);
    Result r;
    r.utcMs = at.toMSecsSinceEpoch();
    r.utcOffset = at.offsetFromUtc();
    r.faultBits = 0x12;
    r.values = {185, 6.1, co, 118, 3, 0, 32768, 10.95, 121, 8.72, 1.41, 24};
    return r;
  }

  ResultsLog log_;
};

TEST_F(ResultsLogTest, ATakenResultsCellsAreMadeFromItsNumbersWhenAsked) {
  QSignalSpy appended(&log_, &ResultsLog::rowsAppended);
  EXPECT_FALSE(log_.unsaved());
  log_.append(taken(0));
  log_.append(taken(1));
  ASSERT_EQ(appended.size(), 2);
  EXPECT_EQ(appended[1][0].toInt(), 1);
  EXPECT_EQ(appended[1][1].toInt(), 1);
  EXPECT_TRUE(log_.unsaved());
  EXPECT_EQ(log_.cells(1), (QStringList{QStringLiteral("1"), QStringLiteral("06.12.2026"), QStringLiteral("17:05:13"),
                                        QStringLiteral("185"), QStringLiteral("6,1"), QStringLiteral("42"),
                                        QStringLiteral("118"), QStringLiteral("3"), QStringLiteral("0"),
                                        QStringLiteral(u"перег."), QStringLiteral("10,95"), QStringLiteral("121"),
                                        QStringLiteral("8,72"), QStringLiteral("1,41"), QStringLiteral("24"),
                                        QStringLiteral("E0012")}));
  // The numbers stay numbers, the special code too; the texts follow the locale.
  EXPECT_EQ(log_.value(1, H2S), 32768);
  EXPECT_EQ(log_.faultBits(1), 0x12);
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(log_.cell(1, 4), QStringLiteral("6.1"));
}

TEST_F(ResultsLogTest, ClearingEmptiesTheLogAndKeepsTheHeadings) {
  log_.setHeaderCells("A\tB", 2);
  log_.append(taken(0));
  QSignalSpy reset(&log_, &ResultsLog::reset);
  log_.clear();
  EXPECT_EQ(reset.size(), 1);
  EXPECT_TRUE(log_.isEmpty());
  EXPECT_FALSE(log_.unsaved());
  EXPECT_EQ(log_.header(1), QStringLiteral("B"));
  EXPECT_TRUE(log_.cell(0, 0).isEmpty());
  log_.append(taken(5));
  EXPECT_EQ(log_.cell(0, 0), QStringLiteral("0"));  // numbering starts again
}

TEST_F(ResultsLogTest, OnlyTheHeadingsOfTheCellsGivenChange) {
  QSignalSpy changed(&log_, &ResultsLog::headerChanged);
  log_.setHeaderCells("A\t\tC", 3);
  EXPECT_EQ(changed.size(), 1);
  EXPECT_EQ(log_.header(0), QStringLiteral("A"));
  EXPECT_TRUE(log_.header(1).isEmpty());  // an empty cell is a cell
  EXPECT_EQ(log_.header(2), QStringLiteral("C"));
  for (int c = 3; c < kResultColumnCount; ++c) EXPECT_EQ(log_.header(c), kResultHeaders[c]) << c;

  // No cell at all: nothing changes.
  log_.setHeaderCells({}, 0);
  EXPECT_EQ(log_.header(0), QStringLiteral("A"));
  EXPECT_EQ(log_.header(15), kResultHeaders[15]);

  // Sixteen cells replace every heading; more are not looked at.
  std::string all;
  for (int c = 0; c < 17; ++c) all += (c ? "\th" : "h") + std::to_string(c);
  log_.setHeaderCells(all, 17);
  for (int c = 0; c < kResultColumnCount; ++c) EXPECT_EQ(log_.header(c), QStringLiteral("h%1").arg(c)) << c;
}

TEST_F(ResultsLogTest, LoadedRowsKeepTheirCellsExactlyAndTakenResultsFollowThem) {
  QSignalSpy reset(&log_, &ResultsLog::reset);
  QSignalSpy appended(&log_, &ResultsLog::rowsAppended);
  log_.beginLoad();
  log_.setHeaderCells("N\tD", 2);
  // "185,0" and a hand-made note are texts the program would never write;
  // byte 0x98 has no character in the code page.
  const std::string cells = std::string("7\t01.01.2020\t10:00\t185,0\t6,1\t50000\tnote \x98");
  ChannelValues values{};
  values[Tg] = 185;
  values[CO] = 50000;
  log_.appendLoaded(values, cells);
  log_.endLoad();
  EXPECT_EQ(reset.size(), 1);
  EXPECT_EQ(appended.size(), 0);
  EXPECT_FALSE(log_.unsaved());
  EXPECT_EQ(log_.loadedCells(0), cells);
  EXPECT_EQ(log_.cell(0, 3), QStringLiteral("185,0"));
  EXPECT_EQ(log_.cell(0, 6), QString::fromUtf16(u"note \u0098"));
  EXPECT_TRUE(log_.cell(0, 7).isEmpty());
  EXPECT_EQ(log_.header(0), QStringLiteral("N"));
  EXPECT_EQ(log_.header(2), QStringLiteral(u"Время"));  // not reached by the line
  // A file's value is plotted as it was read; a taken reading through its rule.
  EXPECT_EQ(log_.plottedValue(0, CO), 50000);

  log_.append(taken(0, 50000));
  EXPECT_EQ(log_.cell(1, 0), QStringLiteral("1"));
  EXPECT_EQ(log_.plottedValue(1, CO), 0);
  EXPECT_TRUE(log_.loadedCells(1).empty());
  EXPECT_TRUE(log_.unsaved());
}

TEST_F(ResultsLogTest, ADayOfResultsTakesLessThanTwoHundredBytesARowAndReadsBackExactly) {
  const int rows = 86400;
  for (int n = 0; n < rows; ++n) log_.append(taken(n, n % 1000));
  EXPECT_LT(log_.memoryUsage(), size_t(rows) * 200);
  for (int row : {0, 4095, 4096, 43210, rows - 1}) {
    EXPECT_EQ(log_.value(row, CO), row % 1000) << row;
    EXPECT_DOUBLE_EQ(log_.dateTime(row), taken(row).localDateTime()) << row;
  }
  EXPECT_EQ(log_.cell(rows - 1, 0), QString::number(rows - 1));
  log_.clear();
  EXPECT_LT(log_.memoryUsage(), size_t(4096));
}

}  // namespace
