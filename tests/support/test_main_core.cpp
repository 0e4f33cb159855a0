// Shared main of the test programs that run no window: a plain core
// application, timers that fire only when a test says so, the commits of
// the results database not waiting for the disk.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "data/result_store.h"
#include "platform/timer.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  Timer::setManualForTesting(true);
  ResultStore::setDurableForTesting(false);
  return RUN_ALL_TESTS();
}
