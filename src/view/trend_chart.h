#pragma once
// Chart1: the trend chart. Twelve curves, one per channel, whose x is the
// point's sequence number; each curve keeps the values as appended and draws
// them times its display factor. Axes scale automatically until the user
// zooms, scrolls or asks to follow the newest points; a zoom can be undone.
//
// The mouse: drag a rectangle with the left button to zoom into it, drag
// with the right button to scroll, double click to go back (the window's
// handler decides what going back means).

#include <QColor>
#include <QPixmap>
#include <QVariantAnimation>
#include <array>

#include <qcustomplot.h>

#include "storage/settings_records.h"
#include "view/trend_series.h"

class TrendChart : public QCustomPlot {
  Q_OBJECT
 public:
  static constexpr int kFollowWindow = 50;
  // The chart's title; kept for the printout's use, never shown on screen.
  static const QString TitleText;

  explicit TrendChart(QWidget* parent = nullptr);
  ~TrendChart() override;

  // The curves, in channel order: Tg, O2, CO, NO, NO2, SO2, H2S, CO2, NOx, Qa, Alf, Ta.
  TrendSeries* Series[kChannelCount] = {};
  TrendSeries*& SeriesTg = Series[0];
  TrendSeries*& SeriesO2 = Series[1];
  TrendSeries*& SeriesCO = Series[2];
  TrendSeries*& SeriesNO = Series[3];
  TrendSeries*& SeriesNO2 = Series[4];
  TrendSeries*& SeriesSO2 = Series[5];
  TrendSeries*& SeriesH2S = Series[6];
  TrendSeries*& SeriesCO2 = Series[7];
  TrendSeries*& SeriesNOx = Series[8];
  TrendSeries*& SeriesQa = Series[9];
  TrendSeries*& SeriesAlf = Series[10];
  TrendSeries*& SeriesTa = Series[11];

  // Points: the Tg curve's count stands for all (every curve has as many).
  int PointCount() const;
  // The stored (unscaled) value of point `index` of a channel's curve.
  double StoredValue(int channel, int index) const;
  // Appends (count, y) to one curve. Does not redraw.
  void AppendValue(int channel, double y);
  // Appends one point to each curve and redraws.
  void AppendResult(const std::array<double, kChannelCount>& values);
  // Empties all curves (axes, follow and zoom state stay).
  void ClearSeries();

  // Curve settings.
  void SetShown(int channel, bool shown);
  bool Shown(int channel) const;
  void SetFactor(int channel, double factor);
  double Factor(int channel) const;
  void SetColor(int channel, const QColor& color);
  // Line width of every curve (2 pixels unless changed; the printout and the
  // benchmarks change it).
  void SetLineWidth(double width);

  // Panel settings.
  void Set3D(bool on);
  bool Is3D() const { return view3D_; }
  void SetLogScale(bool on);
  bool LogScale() const;
  // Vertical gradient of the panel: `bottom` at the bottom edge, `top` at the top.
  void SetGradient(const QColor& bottom, const QColor& top);
  QColor GradientBottom() const { return gradientBottom_; }
  QColor GradientTop() const { return gradientTop_; }
  // Depth of the 3-D look in pixels at the current size (0 when flat).
  int Depth() const { return depth_; }

  // Axis limits with the checks of the chart component: a minimum above the
  // current maximum (or a maximum below the minimum) is refused with false.
  // The automatic modes stay as they are.
  bool SetAxisMinimum(QCPAxis* axis, double value);
  bool SetAxisMaximum(QCPAxis* axis, double value);
  // Sets both (in either order), at least 1e-10 apart; the axis leaves all
  // its automatic modes.
  void SetAxisMinMax(QCPAxis* axis, double a, double b);
  // Automatic range: on or off for both ends.
  void SetAxisAutomatic(QCPAxis* axis, bool on);
  void SetAxisAutomaticMinimum(QCPAxis* axis, bool on);
  void SetAxisAutomaticMaximum(QCPAxis* axis, bool on);
  bool AxisAutomatic(QCPAxis* axis) const;
  bool AxisAutomaticMinimum(QCPAxis* axis) const;
  bool AxisAutomaticMaximum(QCPAxis* axis) const;

  // Follow window: the bottom axis shows the last 50 points, n being the
  // count. Sets the two ends in the order that keeps minimum <= maximum; true
  // when the axis took both.
  bool FollowLast = false;
  bool ApplyFollowWindow(int n);

  // Zoom by percent (above 100 narrows), saving the scales first on the first
  // zoom or mouse scroll since the last undo; undo restores them.
  void ZoomPercent(double percent);
  void UndoZoom();
  bool Zoomed() const { return zoomed_; }

  // Shift an axis by `percent` of its range; horizontal = top then bottom,
  // vertical = left then right.
  void ScrollAxis(QCPAxis* axis, double percent);
  void ScrollHorizontal(double percent);
  void ScrollVertical(double percent);

  // Applies the automatic ranges and queues a redraw (several in a row cost one).
  void Refresh();
  // Applies the automatic ranges and redraws at once.
  void RedrawNow();

 signals:
  void Chart1Zoom();
  void Chart1Scroll();
  void ChartDoubleClick();

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
  QCPAxis* Axes(int i) const;
  int AxisIndex(QCPAxis* axis) const;
  void SaveScalesOnce();
  void ApplyAutomaticRanges();
  void UpdateBackground();
  void UpdateLegend();
  void UpdateDrawingOrder();
  // The zoom's transition: the picture before the zoom shrinks or grows to
  // where its range lies now and fades out over the new picture.
  struct ZoomStart {
    QPixmap picture;
    QRect area;
    QCPRange x, y;
  };
  ZoomStart CaptureBeforeZoom();
  void AnimateZoom(const ZoomStart& start);

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
  QWidget* zoomOverlay_ = nullptr;
  QVariantAnimation* zoomAnimation_ = nullptr;

  // Scrolling with the right button: where it started and the axes' ranges then.
  bool scrolling_ = false;
  bool scrolled_ = false;
  QPoint scrollStart_;
  QCPRange scrollStartRanges_[4];
};
