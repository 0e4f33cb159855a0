#pragma once
// The chart printout: the chart as it is shown, over a whole landscape page.

#include <QString>

class QPrinter;
class TrendChart;

// The resolution the chart is drawn at on paper: the screen's convention, so
// that its fonts keep their point sizes and its pixel-wide lines and ticks
// come out as on screen. The output stays vector graphics.
inline constexpr int kChartPrintResolution = 96;

// Prints `chart` on `printer` as currently shown (curves, zoom, colours,
// legend), stretched over the printable area of a landscape page. The
// printer's orientation (and the rest of its page set-up) is restored
// afterwards, also on failure. False, with `error` set, on failure.
bool printChart(QPrinter& printer, TrendChart& chart, QString* error);
