// The emission settings file: what is saved loads back; a missing, broken or
// partly wrong file gives defaults (no limits) and says so.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "emissions/emission_settings.h"
#include "support/test_files.h"

namespace {

using namespace emissions;

class EmissionSettingsFile : public testing::Test {
 protected:
  QString path(const QString& name = QStringLiteral("emissions.ini")) const {
    return dir_.filePath(name);
  }
  QTemporaryDir dir_;
};

TEST_F(EmissionSettingsFile, WhatIsSavedLoadsBack) {
  EmissionSettings s;
  s.intervalMinutes = 15;
  s.limits.preAlarmPercent = 75.5;
  s.limits[Component::CO] = {100, 50.5};
  s.limits[Component::NOx].interval = 200;
  s.limits[Component::H2S].daily = 0.1;
  QString error;
  ASSERT_TRUE(saveEmissionSettings(path(), s, &error)) << error.toStdString();

  const QByteArray text = test_files::readAll(path());
  EXPECT_TRUE(text.contains("[Averaging]\nIntervalMinutes=15\n"));
  EXPECT_TRUE(text.contains("PreAlarmPercent=75.5\n"));
  EXPECT_TRUE(text.contains("[CO]\nDailyLimit=50.5\nIntervalLimit=100\n"));
  EXPECT_TRUE(text.contains("[SO2]\nDailyLimit=\nIntervalLimit=\n"));

  const SettingsLoad loaded = loadEmissionSettings(path());
  EXPECT_EQ(loaded.status, SettingsStatus::Loaded);
  EXPECT_TRUE(loaded.message().isEmpty());
  EXPECT_EQ(loaded.settings, s);
  EXPECT_FALSE(loaded.settings.limits[Component::SO2].interval.has_value());
}

TEST_F(EmissionSettingsFile, AMissingOrBrokenFileGivesDefaultsWithoutLimits) {
  const EmissionSettings defaults;
  EXPECT_EQ(defaults.intervalMinutes, 30);
  for (const ComponentLimits& l : defaults.limits.components) {
    EXPECT_FALSE(l.interval.has_value());
    EXPECT_FALSE(l.daily.has_value());
  }

  SettingsLoad l = loadEmissionSettings(path());
  EXPECT_EQ(l.status, SettingsStatus::Missing);
  EXPECT_EQ(l.settings, defaults);
  EXPECT_FALSE(l.message().isEmpty());

  // An unclosed section header: QSettings reads part of it; none is used.
  ASSERT_TRUE(
      test_files::writeAll(path(), "[Averaging\nIntervalMinutes=10\n[CO]\nIntervalLimit=5\n"));
  l = loadEmissionSettings(path());
  EXPECT_EQ(l.status, SettingsStatus::Broken);
  EXPECT_EQ(l.settings, defaults);
  EXPECT_TRUE(l.message().contains(QStringLiteral("damaged")));

  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("folder.ini")));
  l = loadEmissionSettings(path(QStringLiteral("folder.ini")));
  EXPECT_EQ(l.status, SettingsStatus::Unreadable);
  EXPECT_EQ(l.settings, defaults);

  // Saving replaces the broken file.
  EmissionSettings s;
  s.limits[Component::CO].interval = 5;
  ASSERT_TRUE(saveEmissionSettings(path(), s));
  l = loadEmissionSettings(path());
  EXPECT_EQ(l.status, SettingsStatus::Loaded);
  EXPECT_EQ(l.settings, s);
}

TEST_F(EmissionSettingsFile, WrongValuesKeepTheirDefaultsAndAreNamed) {
  ASSERT_TRUE(test_files::writeAll(path(),
                                   "[Averaging]\nIntervalMinutes=17\n"
                                   "[Alarms]\nPreAlarmPercent=150\n"
                                   "[CO]\nIntervalLimit=abc\nDailyLimit=40\n"
                                   "[NOx]\nDailyLimit=-3\n"
                                   "[SO2]\nIntervalLimit=5,5\n"));
  const SettingsLoad l = loadEmissionSettings(path());
  EXPECT_EQ(l.status, SettingsStatus::InvalidValues);
  EXPECT_EQ(l.settings.intervalMinutes, 30);
  EXPECT_EQ(l.settings.limits.preAlarmPercent, kDefaultPreAlarmPercent);
  EXPECT_FALSE(l.settings.limits[Component::CO].interval.has_value());
  EXPECT_EQ(l.settings.limits[Component::CO].daily, 40.0);
  EXPECT_FALSE(l.settings.limits[Component::NOx].daily.has_value());
  EXPECT_EQ(l.settings.limits[Component::SO2].interval, 5.5);  // a decimal comma typed by hand
  ASSERT_EQ(l.problems.size(), 4);
  const QString m = l.message();
  for (const char* key : {"Averaging/IntervalMinutes", "Alarms/PreAlarmPercent", "CO/IntervalLimit",
                          "NOx/DailyLimit"})
    EXPECT_TRUE(m.contains(QLatin1String(key))) << key;
}

TEST_F(EmissionSettingsFile, SavingFailsCleanlyWhereItCannotWriteOrTheValuesAreWrong) {
  ASSERT_TRUE(test_files::writeAll(path(QStringLiteral("plain")), "x"));
  QString error;
  EXPECT_FALSE(saveEmissionSettings(path(QStringLiteral("plain/emissions.ini")), {}, &error));
  EXPECT_FALSE(error.isEmpty());

  EmissionSettings wrong;
  wrong.intervalMinutes = 20;
  error.clear();
  EXPECT_FALSE(saveEmissionSettings(path(), wrong, &error));
  EXPECT_FALSE(error.isEmpty());
  wrong = {};
  wrong.limits[Component::H2S].interval = -1;
  EXPECT_FALSE(saveEmissionSettings(path(), wrong));
  EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(EmissionSettingsFile, TheValidationSettingsLoadBackAndAnOlderFileMeansNoRegulation) {
  // A file as the program wrote it before profiles existed.
  ASSERT_TRUE(test_files::writeAll(path(), "[Averaging]\nIntervalMinutes=15\n[CO]\nDailyLimit=50\nIntervalLimit=100\n"));
  SettingsLoad l = loadEmissionSettings(path());
  EXPECT_EQ(l.status, SettingsStatus::Loaded);
  EXPECT_EQ(l.settings.profile, RegulationProfile::None);
  EXPECT_EQ(l.settings.effectiveIntervalMinutes(), 15);
  EXPECT_EQ(l.settings.gas.basis, GasBasis::Dry);
  EXPECT_FALSE(l.settings.calibration[0].set);
  EXPECT_EQ(l.settings.validation().confidenceInterval(Component::CO), 0);

  EmissionSettings s = l.settings;
  s.profile = RegulationProfile::LargeCombustion;
  s.o2CorrectionOnlyAbove = true;
  s.confidencePercent[size_t(index(Component::H2S))] = 25;
  s.gas = {GasBasis::Wet, 12.5};
  s.plant = {PlantRule::Source::O2, 19.5, 15};
  s.calibration[size_t(index(Component::NOx))] = {true, -1.5, 0.98, QDate(2025, 6, 12), QStringLiteral("MB 117/25, Anl. 3"), 280};
  QString error;
  ASSERT_TRUE(saveEmissionSettings(path(), s, &error)) << error.toStdString();
  const QByteArray text = test_files::readAll(path());
  EXPECT_TRUE(text.contains("[Regulation]\nO2CorrectionOnlyAbove=true\nProfile=13bimschv\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("[CalibrationNOx]\nA=-1.5\nB=0.98\nDate=2025-06-12\n")) << text.toStdString();
  l = loadEmissionSettings(path());
  EXPECT_EQ(l.status, SettingsStatus::Loaded);
  EXPECT_EQ(l.settings, s);
  EXPECT_EQ(l.settings.effectiveIntervalMinutes(), 60);  // the profile's hours

  const ValidationConfig v = l.settings.validation();
  EXPECT_TRUE(v.monitored[size_t(index(Component::CO))]);
  EXPECT_FALSE(v.monitored[size_t(index(Component::SO2))]);
  EXPECT_DOUBLE_EQ(v.confidenceInterval(Component::CO), 5);  // 10 % of the daily 50
  const AveragingConfig a = l.settings.averaging(10, QTimeZone::utc(), {3});
  EXPECT_EQ(a.intervalMinutes, 60);
  EXPECT_EQ(a.validation, v);
}

TEST_F(EmissionSettingsFile, WrongValidationValuesKeepTheirDefaultsAndAreNamed) {
  ASSERT_TRUE(test_files::writeAll(path(),
                                   "[Regulation]\nProfile=epa\nO2CorrectionOnlyAbove=maybe\n"
                                   "[ConfidencePercent]\nCO=120\nNOx=15\n"
                                   "[Gas]\nBasis=wet\nWaterPercent=100\n"
                                   "[Plant]\nRule=o2\nMinutes=0\n"
                                   "[CalibrationSO2]\nA=1\nB=0\n"
                                   "[CalibrationCO]\nA=2\nB=1.05\nHighestValue=300\nDate=12.06.2025\n"));
  const SettingsLoad l = loadEmissionSettings(path());
  EXPECT_EQ(l.status, SettingsStatus::InvalidValues);
  EXPECT_EQ(l.settings.profile, RegulationProfile::None);
  EXPECT_FALSE(l.settings.o2CorrectionOnlyAbove.has_value());
  EXPECT_FALSE(l.settings.confidencePercent[0].has_value());
  EXPECT_EQ(l.settings.confidencePercent[1], 15.0);
  EXPECT_EQ(l.settings.gas.basis, GasBasis::Wet);
  EXPECT_EQ(l.settings.gas.waterPercent, 0);
  EXPECT_EQ(l.settings.plant.source, PlantRule::Source::O2);
  EXPECT_EQ(l.settings.plant.minutes, 10);
  EXPECT_FALSE(l.settings.calibration[size_t(index(Component::SO2))].set);
  const Qal2Calibration& co = l.settings.calibration[size_t(index(Component::CO))];
  EXPECT_TRUE(co.set);  // the function holds; only its date is unreadable
  EXPECT_EQ(co.highest, 300);
  for (const char* key : {"Regulation/Profile", "Regulation/O2CorrectionOnlyAbove", "ConfidencePercent/CO",
                          "Gas/WaterPercent", "Plant/Minutes", "CalibrationSO2/B", "CalibrationCO/Date"})
    EXPECT_TRUE(l.message().contains(QLatin1String(key))) << key;

  EmissionSettings wrong;
  wrong.gas.waterPercent = 100;
  EXPECT_FALSE(saveEmissionSettings(path(QStringLiteral("other.ini")), wrong));
  wrong = {};
  wrong.calibration[0] = {true, 0, -1, {}, {}, 0};
  EXPECT_FALSE(saveEmissionSettings(path(QStringLiteral("other.ini")), wrong));
  EXPECT_FALSE(QFile::exists(path(QStringLiteral("other.ini"))));
}

}  // namespace
