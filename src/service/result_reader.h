#pragma once
// Reads the results database for the window while the session writes it:
// a read-only connection of its own in a thread of its own, so that a long
// read — a range of days' history, a year's emission report — delays
// neither the window nor a poll. A read goes in steps (six hours of results,
// or one day of a report), tells its progress after each, and can be
// cancelled between two. A history holds at most kHistoryLimit results, and
// the reader is at most two steps ahead of whoever takes them (take()), so
// memory stays bounded however long the range.

#include <QDate>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>

#include "core/result.h"
#include "emissions/averaging.h"

class QSemaphore;
class QThread;

class ResultReader : public QObject {
  Q_OBJECT
 public:
  // Results of this span of time are read in one step.
  static constexpr qint64 kStepMs = qint64(6) * 3600 * 1000;
  // A history holds at most this many results (about 110 MB in the table).
  static constexpr int kHistoryLimit = 1000000;

  enum class Status {
    Done,
    Cancelled,
    Truncated,   // the range held more than kHistoryLimit results: the first of them
    NoDatabase,  // none open, or it could not be read
  };

  explicit ResultReader(QObject* parent = nullptr);
  // Cancels what is under way and ends the thread.
  ~ResultReader() override;

  // The database to read: the session's, once it is open.
  void setDatabase(const QString& path);
  bool hasDatabase() const { return !path_.isEmpty(); }
  bool busy() const { return busy_; }

  // The results of the local days from..to, in time order: historyChunk for
  // each step (acknowledge each with take()), progress, then historyFinished.
  // A read under way is cancelled first.
  void readHistory(const QDate& from, const QDate& to);
  // A chunk was taken over: the reader may read on.
  void take();
  // The averages of the local days from..to with `config`, computed again
  // from the stored results: progress, then reportFinished.
  void readReport(const QDate& from, const QDate& to, const emissions::AveragingConfig& config);
  // Ends the read under way at its next step (its finished signal says so).
  void cancel();
  // Cancels, and closes the reader's connection (a later read opens it
  // again): before the database's owner closes it, so that the owner's
  // connection is the last and takes the write-ahead log back into the file.
  void close();

  // For tests: runs in the reader's thread before every step.
  void setStepHook(std::function<void()> hook);

 signals:
  void historyChunk(const QVector<Result>& results);
  void progress(int percent);
  // `count` results were read; `why` says what went wrong for NoDatabase.
  void historyFinished(ResultReader::Status status, int count, const QString& why);
  // `trailNote`: the audit trail and the seals of the report's days, checked
  // after the report was read.
  void reportFinished(ResultReader::Status status, const QVector<emissions::DailyAverage>& days,
                      const QString& why, const QString& trailNote);

 private:
  class Worker;

  QString path_;
  std::unique_ptr<QThread> thread_;
  Worker* worker_ = nullptr;  // lives in thread_
  std::shared_ptr<std::atomic<int>> generation_;
  std::shared_ptr<QSemaphore> credits_;
  bool busy_ = false;
};

Q_DECLARE_METATYPE(ResultReader::Status)
