#pragma once
// One libmosquitto client driven by a thread of its own: it connects, keeps
// the connection, and reconnects with a doubling delay (Backoff) after every failure,
// until it is stopped. Everything that can block (name look-up, TCP connect,
// TLS handshake, a dead network) happens in that thread, never in the
// caller's. What happens there is queued as LinkEvents; `notify` is called
// (in the link's thread) when some are waiting, and takeEvents() hands them
// over in the caller's thread.
//
// libmosquitto keeps every QoS 1 message that was not acknowledged and sends
// it again after a reconnect (with the DUP flag), so a message published once
// is acknowledged once, possibly after several connections.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <memory>
#include <vector>

#include "publish/service_settings.h"

class QThread;
struct mosquitto;

namespace publish {

struct LinkEvent {
  enum Kind {
    Connected,     // CONNACK accepted; "online" is on its way
    Failed,        // a connection attempt failed; `text` says why
    Disconnected,  // an established connection was lost; `text` says why
    Acked,         // PUBACK for message `mid`
    Log,           // a line of libmosquitto's log worth keeping (`text`)
  };
  Kind kind = Failed;
  int mid = 0;
  QString text;
};

class MqttLink {
 public:
  struct Options {
    MqttSettings settings;
    QByteArray clientId;
    QByteArray statusTopic;  // "online" retained on every connect, "offline" as the will and at stop
    int connectTimeoutMs = 15000;
  };

  MqttLink(Options options, std::function<void()> notify);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // Sets the client up (TLS files are read here); empty, or why it cannot be.
  QString setUp();
  void start();
  // Announces "offline" when connected (waiting at most `graceMs` for the
  // broker to take it), disconnects and ends the thread.
  void stop(int graceMs = 2000);

  // Thread-safe. QoS 1; `mid` receives the message id to match an Acked
  // event. Returns libmosquitto's error text, empty on success.
  QString publish(const QByteArray& topic, const QByteArray& payload, bool retain, int* mid);

  std::vector<LinkEvent> takeEvents();

 private:
  static void onConnect(mosquitto*, void* self, int rc);
  static void onPublish(mosquitto*, void* self, int mid);
  static void onLog(mosquitto*, void* self, int level, const char* text);

  void run();
  void post(LinkEvent event);
  bool waitBeforeRetry(int delayMs);
  void shutDown();
  QString failureText(int rc, int savedErrno) const;

  Options options_;
  std::function<void()> notify_;
  mosquitto* mosq_ = nullptr;
  std::unique_ptr<QThread> thread_;
  std::atomic<bool> stopping_{false};
  int graceMs_ = 2000;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<LinkEvent> events_;

  // Used only in the link's thread (callbacks run there).
  bool sessionUp_ = false;
  int offlineMid_ = -1;
  bool offlineAcked_ = false;
  QString refusal_;   // CONNACK's reason
  QString tlsError_;  // last OpenSSL message logged
};

}  // namespace publish
