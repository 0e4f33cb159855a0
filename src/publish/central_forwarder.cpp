#include "publish/central_forwarder.h"

#include <QDateTime>
#include <QThread>
#include <algorithm>

#include "publish/central_writer.h"
#include "publish/messages.h"
#include "publish/publish_log.h"

namespace publish {

const QString CentralForwarder::kResultCursor = QStringLiteral("central");
const QString CentralForwarder::kEventCursor = QStringLiteral("central-events");
const QString CentralForwarder::kAuditCursor = QStringLiteral("central-audit");

namespace {
constexpr int kAuditLookMs = 5000;
}  // namespace

CentralForwarder::CentralForwarder(ResultStore& store, CentralSettings settings, AnalyzerIdentity identity,
                                   QObject* parent)
    : Sink(store, std::move(identity), parent),
      settings_(std::move(settings)),
      backoff_(settings_.retryMinMs, settings_.retryMaxMs) {
  retry_.setSingleShot(true);
  connect(&retry_, &QTimer::timeout, this, &CentralForwarder::pump);
  look_.setSingleShot(true);
  connect(&look_, &QTimer::timeout, this, &CentralForwarder::pump);
}

CentralForwarder::~CentralForwarder() { stop(); }

bool CentralForwarder::start() {
  stop();
  const QStringList problems = startProblems() + centralProblems(settings_);
  if (!problems.isEmpty()) {
    report(QStringLiteral(u"Копирование в центральную базу данных не запущено: ") + problems.join(QStringLiteral("; ")));
    return false;
  }
  deliveredSeq_ = store_.cursor(kResultCursor);
  deliveredEventId_ = store_.cursor(kEventCursor);
  auditId_ = store_.cursor(kAuditCursor);
  clearError();
  conflicts_ = 0;
  backoff_.reset();
  writer_ = std::make_shared<CentralWriter>(settings_.connection);
  thread_ = std::make_unique<QThread>();
  thread_->setObjectName(QStringLiteral("central-db"));
  worker_ = new QObject;
  worker_->moveToThread(thread_.get());
  connect(thread_.get(), &QThread::finished, worker_, &QObject::deleteLater);
  thread_->start();
  running_ = true;
  qCInfo(korvexPublish, "Центральная база данных: копирование в %s как %s/%s (адрес %d), с результата %lld и события %lld",
         qUtf8Printable(describeConnection(settings_.connection)), qUtf8Printable(identity_.site),
         qUtf8Printable(identity_.name), identity_.address, deliveredSeq_ + 1, deliveredEventId_ + 1);
  pump();
  return true;
}

void CentralForwarder::stop() {
  if (!running_) return;
  running_ = false;
  ++generation_;
  retry_.stop();
  look_.stop();
  thread_->quit();
  thread_->wait();
  thread_.reset();
  worker_ = nullptr;
  writer_.reset();
  busy_ = false;
  qCInfo(korvexPublish, "Центральная база данных: остановлено на результате %lld, событии %lld", deliveredSeq_, deliveredEventId_);
  setState(State::Stopped);
}

void CentralForwarder::poke() {
  if (state() == State::UpToDate) pump();
}

void CentralForwarder::setAuditTrail(const AuditTrail* trail) {
  trail_ = trail;
  if (running_ && trail_) pump();
}

void CentralForwarder::pump() {
  if (!running_ || busy_ || retry_.isActive()) return;
  const std::vector<StoredResult> results = store_.resultsAfter(deliveredSeq_, settings_.batchSize);
  const QVector<StoredEvent> events = store_.eventsAfter(deliveredEventId_, settings_.batchSize);
  const QVector<AuditEntry> audit = trail_ ? trail_->entriesAfter(auditId_, settings_.batchSize) : QVector<AuditEntry>();
  if (results.empty() && events.isEmpty() && audit.isEmpty()) {
    setState(State::UpToDate);
    if (trail_) look_.start(std::min(kAuditLookMs, std::max(1, settings_.retryMaxMs)));
    return;
  }
  busy_ = true;
  setState(State::Sending);
  auto batch = std::make_shared<CentralBatch>(makeCentralBatch(identity_, results, events, o2Refs_, audit));
  std::shared_ptr<CentralWriter> writer = writer_;
  const int generation = generation_;
  QMetaObject::invokeMethod(
      worker_,
      [this, writer, batch, generation] {
        const CentralOutcome o = writer->write(*batch);
        // Back in the forwarder's thread; dropped if the forwarder is gone.
        QMetaObject::invokeMethod(
            this, [this, o, generation] { written(generation, o); }, Qt::QueuedConnection);
      },
      Qt::QueuedConnection);
}

void CentralForwarder::written(int generation, const CentralOutcome& o) {
  const bool current = generation == generation_ && running_;
  if (current) busy_ = false;
  const qint64 lastSeq = o.lastSeq, lastEventId = o.lastEventId, lastAuditId = o.lastAuditId;
  if (!o.ok) {
    if (!current) return;
    const QString& error = o.error;
    report(QStringLiteral(u"Центральная база данных: не могу записать (%1): %2")
               .arg(describeConnection(settings_.connection), error));
    setState(State::WaitingToRetry);
    retry_.start(backoff_.next());
    return;
  }
  if (!o.conflictingSeqs.empty() || !o.conflictingEventIds.empty()) takeConflicts(o);
  // The server holds the batch: a cursor that cannot be stored only means
  // sending it again, which duplicates nothing.
  bool stored = true;
  if (lastSeq > deliveredSeq_) {
    deliveredSeq_ = lastSeq;
    stored = store_.setCursor(kResultCursor, deliveredSeq_) && stored;
  }
  if (lastEventId > deliveredEventId_) {
    deliveredEventId_ = lastEventId;
    stored = store_.setCursor(kEventCursor, deliveredEventId_) && stored;
  }
  if (lastAuditId > auditId_) {
    auditId_ = lastAuditId;
    stored = store_.setCursor(kAuditCursor, auditId_) && stored;
  }
  if (!stored) report(QStringLiteral(u"Центральная база данных: не могу сохранить позицию копирования: ") + store_.lastError());
  if (!lastError().isEmpty() && stored) {
    qCInfo(korvexPublish, "Центральная база данных: запись возобновлена");
    clearError();
  }
  // After the line above: the report stays the last error until the next one.
  if (!o.auditMismatches.isEmpty()) {
    QStringList ids;
    for (qint64 id : o.auditMismatches) ids << QString::number(id);
    report(QStringLiteral(u"Центральная база данных: журнал аудита не совпадает с копией на сервере "
                          u"(записи %1): местный журнал переписан после передачи")
               .arg(ids.join(QStringLiteral(", "))));
    emit auditMismatch(o.auditMismatches);
  }
  backoff_.reset();
  emit delivered(deliveredSeq_, deliveredEventId_);
  if (current) pump();
}

// The server holds other rows under numbers of this database: it lost
// results it had sent (or was put back from an older copy) and numbered new
// ones the same. Those are not written there; the operator hears of them,
// the event log keeps them, and the database numbers on under a new identity
// after what the server holds.
void CentralForwarder::takeConflicts(const CentralOutcome& o) {
  const auto range = [](const std::vector<qint64>& numbers) {
    if (numbers.empty()) return QString();
    const auto [lo, hi] = std::minmax_element(numbers.begin(), numbers.end());
    return *lo == *hi ? QStringLiteral(u"№ %1").arg(*lo) : QStringLiteral(u"№ %1–%2").arg(*lo).arg(*hi);
  };
  QStringList what;
  if (!o.conflictingSeqs.empty())
    what << QStringLiteral(u"результаты %1 (%2)").arg(range(o.conflictingSeqs)).arg(o.conflictingSeqs.size());
  if (!o.conflictingEventIds.empty())
    what << QStringLiteral(u"события %1 (%2)").arg(range(o.conflictingEventIds)).arg(o.conflictingEventIds.size());
  conflicts_ += int(o.conflictingSeqs.size() + o.conflictingEventIds.size());
  const QString text =
      QStringLiteral(u"Центральная база данных уже содержит другие записи под номерами этой базы данных (%1): %2 не"
                     u" записаны туда")
          .arg(store_.identity(), what.join(QStringLiteral(u" и ")));
  const QDateTime now = QDateTime::currentDateTime();
  store_.appendEvent(now.toMSecsSinceEpoch(), now.offsetFromUtc(), EventKind::PublishConflict, text);
  store_.renewIdentity(now.toMSecsSinceEpoch(),
                       QStringLiteral(u"центральная база данных уже содержит другие записи под её номерами"),
                       o.highestSeqThere, o.highestEventIdThere);
  report(text);
  emit conflictsFound(conflicts_);
}

}  // namespace publish
