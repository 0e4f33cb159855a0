#include "app/publishing.h"

#include "app/session.h"
#include "storage/settings_records.h"

using publish::CentralForwarder;
using publish::Publisher;

Publishing::Publishing(Session& session, QObject* parent)
    : QObject(parent), session_(session), modbusServer_(session) {
  connect(&modbusServer_, &ModbusServerFeed::stateChanged, this, &Publishing::stateChanged);
  connect(&session_, &Session::committed, this, [this] {
    if (mqtt_) mqtt_->poke();
    if (central_) central_->poke();
  });
}

Publishing::~Publishing() {
  // Whoever listens may be half destroyed by now (the service holds this as a
  // member): the stop is told to nobody but the event log.
  blockSignals(true);
  stop();
}

QString Publishing::settingsPath() const { return publish::defaultServiceSettingsPath(); }

void Publishing::start() {
  const publish::ServiceSettingsLoad loaded = publish::loadServiceSettings(settingsPath());
  settings_ = loaded.settings;
  // Without the file nothing is published: the usual case, nothing to say.
  if (loaded.status != publish::ServiceSettingsStatus::Missing && !loaded.message().isEmpty())
    emit message(loaded.message());
  startParts();
  modbusServer_.start(settingsPath());
}

void Publishing::startParts() {
  stopForwarding();
  const bool wanted = settings_.mqtt.enabled || settings_.central.enabled;
  if (wanted && !session_.store().isWritable()) {
    emit message(QStringLiteral(u"Публикация результатов не запущена: база данных результатов не открыта для записи"));
    return;
  }
  const publish::AnalyzerIdentity identity = settings_.identity(programSettings.netAddress);
  if (settings_.mqtt.enabled) {
    mqtt_ = std::make_unique<Publisher>(session_.store(), settings_.mqtt, identity);
    connect(mqtt_.get(), &Publisher::errorOccurred, this, &Publishing::message);
    connect(mqtt_.get(), &Publisher::stateChanged, this, &Publishing::stateChanged);
    if (!mqtt_->start()) mqtt_.reset();
  }
  if (settings_.central.enabled) {
    central_ = std::make_unique<CentralForwarder>(session_.store(), settings_.central, identity);
    central_->setAuditTrail(trail_ && trail_->isOpen() ? trail_ : nullptr);
    connect(central_.get(), &CentralForwarder::errorOccurred, this, &Publishing::message);
    connect(central_.get(), &CentralForwarder::stateChanged, this, &Publishing::stateChanged);
    connect(central_.get(), &CentralForwarder::conflictsFound, this, &Publishing::stateChanged);
    if (!central_->start()) central_.reset();
  }
  emit stateChanged();
}

void Publishing::stop() {
  stopForwarding();
  modbusServer_.stop();
}

void Publishing::stopForwarding() {
  if (mqtt_) mqtt_->stop();
  if (central_) central_->stop();
  mqtt_.reset();
  central_.reset();
}

bool Publishing::apply(const publish::ServiceSettings& settings, QString* error) {
  if (!publish::saveServiceSettings(settingsPath(), settings, error)) return false;
  settings_ = settings;
  startParts();
  return true;
}

QString Publishing::stateText() const {
  QStringList parts;
  if (mqtt_) {
    switch (mqtt_->state()) {
      case Publisher::State::Connected: parts << QStringLiteral(u"MQTT: на связи"); break;
      case Publisher::State::Connecting:
        // After a failure it is a connection lost, not one being made.
        parts << (mqtt_->lastError().isEmpty() ? QStringLiteral(u"MQTT: подключение")
                                               : QStringLiteral(u"MQTT: нет связи"));
        break;
      case Publisher::State::Stopped: parts << QStringLiteral(u"MQTT: остановлено"); break;
    }
  } else if (settings_.mqtt.enabled) {
    parts << QStringLiteral(u"MQTT: не запущено");
  }
  if (central_ && central_->conflicts() > 0) {
    // Not everything was taken, whatever else goes on.
    parts << QStringLiteral(u"центральная БД: не приняты %1 (другие записи с теми же номерами)")
                 .arg(central_->conflicts());
  } else if (central_) {
    switch (central_->state()) {
      case CentralForwarder::State::UpToDate: parts << QStringLiteral(u"центральная БД: всё передано"); break;
      case CentralForwarder::State::Sending: parts << QStringLiteral(u"центральная БД: передача"); break;
      case CentralForwarder::State::WaitingToRetry: parts << QStringLiteral(u"центральная БД: нет связи"); break;
      case CentralForwarder::State::Stopped: parts << QStringLiteral(u"центральная БД: остановлено"); break;
    }
  } else if (settings_.central.enabled) {
    parts << QStringLiteral(u"центральная БД: не запущено");
  }
  const QString modbus = modbusServer_.stateText();
  if (!modbus.isEmpty()) parts << modbus;
  return parts.join(QStringLiteral("; "));
}
