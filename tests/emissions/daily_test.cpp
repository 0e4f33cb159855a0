// Daily averages: the local calendar day, the mean of its valid intervals,
// valid with at most 5/48 of the intervals invalid; days of 23 and 25 hours
// at the clock changes keep the allowance of an ordinary day.

#include <gtest/gtest.h>

#include "emissions/emission_engine.h"
#include "emissions_support.h"

namespace {

using namespace emissions_test;

constexpr int kPeriod = 60;  // one result a minute keeps the days small

// A full day of results with CO 100 mg/m3, but 150 in the first interval and
// nothing in the last `invalid` intervals.
QVector<Result> dayResults(QDate day, const AveragingConfig& cfg, int invalid) {
  const QVector<qint64> starts = dayIntervalStarts(day, cfg);
  const int perInterval = cfg.intervalMinutes * 60 / kPeriod;
  QVector<Result> r;
  for (int i = 0; i < starts.size() - invalid; ++i) {
    // The first interval holds only the needed two thirds, so a mean over
    // results would weigh it less than a mean over intervals does.
    const int n = i == 0 ? (perInterval * 2 + 2) / 3 : perInterval;
    appendResults(r, starts[i], n, kPeriod, cfg.zone, {3, coPpmFor(i == 0 ? 150 : 100)});
  }
  return r;
}

DailyAverage day(QDate d, const AveragingConfig& cfg, int invalid) {
  return computeDays(dayResults(d, cfg, invalid), cfg, d, d).value(0);
}

TEST(EmissionDailyAverages, MeanOfTheValidIntervalsValidWithFiveOfFortyEightInvalid) {
  const QTimeZone zone = berlin();
  const QDate d(2025, 1, 15);
  const AveragingConfig cfg = config(zone, 30, kPeriod);

  const DailyAverage five = day(d, cfg, 5);
  ASSERT_EQ(five.intervals.size(), 48);
  EXPECT_EQ(five.intervals.first().startLocal(), QDateTime(d, QTime(0, 0), zone));
  EXPECT_EQ(five.intervals.last().endLocal(), QDateTime(d.addDays(1), QTime(0, 0), zone));
  EXPECT_EQ(five[Component::CO].count, 43);
  EXPECT_EQ(five.invalidIntervals[size_t(index(Component::CO))], 5);
  EXPECT_TRUE(five[Component::CO].valid);
  EXPECT_NEAR(five[Component::CO].mean, (150 + 42 * 100) / 43.0, 1e-9);

  const DailyAverage six = day(d, cfg, 6);
  EXPECT_FALSE(six[Component::CO].valid);
  EXPECT_NEAR(six[Component::CO].mean, (150 + 41 * 100) / 42.0, 1e-9);
}

TEST(EmissionDailyAverages, OtherIntervalLengthsAllowTheSameShareRoundedDown) {
  const QTimeZone zone = QTimeZone::utc();
  const QDate d(2025, 1, 15);
  const struct {
    int minutes;
    int allowed;
  } cases[] = {{10, 15}, {15, 10}, {30, 5}, {60, 2}};
  for (const auto& k : cases) {
    const AveragingConfig cfg = config(zone, k.minutes, kPeriod);
    EXPECT_EQ(allowedInvalidIntervals(k.minutes), k.allowed) << k.minutes;
    EXPECT_TRUE(day(d, cfg, k.allowed)[Component::CO].valid) << k.minutes;
    EXPECT_FALSE(day(d, cfg, k.allowed + 1)[Component::CO].valid) << k.minutes;
  }
}

TEST(EmissionDailyAverages, TheSpringForwardDayHas46HalfHoursAndStillAllowsFiveInvalid) {
  const QTimeZone zone = berlin();
  const QDate d(2025, 3, 30);  // 02:00 CET becomes 03:00 CEST
  const AveragingConfig cfg = config(zone, 30, kPeriod);

  const DailyAverage five = day(d, cfg, 5);
  ASSERT_EQ(five.intervals.size(), 46);
  EXPECT_EQ(five.intervals[3].startLocal().toString(Qt::ISODate),
            QStringLiteral("2025-03-30T01:30:00+01:00"));
  EXPECT_EQ(five.intervals[3].endLocal().toString(Qt::ISODate),
            QStringLiteral("2025-03-30T03:00:00+02:00"));
  EXPECT_EQ(five.intervals[4].startLocal().toString(Qt::ISODate),
            QStringLiteral("2025-03-30T03:00:00+02:00"));
  EXPECT_EQ(five.endUtcMs - five.startUtcMs, qint64(23) * 3600000);
  EXPECT_TRUE(five[Component::CO].valid);
  EXPECT_NEAR(five[Component::CO].mean, (150 + 40 * 100) / 41.0, 1e-9);
  EXPECT_FALSE(day(d, cfg, 6)[Component::CO].valid);

  // The neighbours are ordinary days and share no interval with it.
  const QVector<DailyAverage> three = computeDays({}, cfg, d.addDays(-1), d.addDays(1));
  ASSERT_EQ(three.size(), 3);
  EXPECT_EQ(three[0].intervals.size(), 48);
  EXPECT_EQ(three[0].endUtcMs, three[1].startUtcMs);
  EXPECT_EQ(three[1].endUtcMs, three[2].startUtcMs);
  EXPECT_EQ(three[2].intervals.size(), 48);
}

TEST(EmissionDailyAverages, TheFallBackDayHas50HalfHoursAndStillAllowsFiveInvalid) {
  const QTimeZone zone = berlin();
  const QDate d(2025, 10, 26);  // 03:00 CEST becomes 02:00 CET
  const AveragingConfig cfg = config(zone, 30, kPeriod);

  const DailyAverage five = day(d, cfg, 5);
  ASSERT_EQ(five.intervals.size(), 50);
  QStringList labels;
  for (int i = 4; i < 8; ++i) labels << five.intervals[i].startLocal().toString(Qt::ISODate);
  EXPECT_EQ(labels, QStringList({QStringLiteral("2025-10-26T02:00:00+02:00"),
                                 QStringLiteral("2025-10-26T02:30:00+02:00"),
                                 QStringLiteral("2025-10-26T02:00:00+01:00"),
                                 QStringLiteral("2025-10-26T02:30:00+01:00")}));
  EXPECT_EQ(five.endUtcMs - five.startUtcMs, qint64(25) * 3600000);
  EXPECT_TRUE(five[Component::CO].valid);
  EXPECT_NEAR(five[Component::CO].mean, (150 + 44 * 100) / 45.0, 1e-9);
  EXPECT_FALSE(day(d, cfg, 6)[Component::CO].valid);

  // The running engine closes the same 25-hour day.
  EmissionEngine engine(cfg, {});
  QVector<DailyAverage> closed;
  for (const Result& r : dayResults(d, cfg, 0)) closed += engine.addResult(r).completedDays;
  closed += engine.advanceTo(five.endUtcMs).completedDays;
  ASSERT_EQ(closed.size(), 1);
  EXPECT_EQ(closed[0].date, d);
  EXPECT_EQ(closed[0].intervals.size(), 50);
  EXPECT_TRUE(closed[0][Component::CO].valid);
  EXPECT_EQ(closed[0][Component::CO].count, 50);
}

}  // namespace
