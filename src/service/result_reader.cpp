#include "service/result_reader.h"

#include <QSemaphore>
#include <QThread>
#include <mutex>

#include "data/result_store.h"
#include "data/trail_check.h"
#include "emissions/stored_averages.h"
#include "platform/seams.h"

namespace {

// Chunks handed over and not yet taken, at most.
constexpr int kChunksAhead = 2;

qint64 dayStartUtc(const QDate& day) { return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch(); }

}  // namespace

class ResultReader::Worker : public QObject {
 public:
  Worker(ResultReader* reader, std::shared_ptr<std::atomic<int>> generation, std::shared_ptr<QSemaphore> credits)
      : reader_(reader), generation_(std::move(generation)), credits_(std::move(credits)) {}

  void setHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(hookMutex_);
    hook_ = std::move(hook);
  }
  void close() { store_.close(); }

  void history(int generation, const QString& path, const QDate& from, const QDate& to) {
    QString why;
    if (!open(path, &why)) {
      finishHistory(generation, Status::NoDatabase, 0, why);
      return;
    }
    const qint64 begin = dayStartUtc(from), end = dayStartUtc(to.addDays(1));
    int count = 0;
    for (qint64 at = begin; at < end; at += kStepMs) {
      if (!step(generation)) {
        finishHistory(generation, Status::Cancelled, count, {});
        return;
      }
      const qint64 stepEnd = std::min(end, at + kStepMs);
      const std::vector<StoredResult> stored = store_.results(at, stepEnd);
      QVector<Result> chunk;
      chunk.reserve(qsizetype(std::min<size_t>(stored.size(), size_t(kHistoryLimit - count))));
      for (const StoredResult& s : stored) {
        if (count == kHistoryLimit) break;
        chunk.append(s.result);
        ++count;
      }
      const bool full = count == kHistoryLimit && (chunk.size() < qsizetype(stored.size()) || stepEnd < end);
      if (!chunk.isEmpty()) {
        // Wait until the window has taken all but the last few chunks.
        while (!credits_->tryAcquire(1, 50))
          if (generation_->load() != generation) {
            finishHistory(generation, Status::Cancelled, count, {});
            return;
          }
        post([generation, chunk](ResultReader* r) { emit r->historyChunk(chunk); }, generation);
      }
      const int percent = int(100 * (stepEnd - begin) / std::max<qint64>(1, end - begin));
      post([percent](ResultReader* r) { emit r->progress(percent); }, generation);
      if (full) {
        finishHistory(generation, Status::Truncated, count, {});
        return;
      }
    }
    finishHistory(generation, Status::Done, count, {});
  }

  void report(int generation, const QString& path, const QDate& from, const QDate& to,
              const emissions::AveragingConfig& config) {
    QString why;
    QVector<emissions::DailyAverage> days;
    if (!open(path, &why)) {
      finishReport(generation, Status::NoDatabase, days, why);
      return;
    }
    const qint64 total = std::max<qint64>(1, from.daysTo(to) + 1);
    for (QDate d = from; d.isValid() && d <= to; d = d.addDays(1)) {
      if (!step(generation)) {
        finishReport(generation, Status::Cancelled, {}, {});
        return;
      }
      days.append(emissions::recomputeDay(store_, d, config));
      const int percent = int(100 * (from.daysTo(d) + 1) / total);
      post([percent](ResultReader* r) { emit r->progress(percent); }, generation);
    }
    // The report's foot says whether the trail and its days' seals were whole.
    finishReport(generation, Status::Done, days, {}, trailStatement(store_, from, to));
  }

 private:
  bool open(const QString& path, QString* why) {
    if (path.isEmpty()) {
      *why = QStringLiteral(u"база данных результатов не открыта");
      return false;
    }
    if (store_.isOpen() && store_.path() == path) return true;
    // The session owns the file: this connection only reads it.
    const ResultStore::OpenResult opened = store_.open(path, seams::currentDateTime().toMSecsSinceEpoch(),
                                                       ResultStore::WhenLocked::OpenReadOnly, ResultStore::Check::Recent);
    if (opened.isWritable()) {
      // Nobody owned it after all: it is not this reader's to take.
      store_.close();
      *why = QStringLiteral(u"база данных результатов не открыта");
      return false;
    }
    if (!opened.isOpen()) {
      *why = opened.detail;
      return false;
    }
    return true;
  }

  // Before every step: the hook, then whether the read goes on.
  bool step(int generation) {
    {
      std::lock_guard<std::mutex> lock(hookMutex_);
      if (hook_) hook_();
    }
    return generation_->load() == generation;
  }

  void post(std::function<void(ResultReader*)> f, int generation) {
    ResultReader* reader = reader_;
    auto current = generation_;
    QMetaObject::invokeMethod(
        reader,
        [reader, f = std::move(f), generation, current] {
          if (current->load() == generation) f(reader);
        },
        Qt::QueuedConnection);
  }

  void finishHistory(int generation, Status status, int count, const QString& why) {
    ResultReader* reader = reader_;
    QMetaObject::invokeMethod(
        reader,
        [reader, status, count, why, generation] {
          if (reader->generation_->load() != generation) return;
          reader->busy_ = false;
          emit reader->historyFinished(status, count, why);
        },
        Qt::QueuedConnection);
  }

  void finishReport(int generation, Status status, const QVector<emissions::DailyAverage>& days, const QString& why,
                    const QString& trailNote = QString()) {
    ResultReader* reader = reader_;
    QMetaObject::invokeMethod(
        reader,
        [reader, status, days, why, trailNote, generation] {
          if (reader->generation_->load() != generation) return;
          reader->busy_ = false;
          emit reader->reportFinished(status, days, why, trailNote);
        },
        Qt::QueuedConnection);
  }

  ResultReader* reader_;
  std::shared_ptr<std::atomic<int>> generation_;
  std::shared_ptr<QSemaphore> credits_;
  ResultStore store_;
  std::mutex hookMutex_;
  std::function<void()> hook_;
};

ResultReader::ResultReader(QObject* parent)
    : QObject(parent),
      thread_(std::make_unique<QThread>()),
      generation_(std::make_shared<std::atomic<int>>(0)),
      credits_(std::make_shared<QSemaphore>(kChunksAhead)) {
  thread_->setObjectName(QStringLiteral("result-reader"));
  worker_ = new Worker(this, generation_, credits_);
  worker_->moveToThread(thread_.get());
  connect(thread_.get(), &QThread::finished, worker_, &QObject::deleteLater);
  thread_->start();
}

ResultReader::~ResultReader() {
  cancel();
  thread_->quit();
  thread_->wait();
}

void ResultReader::setDatabase(const QString& path) { path_ = path; }

void ResultReader::setStepHook(std::function<void()> hook) { worker_->setHook(std::move(hook)); }

void ResultReader::cancel() {
  generation_->fetch_add(1);
  busy_ = false;
  // A reader waiting for its chunks to be taken sees the cancel; the credits
  // start afresh for the next read.
  const int missing = kChunksAhead - credits_->available();
  if (missing > 0) credits_->release(missing);
}

void ResultReader::close() {
  cancel();
  Worker* w = worker_;
  QMetaObject::invokeMethod(w, [w] { w->close(); }, Qt::BlockingQueuedConnection);
}

void ResultReader::take() {
  if (credits_->available() < kChunksAhead) credits_->release();
}

void ResultReader::readHistory(const QDate& from, const QDate& to) {
  cancel();
  busy_ = true;
  const int generation = generation_->load();
  Worker* w = worker_;
  const QString path = path_;
  QMetaObject::invokeMethod(w, [w, generation, path, from, to] { w->history(generation, path, from, to); },
                            Qt::QueuedConnection);
}

void ResultReader::readReport(const QDate& from, const QDate& to, const emissions::AveragingConfig& config) {
  cancel();
  busy_ = true;
  const int generation = generation_->load();
  Worker* w = worker_;
  const QString path = path_;
  QMetaObject::invokeMethod(
      w, [w, generation, path, from, to, config] { w->report(generation, path, from, to, config); },
      Qt::QueuedConnection);
}
