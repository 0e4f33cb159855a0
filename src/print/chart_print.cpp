#include "print/chart_print.h"

#include <QPrinter>

#include "view/trend_chart.h"

bool PrintChart(QPrinter&, TrendChart&, QString* error) {
  if (error) *error = QStringLiteral("not built yet");
  return false;
}
