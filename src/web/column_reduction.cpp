#include "web/column_reduction.h"

#include <algorithm>
#include <cmath>

namespace web {

namespace {

std::optional<double> finite(double v) {
  if (std::isfinite(v)) return v;
  return std::nullopt;
}

}  // namespace

ReducedTrend reduceToColumns(const std::vector<qint64>& times, const std::vector<std::vector<double>>& values,
                             qint64 fromUtcMs, qint64 toUtcMs, int columns) {
  ReducedTrend out;
  const size_t seriesCount = values.size();
  out.series.resize(seriesCount);
  if (toUtcMs <= fromUtcMs || columns < 1) return out;
  const auto first = size_t(std::lower_bound(times.begin(), times.end(), fromUtcMs) - times.begin());
  const auto last = size_t(std::lower_bound(times.begin(), times.end(), toUtcMs) - times.begin());
  const size_t count = last - first;
  const double span = double(toUtcMs - fromUtcMs);

  // Few enough to send as they are: a gap longer than three of the usual
  // spacing between results ends the lines.
  if (count < size_t(columns) * 2) {
    std::vector<qint64> gaps;
    for (size_t i = first + 1; i < last; ++i) gaps.push_back(times[i] - times[i - 1]);
    qint64 usual = 0;
    if (!gaps.empty()) {
      std::nth_element(gaps.begin(), gaps.begin() + long(gaps.size() / 2), gaps.end());
      usual = gaps[gaps.size() / 2];
    }
    for (size_t i = first; i < last; ++i) {
      if (i > first && usual > 0 && times[i] - times[i - 1] > 3 * usual) {
        out.times.push_back(times[i - 1] + 1);
        for (auto& s : out.series) s.push_back(std::nullopt);
      }
      out.times.push_back(times[i]);
      for (size_t s = 0; s < seriesCount; ++s) out.series[s].push_back(finite(values[s][i]));
    }
    return out;
  }

  out.reduced = true;
  const double scale = double(columns) / span;
  const auto columnStart = [&](int c) { return fromUtcMs + qint64(std::ceil(c / scale)); };
  std::vector<double> lo(seriesCount), hi(seriesCount);
  std::vector<bool> any(seriesCount);
  int column = -1;
  int lastEmitted = -2;
  const auto flush = [&] {
    if (column < 0) return;
    if (lastEmitted >= 0 && column != lastEmitted + 1) {  // a column without points: the lines break
      out.times.push_back(columnStart(lastEmitted + 1));
      for (auto& s : out.series) s.push_back(std::nullopt);
    }
    const qint64 start = columnStart(column);
    const qint64 middle = start + std::max<qint64>(1, (columnStart(column + 1) - start) / 2);
    out.times.push_back(start);
    out.times.push_back(middle);
    for (size_t s = 0; s < seriesCount; ++s) {
      out.series[s].push_back(any[s] ? std::optional<double>(lo[s]) : std::nullopt);
      out.series[s].push_back(any[s] ? std::optional<double>(hi[s]) : std::nullopt);
    }
    lastEmitted = column;
  };
  for (size_t i = first; i < last; ++i) {
    const int c = std::min(columns - 1, int(std::floor(double(times[i] - fromUtcMs) * scale)));
    if (c != column) {
      flush();
      column = c;
      std::fill(any.begin(), any.end(), false);
    }
    for (size_t s = 0; s < seriesCount; ++s) {
      const double v = values[s][i];
      if (!std::isfinite(v)) continue;
      if (!any[s]) {
        lo[s] = hi[s] = v;
        any[s] = true;
      } else {
        lo[s] = std::min(lo[s], v);
        hi[s] = std::max(hi[s], v);
      }
    }
  }
  flush();
  return out;
}

}  // namespace web
