#include "view/column_reduction.h"

#include <algorithm>
#include <cmath>

#include "data/results_log.h"

namespace {

// std::floor is a library call on the baseline x86-64 target, which made it
// the larger part of walking a day of points.
int floorToInt(double x) {
  const int t = int(x);
  return t - (x < t ? 1 : 0);
}

}  // namespace

void ColumnReduction::update(const ResultsLog& log, int channel, double factor, double offset, double scale,
                             int first, int last, unsigned version) {
  const bool extends = valid_ && &log == log_ && channel == channel_ && factor == factor_ &&
                       offset == offset_ && scale == scale_ && first == first_ && version == version_ &&
                       last >= next_ - 1;
  if (!extends) {
    columns_.clear();
    open_ = pendingBreak_ = false;
    next_ = first;
    firstChanged_ = 0;
    valid_ = true;
    log_ = &log;
    channel_ = channel;
    factor_ = factor;
    offset_ = offset;
    scale_ = scale;
    first_ = first;
    version_ = version;
  } else {
    firstChanged_ = int(columns_.size()) - (open_ ? 1 : 0);
  }
  for (int i = next_; i <= last; ++i) {
    const int c = floorToInt(offset + scale * i);
    if (open_ && c != columns_.back().x) open_ = false;
    const double v = log.plottedValue(i, channel) * factor;
    if (!std::isfinite(v)) {
      open_ = false;
      pendingBreak_ = true;
      continue;
    }
    if (open_) {
      Column& column = columns_.back();
      column.lo = std::min(column.lo, v);
      column.hi = std::max(column.hi, v);
    } else {
      columns_.push_back({c, v, v, pendingBreak_ && !columns_.empty()});
      open_ = true;
      pendingBreak_ = false;
    }
  }
  next_ = std::max(next_, last + 1);
}
