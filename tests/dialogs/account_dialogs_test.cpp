// The login dialog, the users dialog and the audit log viewer: what they
// refuse and say, what they leave behind (never a password in a field), and
// the audit log filtered and exported.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include "data/audit_trail.h"
#include "data/result_store.h"
#include "dialogs/audit_log_dialog.h"
#include "dialogs/login_dialog.h"
#include "dialogs/users_dialog.h"
#include "emissions/report_csv.h"
#include "storage/access_control.h"
#include "support/korvex_fixture.h"
#include "support/test_files.h"

namespace {

class AccountDialogsTest : public KorvexFixture {
 protected:
  template <class T = QWidget>
  T* in(QWidget* dialog, const char* name) {
    return find<T>(name, dialog);
  }
  void fill(UsersDialog& d, const QString& name, Role role, const QString& password, const QString& repeat) {
    in<QLineEdit>(&d, "UserName")->setText(name);
    auto* roles = in<QComboBox>(&d, "UserRole");
    roles->setCurrentIndex(roles->findData(int(role)));
    in<QLineEdit>(&d, "UserPassword")->setText(password);
    in<QLineEdit>(&d, "UserPasswordRepeat")->setText(repeat);
  }
  QString said(UsersDialog& d) { return in<QLabel>(&d, "UsersMessage")->text(); }
};

TEST_F(AccountDialogsTest, TheUsersDialogMakesTheFirstAdministratorAndKeepsOneAlways) {
  AccessControl access;
  ASSERT_TRUE(access.load());
  UsersDialog d(access);
  // The first account can only be an administrator's.
  EXPECT_EQ(in<QComboBox>(&d, "UserRole")->currentData().toInt(), int(Role::Administrator));
  fill(d, QStringLiteral("admin"), Role::Administrator, QStringLiteral("Long-enough-1"), QStringLiteral("Long-enough-2"));
  d.onAdd();
  EXPECT_EQ(said(d), QStringLiteral(u"Пароли не совпадают"));
  fill(d, QStringLiteral("admin"), Role::Operator, QStringLiteral("short"), QStringLiteral("short"));
  d.onAdd();
  EXPECT_EQ(said(d), QStringLiteral(u"первым заводится администратор"));
  fill(d, QStringLiteral("admin"), Role::Administrator, QStringLiteral("short"), QStringLiteral("short"));
  d.onAdd();
  EXPECT_EQ(said(d), QStringLiteral(u"пароль короче 8 знаков"));
  EXPECT_TRUE(in<QLineEdit>(&d, "UserPassword")->text().isEmpty());

  fill(d, QStringLiteral("admin"), Role::Administrator, QStringLiteral("Long-enough-1"), QStringLiteral("Long-enough-1"));
  d.onAdd();
  EXPECT_EQ(said(d), QStringLiteral(u"Пользователь admin добавлен"));
  // Whoever made it is logged in as it: the program does not lock itself out.
  EXPECT_EQ(access.state().role, Role::Administrator);
  fill(d, QStringLiteral(u"Петров"), Role::Operator, QStringLiteral("Operator-pw-1"), QStringLiteral("Operator-pw-1"));
  d.onAdd();
  ASSERT_EQ(in<QTableWidget>(&d, "UsersTable")->rowCount(), 2);
  EXPECT_EQ(in<QTableWidget>(&d, "UsersTable")->item(1, 1)->text(), QStringLiteral(u"оператор"));

  fill(d, QStringLiteral("admin"), Role::Engineer, QString(), QString());
  d.onSetRole();
  EXPECT_EQ(said(d), QStringLiteral(u"это последний администратор"));
  answers_.push_back(seams::MsgResult::Yes);
  d.onRemove();
  EXPECT_EQ(said(d), QStringLiteral(u"это последний администратор: сначала удалите остальных пользователей"));

  // Five wrong passwords lock Петров; the table says so until unlocked.
  for (int i = 0; i < AccessSettings::kMaxFailedLogins; ++i) access.login(QStringLiteral(u"петров"), QStringLiteral("nope-nope"));
  EXPECT_EQ(access.state().user, QStringLiteral("admin"));  // a failure logs nobody out
  EXPECT_TRUE(in<QTableWidget>(&d, "UsersTable")->item(1, 2)->text().startsWith(QStringLiteral(u"заблокирована до")));
  fill(d, QStringLiteral(u"Петров"), Role::Operator, QString(), QString());
  d.onUnlock();
  EXPECT_TRUE(in<QTableWidget>(&d, "UsersTable")->item(1, 2)->text().isEmpty());

  in<QSpinBox>(&d, "IdleMinutes")->setValue(30);
  d.onSaveSettings();
  UserAccounts saved;
  ASSERT_TRUE(saved.load(UserAccounts::defaultPath()));
  EXPECT_EQ(saved.settings().idleMinutes, 30);
  EXPECT_EQ(saved.accounts().size(), 2);
  EXPECT_EQ(QFileInfo(UserAccounts::defaultPath()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
  EXPECT_FALSE(test_files::readAll(UserAccounts::defaultPath()).contains("Long-enough-1"));

  // An operator may change only their own password.
  ASSERT_EQ(access.login(QStringLiteral(u"Петров"), QStringLiteral("Operator-pw-1")).result, UserAccounts::LoginResult::Ok);
  fill(d, QStringLiteral("admin"), Role::Administrator, QStringLiteral("Taken-over-1"), QStringLiteral("Taken-over-1"));
  d.onSetPassword();
  EXPECT_EQ(said(d), QStringLiteral(u"Нет права управлять пользователями"));
  fill(d, QStringLiteral(u"Петров"), Role::Operator, QStringLiteral("Operator-pw-2"), QStringLiteral("Operator-pw-2"));
  d.onSetPassword();
  EXPECT_EQ(said(d), QStringLiteral(u"Пароль изменён"));
  // The fields are emptied when the dialog closes.
  in<QLineEdit>(&d, "UserPassword")->setText(QStringLiteral("typed"));
  d.reject();
  EXPECT_TRUE(in<QLineEdit>(&d, "UserPassword")->text().isEmpty());
}

TEST_F(AccountDialogsTest, TheLoginDialogStaysOpenAfterAWrongPasswordAndForgetsIt) {
  LoginDialog d;
  d.setCheck([](const QString& name, const QString& password) {
    return name == QLatin1String("admin") && password == QLatin1String("right-one") ? QString()
                                                                                      : QStringLiteral(u"Неверное имя пользователя или пароль");
  });
  d.prepare(QStringLiteral("admin"));
  in<QLineEdit>(&d, "LoginPassword")->setText(QStringLiteral("wrong-one"));
  d.accept();
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_EQ(in<QLabel>(&d, "LoginMessage")->text(), QStringLiteral(u"Неверное имя пользователя или пароль"));
  EXPECT_TRUE(in<QLineEdit>(&d, "LoginPassword")->text().isEmpty());
  in<QLineEdit>(&d, "LoginPassword")->setText(QStringLiteral("right-one"));
  d.accept();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_TRUE(in<QLineEdit>(&d, "LoginPassword")->text().isEmpty());
}

TEST_F(AccountDialogsTest, TheAuditLogFiltersByDayUserAndKindAndExportsWithTheHashes) {
  const QString path = inDir(QStringLiteral("korvex.db"));
  ResultStore store;
  ASSERT_TRUE(store.open(path, 0).isWritable());
  AuditTrail trail;
  ASSERT_TRUE(trail.open(path, true));
  setNow(QDateTime(QDate(2026, 12, 5), QTime(9, 0)));
  trail.setUser(QStringLiteral("admin"));
  trail.record(AuditKind::Login, QStringLiteral("admin"), QStringLiteral(u"Вход: admin"));
  setNow(QDateTime(QDate(2026, 12, 6), QTime(9, 0)));
  trail.record(AuditKind::SettingChanged, QStringLiteral("CO/IntervalLimit"), QStringLiteral(u"«100» → «120; \"новое\"»"),
               QStringLiteral("100"), QStringLiteral("120"));
  trail.setUser(QStringLiteral(u"Петров"));
  trail.record(AuditKind::AlarmAcknowledged, QString(), QStringLiteral(u"Квитировано"));

  AuditLogDialog d;
  d.setTrail(&trail);
  EXPECT_EQ(d.shown().size(), 2);  // today only
  in<QDateEdit>(&d, "DateFrom")->setDate(QDate(2026, 12, 5));
  d.refresh();
  EXPECT_EQ(d.shown().size(), 3);
  auto* user = in<QComboBox>(&d, "AuditUser");
  ASSERT_EQ(user->count(), 3);  // all, admin, Петров
  user->setCurrentIndex(user->findData(QStringLiteral("admin")));
  d.refresh();
  EXPECT_EQ(d.shown().size(), 2);
  auto* kind = in<QComboBox>(&d, "AuditKind");
  kind->setCurrentIndex(kind->findData(int(AuditKind::SettingChanged)));
  d.refresh();
  ASSERT_EQ(d.shown().size(), 1);
  EXPECT_EQ(in<QTableWidget>(&d, "AuditTable")->item(0, 4)->text(), QStringLiteral("CO/IntervalLimit"));

  fileDialog_ = [this](const seams::FileDialogRequest&) { return inDir(QStringLiteral("audit.csv")); };
  d.exportCsv();
  const QVector<QStringList> rows = emissions::parseCsv(test_files::readAll(inDir(QStringLiteral("audit.csv"))), QLatin1Char(';'));
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0].first(), QStringLiteral("id"));
  EXPECT_EQ(rows[1][0], QStringLiteral("2"));
  EXPECT_EQ(rows[1][4], QStringLiteral("settingChanged"));
  EXPECT_EQ(rows[1][9], QStringLiteral(u"«100» → «120; \"новое\"»"));
  const AuditEntry second = trail.entriesAfter(1, 1).value(0);
  EXPECT_EQ(rows[1][10], QString::fromLatin1(second.prevHash.toHex()));
  EXPECT_EQ(rows[1][11], QString::fromLatin1(second.hash.toHex()));

  d.check();
  EXPECT_EQ(in<QLabel>(&d, "AuditStatus")->text(), QStringLiteral(u"цепочка цела: 3 записи, 0 дней"));
}

}  // namespace
