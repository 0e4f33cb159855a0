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
    : QObject(parent), store_(store), settings_(std::move(settings)), identity_(std::move(identity)) {}

Publisher::~Publisher() { stop(); }

bool Publisher::start() {
  stop();
  QStringList problems = identityProblems(identity_.site, identity_.name) + mqttProblems(settings_);
  if (!store_.isWritable()) problems << QStringLiteral(u"база данных результатов не открыта для записи");
  if (!problems.isEmpty()) {
    report(QStringLiteral(u"Публикация MQTT не запущена: ") + problems.join(QStringLiteral("; ")));
    return false;
  }
  if (o2Refs_.empty()) o2Refs_ = o2RefsFromFuelTable();
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
  ackedSeq_ = savedSeq_ = results_.lastSent = store_.cursor(kResultCursor);
  ackedEventId_ = savedEventId_ = events_.lastSent = store_.cursor(kEventCursor);
  lastError_.clear();

  const QString where = QStringLiteral("%1:%2").arg(settings_.host).arg(settings_.effectivePort());
  if (settings_.tls && settings_.insecure)
    qCWarning(korvexPublish, "MQTT: сертификат TLS брокера НЕ ПРОВЕРЯЕТСЯ (Insecure=true): %s",
              qUtf8Printable(where));
  qCInfo(korvexPublish, "MQTT: публикация на %s%s в %s, с результата %lld и события %lld",
         qUtf8Printable(where), settings_.tls ? " по TLS" : "", qUtf8Printable(topic(identity_, QStringLiteral("+"))),
         ackedSeq_ + 1, ackedEventId_ + 1);
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
  advance(results_, ackedSeq_);
  advance(events_, ackedEventId_);
  saveCursors();
  link_.reset();
  byMid_.clear();
  results_ = {};
  events_ = {};
  qCInfo(korvexPublish, "MQTT: остановлено на результате %lld, событии %lld", ackedSeq_, ackedEventId_);
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
        lastError_.clear();
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
    advance(results_, ackedSeq_);
    advance(events_, ackedEventId_);
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
  const bool moved = ackedSeq_ != savedSeq_ || ackedEventId_ != savedEventId_;
  if (!moved) return;
  if (ackedSeq_ != savedSeq_ && store_.setCursor(kResultCursor, ackedSeq_)) savedSeq_ = ackedSeq_;
  if (ackedEventId_ != savedEventId_ && store_.setCursor(kEventCursor, ackedEventId_)) savedEventId_ = ackedEventId_;
  if (savedSeq_ != ackedSeq_ || savedEventId_ != ackedEventId_)
    report(QStringLiteral(u"MQTT: не могу сохранить позицию публикации: ") + store_.lastError());
  emit delivered(ackedSeq_, ackedEventId_);
}

void Publisher::fill() {
  if (!link_ || state_ != State::Connected) return;
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

void Publisher::setState(State s) {
  if (s == state_) return;
  state_ = s;
  emit stateChanged(s);
}

void Publisher::report(const QString& message) {
  if (message == lastError_) return;
  lastError_ = message;
  qCWarning(korvexPublish, "%s", qUtf8Printable(message));
  emit errorOccurred(message);
}

}  // namespace publish
