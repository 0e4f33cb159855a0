#pragma once
// The Modbus TCP server's settings: section [ModbusServer] of the service
// settings file beside the program (<program>-service.ini):
//
//   [ModbusServer]
//   Enabled=false
//   Address=127.0.0.1        ; IPv4 address of this machine to listen on; 0.0.0.0: every one
//   Port=5502                ; 502 needs privileges (see README); 0: any free port
//   AllowedClients=          ; addresses and networks (10.0.0.0/8), comma separated;
//                            ; empty: this machine only (127.0.0.0/8); 0.0.0.0/0: anyone
//   MaxConnections=16        ; clients at a time; more are refused
//   WordOrder=HighFirst      ; 32-bit values: HighFirst (ABCD) or LowFirst (CDAB)
//   IdleTimeoutSeconds=300   ; a client without a request this long is closed; 0: never
//
// An invalid value switches the server off with a message: a server on an
// address or for clients nobody chose is worse than none.

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "modbus_server/register_image.h"

namespace modbus_server {

struct ServerSettings {
  bool enabled = false;
  QString address = QStringLiteral("127.0.0.1");
  int port = 5502;
  QStringList allowedClients;  // empty: loopback only
  int maxConnections = 16;
  WordOrder wordOrder = WordOrder::HighFirst;
  int idleTimeoutSeconds = 300;

  bool operator==(const ServerSettings& o) const {
    return enabled == o.enabled && address == o.address && port == o.port && allowedClients == o.allowedClients &&
           maxConnections == o.maxConnections && wordOrder == o.wordOrder &&
           idleTimeoutSeconds == o.idleTimeoutSeconds;
  }
};

inline constexpr int kMaxConnectionsLimit = 1000;

struct ServerSettingsLoad {
  ServerSettings settings;  // enabled is false when there are problems
  bool requested = false;   // Enabled=true in the file, whether or not it can be used
  QStringList problems;     // "ModbusServer/Port: не номер порта 0..65535: abc", ...
};

// Reads the [ModbusServer] section of `path`. A missing file or section
// leaves the server off without a problem.
ServerSettingsLoad loadServerSettings(const QString& path);
// What keeps these settings from being used, with the key's name; empty when they can be.
QStringList settingsProblems(const ServerSettings& settings);

// Which client addresses may connect.
class ClientFilter {
 public:
  // Entries as the setting has them; a wrong one is left out (see settingsProblems).
  explicit ClientFilter(const QStringList& entries = {});
  bool allows(const QHostAddress& address) const;

 private:
  QList<QPair<QHostAddress, int>> subnets_;
};

}  // namespace modbus_server
