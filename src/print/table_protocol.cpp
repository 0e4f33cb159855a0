#include "print/table_protocol.h"

#include <QPainter>
#include <QPrinter>

#include "view/results_table.h"
#include "view/value_format.h"

QStringList ProtocolLines(const ResultsTable& table, double now) {
  QStringList lines;
  lines << QStringLiteral(u"Потокол замеров KVX от ") + ShortDateText(now) + QLatin1Char(' ') +
               LongTimeText(now);
  static const int kWidths[ResultsTable::kColumnCount] = {10, 14, 10, 8, 8, 8, 8, 8,
                                                          8,  8,  8,  8, 8, 8, 8, 8};
  for (int r = 0; r < table.RowCount(); ++r) {
    const QStringList cells = table.Row(r);
    QString line;
    for (int c = 0; c < ResultsTable::kColumnCount; ++c) line += cells[c].rightJustified(kWidths[c]);
    lines << line;
  }
  return lines;
}

bool PrintLines(QPrinter&, const QStringList&, const QFont&, QString* error) {
  if (error) *error = QStringLiteral("not built yet");
  return false;
}
