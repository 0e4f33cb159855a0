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
QString optionalText(const std::optional<double>& d) { return d ? numberText(*d) : QString(); }

const QString kProfileKey = QStringLiteral("Regulation/Profile");
const QString kOnlyAboveKey = QStringLiteral("Regulation/O2CorrectionOnlyAbove");
const QString kBasisKey = QStringLiteral("Gas/Basis");
const QString kWaterKey = QStringLiteral("Gas/WaterPercent");
const QString kPlantRuleKey = QStringLiteral("Plant/Rule");
const QString kPlantO2Key = QStringLiteral("Plant/O2AbovePercent");
const QString kPlantMinutesKey = QStringLiteral("Plant/Minutes");

QString confidenceKey(Component c) {
  return QStringLiteral("ConfidencePercent/") + QString::fromLatin1(componentName(c));
}
QString calibrationKey(Component c, const char* key) {
  return QStringLiteral("Calibration") + QString::fromLatin1(componentName(c)) + QLatin1Char('/') +
         QLatin1String(key);
}

const char* plantRuleKey(PlantRule::Source s) {
  switch (s) {
    case PlantRule::Source::None:
      return "none";
    case PlantRule::Source::O2:
      return "o2";
    case PlantRule::Source::Switch:
      return "switch";
  }
  return "none";
}

bool waterIsSound(double w) { return w >= 0 && w < 100; }
bool plantO2IsSound(double o2) { return o2 > 0 && o2 <= 21; }
bool plantMinutesAreSound(int m) { return m >= 1 && m <= 1440; }
bool percentIsSound(double p) { return p >= 0 && p <= 100; }

// The validation keys; what is wrong keeps its default and is named.
void readValidation(QSettings& s, SettingsLoad& out) {
  EmissionSettings& e = out.settings;
  auto problem = [&out](const QString& key, const QString& why, const QString& value) {
    out.problems.append(QStringLiteral("%1: %2: %3").arg(key, why, value));
  };
  auto textOf = [&s](const QString& key) { return text(s.value(key)); };

  if (const QString t = textOf(kProfileKey); !t.isEmpty()) {
    if (const auto p = profileFromKey(t))
      e.profile = *p;
    else
      problem(kProfileKey, QStringLiteral("not none, 17bimschv, 13bimschv or 44bimschv"), t);
  }
  if (const QString t = textOf(kOnlyAboveKey); !t.isEmpty()) {
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
      e.o2CorrectionOnlyAbove = true;
    else if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
      e.o2CorrectionOnlyAbove = false;
    else
      problem(kOnlyAboveKey, QStringLiteral("not true or false"), t);
  }
  for (Component c : kComponents) {
    const QString key = confidenceKey(c);
    const QString t = textOf(key);
    if (t.isEmpty()) continue;
    const auto v = number(t);
    if (v && percentIsSound(*v))
      e.confidencePercent[size_t(index(c))] = *v;
    else
      problem(key, QStringLiteral("not a percentage 0..100"), t);
  }
  if (const QString t = textOf(kBasisKey); !t.isEmpty()) {
    if (t.compare(QLatin1String("dry"), Qt::CaseInsensitive) == 0)
      e.gas.basis = GasBasis::Dry;
    else if (t.compare(QLatin1String("wet"), Qt::CaseInsensitive) == 0)
      e.gas.basis = GasBasis::Wet;
    else
      problem(kBasisKey, QStringLiteral("not dry or wet"), t);
  }
  if (const QString t = textOf(kWaterKey); !t.isEmpty()) {
    const auto v = number(t);
    if (v && waterIsSound(*v))
      e.gas.waterPercent = *v;
    else
      problem(kWaterKey, QStringLiteral("not a percentage 0..<100"), t);
  }
  if (const QString t = textOf(kPlantRuleKey); !t.isEmpty()) {
    bool known = false;
    for (auto src : {PlantRule::Source::None, PlantRule::Source::O2, PlantRule::Source::Switch}) {
      if (t.compare(QLatin1String(plantRuleKey(src)), Qt::CaseInsensitive) == 0) {
        e.plant.source = src;
        known = true;
      }
    }
    if (!known) problem(kPlantRuleKey, QStringLiteral("not none, o2 or switch"), t);
  }
  if (const QString t = textOf(kPlantO2Key); !t.isEmpty()) {
    const auto v = number(t);
    if (v && plantO2IsSound(*v))
      e.plant.o2AbovePercent = *v;
    else
      problem(kPlantO2Key, QStringLiteral("not a percentage above 0 up to 21"), t);
  }
  if (const QString t = textOf(kPlantMinutesKey); !t.isEmpty()) {
    bool ok = false;
    const int m = t.toInt(&ok);
    if (ok && plantMinutesAreSound(m))
      e.plant.minutes = m;
    else
      problem(kPlantMinutesKey, QStringLiteral("not 1..1440 minutes"), t);
  }
  for (Component c : kComponents) {
    Qal2Calibration cal;
    const QString aText = textOf(calibrationKey(c, "A")), bText = textOf(calibrationKey(c, "B"));
    if (aText.isEmpty() && bText.isEmpty()) continue;
    const auto a = number(aText), b = number(bText);
    if (!a) {
      problem(calibrationKey(c, "A"), QStringLiteral("not a number"), aText);
      continue;
    }
    if (!b || !(*b > 0)) {
      problem(calibrationKey(c, "B"), QStringLiteral("not a positive number"), bText);
      continue;
    }
    cal.set = true;
    cal.a = *a;
    cal.b = *b;
    const QString dateText = textOf(calibrationKey(c, "Date"));
    cal.date = QDate::fromString(dateText, Qt::ISODate);
    if (!dateText.isEmpty() && !cal.date.isValid())
      problem(calibrationKey(c, "Date"), QStringLiteral("not a date YYYY-MM-DD"), dateText);
    cal.report = textOf(calibrationKey(c, "Report"));
    const QString highText = textOf(calibrationKey(c, "HighestValue"));
    if (!highText.isEmpty()) {
      const auto h = number(highText);
      if (h && *h > 0)
        cal.highest = *h;
      else
        problem(calibrationKey(c, "HighestValue"), QStringLiteral("not a positive number"), highText);
    }
    e.calibration[size_t(index(c))] = cal;
  }
}

void writeValidation(QSettings& s, const EmissionSettings& e) {
  s.setValue(kProfileKey, QString::fromLatin1(regulationRules(e.profile).key));
  s.setValue(kOnlyAboveKey, e.o2CorrectionOnlyAbove ? QString::fromLatin1(*e.o2CorrectionOnlyAbove ? "true" : "false")
                                                    : QString());
  for (Component c : kComponents) s.setValue(confidenceKey(c), optionalText(e.confidencePercent[size_t(index(c))]));
  s.setValue(kBasisKey, QString::fromLatin1(e.gas.basis == GasBasis::Wet ? "wet" : "dry"));
  s.setValue(kWaterKey, numberText(e.gas.waterPercent));
  s.setValue(kPlantRuleKey, QString::fromLatin1(plantRuleKey(e.plant.source)));
  s.setValue(kPlantO2Key, numberText(e.plant.o2AbovePercent));
  s.setValue(kPlantMinutesKey, e.plant.minutes);
  for (Component c : kComponents) {
    const Qal2Calibration& cal = e.calibration[size_t(index(c))];
    s.setValue(calibrationKey(c, "A"), cal.set ? numberText(cal.a) : QString());
    s.setValue(calibrationKey(c, "B"), cal.set ? numberText(cal.b) : QString());
    s.setValue(calibrationKey(c, "Date"), cal.set && cal.date.isValid() ? cal.date.toString(Qt::ISODate) : QString());
    s.setValue(calibrationKey(c, "Report"), cal.set ? cal.report : QString());
    s.setValue(calibrationKey(c, "HighestValue"), cal.set && cal.highest > 0 ? numberText(cal.highest) : QString());
  }
}

// Why the validation settings cannot be written as they are; empty when they can.
QString validationProblem(const EmissionSettings& e) {
  if (!(int(e.profile) < kRegulationProfileCount)) return QStringLiteral("unknown profile");
  for (const auto& p : e.confidencePercent)
    if (p && !(std::isfinite(*p) && percentIsSound(*p))) return QStringLiteral("a confidence share is not 0..100");
  if (!(std::isfinite(e.gas.waterPercent) && waterIsSound(e.gas.waterPercent)))
    return QStringLiteral("water vapour is not 0..<100 per cent");
  if (!(std::isfinite(e.plant.o2AbovePercent) && plantO2IsSound(e.plant.o2AbovePercent)))
    return QStringLiteral("the plant's O2 threshold is not above 0 up to 21 per cent");
  if (!plantMinutesAreSound(e.plant.minutes)) return QStringLiteral("the plant's minutes are not 1..1440");
  for (const Qal2Calibration& cal : e.calibration) {
    if (!cal.set) continue;
    if (!std::isfinite(cal.a) || !(std::isfinite(cal.b) && cal.b > 0))
      return QStringLiteral("a calibration function is not y = a + b*x with b above 0");
    if (!(std::isfinite(cal.highest) && cal.highest >= 0))
      return QStringLiteral("a highest calibrated value is not a positive number");
    if (cal.report.contains(QLatin1Char('\n')) || cal.report.contains(QLatin1Char('\r')))
      return QStringLiteral("a test report's number has a line break");
  }
  return {};
}

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
  readValidation(s, out);
}

}  // namespace

int EmissionSettings::effectiveIntervalMinutes() const {
  const int st = regulationRules(profile).shortTermMinutes;
  return st > 0 ? st : intervalMinutes;
}

ValidationConfig EmissionSettings::validation() const {
  ValidationConfig v;
  v.profile = profile;
  v.calibration = calibration;
  v.gas = gas;
  v.plant = plant;
  v.confidencePercent = confidencePercent;
  v.o2CorrectionOnlyAbove = o2CorrectionOnlyAbove;
  for (Component c : kComponents) {
    const ComponentLimits& l = limits[c];
    v.dailyLimit[size_t(index(c))] = l.daily;
    v.monitored[size_t(index(c))] = l.daily.has_value() || l.interval.has_value();
  }
  return v;
}

AveragingConfig EmissionSettings::averaging(int resultPeriodSeconds, const QTimeZone& zone,
                                            std::vector<double> o2RefByFuel) const {
  AveragingConfig c;
  c.intervalMinutes = effectiveIntervalMinutes();
  c.resultPeriodSeconds = resultPeriodSeconds;
  c.zone = zone;
  c.o2RefByFuel = std::move(o2RefByFuel);
  c.validation = validation();
  return c.sanitized();
}

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
  if (const QString why = validationProblem(settings); !why.isEmpty()) return fail(why);
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
    writeValidation(s, settings);
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
