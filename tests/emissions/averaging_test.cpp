// Interval averages: cut on the UTC clock, labelled in local time, valid with
// two thirds of the expected results; the same from the running engine as
// from a recomputation.

#include <gtest/gtest.h>

#include "emissions/emission_engine.h"
#include "emissions_support.h"

namespace {

using namespace emissions_test;

const QDate kWinterDay(2025, 1, 15);

TEST(EmissionIntervals, AResultAtExactlyTheBoundaryOpensTheNextInterval) {
  const QTimeZone zone = berlin();
  const AveragingConfig cfg = config(zone, 30, 1);
  const QVector<Result> results = {
      result(at(kWinterDay, QTime(10, 29, 59, 999), zone), zone, {3, coPpmFor(100)}),
      result(at(kWinterDay, QTime(10, 30, 0), zone), zone, {3, coPpmFor(200)}),
  };

  const QVector<IntervalAverage> iv = computeIntervals(
      results, cfg, at(kWinterDay, QTime(10, 0), zone), at(kWinterDay, QTime(11, 0), zone));
  ASSERT_EQ(iv.size(), 2);
  EXPECT_EQ(iv[0].resultCount, 1);
  EXPECT_NEAR(iv[0][Component::CO].mean, 100, 1e-9);
  EXPECT_EQ(iv[1].resultCount, 1);
  EXPECT_NEAR(iv[1][Component::CO].mean, 200, 1e-9);
  EXPECT_EQ(iv[1].startLocal(), QDateTime(kWinterDay, QTime(10, 30), zone));
  EXPECT_EQ(iv[1].startOffset, 3600);

  // The running engine closes the first interval with that result.
  EmissionEngine engine(cfg, {});
  EXPECT_TRUE(engine.addResult(results[0]).completedIntervals.isEmpty());
  const EngineUpdate u = engine.addResult(results[1]);
  ASSERT_EQ(u.completedIntervals.size(), 1);
  EXPECT_EQ(u.completedIntervals[0].endUtcMs, results[1].utcMs);
  EXPECT_EQ(u.completedIntervals[0].resultCount, 1);
  EXPECT_EQ(engine.runningInterval()->startUtcMs, results[1].utcMs);
}

TEST(EmissionIntervals, CutOnTheUtcClockNotOnTheLocalOne) {
  // India is 5:30 ahead of UTC: hours on the UTC clock start at half past.
  const QTimeZone zone("Asia/Kolkata");
  ASSERT_TRUE(zone.isValid());
  const qint64 t = at(kWinterDay, QTime(10, 45), zone);
  const QVector<IntervalAverage> iv =
      computeIntervals({result(t, zone, {3, 80})}, config(zone, 60, 1), t, t + 1);
  ASSERT_EQ(iv.size(), 1);
  EXPECT_EQ(iv[0].startLocal().time(), QTime(10, 30));
  EXPECT_EQ(iv[0].endLocal().time(), QTime(11, 30));
  EXPECT_EQ(iv[0].startOffset, 19800);
}

TEST(EmissionIntervals, ValidWithTwoThirdsOfTheExpectedResultsAndNotOneLess) {
  const QTimeZone zone = QTimeZone::utc();
  const qint64 start = at(kWinterDay, QTime(8, 0), zone);
  // 30 minutes at one result per 10 s: 180 expected, 120 needed.
  const AveragingConfig cfg = config(zone, 30, 10);
  auto interval = [&](int valid, int invalid) {
    QVector<Result> r;
    appendResults(r, start, valid, 10, zone, {3, 80});
    appendResults(r, start + qint64(valid) * 10000, invalid, 10, zone, {20.5, 8000});
    return computeIntervals(r, cfg, start, start + 1).value(0);
  };
  const IntervalAverage enough = interval(120, 0);
  EXPECT_TRUE(enough[Component::CO].valid);
  EXPECT_EQ(enough[Component::CO].count, 120);

  // Present but invalid results (O2 over 20 %) count neither to the rule nor
  // to the mean.
  const IntervalAverage short1 = interval(119, 61);
  EXPECT_FALSE(short1[Component::CO].valid);
  EXPECT_EQ(short1.resultCount, 180);
  EXPECT_EQ(short1[Component::CO].count, 119);
  EXPECT_NEAR(short1[Component::CO].mean, 100, 1e-9);

  // A period that does not divide the interval: 1800 / 7 = 257.14 expected,
  // two thirds = 171.43, so 172 are needed.
  EXPECT_TRUE(intervalIsValid(172, 30, 7));
  EXPECT_FALSE(intervalIsValid(171, 30, 7));
  EXPECT_TRUE(intervalIsValid(1200, 30, 1));
  EXPECT_FALSE(intervalIsValid(1199, 30, 1));
}

TEST(EmissionIntervals, AGapFromALostLinkMakesIntervalsInvalidAndEmptyOnesAreReported) {
  const QTimeZone zone = berlin();
  const AveragingConfig cfg = config(zone, 30, 1);
  const qint64 t10 = at(kWinterDay, QTime(10, 0), zone);
  const qint64 minute = 60000;
  QVector<Result> r;
  // 10:00-10:30 loses 11 minutes (1140 of 1800 results; 1200 needed),
  // 10:30-11:00 is complete, 11:00-11:30 has nothing, 11:30 comes back.
  appendResults(r, t10, 5 * 60, 1, zone, {3, 80});
  appendResults(r, t10 + 16 * minute, 14 * 60, 1, zone, {3, 80});
  appendResults(r, t10 + 30 * minute, 30 * 60, 1, zone, {3, 80});
  appendResults(r, t10 + 90 * minute, 60, 1, zone, {3, 80});

  const QVector<IntervalAverage> iv = computeIntervals(r, cfg, t10, t10 + 120 * minute);
  ASSERT_EQ(iv.size(), 4);
  EXPECT_EQ(iv[0].resultCount, 1140);
  EXPECT_FALSE(iv[0][Component::CO].valid);
  EXPECT_TRUE(iv[1][Component::CO].valid);
  EXPECT_EQ(iv[2].resultCount, 0);
  EXPECT_EQ(iv[2].startLocal(), QDateTime(kWinterDay, QTime(11, 0), zone));
  for (Component c : kComponents) EXPECT_FALSE(iv[2][c].valid) << componentName(c);

  // The engine closes the intervals of the gap on time, without a result.
  EmissionEngine engine(cfg, {});
  for (int i = 0; i < 1140 + 1800; ++i) engine.addResult(r[i]);
  const EngineUpdate u = engine.advanceTo(t10 + 90 * minute);
  ASSERT_EQ(u.completedIntervals.size(), 2);
  EXPECT_TRUE(u.completedIntervals[0][Component::CO].valid);
  EXPECT_EQ(u.completedIntervals[1].resultCount, 0);
  EXPECT_FALSE(u.completedIntervals[1][Component::CO].valid);
  EXPECT_EQ(engine.lastCompletedInterval()->startUtcMs, t10 + 60 * minute);
}

TEST(EmissionIntervals, TheEngineAgreesWithARecomputationOfTheDay) {
  const QTimeZone zone = berlin();
  const AveragingConfig cfg = config(zone, 15, 10);
  QVector<Result> r;
  const qint64 start = at(kWinterDay, QTime(0, 0), zone);
  unsigned seed = 7;
  for (qint64 t = start; t < start + 86400000; t += 10000) {
    seed = seed * 1103515245u + 12345u;
    const int noise = int(seed >> 16) % 100;
    if (t >= start + 3 * 3600000 && t < start + 3 * 3600000 + 700000) continue;  // link lost
    Gas g{5 + noise / 50.0, 50.0 + noise, 100, 5, 20, double(noise % 3)};
    if (noise == 42) g.o2 = 20.1;
    if (noise == 13) g.co = kCodeOverload;
    r.append(result(t, zone, g));
  }

  EmissionEngine engine(cfg, {});
  QVector<IntervalAverage> intervals;
  QVector<DailyAverage> days;
  auto take = [&](const EngineUpdate& u) {
    EXPECT_TRUE(u.accepted);
    intervals += u.completedIntervals;
    days += u.completedDays;
  };
  for (const Result& x : r) take(engine.addResult(x));
  take(engine.addResult(result(start + 86400000 + 5000, zone, {})));

  // A result from before the running interval is refused and changes nothing.
  const auto running = engine.runningInterval();
  EXPECT_FALSE(engine.addResult(r.last()).accepted);
  EXPECT_EQ(engine.runningInterval()->resultCount, running->resultCount);

  const QVector<DailyAverage> expected = computeDays(r, cfg, kWinterDay, kWinterDay);
  ASSERT_EQ(days.size(), 1);
  ASSERT_EQ(intervals.size(), 96);
  ASSERT_EQ(expected[0].intervals.size(), 96);
  for (int i = 0; i < 96; ++i) {
    const IntervalAverage& a = intervals[i];
    const IntervalAverage& b = expected[0].intervals[i];
    EXPECT_EQ(a.startUtcMs, b.startUtcMs);
    EXPECT_EQ(a.resultCount, b.resultCount);
    for (Component c : kComponents) {
      EXPECT_DOUBLE_EQ(a[c].mean, b[c].mean) << i << componentName(c);
      EXPECT_EQ(a[c].count, b[c].count) << i << componentName(c);
      EXPECT_EQ(a[c].valid, b[c].valid) << i << componentName(c);
    }
  }
  EXPECT_FALSE(intervals[12][Component::CO].valid);  // the gap
  for (Component c : kComponents) {
    EXPECT_DOUBLE_EQ(days[0][c].mean, expected[0][c].mean) << componentName(c);
    EXPECT_EQ(days[0][c].valid, expected[0][c].valid) << componentName(c);
  }
}

}  // namespace
