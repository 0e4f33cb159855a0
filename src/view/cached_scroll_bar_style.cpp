#include "view/cached_scroll_bar_style.h"

#include <QPainter>
#include <QPaintDevice>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyleOptionSlider>

CachedScrollBarStyle::CachedScrollBarStyle(const QString& baseStyleName) : QProxyStyle(baseStyleName) {}

void CachedScrollBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                              QPainter* painter, const QWidget* widget) const {
  const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
  // Only a plain copy is cheaper than painting: a scaled or rotated painter
  // paints as the style does.
  if (control != CC_ScrollBar || !bar || bar->rect.isEmpty() || !painter->device() ||
      painter->transform().type() > QTransform::TxTranslate) {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    return;
  }
  const qreal ratio = painter->device()->devicePixelRatio();
  const QRect slider = subControlRect(CC_ScrollBar, bar, SC_ScrollBarSlider, widget);
  // Everything the picture depends on: the value counts only through the
  // handle's pixels and whether an end is reached (the arrows grey out).
  const QString key =
      QStringLiteral("korvex-scrollbar:%1x%2:%3,%4,%5x%6:%7:%8:%9:%10:%11%12%13%14:%15:%16")
          .arg(bar->rect.width())
          .arg(bar->rect.height())
          .arg(slider.x() - bar->rect.x())
          .arg(slider.y() - bar->rect.y())
          .arg(slider.width())
          .arg(slider.height())
          .arg(int(bar->state))
          .arg(int(bar->subControls))
          .arg(int(bar->activeSubControls))
          .arg(int(bar->orientation))
          .arg(int(bar->sliderValue <= bar->minimum))
          .arg(int(bar->sliderValue >= bar->maximum))
          .arg(int(bar->upsideDown))
          .arg(int(bar->direction))
          .arg(bar->palette.cacheKey())
          .arg(ratio);
  QPixmap picture;
  if (!QPixmapCache::find(key, &picture)) {
    picture = QPixmap(bar->rect.size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QStyleOptionSlider atOrigin(*bar);
    atOrigin.rect.moveTo(0, 0);
    QPainter p(&picture);
    QProxyStyle::drawComplexControl(control, &atOrigin, &p, widget);
    p.end();
    QPixmapCache::insert(key, picture);
    ++paintedLooks_;
  }
  painter->drawPixmap(bar->rect.topLeft(), picture);
}
