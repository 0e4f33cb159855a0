#pragma once
// The analyzer's status reply (function 4, registers 0..13, 33 bytes) and its
// decoding into the measurement record, with the derived channels CO2, NOx,
// Alf and Qa computed from the selected fuel's coefficients.

#include <cstdint>

#include "device/fuel_table.h"
#include "storage/settings_records.h"

// Reply byte positions.
inline constexpr int kReplyFunction = 1;
inline constexpr int kReplyState = 4;      // low byte of register 0
inline constexpr int kReplyFaultHigh = 5;  // register 1, high byte first
inline constexpr int kReplyServiceMonth = 25;
inline constexpr int kReplyServiceDay = 26;
inline constexpr int kReplyServiceYear = 27;  // register 12
inline constexpr int kReplyRunningHours = 29;  // register 13

// Codes the analyzer sends in place of a reading.
inline constexpr double kCodeOverload = 32768;  // "перег."
inline constexpr double kCodeError = 32769;     // "ошиб."
inline constexpr double kCodeNoValue = 32770;   // "-----"

// Register k of a reply, unsigned and signed.
inline uint16_t RegisterU(const uint8_t* reply, int k) {
  return uint16_t(reply[3 + 2 * k] << 8 | reply[4 + 2 * k]);
}
inline int16_t RegisterS(const uint8_t* reply, int k) { return int16_t(RegisterU(reply, k)); }

// Fills every field of `m` from a status reply. `now` becomes MeasTime.
void DecodeMeasurement(const uint8_t* reply, const TFuelRow& fuel, double now, TMeasurement& m);
