#include "emissions/regulation.h"

namespace emissions {

namespace {

// CO, NOx, SO2, H2S: the shares IED Annex V Part 3 (9), Annex VI Part 6 (1.3)
// and 44. BImSchV Annex 2 set alike; none for H2S.
constexpr std::array<std::optional<double>, kComponentCount> kIedShares = {10.0, 20.0, 20.0, std::nullopt};

const RegulationRules kRules[kRegulationProfileCount] = {
    {RegulationProfile::None, "none", 0, -1, 0, {}, false, ""},
    {RegulationProfile::WasteIncineration, "17bimschv", 30, 5, 10, kIedShares, true,
     "IED 2010/75/EU Annex VI Part 6 (1.3), Part 8 (1.2); 17. BImSchV"},
    {RegulationProfile::LargeCombustion, "13bimschv", 60, 3, 10, kIedShares, false,
     "IED 2010/75/EU Annex V Part 3 (9), (10); 13. BImSchV Annex 4"},
    {RegulationProfile::MediumCombustion, "44bimschv", 30, 6, 10, kIedShares, false,
     "44. BImSchV § 30, Annex 2"},
};

}  // namespace

const RegulationRules& regulationRules(RegulationProfile p) {
  const int i = int(p);
  return kRules[i >= 0 && i < kRegulationProfileCount ? i : 0];
}

std::optional<RegulationProfile> profileFromKey(const QString& key) {
  for (const RegulationRules& r : kRules)
    if (key.compare(QLatin1String(r.key), Qt::CaseInsensitive) == 0) return r.profile;
  return std::nullopt;
}

QString profileTitle(RegulationProfile p) {
  switch (p) {
    case RegulationProfile::None:
      return QStringLiteral(u"без регламента");
    case RegulationProfile::WasteIncineration:
      return QStringLiteral(u"17. BImSchV (сжигание отходов, IED прил. VI)");
    case RegulationProfile::LargeCombustion:
      return QStringLiteral(u"13. BImSchV (крупные топочные установки, IED прил. V)");
    case RegulationProfile::MediumCombustion:
      return QStringLiteral(u"44. BImSchV (средние топочные установки)");
  }
  return {};
}

}  // namespace emissions
