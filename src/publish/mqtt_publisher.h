#pragma once
// Publishes every result and event of the local results database to an MQTT
// broker, store and forward: what is sent is read from the database after
// the publisher's cursor, and the cursor moves only over messages the broker
// acknowledged (QoS 1 PUBACK). So results taken while the broker is away, or
// while the program was not running, go out in order once it is back, and a
// message may arrive twice (after a reconnect, or after a restart of the
// program) but never not at all; its "store" and "seq" (or the event's "id")
// tell a repeat.
//
//   Publisher publisher(store, settings.mqtt, settings.identity(address));
//   publisher.start();
//   ... after every append to the store: publisher.poke();
//
// Topics: korvex/<site>/<analyzer>/result and .../event (QoS 1), and
// .../status: "online" (retained) while connected, "offline" as the last
// will and when stopped. The connection lives in libmosquitto's client driven
// by a thread of its own (MqttLink); the database is read and the cursor
// written only here, in the thread that owns the store. Its states are
// Stopped, Connecting and Connected.

#include <QString>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "publish/sink.h"

namespace publish {

class MqttLink;

class Publisher : public Sink {
  Q_OBJECT
 public:
  using State = Sink::State;

  // The store's cursors this publisher moves.
  static const QString kResultCursor;  // "mqtt"
  static const QString kEventCursor;   // "mqtt-events"
  // Messages sent and not yet acknowledged, at most, of each kind.
  static constexpr int kWindow = 100;

  Publisher(ResultStore& store, MqttSettings settings, AnalyzerIdentity identity, QObject* parent = nullptr);
  ~Publisher() override;

  // Starts connecting in the background. False, with errorOccurred, when the
  // settings cannot work (names, CA file); the store must be writable.
  bool start() override;
  // Says "offline" (waiting for the broker at most a moment), disconnects.
  // Messages not acknowledged are sent again at the next start.
  void stop() override;
  void poke() override;
  QString title() const override { return QStringLiteral("MQTT"); }

 private:
  struct Sent {
    qint64 number = 0;
    bool acked = false;
  };
  struct Stream {
    std::deque<Sent> inFlight;  // in sending order
    qint64 lastSent = 0;
  };

  void drainLink();
  void onAcked(int mid);
  void fill();
  void advance(Stream& stream, qint64& acked);
  void saveCursors();

  MqttSettings settings_;
  std::unique_ptr<MqttLink> link_;
  QByteArray resultTopic_, eventTopic_;

  Stream results_, events_;
  std::unordered_map<int, std::pair<bool, qint64>> byMid_;  // mid -> (is a result, number)
  qint64 savedSeq_ = 0, savedEventId_ = 0;
  bool savePending_ = false;
};

}  // namespace publish
