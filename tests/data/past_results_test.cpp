// Results appended with times in the past (substitute values entered for a
// span the link was lost in, a day before included): every reader gives
// them back in time order among those taken before and after them, also
// after the file was opened again; nothing stored before changes.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

#include "data/result_store.h"

namespace {

constexpr qint64 kPeriodMs = 10000;

Result at(const QDateTime& t, double co, ResultStatus status = ResultStatus::Valid) {
  Result r;
  r.utcMs = t.toMSecsSinceEpoch();
  r.utcOffset = 3 * 3600;
  r.values[channel::O2] = 6;
  r.values[channel::CO] = co;
  r.status = status;
  return r;
}

QDateTime local(const QDate& d, const QTime& t) { return QDateTime(d, t, QTimeZone(3 * 3600)); }

std::vector<qint64> times(const std::vector<StoredResult>& rows) {
  std::vector<qint64> out;
  for (const StoredResult& r : rows) out.push_back(r.result.utcMs);
  return out;
}

TEST(PastResults, AppendedLaterComeBackInTimeOrderFromEveryReaderAndLeaveTheOthersAsTheyWere) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = QDir(dir.path()).filePath(QStringLiteral("korvex.db"));
  const QDate day(2026, 12, 8), before = day.addDays(-1);
  ResultStore store;
  ASSERT_TRUE(store.open(path, 0).isWritable());
  // 10:00-10:10 and 10:30-10:40 taken; the link was lost between.
  std::vector<Result> live;
  for (int i = 0; i < 60; ++i) live.push_back(at(local(day, QTime(10, 0)).addMSecs(i * kPeriodMs), 1));
  for (int i = 0; i < 60; ++i) live.push_back(at(local(day, QTime(10, 30)).addMSecs(i * kPeriodMs), 2));
  ASSERT_EQ(store.appendBatch(live).state, ResultStore::AppendState::Committed);
  const std::vector<StoredResult> taken = store.results(0, std::numeric_limits<qint64>::max());
  ASSERT_EQ(taken.size(), 120u);

  // The gap filled afterwards, and a span of the day before (around midnight
  // by the local clock: that day's results, not this one's).
  std::vector<Result> gap;
  for (int i = 0; i < 120; ++i)
    gap.push_back(at(local(day, QTime(10, 10)).addMSecs(i * kPeriodMs), 9, ResultStatus::Substitute));
  ASSERT_EQ(store.appendBatch(gap).state, ResultStore::AppendState::Committed);
  std::vector<Result> earlier;
  for (int i = 0; i < 6; ++i)
    earlier.push_back(at(local(before, QTime(23, 59)).addMSecs(i * kPeriodMs), 8, ResultStatus::Substitute));
  ASSERT_EQ(store.appendBatch(earlier).state, ResultStore::AppendState::Committed);
  // Measuring goes on.
  ASSERT_EQ(store.append(at(local(day, QTime(10, 40)), 3)).state, ResultStore::AppendState::Committed);

  const auto check = [&](const ResultStore& s) {
    const qint64 from = local(day, QTime(10, 0)).toMSecsSinceEpoch(), to = local(day, QTime(11, 0)).toMSecsSinceEpoch();
    const std::vector<StoredResult> hour = s.results(from, to);
    ASSERT_EQ(hour.size(), 241u);
    for (size_t i = 0; i < hour.size(); ++i) ASSERT_EQ(hour[i].result.utcMs, from + qint64(i) * kPeriodMs) << i;
    EXPECT_EQ(hour[60].result.status, ResultStatus::Substitute);
    EXPECT_EQ(hour[60].seq, 121);  // numbered after everything before it
    // What was there before reads back as it was, under its own numbers.
    std::vector<StoredResult> old;
    for (const StoredResult& r : hour)
      if (r.seq <= 120) old.push_back(r);
    ASSERT_EQ(old.size(), taken.size());
    for (size_t i = 0; i < old.size(); ++i) {
      EXPECT_EQ(old[i].seq, taken[i].seq);
      EXPECT_EQ(old[i].result.values, taken[i].result.values);
      EXPECT_EQ(old[i].result.status, ResultStatus::Valid);
    }
    // A range inside the gap holds only what filled it.
    const std::vector<StoredResult> inGap =
        s.results(local(day, QTime(10, 15)).toMSecsSinceEpoch(), local(day, QTime(10, 16)).toMSecsSinceEpoch());
    ASSERT_EQ(inGap.size(), 6u);
    for (const StoredResult& r : inGap) EXPECT_EQ(r.result.status, ResultStatus::Substitute);
    // The day's readers: today's from 10:00 on, in order; yesterday's six.
    const std::vector<StoredResult> today = s.resultsOnDay(day);
    EXPECT_EQ(times(today), times(hour));
    std::vector<qint64> streamed;
    s.forEachResultOnDay(day, [&](const StoredResult& r) { streamed.push_back(r.result.utcMs); });
    EXPECT_EQ(streamed, times(hour));
    const std::vector<StoredResult> yesterday = s.resultsOnDay(before);
    ASSERT_EQ(yesterday.size(), 6u);
    EXPECT_TRUE(std::is_sorted(yesterday.begin(), yesterday.end(),
                               [](const StoredResult& a, const StoredResult& b) { return a.result.utcMs < b.result.utcMs; }));
    EXPECT_TRUE(s.daysWithResults().contains(before));
  };
  check(store);
  store.close();
  ResultStore reopened;
  ASSERT_TRUE(reopened.openForReading(path).isOpen());
  check(reopened);
}

}  // namespace
