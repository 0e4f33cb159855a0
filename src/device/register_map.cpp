#include "device/register_map.h"

#include <cmath>

namespace {
// Held in extended precision, as the coefficients were first published.
constexpr long double kO2Factor = 0.476L;
constexpr long double kCOToPercent = 0.00004L;
constexpr long double kN2ToO2 = 3.76L;
constexpr long double kCpGas = 0.000133L;
constexpr long double kCpAir = 0.000108L;
constexpr long double kChemicalLoss = 0.302L;
}  // namespace

void deriveChannels(std::array<double, kChannelCount>& v, const FuelRow& fuel) {
  using namespace channel;
  const long double o2 = v[O2];
  const long double co = v[CO];
  const long double co2max = fuel.co2Max;

  v[CO2] = double(((10 - kO2Factor * (o2 - kCOToPercent * co)) * co2max - co) / 10000);
  v[NOx] = (v[NO] < 9999 && v[NO2] < 999) ? v[NO] + v[NO2] : 0;
  if (!(v[CO2] >= 0.5)) v[CO2] = 0;  // also NaN
  // The later steps work on the stored value, as the record holds it.
  const long double co2 = v[CO2];

  if (o2 >= 20) {
    v[Alf] = 0;
  } else {
    const long double n2 = 100 - co2 - o2 - co / 10000;
    long double alf = n2 / (n2 - kN2ToO2 * (o2 - co / 20000));
    // Only nonsense readings reach a zero divisor: no ratio then.
    if (std::isnan(alf) || alf == -INFINITY) alf = 0;
    if (alf > 10) alf = 10;
    v[Alf] = double(alf);
  }

  const long double tg = v[Tg];
  const long double dT = tg - v[Ta];
  long double qa = 0;
  // A fuel row edited to T'max or P of 0 would divide by zero: no heat loss then.
  if (co2 > 1 && dT > 20 && fuel.tMax != 0 && fuel.kfP != 0) {
    const long double h = co2max / (co2 * 1000 + co / 10);
    const long double u = 1 + (tg - 200) * kCpGas;
    const long double w = 1 + (tg - 200) * kCpAir;
    qa = dT / fuel.tMax *
             (u * (long double)fuel.kfC / 10 +
              (h - 1) * (long double)fuel.kfB * (long double)fuel.kfK / 10000 * w) +
         kChemicalLoss * co * h / fuel.kfP;
    if (qa > 100) qa = 100;
    if (!(qa >= 0)) qa = 0;  // also NaN
  }
  v[Qa] = double(qa);
}

Measurement decodeMeasurement(const uint8_t* reply, const FuelRow& fuel, double now) {
  using namespace channel;
  Measurement m;
  m.faultBits = registerU(reply, 1) & 0x0FFF;
  m[Tg] = registerS(reply, 2);
  m[Ta] = registerS(reply, 3);
  m[O2] = registerU(reply, 4) / 100.0;
  m[CO] = registerU(reply, 6);
  m[NO] = registerU(reply, 7);
  m[NO2] = registerU(reply, 8);
  m[SO2] = registerU(reply, 9);
  m[H2S] = registerU(reply, 10);

  deriveChannels(m.values, fuel);
  m.time = now;
  return m;
}
