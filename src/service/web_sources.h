#pragma once
// Who may see this program's web pages and what its audit trail shows there:
// the program's own accounts and trail, so that the pages ask for the same
// names, passwords and roles as the window does.

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <memory>

#include "storage/user_accounts.h"
#include "web/web_source.h"

class AuditTrail;

// The accounts of "<program>-users.ini" (storage/user_accounts.h); without
// any, the single password of the settings ([Web] PasswordHash). The file is
// read again when it changed, so an account added in the window logs in at
// once, and a file that cannot be read lets nobody in. A locked account
// stays locked here; failures count here too, in memory only: the window
// owns the file.
class AccountUsers : public web::UserDirectory {
 public:
  AccountUsers(QString accountsPath, QString settingsPasswordHash);
  bool hasUsers() const override;
  std::optional<web::WebUser> authenticate(const QString& name, const QByteArray& password) const override;
  bool namesUsers() const override;

 private:
  // Reads the file when it changed; true when accounts are in force.
  bool refresh() const;

  mutable QMutex mutex_;
  QString path_;
  web::SinglePasswordUsers fallback_;
  mutable UserAccounts accounts_;
  mutable QDateTime readModified_;
  mutable qint64 readSize_ = -2;  // never read
  mutable bool unreadable_ = false;
};

// The audit trail of the results database, read through a connection of
// its own, opened in the web thread at the first request.
class TrailAudit : public web::AuditSource {
 public:
  explicit TrailAudit(QString dbPath);
  ~TrailAudit() override;
  bool available() const override;
  // The filter's user and action match as parts of the name and of the
  // kind's text, in any case; newest first, at most its limit.
  QVector<web::AuditEntry> entries(const web::AuditFilter& filter) override;

 private:
  QString dbPath_;
  std::unique_ptr<AuditTrail> trail_;
};
