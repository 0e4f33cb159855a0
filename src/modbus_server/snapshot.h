#pragma once
// What the Modbus TCP server tells the plant's control system of one
// analyzer, as a value: the link and the analyzer's state, the last result
// with its status and emission values, the averages, the latched alarms.
// The measuring side fills one per analyzer and hands it to the server; the
// server never reaches into the measuring side.

#include <QtGlobal>
#include <array>
#include <cstdint>
#include <optional>

#include "core/result.h"
#include "data/result_store.h"
#include "device/register_map.h"
#include "emissions/alarms.h"
#include "emissions/averaging.h"
#include "emissions/conversion.h"

namespace modbus_server {

// One unit id per analyzer on the line: 1..kMaxAnalyzers.
inline constexpr int kMaxAnalyzers = 8;

// How the line to the analyzer stands; higher is better.
enum class AnalyzerLinkState : uint16_t {
  PortClosed = 0,    // the port is not open (or the connection to the device server is down)
  NotAnswering = 1,  // open, but the analyzer has not answered (yet, or for the link watch's limit)
  Answering = 2,
};

struct ComponentAverageSnapshot {
  std::optional<double> measured;   // mg/m3 at the reference O2; none: no values averaged
  double confidence = 0;            // the confidence interval subtracted from it, mg/m3
  std::optional<double> validated;  // measured minus the confidence interval, not below 0
  bool valid = false;               // enough values (results, intervals) for a valid average
  int count = 0;                    // valid results (interval) or valid intervals (day)
  emissions::Exceedance exceedance = emissions::Exceedance::None;  // of a valid average only
};

struct AverageSnapshot {
  qint64 startUtcMs = 0;
  qint64 endUtcMs = 0;  // the running interval: when it will end
  std::array<ComponentAverageSnapshot, emissions::kComponentCount> components{};
};

struct LastResultSnapshot {
  Result result;                          // its status included
  emissions::EmissionValues emissions{};  // at the reference O2 of its fuel row
  std::optional<double> o2Ref;            // that reference O2, per cent
};

struct ComponentAlarms {
  bool intervalAlarm = false;
  bool dayAlarm = false;
  bool intervalPreAlarm = false;
  bool dayPreAlarm = false;
};

struct AnalyzerSnapshot {
  int unitId = 1;              // 1..kMaxAnalyzers
  uint32_t resultCount = 0;    // results taken since the program started
  AnalyzerLinkState link = AnalyzerLinkState::PortClosed;
  AnalyzerState analyzerState = AnalyzerState::NotConnected;
  WorkMode mode = WorkMode::Idle;
  uint16_t faultWord = 0;      // of the last status reply accepted
  std::optional<LastResultSnapshot> last;
  std::optional<AverageSnapshot> running;       // the interval going on
  std::optional<AverageSnapshot> lastInterval;  // the last completed interval
  std::optional<AverageSnapshot> today;         // the day so far, from its completed intervals
  std::optional<AverageSnapshot> previousDay;   // the last completed day
  std::array<ComponentAlarms, emissions::kComponentCount> alarms{};
  emissions::Lamp lamp = emissions::Lamp::Off;
  int intervalMinutes = emissions::kDefaultIntervalMinutes;
};

// The averages as the emissions engine has them: measured, the confidence
// interval the regulation profile subtracts (0 without one) and validated.
AverageSnapshot averageSnapshot(const emissions::IntervalAverage& a, const emissions::AlarmLimits& limits);
AverageSnapshot averageSnapshot(const emissions::DailyAverage& d, const emissions::AlarmLimits& limits);
// A day's average as the results database keeps it, with the exceedance it was judged.
AverageSnapshot averageSnapshot(const StoredAverage& s);
// The latched alarms and pre-alarms per component.
std::array<ComponentAlarms, emissions::kComponentCount> alarmsSnapshot(const emissions::AlarmLatches& latches);

}  // namespace modbus_server
