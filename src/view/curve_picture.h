#pragma once
// The curves as the screen shows them, kept as an image from one redraw to
// the next. Where no curve changed, the image is shown as it is; where some
// did (as a rule only the growing end), the strip from the leftmost change
// to the right edge is cleared and every curve drawn into it anew in its
// order, so the image stays what drawing everything would give.

#include <QImage>
#include <vector>

#include "view/trend_series.h"

class CurvePicture {
 public:
  struct Curve {
    const TrendSeries* series = nullptr;
    TrendSeries::Shape shape;
    TrendSeries::Look look;
  };

  // Brings the image to `curves`, given in drawing order, on a viewport of
  // `size` at `ratio` device pixels per pixel.
  void update(std::vector<Curve> curves, const QSize& size, qreal ratio);
  const QImage& image() const { return image_; }
  // The next update draws everything.
  void invalidate() { drawn_.clear(); }
  // Where the last update drew anew: from this x (pixels) rightwards;
  // -infinity for everything, +infinity for nothing.
  double redrawnFrom() const { return redrawnFrom_; }

 private:
  QImage image_;
  std::vector<Curve> drawn_;
  double redrawnFrom_ = -HUGE_VAL;
};
