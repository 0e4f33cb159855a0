// The MQTT publisher against a real mosquitto broker started by the test.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <set>

#include "publish/messages.h"
#include "publish/mqtt_publisher.h"
#include "publish_support.h"
#include "support/mosquitto_server.h"
#include "support/mqtt_subscriber.h"
#include "support/test_ca.h"

using namespace publish;
using publish_test::TempStore;
using publish_test::waitUntil;

namespace {

constexpr int kWaitMs = 30000;

const AnalyzerIdentity kId{QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1};

MqttSettings brokerSettings(quint16 port) {
  MqttSettings s;
  s.enabled = true;
  s.host = QStringLiteral("127.0.0.1");
  s.port = port;
  s.retryMinMs = 50;
  s.retryMaxMs = 400;
  return s;
}

MqttSubscriber::Options listener(quint16 port, const QString& caFile = {}, const QString& user = {},
                                 const QString& password = {}, const QString& persistentId = {}) {
  MqttSubscriber::Options o;
  o.port = port;
  o.caFile = caFile;
  o.user = user;
  o.password = password;
  o.persistentId = persistentId;
  return o;
}

qint64 seqOf(const MqttMessage& m) {
  return QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("seq")).toInteger(-1);
}

// Sequence numbers as they arrived with QoS 1 repeats taken out: a repeat
// must be the very same message as the first.
std::vector<qint64> firstArrivals(const std::vector<MqttMessage>& messages) {
  std::vector<qint64> order;
  std::map<qint64, QByteArray> seen;
  for (const MqttMessage& m : messages) {
    const qint64 seq = seqOf(m);
    const auto it = seen.find(seq);
    if (it == seen.end()) {
      seen[seq] = m.payload;
      order.push_back(seq);
    } else {
      EXPECT_EQ(it->second, m.payload) << "seq " << seq << " arrived twice with different contents";
    }
  }
  return order;
}

std::vector<qint64> oneTo(int n) {
  std::vector<qint64> v;
  for (int i = 1; i <= n; ++i) v.push_back(i);
  return v;
}

}  // namespace

TEST(MqttPublisherTest, PublishesEveryResultOnceInOrderWithEventsAndStatus) {
  MosquittoServer broker;
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  MqttSubscriber sub(listener(broker.port()));
  ASSERT_TRUE(sub.start({QStringLiteral("korvex/#")})) << sub.lastError().toStdString();

  TempStore local;
  local.append(1, 30);  // taken before publishing started: sent from the database
  local.event(EventKind::LinkLost, QStringLiteral("no reply"));
  Publisher publisher(local.store(), brokerSettings(broker.port()), kId);
  ASSERT_TRUE(publisher.start()) << publisher.lastError().toStdString();
  for (int i = 31; i <= 60; ++i) {
    local.append(i, i);
    publisher.poke();
  }
  local.event(EventKind::LinkBack, QStringLiteral("reply again"));
  publisher.poke();

  const QString results = resultTopic(kId);
  ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return firstArrivals(sub.messages(results)).size() >= 60; },
                          kWaitMs))
      << broker.log().toStdString();
  EXPECT_EQ(firstArrivals(sub.messages(results)), oneTo(60));
  ASSERT_TRUE(sub.waitForCount(eventTopic(kId), 2, kWaitMs));
  const auto events = sub.messages(eventTopic(kId));
  EXPECT_EQ(QJsonDocument::fromJson(events[0].payload).object().value(QStringLiteral("kind")).toString(),
            QStringLiteral("linkLost"));
  EXPECT_EQ(QJsonDocument::fromJson(events[1].payload).object().value(QStringLiteral("id")).toInteger(), 2);

  // The cursors follow the acknowledgements into the database.
  ASSERT_TRUE(waitUntil([&] { return local.store().cursor(Publisher::kResultCursor) == 60; }, kWaitMs));
  ASSERT_TRUE(waitUntil([&] { return local.store().cursor(Publisher::kEventCursor) == 2; }, kWaitMs));

  const auto online = sub.messages(statusTopic(kId));
  ASSERT_FALSE(online.empty());
  EXPECT_EQ(online.front().payload, QByteArray("online"));
  publisher.stop();
  ASSERT_TRUE(sub.waitFor(
      [&](const std::vector<MqttMessage>&) {
        const auto s = sub.messages(statusTopic(kId));
        return !s.empty() && s.back().payload == "offline";
      },
      kWaitMs));

  // A newcomer learns the state from the retained message.
  MqttSubscriber late(listener(broker.port()));
  ASSERT_TRUE(late.start({statusTopic(kId)})) << late.lastError().toStdString();
  ASSERT_TRUE(late.waitForCount(statusTopic(kId), 1, kWaitMs));
  EXPECT_TRUE(late.messages().front().retained);
  EXPECT_EQ(late.messages().front().payload, QByteArray("offline"));

  // Started again, it goes on after what the broker acknowledged.
  local.append(61, 65);
  Publisher again(local.store(), brokerSettings(broker.port()), kId);
  ASSERT_TRUE(again.start());
  ASSERT_TRUE(waitUntil([&] { return again.deliveredSeq() == 65; }, kWaitMs));
  ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return firstArrivals(sub.messages(results)).size() >= 65; },
                          kWaitMs));
  EXPECT_EQ(firstArrivals(sub.messages(results)), oneTo(65));
}

TEST(MqttPublisherTest, BrokerKilledAndRestartedWhileResultsAreTakenLosesNothing) {
  MosquittoServer broker;
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  // A subscriber whose session the broker keeps, so that it misses nothing
  // the restarted broker takes before the subscriber is back.
  MqttSubscriber sub(listener(broker.port(), {}, {}, {}, QStringLiteral("central-listener")));
  ASSERT_TRUE(sub.start({QStringLiteral("korvex/+/+/result")})) << sub.lastError().toStdString();
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(broker.persistenceFile()); }, kWaitMs));

  TempStore local;
  Publisher publisher(local.store(), brokerSettings(broker.port()), kId);
  QSignalSpy errors(&publisher, &Publisher::errorOccurred);
  ASSERT_TRUE(publisher.start());
  local.append(1, 20);
  publisher.poke();
  const QString results = resultTopic(kId);
  ASSERT_TRUE(waitUntil([&] { return publisher.deliveredSeq() == 20; }, kWaitMs));
  ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return firstArrivals(sub.messages(results)).size() >= 20; },
                          kWaitMs));

  // The broker hangs: results go out and are never acknowledged; then it
  // dies with them unread.
  broker.freeze();
  for (int i = 21; i <= 35; ++i) {
    local.append(i, i);
    publisher.poke();
  }
  broker.kill();
  ASSERT_TRUE(waitUntil([&] { return publisher.state() == Publisher::State::Connecting; }, kWaitMs));
  for (int i = 36; i <= 50; ++i) {
    local.append(i, i);
    publisher.poke();
    QCoreApplication::processEvents();
  }
  // Nothing can have been acknowledged meanwhile.
  EXPECT_EQ(publisher.deliveredSeq(), 20);
  EXPECT_EQ(local.store().cursor(Publisher::kResultCursor), 20);
  EXPECT_GE(errors.count(), 1);
  EXPECT_TRUE(publisher.lastError().contains(QStringLiteral("127.0.0.1:%1").arg(broker.port())))
      << publisher.lastError().toStdString();

  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  for (int i = 51; i <= 70; ++i) {
    local.append(i, i);
    publisher.poke();
    QCoreApplication::processEvents();
  }
  ASSERT_TRUE(waitUntil([&] { return publisher.deliveredSeq() == 70; }, kWaitMs)) << publisher.lastError().toStdString();
  EXPECT_EQ(publisher.state(), Publisher::State::Connected);
  ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return firstArrivals(sub.messages(results)).size() >= 70; },
                          kWaitMs))
      << broker.log().toStdString();
  EXPECT_EQ(firstArrivals(sub.messages(results)), oneTo(70));
  EXPECT_EQ(local.store().cursor(Publisher::kResultCursor), 70);
}

TEST(MqttPublisherTest, TlsBrokerCertificateIsVerifiedAgainstTheCaFile) {
  TestCa ca, otherCa;
  ASSERT_TRUE(ca.create()) << ca.lastError().toStdString();
  ASSERT_TRUE(otherCa.create(false)) << otherCa.lastError().toStdString();
  MosquittoServer::Options tlsBroker;
  tlsBroker.certFile = ca.serverCertFile();
  tlsBroker.keyFile = ca.serverKeyFile();
  MosquittoServer broker(tlsBroker);
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  MqttSubscriber sub(listener(broker.port(), ca.caFile()));
  ASSERT_TRUE(sub.start({QStringLiteral("korvex/#")})) << sub.lastError().toStdString();
  publish_test::LogCapture log;

  // The right authority: connected, results delivered.
  TempStore good;
  good.append(1, 5);
  MqttSettings tls = brokerSettings(broker.port());
  tls.tls = true;
  tls.caFile = ca.caFile();
  Publisher trusted(good.store(), tls, kId);
  ASSERT_TRUE(trusted.start());
  ASSERT_TRUE(waitUntil([&] { return trusted.deliveredSeq() == 5; }, kWaitMs)) << trusted.lastError().toStdString();
  EXPECT_EQ(firstArrivals(sub.messages(resultTopic(kId))), oneTo(5));

  // Another authority: refused, nothing sent, the reason told.
  const AnalyzerIdentity otherId{kId.site, QStringLiteral("boiler-4"), 2};
  TempStore bad;
  bad.append(1, 5);
  MqttSettings wrong = tls;
  wrong.caFile = otherCa.caFile();
  Publisher refused(bad.store(), wrong, otherId);
  QSignalSpy errors(&refused, &Publisher::errorOccurred);
  ASSERT_TRUE(refused.start());
  ASSERT_TRUE(waitUntil([&] { return errors.count() > 0; }, kWaitMs));
  EXPECT_TRUE(refused.lastError().contains(QStringLiteral("certificate verify failed")))
      << refused.lastError().toStdString();
  EXPECT_NE(refused.state(), Publisher::State::Connected);
  EXPECT_EQ(refused.deliveredSeq(), 0);
  refused.stop();
  EXPECT_EQ(bad.store().cursor(Publisher::kResultCursor), 0);
  EXPECT_TRUE(sub.messages(resultTopic(otherId)).empty());
  EXPECT_FALSE(log.all().contains(QStringLiteral(u"НЕ ПРОВЕРЯЕТСЯ")));

  // The same wrong authority with verification switched off on purpose:
  // connects, and says so in the log.
  wrong.insecure = true;
  Publisher careless(bad.store(), wrong, otherId);
  ASSERT_TRUE(careless.start());
  EXPECT_TRUE(log.all().contains(QStringLiteral(u"НЕ ПРОВЕРЯЕТСЯ"))) << log.all().toStdString();
  ASSERT_TRUE(waitUntil([&] { return careless.deliveredSeq() == 5; }, kWaitMs)) << careless.lastError().toStdString();
}

// The system's certificate store of this process, pointed at a folder and a
// file of the test's own the way OpenSSL finds it (SSL_CERT_DIR,
// SSL_CERT_FILE), never at the machine's.
class SystemStoreForTest {
 public:
  explicit SystemStoreForTest(const QString& caFile) {
    EXPECT_TRUE(dir_.isValid());
    qputenv("SSL_CERT_FILE", QFile::encodeName(caFile));
    qputenv("SSL_CERT_DIR", QFile::encodeName(dir_.path()));
  }
  ~SystemStoreForTest() {
    qunsetenv("SSL_CERT_FILE");
    qunsetenv("SSL_CERT_DIR");
  }

 private:
  QTemporaryDir dir_;
};

TEST(MqttPublisherTest, EveryTlsSettingReconnectsAfterTheBrokerIsRestarted) {
  TestCa ca;
  ASSERT_TRUE(ca.create()) << ca.lastError().toStdString();
  SystemStoreForTest systemStore(ca.caFile());
  MosquittoServer::Options tlsBroker;
  tlsBroker.certFile = ca.serverCertFile();
  tlsBroker.keyFile = ca.serverKeyFile();
  MosquittoServer broker(tlsBroker);
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();

  struct Variant {
    const char* what;
    bool systemStore;
    bool insecure;
  };
  const Variant variants[] = {{"CA file", false, false},
                              {"system store", true, false},
                              {"system store, not checked", true, true},
                              {"CA file, not checked", false, true}};
  std::vector<std::unique_ptr<TempStore>> stores;
  std::vector<std::unique_ptr<Publisher>> publishers;
  for (const Variant& v : variants) {
    MqttSettings s = brokerSettings(broker.port());
    s.tls = true;
    s.caFile = v.systemStore ? QString() : ca.caFile();
    s.insecure = v.insecure;
    stores.push_back(std::make_unique<TempStore>());
    stores.back()->append(1, 5);
    const AnalyzerIdentity id{kId.site, QString::fromLatin1(v.what).replace(QLatin1Char(' '), QLatin1Char('-')), 1};
    publishers.push_back(std::make_unique<Publisher>(stores.back()->store(), s, id));
    ASSERT_TRUE(publishers.back()->start()) << v.what;
  }
  for (size_t i = 0; i < publishers.size(); ++i)
    ASSERT_TRUE(waitUntil([&] { return publishers[i]->deliveredSeq() == 5; }, kWaitMs))
        << variants[i].what << ": " << publishers[i]->lastError().toStdString();

  broker.kill();
  for (size_t i = 0; i < publishers.size(); ++i)
    ASSERT_TRUE(waitUntil([&] { return publishers[i]->state() == Publisher::State::Connecting; }, kWaitMs))
        << variants[i].what;
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  for (size_t i = 0; i < publishers.size(); ++i) {
    stores[i]->append(6, 10);
    publishers[i]->poke();
  }
  for (size_t i = 0; i < publishers.size(); ++i) {
    EXPECT_TRUE(waitUntil([&] { return publishers[i]->deliveredSeq() == 10; }, kWaitMs))
        << variants[i].what << ": " << publishers[i]->lastError().toStdString();
    EXPECT_EQ(publishers[i]->state(), Publisher::State::Connected) << variants[i].what;
  }
}

TEST(MqttPublisherTest, PasswordIsNeitherLoggedNorPublished) {
  const QString password = QStringLiteral("Mq-Pass-5521");
  MosquittoServer::Options withPassword;
  withPassword.user = QStringLiteral("boiler");
  withPassword.password = password;
  MosquittoServer broker(withPassword);
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  MqttSubscriber sub(listener(broker.port(), {}, QStringLiteral("boiler"), password));
  ASSERT_TRUE(sub.start({QStringLiteral("#")})) << sub.lastError().toStdString();
  publish_test::LogCapture log;

  TempStore local;
  local.append(1, 10);
  local.event(EventKind::SettingsApplied, QStringLiteral("publishing settings applied"));
  MqttSettings s = brokerSettings(broker.port());
  s.user = QStringLiteral("boiler");
  s.password = QStringLiteral("wrong-") + password;
  {
    // A wrong password: refused, and the reason logged without it.
    Publisher refused(local.store(), s, kId);
    QSignalSpy errors(&refused, &Publisher::errorOccurred);
    ASSERT_TRUE(refused.start());
    ASSERT_TRUE(waitUntil([&] { return errors.count() > 0; }, kWaitMs));
    EXPECT_TRUE(refused.lastError().contains(QStringLiteral(u"не авторизован"))) << refused.lastError().toStdString();
  }
  s.password = password;
  Publisher publisher(local.store(), s, kId);
  ASSERT_TRUE(publisher.start());
  ASSERT_TRUE(waitUntil([&] { return publisher.deliveredSeq() == 10 && publisher.deliveredEventId() == 1; }, kWaitMs))
      << publisher.lastError().toStdString();
  publisher.stop();
  ASSERT_TRUE(sub.waitFor(
      [&](const std::vector<MqttMessage>&) {
        const auto st = sub.messages(statusTopic(kId));
        return !st.empty() && st.back().payload == "offline";
      },
      kWaitMs));

  const QStringList lines = log.lines();
  EXPECT_TRUE(log.all().contains(QStringLiteral(u"MQTT: подключено"))) << log.all().toStdString();
  EXPECT_FALSE(log.all().contains(password));
  const auto messages = sub.messages();
  EXPECT_GE(messages.size(), 12u);
  for (const MqttMessage& m : messages) {
    EXPECT_FALSE(m.payload.contains(password.toUtf8())) << m.topic.toStdString();
    EXPECT_FALSE(m.topic.contains(password));
  }
}

// An older copy of the database put back after its results were published:
// the next results would take the lost ones' numbers again and subscribers
// would get those numbers twice with different contents. The mark beside
// the file tells the database, which numbers on after them under a new
// identity that every message carries.
TEST(MqttPublisherTest, NumbersAreNotPublishedAgainWithOtherContentsAfterTheDatabaseLostResults) {
  MosquittoServer broker;
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  MqttSubscriber sub(listener(broker.port()));
  ASSERT_TRUE(sub.start({QStringLiteral("korvex/#")})) << sub.lastError().toStdString();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("korvex.db")), old = path + QStringLiteral(".old");
  const QString results = resultTopic(kId);
  const auto publishAll = [&](ResultStore& store, int first, int last) {
    for (int i = first; i <= last; ++i)
      ASSERT_EQ(store.append(publish_test::boilerResult(i)).state, ResultStore::AppendState::Committed);
    Publisher publisher(store, brokerSettings(broker.port()), kId);
    ASSERT_TRUE(publisher.start()) << publisher.lastError().toStdString();
    ASSERT_TRUE(waitUntil([&] { return publisher.deliveredSeq() == store.lastCommittedSeq(); }, kWaitMs));
  };
  QString first;
  {
    ResultStore store;
    ASSERT_TRUE(store.open(path, publish_test::kStartUtcMs).isWritable());
    for (int i = 1; i <= 6; ++i) ASSERT_EQ(store.append(publish_test::boilerResult(i)).state, ResultStore::AppendState::Committed);
    store.close();
    ASSERT_TRUE(QFile::copy(path, old));
    ASSERT_TRUE(store.open(path, publish_test::kStartUtcMs).isWritable());
    publishAll(store, 7, 10);
    first = store.identity();
  }
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::copy(old, path));
  ResultStore store;
  ASSERT_TRUE(store.open(path, publish_test::kStartUtcMs).isWritable());
  publishAll(store, 101, 103);

  ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return firstArrivals(sub.messages(results)).size() >= 13; },
                          kWaitMs));
  EXPECT_EQ(firstArrivals(sub.messages(results)), oneTo(13));
  for (const MqttMessage& m : sub.messages(results)) {
    const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
    EXPECT_EQ(o.value(QStringLiteral("store")).toString(), o.value(QStringLiteral("seq")).toInteger() <= 10 ? first : store.identity())
        << m.payload.toStdString();
  }
  EXPECT_NE(store.identity(), first);
}
