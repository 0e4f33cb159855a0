// Emissions in the running program: every result into the averages, the
// intervals closed on the clock (also without results), the averages stored
// and rebuilt after a restart, the latched alarm with its lamp, beep and
// event, and its acknowledgement.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QPushButton>
#include <QTimeZone>
#include <limits>

#include "app/emissions_panel.h"
#include "dialogs/emission_limits_dialog.h"
#include "emissions/emission_settings.h"
#include "support/korvex_fixture.h"
#include "support/test_files.h"

namespace {

const QDate kDay(2026, 12, 7);

// A moment of kDay given on the UTC clock, as the local clock reads it:
// intervals are cut on the UTC clock, so hh:30:00 here is an edge in any zone.
QDateTime utc(int h, int m, int s = 0) { return QDateTime(kDay, QTime(h, m, s), QTimeZone::utc()).toLocalTime(); }

// Gases in ppm and O2 in per cent. Fuel row 0 has a reference O2 of 3 %.
Measurement gas(double co, double o2 = 3, double no = 0, double no2 = 0, double so2 = 0) {
  Measurement m;
  m.values[channel::O2] = o2;
  m.values[channel::CO] = co;
  m.values[channel::NO] = no;
  m.values[channel::NO2] = no2;
  m.values[channel::SO2] = so2;
  m.values[channel::NOx] = no + no2;
  return m;
}

// 80 mg/m3 of CO at the reference O2.
const Measurement kCo80 = gas(64);

class EmissionsTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    setNow(utc(10, 0));
  }
  // Limits in the settings file before start; 30-minute intervals.
  void writeLimits(std::optional<double> coInterval, double preAlarmPercent = 80) {
    emissions::EmissionSettings s;
    s.limits.preAlarmPercent = preAlarmPercent;
    s.limits[emissions::Component::CO].interval = coInterval;
    QString error;
    ASSERT_TRUE(emissions::saveEmissionSettings(inDir(QStringLiteral("korvex-emissions.ini")), s, &error))
        << error.toStdString();
  }
  // Results every 10 s (the default refresh period) from the clock's time
  // up to, not including, `until`; the clock ends there.
  void feed(const Measurement& m, const QDateTime& until) {
    while (now() < until) {
      addResult(m);
      advance(10);
    }
    setNow(until);
  }
  QLabel* value(const char* name) const { return find<QLabel>(name); }
  QVector<StoredAverage> intervals() const {
    return session().store().averages(AveragePeriodKind::Interval, 30, 0, std::numeric_limits<qint64>::max());
  }
};

TEST_F(EmissionsTest, AResultAtExactlyHh30ClosesTheIntervalAndOpensTheNext) {
  startWithDefaults();
  feed(kCo80, utc(10, 30));  // 180 results: all an interval of 30 min expects at 10 s
  EXPECT_TRUE(intervals().isEmpty());
  EXPECT_EQ(value("EmissionLastCO")->text(), QStringLiteral(u"—"));

  // 100 ppm NO at 6 % O2: 246.36 mg/m3 as NO2 at 3 %.
  addResult(gas(64, 6, 100, 0));
  const auto stored = intervals();
  ASSERT_EQ(stored.size(), 1);
  EXPECT_EQ(stored[0].startUtcMs, utc(10, 0).toMSecsSinceEpoch());
  EXPECT_EQ(stored[0].endUtcMs, utc(10, 30).toMSecsSinceEpoch());
  EXPECT_EQ(stored[0].count, 180);
  EXPECT_TRUE(stored[0].components[0].valid);
  EXPECT_DOUBLE_EQ(stored[0].components[0].mean, 80);

  EXPECT_EQ(value("EmissionLastCO")->text(), QStringLiteral("80,0"));
  EXPECT_TRUE(value("EmissionLastCO")->property("valid").toBool());
  EXPECT_TRUE(find<QLabel>("LabelEmissionRunning")->text().contains(QStringLiteral(u"(1 рез.)")));
  EXPECT_EQ(value("EmissionCurrentNOx")->text(), QStringLiteral("246,4"));
  EXPECT_NEAR(session().emissions().state().current[1].value_or(0), 246.36, 0.005);
}

// Under a regulation profile the running program's averages are the
// validated ones: the stored interval carries its profile and confidence
// interval (17. BImSchV: CO 10 % of a daily limit of 50), and the reports
// are computed under it too.
TEST_F(EmissionsTest, UnderARegulationProfileTheRunningAveragesAreValidated) {
  emissions::EmissionSettings s;
  s.profile = emissions::RegulationProfile::WasteIncineration;
  s.limits[emissions::Component::CO].daily = 50.0;
  QString error;
  ASSERT_TRUE(emissions::saveEmissionSettings(inDir(QStringLiteral("korvex-emissions.ini")), s, &error))
      << error.toStdString();
  startWithDefaults();
  EXPECT_EQ(settings().averagingConfig().validation.profile, emissions::RegulationProfile::WasteIncineration);
  feed(kCo80, utc(10, 30));
  addResult(kCo80);
  EXPECT_TRUE(intervals().isEmpty());  // none without a profile
  const auto stored = session().store().averages(AveragePeriodKind::Interval, 30, 0, std::numeric_limits<qint64>::max(),
                                                 int(emissions::RegulationProfile::WasteIncineration));
  ASSERT_EQ(stored.size(), 1);
  EXPECT_DOUBLE_EQ(stored[0].components[0].mean, 80);
  EXPECT_DOUBLE_EQ(stored[0].components[0].ci, 5);
  EXPECT_DOUBLE_EQ(stored[0].components[0].validated, 75);
  EXPECT_EQ(value("EmissionLastCO")->text(), QStringLiteral("75,0"));
}

TEST_F(EmissionsTest, ALostLinkClosesItsIntervalOnTimeAsInvalid) {
  startWithDefaults();
  feed(kCo80, utc(10, 10));  // 60 of the 120 results an interval needs
  setNow(utc(10, 29, 59));
  tick();
  EXPECT_TRUE(intervals().isEmpty());
  setNow(utc(10, 30));
  tick();
  const auto stored = intervals();
  ASSERT_EQ(stored.size(), 1);
  EXPECT_EQ(stored[0].count, 60);
  EXPECT_FALSE(stored[0].components[0].valid);
  EXPECT_EQ(value("EmissionLastCO")->text(), QStringLiteral("(80,0)"));
  EXPECT_FALSE(value("EmissionLastCO")->property("valid").toBool());

  // Hours without a result: every interval closes, each invalid and empty.
  setNow(utc(12, 0, 5));
  tick();
  EXPECT_EQ(intervals().size(), 4);
  EXPECT_EQ(intervals().last().count, 0);
}

TEST_F(EmissionsTest, AnExceedanceLatchesLampBeepAndEventAndAcknowledgingClearsItWithItsTime) {
  writeLimits(100);  // pre-alarm above 80 mg/m3
  startWithDefaults();
  feed(gas(72), utc(10, 30));  // 90 mg/m3: above the pre-alarm only
  tick();
  EXPECT_EQ(lamp(), int(emissions::Lamp::PreAlarm));
  EXPECT_EQ(find<QLabel>("EmissionAlarmLamp")->text(), QStringLiteral(u"ПРЕДУПРЕЖДЕНИЕ"));
  EXPECT_EQ(beeps_, 1);
  auto raised = events(EventKind::Alarm);
  ASSERT_EQ(raised.size(), 1);
  EXPECT_EQ(raised[0].text, QStringLiteral(u"Предупреждение по нормативу CO: среднее за %1 90,0 мг/м³ > 80,0 мг/м³")
                                .arg(utc(10, 0).toString(QStringLiteral("hh:mm")) + QChar(0x2013) +
                                     utc(10, 30).toString(QStringLiteral("hh:mm"))));
  EXPECT_EQ(value("EmissionLastCO")->property("exceedance").toInt(), int(emissions::Exceedance::PreAlarm));

  feed(gas(96), utc(11, 0));  // 120 mg/m3: above the limit
  tick();
  EXPECT_EQ(lamp(), int(emissions::Lamp::Alarm));
  EXPECT_EQ(beeps_, 2);
  raised = events(EventKind::Alarm);
  // The pre-alarm is still latched: not raised again, but this exceedance is
  // logged too.
  ASSERT_EQ(raised.size(), 3);
  EXPECT_TRUE(raised[1].text.startsWith(QStringLiteral(u"Снова предупреждение по нормативу CO: среднее за ")))
      << raised[1].text.toStdString();
  EXPECT_TRUE(raised[1].text.endsWith(QStringLiteral(u" 120,0 мг/м³ > 80,0 мг/м³")));
  EXPECT_TRUE(raised[2].text.startsWith(QStringLiteral(u"Превышение норматива CO: среднее за ")));
  EXPECT_TRUE(raised[2].text.endsWith(QStringLiteral(u" 120,0 мг/м³ > 100,0 мг/м³")));

  // Unacknowledged, the next exceedance gets its line, without a beep.
  feed(gas(96), utc(11, 30));
  tick();
  raised = events(EventKind::Alarm);
  ASSERT_EQ(raised.size(), 5);
  EXPECT_EQ(raised[4].text, QStringLiteral(u"Снова превышение норматива CO: среднее за %1 120,0 мг/м³ > 100,0 мг/м³")
                                .arg(utc(11, 0).toString(QStringLiteral("hh:mm")) + QChar(0x2013) +
                                     utc(11, 30).toString(QStringLiteral("hh:mm"))));
  EXPECT_EQ(beeps_, 2);
  auto* button = find<QPushButton>("EmissionAcknowledge");
  EXPECT_TRUE(button->isEnabled());

  setNow(utc(11, 31, 5));
  button->click();
  EXPECT_EQ(lamp(), int(emissions::Lamp::Off));
  EXPECT_FALSE(button->isEnabled());
  const auto acks = events(EventKind::AlarmAcknowledged);
  ASSERT_EQ(acks.size(), 2);  // the alarm and the pre-alarm
  for (const StoredEvent& e : acks) {
    EXPECT_EQ(e.utcMs, utc(11, 31, 5).toMSecsSinceEpoch());
    EXPECT_TRUE(e.text.startsWith(QStringLiteral(u"Сигнализация квитирована в ") +
                                  utc(11, 31, 5).toString(QStringLiteral("hh:mm:ss"))))
        << e.text.toStdString();
  }
  EXPECT_EQ(beeps_, 2);
}

TEST_F(EmissionsTest, ARestartRebuildsTodaysAveragesAndAlarmsWithoutRaisingThemAgain) {
  writeLimits(100);
  startWithDefaults();
  feed(gas(96), utc(10, 30));  // 120 mg/m3
  feed(kCo80, utc(10, 40));    // 60 results into the next interval
  ASSERT_EQ(lamp(), int(emissions::Lamp::Alarm));
  ASSERT_EQ(events(EventKind::Alarm).size(), 2);  // alarm and pre-alarm
  const int beeps = beeps_;
  const QString running = find<QLabel>("LabelEmissionRunning")->text();

  stopProgram();
  setNow(utc(10, 45));
  startProgram();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(value("EmissionLastCO")->text(), QStringLiteral("120,0"));
  EXPECT_TRUE(value("EmissionLastCO")->property("valid").toBool());
  EXPECT_EQ(find<QLabel>("LabelEmissionRunning")->text(), running);  // the 60 results are back
  EXPECT_EQ(value("EmissionRunningCO")->text(), QStringLiteral("(80,0)"));
  EXPECT_EQ(lamp(), int(emissions::Lamp::Alarm));  // still not acknowledged
  EXPECT_EQ(events(EventKind::Alarm).size(), 2);
  EXPECT_EQ(intervals().size(), 1);
  EXPECT_EQ(beeps_, beeps);

  // Acknowledged, then another restart: it stays acknowledged.
  find<QPushButton>("EmissionAcknowledge")->click();
  stopProgram();
  setNow(utc(10, 50));
  startProgram();
  EXPECT_EQ(lamp(), int(emissions::Lamp::Off));
  EXPECT_EQ(events(EventKind::Alarm).size(), 2);

  // The interval that ended while the program was closed is new: it is judged and stored now.
  stopProgram();
  setNow(utc(11, 5));
  startProgram();
  EXPECT_EQ(intervals().size(), 2);
  EXPECT_FALSE(intervals().last().components[0].valid);

  // Closed before midnight and started days later: that day's average is stored at start.
  stopProgram();
  setNow(QDateTime(kDay.addDays(2), QTime(12, 0)));
  startProgram();
  const auto days = session().store().averages(AveragePeriodKind::Day, 30, 0, std::numeric_limits<qint64>::max());
  ASSERT_EQ(days.size(), 1);
  EXPECT_EQ(days[0].count, 48);
  EXPECT_EQ(days[0].components[0].count, 1);  // the one valid half hour
  EXPECT_FALSE(days[0].components[0].valid);
  EXPECT_EQ(intervals().size(), 48);
}

TEST_F(EmissionsTest, TheLimitsDialogRefusesWhatCannotBeStoredAndPutsTheRestInForce) {
  startWithDefaults();
  std::vector<QString> typed = {QStringLiteral("abc"), QStringLiteral("0"), QStringLiteral("1e308"),
                                QStringLiteral("1e20"), QStringLiteral("0,01"), QStringLiteral("12.5")};
  int shown = 0;
  modal_ = [&](QDialog* d) {
    find<QComboBox>("ComboBoxInterval", d)->setCurrentText(QStringLiteral("15"));
    find<QLineEdit>("EditPreAlarm", d)->setText(QStringLiteral("87.5"));  // either decimal sign
    find<QLineEdit>("EditDailyNOx", d)->setText(QStringLiteral("100000"));
    for (const QString& t : typed) {
      find<QLineEdit>("EditIntervalNOx", d)->setText(t);
      d->accept();
      ++shown;
      if (d->result() == QDialog::Accepted) break;
    }
    return d->result();
  };
  window().onEmissionLimitsTriggered();
  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0].text, QStringLiteral(u"Норматив за интервал NOx: «abc» — не число!"));
  EXPECT_EQ(messages[1].text, QStringLiteral(u"Норматив за интервал NOx должен быть больше нуля!"));
  // Limits a permit cannot have: refused with the range, not printed as 309 digits.
  const QString range = QStringLiteral(u" мг/м³ — вне пределов от 0,1 до 100") + QChar(0xA0) + QStringLiteral(u"000 мг/м³!");
  EXPECT_EQ(messages[2].text, QStringLiteral(u"Норматив за интервал NOx: 1e308") + range);
  EXPECT_EQ(messages[3].text, QStringLiteral(u"Норматив за интервал NOx: 1e20") + range);
  EXPECT_EQ(messages[4].text, QStringLiteral(u"Норматив за интервал NOx: 0,01") + range);
  EXPECT_EQ(shown, 6);

  const auto load = emissions::loadEmissionSettings(settings().emissionsPath());
  ASSERT_EQ(load.status, emissions::SettingsStatus::Loaded);
  EXPECT_EQ(load.settings.intervalMinutes, 15);
  EXPECT_EQ(load.settings.limits.preAlarmPercent, 87.5);
  EXPECT_EQ(load.settings.limits[emissions::Component::NOx].interval.value_or(0), 12.5);
  EXPECT_EQ(load.settings.limits[emissions::Component::NOx].daily.value_or(0), 100000);
  EXPECT_EQ(session().emissions().engine()->config().intervalMinutes, 15);
  EXPECT_TRUE(session().emissions().engine()->limits() == load.settings.limits);
  EXPECT_TRUE(find<QLabel>("LabelEmissionBasis")->text().contains(QStringLiteral(u"интервал 15 мин")));
}

TEST_F(EmissionsTest, ASettingsFileWithALimitNoPermitHasKeepsTheDefaultAndSaysSo) {
  ASSERT_TRUE(test_files::writeAll(inDir(QStringLiteral("korvex-emissions.ini")),
                                   "[CO]\nIntervalLimit=1e308\nDailyLimit=50\n"));
  // Read as the program will read it; the program is not started here.
  const auto load = emissions::loadEmissionSettings(inDir(QStringLiteral("korvex-emissions.ini")));
  EXPECT_EQ(load.status, emissions::SettingsStatus::InvalidValues);
  EXPECT_FALSE(load.settings.limits[emissions::Component::CO].interval.has_value());
  EXPECT_EQ(load.settings.limits[emissions::Component::CO].daily.value_or(0), 50);
  emissions::EmissionSettings huge;
  huge.limits[emissions::Component::SO2].daily = 1e20;
  QString error;
  EXPECT_FALSE(emissions::saveEmissionSettings(inDir(QStringLiteral("other.ini")), huge, &error));
}

}  // namespace
