#include "emissions/emission_engine.h"

namespace emissions {

EmissionEngine::EmissionEngine(const AveragingConfig& config, const AlarmLimits& limits)
    : config_(config.sanitized()), limits_(limits), plant_(config_.validation.plant) {}

void EmissionEngine::open(qint64 startUtcMs) { running_.emplace(startUtcMs, config_.intervalMs()); }

EngineUpdate EmissionEngine::addResult(const Result& r) {
  EngineUpdate u;
  if (!running_) {
    open(intervalStartFor(r.utcMs, config_.intervalMs()));
    day_ = localDate(running_->startUtcMs(), config_.zone);
  } else if (r.utcMs < running_->startUtcMs()) {
    // Its interval is closed and reported; counting it now would change a
    // judged average behind the log's back.
    u.accepted = false;
    return u;
  }
  advance(r.utcMs, u);
  ResultStatus status = storedStatus(r, config_.validation);
  if (config_.validation.plant.source == PlantRule::Source::O2 && !plant_.observe(r))
    status = std::max(status, ResultStatus::PlantOff);
  running_->add(r, status, config_);
  return u;
}

EngineUpdate EmissionEngine::advanceTo(qint64 utcMs) {
  EngineUpdate u;
  advance(utcMs, u);
  return u;
}

void EmissionEngine::advance(qint64 utcMs, EngineUpdate& u) {
  if (!running_ || utcMs < running_->endUtcMs()) return;
  if (utcMs - running_->endUtcMs() > kMaxFilledGapMs) {
    closeInterval(u);
    closeDay(u);
    open(intervalStartFor(utcMs, config_.intervalMs()));
    day_ = localDate(running_->startUtcMs(), config_.zone);
    return;
  }
  while (utcMs >= running_->endUtcMs()) {
    const qint64 next = running_->endUtcMs();
    closeInterval(u);
    const QDate d = localDate(next, config_.zone);
    if (d != day_) {
      closeDay(u);
      day_ = d;
    }
    open(next);
  }
}

void EmissionEngine::closeInterval(EngineUpdate& u) {
  const IntervalAverage a = running_->average(config_);
  dayIntervals_.append(a);
  lastInterval_ = a;
  u.completedIntervals.append(a);
  u.events += alarms_.evaluate(a, limits_);
}

void EmissionEngine::closeDay(EngineUpdate& u) {
  // Intervals of the day before the first result count as empty: replay the
  // day's stored results at start-up to judge the day fairly.
  const DailyAverage d = dailyAverage(day_, dayIntervals_, config_);
  dayIntervals_.clear();
  lastDay_ = d;
  u.completedDays.append(d);
  u.events += alarms_.evaluate(d, limits_);
}

std::optional<IntervalAverage> EmissionEngine::runningInterval() const {
  if (!running_) return std::nullopt;
  return running_->average(config_);
}

std::optional<AlarmEvent> EmissionEngine::acknowledge(const AlarmKey& key, qint64 utcMs) {
  return alarms_.acknowledge(key, utcMs, utcOffsetAt(utcMs, config_.zone));
}

QVector<AlarmEvent> EmissionEngine::acknowledgeAll(qint64 utcMs) {
  return alarms_.acknowledgeAll(utcMs, utcOffsetAt(utcMs, config_.zone));
}

}  // namespace emissions
