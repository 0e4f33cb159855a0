// A site of many analyzers: N services (korvex --headless), each with its own
// simulated analyzer (korvex-sim on a pseudo-terminal) and its own directory,
// one result a second each, publishing into one mosquitto broker and copying
// into one PostgreSQL server, both started here in a temporary directory.
//
//   build/bin/korvex_site_scale [--instances N] [--seconds S] [--warmup W] [--root DIR]
//
// The services' directories go into a temporary directory under DIR (/tmp
// by default); the broker's and the database server's are always in /tmp.
//
// After the warm-up it measures for S seconds: the results taken (each local
// database's last number), the results delivered (first arrivals at a
// subscriber of the broker, rows in the central database), the latency from
// a result's time to its arrival at the subscriber, and each service's CPU
// share and resident memory from /proc. It prints one table and exits
// non-zero when a result taken was not delivered.

#include <mosquitto.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <set>
#include <vector>

#include "platform/seams.h"
#include "publish/service_settings.h"
#include "support/mosquitto_server.h"
#include "support/postgres_server.h"
#include "support/server_process.h"
#include "support/sim_process.h"
#include "support/test_settings.h"

namespace {

const QString kSite = QStringLiteral("bench");

double wallMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void spin(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents();
    usleep(20000);
  }
}

QString analyzerName(int i) { return QStringLiteral("a%1").arg(i + 1, 3, 10, QLatin1Char('0')); }

// ---- /proc ------------------------------------------------------------------

// CPU seconds (user + system) of a process from its clock ticks; -1 when it is gone.
double tickCpuSeconds(qint64 pid) {
  QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  const QByteArray text = f.readAll();
  // The fields after the command name, which may hold spaces, in parentheses.
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  if (fields.size() < 13) return -1;
  return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// CPU seconds of all a process's threads, to the nanosecond (schedstat); a
// service uses a few milliseconds a second, less than the ticks resolve.
double cpuSeconds(qint64 pid) {
  const QStringList tasks = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  if (tasks.isEmpty()) return tickCpuSeconds(pid);
  double ns = 0;
  for (const QString& task : tasks) {
    QFile f(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(task));
    if (!f.open(QIODevice::ReadOnly)) return tickCpuSeconds(pid);
    ns += f.readAll().split(' ').value(0).toDouble();
  }
  return ns / 1e9;
}

qint64 parentOf(qint64 pid) {
  QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  const QByteArray text = f.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  return fields.size() > 1 ? fields[1].toLongLong() : -1;
}

// kB of a line of /proc/<pid>/status ("VmRSS", "VmHWM").
double statusKb(qint64 pid, const char* key) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith(key)) return line.mid(int(qstrlen(key)) + 1).trimmed().split(' ').value(0).toDouble();
  return -1;
}

QList<qint64> allPids() {
  QList<qint64> pids;
  for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool ok = false;
    const qint64 pid = name.toLongLong(&ok);
    if (ok) pids << pid;
  }
  return pids;
}

// Processes whose command line holds `text`, and all their descendants.
QList<qint64> processTree(const QString& text) {
  QList<qint64> found;
  const QList<qint64> pids = allPids();
  for (qint64 pid : pids) {
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (f.open(QIODevice::ReadOnly) && QString::fromUtf8(f.readAll().replace('\0', ' ')).contains(text))
      found << pid;
  }
  for (bool grew = true; grew;) {
    grew = false;
    for (qint64 pid : pids)
      if (!found.contains(pid) && found.contains(parentOf(pid))) {
        found << pid;
        grew = true;
      }
  }
  return found;
}

double treeCpuSeconds(const QList<qint64>& pids) {
  double sum = 0;
  for (qint64 pid : pids) sum += std::max(0.0, cpuSeconds(pid));
  return sum;
}

// Busy and total jiffies of the whole machine.
std::pair<double, double> machineJiffies() {
  QFile f(QStringLiteral("/proc/stat"));
  if (!f.open(QIODevice::ReadOnly)) return {0, 0};
  const QList<QByteArray> v = f.readLine().simplified().split(' ');
  double total = 0, idle = 0;
  for (int i = 1; i < v.size(); ++i) total += v[i].toDouble();
  if (v.size() > 5) idle = v[4].toDouble() + v[5].toDouble();
  return {total - idle, total};
}

// ---- the subscriber -------------------------------------------------------------

struct Arrival {
  int instance;
  qint64 seq;
  double timeMs;     // the result's time
  double arrivalMs;  // when the subscriber had it
};

class Subscriber {
 public:
  explicit Subscriber(quint16 port) : port_(port) {}
  ~Subscriber() {
    if (mosq_) {
      mosquitto_disconnect(mosq_);
      mosquitto_loop_stop(mosq_, true);
      mosquitto_destroy(mosq_);
    }
  }

  bool start() {
    mosquitto_lib_init();
    mosq_ = mosquitto_new("site-scale-bench", true, this);
    if (!mosq_) return false;
    mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, "korvex/bench/+/result", 1);
    });
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
      static_cast<Subscriber*>(self)->take(m);
    });
    return mosquitto_connect(mosq_, "127.0.0.1", port_, 30) == MOSQ_ERR_SUCCESS &&
           mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
  }

  std::vector<Arrival> arrivals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
  }
  qint64 messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  void take(const mosquitto_message* m) {
    const double arrival = wallMs();
    const QByteArray payload(static_cast<const char*>(m->payload), m->payloadlen);
    const QJsonObject o = QJsonDocument::fromJson(payload).object();
    const QString name = o.value(QStringLiteral("analyzer")).toString();
    const QDateTime time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    Arrival a{name.mid(1).toInt() - 1, o.value(QStringLiteral("seq")).toInteger(),
              double(time.toMSecsSinceEpoch()), arrival};
    std::lock_guard<std::mutex> lock(mutex_);
    ++messages_;
    if (seen_.insert({a.instance, a.seq}).second) arrivals_.push_back(a);
  }

  quint16 port_;
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Arrival> arrivals_;  // first arrivals only
  std::set<std::pair<int, qint64>> seen_;
  qint64 messages_ = 0;
};

// ---- one analyzer and its service -----------------------------------------------

struct Instance {
  QString dir;
  std::unique_ptr<SimProcess> sim;
  std::unique_ptr<QProcess> service;
  qint64 pid = 0;
  double cpuStart = 0, cpuEnd = 0, simCpuStart = 0, simCpuEnd = 0;
  double rssKb = 0, hwmKb = 0;
  qint64 takenAtStart = 0, takenAtEnd = 0;
};

// The last result number in the instance's database (read while it writes: WAL).
qint64 lastSeq(const QString& dir) {
  sqlite3* db = nullptr;
  qint64 seq = -1;
  if (sqlite3_open_v2(QDir(dir).filePath(QStringLiteral("korvex.db")).toUtf8().constData(), &db,
                      SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT coalesce(max(seq), 0) FROM results", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      seq = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return seq;
}

// The program's settings in `dir`: the simulator's port, a result every
// second, no zero setting or draining first.
bool writeProgramSettings(const QString& dir, const QString& port) {
  seams::setExecutablePath(QDir(dir).filePath(QStringLiteral("korvex")));
  return test_settings::writeForResultsEverySecond(port);
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t at = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
  return v[at];
}

int argument(const QStringList& args, const QString& name, int fallback) {
  const int at = args.indexOf(name);
  return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  const int n = argument(args, QStringLiteral("--instances"), 50);
  const int seconds = argument(args, QStringLiteral("--seconds"), 180);
  const int warmup = argument(args, QStringLiteral("--warmup"), 20);
  std::printf("Site scale: %d services, %d s warm-up, %d s measured\n", n, warmup, seconds);
  std::fflush(stdout);

  MosquittoServer broker;
  if (!broker.start()) {
    std::fprintf(stderr, "broker: %s\n", qUtf8Printable(broker.lastError()));
    return 2;
  }
  PostgresServer db;
  if (!db.start()) {
    std::fprintf(stderr, "database: %s\n", qUtf8Printable(db.lastError()));
    return 2;
  }
  // A connection a service, and some to spare.
  if (n + 20 > 100) {
    db.query(QStringLiteral("ALTER SYSTEM SET max_connections = %1").arg(n + 20));
    db.stop();
    if (!db.start()) {
      std::fprintf(stderr, "database restart: %s\n", qUtf8Printable(db.lastError()));
      return 2;
    }
  }
  Subscriber sub(broker.port());
  if (!sub.start()) {
    std::fprintf(stderr, "subscriber cannot connect\n");
    return 2;
  }

  // The services' directories: on a disk by default, where each commit waits for the disk.
  const int rootAt = args.indexOf(QStringLiteral("--root"));
  const QString rootParent = rootAt >= 0 && rootAt + 1 < args.size() ? args[rootAt + 1] : test_servers::tempRoot();
  QTemporaryDir root(rootParent + QStringLiteral("/korvex-site-XXXXXX"));
  std::vector<Instance> instances(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    Instance& in = instances[size_t(i)];
    in.dir = root.filePath(analyzerName(i));
    QDir().mkpath(in.dir);
    in.sim = std::make_unique<SimProcess>(QStringLiteral(KORVEX_SIM_PATH));
    if (!in.sim->start({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--min-replies"),
                        QStringLiteral("1")})) {
      std::fprintf(stderr, "simulator %d: %s\n", i + 1, qUtf8Printable(in.sim->errorOutput()));
      return 2;
    }
    if (!writeProgramSettings(in.dir, in.sim->portPath())) {
      std::fprintf(stderr, "settings %d cannot be written\n", i + 1);
      return 2;
    }
    publish::ServiceSettings s;
    s.site = kSite;
    s.analyzerName = analyzerName(i);
    s.mqtt.enabled = true;
    s.mqtt.host = QStringLiteral("127.0.0.1");
    s.mqtt.port = broker.port();
    s.central.enabled = true;
    s.central.connection = db.connectionString();
    QString error;
    if (!publish::saveServiceSettings(QDir(in.dir).filePath(QStringLiteral("korvex-service.ini")), s, &error)) {
      std::fprintf(stderr, "service settings %d: %s\n", i + 1, qUtf8Printable(error));
      return 2;
    }
    in.service = std::make_unique<QProcess>();
    in.service->setProcessChannelMode(QProcess::MergedChannels);
    in.service->setStandardOutputFile(QDir(in.dir).filePath(QStringLiteral("service.log")));
    in.service->start(QStringLiteral(KORVEX_PROGRAM_PATH),
                      {QStringLiteral("--headless"), QStringLiteral("--dir"), in.dir, QStringLiteral("--mode"),
                       QStringLiteral("continuous")});
    if (!in.service->waitForStarted(10000)) {
      std::fprintf(stderr, "service %d did not start\n", i + 1);
      return 2;
    }
    in.pid = in.service->processId();
  }
  std::printf("started; warming up\n");
  std::fflush(stdout);
  spin(warmup * 1000);

  const QString brokerConf = QFileInfo(broker.persistenceFile()).absolutePath() + QStringLiteral("/mosquitto.conf");
  const QString dbDir =
      QRegularExpression(QStringLiteral("host=(\\S+)")).match(db.connectionString()).captured(1) + QStringLiteral("/data");
  const QList<qint64> brokerPids = processTree(brokerConf);

  // ---- the measured window ----
  for (Instance& in : instances) {
    in.takenAtStart = lastSeq(in.dir);
    in.cpuStart = cpuSeconds(in.pid);
    in.simCpuStart = cpuSeconds(in.sim->processId());
  }
  const double brokerCpu0 = treeCpuSeconds(brokerPids), dbCpu0 = treeCpuSeconds(processTree(dbDir));
  const auto machine0 = machineJiffies();
  const double t0 = wallMs();
  spin(seconds * 1000);
  const double t1 = wallMs();
  const auto machine1 = machineJiffies();
  const double brokerCpu1 = treeCpuSeconds(brokerPids), dbCpu1 = treeCpuSeconds(processTree(dbDir));
  for (Instance& in : instances) {
    in.cpuEnd = cpuSeconds(in.pid);
    in.rssKb = statusKb(in.pid, "VmRSS:");
    in.hwmKb = statusKb(in.pid, "VmHWM:");
    in.takenAtEnd = lastSeq(in.dir);
    in.simCpuEnd = cpuSeconds(in.sim->processId());
  }

  // ---- everything taken by the end delivered? ----
  const auto delivered = [&](std::vector<qint64>* perInstance) {
    perInstance->assign(size_t(n), 0);
    for (const Arrival& a : sub.arrivals())
      if (a.instance >= 0 && a.instance < n && a.seq <= instances[size_t(a.instance)].takenAtEnd)
        ++(*perInstance)[size_t(a.instance)];
    return std::accumulate(perInstance->begin(), perInstance->end(), qint64(0));
  };
  qint64 taken = 0;
  for (const Instance& in : instances) taken += in.takenAtEnd;
  QString takenCase;
  for (int i = 0; i < n; ++i)
    takenCase += QStringLiteral("WHEN '%1' THEN %2 ").arg(analyzerName(i)).arg(instances[size_t(i)].takenAtEnd);
  const QString centralSql = QStringLiteral(
                                 "SELECT count(*) FROM korvex_results r JOIN korvex_analyzers a ON a.id = r.analyzer_id "
                                 "WHERE a.site = '%1' AND r.seq <= CASE a.name %2 ELSE 0 END")
                                 .arg(kSite, takenCase);
  std::vector<qint64> mqttPer;
  qint64 mqtt = 0, central = 0;
  QElapsedTimer drain;
  drain.start();
  while (drain.elapsed() < 60000) {
    mqtt = delivered(&mqttPer);
    const QVector<QStringList> rows = db.query(centralSql);
    central = rows.isEmpty() ? -1 : rows[0][0].toLongLong();
    if (mqtt == taken && central == taken) break;
    spin(1000);
  }
  const double drainSeconds = double(drain.elapsed()) / 1000.0;

  // ---- latency of the results taken in the window ----
  std::vector<double> latency;
  for (const Arrival& a : sub.arrivals())
    if (a.timeMs >= t0 && a.timeMs <= t1) latency.push_back(a.arrivalMs - a.timeMs);
  const QVector<QStringList> centralLatency = db.query(
      QStringLiteral("SELECT round(1000 * percentile_cont(0.5) WITHIN GROUP (ORDER BY extract(epoch FROM received_at - "
                     "taken_at)))::text, round(1000 * percentile_cont(0.99) WITHIN GROUP (ORDER BY extract(epoch FROM "
                     "received_at - taken_at)))::text FROM korvex_results WHERE taken_at >= to_timestamp(%1) AND "
                     "taken_at <= to_timestamp(%2)")
          .arg(t0 / 1000.0, 0, 'f', 3)
          .arg(t1 / 1000.0, 0, 'f', 3));

  // ---- what the services said of publishing going wrong ----
  int outages = 0;
  QStringList firstOutages;
  const QRegularExpression outage(QStringLiteral(u"MQTT: (связь с .* потеряна|не могу)|Центральная база данных: не могу"));
  for (const Instance& in : instances) {
    QFile log(QDir(in.dir).filePath(QStringLiteral("service.log")));
    if (!log.open(QIODevice::ReadOnly)) continue;
    for (const QString& line : QString::fromUtf8(log.readAll()).split(QLatin1Char('\n')))
      if (outage.match(line).hasMatch() && !line.startsWith(QLatin1String("korvex.publish"))) {
        ++outages;
        if (firstOutages.size() < 3) firstOutages << line;
      }
  }

  // ---- per instance ----
  const double window = (t1 - t0) / 1000.0;
  std::vector<double> cpu, simCpu, rss, hwm, rate;
  int alive = 0;
  for (const Instance& in : instances) {
    if (in.service->state() == QProcess::Running) ++alive;
    if (in.cpuStart >= 0 && in.cpuEnd >= 0) cpu.push_back(100.0 * (in.cpuEnd - in.cpuStart) / window);
    if (in.simCpuStart >= 0 && in.simCpuEnd >= 0) simCpu.push_back(100.0 * (in.simCpuEnd - in.simCpuStart) / window);
    rss.push_back(in.rssKb / 1024.0);
    hwm.push_back(in.hwmKb / 1024.0);
    rate.push_back(double(in.takenAtEnd - in.takenAtStart) / window);
  }
  const auto mean = [](const std::vector<double>& v) {
    return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
  };
  const auto most = [](const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); };

  std::printf("\n| Figure | Value |\n|---|---|\n");
  std::printf("| services running at the end | %d of %d |\n", alive, n);
  std::printf("| results taken (local databases) | %lld |\n", taken);
  std::printf("| delivered over MQTT (first arrivals) | %lld |\n", mqtt);
  std::printf("| MQTT messages, repeats included | %lld |\n", sub.messages());
  std::printf("| copied to the central database | %lld |\n", central);
  std::printf("| publishing errors the services printed | %d |\n", outages);
  std::printf("| waited after the window for the last deliveries | %.1f s |\n", drainSeconds);
  std::printf("| results a second per service (mean, window) | %.3f |\n", mean(rate));
  std::printf("| MQTT latency, result time to subscriber: median | %.0f ms |\n", percentile(latency, 0.5));
  std::printf("| MQTT latency: 99th percentile | %.0f ms |\n", percentile(latency, 0.99));
  std::printf("| MQTT latency: maximum | %.0f ms |\n", percentile(latency, 1.0));
  if (!centralLatency.isEmpty())
    std::printf("| central database, result time to commit: median / 99th | %s / %s ms |\n",
                qUtf8Printable(centralLatency[0].value(0)), qUtf8Printable(centralLatency[0].value(1)));
  std::printf("| CPU per service: mean / max | %.2f %% / %.2f %% |\n", mean(cpu), most(cpu));
  std::printf("| RSS per service: mean / max (peak) | %.1f / %.1f (%.1f) MiB |\n", mean(rss), most(rss), most(hwm));
  std::printf("| CPU per simulator (not the program): mean | %.2f %% |\n", mean(simCpu));
  std::printf("| broker CPU / PostgreSQL CPU (all its processes) | %.1f %% / %.1f %% |\n",
              100.0 * (brokerCpu1 - brokerCpu0) / window, 100.0 * (dbCpu1 - dbCpu0) / window);
  std::printf("| whole machine busy (%ld cores, other work included) | %.0f %% |\n", sysconf(_SC_NPROCESSORS_ONLN),
              100.0 * (machine1.first - machine0.first) / std::max(1.0, machine1.second - machine0.second));

  for (const QString& line : firstOutages) std::printf("  %s\n", qUtf8Printable(line));

  // ---- ending ----
  for (Instance& in : instances) in.service->terminate();
  for (Instance& in : instances)
    if (!in.service->waitForFinished(15000)) in.service->kill();
  for (Instance& in : instances) in.sim->stop();

  const bool whole = mqtt == taken && central == taken && alive == n;
  if (!whole) {
    for (int i = 0; i < n; ++i)
      if (mqttPer[size_t(i)] != instances[size_t(i)].takenAtEnd)
        std::printf("%s: taken %lld, delivered over MQTT %lld (log %s/service.log)\n",
                    qUtf8Printable(analyzerName(i)), instances[size_t(i)].takenAtEnd, mqttPer[size_t(i)],
                    qUtf8Printable(instances[size_t(i)].dir));
    root.setAutoRemove(false);
    std::printf("Not every result taken was delivered; directories kept in %s\n", qUtf8Printable(root.path()));
  }
  return whole ? 0 : 1;
}
