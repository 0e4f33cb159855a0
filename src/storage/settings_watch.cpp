#include "storage/settings_watch.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSettings>
#include <cstring>

#include "data/audit_trail.h"
#include "data/hashes.h"
#include "storage/settings_records.h"
#include "storage/user_accounts.h"

namespace {

const QString kFileKey = QStringLiteral(u"(файл)");
const QString kSecretSuffix = QStringLiteral(u" (пароль)");

QString flag(uint8_t b) { return b ? QStringLiteral("1") : QStringLiteral("0"); }
QString color(uint32_t c) { return QStringLiteral("#%1").arg(c, 6, 16, QLatin1Char('0')); }
QString number(double d) { return QString::number(d, 'g', 17); }

// Up to `size` bytes of the file into `record`; false when there is no file.
bool readRecord(const QString& path, void* record, qsizetype size) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.read(size);
  std::memcpy(record, bytes.constData(), size_t(bytes.size()));
  return true;
}

void programRecord(const ProgramSettings& p, SettingsSnapshot& s) {
  s[QStringLiteral("Program/PortName")] = shortStringText(p.portName);
  s[QStringLiteral("Program/PrintFontName")] = shortStringText(p.printFontName);
  s[QStringLiteral("Program/NetAddress")] = QString::number(p.netAddress);
  s[QStringLiteral("Program/RefreshPeriod")] = QString::number(p.refreshPeriod);
  s[QStringLiteral("Program/PrintFontSize")] = QString::number(p.printFontSize);
  s[QStringLiteral("Program/LogScale")] = flag(p.logScale);
  s[QStringLiteral("Program/View3D")] = flag(p.view3D);
  s[QStringLiteral("Program/ChartColorStart")] = color(p.chartColorStart);
  s[QStringLiteral("Program/ChartColorEnd")] = color(p.chartColorEnd);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const QString name = QString::fromLatin1(channel::kNames[ch]);
    s[QStringLiteral("Program/SeriesColor/") + name] = color(p.seriesColor[ch]);
    s[QStringLiteral("Program/ChannelShown/") + name] = flag(p.channelView[ch].show);
    s[QStringLiteral("Program/ChannelFactor/") + name] = number(p.channelView[ch].multiplier);
  }
}

// The settings of the device record; its run state (link, mode, the last
// measurement) changes with every save and is not a setting.
void deviceRecordSettings(const DeviceRecord& d, SettingsSnapshot& s) {
  s[QStringLiteral("Device/Address")] = QString::number(d.deviceAddress);
  s[QStringLiteral("Device/Slot")] = QString::number(d.deviceSlot);
  s[QStringLiteral("Device/FuelIndex")] = QString::number(d.fuelIndex);
  for (int i = 0; i < kSlotCount; ++i) {
    const QString slot = QStringLiteral("Device/Slot%1/").arg(i + 1);
    s[slot + QStringLiteral("Enabled")] = flag(d.slotFlag[i]);
    s[slot + QStringLiteral("CalibrationTime")] = QString::number(d.calibrationTime[i]);
    s[slot + QStringLiteral("DrainTime")] = QString::number(d.drainTime[i]);
    s[slot + QStringLiteral("MeasurementTime")] = QString::number(d.measurementTime[i]);
    s[slot + QStringLiteral("CalibrationInterval")] = QString::number(d.calibrationInterval[i]);
    s[slot + QStringLiteral("CyclePeriod")] = QString::number(d.cyclePeriod[i]);
  }
}

// A secret as the known content keeps it: never the value itself.
QString hashSecret(const QString& value) {
  if (value.isEmpty()) return QString();
  // An Argon2id hash already (the accounts file): a plain digest of it will do.
  if (value.startsWith(QLatin1String("$argon2")))
    return QStringLiteral("sha256:") + QString::fromLatin1(Sha256::of(value.toUtf8()).toHex());
  return QStringLiteral("argon2:") + UserAccounts::hashPassword(value);
}

bool matchesSecret(const QString& known, const QString& value) {
  if (known.isEmpty() || value.isEmpty()) return known.isEmpty() && value.isEmpty();
  if (known.startsWith(QLatin1String("sha256:")))
    return known.mid(7) == QString::fromLatin1(Sha256::of(value.toUtf8()).toHex());
  if (known.startsWith(QLatin1String("argon2:"))) return UserAccounts::verifyPassword(known.mid(7), value);
  return false;
}

bool isSecretKey(const QString& key) { return isSecretSetting(key) || key.endsWith(kSecretSuffix); }

// The file's settings with every secret taken out into `secrets`.
SettingsSnapshot split(const SettingsSnapshot& all, SettingsSnapshot* secrets) {
  SettingsSnapshot plain;
  for (auto it = all.cbegin(); it != all.cend(); ++it) {
    if (isSecretSetting(it.key())) {
      secrets->insert(it.key(), it.value());
      continue;
    }
    const QString masked = withoutSecrets(it.key(), it.value());
    plain.insert(it.key(), masked);
    if (masked != it.value()) secrets->insert(it.key() + kSecretSuffix, it.value());
  }
  return plain;
}

QString encode(const SettingsSnapshot& known) {
  QJsonObject o;
  for (auto it = known.cbegin(); it != known.cend(); ++it) o.insert(it.key(), it.value());
  return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

SettingsSnapshot decode(const QString& text) {
  SettingsSnapshot s;
  const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
  for (auto it = o.constBegin(); it != o.constEnd(); ++it) s.insert(it.key(), it.value().toString());
  return s;
}

}  // namespace

SettingsSnapshot readSettingsFile(const WatchedFile& file) {
  SettingsSnapshot s;
  const bool exists = QFileInfo(file.path).isFile();
  s[kFileKey] = exists ? QStringLiteral(u"есть") : QStringLiteral(u"нет");
  if (!exists) return s;
  switch (file.kind) {
    case WatchedFile::Kind::ProgramRecord: {
      ProgramSettings p{};
      if (readRecord(file.path, &p, sizeof p)) programRecord(p, s);
      break;
    }
    case WatchedFile::Kind::DeviceRecord: {
      DeviceRecord d{};
      if (readRecord(file.path, &d, sizeof d)) deviceRecordSettings(d, s);
      break;
    }
    case WatchedFile::Kind::Ini: {
      QSettings ini(file.path, QSettings::IniFormat);
      for (const QString& key : ini.allKeys()) {
        const QVariant v = ini.value(key);
        s[key] = v.metaType().id() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
      }
      break;
    }
  }
  return s;
}

int SettingsWatch::compare(AuditTrail& trail, const WatchedFile& file, bool outside, bool record) const {
  if (!trail.isWritable()) return 0;
  SettingsSnapshot secrets;
  const SettingsSnapshot plain = split(readSettingsFile(file), &secrets);
  bool known = false;
  const SettingsSnapshot was = decode(trail.knownFile(file.name, &known));
  SettingsSnapshot now = plain;
  int recorded = 0;
  if (!known) {
    for (auto it = secrets.cbegin(); it != secrets.cend(); ++it) now[it.key()] = hashSecret(it.value());
    if (record) {
      QStringList lines;
      for (auto it = plain.cbegin(); it != plain.cend(); ++it) lines << it.key() + QLatin1Char('=') + it.value();
      for (auto it = secrets.cbegin(); it != secrets.cend(); ++it)
        if (!it.key().endsWith(kSecretSuffix)) lines << it.key() + QStringLiteral(u"=(скрыто)");
      trail.record(AuditKind::SettingsFileTaken, file.name,
                   QStringLiteral(u"Файл настроек %1 взят под контроль: параметров %2").arg(file.name).arg(lines.size() - 1),
                   QString(), lines.join(QLatin1Char('\n')));
      ++recorded;
    }
    trail.setKnownFile(file.name, encode(now));
    return recorded;
  }
  // A file gone is one change, not one for each of its settings.
  const bool gone = plain.value(kFileKey) != was.value(kFileKey) && !QFileInfo(file.path).isFile();
  QSet<QString> keys;
  for (const SettingsSnapshot* m : {&plain, const_cast<const SettingsSnapshot*>(&secrets), &was})
    for (auto it = m->cbegin(); it != m->cend(); ++it) keys.insert(it.key());
  QStringList sorted(keys.begin(), keys.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.removeOne(kFileKey);
  sorted.prepend(kFileKey);
  for (const QString& key : sorted) {
    const QString subject = file.name + QStringLiteral(": ") + key;
    if (isSecretKey(key)) {
      const QString old = was.value(key), value = secrets.value(key);
      const bool same = matchesSecret(old, value);
      if (!value.isEmpty() || !old.isEmpty()) now[key] = same ? old : hashSecret(value);
      if (!same && record && !gone) {
        trail.recordSettingChange(subject, old.isEmpty() ? QString() : QStringLiteral("*"), value, outside);
        ++recorded;
      }
      continue;
    }
    const bool had = was.contains(key), has = plain.contains(key);
    if (had == has && was.value(key) == plain.value(key)) continue;
    if (record && (!gone || key == kFileKey)) {
      trail.recordSettingChange(subject, was.value(key), plain.value(key), outside);
      ++recorded;
    }
  }
  if (now != was) trail.setKnownFile(file.name, encode(now));
  return recorded;
}

int SettingsWatch::checkOutside(AuditTrail& trail) const {
  int n = 0;
  for (const WatchedFile& f : files_) n += compare(trail, f, true, true);
  return n;
}

int SettingsWatch::recordWritten(AuditTrail& trail, const QStringList& paths) const {
  int n = 0;
  for (const WatchedFile& f : files_)
    for (const QString& p : paths)
      if (QFileInfo(p).absoluteFilePath() == QFileInfo(f.path).absoluteFilePath()) n += compare(trail, f, false, true);
  return n;
}

void SettingsWatch::acceptWritten(AuditTrail& trail, const QString& path) const {
  for (const WatchedFile& f : files_)
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(f.path).absoluteFilePath()) compare(trail, f, false, false);
}
