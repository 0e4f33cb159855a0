// The results database when things go wrong: the disk fills up, the file is
// damaged, the place cannot be written, a second instance starts.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <limits>
#include <optional>

#include "data/result_store.h"
#include "data/store_rows.h"
#include "support/test_files.h"
#include "support/file_size_limit.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#endif
#ifdef Q_OS_LINUX
#include <linux/fs.h>
#endif

namespace {

using OpenStatus = ResultStore::OpenStatus;
using AppendState = ResultStore::AppendState;

constexpr qint64 kDayMs = 86400000;
// 2026-03-14 10:15:02.345 UTC: when a damaged file is found.
constexpr qint64 kFoundUtcMs = 1773483302345;

class StoreFaultsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = QDir(dir_.path()).filePath(QStringLiteral("korvex.db"));
  }
  QTemporaryDir dir_;
  QString path_;
};

#ifdef Q_OS_UNIX
// Makes a directory no file can be created in while it lives: by its mode,
// or for root, whom the mode does not stop, by the immutable flag.
class ReadOnlyDir {
 public:
  explicit ReadOnlyDir(const QString& dir) : dir_(dir) {
    QFile::setPermissions(dir_, QFile::ReadOwner | QFile::ExeOwner);
    if (CanCreate()) SetImmutable(true);
    made_ = !CanCreate();
  }
  ~ReadOnlyDir() {
    SetImmutable(false);
    QFile::setPermissions(dir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  bool made() const { return made_; }

 private:
  bool CanCreate() const {
    QFile probe(dir_ + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly)) return false;
    probe.remove();
    return true;
  }
  void SetImmutable([[maybe_unused]] bool on) const {
#ifdef Q_OS_LINUX
    const int fd = ::open(QFile::encodeName(dir_).constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
      ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0) ::close(fd);
#endif
  }

  QString dir_;
  bool made_ = false;
};

TEST_F(StoreFaultsTest, AFullDiskKeepsResultsPendingUntilTheyCanBeCommittedInOrder) {
  ResultStore store;
  ASSERT_EQ(store.open(path_, store_rows::kStartUtcMs).status, OpenStatus::Opened);
  std::vector<Result> rows;
  for (int i = 0; i < 7; ++i) rows.push_back(store_rows::Row(i));
  for (int i = 2; i < 7; ++i) rows[size_t(i)].utcMs += kDayMs;  // the full disk meets a new day
  ASSERT_EQ(store.append(rows[0]).state, AppendState::Committed);
  ASSERT_EQ(store.append(rows[1]).state, AppendState::Committed);

  std::optional<FileSizeLimit> full(std::in_place, 64);
  ASSERT_TRUE(full->set());
  const auto first = store.append(rows[2]);
  EXPECT_EQ(first.state, AppendState::Pending);
  EXPECT_TRUE(first.failureStarted);
  EXPECT_FALSE(first.error.isEmpty());
  EXPECT_EQ(first.id, 3);
  const auto event = store.appendEvent(rows[2].utcMs, 10800, EventKind::DailyLogFailed, QStringLiteral("disk full"));
  EXPECT_EQ(event.state, AppendState::Pending);
  EXPECT_FALSE(event.failureStarted) << "reported once";
  const auto second = store.append(rows[3]);
  EXPECT_EQ(second.state, AppendState::Pending);
  EXPECT_FALSE(second.failureStarted) << "reported once";
  EXPECT_EQ(second.id, 4);
  EXPECT_EQ(store.pendingCount(), 3);
  EXPECT_FALSE(store.flushPending());
  EXPECT_EQ(store.resultsAfter(0, 100).size(), 2u);
  EXPECT_EQ(store.lastCommittedSeq(), 2);
  full.reset();

  // Space is back: the next result takes the pending ones with it.
  const auto back = store.append(rows[4]);
  ASSERT_EQ(back.state, AppendState::Committed) << back.error.toStdString();
  EXPECT_EQ(back.flushed, 3);
  EXPECT_EQ(back.id, 5);
  EXPECT_EQ(store.pendingCount(), 0);
  EXPECT_EQ(store.daysWithResults().size(), 2);

  // A second spell is reported again; an explicit flush ends it.
  full.emplace(64);
  const auto again = store.append(rows[5]);
  EXPECT_EQ(again.state, AppendState::Pending);
  EXPECT_TRUE(again.failureStarted);
  full.reset();
  EXPECT_TRUE(store.flushPending());
  EXPECT_EQ(store.append(rows[6]).id, 7);
  store.close();

  EXPECT_EQ(store_rows::integrityCheck(path_), "ok");
  ASSERT_EQ(store.open(path_, store_rows::kStartUtcMs).status, OpenStatus::Opened);
  const auto stored = store.resultsAfter(0, 100);
  ASSERT_EQ(stored.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(stored[i].seq, qint64(i + 1));
    EXPECT_EQ(store_rows::Difference(stored[i].result, rows[i]), "") << "row " << i;
  }
  const auto events = store.eventsAfter(0, 10);
  ASSERT_EQ(events.size(), 1);
  EXPECT_EQ(events[0].kind, EventKind::DailyLogFailed);
}
#endif

TEST_F(StoreFaultsTest, ADamagedFileIsMovedAsideUnderADatedNameAndReplaced) {
  // Not a database at all.
  const QByteArray text = QByteArray("results of 14.03.2026\r\n").repeated(300);
  ASSERT_TRUE(test_files::writeAll(path_, text));
  ResultStore store;
  auto opened = store.open(path_, kFoundUtcMs);
  ASSERT_EQ(opened.status, OpenStatus::ReplacedCorrupt) << opened.detail.toStdString();
  EXPECT_EQ(opened.movedTo, path_ + QStringLiteral(".corrupt-20260314-101502"));
  EXPECT_TRUE(opened.detail.contains(QStringLiteral(".corrupt-20260314-101502")));
  EXPECT_EQ(test_files::readAll(opened.movedTo), text);
  EXPECT_EQ(store.append(store_rows::Row(0)).state, AppendState::Committed);

  // A database whose pages were overwritten: quick_check finds it. The
  // earlier damaged file keeps its name.
  std::vector<Result> rows;
  for (int i = 0; i < 3000; ++i) rows.push_back(store_rows::Row(i));
  ASSERT_EQ(store.appendBatch(rows).state, AppendState::Committed);
  store.close();
  QByteArray bytes = test_files::readAll(path_);
  ASSERT_GT(bytes.size(), 20 * 4096);
  bytes.replace(10 * 4096, 4 * 4096, QByteArray(4 * 4096, '\x5a'));
  ASSERT_TRUE(test_files::writeAll(path_, bytes));
  opened = store.open(path_, kFoundUtcMs);
  ASSERT_EQ(opened.status, OpenStatus::ReplacedCorrupt) << opened.detail.toStdString();
  EXPECT_EQ(opened.movedTo, path_ + QStringLiteral(".corrupt-20260314-101502-2"));
  EXPECT_EQ(test_files::readAll(opened.movedTo), bytes);
  EXPECT_EQ(test_files::readAll(path_ + QStringLiteral(".corrupt-20260314-101502")), text);
  EXPECT_TRUE(store.resultsAfter(0, 10).empty());
  EXPECT_EQ(store.append(store_rows::Row(0)).id, 1);
  store.close();
  EXPECT_EQ(store.open(path_, kFoundUtcMs).status, OpenStatus::Opened);
  EXPECT_EQ(store.resultsAfter(0, 10).size(), 1u);
  store.close();
}

TEST_F(StoreFaultsTest, OldPagesAreCheckedWhenTheLastOwnerDidNotCloseTheFileOrWhenAsked) {
  // Three days, one result every 10 s; the first day's pages get damaged.
  std::vector<Result> rows;
  for (int i = 0; i < 3 * 8640; ++i) {
    rows.push_back(store_rows::Row(i));
    rows.back().utcMs = store_rows::kStartUtcMs + qint64(i) * 10000;
  }
  const QString unclean = path_ + QStringLiteral(".unclean"), clean = path_ + QStringLiteral(".clean");
  {
    ResultStore store;
    ASSERT_EQ(store.open(path_, kFoundUtcMs).status, OpenStatus::Opened);
    ASSERT_EQ(store.appendBatch(rows).state, AppendState::Committed);
    store.close();
    ASSERT_TRUE(QFile::copy(path_, clean));
    // A copy taken while an owner is writing is what a crash leaves behind.
    ASSERT_EQ(store.open(path_, kFoundUtcMs).status, OpenStatus::Opened);
    ASSERT_EQ(store.append(store_rows::Row(0)).state, AppendState::Committed);
    ASSERT_TRUE(QFile::copy(path_, unclean));
    ASSERT_TRUE(QFile::copy(path_ + QStringLiteral("-wal"), unclean + QStringLiteral("-wal")));
  }
  for (const QString& file : {clean, unclean}) {
    QByteArray bytes = test_files::readAll(file);
    ASSERT_GT(bytes.size(), 300 * 4096);
    // Pages among the results, past the schema and the small tables.
    bytes.replace(150 * 4096, 4 * 4096, QByteArray(4 * 4096, '\x5a'));
    ASSERT_TRUE(test_files::writeAll(file, bytes));
  }

  ResultStore store;
  auto opened = store.open(unclean, kFoundUtcMs);
  EXPECT_EQ(opened.status, OpenStatus::ReplacedCorrupt) << opened.detail.toStdString();
  store.close();
  // A file closed as it should be is not read whole at every start: the
  // damage waits for a whole check, which the caller can ask for.
  ASSERT_TRUE(QFile::copy(clean, clean + QStringLiteral(".2")));
  opened = store.open(clean, kFoundUtcMs);
  EXPECT_EQ(opened.status, OpenStatus::Opened) << opened.detail.toStdString();
  store.close();
  opened = store.open(clean + QStringLiteral(".2"), kFoundUtcMs, ResultStore::WhenLocked::Refuse,
                      ResultStore::Check::Everything);
  EXPECT_EQ(opened.status, OpenStatus::ReplacedCorrupt) << opened.detail.toStdString();
}

TEST_F(StoreFaultsTest, AnUnwritablePlaceGivesAStatusAndItsHistoryReadOnly) {
  auto expectCannotOpen = [](const QString& path, const char* what) {
    ResultStore store;
    const auto opened = store.open(path, kFoundUtcMs);
    EXPECT_EQ(opened.status, OpenStatus::CannotOpen) << what;
    EXPECT_FALSE(opened.detail.isEmpty()) << what;
    EXPECT_FALSE(store.isOpen()) << what;
    EXPECT_EQ(store.append(store_rows::Row(0)).state, AppendState::Rejected) << what;
    EXPECT_TRUE(store.results(0, std::numeric_limits<qint64>::max()).empty()) << what;
    EXPECT_FALSE(store.setCursor(QStringLiteral("mqtt"), 1)) << what;
  };
  // The program's directory replaced by a file, or gone.
  const QString blocker = QDir(dir_.path()).filePath(QStringLiteral("bin"));
  ASSERT_TRUE(test_files::writeAll(blocker, "x"));
  expectCannotOpen(blocker + QStringLiteral("/korvex.db"), "directory is a file");
  expectCannotOpen(QDir(dir_.path()).filePath(QStringLiteral("gone/korvex.db")), "no directory");

#ifdef Q_OS_UNIX
  // A directory that became read-only: its database can still be read, and
  // none can be made in it.
  const QString readOnly = QDir(dir_.path()).filePath(QStringLiteral("ro"));
  ASSERT_TRUE(QDir().mkdir(readOnly));
  const QString old = readOnly + QStringLiteral("/korvex.db");
  {
    ResultStore store;
    ASSERT_EQ(store.open(old, kFoundUtcMs).status, OpenStatus::Opened);
    ASSERT_EQ(store.append(store_rows::Row(0)).state, AppendState::Committed);
  }
  ReadOnlyDir guard(readOnly);
  if (!guard.made()) GTEST_SKIP() << "cannot make a read-only directory here";
  ResultStore store;
  const auto opened = store.open(old, kFoundUtcMs);
  EXPECT_EQ(opened.status, OpenStatus::OpenedReadOnly) << opened.detail.toStdString();
  EXPECT_EQ(store.resultsAfter(0, 10).size(), 1u);
  EXPECT_EQ(store.append(store_rows::Row(1)).state, AppendState::Rejected);
  expectCannotOpen(readOnly + QStringLiteral("/new.db"), "read-only directory");
#endif
}

TEST_F(StoreFaultsTest, ASecondInstanceGetsTheHistoryReadOnly) {
  ResultStore owner;
  ASSERT_EQ(owner.open(path_, store_rows::kStartUtcMs).status, OpenStatus::Opened);
  ASSERT_EQ(owner.append(store_rows::Row(0)).state, AppendState::Committed);

  ResultStore second;
  const auto opened = second.open(path_, store_rows::kStartUtcMs);
  ASSERT_EQ(opened.status, OpenStatus::OpenedReadOnly);
  EXPECT_TRUE(opened.detail.contains(QString::number(QCoreApplication::applicationPid())))
      << opened.detail.toStdString();
  EXPECT_FALSE(second.isWritable());
  EXPECT_EQ(second.append(store_rows::Row(1)).state, AppendState::Rejected);
  EXPECT_EQ(second.appendEvent(0, 0, EventKind::Alarm, QString()).state, AppendState::Rejected);
  EXPECT_FALSE(second.setCursor(QStringLiteral("mqtt"), 1));
  EXPECT_FALSE(second.markLogWritten(QDate(2026, 3, 1), 0));
  // It follows what the owner commits.
  ASSERT_EQ(owner.append(store_rows::Row(1)).state, AppendState::Committed);
  EXPECT_EQ(second.resultsAfter(0, 10).size(), 2u);
  EXPECT_EQ(second.daysWithResults(), (QVector<QDate>{QDate(2026, 3, 1)}));

  ResultStore refused;
  EXPECT_EQ(refused.open(path_, 0, ResultStore::WhenLocked::Refuse).status, OpenStatus::Locked);
  EXPECT_FALSE(refused.isOpen());

  // Once the owner has gone, the next one owns the file.
  owner.close();
  ResultStore next;
  ASSERT_EQ(next.open(path_, store_rows::kStartUtcMs).status, OpenStatus::Opened);
  EXPECT_EQ(next.append(store_rows::Row(2)).id, 3);
}

// 1 KB overwritten in the middle of a file that was closed as it should be:
// the start does not read every page, so the damage is met by a read. It
// says which results it could not get at, from which to which, and reads
// on past them, by time and by number alike; the observer hears of the
// span once.
TEST_F(StoreFaultsTest, DamageInTheMiddleIsNamedAndReadPast) {
  constexpr int kRows = 4 * 3600;
  std::vector<Result> rows;
  for (int i = 0; i < kRows; ++i) rows.push_back(store_rows::AnalyzerRow(i));
  {
    ResultStore store;
    ASSERT_EQ(store.open(path_, kFoundUtcMs).status, OpenStatus::Opened);
    ASSERT_EQ(store.appendBatch(rows).state, AppendState::Committed);
  }
  QByteArray bytes = test_files::readAll(path_);
  ASSERT_GT(bytes.size(), 100 * 4096);
  QByteArray junk(1024, '\0');
  for (int i = 0; i < junk.size(); ++i) junk[i] = char((i * 131 + 17) & 0xff);
  bytes.replace(bytes.size() / 2 / 4096 * 4096, junk.size(), junk);
  ASSERT_TRUE(test_files::writeAll(path_, bytes));

  ResultStore store;
  QVector<UnreadableSpan> heard;
  store.setDamageObserver([&heard](const UnreadableSpan& s) { heard.append(s); });
  const auto opened = store.open(path_, kFoundUtcMs);
  ASSERT_EQ(opened.status, OpenStatus::Opened) << opened.detail.toStdString();

  QVector<UnreadableSpan> unreadable;
  const auto got = store.results(rows.front().utcMs, rows.back().utcMs + 1, &unreadable);
  ASSERT_EQ(unreadable.size(), 1);
  const UnreadableSpan span = unreadable[0];
  ASSERT_GT(span.afterSeq, kRows / 4);
  ASSERT_LT(span.beforeSeq, kRows * 3 / 4);
  ASSERT_GT(span.beforeSeq, span.afterSeq + 1);
  EXPECT_EQ(span.afterUtcMs, rows[size_t(span.afterSeq - 1)].utcMs);
  EXPECT_EQ(span.beforeUtcMs, rows[size_t(span.beforeSeq - 1)].utcMs);
  EXPECT_TRUE(span.text().contains(QStringLiteral(u"после № %1").arg(span.afterSeq))) << span.text().toStdString();
  EXPECT_TRUE(span.text().contains(QStringLiteral(u"до № %1").arg(span.beforeSeq))) << span.text().toStdString();
  EXPECT_FALSE(span.error.isEmpty());
  // Everything else, bit for bit: a page of results at most is lost.
  ASSERT_EQ(qint64(got.size()), kRows - (span.beforeSeq - span.afterSeq - 1));
  EXPECT_GT(got.size(), size_t(kRows - 200));
  for (const StoredResult& s : got)
    ASSERT_EQ(store_rows::Difference(s.result, rows[size_t(s.seq - 1)]), "") << "result " << s.seq;
  EXPECT_TRUE(span.overlaps(span.afterUtcMs, span.afterUtcMs + 1));
  EXPECT_FALSE(span.overlaps(rows.front().utcMs, span.afterUtcMs - 1));

  // By number, as the forwarders read, and by day: the same span, heard once.
  QVector<UnreadableSpan> again;
  EXPECT_EQ(store.resultsAfter(0, kRows).size(), got.size());
  EXPECT_EQ(store.resultsOnDay(QDate(2026, 3, 1), &again).size(), got.size());
  EXPECT_EQ(again, unreadable);
  ASSERT_EQ(heard.size(), 1);
  EXPECT_EQ(heard[0], span);
  EXPECT_EQ(store.unreadableFound().size(), 1);
}

// After a crash the start does not wait for a check of every page: the
// check runs beside the owner, a stretch of results a step, and names what
// it cannot read while results go on being committed.
TEST_F(StoreFaultsTest, ACheckInStepsBesideTheOwnerFindsDamageTheStartDidNotRead) {
  constexpr int kRows = 4 * 3600;
  {
    ResultStore store;
    ASSERT_EQ(store.open(path_, kFoundUtcMs).status, OpenStatus::Opened);
    std::vector<Result> rows;
    for (int i = 0; i < kRows; ++i) rows.push_back(store_rows::AnalyzerRow(i));
    ASSERT_EQ(store.appendBatch(rows).state, AppendState::Committed);
  }
  QByteArray bytes = test_files::readAll(path_);
  bytes.replace(bytes.size() / 2 / 4096 * 4096, 1024, QByteArray(1024, '\x5a'));
  ASSERT_TRUE(test_files::writeAll(path_, bytes));

  ResultStore owner;
  ASSERT_EQ(owner.open(path_, kFoundUtcMs).status, OpenStatus::Opened);
  ResultStore check;
  QVector<UnreadableSpan> heard;
  check.setDamageObserver([&heard](const UnreadableSpan& s) { heard.append(s); });
  ASSERT_TRUE(check.openForCheck(path_).isOpen());
  int steps = 0;
  double progress = 0;
  while (check.checkStep(1000)) {
    ++steps;
    EXPECT_GE(check.checkProgress(), progress);
    progress = check.checkProgress();
    ASSERT_EQ(owner.append(store_rows::AnalyzerRow(kRows + steps)).state, AppendState::Committed);
  }
  EXPECT_GE(steps, kRows / 1000);
  EXPECT_EQ(check.checkProgress(), 1.0);
  ASSERT_EQ(heard.size(), 1);
  EXPECT_GT(heard[0].afterSeq, 0);
  EXPECT_GT(heard[0].beforeSeq, heard[0].afterSeq);
  EXPECT_TRUE(check.checkProblems().isEmpty()) << check.checkProblems().join(QLatin1Char('\n')).toStdString();
}

#ifdef Q_OS_UNIX
// A disk too full for the log's reserve: every commit used to add two pages
// to the log until the next checkpoint, and the log took the room freed.
// The log is now moved into the file and cut back every few commits, and
// the room left is there to tell.
TEST_F(StoreFaultsTest, ANearlyFullDiskKeepsTheLogSmallAndTellsTheRoomLeft) {
  struct Durable {
    Durable() { ResultStore::setDurableForTesting(true); }
    ~Durable() { ResultStore::setDurableForTesting(false); }
  };
  std::optional<Durable> durable(std::in_place);
  constexpr int kRows = 600;
  {
    // No file may grow past 1 MB: the reserve (4 MB) does not fit.
    FileSizeLimit full(1 << 20);
    ASSERT_TRUE(full.set());
    ResultStore store;
    ASSERT_EQ(store.open(path_, store_rows::kStartUtcMs).status, OpenStatus::Opened);
    EXPECT_TRUE(store.spaceShort());
    EXPECT_GT(store.bytesFree(), 0);
    qint64 largestLog = 0;
    for (int i = 0; i < kRows; ++i) {
      const auto out = store.append(store_rows::AnalyzerRow(i));
      ASSERT_EQ(out.state, AppendState::Committed) << "result " << i << ": " << out.error.toStdString();
      largestLog = std::max(largestLog, QFileInfo(path_ + QStringLiteral("-wal")).size());
    }
    EXPECT_LT(largestLog, 512 * 1024);
    bool told = false;
    for (const StoredEvent& e : store.eventsAfter(0, 10)) told = told || e.kind == EventKind::DiskSpaceLow;
    EXPECT_TRUE(told);
  }
  durable.reset();
  ResultStore store;
  ASSERT_EQ(store.open(path_, store_rows::kStartUtcMs).status, OpenStatus::Opened);
  EXPECT_FALSE(store.spaceShort());
  EXPECT_EQ(store.resultsAfter(0, kRows + 1).size(), size_t(kRows));
}
#endif

}  // namespace
