// The main window's results at a day's size: 86,400 results, one a second.
//
//   korvex_view_bench [benchmark options]
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise and prints, after the
// benchmarks, a summary of the figures that matter for the window staying
// responsive: full chart redraws with 2- and 1-pixel lines, appending one
// result to a day, and the table's bytes per row, and whether each budget
// holds. Budgets are ratios of figures taken in the same run, the two sides
// measured by turns, in the main thread's CPU time (other programs on the
// machine then change them little).

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "service/session_host.h"
#include "data/results_log.h"
#include "data/value_format.h"
#include "device/serial_backend.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
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

// The day of realistic results, made once: QDateTime's time-zone look-ups
// make each result slow to make.
const std::vector<Result>& realisticDay() {
  static const std::vector<Result> day = [] {
    std::vector<Result> d;
    d.reserve(kDay);
    std::mt19937 rng(1);
    for (int i = 0; i < kDay; ++i) d.push_back(realistic(i, rng));
    return d;
  }();
  return day;
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
    SessionHost::Options options;
    options.threading = SessionHost::Threading::CallerThread;
    host_ = std::make_unique<SessionHost>(options);
    window_ = std::make_unique<MainWindow>(*host_);
    window_->resize(808, 540);
    window_->show();
    QApplication::processEvents();
  }
  ~Program() {
    window_.reset();
    host_.reset();
    setSerialBackendFactory({});
    seams::resetAll();
    seams::resetWidgetSeams();
  }

  MainWindow& window() { return *window_; }
  // The results the window shows.
  ResultsLog& results() { return window_->results(); }
  TrendChart* chart() { return window_->findChild<TrendChart*>(QStringLiteral("Chart1")); }

  // Shows all twelve curves; the rest of the view as the defaults have it
  // unless changed.
  void view(bool view3D, bool log, bool unitFactors) {
    ViewSettings v = host_->settings().view();
    for (ChannelLook& c : v.channels) {
      c.shown = true;
      if (unitFactors) c.factor = 1;
    }
    v.view3D = view3D;
    v.logScale = log;
    host_->settings().setView(v);
  }

  // A day of results, loaded at once as a data file brings them.
  void fillDay(bool noisy) {
    ResultsLog& log = window_->results();
    std::mt19937 rng(1);
    log.beginLoad();
    for (int i = 0; i < kDay; ++i)
      log.appendLoaded(noisy ? noise(rng) : plottedValues(realisticDay()[size_t(i)].values), {});
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
  std::unique_ptr<SessionHost> host_;
  std::unique_ptr<MainWindow> window_;
};

Program* g_program = nullptr;

double elapsed(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// CPU time of the main thread and wall time of one call, in milliseconds.
struct Sample {
  double cpu = 0, wall = 0;
};
template <class F>
Sample measure(F&& f) {
  const double c0 = threadCpuMs();
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return {threadCpuMs() - c0, elapsed(t0)};
}

struct Samples {
  std::vector<double> cpu, wall;
  void add(const Sample& s) {
    cpu.push_back(s.cpu);
    wall.push_back(s.wall);
  }
  static double median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  double cpuMedian() const { return median(cpu); }
  double wallMedian() const { return median(wall); }
};
// Medians of the budgets' figures, by name.
std::map<std::string, Sample> g_budget;
void keep(const std::string& name, const Samples& s) { g_budget[name] = {s.cpuMedian(), s.wallMedian()}; }

// What a plain Qt program does with the same day on an image of the chart's
// size: per pixel column of the plot area the smallest and largest value of
// each curve, mapped to pixels as the chart's value axis maps them, drawn as
// one 2-pixel antialiased segment per column in the curve's colour, on the
// pixels the chart's line of that column covers (the column and the next).
// The data are its own arrays of the drawn values.
class PlainDraw {
 public:
  explicit PlainDraw(TrendChart* c) {
    const int n = c->pointCount();
    for (int ch = 0; ch < kChannelCount; ++ch) {
      if (!c->isShown(ch)) continue;
      Curve curve;
      curve.color = c->series(ch)->color();
      curve.values.resize(size_t(n));
      for (int i = 0; i < n; ++i) curve.values[size_t(i)] = c->series(ch)->value(i) * c->factor(ch);
      curves_.push_back(std::move(curve));
    }
    image_ = QImage(c->size(), QImage::Format_ARGB32_Premultiplied);
    area_ = c->axisRect()->rect();
    xa_ = c->xAxis->coordToPixel(0);
    xb_ = c->xAxis->coordToPixel(1) - xa_;
    log_ = c->yAxis->scaleType() == QCPAxis::stLogarithmic;
    const QCPRange r = c->yAxis->range();
    yLower_ = c->yAxis->coordToPixel(r.lower);
    const double yUpper = c->yAxis->coordToPixel(r.upper);
    logLower_ = std::log(r.lower);
    logScale_ = (yUpper - yLower_) / (std::log(r.upper) - logLower_);
    ya_ = c->yAxis->coordToPixel(0);
    yb_ = c->yAxis->coordToPixel(1) - ya_;
  }

  void draw() {
    image_.fill(Qt::white);
    QPainter p(&image_);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(area_);
    std::vector<QLineF> segments;
    for (const Curve& c : curves_) {
      // The running extremes stay in registers; a column is written out when the next begins.
      segments.clear();
      const int n = int(c.values.size());
      int column = std::numeric_limits<int>::min();
      double lo = 0, hi = 0;
      const auto endColumn = [&] {
        if (column == std::numeric_limits<int>::min()) return;
        const double x = column + 1;
        segments.emplace_back(x, y(lo), x, y(hi));
      };
      for (int i = 0; i < n; ++i) {
        const int k = int(xa_ + xb_ * i);  // pixels right of 0: truncation is the floor
        const double v = c.values[size_t(i)];
        if (k != column) {
          endColumn();
          column = k;
          lo = hi = v;
        } else {
          lo = std::min(lo, v);
          hi = std::max(hi, v);
        }
      }
      endColumn();
      p.setPen(QPen(c.color, 2, Qt::SolidLine, Qt::SquareCap));
      p.drawLines(segments.data(), int(segments.size()));
    }
  }

 private:
  double y(double v) const {
    if (!log_) return ya_ + yb_ * v;
    return v > 0 ? yLower_ + (std::log(v) - logLower_) * logScale_ : yLower_;
  }
  struct Curve {
    QColor color;
    std::vector<double> values;
  };
  std::vector<Curve> curves_;
  QImage image_;
  QRect area_;
  double xa_ = 0, xb_ = 0, ya_ = 0, yb_ = 0, yLower_ = 0, logLower_ = 0, logScale_ = 0;
  bool log_ = false;
};

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
  c->redrawNow();
  Samples samples;
  for (auto _ : state) samples.add(measure([c] { c->redrawNow(); }));
  c->setLineWidth(2);
  const std::string name = std::string(noise ? "noise" : "realistic") + (view3D ? " 3-D " : " flat ") +
                           std::to_string(width) + "px";
  keep(name, samples);
  state.SetLabel(name);
  state.counters["points"] = double(kChannelCount) * c->pointCount();
  state.counters["cpu_ms"] = samples.cpuMedian();
}
BENCHMARK(BM_RedrawDay)
    ->ArgsProduct({{0, 1}, {1, 2}, {1, 0}})
    ->ArgNames({"noise", "px", "3d"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

// The redraw budgets, their sides measured by turns: a full redraw of the
// realistic day, flat, against the plain draw of the same data and against
// the 3-D look (in blocks, as switching the look lays the chart out anew).
// Also a redraw after a zoom, which takes the pixel columns anew.
void BM_RedrawBudget(benchmark::State& state) {
  constexpr int kRounds = 6, kBlock = 8;
  g_program->view(false, true, false);
  g_program->fillDay(false);
  TrendChart* c = g_program->chart();
  c->redrawNow();
  PlainDraw plain(c);
  Samples flat, plainDraw, view3D, zoom;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      g_program->view(false, true, false);
      c->redrawNow();
      for (int k = 0; k < kBlock; ++k) {
        flat.add(measure([c] { c->redrawNow(); }));
        plainDraw.add(measure([&plain] { plain.draw(); }));
      }
      for (int k = 0; k < kBlock; ++k) {
        c->setAxisMinMax(c->xAxis, 0, kDay - 1 - (k % 2) * 300);
        zoom.add(measure([c] { c->redrawNow(); }));
      }
      c->setAxisAutomatic(c->xAxis, true);
      g_program->view(true, true, false);
      c->redrawNow();
      for (int k = 0; k < kBlock; ++k) view3D.add(measure([c] { c->redrawNow(); }));
    }
  }
  keep("budget flat", flat);
  keep("budget plain", plainDraw);
  keep("budget 3-D", view3D);
  keep("budget zoom", zoom);
  state.counters["flat_ms"] = flat.cpuMedian();
  state.counters["plain_ms"] = plainDraw.cpuMedian();
  state.counters["3d_ms"] = view3D.cpuMedian();
  state.counters["zoom_ms"] = zoom.cpuMedian();
}
BENCHMARK(BM_RedrawBudget)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Appending one result to a day: table row, twelve points, the follow
// window (or the automatic whole-day view) and the redraw, as the poll cycle
// does it, with the event loop run until the chart has been drawn. The two
// views by turns, in blocks, the first append after each switch left out.
void BM_AppendToADay(benchmark::State& state) {
  constexpr int kRounds = 6, kBlock = 80;
  g_program->view(true, true, false);
  g_program->fillDay(false);
  int replots = 0;
  auto connection = QObject::connect(g_program->chart(), &QCustomPlot::afterReplot, [&] { ++replots; });
  std::mt19937 rng(2);
  int i = kDay;
  Samples following, wholeDay;
  const auto appendOne = [&](Samples* into) {
    const Result r = realistic(i++, rng);
    const int before = replots;
    const Sample s = measure([&] {
      g_program->results().append(r);
      Program::waitForReplot(before, replots);
    });
    if (into) into->add(s);
  };
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      for (const bool follow : {true, false}) {
        if (follow)
          g_program->window().onFollowClicked();
        else
          g_program->window().onResetZoomClicked();
        appendOne(nullptr);
        for (int k = 0; k < kBlock; ++k) appendOne(follow ? &following : &wholeDay);
      }
    }
  }
  QObject::disconnect(connection);
  const auto mean = [](const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? -1 : sum / double(v.size());
  };
  // Means, so that any occasional full redraw counts.
  g_budget["append following"] = {mean(following.cpu), mean(following.wall)};
  g_budget["append whole day"] = {mean(wholeDay.cpu), mean(wholeDay.wall)};
  g_budget["append whole day, slowest"] = {*std::max_element(wholeDay.cpu.begin(), wholeDay.cpu.end()),
                                           *std::max_element(wholeDay.wall.begin(), wholeDay.wall.end())};
  state.counters["following_ms"] = mean(following.cpu);
  state.counters["whole_day_ms"] = mean(wholeDay.cpu);
  state.counters["rows"] = g_program->results().count();
}
BENCHMARK(BM_AppendToADay)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------------------
// The table alone: bytes per row, and appending at row 10 and at row 1,000,000.

void BM_TableDayMemory(benchmark::State& state) {
  size_t logBytes = 0;
  double heapPerRow = 0;
  for (auto _ : state) {
    const size_t heapBefore = mallinfo2().uordblks;
    {
      auto log = std::make_unique<ResultsLog>();
      ResultsTableModel model(*log);
      QTableView view;
      view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
      view.verticalHeader()->setDefaultSectionSize(20);
      view.setModel(&model);
      for (const Result& r : realisticDay()) log->append(r);
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
  const auto cpu = [](const std::string& k) { return g_budget.count(k) ? g_budget[k].cpu : -1.0; };
  const auto wall = [](const std::string& k) { return g_budget.count(k) ? g_budget[k].wall : -1.0; };
  const auto verdict = [](bool measured, bool ok) { return !measured ? "n/a" : ok ? "PASS" : "FAIL"; };
  const auto ratioLine = [&](const char* what, const std::string& a, const std::string& b, double limit) {
    const double x = cpu(a), y = cpu(b);
    const bool measured = x > 0 && y > 0;
    const double ratio = measured ? x / y : 0.0;
    std::printf("%-46s %7.2f / %7.2f ms = %5.2f (limit %.1f)  %s\n", what, x, y, ratio, limit,
                verdict(measured, ratio <= limit));
  };
  const auto limitLine = [&](const std::string& what, double value, double limit) {
    std::printf("%-46s %7.2f ms (limit %.0f)  %s\n", what.c_str(), value, limit,
                verdict(value > 0, value <= limit));
  };
  const auto both = [&](const std::string& k) {
    static char text[64];
    std::snprintf(text, sizeof text, "%.2f (%.2f)", cpu(k), wall(k));
    return std::string(text);
  };

  std::printf("\n== Summary (12 curves x %d points, window 808 x 540) ==\n", kDay);
  std::printf("(CPU ms of the main thread, wall ms in brackets)\n");
  for (const char* view : {" 3-D ", " flat "}) {
    for (const char* kind : {"realistic", "noise"}) {
      const std::string k = kind + std::string(view);
      std::printf("redraw,%-6s %-9s data: 2 px %s ms, 1 px %s ms\n", view, kind, both(k + "2px").c_str(),
                  both(k + "1px").c_str());
    }
  }
  std::printf("full redraw, realistic 2 px: flat %s ms, 3-D %s ms\n", both("budget flat").c_str(),
              both("budget 3-D").c_str());
  std::printf("plain min/max draw of the same day: %s ms\n", both("budget plain").c_str());
  std::printf("redraw after a zoom (pixel columns taken anew), flat: %s ms\n", both("budget zoom").c_str());
  std::printf("append one result to a day, following: %s ms\n", both("append following").c_str());
  std::printf("append one result to a day, whole day in view: %s ms, slowest %s ms\n",
              both("append whole day").c_str(), both("append whole day, slowest").c_str());
  std::printf("table append, model alone: at row 10 %.4f ms, at row 1000000 %.4f ms\n", ms("model, rows 10"),
              ms("model, rows 1000000"));
  std::printf("table append, model and view: at row 10 %.3f ms, at row 1000000 %.3f ms\n",
              ms("model and view, rows 10"), ms("model and view, rows 1000000"));

  std::printf("\n== Budgets (ratios in CPU time of the same run) ==\n");
  ratioLine("append, whole day in view / following", "append whole day", "append following", 2);
  ratioLine("full redraw flat 2 px / plain min/max draw", "budget flat", "budget plain", 1.3);
  ratioLine("full redraw 3-D / flat", "budget 3-D", "budget flat", 1.1);
  ratioLine("redraw 2 px / 1 px, flat", "realistic flat 2px", "realistic flat 1px", 3);
  ratioLine("redraw 2 px / 1 px, 3-D", "realistic 3-D 2px", "realistic 3-D 1px", 3);
  limitLine("append while following (wall)", wall("append following"), 20);
  for (const char* view : {"noise 3-D 2px", "noise flat 2px"})
    limitLine(std::string("redraw, full-height ") + view + " (wall)", wall(view), 1000);
  for (const auto& [name, value] : g_figures) {
    const bool bytes = name.find("bytes") != std::string::npos;
    std::printf("%-46s %7.1f%s  %s\n", name.c_str(), value, bytes ? " (limit 200)" : "",
                bytes ? verdict(value > 0, value <= 200) : "");
  }
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
