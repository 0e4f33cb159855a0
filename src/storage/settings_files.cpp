#include "storage/settings_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>

#include "platform/seams.h"
#include "platform/text_codec.h"
#include "storage/atomic_file.h"

namespace {


// Position of the extension's dot in the file-name part of `path`, or -1.
qsizetype extensionDot(const QString& path) {
  for (qsizetype i = path.size() - 1; i >= 0; --i) {
    const QChar c = path.at(i);
    if (c == QLatin1Char('.')) return i;
    if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')) break;
  }
  return -1;
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

std::array<ChannelLook, kChannelCount> defaultChannelLooks() {
  return {{
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
  }};
}

SettingsFiles::SettingsFiles(const QString& programPath) {
  settingsPath_ = changeFileExt(programPath.isEmpty() ? seams::executablePath() : programPath, QStringLiteral(".ini"));
  devicePath_ = deviceFilePath(settingsPath_, 1);
  device_.deviceSlot = 1;
}

QString deviceFilePath(const QString& programPath, int slot) {
  // Beside the program, whichever separator its path uses.
  qsizetype cut = programPath.size();
  while (cut > 0 && programPath.at(cut - 1) != QLatin1Char('/') && programPath.at(cut - 1) != QLatin1Char('\\')) --cut;
  return programPath.left(cut) + QStringLiteral("Device-%1.ini").arg(slot, 3, 10, QLatin1Char('0'));
}

QVector<LineAnalyzer> SettingsFiles::lineAnalyzers(const MeasuringSettings& line) const {
  QVector<LineAnalyzer> out;
  for (int slot = 2; slot <= kSlotCount; ++slot) {
    DeviceRecord record{};
    if (!readRecord(deviceFilePath(settingsPath_, slot), &record, kDeviceRecordSize)) continue;
    if (record.deviceAddress < 1 || record.deviceAddress > 247) continue;
    LineAnalyzer a;
    a.slot = slot;
    a.measuring = line;
    a.measuring.address = record.deviceAddress;
    const int i = slotIndex(record);
    a.measuring.times.zeroSetting = record.calibrationTime[i];
    a.measuring.times.drain = record.drainTime[i];
    a.measuring.times.measuring = record.measurementTime[i];
    a.measuring.times.continuousPeriod = record.calibrationInterval[i];
    a.measuring.times.cyclePeriod = record.cyclePeriod[i];
    a.fuelIndex = record.fuelIndex;
    out.append(a);
  }
  return out;
}

bool SettingsFiles::addLineAnalyzer(int slot, uint8_t address, QString* error) const {
  const QString path = deviceFilePath(settingsPath_, slot);
  DeviceRecord record{};
  if (!readRecord(path, &record, kDeviceRecordSize)) {
    SettingsFiles defaults(settingsPath_);
    defaults.device_ = DeviceRecord{};
    defaults.device_.deviceSlot = uint8_t(slot);
    defaults.reset();
    record = defaults.device_;
  }
  record.deviceAddress = address;
  if (writeRecord(path, &record, kDeviceRecordSize)) return true;
  if (error) *error = QDir::toNativeSeparators(path);
  return false;
}

bool SettingsFiles::removeLineAnalyzer(int slot, QString* error) const {
  const QString path = deviceFilePath(settingsPath_, slot);
  if (!QFileInfo::exists(path) || QFile::remove(path)) return true;
  if (error) *error = QDir::toNativeSeparators(path);
  return false;
}

bool SettingsFiles::load() {
  if (!readRecord(settingsPath_, &program_, kProgramSettingsSize)) return false;
  const bool deviceRead = readRecord(devicePath_, &device_, kDeviceRecordSize);
  // Every per-slot array has eight entries: a slot outside 1..8 cannot be used.
  if (device_.deviceSlot < 1 || device_.deviceSlot > kSlotCount) {
    device_.deviceSlot = 1;
    return false;
  }
  return deviceRead;
}

void SettingsFiles::reset() {
  const MeasuringSettings measuring;
  const PrintSettings print;
  const ViewSettings view;
  ProgramSettings& p = program_;
  setDefaultString(p.portName, "COM2");
  setDefaultString(p.printFontName, "Courier New");
  p.printFontSize = print.fontSize;
  p.refreshPeriod = measuring.refreshPeriod;
  p.netAddress = measuring.address;

  DeviceRecord& d = device_;
  const int slot = slotIndex(d);
  d.slotFlag[slot] = 1;
  d.calibrationTime[slot] = measuring.times.zeroSetting;
  d.drainTime[slot] = measuring.times.drain;
  d.measurementTime[slot] = measuring.times.measuring;
  d.calibrationInterval[slot] = measuring.times.continuousPeriod;
  d.cyclePeriod[slot] = measuring.times.cyclePeriod;

  for (int i = 0; i < kChannelCount; ++i) {
    const ChannelLook& c = view.channels[size_t(i)];
    p.channelView[i].show = c.shown ? 1 : 0;
    p.channelView[i].multiplier = c.factor;
    p.seriesColor[i] = c.color;
  }
  p.logScale = view.logScale ? 1 : 0;
  p.view3D = view.view3D ? 1 : 0;
  p.chartColorStart = view.chartColorStart;
  p.chartColorEnd = view.chartColorEnd;
}

bool SettingsFiles::save() const {
  return writeRecord(settingsPath_, &program_, kProgramSettingsSize) &&
         writeRecord(devicePath_, &device_, kDeviceRecordSize);
}

MeasuringSettings SettingsFiles::measuring() const {
  MeasuringSettings m;
  const int slot = slotIndex(device_);
  m.portName = shortStringText(program_.portName);
  m.address = program_.netAddress;
  m.refreshPeriod = program_.refreshPeriod;
  m.times.zeroSetting = device_.calibrationTime[slot];
  m.times.drain = device_.drainTime[slot];
  m.times.measuring = device_.measurementTime[slot];
  m.times.continuousPeriod = device_.calibrationInterval[slot];
  m.times.cyclePeriod = device_.cyclePeriod[slot];
  return m;
}

ViewSettings SettingsFiles::view() const {
  ViewSettings v;
  for (int i = 0; i < kChannelCount; ++i) {
    ChannelLook& c = v.channels[size_t(i)];
    c.shown = program_.channelView[i].show != 0;
    c.factor = program_.channelView[i].multiplier;
    c.color = program_.seriesColor[i];
  }
  v.logScale = program_.logScale != 0;
  v.view3D = program_.view3D != 0;
  v.chartColorStart = program_.chartColorStart;
  v.chartColorEnd = program_.chartColorEnd;
  return v;
}

PrintSettings SettingsFiles::print() const {
  return {shortStringText(program_.printFontName), program_.printFontSize};
}

namespace {

// A flag is written only when its meaning changes: any byte but 0 reads as
// true, and a true read from the file stays the byte it was.
void putFlag(uint8_t& byte, bool value) {
  if ((byte != 0) != value) byte = value ? 1 : 0;
}

// A text is written only when it changes, so that the bytes of one read from
// the file stay as they were.
bool putText(ShortString30& s, const QString& text) {
  if (shortStringText(s) == text) return true;
  ShortString30 copy = s;
  if (!setShortString(copy, text)) return false;
  s = copy;
  return true;
}

}  // namespace

bool SettingsFiles::setMeasuring(const MeasuringSettings& m) {
  ShortString30 port = program_.portName;
  if (!putText(port, m.portName)) return false;
  program_.portName = port;
  program_.netAddress = m.address;
  program_.refreshPeriod = m.refreshPeriod;
  const int slot = slotIndex(device_);
  device_.calibrationTime[slot] = m.times.zeroSetting;
  device_.drainTime[slot] = m.times.drain;
  device_.measurementTime[slot] = m.times.measuring;
  device_.calibrationInterval[slot] = m.times.continuousPeriod;
  device_.cyclePeriod[slot] = m.times.cyclePeriod;
  return true;
}

void SettingsFiles::setView(const ViewSettings& v) {
  for (int i = 0; i < kChannelCount; ++i) {
    const ChannelLook& c = v.channels[size_t(i)];
    putFlag(program_.channelView[i].show, c.shown);
    program_.channelView[i].multiplier = c.factor;
    program_.seriesColor[i] = c.color;
  }
  putFlag(program_.logScale, v.logScale);
  putFlag(program_.view3D, v.view3D);
  program_.chartColorStart = v.chartColorStart;
  program_.chartColorEnd = v.chartColorEnd;
}

bool SettingsFiles::setPrint(const PrintSettings& p) {
  if (!putText(program_.printFontName, p.fontName)) return false;
  program_.printFontSize = p.fontSize;
  return true;
}

void SettingsFiles::setRunState(const RunState& r) {
  device_.deviceAddress = r.address;
  device_.fuelIndex = r.fuelIndex;
  device_.linkState = r.linkState;
  device_.requestKind = r.requestKind;
  device_.deviceState = r.analyzerState;
  device_.workMode = r.workMode;
  device_.logDate = r.logDate;
  device_.measurement = toRecord(r.measurement);
}
