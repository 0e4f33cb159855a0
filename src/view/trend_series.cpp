#include "view/trend_series.h"

#include <algorithm>
#include <cmath>

#include "data/results_log.h"

namespace {

// Cuts the segment a-b to `r`; false when nothing of it lies inside.
bool clipSegment(const QRectF& r, QPointF& a, QPointF& b) {
  double t0 = 0, t1 = 1;
  const double dx = b.x() - a.x(), dy = b.y() - a.y();
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x() - r.left(), r.right() - a.x(), a.y() - r.top(), r.bottom() - a.y()};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
  }
  const QPointF start = a;
  if (t1 < 1) b = QPointF(start.x() + t1 * dx, start.y() + t1 * dy);
  if (t0 > 0) a = QPointF(start.x() + t0 * dx, start.y() + t0 * dy);
  return true;
}

// The dots of a dotted line along consecutive segments: `on` pixels drawn,
// `off` pixels left out, the pattern running on across segment joints.
QVector<QLineF> dots(const QVector<QLineF>& segments, double on, double off) {
  QVector<QLineF> dots;
  double phase = 0;  // position within the pattern
  QPointF last(qQNaN(), qQNaN());
  for (const QLineF& s : segments) {
    if (s.p1() != last) phase = 0;  // a new run starts the pattern afresh
    last = s.p2();
    const double length = s.length();
    if (length <= 0) continue;
    double at = 0;
    while (at < length) {
      const double inPattern = std::fmod(phase + at, on + off);
      if (inPattern < on) {
        const double end = std::min(length, at + (on - inPattern));
        dots.append(QLineF(s.pointAt(at / length), s.pointAt(end / length)));
        at = end;
      } else {
        at += on + off - inPattern;
      }
    }
    phase = std::fmod(phase + length, on + off);
  }
  return dots;
}

QColor mix(const QColor& a, const QColor& b, double share) {
  return QColor::fromRgbF(float(a.redF() * (1 - share) + b.redF() * share),
                          float(a.greenF() * (1 - share) + b.greenF() * share),
                          float(a.blueF() * (1 - share) + b.blueF() * share));
}

}  // namespace

TrendSeries::TrendSeries(QCPAxis* keyAxis, QCPAxis* valueAxis, int channel)
    : QCPAbstractPlottable(keyAxis, valueAxis), channel_(channel) {
  setSelectable(QCP::stNone);
  setBrush(Qt::NoBrush);
  setPen(QPen(Qt::black, 2));
}

void TrendSeries::setLog(const ResultsLog* log) {
  log_ = log;
  noteReset();
}

int TrendSeries::pointCount() const { return log_ ? log_->count() : 0; }

double TrendSeries::value(int index) const {
  return (index >= 0 && index < pointCount()) ? log_->plottedValue(index, channel_) : 0;
}

void TrendSeries::noteAppended(int first, int last) {
  for (int i = first; i <= last; ++i) take(log_->plottedValue(i, channel_));
}

void TrendSeries::noteReset() {
  hasFinite_ = hasPositive_ = hasNegative_ = false;
  if (log_) noteAppended(0, log_->count() - 1);
}

void TrendSeries::take(double y) {
  // Beyond these the axis refuses the range, and one damaged value would keep
  // every curve out of view.
  if (!std::isfinite(y) || std::abs(y) > kLargestScaled) return;
  if (!hasFinite_) {
    min_ = max_ = y;
    hasFinite_ = true;
  } else {
    min_ = std::min(min_, y);
    max_ = std::max(max_, y);
  }
  if (y >= 1 / kLargestScaled) {
    minPositive_ = hasPositive_ ? std::min(minPositive_, y) : y;
    hasPositive_ = true;
  } else if (y <= -1 / kLargestScaled) {
    maxNegative_ = hasNegative_ ? std::max(maxNegative_, y) : y;
    hasNegative_ = true;
  }
}

void TrendSeries::setFactor(double factor) {
  // A factor from a damaged settings file must not wipe the curve off the chart.
  factor_ = std::isfinite(factor) ? factor : 1;
}

void TrendSeries::setColor(const QColor& color) {
  QPen p = pen();
  p.setColor(color);
  setPen(p);
}

void TrendSeries::setLineWidth(double width) {
  QPen p = pen();
  p.setWidthF(width);
  setPen(p);
}

void TrendSeries::setDotted(bool dotted) {
  dotted_ = dotted;
  QPen p = pen();
  p.setStyle(dotted ? Qt::DotLine : Qt::SolidLine);
  setPen(p);
}

void TrendSeries::setDepth(int front, int thickness, int reach) {
  depthFront_ = std::max(front, 0);
  depthThickness_ = std::max(thickness, 0);
  depthReach_ = std::max(reach, 0);
}

bool TrendSeries::drawnRange(bool positiveOnly, QCPRange* range) const {
  const double f = factor_;
  double lo, hi;
  if (!positiveOnly) {
    if (!hasFinite_) return false;
    lo = min_ * f;
    hi = max_ * f;
  } else if (f > 0) {
    if (!hasPositive_) return false;
    lo = minPositive_ * f;
    hi = max_ * f;
  } else if (f < 0) {
    if (!hasNegative_) return false;
    lo = maxNegative_ * f;
    hi = min_ * f;
  } else {
    return false;
  }
  if (lo > hi) std::swap(lo, hi);
  if (!std::isfinite(lo) || !std::isfinite(hi)) return false;
  *range = QCPRange(lo, hi);
  return true;
}

double TrendSeries::selectTest(const QPointF&, bool, QVariant*) const { return -1; }

QCPRange TrendSeries::getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain) const {
  foundRange = false;
  const int n = pointCount();
  if (n == 0) return QCPRange();
  double lo = 0, hi = double(n - 1);
  if (inSignDomain == QCP::sdNegative) return QCPRange();
  if (inSignDomain == QCP::sdPositive) {
    lo = 1;
    if (hi < lo) return QCPRange();
  }
  foundRange = true;
  return QCPRange(lo, hi);
}

QCPRange TrendSeries::getValueRange(bool& foundRange, QCP::SignDomain inSignDomain, const QCPRange&) const {
  QCPRange r;
  foundRange = inSignDomain != QCP::sdNegative && drawnRange(inSignDomain == QCP::sdPositive, &r);
  return foundRange ? r : QCPRange();
}

void TrendSeries::polylines(std::vector<QVector<QPointF>>* runs) const {
  runs->clear();
  QCPAxis* kAxis = keyAxis();
  QCPAxis* vAxis = valueAxis();
  if (!kAxis || !vAxis || pointCount() == 0) return;
  const QRect rect = kAxis->axisRect()->rect();
  const QCPRange kr = kAxis->range(), vr = vAxis->range();
  if (rect.width() <= 0 || rect.height() <= 0 || !(kr.size() > 0) || !(vr.size() > 0) ||
      !std::isfinite(kr.size()) || !std::isfinite(vr.size()))
    return;
  const bool log = vAxis->scaleType() == QCPAxis::stLogarithmic;
  if (log && !(vr.lower > 0)) return;

  // Only the points in view, and one beyond each edge so the line runs out of it.
  const int n = pointCount();
  const double first = std::floor(kr.lower) - 1, last = std::ceil(kr.upper) + 1;
  if (last < 0 || first > n - 1) return;
  const int i0 = int(std::max(0.0, first)), i1 = int(std::min(double(n - 1), last));

  // The key axis is linear: pixel = xa + xb * index.
  const double xa = kAxis->coordToPixel(0), xb = kAxis->coordToPixel(1) - xa;
  const double yLower = vAxis->coordToPixel(vr.lower), yUpper = vAxis->coordToPixel(vr.upper);
  const double ya = vAxis->coordToPixel(0), yb = vAxis->coordToPixel(1) - ya;
  const double logLower = log ? std::log(vr.lower) : 0;
  const double logScale = log ? (yUpper - yLower) / (std::log(vr.upper) - logLower) : 0;
  // On the logarithmic axis values of 0 and below lie on its lower edge.
  const auto y = [&](double v) {
    if (!log) return ya + yb * v;
    return v > 0 ? yLower + (std::log(v) - logLower) * logScale : yLower;
  };
  const double f = factor_;

  QVector<QPointF> run;
  const auto endRun = [&] {
    if (!run.isEmpty()) runs->push_back(run);
    run.clear();
  };
  if (double(i1 - i0 + 1) <= 2.0 * rect.width()) {
    for (int i = i0; i <= i1; ++i) {
      const double v = log_->plottedValue(i, channel_) * f;
      if (!std::isfinite(v)) {
        endRun();
        continue;
      }
      run.append(QPointF(xa + xb * i, y(v)));
    }
    endRun();
    return;
  }

  // Crowded: each pixel column becomes the vertical span of its values,
  // entered from the end nearer to where the line comes from.
  double column = qQNaN(), lo = 0, hi = 0;
  bool any = false;
  const auto endColumn = [&] {
    if (!any) return;
    any = false;
    const double x = column + 0.5;
    double y1 = y(lo), y2 = y(hi);
    if (!run.isEmpty() && std::abs(run.last().y() - y2) < std::abs(run.last().y() - y1)) std::swap(y1, y2);
    run.append(QPointF(x, y1));
    if (y2 != y1) run.append(QPointF(x, y2));
  };
  for (int i = i0; i <= i1; ++i) {
    const double c = std::floor(xa + xb * i);
    if (c != column) {
      endColumn();
      column = c;
    }
    const double v = log_->plottedValue(i, channel_) * f;
    if (!std::isfinite(v)) {
      endColumn();
      endRun();
      continue;
    }
    if (!any) {
      lo = hi = v;
      any = true;
    } else {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  endColumn();
  endRun();
}

QVector<QLineF> TrendSeries::screenSegments() const {
  std::vector<QVector<QPointF>> runs;
  polylines(&runs);
  QVector<QLineF> segments;
  if (runs.empty()) return segments;
  // Cut to where anything can show, so that far-off points of a deep zoom
  // never reach the painter as huge coordinates.
  const double w = pen().widthF() + 2;
  const QRectF area = QRectF(keyAxis()->axisRect()->rect())
                          .adjusted(-w - depthReach_, -w - depthReach_, w + depthReach_, w + depthReach_);
  for (const QVector<QPointF>& run : runs) {
    if (run.size() == 1) {
      // A lone point shows as a dot.
      QPointF a = run[0] - QPointF(0.5, 0), b = run[0] + QPointF(0.5, 0);
      if (clipSegment(area, a, b)) segments.append(QLineF(a, b));
      continue;
    }
    for (int j = 1; j < run.size(); ++j) {
      QPointF a = run[j - 1], b = run[j];
      if (clipSegment(area, a, b)) segments.append(QLineF(a, b));
    }
  }
  return segments;
}

QRect TrendSeries::clipRect() const {
  if (!keyAxis()) return QCPAbstractPlottable::clipRect();
  // Lines at the edge of the range are not cut in half, and the ribbons of
  // the 3-D look reach up and to the right of the plotting area.
  const int w = int(std::ceil(pen().widthF())) + 1;
  return keyAxis()->axisRect()->rect().adjusted(-w, -w - depthReach_, w + depthReach_, w);
}

void TrendSeries::draw(QCPPainter* painter) {
  const QVector<QLineF> segments = screenSegments();
  if (segments.isEmpty()) return;
  const QColor color = pen().color();
  const double width = pen().widthF();

  if (depthThickness_ > 0) {
    // The ribbon: the line repeated deeper and deeper in one-pixel steps,
    // up and right by turns so the copies close up whatever the slope
    // (cheap 1-pixel lines), its far edge a shade darker.
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(mix(color, Qt::white, 0.45), 1, Qt::SolidLine, Qt::SquareCap));
    for (int step = 2 * depthThickness_ - 1; step >= 1; --step) {
      const int dx = depthFront_ + step / 2, dy = depthFront_ + (step + 1) / 2;
      painter->translate(dx, -dy);
      painter->drawLines(segments);
      painter->translate(-dx, dy);
    }
    const int d = depthFront_ + depthThickness_;
    painter->setPen(QPen(color.darker(150), 1, Qt::SolidLine, Qt::SquareCap));
    painter->translate(d, -d);
    painter->drawLines(segments);
    painter->translate(-d, d);
  }

  applyDefaultAntialiasingHint(painter);
  painter->translate(depthFront_, -depthFront_);
  if (dotted_) {
    painter->setPen(QPen(color, width, Qt::SolidLine, Qt::FlatCap));
    painter->drawLines(dots(segments, width, 2 * width));
  } else {
    // Square caps close the joints between the separately drawn segments.
    painter->setPen(QPen(color, width, Qt::SolidLine, Qt::SquareCap));
    painter->drawLines(segments);
  }
  painter->translate(-depthFront_, depthFront_);
}

void TrendSeries::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
  painter->setRenderHint(QPainter::Antialiasing, false);
  QPen p(pen().color(), pen().widthF(), dotted_ ? Qt::DotLine : Qt::SolidLine, Qt::FlatCap);
  painter->setPen(p);
  const double y = std::round(rect.center().y());
  painter->drawLine(QLineF(rect.left(), y, rect.right(), y));
}
