// The program run as a service (korvex --headless) against the analyzer
// simulator, publishing into a real mosquitto broker and copying into a real
// PostgreSQL server, in real time: a result a second of continuous
// measurement. The broker is killed for a minute, the database server is
// stopped and started again; every result still arrives, once and in order,
// and the central copy ends equal to the local database. The broker is told
// "offline" by the last will when the service is killed, and by the service
// itself when it is stopped.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>
#include <map>

#include "data/result_store.h"
#include "e2e/sim_fixture.h"
#include "publish/messages.h"
#include "publish/service_settings.h"
#include "storage/settings_files.h"
#include "support/mosquitto_server.h"
#include "support/mqtt_subscriber.h"
#include "support/postgres_server.h"
#include "support/service_process.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif

namespace {

const QRegularExpression kResultLine(QStringLiteral(u" Результат "));
const publish::AnalyzerIdentity kId{QStringLiteral("plant-7"), QStringLiteral("boiler-3"), 1};

qint64 seqOf(const MqttMessage& m) {
  return QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("seq")).toInteger(-1);
}

class PublishingE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
    startSimForResultsEverySecond();
  }

  // The service settings file beside the program, reconnecting within a second.
  void writeServiceSettings(const std::function<void(publish::ServiceSettings&)>& change) {
    publish::ServiceSettings s;
    s.site = kId.site;
    s.analyzerName = kId.name;
    s.mqtt.host = QStringLiteral("127.0.0.1");
    s.mqtt.retryMinMs = 200;
    s.mqtt.retryMaxMs = 1000;
    s.central.retryMinMs = 200;
    s.central.retryMaxMs = 1000;
    change(s);
    QString error;
    ASSERT_TRUE(publish::saveServiceSettings(inDir(QStringLiteral("korvex-service.ini")), s, &error))
        << error.toStdString();
  }

  QStringList serviceArgs(const char* mode) const {
    return {QStringLiteral("--dir"), dir_.path(), QStringLiteral("--verbose"), QStringLiteral("--mode"),
            QLatin1String(mode)};
  }

  int printed(ServiceProcess& service) { return service.count(kResultLine); }

  // Waits until the service has printed `count` results in all.
  void waitForPrinted(ServiceProcess& service, int count, int timeoutMs) {
    ASSERT_TRUE(service.waitForLines(kResultLine, count, timeoutMs))
        << "printed " << printed(service) << " of " << count << "\n"
        << service.lines().join('\n').toStdString();
  }

  std::vector<StoredResult> storedResults() {
    ResultStore store;
    const ResultStore::OpenResult opened = store.open(inDir(QStringLiteral("korvex.db")), 0,
                                                      ResultStore::WhenLocked::Refuse, ResultStore::Check::Everything);
    EXPECT_EQ(opened.status, ResultStore::OpenStatus::Opened) << opened.detail.toStdString();
    return store.results(0, std::numeric_limits<qint64>::max());
  }

  static std::vector<qint64> oneTo(qint64 n) {
    std::vector<qint64> v;
    for (qint64 i = 1; i <= n; ++i) v.push_back(i);
    return v;
  }

  // The status topic's payloads in the order they came.
  static QStringList statuses(const MqttSubscriber& sub) {
    QStringList out;
    for (const MqttMessage& m : sub.messages(publish::statusTopic(kId))) out << QString::fromUtf8(m.payload);
    return out;
  }
  static bool lastStatusIs(const MqttSubscriber& sub, const char* payload) {
    const auto st = sub.messages(publish::statusTopic(kId));
    return !st.empty() && st.back().payload == payload;
  }
};

// The results as they first came, in that order, and whether every repeat
// (a QoS 1 message sent again) carried the same message as its first arrival.
struct Arrivals {
  std::vector<qint64> firstSeqs;
  std::map<qint64, QByteArray> bySeq;
  int repeats = 0;
  bool repeatsIdentical = true;
};

Arrivals arrivals(const std::vector<MqttMessage>& messages) {
  Arrivals a;
  for (const MqttMessage& m : messages) {
    const qint64 seq = seqOf(m);
    const auto it = a.bySeq.find(seq);
    if (it == a.bySeq.end()) {
      a.bySeq.emplace(seq, m.payload);
      a.firstSeqs.push_back(seq);
    } else {
      ++a.repeats;
      if (it->second != m.payload) a.repeatsIdentical = false;
    }
  }
  return a;
}

TEST_F(PublishingE2E, BrokerKilledForAMinuteEveryResultArrivesOnceAndInOrder) {
  MosquittoServer broker;
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  // A persistent session: what comes while the listener is reconnecting after
  // the broker's restart waits for it there.
  MqttSubscriber sub({broker.port(), {}, {}, {}, QStringLiteral("e2e-listener")});
  ASSERT_TRUE(sub.start({QStringLiteral("korvex/#")})) << sub.lastError().toStdString();
  writeServiceSettings([&](publish::ServiceSettings& s) {
    s.mqtt.enabled = true;
    s.mqtt.port = broker.port();
  });
  const QString results = publish::resultTopic(kId);
  const auto distinct = [&] { return int(arrivals(sub.messages(results)).bySeq.size()); };

  ServiceProcess service{QStringLiteral(KORVEX_PROGRAM_PATH)};
  ASSERT_TRUE(service.start(serviceArgs("continuous")));
  ASSERT_TRUE(SimProcess::waitFor([&] { return distinct() >= 5 || !service.isRunning(); }, 60000))
      << service.lines().join('\n').toStdString();

  // A minute without the broker: sixty results taken meanwhile.
  broker.kill();
  const int before = printed(service);
  waitForPrinted(service, before + 60, 90000);
  if (HasFatalFailure()) return;
  EXPECT_GE(service.count(QRegularExpression(QStringLiteral(u"MQTT: (связь с 127\\.0\\.0\\.1:%1 потеряна|не могу "
                                                             u"подключиться к 127\\.0\\.0\\.1:%1)")
                                                 .arg(broker.port()))),
            1)
      << service.lines().join('\n').toStdString();

  // Back: the service catches up while it goes on measuring.
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  const int atReturn = printed(service);
  ASSERT_TRUE(SimProcess::waitFor([&] { return distinct() >= atReturn + 5 || !service.isRunning(); }, 60000))
      << "delivered " << distinct() << " of " << printed(service) << "\n"
      << broker.log().toStdString();
  EXPECT_TRUE(service.count(QRegularExpression(QStringLiteral(u"Публикация: MQTT: на связи$"))) >= 2);
  ASSERT_TRUE(service.terminate());
  const std::vector<StoredResult> stored = storedResults();
  ASSERT_EQ(int(stored.size()), printed(service));
  ASSERT_GE(stored.size(), size_t(atReturn + 5));

  // What was in flight at the stop goes out at the next start.
  ServiceProcess again{QStringLiteral(KORVEX_PROGRAM_PATH)};
  ASSERT_TRUE(again.start(serviceArgs("none")));
  const QRegularExpression connected(QStringLiteral(u"Публикация: MQTT: на связи$"));
  ASSERT_TRUE(SimProcess::waitFor(
      [&] { return (again.count(connected) >= 1 && distinct() >= int(stored.size())) || !again.isRunning(); }, 30000))
      << "delivered " << distinct() << " of " << stored.size();
  ASSERT_TRUE(again.terminate());
  EXPECT_EQ(again.exitCode(), 0);

  const Arrivals a = arrivals(sub.messages(results));
  EXPECT_EQ(a.firstSeqs, oneTo(qint64(stored.size())));
  EXPECT_TRUE(a.repeatsIdentical);
  // Each message as the database holds it.
  for (const StoredResult& s : stored) {
    const QJsonObject o = QJsonDocument::fromJson(a.bySeq.at(s.seq)).object();
    EXPECT_EQ(o.value(QStringLiteral("time")).toString(),
              QDateTime::fromMSecsSinceEpoch(s.result.utcMs, Qt::UTC).toString(Qt::ISODateWithMs))
        << s.seq;
  }
  RecordProperty("results", int(stored.size()));
  RecordProperty("repeats", a.repeats);
}

TEST_F(PublishingE2E, TheLastWillSaysOfflineWhenTheServiceIsKilledAndTheServiceItselfWhenItStops) {
  MosquittoServer broker;
  ASSERT_TRUE(broker.start()) << broker.lastError().toStdString();
  MqttSubscriber sub({broker.port(), {}, {}, {}, {}});
  ASSERT_TRUE(sub.start({QStringLiteral("korvex/#")})) << sub.lastError().toStdString();
  writeServiceSettings([&](publish::ServiceSettings& s) {
    s.mqtt.enabled = true;
    s.mqtt.port = broker.port();
  });

  {
    ServiceProcess service{QStringLiteral(KORVEX_PROGRAM_PATH)};
    ASSERT_TRUE(service.start(serviceArgs("continuous")));
    ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return lastStatusIs(sub, "online"); }, 30000))
        << service.lines().join('\n').toStdString();
    ASSERT_TRUE(sub.waitForCount(publish::resultTopic(kId), 2, 30000));
    service.kill();
    // Nobody said it but the broker, for the dead client.
    ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return lastStatusIs(sub, "offline"); }, 30000))
        << statuses(sub).join(',').toStdString();
  }

  const int before = int(sub.messages(publish::statusTopic(kId)).size());
  ServiceProcess service{QStringLiteral(KORVEX_PROGRAM_PATH)};
  ASSERT_TRUE(service.start(serviceArgs("continuous")));
  ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return lastStatusIs(sub, "online"); }, 30000));
  ASSERT_TRUE(service.terminate());
  EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(service.exitCode(), 0);
  ASSERT_TRUE(sub.waitFor([&](const std::vector<MqttMessage>&) { return lastStatusIs(sub, "offline"); }, 30000));
  EXPECT_EQ(statuses(sub).mid(before), (QStringList{QStringLiteral("online"), QStringLiteral("offline")}));
  // Said by the service, and the broker keeps it for whoever asks later.
  MqttSubscriber later({broker.port(), {}, {}, {}, {}});
  ASSERT_TRUE(later.start({publish::statusTopic(kId)})) << later.lastError().toStdString();
  ASSERT_TRUE(later.waitForCount(publish::statusTopic(kId), 1, 10000));
  EXPECT_EQ(later.messages().front().payload, QByteArray("offline"));
  EXPECT_TRUE(later.messages().front().retained);
}

TEST_F(PublishingE2E, DatabaseServerStoppedAndStartedTheLocalDatabaseKeepsEverythingAndTheCentralCatchesUp) {
  PostgresServer db;
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  writeServiceSettings([&](publish::ServiceSettings& s) {
    s.central.enabled = true;
    s.central.connection = db.connectionString();
  });
  // The central rows, asked at most twice a second.
  QElapsedTimer asked;
  int lastCount = -1;
  const auto centralCount = [&] {
    if (asked.isValid() && asked.elapsed() < 500) return lastCount;
    asked.start();
    const QVector<QStringList> rows = db.query(QStringLiteral("SELECT count(*) FROM korvex_results"));
    lastCount = rows.isEmpty() ? -1 : rows[0][0].toInt();
    return lastCount;
  };

  ServiceProcess service{QStringLiteral(KORVEX_PROGRAM_PATH)};
  ASSERT_TRUE(service.start(serviceArgs("continuous")));
  ASSERT_TRUE(SimProcess::waitFor([&] { return centralCount() >= 3 || !service.isRunning(); }, 60000))
      << service.lines().join('\n').toStdString() << db.log().toStdString();

  // Twenty results without the server.
  db.stop();
  waitForPrinted(service, printed(service) + 20, 60000);
  if (HasFatalFailure()) return;
  EXPECT_GE(service.count(QRegularExpression(QStringLiteral(u"Центральная база данных: не могу записать"))), 1)
      << service.lines().join('\n').toStdString();
  EXPECT_GE(service.count(QRegularExpression(QStringLiteral(u"центральная БД: нет связи"))), 1);
  EXPECT_EQ(service.count(QRegularExpression(db.password())), 0);

  // Back: the central copy catches up while measuring goes on.
  ASSERT_TRUE(db.start()) << db.lastError().toStdString();
  const int atReturn = printed(service);
  ASSERT_TRUE(SimProcess::waitFor([&] { return centralCount() >= atReturn + 3 || !service.isRunning(); }, 60000))
      << "copied " << lastCount << " of " << printed(service);
  ASSERT_TRUE(service.terminate());
  const std::vector<StoredResult> stored = storedResults();
  // The local database kept every result printed, numbered without a gap.
  ASSERT_EQ(int(stored.size()), printed(service));
  for (size_t i = 0; i < stored.size(); ++i) ASSERT_EQ(stored[i].seq, qint64(i + 1));

  // What was on its way at the stop is copied at the next start.
  ServiceProcess again{QStringLiteral(KORVEX_PROGRAM_PATH)};
  ASSERT_TRUE(again.start(serviceArgs("none")));
  const QRegularExpression upToDate(QStringLiteral(u"Публикация: центральная БД: всё передано$"));
  ASSERT_TRUE(SimProcess::waitFor(
      [&] { return (again.count(upToDate) >= 1 && centralCount() >= int(stored.size())) || !again.isRunning(); },
      30000));
  ASSERT_TRUE(again.terminate());
  EXPECT_EQ(again.exitCode(), 0);

  // The same rows on both sides: numbers, times and values.
  const QVector<QStringList> rows = db.query(QStringLiteral(
      "SELECT seq, (extract(epoch FROM taken_at) * 1000)::bigint, tg, o2, co, \"no\", no2, so2, h2s, co2, nox, qa, "
      "alf, ta FROM korvex_results ORDER BY seq"));
  ASSERT_EQ(rows.size(), int(stored.size())) << db.lastError().toStdString();
  for (size_t i = 0; i < stored.size(); ++i) {
    const QStringList& row = rows[int(i)];
    const Result& r = stored[i].result;
    ASSERT_EQ(row[0].toLongLong(), stored[i].seq);
    EXPECT_EQ(row[1].toLongLong(), r.utcMs) << stored[i].seq;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const QString& cell = row[2 + ch];
      if (cell.isNull())
        EXPECT_NE(specialCode(ch, r[ch]), SpecialCode::None) << stored[i].seq << " channel " << ch;
      else
        EXPECT_EQ(cell.toDouble(), r[ch]) << stored[i].seq << " channel " << ch;
    }
  }
  EXPECT_EQ(db.query(QStringLiteral("SELECT count(DISTINCT analyzer_id) FROM korvex_results"))[0][0],
            QStringLiteral("1"));
}

}  // namespace
