#pragma once
// The independent Modbus TCP client of the tests: pymodbus (Debian's
// python3-pymodbus) in tests/support/modbus_probe.py, run as a child process.

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

namespace modbus_probe {

// The script's JSON answer; {"error": ...} when it could not be run.
QJsonObject run(const QStringList& arguments, int timeoutMs = 60000);

struct Map {
  QString error;  // empty when read
  std::vector<uint16_t> input;
  std::vector<uint16_t> holding;
};
// The whole map of `unit`, by functions 4 and 3, from `source` when given.
Map dump(quint16 port, int unit, const QString& source = {});

}  // namespace modbus_probe
