#include "storage/access_control.h"

#include <QDateTime>

#include "data/audit_trail.h"
#include "platform/seams.h"
#include "platform/timer.h"

namespace {

QString timeText(qint64 utcMs) {
  return QDateTime::fromMSecsSinceEpoch(utcMs).toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

}  // namespace

AccessControl::AccessControl(QObject* parent) : QObject(parent), idleTimer_(new Timer(30000, this)) {
  connect(idleTimer_, &Timer::timeout, this, &AccessControl::onIdleCheck);
}

bool AccessControl::load(const QString& path, QString* error) {
  unreadable_ = !accounts_.load(path, error);
  setUser(QString(), std::nullopt);
  return !unreadable_;
}

void AccessControl::setTrail(AuditTrail* trail) {
  if (!trail) {
    setTrailCall(nullptr);
    return;
  }
  setTrailCall([trail](const std::function<void(AuditTrail&)>& f) { f(*trail); });
}

void AccessControl::setTrailCall(TrailCall call) {
  trailCall_ = std::move(call);
  const QString user = user_;
  withTrail([user](AuditTrail& t) { t.setUser(user); });
}

void AccessControl::withTrail(std::function<void(AuditTrail&)> f) {
  if (trailCall_) trailCall_(std::move(f));
}

AccessState AccessControl::state() const {
  AccessState s;
  s.accountsExist = unreadable_ || !accounts_.isEmpty();
  s.role = role_;
  s.user = user_;
  return s;
}

qint64 AccessControl::nowUtcMs() const { return seams::currentDateTime().toMSecsSinceEpoch(); }

void AccessControl::setUser(const QString& name, std::optional<Role> role) {
  user_ = name;
  role_ = role;
  withTrail([name](AuditTrail& t) { t.setUser(name); });
  lastActivityUtcMs_ = nowUtcMs();
  idleTimer_->setEnabled(role.has_value() && accounts_.settings().idleMinutes > 0);
  emit changed();
}

UserAccounts::LoginOutcome AccessControl::login(const QString& name, const QString& password) {
  if (unreadable_) return {};
  const UserAccounts::LoginOutcome out = accounts_.login(name, password, nowUtcMs());
  auto record = [this](AuditKind kind, const QString& subject, const QString& text) {
    withTrail([kind, subject, text](AuditTrail& t) { t.record(kind, subject, text); });
  };
  if (out.result != UserAccounts::LoginResult::UnknownUser && out.result != UserAccounts::LoginResult::Locked &&
      accounts_.save())  // the failure count survives a restart
    emit accountsSaved();
  switch (out.result) {
    case UserAccounts::LoginResult::Ok:
      if (role_) logout(QStringLiteral(u"вход другого пользователя"));
      setUser(out.name, out.role);
      record(AuditKind::Login, out.name, QStringLiteral(u"Вход: %1 (%2)").arg(out.name, roleText(out.role)));
      break;
    case UserAccounts::LoginResult::UnknownUser:
      // The name typed is not kept: it may be a password typed in the wrong box.
      record(AuditKind::LoginFailed, QString(), QStringLiteral(u"Неудачный вход: неизвестное имя пользователя"));
      break;
    case UserAccounts::LoginResult::WrongPassword:
      record(AuditKind::LoginFailed, out.name,
             QStringLiteral(u"Неудачный вход: %1, неверный пароль (до блокировки попыток: %2)").arg(out.name).arg(out.attemptsLeft));
      break;
    case UserAccounts::LoginResult::Locked:
      record(AuditKind::LoginFailed, out.name,
             QStringLiteral(u"Неудачный вход: %1, учётная запись заблокирована до %2").arg(out.name, timeText(out.lockedUntilUtcMs)));
      break;
    case UserAccounts::LoginResult::NowLocked:
      record(AuditKind::AccountLocked, out.name,
             QStringLiteral(u"%1 неудачных попыток входа подряд: %2 заблокирована до %3")
                 .arg(AccessSettings::kMaxFailedLogins)
                 .arg(out.name, timeText(out.lockedUntilUtcMs)));
      break;
  }
  return out;
}

QString AccessControl::outcomeText(const UserAccounts::LoginOutcome& out) {
  switch (out.result) {
    case UserAccounts::LoginResult::Ok: return QString();
    case UserAccounts::LoginResult::UnknownUser:
    case UserAccounts::LoginResult::WrongPassword:
      return QStringLiteral(u"Неверное имя пользователя или пароль");
    case UserAccounts::LoginResult::Locked:
    case UserAccounts::LoginResult::NowLocked:
      return QStringLiteral(u"Учётная запись заблокирована до %1").arg(timeText(out.lockedUntilUtcMs));
  }
  return QString();
}

void AccessControl::logout(const QString& why) {
  if (!role_) return;
  const QString name = user_;
  const QString text = why.isEmpty() ? QStringLiteral(u"Выход: %1").arg(name)
                                     : QStringLiteral(u"Выход: %1 (%2)").arg(name, why);
  withTrail([name, text](AuditTrail& t) { t.record(AuditKind::Logout, name, text); });
  setUser(QString(), std::nullopt);
}

void AccessControl::noteActivity() { lastActivityUtcMs_ = nowUtcMs(); }

void AccessControl::onIdleCheck() {
  const int minutes = accounts_.settings().idleMinutes;
  if (!role_ || minutes <= 0) return;
  if (nowUtcMs() - lastActivityUtcMs_ >= qint64(minutes) * 60000)
    logout(QStringLiteral(u"нет действий %1 мин").arg(minutes));
}

bool AccessControl::saveAndRecord(int kind, const QString& subject, const QString& text, const QString& before,
                                  const QString& after, QString* error) {
  if (!accounts_.save(error)) {
    accounts_.load(accounts_.path());  // back to what the file holds
    emit changed();
    return false;
  }
  emit accountsSaved();
  withTrail([kind, subject, text, before, after](AuditTrail& t) {
    t.record(AuditKind(kind), subject, text, before, after);
  });
  // The last account gone: the program is open again; whoever was logged in stays so until logout.
  emit changed();
  return true;
}

bool AccessControl::addUser(const QString& name, Role role, const QString& password, QString* error) {
  if (!allows(Command::Users) || unreadable_) return false;
  if (!accounts_.add(name, role, password, error)) return false;
  const bool first = accounts_.accounts().size() == 1;
  const QString n = name.trimmed();
  if (!saveAndRecord(int(AuditKind::UserAdded), n, QStringLiteral(u"Добавлен пользователь %1 (%2)").arg(n, roleText(role)),
                     QString(), roleName(role), error))
    return false;
  // Whoever made the first account is logged in as it: the program does not lock itself out.
  if (first) {
    setUser(accounts_.find(n)->name, role);
    const QString text = QStringLiteral(u"Вход: %1 (%2)").arg(n, roleText(role));
    withTrail([n, text](AuditTrail& t) { t.record(AuditKind::Login, n, text); });
  }
  return true;
}

bool AccessControl::setRole(const QString& name, Role role, QString* error) {
  if (!allows(Command::Users)) return false;
  const UserAccount* a = accounts_.find(name);
  const Role before = a ? a->role : role;
  if (!accounts_.setRole(name, role, error)) return false;
  const QString n = accounts_.find(name)->name;
  if (!saveAndRecord(int(AuditKind::UserChanged), n,
                     QStringLiteral(u"Роль пользователя %1: %2 → %3").arg(n, roleText(before), roleText(role)),
                     roleName(before), roleName(role), error))
    return false;
  if (n == user_) setUser(n, role);
  return true;
}

bool AccessControl::setPassword(const QString& name, const QString& password, QString* error) {
  // Anybody may change their own password; an administrator anybody's.
  const bool own = role_ && accounts_.find(name) && accounts_.find(name)->name == user_;
  if (!own && !allows(Command::Users)) return false;
  if (!accounts_.setPassword(name, password, error)) return false;
  const QString n = accounts_.find(name)->name;
  return saveAndRecord(int(AuditKind::UserChanged), n, QStringLiteral(u"Пароль пользователя %1 изменён").arg(n), QString(),
                       QString(), error);
}

bool AccessControl::removeUser(const QString& name, QString* error) {
  if (!allows(Command::Users)) return false;
  const UserAccount* a = accounts_.find(name);
  const QString n = a ? a->name : name;
  const Role role = a ? a->role : Role::Operator;
  if (!accounts_.remove(name, error)) return false;
  return saveAndRecord(int(AuditKind::UserRemoved), n, QStringLiteral(u"Удалён пользователь %1 (%2)").arg(n, roleText(role)),
                       roleName(role), QString(), error);
}

bool AccessControl::unlockUser(const QString& name, QString* error) {
  if (!allows(Command::Users)) return false;
  if (!accounts_.unlock(name)) {
    if (error) *error = QStringLiteral(u"нет пользователя %1").arg(name);
    return false;
  }
  const QString n = accounts_.find(name)->name;
  return saveAndRecord(int(AuditKind::UserChanged), n, QStringLiteral(u"Учётная запись %1 разблокирована").arg(n), QString(),
                       QString(), error);
}

bool AccessControl::setSettings(const AccessSettings& settings, QString* error) {
  if (!allows(Command::Users)) return false;
  const AccessSettings before = accounts_.settings();
  if (before == settings) return true;
  accounts_.setSettings(settings);
  if (!accounts_.save(error)) {
    accounts_.setSettings(before);
    return false;
  }
  emit accountsSaved();
  withTrail([before, settings](AuditTrail& t) {
    if (before.idleMinutes != settings.idleMinutes)
      t.recordSettingChange(QStringLiteral("Access/IdleMinutes"), QString::number(before.idleMinutes),
                            QString::number(settings.idleMinutes));
    if (before.lockMinutes != settings.lockMinutes)
      t.recordSettingChange(QStringLiteral("Access/LockMinutes"), QString::number(before.lockMinutes),
                            QString::number(settings.lockMinutes));
  });
  idleTimer_->setEnabled(role_.has_value() && settings.idleMinutes > 0);
  emit changed();
  return true;
}
