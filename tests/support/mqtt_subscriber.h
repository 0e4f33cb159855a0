#pragma once
// A subscriber through libmosquitto, to see what a broker hands out. Its
// client runs in libmosquitto's own thread and reconnects by itself (every
// second) when the broker goes away; messages are collected under a lock and
// read from the test's thread.
//
//   MqttSubscriber sub({broker.port()});
//   ASSERT_TRUE(sub.start({"korvex/#"})) << sub.lastError();
//   ASSERT_TRUE(sub.waitForCount("korvex/site/a1/result", 10, 10000));

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>
#include <vector>

struct mosquitto;

struct MqttMessage {
  QString topic;
  QByteArray payload;
  bool retained = false;
};

class MqttSubscriber {
 public:
  struct Options {
    quint16 port = 0;
    QString caFile;  // set: TLS, the broker's certificate checked against it
    QString user, password;
    // Set: a persistent session under this client id; the broker keeps its
    // subscriptions and queues QoS 1 messages while it is away.
    QString persistentId;
  };

  explicit MqttSubscriber(Options options);
  ~MqttSubscriber();
  MqttSubscriber(const MqttSubscriber&) = delete;
  MqttSubscriber& operator=(const MqttSubscriber&) = delete;

  // Connects and subscribes (QoS 1) to `filters`; true once the broker
  // confirmed the subscriptions.
  bool start(const QStringList& filters, int timeoutMs = 10000);
  void stop();

  std::vector<MqttMessage> messages() const;
  std::vector<MqttMessage> messages(const QString& topic) const;
  bool waitFor(const std::function<bool(const std::vector<MqttMessage>&)>& condition, int timeoutMs);
  // Waits until `topic` has received at least `count` messages.
  bool waitForCount(const QString& topic, int count, int timeoutMs);
  QString lastError() const { return error_; }

 private:
  static void onConnect(mosquitto*, void* self, int rc);
  static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
  static void onMessage(mosquitto*, void* self, const struct mosquitto_message* message);

  Options options_;
  QStringList filters_;
  mosquitto* mosq_ = nullptr;
  bool running_ = false;
  QString error_;

  mutable std::mutex mutex_;
  std::vector<MqttMessage> messages_;
  int subscribed_ = 0;
};
