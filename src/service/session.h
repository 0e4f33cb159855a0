#pragma once
// One run of the program against one analyzer, without widgets: the line to
// the analyzer, the poll cycle and its timer, the results database, the
// daily logs, the emissions and publishing. Further analyzers on the same
// line (slots 2..8) are sessions of their own, each with its own database
// ("<program>-N.db"), daily logs ("-N") and publishing name, made by the
// first one (addAnalyzers) and sharing its line: then a LineScheduler polls
// them in turn, so that a silent one never stalls the others. In the window program it lives
// in a thread of its own (SessionHost), so nothing the window does — a box,
// a dialog, a report, a history, a printout — delays a poll; the service may
// run it in its main thread. It is started and told the settings and the
// operator's commands through queued calls, and reports everything as
// signals carrying values. What the operator should hear of goes out as a
// Notice, and into the event log; nothing here waits for anyone.
//
// Every result is committed to the database before it is reported. A mode
// asked for is kept going: after the analyzer was lost and is back it is
// started again, until the operator stops it (a single measurement runs
// once).

#include <QDate>
#include <QObject>
#include <QString>
#include <QVector>
#include <memory>

#include "acquisition/link_statistics.h"
#include "acquisition/poll_cycle.h"
#include "core/notice.h"
#include "data/audit_trail.h"
#include "data/result_store.h"
#include "data/results_log.h"
#include "device/analyzer_link.h"
#include "device/fuel_table.h"
#include "emissions/emission_monitor.h"
#include "emissions/result_status.h"
#include "emissions/substitutes.h"
#include "modbus_server/server_settings.h"
#include "publish/service_settings.h"
#include "service/page_check.h"
#include "service/poll_watch.h"
#include "service/modbus_server_feed.h"
#include "service/publishing.h"
#include "storage/daily_logs.h"
#include "storage/settings_values.h"

class LineScheduler;
class RoundReports;
class Timer;

// What a session starts with.
struct SessionStart {
  MeasuringSettings measuring;
  FuelTable fuels = builtInFuelTable();
  int fuelIndex = 0;
  emissions::EmissionSettings emissions;
  publish::ServiceSettings service;
  // The Modbus TCP server for the control system, from the same file.
  modbus_server::ServerSettingsLoad modbusServer;
  // The mode to keep going from the start (as if asked for when the analyzer
  // is first ready); None: the operator decides.
  ModeRequest mode = ModeRequest::None;
  int pollIntervalMs = 1000;
  // The daily logs' writer in a thread of its own (tests keep it in theirs).
  bool dailyLogsOwnThread = true;
};

class Session : public QObject {
  Q_OBJECT
 public:
  explicit Session(QObject* parent = nullptr);
  ~Session() override;

  // ---- the line's further analyzers
  // Before start: a session of its own for each, on this one's line, not yet
  // started (connect to them first; start() starts them with this one, in
  // their own settings and this one's mode).
  void addAnalyzers(const QVector<LineAnalyzer>& analyzers);
  // 1 for the line's first analyzer (the program's own settings).
  int slot() const { return slot_; }
  // The analyzers of the line: 0 is this one, the others in slot order.
  int analyzerCount() const { return 1 + int(others_.size()); }
  Session* analyzer(int index) { return index <= 0 ? this : others_.at(size_t(index - 1)); }
  // "Анализатор 2 (адрес 5)": how the event log and notices name a further analyzer.
  QString analyzerTitle() const;
  // Polls the analyzers in turn when there are several; null with one.
  LineScheduler* scheduler() const { return scheduler_; }
  // With several analyzers: the window's way to hear of them once a round
  // (connect through it before start); null with one.
  RoundReports* roundReports() const { return roundReports_; }

  // ---- commands, in the session's thread (SessionHost queues them there)

  // Opens the results database beside the program ("<program>.db", checked
  // for damage), opens the port, writes the daily logs the database lacks
  // for earlier days, reports today's results, sets the emissions up,
  // starts the poll cycle, its timer and publishing.
  void start(const SessionStart& start);
  // New measuring settings: the poll cycle takes the address and times, the
  // emissions expect results at the new period, and another port name opens
  // that port.
  void setMeasuring(const MeasuringSettings& settings);
  // Opens the port of the settings again.
  void reopenPort();
  // The fuel table and the row in use.
  void setFuels(const FuelTable& fuels, int fuelIndex);
  void setEmissionSettings(const emissions::EmissionSettings& settings);
  // Publishing started again with these.
  void setServiceSettings(const publish::ServiceSettings& settings);
  // The operator's mode buttons: a mode is kept going, Stop ends it.
  void requestMode(ModeRequest mode);
  // Clears every latched alarm (logged with its time).
  void acknowledgeAlarms();
  // The operator's switches every result's status follows from the next one
  // on: maintenance, a test-gas check, and the plant operating (for the
  // switch's plant rule).
  // Logged with `who` (empty: no accounts); the last turn of each is read
  // back from the event log at the next start.
  void setMaintenance(bool on, const QString& who);
  void setTestGas(bool on, const QString& who);
  void setPlantOperating(bool operating, const QString& who);
  // Substitute values for a past span, entered by `who` (empty: no
  // accounts): results with the status "substitute" appended at the
  // expected times the database has no result that counts for (nothing
  // stored is changed), logged, and the averages of the days touched
  // computed again and stored. Refused with a notice when the entry is not
  // valid or the database is not writable.
  void enterSubstitutes(const emissions::SubstituteEntry& entry, const QString& who);
  void resetStatistics();
  // Today's results from the database again (resultsRestored).
  void showToday();
  // A data file was saved from the table: the log's day begins now.
  void restartLogDay();
  // The averages of a report computed elsewhere from the stored results:
  // those over at `cutoffUtcMs` are stored.
  void storeReport(const QVector<emissions::DailyAverage>& days, qint64 cutoffUtcMs);
  // The audit trail of the database is open and written (by the keeper, in
  // its own thread): publishing copies its entries through a read-only
  // connection of the session's own.
  void openAuditCopy(const QString& dbPath);
  // A notice given elsewhere (start-up, settings): into the event log.
  void recordNotice(const Notice& notice);
  void logEvent(EventKind kind, const QString& text);
  // On closing: publishing stopped (the broker told "offline"), the stop
  // command to the analyzer and a moment for it to leave, the database
  // finished. Idempotent.
  void stop();

  // ---- what the session holds, for tests in its own thread
  AnalyzerLink& link() { return link_; }
  PollCycle& pollCycle() { return poll_; }
  ResultStore& store() { return store_; }
  Publishing& publishing() { return publishing_; }
  ModbusServerFeed& modbusServer() { return modbusFeed_; }
  const MeasuringSettings& measuring() const { return measuring_; }
  const emissions::EmissionMonitor& emissions() const { return monitor_; }
  Timer* pollTimer() const { return pollTimer_; }
  Timer* retryTimer() const { return retryTimer_; }
  // Fires the start's ticks that follow the analyzer's replies.
  Timer* quickTimer() const { return quickTimer_; }
  const PageCheck& pageCheck() const { return pageCheck_; }
  ModeRequest wantedMode() const { return wanted_; }
  bool maintenance() const { return maintenance_; }
  bool testGas() const { return testGas_; }
  bool plantSwitchOn() const { return plant_.switchOn(); }
  // Thread-safe: how regularly the cycle ticks.
  const PollWatch& pollWatch() const { return watch_; }

  // Why the database is not in full use, for the operator.
  enum class DatabaseProblem {
    HistoryOnly,    // another instance owns it: this one only reads
    Replaced,       // it was damaged: moved aside (detail: where), a new one begun
    Unavailable,    // none: results go only into the daily logs (detail: why)
    WriteFailing,   // commits fail (disk full): results wait in memory (detail: why)
    SyncFailing,    // committed results could not be made to reach the disk (detail: why)
    Damaged,        // a read met damage: results unreadable (detail: which)
    ResultsLost,    // it lost results it had committed; numbering goes on under a new identity (detail: all of it)
  };
  static QString problemText(DatabaseProblem problem, const QString& detail);

 signals:
  // The poll cycle's, as values.
  void stateTextChanged(const QString& text);
  void captionChanged(const QString& caption);
  void measurementShown(const Measurement& measurement);
  void progressChanged(int percent);
  void progressVisibleChanged(bool visible);
  // Back to idle after a stop: a mode may be started.
  void analyzerReady();
  void linkAlarmChanged(bool alarm);
  // An answering analyzer went silent: the cycle sends the stop itself.
  void analyzerLost();
  void statisticsChanged(const LinkStatistics& statistics);
  // The mode kept going changed: asked for (the operator's, the start's, or
  // again after the analyzer was back), or None after Stop or a single
  // measurement's end.
  void wantedModeChanged(ModeRequest mode);
  // After every tick: what the device file keeps of the run.
  void runStateChanged(const RunState& state);

  // Today's results from the database, at start.
  void resultsRestored(const QVector<Result>& results);
  // A result taken, after it went to the database: `seq` is its sequence
  // number there (0 without a database).
  void resultRecorded(qint64 seq, const Result& result);
  // The day ended and its logs were dealt with: the table starts the new day
  // (`clearTable`), or keeps the results its log could not take.
  void newDay(bool clearTable);
  // The local days the database holds results of, when that changed.
  void daysChanged(const QVector<QDate>& days);
  // Rows were committed to the database.
  void committed();
  // How many results wait in memory for the database (a full disk); 0 again
  // once they are in.
  void uncommittedChanged(int count);

  void emissionsChanged(const emissions::MonitorState& state);
  // The switches' state: at start, and after each turn.
  void switchesChanged(bool maintenance, bool testGas, bool plantOperating);
  // Alarms or pre-alarms latched by one completed average, after they went
  // into the event log.
  void emissionAlarmsRaised(const QVector<emissions::AlarmEvent>& events);
  // How publishing goes, one line; empty when nothing is enabled.
  void publishingChanged(const QString& stateText);
  // The database found the disk nearly full (`bytesFree` left), or no more.
  void diskRoomChanged(bool spaceShort, qint64 bytesFree);

  void notice(const Notice& notice);
  // An event the event log records (also without a database); notices are
  // not repeated here.
  void eventLogged(const QString& text);
  // The same with its kind, for the audit trail.
  void eventKindLogged(EventKind kind, const QString& text);
  // The damaged database was moved to `movedTo` (before databaseOpened).
  void databaseMovedAside(const QString& movedTo);
  // The averages of these local days were stored again (a report).
  void averagesStored(const QDate& from, const QDate& to);
  // Substitute values were entered: `count` results over `span` ("dd.MM.yyyy
  // HH:mm:ss – ..."), the values entered, the reason, who entered them; the
  // local days whose results they joined (null: none).
  void substitutesEntered(const QString& span, const QString& values, const QString& reason, const QString& who,
                          int count, const QDate& from, const QDate& to);
  // The results database is open at `path` (read-only when not `writable`).
  void databaseOpened(const QString& path, bool writable);
  void started();
  void stopped();

 private:
  void openDatabase();
  void openPort();
  void applyPollSettings();
  Session(Session* line, int slot, QObject* parent);
  void onTimer();
  // What follows an analyzer's tick: the emissions' intervals, the run state,
  // an earlier day's log.
  void afterTick();
  void startOthers(const SessionStart& start);
  void onResultTaken(const Result& result);
  // A result committed (`outcome`; null without a database), to everyone.
  void tellResult(const Result& result, const ResultStore::AppendOutcome* outcome);
  // A round's end (and a stop in one): the line's databases to the disk in
  // one wait, then every analyzer's results of the round told, its emissions
  // advanced (`advance`; a stop leaves them as they are), and the window
  // told of it all at once.
  void finishRound(bool advance = true);
  // Whether the line's scheduler is in a round (then results are held).
  bool inRound() const;
  void advanceEmissions();
  void onDayEnded(const QDate& day);
  void onLinkLost();
  void onAnalyzerReady();
  void onOpenFinished(PortOpenResult result);
  void onPublishingMessage(const QString& text);
  void onDamageFound(const UnreadableSpan& span);
  // What the database did not take by the end goes to a recovery file, and
  // is taken in at the next start.
  void keepUncommitted();
  void takeRecovered();
  void forgetTakenRecovery();
  void retryDailyLogs();
  void reportCommit(const ResultStore::AppendOutcome& outcome);
  // `record`: into the event log as well (unless the caller logged its own event).
  void tell(NoticeTopic topic, NoticeLevel level, const QString& title, const QString& text, bool beep,
            bool record = true);
  void tellPortFailure(PortOpenResult result, const QString& portName, const QString& reason);
  void tellDatabaseProblem(DatabaseProblem problem, const QString& detail);
  void tellDataWriteFailure();
  void setWanted(ModeRequest mode);
  void noteDay(const Result& result);
  // The result's status, from the analyzer's state, the plant and the switches.
  ResultStatus decideStatus(const Result& result);
  void restoreSwitches();
  // Logs a switch's turn (with who turned it) and tells the new positions.
  void switchTurned(EventKind kind, const QString& text, const QString& who);
  void emitEmissions();
  // Publishing's line and the Modbus TCP server's.
  QString publishingText() const;
  RunState runState() const;

  // The line's first analyzer owns the line; the others use its.
  Session* line_ = nullptr;
  int slot_ = 1;
  std::unique_ptr<AnalyzerLink> ownLink_;
  AnalyzerLink& link_;
  PollCycle poll_;
  ResultStore store_;
  DailyLogs dailyLogs_;
  emissions::EmissionMonitor monitor_;
  Publishing publishing_;
  AuditTrail auditCopy_;  // read-only: the entries publishing copies
  PollWatch watch_;
  Timer* pollTimer_;
  Timer* retryTimer_;
  // Start-up ticks: the first at once, then after each whole reply, a few.
  static constexpr int kQuickTickMs = 10;
  static constexpr int kQuickStartTicks = 3;
  Timer* quickTimer_;
  int quickTicksLeft_ = 0;
  int uncommitted_ = 0;
  // Recovery files taken in whose results still wait in memory.
  QStringList recoveryTaken_;
  PageCheck pageCheck_;
  MeasuringSettings measuring_;
  FuelTable fuels_ = builtInFuelTable();
  int fuelIndex_ = 0;
  // The day's results, kept only without a database: then the table is the
  // day's only record, and its log is written from here.
  ResultsLog dayTable_;
  QVector<QDate> days_;
  ModeRequest wanted_ = ModeRequest::None;
  emissions::PlantOperation plant_;
  bool maintenance_ = false;
  bool testGas_ = false;
  bool wantedAsked_ = false;  // the wanted mode was asked for since it was set
  bool diskShort_ = false;
  bool started_ = false;
  bool stopped_ = false;
  std::vector<Session*> others_;  // children
  LineScheduler* scheduler_ = nullptr;
  RoundReports* roundReports_ = nullptr;  // a child
  // Results of the running round: committed, not yet synced nor told.
  struct Held {
    Result result;
    ResultStore::AppendOutcome outcome;
    bool stored = false;
  };
  std::vector<Held> held_;
  bool finishing_ = false;    // the round's results being told: the window waits
  bool syncFailing_ = false;  // told once until a round's sync works again
  // Last: it listens to the session's signals.
  ModbusServerFeed modbusFeed_;
};

// Names a mode as the command line and the service settings do
// ("continuous", "single", "cyclic", "none"); None for an unknown name.
ModeRequest modeFromName(const QString& name, bool* ok);

Q_DECLARE_METATYPE(SessionStart)
