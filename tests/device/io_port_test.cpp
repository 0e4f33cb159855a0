#include <gtest/gtest.h>

#include <vector>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "app/message_timer.h"
#include "device/Korvex_ModbusRTU_IOPort.h"
#include "device/serial_backend.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"

namespace {

// TIOPort on the scripted line, with the fixture's recorded message boxes.
class IOPortTest : public KorvexFixture {
 protected:
  std::vector<uint8_t> Received(TIOPort& port) {
    std::vector<uint8_t> got;
    port.OnReceive = [&got](TIOPort*, uint8_t v, bool lineError) {
      EXPECT_FALSE(lineError);
      got.push_back(v);
    };
    port.Poll();
    port.OnReceive = nullptr;
    return got;
  }
};

TEST_F(IOPortTest, APortThatDoesNotExistShowsOneBoxWithItsNameAndIsHarmlessAfterwards) {
  serial_.refuseOpen = true;
  TIOPort port(QStringLiteral("COM5"));
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral(u"Не могу открыть порт"));
  EXPECT_EQ(messages[0].text, QStringLiteral("COM5"));
  EXPECT_EQ(messages[0].icon, seams::MsgIcon::None);
  EXPECT_EQ(serial_.opened, QStringList{QStringLiteral("/dev/ttyS4")});

  EXPECT_FALSE(port.IsOpen());
  bool called = false;
  port.OnReceive = [&called](TIOPort*, uint8_t, bool) { called = true; };
  serial_.Queue({1, 2, 3});
  port.Poll();
  const uint8_t frame[8] = {1, 4, 0, 0, 0, 14, 0x71, 0xCE};
  EXPECT_FALSE(port.Write(frame, 8));
  EXPECT_FALSE(port.SetParameters(QStringLiteral("9600,N,8,2")));
  port.SetDtr(true);
  EXPECT_FALSE(called);
  EXPECT_TRUE(serial_.writes.empty());
  EXPECT_EQ(serial_.readCalls, 0);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(IOPortTest, UnreadableLineSettingsAreReportedAndThePortStaysOpenForTheOwnersSettings) {
  serial_.refuseStatus = true;
  TIOPort port(QStringLiteral("COM2"));
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral(u"Не могу получить статус порта"));
  EXPECT_EQ(messages[0].text, QStringLiteral("COM2"));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_TRUE(port.SetParameters(QStringLiteral("9600,N,8,2")));
  EXPECT_EQ(serial_.settings.StopBits, 2);
}

TEST_F(IOPortTest, RefusedLineSettingsAreReportedAndThePortStaysOpen) {
  serial_.refuseSettings = true;
  TIOPort port(QStringLiteral("/dev/ttyUSB0"));
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral(u"Не могу инициализировать порт"));
  EXPECT_EQ(messages[0].text, QStringLiteral("/dev/ttyUSB0"));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("/dev/ttyUSB0"));
}

TEST_F(IOPortTest, OpeningPurgesWhatTheDriverHeldAndNegatesDtrAndRts) {
  serial_.Queue({0xEE, 0xEE});  // stale bytes from before
  TIOPort port(QStringLiteral("COM2"));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_GE(serial_.purgeCount, 1);
  EXPECT_TRUE(Received(port).empty());
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  EXPECT_FALSE(port.DtrState);
  EXPECT_FALSE(port.RtsState);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(IOPortTest, ModeStringsSetTheLineOrAreRefusedWhole) {
  TIOPort port(QStringLiteral("COM2"));
  EXPECT_TRUE(port.SetParameters(QStringLiteral("9600,N,8,2")));
  EXPECT_EQ(serial_.settings.BaudRate, 9600);
  EXPECT_EQ(serial_.settings.Parity, 'N');
  EXPECT_EQ(serial_.settings.DataBits, 8);
  EXPECT_EQ(serial_.settings.StopBits, 2);
  EXPECT_TRUE(port.SetParameters(QStringLiteral("19200,e,7,1")));
  EXPECT_EQ(serial_.settings.BaudRate, 19200);
  EXPECT_EQ(serial_.settings.Parity, 'E');
  EXPECT_EQ(serial_.settings.DataBits, 7);
  EXPECT_EQ(serial_.settings.StopBits, 1);
  for (const char* bad : {"", "9600", "9600,X,8,2", "9600,N,9,2", "fast,N,8,2", "9600,N,8,3"})
    EXPECT_FALSE(port.SetParameters(QString::fromLatin1(bad))) << bad;
  EXPECT_EQ(serial_.settings.BaudRate, 19200);  // unchanged by the refused ones
}

TEST_F(IOPortTest, BytesArrivingBetweenTwoPollsAreDeliveredInOrderInOnePoll) {
  TIOPort port(QStringLiteral("COM2"));
  const Frame reply = StatusReply(1, 2);
  serial_.Queue(reply);
  EXPECT_EQ(Received(port), reply);
  EXPECT_TRUE(Received(port).empty());
}

TEST_F(IOPortTest, AFloodIsDeliveredOverSeveralPollsWithoutLosingAByte) {
  TIOPort port(QStringLiteral("COM2"));
  std::vector<uint8_t> flood(TIOPort::kMaxBytesPerPoll + 1000);
  for (size_t i = 0; i < flood.size(); ++i) flood[i] = uint8_t(i * 7);
  serial_.Queue(flood);
  std::vector<uint8_t> got = Received(port);
  EXPECT_EQ(got.size(), size_t(TIOPort::kMaxBytesPerPoll));
  const std::vector<uint8_t> rest = Received(port);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, flood);
}

TEST_F(IOPortTest, WriteCopiesTheFrameAndCountZeroWritesNothing) {
  TIOPort port(QStringLiteral("COM2"));
  uint8_t frame[8] = {1, 6, 0, 0, 0, 3, 0xC9, 0xCB};
  EXPECT_FALSE(port.Write(frame, 0));
  EXPECT_FALSE(port.Write(frame, -1));
  EXPECT_TRUE(serial_.writes.empty());
  EXPECT_TRUE(port.Write(frame, 8));
  frame[5] = 0;  // the caller's buffer may change at once
  ASSERT_EQ(serial_.writes.size(), 1u);
  EXPECT_EQ(serial_.writes[0], (std::vector<uint8_t>{1, 6, 0, 0, 0, 3, 0xC9, 0xCB}));
  EXPECT_EQ(port.BytesWritten, 8u);
}

TEST_F(IOPortTest, PollReportsTheEndOfAWriteOnce) {
  TIOPort port(QStringLiteral("COM2"));
  int done = 0;
  port.OnWriteDone = [&done, &port](TIOPort* sender) {
    EXPECT_EQ(sender, &port);
    ++done;
  };
  const uint8_t frame[8] = {1, 4, 0, 0, 0, 14, 0x71, 0xCE};
  serial_.bytesToWrite = 8;
  port.Write(frame, 8);
  EXPECT_FALSE(port.WriteDone);
  port.Poll();
  EXPECT_EQ(done, 0);
  serial_.bytesToWrite = 0;
  port.Poll();
  port.Poll();
  EXPECT_EQ(done, 1);
  EXPECT_TRUE(port.WriteDone);
  port.Write(frame, 8);
  EXPECT_FALSE(port.WriteDone);
}

TEST_F(IOPortTest, AChangeOfTheModemLinesIsALineEvent) {
  TIOPort port(QStringLiteral("COM2"));
  int events = 0;
  port.OnLineEvent = [&events] { ++events; };
  port.Poll();
  EXPECT_EQ(events, 0);
  serial_.modemLines = kModemCts | kModemRlsd;
  port.Poll();
  port.Poll();
  EXPECT_EQ(events, 1);
  EXPECT_TRUE(port.CtsOn);
  EXPECT_TRUE(port.RlsdOn);
  EXPECT_FALSE(port.DsrOn);
  EXPECT_EQ(port.ReadModemStatus(), kModemCts | kModemRlsd);
}

TEST_F(IOPortTest, APortThatFailsAfterOpeningIsClosedAndStaysSilent) {
  TIOPort port(QStringLiteral("COM2"));
  int received = 0;
  port.OnReceive = [&received](TIOPort*, uint8_t, bool) { ++received; };
  serial_.broken = true;
  serial_.refuseOpen = true;  // the device is gone, as a pulled adapter's is
  serial_.Queue({1, 2, 3});
  port.Poll();
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_FALSE(serial_.isOpen);
  EXPECT_FALSE(port.IsOpen());
  const int reads = serial_.readCalls;
  for (int i = 0; i < 100; ++i) port.Poll();
  const uint8_t frame[8] = {1, 4, 0, 0, 0, 14, 0x71, 0xCE};
  EXPECT_FALSE(port.Write(frame, 8));
  EXPECT_EQ(received, 0);
  EXPECT_EQ(serial_.readCalls, reads);
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_TRUE(serial_.writes.empty());
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(IOPortTest, ALostPortIsReopenedSilentlyOnceTheDeviceIsBack) {
  TIOPort port(QStringLiteral("/dev/ttyUSB0"));
  port.SetParameters(QStringLiteral("9600,N,8,2"));
  std::vector<uint8_t> received;
  port.OnReceive = [&received](TIOPort*, uint8_t b, bool) { received.push_back(b); };
  serial_.broken = true;
  serial_.refuseOpen = true;
  port.Poll();
  ASSERT_FALSE(port.IsOpen());
  const int opensBefore = serial_.openCount;
  // Tried once a second (every 100 polls) while the device is missing.
  for (int i = 0; i < 3 * TIOPort::kReconnectPolls; ++i) port.Poll();
  EXPECT_EQ(serial_.opened.count(QStringLiteral("/dev/ttyUSB0")), 1 + 3);
  EXPECT_EQ(serial_.openCount, opensBefore);
  // Plugged in again: opened with the same line settings, lines negated, queue purged.
  serial_.broken = false;
  serial_.refuseOpen = false;
  serial_.dtr = serial_.rts = true;
  for (int i = 0; i < TIOPort::kReconnectPolls; ++i) port.Poll();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(serial_.openCount, opensBefore + 1);
  EXPECT_EQ(serial_.settings.StopBits, 2);
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  serial_.Queue({0x11, 0x22});
  port.Poll();
  EXPECT_EQ(received, (std::vector<uint8_t>{0x11, 0x22}));
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(IOPortTest, AWriteOnAFailedPortClosesIt) {
  TIOPort port(QStringLiteral("COM2"));
  serial_.broken = true;
  const uint8_t frame[8] = {1, 4, 0, 0, 0, 14, 0x71, 0xCE};
  EXPECT_FALSE(port.Write(frame, 8));
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(IOPortTest, ConnectClosesAndOpensAnotherPort) {
  TIOPort port(QStringLiteral("COM2"));
  EXPECT_TRUE(port.Connect(QStringLiteral("COM3")));
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_EQ(serial_.opened, (QStringList{QStringLiteral("/dev/ttyS1"), QStringLiteral("/dev/ttyS2")}));
  EXPECT_EQ(port.PortName, QStringLiteral("COM3"));
}

TEST_F(IOPortTest, TheDestructorPurgesAndCloses) {
  {
    TIOPort port(QStringLiteral("COM2"));
    serial_.Queue({1, 2});
  }
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_TRUE(serial_.incoming.empty());
}

TEST(SerialDeviceNameTest, Com1ToCom8AreTheFirstEightSerialDevicesAndOtherNamesArePaths) {
  for (int i = 1; i <= 8; ++i)
    EXPECT_EQ(SerialDeviceName(QStringLiteral("COM%1").arg(i)), QStringLiteral("/dev/ttyS%1").arg(i - 1));
  EXPECT_EQ(SerialDeviceName(QStringLiteral("COM9")), QStringLiteral("COM9"));
  EXPECT_EQ(SerialDeviceName(QStringLiteral("COM10")), QStringLiteral("COM10"));
  EXPECT_EQ(SerialDeviceName(QStringLiteral("/dev/ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ(SerialDeviceName(QStringLiteral("/tmp/COM1")), QStringLiteral("/tmp/COM1"));
}

// The main window's handlers around ComPort.
class PortHandlersTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    WriteDefaultSettings(QStringLiteral("COM3"));
  }
};

TEST_F(PortHandlersTest, CreatePortOpensTheConfiguredPortAt9600N82WithDtrAndRtsNegated) {
  StartProgram();
  ASSERT_NE(Form1->ComPort, nullptr);
  EXPECT_EQ(serial_.opened, QStringList{QStringLiteral("/dev/ttyS2")});
  EXPECT_EQ(serial_.settings.BaudRate, 9600);
  EXPECT_EQ(serial_.settings.Parity, 'N');
  EXPECT_EQ(serial_.settings.DataBits, 8);
  EXPECT_EQ(serial_.settings.StopBits, 2);
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  EXPECT_EQ(Form1->ComPort->Tag, QStringLiteral("KVX"));
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_TRUE(Form1->Timer2->Enabled());
  EXPECT_EQ(Form1->Timer2->Interval(), 10);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(PortHandlersTest, Timer2HandsTheBytesToTheReplyBuffer) {
  StartProgram();
  const Frame reply = StatusReply(1, 0);
  serial_.Queue(reply);
  Form1->Timer2Timer();
  ASSERT_EQ(Form1->Reply.ReplyLength, int32_t(reply.size()));
  EXPECT_EQ(Frame(Form1->Reply.ReplyBuffer, Form1->Reply.ReplyBuffer + reply.size()), reply);
  EXPECT_EQ(+DeviceRecord.LinkState, kLinkReceiving);
}

TEST_F(PortHandlersTest, OpenPortWithTheSameNameClosesReopensAndDiscardsBytesInFlight) {
  StartProgram();
  TIOPort* before = Form1->ComPort;
  serial_.Queue({0x01, 0x04, 0x1C});
  Form1->OpenPort();
  EXPECT_NE(Form1->ComPort, nullptr);
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_EQ(serial_.openCount, 2);
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("/dev/ttyS2"));
  Form1->Timer2Timer();
  EXPECT_EQ(Form1->Reply.ReplyLength, 0);
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  EXPECT_TRUE(TakeMessages().empty());
  (void)before;
}

TEST_F(PortHandlersTest, DestoryPortNegatesTheLinesAndForgetsThePort) {
  StartProgram();
  Form1->DestoryPort();
  EXPECT_EQ(Form1->ComPort, nullptr);
  EXPECT_EQ(serial_.closeCount, 1);
  Form1->Timer2Timer();  // harmless without a port
  Form1->DestoryPort();
  EXPECT_EQ(serial_.closeCount, 1);
}

TEST_F(PortHandlersTest, AMissingPortIsReportedOnceAndThePollCycleRunsWithoutIt) {
  serial_.refuseOpen = true;
  StartProgram();
  auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral(u"Не могу открыть порт"));
  EXPECT_EQ(messages[0].text, QStringLiteral("COM3"));
  for (int i = 0; i < 5; ++i) {
    Form1->Timer2Timer();
    Tick();
  }
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_TRUE(serial_.writes.empty());
  EXPECT_EQ(+DeviceRecord.LinkState, kLinkSent);
}

TEST_F(PortHandlersTest, APortLostWhileRunningGoesQuietAndTheAnalyzerIsReportedLostOnce) {
  StartProgram();
  // Connected and idle.
  Tick();
  TickWith(CommandEcho(1, 3));
  TickWith(StatusReply(1, 0));
  ASSERT_EQ(+DeviceRecord.WorkMode, 0);
  const size_t written = serial_.writes.size();

  serial_.broken = true;
  for (int i = 0; i < 40; ++i) {
    Form1->Timer2Timer();
    Tick();
    Advance(1);
  }
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_EQ(serial_.writes.size(), written);
  // Only the poll cycle's one warning about the silent analyzer.
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
  EXPECT_EQ(+DeviceRecord.DeviceState, 8);
}

}  // namespace
