#include "device/tcp_backend.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace {

class TcpBackend final : public SerialBackend {
 public:
  TcpBackend() {
    connectTimer_.setSingleShot(true);
    QObject::connect(&connectTimer_, &QTimer::timeout, &socket_, [this] { endOpening(); });
    QObject::connect(&socket_, &QTcpSocket::connected, &socket_, [this] {
      // Each frame goes out as it is written, as on the serial line.
      socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
      socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
      connectTimer_.stop();
      opening_ = false;
      connected_ = true;
      notifyLater();
    });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_, [this] { onError(); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] { onError(); });
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { notifyLater(); });
  }

  ~TcpBackend() override {
    socket_.disconnect();
    connectTimer_.disconnect();
    socket_.abort();
  }

  void setNotify(std::function<void()> notify) override { notify_ = std::move(notify); }

  bool open(const QString& device, QString* error) override {
    close();
    failed_ = false;
    failures_ = 0;
    const QUrl url(device);
    const int port = url.port();
    if (!url.isValid() || url.host().isEmpty() || port <= 0) {
      if (error) *error = QStringLiteral("Not an address: ") + device;
      return false;
    }
    opening_ = true;
    connectTimer_.start(kTcpConnectTimeoutMs);
    socket_.connectToHost(url.host(), quint16(port));
    // Qt may decide a connection on this machine within the call.
    if (opening_ || isOpen()) return true;
    if (error) *error = socket_.errorString();
    return false;
  }

  bool isOpening() const override { return opening_; }
  bool isOpen() const override { return !failed_ && socket_.state() == QAbstractSocket::ConnectedState; }

  void close() override {
    opening_ = connected_ = false;
    connectTimer_.stop();
    socket_.abort();
  }

  // The device server keeps the serial line's settings and lines itself.
  bool readState() override { return isOpen(); }
  bool configure(const LineSettings&) override { return isOpen(); }
  bool setDtr(bool) override { return isOpen(); }
  bool setRts(bool) override { return isOpen(); }

  void purge() override {
    if (isOpen()) socket_.readAll();
  }

  int64_t read(uint8_t* buffer, int64_t max) override {
    if (!isOpen()) return 0;
    const qint64 n = socket_.read(reinterpret_cast<char*>(buffer), max);
    return n < 0 ? 0 : n;
  }

  bool write(const uint8_t* data, int64_t count) override {
    if (!isOpen() || count <= 0) return false;
    if (socket_.write(reinterpret_cast<const char*>(data), count) != count) return false;
    socket_.flush();  // hands the frame to the system now, without waiting
    return isOpen();
  }

  bool failed() const override { return failed_; }
  int failureReports() const override { return failures_; }
  bool mayReopen(const QString&) const override { return true; }
  int reopenIntervalMs() const override { return kTcpReopenIntervalMs; }

 private:
  void onError() {
    if (opening_) {
      endOpening();
    } else if (connected_) {
      // Reset, closed by the server, or the cable pulled: as a hang-up.
      connected_ = false;
      failed_ = true;
      ++failures_;
      socket_.abort();
      notifyLater();
    }
  }

  void endOpening() {
    opening_ = false;
    connectTimer_.stop();
    socket_.abort();
    notifyLater();
  }

  // Never from inside a call of the owner's: Qt may emit during a write.
  void notifyLater() {
    QMetaObject::invokeMethod(
        &socket_, [this] {
          if (notify_) notify_();
        },
        Qt::QueuedConnection);
  }

  QTcpSocket socket_;
  QTimer connectTimer_;
  std::function<void()> notify_;
  bool opening_ = false;
  bool connected_ = false;  // until the connection is lost or closed here
  bool failed_ = false;
  int failures_ = 0;
};

}  // namespace

std::unique_ptr<SerialBackend> createTcpBackend() { return std::make_unique<TcpBackend>(); }
