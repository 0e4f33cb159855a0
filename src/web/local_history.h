#pragma once
// The history of the one analyzer this program measures, from its results
// database through a read-only connection of the web thread's own, and its
// report computed as the report dialog computes it. The averaging and the
// limits in force are handed over by the measuring side when they change.

#include <QMutex>
#include <memory>

#include "data/result_store.h"
#include "web/web_source.h"

namespace web {

class LocalHistory : public HistorySource {
 public:
  LocalHistory(QString databasePath, AnalyzerInfo analyzer);
  ~LocalHistory() override;

  // From any thread.
  void setBasis(const emissions::AveragingConfig& config, const emissions::AlarmLimits& limits);

  QVector<AnalyzerInfo> analyzers() override { return {analyzer_}; }
  std::vector<StoredResult> results(const QString& id, qint64 fromUtcMs, qint64 toUtcMs) override;
  std::vector<double> o2RefByFuel(const QString& id) override;
  QVector<StoredEvent> events(const QString& id, qint64 fromUtcMs, qint64 toUtcMs, int limit) override;
  QVector<emissions::IntervalAverage> dayIntervals(const QString& id, QDate day) override;
  std::optional<emissions::EmissionReport> report(const QString& id, QDate first, QDate last) override;
  QVector<StoredAverage> storedDays(const QString& id, QDate first, QDate last) override;
  int intervalMinutes(const QString& id) override;

 private:
  // The connection, opened at the first use; null without a database.
  const ResultStore* store();
  std::pair<emissions::AveragingConfig, emissions::AlarmLimits> basis() const;

  QString path_;
  AnalyzerInfo analyzer_;
  std::unique_ptr<ResultStore> store_;
  mutable QMutex mutex_;
  emissions::AveragingConfig config_;
  emissions::AlarmLimits limits_;
};

}  // namespace web
