#include "modbus_server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostAddress>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "modbus_server/refusal_log.h"

namespace modbus_server {

namespace {

constexpr int kHeaderLength = 6;     // MBAP header up to and with the length field
constexpr int kMaxMbapLength = 254;  // unit id and the longest PDU (253)
constexpr int kReadRequestLength = 6;  // unit id, function, address, count
constexpr int kMaxReadCount = 125;
constexpr int kReadChunk = 4096;     // bytes taken from one client per round, so all get their turn
constexpr int kAcceptsPerRound = 64;

qint64 steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void setNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// A dead peer (a cable pulled) would otherwise hold its connection, and one
// of the connections allowed, for hours.
void setClientOptions(int fd) {
  const int on = 1, idle = 60, interval = 10, count = 3;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

QString listenError(int error, const QString& endpoint, int port) {
  switch (error) {
    case EADDRINUSE:
      return QStringLiteral(u"не могу слушать %1: порт уже занят").arg(endpoint);
    case EACCES:
      if (port > 0 && port < 1024)
        return QStringLiteral(u"не могу слушать %1: порт ниже 1024 требует права CAP_NET_BIND_SERVICE "
                              u"(или порт выше 1023)").arg(endpoint);
      return QStringLiteral(u"не могу слушать %1: нет прав").arg(endpoint);
    case EADDRNOTAVAIL:
      return QStringLiteral(u"не могу слушать %1: у этого компьютера нет такого адреса").arg(endpoint);
    default:
      return QStringLiteral(u"не могу слушать %1: %2").arg(endpoint, QString::fromLocal8Bit(std::strerror(error)));
  }
}

}  // namespace

struct Server::Impl {
  struct Client {
    int fd = -1;
    QString address;
    std::vector<uint8_t> buffer;
    qint64 lastRequestMs = 0;
  };
  struct Unit {
    std::shared_ptr<const RegisterImage> image;
    uint16_t sequence = 0;
  };

  explicit Impl(Server* q, const ServerSettings& s) : q(q), settings(s), filter(s.allowedClients) {}

  Server* q;
  ServerSettings settings;
  ClientFilter filter;
  modbus_t* ctx = nullptr;
  modbus_mapping_t* mapping = nullptr;
  int listenFd = -1;
  int wake[2] = {-1, -1};
  quint16 port = 0;
  std::thread thread;
  std::atomic<bool> stopping{false};

  mutable std::mutex unitsMutex;
  std::array<Unit, kMaxAnalyzers> units;

  std::atomic<uint64_t> requests{0}, exceptions{0}, refused{0}, malformed{0}, acceptPauses{0};
  std::atomic<int> clientCount{0};

  // The server thread's own.
  std::vector<Client> clients;
  const RegisterImage* mapped = nullptr;  // the image the mapping holds now
  std::shared_ptr<const RegisterImage> mappedHold;
  RefusalLog refusals;

  std::shared_ptr<const RegisterImage> unitImage(int unitId) const {
    if (unitId < 1 || unitId > kMaxAnalyzers) return nullptr;
    std::lock_guard<std::mutex> lock(unitsMutex);
    return units[size_t(unitId - 1)].image;
  }

  void run();
  void acceptClients(qint64 now);
  // Out of file descriptors the listening socket stays readable: it is left
  // out of the poll for a while instead of waking the loop again at once.
  qint64 acceptPausedUntilMs = 0;
  // False when the client is to be closed.
  bool readClient(Client& c, qint64 now);
  bool answer(Client& c, const uint8_t* frame, int length);
  bool reply(Client& c, const uint8_t* frame, unsigned exception) {
    ++requests;
    ++exceptions;
    modbus_set_socket(ctx, c.fd);
    return modbus_reply_exception(ctx, frame, exception) > 0;
  }
  void refuse(int fd, const QString& address, const QString& why) {
    ++refused;  // counted before the client can see the close
    ::close(fd);
    if (const std::optional<QString> line = refusals.refused(address, why, steadyMs())) emit q->clientRefused(*line);
  }
  void closeClient(size_t i) {
    ::close(clients[i].fd);
    clients.erase(clients.begin() + std::ptrdiff_t(i));
    clientCount = int(clients.size());
  }
};

Server::Server(const ServerSettings& settings, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(this, settings)) {}

Server::~Server() { stop(); }

const ServerSettings& Server::settings() const { return d_->settings; }
bool Server::isRunning() const { return d_->thread.joinable(); }
quint16 Server::port() const { return d_->port; }

QString Server::endpoint() const {
  return QStringLiteral("%1:%2").arg(d_->settings.address).arg(isRunning() ? d_->port : d_->settings.port);
}

bool Server::start(QString* error) {
  if (isRunning()) return true;
  Impl& d = *d_;
  const auto fail = [&](const QString& why) {
    if (error) *error = why;
    stop();
    return false;
  };
  const QStringList problems = settingsProblems(d.settings);
  if (!problems.isEmpty()) return fail(problems.join(QStringLiteral("; ")));
  const QString address = QHostAddress(d.settings.address).toString();
  d.ctx = modbus_new_tcp(address.toLatin1().constData(), d.settings.port);
  d.mapping = modbus_mapping_new_start_address(0, 0, 0, 0, 0, kRegisterCount, 0, kRegisterCount);
  if (!d.ctx || !d.mapping) return fail(QStringLiteral(u"не хватает памяти"));
  d.listenFd = modbus_tcp_listen(d.ctx, 64);
  if (d.listenFd < 0) return fail(listenError(errno, endpoint(), d.settings.port));
  setNonBlocking(d.listenFd);
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (getsockname(d.listenFd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) d.port = ntohs(bound.sin_port);
  if (pipe2(d.wake, O_NONBLOCK | O_CLOEXEC) != 0)
    return fail(QString::fromLocal8Bit(std::strerror(errno)));
  d.stopping = false;
  d.thread = std::thread([&d] { d.run(); });
  return true;
}

void Server::stop() {
  Impl& d = *d_;
  if (d.thread.joinable()) {
    d.stopping = true;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(d.wake[1], &byte, 1);
    d.thread.join();
  }
  for (const Impl::Client& c : d.clients) ::close(c.fd);
  d.clients.clear();
  d.clientCount = 0;
  for (int* fd : {&d.listenFd, &d.wake[0], &d.wake[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (d.ctx) {
    modbus_set_socket(d.ctx, -1);  // its sockets were closed above
    modbus_free(d.ctx);
    d.ctx = nullptr;
  }
  if (d.mapping) modbus_mapping_free(d.mapping);
  d.mapping = nullptr;
  d.mapped = nullptr;
  d.mappedHold.reset();
}

void Server::publish(const AnalyzerSnapshot& snapshot) {
  if (snapshot.unitId < 1 || snapshot.unitId > kMaxAnalyzers) return;
  auto image = std::make_shared<RegisterImage>(buildRegisterImage(snapshot, d_->settings.wordOrder));
  std::lock_guard<std::mutex> lock(d_->unitsMutex);
  Impl::Unit& unit = d_->units[size_t(snapshot.unitId - 1)];
  ++unit.sequence;
  (*image)[reg::kImageSequence] = unit.sequence;
  (*image)[reg::kImageSequenceCheck] = unit.sequence;
  unit.image = std::move(image);
}

void Server::withdraw(int unitId) {
  if (unitId < 1 || unitId > kMaxAnalyzers) return;
  std::lock_guard<std::mutex> lock(d_->unitsMutex);
  d_->units[size_t(unitId - 1)].image.reset();
}

std::shared_ptr<const RegisterImage> Server::image(int unitId) const { return d_->unitImage(unitId); }

Server::Counters Server::counters() const {
  Counters c;
  c.requests = d_->requests;
  c.exceptions = d_->exceptions;
  c.refused = d_->refused;
  c.malformed = d_->malformed;
  c.acceptPauses = d_->acceptPauses;
  c.clients = d_->clientCount;
  return c;
}

void Server::Impl::run() {
  std::vector<pollfd> fds;
  while (!stopping) {
    fds.clear();
    fds.push_back({wake[0], POLLIN, 0});
    const qint64 now = steadyMs();
    const bool accepting = now >= acceptPausedUntilMs;
    fds.push_back({accepting ? listenFd : -1, POLLIN, 0});
    for (const Client& c : clients) fds.push_back({c.fd, POLLIN, 0});
    // Without an idle limit (or a client) nothing is due: no timer wakes the thread.
    qint64 due = -1;
    const qint64 idleMs = qint64(settings.idleTimeoutSeconds) * 1000;
    if (idleMs > 0 && !clients.empty()) {
      due = idleMs;
      for (const Client& c : clients) due = std::min(due, c.lastRequestMs + idleMs - now);
      due = std::max<qint64>(due, 0);
    }
    if (!accepting) due = due < 0 ? acceptPausedUntilMs - now : std::min(due, acceptPausedUntilMs - now);
    const int timeout = due < 0 ? -1 : int(std::min<qint64>(due, 24 * 3600 * 1000));
    const int ready = ::poll(fds.data(), nfds_t(fds.size()), timeout);
    if (ready < 0 && errno != EINTR) break;
    if (stopping) break;
    if (fds[0].revents) {
      char drain[64];
      while (::read(wake[0], drain, sizeof drain) > 0) {
      }
    }
    const qint64 after = steadyMs();
    // Clients first, then new ones: the indexes of fds stay those of clients.
    for (size_t i = clients.size(); i-- > 0;) {
      const short events = fds[2 + i].revents;
      bool keep = true;
      if (events & (POLLIN | POLLHUP | POLLERR)) keep = readClient(clients[i], after);
      if (keep && idleMs > 0 && after - clients[i].lastRequestMs >= idleMs) keep = false;
      if (!keep) closeClient(i);
    }
    if (fds[1].revents & POLLIN) acceptClients(after);
  }
}

void Server::Impl::acceptClients(qint64 now) {
  for (int n = 0; n < kAcceptsPerRound; ++n) {
    int listening = listenFd;
    const int fd = modbus_tcp_accept(ctx, &listening);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        acceptPausedUntilMs = now + 1000;
        ++acceptPauses;
      }
      return;  // else nothing more waiting (or it went away meanwhile)
    }
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    QHostAddress address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0)
      address.setAddress(reinterpret_cast<const sockaddr*>(&peer));
    const QString text = address.toString();
    if (!filter.allows(address)) {
      refuse(fd, text, QStringLiteral(u"адрес не разрешён (ModbusServer/AllowedClients)"));
      continue;
    }
    if (int(clients.size()) >= settings.maxConnections) {
      refuse(fd, text, QStringLiteral(u"уже подключено клиентов: %1 (ModbusServer/MaxConnections)")
                           .arg(settings.maxConnections));
      continue;
    }
    setNonBlocking(fd);
    setClientOptions(fd);
    clients.push_back(Client{fd, text, {}, steadyMs()});
    clientCount = int(clients.size());
  }
}

bool Server::Impl::readClient(Client& c, qint64 now) {
  uint8_t chunk[kReadChunk];
  const ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
  if (n == 0) return false;  // closed by the client
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  c.buffer.insert(c.buffer.end(), chunk, chunk + n);
  size_t at = 0;
  bool keep = true;
  while (keep && c.buffer.size() - at >= size_t(kHeaderLength)) {
    const uint8_t* f = c.buffer.data() + at;
    const int protocol = f[2] << 8 | f[3];
    const int length = f[4] << 8 | f[5];
    if (protocol != 0 || length < 2 || length > kMaxMbapLength) {
      ++malformed;
      return false;
    }
    const size_t whole = size_t(kHeaderLength + length);
    if (c.buffer.size() - at < whole) break;
    c.lastRequestMs = now;
    keep = answer(c, f, int(whole));
    at += whole;
  }
  c.buffer.erase(c.buffer.begin(), c.buffer.begin() + std::ptrdiff_t(at));
  return keep;
}

bool Server::Impl::answer(Client& c, const uint8_t* frame, int length) {
  const int unitId = frame[6];
  const int function = frame[7];
  // Codes from 0x80 on are those of exception answers: a request never has one.
  if (function & 0x80) {
    ++malformed;
    return false;
  }
  const std::shared_ptr<const RegisterImage> image = unitImage(unitId);
  if (!image) return reply(c, frame, MODBUS_EXCEPTION_GATEWAY_TARGET);
  if (function != MODBUS_FC_READ_HOLDING_REGISTERS && function != MODBUS_FC_READ_INPUT_REGISTERS)
    return reply(c, frame, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
  if (length != kHeaderLength + kReadRequestLength) {
    ++malformed;
    return false;
  }
  const int address = frame[8] << 8 | frame[9];
  const int count = frame[10] << 8 | frame[11];
  // libmodbus answers a wrong count too, but sleeps and flushes the socket first.
  if (count < 1 || count > kMaxReadCount) return reply(c, frame, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
  if (address + count > kRegisterCount) ++exceptions;  // libmodbus answers it with exception 2
  if (mapped != image.get()) {
    std::copy(image->begin(), image->end(), mapping->tab_registers);
    std::copy(image->begin(), image->end(), mapping->tab_input_registers);
    mapped = image.get();
    mappedHold = image;
  }
  ++requests;
  modbus_set_socket(ctx, c.fd);
  return modbus_reply(ctx, frame, length, mapping) > 0;
}

}  // namespace modbus_server
