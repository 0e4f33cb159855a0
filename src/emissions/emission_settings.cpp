#include "emissions/emission_settings.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <cmath>

namespace emissions {

namespace {

const QString kIntervalKey = QStringLiteral("Averaging/IntervalMinutes");
const QString kPreAlarmKey = QStringLiteral("Alarms/PreAlarmPercent");

QString limitKey(Component c, AveragePeriod p) {
  return QString::fromLatin1(componentName(c)) + (p == AveragePeriod::Interval
                                                      ? QStringLiteral("/IntervalLimit")
                                                      : QStringLiteral("/DailyLimit"));
}

// The value as typed. QSettings splits an unquoted "5,5" into a list.
QString text(const QVariant& v) {
  if (v.metaType().id() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(','));
  return v.toString().trimmed();
}

std::optional<double> number(const QString& t) {
  bool ok = false;
  double d = QLocale::c().toDouble(t, &ok);
  if (!ok) d = QLocale::c().toDouble(QString(t).replace(QLatin1Char(','), QLatin1Char('.')), &ok);
  if (!ok || !std::isfinite(d)) return std::nullopt;
  return d;
}

QString numberText(double d) { return QString::number(d, 'g', QLocale::FloatingPointShortest); }

void readSettings(QSettings& s, SettingsLoad& out) {
  EmissionSettings& e = out.settings;
  auto problem = [&out](const QString& key, const QString& why, const QString& value) {
    out.problems.append(QStringLiteral("%1: %2: %3").arg(key, why, value));
  };

  if (s.contains(kIntervalKey)) {
    const QString t = text(s.value(kIntervalKey));
    bool ok = false;
    const int m = t.toInt(&ok);
    if (ok && isAllowedIntervalMinutes(m))
      e.intervalMinutes = m;
    else
      problem(kIntervalKey, QStringLiteral("not 10, 15, 30 or 60"), t);
  }
  if (s.contains(kPreAlarmKey)) {
    const QString t = text(s.value(kPreAlarmKey));
    const auto p = number(t);
    if (p && *p >= 0 && *p <= 100)
      e.limits.preAlarmPercent = *p;
    else
      problem(kPreAlarmKey, QStringLiteral("not a percentage 0..100"), t);
  }
  for (Component c : kComponents) {
    for (AveragePeriod p : {AveragePeriod::Interval, AveragePeriod::Day}) {
      const QString key = limitKey(c, p);
      const QString t = text(s.value(key));
      if (t.isEmpty()) continue;
      const auto v = number(t);
      if (!v || !isSensibleLimit(*v)) {
        problem(key, QStringLiteral("not a limit of 0.1..100000 mg/m3"), t);
        continue;
      }
      ComponentLimits& l = e.limits[c];
      (p == AveragePeriod::Interval ? l.interval : l.daily) = *v;
    }
  }
}

}  // namespace

QString SettingsLoad::message() const {
  switch (status) {
    case SettingsStatus::Loaded:
      return {};
    case SettingsStatus::Missing:
      return QStringLiteral("Emission settings file not found; defaults in use (no limits).");
    case SettingsStatus::Unreadable:
      return QStringLiteral("Emission settings file cannot be read; defaults in use (no limits).");
    case SettingsStatus::Broken:
      return QStringLiteral("Emission settings file is damaged; defaults in use (no limits).");
    case SettingsStatus::InvalidValues:
      return QStringLiteral("Emission settings: ignored, defaults in use for ") +
             problems.join(QStringLiteral("; "));
  }
  return {};
}

SettingsLoad loadEmissionSettings(const QString& path) {
  SettingsLoad out;
  const QFileInfo info(path);
  if (!info.exists()) {
    out.status = SettingsStatus::Missing;
    return out;
  }
  QFile probe(path);
  if (!info.isFile() || !probe.open(QIODevice::ReadOnly)) {
    out.status = SettingsStatus::Unreadable;
    return out;
  }
  probe.close();

  QSettings s(path, QSettings::IniFormat);
  if (s.status() == QSettings::AccessError) {
    out.status = SettingsStatus::Unreadable;
    return out;
  }
  if (s.status() == QSettings::FormatError) {
    // Part of a damaged file may parse; none of it is trusted.
    out.status = SettingsStatus::Broken;
    return out;
  }
  readSettings(s, out);
  out.status = out.problems.isEmpty() ? SettingsStatus::Loaded : SettingsStatus::InvalidValues;
  return out;
}

bool saveEmissionSettings(const QString& path, const EmissionSettings& settings, QString* error) {
  auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  // Refused rather than written: the next load would drop them silently.
  const AlarmLimits& lim = settings.limits;
  if (!isAllowedIntervalMinutes(settings.intervalMinutes))
    return fail(QStringLiteral("interval length is not 10, 15, 30 or 60 minutes"));
  if (!(lim.preAlarmPercent >= 0 && lim.preAlarmPercent <= 100))
    return fail(QStringLiteral("pre-alarm percentage is not 0..100"));
  for (const ComponentLimits& l : lim.components) {
    for (const std::optional<double>& v : {l.interval, l.daily}) {
      if (v && !isSensibleLimit(*v)) return fail(QStringLiteral("a limit is not 0.1..100000 mg/m3"));
    }
  }
  {
    QSettings s(path, QSettings::IniFormat);
    s.clear();
    s.setValue(kIntervalKey, settings.intervalMinutes);
    s.setValue(kPreAlarmKey, numberText(settings.limits.preAlarmPercent));
    for (Component c : kComponents) {
      const ComponentLimits& l = settings.limits[c];
      s.setValue(limitKey(c, AveragePeriod::Interval),
                 l.interval ? numberText(*l.interval) : QString());
      s.setValue(limitKey(c, AveragePeriod::Day), l.daily ? numberText(*l.daily) : QString());
    }
    s.sync();
    // FormatError here only says the old contents were damaged; the read
    // back below decides.
    if (s.status() == QSettings::AccessError) return fail(QStringLiteral("cannot write ") + path);
  }
  const SettingsLoad back = loadEmissionSettings(path);
  if (back.status != SettingsStatus::Loaded || !(back.settings == settings))
    return fail(QStringLiteral("written file does not read back: ") + path);
  return true;
}

}  // namespace emissions
