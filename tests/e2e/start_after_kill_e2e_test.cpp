// Started and killed again and again, at each stage of its start: opening
// and reading the database, the page check a crash calls for, the port, the
// first requests, the first results. Every start runs until it is killed (an
// abort or a sanitizer's report ends it first and fails the test), and after
// the last one the database holds every result once, checks whole page by
// page, and its trail is whole.

#include <gtest/gtest.h>

#include <QProcess>
#include <set>

#include "data/result_store.h"
#include "e2e/sim_fixture.h"
#include "support/service_process.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif

namespace {

// Under the sanitizers every start is checked to the byte: there it runs the
// full fifty; the plain build runs a few as a quick guard.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kStarts = 50;
#else
constexpr int kStarts = 12;
#endif

const QRegularExpression kAnyLine(QStringLiteral("."));
const QRegularExpression kResultLine(QStringLiteral(u" Результат "));

class StartAfterKillE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
    startSimForResultsEverySecond();
  }

  // Two days of results before today's, so that a start has pages to read.
  void fillDatabase() {
    ResultStore store;
    ASSERT_TRUE(store.open(inDir(QStringLiteral("korvex.db")), 0).isWritable());
    const QDateTime from(QDate::currentDate().addDays(-2), QTime(0, 0));
    std::vector<Result> rows;
    for (int i = 0; i < 2 * 86400; ++i) {
      Result r;
      r.utcMs = from.toMSecsSinceEpoch() + qint64(i) * 1000;
      r.utcOffset = from.offsetFromUtc();
      r.mode = WorkMode::Continuous;
      r.values[channel::O2] = 3 + (i % 300) / 100.0;
      r.values[channel::Tg] = 150 + i % 40;
      rows.push_back(r);
    }
    ASSERT_EQ(store.appendBatch(rows).state, ResultStore::AppendState::Committed);
  }

  QStringList args() const { return {QStringLiteral("--dir"), dir_.path(), QStringLiteral("--verbose")}; }
};

TEST_F(StartAfterKillE2E, KilledAtEachStageOfItsStartItStartsWholeEveryTimeAndLosesNothing) {
  fillDatabase();
  for (int run = 0; run < kStarts; ++run) {
    ServiceProcess service{QStringLiteral(KORVEX_PROGRAM_PATH)};
    ASSERT_TRUE(service.start(args())) << run;
    // The stage: after the run's number of lines printed: the start, the
    // analyzer ready (the page check runs), the measurement begun; every
    // tenth run its first result as well.
    const int lines = run % 10 == 9 ? 4 : 1 + run % 3;
    const bool reached = service.waitForLines(kAnyLine, lines, 60000);
    ASSERT_TRUE(service.isRunning()) << "start " << run << " ended by itself:\n"
                                     << service.lines().join('\n').toStdString();
    ASSERT_TRUE(reached) << run << ":\n" << service.lines().join('\n').toStdString();
    service.kill();
    EXPECT_EQ(service.exitStatus(), QProcess::CrashExit) << run;
  }

  // The last start measures, and ends cleanly.
  ServiceProcess last{QStringLiteral(KORVEX_PROGRAM_PATH)};
  ASSERT_TRUE(last.start(args()));
  ASSERT_TRUE(last.waitForLines(kResultLine, 2)) << last.lines().join('\n').toStdString();
  ASSERT_TRUE(last.terminate());
  EXPECT_EQ(last.exitCode(), 0);

  ResultStore store;
  const ResultStore::OpenResult opened =
      store.open(inDir(QStringLiteral("korvex.db")), 0, ResultStore::WhenLocked::Refuse, ResultStore::Check::Everything);
  ASSERT_EQ(opened.status, ResultStore::OpenStatus::Opened) << opened.detail.toStdString();
  const std::vector<StoredResult> stored = store.results(0, std::numeric_limits<qint64>::max());
  ASSERT_GE(stored.size(), size_t(2 * 86400 + 2));
  std::set<qint64> times;
  for (size_t i = 1; i < stored.size(); ++i) ASSERT_GT(stored[i].seq, stored[i - 1].seq) << i;
  for (const StoredResult& r : stored) EXPECT_TRUE(times.insert(r.result.utcMs).second) << r.seq;
  store.close();

  QProcess verify;
  verify.start(QStringLiteral(KORVEX_PROGRAM_PATH), {QStringLiteral("--verify"), QStringLiteral("--dir"), dir_.path()});
  ASSERT_TRUE(verify.waitForFinished(120000));
  EXPECT_EQ(verify.exitCode(), 0) << verify.readAllStandardOutput().toStdString();
}

}  // namespace
