#include "emissions/emission_report.h"

#include <QDateTime>

namespace emissions {

namespace {

ReportRow intervalRow(const IntervalAverage& a, QDate date, const AlarmLimits& limits) {
  ReportRow r;
  r.kind = ReportRow::Kind::Interval;
  r.date = date;
  r.startUtcMs = a.startUtcMs;
  r.endUtcMs = a.endUtcMs;
  r.startOffset = a.startOffset;
  r.endOffset = a.endOffset;
  r.count = a.resultCount;
  r.components = a.components;
  for (Component c : kComponents)
    r.exceedances[size_t(index(c))] = limits.classify(c, AveragePeriod::Interval, a[c]);
  return r;
}

ReportRow dayRow(const DailyAverage& d, const AlarmLimits& limits) {
  ReportRow r;
  r.kind = ReportRow::Kind::Day;
  r.date = d.date;
  r.startUtcMs = d.startUtcMs;
  r.endUtcMs = d.endUtcMs;
  if (!d.intervals.isEmpty()) {
    r.startOffset = d.intervals.first().startOffset;
    r.endOffset = d.intervals.last().endOffset;
  }
  r.count = int(d.intervals.size());
  r.components = d.components;
  for (Component c : kComponents)
    r.exceedances[size_t(index(c))] = limits.classify(c, AveragePeriod::Day, d[c]);
  return r;
}

}  // namespace

EmissionReport EmissionReport::build(const QVector<Result>& results, const AveragingConfig& config,
                                     const AlarmLimits& limits, QDate first, QDate last) {
  return fromDays(computeDays(results, config, first, last), limits);
}

EmissionReport EmissionReport::fromDays(const QVector<DailyAverage>& days,
                                        const AlarmLimits& limits) {
  EmissionReport rep;
  rep.days_ = days;
  rep.limits_ = limits;
  auto add = [&rep, &limits](const ReportRow& row) {
    rep.rows_.append(row);
    const AveragePeriod p =
        row.kind == ReportRow::Kind::Day ? AveragePeriod::Day : AveragePeriod::Interval;
    for (Component c : kComponents) {
      const Exceedance e = row.exceedances[size_t(index(c))];
      if (e == Exceedance::None) continue;
      const AlarmLevel level = e == Exceedance::Alarm ? AlarmLevel::Alarm : AlarmLevel::PreAlarm;
      rep.exceedances_.append({c, p, e, row.startUtcMs, row.endUtcMs, row.startOffset,
                               row.endOffset, row.components[size_t(index(c))].mean,
                               limits.threshold(c, p, level).value_or(0)});
    }
  };
  for (const DailyAverage& d : days) {
    for (const IntervalAverage& a : d.intervals) add(intervalRow(a, d.date, limits));
    add(dayRow(d, limits));
  }
  return rep;
}

QStringList reportHeader() {
  QStringList h = {QStringLiteral("Row"), QStringLiteral("Start"), QStringLiteral("End"),
                   QStringLiteral("Count")};
  for (Component c : kComponents) {
    const QString n = QString::fromLatin1(componentName(c));
    h << n + QStringLiteral(u" mg/m³") << n + QStringLiteral(" n")
      << n + QStringLiteral(" validity") << n + QStringLiteral(" exceedance");
  }
  return h;
}

QString kindText(ReportRow::Kind k) {
  return k == ReportRow::Kind::Day ? QStringLiteral("day") : QStringLiteral("interval");
}

QString validText(bool valid) {
  return valid ? QStringLiteral("valid") : QStringLiteral("invalid");
}

QString exceedanceText(Exceedance e) {
  switch (e) {
    case Exceedance::None:
      return {};
    case Exceedance::PreAlarm:
      return QStringLiteral("pre-alarm");
    case Exceedance::Alarm:
      return QStringLiteral("alarm");
  }
  return {};
}

QString isoWithOffset(qint64 utcMs, int offsetSeconds) {
  // Built by hand: Qt writes "Z" for a zero offset and may use native digits.
  const QDateTime local =
      QDateTime::fromMSecsSinceEpoch(utcMs + qint64(offsetSeconds) * 1000, QTimeZone::utc());
  const QDate d = local.date();
  const QTime t = local.time();
  const int off = offsetSeconds < 0 ? -offsetSeconds : offsetSeconds;
  const QLatin1Char zero('0');
  return QStringLiteral("%1-%2-%3T%4:%5:%6%7%8:%9")
      .arg(d.year(), 4, 10, zero)
      .arg(d.month(), 2, 10, zero)
      .arg(d.day(), 2, 10, zero)
      .arg(t.hour(), 2, 10, zero)
      .arg(t.minute(), 2, 10, zero)
      .arg(t.second(), 2, 10, zero)
      .arg(offsetSeconds < 0 ? QLatin1Char('-') : QLatin1Char('+'))
      .arg(off / 3600, 2, 10, zero)
      .arg(off / 60 % 60, 2, 10, zero);
}

}  // namespace emissions
