#include "platform/lock_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool removeLockOfDeadOwner(const QString& path) {
#ifdef Q_OS_UNIX
  const QByteArray name = QFile::encodeName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool removed = false;
  // QLockFile's owner holds the file with flock while it lives.
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // Still the file that was opened, not one a new owner made meanwhile.
    struct stat opened {}, named {};
    if (::fstat(fd, &opened) == 0 && ::stat(name.constData(), &named) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino)
      removed = ::unlink(name.constData()) == 0;
  }
  ::close(fd);
  return removed;
#else
  Q_UNUSED(path);
  return false;
#endif
}

QString serialPortLockPath(const QString& device) {
#ifdef Q_OS_UNIX
  // As QSerialPort names it: the device's name below /dev, '/' as '_', in
  // the first of these directories that is readable and holds it or may.
  QString name = device;
  if (name.startsWith(QLatin1String("/dev/"))) name = name.mid(5);
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  name.prepend(QLatin1String("/LCK.."));
  const QStringList directories = {QStringLiteral("/var/lock"),       QStringLiteral("/etc/locks"),
                                   QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
                                   QStringLiteral("/tmp"),             QStringLiteral("/var/tmp"),
                                   QStringLiteral("/var/lock/lockdev"), QStringLiteral("/run/lock"),
                                   QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
  for (const QString& directory : directories) {
    const QFileInfo info(directory);
    const QString path = directory + name;
    if (info.isReadable() && (QFile::exists(path) || info.isWritable())) return path;
  }
#else
  Q_UNUSED(device);
#endif
  return {};
}
