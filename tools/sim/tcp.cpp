#include "sim/tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

std::string numeric(const sockaddr_in& a) {
  char host[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
  return std::string(host) + ":" + std::to_string(ntohs(a.sin_port));
}

}  // namespace

bool parseTcpAddress(const std::string& text, TcpAddress& address, std::string* error) {
  const size_t colon = text.rfind(':');
  const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
  TcpAddress parsed;
  if (colon != std::string::npos) parsed.host = text.substr(0, colon);
  char* end = nullptr;
  const long n = port.empty() ? -1 : std::strtol(port.c_str(), &end, 10);
  if (parsed.host.empty() || n < 0 || n > 65535 || *end != '\0') {
    if (error) *error = "bad TCP address " + text + " (expected [HOST:]PORT, PORT 0..65535)";
    return false;
  }
  parsed.port = int(n);
  address = parsed;
  return true;
}

int listenTcp(const TcpAddress& address, std::string* bound, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(address.host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    if (error) *error = address.host + ": " + gai_strerror(rc);
    return -1;
  }
  sockaddr_in a{};
  std::memcpy(&a, found->ai_addr, sizeof a);
  freeaddrinfo(found);
  a.sin_port = htons(uint16_t(address.port));

  const auto fail = [&](int fd, const char* what) {
    if (error) *error = std::string(what) + " " + numeric(a) + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  };
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(fd, "socket");
  // A restarted simulator gets its port back at once, not after TIME_WAIT.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return fail(fd, "cannot listen on");
  if (listen(fd, 4) != 0) return fail(fd, "cannot listen on");
  socklen_t length = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) return fail(fd, "getsockname");
  if (bound) *bound = numeric(a);
  return fd;
}

int acceptTcp(int listenFd, std::string* peer) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&a), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (peer) *peer = numeric(a);
  return fd;
}

void resetTcp(int fd) {
  if (fd < 0) return;
  const linger reset{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd);
}

}  // namespace sim
