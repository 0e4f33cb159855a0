// korvexd: the Korvex analyzer's measuring service, without a window and
// without any widget library: the same settings files, poll cycle, results
// database, daily logs, emissions and publishing as the window program.
//
//   korvexd [--mode continuous|single|cyclic|none] [--dir DIR] [--port NAME] [--verbose]
//   korvexd --version

#include <cstdio>
#include <cstring>

#include "platform/version.h"
#include "service/headless_service.h"

int main(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("korvexd " KORVEX_VERSION);
      return 0;
    }
  }
  // The program's files are named after the window program, whichever of
  // the two runs: korvex.ini, korvex.db, korvex-service.ini beside it (or in --dir).
  return runService(argc, argv, QStringLiteral("korvexd"), QStringLiteral("korvex"));
}
