// A simulated week of continuous measurement at a one-second refresh, driven
// by the test clock: every result must land in exactly one daily log, the log
// of its own day, and the program's memory must not grow from day to day.

#include <gtest/gtest.h>

#include <QDir>
#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <algorithm>
#include <iostream>
#include <unistd.h>

#include "storage/settings_files.h"
#include "platform/text_codec.h"
#include "support/korvex_fixture.h"
#include "support/scripted_analyzer.h"
#include "data/results_log.h"
#include "view/trend_chart.h"

namespace {

long residentKiB() {
  QFile f(QStringLiteral("/proc/self/statm"));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QList<QByteArray> fields = f.readAll().split(' ');
  return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

class LongRunTest : public KorvexFixture {
 protected:
  // One tick against the scripted analyzer; returns the results it added.
  int step(ScriptedAnalyzer& analyzer) {
    arrive(analyzer.answer(serial_.lastWrite()));
    serial_.writes.clear();  // the test's own record of frames must not grow
    advance(1);
    const int before = chart()->pointCount();
    tick();
    const int after = chart()->pointCount();
    return after >= before ? after - before : after;  // a cleared chart starts again
  }
};

TEST_F(LongRunTest, AWeekAtOneSecondWritesSevenCompleteLogsWithFlatMemory) {
  const QDate first(2026, 12, 6);
  setNow(QDateTime(first, QTime(0, 0, 0)));
  writeDefaultSettings();
  startProgram();
  changeMeasuring([](MeasuringSettings& m) { m.refreshPeriod = 1; });
  ScriptedAnalyzer analyzer;

  // Start-up, then continuous measurement.
  int results = 0;
  for (int i = 0; i < 3; ++i) results += step(analyzer);
  ASSERT_EQ(poll().workMode(), WorkMode::Idle);
  window().onContinuousClicked();

  std::vector<long> memoryAtMidnight;
  QDate day = first;
  const QDateTime end(first.addDays(7), QTime(0, 0, 30));
  while (now() < end) {
    results += step(analyzer);
    if (now().time().second() == 0) QCoreApplication::processEvents();  // as the event loop would
    if (now().date() != day) {
      day = now().date();
      memoryAtMidnight.push_back(residentKiB());
    }
  }
  ASSERT_EQ(memoryAtMidnight.size(), 7u);
  EXPECT_TRUE(takeMessages().empty());

  // Seven logs, each holding the rows of its own day only, numbered from 0.
  int logged = 0;
  QSet<QString> stamps;
  for (int d = 0; d < 7; ++d) {
    const QDate date = first.addDays(d);
    const QString name = inDir(QStringLiteral("korvex-") + date.toString(QStringLiteral("yy-MM-dd")) +
                               QStringLiteral(".ask"));
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    const QStringList lines = cp1251::decode(f.readAll()).split(QStringLiteral("\r\n"));
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral(u"Номер\tДата\t")));
    EXPECT_TRUE(lines.last().isEmpty());  // the file ends with CR LF
    const QString dateText = date.toString(QStringLiteral("dd.MM.yyyy"));
    int rows = 0;
    for (int i = 1; i + 1 < lines.size(); ++i) {
      const QStringList cells = lines[i].split(QLatin1Char('\t'));
      ASSERT_EQ(cells.size(), 17);
      EXPECT_EQ(cells[0], QString::number(i - 1));
      EXPECT_EQ(cells[1], dateText) << name.toStdString() << " line " << i;
      EXPECT_FALSE(stamps.contains(cells[1] + cells[2])) << "duplicate " << cells[2].toStdString();
      stamps.insert(cells[1] + cells[2]);
      ++rows;
    }
    // A full day loses only the ticks of the hourly zero settings and purges.
    if (d > 0) {
      EXPECT_GT(rows, 86400 - 24 * 20);
    }
    std::cout << "log " << date.toString(Qt::ISODate).toStdString() << ": " << rows << " rows, memory at its end "
              << memoryAtMidnight[size_t(d)] / 1024 << " MiB\n";
    logged += rows;
  }
  const int inTable = window().results().count();
  EXPECT_EQ(logged + inTable, results);
  EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("*.ask")}).size(), 7);

  // Memory after the first full day stays where it was: a day's results are
  // about 20 MiB, so keeping even a part of each day would show here.
  const long day2 = memoryAtMidnight[1];
  const long peak = *std::max_element(memoryAtMidnight.begin() + 1, memoryAtMidnight.end());
  std::cout << "memory after day 2: " << day2 / 1024 << " MiB, highest after it: " << peak / 1024
            << " MiB, at the end: " << memoryAtMidnight.back() / 1024 << " MiB\n";
  EXPECT_LT(peak - day2, 24 * 1024);
}

}  // namespace
