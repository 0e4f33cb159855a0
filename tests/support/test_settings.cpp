#include "support/test_settings.h"

#include "storage/settings_files.h"
#include "storage/settings_records.h"

namespace test_settings {

namespace {

bool write(const QString& port, bool everySecond) {
  programSettings = ProgramSettings{};
  deviceRecord = DeviceRecord{};
  deviceRecord.deviceSlot = 1;
  loadSettings();  // computes the paths; the files do not exist yet
  deviceRecord.deviceSlot = 1;
  resetSettings();
  setShortString(programSettings.portName, port);
  if (everySecond) {
    programSettings.refreshPeriod = 1;
    deviceRecord.calibrationTime[slotIndex(deviceRecord)] = 0;
    deviceRecord.drainTime[slotIndex(deviceRecord)] = 0;
  }
  const bool saved = saveSettings();
  programSettings = ProgramSettings{};
  deviceRecord = DeviceRecord{};
  return saved;
}

}  // namespace

bool writeDefaults(const QString& port) { return write(port, false); }
bool writeForResultsEverySecond(const QString& port) { return write(port, true); }

}  // namespace test_settings
