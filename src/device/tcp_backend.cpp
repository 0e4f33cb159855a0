#include "device/tcp_backend.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace {

// What a failed connection attempt was, in the operator's words.
QString socketErrorText(QAbstractSocket::SocketError error, const QString& host, const QString& qtText) {
  switch (error) {
    case QAbstractSocket::HostNotFoundError: return QStringLiteral(u"узел %1 не найден").arg(host);
    case QAbstractSocket::ConnectionRefusedError:
      return QStringLiteral(u"соединение отвергнуто (на этом порту никто не принимает соединений)");
    case QAbstractSocket::NetworkError: return QStringLiteral(u"сеть недоступна");
    case QAbstractSocket::SocketAccessError: return QStringLiteral(u"нет прав на соединение");
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::RemoteHostClosedError: return QStringLiteral(u"соединение закрыто узлом");
    default: return QStringLiteral(u"ошибка соединения: ") + qtText;
  }
}

class TcpBackend final : public SerialBackend {
 public:
  TcpBackend() {
    connectTimer_.setSingleShot(true);
    QObject::connect(&connectTimer_, &QTimer::timeout, &socket_, [this] {
      openError_ = QStringLiteral(u"нет ответа за %1 с").arg(kTcpConnectTimeoutMs / 1000);
      endOpening();
    });
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
    openError_.clear();
    TcpAddress address;
    if (!parseTcpPortName(device, &address, &openError_)) {
      if (error) *error = openError_;
      return false;
    }
    host_ = address.host;
    opening_ = true;
    connectTimer_.start(kTcpConnectTimeoutMs);
    socket_.connectToHost(address.host, address.port);
    // Qt may decide a connection on this machine within the call.
    if (opening_ || isOpen()) return true;
    if (error) *error = openError_;
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
  // A malformed name never makes a connection.
  bool mayReopen(const QString& device) const override {
    TcpAddress address;
    QString error;
    return parseTcpPortName(device, &address, &error);
  }
  int reopenIntervalMs() const override { return kTcpReopenIntervalMs; }
  QString openError() const override { return openError_; }

 private:
  void onError() {
    if (opening_) {
      openError_ = socketErrorText(socket_.error(), host_, socket_.errorString());
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
  QString host_;
  QString openError_;
  bool opening_ = false;
  bool connected_ = false;  // until the connection is lost or closed here
  bool failed_ = false;
  int failures_ = 0;
};

}  // namespace

bool parseTcpPortName(const QString& name, TcpAddress* address, QString* error) {
  const auto fail = [error](const QString& why) {
    *error = why;
    return false;
  };
  const QLatin1String scheme("tcp://");
  if (!name.startsWith(scheme, Qt::CaseInsensitive)) return fail(QStringLiteral(u"имя не начинается с tcp://"));
  const QString rest = name.mid(scheme.size());
  if (rest.isEmpty()) return fail(QStringLiteral(u"не задан адрес (пример: tcp://192.168.0.10:4001)"));
  QString host, tail;
  if (rest.startsWith(QLatin1Char('['))) {
    const qsizetype close = rest.indexOf(QLatin1Char(']'));
    if (close < 0) return fail(QStringLiteral(u"нет закрывающей скобки адреса IPv6"));
    host = rest.mid(1, close - 1);
    const QHostAddress ip(host);
    if (ip.isNull() || ip.protocol() != QAbstractSocket::IPv6Protocol)
      return fail(QStringLiteral(u"в квадратных скобках не адрес IPv6: %1").arg(host));
    tail = rest.mid(close + 1);
    if (!tail.startsWith(QLatin1Char(':'))) {
      if (tail.isEmpty()) return fail(QStringLiteral(u"не задан номер порта (пример: tcp://[::1]:4001)"));
      return fail(QStringLiteral(u"после адреса лишние знаки: %1").arg(tail));
    }
    tail = tail.mid(1);
  } else {
    const qsizetype colon = rest.indexOf(QLatin1Char(':'));
    if (colon < 0) {
      for (const QChar c : rest)
        if (c == QLatin1Char('/') || c == QLatin1Char('?') || c == QLatin1Char('#') || c == QLatin1Char('@'))
          return fail(QStringLiteral(u"не задан номер порта; после адреса лишние знаки: %1").arg(rest.mid(rest.indexOf(c))));
      return fail(QStringLiteral(u"не задан номер порта (пример: tcp://%1:4001)").arg(rest));
    }
    host = rest.left(colon);
    tail = rest.mid(colon + 1);
    if (tail.contains(QLatin1Char(':')))
      return fail(QStringLiteral(u"адрес IPv6 пишется в квадратных скобках (пример: tcp://[::1]:4001)"));
    for (const QChar c : host) {
      if (c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_')) continue;
      return fail(QStringLiteral(u"недопустимый знак «%1» в имени узла").arg(c));
    }
  }
  if (host.isEmpty()) return fail(QStringLiteral(u"не задан адрес узла"));
  // The port: digits up to the end; whatever follows them is refused by name.
  qsizetype digits = 0;
  while (digits < tail.size() && tail.at(digits).isDigit() && tail.at(digits).unicode() < 128) ++digits;
  if (digits == 0) {
    if (tail.isEmpty()) return fail(QStringLiteral(u"не задан номер порта"));
    return fail(QStringLiteral(u"не номер порта: %1").arg(tail));
  }
  if (digits < tail.size()) return fail(QStringLiteral(u"после номера порта лишние знаки: %1").arg(tail.mid(digits)));
  bool ok = false;
  const qulonglong port = tail.toULongLong(&ok);
  if (!ok || port < 1 || port > 65535)
    return fail(QStringLiteral(u"номер порта %1 не от 1 до 65535").arg(tail));
  address->host = host;
  address->port = quint16(port);
  return true;
}

std::unique_ptr<SerialBackend> createTcpBackend() { return std::make_unique<TcpBackend>(); }
