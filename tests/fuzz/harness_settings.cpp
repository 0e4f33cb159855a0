#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>

#include "app/platform_seams.h"
#include "fuzz/harnesses.h"
#include "storage/settings_files.h"

namespace {
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) std::abort(); \
  } while (0)

void Write(const QString& path, const uint8_t* data, size_t size) {
  QFile f(path);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(reinterpret_cast<const char*>(data), qint64(size));
}
}  // namespace

int FuzzSettings(const uint8_t* data, size_t size) {
  static QTemporaryDir dir;
  if (!dir.isValid()) return 0;
  seams::SetExecutablePath(QDir(dir.path()).filePath(QStringLiteral("korvex")));
  seams::SetMessageHandler([](const seams::MessageRequest&) { return seams::MsgResult::Ok; });
  seams::SetBeepHandler([] {});
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
  if (split != 254) Write(settingsPath, rest, first);
  if (split != 255) Write(devicePath, rest + first, restSize - first);

  ProgramSettings = TProgramSettings{};
  DeviceRecord = TDeviceRecord{};
  DeviceRecord.DeviceSlot = 1;
  const bool loaded = SettingsLoad();
  FUZZ_CHECK(DeviceRecord.DeviceSlot >= 1 && DeviceRecord.DeviceSlot <= 8 || !loaded);
  if (!loaded) {
    FUZZ_CHECK(DeviceRecord.DeviceSlot >= 1 && DeviceRecord.DeviceSlot <= 8);
    SettingsReset();
  }
  // Whatever was loaded can be shown and saved, and reads back the same.
  ShortStringText(ProgramSettings.PortName);
  ShortStringText(ProgramSettings.PrintFontName);
  const TProgramSettings savedSettings = ProgramSettings;
  const TDeviceRecord savedDevice = DeviceRecord;
  FUZZ_CHECK(SettingsSave());
  ProgramSettings = TProgramSettings{};
  DeviceRecord = TDeviceRecord{};
  DeviceRecord.DeviceSlot = 1;
  FUZZ_CHECK(SettingsLoad());
  FUZZ_CHECK(std::memcmp(&savedSettings, &ProgramSettings, sizeof savedSettings) == 0);
  FUZZ_CHECK(std::memcmp(&savedDevice, &DeviceRecord, sizeof savedDevice) == 0);
  seams::ResetAll();
  return 0;
}
