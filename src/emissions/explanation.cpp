#include "emissions/explanation.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>

#include "emissions/emission_texts.h"
#include "emissions/report_table.h"
#include "emissions/result_status.h"
#include "emissions/stored_averages.h"

namespace emissions {

namespace {

AverageExplanation basis(AverageExplanation::Kind kind, Component c, const AveragingConfig& config) {
  const ValidationConfig& v = config.validation;
  AverageExplanation e;
  e.kind = kind;
  e.component = c;
  e.profile = v.profile;
  e.intervalMinutes = config.intervalMinutes;
  e.resultPeriodSeconds = config.resultPeriodSeconds;
  if (v.regulated()) e.confidencePercent = v.confidencePercentOf(c);
  e.dailyLimit = v.dailyLimit[size_t(index(c))];
  e.calibration = v.calibration[size_t(index(c))];
  e.gas = v.gas;
  e.correctOnlyAbove = v.correctOnlyAbove();
  return e;
}

QString number(double v, const QLocale& locale, int decimals = 1) {
  QLocale l = locale;
  l.setNumberOptions(QLocale::OmitGroupSeparator);
  return l.toString(v, 'f', decimals);
}

QString leftOutText(const InvalidCounts& counts) {
  QStringList parts;
  for (InvalidReason r : kInvalidReasons)
    if (counts[size_t(r)] > 0) parts << QStringLiteral("%1 %2").arg(invalidReasonTitle(r)).arg(counts[size_t(r)]);
  return parts.join(QStringLiteral(", "));
}

QString optionalCsv(const std::optional<double>& v, const CsvFormat& format) {
  return v ? csvNumber(*v, format) : QString();
}

}  // namespace

int AverageExplanation::needed() const {
  // The least n with 3 * n * period >= 2 * minutes * 60.
  const qint64 twoThirds = 2 * qint64(intervalMinutes) * 60, step = 3 * qint64(std::max(resultPeriodSeconds, 1));
  return int((twoThirds + step - 1) / step);
}

QVector<AverageExplanation> explainInterval(const QVector<Result>& results, qint64 startUtcMs,
                                            const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  QVector<Result> inOrder = results;
  std::stable_sort(inOrder.begin(), inOrder.end(), [](const Result& a, const Result& b) { return a.utcMs < b.utcMs; });
  const qint64 start = intervalStartFor(startUtcMs, c.intervalMs()), end = start + c.intervalMs();
  const QVector<ResultStatus> statuses = judgedStatuses(inOrder, c.validation);
  // The average itself, from the very functions the reports use.
  const IntervalAverage average = computeIntervals(inOrder, c, start, start + 1).value(0);

  QVector<AverageExplanation> out;
  for (Component comp : kComponents) {
    AverageExplanation e = basis(AverageExplanation::Kind::Interval, comp, c);
    e.startUtcMs = start;
    e.endUtcMs = end;
    e.startOffset = average.startOffset;
    e.endOffset = average.endOffset;
    e.date = localDate(start, c.zone);
    e.average = average[comp];
    for (qsizetype k = 0; k < inOrder.size(); ++k) {
      const Result& r = inOrder[k];
      if (r.utcMs < start || r.utcMs >= end) continue;
      ExplainedResult x;
      x.utcMs = r.utcMs;
      x.utcOffset = r.utcOffset;
      x.o2 = r[channel::O2];
      x.resultStatus = statuses[k];
      x.o2Ref = referenceO2(r, c.o2RefByFuel);
      x.value = evaluate(r, comp, statuses[k], x.o2Ref, c.validation);
      e.results.append(x);
    }
    out.append(e);
  }
  return out;
}

QVector<AverageExplanation> explainDay(const DailyAverage& day, const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  QVector<AverageExplanation> out;
  for (Component comp : kComponents) {
    AverageExplanation e = basis(AverageExplanation::Kind::Day, comp, c);
    e.date = day.date;
    e.startUtcMs = day.startUtcMs;
    e.endUtcMs = day.endUtcMs;
    if (!day.intervals.isEmpty()) {
      e.startOffset = day.intervals.first().startOffset;
      e.endOffset = day.intervals.last().endOffset;
    }
    e.intervals = day.intervals;
    e.allowedInvalid = day.allowedInvalid;
    e.countedInvalid = day.countedInvalid[size_t(index(comp))];
    e.average = day[comp];
    out.append(e);
  }
  return out;
}

QVector<AverageExplanation> explainRow(const ResultStore& store, const ReportRow& row, const EmissionReport& report,
                                       const AveragingConfig& config) {
  const AveragingConfig c = config.sanitized();
  switch (row.kind) {
    case ReportRow::Kind::Interval: {
      const qint64 leadIn =
          c.validation.plant.source == PlantRule::Source::O2 ? qint64(c.validation.plant.minutes) * 60 * 1000 : 0;
      QVector<Result> results;
      for (const StoredResult& s : store.results(row.startUtcMs - leadIn, row.endUtcMs)) results.append(s.result);
      return explainInterval(results, row.startUtcMs, c);
    }
    case ReportRow::Kind::Day:
      for (const DailyAverage& d : report.days())
        if (d.date == row.date) return explainDay(d, c);
      return explainDay(recomputeDay(store, row.date, c), c);
    case ReportRow::Kind::Month:
      break;
  }
  return {};
}

QString explanationTitle(const AverageExplanation& e) {
  const QString date = e.date.toString(QStringLiteral("dd.MM.yyyy"));
  if (e.kind == AverageExplanation::Kind::Day)
    return QStringLiteral(u"Среднесуточное за %1, %2").arg(date, componentTitle(e.component));
  return QStringLiteral(u"Среднее за интервал %1 %2, %3")
      .arg(date, spanText(e.startUtcMs, e.startOffset, e.endUtcMs, e.endOffset), componentTitle(e.component));
}

QStringList explanationLines(const AverageExplanation& e, const QLocale& locale) {
  QStringList lines;
  const ComponentAverage& a = e.average;
  const bool regulated = e.profile != RegulationProfile::None;
  lines << QStringLiteral(u"Регламент: %1.").arg(profileTitle(e.profile));
  if (e.kind == AverageExplanation::Kind::Interval) {
    QString chain = QStringLiteral(u"Цепочка: показание, ppm");
    if (e.calibration.set)
      chain += QStringLiteral(u" → калибровка QAL2 %1").arg(calibrationText(e.calibration, locale));
    if (e.gas.basis == GasBasis::Wet)
      chain += QStringLiteral(u" → сухой газ: × 100 / (100 − %1)").arg(locale.toString(e.gas.waterPercent, 'g', 6));
    chain += QStringLiteral(u" → мг/м³ → к образцовому O2: × (21 − O2обр) / (21 − O2)");
    if (e.correctOnlyAbove) chain += QStringLiteral(u", только при O2 выше образцового");
    lines << chain + QLatin1Char('.');
    const QString left = leftOutText(a.invalid);
    lines << QStringLiteral(u"Учтено результатов: %1 из %2 ожидаемых (нужно не менее %3 — две трети)%4.")
                 .arg(a.count)
                 .arg(a.expected)
                 .arg(e.needed())
                 .arg(left.isEmpty() ? QString() : QStringLiteral(u"; не учтены: ") + left);
    if (!regulated)
      lines << QStringLiteral(u"Без регламента учитывается каждый результат со значением, какой бы ни был его статус.");
    switch (a.reason) {
      case ValidityReason::Enough:
        lines << QStringLiteral(u"Интервал достоверен: учтено не менее двух третей ожидаемых результатов.");
        break;
      case ValidityReason::NotOperating:
        lines << QStringLiteral(u"Интервал недостоверен: установка не работала больше трети интервала; в суточной "
                                u"оценке он не считается недостоверным.");
        break;
      default:
        lines << QStringLiteral(u"Интервал недостоверен: учтено меньше двух третей ожидаемых результатов; в суточной "
                                u"оценке он считается недостоверным по неисправности или техобслуживанию.");
        break;
    }
  } else {
    int valid = 0;
    for (const IntervalAverage& iv : e.intervals) valid += iv[e.component].valid ? 1 : 0;
    lines << QStringLiteral(u"Интервалов: %1, достоверных %2; недостоверных из-за неисправности или техобслуживания %3 "
                            u"при допустимых %4.")
                 .arg(e.intervals.size())
                 .arg(valid)
                 .arg(e.countedInvalid)
                 .arg(e.allowedInvalid);
    switch (a.reason) {
      case ValidityReason::Enough:
        lines << QStringLiteral(u"Сутки достоверны: среднее достоверных интервалов.");
        break;
      case ValidityReason::TooManyInvalid:
        lines << QStringLiteral(u"Сутки недостоверны: недостоверных интервалов больше допустимого.");
        break;
      case ValidityReason::NotOperating:
        lines << QStringLiteral(u"Установка в эти сутки не работала: среднесуточное не определяется.");
        break;
      default:
        lines << QStringLiteral(u"Сутки недостоверны: нет ни одного достоверного интервала.");
        break;
    }
  }
  if (a.count == 0) {
    lines << QStringLiteral(u"Среднего нет: не учтено ни одного значения.");
    return lines;
  }
  lines << QStringLiteral(u"Измеренное среднее: %1 мг/м³.").arg(number(a.measured, locale, 2));
  if (regulated) {
    if (e.confidencePercent && e.dailyLimit)
      lines << QStringLiteral(u"Доверительный интервал 95 %: %1 % суточного норматива %2 мг/м³ = %3 мг/м³.")
                   .arg(locale.toString(*e.confidencePercent, 'g', 6), number(*e.dailyLimit, locale),
                        number(a.ci, locale, 2));
    else
      lines << QStringLiteral(u"Доверительный интервал не вычитается: %1.")
                   .arg(e.dailyLimit ? QStringLiteral(u"доля для компонента не задана")
                                     : QStringLiteral(u"суточный норматив не задан"));
    lines << QStringLiteral(u"Валидированное: max(0; %1 − %2) = %3 мг/м³.")
                 .arg(number(a.measured, locale, 2), number(a.ci, locale, 2), number(a.mean, locale, 2));
  }
  return lines;
}

QByteArray explanationCsv(const QVector<AverageExplanation>& perComponent, const CsvFormat& format) {
  if (!format.isValid() || perComponent.isEmpty()) return {};
  const AverageExplanation& first = perComponent.first();
  QString text;
  auto line = [&](const QStringList& fields) { text += csvLine(fields, format); };
  auto eachComponent = [&](auto field) {
    QStringList f;
    for (const AverageExplanation& e : perComponent) f << field(e);
    return f;
  };
  if (first.kind == AverageExplanation::Kind::Interval) {
    QStringList h{QStringLiteral("Time"), QStringLiteral("Status"), QStringLiteral("O2 %"), QStringLiteral("O2 ref %")};
    for (const AverageExplanation& e : perComponent) {
      const QString n = QString::fromLatin1(componentName(e.component)) + QLatin1Char(' ');
      h << n + QStringLiteral("ppm") << n + QStringLiteral("calibrated ppm") << n + QStringLiteral("dry ppm")
        << n + QStringLiteral(u"mg/m³") << n + QStringLiteral(u"mg/m³ at ref O2") << n + QStringLiteral("status")
        << n + QStringLiteral("counted");
    }
    line(h);
    for (qsizetype k = 0; k < first.results.size(); ++k) {
      const ExplainedResult& r = first.results[k];
      QStringList f{isoWithOffset(r.utcMs, r.utcOffset), statusCode(r.resultStatus),
                    csvNumber(r.o2, format), optionalCsv(r.o2Ref, format)};
      for (const AverageExplanation& e : perComponent) {
        const ComponentValue& v = e.results[k].value;
        f << optionalCsv(v.raw, format) << optionalCsv(v.calibrated, format) << optionalCsv(v.dry, format)
          << optionalCsv(v.mg, format) << optionalCsv(v.atReference, format) << statusCode(v.status)
          << (v.counted ? QStringLiteral("yes") : invalidReasonKey(v.notCounted.value_or(InvalidReason::NoValue)));
      }
      line(f);
    }
  } else {
    QStringList h{QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Results")};
    for (const AverageExplanation& e : perComponent) {
      const QString n = QString::fromLatin1(componentName(e.component)) + QLatin1Char(' ');
      h << n + QStringLiteral(u"measured mg/m³") << n + QStringLiteral(u"validated mg/m³") << n + QStringLiteral("n")
        << n + QStringLiteral("validity") << n + QStringLiteral("reason");
    }
    line(h);
    for (qsizetype k = 0; k < first.intervals.size(); ++k) {
      const IntervalAverage& iv = first.intervals[k];
      QStringList f{isoWithOffset(iv.startUtcMs, iv.startOffset), isoWithOffset(iv.endUtcMs, iv.endOffset),
                    QString::number(iv.resultCount)};
      for (const AverageExplanation& e : perComponent) {
        const ComponentAverage& a = e.intervals[k][e.component];
        f << (a.count > 0 ? csvNumber(a.measured, format) : QString())
          << (a.count > 0 ? csvNumber(a.mean, format) : QString()) << QString::number(a.count) << validText(a.valid)
          << reasonKey(a.reason);
      }
      line(f);
    }
  }
  text += QStringLiteral("\r\n");
  auto summary = [&](const QString& item, auto field) {
    line(QStringList{QStringLiteral("summary"), item} + eachComponent(field));
  };
  summary(QStringLiteral("expected"), [](const AverageExplanation& e) { return QString::number(e.average.expected); });
  summary(QStringLiteral("counted"), [](const AverageExplanation& e) { return QString::number(e.average.count); });
  for (InvalidReason r : kInvalidReasons)
    summary(QStringLiteral("left out ") + invalidReasonKey(r),
            [r](const AverageExplanation& e) { return QString::number(e.average.invalid[size_t(r)]); });
  summary(QStringLiteral(u"measured mg/m³"), [&](const AverageExplanation& e) {
    return e.average.count > 0 ? csvNumber(e.average.measured, format) : QString();
  });
  summary(QStringLiteral(u"CI mg/m³"), [&](const AverageExplanation& e) { return csvNumber(e.average.ci, format); });
  summary(QStringLiteral(u"validated mg/m³"), [&](const AverageExplanation& e) {
    return e.average.count > 0 ? csvNumber(e.average.mean, format) : QString();
  });
  summary(QStringLiteral("validity"), [](const AverageExplanation& e) { return validText(e.average.valid); });
  summary(QStringLiteral("reason"), [](const AverageExplanation& e) { return reasonKey(e.average.reason); });
  const QLocale c = QLocale::c();
  summary(QStringLiteral("rule"), [&](const AverageExplanation& e) {
    return explanationLines(e, format.decimalPoint == QLatin1Char(',') ? QLocale(QLocale::Russian) : c)
        .join(QLatin1Char(' '));
  });
  QByteArray out = format.byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
  return out + text.toUtf8();
}

bool writeExplanationCsv(const QString& path, const QVector<AverageExplanation>& perComponent,
                         const CsvFormat& format, QString* error) {
  if (!format.isValid()) {
    if (error) *error = QStringLiteral("separator and decimal sign do not fit");
    return false;
  }
  return writeCsvFile(path, explanationCsv(perComponent, format), error);
}

}  // namespace emissions
