#pragma once
// The emissions of a run, kept over the results database: the engine fed
// with every result taken, the completed interval and daily averages stored,
// the alarms that are new written to the event log, and at start the day so
// far replayed from the database (so the day's averages and a latched alarm
// survive a restart, and an alarm already logged is not logged again) after
// the averages of the last days the program missed were stored.
//
// The averaging follows the emission settings (interval length, limits) and
// the measuring: one result expected per refresh period, each fuel row's
// reference O2, the machine's zone. Times come from the platform's clock.
// Used from one thread, the one of the database it keeps.

#include <QMetaType>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/result.h"
#include "data/result_store.h"
#include "emissions/emission_engine.h"
#include "emissions/emission_settings.h"

namespace emissions {

// What the emissions panel shows, as a value.
struct MonitorState {
  std::optional<Result> lastResult;        // the newest result taken
  EmissionValues current{};                // its values at the reference O2
  std::optional<double> o2Ref;             // of its fuel row
  std::optional<IntervalAverage> running;  // the interval being averaged
  std::optional<IntervalAverage> lastInterval;
  std::optional<DailyAverage> today;  // as it stands
  Lamp lamp = Lamp::Off;
  QStringList latched;  // what each latched alarm is, for the lamp's tooltip
  AlarmLimits limits;
  int intervalMinutes = kDefaultIntervalMinutes;
};

class EmissionMonitor {
 public:
  using EventLog = std::function<void(EventKind kind, const QString& text)>;

  EmissionMonitor(ResultStore& store, EventLog log);
  ~EmissionMonitor();

  // Start-up, after the database was opened: the averages of the last week's
  // days the program missed are stored, then today's results are replayed.
  void start(const EmissionSettings& settings, int resultPeriodSeconds, std::vector<double> o2RefByFuel);
  // New settings are in force: new limits judge the averages completed from
  // now on; another interval length rebuilds the day's averages from the
  // database.
  void setSettings(const EmissionSettings& settings);
  // Another refresh period or reference O2 of a fuel row: the day's averages
  // are rebuilt when the averaging changes with it.
  void setMeasuring(int resultPeriodSeconds, std::vector<double> o2RefByFuel);

  // A result taken, after it went to the database. Returns the alarms it
  // raised (logged already).
  QVector<AlarmEvent> addResult(const Result& result);
  // Completes the intervals and days that ended by now; true when any did
  // (the state changed). The alarms raised go into `raised`.
  bool advance(QVector<AlarmEvent>* raised);
  // Clears every latched alarm; each acknowledgement goes into the event log
  // with its time. Empty when none was latched.
  QVector<AlarmEvent> acknowledgeAll();

  // Stores the averages of a report of past days (computed elsewhere from the
  // stored results) that were over at `cutoffUtcMs`. What ended by now is
  // completed (judged and stored) first: stored by the report, it would
  // count as judged before and raise no alarm.
  QVector<AlarmEvent> storeReport(const QVector<DailyAverage>& days, qint64 cutoffUtcMs);
  // Results were added to the past (substitute values) on the local days
  // first..last: their averages are computed again from the stored results
  // with `config` and stored as a report's are, and today's as it stands is
  // rebuilt when the days reach it.
  QVector<AlarmEvent> resultsAdded(QDate first, QDate last, const AveragingConfig& config);

  // Results the database could not read (damage a read met): no average
  // over them is stored or judged.
  void addUnreadable(const UnreadableSpan& span) {
    if (!unreadable_.contains(span)) unreadable_.append(span);
  }

  MonitorState state() const;
  const EmissionSettings& settings() const { return settings_; }
  // The averaging in force.
  AveragingConfig config() const;
  const EmissionEngine* engine() const { return engine_.get(); }

 private:
  void rebuild();
  void storeMissedDays();
  // Stores what the engine completed and logs the alarms that are new: those
  // of averages the database did not hold yet.
  void take(const EngineUpdate& update, QVector<AlarmEvent>* raised);
  void updateToday();

  ResultStore& store_;
  EventLog log_;
  EmissionSettings settings_;
  int resultPeriodSeconds_ = 1;
  std::vector<double> o2RefByFuel_;
  std::unique_ptr<EmissionEngine> engine_;
  std::optional<Result> lastResult_;
  // Today's average as it stands: it changes only when an interval ends.
  std::optional<DailyAverage> today_;
  QVector<UnreadableSpan> unreadable_;
};

}  // namespace emissions

Q_DECLARE_METATYPE(emissions::MonitorState)
