#pragma once
// Publishing of the session's results: to an MQTT broker and to a central
// PostgreSQL database, as the service settings file beside the program
// (<program>-service.ini) enables them. Both read what to send from the
// results database, so they only start while this instance writes it; each
// commit of the session wakes them. The same file enables the Modbus TCP
// server for the plant's control system, which serves the session's values
// as they stand.

#include <QObject>
#include <QString>
#include <memory>

#include "app/modbus_server_feed.h"
#include "publish/central_forwarder.h"
#include "publish/mqtt_publisher.h"
#include "publish/service_settings.h"

class Session;

class Publishing : public QObject {
  Q_OBJECT
 public:
  explicit Publishing(Session& session, QObject* parent = nullptr);
  ~Publishing() override;

  // Reads the settings file (a missing one enables nothing) and starts what
  // it enables. Problems go out as messages.
  void start();
  // Stops all; the broker is told "offline".
  void stop();
  // New settings, written to the file and taken into use; false (with
  // `error`) when the file could not be written.
  bool apply(const publish::ServiceSettings& settings, QString* error);

  // The audit trail the central database gets a copy of (before start()).
  void setAuditTrail(const AuditTrail* trail) { trail_ = trail; }
  const publish::ServiceSettings& settings() const { return settings_; }
  QString settingsPath() const;
  publish::Publisher* mqtt() const { return mqtt_.get(); }
  publish::CentralForwarder* central() const { return central_.get(); }
  ModbusServerFeed& modbusServer() { return modbusServer_; }
  // One line on how publishing goes, empty when nothing is enabled.
  QString stateText() const;

 signals:
  // Something the operator or the service's log should hear of.
  void message(const QString& text);
  void stateChanged();

 private:
  void startParts();
  void stopForwarding();

  Session& session_;
  publish::ServiceSettings settings_;
  std::unique_ptr<publish::Publisher> mqtt_;
  std::unique_ptr<publish::CentralForwarder> central_;
  ModbusServerFeed modbusServer_;
  const AuditTrail* trail_ = nullptr;
};
