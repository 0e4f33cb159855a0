// The longest gap between two polls of the measuring session while the
// operator's window is busy or held: the whole window program (its session
// in a thread of its own) against the analyzer simulator, a continuous
// measurement with a result every second, a poll every second, and a
// results database of DAYS whole days of one-second results (86,400 a day).
// Each phase measures, on the session's thread, the longest gap between two
// polls (PollWatch) and, on the window's thread, the longest time between
// two turns of its event loop (a "frame"); a gap is compared with its
// budget of 1.2 s in the same run. Exits non-zero when a budget is missed.
//
//   build/bin/korvex_poll_gap [--days N] [--box-seconds S] [--root DIR]
//
//   --days N         days in the database, today included (default 30, or
//                    KORVEX_BENCH_YEAR_DAYS; 365 is a year: 2.9 GB, a minute to fill)
//   --box-seconds S  how long the message box stays open (default 60)
//   --root DIR       where the program's directory is made (default /tmp)
//
// Under Xvfb (xvfb-run -a ...) the boxes and dialogs are real windows; with
// QT_QPA_PLATFORM=offscreen they are the same widgets, undrawn.
//
// Phases: a message box open S seconds; a file dialog open 10 s; the
// emission report of every day of the database; a day of history opened;
// the change of day, whose log is written from the database.

#include <QApplication>
#include <QDateEdit>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "app/main_window.h"
#include "data/result_store.h"
#include "platform/seams.h"
#include "platform/timer.h"
#include "storage/table_files.h"
#include "support/sim_process.h"
#include "support/test_settings.h"
#include "ui/widget_seams.h"

#ifndef KORVEX_SIM_PATH
#define KORVEX_SIM_PATH ""
#endif

namespace {

constexpr int64_t kBudgetMs = 1200;
std::atomic<qint64> g_clockOffsetMs{0};

int argument(const QStringList& args, const QString& name, int fallback) {
  const int at = args.indexOf(name);
  return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

// Runs the event loop until `done` or `ms` have passed; false on the latter.
bool spinUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Typical readings of a gas boiler, wandering over the day.
Result reading(qint64 utcMs, int32_t offset, std::mt19937& rng) {
  constexpr double kTypical[kChannelCount] = {180, 3.5, 50, 40, 5, 2, 1, 9.8, 66, 7.5, 1.2, 20};
  std::normal_distribution<double> noise(0, 0.03);
  Result r;
  r.utcMs = utcMs;
  r.utcOffset = offset;
  r.mode = WorkMode::Continuous;
  const double phase = 2 * M_PI * double(utcMs % 86400000) / 86400000.0;
  for (int ch = 0; ch < kChannelCount; ++ch)
    r.values[size_t(ch)] = std::round(kTypical[ch] * (1 + 0.2 * std::sin(phase * (ch + 1) + ch) + noise(rng)) * 100) / 100;
  return r;
}

// `days` whole days of one-second results ending with today.
bool fillDatabase(const QString& path, int days) {
  ResultStore::setDurableForTesting(false);
  ResultStore store;
  if (!store.open(path, 0, ResultStore::WhenLocked::Refuse).isWritable()) return false;
  std::mt19937 rng(1);
  const QDate today = QDate::currentDate();
  std::vector<Result> batch;
  batch.reserve(3600);
  QElapsedTimer took;
  took.start();
  for (QDate d = today.addDays(1 - days); d <= today; d = d.addDays(1)) {
    const QDateTime midnight(d, QTime(0, 0));
    const qint64 from = midnight.toMSecsSinceEpoch();
    const int32_t offset = midnight.offsetFromUtc();
    for (int s = 0; s < 86400; ++s) {
      batch.push_back(reading(from + qint64(s) * 1000, offset, rng));
      if (batch.size() == 3600) {
        if (store.appendBatch(batch).state != ResultStore::AppendState::Committed) return false;
        batch.clear();
      }
    }
  }
  store.close();
  ResultStore::setDurableForTesting(true);
  std::printf("database: %d days, %lld results, filled in %.0f s\n", days, qint64(days) * 86400,
              double(took.elapsed()) / 1000);
  return true;
}

struct Figures {
  const char* phase;
  int64_t gapMs;
  int64_t frameMs;
  int64_t phaseMs;
  int64_t polls;
  int64_t rssKib;  // the program's resident memory at the phase's end
  int64_t peakKib;  // its highest so far
};

// A line "<field>   <n> kB" of /proc/self/status; 0 where there is none.
int64_t statusKib(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(field)) return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
  return 0;
}

// The longest time between two turns of the window's event loop, in
// milliseconds, while the meter runs.
class FrameMeter : public QObject {
 public:
  FrameMeter() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] {
      const qint64 now = clock_.elapsed();
      longest_ = std::max(longest_, now - last_);
      last_ = now;
    });
  }
  void start() {
    longest_ = 0;
    clock_.start();
    last_ = 0;
    timer_.start();
  }
  int64_t stop() {
    timer_.stop();
    return std::max<int64_t>(longest_, clock_.elapsed() - last_);
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 longest_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  const int envDays = qEnvironmentVariableIntValue("KORVEX_BENCH_YEAR_DAYS");
  const int days = std::max(2, argument(args, QStringLiteral("--days"), envDays > 0 ? envDays : 30));
  const int boxSeconds = argument(args, QStringLiteral("--box-seconds"), 60);
  const QString rootDir = args.indexOf(QStringLiteral("--root")) >= 0
                              ? args[args.indexOf(QStringLiteral("--root")) + 1]
                              : QDir::tempPath();
  QTemporaryDir root(QDir(rootDir).filePath(QStringLiteral("korvex-gap-XXXXXX")));
  if (!root.isValid()) return 2;
  const QDir dir(root.path());
  seams::setExecutablePath(dir.filePath(QStringLiteral("korvex")));
  seams::setClock([] { return QDateTime::currentDateTime().addMSecs(g_clockOffsetMs.load()); });

  SimProcess sim(QStringLiteral(KORVEX_SIM_PATH));
  if (!sim.start({QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--min-replies"), QStringLiteral("1")})) {
    std::fprintf(stderr, "the simulator did not start: %s\n", qPrintable(sim.errorOutput()));
    return 2;
  }
  if (!test_settings::writeForResultsEverySecond(sim.portPath()) ||
      !fillDatabase(dir.filePath(QStringLiteral("korvex.db")), days))
    return 2;

  // The greeting box is left out; the history dialog is answered; every
  // other dialog runs as it does for the operator.
  QDate historyDay = QDate::currentDate().addDays(-1);
  seams::setModalHandler([&historyDay](QDialog* d) {
    if (d->objectName() == QLatin1String("AboutBox")) return int(QDialog::Rejected);
    if (d->objectName() == QLatin1String("FormHistory")) {
      d->findChild<QDateEdit*>(QStringLiteral("DateFrom"))->setDate(historyDay);
      d->findChild<QDateEdit*>(QStringLiteral("DateTo"))->setDate(historyDay);
      d->accept();
      return d->result();
    }
    return d->exec();
  });

  SessionHost::Options options;
  options.threading = SessionHost::Threading::OwnThread;
  options.mode = ModeRequest::Continuous;
  options.modeGiven = true;
  SessionHost host(options);
  MainWindow window(host);
  window.show();
  if (!spinUntil([&] { return host.pollWatch().ticks() >= 8 && window.results().count() > 86400; }, 120000)) {
    std::fprintf(stderr, "the program did not start measuring\n");
    return 2;
  }

  FrameMeter frames;
  std::vector<Figures> table;
  const auto phase = [&](const char* name, const std::function<void()>& run) {
    // The gap counts from the first poll after the phase began to the first
    // one after it ended.
    host.pollWatch().restartLongest();
    const int64_t before = host.pollWatch().ticks();
    spinUntil([&] { return host.pollWatch().ticks() > before; }, 5000);
    const int64_t first = host.pollWatch().ticks();
    QElapsedTimer took;
    took.start();
    frames.start();
    run();
    const int64_t frame = frames.stop();
    const int64_t ms = took.elapsed();
    const int64_t after = host.pollWatch().ticks();
    spinUntil([&] { return host.pollWatch().ticks() > after; }, 5000);
    table.push_back({name, host.pollWatch().longestGapMs(), frame, ms, host.pollWatch().ticks() - first,
                     statusKib("VmRSS:"), statusKib("VmHWM:")});
    std::printf("%-36s done\n", name);
    std::fflush(stdout);
  };
  // Closes the modal dialog open then.
  const auto closeModalAfter = [](int ms) {
    QTimer::singleShot(ms, [] {
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->done(QDialog::Rejected);
    });
  };

  phase("nothing (for comparison), 10 s", [] { spinUntil([] { return false; }, 10000); });
  phase("a message box open", [&] {
    closeModalAfter(boxSeconds * 1000);
    seams::warningBox(&window, QStringLiteral(u"Ошибка записи данных!\r\nЗакройте лишние приложения или перезагрузите компьютер!"));
  });
  phase("a file dialog open, 10 s", [&] {
    closeModalAfter(10000);
    seams::getOpenFileName(&window, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"), QStringLiteral("*.kvx"));
  });
  bool reported = false;
  QObject::connect(&host, &SessionHost::reportReady, [&reported] { reported = true; });
  phase("the report of every day", [&] {
    host.computeReport(QDate::currentDate().addDays(1 - days), QDate::currentDate());
    if (!spinUntil([&] { return reported; }, 3600000)) std::fprintf(stderr, "no report within the hour\n");
  });
  phase("a day of history opened", [&] {
    window.onHistoryTriggered();
    if (!spinUntil([&] { return window.showingHistory(); }, 600000)) std::fprintf(stderr, "no history\n");
  });
  window.onLiveTriggered();
  const QString log = dailyLogPath(QDate::currentDate());
  phase("the change of day, its log written", [&] {
    // The clock is set on to two seconds before midnight; the first poll
    // of the next day writes today's log from the database.
    const QDateTime lastSeconds(QDate::currentDate(), QTime(23, 59, 58));
    g_clockOffsetMs = QDateTime::currentDateTime().msecsTo(lastSeconds);
    if (!spinUntil([&] { return QFile::exists(log); }, 30000)) std::fprintf(stderr, "no log written\n");
    const int64_t at = host.pollWatch().ticks();
    spinUntil([&] { return host.pollWatch().ticks() >= at + 2; }, 10000);
  });

  std::printf("\n%d days in the database (%.1f M results), a poll every second, a result every second\n", days,
              days * 86400 / 1e6);
  std::printf(
      "| phase | lasted, s | polls | longest gap between polls, ms | / budget %lld ms | longest frame of the window, ms "
      "| RSS after, MiB (peak) |\n",
      static_cast<long long>(kBudgetMs));
  std::printf("|---|---|---|---|---|---|---|\n");
  bool missed = false;
  for (const Figures& f : table) {
    const double ratio = double(f.gapMs) / double(kBudgetMs);
    missed = missed || f.gapMs > kBudgetMs;
    std::printf("| %s | %.1f | %lld | %lld | %.2f%s | %lld | %.0f (%.0f) |\n", f.phase, double(f.phaseMs) / 1000,
                static_cast<long long>(f.polls), static_cast<long long>(f.gapMs), ratio,
                f.gapMs > kBudgetMs ? " MISSED" : "", static_cast<long long>(f.frameMs), double(f.rssKib) / 1024,
                double(f.peakKib) / 1024);
  }
  host.stop();
  sim.stop();
  return missed ? 1 : 0;
}
