#include "publish/mqtt_link.h"

#include <mosquitto.h>
#include <openssl/x509.h>

#include <QThread>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "publish/sink.h"

namespace publish {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLoopTimeoutMs = 100;  // how soon the thread sees a stop

const QByteArray kOnline = QByteArrayLiteral("online");
const QByteArray kOffline = QByteArrayLiteral("offline");

void initLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// libmosquitto's reasons in the operator's language; a rare one keeps its own text.
QString errorText(int rc) {
  switch (rc) {
    case MOSQ_ERR_NOMEM: return QStringLiteral(u"не хватает памяти");
    case MOSQ_ERR_PROTOCOL: return QStringLiteral(u"ошибка протокола MQTT");
    case MOSQ_ERR_INVAL: return QStringLiteral(u"неверные параметры");
    case MOSQ_ERR_NO_CONN: return QStringLiteral(u"нет соединения с брокером");
    case MOSQ_ERR_CONN_REFUSED: return QStringLiteral(u"брокер отказал в подключении");
    case MOSQ_ERR_CONN_LOST: return QStringLiteral(u"соединение потеряно");
    case MOSQ_ERR_TLS: return QStringLiteral(u"ошибка TLS");
    case MOSQ_ERR_PAYLOAD_SIZE: return QStringLiteral(u"сообщение слишком велико");
    case MOSQ_ERR_NOT_SUPPORTED: return QStringLiteral(u"не поддерживается");
    case MOSQ_ERR_KEEPALIVE: return QStringLiteral(u"брокер перестал отвечать");
    default: return QString::fromUtf8(mosquitto_strerror(rc));
  }
}

// The CONNACK codes of MQTT 3.1.1.
QString refusalText(int rc) {
  switch (rc) {
    case 1: return QStringLiteral(u"версия протокола не принята");
    case 2: return QStringLiteral(u"идентификатор клиента отвергнут");
    case 3: return QStringLiteral(u"брокер недоступен");
    case 4: return QStringLiteral(u"неверное имя пользователя или пароль");
    case 5: return QStringLiteral(u"не авторизован (неверное имя пользователя или пароль, или нет прав)");
    default: return QString::fromUtf8(mosquitto_connack_string(rc));
  }
}

// The system's reasons seen when a broker is away or the network is down.
QString systemErrorText(int code) {
  switch (code) {
    case ECONNREFUSED: return QStringLiteral(u"соединение отвергнуто (брокер не запущен?)");
    case ECONNRESET: return QStringLiteral(u"соединение сброшено");
    case ETIMEDOUT: return QStringLiteral(u"время ожидания истекло");
    case EHOSTUNREACH: return QStringLiteral(u"узел недоступен");
    case ENETUNREACH: return QStringLiteral(u"сеть недоступна");
    case ENETDOWN: return QStringLiteral(u"сеть не работает");
    case EPIPE: return QStringLiteral(u"соединение разорвано");
    default: return QString::fromStdString(std::error_code(code, std::generic_category()).message());
  }
}

QString why(const QString& what, int rc) { return QStringLiteral("%1: %2").arg(what, errorText(rc)); }

// The folder of the system's certificate authorities as OpenSSL finds it:
// SSL_CERT_DIR, else the one it was built with.
QByteArray systemCaDirectory() {
  const QByteArray fromEnvironment = qgetenv(X509_get_default_cert_dir_env());
  return fromEnvironment.isEmpty() ? QByteArray(X509_get_default_cert_dir()) : fromEnvironment;
}

qint64 elapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

}  // namespace

MqttLink::MqttLink(Options options, std::function<void()> notify)
    : options_(std::move(options)), notify_(std::move(notify)) {}

MqttLink::~MqttLink() {
  stop(0);
  if (mosq_) mosquitto_destroy(mosq_);
}

QString MqttLink::setUp() {
  initLibrary();
  mosq_ = mosquitto_new(options_.clientId.constData(), true, this);
  if (!mosq_) return QStringLiteral(u"не могу создать клиент MQTT");
  mosquitto_threaded_set(mosq_, true);
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_callback_set(mosq_, &MqttLink::onConnect);
  mosquitto_publish_callback_set(mosq_, &MqttLink::onPublish);
  mosquitto_log_callback_set(mosq_, &MqttLink::onLog);

  int rc = mosquitto_will_set(mosq_, options_.statusTopic.constData(), int(kOffline.size()), kOffline.constData(),
                              1, true);
  if (rc != MOSQ_ERR_SUCCESS) return why(QStringLiteral(u"последняя воля"), rc);

  const MqttSettings& s = options_.settings;
  if (!s.user.isEmpty()) {
    const QByteArray user = s.user.toUtf8();
    const QByteArray password = s.password.toUtf8();
    rc = mosquitto_username_pw_set(mosq_, user.constData(), s.password.isEmpty() ? nullptr : password.constData());
    if (rc != MOSQ_ERR_SUCCESS) return why(QStringLiteral(u"имя пользователя"), rc);
  }
  if (s.tls) {
    if (!s.caFile.isEmpty()) {
      const QByteArray ca = s.caFile.toLocal8Bit();
      rc = mosquitto_tls_set(mosq_, ca.constData(), nullptr, nullptr, nullptr, nullptr);
      if (rc != MOSQ_ERR_SUCCESS)
        return QStringLiteral(u"файл центра сертификации %1 не подходит: %2").arg(s.caFile, errorText(rc));
    } else {
      // The system's store (OpenSSL's defaults, SSL_CERT_FILE and
      // SSL_CERT_DIR included), and its folder named as well: libmosquitto
      // 2.0.11 sets up TLS again at every reconnect only when a file or a
      // folder is named, and refused every reconnect with the store alone.
      rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
      if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_tls_set(mosq_, nullptr, systemCaDirectory().constData(), nullptr, nullptr, nullptr);
      if (rc != MOSQ_ERR_SUCCESS) return why(QStringLiteral(u"системные центры сертификации"), rc);
    }
    if (s.insecure) {
      // Neither the chain nor the host name is checked.
      rc = mosquitto_tls_opts_set(mosq_, 0, nullptr, nullptr);
      if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_insecure_set(mosq_, true);
      if (rc != MOSQ_ERR_SUCCESS) return why(QStringLiteral(u"параметры TLS"), rc);
    }
  }
  return {};
}

void MqttLink::start() {
  stopping_ = false;
  thread_.reset(QThread::create([this] { run(); }));
  thread_->setObjectName(QStringLiteral("mqtt"));
  thread_->start();
}

void MqttLink::stop(int graceMs) {
  if (!thread_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    graceMs_ = graceMs;
    stopping_ = true;
  }
  wake_.notify_all();
  thread_->wait();
  thread_.reset();
}

QString MqttLink::publish(const QByteArray& topic, const QByteArray& payload, bool retain, int* mid) {
  const int rc = mosquitto_publish(mosq_, mid, topic.constData(), int(payload.size()), payload.constData(), 1, retain);
  return rc == MOSQ_ERR_SUCCESS ? QString() : errorText(rc);
}

std::vector<LinkEvent> MqttLink::takeEvents() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<LinkEvent> out;
  out.swap(events_);
  return out;
}

void MqttLink::post(LinkEvent event) {
  bool first;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = events_.empty();
    events_.push_back(std::move(event));
  }
  // One notification per batch: the receiver takes them all at once.
  if (first && notify_) notify_();
}

void MqttLink::onConnect(mosquitto* mosq, void* self, int rc) {
  auto* link = static_cast<MqttLink*>(self);
  if (rc != 0) {
    link->refusal_ = refusalText(rc);
    return;
  }
  link->sessionUp_ = true;
  const QByteArray& topic = link->options_.statusTopic;
  mosquitto_publish(mosq, nullptr, topic.constData(), int(kOnline.size()), kOnline.constData(), 1, true);
  link->post({LinkEvent::Connected, 0, {}});
}

void MqttLink::onPublish(mosquitto*, void* self, int mid) {
  auto* link = static_cast<MqttLink*>(self);
  if (mid == link->offlineMid_) {
    link->offlineAcked_ = true;
    return;
  }
  link->post({LinkEvent::Acked, mid, {}});
}

void MqttLink::onLog(mosquitto*, void* self, int level, const char* text) {
  if (!(level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))) return;
  auto* link = static_cast<MqttLink*>(self);
  const QString line = QString::fromUtf8(text);
  if (line.startsWith(QLatin1String("OpenSSL Error"))) link->tlsError_ = line;
  link->post({LinkEvent::Log, 0, line});
}

QString MqttLink::failureText(int rc, int savedErrno) const {
  if (!refusal_.isEmpty()) return QStringLiteral(u"отказ брокера: ") + refusal_;
  if (!tlsError_.isEmpty()) return QStringLiteral(u"ошибка установления TLS: ") + tlsError_;
  switch (rc) {
    case MOSQ_ERR_ERRNO:
      return systemErrorText(savedErrno);
    case MOSQ_ERR_EAI:
      return QStringLiteral(u"не могу найти адрес узла %1").arg(options_.settings.host);
    case MOSQ_ERR_TLS:
      return QStringLiteral(u"ошибка установления TLS");
    default:
      return errorText(rc);
  }
}

bool MqttLink::waitBeforeRetry(int delayMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return stopping_.load(); });
  return !stopping_;
}

void MqttLink::run() {
  const MqttSettings& s = options_.settings;
  const QByteArray host = s.host.toUtf8();
  Backoff backoff(s.retryMinMs, s.retryMaxMs);
  bool first = true;
  while (!stopping_) {
    refusal_.clear();
    tlsError_.clear();
    sessionUp_ = false;
    // Asynchronous: the TCP connect and the TLS handshake go on in the loop
    // below, where a stop is seen within kLoopTimeoutMs.
    int rc = first ? mosquitto_connect_async(mosq_, host.constData(), s.effectivePort(), s.keepAliveSeconds)
                   : mosquitto_reconnect_async(mosq_);
    int savedErrno = errno;
    first = false;
    QString timeout;
    if (rc == MOSQ_ERR_SUCCESS || rc == MOSQ_ERR_CONN_PENDING) {
      const Clock::time_point began = Clock::now();
      while (!stopping_) {
        rc = mosquitto_loop(mosq_, kLoopTimeoutMs, 1);
        savedErrno = errno;
        if (rc != MOSQ_ERR_SUCCESS) break;
        if (!sessionUp_ && elapsedMs(began) > options_.connectTimeoutMs) {
          timeout = QStringLiteral(u"брокер не ответил за %1 с").arg(options_.connectTimeoutMs / 1000);
          break;
        }
      }
      if (stopping_) break;
    }
    const QString text = timeout.isEmpty() ? failureText(rc, savedErrno) : timeout;
    if (sessionUp_) {
      sessionUp_ = false;
      backoff.reset();
      post({LinkEvent::Disconnected, 0, text});
    } else {
      post({LinkEvent::Failed, 0, text});
    }
    if (!waitBeforeRetry(backoff.next())) break;
  }
  shutDown();
}

void MqttLink::shutDown() {
  if (!sessionUp_) return;
  // A clean disconnect suppresses the will, so "offline" is said here.
  offlineAcked_ = false;
  const QByteArray& topic = options_.statusTopic;
  if (mosquitto_publish(mosq_, &offlineMid_, topic.constData(), int(kOffline.size()), kOffline.constData(), 1,
                        true) == MOSQ_ERR_SUCCESS) {
    const Clock::time_point began = Clock::now();
    while (!offlineAcked_ && elapsedMs(began) < graceMs_)
      if (mosquitto_loop(mosq_, kLoopTimeoutMs, 1) != MOSQ_ERR_SUCCESS) break;
  }
  mosquitto_disconnect(mosq_);
  const Clock::time_point began = Clock::now();
  while (elapsedMs(began) < 1000)
    if (mosquitto_loop(mosq_, kLoopTimeoutMs, 1) != MOSQ_ERR_SUCCESS) break;
  sessionUp_ = false;
}

}  // namespace publish
