// What a line's analyzers report reaches the window and the helpers once a
// round: held while the round runs, then every report in one queued call to
// each receiver's thread, in the order they were emitted; outside a round at
// once; nothing once the receiver has gone.

#include <gtest/gtest.h>

#include <QMutex>
#include <QThread>
#include <QtTest/QTest>
#include <vector>

#include "acquisition/line_scheduler.h"
#include "service/round_reports.h"

namespace {

struct Received {
  QMutex mutex;
  std::vector<int> values;
  bool otherThread = true;
  std::vector<int> seen() {
    QMutexLocker lock(&mutex);
    return values;
  }
};

TEST(RoundReportsTest, ARoundsReportsReachEachReceiverTogetherInTheirOrderInItsOwnThread) {
  QThread windowThread;
  windowThread.start();
  auto* receiver = new QObject;
  receiver->moveToThread(&windowThread);
  QThread* const window = &windowThread;

  AnalyzerLink link;
  LineScheduler line(link);  // a sender of a signal with an argument
  RoundReports reports;
  bool roundRunning = true;
  reports.setHolding([&roundRunning] { return roundRunning; });
  reports.setReceiver(receiver);
  Received received;
  reports.forward(&line, &LineScheduler::slotTicked, [&received, window](int slot) {
    QMutexLocker lock(&received.mutex);
    if (QThread::currentThread() != window) received.otherThread = false;
    received.values.push_back(slot);
  });

  // A helper of its own (an audit keeper) in a thread of its own.
  QThread helperThread;
  helperThread.start();
  QObject helper;
  helper.moveToThread(&helperThread);
  Received helped;
  reports.forward(&line, &LineScheduler::slotTicked, &helper, [&helped, &helperThread](int slot) {
    QMutexLocker lock(&helped.mutex);
    if (QThread::currentThread() != &helperThread) helped.otherThread = false;
    helped.values.push_back(slot);
  });

  // While the round runs nothing goes.
  for (int slot : {0, 1, 2}) emit line.slotTicked(slot);
  EXPECT_EQ(reports.waiting(), 6);
  EXPECT_EQ(reports.deliveries(), 0);
  // Its end: all of them, as one call to each receiver.
  reports.flush();
  EXPECT_EQ(reports.deliveries(), 2);
  QTRY_VERIFY_WITH_TIMEOUT(received.seen().size() == 3, 30000);
  EXPECT_EQ(received.seen(), (std::vector<int>{0, 1, 2}));
  QTRY_VERIFY_WITH_TIMEOUT(helped.seen().size() == 3, 30000);
  EXPECT_EQ(helped.seen(), (std::vector<int>{0, 1, 2}));

  // Between rounds a report goes at once.
  roundRunning = false;
  emit line.slotTicked(7);
  EXPECT_EQ(reports.waiting(), 0);
  EXPECT_EQ(reports.deliveries(), 4);
  QTRY_VERIFY_WITH_TIMEOUT(received.seen().size() == 4, 30000);
  EXPECT_EQ(received.seen().back(), 7);
  {
    QMutexLocker lock(&received.mutex);
    EXPECT_TRUE(received.otherThread);
  }

  // A receiver going hears nothing more.
  reports.setReceiver(nullptr);
  QMetaObject::invokeMethod(receiver, [receiver] { delete receiver; }, Qt::BlockingQueuedConnection);
  emit line.slotTicked(8);
  EXPECT_EQ(reports.deliveries(), 5) << "the helper's only";
  windowThread.quit();
  windowThread.wait();
  EXPECT_EQ(received.seen().size(), 4u);
  QTRY_VERIFY_WITH_TIMEOUT(helped.seen().size() == 5, 30000);
  helperThread.quit();
  helperThread.wait();
  QMutexLocker lock(&helped.mutex);
  EXPECT_TRUE(helped.otherThread);
}

}  // namespace
