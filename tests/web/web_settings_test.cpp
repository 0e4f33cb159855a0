// The [Web] section: what switches the web view off with a message, and the
// password kept only as an Argon2id hash.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "publish/service_settings.h"
#include "web/web_settings.h"

namespace {

web::WebSettingsLoad load(const QByteArray& ini) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("korvex-service.ini"));
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(ini);
  f.close();
  return web::loadWebSettings(path);
}

}  // namespace

TEST(WebSettings, LoopbackWithoutPasswordRunsAnotherAddressNeedsHttpsAndAPassword) {
  const web::WebSettingsLoad local = load("[Web]\nEnabled=true\n");
  EXPECT_TRUE(local.problems.isEmpty()) << local.problems.join(';').toStdString();
  EXPECT_EQ(local.settings.address, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(local.settings.port, 8080);

  const web::WebSettingsLoad open = load("[Web]\nEnabled=true\nAddress=0.0.0.0\n");
  ASSERT_FALSE(open.problems.isEmpty());
  EXPECT_TRUE(open.problems.join(';').contains(QStringLiteral("Web/Address")));

  const QString hash = web::hashPassword("Secret-Pass-1");
  const web::WebSettingsLoad plain =
      load("[Web]\nEnabled=true\nAddress=0.0.0.0\nAllowPlainHttp=true\nPasswordHash=\"" + hash.toLatin1() + "\"\n");
  EXPECT_TRUE(plain.problems.isEmpty()) << plain.problems.join(';').toStdString();
  EXPECT_EQ(plain.warnings.size(), 1);  // told at every start

  // Plain HTTP allowed, but no password: still loopback only.
  EXPECT_FALSE(load("[Web]\nEnabled=true\nAddress=0.0.0.0\nAllowPlainHttp=true\n").problems.isEmpty());
  // HTTPS named but its files are not there.
  const web::WebSettingsLoad tls = load("[Web]\nEnabled=true\nCertificate=/nonexistent/cert.pem\nKey=/nonexistent/key.pem\n");
  EXPECT_EQ(tls.problems.size(), 2);
}

TEST(WebSettings, WrongValuesAreNamedAndADisabledSectionIsQuiet) {
  const web::WebSettingsLoad bad = load("[Web]\nEnabled=true\nPort=99999\nAddress=not-an-address\nPasswordHash=plain\n");
  const QString all = bad.problems.join(';');
  EXPECT_TRUE(all.contains(QStringLiteral("Web/Port")));
  EXPECT_TRUE(all.contains(QStringLiteral("Web/Address")));
  EXPECT_TRUE(all.contains(QStringLiteral("Web/PasswordHash")));
  EXPECT_FALSE(load("[Web]\nEnabled=maybe\n").problems.isEmpty());
  const web::WebSettingsLoad off = load("[Mqtt]\nEnabled=true\n");
  EXPECT_FALSE(off.settings.enabled);
  EXPECT_TRUE(off.problems.isEmpty());
}

TEST(WebSettings, ThePasswordIsKeptAsAnArgon2idHashInAFileOfTheOwnersOnly) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("korvex-service.ini"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[Analyzer]\nSite=plant\n");
  f.close();
  const QString hash = web::hashPassword("Secret-Pass-1");
  ASSERT_TRUE(hash.startsWith(QStringLiteral("$argon2id$")));
  QString error;
  ASSERT_TRUE(web::storePasswordHash(path, hash, &error)) << error.toStdString();
  EXPECT_FALSE(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
  QFile back(path);
  ASSERT_TRUE(back.open(QIODevice::ReadOnly));
  const QByteArray text = back.readAll();
  EXPECT_FALSE(text.contains("Secret-Pass-1"));
  EXPECT_TRUE(text.contains("Site=plant"));
  const web::WebSettingsLoad loaded = web::loadWebSettings(path);
  EXPECT_TRUE(web::verifyPassword(loaded.settings.passwordHash, "Secret-Pass-1"));
  EXPECT_FALSE(web::verifyPassword(loaded.settings.passwordHash, "Secret-Pass-2"));
}

TEST(WebSettings, SavingThePublishingSettingsKeepsTheWebSectionAndThePrivateFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("korvex-service.ini"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[Web]\nEnabled=true\nPort=9090\n");
  f.close();
  QString error;
  ASSERT_TRUE(web::storePasswordHash(path, web::hashPassword("Secret-Pass-1"), &error)) << error.toStdString();
  // The publishing dialog writes its own sections, without a password of its own.
  publish::ServiceSettings publishing;
  publishing.site = QStringLiteral("plant");
  publishing.analyzerName = QStringLiteral("boiler");
  ASSERT_TRUE(publish::saveServiceSettings(path, publishing, &error)) << error.toStdString();
  const web::WebSettingsLoad back = web::loadWebSettings(path);
  EXPECT_TRUE(back.settings.enabled);
  EXPECT_EQ(back.settings.port, 9090);
  EXPECT_TRUE(web::verifyPassword(back.settings.passwordHash, "Secret-Pass-1"));
  EXPECT_FALSE(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
}
