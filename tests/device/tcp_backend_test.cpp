// The port name "tcp://host:port" against real sockets on loopback: what a
// malformed name is told, why a connection was not made, and a gateway that
// starts listening after the program tried: found by the quiet retries.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <vector>

#include "device/analyzer_link.h"
#include "device/serial_port.h"
#include "device/tcp_backend.h"
#include "platform/timer.h"

namespace {

constexpr int kWaitMs = 10000;

// A loopback port nobody listens on (found free a moment ago).
quint16 closedPort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

TEST(TcpPortNameTest, AMalformedNameIsRefusedWithItsReasonAndNeverTriedAgain) {
  const struct {
    const char* name;
    const char16_t* reason;
  } bad[] = {
      {"tcp://", u"не задан адрес"},
      {"tcp://gateway", u"не задан номер порта"},
      {"tcp://gateway:", u"не задан номер порта"},
      {"tcp://:4001", u"не задан адрес узла"},
      {"tcp://gateway:port", u"не номер порта: port"},
      {"tcp://127.0.0.1:65536", u"номер порта 65536 не от 1 до 65535"},
      {"tcp://127.0.0.1:0", u"номер порта 0 не от 1 до 65535"},
      {"tcp://127.0.0.1:4294967297", u"не от 1 до 65535"},
      {"tcp://127.0.0.1:39833/extra", u"после номера порта лишние знаки: /extra"},
      {"tcp://127.0.0.1:39833?x=1", u"после номера порта лишние знаки: ?x=1"},
      {"tcp://user@gateway:4001", u"недопустимый знак «@»"},
      {"tcp://::1:4001", u"квадратных скобках"},
      {"tcp://[::1]", u"не задан номер порта"},
      {"tcp://[gateway]:4001", u"не адрес IPv6"},
      {"tcp://[::1:4001", u"нет закрывающей скобки"},
  };
  for (const auto& b : bad) {
    const QString name = QString::fromLatin1(b.name);
    TcpAddress address;
    QString why;
    EXPECT_FALSE(parseTcpPortName(name, &address, &why)) << b.name;
    EXPECT_TRUE(why.contains(QString::fromUtf16(b.reason))) << b.name << ": " << why.toStdString();
    SerialPort port;
    EXPECT_EQ(port.open(name), PortOpenResult::CannotOpen) << b.name;
    EXPECT_FALSE(port.isOpening()) << b.name;
    EXPECT_EQ(port.openError(), why) << b.name;
    // It would fail the same way every time.
    EXPECT_FALSE(port.isWaitingToOpen()) << b.name;
    EXPECT_FALSE(port.reopenTimer()->isEnabled()) << b.name;
  }

  const struct {
    const char* name;
    const char* host;
    quint16 port;
  } good[] = {{"tcp://192.168.0.10:4001", "192.168.0.10", 4001},
              {"TCP://gateway-3.plant:502", "gateway-3.plant", 502},
              {"tcp://[::1]:65535", "::1", 65535},
              {"tcp://[fe80::1%eth0]:1", "fe80::1%eth0", 1}};
  for (const auto& g : good) {
    TcpAddress address;
    QString why;
    EXPECT_TRUE(parseTcpPortName(QString::fromLatin1(g.name), &address, &why)) << g.name << ": " << why.toStdString();
    EXPECT_EQ(address.host, QString::fromLatin1(g.host));
    EXPECT_EQ(address.port, g.port);
  }
}

TEST(TcpLinkTest, AGatewayThatStartsLaterIsFoundByTheQuietRetries) {
  const quint16 port = closedPort();
  ASSERT_NE(port, 0);
  AnalyzerLink link;
  std::vector<PortOpenResult> finished;
  QObject::connect(&link, &AnalyzerLink::openFinished, [&finished](PortOpenResult r) { finished.push_back(r); });
  QSignalSpy openedLater(&link, &AnalyzerLink::openedLater);
  QSignalSpy reopened(&link, &AnalyzerLink::reopened);
  ASSERT_EQ(link.open(QStringLiteral("tcp://127.0.0.1:%1").arg(port)), PortOpenResult::Connecting);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !finished.empty(); }, kWaitMs));
  EXPECT_EQ(finished.at(0), PortOpenResult::CannotOpen);
  EXPECT_TRUE(link.openError().contains(QStringLiteral(u"соединение отвергнуто"))) << link.openError().toStdString();

  // Nothing is sent (nor counted) while there is no connection.
  EXPECT_FALSE(link.send(1, Request::Status));
  EXPECT_EQ(link.counts().bytesSent, 0);

  // Tried again every three seconds, quietly: no second result of an opening.
  SerialPort* serial = link.port();
  ASSERT_TRUE(serial->isWaitingToOpen());
  ASSERT_TRUE(serial->reopenTimer()->isEnabled());
  EXPECT_EQ(serial->reopenTimer()->interval(), 3000);
  // The try clears the last reason at once and gives the refusal's when it ends; the port
  // hears of the end through a queued call, so a call queued after that one runs after it.
  serial->reopenTimer()->fire();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !link.openError().isEmpty(); }, kWaitMs));
  bool attemptHandled = false;
  QMetaObject::invokeMethod(&link, [&attemptHandled] { attemptHandled = true; }, Qt::QueuedConnection);
  ASSERT_TRUE(QTest::qWaitFor([&] { return attemptHandled; }, kWaitMs));
  EXPECT_TRUE(link.openError().contains(QStringLiteral(u"соединение отвергнуто"))) << link.openError().toStdString();
  EXPECT_TRUE(serial->isWaitingToOpen());
  EXPECT_EQ(finished.size(), 1u);
  EXPECT_EQ(openedLater.count(), 0);

  // The gateway comes up: the next try connects.
  QTcpServer gateway;
  ASSERT_TRUE(gateway.listen(QHostAddress::LocalHost, port)) << gateway.errorString().toStdString();
  serial->reopenTimer()->fire();
  ASSERT_TRUE(openedLater.wait(kWaitMs));
  EXPECT_TRUE(link.isOpen());
  EXPECT_FALSE(serial->isWaitingToOpen());
  EXPECT_FALSE(serial->reopenTimer()->isEnabled());
  EXPECT_EQ(reopened.count(), 0);
  EXPECT_EQ(link.counts().reconnects, 0);
  EXPECT_EQ(finished.size(), 1u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return gateway.hasPendingConnections(); }, kWaitMs));
  QTcpSocket* client = gateway.nextPendingConnection();
  ASSERT_TRUE(link.send(1, Request::Status));
  ASSERT_TRUE(QTest::qWaitFor([&] { return client->bytesAvailable() >= 8; }, kWaitMs));
  EXPECT_EQ(client->readAll().size(), 8);
}

TEST(TcpLinkTest, AHostThatCannotBeFoundIsNamed) {
  // An invalid host name: the resolver says so without asking the network.
  AnalyzerLink link;
  bool finished = false;
  QObject::connect(&link, &AnalyzerLink::openFinished, [&finished] { finished = true; });
  const PortOpenResult r = link.open(QStringLiteral("tcp://no..such..host:4001"));
  if (r == PortOpenResult::Connecting) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, kWaitMs));
  }
  EXPECT_FALSE(link.isOpen());
  EXPECT_TRUE(link.openError().contains(QStringLiteral(u"узел no..such..host не найден")))
      << link.openError().toStdString();
  EXPECT_TRUE(link.port()->isWaitingToOpen());
}

}  // namespace
