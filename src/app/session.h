#pragma once
// One run of the program against one analyzer, without widgets: the line to
// the analyzer, the poll cycle and its timer, the results database, the
// results log, the daily logs and data files, and the settings as they take
// effect. The main window shows what it reports and hands it the operator's
// commands; what would call for a message box is reported by a signal,
// emitted at the moment the box belongs (with the poll timer stopped where
// the box stops it).
//
// Every result is committed to the database before it is shown. The daily
// log of a day is written from the database, under the day's own name.
//
// Every result also goes to the emissions engine: the averages at the
// reference O2 of the result's fuel row, the limits of the emissions
// settings file ("<program>-emissions.ini"), the latched alarms. Completed
// averages go into the database; at start today's results are replayed from
// it, so the day's averages and alarms survive a restart.

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>
#include <memory>
#include <optional>

#include "acquisition/poll_cycle.h"
#include "data/result_store.h"
#include "data/results_log.h"
#include "device/analyzer_link.h"
#include "emissions/emission_engine.h"
#include "emissions/emission_report.h"
#include "emissions/emission_settings.h"
#include "storage/table_files.h"

class Timer;

class Session : public QObject {
  Q_OBJECT
 public:
  explicit Session(QObject* parent = nullptr);
  ~Session() override;

  AnalyzerLink& link() { return link_; }
  PollCycle& pollCycle() { return poll_; }
  ResultsLog& results() { return results_; }
  const ResultsLog& results() const { return results_; }
  ResultStore& store() { return store_; }
  // The poll cycle's tick, once a second.
  Timer* pollTimer() const { return pollTimer_; }
  // Retries daily logs that could not be written, once a minute while there are any.
  Timer* retryTimer() const { return retryTimer_; }

  // Start-up, in this order. Reads both settings files into the records;
  // false when they could not be read whole.
  bool loadSettings();
  // Every setting back to its default and both files written.
  bool resetSettings();
  // Opens the results database beside the program ("<program>.db").
  void openDatabase();
  // Opens the port the settings name. A connection to a serial device server
  // is made meanwhile: a failure is reported when known, at most a few
  // seconds later.
  void openPort();
  // Writes the daily logs the database lacks for earlier days, brings
  // today's results back into the results log, and starts the poll cycle in
  // its start state with the settings in force.
  void start();

  // The settings records changed: the poll cycle takes them over.
  void takeSettings();
  // After the options dialog: the address and times taken over, the port
  // reopened, the settings saved.
  void applyOptions();
  // After the fuel dialog: the fuel row in use, the settings saved.
  void applyFuel(int fuelIndex);
  // Copies the poll cycle's state into the device record and writes both
  // settings files.
  bool saveSettings();

  // Writes results to a data file; the new day of the log begins now.
  bool saveDataFile(const QString& path);
  bool saveDataFile(const ResultsLog& log, const QString& path);
  // Replaces the results by a data file's.
  TableLoadResult openDataFile(const QString& path);
  void clearResults();

  // The results the database holds from the start of `from` to the end of
  // `to` (local dates), into `into`; false without a database.
  bool loadHistory(const QDate& from, const QDate& to, ResultsLog& into) const;

  // Writes the daily logs that are still missing; quietly.
  void retryDailyLogs();

  // On closing: the stop command, a moment for it to leave, and the database
  // finished.
  void sendStop();
  void finish();

  // ---- emissions
  static QString emissionSettingsPath();
  const emissions::EmissionSettings& emissionSettings() const { return emissionSettings_; }
  // Writes the settings file and puts it in force: new limits judge the
  // averages completed from now on; another interval length rebuilds the
  // day's averages from the database. False with `error` when not written.
  bool applyEmissionSettings(const emissions::EmissionSettings& settings, QString* error);
  // The averaging as it is in force: the interval length, the results
  // expected (one per refresh period), the machine's zone, each fuel row's
  // reference O2.
  emissions::AveragingConfig averagingConfig() const;

  // What the emissions panel shows.
  struct EmissionsState {
    std::optional<Result> lastResult;  // the newest result taken
    emissions::EmissionValues current{};  // its values at the reference O2
    std::optional<double> o2Ref;          // of its fuel row
    std::optional<emissions::IntervalAverage> running;
    std::optional<emissions::IntervalAverage> lastInterval;
    std::optional<emissions::DailyAverage> today;  // as it stands
    emissions::Lamp lamp = emissions::Lamp::Off;
    QStringList latched;  // what each latched alarm is, for the lamp's tooltip
    emissions::AlarmLimits limits;
    int intervalMinutes = emissions::kDefaultIntervalMinutes;
  };
  EmissionsState emissionsState() const;
  const emissions::EmissionEngine* emissionEngine() const { return engine_.get(); }
  // Clears every latched alarm; each acknowledgement goes into the event log
  // with its time. False when none was latched.
  bool acknowledgeAlarms();
  // The report of the local days from..to, computed again from the stored
  // results with the settings in force. The averages of what is over by now
  // are stored again as computed.
  emissions::EmissionReport emissionReport(const QDate& from, const QDate& to);

  // Why the database is not in full use, for the operator.
  enum class DatabaseProblem {
    HistoryOnly,    // another instance owns it: this one only reads
    Replaced,       // it was damaged: moved aside (detail: where), a new one begun
    Unavailable,    // none: results go only into the daily logs (detail: why)
    WriteFailing,   // commits fail (disk full): results wait in memory (detail: why)
    Damaged,        // a read met damage: results unreadable (detail: which)
    ResultsLost,    // it lost results it had committed; numbering goes on under a new identity (detail: all of it)
  };
  // What the operator is told of it.
  static QString problemText(DatabaseProblem problem, const QString& detail);

  // An event of another part of the program (the Modbus TCP server) into the
  // event log, as the session's own go there.
  void recordEvent(EventKind kind, const QString& text) { logEvent(kind, text); }

 signals:
  // `reason`: why, where the name alone does not say it (a connection's).
  void portOpenFailed(PortOpenResult result, const QString& portName, const QString& reason);
  void settingsSaveFailed();
  void resultsWriteFailed();
  // The analyzer stopped answering (the poll timer is off until this returns).
  void analyzerLost();
  void databaseProblem(DatabaseProblem problem, const QString& detail);
  // Something the event log records (also without a database).
  void eventLogged(const QString& text);
  // The same with its kind, for the audit trail.
  void eventKindLogged(EventKind kind, const QString& text);
  // The program wrote these settings files.
  void settingsWritten(const QStringList& paths);
  // A result taken, after it went to the database: `seq` is its sequence
  // number there (0 without a database).
  void resultRecorded(qint64 seq, const Result& result);
  // Rows were committed to the database: whoever forwards them may look.
  void committed();
  // The emission values, averages or alarms changed.
  void emissionsChanged();
  // Alarms or pre-alarms latched by one completed average, after they went
  // into the event log: an average above its limit latches both at once.
  void emissionAlarmsRaised(const QVector<emissions::AlarmEvent>& events);
  // The emissions settings file could not be used as it is; the text says
  // what is in force instead.
  void emissionSettingsProblem(const QString& text);

 private:
  void onResultTaken(const Result& result);
  void onDayEnded(const QDate& day);
  void onLinkLost();
  void onOpenFinished(PortOpenResult result);
  bool writeResults(const ResultsLog& log, const QString& path, bool clear);
  // The day's log from the database; false (and kept for a retry) when it
  // cannot be written whole.
  bool writeDayLog(const QDate& day);
  // Every log still missing; true when none is left.
  bool writeMissingLogs();
  void logEvent(EventKind kind, const QString& text);
  void reportCommit(const ResultStore::AppendOutcome& outcome);
  void storeRunState();
  void loadEmissionSettings();
  // A new engine with the averaging in force, today's results replayed into it.
  void rebuildEmissions();
  // The averages of the last days the program was not running at their
  // midnight, computed from the stored results and stored.
  void storeMissedDays();
  // Stores what the engine completed and logs the alarms that are new:
  // those of averages the database did not hold yet.
  void takeEmissionUpdate(const emissions::EngineUpdate& update);
  void onPollTick();
  void updateToday();

  AnalyzerLink link_;
  PollCycle poll_;
  ResultStore store_;
  ResultsLog results_;
  Timer* pollTimer_;
  Timer* retryTimer_;
  QSet<QDate> missingLogs_;    // days whose log could not be written yet
  QSet<QDate> failureLogged_;  // of them, those whose failure the event log has
  bool writeFailureShown_ = false;
  emissions::EmissionSettings emissionSettings_;
  std::unique_ptr<emissions::EmissionEngine> engine_;
  std::optional<Result> lastResult_;
  // Today's average as it stands: it changes only when an interval ends.
  std::optional<emissions::DailyAverage> today_;
  // What reads of the database could not get at: no average over it.
  QVector<UnreadableSpan> unreadable_;
};
