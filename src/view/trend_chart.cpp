#include "view/trend_chart.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "platform/seams.h"
#include "data/results_log.h"
#include "data/value_format.h"
#include "emissions/validation.h"

const QString TrendChart::kTitleText = QStringLiteral(u"Временная зависимость результатов измерения");

namespace {

constexpr int kBottom = 0, kLeft = 1, kTop = 2, kRight = 3;
constexpr int kMinorTicks = 5;
constexpr int kCO2 = 7;
// A drag shorter than this either way is taken for a slip of the hand, not a zoom.
constexpr int kMinZoomPixels = 8;

// Bottom axis: sequence numbers, so whole-number steps only.
class SequenceTicker : public QCPAxisTicker {
 protected:
  double getTickStep(const QCPRange& range) override {
    return std::max(1.0, QCPAxisTicker::getTickStep(range));
  }
  int getSubTickCount(double) override { return kMinorTicks; }
};

class ValueTicker : public QCPAxisTicker {
 protected:
  int getSubTickCount(double) override { return kMinorTicks; }
};

// The legend box with a one-pixel shadow to its lower right.
class ShadowLegend : public QCPLegend {
 protected:
  void draw(QCPPainter* painter) override {
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0x50, 0x50, 0x50));
    painter->drawRect(QRectF(mOuterRect).translated(1, 1));
    QCPLegend::draw(painter);
  }
};

// The 3-D look's box: the outline of the back wall and the edges that run to
// it from the front plane, with the grid lines drawn on the back wall and
// carried over the left wall and the floor. The walls themselves stay clear.
class DepthFrame : public QCPLayerable {
 public:
  explicit DepthFrame(TrendChart* chart) : QCPLayerable(chart, QStringLiteral("grid")), chart_(chart) {}

 protected:
  void applyDefaultAntialiasingHint(QCPPainter* painter) const override {
    painter->setRenderHint(QPainter::Antialiasing, false);
  }

  void draw(QCPPainter* painter) override {
    const int d = chart_->depth();
    if (d <= 0) return;
    const QRect r = chart_->axisRect()->rect();
    const int left = r.left(), right = r.right(), top = r.top(), bottom = r.bottom();

    QPen grid(QColor(0xA0, 0xA0, 0xA0), 1, Qt::DotLine);
    painter->setPen(grid);
    for (double tick : chart_->xAxis->tickVector()) {
      const double x = std::round(chart_->xAxis->coordToPixel(tick));
      if (x < left || x > right) continue;
      painter->drawLine(QLineF(x, bottom, x + d, bottom - d));
      painter->drawLine(QLineF(x + d, bottom - d, x + d, top - d));
    }
    grid.setColor(Qt::blue);
    painter->setPen(grid);
    for (double tick : chart_->yAxis->tickVector()) {
      const double y = std::round(chart_->yAxis->coordToPixel(tick));
      if (y < top || y > bottom) continue;
      painter->drawLine(QLineF(left, y, left + d, y - d));
      painter->drawLine(QLineF(left + d, y - d, right + d, y - d));
    }

    painter->setPen(QPen(QColor(0x70, 0x70, 0x70), 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRect(left + d, top - d, right - left, bottom - top));
    painter->drawLine(QLineF(left, top, left + d, top - d));
    painter->drawLine(QLineF(left, bottom, left + d, bottom - d));
    painter->drawLine(QLineF(right, bottom, right + d, bottom - d));
  }

 private:
  TrendChart* chart_;
};

// The stretches of results that do not count in the averages, shaded across
// the plot behind the grid's lines and the curves: one band a stretch.
class StatusBands : public QCPLayerable {
 public:
  explicit StatusBands(TrendChart* chart) : QCPLayerable(chart, QStringLiteral("grid")), chart_(chart) {}

 protected:
  void applyDefaultAntialiasingHint(QCPPainter* painter) const override {
    painter->setRenderHint(QPainter::Antialiasing, false);
  }

  void draw(QCPPainter* painter) override {
    const std::vector<std::pair<int, int>>& stretches = chart_->invalidStretches();
    if (stretches.empty()) return;
    const QRect r = chart_->axisRect()->rect();
    QCPAxis* x = chart_->xAxis;
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0xE0, 0x30, 0x30, 44));
    for (const auto& [first, last] : stretches) {
      double a = x->coordToPixel(first - 0.5), b = x->coordToPixel(last + 0.5);
      if (a > b) std::swap(a, b);
      a = std::max(a, double(r.left()));
      b = std::min(b, double(r.right()));
      if (b < a) continue;
      // At least a pixel, so that a single result stays in sight in a whole day.
      painter->drawRect(QRectF(a, r.top(), std::max(1.0, b - a), r.height()));
    }
  }

 private:
  TrendChart* chart_;
};

// Paints the picture from before a zoom over the chart while it moves to its
// place in the new view and fades.
class ZoomOverlay : public QWidget {
 public:
  explicit ZoomOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
  }
  QPixmap picture;
  QRect clip;
  QRectF from, to;
  double progress = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setClipRect(clip);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const double t = progress;
    const QRectF r(from.left() + (to.left() - from.left()) * t, from.top() + (to.top() - from.top()) * t,
                   from.width() + (to.width() - from.width()) * t,
                   from.height() + (to.height() - from.height()) * t);
    p.setOpacity(1 - t);
    p.drawPixmap(r, picture, QRectF(picture.rect()));
  }
};

// A shift of the points across by at most this many pixels leaves the
// curves' picture as it is.
constexpr double kMaxDrift = 0.25;

}  // namespace

class TrendChart::CurveCanvas : public QCPLayerable {
 public:
  explicit CurveCanvas(TrendChart* chart) : QCPLayerable(chart, QStringLiteral("main")), chart_(chart) {}

 protected:
  void applyDefaultAntialiasingHint(QCPPainter*) const override {}
  void draw(QCPPainter* painter) override {
    if (chart_->replotting()) chart_->drawCurves(painter);
  }

 private:
  TrendChart* chart_;
};

TrendChart::TrendChart(QWidget* parent) : QCustomPlot(parent) {
  setAutoAddPlottableToLegend(false);
  // A replot is shown with the window's next repaint, together with the new
  // table row, not in a repaint of its own: one flush to the screen a result.
  setPlottingHint(QCP::phImmediateRefresh, false);
  QLocale locale = seams::locale();
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  setLocale(locale);

  for (int i = 0; i < kChannelCount; ++i) {
    auto* s = new TrendSeries(xAxis, yAxis, i);
    s->setHost(this);
    s->setName(kChannelTitles[i]);
    s->setLineWidth(2);
    s->setDotted(i == kCO2);
    series_[i] = s;
  }

  // Bottom axis: the point numbers.
  xAxis->setTicker(QSharedPointer<SequenceTicker>::create());
  xAxis->setNumberFormat(QStringLiteral("f"));
  xAxis->setNumberPrecision(0);
  xAxis->setBasePen(QPen(Qt::blue, 1));
  xAxis->setTickLabelFont(QFont(QStringLiteral("Courier New"), 8));
  xAxis->setTickLabelColor(Qt::black);
  xAxis->setTickLength(5, 0);
  xAxis->setTickPen(QPen(Qt::black, 2));
  xAxis->setSubTickLength(3, 0);
  xAxis->setSubTickPen(QPen(Qt::black, 1, Qt::DotLine));
  xAxis->grid()->setPen(QPen(QColor(0xA0, 0xA0, 0xA0), 1, Qt::DotLine));

  // Left axis: the values times their factors.
  yAxis->setTicker(QSharedPointer<ValueTicker>::create());
  yAxis->setTickLabelFont(QFont(QStringLiteral("Arial"), 8));
  yAxis->setTickLabelColor(Qt::black);
  yAxis->setTickLength(5, 0);
  yAxis->setTickPen(QPen(Qt::black, 2));
  yAxis->setSubTickLength(3, 0);
  yAxis->setSubTickPen(QPen(Qt::black, 1));
  yAxis->grid()->setPen(QPen(Qt::blue, 1, Qt::DotLine));

  // Top and right axes only take part in zooming and scrolling.
  xAxis2->setVisible(false);
  yAxis2->setVisible(false);
  for (int i = 0; i < 4; ++i) axisAt(i)->setRange(0, 1);
  axisRect()->setBackground(Qt::NoBrush);

  // The legend stands in its own column right of the plot, at the top.
  QCPLegend* builtIn = legend;
  axisRect()->insetLayout()->take(builtIn);
  delete builtIn;
  legendColumn_ = new QCPLayoutGrid;
  plotLayout()->addElement(0, 1, legendColumn_);
  plotLayout()->setColumnStretchFactor(1, 0.001);
  legendColumn_->setMargins(QMargins(0, 0, 0, 0));
  auto* shadowLegend = new ShadowLegend;
  legendColumn_->addElement(0, 0, shadowLegend);
  legendColumn_->addElement(1, 0, new QCPLayoutElement(this));
  legendColumn_->setRowStretchFactors({0.001, 1});
  legend = shadowLegend;
  legend->setLayer(QStringLiteral("legend"));
  legend->setBorderPen(Qt::NoPen);
  legend->setBrush(Qt::white);
  legend->setFont(QFont(QStringLiteral("Arial Narrow"), 10));
  legend->setTextColor(Qt::black);
  legend->setIconSize(22, 12);
  legend->setIconTextPadding(5);
  legend->setRowSpacing(0);
  legend->setMargins(QMargins(6, 3, 8, 3));
  legend->setSelectableParts(QCPLegend::spNone);

  setSelectionRectMode(QCP::srmZoom);
  selectionRect()->setPen(QPen(Qt::black, 1, Qt::DashLine));
  selectionRect()->setBrush(QColor(0x30, 0x60, 0xC0, 40));

  new CurveCanvas(this);
  depthFrame_ = new DepthFrame(this);
  new StatusBands(this);
  zoomOverlay_ = new ZoomOverlay(this);
  zoomAnimation_ = new QVariantAnimation(this);
  zoomAnimation_->setDuration(220);
  zoomAnimation_->setStartValue(0.0);
  zoomAnimation_->setEndValue(1.0);
  zoomAnimation_->setEasingCurve(QEasingCurve::OutCubic);
  connect(zoomAnimation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    static_cast<ZoomOverlay*>(zoomOverlay_)->progress = v.toDouble();
    zoomOverlay_->update();
  });
  connect(zoomAnimation_, &QVariantAnimation::finished, zoomOverlay_, &QWidget::hide);
  updateLegend();
  updateDrawingOrder();
  updateBackground();
}

TrendChart::~TrendChart() = default;

// ---------------------------------------------------------------------------
// Points

void TrendChart::setResultsLog(const ResultsLog* log) {
  if (log_) disconnect(log_, nullptr, this, nullptr);
  log_ = log;
  noteAllStatuses();
  for (TrendSeries* s : series_) s->setLog(log);
  if (log_) {
    connect(log_, &ResultsLog::rowsAppended, this, &TrendChart::onRowsAppended);
    connect(log_, &ResultsLog::reset, this, &TrendChart::onLogReset);
  }
  refresh();
}

int TrendChart::pointCount() const { return log_ ? log_->count() : 0; }

void TrendChart::noteStatuses(int first, int last) {
  for (int row = first; row <= last; ++row) {
    const std::optional<ResultStatus> status = log_->status(row);
    if (!status || !emissions::invalidReason(*status)) continue;
    if (!invalidStretches_.empty() && invalidStretches_.back().second == row - 1)
      invalidStretches_.back().second = row;
    else
      invalidStretches_.emplace_back(row, row);
  }
}

void TrendChart::noteAllStatuses() {
  invalidStretches_.clear();
  // A data file's rows come first and have none.
  if (log_) noteStatuses(log_->loadedCount(), log_->count() - 1);
}

void TrendChart::onRowsAppended(int first, int last) {
  noteStatuses(first, last);
  for (TrendSeries* s : series_) s->noteAppended(first, last);
  if (following_) applyFollowWindow(pointCount());
  refresh();
}

void TrendChart::onLogReset() {
  noteAllStatuses();
  for (TrendSeries* s : series_) s->noteReset();
  refresh();
}

// ---------------------------------------------------------------------------
// Curves and panel

void TrendChart::setShown(int channel, bool shown) {
  if (series_[channel]->visible() == shown) return;
  series_[channel]->setVisible(shown);
  updateLegend();
}

bool TrendChart::isShown(int channel) const { return series_[channel]->visible(); }

void TrendChart::setFactor(int channel, double factor) { series_[channel]->setFactor(factor); }

double TrendChart::factor(int channel) const { return series_[channel]->factor(); }

void TrendChart::setColor(int channel, const QColor& color) { series_[channel]->setColor(color); }

void TrendChart::setLineWidth(double width) {
  for (TrendSeries* s : series_) s->setLineWidth(width);
}

void TrendChart::set3D(bool on) {
  if (view3D_ == on) return;
  view3D_ = on;
  updateDrawingOrder();
}

void TrendChart::setLogScale(bool on) {
  if (on == logScale()) return;
  if (on) {
    auto ticker = QSharedPointer<QCPAxisTickerLog>::create();
    ticker->setSubTickCount(kMinorTicks);
    yAxis->setScaleType(QCPAxis::stLogarithmic);
    yAxis->setTicker(ticker);
  } else {
    yAxis->setScaleType(QCPAxis::stLinear);
    yAxis->setTicker(QSharedPointer<ValueTicker>::create());
  }
}

bool TrendChart::logScale() const { return yAxis->scaleType() == QCPAxis::stLogarithmic; }

void TrendChart::setGradient(const QColor& bottom, const QColor& top) {
  gradientBottom_ = bottom;
  gradientTop_ = top;
  updateBackground();
}

void TrendChart::updateBackground() {
  QLinearGradient g(0, 1, 0, 0);
  g.setCoordinateMode(QGradient::ObjectMode);
  g.setColorAt(0, gradientBottom_);
  g.setColorAt(1, gradientTop_);
  setBackground(QBrush(g));
}

void TrendChart::updateLegend() {
  // Rebuilt whole, so the entries keep the curves' order whatever was shown when.
  legend->clearItems();
  for (TrendSeries* s : series_)
    if (s->visible()) s->addToLegend(legend);
  legend->setVisible(legend->itemCount() > 0);
}

void TrendChart::updateDrawingOrder() {
  // Flat, later curves lie over earlier ones; in depth, the first curve is at
  // the front, so the curves are drawn from the back.
  QCPLayer* main = layer(QStringLiteral("main"));
  for (int k = 0; k < kChannelCount; ++k) series_[view3D_ ? kChannelCount - 1 - k : k]->setLayer(main);
}

void TrendChart::updateLayout() {
  const QRect vp = viewport();
  plotLayout()->setMargins(QMargins(qRound(vp.width() * 0.01), qRound(vp.height() * 0.02),
                                    qRound(vp.width() * 0.01), qRound(vp.height() * 0.03)));
  depth_ = view3D_ ? std::clamp(qRound(std::min(vp.width(), vp.height()) * 0.08), 8, 36) : 0;
  axisRect()->setMinimumMargins(QMargins(0, depth_, depth_, 0));
  xAxis->grid()->setVisible(depth_ == 0);
  yAxis->grid()->setVisible(depth_ == 0);

  // Each shown curve gets its own slice of the depth, the first at the front.
  int shown = 0;
  for (const TrendSeries* s : series_) shown += s->visible() ? 1 : 0;
  const double slice = shown > 0 ? double(depth_) / shown : 0;
  const int thickness = depth_ > 0 ? std::clamp(int(std::lround(slice * 0.8)), 1, 10) : 0;
  int k = 0;
  for (TrendSeries* s : series_) {
    if (depth_ > 0 && s->visible())
      s->setDepth(int(std::lround(k++ * slice)), thickness, depth_);
    else
      s->setDepth(0, 0, 0);
  }
  QCustomPlot::updateLayout();
}

// ---------------------------------------------------------------------------
// Axes

QCPAxis* TrendChart::axisAt(int i) const {
  switch (i) {
    case kBottom: return xAxis;
    case kLeft: return yAxis;
    case kTop: return xAxis2;
    default: return yAxis2;
  }
}

int TrendChart::axisIndex(QCPAxis* axis) const {
  for (int i = 0; i < 4; ++i)
    if (axisAt(i) == axis) return i;
  return kBottom;
}

bool TrendChart::setAxisMinimum(QCPAxis* axis, double value) {
  if (!(value <= axis->range().upper)) return false;
  axis->setRangeLower(value);
  return true;
}

bool TrendChart::setAxisMaximum(QCPAxis* axis, double value) {
  if (!(value >= axis->range().lower)) return false;
  axis->setRangeUpper(value);
  return true;
}

void TrendChart::setAxisMinMax(QCPAxis* axis, double a, double b) {
  if (!std::isfinite(a) || !std::isfinite(b)) return;
  if (a > b) std::swap(a, b);
  if (b - a < 1e-10) b = std::max(a + 1e-10, std::nextafter(a, std::numeric_limits<double>::infinity()));
  modes_[axisIndex(axis)] = AxisMode{false, false, false};
  axis->setRange(a, b);
}

void TrendChart::setAxisAutomatic(QCPAxis* axis, bool on) { modes_[axisIndex(axis)] = AxisMode{on, on, on}; }

void TrendChart::setAxisAutomaticMinimum(QCPAxis* axis, bool on) {
  modes_[axisIndex(axis)].automaticMinimum = on;
}

void TrendChart::setAxisAutomaticMaximum(QCPAxis* axis, bool on) {
  modes_[axisIndex(axis)].automaticMaximum = on;
}

bool TrendChart::axisAutomatic(QCPAxis* axis) const { return modes_[axisIndex(axis)].automatic; }

bool TrendChart::axisAutomaticMinimum(QCPAxis* axis) const {
  return modes_[axisIndex(axis)].automaticMinimum;
}

bool TrendChart::axisAutomaticMaximum(QCPAxis* axis) const {
  return modes_[axisIndex(axis)].automaticMaximum;
}

void TrendChart::applyAutomaticRanges() {
  // An end follows the data when the axis is automatic or that end is.
  const auto apply = [](QCPAxis* axis, const AxisMode& mode, double lo, double hi) {
    QCPRange r = axis->range();
    if (mode.automatic || mode.automaticMinimum) r.lower = lo;
    if (mode.automatic || mode.automaticMaximum) r.upper = hi;
    if (r.lower < r.upper && r != axis->range()) axis->setRange(r);
  };

  apply(xAxis, modes_[kBottom], 0, std::max(pointCount() - 1, 1));

  // The extremes are kept per curve as points arrive, so this never walks the points.
  const bool log = logScale();
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (const TrendSeries* s : series_) {
    QCPRange r;
    if (!s->visible() || !s->drawnRange(log, &r)) continue;
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
      const double pad = std::max(1.0, std::abs(lo) * 0.1);
      lo -= pad;
      hi += pad;
    }
  }
  apply(yAxis, modes_[kLeft], lo, hi);
}

bool TrendChart::applyFollowWindow(int n) {
  // Whichever end moves towards the other goes second, so the axis never
  // sees a minimum above its maximum.
  if (n - kFollowWindow >= xAxis->range().upper)
    return setAxisMaximum(xAxis, n) && setAxisMinimum(xAxis, n - kFollowWindow);
  return setAxisMinimum(xAxis, n - kFollowWindow) && setAxisMaximum(xAxis, n);
}

void TrendChart::saveScalesOnce() {
  if (saved_) return;
  for (int i = 0; i < 4; ++i) savedScales_[i] = {axisAt(i)->range(), modes_[i]};
  saved_ = true;
}

void TrendChart::zoomPercent(double percent) {
  applyAutomaticRanges();
  const ZoomStart start = captureBeforeZoom();
  saveScalesOnce();
  for (int i = 0; i < 4; ++i) {
    QCPAxis* a = axisAt(i);
    const double lo = a->range().lower, hi = a->range().upper;
    const double d = (hi - lo) * (percent - 100) / 100;
    setAxisMinMax(a, lo + d, hi - d);
  }
  zoomed_ = true;
  refresh();
  animateZoom(start);
  emit zoomed();
}

TrendChart::ZoomStart TrendChart::captureBeforeZoom() {
  ZoomStart start;
  if (!isVisible() || pointCount() == 0) return start;
  start.area = axisRect()->rect();
  start.picture = grab(start.area);
  start.x = xAxis->range();
  start.y = yAxis->range();
  return start;
}

void TrendChart::animateZoom(const ZoomStart& start) {
  if (start.picture.isNull()) return;
  redrawNow();  // the new view is drawn first, under the fading old one
  const QRectF to(QPointF(xAxis->coordToPixel(start.x.lower), yAxis->coordToPixel(start.y.upper)),
                  QPointF(xAxis->coordToPixel(start.x.upper), yAxis->coordToPixel(start.y.lower)));
  if (!std::isfinite(to.left()) || !std::isfinite(to.top()) || !std::isfinite(to.right()) ||
      !std::isfinite(to.bottom()) || std::abs(to.width()) > 1e6 || std::abs(to.height()) > 1e6)
    return;
  auto* overlay = static_cast<ZoomOverlay*>(zoomOverlay_);
  overlay->picture = start.picture;
  overlay->clip = start.area;
  overlay->from = QRectF(start.area);
  overlay->to = to.normalized();
  overlay->progress = 0;
  overlay->setGeometry(rect());
  overlay->show();
  overlay->raise();
  zoomAnimation_->stop();
  zoomAnimation_->start();
}

void TrendChart::undoZoom() {
  if (saved_) {
    for (int i = 0; i < 4; ++i) {
      axisAt(i)->setRange(savedScales_[i].range);
      modes_[i] = savedScales_[i].mode;
    }
    saved_ = false;
  }
  zoomed_ = false;
  refresh();
}

void TrendChart::scrollAxis(QCPAxis* axis, double percent) {
  const double lo = axis->range().lower, hi = axis->range().upper;
  if (axis->scaleType() == QCPAxis::stLogarithmic && lo * hi > 0) {
    // A share of the decades shown: the range keeps its sign and its decades.
    const double ratio = std::pow(hi / lo, percent / 100);
    setAxisMinMax(axis, lo * ratio, hi * ratio);
    return;
  }
  const double d = (hi - lo) * percent / 100;
  setAxisMinMax(axis, lo + d, hi + d);
}

void TrendChart::scrollHorizontal(double percent) {
  applyAutomaticRanges();
  scrollAxis(xAxis2, percent);
  scrollAxis(xAxis, percent);
  refresh();
}

void TrendChart::scrollVertical(double percent) {
  applyAutomaticRanges();
  scrollAxis(yAxis, percent);
  scrollAxis(yAxis2, percent);
  refresh();
}

void TrendChart::refresh() {
  applyAutomaticRanges();
  replot(QCustomPlot::rpQueuedReplot);
}

void TrendChart::redrawNow() {
  applyAutomaticRanges();
  picture_.invalidate();
  replot(QCustomPlot::rpImmediateRefresh);
}

TrendSeries::KeyMapping TrendChart::drawingMapping() const {
  const double a = xAxis->coordToPixel(0);
  const TrendSeries::KeyMapping axis{a, xAxis->coordToPixel(1) - a};
  if (!framed_ || frameRect_ != axisRect()->rect()) return axis;
  // The drift is linear in the index, so the points at the ends of the view bound it.
  const QCPRange r = xAxis->range();
  const double first = std::max(0.0, std::floor(r.lower) - 1);
  const double last = std::min(double(pointCount() - 1), std::ceil(r.upper) + 1);
  if (!(first <= last)) return axis;
  const auto drift = [&](double i) {
    return std::abs(frame_.offset + frame_.scale * i - (axis.offset + axis.scale * i));
  };
  return drift(first) <= kMaxDrift && drift(last) <= kMaxDrift ? frame_ : axis;
}

void TrendChart::drawCurves(QCPPainter* painter) {
  const TrendSeries::KeyMapping mapping = drawingMapping();
  frame_ = mapping;
  frameRect_ = axisRect()->rect();
  framed_ = true;
  // In the order the curves' layer holds them, as they would draw themselves.
  std::vector<CurvePicture::Curve> curves;
  for (QCPLayerable* child : layer(QStringLiteral("main"))->children()) {
    const auto* s = qobject_cast<const TrendSeries*>(child);
    if (s && s->realVisibility()) curves.push_back({s, s->shape(mapping), s->look()});
  }
  picture_.update(std::move(curves), viewport().size(), bufferDevicePixelRatio());
  painter->drawImage(QPointF(0, 0), picture_.image());
}

// ---------------------------------------------------------------------------
// Mouse

void TrendChart::processRectZoom(QRect rect, QMouseEvent*) {
  // The rectangle between the pixels where the drag began and ended,
  // whichever way it went, cut to the plotting area. (QRect::normalized
  // would move a backward rectangle's corners by a pixel.)
  const QRect r = QRect(QPoint(std::min(rect.left(), rect.right()), std::min(rect.top(), rect.bottom())),
                        QPoint(std::max(rect.left(), rect.right()), std::max(rect.top(), rect.bottom()))) &
                  axisRect()->rect();
  if (r.width() < kMinZoomPixels || r.height() < kMinZoomPixels) {
    replot(QCustomPlot::rpQueuedReplot);  // takes the rectangle off the screen
    return;
  }
  applyAutomaticRanges();
  const ZoomStart start = captureBeforeZoom();
  saveScalesOnce();
  for (QCPAxis* a : {xAxis, xAxis2})
    setAxisMinMax(a, a->pixelToCoord(r.left()), a->pixelToCoord(r.right() + 1));
  for (QCPAxis* a : {yAxis, yAxis2})
    setAxisMinMax(a, a->pixelToCoord(r.bottom() + 1), a->pixelToCoord(r.top()));
  zoomed_ = true;
  refresh();
  animateZoom(start);
  emit zoomed();
}

void TrendChart::mouseDoubleClickEvent(QMouseEvent* event) {
  QCustomPlot::mouseDoubleClickEvent(event);
  emit doubleClicked();
}

void TrendChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    // Scrolling is ours; the base would start a zoom rectangle for any button.
    event->accept();
    if (!axisRect()->rect().contains(event->pos())) return;
    applyAutomaticRanges();
    scrolling_ = true;
    scrolled_ = false;
    scrollStart_ = event->pos();
    for (int i = 0; i < 4; ++i) scrollStartRanges_[i] = axisAt(i)->range();
    setCursor(Qt::ClosedHandCursor);
    return;
  }
  if (event->button() == Qt::LeftButton) QCustomPlot::mousePressEvent(event);
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
  if (!scrolling_) {
    QCustomPlot::mouseMoveEvent(event);
    return;
  }
  event->accept();
  const QPoint delta = event->pos() - scrollStart_;
  if (!scrolled_ && delta.manhattanLength() < 3) return;
  if (!scrolled_) {
    saveScalesOnce();
    scrolled_ = true;
  }
  // The data follow the pointer: measured from where the drag began, so
  // rounding never adds up over a long drag.
  const QRect r = axisRect()->rect();
  for (int i = 0; i < 4; ++i) {
    QCPAxis* a = axisAt(i);
    const QCPRange start = scrollStartRanges_[i];
    const bool horizontal = a->orientation() == Qt::Horizontal;
    const double pixels = horizontal ? -delta.x() : delta.y();
    const double length = horizontal ? r.width() : r.height();
    if (length <= 0) continue;
    if (a->scaleType() == QCPAxis::stLogarithmic && start.lower > 0) {
      const double ratio = std::pow(start.upper / start.lower, pixels / length);
      setAxisMinMax(a, start.lower * ratio, start.upper * ratio);
    } else {
      const double shift = start.size() * pixels / length;
      setAxisMinMax(a, start.lower + shift, start.upper + shift);
    }
  }
  zoomed_ = true;
  replot(QCustomPlot::rpQueuedReplot);
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event) {
  if (!scrolling_) {
    if (event->button() == Qt::LeftButton) QCustomPlot::mouseReleaseEvent(event);
    return;
  }
  if (event->button() != Qt::RightButton) return;
  event->accept();
  scrolling_ = false;
  unsetCursor();
  if (scrolled_) emit scrolled();
  scrolled_ = false;
}
