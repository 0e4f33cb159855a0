#include "device/serial_backend.h"

#include <QRegularExpression>
#include <QSerialPort>

namespace {

SerialBackendFactory g_factory;

class QtSerialBackend final : public SerialBackend {
 public:
  QtSerialBackend() {
    QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
      // After a hang-up Qt 6.4 reports ReadError in a tight loop and never
      // ResourceError: close at the first sign of a broken port.
      if (e == QSerialPort::ReadError || e == QSerialPort::WriteError ||
          e == QSerialPort::ResourceError) {
        failed_ = true;
        if (port_.isOpen()) port_.close();
      }
    });
  }

  bool Open(const QString& device, QString* error) override {
    failed_ = false;
    port_.setPortName(device);
    if (!port_.open(QIODevice::ReadWrite)) {
      if (error) *error = port_.errorString();
      return false;
    }
    port_.clear(QSerialPort::AllDirections);  // some adapters hand over stale bytes
    return true;
  }

  bool IsOpen() const override { return port_.isOpen() && !failed_; }

  void Close() override {
    if (port_.isOpen()) port_.close();
  }

  bool Configure(const LineSettings& s) override {
    if (!port_.isOpen()) return false;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (s.Parity) {
      case 'E': parity = QSerialPort::EvenParity; break;
      case 'O': parity = QSerialPort::OddParity; break;
      case 'M': parity = QSerialPort::MarkParity; break;
      case 'S': parity = QSerialPort::SpaceParity; break;
      default: break;
    }
    const auto dataBits = QSerialPort::DataBits(qBound(5, s.DataBits, 8));
    const auto stopBits = s.StopBits == 1 ? QSerialPort::OneStop : QSerialPort::TwoStop;
    return port_.setBaudRate(s.BaudRate) && port_.setDataBits(dataBits) &&
           port_.setParity(parity) && port_.setStopBits(stopBits) &&
           port_.setFlowControl(QSerialPort::NoFlowControl);
  }

  bool SetDtr(bool on) override { return IsOpen() && port_.setDataTerminalReady(on); }
  bool SetRts(bool on) override { return IsOpen() && port_.setRequestToSend(on); }

  void Purge() override {
    if (IsOpen()) port_.clear(QSerialPort::AllDirections);
  }

  int64_t Read(uint8_t* buffer, int64_t max) override {
    if (!IsOpen()) return 0;
    // Let the driver's queue reach Qt's buffer even without an event loop turn.
    if (port_.bytesAvailable() == 0) port_.waitForReadyRead(0);
    if (!IsOpen()) return 0;
    const qint64 n = port_.read(reinterpret_cast<char*>(buffer), max);
    return n < 0 ? 0 : n;
  }

  bool Write(const uint8_t* data, int64_t count) override {
    if (!IsOpen() || count <= 0) return false;
    const qint64 n = port_.write(reinterpret_cast<const char*>(data), count);
    if (n != count) return false;
    port_.flush();  // start sending now rather than at the next event-loop turn
    return IsOpen();
  }

  bool Failed() const override { return failed_; }

 private:
  QSerialPort port_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<SerialBackend> CreateSerialBackend() {
  if (g_factory) return g_factory();
  return std::make_unique<QtSerialBackend>();
}

void SetSerialBackendFactory(SerialBackendFactory factory) { g_factory = std::move(factory); }

QString SerialDeviceName(const QString& portName) {
#ifdef Q_OS_WIN
  return portName;
#else
  static const QRegularExpression com(QStringLiteral("^COM([1-8])$"));
  const auto m = com.match(portName);
  if (m.hasMatch()) return QStringLiteral("/dev/ttyS%1").arg(m.captured(1).toInt() - 1);
  return portName;
#endif
}
