// What evidence costs: a result's status and its validation (the chain from
// the reading to the value at the reference O2 of every component, counted
// into its interval) per result, against the plain conversion every result
// had before; and the report of a year from a year-size database, the first
// time (every day computed from its results, the averages stored) and again
// (from the stored averages).
//
//   korvex_emission_evidence_bench [benchmark options]
//
// The year is filled with a result every KORVEX_BENCH_YEAR_PERIOD seconds
// (10 by default: 3.2 million results, some 300 MB; 1 makes the year of
// one-second results, 31.5 million and about 3 GB, in some minutes), in a
// temporary folder beside the program unless KORVEX_BENCH_DIR names another.
// KORVEX_BENCH_YEAR_DB keeps the file at the given path for another run;
// KORVEX_BENCH_YEAR_PERIOD=0 leaves the year out.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QTemporaryDir>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_dir.h"
#include "emissions/emission_report.h"
#include "emissions/report_table.h"
#include "emissions/result_status.h"
#include "emissions/stored_averages.h"

namespace {

using namespace emissions;

constexpr qint64 kStartUtcMs = 1735689600000;  // 2025-01-01 00:00 UTC
constexpr double kPi = 3.14159265358979323846;
const QDate kFirst(2025, 1, 1), kLast(2025, 12, 31);

QString g_dir;
std::map<std::string, double> g_figures;

// A boiler's result at second `i` of the year: drifting gases, a CO peak now
// and then, a fault of the CO sensor a few minutes a day.
Result Realistic(qint64 i, int periodSeconds, std::mt19937& rng) {
  std::normal_distribution<double> n(0, 1);
  const double t = double(i * periodSeconds % 86400);
  Result r;
  r.utcMs = kStartUtcMs + i * periodSeconds * 1000;
  r.utcOffset = 3600;
  r.mode = WorkMode::Continuous;
  auto& v = r.values;
  v[channel::O2] = std::round(600 + 120 * std::sin(2 * kPi * t / 3600) + 10 * n(rng)) / 100.0;
  v[channel::CO] = std::max(0.0, std::round(40 + 25 * std::sin(2 * kPi * t / 1800) + 4 * n(rng)));
  v[channel::NO] = std::round(120 + 10 * std::sin(2 * kPi * t / 5400) + 2 * n(rng));
  v[channel::NO2] = std::max(0.0, std::round(3 + 0.6 * n(rng)));
  v[channel::SO2] = std::max(0.0, std::round(20 + 3 * n(rng)));
  v[channel::H2S] = 0;
  v[channel::NOx] = v[channel::NO] + v[channel::NO2];
  r.faultBits = (i * periodSeconds % 86400) < 300 ? 0x0008 : 0;
  return r;
}

std::vector<Result> Sample(int count) {
  std::mt19937 rng(7);
  std::vector<Result> out;
  for (int i = 0; i < count; ++i) out.push_back(Realistic(i, 1, rng));
  return out;
}

// Under a regulation profile with everything switched on that costs.
AveragingConfig Regulated(int periodSeconds) {
  AveragingConfig c;
  c.resultPeriodSeconds = periodSeconds;
  c.zone = QTimeZone(3600);
  c.o2RefByFuel = {3, 6, 11};
  ValidationConfig& v = c.validation;
  v.profile = RegulationProfile::WasteIncineration;
  v.dailyLimit = {50.0, 200.0, 50.0, std::nullopt};
  v.monitored = {true, true, true, false};
  v.plant = {PlantRule::Source::O2, 19, 10};
  v.gas = {GasBasis::Wet, 8};
  for (int k = 0; k < 3; ++k) v.calibration[size_t(k)] = {true, 1.5, 1.02, QDate(2024, 10, 1), QStringLiteral("MB"), 300};
  return c.sanitized();
}

AlarmLimits Limits() {
  AlarmLimits l;
  l[Component::CO] = {100, 50};
  l[Component::NOx] = {400, 200};
  l[Component::SO2] = {200, 50};
  return l;
}

// The baseline: the conversion every result had before statuses.
void BM_ConvertAsBefore(benchmark::State& state) {
  const std::vector<Result> sample = Sample(4096);
  const std::vector<double> refs = {3, 6, 11};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(convert(sample[i++ & 4095], refs));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConvertAsBefore);

// The status of a result as it is taken.
void BM_DecideStatus(benchmark::State& state) {
  const std::vector<Result> sample = Sample(4096);
  const AveragingConfig c = Regulated(1);
  PlantOperation plant(c.validation.plant);
  size_t i = 0;
  for (auto _ : state) {
    const Result& r = sample[i++ & 4095];
    StatusInputs in;
    in.plantOperating = plant.observe(r);
    benchmark::DoNotOptimize(decideStatus(r, in, c.validation));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecideStatus);

// A stored result judged again and counted into its interval: calibration,
// dry gas, reference O2, status of each component.
void BM_ValidateIntoInterval(benchmark::State& state) {
  const std::vector<Result> sample = Sample(4096);
  const AveragingConfig c = Regulated(1);
  IntervalAccumulator acc(0, c.intervalMs());
  size_t i = 0;
  for (auto _ : state) {
    const Result& r = sample[i++ & 4095];
    acc.add(r, storedStatus(r, c.validation), c);
  }
  benchmark::DoNotOptimize(acc.average(c));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ValidateIntoInterval);

// The same without regulation, against the way it was counted before.
void BM_CountAsBefore(benchmark::State& state) {
  const std::vector<Result> sample = Sample(4096);
  AveragingConfig c;
  c.o2RefByFuel = {3, 6, 11};
  IntervalAccumulator acc(0, c.intervalMs());
  size_t i = 0;
  for (auto _ : state) acc.add(convert(sample[i++ & 4095], c.o2RefByFuel));
  benchmark::DoNotOptimize(acc.average(c));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CountAsBefore);

void BM_CountWithoutRegulation(benchmark::State& state) {
  const std::vector<Result> sample = Sample(4096);
  AveragingConfig c;
  c.o2RefByFuel = {3, 6, 11};
  IntervalAccumulator acc(0, c.intervalMs());
  size_t i = 0;
  for (auto _ : state) {
    const Result& r = sample[i++ & 4095];
    acc.add(r, storedStatus(r, c.validation), c);
  }
  benchmark::DoNotOptimize(acc.average(c));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CountWithoutRegulation);

bool Fill(ResultStore& store, qint64 from, qint64 count, int periodSeconds) {
  std::mt19937 rng(2025);
  const qint64 perDay = 86400 / periodSeconds;
  std::vector<Result> batch;
  for (qint64 i = from; i < from + count;) {
    batch.clear();
    for (qint64 k = 0; k < perDay && i < from + count; ++k, ++i) batch.push_back(Realistic(i, periodSeconds, rng));
    if (store.appendBatch(batch).state != ResultStore::AppendState::Committed) return false;
  }
  return true;
}

// The year's report: the days (stored averages or computed), the report
// with its summary, and its table for the screen and the printer.
struct Seconds {
  double wall = 0, cpu = 0;  // CPU: of this process, apart from what other programs take of the cores
};

Seconds YearReport(ResultStore& store, const AveragingConfig& c, DaysSource* source) {
  QElapsedTimer t;
  t.start();
  const std::clock_t cpu = std::clock();
  const qint64 now = kStartUtcMs + qint64(400) * 86400 * 1000;
  const QVector<DailyAverage> days = storedOrComputedDays(store, kFirst, kLast, c, Limits(), now, source);
  const EmissionReport report = EmissionReport::forPeriod(ReportPeriod::Year, kFirst, kLast, days, Limits(), c.validation);
  const ReportTable table = reportTable(report, c.intervalMinutes, QLocale(QLocale::Russian));
  if (table.rows.size() != 12) std::printf("year report: %lld rows\n", static_cast<long long>(table.rows.size()));
  return {double(t.nsecsElapsed()) / 1e9, double(std::clock() - cpu) / CLOCKS_PER_SEC};
}

void MeasureYear() {
  bool given = false;
  const int asked = qEnvironmentVariableIntValue("KORVEX_BENCH_YEAR_PERIOD", &given);
  if (given && asked == 0) return;
  const int period = given && asked > 0 ? asked : 10;
  QString path = qEnvironmentVariable("KORVEX_BENCH_YEAR_DB");
  if (path.isEmpty()) path = QDir(g_dir).filePath(QStringLiteral("year.db"));
  const qint64 rows = qint64(365) * 86400 / period;
  ResultStore::setDurableForTesting(false);  // the fill is not what is measured
  ResultStore store;
  if (!store.open(path, kStartUtcMs).isWritable()) {
    std::printf("year: cannot open %s\n", qPrintable(path));
    return;
  }
  const qint64 have = store.lastCommittedSeq();
  if (have < rows) {
    std::printf("year: filling %lld results, one every %d s, into %s ...\n", rows - have, period, qPrintable(path));
    std::fflush(stdout);
    QElapsedTimer fill;
    fill.start();
    if (!Fill(store, have, rows - have, period)) {
      std::printf("year: fill failed: %s\n", qPrintable(store.lastError()));
      return;
    }
    g_figures["year: fill, s"] = double(fill.elapsed()) / 1000;
  }
  g_figures["year: results"] = double(rows);
  const AveragingConfig c = Regulated(period);
  DaysSource first, second;
  const Seconds cold = YearReport(store, c, &first);
  const Seconds warm = YearReport(store, c, &second);
  g_figures["year report, first (computed from the results), s"] = cold.wall;
  g_figures["year report, first, CPU s"] = cold.cpu;
  g_figures["year report, again (from the stored averages), s"] = warm.wall;
  g_figures["year report, again, CPU s"] = warm.cpu;
  g_figures["year: days computed the first time"] = first.computed;
  g_figures["year: days read back the second time"] = second.fromStore;
}

class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const double toNs = benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                          benchmark::GetTimeUnitMultiplier(run.time_unit);
      ns[run.benchmark_name()] = run.GetAdjustedCPUTime() * toNs;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> ns;
};

void PrintSummary(const SummaryReporter& r) {
  std::printf("\n== Summary ==\n");
  auto ns = [&r](const char* name) { return r.ns.count(name) ? r.ns.at(name) : -1.0; };
  const double convert = ns("BM_ConvertAsBefore"), status = ns("BM_DecideStatus"),
               validate = ns("BM_ValidateIntoInterval"), before = ns("BM_CountAsBefore"),
               none = ns("BM_CountWithoutRegulation");
  if (convert > 0 && status > 0 && validate > 0) {
    std::printf("a result's status: %.1f ns; judged and counted into its interval under a profile: %.1f ns\n", status,
                validate);
    const double ratio = (status + validate) / convert;
    std::printf("status and validation / conversion as before: %.2f (budget 10%s; a result a second has 1e9 ns)\n",
                ratio, ratio > 10 ? ", OVER" : "");
  }
  if (before > 0 && none > 0)
    std::printf("counting without regulation: %.1f ns, as before %.1f ns: ratio %.2f (budget 3%s)\n", none, before,
                none / before, none / before > 3 ? ", OVER" : "");
  for (const auto& [name, value] : g_figures) std::printf("%s: %.2f\n", name.c_str(), value);
  const auto first = g_figures.find("year report, first (computed from the results), s");
  const auto again = g_figures.find("year report, again (from the stored averages), s");
  if (first != g_figures.end() && again != g_figures.end() && again->second > 0)
    std::printf("year report, first / again: %.0f (the stored averages spare the results)\n",
                first->second / again->second);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::unique_ptr<QTemporaryDir> dir = makeBenchDir("evidence-bench");
  if (!dir) return 1;
  g_dir = dir->path();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  MeasureYear();
  benchmark::Shutdown();
  PrintSummary(reporter);
  return 0;
}
