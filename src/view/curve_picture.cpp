#include "view/curve_picture.h"

#include <algorithm>
#include <cmath>

namespace {

bool same(const QLineF& a, const QLineF& b) {
  // Exactly: a fuzzy match would keep a line that moved by a hair.
  return a.x1() == b.x1() && a.y1() == b.y1() && a.x2() == b.x2() && a.y2() == b.y2();
}

// The leftmost x where `now` draws other than `before`, both being one
// curve's shapes whose segments go rightwards; +infinity when they match.
double firstChange(const TrendSeries::Shape& before, const TrendSeries::Shape& now, double width) {
  if (before.columns != now.columns) return -HUGE_VAL;
  const int common = int(std::min(before.segments.size(), now.segments.size()));
  int k = 0;
  while (k < common && same(before.segments[k], now.segments[k])) ++k;
  double x = HUGE_VAL;
  for (const TrendSeries::Shape* s : {&before, &now})
    if (k < s->segments.size()) x = std::min({x, s->segments[k].x1(), s->segments[k].x2()});
  // A line's caps and antialiasing reach about its width further left.
  return x - width - 2;
}

}  // namespace

void CurvePicture::update(std::vector<Curve> curves, const QSize& size, qreal ratio) {
  const QSize pixels = size * ratio;
  bool everything = drawn_.size() != curves.size() || image_.size() != pixels ||
                    image_.devicePixelRatio() != ratio;
  for (size_t i = 0; !everything && i < curves.size(); ++i)
    everything = curves[i].series != drawn_[i].series || curves[i].look != drawn_[i].look;
  double from = -HUGE_VAL;
  if (!everything) {
    from = HUGE_VAL;
    for (size_t i = 0; i < curves.size(); ++i)
      from = std::min(from, firstChange(drawn_[i].shape, curves[i].shape, curves[i].look.width));
  }
  if (image_.size() != pixels) image_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  image_.setDevicePixelRatio(ratio);
  redrawnFrom_ = from;
  drawn_ = std::move(curves);
  if (from == HUGE_VAL) return;

  // Whole pixels, so the strip's edge and the ribbons' columns agree.
  const int left = std::isfinite(from) ? int(std::floor(std::max(from, -1e6))) : -1;
  const QRect strip(left, 0, std::max(0, size.width() - left), size.height());
  if (left <= 0) {
    image_.fill(Qt::transparent);
  } else {
    QPainter clear(&image_);
    clear.setCompositionMode(QPainter::CompositionMode_Source);
    clear.fillRect(strip, Qt::transparent);
    clear.end();
  }
  QCPPainter painter(&image_);
  QImage* direct = ratio == 1 ? &image_ : nullptr;
  for (const Curve& c : drawn_) {
    const QRect clip = c.look.clip & strip;
    if (clip.isEmpty()) continue;
    painter.save();
    painter.setClipRect(clip);
    c.series->paint(&painter, c.shape, left <= 0 ? -HUGE_VAL : double(left), clip, direct);
    painter.restore();
  }
}
