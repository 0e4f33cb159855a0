#pragma once
// The trend chart: twelve curves, one per channel of the results log, whose x
// is the result's index, each drawn times its display factor. It follows the
// log: new results extend the curves, a cleared or loaded log redraws them.
// Axes scale automatically until the user zooms, scrolls or asks to follow
// the newest points; a zoom can be undone.
//
// The mouse: drag a rectangle with the left button to zoom into it, drag
// with the right button to scroll, double click to go back (the window's
// handler decides what going back means).
//
// On screen the curves are kept as a picture (CurvePicture) from one redraw
// to the next, drawn anew only where they changed: appending a result to a
// day in view draws the newest column, not the day. For that the picture's
// mapping of points to pixels across stays as it was while the axis' own
// differs from it by at most a quarter pixel over the points in view.

#include <QColor>
#include <QPixmap>
#include <QVariantAnimation>
#include <array>
#include <utility>
#include <vector>

#include <qcustomplot.h>

class ResultsLog;

#include "core/measurement.h"
#include "view/curve_picture.h"
#include "view/trend_series.h"

class TrendChart : public QCustomPlot, public TrendSeries::Host {
  Q_OBJECT
 public:
  static constexpr int kFollowWindow = 50;
  // The chart's title; kept for the printout's use, never shown on screen.
  static const QString kTitleText;

  explicit TrendChart(QWidget* parent = nullptr);
  ~TrendChart() override;

  // The results to show (not owned).
  void setResultsLog(const ResultsLog* log);

  // The curve of a channel (Tg, O2, CO, NO, NO2, SO2, H2S, CO2, NOx, Qa, Alf, Ta).
  TrendSeries* series(int channel) const { return series_[channel]; }
  // Points: every curve has one per result.
  int pointCount() const;

  // Curve settings.
  void setShown(int channel, bool shown);
  bool isShown(int channel) const;
  void setFactor(int channel, double factor);
  double factor(int channel) const;
  void setColor(int channel, const QColor& color);
  // Line width of every curve (2 pixels unless changed; the printout and the
  // benchmarks change it).
  void setLineWidth(double width);

  // Panel settings.
  void set3D(bool on);
  bool is3D() const { return view3D_; }
  void setLogScale(bool on);
  bool logScale() const;
  // Vertical gradient of the panel: `bottom` at the bottom edge, `top` at the top.
  void setGradient(const QColor& bottom, const QColor& top);
  QColor gradientBottom() const { return gradientBottom_; }
  QColor gradientTop() const { return gradientTop_; }
  // Depth of the 3-D look in pixels at the current size (0 when flat).
  int depth() const { return depth_; }

  // Axis limits with the checks of the chart component: a minimum above the
  // current maximum (or a maximum below the minimum) is refused with false.
  // The automatic modes stay as they are.
  bool setAxisMinimum(QCPAxis* axis, double value);
  bool setAxisMaximum(QCPAxis* axis, double value);
  // Sets both (in either order), at least 1e-10 apart; the axis leaves all
  // its automatic modes.
  void setAxisMinMax(QCPAxis* axis, double a, double b);
  // Automatic range: on or off for both ends.
  void setAxisAutomatic(QCPAxis* axis, bool on);
  void setAxisAutomaticMinimum(QCPAxis* axis, bool on);
  void setAxisAutomaticMaximum(QCPAxis* axis, bool on);
  bool axisAutomatic(QCPAxis* axis) const;
  bool axisAutomaticMinimum(QCPAxis* axis) const;
  bool axisAutomaticMaximum(QCPAxis* axis) const;

  // Follow window: while following, the bottom axis shows the last 50 points.
  // applyFollowWindow sets the two ends for a count of n in the order that
  // keeps minimum <= maximum; true when the axis took both.
  bool isFollowing() const { return following_; }
  void setFollowing(bool on) { following_ = on; }
  bool applyFollowWindow(int n);

  // Zoom by percent (above 100 narrows), saving the scales first on the first
  // zoom or mouse scroll since the last undo; undo restores them.
  void zoomPercent(double percent);
  void undoZoom();
  bool isZoomed() const { return zoomed_; }

  // Shift an axis by `percent` of its range (of its decades when
  // logarithmic); horizontal = top then bottom, vertical = left then right.
  void scrollAxis(QCPAxis* axis, double percent);
  void scrollHorizontal(double percent);
  void scrollVertical(double percent);

  // Applies the automatic ranges and queues a redraw (several in a row cost one).
  void refresh();
  // Applies the automatic ranges and redraws everything at once, the
  // curves' picture too.
  void redrawNow();

  // The mapping of points to pixels across that drawing on screen uses.
  TrendSeries::KeyMapping drawingMapping() const override;
  // True while the chart draws itself for the screen, not for a page.
  bool replotting() const override { return mReplotting; }
  // Stretches of rows (first, last) whose results do not count in the
  // averages — a fault, maintenance, the plant off, a test — shaded behind
  // the curves.
  const std::vector<std::pair<int, int>>& invalidStretches() const { return invalidStretches_; }
  // Where the last redraw drew the curves anew: from this x (pixels)
  // rightwards; -infinity for all, +infinity for none (for tests).
  double curvesRedrawnFrom() const { return picture_.redrawnFrom(); }

 signals:
  void zoomed();
  void scrolled();
  void doubleClicked();

 protected:
  void updateLayout() override;
  void processRectZoom(QRect rect, QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  struct AxisMode {
    bool automatic = true;
    bool automaticMinimum = true;
    bool automaticMaximum = true;
  };
  struct AxisScale {
    QCPRange range;
    AxisMode mode;
  };
  QCPAxis* axisAt(int i) const;
  void onRowsAppended(int first, int last);
  void onLogReset();
  void noteStatuses(int first, int last);
  void noteAllStatuses();
  int axisIndex(QCPAxis* axis) const;
  void saveScalesOnce();
  void applyAutomaticRanges();
  void updateBackground();
  void updateLegend();
  void updateDrawingOrder();
  // The zoom's transition: the picture before the zoom shrinks or grows to
  // where its range lies now and fades out over the new picture.
  struct ZoomStart {
    QPixmap picture;
    QRect area;
    QCPRange x, y;
  };
  ZoomStart captureBeforeZoom();
  void animateZoom(const ZoomStart& start);
  // The layerable that shows the curves' picture, in the curves' layer.
  class CurveCanvas;
  void drawCurves(QCPPainter* painter);

  const ResultsLog* log_ = nullptr;
  TrendSeries* series_[kChannelCount] = {};
  bool following_ = false;
  AxisMode modes_[4];
  bool saved_ = false;
  bool zoomed_ = false;
  AxisScale savedScales_[4];
  bool view3D_ = false;
  int depth_ = 0;
  QColor gradientBottom_ = Qt::white;
  QColor gradientTop_ = QColor(0xA6, 0xCA, 0xF0);
  QCPLayoutGrid* legendColumn_ = nullptr;
  QCPLayerable* depthFrame_ = nullptr;
  std::vector<std::pair<int, int>> invalidStretches_;
  QWidget* zoomOverlay_ = nullptr;
  QVariantAnimation* zoomAnimation_ = nullptr;
  CurvePicture picture_;
  // The mapping across the picture was drawn with, and the plot area then.
  TrendSeries::KeyMapping frame_;
  QRect frameRect_;
  bool framed_ = false;

  // Scrolling with the right button: where it started and the axes' ranges then.
  bool scrolling_ = false;
  bool scrolled_ = false;
  QPoint scrollStart_;
  QCPRange scrollStartRanges_[4];
};
