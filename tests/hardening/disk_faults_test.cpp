// Midnights that find the disk full or the program's directory gone: the
// operator is told once, nothing measured is lost, and the first log that can
// be written holds every result of the days before it, each once.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>
#include <csignal>

#include "storage/settings_files.h"
#include "platform/text_codec.h"
#include "support/korvex_fixture.h"
#include "support/scripted_analyzer.h"
#include "data/results_log.h"
#include "view/trend_chart.h"

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

  // Ticks until the clock shows `until`, against the scripted analyzer.
  void runUntil(const QDateTime& until, ScriptedAnalyzer& analyzer) {
    while (now() < until) {
      arrive(analyzer.answer(serial_.lastWrite()));
      serial_.writes.clear();
      advance(1);
      tick();
    }
  }

  QStringList logLines(const QString& name) const {
    QFile f(QDir(dir_.path()).filePath(QStringLiteral("bin/") + name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = cp1251::decode(f.readAll()).split(QStringLiteral("\r\n"));
    lines.removeLast();  // after the last CR LF
    return lines;
  }
};

TEST_F(DiskFaultsTest, FailedMidnightsKeepEveryResultForTheFirstLogThatCanBeWritten) {
  const QDate first(2026, 12, 6);
  setNow(QDateTime(first, QTime(22, 0, 0)));
  writeDefaultSettings();
  startProgram();
  ASSERT_TRUE(messages_.empty());
  ScriptedAnalyzer analyzer;
  runUntil(now().addSecs(3), analyzer);
  window().onContinuousClicked();

  // Midnight 1: the disk is full.
  runUntil(QDateTime(first, QTime(23, 59, 59)), analyzer);
  const int dayOne = gridRows() - 1;
  ASSERT_GT(dayOne, 600);
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit full = old;
  full.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  runUntil(QDateTime(first.addDays(1), QTime(0, 0, 5)), analyzer);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);

  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, kWriteError);
  EXPECT_EQ(beeps_, 1);
  EXPECT_TRUE(logLines(QStringLiteral("korvex-26-12-06.ask")).isEmpty());
  EXPECT_GE(gridRows() - 1, dayOne);
  EXPECT_TRUE(results().unsaved());

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
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1].text, kWriteError);

  // Midnight 3: the disk is fine again.
  runUntil(QDateTime(first.addDays(3), QTime(0, 0, 5)), analyzer);
  EXPECT_EQ(messages_.size(), 2u);
  EXPECT_LT(gridRows(), 5);  // cleared by the log of midnight 3

  // The log written at midnight 3 carries the name of the day the last write
  // was tried on and every result of the three days, each once and in order.
  const QStringList lines = logLines(QStringLiteral("korvex-26-12-08.ask"));
  ASSERT_GT(lines.size(), 2);
  QSet<QString> stamps;
  QMap<QString, int> perDay;
  for (int i = 1; i < lines.size(); ++i) {
    const QStringList cells = lines[i].split(QLatin1Char('\t'));
    ASSERT_EQ(cells.size(), 17);
    EXPECT_EQ(cells[0], QString::number(i - 1));
    const QString stamp = cells[1] + QLatin1Char(' ') + cells[2];
    EXPECT_FALSE(stamps.contains(stamp)) << stamp.toStdString();
    stamps.insert(stamp);
    ++perDay[cells[1]];
  }
  EXPECT_GE(perDay.value(QStringLiteral("06.12.2026")), dayOne);
  EXPECT_GT(perDay.value(QStringLiteral("07.12.2026")), 8000);
  EXPECT_GT(perDay.value(QStringLiteral("08.12.2026")), 8000);
  EXPECT_EQ(QDir(QDir(dir_.path()).filePath(QStringLiteral("bin"))).entryList({QStringLiteral("*.ask")}).size(), 1);
}

}  // namespace
