#include "emissions/emission_monitor.h"

#include <QSet>
#include <QTimeZone>
#include <algorithm>

#include "emissions/emission_texts.h"
#include "emissions/stored_averages.h"
#include "platform/free_memory.h"
#include "platform/seams.h"

namespace emissions {

namespace {
qint64 utcNow() { return seams::currentDateTime().toMSecsSinceEpoch(); }
}  // namespace

EmissionMonitor::EmissionMonitor(ResultStore& store, EventLog log) : store_(store), log_(std::move(log)) {}

EmissionMonitor::~EmissionMonitor() = default;

// With the settings' regulation profile, calibrations, gas and plant rule:
// the averages shown, judged, stored and published are the validated ones.
AveragingConfig EmissionMonitor::config() const {
  return settings_.averaging(std::max(1, resultPeriodSeconds_), QTimeZone::systemTimeZone(), o2RefByFuel_);
}

void EmissionMonitor::start(const EmissionSettings& settings, int resultPeriodSeconds,
                            std::vector<double> o2RefByFuel) {
  settings_ = settings;
  resultPeriodSeconds_ = resultPeriodSeconds;
  o2RefByFuel_ = std::move(o2RefByFuel);
  storeMissedDays();
  rebuild();
}

void EmissionMonitor::setSettings(const EmissionSettings& settings) {
  const AveragingConfig before = config();
  settings_ = settings;
  const AveragingConfig after = config();
  const bool rebuildNeeded =
      !engine_ || after.intervalMinutes != before.intervalMinutes || !(after.validation == before.validation);
  if (rebuildNeeded)
    rebuild();
  else
    engine_->setLimits(settings.limits);
}

void EmissionMonitor::setMeasuring(int resultPeriodSeconds, std::vector<double> o2RefByFuel) {
  resultPeriodSeconds_ = resultPeriodSeconds;
  o2RefByFuel_ = std::move(o2RefByFuel);
  const AveragingConfig c = config();
  if (engine_ && (engine_->config().resultPeriodSeconds != c.resultPeriodSeconds ||
                  engine_->config().o2RefByFuel != c.o2RefByFuel))
    rebuild();
}

void EmissionMonitor::updateToday() {
  today_.reset();
  const std::optional<IntervalAverage> running = engine_ ? engine_->runningInterval() : std::nullopt;
  if (running && engine_->day().isValid())
    today_ = dayInProgress(engine_->day(), engine_->dayIntervals(), running->startUtcMs, engine_->config());
}

void EmissionMonitor::rebuild() {
  engine_ = std::make_unique<EmissionEngine>(config(), settings_.limits);
  today_.reset();
  if (!store_.isOpen()) return;
  const qint64 now = utcNow();
  const QVector<qint64> starts = dayIntervalStarts(seams::currentDateTime().date(), engine_->config());
  if (starts.isEmpty()) return;
  // The acknowledgements logged today are replayed at their moments, so an
  // alarm the operator already acknowledged does not latch again.
  QVector<qint64> acknowledged;
  for (const StoredEvent& e : store_.events(starts.first(), now + 1))
    if (e.kind == EventKind::AlarmAcknowledged) acknowledged.append(e.utcMs);
  auto ack = acknowledged.cbegin();
  // Read whole first: damage it meets is known before any average is judged.
  for (const StoredResult& s : store_.results(starts.first(), now + 1)) {
    for (; ack != acknowledged.cend() && *ack <= s.result.utcMs; ++ack) engine_->acknowledgeAll(*ack);
    take(engine_->addResult(s.result), nullptr);
    lastResult_ = s.result;
  }
  for (; ack != acknowledged.cend(); ++ack) engine_->acknowledgeAll(*ack);
  take(engine_->advanceTo(now), nullptr);
  updateToday();
  // The day read whole is gone again: its pages go back to the system
  // rather than stay with the process for the rest of the run.
  releaseFreeMemory();
}

void EmissionMonitor::storeMissedDays() {
  if (!store_.isWritable()) return;
  // A week back at most: older days are for the report, which computes them anyway.
  constexpr int kDaysBack = 7;
  const AveragingConfig c = config();
  const QDate today = seams::currentDateTime().date();
  const QVector<QDate> withResults = store_.daysWithResults();
  for (QDate d = today.addDays(-kDaysBack); d < today; d = d.addDays(1)) {
    if (!withResults.contains(d)) continue;
    const QVector<qint64> starts = dayIntervalStarts(d, c);
    if (starts.isEmpty() ||
        !store_.averages(AveragePeriodKind::Day, c.intervalMinutes, starts.first(), starts.first() + 1,
                         int(c.validation.profile))
             .isEmpty())
      continue;
    store_.storeAverages(storedForm(recomputeDay(store_, d, c), c, settings_.limits));
  }
}

void EmissionMonitor::take(const EngineUpdate& update, QVector<AlarmEvent>* raised) {
  if (update.completedIntervals.isEmpty() && update.completedDays.isEmpty() && update.events.isEmpty()) return;
  updateToday();
  const AveragingConfig& c = engine_->config();
  const int minutes = c.intervalMinutes;
  const int profile = int(c.validation.profile);
  const AlarmLimits& limits = engine_->limits();
  // Averages the database already holds were judged before (a replay at
  // start): their alarms are latched again, quietly.
  // Averages over results the database could not read are none: neither
  // stored nor judged.
  const auto unreadable = [this](qint64 from, qint64 to) {
    return std::any_of(unreadable_.cbegin(), unreadable_.cend(),
                       [&](const UnreadableSpan& s) { return s.overlaps(from, to); });
  };
  QSet<qint64> knownIntervals, knownDays;
  QVector<StoredAverage> fresh;
  for (const IntervalAverage& a : update.completedIntervals) {
    if (unreadable(a.startUtcMs, a.endUtcMs) ||
        !store_.averages(AveragePeriodKind::Interval, minutes, a.startUtcMs, a.startUtcMs + 1, profile).isEmpty())
      knownIntervals.insert(a.startUtcMs);
    else
      fresh.append(toStored(a, c, limits));
  }
  for (const DailyAverage& d : update.completedDays) {
    if (unreadable(d.startUtcMs, d.endUtcMs) ||
        !store_.averages(AveragePeriodKind::Day, minutes, d.startUtcMs, d.startUtcMs + 1, profile).isEmpty())
      knownDays.insert(d.startUtcMs);
    else
      fresh.append(toStored(d, c, limits));
  }
  if (store_.isWritable()) store_.storeAverages(fresh);
  const qint64 intervalMs = engine_->config().intervalMs();
  for (const AlarmEvent& e : update.events) {
    if (e.type == AlarmEventType::Acknowledged) continue;
    const QSet<qint64>& known = e.key.period == AveragePeriod::Day ? knownDays : knownIntervals;
    if (known.contains(e.averageStartUtcMs)) continue;
    // A repeat of a latched alarm gets its line too, but no new beep.
    log_(EventKind::Alarm, alarmEventText(e, intervalMs, seams::locale()));
    if (raised && e.type == AlarmEventType::Raised) raised->append(e);
  }
}

QVector<AlarmEvent> EmissionMonitor::addResult(const Result& result) {
  lastResult_ = result;
  QVector<AlarmEvent> raised;
  if (engine_) take(engine_->addResult(result), &raised);
  return raised;
}

bool EmissionMonitor::advance(QVector<AlarmEvent>* raised) {
  if (!engine_) return false;
  const EngineUpdate update = engine_->advanceTo(utcNow());
  if (update.completedIntervals.isEmpty() && update.completedDays.isEmpty()) return false;
  take(update, raised);
  return true;
}

QVector<AlarmEvent> EmissionMonitor::acknowledgeAll() {
  if (!engine_) return {};
  const QVector<AlarmEvent> events = engine_->acknowledgeAll(utcNow());
  for (const AlarmEvent& e : events)
    log_(EventKind::AlarmAcknowledged, alarmEventText(e, engine_->config().intervalMs(), seams::locale()));
  return events;
}

QVector<AlarmEvent> EmissionMonitor::storeReport(const QVector<DailyAverage>& days, qint64 cutoffUtcMs) {
  QVector<AlarmEvent> raised;
  advance(&raised);
  if (!store_.isWritable()) return raised;
  const AveragingConfig c = config();
  QVector<StoredAverage> over;
  for (const DailyAverage& d : days) {
    for (const IntervalAverage& iv : d.intervals)
      if (iv.endUtcMs <= cutoffUtcMs && !iv.unreadable)
        over.append(toStored(iv, c, settings_.limits));
    if (d.endUtcMs <= cutoffUtcMs && !d.unreadable) over.append(toStored(d, c, settings_.limits));
  }
  store_.storeAverages(over);
  return raised;
}

QVector<AlarmEvent> EmissionMonitor::resultsAdded(QDate first, QDate last, const AveragingConfig& config) {
  const QDate today = seams::currentDateTime().date();
  const QVector<AlarmEvent> raised = storeReport(recomputeDays(store_, first, std::min(last, today), config), utcNow());
  // Today's intervals so far and the running one, from the results as they are now.
  if (last >= today) rebuild();
  return raised;
}

MonitorState EmissionMonitor::state() const {
  MonitorState s;
  s.limits = settings_.limits;
  s.intervalMinutes = settings_.intervalMinutes;
  if (!engine_) return s;
  const AveragingConfig& c = engine_->config();
  s.intervalMinutes = c.intervalMinutes;  // a regulation profile's short-term length
  s.lastResult = lastResult_;
  if (lastResult_) {
    s.current = convert(*lastResult_, c.o2RefByFuel);
    if (lastResult_->fuelIndex < c.o2RefByFuel.size()) s.o2Ref = c.o2RefByFuel[lastResult_->fuelIndex];
  }
  s.running = engine_->runningInterval();
  s.lastInterval = engine_->lastCompletedInterval();
  s.today = today_;
  const AlarmLatches& alarms = engine_->alarms();
  s.lamp = alarms.lamp();
  if (s.lamp == Lamp::Off) return s;
  const int offset = seams::currentDateTime().offsetFromUtc();
  for (Component comp : kComponents) {
    for (auto period : {AveragePeriod::Interval, AveragePeriod::Day}) {
      for (auto level : {AlarmLevel::Alarm, AlarmLevel::PreAlarm}) {
        const AlarmKey key{comp, period, level};
        const AlarmState& st = alarms.state(key);
        if (st.latched) s.latched << alarmStateText(key, st, offset, seams::locale());
      }
    }
  }
  return s;
}

}  // namespace emissions
