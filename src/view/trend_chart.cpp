#include "view/trend_chart.h"

#include <cmath>
#include <limits>

#include "view/value_format.h"

namespace {
constexpr int kBottom = 0, kLeft = 1, kTop = 2, kRight = 3;
}

TrendChart::TrendChart(QWidget* parent) : QCustomPlot(parent) {
  setPlottingHint(QCP::phFastPolylines, true);
  setAutoAddPlottableToLegend(false);

  for (int i = 0; i < kChannelCount; ++i) {
    QCPGraph* g = addGraph(xAxis, yAxis);
    g->setName(ChannelTitles[i]);
    QPen pen(Qt::black, 2);
    if (i == 7) pen.setStyle(Qt::DotLine);  // CO2
    g->setPen(pen);
    g->setLineStyle(QCPGraph::lsLine);
    g->setScatterStyle(QCPScatterStyle::ssNone);
    g->addToLegend();
    Series[i] = g;
  }

  xAxis->setBasePen(QPen(Qt::blue, 1));
  xAxis->setTickLabelFont(QFont(QStringLiteral("Courier New"), 8));
  xAxis->setTickLabelColor(Qt::black);
  xAxis->setTickLength(5, 0);
  xAxis->setTickPen(QPen(Qt::black, 2));
  xAxis->setSubTickPen(QPen(Qt::black, 1, Qt::DotLine));
  yAxis->grid()->setPen(QPen(Qt::blue, 1, Qt::DotLine));
  yAxis->setTickLength(5, 0);
  yAxis->setSubTickLength(3, 0);
  yAxis->setTickPen(QPen(Qt::black, 2));
  xAxis2->setVisible(false);
  yAxis2->setVisible(false);
  xAxis->setRange(0, 1);
  yAxis->setRange(0, 1);
  xAxis2->setRange(0, 1);
  yAxis2->setRange(0, 1);

  legend->setVisible(true);
  legend->setBorderPen(Qt::NoPen);
  legend->setBrush(Qt::NoBrush);
  legend->setFont(QFont(QStringLiteral("Arial Narrow"), 10));
  legend->setTextColor(Qt::black);
  // The legend stands to the right of the plot, not inside it.
  axisRect()->insetLayout()->take(legend);
  plotLayout()->addElement(0, 1, legend);
  plotLayout()->setColumnStretchFactor(1, 0.001);
  legend->setMaximumSize(110, QWIDGETSIZE_MAX);

  axisRect()->setBackground(Qt::NoBrush);
  UpdateBackground();
}

TrendChart::~TrendChart() = default;

int TrendChart::PointCount() const { return int(curves_[0].values.size()); }

double TrendChart::StoredValue(int channel, int index) const {
  const auto& v = curves_[channel].values;
  return (index >= 0 && size_t(index) < v.size()) ? v[size_t(index)] : 0;
}

void TrendChart::AppendValue(int channel, double y) {
  Curve& c = curves_[channel];
  const double x = double(c.values.size());
  c.values.push_back(y);
  Series[channel]->addData(x, y * c.factor);
}

void TrendChart::AppendResult(const std::array<double, kChannelCount>& values) {
  for (int i = 0; i < kChannelCount; ++i) AppendValue(i, values[size_t(i)]);
  Refresh();
}

void TrendChart::ClearSeries() {
  for (int i = 0; i < kChannelCount; ++i) {
    curves_[i].values.clear();
    curves_[i].values.shrink_to_fit();
    Series[i]->data()->clear();
  }
  Refresh();
}

void TrendChart::SetShown(int channel, bool shown) {
  curves_[channel].shown = shown;
  Series[channel]->setVisible(shown);
  if (shown)
    Series[channel]->addToLegend();
  else
    Series[channel]->removeFromLegend();
}

bool TrendChart::Shown(int channel) const { return curves_[channel].shown; }

void TrendChart::SetFactor(int channel, double factor) {
  if (curves_[channel].factor == factor) return;
  curves_[channel].factor = factor;
  RebuildCurve(channel);
}

double TrendChart::Factor(int channel) const { return curves_[channel].factor; }

void TrendChart::SetColor(int channel, const QColor& color) {
  QPen pen = Series[channel]->pen();
  pen.setColor(color);
  Series[channel]->setPen(pen);
}

void TrendChart::Set3D(bool on) { view3D_ = on; }

void TrendChart::SetLogScale(bool on) {
  if (on) {
    yAxis->setScaleType(QCPAxis::stLogarithmic);
    yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
  } else {
    yAxis->setScaleType(QCPAxis::stLinear);
    yAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
  }
}

void TrendChart::SetGradient(const QColor& bottom, const QColor& top) {
  gradientBottom_ = bottom;
  gradientTop_ = top;
  UpdateBackground();
}

void TrendChart::UpdateBackground() {
  QLinearGradient g(0, 1, 0, 0);
  g.setCoordinateMode(QGradient::ObjectMode);
  g.setColorAt(0, gradientBottom_);
  g.setColorAt(1, gradientTop_);
  setBackground(QBrush(g));
}

QCPAxis* TrendChart::Axes(int i) const {
  switch (i) {
    case kBottom: return xAxis;
    case kLeft: return yAxis;
    case kTop: return xAxis2;
    default: return yAxis2;
  }
}

int TrendChart::AxisIndex(QCPAxis* axis) const {
  for (int i = 0; i < 4; ++i)
    if (Axes(i) == axis) return i;
  return kBottom;
}

bool TrendChart::SetAxisMinimum(QCPAxis* axis, double value) {
  if (value > axis->range().upper) return false;
  axis->setRangeLower(value);
  return true;
}

bool TrendChart::SetAxisMaximum(QCPAxis* axis, double value) {
  if (value < axis->range().lower) return false;
  axis->setRangeUpper(value);
  return true;
}

void TrendChart::SetAxisMinMax(QCPAxis* axis, double a, double b) {
  if (a > b) std::swap(a, b);
  if (b - a < 1e-10) b = a + 1e-10;
  automatic_[AxisIndex(axis)] = false;
  axis->setRange(a, b);
}

void TrendChart::SetAxisAutomatic(QCPAxis* axis, bool on) { automatic_[AxisIndex(axis)] = on; }

bool TrendChart::AxisAutomatic(QCPAxis* axis) const { return automatic_[AxisIndex(axis)]; }

void TrendChart::ApplyFollowWindow(int n) {
  if (n - kFollowWindow >= xAxis->range().upper) {
    SetAxisMaximum(xAxis, n);
    SetAxisMinimum(xAxis, n - kFollowWindow);
  } else {
    SetAxisMinimum(xAxis, n - kFollowWindow);
    SetAxisMaximum(xAxis, n);
  }
}

void TrendChart::SaveScalesOnce() {
  if (saved_) return;
  for (int i = 0; i < 4; ++i) savedScales_[i] = {Axes(i)->range(), automatic_[i]};
  saved_ = true;
}

void TrendChart::ZoomPercent(double percent) {
  SaveScalesOnce();
  for (int i = 0; i < 4; ++i) {
    QCPAxis* a = Axes(i);
    const double lo = a->range().lower, hi = a->range().upper;
    const double d = (hi - lo) * (percent - 100) / 100;
    SetAxisMinMax(a, lo + d, hi - d);
  }
  zoomed_ = true;
  Refresh();
  emit Chart1Zoom();
}

void TrendChart::UndoZoom() {
  if (saved_) {
    for (int i = 0; i < 4; ++i) {
      Axes(i)->setRange(savedScales_[i].range);
      automatic_[i] = savedScales_[i].automatic;
    }
    saved_ = false;
  }
  zoomed_ = false;
  Refresh();
}

void TrendChart::ScrollAxis(QCPAxis* axis, double percent) {
  const double lo = axis->range().lower, hi = axis->range().upper;
  const double d = (hi - lo) * percent / 100;
  SetAxisMinMax(axis, lo + d, hi + d);
}

void TrendChart::ScrollHorizontal(double percent) {
  ScrollAxis(xAxis2, percent);
  ScrollAxis(xAxis, percent);
  Refresh();
}

void TrendChart::ScrollVertical(double percent) {
  ScrollAxis(yAxis, percent);
  ScrollAxis(yAxis2, percent);
  Refresh();
}

void TrendChart::RebuildCurve(int channel) {
  const Curve& c = curves_[channel];
  QVector<QCPGraphData> data(qsizetype(c.values.size()));
  for (size_t i = 0; i < c.values.size(); ++i)
    data[qsizetype(i)] = QCPGraphData(double(i), c.values[i] * c.factor);
  Series[channel]->data()->set(data, true);
}

void TrendChart::ApplyAutomaticRanges() {
  const int n = PointCount();
  if (automatic_[kBottom]) xAxis->setRange(0, std::max(n - 1, 1));
  if (automatic_[kLeft]) {
    const bool log = yAxis->scaleType() == QCPAxis::stLogarithmic;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (int i = 0; i < kChannelCount; ++i) {
      if (!curves_[i].shown) continue;
      bool found = false;
      const QCPRange r =
          Series[i]->getValueRange(found, log ? QCP::sdPositive : QCP::sdBoth);
      if (!found) continue;
      lo = std::min(lo, r.lower);
      hi = std::max(hi, r.upper);
    }
    if (!(lo <= hi)) {
      lo = log ? 1 : 0;
      hi = log ? 10 : 1;
    } else if (lo == hi) {
      if (log) {
        lo /= 2;
        hi *= 2;
      } else {
        lo -= 1;
        hi += 1;
      }
    }
    yAxis->setRange(lo, hi);
  }
}

void TrendChart::Refresh() {
  ApplyAutomaticRanges();
  replot(QCustomPlot::rpQueuedReplot);
}

void TrendChart::mouseDoubleClickEvent(QMouseEvent* event) {
  QCustomPlot::mouseDoubleClickEvent(event);
  emit ChartDoubleClick();
}

void TrendChart::mousePressEvent(QMouseEvent* event) {
  QCustomPlot::mousePressEvent(event);
  dragStart_ = event->pos();
  dragStartX_ = xAxis->range();
  dragStartY_ = yAxis->range();
  if (event->button() == Qt::LeftButton) {
    drag_ = Drag::Zoom;
    if (!zoomRect_) {
      zoomRect_ = new QCPItemRect(this);
      zoomRect_->setPen(QPen(Qt::black, 1, Qt::DashLine));
      zoomRect_->setBrush(Qt::NoBrush);
    }
    zoomRect_->setVisible(false);
  } else if (event->button() == Qt::RightButton) {
    drag_ = Drag::Scroll;
  }
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
  QCustomPlot::mouseMoveEvent(event);
  if (drag_ == Drag::Zoom && zoomRect_) {
    zoomRect_->topLeft->setPixelPosition(dragStart_);
    zoomRect_->bottomRight->setPixelPosition(event->pos());
    zoomRect_->setVisible(true);
    replot(QCustomPlot::rpQueuedReplot);
  } else if (drag_ == Drag::Scroll) {
    SaveScalesOnce();
    const double dx = xAxis->pixelToCoord(dragStart_.x()) - xAxis->pixelToCoord(event->pos().x());
    const double dy = yAxis->pixelToCoord(dragStart_.y()) - yAxis->pixelToCoord(event->pos().y());
    SetAxisMinMax(xAxis, dragStartX_.lower + dx, dragStartX_.upper + dx);
    SetAxisMinMax(yAxis, dragStartY_.lower + dy, dragStartY_.upper + dy);
    dragStart_ = event->pos();
    dragStartX_ = xAxis->range();
    dragStartY_ = yAxis->range();
    replot(QCustomPlot::rpQueuedReplot);
  }
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event) {
  QCustomPlot::mouseReleaseEvent(event);
  const Drag drag = drag_;
  drag_ = Drag::None;
  if (zoomRect_) zoomRect_->setVisible(false);
  if (drag == Drag::Zoom) {
    const QPoint end = event->pos();
    if (std::abs(end.x() - dragStart_.x()) > 4 && std::abs(end.y() - dragStart_.y()) > 4) {
      if (end.x() < dragStart_.x()) {
        UndoZoom();  // dragging right to left undoes, as users of this chart expect
      } else {
        SaveScalesOnce();
        SetAxisMinMax(xAxis, xAxis->pixelToCoord(dragStart_.x()), xAxis->pixelToCoord(end.x()));
        SetAxisMinMax(yAxis, yAxis->pixelToCoord(dragStart_.y()), yAxis->pixelToCoord(end.y()));
        zoomed_ = true;
        Refresh();
        emit Chart1Zoom();
      }
    } else {
      replot(QCustomPlot::rpQueuedReplot);
    }
  } else if (drag == Drag::Scroll) {
    if (event->pos() != dragStart_ || xAxis->range() != dragStartX_) emit Chart1Scroll();
    zoomed_ = true;
  }
}
