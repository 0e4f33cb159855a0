#include "service/publishing.h"

#include "data/result_store.h"

using publish::CentralForwarder;
using publish::Publisher;
using publish::Sink;

Publishing::Publishing(ResultStore& store, QObject* parent) : QObject(parent), store_(store) {}

Publishing::~Publishing() {
  // Whoever listens may be half destroyed by now: the stop is told to nobody.
  blockSignals(true);
  stop();
}

void Publishing::start(const publish::ServiceSettings& settings, int address, std::vector<double> o2RefByFuel,
                       int slot) {
  stop();
  settings_ = settings;
  const bool wanted = settings_.mqtt.enabled || settings_.central.enabled;
  if (wanted && !store_.isWritable()) {
    emit message(QStringLiteral(u"Публикация результатов не запущена: база данных результатов не открыта для записи"));
    emit stateChanged();
    return;
  }
  const publish::AnalyzerIdentity identity = settings_.identity(address, slot);
  std::vector<std::unique_ptr<Sink>> candidates;
  if (settings_.mqtt.enabled) candidates.push_back(std::make_unique<Publisher>(store_, settings_.mqtt, identity));
  if (settings_.central.enabled)
    candidates.push_back(std::make_unique<CentralForwarder>(store_, settings_.central, identity));
  for (std::unique_ptr<Sink>& sink : candidates) {
    sink->setO2RefByFuel(o2RefByFuel);
    connect(sink.get(), &Sink::errorOccurred, this, &Publishing::message);
    connect(sink.get(), &Sink::stateChanged, this, &Publishing::stateChanged);
    if (auto* c = qobject_cast<CentralForwarder*>(sink.get())) {
      connect(c, &CentralForwarder::conflictsFound, this, &Publishing::stateChanged);
      c->setAuditTrail(trail_);
    }
    if (!sink->start()) continue;
    if (auto* p = qobject_cast<Publisher*>(sink.get())) mqtt_ = p;
    if (auto* c = qobject_cast<CentralForwarder*>(sink.get())) central_ = c;
    sinks_.push_back(std::move(sink));
  }
  emit stateChanged();
}

void Publishing::stop() {
  for (const std::unique_ptr<Sink>& sink : sinks_) sink->stop();
  sinks_.clear();
  mqtt_ = nullptr;
  central_ = nullptr;
}

void Publishing::poke() {
  for (const std::unique_ptr<Sink>& sink : sinks_) sink->poke();
}

void Publishing::setAuditTrail(const AuditTrail* trail) {
  trail_ = trail;
  if (central_) central_->setAuditTrail(trail_);
}

void Publishing::setO2RefByFuel(const std::vector<double>& o2RefByFuel) {
  for (const std::unique_ptr<Sink>& sink : sinks_) sink->setO2RefByFuel(o2RefByFuel);
}

QString Publishing::stateText() const {
  QStringList parts;
  if (mqtt_)
    parts << mqtt_->stateText();
  else if (settings_.mqtt.enabled)
    parts << QStringLiteral(u"MQTT: не запущено");
  if (central_ && central_->conflicts() > 0)
    // Not everything was taken, whatever else goes on.
    parts << QStringLiteral(u"центральная БД: не приняты %1 (другие записи с теми же номерами)")
                 .arg(central_->conflicts());
  else if (central_)
    parts << central_->stateText();
  else if (settings_.central.enabled)
    parts << QStringLiteral(u"центральная БД: не запущено");
  return parts.join(QStringLiteral("; "));
}
