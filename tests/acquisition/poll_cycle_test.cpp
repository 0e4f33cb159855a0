// The poll cycle driven tick by tick through the real main window, against a
// scripted analyzer: replies go in through Recieve, requests come out of the
// scripted serial line.

#include "acquisition/poll_cycle.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "app/message_timer.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "view/results_table.h"
#include "view/trend_chart.h"

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
    StartWithDefaults();
  }

  // The request sent by the last tick.
  Bytes Sent() const { return serial_.LastWrite(); }
  QString Label() const { return Form1->LabelMode->text(); }
  QString Caption() const { return Form1->windowTitle(); }
  bool LabelRed() const { return Form1->LabelMode->palette().color(QPalette::Window) == QColor(Qt::red); }
  bool ModeButtonsEnabled() const {
    return Form1->BitBtnCikl->isEnabled() && Form1->BitBtnOdnokr->isEnabled() &&
           Form1->BitBtnPost->isEnabled();
  }
  bool ModeButtonsDisabled() const {
    return !Form1->BitBtnCikl->isEnabled() && !Form1->BitBtnOdnokr->isEnabled() &&
           !Form1->BitBtnPost->isEnabled();
  }

  // Start-up against an idle analyzer: stop, its echo, an idle status.
  void BringToIdle() {
    Tick();
    TickWith(CommandEcho(1, 3));
    TickWith(StatusReply(1, 0));
    ASSERT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  }

  // A single measurement from the start command to the idle status after it.
  void RunSingleMeasurement(const StatusRegisters& measured) {
    Form1->BitBtnOdnokrClick();
    TickWith(StatusReply(1, 0));  // takes the mode over, sends the start
    TickWith(CommandEcho(1, 1));
    TickWith(StatusReply(1, 1));
    StatusRegisters m = measured;
    m.state = 2;
    TickWith(StatusReply(1, m));
    TickWith(StatusReply(1, 3));
    StatusRegisters idle = measured;
    idle.state = 0;
    TickWith(StatusReply(1, idle));
  }
};

TEST_F(PollCycleTest, StartUpReachesIdleAndEnablesTheModeButtonsAtTheThirdTick) {
  Tick();
  EXPECT_EQ(Label(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН"));
  EXPECT_EQ(Sent(), kStop);
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeStopping);
  EXPECT_TRUE(ModeButtonsDisabled());

  TickWith(CommandEcho(1, 3));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeStopping);
  EXPECT_EQ(+DeviceRecord.DeviceState, 3);
  EXPECT_EQ(Label(), QStringLiteral(u"Продувка датчиков"));
  EXPECT_EQ(Sent(), kStatusPoll);
  EXPECT_TRUE(ModeButtonsDisabled());

  TickWith(StatusReply(1, 0));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  EXPECT_EQ(Label(), QStringLiteral(u"Ожидание"));
  EXPECT_TRUE(ModeButtonsEnabled());
  EXPECT_FALSE(Form1->BitBtnStop->isEnabled());
  for (QToolButton* lamp : {Form1->SpeedButtonLedCikl, Form1->SpeedButtonLedOdnok,
                            Form1->SpeedButtonLedConst, Form1->SpeedButtonStop})
    EXPECT_FALSE(lamp->isEnabled());

  // The idle poll shows address, service date and running hours.
  StatusRegisters r;
  r.serviceDay = 3;
  r.serviceMonth = 9;
  r.serviceYear = 2025;
  r.runningHours = 17;
  TickWith(StatusReply(1, r));
  EXPECT_EQ(Caption(), QStringLiteral(u"Korvex адр:1 обслуживание 3.9.2025 наработка 17 часа(ов)"));
  EXPECT_EQ(Sent(), kStatusPoll);
  EXPECT_EQ(+DeviceRecord.LinkState, kLinkSent);
}

TEST_F(PollCycleTest, RequestsCarryTheConfiguredAddress) {
  ProgramSettings.NetAddress = 247;
  DeviceRecord.DeviceAddress = 247;
  Tick();
  EXPECT_EQ(Sent(), (Bytes{0xF7, 0x06, 0x00, 0x00, 0x00, 0x03, 0xDD, 0x5D}));
  TickWith(CommandEcho(247, 3));
  EXPECT_EQ(Sent(), (Bytes{0xF7, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x65, 0x58}));
}

TEST_F(PollCycleTest, SingleMeasurementMakesOneRowAndEndsWithTheStopSequence) {
  BringToIdle();
  Form1->BitBtnOdnokrClick();
  EXPECT_EQ(Form1->Poll.ModeRequest, kAskSingle);
  EXPECT_TRUE(Form1->BitBtnStop->isEnabled());
  EXPECT_TRUE(ModeButtonsDisabled());
  EXPECT_TRUE(Form1->SpeedButtonLedOdnok->isEnabled());
  EXPECT_FALSE(Form1->SpeedButtonStop->isEnabled());

  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Sent(), kStartSingle);
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeSingle);
  EXPECT_EQ(Form1->Poll.PhaseLength, (3 + 0 + 3) * 60 + 30);
  EXPECT_FALSE(Form1->ProgressBar1->isHidden());
  EXPECT_EQ(Form1->ProgressBar1->value(), 0);
  EXPECT_EQ(Form1->Poll.ModeRequest, kAskNone);

  TickWith(CommandEcho(1, 1));
  EXPECT_EQ(Sent(), kStatusPoll);

  TickWith(StatusReply(1, 1));
  EXPECT_EQ(Caption(), QStringLiteral(u"Korvex: производится установка нуля, пожалуйста подождите"));
  EXPECT_EQ(Label(), QStringLiteral(u"Установка \"0\""));
  EXPECT_EQ(Form1->ProgressBar1->value(), 1);  // 2 of 390 ticks

  Advance(1);
  const double measuringTime = seams::Now();
  StatusRegisters m;
  m.state = 2;
  TickWith(StatusReply(1, m));
  EXPECT_EQ(Caption(), QStringLiteral(u"Korvex (Tg:180; O2:3,5; CO:50; NO:40; NO2:5; SO2:0; H2S:0)"));
  EXPECT_TRUE(Form1->Poll.ResultPending);
  EXPECT_EQ(Form1->Grid->Cells(0, 1), QString());  // no row while measuring

  Advance(5);
  TickWith(StatusReply(1, 3));
  EXPECT_TRUE(Form1->ProgressBar1->isHidden());
  EXPECT_EQ(Caption(), QStringLiteral(u"Korvex: продувка датчиков чистым воздухом"));

  Advance(5);
  StatusRegisters idle;
  idle.tg = 185;
  TickWith(StatusReply(1, idle));
  // The row comes from the idle reply, stamped with the last measuring tick.
  ASSERT_EQ(Form1->Grid->RowCount(), 2);
  EXPECT_EQ(Form1->Grid->Cells(0, 1), QStringLiteral("0"));
  EXPECT_EQ(Form1->Grid->Cells(3, 1), QStringLiteral("185"));
  EXPECT_EQ(Form1->Grid->Cells(2, 1),
            seams::FromDateTime(measuringTime).time().toString(QStringLiteral("HH:mm:ss")));
  EXPECT_EQ(Form1->Chart1->PointCount(), 1);
  EXPECT_TRUE(Form1->DataNotSaved);
  EXPECT_TRUE(Form1->N8->isEnabled());
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  EXPECT_EQ(Form1->Poll.ModeRequest, kAskStop);
  EXPECT_FALSE(Form1->SpeedButtonLedOdnok->isEnabled());
  EXPECT_TRUE(Form1->SpeedButtonStop->isEnabled());
  EXPECT_TRUE(ModeButtonsDisabled());

  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Sent(), kStop);
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeStopping);
  TickWith(CommandEcho(1, 3));
  EXPECT_EQ(Sent(), kStatusPoll);
  EXPECT_TRUE(ModeButtonsDisabled());
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  EXPECT_TRUE(ModeButtonsEnabled());
  EXPECT_FALSE(Form1->BitBtnStop->isEnabled());
  EXPECT_TRUE(Form1->SpeedButtonStop->isEnabled());  // lit until the next mode button

  // A second measurement goes into a new row numbered 1.
  RunSingleMeasurement(StatusRegisters{});
  EXPECT_EQ(Form1->Grid->RowCount(), 3);
  EXPECT_EQ(Form1->Grid->Cells(0, 2), QStringLiteral("1"));
}

TEST_F(PollCycleTest, SingleModeEndsAtOnceWithoutARowWhenTheAnalyzerStaysIdle) {
  BringToIdle();
  Form1->BitBtnOdnokrClick();
  TickWith(StatusReply(1, 0));
  TickWith(CommandEcho(1, 1));
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  EXPECT_EQ(Form1->Poll.ModeRequest, kAskStop);
  EXPECT_TRUE(Form1->Grid->Cells(0, 1).isEmpty());
  EXPECT_EQ(Form1->Chart1->PointCount(), 0);
}

TEST_F(PollCycleTest, ProgressRoundsHalvesToTheEvenNeighbourAndStaysFullBeyondTheEnd) {
  DeviceRecord.CalibrationTime[0] = 4;  // continuous: (4 + 0) x 60 = 240 ticks
  BringToIdle();
  Form1->BitBtnPostClick();
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Sent(), kStartContinuous);
  EXPECT_EQ(Form1->Poll.PhaseLength, 240);
  TickWith(CommandEcho(1, 2));  // PhaseTick 1
  for (int tick = 2; tick <= 18; ++tick) {
    TickWith(StatusReply(1, 1));
    if (tick == 6) EXPECT_EQ(Form1->ProgressBar1->value(), 2);    // 2.5
    if (tick == 18) EXPECT_EQ(Form1->ProgressBar1->value(), 8);   // 7.5
  }
  Form1->Poll.PhaseTick = 300;
  TickWith(StatusReply(1, 1));
  EXPECT_EQ(Form1->ProgressBar1->value(), 100);
}

TEST_F(PollCycleTest, CyclicModeCountsDownAndStartsTheNextCycle) {
  BringToIdle();
  Form1->BitBtnCiklClick();
  EXPECT_TRUE(Form1->SpeedButtonLedCikl->isEnabled());
  const QDateTime start = Now();
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Sent(), kStartSingle);
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeCyclic);
  // 30 minutes less 2 seconds from the start.
  EXPECT_NEAR((Form1->Poll.ModeEndTime - seams::ToDateTime(start)) * 86400, 30 * 60 - 2, 1e-3);

  TickWith(CommandEcho(1, 1));
  TickWith(StatusReply(1, 1));
  Advance(200);
  TickWith(StatusReply(1, 2));
  Advance(60);
  TickWith(StatusReply(1, 3));
  Advance(60);
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Form1->Grid->Cells(0, 1), QStringLiteral("0"));
  EXPECT_TRUE(Form1->ProgressBar1->isHidden());
  EXPECT_EQ(Caption(), QStringLiteral(u"Korvex: до старта 1478 секунд(ы)"));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeCyclic);
  EXPECT_EQ(Sent(), kStatusPoll);

  Advance(100);
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Caption(), QStringLiteral(u"Korvex: до старта 1378 секунд(ы)"));
  EXPECT_EQ(Form1->Grid->RowCount(), 2);  // one row per cycle

  SetNow(start.addSecs(30 * 60 - 2));
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Form1->Poll.ModeRequest, kAskCyclic);
  EXPECT_EQ(Sent(), kStatusPoll);
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Sent(), kStartSingle);
  EXPECT_NEAR((Form1->Poll.ModeEndTime - seams::Now()) * 86400, 30 * 60 - 2, 1e-3);
}

TEST_F(PollCycleTest, CyclicModeStoppedDuringTheCountdownSendsTheStop) {
  BringToIdle();
  Form1->BitBtnCiklClick();
  TickWith(StatusReply(1, 0));
  TickWith(CommandEcho(1, 1));
  TickWith(StatusReply(1, 2));
  TickWith(StatusReply(1, 0));
  ASSERT_TRUE(Caption().startsWith(QStringLiteral(u"Korvex: до старта")));
  Form1->BitBtnStopClick();
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Sent(), kStop);
  TickWith(CommandEcho(1, 3));
  TickWith(StatusReply(1, 0));
  EXPECT_TRUE(ModeButtonsEnabled());
}

TEST_F(PollCycleTest, ContinuousModeTakesARowEveryRefreshPeriodAndStopsAfterTheInterval) {
  ProgramSettings.RefreshPeriod = 2;
  BringToIdle();
  Form1->BitBtnPostClick();
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Sent(), kStartContinuous);
  EXPECT_EQ(Form1->Poll.PhaseLength, 180);
  TickWith(CommandEcho(1, 2));
  TickWith(StatusReply(1, 1));
  const double zeroEnd = seams::Now();
  EXPECT_NEAR(Form1->Poll.ModeEndTime - zeroEnd, 60.0 / 1440, 1e-9);

  // The first row after RefreshPeriod + 1 measuring ticks, then every RefreshPeriod.
  int rowsAfter[7];
  for (int i = 0; i < 7; ++i) {
    Advance(1);
    TickWith(StatusReply(1, 2));
    rowsAfter[i] = Form1->Chart1->PointCount();
    EXPECT_EQ(Sent(), kStatusPoll);
  }
  EXPECT_EQ((std::vector<int>(rowsAfter, rowsAfter + 7)), (std::vector<int>{0, 0, 1, 1, 2, 2, 3}));
  EXPECT_EQ(Caption(), QStringLiteral(u"Korvex: наработка 1234 часа(ов)"));
  EXPECT_TRUE(Form1->ProgressBar1->isHidden());
  EXPECT_EQ(Form1->Grid->Cells(0, 3), QStringLiteral("2"));

  // CalibrationInterval (60 min) after the last zero-setting tick: stop.
  SetNow(seams::FromDateTime(zeroEnd).addSecs(60 * 60 + 1));
  TickWith(StatusReply(1, 2));
  EXPECT_EQ(Sent(), kStop);
  TickWith(CommandEcho(1, 3));
  EXPECT_EQ(Sent(), kStatusPoll);
  TickWith(StatusReply(1, 3));
  EXPECT_EQ(Caption(), QStringLiteral(u"Korvex: подготовка к следующему измерению"));
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Form1->Poll.ModeRequest, kAskContinuous);
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(Sent(), kStartContinuous);  // the next period starts at once
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeContinuous);
}

TEST_F(PollCycleTest, StopPressedBeforeTheNextReplyMeansNoStartCommandIsEverSent) {
  BringToIdle();
  Form1->BitBtnOdnokrClick();
  Form1->BitBtnStopClick();
  EXPECT_EQ(Form1->Poll.ModeRequest, kAskStop);
  TickWith(StatusReply(1, 0));
  TickWith(CommandEcho(1, 3));
  TickWith(StatusReply(1, 0));
  for (const Bytes& frame : serial_.writes) {
    EXPECT_NE(frame, kStartSingle);
    EXPECT_NE(frame, kStartContinuous);
  }
  EXPECT_TRUE(ModeButtonsEnabled());
}

TEST_F(PollCycleTest, AModeAskedWhileTheAnalyzerIsBusyIsDropped) {
  BringToIdle();
  TickWith(StatusReply(1, 4));  // manual operation, reported while idle
  EXPECT_EQ(Label(), QStringLiteral(u"Работа вручную"));
  Form1->BitBtnCiklClick();
  TickWith(StatusReply(1, 4));
  EXPECT_EQ(Form1->Poll.ModeRequest, kAskNone);
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  EXPECT_EQ(Sent(), kStatusPoll);
  // The buttons stay as the click left them until Stop is pressed.
  EXPECT_TRUE(Form1->BitBtnStop->isEnabled());
  EXPECT_TRUE(Form1->SpeedButtonLedCikl->isEnabled());
  EXPECT_TRUE(ModeButtonsDisabled());
}

TEST_F(PollCycleTest, ManualOperationWhileMeasuringStopsWithoutTheStopButtonHandler) {
  BringToIdle();
  Form1->BitBtnOdnokrClick();
  TickWith(StatusReply(1, 0));
  TickWith(CommandEcho(1, 1));
  TickWith(StatusReply(1, 4));
  EXPECT_EQ(+DeviceRecord.DeviceState, 8);
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeStopping);
  EXPECT_EQ(Sent(), kStop);
  EXPECT_TRUE(TakeMessages().empty());
  TickWith(CommandEcho(1, 3));
  EXPECT_EQ(+DeviceRecord.DeviceState, 3);
  TickWith(StatusReply(1, 0));
  EXPECT_TRUE(ModeButtonsEnabled());
  EXPECT_TRUE(Form1->BitBtnStop->isEnabled());
  EXPECT_TRUE(Form1->SpeedButtonLedOdnok->isEnabled());
}

TEST_F(PollCycleTest, NoAnalyzerAtAllTurnsTheLabelRedAtThe32ndTickWithoutABox) {
  for (int tick = 1; tick <= 31; ++tick) {
    Tick();
    EXPECT_FALSE(LabelRed()) << tick;
    EXPECT_EQ(Sent(), kStop);
  }
  Tick();
  EXPECT_TRUE(LabelRed());
  EXPECT_EQ(Label(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН"));
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_TRUE(ModeButtonsDisabled());
  EXPECT_EQ(serial_.writes.size(), 32u);
}

TEST_F(PollCycleTest, LostAnalyzerWarnsOnceWithTheTimerOffAndRecoversThroughTheStopEcho) {
  BringToIdle();
  for (int tick = 1; tick <= 30; ++tick) Tick();
  EXPECT_FALSE(LabelRed());
  EXPECT_TRUE(messages_.empty());
  Tick();  // the 31st tick without an answer
  EXPECT_TRUE(LabelRed());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, QStringLiteral("Error"));
  EXPECT_EQ(messages_[0].text, kWarning);
  EXPECT_FALSE(messages_[0].timer1Enabled);
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_EQ(+DeviceRecord.DeviceState, 8);
  EXPECT_TRUE(ModeButtonsDisabled());
  EXPECT_TRUE(Form1->SpeedButtonStop->isEnabled());

  for (int tick = 0; tick < 10; ++tick) {
    Tick();
    EXPECT_EQ(Sent(), kStop);
    EXPECT_EQ(Label(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН"));
  }
  EXPECT_EQ(messages_.size(), 1u);

  TickWith(CommandEcho(1, 3));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeStopping);
  EXPECT_EQ(+DeviceRecord.DeviceState, 3);
  EXPECT_FALSE(LabelRed());
  TickWith(StatusReply(1, 0));  // takes over the pending stop request
  EXPECT_EQ(Sent(), kStop);
  TickWith(CommandEcho(1, 3));
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
  EXPECT_TRUE(ModeButtonsEnabled());
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(PollCycleTest, FaultLinesFollowTheStateTextInIdleAndMeasuringButNotWhileStopping) {
  BringToIdle();
  TickWith(StatusReply(1, 0, 0x0005));
  EXPECT_EQ(Label(), QStringLiteral(u"Ожидание\nОшибка датчика Ta\nОшибка датчика \u041E2"));

  Form1->BitBtnOdnokrClick();
  TickWith(StatusReply(1, 0, 0x0005));  // mode start: no fault text
  EXPECT_EQ(Label(), QStringLiteral(u"Ожидание"));
  TickWith(CommandEcho(1, 1));
  TickWith(StatusReply(1, 2, 0x8000));
  EXPECT_EQ(Label(), QStringLiteral(u"Измерение\nАппаратная ошиб."));
  EXPECT_EQ(+DeviceRecord.Measurement.FaultBits, 0);

  Form1->BitBtnStopClick();
  TickWith(StatusReply(1, 2));
  TickWith(StatusReply(1, 3, 0x0001));
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeStopping);
  EXPECT_EQ(Label(), QStringLiteral(u"Продувка датчиков"));
}

TEST_F(PollCycleTest, AnUnknownStateWhileIdleIsNamedAndPollingGoesOn) {
  BringToIdle();
  TickWith(StatusReply(1, 9));
  EXPECT_EQ(+DeviceRecord.DeviceState, 9);
  EXPECT_EQ(Label(), QStringLiteral(u"Неизвестное состояние 9"));
  EXPECT_EQ(Sent(), kStatusPoll);
  TickWith(StatusReply(1, 255));
  EXPECT_EQ(Label(), QStringLiteral(u"Неизвестное состояние 255"));
  EXPECT_EQ(Sent(), kStatusPoll);
}

TEST_F(PollCycleTest, RepliesThatFailTheTestAreSilenceAndTheShortestValidOneCounts) {
  BringToIdle();
  Frame reply = StatusReply(1, 0);
  // Cut off before the tick: the first part is dropped, the rest fails the next tick.
  Arrive(Frame(reply.begin(), reply.begin() + 20));
  Tick();
  EXPECT_EQ(Form1->Poll.SilentTicks, 2);
  Arrive(Frame(reply.begin() + 20, reply.end()));
  Tick();
  EXPECT_EQ(Form1->Poll.SilentTicks, 3);
  // An exception reply (5 bytes) is no reply.
  Arrive(WithCrc({0x01, 0x84, 0x02}));
  Tick();
  EXPECT_EQ(Form1->Poll.SilentTicks, 4);
  // Two replies run together fail too.
  Arrive(StatusReply(1, 0));
  Arrive(StatusReply(1, 0));
  Tick();
  EXPECT_EQ(Form1->Poll.SilentTicks, 5);
  // Seven bytes with a valid CRC are accepted (taken as an echo here).
  Arrive(WithCrc({0x01, 0x06, 0x00, 0x00, 0x00}));
  Tick();
  EXPECT_EQ(Form1->Poll.SilentTicks, 1);
  EXPECT_EQ(+DeviceRecord.LinkState, kLinkSent);
}

TEST_F(PollCycleTest, AShortFunctionFourReplyIsNeverDecodedWithOldBytes) {
  BringToIdle();
  Form1->BitBtnOdnokrClick();
  TickWith(StatusReply(1, 0));
  TickWith(CommandEcho(1, 1));
  StatusRegisters m;
  m.state = 2;
  m.tg = 300;
  TickWith(StatusReply(1, m));
  ASSERT_EQ(+DeviceRecord.Measurement.Tg, 300);
  // Function 4, state 2, valid CRC, but only 9 bytes.
  TickWith(WithCrc({0x01, 0x04, 0x04, 0x00, 0x02, 0x00, 0x00}));
  EXPECT_EQ(+DeviceRecord.DeviceState, 2);
  EXPECT_EQ(+DeviceRecord.Measurement.Tg, 300);
}

TEST_F(PollCycleTest, TheFirstTickOfANewDayWritesTheLogOfTheDayThatEnded) {
  BringToIdle();
  RunSingleMeasurement(StatusRegisters{});
  ASSERT_EQ(Form1->Grid->Cells(0, 1), QStringLiteral("0"));
  SetNow(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59)));
  TickWith(StatusReply(1, 0));
  const QString log = InDir(QStringLiteral("korvex-26-12-06.ask"));
  EXPECT_FALSE(QFile::exists(log));
  SetNow(QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0)));
  TickWith(StatusReply(1, 0));
  EXPECT_TRUE(QFile::exists(log));
  EXPECT_TRUE(Form1->Grid->Cells(0, 1).isEmpty());
  EXPECT_EQ(Form1->Chart1->PointCount(), 0);
  EXPECT_FALSE(Form1->DataNotSaved);
  EXPECT_DOUBLE_EQ(+DeviceRecord.LogDate, seams::Now());
  EXPECT_TRUE(Form1->Timer1->Enabled());
  // Nothing more until the next day, and a clock set back triggers nothing.
  Advance(3600);
  TickWith(StatusReply(1, 0));
  SetNow(QDateTime(QDate(2026, 12, 5), QTime(12, 0, 0)));
  TickWith(StatusReply(1, 0));
  EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("*.ask")}).size(), 1);
}

TEST_F(PollCycleTest, AResultTakenAtTheFirstTickOfANewDayOpensTheNewDaysTable) {
  ProgramSettings.RefreshPeriod = 1;
  BringToIdle();
  Form1->BitBtnPostClick();
  TickWith(StatusReply(1, 0));
  TickWith(CommandEcho(1, 2));
  TickWith(StatusReply(1, 1));
  SetNow(QDateTime(QDate(2026, 12, 6), QTime(23, 59, 58)));
  TickWith(StatusReply(1, 2));
  Advance(1);
  TickWith(StatusReply(1, 2));
  ASSERT_EQ(Form1->Chart1->PointCount(), 1);  // the row of 23:59:59
  Advance(1);
  TickWith(StatusReply(1, 2));  // 00:00:00
  QFile log(InDir(QStringLiteral("korvex-26-12-06.ask")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = log.readAll().split('\n');
  ASSERT_EQ(lines.size(), 3);  // header, the row of 23:59:59, and the end
  EXPECT_TRUE(lines[1].contains("23:59:59"));
  EXPECT_EQ(Form1->Grid->Cells(1, 1), QStringLiteral("07.12.2026"));
  EXPECT_EQ(Form1->Grid->Cells(2, 1), QStringLiteral("00:00:00"));
  EXPECT_EQ(Form1->Grid->Cells(0, 1), QStringLiteral("0"));
}

}  // namespace
