#pragma once
// The results database: every result is committed to one SQLite file as it is
// taken, together with the program's events, the days whose daily log has been
// written and, for each consumer that forwards results elsewhere (MQTT, a
// central server), the last sequence number it delivered.
//
// One ResultStore owns the file for writing; a second one (another instance of
// the program) gets the history read-only. Used from one thread (a helper
// thread of its own only moves the log into the file, on a connection of its
// own). The lock's owner name comes from QCoreApplication, so one should exist.
//
// Every database has an identity of its own, a random name that travels with
// each result and event it forwards: a file begun anew (the old one damaged
// and moved aside, deleted) has a new one, and so does one found to have lost
// results it had committed (its log lost, an older copy put back), from the
// first number after them, so that no sequence number ever names two
// different results to whoever received them.
//
// A read that meets damage in the file goes on past it where the file can be
// read again and names the unreadable span, so that nothing is computed over
// it as if it held nothing.

#include <QDate>
#include <QString>
#include <QVector>
#include <array>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "core/result.h"
#include "device/fuel_table.h"

class QFile;
class QLockFile;
struct sqlite3;
struct sqlite3_stmt;

// What an event records. The numbers are stored: never renumber.
enum class EventKind : int {
  LinkLost = 1,
  LinkBack = 2,
  ModeStarted = 3,
  ModeEnded = 4,
  FaultsAppeared = 5,
  FaultsCleared = 6,
  DailyLogWritten = 7,
  DailyLogFailed = 8,
  SettingsApplied = 9,
  Alarm = 10,
  PortReopened = 11,
  AlarmAcknowledged = 12,
  // What the operator was told without being asked (notices).
  PortOpenFailed = 60,
  DatabaseProblem = 61,
  SettingsProblem = 62,
  DataWriteFailed = 63,
  PublishingProblem = 64,
  AuditProblem = 65,  // the audit trail could not be used, or was found broken
  ResultsRecovered = 66,  // taken in from the file kept when the database did not take them
  // The Modbus TCP server for the control system.
  ModbusServerStarted = 70,
  ModbusServerStopped = 71,
  ModbusServerFailed = 72,   // not started: a setting, or the address could not be listened on
  ModbusClientRefused = 73,  // a client not allowed, or one too many (rate-limited)
  PortOpened = 25,  // a port that could not be opened at first, tried again
  // The operator's switches the statuses of results follow (with who).
  MaintenanceOn = 30,
  MaintenanceOff = 31,
  PlantSwitchedOn = 32,   // the plant operating, by the operator's switch
  PlantSwitchedOff = 33,
  TestGasOn = 34,  // a test-gas check declared
  TestGasOff = 35,
  // Values the operator entered, with a reason, for a past span (with who).
  SubstitutesEntered = 80,
  StoreDamaged = 13,          // a read met damage in the database: results unreadable
  StoreIdentityRenewed = 14,  // the database had lost committed results: a new identity from here
  PublishConflict = 15,       // the central database holds other rows under numbers sent to it
  DiskSpaceLow = 16,          // the database's log space could not be reserved: the disk is nearly full
};

struct StoredEvent {
  StoredEvent() = default;
  StoredEvent(qint64 id_, qint64 utcMs_, int32_t utcOffset_, EventKind kind_, QString text_, QString storeId_ = {})
      : id(id_), utcMs(utcMs_), utcOffset(utcOffset_), kind(kind_), text(std::move(text_)), storeId(std::move(storeId_)) {}
  qint64 id = 0;  // increases with every event, like a result's sequence number
  qint64 utcMs = 0;
  int32_t utcOffset = 0;  // seconds east of UTC
  EventKind kind = EventKind::LinkLost;
  QString text;
  QString storeId;  // identity of the database the event was stored under
};

struct StoredResult {
  StoredResult() = default;
  StoredResult(qint64 seq_, const Result& result_, bool hasStatus_ = true, QString storeId_ = {})
      : seq(seq_), result(result_), hasStatus(hasStatus_), storeId(std::move(storeId_)) {}
  qint64 seq = 0;
  Result result;
  // False for results stored before statuses were kept (schema versions 1
  // and 2): result.status then says Valid without anyone having decided it.
  bool hasStatus = false;
  QString storeId;  // identity of the database the result was stored under
};

// Results a read could not get at: those between two readable ones (either
// missing at an end of what was read). Times and numbers are those of the
// readable results either side, 0 where there is none.
struct UnreadableSpan {
  qint64 afterSeq = 0, beforeSeq = 0;
  qint64 afterUtcMs = 0, beforeUtcMs = 0;
  QString error;  // SQLite's words
  // Whether results taken from `fromUtcMs` to `toUtcMs` may lie in it.
  bool overlaps(qint64 fromUtcMs, qint64 toUtcMs) const;
  // "результаты после № 100 (14.03.2026 10:15:02 UTC) и до № 250 (...)".
  QString text() const;
  bool operator==(const UnreadableSpan& o) const { return afterSeq == o.afterSeq && beforeSeq == o.beforeSeq; }
};

// An emission average as the database keeps it: of an interval or of a local
// day, per component (CO, NOx, SO2, H2S, in that order) the mean in mg/m3 at
// the reference O2, how many values made it, whether that made it valid, and
// the exceedance it was judged to be when it was complete; since schema 4
// also what validated it: the regulation profile it was computed under, the
// confidence interval subtracted and the validated value, why it is valid or
// not, and the values left out by reason. The emissions library fills it
// in; this layer only keeps it. The numbers are stored: never renumber.
enum class AveragePeriodKind : int { Interval = 0, Day = 1 };
inline constexpr int kStoredComponentCount = 4;
// Fault, maintenance, plant off, link lost, test, no value.
inline constexpr int kStoredInvalidReasonCount = 6;

struct StoredComponentAverage {
  double mean = 0;     // measured, before the confidence interval; meaningful when count > 0
  int count = 0;       // valid results (interval) or valid intervals (day)
  bool valid = false;
  int exceedance = 0;  // 0 none, 1 pre-alarm, 2 alarm
  // Since schema 4; rows stored before read back with validated = mean.
  double ci = 0;         // confidence interval subtracted, mg/m3
  double validated = 0;  // what the limits judge; meaningful when count > 0
  int reason = 0;        // why valid or not; 0 unknown
  int expected = 0;      // results expected (interval) or short-term averages (day); 0 unknown
  int substitutes = 0;
  int outOfRange = 0;    // values beyond the valid calibration range
  // Interval: results left out by reason; day: invalid short-term averages by their main reason.
  std::array<int, kStoredInvalidReasonCount> invalid{};
  bool operator==(const StoredComponentAverage& o) const {
    return mean == o.mean && count == o.count && valid == o.valid && exceedance == o.exceedance && ci == o.ci &&
           validated == o.validated && reason == o.reason && expected == o.expected &&
           substitutes == o.substitutes && outOfRange == o.outOfRange && invalid == o.invalid;
  }
};

struct StoredAverage {
  AveragePeriodKind period = AveragePeriodKind::Interval;
  int intervalMinutes = 30;  // the interval length it was computed with (a day's too)
  qint64 startUtcMs = 0;
  qint64 endUtcMs = 0;
  int32_t startOffset = 0;  // seconds east of UTC of the local clock at the start
  int32_t endOffset = 0;
  int count = 0;  // interval: results present; day: its intervals
  std::array<StoredComponentAverage, kStoredComponentCount> components{};
  // Since schema 4. The regulation profile (0: none, the rows stored before);
  // averages of different profiles stand beside each other.
  int profile = 0;
  // A fingerprint of the settings the average was computed with (limits,
  // calibration, ...): one computed under others is computed again. 0: not known.
  qint64 basis = 0;
  bool operator==(const StoredAverage& o) const {
    return period == o.period && intervalMinutes == o.intervalMinutes && startUtcMs == o.startUtcMs &&
           endUtcMs == o.endUtcMs && startOffset == o.startOffset && endOffset == o.endOffset &&
           count == o.count && components == o.components && profile == o.profile && basis == o.basis;
  }
};

class ResultStore {
 public:
  // 1: results, events, days, logs, cursors. 2: emission averages as well;
  // a version 1 file gets their table when opened for writing. 3: results in
  // about 40 bytes each (measured channels as the analyzer's integers, the
  // derived ones computed again from the fuel coefficients they were
  // computed with, the circumstances shared), with a status, in time runs
  // instead of a time index; the database's identity and its forwarded
  // numbers' owners. 4: the averages validated (profile, confidence
  // interval, reasons). An older file keeps its results where they are,
  // readable as they were, and its averages, when it is opened for writing:
  // nothing is rewritten. The layout is described in result_store.cpp.
  static constexpr int kSchemaVersion = 4;

  enum class OpenStatus {
    Opened,           // read-write, this instance owns the file
    OpenedReadOnly,   // history only: another instance owns it, or the directory or file is not writable
    Locked,           // another instance owns it and read-only access was not wanted or failed
    ReplacedCorrupt,  // the old file was moved to `movedTo`; a fresh one is open read-write
    CannotOpen,       // no database: cannot be created (read-only directory, no directory, ...)
  };
  // What to do when another instance owns the file.
  enum class WhenLocked { OpenReadOnly, Refuse };
  // How much of the file open() reads to find damage. A whole check of a
  // year's file (2.9 GB) took 4 s from the OS's cache and 40 s from a cold
  // disk where it was measured: too long for every start.
  enum class Check {
    Everything,  // PRAGMA quick_check: every page
    Recent,      // the header, the small tables, the newest hour of results
    Auto,        // Everything when the last owner did not close the file
                 // (crash, power cut, the pages being written are suspect), else Recent
  };

  struct OpenResult {
    OpenStatus status = OpenStatus::CannotOpen;
    QString detail;   // for the operator or the log: what happened and why
    QString movedTo;  // ReplacedCorrupt: where the damaged file went
    // Opened, but the operator should hear of it: results it had committed
    // are missing (the event log has it too).
    QString notice;
    // The last owner did not close the file (a crash, kill -9, a power cut):
    // with Check::Recent, the older pages are still to be checked.
    bool lastEndUnclean = false;
    bool isOpen() const { return status != OpenStatus::Locked && status != OpenStatus::CannotOpen; }
    bool isWritable() const { return status == OpenStatus::Opened || status == OpenStatus::ReplacedCorrupt; }
  };

  enum class AppendState {
    Committed,  // on disk, with everything queued before it
    Pending,    // kept in memory: the commit failed, it is retried with the next write
    Rejected,   // not kept: the store is closed or read-only
  };
  struct AppendOutcome {
    qint64 id = 0;  // sequence number of the (first) result, or the event's id; 0 when rejected
    AppendState state = AppendState::Rejected;
    bool failureStarted = false;  // the first failed commit after good ones: tell the operator once
    int flushed = 0;              // earlier pending items committed along with this one
    QString error;                // why the commit failed or the write was rejected
  };

  // `fuels` (kFuelCount rows, not owned; null: the built-in table) are the
  // coefficients the derived channels of the results appended are computed
  // with. Whoever edits the rows keeps them where this points.
  explicit ResultStore(const FuelRow* fuels = nullptr);
  // Another place of the rows (as the constructor's `fuels`).
  void setFuels(const FuelRow* fuels);
  ~ResultStore();
  ResultStore(const ResultStore&) = delete;
  ResultStore& operator=(const ResultStore&) = delete;

  // Opens or creates the database at `path`. `nowUtcMs` dates the name a
  // damaged file is moved to. Shows nothing: the caller reports the status.
  OpenResult open(const QString& path, qint64 nowUtcMs, WhenLocked whenLocked = WhenLocked::OpenReadOnly,
                  Check check = Check::Auto);
  // Opens an existing database for reading only, whoever owns it, without
  // taking the lock and without creating, upgrading or moving anything: a
  // reader beside the owner in the same program (the web view), or a check
  // of a file whether or not an instance owns it.
  OpenResult openForReading(const QString& path);
  // Closes the file and releases the lock; pending items that still cannot be
  // committed are lost (pendingCount() tells how many beforehand).
  void close();
  bool isOpen() const { return db_ != nullptr; }
  bool isWritable() const { return db_ != nullptr && writable_; }
  QString path() const { return path_; }

  // Writing. Each call commits (durably) everything still pending and then
  // the new item, in order, in one transaction.
  //
  // Sync::Later leaves the commit in the system's cache until syncTogether():
  // several analyzers' databases written in one round then wait for the disk
  // once, not once each. Nothing committed so may be told to anyone before.
  enum class Sync { Now, Later };
  AppendOutcome append(const Result& result, Sync sync = Sync::Now);
  // Committed with Sync::Later and not yet known to be on the disk.
  bool needsSync() const { return unsynced_; }
  // What these stores committed with Sync::Later, to the disk: in one wait
  // where the system can sync their file system at once, else each store's
  // log in turn. False when one failed; that one still needsSync().
  static bool syncTogether(const std::vector<ResultStore*>& stores);
  // Many results in one transaction, e.g. imported from a data file.
  // `progress` is told how many of them are written so far, every 1024.
  AppendOutcome appendBatch(const std::vector<Result>& results,
                            const std::function<void(int written)>& progress = {});
  AppendOutcome appendEvent(qint64 utcMs, int32_t utcOffset, EventKind kind, const QString& text);
  // Commits what is pending; true when nothing is left pending.
  bool flushPending();
  int pendingCount() const { return int(pending_.size()); }
  int pendingResultCount() const;
  // What waits, as it was appended.
  std::vector<Result> pendingResults() const;
  std::vector<StoredEvent> pendingEvents() const;

  // Results with fromUtcMs <= utcMs < toUtcMs, in time order (results taken
  // at the same moment, e.g. after the clock was set back, by sequence).
  // Spans the read could not get at go to `unreadable` (see also
  // setDamageObserver).
  std::vector<StoredResult> results(qint64 fromUtcMs, qint64 toUtcMs,
                                    QVector<UnreadableSpan>* unreadable = nullptr) const;
  // Results whose local date (by their own offset) is `day`, in time order:
  // what a day's table or daily log holds.
  std::vector<StoredResult> resultsOnDay(const QDate& day, QVector<UnreadableSpan>* unreadable = nullptr) const;
  // The same, each handed to `take` as it is read, without holding them all.
  using ResultSink = std::function<void(const StoredResult&)>;
  void forEachResult(qint64 fromUtcMs, qint64 toUtcMs, const ResultSink& take,
                     QVector<UnreadableSpan>* unreadable = nullptr) const;
  void forEachResultOnDay(const QDate& day, const ResultSink& take,
                          QVector<UnreadableSpan>* unreadable = nullptr) const;
  // Up to `limit` committed results after sequence number `seq`, in order.
  std::vector<StoredResult> resultsAfter(qint64 seq, int limit, QVector<UnreadableSpan>* unreadable = nullptr) const;
  qint64 lastCommittedSeq() const { return lastCommittedSeq_; }

  QVector<StoredEvent> events(qint64 fromUtcMs, qint64 toUtcMs) const;
  QVector<StoredEvent> eventsAfter(qint64 id, int limit) const;
  // The newest event of one of these kinds (a switch's last turn).
  std::optional<StoredEvent> lastEventOf(const QVector<EventKind>& kinds) const;

  // Damage met by reads: every span once, to `observer` when the read that
  // met it is over (the program logs it and tells the operator), and all of
  // them so far.
  void setDamageObserver(std::function<void(const UnreadableSpan&)> observer) { damageObserver_ = std::move(observer); }
  QVector<UnreadableSpan> unreadableFound() const { return unreadableFound_; }

  // The database's identity: 32 hex digits, new with every file begun and
  // whenever it is found to have lost committed results. Results and events
  // carry the identity they were stored under (StoredResult::storeId).
  QString identity() const;
  // Starts a new identity with the next result and event, and numbers them
  // after `seqSeen` and `eventIdSeen` (numbers someone already received)
  // when those are higher. For the forwarders when the other side holds
  // different rows under numbers of this database. Logs why as an event.
  bool renewIdentity(qint64 nowUtcMs, const QString& reason, qint64 seqSeen = 0, qint64 eventIdSeen = 0);

  // A check of every result's page beside the file's owner, in steps, for
  // a start after a crash: measuring goes on, the check follows. A store
  // opened with openForCheck reads on a read-only connection of its own and
  // takes no lock. Each checkStep() reads the next `results` results by
  // number; after the results come the older results' time index, a stretch
  // of time a step, and last the other tables (SQLite's quick_check). False
  // once there is nothing left. What cannot be read goes where a read's
  // damage goes (unreadableFound(), the observer); the other tables'
  // verdicts to checkProblems().
  OpenResult openForCheck(const QString& path);
  bool checkStep(int results = 50000);
  double checkProgress() const;
  QStringList checkProblems() const { return checkProblems_; }

  // Room on the disk. The log's space is reserved at opening so that commits
  // never need more; when the reserve does not fit the disk is nearly full:
  // the log is then moved into the file and cut back every few commits, and
  // the free bytes are worth telling the operator.
  bool spaceShort() const { return writable_ && !logReserved_; }
  qint64 bytesFree() const;

  // Emission averages. Stored in one transaction, each replacing the one of
  // the same profile, period, interval length and start; false with
  // lastError() when the write failed (they can be computed again from the
  // results).
  bool storeAverages(const QVector<StoredAverage>& averages);
  // Those of the profile, period and interval length with fromUtcMs <= start
  // < toUtcMs, by start. Empty from a version 1 file opened read-only.
  QVector<StoredAverage> averages(AveragePeriodKind period, int intervalMinutes, qint64 fromUtcMs,
                                  qint64 toUtcMs, int profile = 0) const;

  // Every average, of any period and interval length, with fromUtcMs <=
  // start < toUtcMs, by period, interval length and start.
  QVector<StoredAverage> allAverages(qint64 fromUtcMs, qint64 toUtcMs) const;

  // Forwarding cursors: the last sequence number (or event id) a consumer
  // delivered; 0 for a consumer never seen.
  qint64 cursor(const QString& consumer) const;
  bool setCursor(const QString& consumer, qint64 seq);

  // Local dates (by each result's own offset) that hold committed results,
  // ascending; those of them before `before` (all when null) with no daily
  // log written yet; and marking a day's log written.
  QVector<QDate> daysWithResults() const;
  QVector<QDate> daysWithoutLog(const QDate& before = QDate()) const;
  bool markLogWritten(const QDate& day, qint64 nowUtcMs);

  // Tests that take weeks of results in seconds switch off waiting for the
  // disk at each commit (what survives a power cut is not what they check;
  // the crash tests run a writer process with the program's own setting).
  static void setDurableForTesting(bool durable);

  // A database as versions 1 and 2 of the schema wrote it, with `results`
  // (for the tests and the benchmark of the reading of older files).
  static bool writeVersion2File(const QString& path, const std::vector<Result>& results, QString* error);

  // Why the last failed operation failed.
  QString lastError() const { return lastError_; }

 private:
  struct Statements;
  struct Context;
  class Checkpointer;
  struct Segment;
  using Item = std::variant<StoredResult, StoredEvent>;
  // The times a read wants: UTC, and local by each result's own clock.
  struct Within {
    qint64 fromUtcMs, toUtcMs, localFrom, localTo;
  };

  OpenResult openWritable(qint64 nowUtcMs, Check check);
  enum class Access { ReadWrite, ReadOnly, Immutable };
  OpenResult openReadOnly(const QString& why, bool nobodyWrites);
  bool openConnection(Access access, QString* error);
  bool checkPages(Check check, QString* error);
  bool setUp(QString* error);
  bool migrate(int version, QString* error);
  bool prepare(QString* error);
  bool loadCounters(QString* error);
  bool loadContexts() const;
  bool loadIdentities(qint64 nowUtcMs, QString* notice, QString* error);
  bool addIdentity(qint64 nowUtcMs, qint64 firstSeq, qint64 firstEventId, const QString& reason);
  QString fileIdentity() const;
  const QString& identityOf(qint64 number, bool event) const;
  void setStoreId(qint64 number, bool event, QString* storeId) const;
  void writeMark();
  void closeConnection();
  bool moveAside(qint64 nowUtcMs, QString* movedTo, QString* error);

  AppendOutcome commit(qint64 firstSeq, const std::vector<Result>* batch, const std::function<void(int)>& progress);
  // The log of what was committed with Sync::Later, to the disk.
  bool syncLog();
  int contextOf(const Result& r);
  void afterCommit();
  const Context& contextById(qint64 id) const;
  bool readRow(sqlite3_stmt* st, const Within& within, StoredResult* out) const;
  bool readLegacyRow(sqlite3_stmt* st, const Within& within, StoredResult* out) const;
  bool scan(sqlite3_stmt* st, bool byTime, qint64 first, qint64 bound, qint64 end,
            const std::function<bool(sqlite3_stmt*)>& take, qint64 fromUtcMs, qint64 toUtcMs,
            QVector<UnreadableSpan>* spans) const;
  void scanRange(qint64 fromUtcMs, qint64 toUtcMs, qint64 localFrom, qint64 localTo, const ResultSink& take,
                 QVector<UnreadableSpan>* spans) const;
  void noteDamage(const QVector<UnreadableSpan>& spans) const;
  bool exec(const char* sql);
  bool prepareAverages(int version, QString* error);
  QString sqliteError(const char* what) const;

  QString path_;
  const FuelRow* fuels_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> st_;
  std::unique_ptr<QLockFile> lock_;
  bool writable_ = false;
  bool averagesV4_ = false;  // the averages' table has the columns of schema 4
  std::deque<Item> pending_;
  bool failing_ = false;
  bool unsynced_ = false;  // committed with Sync::Later since the last sync
  qint64 nextSeq_ = 1;
  qint64 nextEventId_ = 1;
  qint64 lastCommittedSeq_ = 0;
  qint64 lastDay_ = std::numeric_limits<qint64>::min();  // local day last recorded in result_days
  int schemaVersion_ = 0;    // of the file as it is open
  bool hasLegacy_ = false;  // results of schema versions 1-2
  // The newest time run: where it starts, the last result in it.
  qint64 runFirstSeq_ = 0, runLastSeq_ = 0, runLastUtcMs_ = 0;
  mutable std::vector<Context> contexts_;  // by id - 1
  size_t committedContexts_ = 0;
  int lastContext_ = -1;           // index of the one the last result had
  std::vector<Segment> segments_;  // identities, by first number
  std::unique_ptr<QFile> mark_;    // the high-water mark beside the file
  std::unique_ptr<Checkpointer> checkpointer_;
  bool logReserved_ = false;
  int logPages_ = 0;   // in the log after the last commit
  int shortCuts_ = 0;  // log cut back while the disk was short
  std::function<void(const UnreadableSpan&)> damageObserver_;
  // The check: the next result number, then the next time of the older
  // results' index, then the other tables.
  enum class CheckPhase { Results, TimeIndex, Tables, Done };
  CheckPhase checkPhase_ = CheckPhase::Results;
  qint64 checkNext_ = 1, checkEnd_ = 0, checkTimeNext_ = 0, checkTimeEnd_ = 0;
  QStringList checkProblems_;
  mutable QVector<UnreadableSpan> unreadableFound_;
  mutable QString lastError_;
};
