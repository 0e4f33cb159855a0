// The link to the analyzer (the serial port on QSerialPort, the request
// frames, the reply collector and its acceptance test) against the analyzer
// simulator, whose Modbus side is libmodbus: an independent peer on a real
// pseudo-terminal.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include "device/analyzer_link.h"
#include "device/modbus_rtu.h"
#include "device/register_map.h"
#include "device/serial_backend.h"
#include "e2e/sim_fixture.h"
#include "support/analyzer_replies.h"

namespace {

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(u.ru_utime) + seconds(u.ru_stime);
}

class DeviceLinkE2E : public SimFixture {
 protected:
  // The link as the program opens it.
  std::unique_ptr<AnalyzerLink> openLink() {
    auto link = std::make_unique<AnalyzerLink>();
    link->open(sim_->portPath());
    return link;
  }

  // Sends the request of `kind` and services the port until `length` bytes are in.
  static bool exchange(AnalyzerLink& link, Request kind, int length, int timeoutMs = 3000) {
    link.clearReply();
    link.send(1, kind);
    return SimProcess::waitFor(
        [&] {
          link.service();
          return link.reply().length() >= length;
        },
        timeoutMs);
  }

  static Frame received(const AnalyzerLink& link) {
    return Frame(link.reply().bytes(), link.reply().bytes() + link.reply().length());
  }
};

TEST_F(DeviceLinkE2E, AStatusPollIsAnsweredWholeInOrderAndAccepted) {
  startSim();
  // Every register a different value, so that order and position show.
  const StatusRegisters r = distinctRegisters();
  const int values[14] = {r.state, r.faults, r.tg,  r.ta,  r.o2,  r.reg5, r.co, r.no,
                          r.no2,   r.so2,    r.h2s, (r.serviceMonth << 8) | r.serviceDay,
                          r.serviceYear,     r.runningHours};
  for (int k = 0; k < 14; ++k)
    ASSERT_TRUE(sim_->command(QStringLiteral("set %1 %2").arg(k).arg(values[k])));

  auto link = openLink();
  ASSERT_TRUE(link->isOpen());
  EXPECT_TRUE(takeMessages().empty());
  ASSERT_TRUE(exchange(*link, Request::Status, 33));
  EXPECT_EQ(received(*link), statusReply(1, r));
  EXPECT_EQ(link->linkState(), LinkState::Receiving);
  EXPECT_TRUE(link->reply().accepted());
  EXPECT_TRUE(isWholeStatusReply(link->reply()));

  const Measurement m = decodeMeasurement(link->reply().bytes(), builtInFuelTable()[0], 1.0);
  EXPECT_EQ(m[channel::Tg], -200.0);
  EXPECT_EQ(m.faultBits, 0x0805);
  EXPECT_EQ(m[channel::SO2], 32769.0);
  EXPECT_NEAR(m[channel::CO2], 9.8302, 0.00005);
}

TEST_F(DeviceLinkE2E, TheWrittenFrameIsCopiedSoTheCallersBufferMayChangeAtOnce) {
  startSim();
  auto link = openLink();
  uint8_t frame[8] = {0x01, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x71, 0xCE};
  ASSERT_TRUE(link->port()->write(frame, 8));
  std::fill(std::begin(frame), std::end(frame), 0xFF);
  ASSERT_TRUE(SimProcess::waitFor(
      [&] {
        link->service();
        return link->reply().length() >= 33;
      },
      3000));
  EXPECT_TRUE(link->reply().accepted());
}

TEST_F(DeviceLinkE2E, ACommandIsEchoedAndTheAnalyzerRunsItsStates) {
  startSim({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--measure"),
            QStringLiteral("0"), QStringLiteral("--purge"), QStringLiteral("0"),
            QStringLiteral("--min-replies"), QStringLiteral("1")});
  auto link = openLink();
  ASSERT_TRUE(exchange(*link, Request::StartSingle, 8));
  EXPECT_EQ(received(*link), commandEcho(1, 1));
  EXPECT_TRUE(link->reply().accepted());
  EXPECT_TRUE(sim_->waitForLine(line("^COMMAND 1 single measurement$")));

  // Each state is reported at least once, in order, and then idle again.
  std::vector<int> states;
  for (int i = 0; i < 20 && (states.empty() || states.back() != 0); ++i) {
    ASSERT_TRUE(exchange(*link, Request::Status, 33));
    ASSERT_TRUE(link->reply().accepted());
    const int state = link->reply()[kReplyState];
    if (states.empty() || states.back() != state) states.push_back(state);
  }
  EXPECT_EQ(states, (std::vector<int>{1, 2, 3, 0}));
}

TEST_F(DeviceLinkE2E, AnExceptionReplyIsFiveBytesAndNotAccepted) {
  startSim();
  auto link = openLink();
  // A read of 15 registers: the analyzer has only 14.
  link->clearReply();
  const Frame request = withCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x0F});
  ASSERT_TRUE(link->port()->write(request.data(), int32_t(request.size())));
  ASSERT_TRUE(SimProcess::waitFor(
      [&] {
        link->service();
        return link->reply().length() >= 5;
      },
      3000));
  EXPECT_EQ(received(*link), withCrc({0x01, 0x84, 0x02}));
  EXPECT_FALSE(link->reply().accepted());
}

TEST_F(DeviceLinkE2E, LineFaultsSpoilTheRepliesTheyHitAndNoOthers) {
  startSim();
  auto link = openLink();
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
    ASSERT_TRUE(sim_->command(QString::fromLatin1(c.command)));
    ASSERT_TRUE(exchange(*link, Request::Status, c.length)) << c.command;
    EXPECT_EQ(link->reply().length(), c.length) << c.command;
    EXPECT_EQ(link->reply().accepted(), c.accepted) << c.command;
    ASSERT_TRUE(exchange(*link, Request::Status, 33)) << c.command;
    EXPECT_TRUE(link->reply().accepted()) << "after " << c.command;
  }
  // Silence: the request is neither answered nor obeyed.
  ASSERT_TRUE(sim_->command(QStringLiteral("silence 1")));
  const int commands = sim_->count(line("^COMMAND "));
  const int from = int(sim_->lines().size());
  link->clearReply();
  link->send(1, Request::Stop);
  ASSERT_TRUE(sim_->waitForLine(line("^FAULT silence$"), from));
  link->service();
  EXPECT_EQ(link->reply().length(), 0);
  ASSERT_TRUE(exchange(*link, Request::Stop, 8));
  EXPECT_TRUE(link->reply().accepted());
  EXPECT_TRUE(sim_->waitForLine(line("^COMMAND 3")));
  EXPECT_EQ(sim_->count(line("^COMMAND ")), commands + 1);
}

TEST_F(DeviceLinkE2E, APortThatDoesNotExistIsReportedAndHarmless) {
  const QString name = QStringLiteral("/dev/korvex-no-such-port");
  ASSERT_FALSE(QFile::exists(name));
  AnalyzerLink link;
  EXPECT_EQ(link.open(name), PortOpenResult::CannotOpen);
  EXPECT_FALSE(link.isOpen());
  const uint8_t frame[8] = {0x01, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x71, 0xCE};
  EXPECT_FALSE(link.port()->write(frame, 8));
  link.service();
  EXPECT_TRUE(takeMessages().empty());  // the device layer shows nothing
}

TEST_F(DeviceLinkE2E, APortInUseIsReportedAsNotOpened) {
  startSim();
  auto first = openLink();
  ASSERT_TRUE(first->isOpen());
  AnalyzerLink second;
  EXPECT_EQ(second.open(sim_->portPath()), PortOpenResult::CannotOpen);
  EXPECT_FALSE(second.isOpen());
  EXPECT_TRUE(exchange(*first, Request::Status, 33));  // the first one still works
}

// The line goes away under the open port: the simulator ends (as a pulled
// USB adapter does) or closes its side while it runs on. The port may notice
// in the event loop (Qt's read notifier: after a hang-up Qt 6.4 reports
// ReadError there over and over) or in the port service.
struct LineLoss {
  bool killed;
  bool noticedByPoll;
};

void PrintTo(const LineLoss& loss, std::ostream* os) {
  *os << (loss.killed ? "simulator killed" : "line closed") << ", noticed by "
      << (loss.noticedByPoll ? "the port service" : "the event loop");
}

class LineLostE2E : public DeviceLinkE2E, public ::testing::WithParamInterface<LineLoss> {};

TEST_P(LineLostE2E, ThePortClosesAtTheFirstErrorAndStaysQuiet) {
  const LineLoss loss = GetParam();
  startSim();
  auto link = openLink();
  ASSERT_TRUE(exchange(*link, Request::Status, 33));
  ASSERT_TRUE(link->reply().accepted());

  if (loss.killed)
    sim_->kill();
  else
    ASSERT_TRUE(sim_->command(QStringLiteral("hangup")));

  const SerialBackend* backend = link->port()->backend();
  ASSERT_TRUE(SimProcess::waitFor(
      [&] {
        if (loss.noticedByPoll) {
          link->service();
          link->send(1, Request::Status);
        }
        return !link->isOpen();
      },
      5000));
  EXPECT_EQ(backend->failureReports(), 1);
  EXPECT_TRUE(backend->failed());

  // Many more polls, writes and turns of the event loop change nothing (the
  // silent reopen attempts find no device and report no error storm).
  link->clearReply();
  for (int i = 0; i < 300; ++i) {
    link->service();
    link->send(1, Request::Status);
    QCoreApplication::processEvents();
  }
  EXPECT_LE(backend->failureReports(), 1);
  EXPECT_FALSE(link->isOpen());
  EXPECT_EQ(link->reply().length(), 0);
  EXPECT_EQ(link->linkState(), LinkState::Sent);
  // Nothing is left to wake the program: a second of the event loop takes
  // next to no processor time (a notifier firing on a dead descriptor would
  // take all of it). Nor is a pseudo-terminal tried again.
  EXPECT_FALSE(link->port()->reopenTimer()->isEnabled());
  const double cpuBefore = processCpuSeconds();
  QElapsedTimer wall;
  wall.start();
  SimProcess::waitFor([] { return false; }, 1000);
  EXPECT_LT(processCpuSeconds() - cpuBefore, 0.3 * double(wall.elapsed()) / 1000);
  EXPECT_TRUE(takeMessages().empty());
  if (!loss.killed) {
    EXPECT_TRUE(sim_->isRunning());
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
