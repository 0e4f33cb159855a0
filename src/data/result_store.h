#pragma once
// The results database: every result is committed to one SQLite file as it is
// taken, together with the program's events, the days whose daily log has been
// written and, for each consumer that forwards results elsewhere (MQTT, a
// central server), the last sequence number it delivered.
//
// One ResultStore owns the file for writing; a second one (another instance of
// the program) gets the history read-only. Used from one thread. The lock's
// owner name comes from QCoreApplication, so one should exist.

#include <QDate>
#include <QString>
#include <QVector>
#include <array>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <variant>
#include <vector>

#include "acquisition/result.h"

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
};

struct StoredEvent {
  qint64 id = 0;  // increases with every event, like a result's sequence number
  qint64 utcMs = 0;
  int32_t utcOffset = 0;  // seconds east of UTC
  EventKind kind = EventKind::LinkLost;
  QString text;
};

struct StoredResult {
  qint64 seq = 0;
  Result result;
};

// An emission average as the database keeps it: of an interval or of a local
// day, per component (CO, NOx, SO2, H2S, in that order) the mean in mg/m3 at
// the reference O2, how many values made it, whether that made it valid, and
// the exceedance it was judged to be when it was complete. The emissions
// library fills it in; this layer only keeps it. The numbers are stored:
// never renumber.
enum class AveragePeriodKind : int { Interval = 0, Day = 1 };
inline constexpr int kStoredComponentCount = 4;

struct StoredComponentAverage {
  double mean = 0;     // meaningful when count > 0
  int count = 0;       // valid results (interval) or valid intervals (day)
  bool valid = false;
  int exceedance = 0;  // 0 none, 1 pre-alarm, 2 alarm
  bool operator==(const StoredComponentAverage& o) const {
    return mean == o.mean && count == o.count && valid == o.valid && exceedance == o.exceedance;
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
  bool operator==(const StoredAverage& o) const {
    return period == o.period && intervalMinutes == o.intervalMinutes && startUtcMs == o.startUtcMs &&
           endUtcMs == o.endUtcMs && startOffset == o.startOffset && endOffset == o.endOffset &&
           count == o.count && components == o.components;
  }
};

class ResultStore {
 public:
  // 1: results, events, days, logs, cursors. 2: emission averages as well;
  // a version 1 file gets their table when opened for writing.
  static constexpr int kSchemaVersion = 2;

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

  ResultStore();
  ~ResultStore();
  ResultStore(const ResultStore&) = delete;
  ResultStore& operator=(const ResultStore&) = delete;

  // Opens or creates the database at `path`. `nowUtcMs` dates the name a
  // damaged file is moved to. Shows nothing: the caller reports the status.
  OpenResult open(const QString& path, qint64 nowUtcMs, WhenLocked whenLocked = WhenLocked::OpenReadOnly,
                  Check check = Check::Auto);
  // Opens the database at `path` for reading only, without taking the lock
  // and without creating, upgrading or moving anything: for checking a file
  // whether or not an instance owns it.
  OpenResult openToRead(const QString& path);
  // Closes the file and releases the lock; pending items that still cannot be
  // committed are lost (pendingCount() tells how many beforehand).
  void close();
  bool isOpen() const { return db_ != nullptr; }
  bool isWritable() const { return db_ != nullptr && writable_; }
  QString path() const { return path_; }

  // Writing. Each call commits (durably) everything still pending and then
  // the new item, in order, in one transaction.
  AppendOutcome append(const Result& result);
  // Many results in one transaction, e.g. imported from a data file.
  // `progress` is told how many of them are written so far, every 1024.
  AppendOutcome appendBatch(const std::vector<Result>& results,
                            const std::function<void(int written)>& progress = {});
  AppendOutcome appendEvent(qint64 utcMs, int32_t utcOffset, EventKind kind, const QString& text);
  // Commits what is pending; true when nothing is left pending.
  bool flushPending();
  int pendingCount() const { return int(pending_.size()); }

  // Results with fromUtcMs <= utcMs < toUtcMs, in time order (results taken
  // at the same moment, e.g. after the clock was set back, by sequence).
  std::vector<StoredResult> results(qint64 fromUtcMs, qint64 toUtcMs) const;
  // Results whose local date (by their own offset) is `day`, in time order:
  // what a day's table or daily log holds.
  std::vector<StoredResult> resultsOnDay(const QDate& day) const;
  // Up to `limit` committed results after sequence number `seq`, in order.
  std::vector<StoredResult> resultsAfter(qint64 seq, int limit) const;
  qint64 lastCommittedSeq() const { return lastCommittedSeq_; }

  QVector<StoredEvent> events(qint64 fromUtcMs, qint64 toUtcMs) const;
  QVector<StoredEvent> eventsAfter(qint64 id, int limit) const;

  // Emission averages. Stored in one transaction, each replacing the one of
  // the same period, interval length and start; false with lastError() when
  // the write failed (they can be computed again from the results).
  bool storeAverages(const QVector<StoredAverage>& averages);
  // Those of the period and interval length with fromUtcMs <= start <
  // toUtcMs, by start. Empty from a version 1 file opened read-only.
  QVector<StoredAverage> averages(AveragePeriodKind period, int intervalMinutes, qint64 fromUtcMs,
                                  qint64 toUtcMs) const;

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

  // Why the last failed operation failed.
  QString lastError() const { return lastError_; }

 private:
  struct Statements;
  using Item = std::variant<StoredResult, StoredEvent>;

  OpenResult openWritable(qint64 nowUtcMs, Check check);
  enum class Access { ReadWrite, ReadOnly, Immutable };
  OpenResult openReadOnly(const QString& why, bool nobodyWrites);
  bool openConnection(Access access, QString* error);
  bool checkPages(Check check, QString* error);
  bool setUp(QString* error);
  bool loadCounters(QString* error);
  void closeConnection();
  bool moveAside(qint64 nowUtcMs, QString* movedTo, QString* error);

  AppendOutcome commit(qint64 firstSeq, const std::vector<Result>* batch, const std::function<void(int)>& progress);
  bool exec(const char* sql);
  bool prepareAverages(QString* error);
  QString sqliteError(const char* what) const;

  QString path_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> st_;
  std::unique_ptr<QLockFile> lock_;
  bool writable_ = false;
  std::deque<Item> pending_;
  bool failing_ = false;
  qint64 nextSeq_ = 1;
  qint64 nextEventId_ = 1;
  qint64 lastCommittedSeq_ = 0;
  qint64 lastDay_ = std::numeric_limits<qint64>::min();  // local day last recorded in result_days
  mutable QString lastError_;
};
