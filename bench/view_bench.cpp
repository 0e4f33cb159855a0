// The main window's results at a day's size: 86,400 results, one a second.
//
//   korvex_view_bench [benchmark options]
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise and prints, after the
// benchmarks, a summary of the figures that matter for the window staying
// responsive: full chart redraws with 2- and 1-pixel lines, appending one
// result to a day, and the table's bytes per row.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "app/main_window.h"
#include "app/session.h"
#include "data/results_log.h"
#include "data/value_format.h"
#include "device/serial_backend.h"
#include "platform/seams.h"
#include "platform/timer.h"
#include "storage/settings_records.h"
#include "view/results_table_model.h"
#include "view/trend_chart.h"

namespace {

constexpr int kDay = 86400;
constexpr double kPi = 3.14159265358979323846;

// Milliseconds per iteration of each benchmark, for the summary.
std::map<std::string, double> g_ms;
std::map<std::string, double> g_figures;

// No analyzer: the port cannot be opened, which the program reports and
// lives with.
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

// A working day of a gas boiler: slow drifts, sensor noise, readings in whole
// ppm, CO peaks when the burner restarts.
Result realistic(int i, std::mt19937& rng) {
  using namespace channel;
  std::normal_distribution<double> n(0, 1);
  const double t = i;
  Result r;
  const QDateTime at = QDateTime(QDate(2026, 12, 6), QTime(0, 0)).addSecs(i);
  r.utcMs = at.toMSecsSinceEpoch();
  r.utcOffset = at.offsetFromUtc();
  ChannelValues& m = r.values;
  m[Tg] = std::round(180 + 15 * std::sin(2 * kPi * t / 7200) + 5 * std::sin(2 * kPi * t / 600) + n(rng));
  m[O2] = std::round((6 + 1.2 * std::sin(2 * kPi * t / 3600) + 0.1 * n(rng)) * 100) / 100;
  const bool restart = (i % 2700) < 40;
  m[CO] = std::max(0.0, std::round(40 + 25 * std::sin(2 * kPi * t / 1800) + 4 * n(rng) + (restart ? 400 : 0)));
  m[NO] = std::round(120 + 10 * std::sin(2 * kPi * t / 5400) + 2 * n(rng));
  m[NO2] = std::max(0.0, std::round(3 + 0.6 * n(rng)));
  m[SO2] = std::max(0.0, std::round(2 + n(rng)));
  m[H2S] = 0;
  m[CO2] = 21 * 0.5 * (21 - m[O2]) / 21;
  m[NOx] = m[NO] + m[NO2];
  m[Alf] = 21 / (21 - m[O2]);
  m[Qa] = 4 + 0.03 * m[Tg] * m[Alf];
  m[Ta] = std::round(20 + 3 * std::sin(2 * kPi * t / kDay));
  return r;
}

// Every curve from the bottom of the chart to its top at every point.
ChannelValues noise(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1000);
  ChannelValues v;
  for (double& x : v) x = u(rng);
  return v;
}

class Program {
 public:
  Program() {
    seams::setExecutablePath(QDir(dir_.path()).filePath(QStringLiteral("korvex")));
    seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
    seams::setMessageHandler([](const seams::MessageRequest& r) {
      return r.buttons == seams::MsgButtons::Ok ? seams::MsgResult::Ok : seams::MsgResult::Yes;
    });
    seams::setBeepHandler([] {});
    seams::setModalHandler([](QDialog*) { return 0; });
    setSerialBackendFactory([] { return std::make_unique<NoPort>(); });
    session_ = std::make_unique<Session>();
    window_ = std::make_unique<MainWindow>(*session_);
    window_->resize(808, 540);
    window_->show();
    QApplication::processEvents();
  }
  ~Program() {
    window_.reset();
    session_.reset();
    setSerialBackendFactory({});
    seams::resetAll();
  }

  MainWindow& window() { return *window_; }
  Session& session() { return *session_; }
  TrendChart* chart() { return window_->findChild<TrendChart*>(QStringLiteral("Chart1")); }

  // Shows all twelve curves; the rest of the view as the defaults have it
  // unless changed.
  void view(bool view3D, bool log, bool unitFactors) {
    for (int i = 0; i < kChannelCount; ++i) {
      programSettings.channelView[i].show = 1;
      if (unitFactors) programSettings.channelView[i].multiplier = 1;
    }
    programSettings.view3D = view3D;
    programSettings.logScale = log;
    window_->applyViewSettings();
  }

  // A day of results, loaded at once as a data file brings them.
  void fillDay(bool noisy) {
    ResultsLog& log = session_->results();
    std::mt19937 rng(1);
    log.beginLoad();
    for (int i = 0; i < kDay; ++i) {
      const Result r = realistic(i, rng);
      log.appendLoaded(noisy ? noise(rng) : plottedValues(r.values), {});
    }
    log.endLoad();
    chart()->redrawNow();
    QApplication::processEvents();
  }

  // Runs the event loop until the chart has drawn itself once more.
  static void waitForReplot(int before, const int& replots) {
    for (int spin = 0; spin < 1000 && replots == before; ++spin)
      QApplication::processEvents(QEventLoop::AllEvents);
  }

 private:
  QTemporaryDir dir_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<MainWindow> window_;
};

Program* g_program = nullptr;

double elapsed(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

// ---------------------------------------------------------------------------
// Full redraw of a day: data kind (0 realistic, 1 noise), line width, 3-D.

void BM_RedrawDay(benchmark::State& state) {
  const bool noise = state.range(0) == 1;
  const int width = int(state.range(1));
  const bool view3D = state.range(2) == 1;
  // Realistic data on the default view (logarithmic, factors); the noise
  // case on a linear axis with every factor 1, so each curve spans it all.
  g_program->view(view3D, !noise, noise);
  g_program->fillDay(noise);
  TrendChart* c = g_program->chart();
  c->setLineWidth(width);
  double total = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    c->redrawNow();
    total += elapsed(t0);
  }
  c->setLineWidth(2);
  const std::string name = std::string(noise ? "noise" : "realistic") + (view3D ? " 3-D " : " flat ") +
                           std::to_string(width) + "px";
  g_ms[name] = total / double(state.iterations());
  state.SetLabel(name);
  state.counters["points"] = double(kChannelCount) * c->pointCount();
}
BENCHMARK(BM_RedrawDay)
    ->ArgsProduct({{0, 1}, {1, 2}, {1, 0}})
    ->ArgNames({"noise", "px", "3d"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

// Appending one result to a day: table row, twelve points, the follow
// window (or the automatic whole-day view) and the redraw, as the poll cycle
// does it, with the event loop run until the chart has been drawn.
void BM_AppendToADay(benchmark::State& state) {
  const bool follow = state.range(0) == 1;
  g_program->view(true, true, false);
  g_program->fillDay(false);
  if (follow)
    g_program->window().onFollowClicked();
  else
    g_program->window().onResetZoomClicked();
  int replots = 0;
  auto connection = QObject::connect(g_program->chart(), &QCustomPlot::afterReplot, [&] { ++replots; });
  std::mt19937 rng(2);
  int i = kDay;
  double total = 0;
  for (auto _ : state) {
    const Result r = realistic(i, rng);
    const int before = replots;
    const auto t0 = std::chrono::steady_clock::now();
    g_program->session().results().append(r);
    Program::waitForReplot(before, replots);
    total += elapsed(t0);
    ++i;
  }
  QObject::disconnect(connection);
  const std::string name = follow ? "append, following" : "append, whole day in view";
  g_ms[name] = total / double(state.iterations());
  state.SetLabel(name);
  state.counters["rows"] = g_program->session().results().count();
}
BENCHMARK(BM_AppendToADay)
    ->Arg(1)
    ->Arg(0)
    ->ArgNames({"follow"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

// ---------------------------------------------------------------------------
// The table alone: bytes per row, and appending at row 10 and at row 1,000,000.

void BM_TableDayMemory(benchmark::State& state) {
  size_t logBytes = 0;
  double heapPerRow = 0;
  for (auto _ : state) {
    std::mt19937 rng(3);
    const size_t heapBefore = mallinfo2().uordblks;
    {
      auto log = std::make_unique<ResultsLog>();
      ResultsTableModel model(*log);
      QTableView view;
      view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
      view.verticalHeader()->setDefaultSectionSize(20);
      view.setModel(&model);
      for (int i = 0; i < kDay; ++i) log->append(realistic(i, rng));
      logBytes = log->memoryUsage();
      heapPerRow = double(mallinfo2().uordblks - heapBefore) / kDay;
      view.setModel(nullptr);
    }
  }
  g_figures["results bytes a row (log)"] = double(logBytes) / kDay;
  g_figures["results bytes a row (log, model and view, heap)"] = heapPerRow;
  state.counters["log_bytes_per_row"] = double(logBytes) / kDay;
  state.counters["heap_bytes_per_row"] = heapPerRow;
  state.counters["day_MB"] = heapPerRow * kDay / 1e6;
}
BENCHMARK(BM_TableDayMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// Appending one result to a log that already holds `rows` results: the log
// alone, or with the window's table (fixed row height, the new row made
// current and scrolled to, the event loop run so it is painted).
void BM_TableAppendAt(benchmark::State& state) {
  const int rows = int(state.range(0));
  const bool withView = state.range(1) == 1;
  std::mt19937 rng(4);
  ResultsLog log;
  ResultsTableModel model(log);
  QTableView view;
  view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view.verticalHeader()->setDefaultSectionSize(20);
  view.resize(800, 85);
  if (withView) {
    view.setModel(&model);
    view.show();
  }
  const Result r = realistic(7, rng);
  log.beginLoad();
  for (int i = 0; i < rows; ++i) log.appendLoaded(r.values, {});
  log.endLoad();
  QApplication::processEvents();
  for (auto _ : state) {
    const int row = log.append(r);
    if (!withView) continue;
    const QModelIndex index = model.index(row, 0);
    view.setCurrentIndex(index);
    view.scrollTo(index);
    QApplication::processEvents();
  }
  state.SetLabel((withView ? "model and view, rows " : "model, rows ") + std::to_string(rows));
}
BENCHMARK(BM_TableAppendAt)
    ->ArgsProduct({{10, 1000000}, {0, 1}})
    ->ArgNames({"rows", "view"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MinTime(0.3);

// Keeps the table-append figures for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.benchmark_name();
      if (name.rfind("BM_TableAppendAt", 0) == 0 && run.iterations > 0)
        g_ms[run.report_label] = run.GetAdjustedRealTime() / 1000.0;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void printSummary() {
  const auto ms = [](const std::string& k) { return g_ms.count(k) ? g_ms[k] : -1.0; };
  std::printf("\n== Summary (12 curves x %d points, window 808 x 540) ==\n", kDay);
  for (const char* view : {" 3-D ", " flat "}) {
    const std::string v = view;
    const double r2 = ms("realistic" + v + "2px"), r1 = ms("realistic" + v + "1px");
    const double n2 = ms("noise" + v + "2px");
    std::printf("redraw,%-6s realistic data: 2 px %7.1f ms, 1 px %7.1f ms, ratio %.2f (limit 3)\n",
                v.c_str(), r2, r1, r1 > 0 ? r2 / r1 : 0);
    std::printf("redraw,%-6s full-height noise, 2 px: %7.1f ms (limit 1000)\n", v.c_str(), n2);
  }
  std::printf("append one result to a day, following:        %6.2f ms (limit 20)\n", ms("append, following"));
  std::printf("append one result to a day, whole day in view: %6.2f ms\n", ms("append, whole day in view"));
  std::printf("table append, model alone: at row 10 %.4f ms, at row 1000000 %.4f ms\n",
              ms("model, rows 10"), ms("model, rows 1000000"));
  std::printf("table append, model and view: at row 10 %.3f ms, at row 1000000 %.3f ms\n",
              ms("model and view, rows 10"), ms("model and view, rows 1000000"));
  for (const auto& [name, value] : g_figures)
    std::printf("%s: %.1f%s\n", name.c_str(), value,
                name.find("bytes") != std::string::npos ? " (limit 200)" : "");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  Timer::setManualForTesting(true);  // no poll cycle: the benchmark drives the window
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  {
    Program program;
    g_program = &program;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    g_program = nullptr;
  }
  benchmark::Shutdown();
  printSummary();
  return 0;
}
