#include "emissions/averaging.h"

#include <QHash>
#include <algorithm>

namespace emissions {

namespace {

constexpr qint64 kMsPerHour = 3600 * 1000;
constexpr qint64 kMsPerDay = 24 * kMsPerHour;
// Offsets of the zone database lie within -12 h .. +14 h; a day's intervals
// are searched in a window that covers every one of them.
constexpr qint64 kMostAheadMs = 15 * kMsPerHour;
constexpr qint64 kMostBehindMs = 13 * kMsPerHour;

}  // namespace

bool isAllowedIntervalMinutes(int minutes) {
  return minutes == 10 || minutes == 15 || minutes == 30 || minutes == 60;
}

qint64 AveragingConfig::intervalMs() const { return qint64(intervalMinutes) * 60 * 1000; }

AveragingConfig AveragingConfig::sanitized() const {
  AveragingConfig c = *this;
  if (!isAllowedIntervalMinutes(c.intervalMinutes)) c.intervalMinutes = kDefaultIntervalMinutes;
  if (c.resultPeriodSeconds < 1) c.resultPeriodSeconds = 1;
  if (!c.zone.isValid()) c.zone = QTimeZone::utc();
  return c;
}

QDateTime IntervalAverage::startLocal() const {
  return QDateTime::fromMSecsSinceEpoch(startUtcMs, QTimeZone(startOffset));
}

QDateTime IntervalAverage::endLocal() const {
  return QDateTime::fromMSecsSinceEpoch(endUtcMs, QTimeZone(endOffset));
}

bool intervalIsValid(int validCount, int intervalMinutes, int resultPeriodSeconds) {
  // validCount >= 2/3 * (intervalMinutes * 60 / resultPeriodSeconds), in integers.
  return 3 * qint64(validCount) * resultPeriodSeconds >= 2 * qint64(intervalMinutes) * 60;
}

int allowedInvalidIntervals(int intervalMinutes) {
  const int perDay = 24 * 60 / intervalMinutes;
  return perDay * 5 / 48;
}

qint64 intervalStartFor(qint64 utcMs, qint64 intervalMs) {
  qint64 q = utcMs / intervalMs;
  if (utcMs % intervalMs < 0) --q;
  return q * intervalMs;
}

QDate localDate(qint64 utcMs, const QTimeZone& zone) {
  return QDateTime::fromMSecsSinceEpoch(utcMs, zone).date();
}

int utcOffsetAt(qint64 utcMs, const QTimeZone& zone) {
  return zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone::utc()));
}

QVector<qint64> dayIntervalStarts(QDate date, const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  const qint64 len = c.intervalMs();
  // Scanned rather than computed from local midnight: midnight may not exist
  // on a day the clock jumps at 00:00, and the zone's offset need not be a
  // multiple of the interval.
  const qint64 utcMidnight = QDateTime(date, QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
  QVector<qint64> starts;
  for (qint64 s = intervalStartFor(utcMidnight - kMostAheadMs, len);
       s < utcMidnight + kMsPerDay + kMostBehindMs; s += len) {
    if (localDate(s, c.zone) == date) starts.append(s);
  }
  return starts;
}

IntervalAccumulator::IntervalAccumulator(qint64 startUtcMs, qint64 intervalMs)
    : startUtcMs_(startUtcMs), endUtcMs_(startUtcMs + intervalMs) {}

void IntervalAccumulator::add(const EmissionValues& values) {
  ++resultCount_;
  for (size_t i = 0; i < values.size(); ++i) {
    if (!values[i]) continue;
    sums_[i] += *values[i];
    ++counts_[i];
  }
}

IntervalAverage IntervalAccumulator::average(const AveragingConfig& config) const {
  const AveragingConfig c = config.sanitized();
  IntervalAverage a;
  a.startUtcMs = startUtcMs_;
  a.endUtcMs = endUtcMs_;
  a.startOffset = utcOffsetAt(startUtcMs_, c.zone);
  a.endOffset = utcOffsetAt(endUtcMs_, c.zone);
  a.resultCount = resultCount_;
  for (size_t i = 0; i < a.components.size(); ++i) {
    ComponentAverage& ca = a.components[i];
    ca.count = counts_[i];
    ca.mean = counts_[i] > 0 ? sums_[i] / counts_[i] : 0;
    ca.valid = intervalIsValid(counts_[i], c.intervalMinutes, c.resultPeriodSeconds);
  }
  return a;
}

QVector<IntervalAverage> computeIntervals(const QVector<Result>& results,
                                          const AveragingConfig& config, qint64 fromUtcMs,
                                          qint64 toUtcMs) {
  const AveragingConfig c = config.sanitized();
  const qint64 len = c.intervalMs();
  if (toUtcMs <= fromUtcMs) return {};
  const qint64 first = intervalStartFor(fromUtcMs, len);
  const qint64 count = (toUtcMs - first + len - 1) / len;
  std::vector<IntervalAccumulator> acc;
  acc.reserve(size_t(count));
  for (qint64 i = 0; i < count; ++i) acc.emplace_back(first + i * len, len);
  const qint64 end = first + count * len;
  for (const Result& r : results) {
    if (r.utcMs < first || r.utcMs >= end) continue;
    acc[size_t((r.utcMs - first) / len)].add(convert(r, c.o2RefByFuel));
  }
  QVector<IntervalAverage> out;
  out.reserve(qsizetype(count));
  for (const IntervalAccumulator& a : acc) out.append(a.average(c));
  return out;
}

// Each component's daily mean over the day's valid intervals, and whether
// the invalid ones stay within what the day allows.
static void averageTheIntervals(DailyAverage& day) {
  for (size_t i = 0; i < day.components.size(); ++i) {
    double sum = 0;
    int valid = 0;
    for (const IntervalAverage& iv : day.intervals) {
      if (!iv.components[i].valid) continue;
      sum += iv.components[i].mean;
      ++valid;
    }
    ComponentAverage& ca = day.components[i];
    ca.count = valid;
    ca.mean = valid > 0 ? sum / valid : 0;
    day.invalidIntervals[i] = int(day.intervals.size()) - valid;
    ca.valid = valid > 0 && day.invalidIntervals[i] <= day.allowedInvalid;
  }
}

DailyAverage dailyAverage(QDate date, const QVector<IntervalAverage>& intervals,
                          const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  QHash<qint64, const IntervalAverage*> byStart;
  for (const IntervalAverage& iv : intervals) byStart.insert(iv.startUtcMs, &iv);

  DailyAverage day;
  day.date = date;
  day.allowedInvalid = allowedInvalidIntervals(c.intervalMinutes);
  for (qint64 s : dayIntervalStarts(date, c)) {
    const IntervalAverage* found = byStart.value(s, nullptr);
    day.intervals.append(found ? *found : IntervalAccumulator(s, c.intervalMs()).average(c));
  }
  if (!day.intervals.isEmpty()) {
    day.startUtcMs = day.intervals.first().startUtcMs;
    day.endUtcMs = day.intervals.last().endUtcMs;
  }
  averageTheIntervals(day);
  return day;
}

DailyAverage dayInProgress(QDate date, const QVector<IntervalAverage>& completed, qint64 untilUtcMs,
                           const AveragingConfig& config) {
  DailyAverage day = dailyAverage(date, completed, config);
  QVector<IntervalAverage> ended;
  for (const IntervalAverage& iv : day.intervals)
    if (iv.endUtcMs <= untilUtcMs) ended.append(iv);
  day.intervals = ended;
  if (!ended.isEmpty()) day.endUtcMs = ended.last().endUtcMs;
  averageTheIntervals(day);
  return day;
}

QVector<DailyAverage> computeDays(const QVector<Result>& results, const AveragingConfig& config,
                                  QDate first, QDate last) {
  const AveragingConfig c = config.sanitized();
  QVector<DailyAverage> days;
  if (!first.isValid() || !last.isValid() || last < first) return days;
  // One pass over the results for the whole range, then each day takes its
  // intervals from it.
  QVector<QVector<qint64>> starts;
  qint64 from = 0, to = 0;
  bool any = false;
  for (QDate d = first; d <= last; d = d.addDays(1)) {
    starts.append(dayIntervalStarts(d, c));
    if (starts.last().isEmpty()) continue;
    const qint64 s = starts.last().first(), e = starts.last().last() + c.intervalMs();
    from = any ? std::min(from, s) : s;
    to = any ? std::max(to, e) : e;
    any = true;
  }
  const QVector<IntervalAverage> all = computeIntervals(results, c, from, to);
  qsizetype di = 0;
  for (QDate d = first; d <= last; d = d.addDays(1), ++di) {
    QVector<IntervalAverage> mine;
    for (qint64 s : starts[di]) mine.append(all[qsizetype((s - from) / c.intervalMs())]);
    days.append(dailyAverage(d, mine, c));
  }
  return days;
}

}  // namespace emissions
