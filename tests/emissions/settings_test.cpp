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

}  // namespace
