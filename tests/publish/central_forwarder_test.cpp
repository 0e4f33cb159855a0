// The central database copy against a real PostgreSQL server started by the
// test.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>

#include "data/audit_trail.h"
#include "publish/central_forwarder.h"
#include "publish_support.h"
#include "support/postgres_server.h"

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
