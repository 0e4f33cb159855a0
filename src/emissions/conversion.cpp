#include "emissions/conversion.h"

#include <cmath>

namespace emissions {

const char* componentName(Component c) {
  switch (c) {
    case Component::CO:
      return "CO";
    case Component::NOx:
      return "NOx";
    case Component::SO2:
      return "SO2";
    case Component::H2S:
      return "H2S";
  }
  return "?";
}

namespace {

// The channel's reading in ppm, or none for an analyzer code (overload, error, no value) or a
// non-number.
std::optional<double> reading(const Result& r, int ch) {
  const double v = r[ch];
  if (!std::isfinite(v) || specialCode(ch, v) != SpecialCode::None) return std::nullopt;
  return v;
}

}  // namespace

std::optional<double> mgPerM3(const Result& r, Component c) {
  switch (c) {
    case Component::CO:
      if (auto v = reading(r, channel::CO)) return *v * kMgPerPpmCO;
      return std::nullopt;
    case Component::NOx: {
      // From the measured NO and NO2: the analyzer's own NOx channel is in
      // ppm and cannot show that one of its inputs was a code.
      const auto no = reading(r, channel::NO), no2 = reading(r, channel::NO2);
      if (!no || !no2) return std::nullopt;
      return (*no + *no2) * kMgPerPpmNO2;
    }
    case Component::SO2:
      if (auto v = reading(r, channel::SO2)) return *v * kMgPerPpmSO2;
      return std::nullopt;
    case Component::H2S:
      if (auto v = reading(r, channel::H2S)) return *v * kMgPerPpmH2S;
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<double> referenceFactor(double o2, double o2Ref) {
  if (!std::isfinite(o2) || specialCode(channel::O2, o2) != SpecialCode::None) return std::nullopt;
  if (o2 >= kO2Ceiling) return std::nullopt;
  if (!std::isfinite(o2Ref) || o2Ref < 0 || o2Ref >= kO2Ceiling) return std::nullopt;
  return (kO2Air - o2Ref) / (kO2Air - o2);
}

EmissionValues convert(const Result& r, double o2Ref) {
  EmissionValues out;
  const auto factor = referenceFactor(r[channel::O2], o2Ref);
  if (!factor) return out;
  for (Component c : kComponents) {
    if (auto v = mgPerM3(r, c)) out[size_t(index(c))] = *v * *factor;
  }
  return out;
}

EmissionValues convert(const Result& r, const std::vector<double>& o2RefByFuel) {
  if (r.fuelIndex >= o2RefByFuel.size()) return {};
  return convert(r, o2RefByFuel[r.fuelIndex]);
}

}  // namespace emissions
