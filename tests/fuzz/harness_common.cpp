#include <QCoreApplication>

#include "fuzz/harnesses.h"

void ensureFuzzApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "korvex-fuzz";
  static char* argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
}
