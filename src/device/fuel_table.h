#pragma once
// The twelve built-in fuels with the coefficients that the derived channels
// (CO2, Alf, Qa) are computed from, and each fuel's reference O2 for the
// emissions. Not stored: every run starts with the built-in values. Row 11
// doubles as the slot of a fuel the user names. A plain value: whoever
// computes with it holds a copy.

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

struct FuelRow {
  int32_t tMax;    // T'max, deg C
  int32_t co2Max;  // thousandths of a per cent
  int32_t kfB;     // x 1000
  int32_t kfC;     // x 1000
  int32_t kfK;     // x 1000
  int32_t kfP;     // unscaled
  int32_t o2Ref;   // per cent: the reference O2 of the fuel's emissions
  QString name;

  bool operator==(const FuelRow& o) const {
    return tMax == o.tMax && co2Max == o.co2Max && kfB == o.kfB && kfC == o.kfC && kfK == o.kfK && kfP == o.kfP &&
           o2Ref == o.o2Ref && name == o.name;
  }
  bool operator!=(const FuelRow& o) const { return !(*this == o); }
};

inline constexpr int kFuelCount = 12;

using FuelTable = std::array<FuelRow, kFuelCount>;

// The built-in contents.
FuelTable builtInFuelTable();

// The reference O2 of every row, in per cent, by row.
std::vector<double> o2References(const FuelTable& table);
