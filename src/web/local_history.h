#pragma once
// The history of the analyzers this program measures (the line's: each from
// its own results database) through read-only connections of the web
// thread's own, and their reports computed as the report dialog computes
// them. The averaging and the limits in force are handed over by the
// measuring side when they change.

#include <QMutex>
#include <memory>

#include "data/result_store.h"
#include "web/web_source.h"

namespace web {

class LocalHistory : public HistorySource {
 public:
  LocalHistory(QString databasePath, AnalyzerInfo analyzer);
  ~LocalHistory() override;

  // A further analyzer of the line, before the web thread reads.
  void addAnalyzer(QString databasePath, AnalyzerInfo analyzer);

  // From any thread: of the analyzer `id` (empty: every one).
  void setBasis(const emissions::AveragingConfig& config, const emissions::AlarmLimits& limits,
                const QString& id = QString());

  QVector<AnalyzerInfo> analyzers() override;
  std::vector<StoredResult> results(const QString& id, qint64 fromUtcMs, qint64 toUtcMs) override;
  std::vector<double> o2RefByFuel(const QString& id) override;
  QVector<StoredEvent> events(const QString& id, qint64 fromUtcMs, qint64 toUtcMs, int limit) override;
  QVector<emissions::IntervalAverage> dayIntervals(const QString& id, QDate day) override;
  std::optional<emissions::EmissionReport> report(const QString& id, QDate first, QDate last) override;
  QVector<StoredAverage> storedDays(const QString& id, QDate first, QDate last) override;
  int intervalMinutes(const QString& id) override;

 private:
  struct Part {
    QString path;
    AnalyzerInfo analyzer;
    std::unique_ptr<ResultStore> store;
    emissions::AveragingConfig config;
    emissions::AlarmLimits limits;
  };
  // The analyzer's connection, opened at the first use; null without a
  // database or an analyzer of that id.
  const ResultStore* store(const QString& id);
  std::pair<emissions::AveragingConfig, emissions::AlarmLimits> basis(const QString& id) const;

  std::vector<Part> parts_;
  mutable QMutex mutex_;  // the bases
};

}  // namespace web
