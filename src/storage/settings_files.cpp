#include "storage/settings_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>

#include "app/platform_seams.h"
#include "storage/atomic_file.h"
#include "storage/text_codec.h"

TProgramSettings ProgramSettings{};
TDeviceRecord DeviceRecord{};

namespace {

QString g_settingsPath;
QString g_devicePath;

const QString kDeviceFileName = QStringLiteral("Device-001.ini");

// Position of the extension's dot in the file-name part of `path`, or -1.
qsizetype ExtensionDot(const QString& path) {
  for (qsizetype i = path.size() - 1; i >= 0; --i) {
    const QChar c = path.at(i);
    if (c == QLatin1Char('.')) return i;
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')) break;
  }
  return -1;
}

void ComputePaths() {
  g_settingsPath = ChangeFileExt(seams::ExecutablePath(), QStringLiteral(".ini"));
  qsizetype cut = g_settingsPath.size();
  while (cut > 0 && g_settingsPath.at(cut - 1) != QLatin1Char('/') &&
         g_settingsPath.at(cut - 1) != QLatin1Char('\\'))
    --cut;
  g_devicePath = g_settingsPath.left(cut) + kDeviceFileName;
}

// Reads up to `size` bytes of the file into `record`; true only when the file
// holds a whole record. Longer files are fine: only the first record counts.
bool ReadRecord(const QString& path, void* record, qsizetype size) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.read(size);
  std::memcpy(record, bytes.constData(), size_t(bytes.size()));
  return bytes.size() == size;
}

bool WriteRecord(const QString& path, const void* record, qsizetype size) {
  return WriteFileAtomically(path, QByteArray(static_cast<const char*>(record), size));
}

void SetDefaultString(TShortString30& s, const char* latin) {
  const size_t n = std::strlen(latin);
  s.Length = uint8_t(n);
  std::memcpy(s.Chars, latin, n);
}

}  // namespace

QString ShortStringText(const TShortString30& s) {
  const int length = s.Length > 30 ? 30 : s.Length;
  return cp1251::Decode(s.Chars, length);
}

bool SetShortString(TShortString30& s, const QString& text) {
  QString cut = text.left(30);
  if (cut.size() == 30 && cut.at(29).isHighSurrogate()) cut.chop(1);
  const auto bytes = cp1251::Encode(cut);
  if (!bytes || bytes->size() > 30) return false;
  s.Length = uint8_t(bytes->size());
  std::memcpy(s.Chars, bytes->constData(), size_t(bytes->size()));
  return true;
}

QString ChangeFileExt(const QString& path, const QString& extension) {
  const qsizetype dot = ExtensionDot(path);
  return (dot < 0 ? path : path.left(dot)) + extension;
}

QString PathWithoutExtension(const QString& path) { return ChangeFileExt(path, QString()); }

QString SettingsPath() {
  if (g_settingsPath.isEmpty()) ComputePaths();
  return g_settingsPath;
}

QString DevicePath() {
  if (g_devicePath.isEmpty()) ComputePaths();
  return g_devicePath;
}

bool SettingsLoad() {
  ComputePaths();
  if (!ReadRecord(g_settingsPath, &ProgramSettings, kProgramSettingsSize)) return false;
  const bool deviceRead = ReadRecord(g_devicePath, &DeviceRecord, kDeviceRecordSize);
  // Every per-slot array has eight entries: a slot outside 1..8 cannot be used.
  if (DeviceRecord.DeviceSlot < 1 || DeviceRecord.DeviceSlot > kSlotCount) {
    DeviceRecord.DeviceSlot = 1;
    return false;
  }
  return deviceRead;
}

void SettingsReset() {
  TProgramSettings& p = ProgramSettings;
  SetDefaultString(p.PortName, "COM2");
  SetDefaultString(p.PrintFontName, "Courier New");
  p.PrintFontSize = 8;
  p.RefreshPeriod = 10;
  p.NetAddress = 1;

  TDeviceRecord& d = DeviceRecord;
  const int slot = SlotIndex(d);
  d.SlotFlag[slot] = 1;
  d.CalibrationTime[slot] = 3;
  d.DrainTime[slot] = 0;
  d.MeasurementTime[slot] = 3;
  d.CalibrationInterval[slot] = 60;
  d.CyclePeriod[slot] = 30;

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
    p.ChannelView[i].Show = kChannels[i].show ? 1 : 0;
    p.ChannelView[i].Multiplier = kChannels[i].multiplier;
  }
  p.LogScale = 1;
  p.View3D = 1;
  p.ChartColorStart = 0xFFFFFF;
  p.ChartColorEnd = 0xF0CAA6;
  for (int i = 0; i < kChannelCount; ++i) p.SeriesColor[i] = kChannels[i].color;
}

bool SettingsSave() {
  SettingsPath();  // paths exist even if nothing was loaded
  const bool ok = WriteRecord(g_settingsPath, &ProgramSettings, kProgramSettingsSize) &&
                  WriteRecord(g_devicePath, &DeviceRecord, kDeviceRecordSize);
  if (!ok) {
    seams::Beep();
    seams::ErrorBox(nullptr, QStringLiteral("Ошибка доступа к диску!\r\nПерезагрузите компьютер!"));
  }
  return ok;
}
