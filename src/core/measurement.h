#pragma once
// One decoded status reply of the analyzer: the fault word and the twelve
// channels, measured and derived, as values. The program's channel order is
// Tg, O2, CO, NO, NO2, SO2, H2S, CO2, NOx, Qa, Alf, Ta everywhere: table
// columns, chart curves, view settings, data files, the database.

#include <array>
#include <cstdint>

inline constexpr int kChannelCount = 12;

namespace channel {
enum Index : int { Tg, O2, CO, NO, NO2, SO2, H2S, CO2, NOx, Qa, Alf, Ta };

// Short names and units, in channel order (ASCII: they go into files and
// messages as they are). O2, CO2 and Qa in per cent, temperatures in degrees
// Celsius, gases in ppm; Alf, the excess-air ratio, has no unit.
inline constexpr const char* kNames[kChannelCount] = {"Tg",  "O2",  "CO",  "NO", "NO2", "SO2",
                                                      "H2S", "CO2", "NOx", "Qa", "Alf", "Ta"};
inline constexpr const char* kUnits[kChannelCount] = {"degC", "%",   "ppm", "ppm", "ppm", "ppm",
                                                      "ppm",  "%",   "ppm", "%",   "",    "degC"};

// Measured by the analyzer; the rest (CO2, NOx, Qa, Alf) are computed from
// them and the fuel's coefficients.
inline constexpr bool isMeasured(int ch) { return ch <= H2S || ch == Ta; }
}  // namespace channel

// Codes the analyzer sends in place of a reading. O2 is kept in per cent, so
// it holds them divided by 100 (327.68, 327.69, 327.70).
inline constexpr double kCodeOverload = 32768;  // "перег."
inline constexpr double kCodeError = 32769;     // "ошиб."
inline constexpr double kCodeNoValue = 32770;   // "-----"

enum class SpecialCode : uint8_t { None = 0, Overload = 1, Error = 2, NoValue = 3 };

// The code a channel's value stands for. Only the unsigned readings can carry
// one (O2, CO, NO, NO2, SO2, H2S); the signed temperatures receive them as
// negative numbers, and the derived channels never hold one.
inline SpecialCode specialCode(int ch, double value) {
  if (ch < channel::O2 || ch > channel::H2S) return SpecialCode::None;
  const double raw = ch == channel::O2 ? value * 100 : value;
  if (raw == kCodeOverload) return SpecialCode::Overload;
  if (raw == kCodeError) return SpecialCode::Error;
  if (raw == kCodeNoValue) return SpecialCode::NoValue;
  return SpecialCode::None;
}

struct Measurement {
  int32_t faultBits = 0;  // low twelve bits of the fault word
  std::array<double, kChannelCount> values{};
  double time = 0;  // when it was decoded: days since 30 December 1899, local time

  double operator[](int ch) const { return values[size_t(ch)]; }
  double& operator[](int ch) { return values[size_t(ch)]; }
};
