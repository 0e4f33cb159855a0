#include "storage/table_files.h"

#include "storage/atomic_file.h"
#include "storage/text_codec.h"
#include "view/results_table.h"
#include "view/trend_chart.h"

std::optional<QByteArray> TableFileBytes(const ResultsTable& table, QString* error) {
  QByteArray utf8;
  for (int r = 0; r < table.RowCount(); ++r) {
    const QStringList cells = table.Row(r);
    for (const QString& cell : cells) {
      utf8 += cell.toUtf8();
      utf8 += '\t';
    }
    utf8 += "\r\n";
  }
  auto bytes = cp1251::Encode(QString::fromUtf8(utf8));
  if (!bytes && error) *error = QStringLiteral("text without a Windows-1251 form");
  return bytes;
}

bool WriteTableFile(const ResultsTable& table, const QString& path, QString* error) {
  const auto bytes = TableFileBytes(table, error);
  return bytes && WriteFileAtomically(path, *bytes, error);
}

double StrToValue(const QString&, bool* ok) {
  if (ok) *ok = false;
  return 0;
}

TableLoadResult LoadTableFile(const QString&, ResultsTable&, TrendChart&) {
  return {false, 0};
}
