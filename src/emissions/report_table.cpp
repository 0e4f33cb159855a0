#include "emissions/report_table.h"

#include <QDateTime>
#include <QTimeZone>

#include "emissions/emission_texts.h"
#include "emissions/result_status.h"

namespace emissions {

namespace {

const QString kDate = QStringLiteral("dd.MM.yyyy");
const QString kDash = QStringLiteral(u"—");

QString limitText(const std::optional<double>& v, const QLocale& locale) {
  return v ? meanText(*v, locale) : kDash;
}

QString number(double v, const QLocale& locale, int decimals = 1) {
  QLocale l = locale;
  l.setNumberOptions(QLocale::OmitGroupSeparator);
  return l.toString(v, 'f', decimals);
}

QString shareText(double v, const QLocale& locale) { return locale.toString(v, 'g', 6); }

QString monthName(QDate d) {
  static const char16_t* const kMonths[12] = {u"январь", u"февраль", u"март",     u"апрель",  u"май",    u"июнь",
                                              u"июль",   u"август",  u"сентябрь", u"октябрь", u"ноябрь", u"декабрь"};
  return QString::fromUtf16(kMonths[d.month() - 1]) + QLatin1Char(' ') + QString::number(d.year());
}

QString periodTitle(const EmissionReport& report, QDate from, QDate to) {
  switch (report.period()) {
    case ReportPeriod::Month:
      return QStringLiteral(u"Отчёт о выбросах за месяц: %1").arg(monthName(from));
    case ReportPeriod::Year:
      return QStringLiteral(u"Годовой отчёт о выбросах за %1 год").arg(from.year());
    case ReportPeriod::Days:
      break;
  }
  return from == to ? QStringLiteral(u"Отчёт о выбросах за %1").arg(from.toString(kDate))
                    : QStringLiteral(u"Отчёт о выбросах за %1 – %2").arg(from.toString(kDate), to.toString(kDate));
}

QString limitsNote(const AlarmLimits& limits, const QLocale& locale) {
  QStringList limitTexts;
  for (Component c : kComponents)
    limitTexts << QStringLiteral(u"%1 %2 / %3")
                      .arg(componentTitle(c), limitText(limits[c].interval, locale), limitText(limits[c].daily, locale));
  return QStringLiteral(u"Нормативы (за интервал / суточный), мг/м³: %1. Порог предупреждения %2 % норматива.")
      .arg(limitTexts.join(QStringLiteral("; ")), locale.toString(limits.preAlarmPercent, 'g', 6));
}

QString rowPeriod(const ReportRow& row) {
  switch (row.kind) {
    case ReportRow::Kind::Interval:
      return row.date.toString(kDate) + QLatin1Char(' ') +
             spanText(row.startUtcMs, row.startOffset, row.endUtcMs, row.endOffset);
    case ReportRow::Kind::Day:
      return QStringLiteral(u"Сутки %1").arg(row.date.toString(kDate));
    case ReportRow::Kind::Month:
      return monthName(row.date);
  }
  return {};
}

void exceedanceLines(ReportTable& t, const EmissionReport& report, const QLocale& locale) {
  for (const ExceedanceRecord& x : report.exceedances()) {
    const QString what = x.level == Exceedance::Alarm ? QStringLiteral(u"превышение") : QStringLiteral(u"предупреждение");
    const QString period =
        x.period == AveragePeriod::Day
            ? QStringLiteral(u"Сутки %1")
                  .arg(QDateTime::fromMSecsSinceEpoch(x.startUtcMs, QTimeZone(x.startOffset)).date().toString(kDate))
            : QDateTime::fromMSecsSinceEpoch(x.startUtcMs, QTimeZone(x.startOffset)).date().toString(kDate) +
                  QLatin1Char(' ') + spanText(x.startUtcMs, x.startOffset, x.endUtcMs, x.endOffset);
    t.exceedances << QStringLiteral(u"%1, %2: %3 %4 мг/м³ > %5 мг/м³")
                         .arg(period, componentTitle(x.component), what, meanText(x.value, locale),
                              meanText(x.threshold, locale));
  }
  if (t.exceedances.isEmpty()) t.exceedances << QStringLiteral(u"Превышений нет.");
}

// The row's judgement of `c` into `out`, which colours its cells; the exceedance.
Exceedance judge(ReportTableRow& out, const ReportRow& row, Component c) {
  const size_t k = size_t(index(c));
  out.valid[k] = row.components[k].valid;
  out.exceedances[k] = row.exceedances[k];
  return row.exceedances[k];
}

// The table as it always was: per component the mean and its judgement.
void plainTable(ReportTable& t, const EmissionReport& report, const QLocale& locale) {
  t.headers << QStringLiteral(u"Период") << QStringLiteral(u"Рез./инт.");
  t.shares << 0.20 << 0.064;
  t.judgedComponent << -1 << -1;
  for (Component c : kComponents) {
    t.headers << componentTitle(c) + QStringLiteral(u", мг/м³") << QStringLiteral(u"Оценка");
    t.shares << 0.084 << 0.1;
    t.judgedComponent << index(c) << index(c);
  }
  for (const ReportRow& row : report.rows()) {
    ReportTableRow out;
    out.day = row.kind == ReportRow::Kind::Day;
    out.cells << rowPeriod(row);
    out.cells << (out.day ? QStringLiteral(u"%1 инт.").arg(row.count) : QString::number(row.count));
    for (Component c : kComponents) {
      const ComponentAverage& a = row.components[size_t(index(c))];
      const Exceedance e = judge(out, row, c);
      out.cells << (a.count > 0 ? meanText(a.mean, locale) : kDash) << judgementText(a.valid, e);
    }
    t.rows.append(out);
  }
}

// Short-term averages and days: the measured and the validated value and the verdict.
void validatedDaysTable(ReportTable& t, const EmissionReport& report, const QLocale& locale) {
  t.headers << QStringLiteral(u"Период") << QStringLiteral(u"Рез./инт.");
  t.shares << 0.15 << 0.05;
  t.judgedComponent << -1 << -1;
  for (Component c : kComponents) {
    t.headers << componentTitle(c) + QStringLiteral(u" изм.") << componentTitle(c) + QStringLiteral(u" вал.")
              << QStringLiteral(u"Оценка");
    t.shares << 0.058 << 0.058 << 0.084;
    t.judgedComponent << index(c) << index(c) << index(c);
  }
  for (const ReportRow& row : report.rows()) {
    ReportTableRow out;
    out.day = row.kind == ReportRow::Kind::Day;
    out.cells << rowPeriod(row);
    out.cells << (out.day ? QStringLiteral(u"%1 инт.").arg(row.count) : QString::number(row.count));
    for (Component c : kComponents) {
      const ComponentAverage& a = row.components[size_t(index(c))];
      const Exceedance e = judge(out, row, c);
      out.cells << (a.count > 0 ? meanText(a.measured, locale) : kDash)
                << (a.count > 0 ? meanText(a.mean, locale) : kDash) << verdictText(a, e);
    }
    t.rows.append(out);
  }
}

// A month: a row per day, its validated daily average, the verdict, the
// short-term averages invalid through malfunction or maintenance.
void monthTable(ReportTable& t, const EmissionReport& report, const QLocale& locale) {
  t.headers << QStringLiteral(u"Сутки") << QStringLiteral(u"Дост. инт.");
  t.shares << 0.1 << 0.08;
  t.judgedComponent << -1 << -1;
  for (Component c : kComponents) {
    t.headers << componentTitle(c) + QStringLiteral(u", мг/м³") << QStringLiteral(u"Оценка")
              << QStringLiteral(u"Недост.");
    t.shares << 0.07 << 0.085 << 0.05;
    t.judgedComponent << index(c) << index(c) << index(c);
  }
  for (qsizetype k = 0; k < report.rows().size(); ++k) {
    const ReportRow& row = report.rows()[k];
    const DailyAverage& day = report.days()[k];
    ReportTableRow out;
    out.cells << row.date.toString(kDate);
    int validIntervals = int(day.intervals.size());
    for (int invalid : day.invalidIntervals) validIntervals = std::min(validIntervals, int(day.intervals.size()) - invalid);
    out.cells << QStringLiteral("%1/%2").arg(validIntervals).arg(day.intervals.size());
    for (Component c : kComponents) {
      const ComponentAverage& a = row.components[size_t(index(c))];
      const Exceedance e = judge(out, row, c);
      out.cells << (a.count > 0 ? meanText(a.mean, locale) : kDash) << verdictText(a, e)
                << QString::number(day.countedInvalid[size_t(index(c))]);
    }
    t.rows.append(out);
  }
}

// A year: a row per month, the mean and the highest valid daily average, and
// the days valid / invalid / without operation.
void yearTable(ReportTable& t, const EmissionReport& report, const QLocale& locale) {
  t.headers << QStringLiteral(u"Месяц") << QStringLiteral(u"Суток");
  t.shares << 0.13 << 0.05;
  t.judgedComponent << -1 << -1;
  for (Component c : kComponents) {
    t.headers << componentTitle(c) + QStringLiteral(u" сред.") << componentTitle(c) + QStringLiteral(u" макс.")
              << QStringLiteral(u"Д/Н/О");
    t.shares << 0.065 << 0.065 << 0.075;
    t.judgedComponent << index(c) << index(c) << index(c);
  }
  for (const ReportRow& row : report.rows()) {
    ReportTableRow out;
    out.cells << rowPeriod(row) << QString::number(row.count);
    for (Component c : kComponents) {
      const ComponentAverage& a = row.components[size_t(index(c))];
      const PeriodFigures& f = row.figures[size_t(index(c))];
      out.valid[size_t(index(c))] = a.valid;
      // The month's highest day judged as a day: red when it was over the limit.
      ComponentAverage highest = a;
      highest.mean = f.max;
      out.exceedances[size_t(index(c))] = report.limits().classify(c, AveragePeriod::Day, highest);
      out.cells << (a.count > 0 ? meanText(a.mean, locale) : kDash) << (a.count > 0 ? meanText(f.max, locale) : kDash)
                << QStringLiteral("%1/%2/%3").arg(a.count).arg(f.invalidDays).arg(f.notOperatingDays);
    }
    t.rows.append(out);
  }
}

ReportSection componentSection(const QString& heading, const QString& first) {
  ReportSection s;
  s.heading = heading;
  s.headers << first;
  s.shares << 0.36;
  for (Component c : kComponents) {
    s.headers << componentTitle(c);
    s.shares << 0.1;
  }
  return s;
}

void addRow(ReportSection& s, const QString& what, const std::array<QString, kComponentCount>& values, bool bold = false) {
  ReportTableRow r;
  r.day = bold;
  r.valid.fill(true);
  r.cells << what;
  for (const QString& v : values) r.cells << v;
  s.rows.append(r);
}

ReportSection classificationSection(const EmissionReport& report, bool daily) {
  ReportSection s = componentSection(daily ? QStringLiteral(u"Классификация среднесуточных значений (доля суточного норматива)")
                                           : QStringLiteral(u"Классификация средних за интервал (доля норматива за интервал)"),
                                     QStringLiteral(u"Класс"));
  auto cell = [&](Component c, auto count) {
    const ComponentSummary& sum = report.summary()[size_t(index(c))];
    return (daily ? sum.dailyLimit : sum.shortTermLimit) ? QString::number(count(sum)) : kDash;
  };
  for (int k = 0; k < kClassCount; ++k) {
    std::array<QString, kComponentCount> v;
    for (Component c : kComponents)
      v[size_t(index(c))] = cell(c, [&](const ComponentSummary& sum) {
        return (daily ? sum.daily : sum.shortTerm).classes[size_t(k)];
      });
    addRow(s, QStringLiteral(u"%1–%2 %").arg(5 * k).arg(5 * (k + 1)), v);
  }
  std::array<QString, kComponentCount> over, all;
  for (Component c : kComponents) {
    over[size_t(index(c))] = cell(c, [&](const ComponentSummary& sum) { return (daily ? sum.daily : sum.shortTerm).overLimit; });
    all[size_t(index(c))] =
        cell(c, [&](const ComponentSummary& sum) { return (daily ? sum.daily : sum.shortTerm).classified(); });
  }
  addRow(s, QStringLiteral(u"выше норматива"), over, true);
  addRow(s, QStringLiteral(u"всего достоверных"), all, true);
  return s;
}

ReportSection figuresSection(const EmissionReport& report, const QLocale& locale) {
  ReportSection s = componentSection(QStringLiteral(u"Доступность и недостоверные значения"), QStringLiteral(u"Показатель"));
  auto row = [&](const QString& what, auto value, bool bold = false) {
    std::array<QString, kComponentCount> v;
    for (Component c : kComponents) v[size_t(index(c))] = value(report.summary()[size_t(index(c))]);
    addRow(s, what, v, bold);
  };
  auto n = [](auto x) { return QString::number(x); };
  row(QStringLiteral(u"Средних за интервал"), [&](const ComponentSummary& m) { return n(m.shortTermAverages); });
  row(QStringLiteral(u"  из них достоверных"), [&](const ComponentSummary& m) { return n(m.shortTermValid); });
  row(QStringLiteral(u"  установка не работала"), [&](const ComponentSummary& m) { return n(m.shortTermNotOperating); });
  row(QStringLiteral(u"Доступность, %"), [&](const ComponentSummary& m) { return number(m.availability(), locale); }, true);
  row(QStringLiteral(u"Суток достоверных"), [&](const ComponentSummary& m) { return n(m.daysValid); });
  const int allowed = report.validation().rules().maxInvalidDaysPerYear;
  row(allowed > 0 ? QStringLiteral(u"Суток недостоверных (неисправность, ТО; допустимо %1 в год)").arg(allowed)
                  : QStringLiteral(u"Суток недостоверных"),
      [&](const ComponentSummary& m) { return n(m.daysInvalid); }, true);
  row(QStringLiteral(u"Суток без работы установки"), [&](const ComponentSummary& m) { return n(m.daysNotOperating); });
  row(QStringLiteral(u"Среднее среднесуточных, мг/м³"),
      [&](const ComponentSummary& m) { return m.daysValid > 0 ? meanText(m.dailyMean, locale) : kDash; });
  row(QStringLiteral(u"Максимум среднесуточных, мг/м³"),
      [&](const ComponentSummary& m) { return m.daysValid > 0 ? meanText(m.dailyMax, locale) : kDash; });
  row(QStringLiteral(u"Результатов учтено"), [&](const ComponentSummary& m) { return n(m.resultsCounted); });
  row(QStringLiteral(u"  из них замещающих"), [&](const ComponentSummary& m) { return n(m.substitutes); });
  row(QStringLiteral(u"  вне диапазона калибровки"), [&](const ComponentSummary& m) { return n(m.outOfRange); });
  for (InvalidReason r : kInvalidReasons)
    row(QStringLiteral(u"Не учтено: %1").arg(invalidReasonTitle(r)),
        [&](const ComponentSummary& m) { return n(m.invalidResults[size_t(r)]); });
  return s;
}

ReportSection calibrationSection(const EmissionReport& report, const QLocale& locale) {
  ReportSection s;
  s.heading = QStringLiteral(u"Калибровка газоанализатора (QAL2) и диапазон");
  s.headers << QStringLiteral(u"Компонент") << QStringLiteral(u"Функция") << QStringLiteral(u"Протокол, дата")
            << QStringLiteral(u"Диапазон до, ppm") << QStringLiteral(u"Недель > 5 %") << QStringLiteral(u"Недель > 40 %")
            << QStringLiteral(u"Вывод");
  s.shares << 0.1 << 0.15 << 0.2 << 0.1 << 0.09 << 0.09 << 0.25;
  for (Component c : kComponents) {
    const Qal2Calibration& cal = report.validation().calibration[size_t(index(c))];
    const ComponentSummary& m = report.summary()[size_t(index(c))];
    ReportTableRow r;
    r.valid.fill(!m.calibration.due());
    r.cells << componentTitle(c) << calibrationText(cal, locale)
            << (cal.set ? QStringLiteral(u"№ %1 от %2").arg(cal.report.isEmpty() ? kDash : cal.report,
                                                            cal.date.isValid() ? cal.date.toString(kDate) : kDash)
                        : kDash)
            << (cal.validUpTo() ? number(*cal.validUpTo(), locale) : kDash)
            << QString::number(m.calibration.weeksOverMark) << QString::number(m.calibration.weeksOverStrong)
            << (!cal.set                ? QStringLiteral(u"калибровка не задана")
                : m.calibration.due()   ? QStringLiteral(u"требуется новая QAL2")
                : cal.validUpTo()       ? QStringLiteral(u"в пределах диапазона")
                                        : QStringLiteral(u"диапазон не задан"));
    s.rows.append(r);
  }
  return s;
}

QString basisNote(const EmissionReport& report, int intervalMinutes, const QLocale& locale) {
  const ValidationConfig& v = report.validation();
  const RegulationRules& rules = v.rules();
  QStringList ci;
  for (Component c : kComponents) {
    const auto share = v.confidencePercentOf(c);
    if (!share) continue;
    ci << (v.dailyLimit[size_t(index(c))]
               ? QStringLiteral(u"%1 %2 % (%3 мг/м³)")
                     .arg(componentTitle(c), shareText(*share, locale), meanText(v.confidenceInterval(c), locale))
               : QStringLiteral(u"%1 %2 % (суточный норматив не задан)").arg(componentTitle(c), shareText(*share, locale)));
  }
  QString note = QStringLiteral(u"Регламент: %1").arg(profileTitle(v.profile));
  if (rules.source[0] != '\0') note += QStringLiteral(u" (%1)").arg(QString::fromLatin1(rules.source));
  note += QStringLiteral(u". Интервал усреднения %1 мин, достоверен при 2/3 ожидаемых результатов; сутки достоверны "
                         u"при не более %2 недостоверных интервалах из-за неисправности или техобслуживания.")
              .arg(intervalMinutes)
              .arg(v.regulated() ? rules.maxInvalidPerDay : allowedInvalidIntervals(intervalMinutes));
  if (v.regulated())
    note += QStringLiteral(u" Из каждого среднего вычтен доверительный интервал 95 % (доля суточного норматива): %1; "
                           u"отрицательное значение принято за 0.")
                .arg(ci.isEmpty() ? QStringLiteral(u"не задан") : ci.join(QStringLiteral(", ")));
  if (v.correctOnlyAbove())
    note += QStringLiteral(u" Приведение к образцовому O2 — только при измеренном O2 выше образцового.");
  note += v.gas.basis == GasBasis::Wet
              ? QStringLiteral(u" Влажный газ пересчитан на сухой при %1 % H2O.").arg(shareText(v.gas.waterPercent, locale))
              : QStringLiteral(u" Газ измеряется сухим.");
  return note;
}

}  // namespace

QString verdictText(const ComponentAverage& a, Exceedance e) {
  if (!a.valid && a.reason == ValidityReason::NotOperating) return QStringLiteral(u"не работала");
  return judgementText(a.valid, e);
}

QString calibrationText(const Qal2Calibration& c, const QLocale& locale) {
  if (!c.set) return kDash;
  QLocale l = locale;
  l.setNumberOptions(QLocale::OmitGroupSeparator);
  return QStringLiteral(u"y = %1 + %2·x").arg(l.toString(c.a, 'g', 6), l.toString(c.b, 'g', 6));
}

ReportTable reportTable(const EmissionReport& report, QDate from, QDate to, int intervalMinutes,
                        const QLocale& locale) {
  ReportTable t;
  t.title = periodTitle(report, from, to);
  const bool evidence = report.summarized() || report.profile() != RegulationProfile::None;
  if (!evidence) {
    t.notes << QStringLiteral(u"Концентрации в мг/м³ сухого газа при 0 °C и 101,325 кПа, приведённые к образцовому O2 "
                              u"топлива; NOx в пересчёте на NO2. Интервал усреднения %1 мин; интервал достоверен при "
                              u"2/3 ожидаемых результатов, сутки — при допустимом числе недостоверных интервалов.")
                   .arg(intervalMinutes);
    t.notes << limitsNote(report.limits(), locale);
    plainTable(t, report, locale);
    exceedanceLines(t, report, locale);
    return t;
  }

  t.notes << QStringLiteral(u"Концентрации в мг/м³ сухого газа при 0 °C и 101,325 кПа, приведённые к образцовому O2 "
                            u"топлива; NOx в пересчёте на NO2; «изм.» — измеренное среднее, «вал.» — валидированное.");
  t.notes << basisNote(report, intervalMinutes, locale);
  t.notes << limitsNote(report.limits(), locale);
  switch (report.period()) {
    case ReportPeriod::Days:
      validatedDaysTable(t, report, locale);
      break;
    case ReportPeriod::Month:
      t.notes << QStringLiteral(u"«Дост. инт.» — достоверных интервалов из всех; «Недост.» — недостоверных из-за "
                                u"неисправности или техобслуживания.");
      monthTable(t, report, locale);
      break;
    case ReportPeriod::Year:
      t.notes << QStringLiteral(u"По месяцам: среднее и максимум достоверных среднесуточных значений; «Д/Н/О» — суток "
                                u"достоверных / недостоверных / без работы установки.");
      yearTable(t, report, locale);
      break;
  }
  if (report.summarized()) {
    t.sections << classificationSection(report, false) << classificationSection(report, true)
               << figuresSection(report, locale) << calibrationSection(report, locale);
  }
  exceedanceLines(t, report, locale);
  for (Component c : kComponents) {
    const ComponentSummary& m = report.summary()[size_t(index(c))];
    if (report.summarized() && m.maxInvalidDays > 0 && report.period() == ReportPeriod::Year &&
        m.daysInvalid > m.maxInvalidDays)
      t.closing << QStringLiteral(u"%1: недостоверных суток %2 — больше допустимых %3 в год; требуются меры.")
                       .arg(componentTitle(c))
                       .arg(m.daysInvalid)
                       .arg(m.maxInvalidDays);
    if (report.summarized() && m.calibration.due())
      t.closing << QStringLiteral(u"%1: значения вне диапазона калибровки (недель > 5 %: %2, > 40 %: %3) — требуется "
                                  u"новая калибровка QAL2.")
                       .arg(componentTitle(c))
                       .arg(m.calibration.weeksOverMark)
                       .arg(m.calibration.weeksOverStrong);
  }
  if (report.dueBy().isValid())
    t.closing << QStringLiteral(u"Отчёт за %1 год представляется в надзорный орган до %2.")
                     .arg(report.first().year())
                     .arg(report.dueBy().toString(kDate));
  return t;
}

ReportTable reportTable(const EmissionReport& report, int intervalMinutes, const QLocale& locale) {
  return reportTable(report, report.first(), report.last(), intervalMinutes, locale);
}

}  // namespace emissions
