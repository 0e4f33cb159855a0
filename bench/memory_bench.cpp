// The memory of the window's table (its results log) with a day and with a
// million rows, against the raw values (the date-time and twelve channels as
// doubles: 104 bytes a row), and the time to open them.
//
//   korvex_memory_bench
//
// Cases, each in a process of its own (this program started again with the
// case's name), so that what one leaves in the allocator does not count for
// the next: a day of one-second results opened from the results database
// (Файл → История...), the same day from a data file, a million rows from a
// data file, and the day from the database read whole first and then shown
// (how the database was read before: what that costs beside). Each measures
// the resident memory before and after the data is in the table (the window
// itself, in the session's host, is left out), and its peak, per row.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "data/result_store.h"
#include "data/results_log.h"
#include "device/register_map.h"
#include "device/serial_backend.h"
#include "platform/seams.h"
#include "platform/timer.h"
#include "storage/table_files.h"

namespace {

constexpr int kDay = 86400;
constexpr int kMillion = 1000000;
constexpr double kRawBytes = 13 * sizeof(double);
constexpr double kLimit = 1.3;
constexpr double kPi = 3.14159265358979323846;
const QDate kFirstDay(2026, 1, 1);

class NoPort final : public SerialBackend {
 public:
  bool open(const QString&, QString* error) override {
    if (error) *error = QStringLiteral("no port in the benchmark");
    return false;
  }
  bool isOpen() const override { return false; }
  void close() override {}
  bool readState() override { return false; }
  bool configure(const LineSettings&) override { return false; }
  bool setDtr(bool) override { return false; }
  bool setRts(bool) override { return false; }
  void purge() override {}
  int64_t read(uint8_t*, int64_t) override { return 0; }
  bool write(const uint8_t*, int64_t) override { return false; }
  bool failed() const override { return false; }
  int failureReports() const override { return 0; }
};

// A boiler's results as the analyzer reports them (see result_store_bench).
Result realistic(qint64 i, std::mt19937& rng) {
  using namespace channel;
  std::normal_distribution<double> n(0, 1);
  const double t = double(i % kDay);
  Result r;
  const QDateTime at = QDateTime(kFirstDay, QTime(0, 0)).addSecs(i);
  r.utcMs = at.toMSecsSinceEpoch();
  r.utcOffset = at.offsetFromUtc();
  r.mode = WorkMode::Continuous;
  auto& v = r.values;
  v[Tg] = std::round(180 + 15 * std::sin(2 * kPi * t / 7200) + 5 * std::sin(2 * kPi * t / 600) + n(rng));
  v[Ta] = std::round(-2 + 6 * std::sin(2 * kPi * t / kDay) + 0.4 * n(rng));
  v[O2] = std::round(600 + 120 * std::sin(2 * kPi * t / 3600) + 10 * n(rng)) / 100.0;
  const bool restart = (i % 2700) < 40;
  v[CO] = std::max(0.0, std::round(40 + 25 * std::sin(2 * kPi * t / 1800) + 4 * n(rng) + (restart ? 400 : 0)));
  v[NO] = std::round(120 + 10 * std::sin(2 * kPi * t / 5400) + 2 * n(rng));
  v[NO2] = std::max(0.0, std::round(3 + 0.6 * n(rng)));
  v[SO2] = std::max(0.0, std::round(2 + n(rng)));
  v[H2S] = 0;
  static const FuelTable kFuels = builtInFuelTable();
  deriveChannels(v, kFuels[0]);
  return r;
}

// Resident and peak resident bytes of this process.
void memory(qint64* resident, qint64* peak) {
  QFile status(QStringLiteral("/proc/self/status"));
  *resident = *peak = -1;
  if (!status.open(QIODevice::ReadOnly)) return;
  for (const QByteArray& line : status.readAll().split('\n')) {
    const auto kb = [&line] { return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024; };
    if (line.startsWith("VmRSS:")) *resident = kb();
    if (line.startsWith("VmHWM:")) *peak = kb();
  }
}

// ---- A case, in its own process: prints "<rows> <bytes a row> <peak bytes a row> <ms>".
int runCase(const std::string& name, const QString& dir) {
  seams::setExecutablePath(QDir(dir).filePath(QStringLiteral("korvex")));
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  setSerialBackendFactory([] { return std::make_unique<NoPort>(); });
  // The table as the window holds it, filled from the database or a file.
  ResultStore store;
  store.open(QDir(dir).filePath(QStringLiteral("korvex.db")), 0, ResultStore::WhenLocked::OpenReadOnly);
  ResultsLog log;
  QApplication::processEvents();
  // The peak from here on: the kernel sets it back to what is resident.
  QFile clear(QStringLiteral("/proc/self/clear_refs"));
  if (clear.open(QIODevice::WriteOnly)) clear.write("5");
  clear.close();
  qint64 before = 0, peakBefore = 0;
  memory(&before, &peakBefore);
  const size_t heapBefore = mallinfo2().uordblks;

  QElapsedTimer timer;
  timer.start();
  if (name == "day-db") {
    log.beginLoad();
    store.forEachResult(QDateTime(kFirstDay, QTime(0, 0)).toMSecsSinceEpoch(),
                        QDateTime(kFirstDay.addDays(1), QTime(0, 0)).toMSecsSinceEpoch(),
                        [&log](const StoredResult& s) { log.append(s.result); });
    log.endLoad();
  } else if (name == "day-db-read-whole") {
    const std::vector<StoredResult> day = store.results(
        QDateTime(kFirstDay, QTime(0, 0)).toMSecsSinceEpoch(), QDateTime(kFirstDay.addDays(1), QTime(0, 0)).toMSecsSinceEpoch());
    log.beginLoad();
    for (const StoredResult& s : day) log.append(s.result);
    log.endLoad();
  } else if (name == "day-file") {
    loadTableFile(QDir(dir).filePath(QStringLiteral("day.kvx")), log);
  } else if (name == "million-file") {
    loadTableFile(QDir(dir).filePath(QStringLiteral("million.kvx")), log);
  } else {
    return 2;
  }
  const double ms = double(timer.nsecsElapsed()) / 1e6;
  qint64 after = 0, peak = 0;
  memory(&after, &peak);
  const int rows = log.count();
  std::printf("%d %.1f %.1f %.1f %.1f %.1f\n", rows, double(after - before) / rows, double(peak - before) / rows, ms,
              (double(mallinfo2().uordblks) - double(heapBefore)) / rows, double(log.memoryUsage()) / rows);
  setSerialBackendFactory({});
  return 0;
}

// ---- The parent: the data, then each case in turn.
bool prepare(const QString& dir) {
  seams::setExecutablePath(QDir(dir).filePath(QStringLiteral("korvex")));
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  std::mt19937 rng(1);
  ResultsLog million;
  std::vector<Result> day;
  for (int i = 0; i < kMillion; ++i) {
    const Result r = realistic(i, rng);
    million.append(r);
    if (i < kDay) day.push_back(r);
  }
  ResultStore store;
  if (!store.open(QDir(dir).filePath(QStringLiteral("korvex.db")), 0).isWritable() ||
      store.appendBatch(day).state != ResultStore::AppendState::Committed)
    return false;
  store.close();
  ResultsLog dayLog;
  for (const Result& r : day) dayLog.append(r);
  return writeTableFile(dayLog, QDir(dir).filePath(QStringLiteral("day.kvx"))) &&
         writeTableFile(million, QDir(dir).filePath(QStringLiteral("million.kvx")));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Timer::setManualForTesting(true);  // no poll cycle: the benchmark drives the window
  const QStringList args = QCoreApplication::arguments();
  if (args.size() == 3 && args[1].startsWith(QStringLiteral("--case=")))
    return runCase(args[1].mid(7).toStdString(), args[2]);

  ResultStore::setDurableForTesting(false);  // the day is written at once
  QTemporaryDir dir;
  if (!dir.isValid() || !prepare(dir.path())) {
    std::fprintf(stderr, "cannot prepare the data\n");
    return 1;
  }
  std::printf("== Memory of the window's table and chart, and the time to open (raw values: %.0f bytes a row) ==\n",
              kRawBytes);
  bool allPass = true;
  for (const char* name : {"day-db", "day-file", "million-file", "day-db-read-whole"}) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--case=") + name, dir.path()});
    if (!child.waitForFinished(600000) || child.exitCode() != 0) {
      std::printf("%-20s failed\n", name);
      allPass = false;
      continue;
    }
    const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
    const double perRow = f.value(1).toDouble(), peakPerRow = f.value(2).toDouble();
    const bool judged = std::string(name) != "day-db-read-whole";  // shown for comparison only
    const bool pass = perRow / kRawBytes <= kLimit;
    if (judged) allPass = allPass && pass;
    std::printf("%-18s %8s rows: %6.1f bytes a row (x%.2f of raw, limit %.1f)  %s; peak %6.1f (x%.2f); open %7.1f ms;"
                " heap %.1f, of it the values %.1f\n",
                name, f.value(0).constData(), perRow, perRow / kRawBytes, kLimit,
                judged ? (pass ? "PASS" : "FAIL") : "    ", peakPerRow, peakPerRow / kRawBytes,
                f.value(3).toDouble(), f.value(4).toDouble(), f.value(5).toDouble());
  }
  return allPass ? 0 : 1;
}
