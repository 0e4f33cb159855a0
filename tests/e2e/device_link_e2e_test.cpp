// The program's serial port and framing (TIOPort on QSerialPort, SendRequest,
// Recieve, the acceptance test) against the analyzer simulator, whose Modbus
// side is libmodbus: an independent peer on a real pseudo-terminal.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

#include "device/Korvex_ModbusRTU_IOPort.h"
#include "device/modbus_rtu.h"
#include "device/register_map.h"
#include "device/serial_backend.h"
#include "e2e/sim_fixture.h"
#include "support/analyzer_replies.h"

namespace {

class DeviceLinkE2E : public SimFixture {
 protected:
  // The port as CreatePort sets it up, feeding `reply_`.
  std::unique_ptr<TIOPort> OpenPort() {
    auto port = std::make_unique<TIOPort>(sim_->PortPath());
    port->SetParameters(QStringLiteral("9600,N,8,2"));
    port->OnReceive = [this](TIOPort*, uint8_t value, bool lineError) {
      reply_.Recieve(value, lineError, linkState_);
    };
    return port;
  }

  // Sends the request of `kind` and polls until `length` bytes are in.
  bool Exchange(TIOPort& port, uint8_t kind, int length, int timeoutMs = 3000) {
    reply_.Clear();
    SendRequest(&port, 1, kind, linkState_);
    return SimProcess::WaitFor(
        [&] {
          port.Poll();
          return reply_.ReplyLength >= length;
        },
        timeoutMs);
  }

  Frame Received() const { return Frame(reply_.ReplyBuffer, reply_.ReplyBuffer + reply_.ReplyLength); }

  ReplyCollector reply_;
  uint8_t linkState_ = 0;
};

TEST_F(DeviceLinkE2E, AStatusPollIsAnsweredWholeInOrderAndAccepted) {
  StartSim();
  // Every register a different value, so that order and position show.
  StatusRegisters r;
  r.state = 0;
  r.faults = 0x0805;
  r.tg = -200;
  r.ta = 21;
  r.o2 = 350;
  r.reg5 = 0x1234;
  r.co = 50;
  r.no = 40;
  r.no2 = 5;
  r.so2 = 0x8001;
  r.h2s = 3;
  r.serviceMonth = 11;
  r.serviceDay = 25;
  r.serviceYear = 2026;
  r.runningHours = 4321;
  const int values[14] = {r.state, r.faults, r.tg,  r.ta,  r.o2,  r.reg5, r.co, r.no,
                          r.no2,   r.so2,    r.h2s, (r.serviceMonth << 8) | r.serviceDay,
                          r.serviceYear,     r.runningHours};
  for (int k = 0; k < 14; ++k)
    ASSERT_TRUE(sim_->Command(QStringLiteral("set %1 %2").arg(k).arg(values[k])));

  auto port = OpenPort();
  ASSERT_TRUE(port->IsOpen());
  EXPECT_TRUE(TakeMessages().empty());
  ASSERT_TRUE(Exchange(*port, kRequestStatus, 33));
  EXPECT_EQ(Received(), StatusReply(1, r));
  EXPECT_EQ(linkState_, kLinkReceiving);
  EXPECT_TRUE(reply_.Accepted());
  EXPECT_TRUE(IsWholeStatusReply(reply_));

  TMeasurement m{};
  DecodeMeasurement(reply_.ReplyBuffer, FuelTable[0], 1.0, m);
  EXPECT_EQ(double(m.Tg), -200.0);
  EXPECT_EQ(int32_t(m.FaultBits), 0x0805);
  EXPECT_EQ(double(m.SO2), 32769.0);
  EXPECT_NEAR(double(m.CO2), 9.8302, 0.00005);
}

TEST_F(DeviceLinkE2E, TheWrittenFrameIsCopiedSoTheCallersBufferMayChangeAtOnce) {
  StartSim();
  auto port = OpenPort();
  uint8_t frame[8] = {0x01, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x71, 0xCE};
  ASSERT_TRUE(port->Write(frame, 8));
  std::fill(std::begin(frame), std::end(frame), 0xFF);
  ASSERT_TRUE(SimProcess::WaitFor(
      [&] {
        port->Poll();
        return reply_.ReplyLength >= 33;
      },
      3000));
  EXPECT_TRUE(reply_.Accepted());
  EXPECT_TRUE(SimProcess::WaitFor(
      [&] {
        port->Poll();
        return port->WriteDone;
      },
      3000));
}

TEST_F(DeviceLinkE2E, ACommandIsEchoedAndTheAnalyzerRunsItsStates) {
  StartSim({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--measure"),
            QStringLiteral("0"), QStringLiteral("--purge"), QStringLiteral("0"),
            QStringLiteral("--min-replies"), QStringLiteral("1")});
  auto port = OpenPort();
  ASSERT_TRUE(Exchange(*port, kRequestSingle, 8));
  EXPECT_EQ(Received(), CommandEcho(1, 1));
  EXPECT_TRUE(reply_.Accepted());
  EXPECT_TRUE(sim_->WaitForLine(Line("^COMMAND 1 single measurement$")));

  // Each state is reported at least once, in order, and then idle again.
  std::vector<int> states;
  for (int i = 0; i < 20 && (states.empty() || states.back() != 0); ++i) {
    ASSERT_TRUE(Exchange(*port, kRequestStatus, 33));
    ASSERT_TRUE(reply_.Accepted());
    const int state = reply_.ReplyBuffer[kReplyState];
    if (states.empty() || states.back() != state) states.push_back(state);
  }
  EXPECT_EQ(states, (std::vector<int>{1, 2, 3, 0}));
}

TEST_F(DeviceLinkE2E, AnExceptionReplyIsFiveBytesAndNotAccepted) {
  StartSim();
  auto port = OpenPort();
  // A read of 15 registers: the analyzer has only 14.
  reply_.Clear();
  const Frame request = WithCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x0F});
  ASSERT_TRUE(port->Write(request.data(), int32_t(request.size())));
  ASSERT_TRUE(SimProcess::WaitFor(
      [&] {
        port->Poll();
        return reply_.ReplyLength >= 5;
      },
      3000));
  EXPECT_EQ(Received(), WithCrc({0x01, 0x84, 0x02}));
  EXPECT_FALSE(reply_.Accepted());
}

TEST_F(DeviceLinkE2E, LineFaultsSpoilTheRepliesTheyHitAndNoOthers) {
  StartSim();
  auto port = OpenPort();
  const struct {
    const char* command;
    int length;  // bytes that arrive
    bool accepted;
  } cases[] = {
      {"crc 1", 33, false},
      {"cut 1", 16, false},
      {"garbage 4 1", 37, false},
      {"split 50 1", 33, true},  // the tick collects whatever came since the last one
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(sim_->Command(QString::fromLatin1(c.command)));
    ASSERT_TRUE(Exchange(*port, kRequestStatus, c.length)) << c.command;
    EXPECT_EQ(reply_.ReplyLength, c.length) << c.command;
    EXPECT_EQ(reply_.Accepted(), c.accepted) << c.command;
    ASSERT_TRUE(Exchange(*port, kRequestStatus, 33)) << c.command;
    EXPECT_TRUE(reply_.Accepted()) << "after " << c.command;
  }
  // Silence: the request is neither answered nor obeyed.
  ASSERT_TRUE(sim_->Command(QStringLiteral("silence 1")));
  const int commands = sim_->Count(Line("^COMMAND "));
  const int from = int(sim_->Lines().size());
  reply_.Clear();
  SendRequest(port.get(), 1, kRequestStop, linkState_);
  ASSERT_TRUE(sim_->WaitForLine(Line("^FAULT silence$"), from));
  port->Poll();
  EXPECT_EQ(reply_.ReplyLength, 0);
  ASSERT_TRUE(Exchange(*port, kRequestStop, 8));
  EXPECT_TRUE(reply_.Accepted());
  EXPECT_TRUE(sim_->WaitForLine(Line("^COMMAND 3")));
  EXPECT_EQ(sim_->Count(Line("^COMMAND ")), commands + 1);
}

TEST_F(DeviceLinkE2E, APortThatDoesNotExistShowsOneBoxWithItsName) {
  const QString name = QStringLiteral("/dev/korvex-no-such-port");
  ASSERT_FALSE(QFile::exists(name));
  TIOPort port(name);
  port.SetParameters(QStringLiteral("9600,N,8,2"));
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral(u"Не могу открыть порт"));
  EXPECT_EQ(messages[0].text, name);
  EXPECT_FALSE(port.IsOpen());
  const uint8_t frame[8] = {0x01, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x71, 0xCE};
  EXPECT_FALSE(port.Write(frame, 8));
  port.Poll();
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(DeviceLinkE2E, APortInUseIsReportedAsNotOpened) {
  StartSim();
  auto first = OpenPort();
  ASSERT_TRUE(first->IsOpen());
  TIOPort second(sim_->PortPath());
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral(u"Не могу открыть порт"));
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(Exchange(*first, kRequestStatus, 33));  // the first one still works
}

// The line goes away under the open port: the simulator ends (as a pulled
// USB adapter does) or closes its side while it runs on. The port may notice
// in the event loop (Qt's read notifier: after a hang-up Qt 6.4 reports
// ReadError there over and over) or in Poll (Timer2).
struct LineLoss {
  bool killed;
  bool noticedByPoll;
};

void PrintTo(const LineLoss& loss, std::ostream* os) {
  *os << (loss.killed ? "simulator killed" : "line closed") << ", noticed by "
      << (loss.noticedByPoll ? "Poll" : "the event loop");
}

class LineLostE2E : public DeviceLinkE2E, public ::testing::WithParamInterface<LineLoss> {};

TEST_P(LineLostE2E, ThePortClosesAtTheFirstErrorAndStaysQuiet) {
  const LineLoss loss = GetParam();
  StartSim();
  auto port = OpenPort();
  ASSERT_TRUE(Exchange(*port, kRequestStatus, 33));
  ASSERT_TRUE(reply_.Accepted());

  if (loss.killed)
    sim_->Kill();
  else
    ASSERT_TRUE(sim_->Command(QStringLiteral("hangup")));

  const SerialBackend* backend = port->Backend();
  ASSERT_TRUE(SimProcess::WaitFor(
      [&] {
        if (loss.noticedByPoll) {
          port->Poll();
          SendRequest(port.get(), 1, kRequestStatus, linkState_);
        }
        return !port->IsOpen();
      },
      5000));
  EXPECT_EQ(backend->FailureReports(), 1);
  EXPECT_TRUE(backend->Failed());

  // Many more polls, writes and turns of the event loop change nothing (the
  // silent reopen attempts find no device and report no error storm).
  reply_.Clear();
  for (int i = 0; i < 300; ++i) {
    port->Poll();
    SendRequest(port.get(), 1, kRequestStatus, linkState_);
    QCoreApplication::processEvents();
  }
  EXPECT_LE(backend->FailureReports(), 1);
  EXPECT_FALSE(port->IsOpen());
  EXPECT_EQ(reply_.ReplyLength, 0);
  EXPECT_EQ(linkState_, kLinkSent);
  EXPECT_TRUE(TakeMessages().empty());
  if (!loss.killed) {
    EXPECT_TRUE(sim_->Running());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lost, LineLostE2E,
    ::testing::Values(LineLoss{true, false}, LineLoss{false, false}, LineLoss{true, true},
                      LineLoss{false, true}),
    [](const ::testing::TestParamInfo<LineLoss>& info) {
      return std::string(info.param.killed ? "SimulatorKilled" : "LineClosed") +
             (info.param.noticedByPoll ? "NoticedByPoll" : "NoticedByEventLoop");
    });

}  // namespace
