// The web server as a browser or an attacker meets it over loopback: what
// needs a login, how a login fails and is rate-limited, and how requests
// that are too big, too slow, of another method or aimed outside the
// built-in pages are refused.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

#include "web/web_support.h"

using web_test::HttpReply;
using web_test::request;
using web_test::WebServerFixture;

namespace {

const QByteArray kPassword = "Correct-Horse-42";

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(web_.ok()) << web_.error().toStdString(); }
  quint16 port() { return web_.port(); }
  QByteArray cookieHeader() {
    if (cookie_.isEmpty()) cookie_ = web_.login(kPassword);
    return "Cookie: " + cookie_ + "\r\n";
  }

  WebServerFixture web_{QString::fromLatin1(kPassword), 1500};
  QByteArray cookie_;
};

TEST_F(WebServerTest, WithoutALoginOnlyTheLoginPageIsReachable) {
  for (const char* page : {"/", "/analyzer", "/reports", "/events", "/audit", "/assets/overview.js", "/assets/uPlot.iife.min.js"}) {
    const HttpReply r = request(port(), "GET", page);
    EXPECT_EQ(r.status, 303) << page;
    EXPECT_EQ(r.header("location"), "/login") << page;
    EXPECT_FALSE(r.body.contains("<script")) << page;
  }
  for (const char* api : {"/api/overview", "/api/stream", "/api/analyzers", "/api/trend?id=plant-boiler", "/api/report.csv?id=plant-boiler"})
    EXPECT_EQ(request(port(), "GET", api).status, 401) << api;
  const HttpReply login = request(port(), "GET", "/login");
  EXPECT_EQ(login.status, 200);
  EXPECT_TRUE(login.body.contains("name=\"password\""));
}

TEST_F(WebServerTest, ALoginGivesAStrictHttpOnlyCookieThatOpensThePages) {
  const HttpReply r = request(port(), "POST", "/login", {}, "password=" + kPassword.toPercentEncoding());
  ASSERT_EQ(r.status, 303);
  const QByteArray cookie = r.header("set-cookie");
  EXPECT_TRUE(cookie.contains("HttpOnly"));
  EXPECT_TRUE(cookie.contains("SameSite=Strict"));
  EXPECT_TRUE(cookie.contains("Path=/"));
  EXPECT_FALSE(cookie.contains("Secure"));  // plain HTTP on loopback
  const QByteArray header = "Cookie: " + cookie.left(cookie.indexOf(';')) + "\r\n";
  const HttpReply page = request(port(), "GET", "/", header);
  EXPECT_EQ(page.status, 200);
  // No inline script or style may run: the policy allows this origin's files only.
  const QByteArray csp = page.header("content-security-policy");
  EXPECT_TRUE(csp.contains("script-src 'self'"));
  EXPECT_FALSE(csp.contains("unsafe-inline"));
  EXPECT_FALSE(csp.contains("unsafe-eval"));
  EXPECT_FALSE(page.body.contains("<script>"));
  EXPECT_FALSE(page.body.contains("style="));
  const HttpReply overview = request(port(), "GET", "/api/overview", header);
  EXPECT_EQ(overview.status, 200);
  EXPECT_TRUE(overview.body.contains("\"id\":\"plant-boiler\""));
  // A forged or foreign cookie opens nothing; logging out ends the session.
  EXPECT_EQ(request(port(), "GET", "/api/overview", "Cookie: korvex_session=" + QByteArray(64, 'a') + "\r\n").status, 401);
  EXPECT_EQ(request(port(), "GET", "/logout", header).status, 303);
  EXPECT_EQ(request(port(), "GET", "/api/overview", header).status, 401);
}

TEST_F(WebServerTest, WrongPasswordsFailAreLoggedAndAreRateLimited) {
  for (int i = 0; i < 5; ++i) {
    const HttpReply r = request(port(), "POST", "/login", {}, "password=wrong-" + QByteArray::number(i));
    EXPECT_EQ(r.status, 401);
    EXPECT_TRUE(r.header("set-cookie").isEmpty());
    EXPECT_TRUE(QString::fromUtf8(r.body).contains(QStringLiteral(u"Неверный пароль")));
  }
  // Now even the right password is not tried for a while.
  const HttpReply limited = request(port(), "POST", "/login", {}, "password=" + kPassword.toPercentEncoding());
  EXPECT_EQ(limited.status, 429);
  EXPECT_TRUE(limited.header("set-cookie").isEmpty());
  QElapsedTimer wait;
  wait.start();
  while (web_.messages().size() < 6 && wait.elapsed() < 5000) QCoreApplication::processEvents();
  EXPECT_EQ(web_.messages().filter(QStringLiteral(u"неудачный вход с адреса 127.0.0.1")).size(), 5);
}

TEST_F(WebServerTest, OnlyGetHeadAndTheLoginPostAreServed) {
  for (const char* method : {"PUT", "DELETE", "PATCH", "OPTIONS", "TRACE"}) {
    const HttpReply r = request(port(), method, "/api/overview", cookieHeader());
    EXPECT_EQ(r.status, 405) << method;
    EXPECT_EQ(r.header("allow"), "GET, HEAD") << method;
  }
  EXPECT_EQ(request(port(), "POST", "/api/overview", cookieHeader(), "x=1").status, 405);
  EXPECT_EQ(request(port(), "POST", "/", cookieHeader(), "x=1").status, 405);
  const HttpReply head = request(port(), "HEAD", "/api/overview", cookieHeader());
  EXPECT_EQ(head.status, 200);
  EXPECT_GT(head.header("content-length").toInt(), 0);
  EXPECT_TRUE(head.body.isEmpty());
  // A method the parser does not know is refused too.
  const HttpReply odd = web_test::exchange(port(), "BREW /api/overview HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_NE(odd.status, 200);
}

TEST_F(WebServerTest, NothingOutsideTheBuiltInAssetsIsServed) {
  const QByteArray cookie = cookieHeader();
  EXPECT_EQ(request(port(), "GET", "/assets/common.js", cookie).status, 200);
  for (const char* target :
       {"/assets/../../../../etc/passwd", "/assets/%2e%2e/%2e%2e/%2e%2e/etc/passwd", "/assets/%2E%2E%2Fweb_server.cpp",
        "/assets/..%5c..%5cetc%5cpasswd", "/assets/..\\..\\etc\\passwd", "/../../etc/passwd", "/etc/passwd",
        "/assets//etc/passwd", "/assets/%00common.js", "/assets/common.js%00.png", "/assets/./common.js",
        "/assets/common.js/", "/web/assets/common.js", "/assets/"}) {
    const HttpReply r = request(port(), "GET", target, cookie);
    EXPECT_NE(r.status, 200) << target;
    EXPECT_FALSE(r.body.contains("root:")) << target;
    EXPECT_FALSE(r.body.contains("Korvex")) << target;
  }
}

TEST_F(WebServerTest, InvalidUtf8AndHugeHeadersAreRefused) {
  const QByteArray cookie = cookieHeader();
  const HttpReply utf8 = request(port(), "GET", "/api/trend?id=\xff\xfe%ff%c0%af&ch=\xc3\x28", cookie);
  EXPECT_TRUE(utf8.status == 400 || utf8.status == 404) << utf8.status;
  EXPECT_EQ(request(port(), "GET", "/assets/\xc0\xaf\xc0\xaf" "etc", cookie).status, 404);
  EXPECT_EQ(request(port(), "POST", "/login", {}, "password=\xff\xfe\xfd").status, 401);

  // Headers past the limit: refused with 431 (or cut off), never served.
  const HttpReply huge = web_test::exchange(
      port(), "GET /api/overview HTTP/1.1\r\nHost: x\r\n" + cookie + "X-Big: " + QByteArray(64 * 1024, 'a') + "\r\n\r\n");
  EXPECT_NE(huge.status, 200);
  EXPECT_TRUE(huge.status == 431 || huge.status == 0) << huge.status;
  QByteArray many = "GET /api/overview HTTP/1.1\r\nHost: x\r\n" + cookie;
  for (int i = 0; i < 4000; ++i) many += "X-H" + QByteArray::number(i) + ": v\r\n";
  const HttpReply manyHeaders = web_test::exchange(port(), many + "\r\n");
  EXPECT_NE(manyHeaders.status, 200);
  // A login body larger than any form is refused as well.
  EXPECT_NE(request(port(), "POST", "/login", {}, "password=" + QByteArray(100 * 1024, 'x')).status, 200);
  // And the server still answers.
  EXPECT_EQ(request(port(), "GET", "/api/overview", cookie).status, 200);
}

TEST_F(WebServerTest, SlowClientsAreTimedOutAndDoNotHoldOthersUp) {
  // A hundred clients that start a request and never finish it.
  std::vector<std::unique_ptr<QTcpSocket>> slow;
  for (int i = 0; i < 100; ++i) {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QStringLiteral("127.0.0.1"), port());
    ASSERT_TRUE(s->waitForConnected(5000));
    s->write("GET /api/overview HTTP/1.1\r\nHost: x\r\nX-Slow: ");
    s->waitForBytesWritten(1000);
    slow.push_back(std::move(s));
  }
  // Meanwhile others are served at once.
  EXPECT_EQ(request(port(), "GET", "/api/overview", cookieHeader()).status, 200);
  // Each of them is answered 408 and closed after the deadline (1.5 s here).
  for (auto& s : slow) {
    QByteArray got;
    while (s->state() == QAbstractSocket::ConnectedState && s->waitForReadyRead(8000)) got += s->readAll();
    got += s->readAll();
    EXPECT_TRUE(got.startsWith("HTTP/1.1 408")) << got.left(40).constData();
    EXPECT_NE(s->state(), QAbstractSocket::ConnectedState);
  }
  // An idle kept-alive connection closes after the deadline as well.
  QTcpSocket idle;
  idle.connectToHost(QStringLiteral("127.0.0.1"), port());
  ASSERT_TRUE(idle.waitForConnected(5000));
  QElapsedTimer t;
  t.start();
  while (idle.state() == QAbstractSocket::ConnectedState && t.elapsed() < 8000) idle.waitForReadyRead(500);
  EXPECT_NE(idle.state(), QAbstractSocket::ConnectedState);
}

TEST_F(WebServerTest, TheLiveStreamSendsEveryAnalyzerThenEachChange) {
  QTcpSocket s;
  s.connectToHost(QStringLiteral("127.0.0.1"), port());
  ASSERT_TRUE(s.waitForConnected(5000));
  s.write("GET /api/stream HTTP/1.1\r\nHost: x\r\n" + cookieHeader() + "\r\n");
  QByteArray got;
  QElapsedTimer t;
  t.start();
  while (!got.contains("event: overview") && t.elapsed() < 5000)
    if (s.waitForReadyRead(500)) got += s.readAll();
  ASSERT_TRUE(got.contains("text/event-stream")) << got.constData();
  ASSERT_TRUE(got.contains("\"plant-boiler\""));
  web::LiveSnapshot next;
  next.id = QStringLiteral("second");
  next.name = QStringLiteral("boiler-2");
  next.state = QStringLiteral(u"Продувка");
  web_.service().hub().publish(next);
  got.clear();
  t.restart();
  while (!got.contains("\"second\"") && t.elapsed() < 5000)
    if (s.waitForReadyRead(500)) got += s.readAll();
  EXPECT_TRUE(got.contains("event: analyzer"));
  EXPECT_TRUE(QString::fromUtf8(got).contains(QStringLiteral(u"Продувка")));
  // A stream is exempt from the request deadline: an idle connection opened
  // now is closed by it, the stream still gets the next change after that.
  QTcpSocket idle;
  idle.connectToHost(QStringLiteral("127.0.0.1"), port());
  ASSERT_TRUE(idle.waitForConnected(5000));
  t.restart();
  while (idle.state() == QAbstractSocket::ConnectedState && t.elapsed() < 8000) idle.waitForReadyRead(200);
  ASSERT_NE(idle.state(), QAbstractSocket::ConnectedState);
  next.state = QStringLiteral(u"Измерение");
  web_.service().hub().publish(next);
  got.clear();
  t.restart();
  while (!got.contains("\"second\"") && t.elapsed() < 5000)
    if (s.waitForReadyRead(500)) got += s.readAll();
  EXPECT_TRUE(QString::fromUtf8(got).contains(QStringLiteral(u"Измерение")));
  EXPECT_EQ(s.state(), QAbstractSocket::ConnectedState);
}

TEST(WebServerNoUsers, WithoutAPasswordPagesNeedNoLogin) {
  WebServerFixture web{QString()};
  ASSERT_TRUE(web.ok()) << web.error().toStdString();
  EXPECT_EQ(request(web.port(), "GET", "/").status, 200);
  EXPECT_EQ(request(web.port(), "GET", "/api/analyzers").status, 200);
  // The audit page answers that there is no trail yet.
  const HttpReply audit = request(web.port(), "GET", "/api/audit");
  EXPECT_EQ(audit.status, 200);
  EXPECT_TRUE(audit.body.contains("\"available\":false"));
}

}  // namespace
