#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "data/results_log.h"
#include "fuzz/harnesses.h"
#include "platform/seams.h"
#include "storage/table_files.h"

namespace {
#define FUZZ_CHECK(cond)       \
  do {                         \
    if (!(cond)) std::abort(); \
  } while (0)

bool writeBytes(const QString& path, const char* data, qint64 size) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data, size) == size;
}
}  // namespace

int fuzzDataFile(const uint8_t* data, size_t size) {
  ensureFuzzApplication();
  static QTemporaryDir dir;
  static ResultsLog* log = new ResultsLog;
  static ResultsLog* again = new ResultsLog;
  if (!dir.isValid()) return 0;
  // The first byte picks the locale: decimal comma or decimal point.
  const bool comma = size == 0 || (data[0] & 1) == 0;
  seams::setLocale(comma ? QLocale(QLocale::Russian, QLocale::Russia)
                         : QLocale(QLocale::English, QLocale::UnitedStates));
  const QString path = QDir(dir.path()).filePath(QStringLiteral("in.kvx"));
  if (!writeBytes(path, reinterpret_cast<const char*>(data + (size > 0)), qint64(size > 1 ? size - 1 : 0))) return 0;
  const TableLoadResult result = loadTableFile(path, *log);
  FUZZ_CHECK(result.linesLoaded >= 0);
  FUZZ_CHECK(log->count() == result.pointsLoaded);
  FUZZ_CHECK(log->loadedCount() == log->count());
  // What was loaded is written back, and that file reads back to the same bytes.
  const auto bytes = tableFileBytes(*log);
  FUZZ_CHECK(bytes.has_value());
  const QString copy = QDir(dir.path()).filePath(QStringLiteral("copy.kvx"));
  FUZZ_CHECK(writeBytes(copy, bytes->constData(), bytes->size()));
  FUZZ_CHECK(loadTableFile(copy, *again).ok);
  FUZZ_CHECK(tableFileBytes(*again) == bytes);
  seams::resetLocale();
  return 0;
}
