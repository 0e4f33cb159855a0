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

ResultBasis basisOf(const Result& r, std::optional<double> o2Ref, const ValidationConfig& v) {
  ResultBasis b;
  const auto o2 = reading(r, channel::O2);
  if (!o2) return b;
  b.o2 = v.gas.toDry(*o2);
  if (o2Ref) {
    b.factor = referenceFactor(*b.o2, *o2Ref);
    if (b.factor && v.correctOnlyAbove() && *b.o2 <= *o2Ref) b.factor = 1.0;
  }
  return b;
}

namespace {

struct Steps {
  double calibrated, dry, mg;
};

// Calibrated, dry, in mg/m3: the one place these steps are computed.
Steps steps(double raw, Component c, const ValidationConfig& v) {
  Steps s;
  s.calibrated = v.calibration[size_t(index(c))].apply(raw);
  s.dry = v.gas.toDry(s.calibrated);
  s.mg = s.dry * mgPerPpm(c);
  return s;
}

}  // namespace

ValueVerdict judgeValue(const Result& r, Component c, ResultStatus resultStatus, const ResultBasis& basis,
                        const ValidationConfig& v) {
  ValueVerdict out;
  // Outside the range is a matter of each component's own reading.
  ResultStatus status = resultStatus == ResultStatus::OutOfRange ? ResultStatus::Valid : resultStatus;
  const std::optional<double> raw = componentReading(r, c);
  if (!raw || !basis.o2) status = std::max(status, ResultStatus::Fault);
  if (raw) {
    out.outsideRange = v.calibration[size_t(index(c))].outside(*raw);
    if (out.outsideRange) status = std::max(status, ResultStatus::OutOfRange);
    if (basis.factor) {
      out.hasValue = true;
      out.atReference = steps(*raw, c, v).mg * *basis.factor;
    }
  }
  out.status = status;
  const auto reason = invalidReason(status);
  if (v.regulated() && reason)
    out.notCounted = *reason;
  else if (!out.hasValue)
    out.notCounted = reason.value_or(InvalidReason::NoValue);
  else
    out.counted = true;
  return out;
}

ComponentValue evaluate(const Result& r, Component c, ResultStatus resultStatus, const ResultBasis& basis,
                        const ValidationConfig& v) {
  ComponentValue out;
  out.raw = componentReading(r, c);
  if (out.raw) {
    const Steps s = steps(*out.raw, c, v);
    out.calibrated = s.calibrated;
    out.dry = s.dry;
    out.mg = s.mg;
  }
  out.o2 = basis.o2;
  out.factor = basis.factor;
  const ValueVerdict verdict = judgeValue(r, c, resultStatus, basis, v);
  if (verdict.hasValue) out.atReference = verdict.atReference;
  out.outsideRange = verdict.outsideRange;
  out.status = verdict.status;
  out.counted = verdict.counted;
  if (!verdict.counted) out.notCounted = verdict.notCounted;
  return out;
}

}  // namespace emissions
