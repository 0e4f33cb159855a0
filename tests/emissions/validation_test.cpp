// Validated averages: the worked checks of the regulation profiles (the
// confidence interval subtracted, the invalid hours a day allows, the QAL2
// function and its range, a faulted result left out), the statuses and
// their priority, the plant rule, and "no regulation" giving the averages
// exactly as they were computed before statuses existed.

#include <gtest/gtest.h>

#include "emissions/emission_engine.h"
#include "emissions/emission_settings.h"
#include "emissions/result_status.h"
#include "emissions_support.h"

namespace {

using namespace emissions_test;

constexpr int kPeriod = 60;  // a result a minute
const QDate kDay(2025, 1, 15);

double noxPpmFor(double mg) { return mg / kMgPerPpmNO2; }

AveragingConfig regulated(RegulationProfile p, const QTimeZone& zone = QTimeZone::utc()) {
  AveragingConfig c = config(zone, 30, kPeriod);
  c.validation.profile = p;
  c.validation.dailyLimit[size_t(index(Component::NOx))] = 200;
  c.validation.dailyLimit[size_t(index(Component::CO))] = 50;
  c.validation.monitored = {true, true, true, true};
  return c.sanitized();
}

// A day of results a minute apart, each made by `make(minute of the day)`.
template <typename Make>
QVector<Result> dayOf(const AveragingConfig& cfg, Make make) {
  QVector<Result> out;
  const qint64 start = at(kDay, QTime(0, 0), cfg.zone);
  for (int m = 0; m < 24 * 60; ++m) out.append(make(m, result(start + qint64(m) * 60000, cfg.zone, {})));
  return out;
}

TEST(ValidatedAverages, The17BImSchVConfidenceIntervalIsTakenOffEachAverageAndNeverBelowZero) {
  const AveragingConfig cfg = regulated(RegulationProfile::WasteIncineration);
  EXPECT_EQ(cfg.intervalMinutes, 30);
  EXPECT_DOUBLE_EQ(cfg.validation.confidenceInterval(Component::NOx), 40);  // 20 % of 200
  EXPECT_DOUBLE_EQ(cfg.validation.confidenceInterval(Component::CO), 5);    // 10 % of 50
  EXPECT_DOUBLE_EQ(cfg.validation.confidenceInterval(Component::SO2), 0);   // no daily limit

  const QVector<Result> results = dayOf(cfg, [](int, Result r) {
    r.values[channel::NO] = noxPpmFor(150);
    r.values[channel::CO] = coPpmFor(4);
    return r;
  });
  const DailyAverage day = computeDays(results, cfg, kDay, kDay).value(0);
  ASSERT_EQ(day.intervals.size(), 48);
  const ComponentAverage& nox = day.intervals[20][Component::NOx];
  EXPECT_TRUE(nox.valid);
  EXPECT_NEAR(nox.measured, 150, 1e-9);
  EXPECT_DOUBLE_EQ(nox.ci, 40);
  EXPECT_NEAR(nox.mean, 110, 1e-9);  // reported
  const ComponentAverage& co = day.intervals[20][Component::CO];
  EXPECT_NEAR(co.measured, 4, 1e-9);
  EXPECT_EQ(co.mean, 0);  // 4 - 5 is below 0

  EXPECT_TRUE(day[Component::NOx].valid);
  EXPECT_NEAR(day[Component::NOx].measured, 150, 1e-9);
  EXPECT_NEAR(day[Component::NOx].mean, 110, 1e-9);
  EXPECT_EQ(day[Component::CO].mean, 0);
  EXPECT_EQ(day[Component::NOx].reason, ValidityReason::Enough);
}

TEST(ValidatedAverages, ALargeCombustionPlantsDayAllowsThreeHoursLostToMalfunctionNotFour) {
  const AveragingConfig cfg = regulated(RegulationProfile::LargeCombustion);
  EXPECT_EQ(cfg.intervalMinutes, 60);  // hourly averages
  for (int faultyHours : {3, 4}) {
    SCOPED_TRACE(faultyHours);
    const QVector<Result> results = dayOf(cfg, [faultyHours](int m, Result r) {
      r.values[channel::NO] = noxPpmFor(100);
      if (m / 60 >= 8 && m / 60 < 8 + faultyHours) r.faultBits = 0x0008;  // CO sensor
      return r;
    });
    const DailyAverage day = computeDays(results, cfg, kDay, kDay).value(0);
    ASSERT_EQ(day.intervals.size(), 24);
    const ComponentAverage& faulty = day.intervals[8][Component::NOx];
    EXPECT_FALSE(faulty.valid);
    EXPECT_EQ(faulty.reason, ValidityReason::TooFew);
    EXPECT_EQ(faulty.count, 0);  // a result with a fault word is not counted ...
    EXPECT_EQ(faulty.invalid[size_t(InvalidReason::Fault)], 60);  // ... but counted as a fault
    EXPECT_EQ(day.countedInvalid[size_t(index(Component::NOx))], faultyHours);
    EXPECT_EQ(day.allowedInvalid, 3);
    EXPECT_EQ(day[Component::NOx].invalid[size_t(InvalidReason::Fault)], faultyHours);
    EXPECT_EQ(day[Component::NOx].valid, faultyHours == 3);
    EXPECT_EQ(day[Component::NOx].reason, faultyHours == 3 ? ValidityReason::Enough : ValidityReason::TooManyInvalid);
  }
}

TEST(ValidatedAverages, HoursThePlantDidNotOperateDoNotCountAgainstTheDay) {
  AveragingConfig cfg = regulated(RegulationProfile::LargeCombustion);
  cfg.validation.plant = {PlantRule::Source::O2, 19, 10};
  // Stopped from 02:00 to 08:00: O2 of air. The rule waits ten minutes.
  const QVector<Result> results = dayOf(cfg, [](int m, Result r) {
    r.values[channel::NO] = noxPpmFor(100);
    if (m >= 120 && m < 480) r.values[channel::O2] = 20.9;
    return r;
  });
  const QVector<ResultStatus> statuses = judgedStatuses(results, cfg.validation);
  EXPECT_EQ(statuses[129], ResultStatus::Valid);  // nine minutes above: still operating
  EXPECT_EQ(statuses[130], ResultStatus::PlantOff);
  EXPECT_EQ(statuses[480], ResultStatus::Valid);  // back at once

  const DailyAverage day = computeDays(results, cfg, kDay, kDay).value(0);
  const ComponentAverage& first = day.intervals[2][Component::NOx];  // 02:00, ten minutes still operating
  EXPECT_EQ(first.reason, ValidityReason::NotOperating);
  EXPECT_EQ(first.invalid[size_t(InvalidReason::PlantOff)], 50);
  EXPECT_EQ(first.invalid[size_t(InvalidReason::NoValue)], 10);  // air at the probe
  EXPECT_EQ(day.invalidIntervals[size_t(index(Component::NOx))], 6);
  EXPECT_EQ(day.countedInvalid[size_t(index(Component::NOx))], 0);
  EXPECT_TRUE(day[Component::NOx].valid);

  // Without the rule the same hours are lost measurements: the day is invalid.
  cfg.validation.plant = {};
  EXPECT_FALSE(computeDays(results, cfg, kDay, kDay).value(0)[Component::NOx].valid);
}

TEST(ValidatedAverages, TheQal2FunctionComesBeforeTheConversionAndHoldsUpTo110PercentOfItsRange) {
  Qal2Calibration cal;
  cal.set = true;
  cal.a = 2;
  cal.b = 1.05;
  cal.highest = 300;
  EXPECT_DOUBLE_EQ(cal.apply(100), 107);
  EXPECT_DOUBLE_EQ(*cal.validUpTo(), 330);
  EXPECT_TRUE(cal.outside(340));
  EXPECT_FALSE(cal.outside(330));

  ValidationConfig v;
  v.profile = RegulationProfile::WasteIncineration;
  v.calibration[size_t(index(Component::CO))] = cal;
  Result r = result(0, QTimeZone::utc(), {6, 100});
  const ComponentValue co = evaluate(r, Component::CO, contentsStatus(r, v), 3.0, v);
  EXPECT_DOUBLE_EQ(*co.raw, 100);
  EXPECT_DOUBLE_EQ(*co.calibrated, 107);
  EXPECT_DOUBLE_EQ(*co.mg, 107 * kMgPerPpmCO);
  EXPECT_DOUBLE_EQ(*co.atReference, 107 * kMgPerPpmCO * 18 / 15);
  EXPECT_TRUE(co.counted);

  r.values[channel::CO] = 340;
  EXPECT_EQ(contentsStatus(r, v), ResultStatus::OutOfRange);
  const ComponentValue high = evaluate(r, Component::CO, contentsStatus(r, v), 3.0, v);
  EXPECT_TRUE(high.outsideRange);
  EXPECT_EQ(high.status, ResultStatus::OutOfRange);
  EXPECT_TRUE(high.counted);  // valid, only flagged
  // NOx has no calibration: its status stays valid in the same result.
  EXPECT_EQ(evaluate(r, Component::NOx, contentsStatus(r, v), 3.0, v).status, ResultStatus::Valid);
}

TEST(ValidatedAverages, WetGasIsMadeDryAndThe17BImSchVCorrectsOnlyAboveTheReferenceO2) {
  ValidationConfig v;
  v.profile = RegulationProfile::WasteIncineration;
  v.gas = {GasBasis::Wet, 10};
  const Result r = result(0, QTimeZone::utc(), {9, 90});
  const ComponentValue co = evaluate(r, Component::CO, ResultStatus::Valid, 11.0, v);
  EXPECT_DOUBLE_EQ(*co.dry, 100);  // 90 * 100 / (100 - 10)
  EXPECT_DOUBLE_EQ(*co.o2, 10);
  EXPECT_DOUBLE_EQ(*co.factor, 1);  // 10 % is below the reference 11 %: not corrected
  EXPECT_DOUBLE_EQ(*co.atReference, 100 * kMgPerPpmCO);

  v.o2CorrectionOnlyAbove = false;  // the permit says otherwise
  EXPECT_DOUBLE_EQ(*evaluate(r, Component::CO, ResultStatus::Valid, 11.0, v).factor, 10.0 / 11);
  v.profile = RegulationProfile::LargeCombustion;
  v.o2CorrectionOnlyAbove.reset();
  EXPECT_DOUBLE_EQ(*evaluate(r, Component::CO, ResultStatus::Valid, 11.0, v).factor, 10.0 / 11);
}

TEST(ResultStatuses, TheHighestApplyingStatusWins) {
  ValidationConfig v;
  v.monitored = {true, true, false, false};
  v.calibration[0] = {true, 0, 1, {}, {}, 100};
  const Result plain = result(0, QTimeZone::utc(), {5, 50, 20});
  Result faulty = plain;
  faulty.faultBits = 0x0200;
  Result outside = plain;
  outside.values[channel::CO] = 120;
  Result noH2s = plain;  // a code in a component no limit watches
  noH2s.values[channel::H2S] = kCodeNoValue;
  Result noCo = plain;
  noCo.values[channel::CO] = kCodeError;

  const struct {
    const char* what;
    Result r;
    StatusInputs in;
    ResultStatus expected;
  } cases[] = {
      {"valid", plain, {}, ResultStatus::Valid},
      {"zero setting over all", faulty, {AnalyzerState::ZeroSetting, false, false, true, true}, ResultStatus::Test},
      {"test gas", plain, {AnalyzerState::Measuring, true, true, false, false}, ResultStatus::Test},
      {"plant off over a fault", faulty, {AnalyzerState::Measuring, false, false, true, false}, ResultStatus::PlantOff},
      {"fault over maintenance", faulty, {AnalyzerState::Measuring, false, true, true, false}, ResultStatus::Fault},
      {"a code in a monitored channel", noCo, {}, ResultStatus::Fault},
      {"a code in an unwatched channel", noH2s, {}, ResultStatus::Valid},
      {"maintenance over out of range", outside, {AnalyzerState::Measuring, false, true, true, false},
       ResultStatus::Maintenance},
      {"substitute", plain, {AnalyzerState::Measuring, false, true, false, true}, ResultStatus::Substitute},
      {"out of range", outside, {}, ResultStatus::OutOfRange},
  };
  for (const auto& k : cases) EXPECT_EQ(decideStatus(k.r, k.in, v), k.expected) << k.what;
  // A stored row keeps what was decided and is raised by what it holds.
  Result stored = faulty;
  stored.status = ResultStatus::Maintenance;
  EXPECT_EQ(storedStatus(stored, v), ResultStatus::Fault);
  stored.status = ResultStatus::Test;
  EXPECT_EQ(storedStatus(stored, v), ResultStatus::Test);
  EXPECT_EQ(storedStatus(plain, v), ResultStatus::Valid);
}

TEST(ResultStatuses, ThePlantSwitchAndTheO2RuleFollowTheirStates) {
  PlantOperation byO2({PlantRule::Source::O2, 18, 5});
  const qint64 m = 60000;
  EXPECT_TRUE(byO2.observe(0, 8));
  EXPECT_TRUE(byO2.observe(1 * m, 19));  // above: watched
  EXPECT_EQ(byO2.state(), PlantOperation::State::O2High);
  EXPECT_TRUE(byO2.observe(2 * m, kCodeOverload / 100));  // no reading changes nothing
  EXPECT_TRUE(byO2.observe(5 * m, 20));
  EXPECT_FALSE(byO2.observe(6 * m, 20));  // five minutes above
  EXPECT_FALSE(byO2.observe(7 * m, 18.5));
  EXPECT_TRUE(byO2.observe(8 * m, 18));  // at the threshold: operating
  EXPECT_TRUE(byO2.observe(9 * m, 19));
  EXPECT_TRUE(byO2.observe(13 * m, 19));  // the watch started again at 9
  EXPECT_FALSE(byO2.observe(14 * m, 19));

  PlantOperation bySwitch({PlantRule::Source::Switch, 18, 5});
  EXPECT_TRUE(bySwitch.observe(0, 20.9));
  bySwitch.setSwitch(false);
  EXPECT_FALSE(bySwitch.observe(m, 5));
  EXPECT_TRUE(PlantOperation().observe(0, 20.9));  // no rule: always operating
}

TEST(ValidatedAverages, NoRegulationGivesTheAveragesExactlyAsBeforeStatuses) {
  // The averages as they were computed before: every converted value that
  // exists counts, whatever the fault word says.
  const QTimeZone zone = berlin();
  const AveragingConfig cfg = config(zone, 30, 10);
  QVector<Result> results;
  unsigned seed = 7;
  const qint64 start = at(kDay, QTime(6, 0), zone);
  for (int i = 0; i < 6 * 360; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const double n = (seed >> 8) % 10000 / 10000.0;
    Result r = result(start + qint64(i) * 10000, zone, {4 + 5 * n, 40 + 90 * n, 60 * n, 3 * n, 30 * n, n});
    if (i % 97 == 0) r.faultBits = 0x0040;
    if (i % 53 == 0) r.values[channel::SO2] = kCodeOverload;
    if (i % 71 == 0) r.values[channel::O2] = 20.4;
    if (i % 89 == 0) r.status = ResultStatus::Maintenance;
    results.append(r);
  }
  const qint64 from = start, to = start + 6 * 3600 * 1000;
  const QVector<IntervalAverage> now = computeIntervals(results, cfg, from, to);
  ASSERT_EQ(now.size(), 12);
  for (int k = 0; k < now.size(); ++k) {
    std::array<double, kComponentCount> sums{};
    std::array<int, kComponentCount> counts{};
    for (const Result& r : results) {
      if (r.utcMs < now[k].startUtcMs || r.utcMs >= now[k].endUtcMs) continue;
      const EmissionValues v = convert(r, cfg.o2RefByFuel);
      for (size_t i = 0; i < v.size(); ++i) {
        if (!v[i]) continue;
        sums[i] += *v[i];
        ++counts[i];
      }
    }
    for (Component c : kComponents) {
      const size_t i = size_t(index(c));
      EXPECT_EQ(now[k][c].count, counts[i]) << k;
      EXPECT_EQ(now[k][c].mean, sums[i] / counts[i]) << k << componentName(c);  // bit for bit
      EXPECT_EQ(now[k][c].ci, 0);
    }
  }
}

TEST(ValidatedAverages, TheRunningEngineAgreesWithARecomputationUnderAProfile) {
  AveragingConfig cfg = regulated(RegulationProfile::MediumCombustion);
  cfg.validation.plant = {PlantRule::Source::O2, 19, 10};
  const QVector<Result> results = dayOf(cfg, [](int m, Result r) {
    r.values[channel::NO] = noxPpmFor(80 + m % 60);
    r.values[channel::CO] = coPpmFor(3 + m % 7);
    if (m >= 300 && m < 420) r.values[channel::O2] = 20.8;
    if (m >= 600 && m < 640) r.faultBits = 1;
    if (m >= 900 && m < 915) r.status = ResultStatus::Maintenance;
    return r;
  });
  EmissionEngine engine(cfg, {});
  QVector<IntervalAverage> live;
  for (const Result& r : results) live += engine.addResult(r).completedIntervals;
  EngineUpdate end = engine.advanceTo(at(kDay.addDays(1), QTime(0, 0), cfg.zone));
  live += end.completedIntervals;
  ASSERT_EQ(end.completedDays.size(), 1);
  const DailyAverage again = computeDays(results, cfg, kDay, kDay).value(0);
  ASSERT_EQ(live.size(), again.intervals.size());
  for (int k = 0; k < live.size(); ++k) {
    for (Component c : kComponents) {
      EXPECT_EQ(live[k][c].mean, again.intervals[k][c].mean) << k;
      EXPECT_EQ(live[k][c].invalid, again.intervals[k][c].invalid) << k;
      EXPECT_EQ(live[k][c].reason, again.intervals[k][c].reason) << k;
    }
  }
  const DailyAverage& day = end.completedDays[0];
  EXPECT_EQ(day[Component::NOx].mean, again[Component::NOx].mean);
  EXPECT_EQ(day.allowedInvalid, 6);  // 44. BImSchV
  EXPECT_EQ(again.intervals[20][Component::NOx].invalid[size_t(InvalidReason::Fault)], 30);
  EXPECT_EQ(again.intervals[30][Component::NOx].invalid[size_t(InvalidReason::Maintenance)], 15);
}

TEST(CalibrationWeeks, ANewQal2IsDueAfterFiveWeeksAbove5PercentOrOneAbove40) {
  QVector<RangeWeek> weeks;
  const QDate monday(2025, 1, 6);
  for (int w = 0; w < 4; ++w) addToWeek(weeks, monday.addDays(7 * w + 2), 1000, 60);  // 6 %
  addToWeek(weeks, monday.addDays(7 * 4), 1000, 50);                                // 5 %: not above
  ASSERT_EQ(weeks.size(), 5);
  EXPECT_EQ(weeks[1].monday, monday.addDays(7));
  EXPECT_FALSE(checkCalibration(weeks).due());
  addToWeek(weeks, monday.addDays(7 * 4 + 6), 0, 1);  // Sunday of the same week
  EXPECT_EQ(checkCalibration(weeks).weeksOverMark, 5);
  EXPECT_TRUE(checkCalibration(weeks).due());
  EXPECT_FALSE(checkCalibration(weeks, monday.addDays(8)).due());  // a new QAL2 since

  QVector<RangeWeek> one;
  addToWeek(one, monday, 100, 41);
  const CalibrationCheck strong = checkCalibration(one);
  EXPECT_TRUE(strong.due());
  EXPECT_EQ(strong.firstOverStrong, monday);
}

}  // namespace
