// A writer killed at any moment: every result it was told is committed is in
// the database, nothing of a transaction it did not finish, the file is sound
// and the dead writer's lock does not keep the next instance out.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <random>

#include "data/result_store.h"
#include "data/store_rows.h"
#include "data/audit_trail.h"
#include "data/trail_check.h"

namespace {

using OpenStatus = ResultStore::OpenStatus;

int Random(int from, int to) {
  std::random_device device;
  return std::uniform_int_distribution<int>(from, to)(device);
}

class CrashSafetyTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = QDir(dir_.path()).filePath(QStringLiteral("korvex.db"));
  }
  void TearDown() override {
    if (writer_.state() != QProcess::NotRunning) {
      writer_.kill();
      writer_.waitForFinished();
    }
  }

  void StartWriter(int singles, int batch, int pauseAt, const QString& option = QString()) {
    writer_.setProgram(QStringLiteral(KORVEX_STORE_WRITER));
    writer_.setArguments({path_, QString::number(singles), QString::number(batch), QString::number(pauseAt)});
    if (!option.isEmpty()) writer_.setArguments(writer_.arguments() << option);
    writer_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer_.start();
    ASSERT_TRUE(writer_.waitForStarted());
    ASSERT_EQ(Line(), "OPEN 0");
  }
  // The writer's next line; empty when it ended without one.
  std::string Line() {
    while (!writer_.canReadLine()) {
      if (!writer_.waitForReadyRead(30000)) return {};
    }
    return writer_.readLine().trimmed().toStdString();
  }
  // Kills the writer; how many more commits it reported before it died.
  int Kill() {
    writer_.kill();
    writer_.waitForFinished();
    int more = 0;
    for (const QByteArray& line : writer_.readAllStandardOutput().split('\n'))
      if (line.startsWith("C ")) ++more;
    return more;
  }
  // Opens the database after the crash: the file is sound and every result in
  // it is the one the writer made for its number, in order.
  void ExpectRows(ResultStore& store, qint64 atLeast, qint64 atMost) {
    EXPECT_EQ(store_rows::integrityCheck(path_), "ok");
    const auto opened = store.open(path_, store_rows::kStartUtcMs);
    ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail.toStdString();
    const auto rows = store.resultsAfter(0, 1000000);
    EXPECT_GE(qint64(rows.size()), atLeast);
    EXPECT_LE(qint64(rows.size()), atMost);
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_EQ(rows[i].seq, qint64(i + 1));
      ASSERT_EQ(store_rows::Difference(rows[i].result, store_rows::Row(qint64(i))), "") << "row " << i;
    }
  }

  QTemporaryDir dir_;
  QString path_;
  QProcess writer_;
};

TEST_F(CrashSafetyTest, AWriterKilledBetweenCommitsKeepsEveryCommittedResult) {
  const int killAfter = Random(1, 300);
  SCOPED_TRACE("killed after " + std::to_string(killAfter) + " commits");
  StartWriter(100000, 0, 0);
  int acknowledged = 0;
  while (acknowledged < killAfter) {
    ASSERT_EQ(Line(), "C " + std::to_string(acknowledged + 1));
    ++acknowledged;
  }
  acknowledged += Kill();
  // The last result may be committed without its report having been written.
  ResultStore store;
  ExpectRows(store, acknowledged, acknowledged + 1);
}

// Commits whose wait for the disk is left for later (a round of several
// analyzers, synced together at its end) are commits all the same: the
// program killed before the sync keeps every one.
TEST_F(CrashSafetyTest, CommitsLeftForALaterSyncSurviveTheWriterKilled) {
  const int killAfter = Random(1, 300);
  SCOPED_TRACE("killed after " + std::to_string(killAfter) + " commits");
  ResultStore::setDurableForTesting(true);
  StartWriter(100000, 0, 0, QStringLiteral("LATER"));
  int acknowledged = 0;
  while (acknowledged < killAfter) {
    ASSERT_EQ(Line(), "C " + std::to_string(acknowledged + 1));
    ++acknowledged;
  }
  acknowledged += Kill();
  ResultStore::setDurableForTesting(false);
  ResultStore store;
  ExpectRows(store, acknowledged, acknowledged + 1);
}

// The sync: one for the file system where the databases lie side by side,
// each one's log where they do not; afterwards nothing waits, and further
// commits wait for the disk themselves again.
TEST_F(CrashSafetyTest, CommitsLeftForLaterAreSyncedTogetherOrEachOnItsOwn) {
  ResultStore::setDurableForTesting(true);
  QTemporaryDir elsewhere;
  ASSERT_TRUE(elsewhere.isValid());
  ResultStore first, second, apart;
  ASSERT_EQ(first.open(path_, store_rows::kStartUtcMs).status, OpenStatus::Opened);
  ASSERT_EQ(second.open(QDir(dir_.path()).filePath(QStringLiteral("korvex-2.db")), store_rows::kStartUtcMs).status,
            OpenStatus::Opened);
  ASSERT_EQ(apart.open(QDir(elsewhere.path()).filePath(QStringLiteral("korvex-3.db")), store_rows::kStartUtcMs).status,
            OpenStatus::Opened);
  const std::vector<ResultStore*> line{&first, &second};
  const std::vector<ResultStore*> all{&first, &second, &apart};
  for (ResultStore* s : all) {
    ASSERT_EQ(s->append(store_rows::Row(0), ResultStore::Sync::Later).state, ResultStore::AppendState::Committed);
    EXPECT_TRUE(s->needsSync());
  }
  // Side by side: the file system's sync.
  EXPECT_TRUE(ResultStore::syncTogether(line));
  EXPECT_FALSE(first.needsSync());
  EXPECT_FALSE(second.needsSync());
  EXPECT_TRUE(apart.needsSync());
  // Apart: each log through SQLite's own file.
  ASSERT_EQ(first.append(store_rows::Row(1), ResultStore::Sync::Later).state, ResultStore::AppendState::Committed);
  EXPECT_TRUE(ResultStore::syncTogether(all));
  for (ResultStore* s : all) EXPECT_FALSE(s->needsSync());
  EXPECT_TRUE(ResultStore::syncTogether(all)) << "nothing waiting";
  ASSERT_EQ(second.append(store_rows::Row(1)).state, ResultStore::AppendState::Committed);
  EXPECT_FALSE(second.needsSync());
  ResultStore::setDurableForTesting(false);
  first.close();
  ResultStore again;
  ExpectRows(again, 2, 2);
}

TEST_F(CrashSafetyTest, AWriterKilledInTheMiddleOfABatchLeavesNoneOfIt) {
  const int singles = Random(1, 40), pauseAt = Random(40000, 80000);
  SCOPED_TRACE(std::to_string(singles) + " single results, killed after " + std::to_string(pauseAt) +
               " of the batch");
  StartWriter(singles, 100000, pauseAt);
  for (int i = 1; i <= singles; ++i) ASSERT_EQ(Line(), "C " + std::to_string(i));
  const std::string pause = Line();
  ASSERT_EQ(pause.rfind("PAUSE ", 0), 0u) << pause;

  // The batch has outgrown the page cache, so part of it is in the log, not
  // yet committed. A second instance sees the committed history only.
  EXPECT_GT(QFileInfo(path_ + QStringLiteral("-wal")).size(), 1 << 20);
  {
    ResultStore second;
    ASSERT_EQ(second.open(path_, store_rows::kStartUtcMs).status, OpenStatus::OpenedReadOnly);
    EXPECT_EQ(second.resultsAfter(0, 1000000).size(), size_t(singles));
  }
  Kill();
  ResultStore store;
  ExpectRows(store, singles, singles);
  EXPECT_EQ(store.append(store_rows::Row(singles)).id, singles + 1);
}

// Each commit waits for the disk; the log must not grow while it does (the
// file's new size would be another wait). Its space is taken at opening and
// the results written into it read back after the next opening.
TEST_F(CrashSafetyTest, CommitsWriteIntoLogSpaceTakenAtOpening) {
  ResultStore::setDurableForTesting(true);
  const QString log = path_ + QStringLiteral("-wal");
  {
    ResultStore store;
    ASSERT_EQ(store.open(path_, store_rows::kStartUtcMs).status, OpenStatus::Opened);
    const qint64 reserved = QFileInfo(log).size();
    EXPECT_GT(reserved, 4000000);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(store.append(store_rows::Row(i)).state, ResultStore::AppendState::Committed);
    EXPECT_EQ(QFileInfo(log).size(), reserved);
  }
  ResultStore::setDurableForTesting(false);
  ResultStore store;
  ExpectRows(store, 300, 300);
}

// Another program that takes the database for its own (its locks lost, as
// a file dialog's listing once made the process lose them) moves the log
// into the file and removes it while the writer goes on committing into the
// removed log; the writer dies. Its last commits are gone with the log, and
// their numbers were seen by whoever received them: the next opening notices
// from the mark beside the file, says so, and numbers on after them under a
// new identity instead of giving them again.
TEST_F(CrashSafetyTest, ALogRemovedByAnotherProgramIsNoticedAndItsNumbersAreNotGivenAgain) {
  constexpr int kSingles = 300, kBatch = 1500;
  StartWriter(kSingles, kBatch, kBatch + 1, QStringLiteral("HOLD"));
  for (int i = 1; i <= kSingles; ++i) ASSERT_EQ(Line(), "C " + std::to_string(i));
  ASSERT_EQ(Line(), "WAIT");
  {
    // The other program: everything committed so far into the file, then
    // the log and its index removed, as its closing does when it takes
    // itself for the last user of the file.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path_).constData(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(other, 5000);
    // A first read finds the log; the owner's helper may be moving it into
    // the file meanwhile.
    ASSERT_EQ(sqlite3_exec(other, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr), SQLITE_OK);
    int log = -1, moved = -2, rc = SQLITE_BUSY;
    for (int tries = 0; tries < 100000 && (rc != SQLITE_OK || log != 0); ++tries)
      rc = sqlite3_wal_checkpoint_v2(other, "main", SQLITE_CHECKPOINT_TRUNCATE, &log, &moved);
    ASSERT_EQ(rc, SQLITE_OK);
    ASSERT_EQ(log, 0) << "the log cut back";
    sqlite3_close_v2(other);
  }
  QFile::remove(path_ + QStringLiteral("-wal"));
  QFile::remove(path_ + QStringLiteral("-shm"));
  writer_.write("go\n");
  ASSERT_EQ(Line(), "DONE");  // the batch is committed, into the removed log
  Kill();

  ResultStore store;
  const auto opened = store.open(path_, store_rows::kStartUtcMs);
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail.toStdString();
  EXPECT_EQ(store.lastCommittedSeq(), kSingles) << "the batch went with the log";
  EXPECT_TRUE(opened.notice.contains(QStringLiteral(u"№ %1–%2").arg(kSingles + 1).arg(kSingles + kBatch)))
      << opened.notice.toStdString();
  const auto next = store.append(store_rows::Row(0));
  EXPECT_EQ(next.id, kSingles + kBatch + 1) << "numbers given out are not given again";
  const auto rows = store.resultsAfter(kSingles - 1, 10);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[0].storeId, rows[1].storeId) << "a new identity from the first number after the lost ones";
  EXPECT_EQ(rows[1].storeId, store.identity());
  bool logged = false;
  for (const StoredEvent& e : store.eventsAfter(0, 100)) logged = logged || e.kind == EventKind::StoreIdentityRenewed;
  EXPECT_TRUE(logged);

  // Once: the mark now agrees with the file.
  store.close();
  const auto again = store.open(path_, store_rows::kStartUtcMs);
  EXPECT_TRUE(again.notice.isEmpty()) << again.notice.toStdString();
  EXPECT_EQ(store.append(store_rows::Row(1)).id, kSingles + kBatch + 2);
}

}  // namespace

// An audit writer killed at any moment, twice: every entry it reported is in
// the trail, the chain is whole, and the next writer goes on with it.
TEST_F(CrashSafetyTest, TheAuditChainGoesOnAcrossAWriterKilledAtAnyMoment) {
  qint64 reported = 0;
  for (int round = 0; round < 2; ++round) {
    QProcess writer;
    writer.setProgram(QStringLiteral(KORVEX_AUDIT_WRITER));
    writer.setArguments({path_, QStringLiteral("100000")});
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start();
    ASSERT_TRUE(writer.waitForStarted());
    auto line = [&writer]() -> std::string {
      while (!writer.canReadLine())
        if (!writer.waitForReadyRead(30000)) return {};
      return writer.readLine().trimmed().toStdString();
    };
    ASSERT_EQ(line(), "OPEN " + std::to_string(reported + 1));
    const int killAfter = Random(1, 60);
    SCOPED_TRACE("round " + std::to_string(round) + ", killed after " + std::to_string(killAfter) + " entries");
    for (int i = 0; i < killAfter; ++i) ASSERT_EQ(line(), "A " + std::to_string(++reported));
    writer.kill();  // SIGKILL
    writer.waitForFinished();
    for (const QByteArray& l : writer.readAllStandardOutput().split('\n'))
      if (l.startsWith("A ")) ++reported;

    EXPECT_EQ(store_rows::integrityCheck(path_), "ok");
    const TrailCheck check = checkTrail(path_, TrailCheckScope());
    EXPECT_EQ(check.status, TrailCheck::Status::Whole) << check.line.toStdString();
    // The entry being committed when it died may be there unreported.
    EXPECT_GE(check.entries, reported);
    EXPECT_LE(check.entries, reported + 1);
    reported = check.entries;
  }
}
