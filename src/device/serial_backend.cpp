#include "device/serial_backend.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>

#include "device/tcp_backend.h"
#include "platform/lock_files.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#include <termios.h>
#endif

namespace {

SerialBackendFactory g_factory;

class QtSerialBackend final : public SerialBackend {
 public:
  QtSerialBackend() {
    QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
      // After a hang-up Qt 6.4 reports ReadError in a tight loop (a full core)
      // and never ResourceError: close at the first sign of a broken port, so
      // its notifiers go away with it.
      if (e == QSerialPort::ReadError || e == QSerialPort::WriteError ||
          e == QSerialPort::ResourceError) {
        // The event loop polls the descriptor before it delivers posted
        // events; when one of them (our own read, a write that reads first)
        // takes the bytes, Qt's read notification then finds nothing and
        // reports an error on a line that is well. Not a failure: the next
        // read turns the notification back on.
        if (e != QSerialPort::WriteError && lineIsWell() && ++emptyReads_ <= kMaxEmptyReads) {
          port_.clearError();
          QMetaObject::invokeMethod(&port_, [this] { notify(); }, Qt::QueuedConnection);
          return;
        }
        ++failures_;
        failed_ = true;
        if (port_.isOpen()) port_.close();
        QMetaObject::invokeMethod(&port_, [this] { notify(); }, Qt::QueuedConnection);
      }
    });
    // Queued: Qt may emit readyRead inside a read or write of ours.
    QObject::connect(&port_, &QSerialPort::readyRead, &port_, [this] { notify(); },
                     Qt::QueuedConnection);
  }

  void setNotify(std::function<void()> notify) override { notify_ = std::move(notify); }

  ~QtSerialBackend() override {
    port_.disconnect();
    if (port_.isOpen()) port_.close();
  }

  bool open(const QString& device, QString* error) override {
    failed_ = false;
    failures_ = 0;
    emptyReads_ = 0;
    port_.setPortName(device);
    // The port's lock file left by a program killed while it opened the port
    // (empty, or naming an id that lives on) would keep it closed for half a
    // minute; one whose owner lives stays.
    const QString lock =
        serialPortLockPath(device.startsWith(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device);
    if (!lock.isEmpty()) removeLockOfDeadOwner(lock);
    if (!port_.open(QIODevice::ReadWrite)) {
      if (error) *error = port_.errorString();
      return false;
    }
    port_.clear(QSerialPort::AllDirections);  // some adapters hand over stale bytes
    return true;
  }

  bool isOpen() const override { return port_.isOpen() && !failed_; }

  void close() override {
    if (port_.isOpen()) port_.close();
  }

  bool readState() override {
    if (!isOpen()) return false;
#ifdef Q_OS_UNIX
    termios tio{};
    return ::tcgetattr(int(port_.handle()), &tio) == 0;
#else
    return true;
#endif
  }

  bool configure(const LineSettings& s) override {
    if (!isOpen()) return false;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (s.parity) {
      case 'E': parity = QSerialPort::EvenParity; break;
      case 'O': parity = QSerialPort::OddParity; break;
      case 'M': parity = QSerialPort::MarkParity; break;
      case 'S': parity = QSerialPort::SpaceParity; break;
      default: break;
    }
    const auto dataBits = QSerialPort::DataBits(qBound(5, s.dataBits, 8));
    const auto stopBits = s.stopBits == 1 ? QSerialPort::OneStop : QSerialPort::TwoStop;
    return port_.setBaudRate(s.baudRate) && port_.setDataBits(dataBits) &&
           port_.setParity(parity) && port_.setStopBits(stopBits) &&
           port_.setFlowControl(QSerialPort::NoFlowControl);
  }

  bool setDtr(bool on) override { return isOpen() && port_.setDataTerminalReady(on); }
  bool setRts(bool on) override { return isOpen() && port_.setRequestToSend(on); }

  void purge() override {
    if (isOpen()) port_.clear(QSerialPort::AllDirections);
  }

  int64_t read(uint8_t* buffer, int64_t max) override {
    if (!isOpen()) return 0;
    // Bytes reach Qt's buffer through the event loop; between two turns of it
    // they are fetched here. Only when the driver has something (or reports a
    // hang-up): an empty wait would report a time-out.
    if (port_.bytesAvailable() == 0 && driverHasInput()) port_.waitForReadyRead(0);
    if (!isOpen()) return 0;
    const qint64 n = port_.read(reinterpret_cast<char*>(buffer), max);
    if (n > 0) emptyReads_ = 0;
    return n < 0 ? 0 : n;
  }

  bool write(const uint8_t* data, int64_t count) override {
    if (!isOpen() || count <= 0) return false;
    const qint64 n = port_.write(reinterpret_cast<const char*>(data), count);
    if (n != count) return false;
    // Hand the frame to the driver now if it takes it at once; never waits
    // for the line (flush() would block in tcdrain()).
    if (driverTakesOutput()) port_.waitForBytesWritten(0);
    return isOpen();
  }

  bool failed() const override { return failed_; }
  int failureReports() const override { return failures_; }

  bool mayReopen(const QString& device) const override {
    // A pseudo-terminal's number goes to whatever program asks next: never
    // take one over unasked (it may be somebody's terminal session), named
    // as it is or through a link, there now or not.
    const QFileInfo info(device);
    for (const QString& path : {info.absoluteFilePath(), info.canonicalFilePath(), info.symLinkTarget()})
      if (path.startsWith(QLatin1String("/dev/pts/"))) return false;
    return true;
  }
  int reopenIntervalMs() const override { return 1000; }

 private:
  void notify() {
    if (notify_) notify_();
  }

  bool driverReady(short events) const {
#ifdef Q_OS_UNIX
    pollfd p{int(port_.handle()), events, 0};
    return ::poll(&p, 1, 0) > 0;
#else
    Q_UNUSED(events);
    return true;
#endif
  }
  bool driverHasInput() const {
#ifdef Q_OS_UNIX
    return driverReady(POLLIN);
#else
    return true;
#endif
  }
  // Neither hung up nor in error, and still a serial line to the driver.
  bool lineIsWell() const {
#ifdef Q_OS_UNIX
    if (!port_.isOpen()) return false;
    pollfd p{int(port_.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return false;
    termios tio{};
    return ::tcgetattr(int(port_.handle()), &tio) == 0;
#else
    return false;
#endif
  }
  bool driverTakesOutput() const {
#ifdef Q_OS_UNIX
    return driverReady(POLLOUT);
#else
    return true;
#endif
  }

  // Empty read notifications in a row on a line that is well; a driver that
  // kept sending them would take a core, so past this many the port counts
  // as failed.
  static constexpr int kMaxEmptyReads = 100;

  QSerialPort port_;
  std::function<void()> notify_;
  bool failed_ = false;
  int failures_ = 0;
  int emptyReads_ = 0;
};

}  // namespace

std::unique_ptr<SerialBackend> createSerialBackend(const QString& device) {
  if (g_factory) return g_factory();
  if (isTcpPortName(device)) return createTcpBackend();
  return std::make_unique<QtSerialBackend>();
}

void setSerialBackendFactory(SerialBackendFactory factory) { g_factory = std::move(factory); }

bool isTcpPortName(const QString& portName) {
  return portName.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

QString serialDeviceName(const QString& portName) {
#ifdef Q_OS_WIN
  return portName;
#else
  static const QRegularExpression com(QStringLiteral("^COM([1-8])$"));
  const auto m = com.match(portName);
  if (m.hasMatch()) return QStringLiteral("/dev/ttyS%1").arg(m.captured(1).toInt() - 1);
  return portName;
#endif
}
