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
// and what validates the averages (a file without these keys, as every
// file before them, means no regulation, dry gas, no calibration):
//
//   [Regulation]
//   Profile=17bimschv         ; none, 17bimschv, 13bimschv or 44bimschv
//   O2CorrectionOnlyAbove=    ; true or false; empty = as the profile says
//   [ConfidencePercent]       ; 95 % confidence interval, per cent of the daily limit
//   CO=                       ; empty = the profile's share (CO 10, NOx 20, SO2 20, H2S none)
//   [Gas]
//   Basis=dry                 ; dry or wet
//   WaterPercent=0            ; H2O by volume of the wet gas, 0..<100
//   [Plant]
//   Rule=o2                   ; none, o2 or switch
//   O2AbovePercent=19         ; o2: not operating once O2 stays above this ...
//   Minutes=10                ; ... for this many minutes
//   [CalibrationCO]           ; also [CalibrationNOx], [CalibrationSO2], [CalibrationH2S]
//   A=2                       ; QAL2 function y = A + B*x, x the reading in ppm;
//   B=1.05                    ; both empty = no calibration
//   Date=2025-06-12           ; of the QAL2 test
//   Report=MB-117/25          ; the test report's number
//   HighestValue=300          ; the highest calibrated value, ppm; empty = no range
//
// Numbers are written with a decimal point; a decimal comma typed by hand is
// read too.

#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <vector>

#include "emissions/alarms.h"
#include "emissions/averaging.h"
#include "emissions/validation.h"

namespace emissions {

struct EmissionSettings {
  int intervalMinutes = kDefaultIntervalMinutes;
  AlarmLimits limits;  // by default no limit is set
  RegulationProfile profile = RegulationProfile::None;
  std::optional<bool> o2CorrectionOnlyAbove;  // empty: the profile's rule
  std::array<std::optional<double>, kComponentCount> confidencePercent{};  // empty: the profile's
  GasConditions gas;
  PlantRule plant;
  std::array<Qal2Calibration, kComponentCount> calibration{};

  // The interval length in force: the profile's short-term length, else the setting.
  int effectiveIntervalMinutes() const;
  // The validation these settings ask for; the components with a limit are
  // the monitored ones.
  ValidationConfig validation() const;
  // The averaging of these settings for results `resultPeriodSeconds` apart
  // in `zone`, with the reference O2 of each fuel row.
  AveragingConfig averaging(int resultPeriodSeconds, const QTimeZone& zone, std::vector<double> o2RefByFuel) const;

  bool operator==(const EmissionSettings& o) const {
    return intervalMinutes == o.intervalMinutes && limits == o.limits && profile == o.profile &&
           o2CorrectionOnlyAbove == o.o2CorrectionOnlyAbove && confidencePercent == o.confidencePercent &&
           gas == o.gas && plant == o.plant && calibration == o.calibration;
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
