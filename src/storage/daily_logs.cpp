#include "storage/daily_logs.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

#include "data/results_log.h"
#include "platform/seams.h"
#include "storage/table_files.h"

// Reads a day from the database file through a read-only connection of its
// own and writes its log.
class DailyLogs::Writer : public QObject {
 public:
  bool write(const QString& dbPath, const QDate& day, int slot, QString* error) {
    if (!reader_.isOpen() || reader_.path() != dbPath) {
      reader_.close();
      const ResultStore::OpenResult opened = reader_.openForReading(dbPath);
      if (!opened.isOpen()) {
        *error = opened.detail;
        return false;
      }
    }
    ResultsLog log;
    log.beginLoad();
    reader_.forEachResultOnDay(day, [&log](const StoredResult& s) { log.append(s.result); });
    log.endLoad();
    return writeTableFile(log, dailyLogPath(day, slot), error);
  }
  void close() { reader_.close(); }

 private:
  ResultStore reader_;
};

DailyLogs::DailyLogs(ResultStore& store, EventLog log, QObject* parent)
    : QObject(parent), store_(store), log_(std::move(log)) {}

DailyLogs::~DailyLogs() {
  finish();
  if (thread_) {
    thread_->quit();
    thread_->wait();
  } else {
    delete writer_;
  }
}

void DailyLogs::setOwnThread(bool own) {
  if (!writer_) ownThread_ = own;
}

DailyLogs::Writer* DailyLogs::writer() {
  if (writer_) return writer_;
  writer_ = new Writer;
  if (ownThread_) {
    thread_ = std::make_unique<QThread>();
    thread_->setObjectName(QStringLiteral("daily-logs"));
    writer_->moveToThread(thread_.get());
    connect(thread_.get(), &QThread::finished, writer_, &QObject::deleteLater);
    thread_->start();
  }
  return writer_;
}

void DailyLogs::writeEarlierDays(const QDate& today) {
  if (!store_.isWritable()) return;
  noteEarlierDays(today, QDate());
}

void DailyLogs::noteEarlierDays(const QDate& today, const QDate& except) {
  for (const QDate& day : store_.daysWithoutLog(today))
    if (day != except && !missing_.contains(day) && day != inFlight_) earlier_.insert(day);
}

void DailyLogs::writeNext() { startNext(true); }

void DailyLogs::dayEnded(const QDate& day, const QDate& today) {
  if (!store_.isWritable()) return;
  missing_.insert(day);
  earlier_.remove(day);
  noteEarlierDays(today, day);
  startNext(false);
}

void DailyLogs::retry() { startNext(false); }

void DailyLogs::startNext(bool earlier) {
  if (!store_.isWritable() || busy()) return;
  QSet<QDate>& days = earlier ? earlier_ : missing_;
  if (days.isEmpty()) return;
  const QDate day = *std::min_element(days.cbegin(), days.cend());
  if (earlier) earlier_.remove(day);
  // Results still waiting for the database belong in the log too: not yet.
  if (!store_.flushPending()) {
    failed(day, store_.lastError());
    return;
  }
  inFlight_ = day;
  const QString dbPath = store_.path();
  const int slot = slot_;
  Writer* w = writer();
  if (!thread_) {
    QString error;
    const bool ok = w->write(dbPath, day, slot, &error);
    written(day, ok, error);
    return;
  }
  QMetaObject::invokeMethod(w, [this, w, dbPath, day, slot] {
    QString error;
    const bool ok = w->write(dbPath, day, slot, &error);
    QMetaObject::invokeMethod(this, [this, day, ok, error] { written(day, ok, error); }, Qt::QueuedConnection);
  });
}

void DailyLogs::finish() {
  // The writer's read-only connection closes before the database's own: the
  // last connection to close takes the write-ahead log back into the file,
  // which only a writer may do. Left open, the log stayed beside the file
  // after a clean end, and the next start took it for a crash's.
  if (!writer_) return;
  Writer* w = writer_;
  if (!thread_) {
    w->close();
    return;
  }
  const bool wasBusy = busy();
  QMetaObject::invokeMethod(w, [w] { w->close(); }, Qt::BlockingQueuedConnection);
  // The writer's answer waits in this thread's queue.
  if (wasBusy) QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void DailyLogs::written(const QDate& day, bool ok, const QString& error) {
  if (day != inFlight_) return;
  inFlight_ = QDate();
  if (!ok) {
    failed(day, error);
    return;
  }
  // The database may have gone meanwhile (stopped): written all the same,
  // and found without its mark at the next start, written again.
  if (store_.isWritable()) store_.markLogWritten(day, seams::currentDateTime().toMSecsSinceEpoch());
  missing_.remove(day);
  failureLogged_.remove(day);
  log_(EventKind::DailyLogWritten, QStringLiteral(u"Суточный журнал записан: %1").arg(dailyLogPath(day, slot_)));
  if (missing_.isEmpty()) operatorTold_ = false;
  // The ended day's chain of logs that failed before goes on at once.
  if (!missing_.isEmpty()) startNext(false);
}

void DailyLogs::failed(const QDate& day, const QString& error) {
  missing_.insert(day);
  if (!failureLogged_.contains(day)) {
    failureLogged_.insert(day);
    log_(EventKind::DailyLogFailed,
         QStringLiteral(u"Суточный журнал не записан: %1 (%2)").arg(dailyLogPath(day, slot_), error));
  }
  if (!operatorTold_) {
    operatorTold_ = true;
    emit failedFirst();
  }
}

bool DailyLogs::writeFromTable(const ResultsLog& table, const QDate& day, int slot, QString* error) {
  return writeTableFile(table, dailyLogPath(day, slot), error);
}
