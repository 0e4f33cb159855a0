#pragma once
// One curve of the trend chart: one channel of the results log, x being the
// result's index, drawn times the curve's display factor (so a new factor
// needs no pass over the data). It holds no values of its own. Drawing costs
// at most one segment per pixel column whatever the number of points: where
// points crowd, each column is drawn as the span of its values, joined to its
// neighbours, from a reduction of the points to columns that is kept from one
// redraw to the next and extended as points arrive. Segments go to the painter
// one by one (a wide antialiased polyline through thousands of points takes
// seconds to fill), and a dotted line is cut into its dots here for the same
// reason. In the 3-D look the curve becomes a ribbon at its own depth behind
// the plot's front plane.
//
// On screen the chart draws the curves into a picture of its own (see
// CurvePicture); drawn elsewhere (a printout, an export) a curve draws itself.

#include <QColor>
#include <QLineF>
#include <QVector>
#include <vector>

#include <qcustomplot.h>

#include "view/column_reduction.h"

class ResultsLog;

class TrendSeries : public QCPAbstractPlottable {
  Q_OBJECT
 public:
  // Where the points lie across: pixel x of point i = offset + scale * i.
  struct KeyMapping {
    double offset = 0, scale = 0;
  };
  // What drawing puts on screen, before the depth offset: segments cut to
  // where anything can show, in the order of the points.
  struct Shape {
    QVector<QLineF> segments;
    bool columns = false;  // crowded: one segment per pixel column
    QVector<int> runStarts;  // crowded: segments after a value that cannot be drawn
  };
  // Everything besides the shape that decides the curve's pixels.
  struct Look {
    QRgb color = 0;
    double width = 0;
    bool dotted = false, antialiased = true;
    int front = 0, thickness = 0, reach = 0;
    QRect clip;
    bool operator==(const Look& o) const {
      return color == o.color && width == o.width && dotted == o.dotted && antialiased == o.antialiased &&
             front == o.front && thickness == o.thickness && reach == o.reach && clip == o.clip;
    }
    bool operator!=(const Look& o) const { return !(*this == o); }
  };

  // What the chart the curve is drawn on tells it: where its points lie on
  // screen, and whether the screen's picture is being made (then the picture
  // holds the curve and drawing itself is left out).
  class Host {
   public:
    virtual KeyMapping drawingMapping() const = 0;
    virtual bool replotting() const = 0;

   protected:
    ~Host() = default;
  };

  TrendSeries(QCPAxis* keyAxis, QCPAxis* valueAxis, int channel);
  // The chart it is drawn on (not owned); without one it draws itself with
  // the axes as they are.
  void setHost(const Host* host) { host_ = host; }
  // The log the curve shows (not owned); the extremes are taken anew.
  void setLog(const ResultsLog* log);

  int pointCount() const;
  // The plotted value of point `index` before the factor (0 outside the curve).
  double value(int index) const;
  // Takes rows first..last of the log into the running extremes.
  void noteAppended(int first, int last);
  // Recomputes the extremes after the log was replaced.
  void noteReset();

  void setFactor(double factor);
  double factor() const { return factor_; }
  void setColor(const QColor& color);
  QColor color() const { return pen().color(); }
  void setLineWidth(double width);
  void setDotted(bool dotted);

  // Range of the drawn values (stored value x factor) over all points; only
  // finite values up to kLargestScaled in magnitude count, and for
  // `positiveOnly` only those from 1 / kLargestScaled up.
  bool drawnRange(bool positiveOnly, QCPRange* range) const;
  static constexpr double kLargestScaled = 1e100;

  // 3-D look: the ribbon starts `front` pixels behind the front plane and is
  // `thickness` pixels deep; both 0 draw a flat line. `reach` is the total
  // depth of the chart, which the drawing may take beyond the plot's edges.
  void setDepth(int front, int thickness, int reach);

  // QCPAbstractPlottable
  double selectTest(const QPointF& pos, bool onlySelectable, QVariant* details = nullptr) const override;
  QCPRange getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
  QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                         const QCPRange& inKeyRange = QCPRange()) const override;

  // The segments that drawing puts on screen with the current axes, before
  // the depth offset (for tests and the benchmarks).
  QVector<QLineF> screenSegments() const;

  // The shape with the points across at `key` and the value axis as it is,
  // from the kept reduction to pixel columns.
  Shape shape(const KeyMapping& key) const;
  Look look() const;
  // Draws what of `shape` reaches x >= fromX (everything for -infinity),
  // clipped to `clip`. With `image` (the painter's device, one device pixel
  // per pixel) the ribbons' spans are written into it directly.
  void paint(QCPPainter* painter, const Shape& shape, double fromX, const QRect& clip, QImage* image) const;

 protected:
  void draw(QCPPainter* painter) override;
  void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;
  QRect clipRect() const override;

 private:
  Shape shapeWith(const KeyMapping& key, ColumnReduction* reduction) const;
  void paintColumnRibbon(QCPPainter* painter, const QVector<QLineF>& segments, double fromX,
                         const QRect& clip, QImage* image) const;

  void take(double y);

  const ResultsLog* log_ = nullptr;
  const Host* host_ = nullptr;
  int channel_;
  double factor_ = 1;
  bool dotted_ = false;
  int depthFront_ = 0, depthThickness_ = 0, depthReach_ = 0;

  // Running extremes of the finite values, so that automatic scaling never
  // walks the points.
  bool hasFinite_ = false, hasPositive_ = false, hasNegative_ = false;
  double min_ = 0, max_ = 0;
  double minPositive_ = 0;  // smallest value above 0
  double maxNegative_ = 0;  // largest value below 0

  // The screen's reduction to pixel columns and the columns' pixels, kept
  // for the value axis they were mapped with.
  unsigned version_ = 0;  // counts replacements of the log's rows
  mutable ColumnReduction reduction_;
  struct Span {
    double top, bottom;
  };
  mutable std::vector<Span> columnPixels_;
  mutable int pixelsDone_ = 0;
  mutable std::vector<double> pixelsFor_;
};
