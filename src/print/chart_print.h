#pragma once
// The chart printout: the chart as it is shown, over a whole landscape page.

#include <QString>

class QPrinter;
class TrendChart;

// Prints `chart` on `printer` in landscape, restoring the printer's
// orientation afterwards, also on failure. False, with `error` set, on failure.
bool PrintChart(QPrinter& printer, TrendChart& chart, QString* error);
