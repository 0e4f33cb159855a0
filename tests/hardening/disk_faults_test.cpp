// Midnights that find the disk full or the program's directory gone: the
// operator is told, nothing measured is lost, and once the logs can be
// written each day has its own, with every result of that day once.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>

#include "storage/settings_files.h"
#include "platform/text_codec.h"
#include "support/korvex_fixture.h"
#include "support/scripted_analyzer.h"
#include "data/results_log.h"
#include "view/trend_chart.h"
#include "support/file_size_limit.h"

namespace {

const QString kWriteError =
    QStringLiteral(u"Ошибка записи данных!\r\nЗакройте лишние приложения или перезагрузите компьютер!");

class DiskFaultsTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    // The program lives in a directory of its own, which a test can take away.
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("bin")));
    exePath_ = QDir(dir_.path()).filePath(QStringLiteral("bin/korvex"));
    seams::setExecutablePath(exePath_);
  }

  // Ticks until the clock shows `until`, against the scripted analyzer; the
  // minute timer that retries missing logs fires as it would.
  void runUntil(const QDateTime& until, ScriptedAnalyzer& analyzer) {
    while (now() < until) {
      arrive(analyzer.answer(serial_.lastWrite()));
      serial_.writes.clear();
      advance(1);
      tick();
      if (now().time().second() == 0) session().retryTimer()->fire();
    }
  }

  // Notices of `text` so far, and no box: a failed log stops nothing.
  int messagesWith(const QString& text) const {
    EXPECT_TRUE(messages_.empty());
    int n = 0;
    for (const Notice& m : notices_) n += m.text == text;
    return n;
  }

  QStringList logLines(const QString& name) const {
    QFile f(QDir(dir_.path()).filePath(QStringLiteral("bin/") + name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = cp1251::decode(f.readAll()).split(QStringLiteral("\r\n"));
    lines.removeLast();  // after the last CR LF
    return lines;
  }
};

TEST_F(DiskFaultsTest, FailedMidnightsLoseNothingAndEachDayGetsItsOwnLogOnceItCanBeWritten) {
  const QDate first(2026, 12, 6);
  setNow(QDateTime(first, QTime(22, 0, 0)));
  writeDefaultSettings();
  startProgram();
  ASSERT_TRUE(messages_.empty());
  ASSERT_TRUE(notices_.empty());
  ScriptedAnalyzer analyzer;
  runUntil(now().addSecs(3), analyzer);
  window().onContinuousClicked();

  // Midnight 1: the disk is full for a few seconds.
  runUntil(QDateTime(first, QTime(23, 59, 59)), analyzer);
  const int dayOne = results().count();
  ASSERT_GT(dayOne, 600);
  {
    FileSizeLimit full(64);
    ASSERT_TRUE(full.set());
    runUntil(QDateTime(first.addDays(1), QTime(0, 0, 5)), analyzer);
  }

  EXPECT_EQ(messagesWith(kWriteError), 1);
  EXPECT_TRUE(logLines(QStringLiteral("korvex-26-12-06.ask")).isEmpty());
  EXPECT_LT(results().count(), 10);  // the new day began all the same
  // Space is back: the minute's retry writes the day's log.
  runUntil(QDateTime(first.addDays(1), QTime(0, 1, 5)), analyzer);
  EXPECT_FALSE(logLines(QStringLiteral("korvex-26-12-06.ask")).isEmpty());

  // Midnight 2: the program's directory is gone (a regular file in its place).
  runUntil(QDateTime(first.addDays(1), QTime(23, 59, 59)), analyzer);
  const QString binDir = QDir(dir_.path()).filePath(QStringLiteral("bin"));
  const QString parked = QDir(dir_.path()).filePath(QStringLiteral("bin-parked"));
  ASSERT_TRUE(QDir().rename(binDir, parked));
  {
    QFile blocker(binDir);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  }
  runUntil(QDateTime(first.addDays(2), QTime(0, 0, 5)), analyzer);
  ASSERT_TRUE(QFile::remove(binDir));
  ASSERT_TRUE(QDir().rename(parked, binDir));
  EXPECT_EQ(messagesWith(kWriteError), 2);

  // Midnight 3: the disk is fine again.
  runUntil(QDateTime(first.addDays(3), QTime(0, 0, 5)), analyzer);
  EXPECT_EQ(messagesWith(kWriteError), 2);

  // Three logs, each holding its own day's results once, in order, numbered from 0.
  int total = 0;
  for (int d = 0; d < 3; ++d) {
    const QDate date = first.addDays(d);
    const QStringList lines =
        logLines(QStringLiteral("korvex-") + date.toString(QStringLiteral("yy-MM-dd")) + QStringLiteral(".ask"));
    ASSERT_GT(lines.size(), 2) << date.toString(Qt::ISODate).toStdString();
    QSet<QString> stamps;
    for (int i = 1; i < lines.size(); ++i) {
      const QStringList cells = lines[i].split(QLatin1Char('\t'));
      ASSERT_EQ(cells.size(), 17);
      EXPECT_EQ(cells[0], QString::number(i - 1));
      EXPECT_EQ(cells[1], date.toString(QStringLiteral("dd.MM.yyyy")));
      EXPECT_FALSE(stamps.contains(cells[2])) << cells[2].toStdString();
      stamps.insert(cells[2]);
    }
    total += int(lines.size()) - 1;
  }
  EXPECT_EQ(total + results().count(), int(session().store().lastCommittedSeq()));
  EXPECT_EQ(session().store().pendingCount(), 0);
}

}  // namespace
