#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>

#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "fuzz/harnesses.h"
#include "storage/settings_files.h"

namespace {
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) std::abort(); \
  } while (0)

void writeFile(const QString& path, const uint8_t* data, size_t size) {
  QFile f(path);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(reinterpret_cast<const char*>(data), qint64(size));
}
}  // namespace

int fuzzSettings(const uint8_t* data, size_t size) {
  static QTemporaryDir dir;
  if (!dir.isValid()) return 0;
  seams::setExecutablePath(QDir(dir.path()).filePath(QStringLiteral("korvex")));
  seams::setMessageHandler([](const seams::MessageRequest&) { return seams::MsgResult::Ok; });
  seams::setBeepHandler([] {});
  const QString settingsPath = QDir(dir.path()).filePath(QStringLiteral("korvex.ini"));
  const QString devicePath = QDir(dir.path()).filePath(QStringLiteral("Device-001.ini"));
  QFile::remove(settingsPath);
  QFile::remove(devicePath);

  // First byte: how the rest is split between the two files. 0: a whole
  // settings record first; 1..253: that many bytes; 254, 255: one file missing.
  const uint8_t split = size ? data[0] : 0;
  const uint8_t* rest = size ? data + 1 : data;
  const size_t restSize = size ? size - 1 : 0;
  const size_t first = std::min<size_t>(restSize, split == 0 ? 237 : split);
  if (split != 254) writeFile(settingsPath, rest, first);
  if (split != 255) writeFile(devicePath, rest + first, restSize - first);

  programSettings = ProgramSettings{};
  deviceRecord = DeviceRecord{};
  deviceRecord.deviceSlot = 1;
  const bool loaded = loadSettings();
  FUZZ_CHECK((deviceRecord.deviceSlot >= 1 && deviceRecord.deviceSlot <= 8) || !loaded);
  if (!loaded) {
    FUZZ_CHECK(deviceRecord.deviceSlot >= 1 && deviceRecord.deviceSlot <= 8);
    resetSettings();
  }
  // Whatever was loaded can be shown and saved, and reads back the same.
  shortStringText(programSettings.portName);
  shortStringText(programSettings.printFontName);
  const ProgramSettings savedSettings = programSettings;
  const DeviceRecord savedDevice = deviceRecord;
  FUZZ_CHECK(saveSettings());
  programSettings = ProgramSettings{};
  deviceRecord = DeviceRecord{};
  deviceRecord.deviceSlot = 1;
  FUZZ_CHECK(loadSettings());
  FUZZ_CHECK(std::memcmp(&savedSettings, &programSettings, sizeof savedSettings) == 0);
  FUZZ_CHECK(std::memcmp(&savedDevice, &deviceRecord, sizeof savedDevice) == 0);
  seams::resetAll();
  seams::resetWidgetSeams();
  return 0;
}
