#pragma once
// A curve's points reduced to pixel columns: for each column the extremes of
// the drawn values (value x factor) of the points that fall in it, so that a
// redraw need not walk the points again. It is kept for one mapping of
// indices to pixels and one first point, and extended when points come after
// the last one taken; anything else takes it anew.

#include <vector>

class ResultsLog;

class ColumnReduction {
 public:
  struct Column {
    int x = 0;              // the pixel column
    double lo = 0, hi = 0;  // extremes of its drawn values, all finite
    bool newRun = false;    // a value that cannot be drawn lies between it and the column before
  };

  // Points first..last of `channel`, drawn times `factor`; point i lies in
  // pixel column floor(offset + scale * i). `version` changes whenever the
  // log's rows are replaced.
  void update(const ResultsLog& log, int channel, double factor, double offset, double scale, int first,
              int last, unsigned version);
  const std::vector<Column>& columns() const { return columns_; }
  // Columns before this one are as the update before the last left them.
  int firstChanged() const { return firstChanged_; }

 private:
  std::vector<Column> columns_;
  bool open_ = false;  // the last column may still take points
  bool pendingBreak_ = false;
  int next_ = 0;  // the next point to take
  int firstChanged_ = 0;

  bool valid_ = false;
  const ResultsLog* log_ = nullptr;
  int channel_ = 0, first_ = 0;
  double factor_ = 0, offset_ = 0, scale_ = 0;
  unsigned version_ = 0;
};
