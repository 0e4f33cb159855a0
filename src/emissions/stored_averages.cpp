#include "emissions/stored_averages.h"

namespace emissions {

static_assert(kStoredComponentCount == kComponentCount, "the database keeps every component");

namespace {

void fill(StoredAverage& s, const ComponentAverages& components, AveragePeriod period,
          const AlarmLimits& limits) {
  for (Component c : kComponents) {
    const ComponentAverage& a = components[size_t(index(c))];
    StoredComponentAverage& sc = s.components[size_t(index(c))];
    sc.mean = a.count > 0 ? a.mean : 0;
    sc.count = a.count;
    sc.valid = a.valid;
    sc.exceedance = int(limits.classify(c, period, a));
  }
}

}  // namespace

StoredAverage toStored(const IntervalAverage& a, int intervalMinutes, const AlarmLimits& limits) {
  StoredAverage s;
  s.period = AveragePeriodKind::Interval;
  s.intervalMinutes = intervalMinutes;
  s.startUtcMs = a.startUtcMs;
  s.endUtcMs = a.endUtcMs;
  s.startOffset = a.startOffset;
  s.endOffset = a.endOffset;
  s.count = a.resultCount;
  fill(s, a.components, AveragePeriod::Interval, limits);
  return s;
}

StoredAverage toStored(const DailyAverage& d, int intervalMinutes, const AlarmLimits& limits) {
  StoredAverage s;
  s.period = AveragePeriodKind::Day;
  s.intervalMinutes = intervalMinutes;
  s.startUtcMs = d.startUtcMs;
  s.endUtcMs = d.endUtcMs;
  s.startOffset = d.intervals.isEmpty() ? 0 : d.intervals.first().startOffset;
  s.endOffset = d.intervals.isEmpty() ? 0 : d.intervals.last().endOffset;
  s.count = int(d.intervals.size());
  fill(s, d.components, AveragePeriod::Day, limits);
  return s;
}

IntervalAverage intervalFromStored(const StoredAverage& s) {
  IntervalAverage a;
  a.startUtcMs = s.startUtcMs;
  a.endUtcMs = s.endUtcMs;
  a.startOffset = s.startOffset;
  a.endOffset = s.endOffset;
  a.resultCount = s.count;
  for (int i = 0; i < kComponentCount; ++i) {
    const StoredComponentAverage& sc = s.components[size_t(i)];
    a.components[size_t(i)] = {sc.mean, sc.count, sc.valid};
  }
  return a;
}

DailyAverage recomputeDay(const ResultStore& store, QDate date, const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  const QVector<qint64> starts = dayIntervalStarts(date, c);
  QVector<IntervalAverage> intervals;
  if (!starts.isEmpty()) {
    const qint64 from = starts.first(), to = starts.last() + c.intervalMs();
    QVector<Result> results;
    QVector<UnreadableSpan> unreadable;
    store.forEachResult(from, to, [&results](const StoredResult& s) { results.append(s.result); }, &unreadable);
    intervals = computeIntervals(results, c, from, to);
    if (!unreadable.isEmpty()) return withUnreadable(dailyAverage(date, intervals, c), unreadable);
  }
  return dailyAverage(date, intervals, c);
}

DailyAverage withUnreadable(DailyAverage day, const QVector<UnreadableSpan>& unreadable) {
  for (IntervalAverage& iv : day.intervals) {
    for (const UnreadableSpan& span : unreadable) {
      if (!span.overlaps(iv.startUtcMs, iv.endUtcMs)) continue;
      iv.unreadable = true;
      iv.resultCount = 0;
      iv.components = {};
      day.unreadable = true;
    }
  }
  if (day.unreadable) day.components = {};
  return day;
}

QVector<DailyAverage> recomputeDays(const ResultStore& store, QDate first, QDate last,
                                    const AveragingConfig& config) {
  QVector<DailyAverage> days;
  if (!first.isValid() || !last.isValid()) return days;
  for (QDate d = first; d <= last; d = d.addDays(1)) days.append(recomputeDay(store, d, config));
  return days;
}

QVector<StoredAverage> storedForm(const DailyAverage& day, int intervalMinutes, const AlarmLimits& limits) {
  QVector<StoredAverage> out;
  out.reserve(day.intervals.size() + 1);
  for (const IntervalAverage& iv : day.intervals)
    if (!iv.unreadable) out.append(toStored(iv, intervalMinutes, limits));
  if (!day.unreadable) out.append(toStored(day, intervalMinutes, limits));
  return out;
}

}  // namespace emissions
