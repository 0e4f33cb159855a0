#include "emissions/averaging.h"

#include <QHash>
#include <algorithm>

#include "emissions/result_status.h"

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
  if (c.validation.rules().shortTermMinutes > 0) c.intervalMinutes = c.validation.rules().shortTermMinutes;
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

void IntervalAccumulator::add(const Result& r, ResultStatus status, const AveragingConfig& config) {
  ++resultCount_;
  const ResultBasis basis = basisOf(r, referenceO2(r, config.o2RefByFuel), config.validation);
  for (Component c : kComponents) {
    const size_t i = size_t(index(c));
    const ValueVerdict v = judgeValue(r, c, status, basis, config.validation);
    if (!v.counted) {
      ++invalid_[i][size_t(v.notCounted)];
      continue;
    }
    sums_[i] += v.atReference;
    ++counts_[i];
    // A substitute is the operator's value, not a reading of the calibrated
    // analyzer: it says nothing of the calibration's valid range.
    if (v.status == ResultStatus::Substitute)
      ++substitutes_[i];
    else if (v.outsideRange)
      ++outOfRange_[i];
  }
}

std::optional<InvalidReason> mainReason(const ComponentAverage& a) {
  std::optional<InvalidReason> main;
  int most = 0;
  for (InvalidReason r : kInvalidReasons) {
    if (a.invalid[size_t(r)] > most) {
      most = a.invalid[size_t(r)];
      main = r;
    }
  }
  return main;
}

IntervalAverage IntervalAccumulator::average(const AveragingConfig& config) const {
  const AveragingConfig c = config.sanitized();
  const ValidationConfig& v = c.validation;
  IntervalAverage a;
  a.startUtcMs = startUtcMs_;
  a.endUtcMs = endUtcMs_;
  a.startOffset = utcOffsetAt(startUtcMs_, c.zone);
  a.endOffset = utcOffsetAt(endUtcMs_, c.zone);
  a.resultCount = resultCount_;
  const int expected = c.intervalMinutes * 60 / c.resultPeriodSeconds;
  for (size_t i = 0; i < a.components.size(); ++i) {
    ComponentAverage& ca = a.components[i];
    ca.count = counts_[i];
    ca.mean = counts_[i] > 0 ? sums_[i] / counts_[i] : 0;
    ca.valid = intervalIsValid(counts_[i], c.intervalMinutes, c.resultPeriodSeconds);
    ca.measured = ca.mean;
    ca.expected = expected;
    ca.substitutes = substitutes_[i];
    ca.outOfRange = outOfRange_[i];
    ca.invalid = invalid_[i];
    ca.invalid[size_t(InvalidReason::LinkLost)] = std::max(0, expected - resultCount_);
    ca.reason = ca.valid ? ValidityReason::Enough : ValidityReason::TooFew;
    if (!v.regulated()) continue;
    ca.ci = v.confidenceInterval(kComponents[i]);
    if (ca.count > 0) ca.mean = std::max(0.0, ca.measured - ca.ci);
    // The plant off for more than a third of the interval: it is not an
    // operating interval, and does not count against the day.
    const qint64 offSeconds = qint64(ca.invalid[size_t(InvalidReason::PlantOff)]) * c.resultPeriodSeconds;
    if (!ca.valid && 3 * offSeconds > qint64(c.intervalMinutes) * 60) ca.reason = ValidityReason::NotOperating;
  }
  return a;
}

QVector<ResultStatus> judgedStatuses(const QVector<Result>& results, const ValidationConfig& v) {
  QVector<ResultStatus> out;
  out.reserve(results.size());
  PlantOperation plant(v.plant);
  const bool o2Rule = v.plant.source == PlantRule::Source::O2;
  for (const Result& r : results) {
    ResultStatus s = storedStatus(r, v);
    if (o2Rule && !plant.observe(r)) s = std::max(s, ResultStatus::PlantOff);
    out.append(s);
  }
  return out;
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
  // The plant rule needs the results in time order.
  const bool ordered = std::is_sorted(results.begin(), results.end(),
                                      [](const Result& a, const Result& b) { return a.utcMs < b.utcMs; });
  QVector<Result> sorted;
  if (!ordered) {
    sorted = results;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Result& a, const Result& b) { return a.utcMs < b.utcMs; });
  }
  const QVector<Result>& inOrder = ordered ? results : sorted;
  const QVector<ResultStatus> statuses = judgedStatuses(inOrder, c.validation);
  for (qsizetype k = 0; k < inOrder.size(); ++k) {
    const Result& r = inOrder[k];
    if (r.utcMs < first || r.utcMs >= end) continue;
    acc[size_t((r.utcMs - first) / len)].add(r, statuses[k], c);
  }
  QVector<IntervalAverage> out;
  out.reserve(qsizetype(count));
  for (const IntervalAccumulator& a : acc) out.append(a.average(c));
  return out;
}

// Each component's daily mean over the day's valid intervals, and whether
// the invalid ones stay within what the day allows. Under a regulation
// profile the day's mean is taken of the measured short-term means and the
// confidence interval subtracted from it (the same as the mean of the
// validated ones unless one of them was cut at 0), and only the short-term
// averages invalid through malfunction or maintenance count against it.
static void averageTheIntervals(DailyAverage& day, const ValidationConfig& v) {
  for (size_t i = 0; i < day.components.size(); ++i) {
    double sum = 0;
    int valid = 0, notOperating = 0;
    ComponentAverage& ca = day.components[i];
    ca = ComponentAverage{};
    for (const IntervalAverage& iv : day.intervals) {
      const ComponentAverage& a = iv.components[i];
      if (!a.valid) {
        if (a.reason == ValidityReason::NotOperating) {
          ++notOperating;
          ++ca.invalid[size_t(InvalidReason::PlantOff)];
        } else {
          ++ca.invalid[size_t(mainReason(a).value_or(InvalidReason::LinkLost))];
        }
        continue;
      }
      sum += v.regulated() ? a.measured : a.mean;
      ++valid;
      ca.substitutes += a.substitutes;
      ca.outOfRange += a.outOfRange;
    }
    ca.count = valid;
    ca.mean = valid > 0 ? sum / valid : 0;
    ca.measured = ca.mean;
    ca.expected = int(day.intervals.size());
    day.invalidIntervals[i] = int(day.intervals.size()) - valid;
    day.countedInvalid[i] = day.invalidIntervals[i] - (v.regulated() ? notOperating : 0);
    ca.valid = valid > 0 && day.countedInvalid[i] <= day.allowedInvalid;
    if (ca.valid)
      ca.reason = ValidityReason::Enough;
    else if (day.countedInvalid[i] > day.allowedInvalid)
      ca.reason = ValidityReason::TooManyInvalid;
    else if (v.regulated() && valid == 0 && notOperating == day.invalidIntervals[i] && notOperating > 0)
      ca.reason = ValidityReason::NotOperating;
    else
      ca.reason = ValidityReason::NoValidAverage;
    if (!v.regulated()) continue;
    ca.ci = v.confidenceInterval(kComponents[i]);
    if (valid > 0) ca.mean = std::max(0.0, ca.measured - ca.ci);
  }
}

int allowedInvalidIntervals(const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  const int rule = c.validation.rules().maxInvalidPerDay;
  return rule >= 0 ? rule : allowedInvalidIntervals(c.intervalMinutes);
}

DailyAverage dailyAverage(QDate date, const QVector<IntervalAverage>& intervals,
                          const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  QHash<qint64, const IntervalAverage*> byStart;
  for (const IntervalAverage& iv : intervals) byStart.insert(iv.startUtcMs, &iv);

  DailyAverage day;
  day.date = date;
  day.allowedInvalid = allowedInvalidIntervals(c);
  for (qint64 s : dayIntervalStarts(date, c)) {
    const IntervalAverage* found = byStart.value(s, nullptr);
    day.intervals.append(found ? *found : IntervalAccumulator(s, c.intervalMs()).average(c));
  }
  if (!day.intervals.isEmpty()) {
    day.startUtcMs = day.intervals.first().startUtcMs;
    day.endUtcMs = day.intervals.last().endUtcMs;
  }
  averageTheIntervals(day, c.validation);
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
  averageTheIntervals(day, config.sanitized().validation);
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
