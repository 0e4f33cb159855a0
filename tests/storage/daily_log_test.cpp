// The daily log: the first tick of a new day writes the table to the log of
// the day that ended and starts the day afresh.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <csignal>

#include "app/message_timer.h"
#include "storage_support.h"

namespace {

using namespace storage_test;

class DailyLogTest : public StorageFixture {
 protected:
  DailyLogTest() { exeName_ = QStringLiteral("monitor"); }

  QStringList Logs() const {
    return QDir(dir_.path()).entryList({QStringLiteral("*.ask")}, QDir::Files, QDir::Name);
  }
  QList<QByteArray> LogLines(const QString& name) const {
    QList<QByteArray> lines = ReadAll(InDir(name)).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
  }
  void TickAt(const QDateTime& at) {
    SetNow(at);
    Tick();
  }
};

const QDate kDay(2026, 12, 6);

TEST_F(DailyLogTest, TheFirstTickOfTheNextDayLogsTheDayThatEndedAndStartsAfresh) {
  TickAt(QDateTime(kDay, QTime(10, 0, 1)));
  AddResult(185);
  AddResult(186);
  TickAt(QDateTime(kDay, QTime(23, 59, 59)));
  EXPECT_TRUE(Logs().isEmpty());

  TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 0)));
  ASSERT_EQ(Logs(), QStringList{QStringLiteral("monitor-26-12-06.ask")});
  const auto lines = LogLines(QStringLiteral("monitor-26-12-06.ask"));
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[0].startsWith("\xCD\xEE\xEC\xE5\xF0\t"));
  EXPECT_TRUE(lines[1].startsWith("0\t06.12.2026\t10:00:01\t185\t"));
  EXPECT_TRUE(lines[2].startsWith("1\t06.12.2026\t10:00:01\t186\t"));
  for (const QByteArray& line : lines) {
    EXPECT_EQ(line.count('\t'), 16);
    EXPECT_TRUE(line.endsWith("\t\r"));
  }
  // The new day starts with an empty table and chart.
  EXPECT_EQ(Form1->Grid->RowCount(), 2);
  EXPECT_TRUE(Form1->Grid->RowText(1).empty());
  EXPECT_EQ(Form1->Grid->Cells(0, 0), QStringLiteral(u"Номер"));
  EXPECT_EQ(Form1->Chart1->PointCount(), 0);
  EXPECT_FALSE(Form1->DataNotSaved);
  EXPECT_DOUBLE_EQ(+DeviceRecord.LogDate, seams::ToDateTime(Now()));
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_TRUE(TakeMessages().empty());

  AddResult(187);
  EXPECT_EQ(Form1->Grid->Cells(0, 1), QStringLiteral("0"));
}

TEST_F(DailyLogTest, OneLogPerChangeOfDayAndNoneForAClockSetBack) {
  TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 2)));
  ASSERT_EQ(Logs().size(), 1);
  // An empty table still gives the header and a line of 16 TABs.
  EXPECT_EQ(LogLines(QStringLiteral("monitor-26-12-06.ask")).at(1), QByteArray(16, '\t') + "\r");

  AddResult(185);
  TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 3)));
  TickAt(QDateTime(kDay.addDays(1), QTime(23, 0, 0)));
  TickAt(QDateTime(kDay.addDays(-1), QTime(12, 0, 0)));  // clock set back
  TickAt(QDateTime(kDay.addDays(1), QTime(23, 59, 59)));
  EXPECT_EQ(Logs().size(), 1);
  EXPECT_EQ(Form1->Chart1->PointCount(), 1);

  TickAt(QDateTime(kDay.addDays(2), QTime(0, 0, 1)));
  EXPECT_EQ(Logs(), (QStringList{QStringLiteral("monitor-26-12-06.ask"), QStringLiteral("monitor-26-12-07.ask")}));
  EXPECT_EQ(LogLines(QStringLiteral("monitor-26-12-07.ask")).size(), 2);
  EXPECT_TRUE(LogLines(QStringLiteral("monitor-26-12-07.ask")).at(1).startsWith("0\t07.12.2026\t"));
}

TEST_F(DailyLogTest, AnExistingLogOfThatNameIsReplaced) {
  ASSERT_TRUE(WriteAll(InDir(QStringLiteral("monitor-26-12-06.ask")), QByteArray(5000, 'z')));
  AddResult(185);
  TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  const QByteArray bytes = ReadAll(InDir(QStringLiteral("monitor-26-12-06.ask")));
  EXPECT_FALSE(bytes.contains('z'));
  EXPECT_EQ(bytes.count('\n'), 2);
}

TEST_F(DailyLogTest, ALogThatCannotBeWrittenKeepsTheResultsForTheNextLog) {
  ASSERT_TRUE(WriteAll(InDir(QStringLiteral("plain")), "a file, not a directory"));
  seams::SetExecutablePath(InDir(QStringLiteral("plain/monitor")));
  AddResult(185);
  AddResult(186);
  TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
  EXPECT_EQ(messages[0].text, kWriteError);
  EXPECT_EQ(beeps_, 1);
  EXPECT_FALSE(messages[0].timer1Enabled);
  EXPECT_TRUE(Form1->Timer1->Enabled());
  // Nothing is lost: the results stay and are still unsaved.
  EXPECT_EQ(Form1->Grid->RowCount(), 3);
  EXPECT_EQ(Form1->Chart1->PointCount(), 2);
  EXPECT_TRUE(Form1->DataNotSaved);
  // The failed write is not repeated tick after tick.
  TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 2)));
  TickAt(QDateTime(kDay.addDays(1), QTime(12, 0, 0)));
  EXPECT_TRUE(TakeMessages().empty());

  // The next day's log holds both days, each row once, under the day it closes.
  seams::SetExecutablePath(exePath_);
  AddResult(187);
  TickAt(QDateTime(kDay.addDays(2), QTime(0, 0, 1)));
  EXPECT_TRUE(TakeMessages().empty());
  ASSERT_EQ(Logs(), QStringList{QStringLiteral("monitor-26-12-07.ask")});
  const auto lines = LogLines(QStringLiteral("monitor-26-12-07.ask"));
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[1].startsWith("0\t06.12.2026\t"));
  EXPECT_TRUE(lines[2].startsWith("1\t06.12.2026\t"));
  EXPECT_TRUE(lines[3].startsWith("2\t07.12.2026\t"));
  EXPECT_FALSE(Form1->DataNotSaved);
  EXPECT_EQ(Form1->Chart1->PointCount(), 0);
}

TEST_F(DailyLogTest, AFullDiskAtMidnightKeepsTheResults) {
  for (int i = 0; i < 40; ++i) AddResult(100 + i);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  TickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, kWriteError);
  EXPECT_TRUE(Logs().isEmpty());  // no cut log passed off as the day's
  EXPECT_EQ(Form1->Chart1->PointCount(), 40);
  EXPECT_TRUE(Form1->DataNotSaved);
}

}  // namespace
