// The Modbus TCP server as the service runs it: its start, stop and failures
// as lines of the service and events of the log, and the link state it shows
// following the analyzer's answers.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTcpServer>
#include <limits>

#include "service/headless_service.h"
#include "storage/settings_files.h"
#include "support/raw_modbus_client.h"
#include "support/session_fixture.h"

namespace {

using modbus_server::AnalyzerLinkState;

class ModbusServerFeedTest : public SessionFixture {
 protected:
  void startService(const QByteArray& modbusSection) {
    writeDefaultSettings();
    QFile ini(inDir(QStringLiteral("korvex-service.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Service]\nMode=none\n[ModbusServer]\n" + modbusSection);
    ini.close();
    service_ = std::make_unique<HeadlessService>(HeadlessOptions{}, [this](const QString& l) { lines_ << l; });
    service_->start();
  }
  void TearDown() override {
    service_.reset();
    SessionFixture::TearDown();
  }
  Session& serviceSession() const { return *service_->host().session(); }
  ModbusServerFeed& feed() { return serviceSession().modbusServer(); }
  // A tick of the service's session; the snapshot goes to the server once
  // the tick is over.
  void serviceTick(const Frame& reply = {}) {
    if (!reply.empty()) serviceSession().link().receive(reply.data(), int(reply.size()));
    serviceSession().pollTimer()->fire();
    QCoreApplication::processEvents();
  }
  QStringList linesWith(const QString& text) const { return lines_.filter(text); }
  QVector<StoredEvent> serviceEvents(EventKind kind) const {
    QVector<StoredEvent> out;
    for (const StoredEvent& e : serviceSession().store().events(0, std::numeric_limits<qint64>::max()))
      if (e.kind == kind) out << e;
    return out;
  }
  // Events of a kind in the database, also after the service closed it.
  int storedEvents(EventKind kind) const {
    ResultStore store;
    store.open(inDir(QStringLiteral("korvex.db")), 0, ResultStore::WhenLocked::OpenReadOnly);
    int n = 0;
    for (const StoredEvent& e : store.events(0, std::numeric_limits<qint64>::max())) n += e.kind == kind;
    return n;
  }

  std::unique_ptr<HeadlessService> service_;
  QStringList lines_;
};

TEST_F(ModbusServerFeedTest, AWrongSettingOrATakenPortLeavesItDownAndSaysWhy) {
  startService("Enabled=true\nPort=abc\n");
  EXPECT_EQ(feed().server(), nullptr);
  ASSERT_EQ(serviceEvents(EventKind::ModbusServerFailed).size(), 1);
  EXPECT_TRUE(serviceEvents(EventKind::ModbusServerFailed).front().text.contains(QLatin1String("ModbusServer/Port")));
  EXPECT_EQ(linesWith(QStringLiteral(u"Сервер Modbus TCP не запущен: ModbusServer/Port")).size(), 1)
      << lines_.join('\n').toStdString();
  EXPECT_EQ(feed().stateText(), QStringLiteral(u"Modbus TCP: не запущен"));
  service_->stop();
  EXPECT_EQ(storedEvents(EventKind::ModbusServerStopped), 0);

  service_.reset();
  stopProgram();
  lines_.clear();
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  startService(QStringLiteral("Enabled=true\nPort=%1\n").arg(taken.serverPort()).toUtf8());
  EXPECT_EQ(feed().server(), nullptr);
  EXPECT_EQ(linesWith(QStringLiteral(u"Сервер Modbus TCP не запущен: не могу слушать 127.0.0.1:%1: порт уже занят")
                          .arg(taken.serverPort()))
                .size(),
            1)
      << lines_.join('\n').toStdString();
}

TEST_F(ModbusServerFeedTest, OffWithoutAWordAndOnWithALineAtStartAndStop) {
  startService("Enabled=false\nPort=abc\n");  // off: its wrong values do not matter
  EXPECT_EQ(feed().server(), nullptr);
  EXPECT_TRUE(linesWith(QStringLiteral("Modbus")).isEmpty()) << lines_.join('\n').toStdString();
  EXPECT_TRUE(feed().stateText().isEmpty());
  EXPECT_TRUE(serviceSession().publishing().stateText().isEmpty());

  service_.reset();
  stopProgram();
  startService("Enabled=true\nPort=0\n");
  ASSERT_NE(feed().server(), nullptr);
  const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(feed().server()->port());
  EXPECT_EQ(linesWith(QStringLiteral(u"Сервер Modbus TCP запущен: ") + endpoint).size(), 1)
      << lines_.join('\n').toStdString();
  EXPECT_EQ(linesWith(QStringLiteral(u"Публикация: Modbus TCP: ") + endpoint).size(), 1);
  EXPECT_EQ(serviceEvents(EventKind::ModbusServerStarted).size(), 1);
  service_->stop();
  EXPECT_EQ(linesWith(QStringLiteral(u"Сервер Modbus TCP остановлен")).size(), 1);
  EXPECT_EQ(storedEvents(EventKind::ModbusServerStopped), 1);
}

TEST_F(ModbusServerFeedTest, TheLinkStateFollowsTheAnalyzersAnswers) {
  startService("Enabled=true\nPort=0\n");
  ASSERT_NE(feed().server(), nullptr);
  const auto published = [this] { return (*feed().server()->image(1))[modbus_server::reg::kLinkState]; };
  EXPECT_EQ(feed().snapshot().link, AnalyzerLinkState::NotAnswering);  // not heard from yet
  serviceTick();
  serviceTick(commandEcho(1, 3));
  serviceTick(statusReply(1, 0));
  EXPECT_EQ(feed().snapshot().link, AnalyzerLinkState::Answering);
  EXPECT_EQ(feed().snapshot().analyzerState, AnalyzerState::Idle);
  EXPECT_EQ(published(), uint16_t(AnalyzerLinkState::Answering));
  for (int i = 0; i <= kSilentTicksLimit; ++i) serviceTick();
  EXPECT_EQ(feed().snapshot().link, AnalyzerLinkState::NotAnswering);
  EXPECT_EQ(published(), uint16_t(AnalyzerLinkState::NotAnswering));
  serviceSession().link().close();
  EXPECT_EQ(feed().snapshot().link, AnalyzerLinkState::PortClosed);
}

// Each analyzer of the line is a unit of the one server, at its slot's unit
// id; a unit id of no analyzer has no image, and stopping withdraws them.
TEST_F(ModbusServerFeedTest, EachAnalyzerOfTheLineIsTheUnitIdOfItsSlot) {
  writeDefaultSettings();
  QString error;
  ASSERT_TRUE(SettingsFiles().addLineAnalyzer(3, 9, &error)) << error.toStdString();
  startService("Enabled=true\nPort=0\n");
  ASSERT_NE(feed().server(), nullptr);
  ASSERT_EQ(serviceSession().analyzerCount(), 2);
  modbus_server::Server* server = feed().server();
  EXPECT_EQ(serviceSession().analyzer(1)->modbusServer().snapshot().unitId, 3);
  EXPECT_EQ(linesWith(QStringLiteral(u"Анализатор 3 (адрес 9): Сервер Modbus TCP: прибор — устройство (unit id) 3")).size(), 1)
      << lines_.join('\n').toStdString();
  // As a control system reads them, over TCP.
  RawModbusClient client;
  ASSERT_TRUE(client.connect(server->port()));
  const auto exceptionOf = [&client](uint8_t unit) {
    const std::optional<RawModbusClient::Reply> r = client.read(unit, 4, modbus_server::reg::kLinkState, 1);
    return r ? r->exception : -1;
  };
  EXPECT_EQ(exceptionOf(1), 0);
  EXPECT_EQ(exceptionOf(3), 0);
  EXPECT_EQ(exceptionOf(2), 0x0B);
  serviceSession().analyzer(1)->modbusServer().stop();
  EXPECT_EQ(exceptionOf(3), 0x0B);
  EXPECT_EQ(exceptionOf(1), 0);
}

}  // namespace
