// Emission values: mg/m3 from ppm, corrected to the reference O2 of the
// result's fuel row, and none where the inputs do not allow one.

#include "emissions/conversion.h"

#include <gtest/gtest.h>

#include "device/fuel_table.h"
#include "emissions_support.h"

namespace {

using namespace emissions_test;

double value(const EmissionValues& v, Component c) {
  const auto& x = v[size_t(index(c))];
  EXPECT_TRUE(x.has_value()) << componentName(c);
  return x.value_or(-1);
}

const QTimeZone kUtc = QTimeZone::utc();

TEST(EmissionConversion, FactorsAtTheReferenceO2) {
  const EmissionValues v = convert(result(0, kUtc, {3, 100, 100, 0, 100, 100}), /*o2Ref=*/3.0);
  EXPECT_NEAR(value(v, Component::CO), 125.0, 1e-9);
  EXPECT_NEAR(value(v, Component::NOx), 205.3, 1e-9);  // as NO2, not 133.9 as NO
  EXPECT_NEAR(value(v, Component::SO2), 285.8, 1e-9);
  EXPECT_NEAR(value(v, Component::H2S), 152.1, 1e-9);

  // NOx is NO and NO2 together, both expressed as NO2.
  const EmissionValues mixed = convert(result(0, kUtc, {3, 0, 40, 10}), 3.0);
  EXPECT_NEAR(value(mixed, Component::NOx), 102.65, 1e-9);
}

TEST(EmissionConversion, WorkedCheckHundredPpmNoAtSixPerCentToThree) {
  const EmissionValues v = convert(result(0, kUtc, {6, 0, 100, 0}), 3.0);
  // 205.3 * 18 / 15; the worked figure 246.3 is this value cut to one decimal.
  EXPECT_NEAR(value(v, Component::NOx), 246.36, 1e-9);
  EXPECT_NEAR(value(v, Component::NOx), 246.3, 0.1);
}

TEST(EmissionFuelRowReference, ReferenceO2ComesFromTheFuelRowTheResultNames) {
  FuelTable fuels = builtInFuelTable();
  fuels[9].o2Ref = 6;    // coal
  fuels[10].o2Ref = 11;  // wood
  const std::vector<double> refs = o2References(fuels);

  Result r = result(0, kUtc, {11, 100});  // 125 mg/m3 at 11 % O2
  r.fuelIndex = 10;
  EXPECT_NEAR(value(convert(r, refs), Component::CO), 125.0, 1e-9);
  r.fuelIndex = 9;
  EXPECT_NEAR(value(convert(r, refs), Component::CO), 187.5, 1e-9);
  r.fuelIndex = 0;
  EXPECT_NEAR(value(convert(r, refs), Component::CO), 225.0, 1e-9);

  // A row the list does not have gives no value rather than another row's.
  r.fuelIndex = kFuelCount;
  for (const auto& v : convert(r, refs)) EXPECT_FALSE(v.has_value());
}

TEST(EmissionConversion, NoValueAtOrAbove20PerCentO2OrWithAnO2Code) {
  EXPECT_TRUE(convert(result(0, kUtc, {19.99, 100, 100, 0, 100, 100}), 3.0)[0].has_value());
  for (double o2 : {20.0, 20.5, 21.0, kCodeOverload / 100, kCodeError / 100, kCodeNoValue / 100}) {
    const EmissionValues v = convert(result(0, kUtc, {o2, 100, 100, 0, 100, 100}), 3.0);
    for (Component c : kComponents)
      EXPECT_FALSE(v[size_t(index(c))].has_value()) << componentName(c) << " at O2 " << o2;
  }
}

TEST(EmissionConversion, AnAnalyzerCodeRemovesOnlyTheComponentsThatNeedTheChannel) {
  const struct {
    int channel;
    double code;
    Component lost;
  } cases[] = {
      {channel::CO, kCodeOverload, Component::CO},  {channel::NO, kCodeError, Component::NOx},
      {channel::NO2, kCodeNoValue, Component::NOx}, {channel::SO2, kCodeOverload, Component::SO2},
      {channel::H2S, kCodeError, Component::H2S},
  };
  for (const auto& k : cases) {
    Result r = result(0, kUtc, {5, 100, 100, 10, 100, 100});
    r.values[size_t(k.channel)] = k.code;
    const EmissionValues v = convert(r, 3.0);
    for (Component c : kComponents) {
      EXPECT_EQ(v[size_t(index(c))].has_value(), c != k.lost)
          << channel::kNames[k.channel] << " code, " << componentName(c);
    }
  }
}

}  // namespace
