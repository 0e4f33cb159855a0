// The results database at the program's pace and size: committing one result
// as it is taken (against the disk's own wait for a write of the same size),
// the bytes a result costs on disk, opening a day of 86,400 results into the
// table and writing a day's log from it, each against the same in a file of
// the previous layout (schema version 2, read as the program reads such a
// file), measured in the same run.
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
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_dir.h"
#include "data/result_store.h"
#include "data/results_log.h"
#include "device/register_map.h"
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

// A gas boiler's day as the analyzer reports it: the registers decoded as
// the program decodes them (O2 in hundredths, temperatures signed and below
// zero on a cold night, gases in whole ppm, now and then a code: CO
// overloaded at a burner restart, O2 failing for a moment), the derived
// channels computed from the fuel row.
Result Realistic(qint64 i, std::mt19937& rng) {
  std::normal_distribution<double> n(0, 1);
  const double t = double(i % kDay);
  Result r;
  r.utcMs = kStartUtcMs + i * 1000;
  r.utcOffset = 3 * 3600;
  r.mode = WorkMode::Continuous;
  r.fuelIndex = 0;
  r.address = 1;
  auto& v = r.values;
  v[channel::Tg] = std::round(180 + 15 * std::sin(2 * kPi * t / 7200) + 5 * std::sin(2 * kPi * t / 600) + n(rng));
  v[channel::Ta] = std::round(-2 + 6 * std::sin(2 * kPi * t / kDay) + 0.4 * n(rng));
  v[channel::O2] = i % 20000 == 11 ? kCodeError / 100.0
                                   : std::round(600 + 120 * std::sin(2 * kPi * t / 3600) + 10 * n(rng)) / 100.0;
  const bool restart = (i % 2700) < 40;
  v[channel::CO] = restart && i % 2700 < 3 ? kCodeOverload
                                           : std::max(0.0, std::round(40 + 25 * std::sin(2 * kPi * t / 1800) +
                                                                      4 * n(rng) + (restart ? 400 : 0)));
  v[channel::NO] = std::round(120 + 10 * std::sin(2 * kPi * t / 5400) + 2 * n(rng));
  v[channel::NO2] = std::max(0.0, std::round(3 + 0.6 * n(rng)));
  v[channel::SO2] = std::max(0.0, std::round(2 + n(rng)));
  v[channel::H2S] = i % 40000 == 7 ? kCodeNoValue : 0;
  static const FuelTable kFuels = builtInFuelTable();
  deriveChannels(v, kFuels[r.fuelIndex]);
  r.faultBits = (i % 50000) < 30 ? 0x0004 : 0;
  r.status = (i % 50000) < 30 ? ResultStatus::Fault : ResultStatus::Valid;
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

// What a commit waits for at least: the disk taking one log page (4096
// bytes and its frame header) and reporting it safe, as SQLite writes a
// commit into the log space reserved at opening: written in place after the
// page before, in a file of the reserve's size, then fdatasync().
class FsyncBaseline {
 public:
  explicit FsyncBaseline(const QString& path) {
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd_ < 0) return;
    const std::vector<char> zeros(kSize, '\0');
    if (::pwrite(fd_, zeros.data(), zeros.size(), 0) != ssize_t(zeros.size()) || ::fsync(fd_) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FsyncBaseline() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // One page written and waited for; false when the disk failed.
  bool write() {
    static const std::vector<char> page(kFrame, '\x5a');
    if (offset_ + kFrame > kSize) offset_ = 32;
    const bool written = ::pwrite(fd_, page.data(), page.size(), offset_) == ssize_t(page.size());
    offset_ += kFrame;
    return written && ::fdatasync(fd_) == 0;
  }

 private:
  static constexpr size_t kFrame = 4096 + 24;
  static constexpr size_t kSize = 32 + 1024 * kFrame;
  int fd_ = -1;
  size_t offset_ = 32;
};

std::vector<double> g_fsyncMs;

// One result committed as it is taken, on the real disk, with the
// synchronous level the store uses: every commit waits for the disk. By
// turns with the disk's own wait for a write of a page (FsyncBaseline), in
// blocks, so that both meet the same disk and the same neighbours.
void BM_CommitOneResult(benchmark::State& state) {
  constexpr int kBlock = 100;
  const QString path = QDir(g_dir).filePath(QStringLiteral("commit.db"));
  ResultStore store;
  if (!store.open(path, kStartUtcMs).isWritable()) return state.SkipWithError("cannot open");
  FsyncBaseline baseline(QDir(g_dir).filePath(QStringLiteral("fsync.bin")));
  if (!baseline.ok()) return state.SkipWithError("cannot make the baseline's file");
  std::mt19937 rng(1);
  qint64 i = 0;
  g_commitMs.clear();
  g_fsyncMs.clear();
  const auto ms = [](auto from) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
  };
  for (auto _ : state) {
    if (i % kBlock == 0) {
      state.PauseTiming();
      for (int k = 0; k < kBlock; ++k) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!baseline.write()) return state.SkipWithError("the baseline's write failed");
        g_fsyncMs.push_back(ms(t0));
      }
      state.ResumeTiming();
    }
    const Result r = Realistic(i++, rng);
    const auto t0 = std::chrono::steady_clock::now();
    const auto out = store.append(r);
    g_commitMs.push_back(ms(t0));
    if (out.state != ResultStore::AppendState::Committed) return state.SkipWithError("commit failed");
  }
}
BENCHMARK(BM_CommitOneResult)->Iterations(3000)->Unit(benchmark::kMillisecond)->UseRealTime();

bool FillVersion2(const QString& path, qint64 count) {
  std::mt19937 rng(1);
  std::vector<Result> rows;
  rows.reserve(size_t(count));
  for (qint64 i = 0; i < count; ++i) rows.push_back(Realistic(i, rng));
  QString error;
  if (ResultStore::writeVersion2File(path, rows, &error)) return true;
  std::fprintf(stderr, "cannot write a version 2 file: %s\n", qPrintable(error));
  return false;
}

// Bytes a result costs: the file's pages over 200,000 results of the program's
// usual kind, written a day's hour at a time; and the same results in a file
// of the previous layout.
void BM_BytesPerResult(benchmark::State& state) {
  const QString path = QDir(g_dir).filePath(QStringLiteral("size.db"));
  const QString old = QDir(g_dir).filePath(QStringLiteral("size-v2.db"));
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
    QFile::remove(old);
    if (!FillVersion2(old, 0)) return state.SkipWithError("cannot write the old layout");
    const qint64 oldEmpty = FileBytes(old);
    QFile::remove(old);
    if (!FillVersion2(old, kSizeRows)) return state.SkipWithError("cannot write the old layout");
    g_figures["bytes per result, version 2"] = double(FileBytes(old) - oldEmpty) / kSizeRows;
    g_notes["bytes per result, version 2"] = BytesByObject(old, kSizeRows);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kSizeRows);
}
BENCHMARK(BM_BytesPerResult)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Two days of results, in this layout or (old) in one of version 2 that
// the store opened, and so moved aside as it is.
QString TwoDays(bool old) {
  const QString path = QDir(g_dir).filePath(old ? QStringLiteral("days-v2.db") : QStringLiteral("days.db"));
  if (QFileInfo::exists(path)) return path;
  if (old) {
    if (!FillVersion2(path, 2 * kDay)) return {};
  } else {
    ResultStore store;
    if (!store.open(path, kStartUtcMs).isWritable() || !Fill(store, 0, 2 * kDay, 3600)) return {};
  }
  ResultStore opened;
  return opened.open(path, kStartUtcMs).isWritable() ? path : QString();
}

// Opening the second day of the results into memory, as the program does to
// show a day in its table: arg 0 this layout, 1 the previous one. By turns.
void BM_LoadOneDay(benchmark::State& state) {
  const QString path = TwoDays(state.range(0) == 1);
  ResultStore store;
  if (path.isEmpty() || !store.open(path, kStartUtcMs).isWritable()) return state.SkipWithError("cannot open");
  const qint64 from = kStartUtcMs + qint64(kDay) * 1000;
  size_t rows = 0;
  for (auto _ : state) {
    ResultsLog table;
    table.beginLoad();
    store.forEachResult(from, from + qint64(kDay) * 1000, [&table](const StoredResult& s) { table.append(s.result); });
    table.endLoad();
    rows = size_t(table.count());
  }
  if (rows != size_t(kDay)) state.SkipWithError("not a whole day");
  state.SetItemsProcessed(state.iterations() * qint64(rows));
}
BENCHMARK(BM_LoadOneDay)->Arg(0)->Arg(1)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// The midnight's work: a day of 86,400 results from the database into the
// day's log file, as the program writes it. Arg as above.
void BM_WriteDayLog(benchmark::State& state) {
  const QString path = TwoDays(state.range(0) == 1);
  ResultStore store;
  if (path.isEmpty() || !store.open(path, kStartUtcMs).isWritable()) return state.SkipWithError("cannot open");
  const QDate day = QDateTime::fromMSecsSinceEpoch(kStartUtcMs + qint64(kDay) * 1000, QTimeZone(3 * 3600)).date();
  const QString log = QDir(g_dir).filePath(QStringLiteral("day.ask"));
  int rows = 0;
  for (auto _ : state) {
    ResultsLog table;
    table.beginLoad();
    store.forEachResultOnDay(day, [&table](const StoredResult& s) { table.append(s.result); });
    table.endLoad();
    if (!writeTableFile(table, log)) return state.SkipWithError("cannot write the log");
    rows = table.count();
  }
  if (rows != kDay) state.SkipWithError("not a whole day");
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_WriteDayLog)->Arg(0)->Arg(1)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

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
      const std::string name = run.benchmark_name();
      // "BM_LoadOneDay/1/min_time..." -> "BM_LoadOneDay/1": the runs of one
      // argument, averaged.
      std::string key = name.substr(0, name.find('/'));
      const size_t slash = name.find('/');
      if (slash != std::string::npos && slash + 1 < name.size() && std::isdigit(uint8_t(name[slash + 1])))
        key += "/" + std::string(1, name[slash + 1]);
      sums[key] += run.GetAdjustedRealTime() * toMs;
      ms[key] = sums[key] / double(++counts[key]);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> ms;
  std::map<std::string, double> sums;
  std::map<std::string, int> counts;
};

void PrintSummary(const SummaryReporter& reporter) {
  std::printf("\n== Summary (database in %s, SQLite %s, WAL, synchronous=FULL) ==\n", qPrintable(g_dir),
              sqlite3_libversion());
  const auto verdict = [](bool ok) { return ok ? "PASS" : "FAIL"; };
  if (!g_commitMs.empty() && !g_fsyncMs.empty()) {
    const double p50 = Percentile(g_commitMs, 0.5), p99 = Percentile(g_commitMs, 0.99);
    const double f50 = Percentile(g_fsyncMs, 0.5), f99 = Percentile(g_fsyncMs, 0.99);
    std::printf("commit one result: median %.2f ms, 99th percentile %.2f ms, max %.2f ms over %zu\n", p50, p99,
                *std::max_element(g_commitMs.begin(), g_commitMs.end()), g_commitMs.size());
    std::printf("the disk's own write of a page and fdatasync, by turns: median %.2f ms, 99th percentile %.2f ms\n",
                f50, f99);
    std::printf("commit median / fsync median = %.2f; commit p99 / fsync p99 = %.2f (limit 2.0)  %s\n", p50 / f50,
                p99 / f99, verdict(p99 <= 2 * f99));
  }
  if (g_figures.count("bytes per result") && g_figures.count("bytes per result, version 2")) {
    const double now = g_figures["bytes per result"], old = g_figures["bytes per result, version 2"];
    std::printf("bytes per result over %d results: %.1f (limit 60; by table and index: %s)\n", kSizeRows, now,
                g_notes["bytes per result"].c_str());
    std::printf("  the same results in the version 2 layout: %.1f (%s); ratio %.2f  %s\n", old,
                g_notes["bytes per result, version 2"].c_str(), now / old, verdict(now <= 60));
  }
  const auto pair = [&](const char* what, const std::string& name) {
    const std::string a = name + "/0", b = name + "/1";
    if (!reporter.ms.count(a) || !reporter.ms.count(b)) return;
    const double now = reporter.ms.at(a), old = reporter.ms.at(b);
    std::printf("%s: %.1f ms; from a version 2 file %.1f ms; ratio %.2f (limit 1.05)  %s\n", what, now, old,
                now / old, verdict(now <= old * 1.05));
  };
  pair("load one day (86400 results)", "BM_LoadOneDay");
  pair("write a day's log from the database (86400 results)", "BM_WriteDayLog");
  for (const auto& [name, value] : g_figures)
    if (name.rfind("year", 0) == 0) std::printf("%s: %.2f\n", name.c_str(), value);
  if (!g_figures.count("year: results")) std::printf("year: not measured (KORVEX_BENCH_YEAR_DAYS=365 does)\n");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::unique_ptr<QTemporaryDir> dir = makeBenchDir("result-store-bench");
  if (!dir) return 1;
  g_dir = dir->path();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const int days = qEnvironmentVariableIntValue("KORVEX_BENCH_YEAR_DAYS");
  if (days > 0) MeasureYear(days);
  benchmark::Shutdown();
  PrintSummary(reporter);
  return 0;
}
