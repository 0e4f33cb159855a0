#include "service/web_sources.h"

#include <QFileInfo>
#include <QMutexLocker>

#include "data/audit_trail.h"
#include "platform/seams.h"

namespace {

web::Role webRole(Role role) {
  switch (role) {
    case Role::Operator:
      return web::Role::Operator;
    case Role::Engineer:
      return web::Role::Engineer;
    case Role::Administrator:
      return web::Role::Administrator;
  }
  return web::Role::Operator;
}

}  // namespace

AccountUsers::AccountUsers(QString accountsPath, QString settingsPasswordHash)
    : path_(std::move(accountsPath)), fallback_(std::move(settingsPasswordHash)) {}

bool AccountUsers::refresh() const {
  const QFileInfo info(path_);
  const qint64 size = info.exists() ? info.size() : -1;
  const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
  if (size != readSize_ || modified != readModified_) {
    readSize_ = size;
    readModified_ = modified;
    unreadable_ = !accounts_.load(path_);
  }
  return unreadable_ || !accounts_.isEmpty();
}

bool AccountUsers::hasUsers() const {
  QMutexLocker lock(&mutex_);
  return refresh() || fallback_.hasUsers();
}

bool AccountUsers::namesUsers() const {
  QMutexLocker lock(&mutex_);
  return refresh() || fallback_.namesUsers();
}

std::optional<web::WebUser> AccountUsers::authenticate(const QString& name, const QByteArray& password) const {
  QMutexLocker lock(&mutex_);
  if (!refresh()) return fallback_.authenticate(name, password);
  if (unreadable_) return std::nullopt;
  const UserAccounts::LoginOutcome outcome =
      accounts_.login(name, QString::fromUtf8(password), seams::currentDateTime().toMSecsSinceEpoch());
  if (outcome.result != UserAccounts::LoginResult::Ok) return std::nullopt;
  return web::WebUser{outcome.name, webRole(outcome.role)};
}

TrailAudit::TrailAudit(QString dbPath) : dbPath_(std::move(dbPath)) {}

TrailAudit::~TrailAudit() = default;

bool TrailAudit::available() const { return QFileInfo(dbPath_).isFile(); }

QVector<web::AuditEntry> TrailAudit::entries(const web::AuditFilter& filter) {
  if (!trail_) {
    auto trail = std::make_unique<AuditTrail>();
    if (!trail->openForReading(dbPath_)) return {};
    trail_ = std::move(trail);
  }
  QVector<web::AuditEntry> out;
  const QVector<AuditEntry> all = trail_->entriesBetween(filter.fromUtcMs, filter.toUtcMs);
  for (auto e = all.crbegin(); e != all.crend() && out.size() < filter.limit; ++e) {
    const QString action = auditKindText(e->kind);
    if (!filter.user.isEmpty() && !e->user.contains(filter.user, Qt::CaseInsensitive)) continue;
    if (!filter.action.isEmpty() && !action.contains(filter.action, Qt::CaseInsensitive)) continue;
    QString detail = e->text;
    if (!e->subject.isEmpty() && !detail.contains(e->subject)) detail = e->subject + QStringLiteral(": ") + detail;
    // A setting's values; a seal's digest is for --verify, not for reading.
    if ((e->kind == AuditKind::SettingChanged || e->kind == AuditKind::SettingChangedOutside) &&
        (!e->before.isEmpty() || !e->after.isEmpty()))
      detail += QStringLiteral(u" (было: %1; стало: %2)").arg(e->before, e->after);
    out.append(web::AuditEntry{e->utcMs, e->utcOffset, e->user.isEmpty() ? e->osUser : e->user, action, detail});
  }
  return out;
}
