// The central database copy against a real PostgreSQL server started by the
// test.

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "publish/central_forwarder.h"
#include "publish_support.h"
#include "support/postgres_server.h"
#include <sqlite3.h>
#include "data/audit_trail.h"

using namespace publish;
using publish_test::TempStore;
using publish_test::waitUntil;

namespace {

constexpr int kWaitMs = 60000;

CentralSettings centralSettings(const PostgresServer& db) {
  CentralSettings s;
  s.enabled = true;
  s.connection = db.connectionString();
  s.retryMinMs = 50;
  s.retryMaxMs = 400;
  s.batchSize = 25;  // several batches even for a few results
  return s;
}

QString one(PostgresServer& db, const QString& sql) {
  QString error;
  const auto rows = db.query(sql, &error);
  EXPECT_TRUE(error.isEmpty()) << error.toStdString() << "\n" << sql.toStdString();
  return rows.isEmpty() || rows[0].isEmpty() ? QString() : rows[0][0];
}

// README's query of 30-minute averages, as the operator would copy it.
QString readmeAveragesQuery() {
  QFile f(QStringLiteral(KORVEX_SOURCE_DIR "/README.md"));
  if (!f.open(QIODevice::ReadOnly)) return {};
  const QString text = QString::fromUtf8(f.readAll());
  const qsizetype section = text.indexOf(QStringLiteral("## The central database"));
  if (section < 0) return {};
  const QRegularExpression block(QStringLiteral("```sql\\n(.*?)```"), QRegularExpression::DotMatchesEverythingOption);
  for (auto it = block.globalMatch(text, section); it.hasNext();) {
    const QString sql = it.next().captured(1);
    if (sql.contains(QStringLiteral("date_bin"))) return sql;
  }
  return {};
}

}  // namespace

TEST(CentralForwarderTest, CatchesUpInOrderAfterTheServerWasStoppedAndHoldsEachResultOnce) {
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  publish_test::LogCapture log;

  TempStore local;
  local.append(1, 40);
  local.event(EventKind::ModeStarted, QStringLiteral("continuous \"measurement\""));
  const AnalyzerIdentity id{QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1};
  CentralForwarder forwarder(local.store(), centralSettings(db), id);
  forwarder.setO2RefByFuel({3.0});
  QSignalSpy errors(&forwarder, &CentralForwarder::errorOccurred);
  ASSERT_TRUE(forwarder.start());
  ASSERT_TRUE(waitUntil([&] { return forwarder.state() == CentralForwarder::State::UpToDate; }, kWaitMs))
      << forwarder.lastError().toStdString();
  EXPECT_EQ(forwarder.deliveredSeq(), 40);
  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) FROM korvex_results")), QStringLiteral("40"));

  db.stop();
  for (int i = 41; i <= 100; ++i) {
    Result r = publish_test::boilerResult(i);
    if (i == 77) r.values[channel::CO] = kCodeOverload;
    ASSERT_EQ(local.store().append(r).state, ResultStore::AppendState::Committed);
    forwarder.poke();
    QCoreApplication::processEvents();
  }
  local.event(EventKind::ModeEnded, QStringLiteral("stopped"));
  forwarder.poke();
  ASSERT_TRUE(waitUntil([&] { return errors.count() > 0; }, kWaitMs));
  EXPECT_EQ(forwarder.state(), CentralForwarder::State::WaitingToRetry);
  EXPECT_EQ(local.store().cursor(CentralForwarder::kResultCursor), 40);

  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  ASSERT_TRUE(waitUntil(
      [&] { return forwarder.state() == CentralForwarder::State::UpToDate && forwarder.deliveredEventId() == 2; },
      kWaitMs))
      << forwarder.lastError().toStdString();
  EXPECT_EQ(local.store().cursor(CentralForwarder::kResultCursor), 100);
  EXPECT_EQ(local.store().cursor(CentralForwarder::kEventCursor), 2);

  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) || ' ' || count(DISTINCT seq) || ' ' || min(seq) || ' ' || max(seq)"
                                   " FROM korvex_results")),
            QStringLiteral("100 100 1 100"));
  // Rows went in in the order they were taken.
  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) FROM (SELECT seq, lag(seq) OVER (ORDER BY received_at, seq) AS"
                                   " before FROM korvex_results) t WHERE before IS NOT NULL AND before > seq")),
            QStringLiteral("0"));
  // Values: the time, a code as NULL with its bit kept, the analyzer.
  EXPECT_EQ(one(db, QStringLiteral("SELECT to_char(taken_at AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS')"
                                   " FROM korvex_results WHERE seq = 77")),
            QStringLiteral("2025-03-15 00:01:17.000"));
  EXPECT_EQ(one(db, QStringLiteral("SELECT coalesce(co::text, 'null') || ' ' || ((specials >> 4) & 3) || ' ' ||"
                                   " coalesce(co_mg::text, 'null') FROM korvex_results WHERE seq = 77")),
            QStringLiteral("null 1 null"));
  EXPECT_EQ(one(db, QStringLiteral("SELECT o2 || ' ' || \"no\" || ' ' || round(nox_mg::numeric, 3) FROM korvex_results"
                                   " WHERE seq = 78")),
            QStringLiteral("5 100 242.511"));  // (100 + 5) * 2.053 * 18 / 16
  // Every row with its status.
  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) FROM korvex_results WHERE status IS NULL")), QStringLiteral("0"));
  EXPECT_EQ(one(db, QStringLiteral("SELECT string_agg(site || '/' || name || '/' || address, ',') FROM korvex_analyzers")),
            QStringLiteral("plant-7/boiler-3/1"));
  EXPECT_EQ(one(db, QStringLiteral("SELECT string_agg(kind_name || ':' || text, ',' ORDER BY id) FROM korvex_events")),
            QStringLiteral("modeStarted:continuous \"measurement\",modeEnded:stopped"));

  EXPECT_TRUE(forwarder.lastError().isEmpty() || errors.count() > 0);
  EXPECT_TRUE(log.all().contains(QStringLiteral(u"Центральная база данных"))) << log.all().toStdString();
  EXPECT_FALSE(log.all().contains(db.password())) << log.all().toStdString();
  for (const QVariantList& e : errors) EXPECT_FALSE(e.value(0).toString().contains(db.password()));
}

TEST(CentralForwarderTest, SendingAgainAfterALostPositionDuplicatesNothing) {
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  TempStore local;
  local.append(1, 30);
  const AnalyzerIdentity id{QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1};
  {
    CentralForwarder forwarder(local.store(), centralSettings(db), id);
    ASSERT_TRUE(forwarder.start());
    ASSERT_TRUE(waitUntil([&] { return forwarder.state() == CentralForwarder::State::UpToDate; }, kWaitMs));
  }
  // The position is lost (an old copy of the database put back): everything
  // goes again, along with what is new.
  ASSERT_TRUE(local.store().setCursor(CentralForwarder::kResultCursor, 0));
  local.append(31, 45);
  CentralForwarder forwarder(local.store(), centralSettings(db), id);
  QSignalSpy errors(&forwarder, &CentralForwarder::errorOccurred);
  ASSERT_TRUE(forwarder.start());
  ASSERT_TRUE(waitUntil([&] { return forwarder.state() == CentralForwarder::State::UpToDate; }, kWaitMs))
      << forwarder.lastError().toStdString();
  EXPECT_EQ(errors.count(), 0) << forwarder.lastError().toStdString();
  EXPECT_EQ(forwarder.deliveredSeq(), 45);
  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) || ' ' || count(DISTINCT seq) FROM korvex_results")),
            QStringLiteral("45 45"));
}

TEST(CentralForwarderTest, AnalyzersShareOneDatabaseAndReadmeQueryGivesTheirHalfHourAverages) {
  const QString sql = readmeAveragesQuery();
  ASSERT_FALSE(sql.isEmpty()) << "README.md has no ```sql block with date_bin under '## The central database'";
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();

  // An hour a minute apart; boiler-3 has CO 10 ppm, then 30 ppm from the
  // half hour on; boiler-4 100 ppm throughout. O2 5 %, reference 3 %.
  TempStore a, b;
  for (int k = 0; k < 60; ++k) {
    Result r = publish_test::boilerResult(k * 60);
    r.values[channel::CO] = k < 30 ? 10 : 30;
    ASSERT_EQ(a.store().append(r).state, ResultStore::AppendState::Committed);
    r.values[channel::CO] = 100;
    r.address = 2;
    ASSERT_EQ(b.store().append(r).state, ResultStore::AppendState::Committed);
  }
  CentralForwarder fa(a.store(), centralSettings(db), {QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1});
  CentralForwarder fb(b.store(), centralSettings(db), {QStringLiteral("plant-7"), QStringLiteral("boiler-4"), 2});
  fa.setO2RefByFuel({3.0});
  fb.setO2RefByFuel({3.0});
  ASSERT_TRUE(fa.start());
  ASSERT_TRUE(fb.start());
  ASSERT_TRUE(waitUntil([&] { return fa.state() == CentralForwarder::State::UpToDate &&
                                     fb.state() == CentralForwarder::State::UpToDate; },
                        kWaitMs))
      << fa.lastError().toStdString() << fb.lastError().toStdString();
  // The same sequence numbers from two analyzers are different rows.
  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) FROM korvex_results")), QStringLiteral("120"));

  QString error;
  const auto rows = db.query(sql, &error);
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  ASSERT_EQ(rows.size(), 4);
  // site, analyzer, address, interval_start, results, co_mg, ...
  auto check = [&](int row, const char* analyzer, const char* start, double coMg) {
    ASSERT_GE(rows[row].size(), 6);
    EXPECT_EQ(rows[row][1], QLatin1String(analyzer));
    EXPECT_TRUE(rows[row][3].startsWith(QLatin1String(start))) << rows[row][3].toStdString();
    EXPECT_EQ(rows[row][4], QStringLiteral("30"));
    EXPECT_NEAR(rows[row][5].toDouble(), coMg, 1e-9);
  };
  const double factor = (21.0 - 3.0) / (21.0 - 5.0) * 1.250;
  check(0, "boiler-3", "2025-03-15 00:00:00", 10 * factor);
  check(1, "boiler-4", "2025-03-15 00:00:00", 100 * factor);
  check(2, "boiler-3", "2025-03-15 00:30:00", 30 * factor);
  check(3, "boiler-4", "2025-03-15 00:30:00", 100 * factor);
}

TEST(CentralForwarderTest, AWrongPasswordIsReportedWithoutThePassword) {
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  publish_test::LogCapture log;
  TempStore local;
  local.append(1, 3);
  CentralSettings s = centralSettings(db);
  const QString wrong = QStringLiteral("Wrong-Pg-Pass-9");
  s.connection.replace(db.password(), wrong);
  CentralForwarder forwarder(local.store(), s, {QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1});
  QSignalSpy errors(&forwarder, &CentralForwarder::errorOccurred);
  ASSERT_TRUE(forwarder.start());
  ASSERT_TRUE(waitUntil([&] { return errors.count() > 0; }, kWaitMs));
  EXPECT_TRUE(forwarder.lastError().contains(QStringLiteral("password authentication failed")))
      << forwarder.lastError().toStdString();
  EXPECT_FALSE(forwarder.lastError().contains(wrong));
  EXPECT_FALSE(log.all().contains(wrong)) << log.all().toStdString();
  EXPECT_EQ(local.store().cursor(CentralForwarder::kResultCursor), 0);
}

// The local database lost results it had sent (an older copy of it put back,
// or its log removed), so its next results would take their numbers again.
// With the mark beside the file it numbers on after them under a new
// identity, and the server takes every row. Without the mark (gone too)
// nothing local can tell: the server's rows that differ are reported, never
// passed over in silence, and the database numbers on under a new identity
// after them.
TEST(CentralForwarderTest, ResultsNumberedAgainAfterALossAreNeverDroppedSilently) {
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("korvex.db")), old = path + QStringLiteral(".old");
  const AnalyzerIdentity id{QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1};
  const auto append = [](ResultStore& store, int first, int last) {
    for (int i = first; i <= last; ++i)
      ASSERT_EQ(store.append(publish_test::boilerResult(i)).state, ResultStore::AppendState::Committed);
  };
  const auto sendAll = [&](ResultStore& store, CentralForwarder& forwarder) {
    ASSERT_TRUE(forwarder.start());
    ASSERT_TRUE(waitUntil(
        [&] {
          return forwarder.state() == CentralForwarder::State::UpToDate &&
                 forwarder.deliveredSeq() == store.lastCommittedSeq();
        },
        kWaitMs))
        << forwarder.lastError().toStdString();
  };
  const auto rowsUnder = [&](const QString& identity) {
    return one(db, QStringLiteral("SELECT count(*) FROM korvex_results WHERE replace(store_id::text, '-', '') = '%1'")
                       .arg(identity));
  };
  const auto putBackTheOldCopy = [&] {
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::copy(old, path));
  };

  QString first;
  {
    ResultStore store;
    ASSERT_TRUE(store.open(path, publish_test::kStartUtcMs).isWritable());
    append(store, 1, 6);
    store.close();
    ASSERT_TRUE(QFile::copy(path, old));
    ASSERT_TRUE(store.open(path, publish_test::kStartUtcMs).isWritable());
    append(store, 7, 10);
    CentralForwarder forwarder(store, centralSettings(db), id);
    sendAll(store, forwarder);
    first = store.identity();
  }
  EXPECT_EQ(rowsUnder(first), QStringLiteral("10"));

  // The mark tells: new numbers under a new identity, every row taken.
  putBackTheOldCopy();
  QString second;
  {
    ResultStore store;
    const auto opened = store.open(path, publish_test::kStartUtcMs);
    ASSERT_TRUE(opened.isWritable());
    EXPECT_FALSE(opened.notice.isEmpty());
    second = store.identity();
    EXPECT_NE(second, first);
    append(store, 101, 103);
    EXPECT_EQ(store.lastCommittedSeq(), 13);
    CentralForwarder forwarder(store, centralSettings(db), id);
    sendAll(store, forwarder);
    EXPECT_EQ(forwarder.conflicts(), 0);
  }
  EXPECT_EQ(rowsUnder(first), QStringLiteral("10"));
  EXPECT_EQ(rowsUnder(second), QStringLiteral("3"));

  // Nothing local tells: the server does.
  putBackTheOldCopy();
  ASSERT_TRUE(QFile::remove(path + QStringLiteral("-mark")));
  ResultStore store;
  const auto opened = store.open(path, publish_test::kStartUtcMs);
  ASSERT_TRUE(opened.isWritable());
  EXPECT_TRUE(opened.notice.isEmpty());
  EXPECT_EQ(store.identity(), first);
  append(store, 201, 205);  // numbers 7-11 again, 7-10 held there with other contents
  CentralForwarder forwarder(store, centralSettings(db), id);
  QSignalSpy errors(&forwarder, &CentralForwarder::errorOccurred);
  sendAll(store, forwarder);
  EXPECT_EQ(forwarder.conflicts(), 4);
  ASSERT_GE(errors.count(), 1);
  EXPECT_TRUE(errors.last().value(0).toString().contains(QStringLiteral(u"№ 7–10")))
      << errors.last().value(0).toString().toStdString();
  bool logged = false;
  for (const StoredEvent& e : store.eventsAfter(0, 100)) logged = logged || e.kind == EventKind::PublishConflict;
  EXPECT_TRUE(logged);
  // The rows there stay as they were; the one without a conflict went in.
  EXPECT_EQ(one(db, QStringLiteral("SELECT tg FROM korvex_results WHERE seq = 7 AND replace(store_id::text, '-', '') = '%1'")
                        .arg(first)),
            QString::number(publish_test::boilerResult(7).values[channel::Tg]));
  EXPECT_EQ(rowsUnder(first), QStringLiteral("11"));
  // From now on another identity, after the numbers the server holds.
  const QString third = store.identity();
  EXPECT_NE(third, first);
  append(store, 301, 301);
  EXPECT_EQ(store.lastCommittedSeq(), 12);
  forwarder.poke();
  ASSERT_TRUE(waitUntil([&] { return forwarder.deliveredSeq() == 12; }, kWaitMs));
  EXPECT_EQ(rowsUnder(third), QStringLiteral("1"));
  EXPECT_EQ(forwarder.conflicts(), 4);
}

// Tables an earlier version made, keyed by the analyzer and the number
// alone: they get the local database's identity in their key, their rows
// standing for those of older local databases, so the same numbers of a
// database begun since go in beside them.
TEST(CentralForwarderTest, TablesOfTheEarlierVersionGetTheIdentityInTheirKey) {
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  QString error;
  db.query(QStringLiteral(
               "CREATE TABLE korvex_analyzers (id serial PRIMARY KEY, site text NOT NULL, name text NOT NULL,"
               " address smallint NOT NULL, UNIQUE (site, name, address));"
               "CREATE TABLE korvex_results (analyzer_id integer NOT NULL REFERENCES korvex_analyzers (id),"
               " seq bigint NOT NULL, taken_at timestamptz NOT NULL, utc_offset integer NOT NULL,"
               " mode smallint NOT NULL, fuel smallint NOT NULL, fault_bits integer NOT NULL, specials bigint NOT NULL,"
               " tg double precision, o2 double precision, co double precision, \"no\" double precision,"
               " no2 double precision, so2 double precision, h2s double precision, co2 double precision,"
               " nox double precision, qa double precision, alf double precision, ta double precision,"
               " o2_ref double precision, co_mg double precision, nox_mg double precision, so2_mg double precision,"
               " h2s_mg double precision, received_at timestamptz NOT NULL DEFAULT now(),"
               " PRIMARY KEY (analyzer_id, seq));"
               "CREATE TABLE korvex_events (analyzer_id integer NOT NULL REFERENCES korvex_analyzers (id),"
               " id bigint NOT NULL, taken_at timestamptz NOT NULL, utc_offset integer NOT NULL, kind integer NOT NULL,"
               " kind_name text NOT NULL, text text NOT NULL, received_at timestamptz NOT NULL DEFAULT now(),"
               " PRIMARY KEY (analyzer_id, id));"
               "INSERT INTO korvex_analyzers (site, name, address) VALUES ('plant-7', 'boiler-3', 1);"
               "INSERT INTO korvex_results (analyzer_id, seq, taken_at, utc_offset, mode, fuel, fault_bits, specials)"
               " VALUES (1, 1, now(), 0, 1, 0, 0, 0);"
               "INSERT INTO korvex_events (analyzer_id, id, taken_at, utc_offset, kind, kind_name, text)"
               " VALUES (1, 1, now(), 0, 1, 'linkLost', 'old');"),
           &error);
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();

  TempStore local;
  local.append(1, 3);
  local.event(EventKind::LinkBack, QStringLiteral("new"));
  CentralForwarder forwarder(local.store(), centralSettings(db), {QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1});
  ASSERT_TRUE(forwarder.start());
  ASSERT_TRUE(waitUntil(
      [&] { return forwarder.state() == CentralForwarder::State::UpToDate && forwarder.deliveredEventId() == 1; },
      kWaitMs))
      << forwarder.lastError().toStdString();
  EXPECT_EQ(forwarder.conflicts(), 0);
  EXPECT_EQ(one(db, QStringLiteral("SELECT string_agg(replace(store_id::text, '-', '') || ':' || seq, ',' ORDER BY"
                                   " store_id, seq) FROM korvex_results")),
            QStringLiteral("00000000000000000000000000000000:1,%1:1,%1:2,%1:3").arg(local.store().identity()));
  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) || ' ' || count(DISTINCT store_id) FROM korvex_events")),
            QStringLiteral("2 2"));
  for (const char* table : {"korvex_results", "korvex_events"}) {
    EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid"
                                     " AND a.attnum = ANY (i.indkey) WHERE i.indrelid = '%1'::regclass AND"
                                     " i.indisprimary AND a.attname = 'store_id'")
                          .arg(QLatin1String(table))),
              QStringLiteral("1"))
        << table;
  }
}

// The audit trail's copy: every entry with its hashes, in order, even while
// no result comes; rows the server refuses to change or delete younger than
// six years; and a local trail rewritten after the copy is reported.
TEST(CentralForwarderTest, TheAuditTrailIsCopiedWithItsHashesAndARewriteOfItIsReported) {
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  TempStore local;
  local.append(1, 3);
  AuditTrail trail;
  ASSERT_TRUE(trail.open(local.store().path(), true));
  trail.setUser(QStringLiteral(u"Иванов"));
  trail.record(AuditKind::ProgramStarted, QStringLiteral(u"окно"), QStringLiteral(u"Запуск программы"));
  trail.recordSettingChange(QStringLiteral("Mqtt/Password"), QStringLiteral("old-secret-9"), QStringLiteral("new-secret-9"));
  trail.recordSettingChange(QStringLiteral("CO/IntervalLimit"), QStringLiteral("100"), QStringLiteral("120"));

  const AnalyzerIdentity id{QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1};
  CentralForwarder forwarder(local.store(), centralSettings(db), id);
  forwarder.setAuditTrail(&trail);
  QSignalSpy mismatches(&forwarder, &CentralForwarder::auditMismatch);
  ASSERT_TRUE(forwarder.start());
  ASSERT_TRUE(waitUntil([&] { return forwarder.deliveredAuditId() == 3; }, kWaitMs)) << forwarder.lastError().toStdString();
  EXPECT_EQ(local.store().cursor(CentralForwarder::kAuditCursor), 3);

  // A login commits no result: the entry goes all the same.
  trail.record(AuditKind::Login, QStringLiteral(u"Иванов"), QStringLiteral(u"Вход: Иванов (инженер)"));
  ASSERT_TRUE(waitUntil([&] { return forwarder.deliveredAuditId() == 4; }, kWaitMs)) << forwarder.lastError().toStdString();

  QString hashes;
  for (const AuditEntry& e : trail.entriesAfter(0, 10))
    hashes += QString::number(e.id) + QLatin1Char(':') + QString::fromLatin1(e.prevHash.toHex().left(8)) +
              QLatin1Char(':') + QString::fromLatin1(e.hash.toHex()) + QLatin1Char(',');
  EXPECT_EQ(one(db, QStringLiteral("SELECT string_agg(id || ':' || left(prev_hash, 8) || ':' || hash || ',', '' ORDER BY id)"
                                   " FROM korvex_audit")),
            hashes);
  EXPECT_EQ(one(db, QStringLiteral("SELECT user_name || ' ' || kind_name || ' ' || subject FROM korvex_audit WHERE id = 4")),
            QStringLiteral(u"Иванов login Иванов"));
  // The password never: only that it changed.
  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) FROM korvex_audit WHERE concat(before, after, text, subject)"
                                   " LIKE '%secret-9%'")),
            QStringLiteral("0"));

  // The server keeps them: no change, no deletion of a young row, no truncation.
  for (const char* sql : {"UPDATE korvex_audit SET text = 'x' WHERE id = 1", "DELETE FROM korvex_audit WHERE id = 1",
                          "TRUNCATE korvex_audit"}) {
    QString error;
    db.query(QString::fromLatin1(sql), &error);
    EXPECT_TRUE(error.contains(QStringLiteral("kept at least six years"))) << sql << ": " << error.toStdString();
  }
  EXPECT_EQ(one(db, QStringLiteral("SELECT count(*) FROM korvex_audit")), QStringLiteral("4"));

  // The local trail rewritten from entry 2 on, hashes recomputed, and sent
  // again: the server's copy stays and the difference is reported.
  forwarder.stop();
  trail.close();
  {
    AuditTrail reader;
    ASSERT_TRUE(reader.openForReading(local.store().path()));
    QVector<AuditEntry> entries = reader.entriesAfter(0, 10);
    reader.close();
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(local.store().path()).constData(), &raw, SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    QByteArray sql = "DROP TRIGGER audit_entries_never_updated;";
    entries[1].text = QStringLiteral("nothing happened");
    for (int i = 1; i < entries.size(); ++i) {
      entries[i].prevHash = entries[i - 1].hash;
      entries[i].hash = entryHash(entries[i]);
      sql += QStringLiteral("UPDATE audit_entries SET text = '%1', prev_hash = '%2', hash = '%3' WHERE id = %4;")
                 .arg(entries[i].text, QString::fromLatin1(entries[i].prevHash.toHex()),
                      QString::fromLatin1(entries[i].hash.toHex()))
                 .arg(entries[i].id)
                 .toUtf8();
    }
    ASSERT_EQ(sqlite3_exec(raw, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(raw);
    sqlite3_close_v2(raw);
  }
  ASSERT_TRUE(trail.open(local.store().path(), true));
  ASSERT_TRUE(local.store().setCursor(CentralForwarder::kAuditCursor, 0));
  ASSERT_TRUE(forwarder.start());
  ASSERT_TRUE(waitUntil([&] { return mismatches.count() > 0; }, kWaitMs)) << forwarder.lastError().toStdString();
  EXPECT_EQ(mismatches.first().first().value<QVector<qint64>>(), (QVector<qint64>{2, 3, 4}));
  EXPECT_TRUE(forwarder.lastError().contains(QStringLiteral(u"записи 2, 3, 4"))) << forwarder.lastError().toStdString();
  EXPECT_EQ(one(db, QStringLiteral("SELECT text FROM korvex_audit WHERE id = 2")),
            QStringLiteral(u"Mqtt/Password: изменено (значение не записывается)"));
}
