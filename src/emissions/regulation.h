#pragma once
// The regulation a plant reports by: a small table of rules per profile, each
// with where it comes from. A profile says how long the short-term averages
// are, when they and the days are valid, which share of the daily limit the
// 95 % confidence interval is, and how the reference O2 is applied.
//
//   profile                   short-term   invalid a day        CI of the daily limit        O2 correction
//   none                      settings     5 of 48 half hours   none                         always
//   17. BImSchV / IED VI      30 min       5 half hours         CO 10, SO2 20, NOx 20 %      only above the reference
//   13. BImSchV / IED V       60 min       3 hours              CO 10, SO2 20, NOx 20 %      always
//   44. BImSchV               30 min       6 half hours         CO 10, SO2 20, NOx 20 %      always
//
// Every regulation profile: a short-term average valid with two thirds of its
// expected results; at most 10 invalid days a year; a validated value below 0
// counts as 0. H2S has no confidence interval in these texts: the permit's
// figure goes into the settings.

#include <QString>
#include <array>
#include <optional>

#include "emissions/conversion.h"

namespace emissions {

// The numbers are stored with the averages: never renumber.
enum class RegulationProfile : uint8_t {
  None = 0,               // no regulation: the averages as they always were
  WasteIncineration = 1,  // 17. BImSchV, IED 2010/75/EU Annex VI
  LargeCombustion = 2,    // 13. BImSchV, IED 2010/75/EU Annex V
  MediumCombustion = 3,   // 44. BImSchV
};
inline constexpr int kRegulationProfileCount = 4;
inline constexpr std::array<RegulationProfile, kRegulationProfileCount> kRegulationProfiles = {
    RegulationProfile::None, RegulationProfile::WasteIncineration, RegulationProfile::LargeCombustion,
    RegulationProfile::MediumCombustion};

struct RegulationRules {
  RegulationProfile profile = RegulationProfile::None;
  const char* key = "none";  // as the settings file names it
  // Short-term averages in minutes; 0: the interval length of the settings.
  int shortTermMinutes = 0;
  // Short-term averages invalid through malfunction or maintenance a day may
  // have and still be valid; -1: 5 of 48 half hours, scaled to the interval.
  int maxInvalidPerDay = -1;
  int maxInvalidDaysPerYear = 0;  // 0: not counted
  // The 95 % confidence interval, per cent of the daily limit; empty: none.
  std::array<std::optional<double>, kComponentCount> confidencePercent{};
  // The measured value is brought to the reference O2 only when the measured
  // O2 is above it (flue-gas cleaning must not gain from dilution).
  bool o2CorrectionOnlyAbove = false;
  const char* source = "";  // the texts the rules come from
};

const RegulationRules& regulationRules(RegulationProfile p);
// "none", "17bimschv", "13bimschv", "44bimschv"; empty for a key not known.
std::optional<RegulationProfile> profileFromKey(const QString& key);
// The operator's name: "без регламента", "17. BImSchV (мусоросжигание, IED гл. IV)", ...
QString profileTitle(RegulationProfile p);

}  // namespace emissions
