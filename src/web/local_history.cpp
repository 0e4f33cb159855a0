#include "web/local_history.h"

#include <QDateTime>
#include <QMutexLocker>

#include "emissions/stored_averages.h"

namespace web {

LocalHistory::LocalHistory(QString databasePath, AnalyzerInfo analyzer) {
  addAnalyzer(std::move(databasePath), std::move(analyzer));
}

LocalHistory::~LocalHistory() = default;

void LocalHistory::addAnalyzer(QString databasePath, AnalyzerInfo analyzer) {
  Part part;
  part.path = std::move(databasePath);
  part.analyzer = std::move(analyzer);
  part.config.zone = QTimeZone::systemTimeZone();
  QMutexLocker lock(&mutex_);
  parts_.push_back(std::move(part));
}

QVector<AnalyzerInfo> LocalHistory::analyzers() {
  QVector<AnalyzerInfo> out;
  for (const Part& p : parts_) out.append(p.analyzer);
  return out;
}

void LocalHistory::setBasis(const emissions::AveragingConfig& config, const emissions::AlarmLimits& limits,
                            const QString& id) {
  QMutexLocker lock(&mutex_);
  for (Part& p : parts_) {
    if (!id.isEmpty() && p.analyzer.id != id) continue;
    p.config = config;
    p.limits = limits;
  }
}

std::pair<emissions::AveragingConfig, emissions::AlarmLimits> LocalHistory::basis(const QString& id) const {
  QMutexLocker lock(&mutex_);
  for (const Part& p : parts_)
    if (p.analyzer.id == id) return {p.config, p.limits};
  return {parts_.front().config, parts_.front().limits};
}

const ResultStore* LocalHistory::store(const QString& id) {
  for (Part& p : parts_) {
    if (p.analyzer.id != id) continue;
    if (p.store && p.store->isOpen()) return p.store.get();
    p.store = std::make_unique<ResultStore>();
    if (!p.store->openForReading(p.path).isOpen()) p.store.reset();
    return p.store.get();
  }
  return nullptr;
}

std::vector<StoredResult> LocalHistory::results(const QString& id, qint64 fromUtcMs, qint64 toUtcMs) {
  const ResultStore* s = store(id);
  return s ? s->results(fromUtcMs, toUtcMs) : std::vector<StoredResult>{};
}

std::vector<double> LocalHistory::o2RefByFuel(const QString& id) { return basis(id).first.o2RefByFuel; }

QVector<StoredEvent> LocalHistory::events(const QString& id, qint64 fromUtcMs, qint64 toUtcMs, int limit) {
  const ResultStore* s = store(id);
  if (!s) return {};
  QVector<StoredEvent> all = s->events(fromUtcMs, toUtcMs);
  std::reverse(all.begin(), all.end());
  if (all.size() > limit) all.resize(limit);
  return all;
}

QVector<emissions::IntervalAverage> LocalHistory::dayIntervals(const QString& id, QDate day) {
  const ResultStore* s = store(id);
  if (!s) return {};
  const emissions::AveragingConfig config = basis(id).first;
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
  const ResultStore* s = store(id);
  if (!s) return std::nullopt;
  const auto [config, limits] = basis(id);
  return emissions::EmissionReport::fromDays(emissions::recomputeDays(*s, first, last, config), limits);
}

QVector<StoredAverage> LocalHistory::storedDays(const QString& id, QDate first, QDate last) {
  const ResultStore* s = store(id);
  if (!s) return {};
  const emissions::AveragingConfig config = basis(id).first;
  const QVector<qint64> a = emissions::dayIntervalStarts(first, config);
  const QVector<qint64> b = emissions::dayIntervalStarts(last.addDays(1), config);
  if (a.isEmpty() || b.isEmpty()) return {};
  return s->averages(AveragePeriodKind::Day, config.intervalMinutes, a.first(), b.first());
}

int LocalHistory::intervalMinutes(const QString& id) { return basis(id).first.intervalMinutes; }

}  // namespace web
