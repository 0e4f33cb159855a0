#include "view/trend_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "data/results_log.h"

namespace {

int floorToInt(double x) {
  const int t = int(x);
  return t - (x < t ? 1 : 0);
}

// Pixel y of a drawn value on the value axis. On the logarithmic axis values
// of 0 and below lie on its lower edge. Pixels are held to a billion either
// way, where a line's direction no longer changes, so that a huge value
// cannot overflow them.
struct ValueMapping {
  bool log = false;
  double ya = 0, yb = 0, yLower = 0, logLower = 0, logScale = 0;
  double operator()(double v) const {
    const double y = !log ? ya + yb * v : v > 0 ? yLower + (std::log(v) - logLower) * logScale : yLower;
    return std::clamp(y, -1e9, 1e9);
  }
  std::vector<double> key() const { return {log ? 1.0 : 0.0, ya, yb, yLower, logLower, logScale}; }
};

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

// A crowded curve's line as one path: down or up each column's span,
// entered from the end nearer to where it comes from, then across to the
// next column, broken where the runs break.
QVector<QLineF> columnPath(const TrendSeries::Shape& shape) {
  QVector<QLineF> path;
  path.reserve(2 * shape.segments.size());
  int nextStart = 0;
  QPointF exit;
  for (int j = 0; j < shape.segments.size(); ++j) {
    QPointF a = shape.segments[j].p1(), b = shape.segments[j].p2();
    bool starts = j == 0;
    while (nextStart < shape.runStarts.size() && shape.runStarts[nextStart] <= j)
      starts = starts || shape.runStarts[nextStart++] == j;
    if (!starts) {
      if (std::abs(exit.y() - b.y()) < std::abs(exit.y() - a.y())) std::swap(a, b);
      path.append(QLineF(exit, a));
    }
    path.append(QLineF(a, b));
    exit = b;
  }
  return path;
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
  ++version_;
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

TrendSeries::Shape TrendSeries::shape(const KeyMapping& key) const { return shapeWith(key, &reduction_); }

TrendSeries::Shape TrendSeries::shapeWith(const KeyMapping& key, ColumnReduction* reduction) const {
  Shape shape;
  QCPAxis* kAxis = keyAxis();
  QCPAxis* vAxis = valueAxis();
  if (!kAxis || !vAxis || pointCount() == 0) return shape;
  const QRect rect = kAxis->axisRect()->rect();
  const QCPRange kr = kAxis->range(), vr = vAxis->range();
  if (rect.width() <= 0 || rect.height() <= 0 || !(kr.size() > 0) || !(vr.size() > 0) ||
      !std::isfinite(kr.size()) || !std::isfinite(vr.size()) || !std::isfinite(key.offset) ||
      !std::isfinite(key.scale))
    return shape;
  ValueMapping y;
  y.log = vAxis->scaleType() == QCPAxis::stLogarithmic;
  if (y.log && !(vr.lower > 0)) return shape;

  // Only the points in view, and one beyond each edge so the line runs out of it.
  const int n = pointCount();
  const double first = std::floor(kr.lower) - 1, last = std::ceil(kr.upper) + 1;
  if (last < 0 || first > n - 1) return shape;
  const int i0 = int(std::max(0.0, first)), i1 = int(std::min(double(n - 1), last));

  y.yLower = vAxis->coordToPixel(vr.lower);
  const double yUpper = vAxis->coordToPixel(vr.upper);
  y.ya = vAxis->coordToPixel(0);
  y.yb = vAxis->coordToPixel(1) - y.ya;
  y.logLower = y.log ? std::log(vr.lower) : 0;
  y.logScale = y.log ? (yUpper - y.yLower) / (std::log(vr.upper) - y.logLower) : 0;
  const double f = factor_;

  // Cut to where anything can show, so that far-off points of a deep zoom
  // never reach the painter as huge coordinates.
  const double w = pen().widthF() + 2;
  const QRectF area =
      QRectF(rect).adjusted(-w - depthReach_, -w - depthReach_, w + depthReach_, w + depthReach_);
  const auto add = [&](QPointF a, QPointF b) {
    if (clipSegment(area, a, b)) shape.segments.append(QLineF(a, b));
  };

  if (double(i1 - i0 + 1) <= 2.0 * rect.width() || !(key.scale > 0)) {
    // Every point; a lone point shows as a dot.
    QPointF previous;
    int inRun = 0;
    const auto endRun = [&] {
      if (inRun == 1) add(previous - QPointF(0.5, 0), previous + QPointF(0.5, 0));
      inRun = 0;
    };
    for (int i = i0; i <= i1; ++i) {
      const double v = log_->plottedValue(i, channel_) * f;
      if (!std::isfinite(v)) {
        endRun();
        continue;
      }
      const QPointF p(key.offset + key.scale * i, y(v));
      if (inRun > 0) add(previous, p);
      previous = p;
      inRun = std::min(inRun + 1, 2);
    }
    endRun();
    return shape;
  }

  // Crowded: each pixel column becomes the vertical span of its values.
  shape.columns = true;
  reduction->update(*log_, channel_, f, key.offset, key.scale, i0, i1, version_);
  const std::vector<ColumnReduction::Column>& columns = reduction->columns();
  // The columns' pixels, kept while the reduction and the value axis keep theirs.
  std::vector<Span> local;
  const bool kept = reduction == &reduction_;
  std::vector<Span>& pixels = kept ? columnPixels_ : local;
  size_t from = 0;
  if (kept) {
    std::vector<double> axisKey = y.key();
    if (axisKey == pixelsFor_) from = size_t(std::max(0, std::min(pixelsDone_, reduction->firstChanged())));
    pixelsFor_ = std::move(axisKey);
    pixelsDone_ = int(columns.size());
  }
  pixels.resize(columns.size());
  for (size_t c = from; c < columns.size(); ++c) {
    const double a = y(columns[c].lo), b = y(columns[c].hi);
    pixels[c] = {std::min(a, b), std::max(a, b)};
  }

  // Neighbouring spans are joined halfway across a jump, so the line stays
  // unbroken with one segment a column.
  constexpr double kLeast = 1e-3;  // a flat column keeps a length every paint device draws
  double x = 0, top = 0, bottom = 0;
  bool have = false, runStart = false;
  const auto emitSpan = [&] {
    if (bottom - top < kLeast) {
      const double middle = (top + bottom) / 2;
      top = middle - kLeast / 2;
      bottom = middle + kLeast / 2;
    }
    if (runStart) shape.runStarts.append(int(shape.segments.size()));
    add(QPointF(x, top), QPointF(x, bottom));
  };
  shape.segments.reserve(int(columns.size()));
  for (size_t c = 0; c < columns.size(); ++c) {
    double nextTop = pixels[c].top, nextBottom = pixels[c].bottom;
    if (have && !columns[c].newRun) {
      if (bottom < nextTop) {
        bottom = nextTop = (bottom + nextTop) / 2;
      } else if (nextBottom < top) {
        top = nextBottom = (nextBottom + top) / 2;
      }
    }
    if (have) emitSpan();
    x = columns[c].x + 0.5;
    top = nextTop;
    bottom = nextBottom;
    runStart = columns[c].newRun;
    have = true;
  }
  if (have) emitSpan();
  return shape;
}

QVector<QLineF> TrendSeries::screenSegments() const {
  if (host_) return shape(host_->drawingMapping()).segments;
  if (!keyAxis()) return {};
  const double a = keyAxis()->coordToPixel(0);
  return shape({a, keyAxis()->coordToPixel(1) - a}).segments;
}

TrendSeries::Look TrendSeries::look() const {
  Look l;
  l.color = pen().color().rgba();
  l.width = pen().widthF();
  l.dotted = dotted_;
  l.antialiased = antialiased();
  l.front = depthFront_;
  l.thickness = depthThickness_;
  l.reach = depthReach_;
  l.clip = clipRect().translated(0, -1);  // as the layer clips a plottable
  return l;
}

QRect TrendSeries::clipRect() const {
  if (!keyAxis()) return QCPAbstractPlottable::clipRect();
  // Lines at the edge of the range are not cut in half, and the ribbons of
  // the 3-D look reach up and to the right of the plotting area.
  const int w = int(std::ceil(pen().widthF())) + 1;
  return keyAxis()->axisRect()->rect().adjusted(-w, -w - depthReach_, w + depthReach_, w);
}

void TrendSeries::draw(QCPPainter* painter) {
  // On screen the chart's picture holds the curve.
  if (host_ && host_->replotting()) return;
  if (!keyAxis()) return;
  ColumnReduction reduction;  // the page's columns are not the screen's
  const double a = keyAxis()->coordToPixel(0);
  const Shape s = shapeWith({a, keyAxis()->coordToPixel(1) - a}, &reduction);
  paint(painter, s, -HUGE_VAL, clipRect().translated(0, -1), nullptr);
}

void TrendSeries::paint(QCPPainter* painter, const Shape& shape, double fromX, const QRect& clip,
                        QImage* image) const {
  const QVector<QLineF>& segments = shape.segments;
  if (segments.isEmpty()) return;
  // As the layer sets it before drawing a plottable: antialiased, QCPPainter
  // draws half a pixel down and right, which puts a 2-pixel line at a
  // column's centre on the column's edges.
  applyDefaultAntialiasingHint(painter);
  const QColor color = pen().color();
  const double width = pen().widthF();
  // The first of the segments whose drawing, `right` pixels further right,
  // reaches fromX (their right ends only grow).
  const auto firstReaching = [&](double right) {
    int k = int(segments.size());
    while (k > 0 && std::max(segments[k - 1].x1(), segments[k - 1].x2()) + right >= fromX) --k;
    return k;
  };

  if (depthThickness_ > 0) {
    if (shape.columns) {
      paintColumnRibbon(painter, segments, fromX, clip, image);
    } else {
      // The ribbon: the line repeated deeper and deeper in one-pixel steps,
      // up and right by turns so the copies close up whatever the slope
      // (cheap 1-pixel lines), its far edge a shade darker.
      const int k = firstReaching(depthFront_ + depthThickness_ + 2);
      const QLineF* lines = segments.constData() + k;
      const int count = int(segments.size()) - k;
      painter->setRenderHint(QPainter::Antialiasing, false);
      painter->setPen(QPen(mix(color, Qt::white, 0.45), 1, Qt::SolidLine, Qt::SquareCap));
      for (int step = 2 * depthThickness_ - 1; step >= 1; --step) {
        const int dx = depthFront_ + step / 2, dy = depthFront_ + (step + 1) / 2;
        painter->translate(dx, -dy);
        painter->drawLines(lines, count);
        painter->translate(-dx, dy);
      }
      const int d = depthFront_ + depthThickness_;
      painter->setPen(QPen(color.darker(150), 1, Qt::SolidLine, Qt::SquareCap));
      painter->translate(d, -d);
      painter->drawLines(lines, count);
      painter->translate(-d, d);
    }
  }

  applyDefaultAntialiasingHint(painter);
  painter->translate(depthFront_, -depthFront_);
  const int k = firstReaching(depthFront_ + width + 2);
  if (dotted_) {
    painter->setPen(QPen(color, width, Qt::SolidLine, Qt::FlatCap));
    // The pattern runs on from the start of each run, so it is cut from all
    // of it; crowded, along the path down and up the columns.
    QVector<QLineF> on = dots(shape.columns ? columnPath(shape) : segments, width, 2 * width);
    int j = int(on.size());
    while (j > 0 && std::max(on[j - 1].x1(), on[j - 1].x2()) + depthFront_ + width + 2 >= fromX) --j;
    painter->drawLines(on.constData() + j, int(on.size()) - j);
  } else {
    // Square caps close the joints between the separately drawn segments.
    painter->setPen(QPen(color, width, Qt::SolidLine, Qt::SquareCap));
    painter->drawLines(segments.constData() + k, int(segments.size()) - k);
  }
  painter->translate(-depthFront_, depthFront_);
}

void TrendSeries::paintColumnRibbon(QCPPainter* painter, const QVector<QLineF>& segments, double fromX,
                                    const QRect& clip, QImage* image) const {
  // The ribbon of a crowded curve, as the copies of its line in one-pixel
  // steps would cover it, but a column at a time: each column's line as the
  // 1-pixel raster it has, the copies' union over a column taken as one span.
  const int firstColumn = floorToInt(segments.first().x1());
  const int lastColumn = floorToInt(segments.last().x1());
  if (lastColumn < firstColumn) return;
  struct Thin {
    int top = 0, bottom = -1;
  };
  std::vector<Thin> thin(size_t(lastColumn - firstColumn + 1));
  for (const QLineF& s : segments) {
    const int c = floorToInt(s.x1()) - firstColumn;
    if (c < 0 || c >= int(thin.size())) continue;
    const int top = floorToInt(std::min(s.y1(), s.y2())), bottom = floorToInt(std::max(s.y1(), s.y2()));
    Thin& t = thin[size_t(c)];
    if (t.bottom < t.top) {
      t = {top, bottom};
    } else {
      t.top = std::min(t.top, top);
      t.bottom = std::max(t.bottom, bottom);
    }
  }
  const auto at = [&](int column) -> const Thin* {
    const int c = column - firstColumn;
    if (c < 0 || c >= int(thin.size()) || thin[size_t(c)].bottom < thin[size_t(c)].top) return nullptr;
    return &thin[size_t(c)];
  };

  const int f = depthFront_, t = depthThickness_, d = f + t;
  QRect area = clip;
  if (image) area &= image->rect();
  const int start = std::max({firstColumn + f, area.left(), fromX > -1e9 ? floorToInt(fromX) : firstColumn});
  const int end = std::min(lastColumn + d, area.right());
  if (end < start) return;

  // Copy j steps right of the front (j = 0..t-1) lies front + j + 1 up, and
  // beyond the first also front + j; the far edge lies front + t across and up.
  std::vector<QRect> light, dark;
  light.reserve(size_t(end - start + 1));
  dark.reserve(size_t(end - start + 1));
  const auto span = [&](std::vector<QRect>& into, int x, int top, int bottom) {
    top = std::max(top, area.top());
    bottom = std::min(bottom, area.bottom());
    if (top <= bottom) into.emplace_back(x, top, 1, bottom - top + 1);
  };
  for (int x = start; x <= end; ++x) {
    int top = std::numeric_limits<int>::max(), bottom = std::numeric_limits<int>::min();
    for (int j = 0; j < t; ++j) {
      if (const Thin* s = at(x - f - j)) {
        top = std::min(top, s->top - (f + j + 1));
        bottom = std::max(bottom, s->bottom - (j == 0 ? f + 1 : f + j));
      }
    }
    if (top <= bottom) span(light, x, top, bottom);
    if (const Thin* s = at(x - d)) span(dark, x, s->top - d, s->bottom - d);
  }

  const QColor lightColor = mix(pen().color(), Qt::white, 0.45), darkColor = pen().color().darker(150);
  if (image && image->format() == QImage::Format_ARGB32_Premultiplied && image->devicePixelRatio() == 1 &&
      lightColor.alpha() == 255 && darkColor.alpha() == 255) {
    // Single-pixel-wide spans cost QPainter more to set up than to fill.
    uchar* bits = image->bits();
    const qsizetype perLine = image->bytesPerLine();
    const auto fill = [&](const std::vector<QRect>& spans, QRgb rgb) {
      for (const QRect& r : spans)
        for (int row = r.top(); row <= r.bottom(); ++row)
          reinterpret_cast<QRgb*>(bits + row * perLine)[r.left()] = rgb;
    };
    fill(light, lightColor.rgba());
    fill(dark, darkColor.rgba());
    return;
  }
  // The same pixels through the painter, without its antialiasing shift.
  const bool shifted = painter->antialiasing() && !painter->modes().testFlag(QCPPainter::pmVectorized);
  const double undo = shifted ? 0.5 : 0;
  painter->translate(-undo, -undo);
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setPen(Qt::NoPen);
  painter->setBrush(lightColor);
  painter->drawRects(light.data(), int(light.size()));
  painter->setBrush(darkColor);
  painter->drawRects(dark.data(), int(dark.size()));
  painter->setBrush(Qt::NoBrush);
  painter->translate(undo, undo);
}

void TrendSeries::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
  painter->setRenderHint(QPainter::Antialiasing, false);
  QPen p(pen().color(), pen().widthF(), dotted_ ? Qt::DotLine : Qt::SolidLine, Qt::FlatCap);
  painter->setPen(p);
  const double y = std::round(rect.center().y());
  painter->drawLine(QLineF(rect.left(), y, rect.right(), y));
}
