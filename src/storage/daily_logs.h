#pragma once
// The daily measurement logs, written from the results database: each day's
// log under the day's own name at the change of day, and at start the logs
// of earlier days that have none (the program was not running at their
// midnight), one a turn (writeNext) so that a long absence does not keep the
// disk busy for an hour at once. A log that cannot be written whole (a full
// disk) is kept and tried again at every retry until it is written; the
// event log hears once of each day's failure, the operator once until the
// logs are written again.
//
// A day's log is read and written by a writer with a read-only connection of
// its own, in a thread of its own in the program (a day of a year-size
// database is a second's work, which the poll does not wait for); the
// bookkeeping (which days, the events, the day marked written in the
// database) stays in the caller's thread. One log is written at a time.
//
// Without a database the table is the day's only record: its log is written
// from the table's results (writeFromTable).

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

#include "data/result_store.h"

class QThread;
class ResultsLog;

class DailyLogs : public QObject {
  Q_OBJECT
 public:
  // Records an event (a log written, a log failed).
  using EventLog = std::function<void(EventKind kind, const QString& text)>;

  DailyLogs(ResultStore& store, EventLog log, QObject* parent = nullptr);
  // Waits for the log being written (see finish()).
  ~DailyLogs() override;
  // Before the first log: the writer in a thread of its own (the default),
  // or in the caller's, each log written before the call that asked for it
  // returns.
  void setOwnThread(bool own);

  // At start: the days before `today` that hold results and have no log
  // are noted, to be written by writeNext.
  void writeEarlierDays(const QDate& today);
  // The oldest of the days noted, its log written (unless one is being written).
  void writeNext();
  bool hasEarlierDays() const { return !earlier_.isEmpty(); }
  // The day ended: its log, even without results, and any that failed
  // before; earlier days found without one are noted for writeNext.
  void dayEnded(const QDate& day, const QDate& today);
  // The logs that failed, tried again.
  void retry();
  bool hasMissing() const { return !missing_.isEmpty(); }
  // A log is being written.
  bool busy() const { return inFlight_.isValid(); }
  // Waits for the log being written and books it, and closes the writer's
  // connection: before the database closes (a later log opens it again).
  void finish();

  // A day's log from the table's results, by atomic replace.
  static bool writeFromTable(const ResultsLog& table, const QDate& day, int slot = 1, QString* error = nullptr);
  // The analyzer of the line whose logs these are (its slot, 1..8).
  void setSlot(int slot) { slot_ = slot; }

 signals:
  // A log failed, the first since the logs were last all written: the
  // operator is told, and not again until they are.
  void failedFirst();

 private:
  class Writer;
  Writer* writer();
  // Starts the oldest missing log, or (`earlier`) the oldest earlier day's.
  void startNext(bool earlier);
  void written(const QDate& day, bool ok, const QString& error);
  void failed(const QDate& day, const QString& error);
  void noteEarlierDays(const QDate& today, const QDate& except);

  ResultStore& store_;
  EventLog log_;
  std::unique_ptr<QThread> thread_;
  Writer* writer_ = nullptr;  // lives in thread_ (or here); made with the first log
  bool ownThread_ = true;
  int slot_ = 1;
  QDate inFlight_;
  QSet<QDate> missing_;        // days whose log could not be written yet
  QSet<QDate> earlier_;        // days found without a log, not tried yet
  QSet<QDate> failureLogged_;  // of them, those whose failure the event log has
  bool operatorTold_ = false;
};
