#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/platform_seams.h"
#include "device/Korvex_ModbusRTU_IOPort.h"
#include "device/modbus_rtu.h"
#include "support/analyzer_replies.h"
#include "support/fake_serial.h"

namespace {

// The table entry for i by its definition: eight shifts of the reflected 0xA001.
uint16_t TableEntry(int i) {
  uint16_t v = uint16_t(i);
  for (int k = 0; k < 8; ++k) v = (v & 1) ? uint16_t((v >> 1) ^ 0xA001) : uint16_t(v >> 1);
  return v;
}

TEST(ModbusCrc, TablesHoldTheLowAndHighBytesOfTheReflectedPolynomialTable) {
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(CrcLowTable[i], TableEntry(i) & 0xFF) << i;
    EXPECT_EQ(CrcHighTable[i], TableEntry(i) >> 8) << i;
  }
  // They begin as the published tables do.
  EXPECT_EQ(std::vector<uint8_t>(CrcLowTable, CrcLowTable + 4), (std::vector<uint8_t>{0x00, 0xC1, 0x81, 0x40}));
  EXPECT_EQ(std::vector<uint8_t>(CrcHighTable, CrcHighTable + 4), (std::vector<uint8_t>{0x00, 0xC0, 0xC1, 0x01}));
}

TEST(ModbusCrc, NineDigitsGive4B37SentLowByteFirst) {
  const char* digits = "123456789";
  const uint16_t crc = ModbusCrc(reinterpret_cast<const uint8_t*>(digits), 9);
  EXPECT_EQ(crc, 0x4B37);
  EXPECT_EQ(crc & 0xFF, 0x37);  // first on the line
  EXPECT_EQ(crc >> 8, 0x4B);
}

TEST(ModbusCrc, NoBytesOrANegativeCountGiveFFFF) {
  const uint8_t byte = 0x55;
  EXPECT_EQ(ModbusCrc(nullptr, 0), 0xFFFF);
  EXPECT_EQ(ModbusCrc(&byte, 0), 0xFFFF);
  EXPECT_EQ(ModbusCrc(&byte, -5), 0xFFFF);
}

struct FrameExample {
  uint8_t address;
  uint8_t kind;
  std::vector<uint8_t> frame;
};

const FrameExample kExamples[] = {
    {1, 0, {0x01, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x71, 0xCE}},
    {1, 1, {0x01, 0x06, 0x00, 0x00, 0x00, 0x01, 0x48, 0x0A}},
    {1, 2, {0x01, 0x06, 0x00, 0x00, 0x00, 0x02, 0x08, 0x0B}},
    {1, 3, {0x01, 0x06, 0x00, 0x00, 0x00, 0x03, 0xC9, 0xCB}},
    {247, 0, {0xF7, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x65, 0x58}},
    {247, 3, {0xF7, 0x06, 0x00, 0x00, 0x00, 0x03, 0xDD, 0x5D}},
};

class SendRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallFakeSerial(line_);
    seams::SetMessageHandler([this](const seams::MessageRequest&) {
      ++boxes_;
      return seams::MsgResult::Ok;
    });
  }
  void TearDown() override {
    ClearFakeSerial();
    seams::ResetAll();
  }
  FakeSerialLine line_;
  int boxes_ = 0;
};

TEST_F(SendRequestTest, SendsTheKnownFramesOfBothAddressesAndEveryKind) {
  TIOPort port(QStringLiteral("COM2"));
  for (const auto& e : kExamples) {
    const RequestFrame built = BuildRequest(e.address, e.kind);
    EXPECT_EQ(std::vector<uint8_t>(built.begin(), built.end()), e.frame)
        << "address " << int(e.address) << " kind " << int(e.kind);
    uint8_t linkState = 1;
    SendRequest(&port, e.address, e.kind, linkState);
    EXPECT_EQ(line_.LastWrite(), e.frame);
    EXPECT_EQ(linkState, kLinkSent);
  }
  EXPECT_EQ(line_.writes.size(), std::size(kExamples));
}

TEST_F(SendRequestTest, AKindAbove3SendsNothingAndLeavesTheLinkState) {
  TIOPort port(QStringLiteral("COM2"));
  for (uint8_t kind : {uint8_t(4), uint8_t(5), uint8_t(255)}) {
    uint8_t linkState = 1;
    SendRequest(&port, 1, kind, linkState);
    EXPECT_EQ(linkState, 1);
  }
  EXPECT_TRUE(line_.writes.empty());
}

TEST_F(SendRequestTest, WithoutAnOpenPortNothingIsWrittenButTheRequestCountsAsSent) {
  line_.refuseOpen = true;
  TIOPort port(QStringLiteral("COM2"));
  uint8_t linkState = 1;
  SendRequest(&port, 1, kRequestStatus, linkState);
  EXPECT_EQ(linkState, kLinkSent);
  SendRequest(nullptr, 1, kRequestStop, linkState);
  EXPECT_EQ(linkState, kLinkSent);
  EXPECT_TRUE(line_.writes.empty());
  EXPECT_EQ(boxes_, 1);  // the one about the missing port
}

class ReplyTest : public ::testing::Test {
 protected:
  void Feed(const Frame& bytes) {
    for (uint8_t b : bytes) reply_.Recieve(b, false, linkState_);
  }
  ReplyCollector reply_;
  uint8_t linkState_ = 0;
};

TEST_F(ReplyTest, KeepsExactly100BytesAndRefusesThe101st) {
  for (int i = 0; i < 100; ++i) reply_.Recieve(uint8_t(i), false, linkState_);
  EXPECT_EQ(reply_.ReplyLength, 100);
  EXPECT_EQ(linkState_, kLinkReceiving);
  reply_.Recieve(0xAA, false, linkState_);
  EXPECT_EQ(reply_.ReplyLength, 100);
  EXPECT_EQ(linkState_, kLinkByteLost);
  EXPECT_EQ(reply_.ReplyBuffer[99], 99);
  EXPECT_EQ(reply_.ReplyBuffer[100], 0);  // the spare byte is never written
}

TEST_F(ReplyTest, AByteWithALineErrorIsDroppedAndSpoilsTheReply) {
  const Frame echo = CommandEcho(1, 3);
  Feed(Frame(echo.begin(), echo.begin() + 4));
  reply_.Recieve(echo[4], true, linkState_);
  EXPECT_EQ(linkState_, kLinkByteLost);
  EXPECT_EQ(reply_.ReplyLength, 4);
  Feed(Frame(echo.begin() + 5, echo.end()));
  EXPECT_EQ(linkState_, kLinkReceiving);
  EXPECT_FALSE(reply_.Accepted());
}

TEST_F(ReplyTest, SixBytesAreNeverAcceptedSevenWithAGoodCrcAre) {
  Feed(WithCrc({0x01, 0x06, 0x00, 0x00}));
  ASSERT_EQ(reply_.ReplyLength, 6);
  EXPECT_FALSE(reply_.Accepted());
  reply_.Clear();
  Feed(WithCrc({0x01, 0x06, 0x00, 0x00, 0x03}));
  ASSERT_EQ(reply_.ReplyLength, 7);
  EXPECT_TRUE(reply_.Accepted());
}

TEST_F(ReplyTest, TheCrcMustComeLowByteFirst) {
  Frame echo = CommandEcho(1, 3);
  std::swap(echo[6], echo[7]);
  Feed(echo);
  EXPECT_FALSE(reply_.Accepted());

  // Unless both CRC bytes are equal: then the order cannot be told.
  Frame body{0x01, 0x06, 0x00, 0x00, 0x00, 0x00};
  for (int v = 0; v < 65536; ++v) {
    body[4] = uint8_t(v >> 8);
    body[5] = uint8_t(v);
    const uint16_t crc = ModbusCrc(body.data(), 6);
    if ((crc & 0xFF) == (crc >> 8)) break;
  }
  Frame same = WithCrc(body);
  ASSERT_EQ(same[6], same[7]);
  std::swap(same[6], same[7]);
  reply_.Clear();
  Feed(same);
  EXPECT_TRUE(reply_.Accepted());
}

TEST_F(ReplyTest, AStatusReplyFromAnotherAddressIsAccepted) {
  Feed(StatusReply(42, 0));
  EXPECT_TRUE(reply_.Accepted());
  EXPECT_TRUE(IsWholeStatusReply(reply_));
}

TEST_F(ReplyTest, AnExceptionReplyCountsAsSilence) {
  const Frame exception = WithCrc({0x01, 0x84, 0x02});
  ASSERT_EQ(exception.size(), 5u);
  Feed(exception);
  EXPECT_FALSE(reply_.Accepted());
}

TEST_F(ReplyTest, RepliesRunTogetherOrCutShortAreRejected) {
  Feed(CommandEcho(1, 3));
  Feed(StatusReply(1, 0));
  EXPECT_FALSE(reply_.Accepted());
  reply_.Clear();
  const Frame status = StatusReply(1, 0);
  Feed(Frame(status.begin(), status.begin() + 20));
  EXPECT_FALSE(reply_.Accepted());
}

TEST_F(ReplyTest, ClearForgetsTheOlderReplyEntirely) {
  Feed(StatusReply(1, 2));
  reply_.Clear();
  EXPECT_EQ(reply_.ReplyLength, 0);
  // A short function-4 frame with a good CRC is not mixed with the old bytes.
  Feed(WithCrc({0x01, 0x04, 0x02, 0x00, 0x02}));
  EXPECT_TRUE(reply_.Accepted());
  EXPECT_FALSE(IsWholeStatusReply(reply_));
  for (int i = reply_.ReplyLength; i <= kReplyCapacity; ++i) EXPECT_EQ(reply_.ReplyBuffer[i], 0) << i;
}

TEST_F(ReplyTest, OnlyThirtyThreeBytesOfFunction4WithByteCount28AreAWholeStatusReply) {
  Feed(StatusReply(1, 0));
  EXPECT_TRUE(IsWholeStatusReply(reply_));

  Frame wrongCount = StatusReply(1, 0);
  wrongCount.resize(31);
  wrongCount[2] = 27;
  reply_.Clear();
  Feed(WithCrc(wrongCount));
  ASSERT_TRUE(reply_.Accepted());
  EXPECT_FALSE(IsWholeStatusReply(reply_));

  Frame wrongFunction = StatusReply(1, 0);
  wrongFunction.resize(31);
  wrongFunction[1] = 0x03;
  reply_.Clear();
  Feed(WithCrc(wrongFunction));
  ASSERT_TRUE(reply_.Accepted());
  EXPECT_FALSE(IsWholeStatusReply(reply_));
}

}  // namespace
