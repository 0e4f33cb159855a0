// The results database at the program's pace and size: committing one result
// as it is taken, the bytes a result costs on disk, and opening a day of
// 86,400 results into the table, and writing a day's log from it.
//
//   korvex_result_store_bench [benchmark options]
//
// The database lives in a temporary folder beside the program (the disk the
// program's own database will be on) unless KORVEX_BENCH_DIR names another.
// KORVEX_BENCH_YEAR_DAYS=365 also fills a year of one-second results in
// day-sized transactions (about 3 GB and some minutes; fewer days extrapolate)
// and measures its file, opening it and a day of it; KORVEX_BENCH_YEAR_DB
// keeps that file at the given path, so a second run (after dropping the OS's
// cache, say) measures it as a program start finds it, without refilling.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "data/result_store.h"
#include "data/results_log.h"
#include "storage/table_files.h"

namespace {

constexpr int kDay = 86400;
constexpr int kSizeRows = 200000;
constexpr qint64 kStartUtcMs = 1767225600000;  // 2026-01-01 00:00 UTC
constexpr double kPi = 3.14159265358979323846;

QString g_dir;
std::vector<double> g_commitMs;
std::map<std::string, double> g_figures;
std::map<std::string, std::string> g_notes;

// A gas boiler's day: registers in whole units (O2 in hundredths), slow
// drifts, noise, CO peaks when the burner restarts, the derived channels as
// full doubles.
Result Realistic(qint64 i, std::mt19937& rng) {
  std::normal_distribution<double> n(0, 1);
  const double t = double(i % kDay);
  Result r;
  r.utcMs = kStartUtcMs + i * 1000;
  r.utcOffset = 3 * 3600;
  r.mode = WorkMode::Continuous;
  r.fuelIndex = 2;
  r.address = 1;
  auto& v = r.values;
  v[channel::Tg] = std::round(180 + 15 * std::sin(2 * kPi * t / 7200) + 5 * std::sin(2 * kPi * t / 600) + n(rng));
  v[channel::O2] = std::round(600 + 120 * std::sin(2 * kPi * t / 3600) + 10 * n(rng)) / 100.0;
  const bool restart = (i % 2700) < 40;
  v[channel::CO] = std::max(0.0, std::round(40 + 25 * std::sin(2 * kPi * t / 1800) + 4 * n(rng) + (restart ? 400 : 0)));
  v[channel::NO] = std::round(120 + 10 * std::sin(2 * kPi * t / 5400) + 2 * n(rng));
  v[channel::NO2] = std::max(0.0, std::round(3 + 0.6 * n(rng)));
  v[channel::SO2] = std::max(0.0, std::round(2 + n(rng)));
  v[channel::H2S] = i % 40000 == 7 ? kCodeOverload : 0;
  v[channel::Ta] = std::round(20 + 3 * std::sin(2 * kPi * t / kDay));
  const long double o2 = v[channel::O2], co = v[channel::CO];
  v[channel::CO2] = double(((10 - 0.476L * (o2 - 0.00004L * co)) * 11.7L - co) / 10000 * 100);
  v[channel::NOx] = v[channel::NO] + v[channel::NO2];
  v[channel::Alf] = double(21 / (21 - o2));
  v[channel::Qa] = double(4 + 0.03L * v[channel::Tg] * v[channel::Alf]);
  r.faultBits = (i % 50000) < 30 ? 0x0004 : 0;
  return r;
}

qint64 FileBytes(const QString& path) {
  sqlite3* db = nullptr;
  qint64 bytes = -1;
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT page_count * page_size FROM pragma_page_count, pragma_page_size", -1, &st,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      bytes = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(db);
  return bytes;
}

// Bytes of each table and index (SQLite's dbstat), for the summary.
std::string BytesByObject(const QString& path, qint64 rows) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name, sum(pgsize) FROM dbstat GROUP BY name ORDER BY 2 DESC LIMIT 3", -1,
                           &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        char line[96];
        std::snprintf(line, sizeof line, "%s%s %.1f", out.empty() ? "" : ", ", sqlite3_column_text(st, 0),
                      double(sqlite3_column_int64(st, 1)) / double(rows));
        out += line;
      }
    } else {
      out = "(no dbstat in this SQLite)";
    }
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(db);
  return out;
}

bool Fill(ResultStore& store, qint64 from, qint64 count, int perTransaction) {
  std::mt19937 rng(uint32_t(from + 1));
  std::vector<Result> batch;
  batch.reserve(size_t(perTransaction));
  for (qint64 i = from; i < from + count; ++i) {
    batch.push_back(Realistic(i, rng));
    if (int(batch.size()) == perTransaction || i + 1 == from + count) {
      if (store.appendBatch(batch).state != ResultStore::AppendState::Committed) return false;
      batch.clear();
    }
  }
  return true;
}

// One result committed as it is taken, on the real disk, with the
// synchronous level the store uses: every commit waits for the disk.
void BM_CommitOneResult(benchmark::State& state) {
  const QString path = QDir(g_dir).filePath(QStringLiteral("commit.db"));
  ResultStore store;
  if (!store.open(path, kStartUtcMs).isWritable()) return state.SkipWithError("cannot open");
  std::mt19937 rng(1);
  qint64 i = 0;
  g_commitMs.clear();
  for (auto _ : state) {
    const Result r = Realistic(i++, rng);
    const auto t0 = std::chrono::steady_clock::now();
    const auto out = store.append(r);
    g_commitMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    if (out.state != ResultStore::AppendState::Committed) return state.SkipWithError("commit failed");
  }
}
BENCHMARK(BM_CommitOneResult)->Iterations(3000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Bytes a result costs: the file's pages over 200,000 results of the program's
// usual kind, written a day's hour at a time.
void BM_BytesPerResult(benchmark::State& state) {
  const QString path = QDir(g_dir).filePath(QStringLiteral("size.db"));
  for (auto _ : state) {
    state.PauseTiming();
    QFile::remove(path);
    ResultStore store;
    if (!store.open(path, kStartUtcMs).isWritable()) return state.SkipWithError("cannot open");
    const qint64 empty = FileBytes(path);
    state.ResumeTiming();
    if (!Fill(store, 0, kSizeRows, 3600)) return state.SkipWithError("fill failed");
    state.PauseTiming();
    const double perResult = double(FileBytes(path) - empty) / kSizeRows;
    g_figures["bytes per result"] = perResult;
    g_notes["bytes per result"] = BytesByObject(path, kSizeRows);
    state.counters["bytes/result"] = perResult;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kSizeRows);
}
BENCHMARK(BM_BytesPerResult)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening the second day of the 200,000 results into memory, as the program
// does to show a day in its table.
void BM_LoadOneDay(benchmark::State& state) {
  const QString path = QDir(g_dir).filePath(QStringLiteral("size.db"));
  ResultStore store;
  if (!store.open(path, kStartUtcMs).isWritable()) return state.SkipWithError("cannot open");
  if (store.lastCommittedSeq() < 2 * kDay && !Fill(store, 0, 2 * kDay, 3600))
    return state.SkipWithError("fill failed");
  const qint64 from = kStartUtcMs + qint64(kDay) * 1000;
  size_t rows = 0;
  for (auto _ : state) {
    const auto day = store.results(from, from + qint64(kDay) * 1000);
    rows = day.size();
    benchmark::DoNotOptimize(day.data());
  }
  if (rows != size_t(kDay)) state.SkipWithError("not a whole day");
  state.SetItemsProcessed(state.iterations() * qint64(rows));
}
BENCHMARK(BM_LoadOneDay)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// The midnight's work: a day of 86,400 results from the database into the
// day's log file, as the program writes it.
void BM_WriteDayLog(benchmark::State& state) {
  const QString path = QDir(g_dir).filePath(QStringLiteral("size.db"));
  ResultStore store;
  if (!store.open(path, kStartUtcMs).isWritable()) return state.SkipWithError("cannot open");
  if (store.lastCommittedSeq() < 2 * kDay && !Fill(store, 0, 2 * kDay, 3600))
    return state.SkipWithError("fill failed");
  const QDate day = QDateTime::fromMSecsSinceEpoch(kStartUtcMs + qint64(kDay) * 1000, QTimeZone(3 * 3600)).date();
  const QString log = QDir(g_dir).filePath(QStringLiteral("day.ask"));
  int rows = 0;
  for (auto _ : state) {
    ResultsLog table;
    table.beginLoad();
    for (const StoredResult& s : store.resultsOnDay(day)) table.append(s.result);
    table.endLoad();
    if (!writeTableFile(table, log)) return state.SkipWithError("cannot write the log");
    rows = table.count();
  }
  if (rows != kDay) state.SkipWithError("not a whole day");
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_WriteDayLog)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// A year (or KORVEX_BENCH_YEAR_DAYS days) of one-second results.
void MeasureYear(int days) {
  QString path = qEnvironmentVariable("KORVEX_BENCH_YEAR_DB");
  if (path.isEmpty()) path = QDir(g_dir).filePath(QStringLiteral("year.db"));
  const qint64 rows = qint64(days) * kDay;
  {
    ResultStore store;
    QElapsedTimer fill;
    fill.start();
    if (!store.open(path, kStartUtcMs).isWritable()) {
      std::printf("year: cannot open %s\n", qPrintable(path));
      return;
    }
    const qint64 have = store.lastCommittedSeq();
    // A file kept from an earlier run: as the program finds it after a reboot.
    if (have >= rows) g_figures["year: open as the program does, file as found, ms"] = double(fill.nsecsElapsed()) / 1e6;
    if (have < rows) {
      std::printf("year: filling %lld results into %s ...\n", rows - have, qPrintable(path));
      std::fflush(stdout);
      if (!Fill(store, have, rows - have, kDay)) {
        std::printf("year: fill failed: %s\n", qPrintable(store.lastError()));
        return;
      }
      g_figures["year: fill, s"] = double(fill.elapsed()) / 1000;
    }
  }
  const qint64 file = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
  g_figures["year: results"] = double(rows);
  g_figures["year: file, GB"] = double(file) / 1e9;
  g_figures["year: bytes per result"] = double(file) / double(rows);
  if (days < 365) g_figures["year: file extrapolated to 365 days, GB"] = double(file) / 1e9 * 365 / days;

  // Load a day from the middle of it: the first time from the disk, then
  // again. Then the whole check a crash brings on.
  QElapsedTimer t;
  t.start();
  ResultStore store;
  if (!store.open(path, kStartUtcMs).isWritable()) return;
  const qint64 from = kStartUtcMs + qint64(days / 2) * kDay * 1000;
  for (const char* pass : {"first", "second"}) {
    t.restart();
    const auto day = store.results(from, from + qint64(kDay) * 1000);
    g_figures[std::string("year: load one day (") + pass + "), ms"] = double(t.nsecsElapsed()) / 1e6;
    if (day.size() != size_t(kDay)) std::printf("year: the day holds %zu results\n", day.size());
  }
  t.restart();
  const auto dayList = store.daysWithResults();
  g_figures["year: list of days, ms"] = double(t.nsecsElapsed()) / 1e6;
  if (dayList.size() != days) std::printf("year: %lld days listed\n", static_cast<long long>(dayList.size()));
  store.close();
  t.restart();
  if (!store.open(path, kStartUtcMs, ResultStore::WhenLocked::Refuse, ResultStore::Check::Everything).isWritable())
    return;
  g_figures["year: open with a whole quick_check, ms"] = double(t.nsecsElapsed()) / 1e6;
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

void PrintSummary(const SummaryReporter& reporter) {
  std::printf("\n== Summary (database in %s, SQLite %s, WAL, synchronous=FULL) ==\n", qPrintable(g_dir),
              sqlite3_libversion());
  if (!g_commitMs.empty())
    std::printf("commit one result: median %.2f ms, 99th percentile %.2f ms, max %.2f ms over %zu (limit 1000)\n",
                Percentile(g_commitMs, 0.5), Percentile(g_commitMs, 0.99),
                *std::max_element(g_commitMs.begin(), g_commitMs.end()), g_commitMs.size());
  if (g_figures.count("bytes per result"))
    std::printf("bytes per result over %d results: %.1f (limit 100; by table and index: %s)\n", kSizeRows,
                g_figures["bytes per result"], g_notes["bytes per result"].c_str());
  if (reporter.ms.count("BM_LoadOneDay"))
    std::printf("load one day (%d results): %.1f ms (limit 300)\n", kDay, reporter.ms.at("BM_LoadOneDay"));
  if (reporter.ms.count("BM_WriteDayLog"))
    std::printf("write a day's log from the database (%d results): %.1f ms\n", kDay, reporter.ms.at("BM_WriteDayLog"));
  for (const auto& [name, value] : g_figures)
    if (name.rfind("year", 0) == 0) std::printf("%s: %.2f\n", name.c_str(), value);
  if (!g_figures.count("year: results")) std::printf("year: not measured (KORVEX_BENCH_YEAR_DAYS=365 does)\n");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  QString base = qEnvironmentVariable("KORVEX_BENCH_DIR");
  if (base.isEmpty()) base = QCoreApplication::applicationDirPath();
  QTemporaryDir dir(QDir(base).filePath(QStringLiteral("result-store-bench-XXXXXX")));
  if (!dir.isValid()) {
    std::fprintf(stderr, "cannot make a folder in %s\n", qPrintable(base));
    return 1;
  }
  g_dir = dir.path();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const int days = qEnvironmentVariableIntValue("KORVEX_BENCH_YEAR_DAYS");
  if (days > 0) MeasureYear(days);
  benchmark::Shutdown();
  PrintSummary(reporter);
  return 0;
}
