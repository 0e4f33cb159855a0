#include "view/results_table_model.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include "data/results_log.h"
#include "platform/seams.h"

namespace {

TEST(ResultsTableModelTest, OneEmptyRowStandsForNoResultsUntilTheFirstFillsIt) {
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  ResultsLog log;
  ResultsTableModel model(log);
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.columnCount(), 16);
  EXPECT_TRUE(model.data(model.index(0, 0), Qt::DisplayRole).toString().isEmpty());
  EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral(u"Номер"));
  EXPECT_FALSE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsEditable));

  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  Result r;
  r.values[channel::Tg] = 185;
  log.append(r);
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(inserted.size(), 0);
  ASSERT_EQ(changed.size(), 1);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), 0);
  EXPECT_EQ(model.data(model.index(0, 3), Qt::DisplayRole).toString(), QStringLiteral("185"));

  log.append(r);
  EXPECT_EQ(model.rowCount(), 2);
  ASSERT_EQ(inserted.size(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 1);
  EXPECT_EQ(inserted[0][2].toInt(), 1);
  EXPECT_EQ(model.data(model.index(1, 0), Qt::DisplayRole).toString(), QStringLiteral("1"));

  log.clear();
  EXPECT_EQ(reset.size(), 1);
  EXPECT_EQ(model.rowCount(), 1);
  seams::resetAll();
}

}  // namespace
