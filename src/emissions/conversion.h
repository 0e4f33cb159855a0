#pragma once
// Emission values of a result: the gases in mg/m3 of dry gas at 0 degC and
// 101.325 kPa, corrected to a reference O2. Permits set their limits in this
// form, so every average and comparison in this folder works on these values.

#include <array>
#include <optional>
#include <vector>

#include "core/result.h"

namespace emissions {

// The components a permit limits, in the order used by every array here.
enum class Component : int { CO, NOx, SO2, H2S };
inline constexpr int kComponentCount = 4;
inline constexpr std::array<Component, kComponentCount> kComponents = {
    Component::CO, Component::NOx, Component::SO2, Component::H2S};

// ASCII names, as they go into files: "CO", "NOx", "SO2", "H2S".
const char* componentName(Component c);

// mg/m3 per ppm at 0 degC and 101.325 kPa: molar mass / 22.414 l/mol.
inline constexpr double kMgPerPpmCO = 1.250;
inline constexpr double kMgPerPpmNO = 1.339;  // NO on its own; NOx is expressed as NO2
inline constexpr double kMgPerPpmNO2 = 2.053;
inline constexpr double kMgPerPpmSO2 = 2.858;
inline constexpr double kMgPerPpmH2S = 1.521;

// Air has 20.9..21 % O2: at or above this the flue gas is mostly air and the
// correction to the reference O2 blows up, so there is no emission value.
inline constexpr double kO2Ceiling = 20.0;
inline constexpr double kO2Air = 21.0;

// Emission value per component; empty where there is none.
using EmissionValues = std::array<std::optional<double>, kComponentCount>;

inline int index(Component c) { return static_cast<int>(c); }

// mg/m3 at the measured O2, or none when a channel it needs holds an analyzer
// code (overload, error, no value) or is not finite. NOx is (NO + NO2)
// expressed as NO2.
std::optional<double> mgPerM3(const Result& r, Component c);

// The factor (21 - O2ref) / (21 - O2) that brings a value to the reference
// O2; none when O2 is an analyzer code, not finite, at or above kO2Ceiling, or
// O2ref is outside 0..kO2Ceiling.
std::optional<double> referenceFactor(double o2, double o2Ref);

// Every component of the result at the reference O2 `o2Ref` (per cent).
EmissionValues convert(const Result& r, double o2Ref);

// As above with the reference O2 of the fuel row the result names
// (Result::fuelIndex indexes `o2RefByFuel`); a row without an entry gives no
// values. The caller fills the list from the fuel table.
EmissionValues convert(const Result& r, const std::vector<double>& o2RefByFuel);

}  // namespace emissions
