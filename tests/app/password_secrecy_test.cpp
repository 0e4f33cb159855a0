// No password leaves where it belongs: neither an account's (typed right or
// wrong, set or changed) nor the broker's or the central database's appears
// in the results database, its log, the files beside it, what the program
// logs, what the broker hands out, or the central copy of the audit trail.
// The program runs with publishing to a real broker and a real PostgreSQL.

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>

#include "service/audit_keeper.h"
#include "service/publishing.h"
#include "publish/publish_support.h"
#include "publish/service_settings.h"
#include "storage/user_accounts.h"
#include "support/korvex_fixture.h"
#include "support/mosquitto_server.h"
#include "support/mqtt_subscriber.h"
#include "support/postgres_server.h"
#include "support/test_files.h"

namespace {

constexpr int kWaitMs = 60000;
const QString kAdmin = QStringLiteral("Adm1n-Secret-Pass");
const QString kWrong = QStringLiteral("Wr0ng-Guess-Pass");
const QString kChanged = QStringLiteral("Ch4nged-Secret-Pass");
const QString kOldBroker = QStringLiteral("Old-Broker-Pw-31");
const QString kBroker = QStringLiteral("Broker-Pw-77");

class PasswordSecrecyTest : public KorvexFixture {};

TEST_F(PasswordSecrecyTest, NoPasswordReachesTheDatabaseTheLogsTheBrokerOrTheCentralCopy) {
  MosquittoServer::Options brokerOptions;
  brokerOptions.user = QStringLiteral("boiler");
  brokerOptions.password = kBroker;
  MosquittoServer broker(brokerOptions);
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  MqttSubscriber::Options listen;
  listen.port = broker.port();
  listen.user = QStringLiteral("boiler");
  listen.password = kBroker;
  MqttSubscriber sub(listen);
  ASSERT_TRUE(sub.start({QStringLiteral("#")})) << sub.lastError().toStdString();
  publish_test::LogCapture log;

  writeDefaultSettings();
  publish::ServiceSettings service;
  service.site = QStringLiteral("plant-7");
  service.analyzerName = QStringLiteral("boiler-3");
  service.mqtt.enabled = true;
  service.mqtt.host = QStringLiteral("127.0.0.1");
  service.mqtt.port = broker.port();
  service.mqtt.user = QStringLiteral("boiler");
  service.mqtt.password = kOldBroker;  // refused by the broker: changed below
  service.central.enabled = true;
  service.central.connection = db.connectionString();
  service.central.retryMinMs = 200;
  service.central.retryMaxMs = 500;
  service.mqtt.retryMinMs = 200;
  service.mqtt.retryMaxMs = 1000;
  QString error;
  ASSERT_TRUE(publish::saveServiceSettings(publish::defaultServiceSettingsPath(), service, &error)) << error.toStdString();
  {
    UserAccounts accounts;
    ASSERT_TRUE(accounts.load(UserAccounts::defaultPath()));
    ASSERT_TRUE(accounts.add(QStringLiteral("admin"), Role::Administrator, kAdmin, &error));
    ASSERT_TRUE(accounts.save(&error));
  }

  startProgram();
  AccessControl& access = host().access();
  EXPECT_EQ(access.login(QStringLiteral("admin"), kWrong).result, UserAccounts::LoginResult::WrongPassword);
  EXPECT_EQ(access.login(kWrong, kWrong).result, UserAccounts::LoginResult::UnknownUser);
  EXPECT_EQ(access.login(QStringLiteral("admin"), kAdmin).result, UserAccounts::LoginResult::Ok);
  ASSERT_TRUE(access.setPassword(QStringLiteral("admin"), kChanged, &error)) << error.toStdString();
  // The broker's password set right through the program, as the dialog does.
  service.mqtt.password = kBroker;
  ASSERT_TRUE(settings().setService(service, &error)) << error.toStdString();
  for (int i = 0; i < 3; ++i) {
    Measurement m;
    m.values[channel::O2] = 5 + i;
    addResult(m, i);
  }
  // Everything there is goes out: results to the broker, the trail to the central database.
  const qint64 lastEntry = host().audit()->trail().head().id;
  ASSERT_TRUE(publish_test::waitUntil(
      [&] {
        publish::CentralForwarder* central = session().publishing().central();
        return central && central->deliveredAuditId() >= lastEntry && central->deliveredSeq() == 3 &&
               session().publishing().mqtt() && session().publishing().mqtt()->deliveredSeq() == 3;
      },
      kWaitMs))
      << session().publishing().stateText().toStdString();
  // The daily log at midnight.
  setNow(QDateTime(now().date().addDays(1), QTime(0, 0, 1)));
  tick();
  stopProgram();

  // Outside the program: the old password back in the file, noticed at start.
  service.mqtt.password = kOldBroker;
  ASSERT_TRUE(publish::saveServiceSettings(publish::defaultServiceSettingsPath(), service, &error));
  startProgram();
  bool noticed = false;
  for (const AuditEntry& e : host().audit()->trail().entriesAfter(0, 1000))
    noticed |= e.kind == AuditKind::SettingChangedOutside && e.subject.endsWith(QStringLiteral("Mqtt/Password"));
  EXPECT_TRUE(noticed);
  const qint64 lastAgain = host().audit()->trail().head().id;
  ASSERT_TRUE(publish_test::waitUntil(
      [&] {
        publish::CentralForwarder* central = session().publishing().central();
        return central && central->deliveredAuditId() >= lastAgain;
      },
      kWaitMs));
  stopProgram();

  const QStringList secrets{kAdmin, kWrong, kChanged, kOldBroker, kBroker, db.password()};
  // The program's files, the accounts' and the service settings' own aside.
  QByteArray files;
  for (QDirIterator it(dir_.path(), QDir::Files); it.hasNext();) {
    const QString path = it.next();
    if (path == UserAccounts::defaultPath() || path == publish::defaultServiceSettingsPath()) continue;
    files += test_files::readAll(path);
  }
  ASSERT_GT(files.size(), 10000);
  QByteArray broker_;
  for (const MqttMessage& m : sub.messages()) broker_ += m.topic.toUtf8() + m.payload;
  ASSERT_FALSE(broker_.isEmpty());
  const QString central =
      db.query(QStringLiteral("SELECT string_agg(concat_ws('|', user_name, os_user, subject, before, after, text), '\n')"
                              " FROM korvex_audit"))
          .value(0)
          .value(0) +
      db.query(QStringLiteral("SELECT string_agg(text, '\n') FROM korvex_events")).value(0).value(0);
  ASSERT_TRUE(central.contains(QStringLiteral(u"Неудачный вход"))) << central.toStdString();
  ASSERT_TRUE(central.contains(QStringLiteral(u"Пароль пользователя admin изменён"))) << central.toStdString();
  for (const QString& secret : secrets) {
    const QByteArray s = secret.toUtf8();
    EXPECT_FALSE(files.contains(s)) << secret.toStdString();
    EXPECT_FALSE(log.all().contains(secret)) << secret.toStdString();
    EXPECT_FALSE(broker_.contains(s)) << secret.toStdString();
    EXPECT_FALSE(central.contains(secret)) << secret.toStdString();
  }
  // Not the account's hash either.
  UserAccounts accounts;
  ASSERT_TRUE(accounts.load(UserAccounts::defaultPath()));
  const QString hash = accounts.find(QStringLiteral("admin"))->passwordHash;
  ASSERT_TRUE(UserAccounts::verifyPassword(hash, kChanged));
  EXPECT_FALSE(files.contains(hash.toLatin1()));
  EXPECT_FALSE(central.contains(hash));
}

}  // namespace
