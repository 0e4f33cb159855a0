// Back to measuring at once after any end: the start takes the analyzer's
// answers as they come instead of a period apart, and after a crash the
// database's older pages are checked beside the measuring, in steps, which
// tells only what it finds.

#include <QSignalSpy>

#include "data/store_rows.h"
#include "e2e/sim_fixture.h"
#include "support/test_files.h"

namespace {

class CrashStartE2E : public SimFixture {
 protected:
  void TearDown() override {
    SimFixture::TearDown();  // the program goes before the timers turn manual again
    realTimers_.reset();
  }

  // A database of four hours of results, closed; `damaged`: 1 KB in the
  // middle of the file overwritten, where only a read of every page finds it.
  void writeDatabase(bool damaged) {
    const QString path = inDir(QStringLiteral("korvex.db"));
    {
      ResultStore store;
      ASSERT_TRUE(store.open(path, store_rows::kStartUtcMs).isWritable());
      std::vector<Result> rows;
      for (int i = 0; i < 4 * 3600; ++i) rows.push_back(store_rows::AnalyzerRow(i));
      ASSERT_EQ(store.appendBatch(rows).state, ResultStore::AppendState::Committed);
    }
    if (!damaged) return;
    QByteArray bytes = test_files::readAll(path);
    bytes.replace(bytes.size() / 2 / 4096 * 4096, 1024, QByteArray(1024, '\x5a'));
    ASSERT_TRUE(test_files::writeAll(path, bytes));
  }

  // The log a crash leaves beside the file: its last owner did not close it.
  void leaveLogAsACrashDoes() { ASSERT_TRUE(test_files::writeAll(inDir(QStringLiteral("korvex.db-wal")), {})); }

  // The program against the simulator with a poll period far longer than
  // the test: whatever reaches the analyzer comes from the start's own ticks.
  void startWithALongPeriod() {
    startSim({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--min-replies"), QStringLiteral("1")});
    writeDefaultSettings(sim_->portPath());
    hostOptions_.pollIntervalMs = 3600 * 1000;
    startSession();
  }

  std::unique_ptr<RealTimers> realTimers_ = std::make_unique<RealTimers>();
};

TEST_F(CrashStartE2E, TheStartTakesTheAnswersAsTheyComeAndShowsTheReadyAnalyzerWithoutWaitingForThePeriod) {
  startWithALongPeriod();
  QSignalSpy captions(&session(), &Session::captionChanged);
  QSignalSpy ready(&session(), &Session::analyzerReady);
  ASSERT_TRUE(SimProcess::waitFor([&] { return !captions.isEmpty(); }, 20000))
      << "the start waited for the period";
  EXPECT_EQ(ready.size(), 1);
  EXPECT_TRUE(captions.last().at(0).toString().contains(QStringLiteral(u"обслуживание")))
      << captions.last().at(0).toString().toStdString();
  EXPECT_EQ(poll().analyzerState(), AnalyzerState::Idle);
  // The quick ticks are the start's only: after them the period rules.
  EXPECT_FALSE(session().quickTimer()->isEnabled());
}

TEST_F(CrashStartE2E, AfterACrashMeasuringStartsAndTheDamageInOlderPagesIsFoundBesideIt) {
  writeDatabase(true);
  leaveLogAsACrashDoes();
  startWithALongPeriod();
  // The start did not read every page: the database is in use as it was.
  ASSERT_TRUE(session().store().isWritable());
  EXPECT_TRUE(takeNotices().empty());
  QSignalSpy done(&session().pageCheck(), &PageCheck::finished);
  ASSERT_TRUE(SimProcess::waitFor([&] { return !done.isEmpty(); }, 60000)) << "the check did not end";
  // The damage is told once, as an event and a notice.
  const QVector<StoredEvent> damage = events(EventKind::StoreDamaged);
  ASSERT_EQ(damage.size(), 1);
  EXPECT_TRUE(damage[0].text.contains(QStringLiteral(u"не читаются результаты после №"))) << damage[0].text.toStdString();
  const std::vector<Notice> told = takeNotices();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].topic, NoticeTopic::Database);
  EXPECT_TRUE(SimProcess::waitFor([&] { return poll().analyzerState() == AnalyzerState::Idle; }, 20000));
}

TEST_F(CrashStartE2E, AfterACleanEndNothingIsCheckedBeyondTheNewestPages) {
  writeDatabase(true);
  startWithALongPeriod();
  ASSERT_TRUE(session().store().isWritable());
  EXPECT_FALSE(session().pageCheck().isRunning());
  ASSERT_TRUE(SimProcess::waitFor([&] { return poll().analyzerState() == AnalyzerState::Idle; }, 20000));
  EXPECT_TRUE(events(EventKind::StoreDamaged).isEmpty());
}

}  // namespace
