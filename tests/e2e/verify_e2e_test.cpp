// korvex --verify on a results database changed afterwards with the sqlite3
// shell, as an intruder would change it: a stored result, an emission
// average, an audit entry, the last entry deleted; each is named and the
// exit status is 1, also in a further analyzer's database. A whole trail
// exits 0 with its summary, also while an instance owns the file; a file
// that is no database exits 2. And the service records its run under the
// operating system's account.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "data/audit_trail.h"
#include "data/result_store.h"
#include "data/trail_check.h"
#include "e2e/sim_fixture.h"
#include "support/service_process.h"
#include "support/test_files.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif

namespace {

// 2026-03-01 00:00 UTC, 03:00 on the clock three hours east.
constexpr qint64 kStartUtcMs = 1772323200000;
const QDate kDay(2026, 3, 1);

Result row(qint64 i) {
  Result r;
  r.utcMs = kStartUtcMs + i * 1000;
  r.utcOffset = 3 * 3600;
  r.mode = WorkMode::Continuous;
  r.address = 1;
  r.values[channel::Tg] = 180 + double(i % 7);
  r.values[channel::O2] = 6.25;
  r.values[channel::CO] = 40 + double(i % 11);
  r.values[channel::NO] = 120;
  return r;
}

struct Verdict {
  int exitCode = -1;
  QString line;
};

class VerifyE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
    db_ = inDir(QStringLiteral("korvex.db"));
  }

  Verdict verify() {
    QProcess p;
    p.start(QStringLiteral(KORVEX_PROGRAM_PATH), {QStringLiteral("--verify"), QStringLiteral("--dir"), dir_.path()});
    EXPECT_TRUE(p.waitForFinished(120000));
    Verdict v;
    v.exitCode = p.exitCode();
    v.line = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return v;
  }

  // The sqlite3 shell, as anybody with the file would use it.
  void shell(const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {db_, sql});
    ASSERT_TRUE(p.waitForFinished(30000)) << "sqlite3 shell not found (scripts/install-deps.sh installs it)";
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  }

  // A day of 5,000 results and its averages, sealed, and a few entries.
  void makeDatabase() {
    seams::setClock([] { return QDateTime::fromMSecsSinceEpoch(kStartUtcMs + 86400000 + 600000, Qt::OffsetFromUTC, 3 * 3600); });
    ResultStore store;
    ASSERT_TRUE(store.open(db_, kStartUtcMs).isWritable());
    std::vector<Result> rows;
    for (int i = 0; i < 5000; ++i) rows.push_back(row(i));
    ASSERT_EQ(store.appendBatch(rows).state, ResultStore::AppendState::Committed);
    QVector<StoredAverage> averages;
    for (int k = 0; k < 3; ++k) {
      StoredAverage a;
      a.startUtcMs = kStartUtcMs + k * 1800000;
      a.endUtcMs = a.startUtcMs + 1800000;
      a.startOffset = a.endOffset = 3 * 3600;
      a.count = 1800;
      a.components[1] = {246.36, 1800, true, 0};
      averages << a;
    }
    ASSERT_TRUE(store.storeAverages(averages));
    AuditTrail trail;
    ASSERT_TRUE(trail.open(db_, true));
    trail.setUser(QStringLiteral("admin"));
    trail.record(AuditKind::ProgramStarted, QStringLiteral(u"окно"), QStringLiteral(u"Запуск"));
    trail.recordSettingChange(QStringLiteral("CO/IntervalLimit"), QStringLiteral("100"), QStringLiteral("120"));
    ASSERT_EQ(trail.sealDaysBefore(store, kDay.addDays(1)).size(), 1);
    trail.record(AuditKind::ProgramStopped, QString(), QStringLiteral(u"Остановка"));
    trail.close();
    store.close();
    clean_ = test_files::readAll(db_);
    ASSERT_FALSE(clean_.isEmpty());
    ASSERT_FALSE(QFileInfo::exists(db_ + QStringLiteral("-wal")));
  }
  void restore() { ASSERT_TRUE(test_files::writeAll(db_, clean_)); }

  QString db_;
  QByteArray clean_;
};

TEST_F(VerifyE2E, EachChangeMadeWithTheShellIsNamedAndExitsOne) {
  makeDatabase();
  Verdict v = verify();
  EXPECT_EQ(v.exitCode, 0) << v.line.toStdString();
  EXPECT_EQ(v.line, QStringLiteral(u"цепочка цела: 4 записи, 1 день"));

  // A stored result.
  shell(QStringLiteral("UPDATE results SET co = 9 WHERE seq = 4000;"));
  v = verify();
  EXPECT_EQ(v.exitCode, 1);
  EXPECT_EQ(v.line, QStringLiteral(u"день 01.03.2026 (печать — запись 3): результаты № 1–4095 (03:00:00–04:08:14) изменены"));

  // An emission average.
  restore();
  shell(QStringLiteral("UPDATE emission_averages SET nox_mean = 199.5 WHERE start_utc_ms = %1;").arg(kStartUtcMs + 1800000));
  v = verify();
  EXPECT_EQ(v.exitCode, 1);
  EXPECT_EQ(v.line, QStringLiteral(u"день 01.03.2026 (печать — запись 3): среднее за 03:30–04:00 (30 мин) изменено"));

  // An audit entry: the guards go first, as they would for anybody.
  restore();
  shell(QStringLiteral("DROP TRIGGER audit_entries_never_updated;"
                       "UPDATE audit_entries SET after = '500' WHERE id = 2;"));
  v = verify();
  EXPECT_EQ(v.exitCode, 1);
  EXPECT_TRUE(v.line.startsWith(QStringLiteral(u"запись 2 (Изменение настройки, 02.03.2026 03:10:00): содержимое изменено")))
      << v.line.toStdString();

  // The last entry deleted: the end kept beside the database tells.
  restore();
  shell(QStringLiteral("DROP TRIGGER audit_entries_never_deleted; DELETE FROM audit_entries WHERE id = 4;"));
  v = verify();
  EXPECT_EQ(v.exitCode, 1);
  EXPECT_TRUE(v.line.startsWith(QStringLiteral(u"записи 4–4 удалены: последняя запись 3"))) << v.line.toStdString();

  // A result added to a sealed day.
  restore();
  shell(QStringLiteral("INSERT INTO results SELECT seq + 5000, utc_ms + 5000000, context, status, fault_bits, specials,"
                       " tg, o2, co, no, no2, so2, h2s, co2, nox, qa, alf, ta FROM results WHERE seq = 1;"));
  v = verify();
  EXPECT_EQ(v.exitCode, 1);
  EXPECT_TRUE(v.line.contains(QStringLiteral(u"результатов 5001, опечатано 5000"))) << v.line.toStdString();
}

// A further analyzer's database, with its own chain and seals: each file is
// checked under its name, and a change in the second is named there.
TEST_F(VerifyE2E, EveryAnalyzersDatabaseIsCheckedAndAChangeInAFurtherOneIsNamedByIt) {
  makeDatabase();
  const QString second = inDir(QStringLiteral("korvex-2.db"));
  ASSERT_TRUE(QFile::copy(db_, second));
  ASSERT_TRUE(QFile::copy(inDir(QStringLiteral("korvex-audit.head")), inDir(QStringLiteral("korvex-2-audit.head"))));
  Verdict v = verify();
  EXPECT_EQ(v.exitCode, 0) << v.line.toStdString();
  EXPECT_EQ(v.line, QStringLiteral(u"korvex.db: цепочка цела: 4 записи, 1 день\n"
                                   u"korvex-2.db: цепочка цела: 4 записи, 1 день"));

  db_ = second;
  shell(QStringLiteral("UPDATE results SET co = 9 WHERE seq = 4000;"));
  v = verify();
  EXPECT_EQ(v.exitCode, 1);
  EXPECT_EQ(v.line, QStringLiteral(u"korvex.db: цепочка цела: 4 записи, 1 день\n"
                                   u"korvex-2.db: день 01.03.2026 (печать — запись 3): результаты № 1–4095 "
                                   u"(03:00:00–04:08:14) изменены"));
}

TEST_F(VerifyE2E, AWholeTrailIsCheckedWhileAnInstanceOwnsItAndNoDatabaseExitsTwo) {
  makeDatabase();
  {
    ResultStore owner;
    ASSERT_EQ(owner.open(db_, kStartUtcMs).status, ResultStore::OpenStatus::Opened);
    const Verdict v = verify();
    EXPECT_EQ(v.exitCode, 0) << v.line.toStdString();
  }
  ASSERT_TRUE(test_files::writeAll(db_, QByteArray("this is not a database\n").repeated(200)));
  Verdict v = verify();
  EXPECT_EQ(v.exitCode, 2);
  ASSERT_TRUE(QFile::remove(db_));
  v = verify();
  EXPECT_EQ(v.exitCode, 2);
  EXPECT_EQ(v.line, QStringLiteral(u"нет базы данных %1").arg(QDir::toNativeSeparators(db_)));
}

TEST_F(VerifyE2E, TheServiceRecordsItsRunUnderTheOperatingSystemsAccount) {
  startSimForResultsEverySecond();
  ServiceProcess service(QStringLiteral(KORVEX_PROGRAM_PATH));
  ASSERT_TRUE(service.start({QStringLiteral("--dir"), dir_.path(), QStringLiteral("--verbose")}));
  ASSERT_TRUE(service.waitForLines(QRegularExpression(QStringLiteral(u" Результат ")), 2))
      << service.lines().join('\n').toStdString();
  ASSERT_TRUE(service.terminate());
  const Verdict v = verify();
  EXPECT_EQ(v.exitCode, 0) << v.line.toStdString();
  AuditTrail trail;
  ASSERT_TRUE(trail.openForReading(db_));
  const QVector<AuditEntry> all = trail.entriesAfter(0, 100);
  ASSERT_GE(all.size(), 2);
  EXPECT_EQ(all.first().kind, AuditKind::ProgramStarted);
  EXPECT_EQ(all.first().subject, QStringLiteral(u"служба"));
  EXPECT_EQ(all.first().user, QString());
  EXPECT_EQ(all.first().osUser, osUserName());
  EXPECT_EQ(all.last().kind, AuditKind::ProgramStopped);
}

}  // namespace
