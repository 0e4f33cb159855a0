#pragma once
// The averages as results arrive: the running interval, each completed
// interval and day, and the alarms they latch. Feed it the results in time
// order; times come in as parameters, it reads no clock.

#include <QDate>
#include <QVector>
#include <optional>

#include "emissions/alarms.h"
#include "emissions/averaging.h"
#include "emissions/result_status.h"

namespace emissions {

// What one step completed, in time order.
struct EngineUpdate {
  bool accepted = true;  // false: the result lies before the running interval and was ignored
  QVector<IntervalAverage> completedIntervals;  // empty intervals of a gap included
  QVector<DailyAverage> completedDays;
  QVector<AlarmEvent> events;
};

class EmissionEngine {
 public:
  // A longer gap (clock set far ahead, weeks without results) closes the
  // running interval and day without reporting every empty one in between.
  static constexpr qint64 kMaxFilledGapMs = qint64(40) * 24 * 3600 * 1000;

  // The config's interval length and zone hold for the engine's life; for
  // another interval length start a new engine and replay the day's results.
  EmissionEngine(const AveragingConfig& config, const AlarmLimits& limits);

  // Completes what ended at or before the result's time, then counts it,
  // with its stored status raised by what it holds and the plant's O2 rule.
  EngineUpdate addResult(const Result& r);
  // Completes the intervals (and days) that ended at or before `utcMs`
  // without a result: a lost link closes its intervals on time, as invalid.
  // Does nothing before the first result.
  EngineUpdate advanceTo(qint64 utcMs);

  std::optional<IntervalAverage> runningInterval() const;
  const std::optional<IntervalAverage>& lastCompletedInterval() const { return lastInterval_; }
  const std::optional<DailyAverage>& lastCompletedDay() const { return lastDay_; }
  // The local day of the running interval and its intervals completed so
  // far (invalid before the first result).
  QDate day() const { return day_; }
  const QVector<IntervalAverage>& dayIntervals() const { return dayIntervals_; }

  const AlarmLatches& alarms() const { return alarms_; }
  std::optional<AlarmEvent> acknowledge(const AlarmKey& key, qint64 utcMs);
  QVector<AlarmEvent> acknowledgeAll(qint64 utcMs);

  // New limits apply from the next completed average on.
  void setLimits(const AlarmLimits& limits) { limits_ = limits; }
  const AlarmLimits& limits() const { return limits_; }
  const AveragingConfig& config() const { return config_; }

 private:
  void open(qint64 startUtcMs);
  void advance(qint64 utcMs, EngineUpdate& u);
  void closeInterval(EngineUpdate& u);
  void closeDay(EngineUpdate& u);

  AveragingConfig config_;
  AlarmLimits limits_;
  AlarmLatches alarms_;
  PlantOperation plant_;  // the O2 rule, replayed over the results as they come
  std::optional<IntervalAccumulator> running_;
  QDate day_;
  QVector<IntervalAverage> dayIntervals_;  // completed intervals of day_
  std::optional<IntervalAverage> lastInterval_;
  std::optional<DailyAverage> lastDay_;
};

}  // namespace emissions
