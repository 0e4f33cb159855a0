#include "print/table_protocol.h"

#include <QPainter>
#include <QPrinter>

#include "print/printer_setup.h"
#include "data/results_log.h"
#include "data/value_format.h"
#include "emissions/result_status.h"

#include <array>
#include <optional>

QStringList protocolLines(const ResultsLog& log, double now) {
  QStringList lines;
  lines.reserve(log.count() + 3);
  lines << QStringLiteral(u"Потокол замеров KVX от ") + shortDateText(now) + QLatin1Char(' ') +
               longTimeText(now);
  static const int kWidths[kResultColumnCount] = {10, 14, 10, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
  const auto line = [](const auto& cellOf) {
    QString text;
    text.reserve(138);
    for (int c = 0; c < kResultColumnCount; ++c) text += cellOf(c).rightJustified(kWidths[c]);
    return text;
  };
  // Results taken by the program carry the status they were decided with:
  // printed after the last column, with the codes used explained below. A
  // table read from a file has none, and prints as it always did.
  bool statuses = false;
  for (int r = 0; r < log.count() && !statuses; ++r) statuses = log.status(r).has_value();
  constexpr int kStatusWidth = 7;
  std::array<bool, kResultStatusCount> used{};
  lines << line([&log](int c) { return log.header(c); }) +
               (statuses ? QStringLiteral(u"Статус").rightJustified(kStatusWidth) : QString());
  for (int r = 0; r < log.count(); ++r) {
    QString text = line([&log, r](int c) { return log.cell(r, c); });
    if (const std::optional<ResultStatus> status = log.status(r)) {
      text += emissions::statusCode(*status).rightJustified(kStatusWidth);
      used[size_t(*status)] = true;
    } else if (statuses) {
      text += QString(kStatusWidth, QLatin1Char(' '));
    }
    lines << text;
  }
  if (log.isEmpty()) lines << line([](int) { return QString(); });
  if (statuses) {
    QStringList legend;
    for (int k = 0; k < kResultStatusCount; ++k)
      if (used[size_t(k)])
        legend << emissions::statusCode(ResultStatus(k)) + QStringLiteral(u" — ") + emissions::statusTitle(ResultStatus(k));
    lines << QString() << QStringLiteral(u"Статус: ") + legend.join(QStringLiteral("; "));
  }
  return lines;
}

namespace {

// How many characters of `text` fit into `width`: at least one, so that every
// piece makes progress, and never half of a surrogate pair.
qsizetype fittingLength(QStringView text, int width,
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

std::vector<PrintedLine> layoutLines(const QStringList& lines, int fontHeight, int pageWidth,
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
      const qsizetype n = fittingLength(rest, pageWidth, textWidth);
      place(rest.left(n));
      rest = rest.mid(n);
    }
  }
  return out;
}

bool printLines(QPrinter& printer, const QStringList& lines, const QFont& font, QString* error) {
  if (!printerReady(printer, error)) return false;
  PrintJobScope scope(printer);
  QPainter painter;
  if (!painter.begin(&printer)) {
    if (error) *error = printStartError(printer);
    return false;
  }
  painter.setFont(font);
  painter.setPen(Qt::black);
  const QFontMetrics metrics = painter.fontMetrics();
  const std::vector<PrintedLine> placed = layoutLines(
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
