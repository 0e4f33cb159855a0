// A reply with function code 4 and a valid CRC that is not a whole status
// reply is never decoded into the measurement record: its bytes would be
// read together with whatever the buffer held before.

#include <gtest/gtest.h>

#include <cstring>

#include "acquisition/poll_cycle.h"
#include "app/Korvex_ModbusRTU_MainChat.h"
#include "support/korvex_fixture.h"

namespace {

class ShortReplyTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    WriteDefaultSettings();
    StartProgram();
    Tick();
    TickWith(CommandEcho(1, 3));
    TickWith(StatusReply(1, 0));
    ASSERT_EQ(+DeviceRecord.WorkMode, kModeIdle);
    Form1->BitBtnOdnokrClick();
    TickWith(StatusReply(1, 0));  // takes the mode over: command 1
    TickWith(CommandEcho(1, 1));
    ASSERT_EQ(+DeviceRecord.WorkMode, kModeSingle);
  }
};

TEST_F(ShortReplyTest, AShortFunction4ReplyWhileMeasuringLeavesTheMeasurementAlone) {
  StatusRegisters r;
  r.state = 2;
  TickWith(StatusReply(1, r));
  const TMeasurement before = DeviceRecord.Measurement;
  ASSERT_EQ(double(before.Tg), 180.0);

  Advance(1);
  // 01 04 02 00 02 + CRC: state 2 in byte 4, nothing else.
  TickWith(WithCrc({0x01, 0x04, 0x02, 0x00, 0x02}));
  EXPECT_EQ(+DeviceRecord.DeviceState, 2);  // the state is still taken
  EXPECT_EQ(std::memcmp(&DeviceRecord.Measurement, &before, sizeof before), 0);
}

TEST_F(ShortReplyTest, AShortFunction4ReplyAtTheEndMakesTheRowFromTheLastWholeReply) {
  StatusRegisters r;
  r.state = 2;
  r.co = 77;
  TickWith(StatusReply(1, r));
  TickWith(WithCrc({0x01, 0x04, 0x02, 0x00, 0x00}));  // idle, but short
  EXPECT_EQ(double(DeviceRecord.Measurement.CO), 77.0);
  EXPECT_EQ(+DeviceRecord.WorkMode, kModeIdle);
}

}  // namespace
