#pragma once
// Publishing of the session's results: each sink the service settings
// enable (an MQTT broker, a central PostgreSQL database) reads what to send
// from the results database, so they only start while this instance writes
// it; each commit of the session pokes them. Lives in the session's thread.

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "publish/central_forwarder.h"
#include "publish/mqtt_publisher.h"
#include "publish/service_settings.h"

class ResultStore;

class Publishing : public QObject {
  Q_OBJECT
 public:
  explicit Publishing(ResultStore& store, QObject* parent = nullptr);
  ~Publishing() override;

  // Starts what `settings` enable, for the analyzer at `address`, the mg/m3
  // values at the reference O2 of each fuel row. Problems go out as messages.
  // `slot`: the analyzer's on the line, whose name it is published under.
  void start(const publish::ServiceSettings& settings, int address, std::vector<double> o2RefByFuel, int slot = 1);
  // Stops every sink; the broker is told "offline".
  void stop();
  // Rows were committed to the store.
  void poke();
  // The audit trail the central database gets a copy of (none: not copied);
  // also while running.
  void setAuditTrail(const AuditTrail* trail);
  // Another reference O2 of a fuel row, for the results sent from now on.
  void setO2RefByFuel(const std::vector<double>& o2RefByFuel);

  const publish::ServiceSettings& settings() const { return settings_; }
  publish::Publisher* mqtt() const { return mqtt_; }
  publish::CentralForwarder* central() const { return central_; }
  // One line on how publishing goes, empty when nothing is enabled.
  QString stateText() const;

 signals:
  // Something the operator or the service's log should hear of.
  void message(const QString& text);
  void stateChanged();

 private:
  ResultStore& store_;
  publish::ServiceSettings settings_;
  std::vector<std::unique_ptr<publish::Sink>> sinks_;
  publish::Publisher* mqtt_ = nullptr;
  publish::CentralForwarder* central_ = nullptr;
  const AuditTrail* trail_ = nullptr;
};
