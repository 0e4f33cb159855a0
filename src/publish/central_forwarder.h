#pragma once
// Copies every result and event of the local results database into the
// central PostgreSQL database, in order, one batch at a time: a batch is read
// after the forwarder's cursors, written in one transaction in a thread of its
// own (CentralWriter, libpq), and the cursors move when the server has
// committed it. A failure (server stopped, network away) keeps the cursors
// where they were and tries again after a doubling delay; rows written before
// are left alone on the server, so nothing is lost and nothing doubled. Rows
// the server holds different ones of under the same numbers are reported,
// never passed over silently (see conflicts()).
//
//   CentralForwarder forwarder(store, settings.central, settings.identity(address));
//   forwarder.setAuditTrail(&trail);   // the audit entries go with them
//   forwarder.start();
//   ... after every append to the store: forwarder.poke();
//
// Audit entries have a cursor of their own; they are also looked for every
// few seconds while all else is delivered, since a login commits no result.
// An entry the server already holds with another hash is reported
// (auditMismatch): the local trail was rewritten after it was copied.

#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

#include "publish/sink.h"
#include "data/audit_trail.h"

class QThread;

namespace publish {

class CentralWriter;
struct CentralOutcome;

// Its states are Stopped, Sending, UpToDate and WaitingToRetry.
class CentralForwarder : public Sink {
  Q_OBJECT
 public:
  using State = Sink::State;

  static const QString kResultCursor;  // "central"
  static const QString kEventCursor;   // "central-events"
  static const QString kAuditCursor;   // "central-audit"

  CentralForwarder(ResultStore& store, CentralSettings settings, AnalyzerIdentity identity,
                   QObject* parent = nullptr);
  ~CentralForwarder() override;

  bool start() override;
  // Waits for a batch on its way (at most the connection's timeouts).
  void stop() override;
  void poke() override;
  QString title() const override { return QStringLiteral(u"центральная БД"); }
  // Rows the server refused since start() because it holds other rows
  // under their numbers: while there are any, not everything was taken.
  int conflicts() const { return conflicts_; }
  // The audit trail to copy too (none: not copied). Set while running, its
  // entries follow with the next batch.
  void setAuditTrail(const AuditTrail* trail);
  qint64 deliveredAuditId() const { return auditId_; }

 signals:
  // The server refused rows (see conflicts()); `total` since start().
  void conflictsFound(int total);
  // Audit entries the server holds with other hashes than the local trail.
  void auditMismatch(const QVector<qint64>& ids);

 private:
  void pump();
  void written(int generation, const CentralOutcome& outcome);
  void takeConflicts(const CentralOutcome& outcome);

  CentralSettings settings_;
  bool running_ = false;
  bool busy_ = false;
  int generation_ = 0;  // outcomes of an earlier start() only move the cursors
  Backoff backoff_;
  qint64 auditId_ = 0;
  int conflicts_ = 0;
  const AuditTrail* trail_ = nullptr;
  QTimer retry_;
  QTimer look_;  // for audit entries while nothing else comes
  std::unique_ptr<QThread> thread_;
  QObject* worker_ = nullptr;  // lives in thread_
  std::shared_ptr<CentralWriter> writer_;
};

}  // namespace publish
