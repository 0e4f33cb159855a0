#include "device/serial_port.h"

#include <QStringList>
#include <optional>

#include "platform/timer.h"

SerialPort::SerialPort() : reopenTimer_(std::make_unique<Timer>(1000)) {
  QObject::connect(reopenTimer_.get(), &Timer::timeout, reopenTimer_.get(), [this] { reopen(); });
}

SerialPort::~SerialPort() {
  if (backend_) {
    purge();
    backend_->close();
  }
}

PortOpenResult SerialPort::open(const QString& portName) {
  if (backend_) backend_->close();
  lost_ = waiting_ = opening_ = reopening_ = reopenable_ = false;
  reopenTimer_->setEnabled(false);
  portName_ = portName;
  settings_ = LineSettings{};
  const QString device = serialDeviceName(portName);
  backend_ = createSerialBackend(device);
  backend_->setNotify([this] { poll(); });
  QString error;
  if (!backend_->open(device, &error)) {
    waitToOpen();
    return PortOpenResult::CannotOpen;
  }
  if (backend_->isOpening()) {
    opening_ = true;
    return PortOpenResult::Connecting;
  }
  return afterOpen();
}

void SerialPort::waitToOpen() {
  if (!backend_->mayReopen(serialDeviceName(portName_))) return;
  waiting_ = true;
  reopenTimer_->setInterval(kOpenRetryIntervalMs);
  reopenTimer_->setEnabled(true);
}

QString SerialPort::openError() const { return backend_ ? backend_->openError() : QString(); }

PortOpenResult SerialPort::afterOpen() {
  reopenable_ = backend_->mayReopen(serialDeviceName(portName_));
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
    if (reopenable_) {
      reopenTimer_->setInterval(backend_->reopenIntervalMs());
      reopenTimer_->setEnabled(true);
    }
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

void SerialPort::reopen() {
  if (!(lost_ || waiting_) || reopening_ || !backend_) return;
  const QString device = serialDeviceName(portName_);
  if (!backend_->mayReopen(device)) return;
  QString error;
  if (!backend_->open(device, &error)) return;
  if (backend_->isOpening())
    reopening_ = true;  // poll() finishes it when the driver has decided
  else
    finishReopen();
}

void SerialPort::finishReopen() {
  reopening_ = false;
  if (!backend_->isOpen() || !backend_->readState() || !applySettings()) {
    backend_->close();
    return;
  }
  purge();
  const bool first = waiting_;
  lost_ = waiting_ = false;
  reopenTimer_->setEnabled(false);
  if (first) {
    if (onOpenedLater) onOpenedLater();
  } else if (onReopened) {
    onReopened();
  }
}

void SerialPort::poll() {
  if (!backend_) return;
  std::optional<PortOpenResult> opened;
  if (opening_ && !backend_->isOpening()) {
    opening_ = false;
    opened = backend_->isOpen() ? afterOpen() : PortOpenResult::CannotOpen;
    if (*opened == PortOpenResult::CannotOpen) waitToOpen();
  }
  if (reopening_ && !backend_->isOpening()) finishReopen();
  deliver();
  if (opened && onOpenFinished) onOpenFinished(*opened);
}

void SerialPort::deliver() {
  if (dropFailedPort()) return;
  uint8_t buffer[256];
  int delivered = 0;
  while (delivered < kMaxBytesPerPoll && !dropFailedPort()) {
    const int64_t n = backend_->read(buffer, sizeof buffer);
    if (n <= 0) break;
    delivered += int(n);
    if (onReceive) onReceive(buffer, int(n));
  }
  // The driver tells of new bytes only: what the cap left is fetched in the
  // next turn of the event loop (tied to the timer, which lives as the port).
  if (delivered >= kMaxBytesPerPoll)
    QMetaObject::invokeMethod(reopenTimer_.get(), [this] { poll(); }, Qt::QueuedConnection);
  dropFailedPort();
}

void SerialPort::setRts(bool on) {
  if (isOpen() && backend_->setRts(on)) rts_ = on;
}

void SerialPort::setDtr(bool on) {
  if (isOpen() && backend_->setDtr(on)) dtr_ = on;
}

bool SerialPort::isOpen() const { return backend_ && backend_->isOpen(); }
