#pragma once
// A result as the poll cycle takes it over: when it was taken, the values,
// and the circumstances (mode, fuel row, analyzer address). It travels as a
// value from the poll cycle to everything that keeps or shows results.

#include <QtGlobal>
#include <array>
#include <cstdint>

#include "core/measurement.h"

// What the program is doing with the analyzer.
enum class WorkMode : uint8_t {
  Idle = 0,
  Continuous = 1,
  Single = 2,
  Cyclic = 3,
  Stopping = 4,
  StartUp = 5,
};

// What a result is worth as evidence, decided when it is taken; when several
// apply, the highest wins. The numbers are stored: never renumber.
enum class ResultStatus : uint8_t {
  Valid = 0,
  OutOfRange = 1,   // outside the calibrated range: still valid, but flagged
  Substitute = 2,   // entered by the operator, with a reason
  Maintenance = 3,  // the operator's maintenance switch was on
  Fault = 4,        // the analyzer reported a fault
  PlantOff = 5,     // the plant was not operating
  Test = 6,         // zero setting or a test-gas check
};
inline constexpr int kResultStatusCount = 7;

struct Result {
  qint64 utcMs = 0;       // when it was taken: milliseconds since 1970-01-01 UTC
  int32_t utcOffset = 0;  // seconds east of UTC of the local clock then
  int32_t faultBits = 0;
  std::array<double, kChannelCount> values{};  // channel order, special codes kept
  WorkMode mode = WorkMode::Idle;
  uint8_t fuelIndex = 0;  // row of the fuel table the derived channels came from
  uint8_t address = 1;    // the analyzer's network address
  ResultStatus status = ResultStatus::Valid;

  double operator[](int ch) const { return values[size_t(ch)]; }

  // The program's date-time of the result: days since 30 December 1899 on the
  // local clock as it read then (the form the table and the files show).
  double localDateTime() const {
    constexpr qint64 kMsPerDay = 86400000;
    constexpr qint64 kEpochDay = 25569;  // 1970-01-01 counted from 1899-12-30
    const qint64 local = utcMs + qint64(utcOffset) * 1000;
    qint64 day = local / kMsPerDay, ms = local % kMsPerDay;
    if (ms < 0) {
      ms += kMsPerDay;
      --day;
    }
    return double(day + kEpochDay) + double(ms) / double(kMsPerDay);
  }
};
