#include "storage/settings_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>

#include "platform/seams.h"
#include "platform/text_codec.h"
#include "storage/atomic_file.h"

ProgramSettings programSettings{};
DeviceRecord deviceRecord{};

namespace {

QString g_settingsPath;
QString g_devicePath;

const QString kDeviceFileName = QStringLiteral("Device-001.ini");

// Position of the extension's dot in the file-name part of `path`, or -1.
qsizetype extensionDot(const QString& path) {
  for (qsizetype i = path.size() - 1; i >= 0; --i) {
    const QChar c = path.at(i);
    if (c == QLatin1Char('.')) return i;
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')) break;
  }
  return -1;
}

void computePaths() {
  g_settingsPath = changeFileExt(seams::executablePath(), QStringLiteral(".ini"));
  qsizetype cut = g_settingsPath.size();
  while (cut > 0 && g_settingsPath.at(cut - 1) != QLatin1Char('/') &&
         g_settingsPath.at(cut - 1) != QLatin1Char('\\'))
    --cut;
  g_devicePath = g_settingsPath.left(cut) + kDeviceFileName;
}

// Reads up to `size` bytes of the file into `record`; true only when the file
// holds a whole record. Longer files are fine: only the first record counts.
bool readRecord(const QString& path, void* record, qsizetype size) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.read(size);
  std::memcpy(record, bytes.constData(), size_t(bytes.size()));
  return bytes.size() == size;
}

bool writeRecord(const QString& path, const void* record, qsizetype size) {
  return writeFileAtomically(path, QByteArray(static_cast<const char*>(record), size));
}

void setDefaultString(ShortString30& s, const char* latin) {
  const size_t n = std::strlen(latin);
  s.length = uint8_t(n);
  std::memcpy(s.chars, latin, n);
}

}  // namespace

QString shortStringText(const ShortString30& s) {
  const int length = s.length > 30 ? 30 : s.length;
  return cp1251::decode(s.chars, length);
}

bool setShortString(ShortString30& s, const QString& text) {
  QString cut = text.left(30);
  if (cut.size() == 30 && cut.at(29).isHighSurrogate()) cut.chop(1);
  const auto bytes = cp1251::encode(cut);
  if (!bytes || bytes->size() > 30) return false;
  s.length = uint8_t(bytes->size());
  std::memcpy(s.chars, bytes->constData(), size_t(bytes->size()));
  return true;
}

MeasurementRecord toRecord(const Measurement& m) {
  using namespace channel;
  MeasurementRecord r;
  r.faultBits = m.faultBits;
  r.tg = m[Tg];
  r.ta = m[Ta];
  r.o2 = m[O2];
  r.co = m[CO];
  r.no = m[NO];
  r.no2 = m[NO2];
  r.so2 = m[SO2];
  r.h2s = m[H2S];
  r.co2 = m[CO2];
  r.nox = m[NOx];
  r.qa = m[Qa];
  r.alf = m[Alf];
  r.measTime = m.time;
  return r;
}

Measurement fromRecord(const MeasurementRecord& r) {
  using namespace channel;
  Measurement m;
  m.faultBits = r.faultBits;
  m[Tg] = r.tg;
  m[Ta] = r.ta;
  m[O2] = r.o2;
  m[CO] = r.co;
  m[NO] = r.no;
  m[NO2] = r.no2;
  m[SO2] = r.so2;
  m[H2S] = r.h2s;
  m[CO2] = r.co2;
  m[NOx] = r.nox;
  m[Qa] = r.qa;
  m[Alf] = r.alf;
  m.time = r.measTime;
  return m;
}

QString changeFileExt(const QString& path, const QString& extension) {
  const qsizetype dot = extensionDot(path);
  return (dot < 0 ? path : path.left(dot)) + extension;
}

QString pathWithoutExtension(const QString& path) { return changeFileExt(path, QString()); }

QString settingsPath() {
  if (g_settingsPath.isEmpty()) computePaths();
  return g_settingsPath;
}

QString devicePath() {
  if (g_devicePath.isEmpty()) computePaths();
  return g_devicePath;
}

bool loadSettings() {
  computePaths();
  if (!readRecord(g_settingsPath, &programSettings, kProgramSettingsSize)) return false;
  const bool deviceRead = readRecord(g_devicePath, &deviceRecord, kDeviceRecordSize);
  // Every per-slot array has eight entries: a slot outside 1..8 cannot be used.
  if (deviceRecord.deviceSlot < 1 || deviceRecord.deviceSlot > kSlotCount) {
    deviceRecord.deviceSlot = 1;
    return false;
  }
  return deviceRead;
}

void resetSettings() {
  ProgramSettings& p = programSettings;
  setDefaultString(p.portName, "COM2");
  setDefaultString(p.printFontName, "Courier New");
  p.printFontSize = 8;
  p.refreshPeriod = 10;
  p.netAddress = 1;

  DeviceRecord& d = deviceRecord;
  const int slot = slotIndex(d);
  d.slotFlag[slot] = 1;
  d.calibrationTime[slot] = 3;
  d.drainTime[slot] = 0;
  d.measurementTime[slot] = 3;
  d.calibrationInterval[slot] = 60;
  d.cyclePeriod[slot] = 30;

  struct ChannelDefault {
    bool show;
    double multiplier;
    uint32_t color;
  };
  static const ChannelDefault kChannels[kChannelCount] = {
      {true, 1, 0x0000FF},    // Tg   red
      {true, 10, 0xFFFF00},   // O2   aqua
      {true, 1, 0x00FFFF},    // CO   yellow
      {true, 1, 0xFF00FF},    // NO   fuchsia
      {false, 10, 0x000000},  // NO2  black
      {false, 1, 0x000080},   // SO2  maroon
      {false, 1, 0x008080},   // H2S  olive
      {false, 1, 0x00FF00},   // CO2  lime
      {false, 1, 0xC0C0C0},   // NOx  silver
      {false, 1, 0x808000},   // Qa   teal
      {true, 100, 0xFF0000},  // Alf  blue
      {false, 1, 0x800080},   // Ta   purple
  };
  for (int i = 0; i < kChannelCount; ++i) {
    p.channelView[i].show = kChannels[i].show ? 1 : 0;
    p.channelView[i].multiplier = kChannels[i].multiplier;
  }
  p.logScale = 1;
  p.view3D = 1;
  p.chartColorStart = 0xFFFFFF;
  p.chartColorEnd = 0xF0CAA6;
  for (int i = 0; i < kChannelCount; ++i) p.seriesColor[i] = kChannels[i].color;
}

bool saveSettings() {
  settingsPath();  // paths exist even if nothing was loaded
  const bool ok = writeRecord(g_settingsPath, &programSettings, kProgramSettingsSize) &&
                  writeRecord(g_devicePath, &deviceRecord, kDeviceRecordSize);
  return ok;
}
