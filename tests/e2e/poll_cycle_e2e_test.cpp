// The whole program against the analyzer simulator: started with its
// settings pointing at the simulator's pseudo-terminal, the poll cycle driven
// tick by tick with the test clock, the port serviced until each reply is in.
// The simulator's states last exactly two status replies each, so the course
// does not depend on the speed of the machine.

#include <gtest/gtest.h>

#include <QLabel>
#include <QToolButton>

#include "acquisition/poll_cycle.h"
#include "e2e/sim_fixture.h"

namespace {

class PollCycleE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    startSim({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--measure"),
              QStringLiteral("0"), QStringLiteral("--purge"), QStringLiteral("0"),
              QStringLiteral("--min-replies"), QStringLiteral("2"),
              QStringLiteral("--service"), QStringLiteral("25.11.2026"),
              QStringLiteral("--hours"), QStringLiteral("4321")});
    // Fixed readings: the natural-gas example (Tg 180, Ta 20, O2 3.50 %,
    // CO 50, NO 40, NO2 5 ppm).
    for (const char* c : {"set 2 180", "set 3 20", "set 4 350", "set 6 50", "set 7 40", "set 8 5",
                          "set 9 0", "set 10 0"})
      ASSERT_TRUE(sim_->command(QString::fromLatin1(c)));
    startProgramOnSim();
  }

  // Start-up: the stop command, its echo, then idle with the mode buttons on.
  void reachIdle() {
    ASSERT_TRUE(ticksUntil([this] { return poll().workMode() == WorkMode::Idle && find<QToolButton>("BitBtnOdnokr")->isEnabled(); }, 10));
    runTick();  // one idle status reply shows the service caption
  }
};

TEST_F(PollCycleE2E, StartUpFindsTheAnalyzerIdleAndShowsAddressServiceDateAndHours) {
  reachIdle();
  EXPECT_EQ(sim_->count(line("^COMMAND 3 stop$")), 1);
  EXPECT_EQ(window().windowTitle(),
            QStringLiteral(u"Korvex адр:1 обслуживание 25.11.2026 наработка 4321 часа(ов)"));
  EXPECT_EQ(find<QLabel>("LabelMode")->text(), QStringLiteral(u"Ожидание"));
  EXPECT_TRUE(find<QToolButton>("BitBtnCikl")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("BitBtnPost")->isEnabled());
  EXPECT_FALSE(find<QToolButton>("BitBtnStop")->isEnabled());
  EXPECT_EQ(poll().silentTicks(), 1);
  EXPECT_TRUE(notices_.empty());
}

TEST_F(PollCycleE2E, ASingleMeasurementRunsToItsResultRowAndEndsWithTheStopSequence) {
  reachIdle();
  window().onSingleClicked();
  ASSERT_TRUE(ticksUntil([this] { return resultRows() == 1; }, 30));
  EXPECT_EQ(sim_->count(line("^COMMAND 1 single measurement$")), 1);
  EXPECT_TRUE(sim_->waitForLine(line("^STATE 2 measuring$"), 0, 0));
  EXPECT_TRUE(sim_->waitForLine(line("^STATE 3 purging$"), 0, 0));

  using namespace channel;
  const Measurement& m = poll().measurement();
  EXPECT_EQ(m[Tg], 180.0);
  EXPECT_DOUBLE_EQ(m[O2], 3.5);
  EXPECT_NEAR(m[CO2], 9.8302, 0.00005);
  EXPECT_EQ(m[NOx], 45.0);
  EXPECT_NEAR(m[Alf], 1.1789, 0.00005);
  EXPECT_NEAR(m[Qa], 7.6338, 0.00005);
  EXPECT_EQ(cell(3, 1), QStringLiteral("180"));  // Tg
  EXPECT_TRUE(results().unsaved());

  // The mode ends: a stop, its echo, idle, and the mode buttons come back.
  ASSERT_TRUE(ticksUntil([this] { return find<QToolButton>("BitBtnOdnokr")->isEnabled(); }, 10));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_EQ(sim_->count(line("^COMMAND 3 stop$")), 2);
  EXPECT_TRUE(find<QToolButton>("SpeedButtonStop")->isEnabled());
  EXPECT_FALSE(find<QToolButton>("SpeedButtonLedOdnok")->isEnabled());
  EXPECT_EQ(resultRows(), 1);
  EXPECT_TRUE(notices_.empty());
}

TEST_F(PollCycleE2E, ACyclicCycleMakesItsRowCountsDownAndStartsTheNextCycleOnTime) {
  reachIdle();
  changeMeasuring([](MeasuringSettings& m) { m.times.cyclePeriod = 1; });  // minutes
  const QDateTime started = now();
  window().onCyclicClicked();
  ASSERT_TRUE(ticksUntil([this] { return resultRows() == 1; }, 30));
  EXPECT_EQ(sim_->count(line("^COMMAND 1 ")), 1);

  // Waiting for the next start: the caption counts down.
  runTick();
  EXPECT_TRUE(window().windowTitle().startsWith(QStringLiteral(u"Korvex: до старта ")))
      << window().windowTitle().toStdString();
  EXPECT_EQ(poll().workMode(), WorkMode::Cyclic);

  // The next cycle starts a minute less two seconds after the first.
  ASSERT_TRUE(ticksUntil([this] { return sim_->count(line("^COMMAND 1 ")) == 2; }, 90));
  const qint64 period = started.secsTo(now());
  EXPECT_GE(period, 58);
  EXPECT_LE(period, 61);
  ASSERT_TRUE(ticksUntil([this] { return resultRows() == 2; }, 30));

  // Stop ends it.
  window().onStopClicked();
  ASSERT_TRUE(ticksUntil([this] { return find<QToolButton>("BitBtnCikl")->isEnabled(); }, 10));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_TRUE(notices_.empty());
}

TEST_F(PollCycleE2E, AContinuousPeriodTakesARowEveryRefreshPeriodUntilStopped) {
  changeMeasuring([](MeasuringSettings& m) { m.refreshPeriod = 2; });
  reachIdle();
  window().onContinuousClicked();
  ASSERT_TRUE(ticksUntil([this] { return resultRows() == 3; }, 40));
  EXPECT_EQ(sim_->count(line("^COMMAND 2 continuous measurement$")), 1);
  EXPECT_EQ(poll().workMode(), WorkMode::Continuous);
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(2));
  window().onStopClicked();
  ASSERT_TRUE(ticksUntil([this] { return find<QToolButton>("BitBtnPost")->isEnabled(); }, 10));
  EXPECT_TRUE(sim_->waitForLine(line("^STATE 3 purging$"), 0, 0));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
}

}  // namespace
