#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>

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
  const QString program = QDir(dir.path()).filePath(QStringLiteral("korvex"));
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

  SettingsFiles files(program);
  const bool loaded = files.load();
  FUZZ_CHECK(files.deviceRecord().deviceSlot >= 1 && files.deviceRecord().deviceSlot <= 8);
  if (!loaded) files.reset();
  // Whatever was loaded can be taken as values and handed back unchanged,
  // saved, and reads back the same.
  files.setMeasuring(files.measuring());
  files.setView(files.view());
  files.setPrint(files.print());
  const ProgramSettings savedSettings = files.programRecord();
  const DeviceRecord savedDevice = files.deviceRecord();
  FUZZ_CHECK(files.save());
  SettingsFiles again(program);
  FUZZ_CHECK(again.load());
  FUZZ_CHECK(std::memcmp(&savedSettings, &again.programRecord(), sizeof savedSettings) == 0);
  FUZZ_CHECK(std::memcmp(&savedDevice, &again.deviceRecord(), sizeof savedDevice) == 0);
  return 0;
}
