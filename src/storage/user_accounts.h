#pragma once
// The program's accounts: "<program>-users.ini" beside the program, readable
// by its owner only. Each account has a name, a role, its password as an
// Argon2id hash (libsodium's crypto_pwhash_str; the password itself is never
// kept anywhere) and its count of failed logins; too many in a row lock it
// for a while. Without the file, or with no account in it, the program works
// without logins.
//
//   [Access]
//   IdleMinutes=15       logged out after this long without a key or a click (0: never)
//   LockMinutes=15       an account locked by failed logins stays locked this long
//   [Users]
//   1\Name=Иванов
//   1\Role=administrator
//   1\PasswordHash=$argon2id$v=19$m=65536,t=2,p=1$...
//   1\FailedLogins=0
//   1\LockedUntil=2026-03-01T10:15:00Z
//   size=1

#include <QString>
#include <QVector>
#include <optional>

#include "storage/permissions.h"

struct UserAccount {
  QString name;
  Role role = Role::Operator;
  QString passwordHash;
  int failedLogins = 0;
  qint64 lockedUntilUtcMs = 0;  // 0: not locked
};

struct AccessSettings {
  static constexpr int kMaxFailedLogins = 5;
  int idleMinutes = 15;
  int lockMinutes = 15;
  bool operator==(const AccessSettings& o) const {
    return idleMinutes == o.idleMinutes && lockMinutes == o.lockMinutes;
  }
};

class UserAccounts {
 public:
  static constexpr int kMinPasswordLength = 8;

  // "<program>-users.ini" beside the executable.
  static QString defaultPath();

  // Reads the file; a missing file is no accounts. False with `error` when
  // it cannot be read or makes no sense (then nobody can log in: the caller
  // keeps every command refused rather than open).
  bool load(const QString& path, QString* error = nullptr);
  // Writes the file (owner-only) by atomic replace.
  bool save(QString* error = nullptr) const;
  QString path() const { return path_; }

  bool isEmpty() const { return accounts_.isEmpty(); }
  const QVector<UserAccount>& accounts() const { return accounts_; }
  const UserAccount* find(const QString& name) const;
  AccessSettings settings() const { return settings_; }
  void setSettings(const AccessSettings& settings) { settings_ = settings; }

  // Changes, in memory until save(); false with the reason in Russian.
  bool add(const QString& name, Role role, const QString& password, QString* error);
  bool setRole(const QString& name, Role role, QString* error);
  bool setPassword(const QString& name, const QString& password, QString* error);
  bool remove(const QString& name, QString* error);
  bool unlock(const QString& name);

  enum class LoginResult {
    Ok,
    UnknownUser,
    WrongPassword,
    Locked,     // locked before this attempt: the password was not even tried
    NowLocked,  // this wrong password was one too many
  };
  struct LoginOutcome {
    LoginResult result = LoginResult::UnknownUser;
    Role role = Role::Operator;
    QString name;            // as the account spells it
    qint64 lockedUntilUtcMs = 0;
    int attemptsLeft = 0;    // WrongPassword: before the account locks
  };
  // Checks a password, counting failures (the caller saves).
  LoginOutcome login(const QString& name, const QString& password, qint64 nowUtcMs);

  // Argon2id through libsodium; the hash carries its salt and parameters.
  static QString hashPassword(const QString& password);
  static bool verifyPassword(const QString& hash, const QString& password);
  // Why a password will not do; empty when it will.
  static QString passwordProblem(const QString& password);
  static QString nameProblem(const QString& name);

 private:
  UserAccount* findMutable(const QString& name);
  int administrators() const;

  QString path_;
  QVector<UserAccount> accounts_;
  AccessSettings settings_;
};
