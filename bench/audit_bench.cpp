// The audit trail at the program's pace and size: recording one entry (each
// commit waits for the disk), sealing a day of 86,400 results and their
// averages, and checking a whole database as `korvex --verify` does. Each
// figure is given against one of the same run: an entry against a result's
// commit, a seal against loading the day, the check against its limit of
// 30 s for a year.
//
//   korvex_audit_bench [benchmark options]
//
// The database lives in a temporary folder beside the program unless
// KORVEX_BENCH_DIR names another. The check is measured on
// KORVEX_BENCH_AUDIT_DAYS days of one-second results (14 unless set; 365 for
// a year, about 3 GB and some minutes to fill and seal), and extrapolated to
// a year when fewer; KORVEX_BENCH_AUDIT_DB keeps that file for a second run.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_dir.h"
#include "data/audit_trail.h"
#include "data/day_digest.h"
#include "data/result_store.h"
#include "data/trail_check.h"
#include "platform/seams.h"
#include "storage/user_accounts.h"

namespace {

constexpr int kDay = 86400;
constexpr qint64 kStartUtcMs = 1767214800000;  // 2026-01-01 00:00 at UTC+3
constexpr int kOffset = 3 * 3600;
constexpr double kVerifyLimitS = 30;

QString g_dir;
std::vector<double> g_entryMs, g_resultMs;
std::map<std::string, double> g_figures;
qint64 g_clockMs = kStartUtcMs;

// A boiler's result: whole register units, slow drifts, derived channels as full doubles.
Result Realistic(qint64 i) {
  const double t = double(i % kDay);
  Result r;
  r.utcMs = kStartUtcMs + i * 1000;
  r.utcOffset = kOffset;
  r.mode = WorkMode::Continuous;
  r.fuelIndex = 2;
  r.address = 1;
  auto& v = r.values;
  v[channel::Tg] = std::round(180 + 15 * std::sin(t / 1146));
  v[channel::O2] = std::round(600 + 120 * std::sin(t / 573)) / 100.0;
  v[channel::CO] = std::round(40 + 25 * std::sin(t / 286));
  v[channel::NO] = std::round(120 + 10 * std::sin(t / 859));
  v[channel::NO2] = double(3 + i % 2);
  v[channel::SO2] = double(2 + i % 3);
  v[channel::H2S] = 0;
  v[channel::Ta] = std::round(20 + 3 * std::sin(t / 13751));
  const double o2 = v[channel::O2];
  v[channel::CO2] = 11.7 * (21 - o2) / 21;
  v[channel::NOx] = v[channel::NO] + v[channel::NO2];
  v[channel::Alf] = 21 / (21 - o2);
  v[channel::Qa] = 4 + 0.03 * v[channel::Tg] * v[channel::Alf];
  return r;
}

// Day `d`'s 48 half-hour averages and the day's.
QVector<StoredAverage> Averages(int d) {
  QVector<StoredAverage> out;
  const qint64 dayStart = kStartUtcMs + qint64(d) * kDay * 1000;
  for (int k = 0; k <= 48; ++k) {
    StoredAverage a;
    a.period = k < 48 ? AveragePeriodKind::Interval : AveragePeriodKind::Day;
    a.startUtcMs = k < 48 ? dayStart + qint64(k) * 1800000 : dayStart;
    a.endUtcMs = k < 48 ? a.startUtcMs + 1800000 : dayStart + qint64(kDay) * 1000;
    a.startOffset = a.endOffset = kOffset;
    a.count = k < 48 ? 1800 : 48;
    for (int c = 0; c < kStoredComponentCount; ++c) a.components[size_t(c)] = {40.0 + c + k * 0.01, a.count, true, 0};
    out.append(a);
  }
  return out;
}

QDate DayDate(int d) { return QDate(2026, 1, 1).addDays(d); }

bool FillDays(ResultStore& store, int from, int days) {
  for (int d = from; d < from + days; ++d) {
    std::vector<Result> batch;
    batch.reserve(kDay);
    for (int s = 0; s < kDay; ++s) batch.push_back(Realistic(qint64(d) * kDay + s));
    if (store.appendBatch(batch).state != ResultStore::AppendState::Committed) return false;
    if (!store.storeAverages(Averages(d))) return false;
  }
  return true;
}

// One entry recorded, against one result committed the same way: both wait for the disk.
void BM_RecordOneEntry(benchmark::State& state) {
  const QString path = QDir(g_dir).filePath(QStringLiteral("entries.db"));
  ResultStore store;
  AuditTrail trail;
  if (!store.open(path, kStartUtcMs).isWritable() || !trail.open(path, true)) return state.SkipWithError("cannot open");
  qint64 i = 0;
  g_entryMs.clear();
  g_resultMs.clear();
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    trail.recordSettingChange(QStringLiteral("CO/IntervalLimit"), QString::number(i), QString::number(i + 1));
    g_entryMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    state.PauseTiming();
    t0 = std::chrono::steady_clock::now();
    store.append(Realistic(i++));
    g_resultMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    state.ResumeTiming();
    if (trail.pendingCount() > 0) return state.SkipWithError("commit failed");
  }
}
BENCHMARK(BM_RecordOneEntry)->Iterations(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Loading a day of 86,400 results, as sealing must: the baseline of the seal.
void BM_LoadDay(benchmark::State& state) {
  const QString path = QDir(g_dir).filePath(QStringLiteral("days.db"));
  ResultStore store;
  if (!store.open(path, kStartUtcMs).isWritable()) return state.SkipWithError("cannot open");
  if (store.lastCommittedSeq() < 3 * kDay && !FillDays(store, 0, 3)) return state.SkipWithError("fill failed");
  for (auto _ : state) {
    const auto rows = store.resultsOnDay(DayDate(1));
    if (rows.size() != size_t(kDay)) return state.SkipWithError("not a whole day");
    benchmark::DoNotOptimize(rows.data());
  }
}
BENCHMARK(BM_LoadDay)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// The digest of a day and its seal in the chain: three days, each sealed once.
void BM_SealDay(benchmark::State& state) {
  const QString path = QDir(g_dir).filePath(QStringLiteral("days.db"));
  ResultStore store;
  AuditTrail trail;
  if (!store.open(path, kStartUtcMs).isWritable() || !trail.open(path, true)) return state.SkipWithError("cannot open");
  if (store.lastCommittedSeq() < 3 * kDay && !FillDays(store, 0, 3)) return state.SkipWithError("fill failed");
  int d = 0;
  for (auto _ : state) {
    if (trail.sealDay(store, DayDate(d++)) != AuditTrail::SealOutcome::Sealed) return state.SkipWithError("seal failed");
  }
}
BENCHMARK(BM_SealDay)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// Hashing an account's password (Argon2id, libsodium's interactive limits):
// the time a login takes.
void BM_PasswordHash(benchmark::State& state) {
  QString hash;
  for (auto _ : state) hash = UserAccounts::hashPassword(QStringLiteral("Some-password-1"));
  if (!hash.startsWith(QLatin1String("$argon2id$"))) state.SkipWithError("no hash");
}
BENCHMARK(BM_PasswordHash)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// `days` days filled, averaged and sealed; then checked whole as --verify does.
void MeasureVerify(int days) {
  QString path = qEnvironmentVariable("KORVEX_BENCH_AUDIT_DB");
  if (path.isEmpty()) path = QDir(g_dir).filePath(QStringLiteral("verify.db"));
  {
    ResultStore store;
    AuditTrail trail;
    if (!store.open(path, kStartUtcMs).isWritable() || !trail.open(path, true)) {
      std::printf("verify: cannot open %s\n", qPrintable(path));
      return;
    }
    const int have = int(store.lastCommittedSeq() / kDay);
    if (have < days) {
      std::printf("verify: filling %d days into %s ...\n", days - have, qPrintable(path));
      std::fflush(stdout);
      QElapsedTimer t;
      t.start();
      if (!FillDays(store, have, days - have)) {
        std::printf("verify: fill failed: %s\n", qPrintable(store.lastError()));
        return;
      }
      g_figures["verify: fill, s"] = double(t.elapsed()) / 1000;
    }
    QElapsedTimer t;
    t.start();
    const int sealed = int(trail.sealDaysBefore(store, DayDate(days)).size());
    if (sealed > 0) g_figures["verify: sealing each day at start, ms a day"] = double(t.elapsed()) / sealed;
  }
  g_figures["verify: days"] = days;
  g_figures["verify: file, GB"] = double(QFileInfo(path).size()) / 1e9;
  // Day by day through the time index (two connections), and in one pass.
  for (const bool onePass : {false, true}) {
    TrailCheckScope scope;
    scope.daysOneByOne = onePass ? 0 : 100000;
    QElapsedTimer t;
    t.start();
    const std::clock_t cpu0 = std::clock();
    const TrailCheck c = checkTrail(path, scope);
    const double s = double(t.elapsed()) / 1000;
    const double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    if (!c.isWhole()) std::printf("verify: %s\n", qPrintable(c.line));
    const std::string name = std::string("verify: whole check, ") + (onePass ? "one pass" : "day by day");
    g_figures[name + ", s"] = s;
    g_figures[name + ", CPU s"] = cpu;
    g_figures[name + ", s extrapolated to 365 days"] = s * 365 / days;
    g_figures[name + ", CPU s extrapolated to 365 days"] = cpu * 365 / days;
  }
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const double toMs = benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                          benchmark::GetTimeUnitMultiplier(run.time_unit);
      ms[run.benchmark_name().substr(0, run.benchmark_name().find('/'))] = run.GetAdjustedRealTime() * toMs;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> ms;
};

void PrintSummary(const SummaryReporter& r) {
  std::printf("\n== Summary (database in %s) ==\n", qPrintable(g_dir));
  if (!g_entryMs.empty())
    std::printf("record one audit entry: median %.2f ms, 99th percentile %.2f ms; a result's commit in the same run "
                "%.2f ms: ratio %.2f\n",
                Percentile(g_entryMs, 0.5), Percentile(g_entryMs, 0.99), Percentile(g_resultMs, 0.5),
                Percentile(g_entryMs, 0.5) / Percentile(g_resultMs, 0.5));
  if (r.ms.count("BM_SealDay") && r.ms.count("BM_LoadDay"))
    std::printf("seal a day of %d results and 49 averages: %.1f ms; loading the day %.1f ms: ratio %.2f\n", kDay,
                r.ms.at("BM_SealDay"), r.ms.at("BM_LoadDay"), r.ms.at("BM_SealDay") / r.ms.at("BM_LoadDay"));
  if (r.ms.count("BM_PasswordHash"))
    std::printf("Argon2id hash of a password (a login): %.1f ms\n", r.ms.at("BM_PasswordHash"));
  for (const auto& [name, value] : g_figures) std::printf("%s: %.2f\n", name.c_str(), value);
  for (const char* what : {"s", "CPU s"}) {
    const auto year = g_figures.find(std::string("verify: whole check, one pass, ") + what + " extrapolated to 365 days");
    if (year != g_figures.end())
      std::printf("verify a year in one pass (%s): %.1f of the limit %.0f s: ratio %.2f\n", what, year->second,
                  kVerifyLimitS, year->second / kVerifyLimitS);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  seams::setClock([] { return QDateTime::fromMSecsSinceEpoch(g_clockMs + 400LL * kDay * 1000, Qt::OffsetFromUTC, kOffset); });
  const std::unique_ptr<QTemporaryDir> dir = makeBenchDir("audit-bench");
  if (!dir) return 1;
  g_dir = dir->path();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const int days = qEnvironmentVariableIsSet("KORVEX_BENCH_AUDIT_DAYS") ? qEnvironmentVariableIntValue("KORVEX_BENCH_AUDIT_DAYS") : 14;
  if (days > 0) MeasureVerify(days);
  benchmark::Shutdown();
  PrintSummary(reporter);
  return 0;
}
