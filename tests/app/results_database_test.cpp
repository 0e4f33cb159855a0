// The results database as the operator meets it: today's results back after
// a restart, earlier days' logs written late under their own names, history
// shown while measurement goes on, and what is said when the database cannot
// be used as it should.

#include <gtest/gtest.h>

#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTableView>

#include "data/recovery_file.h"
#include "data/value_format.h"
#include "dialogs/history_dialog.h"
#include "storage/table_files.h"
#include "support/file_size_limit.h"
#include "support/korvex_fixture.h"
#include "support/test_files.h"

namespace {

const QDate kDay(2026, 12, 6);

Measurement reading(double o2) {
  Measurement m;
  m.values[channel::O2] = o2;
  return m;
}

class ResultsDatabaseTest : public KorvexFixture {
 protected:
  void restartAt(const QDateTime& at) {
    stopProgram();
    setNow(at);
    startProgram();
  }
  QStringList logs() const {
    return QDir(dir_.path()).entryList({QStringLiteral("*.ask")}, QDir::Files, QDir::Name);
  }
  int rowsIn(const QString& log) const {
    ResultsLog read;
    return loadTableFile(inDir(log), read).ok ? read.count() : -1;
  }
  // What the table on screen shows.
  int shownRows() const { return find<QTableView>("StringGrid1")->model()->rowCount(); }
  QString shownO2(int row) const {
    return find<QTableView>("StringGrid1")->model()->index(row, kFirstValueColumn + channel::O2).data().toString();
  }
};

TEST_F(ResultsDatabaseTest, RestartBringsTodayBackUnsavedAndWritesAMissedDaysLogUnderItsOwnDate) {
  setNow(QDateTime(kDay, QTime(22, 0)));
  startWithDefaults();
  for (int i = 0; i < 3; ++i) addResult(reading(3 + i), i);
  // Closed before midnight without saving, started again the next morning.
  restartAt(QDateTime(kDay.addDays(1), QTime(8, 0)));
  EXPECT_TRUE(takeMessages().empty());
  // The missed day's log comes with the first poll tick, not before it.
  EXPECT_TRUE(logs().isEmpty());
  tick();
  EXPECT_EQ(logs(), QStringList{QStringLiteral("korvex-26-12-06.ask")});
  EXPECT_EQ(rowsIn(QStringLiteral("korvex-26-12-06.ask")), 3);
  EXPECT_EQ(results().count(), 0);  // that day is not today

  for (int i = 0; i < 4; ++i) addResult(reading(5 + i), i);
  restartAt(QDateTime(kDay.addDays(1), QTime(9, 0)));
  ASSERT_EQ(results().count(), 4);
  EXPECT_TRUE(results().unsaved());
  EXPECT_EQ(cell(4, 4), QStringLiteral("8"));
  EXPECT_EQ(chart()->series(channel::O2)->pointCount(), 4);
  EXPECT_EQ(logs().size(), 1);  // today's log is written at midnight, not before

  // That midnight the log holds the four once, whatever the restarts.
  setNow(QDateTime(kDay.addDays(2), QTime(0, 0, 1)));
  tick();
  EXPECT_EQ(rowsIn(QStringLiteral("korvex-26-12-07.ask")), 4);
}

TEST_F(ResultsDatabaseTest, HistoryShowsARangeWhileMeasurementGoesOnAndOneCommandReturnsToIt) {
  setNow(QDateTime(kDay.addDays(-2), QTime(12, 0)));
  startWithDefaults();
  addResult(reading(1));
  setNow(QDateTime(kDay.addDays(-1), QTime(12, 0)));
  tick();
  addResult(reading(2));
  addResult(reading(2.5), 1);
  setNow(QDateTime(kDay, QTime(12, 0)));
  tick();
  addResult(reading(3));

  showHistory(kDay.addDays(-2), kDay.addDays(-1));
  auto* banner = find<QLabel>("LabelHistory");
  EXPECT_TRUE(banner->isVisibleTo(&window()));
  // Nothing measures meanwhile: the banner does not say it does.
  EXPECT_EQ(banner->text(), QStringLiteral(u"ИСТОРИЯ 04.12.2026 – 05.12.2026: 3 результата. "
                                           u"«Файл → Текущие результаты» возвращает к текущим результатам."));
  ASSERT_EQ(shownRows(), 3);
  EXPECT_EQ(shownO2(2), QStringLiteral("2,5"));
  EXPECT_EQ(chart()->series(channel::O2)->pointCount(), 3);

  // A result taken meanwhile goes into the live results, not into history.
  addResult(reading(4), 5);
  EXPECT_EQ(shownRows(), 3);
  EXPECT_EQ(results().count(), 2);

  find<QAction>("LiveAction")->trigger();
  EXPECT_FALSE(banner->isVisibleTo(&window()));
  EXPECT_FALSE(find<QAction>("LiveAction")->isEnabled());
  ASSERT_EQ(shownRows(), 2);
  EXPECT_EQ(shownO2(1), QStringLiteral("4"));
  EXPECT_EQ(chart()->series(channel::O2)->pointCount(), 2);
  EXPECT_TRUE(takeMessages().empty());
}

TEST_F(ResultsDatabaseTest, TheHistoryBannerSaysMeasuringGoesOnOnlyWhileItDoes) {
  setNow(QDateTime(kDay, QTime(12, 0)));
  startWithDefaults();
  addResult(reading(1));
  showHistory(kDay, kDay);
  auto* banner = find<QLabel>("LabelHistory");
  EXPECT_EQ(banner->text(), QStringLiteral(u"ИСТОРИЯ 06.12.2026: 1 результат. "
                                           u"«Файл → Текущие результаты» возвращает к текущим результатам."));
  // Continuous measurement starts while history is shown.
  tick();
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  window().onContinuousClicked();
  tickWith(statusReply(1, 0));
  ASSERT_EQ(poll().workMode(), WorkMode::Continuous);
  EXPECT_EQ(banner->text(), QStringLiteral(u"ИСТОРИЯ 06.12.2026: 1 результат. Измерение продолжается; "
                                           u"«Файл → Текущие результаты» возвращает к нему."));
}

TEST_F(ResultsDatabaseTest, ASecondInstanceGetsHistoryOnlyAndSaysSo) {
  setNow(QDateTime(kDay, QTime(12, 0)));
  writeDefaultSettings();
  ResultStore first;
  ASSERT_EQ(first.open(inDir(QStringLiteral("korvex.db")), 0).status, ResultStore::OpenStatus::Opened);
  startProgram();
  const auto messages = takeNotices();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral(u"База данных результатов доступна только для чтения")));
  // Its reason is a sentence of its own, ended before the next.
  EXPECT_TRUE(messages[0].text.contains(QStringLiteral(u"; только просмотр истории.\r\nРезультаты этого сеанса")))
      << messages[0].text.toStdString();
  // Results are still taken and shown, and written to the daily log at midnight.
  addResult(reading(3));
  EXPECT_EQ(results().count(), 1);
  EXPECT_EQ(first.lastCommittedSeq(), 0);
  setNow(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  tick();
  EXPECT_EQ(rowsIn(QStringLiteral("korvex-26-12-06.ask")), 1);
}

TEST_F(ResultsDatabaseTest, ADamagedDatabaseIsMovedAsideUnderADatedNameAndANewOneBegun) {
  setNow(QDateTime(kDay, QTime(12, 0)));
  writeDefaultSettings();
  ASSERT_TRUE(test_files::writeAll(inDir(QStringLiteral("korvex.db")), QByteArray(8192, 'x')));
  startProgram();
  const auto messages = takeNotices();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral(u"База данных результатов была повреждена")));
  // Logged too, in the new database.
  EXPECT_EQ(events(EventKind::DatabaseProblem).size(), 1);
  QStringList aside = QDir(dir_.path()).entryList({QStringLiteral("korvex.db.*")}, QDir::Files);
  aside.removeAll(QStringLiteral("korvex.db.lock"));
  ASSERT_EQ(aside.size(), 1);
  EXPECT_TRUE(messages[0].text.contains(aside[0]));
  EXPECT_EQ(test_files::readAll(inDir(aside[0])), QByteArray(8192, 'x'));
  addResult(reading(3));
  EXPECT_EQ(session().store().lastCommittedSeq(), 1);
}

TEST_F(ResultsDatabaseTest, AFullDiskIsToldOnceAndTheResultsWaitingAreCommittedWhenSpaceReturns) {
  setNow(QDateTime(kDay, QTime(12, 0)));
  startWithDefaults();
  addResult(reading(1));
  {
    FileSizeLimit full(QFileInfo(inDir(QStringLiteral("korvex.db-wal"))).size());
    ASSERT_TRUE(full.set());
    for (int i = 1; i <= 3; ++i) addResult(reading(1 + i), i);
  }
  // A notice, not a box: the cycle never stopped for it.
  EXPECT_TRUE(takeMessages().empty());
  const auto messages = takeNotices();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral(u"Ошибка записи в базу данных результатов")));
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_EQ(results().count(), 4);  // shown all the same
  // The three results wait in memory, and the event of the notice with them.
  EXPECT_EQ(session().store().pendingCount(), 4);

  addResult(reading(5), 10);
  EXPECT_EQ(session().store().pendingCount(), 0);
  EXPECT_EQ(session().store().lastCommittedSeq(), 5);
  EXPECT_TRUE(takeNotices().empty());
  restartAt(QDateTime(kDay, QTime(13, 0)));
  ASSERT_EQ(results().count(), 5);
  for (int row = 0; row < 5; ++row) EXPECT_EQ(results().value(row, channel::O2), 1 + row) << row;
}

// Closing while the disk is full: the box says how many results the
// database has not taken. Answered No, they are not thrown away: they are
// kept in a file beside the database, and the next start puts them in.
TEST_F(ResultsDatabaseTest, ClosingWithResultsTheDiskDidNotTakeKeepsThemForTheNextStart) {
  setNow(QDateTime(kDay, QTime(12, 0)));
  startWithDefaults();
  addResult(reading(1));
  const QString kept = inDir(QStringLiteral("korvex.db-recovery"));
  {
    FileSizeLimit full(QFileInfo(inDir(QStringLiteral("korvex.db-wal"))).size());
    ASSERT_TRUE(full.set());
    for (int i = 1; i <= 3; ++i) addResult(reading(1 + i), i);
    takeNotices();
    answers_ = {seams::MsgResult::Yes, seams::MsgResult::No};
    ASSERT_TRUE(window().close());
    const auto messages = takeMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].text.startsWith(QStringLiteral(u"Результаты не записаны в базу данных: 3."))) 
        << messages[1].text.toStdString();
    EXPECT_TRUE(fileDialogs_.empty());  // No: no save
    stopProgram();
  }
  ASSERT_TRUE(QFileInfo::exists(kept));

  setNow(QDateTime(kDay, QTime(13, 0)));
  startProgram();
  EXPECT_FALSE(QFileInfo::exists(kept));
  ASSERT_EQ(results().count(), 4);
  for (int row = 0; row < 4; ++row) EXPECT_EQ(results().value(row, channel::O2), 1 + row) << row;
  EXPECT_EQ(session().store().lastCommittedSeq(), 4);
  const QVector<StoredEvent> taken = events(EventKind::ResultsRecovered);
  ASSERT_EQ(taken.size(), 1);
  EXPECT_TRUE(taken[0].text.contains(QStringLiteral(u"при прошлой работе: 3"))) << taken[0].text.toStdString();
  // The notice of the failing writes waited with them, and is in as well.
  EXPECT_EQ(events(EventKind::DatabaseProblem).size(), 1);
}

// A recovery file that is not whole is not taken in and is left for someone
// to look at; the start goes on.
TEST_F(ResultsDatabaseTest, ARecoveryFileThatIsNotWholeIsLeftAsItIsAndSaidSo) {
  const QString kept = inDir(QStringLiteral("korvex.db-recovery"));
  recovery::Content content;
  Result r;
  r.utcMs = QDateTime(kDay, QTime(11, 0)).toMSecsSinceEpoch();
  content.results.push_back(r);
  QString error;
  ASSERT_TRUE(recovery::write(kept, content, &error)) << error.toStdString();
  QByteArray bytes = test_files::readAll(kept);
  bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x01);
  ASSERT_TRUE(test_files::writeAll(kept, bytes));
  setNow(QDateTime(kDay, QTime(12, 0)));
  writeDefaultSettings();
  startProgram();
  EXPECT_TRUE(QFileInfo::exists(kept));
  EXPECT_EQ(results().count(), 0);
  const auto notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(notices[0].text.contains(QStringLiteral(u"файл повреждён"))) << notices[0].text.toStdString();
}

// 1 KB overwritten in the middle of the file: the start reads yesterday's
// results for its averages and meets the damage. The operator is told which
// results cannot be read, once, the event log keeps it, and the history
// shows every result around them.
TEST_F(ResultsDatabaseTest, DamageMetByAReadIsToldOnceAndTheHistoryShowsEverythingAroundIt) {
  const QDate yesterday = kDay.addDays(-1);
  constexpr int kRows = 4 * 3600;
  {
    ResultStore store;
    ASSERT_TRUE(store.open(inDir(QStringLiteral("korvex.db")), 0).isWritable());
    std::vector<Result> rows;
    const QDateTime first(yesterday, QTime(8, 0));
    for (int i = 0; i < kRows; ++i) {
      Result r;
      r.utcMs = first.toMSecsSinceEpoch() + qint64(i) * 1000;
      r.utcOffset = first.offsetFromUtc();
      r.mode = WorkMode::Continuous;
      r.values[channel::Tg] = 150 + i % 50;
      r.values[channel::O2] = (500 + i % 300) / 100.0;
      r.values[channel::CO] = i % 400;
      rows.push_back(r);
    }
    ASSERT_EQ(store.appendBatch(rows).state, ResultStore::AppendState::Committed);
  }
  QByteArray bytes = test_files::readAll(inDir(QStringLiteral("korvex.db")));
  bytes.replace(bytes.size() / 2 / 4096 * 4096, 1024, QByteArray(1024, '\x5a'));
  ASSERT_TRUE(test_files::writeAll(inDir(QStringLiteral("korvex.db")), bytes));

  setNow(QDateTime(kDay, QTime(12, 0)));
  writeDefaultSettings();
  startProgram();
  QCoreApplication::processEvents();
  EXPECT_TRUE(takeMessages().empty()) << "a notice, not a box";
  auto notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(notices[0].text.startsWith(QStringLiteral(u"База данных результатов повреждена: не читаются результаты после № ")))
      << notices[0].text.toStdString();
  ASSERT_EQ(events(EventKind::StoreDamaged).size(), 1);

  showHistory(yesterday, yesterday);
  QCoreApplication::processEvents();
  EXPECT_GT(shownRows(), kRows - 200);
  EXPECT_LT(shownRows(), kRows);
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_TRUE(takeNotices().empty()) << "told once";
  EXPECT_EQ(events(EventKind::StoreDamaged).size(), 1);
}

#ifdef Q_OS_UNIX
// A disk too full for the database log's reserve: the status line says how
// much room is left, and results go on being committed.
TEST_F(ResultsDatabaseTest, ADiskTooFullForTheLogsReserveShowsTheRoomLeftInTheStatusLine) {
  struct Durable {
    Durable() { ResultStore::setDurableForTesting(true); }
    ~Durable() { ResultStore::setDurableForTesting(false); }
  } durable;
  setNow(QDateTime(kDay, QTime(12, 0)));
  writeDefaultSettings();
  FileSizeLimit full(1 << 20);
  ASSERT_TRUE(full.set());
  startProgram();
  addResult(reading(3));
  const QLabel* line = find<QLabel>("LabelPublishing");
  EXPECT_TRUE(line->isVisibleTo(&window()));
  EXPECT_TRUE(line->text().startsWith(QStringLiteral(u"Мало места на диске: свободно "))) << line->text().toStdString();
  EXPECT_EQ(session().store().lastCommittedSeq(), 1);
  EXPECT_EQ(events(EventKind::DiskSpaceLow).size(), 1);
}
#endif

}  // namespace
