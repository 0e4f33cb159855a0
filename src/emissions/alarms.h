#pragma once
// Limits, exceedances and latched alarms. A completed valid average above a
// threshold latches that alarm; it stays latched until acknowledged, and the
// latches report what happened as events for the lamp, the beep and the log.

#include <QVector>
#include <QtGlobal>
#include <array>
#include <optional>

#include "emissions/averaging.h"

namespace emissions {

enum class AveragePeriod : uint8_t { Interval, Day };
enum class AlarmLevel : uint8_t { PreAlarm, Alarm };
// The highest threshold an average is above.
enum class Exceedance : uint8_t { None, PreAlarm, Alarm };

inline constexpr double kDefaultPreAlarmPercent = 80;
// The limits a permit can set, mg/m3: from a tenth (the precision averages
// are shown and printed with) to a hundred thousand.
inline constexpr double kMinLimit = 0.1;
inline constexpr double kMaxLimit = 100000;
bool isSensibleLimit(double mgPerM3);

// mg/m3 at the reference O2; empty = no limit.
struct ComponentLimits {
  std::optional<double> interval;
  std::optional<double> daily;
  bool operator==(const ComponentLimits& o) const {
    return interval == o.interval && daily == o.daily;
  }
};

struct AlarmLimits {
  // Pre-alarm threshold in per cent of the limit; 0 switches pre-alarms off.
  double preAlarmPercent = kDefaultPreAlarmPercent;
  std::array<ComponentLimits, kComponentCount> components{};

  ComponentLimits& operator[](Component c) { return components[size_t(index(c))]; }
  const ComponentLimits& operator[](Component c) const { return components[size_t(index(c))]; }
  bool operator==(const AlarmLimits& o) const {
    return preAlarmPercent == o.preAlarmPercent && components == o.components;
  }

  // The value an average has to exceed; empty when there is no such alarm.
  std::optional<double> threshold(Component c, AveragePeriod p, AlarmLevel level) const;
  // None for an invalid average: permits judge validated averages only.
  Exceedance classify(Component c, AveragePeriod p, const ComponentAverage& a) const;
};

struct AlarmKey {
  Component component = Component::CO;
  AveragePeriod period = AveragePeriod::Interval;
  AlarmLevel level = AlarmLevel::Alarm;
  bool operator==(const AlarmKey& o) const {
    return component == o.component && period == o.period && level == o.level;
  }
};

struct AlarmState {
  bool latched = false;
  // The average that raised the latch: its period and value, the threshold.
  qint64 averageStartUtcMs = 0;
  qint64 raisedUtcMs = 0;  // end of that average: when it was complete
  double value = 0;
  double threshold = 0;
  std::optional<qint64> acknowledgedUtcMs;  // the last acknowledgement
};

// Repeated: a completed average above a threshold whose alarm is still
// latched (not acknowledged since): it raises nothing, but it is an
// exceedance of its own, for the log as for the report.
enum class AlarmEventType : uint8_t { Raised, Acknowledged, Repeated };

struct AlarmEvent {
  AlarmEventType type = AlarmEventType::Raised;
  AlarmKey key;
  qint64 utcMs = 0;   // raised: end of the average; acknowledged: when
  int utcOffset = 0;  // of the local clock at utcMs, for the log
  qint64 averageStartUtcMs = 0;
  double value = 0;
  double threshold = 0;
};

enum class Lamp : uint8_t { Off, PreAlarm, Alarm };

class AlarmLatches {
 public:
  static constexpr int kCount = kComponentCount * 2 * 2;

  // Checks a completed average against its thresholds and latches what it
  // exceeds. Levels latch independently; an already latched alarm is not
  // raised again, its new exceedance is a Repeated event. `endOffset` is the
  // local offset at endUtcMs.
  QVector<AlarmEvent> evaluate(AveragePeriod period, qint64 startUtcMs, qint64 endUtcMs,
                               int endOffset, const ComponentAverages& averages,
                               const AlarmLimits& limits);
  QVector<AlarmEvent> evaluate(const IntervalAverage& a, const AlarmLimits& limits);
  QVector<AlarmEvent> evaluate(const DailyAverage& d, const AlarmLimits& limits);

  // Clears a latched alarm and records when; empty if it was not latched.
  std::optional<AlarmEvent> acknowledge(const AlarmKey& key, qint64 utcMs, int utcOffset);
  QVector<AlarmEvent> acknowledgeAll(qint64 utcMs, int utcOffset);

  const AlarmState& state(const AlarmKey& key) const;
  // The highest latched level: what the lamp shows.
  Lamp lamp() const;

 private:
  static int slot(const AlarmKey& key);
  std::array<AlarmState, kCount> states_{};
};

}  // namespace emissions
