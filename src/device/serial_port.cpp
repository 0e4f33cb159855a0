#include "device/serial_port.h"

#include <QFileInfo>
#include <QStringList>

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
  if (backend_) {
    purge();
    backend_->close();
  }
}

PortOpenResult SerialPort::open(const QString& portName) {
  if (backend_) backend_->close();
  if (!backend_) backend_ = createSerialBackend();
  lost_ = false;
  portName_ = portName;
  settings_ = LineSettings{};
  QString error;
  if (!backend_->open(serialDeviceName(portName), &error)) return PortOpenResult::CannotOpen;
  PortOpenResult result = PortOpenResult::Opened;
  if (!backend_->readState())
    result = PortOpenResult::CannotGetStatus;
  else if (!applySettings())
    result = PortOpenResult::CannotInitialize;
  purge();
  return result;
}

bool SerialPort::applySettings() {
  if (!isOpen() || !backend_->configure(settings_)) return false;
  setDtr(false);
  setRts(false);
  return true;
}

bool SerialPort::setParameters(const QString& mode) {
  const QStringList parts = mode.split(QLatin1Char(','));
  if (parts.size() != 4) return false;
  bool ok = false;
  LineSettings s;
  s.baudRate = parts[0].trimmed().toInt(&ok);
  if (!ok || s.baudRate <= 0) return false;
  const QString parity = parts[1].trimmed().toUpper();
  if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity)) return false;
  s.parity = parity.at(0).toLatin1();
  s.dataBits = parts[2].trimmed().toInt(&ok);
  if (!ok || s.dataBits < 5 || s.dataBits > 8) return false;
  const QString stop = parts[3].trimmed();
  if (stop == QLatin1String("1"))
    s.stopBits = 1;
  else if (stop == QLatin1String("2") || stop == QLatin1String("1.5"))
    s.stopBits = 2;
  else
    return false;
  settings_ = s;
  return applySettings();
}

bool SerialPort::dropFailedPort() {
  if (!backend_) return true;
  // A backend keeps reporting its failure until it is opened again.
  if (backend_->failed() && !lost_) {
    backend_->close();
    lost_ = true;
    pollsSinceLoss_ = 0;
  }
  return !backend_->isOpen();
}

bool SerialPort::write(const uint8_t* data, int32_t count) {
  if (dropFailedPort() || count <= 0 || !data) return false;
  return backend_->write(data, count);
}

void SerialPort::purge() {
  if (isOpen()) backend_->purge();
}

bool SerialPort::reconnect() {
  if (++pollsSinceLoss_ < kReconnectPolls) return false;
  pollsSinceLoss_ = 0;
  const QString device = serialDeviceName(portName_);
  // A pseudo-terminal's number goes to whatever program asks next: never take
  // one over unasked (it may be somebody's terminal session).
  if (QFileInfo(device).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"))) return false;
  QString error;
  if (!backend_->open(device, &error)) return false;
  if (!backend_->readState() || !applySettings()) {
    backend_->close();
    return false;
  }
  purge();
  lost_ = false;
  return true;
}

void SerialPort::poll() {
  if (dropFailedPort() && !(lost_ && reconnect())) return;
  uint8_t buffer[256];
  int delivered = 0;
  while (delivered < kMaxBytesPerPoll && !dropFailedPort()) {
    const int64_t n = backend_->read(buffer, sizeof buffer);
    if (n <= 0) break;
    delivered += int(n);
    if (onReceive) onReceive(buffer, int(n));
  }
  dropFailedPort();
}

void SerialPort::setRts(bool on) {
  if (isOpen() && backend_->setRts(on)) rts_ = on;
}

void SerialPort::setDtr(bool on) {
  if (isOpen() && backend_->setDtr(on)) dtr_ = on;
}

bool SerialPort::isOpen() const { return backend_ && backend_->isOpen(); }
