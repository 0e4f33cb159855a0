#pragma once
// The settings of publishing results to an MQTT broker and of copying them to
// a central PostgreSQL database: a QSettings INI file of its own beside the
// program (<program>-service.ini):
//
//   [Service]
//   Mode=continuous         ; korvex --headless starts it: continuous, single, cyclic or none
//   [Analyzer]
//   Site=plant-7            ; names in topics and in the central database:
//   Name=boiler-3           ; not empty, no '/', '+', '#'
//   Name2=boiler-4          ; the further analyzers of the line (slots 2..8); by
//                           ; default the first one's name and "-<slot>"
//   [Mqtt]
//   Enabled=true
//   Host=broker.example
//   Port=0                  ; 0: 1883, or 8883 with TLS
//   Tls=false
//   CaFile=                 ; empty with TLS: the system's certificate authorities
//   Insecure=false          ; true: the broker's certificate is not checked (warned at every start)
//   User=
//   Password=
//   KeepAliveSeconds=30
//   RetryMinMs=1000         ; reconnect back-off, doubled up to RetryMaxMs
//   RetryMaxMs=60000
//   [Central]
//   Enabled=false
//   Connection=host=db.example dbname=korvex user=korvex password=...   ; libpq connection string or URI
//   RetryMinMs=1000
//   RetryMaxMs=60000
//   BatchSize=500
//
// A file that holds a password is written readable by its owner only, and no
// text made here (problems, descriptions) contains a password.

#include <QString>
#include <QStringList>
#include <array>

namespace publish {

// Which analyzer the results come from, as the central places know it.
struct AnalyzerIdentity {
  QString site;
  QString name;
  int address = 1;  // the analyzer's network address: from the program's settings, not this file

  bool operator==(const AnalyzerIdentity& o) const {
    return site == o.site && name == o.name && address == o.address;
  }
};

struct MqttSettings {
  bool enabled = false;
  QString host = QStringLiteral("localhost");
  int port = 0;  // 0: the default of the transport
  bool tls = false;
  QString caFile;
  bool insecure = false;
  QString user;
  QString password;
  int keepAliveSeconds = 30;
  int retryMinMs = 1000;
  int retryMaxMs = 60000;

  int effectivePort() const { return port > 0 ? port : (tls ? 8883 : 1883); }
  bool operator==(const MqttSettings& o) const;
};

struct CentralSettings {
  bool enabled = false;
  QString connection;
  int retryMinMs = 1000;
  int retryMaxMs = 60000;
  int batchSize = 500;

  bool operator==(const CentralSettings& o) const;
};

struct ServiceSettings {
  QString mode = QStringLiteral("continuous");  // of the headless service; --mode overrides
  QString site;
  QString analyzerName;
  // The names of the further analyzers of the line, slots 2..8 (empty: by default).
  std::array<QString, 7> otherNames;
  MqttSettings mqtt;
  CentralSettings central;

  // The name of the analyzer of the line in `slot` (1..8).
  QString nameOf(int slot) const;
  AnalyzerIdentity identity(int address, int slot = 1) const { return {site, nameOf(slot), address}; }
  // True when the file holding these must be kept from other users.
  bool holdsPassword() const;
  bool operator==(const ServiceSettings& o) const {
    return mode == o.mode && site == o.site && analyzerName == o.analyzerName && otherNames == o.otherNames &&
           mqtt == o.mqtt && central == o.central;
  }
};

enum class ServiceSettingsStatus : uint8_t {
  Loaded,         // read as it is
  Missing,        // no file: defaults, nothing enabled
  Unreadable,     // cannot be opened: defaults, nothing enabled
  Broken,         // not an INI file: defaults, nothing enabled, nothing of it trusted
  InvalidValues,  // read, but the keys in `problems` were wrong and keep their defaults
};

struct ServiceSettingsLoad {
  ServiceSettings settings;
  ServiceSettingsStatus status = ServiceSettingsStatus::Loaded;
  QStringList problems;  // "Mqtt/Port: не номер порта 1..65535 (0 — порт по умолчанию): abc", ...
  QStringList warnings;  // read as it is, but worth telling: "доступен для чтения другим пользователям"
  QString message() const;  // one or more sentences for the operator or the log; empty when all is well
};

// The file beside the program: <program>-service.ini.
QString defaultServiceSettingsPath();

ServiceSettingsLoad loadServiceSettings(const QString& path);
// Writes every key and reads the file back to check it; a file holding a
// password gets owner-only permissions before anything is written to it.
bool saveServiceSettings(const QString& path, const ServiceSettings& settings, QString* error = nullptr);

// Problems that keep the settings of one part from working, in Russian with
// the key's name ("Mqtt/Host: не задан", ...); empty when they can be used.
QStringList identityProblems(const QString& site, const QString& analyzerName);
QStringList mqttProblems(const MqttSettings& settings);
QStringList centralProblems(const CentralSettings& settings);

// The connection string without its password, for the log: "host=db port=5432 dbname=korvex user=korvex".
// An unparsable string gives "(неверная строка подключения)".
QString describeConnection(const QString& connection);
// Whether the connection string carries a password. One libpq cannot read
// is taken for one that does when it names a password or is a URI with one.
bool connectionHasPassword(const QString& connection);
// Whether libpq can read it.
bool isConnectionString(const QString& connection);

}  // namespace publish
