#pragma once
// Who is at the program: the accounts file, the account logged in, the
// logout after a while without a key or a click, and every login, failed
// login, logout and change of an account recorded in the audit trail (never
// a password). Without accounts everything is allowed and nothing asked.
//
// An accounts file that cannot be read leaves every command refused rather
// than the program open: it has accounts, and none can be checked.

#include <QObject>
#include <QString>
#include <functional>

#include "storage/permissions.h"
#include "storage/user_accounts.h"

class AuditTrail;
class Timer;

class AccessControl : public QObject {
  Q_OBJECT
 public:
  explicit AccessControl(QObject* parent = nullptr);

  // Reads the accounts file; false with `error` when it cannot be used.
  bool load(const QString& path = UserAccounts::defaultPath(), QString* error = nullptr);
  // Where the entries go (none: not recorded); its user follows the login.
  void setTrail(AuditTrail* trail);
  // The same for a trail in another thread: `call` runs what it is given on
  // the trail there, in the order given.
  using TrailCall = std::function<void(std::function<void(AuditTrail&)>)>;
  void setTrailCall(TrailCall call);

  AccessState state() const;
  bool allows(Command command) const { return state().allows(command); }
  bool accountsExist() const { return state().accountsExist; }
  const UserAccounts& accounts() const { return accounts_; }

  // Checks the password; the outcome is recorded, the failure count saved.
  UserAccounts::LoginOutcome login(const QString& name, const QString& password);
  // The login dialog's text for an outcome.
  static QString outcomeText(const UserAccounts::LoginOutcome& outcome);
  // `why`: empty for a logout asked for.
  void logout(const QString& why = QString());

  // A key pressed or a button clicked: the idle time starts again.
  void noteActivity();
  // Checks the idle time, every 30 s while somebody is logged in.
  Timer* idleTimer() const { return idleTimer_; }

  // Changes to the accounts by whoever may (Command::Users): saved and
  // recorded; false with the reason in Russian.
  bool addUser(const QString& name, Role role, const QString& password, QString* error);
  bool setRole(const QString& name, Role role, QString* error);
  bool setPassword(const QString& name, const QString& password, QString* error);
  bool removeUser(const QString& name, QString* error);
  bool unlockUser(const QString& name, QString* error);
  bool setSettings(const AccessSettings& settings, QString* error);

 signals:
  // Somebody logged in or out, or the accounts changed.
  void changed();
  // The accounts file was written (failure counts included).
  void accountsSaved();

 private:
  void onIdleCheck();
  bool saveAndRecord(int kind, const QString& subject, const QString& text, const QString& before,
                     const QString& after, QString* error);
  void setUser(const QString& name, std::optional<Role> role);
  qint64 nowUtcMs() const;

  UserAccounts accounts_;
  bool unreadable_ = false;
  QString user_;
  std::optional<Role> role_;
  qint64 lastActivityUtcMs_ = 0;
  void withTrail(std::function<void(AuditTrail&)> f);
  TrailCall trailCall_;
  Timer* idleTimer_;
};
