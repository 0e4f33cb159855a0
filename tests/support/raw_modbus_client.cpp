#include "support/raw_modbus_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

qint64 steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool fillAddress(const QString& text, quint16 port, sockaddr_in* out) {
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  return inet_pton(AF_INET, text.toLatin1().constData(), &out->sin_addr) == 1;
}

}  // namespace

RawModbusClient::~RawModbusClient() { close(); }

bool RawModbusClient::connect(quint16 port, const QString& source, const QString& host) {
  close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  const int on = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in a{};
  if (!source.isEmpty() &&
      (!fillAddress(source, 0, &a) || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)) {
    close();
    return false;
  }
  if (!fillAddress(host, port, &a) || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close();
    return false;
  }
  return true;
}

void RawModbusClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
}

QByteArray RawModbusClient::frame(uint16_t transaction, uint8_t unit, const QByteArray& pdu) {
  QByteArray f;
  const int length = int(pdu.size()) + 1;
  f.append(char(transaction >> 8)).append(char(transaction & 0xFF));
  f.append('\0').append('\0');
  f.append(char(length >> 8)).append(char(length & 0xFF));
  f.append(char(unit));
  f.append(pdu);
  return f;
}

QByteArray RawModbusClient::readPdu(int function, int address, int count) {
  QByteArray pdu;
  pdu.append(char(function));
  pdu.append(char(address >> 8)).append(char(address & 0xFF));
  pdu.append(char(count >> 8)).append(char(count & 0xFF));
  return pdu;
}

bool RawModbusClient::send(const QByteArray& bytes) {
  if (fd_ < 0) return false;
  qsizetype at = 0;
  while (at < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
  }
  return true;
}

std::optional<QByteArray> RawModbusClient::receiveFrame(int timeoutMs) {
  const qint64 deadline = steadyMs() + timeoutMs;
  for (;;) {
    if (pending_.size() >= 6) {
      const int length = uint8_t(pending_[4]) << 8 | uint8_t(pending_[5]);
      if (pending_.size() >= 6 + length) {
        const QByteArray f = pending_.left(6 + length);
        pending_.remove(0, 6 + length);
        return f;
      }
    }
    const qint64 left = deadline - steadyMs();
    if (fd_ < 0 || left <= 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, int(left)) <= 0) continue;
    char chunk[1024];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    pending_.append(chunk, n);
  }
}

std::optional<RawModbusClient::Reply> RawModbusClient::decode(const QByteArray& f) {
  if (f.size() < 9) return std::nullopt;
  Reply r;
  r.transaction = uint16_t(uint8_t(f[0]) << 8 | uint8_t(f[1]));
  r.unit = uint8_t(f[6]);
  r.function = uint8_t(f[7]);
  if (r.function & 0x80) {
    r.exception = uint8_t(f[8]);
    return r;
  }
  if (r.function == 3 || r.function == 4) {
    const int bytes = uint8_t(f[8]);
    if (f.size() != 9 + bytes || bytes % 2) return std::nullopt;
    for (int i = 0; i < bytes; i += 2)
      r.registers.push_back(uint16_t(uint8_t(f[9 + i]) << 8 | uint8_t(f[10 + i])));
  }
  return r;
}

std::optional<RawModbusClient::Reply> RawModbusClient::call(uint8_t unit, const QByteArray& pdu, int timeoutMs) {
  const uint16_t id = ++transaction_;
  if (!send(frame(id, unit, pdu))) return std::nullopt;
  const std::optional<QByteArray> f = receiveFrame(timeoutMs);
  if (!f) return std::nullopt;
  std::optional<Reply> r = decode(*f);
  if (!r || r->transaction != id) return std::nullopt;
  return r;
}

std::optional<RawModbusClient::Reply> RawModbusClient::read(uint8_t unit, int function, int address, int count,
                                                            int timeoutMs) {
  return call(unit, readPdu(function, address, count), timeoutMs);
}

bool RawModbusClient::closedByServer(int timeoutMs) {
  const qint64 deadline = steadyMs() + timeoutMs;
  while (fd_ >= 0) {
    const qint64 left = deadline - steadyMs();
    if (left <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, int(left)) <= 0) continue;
    char chunk[1024];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
  }
  return true;
}
