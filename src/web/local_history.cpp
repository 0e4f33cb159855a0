#include "web/local_history.h"

#include <QDateTime>
#include <QMutexLocker>

#include "emissions/stored_averages.h"

namespace web {

LocalHistory::LocalHistory(QString databasePath, AnalyzerInfo analyzer)
    : path_(std::move(databasePath)), analyzer_(std::move(analyzer)) {
  config_.zone = QTimeZone::systemTimeZone();
}

LocalHistory::~LocalHistory() = default;

void LocalHistory::setBasis(const emissions::AveragingConfig& config, const emissions::AlarmLimits& limits) {
  QMutexLocker lock(&mutex_);
  config_ = config;
  limits_ = limits;
}

std::pair<emissions::AveragingConfig, emissions::AlarmLimits> LocalHistory::basis() const {
  QMutexLocker lock(&mutex_);
  return {config_, limits_};
}

const ResultStore* LocalHistory::store() {
  if (store_ && store_->isOpen()) return store_.get();
  store_ = std::make_unique<ResultStore>();
  if (!store_->openForReading(path_).isOpen()) store_.reset();
  return store_.get();
}

std::vector<StoredResult> LocalHistory::results(const QString& id, qint64 fromUtcMs, qint64 toUtcMs) {
  const ResultStore* s = id == analyzer_.id ? store() : nullptr;
  return s ? s->results(fromUtcMs, toUtcMs) : std::vector<StoredResult>{};
}

std::vector<double> LocalHistory::o2RefByFuel(const QString&) { return basis().first.o2RefByFuel; }

QVector<StoredEvent> LocalHistory::events(const QString& id, qint64 fromUtcMs, qint64 toUtcMs, int limit) {
  const ResultStore* s = id == analyzer_.id ? store() : nullptr;
  if (!s) return {};
  QVector<StoredEvent> all = s->events(fromUtcMs, toUtcMs);
  std::reverse(all.begin(), all.end());
  if (all.size() > limit) all.resize(limit);
  return all;
}

QVector<emissions::IntervalAverage> LocalHistory::dayIntervals(const QString& id, QDate day) {
  const ResultStore* s = id == analyzer_.id ? store() : nullptr;
  if (!s) return {};
  const emissions::AveragingConfig config = basis().first;
  // The completed intervals as the measuring side stored them; a day without
  // them (older than the database's averages) is computed from its results.
  const QVector<qint64> starts = emissions::dayIntervalStarts(day, config);
  if (starts.isEmpty()) return {};
  const QVector<StoredAverage> stored =
      s->averages(AveragePeriodKind::Interval, config.intervalMinutes, starts.first(), starts.last() + 1);
  if (stored.isEmpty()) return emissions::recomputeDay(*s, day, config).intervals;
  QVector<emissions::IntervalAverage> out;
  for (const StoredAverage& a : stored) out.append(emissions::intervalFromStored(a));
  return out;
}

std::optional<emissions::EmissionReport> LocalHistory::report(const QString& id, QDate first, QDate last) {
  const ResultStore* s = id == analyzer_.id ? store() : nullptr;
  if (!s) return std::nullopt;
  const auto [config, limits] = basis();
  return emissions::EmissionReport::fromDays(emissions::recomputeDays(*s, first, last, config), limits);
}

QVector<StoredAverage> LocalHistory::storedDays(const QString& id, QDate first, QDate last) {
  const ResultStore* s = id == analyzer_.id ? store() : nullptr;
  if (!s) return {};
  const emissions::AveragingConfig config = basis().first;
  const QVector<qint64> a = emissions::dayIntervalStarts(first, config);
  const QVector<qint64> b = emissions::dayIntervalStarts(last.addDays(1), config);
  if (a.isEmpty() || b.isEmpty()) return {};
  return s->averages(AveragePeriodKind::Day, config.intervalMinutes, a.first(), b.first());
}

int LocalHistory::intervalMinutes(const QString&) { return basis().first.intervalMinutes; }

}  // namespace web
