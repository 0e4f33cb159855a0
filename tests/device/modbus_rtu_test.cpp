#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/analyzer_link.h"
#include "device/modbus_rtu.h"
#include "support/analyzer_replies.h"
#include "support/fake_serial.h"

namespace {

// The table entry for i by its definition: eight shifts of the reflected 0xA001.
uint16_t tableEntry(int i) {
  uint16_t v = uint16_t(i);
  for (int k = 0; k < 8; ++k) v = (v & 1) ? uint16_t((v >> 1) ^ 0xA001) : uint16_t(v >> 1);
  return v;
}

TEST(ModbusCrcTest, TablesHoldTheLowAndHighBytesOfTheReflectedPolynomialTable) {
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(kCrcLowTable[i], tableEntry(i) & 0xFF) << i;
    EXPECT_EQ(kCrcHighTable[i], tableEntry(i) >> 8) << i;
  }
  // They begin as the published tables do.
  EXPECT_EQ(std::vector<uint8_t>(kCrcLowTable, kCrcLowTable + 4), (std::vector<uint8_t>{0x00, 0xC1, 0x81, 0x40}));
  EXPECT_EQ(std::vector<uint8_t>(kCrcHighTable, kCrcHighTable + 4), (std::vector<uint8_t>{0x00, 0xC0, 0xC1, 0x01}));
}

TEST(ModbusCrcTest, NineDigitsGive4B37SentLowByteFirst) {
  const char* digits = "123456789";
  const uint16_t crc = modbusCrc(reinterpret_cast<const uint8_t*>(digits), 9);
  EXPECT_EQ(crc, 0x4B37);
  EXPECT_EQ(crc & 0xFF, 0x37);  // first on the line
  EXPECT_EQ(crc >> 8, 0x4B);
}

TEST(ModbusCrcTest, NoBytesOrANegativeCountGiveFFFF) {
  const uint8_t byte = 0x55;
  EXPECT_EQ(modbusCrc(nullptr, 0), 0xFFFF);
  EXPECT_EQ(modbusCrc(&byte, 0), 0xFFFF);
  EXPECT_EQ(modbusCrc(&byte, -5), 0xFFFF);
}

struct FrameExample {
  uint8_t address;
  Request kind;
  std::vector<uint8_t> frame;
};

const FrameExample kExamples[] = {
    {1, Request::Status, {0x01, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x71, 0xCE}},
    {1, Request::StartSingle, {0x01, 0x06, 0x00, 0x00, 0x00, 0x01, 0x48, 0x0A}},
    {1, Request::StartContinuous, {0x01, 0x06, 0x00, 0x00, 0x00, 0x02, 0x08, 0x0B}},
    {1, Request::Stop, {0x01, 0x06, 0x00, 0x00, 0x00, 0x03, 0xC9, 0xCB}},
    {247, Request::Status, {0xF7, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x65, 0x58}},
    {247, Request::Stop, {0xF7, 0x06, 0x00, 0x00, 0x00, 0x03, 0xDD, 0x5D}},
};

// The link on the scripted line.
class SendRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { installFakeSerial(line_); }
  void TearDown() override { clearFakeSerial(); }
  FakeSerialLine line_;
  AnalyzerLink link_;
};

TEST_F(SendRequestTest, SendsTheKnownFramesOfBothAddressesAndEveryKind) {
  ASSERT_EQ(link_.open(QStringLiteral("COM2")), PortOpenResult::Opened);
  for (const auto& e : kExamples) {
    const RequestFrame built = buildRequest(e.address, e.kind);
    EXPECT_EQ(std::vector<uint8_t>(built.begin(), built.end()), e.frame)
        << "address " << int(e.address) << " kind " << int(e.kind);
    link_.setLinkState(LinkState::Sending);
    link_.send(e.address, e.kind);
    EXPECT_EQ(line_.lastWrite(), e.frame);
    EXPECT_EQ(link_.linkState(), LinkState::Sent);
  }
  EXPECT_EQ(line_.writes.size(), std::size(kExamples));
}

TEST_F(SendRequestTest, AKindAbove3SendsNothingAndLeavesTheLinkState) {
  ASSERT_EQ(link_.open(QStringLiteral("COM2")), PortOpenResult::Opened);
  for (uint8_t kind : {uint8_t(4), uint8_t(5), uint8_t(255)}) {
    link_.setLinkState(LinkState::Sending);
    link_.send(1, Request(kind));
    EXPECT_EQ(link_.linkState(), LinkState::Sending);
  }
  EXPECT_TRUE(line_.writes.empty());
}

TEST_F(SendRequestTest, WithoutAnOpenPortNothingIsWrittenButTheRequestCountsAsSent) {
  link_.send(1, Request::Stop);  // no port at all
  EXPECT_EQ(link_.linkState(), LinkState::Sent);
  line_.refuseOpen = true;
  EXPECT_EQ(link_.open(QStringLiteral("COM2")), PortOpenResult::CannotOpen);
  link_.setLinkState(LinkState::Sending);
  link_.send(1, Request::Status);
  EXPECT_EQ(link_.linkState(), LinkState::Sent);
  EXPECT_TRUE(line_.writes.empty());
}

class ReplyTest : public ::testing::Test {
 protected:
  void feed(const Frame& bytes) { reply_.append(bytes.data(), int(bytes.size())); }
  ReplyCollector reply_;
};

TEST_F(ReplyTest, KeepsExactly100BytesAndRefusesThe101st) {
  std::vector<uint8_t> bytes(101);
  for (int i = 0; i < 101; ++i) bytes[size_t(i)] = uint8_t(i);
  EXPECT_TRUE(reply_.append(bytes.data(), 100));
  EXPECT_EQ(reply_.length(), 100);
  EXPECT_FALSE(reply_.append(bytes.data() + 100, 1));
  EXPECT_EQ(reply_.length(), 100);
  EXPECT_EQ(reply_[99], 99);
  reply_.clear();
  EXPECT_FALSE(reply_.append(bytes.data(), 101));  // a chunk that overruns keeps what fits
  EXPECT_EQ(reply_.length(), 100);
  EXPECT_EQ(reply_[99], 99);
}

TEST_F(ReplyTest, TheLinkStateSaysWhetherAByteWasLost) {
  AnalyzerLink link;  // collects without a port too
  const Frame status = statusReply(1, 0);
  for (int i = 0; i < 3; ++i) link.receive(status.data(), int(status.size()));
  EXPECT_EQ(link.linkState(), LinkState::Receiving);
  link.receive(status.data(), int(status.size()));
  EXPECT_EQ(link.linkState(), LinkState::ByteLost);
  EXPECT_EQ(link.reply().length(), 100);
}

TEST_F(ReplyTest, SixBytesAreNeverAcceptedSevenWithAGoodCrcAre) {
  feed(withCrc({0x01, 0x06, 0x00, 0x00}));
  ASSERT_EQ(reply_.length(), 6);
  EXPECT_FALSE(reply_.accepted());
  reply_.clear();
  feed(withCrc({0x01, 0x06, 0x00, 0x00, 0x03}));
  ASSERT_EQ(reply_.length(), 7);
  EXPECT_TRUE(reply_.accepted());
}

TEST_F(ReplyTest, TheCrcMustComeLowByteFirst) {
  Frame echo = commandEcho(1, 3);
  std::swap(echo[6], echo[7]);
  feed(echo);
  EXPECT_FALSE(reply_.accepted());

  // Unless both CRC bytes are equal: then the order cannot be told.
  Frame body{0x01, 0x06, 0x00, 0x00, 0x00, 0x00};
  for (int v = 0; v < 65536; ++v) {
    body[4] = uint8_t(v >> 8);
    body[5] = uint8_t(v);
    const uint16_t crc = modbusCrc(body.data(), 6);
    if ((crc & 0xFF) == (crc >> 8)) break;
  }
  Frame same = withCrc(body);
  ASSERT_EQ(same[6], same[7]);
  std::swap(same[6], same[7]);
  reply_.clear();
  feed(same);
  EXPECT_TRUE(reply_.accepted());
}

TEST_F(ReplyTest, AStatusReplyFromAnotherAddressIsAccepted) {
  feed(statusReply(42, 0));
  EXPECT_TRUE(reply_.accepted());
  EXPECT_TRUE(isWholeStatusReply(reply_));
}

TEST_F(ReplyTest, AnExceptionReplyCountsAsSilence) {
  const Frame exception = withCrc({0x01, 0x84, 0x02});
  ASSERT_EQ(exception.size(), 5u);
  feed(exception);
  EXPECT_FALSE(reply_.accepted());
}

TEST_F(ReplyTest, RepliesRunTogetherOrCutShortAreRejected) {
  feed(commandEcho(1, 3));
  feed(statusReply(1, 0));
  EXPECT_FALSE(reply_.accepted());
  reply_.clear();
  const Frame status = statusReply(1, 0);
  feed(Frame(status.begin(), status.begin() + 20));
  EXPECT_FALSE(reply_.accepted());
}

TEST_F(ReplyTest, ClearForgetsTheOlderReplyEntirely) {
  feed(statusReply(1, 2));
  reply_.clear();
  EXPECT_EQ(reply_.length(), 0);
  // A short function-4 frame with a good CRC is not mixed with the old bytes.
  feed(withCrc({0x01, 0x04, 0x02, 0x00, 0x02}));
  EXPECT_TRUE(reply_.accepted());
  EXPECT_FALSE(isWholeStatusReply(reply_));
  for (int i = reply_.length(); i < ReplyCollector::kCapacity; ++i) EXPECT_EQ(reply_[i], 0) << i;
}

TEST_F(ReplyTest, OnlyThirtyThreeBytesOfFunction4WithByteCount28AreAWholeStatusReply) {
  feed(statusReply(1, 0));
  EXPECT_TRUE(isWholeStatusReply(reply_));

  Frame wrongCount = statusReply(1, 0);
  wrongCount.resize(31);
  wrongCount[2] = 27;
  reply_.clear();
  feed(withCrc(wrongCount));
  ASSERT_TRUE(reply_.accepted());
  EXPECT_FALSE(isWholeStatusReply(reply_));

  Frame wrongFunction = statusReply(1, 0);
  wrongFunction.resize(31);
  wrongFunction[1] = 0x03;
  reply_.clear();
  feed(withCrc(wrongFunction));
  ASSERT_TRUE(reply_.accepted());
  EXPECT_FALSE(isWholeStatusReply(reply_));
}

}  // namespace
