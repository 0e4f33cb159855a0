// The audit trail and the accounts as the program keeps them: its runs, the
// days sealed after midnight, settings changed inside and outside it, the
// check at start, and who may give which command.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QAction>
#include <QActionGroup>
#include <QLineEdit>
#include <QSettings>
#include <QToolButton>

#include "data/trail_check.h"
#include "dialogs/login_dialog.h"
#include "emissions/emission_settings.h"
#include "platform/timer.h"
#include "service/audit_keeper.h"
#include "storage/settings_files.h"
#include "storage/user_accounts.h"
#include "support/korvex_fixture.h"
#include "support/test_files.h"

namespace {

const QDate kDay(2026, 12, 6);

Measurement reading(double o2) {
  Measurement m;
  m.values[channel::O2] = o2;
  return m;
}

class AuditTest : public KorvexFixture {
 protected:
  AuditKeeper& keeper() { return *host().audit(); }
  AuditTrail& trail() { return keeper().trail(); }
  QVector<AuditEntry> entries(AuditKind kind) {
    QVector<AuditEntry> out;
    for (const AuditEntry& e : trail().entriesAfter(0, 100000))
      if (e.kind == kind) out << e;
    return out;
  }
  void restartAt(const QDateTime& at) {
    stopProgram();
    setNow(at);
    startProgram();
  }
  QAction* action(const char* name) { return find<QAction>(name); }
  // Enabled as the menu shows it: the action and the group the gate keeps it in.
  bool shownEnabled(QAction* a) { return a->isEnabled(); }
};

TEST_F(AuditTest, ARunIsRecordedAndItsDayIsSealedAfterMidnightAndItsLogWritten) {
  setNow(QDateTime(kDay, QTime(23, 50)));
  startWithDefaults();
  const QVector<AuditEntry> started = entries(AuditKind::ProgramStarted);
  ASSERT_EQ(started.size(), 1);
  EXPECT_EQ(started[0].subject, QStringLiteral(u"окно"));
  EXPECT_EQ(started[0].osUser, osUserName());
  // Every settings file is under watch from the first start, missing ones too.
  EXPECT_EQ(entries(AuditKind::SettingsFileTaken).size(), 5);
  for (int i = 0; i < 3; ++i) addResult(reading(3 + i), i);

  // Midnight: the log is written; the seal waits for the averages.
  setNow(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  tick();
  const QVector<AuditEntry> logs = entries(AuditKind::DailyLogWritten);
  ASSERT_EQ(logs.size(), 1);
  EXPECT_TRUE(logs[0].subject.endsWith(QStringLiteral("korvex-26-12-06.ask"))) << logs[0].subject.toStdString();
  keeper().sealTimer()->fire();
  EXPECT_EQ(trail().sealOf(kDay).id, 0);
  setNow(QDateTime(kDay.addDays(1), QTime(0, 6)));
  keeper().sealTimer()->fire();
  const AuditEntry seal = trail().sealOf(kDay);
  ASSERT_NE(seal.id, 0);
  EXPECT_TRUE(seal.text.startsWith(QStringLiteral(u"День 06.12.2026 опечатан: результатов 3"))) << seal.text.toStdString();

  stopProgram();
  const TrailCheck check = checkTrail(inDir(QStringLiteral("korvex.db")), TrailCheckScope());
  EXPECT_EQ(check.status, TrailCheck::Status::Whole) << check.line.toStdString();
  EXPECT_EQ(check.days, 1);
  // The stop is the last entry.
  startProgram();
  const QVector<AuditEntry> all = trail().entriesAfter(0, 1000);
  int stops = 0;
  for (const AuditEntry& e : all) stops += e.kind == AuditKind::ProgramStopped;
  EXPECT_EQ(stops, 1);
}

TEST_F(AuditTest, SettingsChangedByTheProgramAndOutsideItAreRecordedSettingBySetting) {
  startWithDefaults();
  emissions::EmissionSettings limits = settings().emissions();
  limits.limits[emissions::Component::CO].interval = 100.0;
  QString error;
  ASSERT_TRUE(settings().setEmissions(limits, &error));
  // The file appears, with each of its keys.
  QVector<AuditEntry> changed = entries(AuditKind::SettingChanged);
  ASSERT_GE(changed.size(), 2);
  EXPECT_EQ(changed[0].subject, QStringLiteral(u"korvex-emissions.ini: (файл)"));
  EXPECT_EQ(changed[0].after, QStringLiteral(u"есть"));
  bool co = false;
  for (const AuditEntry& e : changed)
    if (e.subject == QStringLiteral("korvex-emissions.ini: CO/IntervalLimit")) {
      co = true;
      EXPECT_EQ(e.before, QString());
      EXPECT_EQ(e.after, QStringLiteral("100"));
    }
  EXPECT_TRUE(co);
  stopProgram();

  // While the program is off: the limit in the file and the address in the record.
  {
    QSettings s(inDir(QStringLiteral("korvex-emissions.ini")), QSettings::IniFormat);
    s.setValue(QStringLiteral("CO/IntervalLimit"), QStringLiteral("250"));
  }
  QByteArray record = test_files::readAll(inDir(QStringLiteral("korvex.ini")));
  ASSERT_EQ(record.size(), kProgramSettingsSize);
  record[62] = char(7);
  ASSERT_TRUE(test_files::writeAll(inDir(QStringLiteral("korvex.ini")), record));

  startProgram();
  const QVector<AuditEntry> outside = entries(AuditKind::SettingChangedOutside);
  ASSERT_EQ(outside.size(), 2);
  EXPECT_EQ(outside[0].subject, QStringLiteral("korvex.ini: Program/NetAddress"));
  EXPECT_EQ(outside[0].before, QStringLiteral("1"));
  EXPECT_EQ(outside[0].after, QStringLiteral("7"));
  EXPECT_TRUE(outside[0].text.startsWith(QStringLiteral(u"Изменено вне программы: "))) << outside[0].text.toStdString();
  EXPECT_EQ(outside[1].subject, QStringLiteral("korvex-emissions.ini: CO/IntervalLimit"));
  EXPECT_EQ(outside[1].before, QStringLiteral("100"));
  EXPECT_EQ(outside[1].after, QStringLiteral("250"));

  // What the program writes itself is not found again at the next start;
  // neither is the run state the device record carries.
  window().onStopClicked();
  changeMeasuring([](MeasuringSettings&) {});
  restartAt(now().addSecs(60));
  EXPECT_EQ(entries(AuditKind::SettingChangedOutside).size(), 2);
}

TEST_F(AuditTest, ABrokenTrailIsToldAtStartAndRecorded) {
  startWithDefaults();
  for (int i = 0; i < 3; ++i) trail().record(AuditKind::SettingChanged, QStringLiteral("x"), QStringLiteral("x"));
  stopProgram();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(inDir(QStringLiteral("korvex.db")).toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "DROP TRIGGER audit_entries_never_deleted;"
                         "DELETE FROM audit_entries WHERE id = (SELECT max(id) FROM audit_entries)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close_v2(db);

  startProgram();
  const std::vector<Notice> shown = takeNotices();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_EQ(shown[0].topic, NoticeTopic::Audit);
  EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral(u"Журнал аудита нарушен:\r\nзаписи "))) << shown[0].text.toStdString();
  const QVector<AuditEntry> broken = entries(AuditKind::TrailBroken);
  ASSERT_EQ(broken.size(), 1);
  // Recorded, the break stays visible to --verify though the chain goes on.
  stopProgram();
  const TrailCheck check = checkTrail(inDir(QStringLiteral("korvex.db")), TrailCheckScope());
  EXPECT_EQ(check.status, TrailCheck::Status::Broken);
  EXPECT_EQ(check.brokenEntry, broken[0].id);
  startProgram();
  EXPECT_TRUE(takeNotices().empty());
}

TEST_F(AuditTest, TheChainGoesOnInTheDatabaseThatReplacesADamagedOne) {
  startWithDefaults();
  stopProgram();
  ChainHead end;
  ASSERT_TRUE(readChainHead(inDir(QStringLiteral("korvex.db")), &end));
  ASSERT_TRUE(test_files::writeAll(inDir(QStringLiteral("korvex.db")), QByteArray("damaged\n").repeated(1000)));

  startProgram();
  const std::vector<Notice> shown = takeNotices();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].text.contains(QStringLiteral(u"была повреждена"))) << shown[0].text.toStdString();
  const QVector<AuditEntry> all = trail().entriesAfter(0, 100);
  ASSERT_GE(all.size(), 2);
  EXPECT_EQ(all[0].kind, AuditKind::DatabaseMovedAside);
  EXPECT_EQ(all[0].id, end.id + 1);
  EXPECT_EQ(all[0].prevHash, end.hash);
  EXPECT_TRUE(all[0].subject.contains(QStringLiteral(".corrupt-"))) << all[0].subject.toStdString();
  EXPECT_EQ(all[1].kind, AuditKind::ProgramStarted);
  stopProgram();
  const TrailCheck check = checkTrail(inDir(QStringLiteral("korvex.db")), TrailCheckScope());
  EXPECT_EQ(check.status, TrailCheck::Status::Whole) << check.line.toStdString();
}

TEST_F(AuditTest, ACommandTheUserMayNotGiveIsDisabledWithTheReason) {
  // Without accounts nothing changes.
  startWithDefaults();
  EXPECT_TRUE(action("N6")->isEnabled());
  EXPECT_FALSE(find<QLabel>("LabelUser")->isVisibleTo(&window()));
  stopProgram();

  writeAccounts();
  // Nobody has logged in yet.
  startProgram();
  QAction* options = action("N6");
  EXPECT_FALSE(options->isEnabled());
  EXPECT_TRUE(options->toolTip().startsWith(QStringLiteral(u"Недоступно: никто не вошёл в систему"))) << options->toolTip().toStdString();
  EXPECT_FALSE(action("EmissionReportAction")->isEnabled());
  EXPECT_TRUE(action("LoginAction")->isEnabled());
  EXPECT_EQ(find<QLabel>("LabelUser")->text(), QStringLiteral(u"Вход не выполнен"));
  // A mode button keeps its own state in its holder: disabled by the gate.
  auto* cyclic = find<QToolButton>("BitBtnCikl");
  EXPECT_FALSE(cyclic->isEnabled());
  EXPECT_TRUE(cyclic->toolTip().startsWith(QStringLiteral(u"Недоступно"))) << cyclic->toolTip().toStdString();

  // The operator through the login dialog: reports yes, options no.
  modal_ = [this](QDialog* d) {
    find<QLineEdit>("LoginName", d)->setText(QStringLiteral(u"Петров"));
    find<QLineEdit>("LoginPassword", d)->setText(QStringLiteral("Operator-pass-2"));
    d->accept();
    return d->result();
  };
  window().onLoginTriggered();
  modal_ = nullptr;
  EXPECT_EQ(find<QLabel>("LabelUser")->text(), QStringLiteral(u"Пользователь: Петров (оператор)"));
  EXPECT_TRUE(action("EmissionReportAction")->isEnabled());
  EXPECT_FALSE(options->isEnabled());
  EXPECT_EQ(options->toolTip(),
            QStringLiteral(u"Недоступно: опции — нужна роль «администратор» или выше, у пользователя Петров роль «оператор»"));
  EXPECT_FALSE(action("EmissionLimitsAction")->isEnabled());
  EXPECT_FALSE(action("UsersAction")->isEnabled());
  // Called directly all the same, a refused command says why and does nothing.
  takeMessages();
  window().onOptionsTriggered();
  const std::vector<RecordedMessage> refused = takeMessages();
  ASSERT_EQ(refused.size(), 1);
  EXPECT_TRUE(refused[0].text.contains(QStringLiteral(u"нужна роль «администратор»")));

  // The administrator may do everything; the mode button is the window's again.
  EXPECT_EQ(host().access().login(QStringLiteral("ADMIN"), QStringLiteral("Admin-pass-1")).result,
            UserAccounts::LoginResult::Ok);
  EXPECT_TRUE(options->isEnabled());
  EXPECT_TRUE(action("UsersAction")->isEnabled());
  EXPECT_FALSE(cyclic->isEnabled());  // no analyzer ready yet: the window's own reason
  EXPECT_EQ(cyclic->toolTip(), QStringLiteral(u"Запустить циклическое измерение"));
  const QVector<AuditEntry> logins = entries(AuditKind::Login);
  ASSERT_EQ(logins.size(), 2);
  EXPECT_EQ(logins[1].user, QStringLiteral("admin"));
  EXPECT_EQ(entries(AuditKind::Logout).size(), 1);  // Петров, as admin came
}

TEST_F(AuditTest, WrongPasswordsLockTheAccountForAWhileAndAnIdleUserIsLoggedOut) {
  writeDefaultSettings();
  writeAccounts();
  startProgram();
  takeMessages();
  AccessControl& access = host().access();
  for (int i = 1; i <= 4; ++i) {
    const auto out = access.login(QStringLiteral("admin"), QStringLiteral("wrong-guess-%1").arg(i));
    EXPECT_EQ(out.result, UserAccounts::LoginResult::WrongPassword);
    EXPECT_EQ(out.attemptsLeft, 5 - i);
  }
  // The count survives a restart.
  restartAt(now().addSecs(10));
  AccessControl& again = host().access();
  const auto fifth = again.login(QStringLiteral("admin"), QStringLiteral("wrong-guess-5"));
  EXPECT_EQ(fifth.result, UserAccounts::LoginResult::NowLocked);
  EXPECT_EQ(AccessControl::outcomeText(fifth), QStringLiteral(u"Учётная запись заблокирована до 06.12.2026 10:15"));
  // Locked: not even the right password.
  EXPECT_EQ(again.login(QStringLiteral("admin"), QStringLiteral("Admin-pass-1")).result, UserAccounts::LoginResult::Locked);
  advance(15 * 60);
  EXPECT_EQ(again.login(QStringLiteral("admin"), QStringLiteral("Admin-pass-1")).result, UserAccounts::LoginResult::Ok);
  // An unknown name is recorded without the name, which may be a password typed there.
  EXPECT_EQ(again.login(QStringLiteral("Admin-pass-1"), QStringLiteral("x")).result, UserAccounts::LoginResult::UnknownUser);

  EXPECT_EQ(entries(AuditKind::LoginFailed).size(), 4 + 1 + 1);  // four wrong, one locked, one unknown
  EXPECT_EQ(entries(AuditKind::AccountLocked).size(), 1);
  for (const AuditEntry& e : trail().entriesAfter(0, 1000)) EXPECT_FALSE(e.text.contains(QStringLiteral("Admin-pass-1")));

  // Still logged in as admin (the unknown name changed nothing); idle for the set time.
  ASSERT_TRUE(again.state().role.has_value());
  advance(14 * 60);
  again.idleTimer()->fire();
  EXPECT_TRUE(again.state().role.has_value());
  again.noteActivity();
  advance(15 * 60);
  again.idleTimer()->fire();
  EXPECT_FALSE(again.state().role.has_value());
  const QVector<AuditEntry> out = entries(AuditKind::Logout);
  ASSERT_FALSE(out.isEmpty());
  EXPECT_EQ(out.last().text, QStringLiteral(u"Выход: admin (нет действий 15 мин)"));
}

}  // namespace
