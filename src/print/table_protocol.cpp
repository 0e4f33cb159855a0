#include "print/table_protocol.h"

#include <QPainter>
#include <QPrinter>

#include "print/printer_setup.h"
#include "view/results_table.h"
#include "view/value_format.h"

QStringList ProtocolLines(const ResultsTable& table, double now) {
  QStringList lines;
  lines.reserve(table.RowCount() + 1);
  lines << QStringLiteral(u"Потокол замеров KVX от ") + ShortDateText(now) + QLatin1Char(' ') +
               LongTimeText(now);
  static const int kWidths[ResultsTable::kColumnCount] = {10, 14, 10, 8, 8, 8, 8, 8,
                                                          8,  8,  8,  8, 8, 8, 8, 8};
  for (int r = 0; r < table.RowCount(); ++r) {
    const QStringList cells = table.Row(r);
    QString line;
    line.reserve(138);
    for (int c = 0; c < ResultsTable::kColumnCount; ++c)
      line += cells[c].rightJustified(kWidths[c]);
    lines << line;
  }
  return lines;
}

namespace {

// How many characters of `text` fit into `width`: at least one, so that every
// piece makes progress, and never half of a surrogate pair.
qsizetype FittingLength(QStringView text, int width,
                        const std::function<int(QStringView)>& textWidth) {
  if (textWidth(text) <= width) return text.size();
  qsizetype lo = 1, hi = text.size() - 1;
  qsizetype best = 1;
  while (lo <= hi) {
    const qsizetype mid = lo + (hi - lo) / 2;
    if (textWidth(text.left(mid)) <= width) {
      best = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  if (best < text.size() && text[best - 1].isHighSurrogate() && text[best].isLowSurrogate())
    best = best > 1 ? best - 1 : best + 1;
  return best;
}

}  // namespace

std::vector<PrintedLine> LayoutLines(const QStringList& lines, int fontHeight, int pageWidth,
                                     int pageHeight,
                                     const std::function<int(QStringView)>& textWidth) {
  std::vector<PrintedLine> out;
  out.reserve(size_t(lines.size()));
  int page = 0;
  int y = 0;
  bool pageFull = false;
  auto place = [&](QStringView piece) {
    if (pageFull) {
      ++page;
      y = 0;
      pageFull = false;
    }
    out.push_back({page, y, piece.toString()});
    const int height = piece.isEmpty() ? fontHeight : fontHeight + 2;
    y += height;
    if (y > pageHeight - 2 * height) pageFull = true;
  };
  for (const QString& line : lines) {
    QStringView rest(line);
    if (rest.isEmpty()) {
      place(rest);
      continue;
    }
    while (!rest.isEmpty()) {
      const qsizetype n = FittingLength(rest, pageWidth, textWidth);
      place(rest.left(n));
      rest = rest.mid(n);
    }
  }
  return out;
}

bool PrintLines(QPrinter& printer, const QStringList& lines, const QFont& font, QString* error) {
  if (!PrinterReady(printer, error)) return false;
  PrintJobScope scope(printer);
  QPainter painter;
  if (!painter.begin(&printer)) {
    if (error) *error = PrintStartError(printer);
    return false;
  }
  painter.setFont(font);
  painter.setPen(Qt::black);
  const QFontMetrics metrics = painter.fontMetrics();
  const std::vector<PrintedLine> placed = LayoutLines(
      lines, metrics.height(), printer.width(), printer.height(),
      [&metrics](QStringView text) { return metrics.horizontalAdvance(text.toString()); });
  bool ok = true;
  int page = 0;
  for (const PrintedLine& line : placed) {
    if (line.page != page) {
      if (!printer.newPage()) {
        if (error) *error = kNewPageText;
        ok = false;
        break;
      }
      page = line.page;
    }
    if (!line.text.isEmpty()) painter.drawText(0, line.top + metrics.ascent(), line.text);
  }
  painter.end();
  if (ok &&
      (printer.printerState() == QPrinter::Error || printer.printerState() == QPrinter::Aborted)) {
    if (error) *error = kPrintFailedText;
    ok = false;
  }
  return ok;
}
