#pragma once
// The register map one unit id serves, built from an analyzer's snapshot.
// The same registers answer function 4 (input registers) and function 3
// (holding registers); offsets count from 0. README has the map as a table:
// keep the two in step.
//
// 32-bit values (floats, times) take two registers; which comes first is the
// server's word order setting. Bytes within a register are big-endian, as
// Modbus has them. A float without a value holds kMissingValue and its bit in
// the validity register of its group is 0; NaN is never sent.

#include <array>
#include <cstdint>

#include "modbus_server/snapshot.h"

namespace modbus_server {

inline constexpr int kRegisterCount = 256;
using RegisterImage = std::array<uint16_t, kRegisterCount>;

inline constexpr uint16_t kMapVersion = 1;
inline constexpr float kMissingValue = -9999.0f;

enum class WordOrder : uint8_t {
  HighFirst,  // the high half of a 32-bit value in the lower register ("ABCD", big-endian)
  LowFirst,   // swapped ("CDAB"), as many control systems read floats
};

namespace reg {
// Status.
inline constexpr int kVersion = 0;
inline constexpr int kResultHeartbeat = 1;  // results taken since start, modulo 65536
inline constexpr int kImageSequence = 2;    // changes with every new image: every poll tick and result
inline constexpr int kLinkState = 3;
inline constexpr int kAnalyzerState = 4;
inline constexpr int kMode = 5;
inline constexpr int kFaultWord = 6;
inline constexpr int kLastPresent = 7;
inline constexpr int kLastStatus = 8;
inline constexpr int kLastTime = 9;          // uint32, Unix seconds
inline constexpr int kLastUtcOffset = 11;    // int16, minutes east of UTC
inline constexpr int kLastFuel = 12;
inline constexpr int kChannelValidBits = 13;
inline constexpr int kChannelCodeBits = 14;
inline constexpr int kChannelCodes = 15;     // uint32, 2 bits per channel
inline constexpr int kEmissionValidBits = 17;
inline constexpr int kAlarmBits = 18;
inline constexpr int kPreAlarmBits = 19;
inline constexpr int kLamp = 20;
inline constexpr int kIntervalMinutes = 21;
// Values of the last result.
inline constexpr int kChannels = 32;         // 12 floats, channel order
inline constexpr int kEmissions = 56;        // 4 floats: CO, NOx, SO2, H2S at the reference O2
inline constexpr int kO2Ref = 64;            // float
// Average blocks.
inline constexpr int kRunningInterval = 80;
inline constexpr int kLastInterval = 120;
inline constexpr int kToday = 160;
inline constexpr int kPreviousDay = 200;
inline constexpr int kAverageBlockSize = 40;
// Within an average block.
inline constexpr int kAvgStart = 0;          // uint32, Unix seconds
inline constexpr int kAvgEnd = 2;            // uint32, Unix seconds
inline constexpr int kAvgPresent = 4;
inline constexpr int kAvgValidBits = 5;      // bit c: component c's average is valid
inline constexpr int kAvgValueBits = 6;      // bit c: component c's floats hold numbers
inline constexpr int kAvgExceedance = 7;     // 2 bits per component: 1 pre-alarm, 2 alarm
inline constexpr int kAvgCounts = 8;         // 4 x uint16
inline constexpr int kAvgMeasured = 12;      // 4 floats
inline constexpr int kAvgConfidence = 20;    // 4 floats
inline constexpr int kAvgValidated = 28;     // 4 floats
// The image sequence again, last: a map read in several requests is one
// image when this equals kImageSequence.
inline constexpr int kImageSequenceCheck = 255;
}  // namespace reg

// Every register but the image sequence (0 in both places: the server sets it).
RegisterImage buildRegisterImage(const AnalyzerSnapshot& snapshot, WordOrder order);

// A 32-bit value into two registers at `at`, and back.
void putUint32(RegisterImage& image, int at, uint32_t value, WordOrder order);
void putFloat(RegisterImage& image, int at, float value, WordOrder order);
uint32_t getUint32(const uint16_t* registers, int at, WordOrder order);
float getFloat(const uint16_t* registers, int at, WordOrder order);

}  // namespace modbus_server
