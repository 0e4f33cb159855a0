// Several analyzers on one line (korvex-sim --analyzers), reached through the
// program's own link (AnalyzerLink on QSerialPort) over a pseudo-terminal:
// each answers at its own address with its own readings, states and faults;
// commands with "@N" reach one of them; --pace keeps the line's timing at
// 9600 baud; the simulator counts requests sent too soon after a reply.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>

#include "device/analyzer_link.h"
#include "device/fuel_table.h"
#include "device/modbus_rtu.h"
#include "device/register_map.h"
#include "e2e/sim_fixture.h"
#include "storage/settings_files.h"
#include "support/analyzer_replies.h"

namespace {

// A character at 9600 baud, 8N2 (11 bits), in milliseconds.
constexpr double kCharacterMs = 11.0 * 1000 / 9600;

class SimulatorBusE2E : public SimFixture {
 protected:
  void openLink() {
    link_ = std::make_unique<AnalyzerLink>();
    link_->open(sim_->portPath());
    ASSERT_TRUE(link_->isOpen());
  }

  // Sends the request of `kind` to `address` and services the port until
  // `length` bytes are in.
  bool exchange(uint8_t address, Request kind, int length = -1, int timeoutMs = 3000) {
    if (length < 0) length = kind == Request::Status ? 33 : 8;
    link_->clearReply();
    link_->send(address, kind);
    return waitForBytes(length, timeoutMs);
  }
  bool waitForBytes(int length, int timeoutMs = 3000) {
    return SimProcess::waitFor(
        [&] {
          link_->service();
          return link_->reply().length() >= length;
        },
        timeoutMs);
  }
  const ReplyCollector& reply() const { return link_->reply(); }

  double tg() const {
    return decodeMeasurement(reply().bytes(), builtInFuelTable()[0], 1.0)[channel::Tg];
  }

  // A counter of the status line: `field` of the analyzer at `address`, or
  // of the whole line (address 0); -1 when it is not there.
  long statusField(int address, const char* field) {
    const QString status = sim_->status();
    const QString part = address ? QStringLiteral("@%1 ").arg(address) : QStringLiteral("line ");
    for (QString s : status.mid(7).split(QStringLiteral(" | "))) {
      s = s.trimmed();
      if (!s.startsWith(part)) continue;
      const QRegularExpression re(QStringLiteral("\\b%1=(-?\\d+)").arg(QLatin1String(field)));
      const auto m = re.match(s);
      return m.hasMatch() ? m.captured(1).toLong() : -1;
    }
    return -1;
  }

  // Shows that `address` gave no reply to a request just sent: the line's
  // request count says the simulator has taken it, then a request to `live`
  // is answered, and the bytes collected are that reply alone.
  void expectNoReplyFrom(uint8_t address, uint8_t live, long lineRequestsBefore) {
    link_->clearReply();
    link_->send(address, Request::Status);
    ASSERT_TRUE(SimProcess::waitFor([&] { return statusField(0, "requests") > lineRequestsBefore; }, 5000));
    link_->service();
    EXPECT_EQ(reply().length(), 0) << "from address " << +address;
    ASSERT_TRUE(exchange(live, Request::Status));
    link_->service();
    EXPECT_EQ(reply().length(), 33);
    EXPECT_EQ(reply()[0], live);
    EXPECT_TRUE(reply().accepted());
  }

  // Spins the event loop until `condition` holds, each turn sleeping until
  // an event comes (bytes at the port, or `deadline` firing): no pause after
  // the bytes are in. False once `deadline` has fired.
  static bool waitPromptly(const std::function<bool()>& condition, const QTimer& deadline) {
    while (!condition()) {
      if (!deadline.isActive()) return false;
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
  }

  std::unique_ptr<AnalyzerLink> link_;
};

TEST_F(SimulatorBusE2E, EachAnalyzerAnswersAtItsOwnAddressWithReadingsOfItsOwn) {
  startSim({QStringLiteral("--analyzers"), QStringLiteral("3")});
  openLink();
  for (uint8_t address = 1; address <= 3; ++address) {
    ASSERT_TRUE(exchange(address, Request::Status)) << +address;
    EXPECT_EQ(reply()[0], address);
    EXPECT_TRUE(reply().accepted());
    EXPECT_TRUE(isWholeStatusReply(reply()));
    // Tg of address N lies within 12 deg C of 180 + 25 (N - 1): the ranges do
    // not overlap, so a result tells where it came from.
    const double mean = 180 + 25 * (address - 1);
    EXPECT_GE(tg(), mean - 12) << +address;
    EXPECT_LE(tg(), mean + 12) << +address;
  }
  // Nobody answers at address 4.
  expectNoReplyFrom(4, 2, statusField(0, "requests"));
  EXPECT_EQ(statusField(1, "requests"), 1);
  EXPECT_EQ(statusField(2, "requests"), 2);
  EXPECT_EQ(statusField(2, "replies"), 2);
  EXPECT_EQ(statusField(3, "replies"), 1);
  EXPECT_EQ(statusField(0, "requests"), 5);
  EXPECT_FALSE(sim_->command(QStringLiteral("@4 status")));
  EXPECT_TRUE(sim_->lines().contains(QStringLiteral("ERROR no analyzer at address 4")));
}

TEST_F(SimulatorBusE2E, AListOfAddressesIsAnsweredAtThoseAddressesOnly) {
  startSim({QStringLiteral("--analyzers"), QStringLiteral("2,5,7")});
  openLink();
  ASSERT_TRUE(exchange(5, Request::Status));
  EXPECT_EQ(reply()[0], 5);
  EXPECT_TRUE(reply().accepted());
  EXPECT_GE(tg(), 280 - 12);
  EXPECT_LE(tg(), 280 + 12);
  expectNoReplyFrom(1, 7, statusField(0, "requests"));
  EXPECT_EQ(statusField(2, "requests"), 0);
}

TEST_F(SimulatorBusE2E, LineFaultsForOneAddressHitItsRepliesAloneAndUnprefixedOnesAnyReply) {
  startSim({QStringLiteral("--analyzers"), QStringLiteral("3")});
  openLink();
  ASSERT_TRUE(sim_->command(QStringLiteral("@2 silence on")));
  for (uint8_t address : {1, 3}) {
    ASSERT_TRUE(exchange(address, Request::Status));
    EXPECT_TRUE(reply().accepted());
  }
  const int from = int(sim_->lines().size());
  link_->clearReply();
  link_->send(2, Request::StartSingle);
  ASSERT_TRUE(sim_->waitForLine(line("^@2 FAULT silence$"), from));
  link_->service();
  EXPECT_EQ(reply().length(), 0);
  EXPECT_EQ(sim_->count(line("COMMAND")), 0);  // nor obeyed
  for (uint8_t address : {3, 1}) {
    ASSERT_TRUE(exchange(address, Request::Status));
    EXPECT_EQ(reply()[0], address);
    EXPECT_TRUE(reply().accepted());
  }
  ASSERT_TRUE(sim_->command(QStringLiteral("@2 silence off")));
  ASSERT_TRUE(exchange(2, Request::Status));
  EXPECT_TRUE(reply().accepted());

  // A spoilt CRC for address 3: address 1's next reply is whole, 3's is not.
  ASSERT_TRUE(sim_->command(QStringLiteral("@3 crc 1")));
  ASSERT_TRUE(exchange(1, Request::Status));
  EXPECT_TRUE(reply().accepted());
  ASSERT_TRUE(exchange(3, Request::Status));
  EXPECT_FALSE(reply().accepted());
  ASSERT_TRUE(exchange(3, Request::Status));
  EXPECT_TRUE(reply().accepted());
  // Without an address the fault is the line's: the next reply, whoever's.
  ASSERT_TRUE(sim_->command(QStringLiteral("crc 1")));
  ASSERT_TRUE(exchange(2, Request::Status));
  EXPECT_FALSE(reply().accepted());
  ASSERT_TRUE(exchange(3, Request::Status));
  EXPECT_TRUE(reply().accepted());
  EXPECT_EQ(statusField(2, "replies"), 2);
  EXPECT_EQ(statusField(2, "requests"), 3);  // the silenced one too
}

TEST_F(SimulatorBusE2E, ACommandToOneAddressChangesThatAnalyzerAlone) {
  startSim({QStringLiteral("--analyzers"), QStringLiteral("3"), QStringLiteral("--zero"),
            QStringLiteral("100")});
  openLink();
  ASSERT_TRUE(exchange(3, Request::StartContinuous));
  EXPECT_EQ(Frame(reply().bytes(), reply().bytes() + reply().length()), commandEcho(3, 2));
  EXPECT_TRUE(sim_->waitForLine(line("^@3 COMMAND 2 continuous measurement$")));
  ASSERT_TRUE(sim_->command(QStringLiteral("@1 faults 0x0004")));
  for (uint8_t address = 1; address <= 3; ++address) {
    ASSERT_TRUE(exchange(address, Request::Status));
    ASSERT_TRUE(reply().accepted());
    EXPECT_EQ(reply()[kReplyState], address == 3 ? int(AnalyzerState::ZeroSetting) : 0) << +address;
    EXPECT_EQ(registerU(reply().bytes(), 1), address == 1 ? 4 : 0) << +address;
  }
  EXPECT_EQ(sim_->count(line("STATE")), 1);
  // Without an address a command reaches every analyzer.
  ASSERT_TRUE(sim_->command(QStringLiteral("faults 0x0010")));
  for (uint8_t address = 1; address <= 3; ++address) {
    ASSERT_TRUE(exchange(address, Request::Status));
    EXPECT_EQ(registerU(reply().bytes(), 1), 0x0010) << +address;
  }
  EXPECT_FALSE(sim_->command(QStringLiteral("@3 quit")));
  EXPECT_TRUE(sim_->isRunning());
}

TEST_F(SimulatorBusE2E, PacedRepliesArriveNoEarlierThanTheLineCarriesThem) {
  startSim({QStringLiteral("--analyzers"), QStringLiteral("2"), QStringLiteral("--pace"),
            QStringLiteral("--latency"), QStringLiteral("30")});
  openLink();
  // A request of 8 bytes, 3.5 characters of silence, the analyzer's 30 ms,
  // a reply of 33 bytes: 44.5 characters and 30 ms at the least.
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(exchange(1, Request::Status));
  EXPECT_GE(double(clock.nsecsElapsed()) / 1e6, 44.5 * kCharacterMs + 30);
  EXPECT_TRUE(reply().accepted());
  clock.start();
  ASSERT_TRUE(exchange(2, Request::Stop));
  EXPECT_GE(double(clock.nsecsElapsed()) / 1e6, 19.5 * kCharacterMs + 30);
  EXPECT_TRUE(reply().accepted());

  // Two requests written at once, to both: the line carries one frame at a
  // time, so both replies are in no earlier than the first request, the
  // silence, the latency and both replies' bytes.
  link_->clearReply();
  const RequestFrame first = buildRequest(1, Request::Status);
  const RequestFrame second = buildRequest(2, Request::Status);
  uint8_t both[16];
  std::copy(first.begin(), first.end(), both);
  std::copy(second.begin(), second.end(), both + 8);
  clock.start();
  ASSERT_TRUE(link_->port()->write(both, 16));
  ASSERT_TRUE(waitForBytes(66));
  EXPECT_GE(double(clock.nsecsElapsed()) / 1e6, (8 + 3.5 + 66) * kCharacterMs + 30);
  EXPECT_EQ(reply().length(), 66);
  EXPECT_EQ(reply()[0] + reply()[33], 3);  // one from each
}

TEST_F(SimulatorBusE2E, ARequestRightAfterAReplyBreaksTheSilentIntervalOneAfterTenMillisecondsDoesNot) {
  startSim({QStringLiteral("--analyzers"), QStringLiteral("2")});
  openLink();
  // A first request, and a second after a round trip of the simulator's
  // commands: neither too soon.
  ASSERT_TRUE(exchange(1, Request::Status));
  EXPECT_EQ(statusField(0, "gap_violations"), 0);

  // Then four requests, each sent from the condition that sees the reply
  // before it in, which a master must never do. Each normally counts; one
  // the machine delays past the 4 ms may not. The wait sleeps in the event
  // loop until the port wakes it (QTest's waits pause 10 ms between looks).
  link_->clearReply();
  link_->send(2, Request::Status);
  int sent = 0;
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.start(5000);
  ASSERT_TRUE(waitPromptly(
      [&] {
        link_->service();
        if (reply().length() < 33) return false;
        if (sent == 4) return true;
        link_->clearReply();
        link_->send(uint8_t(1 + sent % 2), Request::Status);
        ++sent;
        return false;
      },
      deadline));
  const long violations = statusField(0, "gap_violations");
  EXPECT_GE(violations, 1);
  EXPECT_LE(violations, 4);

  // Ten milliseconds after each reply is in: never too soon.
  for (int i = 0; i < 3; ++i) {
    QElapsedTimer quiet;
    quiet.start();
    ASSERT_TRUE(SimProcess::waitFor([&] { return quiet.nsecsElapsed() >= 10'000'000; }, 1000));
    ASSERT_TRUE(exchange(uint8_t(1 + i % 2), Request::Status));
  }
  EXPECT_EQ(statusField(0, "gap_violations"), violations);
  EXPECT_EQ(statusField(0, "requests"), 2 + 4 + 3);
  sim_->stop();
  EXPECT_TRUE(sim_->lines().contains(QStringLiteral("GAP VIOLATIONS %1 of 9 requests").arg(violations)));
}

TEST_F(SimulatorBusE2E, SettingsForSeveralAnalyzersGiveEachFurtherSlotADeviceFile) {
  startSim({QStringLiteral("--analyzers"), QStringLiteral("4,9,12"), QStringLiteral("--settings"), exePath_});
  SettingsFiles files;
  ASSERT_TRUE(files.load());
  EXPECT_EQ(shortStringText(files.programRecord().portName), sim_->portPath());
  EXPECT_EQ(+files.programRecord().netAddress, 4);
  for (int slot : {2, 3}) {
    QFile f(inDir(QStringLiteral("Device-00%1.ini").arg(slot)));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << slot;
    const QByteArray bytes = f.readAll();
    ASSERT_EQ(bytes.size(), kDeviceRecordSize);
    DeviceRecord record;
    std::memcpy(&record, bytes.constData(), sizeof record);
    EXPECT_EQ(+record.deviceAddress, slot == 2 ? 9 : 12);
    EXPECT_EQ(+record.deviceSlot, slot);
    EXPECT_EQ(int32_t(record.cyclePeriod[slot - 1]), 30);  // the slot's defaults
  }
  EXPECT_FALSE(QFile::exists(inDir(QStringLiteral("Device-004.ini"))));

  // Again over a changed file: its other bytes stay.
  {
    QFile f(inDir(QStringLiteral("Device-002.ini")));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(offsetof(DeviceRecord, fuelIndex)));
    const int32_t fuel = 3;
    ASSERT_EQ(f.write(reinterpret_cast<const char*>(&fuel), 4), 4);
  }
  sim_->stop();
  startSim({QStringLiteral("--analyzers"), QStringLiteral("5,6"), QStringLiteral("--settings"), exePath_});
  QFile f(inDir(QStringLiteral("Device-002.ini")));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  DeviceRecord record;
  ASSERT_EQ(f.read(reinterpret_cast<char*>(&record), sizeof record), qint64(sizeof record));
  EXPECT_EQ(+record.deviceAddress, 6);
  EXPECT_EQ(record.fuelIndex, 3);
}

}  // namespace
