// The [ModbusServer] section of the service settings file: defaults, a wrong
// value switching the server off (never a default address or client list in
// its place), the client filter, the rate-limited refusal lines, and the
// section surviving the publishing dialog's writes to the same file.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "modbus_server/refusal_log.h"
#include "modbus_server/server_settings.h"
#include "publish/service_settings.h"

namespace {

using namespace modbus_server;

class ServerSettingsTest : public ::testing::Test {
 protected:
  QString write(const QByteArray& text) {
    const QString path = dir_.filePath(QStringLiteral("korvex-service.ini"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
    return path;
  }
  QTemporaryDir dir_;
};

TEST_F(ServerSettingsTest, MissingFileOrSectionLeavesTheServerOffQuietly) {
  for (const QString& path : {dir_.filePath(QStringLiteral("none.ini")), write("[Mqtt]\nEnabled=true\n")}) {
    const ServerSettingsLoad l = loadServerSettings(path);
    EXPECT_FALSE(l.requested);
    EXPECT_FALSE(l.settings.enabled);
    EXPECT_TRUE(l.problems.isEmpty()) << l.problems.join('\n').toStdString();
    EXPECT_EQ(l.settings, ServerSettings{});
  }
  EXPECT_EQ(ServerSettings{}.address, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(ServerSettings{}.port, 5502);
}

TEST_F(ServerSettingsTest, EveryKeyIsRead) {
  const ServerSettingsLoad l = loadServerSettings(
      write("[ModbusServer]\nEnabled=true\nAddress=0.0.0.0\nPort=1502\nAllowedClients=10.1.2.3, 192.168.0.0/16\n"
            "MaxConnections=64\nWordOrder=lowfirst\nIdleTimeoutSeconds=0\n"));
  EXPECT_TRUE(l.problems.isEmpty()) << l.problems.join('\n').toStdString();
  EXPECT_TRUE(l.settings.enabled);
  EXPECT_EQ(l.settings.address, QStringLiteral("0.0.0.0"));
  EXPECT_EQ(l.settings.port, 1502);
  EXPECT_EQ(l.settings.allowedClients, (QStringList{QStringLiteral("10.1.2.3"), QStringLiteral("192.168.0.0/16")}));
  EXPECT_EQ(l.settings.maxConnections, 64);
  EXPECT_EQ(l.settings.wordOrder, WordOrder::LowFirst);
  EXPECT_EQ(l.settings.idleTimeoutSeconds, 0);
}

TEST_F(ServerSettingsTest, AWrongValueSwitchesTheServerOffAndNamesTheKey) {
  const struct {
    const char* line;
    const char* key;
  } cases[] = {
      {"Address=plant-scada", "ModbusServer/Address"},  // a name: it would be looked up, not chosen
      {"Address=::1", "ModbusServer/Address"},
      {"Address=", "ModbusServer/Address"},
      {"Port=70000", "ModbusServer/Port"},
      {"Port=abc", "ModbusServer/Port"},
      {"AllowedClients=10.0.0.0/8, 10.0.0.300", "ModbusServer/AllowedClients"},
      {"AllowedClients=fe80::/10", "ModbusServer/AllowedClients"},
      {"AllowedClients=10.0.0.0/33", "ModbusServer/AllowedClients"},
      {"MaxConnections=0", "ModbusServer/MaxConnections"},
      {"MaxConnections=1001", "ModbusServer/MaxConnections"},
      {"WordOrder=CDAB", "ModbusServer/WordOrder"},
      {"IdleTimeoutSeconds=-1", "ModbusServer/IdleTimeoutSeconds"},
      {"Enabled=perhaps", "ModbusServer/Enabled"},
  };
  for (const auto& c : cases) {
    const ServerSettingsLoad l =
        loadServerSettings(write(QByteArray("[ModbusServer]\nEnabled=true\n") + c.line + "\n"));
    EXPECT_FALSE(l.settings.enabled) << c.line;
    ASSERT_EQ(l.problems.size(), 1) << c.line << ": " << l.problems.join('\n').toStdString();
    EXPECT_TRUE(l.problems.front().startsWith(QLatin1String(c.key))) << l.problems.front().toStdString();
  }
}

TEST(ClientFilter, EmptyMeansThisMachineOnlyAndEntriesOpenWhatTheyName) {
  const ClientFilter loopback;
  EXPECT_TRUE(loopback.allows(QHostAddress(QStringLiteral("127.0.0.1"))));
  EXPECT_TRUE(loopback.allows(QHostAddress(QStringLiteral("127.0.0.2"))));
  EXPECT_TRUE(loopback.allows(QHostAddress(QStringLiteral("::ffff:127.0.0.1"))));
  EXPECT_FALSE(loopback.allows(QHostAddress(QStringLiteral("10.0.0.5"))));

  const ClientFilter listed({QStringLiteral("127.0.0.1"), QStringLiteral("10.20.0.0/16")});
  EXPECT_TRUE(listed.allows(QHostAddress(QStringLiteral("127.0.0.1"))));
  EXPECT_FALSE(listed.allows(QHostAddress(QStringLiteral("127.0.0.2"))));  // loopback is not implied
  EXPECT_TRUE(listed.allows(QHostAddress(QStringLiteral("10.20.255.1"))));
  EXPECT_FALSE(listed.allows(QHostAddress(QStringLiteral("10.21.0.1"))));

  const ClientFilter anyone({QStringLiteral("0.0.0.0/0")});
  EXPECT_TRUE(anyone.allows(QHostAddress(QStringLiteral("203.0.113.9"))));
}

TEST(RefusalLog, AnAddressIsToldOnceAWhileAndAScanCannotFloodTheLog) {
  RefusalLog log;
  const QString why = QStringLiteral(u"адрес не разрешён");
  ASSERT_TRUE(log.refused(QStringLiteral("10.0.0.1"), why, 0).has_value());
  for (int i = 1; i <= 5; ++i) EXPECT_FALSE(log.refused(QStringLiteral("10.0.0.1"), why, i * 1000).has_value());
  const std::optional<QString> again = log.refused(QStringLiteral("10.0.0.1"), why, RefusalLog::kAddressQuietMs);
  ASSERT_TRUE(again.has_value());
  EXPECT_TRUE(again->contains(QLatin1String("10.0.0.1")));
  EXPECT_TRUE(again->contains(QLatin1String(": 5)"))) << again->toStdString();

  // Many addresses: at most kLinesPerWindow lines a window, the rest counted.
  RefusalLog scan;
  int told = 0;
  for (int i = 0; i < 100; ++i)
    if (scan.refused(QStringLiteral("10.1.0.%1").arg(i), why, 1000 + i)) ++told;
  EXPECT_EQ(told, RefusalLog::kLinesPerWindow);
  const std::optional<QString> next = scan.refused(QStringLiteral("10.2.0.1"), why, 1000 + RefusalLog::kWindowMs);
  ASSERT_TRUE(next.has_value());
  EXPECT_TRUE(next->contains(QStringLiteral(": %1)").arg(100 - RefusalLog::kLinesPerWindow))) << next->toStdString();
}

TEST_F(ServerSettingsTest, ThePublishingDialogsWriteKeepsTheSection) {
  const QString path = write("[ModbusServer]\nEnabled=true\nPort=1502\nAllowedClients=10.0.0.0/8, 127.0.0.1\n");
  publish::ServiceSettings publishing;
  publishing.site = QStringLiteral("plant-7");
  publishing.analyzerName = QStringLiteral("boiler-3");
  QString error;
  ASSERT_TRUE(publish::saveServiceSettings(path, publishing, &error)) << error.toStdString();
  const ServerSettingsLoad l = loadServerSettings(path);
  EXPECT_TRUE(l.problems.isEmpty()) << l.problems.join('\n').toStdString();
  EXPECT_TRUE(l.settings.enabled);
  EXPECT_EQ(l.settings.port, 1502);
  EXPECT_EQ(l.settings.allowedClients, (QStringList{QStringLiteral("10.0.0.0/8"), QStringLiteral("127.0.0.1")}));
  EXPECT_EQ(publish::loadServiceSettings(path).settings, publishing);
}

}  // namespace
