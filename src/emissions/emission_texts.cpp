#include "emissions/emission_texts.h"

#include <QDateTime>
#include <QTimeZone>

namespace emissions {

namespace {

QDateTime local(qint64 utcMs, int offset) { return QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone(offset)); }

const QString kDate = QStringLiteral("dd.MM.yyyy");
const QString kTime = QStringLiteral("hh:mm");

// What the average was: "среднее за 10:00–10:30" or "среднесуточное за 06.12.2026".
QString averageText(const AlarmKey& key, qint64 startUtcMs, qint64 endUtcMs, int endOffset) {
  if (key.period == AveragePeriod::Day)
    return QStringLiteral(u"среднесуточное за ") + local(endUtcMs - 1, endOffset).date().toString(kDate);
  // The offset at the end stands for the start too: they differ only across a clock change.
  return QStringLiteral(u"среднее за ") + spanText(startUtcMs, endOffset, endUtcMs, endOffset);
}

QString whatText(const AlarmKey& key) {
  const QString name = componentTitle(key.component);
  if (key.level == AlarmLevel::PreAlarm)
    return (key.period == AveragePeriod::Day ? QStringLiteral(u"предупреждение по суточному нормативу ")
                                             : QStringLiteral(u"предупреждение по нормативу ")) +
           name;
  return (key.period == AveragePeriod::Day ? QStringLiteral(u"превышение суточного норматива ")
                                           : QStringLiteral(u"превышение норматива ")) +
         name;
}

QString capitalized(QString s) {
  if (!s.isEmpty()) s[0] = s[0].toUpper();
  return s;
}

}  // namespace

QString componentTitle(Component c) { return QString::fromLatin1(componentName(c)); }

QString meanText(double mgPerM3, const QLocale& locale) {
  QLocale l = locale;
  l.setNumberOptions(QLocale::OmitGroupSeparator);
  return l.toString(mgPerM3, 'f', 1);
}

QString spanText(qint64 startUtcMs, int startOffset, qint64 endUtcMs, int endOffset) {
  const QDateTime s = local(startUtcMs, startOffset), e = local(endUtcMs, endOffset);
  // An interval that ends at midnight still lies within its day.
  const bool oneDay = s.date() == e.date() || (e.time() == QTime(0, 0) && s.date().addDays(1) == e.date());
  if (oneDay) return s.toString(kTime) + QChar(0x2013) + e.toString(kTime);
  return s.toString(kDate + QLatin1Char(' ') + kTime) + QChar(0x2013) +
         e.toString(kDate + QLatin1Char(' ') + kTime);
}

QString alarmEventText(const AlarmEvent& e, qint64 intervalMs, const QLocale& locale) {
  if (e.type == AlarmEventType::Acknowledged) {
    const qint64 end = e.key.period == AveragePeriod::Day ? e.averageStartUtcMs + 1 : e.averageStartUtcMs + intervalMs;
    return QStringLiteral(u"Сигнализация квитирована в %1: %2, %3")
        .arg(local(e.utcMs, e.utcOffset).toString(QStringLiteral("hh:mm:ss")), whatText(e.key),
             averageText(e.key, e.averageStartUtcMs, end, e.utcOffset));
  }
  // A repeat: the alarm raised before is still latched.
  const QString what = e.type == AlarmEventType::Repeated ? QStringLiteral(u"Снова ") + whatText(e.key)
                                                          : capitalized(whatText(e.key));
  return QStringLiteral(u"%1: %2 %3 мг/м³ > %4 мг/м³")
      .arg(what, averageText(e.key, e.averageStartUtcMs, e.utcMs, e.utcOffset), meanText(e.value, locale),
           meanText(e.threshold, locale));
}

QString alarmStateText(const AlarmKey& key, const AlarmState& s, int offset, const QLocale& locale) {
  return QStringLiteral(u"%1: %2 %3 мг/м³ > %4 мг/м³")
      .arg(capitalized(whatText(key)), averageText(key, s.averageStartUtcMs, s.raisedUtcMs, offset),
           meanText(s.value, locale), meanText(s.threshold, locale));
}

QString judgementText(bool valid, Exceedance e) {
  if (!valid) return QStringLiteral(u"недостоверно");
  switch (e) {
    case Exceedance::None: return QStringLiteral(u"норма");
    case Exceedance::PreAlarm: return QStringLiteral(u"предупреждение");
    case Exceedance::Alarm: return QStringLiteral(u"ПРЕВЫШЕНИЕ");
  }
  return {};
}

}  // namespace emissions
