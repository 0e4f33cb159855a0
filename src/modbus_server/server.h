#pragma once
// A read-only Modbus TCP server (libmodbus) for the plant's control system:
// one unit id per analyzer, each answering functions 3 and 4 from the
// register image of its last snapshot.
//
// It serves in a thread of its own, one poll() loop over the listening socket
// and every client. A client's bytes are gathered without blocking until its
// frame is whole, so a slow or broken client delays nobody; the measuring
// side only swaps in a new image (a mutex held for a pointer) and never waits
// for the server.
//
// Answers: functions 3 and 4 from the image; any other function (every
// write among them) exception 1; registers outside the map exception 2; a
// count outside 1..125 exception 3; a unit id without an analyzer exception
// 0x0B (gateway target failed to respond), whatever the function. A frame
// that is not Modbus TCP (protocol id not 0, a length outside 2..254, a
// function code of an exception answer, a read request of the wrong length)
// closes the connection. A client whose address
// is not allowed, or one more than the connections allowed, is closed at
// once and told of (rate-limited: RefusalLog).

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>

#include "modbus_server/register_image.h"
#include "modbus_server/server_settings.h"
#include "modbus_server/snapshot.h"

namespace modbus_server {

class Server : public QObject {
  Q_OBJECT
 public:
  explicit Server(const ServerSettings& settings, QObject* parent = nullptr);
  ~Server() override;

  // Listens on the settings' address and port and starts serving; false
  // with `error` (a Russian text) when it cannot listen.
  bool start(QString* error);
  // Closes every connection and the listening socket. Idempotent.
  void stop();
  bool isRunning() const;
  // The port listened on (the one the system chose for Port=0), and "address:port".
  quint16 port() const;
  QString endpoint() const;
  const ServerSettings& settings() const;

  // The snapshot's unit id answers with these values from now on. From any
  // thread, one at a time per unit id.
  void publish(const AnalyzerSnapshot& snapshot);
  // The unit id has no analyzer any more.
  void withdraw(int unitId);
  // The image a unit id answers with now; null without one.
  std::shared_ptr<const RegisterImage> image(int unitId) const;

  struct Counters {
    uint64_t requests = 0;    // whole frames answered (exceptions included)
    uint64_t exceptions = 0;  // of them, answered with an exception
    uint64_t refused = 0;     // connections refused: address not allowed or too many
    uint64_t malformed = 0;   // connections closed for a frame that is not Modbus TCP
    uint64_t acceptPauses = 0;  // accepting paused for a second: out of file descriptors
    int clients = 0;          // connected now
  };
  Counters counters() const;

 signals:
  // A line for the event log, emitted from the server's thread.
  void clientRefused(const QString& text);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace modbus_server
