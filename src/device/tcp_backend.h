#pragma once
// The analyzer behind a serial device server: "tcp://host:port" opens a TCP
// connection that carries exactly the RTU frames of the serial line. The
// connection is made without blocking; it counts as a port that cannot be
// opened when it is refused or not made within kTcpConnectTimeoutMs.

#include <memory>

#include "device/serial_backend.h"

inline constexpr int kTcpConnectTimeoutMs = 3000;
// A lost connection is made again this often, quietly.
inline constexpr int kTcpReopenIntervalMs = 3000;

std::unique_ptr<SerialBackend> createTcpBackend();
