#pragma once
// The daily measurement logs, written from the results database: each day's
// log under the day's own name at the change of day, and at start the logs
// of earlier days that have none (the program was not running at their
// midnight), one a turn (writeNext) so that a long absence does not hold the
// poll for minutes (a year of missing logs is an hour of writing). A log that cannot be written whole (a full disk) is kept and
// tried again at every retry until it is written; the event log hears once
// of each day's failure, the operator once until the logs are written again.
//
// Without a database the table is the day's only record: its log is written
// from the table's results (writeFromTable).

#include <QDate>
#include <QSet>
#include <QString>
#include <functional>

#include "data/result_store.h"

class ResultsLog;

class DailyLogs {
 public:
  // Records an event (a log written, a log failed).
  using EventLog = std::function<void(EventKind kind, const QString& text)>;

  DailyLogs(ResultStore& store, EventLog log);

  // What a round of writing came to.
  struct Outcome {
    bool allWritten = true;
    // The first failure since the logs were last all written: the operator is
    // told now, and not again until they are.
    bool tellOperator = false;
  };

  // At start: the days before `today` that hold results and have no log
  // are noted, to be written by writeNext.
  void writeEarlierDays(const QDate& today);
  // The oldest of the days noted, its log written.
  Outcome writeNext();
  bool hasEarlierDays() const { return !earlier_.isEmpty(); }
  // The day ended: its log, even without results, and any that failed
  // before; earlier days found without one are noted for writeNext.
  Outcome dayEnded(const QDate& day, const QDate& today);
  // The logs that failed, tried again.
  Outcome retry();
  bool hasMissing() const { return !missing_.isEmpty(); }

  // A day's log from the table's results, by atomic replace.
  static bool writeFromTable(const ResultsLog& table, const QDate& day, QString* error = nullptr);

 private:
  bool writeDay(const QDate& day);
  Outcome writeMissing();
  void noteEarlierDays(const QDate& today, const QDate& except);

  ResultStore& store_;
  EventLog log_;
  QSet<QDate> missing_;         // days whose log could not be written yet
  QSet<QDate> earlier_;         // days found without a log, not tried yet
  QSet<QDate> failureLogged_;   // of them, those whose failure the event log has
  bool operatorTold_ = false;
};
