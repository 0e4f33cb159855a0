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

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

#include "data/audit_trail.h"
#include "data/result_store.h"
#include "publish/service_settings.h"

class QThread;

namespace publish {

class CentralWriter;
struct CentralOutcome;

class CentralForwarder : public QObject {
  Q_OBJECT
 public:
  enum class State {
    Stopped,
    Sending,         // a batch is on its way
    UpToDate,        // everything committed locally is on the server
    WaitingToRetry,  // the last batch failed; see lastError()
  };
  Q_ENUM(State)

  static const QString kResultCursor;  // "central"
  static const QString kEventCursor;   // "central-events"
  static const QString kAuditCursor;   // "central-audit"

  CentralForwarder(ResultStore& store, CentralSettings settings, AnalyzerIdentity identity,
                   QObject* parent = nullptr);
  ~CentralForwarder() override;

  // False, with errorOccurred, when the settings cannot work; the store must
  // be writable.
  bool start();
  // Waits for a batch on its way (at most the connection's timeouts).
  void stop();
  // New rows were committed to the store.
  void poke();

  State state() const { return state_; }
  QString lastError() const { return lastError_; }
  qint64 deliveredSeq() const { return seq_; }
  // Rows the server refused since start() because it holds other rows
  // under their numbers: while there are any, not everything was taken.
  int conflicts() const { return conflicts_; }
  qint64 deliveredEventId() const { return eventId_; }
  void setO2RefByFuel(std::vector<double> refs) { o2Refs_ = std::move(refs); }
  // The audit trail to copy too (before start(); none: not copied).
  void setAuditTrail(const AuditTrail* trail) { trail_ = trail; }
  qint64 deliveredAuditId() const { return auditId_; }

 signals:
  void stateChanged(publish::CentralForwarder::State state);
  // A batch failed (once per different reason).
  void errorOccurred(const QString& message);
  void delivered(qint64 seq, qint64 eventId);
  // The server refused rows (see conflicts()); `total` since start().
  void conflictsFound(int total);
  // Audit entries the server holds with other hashes than the local trail.
  void auditMismatch(const QVector<qint64>& ids);

 private:
  void pump();
  void written(int generation, const CentralOutcome& outcome);
  void setState(State s);
  void report(const QString& message);
  void takeConflicts(const CentralOutcome& outcome);

  ResultStore& store_;
  CentralSettings settings_;
  AnalyzerIdentity identity_;
  std::vector<double> o2Refs_;
  State state_ = State::Stopped;
  QString lastError_;
  bool running_ = false;
  bool busy_ = false;
  int generation_ = 0;  // outcomes of an earlier start() only move the cursors
  int delayMs_ = 0;
  qint64 seq_ = 0, eventId_ = 0, auditId_ = 0;
  int conflicts_ = 0;
  const AuditTrail* trail_ = nullptr;
  QTimer retry_;
  QTimer look_;  // for audit entries while nothing else comes
  std::unique_ptr<QThread> thread_;
  QObject* worker_ = nullptr;  // lives in thread_
  std::shared_ptr<CentralWriter> writer_;
};

}  // namespace publish
