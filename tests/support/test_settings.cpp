#include "support/test_settings.h"

#include "storage/settings_files.h"

namespace test_settings {

namespace {

bool write(const QString& port, bool everySecond) {
  SettingsFiles files;
  files.reset();
  MeasuringSettings m = files.measuring();
  m.portName = port;
  if (everySecond) {
    m.refreshPeriod = 1;
    m.times.zeroSetting = 0;
    m.times.drain = 0;
  }
  return files.setMeasuring(m) && files.save();
}

}  // namespace

bool writeDefaults(const QString& port) { return write(port, false); }
bool writeForResultsEverySecond(const QString& port) { return write(port, true); }

}  // namespace test_settings
