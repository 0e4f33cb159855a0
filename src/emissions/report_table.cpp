#include "emissions/report_table.h"

#include <QDateTime>
#include <QTimeZone>

#include "emissions/emission_texts.h"

namespace emissions {

namespace {

const QString kDate = QStringLiteral("dd.MM.yyyy");

QString limitText(const std::optional<double>& v, const QLocale& locale) {
  return v ? meanText(*v, locale) : QStringLiteral(u"—");
}

}  // namespace

ReportTable reportTable(const EmissionReport& report, QDate from, QDate to, int intervalMinutes,
                        const QLocale& locale) {
  ReportTable t;
  t.title = from == to ? QStringLiteral(u"Отчёт о выбросах за %1").arg(from.toString(kDate))
                       : QStringLiteral(u"Отчёт о выбросах за %1 – %2").arg(from.toString(kDate), to.toString(kDate));
  const AlarmLimits& limits = report.limits();
  t.notes << QStringLiteral(u"Концентрации в мг/м³ сухого газа при 0 °C и 101,325 кПа, приведённые к образцовому O2 "
                            u"топлива; NOx в пересчёте на NO2. Интервал усреднения %1 мин; интервал достоверен при "
                            u"2/3 ожидаемых результатов, сутки — при допустимом числе недостоверных интервалов.")
                 .arg(intervalMinutes);
  QStringList limitTexts;
  for (Component c : kComponents)
    limitTexts << QStringLiteral(u"%1 %2 / %3")
                      .arg(componentTitle(c), limitText(limits[c].interval, locale), limitText(limits[c].daily, locale));
  t.notes << QStringLiteral(u"Нормативы (за интервал / суточный), мг/м³: %1. Порог предупреждения %2 % норматива.")
                 .arg(limitTexts.join(QStringLiteral("; ")), locale.toString(limits.preAlarmPercent, 'g', 6));

  t.headers << QStringLiteral(u"Период") << QStringLiteral(u"Рез./инт.");
  for (Component c : kComponents) t.headers << componentTitle(c) + QStringLiteral(u", мг/м³") << QStringLiteral(u"Оценка");

  for (const ReportRow& row : report.rows()) {
    ReportTableRow out;
    out.day = row.kind == ReportRow::Kind::Day;
    out.cells << (out.day ? QStringLiteral(u"Сутки %1").arg(row.date.toString(kDate))
                          : row.date.toString(kDate) + QLatin1Char(' ') +
                                spanText(row.startUtcMs, row.startOffset, row.endUtcMs, row.endOffset));
    out.cells << (out.day ? QStringLiteral(u"%1 инт.").arg(row.count) : QString::number(row.count));
    for (Component c : kComponents) {
      const ComponentAverage& a = row.components[size_t(index(c))];
      const Exceedance e = row.exceedances[size_t(index(c))];
      out.valid[size_t(index(c))] = a.valid;
      out.exceedances[size_t(index(c))] = e;
      out.cells << (a.count > 0 ? meanText(a.mean, locale) : QStringLiteral(u"—")) << judgementText(a.valid, e);
    }
    t.rows.append(out);
  }

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
  return t;
}

}  // namespace emissions
