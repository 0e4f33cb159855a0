// Two analyzers on the line, as the window shows them: each one's results go
// to its own database and only the selected one's into the table; its state,
// alarm and mode follow the selector; the mode buttons command the analyzer
// selected and no other; its days are sealed in its own database; with one
// analyzer nothing of this is shown. While a round polls the line nobody is
// told of its results, and at its end, after one wait for the disk for all
// of them, everybody; the window once.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLabel>
#include <QToolButton>

#include "acquisition/line_scheduler.h"
#include "app/analyzer_strip.h"
#include "data/trail_check.h"
#include "platform/timer.h"
#include "service/audit_keeper.h"
#include "service/round_reports.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"

namespace {

class LineAnalyzersTest : public KorvexFixture {
 protected:
  void startWithSecondAnalyzerAt(uint8_t address) {
    writeDefaultSettings();
    QString error;
    ASSERT_TRUE(SettingsFiles().addLineAnalyzer(2, address, &error)) << error.toStdString();
    startProgram();
  }

  // A result of the analyzer `index`, taken now, its Tg `tg`.
  void resultOf(int index, double tg) {
    Measurement m;
    m.values[channel::Tg] = tg;
    if (index == 0) {
      addResult(m);
      return;
    }
    Result r;
    r.utcMs = now().toMSecsSinceEpoch();
    r.utcOffset = now().offsetFromUtc();
    r.values = m.values;
    emit session().analyzer(index)->pollCycle().resultTaken(r);
  }

  QString stateShown() const { return find<QLabel>("LabelMode")->text(); }
};

TEST_F(LineAnalyzersTest, TheWindowFollowsTheSelectedAnalyzerAndItsButtonsCommandItAlone) {
  startWithSecondAnalyzerAt(7);
  ASSERT_EQ(host().analyzerCount(), 2);
  Session* second = session().analyzer(1);
  EXPECT_EQ(second->measuring().address, 7);
  EXPECT_TRUE(find<AnalyzerStrip>("AnalyzerStrip")->isVisibleTo(&window()));

  // Each result in its own database; the table shows the first analyzer's.
  resultOf(0, 100);
  advance(1);
  resultOf(1, 200);
  ASSERT_EQ(results().count(), 1);
  EXPECT_EQ(results().value(0, channel::Tg), 100);
  EXPECT_TRUE(QFileInfo::exists(inDir(QStringLiteral("korvex-2.db"))));
  EXPECT_EQ(second->store().path(), inDir(QStringLiteral("korvex-2.db")));

  // The second's state and lost link stay on its tile until it is selected.
  QToolButton* tile = find<QToolButton>("AnalyzerTile2");
  emit second->pollCycle().stateTextChanged(QStringLiteral(u"ВТОРОЙ"));
  EXPECT_TRUE(tile->text().contains(QStringLiteral(u"ВТОРОЙ")));
  emit second->pollCycle().linkAlarmChanged(true);
  EXPECT_TRUE(tile->text().contains(QStringLiteral(u"Прибор не отвечает")));
  emit second->pollCycle().analyzerReady();
  EXPECT_NE(stateShown(), QStringLiteral(u"ВТОРОЙ"));

  find<QToolButton>("AnalyzerTile2")->click();
  EXPECT_EQ(stateShown(), QStringLiteral(u"ВТОРОЙ"));
  EXPECT_EQ(find<QLabel>("LabelMode")->palette().color(QPalette::Window), QColor(Qt::red));
  ASSERT_EQ(results().count(), 1);
  EXPECT_EQ(results().value(0, channel::Tg), 200);
  // Results of the one not shown do not enter the table.
  resultOf(0, 101);
  EXPECT_EQ(results().count(), 1);

  QToolButton* continuous = find<QToolButton>("BitBtnPost");
  ASSERT_TRUE(continuous->isEnabled());
  continuous->click();
  EXPECT_EQ(second->wantedMode(), ModeRequest::Continuous);
  EXPECT_EQ(session().wantedMode(), ModeRequest::None);

  // Back to the first: its day's results, its own buttons.
  find<QToolButton>("AnalyzerTile1")->click();
  ASSERT_EQ(results().count(), 2);
  EXPECT_EQ(results().value(1, channel::Tg), 101);
  EXPECT_FALSE(find<QToolButton>("SpeedButtonLedConst")->isEnabled());
}

// The second analyzer's results are in its own database: their day is
// sealed there, in its own chain, and checks whole after the run.
TEST_F(LineAnalyzersTest, AFurtherAnalyzersDaysAreSealedInItsOwnDatabase) {
  const QDate day(2026, 12, 6);
  setNow(QDateTime(day, QTime(23, 50)));
  startWithSecondAnalyzerAt(7);
  ASSERT_EQ(host().analyzerCount(), 2);
  AuditKeeper* own = host().audit(1);
  ASSERT_NE(own, nullptr);
  ASSERT_NE(own, host().audit(0));
  resultOf(1, 200);
  advance(1);
  resultOf(1, 201);

  setNow(QDateTime(day.addDays(1), QTime(0, 6)));
  own->sealTimer()->fire();
  const AuditEntry seal = own->trail().sealOf(day);
  ASSERT_NE(seal.id, 0);
  EXPECT_TRUE(seal.text.startsWith(QStringLiteral(u"День 06.12.2026 опечатан: результатов 2"))) << seal.text.toStdString();
  // The line's trail holds no seal of the day: its own analyzer had no result.
  EXPECT_EQ(host().audit(0)->trail().sealOf(day).id, 0);

  stopProgram();
  const TrailCheck check = checkTrail(inDir(QStringLiteral("korvex-2.db")), TrailCheckScope());
  EXPECT_EQ(check.status, TrailCheck::Status::Whole) << check.line.toStdString();
  EXPECT_EQ(check.days, 1);
  EXPECT_GE(check.entries, 3);  // start, seal, stop
}

// The round's results wait for the disk together, once, at its end: each is
// committed at once, and nobody hears of any before that one sync.
TEST_F(LineAnalyzersTest, ARoundsResultsAreCommittedAtOnceSyncedTogetherAndShownTogetherAtItsEnd) {
  struct Durable {
    Durable() { ResultStore::setDurableForTesting(true); }
    ~Durable() { ResultStore::setDurableForTesting(false); }
  } durable;
  startWithSecondAnalyzerAt(7);
  LineScheduler* line = session().scheduler();
  ASSERT_NE(line, nullptr);
  RoundReports* reports = session().roundReports();
  ASSERT_NE(reports, nullptr);
  // Nothing answers: each exchange ends on its reply's time, then the gap.
  Timer* replyTime = nullptr;
  Timer* gap = nullptr;
  for (Timer* t : line->findChildren<Timer*>()) (t->interval() == line->timing().gapMs ? gap : replyTime) = t;
  ASSERT_TRUE(replyTime && gap);
  Session* second = session().analyzer(1);
  QToolButton* tile = find<QToolButton>("AnalyzerTile2");
  const int rows = results().count();
  const QString tileBefore = tile->text();
  // Whether anything was told of a result before its database's sync.
  int toldUnsynced = 0, told = 0;
  for (Session* s : {&session(), second})
    QObject::connect(s, &Session::resultRecorded, s, [&, s] {
      ++told;
      if (s->store().needsSync()) ++toldUnsynced;
    });

  line->startRound();
  ASSERT_TRUE(line->roundRunning());
  const qint64 deliveries = reports->deliveries();
  resultOf(0, 100);
  advance(1);
  resultOf(1, 200);
  // In their databases before anything is shown, not yet synced; nobody told.
  EXPECT_EQ(session().store().resultsOnDay(now().date()).size(), size_t(rows + 1));
  ASSERT_EQ(second->store().resultsOnDay(now().date()).size(), 1u);
  EXPECT_TRUE(session().store().needsSync());
  EXPECT_TRUE(second->store().needsSync());
  EXPECT_EQ(told, 0);
  EXPECT_EQ(results().count(), rows);
  EXPECT_EQ(tile->text(), tileBefore);

  for (int i = 0; i < 10 && line->roundRunning(); ++i) {
    replyTime->fire();
    gap->fire();
  }
  ASSERT_FALSE(line->roundRunning());
  EXPECT_EQ(told, 2);
  EXPECT_EQ(toldUnsynced, 0);
  // The window and each database's keeper told once, and everything: the
  // first's result in the table, the second's time on its tile.
  EXPECT_EQ(reports->deliveries(), deliveries + 3);
  ASSERT_EQ(results().count(), rows + 1);
  EXPECT_EQ(results().value(rows, channel::Tg), 100);
  EXPECT_TRUE(tile->text().contains(now().toString(QStringLiteral("hh:mm:ss")))) << tile->text().toStdString();

  // The second selected: its result of that round in the table.
  tile->click();
  ASSERT_EQ(results().count(), 1);
  EXPECT_EQ(results().value(0, channel::Tg), 200);
}

TEST_F(LineAnalyzersTest, WithOneAnalyzerThereIsNoStripAndNoFurtherDatabase) {
  startWithDefaults();
  EXPECT_EQ(host().analyzerCount(), 1);
  EXPECT_FALSE(find<AnalyzerStrip>("AnalyzerStrip")->isVisibleTo(&window()));
  EXPECT_EQ(session().scheduler(), nullptr);
  EXPECT_EQ(session().roundReports(), nullptr);
  resultOf(0, 100);
  EXPECT_EQ(results().count(), 1);
  EXPECT_FALSE(QFileInfo::exists(inDir(QStringLiteral("korvex-2.db"))));
}

}  // namespace
