#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "app/platform_seams.h"
#include "fuzz/harnesses.h"
#include "storage/table_files.h"
#include "view/results_table.h"
#include "view/trend_chart.h"

namespace {
#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) std::abort(); \
  } while (0)
}  // namespace

int FuzzDataFile(const uint8_t* data, size_t size) {
  EnsureFuzzApplication();
  static QTemporaryDir dir;
  static ResultsTable* table = new ResultsTable;
  static TrendChart* chart = new TrendChart;
  if (!dir.isValid()) return 0;
  // The first byte picks the locale: decimal comma or decimal point.
  const bool comma = size == 0 || (data[0] & 1) == 0;
  seams::SetLocale(comma ? QLocale(QLocale::Russian, QLocale::Russia)
                         : QLocale(QLocale::English, QLocale::UnitedStates));
  const QString path = QDir(dir.path()).filePath(QStringLiteral("in.kvx"));
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
    if (size > 1) f.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1));
  }
  chart->ClearSeries();
  table->SetRowCount(2);
  table->SetRow(1, {});
  const TableLoadResult result = LoadTableFile(path, *table, *chart);
  FUZZ_CHECK(result.linesLoaded >= 0);
  FUZZ_CHECK(table->RowCount() >= 1);
  FUZZ_CHECK(chart->PointCount() <= table->RowCount());
  for (int c = 1; c < 12; ++c) FUZZ_CHECK(chart->Series[c]->Count() == chart->PointCount());
  // What was loaded can be written back.
  QString error;
  const auto bytes = TableFileBytes(*table, &error);
  (void)bytes;
  seams::ResetLocale();
  return 0;
}
