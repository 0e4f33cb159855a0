#include "storage/user_accounts.h"

#include <sodium.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include "data/hashes.h"
#include "platform/seams.h"

namespace {

const QString kIdleKey = QStringLiteral("Access/IdleMinutes");
const QString kLockKey = QStringLiteral("Access/LockMinutes");

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QString utcText(qint64 ms) {
  return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate) : QString();
}

qint64 utcMs(const QString& text) {
  if (text.isEmpty()) return 0;
  const QDateTime t = QDateTime::fromString(text, Qt::ISODate);
  return t.isValid() ? t.toMSecsSinceEpoch() : 0;
}

}  // namespace

QString UserAccounts::defaultPath() {
  const QFileInfo exe(seams::executablePath());
  return exe.absoluteDir().filePath(exe.completeBaseName() + QStringLiteral("-users.ini"));
}

bool UserAccounts::load(const QString& path, QString* error) {
  path_ = path;
  accounts_.clear();
  settings_ = AccessSettings();
  if (!QFileInfo::exists(path)) return true;
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  QFile probe(path);
  if (!probe.open(QIODevice::ReadOnly))
    return fail(QStringLiteral(u"не читается %1: %2").arg(QDir::toNativeSeparators(path), probe.errorString()));
  probe.close();
  QSettings s(path, QSettings::IniFormat);
  if (s.status() != QSettings::NoError)
    return fail(QStringLiteral(u"файл пользователей повреждён: %1").arg(QDir::toNativeSeparators(path)));
  settings_.idleMinutes = std::max(0, s.value(kIdleKey, settings_.idleMinutes).toInt());
  settings_.lockMinutes = std::max(1, s.value(kLockKey, settings_.lockMinutes).toInt());
  const int n = s.beginReadArray(QStringLiteral("Users"));
  for (int i = 0; i < n; ++i) {
    s.setArrayIndex(i);
    UserAccount a;
    a.name = s.value(QStringLiteral("Name")).toString().trimmed();
    const std::optional<Role> role = roleFromName(s.value(QStringLiteral("Role")).toString());
    a.passwordHash = s.value(QStringLiteral("PasswordHash")).toString();
    a.failedLogins = std::max(0, s.value(QStringLiteral("FailedLogins")).toInt());
    a.lockedUntilUtcMs = utcMs(s.value(QStringLiteral("LockedUntil")).toString());
    if (a.name.isEmpty() || !role || !a.passwordHash.startsWith(QLatin1String("$argon2id$"))) {
      s.endArray();
      accounts_.clear();
      return fail(QStringLiteral(u"в файле пользователей неверная запись %1: %2").arg(i + 1).arg(QDir::toNativeSeparators(path)));
    }
    a.role = *role;
    accounts_.append(a);
  }
  s.endArray();
  return true;
}

bool UserAccounts::save(QString* error) const {
  auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  // The text is made in a private directory and the file written here, so
  // it never exists readable by others.
  QTemporaryDir scratch;
  if (!scratch.isValid()) return fail(QStringLiteral(u"не могу создать временный каталог"));
  const QString draft = scratch.filePath(QStringLiteral("users.ini"));
  {
    QSettings s(draft, QSettings::IniFormat);
    s.setValue(kIdleKey, settings_.idleMinutes);
    s.setValue(kLockKey, settings_.lockMinutes);
    s.beginWriteArray(QStringLiteral("Users"), int(accounts_.size()));
    for (int i = 0; i < accounts_.size(); ++i) {
      const UserAccount& a = accounts_[i];
      s.setArrayIndex(i);
      s.setValue(QStringLiteral("Name"), a.name);
      s.setValue(QStringLiteral("Role"), roleName(a.role));
      s.setValue(QStringLiteral("PasswordHash"), a.passwordHash);
      s.setValue(QStringLiteral("FailedLogins"), a.failedLogins);
      s.setValue(QStringLiteral("LockedUntil"), utcText(a.lockedUntilUtcMs));
    }
    s.endArray();
    s.sync();
    if (s.status() != QSettings::NoError) return fail(QStringLiteral(u"не могу подготовить файл пользователей"));
  }
  QFile draftFile(draft);
  if (!draftFile.open(QIODevice::ReadOnly)) return fail(QStringLiteral(u"не могу подготовить файл пользователей"));
  const QByteArray bytes = draftFile.readAll();
  QSaveFile file(path_);
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return fail(file.errorString());
  if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
    file.cancelWriting();
    return fail(QStringLiteral(u"не могу закрыть файл от других пользователей: ") + file.errorString());
  }
  if (file.write(bytes) != bytes.size() || !file.commit()) return fail(file.errorString());
  return true;
}

const UserAccount* UserAccounts::find(const QString& name) const {
  for (const UserAccount& a : accounts_)
    if (sameName(a.name, name.trimmed())) return &a;
  return nullptr;
}

UserAccount* UserAccounts::findMutable(const QString& name) {
  for (UserAccount& a : accounts_)
    if (sameName(a.name, name.trimmed())) return &a;
  return nullptr;
}

int UserAccounts::administrators() const {
  int n = 0;
  for (const UserAccount& a : accounts_)
    if (a.role == Role::Administrator) ++n;
  return n;
}

QString UserAccounts::nameProblem(const QString& name) {
  const QString n = name.trimmed();
  if (n.isEmpty()) return QStringLiteral(u"не задано имя");
  if (n.size() > 64) return QStringLiteral(u"имя длиннее 64 знаков");
  for (QChar c : n)
    if (c.category() == QChar::Other_Control) return QStringLiteral(u"в имени управляющий знак");
  return QString();
}

QString UserAccounts::passwordProblem(const QString& password) {
  if (password.size() < kMinPasswordLength)
    return QStringLiteral(u"пароль короче %1 знаков").arg(kMinPasswordLength);
  if (password.trimmed() != password) return QStringLiteral(u"пароль начинается или кончается пробелом");
  return QString();
}

bool UserAccounts::add(const QString& name, Role role, const QString& password, QString* error) {
  QString why = nameProblem(name);
  if (why.isEmpty() && find(name)) why = QStringLiteral(u"пользователь %1 уже есть").arg(name.trimmed());
  if (why.isEmpty() && accounts_.isEmpty() && role != Role::Administrator)
    why = QStringLiteral(u"первым заводится администратор");
  if (why.isEmpty()) why = passwordProblem(password);
  if (!why.isEmpty()) {
    if (error) *error = why;
    return false;
  }
  UserAccount a;
  a.name = name.trimmed();
  a.role = role;
  a.passwordHash = hashPassword(password);
  if (a.passwordHash.isEmpty()) {
    if (error) *error = QStringLiteral(u"не хватает памяти для хэша пароля");
    return false;
  }
  accounts_.append(a);
  return true;
}

bool UserAccounts::setRole(const QString& name, Role role, QString* error) {
  UserAccount* a = findMutable(name);
  QString why;
  if (!a)
    why = QStringLiteral(u"нет пользователя %1").arg(name);
  else if (a->role == Role::Administrator && role != Role::Administrator && administrators() == 1)
    why = QStringLiteral(u"это последний администратор");
  if (!why.isEmpty()) {
    if (error) *error = why;
    return false;
  }
  a->role = role;
  return true;
}

bool UserAccounts::setPassword(const QString& name, const QString& password, QString* error) {
  UserAccount* a = findMutable(name);
  QString why = a ? passwordProblem(password) : QStringLiteral(u"нет пользователя %1").arg(name);
  QString hash;
  if (why.isEmpty()) {
    hash = hashPassword(password);
    if (hash.isEmpty()) why = QStringLiteral(u"не хватает памяти для хэша пароля");
  }
  if (!why.isEmpty()) {
    if (error) *error = why;
    return false;
  }
  a->passwordHash = hash;
  a->failedLogins = 0;
  a->lockedUntilUtcMs = 0;
  return true;
}

bool UserAccounts::remove(const QString& name, QString* error) {
  const UserAccount* a = find(name);
  QString why;
  if (!a)
    why = QStringLiteral(u"нет пользователя %1").arg(name);
  else if (a->role == Role::Administrator && administrators() == 1 && accounts_.size() > 1)
    why = QStringLiteral(u"это последний администратор: сначала удалите остальных пользователей");
  if (!why.isEmpty()) {
    if (error) *error = why;
    return false;
  }
  accounts_.removeIf([&](const UserAccount& u) { return sameName(u.name, name.trimmed()); });
  return true;
}

bool UserAccounts::unlock(const QString& name) {
  UserAccount* a = findMutable(name);
  if (!a) return false;
  a->failedLogins = 0;
  a->lockedUntilUtcMs = 0;
  return true;
}

UserAccounts::LoginOutcome UserAccounts::login(const QString& name, const QString& password, qint64 nowUtcMs) {
  LoginOutcome out;
  UserAccount* a = findMutable(name);
  if (!a) {
    // As long as a wrong password takes: the time does not tell names apart.
    static const QString dummy = hashPassword(QStringLiteral("korvex-no-such-user"));
    verifyPassword(dummy, password);
    out.result = LoginResult::UnknownUser;
    return out;
  }
  out.name = a->name;
  out.role = a->role;
  if (a->lockedUntilUtcMs > nowUtcMs) {
    out.result = LoginResult::Locked;
    out.lockedUntilUtcMs = a->lockedUntilUtcMs;
    return out;
  }
  if (verifyPassword(a->passwordHash, password)) {
    a->failedLogins = 0;
    a->lockedUntilUtcMs = 0;
    out.result = LoginResult::Ok;
    return out;
  }
  ++a->failedLogins;
  if (a->failedLogins >= AccessSettings::kMaxFailedLogins) {
    a->failedLogins = 0;
    a->lockedUntilUtcMs = nowUtcMs + qint64(settings_.lockMinutes) * 60000;
    out.result = LoginResult::NowLocked;
    out.lockedUntilUtcMs = a->lockedUntilUtcMs;
    return out;
  }
  out.result = LoginResult::WrongPassword;
  out.attemptsLeft = AccessSettings::kMaxFailedLogins - a->failedLogins;
  return out;
}

QString UserAccounts::hashPassword(const QString& password) {
  if (!sodiumReady()) return QString();
  const QByteArray utf8 = password.toUtf8();
  char hash[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str_alg(hash, utf8.constData(), static_cast<unsigned long long>(utf8.size()),
                            crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                            crypto_pwhash_ALG_ARGON2ID13) != 0)
    return QString();
  return QString::fromLatin1(hash);
}

bool UserAccounts::verifyPassword(const QString& hash, const QString& password) {
  if (!sodiumReady() || !hash.startsWith(QLatin1String("$argon2id$"))) return false;
  const QByteArray h = hash.toLatin1(), utf8 = password.toUtf8();
  return crypto_pwhash_str_verify(h.constData(), utf8.constData(), static_cast<unsigned long long>(utf8.size())) == 0;
}
