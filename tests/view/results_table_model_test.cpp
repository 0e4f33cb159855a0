#include "view/results_table_model.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <string>

#include "data/results_log.h"
#include "platform/seams.h"
#include "storage/table_files.h"

namespace {

TEST(ResultsTableModelTest, OneEmptyRowStandsForNoResultsUntilTheFirstFillsIt) {
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  ResultsLog log;
  ResultsTableModel model(log);
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(model.columnCount(), 17);  // the log's 16 and the status
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

TEST(ResultsTableModelTest, AVeryLongCellIsDrawnCutButStaysWholeInTheLogAndTheFile) {
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  ResultsLog log;
  ResultsTableModel model(log);
  // A megabyte in the date column, "\xC4" being the code page's "Д".
  const std::string huge = "\xC4" + std::string(1 << 20, 'x');
  const std::string cells = "7\t" + huge + "\t10:00\t185\t6,1";
  log.beginLoad();
  log.setHeaderCells(huge, 1);
  log.appendLoaded(ChannelValues{}, cells);
  log.endLoad();

  const QString shown = model.data(model.index(0, 1), Qt::DisplayRole).toString();
  ASSERT_EQ(shown.size(), kShownCellLength + 1);
  EXPECT_EQ(shown.left(kShownCellLength), QStringLiteral(u"Д") + QString(kShownCellLength - 1, QLatin1Char('x')));
  EXPECT_EQ(shown.back(), QChar(0x2026));
  const QString heading = model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString();
  EXPECT_EQ(heading, shown);
  // The short cells as they are.
  EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), QStringLiteral("7"));
  EXPECT_EQ(model.data(model.index(0, 4), Qt::DisplayRole).toString(), QStringLiteral("6,1"));

  // The value itself stays whole, and so does the file written from it.
  EXPECT_EQ(log.cell(0, 1).size(), qsizetype(huge.size()));
  EXPECT_EQ(log.header(0).size(), qsizetype(huge.size()));
  const auto bytes = tableFileBytes(log);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_TRUE(bytes->contains(QByteArray::fromStdString("\n" + cells + "\t")));
  EXPECT_TRUE(bytes->startsWith(QByteArray::fromStdString(huge + "\t")));
  seams::resetAll();
}

// Each taken result shows the status it was taken with, what does not count
// in the averages in red; a row of a data file has none, and saving the table
// writes no status into the file.
TEST(ResultsTableModelTest, TheStatusColumnShowsEachTakenResultsStatusAndNoneForAFilesRow) {
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  ResultsLog log;
  ResultsTableModel model(log);
  log.beginLoad();
  log.appendLoaded(ChannelValues{}, "1\t01.02.2026\t10:00\t185");
  log.endLoad();
  Result r;
  r.values[channel::Tg] = 185;
  r.status = ResultStatus::Maintenance;
  log.append(r);
  r.status = ResultStatus::OutOfRange;
  log.append(r);

  ASSERT_EQ(model.rowCount(), 3);
  EXPECT_TRUE(model.data(model.index(0, kStatusColumn), Qt::DisplayRole).isNull());
  EXPECT_EQ(model.data(model.index(1, kStatusColumn), Qt::DisplayRole).toString(), QStringLiteral(u"ТО"));
  EXPECT_TRUE(model.data(model.index(1, kStatusColumn), Qt::ForegroundRole).isValid());
  // Outside the calibrated range still counts: flagged, not red.
  EXPECT_EQ(model.data(model.index(2, kStatusColumn), Qt::DisplayRole).toString(), QStringLiteral(u"ВД"));
  EXPECT_FALSE(model.data(model.index(2, kStatusColumn), Qt::ForegroundRole).isValid());

  const auto bytes = tableFileBytes(log);
  ASSERT_TRUE(bytes.has_value());
  for (const QByteArray& line : bytes->split('\n')) {
    EXPECT_LE(line.count('\t'), kResultColumnCount) << line.toStdString();
  }
  seams::resetAll();
}

TEST(ResultsTableModelTest, ACutCellKeepsWholeCharactersAndAFittingOneIsNotCut) {
  const QString fits(kShownCellLength, QLatin1Char('a'));
  EXPECT_EQ(shownText(fits), fits);
  EXPECT_EQ(shownText(fits + QLatin1Char('b')), fits + QChar(0x2026));
  // A character of two UTF-16 units across the limit goes whole.
  const QString pair = QString(kShownCellLength - 1, QLatin1Char('a')) + QString::fromUtf16(u"\U0001F600") +
                       QLatin1Char('b');
  EXPECT_EQ(shownText(pair), QString(kShownCellLength - 1, QLatin1Char('a')) + QChar(0x2026));
}

}  // namespace
