// The poll cycle driven tick by tick through the real session and main window,
// against a scripted analyzer: replies go in through the link, requests come
// out of the scripted serial line.

#include "acquisition/poll_cycle.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

#include "app/notice_bar.h"
#include "support/korvex_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kStatusPoll = {0x01, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x71, 0xCE};
const Bytes kStartSingle = {0x01, 0x06, 0x00, 0x00, 0x00, 0x01, 0x48, 0x0A};
const Bytes kStartContinuous = {0x01, 0x06, 0x00, 0x00, 0x00, 0x02, 0x08, 0x0B};
const Bytes kStop = {0x01, 0x06, 0x00, 0x00, 0x00, 0x03, 0xC9, 0xCB};

const QString kWarning =
    QStringLiteral(u"ВНИМАНИЕ!\r\nСБОЙ В РАБОТЕ ПРИБОРА!\r\nПРОВЕРТЕ ПОДКЛЮЧЕНИЕ И ПИТАНИЕ!");

class PollCycleTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    startWithDefaults();
  }

  // The request sent by the last tick.
  Bytes sent() const { return serial_.lastWrite(); }
  QString label() const { return find<QLabel>("LabelMode")->text(); }
  QString caption() const { return window().windowTitle(); }
  bool labelRed() const { return find<QLabel>("LabelMode")->palette().color(QPalette::Window) == QColor(Qt::red); }
  bool modeButtonsEnabled() const {
    return find<QToolButton>("BitBtnCikl")->isEnabled() && find<QToolButton>("BitBtnOdnokr")->isEnabled() &&
           find<QToolButton>("BitBtnPost")->isEnabled();
  }
  bool modeButtonsDisabled() const {
    return !find<QToolButton>("BitBtnCikl")->isEnabled() && !find<QToolButton>("BitBtnOdnokr")->isEnabled() &&
           !find<QToolButton>("BitBtnPost")->isEnabled();
  }

  // Start-up against an idle analyzer: stop, its echo, an idle status.
  void bringToIdle() {
    tick();
    tickWith(commandEcho(1, 3));
    tickWith(statusReply(1, 0));
    ASSERT_EQ(poll().workMode(), WorkMode::Idle);
  }

  // A single measurement from the start command to the idle status after it.
  void runSingleMeasurement(const StatusRegisters& measured) {
    window().onSingleClicked();
    tickWith(statusReply(1, 0));  // takes the mode over, sends the start
    tickWith(commandEcho(1, 1));
    tickWith(statusReply(1, 1));
    StatusRegisters m = measured;
    m.state = 2;
    tickWith(statusReply(1, m));
    tickWith(statusReply(1, 3));
    StatusRegisters idle = measured;
    idle.state = 0;
    tickWith(statusReply(1, idle));
  }
};

TEST_F(PollCycleTest, StartUpReachesIdleAndEnablesTheModeButtonsAtTheThirdTick) {
  tick();
  EXPECT_EQ(label(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН"));
  EXPECT_EQ(sent(), kStop);
  EXPECT_EQ(poll().workMode(), WorkMode::Stopping);
  EXPECT_TRUE(modeButtonsDisabled());

  tickWith(commandEcho(1, 3));
  EXPECT_EQ(poll().workMode(), WorkMode::Stopping);
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(3));
  EXPECT_EQ(label(), QStringLiteral(u"Продувка датчиков"));
  EXPECT_EQ(sent(), kStatusPoll);
  EXPECT_TRUE(modeButtonsDisabled());

  tickWith(statusReply(1, 0));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_EQ(label(), QStringLiteral(u"Ожидание"));
  EXPECT_TRUE(modeButtonsEnabled());
  EXPECT_FALSE(find<QToolButton>("BitBtnStop")->isEnabled());
  for (QToolButton* lamp : {find<QToolButton>("SpeedButtonLedCikl"), find<QToolButton>("SpeedButtonLedOdnok"),
                            find<QToolButton>("SpeedButtonLedConst"), find<QToolButton>("SpeedButtonStop")})
    EXPECT_FALSE(lamp->isEnabled());

  // The idle poll shows address, service date and running hours.
  StatusRegisters r;
  r.serviceDay = 3;
  r.serviceMonth = 9;
  r.serviceYear = 2025;
  r.runningHours = 17;
  tickWith(statusReply(1, r));
  EXPECT_EQ(caption(), QStringLiteral(u"Korvex адр:1 обслуживание 3.9.2025 наработка 17 часа(ов)"));
  EXPECT_EQ(sent(), kStatusPoll);
  EXPECT_EQ(session().link().linkState(), LinkState::Sent);
}

TEST_F(PollCycleTest, RequestsCarryTheConfiguredAddress) {
  changeMeasuring([](MeasuringSettings& m) { m.address = 247; });
  tick();
  EXPECT_EQ(sent(), (Bytes{0xF7, 0x06, 0x00, 0x00, 0x00, 0x03, 0xDD, 0x5D}));
  tickWith(commandEcho(247, 3));
  EXPECT_EQ(sent(), (Bytes{0xF7, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x65, 0x58}));
}

TEST_F(PollCycleTest, SingleMeasurementMakesOneRowAndEndsWithTheStopSequence) {
  bringToIdle();
  window().onSingleClicked();
  EXPECT_EQ(poll().modeRequest(), ModeRequest::Single);
  EXPECT_TRUE(find<QToolButton>("BitBtnStop")->isEnabled());
  EXPECT_TRUE(modeButtonsDisabled());
  EXPECT_TRUE(find<QToolButton>("SpeedButtonLedOdnok")->isEnabled());
  EXPECT_FALSE(find<QToolButton>("SpeedButtonStop")->isEnabled());

  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartSingle);
  EXPECT_EQ(poll().workMode(), WorkMode::Single);
  EXPECT_EQ(poll().phaseLength(), (3 + 0 + 3) * 60 + 30);
  EXPECT_FALSE(find<QProgressBar>("ProgressBar1")->isHidden());
  EXPECT_EQ(find<QProgressBar>("ProgressBar1")->value(), 0);
  EXPECT_EQ(poll().modeRequest(), ModeRequest::None);

  tickWith(commandEcho(1, 1));
  EXPECT_EQ(sent(), kStatusPoll);

  tickWith(statusReply(1, 1));
  EXPECT_EQ(caption(), QStringLiteral(u"Korvex: производится установка нуля, пожалуйста подождите"));
  EXPECT_EQ(label(), QStringLiteral(u"Установка \"0\""));
  EXPECT_EQ(find<QProgressBar>("ProgressBar1")->value(), 1);  // 2 of 390 ticks

  advance(1);
  const double measuringTime = seams::now();
  StatusRegisters m;
  m.state = 2;
  tickWith(statusReply(1, m));
  EXPECT_EQ(caption(), QStringLiteral(u"Korvex (Tg:180; O2:3,5; CO:50; NO:40; NO2:5; SO2:0; H2S:0)"));
  EXPECT_TRUE(poll().resultPending());
  EXPECT_EQ(cell(0, 1), QString());  // no row while measuring

  advance(5);
  tickWith(statusReply(1, 3));
  EXPECT_TRUE(find<QProgressBar>("ProgressBar1")->isHidden());
  EXPECT_EQ(caption(), QStringLiteral(u"Korvex: продувка датчиков чистым воздухом"));

  advance(5);
  StatusRegisters idle;
  idle.tg = 185;
  tickWith(statusReply(1, idle));
  // The row comes from the idle reply, stamped with the last measuring tick.
  ASSERT_EQ(gridRows(), 2);
  EXPECT_EQ(cell(0, 1), QStringLiteral("0"));
  EXPECT_EQ(cell(3, 1), QStringLiteral("185"));
  EXPECT_EQ(cell(2, 1),
            seams::fromDateTime(measuringTime).time().toString(QStringLiteral("HH:mm:ss")));
  EXPECT_EQ(chart()->pointCount(), 1);
  EXPECT_TRUE(results().unsaved());
  EXPECT_TRUE(find<QAction>("N8")->isEnabled());
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_EQ(poll().modeRequest(), ModeRequest::Stop);
  EXPECT_FALSE(find<QToolButton>("SpeedButtonLedOdnok")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("SpeedButtonStop")->isEnabled());
  EXPECT_TRUE(modeButtonsDisabled());

  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStop);
  EXPECT_EQ(poll().workMode(), WorkMode::Stopping);
  tickWith(commandEcho(1, 3));
  EXPECT_EQ(sent(), kStatusPoll);
  EXPECT_TRUE(modeButtonsDisabled());
  tickWith(statusReply(1, 0));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_TRUE(modeButtonsEnabled());
  EXPECT_FALSE(find<QToolButton>("BitBtnStop")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("SpeedButtonStop")->isEnabled());  // lit until the next mode button

  // A second measurement goes into a new row numbered 1.
  runSingleMeasurement(StatusRegisters{});
  EXPECT_EQ(gridRows(), 3);
  EXPECT_EQ(cell(0, 2), QStringLiteral("1"));
}

TEST_F(PollCycleTest, SingleModeEndsAtOnceWithoutARowWhenTheAnalyzerStaysIdle) {
  bringToIdle();
  window().onSingleClicked();
  tickWith(statusReply(1, 0));
  tickWith(commandEcho(1, 1));
  tickWith(statusReply(1, 0));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_EQ(poll().modeRequest(), ModeRequest::Stop);
  EXPECT_TRUE(cell(0, 1).isEmpty());
  EXPECT_EQ(chart()->pointCount(), 0);
}

TEST_F(PollCycleTest, ProgressRoundsHalvesToTheEvenNeighbourAndStaysFullBeyondTheEnd) {
  changeMeasuring([](MeasuringSettings& m) { m.times.zeroSetting = 4; });  // continuous: (4 + 0) x 60 = 240 ticks
  bringToIdle();
  window().onContinuousClicked();
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartContinuous);
  EXPECT_EQ(poll().phaseLength(), 240);
  tickWith(commandEcho(1, 2));  // PhaseTick 1
  for (int n = 2; n <= 18; ++n) {
    tickWith(statusReply(1, 1));
    const int progress = find<QProgressBar>("ProgressBar1")->value();
    if (n == 6) {
      EXPECT_EQ(progress, 2);  // 2.5
    }
    if (n == 18) {
      EXPECT_EQ(progress, 8);  // 7.5
    }
  }
  for (int n = 19; n <= 300; ++n) tickWith(statusReply(1, 1));
  EXPECT_EQ(find<QProgressBar>("ProgressBar1")->value(), 100);
}

TEST_F(PollCycleTest, CyclicModeCountsDownAndStartsTheNextCycle) {
  bringToIdle();
  window().onCyclicClicked();
  EXPECT_TRUE(find<QToolButton>("SpeedButtonLedCikl")->isEnabled());
  const QDateTime start = now();
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartSingle);
  EXPECT_EQ(poll().workMode(), WorkMode::Cyclic);
  // 30 minutes less 2 seconds from the start.
  EXPECT_NEAR((poll().modeEndTime() - seams::toDateTime(start)) * 86400, 30 * 60 - 2, 1e-3);

  tickWith(commandEcho(1, 1));
  tickWith(statusReply(1, 1));
  advance(200);
  tickWith(statusReply(1, 2));
  advance(60);
  tickWith(statusReply(1, 3));
  advance(60);
  tickWith(statusReply(1, 0));
  EXPECT_EQ(cell(0, 1), QStringLiteral("0"));
  EXPECT_TRUE(find<QProgressBar>("ProgressBar1")->isHidden());
  EXPECT_EQ(caption(), QStringLiteral(u"Korvex: до старта 1478 секунд(ы)"));
  EXPECT_EQ(poll().workMode(), WorkMode::Cyclic);
  EXPECT_EQ(sent(), kStatusPoll);

  advance(100);
  tickWith(statusReply(1, 0));
  EXPECT_EQ(caption(), QStringLiteral(u"Korvex: до старта 1378 секунд(ы)"));
  EXPECT_EQ(gridRows(), 2);  // one row per cycle

  setNow(start.addSecs(30 * 60 - 2));
  tickWith(statusReply(1, 0));
  EXPECT_EQ(poll().modeRequest(), ModeRequest::Cyclic);
  EXPECT_EQ(sent(), kStatusPoll);
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartSingle);
  EXPECT_NEAR((poll().modeEndTime() - seams::now()) * 86400, 30 * 60 - 2, 1e-3);
}

TEST_F(PollCycleTest, CyclicModeStoppedDuringTheCountdownSendsTheStop) {
  bringToIdle();
  window().onCyclicClicked();
  tickWith(statusReply(1, 0));
  tickWith(commandEcho(1, 1));
  tickWith(statusReply(1, 2));
  tickWith(statusReply(1, 0));
  ASSERT_TRUE(caption().startsWith(QStringLiteral(u"Korvex: до старта")));
  window().onStopClicked();
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStop);
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  EXPECT_TRUE(modeButtonsEnabled());
}

TEST_F(PollCycleTest, ContinuousModeTakesARowEveryRefreshPeriodAndStopsAfterTheInterval) {
  changeMeasuring([](MeasuringSettings& m) { m.refreshPeriod = 2; });
  bringToIdle();
  window().onContinuousClicked();
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartContinuous);
  EXPECT_EQ(poll().phaseLength(), 180);
  tickWith(commandEcho(1, 2));
  tickWith(statusReply(1, 1));
  const double zeroEnd = seams::now();
  EXPECT_NEAR(poll().modeEndTime() - zeroEnd, 60.0 / 1440, 1e-9);

  // The first row after refreshPeriod + 1 measuring ticks, then every refreshPeriod.
  int rowsAfter[7];
  for (int i = 0; i < 7; ++i) {
    advance(1);
    tickWith(statusReply(1, 2));
    rowsAfter[i] = chart()->pointCount();
    EXPECT_EQ(sent(), kStatusPoll);
  }
  EXPECT_EQ((std::vector<int>(rowsAfter, rowsAfter + 7)), (std::vector<int>{0, 0, 1, 1, 2, 2, 3}));
  EXPECT_EQ(caption(), QStringLiteral(u"Korvex: наработка 1234 часа(ов)"));
  EXPECT_TRUE(find<QProgressBar>("ProgressBar1")->isHidden());
  EXPECT_EQ(cell(0, 3), QStringLiteral("2"));

  // calibrationInterval (60 min) after the last zero-setting tick: stop.
  setNow(seams::fromDateTime(zeroEnd).addSecs(60 * 60 + 1));
  tickWith(statusReply(1, 2));
  EXPECT_EQ(sent(), kStop);
  tickWith(commandEcho(1, 3));
  EXPECT_EQ(sent(), kStatusPoll);
  tickWith(statusReply(1, 3));
  EXPECT_EQ(caption(), QStringLiteral(u"Korvex: подготовка к следующему измерению"));
  tickWith(statusReply(1, 0));
  EXPECT_EQ(poll().modeRequest(), ModeRequest::Continuous);
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartContinuous);  // the next period starts at once
  EXPECT_EQ(poll().workMode(), WorkMode::Continuous);
}

TEST_F(PollCycleTest, StopPressedBeforeTheNextReplyMeansNoStartCommandIsEverSent) {
  bringToIdle();
  window().onSingleClicked();
  window().onStopClicked();
  EXPECT_EQ(poll().modeRequest(), ModeRequest::Stop);
  tickWith(statusReply(1, 0));
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  for (const Bytes& frame : serial_.writes) {
    EXPECT_NE(frame, kStartSingle);
    EXPECT_NE(frame, kStartContinuous);
  }
  EXPECT_TRUE(modeButtonsEnabled());
}

TEST_F(PollCycleTest, AModeAskedWhileTheAnalyzerIsBusyIsDropped) {
  bringToIdle();
  tickWith(statusReply(1, 4));  // manual operation, reported while idle
  EXPECT_EQ(label(), QStringLiteral(u"Работа вручную"));
  window().onCyclicClicked();
  tickWith(statusReply(1, 4));
  EXPECT_EQ(poll().modeRequest(), ModeRequest::None);
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_EQ(sent(), kStatusPoll);
  // The buttons stay as the click left them until Stop is pressed.
  EXPECT_TRUE(find<QToolButton>("BitBtnStop")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("SpeedButtonLedCikl")->isEnabled());
  EXPECT_TRUE(modeButtonsDisabled());
}

TEST_F(PollCycleTest, ManualOperationWhileMeasuringStopsASingleMeasurementForGood) {
  bringToIdle();
  window().onSingleClicked();
  tickWith(statusReply(1, 0));
  tickWith(commandEcho(1, 1));
  tickWith(statusReply(1, 4));
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(8));
  EXPECT_EQ(poll().workMode(), WorkMode::Stopping);
  EXPECT_EQ(sent(), kStop);
  EXPECT_TRUE(takeMessages().empty());
  tickWith(commandEcho(1, 3));
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(3));
  tickWith(statusReply(1, 0));
  // A single measurement runs once: not started again, the lamps say stopped.
  EXPECT_EQ(poll().modeRequest(), ModeRequest::None);
  EXPECT_TRUE(modeButtonsEnabled());
  EXPECT_FALSE(find<QToolButton>("BitBtnStop")->isEnabled());
  EXPECT_FALSE(find<QToolButton>("SpeedButtonLedOdnok")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("SpeedButtonStop")->isEnabled());
}

TEST_F(PollCycleTest, NoAnalyzerAtAllTurnsTheLabelRedAtThe32ndTickWithoutABox) {
  for (int n = 1; n <= 31; ++n) {
    tick();
    EXPECT_FALSE(labelRed()) << n;
    EXPECT_EQ(sent(), kStop);
  }
  tick();
  EXPECT_TRUE(labelRed());
  EXPECT_EQ(label(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН"));
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_TRUE(modeButtonsDisabled());
  EXPECT_EQ(serial_.writes.size(), 32u);
}

TEST_F(PollCycleTest, LostAnalyzerWarnsOnceWithoutStoppingTheCycleAndRecoversThroughTheStopEcho) {
  bringToIdle();
  for (int n = 1; n <= 30; ++n) tick();
  EXPECT_FALSE(labelRed());
  EXPECT_TRUE(takeNotices().empty());
  tick();  // the 31st tick without an answer
  EXPECT_TRUE(labelRed());
  // A notice in the bar, no box: nobody has to answer it for polling to go on.
  EXPECT_TRUE(messages_.empty());
  std::vector<Notice> notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].topic, NoticeTopic::Analyzer);
  EXPECT_EQ(notices[0].text, kWarning);
  EXPECT_TRUE(window().noticeBar()->isVisible() || !window().isVisible());
  EXPECT_TRUE(window().noticeBar()->text().endsWith(
      QStringLiteral(u"ВНИМАНИЕ! СБОЙ В РАБОТЕ ПРИБОРА! ПРОВЕРТЕ ПОДКЛЮЧЕНИЕ И ПИТАНИЕ!")));
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(8));
  EXPECT_TRUE(modeButtonsDisabled());
  EXPECT_TRUE(find<QToolButton>("SpeedButtonStop")->isEnabled());

  for (int n = 0; n < 10; ++n) {
    tick();
    EXPECT_EQ(sent(), kStop);
    EXPECT_EQ(label(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН"));
  }
  EXPECT_TRUE(takeNotices().empty());

  tickWith(commandEcho(1, 3));
  EXPECT_EQ(poll().workMode(), WorkMode::Stopping);
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(3));
  EXPECT_FALSE(labelRed());
  tickWith(statusReply(1, 0));  // takes over the pending stop request
  EXPECT_EQ(sent(), kStop);
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_TRUE(modeButtonsEnabled());
  EXPECT_TRUE(takeNotices().empty());
  EXPECT_TRUE(messages_.empty());
}

// The tester's case: after a TCP hang-up the box held polling until OK, then
// the stop went out and measuring stayed stopped. Now the cycle polls on, and
// the continuous measurement that was running starts again when the analyzer
// is back; the operator's Stop ends it for good.
TEST_F(PollCycleTest, AContinuousMeasurementLostWithTheAnalyzerStartsAgainWhenItIsBackUnlessStopped) {
  bringToIdle();
  window().onContinuousClicked();
  tickWith(statusReply(1, 0));
  ASSERT_EQ(sent(), kStartContinuous);
  tickWith(commandEcho(1, 2));
  tickWith(statusReply(1, 2));
  for (int n = 0; n <= kSilentTicksLimit; ++n) tick();
  ASSERT_EQ(takeNotices().size(), 1u);
  EXPECT_EQ(sent(), kStop);
  // Kept going: its lamp stays lit, Stop stays the operator's to press.
  EXPECT_TRUE(find<QToolButton>("SpeedButtonLedConst")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("BitBtnStop")->isEnabled());

  // Back: the cycle's stop is obeyed, then the mode is asked for again.
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartContinuous);
  EXPECT_EQ(poll().workMode(), WorkMode::Continuous);
  EXPECT_TRUE(find<QToolButton>("SpeedButtonLedConst")->isEnabled());

  // Lost again, and the operator presses Stop meanwhile: it stays stopped.
  for (int n = 0; n <= kSilentTicksLimit; ++n) tick();
  window().onStopClicked();
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStatusPoll);
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_TRUE(modeButtonsEnabled());
  EXPECT_TRUE(find<QToolButton>("SpeedButtonStop")->isEnabled());
}

TEST_F(PollCycleTest, TheWindowStartsTheModeItWasToldWhenTheAnalyzerIsReady) {
  stopProgram();
  hostOptions_.mode = ModeRequest::Cyclic;
  hostOptions_.modeGiven = true;
  startProgram();
  bringToIdle();
  tickWith(statusReply(1, 0));
  EXPECT_EQ(sent(), kStartSingle);
  EXPECT_EQ(poll().workMode(), WorkMode::Cyclic);
  EXPECT_TRUE(find<QToolButton>("SpeedButtonLedCikl")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("BitBtnStop")->isEnabled());
  // The operator is in charge afterwards.
  window().onStopClicked();
  emit poll().analyzerReady();
  EXPECT_EQ(poll().modeRequest(), ModeRequest::Stop);
}

TEST_F(PollCycleTest, FaultLinesFollowTheStateTextInIdleAndMeasuringButNotWhileStopping) {
  bringToIdle();
  tickWith(statusReply(1, 0, 0x0005));
  EXPECT_EQ(label(), QStringLiteral(u"Ожидание\nОшибка датчика Ta\nОшибка датчика \u041E2"));

  window().onSingleClicked();
  tickWith(statusReply(1, 0, 0x0005));  // mode start: no fault text
  EXPECT_EQ(label(), QStringLiteral(u"Ожидание"));
  tickWith(commandEcho(1, 1));
  tickWith(statusReply(1, 2, 0x8000));
  EXPECT_EQ(label(), QStringLiteral(u"Измерение\nАппаратная ошиб."));
  EXPECT_EQ(poll().measurement().faultBits, 0);

  window().onStopClicked();
  tickWith(statusReply(1, 2));
  tickWith(statusReply(1, 3, 0x0001));
  EXPECT_EQ(poll().workMode(), WorkMode::Stopping);
  EXPECT_EQ(label(), QStringLiteral(u"Продувка датчиков"));
}

TEST_F(PollCycleTest, AnUnknownStateWhileIdleIsNamedAndPollingGoesOn) {
  bringToIdle();
  tickWith(statusReply(1, 9));
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(9));
  EXPECT_EQ(label(), QStringLiteral(u"Неизвестное состояние 9"));
  EXPECT_EQ(sent(), kStatusPoll);
  tickWith(statusReply(1, 255));
  EXPECT_EQ(label(), QStringLiteral(u"Неизвестное состояние 255"));
  EXPECT_EQ(sent(), kStatusPoll);
}

TEST_F(PollCycleTest, RepliesThatFailTheTestAreSilenceAndTheShortestValidOneCounts) {
  bringToIdle();
  Frame reply = statusReply(1, 0);
  // Cut off before the tick: the first part is dropped, the rest fails the next tick.
  arrive(Frame(reply.begin(), reply.begin() + 20));
  tick();
  EXPECT_EQ(poll().silentTicks(), 2);
  arrive(Frame(reply.begin() + 20, reply.end()));
  tick();
  EXPECT_EQ(poll().silentTicks(), 3);
  // An exception reply (5 bytes) is no reply.
  arrive(withCrc({0x01, 0x84, 0x02}));
  tick();
  EXPECT_EQ(poll().silentTicks(), 4);
  // Two replies run together fail too.
  arrive(statusReply(1, 0));
  arrive(statusReply(1, 0));
  tick();
  EXPECT_EQ(poll().silentTicks(), 5);
  // Seven bytes with a valid CRC are accepted (taken as an echo here).
  arrive(withCrc({0x01, 0x06, 0x00, 0x00, 0x00}));
  tick();
  EXPECT_EQ(poll().silentTicks(), 1);
  EXPECT_EQ(session().link().linkState(), LinkState::Sent);
}

TEST_F(PollCycleTest, AShortFunctionFourReplyIsNeverDecodedWithOldBytes) {
  bringToIdle();
  window().onSingleClicked();
  tickWith(statusReply(1, 0));
  tickWith(commandEcho(1, 1));
  StatusRegisters m;
  m.state = 2;
  m.tg = 300;
  tickWith(statusReply(1, m));
  ASSERT_EQ(poll().measurement()[channel::Tg], 300);
  // Function 4, state 2, valid CRC, but only 9 bytes.
  tickWith(withCrc({0x01, 0x04, 0x04, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(2));
  EXPECT_EQ(poll().measurement()[channel::Tg], 300);
}

TEST_F(PollCycleTest, TheFirstTickOfANewDayWritesTheLogOfTheDayThatEnded) {
  bringToIdle();
  runSingleMeasurement(StatusRegisters{});
  ASSERT_EQ(cell(0, 1), QStringLiteral("0"));
  setNow(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59)));
  tickWith(statusReply(1, 0));
  const QString log = inDir(QStringLiteral("korvex-26-12-06.ask"));
  EXPECT_FALSE(QFile::exists(log));
  setNow(QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0)));
  tickWith(statusReply(1, 0));
  EXPECT_TRUE(QFile::exists(log));
  EXPECT_TRUE(cell(0, 1).isEmpty());
  EXPECT_EQ(chart()->pointCount(), 0);
  EXPECT_FALSE(results().unsaved());
  EXPECT_DOUBLE_EQ(poll().logDate(), seams::now());
  EXPECT_TRUE(pollTimer()->isEnabled());
  // Nothing more until the next day, and a clock set back triggers nothing.
  advance(3600);
  tickWith(statusReply(1, 0));
  setNow(QDateTime(QDate(2026, 12, 5), QTime(12, 0, 0)));
  tickWith(statusReply(1, 0));
  EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("*.ask")}).size(), 1);
}

TEST_F(PollCycleTest, AResultTakenAtTheFirstTickOfANewDayOpensTheNewDaysTable) {
  changeMeasuring([](MeasuringSettings& m) { m.refreshPeriod = 1; });
  bringToIdle();
  window().onContinuousClicked();
  tickWith(statusReply(1, 0));
  tickWith(commandEcho(1, 2));
  tickWith(statusReply(1, 1));
  setNow(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 58)));
  tickWith(statusReply(1, 2));
  advance(1);
  tickWith(statusReply(1, 2));
  ASSERT_EQ(chart()->pointCount(), 1);  // the row of 23:59:59
  advance(1);
  tickWith(statusReply(1, 2));  // 00:00:00
  QFile log(inDir(QStringLiteral("korvex-26-12-06.ask")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = log.readAll().split('\n');
  ASSERT_EQ(lines.size(), 3);  // header, the row of 23:59:59, and the end
  EXPECT_TRUE(lines[1].contains("23:59:59"));
  EXPECT_EQ(cell(1, 1), QStringLiteral("07.12.2026"));
  EXPECT_EQ(cell(2, 1), QStringLiteral("00:00:00"));
  EXPECT_EQ(cell(0, 1), QStringLiteral("0"));
}

}  // namespace
