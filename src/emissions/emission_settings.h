#pragma once
// The emission settings file: interval length, pre-alarm percentage and the
// limits, as a QSettings INI file of its own:
//
//   [Averaging]
//   IntervalMinutes=30        ; 10, 15, 30 or 60
//   [Alarms]
//   PreAlarmPercent=80        ; 0..100 of the limit, 0 = no pre-alarms
//   [CO]                      ; also [NOx], [SO2], [H2S]
//   IntervalLimit=100         ; mg/m3 at the reference O2, empty = none
//   DailyLimit=
//
// Numbers are written with a decimal point; a decimal comma typed by hand is
// read too.

#include <QString>
#include <QStringList>

#include "emissions/alarms.h"
#include "emissions/averaging.h"

namespace emissions {

struct EmissionSettings {
  int intervalMinutes = kDefaultIntervalMinutes;
  AlarmLimits limits;  // by default no limit is set

  bool operator==(const EmissionSettings& o) const {
    return intervalMinutes == o.intervalMinutes && limits == o.limits;
  }
};

enum class SettingsStatus : uint8_t {
  Loaded,         // read as it is
  Missing,        // no file: defaults
  Unreadable,     // cannot be opened: defaults
  Broken,         // not an INI file: defaults, nothing of it trusted
  InvalidValues,  // read, but the keys in `problems` were out of range and keep their defaults
};

struct SettingsLoad {
  EmissionSettings settings;
  SettingsStatus status = SettingsStatus::Loaded;
  QStringList problems;     // "CO/IntervalLimit: not a number: abc", ...
  QString message() const;  // one line for the user; empty when Loaded
};

SettingsLoad loadEmissionSettings(const QString& path);
// Writes every key (an unset limit as an empty value) and reads the file
// back to check it. False with the reason in `error` if that failed.
bool saveEmissionSettings(const QString& path, const EmissionSettings& settings,
                          QString* error = nullptr);

}  // namespace emissions
