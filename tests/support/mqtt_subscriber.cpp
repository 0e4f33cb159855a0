#include "support/mqtt_subscriber.h"

#include <mosquitto.h>

#include "support/server_process.h"

MqttSubscriber::MqttSubscriber(Options options) : options_(std::move(options)) {}

MqttSubscriber::~MqttSubscriber() { stop(); }

bool MqttSubscriber::start(const QStringList& filters, int timeoutMs) {
  mosquitto_lib_init();
  filters_ = filters;
  const bool persistent = !options_.persistentId.isEmpty();
  const QByteArray id = options_.persistentId.toUtf8();
  mosq_ = mosquitto_new(persistent ? id.constData() : nullptr, !persistent, this);
  if (!mosq_) {
    error_ = QStringLiteral("mosquitto_new failed");
    return false;
  }
  mosquitto_connect_callback_set(mosq_, &MqttSubscriber::onConnect);
  mosquitto_subscribe_callback_set(mosq_, &MqttSubscriber::onSubscribe);
  mosquitto_message_callback_set(mosq_, &MqttSubscriber::onMessage);
  mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
  if (!options_.user.isEmpty())
    mosquitto_username_pw_set(mosq_, options_.user.toUtf8().constData(), options_.password.toUtf8().constData());
  if (!options_.caFile.isEmpty()) {
    const int rc = mosquitto_tls_set(mosq_, options_.caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr,
                                     nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      error_ = QStringLiteral("tls_set: ") + QString::fromUtf8(mosquitto_strerror(rc));
      return false;
    }
  }
  int rc = mosquitto_connect(mosq_, "127.0.0.1", options_.port, 30);
  if (rc != MOSQ_ERR_SUCCESS) {
    error_ = QStringLiteral("connect: ") + QString::fromUtf8(mosquitto_strerror(rc));
    return false;
  }
  rc = mosquitto_loop_start(mosq_);
  if (rc != MOSQ_ERR_SUCCESS) {
    error_ = QStringLiteral("loop_start: ") + QString::fromUtf8(mosquitto_strerror(rc));
    return false;
  }
  running_ = true;
  const bool ok = test_servers::waitFor(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        return subscribed_ > 0;
      },
      timeoutMs);
  if (!ok) error_ = QStringLiteral("no subscription confirmed");
  return ok;
}

void MqttSubscriber::stop() {
  if (!mosq_) return;
  if (running_) {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
  }
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  running_ = false;
}

// Subscribes again on every connect: a broker that lost the session (no
// persistence) would otherwise send nothing.
void MqttSubscriber::onConnect(mosquitto* mosq, void* self, int rc) {
  if (rc != 0) return;
  auto* s = static_cast<MqttSubscriber*>(self);
  for (const QString& f : s->filters_) mosquitto_subscribe(mosq, nullptr, f.toUtf8().constData(), 1);
}

void MqttSubscriber::onSubscribe(mosquitto*, void* self, int, int, const int*) {
  auto* s = static_cast<MqttSubscriber*>(self);
  std::lock_guard<std::mutex> lock(s->mutex_);
  ++s->subscribed_;
}

void MqttSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
  auto* s = static_cast<MqttSubscriber*>(self);
  MqttMessage msg;
  msg.topic = QString::fromUtf8(m->topic);
  msg.payload = QByteArray(static_cast<const char*>(m->payload), m->payloadlen);
  msg.retained = m->retain;
  std::lock_guard<std::mutex> lock(s->mutex_);
  s->messages_.push_back(std::move(msg));
}

std::vector<MqttMessage> MqttSubscriber::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::vector<MqttMessage> MqttSubscriber::messages(const QString& topic) const {
  std::vector<MqttMessage> out;
  for (MqttMessage& m : messages())
    if (m.topic == topic) out.push_back(std::move(m));
  return out;
}

bool MqttSubscriber::waitFor(const std::function<bool(const std::vector<MqttMessage>&)>& condition, int timeoutMs) {
  return test_servers::waitFor([&] { return condition(messages()); }, timeoutMs);
}

bool MqttSubscriber::waitForCount(const QString& topic, int count, int timeoutMs) {
  return test_servers::waitFor([&] { return int(messages(topic).size()) >= count; }, timeoutMs);
}
