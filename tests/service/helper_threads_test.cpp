// The session's helpers in threads of their own, as the program runs them:
// the daily logs' writer and the audit trail's keeper do their work there
// and the session books it; a timer moved to another thread runs there.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QSignalSpy>
#include <QThread>
#include <QtTest/QTest>

#include "platform/timer.h"
#include "support/session_fixture.h"
#include "support/test_files.h"

namespace {

const QDate kDay(2026, 12, 6);

TEST(TimerThreadTest, ATimerMovedWithItsOwnerToAnotherThreadFiresThere) {
  Timer::setManualForTesting(false);
  QThread thread;
  thread.start();
  auto* owner = new QObject;
  auto* timer = new Timer(1, owner);
  owner->moveToThread(&thread);
  QSignalSpy fired(timer, &Timer::timeout);
  QMetaObject::invokeMethod(timer, [timer] { timer->setEnabled(true); });
  EXPECT_TRUE(fired.wait(10000));
  QMetaObject::invokeMethod(owner, [owner] { delete owner; }, Qt::BlockingQueuedConnection);
  thread.quit();
  thread.wait();
  Timer::setManualForTesting(true);
}

class HelperThreadsTest : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    hostOptions_.helperThreading = SessionHost::Threading::OwnThread;
  }
  // The writer's answer is booked by the session (this thread).
  bool logBooked(const QDate& day) { return !session().store().daysWithoutLog(day.addDays(1)).contains(day); }
};

TEST_F(HelperThreadsTest, TheMidnightLogIsWrittenOffTheSessionsThreadAndEveryStepIsInTheTrail) {
  setNow(QDateTime(kDay, QTime(23, 59, 58)));
  startSessionWithDefaults();
  Measurement m;
  m[channel::O2] = 6.1;
  addResult(m);
  addResult(m, 1);
  setNow(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  tick();
  QTRY_VERIFY_WITH_TIMEOUT(logBooked(kDay), 30000);
  const QList<QByteArray> lines = test_files::readAll(inDir(QStringLiteral("korvex-26-12-06.ask"))).split('\n');
  EXPECT_EQ(lines.size(), 1 + 2 + 1);  // the header, two results, nothing after the last line
  ASSERT_EQ(events(EventKind::DailyLogWritten).size(), 1);

  host().flushAudit();
  QVector<AuditKind> kinds;
  host().postAudit([&kinds](AuditKeeper& k) {
    for (const AuditEntry& e : k.trail().entriesAfter(0, 100)) kinds << e.kind;
  });
  host().flushAudit();
  EXPECT_TRUE(kinds.contains(AuditKind::ProgramStarted));
  EXPECT_TRUE(kinds.contains(AuditKind::DailyLogWritten));
  stopProgram();
  // Every reader closed before the database's writer: the log went back
  // into the file, and the next start finds a clean end, not a crash's.
  EXPECT_FALSE(QFileInfo::exists(inDir(QStringLiteral("korvex.db-wal"))));
  // The stop waited for both: the last entry is the stop, the log is booked.
  AuditTrail trail;
  ASSERT_TRUE(trail.openForReading(inDir(QStringLiteral("korvex.db"))));
  EXPECT_EQ(trail.newestEntries(1).value(0).kind, AuditKind::ProgramStopped);
}

}  // namespace
