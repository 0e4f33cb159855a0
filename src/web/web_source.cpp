#include "web/web_source.h"

#include <QMutexLocker>

#include "web/web_settings.h"

namespace web {

void LiveHub::publish(const LiveSnapshot& snapshot) {
  {
    QMutexLocker lock(&mutex_);
    auto it = std::find_if(snapshots_.begin(), snapshots_.end(),
                           [&](const LiveSnapshot& s) { return s.id == snapshot.id; });
    if (it == snapshots_.end())
      snapshots_.push_back(snapshot);
    else
      *it = snapshot;
  }
  emit changed(snapshot.id);
}

void LiveHub::remove(const QString& id) {
  {
    QMutexLocker lock(&mutex_);
    snapshots_.erase(std::remove_if(snapshots_.begin(), snapshots_.end(),
                                    [&](const LiveSnapshot& s) { return s.id == id; }),
                     snapshots_.end());
  }
  emit changed(id);
}

std::vector<LiveSnapshot> LiveHub::all() const {
  QMutexLocker lock(&mutex_);
  return snapshots_;
}

std::optional<LiveSnapshot> LiveHub::find(const QString& id) const {
  QMutexLocker lock(&mutex_);
  for (const LiveSnapshot& s : snapshots_)
    if (s.id == id) return s;
  return std::nullopt;
}

QString roleText(Role role) {
  switch (role) {
    case Role::Operator: return QStringLiteral(u"оператор");
    case Role::Engineer: return QStringLiteral(u"инженер");
    case Role::Administrator: return QStringLiteral(u"администратор");
  }
  return {};
}

std::optional<WebUser> SinglePasswordUsers::authenticate(const QString& name, const QByteArray& password) const {
  if (!verifyPassword(hash_, password)) return std::nullopt;
  return WebUser{name.isEmpty() ? QStringLiteral("admin") : name, Role::Administrator};
}

}  // namespace web
