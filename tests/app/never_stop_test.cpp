// Measuring never waits for the operator or the screen: the session polls in
// a thread of its own, on real timers, while the window's thread is held in
// a message box, in a file dialog, while a report is computed and while a
// history is read. Each test holds the window's thread (or the reader's)
// until the session has polled on, and fails if it never does: were the
// poll on the window's thread, or waiting for the report or the history,
// nothing would come.

#include <gtest/gtest.h>

#include <QDateEdit>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QToolButton>
#include <QThread>
#include <QtTest/QTest>

#include "dialogs/emission_report_dialog.h"
#include "support/korvex_fixture.h"

namespace {

// The test's limit for what takes a few tens of milliseconds: generous, so
// that a loaded machine gives the same verdict.
constexpr int kLimitMs = 30000;

class NeverStopTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    Timer::setManualForTesting(false);
  }
  void TearDown() override {
    KorvexFixture::TearDown();
    Timer::setManualForTesting(true);
  }

  // The history dialog, when it opens, asks for yesterday.
  void answerHistoryWithYesterday() {
    const QDate day = now().date().addDays(-1);
    modal_ = [day](QDialog* d) {
      d->findChild<QDateEdit*>(QStringLiteral("DateFrom"))->setDate(day);
      d->findChild<QDateEdit*>(QStringLiteral("DateTo"))->setDate(day);
      d->accept();
      return d->result();
    };
  }

  // The program with its session in a thread of its own, polling every 20 ms
  // (the line silent: each tick sends its request all the same), and a day
  // of results in the database for the history and the report.
  void startOnItsOwnThread() {
    writeDefaultSettings();
    {
      ResultStore store;
      ASSERT_TRUE(store.open(inDir(QStringLiteral("korvex.db")), 0).isWritable());
      std::vector<Result> day;
      for (int i = 0; i < 600; ++i) {
        Result r;
        const QDateTime at = now().addDays(-1).addSecs(i);
        r.utcMs = at.toMSecsSinceEpoch();
        r.utcOffset = at.offsetFromUtc();
        r.values[channel::O2] = 3;
        day.push_back(r);
      }
      ASSERT_EQ(store.appendBatch(day).state, ResultStore::AppendState::Committed);
    }
    hostOptions_.threading = SessionHost::Threading::OwnThread;
    hostOptions_.pollIntervalMs = 20;
    startProgram();
    ASSERT_TRUE(QTest::qWaitFor([this] { return host().pollWatch().ticks() >= 3 && !window().days().isEmpty(); },
                                kLimitMs));
  }

  // Holds the calling thread, processing nothing, until the session has
  // ticked `more` times more; false when it did not within the limit.
  bool holdUntilPolled(int more) const {
    const int64_t until = host().pollWatch().ticks() + more;
    QElapsedTimer waited;
    waited.start();
    while (host().pollWatch().ticks() < until) {
      if (waited.elapsed() > kLimitMs) return false;
      QThread::yieldCurrentThread();
    }
    return true;
  }
};

TEST_F(NeverStopTest, ThePollGoesOnWhileAMessageBoxIsOpen) {
  ASSERT_NO_FATAL_FAILURE(startOnItsOwnThread());
  bool polled = false;
  int boxes = 0;
  seams::setMessageHandler([&](const seams::MessageRequest&) {
    ++boxes;
    polled = holdUntilPolled(5);
    return seams::MsgResult::No;  // "Программа будет закрыта?" No
  });
  EXPECT_FALSE(window().close());
  EXPECT_EQ(boxes, 1);
  EXPECT_TRUE(polled);
}

TEST_F(NeverStopTest, ThePollGoesOnWhileAFileDialogIsOpen) {
  ASSERT_NO_FATAL_FAILURE(startOnItsOwnThread());
  bool polled = false;
  seams::setFileDialogHandler([&](const seams::FileDialogRequest&) {
    polled = holdUntilPolled(5);
    return QString();  // cancelled
  });
  window().onOpenTriggered();
  EXPECT_TRUE(polled);
}

TEST_F(NeverStopTest, ThePollAndTheWindowGoOnWhileAReportIsComputed) {
  ASSERT_NO_FATAL_FAILURE(startOnItsOwnThread());
  // The report's computation waits, in its own thread, for the session to
  // poll on; the window meanwhile keeps turning its event loop.
  std::atomic<bool> polled{false};
  host().reportReader().setStepHook([&] {
    if (!polled) polled = holdUntilPolled(5);
  });
  const QDate day = now().date().addDays(-1);
  bool shown = false;
  modal_ = [&](QDialog* d) {
    d->findChild<QDateEdit*>(QStringLiteral("DateFrom"))->setDate(day);
    d->findChild<QDateEdit*>(QStringLiteral("DateTo"))->setDate(day);
    d->findChild<QPushButton*>(QStringLiteral("ButtonBuild"))->click();
    auto* dialog = qobject_cast<EmissionReportDialog*>(d);
    shown = QTest::qWaitFor([&] { return dialog->upToDate(); }, kLimitMs);
    return int(QDialog::Rejected);
  };
  window().onEmissionReportTriggered();
  EXPECT_TRUE(polled);
  EXPECT_TRUE(shown);
}

TEST_F(NeverStopTest, ThePollGoesOnWhileAHistoryIsReadAndTheHistoryComesInSteps) {
  ASSERT_NO_FATAL_FAILURE(startOnItsOwnThread());
  std::atomic<bool> polled{false};
  std::atomic<int> steps{0};
  host().historyReader().setStepHook([&] {
    if (steps++ == 0) polled = holdUntilPolled(5);
  });
  answerHistoryWithYesterday();
  window().onHistoryTriggered();
  // Read in the background, with its progress shown meanwhile.
  EXPECT_TRUE(find<QWidget>("PanelHistoryProgress")->isVisibleTo(&window()));
  ASSERT_TRUE(QTest::qWaitFor([this] { return window().showingHistory(); }, kLimitMs));
  EXPECT_TRUE(polled);
  EXPECT_EQ(steps, 4);  // a day in steps of six hours
  EXPECT_EQ(window().history().count(), 600);
  EXPECT_FALSE(find<QWidget>("PanelHistoryProgress")->isVisibleTo(&window()));
  // The reader's connection closed before the database's owner: a clean end
  // leaves no write-ahead log for the next start to take for a crash's.
  stopProgram();
  EXPECT_FALSE(QFileInfo::exists(inDir(QStringLiteral("korvex.db-wal"))));
}

TEST_F(NeverStopTest, AHistoryReadCanBeCancelledAndLeavesTheLiveResultsShown) {
  ASSERT_NO_FATAL_FAILURE(startOnItsOwnThread());
  std::atomic<bool> release{false};
  host().historyReader().setStepHook([&] {
    QElapsedTimer waited;
    waited.start();
    while (!release && waited.elapsed() < kLimitMs) QThread::yieldCurrentThread();
  });
  answerHistoryWithYesterday();
  window().onHistoryTriggered();
  find<QToolButton>("ButtonCancelHistory")->click();
  EXPECT_FALSE(find<QWidget>("PanelHistoryProgress")->isVisibleTo(&window()));
  EXPECT_FALSE(window().showingHistory());
  EXPECT_EQ(window().history().count(), 0);

  // The cancelled read ends at its next step; whatever it still found is
  // dropped: the next history holds its own results once.
  release = true;
  window().onHistoryTriggered();
  ASSERT_TRUE(QTest::qWaitFor([this] { return window().showingHistory(); }, kLimitMs));
  EXPECT_EQ(window().history().count(), 600);
}

}  // namespace
