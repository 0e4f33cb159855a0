#pragma once
// Results for the database tests, the same for a given number wherever they
// are made (the test and the writer process it kills must agree), with the
// values that are hard to keep: special codes, O2 that is no whole number of
// hundredths, derived channels with every bit of a double in use.

#include <sqlite3.h>

#include <QFile>
#include <QString>
#include <QtGlobal>
#include <cmath>
#include <cstring>
#include <string>

#include "core/result.h"
#include "device/fuel_table.h"
#include "device/register_map.h"

namespace store_rows {

// 2026-03-01 00:00:00 UTC.
inline constexpr qint64 kStartUtcMs = 1772323200000;

inline Result Row(qint64 i) {
  Result r;
  r.utcMs = kStartUtcMs + i * 1000;
  r.utcOffset = 3 * 3600;
  r.faultBits = (i % 500) < 3 ? int32_t(0x005) : 0;
  r.mode = WorkMode::Continuous;
  r.fuelIndex = uint8_t(i % 3);
  r.address = 1;
  const double t = double(i);
  r.values[channel::Tg] = std::round(180 + 15 * std::sin(t / 1100) + 3 * std::sin(t / 7));
  r.values[channel::O2] = (i % 211 == 0) ? 6.0 + t * 1e-7 : std::round(600 + 120 * std::sin(t / 573)) / 100.0;
  r.values[channel::CO] = (i % 97 == 0) ? kCodeOverload : std::round(40 + 25 * std::sin(t / 286));
  r.values[channel::NO] = std::round(120 + 10 * std::sin(t / 859));
  r.values[channel::NO2] = (i % 89 == 0) ? kCodeNoValue : double(3 + i % 2);
  r.values[channel::SO2] = double(2 + i % 3);
  r.values[channel::H2S] = (i % 101 == 0) ? kCodeError : 0;
  const double o2 = r.values[channel::O2];
  r.values[channel::CO2] = 11.7 * (21 - o2) / 21;
  r.values[channel::NOx] = r.values[channel::NO] + r.values[channel::NO2];
  r.values[channel::Alf] = 21 / (21 - o2);
  r.values[channel::Qa] = 4 + 0.03 * r.values[channel::Tg] * r.values[channel::Alf];
  r.values[channel::Ta] = std::round(20 + 3 * std::sin(t / 13751));
  return r;
}

// A result as the analyzer's readings make it: two-decimal O2, temperatures
// in whole degrees that go below zero, whole ppm, now and then a code, the
// derived channels computed from the fuel row as decoding does, a status.
inline Result AnalyzerRow(qint64 i, const FuelRow* fuels = nullptr) {
  static const FuelTable builtIn = builtInFuelTable();
  if (!fuels) fuels = builtIn.data();
  using namespace channel;
  Result r;
  r.utcMs = kStartUtcMs + i * 1000;
  r.utcOffset = 3 * 3600;
  r.faultBits = (i % 500) < 3 ? int32_t(0x005) : 0;
  r.mode = WorkMode::Continuous;
  r.fuelIndex = uint8_t(i / 1000 % 3);
  r.address = 1;
  r.status = ResultStatus(i % 600 < 5 ? i % kResultStatusCount : 0);
  const double t = double(i);
  auto& v = r.values;
  v[Tg] = std::round(180 + 15 * std::sin(t / 1100) + 3 * std::sin(t / 7));
  v[Ta] = std::round(-4 + 12 * std::sin(t / 13751));
  v[O2] = (i % 97 == 0) ? kCodeOverload / 100.0 : std::round(600 + 120 * std::sin(t / 573) + 9 * std::sin(t / 3)) / 100.0;
  v[CO] = (i % 89 == 0) ? kCodeError : std::round(40 + 25 * std::sin(t / 286) + 3 * std::sin(t / 5));
  v[NO] = std::round(120 + 10 * std::sin(t / 859));
  v[NO2] = (i % 101 == 0) ? kCodeNoValue : double(3 + i % 2);
  v[SO2] = double(2 + i % 3);
  v[H2S] = 0;
  deriveChannels(v, fuels[r.fuelIndex]);
  return r;
}

// Field by field, the doubles bit by bit; empty when equal, else what differs.
inline std::string Difference(const Result& a, const Result& b) {
  std::string d;
  if (a.utcMs != b.utcMs) d += " utcMs";
  if (a.utcOffset != b.utcOffset) d += " utcOffset";
  if (a.faultBits != b.faultBits) d += " faultBits";
  if (a.mode != b.mode) d += " mode";
  if (a.fuelIndex != b.fuelIndex) d += " fuelIndex";
  if (a.address != b.address) d += " address";
  if (a.status != b.status) d += " status";
  for (int ch = 0; ch < kChannelCount; ++ch)
    if (std::memcmp(&a.values[size_t(ch)], &b.values[size_t(ch)], sizeof(double)) != 0)
      d += std::string(" ") + channel::kNames[ch];
  return d;
}

// SQLite's own verdict on the whole file: "ok" when it is sound.
inline std::string integrityCheck(const QString& path) {
  sqlite3* db = nullptr;
  std::string verdict = "cannot open";
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      verdict = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(db);
  return verdict;
}

}  // namespace store_rows
