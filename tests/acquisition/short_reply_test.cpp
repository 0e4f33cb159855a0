// A reply with function code 4 and a valid CRC that is not a whole status
// reply is never decoded into a measurement: its bytes would be read together
// with whatever the buffer held before.

#include <gtest/gtest.h>

#include <vector>

#include "acquisition/poll_cycle.h"
#include "platform/seams.h"
#include "support/analyzer_replies.h"

namespace {

// The poll cycle alone, on a link without a port, in a single measurement.
class ShortReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seams::setClock([this] { return now_; });
    QObject::connect(&cycle_, &PollCycle::resultTaken, [this](const Result& r) { results_.push_back(r); });
    cycle_.restart();
    tickWith(commandEcho(1, 3));
    tickWith(statusReply(1, 0));
    ASSERT_EQ(cycle_.workMode(), WorkMode::Idle);
    cycle_.requestMode(ModeRequest::Single);
    tickWith(statusReply(1, 0));  // takes the mode over: command 1
    tickWith(commandEcho(1, 1));
    ASSERT_EQ(cycle_.workMode(), WorkMode::Single);
  }
  void TearDown() override { seams::resetAll(); }

  void tickWith(const Frame& reply) {
    link_.receive(reply.data(), int(reply.size()));
    cycle_.tick();
    now_ = now_.addSecs(1);
  }

  QDateTime now_{QDate(2026, 12, 6), QTime(10, 0)};
  AnalyzerLink link_;
  PollCycle cycle_{link_};
  std::vector<Result> results_;
};

TEST_F(ShortReplyTest, AShortFunction4ReplyWhileMeasuringLeavesTheMeasurementAlone) {
  StatusRegisters r;
  r.state = 2;
  tickWith(statusReply(1, r));
  const Measurement before = cycle_.measurement();
  ASSERT_EQ(before[channel::Tg], 180.0);

  // 01 04 02 00 02 + CRC: state 2 in byte 4, nothing else.
  tickWith(withCrc({0x01, 0x04, 0x02, 0x00, 0x02}));
  EXPECT_EQ(cycle_.analyzerState(), AnalyzerState::Measuring);  // the state is still taken
  EXPECT_EQ(cycle_.measurement().values, before.values);
  EXPECT_EQ(cycle_.measurement().time, before.time);
}

TEST_F(ShortReplyTest, AShortFunction4ReplyAtTheEndMakesTheRowFromTheLastWholeReply) {
  StatusRegisters r;
  r.state = 2;
  r.co = 77;
  tickWith(statusReply(1, r));
  tickWith(withCrc({0x01, 0x04, 0x02, 0x00, 0x00}));  // idle, but short
  ASSERT_EQ(results_.size(), 1u);
  EXPECT_EQ(results_[0][channel::CO], 77.0);
  EXPECT_EQ(cycle_.workMode(), WorkMode::Idle);
}

}  // namespace
