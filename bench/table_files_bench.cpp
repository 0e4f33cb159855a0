// Speed of the data files at a day's size: 86,400 one-second results
// (about 8 MB) written by the program from its results, opened into table and
// chart, and compared with merely reading the same bytes and splitting them
// at TABs and line ends.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QTableView>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <map>
#include <string_view>
#include <vector>

#include "data/results_log.h"
#include "platform/seams.h"
#include "storage/table_files.h"
#include "view/results_table_model.h"
#include "view/trend_chart.h"

namespace {

constexpr int kRows = 86400;

QTemporaryDir* g_dir = nullptr;
QString g_file;
ResultsLog* g_day = nullptr;  // the day's results as the program holds them

// A day of plausible results, one a second, with the odd special code.
void buildDay() {
  using namespace channel;
  g_day = new ResultsLog;
  const QDateTime start(QDate(2026, 12, 6), QTime(0, 0, 0));
  uint32_t seed = 12345;
  auto next = [&seed](int range) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 8) % uint32_t(range));
  };
  for (int i = 0; i < kRows; ++i) {
    Result r;
    const QDateTime at = start.addSecs(i);
    r.utcMs = at.toMSecsSinceEpoch();
    r.utcOffset = at.offsetFromUtc();
    r.values[Tg] = 150 + next(60);
    r.values[Ta] = 18 + next(8);
    r.values[O2] = (400 + next(300)) / 100.0;
    r.values[CO] = i % 5000 == 17 ? 32768 : next(400);
    r.values[NO] = 80 + next(60);
    r.values[NO2] = next(10);
    r.values[SO2] = next(5);
    r.values[H2S] = 0;
    r.values[CO2] = 9 + next(300) / 100.0;
    r.values[NOx] = r.values[NO] * 1.05 + r.values[NO2];
    r.values[Qa] = 6 + next(500) / 100.0;
    r.values[Alf] = 1.2 + next(40) / 100.0;
    r.faultBits = i % 7000 == 3 ? 0x12 : 0;
    g_day->append(r);
  }
  g_file = g_dir->filePath(QStringLiteral("day.kvx"));
  if (!writeTableFile(*g_day, g_file)) std::fprintf(stderr, "cannot write %s\n", qPrintable(g_file));
}

// The baseline: read the bytes and split them into fields and lines.
void BM_ReadAndSplit(benchmark::State& state) {
  for (auto _ : state) {
    QFile f(g_file);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();
    std::vector<std::string_view> fields;
    size_t lines = 0, total = 0;
    const char* start = bytes.constData();
    const char* const end = start + bytes.size();
    for (const char* p = start; p < end; ++p) {
      if (*p == '\t') {
        fields.emplace_back(start, size_t(p - start));
        start = p + 1;
      } else if (*p == '\n') {
        ++lines;
        total += fields.size();
        fields.clear();
        start = p + 1;
      }
    }
    benchmark::DoNotOptimize(lines);
    benchmark::DoNotOptimize(total);
    if (lines != size_t(kRows) + 1) state.SkipWithError("wrong line count");
  }
  state.SetBytesProcessed(state.iterations() * QFile(g_file).size());
}

// "Открыть" as the main window does it: clear, hide the grid, load, show the
// grid, rescale the chart. With `paint`, the first paint of table and chart
// that follows in the event loop is timed too.
void openDataFile(benchmark::State& state, bool paint) {
  QWidget window;
  auto* layout = new QHBoxLayout(&window);
  ResultsLog log;
  auto* chart = new TrendChart(&window);
  chart->setResultsLog(&log);
  ResultsTableModel model(log);
  auto* grid = new QTableView(&window);
  grid->setModel(&model);
  layout->addWidget(chart, 1);
  layout->addWidget(grid);
  window.resize(1000, 600);
  window.show();
  QApplication::processEvents();
  int replots = 0;
  QObject::connect(chart, &QCustomPlot::afterReplot, [&replots] { ++replots; });

  for (auto _ : state) {
    log.clear();
    grid->setVisible(false);
    const TableLoadResult r = loadTableFile(g_file, log);
    grid->setVisible(true);
    chart->refresh();
    if (!paint) state.PauseTiming();
    QApplication::processEvents();  // the queued replot and the grid's paint
    if (!paint) state.ResumeTiming();
    if (!r.ok || r.pointsLoaded != kRows) state.SkipWithError("load failed");
  }
  state.counters["replots"] = benchmark::Counter(replots, benchmark::Counter::kAvgIterations);
  state.counters["rows"] = log.count();
  state.counters["log_MB"] = double(log.memoryUsage()) / 1e6;
}

void BM_OpenDataFile(benchmark::State& state) { openDataFile(state, false); }
void BM_OpenDataFileAndPaint(benchmark::State& state) { openDataFile(state, true); }

// The load alone, without the views.
void BM_LoadTableFile(benchmark::State& state) {
  ResultsLog log;
  for (auto _ : state) {
    const TableLoadResult r = loadTableFile(g_file, log);
    if (!r.ok) state.SkipWithError("load failed");
  }
}

// Writing a day of taken results: every cell made from its numbers, then
// converted to Windows-1251 by Qt's converter.
void BM_WriteTableFile(benchmark::State& state) {
  const QString path = g_dir->filePath(QStringLiteral("out.kvx"));
  for (auto _ : state) {
    if (!writeTableFile(*g_day, path)) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * QFile(path).size());
}

void BM_TableFileBytes(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(tableFileBytes(*g_day));
}

// Writing the same day back after it was opened: the loaded rows' bytes as read.
void BM_RewriteOpenedFile(benchmark::State& state) {
  ResultsLog log;
  loadTableFile(g_file, log);
  for (auto _ : state) benchmark::DoNotOptimize(tableFileBytes(log));
}

BENCHMARK(BM_ReadAndSplit)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_OpenDataFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_OpenDataFileAndPaint)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LoadTableFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_WriteTableFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_TableFileBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_RewriteOpenedFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// Keeps the mean real and CPU times of every run (ms) for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  struct Times {
    double real, cpu;
  };
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const double toMs = benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                          benchmark::GetTimeUnitMultiplier(run.time_unit);
      std::string name = run.benchmark_name();
      name = name.substr(0, name.find('/'));
      ms[name] = {run.GetAdjustedRealTime() * toMs, run.GetAdjustedCPUTime() * toMs};
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, Times> ms;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  benchmark::Initialize(&argc, argv);
  QTemporaryDir dir;
  g_dir = &dir;
  buildDay();
  std::printf("data file: %d rows, %lld bytes\n", kRows, QFile(g_file).size());

  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const auto& ms = reporter.ms;
  if (ms.count("BM_ReadAndSplit") && ms.count("BM_OpenDataFile") && ms.count("BM_OpenDataFileAndPaint") &&
      ms.count("BM_WriteTableFile")) {
    const auto split = ms.at("BM_ReadAndSplit"), open = ms.at("BM_OpenDataFile"),
               painted = ms.at("BM_OpenDataFileAndPaint"), write = ms.at("BM_WriteTableFile");
    std::printf("\n%-44s %8s %8s\n", "", "real ms", "CPU ms");
    std::printf("%-44s %8.1f %8.1f\n", "read and split the bytes (baseline)", split.real, split.cpu);
    std::printf("%-44s %8.1f %8.1f   x%.1f / x%.1f of the baseline\n", "open into table and chart",
                open.real, open.cpu, open.real / split.real, open.cpu / split.cpu);
    std::printf("%-44s %8.1f %8.1f   x%.1f / x%.1f of the baseline\n", "  the same with the first paint",
                painted.real, painted.cpu, painted.real / split.real, painted.cpu / split.cpu);
    std::printf("%-44s %8.1f %8.1f\n", "write a day of taken results", write.real, write.cpu);
    std::printf("limits: open under 1000 ms and within x20 of the baseline; write under 500 ms\n");
  }
  benchmark::Shutdown();
  delete g_day;
  return 0;
}
