#include "modbus_server/snapshot.h"

#include <algorithm>

namespace modbus_server {

namespace {

using emissions::AveragePeriod;
using emissions::Component;
using emissions::ComponentAverage;
using emissions::Exceedance;

ComponentAverageSnapshot component(const ComponentAverage& a, Exceedance exceedance) {
  ComponentAverageSnapshot c;
  c.count = a.count;
  c.valid = a.valid;
  if (a.count > 0) {
    // The mean is what the limits judge: under a regulation profile the
    // measured mean less the confidence interval, the measured one otherwise.
    c.measured = a.measured;
    c.confidence = a.ci;
    c.validated = a.mean;
  }
  c.exceedance = a.valid ? exceedance : Exceedance::None;
  return c;
}

AverageSnapshot average(qint64 start, qint64 end, const emissions::ComponentAverages& components,
                        AveragePeriod period, const emissions::AlarmLimits& limits) {
  AverageSnapshot s;
  s.startUtcMs = start;
  s.endUtcMs = end;
  for (Component c : emissions::kComponents) {
    const ComponentAverage& a = components[size_t(emissions::index(c))];
    s.components[size_t(emissions::index(c))] = component(a, limits.classify(c, period, a));
  }
  return s;
}

}  // namespace

AverageSnapshot averageSnapshot(const emissions::IntervalAverage& a, const emissions::AlarmLimits& limits) {
  return average(a.startUtcMs, a.endUtcMs, a.components, AveragePeriod::Interval, limits);
}

AverageSnapshot averageSnapshot(const emissions::DailyAverage& d, const emissions::AlarmLimits& limits) {
  return average(d.startUtcMs, d.endUtcMs, d.components, AveragePeriod::Day, limits);
}

AverageSnapshot averageSnapshot(const StoredAverage& s) {
  AverageSnapshot out;
  out.startUtcMs = s.startUtcMs;
  out.endUtcMs = s.endUtcMs;
  for (int i = 0; i < kStoredComponentCount && i < emissions::kComponentCount; ++i) {
    const StoredComponentAverage& c = s.components[size_t(i)];
    const Exceedance e = c.exceedance == 2 ? Exceedance::Alarm
                         : c.exceedance == 1 ? Exceedance::PreAlarm
                                             : Exceedance::None;
    ComponentAverage a{c.validated, c.count, c.valid};
    a.measured = c.mean;
    a.ci = c.ci;
    out.components[size_t(i)] = component(a, e);
  }
  return out;
}

std::array<ComponentAlarms, emissions::kComponentCount> alarmsSnapshot(const emissions::AlarmLatches& latches) {
  using emissions::AlarmKey;
  using emissions::AlarmLevel;
  std::array<ComponentAlarms, emissions::kComponentCount> out{};
  for (Component c : emissions::kComponents) {
    ComponentAlarms& a = out[size_t(emissions::index(c))];
    a.intervalAlarm = latches.state(AlarmKey{c, AveragePeriod::Interval, AlarmLevel::Alarm}).latched;
    a.dayAlarm = latches.state(AlarmKey{c, AveragePeriod::Day, AlarmLevel::Alarm}).latched;
    a.intervalPreAlarm = latches.state(AlarmKey{c, AveragePeriod::Interval, AlarmLevel::PreAlarm}).latched;
    a.dayPreAlarm = latches.state(AlarmKey{c, AveragePeriod::Day, AlarmLevel::PreAlarm}).latched;
  }
  return out;
}

}  // namespace modbus_server
