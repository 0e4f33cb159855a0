#include "support/modbus_probe.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

#ifndef KORVEX_PYTHON3
#define KORVEX_PYTHON3 "/usr/bin/python3"
#endif
#ifndef KORVEX_MODBUS_PROBE
#define KORVEX_MODBUS_PROBE ""
#endif

namespace modbus_probe {

QJsonObject run(const QStringList& arguments, int timeoutMs) {
  QProcess p;
  p.start(QStringLiteral(KORVEX_PYTHON3), QStringList{QStringLiteral(KORVEX_MODBUS_PROBE)} + arguments);
  if (!p.waitForStarted(10000)) return {{QStringLiteral("error"), QStringLiteral("python3 did not start")}};
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished(5000);
    return {{QStringLiteral("error"), QStringLiteral("no answer in time")}};
  }
  const QByteArray out = p.readAllStandardOutput();
  const QJsonDocument doc = QJsonDocument::fromJson(out.trimmed());
  if (!doc.isObject())
    return {{QStringLiteral("error"),
             QStringLiteral("not JSON: %1 %2").arg(QString::fromUtf8(out), QString::fromUtf8(p.readAllStandardError()))}};
  return doc.object();
}

Map dump(quint16 port, int unit, const QString& source) {
  // What the session queued for the server (its snapshot after the last
  // tick) is handed over before the probe reads.
  QCoreApplication::sendPostedEvents();
  QStringList args{QStringLiteral("dump"), QString::number(port), QString::number(unit)};
  if (!source.isEmpty()) args << source;
  const QJsonObject o = run(args);
  Map m;
  m.error = o.value(QStringLiteral("error")).toString();
  for (const QJsonValue v : o.value(QStringLiteral("input")).toArray()) m.input.push_back(uint16_t(v.toInt()));
  for (const QJsonValue v : o.value(QStringLiteral("holding")).toArray()) m.holding.push_back(uint16_t(v.toInt()));
  return m;
}

}  // namespace modbus_probe
