// Shared main of the test programs: Qt runs offscreen, timers fire only when a
// test says so, and the locale is Russian unless a test picks another.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

#include "data/result_store.h"
#include "platform/timer.h"
#include "platform/seams.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  Timer::setManualForTesting(true);
  ResultStore::setDurableForTesting(false);
  return RUN_ALL_TESTS();
}
