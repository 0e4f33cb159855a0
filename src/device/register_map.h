#pragma once
// The analyzer's status reply (function 4, registers 0..13, 33 bytes): its
// byte positions, the operating states it reports, and its decoding into a
// measurement, with the derived channels CO2, NOx, Alf and Qa computed from
// the selected fuel's coefficients.

#include <cstdint>

#include "device/fuel_table.h"
#include "core/measurement.h"

// Reply byte positions.
inline constexpr int kReplyFunction = 1;
inline constexpr int kReplyState = 4;      // low byte of register 0
inline constexpr int kReplyCommand = 5;    // a command echo's value
inline constexpr int kReplyFaultHigh = 5;  // register 1, high byte first
inline constexpr int kReplyServiceMonth = 25;
inline constexpr int kReplyServiceDay = 26;
inline constexpr int kReplyServiceYear = 27;   // register 12
inline constexpr int kReplyRunningHours = 29;  // register 13

// The operating state in register 0. The analyzer reports 0..4; 5..7 name
// states of the exchange, and NotConnected is the program's own for an
// analyzer it takes for lost. Any other value may arrive and is kept as is.
enum class AnalyzerState : uint8_t {
  Idle = 0,
  ZeroSetting = 1,
  Measuring = 2,
  Purging = 3,
  Manual = 4,
  Requesting = 5,
  NotAnswering = 6,
  ReplyError = 7,
  NotConnected = 8,
};

// Register k of a reply, unsigned and signed.
inline uint16_t registerU(const uint8_t* reply, int k) {
  return uint16_t(reply[3 + 2 * k] << 8 | reply[4 + 2 * k]);
}
inline int16_t registerS(const uint8_t* reply, int k) { return int16_t(registerU(reply, k)); }

// The measurement of a status reply, decoded at `now` (a program date-time).
Measurement decodeMeasurement(const uint8_t* reply, const FuelRow& fuel, double now);

// The derived channels (CO2, NOx, Alf, Qa) of `values` computed from its
// measured ones and `fuel`'s coefficients, as decoding computes them: the
// same inputs give the same bits, so a result kept without them gets them
// back exactly.
void deriveChannels(std::array<double, kChannelCount>& values, const FuelRow& fuel);
