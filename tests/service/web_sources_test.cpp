// The web pages ask for the program's own accounts and show its own audit
// trail: an account added in the window logs in at once, a locked or broken
// accounts file lets nobody in, and the trail reads newest first through
// the page's filters.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "data/audit_trail.h"
#include "data/result_store.h"
#include "platform/seams.h"
#include "service/web_sources.h"
#include "web/web_settings.h"

namespace {

class WebSourcesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    accountsPath_ = QDir(dir_.path()).filePath(QStringLiteral("korvex-users.ini"));
  }
  void TearDown() override { seams::resetAll(); }

  void addAccount(const QString& name, Role role, const QString& password) {
    UserAccounts accounts;
    ASSERT_TRUE(accounts.load(accountsPath_));
    QString error;
    ASSERT_TRUE(accounts.add(name, role, password, &error)) << error.toStdString();
    ASSERT_TRUE(accounts.save(&error)) << error.toStdString();
  }

  QTemporaryDir dir_;
  QString accountsPath_;
};

TEST_F(WebSourcesTest, TheProgramsAccountsLogInWithTheirRolesAndReplaceTheSettingsPassword) {
  const QString settingsHash = web::hashPassword("общий-пароль");
  const AccountUsers users(accountsPath_, settingsHash);
  // No accounts yet: the settings' single password, under any name.
  EXPECT_TRUE(users.hasUsers());
  EXPECT_FALSE(users.namesUsers());
  EXPECT_TRUE(users.authenticate(QString(), "общий-пароль").has_value());

  addAccount(QStringLiteral(u"Админ"), Role::Administrator, QStringLiteral(u"пароль-админа"));
  addAccount(QStringLiteral(u"Петров"), Role::Engineer, QStringLiteral(u"пароль-инженера"));
  EXPECT_TRUE(users.namesUsers());  // the file is read again at once
  const std::optional<web::WebUser> engineer = users.authenticate(QStringLiteral(u"петров"), "пароль-инженера");
  ASSERT_TRUE(engineer.has_value());
  EXPECT_EQ(engineer->name, QStringLiteral(u"Петров"));
  EXPECT_EQ(engineer->role, web::Role::Engineer);
  EXPECT_FALSE(users.authenticate(QString(), "общий-пароль").has_value()) << "the settings' password is out";
  EXPECT_FALSE(users.authenticate(QStringLiteral(u"Петров"), "не-тот-пароль").has_value());
  EXPECT_FALSE(users.authenticate(QStringLiteral(u"Сидоров"), "пароль-инженера").has_value());

  // Wrong passwords lock the account here as in the window; the file is the window's.
  const QByteArray before = [&] {
    QFile f(accountsPath_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  for (int i = 0; i < 5; ++i) users.authenticate(QStringLiteral(u"Петров"), "не-тот-пароль");
  EXPECT_FALSE(users.authenticate(QStringLiteral(u"Петров"), "пароль-инженера").has_value());
  QFile after(accountsPath_);
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), before);
}

TEST_F(WebSourcesTest, AnAccountsFileThatCannotBeReadLetsNobodyIn) {
  QFile broken(accountsPath_);
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("[Users]\nsize=1\n1\\Name=\n1\\Role=engineer\n");
  broken.close();
  UserAccounts probe;
  ASSERT_FALSE(probe.load(accountsPath_)) << "the file must be one the program refuses";
  const AccountUsers users(accountsPath_, web::hashPassword("общий-пароль"));
  EXPECT_TRUE(users.hasUsers());
  EXPECT_FALSE(users.authenticate(QString(), "общий-пароль").has_value());
}

TEST_F(WebSourcesTest, AccountsLetThePagesOutOnAnotherAddressAsAPasswordDoes) {
  web::WebSettings w;
  w.enabled = true;
  w.address = QStringLiteral("192.0.2.10");
  w.allowPlainHttp = true;
  EXPECT_EQ(web::webProblems(w, false).size(), 1);
  EXPECT_TRUE(web::webProblems(w, true).isEmpty());
}

TEST_F(WebSourcesTest, TheAuditPageReadsTheTrailNewestFirstThroughItsFilters) {
  const QString db = QDir(dir_.path()).filePath(QStringLiteral("korvex.db"));
  qint64 now = QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC).toMSecsSinceEpoch();
  seams::setClock([&now] { return QDateTime::fromMSecsSinceEpoch(now, Qt::OffsetFromUTC, 3 * 3600); });
  {
    ResultStore store;
    ASSERT_TRUE(store.open(db, now).isWritable());
    AuditTrail trail;
    ASSERT_TRUE(trail.open(db, true));
    trail.setUser(QStringLiteral(u"Петров"));
    trail.record(AuditKind::MaintenanceOn, QString(), QStringLiteral(u"Техобслуживание начато (Петров)"));
    now += 60000;
    trail.setUser(QStringLiteral(u"Иванова"));
    trail.record(AuditKind::SettingChanged, QStringLiteral("Limits/CO"), QStringLiteral(u"Норматив CO"),
                 QStringLiteral("50"), QStringLiteral("100"));
    now += 60000;
    trail.setUser(QStringLiteral(u"Петров"));
    trail.record(AuditKind::MaintenanceOff, QString(), QStringLiteral(u"Техобслуживание окончено (Петров)"));
  }
  TrailAudit audit(db);
  ASSERT_TRUE(audit.available());
  web::AuditFilter all;
  all.fromUtcMs = 0;
  all.toUtcMs = now + 1;
  const QVector<web::AuditEntry> entries = audit.entries(all);
  ASSERT_GE(entries.size(), 3);
  EXPECT_EQ(entries[0].detail, QStringLiteral(u"Техобслуживание окончено (Петров)"));
  EXPECT_EQ(entries[1].user, QStringLiteral(u"Иванова"));
  EXPECT_EQ(entries[1].detail, QStringLiteral(u"Limits/CO: Норматив CO (было: 50; стало: 100)"));

  web::AuditFilter someone = all;
  someone.user = QStringLiteral(u"петр");
  someone.action = QStringLiteral(u"ОБСЛУЖ");  // "Обслуживание начато", "...закончено"
  const QVector<web::AuditEntry> his = audit.entries(someone);
  ASSERT_EQ(his.size(), 2);
  EXPECT_TRUE(his[0].detail.contains(QStringLiteral(u"окончено")));
  EXPECT_TRUE(his[1].detail.contains(QStringLiteral(u"начато")));
  someone.limit = 1;
  EXPECT_EQ(audit.entries(someone).size(), 1);

  EXPECT_FALSE(TrailAudit(QDir(dir_.path()).filePath(QStringLiteral("none.db"))).available());
}

}  // namespace
