#pragma once
// The twelve built-in fuels with the coefficients that the derived channels
// (CO2, Alf, Qa) are computed from. Not stored: every run starts with the
// built-in values. Row 11 doubles as the slot of a fuel the user names.

#include <QString>
#include <cstdint>

struct FuelRow {
  int32_t tMax;    // T'max, deg C
  int32_t co2Max;  // thousandths of a per cent
  int32_t kfB;     // x 1000
  int32_t kfC;     // x 1000
  int32_t kfK;     // x 1000
  int32_t kfP;     // unscaled
  int32_t o2Ref;   // per cent; shown and edited only
  QString name;
};

inline constexpr int kFuelCount = 12;

extern FuelRow fuelTable[kFuelCount];

// Puts the built-in contents back (program start; tests).
void resetFuelTable();
