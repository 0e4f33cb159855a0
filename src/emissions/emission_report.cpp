#include "emissions/emission_report.h"

#include <QDateTime>
#include <algorithm>

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

// A month's row: the mean of its valid days' averages, how many were valid,
// invalid or without operation, and the highest.
ReportRow monthRow(const QVector<DailyAverage>& days, qsizetype from, qsizetype to) {
  ReportRow r;
  r.kind = ReportRow::Kind::Month;
  const DailyAverage& first = days[from];
  const DailyAverage& last = days[to - 1];
  r.date = QDate(first.date.year(), first.date.month(), 1);
  r.startUtcMs = first.startUtcMs;
  r.endUtcMs = last.endUtcMs;
  if (!first.intervals.isEmpty()) r.startOffset = first.intervals.first().startOffset;
  if (!last.intervals.isEmpty()) r.endOffset = last.intervals.last().endOffset;
  r.count = int(to - from);
  for (Component c : kComponents) {
    const size_t i = size_t(index(c));
    ComponentAverage& ca = r.components[i];
    PeriodFigures& f = r.figures[i];
    double sum = 0, measured = 0;
    for (qsizetype k = from; k < to; ++k) {
      const ComponentAverage& a = days[k][c];
      if (a.valid) {
        sum += a.mean;
        measured += a.measured;
        f.max = ca.count == 0 ? a.mean : std::max(f.max, a.mean);
        ++ca.count;
      } else if (a.reason == ValidityReason::NotOperating) {
        ++f.notOperatingDays;
      } else {
        ++f.invalidDays;
      }
    }
    ca.expected = r.count;
    ca.valid = ca.count > 0;
    ca.mean = ca.count > 0 ? sum / ca.count : 0;
    ca.measured = ca.count > 0 ? measured / ca.count : 0;
    ca.reason = ca.valid ? ValidityReason::Enough : ValidityReason::NoValidAverage;
  }
  return r;
}

}  // namespace

QDate periodFirst(ReportPeriod period, QDate date) {
  if (!date.isValid()) return date;
  switch (period) {
    case ReportPeriod::Days:
      return date;
    case ReportPeriod::Month:
      return QDate(date.year(), date.month(), 1);
    case ReportPeriod::Year:
      return QDate(date.year(), 1, 1);
  }
  return date;
}

QDate periodLast(ReportPeriod period, QDate date) {
  if (!date.isValid()) return date;
  switch (period) {
    case ReportPeriod::Days:
      return date;
    case ReportPeriod::Month:
      return QDate(date.year(), date.month(), date.daysInMonth());
    case ReportPeriod::Year:
      return QDate(date.year(), 12, 31);
  }
  return date;
}

QDate EmissionReport::dueBy() const {
  if (period_ != ReportPeriod::Year || !first_.isValid()) return {};
  return QDate(first_.year() + 1, 3, 31);
}

EmissionReport EmissionReport::forPeriod(ReportPeriod period, QDate first, QDate last,
                                         const QVector<DailyAverage>& days, const AlarmLimits& limits,
                                         const ValidationConfig& validation) {
  EmissionReport rep;
  if (period == ReportPeriod::Days) {
    rep = fromDays(days, limits);
  } else {
    rep.days_ = days;
    rep.limits_ = limits;
    // A short-term average over its limit is an exceedance a month's report
    // lists; a year's lists the days and counts the short-term ones.
    for (const DailyAverage& d : days) {
      const ReportRow day = dayRow(d, limits);
      if (period == ReportPeriod::Month) {
        for (const IntervalAverage& a : d.intervals) rep.addExceedances(intervalRow(a, d.date, limits));
        rep.rows_.append(day);
      }
      rep.addExceedances(day);
    }
    if (period == ReportPeriod::Year) {
      for (qsizetype from = 0; from < days.size();) {
        qsizetype to = from + 1;
        while (to < days.size() && days[to].date.month() == days[from].date.month() &&
               days[to].date.year() == days[from].date.year())
          ++to;
        rep.rows_.append(monthRow(days, from, to));
        from = to;
      }
    }
  }
  rep.period_ = period;
  rep.first_ = first;
  rep.last_ = last;
  rep.validation_ = validation;
  rep.summarized_ = true;
  rep.summary_ = summarize(days, limits, validation);
  return rep;
}

void EmissionReport::addExceedances(const ReportRow& row) {
  const AveragePeriod p = row.kind == ReportRow::Kind::Day ? AveragePeriod::Day : AveragePeriod::Interval;
  for (Component c : kComponents) {
    const Exceedance e = row.exceedances[size_t(index(c))];
    if (e == Exceedance::None) continue;
    const AlarmLevel level = e == Exceedance::Alarm ? AlarmLevel::Alarm : AlarmLevel::PreAlarm;
    exceedances_.append({c, p, e, row.startUtcMs, row.endUtcMs, row.startOffset, row.endOffset,
                         row.components[size_t(index(c))].mean, limits_.threshold(c, p, level).value_or(0)});
  }
}

EmissionReport EmissionReport::build(const QVector<Result>& results, const AveragingConfig& config,
                                     const AlarmLimits& limits, QDate first, QDate last) {
  return fromDays(computeDays(results, config, first, last), limits);
}

EmissionReport EmissionReport::fromDays(const QVector<DailyAverage>& days,
                                        const AlarmLimits& limits) {
  EmissionReport rep;
  rep.days_ = days;
  rep.limits_ = limits;
  if (!days.isEmpty()) {
    rep.first_ = days.first().date;
    rep.last_ = days.last().date;
  }
  auto add = [&rep](const ReportRow& row) {
    rep.rows_.append(row);
    rep.addExceedances(row);
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
  switch (k) {
    case ReportRow::Kind::Interval:
      return QStringLiteral("interval");
    case ReportRow::Kind::Day:
      return QStringLiteral("day");
    case ReportRow::Kind::Month:
      return QStringLiteral("month");
  }
  return {};
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
