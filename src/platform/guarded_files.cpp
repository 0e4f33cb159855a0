#include "platform/guarded_files.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

namespace {

struct Guard {
  QString what;
  int count = 0;
};

QMutex g_mutex;
QHash<QString, Guard> g_guards;

// The path with its folder's links resolved: the files themselves may not
// exist yet (SQLite makes its log and index as it needs them).
QString key(const QString& path) {
  const QFileInfo info(path);
  const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
  return QDir::cleanPath((folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName());
}

}  // namespace

void guardFile(const QString& path, const QString& what) {
  if (path.isEmpty()) return;
  QMutexLocker lock(&g_mutex);
  Guard& g = g_guards[key(path)];
  g.what = what;
  ++g.count;
}

void unguardFile(const QString& path) {
  if (path.isEmpty()) return;
  QMutexLocker lock(&g_mutex);
  const auto it = g_guards.find(key(path));
  if (it != g_guards.end() && --it->count <= 0) g_guards.erase(it);
}

QString guardedFile(const QString& path) {
  if (path.isEmpty()) return {};
  QStringList names{key(path)};
  const QString target = QFileInfo(path).canonicalFilePath();  // a link to it
  if (!target.isEmpty()) names << key(target);
  QMutexLocker lock(&g_mutex);
  for (const QString& name : names) {
    const auto it = g_guards.constFind(name);
    if (it != g_guards.cend()) return it->what;
  }
  return {};
}
