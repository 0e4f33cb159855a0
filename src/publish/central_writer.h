#pragma once
// Writes batches of results and events into the central PostgreSQL database
// through libpq. Blocking: CentralForwarder runs it in a thread of its own.
// The schema is created when missing (and tables of an earlier version get
// the local database's identity in their key); every row is keyed by the
// analyzer, the identity of the local database and its number there, and a
// row that is already there is left as it is, so a batch sent again after a
// failure duplicates nothing. One that is there and differs is a conflict:
// the writer says which, nothing is overwritten.
//
//   korvex_analyzers (id, site, name, address)                    one row per analyzer
//   korvex_results   (analyzer_id, store_id, seq, taken_at, ...)  primary key (analyzer_id, store_id, seq)
//   korvex_events    (analyzer_id, store_id, id, taken_at, ...)   primary key (analyzer_id, store_id, id)
//   korvex_audit     (analyzer_id, id, taken_at, ..., prev_hash, hash)
//                    the audit trail with its hashes, primary key (analyzer_id,
//                    id); a trigger refuses to change a row, or to delete one
//                    younger than six years, and TRUNCATE. An entry sent
//                    again whose hash differs from the copy already there is
//                    reported: the local trail was rewritten.

#include <QByteArray>
#include <QString>
#include <vector>

#include "data/audit_trail.h"
#include "data/result_store.h"
#include "publish/service_settings.h"

struct pg_conn;

namespace publish {

// A batch as the writer's statements take it: one PostgreSQL array literal
// per column, so that a batch is one statement per table.
struct CentralBatch {
  AnalyzerIdentity identity;
  std::vector<QByteArray> resultColumns;  // empty when there are no results
  std::vector<QByteArray> eventColumns;   // empty when there are no events
  std::vector<QByteArray> auditColumns;   // empty when there are no audit entries
  int resultCount = 0;
  int eventCount = 0;
  int auditCount = 0;
  qint64 lastSeq = 0;      // of the last result in it (0: none)
  qint64 lastEventId = 0;  // of the last event in it (0: none)
  qint64 lastAuditId = 0;  // of the last audit entry in it (0: none)
};

// Builds a batch; the mg/m3 values use `o2RefByFuel` (see emissions::convert).
CentralBatch makeCentralBatch(const AnalyzerIdentity& identity, const std::vector<StoredResult>& results,
                              const QVector<StoredEvent>& events, const std::vector<double>& o2RefByFuel,
                              const QVector<AuditEntry>& audit = {});

struct CentralOutcome {
  bool ok = false;
  QString error;  // never holds the password
  qint64 lastSeq = 0;
  qint64 lastEventId = 0;
  // Numbers of the batch under which the server holds other rows (those
  // rows stay as they are), and the highest numbers it holds under their
  // identity.
  std::vector<qint64> conflictingSeqs, conflictingEventIds;
  qint64 highestSeqThere = 0, highestEventIdThere = 0;
  qint64 lastAuditId = 0;
  // Audit entries the server already held with another hash.
  QVector<qint64> auditMismatches;
};

class CentralWriter {
 public:
  explicit CentralWriter(QString connection);
  ~CentralWriter();
  CentralWriter(const CentralWriter&) = delete;
  CentralWriter& operator=(const CentralWriter&) = delete;

  // Connects if needed, creates the schema if missing, writes the batch in
  // one transaction.
  CentralOutcome write(const CentralBatch& batch);
  void disconnect();

  // The statements that create the schema, for the README and the tests.
  static const char* schemaSql();

 private:
  bool connect(QString* error);
  bool exec(const char* sql, QString* error);
  bool analyzerId(const AnalyzerIdentity& id, int* out, QString* error);
  bool insertAudit(int id, const std::vector<QByteArray>& columns, QVector<qint64>* mismatches, QString* error);
  QString connectionError() const;

  QString connection_;
  pg_conn* conn_ = nullptr;
  bool schemaReady_ = false;
  AnalyzerIdentity cachedIdentity_;
  int cachedId_ = 0;
};

}  // namespace publish
