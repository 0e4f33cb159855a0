#include "publish/central_writer.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cmath>

#include "emissions/conversion.h"
#include "emissions/result_status.h"
#include "publish/messages.h"

namespace publish {

namespace {

// Channel columns, in channel order ("no" is a key word of SQL's, quoted).
constexpr const char* kChannelColumns[kChannelCount] = {"tg",  "o2",  "co",  "\"no\"", "no2", "so2",
                                                        "h2s", "co2", "nox", "qa",     "alf", "ta"};

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS korvex_analyzers (
  id serial PRIMARY KEY,
  site text NOT NULL,
  name text NOT NULL,
  address smallint NOT NULL,
  UNIQUE (site, name, address)
);
CREATE TABLE IF NOT EXISTS korvex_results (
  analyzer_id integer NOT NULL REFERENCES korvex_analyzers (id),
  store_id uuid NOT NULL DEFAULT '00000000-0000-0000-0000-000000000000',
  seq bigint NOT NULL,
  taken_at timestamptz NOT NULL,
  utc_offset integer NOT NULL,
  mode smallint NOT NULL,
  fuel smallint NOT NULL,
  fault_bits integer NOT NULL,
  specials bigint NOT NULL,
  tg double precision, o2 double precision, co double precision, "no" double precision,
  no2 double precision, so2 double precision, h2s double precision, co2 double precision,
  nox double precision, qa double precision, alf double precision, ta double precision,
  o2_ref double precision,
  co_mg double precision, nox_mg double precision, so2_mg double precision, h2s_mg double precision,
  received_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (analyzer_id, store_id, seq)
);
CREATE INDEX IF NOT EXISTS korvex_results_by_time ON korvex_results (taken_at);
CREATE TABLE IF NOT EXISTS korvex_events (
  analyzer_id integer NOT NULL REFERENCES korvex_analyzers (id),
  store_id uuid NOT NULL DEFAULT '00000000-0000-0000-0000-000000000000',
  id bigint NOT NULL,
  taken_at timestamptz NOT NULL,
  utc_offset integer NOT NULL,
  kind integer NOT NULL,
  kind_name text NOT NULL,
  text text NOT NULL,
  received_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (analyzer_id, store_id, id)
);
-- Tables of an earlier version, keyed without the local database's identity:
-- their rows get the identity of results of older local databases.
ALTER TABLE korvex_results ADD COLUMN IF NOT EXISTS store_id uuid NOT NULL
  DEFAULT '00000000-0000-0000-0000-000000000000';
ALTER TABLE korvex_events ADD COLUMN IF NOT EXISTS store_id uuid NOT NULL
  DEFAULT '00000000-0000-0000-0000-000000000000';
-- The result's status (the local ResultStatus numbers); NULL for the rows
-- of an earlier version.
ALTER TABLE korvex_results ADD COLUMN IF NOT EXISTS status smallint;
DO $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid
                 AND a.attnum = ANY (i.indkey)
                 WHERE i.indrelid = 'korvex_results'::regclass AND i.indisprimary AND a.attname = 'store_id') THEN
    ALTER TABLE korvex_results DROP CONSTRAINT korvex_results_pkey,
      ADD PRIMARY KEY (analyzer_id, store_id, seq);
  END IF;
  IF NOT EXISTS (SELECT 1 FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid
                 AND a.attnum = ANY (i.indkey)
                 WHERE i.indrelid = 'korvex_events'::regclass AND i.indisprimary AND a.attname = 'store_id') THEN
    ALTER TABLE korvex_events DROP CONSTRAINT korvex_events_pkey,
      ADD PRIMARY KEY (analyzer_id, store_id, id);
  END IF;
END $$;
CREATE TABLE IF NOT EXISTS korvex_audit (
  analyzer_id integer NOT NULL REFERENCES korvex_analyzers (id),
  id bigint NOT NULL,
  taken_at timestamptz NOT NULL,
  utc_offset integer NOT NULL,
  user_name text NOT NULL,
  os_user text NOT NULL,
  kind integer NOT NULL,
  kind_name text NOT NULL,
  subject text NOT NULL,
  before text NOT NULL,
  after text NOT NULL,
  text text NOT NULL,
  prev_hash text NOT NULL,
  hash text NOT NULL,
  received_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (analyzer_id, id)
);
CREATE INDEX IF NOT EXISTS korvex_audit_by_time ON korvex_audit (taken_at);
CREATE OR REPLACE FUNCTION korvex_audit_keep() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
  IF TG_OP = 'DELETE' AND OLD.taken_at < now() - interval '6 years' THEN
    RETURN OLD;
  END IF;
  RAISE EXCEPTION 'korvex_audit: entries are never changed, and kept at least six years';
END
$f$;
DO $d$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_trigger WHERE tgname = 'korvex_audit_keep') THEN
    CREATE TRIGGER korvex_audit_keep BEFORE UPDATE OR DELETE ON korvex_audit
      FOR EACH ROW EXECUTE FUNCTION korvex_audit_keep();
    CREATE TRIGGER korvex_audit_keep_all BEFORE TRUNCATE ON korvex_audit
      FOR EACH STATEMENT EXECUTE FUNCTION korvex_audit_keep();
  END IF;
END
$d$;
)sql";

// Arrays of one type each, unnested side by side into rows. A row already
// there is left alone; the statement returns the rows of the batch that were
// there before and differ from it in what was measured (the mg/m3 values
// follow the fuel settings, which may have changed since): those numbers
// name other results there.
const char* const kInsertResults = R"sql(
WITH u AS (
  SELECT u.store_id, u.seq, timestamptz 'epoch' + u.ms * interval '1 millisecond' AS taken_at, u.utc_offset,
    u.mode, u.fuel, u.fault_bits, u.specials, u.tg, u.o2, u.co, u.no_, u.no2, u.so2, u.h2s, u.co2, u.nox, u.qa,
    u.alf, u.ta, u.o2_ref, u.co_mg, u.nox_mg, u.so2_mg, u.h2s_mg, u.status
  FROM unnest($2::uuid[], $3::bigint[], $4::bigint[], $5::integer[], $6::smallint[], $7::smallint[],
    $8::integer[], $9::bigint[], $10::float8[], $11::float8[], $12::float8[], $13::float8[], $14::float8[],
    $15::float8[], $16::float8[], $17::float8[], $18::float8[], $19::float8[], $20::float8[], $21::float8[],
    $22::float8[], $23::float8[], $24::float8[], $25::float8[], $26::float8[], $27::smallint[])
    AS u(store_id, seq, ms, utc_offset, mode, fuel, fault_bits, specials, tg, o2, co, no_, no2, so2, h2s, co2,
         nox, qa, alf, ta, o2_ref, co_mg, nox_mg, so2_mg, h2s_mg, status)
), added AS (
  INSERT INTO korvex_results (analyzer_id, store_id, seq, taken_at, utc_offset, mode, fuel, fault_bits, specials,
    tg, o2, co, "no", no2, so2, h2s, co2, nox, qa, alf, ta, o2_ref, co_mg, nox_mg, so2_mg, h2s_mg, status)
  SELECT $1, store_id, seq, taken_at, utc_offset, mode, fuel, fault_bits, specials, tg, o2, co, no_, no2, so2, h2s,
    co2, nox, qa, alf, ta, o2_ref, co_mg, nox_mg, so2_mg, h2s_mg, status
  FROM u
  ON CONFLICT (analyzer_id, store_id, seq) DO NOTHING
)
SELECT u.seq,
  (SELECT max(m.seq) FROM korvex_results m WHERE m.analyzer_id = $1 AND m.store_id = u.store_id)
FROM u JOIN korvex_results k ON k.analyzer_id = $1 AND k.store_id = u.store_id AND k.seq = u.seq
WHERE (k.taken_at, k.utc_offset, k.mode, k.fuel, k.fault_bits, k.specials, k.tg, k.o2, k.co, k."no", k.no2,
       k.so2, k.h2s, k.co2, k.nox, k.qa, k.alf, k.ta)
  IS DISTINCT FROM (u.taken_at, u.utc_offset, u.mode, u.fuel, u.fault_bits, u.specials, u.tg, u.o2, u.co, u.no_,
       u.no2, u.so2, u.h2s, u.co2, u.nox, u.qa, u.alf, u.ta)
ORDER BY u.seq
)sql";
constexpr int kResultArrays = 26;

const char* const kInsertEvents = R"sql(
WITH u AS (
  SELECT u.store_id, u.id, timestamptz 'epoch' + u.ms * interval '1 millisecond' AS taken_at, u.utc_offset,
    u.kind, u.kind_name, u.text
  FROM unnest($2::uuid[], $3::bigint[], $4::bigint[], $5::integer[], $6::integer[], $7::text[], $8::text[])
    AS u(store_id, id, ms, utc_offset, kind, kind_name, text)
), added AS (
  INSERT INTO korvex_events (analyzer_id, store_id, id, taken_at, utc_offset, kind, kind_name, text)
  SELECT $1, store_id, id, taken_at, utc_offset, kind, kind_name, text FROM u
  ON CONFLICT (analyzer_id, store_id, id) DO NOTHING
)
SELECT u.id,
  (SELECT max(m.id) FROM korvex_events m WHERE m.analyzer_id = $1 AND m.store_id = u.store_id)
FROM u JOIN korvex_events k ON k.analyzer_id = $1 AND k.store_id = u.store_id AND k.id = u.id
WHERE (k.taken_at, k.utc_offset, k.kind, k.text) IS DISTINCT FROM (u.taken_at, u.utc_offset, u.kind, u.text)
ORDER BY u.id
)sql";
constexpr int kEventArrays = 7;

// The rows the server already held with another hash come back: the local
// trail was rewritten after they were copied. The copy there stays as it was.
const char* const kInsertAudit = R"sql(
WITH incoming AS (
  SELECT * FROM unnest($2::bigint[], $3::bigint[], $4::integer[], $5::text[], $6::text[], $7::integer[],
    $8::text[], $9::text[], $10::text[], $11::text[], $12::text[], $13::text[], $14::text[])
    AS u(id, ms, utc_offset, user_name, os_user, kind, kind_name, subject, before, after, text, prev_hash, hash)
), added AS (
  INSERT INTO korvex_audit (analyzer_id, id, taken_at, utc_offset, user_name, os_user, kind, kind_name, subject,
    before, after, text, prev_hash, hash)
  SELECT $1, i.id, timestamptz 'epoch' + i.ms * interval '1 millisecond', i.utc_offset, i.user_name, i.os_user,
    i.kind, i.kind_name, i.subject, i.before, i.after, i.text, i.prev_hash, i.hash
  FROM incoming i
  ON CONFLICT (analyzer_id, id) DO NOTHING
)
SELECT i.id FROM incoming i JOIN korvex_audit a ON a.analyzer_id = $1 AND a.id = i.id
WHERE a.hash <> i.hash ORDER BY i.id
)sql";
constexpr int kAuditArrays = 13;

// An array literal: {1,2,NULL,"text"}.
class ArrayText {
 public:
  void number(qint64 v) { next().append(QByteArray::number(v)); }
  void number(double v) {
    if (std::isfinite(v))
      next().append(QByteArray::number(v, 'g', 17));
    else
      null();
  }
  void null() { next().append("NULL"); }
  // A database identity, as PostgreSQL's uuid takes it (32 hex digits).
  void uuid(const QString& id) {
    if (id.isEmpty())
      next().append("00000000000000000000000000000000");
    else
      next().append(id.toLatin1());
  }
  void text(const QString& t) {
    QByteArray& s = next();
    s.append('"');
    for (char c : t.toUtf8()) {
      if (c == '\0') continue;  // PostgreSQL's text cannot hold it
      if (c == '"' || c == '\\') s.append('\\');
      s.append(c);
    }
    s.append('"');
  }
  QByteArray done() { return text_.isEmpty() ? QByteArray("{}") : text_ + '}'; }

 private:
  QByteArray& next() {
    text_.append(text_.isEmpty() ? '{' : ',');
    return text_;
  }
  QByteArray text_;
};

qint64 specialsOf(const Result& r) {
  qint64 bits = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) bits |= qint64(specialCode(ch, r[ch])) << (2 * ch);
  return bits;
}

QString trimmed(const char* message) { return QString::fromUtf8(message).trimmed(); }

}  // namespace

CentralBatch makeCentralBatch(const AnalyzerIdentity& identity, const std::vector<StoredResult>& results,
                              const QVector<StoredEvent>& events, const std::vector<double>& o2RefByFuel,
                              const QVector<AuditEntry>& audit) {
  CentralBatch b;
  b.identity = identity;
  if (!results.empty()) {
    std::vector<ArrayText> a(kResultArrays);
    for (const StoredResult& s : results) {
      const Result& r = s.result;
      a[0].uuid(s.storeId);
      a[1].number(s.seq);
      a[2].number(r.utcMs);
      a[3].number(qint64(r.utcOffset));
      a[4].number(qint64(r.mode));
      a[5].number(qint64(r.fuelIndex));
      a[6].number(qint64(r.faultBits));
      a[7].number(specialsOf(r));
      for (int ch = 0; ch < kChannelCount; ++ch) {
        if (specialCode(ch, r[ch]) != SpecialCode::None)
          a[size_t(8 + ch)].null();
        else
          a[size_t(8 + ch)].number(r[ch]);
      }
      if (r.fuelIndex < o2RefByFuel.size())
        a[20].number(o2RefByFuel[r.fuelIndex]);
      else
        a[20].null();
      const emissions::EmissionValues values = emissions::convert(r, o2RefByFuel);
      for (int c = 0; c < emissions::kComponentCount; ++c) {
        if (values[size_t(c)])
          a[size_t(21 + c)].number(*values[size_t(c)]);
        else
          a[size_t(21 + c)].null();
      }
      // As the MQTT message has it: decided, raised by what the result shows.
      a[25].number(qint64(emissions::storedStatus(r, emissions::ValidationConfig{})));
    }
    for (ArrayText& t : a) b.resultColumns.push_back(t.done());
    b.resultCount = int(results.size());
    b.lastSeq = results.back().seq;
  }
  if (!events.isEmpty()) {
    std::vector<ArrayText> a(kEventArrays);
    for (const StoredEvent& e : events) {
      a[0].uuid(e.storeId);
      a[1].number(e.id);
      a[2].number(e.utcMs);
      a[3].number(qint64(e.utcOffset));
      a[4].number(qint64(e.kind));
      a[5].text(QLatin1String(eventKindName(e.kind)));
      a[6].text(e.text);
    }
    for (ArrayText& t : a) b.eventColumns.push_back(t.done());
    b.eventCount = int(events.size());
    b.lastEventId = events.back().id;
  }
  if (!audit.isEmpty()) {
    std::vector<ArrayText> a(kAuditArrays);
    for (const AuditEntry& e : audit) {
      a[0].number(e.id);
      a[1].number(e.utcMs);
      a[2].number(qint64(e.utcOffset));
      a[3].text(e.user);
      a[4].text(e.osUser);
      a[5].number(qint64(e.kind));
      a[6].text(auditKindName(e.kind));
      a[7].text(e.subject);
      a[8].text(e.before);
      a[9].text(e.after);
      a[10].text(e.text);
      a[11].text(QString::fromLatin1(e.prevHash.toHex()));
      a[12].text(QString::fromLatin1(e.hash.toHex()));
    }
    for (ArrayText& t : a) b.auditColumns.push_back(t.done());
    b.auditCount = int(audit.size());
    b.lastAuditId = audit.back().id;
  }
  return b;
}

const char* CentralWriter::schemaSql() { return kSchema; }

CentralWriter::CentralWriter(QString connection) : connection_(std::move(connection)) {}

CentralWriter::~CentralWriter() { disconnect(); }

void CentralWriter::disconnect() {
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
  schemaReady_ = false;
  cachedId_ = 0;
}

QString CentralWriter::connectionError() const {
  return conn_ ? trimmed(PQerrorMessage(conn_)) : QStringLiteral(u"нет соединения");
}

bool CentralWriter::connect(QString* error) {
  if (conn_ && PQstatus(conn_) == CONNECTION_OK) return true;
  disconnect();
  // The connection string comes last, so whatever it says wins over these.
  const QByteArray conninfo = connection_.toUtf8();
  const char* keywords[] = {"connect_timeout", "application_name", "keepalives_idle", "keepalives_interval",
                            "keepalives_count", "dbname", nullptr};
  const char* values[] = {"10", "korvex", "30", "10", "3", conninfo.constData(), nullptr};
  conn_ = PQconnectdbParams(keywords, values, 1);
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    *error = connectionError();
    disconnect();
    return false;
  }
  // Notices ("relation already exists, skipping") are not errors.
  PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
  if (!schemaReady_) {
    // One instance at a time creates the schema: concurrent CREATE ... IF NOT
    // EXISTS can collide.
    QString why;
    const bool ok = exec("BEGIN", &why) && exec("SELECT pg_advisory_xact_lock(4812517)", &why) &&
                    exec(kSchema, &why) && exec("COMMIT", &why);
    if (!ok) {
      exec("ROLLBACK", nullptr);
      *error = QStringLiteral(u"не могу создать таблицы: ") + why;
      disconnect();
      return false;
    }
    schemaReady_ = true;
  }
  return true;
}

bool CentralWriter::exec(const char* sql, QString* error) {
  PGresult* r = PQexec(conn_, sql);
  const ExecStatusType st = PQresultStatus(r);
  const bool ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
  if (!ok && error) *error = r ? trimmed(PQresultErrorMessage(r)) : connectionError();
  PQclear(r);
  return ok;
}

bool CentralWriter::analyzerId(const AnalyzerIdentity& id, int* out, QString* error) {
  if (cachedId_ != 0 && cachedIdentity_ == id) {
    *out = cachedId_;
    return true;
  }
  const QByteArray site = id.site.toUtf8(), name = id.name.toUtf8(), address = QByteArray::number(id.address);
  const char* params[] = {site.constData(), name.constData(), address.constData()};
  PGresult* r = PQexecParams(conn_,
                             "WITH added AS (INSERT INTO korvex_analyzers (site, name, address) VALUES ($1, $2, $3)"
                             " ON CONFLICT (site, name, address) DO NOTHING RETURNING id)"
                             " SELECT id FROM added UNION ALL"
                             " SELECT id FROM korvex_analyzers WHERE site = $1 AND name = $2 AND address = $3",
                             3, nullptr, params, nullptr, nullptr, 0);
  const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) >= 1;
  if (ok) {
    cachedIdentity_ = id;
    cachedId_ = *out = atoi(PQgetvalue(r, 0, 0));
  } else {
    *error = r ? trimmed(PQresultErrorMessage(r)) : connectionError();
  }
  PQclear(r);
  return ok;
}

CentralOutcome CentralWriter::write(const CentralBatch& batch) {
  CentralOutcome out;
  QString error;
  int id = 0;
  // Rows that were there and differ: (number, highest number there under
  // the same identity).
  auto insert = [&](const char* sql, const std::vector<QByteArray>& columns, std::vector<qint64>* conflicts,
                    qint64* highest) {
    const QByteArray idText = QByteArray::number(id);
    std::vector<const char*> params{idText.constData()};
    for (const QByteArray& c : columns) params.push_back(c.constData());
    PGresult* r = PQexecParams(conn_, sql, int(params.size()), nullptr, params.data(), nullptr, nullptr, 0);
    const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
    if (ok) {
      for (int row = 0; row < PQntuples(r); ++row) {
        conflicts->push_back(QByteArray(PQgetvalue(r, row, 0)).toLongLong());
        *highest = std::max(*highest, QByteArray(PQgetvalue(r, row, 1)).toLongLong());
      }
    } else {
      error = r ? trimmed(PQresultErrorMessage(r)) : connectionError();
    }
    PQclear(r);
    return ok;
  };
  bool ok = connect(&error) && exec("BEGIN", &error) && analyzerId(batch.identity, &id, &error) &&
            (batch.resultColumns.empty() ||
             insert(kInsertResults, batch.resultColumns, &out.conflictingSeqs, &out.highestSeqThere)) &&
            (batch.eventColumns.empty() ||
             insert(kInsertEvents, batch.eventColumns, &out.conflictingEventIds, &out.highestEventIdThere)) &&
            (batch.auditColumns.empty() || insertAudit(id, batch.auditColumns, &out.auditMismatches, &error)) &&
            exec("COMMIT", &error);
  if (!ok) {
    if (conn_ && PQstatus(conn_) == CONNECTION_OK) {
      exec("ROLLBACK", nullptr);
      // The analyzer row may have been rolled back with the rest.
      cachedId_ = 0;
    } else {
      disconnect();
    }
    if (error.isEmpty()) error = QStringLiteral(u"сервер закрыл соединение");
    out = {};
    out.error = error;
    return out;
  }
  out.ok = true;
  out.lastSeq = batch.lastSeq;
  out.lastEventId = batch.lastEventId;
  out.lastAuditId = batch.lastAuditId;
  return out;
}

bool CentralWriter::insertAudit(int id, const std::vector<QByteArray>& columns, QVector<qint64>* mismatches,
                                QString* error) {
  const QByteArray idText = QByteArray::number(id);
  std::vector<const char*> params{idText.constData()};
  for (const QByteArray& c : columns) params.push_back(c.constData());
  PGresult* r = PQexecParams(conn_, kInsertAudit, int(params.size()), nullptr, params.data(), nullptr, nullptr, 0);
  const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
  if (ok) {
    mismatches->clear();
    for (int row = 0; row < PQntuples(r); ++row) mismatches->append(QByteArray(PQgetvalue(r, row, 0)).toLongLong());
  } else {
    *error = r ? trimmed(PQresultErrorMessage(r)) : connectionError();
  }
  PQclear(r);
  return ok;
}

}  // namespace publish
