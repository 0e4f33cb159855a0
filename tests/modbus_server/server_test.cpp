// The server on loopback, asked by clients that are not libmodbus: pymodbus
// (modbus_probe.py) for the map and the refusals, and the tests' own raw
// socket client for what no client library sends (garbage, half frames,
// several frames at once) and for connections from another address.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QTcpServer>
#include <QTest>
#include <memory>

#include "modbus_server/server.h"
#include "support/modbus_probe.h"
#include "support/raw_modbus_client.h"

namespace {

using namespace modbus_server;

AnalyzerSnapshot sampleSnapshot(uint32_t results = 42) {
  AnalyzerSnapshot s;
  s.resultCount = results;
  s.link = AnalyzerLinkState::Answering;
  s.analyzerState = AnalyzerState::Measuring;
  s.mode = WorkMode::Continuous;
  LastResultSnapshot last;
  last.result.utcMs = 1742030430000;
  last.result.values = {182, 5.5, 33, 40, 5, 14, 2, 9.75, 45, 8.25, 1.25, 22};
  last.emissions = {45.5, 93.5, 40.25, 3.5};
  last.o2Ref = 3;
  s.last = last;
  AverageSnapshot running;
  running.startUtcMs = 1742029800000;
  running.endUtcMs = 1742030400000;
  running.components[1] = {90.25, 0, 90.25, true, 400, emissions::Exceedance::PreAlarm};
  s.running = running;
  return s;
}

class ServerTest : public ::testing::Test {
 protected:
  // A server on a free loopback port, unit 1 published.
  Server& startServer(ServerSettings settings = {}) {
    settings.enabled = true;
    settings.port = 0;
    server_ = std::make_unique<Server>(settings);
    server_->publish(sampleSnapshot());
    QString error;
    EXPECT_TRUE(server_->start(&error)) << error.toStdString();
    return *server_;
  }
  quint16 port() const { return server_->port(); }

  // A client connected and answered: the server took it.
  std::unique_ptr<RawModbusClient> servedClient(const QString& source = {}) {
    auto c = std::make_unique<RawModbusClient>();
    EXPECT_TRUE(c->connect(port(), source));
    const auto r = c->read(1, 4, 0, 1);
    EXPECT_TRUE(r && r->exception == 0 && r->registers.size() == 1);
    return c;
  }

  // The lines the server tells, as the program's event loop receives them.
  QStringList& refusalLines() {
    QObject::connect(server_.get(), &Server::clientRefused, &receiver_,
                     [this](const QString& line) { refusals_ << line; });
    return refusals_;
  }

  std::unique_ptr<Server> server_;
  QObject receiver_;
  QStringList refusals_;
};

TEST_F(ServerTest, AnIndependentClientReadsTheImageByBothFunctions) {
  startServer();
  const modbus_probe::Map m = modbus_probe::dump(port(), 1);
  ASSERT_TRUE(m.error.isEmpty()) << m.error.toStdString();
  ASSERT_EQ(m.input.size(), size_t(kRegisterCount));
  EXPECT_EQ(m.holding, m.input);
  const std::shared_ptr<const RegisterImage> image = server_->image(1);
  ASSERT_TRUE(image);
  EXPECT_EQ(m.input, std::vector<uint16_t>(image->begin(), image->end()));
  EXPECT_EQ(m.input[2], 1);  // the first image
  EXPECT_EQ(m.input[255], 1);
  EXPECT_EQ(m.input[1], 42);
  EXPECT_EQ(m.input[32], 0x4336);  // 182.0
}

TEST_F(ServerTest, WritesOtherFunctionsAddressesOutsideTheMapAndUnitsWithoutAnAnalyzerAreRefused) {
  startServer();
  const QJsonObject r = modbus_probe::run({QStringLiteral("refusals"), QString::number(port())});
  ASSERT_FALSE(r.contains(QStringLiteral("error"))) << r.value(QStringLiteral("error")).toString().toStdString();
  const std::pair<const char*, int> expected[] = {
      {"write_coil", 1},           {"write_register", 1},        {"write_coils", 1},  {"write_registers", 1},
      {"read_coils", 1},           {"read_input_past_end", 2},   {"read_holding_past_end", 2},
      {"unit_2", 0x0B},            {"unit_9", 0x0B},             {"write_unit_2", 0x0B},
  };
  for (const auto& [name, code] : expected)
    EXPECT_EQ(r.value(QLatin1String(name)).toInt(-1), code) << name;
  EXPECT_TRUE(r.value(QStringLiteral("read_last")).isNull());  // register 255 is in the map
  // Nothing was written.
  const auto read = servedClient()->read(1, 3, 0, 1);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->registers.front(), kMapVersion);
}

TEST_F(ServerTest, EveryFunctionButTheTwoReadsIsIllegalAndACountOutsideTheLimitIsAnIllegalValue) {
  startServer();
  RawModbusClient c;
  ASSERT_TRUE(c.connect(port()));
  for (int function : {0, 1, 2, 5, 6, 7, 8, 11, 12, 15, 16, 17, 20, 21, 22, 23, 24, 43, 0x64, 0x7F}) {
    const auto r = c.call(1, QByteArray(1, char(function)) + QByteArray(4, '\0'));
    ASSERT_TRUE(r) << function;
    EXPECT_EQ(r->function, function | 0x80) << function;
    EXPECT_EQ(r->exception, 1) << function;
  }
  for (int count : {0, 126, 2000}) {
    const auto r = c.read(1, 4, 0, count);
    ASSERT_TRUE(r) << count;
    EXPECT_EQ(r->exception, 3) << count;
  }
  const auto whole = c.read(1, 4, 131, 125);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->exception, 0);
  EXPECT_EQ(whole->registers.size(), 125u);
  const auto past = c.read(1, 3, 132, 125);
  ASSERT_TRUE(past);
  EXPECT_EQ(past->exception, 2);
  EXPECT_EQ(server_->counters().malformed, 0u);
}

TEST_F(ServerTest, ANewSnapshotIsServedAtOnceAndAWithdrawnUnitIsAGatewayFailure) {
  startServer();
  RawModbusClient c;
  ASSERT_TRUE(c.connect(port()));
  server_->publish(sampleSnapshot(43));
  auto r = c.read(1, 4, 0, 3);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->registers, (std::vector<uint16_t>{kMapVersion, 43, 2}));
  AnalyzerSnapshot second = sampleSnapshot(7);
  second.unitId = 8;
  server_->publish(second);
  r = c.read(8, 4, 1, 1);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->registers.front(), 7);
  server_->withdraw(1);
  r = c.read(1, 4, 0, 1);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->exception, 0x0B);
}

TEST_F(ServerTest, MalformedFramesCloseTheirConnectionOnlyAndGarbageNeverStopsTheServer) {
  startServer();
  const QByteArray read = RawModbusClient::readPdu(4, 0, 1);
  const QByteArray cases[] = {
      QByteArray("GET / HTTP/1.1\r\nHost: scada\r\n\r\n"),
      QByteArray::fromHex("0001000100060104000000010000"),  // protocol id 1
      QByteArray::fromHex("000100000000"),                  // length 0
      QByteArray::fromHex("00010000000101"),                // length 1: no function
      QByteArray::fromHex("000100000200") + QByteArray(512, 'x'),  // length 512
      RawModbusClient::frame(1, 1, read + QByteArray(2, '\0')),     // a read with two bytes too many
      RawModbusClient::frame(1, 1, read.left(3)),                   // a read too short
      RawModbusClient::frame(1, 1, QByteArray::fromHex("8400000001")),  // an exception's code as a request
  };
  std::unique_ptr<RawModbusClient> bystander = servedClient();
  uint64_t malformed = 0;
  for (const QByteArray& bytes : cases) {
    RawModbusClient c;
    ASSERT_TRUE(c.connect(port()));
    ASSERT_TRUE(c.send(bytes));
    EXPECT_TRUE(c.closedByServer()) << bytes.toHex().toStdString();
    EXPECT_EQ(server_->counters().malformed, ++malformed) << bytes.toHex().toStdString();
    const auto r = bystander->read(1, 4, 1, 1);
    ASSERT_TRUE(r) << bytes.toHex().toStdString();
    EXPECT_EQ(r->exception, 0);
  }
}

TEST_F(ServerTest, AHalfFrameWaitsForItsRestWithoutHoldingUpOtherClients) {
  startServer();
  RawModbusClient slow;
  ASSERT_TRUE(slow.connect(port()));
  const QByteArray whole = RawModbusClient::frame(77, 1, RawModbusClient::readPdu(4, 0, 2));
  ASSERT_TRUE(slow.send(whole.left(7)));
  // Others are answered meanwhile, many times over.
  std::unique_ptr<RawModbusClient> other = servedClient();
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(other->read(1, 4, 0, 2)) << i;
  EXPECT_FALSE(slow.receiveFrame(0).has_value());
  ASSERT_TRUE(slow.send(whole.mid(7)));
  const std::optional<QByteArray> reply = slow.receiveFrame();
  ASSERT_TRUE(reply);
  const auto decoded = RawModbusClient::decode(*reply);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->transaction, 77);
  EXPECT_EQ(decoded->registers.size(), 2u);

  // Three requests in one packet: three answers, in order.
  const QByteArray burst = RawModbusClient::frame(1, 1, RawModbusClient::readPdu(4, 0, 1)) +
                           RawModbusClient::frame(2, 1, RawModbusClient::readPdu(6, 0, 1)) +
                           RawModbusClient::frame(3, 2, RawModbusClient::readPdu(3, 0, 1));
  ASSERT_TRUE(slow.send(burst));
  const int expectedException[] = {0, 1, 0x0B};
  for (int id = 1; id <= 3; ++id) {
    const std::optional<QByteArray> f = slow.receiveFrame();
    ASSERT_TRUE(f) << id;
    const auto r = RawModbusClient::decode(*f);
    ASSERT_TRUE(r) << id;
    EXPECT_EQ(r->transaction, id);
    EXPECT_EQ(r->exception, expectedException[id - 1]) << id;
  }
}

TEST_F(ServerTest, AClientOfAnAddressNotAllowedIsClosedAtOnceAndToldOfOnce) {
  ServerSettings settings;
  settings.allowedClients = {QStringLiteral("127.0.0.1")};
  Server& server = startServer(settings);
  const QStringList& refusals = refusalLines();
  for (int attempt = 0; attempt < 3; ++attempt) {
    RawModbusClient c;
    ASSERT_TRUE(c.connect(port(), QStringLiteral("127.0.0.2")));
    c.send(RawModbusClient::frame(1, 1, RawModbusClient::readPdu(4, 0, 1)));
    EXPECT_FALSE(c.receiveFrame(2000).has_value());
    EXPECT_TRUE(c.closedByServer());
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !refusals.isEmpty(); }, 5000));
  // The one line is in; the later attempts were counted, not told.
  EXPECT_EQ(server.counters().refused, 3u);
  QTest::qWait(0);
  EXPECT_EQ(refusals.size(), 1);
  const QString line = refusals.front();
  EXPECT_TRUE(line.contains(QLatin1String("127.0.0.2"))) << line.toStdString();
  EXPECT_TRUE(line.contains(QLatin1String("AllowedClients"))) << line.toStdString();
  // pymodbus from there gets nothing either; from 127.0.0.1 it reads.
  EXPECT_FALSE(modbus_probe::dump(port(), 1, QStringLiteral("127.0.0.2")).error.isEmpty());
  EXPECT_TRUE(modbus_probe::dump(port(), 1, QStringLiteral("127.0.0.1")).error.isEmpty());
}

TEST_F(ServerTest, OneClientMoreThanAllowedIsRefusedUntilOneLeaves) {
  ServerSettings settings;
  settings.maxConnections = 2;
  Server& server = startServer(settings);
  const QStringList& refusals = refusalLines();
  std::unique_ptr<RawModbusClient> first = servedClient();
  std::unique_ptr<RawModbusClient> second = servedClient();
  RawModbusClient third;
  ASSERT_TRUE(third.connect(port()));
  EXPECT_TRUE(third.closedByServer());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !refusals.isEmpty(); }, 5000));
  EXPECT_TRUE(refusals.front().contains(QLatin1String("MaxConnections"))) << refusals.front().toStdString();
  first->close();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.counters().clients == 1; }, 5000));
  std::unique_ptr<RawModbusClient> fourth = servedClient();
  EXPECT_TRUE(second->read(1, 4, 0, 1).has_value());
}

TEST_F(ServerTest, AClientSilentForTheIdleTimeIsClosed) {
  ServerSettings settings;
  settings.idleTimeoutSeconds = 1;
  startServer(settings);
  std::unique_ptr<RawModbusClient> c = servedClient();
  c->send(RawModbusClient::frame(9, 1, RawModbusClient::readPdu(4, 0, 1)).left(5));  // half a frame is no request
  EXPECT_TRUE(c->closedByServer(10000));
  EXPECT_TRUE(QTest::qWaitFor([this] { return server_->counters().clients == 0; }, 5000));
}

TEST_F(ServerTest, OutOfFileDescriptorsItPausesAcceptingAndTakesTheClientLater) {
  startServer();
  rlimit limits{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limits), 0);
  const int lowestFree = ::dup(0);
  ASSERT_GE(lowestFree, 0);
  ::close(lowestFree);
  // The client's socket takes the last descriptor allowed: the server's accept finds none.
  rlimit tight = limits;
  tight.rlim_cur = rlim_t(lowestFree + 1);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  RawModbusClient c;
  const bool connected = c.connect(port());
  const bool paused = connected && QTest::qWaitFor([this] { return server_->counters().acceptPauses > 0; }, 5000);
  setrlimit(RLIMIT_NOFILE, &limits);
  ASSERT_TRUE(connected);
  ASSERT_TRUE(paused);
  const auto r = c.read(1, 4, 0, 1, 10000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->registers.front(), kMapVersion);
}

TEST_F(ServerTest, APortInUseIsToldAndTheServerStaysDown) {
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  ServerSettings settings;
  settings.enabled = true;
  settings.port = taken.serverPort();
  Server server(settings);
  QString error;
  EXPECT_FALSE(server.start(&error));
  EXPECT_FALSE(server.isRunning());
  EXPECT_TRUE(error.contains(QStringLiteral(u"порт уже занят"))) << error.toStdString();
  EXPECT_TRUE(error.contains(QStringLiteral("127.0.0.1:%1").arg(settings.port))) << error.toStdString();
}

}  // namespace
