// The Modbus TCP server under the load of a plant's control systems: the
// service (korvex --headless) on its simulator, a result a second, first for
// S seconds without clients, then for S seconds with N clients reading
// registers 0..65 of unit 1 R times a second each.
//
//   build/bin/korvex_modbus_load [--clients N] [--rate R] [--seconds S]
//
// It prints, per phase, the service's CPU share (all its threads, from
// /proc/<pid>/task/*/schedstat) and the longest gap between the results it
// took (from the results' own times in its database), and for the loaded
// phase the answer times (from request sent to answer received). Ratios are
// of the same run: the loaded CPU against the unloaded one, the longest gap
// against its limit of 1.2 s. Exits non-zero when a read failed or the gap
// was longer than its limit.

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

#include "data/result_store.h"
#include "platform/seams.h"
#include "support/modbus_load.h"
#include "support/service_process.h"
#include "support/sim_process.h"
#include "support/test_settings.h"

namespace {

constexpr qint64 kGapLimitMs = 1200;

qint64 wallMs() { return QDateTime::currentMSecsSinceEpoch(); }

// The event loop for `ms`, asleep between events.
void spin(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// CPU seconds of all a process's threads, to the nanosecond.
double cpuSeconds(qint64 pid) {
  double ns = 0;
  const QStringList tasks = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& task : tasks) {
    QFile f(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(task));
    if (f.open(QIODevice::ReadOnly)) ns += f.readAll().split(' ').value(0).toDouble();
  }
  return ns / 1e9;
}

int argument(const QStringList& args, const QString& name, int fallback) {
  const int at = args.indexOf(name);
  return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

struct Phase {
  const char* name;
  qint64 startMs = 0, endMs = 0;
  double cpu = 0, ownCpu = 0;
  qint64 longestGapMs = 0;
  int results = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  const int clients = argument(args, QStringLiteral("--clients"), 50);
  const int rate = argument(args, QStringLiteral("--rate"), 10);
  const int seconds = argument(args, QStringLiteral("--seconds"), 60);
  std::printf("Modbus TCP server: %d clients at %d reads a second, %d s a phase\n", clients, rate, seconds);
  std::fflush(stdout);

  QTemporaryDir dir;
  SimProcess sim(QStringLiteral(KORVEX_SIM_PATH));
  if (!sim.start({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--min-replies"), QStringLiteral("1")})) {
    std::fprintf(stderr, "simulator: %s\n", qUtf8Printable(sim.errorOutput()));
    return 2;
  }
  seams::setExecutablePath(dir.filePath(QStringLiteral("korvex")));
  QFile ini(dir.filePath(QStringLiteral("korvex-service.ini")));
  if (!test_settings::writeForResultsEverySecond(sim.portPath()) || !ini.open(QIODevice::WriteOnly)) {
    std::fprintf(stderr, "settings cannot be written\n");
    return 2;
  }
  ini.write(QStringLiteral("[ModbusServer]\nEnabled=true\nPort=0\nMaxConnections=%1\n").arg(clients + 8).toUtf8());
  ini.close();

  ServiceProcess service(QStringLiteral(KORVEX_PROGRAM_PATH));
  const QRegularExpression started(QStringLiteral(u"Сервер Modbus TCP запущен: 127\\.0\\.0\\.1:(\\d+)"));
  const QRegularExpression result(QStringLiteral(u" Результат "));
  if (!service.start({QStringLiteral("--dir"), dir.path(), QStringLiteral("--verbose")}) ||
      !service.waitForLines(started, 1) || !service.waitForLines(result, 3)) {
    std::fprintf(stderr, "service did not start measuring:\n%s\n", qUtf8Printable(service.lines().join('\n')));
    return 2;
  }
  quint16 port = 0;
  for (const QString& l : service.lines())
    if (const auto m = started.match(l); m.hasMatch()) port = quint16(m.captured(1).toUInt());
  const qint64 pid = service.processId();

  Phase phases[2] = {{"measuring, no clients"}, {"measuring, clients reading"}};
  ModbusLoad load(port, clients, rate);
  for (int i = 0; i < 2; ++i) {
    Phase& p = phases[i];
    if (i == 1) load.start();
    const double cpu0 = cpuSeconds(pid), own0 = cpuSeconds(QCoreApplication::applicationPid());
    p.startMs = wallMs();
    spin(seconds * 1000);
    p.endMs = wallMs();
    p.cpu = (cpuSeconds(pid) - cpu0) / (double(p.endMs - p.startMs) / 1000.0) * 100.0;
    p.ownCpu = (cpuSeconds(QCoreApplication::applicationPid()) - own0) / (double(p.endMs - p.startMs) / 1000.0) * 100.0;
    if (i == 1) load.stop();
  }
  service.terminate();

  ResultStore store;
  store.open(dir.filePath(QStringLiteral("korvex.db")), 0, ResultStore::WhenLocked::OpenReadOnly);
  const std::vector<StoredResult> stored = store.results(0, std::numeric_limits<qint64>::max());
  for (Phase& p : phases) {
    qint64 previous = 0;
    for (const StoredResult& s : stored) {
      if (s.result.utcMs < p.startMs || s.result.utcMs > p.endMs) continue;
      if (previous) p.longestGapMs = std::max(p.longestGapMs, s.result.utcMs - previous);
      previous = s.result.utcMs;
      ++p.results;
    }
  }

  const std::vector<double> times = load.sortedTimes();
  const double loadedSeconds = double(phases[1].endMs - phases[1].startMs) / 1000.0;
  std::printf("\n| Phase | results | longest gap (limit 1200 ms) | service CPU | this client program's CPU |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const Phase& p : phases)
    std::printf("| %s | %d | %lld ms = %.2f of the limit | %.2f %% | %.1f %% |\n", p.name, p.results,
                qint64(p.longestGapMs), double(p.longestGapMs) / double(kGapLimitMs), p.cpu, p.ownCpu);
  std::printf("\nreads: %zu answered (%.0f a second), %d failed\n", times.size(), double(times.size()) / loadedSeconds,
              load.failures());
  if (!times.empty())
    std::printf("answer time: median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n", ModbusLoad::percentile(times, 50),
                ModbusLoad::percentile(times, 99), times.back());
  std::printf("service CPU with clients / without: %.2f / %.2f %% = %.2f; per 1000 reads a second: %.2f %% of a core\n",
              phases[1].cpu, phases[0].cpu, phases[0].cpu > 0 ? phases[1].cpu / phases[0].cpu : 0.0,
              (phases[1].cpu - phases[0].cpu) / (double(times.size()) / loadedSeconds / 1000.0));
  const bool ok = load.failures() == 0 && phases[0].longestGapMs <= kGapLimitMs && phases[1].longestGapMs <= kGapLimitMs;
  return ok ? 0 : 1;
}
