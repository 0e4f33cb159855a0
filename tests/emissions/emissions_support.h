#pragma once
// Building results for the emission tests: explicit zones, times and gases,
// never the machine's clock, zone or locale.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>

#include "core/result.h"
#include "emissions/averaging.h"

namespace emissions_test {

using namespace emissions;

// ppm and per cent as the analyzer sends them.
struct Gas {
  double o2 = 3;  // the reference O2 of every fuel: values come out unscaled
  double co = 0;
  double no = 0;
  double no2 = 0;
  double so2 = 0;
  double h2s = 0;
};

// CO in ppm that gives `mg` mg/m3 at the reference O2.
inline double coPpmFor(double mg) { return mg / kMgPerPpmCO; }

inline QTimeZone berlin() {
  const QTimeZone z("Europe/Berlin");
  EXPECT_TRUE(z.isValid()) << "time zone data for Europe/Berlin is missing";
  return z;
}

inline qint64 at(QDate d, QTime t, const QTimeZone& zone) {
  const QDateTime dt(d, t, zone);
  EXPECT_TRUE(dt.isValid()) << d.toString(Qt::ISODate).toStdString();
  return dt.toMSecsSinceEpoch();
}

inline Result result(qint64 utcMs, const QTimeZone& zone, const Gas& g, uint8_t fuel = 0) {
  Result r;
  r.utcMs = utcMs;
  r.utcOffset = utcOffsetAt(utcMs, zone);
  r.mode = WorkMode::Continuous;
  r.fuelIndex = fuel;
  r.values[channel::O2] = g.o2;
  r.values[channel::CO] = g.co;
  r.values[channel::NO] = g.no;
  r.values[channel::NO2] = g.no2;
  r.values[channel::SO2] = g.so2;
  r.values[channel::H2S] = g.h2s;
  r.values[channel::NOx] = g.no + g.no2;
  return r;
}

inline AveragingConfig config(const QTimeZone& zone, int intervalMinutes, int periodSeconds) {
  AveragingConfig c;
  c.zone = zone;
  c.intervalMinutes = intervalMinutes;
  c.resultPeriodSeconds = periodSeconds;
  c.o2RefByFuel = {3};
  return c;
}

// `count` results one period apart from `fromUtcMs`.
inline void appendResults(QVector<Result>& out, qint64 fromUtcMs, int count, int periodSeconds,
                          const QTimeZone& zone, const Gas& g) {
  for (int i = 0; i < count; ++i)
    out.append(result(fromUtcMs + qint64(i) * periodSeconds * 1000, zone, g));
}

}  // namespace emissions_test
