#pragma once
// Chart1: the trend chart. Twelve line curves, one per channel, whose x is the
// point's sequence number; each curve keeps the values as appended and draws
// them times its display factor. Axes scale automatically until the user
// zooms, scrolls or asks to follow the newest points; a zoom can be undone.

#include <QColor>
#include <array>
#include <vector>

#include <qcustomplot.h>

#include "storage/settings_records.h"

class TrendChart : public QCustomPlot {
  Q_OBJECT
 public:
  static constexpr int kFollowWindow = 50;

  explicit TrendChart(QWidget* parent = nullptr);
  ~TrendChart() override;

  // The curves, in channel order: Tg, O2, CO, NO, NO2, SO2, H2S, CO2, NOx, Qa, Alf, Ta.
  QCPGraph* Series[kChannelCount] = {};
  QCPGraph*& SeriesTg = Series[0];
  QCPGraph*& SeriesO2 = Series[1];
  QCPGraph*& SeriesCO = Series[2];
  QCPGraph*& SeriesNO = Series[3];
  QCPGraph*& SeriesNO2 = Series[4];
  QCPGraph*& SeriesSO2 = Series[5];
  QCPGraph*& SeriesH2S = Series[6];
  QCPGraph*& SeriesCO2 = Series[7];
  QCPGraph*& SeriesNOx = Series[8];
  QCPGraph*& SeriesQa = Series[9];
  QCPGraph*& SeriesAlf = Series[10];
  QCPGraph*& SeriesTa = Series[11];

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

  // Panel settings.
  void Set3D(bool on);
  bool Is3D() const { return view3D_; }
  void SetLogScale(bool on);
  void SetGradient(const QColor& bottom, const QColor& top);

  // Axis limits with the checks of the chart component: a minimum above the
  // current maximum (or a maximum below the minimum) is refused with false.
  bool SetAxisMinimum(QCPAxis* axis, double value);
  bool SetAxisMaximum(QCPAxis* axis, double value);
  // Sets both (in either order), at least 1e-10 apart; the axis leaves automatic mode.
  void SetAxisMinMax(QCPAxis* axis, double a, double b);
  void SetAxisAutomatic(QCPAxis* axis, bool on);
  bool AxisAutomatic(QCPAxis* axis) const;

  // Follow window: the bottom axis shows the last 50 points, n being the count.
  bool FollowLast = false;
  void ApplyFollowWindow(int n);

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

  // Applies the automatic ranges and redraws.
  void Refresh();

 signals:
  void Chart1Zoom();
  void Chart1Scroll();
  void ChartDoubleClick();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  struct AxisScale {
    QCPRange range;
    bool automatic;
  };
  struct Curve {
    std::vector<double> values;  // as appended, before the factor
    double factor = 1;
    bool shown = true;
  };
  QCPAxis* Axes(int i) const;
  int AxisIndex(QCPAxis* axis) const;
  void SaveScalesOnce();
  void RebuildCurve(int channel);
  void ApplyAutomaticRanges();
  void UpdateBackground();

  Curve curves_[kChannelCount];
  bool automatic_[4] = {true, true, true, true};
  bool saved_ = false;
  bool zoomed_ = false;
  AxisScale savedScales_[4];
  bool view3D_ = false;
  QColor gradientBottom_ = Qt::white;
  QColor gradientTop_ = QColor(0xA6, 0xCA, 0xF0);

  // Mouse gestures: left drag = zoom rectangle, right drag = scroll.
  enum class Drag { None, Zoom, Scroll } drag_ = Drag::None;
  QPoint dragStart_;
  QCPItemRect* zoomRect_ = nullptr;
  QCPRange dragStartX_, dragStartY_;
};
