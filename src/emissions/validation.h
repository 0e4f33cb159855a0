#pragma once
// From a result to the value an average counts, as a chain of steps each of
// which can be shown: the reading (ppm), calibrated by the QAL2 function, on
// a dry basis, in mg/m3, at the reference O2 — and the status that decides
// whether the average counts it at all.
//
// Under "no regulation" every result with a value counts, as it always did;
// under a regulation profile only those of status valid, outside the
// calibrated range or substitute, and the others are counted by reason.

#include <array>
#include <optional>

#include "core/result.h"
#include "emissions/calibration.h"
#include "emissions/conversion.h"
#include "emissions/regulation.h"

namespace emissions {

// When the plant is taken for not operating. Its results are then of status
// "plant not operating", and short-term averages it did not operate for do
// not count against the day.
struct PlantRule {
  enum class Source : uint8_t {
    None,    // always operating
    O2,      // not operating once O2 stayed above o2AbovePercent for `minutes`
    Switch,  // the operator's switch says
  };
  Source source = Source::None;
  double o2AbovePercent = 19;
  int minutes = 10;
  bool operator==(const PlantRule& o) const {
    return source == o.source && o2AbovePercent == o.o2AbovePercent && minutes == o.minutes;
  }
};

// Why a result does not count in its average. The numbers index the counts
// the database keeps: never renumber.
enum class InvalidReason : uint8_t {
  Fault = 0,        // the analyzer's fault word, or a code in a channel the value needs
  Maintenance = 1,  // the operator's maintenance switch
  PlantOff = 2,     // the plant was not operating
  LinkLost = 3,     // expected but never taken: the analyzer lost, the program not running
  Test = 4,         // zero setting or a test-gas check
  NoValue = 5,      // valid, but no value: air at the probe (O2 at 20 % or more), no reference O2
};
inline constexpr int kInvalidReasonCount = 6;
inline constexpr std::array<InvalidReason, kInvalidReasonCount> kInvalidReasons = {
    InvalidReason::Fault,    InvalidReason::Maintenance, InvalidReason::PlantOff,
    InvalidReason::LinkLost, InvalidReason::Test,        InvalidReason::NoValue};
using InvalidCounts = std::array<int, kInvalidReasonCount>;

// The reason a status keeps a value out of the averages; none for those
// that count (valid, outside the calibrated range, substitute).
std::optional<InvalidReason> invalidReason(ResultStatus s);

struct ValidationConfig {
  RegulationProfile profile = RegulationProfile::None;
  std::array<Qal2Calibration, kComponentCount> calibration{};
  GasConditions gas;
  PlantRule plant;
  // The settings' own figures; empty: the profile's.
  std::array<std::optional<double>, kComponentCount> confidencePercent{};
  std::optional<bool> o2CorrectionOnlyAbove;
  // The daily limits, mg/m3: the confidence interval is a share of them.
  std::array<std::optional<double>, kComponentCount> dailyLimit{};
  // Components whose channels make a whole result "fault" when one holds an
  // analyzer code (those with a limit); any component's own value is judged
  // by its own channels regardless.
  std::array<bool, kComponentCount> monitored{};

  const RegulationRules& rules() const { return regulationRules(profile); }
  bool regulated() const { return profile != RegulationProfile::None; }
  // Per cent of the daily limit; none where neither the settings nor the profile give one.
  std::optional<double> confidencePercentOf(Component c) const;
  // mg/m3 subtracted from each average: 0 without a regulation profile, a
  // share or a daily limit.
  double confidenceInterval(Component c) const;
  bool correctOnlyAbove() const;
  bool operator==(const ValidationConfig& o) const;
};

// One component of one result, step by step.
struct ComponentValue {
  std::optional<double> raw;          // ppm as read; NOx = NO + NO2; none for a code
  std::optional<double> calibrated;   // a + b*raw
  std::optional<double> dry;          // ppm of dry gas
  std::optional<double> o2;           // O2 %, dry
  std::optional<double> mg;           // mg/m3 at the measured O2
  std::optional<double> factor;       // to the reference O2 (1 where it is not applied)
  std::optional<double> atReference;  // mg/m3 at the reference O2: what the average takes
  bool outsideRange = false;          // beyond the valid calibration range
  ResultStatus status = ResultStatus::Valid;  // of this component
  bool counted = false;               // the average takes it
  std::optional<InvalidReason> notCounted;    // why not, when it does not
};

// What every component of a result shares: its O2 (dry) and the factor to
// the reference O2 `o2Ref` of its fuel row (none: no value).
struct ResultBasis {
  std::optional<double> o2;      // O2 %, dry; none for a code
  std::optional<double> factor;  // 1 where the correction is not applied
};
ResultBasis basisOf(const Result& r, std::optional<double> o2Ref, const ValidationConfig& v);

// What an average needs of one component of a result: the value at the
// reference O2 and whether it counts. evaluate() gives the same with every
// step besides, for showing.
struct ValueVerdict {
  bool hasValue = false;
  double atReference = 0;  // meaningful with hasValue
  bool outsideRange = false;
  bool counted = false;
  ResultStatus status = ResultStatus::Valid;
  InvalidReason notCounted = InvalidReason::NoValue;  // meaningful when not counted
};
ValueVerdict judgeValue(const Result& r, Component c, ResultStatus resultStatus, const ResultBasis& basis,
                        const ValidationConfig& v);

// The chain for one component of `r` with status `resultStatus` (the
// result's, decided when taken or from what it holds).
ComponentValue evaluate(const Result& r, Component c, ResultStatus resultStatus, const ResultBasis& basis,
                        const ValidationConfig& v);
inline ComponentValue evaluate(const Result& r, Component c, ResultStatus resultStatus, std::optional<double> o2Ref,
                               const ValidationConfig& v) {
  return evaluate(r, c, resultStatus, basisOf(r, o2Ref, v), v);
}

// The reference O2 of the result's fuel row; none when the list has none.
std::optional<double> referenceO2(const Result& r, const std::vector<double>& o2RefByFuel);

}  // namespace emissions
