#include "emissions/alarms.h"

#include <cmath>

namespace emissions {

bool isSensibleLimit(double mgPerM3) {
  return std::isfinite(mgPerM3) && mgPerM3 >= kMinLimit && mgPerM3 <= kMaxLimit;
}

std::optional<double> AlarmLimits::threshold(Component c, AveragePeriod p, AlarmLevel level) const {
  const ComponentLimits& l = (*this)[c];
  const std::optional<double> limit = p == AveragePeriod::Interval ? l.interval : l.daily;
  if (!limit) return std::nullopt;
  if (level == AlarmLevel::Alarm) return limit;
  if (!(preAlarmPercent > 0)) return std::nullopt;
  return *limit * preAlarmPercent / 100;
}

Exceedance AlarmLimits::classify(Component c, AveragePeriod p, const ComponentAverage& a) const {
  if (!a.valid) return Exceedance::None;
  const auto alarm = threshold(c, p, AlarmLevel::Alarm);
  if (alarm && a.mean > *alarm) return Exceedance::Alarm;
  const auto pre = threshold(c, p, AlarmLevel::PreAlarm);
  if (pre && a.mean > *pre) return Exceedance::PreAlarm;
  return Exceedance::None;
}

int AlarmLatches::slot(const AlarmKey& key) {
  return (index(key.component) * 2 + int(key.period)) * 2 + int(key.level);
}

const AlarmState& AlarmLatches::state(const AlarmKey& key) const {
  return states_[size_t(slot(key))];
}

QVector<AlarmEvent> AlarmLatches::evaluate(AveragePeriod period, qint64 startUtcMs, qint64 endUtcMs,
                                           int endOffset, const ComponentAverages& averages,
                                           const AlarmLimits& limits) {
  QVector<AlarmEvent> events;
  for (Component c : kComponents) {
    const ComponentAverage& a = averages[size_t(index(c))];
    if (!a.valid) continue;
    for (AlarmLevel level : {AlarmLevel::PreAlarm, AlarmLevel::Alarm}) {
      const auto t = limits.threshold(c, period, level);
      if (!t || !(a.mean > *t)) continue;
      const AlarmKey key{c, period, level};
      AlarmState& s = states_[size_t(slot(key))];
      if (s.latched) {
        events.append({AlarmEventType::Repeated, key, endUtcMs, endOffset, startUtcMs, a.mean, *t});
        continue;
      }
      s.latched = true;
      s.averageStartUtcMs = startUtcMs;
      s.raisedUtcMs = endUtcMs;
      s.value = a.mean;
      s.threshold = *t;
      events.append({AlarmEventType::Raised, key, endUtcMs, endOffset, startUtcMs, a.mean, *t});
    }
  }
  return events;
}

QVector<AlarmEvent> AlarmLatches::evaluate(const IntervalAverage& a, const AlarmLimits& limits) {
  return evaluate(AveragePeriod::Interval, a.startUtcMs, a.endUtcMs, a.endOffset, a.components,
                  limits);
}

QVector<AlarmEvent> AlarmLatches::evaluate(const DailyAverage& d, const AlarmLimits& limits) {
  const int endOffset = d.intervals.isEmpty() ? 0 : d.intervals.last().endOffset;
  return evaluate(AveragePeriod::Day, d.startUtcMs, d.endUtcMs, endOffset, d.components, limits);
}

std::optional<AlarmEvent> AlarmLatches::acknowledge(const AlarmKey& key, qint64 utcMs,
                                                    int utcOffset) {
  AlarmState& s = states_[size_t(slot(key))];
  if (!s.latched) return std::nullopt;
  s.latched = false;
  s.acknowledgedUtcMs = utcMs;
  AlarmEvent e{AlarmEventType::Acknowledged, key, utcMs, utcOffset, s.averageStartUtcMs};
  e.value = s.value;
  e.threshold = s.threshold;
  return e;
}

QVector<AlarmEvent> AlarmLatches::acknowledgeAll(qint64 utcMs, int utcOffset) {
  QVector<AlarmEvent> events;
  for (Component c : kComponents) {
    for (AveragePeriod p : {AveragePeriod::Interval, AveragePeriod::Day}) {
      for (AlarmLevel level : {AlarmLevel::PreAlarm, AlarmLevel::Alarm}) {
        if (auto e = acknowledge({c, p, level}, utcMs, utcOffset)) events.append(*e);
      }
    }
  }
  return events;
}

Lamp AlarmLatches::lamp() const {
  Lamp lamp = Lamp::Off;
  for (int i = 0; i < kCount; ++i) {
    if (!states_[size_t(i)].latched) continue;
    if (i % 2 == int(AlarmLevel::Alarm)) return Lamp::Alarm;
    lamp = Lamp::PreAlarm;
  }
  return lamp;
}

}  // namespace emissions
