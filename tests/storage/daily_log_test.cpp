// The daily log: the first tick of a new day writes the table to the log of
// the day that ended and starts the day afresh.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <csignal>

#include "platform/timer.h"
#include "storage_support.h"

namespace {

using namespace storage_test;

class DailyLogTest : public StorageFixture {
 protected:
  DailyLogTest() { exeName_ = QStringLiteral("monitor"); }

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
  EXPECT_EQ(chart()->pointCount(), 0);
  EXPECT_FALSE(results().unsaved());
  EXPECT_DOUBLE_EQ(poll().logDate(), seams::toDateTime(now()));
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_TRUE(takeMessages().empty());

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
  EXPECT_EQ(chart()->pointCount(), 1);

  tickAt(QDateTime(kDay.addDays(2), QTime(0, 0, 1)));
  EXPECT_EQ(logs(), (QStringList{QStringLiteral("monitor-26-12-06.ask"), QStringLiteral("monitor-26-12-07.ask")}));
  EXPECT_EQ(logLines(QStringLiteral("monitor-26-12-07.ask")).size(), 2);
  EXPECT_TRUE(logLines(QStringLiteral("monitor-26-12-07.ask")).at(1).startsWith("0\t07.12.2026\t"));
}

TEST_F(DailyLogTest, AnExistingLogOfThatNameIsReplaced) {
  ASSERT_TRUE(writeAll(inDir(QStringLiteral("monitor-26-12-06.ask")), QByteArray(5000, 'z')));
  addResult(185);
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  const QByteArray bytes = readAll(inDir(QStringLiteral("monitor-26-12-06.ask")));
  EXPECT_FALSE(bytes.contains('z'));
  EXPECT_EQ(bytes.count('\n'), 2);
}

TEST_F(DailyLogTest, ALogThatCannotBeWrittenKeepsTheResultsForTheNextLog) {
  ASSERT_TRUE(writeAll(inDir(QStringLiteral("plain")), "a file, not a directory"));
  seams::setExecutablePath(inDir(QStringLiteral("plain/monitor")));
  addResult(185);
  addResult(186);
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
  EXPECT_EQ(messages[0].text, kWriteError);
  EXPECT_EQ(beeps_, 1);
  EXPECT_FALSE(messages[0].pollTimerOn);
  EXPECT_TRUE(pollTimer()->isEnabled());
  // Nothing is lost: the results stay and are still unsaved.
  EXPECT_EQ(gridRows(), 3);
  EXPECT_EQ(chart()->pointCount(), 2);
  EXPECT_TRUE(results().unsaved());
  // The failed write is not repeated tick after tick.
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 2)));
  tickAt(QDateTime(kDay.addDays(1), QTime(12, 0, 0)));
  EXPECT_TRUE(takeMessages().empty());

  // The next day's log holds both days, each row once, under the day it closes.
  seams::setExecutablePath(exePath_);
  addResult(187);
  tickAt(QDateTime(kDay.addDays(2), QTime(0, 0, 1)));
  EXPECT_TRUE(takeMessages().empty());
  ASSERT_EQ(logs(), QStringList{QStringLiteral("monitor-26-12-07.ask")});
  const auto lines = logLines(QStringLiteral("monitor-26-12-07.ask"));
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[1].startsWith("0\t06.12.2026\t"));
  EXPECT_TRUE(lines[2].startsWith("1\t06.12.2026\t"));
  EXPECT_TRUE(lines[3].startsWith("2\t07.12.2026\t"));
  EXPECT_FALSE(results().unsaved());
  EXPECT_EQ(chart()->pointCount(), 0);
}

TEST_F(DailyLogTest, AFullDiskAtMidnightKeepsTheResults) {
  for (int i = 0; i < 40; ++i) addResult(100 + i);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, kWriteError);
  EXPECT_TRUE(logs().isEmpty());  // no cut log passed off as the day's
  EXPECT_EQ(chart()->pointCount(), 40);
  EXPECT_TRUE(results().unsaved());
}

}  // namespace
