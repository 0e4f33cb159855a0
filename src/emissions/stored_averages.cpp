#include "emissions/stored_averages.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QIODevice>
#include <QHash>

namespace emissions {

static_assert(kStoredComponentCount == kComponentCount, "the database keeps every component");

namespace {

void fill(StoredAverage& s, const ComponentAverages& components, AveragePeriod period,
          const AlarmLimits& limits) {
  for (Component c : kComponents) {
    const ComponentAverage& a = components[size_t(index(c))];
    StoredComponentAverage& sc = s.components[size_t(index(c))];
    sc.mean = a.count > 0 ? a.measured : 0;
    sc.count = a.count;
    sc.valid = a.valid;
    sc.exceedance = int(limits.classify(c, period, a));
    sc.ci = a.ci;
    sc.validated = a.count > 0 ? a.mean : 0;
    sc.reason = int(a.reason);
    sc.expected = a.expected;
    sc.substitutes = a.substitutes;
    sc.outOfRange = a.outOfRange;
    for (int r = 0; r < kInvalidReasonCount; ++r) sc.invalid[size_t(r)] = a.invalid[size_t(r)];
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

StoredAverage toStored(const IntervalAverage& a, const AveragingConfig& config, const AlarmLimits& limits) {
  const AveragingConfig c = config.sanitized();
  StoredAverage s = toStored(a, c.intervalMinutes, limits);
  s.profile = int(c.validation.profile);
  s.basis = averagingBasis(c, limits);
  return s;
}

StoredAverage toStored(const DailyAverage& d, const AveragingConfig& config, const AlarmLimits& limits) {
  const AveragingConfig c = config.sanitized();
  StoredAverage s = toStored(d, c.intervalMinutes, limits);
  s.profile = int(c.validation.profile);
  s.basis = averagingBasis(c, limits);
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
    ComponentAverage& ca = a.components[size_t(i)];
    ca.mean = sc.validated;
    ca.count = sc.count;
    ca.valid = sc.valid;
    ca.measured = sc.mean;
    ca.ci = sc.ci;
    ca.expected = sc.expected;
    ca.substitutes = sc.substitutes;
    ca.outOfRange = sc.outOfRange;
    for (int r = 0; r < kInvalidReasonCount; ++r) ca.invalid[size_t(r)] = sc.invalid[size_t(r)];
    ca.reason = ValidityReason(sc.reason);
  }
  return a;
}

qint64 averagingBasis(const AveragingConfig& config, const AlarmLimits& limits) {
  const AveragingConfig c = config.sanitized();
  const ValidationConfig& v = c.validation;
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_4);
  auto optional = [&out](const std::optional<double>& d) {
    out << bool(d) << d.value_or(0);
  };
  out << c.intervalMinutes << c.resultPeriodSeconds << c.zone.id() << qint64(c.o2RefByFuel.size());
  for (double r : c.o2RefByFuel) out << r;
  out << int(v.profile) << int(v.gas.basis) << v.gas.waterPercent << int(v.plant.source) << v.plant.o2AbovePercent
      << v.plant.minutes << bool(v.o2CorrectionOnlyAbove) << v.o2CorrectionOnlyAbove.value_or(false);
  for (int i = 0; i < kComponentCount; ++i) {
    const Qal2Calibration& cal = v.calibration[size_t(i)];
    out << cal.set << cal.a << cal.b << cal.highest;
    optional(v.confidencePercent[size_t(i)]);
    optional(v.dailyLimit[size_t(i)]);
    out << v.monitored[size_t(i)];
    optional(limits.components[size_t(i)].interval);
    optional(limits.components[size_t(i)].daily);
  }
  out << limits.preAlarmPercent;
  const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
  qint64 basis = 0;
  for (int i = 0; i < 8; ++i) basis = (basis << 8) | quint8(hash[i]);
  return basis != 0 ? basis : 1;
}

DailyAverage recomputeDay(const ResultStore& store, QDate date, const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  const QVector<qint64> starts = dayIntervalStarts(date, c);
  QVector<IntervalAverage> intervals;
  if (!starts.isEmpty()) {
    const qint64 from = starts.first(), to = starts.last() + c.intervalMs();
    // The O2 rule of the plant needs the minutes before to start right.
    const qint64 leadIn =
        c.validation.plant.source == PlantRule::Source::O2 ? qint64(c.validation.plant.minutes) * 60 * 1000 : 0;
    QVector<Result> results;
    QVector<UnreadableSpan> unreadable;
    store.forEachResult(from - leadIn, to, [&results](const StoredResult& s) { results.append(s.result); }, &unreadable);
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

QVector<StoredAverage> storedForm(const DailyAverage& day, const AveragingConfig& config, const AlarmLimits& limits) {
  QVector<StoredAverage> out;
  out.reserve(day.intervals.size() + 1);
  for (const IntervalAverage& iv : day.intervals)
    if (!iv.unreadable) out.append(toStored(iv, config, limits));
  if (!day.unreadable) out.append(toStored(day, config, limits));
  return out;
}

QVector<DailyAverage> storedOrComputedDays(ResultStore& store, QDate first, QDate last, const AveragingConfig& config,
                                           const AlarmLimits& limits, qint64 nowUtcMs, DaysSource* source) {
  QVector<DailyAverage> days;
  DaysSource counts;
  if (!first.isValid() || !last.isValid() || last < first) return days;
  const AveragingConfig c = config.sanitized();
  const qint64 basis = averagingBasis(c, limits);
  const QVector<qint64> firstStarts = dayIntervalStarts(first, c), lastStarts = dayIntervalStarts(last, c);
  QHash<qint64, StoredAverage> stored;
  if (!firstStarts.isEmpty() && !lastStarts.isEmpty()) {
    const QVector<StoredAverage> rows = store.averages(AveragePeriodKind::Interval, c.intervalMinutes, firstStarts.first(),
                                                       lastStarts.last() + 1, int(c.validation.profile));
    stored.reserve(rows.size());
    for (const StoredAverage& a : rows)
      if (a.basis == basis) stored.insert(a.startUtcMs, a);
  }
  QVector<StoredAverage> fresh;
  for (QDate d = first; d <= last; d = d.addDays(1)) {
    const QVector<qint64> starts = dayIntervalStarts(d, c);
    bool whole = !starts.isEmpty();
    for (qint64 s : starts) whole = whole && stored.contains(s);
    if (whole) {
      QVector<IntervalAverage> intervals;
      intervals.reserve(starts.size());
      for (qint64 s : starts) intervals.append(intervalFromStored(stored.value(s)));
      days.append(dailyAverage(d, intervals, c));
      ++counts.fromStore;
      continue;
    }
    days.append(recomputeDay(store, d, c));
    ++counts.computed;
    if (store.isWritable() && days.last().endUtcMs <= nowUtcMs) {
      fresh += storedForm(days.last(), c, limits);
      // A transaction a week: a year computed anew is not one long write.
      if (fresh.size() >= 7 * 49) {
        store.storeAverages(fresh);
        fresh.clear();
      }
    }
  }
  if (!fresh.isEmpty()) store.storeAverages(fresh);
  if (source) *source = counts;
  return days;
}

}  // namespace emissions
