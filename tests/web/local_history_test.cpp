// The pages' history of the line's analyzers: each analyzer's results,
// events and averaging from its own database and basis, none from another's.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

#include "data/result_store.h"
#include "web/local_history.h"

namespace {

void fill(const QString& path, int results, double tg) {
  ResultStore store;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  ASSERT_TRUE(store.open(path, now, ResultStore::WhenLocked::Refuse).isWritable());
  std::vector<Result> rows;
  for (int i = results; i > 0; --i) {
    Result r;
    r.utcMs = now - qint64(i) * 60000;
    r.values[channel::Tg] = tg;
    rows.push_back(r);
  }
  store.appendBatch(rows);
  store.appendEvent(now - 1000, 0, EventKind::LinkLost, QStringLiteral(u"Прибор не отвечает"));
}

TEST(LocalHistoryTest, EachAnalyzerOfTheLineReadsItsOwnDatabaseAndBasis) {
  ResultStore::setDurableForTesting(false);
  QTemporaryDir dir;
  const QString first = dir.filePath(QStringLiteral("korvex.db")), second = dir.filePath(QStringLiteral("korvex-2.db"));
  fill(first, 3, 100);
  fill(second, 5, 200);
  web::LocalHistory history(first, web::AnalyzerInfo{QStringLiteral("a"), QString(), QString(), 1});
  history.addAnalyzer(second, web::AnalyzerInfo{QStringLiteral("b"), QString(), QString(), 9});
  emissions::AveragingConfig thirty, ten;
  thirty.intervalMinutes = 30;
  ten.intervalMinutes = 10;
  history.setBasis(thirty, {});
  history.setBasis(ten, {}, QStringLiteral("b"));

  ASSERT_EQ(history.analyzers().size(), 2);
  EXPECT_EQ(history.analyzers()[1].address, 9);
  const qint64 all = std::numeric_limits<qint64>::max();
  const std::vector<StoredResult> a = history.results(QStringLiteral("a"), 0, all);
  const std::vector<StoredResult> b = history.results(QStringLiteral("b"), 0, all);
  ASSERT_EQ(a.size(), size_t(3));
  ASSERT_EQ(b.size(), size_t(5));
  EXPECT_EQ(a[0].result.values[channel::Tg], 100);
  EXPECT_EQ(b[0].result.values[channel::Tg], 200);
  EXPECT_TRUE(history.results(QStringLiteral("c"), 0, all).empty());
  EXPECT_EQ(history.events(QStringLiteral("b"), 0, all, 10).size(), 1);
  EXPECT_TRUE(history.events(QStringLiteral("c"), 0, all, 10).isEmpty());
  EXPECT_EQ(history.intervalMinutes(QStringLiteral("a")), 30);
  EXPECT_EQ(history.intervalMinutes(QStringLiteral("b")), 10);
}

}  // namespace
