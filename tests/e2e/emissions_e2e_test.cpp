// Emissions of the whole program against the analyzer simulator: continuous
// measurement of fixed readings above the CO limit, ticked with the test
// clock through a 10-minute interval; the alarm latches when the interval
// ends, and acknowledging it clears the lamp and goes into the event log.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimeZone>
#include <QToolButton>
#include <limits>

#include "e2e/sim_fixture.h"
#include "emissions/emission_settings.h"

namespace {

// Moments on the UTC clock, as the local clock reads them: 10:00 is the
// start of a 10-minute interval in any zone.
QDateTime utc(int h, int m, int s = 0) {
  return QDateTime(QDate(2026, 12, 7), QTime(h, m, s), QTimeZone::utc()).toLocalTime();
}

class EmissionsE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    startSim({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--min-replies"), QStringLiteral("2")});
    // O2 3.50 %, CO 50 ppm: 64.3 mg/m3 at the reference 3 %, above a limit of 50.
    for (const char* c : {"set 2 180", "set 3 20", "set 4 350", "set 6 50", "set 7 40", "set 8 5", "set 9 0",
                          "set 10 0"})
      ASSERT_TRUE(sim_->command(QString::fromLatin1(c)));
    emissions::EmissionSettings s;
    s.intervalMinutes = 10;
    s.limits[emissions::Component::CO].interval = 50;
    ASSERT_TRUE(emissions::saveEmissionSettings(inDir(QStringLiteral("korvex-emissions.ini")), s));
    setNow(utc(9, 59, 40));
    startProgramOnSim();
  }
};

TEST_F(EmissionsE2E, AnExceedanceLatchesTheAlarmWhenItsIntervalEndsAndAcknowledgingIsLogged) {
  ASSERT_TRUE(ticksUntil([this] { return find<QToolButton>("BitBtnPost")->isEnabled(); }, 20));
  window().onContinuousClicked();
  ASSERT_TRUE(ticksUntil([this] { return resultRows() > 0; }, 40));
  ASSERT_LT(now(), utc(10, 0, 30));
  EXPECT_TRUE(find<QLabel>("EmissionCurrentCO")->text().startsWith(QStringLiteral("64,")));

  // Nothing is judged before the interval is over.
  ASSERT_TRUE(ticksUntil([this] { return now() >= utc(10, 9, 59); }, 700));
  EXPECT_EQ(lamp(), int(emissions::Lamp::Off));
  EXPECT_TRUE(events(EventKind::Alarm).isEmpty());
  ASSERT_TRUE(ticksUntil([this] { return lamp() == int(emissions::Lamp::Alarm); }, 3));
  EXPECT_LE(now(), utc(10, 10, 2));
  EXPECT_EQ(beeps_, 1);
  // Above the limit is above its pre-alarm share too: both latch, with one beep.
  const auto raised = events(EventKind::Alarm);
  ASSERT_EQ(raised.size(), 2);
  EXPECT_TRUE(raised[0].text.startsWith(QStringLiteral(u"Предупреждение по нормативу CO: среднее за ")))
      << raised[0].text.toStdString();
  EXPECT_TRUE(raised[1].text.startsWith(QStringLiteral(u"Превышение норматива CO: среднее за ")))
      << raised[1].text.toStdString();
  auto* last = find<QLabel>("EmissionLastCO");
  EXPECT_TRUE(last->property("valid").toBool());
  EXPECT_EQ(last->property("exceedance").toInt(), int(emissions::Exceedance::Alarm));
  const auto stored =
      session().store().averages(AveragePeriodKind::Interval, 10, 0, std::numeric_limits<qint64>::max());
  ASSERT_FALSE(stored.isEmpty());
  EXPECT_EQ(stored.last().startUtcMs, utc(10, 0).toMSecsSinceEpoch());
  EXPECT_GE(stored.last().count, 40);  // a result every 10 s: 60 expected, 40 make it valid

  // An analyzer error code in CO: the next results have no CO value, the lamp stays latched.
  ASSERT_TRUE(sim_->command(QStringLiteral("set 6 off")));  // a fixed register would cover the code
  ASSERT_TRUE(sim_->command(QStringLiteral("special co error")));
  ASSERT_TRUE(ticksUntil([this] { return find<QLabel>("EmissionCurrentCO")->text() == QStringLiteral(u"—"); }, 30));
  EXPECT_EQ(lamp(), int(emissions::Lamp::Alarm));

  const QDateTime acknowledgedAt = now();
  find<QPushButton>("EmissionAcknowledge")->click();
  EXPECT_EQ(lamp(), int(emissions::Lamp::Off));
  const auto acks = events(EventKind::AlarmAcknowledged);
  ASSERT_EQ(acks.size(), 2);
  for (const StoredEvent& e : acks) {
    EXPECT_EQ(e.utcMs, acknowledgedAt.toMSecsSinceEpoch());
    EXPECT_TRUE(e.text.startsWith(QStringLiteral(u"Сигнализация квитирована в ") +
                                  acknowledgedAt.toString(QStringLiteral("hh:mm:ss"))))
        << e.text.toStdString();
  }
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
