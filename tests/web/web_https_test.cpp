// The web view over HTTPS, with a certificate of the test's own authority:
// the browser's side checks it, the cookie is Secure, and the server tells
// browsers to stay on HTTPS.

#include <gtest/gtest.h>

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

#include "support/test_ca.h"
#include "web/web_service.h"

TEST(WebHttps, PagesAreServedOverTlsWithASecureCookie) {
  TestCa ca;
  ASSERT_TRUE(ca.create()) << ca.lastError().toStdString();
  web::WebSettings settings;
  settings.enabled = true;
  settings.port = 0;
  settings.certificateFile = ca.serverCertFile();
  settings.keyFile = ca.serverKeyFile();
  settings.passwordHash = web::hashPassword("Tls-Pass-123");
  ASSERT_TRUE(web::webProblems(settings).isEmpty());
  web::WebService service;
  QString error;
  ASSERT_TRUE(service.start(settings, nullptr, std::make_unique<web::SinglePasswordUsers>(settings.passwordHash),
                            std::make_unique<web::NoAuditTrail>(), &error))
      << error.toStdString();
  EXPECT_TRUE(service.url().startsWith(QStringLiteral("https://")));

  QSslSocket socket;
  QSslConfiguration config = QSslConfiguration::defaultConfiguration();
  config.setCaCertificates(QSslCertificate::fromPath(ca.caFile()));
  socket.setSslConfiguration(config);
  socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), service.port());
  ASSERT_TRUE(socket.waitForEncrypted(10000)) << socket.errorString().toStdString();
  const QByteArray body = "password=Tls-Pass-123";
  socket.write("POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
               "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  QByteArray answer;
  while (socket.waitForReadyRead(5000)) answer += socket.readAll();
  answer += socket.readAll();
  EXPECT_TRUE(answer.startsWith("HTTP/1.1 303")) << answer.left(80).constData();
  EXPECT_TRUE(answer.contains("; Secure")) << answer.constData();
  EXPECT_TRUE(answer.contains("Strict-Transport-Security: max-age="));

  // Plain HTTP on the same port gets no page.
  QTcpSocket plain;
  plain.connectToHost(QStringLiteral("127.0.0.1"), service.port());
  ASSERT_TRUE(plain.waitForConnected(5000));
  plain.write("GET /login HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  QByteArray got;
  while (plain.waitForReadyRead(3000)) got += plain.readAll();
  EXPECT_FALSE(got.contains("200 OK"));
  service.stop();
}
