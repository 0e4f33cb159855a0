#pragma once
// A trend's points reduced to pixel columns on the server, so that a day of
// one-second results reaches a browser as a few thousand points: for each
// column the extremes of each series' values in it, as two points (at the
// column's start and middle) that draw its vertical span, as the desktop
// chart draws it. A column without any point ends the lines (a null row);
// a series without a drawable value in a column is null there.

#include <QtGlobal>
#include <optional>
#include <vector>

namespace web {

struct ReducedTrend {
  std::vector<qint64> times;                              // ms since 1970 UTC, ascending
  std::vector<std::vector<std::optional<double>>> series;  // each as long as `times`
  bool reduced = false;  // false: the points themselves (fewer than two a column)
};

// `values[s][i]` is series s at times[i] (not finite: no value). Only points
// with fromUtcMs <= time < toUtcMs count; `columns` >= 1.
ReducedTrend reduceToColumns(const std::vector<qint64>& times, const std::vector<std::vector<double>>& values,
                             qint64 fromUtcMs, qint64 toUtcMs, int columns);

}  // namespace web
