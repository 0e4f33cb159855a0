// Substitute values: where they go in a span (only where nothing counting
// was stored), what they are refused for, and how the averages and their
// explanation take them.

#include <gtest/gtest.h>


#include "device/register_map.h"
#include "emissions/classification.h"
#include "emissions/explanation.h"
#include "emissions/result_status.h"
#include "emissions/substitutes.h"
#include "emissions_support.h"

namespace {

using namespace emissions_test;

const QDate kDay(2026, 12, 7);

ValidationConfig wasteIncineration() {
  ValidationConfig v;
  v.profile = RegulationProfile::WasteIncineration;
  v.monitored[size_t(index(Component::CO))] = true;
  v.dailyLimit[size_t(index(Component::CO))] = 50;
  return v;
}

SubstituteEntry entry(qint64 from, qint64 to) {
  SubstituteEntry e;
  e.fromUtcMs = from;
  e.toUtcMs = to;
  e.values[channel::O2] = 3;
  e.values[channel::CO] = coPpmFor(20);
  e.reason = QStringLiteral(u"Связь с прибором потеряна, значения по резервному прибору");
  return e;
}

std::vector<StoredResult> stored(const QVector<Result>& results) {
  std::vector<StoredResult> out;
  qint64 seq = 0;
  for (const Result& r : results) out.emplace_back(++seq, r);
  return out;
}

TEST(Substitutes, FillOnlyTheExpectedTimesWithoutAResultThatCountsAndAreAveragedAsSubstitutes) {
  const QTimeZone zone = QTimeZone::utc();
  const qint64 start = at(kDay, QTime(10, 0), zone);
  const ValidationConfig v = wasteIncineration();
  // Within 10:00-10:30 (a result expected every 10 s): a valid result a
  // little after 10:00, a faulty one at 10:05, one under maintenance at
  // 10:06, a valid one 8 s before the span ends; the rest was lost.
  QVector<Result> taken;
  taken << result(start + 3000, zone, {3, coPpmFor(10)});
  Result faulty = result(start + 300000, zone, {3, coPpmFor(10)});
  faulty.faultBits = 4;
  Result maintenance = result(start + 360000, zone, {3, coPpmFor(10)});
  maintenance.status = ResultStatus::Maintenance;
  taken << faulty << maintenance << result(start + 1792000, zone, {3, coPpmFor(10)});

  SubstituteBasis basis;
  basis.periodSeconds = 10;
  basis.zone = zone;
  basis.address = 7;
  basis.fuel = builtInFuelTable()[0];
  const SubstituteEntry e = entry(start, start + 1800000);
  const std::vector<Result> added = substituteResults(e, stored(taken), basis, v);
  // 180 expected, 10:00:00 and 10:29:50 taken by the valid results near them.
  ASSERT_EQ(added.size(), 178u);
  EXPECT_EQ(added.front().utcMs, start + 10000);
  EXPECT_EQ(added.back().utcMs, start + 1780000);  // 10:29:40
  EXPECT_TRUE(std::any_of(added.begin(), added.end(), [&](const Result& r) { return r.utcMs == faulty.utcMs; }));
  EXPECT_TRUE(std::any_of(added.begin(), added.end(), [&](const Result& r) { return r.utcMs == maintenance.utcMs; }));
  for (size_t i = 1; i < added.size(); ++i) ASSERT_LT(added[i - 1].utcMs, added[i].utcMs);
  const Result& s = added.front();
  EXPECT_EQ(s.status, ResultStatus::Substitute);
  EXPECT_EQ(s.address, 7);
  EXPECT_EQ(s[channel::CO], coPpmFor(20));
  // What was not entered is the analyzer's "no value"; the derived channels as decoding computes them.
  EXPECT_EQ(specialCode(channel::SO2, s[channel::SO2]), SpecialCode::NoValue);
  std::array<double, kChannelCount> derived = s.values;
  deriveChannels(derived, basis.fuel);
  EXPECT_EQ(derived, s.values);
  EXPECT_EQ(storedStatus(s, v), ResultStatus::Substitute);

  // The interval counts them (two thirds of 180 needed) and says how many were substitutes.
  QVector<Result> all = taken;
  all += QVector<Result>(added.begin(), added.end());
  AveragingConfig cfg = config(zone, 30, 10);
  cfg.validation = v;
  const QVector<IntervalAverage> intervals = computeIntervals(all, cfg, start, start + 1800000);
  ASSERT_EQ(intervals.size(), 1);
  const ComponentAverage& co = intervals[0][Component::CO];
  EXPECT_TRUE(co.valid);
  EXPECT_EQ(co.count, 180);
  EXPECT_EQ(co.substitutes, 178);
  EXPECT_EQ(co.invalid[size_t(InvalidReason::Fault)], 1);
  EXPECT_EQ(co.invalid[size_t(InvalidReason::Maintenance)], 1);
  EXPECT_NEAR(co.measured, (2 * 10 + 178 * 20) / 180.0, 1e-9);
  // The explanation lists each substitute with its status, counted.
  const QVector<AverageExplanation> explained = explainInterval(all, start, cfg);
  ASSERT_FALSE(explained.isEmpty());
  int listed = 0;
  for (const ExplainedResult& r : explained[0].results) {
    if (r.resultStatus != ResultStatus::Substitute) continue;
    ++listed;
    EXPECT_TRUE(r.value.counted);
    EXPECT_EQ(r.value.status, ResultStatus::Substitute);
  }
  EXPECT_EQ(listed, 178);

  // Entered again over the same span: every slot is filled, nothing is added.
  EXPECT_TRUE(substituteResults(e, stored(all), basis, v).empty());
}

TEST(Substitutes, CountInTheClassificationAsSubstitutesButNotInTheCalibrationsRangeWeeks) {
  const QTimeZone zone = QTimeZone::utc();
  ValidationConfig v = wasteIncineration();
  Qal2Calibration& cal = v.calibration[size_t(index(Component::CO))];
  cal.set = true;
  cal.highest = 10;  // valid up to 11 ppm
  cal.date = kDay.addDays(-30);
  AveragingConfig cfg = config(zone, 30, 60);
  cfg.validation = v;
  // A day: half-hours 0-23 measured within the range, 24-47 lost and filled
  // with a value beyond the calibrated range (what a backup instrument read).
  QVector<Result> all;
  appendResults(all, at(kDay, QTime(0, 0), zone), 720, 60, zone, {3, 5});
  SubstituteEntry e = entry(at(kDay, QTime(12, 0), zone), at(kDay.addDays(1), QTime(0, 0), zone));
  e.values[channel::CO] = 40;
  SubstituteBasis basis;
  basis.periodSeconds = 60;
  basis.zone = zone;
  basis.fuel = builtInFuelTable()[0];
  const std::vector<Result> added = substituteResults(e, stored(all), basis, v);
  ASSERT_EQ(added.size(), 720u);
  all += QVector<Result>(added.begin(), added.end());
  const QVector<DailyAverage> days = computeDays(all, cfg, kDay, kDay);
  ASSERT_EQ(days.size(), 1);
  EXPECT_TRUE(days[0][Component::CO].valid);
  const ComponentSummary s = summarize(days, AlarmLimits{}, v)[size_t(index(Component::CO))];
  EXPECT_EQ(s.shortTermValid, 48);
  EXPECT_EQ(s.resultsCounted, 1440);
  EXPECT_EQ(s.substitutes, 720);
  // Beyond the range they would make the whole week's half; the week holds the readings only.
  EXPECT_EQ(s.outOfRange, 0);
  ASSERT_EQ(s.weeks.size(), 1);
  EXPECT_EQ(s.weeks[0].values, 720);
  EXPECT_EQ(s.weeks[0].outside, 0);
  EXPECT_FALSE(s.calibration.due());
}

TEST(Substitutes, AreRefusedForAFutureOrEmptySpanAnEmptyReasonAndAValueMissingOrImpossible) {
  const ValidationConfig v = wasteIncineration();
  const qint64 now = at(kDay, QTime(12, 0), QTimeZone::utc());
  int field = 0;
  SubstituteEntry e = entry(now - 3600000, now);
  EXPECT_TRUE(substituteProblem(e, v, now, &field).isEmpty());

  SubstituteEntry future = entry(now - 3600000, now + 60000);
  EXPECT_TRUE(substituteProblem(future, v, now, &field).contains(QStringLiteral(u"в будущем")));
  EXPECT_EQ(field, -1);
  EXPECT_FALSE(substituteProblem(entry(now, now), v, now).isEmpty());
  EXPECT_TRUE(substituteProblem(entry(now - qint64(kMaxSubstituteDays) * 86400000, now), v, now).isEmpty());
  EXPECT_FALSE(substituteProblem(entry(now - qint64(kMaxSubstituteDays) * 86400000 - 60000, now), v, now).isEmpty());

  SubstituteEntry noReason = e;
  noReason.reason = QStringLiteral("  \t ");
  EXPECT_TRUE(substituteProblem(noReason, v, now, &field).contains(QStringLiteral(u"причину")));

  // CO is monitored: needed; SO2 is not.
  SubstituteEntry noCo = e;
  noCo.values[channel::CO].reset();
  noCo.values[channel::SO2] = 5;
  EXPECT_FALSE(substituteProblem(noCo, v, now, &field).isEmpty());
  EXPECT_EQ(field, int(channel::CO));
  SubstituteEntry noO2 = e;
  noO2.values[channel::O2].reset();
  EXPECT_FALSE(substituteProblem(noO2, v, now, &field).isEmpty());
  EXPECT_EQ(field, int(channel::O2));
  // An analyzer's code or a negative reading is no value it could have given.
  for (double bad : {-1.0, kCodeNoValue, std::nan("")}) {
    SubstituteEntry wrong = e;
    wrong.values[channel::CO] = bad;
    EXPECT_FALSE(substituteProblem(wrong, v, now, &field).isEmpty()) << bad;
    EXPECT_EQ(field, int(channel::CO));
  }
  SubstituteEntry o2High = e;
  o2High.values[channel::O2] = 22;
  EXPECT_FALSE(substituteProblem(o2High, v, now).isEmpty());
}

}  // namespace
