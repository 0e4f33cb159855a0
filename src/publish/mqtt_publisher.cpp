#include "publish/mqtt_publisher.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>

#include "publish/messages.h"
#include "publish/mqtt_link.h"
#include "publish/publish_log.h"

namespace publish {

const QString Publisher::kResultCursor = QStringLiteral("mqtt");
const QString Publisher::kEventCursor = QStringLiteral("mqtt-events");

Publisher::Publisher(ResultStore& store, MqttSettings settings, AnalyzerIdentity identity, QObject* parent)
    : Sink(store, std::move(identity), parent), settings_(std::move(settings)) {}

Publisher::~Publisher() { stop(); }

bool Publisher::start() {
  stop();
  const QStringList problems = startProblems() + mqttProblems(settings_);
  if (!problems.isEmpty()) {
    report(QStringLiteral(u"Публикация MQTT не запущена: ") + problems.join(QStringLiteral("; ")));
    return false;
  }
  resultTopic_ = resultTopic(identity_).toUtf8();
  eventTopic_ = eventTopic(identity_).toUtf8();

  MqttLink::Options options;
  options.settings = settings_;
  options.clientId = QStringLiteral("korvex-%1-%2").arg(identity_.site, identity_.name).toUtf8();
  options.statusTopic = statusTopic(identity_).toUtf8();
  // The link's thread asks for a drain; the drain runs in this object's
  // thread. The link's thread ends before this object does (stop()).
  auto link = std::make_unique<MqttLink>(options, [this] {
    QMetaObject::invokeMethod(this, [this] { drainLink(); }, Qt::QueuedConnection);
  });
  const QString error = link->setUp();
  if (!error.isEmpty()) {
    report(QStringLiteral(u"Публикация MQTT не запущена: ") + error);
    return false;
  }

  results_ = {};
  events_ = {};
  byMid_.clear();
  deliveredSeq_ = savedSeq_ = results_.lastSent = store_.cursor(kResultCursor);
  deliveredEventId_ = savedEventId_ = events_.lastSent = store_.cursor(kEventCursor);
  clearError();

  const QString where = QStringLiteral("%1:%2").arg(settings_.host).arg(settings_.effectivePort());
  if (settings_.tls && settings_.insecure)
    qCWarning(korvexPublish, "MQTT: сертификат TLS брокера НЕ ПРОВЕРЯЕТСЯ (Insecure=true): %s",
              qUtf8Printable(where));
  qCInfo(korvexPublish, "MQTT: публикация на %s%s в %s, с результата %lld и события %lld",
         qUtf8Printable(where), settings_.tls ? " по TLS" : "", qUtf8Printable(topic(identity_, QStringLiteral("+"))),
         deliveredSeq_ + 1, deliveredEventId_ + 1);
  link_ = std::move(link);
  setState(State::Connecting);
  link_->start();
  return true;
}

void Publisher::stop() {
  if (!link_) return;
  link_->stop();
  // Acknowledgements that came in up to the end still count.
  for (const LinkEvent& e : link_->takeEvents())
    if (e.kind == LinkEvent::Acked) onAcked(e.mid);
  advance(results_, deliveredSeq_);
  advance(events_, deliveredEventId_);
  saveCursors();
  link_.reset();
  byMid_.clear();
  results_ = {};
  events_ = {};
  qCInfo(korvexPublish, "MQTT: остановлено на результате %lld, событии %lld", deliveredSeq_, deliveredEventId_);
  setState(State::Stopped);
}

void Publisher::poke() { fill(); }

void Publisher::drainLink() {
  if (!link_) return;
  bool acked = false;
  for (LinkEvent& e : link_->takeEvents()) {
    switch (e.kind) {
      case LinkEvent::Connected:
        qCInfo(korvexPublish, "MQTT: подключено к %s:%d", qUtf8Printable(settings_.host), settings_.effectivePort());
        clearError();
        setState(State::Connected);
        break;
      case LinkEvent::Failed:
        setState(State::Connecting);
        report(QStringLiteral(u"MQTT: не могу подключиться к %1:%2: %3")
                   .arg(settings_.host)
                   .arg(settings_.effectivePort())
                   .arg(e.text));
        break;
      case LinkEvent::Disconnected:
        setState(State::Connecting);
        report(QStringLiteral(u"MQTT: связь с %1:%2 потеряна: %3")
                   .arg(settings_.host)
                   .arg(settings_.effectivePort())
                   .arg(e.text));
        break;
      case LinkEvent::Acked:
        onAcked(e.mid);
        acked = true;
        break;
      case LinkEvent::Log:
        qCDebug(korvexPublish, "Клиент MQTT: %s", qUtf8Printable(e.text));
        break;
    }
  }
  if (acked) {
    advance(results_, deliveredSeq_);
    advance(events_, deliveredEventId_);
    // One database write for a burst of acknowledgements.
    if (!savePending_) {
      savePending_ = true;
      QTimer::singleShot(0, this, [this] { saveCursors(); });
    }
  }
  fill();
}

void Publisher::onAcked(int mid) {
  const auto it = byMid_.find(mid);
  if (it == byMid_.end()) return;
  Stream& stream = it->second.first ? results_ : events_;
  const qint64 number = it->second.second;
  byMid_.erase(it);
  const auto sent = std::lower_bound(stream.inFlight.begin(), stream.inFlight.end(), number,
                                     [](const Sent& s, qint64 n) { return s.number < n; });
  if (sent != stream.inFlight.end() && sent->number == number) sent->acked = true;
}

// The cursor moves over the acknowledged messages at the front only: one
// still waiting holds back those sent after it.
void Publisher::advance(Stream& stream, qint64& acked) {
  while (!stream.inFlight.empty() && stream.inFlight.front().acked) {
    acked = stream.inFlight.front().number;
    stream.inFlight.pop_front();
  }
}

void Publisher::saveCursors() {
  savePending_ = false;
  const bool moved = deliveredSeq_ != savedSeq_ || deliveredEventId_ != savedEventId_;
  if (!moved) return;
  if (deliveredSeq_ != savedSeq_ && store_.setCursor(kResultCursor, deliveredSeq_)) savedSeq_ = deliveredSeq_;
  if (deliveredEventId_ != savedEventId_ && store_.setCursor(kEventCursor, deliveredEventId_)) savedEventId_ = deliveredEventId_;
  if (savedSeq_ != deliveredSeq_ || savedEventId_ != deliveredEventId_)
    report(QStringLiteral(u"MQTT: не могу сохранить позицию публикации: ") + store_.lastError());
  emit delivered(deliveredSeq_, deliveredEventId_);
}

void Publisher::fill() {
  if (!link_ || state() != State::Connected) return;
  // Results.
  while (int(results_.inFlight.size()) < kWindow) {
    const std::vector<StoredResult> rows = store_.resultsAfter(results_.lastSent, kWindow - int(results_.inFlight.size()));
    if (rows.empty()) break;
    for (const StoredResult& row : rows) {
      int mid = 0;
      const QString error = link_->publish(resultTopic_, resultJson(row, identity_, o2Refs_), false, &mid);
      if (!error.isEmpty()) {
        report(QStringLiteral(u"MQTT: не могу опубликовать результат %1: %2").arg(row.seq).arg(error));
        return;
      }
      byMid_[mid] = {true, row.seq};
      results_.inFlight.push_back({row.seq, false});
      results_.lastSent = row.seq;
    }
  }
  // Events.
  while (int(events_.inFlight.size()) < kWindow) {
    const QVector<StoredEvent> rows = store_.eventsAfter(events_.lastSent, kWindow - int(events_.inFlight.size()));
    if (rows.isEmpty()) break;
    for (const StoredEvent& row : rows) {
      int mid = 0;
      const QString error = link_->publish(eventTopic_, eventJson(row, identity_), false, &mid);
      if (!error.isEmpty()) {
        report(QStringLiteral(u"MQTT: не могу опубликовать событие %1: %2").arg(row.id).arg(error));
        return;
      }
      byMid_[mid] = {false, row.id};
      events_.inFlight.push_back({row.id, false});
      events_.lastSent = row.id;
    }
  }
}

}  // namespace publish
