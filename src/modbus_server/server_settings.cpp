#include "modbus_server/server_settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace modbus_server {

namespace {

const QString kEnabled = QStringLiteral("ModbusServer/Enabled");
const QString kAddress = QStringLiteral("ModbusServer/Address");
const QString kPort = QStringLiteral("ModbusServer/Port");
const QString kAllowedClients = QStringLiteral("ModbusServer/AllowedClients");
const QString kMaxConnections = QStringLiteral("ModbusServer/MaxConnections");
const QString kWordOrder = QStringLiteral("ModbusServer/WordOrder");
const QString kIdleTimeout = QStringLiteral("ModbusServer/IdleTimeoutSeconds");

// The value as typed: QSettings splits an unquoted "a, b" into a list.
QStringList items(const QVariant& v) {
  QStringList parts = v.metaType().id() == QMetaType::QStringList ? v.toStringList()
                                                                  : v.toString().split(QLatin1Char(','));
  QStringList out;
  for (const QString& p : parts)
    if (!p.trimmed().isEmpty()) out << p.trimmed();
  return out;
}

QString text(const QVariant& v) { return items(v).join(QLatin1Char(',')); }

bool parseIpv4(const QString& text, QHostAddress* out) {
  QHostAddress a;
  if (!a.setAddress(text.trimmed()) || a.protocol() != QAbstractSocket::IPv4Protocol) return false;
  *out = a;
  return true;
}

// An address (a /32) or a network in CIDR form, IPv4.
bool parseClientEntry(const QString& entry, QPair<QHostAddress, int>* out) {
  if (!entry.contains(QLatin1Char('/'))) {
    QHostAddress a;
    if (!parseIpv4(entry, &a)) return false;
    *out = {a, 32};
    return true;
  }
  const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(entry.trimmed());
  if (subnet.first.protocol() != QAbstractSocket::IPv4Protocol || subnet.second < 0 || subnet.second > 32)
    return false;
  *out = subnet;
  return true;
}

}  // namespace

QStringList settingsProblems(const ServerSettings& s) {
  QStringList p;
  QHostAddress listen;
  if (!parseIpv4(s.address, &listen))
    p << QStringLiteral(u"%1: не адрес IPv4 этого компьютера: %2").arg(kAddress, s.address);
  if (s.port < 0 || s.port > 65535) p << QStringLiteral(u"%1: не номер порта 0..65535: %2").arg(kPort).arg(s.port);
  for (const QString& entry : s.allowedClients) {
    QPair<QHostAddress, int> subnet;
    if (!parseClientEntry(entry, &subnet))
      p << QStringLiteral(u"%1: не адрес IPv4 и не сеть вида 10.0.0.0/8: %2").arg(kAllowedClients, entry);
  }
  if (s.maxConnections < 1 || s.maxConnections > kMaxConnectionsLimit)
    p << QStringLiteral(u"%1: не 1..%2: %3").arg(kMaxConnections).arg(kMaxConnectionsLimit).arg(s.maxConnections);
  if (s.idleTimeoutSeconds < 0 || s.idleTimeoutSeconds > 86400)
    p << QStringLiteral(u"%1: не 0..86400 с: %2").arg(kIdleTimeout).arg(s.idleTimeoutSeconds);
  return p;
}

ServerSettingsLoad loadServerSettings(const QString& path) {
  ServerSettingsLoad out;
  ServerSettings& v = out.settings;
  const QFileInfo info(path);
  if (!info.exists()) return out;
  QFile probe(path);
  if (!info.isFile() || !probe.open(QIODevice::ReadOnly) || probe.read(1 << 20).contains('\0') ||
      info.size() > (1 << 20)) {
    out.problems << QStringLiteral(u"файл настроек не читается как файл INI: %1").arg(path);
    return out;
  }
  probe.close();
  QSettings s(path, QSettings::IniFormat);
  if (s.status() != QSettings::NoError) {
    out.problems << QStringLiteral(u"файл настроек не читается как файл INI: %1").arg(path);
    return out;
  }
  const auto bad = [&](const QString& key, const QString& why) {
    out.problems << QStringLiteral("%1: %2: %3").arg(key, why, text(s.value(key)));
  };
  const auto integer = [&](const QString& key, int& into) {
    if (!s.contains(key)) return true;
    bool ok = false;
    const int value = text(s.value(key)).toInt(&ok);
    if (ok) into = value;
    return ok;
  };

  if (s.contains(kEnabled)) {
    const QString t = text(s.value(kEnabled)).toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes"))
      v.enabled = true;
    else if (!(t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no") || t.isEmpty()))
      bad(kEnabled, QStringLiteral(u"не true и не false"));
  }
  if (s.contains(kAddress)) v.address = text(s.value(kAddress));
  if (!integer(kPort, v.port)) bad(kPort, QStringLiteral(u"не номер порта 0..65535"));
  if (s.contains(kAllowedClients)) v.allowedClients = items(s.value(kAllowedClients));
  if (!integer(kMaxConnections, v.maxConnections)) bad(kMaxConnections, QStringLiteral(u"не число"));
  if (!integer(kIdleTimeout, v.idleTimeoutSeconds)) bad(kIdleTimeout, QStringLiteral(u"не число"));
  if (s.contains(kWordOrder)) {
    const QString t = text(s.value(kWordOrder)).toLower();
    if (t == QLatin1String("highfirst"))
      v.wordOrder = WordOrder::HighFirst;
    else if (t == QLatin1String("lowfirst"))
      v.wordOrder = WordOrder::LowFirst;
    else
      bad(kWordOrder, QStringLiteral(u"не HighFirst и не LowFirst"));
  }
  out.requested = v.enabled;
  out.problems += settingsProblems(v);
  out.problems.removeDuplicates();
  if (!out.problems.isEmpty()) v.enabled = false;
  return out;
}

ClientFilter::ClientFilter(const QStringList& entries) {
  for (const QString& entry : entries) {
    QPair<QHostAddress, int> subnet;
    if (parseClientEntry(entry, &subnet)) subnets_ << subnet;
  }
  if (entries.isEmpty()) subnets_ << qMakePair(QHostAddress(QStringLiteral("127.0.0.0")), 8);
}

bool ClientFilter::allows(const QHostAddress& address) const {
  bool ok = false;
  const QHostAddress v4(address.toIPv4Address(&ok));  // an IPv4-mapped IPv6 address as IPv4
  const QHostAddress& a = ok ? v4 : address;
  for (const auto& subnet : subnets_)
    if (a.isInSubnet(subnet)) return true;
  return false;
}

}  // namespace modbus_server
