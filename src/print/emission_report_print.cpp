#include "print/emission_report_print.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <algorithm>

#include "platform/seams.h"
#include "print/printer_setup.h"

namespace {

using emissions::Exceedance;
namespace col = emissions::report_table_column;

// Shares of the page width: the period, the count, then per component the
// mean and its judgement.
double columnShare(int column) {
  if (column == col::Period) return 0.20;
  if (column == col::Count) return 0.064;
  return (column - col::FirstComponent) % 2 == 0 ? 0.084 : 0.1;
}

QColor judgementColor(bool valid, Exceedance e) {
  if (!valid) return QColor(0x70, 0x70, 0x70);
  if (e == Exceedance::Alarm) return QColor(0xC0, 0, 0);
  if (e == Exceedance::PreAlarm) return QColor(0xA0, 0x60, 0);
  return Qt::black;
}

}  // namespace

int emissionReportPages(int rows, int firstPageRows, int pageRows, int tailLines) {
  firstPageRows = std::max(firstPageRows, 1);
  pageRows = std::max(pageRows, 1);
  int pages = 1;
  int left = firstPageRows;  // rows still free on the current page
  for (int r = 0; r < rows; ++r) {
    if (left == 0) {
      ++pages;
      left = pageRows;
    }
    --left;
  }
  // The exceedances' heading and lines, at least the heading with a line.
  int tail = tailLines + 1;
  if (left >= std::min(tail, 2)) {
    tail -= std::min(left, tail);
  }
  while (tail > 0) {
    ++pages;
    tail -= pageRows;
  }
  return pages;
}

bool printEmissionReport(QPrinter& printer, const emissions::ReportTable& table, QString* error, int* pages) {
  if (!printerReady(printer, error)) return false;
  PrintJobScope scope(printer);
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setDocName(table.title);
  QPainter painter;
  if (!painter.begin(&printer)) {
    if (error) *error = printStartError(printer);
    return false;
  }
  const QRect page(0, 0, printer.width(), printer.height());
  const int margin = page.width() / 40;
  const QRect area = page.adjusted(margin, margin, -margin, -margin);

  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(8);
  QFont bold = font;
  bold.setBold(true);
  QFont titleFont = font;
  titleFont.setPointSizeF(13);
  titleFont.setBold(true);
  painter.setFont(font);
  const QFontMetrics fm(font, &printer);
  const QFontMetrics titleFm(titleFont, &printer);
  const int lineHeight = fm.height();
  const int rowHeight = lineHeight * 4 / 3;
  const int footer = lineHeight * (table.trailNote.isEmpty() ? 2 : 3);

  // The first page's head: the title and the notes, wrapped to the width.
  QVector<QRect> noteRects;
  int headHeight = titleFm.height() + lineHeight / 2;
  for (const QString& note : table.notes) {
    const QRect r = fm.boundingRect(QRect(0, 0, area.width(), 10 * area.height()), Qt::TextWordWrap, note);
    noteRects.append(r);
    headHeight += r.height() + lineHeight / 4;
  }
  headHeight += lineHeight / 2;

  const int bodyHeight = area.height() - footer;
  const int pageRows = std::max(1, bodyHeight / rowHeight - 1);  // less the headings' row
  const int firstPageRows = std::max(1, (bodyHeight - headHeight) / rowHeight - 1);
  const int tailLines = int(table.exceedances.size());
  const int pageCount = emissionReportPages(int(table.rows.size()), firstPageRows, pageRows, tailLines);

  QVector<int> x{area.left()};
  for (int c = 0; c < col::kCount; ++c) x.append(x.last() + int(area.width() * columnShare(c)));
  const int tableRight = x.last();

  int pageNo = 1;
  auto drawFoot = [&] {
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRect foot(area.left(), area.bottom() - lineHeight, area.width(), lineHeight);
    painter.drawText(foot, Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral(u"Korvex · %1 · напечатано %2")
                         .arg(table.title, seams::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"))));
    painter.drawText(foot, Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral(u"Стр. %1 из %2").arg(pageNo).arg(pageCount));
    if (!table.trailNote.isEmpty())
      painter.drawText(foot.translated(0, -lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       fm.elidedText(table.trailNote, Qt::ElideRight, area.width()));
  };
  bool ok = true;
  auto nextPage = [&] {
    drawFoot();
    if (!printer.newPage()) {
      if (error) *error = kNewPageText;
      ok = false;
      return false;
    }
    ++pageNo;
    return true;
  };
  auto drawRow = [&](int y, const QStringList& cells, bool heading, bool day,
                     const emissions::ReportTableRow* row) {
    const QRect band(area.left(), y, tableRight - area.left(), rowHeight);
    if (heading || day) painter.fillRect(band, heading ? QColor(0xD8, 0xD8, 0xD8) : QColor(0xEE, 0xEE, 0xEE));
    painter.setFont(heading || day ? bold : font);
    for (int c = 0; c < col::kCount && c < cells.size(); ++c) {
      QColor color = Qt::black;
      if (row && c >= col::FirstComponent) {
        const int k = (c - col::FirstComponent) / 2;
        color = judgementColor(row->valid[size_t(k)], row->exceedances[size_t(k)]);
      }
      painter.setPen(color);
      const QRect cell(x[c] + lineHeight / 4, y, x[c + 1] - x[c] - lineHeight / 2, rowHeight);
      const Qt::Alignment align = c == col::Period ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter;
      painter.drawText(cell, align, fm.elidedText(cells[c], Qt::ElideRight, cell.width()));
    }
    painter.setPen(QPen(QColor(0xA0, 0xA0, 0xA0), 0));
    painter.drawLine(area.left(), y + rowHeight, tableRight, y + rowHeight);
  };

  // Head of the first page.
  int y = area.top();
  painter.setFont(titleFont);
  painter.setPen(Qt::black);
  painter.drawText(QRect(area.left(), y, area.width(), titleFm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   table.title);
  y += titleFm.height() + lineHeight / 2;
  painter.setFont(font);
  for (int i = 0; i < table.notes.size(); ++i) {
    painter.drawText(QRect(area.left(), y, area.width(), noteRects[i].height()), Qt::TextWordWrap, table.notes[i]);
    y += noteRects[i].height() + lineHeight / 4;
  }
  y = area.top() + headHeight;

  // The table, the headings again at the top of every page.
  int left = firstPageRows;
  drawRow(y, table.headers, true, false, nullptr);
  y += rowHeight;
  for (const emissions::ReportTableRow& row : table.rows) {
    if (left == 0) {
      if (!nextPage()) break;
      y = area.top();
      drawRow(y, table.headers, true, false, nullptr);
      y += rowHeight;
      left = pageRows;
    }
    drawRow(y, row.cells, false, row.day, &row);
    y += rowHeight;
    --left;
  }

  // The exceedances: on the same page when at least the heading and a line fit.
  if (ok) {
    QStringList tail;
    tail << QStringLiteral(u"Превышения и предупреждения:") << table.exceedances;
    if (left < std::min(int(tail.size()), 2)) {
      ok = nextPage();
      y = area.top();
      left = pageRows;
    }
    for (int i = 0; ok && i < tail.size(); ++i) {
      if (left == 0) {
        if (!nextPage()) break;
        y = area.top();
        left = pageRows;
      }
      painter.setFont(i == 0 ? bold : font);
      painter.setPen(Qt::black);
      painter.drawText(QRect(area.left(), y, area.width(), rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       fm.elidedText(tail[i], Qt::ElideRight, area.width()));
      y += rowHeight;
      --left;
    }
    if (ok) drawFoot();
  }
  painter.end();
  if (ok && (printer.printerState() == QPrinter::Error || printer.printerState() == QPrinter::Aborted)) {
    if (error) *error = kPrintFailedText;
    ok = false;
  }
  if (pages) *pages = pageNo;
  return ok;
}
