#include "storage/daily_logs.h"

#include <algorithm>

#include "data/results_log.h"
#include "platform/seams.h"
#include "storage/table_files.h"

DailyLogs::DailyLogs(ResultStore& store, EventLog log) : store_(store), log_(std::move(log)) {}

void DailyLogs::writeEarlierDays(const QDate& today) {
  if (!store_.isWritable()) return;
  noteEarlierDays(today, QDate());
}

void DailyLogs::noteEarlierDays(const QDate& today, const QDate& except) {
  for (const QDate& day : store_.daysWithoutLog(today))
    if (day != except && !missing_.contains(day)) earlier_.insert(day);
}

DailyLogs::Outcome DailyLogs::writeNext() {
  if (!store_.isWritable() || earlier_.isEmpty()) return {};
  const QDate day = *std::min_element(earlier_.cbegin(), earlier_.cend());
  earlier_.remove(day);
  Outcome outcome;
  outcome.allWritten = writeDay(day);
  if (!outcome.allWritten && !operatorTold_) {
    operatorTold_ = true;
    outcome.tellOperator = true;
  } else if (outcome.allWritten && missing_.isEmpty()) {
    operatorTold_ = false;
  }
  return outcome;
}

DailyLogs::Outcome DailyLogs::dayEnded(const QDate& day, const QDate& today) {
  if (!store_.isWritable()) return {};
  missing_.insert(day);
  earlier_.remove(day);
  noteEarlierDays(today, day);
  return writeMissing();
}

DailyLogs::Outcome DailyLogs::retry() {
  if (!store_.isWritable() || missing_.isEmpty()) return {};
  return writeMissing();
}

DailyLogs::Outcome DailyLogs::writeMissing() {
  QList<QDate> days = missing_.values();
  std::sort(days.begin(), days.end());
  Outcome outcome;
  for (const QDate& day : days) outcome.allWritten = writeDay(day) && outcome.allWritten;
  if (outcome.allWritten) {
    operatorTold_ = false;
  } else if (!operatorTold_) {
    operatorTold_ = true;
    outcome.tellOperator = true;
  }
  return outcome;
}

bool DailyLogs::writeDay(const QDate& day) {
  const QString path = dailyLogPath(day);
  // Results still waiting for the database belong in the log too: not yet.
  QString error;
  bool written = store_.flushPending();
  if (written) {
    ResultsLog log;
    log.beginLoad();
    store_.forEachResultOnDay(day, [&log](const StoredResult& s) { log.append(s.result); });
    log.endLoad();
    written = writeTableFile(log, path, &error);
  } else {
    error = store_.lastError();
  }
  if (!written) {
    missing_.insert(day);
    if (!failureLogged_.contains(day)) {
      failureLogged_.insert(day);
      log_(EventKind::DailyLogFailed, QStringLiteral(u"Суточный журнал не записан: %1 (%2)").arg(path, error));
    }
    return false;
  }
  const QDateTime now = seams::currentDateTime();
  store_.markLogWritten(day, now.toMSecsSinceEpoch());
  missing_.remove(day);
  failureLogged_.remove(day);
  log_(EventKind::DailyLogWritten, QStringLiteral(u"Суточный журнал записан: %1").arg(path));
  return true;
}

bool DailyLogs::writeFromTable(const ResultsLog& table, const QDate& day, QString* error) {
  return writeTableFile(table, dailyLogPath(day), error);
}
