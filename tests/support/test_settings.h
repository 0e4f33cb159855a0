#pragma once
// Settings files for a program started by a test or a benchmark, written at
// the settings path (beside seams::executablePath()).

#include <QString>

namespace test_settings {

// Defaults, with `port` as the port; false when they could not be saved.
bool writeDefaults(const QString& port);
// The same with a result at every tick and no zero setting or draining first.
bool writeForResultsEverySecond(const QString& port);

}  // namespace test_settings
