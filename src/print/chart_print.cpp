#include "print/chart_print.h"

#include <QPrinter>

#include "print/printer_setup.h"
#include "view/trend_chart.h"

bool printChart(QPrinter& printer, TrendChart& chart, QString* error) {
  if (!printerReady(printer, error)) return false;
  PrintJobScope scope(printer);  // gives the orientation back
  printer.setPageOrientation(QPageLayout::Landscape);
  printer.setResolution(kChartPrintResolution);
  {
    const QPageLayout layout = printer.pageLayout();
    printer.setPageMargins(layout.minimumMargins(), layout.units());
  }

  QCPPainter painter;
  if (!painter.begin(&printer)) {
    if (error) *error = printStartError(printer);
    return false;
  }
  painter.setMode(QCPPainter::pmVectorized);
  chart.toPainter(&painter, printer.width(), printer.height());
  painter.end();
  // Drawing for the page laid the chart out at the page's size; lay it out
  // for the screen again.
  chart.replot(QCustomPlot::rpQueuedReplot);

  if (printer.printerState() == QPrinter::Error || printer.printerState() == QPrinter::Aborted) {
    if (error) *error = kPrintFailedText;
    return false;
  }
  return true;
}
