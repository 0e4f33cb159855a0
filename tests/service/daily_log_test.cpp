// The daily log: the first tick of a new day writes the day that ended to
// its log from the results database, and the table starts the day afresh.
// A log that cannot be written is told of once, as a notice that stops
// nothing, and written later under its own name.

#include <gtest/gtest.h>

#include <QDir>

#include "platform/timer.h"
#include "support/file_size_limit.h"
#include "support/session_fixture.h"
#include "support/test_files.h"

namespace {

using test_files::readAll;
using test_files::writeAll;

const QString kWriteError =
    QStringLiteral(u"Ошибка записи данных!\r\nЗакройте лишние приложения или перезагрузите компьютер!");

Measurement sample(double tg) {
  Measurement m;
  m[channel::Tg] = tg;
  m[channel::O2] = 6.1;
  return m;
}

class DailyLogTest : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    exePath_ = inDir(QStringLiteral("monitor"));
    seams::setExecutablePath(exePath_);
    startSessionWithDefaults();
  }
  using SessionFixture::addResult;
  void addResult(double tg) { addResult(sample(tg)); }

  QStringList logs() const {
    return QDir(dir_.path()).entryList({QStringLiteral("*.ask")}, QDir::Files, QDir::Name);
  }
  QList<QByteArray> logLines(const QString& name) const {
    QList<QByteArray> lines = readAll(inDir(name)).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
  }
  void tickAt(const QDateTime& at) {
    setNow(at);
    tick();
  }
};

const QDate kDay(2026, 12, 6);

TEST_F(DailyLogTest, TheFirstTickOfTheNextDayLogsTheDayThatEndedAndStartsAfresh) {
  tickAt(QDateTime(kDay, QTime(10, 0, 1)));
  addResult(185);
  addResult(186);
  tickAt(QDateTime(kDay, QTime(23, 59, 59)));
  EXPECT_TRUE(logs().isEmpty());

  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 0)));
  ASSERT_EQ(logs(), QStringList{QStringLiteral("monitor-26-12-06.ask")});
  const auto lines = logLines(QStringLiteral("monitor-26-12-06.ask"));
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith("\xCD\xEE\xEC\xE5\xF0\t"));
  EXPECT_TRUE(lines[1].startsWith("0\t06.12.2026\t10:00:01\t185\t"));
  EXPECT_TRUE(lines[2].startsWith("1\t06.12.2026\t10:00:01\t186\t"));
  for (const QByteArray& line : lines) {
    EXPECT_EQ(line.count('\t'), 16);
    EXPECT_TRUE(line.endsWith("\t\r"));
  }
  // The new day starts with an empty table and chart.
  EXPECT_EQ(gridRows(), 2);
  EXPECT_TRUE(results().isEmpty());
  EXPECT_EQ(cell(0, 0), QStringLiteral(u"Номер"));
  EXPECT_FALSE(results().unsaved());
  EXPECT_DOUBLE_EQ(poll().logDate(), seams::toDateTime(now()));
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_TRUE(takeNotices().empty());

  addResult(187);
  EXPECT_EQ(cell(0, 1), QStringLiteral("0"));
}

TEST_F(DailyLogTest, OneLogPerChangeOfDayAndNoneForAClockSetBack) {
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 2)));
  ASSERT_EQ(logs().size(), 1);
  // An empty table still gives the header and a line of 16 TABs.
  EXPECT_EQ(logLines(QStringLiteral("monitor-26-12-06.ask")).at(1), QByteArray(16, '\t') + "\r");

  addResult(185);
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 3)));
  tickAt(QDateTime(kDay.addDays(1), QTime(23, 0, 0)));
  tickAt(QDateTime(kDay.addDays(-1), QTime(12, 0, 0)));  // clock set back
  tickAt(QDateTime(kDay.addDays(1), QTime(23, 59, 59)));
  EXPECT_EQ(logs().size(), 1);
  EXPECT_EQ(results().count(), 1);

  tickAt(QDateTime(kDay.addDays(2), QTime(0, 0, 1)));
  EXPECT_EQ(logs(), (QStringList{QStringLiteral("monitor-26-12-06.ask"), QStringLiteral("monitor-26-12-07.ask")}));
  EXPECT_EQ(logLines(QStringLiteral("monitor-26-12-07.ask")).size(), 2);
  EXPECT_TRUE(logLines(QStringLiteral("monitor-26-12-07.ask")).at(1).startsWith("0\t07.12.2026\t"));
}

// After a long absence the missing logs of earlier days come one a poll
// tick, oldest first: the start and each tick stay short, however many
// there are.
TEST_F(DailyLogTest, EarlierDaysWithoutALogAreWrittenOneAPollTickOldestFirst) {
  stopProgram();
  {
    ResultStore store;
    ASSERT_TRUE(store.open(inDir(QStringLiteral("monitor.db")), 0, ResultStore::WhenLocked::Refuse).isWritable());
    std::vector<Result> rows;
    for (int back = 3; back >= 1; --back) {
      const QDateTime at(kDay.addDays(-back), QTime(12, 0, 0));
      Result r;
      r.utcMs = at.toMSecsSinceEpoch();
      r.utcOffset = at.offsetFromUtc();
      r.mode = WorkMode::Continuous;
      r.values[size_t(channel::Tg)] = 100 + back;
      rows.push_back(r);
    }
    ASSERT_EQ(store.appendBatch(rows).state, ResultStore::AppendState::Committed);
  }
  setNow(QDateTime(kDay, QTime(10, 0, 0)));
  startSession();
  EXPECT_TRUE(logs().isEmpty());

  tick();
  EXPECT_EQ(logs(), QStringList{QStringLiteral("monitor-26-12-03.ask")});
  EXPECT_TRUE(logLines(QStringLiteral("monitor-26-12-03.ask")).at(1).startsWith("0\t03.12.2026\t12:00:00\t103\t"));
  tick();
  tick();
  tick();
  EXPECT_EQ(logs(), (QStringList{QStringLiteral("monitor-26-12-03.ask"), QStringLiteral("monitor-26-12-04.ask"),
                                 QStringLiteral("monitor-26-12-05.ask")}));
  EXPECT_TRUE(logLines(QStringLiteral("monitor-26-12-05.ask")).at(1).startsWith("0\t05.12.2026\t12:00:00\t101\t"));
  EXPECT_EQ(events(EventKind::DailyLogWritten).size(), 3);
  EXPECT_TRUE(takeNotices().empty());
}

TEST_F(DailyLogTest, AnExistingLogOfThatNameIsReplaced) {
  ASSERT_TRUE(writeAll(inDir(QStringLiteral("monitor-26-12-06.ask")), QByteArray(5000, 'z')));
  addResult(185);
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  const QByteArray bytes = readAll(inDir(QStringLiteral("monitor-26-12-06.ask")));
  EXPECT_FALSE(bytes.contains('z'));
  EXPECT_EQ(bytes.count('\n'), 2);
}

TEST_F(DailyLogTest, ALogThatCannotBeWrittenIsRetriedUnderItsOwnNameAndTheDayStartsAfresh) {
  ASSERT_TRUE(writeAll(inDir(QStringLiteral("plain")), "a file, not a directory"));
  seams::setExecutablePath(inDir(QStringLiteral("plain/monitor")));
  addResult(185);
  addResult(186);
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  // Told as a notice that calls the operator; the poll cycle runs on.
  auto notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].topic, NoticeTopic::DataWrite);
  EXPECT_EQ(notices[0].text, kWriteError);
  EXPECT_TRUE(notices[0].beep);
  EXPECT_TRUE(pollTimer()->isEnabled());
  // The event log has the failure, once.
  EXPECT_EQ(events(EventKind::DailyLogFailed).size(), 1);
  // The table starts the new day as it would have; the day's rows are in the database.
  EXPECT_TRUE(results().isEmpty());
  EXPECT_FALSE(results().unsaved());
  EXPECT_EQ(session().store().resultsOnDay(kDay).size(), 2u);
  // Retried quietly, and without success while the place is unwritable.
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 2)));
  session().retryTimer()->fire();
  EXPECT_TRUE(takeNotices().empty());

  // Once it can be written, the log holds its own day, under its own name.
  seams::setExecutablePath(exePath_);
  addResult(187);
  session().retryTimer()->fire();
  ASSERT_EQ(logs(), QStringList{QStringLiteral("monitor-26-12-06.ask")});
  auto lines = logLines(QStringLiteral("monitor-26-12-06.ask"));
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[1].startsWith("0\t06.12.2026\t10:00:00\t185\t"));
  EXPECT_TRUE(lines[2].startsWith("1\t06.12.2026\t10:00:00\t186\t"));

  // Rows of two days never share a log.
  tickAt(QDateTime(kDay.addDays(2), QTime(0, 0, 1)));
  EXPECT_TRUE(takeNotices().empty());
  lines = logLines(QStringLiteral("monitor-26-12-07.ask"));
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[1].startsWith("0\t07.12.2026\t"));
}

TEST_F(DailyLogTest, AFullDiskAtMidnightKeepsTheResultsAndWritesTheLogWhenSpaceReturns) {
  for (int i = 0; i < 40; ++i) addResult(100 + i);
  {
    FileSizeLimit full(1000);
    ASSERT_TRUE(full.set());
    tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
    addResult(200);  // taken while the disk is full: waits in memory
  }

  // Both the log and the database are told of, once each.
  QStringList texts;
  for (const Notice& n : takeNotices()) texts << n.text;
  ASSERT_EQ(texts.size(), 2);
  EXPECT_TRUE(texts.contains(kWriteError));
  EXPECT_EQ(texts.filter(QStringLiteral(u"Ошибка записи в базу данных")).size(), 1);
  EXPECT_TRUE(logs().isEmpty());  // no cut log passed off as the day's
  EXPECT_EQ(results().count(), 1);

  session().retryTimer()->fire();
  ASSERT_EQ(logs(), QStringList{QStringLiteral("monitor-26-12-06.ask")});
  EXPECT_EQ(logLines(QStringLiteral("monitor-26-12-06.ask")).size(), 41);
  EXPECT_EQ(session().store().pendingCount(), 0);
  EXPECT_EQ(session().store().resultsOnDay(kDay.addDays(1)).size(), 1u);
}

}  // namespace
