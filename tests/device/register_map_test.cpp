#include <gtest/gtest.h>

#include "device/fuel_table.h"
#include "device/register_map.h"
#include "support/analyzer_replies.h"

namespace {

constexpr double kNow = 46000.5;

const FuelTable fuelTable = builtInFuelTable();

class DecodeTest : public ::testing::Test {
 protected:
  // The channels by name, for readable checks.
  struct Decoded {
    int32_t faultBits;
    double tg, ta, o2, co, no, no2, so2, h2s, co2, nox, qa, alf, measTime;
  };

  static Decoded decode(const StatusRegisters& r, const FuelRow& fuel = fuelTable[size_t(0)]) {
    using namespace channel;
    const Frame reply = statusReply(1, r);
    const Measurement m = decodeMeasurement(reply.data(), fuel, kNow);
    return {m.faultBits, m[Tg], m[Ta],  m[O2],  m[CO], m[NO], m[NO2], m[SO2],
            m[H2S],      m[CO2], m[NOx], m[Qa], m[Alf], m.time};
  }
};

TEST_F(DecodeTest, TheWorkedExampleOfNaturalGas) {
  const Decoded m = decode(StatusRegisters{});  // Tg 180, Ta 20, O2 3.50, CO 50, NO 40, NO2 5
  EXPECT_EQ(int32_t(m.faultBits), 0);
  EXPECT_EQ(double(m.tg), 180.0);
  EXPECT_EQ(double(m.ta), 20.0);
  EXPECT_DOUBLE_EQ(double(m.o2), 3.5);
  EXPECT_EQ(double(m.co), 50.0);
  EXPECT_EQ(double(m.no), 40.0);
  EXPECT_EQ(double(m.no2), 5.0);
  EXPECT_EQ(double(m.so2), 0.0);
  EXPECT_EQ(double(m.h2s), 0.0);
  EXPECT_NEAR(double(m.co2), 9.8302, 0.00005);
  EXPECT_EQ(double(m.nox), 45.0);
  EXPECT_NEAR(double(m.alf), 1.1789, 0.00005);
  EXPECT_NEAR(double(m.qa), 7.6338, 0.00005);
  EXPECT_EQ(double(m.measTime), kNow);
}

TEST_F(DecodeTest, TemperaturesAreSignedTheOtherRegistersUnsigned) {
  StatusRegisters r;
  r.tg = int16_t(0xFF38);
  r.ta = -5;
  r.co = 0x8000;
  r.so2 = 0xFFFF;
  r.h2s = 0x8002;
  const Decoded m = decode(r);
  EXPECT_EQ(double(m.tg), -200.0);
  EXPECT_EQ(double(m.ta), -5.0);
  EXPECT_EQ(double(m.co), 32768.0);
  EXPECT_EQ(double(m.so2), 65535.0);
  EXPECT_EQ(double(m.h2s), 32770.0);
}

TEST_F(DecodeTest, AnOverloadedOxygenSensorGivesNoDerivedValues) {
  StatusRegisters r;
  r.o2 = 0x8000;
  const Decoded m = decode(r);
  EXPECT_DOUBLE_EQ(double(m.o2), 327.68);  // shown as "перег." by the display
  EXPECT_EQ(double(m.co2), 0.0);
  EXPECT_EQ(double(m.alf), 0.0);
  EXPECT_EQ(double(m.qa), 0.0);
  EXPECT_EQ(double(m.nox), 45.0);  // NO and NO2 are fine
}

TEST_F(DecodeTest, NOxIsZeroFromNo9999OrNo2999Up) {
  const auto nox = [this](uint16_t no, uint16_t no2) {
    StatusRegisters r;
    r.no = no;
    r.no2 = no2;
    return decode(r).nox;
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
  EXPECT_EQ(double(decode(r).co2), 0.0);
  r.o2 = 2000;  // (10 - 0.476 x 20) x 1.18 = 0.5664
  EXPECT_NEAR(double(decode(r).co2), 0.5664, 1e-12);
}

TEST_F(DecodeTest, ExcessAirIsZeroFromO2Of20PerCentAndCappedAt10Below) {
  StatusRegisters r;
  r.o2 = 2000;
  EXPECT_EQ(double(decode(r).alf), 0.0);
  r.o2 = 1999;  // the formula gives about 18: capped
  EXPECT_EQ(double(decode(r).alf), 10.0);
  r.o2 = 1000;  // 10 %: the formula itself, about 1.9
  const double alf = decode(r).alf;
  EXPECT_GT(alf, 1.5);
  EXPECT_LT(alf, 2.5);
}

TEST_F(DecodeTest, HeatLossNeedsMoreThan20DegreesAboveAmbient) {
  StatusRegisters r;
  r.tg = 40;
  r.ta = 20;
  EXPECT_EQ(double(decode(r).qa), 0.0);
  r.tg = 41;
  EXPECT_GT(double(decode(r).qa), 0.0);
}

TEST_F(DecodeTest, HeatLossNeedsMoreThanOnePerCentCO2) {
  // With O2 and CO at 0 the CO2 is co2Max / 1000 exactly.
  FuelRow fuel = fuelTable[size_t(0)];
  StatusRegisters r;
  r.o2 = 0;
  r.co = 0;
  fuel.co2Max = 1000;
  const Decoded at1 = decode(r, fuel);
  EXPECT_EQ(double(at1.co2), 1.0);
  EXPECT_EQ(double(at1.qa), 0.0);
  fuel.co2Max = 1001;
  EXPECT_GT(double(decode(r, fuel).qa), 0.0);
}

TEST_F(DecodeTest, HeatLossIsCappedAt100) {
  StatusRegisters r;
  r.tg = 30000;
  EXPECT_EQ(double(decode(r).qa), 100.0);
}

TEST_F(DecodeTest, AFuelRowWithTmaxOrPOfZeroGivesNoHeatLossInsteadOfDividingByZero) {
  FuelRow fuel = fuelTable[size_t(0)];
  fuel.tMax = 0;
  Decoded m = decode(StatusRegisters{}, fuel);
  EXPECT_EQ(double(m.qa), 0.0);
  EXPECT_NEAR(double(m.co2), 9.8302, 0.00005);  // the rest as usual
  fuel = fuelTable[size_t(0)];
  fuel.kfP = 0;
  m = decode(StatusRegisters{}, fuel);
  EXPECT_EQ(double(m.qa), 0.0);
  EXPECT_NEAR(double(m.alf), 1.1789, 0.00005);
}

TEST_F(DecodeTest, OnlyTheLowTwelveFaultBitsAreKept) {
  StatusRegisters r;
  r.faults = 0xF000;
  EXPECT_EQ(int32_t(decode(r).faultBits), 0);
  r.faults = 0xFFFF;
  EXPECT_EQ(int32_t(decode(r).faultBits), 0x0FFF);
  r.faults = 0x0805;
  EXPECT_EQ(int32_t(decode(r).faultBits), 0x0805);
}

TEST_F(DecodeTest, Register5AndTheStateServiceAndHoursRegistersChangeNothing) {
  StatusRegisters r;
  r.reg5 = 0xFFFF;
  r.state = 0x0203;
  r.serviceDay = 1;
  r.serviceMonth = 2;
  r.serviceYear = 1999;
  r.runningHours = 65535;
  const Frame plain = statusReply(1, StatusRegisters{}), other = statusReply(1, r);
  const Measurement a = decodeMeasurement(plain.data(), fuelTable[size_t(0)], kNow);
  const Measurement b = decodeMeasurement(other.data(), fuelTable[size_t(0)], kNow);
  EXPECT_EQ(a.values, b.values);
  EXPECT_EQ(a.faultBits, b.faultBits);
}

TEST_F(DecodeTest, TheSelectedFuelsCoefficientsAreUsed) {
  const Decoded gas = decode(StatusRegisters{}, fuelTable[size_t(0)]);
  const Decoded wood = decode(StatusRegisters{}, fuelTable[size_t(10)]);
  EXPECT_NEAR(double(wood.co2), ((10 - 0.476 * (3.5 - 0.002)) * 20500 - 50) / 10000, 1e-12);
  EXPECT_GT(double(wood.co2), double(gas.co2));
  EXPECT_NE(double(wood.qa), double(gas.qa));
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
  for (int i = 0; i < kFuelCount; ++i) {
    const FuelRow& row = fuelTable[size_t(i)];
    const FuelExpectation& e = kFuels[i];
    EXPECT_EQ(row.name, QString::fromUtf16(e.name)) << i;
    EXPECT_EQ(row.tMax, e.tmax) << i;
    EXPECT_EQ(row.co2Max, e.co2max) << i;
    EXPECT_EQ(row.kfB, e.b) << i;
    EXPECT_EQ(row.kfC, e.c) << i;
    EXPECT_EQ(row.kfK, e.k) << i;
    EXPECT_EQ(row.kfP, e.p) << i;
    EXPECT_EQ(row.o2Ref, e.o2ref) << i;
  }
}

TEST(FuelTableTest, AnthraciteBeginsWithALatinAAndEveryOtherLetterIsCyrillic) {
  const QString name = fuelTable[size_t(8)].name;
  ASSERT_EQ(name.size(), 8);
  EXPECT_EQ(name.at(0), QLatin1Char('A'));
  for (int i = 1; i < name.size(); ++i) EXPECT_EQ(name.at(i).script(), QChar::Script_Cyrillic) << i;
  for (int row = 0; row < kFuelCount; ++row) {
    if (row == 8) continue;
    for (QChar c : fuelTable[size_t(row)].name) {
      if (!c.isLetter()) continue;
      EXPECT_EQ(c.script(), QChar::Script_Cyrillic) << row;
    }
  }
}

TEST(FuelTableTest, EveryRunStartsWithTheBuiltInTableAndEachRowsReferenceO2) {
  FuelTable edited = builtInFuelTable();
  edited[0].co2Max = 1;
  edited[11].name = QStringLiteral("Мой");
  edited[10].o2Ref = 11;
  EXPECT_NE(edited, builtInFuelTable());
  const FuelTable fresh = builtInFuelTable();
  EXPECT_EQ(fresh[0].co2Max, 11800);
  EXPECT_EQ(fresh[0].tMax, 2010);
  EXPECT_EQ(fresh[11].name, QStringLiteral("ТОРФ"));
  const std::vector<double> refs = o2References(edited);
  ASSERT_EQ(refs.size(), size_t(kFuelCount));
  EXPECT_EQ(refs[10], 11);
  EXPECT_EQ(refs[0], 3);
}

}  // namespace
