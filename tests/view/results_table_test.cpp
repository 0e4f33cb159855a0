#include <gtest/gtest.h>

#include <QSignalSpy>
#include <string>

#include "view/results_table.h"

namespace {

// A row as a day's log holds it: about 80 characters.
QStringList TypicalRow(int n) {
  return {QString::number(n), QStringLiteral("06.12.2026"), QStringLiteral("17:05:12"),
          QStringLiteral("185"), QStringLiteral("6,1"), QStringLiteral("42"), QStringLiteral("118"),
          QStringLiteral("3"), QStringLiteral("0"), QStringLiteral(u"перег."), QStringLiteral("10,75"),
          QStringLiteral("121"), QStringLiteral("7,512"), QStringLiteral("1,41"), QStringLiteral("21"),
          QStringLiteral("Ok'")};
}

TEST(ResultsTableTest, RowZeroIsTheHeaderAndTheViewShowsTheRowsBelowIt) {
  ResultsTable t;
  t.SetRowCount(3);
  t.SetCell(0, 0, QStringLiteral(u"Номер"));
  t.SetRow(1, TypicalRow(0));
  t.SetRow(2, TypicalRow(1));
  EXPECT_EQ(t.rowCount(), 2);
  EXPECT_EQ(t.columnCount(), 16);
  EXPECT_EQ(t.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral(u"Номер"));
  EXPECT_EQ(t.data(t.index(0, 9), Qt::DisplayRole).toString(), QStringLiteral(u"перег."));
  EXPECT_EQ(t.data(t.index(1, 0), Qt::DisplayRole).toString(), QStringLiteral("1"));
  EXPECT_EQ(t.Row(2), TypicalRow(1));
  EXPECT_FALSE(t.flags(t.index(0, 0)).testFlag(Qt::ItemIsEditable));
}

TEST(ResultsTableTest, CellsBeyondSixteenAndTabsInsideACellAreDropped) {
  ResultsTable t;
  t.SetRowCount(2);
  t.SetRowText(1, "a\tb\tc\td\te\tf\tg\th\ti\tj\tk\tl\tm\tn\to\tp\tq\tr");
  EXPECT_EQ(t.Cells(15, 1), QStringLiteral("p"));
  EXPECT_EQ(t.RowText(1), std::string_view("a\tb\tc\td\te\tf\tg\th\ti\tj\tk\tl\tm\tn\to\tp"));
  t.SetCell(3, 1, QStringLiteral("x\ty"));
  EXPECT_EQ(t.Cells(3, 1), QStringLiteral("x y"));
  EXPECT_EQ(t.Cells(4, 1), QStringLiteral("e"));
  // Short rows read as empty cells, never as anything else.
  t.SetRowText(1, "only");
  EXPECT_EQ(t.Cells(0, 1), QStringLiteral("only"));
  EXPECT_TRUE(t.Cells(5, 1).isEmpty());
  EXPECT_EQ(t.Row(1).size(), 16);
}

TEST(ResultsTableTest, AppendingAnnouncesOneRowAtTheEnd) {
  ResultsTable t;
  t.SetRowCount(2);
  QSignalSpy inserted(&t, &QAbstractItemModel::rowsInserted);
  QSignalSpy changed(&t, &QAbstractItemModel::dataChanged);
  const int row = t.AddRow();
  t.SetRow(row, TypicalRow(1));
  ASSERT_EQ(inserted.size(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 1);
  EXPECT_EQ(inserted[0][2].toInt(), 1);
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 1);
}

TEST(ResultsTableTest, BulkLoadingAnnouncesOneResetOnly) {
  ResultsTable t;
  QSignalSpy reset(&t, &QAbstractItemModel::modelReset);
  QSignalSpy inserted(&t, &QAbstractItemModel::rowsInserted);
  t.BeginUpdate();
  for (int r = 0; r < 100; ++r) {
    t.SetRowCount(r + 1);
    t.SetRow(r, TypicalRow(r));
  }
  t.EndUpdate();
  EXPECT_EQ(reset.size(), 1);
  EXPECT_EQ(inserted.size(), 0);
  EXPECT_EQ(t.rowCount(), 99);
}

TEST(ResultsTableTest, ADayOfResultsTakesLessThanTwoHundredBytesARow) {
  ResultsTable t;
  t.SetRowCount(2);
  t.SetRow(0, TypicalRow(-1));
  t.SetRow(1, TypicalRow(0));
  const int rows = 86400;
  for (int n = 1; n < rows; ++n) t.SetRow(t.AddRow(), TypicalRow(n));
  EXPECT_EQ(t.RowCount(), rows + 1);
  EXPECT_LT(t.MemoryUsage(), size_t(rows) * 200);
  EXPECT_EQ(t.Row(rows), TypicalRow(rows - 1));
  EXPECT_EQ(t.Row(43210), TypicalRow(43209));
  EXPECT_EQ(t.Cells(9, 5), QStringLiteral(u"перег."));

  // Clearing gives the memory back and keeps the header.
  t.SetRowCount(2);
  t.SetRow(1, QStringList());
  EXPECT_LT(t.MemoryUsage(), size_t(200) * 1024);
  EXPECT_EQ(t.Row(0), TypicalRow(-1));
  EXPECT_TRUE(t.Cells(0, 1).isEmpty());
}

TEST(ResultsTableTest, RewritingRowsKeepsMemoryBoundedAndContentsRight) {
  ResultsTable t;
  t.SetRowCount(1001);
  for (int pass = 0; pass < 50; ++pass)
    for (int r = 0; r <= 1000; ++r) t.SetRow(r, TypicalRow(r + pass));
  EXPECT_LT(t.MemoryUsage(), size_t(1001) * 400);
  for (int r : {0, 1, 500, 1000}) EXPECT_EQ(t.Row(r), TypicalRow(r + 49));
}

TEST(ResultsTableTest, ARowLongerThanABlockIsKeptWhole) {
  ResultsTable t;
  t.SetRowCount(3);
  t.SetRow(1, TypicalRow(1));
  const QString huge(200000, QLatin1Char('x'));
  QStringList row = TypicalRow(2);
  row[5] = huge;
  t.SetRow(2, row);
  EXPECT_EQ(t.Cells(5, 2), huge);
  EXPECT_EQ(t.Cells(6, 2), QStringLiteral("118"));
  EXPECT_EQ(t.Row(1), TypicalRow(1));
  t.SetRow(t.AddRow(), TypicalRow(3));
  EXPECT_EQ(t.Row(3), TypicalRow(3));
}

}  // namespace
