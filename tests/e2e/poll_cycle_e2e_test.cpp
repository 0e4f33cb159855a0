// The whole program against the analyzer simulator: TForm1 started with its
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
    StartSim({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--measure"),
              QStringLiteral("0"), QStringLiteral("--purge"), QStringLiteral("0"),
              QStringLiteral("--min-replies"), QStringLiteral("2"),
              QStringLiteral("--service"), QStringLiteral("25.11.2026"),
              QStringLiteral("--hours"), QStringLiteral("4321")});
    // Fixed readings: the natural-gas example (Tg 180, Ta 20, O2 3.50 %,
    // CO 50, NO 40, NO2 5 ppm).
    for (const char* c : {"set 2 180", "set 3 20", "set 4 350", "set 6 50", "set 7 40", "set 8 5",
                          "set 9 0", "set 10 0"})
      ASSERT_TRUE(sim_->Command(QString::fromLatin1(c)));
    StartProgramOnSim();
  }

  // Start-up: the stop command, its echo, then idle with the mode buttons on.
  void ReachIdle() {
    ASSERT_TRUE(TicksUntil([] { return DeviceRecord.WorkMode == kModeIdle && Form1->BitBtnOdnokr->isEnabled(); }, 10));
    RunTick();  // one idle status reply shows the service caption
  }
};

TEST_F(PollCycleE2E, StartUpFindsTheAnalyzerIdleAndShowsAddressServiceDateAndHours) {
  ReachIdle();
  EXPECT_EQ(sim_->Count(Line("^COMMAND 3 stop$")), 1);
  EXPECT_EQ(Form1->windowTitle(),
            QStringLiteral(u"Korvex адр:1 обслуживание 25.11.2026 наработка 4321 часа(ов)"));
  EXPECT_EQ(Form1->LabelMode->text(), QStringLiteral(u"Ожидание"));
  EXPECT_TRUE(Form1->BitBtnCikl->isEnabled());
  EXPECT_TRUE(Form1->BitBtnPost->isEnabled());
  EXPECT_FALSE(Form1->BitBtnStop->isEnabled());
  EXPECT_EQ(Form1->Poll.SilentTicks, 1);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(PollCycleE2E, ASingleMeasurementRunsToItsResultRowAndEndsWithTheStopSequence) {
  ReachIdle();
  Form1->BitBtnOdnokrClick();
  ASSERT_TRUE(TicksUntil([] { return ResultRows() == 1; }, 30));
  EXPECT_EQ(sim_->Count(Line("^COMMAND 1 single measurement$")), 1);
  EXPECT_TRUE(sim_->WaitForLine(Line("^STATE 2 measuring$"), 0, 0));
  EXPECT_TRUE(sim_->WaitForLine(Line("^STATE 3 purging$"), 0, 0));

  const TMeasurement& m = DeviceRecord.Measurement;
  EXPECT_EQ(double(m.Tg), 180.0);
  EXPECT_DOUBLE_EQ(double(m.O2), 3.5);
  EXPECT_NEAR(double(m.CO2), 9.8302, 0.00005);
  EXPECT_EQ(double(m.NOx), 45.0);
  EXPECT_NEAR(double(m.Alf), 1.1789, 0.00005);
  EXPECT_NEAR(double(m.Qa), 7.6338, 0.00005);
  EXPECT_EQ(Form1->Grid->Cells(3, 1), QStringLiteral("180"));  // Tg
  EXPECT_TRUE(Form1->DataNotSaved);

  // The mode ends: a stop, its echo, idle, and the mode buttons come back.
  ASSERT_TRUE(TicksUntil([] { return Form1->BitBtnOdnokr->isEnabled(); }, 10));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  EXPECT_EQ(sim_->Count(Line("^COMMAND 3 stop$")), 2);
  EXPECT_TRUE(Form1->SpeedButtonStop->isEnabled());
  EXPECT_FALSE(Form1->SpeedButtonLedOdnok->isEnabled());
  EXPECT_EQ(ResultRows(), 1);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(PollCycleE2E, ACyclicCycleMakesItsRowCountsDownAndStartsTheNextCycleOnTime) {
  ReachIdle();
  DeviceRecord.CyclePeriod[SlotIndex(DeviceRecord)] = 1;  // minutes
  const QDateTime started = Now();
  Form1->BitBtnCiklClick();
  ASSERT_TRUE(TicksUntil([] { return ResultRows() == 1; }, 30));
  EXPECT_EQ(sim_->Count(Line("^COMMAND 1 ")), 1);

  // Waiting for the next start: the caption counts down.
  RunTick();
  EXPECT_TRUE(Form1->windowTitle().startsWith(QStringLiteral(u"Korvex: до старта ")))
      << Form1->windowTitle().toStdString();
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeCyclic);

  // The next cycle starts a minute less two seconds after the first.
  ASSERT_TRUE(TicksUntil([this] { return sim_->Count(Line("^COMMAND 1 ")) == 2; }, 90));
  const qint64 period = started.secsTo(Now());
  EXPECT_GE(period, 58);
  EXPECT_LE(period, 61);
  ASSERT_TRUE(TicksUntil([] { return ResultRows() == 2; }, 30));

  // Stop ends it.
  Form1->BitBtnStopClick();
  ASSERT_TRUE(TicksUntil([] { return Form1->BitBtnCikl->isEnabled(); }, 10));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(PollCycleE2E, AContinuousPeriodTakesARowEveryRefreshPeriodUntilStopped) {
  ProgramSettings.RefreshPeriod = 2;
  ReachIdle();
  Form1->BitBtnPostClick();
  ASSERT_TRUE(TicksUntil([] { return ResultRows() == 3; }, 40));
  EXPECT_EQ(sim_->Count(Line("^COMMAND 2 continuous measurement$")), 1);
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeContinuous);
  EXPECT_EQ(+DeviceRecord.DeviceState, 2);
  Form1->BitBtnStopClick();
  ASSERT_TRUE(TicksUntil([] { return Form1->BitBtnPost->isEnabled(); }, 10));
  EXPECT_TRUE(sim_->WaitForLine(Line("^STATE 3 purging$"), 0, 0));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
}

}  // namespace
