// Averages computed again from the results database: over results it cannot
// read there is no average, neither shown as one nor stored.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "data/result_store.h"
#include "emissions/stored_averages.h"
#include "emissions_support.h"

namespace {

using namespace emissions_test;

TEST(StoredAverages, NoAverageIsComputedOrStoredOverResultsTheDatabaseCannotRead) {
  const QTimeZone zone = QTimeZone::utc();
  const QDate day(2025, 1, 15);
  const AveragingConfig cfg = config(zone, 30, 1);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = QDir(dir.path()).filePath(QStringLiteral("korvex.db"));
  // Six hours of results a second, every half hour valid.
  {
    QVector<Result> results;
    appendResults(results, at(day, QTime(0, 0), zone), 6 * 3600, 1, zone, {3, coPpmFor(100)});
    ResultStore store;
    ASSERT_TRUE(store.open(path, 0).isWritable());
    ASSERT_EQ(store.appendBatch(std::vector<Result>(results.begin(), results.end())).state,
              ResultStore::AppendState::Committed);
  }
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.seek(file.size() / 2 / 4096 * 4096));
  ASSERT_EQ(file.write(QByteArray(1024, '\x5a')), 1024);
  file.close();

  ResultStore store;
  ASSERT_TRUE(store.open(path, 0).isWritable());
  const DailyAverage d = recomputeDay(store, day, cfg);
  ASSERT_EQ(d.intervals.size(), 48);
  int unreadable = 0;
  for (int i = 0; i < 12; ++i) {
    const IntervalAverage& iv = d.intervals[i];
    if (iv.unreadable) {
      ++unreadable;
      EXPECT_EQ(iv[Component::CO].count, 0) << "interval " << i;
      EXPECT_FALSE(iv[Component::CO].valid) << "interval " << i;
    } else {
      // Those before the damage and after it alike, read whole.
      EXPECT_EQ(iv.resultCount, 1800) << "interval " << i;
      EXPECT_TRUE(iv[Component::CO].valid) << "interval " << i;
      EXPECT_NEAR(iv[Component::CO].mean, 100, 1e-9) << "interval " << i;
    }
  }
  EXPECT_GE(unreadable, 1);
  EXPECT_LE(unreadable, 2);
  EXPECT_TRUE(d.unreadable);
  EXPECT_EQ(d[Component::CO].count, 0) << "no day's average over the damage";
  EXPECT_FALSE(d[Component::CO].valid);

  // What is stored leaves them out, the day's average too.
  const QVector<StoredAverage> stored = storedForm(d, 30, {});
  EXPECT_EQ(stored.size(), 48 - unreadable);
  for (const StoredAverage& s : stored) {
    EXPECT_EQ(s.period, AveragePeriodKind::Interval);
    for (const IntervalAverage& iv : d.intervals) {
      if (iv.unreadable) {
        EXPECT_NE(s.startUtcMs, iv.startUtcMs);
      }
    }
  }
}

}  // namespace
