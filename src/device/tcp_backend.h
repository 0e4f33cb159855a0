#pragma once
// The analyzer behind a serial device server: "tcp://host:port" opens a TCP
// connection that carries exactly the RTU frames of the serial line. The
// connection is made without blocking; it counts as a port that cannot be
// opened when the name is malformed, the host unknown, the connection
// refused or not made within kTcpConnectTimeoutMs, and openError() says which.

#include <QString>
#include <memory>

#include "device/serial_backend.h"

inline constexpr int kTcpConnectTimeoutMs = 3000;
// A lost connection is made again this often, quietly.
inline constexpr int kTcpReopenIntervalMs = 3000;

// "tcp://host:port" taken apart: a host name or IPv4 address, or an IPv6
// address in brackets ("tcp://[::1]:4001", the host without them), and a
// port 1..65535; nothing after the port.
struct TcpAddress {
  QString host;
  quint16 port = 0;
};
// False, with the reason in `error` ("не задан номер порта", ...), for a name
// that is no such address.
bool parseTcpPortName(const QString& name, TcpAddress* address, QString* error);

std::unique_ptr<SerialBackend> createTcpBackend();
