#include "emissions/validation.h"

#include <cmath>

namespace emissions {

std::optional<InvalidReason> invalidReason(ResultStatus s) {
  switch (s) {
    case ResultStatus::Valid:
    case ResultStatus::OutOfRange:
    case ResultStatus::Substitute:
      return std::nullopt;
    case ResultStatus::Maintenance:
      return InvalidReason::Maintenance;
    case ResultStatus::Fault:
      return InvalidReason::Fault;
    case ResultStatus::PlantOff:
      return InvalidReason::PlantOff;
    case ResultStatus::Test:
      return InvalidReason::Test;
  }
  return InvalidReason::Fault;  // a number no status has: not trusted
}

std::optional<double> ValidationConfig::confidencePercentOf(Component c) const {
  const size_t i = size_t(index(c));
  if (confidencePercent[i]) return confidencePercent[i];
  return rules().confidencePercent[i];
}

double ValidationConfig::confidenceInterval(Component c) const {
  if (!regulated()) return 0;
  const auto share = confidencePercentOf(c);
  const auto limit = dailyLimit[size_t(index(c))];
  if (!share || !limit) return 0;
  return *share / 100 * *limit;
}

bool ValidationConfig::correctOnlyAbove() const {
  if (!regulated()) return false;
  return o2CorrectionOnlyAbove.value_or(rules().o2CorrectionOnlyAbove);
}

bool ValidationConfig::operator==(const ValidationConfig& o) const {
  return profile == o.profile && calibration == o.calibration && gas == o.gas && plant == o.plant &&
         confidencePercent == o.confidencePercent && o2CorrectionOnlyAbove == o.o2CorrectionOnlyAbove &&
         dailyLimit == o.dailyLimit && monitored == o.monitored;
}

std::optional<double> referenceO2(const Result& r, const std::vector<double>& o2RefByFuel) {
  if (r.fuelIndex >= o2RefByFuel.size()) return std::nullopt;
  return o2RefByFuel[r.fuelIndex];
}

namespace {

// The channel's reading, or none for an analyzer code or a non-number.
std::optional<double> reading(const Result& r, int ch) {
  const double v = r[ch];
  if (!std::isfinite(v) || specialCode(ch, v) != SpecialCode::None) return std::nullopt;
  return v;
}

// The reading in ppm a component is computed from; NOx from the measured NO
// and NO2 (the analyzer's own NOx channel cannot show that an input was a code).
std::optional<double> componentReading(const Result& r, Component c) {
  switch (c) {
    case Component::CO:
      return reading(r, channel::CO);
    case Component::NOx: {
      const auto no = reading(r, channel::NO), no2 = reading(r, channel::NO2);
      if (!no || !no2) return std::nullopt;
      return *no + *no2;
    }
    case Component::SO2:
      return reading(r, channel::SO2);
    case Component::H2S:
      return reading(r, channel::H2S);
  }
  return std::nullopt;
}

double mgPerPpm(Component c) {
  switch (c) {
    case Component::CO:
      return kMgPerPpmCO;
    case Component::NOx:
      return kMgPerPpmNO2;
    case Component::SO2:
      return kMgPerPpmSO2;
    case Component::H2S:
      return kMgPerPpmH2S;
  }
  return 0;
}

}  // namespace

ComponentValue evaluate(const Result& r, Component c, ResultStatus resultStatus, std::optional<double> o2Ref,
                        const ValidationConfig& v) {
  ComponentValue out;
  // Outside the range is a matter of each component's own reading.
  ResultStatus status = resultStatus == ResultStatus::OutOfRange ? ResultStatus::Valid : resultStatus;
  out.raw = componentReading(r, c);
  const auto o2 = reading(r, channel::O2);
  if (!out.raw || !o2) status = std::max(status, ResultStatus::Fault);

  if (out.raw) {
    const Qal2Calibration& cal = v.calibration[size_t(index(c))];
    out.outsideRange = cal.outside(*out.raw);
    if (out.outsideRange) status = std::max(status, ResultStatus::OutOfRange);
    out.calibrated = cal.apply(*out.raw);
    out.dry = v.gas.toDry(*out.calibrated);
    out.mg = *out.dry * mgPerPpm(c);
  }
  if (o2) {
    out.o2 = v.gas.toDry(*o2);
    if (o2Ref) {
      out.factor = referenceFactor(*out.o2, *o2Ref);
      if (out.factor && v.correctOnlyAbove() && *out.o2 <= *o2Ref) out.factor = 1.0;
    }
  }
  if (out.mg && out.factor) out.atReference = *out.mg * *out.factor;
  out.status = status;

  const auto reason = invalidReason(status);
  if (v.regulated() && reason) {
    out.notCounted = reason;
  } else if (!out.atReference) {
    out.notCounted = reason.value_or(InvalidReason::NoValue);
  } else {
    out.counted = true;
  }
  return out;
}

}  // namespace emissions
