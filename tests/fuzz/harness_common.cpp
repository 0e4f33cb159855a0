#include <QApplication>

#include "fuzz/harnesses.h"

void ensureFuzzApplication() {
  if (QCoreApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "korvex-fuzz";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}
