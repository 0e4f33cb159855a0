// Prepares a directory for bench/whole_program.sh: the settings files there
// (made by korvex-sim --settings) get a result every second of a continuous
// measurement with no zero setting and no draining first, and the results
// database can be filled with a whole day of results dated today, so that
// the program starts with a full day in its table and chart.
//
//   korvex-bench-dir DIR [--results N] [--days D]
//
// The N results lie evenly from today's local midnight to now, each channel
// a slow wave with noise on it, so every pixel column of the chart holds a
// span of values as a real day does. --days D adds the D - 1 whole days
// before today, a result every second (365: a year, 2.9 GB, minutes to fill).

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "data/result_store.h"
#include "platform/seams.h"
#include "storage/settings_files.h"

namespace {

bool prepareSettings() {
  SettingsFiles files;
  if (!files.load()) {
    std::fprintf(stderr, "korvex-bench-dir: no whole settings files at %s\n", qPrintable(files.settingsPath()));
    return false;
  }
  MeasuringSettings m = files.measuring();
  m.refreshPeriod = 1;
  m.times.zeroSetting = 0;
  m.times.drain = 0;
  files.setMeasuring(m);
  if (!files.save()) {
    std::fprintf(stderr, "korvex-bench-dir: cannot write %s\n", qPrintable(files.settingsPath()));
    return false;
  }
  return true;
}

// Typical readings of a gas boiler, each wandering over the day: `count`
// results from the day's local midnight to `end`.
std::vector<Result> dayOfResults(const QDateTime& end, int count) {
  constexpr double kTypical[kChannelCount] = {180, 3.5, 50, 40, 5, 2, 1, 9.8, 66, 7.5, 1.2, 20};
  const QDateTime& now = end;
  const QDateTime midnight(now.date(), QTime(0, 0));
  const qint64 from = midnight.toMSecsSinceEpoch();
  const qint64 span = std::max<qint64>(now.toMSecsSinceEpoch() - from, 1);
  const int32_t offset = now.offsetFromUtc();
  std::mt19937 random(1);
  std::normal_distribution<double> noise(0, 0.03);
  std::vector<Result> results(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Result& r = results[size_t(i)];
    r.utcMs = from + span * i / count;
    r.utcOffset = offset;
    r.mode = WorkMode::Continuous;
    const double phase = 2 * M_PI * i / count;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const double wave = 1 + 0.2 * std::sin(phase * (ch + 1) + ch);
      r.values[size_t(ch)] = std::round(kTypical[ch] * (wave + noise(random)) * 100) / 100;
    }
  }
  return results;
}

bool fillDatabase(const QString& path, int count, int days) {
  ResultStore::setDurableForTesting(false);  // a day's rows in seconds; the bench reads them back only
  ResultStore store;
  const ResultStore::OpenResult opened =
      store.open(path, seams::currentDateTime().toMSecsSinceEpoch(), ResultStore::WhenLocked::Refuse);
  if (!opened.isWritable()) {
    std::fprintf(stderr, "korvex-bench-dir: %s\n", qPrintable(opened.detail));
    return false;
  }
  const QDate today = seams::currentDateTime().date();
  for (int back = days - 1; back >= 0; --back) {
    const bool isToday = back == 0;
    const QDateTime end = isToday ? seams::currentDateTime() : QDateTime(today.addDays(1 - back), QTime(0, 0));
    const int n = isToday ? count : 86400;
    if (n == 0) continue;
    const ResultStore::AppendOutcome out = store.appendBatch(dayOfResults(end.addMSecs(isToday ? 0 : -1000), n));
    if (out.state != ResultStore::AppendState::Committed) {
      std::fprintf(stderr, "korvex-bench-dir: %s\n", qPrintable(out.error));
      return false;
    }
  }
  store.close();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int results = 0;
  int days = 1;
  bool ok = argc >= 2 && argc % 2 == 0;
  for (int i = 2; ok && i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--results") == 0)
      results = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--days") == 0)
      days = std::atoi(argv[i + 1]);
    else
      ok = false;
  }
  if (!ok || results < 0 || days < 1) {
    std::fprintf(stderr, "usage: %s DIR [--results N] [--days D]\n", argv[0]);
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  seams::setExecutablePath(dir.absoluteFilePath(QStringLiteral("korvex")));
  if (!prepareSettings()) return 1;
  if ((results > 0 || days > 1) && !fillDatabase(dir.absoluteFilePath(QStringLiteral("korvex.db")), results, days))
    return 1;
  return 0;
}
