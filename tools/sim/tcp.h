#pragma once
// The simulator's TCP side, standing in for a serial device server (an
// Ethernet gateway) that passes the Modbus RTU frames over TCP unchanged:
// a listening IPv4 socket and the one connection it serves at a time.

#include <string>

namespace sim {

struct TcpAddress {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: a free one
};

// Parses "[HOST:]PORT".
bool parseTcpAddress(const std::string& text, TcpAddress& address, std::string* error);

// A non-blocking listening socket; `bound` gets the numeric "host:port" it
// really listens on (the port chosen when 0 was asked for).
int listenTcp(const TcpAddress& address, std::string* bound, std::string* error);

// Accepts one waiting connection, non-blocking and without Nagle's delay, so
// that the parts of a split reply leave at their times; -1 when none waits.
int acceptTcp(int listenFd, std::string* peer);

// Closes a connection at once with a reset, as a rebooting gateway or a
// pulled cable would end it: bytes not yet sent are lost.
void resetTcp(int fd);

}  // namespace sim
