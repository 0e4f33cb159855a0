#include "data/recovery_file.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "device/fuel_table.h"

namespace recovery {
namespace {

const QByteArray kMagic = QByteArrayLiteral("KORVEX-RECOVERY 1\n");
constexpr int kHashBytes = 32;
// More than a full disk can hold back in a run: a bound for a damaged count.
constexpr quint32 kMostItems = 50'000'000;

QString errorOf(const QFileDevice& file, const QString& path) {
  return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
}

}  // namespace

QString besideDatabase(const QString& dbPath) { return dbPath + QStringLiteral("-recovery"); }

QString inRuntimeFolder(const QString& dbPath) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  const QByteArray key = QCryptographicHash::hash(QFileInfo(dbPath).absoluteFilePath().toUtf8(),
                                                  QCryptographicHash::Sha256).toHex().left(16);
  return QDir(folder).filePath(QStringLiteral("korvex-%1.recovery").arg(QString::fromLatin1(key)));
}

bool write(const QString& path, const Content& content, QString* error) {
  QByteArray body;
  {
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << quint32(content.results.size());
    for (const Result& r : content.results) {
      out << qint64(r.utcMs) << qint32(r.utcOffset) << qint32(r.faultBits);
      for (double v : r.values) out << v;
      out << quint8(r.mode) << quint8(r.fuelIndex) << quint8(r.address) << quint8(r.status);
    }
    out << quint32(content.events.size());
    for (const StoredEvent& e : content.events) out << qint64(e.utcMs) << qint32(e.utcOffset) << qint32(e.kind) << e.text;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    *error = errorOf(file, path);
    return false;
  }
  file.write(kMagic);
  file.write(body);
  file.write(QCryptographicHash::hash(kMagic + body, QCryptographicHash::Sha256));
  if (!file.commit()) {
    *error = errorOf(file, path);
    return false;
  }
  return true;
}

bool read(const QString& path, Content* content, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = errorOf(file, path);
    return false;
  }
  const QByteArray all = file.readAll();
  const QString broken = QStringLiteral(u"%1: файл повреждён").arg(QDir::toNativeSeparators(path));
  if (all.size() < kMagic.size() + kHashBytes || !all.startsWith(kMagic) ||
      QCryptographicHash::hash(all.left(all.size() - kHashBytes), QCryptographicHash::Sha256) != all.right(kHashBytes)) {
    *error = broken;
    return false;
  }
  QDataStream in(all.mid(kMagic.size(), all.size() - kMagic.size() - kHashBytes));
  in.setVersion(QDataStream::Qt_6_0);
  Content c;
  quint32 n = 0;
  in >> n;
  if (n > kMostItems) {
    *error = broken;
    return false;
  }
  for (quint32 i = 0; i < n && in.status() == QDataStream::Ok; ++i) {
    Result r;
    qint64 utcMs;
    qint32 offset, faults;
    quint8 mode, fuel, address, status;
    in >> utcMs >> offset >> faults;
    for (double& v : r.values) in >> v;
    in >> mode >> fuel >> address >> status;
    r.utcMs = utcMs;
    r.utcOffset = offset;
    r.faultBits = faults;
    // The hash finds damage, not a file made to look whole: what is taken
    // in must be a result the program could have taken.
    if (mode > uint8_t(WorkMode::StartUp) || fuel >= kFuelCount || address == 0 || status >= kResultStatusCount) {
      *error = broken;
      return false;
    }
    r.mode = WorkMode(mode);
    r.fuelIndex = fuel;
    r.address = address;
    r.status = ResultStatus(status);
    c.results.push_back(r);
  }
  in >> n;
  if (n > kMostItems) {
    *error = broken;
    return false;
  }
  for (quint32 i = 0; i < n && in.status() == QDataStream::Ok; ++i) {
    StoredEvent e;
    qint64 utcMs;
    qint32 offset, kind;
    in >> utcMs >> offset >> kind >> e.text;
    e.utcMs = utcMs;
    e.utcOffset = offset;
    if (kind < 0 || kind > 255) {
      *error = broken;
      return false;
    }
    e.kind = EventKind(kind);
    c.events.push_back(e);
  }
  if (in.status() != QDataStream::Ok || !in.atEnd()) {
    *error = broken;
    return false;
  }
  *content = std::move(c);
  return true;
}

}  // namespace recovery
