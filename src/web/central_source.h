#pragma once
// A whole site from the central PostgreSQL database (the tables the
// services' CentralForwarder fills): every analyzer in it, its results,
// events and averages, without polling any analyzer. Two connections: the
// web thread's for the pages (CentralHistory), and the one of the thread
// that looks for new results every second and hands them to the LiveHub
// (CentralLive).
//
// The central database keeps no refresh period and no limits: an interval
// expects the results of the analyzer's usual spacing (the median gap of its
// results), and alarms are not judged here.

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <memory>

#include "web/web_source.h"

struct pg_conn;

namespace web {

class CentralConnection {
 public:
  explicit CentralConnection(QString connection);
  ~CentralConnection();
  CentralConnection(const CentralConnection&) = delete;
  CentralConnection& operator=(const CentralConnection&) = delete;
  // Rows as text (NULL: a null QString); false with lastError() on failure
  // (the connection is made again at the next call).
  bool query(const char* sql, const QList<QByteArray>& params, QVector<QStringList>* rows);
  QString lastError() const { return error_; }

 private:
  QString connection_;
  pg_conn* conn_ = nullptr;
  QString error_;
};

// Results of `rows` in the column order of kResultColumns, back into values.
StoredResult centralResult(const QStringList& row, int first);
extern const char* const kCentralResultColumns;

class CentralHistory : public HistorySource {
 public:
  explicit CentralHistory(QString connection);
  QVector<AnalyzerInfo> analyzers() override;
  std::vector<StoredResult> results(const QString& id, qint64 fromUtcMs, qint64 toUtcMs) override;
  std::vector<double> o2RefByFuel(const QString& id) override;
  QVector<StoredEvent> events(const QString& id, qint64 fromUtcMs, qint64 toUtcMs, int limit) override;
  QVector<emissions::IntervalAverage> dayIntervals(const QString& id, QDate day) override;
  std::optional<emissions::EmissionReport> report(const QString& id, QDate first, QDate last) override;
  QVector<StoredAverage> storedDays(const QString& id, QDate first, QDate last) override;
  int intervalMinutes(const QString&) override { return emissions::kDefaultIntervalMinutes; }

 private:
  emissions::AveragingConfig config(const QString& id, const std::vector<StoredResult>& results);
  CentralConnection db_;
  QVector<AnalyzerInfo> analyzers_;
  QElapsedTimer analyzersAge_;
};

// Looks for new results every second and publishes what changed.
class CentralLive : public QObject {
  Q_OBJECT
 public:
  CentralLive(QString connection, LiveHub& hub, QObject* parent = nullptr);
  void start();
  void refresh();

 signals:
  void message(const QString& text);

 private:
  CentralConnection db_;
  LiveHub& hub_;
  QTimer timer_;
  QHash<QString, QString> seen_;  // id -> what was published last (seq and state)
  bool failing_ = false;
};

}  // namespace web
