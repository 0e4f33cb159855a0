#include "device/serial_port.h"
#include "platform/lock_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <cstdlib>
#include <vector>

#include "device/analyzer_link.h"
#include "device/serial_backend.h"
#include "platform/timer.h"
#include "support/analyzer_replies.h"
#include "support/fake_serial.h"

namespace {

// SerialPort on the scripted line.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override { installFakeSerial(serial_); }
  void TearDown() override { clearFakeSerial(); }

  // What one poll delivers.
  static std::vector<uint8_t> received(SerialPort& port) {
    std::vector<uint8_t> got;
    port.onReceive = [&got](const uint8_t* data, int count) { got.insert(got.end(), data, data + count); };
    port.poll();
    port.onReceive = nullptr;
    return got;
  }

  FakeSerialLine serial_;
};

TEST_F(SerialPortTest, APortThatDoesNotExistIsReportedAndHarmlessAfterwards) {
  serial_.refuseOpen = true;
  SerialPort port;
  EXPECT_EQ(port.open(QStringLiteral("COM5")), PortOpenResult::CannotOpen);
  EXPECT_EQ(serial_.opened, QStringList{QStringLiteral("/dev/ttyS4")});

  EXPECT_FALSE(port.isOpen());
  serial_.queue({1, 2, 3});
  EXPECT_TRUE(received(port).empty());
  const uint8_t frame[8] = {1, 4, 0, 0, 0, 14, 0x71, 0xCE};
  EXPECT_FALSE(port.write(frame, 8));
  EXPECT_FALSE(port.setParameters(QStringLiteral("9600,N,8,2")));
  port.setDtr(true);
  EXPECT_TRUE(serial_.writes.empty());
  EXPECT_EQ(serial_.readCalls, 0);
}

TEST_F(SerialPortTest, UnreadableOrRefusedLineSettingsAreReportedAndThePortStaysOpen) {
  serial_.refuseStatus = true;
  SerialPort port;
  EXPECT_EQ(port.open(QStringLiteral("COM2")), PortOpenResult::CannotGetStatus);
  EXPECT_TRUE(port.isOpen());
  EXPECT_TRUE(port.setParameters(QStringLiteral("9600,N,8,2")));  // the owner's settings still get through
  EXPECT_EQ(serial_.settings.stopBits, 2);

  serial_.refuseStatus = false;
  serial_.refuseSettings = true;
  EXPECT_EQ(port.open(QStringLiteral("/dev/ttyUSB0")), PortOpenResult::CannotInitialize);
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("/dev/ttyUSB0"));
}

TEST_F(SerialPortTest, OpeningPurgesWhatTheDriverHeldAndNegatesDtrAndRts) {
  serial_.queue({0xEE, 0xEE});  // stale bytes from before
  SerialPort port;
  EXPECT_EQ(port.open(QStringLiteral("COM2")), PortOpenResult::Opened);
  EXPECT_GE(serial_.purgeCount, 1);
  EXPECT_TRUE(received(port).empty());
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  EXPECT_FALSE(port.dtr());
  EXPECT_FALSE(port.rts());
}

TEST_F(SerialPortTest, ModeStringsSetTheLineOrAreRefusedWhole) {
  SerialPort port;
  port.open(QStringLiteral("COM2"));
  EXPECT_TRUE(port.setParameters(QStringLiteral("9600,N,8,2")));
  EXPECT_EQ(serial_.settings.baudRate, 9600);
  EXPECT_EQ(serial_.settings.parity, 'N');
  EXPECT_EQ(serial_.settings.dataBits, 8);
  EXPECT_EQ(serial_.settings.stopBits, 2);
  EXPECT_TRUE(port.setParameters(QStringLiteral("19200,e,7,1")));
  EXPECT_EQ(serial_.settings.baudRate, 19200);
  EXPECT_EQ(serial_.settings.parity, 'E');
  EXPECT_EQ(serial_.settings.dataBits, 7);
  EXPECT_EQ(serial_.settings.stopBits, 1);
  for (const char* bad : {"", "9600", "9600,X,8,2", "9600,N,9,2", "fast,N,8,2", "9600,N,8,3"})
    EXPECT_FALSE(port.setParameters(QString::fromLatin1(bad))) << bad;
  EXPECT_EQ(serial_.settings.baudRate, 19200);  // unchanged by the refused ones
}

TEST_F(SerialPortTest, BytesAreDeliveredWhenTheDriverTellsOfThemInOrder) {
  SerialPort port;
  port.open(QStringLiteral("COM2"));
  std::vector<uint8_t> got;
  port.onReceive = [&got](const uint8_t* data, int count) { got.insert(got.end(), data, data + count); };
  const Frame reply = statusReply(1, 2);
  serial_.feed(Frame(reply.begin(), reply.begin() + 10));
  EXPECT_EQ(got, Frame(reply.begin(), reply.begin() + 10));
  serial_.feed(Frame(reply.begin() + 10, reply.end()));
  EXPECT_EQ(got, reply);
}

TEST_F(SerialPortTest, BytesArrivingBetweenTwoPollsAreDeliveredInOrderInOnePoll) {
  SerialPort port;
  port.open(QStringLiteral("COM2"));
  const Frame reply = statusReply(1, 2);
  serial_.queue(reply);
  EXPECT_EQ(received(port), reply);
  EXPECT_TRUE(received(port).empty());
}

TEST_F(SerialPortTest, AFloodIsDeliveredOverSeveralTurnsOfTheEventLoopWithoutLosingAByte) {
  SerialPort port;
  port.open(QStringLiteral("COM2"));
  std::vector<uint8_t> got;
  port.onReceive = [&got](const uint8_t* data, int count) { got.insert(got.end(), data, data + count); };
  std::vector<uint8_t> flood(2 * SerialPort::kMaxBytesPerPoll + 1000);
  for (size_t i = 0; i < flood.size(); ++i) flood[i] = uint8_t(i * 7);
  serial_.feed(flood);  // one notification for all of it
  EXPECT_EQ(got.size(), size_t(SerialPort::kMaxBytesPerPoll));
  QCoreApplication::processEvents();
  EXPECT_EQ(got.size(), size_t(2 * SerialPort::kMaxBytesPerPoll));
  QCoreApplication::processEvents();
  EXPECT_EQ(got, flood);
}

TEST_F(SerialPortTest, WriteCopiesTheFrameAndCountZeroWritesNothing) {
  SerialPort port;
  port.open(QStringLiteral("COM2"));
  uint8_t frame[8] = {1, 6, 0, 0, 0, 3, 0xC9, 0xCB};
  EXPECT_FALSE(port.write(frame, 0));
  EXPECT_FALSE(port.write(frame, -1));
  EXPECT_TRUE(serial_.writes.empty());
  EXPECT_TRUE(port.write(frame, 8));
  frame[5] = 0;  // the caller's buffer may change at once
  ASSERT_EQ(serial_.writes.size(), 1u);
  EXPECT_EQ(serial_.writes[0], (std::vector<uint8_t>{1, 6, 0, 0, 0, 3, 0xC9, 0xCB}));
}

TEST_F(SerialPortTest, APortThatFailsAfterOpeningIsClosedAndStaysSilent) {
  SerialPort port;
  port.open(QStringLiteral("COM2"));
  int received = 0;
  port.onReceive = [&received](const uint8_t*, int count) { received += count; };
  serial_.broken = true;
  serial_.refuseOpen = true;  // the device is gone, as a pulled adapter's is
  serial_.queue({1, 2, 3});
  port.poll();
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_FALSE(serial_.isOpen);
  EXPECT_FALSE(port.isOpen());
  const int reads = serial_.readCalls;
  for (int i = 0; i < 100; ++i) port.poll();
  const uint8_t frame[8] = {1, 4, 0, 0, 0, 14, 0x71, 0xCE};
  EXPECT_FALSE(port.write(frame, 8));
  EXPECT_EQ(received, 0);
  EXPECT_EQ(serial_.readCalls, reads);
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_TRUE(serial_.writes.empty());
}

TEST_F(SerialPortTest, ALostPortIsReopenedSilentlyOnceASecondUntilTheDeviceIsBack) {
  SerialPort port;
  port.open(QStringLiteral("/dev/ttyUSB0"));
  port.setParameters(QStringLiteral("9600,N,8,2"));
  int reopened = 0;
  port.onReopened = [&reopened] { ++reopened; };
  std::vector<uint8_t> got;
  port.onReceive = [&got](const uint8_t* data, int count) { got.insert(got.end(), data, data + count); };
  EXPECT_FALSE(port.reopenTimer()->isEnabled()) << "no timer while the port is well";
  serial_.refuseOpen = true;  // the device is gone, as a pulled adapter's is
  serial_.fail();
  ASSERT_FALSE(port.isOpen());
  ASSERT_TRUE(port.isLost());
  // Tried at every expiry of a one-second timer while the device is missing.
  ASSERT_TRUE(port.reopenTimer()->isEnabled());
  EXPECT_EQ(port.reopenTimer()->interval(), 1000);
  const int opensBefore = serial_.openCount;
  for (int i = 0; i < 3; ++i) port.reopenTimer()->fire();
  EXPECT_EQ(serial_.opened.count(QStringLiteral("/dev/ttyUSB0")), 1 + 3);
  EXPECT_EQ(serial_.openCount, opensBefore);
  EXPECT_EQ(reopened, 0);
  // Plugged in again: opened with the same line settings, lines negated, queue purged.
  serial_.broken = false;
  serial_.refuseOpen = false;
  serial_.dtr = serial_.rts = true;
  port.reopenTimer()->fire();
  EXPECT_TRUE(port.isOpen());
  EXPECT_FALSE(port.isLost());
  EXPECT_EQ(reopened, 1);
  EXPECT_FALSE(port.reopenTimer()->isEnabled());
  EXPECT_EQ(serial_.openCount, opensBefore + 1);
  EXPECT_EQ(serial_.settings.stopBits, 2);
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  serial_.feed({0x11, 0x22});
  EXPECT_EQ(got, (std::vector<uint8_t>{0x11, 0x22}));
}

TEST_F(SerialPortTest, ALostPortTheDriverWillNotTakeOverUnaskedStaysClosedWithoutATimer) {
  serial_.reopenable = false;  // a pseudo-terminal
  SerialPort port;
  port.open(QStringLiteral("/dev/pts/7"));
  serial_.fail();
  EXPECT_TRUE(port.isLost());
  EXPECT_FALSE(port.reopenTimer()->isEnabled());
  port.reopen();
  EXPECT_EQ(serial_.opened.size(), 1);
  EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialPortTest, APortThatCouldNotBeOpenedIsTriedAgainQuietlyEveryThreeSeconds) {
  serial_.refuseOpen = true;  // the adapter is not plugged in yet
  SerialPort port;
  int openedLater = 0, reopened = 0;
  port.onOpenedLater = [&openedLater] { ++openedLater; };
  port.onReopened = [&reopened] { ++reopened; };
  ASSERT_EQ(port.open(QStringLiteral("/dev/ttyUSB0")), PortOpenResult::CannotOpen);
  port.setParameters(QStringLiteral("9600,N,8,2"));
  EXPECT_TRUE(port.isWaitingToOpen());
  EXPECT_FALSE(port.isLost());
  ASSERT_TRUE(port.reopenTimer()->isEnabled());
  EXPECT_EQ(port.reopenTimer()->interval(), SerialPort::kOpenRetryIntervalMs);
  EXPECT_EQ(SerialPort::kOpenRetryIntervalMs, 3000);
  for (int i = 0; i < 3; ++i) port.reopenTimer()->fire();
  EXPECT_EQ(serial_.opened.size(), 1 + 3);
  EXPECT_EQ(openedLater, 0);
  // Plugged in: opened with the line settings asked for, lines negated.
  serial_.refuseOpen = false;
  port.reopenTimer()->fire();
  EXPECT_TRUE(port.isOpen());
  EXPECT_FALSE(port.isWaitingToOpen());
  EXPECT_FALSE(port.reopenTimer()->isEnabled());
  EXPECT_EQ(openedLater, 1);
  EXPECT_EQ(reopened, 0);
  EXPECT_EQ(serial_.settings.stopBits, 2);
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
}

TEST(QtSerialPortTest, APseudoTerminalThatCouldNotBeOpenedIsNeverTakenOverUnasked) {
  // Its number goes to the next terminal session opened on the machine.
  SerialPort port;
  EXPECT_EQ(port.open(QStringLiteral("/dev/pts/4093")), PortOpenResult::CannotOpen);
  EXPECT_FALSE(port.isWaitingToOpen());
  EXPECT_FALSE(port.reopenTimer()->isEnabled());
}

TEST_F(SerialPortTest, AWriteOnAFailedPortClosesIt) {
  SerialPort port;
  port.open(QStringLiteral("COM2"));
  serial_.broken = true;
  const uint8_t frame[8] = {1, 4, 0, 0, 0, 14, 0x71, 0xCE};
  EXPECT_FALSE(port.write(frame, 8));
  EXPECT_EQ(serial_.closeCount, 1);
}

TEST_F(SerialPortTest, OpeningAnotherPortClosesTheFirstAndTheDestructorPurgesAndCloses) {
  {
    SerialPort port;
    port.open(QStringLiteral("COM2"));
    EXPECT_EQ(port.open(QStringLiteral("COM3")), PortOpenResult::Opened);
    EXPECT_EQ(serial_.closeCount, 1);
    EXPECT_EQ(serial_.opened, (QStringList{QStringLiteral("/dev/ttyS1"), QStringLiteral("/dev/ttyS2")}));
    EXPECT_EQ(port.portName(), QStringLiteral("COM3"));
    serial_.queue({1, 2});
  }
  EXPECT_EQ(serial_.closeCount, 2);
  EXPECT_TRUE(serial_.incoming.empty());
}

TEST(SerialDeviceNameTest, Com1ToCom8AreTheFirstEightSerialDevicesAndOtherNamesArePaths) {
  for (int i = 1; i <= 8; ++i)
    EXPECT_EQ(serialDeviceName(QStringLiteral("COM%1").arg(i)), QStringLiteral("/dev/ttyS%1").arg(i - 1));
  EXPECT_EQ(serialDeviceName(QStringLiteral("COM9")), QStringLiteral("COM9"));
  EXPECT_EQ(serialDeviceName(QStringLiteral("COM10")), QStringLiteral("COM10"));
  EXPECT_EQ(serialDeviceName(QStringLiteral("/dev/ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ(serialDeviceName(QStringLiteral("/tmp/COM1")), QStringLiteral("/tmp/COM1"));
}

TEST(TcpPortNameTest, TcpAddressesGoToTheNetworkAndAMalformedOneCannotBeOpenedAtOnce) {
  EXPECT_TRUE(isTcpPortName(QStringLiteral("tcp://192.168.0.10:4001")));
  EXPECT_TRUE(isTcpPortName(QStringLiteral("TCP://gateway:4001")));
  EXPECT_FALSE(isTcpPortName(QStringLiteral("COM2")));
  EXPECT_FALSE(isTcpPortName(QStringLiteral("/dev/ttyUSB0")));
  EXPECT_EQ(serialDeviceName(QStringLiteral("tcp://10.0.0.1:4001")), QStringLiteral("tcp://10.0.0.1:4001"));
  for (const char* bad : {"tcp://", "tcp://gateway", "tcp://:4001", "tcp://gateway:port"}) {
    SerialPort port;
    EXPECT_EQ(port.open(QString::fromLatin1(bad)), PortOpenResult::CannotOpen) << bad;
    EXPECT_FALSE(port.isOpening()) << bad;
    EXPECT_FALSE(port.isOpen()) << bad;
  }
}

// The link: the port at 9600 8N2 with DTR and RTS negated, the reply, closing.
TEST_F(SerialPortTest, TheLinkOpensAt9600N82CollectsTheReplyAndClosesWithTheLinesNegated) {
  AnalyzerLink link;
  EXPECT_EQ(link.open(QStringLiteral("COM3")), PortOpenResult::Opened);
  EXPECT_EQ(serial_.opened, QStringList{QStringLiteral("/dev/ttyS2")});
  EXPECT_EQ(serial_.settings.baudRate, 9600);
  EXPECT_EQ(serial_.settings.parity, 'N');
  EXPECT_EQ(serial_.settings.dataBits, 8);
  EXPECT_EQ(serial_.settings.stopBits, 2);
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);

  // Delivered as the driver tells of the bytes; no timer runs for it.
  const Frame reply = statusReply(1, 0);
  serial_.feed(reply);
  ASSERT_EQ(link.reply().length(), int(reply.size()));
  EXPECT_EQ(Frame(link.reply().bytes(), link.reply().bytes() + reply.size()), reply);
  EXPECT_FALSE(link.port()->reopenTimer()->isEnabled());
  EXPECT_EQ(link.linkState(), LinkState::Receiving);

  // Reopening the same port discards the bytes in flight.
  serial_.queue({0x01, 0x04, 0x1C});
  link.clearReply();
  link.open(QStringLiteral("COM3"));
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_EQ(serial_.openCount, 2);
  link.service();
  EXPECT_EQ(link.reply().length(), 0);

  serial_.dtr = serial_.rts = true;
  link.close();
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  EXPECT_EQ(serial_.closeCount, 2);
  EXPECT_EQ(link.port(), nullptr);
  link.service();  // harmless without a port
  link.close();
  EXPECT_EQ(serial_.closeCount, 2);
}

// A pseudo-terminal's master (non-blocking) and the path of its line; empty
// when none could be made.
QString openPseudoTerminal(int* master) {
  *master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0) return {};
  return QString::fromLocal8Bit(ptsname(*master));
}

// A program killed between creating the port's lock file and writing its id
// into it leaves it empty; Qt would keep the port closed for half a minute.
// A live owner's lock keeps it closed to a second opener.
TEST(QtSerialPortTest, AnEmptyLockFileLeftByAKilledOpenerDoesNotKeepThePortClosed) {
  int master = -1;
  const QString path = openPseudoTerminal(&master);
  ASSERT_FALSE(path.isEmpty());
  const QString lock = serialPortLockPath(path);
  ASSERT_FALSE(lock.isEmpty());
  {
    QFile left(lock);
    ASSERT_TRUE(left.open(QIODevice::WriteOnly | QIODevice::Truncate));
  }
  {
    SerialPort port;
    EXPECT_EQ(port.open(path), PortOpenResult::Opened);
    ASSERT_TRUE(QFileInfo(lock).size() > 0) << "the port's own lock";
    SerialPort second;
    EXPECT_EQ(second.open(path), PortOpenResult::CannotOpen);
    EXPECT_TRUE(QFileInfo::exists(lock));
    EXPECT_TRUE(port.isOpen());
  }
  EXPECT_FALSE(QFileInfo::exists(lock));
  ::close(master);
}

// The real driver on a pseudo-terminal of the test's own. The event loop
// polls the descriptor before it delivers posted events, so bytes that a
// posted read of ours takes (as the driver's notification of earlier bytes
// does) are gone when Qt's read notification for them comes: Qt reads
// nothing and reports an error. The line is well; the port stays open.
TEST(QtSerialPortTest, BytesTakenBeforeTheirReadNotificationLeaveThePortOpenAndDelivering) {
  int master = -1;
  const QString path = openPseudoTerminal(&master);
  ASSERT_FALSE(path.isEmpty());
  // A second descriptor on the line, opened before the port takes it
  // exclusively, tells when bytes written to the master have arrived.
  const int watch = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(watch, 0);
  const auto arrive = [&](const char* bytes, size_t count) {
    if (::write(master, bytes, count) != ssize_t(count)) return false;
    pollfd p{watch, POLLIN, 0};
    return ::poll(&p, 1, 5000) == 1;
  };
  {
    SerialPort port;
    ASSERT_EQ(port.open(path), PortOpenResult::Opened);
    std::vector<uint8_t> got;
    port.onReceive = [&got](const uint8_t* data, int count) { got.insert(got.end(), data, data + count); };
    for (size_t round = 1; round <= 3; ++round) {
      ASSERT_TRUE(arrive("\x01\x04\x1C\x00", 4)) << round;
      QMetaObject::invokeMethod(QCoreApplication::instance(), [&port] { port.poll(); }, Qt::QueuedConnection);
      ASSERT_TRUE(QTest::qWaitFor([&] { return got.size() == 4 * round; }, 5000)) << round;
      EXPECT_TRUE(port.isOpen()) << round;
    }
    EXPECT_EQ(port.backend()->failureReports(), 0);
    EXPECT_EQ(got, std::vector<uint8_t>({1, 4, 0x1C, 0, 1, 4, 0x1C, 0, 1, 4, 0x1C, 0}));

    // A hang-up is still the failure it was.
    ::close(watch);
    ::close(master);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !port.isOpen(); }, 5000));
    EXPECT_EQ(port.backend()->failureReports(), 1);
  }
}

}  // namespace
