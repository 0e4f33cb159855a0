// The register map built from an analyzer's snapshot: every documented
// register at its offset, 32-bit values in both word orders, and a missing
// value always as the marker with its validity bit off, never NaN.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "modbus_server/register_image.h"

namespace {

using namespace modbus_server;
using emissions::Exceedance;

// Decoded here as README describes it, not with the library's own helpers.
float floatAt(const RegisterImage& r, int at, bool highFirst = true) {
  const uint32_t bits = highFirst ? (uint32_t(r[size_t(at)]) << 16 | r[size_t(at + 1)])
                                  : (uint32_t(r[size_t(at + 1)]) << 16 | r[size_t(at)]);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}
uint32_t uintAt(const RegisterImage& r, int at) { return uint32_t(r[size_t(at)]) << 16 | r[size_t(at + 1)]; }

constexpr qint64 kTimeMs = 1742030430123;  // 2025-03-15 09:20:30.123 UTC
constexpr uint32_t kTimeS = 1742030430;

AnalyzerSnapshot richSnapshot() {
  AnalyzerSnapshot s;
  s.unitId = 1;
  s.resultCount = 65537;
  s.link = AnalyzerLinkState::Answering;
  s.analyzerState = AnalyzerState::Measuring;
  s.mode = WorkMode::Continuous;
  s.faultWord = 0x0A05;
  LastResultSnapshot last;
  Result& r = last.result;
  r.utcMs = kTimeMs;
  r.utcOffset = -18000;  // five hours west
  r.fuelIndex = 2;
  r.status = ResultStatus::Fault;
  r.values = {182, 327.68, kCodeError, 40, 5, 14, kCodeNoValue, 9.75, 45, 8.25, 1.25, 22};
  last.emissions = {std::nullopt, 93.5, 40.25, std::nullopt};
  last.o2Ref = 3;
  s.last = last;

  AverageSnapshot running;
  running.startUtcMs = 1742029800000;
  running.endUtcMs = 1742030400000;
  running.components[0] = {50.5, 0, 50.5, false, 7, Exceedance::None};
  running.components[1] = {90.25, 0, 90.25, true, 400, Exceedance::Alarm};
  s.running = running;
  AverageSnapshot day;
  day.startUtcMs = 1741996800000;
  day.endUtcMs = 1742029800000;
  day.components[2] = {41, 2.5, 38.5, true, 11, Exceedance::PreAlarm};
  s.today = day;
  s.alarms[1].intervalAlarm = true;
  s.alarms[3].dayAlarm = true;
  s.alarms[1].intervalPreAlarm = true;
  s.alarms[0].dayPreAlarm = true;
  s.lamp = emissions::Lamp::Alarm;
  s.intervalMinutes = 10;
  return s;
}

TEST(RegisterImage, StatusAndLastResultRegistersHoldTheSnapshot) {
  const RegisterImage r = buildRegisterImage(richSnapshot(), WordOrder::HighFirst);
  EXPECT_EQ(r[0], 1);       // map version
  EXPECT_EQ(r[1], 1);       // 65537 results: the heartbeat wraps
  EXPECT_EQ(r[2], 0);       // the image sequence is the server's
  EXPECT_EQ(r[255], 0);
  EXPECT_EQ(r[3], 2);       // answering
  EXPECT_EQ(r[4], 2);       // measuring
  EXPECT_EQ(r[5], 1);       // continuous
  EXPECT_EQ(r[6], 0x0A05);
  EXPECT_EQ(r[7], 1);
  EXPECT_EQ(r[8], 4);       // fault status
  EXPECT_EQ(uintAt(r, 9), kTimeS);
  EXPECT_EQ(int16_t(r[11]), -300);
  EXPECT_EQ(r[12], 2);
  // O2 overload, CO error, H2S no value: markers, their bits off, their codes.
  EXPECT_EQ(r[13], 0x0FFF & ~(1 << 1 | 1 << 2 | 1 << 6));
  EXPECT_EQ(r[14], 1 << 1 | 1 << 2 | 1 << 6);
  EXPECT_EQ(uintAt(r, 15), 1u << 2 | 2u << 4 | 3u << 12);
  const float expected[kChannelCount] = {182, kMissingValue, kMissingValue, 40, 5, 14, kMissingValue, 9.75, 45, 8.25,
                                         1.25, 22};
  for (int ch = 0; ch < kChannelCount; ++ch) EXPECT_EQ(floatAt(r, 32 + 2 * ch), expected[ch]) << ch;
  EXPECT_EQ(floatAt(r, 56), kMissingValue);
  EXPECT_EQ(floatAt(r, 58), 93.5f);
  EXPECT_EQ(floatAt(r, 60), 40.25f);
  EXPECT_EQ(floatAt(r, 62), kMissingValue);
  EXPECT_EQ(floatAt(r, 64), 3.0f);
  EXPECT_EQ(r[17], 1 << 1 | 1 << 2 | 1 << 4);
  EXPECT_EQ(r[18], 1 << 1 | 1 << (4 + 3));
  EXPECT_EQ(r[19], 1 << 1 | 1 << 4);
  EXPECT_EQ(r[20], 2);
  EXPECT_EQ(r[21], 10);
  for (int reserved : {22, 31, 66, 79, 240, 254}) EXPECT_EQ(r[size_t(reserved)], 0) << reserved;
}

TEST(RegisterImage, AverageBlocksHoldValuesValidityExceedanceAndCounts) {
  const RegisterImage r = buildRegisterImage(richSnapshot(), WordOrder::HighFirst);
  const int run = 80;
  EXPECT_EQ(uintAt(r, run + 0), 1742029800u);
  EXPECT_EQ(uintAt(r, run + 2), 1742030400u);
  EXPECT_EQ(r[run + 4], 1);
  EXPECT_EQ(r[run + 5], 1 << 1);           // only NOx valid
  EXPECT_EQ(r[run + 6], 1 << 0 | 1 << 1);  // CO and NOx have numbers
  EXPECT_EQ(r[run + 7], 2 << 2);           // NOx above its alarm limit
  EXPECT_EQ(r[run + 8], 7);
  EXPECT_EQ(r[run + 9], 400);
  EXPECT_EQ(floatAt(r, run + 12), 50.5f);
  EXPECT_EQ(floatAt(r, run + 14), 90.25f);
  EXPECT_EQ(floatAt(r, run + 16), kMissingValue);
  EXPECT_EQ(floatAt(r, run + 20), 0.0f);
  EXPECT_EQ(floatAt(r, run + 22), 0.0f);
  EXPECT_EQ(floatAt(r, run + 24), kMissingValue);
  EXPECT_EQ(floatAt(r, run + 30), 90.25f);

  const int today = 160;
  EXPECT_EQ(r[today + 4], 1);
  EXPECT_EQ(r[today + 5], 1 << 2);
  EXPECT_EQ(r[today + 7], 1 << 4);  // SO2 pre-alarm
  EXPECT_EQ(r[today + 10], 11);
  EXPECT_EQ(floatAt(r, today + 16), 41.0f);
  EXPECT_EQ(floatAt(r, today + 24), 2.5f);
  EXPECT_EQ(floatAt(r, today + 32), 38.5f);

  for (int absent : {120, 200}) {  // no last interval, no previous day
    EXPECT_EQ(uintAt(r, absent), 0u);
    for (int i = 4; i < 12; ++i) EXPECT_EQ(r[size_t(absent + i)], 0) << absent + i;
    for (int f = 12; f < 36; f += 2) EXPECT_EQ(floatAt(r, absent + f), kMissingValue) << absent + f;
  }
}

TEST(RegisterImage, LowFirstSwapsTheWordsOfEveryThirtyTwoBitValue) {
  const AnalyzerSnapshot s = richSnapshot();
  const RegisterImage high = buildRegisterImage(s, WordOrder::HighFirst);
  const RegisterImage low = buildRegisterImage(s, WordOrder::LowFirst);
  std::vector<int> pairs = {9, 15, 64};
  for (int at = 32; at < 64; at += 2) pairs.push_back(at);
  for (int block : {80, 120, 160, 200}) {
    pairs.push_back(block);
    pairs.push_back(block + 2);
    for (int at = block + 12; at < block + 36; at += 2) pairs.push_back(at);
  }
  std::vector<bool> inPair(kRegisterCount, false);
  for (int at : pairs) {
    EXPECT_EQ(low[size_t(at)], high[size_t(at + 1)]) << at;
    EXPECT_EQ(low[size_t(at + 1)], high[size_t(at)]) << at;
    inPair[size_t(at)] = inPair[size_t(at + 1)] = true;
  }
  for (int at = 0; at < kRegisterCount; ++at) {
    if (!inPair[size_t(at)]) {
      EXPECT_EQ(low[size_t(at)], high[size_t(at)]) << at;
    }
  }
  // 182.0 is 0x43360000.
  EXPECT_EQ(high[32], 0x4336);
  EXPECT_EQ(high[33], 0x0000);
  EXPECT_EQ(low[32], 0x0000);
  EXPECT_EQ(low[33], 0x4336);
  EXPECT_EQ(floatAt(low, 32, false), 182.0f);
}

TEST(RegisterImage, NoValueIsEverSentAsNotANumber) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  AnalyzerSnapshot s = richSnapshot();
  s.last->result.values = {nan, inf, -inf, 1e300, 40, 5, 14, 9, 45, 8, 1, 22};
  s.last->emissions = {nan, inf, 1e39, 5};
  s.last->o2Ref = nan;
  s.running->components[0] = {nan, 0, nan, true, 3, Exceedance::None};
  for (WordOrder order : {WordOrder::HighFirst, WordOrder::LowFirst}) {
    const bool highFirst = order == WordOrder::HighFirst;
    const RegisterImage r = buildRegisterImage(s, order);
    EXPECT_EQ(r[13], 0x0FFF & ~0x000F);
    EXPECT_EQ(r[17], 1 << 3);
    EXPECT_EQ(r[80 + 5] & 1, 0);
    EXPECT_EQ(r[80 + 6] & 1, 0);
    std::vector<int> floats = {64};
    for (int at = 32; at < 64; at += 2) floats.push_back(at);
    for (int at = 80 + 12; at < 80 + 36; at += 2) floats.push_back(at);
    for (int at : floats) EXPECT_TRUE(std::isfinite(floatAt(r, at, highFirst))) << at;
    for (int at : {32, 34, 36, 38, 56, 58, 60, 64, 92, 100, 108}) EXPECT_EQ(floatAt(r, at, highFirst), kMissingValue) << at;
  }
  // Nothing known yet: every float the marker, no bit set.
  const RegisterImage empty = buildRegisterImage(AnalyzerSnapshot{}, WordOrder::HighFirst);
  EXPECT_EQ(empty[7], 0);
  EXPECT_EQ(empty[13], 0);
  EXPECT_EQ(empty[17], 0);
  for (int at = 32; at < 66; at += 2) EXPECT_EQ(floatAt(empty, at), kMissingValue) << at;
}

// Measured, the confidence interval a regulation profile subtracts, and the
// validated value the limits judge; without a profile the interval is 0.
TEST(RegisterImage, AveragesCarryMeasuredConfidenceAndValidatedAndAreJudgedOnlyWhenValid) {
  emissions::AlarmLimits limits;
  limits[emissions::Component::CO].interval = 100;
  limits[emissions::Component::NOx].interval = 100;
  limits[emissions::Component::SO2].daily = 10;
  emissions::IntervalAverage a;
  a.startUtcMs = 1000;
  a.endUtcMs = 601000;
  a.components[0] = {120, 300, true};    // CO valid above its limit: 150 measured less 30
  a.components[0].measured = 150;
  a.components[0].ci = 30;
  a.components[1] = {120, 100, false};   // NOx as high, but invalid
  a.components[1].measured = 120;
  a.components[2] = {0, 0, false};       // SO2 without values
  const AverageSnapshot s = averageSnapshot(a, limits);
  EXPECT_EQ(s.components[0].measured, 150);
  EXPECT_EQ(s.components[0].confidence, 30);
  EXPECT_EQ(s.components[0].validated, 120);
  EXPECT_EQ(s.components[1].measured, 120);
  EXPECT_EQ(s.components[1].confidence, 0);
  EXPECT_EQ(s.components[0].exceedance, Exceedance::Alarm);
  EXPECT_EQ(s.components[1].exceedance, Exceedance::None);
  EXPECT_FALSE(s.components[1].valid);
  EXPECT_FALSE(s.components[2].measured.has_value());
  EXPECT_FALSE(s.components[2].validated.has_value());

  emissions::DailyAverage d;
  d.components[2] = {9, 40, true};  // SO2 at 90 % of its daily limit: a pre-alarm
  EXPECT_EQ(averageSnapshot(d, limits).components[2].exceedance, Exceedance::PreAlarm);

  StoredAverage stored;
  stored.period = AveragePeriodKind::Day;
  stored.components[0] = {60, 44, true, 2};
  stored.components[0].ci = 5;
  stored.components[0].validated = 55;
  stored.components[3] = {5, 3, false, 1};  // an invalid average is judged nothing
  stored.components[3].validated = 5;
  const AverageSnapshot fromStore = averageSnapshot(stored);
  EXPECT_EQ(fromStore.components[0].exceedance, Exceedance::Alarm);
  EXPECT_EQ(fromStore.components[0].measured, 60);
  EXPECT_EQ(fromStore.components[0].confidence, 5);
  EXPECT_EQ(fromStore.components[0].validated, 55);
  EXPECT_EQ(fromStore.components[3].exceedance, Exceedance::None);
}

}  // namespace
