#include <gtest/gtest.h>

#include <cstring>

#include "device/fuel_table.h"
#include "device/register_map.h"
#include "support/analyzer_replies.h"

namespace {

constexpr double kNow = 46000.5;

class DecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { FuelTableReset(); }
  void TearDown() override { FuelTableReset(); }

  TMeasurement Decode(const StatusRegisters& r, const TFuelRow& fuel = FuelTable[0]) {
    const Frame reply = StatusReply(1, r);
    TMeasurement m;
    std::memset(&m, 0xA5, sizeof m);  // every field must be written
    DecodeMeasurement(reply.data(), fuel, kNow, m);
    return m;
  }
};

TEST_F(DecodeTest, TheWorkedExampleOfNaturalGas) {
  const TMeasurement m = Decode(StatusRegisters{});  // Tg 180, Ta 20, O2 3.50, CO 50, NO 40, NO2 5
  EXPECT_EQ(int32_t(m.FaultBits), 0);
  EXPECT_EQ(double(m.Tg), 180.0);
  EXPECT_EQ(double(m.Ta), 20.0);
  EXPECT_DOUBLE_EQ(double(m.O2), 3.5);
  EXPECT_EQ(double(m.CO), 50.0);
  EXPECT_EQ(double(m.NO), 40.0);
  EXPECT_EQ(double(m.NO2), 5.0);
  EXPECT_EQ(double(m.SO2), 0.0);
  EXPECT_EQ(double(m.H2S), 0.0);
  EXPECT_NEAR(double(m.CO2), 9.8302, 0.00005);
  EXPECT_EQ(double(m.NOx), 45.0);
  EXPECT_NEAR(double(m.Alf), 1.1789, 0.00005);
  EXPECT_NEAR(double(m.Qa), 7.6338, 0.00005);
  EXPECT_EQ(double(m.MeasTime), kNow);
}

TEST_F(DecodeTest, TemperaturesAreSignedTheOtherRegistersUnsigned) {
  StatusRegisters r;
  r.tg = int16_t(0xFF38);
  r.ta = -5;
  r.co = 0x8000;
  r.so2 = 0xFFFF;
  r.h2s = 0x8002;
  const TMeasurement m = Decode(r);
  EXPECT_EQ(double(m.Tg), -200.0);
  EXPECT_EQ(double(m.Ta), -5.0);
  EXPECT_EQ(double(m.CO), 32768.0);
  EXPECT_EQ(double(m.SO2), 65535.0);
  EXPECT_EQ(double(m.H2S), 32770.0);
}

TEST_F(DecodeTest, AnOverloadedOxygenSensorGivesNoDerivedValues) {
  StatusRegisters r;
  r.o2 = 0x8000;
  const TMeasurement m = Decode(r);
  EXPECT_DOUBLE_EQ(double(m.O2), 327.68);  // shown as "перег." by the display
  EXPECT_EQ(double(m.CO2), 0.0);
  EXPECT_EQ(double(m.Alf), 0.0);
  EXPECT_EQ(double(m.Qa), 0.0);
  EXPECT_EQ(double(m.NOx), 45.0);  // NO and NO2 are fine
}

TEST_F(DecodeTest, NOxIsZeroFromNo9999OrNo2999Up) {
  const auto nox = [this](uint16_t no, uint16_t no2) {
    StatusRegisters r;
    r.no = no;
    r.no2 = no2;
    return Decode(r).NOx;
  };
  EXPECT_EQ(nox(9998, 998), 9998.0 + 998.0);
  EXPECT_EQ(nox(9999, 5), 0.0);
  EXPECT_EQ(nox(40, 999), 0.0);
  EXPECT_EQ(nox(0x8000, 5), 0.0);  // a special value in NO
  EXPECT_EQ(nox(40, 0x8001), 0.0);
}

TEST_F(DecodeTest, CO2BelowHalfAPerCentIsZero) {
  StatusRegisters r;
  r.co = 0;
  r.o2 = 2050;  // (10 - 0.476 x 20.5) x 1.18 = 0.2856
  EXPECT_EQ(double(Decode(r).CO2), 0.0);
  r.o2 = 2000;  // (10 - 0.476 x 20) x 1.18 = 0.5664
  EXPECT_NEAR(double(Decode(r).CO2), 0.5664, 1e-12);
}

TEST_F(DecodeTest, ExcessAirIsZeroFromO2Of20PerCentAndCappedAt10Below) {
  StatusRegisters r;
  r.o2 = 2000;
  EXPECT_EQ(double(Decode(r).Alf), 0.0);
  r.o2 = 1999;  // the formula gives about 18: capped
  EXPECT_EQ(double(Decode(r).Alf), 10.0);
  r.o2 = 1000;  // 10 %: the formula itself, about 1.9
  const double alf = Decode(r).Alf;
  EXPECT_GT(alf, 1.5);
  EXPECT_LT(alf, 2.5);
}

TEST_F(DecodeTest, HeatLossNeedsMoreThan20DegreesAboveAmbient) {
  StatusRegisters r;
  r.tg = 40;
  r.ta = 20;
  EXPECT_EQ(double(Decode(r).Qa), 0.0);
  r.tg = 41;
  EXPECT_GT(double(Decode(r).Qa), 0.0);
}

TEST_F(DecodeTest, HeatLossNeedsMoreThanOnePerCentCO2) {
  // With O2 and CO at 0 the CO2 is CO2max / 1000 exactly.
  TFuelRow fuel = FuelTable[0];
  StatusRegisters r;
  r.o2 = 0;
  r.co = 0;
  fuel.CO2max = 1000;
  const TMeasurement at1 = Decode(r, fuel);
  EXPECT_EQ(double(at1.CO2), 1.0);
  EXPECT_EQ(double(at1.Qa), 0.0);
  fuel.CO2max = 1001;
  EXPECT_GT(double(Decode(r, fuel).Qa), 0.0);
}

TEST_F(DecodeTest, HeatLossIsCappedAt100) {
  StatusRegisters r;
  r.tg = 30000;
  EXPECT_EQ(double(Decode(r).Qa), 100.0);
}

TEST_F(DecodeTest, AFuelRowWithTmaxOrPOfZeroGivesNoHeatLossInsteadOfDividingByZero) {
  TFuelRow fuel = FuelTable[0];
  fuel.Tmax = 0;
  TMeasurement m = Decode(StatusRegisters{}, fuel);
  EXPECT_EQ(double(m.Qa), 0.0);
  EXPECT_NEAR(double(m.CO2), 9.8302, 0.00005);  // the rest as usual
  fuel = FuelTable[0];
  fuel.kfP = 0;
  m = Decode(StatusRegisters{}, fuel);
  EXPECT_EQ(double(m.Qa), 0.0);
  EXPECT_NEAR(double(m.Alf), 1.1789, 0.00005);
}

TEST_F(DecodeTest, OnlyTheLowTwelveFaultBitsAreKept) {
  StatusRegisters r;
  r.faults = 0xF000;
  EXPECT_EQ(int32_t(Decode(r).FaultBits), 0);
  r.faults = 0xFFFF;
  EXPECT_EQ(int32_t(Decode(r).FaultBits), 0x0FFF);
  r.faults = 0x0805;
  EXPECT_EQ(int32_t(Decode(r).FaultBits), 0x0805);
}

TEST_F(DecodeTest, Register5AndTheStateServiceAndHoursRegistersChangeNothing) {
  const TMeasurement base = Decode(StatusRegisters{});
  StatusRegisters r;
  r.reg5 = 0xFFFF;
  r.state = 0x0203;
  r.serviceDay = 1;
  r.serviceMonth = 2;
  r.serviceYear = 1999;
  r.runningHours = 65535;
  const TMeasurement other = Decode(r);
  EXPECT_EQ(std::memcmp(&base, &other, sizeof base), 0);
}

TEST_F(DecodeTest, TheSelectedFuelsCoefficientsAreUsed) {
  const TMeasurement gas = Decode(StatusRegisters{}, FuelTable[0]);
  const TMeasurement wood = Decode(StatusRegisters{}, FuelTable[10]);
  EXPECT_NEAR(double(wood.CO2), ((10 - 0.476 * (3.5 - 0.002)) * 20500 - 50) / 10000, 1e-12);
  EXPECT_GT(double(wood.CO2), double(gas.CO2));
  EXPECT_NE(double(wood.Qa), double(gas.Qa));
}

struct FuelExpectation {
  const char16_t* name;
  int32_t tmax, co2max, b, c, k, p, o2ref;
};

const FuelExpectation kFuels[kFuelCount] = {
    {u"ПРИРОДНЫЙ ГАЗ", 2010, 11800, 810, 833, 780, 1000, 3},
    {u"СЖИЖЕННЫЙ ГАЗ", 2080, 14000, 850, 833, 780, 1000, 3},
    {u"НЕФТЕПРОМЫСЛОВЫЙ ГАЗ", 2050, 13000, 840, 833, 780, 1000, 3},
    {u"КОКСОВЫЙ ГАЗ", 2090, 10400, 770, 833, 780, 1090, 3},
    {u"СЛАНЦЕВЫЙ ГАЗ", 1950, 16200, 820, 833, 780, 1000, 3},
    {u"ДОМЕННЫЙ ГАЗ", 1470, 24500, 980, 844, 794, 620, 3},
    {u"ДИЗЕЛЬНОЕ ТОПЛИВО", 2098, 15600, 870, 833, 780, 975, 3},
    {u"МАЗУТ", 2115, 16300, 880, 833, 780, 965, 3},
    {u"AНТРАЦИТ", 2160, 20200, 950, 833, 780, 915, 3},
    {u"КАМЕННЫЙ УГОЛЬ", 2050, 18700, 890, 833, 780, 940, 3},
    {u"ДРОВА СУХИЕ", 1610, 20500, 750, 844, 794, 875, 3},
    {u"ТОРФ", 1970, 19500, 860, 844, 794, 930, 3},
};

TEST(FuelTableTest, HoldsTheTwelveBuiltInFuels) {
  FuelTableReset();
  for (int i = 0; i < kFuelCount; ++i) {
    const TFuelRow& row = FuelTable[i];
    const FuelExpectation& e = kFuels[i];
    EXPECT_EQ(row.Name, QString::fromUtf16(e.name)) << i;
    EXPECT_EQ(row.Tmax, e.tmax) << i;
    EXPECT_EQ(row.CO2max, e.co2max) << i;
    EXPECT_EQ(row.kfB, e.b) << i;
    EXPECT_EQ(row.kfC, e.c) << i;
    EXPECT_EQ(row.kfK, e.k) << i;
    EXPECT_EQ(row.kfP, e.p) << i;
    EXPECT_EQ(row.O2ref, e.o2ref) << i;
  }
}

TEST(FuelTableTest, AnthraciteBeginsWithALatinAAndEveryOtherLetterIsCyrillic) {
  FuelTableReset();
  const QString name = FuelTable[8].Name;
  ASSERT_EQ(name.size(), 8);
  EXPECT_EQ(name.at(0), QLatin1Char('A'));
  for (int i = 1; i < name.size(); ++i) EXPECT_EQ(name.at(i).script(), QChar::Script_Cyrillic) << i;
  for (int row = 0; row < kFuelCount; ++row) {
    if (row == 8) continue;
    for (QChar c : FuelTable[row].Name) {
      if (!c.isLetter()) continue;
      EXPECT_EQ(c.script(), QChar::Script_Cyrillic) << row;
    }
  }
}

TEST(FuelTableTest, ResetUndoesTheEditsOfARun) {
  FuelTable[0].CO2max = 1;
  FuelTable[11].Name = QStringLiteral("Мой");
  FuelTableReset();
  EXPECT_EQ(FuelTable[0].CO2max, 11800);
  EXPECT_EQ(FuelTable[0].Tmax, 2010);
  EXPECT_EQ(FuelTable[11].Name, QStringLiteral("ТОРФ"));
}

}  // namespace
